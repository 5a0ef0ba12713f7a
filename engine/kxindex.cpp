#include "kxindex.h"

#include <algorithm>
#include <cstring>
#include <unordered_map>
#include <utility>
#include <vector>

#include "kxengineexceptions.h"
#include "kxfield.h"
#include "kxfile.h"
#include "kxio.h"
#include "kxmemstream.h"
#include "kxrecord.h"
#include "kxstream.h"

namespace {

constexpr const char* kKey = "KxIndexKey";
constexpr const char* kInverse = "KxInverseIndex";
constexpr const char* kIndex = "KxIndex";

// Text keys shorter than this take this many bytes in an index file.
constexpr int32_t kShortTextBytes = 8;
// The zero bytes after a longer text key.
constexpr int32_t kTextPadding = 2;

// The fewest bytes a record list can take in an index file: the shorter array form holds a
// 6-byte header, the count and the index base.
constexpr uint64_t kMinimumListBytes = 6 + 4 + 4;
// A set's runs stand for at most 255 bytes of 8 records each in 2 bytes.
constexpr int64_t kRecordsPerRunPair = 255 * 8;

[[noreturn]] void ThrowNotSameSize(int32_t lThis, int32_t lOther, const char* sClass) {
    KxGenerateException(
        "The sets are not the same size; this set has %d records and the other set has %d",
        sClass, lThis, lOther);
}

uint8_t ReadByte(KxInputStreamInterface& stream) {
    uint8_t b = 0;
    stream.Read(&b, 1, true);
    return b;
}

void WriteByte(KxOutputStreamInterface& stream, uint8_t b) { stream.Write(&b, 1); }

// The second order: ASCII case folded, ties in the first order, so that it is total.
bool AlternateLess(const KxIndexKey* a, const KxIndexKey* b) {
    int c = a->GetValue().CompareAlternate(b->GetValue());
    if (c != 0) return c < 0;
    return a->GetValue().IsLessThan(b->GetValue());
}

} // namespace

// ---------------------------------------------------------------------------------------------
// KxIndexKey

KxIndexKey::KxIndexKey(KxRecordKey* pValue, int32_t lRecordCount)
    : m_value(pValue), m_recordCount(lRecordCount) {
    KX_TRY
        if (pValue == nullptr) KxGenerateException("Null pointer passed to KxIndexKey", kKey);
        if (lRecordCount < 0)
            KxGenerateException("Invalid (negative) record count %d", kKey,
                                static_cast<int>(lRecordCount));
    KX_CATCH("Constructor", kKey)
}

KxIndexKey::KxIndexKey(const KxIndexKey& other)
    : KxArrayPointerObject(), m_recordCount(other.m_recordCount) {
    KX_TRY
        m_value.reset(other.m_value->Clone());
        m_array = other.m_array;
        if (other.m_set) m_set = std::make_unique<KxSet>(*other.m_set);
    KX_CATCH_STD("Copy Constructor", kKey)
}

KxIndexKey::~KxIndexKey() = default;

KxIndexKey* KxIndexKey::Clone() const {
    KX_TRY
        return new KxIndexKey(*this);
    KX_CATCH_STD("Clone()", kKey)
}

int32_t KxIndexKey::GetCount() const {
    KX_TRY
        return m_set ? m_set->GetCount() : m_array.GetCount();
    KX_CATCH("GetCount()", kKey)
}

bool KxIndexKey::HasRecord(int32_t lRecord) const {
    KX_TRY
        if (m_set) return m_set->IsInSet(lRecord);
        return std::binary_search(m_array.begin(), m_array.end(), lRecord);
    KX_CATCH("HasRecord()", kKey)
}

const KxSet& KxIndexKey::ReadableSet(KxSet& copy) const {
    if (!m_set->IsCompressed()) return *m_set;
    copy = *m_set;
    return copy;
}

void KxIndexKey::GetRecords(KxVector<int32_t>& records) const {
    KX_TRY
        records.clear();
        if (!m_set) {
            records = m_array;
            return;
        }
        KxSet copy;
        const KxSet& set = ReadableSet(copy);
        for (int32_t r = set.GetNextInSet(0); r != 0; r = set.GetNextInSet(r)) records.push_back(r);
    KX_CATCH_STD("GetRecords()", kKey)
}

void KxIndexKey::GrowTo(int32_t lRecordCount) const {
    KX_TRY
        if (lRecordCount <= m_recordCount) return;
        if (m_set) {
            KxSet& set = *m_set;
            // Single positions up to a byte boundary, then the rest in one piece.
            while (set.GetSize() < lRecordCount && set.GetSize() % 8 != 0)
                set.AddToSet(set.GetSize() + 1, false);
            if (set.GetSize() < lRecordCount) set.ByteAppend(KxSet(lRecordCount - set.GetSize()));
        }
        m_recordCount = lRecordCount;
    KX_CATCH("GrowTo()", kKey)
}

void KxIndexKey::InsertRecord(int32_t lRecord) {
    KX_TRY
        if (lRecord < 1 || lRecord > m_recordCount + 1 || m_recordCount == INT32_MAX)
            KxGenerateException("Record %d is not a new position of a key of %d records", kKey,
                                static_cast<int>(lRecord), static_cast<int>(m_recordCount));
        if (m_set) {
            m_set->AddToSet(lRecord, false);
        } else {
            for (auto it = std::lower_bound(m_array.begin(), m_array.end(), lRecord);
                 it != m_array.end(); ++it)
                ++*it;
        }
        ++m_recordCount;
    KX_CATCH("InsertRecord()", kKey)
}

void KxIndexKey::SetRecord(int32_t lRecord) {
    KX_TRY
        if (lRecord < 1 || lRecord > m_recordCount)
            KxGenerateException("Record %d is not in a key of %d records", kKey,
                                static_cast<int>(lRecord), static_cast<int>(m_recordCount));
        if (m_set) {
            m_set->SelectRecord(lRecord, true);
            return;
        }
        auto it = std::lower_bound(m_array.begin(), m_array.end(), lRecord);
        if (it != m_array.end() && *it == lRecord) return;
        if (m_array.GetCount() >= GetArrayLimit(m_recordCount)) {
            auto set = std::make_unique<KxSet>(m_recordCount);
            for (int32_t r : m_array) set->SelectRecord(r, true);
            set->SelectRecord(lRecord, true);
            m_set = std::move(set);
            KxVector<int32_t>().swap(m_array);
            return;
        }
        m_array.insert(it, lRecord);
    KX_CATCH_STD("SetRecord()", kKey)
}

