#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/stat.h>

#include <csignal>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/platform_fixture.h"
#include "tvappstate.h"
#include "tverrorreport.h"
#include "tvhistory.h"

namespace {

using kxtest::ReadFile;
using kxtest::WriteFile;

std::vector<std::string> Texts(const KxVector<KxString>& items) {
    std::vector<std::string> texts;
    for (const KxString& item : items) texts.emplace_back(item.GetCString());
    return texts;
}

class HistoryTest : public ::testing::Test {
protected:
    void SetUp() override {
        saved_ = HistoryDirectory;
        HistoryDirectory = (dir_.path() + "/").c_str();
    }
    void TearDown() override { HistoryDirectory = saved_; }

    std::string File() const { return dir_ / "History.txt"; }
    void Set(const std::vector<std::string>& items) {
        history_.GetHistoryItems().clear();
        for (const std::string& item : items) history_.GetHistoryItems().push_back(item.c_str());
    }
    std::vector<std::string> Items() const { return Texts(history_.GetHistoryItems()); }
    std::vector<std::string> Guesses() const { return Texts(history_.GetGuessItems()); }
    // Everything in the directory but the history file.
    std::vector<std::string> OtherFiles() const {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(dir_.path()))
            if (entry.path().filename() != "History.txt") names.push_back(entry.path().filename());
        return names;
    }

    kxtest::TempDir dir_;
    KxString saved_;
    TvRecordingReporter reporter_;
    TvHistory history_{reporter_};
};

TEST_F(HistoryTest, RepeatedSearchMovesToTheEndInItsLatestSpelling) {
    Set({"Paclitaxel", "cisplatin", "Gemcitabine", "Cisplatin"});
    history_.AddToHistory("CISPLATIN");
    // Only the first equal entry goes; the file never holds two, but memory might.
    EXPECT_EQ(Items(), (std::vector<std::string>{"Paclitaxel", "Gemcitabine", "Cisplatin",
                                                 "CISPLATIN"}));
    history_.AddToHistory("docetaxel");
    EXPECT_EQ(Items().back(), "docetaxel");
    // Only ASCII letters fold.
    Set({"\xE9toposide"});
    history_.AddToHistory("\xC9TOPOSIDE");
    EXPECT_EQ(Items(), (std::vector<std::string>{"\xE9toposide", "\xC9TOPOSIDE"}));
}

TEST_F(HistoryTest, FileHoldsEntriesSeparatedBySemicolonAndBlankWithoutLineEnd) {
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{"ALPHA", "BETA", "GAMMA"}, "ALPHA; BETA; GAMMA "},
        {{"ALPHA", "BETA"}, "ALPHA; BETA "},
        {{""}, " "},
        {{}, ""},
    };
    for (const auto& [items, bytes] : cases) {
        WriteFile(File(), "old contents");
        Set(items);
        history_.SaveHistory();
        EXPECT_EQ(ReadFile(File()), bytes);
    }
    EXPECT_EQ(ReadFile(File()).size(), 0u);
    Set({"ALPHA", "BETA", "GAMMA"});
    history_.SaveHistory();
    EXPECT_EQ(ReadFile(File()).size(), 19u);
    EXPECT_TRUE(reporter_.GetReports().empty());
    EXPECT_TRUE(OtherFiles().empty());
}

TEST_F(HistoryTest, LoadGivesBackTheEntriesOfTheFile) {
    const std::pair<std::string, std::vector<std::string>> cases[] = {
        {"ALPHA; BETA; GAMMA ", {"ALPHA", "BETA", "GAMMA"}},
        // Readers take the first line, either line end, and drop trailing blanks.
        {"ALPHA; BETA\r\nGAMMA", {"ALPHA", "BETA"}},
        {"ALPHA;  BETA \t\n", {"ALPHA", "BETA"}},
        // A semicolon typed into a search comes back as two entries.
        {"5-FU;LV; CMF ", {"5-FU", "LV", "CMF"}},
        // An empty file is one empty entry, which stays.
        {"", {""}},
    };
    for (const auto& [bytes, items] : cases) {
        WriteFile(File(), bytes);
        Set({"in memory"});
        history_.LoadHistory();
        EXPECT_EQ(Items(), items) << bytes;
    }
    // Without a file the entries in memory stay.
    std::filesystem::remove(File());
    Set({"kept"});
    history_.LoadHistory();
    EXPECT_EQ(Items(), (std::vector<std::string>{"kept"}));
    EXPECT_TRUE(reporter_.GetReports().empty());
}

TEST_F(HistoryTest, SavedHistoryLoadsBack) {
    WriteFile(File(), "");
    Set({"Gemcitabine", "R-CHOP", "5-FU"});
    history_.SaveHistory();
    Set({});
    history_.LoadHistory();
    EXPECT_EQ(Items(), (std::vector<std::string>{"Gemcitabine", "R-CHOP", "5-FU"}));
}

