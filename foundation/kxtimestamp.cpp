#include "kxtimestamp.h"

#include <cstdio>
#include <cstring>

#include "kxplatform_time.h"
#include "kxstream.h"
#include "kxtimestampformat.h"

namespace {

constexpr const char* kTimestamp = "KxTimestamp";

// Offsets and widths of the parts in the text.
constexpr int kYear = 0, kMonth = 4, kDay = 6, kHour = 8, kMinute = 10, kSecond = 12, kMs = 14;

constexpr int16_t kMonthLength[12] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
constexpr int32_t kDaysBeforeMonth[12] = {0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334};

constexpr int32_t kDaysIn400Years = 146097, kDaysIn100Years = 36524, kDaysIn4Years = 1461;

// Splits t into t mod n in 0..n-1 and the carry, rounding toward minus infinity.
int64_t FloorSplit(int64_t t, int64_t n, int64_t* remainder) {
    if (t >= 0) {
        *remainder = t % n;
        return t / n;
    }
    *remainder = ((t % n) + n) % n;
    return (t + 1) / n - 1;
}

// The first characters of a text that failed a check, short enough for a message.
KxString Excerpt(const char* pText, int width) {
    char buffer[32];
    snprintf(buffer, sizeof buffer, "%.*s", width, pText);
    return KxString(buffer);
}

bool AllDigits(const char* pText, int count) {
    for (int i = 0; i < count; ++i)
        if (pText[i] < '0' || pText[i] > '9') return false;
    return true;
}

} // namespace

// ---------------------------------------------------------------------------------------------
// KxTimestamp

KxTimestamp::KxTimestamp() { memcpy(m_text, kxEmptyText, sizeof m_text); }

KxTimestamp::KxTimestamp(const KxTimestamp& other) { memcpy(m_text, other.m_text, sizeof m_text); }

KxTimestamp& KxTimestamp::operator=(const KxTimestamp& other) {
    memmove(m_text, other.m_text, sizeof m_text);
    return *this;
}

KxTimestamp::~KxTimestamp() = default;

KxTimestamp* KxTimestamp::Clone() const { return new KxTimestamp(*this); }

KxString KxTimestamp::GetText() const { return KxString(m_text); }

void KxTimestamp::SetCString(const char* pText) {
    KX_TRY
        if (pText == nullptr) KxGenerateException("null pointer: pText", kTimestamp);
        if (strnlen(pText, kxTextLength) < kxTextLength || !AllDigits(pText, kxTextLength))
            KxGenerateException("\"%s\" is not a timestamp; 17 digits are needed", kTimestamp,
                                Excerpt(pText, kxTextLength).GetCString());
        // Each part through its setter, on a copy, so that every check is the setter's own.
        KxTimestamp t;
        t.SetYear(static_cast<int16_t>((pText[0] - '0') * 1000 + (pText[1] - '0') * 100 +
                                       (pText[2] - '0') * 10 + (pText[3] - '0')));
        auto two = [pText](int at) {
            return static_cast<int16_t>((pText[at] - '0') * 10 + (pText[at + 1] - '0'));
        };
        t.SetMonth(two(kMonth));
        t.SetDay(two(kDay));
        t.SetHour(two(kHour));
        t.SetMinute(two(kMinute));
        t.SetSecond(two(kSecond));
        t.SetMilliseconds(static_cast<int16_t>((pText[kMs] - '0') * 100 +
                                               (pText[kMs + 1] - '0') * 10 +
                                               (pText[kMs + 2] - '0')));
        *this = t;
    KX_CATCH("SetCString()", kTimestamp)
}

bool KxTimestamp::IsEmpty() const { return memcmp(m_text, kxEmptyText, kxTextLength) == 0; }

int32_t KxTimestamp::Digits(int offset, int width) const {
    int32_t value = 0;
    for (int i = 0; i < width; ++i) value = value * 10 + (m_text[offset + i] - '0');
    return value;
}

void KxTimestamp::PutDigits(int offset, int width, int32_t value) {
    for (int i = width - 1; i >= 0; --i, value /= 10)
        m_text[offset + i] = static_cast<char>('0' + value % 10);
}

