#include "kxformat.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "kxexception.h"
#include "kxfilename.h"
#include "kxini.h"
#include "kxio.h"
#include "kxrecord.h"
#include "kxset.h"

namespace {

constexpr const char* kRange = "KxFormatRange";
constexpr const char* kLine = "KxFormatLine";
constexpr const char* kFormat = "KxFormat";
constexpr const char* kDict = "KxFormatDict";
constexpr const char* kLib = "KxFormatLib";

constexpr const char* kFormatPrefix = "[Format=";
constexpr int32_t kFormatPrefixLength = 8;
constexpr const char* kTypeSection = "FormatDataType";
constexpr const char* kCaseSection = "FormatCaseSensitivity";
constexpr const char* kEditableSection = "FormatEditableByUser";

KxFormatLib* g_defaultLibrary = nullptr;

[[noreturn]] void InvalidType(const char* source) {
    KxGenerateException("Invalid character type", source);
}

// The bytes a value of the type takes in its binary form; 0 for A, -1 for no format type.
int32_t BinarySize(char type) {
    switch (type) {
    case 'A': return 0;
    case 'I':
    case 'W': return 4;
    case 'N': return 8;
    case 'S':
    case 'U': return 2;
    default: return -1;
    }
}

char Upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

// Byte order, or ASCII letters folded.
int CompareText(const char* a, const char* b, bool caseSensitive) {
    for (;; ++a, ++b) {
        unsigned char x = static_cast<unsigned char>(caseSensitive ? *a : Upper(*a));
        unsigned char y = static_cast<unsigned char>(caseSensitive ? *b : Upper(*b));
        if (x != y) return x < y ? -1 : 1;
        if (x == '\0') return 0;
    }
}

// The name of a "[Format=name]" section.
KxString FormatNameOf(const char* sSectionName) {
    std::string name(sSectionName != nullptr && strlen(sSectionName) > kFormatPrefixLength
                         ? sSectionName + kFormatPrefixLength
                         : "");
    if (!name.empty() && name.back() == ']') name.pop_back();
    return KxString(name.c_str());
}

} // namespace

// ---------------------------------------------------------------------------------------------
// KxFormatRange

template <typename T> void KxFormatRange::Store(T low, T high, uint8_t kind, char type) {
    if (kind > kxOpen) KxGenerateException("Invalid format range", kRange);
    memset(m_low, 0, sizeof m_low);
    memset(m_high, 0, sizeof m_high);
    memcpy(m_low, &low, sizeof low);
    memcpy(m_high, &high, sizeof high);
    m_kind = kind;
    m_type = type;
}

template <typename T> bool KxFormatRange::Test(T value) const {
    T low, high;
    memcpy(&low, m_low, sizeof low);
    memcpy(&high, m_high, sizeof high);
    switch (m_kind) {
    case kxSingle: return value == low;
    case kxClosed: return low <= value && value <= high;
    case kxHighExclusive: return low <= value && value < high;
    case kxLowExclusive: return low < value && value <= high;
    default: return low < value && value < high;
    }
}

KxFormatRange::KxFormatRange(const char* sLow, const char* sHigh, uint8_t kind)
    : m_kind(kind), m_type('A') {
    KX_TRY
        if (sLow == nullptr || sHigh == nullptr || strlen(sLow) > kxMaxTextLength ||
            strlen(sHigh) > kxMaxTextLength || kind > kxOpen)
            KxGenerateException("Invalid format range", kRange);
        memset(m_low, 0, sizeof m_low);
        memset(m_high, 0, sizeof m_high);
        memcpy(m_low, sLow, strlen(sLow));
        memcpy(m_high, sHigh, strlen(sHigh));
    KX_CATCH("Constructor(char *sLow)", kRange)
}

KxFormatRange::KxFormatRange(int32_t lLow, int32_t lHigh, uint8_t kind) : m_kind(kind), m_type('I') {
    KX_TRY
        Store(lLow, lHigh, kind, 'I');
    KX_CATCH("Constructor", kRange)
}

KxFormatRange::KxFormatRange(uint32_t ulLow, uint32_t ulHigh, uint8_t kind)
    : m_kind(kind), m_type('W') {
    KX_TRY
        Store(ulLow, ulHigh, kind, 'W');
    KX_CATCH("Constructor", kRange)
}

KxFormatRange::KxFormatRange(double dLow, double dHigh, uint8_t kind) : m_kind(kind), m_type('N') {
    KX_TRY
        Store(dLow, dHigh, kind, 'N');
    KX_CATCH("Constructor", kRange)
}

