// The one string type of every layer: a NUL-terminated 8-bit text in a chunk that grows in steps
// of a granularity. The length is not stored; it is the text's strlen.
#pragma once

#include <cstdarg>
#include <cstdint>

#include "kxchunk.h"
#include "kxexception.h"
#include "kxvector.h"

class KxInputStreamInterface;
class KxOutputStreamInterface;

enum KxStringModifier {
    Reset = 0,   // empties the string
    EndLine = 1, // appends "\r\n"
};

class KxString : public KxArrayPointerObject {
public:
    KxString();
    KxString(const char* pString); // null gives an empty string
    explicit KxString(char c);     // the character 0 gives an empty string
    KxString(const KxString& other);
    KxString& operator=(const KxString& other);
    KxString& operator=(const char* pString);
    ~KxString() override;
    virtual KxString* Clone() const;

    // Sets the granularity, sizes the buffer for it and empties the string.
    void Init(uint32_t granularity);
    // Grows chunk to ((lNewLength + 1) / granularity + 1) * granularity bytes when smaller.
    void ResizeStringBuffer(KxResizableChunk& chunk, int32_t lNewLength) const;

    void Copy(const char* pString);

    void Append(const char* pString);
    void Append(const KxString& s);
    void Append(char c);
    void Append(int16_t value);
    void Append(int32_t value);
    void Append(long value);
    void Append(long long value);
    void Append(uint16_t value);
    void Append(uint32_t value);
    void Append(unsigned long value);
    void Append(unsigned long long value);
    void Append(double value);

    KxString& operator+=(const KxString& s);
    KxString& operator+=(const char* pString);
    KxString& operator+=(char c);
    KxString& operator+=(int16_t value);
    KxString& operator+=(int32_t value);

    KxString& operator<<(const KxString& s);
    KxString& operator<<(const char* pString);
    KxString& operator<<(bool value);
    KxString& operator<<(char c);
    KxString& operator<<(int16_t value);
    KxString& operator<<(int32_t value);
    KxString& operator<<(long value);
    KxString& operator<<(long long value);
    KxString& operator<<(uint16_t value);
    KxString& operator<<(uint32_t value);
    KxString& operator<<(unsigned long value);
    KxString& operator<<(unsigned long long value);
    KxString& operator<<(double value);
    KxString& operator<<(KxStringModifier modifier);

    void Insert(const char* pString, int32_t lPosition);
    void Remove(int32_t lStart, int32_t lCount);
    void Truncate(uint32_t ulLength);
    void Clear();

    // lLength < 0 takes the rest of the string.
    KxString GetSubstring(int32_t lStart, int32_t lLength = -1) const;
    char GetCharAt(int32_t lIndex) const;
    void SetCharAt(int32_t lIndex, char c);

    // Case-sensitive; the offset from the start of the string, or -1. With last set, the last
    // occurrence at or after lStart (occurrences may overlap).
    int32_t Find(const char* sString, int32_t lStart = 0, bool last = false) const;
    int32_t Find(const KxString& sString, int32_t lStart = 0, bool last = false) const;
    int32_t Find(char c, int32_t lStart = 0, bool last = false) const;

    // Replaces the first occurrence of sOriginal, or every one; replaced text is not searched.
    void Replace(const char* sOriginal, const char* sReplace, bool all = false);

    bool BeginsWith(const char* sString) const;
    bool EndsWith(const char* sString) const;
    bool EndsWith(char c) const;

    void ToLowercase();
    void ToUppercase();
    void Deblank();
    void DeblankLeading();
    void DeblankTrailing();

    // Replace the content with the formatted text; a failure leaves the string as it was.
    void printf(const char* pFormat, ...) KX_PRINTF(2, 3);
    void vprintf(const char* pFormat, va_list args) KX_PRINTF(2, 0);

    int32_t GetLength() const;
    bool IsEmpty() const;
    const char* GetCString() const;
    operator const char*() const { return GetCString(); }
    int32_t GetCapacity() const { return m_buffer.GetSize(); }
    uint32_t GetGranularity() const { return m_granularity; }

    // Byte-wise, case-sensitive (strcmp).
    bool operator==(const KxString& other) const;
    bool operator==(const char* pString) const;
    bool operator!=(const KxString& other) const;
    bool operator!=(const char* pString) const;
    bool operator<(const KxString& other) const;
    bool operator<(const char* pString) const;
    bool operator>(const KxString& other) const;
    bool operator>(const char* pString) const;
    bool operator<=(const KxString& other) const;
    bool operator<=(const char* pString) const;
    bool operator>=(const KxString& other) const;
    bool operator>=(const char* pString) const;

    // A counted string: 32-bit count of length + 1, then the bytes with the terminator.
    void Read(KxInputStreamInterface& stream);
    void Write(KxOutputStreamInterface& stream) const;

private:
    char* Text() { return m_buffer.AsPtrAtOffset<char>(0); }
    const char* Text() const { return m_buffer.AsPtrAtOffset<char>(0); }

    KxResizableChunk m_buffer;
    uint32_t m_granularity;
};
