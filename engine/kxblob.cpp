#include "kxblob.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <optional>
#include <utility>

#include "kxfield.h"
#include "kxfilename.h"

namespace {

constexpr const char* kBlob = "KxBlob";
constexpr const char* kBlobFile = "KxBlobFile";
constexpr const char* kDescriptor = "KxBlobDescriptor";

constexpr const char* kMessageLinkAllocated =
    "Attempt to link allocated KxBlobDescriptor into KxBlobFile free/unused list.";
constexpr const char* kMessageMemoryBlob = "Cannot find offset following memory blob.";

// Streams of unknown length are read in pieces, so a corrupt length cannot allocate at once.
constexpr uint32_t kReadPiece = 1u << 20;

int32_t GetLE32(const unsigned char* p) {
    return static_cast<int32_t>(static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
                                static_cast<uint32_t>(p[2]) << 16 |
                                static_cast<uint32_t>(p[3]) << 24);
}

void PutLE32(unsigned char* p, int32_t value) {
    uint32_t v = static_cast<uint32_t>(value);
    p[0] = static_cast<unsigned char>(v);
    p[1] = static_cast<unsigned char>(v >> 8);
    p[2] = static_cast<unsigned char>(v >> 16);
    p[3] = static_cast<unsigned char>(v >> 24);
}

// Holds a file locking operation's lock type and region and does nothing: a blob has no file.
class KxBlobLock final : public KxIOLock {
public:
    using KxIOLock::KxIOLock;
    void TrueLock() override {}
    bool TrueTryLock() override { return true; }
    void TrueUnlock() override {}
    KxBlobLock* Clone() const override {
        return new KxBlobLock(GetType(), GetOffset(), GetLength());
    }
};

long long AsLL(int64_t v) { return static_cast<long long>(v); }

} // namespace

// ---------------------------------------------------------------------------------------------
// KxBlob

KxBlob::KxBlob(const void* pData, uint32_t ulLength) : m_name("BLOB()") {
    KX_TRY
        Reserve(ulLength);
        if (ulLength != 0) {
            if (pData != nullptr)
                memcpy(Bytes(), pData, ulLength);
            else
                memset(Bytes(), 0, ulLength);
        }
        m_size = ulLength;
        Bytes()[m_size] = 0;
    KX_CATCH("Constructor", kBlob)
}

KxBlob::KxBlob(const KxBlob& other)
    : KxInputStreamInterface(other), KxOutputStreamInterface(other), KxIOInterface(other) {
    KX_TRY
        SetBlob(other.GetData(), other.m_size);
        m_position = other.m_position;
        m_name = other.m_name;
    KX_CATCH("Copy Constructor", kBlob)
}

KxBlob& KxBlob::operator=(const KxBlob& other) {
    KX_TRY
        if (this != &other) {
            KxBlob copy(other);
            m_data.Swap(copy.m_data);
            std::swap(m_size, copy.m_size);
            m_position = copy.m_position;
            m_name = copy.m_name;
        }
        return *this;
    KX_CATCH("Assignment operator", kBlob)
}

KxBlob::~KxBlob() = default;

unsigned char* KxBlob::Bytes() { return static_cast<unsigned char*>(m_data.GetData()); }
const unsigned char* KxBlob::Bytes() const {
    return static_cast<const unsigned char*>(m_data.GetData());
}

const void* KxBlob::GetData() const { return Bytes(); }
const char* KxBlob::GetText() const { return reinterpret_cast<const char*>(Bytes()); }

void KxBlob::Reserve(uint32_t ulSize) {
    if (ulSize > static_cast<uint32_t>(kxMaxBlobSize))
        KxGenerateException("Blob cannot be more than %ld bytes", kBlob,
                            static_cast<long>(kxMaxBlobSize));
    int32_t needed = static_cast<int32_t>(ulSize) + 1;
    int32_t capacity = m_data.GetSize();
    if (capacity >= needed) return;
    // Doubling keeps a blob written in small pieces from copying itself on every piece.
    int32_t grown = capacity > INT32_MAX / 2 ? INT32_MAX : capacity * 2;
    m_data.ResizeChunk(std::max(needed, grown), false, 0);
}

void KxBlob::SetSize(uint32_t ulSize) {
    Reserve(ulSize);
    // Bytes beyond the size may hold what a truncation left; a grown blob reads zeros there.
    if (ulSize > m_size) memset(Bytes() + m_size, 0, ulSize - m_size);
    m_size = ulSize;
    Bytes()[m_size] = 0;
}

void KxBlob::GetStreamName(KxString& sName) const { sName = m_name; }

const char* KxBlob::GetFileName() const { return m_name.GetCString(); }

uint64_t KxBlob::GetBytesAvailable() { return m_position < m_size ? m_size - m_position : 0; }

uint32_t KxBlob::Read(void* pBuffer, uint32_t ulCount, bool mustReadAll) {
    KX_TRY
        uint32_t available = m_position < m_size ? m_size - m_position : 0;
        if (mustReadAll && available < ulCount)
            KxGenerateException(
                "Could not read %u bytes at position %u; only %u bytes in the buffer at that point",
                kBlob, ulCount, m_position, available);
        uint32_t count = std::min(ulCount, available);
        if (count != 0) memcpy(pBuffer, Bytes() + m_position, count);
        m_position += count;
        return count;
    KX_CATCH("Read()", kBlob)
}

void KxBlob::Write(const void* pBuffer, uint32_t ulCount) {
    KX_TRY
        if (ulCount == 0) return;
        uint64_t end = static_cast<uint64_t>(m_position) + ulCount;
        if (end > static_cast<uint64_t>(kxMaxBlobSize))
            KxGenerateException("KxResizableChunk only supports 32-bit offsets", kBlob);
        if (end > m_size) SetSize(static_cast<uint32_t>(end));
        memcpy(Bytes() + m_position, pBuffer, ulCount);
        m_position = static_cast<uint32_t>(end);
    KX_CATCH("Write()", kBlob)
}

KxBlob* KxBlob::Clone() const {
    KX_TRY
        return new KxBlob(*this);
    KX_CATCH_STD("Clone()", kBlob)
}

