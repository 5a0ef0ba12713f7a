#include "kxtimestampformat.h"

#include <cstdio>
#include <cstring>
#include <string>

namespace {

constexpr const char* kFormat = "KxTimestampFormat";
constexpr const char* kConversion = "KxTimestampFilterConversion";

const char* const kMonthNames[12] = {"January", "February", "March",     "April",
                                     "May",     "June",     "July",      "August",
                                     "September", "October", "November", "December"};
const char* const kWeekdayNames[7] = {"Sunday",   "Monday", "Tuesday", "Wednesday",
                                      "Thursday", "Friday", "Saturday"};

// The minimum width of each letter; 0 for a letter that is no conversion.
int32_t MinimumWidth(char letter) {
    switch (letter) {
    case '%': return 1;
    case 'y': return 4;
    case 'u':
    case 'M':
    case 'w': return 3;
    case 'Y':
    case 'm':
    case 'd':
    case 'H':
    case 'h':
    case 'n':
    case 's':
    case 'p':
    case 'P': return 2;
    case 'L':
    case 'W': return 9;
    default: return 0;
    }
}

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// Whether text starts with the word, ignoring ASCII case.
bool StartsWithWord(const char* text, const char* word, size_t length) {
    for (size_t i = 0; i < length; ++i)
        if (text[i] == '\0' || Lower(text[i]) != Lower(word[i])) return false;
    return true;
}

void AppendPadded(KxString& out, const char* text, int32_t width, char fill, bool left) {
    int32_t length = static_cast<int32_t>(strlen(text));
    if (!left) out.Append(text);
    for (int32_t i = length; i < width; ++i) out.Append(fill);
    if (left) out.Append(text);
}

const char* MonthName(int16_t month) {
    if (month < 1 || month > 12)
        KxGenerateException("Month %hd has no name", kConversion, month);
    return kMonthNames[month - 1];
}

} // namespace

// ---------------------------------------------------------------------------------------------
// KxTimestampFilterConversion

KxTimestampFilterConversion::KxTimestampFilterConversion(const char* pText) {
    KX_TRY
        if (pText == nullptr) KxGenerateException("null pointer: pText", kConversion);
        if (*pText != '%')
            KxGenerateException("This conversion \"%s\" does not start with '%%'", kConversion,
                                pText);
        const char* p = pText + 1;
        if (*p == '0') {
            m_zeroFill = true;
            ++p;
        }
        int32_t width = 0;
        for (; *p >= '0' && *p <= '9'; ++p) {
            width = width * 10 + (*p - '0');
            if (width > kxMaxWidth)
                KxGenerateException("The width of conversion \"%s\" is above %d", kConversion,
                                    pText, kxMaxWidth);
        }
        m_width = width;
        if ((*p == 'l' || *p == 'z') && p[1] == 'h') ++p;
        if (*p == '\0')
            KxGenerateException("Date filter format string cannot end with '%%'", kConversion);
        if (MinimumWidth(*p) == 0 || p[1] != '\0')
            KxGenerateException("Unknown conversion type '%c'", kConversion, *p);
        m_letter = *p;
    KX_CATCH("Constructor", kConversion)
}

int32_t KxTimestampFilterConversion::GetDisplayLength() const {
    int32_t minimum = MinimumWidth(m_letter);
    return m_width > minimum ? m_width : minimum;
}