KxFormatRange::KxFormatRange(int16_t wLow, int16_t wHigh, uint8_t kind) : m_kind(kind), m_type('S') {
    KX_TRY
        Store(wLow, wHigh, kind, 'S');
    KX_CATCH("Constructor", kRange)
}

KxFormatRange::KxFormatRange(uint16_t uwLow, uint16_t uwHigh, uint8_t kind)
    : m_kind(kind), m_type('U') {
    KX_TRY
        Store(uwLow, uwHigh, kind, 'U');
    KX_CATCH("Constructor", kRange)
}

KxFormatRange* KxFormatRange::Clone() const {
    KX_TRY
        return new KxFormatRange(*this);
    KX_CATCH_STD("Clone()", kRange)
}

void KxFormatRange::GetLow(void* pDest, char type) const {
    KX_TRY
        if (pDest == nullptr) KxGenerateException("Null buffer", kRange);
        int32_t size = BinarySize(type);
        if (size < 0) InvalidType(kRange);
        if (size == 0) size = static_cast<int32_t>(strnlen(reinterpret_cast<const char*>(m_low),
                                                           kxMaxTextLength)) + 1;
        memcpy(pDest, m_low, static_cast<size_t>(size));
    KX_CATCH("GetLow()", kRange)
}

void KxFormatRange::GetHigh(void* pDest, char type) const {
    KX_TRY
        if (pDest == nullptr) KxGenerateException("Null buffer", kRange);
        int32_t size = BinarySize(type);
        if (size < 0) InvalidType(kRange);
        if (size == 0) size = static_cast<int32_t>(strnlen(reinterpret_cast<const char*>(m_high),
                                                           kxMaxTextLength)) + 1;
        memcpy(pDest, m_high, static_cast<size_t>(size));
    KX_CATCH("GetHigh()", kRange)
}

bool KxFormatRange::IsInRange(const char* sValue, bool caseSensitive) const {
    if (sValue == nullptr || m_type != 'A') return false;
    const char* low = reinterpret_cast<const char*>(m_low);
    const char* high = reinterpret_cast<const char*>(m_high);
    int toLow = CompareText(sValue, low, caseSensitive);
    int toHigh = m_kind == kxSingle ? 0 : CompareText(sValue, high, caseSensitive);
    switch (m_kind) {
    case kxSingle: return toLow == 0;
    case kxClosed: return toLow >= 0 && toHigh <= 0;
    case kxHighExclusive: return toLow >= 0 && toHigh < 0;
    case kxLowExclusive: return toLow > 0 && toHigh <= 0;
    default: return toLow > 0 && toHigh < 0;
    }
}

bool KxFormatRange::IsInRange(int32_t lValue) const { return m_type == 'I' && Test(lValue); }
bool KxFormatRange::IsInRange(uint32_t ulValue) const { return m_type == 'W' && Test(ulValue); }
bool KxFormatRange::IsInRange(double dValue) const { return m_type == 'N' && Test(dValue); }
bool KxFormatRange::IsInRange(int16_t wValue) const { return m_type == 'S' && Test(wValue); }
bool KxFormatRange::IsInRange(uint16_t uwValue) const { return m_type == 'U' && Test(uwValue); }

bool KxFormatRange::Holds(const void* pValue, bool caseSensitive) const {
    KX_TRY
        if (pValue == nullptr) return false;
        switch (m_type) {
        case 'A': return IsInRange(static_cast<const char*>(pValue), caseSensitive);
        case 'I': {
            int32_t v;
            memcpy(&v, pValue, sizeof v);
            return Test(v);
        }
        case 'W': {
            uint32_t v;
            memcpy(&v, pValue, sizeof v);
            return Test(v);
        }
        case 'N': {
            double v;
            memcpy(&v, pValue, sizeof v);
            return Test(v);
        }
        case 'S': {
            int16_t v;
            memcpy(&v, pValue, sizeof v);
            return Test(v);
        }
        case 'U': {
            uint16_t v;
            memcpy(&v, pValue, sizeof v);
            return Test(v);
        }
        default: InvalidType(kRange);
        }
    KX_CATCH("Holds()", kRange)
}

// ---------------------------------------------------------------------------------------------
// KxFormatLine

KxFormatLine::KxFormatLine(const char* sValue, const char* sLabel, char type) : m_type(type) {
    KX_TRY
        if (sValue != nullptr || sLabel != nullptr) SetValue(sValue, type);
        SetLabel(sLabel);
    KX_CATCH("Constructor(char *sValue)", kLine)
}

