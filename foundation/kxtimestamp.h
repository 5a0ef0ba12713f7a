// Calendar dates and times of day to the millisecond. A timestamp keeps its value as the 17 digits
// YYYYMMDDhhmmssmmm, which is also its form in fixed-width text files; day numbers and millisecond
// counts are the binary forms. The calendar is the proleptic Gregorian one, years 1 to 9999.
#pragma once

#include <cstdint>

#include "kxexception.h"
#include "kxstring.h"

class KxInputStreamInterface;
class KxOutputStreamInterface;
class KxTimestampFormatter;

class KxTimestamp {
public:
    // The value of a new timestamp, and the blank value of timestamp fields: 0001-01-01 00:00.
    static constexpr const char* kxEmptyText = "00010101000000000";
    static constexpr int32_t kxTextLength = 17;
    // Day numbers count 1 January of year 1 as day 1; the last is 31 December 9999.
    static constexpr int32_t kxFirstDayNumber = 1;
    static constexpr int32_t kxLastDayNumber = 3652059;
    static constexpr uint32_t kxMillisecondsPerDay = 86400000;

    KxTimestamp();
    KxTimestamp(const KxTimestamp& other);
    KxTimestamp& operator=(const KxTimestamp& other);
    virtual ~KxTimestamp();
    virtual KxTimestamp* Clone() const;

    // The 17 digits, NUL-terminated; valid as long as the timestamp.
    const char* GetCString() const { return m_text; }
    KxString GetText() const;
    // Takes the first 17 characters; each part must pass its setter's check. A failure leaves
    // the timestamp unchanged.
    void SetCString(const char* pText);
    bool IsEmpty() const;

    int16_t GetYear() const;
    int16_t GetMonth() const;
    int16_t GetDay() const;
    int16_t GetHour() const;
    int16_t GetMinute() const;
    int16_t GetSecond() const;
    int16_t GetMilliseconds() const;

    // Only upper bounds are checked (and negatives refused), so "00" may be stored as a month or
    // day: a zero date stays storable. Such a date has no day number and no weekday.
    void SetYear(int16_t year);       // 0..9999; 29 February becomes 28 in a common year
    void SetMonth(int16_t month);     // 0..12; a day beyond the month's table length is cut to it
    void SetDay(int16_t day);         // 0..the month's table length; 31 in month 0
    void SetHour(int16_t hour);       // 0..23
    void SetMinute(int16_t minute);   // 0..59
    void SetSecond(int16_t second);   // 0..59; 60 at 23:59 (a leap second)
    void SetMilliseconds(int16_t ms); // 0..999

    int32_t GetJulianDayFromCalendarStart() const;
    // The exact inverse of GetJulianDayFromCalendarStart; the time of day is unchanged.
    void SetJulianDayFromCalendarStart(int32_t lDay);
    // Counts of 86400000 to 86400999 are the leap second 23:59:60.
    uint32_t GetTimeInMilliseconds() const;
    void SetTimeInMilliseconds(uint32_t ulMilliseconds);
    // 0 Sunday to 6 Saturday.
    int16_t GetDayOfWeek() const;

    // Each carries into the next larger unit and from hours into the date. A failure (the date
    // leaving the calendar, a zero date) leaves the timestamp unchanged.
    void AddMilliseconds(int32_t lAmount);
    void AddSeconds(int32_t lAmount);
    void AddMinutes(int32_t lAmount);
    void AddHours(int32_t lAmount);

    // The current time in UTC.
    void Now(bool noMilliseconds = false);

    // The stored form: unsigned 32-bit day number, then unsigned 32-bit time of day. A failed
    // read leaves the timestamp unchanged.
    void Write(KxOutputStreamInterface& stream) const;
    void Read(KxInputStreamInterface& stream);

    // Chronological, which for the fixed-width digits is the order of the texts.
    int CompareTo(const KxTimestamp& other) const;
    bool operator==(const KxTimestamp& other) const { return CompareTo(other) == 0; }
    bool operator!=(const KxTimestamp& other) const { return CompareTo(other) != 0; }
    bool operator<(const KxTimestamp& other) const { return CompareTo(other) < 0; }
    bool operator<=(const KxTimestamp& other) const { return CompareTo(other) <= 0; }
    bool operator>(const KxTimestamp& other) const { return CompareTo(other) > 0; }
    bool operator>=(const KxTimestamp& other) const { return CompareTo(other) >= 0; }

