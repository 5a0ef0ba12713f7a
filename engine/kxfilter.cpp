#include "kxfilter.h"

#include <algorithm>
#include <cfloat>
#include <charconv>
#include <cmath>
#include <cstdarg>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

#include "kxengineexceptions.h"
#include "kxini.h"
#include "kxstream.h"

namespace {

constexpr const char* kStringFilter = "KxStringFilter";
constexpr const char* kNumberFilter = "KxNumberFilter";
constexpr const char* kTimestampFilter = "KxTimestampFilter";
constexpr const char* kRegistry = "KxFilterRegistry";

constexpr const char* kFilterTypeKey = "FilterType";
constexpr const char* kRegistryIndexKey = "KxFilter.RegistryIndex";
constexpr const char* kDateFormatKey = "Date Format String";

KxString Formatted(const char* format, va_list args) KX_PRINTF(1, 0);
KxString Formatted(const char* format, va_list args) {
    KxString text;
    text.vprintf(format, args);
    return text;
}

[[noreturn]] void ThrowFilter(const char* source, const char* format, ...) KX_PRINTF(2, 3);
[[noreturn]] void ThrowFilter(const char* source, const char* format, ...) {
    va_list args;
    va_start(args, format);
    KxString text = Formatted(format, args);
    va_end(args);
    throw KxFilterException(text.GetCString(), source);
}

[[noreturn]] void ThrowUninterpretable(const char* message) {
    throw KxFilterUninterpretableStringException(message, kNumberFilter);
}

[[noreturn]] void ThrowRegistry(const char* format, ...) KX_PRINTF(1, 2);
[[noreturn]] void ThrowRegistry(const char* format, ...) {
    va_list args;
    va_start(args, format);
    KxString text = Formatted(format, args);
    va_end(args);
    throw KxFilterRegistryException(text.GetCString(), kRegistry);
}

[[noreturn]] void ThrowPicture(const char* message, KxStringFilter::Code code) {
    throw KxStringException(message, kStringFilter, static_cast<char>(code));
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
char Upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

bool EqualNoCase(const char* a, const char* b) {
    for (;; ++a, ++b) {
        if (Upper(*a) != Upper(*b)) return false;
        if (*a == '\0') return true;
    }
}

bool IsNumericType(char type) {
    switch (type) {
    case 'N':
    case '$':
    case 'I':
    case 'S':
    case 'U':
    case 'W':
    case 'L': return true;
    default: return false;
    }
}

bool HasKey(KxIniSection& section, const char* sKey) { return section.FindKey(sKey) >= 0; }

// An integer setting that must fit its 16-bit member; a damaged section must not wrap into
// another valid-looking value.
int16_t GetShortSetting(KxIniSection& section, const char* sKey, int16_t wDefault,
                        const char* source) {
    int32_t value = section.GetInt(sKey, wDefault);
    if (value < INT16_MIN || value > INT16_MAX)
        ThrowFilter(source, "Invalid %s value %d", sKey, static_cast<int>(value));
    return static_cast<int16_t>(value);
}

KxString GetText(KxIniSection& section, const char* sKey, const char* sDefault) {
    return KxString(section.GetString(sKey, sDefault));
}

KxString ReadStreamText(KxInputStreamInterface& stream) {
    char* text = nullptr;
    stream.ReadCString(&text);
    KxString result;
    try {
        result = text;
    } catch (...) {
        delete[] text;
        throw;
    }
    delete[] text;
    return result;
}

} // namespace

// ---------------------------------------------------------------------------------------------
// KxFilter

void KxFilter::Read(KxIniSection* pIniSection) {
    KX_TRY
        if (pIniSection == nullptr) ThrowFilter(GetClassnameCString(), "null pointer: pIniSection");
        Read(*pIniSection, nullptr);
    KX_CATCH("Read()", GetClassnameCString())
}

void KxFilter::Write(KxIniSection* pIniSection) const {
    KX_TRY
        if (pIniSection == nullptr) ThrowFilter(GetClassnameCString(), "null pointer: pIniSection");
        Write(*pIniSection, nullptr);
    KX_CATCH("Write()", GetClassnameCString())
}

void KxFilter::Read(KxInputStreamInterface& stream) {
    KX_TRY
        int32_t type = stream.ReadInt();
        int16_t version = stream.ReadShort();
        int16_t filterType = stream.ReadShort();
        if (type != kxStreamHeaderType || version != kxStreamVersion ||
            filterType != GetFilterType())
            ThrowFilter(GetClassnameCString(), "Invalid kxfilter header information");
        ReadSettings(stream);
    KX_CATCH("Read()", GetClassnameCString())
}

void KxFilter::Write(KxOutputStreamInterface& stream) const {
    KX_TRY
        stream.WriteKxHeader(kxStreamHeaderType, kxStreamVersion);
        stream.WriteShort(GetFilterType());
        WriteSettings(stream);
    KX_CATCH("Write()", GetClassnameCString())
}

// ---------------------------------------------------------------------------------------------
// KxStringFilter: the picture

namespace {

struct PictureNode {
    enum Kind { kPlaceholder, kLiteral, kGroup, kOptional, kRepeat };
    Kind kind = kLiteral;
    char c = 0;
    // Repeat: the count, or -1 for "until the input is used up".
    int32_t count = 0;
    // Group and optional: their parts; repeat: the one repeated part.
    std::vector<PictureNode> parts;
};

bool IsPlaceholder(char c) { return c == '#' || c == '?' || c == '&' || c == '@' || c == '!'; }

class PictureParser {
public:
    explicit PictureParser(const char* picture) : m_p(picture) {}

