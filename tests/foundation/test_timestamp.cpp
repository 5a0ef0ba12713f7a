#include <gtest/gtest.h>

#include <chrono>
#include <climits>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "kxmemstream.h"
#include "kxtimestamp.h"
#include "kxtimestampformat.h"

namespace {

KxTimestamp Stamp(const char* text) {
    KxTimestamp t;
    t.SetCString(text);
    return t;
}

struct Failure {
    std::string message, source, callpath;
};

// Runs f, which must raise a KxException, and returns what it carried.
Failure Catch(const std::function<void()>& f) {
    try {
        f();
    } catch (KxException& e) {
        return {e.GetErrorMessage(), e.GetSource(), e.GetCallpath()};
    }
    ADD_FAILURE() << "no exception";
    return {};
}

} // namespace

// ---------------------------------------------------------------------------------------------
// Day numbers over the whole calendar

// Every day of years 1 to 9999: the day number to the date, the date back to the day number, and
// the weekday, against a plain day-by-day walk of the calendar; the walk itself is checked
// against the standard library's proleptic Gregorian calendar on a sample of days.
TEST(KxTimestampCalendar, EveryDayAgreesWithAnIndependentWalk) {
    using namespace std::chrono;
    const sys_days first = sys_days{year{1} / January / 1};
    ASSERT_EQ((sys_days{year{9999} / December / 31} - first).count() + 1,
              KxTimestamp::kxLastDayNumber);
    int y = 1, m = 1, d = 1, weekday = 1; // 1 January of year 1 was a Monday
    KxTimestamp t = Stamp("00010101123456789");
    int mismatches = 0;
    std::string firstMismatch;
    char expected[9];
    for (int32_t n = 1; n <= KxTimestamp::kxLastDayNumber; ++n) {
        if (n % 97 == 1) {
            const year_month_day ymd{first + days{n - 1}};
            ASSERT_EQ(year_month_day(year{y}, month(static_cast<unsigned>(m)),
                                     day(static_cast<unsigned>(d))),
                      ymd) << "the walk itself is wrong at day " << n;
        }
        const int parts[8] = {y / 1000, y / 100 % 10, y / 10 % 10, y % 10,
                              m / 10,   m % 10,       d / 10,      d % 10};
        for (int i = 0; i < 8; ++i) expected[i] = static_cast<char>('0' + parts[i]);
        expected[8] = '\0';
        t.SetJulianDayFromCalendarStart(n);
        bool ok = memcmp(t.GetCString(), expected, 8) == 0 &&
                  t.GetJulianDayFromCalendarStart() == n && t.GetDayOfWeek() == weekday;
        if (!ok && mismatches++ == 0)
            firstMismatch = std::to_string(n) + ": " + expected + " -> " + t.GetCString();
        // The next day.
        bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
        int length = m == 2 ? (leap ? 29 : 28) : (m == 4 || m == 6 || m == 9 || m == 11) ? 30 : 31;
        weekday = (weekday + 1) % 7;
        if (++d > length) {
            d = 1;
            if (++m > 12) {
                m = 1;
                ++y;
            }
        }
    }
    EXPECT_EQ(y, 10000);
    EXPECT_EQ(mismatches, 0) << "first at day " << firstMismatch;
    EXPECT_STREQ(t.GetCString(), "99991231123456789") << "the time of day must not move";
}

TEST(KxTimestampCalendar, KnownDayNumbersAndWeekdays) {
    struct Case {
        const char* date;
        int32_t day;
        int16_t weekday;
    } cases[] = {
        {"00010101", 1, 1},        {"20000301", 730180, 3},   {"20040229", 731640, 0},
        {"19000301", 693655, 4},   {"20001231", 730485, 0},   {"20070914", 732933, 5},
        {"99991231", 3652059, 5},
    };
    for (const Case& c : cases) {
        KxTimestamp t = Stamp((std::string(c.date) + "000000000").c_str());
        EXPECT_EQ(t.GetJulianDayFromCalendarStart(), c.day) << c.date;
        EXPECT_EQ(t.GetDayOfWeek(), c.weekday) << c.date;
        KxTimestamp back;
        back.SetJulianDayFromCalendarStart(c.day);
        EXPECT_EQ(back.GetText(), t.GetText()) << c.date;
    }
}

