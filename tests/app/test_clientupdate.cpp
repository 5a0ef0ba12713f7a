#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "kxplatform_process.h"
#include "platform/platform_fixture.h"
#include "tvclientupdate.h"

namespace {

using kxtest::ReadFile;
using kxtest::WriteFile;

const std::string kSupport = "\nIf this problem persists please contact Quillon technical support.";

struct IniKey {
    const char* key;
    const char* value;
};
const IniKey kKeys[] = {{"Application", "app"},  {"WebServer", "web"},
                        {"UpdateURL", "upd"},    {"ClientURL", "cli"},
                        {"RunIfNotUpdated", "run"}, {"Developer", "0"}};

// A program directory in a fresh temporary directory, with a stand-in update program that
// writes its arguments, one a line, to a file beside it.
class ClientUpdateTest : public ::testing::Test {
protected:
    std::string Program() const { return dir_ / "quillonupdate.exe"; }
    std::string NewProgram() const { return dir_ / "quillonupdatenew.exe"; }
    std::string Ini() const { return dir_ / "tarvio.ini"; }
    std::string Arguments() const { return dir_ / "arguments.txt"; }

    // A script of exactly the given size.
    std::string Script(size_t size, const std::string& marker = "old") const {
        std::string script = "#!/bin/sh\n# " + marker + "\nfor a in \"$@\"; do printf '%s\\n' \"$a\"; done > '" +
                             Arguments() + "'\n";
        std::string padding = "#\n";
        if (script.size() + padding.size() < size)
            padding = "#" + std::string(size - script.size() - 2, 'x') + "\n";
        return script + padding;
    }
    void WriteProgram(const std::string& path, size_t size = 200,
                      const std::string& marker = "old") const {
        WriteFile(path, Script(size, marker), 0755);
    }
    // The Update section with every key but the one named, and the Developer value given.
    void WriteIni(const std::string& without = "", const std::string& developer = "0") const {
        std::string ini = "[Other]\nApplication = wrong\n[Update]\n";
        for (const IniKey& key : kKeys)
            if (without != key.key)
                ini += std::string(key.key) + " = " +
                       (std::string(key.key) == "Developer" ? developer : key.value) + "\n";
        WriteFile(Ini(), ini);
    }

    BClientUpdate& Update(const char* tag = "release") {
        update_ = std::make_unique<BClientUpdate>("tarvio.ini", tag);
        update_->SetProgramDirectory(dir_.path().c_str());
        return *update_;
    }
    // The check's failure: message, source and call path.
    KxException Failure(const char* tag = "release") {
        try {
            Update(tag).CheckForUpdates();
        } catch (KxException& e) {
            return e;
        }
        ADD_FAILURE() << "no failure";
        return KxException("%s", "none", "none");
    }