KxFormatLine::KxFormatLine(const KxFormatLine& rhs) : KxArrayPointerObject(), m_type(rhs.m_type) {
    KX_TRY
        Copy(rhs);
    KX_CATCH("Constructor(KxFormatLine &rhs)", kLine)
}

KxFormatLine& KxFormatLine::operator=(const KxFormatLine& rhs) {
    KX_TRY
        Copy(rhs);
        return *this;
    KX_CATCH("Assignment operator", kLine)
}

KxFormatLine* KxFormatLine::Clone() const {
    KX_TRY
        return new KxFormatLine(*this);
    KX_CATCH_STD("Clone()", kLine)
}

void KxFormatLine::Copy(const KxFormatLine& rhs) {
    KX_TRY
        if (this == &rhs) return;
        KxPointerVector<KxFormatRange> ranges(rhs.m_ranges);
        KxString value(rhs.m_value), label(rhs.m_label);
        m_type = rhs.m_type;
        m_value = value;
        m_label = label;
        m_ranges.Swap(ranges);
    KX_CATCH_STD("Copy()", kLine)
}

void KxFormatLine::SetValue(const char* sValue, char type) {
    KX_TRY
        DeleteAllRanges();
        m_value = sValue;
        SetAllRanges(type);
    KX_CATCH("SetValue()", kLine)
}

void KxFormatLine::SetValueString(const char* sValue) {
    KX_TRY
        m_value = sValue;
    KX_CATCH("SetValueString()", kLine)
}

void KxFormatLine::SetLabel(const char* sLabel) {
    KX_TRY
        m_label = sLabel;
    KX_CATCH("SetLabel()", kLine)
}

void KxFormatLine::SetAllRanges(char type) {
    KX_TRY
        std::string value(m_value.GetCString());
        size_t n = value.size();
        if (n >= 3 && value.front() == '"' && value.back() == '"') {
            std::string inner = value.substr(1, n - 2);
            CreateRange(inner.c_str(), inner.c_str(), type, KxFormatRange::kxSingle);
            return;
        }
        size_t at = 0;
        while (at < n) {
            size_t comma = value.find(',', at);
            if (comma == std::string::npos) comma = n;
            CreateRange(value.substr(at, comma - at).c_str(), type);
            at = comma + 1;
        }
        if (n == 0) CreateBlankRange(type);
    KX_CATCH_STD("SetAllRanges()", kLine)
}

void KxFormatLine::CreateRange(const char* sRange, char type) {
    KX_TRY
        std::string item(sRange != nullptr ? sRange : "");
        size_t hyphen = item.find('-');
        if (hyphen == std::string::npos) {
            CreateRange(item.c_str(), item.c_str(), type, KxFormatRange::kxSingle);
            return;
        }
        if (hyphen == 0 || hyphen == item.size() - 1) KxGenerateException("Invalid range", kLine);
        bool lowExclusive = item[hyphen - 1] == '<';
        bool highExclusive = item[hyphen + 1] == '<';
        uint8_t kind = lowExclusive && highExclusive ? KxFormatRange::kxOpen
                       : lowExclusive                ? KxFormatRange::kxLowExclusive
                       : highExclusive               ? KxFormatRange::kxHighExclusive
                                                     : KxFormatRange::kxClosed;
        std::string low = item.substr(0, hyphen - (lowExclusive ? 1 : 0));
        std::string high = item.substr(hyphen + 1 + (highExclusive ? 1 : 0));
        CreateRange(low.c_str(), high.c_str(), type, kind);
    KX_CATCH_STD("CreateRange(char* sRange)", kLine)
}

namespace {

// A bound of a numeric type; an empty high bound is 0.
template <typename T> T Bound(const char* sText, char type, bool emptyIsZero) {
    T value{};
    if (emptyIsZero && *sText == '\0') return value;
    KxFileRecord::AlphaToField(&value, sText, type);
    return value;
}

} // namespace

void KxFormatLine::CreateRange(const char* sLow, const char* sHigh, char type, uint8_t kind) {
    KX_TRY
        const char* low = sLow != nullptr ? sLow : "";
        const char* high = sHigh != nullptr ? sHigh : "";
        KxFormatRange* range = nullptr;
        switch (type) {
        case 'A': range = new KxFormatRange(sLow, sHigh, kind); break;
        case 'I':
            range = new KxFormatRange(Bound<int32_t>(low, type, false),
                                      Bound<int32_t>(high, type, true), kind);
            break;
        case 'W':
            range = new KxFormatRange(Bound<uint32_t>(low, type, false),
                                      Bound<uint32_t>(high, type, true), kind);
            break;
        case 'N':
            range = new KxFormatRange(Bound<double>(low, type, false), Bound<double>(high, type, true),
                                      kind);
            break;
        case 'S':
            range = new KxFormatRange(Bound<int16_t>(low, type, false),
                                      Bound<int16_t>(high, type, true), kind);
            break;
        case 'U':
            range = new KxFormatRange(Bound<uint16_t>(low, type, false),
                                      Bound<uint16_t>(high, type, true), kind);
            break;
        default: InvalidType(kLine);
        }
        try {
            m_ranges.push_back(range);
        } catch (...) {
            delete range;
            throw;
        }
    KX_CATCH_STD("CreateRange(char *sLow)", kLine)
}

