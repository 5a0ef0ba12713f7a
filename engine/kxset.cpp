#include "kxset.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <utility>

#include "kxexception.h"
#include "kxstream.h"

namespace {

constexpr const char* kClass = "KxSet";

// Bytes read from a stream in one piece while the compressed bytes are collected, so that a
// corrupt byte count costs at most this much before the short read shows.
constexpr int32_t kReadPiece = 64 * 1024;

// Compressed bytes are written through a buffer of this size.
constexpr int32_t kWritePiece = 4096;

constexpr int32_t kMaxRun = 255;

struct BitCountTable {
    unsigned char counts[256];
    constexpr BitCountTable() : counts() {
        for (int i = 0; i < 256; ++i) {
            int n = 0;
            for (int v = i; v != 0; v >>= 1) n += v & 1;
            counts[i] = static_cast<unsigned char>(n);
        }
    }
};
constexpr BitCountTable kBitCounts;

int32_t ByteCountFor(int32_t lSize) {
    return static_cast<int32_t>((static_cast<int64_t>(lSize) + 7) / 8);
}

unsigned char MaskOf(int32_t lBit) { return static_cast<unsigned char>(0x80u >> (lBit % 8)); }

// Eight bytes as one word with the first byte most significant, so that the lowest record of
// the word is its most significant bit, as within a byte.
uint64_t LoadWord(const unsigned char* p) {
    uint64_t w;
    memcpy(&w, p, sizeof w);
    if constexpr (std::endian::native == std::endian::little) w = __builtin_bswap64(w);
    return w;
}

uint64_t LoadNative(const unsigned char* p) {
    uint64_t w;
    memcpy(&w, p, sizeof w);
    return w;
}

void StoreNative(unsigned char* p, uint64_t w) { memcpy(p, &w, sizeof w); }

[[noreturn]] void ThrowRecordError(int32_t lRecord, int32_t lSize) {
    KxGenerateException("Set record value of %ld not valid for set with %ld records.", kClass,
                        static_cast<long>(lRecord), static_cast<long>(lSize));
}

[[noreturn]] void ThrowOverrun(int64_t reached, int32_t lByteCount) {
    KxGenerateException("Overrun! Wrote up to %d bytes in a %d byte chunk", kClass,
                        static_cast<int>(std::min<int64_t>(reached, INT32_MAX)), lByteCount);
}

// Walks compressed bytes [0, length) and calls emit(offset, byte, repeat) for each token. A zero run
// length is no form the writer makes and is refused as damage.
template <typename Emit>
void WalkRuns(const unsigned char* p, int32_t length, int32_t lByteCount, Emit emit) {
    int64_t written = 0;
    int32_t i = 0;
    while (i < length) {
        unsigned char b = p[i++];
        int32_t repeat = 1;
        if (b == 0x00 || b == 0xFF) {
            if (i >= length)
                KxGenerateException("Compressed set data ends inside a run", kClass);
            repeat = p[i++];
            if (repeat == 0)
                KxGenerateException("Invalid run length 0 in compressed set data", kClass);
        }
        if (written + repeat > lByteCount) ThrowOverrun(written + repeat, lByteCount);
        emit(written, b, repeat);
        written += repeat;
    }
    if (written != lByteCount)
        KxGenerateException("Compressed set data holds %d of %d bytes", kClass,
                            static_cast<int>(written), lByteCount);
}

} // namespace

KxSet::KxSet(int32_t lSize, bool all)
    : m_count(0), m_byteCount(0), m_size(0), m_compressed(false), m_compressedLength(0) {
    KX_TRY
        Reset(lSize, all);
    KX_CATCH("Constructor", kClass)
}

KxSet::KxSet(const KxSet& other)
    : KxArrayPointerObject(), m_count(other.m_count), m_byteCount(other.m_byteCount),
      m_size(other.m_size), m_compressed(other.m_compressed), m_bytes(),
      m_compressedLength(other.m_compressedLength) {
    KX_TRY
        m_bytes = other.m_bytes;
    KX_CATCH("Copy Constructor", kClass)
}