    static bool IsLeapYear(int32_t year);
    // From the fixed table (February 29); 0 for a month outside 1..12.
    static int16_t GetMonthLength(int16_t month);
    // The real length, February 28 in a common year; 0 for a month outside 1..12.
    static int16_t GetDaysInMonth(int16_t month, int32_t year);

private:
    friend class KxDate;

    int32_t Digits(int offset, int width) const;
    void PutDigits(int offset, int width, int32_t value);
    void SetDayNumber(int64_t day);
    void Restore(const char* saved);

    char m_text[kxTextLength + 1];
};

// A date: the date part of its timestamp.
class KxDate {
public:
    KxDate() = default;
    explicit KxDate(const KxTimestamp& timestamp) : m_timestamp(timestamp) {}
    KxDate(const KxDate& other) = default;
    KxDate& operator=(const KxDate& other) = default;
    virtual ~KxDate() = default;
    virtual KxDate* Clone() const;

    const KxTimestamp& GetTimestamp() const { return m_timestamp; }
    KxTimestamp& GetTimestamp() { return m_timestamp; }

    // The 8 digits YYYYMMDD.
    KxString GetText() const;
    // Takes the first 8 characters; checked as the setters check. The time part is untouched.
    void SetCString(const char* pText);

    int16_t GetYear() const { return m_timestamp.GetYear(); }
    int16_t GetMonth() const { return m_timestamp.GetMonth(); }
    int16_t GetDay() const { return m_timestamp.GetDay(); }
    void SetYear(int16_t year);
    void SetMonth(int16_t month);
    void SetDay(int16_t day);
    int32_t GetJulianDayFromCalendarStart() const;
    void SetJulianDayFromCalendarStart(int32_t lDay);
    int16_t GetDayOfWeek() const;
    void Now();

    // The stored form: the unsigned 32-bit day number.
    void Write(KxOutputStreamInterface& stream) const;
    void Read(KxInputStreamInterface& stream);

    // By date only.
    int CompareTo(const KxDate& other) const;
    bool operator==(const KxDate& other) const { return CompareTo(other) == 0; }
    bool operator!=(const KxDate& other) const { return CompareTo(other) != 0; }
    bool operator<(const KxDate& other) const { return CompareTo(other) < 0; }

private:
    KxTimestamp m_timestamp;
};

// A time of day: the time part of its timestamp.
class KxTime {
public:
    KxTime() = default;
    explicit KxTime(const KxTimestamp& timestamp) : m_timestamp(timestamp) {}
    KxTime(const KxTime& other) = default;
    KxTime& operator=(const KxTime& other) = default;
    virtual ~KxTime() = default;
    virtual KxTime* Clone() const;

    const KxTimestamp& GetTimestamp() const { return m_timestamp; }
    KxTimestamp& GetTimestamp() { return m_timestamp; }

    // The 9 digits hhmmssmmm (characters 8 to 16 of the timestamp text), NUL-terminated.
    const char* GetCString() const { return m_timestamp.GetCString() + 8; }
    // Takes the first 9 characters; checked as the setters check. The date part is untouched.
    void SetCString(const char* pText);

    int16_t GetHour() const { return m_timestamp.GetHour(); }
    int16_t GetMinute() const { return m_timestamp.GetMinute(); }
    int16_t GetSecond() const { return m_timestamp.GetSecond(); }
    int16_t GetMilliseconds() const { return m_timestamp.GetMilliseconds(); }
    void SetHour(int16_t hour);
    void SetMinute(int16_t minute);
    void SetSecond(int16_t second);
    void SetMilliseconds(int16_t ms);
    uint32_t GetTimeInMilliseconds() const { return m_timestamp.GetTimeInMilliseconds(); }
    void SetTimeInMilliseconds(uint32_t ulMilliseconds);
    void Now(bool noMilliseconds = false);

    // Parses the text with the formatter, or with the default time format when it is null.
    // A failure leaves the time unchanged.
    void SetTime(const char* pText, const KxTimestampFormatter* pFilter = nullptr);

    // The stored form: the unsigned 32-bit time of day in milliseconds.
    void Write(KxOutputStreamInterface& stream) const;
    void Read(KxInputStreamInterface& stream);

    // By time of day only.
    int CompareTo(const KxTime& other) const;
    bool operator==(const KxTime& other) const { return CompareTo(other) == 0; }
    bool operator!=(const KxTime& other) const { return CompareTo(other) != 0; }
    bool operator<(const KxTime& other) const { return CompareTo(other) < 0; }

private:
    KxTimestamp m_timestamp;
};

// Append the value rendered with the default date or time format.
KxString& operator<<(KxString& s, const KxDate& date);
KxString& operator<<(KxString& s, const KxTime& time);
