#include "tvregstore.h"

#include <cinttypes>
#include <cstring>

#include "kxfilename.h"
#include "kxio.h"
#include "kxplatform_env.h"
#include "kxplatform_error.h"
#include "kxplatform_file.h"
#include "kxplatform_path.h"
#include "tvasciitext.h"

namespace {

constexpr const char* kClass = "TvRegStore";
constexpr const char* kHeader = "REGEDIT4";
constexpr const char* kEndLine = "\r\n";

// The registry's own kind numbers, which "hex(n):" carries.
constexpr uint32_t kKindString = 1;
constexpr uint32_t kKindExpandString = 2;
constexpr uint32_t kKindBinary = 3;
constexpr uint32_t kKindDWord = 4;

std::string Folded(const char* sText) {
    std::string folded(sText != nullptr ? sText : "");
    for (char& c : folded) c = TvAsciiUpper(c);
    return folded;
}

KxString FullPath(const char* sKey) {
    KxString path(TvRegStore::kRootKey);
    if (sKey != nullptr && *sKey != '\0') path << "\\" << sKey;
    return path;
}

[[noreturn]] void Fail(const KxString& sMessage) {
    throw TvRegistryException(sMessage.GetCString(), kClass);
}

[[noreturn]] void InvalidType(const char* sName) {
    KxString message;
    message.printf("Invalid data type for '%s'", sName);
    throw TvRegistryDataTypeException(message.GetCString(), kClass);
}

// A fault in the file's text, for the line where it was found.
struct Damage {
    int32_t line;
    std::string what;
};

[[noreturn]] void Damaged(int32_t lLine, const std::string& sWhat) { throw Damage{lLine, sWhat}; }

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool HasLineBreak(const char* sText) {
    return sText != nullptr && std::strpbrk(sText, "\r\n") != nullptr;
}

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string Trimmed(const std::string& s) {
    size_t begin = 0, end = s.size();
    while (begin < end && IsBlank(s[begin])) ++begin;
    while (end > begin && IsBlank(s[end - 1])) --end;
    return s.substr(begin, end - begin);
}

// Reads a quoted text with \\ and \" escapes starting at the quote at pos; pos ends after the
// closing quote.
std::string Unquote(const std::string& line, size_t& pos, int32_t lLine) {
    std::string text;
    for (++pos; pos < line.size(); ++pos) {
        char c = line[pos];
        if (c == '"') {
            ++pos;
            return text;
        }
        if (c == '\\') {
            if (++pos >= line.size()) break;
            c = line[pos];
            if (c != '\\' && c != '"') Damaged(lLine, std::string("unknown escape \\") + c);
        }
        text += c;
    }
    Damaged(lLine, "a quoted text has no closing quotation mark");
}

void Quote(KxString& sOut, const std::string& text) {
    std::string quoted = "\"";
    for (char c : text) {
        if (c == '\\' || c == '"') quoted += '\\';
        quoted += c;
    }
    quoted += '"';
    sOut << quoted.c_str();
}

// Comma-separated bytes of two hex digits each; an empty list is no bytes.
std::string ParseHexBytes(const std::string& list, int32_t lLine) {
    std::string bytes;
    std::string rest = Trimmed(list);
    if (rest.empty()) return bytes;
    size_t pos = 0;
    while (true) {
        while (pos < rest.size() && IsBlank(rest[pos])) ++pos;
        int high = pos < rest.size() ? HexDigit(rest[pos]) : -1;
        int low = pos + 1 < rest.size() ? HexDigit(rest[pos + 1]) : -1;
        if (high < 0 || low < 0)
            Damaged(lLine, "a byte of a hex value is not two hex digits");
        bytes += static_cast<char>(high * 16 + low);
        pos += 2;
        while (pos < rest.size() && IsBlank(rest[pos])) ++pos;
        if (pos == rest.size()) return bytes;
        if (rest[pos] != ',') Damaged(lLine, "the bytes of a hex value are not separated by commas");
        ++pos;
        if (pos == rest.size()) Damaged(lLine, "a hex value ends with a comma");
    }
}

} // namespace