KxSet& KxSet::operator=(const KxSet& other) {
    KX_TRY
        Copy(other);
        return *this;
    KX_CATCH("Assignment operator", kClass)
}

KxSet::~KxSet() = default;

KxSet* KxSet::Clone() const {
    KX_TRY
        return new KxSet(*this);
    KX_CATCH("Clone()", kClass)
}

void KxSet::Swap(KxSet& other) noexcept {
    std::swap(m_count, other.m_count);
    std::swap(m_byteCount, other.m_byteCount);
    std::swap(m_size, other.m_size);
    std::swap(m_compressed, other.m_compressed);
    m_bytes.Swap(other.m_bytes);
    std::swap(m_compressedLength, other.m_compressedLength);
}

void KxSet::Copy(const KxSet& other) {
    KX_TRY
        if (this == &other) return;
        KxSet copy(other);
        Swap(copy);
    KX_CATCH("Copy()", kClass)
}

void KxSet::Reset(int32_t lSize, bool all) {
    KX_TRY
        if (lSize < 0) KxGenerateException("Invalid (negative) set size requested.", kClass);
        int32_t byteCount = ByteCountFor(lSize);
        KxResizableChunk bytes(byteCount + kxSpareBytes, all ? static_cast<char>(0xFF) : 0);
        m_bytes.Swap(bytes);
        m_size = lSize;
        m_byteCount = byteCount;
        m_compressed = false;
        m_compressedLength = 0;
        if (all) {
            memset(m_bytes.AsPtrAtOffset<unsigned char>(byteCount), 0, kxSpareBytes);
            ClearTail();
        }
        m_count = all ? lSize : 0;
    KX_CATCH("Reset()", kClass)
}

void KxSet::AllRecords() {
    KX_TRY
        Reset(m_size, true);
    KX_CATCH("AllRecords()", kClass)
}

void KxSet::Clear() {
    KX_TRY
        Reset(m_size, false);
    KX_CATCH("Clear()", kClass)
}

// Zeroes the bits of the last byte beyond the size; the spare bytes are the caller's.
void KxSet::ClearTail() {
    if (m_size % 8 == 0) return;
    unsigned char keep = static_cast<unsigned char>(0xFF00u >> (m_size % 8));
    *m_bytes.AsPtrAtOffset<unsigned char>(m_byteCount - 1) &= keep;
}

void KxSet::Expand() const {
    KX_TRY
        if (!m_compressed) return;
        KxResizableChunk bytes(m_byteCount + kxSpareBytes, 0);
        unsigned char* out = bytes.AsPtrAtOffset<unsigned char>(0);
        const unsigned char* in =
            m_compressedLength > 0 ? m_bytes.AsPtrAtOffset<unsigned char>(0) : nullptr;
        WalkRuns(in, m_compressedLength, m_byteCount,
                 [out](int64_t at, unsigned char b, int32_t repeat) {
                     memset(out + at, b, static_cast<size_t>(repeat));
                 });
        // A stored form may carry stray bits beyond the size; they are no records.
        if (m_size % 8 != 0) out[m_byteCount - 1] &= static_cast<unsigned char>(0xFF00u >> (m_size % 8));
        m_bytes.Swap(bytes);
        m_compressed = false;
        m_compressedLength = 0;
        // The stored count is only a claim; the bits decide.
        Recount();
    KX_CATCH("Expand()", kClass)
}

void KxSet::Recount() const {
    const unsigned char* p = m_byteCount > 0 ? m_bytes.AsPtrAtOffset<unsigned char>(0) : nullptr;
    int32_t n = 0;
    for (int32_t i = 0; i < m_byteCount; ++i) n += kBitCounts.counts[p[i]];
    m_count = n;
}

