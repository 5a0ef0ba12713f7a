// Index files as a damaged disk may hold them. The index takes the type letter and field length
// the file's header names, and any record count; it is read from memory and from a file (which
// must agree), searched for every key, changed record by record, and written and read back,
// which must give the same bytes.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include "fuzz_support.h"
#include "kxengine.h"
#include "kxindex.h"
#include "kxio.h"
#include "kxmemstream.h"
#include "kxrecordkey.h"
#include "kxset.h"

namespace {

std::string Written(const KxIndex& index) {
    KxMemoryStream out;
    index.Write(out, index.HasAlternateOrder() ? KxIndex::kxVersion510 : KxIndex::kxVersion420);
    return std::string(reinterpret_cast<const char*>(out.GetData()), out.GetSize());
}

std::unique_ptr<KxIndex> ReadBack(const KxIndex& like, const std::string& bytes) {
    auto index = std::make_unique<KxIndex>(like.GetType(), like.GetLength(), like.GetRecordCount());
    KxMemoryStream in(bytes.data(), static_cast<uint32_t>(bytes.size()));
    index->Read(in, false);
    return index;
}

void SearchEveryKey(const KxIndex& index) {
    const int32_t keys = index.GetKeyCount();
    for (int32_t k = 0; k < keys; ++k) {
        KxSet result(index.GetRecordCount());
        index.SearchExact(index.GetKey(k).GetValue(), result);
        if (result.GetCount() != index.GetKey(k).GetCount())
            tvfuzz::Fail("an exact search finds another number of records than its key holds");
        if (index.HasAlternateOrder()) index.SearchExact(index.GetKey(k).GetValue(), result, true);
    }
    if (keys > 0) {
        KxSet result(index.GetRecordCount());
        index.SearchRange(index.GetKey(0).GetValue(), index.GetKey(keys - 1).GetValue(), result);
    }
    for (int32_t r = 1; r <= index.GetRecordCount() && r <= 4096; ++r) index.GetKeyNumber(r);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    KxEngineStartup();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // Header (4 + 2 bytes), then the type letter and the 16-bit field length.
    if (size < 9) return 0;
    const char type = static_cast<char>(data[6]);
    int16_t length;
    std::memcpy(&length, data + 7, sizeof length);
    std::unique_ptr<KxIndex> index;
    try {
        index = std::make_unique<KxIndex>(type, length, 0);
    } catch (KxException&) {
        return 0;
    }

    std::string fromMemory;
    try {
        KxMemoryStream in(data, static_cast<uint32_t>(size));
        index->Read(in, true);
        fromMemory = Written(*index);
    } catch (KxException& e) {
        tvfuzz::Refused(e);
    }
    // The same file through the buffered file class, as ReadFile reads it.
    const std::string path = tvfuzz::WriteFile(
        "fuzz.001", std::string_view(reinterpret_cast<const char*>(data), size));
    try {
        KxIndex fromFile(type, length, 0);
        KxIO in(path.c_str(), kxIORead);
        fromFile.Read(in, true);
        if (Written(fromFile) != fromMemory) tvfuzz::Fail("an index file reads otherwise from a file than from memory");
    } catch (KxException&) {
        if (!fromMemory.empty()) tvfuzz::Fail("an index read from memory cannot be read from a file");
    }
    if (fromMemory.empty()) return 0;

    try {
        SearchEveryKey(*index);
        std::unique_ptr<KxIndex> again = ReadBack(*index, fromMemory);
        if (Written(*again) != fromMemory) tvfuzz::Fail("an index written and read back writes otherwise");

        // Changes keep the index whole: what they leave writes and reads back the same.
        if (index->GetRecordCount() > 0) {
            std::unique_ptr<KxRecordKey> first(index->GetKey(0).GetValue().Clone());
            index->ModifyRecord(1, *first);
            index->InsertRecord(1, *first);
            index->DeleteRecord(index->GetRecordCount());
            if (!index->HasInverseIndex()) index->BuildInverseIndex();
            index->BuildAlternateOrderArray();
            SearchEveryKey(*index);
            const std::string changed = Written(*index);
            if (Written(*ReadBack(*index, changed)) != changed)
                tvfuzz::Fail("a changed index written and read back writes otherwise");
        }
    } catch (KxException& e) {
        std::fprintf(stderr, "%s\n%s\n", e.GetErrorMessage(), e.GetCallpath());
        tvfuzz::Fail("an index that was read refused a search, a change or its own file");
    }
    return 0;
}