KxBlob* KxBlob::NewInstance(const char*, uint32_t) const {
    KX_TRY
        return new KxBlob();
    KX_CATCH_STD("NewInstance()", kBlob)
}

void KxBlob::Open(const char* sFileName, uint32_t) {
    KX_TRY
        if (sFileName == nullptr) KxGenerateException("Null pointer to filename", kBlob);
        KxIO file(sFileName, kxIOOpenReadShared);
        file.Lock(READ, 0, 0);
        int64_t size = file.GetFileSize64();
        if (size > kxMaxBlobSize)
            KxGenerateException("Blob cannot be more than %ld bytes", kBlob,
                                static_cast<long>(kxMaxBlobSize));
        KxBlob content;
        content.SetSize(static_cast<uint32_t>(size));
        if (size != 0) file.Read(content.Bytes(), static_cast<uint32_t>(size), true);
        file.UnLock(READ, 0, 0);
        file.Close();
        KxString name("BLOB(");
        name << sFileName << ")";
        m_data.Swap(content.m_data);
        m_size = content.m_size;
        m_position = 0;
        m_name = name;
    KX_CATCH("Open()", kBlob)
}

uint32_t KxBlob::ReadFrom(int64_t offset, void* pBuffer, uint32_t ulCount, bool mustReadAll) {
    KX_TRY
        if (offset < 0) KxGenerateException("invalid position: %lld", kBlob, AsLL(offset));
        if (offset > m_size)
            KxGenerateException("Offset is past the end of allocated memory", kBlob);
        uint32_t start = static_cast<uint32_t>(offset);
        uint32_t available = m_size - start;
        if (mustReadAll && available < ulCount)
            KxGenerateException(
                "Could not read %u bytes at position %u; only %u bytes in the buffer at that point",
                kBlob, ulCount, start, available);
        uint32_t count = std::min(ulCount, available);
        if (count != 0) memcpy(pBuffer, Bytes() + start, count);
        return count;
    KX_CATCH("ReadFrom()", kBlob)
}

void KxBlob::WriteTo(int64_t offset, const void* pBuffer, uint32_t ulCount) {
    KX_TRY
        if (offset < 0) KxGenerateException("invalid position: %lld", kBlob, AsLL(offset));
        if (offset + static_cast<int64_t>(ulCount) > kxMaxBlobSize)
            KxGenerateException("KxResizableChunk only supports 32-bit offsets", kBlob);
        if (ulCount == 0) return;
        uint32_t end = static_cast<uint32_t>(offset) + ulCount;
        if (end > m_size) SetSize(end);
        memcpy(Bytes() + offset, pBuffer, ulCount);
    KX_CATCH("WriteTo()", kBlob)
}

int64_t KxBlob::Seek64Absolute(int64_t offset) {
    KX_TRY
        if (offset < 0)
            KxGenerateException("Cannot seek to %lld from the beginning of the chunk", kBlob,
                                AsLL(offset));
        m_position = static_cast<uint32_t>(GetLongRepresentationOfNativeint(offset));
        return m_position;
    KX_CATCH("Seek64Absolute(nativeint)", kBlob)
}

int64_t KxBlob::Seek64FromCurrent(int64_t distance) {
    KX_TRY
        int64_t target = static_cast<int64_t>(m_position) + distance;
        if (target < 0)
            KxGenerateException("Cannot seek to %lld from offset %u, before beginning of the chunk",
                                kBlob, AsLL(distance), m_position);
        m_position = static_cast<uint32_t>(GetLongRepresentationOfNativeint(target));
        return m_position;
    KX_CATCH("Seek64FromCurrent(nativeint)", kBlob)
}

int64_t KxBlob::Seek64FromEnd(int64_t distance) {
    KX_TRY
        int64_t target = static_cast<int64_t>(m_size) + distance;
        if (target < 0)
            KxGenerateException(
                "Cannot seek to %lld from end of the chunk, only %u bytes available", kBlob,
                AsLL(distance), m_size);
        m_position = static_cast<uint32_t>(GetLongRepresentationOfNativeint(target));
        return m_position;
    KX_CATCH("Seek64FromEnd(nativeint)", kBlob)
}

void KxBlob::Truncate64(int64_t count) {
    KX_TRY
        if (count > kxMaxBlobSize)
            KxGenerateException("Blob cannot be more than %ld bytes", kBlob,
                                static_cast<long>(kxMaxBlobSize));
        // Removing more than the blob holds would leave a size that wrapped around.
        if (count < 0 || count > m_size)
            KxGenerateException("Cannot truncate %lld bytes from a blob of %u bytes", kBlob,
                                AsLL(count), m_size);
        m_size = count == 0 ? 0 : m_size - static_cast<uint32_t>(count);
        Bytes()[m_size] = 0;
        m_position = 0;
    KX_CATCH("Truncate64(nativeint)", kBlob)
}

KxIOLock* KxBlob::NewLock(KxLockType type, int64_t offset, int64_t length) {
    KX_TRY
        return new KxBlobLock(type, offset, length);
    KX_CATCH_STD("NewLock()", kBlob)
}

bool KxBlob::Holds(const void* p) const {
    const auto* byte = static_cast<const unsigned char*>(p);
    const unsigned char* start = Bytes();
    return start != nullptr && byte >= start && byte < start + m_data.GetSize();
}

unsigned char* KxBlob::SizeForOverwrite(uint32_t ulSize) {
    Reserve(ulSize);
    m_size = ulSize;
    m_position = 0;
    Bytes()[m_size] = 0;
    return Bytes();
}

void KxBlob::SetBlob(const void* pData, uint32_t ulLength) {
    KX_TRY
        if (pData != nullptr && Holds(pData)) {
            // Built aside, since growing the storage would move the bytes being copied.
            KxBlob content(pData, ulLength);
            m_data.Swap(content.m_data);
            m_size = ulLength;
            m_position = 0;
            return;
        }
        unsigned char* bytes = SizeForOverwrite(ulLength);
        if (ulLength == 0) return;
        if (pData != nullptr)
            memcpy(bytes, pData, ulLength);
        else
            memset(bytes, 0, ulLength);
    KX_CATCH("SetBlob()", kBlob)
}