KxString TvRegStore::GetDefaultFileName() {
    KX_TRY
        std::optional<std::string> directory = kxplatform::UserConfigDirectory();
        if (!directory)
            Fail("There is no directory for the settings: neither XDG_CONFIG_HOME nor the home "
                 "directory is known");
        KxString name(directory->c_str());
        name << "tarvio" << kxplatform::kPathSeparator << "registry.reg";
        return name;
    KX_CATCH_STD("GetDefaultFileName()", kClass)
}

TvRegStore::TvRegStore() {
    KX_TRY
        m_fileName = GetDefaultFileName();
        Load();
    KX_CATCH_STD("Constructor", kClass)
}

TvRegStore::TvRegStore(const char* sFileName) {
    KX_TRY
        m_fileName = sFileName;
        Load();
    KX_CATCH_STD("Constructor", kClass)
}

TvRegStore::~TvRegStore() = default;

void TvRegStore::Load() {
    KX_TRY
        if (!KxIO::Exists(m_fileName)) return;
        std::string text;
        {
            KxIO in(m_fileName, kxIORead);
            int64_t size = in.GetFileSize64();
            // Refused unread, with the other damage below.
            if (size > kMaxFileSize) {
                in.Close();
                throw Damage{0, "it is larger than " + std::to_string(kMaxFileSize) + " bytes"};
            }
            text.resize(static_cast<size_t>(size));
            if (size > 0) in.Read(text.data(), static_cast<uint32_t>(size), true);
            in.Close();
        }
        Parse(text.data(), text.size());
    KX_CATCH_STD("Load()", kClass)
    catch (const Damage& damage) {
        m_keys.clear();
        m_keyIndex.clear();
        KxString message;
        message << "The settings file \"" << m_fileName << "\" is damaged: ";
        if (damage.line > 0) message << "line " << damage.line << ": ";
        message << damage.what.c_str() << ".";
        KxString aside(m_fileName);
        aside << kDamagedSuffix;
        if (kxplatform::RenameFile(m_fileName.GetCString(), aside.GetCString()))
            message << "  It has been kept as \"" << aside
                    << "\", and the settings start again from their defaults.";
        else
            message << "  It could not be moved aside -- "
                    << kxplatform::LastErrorText().c_str();
        TvRegistryException e(message.GetCString(), kClass);
        e.AddCallpath("Load()", kClass);
        throw e;
    }
}