void KxFormatLine::CreateBlankRange(char type) {
    KX_TRY
        KxFormatRange* range = nullptr;
        switch (type) {
        case 'A': range = new KxFormatRange("", "", KxFormatRange::kxSingle); break;
        case 'I': range = new KxFormatRange(kxBlankLong, kxBlankLong, KxFormatRange::kxSingle); break;
        case 'W':
            range = new KxFormatRange(kxBlankUnsignedLong, kxBlankUnsignedLong, KxFormatRange::kxSingle);
            break;
        case 'N':
            range = new KxFormatRange(kxBlankNumber, kxBlankNumber, KxFormatRange::kxSingle);
            break;
        case 'S':
            range = new KxFormatRange(kxBlankShort, kxBlankShort, KxFormatRange::kxSingle);
            break;
        case 'U':
            range = new KxFormatRange(kxBlankUnsignedShort, kxBlankUnsignedShort,
                                      KxFormatRange::kxSingle);
            break;
        default: InvalidType(kLine);
        }
        try {
            m_ranges.push_back(range);
        } catch (...) {
            delete range;
            throw;
        }
    KX_CATCH_STD("CreateBlankRange()", kLine)
}

bool KxFormatLine::GetIsInFormatLine(const void* pValue, char type, bool valueIsText,
                                     bool leadingBlanksAllowed, bool caseSensitive) const {
    KX_TRY
        if (pValue == nullptr) return false;
        if (valueIsText && !leadingBlanksAllowed && type != 'A' &&
            static_cast<const char*>(pValue)[0] == ' ')
            return false;
        int32_t size = BinarySize(type);
        if (size < 0) InvalidType(kLine);
        // A numeric value given as text is converted once for all the ranges.
        unsigned char converted[KxFormatRange::kxAreaSize] = {};
        const void* value = pValue;
        if (valueIsText && size > 0) {
            KxFileRecord::AlphaToField(converted, static_cast<const char*>(pValue), type);
            value = converted;
        }
        for (const KxFormatRange* range : m_ranges)
            if (range->Holds(value, caseSensitive)) return true;
        return false;
    KX_CATCH("GetIsInFormatLine()", kLine)
}

KxFormatRange* KxFormatLine::GetRange(int32_t lIndex) const {
    KX_TRY
        return m_ranges.At(lIndex);
    KX_CATCH("GetRange()", kLine)
}

void KxFormatLine::DeleteRange(int32_t lIndex) {
    KX_TRY
        m_ranges.RemoveAt(lIndex);
    KX_CATCH("DeleteRange()", kLine)
}

void KxFormatLine::DeleteAllRanges() {
    KX_TRY
        while (!m_ranges.empty()) m_ranges.RemoveAt(m_ranges.GetCount() - 1);
    KX_CATCH("DeleteAllRanges()", kLine)
}

// ---------------------------------------------------------------------------------------------
// KxFormat

KxFormat::KxFormat() = default;

KxFormat::KxFormat(const char* sFormatName, const char* sDictFileName, char type) {
    KX_TRY
        SetName(sFormatName);
        m_type = type;
        LoadFormat(sDictFileName, sFormatName, type);
    KX_CATCH("Constructor(char *sFormatName)", kFormat)
}

KxFormat::KxFormat(const KxFormat& rhs) : KxArrayPointerObject(), m_lines(rhs.m_lines) {
    KX_TRY
        Copy(rhs);
    KX_CATCH("Constructor(KxFormat &rhs)", kFormat)
}

KxFormat& KxFormat::operator=(const KxFormat& rhs) {
    KX_TRY
        if (this == &rhs) return *this;
        KxPointerVector<KxFormatLine> lines(rhs.m_lines);
        KxString name(rhs.m_name);
        m_lines.Swap(lines);
        m_name = name;
        Copy(rhs);
        return *this;
    KX_CATCH_STD("Assignment operator", kFormat)
}