int32_t KxSet::GetCount() const {
    KX_TRY
        Expand();
        if (m_count < 0) Recount();
        return m_count;
    KX_CATCH("GetCount()", kClass)
}

const unsigned char* KxSet::GetBytes() const {
    KX_TRY
        Expand();
        return m_bytes.AsPtrAtOffset<unsigned char>(0);
    KX_CATCH("GetBytes()", kClass)
}

void KxSet::SelectRecord(int32_t lRecord, bool member) {
    KX_TRY
        Expand();
        if (lRecord < 1 || lRecord > m_size) ThrowRecordError(lRecord, m_size);
        int32_t bit = lRecord - 1;
        unsigned char& b = *m_bytes.AsPtrAtOffset<unsigned char>(bit / 8);
        bool was = (b & MaskOf(bit)) != 0;
        if (was == member) return;
        if (member)
            b |= MaskOf(bit);
        else
            b &= static_cast<unsigned char>(~MaskOf(bit));
        if (m_count >= 0) m_count += member ? 1 : -1;
    KX_CATCH("SelectRecord()", kClass)
}

bool KxSet::IsInSet(int32_t lRecord) const {
    KX_TRY
        if (lRecord < 1 || lRecord > m_size) return false;
        Expand();
        int32_t bit = lRecord - 1;
        return (*m_bytes.AsPtrAtOffset<unsigned char>(bit / 8) & MaskOf(bit)) != 0;
    KX_CATCH("IsInSet()", kClass)
}

void KxSet::AddToSet(int32_t lRecord, bool member) {
    KX_TRY
        Expand();
        if (lRecord < 1 || lRecord > m_size + 1 || m_size == INT32_MAX)
            ThrowRecordError(lRecord, m_size);
        int32_t newSize = m_size + 1;
        int32_t newByteCount = ByteCountFor(newSize);
        // Everything that can fail happens before the bits move, so a failure leaves the set
        // as it was.
        if (newByteCount + kxSpareBytes > m_bytes.GetSize())
            m_bytes.ResizeChunk(newByteCount + kxSpareBytes, false, 0);
        unsigned char* p = m_bytes.AsPtrAtOffset<unsigned char>(0);
        int32_t bit = lRecord - 1;
        int32_t first = bit / 8;
        for (int32_t i = newByteCount - 1; i > first; --i)
            p[i] = static_cast<unsigned char>((p[i] >> 1) | ((p[i - 1] & 1) << 7));
        unsigned char keep = static_cast<unsigned char>(0xFF00u >> (bit % 8));
        unsigned char old = p[first];
        p[first] = static_cast<unsigned char>((old & keep) | ((old & ~keep & 0xFF) >> 1));
        if (member) p[first] |= MaskOf(bit);
        m_size = newSize;
        m_byteCount = newByteCount;
        if (m_count >= 0 && member) ++m_count;
    KX_CATCH("AddToSet()", kClass)
}

void KxSet::DeleteFromSet(int32_t lRecord) {
    KX_TRY
        Expand();
        if (lRecord < 1 || lRecord > m_size) ThrowRecordError(lRecord, m_size);
        unsigned char* p = m_bytes.AsPtrAtOffset<unsigned char>(0);
        int32_t bit = lRecord - 1;
        int32_t first = bit / 8;
        bool was = (p[first] & MaskOf(bit)) != 0;
        unsigned char keep = static_cast<unsigned char>(0xFF00u >> (bit % 8));
        unsigned char old = p[first];
        // The spare zero bytes make p[i + 1] readable at the last byte.
        p[first] = static_cast<unsigned char>((old & keep) | ((old << 1) & ~keep & 0xFF) |
                                              (p[first + 1] >> 7));
        for (int32_t i = first + 1; i < m_byteCount; ++i)
            p[i] = static_cast<unsigned char>((p[i] << 1) | (p[i + 1] >> 7));
        int32_t newByteCount = ByteCountFor(m_size - 1);
        for (int32_t i = newByteCount; i < m_byteCount; ++i) p[i] = 0;
        --m_size;
        m_byteCount = newByteCount;
        if (m_count >= 0 && was) --m_count;
    KX_CATCH("DeleteFromSet()", kClass)
}

