#include "kxchunk.h"

#include <cstdlib>
#include <cstring>
#include <utility>

#include "kxalloc.h"
#include "kxexception.h"

namespace {

[[noreturn]] void ThrowOffsetError(int32_t lOffset, int32_t lSize) {
    KxGenerateException("index (value=%d) is out of range [%d, %d]", "KxResizableChunk", lOffset,
                        0, lSize - 1);
}

} // namespace

KxResizableChunk::KxResizableChunk() : m_data(nullptr), m_size(0) {}

KxResizableChunk::KxResizableChunk(int32_t lSize) : KxResizableChunk() {
    ResizeChunk(lSize, true, 0);
}

KxResizableChunk::KxResizableChunk(int32_t lSize, char fill) : KxResizableChunk() {
    ResizeChunk(lSize, true, fill);
}

KxResizableChunk::KxResizableChunk(const KxResizableChunk& other) : KxResizableChunk() {
    *this = other;
}

KxResizableChunk::KxResizableChunk(KxResizableChunk&& other) noexcept
    : m_data(std::exchange(other.m_data, nullptr)), m_size(std::exchange(other.m_size, 0)) {}

KxResizableChunk& KxResizableChunk::operator=(const KxResizableChunk& other) {
    if (this != &other) {
        ResizeChunk(other.m_size, false, 0);
        if (m_size != 0) memcpy(m_data, other.m_data, static_cast<size_t>(m_size));
    }
    return *this;
}

KxResizableChunk& KxResizableChunk::operator=(KxResizableChunk&& other) noexcept {
    if (this != &other) {
        KxResizableChunk gone(std::move(other));
        Swap(gone);
    }
    return *this;
}

KxResizableChunk::~KxResizableChunk() { free(m_data); }

KxResizableChunk* KxResizableChunk::Clone() const { return new KxResizableChunk(*this); }

void KxResizableChunk::Swap(KxResizableChunk& other) noexcept {
    std::swap(m_data, other.m_data);
    std::swap(m_size, other.m_size);
}

void KxResizableChunk::Resize(int32_t lNewSize) {
    KX_TRY
        if (lNewSize == m_size) return;
        if (lNewSize < 0)
            KxGenerateException("lNewSize, value %d, must be non-negative.", "KxResizableChunk",
                                lNewSize);
        if (lNewSize == 0) {
            free(m_data);
            m_data = nullptr;
            m_size = 0;
            return;
        }
        void* grown = realloc(m_data, static_cast<size_t>(lNewSize));
        if (grown == nullptr)
            KxThrowOutOfMemory("Could not reallocate chunk - tried to allocate %d bytes.",
                               lNewSize);
        m_data = static_cast<unsigned char*>(grown);
        m_size = lNewSize;
    KX_CATCH("Resize()", "KxResizableChunk")
}

void KxResizableChunk::ResizeChunk(int32_t lNewSize, bool fillAll, char fill) {
    KX_TRY
        int32_t oldSize = m_size;
        Resize(lNewSize);
        if (m_size == 0) return;
        if (fillAll)
            memset(m_data, fill, static_cast<size_t>(m_size));
        else if (m_size > oldSize)
            memset(m_data + oldSize, fill, static_cast<size_t>(m_size - oldSize));
    KX_CATCH("ResizeChunk()", "KxResizableChunk")
}

#define KX_CHUNK_AT(Type, Label)                                                                   \
    template <> Type* KxResizableChunk::AsPtrAtOffset<Type>(int32_t lOffset) {                     \
        return const_cast<Type*>(std::as_const(*this).AsPtrAtOffset<Type>(lOffset));              \
    }                                                                                              \
    template <> const Type* KxResizableChunk::AsPtrAtOffset<Type>(int32_t lOffset) const {         \
        KX_TRY                                                                                     \
            if (lOffset < 0 || lOffset >= m_size) ThrowOffsetError(lOffset, m_size);               \
            return reinterpret_cast<const Type*>(m_data + lOffset);                               \
        KX_CATCH(Label, "KxResizableChunk")                                                        \
    }

KX_CHUNK_AT(char, "AsPtrAtOffset<char>()")
KX_CHUNK_AT(unsigned char, "AsPtrAtOffset<unsigned char>()")
KX_CHUNK_AT(void, "AsPtrAtOffset<void>()")

void KxResizableChunk::CopyFrom(const KxResizableChunk& source, int32_t lCount,
                                int32_t lSourceOffset, int32_t lDestOffset) {
    KX_TRY
        if (lSourceOffset < 0 || lSourceOffset > source.m_size)
            ThrowOffsetError(lSourceOffset, source.m_size);
        if (lDestOffset < 0) ThrowOffsetError(lDestOffset, m_size);
        if (lCount < 0)
            KxGenerateException("lCount, value %d, must be non-negative.", "KxResizableChunk",
                                lCount);
        int32_t n = lCount < source.m_size - lSourceOffset ? lCount : source.m_size - lSourceOffset;
        if (n == 0) return;
        int64_t end = static_cast<int64_t>(lDestOffset) + n;
        if (end > INT32_MAX)
            KxGenerateException("lNewSize, value %d, must be non-negative.", "KxResizableChunk",
                                static_cast<int32_t>(static_cast<uint32_t>(end)));
        if (end > m_size) ResizeChunk(static_cast<int32_t>(end), false, 0);
        // After the resize: the source may be this chunk, whose block may have moved.
        memmove(m_data + lDestOffset, source.m_data + lSourceOffset, static_cast<size_t>(n));
    KX_CATCH("CopyFrom()", "KxResizableChunk")
}

void KxResizableChunk::CheckEmpty(bool mustBeEmpty) const {
    if (mustBeEmpty && m_size != 0) KxGenerateException("chunk must be empty", "KxResizableChunk");
    if (!mustBeEmpty && m_size == 0)
        KxGenerateException("chunk must not be empty", "KxResizableChunk");
}