KxFormat* KxFormat::Clone() const {
    KX_TRY
        return new KxFormat(*this);
    KX_CATCH_STD("Clone()", kFormat)
}

void KxFormat::Copy(const KxFormat& rhs) {
    KX_TRY
        m_name = rhs.m_name;
        m_type = rhs.m_type;
        m_caseSensitive = rhs.m_caseSensitive;
        m_editable = rhs.m_editable;
    KX_CATCH("Copy()", kFormat)
}

void KxFormat::SetName(const char* sName) {
    KX_TRY
        KxString name(sName);
        if (name.EndsWith(']')) name.Truncate(static_cast<uint32_t>(name.GetLength() - 1));
        m_name = name;
    KX_CATCH("SetName()", kFormat)
}

KxString KxFormat::CreateFormatHeader() const {
    KX_TRY
        KxString header;
        header.printf("Format=%s", m_name.GetCString());
        return header;
    KX_CATCH("CreateFormatHeader()", kFormat)
}

KxFormatLine* KxFormat::GetLine(int32_t lIndex) const {
    KX_TRY
        return m_lines.At(lIndex);
    KX_CATCH("GetLine()", kFormat)
}

void KxFormat::AddLine(const char* sValue, const char* sLabel, int32_t lPosition) {
    KX_TRY
        if (lPosition > m_lines.GetCount())
            KxThrowVectorIndexError(lPosition, 0, m_lines.GetCount());
        auto* line = new KxFormatLine(sValue, sLabel, m_type);
        try {
            if (lPosition < 0)
                m_lines.push_back(line);
            else
                m_lines.insert(m_lines.begin() + lPosition, line);
        } catch (...) {
            delete line;
            throw;
        }
    KX_CATCH_STD("AddLine(char *sValue, char *sLabel)", kFormat)
}

void KxFormat::LoadFormat(const char* sDictFileName, const char* sFormatName, char type) {
    KX_TRY
        KxFormat read;
        read.SetName(sFormatName);
        read.m_type = type;
        {
            // Closed again when this block ends, also by an exception.
            KxIniFile file(sDictFileName, true, true, kxIOOpenReadShared);
            KxIniSection* section = file.GetSection(read.CreateFormatHeader());
            KxIniSection* types = file.GetSection(kTypeSection);
            KxIniSection* cases = file.GetSection(kCaseSection);
            KxIniSection* editables = file.GetSection(kEditableSection);
            char typeText[2] = {type, '\0'};
            char stored = types->GetString(read.m_name, typeText)[0];
            // An empty entry leaves the type asked for.
            if (stored != '\0') read.m_type = stored;
            read.m_caseSensitive = cases->GetBool(read.m_name, true);
            read.m_editable = editables->GetBool(read.m_name, true);
            for (int32_t i = 0; section != nullptr && i < section->GetNumLines(); ++i) {
                const KxIniLine* line = section->GetLine(i);
                read.AddLine(line->GetKey(), line->GetValue(), -1);
            }
        }
        *this = read;
    KX_CATCH("LoadFormat()", kFormat)
}

void KxFormat::Read(KxIniSection& section, char defaultType, KxIniSection* pCaseSection,
                    KxIniSection* pEditableSection, KxIniSection* pTypeSection) {
    KX_TRY
        KxFormat read;
        read.SetName(FormatNameOf(section.GetName()));
        char type = pTypeSection != nullptr ? pTypeSection->GetString(read.m_name, "")[0] : '\0';
        read.m_type = type != '\0' ? type : defaultType;
        read.m_caseSensitive =
            pCaseSection != nullptr ? pCaseSection->GetBool(read.m_name, true) : true;
        read.m_editable =
            pEditableSection != nullptr ? pEditableSection->GetBool(read.m_name, true) : true;
        for (int32_t i = 0; i < section.GetNumLines(); ++i) {
            const KxIniLine* line = section.GetLine(i);
            read.AddLine(line->GetKey(), line->GetValue(), -1);
        }
        *this = read;
    KX_CATCH("Read()", kFormat)
}

int32_t KxFormat::GetIndexFromValue(const void* pValue, bool valueIsText,
                                    bool leadingBlanksAllowed) const {
    KX_TRY
        if (pValue == nullptr) KxGenerateException("Null buffer", kFormat);
        for (int32_t i = 0; i < m_lines.GetCount(); ++i)
            if (m_lines[i]->GetIsInFormatLine(pValue, m_type, valueIsText, leadingBlanksAllowed,
                                              m_caseSensitive))
                return i;
        return -1;
    KX_CATCH("GetIndexFromValue()", kFormat)
}