// The setters allow 29 February in any year; its day number is that of 1 March.
TEST(KxTimestampCalendar, TwentyNinthOfFebruaryInACommonYearCountsAsFirstOfMarch) {
    KxTimestamp t = Stamp("20070331000000000");
    t.SetMonth(2);
    EXPECT_STREQ(t.GetCString(), "20070229000000000");
    EXPECT_EQ(t.GetJulianDayFromCalendarStart(),
              Stamp("20070301000000000").GetJulianDayFromCalendarStart());
}

TEST(KxTimestampCalendar, DayNumbersOutsideTheCalendarAreRefused) {
    for (int32_t n : {0, -1, INT32_MIN, KxTimestamp::kxLastDayNumber + 1, INT32_MAX}) {
        KxTimestamp t = Stamp("20070914101010100");
        Failure f = Catch([&] { t.SetJulianDayFromCalendarStart(n); });
        EXPECT_EQ(f.message, std::to_string(n) +
                                 " is not a valid day number; the calendar is from 1 to 3652059");
        EXPECT_EQ(f.source, "KxTimestamp");
        EXPECT_EQ(f.callpath, "SetJulianDayFromCalendarStart() of KxTimestamp");
        EXPECT_STREQ(t.GetCString(), "20070914101010100");
    }
}

TEST(KxTimestampCalendar, ZeroDateIsStorableButHasNoDayNumber) {
    KxTimestamp t = Stamp("00000000000000000");
    EXPECT_EQ(t.GetYear(), 0);
    Failure f = Catch([&] { t.GetJulianDayFromCalendarStart(); });
    EXPECT_EQ(f.message, "The date 0000-00-00 is incomplete and has no day number");
    EXPECT_EQ(f.callpath, "GetJulianDayFromCalendarStart() of KxTimestamp");
    f = Catch([&] { Stamp("20070014000000000").GetDayOfWeek(); });
    EXPECT_EQ(f.message, "The date 2007-00-14 is incomplete and has no weekday");
    EXPECT_EQ(f.callpath, "GetDayOfWeek() of KxTimestamp");
}

// ---------------------------------------------------------------------------------------------
// Text and setters

TEST(KxTimestampText, NewTimestampIsTheEmptyValue) {
    KxTimestamp t;
    EXPECT_STREQ(t.GetCString(), "00010101000000000");
    EXPECT_TRUE(t.IsEmpty());
    EXPECT_EQ(t.GetJulianDayFromCalendarStart(), 1);
    std::unique_ptr<KxTimestamp> copy(Stamp("20070914235960999").Clone());
    EXPECT_STREQ(copy->GetCString(), "20070914235960999");
    EXPECT_FALSE(copy->IsEmpty());
}

TEST(KxTimestampText, PartsReadFromTheDigits) {
    KxTimestamp t = Stamp("20070914134507089ignored");
    EXPECT_STREQ(t.GetCString(), "20070914134507089");
    EXPECT_EQ(t.GetYear(), 2007);
    EXPECT_EQ(t.GetMonth(), 9);
    EXPECT_EQ(t.GetDay(), 14);
    EXPECT_EQ(t.GetHour(), 13);
    EXPECT_EQ(t.GetMinute(), 45);
    EXPECT_EQ(t.GetSecond(), 7);
    EXPECT_EQ(t.GetMilliseconds(), 89);
    EXPECT_EQ(t.GetTimeInMilliseconds(), 13u * 3600000 + 45 * 60000 + 7 * 1000 + 89);
}

