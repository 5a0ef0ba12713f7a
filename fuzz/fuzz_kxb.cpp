// Blob files (.kxb) as a damaged disk may hold them: opened for reading with every blob read and
// the map listed; then opened for writing, a blob added and referred to, one reference taken
// away, the abandoned blobs freed and the file closed. What that wrote must open again and give
// the added blob back.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "fuzz_support.h"
#include "kxblob.h"
#include "kxengine.h"

namespace {

void ReadEveryBlob(KxBlobFile& blobs) {
    const int32_t count = blobs.GetNumberOfDescriptors();
    KxBlob blob;
    for (int32_t n = -1; n <= count + 1; ++n) {
        try {
            blobs.GetBlob(n, blob);
            blob.GetText();
        } catch (KxException&) {
            if (blob.GetSize() != 0) tvfuzz::Fail("a blob that could not be read was left filled");
        }
    }
    KxString listing;
    blobs.ListBlobMap(listing);
}

constexpr char kAdded[] = "a blob added by the fuzz target";

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    KxEngineStartup();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    tvfuzz::ClearDir();
    tvfuzz::WriteFile("fuzz.kxb", std::string_view(reinterpret_cast<const char*>(data), size));
    const std::string dataFile = tvfuzz::ProcessDir::Get() / "fuzz.txd";
    try {
        KxBlobFile blobs(dataFile.c_str(), kxIORead);
        ReadEveryBlob(blobs);
        blobs.Close();
    } catch (KxException& e) {
        tvfuzz::Refused(e);
        return 0;
    }

    int32_t added = 0;
    try {
        KxBlobFile blobs(dataFile.c_str(), kxIORead | kxIOWrite);
        added = blobs.AddBlob(new KxBlob(kAdded, sizeof kAdded));
        blobs.IncrementReferenceCount(added);
        try {
            if (blobs.GetNumberOfDescriptors() >= 1 && blobs.GetDescriptor(1).IsAllocated() && added != 1)
                blobs.DecrementReferenceCount(1);
            blobs.FreeAbandonedBlobs();
        } catch (KxException& e) {
            tvfuzz::Refused(e);
        }
        blobs.Close();
    } catch (KxException& e) {
        // A damage that reading did not meet may show once the file is changed.
        tvfuzz::Refused(e);
        return 0;
    }

    try {
        KxBlobFile blobs(dataFile.c_str(), kxIORead);
        KxBlob blob;
        blobs.GetBlob(added, blob);
        if (blob.GetSize() != sizeof kAdded || std::memcmp(blob.GetData(), kAdded, sizeof kAdded) != 0)
            tvfuzz::Fail("the blob added to a blob file reads back otherwise");
        ReadEveryBlob(blobs);
    } catch (KxException& e) {
        std::fprintf(stderr, "%s\n%s\n", e.GetErrorMessage(), e.GetCallpath());
        tvfuzz::Fail("a blob file that was written cannot be read back");
    }
    return 0;
}