    kxtest::TempDir dir_;
    std::unique_ptr<BClientUpdate> update_;
};

TEST_F(ClientUpdateTest, DeveloperTagsTouchNothing) {
    WriteProgram(Program());
    WriteProgram(NewProgram(), 300, "new");
    WriteIni();
    for (const char* tag : {"dev", "DEV", "Development", "devx"}) {
        EXPECT_EQ(Update(tag).CheckForUpdates(), TvUpdateResult::DeveloperMode) << tag;
        EXPECT_TRUE(update_->GetArguments().empty());
    }
    EXPECT_TRUE(std::filesystem::exists(NewProgram()));
    EXPECT_EQ(ReadFile(Program()), Script(200));
    EXPECT_FALSE(std::filesystem::exists(Arguments()));
    for (const char* tag : {"", "de", " dev", "release", "ddev"})
        EXPECT_FALSE(BClientUpdate("tarvio.ini", tag).GetDeveloperMode()) << tag;
}

TEST_F(ClientUpdateTest, StartsTheUpdateProgramWithTheIniValuesAndItsSize) {
    WriteProgram(Program(), 123456);
    WriteIni();
    ASSERT_EQ(Update().CheckForUpdates(), TvUpdateResult::Started);
    EXPECT_STREQ(update_->GetParameters(), "app web upd cli run 123456");
    std::optional<int> process = update_->TakeLaunchedProcess();
    ASSERT_TRUE(process.has_value());
    EXPECT_EQ(kxplatform::WaitForExit(*process), 0);
    EXPECT_EQ(ReadFile(Arguments()), "app\nweb\nupd\ncli\nrun\n123456\n");
    EXPECT_FALSE(update_->TakeLaunchedProcess().has_value());

    // A value with blanks stays one argument: no shell splits the command line.
    WriteFile(Ini(), "[Update]\nApplication = \"my app\"\nWebServer = web\nUpdateURL = upd\n"
                     "ClientURL = cli\nRunIfNotUpdated = C:/Program Files/run\nDeveloper = 0\n");
    ASSERT_EQ(Update().CheckForUpdates(), TvUpdateResult::Started);
    process = update_->TakeLaunchedProcess();
    ASSERT_TRUE(process.has_value());
    EXPECT_EQ(kxplatform::WaitForExit(*process), 0);
    EXPECT_EQ(ReadFile(Arguments()), "my app\nweb\nupd\ncli\nC:/Program Files/run\n123456\n");
}

TEST_F(ClientUpdateTest, DeveloperValueOtherThanZeroChecksEverythingButStartsNothing) {
    WriteProgram(Program(), 123456);
    for (const char* developer : {"1", "-1", "0x1A"}) {
        WriteIni("", developer);
        EXPECT_EQ(Update().CheckForUpdates(), TvUpdateResult::NotStarted) << developer;
        EXPECT_STREQ(update_->GetParameters(), "app web upd cli run 123456");
        EXPECT_FALSE(update_->TakeLaunchedProcess().has_value());
    }
    EXPECT_FALSE(std::filesystem::exists(Arguments()));
}

TEST_F(ClientUpdateTest, NewCopyReplacesTheUpdateProgramBeforeTheIniIsRead) {
    WriteProgram(Program(), 200, "old");
    ::chmod(Program().c_str(), 0555);
    WriteProgram(NewProgram(), 300, "new");
    // No ini file: the check fails after the replacement.
    KxException failure = Failure();
    EXPECT_EQ(ReadFile(Program()), Script(300, "new"));
    EXPECT_FALSE(std::filesystem::exists(NewProgram()));
    EXPECT_NE(std::string(failure.GetCallpath()).find("CheckForUpdates() of BClientUpdate"),
              std::string::npos);

    // Without a new copy the program stays, its read-only attribute cleared.
    ::chmod(Program().c_str(), 0555);
    WriteIni("", "1");
    EXPECT_EQ(Update().CheckForUpdates(), TvUpdateResult::NotStarted);
    EXPECT_EQ(ReadFile(Program()), Script(300, "new"));
    EXPECT_TRUE(kxtest::ModeOf(Program()) & 0200);
    KxString path;
    Update().DeleteOldUpdateIfFound(path);
    EXPECT_EQ(path.GetCString(), Program());
}

TEST_F(ClientUpdateTest, FailuresCarryTheirMessagesInTheirOrder) {
    // No update program, even with everything else in place.
    WriteIni();
    KxException failure = Failure();
    EXPECT_STREQ(failure.GetErrorMessage(),
                 "The update program could not be found. Please contact your system "
                 "administrator for assistance.");
    EXPECT_STREQ(failure.GetSource(), "Warning!");
    EXPECT_STREQ(failure.GetCallpath(), "DeleteOldUpdateIfFound() of BClientUpdate\r\n"
                                        "CheckForUpdates() of BClientUpdate");

    WriteProgram(Program());
    update_ = std::make_unique<BClientUpdate>("", "release");
    update_->SetProgramDirectory(dir_.path().c_str());
    try {
        update_->CheckForUpdates();
        ADD_FAILURE() << "no failure";
    } catch (KxException& e) {
        EXPECT_STREQ(e.GetErrorMessage(), "System ini file not specified.");
        EXPECT_STREQ(e.GetSource(), "CheckForUpdates()");
    }

    WriteFile(Ini(), "[Updates]\nApplication = app\n");
    failure = Failure();
    EXPECT_EQ(failure.GetErrorMessage(),
              "The file " + Ini() + " appears to be corrupt.  No Update ini section." + kSupport);
    EXPECT_STREQ(failure.GetSource(), "CheckForUpdates()");

    for (const IniKey& key : kKeys) {
        WriteIni(key.key);
        failure = Failure();
        EXPECT_EQ(failure.GetErrorMessage(), "The file " + Ini() +
                                                 " appears to be corrupt.  Please check ini "
                                                 "file settings." +
                                                 kSupport)
            << key.key;
    }

    // An update program that cannot be run.
    WriteIni();
    ::chmod(Program().c_str(), 0644);
    failure = Failure();
    EXPECT_STREQ(failure.GetErrorMessage(), "Error creating executable update quillonupdate.exe");
    EXPECT_EQ(failure.GetSource(), Program());
    EXPECT_STREQ(failure.GetCallpath(), "LaunchUpdateProgram() of BClientUpdate\r\n"
                                        "CheckForUpdates() of BClientUpdate");
    EXPECT_FALSE(std::filesystem::exists(Arguments()));
}

TEST(ClientUpdate, ProgramEntryStepDoesNothingAsShipped) {
    TvRecordingReporter reporter;
    EXPECT_FALSE(TvRunUpdateCheck(&reporter));
    EXPECT_TRUE(reporter.GetReports().empty());
}

} // namespace