TEST(KxTimestampText, BadTextIsRefusedAndChangesNothing) {
    struct Case {
        const char* text;
        const char* message;
        const char* callpath;
    } cases[] = {
        {"2007091413450708", "\"2007091413450708\" is not a timestamp; 17 digits are needed",
         "SetCString() of KxTimestamp"},
        {"2007-09-14 13:45:07", "\"2007-09-14 13:45:\" is not a timestamp; 17 digits are needed",
         "SetCString() of KxTimestamp"},
        {"", "\"\" is not a timestamp; 17 digits are needed", "SetCString() of KxTimestamp"},
        {"20071314000000000", "13 is not a valid month",
         "SetMonth() of KxTimestamp\r\nSetCString() of KxTimestamp"},
        {"20070230000000000", "30 is not a valid day in month 2",
         "SetDay() of KxTimestamp\r\nSetCString() of KxTimestamp"},
        {"20070914240000000", "24 is not a valid hour",
         "SetHour() of KxTimestamp\r\nSetCString() of KxTimestamp"},
        {"20070914126000000", "60 is not a valid minute",
         "SetMinute() of KxTimestamp\r\nSetCString() of KxTimestamp"},
        {"20070914235860000", "60 is not a valid second",
         "SetSecond() of KxTimestamp\r\nSetCString() of KxTimestamp"},
        {"20070914235999000", "99 is not a valid second",
         "SetSecond() of KxTimestamp\r\nSetCString() of KxTimestamp"},
    };
    for (const Case& c : cases) {
        KxTimestamp t = Stamp("19991231235959999");
        Failure f = Catch([&] { t.SetCString(c.text); });
        EXPECT_EQ(f.message, c.message) << c.text;
        EXPECT_EQ(f.source, "KxTimestamp") << c.text;
        EXPECT_EQ(f.callpath, c.callpath) << c.text;
        EXPECT_STREQ(t.GetCString(), "19991231235959999") << c.text;
    }
    // A long text is quoted only as far as the timestamp would reach.
    std::string huge(10 * 1024 * 1024, 'x');
    KxTimestamp t;
    EXPECT_EQ(Catch([&] { t.SetCString(huge.c_str()); }).message,
              "\"xxxxxxxxxxxxxxxxx\" is not a timestamp; 17 digits are needed");
    EXPECT_EQ(Catch([&] { t.SetCString(nullptr); }).message, "null pointer: pText");
}

TEST(KxTimestampSetters, OutOfRangeValuesRaiseTheirMessageAndChangeNothing) {
    using Setter = void (KxTimestamp::*)(int16_t);
    struct Case {
        Setter setter;
        int16_t value;
        const char* message;
        const char* label;
    } cases[] = {
        {&KxTimestamp::SetYear, 10000, "10000 is too large; 9999 is the maximum year", "SetYear()"},
        {&KxTimestamp::SetYear, SHRT_MAX, "32767 is too large; 9999 is the maximum year",
         "SetYear()"},
        {&KxTimestamp::SetYear, -1, "-1 is not a valid year", "SetYear()"},
        {&KxTimestamp::SetMonth, 13, "13 is not a valid month", "SetMonth()"},
        {&KxTimestamp::SetMonth, -1, "-1 is not a valid month", "SetMonth()"},
        {&KxTimestamp::SetDay, 30, "30 is not a valid day in month 2", "SetDay()"},
        {&KxTimestamp::SetDay, SHRT_MIN, "-32768 is not a valid day in month 2", "SetDay()"},
        {&KxTimestamp::SetHour, 24, "24 is not a valid hour", "SetHour()"},
        {&KxTimestamp::SetMinute, 60, "60 is not a valid minute", "SetMinute()"},
        {&KxTimestamp::SetSecond, 60, "60 is not a valid second", "SetSecond()"},
        {&KxTimestamp::SetSecond, -5, "-5 is not a valid second", "SetSecond()"},
        {&KxTimestamp::SetMilliseconds, 1000, "1000 is not a valid millisecond",
         "SetMilliseconds()"},
    };
    for (const Case& c : cases) {
        KxTimestamp t = Stamp("20040229120000500");
        Failure f = Catch([&] { (t.*c.setter)(c.value); });
        EXPECT_EQ(f.message, c.message);
        EXPECT_EQ(f.source, "KxTimestamp") << c.message;
        EXPECT_EQ(f.callpath, std::string(c.label) + " of KxTimestamp") << c.message;
        EXPECT_STREQ(t.GetCString(), "20040229120000500") << c.message;
    }
}

TEST(KxTimestampSetters, DayIsCutToTheNewMonthOrYear) {
    struct Case {
        const char* start;
        void (KxTimestamp::*setter)(int16_t);
        int16_t value;
        const char* expected;
    } cases[] = {
        {"20040229000000000", &KxTimestamp::SetYear, 2007, "20070228000000000"},
        {"20040229000000000", &KxTimestamp::SetYear, 2000, "20000229000000000"},
        {"20040229000000000", &KxTimestamp::SetYear, 1900, "19000228000000000"},
        {"20070331000000000", &KxTimestamp::SetMonth, 4, "20070430000000000"},
        {"20070331000000000", &KxTimestamp::SetMonth, 2, "20070229000000000"},
        {"20070315000000000", &KxTimestamp::SetMonth, 2, "20070215000000000"},
        // Month 0 has no length, so its day stays as stored.
        {"20070331000000000", &KxTimestamp::SetMonth, 0, "20070031000000000"},
        {"20070000000000000", &KxTimestamp::SetDay, 31, "20070031000000000"},
    };
    for (const Case& c : cases) {
        KxTimestamp t = Stamp(c.start);
        (t.*c.setter)(c.value);
        EXPECT_STREQ(t.GetCString(), c.expected) << c.start;
    }
}

