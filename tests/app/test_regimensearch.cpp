#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "searchfixture.h"
#include "tvregimensearch.h"

namespace {

using tvtest::Row;

// (record, quality, name) of each match, in list order.
using Listing = std::vector<std::tuple<int, int, std::string>>;

Listing ListingOf(const TvRegimenSearch& search) {
    Listing listing;
    for (const TvRegimenMatch& match : search.GetMatches())
        listing.emplace_back(match.RecordNumber, match.MatchQuality,
                             match.RegimenName.GetCString());
    return listing;
}

class RegimenSearchTest : public tvtest::SearchTest {
protected:
    Listing Search(const std::string& path, const std::string& text) {
        TvRegimenSearch search(text.c_str(), path.c_str(), reporter_);
        search.BuildIgnoreVector();
        search.SearchData();
        return ListingOf(search);
    }
};

TEST(RemoveCharactersTest, KeepsOnlyAsciiLettersAndDigits) {
    const std::pair<const char*, const char*> cases[] = {
        {"FOLFOX-4", "FOLFOX4"},
        {"folfox 4", "folfox4"},
        {"--", ""},
        {"", ""},
        {"R-CHOP/14", "RCHOP14"},
        {" a\tb\r\n(c)", "abc"},
        // Bytes of 128 and more go as well, letters of the code page among them.
        {"\xC9" "CF\xA0" "x", "CFx"},
    };
    for (const auto& [text, expected] : cases)
        EXPECT_EQ(std::string(TvRegimenSearch::RemoveCharacters(text).GetCString()), expected)
            << text;
}

TEST_F(RegimenSearchTest, EqualNamesFirstThenBeginningThenContaining) {
    std::string path = WriteRegimens({{"CMF-AC", "a", "b"}, {"AC-T", "a", "b"}, {"CAF", "a", "b"},
                                      {"AC", "a", "b"}, {"TAC", "a", "b"}});
    Listing expected{{5, 1, "AC"}, {3, 2, "AC-T"}, {2, 3, "CMF-AC"}, {6, 3, "TAC"}};
    for (const char* text : {"AC", "ac", "a-c", " A C "})
        EXPECT_EQ(Search(path, text), expected) << text;
    EXPECT_TRUE(reporter_.GetReports().empty());
}

TEST_F(RegimenSearchTest, SpellingsOfOneNameAreOneSearch) {
    std::string path = WriteRegimens({{"FOLFOX-4", "a", "b"}, {"FOLFOX-6", "a", "b"}});
    for (const char* text : {"FOLFOX-4", "folfox 4", "FOLFOX4", "Folfox/4"})
        EXPECT_EQ(Search(path, text), (Listing{{2, 1, "FOLFOX-4"}})) << text;
}

TEST_F(RegimenSearchTest, NamesDifferingInPunctuationKeepDataSetOrder) {
    std::string path = WriteRegimens({{"CAF", "a", "b"}, {"C-A-F", "a", "b"}, {"CA", "a", "b"},
                                      {"c a f", "a", "b"}});
    EXPECT_EQ(Search(path, "CAF"), (Listing{{2, 1, "CAF"}, {3, 1, "C-A-F"}, {5, 1, "c a f"}}));
}

TEST_F(RegimenSearchTest, TextWithoutLettersOrDigitsMatchesEveryRecord) {
    std::string path = WriteRegimens({{"AC", "a", "b"}, {"--", "a", "b"}, {"", "a", "b"}});
    EXPECT_EQ(Search(path, "--"), (Listing{{3, 1, "--"}, {4, 1, ""}, {2, 2, "AC"}}));
}

TEST_F(RegimenSearchTest, VersionRecordIsNeverListedAndTextsStayAsStored) {
    std::string drugs = "Cyclophosphamide by continuous infusion; Doxorubicin; Fluorouracil";
    std::string codes = "Chemo, Code 01; CHEMO; chemotherapy 01, 02";
    std::vector<Row> rows{{"CAF", "1.2.0", ""}, {"caf", drugs, codes}};
    std::string path = Path("Regimens.txd");
    tvtest::WriteDataSet(path, 3, rows);
    TvRegimenSearch search("caf", path.c_str(), reporter_);
    search.SearchData();
    ASSERT_EQ(search.GetMatches().size(), 1u);
    const TvRegimenMatch& match = search.GetMatches()[0];
    EXPECT_EQ(match.RecordNumber, 2);
    EXPECT_EQ(std::string(match.RegimenName.GetCString()), "caf");
    EXPECT_EQ(std::string(match.DrugList.GetCString()), drugs);
    EXPECT_EQ(std::string(match.CodeList.GetCString()), codes);
    EXPECT_EQ(std::string(search.GetSearchText().GetCString()), "caf");
    EXPECT_EQ(std::string(search.GetCleanSearchText().GetCString()), "caf");
}

TEST_F(RegimenSearchTest, RemoveIgnoreWordsTakesAtMostOnePhrase) {
    const std::pair<const char*, const char*> cases[] = {
        {"Cisplatin high-dose", "Cisplatin"},
        {"Cyclophosphamide by continuous infusion", "Cyclophosphamide"},
        {"HIGH-DOSE Methotrexate", "Methotrexate"},
        // "fractionated" comes before "low-dose" in the list; the two blanks stay.
        {"low-dose fractionated cytarabine", "low-dose  cytarabine"},
        // Only the first occurrence of the phrase.
        {"pilot pilot", "pilot"},
        // A substring match, not a word match.
        {"Supermethrin", "methrin"},
        {" Doxorubicin  ", " Doxorubicin  "},
        {"", ""},
    };
    TvRegimenSearch search("x", "unused.txd", reporter_);
    search.BuildIgnoreVector();
    ASSERT_EQ(search.GetIgnoreWords().size(), 16u);
    for (const auto& [text, expected] : cases)
        EXPECT_EQ(std::string(search.RemoveIgnoreWords(text).GetCString()), expected) << text;
}

TEST_F(RegimenSearchTest, MissingDataSetGivesOneReportAndNoMatches) {
    TvRegimenSearch search("AC", Path("Missing.txd").c_str(), reporter_);
    search.SearchData();
    EXPECT_TRUE(search.HasNoMatches());
    ASSERT_EQ(reporter_.GetErrorCount(), 1);
    std::string path = reporter_.GetFirstError()->callpath.GetCString();
    EXPECT_EQ(path.substr(path.rfind("\r\n") + 2), "SearchData() of TfrmRegimen");
}

TEST_F(RegimenSearchTest, DamagedRecordKeepsTheMatchesFoundBeforeIt) {
    std::string path = WriteRegimens({{"CMF-AC", "a", "b"}, {"AC", "a", "b"}, {"X", "a", "b"},
                                      {"AC-T", "a", "b"}});
    DamageLineEnd(path, 4);
    TvRegimenSearch search("AC", path.c_str(), reporter_);
    search.SearchData();
    EXPECT_EQ(ListingOf(search), (Listing{{2, 3, "CMF-AC"}, {3, 1, "AC"}}));
    EXPECT_EQ(reporter_.GetErrorCount(), 1);
}

} // namespace
