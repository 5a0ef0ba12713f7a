#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "searchfixture.h"
#include "tvdrugsearch.h"

namespace {

using tvtest::Drug;
using tvtest::Row;

std::vector<std::string> Words(const TvDrugMatch& match) {
    std::vector<std::string> words;
    for (const KxString& word : match.MatchedWords) words.emplace_back(word.GetCString());
    return words;
}

std::vector<int16_t> Fields(const TvDrugMatch& match) {
    return std::vector<int16_t>(match.FieldNumbers.begin(), match.FieldNumbers.end());
}

std::vector<int16_t> Records(const TvDrugSearch& search) {
    std::vector<int16_t> records;
    for (const TvDrugMatch& match : search.GetMatches()) records.push_back(match.RecordNumber);
    return records;
}

class DrugSearchTest : public tvtest::SearchTest {
protected:
    // Runs a search over the drugs (from record 2); the reports stay in reporter_.
    std::unique_ptr<TvDrugSearch> Search(const std::vector<Row>& drugs, const std::string& text) {
        std::string path = WriteDrugs(drugs, "DrugData" + std::to_string(++sets_));
        auto search = std::make_unique<TvDrugSearch>(KxString(text.c_str()),
                                                     KxString(path.c_str()), reporter_);
        search->SearchData();
        return search;
    }