void TvRegStore::Parse(const char* pText, size_t size) {
    const char* nul = static_cast<const char*>(std::memchr(pText, '\0', size));
    if (nul != nullptr) {
        int32_t line = 1;
        for (const char* p = pText; p < nul; ++p)
            if (*p == '\n') ++line;
        Damaged(line, "it holds a NUL byte");
    }

    // The lines, each without its CR LF or LF.
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < size) {
        const char* lf = static_cast<const char*>(std::memchr(pText + start, '\n', size - start));
        size_t end = lf != nullptr ? static_cast<size_t>(lf - pText) : size;
        size_t length = end - start;
        if (length > 0 && pText[end - 1] == '\r') --length;
        lines.emplace_back(pText + start, length);
        start = end + 1;
    }

    if (lines.empty() || Trimmed(lines[0]) != kHeader)
        Damaged(1, std::string("the first line is not ") + kHeader);

    Key* key = nullptr;
    for (size_t i = 1; i < lines.size(); ++i) {
        int32_t lineNumber = static_cast<int32_t>(i + 1);
        std::string line = Trimmed(lines[i]);
        if (line.empty() || line[0] == ';') continue;

        if (line[0] == '[') {
            if (line.back() != ']') Damaged(lineNumber, "a key line does not end with ]");
            std::string path = line.substr(1, line.size() - 2);
            if (path.empty() || path[0] == '-')
                Damaged(lineNumber, "a key line names no key");
            if (Folded(path.c_str()).compare(0, 5, "HKEY_") != 0)
                Damaged(lineNumber, "a key does not begin with a root key (HKEY_...)");
            if (path.back() == '\\' || path.find("\\\\") != std::string::npos)
                Damaged(lineNumber, "a key has an empty part");
            if (m_keyIndex.count(Folded(path.c_str())) != 0)
                Damaged(lineNumber, "the key [" + path + "] appears twice");
            key = &m_keys[static_cast<size_t>(AddKey(path.c_str()))];
            continue;
        }

        if (line[0] != '"' && line[0] != '@')
            Damaged(lineNumber, "the line is neither a key, nor a value, nor a comment");
        if (key == nullptr) Damaged(lineNumber, "a value comes before the first key");

        size_t pos = 0;
        std::string name;
        if (line[0] == '@') pos = 1;
        else name = Unquote(line, pos, lineNumber);
        while (pos < line.size() && IsBlank(line[pos])) ++pos;
        if (pos >= line.size() || line[pos] != '=')
            Damaged(lineNumber, "a value name is not followed by =");
        ++pos;
        while (pos < line.size() && IsBlank(line[pos])) ++pos;
        std::string data = line.substr(pos);

        Value value{KxString(name.c_str()), TvRegDataType::String, kKindString, {}};
        if (!data.empty() && data[0] == '"') {
            size_t end = 0;
            value.data = Unquote(data, end, lineNumber);
            if (!Trimmed(data.substr(end)).empty())
                Damaged(lineNumber, "text follows the closing quotation mark of a value");
        } else if (data.compare(0, 6, "dword:") == 0) {
            std::string digits = data.substr(6);
            uint32_t number = 0;
            if (digits.size() != 8) Damaged(lineNumber, "a dword value is not 8 hex digits");
            for (char c : digits) {
                int digit = HexDigit(c);
                if (digit < 0) Damaged(lineNumber, "a dword value is not 8 hex digits");
                number = number * 16 + static_cast<uint32_t>(digit);
            }
            value.type = TvRegDataType::DWord;
            value.kind = kKindDWord;
            for (int b = 0; b < 4; ++b) value.data += static_cast<char>((number >> (8 * b)) & 0xFF);
        } else if (data.compare(0, 3, "hex") == 0) {
            size_t colon = data.find(':');
            uint32_t kind = kKindBinary;
            if (colon == std::string::npos) Damaged(lineNumber, "a hex value has no colon");
            if (colon != 3) {
                // hex(n):
                std::string digits = data.substr(3, colon - 3);
                if (digits.size() < 3 || digits.size() > 10 || digits.front() != '(' ||
                    digits.back() != ')')
                    Damaged(lineNumber, "the kind of a hex value is not hex(n)");
                kind = 0;
                for (size_t d = 1; d + 1 < digits.size(); ++d) {
                    int digit = HexDigit(digits[d]);
                    if (digit < 0) Damaged(lineNumber, "the kind of a hex value is not hex(n)");
                    kind = kind * 16 + static_cast<uint32_t>(digit);
                }
            }
            // A trailing backslash continues the bytes on the next line.
            std::string list = data.substr(colon + 1);
            while (!list.empty() && list.back() == '\\') {
                list.pop_back();
                if (++i >= lines.size())
                    Damaged(lineNumber, "a hex value continues past the end of the file");
                list += Trimmed(lines[i]);
            }
            value.data = ParseHexBytes(list, lineNumber);
            value.kind = kind;
            if (kind == kKindString || kind == kKindExpandString) {
                // A text kept as bytes ends at its NUL.
                size_t zero = value.data.find('\0');
                if (zero != std::string::npos) value.data.resize(zero);
                value.type = TvRegDataType::String;
            } else if (kind == kKindBinary) {
                value.type = TvRegDataType::Binary;
            } else {
                // A number of another size than 4 bytes is no number, but kept all the same.
                value.type = kind == kKindDWord && value.data.size() == 4 ? TvRegDataType::DWord
                                                                          : TvRegDataType::Other;
            }
        } else {
            Damaged(lineNumber, "the value is neither a quoted text, nor hex:, nor dword:");
        }

        std::string folded = Folded(name.c_str());
        if (key->index.count(folded) != 0)
            Damaged(lineNumber, "the value " + (name.empty() ? std::string("@") : '"' + name + '"') +
                                    " appears twice in its key");
        key->index[folded] = key->values.size();
        key->values.push_back(std::move(value));
    }
}