TEST(KxTimestampSetters, LeapSecondOnlyAtTheLastMinuteOfTheDay) {
    KxTimestamp t = Stamp("20071231235900000");
    t.SetSecond(60);
    EXPECT_STREQ(t.GetCString(), "20071231235960000");
    EXPECT_EQ(t.GetTimeInMilliseconds(), KxTimestamp::kxMillisecondsPerDay);
    EXPECT_EQ(Catch([&] { t.SetSecond(61); }).message, "61 is not a valid second");
    // Leaving 23:59 takes the leap second back to 59, as a short month cuts the day.
    t.SetMinute(58);
    EXPECT_STREQ(t.GetCString(), "20071231235859000");
    t = Stamp("20071231235960000");
    t.SetHour(0);
    EXPECT_STREQ(t.GetCString(), "20071231005959000");
}

TEST(KxTimestampSetters, TimeInMillisecondsRoundTripsAndRefusesMoreThanADay) {
    for (uint32_t ms : {0u, 1u, 999u, 3600000u, 45296789u, 86399999u, 86400000u, 86400999u}) {
        KxTimestamp t = Stamp("20071231000000000");
        t.SetTimeInMilliseconds(ms);
        EXPECT_EQ(t.GetTimeInMilliseconds(), ms);
        EXPECT_EQ(std::string(t.GetCString(), 8), "20071231");
    }
    KxTimestamp t = Stamp("20070914101010100");
    Failure f = Catch([&] { t.SetTimeInMilliseconds(86401000u); });
    EXPECT_EQ(f.message, "24 is not a valid hour");
    EXPECT_EQ(f.callpath, "SetHour() of KxTimestamp\r\nSetTimeInMilliseconds() of KxTimestamp");
    EXPECT_EQ(Catch([&] { t.SetTimeInMilliseconds(UINT32_MAX); }).message,
              "1193 is not a valid hour");
    EXPECT_STREQ(t.GetCString(), "20070914101010100");
}

// ---------------------------------------------------------------------------------------------
// Arithmetic

TEST(KxTimestampAdd, CarriesThroughEveryUnitAndTheCalendar) {
    enum Unit { Ms, Sec, Min, Hour };
    struct Case {
        const char* start;
        Unit unit;
        int32_t amount;
        const char* expected;
    } cases[] = {
        {"20070101003000000", Hour, -1, "20061231233000000"},
        {"20071231235959000", Ms, 1500, "20080101000000500"},
        {"20040228230000000", Hour, 1, "20040229000000000"},
        {"19000228230000000", Hour, 1, "19000301000000000"},
        {"20000101000000000", Ms, -1, "19991231235959999"},
        {"20000101000000000", Sec, -86400, "19991231000000000"},
        {"20000101000000000", Min, -1441, "19991230235900000"},
        {"20070914101010100", Ms, 0, "20070914101010100"},
        {"20070914101010100", Sec, 59, "20070914101109100"},
        {"20070914101010100", Min, -10, "20070914100010100"},
        {"20070914101010100", Hour, 24 * 365, "20080913101010100"},
        // The largest amounts of each unit, forward and back.
        {"20000101000000000", Ms, INT32_MAX, "20000125203123647"},
        {"20000101000000000", Ms, INT32_MIN, "19991207032836352"},
        {"20000101000000000", Sec, INT32_MAX, "20680119031407000"},
        {"20000101000000000", Min, INT32_MIN, "00000000000000000"},
    };
    for (const Case& c : cases) {
        KxTimestamp t = Stamp(c.start);
        if (std::string(c.expected) == "00000000000000000") {
            // Four thousand years back leaves the calendar.
            EXPECT_THROW(t.AddMinutes(c.amount), KxException);
            EXPECT_STREQ(t.GetCString(), c.start);
            continue;
        }
        switch (c.unit) {
        case Ms: t.AddMilliseconds(c.amount); break;
        case Sec: t.AddSeconds(c.amount); break;
        case Min: t.AddMinutes(c.amount); break;
        case Hour: t.AddHours(c.amount); break;
        }
        EXPECT_STREQ(t.GetCString(), c.expected) << c.start << " + " << c.amount;
    }
}

