#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <optional>
#include <string>

#include "kxplatform_path.h"
#include "platform/platform_fixture.h"
#include "tvappstate.h"
#include "tvdirectorydialog.h"
#include "tvregistry.h"

namespace {

using kxtest::ReadFile;
using kxtest::WriteFile;

const char* const kDataSetFiles[] = {"DrugData.txd", "Regimens.txd", "DrugData.kxb",
                                     "Regimens.kxb", "DrugData.klg", "Regimens.klg",
                                     "DrugData.kxs", "Regimens.kxs"};

class DirectoryDialogTest : public ::testing::Test {
protected:
    void SetUp() override {
        savedData_ = DataDirectory;
        savedHistory_ = HistoryDirectory;
        DataDirectory = "/nowhere/data/";
        HistoryDirectory = "/nowhere/history/";
        std::filesystem::create_directory(dir_ / "config");
    }
    void TearDown() override {
        DataDirectory = savedData_;
        HistoryDirectory = savedHistory_;
    }

    // A directory holding (empty stand-ins of) the data set files, all but the one named.
    std::string DataSets(const std::string& name, const std::string& without = "") {
        std::string directory = dir_ / name;
        std::filesystem::create_directory(directory);
        for (const char* file : kDataSetFiles)
            if (without != file) WriteFile(directory + "/" + file, "");
        return directory;
    }
    std::string Directory(const std::string& name) {
        std::string directory = dir_ / name;
        std::filesystem::create_directory(directory);
        return directory;
    }
    static std::optional<std::string> Stored(uint8_t uMode) {
        KxString path;
        if (!tvRegistry::GetUserDataPath(path, uMode)) return std::nullopt;
        return std::string(path.GetCString());
    }
    static std::string ProgramDirectory() { return kxplatform::ExecutableDirectory().value(); }

