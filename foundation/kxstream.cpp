#include "kxstream.h"

#include <algorithm>
#include <cstring>
#include <memory>

#include "kxalloc.h"
#include "kxchunk.h"

namespace {

constexpr const char* kInput = "KxInputStreamInterface";
constexpr const char* kOutput = "KxOutputStreamInterface";

// Reading a large counted string in pieces means a corrupt count on a stream that cannot tell
// its length costs at most one piece before the short read shows.
constexpr uint32_t kReadPiece = 1024 * 1024;

KxString NameOf(const KxInputStreamInterface& stream) {
    KxString name;
    stream.GetStreamName(name);
    return name;
}

// A fixed-size read; an implementation that returns short without raising still fails here.
void ReadExactly(KxInputStreamInterface& stream, void* pBuffer, uint32_t ulCount) {
    uint32_t got = stream.Read(pBuffer, ulCount, true);
    if (got != ulCount)
        KxGenerateException("Read %u of %u required bytes from stream \"%s\"", kInput, got,
                            ulCount, NameOf(stream).GetCString());
}

template <typename T> T ReadLittleEndian(KxInputStreamInterface& stream) {
    unsigned char bytes[sizeof(T)];
    ReadExactly(stream, bytes, sizeof bytes);
    uint64_t value = 0;
    for (size_t i = sizeof(T); i-- > 0;) value = (value << 8) | bytes[i];
    return static_cast<T>(value);
}

template <typename T> void WriteLittleEndian(KxOutputStreamInterface& stream, T value) {
    unsigned char bytes[sizeof(T)];
    uint64_t bits = static_cast<uint64_t>(value);
    for (size_t i = 0; i < sizeof(T); ++i, bits >>= 8) bytes[i] = static_cast<unsigned char>(bits);
    stream.Write(bytes, sizeof bytes);
}

// Reads one line into pBuffer (see ReadLine); *pEnded tells whether it ended (by its terminator
// or the end of the stream) rather than by the size limit.
uint32_t ReadLinePiece(KxInputStreamInterface& stream, char* pBuffer, uint32_t ulSize,
                       bool* pEnded) {
    KX_TRY
        *pEnded = true;
        if (ulSize == 0) return 0;
        if (pBuffer == nullptr) KxGenerateException("Null pointer passed to ReadLine", kInput);
        uint32_t stored = 0, consumed = 0;
        for (;;) {
            if (stored == ulSize - 1) {
                *pEnded = false;
                break;
            }
            char c;
            if (stream.Read(&c, 1, false) == 0) break;
            ++consumed;
            if (c == '\n') break;
            if (c == '\r') {
                if (stream.Read(&c, 1, false) == 0 || c != '\n')
                    KxGenerateException(
                        "Return character not followed by newline; unknown end of line type",
                        kInput);
                ++consumed;
                break;
            }
            pBuffer[stored++] = c;
        }
        pBuffer[stored] = '\0';
        return consumed;
    KX_CATCH("ReadLine()", kInput)
}

} // namespace

bool KxInputStreamInterface::ReadBool() {
    KX_TRY
        return ReadLittleEndian<uint8_t>(*this) != 0;
    KX_CATCH("ReadBool()", kInput)
}

int16_t KxInputStreamInterface::ReadShort() {
    KX_TRY
        return static_cast<int16_t>(ReadLittleEndian<uint16_t>(*this));
    KX_CATCH("ReadShort()", kInput)
}

uint16_t KxInputStreamInterface::ReadUnsignedShort() {
    KX_TRY
        return ReadLittleEndian<uint16_t>(*this);
    KX_CATCH("ReadUnsignedShort()", kInput)
}

int32_t KxInputStreamInterface::ReadInt() {
    KX_TRY
        return static_cast<int32_t>(ReadLittleEndian<uint32_t>(*this));
    KX_CATCH("ReadInt()", kInput)
}

int32_t KxInputStreamInterface::ReadLong() {
    KX_TRY
        return static_cast<int32_t>(ReadLittleEndian<uint32_t>(*this));
    KX_CATCH("ReadLong()", kInput)
}

uint32_t KxInputStreamInterface::ReadUnsignedLong() {
    KX_TRY
        return ReadLittleEndian<uint32_t>(*this);
    KX_CATCH("ReadUnsignedLong()", kInput)
}

