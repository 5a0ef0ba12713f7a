#include "kxstring.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <memory>

#include "kxalloc.h"
#include "kxstream.h"

namespace {

constexpr uint32_t kDefaultGranularity = 32;

// The buffer size ResizeStringBuffer asks for, computed wide so that an overflow shows.
int64_t RoundedSize(uint32_t granularity, int32_t lNewLength) {
    return (static_cast<int64_t>(static_cast<uint32_t>(lNewLength) + 1u) / granularity + 1) *
           granularity;
}

int32_t Length(const char* text) { return static_cast<int32_t>(strlen(text)); }

[[noreturn]] void ThrowTooLong(int64_t length) {
    KxGenerateException("lNewLength, value=%lld, is too large.", "KxString",
                        static_cast<long long>(length));
}

} // namespace

KxString::KxString() : m_granularity(kDefaultGranularity) { Init(kDefaultGranularity); }

KxString::KxString(const char* pString) : KxString() { Copy(pString); }

KxString::KxString(char c) : KxString() {
    char text[2] = {c, '\0'};
    Copy(text);
}

KxString::KxString(const KxString& other)
    : m_buffer(other.m_buffer), m_granularity(other.m_granularity) {}

KxString& KxString::operator=(const KxString& other) {
    if (this != &other) {
        m_buffer = other.m_buffer;
        m_granularity = other.m_granularity;
    }
    return *this;
}

KxString& KxString::operator=(const char* pString) {
    Copy(pString);
    return *this;
}

KxString::~KxString() = default;

KxString* KxString::Clone() const { return new KxString(*this); }

void KxString::Init(uint32_t granularity) {
    KX_TRY
        if (granularity == 0)
            KxGenerateException("granularity, value=%u, must be greater than 0.", "KxString",
                                granularity);
        uint32_t old = m_granularity;
        m_granularity = granularity;
        try {
            ResizeStringBuffer(m_buffer, static_cast<int32_t>(granularity));
        } catch (...) {
            m_granularity = old;
            throw;
        }
        *Text() = '\0';
    KX_CATCH("Init()", "KxString")
}

void KxString::ResizeStringBuffer(KxResizableChunk& chunk, int32_t lNewLength) const {
    KX_TRY
        if (lNewLength <= 0)
            KxGenerateException("lNewLength, value=%d, must be greater than 0.", "KxString",
                                lNewLength);
        int64_t size = RoundedSize(m_granularity, lNewLength);
        if (size > INT32_MAX) ThrowTooLong(lNewLength);
        if (size > chunk.GetSize()) chunk.ResizeChunk(static_cast<int32_t>(size), false, 0);
    KX_CATCH("ResizeStringBuffer()", "KxString")
}

void KxString::Copy(const char* pString) {
    KX_TRY
        if (pString == nullptr) {
            *Text() = '\0';
            return;
        }
        size_t length = strlen(pString);
        if (length >= static_cast<size_t>(INT32_MAX)) ThrowTooLong(static_cast<int64_t>(length));
        // A text inside this buffer is always shorter than the capacity, so it never moves here.
        if (static_cast<int64_t>(length) >= GetCapacity())
            ResizeStringBuffer(m_buffer, static_cast<int32_t>(length));
        memmove(Text(), pString, length + 1);
    KX_CATCH("Copy()", "KxString")
}

void KxString::Append(const char* pString) {
    KX_TRY
        if (pString == nullptr) KxGenerateException("null pointer: pString", "KxString");
        int64_t n = static_cast<int64_t>(strlen(pString));
        if (n == 0) return;
        int64_t length = GetLength(), capacity = GetCapacity();
        if (capacity - length - 1 < n) {
            if (length + n >= INT32_MAX) ThrowTooLong(length + n);
            // Grow by at least the capacity (up to 1024) and by one and a half times the text.
            int64_t target = capacity + std::max(std::min<int64_t>(capacity, 1024),
                                                 n + std::min<int64_t>(n / 2, 1024));
            if (target >= INT32_MAX || RoundedSize(m_granularity, static_cast<int32_t>(target)) >
                                           INT32_MAX)
                target = length + n;
            // Appending a piece of this string itself: the block may move when it grows.
            const char* text = Text();
            bool own = pString >= text && pString < text + capacity;
            ptrdiff_t offset = pString - text;
            ResizeStringBuffer(m_buffer, static_cast<int32_t>(target));
            if (own) pString = Text() + offset;
        }
        memmove(Text() + length, pString, static_cast<size_t>(n) + 1);
    KX_CATCH("Append(char *)", "KxString")
}

void KxString::Append(const KxString& s) { Append(s.GetCString()); }

void KxString::Append(char c) {
    char text[2] = {c, '\0'};
    Append(text);
}