TEST(KxTimestampAdd, LeavingTheCalendarFailsAlongTheCarryPathAndChangesNothing) {
    KxTimestamp t = Stamp("99991231235959999");
    Failure f = Catch([&] { t.AddMilliseconds(1); });
    EXPECT_EQ(f.message, "3652060 is not a valid day number; the calendar is from 1 to 3652059");
    EXPECT_EQ(f.source, "KxTimestamp");
    EXPECT_EQ(f.callpath, "SetJulianDayFromCalendarStart() of KxTimestamp\r\n"
                          "AddHours() of KxTimestamp\r\nAddMinutes() of KxTimestamp\r\n"
                          "AddSeconds() of KxTimestamp\r\nAddMilliseconds() of KxTimestamp");
    EXPECT_STREQ(t.GetCString(), "99991231235959999");

    t = Stamp("00010101000000000");
    f = Catch([&] { t.AddSeconds(-1); });
    EXPECT_EQ(f.message, "0 is not a valid day number; the calendar is from 1 to 3652059");
    EXPECT_STREQ(t.GetCString(), "00010101000000000");
}

TEST(KxTimestampAdd, ZeroDateMovesWithinItsDayButNotAcrossIt) {
    KxTimestamp t = Stamp("00000000230000000");
    t.AddMinutes(59);
    EXPECT_STREQ(t.GetCString(), "00000000235900000");
    Failure f = Catch([&] { t.AddMinutes(1); });
    EXPECT_EQ(f.message, "The date 0000-00-00 is incomplete and has no day number");
    EXPECT_EQ(f.callpath, "GetJulianDayFromCalendarStart() of KxTimestamp\r\n"
                          "AddHours() of KxTimestamp\r\nAddMinutes() of KxTimestamp");
    EXPECT_STREQ(t.GetCString(), "00000000235900000");
}

// ---------------------------------------------------------------------------------------------
// System time

TEST(KxTimestampNow, MatchesTheSystemClockInUtc) {
    using namespace std::chrono;
    KxTimestamp t;
    t.Now();
    const sys_days today = floor<days>(system_clock::now());
    const int32_t expected =
        static_cast<int32_t>((today - sys_days{year{1} / January / 1}).count()) + 1;
    // Around midnight the clock may have moved on by a day.
    int32_t day = t.GetJulianDayFromCalendarStart();
    EXPECT_TRUE(day == expected || day + 1 == expected) << t.GetCString();
    t.Now(true);
    EXPECT_EQ(t.GetMilliseconds(), 0);
    KxTime time;
    time.Now(true);
    EXPECT_EQ(time.GetMilliseconds(), 0);
    KxDate date;
    date.Now();
    EXPECT_GE(date.GetYear(), 2024);
}

// ---------------------------------------------------------------------------------------------
// Stream forms

TEST(KxTimestampStream, DayNumberThenTimeOfDayLittleEndian) {
    KxMemoryStream stream;
    Stamp("20000301000000500").Write(stream);
    KxDate(Stamp("20000301000000500")).Write(stream);
    KxTime(Stamp("20000301000000500")).Write(stream);
    // 730180 = 0x000B2444; 500 = 0x01F4.
    const unsigned char expected[] = {0x44, 0x24, 0x0B, 0x00, 0xF4, 0x01, 0x00, 0x00,
                                      0x44, 0x24, 0x0B, 0x00, 0xF4, 0x01, 0x00, 0x00};
    ASSERT_EQ(stream.GetSize(), sizeof expected);
    EXPECT_EQ(memcmp(stream.GetData(), expected, sizeof expected), 0);

    stream.Rewind();
    KxTimestamp t;
    t.Read(stream);
    EXPECT_STREQ(t.GetCString(), "20000301000000500");
    KxDate date(Stamp("19990101235959999"));
    date.Read(stream);
    EXPECT_STREQ(date.GetTimestamp().GetCString(), "20000301235959999");
    KxTime time(Stamp("19990101235959999"));
    time.Read(stream);
    EXPECT_STREQ(time.GetTimestamp().GetCString(), "19990101000000500");
}