int32_t KxFormat::Format(void* pBuffer, uint32_t ulBufferLength, bool valueIsText,
                         bool leadingBlanksAllowed) const {
    KX_TRY
        if (pBuffer == nullptr) KxGenerateException("Null buffer", kFormat);
        int32_t index = GetIndexFromValue(pBuffer, valueIsText, leadingBlanksAllowed);
        if (index >= 0 && ulBufferLength > 0) {
            const char* label = m_lines[index]->GetLabel();
            size_t n = std::min<size_t>(strlen(label), ulBufferLength - 1);
            char* out = static_cast<char*>(pBuffer);
            memcpy(out, label, n);
            out[n] = '\0';
        }
        return index;
    KX_CATCH("Format()", kFormat)
}

int32_t KxFormat::GetIndexFromLabel(const char* sLabel) const {
    if (sLabel == nullptr) return -1;
    for (int32_t i = 0; i < m_lines.GetCount(); ++i)
        if (CompareText(m_lines[i]->GetLabel(), sLabel, m_caseSensitive) == 0) return i;
    return -1;
}

bool KxFormat::UnFormat(const char* sLabel, void* pDest) const {
    KX_TRY
        if (pDest == nullptr) KxGenerateException("Null buffer", kFormat);
        int32_t index = GetIndexFromLabel(sLabel);
        if (index < 0) return false;
        m_lines[index]->GetRange(0)->GetLow(pDest, m_type);
        return true;
    KX_CATCH("UnFormat()", kFormat)
}

bool KxFormat::GetNameIsLess(const KxFormat& other) const {
    return strcmp(m_name.GetCString(), other.m_name.GetCString()) < 0;
}

bool KxFormat::GetNameIsEqual(const KxFormat& other) const {
    return strcmp(m_name.GetCString(), other.m_name.GetCString()) == 0;
}

// ---------------------------------------------------------------------------------------------
// KxFormatDict

KxFormatDict::KxFormatDict(const char* sDictName, bool loadAll, char defaultType) {
    KX_TRY
        SetName(sDictName);
        if (!m_fileName.IsEmpty()) {
            m_defaultType = defaultType;
            LoadOwner();
            if (loadAll) LoadAllFormats(true);
        }
    KX_CATCH("Constructor(char *sDictName)", kDict)
}

KxFormatDict::KxFormatDict(const KxFormatDict& other)
    : KxArrayPointerObject(), m_fileName(other.m_fileName), m_owner(other.m_owner),
      m_defaultType(other.m_defaultType) {
    KX_TRY
        m_formats.reserve(other.m_formats.size());
        for (const std::shared_ptr<KxFormat>& format : other.m_formats)
            m_formats.push_back(std::shared_ptr<KxFormat>(format->Clone()));
    KX_CATCH_STD("Copy Constructor", kDict)
}

KxFormatDict* KxFormatDict::Clone() const {
    KX_TRY
        return new KxFormatDict(*this);
    KX_CATCH_STD("Clone()", kDict)
}

void KxFormatDict::SetName(const char* sDictName) {
    KX_TRY
        if (sDictName == nullptr || *sDictName == '\0') {
            m_fileName.Clear();
            return;
        }
        KxFileName name(sDictName);
        m_fileName = name.GetFullPath();
    KX_CATCH("SetName()", kDict)
}

void KxFormatDict::LoadOwner() {
    KX_TRY
        if (m_fileName.IsEmpty()) {
            m_owner.Clear();
            return;
        }
        KxIniFile file(m_fileName, true, true, kxIOOpenReadShared);
        m_owner = file.GetSection("DictionaryInfo")->GetString("Owner", "");
    KX_CATCH("LoadOwner()", kDict)
}

void KxFormatDict::GetAllFormatNames(KxVector<KxString>& names) const {
    KX_TRY
        if (m_fileName.IsEmpty())
            KxGenerateException("Cannot call GetAllFormatNames() on a dictionary without a file",
                                kDict);
        KxIniFile file(m_fileName, true, true, kxIOOpenReadShared);
        KxVector<KxString> found;
        for (int32_t i = file.GetSectionIndex(kFormatPrefix, 0, true); i >= 0;
             i = file.GetSectionIndex(kFormatPrefix, i + 1, true))
            found.push_back(FormatNameOf(file.GetSectionName(i)));
        names.swap(found);
    KX_CATCH_STD("GetAllFormatNames()", kDict)
}