void KxBlob::SetText(const char* pText, uint32_t ulLength) {
    KX_TRY
        if (ulLength >= static_cast<uint32_t>(kxMaxBlobSize))
            KxGenerateException("Blob cannot be more than %ld bytes", kBlob,
                                static_cast<long>(kxMaxBlobSize));
        if (Holds(pText)) {
            KxBlob content;
            content.SetText(pText, ulLength);
            m_data.Swap(content.m_data);
            m_size = content.m_size;
            m_position = 0;
            return;
        }
        unsigned char* bytes = SizeForOverwrite(ulLength + 1);
        if (ulLength != 0) memcpy(bytes, pText, ulLength);
        bytes[ulLength] = 0;
    KX_CATCH("SetText()", kBlob)
}

void KxBlob::Write(KxOutputStreamInterface& stream) const {
    KX_TRY
        if (m_size != 0) stream.Write(Bytes(), m_size);
    KX_CATCH("Write()", kBlob)
}

void KxBlob::Read(KxInputStreamInterface& stream, uint32_t ulLength) {
    KX_TRY
        uint64_t available = stream.GetBytesAvailable();
        if (available != kxUnknownStreamLength && ulLength > available) {
            KxString name;
            stream.GetStreamName(name);
            KxGenerateException("Blob length (value=%u) in stream \"%s\" is more than the %llu "
                                "bytes left",
                                kBlob, ulLength, name.GetCString(),
                                static_cast<unsigned long long>(available));
        }
        if (ulLength > static_cast<uint32_t>(kxMaxBlobSize))
            KxGenerateException("Blob cannot be more than %ld bytes", kBlob,
                                static_cast<long>(kxMaxBlobSize));
        KxBlob content;
        while (content.m_size < ulLength) {
            uint32_t piece = std::min(kReadPiece, ulLength - content.m_size);
            uint32_t at = content.m_size;
            content.SetSize(at + piece);
            stream.Read(content.Bytes() + at, piece, true);
        }
        m_data.Swap(content.m_data);
        m_size = content.m_size;
        m_position = 0;
    KX_CATCH("Read()", kBlob)
}

// ---------------------------------------------------------------------------------------------
// KxBlobDescriptor

void KxBlobDescriptor::Encode(unsigned char* pDest) const {
    KX_TRY
        if (IsMemoryBlob())
            KxGenerateException(
                "Memory blobs must be allocated disk space before they can be saved", kDescriptor);
        PutLE32(pDest, m_link);
        PutLE32(pDest + 4, m_offset);
        PutLE32(pDest + 8, m_length);
        PutLE32(pDest + 12, m_diskSize);
    KX_CATCH("Encode()", kDescriptor)
}

void KxBlobDescriptor::Decode(const unsigned char* pSource) {
    m_link = GetLE32(pSource);
    m_offset = GetLE32(pSource + 4);
    m_length = GetLE32(pSource + 8);
    m_diskSize = GetLE32(pSource + 12);
}

// ---------------------------------------------------------------------------------------------
// KxBlobFile: opening and checking

KxBlobFile::KxBlobFile(const char* sDataFileName, uint32_t ulMode) {
    KX_TRY
        OpenFile(sDataFileName, ulMode);
    KX_CATCH_STD("Constructor", kBlobFile)
}

KxBlobFile::~KxBlobFile() {
    try {
        Close();
    } catch (...) {
    }
}

void KxBlobFile::OpenFile(const char* sDataFileName, uint32_t ulMode) {
    KX_TRY
        if (sDataFileName == nullptr) KxGenerateException("Null pointer to filename", kBlobFile);
        KxFileName name(sDataFileName);
        name.SetExtension(".kxb");
        m_fileName = name.GetFullPath();
        m_file.SetBufferSize(kxReadBufferSize);
        if (KxIOInterface::Exists(m_fileName)) {
            m_file.Open(m_fileName, ulMode);
            int64_t size = m_file.GetFileSize64();
            if (size != 0) ReadDescriptors();
        } else {
            // Also for a data set opened only for reading: an empty file is a blob file without
            // blobs, and nothing is written to it unless a blob is added.
            m_file.Open(m_fileName, kxIOOpenTemporary);
        }
    KX_CATCH("OpenFile()", kBlobFile)
}

// Every number is checked against the file size before it sizes an allocation or a read, so a
// damaged file fails here rather than later.
void KxBlobFile::ReadDescriptors() {
    KX_TRY
        const char* file = m_fileName.GetCString();
        int64_t size = m_file.GetFileSize64();
        if (size < kxHeaderSize + kxTableHeaderSize)
            KxGenerateException("The BLOB file \"%s\" is damaged: it is %lld bytes long, too short "
                                "for a descriptor table.",
                                kBlobFile, file, AsLL(size));
        unsigned char header[kxTableHeaderSize];
        m_file.ReadFrom(0, header, kxHeaderSize, true);
        int32_t table = GetLE32(header);
        if (table < kxHeaderSize || table + static_cast<int64_t>(kxTableHeaderSize) > size)
            KxGenerateException("The BLOB file \"%s\" is damaged: its descriptor table offset %ld "
                                "lies outside the file of %lld bytes.",
                                kBlobFile, file, static_cast<long>(table), AsLL(size));
        m_file.ReadFrom(table, header, kxTableHeaderSize, true);
        int32_t firstFree = GetLE32(header);
        int32_t firstUnused = GetLE32(header + 4);
        int32_t count = GetLE32(header + 8);
        int64_t tableBytes = static_cast<int64_t>(count) * KxBlobDescriptor::kxStoredSize;
        if (count < 0 || table + kxTableHeaderSize + tableBytes > size || tableBytes > INT32_MAX)
            KxGenerateException("The BLOB file \"%s\" is damaged: it cannot hold the %ld "
                                "descriptors it claims at offset %ld; the file is %lld bytes long.",
                                kBlobFile, file, static_cast<long>(count),
                                static_cast<long>(table), AsLL(size));

        // Decoded piece by piece into one array of descriptors.
        KxVector<KxBlobDescriptor> descriptors;
        descriptors.resize(static_cast<std::size_t>(count));
        constexpr int32_t kPiece = 4096;
        unsigned char piece[kPiece * KxBlobDescriptor::kxStoredSize];
        int64_t at = table + kxTableHeaderSize;
        for (int32_t first = 0; first < count; first += kPiece) {
            int32_t n = std::min(kPiece, count - first);
            uint32_t bytes = static_cast<uint32_t>(n) * KxBlobDescriptor::kxStoredSize;
            m_file.ReadFrom(at, piece, bytes, true);
            at += bytes;
            for (int32_t i = 0; i < n; ++i)
                descriptors[static_cast<std::size_t>(first + i)].Decode(
                    piece + static_cast<std::size_t>(i) * KxBlobDescriptor::kxStoredSize);
        }
        m_memoryBlobs.clear();
        m_descriptors.swap(descriptors);
        m_tableOffset = table;
        m_firstFree = firstFree;
        m_firstUnused = firstUnused;
        CheckDescriptors();
    KX_CATCH_STD("ReadDescriptors()", kBlobFile)
}