TEST(KxTimestampStream, CorruptOrShortInputChangesNothing) {
    struct Case {
        std::vector<unsigned char> bytes;
        const char* message;
    } cases[] = {
        {{0, 0, 0, 0, 0, 0, 0, 0},
         "0 is not a valid day number; the calendar is from 1 to 3652059"},
        {{0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0},
         "4294967295 is not a valid day number; the calendar is from 1 to 3652059"},
        {{1, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF}, "1193 is not a valid hour"},
        {{1, 0, 0, 0, 0}, nullptr},
    };
    for (const Case& c : cases) {
        KxMemoryStream stream(c.bytes.data(), static_cast<uint32_t>(c.bytes.size()));
        KxTimestamp t = Stamp("20070914101010100");
        Failure f = Catch([&] { t.Read(stream); });
        if (c.message != nullptr) {
            EXPECT_EQ(f.message, c.message);
        }
        EXPECT_TRUE(f.callpath.ends_with("Read() of KxTimestamp")) << f.callpath;
        EXPECT_STREQ(t.GetCString(), "20070914101010100");
    }
    KxMemoryStream stream;
    Failure f = Catch([&] { KxDate(Stamp("00000000000000000")).Write(stream); });
    EXPECT_EQ(f.callpath,
              "GetJulianDayFromCalendarStart() of KxTimestamp\r\nWrite() of KxDate");
    EXPECT_EQ(stream.GetSize(), 0u);
}

// ---------------------------------------------------------------------------------------------
// KxDate and KxTime

TEST(KxDateTime, TextsAndSettersCoverOnlyTheirOwnPart) {
    KxDate date(Stamp("20070914101010100"));
    EXPECT_EQ(date.GetText(), "20070914");
    date.SetCString("19000301xyz");
    EXPECT_STREQ(date.GetTimestamp().GetCString(), "19000301101010100");
    Failure f = Catch([&] { date.SetCString("1900-3-1"); });
    EXPECT_EQ(f.message, "\"1900-3-1\" is not a date; 8 digits are needed");
    EXPECT_EQ(f.source, "KxDate");
    f = Catch([&] { date.SetCString("19001301"); });
    EXPECT_EQ(f.message, "13 is not a valid month");
    EXPECT_EQ(f.callpath, "SetMonth() of KxTimestamp\r\nSetCString() of KxTimestamp\r\n"
                          "SetCString() of KxDate");
    f = Catch([&] { date.SetDay(32); });
    EXPECT_EQ(f.callpath, "SetDay() of KxTimestamp\r\nSetDay() of KxDate");
    EXPECT_STREQ(date.GetTimestamp().GetCString(), "19000301101010100");

    KxTime time(Stamp("20070914101010100"));
    EXPECT_STREQ(time.GetCString(), "101010100");
    time.SetCString("235960999");
    EXPECT_STREQ(time.GetTimestamp().GetCString(), "20070914235960999");
    f = Catch([&] { time.SetCString("12:00"); });
    EXPECT_EQ(f.message, "\"12:00\" is not a time; 9 digits are needed");
    f = Catch([&] { time.SetHour(25); });
    EXPECT_EQ(f.callpath, "SetHour() of KxTimestamp\r\nSetHour() of KxTime");
    EXPECT_STREQ(time.GetCString(), "235960999");

    std::unique_ptr<KxDate> dateCopy(date.Clone());
    std::unique_ptr<KxTime> timeCopy(time.Clone());
    EXPECT_EQ(*dateCopy, date);
    EXPECT_EQ(*timeCopy, time);
    EXPECT_TRUE(KxDate(Stamp("20070914235959999")) < KxDate(Stamp("20070915000000000")));
    EXPECT_TRUE(KxTime(Stamp("20070915000000000")) < KxTime(Stamp("20070914235959999")));
}

TEST(KxDateTime, AppendRendersWithTheDefaultFormats) {
    KxString s("On ");
    s << KxDate(Stamp("20070914140509000")) << " at " << KxTime(Stamp("20070914140509000"));
    EXPECT_EQ(s, "On Sep 14, 2007 at 2:05:09 pm");
    KxString midnight;
    midnight << KxTime(Stamp("20070914000000000")) << "|" << KxTime(Stamp("20070914120000000"));
    EXPECT_EQ(midnight, "12:00:00 am|12:00:00 pm");
    KxString zero("x");
    Failure f = Catch([&] { zero << KxDate(Stamp("00000000000000000")); });
    EXPECT_EQ(f.message, "Month 0 has no name");
    EXPECT_TRUE(f.callpath.ends_with("FilterTimestamp() of KxTimestampFormat\r\n"
                                     "operator<< of KxDate"))
        << f.callpath;
    EXPECT_EQ(zero, "x");
}