bool KxIndexKey::ClearRecordIsEmpty(int32_t lRecord) {
    KX_TRY
        if (m_set) {
            if (m_set->IsInSet(lRecord)) m_set->SelectRecord(lRecord, false);
            return m_set->GetCount() == 0;
        }
        auto it = std::lower_bound(m_array.begin(), m_array.end(), lRecord);
        if (it != m_array.end() && *it == lRecord) m_array.erase(it);
        return m_array.empty();
    KX_CATCH("ClearRecordIsEmpty()", kKey)
}

bool KxIndexKey::DeleteRecordIsEmpty(int32_t lRecord) {
    KX_TRY
        if (lRecord < 1 || lRecord > m_recordCount)
            KxGenerateException("Record %d is not in a key of %d records", kKey,
                                static_cast<int>(lRecord), static_cast<int>(m_recordCount));
        if (m_set) {
            m_set->DeleteFromSet(lRecord);
        } else {
            auto it = std::lower_bound(m_array.begin(), m_array.end(), lRecord);
            if (it != m_array.end() && *it == lRecord) it = m_array.erase(it);
            for (; it != m_array.end(); ++it) --*it;
        }
        --m_recordCount;
        return GetCount() == 0;
    KX_CATCH("DeleteRecordIsEmpty()", kKey)
}

void KxIndexKey::GetSet(KxSet& result) const {
    KX_TRY
        if (result.GetSize() != m_recordCount) ThrowNotSameSize(result.GetSize(), m_recordCount, kKey);
        if (m_set) {
            KxSet copy;
            result.OrSet(ReadableSet(copy));
            return;
        }
        for (int32_t r : m_array) result.SelectRecord(r, true);
    KX_CATCH("GetSet()", kKey)
}

void KxIndexKey::GetSet(KxSet& result, const KxSet& mask) const {
    KX_TRY
        if (result.GetSize() != m_recordCount) ThrowNotSameSize(result.GetSize(), m_recordCount, kKey);
        if (mask.GetSize() != m_recordCount) ThrowNotSameSize(mask.GetSize(), m_recordCount, kKey);
        if (m_set) {
            KxSet copy;
            result.MaskedOrSet(ReadableSet(copy), mask);
            return;
        }
        for (int32_t r : m_array)
            if (mask.IsInSet(r)) result.SelectRecord(r, true);
    KX_CATCH("GetSet()", kKey)
}

void KxIndexKey::Compress() {
    KX_TRY
        if (!m_set || m_set->IsCompressed()) return;
        // A set is stored compressed, and a set read back stays so until it is used.
        KxMemoryStream stream;
        m_set->Write(stream);
        stream.Rewind();
        auto compressed = std::make_unique<KxSet>();
        compressed->Read(stream);
        m_set = std::move(compressed);
    KX_CATCH_STD("Compress()", kKey)
}

void KxIndexKey::Write(KxOutputStreamInterface& stream) const {
    KX_TRY
        WriteByte(stream, m_set ? 1 : 0);
        if (m_set) {
            m_set->Write(stream);
        } else {
            KxVector<int32_t> array(m_array);
            array.SetBaseIndex(0);
            array.WriteAsArray(stream);
        }
    KX_CATCH_STD("Write()", kKey)
}

void KxIndexKey::Read(KxInputStreamInterface& stream) {
    KX_TRY
        uint8_t kind = ReadByte(stream);
        if (kind == 1) {
            auto set = std::make_unique<KxSet>();
            set->Read(stream);
            if (set->GetSize() != m_recordCount)
                KxGenerateException("A key of %d records holds a set of %d records", kKey,
                                    static_cast<int>(m_recordCount),
                                    static_cast<int>(set->GetSize()));
            m_set = std::move(set);
            KxVector<int32_t>().swap(m_array);
            return;
        }
        if (kind != 0) KxGenerateException("Invalid record list kind %d", kKey, static_cast<int>(kind));
        KxVector<int32_t> array;
        array.Read(stream);
        array.SetBaseIndex(0);
        for (int32_t r : array)
            if (r < 1 || r > m_recordCount)
                KxGenerateException("Record %d is not in a key of %d records", kKey,
                                    static_cast<int>(r), static_cast<int>(m_recordCount));
        std::sort(array.begin(), array.end());
        auto twice = std::adjacent_find(array.begin(), array.end());
        if (twice != array.end())
            KxGenerateException("Record %d is listed twice in a key", kKey, static_cast<int>(*twice));
        m_array.swap(array);
        m_set.reset();
    KX_CATCH_STD("Read()", kKey)
}

// ---------------------------------------------------------------------------------------------
// KxInverseIndex

KxInverseIndex::KxInverseIndex(int32_t lRecordCount) {
    KX_TRY
        if (lRecordCount < 0)
            KxGenerateException("Invalid (negative) record count %d", kInverse,
                                static_cast<int>(lRecordCount));
        m_keys.assign(static_cast<size_t>(lRecordCount), nullptr);
    KX_CATCH_STD("Constructor", kInverse)
}

void KxInverseIndex::CheckRecord(int32_t lRecord, int32_t lLast) const {
    if (lRecord < 1 || lRecord > lLast)
        KxGenerateException("Record %d is not in an inverse index of %d records", kInverse,
                            static_cast<int>(lRecord), static_cast<int>(GetRecordCount()));
}

KxIndexKey* KxInverseIndex::GetKey(int32_t lRecord) const {
    KX_TRY
        KxIndexKey* key = FindKey(lRecord);
        if (key == nullptr) KxGenerateException("No key set for record %d", kInverse, static_cast<int>(lRecord));
        return key;
    KX_CATCH("GetKey()", kInverse)
}

