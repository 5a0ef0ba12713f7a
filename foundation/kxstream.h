// The two stream interfaces everything serialises through. Each has one primitive (Read or Write
// of a byte range); the typed operations are built on it, so the same serialising code writes to
// a file or to memory. Multi-byte numbers are little-endian.
#pragma once

#include <cstdint>

#include "kxstring.h"

// ReadCString refuses counts above this (and WriteCString texts that long), so a corrupt count
// cannot make the library allocate absurd amounts.
constexpr int32_t kxMaxStreamStringLength = 64 * 1024 * 1024;

// What GetBytesAvailable returns when a stream cannot tell.
constexpr uint64_t kxUnknownStreamLength = UINT64_MAX;

class KxInputStreamInterface {
public:
    virtual ~KxInputStreamInterface() = default;
    virtual void GetStreamName(KxString& sName) const = 0;
    // Reads up to ulCount bytes and returns how many were read; with mustReadAll a short read
    // raises the implementation's required-read error.
    virtual uint32_t Read(void* pBuffer, uint32_t ulCount, bool mustReadAll) = 0;
    // How many bytes remain to be read, or kxUnknownStreamLength. Lets the readers of counted
    // data reject a count the stream cannot hold before allocating for it.
    virtual uint64_t GetBytesAvailable() { return kxUnknownStreamLength; }

    bool ReadBool();
    int16_t ReadShort();
    uint16_t ReadUnsignedShort();
    int32_t ReadInt();
    int32_t ReadLong();
    uint32_t ReadUnsignedLong();
    uint64_t ReadUnsignedNative();
    double ReadDouble();

    // Replaces *ppString (released with delete[]) by the counted string read, and returns it;
    // a count of 0 gives an empty text. On failure *ppString is left as it was.
    char* ReadCString(char** ppString);
    // Checks the header type and returns the version.
    int16_t ReadKxHeader(int8_t expectedType);
    // Reads up to ulMax bytes until the terminator (stored as 0) or the end of the stream; a text
    // of ulMax bytes gets no 0, so callers pass ulMax + 1 zeroed bytes where they need one.
    char* ReadString(char* pBuffer, uint32_t ulMax, char terminator);
    // Reads bytes, terminator included, until the terminator; the end of the stream first is an
    // error. Returns the terminator.
    char ReadString(KxString& sString, char terminator);
    // Reads one line ending in CR LF, LF or the end of the stream, at most ulSize - 1 bytes of
    // it; returns the bytes consumed (terminator included), 0 at the end of the stream.
    uint32_t ReadLine(char* pBuffer, uint32_t ulSize);
    uint32_t ReadLine(KxString& sLine);
};

class KxOutputStreamInterface {
public:
    virtual ~KxOutputStreamInterface() = default;
    virtual void GetStreamName(KxString& sName) const = 0;
    virtual void Write(const void* pBuffer, uint32_t ulCount) = 0;

    void WriteBool(bool value);
    void WriteShort(int16_t value);
    void WriteUnsignedShort(uint16_t value);
    void WriteInt(int32_t value);
    void WriteLong(int32_t value);
    void WriteUnsignedLong(uint32_t value);
    void WriteUnsignedNative(uint64_t value);
    void WriteDouble(double value);

    // A 32-bit count of length + 1 (0 for null), then the text with its terminator.
    void WriteCString(const char* pString);
    // The type widened with its sign as 32 bits, then the 16-bit version.
    void WriteKxHeader(int8_t type, int16_t version);
    // The text's bytes, and its terminator when asked.
    void WriteString(const char* pString, bool includeTerminator);
    // min(length, ulMax) bytes (null counts as empty), then the terminator when below ulMax.
    void WriteString(const char* pString, uint32_t ulMax, char terminator);
    // The text, then "\r\n".
    void WriteLine(const char* pString);
};

// Both directions; virtual bases, so a class that is both holds one of each.
class KxStreamInterface : public virtual KxInputStreamInterface,
                          public virtual KxOutputStreamInterface {
public:
    void GetStreamName(KxString& sName) const override = 0;
};