int32_t KxSet::GetNextInSet(int32_t lRecord) const {
    KX_TRY
        if (lRecord < 0) lRecord = 0;
        if (lRecord >= m_size) return 0;
        Expand();
        const unsigned char* p = m_bytes.AsPtrAtOffset<unsigned char>(0);
        int32_t bit = lRecord; // the 0-based bit of record lRecord + 1
        int32_t i = bit / 8;
        unsigned v = p[i] & (0xFFu >> (bit % 8));
        if (v != 0) return i * 8 + std::countl_zero(static_cast<unsigned char>(v)) + 1;
        // Bits beyond the size are 0, so any bit found is a record of the set.
        for (++i; i < m_byteCount; i += 8) {
            uint64_t w = LoadWord(p + i);
            if (w != 0) return i * 8 + std::countl_zero(w) + 1;
        }
        return 0;
    KX_CATCH("GetNextInSet()", kClass)
}

int32_t KxSet::GetNextNotInSet(int32_t lRecord) const {
    KX_TRY
        if (lRecord < 0) lRecord = 0;
        if (lRecord >= m_size) return 0;
        Expand();
        const unsigned char* p = m_bytes.AsPtrAtOffset<unsigned char>(0);
        int32_t bit = lRecord;
        int32_t i = bit / 8;
        int32_t found = 0;
        unsigned v = ~p[i] & 0xFFu & (0xFFu >> (bit % 8));
        if (v != 0) {
            found = i * 8 + std::countl_zero(static_cast<unsigned char>(v)) + 1;
        } else {
            for (++i; i < m_byteCount; i += 8) {
                uint64_t w = ~LoadWord(p + i);
                if (w != 0) {
                    found = i * 8 + std::countl_zero(w) + 1;
                    break;
                }
            }
        }
        // The clear bits beyond the size are no records.
        return found <= m_size ? found : 0;
    KX_CATCH("GetNextNotInSet()", kClass)
}

int32_t KxSet::GetPreviousNotInSet(int32_t lRecord) const {
    KX_TRY
        if (lRecord > m_size + 1) lRecord = m_size + 1;
        if (lRecord <= 1) return 0;
        Expand();
        const unsigned char* p = m_bytes.AsPtrAtOffset<unsigned char>(0);
        int32_t bit = lRecord - 2; // the 0-based bit of record lRecord - 1
        int32_t i = bit / 8;
        unsigned v = ~p[i] & (0xFF00u >> (bit % 8 + 1)) & 0xFFu;
        for (;;) {
            if (v != 0) return i * 8 + (7 - std::countr_zero(static_cast<unsigned char>(v))) + 1;
            if (--i < 0) return 0;
            // Whole words of members are skipped at once.
            while (i >= 7 && LoadNative(p + i - 7) == ~uint64_t{0}) i -= 8;
            if (i < 0) return 0;
            v = ~p[i] & 0xFFu;
        }
    KX_CATCH("GetPreviousNotInSet()", kClass)
}

void KxSet::CheckSameSize(const KxSet& other) const {
    if (other.m_size != m_size)
        KxGenerateException(
            "The sets are not the same size; this set has %d records and the other set has %d",
            kClass, m_size, other.m_size);
}

void KxSet::AndSet(const KxSet& other) {
    KX_TRY
        CheckSameSize(other);
        Expand();
        other.Expand();
        unsigned char* p = m_bytes.AsPtrAtOffset<unsigned char>(0);
        const unsigned char* q = other.m_bytes.AsPtrAtOffset<unsigned char>(0);
        for (int32_t i = 0; i < m_byteCount; i += 8)
            StoreNative(p + i, LoadNative(p + i) & LoadNative(q + i));
        m_count = -1;
    KX_CATCH("AndSet()", kClass)
}