// Numbers are rendered, stripped of blanks and appended under their own label.
#define KX_APPEND_NUMBER(Type, Format, Label)                                                      \
    void KxString::Append(Type value) {                                                            \
        KX_TRY                                                                                     \
            char text[80];                                                                         \
            snprintf(text, sizeof text, Format, value);                                            \
            Append(KxDeblank(text, true, true));                                                   \
        KX_CATCH(Label, "KxString")                                                                \
    }

KX_APPEND_NUMBER(int16_t, "%-d", "Append(short)")
KX_APPEND_NUMBER(int32_t, "%-d", "Append(int)")
KX_APPEND_NUMBER(long, "%-ld", "Append(long)")
KX_APPEND_NUMBER(long long, "%-lld", "Append(long long)")
KX_APPEND_NUMBER(uint16_t, "%-hu", "Append(unsigned short)")
KX_APPEND_NUMBER(uint32_t, "%-u", "Append(unsigned int)")
KX_APPEND_NUMBER(unsigned long, "%-lu", "Append(unsigned long)")
KX_APPEND_NUMBER(unsigned long long, "%-llu", "Append(unsigned long long)")

void KxString::Append(double value) {
    KX_TRY
        // Measured first: six decimals of a large magnitude need more than a fixed buffer.
        int n = snprintf(nullptr, 0, "%-lf", value);
        if (n < 0) KxGenerateException("could not render a double", "KxString");
        KxResizableChunk text(n + 1);
        snprintf(text.AsPtrAtOffset<char>(0), static_cast<size_t>(n) + 1, "%-lf", value);
        Append(KxDeblank(text.AsPtrAtOffset<char>(0), true, true));
    KX_CATCH("Append(double)", "KxString")
}

KxString& KxString::operator+=(const KxString& s) { return *this << s; }
KxString& KxString::operator+=(const char* pString) { return *this << pString; }
KxString& KxString::operator+=(char c) { return *this << c; }
KxString& KxString::operator+=(int16_t value) { return *this << value; }
KxString& KxString::operator+=(int32_t value) { return *this << value; }

KxString& KxString::operator<<(const KxString& s) {
    Append(s);
    return *this;
}
KxString& KxString::operator<<(const char* pString) {
    Append(pString);
    return *this;
}
KxString& KxString::operator<<(bool value) {
    Append(value ? "true" : "false");
    return *this;
}
#define KX_SHIFT(Type)                                                                             \
    KxString& KxString::operator<<(Type value) {                                                   \
        Append(value);                                                                             \
        return *this;                                                                              \
    }
KX_SHIFT(char)
KX_SHIFT(int16_t)
KX_SHIFT(int32_t)
KX_SHIFT(long)
KX_SHIFT(long long)
KX_SHIFT(uint16_t)
KX_SHIFT(uint32_t)
KX_SHIFT(unsigned long)
KX_SHIFT(unsigned long long)
KX_SHIFT(double)

KxString& KxString::operator<<(KxStringModifier modifier) {
    if (modifier == Reset)
        Clear();
    else if (modifier == EndLine)
        Append("\r\n");
    return *this;
}

void KxString::Insert(const char* pString, int32_t lPosition) {
    KX_TRY
        if (pString == nullptr) KxGenerateException("null pointer: pString", "KxString");
        int32_t length = GetLength();
        if (lPosition < 0 || lPosition > length)
            KxGenerateException("lPosition (value=%d) is invalid for string of length=%d.",
                                "KxString", lPosition, length);
        int64_t n = static_cast<int64_t>(strlen(pString));
        if (n == 0) return;
        // A piece of this string itself would move under the shift below; insert a copy.
        KxString own;
        const char* text = Text();
        if (pString >= text && pString < text + GetCapacity()) {
            own.Copy(pString);
            pString = own.GetCString();
        }
        int64_t capacity = GetCapacity();
        if (capacity - length - 1 < n) {
            if (n + capacity >= INT32_MAX) ThrowTooLong(n + capacity);
            ResizeStringBuffer(m_buffer, static_cast<int32_t>(n + capacity));
        }
        char* at = m_buffer.AsPtrAtOffset<char>(lPosition);
        memmove(at + n, at, static_cast<size_t>(length - lPosition) + 1);
        memcpy(at, pString, static_cast<size_t>(n));
    KX_CATCH("Insert()", "KxString")
}

void KxString::Remove(int32_t lStart, int32_t lCount) {
    KX_TRY
        int32_t length = GetLength();
        if (lStart < 0 || lCount < 0 || static_cast<int64_t>(lStart) + lCount > length)
            KxGenerateException(
                "Cannot remove %d characters starting at position %d from string of length %d.",
                "KxString", lCount, lStart, length);
        if (lCount == 0) return;
        char* at = m_buffer.AsPtrAtOffset<char>(lStart);
        memmove(at, at + lCount, static_cast<size_t>(length - lStart - lCount) + 1);
    KX_CATCH("Remove()", "KxString")
}