KxString KxTimestampFilterConversion::Filter(const KxTimestamp& timestamp) const {
    KX_TRY
        KxString sOut;
        int32_t number = -1;
        const char* name = nullptr;
        char word[16];
        switch (m_letter) {
        case '%': AppendPadded(sOut, "%", m_width, ' ', true); return sOut;
        case 'y': number = timestamp.GetYear(); break;
        case 'Y': number = timestamp.GetYear() % 100; break;
        case 'm': number = timestamp.GetMonth(); break;
        case 'd': number = timestamp.GetDay(); break;
        case 'H': number = timestamp.GetHour(); break;
        case 'h': number = (timestamp.GetHour() + 11) % 12 + 1; break;
        case 'n': number = timestamp.GetMinute(); break;
        case 's': number = timestamp.GetSecond(); break;
        case 'u': number = timestamp.GetMilliseconds(); break;
        case 'L': name = MonthName(timestamp.GetMonth()); break;
        case 'W': name = kWeekdayNames[timestamp.GetDayOfWeek()]; break;
        case 'M':
        case 'w':
            snprintf(word, sizeof word, "%.3s",
                     m_letter == 'M' ? MonthName(timestamp.GetMonth())
                                     : kWeekdayNames[timestamp.GetDayOfWeek()]);
            name = word;
            break;
        case 'p':
        case 'P':
            if (timestamp.GetHour() > 11)
                name = m_letter == 'p' ? "pm" : "PM";
            else
                name = m_letter == 'p' ? "am" : "AM";
            break;
        default: KxGenerateException("Illegal conversion '%c'", kConversion, m_letter);
        }
        if (name != nullptr) {
            AppendPadded(sOut, name, m_width, ' ', false);
        } else {
            snprintf(word, sizeof word, "%d", number);
            AppendPadded(sOut, word, m_width, m_zeroFill ? '0' : ' ', true);
        }
        return sOut;
    KX_CATCH("Filter()", kConversion)
}

// ---------------------------------------------------------------------------------------------
// KxTimestampFormat

KxTimestampFormat::KxTimestampFormat(const char* pFormat) {
    KX_TRY
        SetFormat(pFormat);
    KX_CATCH("Constructor", kFormat)
}

void KxTimestampFormat::SetFormat(const char* pFormat) {
    KX_TRY
        const char* p = pFormat != nullptr ? pFormat : "";
        KxVector<Piece> pieces;
        int64_t displayLength = 0;
        std::string literal, conversion;
        while (*p != '\0') {
            if (*p != '%') {
                literal += *p++;
                continue;
            }
            // One conversion: "%", an optional 0, digits, an optional l or z before h, a letter.
            const char* start = p++;
            if (*p == '0') ++p;
            while (*p >= '0' && *p <= '9') ++p;
            if ((*p == 'l' || *p == 'z') && p[1] == 'h') ++p;
            if (*p == '\0')
                KxGenerateException("Date filter format string cannot end with '%%'", kFormat);
            ++p;
            conversion.assign(start, static_cast<size_t>(p - start));
            Piece piece;
            piece.literal = literal.c_str();
            piece.hasConversion = true;
            piece.conversion = KxTimestampFilterConversion(conversion.c_str());
            displayLength +=
                static_cast<int64_t>(literal.size()) + piece.conversion.GetDisplayLength();
            pieces.push_back(piece);
            literal.clear();
        }
        if (!literal.empty()) {
            Piece piece;
            piece.literal = literal.c_str();
            displayLength += static_cast<int64_t>(literal.size());
            pieces.push_back(piece);
        }
        if (displayLength > INT32_MAX - 1)
            KxGenerateException("Date filter format string is too long", kFormat);
        m_format = KxString(pFormat);
        m_pieces.swap(pieces);
        m_displayLength = static_cast<int32_t>(displayLength);
    KX_CATCH_STD("SetFormat()", kFormat)
}

KxString KxTimestampFormat::Filter(const KxTimestamp& timestamp) const {
    KX_TRY
        // Gathered in a standard string: appending to a KxString measures it every time.
        std::string out;
        for (const Piece& piece : m_pieces) {
            out += piece.literal.GetCString();
            if (piece.hasConversion) out += piece.conversion.Filter(timestamp).GetCString();
        }
        return KxString(out.c_str());
    KX_CATCH_STD("Filter()", kFormat)
}

void KxTimestampFormat::FilterTimestamp(const KxTimestamp& timestamp, char* pBuffer,
                                        int32_t lSize) const {
    KX_TRY
        if (pBuffer == nullptr) KxGenerateException("null pointer: pBuffer", kFormat);
        if (lSize < m_displayLength + 1)
            KxGenerateException("Buffer of %d too small; needs at least %d", kFormat, lSize,
                                m_displayLength + 1);
        KxString text = Filter(timestamp);
        memcpy(pBuffer, text.GetCString(), static_cast<size_t>(text.GetLength()) + 1);
    KX_CATCH("FilterTimestamp()", kFormat)
}