void KxTimestamp::Restore(const char* saved) { memcpy(m_text, saved, sizeof m_text); }

int16_t KxTimestamp::GetYear() const { return static_cast<int16_t>(Digits(kYear, 4)); }
int16_t KxTimestamp::GetMonth() const { return static_cast<int16_t>(Digits(kMonth, 2)); }
int16_t KxTimestamp::GetDay() const { return static_cast<int16_t>(Digits(kDay, 2)); }
int16_t KxTimestamp::GetHour() const { return static_cast<int16_t>(Digits(kHour, 2)); }
int16_t KxTimestamp::GetMinute() const { return static_cast<int16_t>(Digits(kMinute, 2)); }
int16_t KxTimestamp::GetSecond() const { return static_cast<int16_t>(Digits(kSecond, 2)); }
int16_t KxTimestamp::GetMilliseconds() const { return static_cast<int16_t>(Digits(kMs, 3)); }

bool KxTimestamp::IsLeapYear(int32_t year) {
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int16_t KxTimestamp::GetMonthLength(int16_t month) {
    return month >= 1 && month <= 12 ? kMonthLength[month - 1] : 0;
}

int16_t KxTimestamp::GetDaysInMonth(int16_t month, int32_t year) {
    if (month == 2 && !IsLeapYear(year)) return 28;
    return GetMonthLength(month);
}

void KxTimestamp::SetYear(int16_t year) {
    KX_TRY
        if (year > 9999)
            KxGenerateException("%hd is too large; 9999 is the maximum year", kTimestamp, year);
        if (year < 0) KxGenerateException("%hd is not a valid year", kTimestamp, year);
        PutDigits(kYear, 4, year);
        if (GetMonth() == 2 && GetDay() == 29 && !IsLeapYear(year)) PutDigits(kDay, 2, 28);
    KX_CATCH("SetYear()", kTimestamp)
}

void KxTimestamp::SetMonth(int16_t month) {
    KX_TRY
        if (month > 12 || month < 0)
            KxGenerateException("%hd is not a valid month", kTimestamp, month);
        PutDigits(kMonth, 2, month);
        // Month 0 has no length; its day is left alone so that a zero date stays as stored.
        int16_t length = GetMonthLength(month);
        if (length != 0 && GetDay() > length) PutDigits(kDay, 2, length);
    KX_CATCH("SetMonth()", kTimestamp)
}

void KxTimestamp::SetDay(int16_t day) {
    KX_TRY
        int16_t month = GetMonth();
        int16_t length = month == 0 ? 31 : GetMonthLength(month);
        if (day > length || day < 0)
            KxGenerateException("%hd is not a valid day in month %hd", kTimestamp, day, month);
        PutDigits(kDay, 2, day);
    KX_CATCH("SetDay()", kTimestamp)
}

void KxTimestamp::SetHour(int16_t hour) {
    KX_TRY
        if (hour > 23 || hour < 0) KxGenerateException("%hd is not a valid hour", kTimestamp, hour);
        PutDigits(kHour, 2, hour);
        // A leap second exists only at 23:59.
        if (GetSecond() > 59 && !(hour == 23 && GetMinute() == 59)) PutDigits(kSecond, 2, 59);
    KX_CATCH("SetHour()", kTimestamp)
}

void KxTimestamp::SetMinute(int16_t minute) {
    KX_TRY
        if (minute >= 60 || minute < 0)
            KxGenerateException("%hd is not a valid minute", kTimestamp, minute);
        PutDigits(kMinute, 2, minute);
        if (GetSecond() > 59 && !(GetHour() == 23 && minute == 59)) PutDigits(kSecond, 2, 59);
    KX_CATCH("SetMinute()", kTimestamp)
}

void KxTimestamp::SetSecond(int16_t second) {
    KX_TRY
        // One leap second at most: a larger value would not be a time at all.
        bool leap = second == 60 && GetHour() == 23 && GetMinute() == 59;
        if ((second >= 60 && !leap) || second < 0)
            KxGenerateException("%hd is not a valid second", kTimestamp, second);
        PutDigits(kSecond, 2, second);
    KX_CATCH("SetSecond()", kTimestamp)
}

void KxTimestamp::SetMilliseconds(int16_t ms) {
    KX_TRY
        if (ms >= 1000 || ms < 0)
            KxGenerateException("%hd is not a valid millisecond", kTimestamp, ms);
        PutDigits(kMs, 3, ms);
    KX_CATCH("SetMilliseconds()", kTimestamp)
}

int32_t KxTimestamp::GetJulianDayFromCalendarStart() const {
    KX_TRY
        int32_t y = GetYear(), m = GetMonth(), d = GetDay();
        if (y == 0 || m == 0 || d == 0)
            KxGenerateException("The date %04d-%02d-%02d is incomplete and has no day number",
                                kTimestamp, y, m, d);
        int32_t n = (y - 1) * 365 + kDaysBeforeMonth[m - 1] + d;
        int32_t e = y - 1 + (m > 2 ? 1 : 0);
        return n + e / 4 - e / 100 + e / 400;
    KX_CATCH("GetJulianDayFromCalendarStart()", kTimestamp)
}

void KxTimestamp::SetJulianDayFromCalendarStart(int32_t lDay) {
    KX_TRY
        SetDayNumber(lDay);
    KX_CATCH("SetJulianDayFromCalendarStart()", kTimestamp)
}

// Taken wide, so that an addition that overflows a day number is still seen to be out of range.
void KxTimestamp::SetDayNumber(int64_t day) {
    if (day < kxFirstDayNumber || day > kxLastDayNumber)
        KxGenerateException("%lld is not a valid day number; the calendar is from %d to %d",
                            kTimestamp, static_cast<long long>(day), kxFirstDayNumber,
                            kxLastDayNumber);
    int32_t rest = static_cast<int32_t>(day) - 1;
    int32_t cycles = rest / kDaysIn400Years;
    rest %= kDaysIn400Years;
    // The last day of a 400-year cycle and of a 4-year cycle belong to the leap year before.
    int32_t centuries = rest / kDaysIn100Years;
    if (centuries == 4) centuries = 3;
    rest -= centuries * kDaysIn100Years;
    int32_t fours = rest / kDaysIn4Years;
    rest %= kDaysIn4Years;
    int32_t years = rest / 365;
    if (years == 4) years = 3;
    rest -= years * 365;
    int32_t year = cycles * 400 + centuries * 100 + fours * 4 + years + 1;
    int32_t leap = IsLeapYear(year) ? 1 : 0;
    int32_t month = 12;
    while (month > 1 && rest < kDaysBeforeMonth[month - 1] + (month > 2 ? leap : 0)) --month;
    int32_t dayOfMonth = rest - kDaysBeforeMonth[month - 1] - (month > 2 ? leap : 0) + 1;
    PutDigits(kYear, 4, year);
    PutDigits(kMonth, 2, month);
    PutDigits(kDay, 2, dayOfMonth);
}

uint32_t KxTimestamp::GetTimeInMilliseconds() const {
    return static_cast<uint32_t>(GetHour()) * 3600000u +
           static_cast<uint32_t>(GetMinute()) * 60000u +
           static_cast<uint32_t>(GetSecond()) * 1000u + static_cast<uint32_t>(GetMilliseconds());
}

void KxTimestamp::SetTimeInMilliseconds(uint32_t ulMilliseconds) {
    KX_TRY
        KxTimestamp t(*this);
        uint32_t rest = ulMilliseconds;
        if (rest >= kxMillisecondsPerDay && rest < kxMillisecondsPerDay + 1000) {
            t.SetHour(23);
            t.SetMinute(59);
            t.SetSecond(60);
            t.SetMilliseconds(static_cast<int16_t>(rest - kxMillisecondsPerDay));
        } else {
            // Beyond a day the hour fails its own check; 4294967295 ms is hour 1193.
            t.SetHour(static_cast<int16_t>(rest / 3600000u));
            rest %= 3600000u;
            t.SetMinute(static_cast<int16_t>(rest / 60000u));
            rest %= 60000u;
            t.SetSecond(static_cast<int16_t>(rest / 1000u));
            t.SetMilliseconds(static_cast<int16_t>(rest % 1000u));
        }
        *this = t;
    KX_CATCH("SetTimeInMilliseconds()", kTimestamp)
}

int16_t KxTimestamp::GetDayOfWeek() const {
    KX_TRY
        int32_t year = GetYear(), month = GetMonth(), day = GetDay();
        if (year == 0 || month == 0 || day == 0)
            KxGenerateException("The date %04d-%02d-%02d is incomplete and has no weekday",
                                kTimestamp, year, month, day);
        int32_t y = month > 2 ? year : year - 1;
        int32_t m = month > 2 ? month - 2 : month + 10;
        return static_cast<int16_t>((y + y / 4 - y / 100 + y / 400 + day + 31 * m / 12) % 7);
    KX_CATCH("GetDayOfWeek()", kTimestamp)
}

// Each add works on the text in place and restores it when anything on the way fails, so that
// a carry that cannot be taken leaves no part changed.
void KxTimestamp::AddMilliseconds(int32_t lAmount) {
    char saved[sizeof m_text];
    memcpy(saved, m_text, sizeof saved);
    try {
        int64_t ms;
        int64_t carry = FloorSplit(GetMilliseconds() + static_cast<int64_t>(lAmount), 1000, &ms);
        SetMilliseconds(static_cast<int16_t>(ms));
        if (carry != 0) AddSeconds(static_cast<int32_t>(carry));
    } catch (KxException& e) {
        Restore(saved);
        e.AddCallpath("AddMilliseconds()", kTimestamp);
        throw;
    }
}

void KxTimestamp::AddSeconds(int32_t lAmount) {
    char saved[sizeof m_text];
    memcpy(saved, m_text, sizeof saved);
    try {
        int64_t second;
        int64_t carry = FloorSplit(GetSecond() + static_cast<int64_t>(lAmount), 60, &second);
        PutDigits(kSecond, 2, static_cast<int32_t>(second));
        if (carry != 0) AddMinutes(static_cast<int32_t>(carry));
    } catch (KxException& e) {
        Restore(saved);
        e.AddCallpath("AddSeconds()", kTimestamp);
        throw;
    }
}

void KxTimestamp::AddMinutes(int32_t lAmount) {
    char saved[sizeof m_text];
    memcpy(saved, m_text, sizeof saved);
    try {
        int64_t minute;
        int64_t carry = FloorSplit(GetMinute() + static_cast<int64_t>(lAmount), 60, &minute);
        SetMinute(static_cast<int16_t>(minute));
        if (carry != 0) AddHours(static_cast<int32_t>(carry));
    } catch (KxException& e) {
        Restore(saved);
        e.AddCallpath("AddMinutes()", kTimestamp);
        throw;
    }
}

void KxTimestamp::AddHours(int32_t lAmount) {
    char saved[sizeof m_text];
    memcpy(saved, m_text, sizeof saved);
    try {
        int64_t hour;
        int64_t carry = FloorSplit(GetHour() + static_cast<int64_t>(lAmount), 24, &hour);
        SetHour(static_cast<int16_t>(hour));
        if (carry != 0) {
            int64_t day = GetJulianDayFromCalendarStart();
            try {
                SetDayNumber(day + carry);
            } catch (KxException& e) {
                e.AddCallpath("SetJulianDayFromCalendarStart()", kTimestamp);
                throw;
            }
        }
    } catch (KxException& e) {
        Restore(saved);
        e.AddCallpath("AddHours()", kTimestamp);
        throw;
    }
}

void KxTimestamp::Now(bool noMilliseconds) {
    KX_TRY
        kxplatform::SystemTime now;
        if (!kxplatform::GetSystemTimeUtc(now))
            KxGenerateSystemException("Cannot read the system time: ", false, "KxTime");
        KxTimestamp t;
        t.SetYear(static_cast<int16_t>(now.year));
        t.SetMonth(static_cast<int16_t>(now.month));
        t.SetDay(static_cast<int16_t>(now.day));
        t.SetHour(static_cast<int16_t>(now.hour));
        t.SetMinute(static_cast<int16_t>(now.minute));
        t.SetSecond(static_cast<int16_t>(now.second));
        t.SetMilliseconds(noMilliseconds ? 0 : static_cast<int16_t>(now.millisecond));
        *this = t;
    KX_CATCH("Now()", "KxTime")
}

void KxTimestamp::Write(KxOutputStreamInterface& stream) const {
    KX_TRY
        uint32_t day = static_cast<uint32_t>(GetJulianDayFromCalendarStart());
        uint32_t time = GetTimeInMilliseconds();
        stream.WriteUnsignedLong(day);
        stream.WriteUnsignedLong(time);
    KX_CATCH("Write()", kTimestamp)
}

void KxTimestamp::Read(KxInputStreamInterface& stream) {
    KX_TRY
        uint32_t day = stream.ReadUnsignedLong();
        uint32_t time = stream.ReadUnsignedLong();
        KxTimestamp t(*this);
        t.SetDayNumber(day);
        t.SetTimeInMilliseconds(time);
        *this = t;
    KX_CATCH("Read()", kTimestamp)
}

int KxTimestamp::CompareTo(const KxTimestamp& other) const {
    return memcmp(m_text, other.m_text, kxTextLength);
}

// ---------------------------------------------------------------------------------------------
// KxDate

namespace {
constexpr const char* kDate = "KxDate";
constexpr const char* kTime = "KxTime";
} // namespace

KxDate* KxDate::Clone() const { return new KxDate(*this); }

KxString KxDate::GetText() const {
    char text[9];
    memcpy(text, m_timestamp.GetCString(), 8);
    text[8] = '\0';
    return KxString(text);
}

void KxDate::SetCString(const char* pText) {
    KX_TRY
        if (pText == nullptr) KxGenerateException("null pointer: pText", kDate);
        if (strnlen(pText, 8) < 8 || !AllDigits(pText, 8))
            KxGenerateException("\"%s\" is not a date; 8 digits are needed", kDate,
                                Excerpt(pText, 8).GetCString());
        char text[KxTimestamp::kxTextLength + 1];
        memcpy(text, pText, 8);
        memcpy(text + 8, m_timestamp.GetCString() + 8, 10);
        m_timestamp.SetCString(text);
    KX_CATCH("SetCString()", kDate)
}

void KxDate::SetYear(int16_t year) {
    KX_TRY
        m_timestamp.SetYear(year);
    KX_CATCH("SetYear()", kDate)
}

void KxDate::SetMonth(int16_t month) {
    KX_TRY
        m_timestamp.SetMonth(month);
    KX_CATCH("SetMonth()", kDate)
}

void KxDate::SetDay(int16_t day) {
    KX_TRY
        m_timestamp.SetDay(day);
    KX_CATCH("SetDay()", kDate)
}

int32_t KxDate::GetJulianDayFromCalendarStart() const {
    KX_TRY
        return m_timestamp.GetJulianDayFromCalendarStart();
    KX_CATCH("GetJulianDayFromCalendarStart()", kDate)
}

void KxDate::SetJulianDayFromCalendarStart(int32_t lDay) {
    KX_TRY
        m_timestamp.SetJulianDayFromCalendarStart(lDay);
    KX_CATCH("SetJulianDayFromCalendarStart()", kDate)
}

int16_t KxDate::GetDayOfWeek() const {
    KX_TRY
        return m_timestamp.GetDayOfWeek();
    KX_CATCH("GetDayOfWeek()", kDate)
}

void KxDate::Now() {
    KX_TRY
        m_timestamp.Now(true);
    KX_CATCH("Now()", kDate)
}

void KxDate::Write(KxOutputStreamInterface& stream) const {
    KX_TRY
        uint32_t day = static_cast<uint32_t>(m_timestamp.GetJulianDayFromCalendarStart());
        stream.WriteUnsignedLong(day);
    KX_CATCH("Write()", kDate)
}

void KxDate::Read(KxInputStreamInterface& stream) {
    KX_TRY
        uint32_t day = stream.ReadUnsignedLong();
        m_timestamp.SetDayNumber(day);
    KX_CATCH("Read()", kDate)
}

int KxDate::CompareTo(const KxDate& other) const {
    return memcmp(m_timestamp.GetCString(), other.m_timestamp.GetCString(), 8);
}

KxString& operator<<(KxString& s, const KxDate& date) {
    KX_TRY
        char buffer[64];
        KxGetDefaultDateFormat().FilterTimestamp(date.GetTimestamp(), buffer, sizeof buffer);
        s.Append(buffer);
        return s;
    KX_CATCH("operator<<", kDate)
}

// ---------------------------------------------------------------------------------------------
// KxTime

KxTime* KxTime::Clone() const { return new KxTime(*this); }

void KxTime::SetCString(const char* pText) {
    KX_TRY
        if (pText == nullptr) KxGenerateException("null pointer: pText", kTime);
        if (strnlen(pText, 9) < 9 || !AllDigits(pText, 9))
            KxGenerateException("\"%s\" is not a time; 9 digits are needed", kTime,
                                Excerpt(pText, 9).GetCString());
        char text[KxTimestamp::kxTextLength + 1];
        memcpy(text, m_timestamp.GetCString(), 8);
        memcpy(text + 8, pText, 9);
        text[17] = '\0';
        m_timestamp.SetCString(text);
    KX_CATCH("SetCString()", kTime)
}

void KxTime::SetHour(int16_t hour) {
    KX_TRY
        m_timestamp.SetHour(hour);
    KX_CATCH("SetHour()", kTime)
}

void KxTime::SetMinute(int16_t minute) {
    KX_TRY
        m_timestamp.SetMinute(minute);
    KX_CATCH("SetMinute()", kTime)
}

void KxTime::SetSecond(int16_t second) {
    KX_TRY
        m_timestamp.SetSecond(second);
    KX_CATCH("SetSecond()", kTime)
}

void KxTime::SetMilliseconds(int16_t ms) {
    KX_TRY
        m_timestamp.SetMilliseconds(ms);
    KX_CATCH("SetMilliseconds()", kTime)
}

void KxTime::SetTimeInMilliseconds(uint32_t ulMilliseconds) {
    KX_TRY
        m_timestamp.SetTimeInMilliseconds(ulMilliseconds);
    KX_CATCH("SetTimeInMilliseconds()", kTime)
}

void KxTime::Now(bool noMilliseconds) { m_timestamp.Now(noMilliseconds); }

void KxTime::SetTime(const char* pText, const KxTimestampFormatter* pFilter) {
    KX_TRY
        const KxTimestampFormatter& filter =
            pFilter != nullptr ? *pFilter : static_cast<const KxTimestampFormatter&>(
                                                KxGetDefaultTimeFormat());
        m_timestamp = filter.UnfilterTimestamp(pText);
    KX_CATCH("SetTime", kTime)
}

void KxTime::Write(KxOutputStreamInterface& stream) const {
    KX_TRY
        stream.WriteUnsignedLong(m_timestamp.GetTimeInMilliseconds());
    KX_CATCH("Write()", kTime)
}

void KxTime::Read(KxInputStreamInterface& stream) {
    KX_TRY
        uint32_t time = stream.ReadUnsignedLong();
        m_timestamp.SetTimeInMilliseconds(time);
    KX_CATCH("Read()", kTime)
}

int KxTime::CompareTo(const KxTime& other) const {
    return memcmp(GetCString(), other.GetCString(), 9);
}

KxString& operator<<(KxString& s, const KxTime& time) {
    KX_TRY
        char buffer[64];
        KxGetDefaultTimeFormat().FilterTimestamp(time.GetTimestamp(), buffer, sizeof buffer);
        s.Append(buffer);
        return s;
    KX_CATCH("operator<<", kDate)
}