uint64_t KxInputStreamInterface::ReadUnsignedNative() {
    KX_TRY
        return ReadLittleEndian<uint64_t>(*this);
    KX_CATCH("ReadUnsignedNative()", kInput)
}

double KxInputStreamInterface::ReadDouble() {
    KX_TRY
        uint64_t bits = ReadLittleEndian<uint64_t>(*this);
        double value;
        memcpy(&value, &bits, sizeof value);
        return value;
    KX_CATCH("ReadDouble()", kInput)
}

char* KxInputStreamInterface::ReadCString(char** ppString) {
    KX_TRY
        if (ppString == nullptr) KxGenerateException("Null pointer passed to ReadCString", kInput);
        int32_t n = ReadInt();
        // The count comes from the data; check it before anything is allocated for it.
        if (n < 0)
            KxGenerateException("Invalid string length (value=%d) in stream \"%s\"", kInput, n,
                                NameOf(*this).GetCString());
        if (n > kxMaxStreamStringLength)
            KxGenerateException(
                "String length (value=%d) in stream \"%s\" is above the limit of %d bytes", kInput,
                n, NameOf(*this).GetCString(), kxMaxStreamStringLength);
        uint64_t available = GetBytesAvailable();
        if (available != kxUnknownStreamLength && static_cast<uint64_t>(n) > available)
            KxGenerateException(
                "String length (value=%d) in stream \"%s\" is more than the %llu bytes left", kInput,
                n, NameOf(*this).GetCString(), static_cast<unsigned long long>(available));
        std::unique_ptr<char[]> text;
        if (static_cast<uint32_t>(n) <= kReadPiece) {
            text.reset(KxAllocate(n + 1));
            if (n != 0) ReadExactly(*this, text.get(), static_cast<uint32_t>(n));
        } else {
            KxResizableChunk pieces;
            int32_t got = 0;
            while (got < n) {
                uint32_t piece = std::min<uint32_t>(kReadPiece, static_cast<uint32_t>(n - got));
                pieces.Resize(got + static_cast<int32_t>(piece));
                ReadExactly(*this, pieces.AsPtrAtOffset<char>(got), piece);
                got += static_cast<int32_t>(piece);
            }
            text.reset(KxAllocate(n + 1));
            memcpy(text.get(), pieces.GetData(), static_cast<size_t>(n));
        }
        text[static_cast<size_t>(n)] = '\0';
        delete[] *ppString;
        *ppString = text.release();
        return *ppString;
    KX_CATCH("ReadCString()", kInput)
}

int16_t KxInputStreamInterface::ReadKxHeader(int8_t expectedType) {
    KX_TRY
        int32_t v = ReadInt();
        if ((static_cast<uint32_t>(v) & 0xFFu) != static_cast<uint8_t>(expectedType))
            throw KxIOStreamingException("Invalid header found", kInput);
        return ReadShort();
    KX_CATCH("ReadKxHeader()", kInput)
}

char* KxInputStreamInterface::ReadString(char* pBuffer, uint32_t ulMax, char terminator) {
    KX_TRY
        if (ulMax == 0) return pBuffer;
        if (pBuffer == nullptr) KxGenerateException("Null pointer passed to ReadString", kInput);
        for (uint32_t i = 0; i < ulMax; ++i) {
            if (Read(pBuffer + i, 1, false) == 0) {
                pBuffer[i] = '\0';
                break;
            }
            if (pBuffer[i] == terminator) {
                pBuffer[i] = '\0';
                break;
            }
        }
        return pBuffer;
    KX_CATCH("ReadString()", kInput)
}

char KxInputStreamInterface::ReadString(KxString& sString, char terminator) {
    KX_TRY
        KxString text;
        char c;
        do {
            ReadExactly(*this, &c, 1);
            text << c;
        } while (c != terminator);
        sString.Copy(text.GetCString());
        return c;
    KX_CATCH("ReadString()", kInput)
}

uint32_t KxInputStreamInterface::ReadLine(char* pBuffer, uint32_t ulSize) {
    bool ended;
    return ReadLinePiece(*this, pBuffer, ulSize, &ended);
}

uint32_t KxInputStreamInterface::ReadLine(KxString& sLine) {
    KX_TRY
        KxString line;
        char piece[1024];
        uint32_t total = 0;
        bool ended;
        do {
            total += ReadLinePiece(*this, piece, sizeof piece, &ended);
            line << piece;
        } while (!ended);
        sLine.Copy(line.GetCString());
        return total;
    KX_CATCH("ReadLine()", "KXInputStreamInterface")
}