    std::vector<PictureNode> Parse() {
        if (*m_p == '\0') ThrowPicture("Empty picture string", KxStringFilter::kxEmptyPicture);
        return Sequence('\0');
    }

private:
    // The parts up to the closer ('}', ']' or the end for '\0'), which is consumed.
    std::vector<PictureNode> Sequence(char closer) {
        std::vector<PictureNode> nodes;
        for (;;) {
            char c = *m_p;
            if (c == '\0') {
                if (closer == '}') ThrowPicture("Invalid group syntax", KxStringFilter::kxGroupSyntax);
                if (closer == ']')
                    ThrowPicture("Invalid optional syntax", KxStringFilter::kxOptionalSyntax);
                return nodes;
            }
            if (c == '}' || c == ']') {
                if (c == closer) {
                    ++m_p;
                    return nodes;
                }
                // A close that does not match: inside a group or a stray '}' it is the group's
                // fault, otherwise the optional part's.
                if (closer == '}' || c == '}')
                    ThrowPicture("Invalid group syntax", KxStringFilter::kxGroupSyntax);
                ThrowPicture("Invalid optional syntax", KxStringFilter::kxOptionalSyntax);
            }
            nodes.push_back(Element());
        }
    }

    PictureNode Element() {
        PictureNode node;
        char c = *m_p;
        if (IsPlaceholder(c)) {
            node.kind = PictureNode::kPlaceholder;
            node.c = c;
            ++m_p;
        } else if (c == ';') {
            if (m_p[1] == '\0')
                ThrowPicture("Invalid literal sequence", KxStringFilter::kxLiteralSyntax);
            node.c = m_p[1];
            m_p += 2;
        } else if (c == ',') {
            ThrowPicture("Unsupported option", KxStringFilter::kxUnsupportedOption);
        } else if (c == '{') {
            ++m_p;
            node.kind = PictureNode::kGroup;
            node.parts = Sequence('}');
            if (node.parts.empty()) ThrowPicture("Invalid group syntax", KxStringFilter::kxGroupSyntax);
        } else if (c == '[') {
            ++m_p;
            if (m_optionalSeen)
                ThrowPicture("Invalid optional syntax", KxStringFilter::kxOptionalSyntax);
            m_optionalSeen = true;
            node.kind = PictureNode::kOptional;
            node.parts = Sequence(']');
            if (node.parts.empty())
                ThrowPicture("Invalid optional syntax", KxStringFilter::kxOptionalSyntax);
        } else if (c == '*') {
            ++m_p;
            node.kind = PictureNode::kRepeat;
            node.count = -1;
            if (IsDigit(*m_p)) {
                int32_t count = 0;
                for (; IsDigit(*m_p); ++m_p) {
                    count = count * 10 + (*m_p - '0');
                    if (count > KxStringFilter::kxMaxFilteredLength)
                        ThrowPicture("Invalid repeat syntax", KxStringFilter::kxRepeatSyntax);
                }
                node.count = count;
            }
            if (!IsPlaceholder(*m_p) && *m_p != '{')
                ThrowPicture("Invalid repeat syntax", KxStringFilter::kxRepeatSyntax);
            node.parts.push_back(Element());
            if (node.count < 0) {
                // Only closing brackets may follow a repeat that runs to the end of the input.
                for (const char* q = m_p; *q != '\0'; ++q)
                    if (*q != '}' && *q != ']')
                        ThrowPicture("Invalid repeat syntax", KxStringFilter::kxRepeatSyntax);
            }
        } else {
            node.c = c;
            ++m_p;
        }
        return node;
    }

    const char* m_p;
    bool m_optionalSeen = false;
};

// Walks the picture over an input: filtering writes the picture's literals and the input's
// characters; unfiltering reads the literals from the input and keeps the other characters.
class PictureWalk {
public:
    PictureWalk(const char* input, bool filtering)
        : m_in(input), m_length(strlen(input)), m_filtering(filtering) {}

    bool Run(const std::vector<PictureNode>& nodes) { return Walk(nodes) && m_at == m_length; }
    const std::string& Output() const { return m_out; }

private:
    bool Walk(const std::vector<PictureNode>& nodes) {
        for (const PictureNode& node : nodes)
            if (!Step(node)) return false;
        return true;
    }

    bool Step(const PictureNode& node) {
        switch (node.kind) {
        case PictureNode::kPlaceholder: {
            if (m_at >= m_length) return false;
            char c = m_in[m_at];
            if (node.c == '#' && !IsDigit(c)) return false;
            if ((node.c == '?' || node.c == '&') && !IsLetter(c)) return false;
            if (m_filtering && (node.c == '&' || node.c == '!')) c = Upper(c);
            ++m_at;
            return Put(c);
        }
        case PictureNode::kLiteral:
            if (m_filtering) return Put(node.c);
            if (m_at >= m_length || m_in[m_at] != node.c) return false;
            ++m_at;
            return true;
        case PictureNode::kGroup: return Walk(node.parts);
        case PictureNode::kOptional: {
            size_t at = m_at, out = m_out.size();
            if (!Walk(node.parts)) {
                m_at = at;
                m_out.resize(out);
            }
            return true;
        }
        case PictureNode::kRepeat:
            if (node.count >= 0) {
                for (int32_t i = 0; i < node.count; ++i)
                    if (!Step(node.parts[0])) return false;
                return true;
            }
            while (m_at < m_length) {
                size_t before = m_at;
                if (!Step(node.parts[0])) return false;
                // A part that takes nothing from the input would repeat for ever.
                if (m_at == before) return false;
            }
            return true;
        }
        return false;
    }

    bool Put(char c) {
        if (m_out.size() >= static_cast<size_t>(KxStringFilter::kxMaxFilteredLength)) return false;
        m_out += c;
        return true;
    }