void KxBlobFile::CheckDescriptors() const {
    KX_TRY
        const char* file = m_fileName.GetCString();
        int32_t count = GetNumberOfDescriptors();
        struct Block {
            int64_t offset, end;
            int32_t number;
        };
        auto overlap = [&](const Block& a, const Block& b) {
            KxGenerateException("The BLOB file \"%s\" is damaged: the blocks of descriptors "
                                "%ld and %ld overlap.",
                                kBlobFile, file, static_cast<long>(a.number),
                                static_cast<long>(b.number));
        };
        // The blocks of a file written by this library lie in the order of their numbers, so
        // one pass over the table finds overlaps; only a table out of that order is sorted.
        Block last{-1, -1, 0};
        bool ordered = true;
        // The first overlap is told only after every descriptor's place has been checked.
        std::optional<std::pair<Block, Block>> overlapping;
        for (int32_t n = 1; n <= count; ++n) {
            const KxBlobDescriptor& d = m_descriptors[static_cast<std::size_t>(n - 1)];
            bool unused = d.m_offset == -1 && d.m_length == -1;
            if (unused) continue;
            bool placed = d.m_length >= -1 && d.m_offset >= kxHeaderSize &&
                          d.m_diskSize >= std::max(d.m_length, 0) &&
                          static_cast<int64_t>(d.m_offset) + d.m_diskSize <= m_tableOffset;
            if (!placed)
                KxGenerateException("The BLOB file \"%s\" is damaged: descriptor %ld (offset %ld, "
                                    "length %ld, disk size %ld) does not lie in the data area "
                                    "from %ld to %ld.",
                                    kBlobFile, file, static_cast<long>(n),
                                    static_cast<long>(d.m_offset), static_cast<long>(d.m_length),
                                    static_cast<long>(d.m_diskSize),
                                    static_cast<long>(kxHeaderSize),
                                    static_cast<long>(m_tableOffset));
            Block block{d.m_offset, static_cast<int64_t>(d.m_offset) + d.m_diskSize, n};
            if (block.offset < last.offset) ordered = false;
            if (ordered && !overlapping && block.offset < last.end)
                overlapping = std::make_pair(last, block);
            if (ordered) last = block;
        }
        if (ordered && overlapping) overlap(overlapping->first, overlapping->second);
        if (!ordered) {
            KxVector<Block> blocks;
            for (int32_t n = 1; n <= count; ++n) {
                const KxBlobDescriptor& d = m_descriptors[static_cast<std::size_t>(n - 1)];
                if (d.m_offset == -1 && d.m_length == -1) continue;
                blocks.push_back({d.m_offset, static_cast<int64_t>(d.m_offset) + d.m_diskSize, n});
            }
            // Blocks at one offset stay in the order of their numbers.
            std::stable_sort(blocks.begin(), blocks.end(),
                             [](const Block& a, const Block& b) { return a.offset < b.offset; });
            for (std::size_t i = 1; i < blocks.size(); ++i)
                if (blocks[i].offset < blocks[i - 1].end) overlap(blocks[i - 1], blocks[i]);
        }

        // The lists: every entry of the right kind, free blocks in increasing order of offset,
        // unused descriptors in increasing order of number; so neither can loop.
        for (int pass = 0; pass < 2; ++pass) {
            bool freeList = pass == 0;
            int32_t n = freeList ? m_firstFree : m_firstUnused;
            int64_t previous = -1;
            while (n != -1) {
                bool ok = n >= 1 && n <= count;
                if (ok) {
                    const KxBlobDescriptor& d = m_descriptors[static_cast<std::size_t>(n - 1)];
                    int64_t key = freeList ? d.m_offset : n;
                    ok = (freeList ? d.IsFree() : d.IsUnused()) && key > previous;
                    previous = key;
                    if (ok) {
                        n = d.m_link;
                        continue;
                    }
                }
                KxGenerateException("The BLOB file \"%s\" is damaged: its %s list is broken at "
                                    "descriptor %ld.",
                                    kBlobFile, file, freeList ? "free" : "unused",
                                    static_cast<long>(n));
            }
        }
    KX_CATCH_STD("CheckDescriptors()", kBlobFile)
}

void KxBlobFile::CheckNumber(int32_t lNumber) const {
    if (lNumber < 1 || lNumber > GetNumberOfDescriptors())
        KxGenerateException("BLOB %ld does not exist; the number of BLOB descriptors is %ld.",
                            kBlobFile, static_cast<long>(lNumber),
                            static_cast<long>(GetNumberOfDescriptors()));
}

KxBlobDescriptor& KxBlobFile::Descriptor(int32_t lNumber) {
    CheckNumber(lNumber);
    return m_descriptors[static_cast<std::size_t>(lNumber - 1)];
}