KxIndexKey* KxInverseIndex::FindKey(int32_t lRecord) const {
    KX_TRY
        CheckRecord(lRecord, GetRecordCount());
        return m_keys[static_cast<size_t>(lRecord - 1)];
    KX_CATCH("FindKey()", kInverse)
}

void KxInverseIndex::SetKey(int32_t lRecord, KxIndexKey* pKey) {
    KX_TRY
        CheckRecord(lRecord, GetRecordCount());
        m_keys[static_cast<size_t>(lRecord - 1)] = pKey;
    KX_CATCH("SetKey()", kInverse)
}

void KxInverseIndex::InsertRecord(int32_t lRecord) {
    KX_TRY
        CheckRecord(lRecord, GetRecordCount() + 1);
        m_keys.insert(m_keys.begin() + (lRecord - 1), nullptr);
    KX_CATCH_STD("InsertRecord()", kInverse)
}

void KxInverseIndex::DeleteRecord(int32_t lRecord) {
    KX_TRY
        CheckRecord(lRecord, GetRecordCount());
        m_keys.erase(m_keys.begin() + (lRecord - 1));
    KX_CATCH_STD("DeleteRecord()", kInverse)
}

// ---------------------------------------------------------------------------------------------
// KxIndex: construction

KxIndex::KxIndex(char type, int16_t wLength, int32_t lRecordCount)
    : m_type(type), m_recordCount(lRecordCount) {
    KX_TRY
        if (lRecordCount < 0)
            KxGenerateException("Invalid (negative) record count %d", kIndex,
                                static_cast<int>(lRecordCount));
        m_prototype.reset(KxRecordKey::NewKey(type, wLength));
    KX_CATCH_STD("Constructor", kIndex)
}

KxIndex::KxIndex(KxFile& file, uint16_t uwFieldIndex, KxProgressReport* pProgress)
    : m_type(0), m_recordCount(0) {
    KX_TRY
        const KxField& field = file.FieldGetInfo(uwFieldIndex);
        m_type = field.GetType();
        m_prototype.reset(KxRecordKey::NewKey(field.GetType(), field.GetLength()));
        StraightBuild(file, uwFieldIndex, pProgress);
        if (field.GetUseInverseIndex()) BuildInverseIndex(pProgress);
    KX_CATCH_STD("Constructor", kIndex)
}

KxIndex::~KxIndex() = default;

void KxIndex::Swap(KxIndex& other) noexcept {
    std::swap(m_type, other.m_type);
    std::swap(m_recordCount, other.m_recordCount);
    m_prototype.swap(other.m_prototype);
    m_keys.Swap(other.m_keys);
    m_alternate.swap(other.m_alternate);
    m_inverse.swap(other.m_inverse);
    std::swap(m_modified, other.m_modified);
}

void KxIndex::Clear() {
    m_alternate.reset();
    m_inverse.reset();
    m_keys.clear();
}

KxRecordKey* KxIndex::NewKey() const {
    KX_TRY
        return m_prototype->Clone();
    KX_CATCH_STD("NewKey()", kIndex)
}

const KxIndexKey& KxIndex::GetKey(int32_t lKey) const {
    KX_TRY
        return *m_keys.At(lKey);
    KX_CATCH("GetKey()", kIndex)
}

// ---------------------------------------------------------------------------------------------
// Finding keys

int32_t KxIndex::LowerBound(const KxRecordKey& value) const {
    auto it = std::lower_bound(m_keys.begin(), m_keys.end(), &value,
                               [](const KxIndexKey* key, const KxRecordKey* v) {
                                   return key->GetValue().IsLessThan(*v);
                               });
    return static_cast<int32_t>(it - m_keys.begin());
}

int32_t KxIndex::UpperBound(const KxRecordKey& value) const {
    auto it = std::upper_bound(m_keys.begin(), m_keys.end(), &value,
                               [](const KxRecordKey* v, const KxIndexKey* key) {
                                   return v->IsLessThan(key->GetValue());
                               });
    return static_cast<int32_t>(it - m_keys.begin());
}

int32_t KxIndex::AlternateLowerBound(const KxRecordKey& value) const {
    auto it = std::lower_bound(m_alternate->begin(), m_alternate->end(), &value,
                               [](const KxIndexKey* key, const KxRecordKey* v) {
                                   return key->GetValue().CompareAlternate(*v) < 0;
                               });
    return static_cast<int32_t>(it - m_alternate->begin());
}

int32_t KxIndex::AlternateUpperBound(const KxRecordKey& value) const {
    auto it = std::upper_bound(m_alternate->begin(), m_alternate->end(), &value,
                               [](const KxRecordKey* v, const KxIndexKey* key) {
                                   return key->GetValue().CompareAlternate(*v) > 0;
                               });
    return static_cast<int32_t>(it - m_alternate->begin());
}

void KxIndex::CheckRecord(int32_t lRecord, int32_t lLast) const {
    if (lRecord < 1 || lRecord > lLast)
        KxGenerateException("Record %d is not in an index of %d records", kIndex,
                            static_cast<int>(lRecord), static_cast<int>(m_recordCount));
}

void KxIndex::CheckResult(const KxSet& set) const {
    if (set.GetSize() != m_recordCount) ThrowNotSameSize(set.GetSize(), m_recordCount, kIndex);
}

namespace {
void CheckValueKind(const KxRecordKey& prototype, const KxRecordKey& value) {
    if (value.GetType() != prototype.GetType() || value.GetLength() != prototype.GetLength())
        KxGenerateException(
            "A key of type '%c' and length %hd does not fit an index of type '%c' and length %hd",
            kIndex, value.GetType(), value.GetLength(), prototype.GetType(),
            prototype.GetLength());
}
} // namespace

KxIndexKey& KxIndex::FindOrAddKey(const KxRecordKey& value) {
    int32_t position = LowerBound(value);
    if (position < m_keys.GetCount() &&
        m_keys[static_cast<size_t>(position)]->GetValue().IsEqual(value))
        return *m_keys[static_cast<size_t>(position)];
    auto key = std::make_unique<KxIndexKey>(value.Clone(), m_recordCount);
    m_keys.reserve(m_keys.size() + 1);
    if (m_alternate) m_alternate->reserve(m_alternate->size() + 1);
    KxIndexKey* added = key.get();
    // Nothing below can fail: both vectors have room.
    m_keys.insert(m_keys.begin() + position, key.release());
    if (m_alternate) AddToAlternate(added);
    return *added;
}

