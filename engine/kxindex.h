// Secondary indexes: for one field of a record file, the field's distinct values in increasing
// order, each with the records that hold it. A record list is an array of record numbers while it
// is small and a bit set over all records once it would hold more than records / 32 + 1 of them.
// An index may also keep, for each record, its key (the inverse index) and the keys in a second
// order (text keys with ASCII case folded).
//
// The index file (the data file's name with the field number as a three-digit extension):
//   header (type 3, version 400, 420 or 510), the type letter (1 byte), the field length (16-bit),
//   the record count (32-bit), the key count (32-bit), then each key in increasing order: its value,
//   1 byte (1: a set follows, 0: an array), the set or the array. A text key of length 8 or more
//   is its length in bytes followed by 2 zero bytes; a shorter one takes 8 bytes.
//   Version 420 on: 1 byte, then when it is 1 the inverse index as an array of one key number
//   (from 0, in key order) per record. Version 510 on: 1 byte, then when it is 1 the second order
//   as an array of key numbers.
// An index file is checked whole when read: every count against the stream, every record number
// against the record count, the keys' order, and that every record has exactly one key.
#pragma once

#include <cstdint>
#include <memory>

#include "kxrecordkey.h"
#include "kxset.h"
#include "kxvector.h"

class KxField;
class KxFile;
class KxFileRecord;
class KxInputStreamInterface;
class KxOutputStreamInterface;
class KxProgressReport;

// One distinct value and the records holding it.
class KxIndexKey : public KxArrayPointerObject {
public:
    // Takes the value, also when this fails. No records yet.
    KxIndexKey(KxRecordKey* pValue, int32_t lRecordCount);
    KxIndexKey(const KxIndexKey& other);
    KxIndexKey& operator=(const KxIndexKey&) = delete;
    ~KxIndexKey() override;
    KxIndexKey* Clone() const;

    // The array holds at most this many records before it turns into a set.
    static int32_t GetArrayLimit(int32_t lRecordCount) { return lRecordCount / 32 + 1; }

    const KxRecordKey& GetValue() const { return *m_value; }
    int32_t GetRecordCount() const { return m_recordCount; }
    bool IsSet() const { return m_set != nullptr; }
    // How many records hold the value.
    int32_t GetCount() const;
    bool HasRecord(int32_t lRecord) const;
    // The records in increasing order.
    void GetRecords(KxVector<int32_t>& records) const;

    // Records appended to the file since the key last changed: the record count grows to
    // lRecordCount, none of the new records holding the value. Changes the form, not the value.
    void GrowTo(int32_t lRecordCount) const;
    // A new record position lRecord (1..count + 1): later records move up by one.
    void InsertRecord(int32_t lRecord);
    // Adds the record (1..count); an array already holding the limit turns into a set first.
    void SetRecord(int32_t lRecord);
    // Removes the record, keeping the positions; true when no record is left.
    bool ClearRecordIsEmpty(int32_t lRecord);
    // Removes position lRecord (1..count): later records move down by one; true when no record
    // is left.
    bool DeleteRecordIsEmpty(int32_t lRecord);

    // ORs the records into the result (of the key's record count); the masked form only those
    // also in the mask.
    void GetSet(KxSet& result) const;
    void GetSet(KxSet& result, const KxSet& mask) const;
    // Stores a set form compressed until it is next used.
    void Compress();

    // The flag byte and the records; the value is written by the index.
    void Write(KxOutputStreamInterface& stream) const;
    // The flag byte and the records, checked against the record count: a set of that size, or
    // an array of record numbers within it, none twice. A failure leaves the key as it was.
    void Read(KxInputStreamInterface& stream);

private:
    friend class KxIndex;

    // The set ready for reading: the key's own once it is expanded, else an expanded copy, so that
    // a set read compressed stays compressed while it is only read.
    const KxSet& ReadableSet(KxSet& copy) const;

    std::unique_ptr<KxRecordKey> m_value;
    mutable int32_t m_recordCount;
    // Exactly one form is in use: the set when there is one, else the array (increasing).
    KxVector<int32_t> m_array;
    mutable std::unique_ptr<KxSet> m_set;
};

