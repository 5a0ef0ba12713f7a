// Blobs: values too long for a fixed-width record. KxBlob is the in-memory value, a byte buffer
// with a position that behaves like a file; KxBlobFile keeps the blobs of one data set in its
// .kxb file; KxBlobFieldMap tells which fields of a layout hold blob numbers and which numbers
// the current record refers to, for the reference counting.
//
// .kxb layout (32-bit signed little-endian numbers):
//   0        D, the descriptor table offset and the end of the data area (4 without blobs)
//   4..D-1   blocks of blob bytes
//   D        first free descriptor (-1 none), D+4 first unused descriptor (-1 none),
//   D+8      N, then N descriptors of 16 bytes: link or reference count, offset, length,
//            disk size. The file ends right after them; a 0-byte file holds no blobs.
#pragma once

#include <cstdint>
#include <memory>

#include "kxchunk.h"
#include "kxexception.h"
#include "kxio.h"
#include "kxstring.h"
#include "kxvector.h"

class KxField;

class KxBlob : public KxIOInterface {
public:
    // One byte of the chunk is kept for a terminating NUL, so GetText never copies.
    static constexpr int32_t kxMaxBlobSize = INT32_MAX - 1;

    // ulLength bytes copied from pData, or zero bytes when pData is null; named "BLOB()".
    explicit KxBlob(const void* pData = nullptr, uint32_t ulLength = 0);
    KxBlob(const KxBlob& other);
    KxBlob& operator=(const KxBlob& other);
    ~KxBlob() override;

    void GetStreamName(KxString& sName) const override;
    uint32_t Read(void* pBuffer, uint32_t ulCount, bool mustReadAll) override;
    // Writes at the position, growing the blob (zero-filling any gap) as needed.
    void Write(const void* pBuffer, uint32_t ulCount) override;
    uint64_t GetBytesAvailable() override;

    // Same bytes, position and name.
    KxBlob* Clone() const override;
    // A new, empty blob; the arguments are not used.
    KxBlob* NewInstance(const char* sFileName, uint32_t ulFlags) const override;
    void Close() override {}
    void Flush() override {}
    // The name: "BLOB()", or "BLOB(<file>)" after Open.
    const char* GetFileName() const override;
    int64_t GetFileSize64() const override { return m_size; }
    bool GetIsEOF() const override { return m_position >= m_size; }
    bool GetIsOpen() const override { return true; }
    uint32_t GetOpenFlags() const override { return kxIORead | kxIOWrite; }
    // Reads the whole file into the blob under a READ lock; the flags are not used.
    void Open(const char* sFileName, uint32_t ulFlags = kxIORead) override;
    uint32_t ReadFrom(int64_t offset, void* pBuffer, uint32_t ulCount, bool mustReadAll) override;
    void WriteTo(int64_t offset, const void* pBuffer, uint32_t ulCount) override;
    // The position may lie past the end; reading there gives nothing, writing fills the gap.
    int64_t Seek64Absolute(int64_t offset) override;
    int64_t Seek64FromCurrent(int64_t distance) override;
    int64_t Seek64FromEnd(int64_t distance) override;
    int64_t Tell64() const override { return m_position; }
    // Removes count bytes from the end; 0 empties the blob. The position returns to 0.
    void Truncate64(int64_t count) override;
    // A blob is private to its owner: locking succeeds at once and does nothing.
    void Lock(KxLockType type, int64_t offset, int64_t length) override {}
    bool TryLock(KxLockType type, int64_t offset, int64_t length) override { return true; }
    bool UnLock(KxLockType type, int64_t offset, int64_t length) override { return true; }
    KxIOLock* NewLock(KxLockType type, int64_t offset, int64_t length) override;

    // The content becomes ulLength bytes from pData, or ulLength zero bytes; position 0. The
    // blob's storage is reused when it is large enough.
    void SetBlob(const void* pData, uint32_t ulLength);
    // The content becomes ulLength bytes from pText followed by a NUL (ulLength + 1 bytes);
    // position 0.
    void SetText(const char* pText, uint32_t ulLength);
    // The blob's bytes, nothing else (the serial form of a blob field).
    void Write(KxOutputStreamInterface& stream) const;
    // Replaces the content by the next ulLength bytes of the stream; the length is checked
    // against what the stream holds before anything is allocated. Position 0.
    void Read(KxInputStreamInterface& stream, uint32_t ulLength);

    const void* GetData() const;
    uint32_t GetSize() const { return m_size; }
    uint32_t GetPosition() const { return m_position; }
    // The bytes as a NUL-terminated text: a NUL always follows the last byte.
    const char* GetText() const;

private:
    friend class KxBlobFile;  // reads file blocks straight into the bytes