    kxtest::TempDir dir_;
    kxtest::EnvGuard config_{"XDG_CONFIG_HOME", dir_ / "config"};
    KxString savedData_;
    KxString savedHistory_;
};

TEST_F(DirectoryDialogTest, EachModeShowsItsOwnControlsAndStartingText) {
    TvDirectoryDialog data(kDataDirectoryMode);
    EXPECT_STREQ(data.GetCaption(), "Set Data Files Directory");
    EXPECT_STREQ(data.GetLabel(), "Data Directory");
    EXPECT_TRUE(data.ShowsUseDefault());
    EXPECT_FALSE(data.ShowsUseHistory());
    EXPECT_FALSE(data.ShowsClearHistory());
    EXPECT_EQ(data.GetInitialText().GetCString(), ProgramDirectory() + "Data/");
    EXPECT_EQ(data.GetDefaultText().GetCString(), ProgramDirectory() + "Data/");

    tvRegistry::SetOption(1, tvRegistry::kHistoryOption);
    TvDirectoryDialog history(kHistoryDirectoryMode);
    EXPECT_STREQ(history.GetCaption(), "History File Options");
    EXPECT_STREQ(history.GetLabel(), "History File Directory");
    EXPECT_FALSE(history.ShowsUseDefault());
    EXPECT_TRUE(history.ShowsUseHistory());
    EXPECT_TRUE(history.ShowsClearHistory());
    EXPECT_TRUE(history.GetUseHistoryTicked());
    // With nothing stored, the program's own directory.
    EXPECT_EQ(history.GetInitialText().GetCString(), ProgramDirectory());

    tvRegistry::SetOption(0, tvRegistry::kHistoryOption);
    EXPECT_FALSE(TvDirectoryDialog(kHistoryDirectoryMode).GetUseHistoryTicked());

    // A stored directory comes back ending with the separator; "Use Default" ignores it.
    tvRegistry::SetUserDataPath(" /stored/data ", tvRegistry::kDataDirectory);
    EXPECT_STREQ(data.GetInitialText(), "/stored/data/");
    EXPECT_EQ(data.GetDefaultText().GetCString(), ProgramDirectory() + "Data/");
}

TEST_F(DirectoryDialogTest, DataDirectoryIsNormalisedCheckedAndStored) {
    std::string data = DataSets("data");
    std::string backslashed = data;
    backslashed.replace(backslashed.rfind('/'), 1, "\\");
    const std::string boxes[] = {"  " + data + "/ \t", data + "\\\\", data, backslashed + "/\\/"};
    for (const std::string& box : boxes) {
        DataDirectory = "/nowhere/data/";
        TvDirectoryDialog dialog(kDataDirectoryMode);
        TvDirectoryOkOutcome outcome = dialog.Ok(box.c_str(), false);
        EXPECT_TRUE(outcome.accepted) << box << ": " << outcome.messageText.GetCString();
        EXPECT_EQ(outcome.boxText.GetCString(), data) << box;
        EXPECT_TRUE(outcome.messageText.IsEmpty());
        EXPECT_EQ(DataDirectory.GetCString(), data + "/");
        EXPECT_EQ(Stored(kDataDirectoryMode), data + "/");
    }
    EXPECT_EQ(Stored(kHistoryDirectoryMode), std::nullopt);
}

TEST_F(DirectoryDialogTest, RefusedDirectoriesKeepTheDialogOpenAndStoreNothing) {
    std::string partial = DataSets("partial", "Regimens.kxs");
    struct Case {
        std::string box;
        std::string boxAfter;
        std::string message;
        std::string caption;
    };
    const Case cases[] = {
        {dir_ / "missing/", dir_ / "missing", "The  directory does not exist.", "Error"},
        {partial, partial,
         "The following files are missing: \n\tRegimens.kxs\n\nPlease put them the specified "
         "directory.",
         "Missing Files"},
        // An empty box passes the directory test and reaches the files test.
        {"  ", "",
         "The following files are missing: \n\tDrugData.txd\n\tRegimens.txd\n\tDrugData.kxb\n"
         "\tRegimens.kxb\n\tDrugData.klg\n\tRegimens.klg\n\tDrugData.kxs\n\tRegimens.kxs\n\n"
         "Please put them the specified directory.",
         "Missing Files"},
    };
    for (const Case& c : cases) {
        TvDirectoryDialog dialog(kDataDirectoryMode);
        TvDirectoryOkOutcome outcome = dialog.Ok(c.box.c_str(), false);
        EXPECT_FALSE(outcome.accepted) << c.box;
        EXPECT_EQ(outcome.boxText.GetCString(), c.boxAfter);
        EXPECT_EQ(outcome.messageText.GetCString(), c.message);
        EXPECT_EQ(outcome.messageCaption.GetCString(), c.caption);
    }
    EXPECT_STREQ(DataDirectory, "/nowhere/data/");
    EXPECT_EQ(Stored(kDataDirectoryMode), std::nullopt);

    // A missing directory is refused in the history mode too; missing data sets are not.
    TvDirectoryDialog history(kHistoryDirectoryMode);
    TvDirectoryOkOutcome outcome = history.Ok((dir_ / "missing").c_str(), true);
    EXPECT_FALSE(outcome.accepted);
    EXPECT_STREQ(outcome.messageText, "The  directory does not exist.");
    outcome = history.Ok(partial.c_str(), true);
    EXPECT_TRUE(outcome.accepted);
    EXPECT_EQ(HistoryDirectory.GetCString(), partial + "/");
}

TEST_F(DirectoryDialogTest, HistoryDirectoryGetsItsFileAndTheUseHistoryChoice) {
    std::string fresh = Directory("fresh");
    TvDirectoryDialog dialog(kHistoryDirectoryMode);
    TvDirectoryOkOutcome outcome = dialog.Ok((fresh + "/").c_str(), true);
    ASSERT_TRUE(outcome.accepted) << outcome.messageText.GetCString();
    EXPECT_EQ(HistoryDirectory.GetCString(), fresh + "/");
    EXPECT_EQ(Stored(kHistoryDirectoryMode), fresh + "/");
    EXPECT_TRUE(std::filesystem::exists(fresh + "/History.txt"));
    EXPECT_EQ(ReadFile(fresh + "/History.txt"), "");
    EXPECT_FALSE(std::filesystem::exists(fresh + "/CheckWrite.txt"));
    EXPECT_EQ(tvRegistry::GetOption(tvRegistry::kHistoryOption), 1);

    // Unticked: option 0 off, an existing history kept as it is.
    std::string used = Directory("used");
    WriteFile(used + "/History.txt", "ALPHA; BETA ");
    outcome = TvDirectoryDialog(kHistoryDirectoryMode).Ok(used.c_str(), false);
    ASSERT_TRUE(outcome.accepted);
    EXPECT_EQ(ReadFile(used + "/History.txt"), "ALPHA; BETA ");
    EXPECT_EQ(tvRegistry::GetOption(tvRegistry::kHistoryOption), 0);
    EXPECT_EQ(Stored(kHistoryDirectoryMode), used + "/");
    EXPECT_STREQ(DataDirectory, "/nowhere/data/");

    // A file of the probe's name that was there before is not the probe's to delete.
    WriteFile(used + "/CheckWrite.txt", "mine");
    ASSERT_TRUE(TvDirectoryDialog(kHistoryDirectoryMode).Ok(used.c_str(), true).accepted);
    EXPECT_EQ(ReadFile(used + "/CheckWrite.txt"), "mine");
}

TEST_F(DirectoryDialogTest, UnwritableHistoryDirectoryIsRefusedAndChangesNothing) {
    // Permission bits do not bind a privileged user; no user creates files in /proc.
    std::string locked = Directory("locked");
    ::chmod(locked.c_str(), 0555);
    std::string unwritable = ::geteuid() == 0 ? std::string("/proc") : locked;

    tvRegistry::SetOption(1, tvRegistry::kHistoryOption);
    TvDirectoryOkOutcome outcome =
        TvDirectoryDialog(kHistoryDirectoryMode).Ok(unwritable.c_str(), true);
    EXPECT_FALSE(outcome.accepted);
    EXPECT_STREQ(outcome.messageText,
                 "You do not have permission to write to this directory.  Please specify "
                 "another one.");
    EXPECT_STREQ(outcome.messageCaption, "Error");
    EXPECT_EQ(outcome.boxText.GetCString(), unwritable);
    EXPECT_STREQ(HistoryDirectory, "/nowhere/history/");
    EXPECT_EQ(Stored(kHistoryDirectoryMode), std::nullopt);
    EXPECT_EQ(tvRegistry::GetOption(tvRegistry::kHistoryOption), 1);
    EXPECT_FALSE(std::filesystem::exists(unwritable + "/History.txt"));
    ::chmod(locked.c_str(), 0755);

    // A read-only history file in a writable directory never switches the history on.
    std::string readOnly = Directory("readonly");
    WriteFile(readOnly + "/History.txt", "KEEP ", 0444);
    outcome = TvDirectoryDialog(kHistoryDirectoryMode).Ok(readOnly.c_str(), true);
    if (outcome.accepted) {
        EXPECT_EQ(tvRegistry::GetOption(tvRegistry::kHistoryOption), 0);
    } else {
        EXPECT_STREQ(outcome.messageText,
                     "You do not have permission to write to this directory.  Please specify "
                     "another one.");
        EXPECT_STREQ(HistoryDirectory, "/nowhere/history/");
    }
    EXPECT_EQ(ReadFile(readOnly + "/History.txt"), "KEEP ");
}

TEST_F(DirectoryDialogTest, ClearHistoryDeletesTheCurrentHistoryFileOnly) {
    std::string current = Directory("current");
    std::string other = Directory("other");
    WriteFile(current + "/History.txt", "ALPHA ");
    WriteFile(other + "/History.txt", "BETA ");
    HistoryDirectory = (current + "/").c_str();
    tvRegistry::SetOption(1, tvRegistry::kHistoryOption);

    TvDirectoryDialog dialog(kHistoryDirectoryMode);
    TvDirectoryDialog::ClearHistory();
    EXPECT_FALSE(std::filesystem::exists(current + "/History.txt"));
    EXPECT_TRUE(std::filesystem::exists(other + "/History.txt"));
    // Nothing there to delete is no failure; the settings stay as they were.
    TvDirectoryDialog::ClearHistory();
    EXPECT_EQ(Stored(kHistoryDirectoryMode), std::nullopt);
    EXPECT_EQ(tvRegistry::GetOption(tvRegistry::kHistoryOption), 1);
    EXPECT_EQ(HistoryDirectory.GetCString(), current + "/");
}

} // namespace