KxString TvRegStore::Format() const {
    KX_TRY
        static const char kDigits[] = "0123456789abcdef";
        KxString text;
        text << kHeader << kEndLine << kEndLine;
        for (const Key& key : m_keys) {
            text << "[" << key.path << "]" << kEndLine;
            for (const Value& value : key.values) {
                if (value.name.IsEmpty()) text << "@";
                else Quote(text, value.name.GetCString());
                text << "=";
                bool lineBreak = value.data.find_first_of("\r\n") != std::string::npos;
                if (value.type == TvRegDataType::String && value.kind == kKindString &&
                    !lineBreak) {
                    Quote(text, value.data);
                } else if (value.type == TvRegDataType::DWord && value.kind == kKindDWord) {
                    uint32_t number = 0;
                    for (int b = 3; b >= 0; --b)
                        number = (number << 8) |
                                 static_cast<uint8_t>(value.data[static_cast<size_t>(b)]);
                    char digits[16];
                    snprintf(digits, sizeof digits, "dword:%08" PRIx32, number);
                    text << digits;
                } else {
                    // A text with line breaks cannot be quoted on one line; as bytes it keeps
                    // its kind and gets its NUL.
                    std::string bytes = value.data;
                    if (value.type == TvRegDataType::String) bytes += '\0';
                    std::string out;
                    if (value.kind == kKindBinary) {
                        out = "hex:";
                    } else {
                        char kind[24];
                        snprintf(kind, sizeof kind, "hex(%" PRIx32 "):", value.kind);
                        out = kind;
                    }
                    for (size_t b = 0; b < bytes.size(); ++b) {
                        if (b > 0) out += ',';
                        uint8_t byte = static_cast<uint8_t>(bytes[b]);
                        out += kDigits[byte >> 4];
                        out += kDigits[byte & 0x0F];
                    }
                    text << out.c_str();
                }
                text << kEndLine;
            }
            text << kEndLine;
        }
        return text;
    KX_CATCH_STD("Format()", kClass)
}

// The text goes into a new file beside the old one, reaches the disk and then takes the old
// one's name, so the file always holds the old contents or the new ones.
void TvRegStore::Save() {
    KX_TRY
        KxString text = Format();
        KxFileName name(m_fileName);
        KxString directory(name.GetLocation());
        if (!kxplatform::CreateDirectories(directory.GetCString())) {
            KxString message;
            message << "Could not create the settings directory \"" << directory << "\" -- "
                    << kxplatform::LastErrorText().c_str();
            Fail(message);
        }
        KxString tempName;
        try {
            KxIO::GetTempFileName(tempName, directory, "~registry");
        } catch (KxException& e) {
            KxString prefix;
            prefix << "Could not write the settings file \"" << m_fileName << "\": ";
            e.AddToErrorMessage(prefix, true);
            throw;
        }
        try {
            {
                KxIO out(tempName, kxIOOpenCreateEmpty);
                out.Write(text.GetCString(), static_cast<uint32_t>(text.GetLength()));
                out.Close();
            }
            kxplatform::File written;
            if (!written.Open(tempName.GetCString(), kxplatform::OpenFlags{}) || !written.Sync()) {
                KxString message;
                message << "Could not write \"" << tempName << "\" to disk -- "
                        << kxplatform::LastErrorText().c_str();
                Fail(message);
            }
            written.Close();
            if (!kxplatform::RenameFile(tempName.GetCString(), m_fileName.GetCString())) {
                KxString message;
                message << "Could not replace \"" << m_fileName << "\" by \"" << tempName
                        << "\" -- " << kxplatform::LastErrorText().c_str();
                Fail(message);
            }
        } catch (...) {
            kxplatform::DeleteFile(tempName.GetCString());
            throw;
        }
    KX_CATCH_STD("Save()", kClass)
}