// For each record, its key.
class KxInverseIndex {
public:
    explicit KxInverseIndex(int32_t lRecordCount = 0);

    int32_t GetRecordCount() const { return static_cast<int32_t>(m_keys.size()); }
    // Fails with "No key set for record %d" when the record has none.
    KxIndexKey* GetKey(int32_t lRecord) const;
    // Null when the record has none.
    KxIndexKey* FindKey(int32_t lRecord) const;
    void SetKey(int32_t lRecord, KxIndexKey* pKey);
    // A new position without a key; later records move up.
    void InsertRecord(int32_t lRecord);
    void DeleteRecord(int32_t lRecord);

private:
    void CheckRecord(int32_t lRecord, int32_t lLast) const;

    KxVector<KxIndexKey*> m_keys;
};

struct KxIndexKeyLess {
    bool operator()(const KxIndexKey* a, const KxIndexKey* b) const {
        return a->GetValue().IsLessThan(b->GetValue());
    }
};

struct KxIndexKeyEqual {
    bool operator()(const KxIndexKey* a, const KxIndexKey* b) const {
        return a->GetValue().IsEqual(b->GetValue());
    }
};

class KxIndex {
public:
    static constexpr int8_t kxHeaderType = 3;
    static constexpr int16_t kxVersion400 = 400;
    static constexpr int16_t kxVersion420 = 420;
    static constexpr int16_t kxVersion510 = 510;
    // Builds report progress and ask whether to go on after this many records.
    static constexpr int32_t kxProgressStep = 128;

    // Built from the field of the file (StraightBuild), with an inverse index when the field
    // asks for one.
    KxIndex(KxFile& file, uint16_t uwFieldIndex, KxProgressReport* pProgress = nullptr);
    // Empty, to be read from an index file or filled record by record.
    KxIndex(char type, int16_t wLength, int32_t lRecordCount);
    KxIndex(const KxIndex&) = delete;
    KxIndex& operator=(const KxIndex&) = delete;
    ~KxIndex();

    // ---- index files ----
    // Reads and checks the file; a field that asks for an inverse index gets one when the file
    // has none.
    static std::unique_ptr<KxIndex> ReadFile(const char* sFileName, const KxField& field,
                                             int32_t lRecordCount);
    // Writes a new file beside the old one and puts it in its place, so that a failure leaves
    // the old file whole. Version 510 when there is a second order, else 420. The index is no
    // longer modified afterwards.
    void WriteFile(const char* sFileName);
    // The checks come in this order: field length, record count (unless another one is
    // accepted; the index then takes the file's), type letter, then the contents. A failure
    // leaves the index as it was.
    void Read(KxInputStreamInterface& stream, bool acceptOtherRecordCount = false);
    void Write(KxOutputStreamInterface& stream, int16_t wVersion = kxVersion420) const;

    // ---- searches: the result and the mask cover the index's records ----
    // A blank key of the index's type and length, to fill with a value; the caller owns it.
    KxRecordKey* NewKey() const;
    // With a high value, every key from low to high (both included); without, the key equal to
    // low. The alternate order needs BuildAlternateOrderArray first.
    void Search(const KxRecordKey& low, const KxRecordKey* pHigh, KxSet& result,
                bool alternate = false) const;
    // Values in the raw form of KxFileRecord::GetField.
    void Search(const void* pLow, const void* pHigh, KxSet& result, bool alternate = false) const;
    void MaskedSearch(const KxRecordKey& low, const KxRecordKey* pHigh, KxSet& result,
                      const KxSet& mask, bool alternate = false) const;
    void MaskedSearch(const void* pLow, const void* pHigh, KxSet& result, const KxSet& mask,
                      bool alternate = false) const;
    void SearchExact(const KxRecordKey& value, KxSet& result, bool alternate = false) const;
    void SearchRange(const KxRecordKey& low, const KxRecordKey& high, KxSet& result,
                     bool alternate = false) const;
    void MaskExact(const KxRecordKey& value, KxSet& result, const KxSet& mask,
                   bool alternate = false) const;
    void MaskRange(const KxRecordKey& low, const KxRecordKey& high, KxSet& result,
                   const KxSet& mask, bool alternate = false) const;