void KxOutputStreamInterface::WriteBool(bool value) {
    KX_TRY
        WriteLittleEndian<uint8_t>(*this, value ? 1 : 0);
    KX_CATCH("WriteBool()", kOutput)
}

void KxOutputStreamInterface::WriteShort(int16_t value) {
    KX_TRY
        WriteLittleEndian(*this, static_cast<uint16_t>(value));
    KX_CATCH("WriteShort()", kOutput)
}

void KxOutputStreamInterface::WriteUnsignedShort(uint16_t value) {
    KX_TRY
        WriteLittleEndian(*this, value);
    KX_CATCH("WriteUnsignedShort()", kOutput)
}

void KxOutputStreamInterface::WriteInt(int32_t value) {
    KX_TRY
        WriteLittleEndian(*this, static_cast<uint32_t>(value));
    KX_CATCH("WriteInt()", kOutput)
}

void KxOutputStreamInterface::WriteLong(int32_t value) {
    KX_TRY
        WriteLittleEndian(*this, static_cast<uint32_t>(value));
    KX_CATCH("WriteLong()", kOutput)
}

void KxOutputStreamInterface::WriteUnsignedLong(uint32_t value) {
    KX_TRY
        WriteLittleEndian(*this, value);
    KX_CATCH("WriteUnsignedLong()", kOutput)
}

void KxOutputStreamInterface::WriteUnsignedNative(uint64_t value) {
    KX_TRY
        WriteLittleEndian(*this, value);
    KX_CATCH("WriteUnsignedNative()", kOutput)
}

void KxOutputStreamInterface::WriteDouble(double value) {
    KX_TRY
        uint64_t bits;
        memcpy(&bits, &value, sizeof bits);
        WriteLittleEndian(*this, bits);
    KX_CATCH("WriteDouble()", kOutput)
}

void KxOutputStreamInterface::WriteCString(const char* pString) {
    KX_TRY
        if (pString == nullptr) {
            WriteInt(0);
            return;
        }
        size_t count = strlen(pString) + 1;
        // Nothing is written that ReadCString would refuse.
        if (count > static_cast<size_t>(kxMaxStreamStringLength))
            KxGenerateException("String of %zu bytes is above the limit of %d bytes", kOutput,
                                count - 1, kxMaxStreamStringLength);
        WriteInt(static_cast<int32_t>(count));
        Write(pString, static_cast<uint32_t>(count));
    KX_CATCH("WriteCString()", kOutput)
}

void KxOutputStreamInterface::WriteKxHeader(int8_t type, int16_t version) {
    KX_TRY
        WriteInt(type);
        WriteShort(version);
    KX_CATCH("WriteKxHeader()", kOutput)
}

namespace {

uint32_t CountOf(const char* pString, size_t extra) {
    size_t count = strlen(pString) + extra;
    if (count > UINT32_MAX)
        KxGenerateException("String of %zu bytes is too long to be written", kOutput, count);
    return static_cast<uint32_t>(count);
}

} // namespace

void KxOutputStreamInterface::WriteString(const char* pString, bool includeTerminator) {
    KX_TRY
        if (pString == nullptr) KxGenerateException("Null pointer passed to WriteString", kOutput);
        uint32_t count = CountOf(pString, includeTerminator ? 1 : 0);
        if (count != 0) Write(pString, count);
    KX_CATCH("WriteString()", kOutput)
}

void KxOutputStreamInterface::WriteString(const char* pString, uint32_t ulMax, char terminator) {
    KX_TRY
        uint32_t count = 0;
        if (pString != nullptr)
            while (count < ulMax && pString[count] != '\0') ++count;
        if (count != 0) Write(pString, count);
        if (count < ulMax) Write(&terminator, 1);
    KX_CATCH("WriteString()", kOutput)
}

void KxOutputStreamInterface::WriteLine(const char* pString) {
    KX_TRY
        if (pString == nullptr) KxGenerateException("Null pointer passed to WriteLine", kOutput);
        uint32_t count = CountOf(pString, 0);
        if (count != 0) Write(pString, count);
        Write("\r\n", 2);
    KX_CATCH("WriteLine()", kOutput)
}