void KxIndex::AddToAlternate(KxIndexKey* pKey) {
    auto it = std::lower_bound(m_alternate->begin(), m_alternate->end(), pKey, AlternateLess);
    m_alternate->insert(it, pKey);
}

void KxIndex::RemoveFromAlternate(KxIndexKey* pKey) {
    auto it = std::lower_bound(m_alternate->begin(), m_alternate->end(), pKey, AlternateLess);
    if (it != m_alternate->end() && *it == pKey) m_alternate->erase(it);
}

void KxIndex::RemoveKey(KxIndexKey* pKey) {
    int32_t position = LowerBound(pKey->GetValue());
    if (position >= m_keys.GetCount() || m_keys[static_cast<size_t>(position)] != pKey) return;
    if (m_alternate) RemoveFromAlternate(pKey);
    m_keys.erase(m_keys.cbegin() + position);
}

KxIndexKey* KxIndex::KeyOfRecord(int32_t lRecord) const {
    if (m_inverse) return m_inverse->FindKey(lRecord);
    for (KxIndexKey* key : m_keys)
        if (key->HasRecord(lRecord)) return key;
    return nullptr;
}

int32_t KxIndex::GetKeyNumber(int32_t lRecord) const {
    KX_TRY
        CheckRecord(lRecord, m_recordCount);
        KxIndexKey* key = KeyOfRecord(lRecord);
        if (key == nullptr) return -1;
        return LowerBound(key->GetValue());
    KX_CATCH("GetKeyNumber()", kIndex)
}

// ---------------------------------------------------------------------------------------------
// Searches

template <typename Visit>
void KxIndex::ForEachMatch(const KxRecordKey& low, const KxRecordKey* pHigh, bool alternate,
                           Visit visit) const {
    CheckValueKind(*m_prototype, low);
    if (pHigh != nullptr) CheckValueKind(*m_prototype, *pHigh);
    if (alternate) {
        if (!m_alternate)
            KxGenerateException("Cannot search on the given order; no alternate key array.",
                                kIndex);
        const KxRecordKey& high = pHigh != nullptr ? *pHigh : low;
        int32_t first = AlternateLowerBound(low), last = AlternateUpperBound(high);
        for (int32_t i = first; i < last; ++i) visit(*(*m_alternate)[static_cast<size_t>(i)]);
        return;
    }
    if (pHigh == nullptr) {
        int32_t position = LowerBound(low);
        if (position < m_keys.GetCount() &&
            m_keys[static_cast<size_t>(position)]->GetValue().IsEqual(low))
            visit(*m_keys[static_cast<size_t>(position)]);
        return;
    }
    int32_t first = LowerBound(low), last = UpperBound(*pHigh);
    for (int32_t i = first; i < last; ++i) visit(*m_keys[static_cast<size_t>(i)]);
}

void KxIndex::Search(const KxRecordKey& low, const KxRecordKey* pHigh, KxSet& result,
                     bool alternate) const {
    KX_TRY
        CheckResult(result);
        ForEachMatch(low, pHigh, alternate, [&](const KxIndexKey& key) {
            key.GrowTo(m_recordCount);
            key.GetSet(result);
        });
    KX_CATCH("Search()", kIndex)
}

void KxIndex::MaskedSearch(const KxRecordKey& low, const KxRecordKey* pHigh, KxSet& result,
                           const KxSet& mask, bool alternate) const {
    KX_TRY
        CheckResult(result);
        CheckResult(mask);
        ForEachMatch(low, pHigh, alternate, [&](const KxIndexKey& key) {
            key.GrowTo(m_recordCount);
            key.GetSet(result, mask);
        });
    KX_CATCH("MaskedSearch()", kIndex)
}

void KxIndex::Search(const void* pLow, const void* pHigh, KxSet& result, bool alternate) const {
    KX_TRY
        std::unique_ptr<KxRecordKey> low(NewKey()), high;
        low->SetRaw(pLow);
        if (pHigh != nullptr) {
            high.reset(NewKey());
            high->SetRaw(pHigh);
        }
        Search(*low, high.get(), result, alternate);
    KX_CATCH_STD("Search()", kIndex)
}

void KxIndex::MaskedSearch(const void* pLow, const void* pHigh, KxSet& result, const KxSet& mask,
                           bool alternate) const {
    KX_TRY
        std::unique_ptr<KxRecordKey> low(NewKey()), high;
        low->SetRaw(pLow);
        if (pHigh != nullptr) {
            high.reset(NewKey());
            high->SetRaw(pHigh);
        }
        MaskedSearch(*low, high.get(), result, mask, alternate);
    KX_CATCH_STD("MaskedSearch()", kIndex)
}

void KxIndex::SearchExact(const KxRecordKey& value, KxSet& result, bool alternate) const {
    KX_TRY
        Search(value, nullptr, result, alternate);
    KX_CATCH("SearchExact()", kIndex)
}

void KxIndex::SearchRange(const KxRecordKey& low, const KxRecordKey& high, KxSet& result,
                          bool alternate) const {
    KX_TRY
        Search(low, &high, result, alternate);
    KX_CATCH("SearchRange()", kIndex)
}

void KxIndex::MaskExact(const KxRecordKey& value, KxSet& result, const KxSet& mask,
                        bool alternate) const {
    KX_TRY
        MaskedSearch(value, nullptr, result, mask, alternate);
    KX_CATCH("MaskExact()", kIndex)
}

void KxIndex::MaskRange(const KxRecordKey& low, const KxRecordKey& high, KxSet& result,
                        const KxSet& mask, bool alternate) const {
    KX_TRY
        MaskedSearch(low, &high, result, mask, alternate);
    KX_CATCH("MaskRange()", kIndex)
}

// ---------------------------------------------------------------------------------------------
// Keeping step with the file