void KxSet::OrSet(const KxSet& other) {
    KX_TRY
        CheckSameSize(other);
        Expand();
        other.Expand();
        unsigned char* p = m_bytes.AsPtrAtOffset<unsigned char>(0);
        const unsigned char* q = other.m_bytes.AsPtrAtOffset<unsigned char>(0);
        for (int32_t i = 0; i < m_byteCount; i += 8)
            StoreNative(p + i, LoadNative(p + i) | LoadNative(q + i));
        m_count = -1;
    KX_CATCH("OrSet()", kClass)
}

void KxSet::MaskedOrSet(const KxSet& a, const KxSet& b) {
    KX_TRY
        CheckSameSize(a);
        CheckSameSize(b);
        Expand();
        a.Expand();
        b.Expand();
        unsigned char* p = m_bytes.AsPtrAtOffset<unsigned char>(0);
        const unsigned char* qa = a.m_bytes.AsPtrAtOffset<unsigned char>(0);
        const unsigned char* qb = b.m_bytes.AsPtrAtOffset<unsigned char>(0);
        for (int32_t i = 0; i < m_byteCount; i += 8)
            StoreNative(p + i, LoadNative(p + i) | (LoadNative(qa + i) & LoadNative(qb + i)));
        m_count = -1;
    KX_CATCH("MaskedOrSet()", kClass)
}

void KxSet::ByteAppend(const KxSet& other) {
    KX_TRY
        if (m_size % 8 != 0) KxGenerateException("%d is not a multiple of %d", kClass, m_size, 8);
        if (other.m_size > INT32_MAX - m_size)
            KxGenerateException("A set of %d records can not take %d more", kClass, m_size,
                                other.m_size);
        other.Expand();
        Expand();
        // The other set may be this one: take its bytes before growing.
        KxResizableChunk tail(other.m_bytes);
        int32_t tailBytes = other.m_byteCount;
        int32_t otherSize = other.m_size;
        int32_t otherCount = other.m_count;
        int32_t newByteCount = m_byteCount + tailBytes;
        KxResizableChunk bytes(m_bytes);
        bytes.ResizeChunk(newByteCount + kxSpareBytes, false, 0);
        if (tailBytes > 0) bytes.CopyFrom(tail, tailBytes, 0, m_byteCount);
        m_bytes.Swap(bytes);
        m_count = (m_count >= 0 && otherCount >= 0) ? m_count + otherCount : -1;
        m_size += otherSize;
        m_byteCount = newByteCount;
    KX_CATCH("ByteAppend()", kClass)
}

void KxSet::Truncate(int32_t lSize) {
    KX_TRY
        if (lSize < 0) KxGenerateException("Invalid (negative) set size requested.", kClass);
        if (lSize >= m_size) return;
        Expand();
        int32_t newByteCount = ByteCountFor(lSize);
        unsigned char* p = m_bytes.AsPtrAtOffset<unsigned char>(0);
        for (int32_t i = newByteCount; i < m_byteCount; ++i) p[i] = 0;
        m_size = lSize;
        m_byteCount = newByteCount;
        ClearTail();
        m_count = -1;
    KX_CATCH("Truncate()", kClass)
}