const KxBlobDescriptor& KxBlobFile::GetDescriptor(int32_t lNumber) const {
    KX_TRY
        CheckNumber(lNumber);
        return m_descriptors[static_cast<std::size_t>(lNumber - 1)];
    KX_CATCH("GetDescriptor()", kBlobFile)
}

int32_t KxBlobFile::NextInList(int32_t lNumber, int32_t& lSteps, bool freeList) const {
    int32_t next = m_descriptors[static_cast<std::size_t>(lNumber - 1)].m_link;
    if (++lSteps > GetNumberOfDescriptors() ||
        (next != -1 && (next < 1 || next > GetNumberOfDescriptors())))
        KxGenerateException("The BLOB file \"%s\" is damaged: its %s list is broken at "
                            "descriptor %ld.",
                            kBlobFile, m_fileName.GetCString(), freeList ? "free" : "unused",
                            static_cast<long>(lNumber));
    return next;
}

// ---------------------------------------------------------------------------------------------
// KxBlobFile: blobs and reference counts

void KxBlobFile::GetBlob(int32_t lBlob, KxBlob& blob) {
    KX_TRY
        // Emptied on every failure, so that a caller reusing the blob never takes the previous
        // blob's bytes for this one's.
        try {
            const KxBlobDescriptor& d = Descriptor(lBlob);
            if (!d.IsAllocated())
                KxGenerateException("BLOB %ld is not in use.", kBlobFile, static_cast<long>(lBlob));
            if (d.IsMemoryBlob()) {
                const KxBlob& memory = MemoryBlob(lBlob);
                blob.SetBlob(memory.GetData(), memory.GetSize());
                return;
            }
            if (static_cast<int64_t>(d.m_offset) + d.m_length > m_tableOffset)
                KxGenerateException("The BLOB file \"%s\" is damaged: BLOB %ld reaches past the "
                                    "data area.",
                                    kBlobFile, m_fileName.GetCString(), static_cast<long>(lBlob));
            uint32_t length = static_cast<uint32_t>(d.m_length);
            // Straight into the caller's storage: a seek inside the buffered window and a copy.
            unsigned char* bytes = blob.SizeForOverwrite(length);
            if (length == 0) return;
            m_file.Seek64Absolute(d.m_offset);
            m_file.Read(bytes, length, true);
        } catch (...) {
            blob.SizeForOverwrite(0);
            throw;
        }
    KX_CATCH("GetBlob()", kBlobFile)
}

int32_t KxBlobFile::AddBlob(KxBlob* pBlob) {
    std::unique_ptr<KxBlob> owned(pBlob);
    KX_TRY
        if (pBlob == nullptr) KxGenerateException("Cannot add a null BLOB.", kBlobFile);
        m_modified = true;
        int32_t n = GetUnusedDescriptor();
        int32_t length = static_cast<int32_t>(pBlob->GetSize());
        try {
            SetMemoryBlob(n, std::move(owned));
        } catch (...) {
            AddUnusedDescriptor(n);
            throw;
        }
        KxBlobDescriptor& d = Descriptor(n);
        d.m_offset = -1;
        d.m_diskSize = -1;
        d.m_length = length;
        d.m_link = 0;
        return n;
    KX_CATCH_STD("AddBlob()", kBlobFile)
}

int32_t KxBlobFile::GetUnusedDescriptor() {
    KX_TRY
        if (m_firstUnused == -1) {
            if (GetNumberOfDescriptors() == INT32_MAX)
                KxGenerateException("The BLOB file \"%s\" cannot hold more descriptors.", kBlobFile,
                                    m_fileName.GetCString());
            m_descriptors.emplace_back();
            return GetNumberOfDescriptors();
        }
        int32_t n = m_firstUnused;
        KxBlobDescriptor& d = Descriptor(n);
        if (!d.IsUnused()) KxGenerateException("%s", kBlobFile, kMessageLinkAllocated);
        int32_t steps = 0;
        m_firstUnused = NextInList(n, steps, false);
        d.m_link = -1;
        return n;
    KX_CATCH_STD("GetUnusedDescriptor()", kBlobFile)
}

void KxBlobFile::IncrementReferenceCount(int32_t lBlob) {
    if (lBlob <= 0) return;
    KX_TRY
        KxBlobDescriptor& d = Descriptor(lBlob);
        if (!d.IsAllocated()) KxGenerateException("Cannot reference an unused BLOB.", kBlobFile);
        if (d.m_link == INT32_MAX)
            KxGenerateException("BLOB %ld cannot take more references.", kBlobFile,
                                static_cast<long>(lBlob));
        // The count lives in the table, so it must be written even when no block moves.
        ++d.m_link;
        m_modified = true;
        if (d.IsMemoryBlob()) {
            try {
                AllocateDiskSpace(lBlob);
            } catch (...) {
                // A memory blob that a record counts could never be saved; keep it abandoned.
                --d.m_link;
                throw;
            }
        }
    KX_CATCH("IncrementReferenceCount()", kBlobFile)
}

void KxBlobFile::DecrementReferenceCount(int32_t lBlob) {
    if (lBlob <= 0) return;
    KX_TRY
        KxBlobDescriptor& d = Descriptor(lBlob);
        if (!d.IsAllocated()) KxGenerateException("Cannot reference an unused BLOB.", kBlobFile);
        if (d.m_link == INT32_MIN)
            KxGenerateException("BLOB %ld cannot lose more references.", kBlobFile,
                                static_cast<long>(lBlob));
        --d.m_link;
        m_modified = true;
        if (d.m_link < 1 && !m_delayedFree) FreeDescriptor(lBlob);
    KX_CATCH("DecrementReferenceCount()", kBlobFile)
}

void KxBlobFile::IncrementReferenceCounts(const KxBlobFieldMap& map) {
    KX_TRY
        for (int32_t i = 0; i < map.GetCount(); ++i) IncrementReferenceCount(map.GetBlobNumber(i));
    KX_CATCH("IncrementReferenceCounts()", kBlobFile)
}

void KxBlobFile::DecrementReferenceCounts(const KxBlobFieldMap& map) {
    KX_TRY
        for (int32_t i = 0; i < map.GetCount(); ++i) DecrementReferenceCount(map.GetBlobNumber(i));
    KX_CATCH("DecrementReferenceCounts()", kBlobFile)
}

