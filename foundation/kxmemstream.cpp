#include "kxmemstream.h"

#include <cstring>

namespace {

constexpr const char* kClass = "KxMemoryStream";

} // namespace

KxMemoryStream::KxMemoryStream(const char* sName) : m_name(sName) {}

KxMemoryStream::KxMemoryStream(const void* pData, uint32_t ulSize, const char* sName)
    : m_name(sName) {
    KX_TRY
        if (ulSize != 0) {
            if (pData == nullptr) KxGenerateException("Null pointer passed to Constructor", kClass);
            Write(pData, ulSize);
        }
        m_position = 0;
    KX_CATCH_STD("Constructor", kClass)
}

KxMemoryStream::~KxMemoryStream() = default;

void KxMemoryStream::GetStreamName(KxString& sName) const { sName = m_name; }

uint32_t KxMemoryStream::Read(void* pBuffer, uint32_t ulCount, bool mustReadAll) {
    KX_TRY
        uint64_t available = GetBytesAvailable();
        if (mustReadAll && ulCount > available)
            KxGenerateException("Unexpected end of stream \"%s\": %u bytes required at position "
                                "%llu, %llu available",
                                kClass, m_name.GetCString(), ulCount,
                                static_cast<unsigned long long>(m_position),
                                static_cast<unsigned long long>(available));
        uint32_t n = ulCount < available ? ulCount : static_cast<uint32_t>(available);
        if (n == 0) return 0;
        if (pBuffer == nullptr) KxGenerateException("Null pointer passed to Read", kClass);
        memcpy(pBuffer, m_bytes.data() + m_position, n);
        m_position += n;
        return n;
    KX_CATCH("Read()", kClass)
}

void KxMemoryStream::Write(const void* pBuffer, uint32_t ulCount) {
    KX_TRY
        if (ulCount == 0) return;
        if (pBuffer == nullptr) KxGenerateException("Null pointer passed to Write", kClass);
        uint64_t end = m_position + ulCount;
        if (end > kxMaxSize)
            KxGenerateException("Memory stream \"%s\" cannot grow beyond %llu bytes", kClass,
                                m_name.GetCString(), static_cast<unsigned long long>(kxMaxSize));
        // The source may lie inside this buffer, which may move when it grows.
        const unsigned char* from = static_cast<const unsigned char*>(pBuffer);
        const unsigned char* data = m_bytes.data();
        bool own = !m_bytes.empty() && from >= data && from < data + m_bytes.size();
        size_t offset = own ? static_cast<size_t>(from - data) : 0;
        if (end > m_bytes.size()) m_bytes.resize(end);
        if (own) from = m_bytes.data() + offset;
        memmove(m_bytes.data() + m_position, from, ulCount);
        m_position = end;
    KX_CATCH_STD("Write()", kClass)
}

uint64_t KxMemoryStream::GetBytesAvailable() { return m_bytes.size() - m_position; }

void KxMemoryStream::Seek(uint64_t position) {
    KX_TRY
        if (position > m_bytes.size())
            KxGenerateException("Position %llu is past the end of stream \"%s\" (size %llu)",
                                kClass, static_cast<unsigned long long>(position),
                                m_name.GetCString(),
                                static_cast<unsigned long long>(m_bytes.size()));
        m_position = position;
    KX_CATCH("Seek()", kClass)
}

void KxMemoryStream::Clear() {
    m_bytes.clear();
    m_position = 0;
}

void KxMemoryStream::Truncate(uint64_t ulSize) {
    KX_TRY
        if (ulSize > m_bytes.size())
            KxGenerateException("Cannot truncate stream \"%s\" of %llu bytes to %llu bytes", kClass,
                                m_name.GetCString(),
                                static_cast<unsigned long long>(m_bytes.size()),
                                static_cast<unsigned long long>(ulSize));
        m_bytes.resize(ulSize);
        if (m_position > ulSize) m_position = ulSize;
    KX_CATCH("Truncate()", kClass)
}