TEST(KxDateTime, SetTimeParsesWithTheDefaultOrTheGivenFormat) {
    KxTime time(Stamp("20070914101010100"));
    time.SetTime("2:05:09 pm");
    EXPECT_STREQ(time.GetCString(), "140509000");
    time.SetTime("12:30:00 AM");
    EXPECT_STREQ(time.GetCString(), "003000000");
    KxTimestampFormat precise("%02H%02n%02s.%03u");
    time.SetTime("235960.250", &precise);
    EXPECT_STREQ(time.GetCString(), "235960250");

    Failure f = Catch([&] { time.SetTime("13:00:00 pm"); });
    EXPECT_EQ(f.message, "The string, \"13:00:00 pm\", interpreted according to the filter, "
                         "\"%h:%02n:%02s %p\", indicates an invalid date/time.");
    EXPECT_EQ(f.source, "KxTimestampFormat");
    EXPECT_EQ(f.callpath, "UnfilterTimestamp() of KxTimestampFormat\r\nSetTime of KxTime");
    EXPECT_THROW(time.SetTime(nullptr), KxException);
    EXPECT_STREQ(time.GetCString(), "235960250");
}

// ---------------------------------------------------------------------------------------------
// Format strings

TEST(KxTimestampFormat, RendersEachConversion) {
    struct Case {
        const char* format;
        const char* timestamp;
        const char* expected;
    } cases[] = {
        {"%02d/%02m/%y", "20070305000000000", "05/03/2007"},
        {"%d/%m/%Y", "20050305000000000", "5/3/5"},
        {"%M %d, %y", "20070914000000000", "Sep 14, 2007"},
        {"%L|%10L|%W|%w", "20070914000000000", "September|September |Friday|Fri"},
        {"[%5d][%05d][%3%]", "20070914000000000", "[   14][00014][  %]"},
        {"%H %h %lh %zh %p %P", "20070914000000000", "0 12 12 12 am AM"},
        {"%H %h %p %P", "20070914130000000", "13 1 pm PM"},
        {"%02n:%02s.%03u", "20070914000507009", "05:07.009"},
        {"%y", "00090101000000000", "9"},
        {"plain text", "20070914000000000", "plain text"},
        {"", "20070914000000000", ""},
    };
    for (const Case& c : cases) {
        KxTimestampFormat format(c.format);
        EXPECT_EQ(format.Filter(Stamp(c.timestamp)), c.expected) << c.format;
        EXPECT_LE(static_cast<int32_t>(strlen(c.expected)), format.GetDisplayLength()) << c.format;
    }
    EXPECT_EQ(KxTimestampFormat("%M %d, %y").GetDisplayLength(), 12);
}

TEST(KxTimestampFormat, BadFormatsAreRefusedAndLeaveTheOldOne) {
    struct Case {
        const char* format;
        const char* message;
    } cases[] = {
        {"%d/%", "Date filter format string cannot end with '%'"},
        {"%02", "Date filter format string cannot end with '%'"},
        {"%q", "Unknown conversion type 'q'"},
        {"%-2d", "Unknown conversion type '-'"},
        {"%ld", "Unknown conversion type 'l'"},
        {"%100d", "The width of conversion \"%100d\" is above 99"},
        {"%99999999999999999999d",
         "The width of conversion \"%99999999999999999999d\" is above 99"},
    };
    for (const Case& c : cases) {
        KxTimestampFormat format("%y");
        Failure f = Catch([&] { format.SetFormat(c.format); });
        EXPECT_EQ(f.message, c.message) << c.format;
        EXPECT_TRUE(f.callpath.ends_with("SetFormat() of KxTimestampFormat")) << f.callpath;
        EXPECT_STREQ(format.GetFormat(), "%y");
        EXPECT_EQ(format.GetDisplayLength(), 4);
    }
    Failure f = Catch([] { KxTimestampFilterConversion conversion("d"); });
    EXPECT_EQ(f.message, "This conversion \"d\" does not start with '%'");
    EXPECT_EQ(f.callpath, "Constructor of KxTimestampFilterConversion");
}

TEST(KxTimestampFormat, BufferMustHoldTheDisplayLength) {
    KxTimestampFormat format("%M %d, %y");
    char buffer[13];
    Failure f = Catch([&] { format.FilterTimestamp(Stamp("20070914000000000"), buffer, 12); });
    EXPECT_EQ(f.message, "Buffer of 12 too small; needs at least 13");
    EXPECT_EQ(f.callpath, "FilterTimestamp() of KxTimestampFormat");
    format.FilterTimestamp(Stamp("20070914000000000"), buffer, sizeof buffer);
    EXPECT_STREQ(buffer, "Sep 14, 2007");
}