// ---------------------------------------------------------------------------------------------
// KxBlobFile: space management

void KxBlobFile::AllocateDiskSpace(int32_t lNumber) {
    KX_TRY
        KxBlobDescriptor& d = Descriptor(lNumber);
        if (!d.IsMemoryBlob()) return;
        int32_t length = d.m_length;

        int32_t previous = -1;
        int32_t block = m_firstFree;
        int32_t steps = 0;
        while (block != -1) {
            const KxBlobDescriptor& f = Descriptor(block);
            if (!f.IsFree()) KxGenerateException("%s", kBlobFile, kMessageLinkAllocated);
            if (f.m_diskSize >= length) break;
            previous = block;
            block = NextInList(block, steps, true);
        }

        int32_t need = std::max(length, kxMinimumBlockSize);
        int32_t offset;
        if (block != -1) {
            offset = Descriptor(block).m_offset;
        } else {
            if (static_cast<int64_t>(m_tableOffset) + need > INT32_MAX)
                KxGenerateException("The BLOB file \"%s\" cannot grow beyond %ld bytes.", kBlobFile,
                                    m_fileName.GetCString(), static_cast<long>(INT32_MAX));
            offset = m_tableOffset;
        }
        if (length != 0)
            m_file.WriteTo(offset, MemoryBlob(lNumber).GetData(), static_cast<uint32_t>(length));

        DropMemoryBlob(lNumber);
        d.m_offset = offset;
        if (block == -1) {
            d.m_diskSize = need;
            m_tableOffset += need;
        } else {
            KxBlobDescriptor& f = Descriptor(block);
            if (f.m_diskSize - need >= kxMinimumBlockSize) {
                d.m_diskSize = need;
                f.m_offset += need;
                f.m_diskSize -= need;
            } else {
                d.m_diskSize = f.m_diskSize;
                if (previous == -1)
                    m_firstFree = f.m_link;
                else
                    Descriptor(previous).m_link = f.m_link;
                AddUnusedDescriptor(block);
            }
        }
        m_modified = true;
    KX_CATCH("AllocateDiskSpace()", kBlobFile)
}

void KxBlobFile::FreeDescriptor(int32_t lNumber) {
    KX_TRY
        KxBlobDescriptor& d = Descriptor(lNumber);
        m_modified = true;
        if (d.IsMemoryBlob()) {
            AddUnusedDescriptor(lNumber);
            return;
        }
        if (!d.IsAllocated()) return;
        d.m_length = -1;
        d.m_link = -1;
        int32_t previous, next;
        FindFreeDescriptorInsertionPoint(lNumber, previous, next);
        d.m_link = next;
        while (ConsolidateWithNext(lNumber)) {
        }
        InsertFreeDescriptor(lNumber, previous);
    KX_CATCH("FreeDescriptor()", kBlobFile)
}

bool KxBlobFile::ConsolidateWithNext(int32_t lNumber) {
    KX_TRY
        KxBlobDescriptor& d = Descriptor(lNumber);
        if (d.m_link == -1) return false;
        KxBlobDescriptor& next = Descriptor(d.m_link);
        if (next.IsMemoryBlob()) KxGenerateException("%s", kBlobFile, kMessageMemoryBlob);
        if (!next.IsFree()) KxGenerateException("%s", kBlobFile, kMessageLinkAllocated);
        if (static_cast<int64_t>(d.m_offset) + d.m_diskSize != next.m_offset) return false;
        int32_t absorbed = d.m_link;
        d.m_diskSize += next.m_diskSize;
        d.m_link = next.m_link;
        AddUnusedDescriptor(absorbed);
        return true;
    KX_CATCH("ConsolidateWithNext()", kBlobFile)
}

void KxBlobFile::FindFreeDescriptorInsertionPoint(int32_t lNumber, int32_t& lPrevious,
                                                  int32_t& lNext) {
    KX_TRY
        const KxBlobDescriptor& d = Descriptor(lNumber);
        if (d.m_offset < 0) KxGenerateException("%s", kBlobFile, kMessageMemoryBlob);
        lPrevious = -1;
        lNext = m_firstFree;
        int32_t steps = 0;
        while (lNext != -1) {
            const KxBlobDescriptor& f = Descriptor(lNext);
            if (!f.IsFree() || lNext == lNumber)
                KxGenerateException("%s", kBlobFile, kMessageLinkAllocated);
            if (f.m_offset > d.m_offset) break;
            lPrevious = lNext;
            lNext = NextInList(lNext, steps, true);
        }
    KX_CATCH("FindFreeDescriptorInsertionPoint()", kBlobFile)
}

void KxBlobFile::InsertFreeDescriptor(int32_t lNumber, int32_t lPrevious) {
    KX_TRY
        KxBlobDescriptor& d = Descriptor(lNumber);
        if (static_cast<int64_t>(d.m_offset) + d.m_diskSize >= m_tableOffset) {
            // Space at the end of the data area goes back to the table.
            m_tableOffset = d.m_offset;
            AddUnusedDescriptor(lNumber);
            if (lPrevious != -1)
                AdjustLastFreeSpaceDescriptor(lPrevious);
            else
                m_firstFree = -1;
            return;
        }
        if (lPrevious == -1) {
            m_firstFree = lNumber;
            return;
        }
        KxBlobDescriptor& p = Descriptor(lPrevious);
        p.m_link = lNumber;
        if (static_cast<int64_t>(p.m_offset) + p.m_diskSize == d.m_offset) {
            p.m_diskSize += d.m_diskSize;
            p.m_link = d.m_link;
            AddUnusedDescriptor(lNumber);
        }
    KX_CATCH("InsertFreeDescriptor()", kBlobFile)
}