void KxIndex::SetRecord(int32_t lRecord, const KxRecordKey& value) {
    KX_TRY
        CheckValueKind(*m_prototype, value);
        CheckRecord(lRecord, m_recordCount);
        KxIndexKey* old = m_inverse ? m_inverse->FindKey(lRecord) : nullptr;
        if (old != nullptr && old->GetValue().IsEqual(value)) return;
        int32_t position = LowerBound(value);
        bool existed = position < m_keys.GetCount() &&
                       m_keys[static_cast<size_t>(position)]->GetValue().IsEqual(value);
        KxIndexKey& key = FindOrAddKey(value);
        try {
            key.GrowTo(m_recordCount);
            key.SetRecord(lRecord);
        } catch (...) {
            if (!existed) RemoveKey(&key);
            throw;
        }
        m_modified = true;
        if (m_inverse) m_inverse->SetKey(lRecord, &key);
        if (old != nullptr && old->ClearRecordIsEmpty(lRecord)) RemoveKey(old);
    KX_CATCH_STD("SetRecord()", kIndex)
}

void KxIndex::SetRecord(int32_t lRecord, const void* pValue) {
    KX_TRY
        std::unique_ptr<KxRecordKey> value(NewKey());
        value->SetRaw(pValue);
        SetRecord(lRecord, *value);
    KX_CATCH_STD("SetRecord()", kIndex)
}

void KxIndex::ModifyRecord(int32_t lRecord, const KxRecordKey& value) {
    KX_TRY
        CheckValueKind(*m_prototype, value);
        CheckRecord(lRecord, m_recordCount);
        KxIndexKey* old = KeyOfRecord(lRecord);
        if (old != nullptr && old->GetValue().IsEqual(value)) return;
        if (old != nullptr) {
            // Taken out first, so that SetRecord sees a record without a key.
            old->GrowTo(m_recordCount);
            if (old->ClearRecordIsEmpty(lRecord)) RemoveKey(old);
            if (m_inverse) m_inverse->SetKey(lRecord, nullptr);
            m_modified = true;
        }
        SetRecord(lRecord, value);
    KX_CATCH("ModifyRecord()", kIndex)
}

void KxIndex::InsertRecord(int32_t lRecord, const KxRecordKey& value) {
    KX_TRY
        CheckValueKind(*m_prototype, value);
        CheckRecord(lRecord, m_recordCount + 1);
        if (m_recordCount == INT32_MAX)
            KxGenerateException("An index can not hold more than %d records", kIndex, INT32_MAX);
        if (m_inverse) m_inverse->InsertRecord(lRecord);
        // A record appended at the end moves nothing: the keys grow when next used.
        if (lRecord <= m_recordCount) {
            for (KxIndexKey* key : m_keys) {
                key->GrowTo(m_recordCount);
                key->InsertRecord(lRecord);
            }
        }
        ++m_recordCount;
        m_modified = true;
        try {
            SetRecord(lRecord, value);
        } catch (...) {
            try {
                DeleteRecord(lRecord);
            } catch (...) {
            }
            throw;
        }
    KX_CATCH("InsertRecord()", kIndex)
}

void KxIndex::DeleteRecord(int32_t lRecord) {
    KX_TRY
        CheckRecord(lRecord, m_recordCount);
        KxIndexKey* holder = KeyOfRecord(lRecord);
        for (KxIndexKey* key : m_keys) {
            key->GrowTo(m_recordCount);
            key->DeleteRecordIsEmpty(lRecord);
        }
        --m_recordCount;
        m_modified = true;
        if (m_inverse) m_inverse->DeleteRecord(lRecord);
        if (holder != nullptr && holder->GetCount() == 0) RemoveKey(holder);
    KX_CATCH("DeleteRecord()", kIndex)
}

// ---------------------------------------------------------------------------------------------
// Building

void KxIndex::StraightBuild(KxFile& file, uint16_t uwFieldIndex, KxProgressReport* pProgress) {
    KX_TRY
        const KxField& field = file.FieldGetInfo(uwFieldIndex);
        if (field.GetType() != m_type || field.GetLength() != GetLength())
            KxGenerateException(
                "Field %hu of type '%c' and length %hd can not fill an index of type '%c' and "
                "length %hd",
                kIndex, uwFieldIndex, field.GetType(), field.GetLength(), m_type, GetLength());
        int32_t count = file.GetNumberOfRecords();
        KxString base(file.GetBaseName());
        if (pProgress != nullptr) {
            KxString task, detail;
            task.printf("Indexing %d records...", static_cast<int>(count));
            detail.printf("Field \"%s\" of \"%s\"", field.GetName(), base.GetCString());
            pProgress->SetTask(task);
            pProgress->SetDetail(detail);
            pProgress->SetRange(0, count);
        }

        // The values are gathered and sorted once, rather than each inserted in turn into the
        // growing key array, which would cost time quadratic in the number of distinct values.
        struct Entry {
            std::unique_ptr<KxRecordKey> value;
            int32_t record;
        };
        std::vector<Entry> entries;
        entries.reserve(static_cast<size_t>(count));
        std::unique_ptr<KxFileRecord> scratch(file.GetNewRecord());
        int32_t current = file.GetCurrentRecordNumber();
        auto putBack = [&] {
            if (current > 0 && current <= file.GetNumberOfRecords())
                file.GotoRecord(current, scratch.get());
        };
        try {
            for (int32_t r = 1; r <= count; ++r) {
                file.GotoRecord(r, scratch.get());
                std::unique_ptr<KxRecordKey> value(NewKey());
                value->Load(*scratch, uwFieldIndex);
                entries.push_back(Entry{std::move(value), r});
                if (r % kxProgressStep == 0 && pProgress != nullptr) {
                    pProgress->SetPosition(r);
                    if (!pProgress->Continue()) {
                        KxString message;
                        message.printf("Build of index on field \"%s\" of file \"%s\" was halted by user.",
                                       field.GetName(), base.GetCString());
                        throw KxFileCanceledException(message, kIndex);
                    }
                }
            }
        } catch (...) {
            try {
                putBack();
            } catch (...) {
            }
            throw;
        }
        putBack();

        std::stable_sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) {
            return a.value->IsLessThan(*b.value);
        });
        KxIndex built(m_type, GetLength(), count);
        int32_t limit = KxIndexKey::GetArrayLimit(count);
        for (size_t i = 0; i < entries.size();) {
            size_t end = i + 1;
            while (end < entries.size() && entries[end].value->IsEqual(*entries[i].value)) ++end;
            auto key = std::make_unique<KxIndexKey>(entries[i].value.release(), count);
            // Records in increasing order: the stable sort kept the order of the scan.
            if (static_cast<int64_t>(end - i) > limit) {
                auto set = std::make_unique<KxSet>(count);
                for (size_t j = i; j < end; ++j) set->SelectRecord(entries[j].record, true);
                key->m_set = std::move(set);
            } else {
                key->m_array.reserve(end - i);
                for (size_t j = i; j < end; ++j) key->m_array.push_back(entries[j].record);
            }
            built.m_keys.push_back(key.get());
            key.release();
            i = end;
        }
        bool inverse = m_inverse != nullptr, alternate = m_alternate != nullptr;
        if (inverse) built.BuildInverseIndex(nullptr);
        if (alternate) built.BuildAlternateOrderArray();
        built.m_modified = true;
        Swap(built);
    KX_CATCH_STD("StraightBuild()", kIndex)
}