void KxSet::Write(KxOutputStreamInterface& stream) const {
    KX_TRY
        stream.WriteKxHeader(kxHeaderType, kxVersion);
        stream.WriteLong(m_size);
        stream.WriteLong(m_byteCount);
        stream.WriteLong(m_count);
        if (m_compressed) {
            if (m_compressedLength > 0)
                stream.Write(m_bytes.AsPtrAtOffset<unsigned char>(0),
                             static_cast<uint32_t>(m_compressedLength));
            return;
        }
        const unsigned char* p =
            m_byteCount > 0 ? m_bytes.AsPtrAtOffset<unsigned char>(0) : nullptr;
        unsigned char out[kWritePiece];
        uint32_t used = 0;
        for (int32_t i = 0; i < m_byteCount;) {
            if (used + 2 > sizeof out) {
                stream.Write(out, used);
                used = 0;
            }
            unsigned char b = p[i];
            out[used++] = b;
            if (b == 0x00 || b == 0xFF) {
                int32_t run = 1;
                while (run < kMaxRun && i + run < m_byteCount && p[i + run] == b) ++run;
                out[used++] = static_cast<unsigned char>(run);
                i += run;
            } else {
                ++i;
            }
        }
        if (used > 0) stream.Write(out, used);
    KX_CATCH("Write()", kClass)
}

void KxSet::Read(KxInputStreamInterface& stream) {
    KX_TRY
        int16_t version = stream.ReadKxHeader(kxHeaderType);
        if (version != kxVersion) KxGenerateException("Invalid set header information", kClass);
        int32_t size = stream.ReadLong();
        int32_t byteCount = stream.ReadLong();
        int32_t count = stream.ReadLong();
        if (size < 0 || byteCount != ByteCountFor(size))
            KxGenerateException("Invalid set dimensions: %d records in %d bytes", kClass, size,
                                byteCount);
        if (count < -1 || count > size)
            KxGenerateException("Invalid set count %d for a set of %d records", kClass, count,
                                size);

        // The compressed length is not stored: read runs until they cover the byte count. Each
        // piece asks for no more than the remaining bytes need at the least (two bytes per run of
        // 255), so nothing beyond the set is consumed, and a piece is never larger than
        // kReadPiece, so a corrupt byte count cannot make this allocate more than the stream
        // actually delivers.
        KxResizableChunk compressed;
        int32_t length = 0;   // compressed bytes collected
        int32_t parsed = 0;   // compressed bytes walked as whole tokens
        int64_t covered = 0;  // set bytes those tokens stand for
        while (covered < byteCount) {
            int64_t remaining = byteCount - covered;
            int64_t need = std::max<int64_t>(1, (2 * remaining + kMaxRun - 1) / kMaxRun);
            // A run marker at the end of the last piece still owes its count byte.
            if (length > parsed) need = std::max<int64_t>(need - (length - parsed), 1);
            int32_t piece = static_cast<int32_t>(std::min<int64_t>(need, kReadPiece));
            if (length > INT32_MAX - kxSpareBytes - piece)
                KxGenerateException("Compressed set data too large", kClass);
            if (compressed.GetSize() < length + piece) {
                int64_t grown = std::max<int64_t>(static_cast<int64_t>(compressed.GetSize()) * 2,
                                                  length + piece);
                compressed.Resize(static_cast<int32_t>(std::min<int64_t>(grown, INT32_MAX)));
            }
            stream.Read(compressed.AsPtrAtOffset<unsigned char>(length),
                        static_cast<uint32_t>(piece), true);
            length += piece;
            const unsigned char* p = compressed.AsPtrAtOffset<unsigned char>(0);
            while (parsed < length) {
                unsigned char b = p[parsed];
                int32_t repeat = 1;
                int32_t tokenLength = 1;
                if (b == 0x00 || b == 0xFF) {
                    if (parsed + 1 >= length) break;
                    repeat = p[parsed + 1];
                    tokenLength = 2;
                    if (repeat == 0)
                        KxGenerateException("Invalid run length 0 in compressed set data",
                                            kClass);
                }
                if (covered + repeat > byteCount) ThrowOverrun(covered + repeat, byteCount);
                covered += repeat;
                parsed += tokenLength;
            }
        }

        KxSet read;
        read.m_size = size;
        read.m_byteCount = byteCount;
        read.m_count = count;
        read.m_compressed = true;
        read.m_compressedLength = length;
        compressed.Resize(length);
        read.m_bytes.Swap(compressed);
        Swap(read);
    KX_CATCH("Read()", kClass)
}