void KxString::Truncate(uint32_t ulLength) {
    KX_TRY
        int32_t length = GetLength();
        if (ulLength > static_cast<uint32_t>(length))
            KxGenerateException(
                "ulLength (value=%d) must not be greater than string length (value=%d).",
                "KxString", static_cast<int32_t>(ulLength), length);
        *m_buffer.AsPtrAtOffset<char>(static_cast<int32_t>(ulLength)) = '\0';
    KX_CATCH("Truncate()", "KxString")
}

void KxString::Clear() { *Text() = '\0'; }

KxString KxString::GetSubstring(int32_t lStart, int32_t lLength) const {
    KX_TRY
        int32_t length = GetLength();
        if (lStart > length)
            KxGenerateException("lStart (value=%d) must not be greater than GetLength (value=%d)",
                                "KxString", lStart, length);
        const char* from = m_buffer.AsPtrAtOffset<char>(lStart);
        if (lLength < 0)
            lLength = length - lStart;
        else if (lLength > length - lStart)
            KxGenerateException("Substring length (value=%d) must be less than or equal to "
                                "GetLength (value=%d) minus lStart (value=%d).",
                                "KxString", lLength, length, lStart);
        KxString result;
        if (lLength >= result.GetCapacity()) result.ResizeStringBuffer(result.m_buffer, lLength);
        memcpy(result.Text(), from, static_cast<size_t>(lLength));
        result.Text()[lLength] = '\0';
        return result;
    KX_CATCH("GetSubstring()", "KxString")
}

char KxString::GetCharAt(int32_t lIndex) const {
    KX_TRY
        int32_t length = GetLength();
        if (lIndex < 0 || lIndex >= length)
            KxGenerateException("index (value=%d) is out of range, [%d, %d]", "KxString", lIndex, 0,
                                length - 1);
        return Text()[lIndex];
    KX_CATCH("GetCharAt", "KxString")
}

void KxString::SetCharAt(int32_t lIndex, char c) {
    KX_TRY
        int32_t length = GetLength();
        if (lIndex < 0 || lIndex >= length)
            KxGenerateException("index (value=%d) is out of range, [%d, %d]", "KxString", lIndex, 0,
                                length - 1);
        Text()[lIndex] = c;
    KX_CATCH("SetCharAt()", "KxString")
}

int32_t KxString::Find(const char* sString, int32_t lStart, bool last) const {
    KX_TRY
        if (sString == nullptr) KxGenerateException("null pointer: sString", "KxString");
        int32_t length = GetLength();
        if (lStart > length)
            KxGenerateException("lStart (value=%d) is past end of string (length=%d)", "KxString",
                                lStart, length);
        const char* text = Text();
        const char* from = m_buffer.AsPtrAtOffset<char>(lStart);
        // An empty text occurs everywhere: first at lStart, last at the end.
        if (*sString == '\0') return last ? length : lStart;
        const char* hit = strstr(from, sString);
        int32_t found = -1;
        while (hit != nullptr) {
            found = static_cast<int32_t>(hit - text);
            if (!last) break;
            hit = strstr(hit + 1, sString);
        }
        return found;
    KX_CATCH("Find()", "KxString")
}

int32_t KxString::Find(const KxString& sString, int32_t lStart, bool last) const {
    return Find(sString.GetCString(), lStart, last);
}

int32_t KxString::Find(char c, int32_t lStart, bool last) const {
    char text[2] = {c, '\0'};
    return Find(text, lStart, last);
}

void KxString::Replace(const char* sOriginal, const char* sReplace, bool all) {
    KX_TRY
        if (sOriginal == nullptr) KxGenerateException("null pointer: sOriginal", "KxString");
        if (sReplace == nullptr) KxGenerateException("null pointer: sReplace", "KxString");
        // An empty text matches before every character and, with all set, would never end.
        if (*sOriginal == '\0') KxGenerateException("sOriginal must not be empty", "KxString");
        size_t originalLength = strlen(sOriginal);
        KxString result;
        const char* text = Text();
        const char* rest = text;
        const char* hit = strstr(rest, sOriginal);
        while (hit != nullptr) {
            result << GetSubstring(static_cast<int32_t>(rest - text),
                                   static_cast<int32_t>(hit - rest))
                   << sReplace;
            rest = hit + originalLength;
            hit = all ? strstr(rest, sOriginal) : nullptr;
        }
        if (rest == text) return;
        result << rest;
        Copy(result.GetCString());
    KX_CATCH("Replace()", "KxString")
}

