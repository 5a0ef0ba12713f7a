#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "foundation/kxcatch.h"
#include "kxengine.h"
#include "platform/platform_fixture.h"
#include "tvappstate.h"
#include "txdfile.h"

namespace {

using kxtest::TempDir;
using kxtest::WriteFile;

class EngineEnvironment : public ::testing::Environment {
public:
    void SetUp() override { KxEngineStartup(); }
    void TearDown() override { KxEngineShutdown(); }
};
[[maybe_unused]] ::testing::Environment* const kEngine =
    ::testing::AddGlobalTestEnvironment(new EngineEnvironment);

const char* const kAllFiles[] = {"DrugData.txd", "Regimens.txd", "DrugData.kxb", "Regimens.kxb",
                                 "DrugData.klg", "Regimens.klg", "DrugData.kxs", "Regimens.kxs"};

std::string Padded(std::string text, size_t width) {
    text.resize(width, ' ');
    return text;
}

// A one-record data set written byte by byte, not by the engine: two blob fields of 20
// characters, the version inline in field 1.
void WriteDataSet(const TempDir& dir, const std::string& name, const std::string& version) {
    WriteFile(dir / (name + ".kxs"), "[FileInfo]\n"
                                     "NumberOfFields=2\n"
                                     "RecordLength=40\n"
                                     "Use CR=N\n"
                                     "Use LF=Y\n"
                                     "[Field1]\n"
                                     "FieldName=title\n"
                                     "Type=B\n"
                                     "Length=20\n"
                                     "ByteOffset=0\n"
                                     "[Field2]\n"
                                     "FieldName=version\n"
                                     "Type=B\n"
                                     "Length=20\n"
                                     "ByteOffset=20\n");
    WriteFile(dir / (name + ".txd"),
              Padded("0       " + name, 20) + Padded("0       " + version, 20) + "\n");
    WriteFile(dir / (name + ".kxb"), "");
    WriteFile(dir / (name + ".klg"), "");
}

// The data file replaced by a directory: present, but no file to open.
void MakeUnopenable(const TempDir& dir, const std::string& file) {
    std::filesystem::remove(dir / file);
    std::filesystem::create_directory(dir / file);
}

class AppStateTest : public ::testing::Test {
protected:
    std::string Directory() const { return dir_.path() + "/"; }
    void WriteBoth(const std::string& drugVersion, const std::string& regimenVersion) {
        WriteDataSet(dir_, "DrugData", drugVersion);
        WriteDataSet(dir_, "Regimens", regimenVersion);
    }

    TempDir dir_;
};

TEST_F(AppStateTest, EmptyDirectoryListsAllEightFilesByExtensionDrugFirst) {
    KxString list("already there\n");
    EXPECT_TRUE(CheckMissingFiles(Directory().c_str(), list));
    EXPECT_STREQ(list.GetCString(), "already there\n"
                                    "\tDrugData.txd\n\tRegimens.txd\n"
                                    "\tDrugData.kxb\n\tRegimens.kxb\n"
                                    "\tDrugData.klg\n\tRegimens.klg\n"
                                    "\tDrugData.kxs\n\tRegimens.kxs\n");
}

TEST_F(AppStateTest, EachMissingFileAloneGivesExactlyItsLine) {
    for (const char* missing : kAllFiles) {
        WriteBoth("1.2.0", "1.2.0");
        std::filesystem::remove(dir_ / missing);
        KxString list;
        EXPECT_TRUE(CheckMissingFiles(Directory().c_str(), list)) << missing;
        EXPECT_EQ(std::string(list.GetCString()), std::string("\t") + missing + "\n");
    }
}

TEST_F(AppStateTest, CompleteDirectoryAppendsNothing) {
    WriteBoth("1.2.0", "1.2.0");
    KxString list("kept");
    EXPECT_FALSE(CheckMissingFiles(Directory().c_str(), list));
    EXPECT_STREQ(list.GetCString(), "kept");
    // Without its trailing separator the directory names the same files.
    EXPECT_FALSE(CheckMissingFiles(dir_.path().c_str(), list));
}

TEST_F(AppStateTest, VersionsDecideWhetherTheDataIsOutOfDate) {
    struct Case {
        const char* drug;
        const char* regimen; // null: a Regimens.txd that cannot be opened
        bool outOfDate;
    } cases[] = {
        {"1.2.0", "1.2.0", false},
        {"1.2.1", "1.2.0", true},
        {"1.2", "1.2.0", true},
        {"1.2.0", "1.1.9", true},
        {"1.2.0", "1.2.0.1", true},
        // Once the drug data set is out of date the regimen data set is never opened.
        {"1.1.0", nullptr, true},
    };
    for (const Case& c : cases) {
        WriteBoth(c.drug, c.regimen != nullptr ? c.regimen : "1.2.0");
        if (c.regimen == nullptr) MakeUnopenable(dir_, "Regimens.txd");
        KxCaught caught;
        bool result = false;
        caught = CatchKx([&] { result = DataFilesOutOfDate(Directory().c_str()); });
        EXPECT_FALSE(caught.thrown) << c.drug << ": " << caught.message;
        EXPECT_EQ(result, c.outOfDate) << c.drug << " / " << (c.regimen ? c.regimen : "none");
        std::filesystem::remove_all(dir_ / "Regimens.txd");
    }
}

TEST_F(AppStateTest, CheckLeavesTheDataFilesUnlocked) {
    WriteBoth("1.2.0", "1.2.0");
    ASSERT_FALSE(DataFilesOutOfDate(Directory().c_str()));
    for (const char* name : {"DrugData.txd", "Regimens.txd"}) {
        TXDFile file;
        file.Open((dir_ / name).c_str(), kxIORead);
        EXPECT_TRUE(file.TryLock(kxFileExclusiveLock)) << name;
        file.Unlock(kxFileExclusiveLock);
    }
}

TEST_F(AppStateTest, UnopenableDataFileThrowsTheEnginesOpenFailure) {
    // The drug data set first; with a current drug data set, the regimen data set next.
    for (const char* file : {"DrugData.txd", "Regimens.txd"}) {
        WriteBoth("1.2.0", "1.2.0");
        MakeUnopenable(dir_, file);
        KxCaught caught = CatchKx<KxFileOpenFailedException>(
            [&] { DataFilesOutOfDate(Directory().c_str()); });
        ASSERT_TRUE(caught.thrown) << file;
        EXPECT_NE(caught.message.find(file), std::string::npos) << caught.message;
        const std::string last = "\r\nDataFilesOutOfDate() of tvappstate";
        ASSERT_GE(caught.callpath.size(), last.size());
        EXPECT_EQ(caught.callpath.substr(caught.callpath.size() - last.size()), last)
            << caught.callpath;
        std::filesystem::remove_all(dir_ / file);
    }
}

TEST(AppState, GlobalsAndConstants) {
    EXPECT_TRUE(DataDirectory.IsEmpty());
    EXPECT_TRUE(HistoryDirectory.IsEmpty());
    AppColorTable colors;
    colors[ColorRole::Highlight] = 0x0000FFFF;
    EXPECT_EQ(colors.values[3], 0x0000FFFF);
    EXPECT_EQ(static_cast<int>(ColorRole::Window), 4);
    EXPECT_STREQ(DefaultDataSubdirectory, "Data/");
}

} // namespace
