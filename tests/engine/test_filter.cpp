#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "foundation/kxcatch.h"
#include "kxengine.h"
#include "kxengineexceptions.h"
#include "kxfilter.h"
#include "kxini.h"
#include "kxmemstream.h"
#include "kxtimestamp.h"

namespace {

// The registry as start-up builds it; a test that registers classes of its own puts it back.
class FilterTest : public ::testing::Test {
protected:
    void SetUp() override { KxEngineStartup(); }
    void TearDown() override {
        KxFilterRegistry::ReleaseRegistry();
        KxFilterRegistry::InitRegistry();
    }
};

std::unique_ptr<KxIniSection> Section(std::initializer_list<const char*> lines) {
    auto section = std::make_unique<KxIniSection>("Field1");
    for (const char* line : lines) section->AddLine(line);
    return section;
}

std::string Shown(const KxNumberFilter& filter, double value, uint32_t destLength = 64) {
    std::vector<char> out(destLength + 1, 'x');
    filter.FilterValue(value, out.data(), destLength);
    return out.data();
}

KxTimestamp Stamp(const char* digits) {
    KxTimestamp t;
    t.SetCString(digits);
    return t;
}

// ---------------------------------------------------------------------------------------------
// Number filter

TEST_F(FilterTest, NumberFilterFigures) {
    struct Case {
        const char* name;
        std::function<void(KxNumberFilter&)> set;
        double value;
        const char* shown;
    };
    auto rounding = [](int16_t r) { return [r](KxNumberFilter& f) { f.SetRoundingPlace(r); }; };
    auto none = [](KxNumberFilter&) {};
    auto fixed5 = [](KxNumberFilter& f) {
        f.SetRoundingPlace(0);
        f.SetFixWidth(true);
        f.SetFixWidthLength(5);
        f.SetFillChar('*');
        f.SetFillSide(KxNumberFilter::kxFillLeft);
    };
    const Case cases[] = {
        {"defaults round to units", none, 1234.5, "1235.00"},
        {"negative", none, -1234.5, "-1235.00"},
        {"no rounding", rounding(0), 1234.5, "1234.50"},
        {"no leading zero", rounding(0), 0.25, ".25"},
        {"leading zero kept", [](KxNumberFilter& f) { f.SetRoundingPlace(0); f.SetLeadingZero(true); },
         0.25, "0.25"},
        {"thousands", [](KxNumberFilter& f) { f.SetRoundingPlace(0); f.SetThousandSeparator(true); },
         1234567, "1,234,567.00"},
        {"fixed width fills", fixed5, 12.5, "*12.50"},
        {"fixed width overflows", fixed5, 123456, "*****"},
        {"fixed width overflow has no sign", fixed5, -123456, "*****"},
        {"parenthesis", [](KxNumberFilter& f) { f.SetNegativeSignPlacement(3); }, -3, "(3.00)"},
        {"sign after", [](KxNumberFilter& f) { f.SetNegativeSignPlacement(2); }, -3, "3.00-"},
        {"tens", rounding(2), 1234.5, "1230.00"},
        {"half up", rounding(1), 2.5, "3.00"},
        {"carry grows the number", rounding(1), 999.5, "1000.00"},
        {"place beyond the number", rounding(4), 45, ".00"},
        {"place just beyond the number", rounding(3), 55, "100.00"},
        {"decimals", rounding(-1), 1.25, "1.30"},
        {"no decimal places", [](KxNumberFilter& f) { f.SetDecimalPlaces(0); }, 1234.5, "1235"},
        {"negative zero after rounding has no sign", none, -0.4, ".00"},
        {"suppress zero", [](KxNumberFilter& f) { f.SetSuppressZero(true); }, 0.2, ""},
        {"prefix and suffix", [](KxNumberFilter& f) { f.SetPrefix("$"); f.SetSuffix(" net"); }, -5,
         "$-5.00 net"},
        {"missing", [](KxNumberFilter& f) { f.SetMissingString("n/a"); }, -1e30, "n/a"},
    };
    for (const Case& c : cases) {
        KxNumberFilter filter;
        c.set(filter);
        EXPECT_EQ(Shown(filter, c.value), c.shown) << c.name;
    }
}

TEST_F(FilterTest, NumberFilterIntegersAndDestinations) {
    KxNumberFilter filter;
    filter.SetMissingString("none");
    char out[16];
    filter.FilterValue(int32_t{42}, out, sizeof out);
    EXPECT_STREQ(out, "42.00");
    filter.FilterValue(int32_t{INT32_MIN}, out, sizeof out);
    EXPECT_STREQ(out, "none");
    filter.FilterValue(int16_t{-32768}, out, sizeof out);
    EXPECT_STREQ(out, "none");
    filter.FilterValue(int16_t{-7}, out, sizeof out);
    EXPECT_STREQ(out, "-7.00");

    // A number that does not fit is never cut into another number: asterisks, themselves kept
    // inside the destination with its terminating 0.
    memset(out, 'x', sizeof out);
    filter.FilterValue(1234.0, out, 5);
    EXPECT_STREQ(out, "****");
    EXPECT_EQ(out[5], 'x');
    filter.FilterValue(1234.0, out, 8);
    EXPECT_STREQ(out, "1234.00");
    filter.FilterValue(1234.0, out, 7);
    EXPECT_STREQ(out, "******");
    // The missing string is cut instead.
    filter.FilterValue(-1e30, out, 3);
    EXPECT_STREQ(out, "no");
}

TEST_F(FilterTest, NumberFilterReadsItsOwnOutputBack) {
    struct Case {
        std::function<void(KxNumberFilter&)> set;
        double value;
    };
    const Case cases[] = {
        {[](KxNumberFilter&) {}, -1235},
        {[](KxNumberFilter& f) { f.SetNegativeSignPlacement(3); }, -3},
        {[](KxNumberFilter& f) { f.SetNegativeSignPlacement(2); }, -3},
        {[](KxNumberFilter& f) { f.SetRoundingPlace(0); f.SetThousandSeparator(true); }, 1234567.5},
        {[](KxNumberFilter& f) {
             f.SetRoundingPlace(0);
             f.SetFixWidth(true);
             f.SetFixWidthLength(8);
             f.SetFillChar('*');
             f.SetFillSide(KxNumberFilter::kxFillLeft);
         },
         -12.5},
        {[](KxNumberFilter& f) { f.SetPrefix("$"); f.SetSuffix(" net"); }, 5},
        {[](KxNumberFilter& f) { f.SetRoundingPlace(0); }, 0.25},
    };
    for (const Case& c : cases) {
        KxNumberFilter filter;
        c.set(filter);
        std::string shown = Shown(filter, c.value);
        EXPECT_DOUBLE_EQ(filter.UnfilterValue(shown.c_str()), c.value) << shown;
    }

    KxNumberFilter filter;
    filter.SetMissingString("n/a");
    EXPECT_EQ(filter.UnfilterValue(""), -1e30);
    EXPECT_EQ(filter.UnfilterValue("n/a"), -1e30);
    EXPECT_EQ(filter.UnfilterValue("  7 "), 7);
    for (const char* bad : {"12x", "-", ".", "1,000", "--5", "(-5)"})
        EXPECT_EQ(CatchKx<KxFilterUninterpretableStringException>([&] { filter.UnfilterValue(bad); })
                      .message,
                  "Invalid number")
            << bad;
    EXPECT_EQ(CatchKx([&] { filter.UnfilterValue("1e999"); }).message,
              "Number is larger then a double");
    EXPECT_KX(CatchKx<KxFilterException>([&] { filter.UnfilterValue(nullptr); }),
              "Null pointer to the number", "KxNumberFilter", "UnfilterValue() of KxNumberFilter");

    // Overflow asterisks are no value, not a blank one.
    KxNumberFilter stars;
    stars.SetFixWidth(true);
    stars.SetFixWidthLength(3);
    stars.SetFillChar('*');
    EXPECT_EQ(CatchKx([&] { stars.UnfilterValue("***"); }).message, "Invalid number");
}

TEST_F(FilterTest, NumberFilterSettings) {
    auto section = Section({"Missing String=-", "Number of Decimal Places=1",
                            "Negative Sign Placement=Parenthesis", "Fix Width=true",
                            "Fix Width Length=8", "Fill Char=#", "Fill Side=Left",
                            "Rounding Place=0", "Thousand Separator=yes", "Prefix=$"});
    KxNumberFilter filter;
    filter.Read(section.get());
    EXPECT_EQ(Shown(filter, -1234.56), "$(###1,234.5)");
    EXPECT_EQ(Shown(filter, -1e30), "-");

    KxIniSection written("Field1");
    filter.Write(&written);
    EXPECT_EQ(written.GetInt("Number Of Decimal Places", 0), 1);
    EXPECT_STREQ(written.GetString("Negative Sign Placement", ""), "Parenthesis");
    EXPECT_STREQ(written.GetString("Fill Side", ""), "Left");
    KxNumberFilter again;
    again.Read(&written);
    EXPECT_EQ(Shown(again, -1234.56), "$(###1,234.5)");

    // Unknown words take the defaults.
    auto odd = Section({"Negative Sign Placement=Sideways", "Fill Side=Up"});
    again.Read(odd.get());
    EXPECT_EQ(again.GetNegativeSignPlacement(), KxNumberFilter::kxSignBefore);
    EXPECT_EQ(again.GetFillSide(), KxNumberFilter::kxFillRight);
    EXPECT_EQ(again.GetDecimalPlaces(), 2);

    EXPECT_EQ(CatchKx([&] { filter.SetFixWidthLength(33); }).message,
              "Fix width length out of the range");
    EXPECT_EQ(CatchKx([&] { filter.SetFixWidthLength(0); }).message,
              "Fix width length out of the range");
    EXPECT_EQ(CatchKx([&] { filter.SetFillSide(3); }).message, "Invalid fill side");
    EXPECT_EQ(filter.GetFixWidthLength(), 8);
    EXPECT_KX(CatchKx([&] { filter.Read(static_cast<KxIniSection*>(nullptr)); }),
              "null pointer: pIniSection", "KxNumberFilter", "Read() of KxNumberFilter");
    // A damaged count does not wrap into a plausible one.
    auto huge = Section({"Number of Decimal Places=70000"});
    EXPECT_EQ(CatchKx([&] { filter.Read(huge.get()); }).message,
              "Invalid Number of Decimal Places value 70000");
    EXPECT_EQ(filter.GetDecimalPlaces(), 1);
}

// ---------------------------------------------------------------------------------------------
// Date, time and timestamp filters

TEST_F(FilterTest, DateFormats) {
    KxDateFilter date;
    date.SetFormat("%02d/%02m/%y");
    EXPECT_EQ(std::string(date.FilterTimestamp(Stamp("20070305000000000"))), "05/03/2007");
    EXPECT_STREQ(date.UnfilterTimestamp("05/03/2007").GetCString(), "20070305000000000");
    char small[8];
    EXPECT_EQ(CatchKx([&] { date.FilterTimestamp(Stamp("20070305000000000"), small, 8); }).message,
              "Buffer of 8 too small; needs at least 11");
    EXPECT_EQ(CatchKx([&] { date.UnfilterTimestamp("31/02/2007"); }).message,
              "The string, \"31/02/2007\", interpreted according to the filter, \"%02d/%02m/%y\", "
              "indicates an invalid date/time.");
    EXPECT_EQ(CatchKx([&] { date.UnfilterTimestamp("05-03-2007"); }).message,
              "String \"05-03-2007\" was not produced by filter \"%02d/%02m/%y\"");

    KxCaught bad = CatchKx([&] { date.SetFormat("%d.%q"); });
    EXPECT_EQ(bad.message, "Unknown conversion type 'q'");
    EXPECT_EQ(CatchKx([&] { date.SetFormat("%d%"); }).message,
              "Date filter format string cannot end with '%'");
    EXPECT_STREQ(date.GetFormat(), "%02d/%02m/%y");

    // Without a format each kind shows in its default one.
    EXPECT_EQ(std::string(KxDateFilter().FilterTimestamp(Stamp("20070305131509000"))),
              "Mar 5, 2007");
    EXPECT_EQ(std::string(KxTimeFilter().FilterTimestamp(Stamp("20070305131509000"))),
              "1:15:09 pm");
}

TEST_F(FilterTest, OlderDateSettings) {
    struct Case {
        std::vector<const char*> lines;
        const char* format;
    };
    const Case cases[] = {
        {{"Date Format=DMY", "Zero Fill=true", "Four Digit Year=true", "First Separator=-",
          "Second Separator=-", "Month Format=3-Letter"},
         "%02d-%M-%y"},
        {{}, "%Y/%m/%d"},
        {{"Date Format=mdy", "Month Format=Whole Name", "First Separator=."}, "%L.%d/%Y"},
        {{"Date Format=YM", "Month Format=2-Digit"}, "%Y/%02m"},
        {{"Date Format=Y", "Four Digit Year=true"}, "%y"},
        // A percent sign in a separator stays text.
        {{"Date Format=MY", "First Separator=%"}, "%m%%%Y"},
    };
    for (const Case& c : cases) {
        auto section = Section({});
        for (const char* line : c.lines) section->AddLine(line);
        KxDateFilter filter;
        filter.Read(section.get());
        EXPECT_STREQ(filter.GetFormat(), c.format);
    }
    EXPECT_EQ(CatchKx([&] { KxDateFilter().Read(Section({"Date Format=YDM"}).get()); }).message,
              "Unknown date format \"YDM\"");
    EXPECT_EQ(CatchKx([&] { KxDateFilter().Read(Section({"Month Format=Roman"}).get()); }).message,
              "Unknown month format \"Roman\"");

    // A format string wins; a time filter does not take a date's older defaults.
    KxDateFilter date;
    date.Read(Section({"Date Format String=%y-%02m", "Date Format=DMY"}).get());
    EXPECT_STREQ(date.GetFormat(), "%y-%02m");
    KxTimeFilter time;
    time.Read(Section({}).get());
    EXPECT_STREQ(time.GetFormat(), "");
    KxIniSection written("Field1");
    date.Write(&written);
    EXPECT_STREQ(written.GetString("Date Format String", ""), "%y-%02m");
}

// ---------------------------------------------------------------------------------------------
// Picture strings

TEST_F(FilterTest, PictureStrings) {
    struct Case {
        const char* picture;
        const char* raw;
        const char* shown; // null: filtering fails
    };
    const Case cases[] = {
        {"##-##", "1234", "12-34"},
        {"&?", "ab", "Ab"},
        {"!@", "xy", "Xy"},
        {"###", "12a", nullptr},
        {"###", "12", nullptr},
        {"##", "123", nullptr},
        {"#;##", "12", "1#2"},
        {"(###) ###[-####]", "5551234567", "(555) 123-4567"},
        {"###[-####]", "123", "123"},
        {"*3#", "123", "123"},
        {"*3#", "12", nullptr},
        {"*2{#-}", "12", "1-2-"},
        {"&*?", "smith", "Smith"},
        {"{*#}", "2024", "2024"},
        // A repeat that takes nothing from the input stops rather than runs for ever.
        {"*{[#]}", "a", nullptr},
    };
    for (const Case& c : cases) {
        KxStringFilter filter;
        filter.SetPictureString(c.picture);
        if (c.shown == nullptr) {
            KxCaught f = CatchKx<KxStringException>([&] { filter.FilterValue(c.raw); });
            EXPECT_EQ(f.message, "Filter Error") << c.picture << " " << c.raw;
            continue;
        }
        EXPECT_EQ(std::string(filter.FilterValue(c.raw)), c.shown) << c.picture;
    }

    KxStringFilter filter;
    filter.SetPictureString("##-##");
    filter.SetMissingString("(none)");
    EXPECT_EQ(std::string(filter.UnfilterValue("12-34")), "1234");
    EXPECT_EQ(std::string(filter.FilterValue("")), "(none)");
    EXPECT_EQ(std::string(filter.UnfilterValue("(none)")), "");
    for (const char* bad : {"12/34", "1a-34", "12-345", "12-3"}) {
        try {
            filter.UnfilterValue(bad);
            ADD_FAILURE() << bad;
        } catch (KxStringException& e) {
            EXPECT_STREQ(e.GetErrorMessage(), "Unfilter Error") << bad;
            EXPECT_EQ(e.GetCharacter(), KxStringFilter::kxUnfilterError);
        }
    }
    // Upper-casing placeholders read letters back as they are shown.
    filter.SetPictureString("&&-##");
    EXPECT_EQ(std::string(filter.UnfilterValue("AB-12")), "AB12");
}

TEST_F(FilterTest, PictureSyntax) {
    struct Case {
        const char* picture;
        const char* message;
        char code;
    };
    const Case cases[] = {
        {"", "Empty picture string", KxStringFilter::kxEmptyPicture},
        {"#,#", "Unsupported option", KxStringFilter::kxUnsupportedOption},
        {"#;", "Invalid literal sequence", KxStringFilter::kxLiteralSyntax},
        {"{#", "Invalid group syntax", KxStringFilter::kxGroupSyntax},
        {"{}", "Invalid group syntax", KxStringFilter::kxGroupSyntax},
        {"{#]", "Invalid group syntax", KxStringFilter::kxGroupSyntax},
        {"#}", "Invalid group syntax", KxStringFilter::kxGroupSyntax},
        {"[#][#]", "Invalid optional syntax", KxStringFilter::kxOptionalSyntax},
        {"[]", "Invalid optional syntax", KxStringFilter::kxOptionalSyntax},
        {"[#", "Invalid optional syntax", KxStringFilter::kxOptionalSyntax},
        {"*-", "Invalid repeat syntax", KxStringFilter::kxRepeatSyntax},
        {"*#-", "Invalid repeat syntax", KxStringFilter::kxRepeatSyntax},
        {"*3", "Invalid repeat syntax", KxStringFilter::kxRepeatSyntax},
        {"*99999#", "Invalid repeat syntax", KxStringFilter::kxRepeatSyntax},
    };
    for (const Case& c : cases) {
        KxStringFilter filter;
        filter.SetPictureString("#");
        try {
            filter.SetPictureString(c.picture);
            ADD_FAILURE() << c.picture;
        } catch (KxStringException& e) {
            EXPECT_STREQ(e.GetErrorMessage(), c.message) << c.picture;
            EXPECT_EQ(e.GetCharacter(), c.code) << c.picture;
            EXPECT_STREQ(e.GetSource(), "KxStringFilter");
        }
        EXPECT_STREQ(filter.GetPictureString(), "#");
    }
    for (const char* fine : {";,", "*3{#-}", "{#[-#]}", "#*#", "{[#]*#}"})
        EXPECT_FALSE(CatchKx([&] { KxStringFilter::SyntaxCheck(fine); }).thrown) << fine;
}

// ---------------------------------------------------------------------------------------------
// Registry, sections and streams

class RenamedNumberFilter : public KxNumberFilter {
public:
    KxFilter* Clone() const override { return new RenamedNumberFilter(*this); }
    const char* GetClassnameCString() const override { return "RenamedNumberFilter"; }
    const char* GetRegistryIndex() const override { return m_name.c_str(); }
    std::string m_name = "Money";
};

class ClaimsNumber : public KxStringFilter {
public:
    KxFilter* Clone() const override { return new ClaimsNumber(*this); }
    int16_t GetFilterType() const override { return m_type; }
    int16_t m_type = kxNumberFilter;
};

TEST_F(FilterTest, RegistryChecksWhatItStores) {
    std::unique_ptr<KxFilter> date(KxFilterRegistry::GetFilterFromRegistry("KxDateFilter"));
    EXPECT_STREQ(date->GetClassnameCString(), "KxDateFilter");
    EXPECT_EQ(date->GetFilterType(), kxDateFilter);
    EXPECT_KX(CatchKx<KxFilterRegistryException>(
                  [] { KxFilterRegistry::GetFilterFromRegistry("Money"); }),
              "The application has not registered the following filter: \"Money\".",
              "KxFilterRegistry", "GetFilterFromRegistry() of KxFilterRegistry");

    RenamedNumberFilter money;
    money.SetPrefix("$");
    KxFilterRegistry::Register(money);
    std::unique_ptr<KxFilter> copy(KxFilterRegistry::GetFilterFromRegistry("Money"));
    EXPECT_STREQ(static_cast<KxNumberFilter*>(copy.get())->GetPrefix(), "$");
    // The same class again keeps the first prototype; another class may not take the name.
    KxFilterRegistry::Register(money);
    money.m_name = "KxNumberFilter";
    KxCaught taken = CatchKx<KxFilterRegistryException>([&] { KxFilterRegistry::Register(money); });
    EXPECT_EQ(taken.message.substr(0, taken.message.find("\r\n")),
              "The filter's RegistryIndex (value: \"KxNumberFilter\") is not unique.");
    money.m_name = "";
    EXPECT_EQ(CatchKx<KxFilterRegistryException>([&] { KxFilterRegistry::Register(money); }).message,
              "Cannot register a filter whose RegistryIndex is an empty string.");

    ClaimsNumber liar;
    EXPECT_EQ(CatchKx<KxFilterRegistryException>([&] { KxFilterRegistry::Register(liar); }).message,
              "Filter has a FilterType of \"NumberFilter\" but is not a descendant of "
              "\"KxNumberFilter\".");
    liar.m_type = kxNoFilter;
    EXPECT_EQ(CatchKx<KxFilterRegistryException>([&] { KxFilterRegistry::Register(liar); }).message,
              "Cannot register a filter of type, \"NoFilter\"");
    EXPECT_EQ(CatchKx([&] {
                  KxFilterRegistry::CheckCompatibilityBetweenFilterTypeAndInheritancePath(liar, 1);
              }).message,
              "FilterType of \"NoFilter\" is not compatible with any inheritance path");
    EXPECT_EQ(CatchKx([&] {
                  KxFilterRegistry::CheckCompatibilityBetweenFilterTypeAndInheritancePath(liar, 9);
              }).message,
              "An unknown FilterType (value=9) is not compatible with any inheritance path");
    // A date filter is a timestamp filter, not the other way round.
    KxFilterRegistry::CheckCompatibilityBetweenFilterTypeAndInheritancePath(KxDateFilter(), 6);
    EXPECT_TRUE(CatchKx([&] {
                    KxFilterRegistry::CheckCompatibilityBetweenFilterTypeAndInheritancePath(
                        KxTimestampFilter(), 4);
                }).thrown);
}

TEST_F(FilterTest, FiltersFromFieldSections) {
    struct Case {
        std::vector<const char*> lines;
        const char* className; // null: no filter
        bool strict = true;
    };
    const Case cases[] = {
        {{"FilterType=1"}, nullptr},
        {{}, nullptr},
        {{"FilterType=2", "Picture String Filter=##"}, "KxStringFilter"},
        {{"FilterType=3"}, "KxNumberFilter"},
        {{"FilterType=4"}, "KxDateFilter"},
        {{"FilterType=5"}, "KxTimeFilter"},
        {{"FilterType=6"}, "KxTimestampFilter"},
        // The registry name decides over the type code.
        {{"FilterType=1", "KxFilter.RegistryIndex=KxNumberFilter"}, "KxNumberFilter"},
        {{"KxFilter.RegistryIndex=Unheard"}, nullptr, false},
    };
    for (const Case& c : cases) {
        auto section = Section({});
        for (const char* line : c.lines) section->AddLine(line);
        std::unique_ptr<KxFilter> filter(KxFilterRegistry::ReadFilter(*section, c.strict));
        if (c.className == nullptr)
            EXPECT_EQ(filter, nullptr);
        else if (filter == nullptr)
            ADD_FAILURE() << c.className;
        else
            EXPECT_STREQ(filter->GetClassnameCString(), c.className);
    }
    auto unknown = Section({"KxFilter.RegistryIndex=Unheard"});
    EXPECT_EQ(CatchKx<KxFilterRegistryException>([&] { KxFilterRegistry::ReadFilter(*unknown, true); })
                  .message,
              "The application has not registered the following filter: \"Unheard\".");
    EXPECT_KX(CatchKx([] { KxFilterRegistry::ReadFilter(*Section({"FilterType=9"}), true); }),
              "Unknown filter type 9", "KxFilterRegistry", "ReadFilter() of KxFilterRegistry");
    // The filter's own settings are checked as they are read.
    EXPECT_EQ(CatchKx([] {
                  KxFilterRegistry::ReadFilter(
                      *Section({"FilterType=2", "Picture String Filter=#;"}), true);
              }).message,
              "Invalid literal sequence");

    KxStringFilter picture;
    picture.SetPictureString("&&-##");
    KxIniSection written("Field1");
    KxFilterRegistry::WriteFilter(written, picture);
    EXPECT_EQ(written.GetInt("FilterType", 0), kxStringFilter);
    EXPECT_STREQ(written.GetString("KxFilter.RegistryIndex", ""), "KxStringFilter");
    std::unique_ptr<KxFilter> back(KxFilterRegistry::ReadFilter(written, true));
    EXPECT_STREQ(static_cast<KxStringFilter*>(back.get())->GetPictureString(), "&&-##");
}

TEST_F(FilterTest, StreamFormChecksItsHeader) {
    KxNumberFilter number;
    number.SetNegativeSignPlacement(KxNumberFilter::kxSignParenthesis);
    number.SetPrefix("$");
    number.SetFillChar('0');
    KxMemoryStream stream;
    number.Write(stream);
    stream.Rewind();
    KxNumberFilter copy;
    copy.Read(stream);
    EXPECT_EQ(Shown(copy, -5), "$(5.00)");
    EXPECT_EQ(copy.GetFillChar(), '0');

    stream.Rewind();
    KxDateFilter date;
    date.SetFormat("%y");
    EXPECT_KX(CatchKx<KxFilterException>([&] { date.Read(stream); }),
              "Invalid kxfilter header information", "KxDateFilter", "Read() of KxDateFilter");
    EXPECT_STREQ(date.GetFormat(), "%y");

    KxMemoryStream dates;
    date.Write(dates);
    dates.Rewind();
    KxDateFilter dateCopy;
    dateCopy.Read(dates);
    EXPECT_STREQ(dateCopy.GetFormat(), "%y");
}

} // namespace