void KxIndex::IterativeBuild(KxFile& file, uint16_t uwFieldIndex, KxProgressReport* pProgress) {
    KX_TRY
        const KxField& field = file.FieldGetInfo(uwFieldIndex);
        if (field.GetType() != m_type || field.GetLength() != GetLength())
            KxGenerateException(
                "Field %hu of type '%c' and length %hd can not fill an index of type '%c' and "
                "length %hd",
                kIndex, uwFieldIndex, field.GetType(), field.GetLength(), m_type, GetLength());
        int32_t count = file.GetNumberOfRecords();
        KxString base(file.GetBaseName());
        if (pProgress != nullptr) {
            KxString task, detail;
            task.printf("Indexing %d records...", static_cast<int>(count));
            detail.printf("Field \"%s\" of \"%s\"", field.GetName(), base.GetCString());
            pProgress->SetTask(task);
            pProgress->SetDetail(detail);
            pProgress->SetRange(0, count);
        }
        KxIndex built(m_type, GetLength(), 0);
        if (m_inverse) built.m_inverse = std::make_unique<KxInverseIndex>(0);
        if (m_alternate) built.m_alternate = std::make_unique<KxVector<KxIndexKey*>>();
        std::unique_ptr<KxFileRecord> scratch(file.GetNewRecord());
        std::unique_ptr<KxRecordKey> value(NewKey());
        int32_t current = file.GetCurrentRecordNumber();
        auto putBack = [&] {
            if (current > 0 && current <= file.GetNumberOfRecords())
                file.GotoRecord(current, scratch.get());
        };
        try {
            for (int32_t r = 1; r <= count; ++r) {
                file.GotoRecord(r, scratch.get());
                value->Load(*scratch, uwFieldIndex);
                built.InsertRecord(r, *value);
                if (r % kxProgressStep == 0 && pProgress != nullptr) {
                    pProgress->SetPosition(r);
                    if (!pProgress->Continue()) {
                        KxString message;
                        message.printf("Build of index on field \"%s\" of file \"%s\" was halted by user.",
                                       field.GetName(), base.GetCString());
                        throw KxFileCanceledException(message, kIndex);
                    }
                }
            }
        } catch (...) {
            try {
                putBack();
            } catch (...) {
            }
            throw;
        }
        putBack();
        built.m_modified = true;
        Swap(built);
    KX_CATCH_STD("IterativeBuild()", kIndex)
}

void KxIndex::BuildInverseIndex(KxProgressReport* pProgress) {
    KX_TRY
        if (pProgress != nullptr) {
            KxString task;
            task.printf("Building inverse index for %d keys...", static_cast<int>(m_keys.GetCount()));
            pProgress->SetTask(task);
            pProgress->SetRange(0, m_keys.GetCount());
        }
        auto inverse = std::make_unique<KxInverseIndex>(m_recordCount);
        KxVector<int32_t> records;
        for (int32_t k = 0; k < m_keys.GetCount(); ++k) {
            KxIndexKey* key = m_keys[static_cast<size_t>(k)];
            key->GrowTo(m_recordCount);
            key->GetRecords(records);
            for (int32_t r : records) inverse->SetKey(r, key);
            if ((k + 1) % kxProgressStep == 0 && pProgress != nullptr) {
                pProgress->SetPosition(k + 1);
                if (!pProgress->Continue())
                    throw KxFileCanceledException("Build of inverse index interrupted by user.",
                                                  kIndex);
            }
        }
        m_inverse = std::move(inverse);
    KX_CATCH_STD("BuildInverseIndex()", kIndex)
}

void KxIndex::DropInverseIndex() { m_inverse.reset(); }

void KxIndex::BuildAlternateOrderArray() {
    KX_TRY
        auto alternate = std::make_unique<KxVector<KxIndexKey*>>(m_keys.begin(), m_keys.end());
        std::stable_sort(alternate->begin(), alternate->end(), AlternateLess);
        m_alternate = std::move(alternate);
    KX_CATCH_STD("BuildAlternateOrderArray()", kIndex)
}

bool KxIndex::Verify(KxFile& file, uint16_t uwFieldIndex) const {
    KX_TRY
        const KxField& field = file.FieldGetInfo(uwFieldIndex);
        if (field.GetType() != m_type || field.GetLength() != GetLength()) return false;
        if (file.GetNumberOfRecords() != m_recordCount) return false;
        int64_t held = 0;
        for (int32_t k = 0; k < m_keys.GetCount(); ++k) {
            const KxIndexKey& key = *m_keys[static_cast<size_t>(k)];
            if (k > 0 && !m_keys[static_cast<size_t>(k - 1)]->GetValue().IsLessThan(key.GetValue()))
                return false;
            key.GrowTo(m_recordCount);
            int32_t n = key.GetCount();
            if (n == 0) return false;
            held += n;
        }
        if (held != m_recordCount) return false;
        if (m_alternate && m_alternate->GetCount() != m_keys.GetCount()) return false;
        std::unique_ptr<KxFileRecord> scratch(file.GetNewRecord());
        std::unique_ptr<KxRecordKey> value(NewKey());
        int32_t current = file.GetCurrentRecordNumber();
        bool same = true;
        for (int32_t r = 1; r <= m_recordCount && same; ++r) {
            file.GotoRecord(r, scratch.get());
            value->Load(*scratch, uwFieldIndex);
            int32_t position = LowerBound(*value);
            same = position < m_keys.GetCount() &&
                   m_keys[static_cast<size_t>(position)]->GetValue().IsEqual(*value) &&
                   m_keys[static_cast<size_t>(position)]->HasRecord(r) &&
                   (!m_inverse || m_inverse->FindKey(r) == m_keys[static_cast<size_t>(position)]);
        }
        if (current > 0 && current <= file.GetNumberOfRecords()) file.GotoRecord(current, scratch.get());
        return same;
    KX_CATCH_STD("Verify()", kIndex)
}