    // ---- keeping step with the file ----
    // Record lRecord (1..count), not yet in the index, holds the value.
    void SetRecord(int32_t lRecord, const KxRecordKey& value);
    void SetRecord(int32_t lRecord, const void* pValue);
    // A new record at lRecord (1..count + 1); later records move up by one.
    void InsertRecord(int32_t lRecord, const KxRecordKey& value);
    // Removes record lRecord; later records move down by one.
    void DeleteRecord(int32_t lRecord);
    // Record lRecord now holds the value.
    void ModifyRecord(int32_t lRecord, const KxRecordKey& value);

    // ---- building ----
    // Replaces the contents by the field's values in the file, read record by record into a
    // buffer of its own (the file's current record stays as it was). The progress report may
    // stop the build, which then fails with a KxFileCanceledException.
    void StraightBuild(KxFile& file, uint16_t uwFieldIndex, KxProgressReport* pProgress = nullptr);
    // The same result reached as if every record were appended in turn to an empty file.
    void IterativeBuild(KxFile& file, uint16_t uwFieldIndex, KxProgressReport* pProgress = nullptr);
    void BuildInverseIndex(KxProgressReport* pProgress = nullptr);
    void DropInverseIndex();
    void BuildAlternateOrderArray();
    // True when the index holds exactly the field's values in the file.
    bool Verify(KxFile& file, uint16_t uwFieldIndex) const;

    // ---- description ----
    char GetType() const { return m_type; }
    int16_t GetLength() const { return m_prototype->GetLength(); }
    int32_t GetRecordCount() const { return m_recordCount; }
    int32_t GetKeyCount() const { return m_keys.GetCount(); }
    // lKey from 0, in increasing order.
    const KxIndexKey& GetKey(int32_t lKey) const;
    // The number (from 0) of the key holding the record; -1 when none does.
    int32_t GetKeyNumber(int32_t lRecord) const;
    bool HasInverseIndex() const { return m_inverse != nullptr; }
    bool HasAlternateOrder() const { return m_alternate != nullptr; }
    bool IsModified() const { return m_modified; }
    void SetModified(bool modified) { m_modified = modified; }

private:
    using Keys = KxSortedVector<KxIndexKey, KxPointerVector<KxIndexKey>, KxIndexKeyLess,
                                KxIndexKeyEqual>;

    // The first key not less than the value, in increasing order.
    int32_t LowerBound(const KxRecordKey& value) const;
    int32_t UpperBound(const KxRecordKey& value) const;
    int32_t AlternateLowerBound(const KxRecordKey& value) const;
    int32_t AlternateUpperBound(const KxRecordKey& value) const;
    // The key equal to the value, created when missing.
    KxIndexKey& FindOrAddKey(const KxRecordKey& value);
    void RemoveKey(KxIndexKey* pKey);
    KxIndexKey* KeyOfRecord(int32_t lRecord) const;
    void AddToAlternate(KxIndexKey* pKey);
    void RemoveFromAlternate(KxIndexKey* pKey);
    void CheckRecord(int32_t lRecord, int32_t lLast) const;
    void CheckResult(const KxSet& set) const;
    // Calls visit(key) for each key of the search, in order.
    template <typename Visit>
    void ForEachMatch(const KxRecordKey& low, const KxRecordKey* pHigh, bool alternate,
                      Visit visit) const;
    void ReadKeyValue(KxInputStreamInterface& stream, KxRecordKey& value) const;
    void WriteKeyValue(KxOutputStreamInterface& stream, const KxRecordKey& value) const;
    void Swap(KxIndex& other) noexcept;
    void Clear();

    char m_type;
    int32_t m_recordCount;
    std::unique_ptr<KxRecordKey> m_prototype;
    Keys m_keys;
    // The keys in the second order; not owned.
    std::unique_ptr<KxVector<KxIndexKey*>> m_alternate;
    std::unique_ptr<KxInverseIndex> m_inverse;
    bool m_modified = false;
};