namespace {

// The parts read from a text; -1 where the format has no conversion for the part.
struct ParsedParts {
    int64_t year = -1, shortYear = -1, month = -1, day = -1, hour = -1, hour12 = -1;
    int64_t minute = -1, second = -1, ms = -1;
    int pm = -1; // 0 am, 1 pm
};

class TextReader {
public:
    TextReader(const char* text, const char* format) : m_text(text), m_at(text), m_format(format) {}

    const char* Rest() const { return m_at; }
    bool AtEnd() const { return *m_at == '\0'; }
    void SkipBlanks() {
        while (*m_at == ' ') ++m_at;
    }
    void Skip(int32_t count) { m_at += count; }
    void SkipBlanks(int32_t most) {
        for (; most > 0 && *m_at == ' '; --most) ++m_at;
    }

    [[noreturn]] void NotProduced() const {
        KxGenerateException("String \"%s\" was not produced by filter \"%s\"", kFormat, m_text,
                            m_format);
    }

    void Literal(const KxString& literal) {
        size_t n = static_cast<size_t>(literal.GetLength());
        if (strncmp(m_at, literal.GetCString(), n) != 0) NotProduced();
        m_at += n;
    }

    // Up to most digits after any padding blanks; the value saturates instead of overflowing.
    int64_t Number(const char* part, int32_t most) {
        SkipBlanks();
        if (AtEnd()) KxGenerateException("%s must start with a digit", kFormat, part);
        if (*m_at < '0' || *m_at > '9')
            KxGenerateException("'%c' found at offset %d of \"%s\"; need digit", kFormat, *m_at,
                                static_cast<int>(m_at - m_text), m_text);
        int64_t value = 0;
        for (int32_t i = 0; i < most && *m_at >= '0' && *m_at <= '9'; ++i, ++m_at)
            if (value < 1000000000) value = value * 10 + (*m_at - '0');
        return value;
    }