    int sets_ = 0;
};

// ---- CheckField ----------------------------------------------------------------------------

struct CheckCase {
    const char* field;
    const char* word;
    int16_t strengthBefore;
    bool hit;
    int16_t strengthAfter;
    std::vector<std::string> words;
};

TEST(CheckFieldTest, StrengthAndMatchedWords) {
    const CheckCase cases[] = {
        {"CISPLATIN", "cisplatin", 0, true, 3, {"CISPLATIN"}},
        {"cisplatin-based therapy", "Cisplatin", 0, true, 2, {"cisplatin-based"}},
        {"Platinol", "tino", 0, true, 1, {"Platinol"}},
        // Strength is only raised, except that equality always sets it.
        {"Platinol", "tino", 3, true, 3, {"Platinol"}},
        {"Platinol AQ", "platinol", 1, true, 3, {"Platinol"}},
        // Every matching token is recorded, in the field's letter case.
        {"ab xab Ab", "ab", 0, true, 3, {"ab", "xab", "Ab"}},
        // Only the space splits: a line break or a tab stays inside the token.
        {"given with\nleucovorin", "leucovorin", 0, true, 1, {"with\nleucovorin"}},
        {"given with\tleucovorin", "leucovorin", 0, true, 1, {"with\tleucovorin"}},
        // A word with a space matches the whole text only, recorded as the caller wrote it.
        {"carboplatin and paclitaxel", "And Paclitaxel", 0, true, 3, {"And Paclitaxel"}},
        {"carboplatin and paclitaxel", "and  paclitaxel", 0, false, 0, {}},
        {"EMPTY", "EMPTY", 0, true, 3, {"EMPTY"}},
        {"", "x", 2, false, 2, {}},
        {"a b ", "x", 0, false, 0, {}},
        // The empty word begins every token and equals the empty last one.
        {"trailing ", "", 0, true, 3, {"trailing", ""}},
        {"word", "", 0, true, 2, {"word"}},
        // Only ASCII letters fold: e acute (0xE9) and E acute (0xC9) stay apart.
        {"\xE9mile", "\xC9MILE", 0, false, 0, {}},
        {"\xE9mile", "\xE9MILE", 0, true, 3, {"\xE9mile"}},
        // Long texts fold eight bytes at a time; the neighbours of the letters stay.
        {"\xE1\xFA`{@[ abc-platinum-xyz tail", "PLATINUM", 0, true, 1, {"abc-platinum-xyz"}},
        {"aaaaaaaa\xE1" "bbbbbbbbbbbbbbb", "\xC1", 0, false, 0, {}},
        {"zzzzzzzz`{@[~", "`{@[", 0, true, 1, {"zzzzzzzz`{@[~"}},
        // Near misses and a word longer than the vectorised search takes.
        {"platinuplatinux platinumm", "platinum", 0, true, 2, {"platinumm"}},
        {"see non-cyclophosphamide-based and", "CYCLOPHOSPHAMIDE-BAS", 0, true, 1,
         {"non-cyclophosphamide-based"}},
        {"cyclophosphamide-bas", "CYCLOPHOSPHAMIDE-BASED", 0, false, 0, {}},
        // The word that lists everything matches every field with its upper-cased text, and
        // leaves the strength alone; only its exact upper-case form does so.
        {"Alkylating agent", "GETALLRECORDS", 1, true, 1, {"ALKYLATING AGENT"}},
        {"", "GETALLRECORDS", 0, true, 0, {""}},
        {"Alkylating agent", "getallrecords", 0, false, 0, {}},
    };
    for (const CheckCase& c : cases) {
        SCOPED_TRACE(std::string("field \"") + c.field + "\", word \"" + c.word + "\"");
        TvRecordingReporter reporter;
        TvDrugSearch search("unused", "unused.txd", reporter);
        int16_t strength = c.strengthBefore;
        EXPECT_EQ(search.CheckField(c.field, 2, c.word, strength), c.hit);
        EXPECT_EQ(strength, c.strengthAfter);
        EXPECT_EQ(Words(search.GetWorkingMatch()), c.words);
        EXPECT_TRUE(reporter.GetReports().empty());
    }
}

// ---- scoring over data sets ------------------------------------------------------------------

TEST_F(DrugSearchTest, WorkedExampleScores117InAnyLetterCase) {
    for (const char* text : {"cisplatin", "CISPLATIN", "Cisplatin"}) {
        SCOPED_TRACE(text);
        // The remarks are long enough for the blob file.
        auto search = Search({Drug({{5, "CISPLATIN"},
                                    {14, "Often given as part of cisplatin-based regimens"}}),
                              Drug({{5, "CARBOPLATIN"}})},
                             text);
        ASSERT_EQ(search->GetMatches().size(), 1u);
        const TvDrugMatch& match = search->GetMatches()[0];
        EXPECT_EQ(match.RecordNumber, 2);
        EXPECT_EQ(match.FieldStrength, 117);
        EXPECT_EQ(match.MatchStrength, 3);
        EXPECT_EQ(Fields(match), (std::vector<int16_t>{5, 14}));
        EXPECT_EQ(Words(match), (std::vector<std::string>{"CISPLATIN", "cisplatin-based"}));
    }
    EXPECT_TRUE(reporter_.GetReports().empty());
}

TEST_F(DrugSearchTest, VersionRecordAndUnsearchedFieldsNeverMatch) {
    std::vector<Row> rows{tvtest::VersionRecord(17, "vincristine"), Drug({{2, "vincristine"}}),
                          Drug({{16, "vincristine"}}), Drug({{13, "vincristine"}})};
    std::string path = Path("Drugs.txd");
    tvtest::WriteDataSet(path, 17, rows);
    TvDrugSearch search("vincristine", path.c_str(), reporter_);
    search.SearchData();
    // Field 13 is searched although never shown.
    EXPECT_EQ(Records(search), (std::vector<int16_t>{4}));
}

TEST_F(DrugSearchTest, StrengthCarriesIntoLaterFields) {
    // The category equals the word, so the generic name that only contains it still earns the
    // name bonus for strength 3: 4 + 113.
    auto search = Search({Drug({{0, "Platinum"}, {5, "Carboplatinum"}}),
                          Drug({{5, "Carboplatinum"}})},
                         "platinum");
    ASSERT_EQ(search->GetMatches().size(), 2u);
    EXPECT_EQ(search->GetMatches()[0].FieldStrength, 117);
    EXPECT_EQ(search->GetMatches()[1].FieldStrength, 11);
    EXPECT_EQ(search->GetMatches()[1].MatchStrength, 1);
}

TEST_F(DrugSearchTest, PhrasePassEarnsTheBonusAndMergesLaterPasses) {
    auto search = Search({Drug({{5, "carboplatin and paclitaxel"}}),
                          Drug({{5, "carboplatin paclitaxel"}}),
                          Drug({{9, "Paclitaxel"}})},
                         "Carboplatin Paclitaxel");
    ASSERT_EQ(Records(*search), (std::vector<int16_t>{3, 2, 4}));
    const TvDrugMatch& phrase = search->GetMatches()[0];
    // The phrase pass (1 + 9 + 100 + 500 + 3), then each word (1 + 9 + 100 + 3).
    EXPECT_EQ(phrase.FieldStrength, 613 + 113 + 113);
    EXPECT_EQ(Fields(phrase), (std::vector<int16_t>{5, 5, 5}));
    EXPECT_EQ(Words(phrase), (std::vector<std::string>{"Carboplatin Paclitaxel", "carboplatin",
                                                       "paclitaxel"}));
    EXPECT_EQ(search->GetMatches()[1].FieldStrength, 113 + 113);
    EXPECT_EQ(search->GetMatches()[2].FieldStrength, 113);
}

TEST_F(DrugSearchTest, LaterPassesAddToTheEntryButKeepItsFirstMatchStrength) {
    // "xyz" is only contained (strength 1) in pass 1; "abc" equals a name in pass 2.
    auto search = Search({Drug({{5, "abc"}, {14, "wxyzw"}})}, "xyz abc");
    ASSERT_EQ(search->GetMatches().size(), 1u);
    const TvDrugMatch& match = search->GetMatches()[0];
    EXPECT_EQ(match.FieldStrength, 2 + 113);
    EXPECT_EQ(match.MatchStrength, 1);
    EXPECT_EQ(Fields(match), (std::vector<int16_t>{14, 5}));
    EXPECT_EQ(Words(match), (std::vector<std::string>{"wxyzw", "abc"}));
}

TEST_F(DrugSearchTest, QuotedTextIsOnePassWithoutThePhraseBonus) {
    auto search = Search({Drug({{8, "5-FU"}}), Drug({{5, "carboplatin paclitaxel"}}),
                          Drug({{14, "5-FU and leucovorin"}})},
                         "\"5-FU\"");
    ASSERT_EQ(Records(*search), (std::vector<int16_t>{2, 4}));
    EXPECT_EQ(search->GetMatches()[0].FieldStrength, 113);
    EXPECT_EQ(search->GetMatches()[1].FieldStrength, 4);

    auto phrase = Search({Drug({{5, "carboplatin paclitaxel"}}), Drug({{5, "carboplatin"}})},
                         "\"carboplatin paclitaxel\"");
    ASSERT_EQ(Records(*phrase), (std::vector<int16_t>{2}));
    EXPECT_EQ(phrase->GetMatches()[0].FieldStrength, 113);
    EXPECT_EQ(Words(phrase->GetMatches()[0]),
              (std::vector<std::string>{"carboplatin paclitaxel"}));
}

TEST_F(DrugSearchTest, EqualEntriesKeepTheOrderTheyWereFirstMatchedIn) {
    // Record 3 is found in pass 1, records 2 and 4 in pass 2, all with the same keys.
    auto search = Search({Drug({{14, "bb"}}), Drug({{14, "aa"}}), Drug({{14, "bb"}}),
                          Drug({{5, "bb"}})},
                         "aa bb");
    EXPECT_EQ(Records(*search), (std::vector<int16_t>{5, 3, 2, 4}));
}

TEST_F(DrugSearchTest, GetAllRecordsListsEveryDrugInDataSetOrder) {
    std::vector<Row> drugs{Drug({{5, "CISPLATIN"}, {0, "Alkylating agent"}}),
                           Drug({{5, "Carboplatin"}}), Drug({})};
    auto all = Search(drugs, "GETALLRECORDS");
    ASSERT_EQ(Records(*all), (std::vector<int16_t>{2, 3, 4}));
    for (const TvDrugMatch& match : all->GetMatches()) {
        EXPECT_EQ(match.FieldStrength, 47);
        EXPECT_EQ(match.MatchStrength, 0);
        EXPECT_EQ(match.FieldNumbers.size(), 11u);
    }
    EXPECT_EQ(Words(all->GetMatches()[0]),
              (std::vector<std::string>{"ALKYLATING AGENT", "", "CISPLATIN", "", "", "", "", "",
                                        "", "", ""}));
    // Any other spelling is an ordinary word.
    EXPECT_TRUE(Search(drugs, "getallrecords")->HasNoMatches());
    EXPECT_EQ(Records(*Search({Drug({}), Drug({{14, "see GetAllRecords"}})}, "getallrecords")),
              (std::vector<int16_t>{3}));
}

TEST_F(DrugSearchTest, EmptyTextMatchesEveryFieldOfEveryRecord) {
    auto search = Search({Drug({{5, "a"}}), Drug({})}, "");
    ASSERT_EQ(Records(*search), (std::vector<int16_t>{2, 3}));
    for (const TvDrugMatch& match : search->GetMatches()) {
        EXPECT_EQ(match.FieldNumbers.size(), 11u);
        EXPECT_GE(match.MatchStrength, 2);
    }
}

// ---- 16-bit scores ---------------------------------------------------------------------------

TEST(DrugScoreTest, SumsStayAtTheLimitsOfSixteenBits) {
    EXPECT_EQ(TvDrugSearch::AddScore(100, 13), 113);
    EXPECT_EQ(TvDrugSearch::AddScore(32700, 613), 32767);
    EXPECT_EQ(TvDrugSearch::AddScore(32767, 32767), 32767);
    EXPECT_EQ(TvDrugSearch::AddScore(-32768, -1), -32768);
}

TEST_F(DrugSearchTest, VeryLongSearchKeepsTheBestRecordFirst) {
    // 69 passes of the word x: the record holding x in all eleven fields scores 480 a pass,
    // 33120 in all, which would wrap to a negative score and sink to the bottom.
    std::string text = "x";
    for (int i = 1; i < 69; ++i) text += " x";
    Row everywhere = Drug({});
    for (int16_t f = 0; f < kDrugFieldCount; ++f)
        if (SearchedFields[f]) everywhere[static_cast<size_t>(f)] = "x";
    auto search = Search({Drug({{5, "x"}}), everywhere}, text);
    ASSERT_EQ(Records(*search), (std::vector<int16_t>{3, 2}));
    EXPECT_EQ(search->GetMatches()[0].FieldStrength, 32767);
    EXPECT_EQ(search->GetMatches()[1].FieldStrength, 69 * 113);
}

// ---- sorting ---------------------------------------------------------------------------------

// The ranking as two passes of the classic bubble sort, written out plainly.
void BubbleSortTwice(std::vector<TvDrugMatch>& m) {
    int n = static_cast<int>(m.size());
    for (int i = 0; i < n; ++i)
        for (int j = 0; j < n - i - 1; ++j)
            if (m[j + 1].FieldStrength > m[j].FieldStrength) std::swap(m[j], m[j + 1]);
    for (int i = 0; i < n; ++i)
        for (int j = 0; j < n - i - 1; ++j)
            if (m[j + 1].MatchStrength > m[j].MatchStrength &&
                m[j + 1].FieldStrength == m[j].FieldStrength)
                std::swap(m[j], m[j + 1]);
}

TEST(DrugSortTest, OrdersExactlyAsTwoBubbleSortPasses) {
    std::mt19937 random(7);
    for (int round = 0; round < 200; ++round) {
        std::vector<TvDrugMatch> list(random() % 40);
        for (size_t i = 0; i < list.size(); ++i) {
            list[i].RecordNumber = static_cast<int16_t>(i + 2);
            // Few distinct values, so that ties are common; negative scores too.
            int tier = static_cast<int>(random() % 5);
            list[i].FieldStrength = static_cast<int16_t>(tier * 113 - 113);
            list[i].MatchStrength = static_cast<int16_t>(random() % 4);
        }
        TvRecordingReporter reporter;
        TvDrugSearch search("unused", "unused.txd", reporter);
        search.GetMatches().assign(list.begin(), list.end());
        search.SortRecordMatches();
        BubbleSortTwice(list);
        std::vector<int16_t> expected;
        for (const TvDrugMatch& match : list) expected.push_back(match.RecordNumber);
        ASSERT_EQ(Records(search), expected) << "round " << round;
    }
}

// ---- failures --------------------------------------------------------------------------------

TEST_F(DrugSearchTest, MissingDataSetGivesOneReportAndNoMatches) {
    TvDrugSearch search("cisplatin", Path("Missing.txd").c_str(), reporter_);
    search.SearchData();
    EXPECT_TRUE(search.HasNoMatches());
    ASSERT_EQ(reporter_.GetReports().size(), 1u);
    const auto& report = reporter_.GetReports()[0];
    EXPECT_TRUE(report.isError);
    std::string path = report.callpath.GetCString();
    EXPECT_EQ(path.substr(path.rfind("\r\n") + 2), "SearchData() of TfrmDrug");
}

TEST_F(DrugSearchTest, DamagedRecordKeepsTheMatchesFoundBeforeIt) {
    std::string path = WriteDrugs({Drug({{14, "taxane"}}), Drug({{5, "taxane"}}), Drug({}),
                                   Drug({{5, "taxane"}})});
    DamageLineEnd(path, 4);
    TvDrugSearch search("taxane", path.c_str(), reporter_);
    search.SearchData();
    // Found before the failure, and left in the order found.
    EXPECT_EQ(Records(search), (std::vector<int16_t>{2, 3}));
    ASSERT_EQ(reporter_.GetErrorCount(), 1);
    const auto* report = reporter_.GetFirstError();
    EXPECT_NE(std::string(report->message.GetCString()).find("record 4"), std::string::npos);
    std::string callpath = report->callpath.GetCString();
    EXPECT_EQ(callpath.substr(callpath.rfind("\r\n") + 2), "SearchData() of TfrmDrug");
}

TEST_F(DrugSearchTest, DefaultDataFileIsInTheDataDirectory) {
    KxString saved = DataDirectory;
    DataDirectory = (dir_.path() + "/").c_str();
    WriteDrugs({Drug({{5, "ifosfamide"}})});
    TvDrugSearch search("ifosfamide", reporter_);
    search.SearchData();
    DataDirectory = saved;
    EXPECT_EQ(std::string(search.GetDataFileName().GetCString()), dir_.path() + "/DrugData.txd");
    EXPECT_EQ(Records(search), (std::vector<int16_t>{2}));
}

} // namespace