int32_t KxFormatDict::FindPosition(const KxFormat& format, bool& found) const {
    auto at = std::lower_bound(m_formats.begin(), m_formats.end(), format,
                               [](const std::shared_ptr<KxFormat>& element, const KxFormat& key) {
                                   return element->GetNameIsLess(key);
                               });
    found = at != m_formats.end() && (*at)->GetNameIsEqual(format);
    return static_cast<int32_t>(at - m_formats.begin());
}

std::shared_ptr<KxFormat> KxFormatDict::LoadFormat(const char* sFormatName, char type) {
    KX_TRY
        if (m_fileName.IsEmpty()) return nullptr;
        auto format = std::make_shared<KxFormat>(sFormatName, m_fileName, type);
        if (format->GetNumLines() == 0) return nullptr;
        bool found = false;
        int32_t position = FindPosition(*format, found);
        if (found) {
            *m_formats[static_cast<size_t>(position)] = *format;
            return m_formats[static_cast<size_t>(position)];
        }
        m_formats.insert(m_formats.begin() + position, format);
        return format;
    KX_CATCH_STD("LoadFormat()", kDict)
}

std::shared_ptr<KxFormat> KxFormatDict::GetSharedFormat(const char* sFormatName, char type) {
    KX_TRY
        int32_t index = GetLoadedFormatIndex(sFormatName);
        if (index >= 0 && type != '\0' && type != m_formats[static_cast<size_t>(index)]->GetType()) {
            UnloadFormat(index);
            index = -1;
        }
        if (index >= 0) return m_formats[static_cast<size_t>(index)];
        return LoadFormat(sFormatName, type != '\0' ? type : m_defaultType);
    KX_CATCH("GetFormat(char *sFormatName, char cType)", kDict)
}

KxFormat* KxFormatDict::GetFormat(const char* sFormatName) {
    KX_TRY
        return GetSharedFormat(sFormatName, '\0').get();
    KX_CATCH("GetFormat(char *sFormatName)", kDict)
}

KxFormat* KxFormatDict::GetFormat(const char* sFormatName, char type) {
    return GetSharedFormat(sFormatName, type).get();
}

void KxFormatDict::LoadAllFormats(bool reload) {
    KX_TRY
        if (m_fileName.IsEmpty()) return;
        KxIniFile file(m_fileName, true, true, kxIOOpenReadShared);
        KxSet kept(m_formats.GetCount(), false);
        KxIniSection* types = file.GetSection(kTypeSection);
        KxIniSection* cases = file.GetSection(kCaseSection);
        KxIniSection* editables = file.GetSection(kEditableSection);
        for (int32_t i = file.GetSectionIndex(kFormatPrefix, 0, true); i >= 0;
             i = file.GetSectionIndex(kFormatPrefix, i + 1, true)) {
            KxIniSection* section = file.GetSection(i);
            KxFormat probe;
            probe.SetName(FormatNameOf(section->GetName()));
            bool found = false;
            int32_t position = FindPosition(probe, found);
            if (found) {
                KxFormat& loaded = *m_formats[static_cast<size_t>(position)];
                if (reload) loaded.Read(*section, loaded.GetType(), cases, editables, nullptr);
                kept.SelectRecord(position + 1);
            } else {
                probe.Read(*section, m_defaultType, cases, editables, types);
                m_formats.insert(m_formats.begin() + position, std::make_shared<KxFormat>(probe));
                kept.AddToSet(position + 1, true);
            }
        }
        for (int32_t r = kept.GetPreviousNotInSet(kept.GetSize() + 1); r > 0;
             r = kept.GetPreviousNotInSet(r))
            UnloadFormat(r - 1);
    KX_CATCH_STD("LoadAllFormats()", kDict)
}

int32_t KxFormatDict::GetLoadedFormatIndex(const char* sFormatName) const {
    if (sFormatName == nullptr) return -1;
    for (int32_t i = 0; i < m_formats.GetCount(); ++i)
        if (CompareText(m_formats[static_cast<size_t>(i)]->GetName(), sFormatName, false) == 0)
            return i;
    return -1;
}

KxFormat* KxFormatDict::GetLoadedFormat(int32_t lIndex) const {
    KX_TRY
        return m_formats.At(lIndex).get();
    KX_CATCH("GetLoadedFormat()", kDict)
}

const char* KxFormatDict::GetFormatName(int32_t lIndex) const {
    KX_TRY
        return m_formats.At(lIndex)->GetName();
    KX_CATCH("GetFormatName()", kDict)
}

void KxFormatDict::UnloadFormat(int32_t lIndex) {
    KX_TRY
        m_formats.RemoveAt(lIndex);
    KX_CATCH("UnloadFormat()", kDict)
}

// ---------------------------------------------------------------------------------------------
// KxFormatLib