    // Makes room for ulSize bytes plus the NUL, keeping the content; gained bytes are 0.
    void Reserve(uint32_t ulSize);
    void SetSize(uint32_t ulSize);
    // The size becomes ulSize with the NUL after it and the position 0; the bytes are left for
    // the caller to fill. Answers them.
    unsigned char* SizeForOverwrite(uint32_t ulSize);
    // True when p points into this blob's storage.
    bool Holds(const void* p) const;
    unsigned char* Bytes();
    const unsigned char* Bytes() const;

    KxResizableChunk m_data;
    uint32_t m_size = 0;
    uint32_t m_position = 0;
    KxString m_name;
};

// One entry of the descriptor table, in memory as on disk. Allocated when the length is not
// negative; then the first field is the reference count. An allocated descriptor without a block
// (offset -1) is a memory blob, whose bytes the blob file keeps until its first reference writes
// them. A free block has length -1 and a place on disk; an unused descriptor is -1 throughout.
class KxBlobDescriptor {
public:
    static constexpr int32_t kxStoredSize = 16;

    bool IsAllocated() const { return m_length >= 0; }
    bool IsMemoryBlob() const { return m_length >= 0 && m_offset < 0; }
    bool IsFree() const { return m_length < 0 && m_offset >= 0; }
    bool IsUnused() const { return m_length < 0 && m_offset < 0; }

    // The first field: the reference count of an allocated blob, the list link otherwise.
    int32_t GetReferenceCount() const { return m_link; }
    int32_t GetLink() const { return m_link; }
    int32_t GetOffset() const { return m_offset; }
    int32_t GetLength() const { return m_length; }
    int32_t GetDiskSize() const { return m_diskSize; }

    // The 16 stored bytes, little-endian; a memory blob cannot be stored.
    void Encode(unsigned char* pDest) const;
    void Decode(const unsigned char* pSource);

private:
    friend class KxBlobFile;

    void SetUnused() { m_link = m_offset = m_length = m_diskSize = -1; }

    int32_t m_link = -1;
    int32_t m_offset = -1;
    int32_t m_length = -1;
    int32_t m_diskSize = -1;
};

class KxBlobFieldMap;

class KxBlobFile {
public:
    // The smallest block, and the least a split must leave as free space.
    static constexpr int32_t kxMinimumBlockSize = 64;
    static constexpr int32_t kxHeaderSize = 4;
    static constexpr int32_t kxTableHeaderSize = 12;
    // Blobs are read through a buffer of this size: a scan of a data set reads the blobs of
    // consecutive records, which lie one after the other.
    static constexpr int32_t kxReadBufferSize = 0x20000;

    // Opens the blob file beside the data file (its extension replaced by .kxb) with the mode
    // (the file I/O flags); a missing one is created empty. A damaged file fails here.
    KxBlobFile(const char* sDataFileName, uint32_t ulMode);
    KxBlobFile(const KxBlobFile&) = delete;
    KxBlobFile& operator=(const KxBlobFile&) = delete;
    // Closes, ignoring errors.
    ~KxBlobFile();

    // Fills the blob with blob lBlob's bytes, position 0, reusing the blob's storage. When the
    // read fails the blob is left empty.
    void GetBlob(int32_t lBlob, KxBlob& blob);
    // Takes ownership of the blob and answers its new number; it stays in memory with a
    // reference count of 0 until its first reference writes it to the file.
    int32_t AddBlob(KxBlob* pBlob);

    // A number of 0 or less is ignored.
    void IncrementReferenceCount(int32_t lBlob);
    void DecrementReferenceCount(int32_t lBlob);
    void IncrementReferenceCounts(const KxBlobFieldMap& map);
    void DecrementReferenceCounts(const KxBlobFieldMap& map);

    // While on, blobs whose count falls below 1 are kept until ClearDelayedFree or Close.
    void SetDelayedFree(bool delayed = true) { m_delayedFree = delayed; }
    bool GetDelayedFree() const { return m_delayedFree; }
    void ClearDelayedFree();
    // Frees every allocated blob that no record refers to.
    void FreeAbandonedBlobs();

    // Writes D and the descriptor table when anything changed, and cuts the file after it.
    void WriteDescriptors();
    // Writes what changed and closes the file. Closing a closed blob file does nothing.
    void Close();
    // Drops every blob and cuts the file to 0 bytes.
    void Empty();

    // The diagnostic listing of the blob map, lines separated by CR LF.
    void ListBlobMap(KxString& sListing);