void KxBlobFile::AdjustLastFreeSpaceDescriptor(int32_t lNumber) {
    KX_TRY
        KxBlobDescriptor& d = Descriptor(lNumber);
        if (static_cast<int64_t>(d.m_offset) + d.m_diskSize < m_tableOffset) {
            d.m_link = -1;
            return;
        }
        m_tableOffset = d.m_offset;
        if (m_firstFree == lNumber) {
            m_firstFree = -1;
        } else {
            int32_t entry = m_firstFree;
            int32_t steps = 0;
            while (entry != -1 && Descriptor(entry).m_link != lNumber)
                entry = NextInList(entry, steps, true);
            if (entry == -1) KxGenerateException("%s", kBlobFile, kMessageLinkAllocated);
            Descriptor(entry).m_link = -1;
        }
        AddUnusedDescriptor(lNumber);
    KX_CATCH("AdjustLastFreeSpaceDescriptor()", kBlobFile)
}

int32_t KxBlobFile::FindUnusedDescriptorInsertionPoint(int32_t lNumber) {
    KX_TRY
        int32_t previous = -1;
        int32_t entry = m_firstUnused;
        int32_t steps = 0;
        while (entry != -1 && entry <= lNumber) {
            if (entry == lNumber || !Descriptor(entry).IsUnused())
                KxGenerateException("%s", kBlobFile, kMessageLinkAllocated);
            previous = entry;
            entry = NextInList(entry, steps, false);
        }
        return previous;
    KX_CATCH("FindUnusedDescriptorInsertionPoint()", kBlobFile)
}

void KxBlobFile::AddUnusedDescriptor(int32_t lNumber) {
    KX_TRY
        KxBlobDescriptor& d = Descriptor(lNumber);
        SetUnused(lNumber);
        if (lNumber == GetNumberOfDescriptors()) {
            TrimUnusedDescriptors();
            return;
        }
        int32_t previous = FindUnusedDescriptorInsertionPoint(lNumber);
        if (previous == -1) {
            d.m_link = m_firstUnused;
            m_firstUnused = lNumber;
        } else {
            KxBlobDescriptor& p = Descriptor(previous);
            d.m_link = p.m_link;
            p.m_link = lNumber;
        }
    KX_CATCH("AddUnusedDescriptor()", kBlobFile)
}

void KxBlobFile::TrimUnusedDescriptors() {
    KX_TRY
        while (!m_descriptors.empty() && m_descriptors.back().IsUnused())
            m_descriptors.erase(m_descriptors.cend() - 1);
        // The list is in increasing order, so the removed ones are its tail.
        int32_t count = GetNumberOfDescriptors();
        if (m_firstUnused > count) {
            m_firstUnused = -1;
            return;
        }
        int32_t entry = m_firstUnused;
        int32_t steps = 0;
        while (entry != -1) {
            KxBlobDescriptor& d = Descriptor(entry);
            if (d.m_link > count) {
                d.m_link = -1;
                break;
            }
            entry = NextInList(entry, steps, false);
        }
    KX_CATCH_STD("TrimUnusedDescriptors()", kBlobFile)
}

void KxBlobFile::FreeAbandonedBlobs() {
    KX_TRY
        // Freeing may trim the table, so the count is read again on every step.
        for (int32_t n = 1; n <= GetNumberOfDescriptors(); ++n) {
            const KxBlobDescriptor& d = Descriptor(n);
            if (d.IsAllocated() && d.m_link < 1) FreeDescriptor(n);
        }
    KX_CATCH("FreeAbandonedBlobs()", kBlobFile)
}

void KxBlobFile::ClearDelayedFree() {
    KX_TRY
        if (!m_delayedFree) return;
        FreeAbandonedBlobs();
        m_delayedFree = false;
    KX_CATCH("ClearDelayedFree()", kBlobFile)
}

void KxBlobFile::ClearDescriptors() {
    m_descriptors.clear();
    m_memoryBlobs.clear();
    m_firstFree = -1;
    m_firstUnused = -1;
}

namespace {
template <typename Entries> auto FindMemoryEntry(Entries& entries, int32_t lNumber) {
    return std::lower_bound(entries.begin(), entries.end(), lNumber,
                            [](const auto& entry, int32_t n) { return entry.number < n; });
}
} // namespace

KxBlob& KxBlobFile::MemoryBlob(int32_t lNumber) const {
    auto entry = FindMemoryEntry(m_memoryBlobs, lNumber);
    if (entry == m_memoryBlobs.end() || entry->number != lNumber)
        KxGenerateException("%s", kBlobFile, kMessageMemoryBlob);
    return *entry->blob;
}

void KxBlobFile::SetMemoryBlob(int32_t lNumber, std::unique_ptr<KxBlob> pBlob) {
    KX_TRY
        auto entry = FindMemoryEntry(m_memoryBlobs, lNumber);
        if (entry != m_memoryBlobs.end() && entry->number == lNumber)
            entry->blob = std::move(pBlob);
        else
            m_memoryBlobs.insert(entry, MemoryEntry{lNumber, std::move(pBlob)});
    KX_CATCH_STD("SetMemoryBlob()", kBlobFile)
}

void KxBlobFile::DropMemoryBlob(int32_t lNumber) {
    auto entry = FindMemoryEntry(m_memoryBlobs, lNumber);
    if (entry != m_memoryBlobs.end() && entry->number == lNumber) m_memoryBlobs.erase(entry);
}

void KxBlobFile::SetUnused(int32_t lNumber) {
    DropMemoryBlob(lNumber);
    Descriptor(lNumber).SetUnused();
}

// ---------------------------------------------------------------------------------------------
// KxBlobFile: writing, closing, emptying, listing