    // The index of the name the text starts with, matching the first `letters` characters of
    // each (all of them when 0).
    int Name(const char* const* names, int count, size_t letters, const char* message) {
        for (int i = 0; i < count; ++i) {
            size_t n = letters != 0 ? letters : strlen(names[i]);
            if (StartsWithWord(m_at, names[i], n)) {
                m_at += n;
                return i;
            }
        }
        KxGenerateException(message, kFormat, m_at);
    }

private:
    const char* m_text;
    const char* m_at;
    const char* m_format;
};

void ReadConversion(const KxTimestampFilterConversion& c, TextReader& in, ParsedParts& parts) {
    KX_TRY
        int32_t most = c.GetDisplayLength();
        switch (c.GetLetter()) {
        case '%':
            in.SkipBlanks();
            if (*in.Rest() != '%') in.NotProduced();
            in.Literal("%");
            break;
        case 'y': parts.year = in.Number("Year", most); break;
        case 'Y': parts.shortYear = in.Number("Year", most); break;
        case 'm': parts.month = in.Number("Month", most); break;
        case 'd': parts.day = in.Number("Day", most); break;
        case 'H': parts.hour = in.Number("Hour", most); break;
        case 'h': parts.hour12 = in.Number("Hour", most); break;
        case 'n': parts.minute = in.Number("Minute", most); break;
        case 's': parts.second = in.Number("Second", most); break;
        case 'u': parts.ms = in.Number("Millisecond", most); break;
        case 'M':
        case 'L': {
            size_t letters = c.GetLetter() == 'M' ? 3 : 0;
            parts.month = in.Name(kMonthNames, 12, letters,
                                  "%s does not appear to have a month at the beginning") + 1;
            int32_t used = c.GetLetter() == 'M'
                               ? 3
                               : static_cast<int32_t>(strlen(kMonthNames[parts.month - 1]));
            in.SkipBlanks(c.GetWidth() - used);
            break;
        }
        case 'w':
        case 'W': {
            size_t letters = c.GetLetter() == 'w' ? 3 : 0;
            int day = in.Name(kWeekdayNames, 7, letters,
                              "%s does not appear to have a weekday at the beginning");
            int32_t used =
                c.GetLetter() == 'w' ? 3 : static_cast<int32_t>(strlen(kWeekdayNames[day]));
            in.SkipBlanks(c.GetWidth() - used);
            break;
        }
        case 'p':
        case 'P':
            if (StartsWithWord(in.Rest(), "am", 2))
                parts.pm = 0;
            else if (StartsWithWord(in.Rest(), "pm", 2))
                parts.pm = 1;
            else
                in.NotProduced();
            in.Skip(2);
            in.SkipBlanks(c.GetWidth() - 2);
            break;
        default: KxGenerateException("Illegal conversion '%c'", kConversion, c.GetLetter());
        }
    KX_CATCH("Unfilter()", kConversion)
}

// Whether the parts make a real date and time; builds it.
bool Assemble(const ParsedParts& parts, KxTimestamp& out) {
    int64_t year = parts.year;
    if (year < 0 && parts.shortYear >= 0) {
        if (parts.shortYear > 99) return false;
        year = parts.shortYear < 50 ? 2000 + parts.shortYear : 1900 + parts.shortYear;
    }
    int64_t hour = parts.hour;
    if (parts.hour12 >= 0) {
        if (parts.hour12 < 1 || parts.hour12 > 12) return false;
        hour = parts.pm < 0 ? parts.hour12 : parts.hour12 % 12 + (parts.pm == 1 ? 12 : 0);
    }
    if (year >= 0 && (year < 1 || year > 9999)) return false;
    if (parts.month >= 0 && (parts.month < 1 || parts.month > 12)) return false;
    int16_t month = static_cast<int16_t>(parts.month >= 0 ? parts.month : 1);
    if (parts.day >= 0) {
        int16_t length = year >= 0 ? KxTimestamp::GetDaysInMonth(month, static_cast<int32_t>(year))
                                   : KxTimestamp::GetMonthLength(month);
        if (parts.day < 1 || parts.day > length) return false;
    }
    if (hour > 23 || parts.minute > 59 || parts.ms > 999) return false;
    if (parts.second > 60) return false;
    if (parts.second == 60 && !(hour == 23 && parts.minute == 59)) return false;
    KxTimestamp t;
    if (year >= 0) t.SetYear(static_cast<int16_t>(year));
    t.SetMonth(month);
    if (parts.day >= 0) t.SetDay(static_cast<int16_t>(parts.day));
    if (hour >= 0) t.SetHour(static_cast<int16_t>(hour));
    if (parts.minute >= 0) t.SetMinute(static_cast<int16_t>(parts.minute));
    if (parts.second >= 0) t.SetSecond(static_cast<int16_t>(parts.second));
    if (parts.ms >= 0) t.SetMilliseconds(static_cast<int16_t>(parts.ms));
    out = t;
    return true;
}

} // namespace

KxTimestamp KxTimestampFormat::UnfilterTimestamp(const char* pText) const {
    KX_TRY
        if (pText == nullptr) KxGenerateException("null pointer: pText", kFormat);
        TextReader in(pText, m_format.GetCString());
        ParsedParts parts;
        // Blanks before the text, unless the format itself starts with one.
        if (m_pieces.empty() || m_pieces[0].literal.GetCString()[0] != ' ') in.SkipBlanks();
        for (const Piece& piece : m_pieces) {
            in.Literal(piece.literal);
            if (piece.hasConversion) ReadConversion(piece.conversion, in, parts);
        }
        in.SkipBlanks();
        if (!in.AtEnd()) in.NotProduced();
        KxTimestamp result;
        if (!Assemble(parts, result))
            KxGenerateException("The string, \"%s\", interpreted according to the filter, \"%s\", "
                                "indicates an invalid date/time.",
                                kFormat, pText, m_format.GetCString());
        return result;
    KX_CATCH_STD("UnfilterTimestamp()", kFormat)
}

const KxTimestampFormat& KxGetDefaultDateFormat() {
    static const KxTimestampFormat format("%M %d, %y");
    return format;
}

const KxTimestampFormat& KxGetDefaultTimeFormat() {
    static const KxTimestampFormat format("%h:%02n:%02s %p");
    return format;
}