// What a format writes, it reads back, for every month, weekday and hour.
TEST(KxTimestampFormat, ReadsBackWhatItWrites) {
    const char* formats[] = {"%M %d, %y", "%W, %L %02d %y %02H:%02n:%02s.%03u",
                             "%w %5d-%02m-%y %h:%02n:%02s %P", "%10L|%10W|%y%02m%02d"};
    for (const char* f : formats) {
        KxTimestampFormat format(f);
        KxTimestamp t = Stamp("20071230000000000");
        for (int i = 0; i < 400; ++i) {
            t.AddMinutes(24 * 60 + 61);
            KxTimestamp back = format.UnfilterTimestamp(format.Filter(t));
            EXPECT_EQ(format.Filter(back), format.Filter(t)) << f;
        }
    }
    KxTimestampFormat full("%y%02m%02d%02H%02n%02s%03u");
    EXPECT_STREQ(full.UnfilterTimestamp(" 20040229235960999 ").GetCString(), "20040229235960999");
    EXPECT_STREQ(KxTimestampFormat("%M %d, %y").UnfilterTimestamp("sep  5, 2007").GetCString(),
                 "20070905000000000");
    EXPECT_STREQ(KxTimestampFormat("%d/%m/%Y").UnfilterTimestamp("5/3/49").GetCString(),
                 "20490305000000000");
    EXPECT_STREQ(KxTimestampFormat("%d/%m/%Y").UnfilterTimestamp("5/3/50").GetCString(),
                 "19500305000000000");
}

TEST(KxTimestampFormat, TextItDidNotWriteIsRefused) {
    struct Case {
        const char* format;
        const char* text;
        const char* message;
    } cases[] = {
        {"%d/%m/%y", "5-3-2007", "String \"5-3-2007\" was not produced by filter \"%d/%m/%y\""},
        {"%d/%m/%y", "5/3/2007x", "String \"5/3/2007x\" was not produced by filter \"%d/%m/%y\""},
        {"%d/%m/%y", "5/x/2007", "'x' found at offset 2 of \"5/x/2007\"; need digit"},
        {"%d/%m/%y", "5/3/", "Year must start with a digit"},
        {"%M %d", "Spt 5", "Spt 5 does not appear to have a month at the beginning"},
        {"%M %d", "Sept 5", "String \"Sept 5\" was not produced by filter \"%M %d\""},
        {"%W", "Fri", "Fri does not appear to have a weekday at the beginning"},
        {"%h %p", "5 xm", "String \"5 xm\" was not produced by filter \"%h %p\""},
        {"%d/%m/%y", "29/2/2007",
         "The string, \"29/2/2007\", interpreted according to the filter, \"%d/%m/%y\", "
         "indicates an invalid date/time."},
        {"%d/%m/%y", "0/0/0", "The string, \"0/0/0\", interpreted according to the filter, "
                              "\"%d/%m/%y\", indicates an invalid date/time."},
        {"%H:%n:%s", "12:00:60", "The string, \"12:00:60\", interpreted according to the filter, "
                                 "\"%H:%n:%s\", indicates an invalid date/time."},
        {"%20y", "99999999999999999999", "The string, \"99999999999999999999\", interpreted "
                                         "according to the filter, \"%20y\", indicates an "
                                         "invalid date/time."},
    };
    for (const Case& c : cases) {
        Failure f = Catch([&] { KxTimestampFormat(c.format).UnfilterTimestamp(c.text); });
        EXPECT_EQ(f.message, c.message) << c.text;
        EXPECT_EQ(f.source, "KxTimestampFormat") << c.text;
        EXPECT_TRUE(f.callpath.ends_with("UnfilterTimestamp() of KxTimestampFormat")) << f.callpath;
    }
}

// A format from a file may be huge; rendering and reading it back stay linear.
TEST(KxTimestampFormat, HugeFormatsStayFast) {
    std::string pattern, text;
    for (int i = 0; i < 20000; ++i) {
        pattern += "%02d.";
        text += "14.";
    }
    KxTimestampFormat format(pattern.c_str());
    EXPECT_EQ(format.GetDisplayLength(), 60000);
    EXPECT_EQ(std::string(format.Filter(Stamp("20070914000000000")).GetCString()), text);
    EXPECT_STREQ(format.UnfilterTimestamp(text.c_str()).GetCString(), "00010114000000000");
}