void KxBlobFile::WriteDescriptors() {
    if (!m_modified) return;
    KX_TRY
        FreeAbandonedBlobs();
        // The whole table is built before anything is written, so a descriptor that cannot be
        // stored fails with the file untouched.
        int32_t count = GetNumberOfDescriptors();
        int64_t tableBytes =
            kxTableHeaderSize + static_cast<int64_t>(count) * KxBlobDescriptor::kxStoredSize;
        if (m_tableOffset + tableBytes > INT32_MAX)
            KxGenerateException("The BLOB file \"%s\" cannot grow beyond %ld bytes.", kBlobFile,
                                m_fileName.GetCString(), static_cast<long>(INT32_MAX));
        KxResizableChunk bytes(static_cast<int32_t>(tableBytes));
        unsigned char* p = static_cast<unsigned char*>(bytes.GetData());
        PutLE32(p, m_firstFree);
        PutLE32(p + 4, m_firstUnused);
        PutLE32(p + 8, count);
        unsigned char* entry = p + kxTableHeaderSize;
        for (const KxBlobDescriptor& d : m_descriptors) {
            d.Encode(entry);
            entry += KxBlobDescriptor::kxStoredSize;
        }
        unsigned char header[kxHeaderSize];
        PutLE32(header, m_tableOffset);

        m_file.WriteTo(m_tableOffset, p, static_cast<uint32_t>(tableBytes));
        m_file.WriteTo(0, header, kxHeaderSize);
        m_file.Flush();
        m_modified = false;
        int64_t end = m_tableOffset + tableBytes;
        int64_t size = m_file.GetFileSize64();
        // A count of 0 would empty the file, so only a real excess is cut.
        if (size > end) m_file.Truncate64(size - end);
    KX_CATCH_STD("WriteDescriptors()", kBlobFile)
}

void KxBlobFile::Close() {
    if (!m_file.GetIsOpen()) return;
    KX_TRY
        try {
            ClearDelayedFree();
            WriteDescriptors();
        } catch (...) {
            ClearDescriptors();
            try {
                m_file.Close();
            } catch (...) {
            }
            m_tableOffset = kxHeaderSize;
            m_modified = false;
            m_delayedFree = false;
            throw;
        }
        ClearDescriptors();
        m_tableOffset = kxHeaderSize;
        m_file.Close();
    KX_CATCH("Close()", kBlobFile)
}

void KxBlobFile::Empty() {
    KX_TRY
        // The file first: when it cannot be cut, the blobs stay as they were.
        m_file.Truncate64(0);
        ClearDescriptors();
        m_delayedFree = false;
        m_modified = false;
        m_tableOffset = kxHeaderSize;
    KX_CATCH("Empty()", kBlobFile)
}

void KxBlobFile::ListBlobMap(KxString& sListing) {
    KX_TRY
        KxString text;
        KxString line;
        auto add = [&](const char* s) { text << s << EndLine; };
        auto preview = [&](int32_t n) {
            const KxBlobDescriptor& d = Descriptor(n);
            char shown[21] = {};
            uint32_t count = static_cast<uint32_t>(std::min(d.m_length, 20));
            if (d.IsMemoryBlob())
                memcpy(shown, MemoryBlob(n).GetData(), count);
            else if (count != 0)
                m_file.ReadFrom(d.m_offset, shown, count, true);
            for (uint32_t i = 0; i < count; ++i)
                if (static_cast<unsigned char>(shown[i]) < 32 || shown[i] == 127) shown[i] = '.';
            return KxString(shown);
        };

        line.printf("Hello, from KxBlobFile %s. Descriptor offset is %ld.", m_fileName.GetCString(),
                    static_cast<long>(m_tableOffset));
        add(line);
        add("Allocated BLOBs :");
        add(" BLOB #   | Length   Offset   Disk     | First 20 Bytes       ");
        add("----------+----------------------------+----------------------");
        int32_t count = GetNumberOfDescriptors();
        for (int32_t n = 1; n <= count; ++n) {
            const KxBlobDescriptor& d = Descriptor(n);
            if (!d.IsAllocated()) continue;
            KxString bytes = preview(n);
            if (d.IsMemoryBlob())
                line.printf(" %8d | %8d (memory) (memory) | %s", n, d.m_length, bytes.GetCString());
            else
                line.printf(" %8d | %8d %8d %8d | %s", n, d.m_length, d.m_offset, d.m_diskSize,
                            bytes.GetCString());
            add(line);
        }

        add("Free Space : ");
        add(" BLOB #   | Offset   Disk     ");
        add("----------+-------------------");
        int32_t steps = 0;
        for (int32_t n = m_firstFree; n != -1; n = NextInList(n, steps, true)) {
            const KxBlobDescriptor& d = Descriptor(n);
            if (!d.IsFree()) {
                line.printf(" %8d | ERROR : This blob is not free", n);
                add(line);
                break;
            }
            line.printf(" %8d | %8d %8d", n, d.m_offset, d.m_diskSize);
            add(line);
        }

        add("Unused Descriptors : ");
        steps = 0;
        for (int32_t n = m_firstUnused; n != -1; n = NextInList(n, steps, false)) {
            if (!Descriptor(n).IsUnused()) {
                line.printf("ERROR : Descriptor %ld is in use", static_cast<long>(n));
                add(line);
                break;
            }
            line.printf(" %8d", n);
            add(line);
        }
        sListing = text;
    KX_CATCH("ListBlobMap()", kBlobFile)
}

// ---------------------------------------------------------------------------------------------
// KxBlobFieldMap

void KxBlobFieldMap::Clear() {
    m_fields.clear();
    m_blobs.clear();
}

void KxBlobFieldMap::RebindMap(const KxPointerVector<KxField>& fields) {
    KX_TRY
        KxVector<uint16_t> numbers;
        KxVector<int32_t> blobs;
        for (std::size_t i = 0; i < fields.size(); ++i) {
            if (fields[i] == nullptr || fields[i]->GetType() != 'B') continue;
            if (i > UINT16_MAX)
                KxGenerateException("Field %zu is beyond the last possible field number.",
                                    "KxBlobFieldMap", i);
            numbers.push_back(static_cast<uint16_t>(i));
            blobs.push_back(0);
        }
        m_fields.swap(numbers);
        m_blobs.swap(blobs);
    KX_CATCH_STD("RebindMap()", "KxBlobFieldMap")
}

void KxBlobFieldMap::AddField(uint16_t uwFieldNumber) {
    KX_TRY
        m_fields.push_back(uwFieldNumber);
        try {
            m_blobs.push_back(0);
        } catch (...) {
            m_fields.pop_back();
            throw;
        }
    KX_CATCH_STD("AddField()", "KxBlobFieldMap")
}