TEST_F(HistoryTest, SuggestionsAreNewestFirstAndSizeTheList) {
    Set({"Gemcitabine", "Paclitaxel", "Pemetrexed"});
    struct Case {
        const char* typed;
        std::vector<std::string> guesses;
        int32_t height;
    };
    const Case cases[] = {
        {"pa", {"Paclitaxel"}, 20},
        {"p", {"Pemetrexed", "Paclitaxel"}, 40},
        {"", {"Pemetrexed", "Paclitaxel", "Gemcitabine"}, 54},
        {"PEMETREXED", {"Pemetrexed"}, 20},
    };
    for (const Case& c : cases) {
        history_.GuessFromHistory(c.typed);
        EXPECT_EQ(Guesses(), c.guesses) << c.typed;
        EXPECT_TRUE(history_.GetListVisible());
        EXPECT_EQ(history_.GetListHeight(), c.height) << c.typed;
    }
    Set({"a1", "a2", "a3", "a4", "a5"});
    history_.GuessFromHistory("A");
    EXPECT_EQ(history_.GetListHeight(), 54);
    history_.GuessFromHistory("a2");
    EXPECT_EQ(history_.GetListHeight(), 20);
    // None: hidden, and the height stays.
    history_.GuessFromHistory("x");
    EXPECT_TRUE(Guesses().empty());
    EXPECT_FALSE(history_.GetListVisible());
    EXPECT_EQ(history_.GetListHeight(), 20);
}

TEST_F(HistoryTest, EmptyEntryIsSuggestedOnlyForAnEmptyBox) {
    WriteFile(File(), "");
    history_.LoadHistory();
    history_.GuessFromHistory("c");
    EXPECT_TRUE(Guesses().empty());
    history_.GuessFromHistory("");
    EXPECT_EQ(Guesses(), (std::vector<std::string>{""}));
}

TEST_F(HistoryTest, SelectFromHistoryOutsideTheSuggestionsFails) {
    Set({"Gemcitabine", "Paclitaxel"});
    history_.GuessFromHistory("");
    history_.SetHistoryIndex(1);
    EXPECT_EQ(std::string(history_.SelectFromHistory().GetCString()), "Gemcitabine");
    history_.SetHistoryIndex(2);
    try {
        history_.SelectFromHistory();
        ADD_FAILURE() << "no exception";
    } catch (KxException& e) {
        EXPECT_STREQ(e.GetErrorMessage(), "Index 2 out of range; array is from 0 to 1");
        EXPECT_STREQ(e.GetCallpath(), "SelectFromHistory() of TfrmMain");
    }
}

TEST_F(HistoryTest, ReadOnlyOrMissingFileIsNotWrittenButWarnedAbout) {
    Set({"ALPHA"});
    history_.SaveHistory();
    EXPECT_FALSE(std::filesystem::exists(File()));

    WriteFile(File(), "OLD ", 0444);
    history_.SaveHistory();
    EXPECT_EQ(ReadFile(File()), "OLD ");

    ASSERT_EQ(reporter_.GetReports().size(), 2u);
    for (const auto& report : reporter_.GetReports()) {
        EXPECT_FALSE(report.isError);
        EXPECT_STREQ(report.source.GetCString(), "Warning!");
        EXPECT_EQ(std::string(report.message.GetCString()),
                  "Cannot save history.  The file " + File() +
                      " is currently 'Read-Only.'\nChange the history file location or turn off "
                      "history feature to stop seeing this message.");
    }
}

TEST_F(HistoryTest, FileIsWritableOnlyForAnExistingWritableFile) {
    EXPECT_FALSE(FileIsWritable(File().c_str()));
    WriteFile(File(), "", 0644);
    EXPECT_TRUE(FileIsWritable(File().c_str()));
    ::chmod(File().c_str(), 0444);
    EXPECT_FALSE(FileIsWritable(File().c_str()));
    EXPECT_FALSE(FileIsWritable(""));
}

// Writes beyond this many bytes fail (with EFBIG) for the scope of the guard, as on a full
// disk; that works for a privileged user too.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        ::getrlimit(RLIMIT_FSIZE, &old_);
        oldHandler_ = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit = old_;
        limit.rlim_cur = bytes;
        ::setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit() {
        ::setrlimit(RLIMIT_FSIZE, &old_);
        std::signal(SIGXFSZ, oldHandler_);
    }

private:
    rlimit old_{};
    void (*oldHandler_)(int);
};

TEST_F(HistoryTest, FailedSaveLeavesTheOldFileWhole) {
    WriteFile(File(), "Gemcitabine; Paclitaxel ");
    Set({std::string(200, 'x'), "Gemcitabine", "Paclitaxel"});
    {
        FileSizeLimit limit(100);
        history_.SaveHistory();
    }
    EXPECT_EQ(ReadFile(File()), "Gemcitabine; Paclitaxel ");
    EXPECT_TRUE(OtherFiles().empty());
    EXPECT_EQ(Items().size(), 3u);
    ASSERT_EQ(reporter_.GetErrorCount(), 1);
    std::string path = reporter_.GetFirstError()->callpath.GetCString();
    EXPECT_EQ(path.substr(path.rfind("\r\n") + 2), "SaveHistory() of TfrmMain");
}

TEST_F(HistoryTest, SaveKeepsThePermissionsOfTheFile) {
    WriteFile(File(), "", 0640);
    Set({"ALPHA"});
    history_.SaveHistory();
    EXPECT_EQ(kxtest::ModeOf(File()), 0640u);
}

TEST_F(HistoryTest, FailedLoadKeepsTheEntriesInMemory) {
    std::filesystem::create_directory(File());
    Set({"ALPHA"});
    history_.LoadHistory();
    EXPECT_EQ(Items(), (std::vector<std::string>{"ALPHA"}));
    ASSERT_EQ(reporter_.GetErrorCount(), 1);
    std::string path = reporter_.GetFirstError()->callpath.GetCString();
    EXPECT_EQ(path.substr(path.rfind("\r\n") + 2), "LoadHistory() of TfrmMain");
}

} // namespace
