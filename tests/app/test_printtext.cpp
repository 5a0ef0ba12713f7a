#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tvprinttext.h"

namespace {

const std::string kHeader = "Tarvio Version 1.2.0, Drug Database Release Date: 09-14-2007";
const std::string kWrap = "\n\t\t\t";

std::string Format(const std::string& text) {
    return FormatFieldTextForPrint(text.c_str()).GetCString();
}

// The text of a run, for checking that offsets point where they should.
std::string RunText(const TvPrintText& print, const TvPrintRun& run) {
    return std::string(print.text.GetCString()).substr(static_cast<size_t>(run.lStart),
                                                       static_cast<size_t>(run.lLength));
}

TEST(PrintText, FieldTextWrapsAtTheLastSpaceWithinFiftyFiveCharacters) {
    std::string hundred(100, 'x');
    hundred[40] = ' ';
    hundred[80] = ' ';
    std::string withSpaceAt54(60, 'y');
    withSpaceAt54[54] = ' ';
    std::string withSpaceAt55(60, 'z');
    withSpaceAt55[55] = ' ';
    std::string longText;
    for (int i = 0; i < 12; ++i) longText += "word" + std::to_string(i) + " padding ";

    const std::pair<std::string, std::string> cases[] = {
        {std::string(30, 'g'), std::string(30, 'g')},
        {std::string(54, 'a'), std::string(54, 'a')},
        // A 55-character word is cut after its 55th character, leaving an empty continuation.
        {std::string(55, 'b'), std::string(55, 'b') + kWrap},
        {std::string(60, 'c'), std::string(55, 'c') + kWrap + std::string(5, 'c')},
        {hundred, hundred.substr(0, 41) + kWrap + hundred.substr(41, 40) + kWrap +
                      hundred.substr(81)},
        {withSpaceAt54, withSpaceAt54.substr(0, 55) + kWrap + withSpaceAt54.substr(55)},
        // The space after the 55th character is no break: the word is cut.
        {withSpaceAt55, withSpaceAt55.substr(0, 55) + kWrap + withSpaceAt55.substr(55)},
        {"", ""},
        // Line feeds become ", ", the last one too, unless the text is just one line feed.
        {"123\n456\n", "123, 456, "},
        {"\n", "\n"},
        {"\n\n", ", , "},
        {"123\r\n456\r\n", "123, 456, "},
        {"\r\n", "\n"},
        {"a\rb", "a, b"},
    };
    for (const auto& [input, expected] : cases) EXPECT_EQ(Format(input), expected) << input;

    // Every printed line of a long text stays within 55 characters and nothing is lost.
    std::string printed = Format(longText);
    std::string joined;
    size_t start = 0;
    while (true) {
        size_t end = printed.find(kWrap, start);
        std::string line = printed.substr(start, end == std::string::npos ? end : end - start);
        EXPECT_LE(line.size(), 55u);
        joined += line;
        if (end == std::string::npos) break;
        start = end + kWrap.size();
    }
    EXPECT_EQ(joined, longText);
}

TEST(PrintText, DrugPrintoutListsTheNineLabelledFields) {
    TvDrugPrintFields fields;
    fields.GenericName = "Cisplatin";
    fields.Category = "Chemotherapy";
    fields.BrandNames = "Platinol";
    fields.Subcategory = "";  // a field holding EMPTY shows as an empty box
    fields.Abbreviations = "CDDP";
    fields.NSCNumber = "119875\n";
    fields.ChemicalName = std::string(60, 'q').c_str();
    fields.PrimarySites = "Testis, ovary, bladder";
    fields.Remarks = "First line\nSecond line\n";

    TvPrintText print = TvDrugPrintText(fields);
    const std::string expected = kHeader + "\n\n" +
                                 "Generic Name:   \tCisplatin\n\n"
                                 "Category:       \tChemotherapy\n\n"
                                 "Brand Names:    \tPlatinol\n\n"
                                 "Subcategory:    \t\n\n"
                                 "Abbreviation(s):\tCDDP\n\n"
                                 "NSC Number:     \t119875, \n\n"
                                 "Chemical Name:  \t" +
                                 std::string(55, 'q') + kWrap + "qqqqq\n\n" +
                                 "Primary Sites:  \tTestis, ovary, bladder\n\n"
                                 "Remarks:        \tFirst line, Second line, ";
    EXPECT_EQ(print.text.GetCString(), expected);
    EXPECT_STREQ(print.title, "Drug Search Results");

    ASSERT_EQ(print.runs.size(), 10u);
    EXPECT_EQ(print.runs[0], (TvPrintRun{0, static_cast<int32_t>(kHeader.size()),
                                         TvPrintStyle::Header}));
    const char* labels[] = {"Generic Name:   ", "Category:       ", "Brand Names:    ",
                            "Subcategory:    ", "Abbreviation(s):", "NSC Number:     ",
                            "Chemical Name:  ", "Primary Sites:  ", "Remarks:        "};
    for (size_t i = 0; i < 9; ++i) {
        EXPECT_EQ(print.runs[i + 1].style, TvPrintStyle::Label);
        EXPECT_EQ(RunText(print, print.runs[i + 1]), labels[i]);
    }
}

TEST(PrintText, RegimenNameComesFromTheSelectedDropDownItem) {
    const std::pair<const char*, const char*> cases[] = {
        {"1: \"FOLFOX4\"", "FOLFOX4"},
        {"12: \"AC \"T\"\"", "AC \"T\""},
        {"no quote!", "no quote"},
        {"", ""},
        {"\"", ""},
    };
    for (const auto& [item, name] : cases)
        EXPECT_STREQ(TvRegimenNameFromMatchItem(item), name) << item;
}

TEST(PrintText, RegimenPrintoutAlignsTheCodesUnderTheirHeading) {
    const KxString note2 = "Code this regimen in each of the treatment fields shown above.";
    const KxString note = "Note: if two or more drugs are coded as chemotherapy, use code 03, "
                          "combination chemotherapy";
    std::vector<TvRegimenPrintRow> rows = {
        {"Oxaliplatin", "Chemotherapy"},
        {"Leucovorin", "Ancillary,\nnot coded"},
        {"5-FU", "Chemotherapy"},
    };
    TvPrintText print = TvRegimenPrintText("1: \"FOLFOX4\"", rows, note2, note, true);
    // The longest drug has 11 characters: "Drug:" and 6 blanks.
    const std::string expected = kHeader + "\n\n" +
                                 "Regimen: FOLFOX4\n\n"
                                 "\tDrug:      \tCode as:\n"
                                 "\tOxaliplatin\tChemotherapy\n"
                                 "\tLeucovorin \tAncillary, not coded\n"
                                 "\t5-FU       \tChemotherapy\n"
                                 "\n" +
                                 note2.GetCString() + "\n" + note.GetCString();
    EXPECT_EQ(print.text.GetCString(), expected);
    EXPECT_STREQ(print.title, "Regimen Search Results");

    ASSERT_EQ(print.runs.size(), 5u);
    EXPECT_EQ(print.runs[0].style, TvPrintStyle::Notes);
    EXPECT_EQ(RunText(print, print.runs[0]),
              std::string("\n") + note2.GetCString() + "\n" + note.GetCString());
    EXPECT_EQ(print.runs[0].lStart + print.runs[0].lLength, print.text.GetLength());
    EXPECT_EQ(print.runs[1], (TvPrintRun{0, static_cast<int32_t>(kHeader.size()),
                                         TvPrintStyle::Header}));
    const char* labels[] = {"Drug:", "Code as:", "Regimen:"};
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(print.runs[i + 2].style, TvPrintStyle::Label);
        EXPECT_EQ(RunText(print, print.runs[i + 2]), labels[i]);
    }

    // Short drug names: no blanks after "Drug:"; without the note only the first note line.
    print = TvRegimenPrintText("2: \"AC\"", {{"Dox", "Chemotherapy"}, {"CY", "Chemotherapy"}},
                               note2, note, false);
    EXPECT_EQ(print.text.GetCString(), kHeader + "\n\nRegimen: AC\n\n\tDrug:\tCode as:\n"
                                                 "\tDox\tChemotherapy\n\tCY \tChemotherapy\n\n" +
                                           note2.GetCString() + "\n");
    // No rows at all.
    print = TvRegimenPrintText("", {}, note2, note, false);
    EXPECT_EQ(print.text.GetCString(),
              kHeader + "\n\nRegimen: \n\n\tDrug:\tCode as:\n\n" + note2.GetCString() + "\n");
}

} // namespace