KxFormatLib::KxFormatLib(const char* sDictName, bool searchOrder) : m_searchOrder(searchOrder) {
    KX_TRY
        if (sDictName != nullptr) AddDictionary(sDictName, false, 'A');
    KX_CATCH("Constructor(char *sDictName)", kLib)
}

bool KxFormatLib::AddDictionary(const char* sDictName, bool loadAll, char defaultType) {
    KX_TRY
        KxFileName name(sDictName);
        KxString path(name.GetFullPath());
        bool exists = !path.IsEmpty() && KxIO::Exists(path);
        std::unique_ptr<KxFormatDict> dictionary;
        if (exists) {
            RemoveDictionary(path);
            int32_t earlier = m_dictionaries.GetCount();
            dictionary = std::make_unique<KxFormatDict>(path, loadAll, defaultType);
            if (!m_searchOrder && earlier > 0) {
                // The new dictionary comes first now: earlier copies of its formats would
                // otherwise still answer lookups.
                KxVector<KxString> names;
                dictionary->GetAllFormatNames(names);
                for (int32_t d = 0; d < earlier; ++d) {
                    KxFormatDict* older = m_dictionaries[static_cast<size_t>(d)];
                    for (int32_t f = older->GetNumLoadedFormats() - 1; f >= 0; --f) {
                        const char* loaded = older->GetFormatName(f);
                        for (const KxString& shadowing : names)
                            if (CompareText(loaded, shadowing, false) == 0) {
                                older->UnloadFormat(f);
                                break;
                            }
                    }
                }
            }
        } else {
            dictionary = std::make_unique<KxFormatDict>();
            dictionary->SetName(path);
        }
        m_dictionaries.push_back(dictionary.get());
        dictionary.release();
        return exists;
    KX_CATCH_STD("AddDictionary(char *sDictName)", kLib)
}

void KxFormatLib::RemoveDictionary(const char* sUnloadName) {
    KX_TRY
        if (sUnloadName == nullptr) return;
        for (int32_t i = 0; i < m_dictionaries.GetCount(); ++i)
            if (strcmp(m_dictionaries[static_cast<size_t>(i)]->GetFileName(), sUnloadName) == 0) {
                m_dictionaries.RemoveAt(i);
                return;
            }
    KX_CATCH("RemoveDictionary(char *sUnloadName)", kLib)
}

void KxFormatLib::RemoveDictionary(int32_t lDictIndex) {
    KX_TRY
        m_dictionaries.RemoveAt(lDictIndex);
    KX_CATCH("RemoveDictionary(long lDictIndex)", kLib)
}

KxFormatDict* KxFormatLib::GetDictionary(int32_t lIndex) const {
    KX_TRY
        return m_dictionaries.At(lIndex);
    KX_CATCH("GetDictionary()", kLib)
}

const char* KxFormatLib::GetDictionaryName(int32_t lIndex) const {
    KX_TRY
        return m_dictionaries.At(lIndex)->GetFileName();
    KX_CATCH("GetDictionaryName()", kLib)
}

std::shared_ptr<KxFormat> KxFormatLib::GetSharedFormat(const char* sFormatName, char type) {
    KX_TRY
        for (KxFormatDict* dictionary : m_dictionaries)
            if (dictionary->GetLoadedFormatIndex(sFormatName) >= 0)
                return dictionary->GetSharedFormat(sFormatName, type);
        int32_t count = m_dictionaries.GetCount();
        for (int32_t i = 0; i < count; ++i) {
            KxFormatDict* dictionary = m_dictionaries[static_cast<size_t>(m_searchOrder ? i : count - 1 - i)];
            if (std::shared_ptr<KxFormat> format = dictionary->GetSharedFormat(sFormatName, type))
                return format;
        }
        return nullptr;
    KX_CATCH("GetFormat()", kLib)
}

KxFormat* KxFormatLib::GetFormat(const char* sFormatName) {
    return GetSharedFormat(sFormatName, '\0').get();
}

KxFormat* KxFormatLib::GetFormat(const char* sFormatName, char type) {
    return GetSharedFormat(sFormatName, type).get();
}

void KxFormatLib::InitDefaultLibrary() {
    KX_TRY
        if (g_defaultLibrary != nullptr) return;
        g_defaultLibrary = new KxFormatLib();
    KX_CATCH_STD("InitDefaultLibrary()", kLib)
}

void KxFormatLib::ReleaseDefaultLibrary() {
    delete g_defaultLibrary;
    g_defaultLibrary = nullptr;
}

KxFormatLib* KxFormatLib::GetDefaultLibrary() { return g_defaultLibrary; }