int32_t TvRegStore::FindKey(const char* sFullPath) const {
    auto found = m_keyIndex.find(Folded(sFullPath));
    return found != m_keyIndex.end() ? found->second : -1;
}

int32_t TvRegStore::AddKey(const char* sFullPath) {
    int32_t index = static_cast<int32_t>(m_keys.size());
    m_keys.push_back(Key{KxString(sFullPath), {}, {}});
    m_keyIndex[Folded(sFullPath)] = index;
    return index;
}

bool TvRegStore::KeyExists(const char* sKey) const {
    KX_TRY
        KxString path = FullPath(sKey);
        if (FindKey(path) >= 0) return true;
        // A parent of a key exists without a line of its own.
        std::string prefix = Folded(path) + "\\";
        auto next = m_keyIndex.lower_bound(prefix);
        return next != m_keyIndex.end() && next->first.compare(0, prefix.size(), prefix) == 0;
    KX_CATCH_STD("KeyExists()", kClass)
}

bool TvRegStore::OpenKey(const char* sKey, bool canCreate) {
    KX_TRY
        KxString path = FullPath(sKey);
        std::string text(path.GetCString());
        if (text.back() == '\\' || text.find("\\\\") != std::string::npos || HasLineBreak(sKey)) {
            KxString message;
            message << "Invalid registry key \"" << sKey << "\"";
            Fail(message);
        }
        int32_t index = FindKey(path);
        if (index < 0 && KeyExists(sKey)) index = AddKey(path);
        if (index < 0) {
            if (!canCreate) return false;
            // The key and every missing parent below the root, parents first.
            size_t keyCount = m_keys.size();
            size_t pos = std::strlen(kRootKey);
            do {
                pos = text.find('\\', pos + 1);
                std::string part = text.substr(0, pos);
                if (FindKey(part.c_str()) < 0) index = AddKey(part.c_str());
            } while (pos != std::string::npos);
            try {
                Save();
            } catch (...) {
                for (size_t k = keyCount; k < m_keys.size(); ++k)
                    m_keyIndex.erase(Folded(m_keys[k].path));
                m_keys.resize(keyCount);
                throw;
            }
        }
        m_current = index;
        return true;
    KX_CATCH_STD("OpenKey()", kClass)
}

void TvRegStore::CloseKey() { m_current = -1; }

KxString TvRegStore::GetCurrentPath() const {
    if (m_current < 0) return KxString();
    const char* path = m_keys[static_cast<size_t>(m_current)].path.GetCString();
    size_t root = std::strlen(kRootKey);
    if (std::strncmp(path, kRootKey, root) == 0 && path[root] == '\\') return KxString(path + root + 1);
    return KxString(path);
}

size_t TvRegStore::CurrentKey(const char* sOperation) const {
    if (m_current < 0) {
        KxString message;
        message << "No registry key is open for " << sOperation;
        Fail(message);
    }
    return static_cast<size_t>(m_current);
}

const TvRegStore::Value* TvRegStore::FindValue(const char* sName) const {
    const Key& key = m_keys[CurrentKey("reading a value")];
    auto found = key.index.find(Folded(sName));
    return found != key.index.end() ? &key.values[found->second] : nullptr;
}

bool TvRegStore::ValueExists(const char* sName) const {
    KX_TRY
        return FindValue(sName) != nullptr;
    KX_CATCH_STD("ValueExists()", kClass)
}