// ---------------------------------------------------------------------------------------------
// Index files

void KxIndex::WriteKeyValue(KxOutputStreamInterface& stream, const KxRecordKey& value) const {
    value.Write(stream);
    if (!value.IsText()) return;
    int32_t length = std::max<int16_t>(value.GetLength(), 0);
    static const unsigned char zeros[kShortTextBytes] = {};
    if (length >= kShortTextBytes)
        stream.Write(zeros, kTextPadding);
    else
        stream.Write(zeros, static_cast<uint32_t>(kShortTextBytes - length));
}

void KxIndex::ReadKeyValue(KxInputStreamInterface& stream, KxRecordKey& value) const {
    if (!value.IsText()) {
        value.Read(stream);
        return;
    }
    int32_t length = std::max<int16_t>(value.GetLength(), 0);
    if (length >= kShortTextBytes) {
        value.Read(stream);
        unsigned char padding[kTextPadding];
        stream.Read(padding, kTextPadding, true);
        return;
    }
    unsigned char bytes[kShortTextBytes];
    stream.Read(bytes, kShortTextBytes, true);
    KxMemoryStream text(bytes, kShortTextBytes);
    value.Read(text);
}

void KxIndex::Write(KxOutputStreamInterface& stream, int16_t wVersion) const {
    KX_TRY
        if (wVersion != kxVersion400 && wVersion != kxVersion420 && wVersion != kxVersion510)
            KxGenerateException("Index files can not be written with version %hd", kIndex,
                                wVersion);
        stream.WriteKxHeader(kxHeaderType, wVersion);
        WriteByte(stream, static_cast<uint8_t>(m_type));
        stream.WriteShort(GetLength());
        stream.WriteLong(m_recordCount);
        stream.WriteLong(m_keys.GetCount());
        for (const KxIndexKey* key : m_keys) {
            key->GrowTo(m_recordCount);
            WriteKeyValue(stream, key->GetValue());
            key->Write(stream);
        }
        if (wVersion < kxVersion420) return;

        std::unordered_map<const KxIndexKey*, int32_t> ordinals;
        if (m_inverse || m_alternate) {
            ordinals.reserve(m_keys.size());
            for (int32_t k = 0; k < m_keys.GetCount(); ++k) ordinals.emplace(m_keys[static_cast<size_t>(k)], k);
        }
        WriteByte(stream, m_inverse ? 1 : 0);
        if (m_inverse) {
            if (m_inverse->GetRecordCount() != m_recordCount)
                KxGenerateException("The inverse index has %d records, but the index has %d",
                                    kIndex, static_cast<int>(m_inverse->GetRecordCount()),
                                    static_cast<int>(m_recordCount));
            KxVector<int32_t> numbers;
            numbers.reserve(static_cast<size_t>(m_recordCount));
            for (int32_t r = 1; r <= m_recordCount; ++r)
                numbers.push_back(ordinals.at(m_inverse->GetKey(r)));
            numbers.WriteAsArray(stream);
        }
        if (wVersion < kxVersion510) return;
        WriteByte(stream, m_alternate ? 1 : 0);
        if (m_alternate) {
            KxVector<int32_t> numbers;
            numbers.reserve(m_alternate->size());
            for (const KxIndexKey* key : *m_alternate) {
                auto found = ordinals.find(key);
                if (found == ordinals.end())
                    KxGenerateException("Unable to find key %d in alternate index", kIndex,
                                        static_cast<int>(numbers.GetCount()));
                numbers.push_back(found->second);
            }
            numbers.WriteAsArray(stream);
        }
    KX_CATCH_STD("Write()", kIndex)
}

