#include "kxalloc.h"

#include <cstdio>
#include <cstring>
#include <new>

#include "kxexception.h"

namespace {

char* g_reserve = nullptr;

} // namespace

void KxReleaseMemoryReserve() {
    delete[] g_reserve;
    g_reserve = nullptr;
}

bool KxHasMemoryReserve() { return g_reserve != nullptr; }

void KxThrowOutOfMemory(const char* format, int32_t lCount) {
    KxReleaseMemoryReserve();
    char message[128];
    snprintf(message, sizeof message, format, lCount);
    throw KxMemoryException(message);
}

char* KxAllocate(int32_t lCount) {
    if (lCount < 0)
        KxThrowOutOfMemory("Bad memory allocation request - tried to allocate %d bytes.", lCount);
    char* block = new (std::nothrow) char[static_cast<size_t>(lCount)];
    if (block != nullptr && lCount != 0) block[0] = '\0';
    if (g_reserve == nullptr) g_reserve = new (std::nothrow) char[kxMemoryReserveSize];
    if (block == nullptr || g_reserve == nullptr) {
        delete[] block;
        KxThrowOutOfMemory("Out of memory - tried to allocate %d bytes.", lCount);
    }
    return block;
}

char* KxCopyString(char** pDest, const char* source, uint16_t extra) {
    KX_TRY
        if (pDest == nullptr) KxGenerateException("null pointer: pDest", "KxCopyString");
        if (source != nullptr && source == *pDest) return *pDest;
        // The new copy is made before the old buffer goes, so a source inside it stays readable
        // and a failed allocation leaves *pDest as it was.
        size_t length = source != nullptr ? strlen(source) : 0;
        if (length + extra + 1 > static_cast<size_t>(INT32_MAX))
            KxThrowOutOfMemory("Out of memory - tried to allocate %d bytes.", INT32_MAX);
        char* copy = KxAllocate(static_cast<int32_t>(length + extra + 1));
        if (length != 0) memcpy(copy, source, length);
        copy[length] = '\0';
        delete[] *pDest;
        *pDest = copy;
        return copy;
    KX_CATCH("KxCopyString", "KxAlloc")
}

char* KxDeblank(char* s, bool leading, bool trailing) {
    if (s == nullptr) KxGenerateException("null pointer: sString", "KxDeblank");
    auto blank = [](char c) { return static_cast<unsigned char>(c) <= 32; };
    size_t length = strlen(s);
    if (trailing) {
        while (length > 0 && blank(s[length - 1])) --length;
        s[length] = '\0';
    }
    if (leading) {
        size_t start = 0;
        while (start < length && blank(s[start])) ++start;
        if (start > 0) memmove(s, s + start, length - start + 1);
    }
    return s;
}

char* KxPrependString(char* pBuffer, const char* s) {
    if (pBuffer == nullptr) KxGenerateException("null pointer: pBuffer", "KxPrependString");
    if (s == nullptr) return pBuffer;
    size_t n = strlen(s), length = strlen(pBuffer);
    memmove(pBuffer + n, pBuffer, length + 1);
    // A prefix taken from the buffer's own text has moved with it.
    if (s >= pBuffer && s <= pBuffer + length) s += n;
    memmove(pBuffer, s, n);
    return pBuffer;
}

char* KxPadLeft(char* pBuffer, char fill, int16_t count) {
    if (pBuffer == nullptr) KxGenerateException("null pointer: pBuffer", "KxPadLeft");
    if (count <= 0) return pBuffer;
    size_t n = static_cast<size_t>(count);
    memmove(pBuffer + n, pBuffer, strlen(pBuffer) + 1);
    memset(pBuffer, fill, n);
    return pBuffer;
}
