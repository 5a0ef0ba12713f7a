// A set of record numbers 1..size, one bit per record: the selection and system set of a file
// and the record list of an index key. Stored run-length compressed.
#pragma once

#include <cstdint>

#include "kxchunk.h"
#include "kxvector.h"

class KxInputStreamInterface;
class KxOutputStreamInterface;

class KxSet : public KxArrayPointerObject {
public:
    // Header of the serial form.
    static constexpr int8_t kxHeaderType = 11;
    static constexpr int16_t kxVersion = 400;
    // Zero bytes kept beyond the bits, so that scans may read whole 64-bit words.
    static constexpr int32_t kxSpareBytes = 8;

    explicit KxSet(int32_t lSize = 0, bool all = false);
    KxSet(const KxSet& other);
    KxSet& operator=(const KxSet& other);
    ~KxSet() override;
    virtual KxSet* Clone() const;

    void Copy(const KxSet& other);
    // A new size with every record a member, or none. A failure leaves the set as it was.
    void Reset(int32_t lSize, bool all = false);
    void AllRecords();
    void Clear();

    // lRecord in 1..size.
    void SelectRecord(int32_t lRecord, bool member = true);
    // False outside 1..size.
    bool IsInSet(int32_t lRecord) const;

    // Inserts a position at lRecord (1..size + 1); later records move up by one.
    void AddToSet(int32_t lRecord, bool member = false);
    // Removes position lRecord (1..size); later records move down by one.
    void DeleteFromSet(int32_t lRecord);

    // 0 when there is none.
    int32_t GetNextInSet(int32_t lRecord) const;
    int32_t GetNextNotInSet(int32_t lRecord) const;
    int32_t GetPreviousNotInSet(int32_t lRecord) const;

    int32_t GetCount() const;
    int32_t GetSize() const { return m_size; }
    int32_t GetByteCount() const { return m_byteCount; }
    // The bits, record 1 as the most significant bit of byte 0; GetByteCount() bytes followed by
    // kxSpareBytes zero bytes. Valid until the set changes.
    const unsigned char* GetBytes() const;
    bool IsCompressed() const { return m_compressed; }

    // Both sets must be of the same size.
    void AndSet(const KxSet& other);
    void OrSet(const KxSet& other);
    // this |= a AND b.
    void MaskedOrSet(const KxSet& a, const KxSet& b);

    // Appends the other's records after this set's, whose size must be a multiple of 8.
    void ByteAppend(const KxSet& other);
    // Keeps the first lSize records when lSize is below the size.
    void Truncate(int32_t lSize);

    // The serial form: header, size, byte count, count, then the compressed bytes. A set read
    // stays compressed until first used; a failed read leaves the set as it was.
    void Read(KxInputStreamInterface& stream);
    void Write(KxOutputStreamInterface& stream) const;

private:
    void Expand() const;
    void Recount() const;
    void CheckSameSize(const KxSet& other) const;
    void ClearTail();
    void Swap(KxSet& other) noexcept;

    // Expanding on first use changes the representation, not the value, so const operations
    // may do it.
    mutable int32_t m_count;
    int32_t m_byteCount;
    int32_t m_size;
    mutable bool m_compressed;
    mutable KxResizableChunk m_bytes;
    // Bytes of m_bytes in use while compressed.
    mutable int32_t m_compressedLength;
};
