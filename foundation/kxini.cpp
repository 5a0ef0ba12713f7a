#include "kxini.h"

#include <cinttypes>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <optional>
#include <string>

#include "kxalloc.h"
#include "kxfilename.h"
#include "kxplatform_file.h"

namespace {

const char* const kLine = "KxIniLine";
const char* const kSection = "KxIniSection";
const char* const kFile = "KxIniFile";

bool IsBlank(char c) { return static_cast<unsigned char>(c) <= 32; }

char FoldCase(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

// ASCII letters only, as everywhere in the library; compares at most n characters.
bool EqualNoCase(const char* a, const char* b, size_t n = std::numeric_limits<size_t>::max()) {
    for (size_t i = 0; i < n; ++i) {
        if (FoldCase(a[i]) != FoldCase(b[i])) return false;
        if (a[i] == '\0') return true;
    }
    return true;
}

// Copies the n bytes at p into s, without the blanks at either end.
void AssignStripped(KxString& s, const char* p, size_t n) {
    while (n > 0 && IsBlank(*p)) ++p, --n;
    while (n > 0 && IsBlank(p[n - 1])) --n;
    KxVector<char> text(p, p + n);
    text.push_back('\0');
    s.Copy(text.data());
}

// Reads one whole line into line, NUL-terminated. The pieces go into a vector rather than a
// string so that a line of megabytes costs linear time. False at the end of the file.
bool ReadWholeLine(KxInputStreamInterface& stream, KxVector<char>& line) {
    line.clear();
    char piece[1024];
    uint64_t total = 0;
    for (;;) {
        uint32_t consumed = stream.ReadLine(piece, sizeof piece);
        total += consumed;
        size_t length = strlen(piece);
        line.insert(line.end(), piece, piece + length);
        if (consumed != sizeof piece - 1 || length != sizeof piece - 1) break;
    }
    line.push_back('\0');
    return total != 0;
}

// Reads a line and strips it in place; null at the end of the file.
char* ReadStrippedLine(KxInputStreamInterface& stream, KxVector<char>& line) {
    if (!ReadWholeLine(stream, line)) return nullptr;
    return KxDeblank(line.data());
}

bool HasLineBreak(const char* s) { return s != nullptr && strpbrk(s, "\r\n") != nullptr; }

// Quoted when the reader would otherwise lose part of it: blanks at either end, or a pair of
// quotes around it that the reader would take away.
bool ValueNeedsQuotes(const char* s) {
    size_t n = strlen(s);
    if (n == 0) return false;
    if (IsBlank(s[0]) || IsBlank(s[n - 1])) return true;
    return n > 1 && s[0] == '"' && s[n - 1] == '"';
}

bool KeyNeedsQuotes(const char* s) {
    size_t n = strlen(s);
    return n > 0 && (s[0] == ' ' || s[n - 1] == ' ');
}

void WriteMaybeQuoted(KxOutputStreamInterface& out, const char* s, bool quote) {
    if (quote) out.WriteString("\"", false);
    out.WriteString(s, false);
    if (quote) out.WriteString("\"", false);
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// A decimal "[-]digits" that fits in 32 bits.
std::optional<int32_t> ParseDecimal(const char* s) {
    const char* p = s;
    bool negative = *p == '-';
    if (negative) ++p;
    if (*p == '\0') return std::nullopt;
    int64_t value = 0;
    for (; *p != '\0'; ++p) {
        if (*p < '0' || *p > '9') return std::nullopt;
        value = value * 10 + (*p - '0');
        if (value > int64_t{std::numeric_limits<int32_t>::max()} + 1) return std::nullopt;
    }
    if (negative) value = -value;
    if (value > std::numeric_limits<int32_t>::max()) return std::nullopt;
    return static_cast<int32_t>(value);
}

// "0x" and one to eight hexadecimal digits, taken as the bits of a 32-bit value.
std::optional<int32_t> ParseHex(const char* s) {
    const char* p = s + 2;
    size_t n = strlen(p);
    if (n == 0 || n > 8) return std::nullopt;
    uint32_t value = 0;
    for (; *p != '\0'; ++p) {
        char c = FoldCase(*p);
        int digit = (c >= '0' && c <= '9') ? c - '0' : (c >= 'a' && c <= 'f') ? c - 'a' + 10 : -1;
        if (digit < 0) return std::nullopt;
        value = (value << 4) | static_cast<uint32_t>(digit);
    }
    return static_cast<int32_t>(value);
}

// Moves to the start of the file with the buffer filled anew, so that what follows reads the
// file as it is on disk now (a seek inside the buffer alone would read what it held before).
void MoveToFreshStart(KxIOInterface& file) {
    file.Seek64FromEnd(0);
    file.Seek64Absolute(0);
}

// A READ lock on the whole file for a scope. Release unlocks and reports failures; when an
// error passes instead, the destructor unlocks and keeps quiet, so the first error is the one
// that travels.
class ScopedReadLock {
public:
    explicit ScopedReadLock(KxIOInterface& file) : m_file(file) { m_file.Lock(READ, 0, 0); }
    ~ScopedReadLock() {
        if (!m_held) return;
        try {
            m_file.UnLock(READ, 0, 0);
        } catch (...) {
        }
    }
    void Release() {
        m_held = false;
        m_file.UnLock(READ, 0, 0);
    }
    ScopedReadLock(const ScopedReadLock&) = delete;
    ScopedReadLock& operator=(const ScopedReadLock&) = delete;

private:
    KxIOInterface& m_file;
    bool m_held = true;
};

} // namespace

// ---------------------------------------------------------------------------------------------
// KxIniLine

KxIniLine::KxIniLine(const char* sLine) {
    KX_TRY
        SetLine(sLine);
    KX_CATCH_STD("Constructor(char *sLine)", kLine)
}

KxIniLine::KxIniLine(const char* sKey, const char* sValue) {
    KX_TRY
        SetKey(sKey);
        SetValue(sValue);
    KX_CATCH_STD("Constructor(char *sKey, char *sValue)", kLine)
}

KxIniLine::KxIniLine(const KxIniLine& rhs) {
    KX_TRY
        Copy(rhs);
    KX_CATCH("Constructor(KxIniLine &rhs)", kLine)
}

KxIniLine& KxIniLine::operator=(const KxIniLine& rhs) {
    if (this != &rhs) Copy(rhs);
    return *this;
}

KxIniLine* KxIniLine::Clone() const { return new KxIniLine(*this); }

void KxIniLine::Copy(const KxIniLine& rhs) {
    KX_TRY
        KxString key(rhs.m_key), value(rhs.m_value);
        m_key = key;
        m_value = value;
        m_hasValue = rhs.m_hasValue;
    KX_CATCH("Copy()", kLine)
}

void KxIniLine::SetLine(const char* sLine) {
    KX_TRY
        const char* line = sLine != nullptr ? sLine : "";
        const char* equals = strchr(line, '=');
        if (equals == nullptr) {
            SetKey(line);
            SetValue(nullptr);
            return;
        }
        KxString key;
        AssignStripped(key, line, static_cast<size_t>(equals - line));
        SetValue(equals + 1);
        m_key = key;
    KX_CATCH_STD("SetLine()", kLine)
}

void KxIniLine::SetKey(const char* sKey) {
    KX_TRY
        const char* key = sKey != nullptr ? sKey : "";
        AssignStripped(m_key, key, strlen(key));
    KX_CATCH_STD("SetKey()", kLine)
}

void KxIniLine::SetValue(const char* sValue) {
    KX_TRY
        if (sValue == nullptr) {
            m_value.Clear();
            m_hasValue = false;
            return;
        }
        m_value.Copy(sValue);
        m_hasValue = true;
    KX_CATCH("SetValue()", kLine)
}

// ---------------------------------------------------------------------------------------------
// KxIniSection

KxIniSection::KxIniSection(const char* sName) {
    KX_TRY
        m_comments.emplace_back();
        SetName(sName);
        m_modified = false;
    KX_CATCH_STD("Constructor()", kSection)
}

KxIniSection::KxIniSection(const KxIniSection& rhs) {
    KX_TRY
        m_lines = rhs.m_lines;
        m_comments = rhs.m_comments;
        m_name = rhs.m_name;
        m_hasName = rhs.m_hasName;
        m_modified = rhs.m_modified;
        m_loaded = rhs.m_loaded;
    KX_CATCH_STD("Constructor(KxIniSection &rhs)", kSection)
}

KxIniSection* KxIniSection::Clone() const { return new KxIniSection(*this); }

void KxIniSection::SetName(const char* sName) {
    KX_TRY
        if (sName == nullptr) return;
        if (m_hasName && m_name == sName) return;
        KxString name;
        if (*sName == '[') {
            name.Copy(sName);
        } else {
            name << "[" << sName << "]";
        }
        m_name = name;
        m_hasName = true;
        m_modified = true;
    KX_CATCH("SetName()", kSection)
}

void KxIniSection::AddLine(const char* sKeyName, const char* sEntry) {
    KX_TRY
        auto line = std::make_unique<KxIniLine>(sKeyName, sEntry);
        m_comments.emplace_back();
        try {
            m_lines.push_back(line.get());
        } catch (...) {
            m_comments.pop_back();
            throw;
        }
        line.release();
        m_modified = true;
    KX_CATCH_STD("AddLine(char *sKeyName, char *sEntry)", kSection)
}

void KxIniSection::AddLine(const char* sLine) {
    KX_TRY
        if (sLine == nullptr || *sLine == '\0') return;
        auto line = std::make_unique<KxIniLine>(sLine);
        m_comments.emplace_back();
        try {
            m_lines.push_back(line.get());
        } catch (...) {
            m_comments.pop_back();
            throw;
        }
        line.release();
        m_modified = true;
    KX_CATCH_STD("AddLine(char *sLine)", kSection)
}

void KxIniSection::AddComment(const char* sComment) {
    KX_TRY
        m_comments.back().emplace_back(sComment);
        m_modified = true;
    KX_CATCH_STD("AddComment()", kSection)
}

int32_t KxIniSection::GetNumLines() const { return m_lines.GetCount(); }

KxIniLine* KxIniSection::GetLine(int32_t lIndex) const {
    KX_TRY
        return m_lines.At(lIndex);
    KX_CATCH("GetLine()", kSection)
}

const KxVector<KxString>& KxIniSection::GetComments(int32_t lIndex) const {
    KX_TRY
        return m_comments.At(lIndex);
    KX_CATCH("GetComments()", kSection)
}

int32_t KxIniSection::FindKey(const char* sKeyName) const {
    if (sKeyName == nullptr) return -1;
    for (int32_t i = 0; i < m_lines.GetCount(); ++i)
        if (EqualNoCase(m_lines[i]->GetKey(), sKeyName)) return i;
    return -1;
}

const char* KxIniSection::GetString(const char* sKeyName, const char* sDefault) {
    KX_TRY
        int32_t index = FindKey(sKeyName);
        if (index < 0) {
            m_return.Copy(sDefault);
        } else {
            const char* value = m_lines[index]->GetValue();
            m_return.Copy(value != nullptr ? value : "");
        }
        return m_return.GetCString();
    KX_CATCH("GetString(char *sKeyName, char *sDefault)", kSection)
}

char* KxIniSection::GetString(const char* sKeyName, const char* sDefault, char* sReturn,
                              int32_t lLength) {
    KX_TRY
        const char* value = GetString(sKeyName, sDefault);
        if (sReturn == nullptr || lLength <= 0) return sReturn;
        size_t n = std::min(strlen(value), static_cast<size_t>(lLength - 1));
        memcpy(sReturn, value, n);
        sReturn[n] = '\0';
        return sReturn;
    KX_CATCH("GetString(char *sKeyName, char *sDefault, char *sReturn)", kSection)
}

int32_t KxIniSection::GetInt(const char* sKeyName, int32_t lDefault) {
    KX_TRY
        int32_t index = FindKey(sKeyName);
        const char* value = index >= 0 ? m_lines[index]->GetValue() : nullptr;
        if (value == nullptr || *value == '\0') return lDefault;
        KxString text(value);
        text.Deblank();
        const char* s = text.GetCString();
        // Anything that is not wholly a number gives the default: "12abc" is not 12.
        std::optional<int32_t> result;
        if (*s != '\0' && strspn(s, "-0123456789") == strlen(s))
            result = ParseDecimal(s);
        else if (strncmp(s, "0x", 2) == 0)
            result = ParseHex(s);
        return result.value_or(lDefault);
    KX_CATCH("GetInt()", kSection)
}

bool KxIniSection::GetBool(const char* sKeyName, bool bDefault) {
    KX_TRY
        int32_t index = FindKey(sKeyName);
        const char* value = index >= 0 ? m_lines[index]->GetValue() : nullptr;
        if (value == nullptr || *value == '\0') return bDefault;
        KxString text(value);
        text.Deblank();
        const char* s = text.GetCString();
        if (EqualNoCase(s, "true") || EqualNoCase(s, "yes")) return true;
        return strtoll(s, nullptr, 10) == 1;
    KX_CATCH("GetBool()", kSection)
}

char* KxIniSection::GetBinaryString(const char* sKeyName, char* sReturn, uint16_t uwLength,
                                    char fill) {
    KX_TRY
        if (sReturn == nullptr)
            KxGenerateException("Null pointer passed to GetBinaryString", kSection);
        int32_t index = FindKey(sKeyName);
        const char* value = index >= 0 ? m_lines[index]->GetValue() : nullptr;
        if (value == nullptr) value = "";
        memset(sReturn, 0, uwLength);
        size_t n = strlen(value);
        if (n == 0) {
            if (uwLength > 0) memset(sReturn, fill, uwLength - 1u);
            return sReturn;
        }
        if (static_cast<int64_t>(uwLength) - 1 < static_cast<int64_t>(n / 2))
            KxGenerateException("sReturn string not big enough", kSection);
        for (size_t i = 0; i + 1 < n; i += 2) {
            int high = HexDigit(value[i]), low = HexDigit(value[i + 1]);
            if (high < 0 || low < 0) KxGenerateException("Invalid binary string", kSection);
            sReturn[i / 2] = static_cast<char>((high << 4) | low);
        }
        return sReturn;
    KX_CATCH("GetBinaryString()", kSection)
}

void KxIniSection::SetString(const char* sKeyName, const char* sValue) {
    KX_TRY
        if (sKeyName == nullptr || sValue == nullptr) return;
        int32_t index = FindKey(sKeyName);
        if (index < 0) {
            if (*sValue != '\0') AddLine(sKeyName, sValue);
        } else if (*sValue != '\0') {
            m_lines[index]->SetValue(sValue);
            m_modified = true;
        } else {
            RemoveLine(index);
            m_modified = true;
        }
    KX_CATCH("SetString()", kSection)
}

// The comments before the removed line move to the line after it, so no comment is lost.
void KxIniSection::RemoveLine(int32_t lIndex) {
    size_t i = static_cast<size_t>(lIndex);
    KxVector<KxString> merged(m_comments[i]);
    merged.insert(merged.end(), m_comments[i + 1].begin(), m_comments[i + 1].end());
    m_comments[i + 1].swap(merged);
    m_comments.erase(m_comments.begin() + lIndex);
    m_lines.erase(m_lines.cbegin() + lIndex);
}

void KxIniSection::SetInt(const char* sKeyName, int32_t lValue) {
    KX_TRY
        KxString text;
        text.printf("%d", lValue);
        SetString(sKeyName, text);
    KX_CATCH("SetInt()", kSection)
}

void KxIniSection::SetBool(const char* sKeyName, bool bValue) {
    KX_TRY
        SetString(sKeyName, bValue ? "true" : "false");
    KX_CATCH("SetBool()", kSection)
}

void KxIniSection::SetBinaryString(const char* sKeyName, const void* pBytes, uint16_t uwLength) {
    KX_TRY
        if (pBytes == nullptr && uwLength > 0)
            KxGenerateException("Null pointer passed to SetBinaryString", kSection);
        static const char digits[] = "0123456789ABCDEF";
        KxVector<char> text;
        text.reserve(2u * uwLength + 1u);
        const unsigned char* bytes = static_cast<const unsigned char*>(pBytes);
        for (uint16_t i = 0; i < uwLength; ++i) {
            text.push_back(digits[bytes[i] >> 4]);
            text.push_back(digits[bytes[i] & 0x0F]);
        }
        text.push_back('\0');
        SetString(sKeyName, text.data());
    KX_CATCH_STD("SetBinaryString()", kSection)
}

void KxIniSection::SplitLine(const char* sLine, KxString& sKey, KxString& sValue) {
    KX_TRY
        const char* line = sLine != nullptr ? sLine : "";
        const char* equals = strchr(line, '=');
        if (equals == nullptr) {
            AssignStripped(sKey, line, strlen(line));
            sValue.Clear();
            return;
        }
        AssignStripped(sKey, line, static_cast<size_t>(equals - line));
        const char* value = equals + 1;
        size_t n = strlen(value);
        while (n > 0 && IsBlank(*value)) ++value, --n;
        while (n > 0 && IsBlank(value[n - 1])) --n;
        if (n > 1 && value[0] == '"' && value[n - 1] == '"') {
            ++value;
            n -= 2;
        }
        KxVector<char> text(value, value + n);
        text.push_back('\0');
        sValue.Copy(text.data());
    KX_CATCH_STD("SplitLine()", kSection)
}

void KxIniSection::LoadSection(KxIOInterface& file) {
    KX_TRY
        // Read into a fresh section and taken over at the end, so a failure leaves this one as
        // it was and a second load does not double the lines.
        KxIniSection loaded;
        KxVector<char> buffer;
        KxString key, value;
        for (;;) {
            int64_t position = file.Tell64();
            char* line = ReadStrippedLine(file, buffer);
            if (line == nullptr) break;
            if (*line == '[') {
                file.Seek64Absolute(position);
                break;
            }
            if (*line == '\0') continue;
            if (*line == ';') {
                loaded.m_comments.back().emplace_back(line + 1);
                continue;
            }
            SplitLine(line, key, value);
            loaded.AddLine(key, value);
        }
        m_lines.Swap(loaded.m_lines);
        m_comments.swap(loaded.m_comments);
        m_loaded = true;
        m_modified = false;
    KX_CATCH_STD("LoadSection()", kSection)
}

void KxIniSection::Write(KxOutputStreamInterface& file) {
    KX_TRY
        if (!m_hasName)
            KxGenerateException("Cannot write a section which does not have a name.", kSection);
        if (m_lines.empty()) {
            m_modified = false;
            return;
        }
        // A line break inside a text would split it into lines of its own when read back, and
        // a lone CR would make the whole file unreadable.
        if (HasLineBreak(m_name))
            KxGenerateException("Cannot write section %s: its name holds a line break",
                                kSection, m_name.GetCString());
        for (int32_t i = 0; i <= m_lines.GetCount(); ++i) {
            for (const KxString& comment : m_comments[i])
                if (HasLineBreak(comment))
                    KxGenerateException("Cannot write section %s: a comment holds a line break",
                                        kSection, m_name.GetCString());
            if (i == m_lines.GetCount()) break;
            if (HasLineBreak(m_lines[i]->GetKey()) || HasLineBreak(m_lines[i]->GetValue()))
                KxGenerateException("Cannot write key \"%s\" of section %s: it holds a line break",
                                    kSection, m_lines[i]->GetKey(), m_name.GetCString());
        }

        file.WriteLine(m_name);
        for (int32_t i = 0; i <= m_lines.GetCount(); ++i) {
            for (const KxString& comment : m_comments[i]) {
                file.WriteString(";", false);
                file.WriteLine(comment);
            }
            if (i == m_lines.GetCount()) break;
            const char* key = m_lines[i]->GetKey();
            const char* value = m_lines[i]->GetValue();
            if (value == nullptr) value = "";
            WriteMaybeQuoted(file, key, KeyNeedsQuotes(key));
            file.WriteString("=", false);
            WriteMaybeQuoted(file, value, ValueNeedsQuotes(value));
            file.WriteLine("");
        }
        file.WriteLine("");
        m_modified = false;
    KX_CATCH("Write()", kSection)
}

// ---------------------------------------------------------------------------------------------
// KxIniFile

KxIniFile::KxIniFile() = default;

KxIniFile::KxIniFile(const char* sFileName, bool loadContents, bool create, uint32_t ulOpenFlags) {
    KX_TRY
        SetName(sFileName, create, ulOpenFlags);
        LoadSectionNames(loadContents);
    KX_CATCH("Constructor()", kFile)
}

void KxIniFile::SetName(const char* sFileName, bool create, uint32_t ulOpenFlags) {
    KX_TRY
        if (sFileName == nullptr) KxGenerateException("Null pointer to filename", kFile);
        KxFileName name(sFileName);
        KxString path(name.GetFullPath());
        if (path.IsEmpty() || !KxIO::Exists(path)) {
            if (!create || path.IsEmpty())
                KxGenerateFileException("\"%s\" does not exist.", kFile, sFileName, sFileName);
            KxIO::Create(path);
        }
        m_fileName.Clear();
        m_file.Open(path, ulOpenFlags);
        m_fileName = path;
        m_openFlags = ulOpenFlags;
    KX_CATCH("SetName()", kFile)
}

void KxIniFile::LoadSectionNames(bool loadContents) {
    KX_TRY
        ScopedReadLock lock(m_file);
        KxVector<char> buffer;
        while (SeekToNextSection()) {
            char* header = ReadStrippedLine(m_file, buffer);
            auto section = std::make_unique<KxIniSection>(header);
            if (loadContents) section->LoadSection(m_file);
            m_sections.push_back(section.get());
            section.release();
        }
        lock.Release();
    KX_CATCH_STD("LoadSectionNames()", kFile)
}

int32_t KxIniFile::GetNumSections() const { return m_sections.GetCount(); }

const char* KxIniFile::GetSectionName(int32_t lIndex) const {
    KX_TRY
        return m_sections.At(lIndex)->GetName();
    KX_CATCH("GetSectionName()", kFile)
}

int32_t KxIniFile::GetSectionIndex(const char* sSectionName, int32_t lFirstIndex,
                                   bool prefix) const {
    KX_TRY
        if (sSectionName == nullptr) return -1;
        KxString search;
        if (*sSectionName == '[') {
            search.Copy(sSectionName);
            if (prefix && search.EndsWith(']')) search.Truncate(search.GetLength() - 1u);
        } else {
            search << "[" << sSectionName;
            if (!prefix) search << "]";
        }
        size_t length = static_cast<size_t>(search.GetLength());
        for (int32_t i = lFirstIndex < 0 ? 0 : lFirstIndex; i < m_sections.GetCount(); ++i) {
            const char* name = m_sections[i]->GetName();
            if (name == nullptr) continue;
            if (prefix ? EqualNoCase(name, search, length) : EqualNoCase(name, search))
                return i;
        }
        return -1;
    KX_CATCH("GetSectionIndex()", kFile)
}

KxIniSection* KxIniFile::GetSection(const char* sSectionName) {
    KX_TRY
        if (sSectionName == nullptr || *sSectionName == '\0') return nullptr;
        int32_t index = GetSectionIndex(sSectionName);
        if (index < 0) return AddSection(sSectionName);
        return GetSection(index);
    KX_CATCH("GetSection(char *sSectionName)", kFile)
}

KxIniSection* KxIniFile::GetSection(int32_t lIndex) {
    KX_TRY
        KxIniSection* section = m_sections.At(lIndex);
        if (!section->GetLoaded()) {
            if (m_fileName.IsEmpty())
                KxGenerateException("Cannot load section %ld without a file", kFile,
                                    static_cast<long>(lIndex));
            LoadSection(section);
        }
        return section;
    KX_CATCH("GetSection(long lIndex)", kFile)
}

KxIniSection* KxIniFile::AddSection(KxIniSection* pSection) {
    KX_TRY
        std::unique_ptr<KxIniSection> owned(pSection);
        if (pSection == nullptr) KxGenerateException("Null pointer passed to AddSection", kFile);
        if (GetSectionIndex(pSection->GetName()) >= 0)
            KxGenerateException("Section already exists.", kFile);
        pSection->SetLoaded(true);
        m_sections.push_back(pSection);
        owned.release();
        return pSection;
    KX_CATCH_STD("AddSection(KxIniSection *pSection)", kFile)
}

KxIniSection* KxIniFile::AddSection(const char* sSectionName) {
    KX_TRY
        return AddSection(new KxIniSection(sSectionName));
    KX_CATCH_STD("AddSection(char *sSectionName)", kFile)
}

void KxIniFile::LoadUnLoadedSections() {
    KX_TRY
        ScopedReadLock lock(m_file);
        MoveToFreshStart(m_file);
        KxVector<char> buffer;
        int32_t i = 0;
        while (i < m_sections.GetCount() && SeekToNextSection()) {
            // Stripped as when the names were read: a header with blanks around it would
            // otherwise stop the matching and its section, and every later one, be written
            // empty, that is, lost.
            char* header = ReadStrippedLine(m_file, buffer);
            KxIniSection* section = m_sections[i];
            if (section->GetName() != nullptr && strcmp(header, section->GetName()) == 0) {
                if (!section->GetLoaded()) section->LoadSection(m_file);
                ++i;
            }
        }
        lock.Release();
    KX_CATCH_STD("LoadUnLoadedSections()", kFile)
}

bool KxIniFile::SeekToNextSection() {
    KX_TRY
        if (m_fileName.IsEmpty())
            KxGenerateException("Cannot find section without a file", kFile);
        KxVector<char> buffer;
        for (;;) {
            int64_t position = m_file.Tell64();
            char* line = ReadStrippedLine(m_file, buffer);
            if (line == nullptr) return false;
            size_t n = strlen(line);
            if (n > 0 && line[0] == '[' && line[n - 1] == ']') {
                m_file.Seek64Absolute(position);
                return true;
            }
        }
    KX_CATCH_STD("SeekToNextSection()", kFile)
}

void KxIniFile::LoadSection(KxIniSection* pSection) {
    KX_TRY
        if (pSection == nullptr) KxGenerateException("Null pointer passed to LoadSection", kFile);
        // Locked before reading, so the contents read are not in the middle of a change.
        ScopedReadLock lock(m_file);
        MoveToFreshStart(m_file);
        KxVector<char> buffer;
        bool found = false;
        while (SeekToNextSection()) {
            char* header = ReadStrippedLine(m_file, buffer);
            if (pSection->GetName() != nullptr && strcmp(header, pSection->GetName()) == 0) {
                pSection->LoadSection(m_file);
                found = true;
                break;
            }
        }
        lock.Release();
        // Not on disk (any more): it is empty, and lines the program gives it later must not be
        // replaced by a load that finds the header after all.
        if (!found) pSection->SetLoaded(true);
    KX_CATCH_STD("LoadSection()", kFile)
}

// The sections go into a new file in the INI file's own directory, which then takes the INI
// file's place by a rename: a failure at any point, a full disk included, leaves the INI file
// whole, where copying over it could leave it half written.
void KxIniFile::Write(bool loadFirst, uint32_t ulOpenFlags) {
    KX_TRY
        if (m_fileName.IsEmpty()) KxGenerateException("Cannot write sections without a file", kFile);
        // The rename needs only the directory's permission; the file's own is asked here, as
        // writing into the file would.
        if (kxplatform::IsReadOnly(m_fileName.GetCString()).value_or(false)) {
            KxString message;
            message << "Error in opening file '" << m_fileName << "'.  Permission denied.";
            throw KxFileOpenFailedException(message, "KxIO", m_fileName);
        }

        KxFileName name(m_fileName);
        KxString directory(name.GetLocation());
        KxString tempName;
        KxIO::GetTempFileName(tempName, directory, "~kxini");

        KxVector<char> modified;
        try {
            if (loadFirst) LoadUnLoadedSections();
            for (KxIniSection* section : m_sections) modified.push_back(section->GetModified());

            // The new file takes the old one's permission bits (the copied contents are
            // emptied at once below).
            if (!kxplatform::CopyFile(m_fileName.GetCString(), tempName.GetCString()))
                KxGenerateSystemException("Could not copy \"%s\" to \"%s\" -- ", false, kFile,
                                          m_fileName.GetCString(), tempName.GetCString());

            m_file.Close();
            {
                KxIO out(tempName, kxIOOpenCreateEmpty);
                for (KxIniSection* section : m_sections) section->Write(out);
                out.Close();
            }
            ReplaceFile(tempName);
        } catch (...) {
            try {
                KxIO::Delete(tempName);
            } catch (...) {
            }
            for (size_t i = 0; i < modified.size() && i < m_sections.size(); ++i)
                m_sections[i]->m_modified = modified[i] != 0;
            try {
                if (!m_file.GetIsOpen()) m_file.Open(m_fileName, m_openFlags);
            } catch (...) {
            }
            throw;
        }
        Reopen(ulOpenFlags);
    KX_CATCH_STD("Write()", kFile)
}

void KxIniFile::ReplaceFile(const KxString& sTempName) {
    // On the device before the rename, so that after a crash the name holds the old contents or
    // the new ones, never an empty file.
    kxplatform::File written;
    if (!written.Open(sTempName.GetCString(), kxplatform::OpenFlags{}) || !written.Sync())
        KxGenerateSystemException("Could not write \"%s\" to disk -- ", false, kFile,
                                  sTempName.GetCString());
    written.Close();
    if (!kxplatform::RenameFile(sTempName.GetCString(), m_fileName.GetCString()))
        KxGenerateSystemException("Could not replace \"%s\" by \"%s\" -- ", false, kFile,
                                  m_fileName.GetCString(), sTempName.GetCString());
}

void KxIniFile::Reopen(uint32_t ulOpenFlags) {
    m_file.Open(m_fileName, ulOpenFlags);
    m_openFlags = ulOpenFlags;
}