bool KxString::BeginsWith(const char* sString) const {
    KX_TRY
        if (sString == nullptr) KxGenerateException("null pointer: sString", "KxString");
        return strncmp(Text(), sString, strlen(sString)) == 0;
    KX_CATCH("BeginsWith()", "KxString")
}

bool KxString::EndsWith(const char* sString) const {
    KX_TRY
        if (sString == nullptr) KxGenerateException("null pointer: sString", "KxString");
        int32_t length = GetLength();
        int32_t n = Length(sString);
        if (n > length) return false;
        return strcmp(m_buffer.AsPtrAtOffset<char>(length - n), sString) == 0;
    KX_CATCH("EndsWith()", "KxString")
}

bool KxString::EndsWith(char c) const {
    char text[2] = {c, '\0'};
    return EndsWith(text);
}

void KxString::ToLowercase() {
    for (char* p = Text(); *p != '\0'; ++p) *p = static_cast<char>(tolower(static_cast<unsigned char>(*p)));
}

void KxString::ToUppercase() {
    for (char* p = Text(); *p != '\0'; ++p) *p = static_cast<char>(toupper(static_cast<unsigned char>(*p)));
}

void KxString::Deblank() { KxDeblank(Text(), true, true); }
void KxString::DeblankLeading() { KxDeblank(Text(), true, false); }
void KxString::DeblankTrailing() { KxDeblank(Text(), false, true); }

void KxString::printf(const char* pFormat, ...) {
    va_list args;
    va_start(args, pFormat);
    try {
        vprintf(pFormat, args);
    } catch (KxException& e) {
        va_end(args);
        e.AddCallpath("printf()", "KxString");
        throw;
    }
    va_end(args);
}

void KxString::vprintf(const char* pFormat, va_list args) {
    KX_TRY
        if (pFormat == nullptr) KxGenerateException("null pointer: pFormat", "KxString");
        // Formatted into a scratch block, so arguments taken from this string stay intact and a
        // failure leaves the string as it was.
        KxResizableChunk scratch(m_buffer);
        va_list pass;
        va_copy(pass, args);
        int r = vsnprintf(scratch.AsPtrAtOffset<char>(0), static_cast<size_t>(scratch.GetSize()),
                          pFormat, pass);
        va_end(pass);
        if (r < 0)
            KxGenerateException(
                "error encountered in call to 'vsnprintf' with format string, \"%s\".", "KxString",
                pFormat);
        if (r >= m_buffer.GetSize()) {
            if (r >= INT32_MAX - 1) ThrowTooLong(r);
            ResizeStringBuffer(scratch, r + 1);
            va_copy(pass, args);
            vsnprintf(scratch.AsPtrAtOffset<char>(0), static_cast<size_t>(scratch.GetSize()),
                      pFormat, pass);
            va_end(pass);
        }
        m_buffer.Swap(scratch);
    KX_CATCH("vprintf()", "KxString")
}

int32_t KxString::GetLength() const { return Length(Text()); }

bool KxString::IsEmpty() const { return *Text() == '\0'; }

const char* KxString::GetCString() const { return Text(); }

namespace {
int Compare(const char* a, const char* b) { return strcmp(a, b != nullptr ? b : ""); }
} // namespace

bool KxString::operator==(const KxString& other) const { return Compare(Text(), other.Text()) == 0; }
bool KxString::operator==(const char* pString) const { return Compare(Text(), pString) == 0; }
bool KxString::operator!=(const KxString& other) const { return Compare(Text(), other.Text()) != 0; }
bool KxString::operator!=(const char* pString) const { return Compare(Text(), pString) != 0; }
bool KxString::operator<(const KxString& other) const { return Compare(Text(), other.Text()) < 0; }
bool KxString::operator<(const char* pString) const { return Compare(Text(), pString) < 0; }
bool KxString::operator>(const KxString& other) const { return Compare(Text(), other.Text()) > 0; }
bool KxString::operator>(const char* pString) const { return Compare(Text(), pString) > 0; }
bool KxString::operator<=(const KxString& other) const { return Compare(Text(), other.Text()) <= 0; }
bool KxString::operator<=(const char* pString) const { return Compare(Text(), pString) <= 0; }
bool KxString::operator>=(const KxString& other) const { return Compare(Text(), other.Text()) >= 0; }
bool KxString::operator>=(const char* pString) const { return Compare(Text(), pString) >= 0; }

void KxString::Read(KxInputStreamInterface& stream) {
    KX_TRY
        char* text = nullptr;
        stream.ReadCString(&text);
        std::unique_ptr<char[]> owned(text);
        Copy(text);
    KX_CATCH("Read()", "KxString")
}

void KxString::Write(KxOutputStreamInterface& stream) const {
    KX_TRY
        stream.WriteCString(Text());
    KX_CATCH("Write()", "KxString")
}
