// Library memory: every block the library hands out comes from KxAllocate, which keeps a small
// reserve so that an out-of-memory failure can still be formatted and unwound.
#pragma once

#include <cstdint>

// Returns lCount bytes from the array allocator (release with delete[]); the first byte of a
// non-empty block is 0, so a new block reads as an empty string. Throws KxMemoryException.
char* KxAllocate(int32_t lCount);

// The 32000-byte reserve: released just before an out-of-memory exception is built and made
// again by the next successful KxAllocate.
constexpr int32_t kxMemoryReserveSize = 32000;
void KxReleaseMemoryReserve();
bool KxHasMemoryReserve();

// Releases the reserve and throws KxMemoryException with the format rendered with lCount into a
// 128-byte buffer. Shared by the allocator and the chunk so that the behaviour is one.
[[noreturn]] void KxThrowOutOfMemory(const char* format, int32_t lCount);

// Replaces the text *pDest points to by a copy of source (null gives "") in a new buffer with
// extra spare bytes; returns the new buffer. Nothing happens when source is *pDest itself.
char* KxCopyString(char** pDest, const char* source, uint16_t extra = 0);

// Strips blanks (bytes of value 32 or less) in place at the start and/or end; returns s.
char* KxDeblank(char* s, bool leading = true, bool trailing = true);

// Moves the text in pBuffer right by strlen(s) and puts s in front. The caller provides room.
char* KxPrependString(char* pBuffer, const char* s);

// Moves the text in pBuffer right by count and fills the gap with the fill character.
char* KxPadLeft(char* pBuffer, char fill, int16_t count);