void KxIndex::Read(KxInputStreamInterface& stream, bool acceptOtherRecordCount) {
    KX_TRY
        KxString name;
        stream.GetStreamName(name);
        const char* file = name.GetCString();
        int16_t version = stream.ReadKxHeader(kxHeaderType);
        if (version != kxVersion400 && version != kxVersion420 && version != kxVersion510)
            KxGenerateException("Index file \"%s\" has unknown version %hd", kIndex, file, version);
        char type = static_cast<char>(ReadByte(stream));
        int16_t length = stream.ReadShort();
        int32_t records = stream.ReadLong();
        int32_t keyCount = stream.ReadLong();
        if (length != GetLength())
            KxGenerateException("Index file \"%s\" has field length of %hd, but field length is %hd",
                                kIndex, file, length, GetLength());
        if (!acceptOtherRecordCount && records != m_recordCount)
            KxGenerateException("Index file \"%s\" has %ld records, but file has %ld records",
                                kIndex, file, static_cast<long>(records),
                                static_cast<long>(m_recordCount));
        if (type != m_type)
            KxGenerateException("Index file \"%s\" is for field of type '%c', but field  is of type '%c'",
                                kIndex, file, type != 0 ? type : ' ', m_type);
        if (records < 0)
            KxGenerateException("Index file \"%s\" is damaged: %ld records", kIndex, file,
                                static_cast<long>(records));
        // Every key holds at least one record.
        if (keyCount < 0 || keyCount > records)
            KxGenerateException("Index file \"%s\" is damaged: %ld keys for %ld records", kIndex,
                                file, static_cast<long>(keyCount), static_cast<long>(records));
        // Counts the stream cannot hold are refused before anything is sized by them.
        uint64_t available = stream.GetBytesAvailable();
        if (available != kxUnknownStreamLength) {
            std::unique_ptr<KxRecordKey> probe(NewKey());
            KxMemoryStream sized;
            WriteKeyValue(sized, *probe);
            uint64_t perKey = sized.GetSize() + 1 + kMinimumListBytes;
            uint64_t leastForRecords =
                records > 0 ? 2 * static_cast<uint64_t>((records + kRecordsPerRunPair - 1) / kRecordsPerRunPair) : 0;
            if (static_cast<uint64_t>(keyCount) * perKey > available || leastForRecords > available)
                KxGenerateException("Index file \"%s\" is truncated: %ld keys for %ld records in %llu bytes",
                                    kIndex, file, static_cast<long>(keyCount),
                                    static_cast<long>(records),
                                    static_cast<unsigned long long>(available));
        }

        KxIndex read(m_type, GetLength(), records);
        KxSet seen(records);
        for (int32_t k = 0; k < keyCount; ++k) {
            std::unique_ptr<KxRecordKey> value(NewKey());
            ReadKeyValue(stream, *value);
            if (k > 0 && !read.m_keys.back()->GetValue().IsLessThan(*value))
                KxGenerateException("Index file \"%s\" is damaged: key %ld is out of order",
                                    kIndex, file, static_cast<long>(k));
            auto key = std::make_unique<KxIndexKey>(value.release(), records);
            key->Read(stream);
            // Every record has exactly one key.
            if (key->IsSet()) {
                KxSet members(records);
                key->GetSet(members);
                KxSet overlap(members);
                overlap.AndSet(seen);
                if (overlap.GetCount() > 0)
                    KxGenerateException(
                        "Index file \"%s\" is damaged: record %d has more than one key", kIndex,
                        file, static_cast<int>(overlap.GetNextInSet(0)));
                if (members.GetCount() == 0)
                    KxGenerateException("Index file \"%s\" is damaged: key %ld holds no records",
                                        kIndex, file, static_cast<long>(k));
                seen.OrSet(members);
            } else {
                if (key->m_array.empty())
                    KxGenerateException("Index file \"%s\" is damaged: key %ld holds no records",
                                        kIndex, file, static_cast<long>(k));
                for (int32_t r : key->m_array) {
                    if (seen.IsInSet(r))
                        KxGenerateException(
                            "Index file \"%s\" is damaged: record %d has more than one key",
                            kIndex, file, static_cast<int>(r));
                    seen.SelectRecord(r, true);
                }
            }
            read.m_keys.push_back(key.get());
            key.release();
        }
        if (seen.GetCount() != records)
            KxGenerateException("Index file \"%s\" is damaged: %ld of %ld records have a key",
                                kIndex, file, static_cast<long>(seen.GetCount()),
                                static_cast<long>(records));

        if (version >= kxVersion420) {
            uint8_t flag = ReadByte(stream);
            if (flag > 1)
                KxGenerateException("Index file \"%s\" is damaged: inverse index flag %d", kIndex,
                                    file, static_cast<int>(flag));
            if (flag == 1) {
                // The stored numbers must be what the keys say; the index keeps its own.
                KxVector<int32_t> numbers;
                numbers.Read(stream);
                read.BuildInverseIndex(nullptr);
                bool same = numbers.GetCount() == records;
                for (int32_t r = 1; r <= records && same; ++r) {
                    int32_t n = numbers[static_cast<size_t>(r - 1)];
                    same = n >= 0 && n < keyCount &&
                           read.m_keys[static_cast<size_t>(n)] == read.m_inverse->FindKey(r);
                }
                if (!same)
                    KxGenerateException("Index file \"%s\" is damaged: the inverse index does not match its keys",
                                        kIndex, file);
            }
        }
        if (version >= kxVersion510) {
            uint8_t flag = ReadByte(stream);
            if (flag > 1)
                KxGenerateException("Index file \"%s\" is damaged: alternate order flag %d", kIndex,
                                    file, static_cast<int>(flag));
            if (flag == 1) {
                KxVector<int32_t> numbers;
                numbers.Read(stream);
                read.BuildAlternateOrderArray();
                bool same = numbers.GetCount() == keyCount;
                for (int32_t i = 0; i < keyCount && same; ++i) {
                    int32_t n = numbers[static_cast<size_t>(i)];
                    same = n >= 0 && n < keyCount &&
                           read.m_keys[static_cast<size_t>(n)] == (*read.m_alternate)[static_cast<size_t>(i)];
                }
                if (!same)
                    KxGenerateException("Index file \"%s\" is damaged: the alternate order does not match its keys",
                                        kIndex, file);
            }
        }
        read.m_modified = false;
        Swap(read);
    KX_CATCH_STD("Read()", kIndex)
}

std::unique_ptr<KxIndex> KxIndex::ReadFile(const char* sFileName, const KxField& field,
                                           int32_t lRecordCount) {
    KX_TRY
        if (sFileName == nullptr) KxGenerateException("Null pointer to filename", kIndex);
        auto index = std::make_unique<KxIndex>(field.GetType(), field.GetLength(), lRecordCount);
        {
            KxIO in(sFileName, kxIORead);
            index->Read(in, false);
            in.Close();
        }
        if (field.GetUseInverseIndex() && !index->HasInverseIndex()) index->BuildInverseIndex();
        index->SetModified(false);
        return index;
    KX_CATCH_STD("ReadFile()", kIndex)
}

void KxIndex::WriteFile(const char* sFileName) {
    KX_TRY
        if (sFileName == nullptr) KxGenerateException("Null pointer to filename", kIndex);
        KxFileName name(sFileName);
        KxString tempName;
        KxIOInterface::GetTempFileName(tempName, name.GetLocation(), "~kxidx");
        try {
            KxIO out(tempName, kxIOOpenTemporary);
            out.Truncate64(0);
            Write(out, m_alternate ? kxVersion510 : kxVersion420);
            out.Close();
            KxIOInterface::Rename(sFileName, tempName);
        } catch (...) {
            try {
                if (KxIOInterface::Exists(tempName)) KxIOInterface::Delete(tempName);
            } catch (...) {
            }
            throw;
        }
        m_modified = false;
    KX_CATCH_STD("WriteFile()", kIndex)
}