TvRegDataType TvRegStore::GetDataType(const char* sName) const {
    KX_TRY
        const Value* value = FindValue(sName);
        if (value == nullptr) {
            KxString message;
            message << "The registry value '" << sName << "' does not exist in the key \""
                    << GetCurrentPath() << "\"";
            Fail(message);
        }
        return value->type;
    KX_CATCH_STD("GetDataType()", kClass)
}

KxString TvRegStore::ReadString(const char* sName) const {
    KX_TRY
        const Value* value = FindValue(sName);
        if (value == nullptr) return KxString();
        if (value->type != TvRegDataType::String) InvalidType(sName);
        return KxString(value->data.c_str());
    KX_CATCH_STD("ReadString()", kClass)
}

KxVector<uint8_t> TvRegStore::ReadBinaryData(const char* sName) const {
    KX_TRY
        TvRegDataType type = GetDataType(sName);
        if (type != TvRegDataType::Binary) InvalidType(sName);
        const std::string& data = FindValue(sName)->data;
        return KxVector<uint8_t>(data.begin(), data.end());
    KX_CATCH_STD("ReadBinaryData()", kClass)
}

double TvRegStore::ReadFloat(const char* sName) const {
    KX_TRY
        KxVector<uint8_t> bytes = ReadBinaryData(sName);
        if (bytes.size() != sizeof(double)) InvalidType(sName);
        uint64_t bits = 0;
        for (int b = 7; b >= 0; --b) bits = (bits << 8) | bytes[static_cast<size_t>(b)];
        double value;
        std::memcpy(&value, &bits, sizeof value);
        return value;
    KX_CATCH_STD("ReadFloat()", kClass)
}

void TvRegStore::PutValue(const char* sName, TvRegDataType type, const void* pData,
                          uint32_t ulSize) {
    Key& key = m_keys[CurrentKey("writing a value")];
    if (HasLineBreak(sName)) {
        KxString message;
        message << "Invalid registry value name '" << sName << "'";
        Fail(message);
    }
    std::string folded = Folded(sName);
    std::string data(static_cast<const char*>(pData), ulSize);
    uint32_t kind = type == TvRegDataType::String ? kKindString : kKindBinary;
    auto found = key.index.find(folded);
    if (found != key.index.end()) {
        Value& value = key.values[found->second];
        // The file already says so.
        if (value.type == type && value.kind == kind && value.data == data) return;
        Value old = value;
        value.type = type;
        value.kind = kind;
        value.data = std::move(data);
        try {
            Save();
        } catch (...) {
            value = std::move(old);
            throw;
        }
        return;
    }
    key.index[folded] = key.values.size();
    key.values.push_back(Value{KxString(sName), type, kind, std::move(data)});
    try {
        Save();
    } catch (...) {
        key.values.pop_back();
        key.index.erase(folded);
        throw;
    }
}

void TvRegStore::WriteString(const char* sName, const char* sValue) {
    KX_TRY
        const char* text = sValue != nullptr ? sValue : "";
        PutValue(sName, TvRegDataType::String, text, static_cast<uint32_t>(std::strlen(text)));
    KX_CATCH_STD("WriteString()", kClass)
}

void TvRegStore::WriteBinaryData(const char* sName, const void* pData, uint32_t ulSize) {
    KX_TRY
        PutValue(sName, TvRegDataType::Binary, pData, ulSize);
    KX_CATCH_STD("WriteBinaryData()", kClass)
}

void TvRegStore::WriteFloat(const char* sName, double value) {
    KX_TRY
        uint64_t bits;
        std::memcpy(&bits, &value, sizeof bits);
        uint8_t bytes[8];
        for (int b = 0; b < 8; ++b) bytes[b] = static_cast<uint8_t>(bits >> (8 * b));
        PutValue(sName, TvRegDataType::Binary, bytes, sizeof bytes);
    KX_CATCH_STD("WriteFloat()", kClass)
}