    const char* m_in;
    size_t m_length;
    bool m_filtering;
    size_t m_at = 0;
    std::string m_out;
};

} // namespace

// ---------------------------------------------------------------------------------------------
// KxStringFilter

KxFilter* KxStringFilter::Clone() const {
    KX_TRY
        return new KxStringFilter(*this);
    KX_CATCH_STD("Clone()", kStringFilter)
}

void KxStringFilter::SyntaxCheck(const char* sPicture) {
    KX_TRY
        PictureParser(sPicture != nullptr ? sPicture : "").Parse();
    KX_CATCH_STD("SyntaxCheck()", kStringFilter)
}

void KxStringFilter::SetPictureString(const char* sPicture) {
    KX_TRY
        SyntaxCheck(sPicture);
        m_picture = sPicture;
    KX_CATCH("SetPictureString()", kStringFilter)
}

void KxStringFilter::SetMissingString(const char* sMissing) {
    KX_TRY
        m_missing = sMissing;
    KX_CATCH("SetMissingString()", kStringFilter)
}

KxString KxStringFilter::FilterValue(const char* pText) const {
    KX_TRY
        if (pText == nullptr || *pText == '\0') return m_missing;
        if (m_picture.IsEmpty()) return KxString(pText);
        PictureWalk walk(pText, true);
        if (!walk.Run(PictureParser(m_picture).Parse()))
            ThrowPicture("Filter Error", kxFilterError);
        return KxString(walk.Output().c_str());
    KX_CATCH_STD("FilterValue()", kStringFilter)
}

KxString KxStringFilter::UnfilterValue(const char* pText) const {
    KX_TRY
        if (pText == nullptr || *pText == '\0' || m_missing == pText) return KxString();
        if (m_picture.IsEmpty()) return KxString(pText);
        PictureWalk walk(pText, false);
        if (!walk.Run(PictureParser(m_picture).Parse()))
            ThrowPicture("Unfilter Error", kxUnfilterError);
        return KxString(walk.Output().c_str());
    KX_CATCH_STD("UnfilterValue()", kStringFilter)
}

bool KxStringFilter::FilterField(const KxFilterValue& value, KxString& sText) const {
    KX_TRY
        if (value.type == 'Y') return false;
        sText = FilterValue(value.blank ? "" : value.text);
        return true;
    KX_CATCH("FilterField()", kStringFilter)
}

KxUnfilteredValue KxStringFilter::UnfilterField(char type, const char* pText) const {
    KX_TRY
        KxUnfilteredValue result;
        if (type == 'Y') return result;
        result.text = UnfilterValue(pText);
        result.kind = result.text.IsEmpty() ? KxUnfilteredValue::kxBlank : KxUnfilteredValue::kxText;
        return result;
    KX_CATCH("UnfilterField()", kStringFilter)
}

void KxStringFilter::Read(KxIniSection& section, KxProgressReport* pProgress) {
    KX_TRY
        KxString missing = GetText(section, "Missing String", "");
        KxString picture = GetText(section, "Picture String Filter", "");
        // A section without a picture shows texts unchanged.
        if (!picture.IsEmpty()) SyntaxCheck(picture);
        m_missing = missing;
        m_picture = picture;
    KX_CATCH("Read()", kStringFilter)
}

void KxStringFilter::Write(KxIniSection& section, KxProgressReport* pProgress) const {
    KX_TRY
        section.SetString("Missing String", m_missing);
        section.SetString("Picture String Filter", m_picture);
    KX_CATCH("Write()", kStringFilter)
}

void KxStringFilter::ReadSettings(KxInputStreamInterface& stream) {
    KxString missing = ReadStreamText(stream);
    KxString picture = ReadStreamText(stream);
    if (!picture.IsEmpty()) SyntaxCheck(picture);
    m_missing = missing;
    m_picture = picture;
}

void KxStringFilter::WriteSettings(KxOutputStreamInterface& stream) const {
    stream.WriteCString(m_missing);
    stream.WriteCString(m_picture);
}

// ---------------------------------------------------------------------------------------------
// KxNumberFilter

namespace {

// The magnitude with ten decimals, as "%21.10f" prints it without its padding; independent of
// the locale.
std::string DoubleDigits(double magnitude) {
    std::string buffer(400, '\0');
    std::to_chars_result r = std::to_chars(buffer.data(), buffer.data() + buffer.size(), magnitude,
                                           std::chars_format::fixed, 10);
    buffer.resize(r.ec == std::errc() ? static_cast<size_t>(r.ptr - buffer.data()) : 0);
    return buffer;
}

void StripLeadingZeros(std::string& t) {
    size_t n = 0;
    while (n + 1 < t.size() && t[n] == '0' && IsDigit(t[n + 1])) ++n;
    t.erase(0, n);
}

// Rounds the digits in place to the place r (see SetRoundingPlace).
void RoundDigits(std::string& t, int16_t r) {
    if (r == 0) return;
    size_t point = t.find('.');
    bool hasPoint = point != std::string::npos;
    std::string digits = t;
    if (hasPoint) digits.erase(point, 1);
    int64_t intLength = hasPoint ? static_cast<int64_t>(point) : static_cast<int64_t>(t.size());
    int64_t roundAt;
    if (r > 0) {
        if (intLength < r - 1) {
            t.assign(1, '0');
            return;
        }
        roundAt = intLength - r;
        if (roundAt < 0) {
            // The rounding digit stands just left of the number.
            digits.insert(digits.begin(), '0');
            ++intLength;
            roundAt = 0;
        }
    } else {
        int64_t decimals = static_cast<int64_t>(digits.size()) - intLength;
        if (!hasPoint || decimals < -static_cast<int64_t>(r)) return;
        roundAt = intLength - r - 1;
    }
    size_t at = static_cast<size_t>(roundAt);
    if (at + 1 < digits.size() && digits[at + 1] >= '5') {
        size_t i = at + 1;
        bool carry = true;
        while (carry && i > 0) {
            --i;
            if (digits[i] == '9') {
                digits[i] = '0';
            } else {
                ++digits[i];
                carry = false;
            }
        }
        if (carry) {
            digits.insert(digits.begin(), '1');
            ++intLength;
            ++at;
        }
    }
    for (size_t i = at + 1; i < digits.size(); ++i) digits[i] = '0';
    if (hasPoint) digits.insert(static_cast<size_t>(intLength), 1, '.');
    StripLeadingZeros(digits);
    t = digits;
}

double ValueOf(const std::string& t) {
    double v = 0;
    if (t.empty()) return 0;
    std::from_chars(t.data(), t.data() + t.size(), v, std::chars_format::fixed);
    return v;
}

void Trim(std::string& t) {
    size_t b = 0, e = t.size();
    while (b < e && (t[b] == ' ' || t[b] == '\t')) ++b;
    while (e > b && (t[e - 1] == ' ' || t[e - 1] == '\t')) --e;
    t = t.substr(b, e - b);
}

// Whether a decimal text out of the range of a double is too large rather than too small: the
// place of its first significant digit, moved by the exponent, lies left of the units.
bool TooLarge(const char* p, const char* end) {
    if (*p == '-' || *p == '+') ++p;
    int64_t order = 0;
    bool significant = false;
    for (; p < end && IsDigit(*p); ++p) {
        significant = significant || *p != '0';
        if (significant) ++order;
    }
    if (p < end && *p == '.')
        for (++p; p < end && IsDigit(*p) && !significant; ++p) {
            if (*p != '0') significant = true;
            else --order;
        }
    while (p < end && *p != 'e' && *p != 'E') ++p;
    if (p < end) {
        ++p;
        bool negative = *p == '-';
        if (*p == '-' || *p == '+') ++p;
        int64_t exponent = 0;
        for (; p < end && IsDigit(*p); ++p)
            if (exponent < 1000000) exponent = exponent * 10 + (*p - '0');
        order += negative ? -exponent : exponent;
    }
    return order > 0;
}

bool StartsWith(const std::string& t, const char* s) {
    size_t n = strlen(s);
    return n > 0 && t.size() >= n && t.compare(0, n, s) == 0;
}

bool EndsWith(const std::string& t, const char* s) {
    size_t n = strlen(s);
    return n > 0 && t.size() >= n && t.compare(t.size() - n, n, s) == 0;
}

} // namespace

KxFilter* KxNumberFilter::Clone() const {
    KX_TRY
        return new KxNumberFilter(*this);
    KX_CATCH_STD("Clone()", kNumberFilter)
}

void KxNumberFilter::SetMissingString(const char* sMissing) {
    KX_TRY
        m_missing = sMissing;
    KX_CATCH("SetMissingString()", kNumberFilter)
}

void KxNumberFilter::SetPrefix(const char* sPrefix) {
    KX_TRY
        m_prefix = sPrefix;
    KX_CATCH("SetPrefix()", kNumberFilter)
}

void KxNumberFilter::SetSuffix(const char* sSuffix) {
    KX_TRY
        m_suffix = sSuffix;
    KX_CATCH("SetSuffix()", kNumberFilter)
}

void KxNumberFilter::SetNegativeSignPlacement(int16_t wPlacement) {
    KX_TRY
        if (wPlacement < kxSignBefore || wPlacement > kxSignParenthesis)
            ThrowFilter(kNumberFilter, "Invalid negative sign placement");
        m_signPlacement = wPlacement;
    KX_CATCH("SetNegativeSignPlacement()", kNumberFilter)
}

void KxNumberFilter::SetFixWidthLength(int16_t wLength) {
    KX_TRY
        if (wLength < 1 || wLength > 32) ThrowFilter(kNumberFilter, "Fix width length out of the range");
        m_fixWidthLength = wLength;
    KX_CATCH("SetFixWidthLength()", kNumberFilter)
}

void KxNumberFilter::SetFillSide(int16_t wSide) {
    KX_TRY
        if (wSide != kxFillRight && wSide != kxFillLeft) ThrowFilter(kNumberFilter, "Invalid fill side");
        m_fillSide = wSide;
    KX_CATCH("SetFillSide()", kNumberFilter)
}

KxString KxNumberFilter::FilterNumber(const KxString& sDigits, bool negative) const {
    KX_TRY
        std::string t(sDigits.GetCString());
        StripLeadingZeros(t);
        RoundDigits(t, m_roundingPlace);

        int64_t places = m_decimals;
        size_t point = t.find('.');
        if (point == std::string::npos) {
            point = t.size();
            t += '.';
        }
        if (places <= 0) {
            t.erase(point);
        } else {
            int64_t decimals = static_cast<int64_t>(t.size() - point - 1);
            if (decimals > places)
                t.resize(point + 1 + static_cast<size_t>(places));
            else
                t.append(static_cast<size_t>(places - decimals), '0');
        }
        double v = ValueOf(t);
        // Only the 0 just before the decimal point is the one the setting keeps.
        if (!m_leadingZero && t.size() > 1 && t[0] == '0' && t[1] == '.') t.erase(0, 1);
        if (m_suppressZero && v == 0) t.clear();

        int64_t w = static_cast<int64_t>(t.size());
        if (places > 0 && !t.empty()) --w;
        if (m_thousandSeparator) {
            size_t end = t.find('.');
            if (end == std::string::npos) end = t.size();
            for (size_t i = end; i > 3 && IsDigit(t[i - 4]); i -= 3) t.insert(i - 3, 1, ',');
        }
        bool overflow = false;
        if (m_fixWidth) {
            int64_t length = m_fixWidthLength > 0 ? m_fixWidthLength : 0;
            if (w > length) {
                t.assign(static_cast<size_t>(length), '*');
                overflow = true;
            } else if (m_fillSide == kxFillLeft) {
                t.insert(0, static_cast<size_t>(length - w), m_fillChar);
            } else {
                t.append(static_cast<size_t>(length - w), m_fillChar);
            }
        }
        if (!overflow && negative && v != 0) {
            switch (m_signPlacement) {
            case kxSignBefore: t.insert(0, 1, '-'); break;
            case kxSignAfter: t += '-'; break;
            case kxSignParenthesis:
                t.insert(0, 1, '(');
                t += ')';
                break;
            default: ThrowFilter(kNumberFilter, "Invalid negative sign placement");
            }
        }
        KxString result(m_prefix);
        result.Append(t.c_str());
        result.Append(m_suffix);
        return result;
    KX_CATCH_STD("FilterNumber()", kNumberFilter)
}

KxString KxNumberFilter::Fit(const KxString& sText, bool missing, uint32_t ulDestLength) const {
    if (ulDestLength == 0 || static_cast<uint32_t>(sText.GetLength()) < ulDestLength) return sText;
    std::string out(sText.GetCString());
    if (!missing) out.assign(m_fixWidthLength > 0 ? static_cast<size_t>(m_fixWidthLength) : 0, '*');
    out.resize(std::min<size_t>(out.size(), ulDestLength - 1));
    return KxString(out.c_str());
}

void KxNumberFilter::Store(const KxString& sText, bool missing, char* pDest,
                           uint32_t ulDestLength) const {
    if (pDest == nullptr) ThrowFilter(kNumberFilter, "null pointer: pDest");
    if (ulDestLength == 0) return;
    KxString text = Fit(sText, missing, ulDestLength);
    memcpy(pDest, text.GetCString(), static_cast<size_t>(text.GetLength()) + 1);
}

KxString KxNumberFilter::FilterInteger(int32_t value) const {
    if (value == kxMissingLong) return m_missing;
    int64_t magnitude = value < 0 ? -static_cast<int64_t>(value) : value;
    return FilterNumber(KxString(std::to_string(magnitude).c_str()), value < 0);
}

KxString KxNumberFilter::FilterValue(double value) const {
    KX_TRY
        if (value == kxMissingNumber) return m_missing;
        // Infinities and NaN have no digits to show.
        if (!std::isfinite(value))
            return KxString(std::string(m_fixWidthLength > 0 ? m_fixWidthLength : 0, '*').c_str());
        bool negative = value < 0;
        return FilterNumber(KxString(DoubleDigits(negative ? -value : value).c_str()), negative);
    KX_CATCH_STD("FilterValue()", kNumberFilter)
}

void KxNumberFilter::FilterValue(double value, char* pDest, uint32_t ulDestLength) const {
    KX_TRY
        Store(FilterValue(value), value == kxMissingNumber, pDest, ulDestLength);
    KX_CATCH("FilterValue()", kNumberFilter)
}

void KxNumberFilter::FilterValue(int32_t value, char* pDest, uint32_t ulDestLength) const {
    KX_TRY
        Store(FilterInteger(value), value == kxMissingLong, pDest, ulDestLength);
    KX_CATCH_STD("FilterValue()", kNumberFilter)
}

void KxNumberFilter::FilterValue(int16_t value, char* pDest, uint32_t ulDestLength) const {
    KX_TRY
        bool missing = value == kxMissingShort;
        Store(missing ? m_missing : FilterInteger(value), missing, pDest, ulDestLength);
    KX_CATCH("FilterValue()", kNumberFilter)
}

double KxNumberFilter::UnfilterValue(const char* pText) const {
    KX_TRY
        if (pText == nullptr) ThrowFilter(kNumberFilter, "Null pointer to the number");
        std::string t(pText);
        Trim(t);
        if (t.empty() || (!m_missing.IsEmpty() && t == m_missing.GetCString())) return kxMissingNumber;
        if (StartsWith(t, m_prefix)) t.erase(0, strlen(m_prefix));
        if (EndsWith(t, m_suffix)) t.resize(t.size() - strlen(m_suffix));
        Trim(t);
        bool negative = false;
        if (t.size() >= 2 && t.front() == '(' && t.back() == ')') {
            t = t.substr(1, t.size() - 2);
            negative = true;
        } else if (t.size() >= 2 && t.back() == '-') {
            t.pop_back();
            negative = true;
        }
        // A digit used as fill cannot be told from the number's own digits.
        if (m_fixWidth && !IsDigit(m_fillChar)) {
            bool minus = !t.empty() && t[0] == '-' && m_fillChar != '-';
            if (minus) t.erase(0, 1);
            if (m_fillSide == kxFillLeft) {
                t.erase(0, std::min(t.find_first_not_of(m_fillChar), t.size()));
            } else {
                size_t last = t.find_last_not_of(m_fillChar);
                t.resize(last == std::string::npos ? 0 : last + 1);
            }
            if (minus) t.insert(0, 1, '-');
        }
        if (m_thousandSeparator) std::erase(t, ',');
        const char* p = t.c_str();
        const char* start = p;
        if (*p == '-' || *p == '+') ++p;
        if (negative && p != start) ThrowUninterpretable("Invalid number");
        int digits = 0;
        while (IsDigit(*p)) ++p, ++digits;
        if (*p == '.') {
            ++p;
            while (IsDigit(*p)) ++p, ++digits;
        }
        if (digits > 0 && (*p == 'e' || *p == 'E')) {
            ++p;
            if (*p == '+' || *p == '-') ++p;
            if (!IsDigit(*p)) ThrowUninterpretable("Invalid number");
            while (IsDigit(*p)) ++p;
        }
        if (digits == 0 || *p != '\0') ThrowUninterpretable("Invalid number");
        if (*start == '+') ++start;
        double v = 0;
        std::from_chars_result r = std::from_chars(start, p, v, std::chars_format::general);
        if (r.ec == std::errc::result_out_of_range) {
            // Too small a magnitude is 0, a number all the same.
            if (TooLarge(start, p)) ThrowUninterpretable("Number is larger then a double");
            v = 0;
        } else if (!std::isfinite(v) || std::fabs(v) >= DBL_MAX) {
            ThrowUninterpretable("Number is larger then a double");
        } else if (r.ec != std::errc() || r.ptr != p) {
            ThrowUninterpretable("Invalid number");
        }
        return negative ? -v : v;
    KX_CATCH_STD("UnfilterValue()", kNumberFilter)
}

bool KxNumberFilter::FilterField(const KxFilterValue& value, KxString& sText) const {
    KX_TRY
        if (!IsNumericType(value.type)) return false;
        bool missing = value.blank;
        KxString text;
        if (missing) {
            text = m_missing;
        } else if (value.type == 'I' || value.type == 'S') {
            int32_t v = static_cast<int32_t>(value.number);
            missing = value.type == 'I' ? v == kxMissingLong : v == kxMissingShort;
            text = missing ? m_missing : FilterInteger(v);
        } else {
            missing = value.number == kxMissingNumber;
            text = FilterValue(value.number);
        }
        sText = Fit(text, missing, value.destLength);
        return true;
    KX_CATCH("FilterField()", kNumberFilter)
}

KxUnfilteredValue KxNumberFilter::UnfilterField(char type, const char* pText) const {
    KX_TRY
        KxUnfilteredValue result;
        if (!IsNumericType(type)) return result;
        double v = UnfilterValue(pText);
        if (v == kxMissingNumber) {
            result.kind = KxUnfilteredValue::kxBlank;
        } else {
            result.kind = KxUnfilteredValue::kxNumber;
            result.number = v;
        }
        return result;
    KX_CATCH("UnfilterField()", kNumberFilter)
}

void KxNumberFilter::Read(KxIniSection& section, KxProgressReport* pProgress) {
    KX_TRY
        KxNumberFilter read;
        read.m_missing = GetText(section, "Missing String", "");
        read.m_decimals = GetShortSetting(section, "Number of Decimal Places", 2, kNumberFilter);
        KxString placement = GetText(section, "Negative Sign Placement", "");
        read.m_signPlacement = EqualNoCase(placement, "After")         ? kxSignAfter
                               : EqualNoCase(placement, "Parenthesis") ? kxSignParenthesis
                                                                       : kxSignBefore;
        read.m_fixWidth = section.GetBool("Fix Width", false);
        read.m_fixWidthLength = GetShortSetting(section, "Fix Width Length", 10, kNumberFilter);
        read.SetFillChar(GetText(section, "Fill Char", " ").GetCString()[0]);
        read.m_fillSide = EqualNoCase(GetText(section, "Fill Side", ""), "Left") ? kxFillLeft
                                                                                 : kxFillRight;
        read.m_roundingPlace = GetShortSetting(section, "Rounding Place", 1, kNumberFilter);
        read.m_suppressZero = section.GetBool("Suppress Zero", false);
        read.m_leadingZero = section.GetBool("Leading Zero", false);
        read.m_thousandSeparator = section.GetBool("Thousand Separator", false);
        read.m_prefix = GetText(section, "Prefix", "");
        read.m_suffix = GetText(section, "Suffix", "");
        *this = read;
    KX_CATCH("Read()", kNumberFilter)
}

void KxNumberFilter::Write(KxIniSection& section, KxProgressReport* pProgress) const {
    KX_TRY
        static const char* const kPlacements[] = {"Before", "After", "Parenthesis"};
        char fill[2] = {m_fillChar, '\0'};
        section.SetString("Missing String", m_missing);
        section.SetInt("Number Of Decimal Places", m_decimals);
        section.SetString("Negative Sign Placement",
                          m_signPlacement >= kxSignBefore && m_signPlacement <= kxSignParenthesis
                              ? kPlacements[m_signPlacement - 1]
                              : kPlacements[0]);
        section.SetBool("Fix Width", m_fixWidth);
        section.SetInt("Fix Width Length", m_fixWidthLength);
        section.SetString("Fill Char", fill);
        section.SetString("Fill Side", m_fillSide == kxFillLeft ? "Left" : "Right");
        section.SetInt("Rounding Place", m_roundingPlace);
        section.SetBool("Suppress Zero", m_suppressZero);
        section.SetBool("Leading Zero", m_leadingZero);
        section.SetBool("Thousand Separator", m_thousandSeparator);
        section.SetString("Prefix", m_prefix);
        section.SetString("Suffix", m_suffix);
    KX_CATCH("Write()", kNumberFilter)
}

void KxNumberFilter::ReadSettings(KxInputStreamInterface& stream) {
    KxNumberFilter read;
    read.m_missing = ReadStreamText(stream);
    read.m_decimals = stream.ReadShort();
    read.SetNegativeSignPlacement(stream.ReadShort());
    read.m_fixWidth = stream.ReadBool();
    read.m_fixWidthLength = stream.ReadShort();
    read.SetFillChar(static_cast<char>(stream.ReadShort()));
    read.SetFillSide(stream.ReadShort());
    read.m_roundingPlace = stream.ReadShort();
    read.m_suppressZero = stream.ReadBool();
    read.m_leadingZero = stream.ReadBool();
    read.m_thousandSeparator = stream.ReadBool();
    read.m_prefix = ReadStreamText(stream);
    read.m_suffix = ReadStreamText(stream);
    *this = read;
}

void KxNumberFilter::WriteSettings(KxOutputStreamInterface& stream) const {
    stream.WriteCString(m_missing);
    stream.WriteShort(m_decimals);
    stream.WriteShort(m_signPlacement);
    stream.WriteBool(m_fixWidth);
    stream.WriteShort(m_fixWidthLength);
    stream.WriteShort(static_cast<int16_t>(static_cast<unsigned char>(m_fillChar)));
    stream.WriteShort(m_fillSide);
    stream.WriteShort(m_roundingPlace);
    stream.WriteBool(m_suppressZero);
    stream.WriteBool(m_leadingZero);
    stream.WriteBool(m_thousandSeparator);
    stream.WriteCString(m_prefix);
    stream.WriteCString(m_suffix);
}

// ---------------------------------------------------------------------------------------------
// KxTimestampFilter

KxFilter* KxTimestampFilter::Clone() const {
    KX_TRY
        return new KxTimestampFilter(*this);
    KX_CATCH_STD("Clone()", kTimestampFilter)
}

KxFilter* KxDateFilter::Clone() const {
    KX_TRY
        return new KxDateFilter(*this);
    KX_CATCH_STD("Clone()", "KxDateFilter")
}

KxFilter* KxTimeFilter::Clone() const {
    KX_TRY
        return new KxTimeFilter(*this);
    KX_CATCH_STD("Clone()", "KxTimeFilter")
}

const KxTimestampFormat& KxTimestampFilter::Effective() const {
    if (*m_format.GetFormat() != '\0') return m_format;
    switch (GetFilterType()) {
    case kxDateFilter: return KxGetDefaultDateFormat();
    case kxTimeFilter: return KxGetDefaultTimeFormat();
    default: {
        static const KxTimestampFormat format("%M %d, %y %h:%02n:%02s %p");
        return format;
    }
    }
}

void KxTimestampFilter::SetFormat(const char* sFormat) {
    KX_TRY
        m_format.SetFormat(sFormat);
    KX_CATCH("SetFormat()", kTimestampFilter)
}

KxString KxTimestampFilter::FormatFromOlderSettings(KxIniSection& section) {
    KX_TRY
        bool zeroFill = section.GetBool("Zero Fill", false);
        bool fourDigits = section.GetBool("Four Digit Year", false);
        KxString order = GetText(section, "Date Format", "YMD");
        KxString separators[2] = {GetText(section, "First Separator", "/"),
                                  GetText(section, "Second Separator", "/")};
        KxString month = GetText(section, "Month Format", "1-Digit");
        static const char* const kOrders[] = {"YMD", "DMY", "MDY", "MY", "YM", "Y"};
        const char* pOrder = nullptr;
        for (const char* o : kOrders)
            if (EqualNoCase(order, o)) pOrder = o;
        if (pOrder == nullptr) ThrowFilter(kTimestampFilter, "Unknown date format \"%s\"", order.GetCString());
        const char* monthConversion = nullptr;
        static const char* const kMonths[][2] = {
            {"1-Digit", "%m"}, {"2-Digit", "%02m"}, {"3-Letter", "%M"}, {"Whole Name", "%L"}};
        for (const auto& m : kMonths)
            if (EqualNoCase(month, m[0])) monthConversion = m[1];
        if (monthConversion == nullptr)
            ThrowFilter(kTimestampFilter, "Unknown month format \"%s\"", month.GetCString());
        std::string out;
        for (size_t i = 0; pOrder[i] != '\0'; ++i) {
            if (i > 0) {
                // A percent sign in a separator is text, not the start of a conversion.
                for (const char* s = separators[i == 1 ? 0 : 1]; *s != '\0'; ++s) {
                    out += *s;
                    if (*s == '%') out += '%';
                }
            }
            switch (pOrder[i]) {
            case 'Y': out += fourDigits ? "%y" : "%Y"; break;
            case 'M': out += monthConversion; break;
            default: out += zeroFill ? "%02d" : "%d"; break;
            }
        }
        return KxString(out.c_str());
    KX_CATCH_STD("FormatFromOlderSettings()", kTimestampFilter)
}

void KxTimestampFilter::FilterTimestamp(const KxTimestamp& timestamp, char* pBuffer,
                                        int32_t lSize) const {
    KX_TRY
        Effective().FilterTimestamp(timestamp, pBuffer, lSize);
    KX_CATCH("FilterTimestamp()", kTimestampFilter)
}

KxString KxTimestampFilter::FilterTimestamp(const KxTimestamp& timestamp) const {
    KX_TRY
        return Effective().Filter(timestamp);
    KX_CATCH("FilterTimestamp()", kTimestampFilter)
}

KxTimestamp KxTimestampFilter::UnfilterTimestamp(const char* pText) const {
    KX_TRY
        return Effective().UnfilterTimestamp(pText);
    KX_CATCH("UnfilterTimestamp()", kTimestampFilter)
}

bool KxTimestampFilter::FilterField(const KxFilterValue& value, KxString& sText) const {
    KX_TRY
        KxTimestamp timestamp;
        switch (value.type) {
        case 'D': {
            if (value.blank) break;
            KxDate date;
            date.SetCString(value.text);
            timestamp = date.GetTimestamp();
            break;
        }
        case 'T': {
            if (value.blank) break;
            KxTime time;
            time.SetCString(value.text);
            timestamp = time.GetTimestamp();
            break;
        }
        case '@':
            if (!value.blank) timestamp.SetCString(value.text);
            break;
        default: return false;
        }
        sText = value.blank ? KxString() : FilterTimestamp(timestamp);
        return true;
    KX_CATCH("FilterField()", kTimestampFilter)
}

KxUnfilteredValue KxTimestampFilter::UnfilterField(char type, const char* pText) const {
    KX_TRY
        KxUnfilteredValue result;
        if (type != 'D' && type != 'T' && type != '@') return result;
        KxTimestamp timestamp = UnfilterTimestamp(pText);
        result.kind = KxUnfilteredValue::kxText;
        // A time field takes the time part, which follows the 8 date digits.
        result.text = timestamp.GetCString() + (type == 'T' ? 8 : 0);
        return result;
    KX_CATCH("UnfilterField()", kTimestampFilter)
}

void KxTimestampFilter::Read(KxIniSection& section, KxProgressReport* pProgress) {
    KX_TRY
        static const char* const kOlderKeys[] = {"Zero Fill",       "Four Digit Year",
                                                 "Date Format",     "First Separator",
                                                 "Second Separator", "Month Format"};
        KxString format;
        if (HasKey(section, kDateFormatKey)) {
            format = GetText(section, kDateFormatKey, "");
        } else {
            bool older = GetFilterType() == kxDateFilter;
            for (const char* key : kOlderKeys) older = older || HasKey(section, key);
            if (older) format = FormatFromOlderSettings(section);
        }
        SetFormat(format);
    KX_CATCH("Read()", GetClassnameCString())
}

void KxTimestampFilter::Write(KxIniSection& section, KxProgressReport* pProgress) const {
    KX_TRY
        section.SetString(kDateFormatKey, m_format.GetFormat());
    KX_CATCH("Write()", GetClassnameCString())
}

void KxTimestampFilter::ReadSettings(KxInputStreamInterface& stream) {
    SetFormat(ReadStreamText(stream));
}

void KxTimestampFilter::WriteSettings(KxOutputStreamInterface& stream) const {
    stream.WriteCString(m_format.GetFormat());
}

// ---------------------------------------------------------------------------------------------
// KxFilterRegistry

namespace {

using Prototypes = std::map<KxString, std::unique_ptr<KxFilter>>;

Prototypes& Registry() {
    static Prototypes registry;
    return registry;
}

bool g_registryInitialized = false;

const char* FilterTypeName(int16_t wFilterType) {
    static const char* const kNames[] = {"NoFilter",   "StringFilter", "NumberFilter",
                                         "DateFilter", "TimeFilter",   "TimestampFilter"};
    return wFilterType >= kxNoFilter && wFilterType <= kxTimestampFilter ? kNames[wFilterType - 1]
                                                                         : "";
}

} // namespace

void KxFilterRegistry::InitRegistry() {
    KX_TRY
        if (g_registryInitialized) return;
        Register(KxStringFilter());
        Register(KxNumberFilter());
        Register(KxTimestampFilter());
        Register(KxDateFilter());
        Register(KxTimeFilter());
        g_registryInitialized = true;
    KX_CATCH("InitRegistry()", kRegistry)
}

void KxFilterRegistry::ReleaseRegistry() {
    Registry().clear();
    g_registryInitialized = false;
}

bool KxFilterRegistry::IsInitialized() { return g_registryInitialized; }

void KxFilterRegistry::CheckCompatibilityBetweenFilterTypeAndInheritancePath(
    const KxFilter& filter, int16_t wFilterType) {
    KX_TRY
        bool compatible = false;
        const char* className = "";
        switch (wFilterType) {
        case kxNoFilter:
            ThrowRegistry("FilterType of \"NoFilter\" is not compatible with any inheritance path");
        case kxStringFilter:
            compatible = dynamic_cast<const KxStringFilter*>(&filter) != nullptr;
            className = "KxStringFilter";
            break;
        case kxNumberFilter:
            compatible = dynamic_cast<const KxNumberFilter*>(&filter) != nullptr;
            className = "KxNumberFilter";
            break;
        case kxDateFilter:
            compatible = dynamic_cast<const KxDateFilter*>(&filter) != nullptr;
            className = "KxDateFilter";
            break;
        case kxTimeFilter:
            compatible = dynamic_cast<const KxTimeFilter*>(&filter) != nullptr;
            className = "KxTimeFilter";
            break;
        case kxTimestampFilter:
            compatible = dynamic_cast<const KxTimestampFilter*>(&filter) != nullptr;
            className = "KxTimestampFilter";
            break;
        default:
            ThrowRegistry("An unknown FilterType (value=%d) is not compatible with any inheritance "
                          "path",
                          static_cast<int>(wFilterType));
        }
        if (!compatible)
            ThrowRegistry("Filter has a FilterType of \"%s\" but is not a descendant of \"%s\".",
                          FilterTypeName(wFilterType), className);
    KX_CATCH("CheckCompatibilityBetweenFilterTypeAndInheritancePath()", kRegistry)
}

void KxFilterRegistry::Register(const KxFilter& filter) {
    KX_TRY
        if (filter.GetFilterType() == kxNoFilter)
            ThrowRegistry("Cannot register a filter of type, \"NoFilter\"");
        CheckCompatibilityBetweenFilterTypeAndInheritancePath(filter, filter.GetFilterType());
        KxString name(filter.GetRegistryIndex());
        if (name.IsEmpty())
            ThrowRegistry("Cannot register a filter whose RegistryIndex is an empty string.");
        Prototypes& registry = Registry();
        auto found = registry.find(name);
        if (found == registry.end()) {
            registry.emplace(name, std::unique_ptr<KxFilter>(filter.Clone()));
        } else if (strcmp(found->second->GetClassnameCString(), filter.GetClassnameCString()) != 0) {
            ThrowRegistry("The filter's RegistryIndex (value: \"%s\") is not unique.\r\n"
                          "Each registered filter class needs a RegistryIndex of its own; "
                          "override GetRegistryIndex() in the new class.",
                          name.GetCString());
        }
    KX_CATCH_STD("Register()", kRegistry)
}

KxFilter* KxFilterRegistry::GetFilterFromRegistry(const char* sRegistryIndex) {
    KX_TRY
        KxString name(sRegistryIndex);
        auto found = Registry().find(name);
        if (found == Registry().end())
            ThrowRegistry("The application has not registered the following filter: \"%s\".",
                          name.GetCString());
        return found->second->Clone();
    KX_CATCH_STD("GetFilterFromRegistry()", kRegistry)
}

KxFilter* KxFilterRegistry::ReadFilter(KxIniSection& section, bool strict) {
    KX_TRY
        KxString registryIndex = GetText(section, kRegistryIndexKey, "");
        std::unique_ptr<KxFilter> filter;
        if (!registryIndex.IsEmpty()) {
            try {
                filter.reset(GetFilterFromRegistry(registryIndex));
            } catch (KxFilterRegistryException&) {
                if (strict) throw;
                return nullptr;
            }
        } else {
            int32_t filterType = section.GetInt(kFilterTypeKey, kxNoFilter);
            switch (filterType) {
            case kxNoFilter: return nullptr;
            case kxStringFilter: filter = std::make_unique<KxStringFilter>(); break;
            case kxNumberFilter: filter = std::make_unique<KxNumberFilter>(); break;
            case kxDateFilter: filter = std::make_unique<KxDateFilter>(); break;
            case kxTimeFilter: filter = std::make_unique<KxTimeFilter>(); break;
            case kxTimestampFilter: filter = std::make_unique<KxTimestampFilter>(); break;
            default:
                ThrowFilter(kRegistry, "Unknown filter type %d", static_cast<int>(filterType));
            }
        }
        filter->Read(section, nullptr);
        return filter.release();
    KX_CATCH_STD("ReadFilter()", kRegistry)
}

void KxFilterRegistry::WriteFilter(KxIniSection& section, const KxFilter& filter) {
    KX_TRY
        section.SetInt(kFilterTypeKey, filter.GetFilterType());
        section.SetString(kRegistryIndexKey, filter.GetRegistryIndex());
        filter.Write(section, nullptr);
    KX_CATCH("WriteFilter()", kRegistry)
}