    bool GetIsOpen() const { return m_file.GetIsOpen(); }
    bool GetIsModified() const { return m_modified; }
    const char* GetFileName() const { return m_fileName.GetCString(); }
    int32_t GetDescriptorTableOffset() const { return m_tableOffset; }
    int32_t GetFirstFreeDescriptor() const { return m_firstFree; }
    int32_t GetFirstUnusedDescriptor() const { return m_firstUnused; }
    int32_t GetNumberOfDescriptors() const { return m_descriptors.GetCount(); }
    // lNumber in 1 ... GetNumberOfDescriptors().
    const KxBlobDescriptor& GetDescriptor(int32_t lNumber) const;

private:
    void OpenFile(const char* sDataFileName, uint32_t ulMode);
    void ReadDescriptors();
    void CheckDescriptors() const;
    // The descriptor, or a KxException when the number is outside the table.
    KxBlobDescriptor& Descriptor(int32_t lNumber);
    void CheckNumber(int32_t lNumber) const;

    void FreeDescriptor(int32_t lNumber);
    void AllocateDiskSpace(int32_t lNumber);
    int32_t GetUnusedDescriptor();
    void AddUnusedDescriptor(int32_t lNumber);
    void InsertFreeDescriptor(int32_t lNumber, int32_t lPrevious);
    // Absorbs the free block that starts where lNumber's block ends; true when one did.
    bool ConsolidateWithNext(int32_t lNumber);
    // The free blocks below and above lNumber's offset (-1 for none).
    void FindFreeDescriptorInsertionPoint(int32_t lNumber, int32_t& lPrevious, int32_t& lNext);
    // The last unused descriptor with a smaller number (-1 for none).
    int32_t FindUnusedDescriptorInsertionPoint(int32_t lNumber);
    void AdjustLastFreeSpaceDescriptor(int32_t lNumber);
    void TrimUnusedDescriptors();
    void ClearDescriptors();
    // The bytes of memory blob lNumber; a KxException when it has none.
    KxBlob& MemoryBlob(int32_t lNumber) const;
    // Gives memory blob lNumber its bytes (owned from then on), or drops them.
    void SetMemoryBlob(int32_t lNumber, std::unique_ptr<KxBlob> pBlob);
    void DropMemoryBlob(int32_t lNumber);
    // Makes descriptor lNumber unused, dropping the bytes it may hold.
    void SetUnused(int32_t lNumber);
    // Follows a list link, refusing a step beyond the table and a list longer than the table.
    int32_t NextInList(int32_t lNumber, int32_t& lSteps, bool freeList) const;

    bool m_delayedFree = false;
    bool m_modified = false;
    int32_t m_tableOffset = kxHeaderSize;
    int32_t m_firstFree = -1;
    int32_t m_firstUnused = -1;
    KxVector<KxBlobDescriptor> m_descriptors;
    // The bytes of the memory blobs, by descriptor number; few at any time, since a blob's
    // first reference writes it to the file.
    struct MemoryEntry {
        int32_t number;
        std::unique_ptr<KxBlob> blob;
    };
    KxVector<MemoryEntry> m_memoryBlobs;
    KxIO m_file;
    KxString m_fileName;
};

// For each blob field of a layout (fields of type B, in field order), the blob number that the
// current record refers to; 0 stands for none.
class KxBlobFieldMap {
public:
    KxBlobFieldMap() = default;
    virtual ~KxBlobFieldMap() = default;

    // The blob fields of the field array, each with blob number 0.
    void RebindMap(const KxPointerVector<KxField>& fields);
    // The blob numbers the record's blob fields hold (its GetBLOBIndex of each field number).
    template <typename Record> void SetBlobIDs(Record& record) {
        KX_TRY
            for (std::size_t i = 0; i < m_fields.size(); ++i)
                m_blobs[i] = static_cast<int32_t>(record.GetBLOBIndex(m_fields[i]));
        KX_CATCH("SetBlobIDs()", "KxBlobFieldMap")
    }
    void Clear();

    int32_t GetCount() const { return m_fields.GetCount(); }
    // lIndex from 0 to GetCount() - 1.
    uint16_t GetFieldNumber(int32_t lIndex) const { return m_fields.At(lIndex); }
    int32_t GetBlobNumber(int32_t lIndex) const { return m_blobs.At(lIndex); }
    void SetBlobNumber(int32_t lIndex, int32_t lBlob) { m_blobs.At(lIndex) = lBlob; }
    // For layouts built without a field array.
    void AddField(uint16_t uwFieldNumber);

private:
    KxVector<uint16_t> m_fields;
    KxVector<int32_t> m_blobs;
};
