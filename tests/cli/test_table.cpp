#include <gtest/gtest.h>

#include <string>

#include "foundation/kxcatch.h"
#include "tvdataset.h"
#include "tvgenerate.h"
#include "tvtable.h"

namespace {

constexpr TvTableShape kThree = {3, 3};
const std::string kHeader = "a\tb\tc\n";
const std::string kVersion = "x\t1.2.0\ty\n";

std::string Failure(const std::string& text) {
    KxCaught caught = CatchKx([&] { ParseTable(text, "t.tsv", kThree); });
    return caught.thrown ? caught.message : "(accepted)";
}

TEST(Table, MalformedTablesNameFileAndLine) {
    struct Case {
        std::string text;
        std::string prefix;
    } cases[] = {
        {"", "t.tsv:1: the file is empty"},
        {"\xEF\xBB\xBF" + kHeader + kVersion, "t.tsv:1: the file begins with a byte order mark"},
        {"a\tb\n" + kVersion, "t.tsv:1: the header names 2 columns; this table needs 3"},
        {"a\tA\tc\n" + kVersion, "t.tsv:1: column name \"A\" occurs twice"},
        {"a\tb c\tc\n" + kVersion, "t.tsv:1: column name \"b c\" may hold only"},
        {"a\t\tc\n" + kVersion, "t.tsv:1: column 2 has no name"},
        {kHeader, "t.tsv:2: the version record is missing"},
        {kHeader + "x\tnone\ty\n", "t.tsv:2: the first record is not the version record"},
        {kHeader + kVersion + "p\tq\n", "t.tsv:3: 2 fields, but the header names 3 columns"},
        {kHeader + kVersion + "p\tq\tr\ts\n", "t.tsv:3: 4 fields, but the header names 3 columns"},
        {kHeader + kVersion + "\n", "t.tsv:3: 1 fields, but the header names 3 columns"},
        {kHeader + kVersion + "p\tq\xCE\xB2\tr\n",
         "t.tsv:3: column b: the character \"\xCE\xB2\" (U+03B2) at byte 2 of the text has no "
         "Windows-1252 form"},
        {kHeader + kVersion + "p\tq\tr\xFF\n", "t.tsv:3: column c: invalid UTF-8"},
        {kHeader + kVersion + "p\tq\x01\tr\n", "t.tsv:3: column b: control character U+0001"},
        {kHeader + "x\t1.2.0\ty\r\n", "t.tsv:2: the line ends with a carriage return"},
    };
    for (const Case& c : cases) {
        std::string message = Failure(c.text);
        EXPECT_EQ(message.substr(0, c.prefix.size()), c.prefix) << message;
    }
}

TEST(Table, MoreRecordsThanADataSetHoldsFailAtTheFirstOneTooMany) {
    std::string text = kHeader + kVersion;
    for (int i = 1; i < kMaxDataSetRecords; ++i) text += "p\tq\tr\n";
    EXPECT_EQ(ParseTable(text, "t.tsv", kThree).rows.size(), size_t{kMaxDataSetRecords});
    text += "p\tq\tr\n";
    EXPECT_EQ(Failure(text).substr(0, 33), "t.tsv:32769: more than 32767 reco");
}

TEST(Table, FieldsAreConvertedAndLineBreaksDecoded) {
    TvTable table = ParseTable(kHeader + kVersion + "caf\xC3\xA9\tone\\ntwo\tback\\\\n\n" +
                                   "p\t\tlast line without its line feed",
                               "t.tsv", kThree);
    ASSERT_EQ(table.rows.size(), 3u);
    EXPECT_EQ(table.rows[1][0], "caf\xE9");
    EXPECT_EQ(table.rows[1][1], "one\ntwo");
    EXPECT_EQ(table.rows[1][2], "back\\\n");
    EXPECT_EQ(table.rows[2][1], "");
    EXPECT_EQ(table.lines, (std::vector<int32_t>{2, 3, 4}));
    // Written back, each line is the source line again.
    EXPECT_EQ(FormatTableLine(table.rows[1]), "caf\xC3\xA9\tone\\ntwo\tback\\\\n\n");
}

TEST(Table, TextsATableCannotCarryAreRefusedWhenWritten) {
    for (const char* text : {"tab\there", "return\r", "literal \\n"})
        EXPECT_TRUE(CatchKx([&] { FormatTableLine({"ok", text}); }).thrown) << text;
}

TEST(Table, VersionTexts) {
    for (const char* good : {"1.2.0", "1", "10.20.300"}) EXPECT_TRUE(IsVersionText(good)) << good;
    for (const char* bad : {"", "1.", ".1", "1..2", "1.2.0 ", "v1.2", "1,2"})
        EXPECT_FALSE(IsVersionText(bad)) << bad;
}

TEST(DataSetPlan, ShortTextsStayInlineAndFieldsFitTheLongestOfThem) {
    TvTable table;
    table.fileName = "t.tsv";
    table.columns = {"name", "version", "remarks"};
    table.rows = {{"v", "1.2.0", "EMPTY"},
                  {"CISPLATIN", "", std::string(kMaxInlineText - 1, 'r')},
                  {"x", "", std::string(kMaxInlineText, 'r')},
                  {"y", "", "two\nlines"}};
    table.lines = {2, 3, 4, 5};
    std::vector<TvFieldPlan> plan = PlanFields(table);
    ASSERT_EQ(plan.size(), 3u);
    EXPECT_EQ(plan[0].length, 8 + 10);
    EXPECT_EQ(plan[1].length, 8 + 6);
    EXPECT_EQ(plan[2].length, 8 + kMaxInlineText);

    struct Case {
        std::string text;
        bool inlineText;
    } cases[] = {
        {"", true},
        {std::string(kMaxInlineText - 1, 'r'), true},
        {std::string(kMaxInlineText, 'r'), false},
        {"two\nlines", false},
        {"trailing blank ", false},
        {"  leading blanks", true},
        {"caf\xE9", false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(StaysInline(c.text, plan[2].length), c.inlineText) << c.text;
}

TEST(Generator, SameSeedSameTablesAndRealisticShape) {
    TvTable drugs = GenerateDrugTable(200, 7);
    TvTable regimens = GenerateRegimenTable(drugs, 50, 7);
    EXPECT_EQ(drugs.rows, GenerateDrugTable(200, 7).rows);
    EXPECT_EQ(regimens.rows, GenerateRegimenTable(drugs, 50, 7).rows);
    EXPECT_NE(drugs.rows, GenerateDrugTable(200, 8).rows);

    ASSERT_EQ(drugs.rows.size(), 200u);
    ASSERT_EQ(drugs.columns.size(), 17u);
    ASSERT_EQ(regimens.rows.size(), 50u);
    EXPECT_EQ(drugs.rows[0][1], "1.2.0");
    EXPECT_EQ(regimens.rows[0][1], "1.2.0");
    std::vector<TvFieldPlan> plan = PlanFields(drugs);
    int longRemarks = 0, lineBreaks = 0;
    for (size_t r = 1; r < drugs.rows.size(); ++r) {
        const std::string& remarks = drugs.rows[r][14];
        longRemarks += !StaysInline(remarks, plan[14].length);
        lineBreaks += remarks.find('\n') != std::string::npos;
        EXPECT_TRUE(StaysInline(drugs.rows[r][0], plan[0].length));
    }
    EXPECT_EQ(longRemarks, 199);
    EXPECT_GT(lineBreaks, 20);
}

TEST(Generator, CountsOutsideWhatADataSetHoldsAreRefused) {
    EXPECT_TRUE(CatchKx([] { GenerateDrugTable(0, 1); }).thrown);
    EXPECT_TRUE(CatchKx([] { GenerateDrugTable(kMaxDataSetRecords + 1, 1); }).thrown);
}

} // namespace
