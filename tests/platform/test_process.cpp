#include <gtest/gtest.h>

#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "kxplatform_error.h"
#include "kxplatform_file.h"
#include "kxplatform_lock.h"
#include "kxplatform_process.h"
#include "platform/platform_fixture.h"

using namespace kxplatform;
using kxtest::EnvGuard;
using kxtest::ReadFile;
using kxtest::TempDir;
using kxtest::WriteFile;

namespace {

// A stand-in for a desktop helper: records its arguments, NUL-separated, and exits with
// $KX_FAKE_STATUS.
const char* kFakeHelper =
    "#!/bin/sh\n"
    "printf '%s\\0' \"$@\" > \"$KX_FAKE_OUT\"\n"
    "exit ${KX_FAKE_STATUS:-0}\n";

std::vector<std::string> RecordedArguments(const std::string& path) {
    std::vector<std::string> arguments;
    std::string all = ReadFile(path);
    size_t start = 0;
    for (size_t nul; (nul = all.find('\0', start)) != std::string::npos; start = nul + 1)
        arguments.push_back(all.substr(start, nul - start));
    return arguments;
}

// A fixture directory on PATH holding the fake helpers.
class DesktopHelpers : public ::testing::Test {
protected:
    void Install(const std::string& name) {
        std::filesystem::create_directories(dir_ / "bin");
        WriteFile(dir_ / ("bin/" + name), kFakeHelper, 0755);
    }
    std::vector<std::string> Recorded() { return RecordedArguments(out_); }

    TempDir dir_;
    std::string out_ = dir_ / "args";
    EnvGuard path_{"PATH", dir_ / "bin"};
    EnvGuard fakeOut_{"KX_FAKE_OUT", out_};
};

std::string StatusField(ProcessId pid, const std::string& field) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind(field + ":", 0) == 0) {
            std::istringstream value(line.substr(field.size() + 1));
            std::string word;
            value >> word;
            return word;
        }
    return "ffffffffffffffff";
}

TEST(FindProgram, SearchesPathForBareNamesOnly) {
    TempDir dir;
    WriteFile(dir / "tool", "#!/bin/sh\n", 0755);
    WriteFile(dir / "plain", "not a program", 0644);
    std::filesystem::create_directory(dir / "sub");
    {
        EnvGuard path("PATH", "/nonexistent:" + dir.path() + "/sub:" + dir.path());
        EXPECT_EQ(FindProgram("tool").value_or("?"), dir / "tool");
        EXPECT_FALSE(FindProgram("plain"));
        EXPECT_EQ(GetLastError(), EACCES);
        EXPECT_FALSE(FindProgram("sub"));
        EXPECT_FALSE(FindProgram("no-such-program-kx"));
        EXPECT_EQ(GetLastError(), ENOENT);
    }
    EXPECT_EQ(FindProgram(dir / "tool").value_or("?"), dir / "tool");
    EXPECT_FALSE(FindProgram(dir / "plain"));
    EXPECT_EQ(GetLastError(), EACCES);
    {
        // Empty and relative PATH entries would run whatever lies in the current directory.
        kxtest::CwdGuard cwd(dir.path());
        EnvGuard path("PATH", ":.:sub");
        EXPECT_FALSE(FindProgram("tool"));
        EXPECT_EQ(GetLastError(), ENOENT);
    }
}

TEST(RunProgram, PassesArgumentsVerbatimAndReportsTheExitStatus) {
    // "test" compares its arguments: a shell would have split or expanded them.
    const std::string tricky = "a b;$(echo x)*`id` \"'|>";
    EXPECT_EQ(RunProgram("test", {tricky, "=", tricky}), std::optional<int>(0));
    EXPECT_EQ(RunProgram("test", {"a b", "=", "a"}), std::optional<int>(1));
    EXPECT_EQ(RunProgram("true", {}), std::optional<int>(0));
    EXPECT_EQ(RunProgram("false", {}), std::optional<int>(1));
}

TEST(RunProgram, StartFailuresAreReported) {
    TempDir dir;
    WriteFile(dir / "plain", "x", 0644);
    EXPECT_FALSE(StartProgram("no-such-program-kx", {}));
    EXPECT_EQ(GetLastError(), ENOENT);
    EXPECT_FALSE(StartProgram(dir / "plain", {}));
    EXPECT_EQ(GetLastError(), EACCES);
    EXPECT_FALSE(StartProgram("true", {std::string("a\0b", 3)}));
    EXPECT_EQ(GetLastError(), EINVAL);
}

TEST(StartProgram, ChildStartsCleanAndCanBeWaitedFor) {
    TempDir dir;
    WriteFile(dir / "data.txd", "x", 0444);
    File file;
    ASSERT_TRUE(file.Open(dir / "data.txd", OpenFlags{}));
    SetLockDirectory(dir / "kxlocks");
    ASSERT_EQ(TryLockRegion(file, LockType::Write, 0, 0), TryLockResult::Locked);

    struct sigaction ignore {}, previous {};
    ignore.sa_handler = SIG_IGN;
    ::sigaction(SIGINT, &ignore, &previous);
    sigset_t blocked, oldMask;
    sigemptyset(&blocked);
    sigaddset(&blocked, SIGTERM);
    ::sigprocmask(SIG_BLOCK, &blocked, &oldMask);
    std::optional<ProcessId> sleeper = StartProgram("sleep", {"30"});
    ::sigprocmask(SIG_SETMASK, &oldMask, nullptr);
    ::sigaction(SIGINT, &previous, nullptr);
    SetLockDirectory("/tmp/kxlocks");
    ASSERT_TRUE(sleeper);

    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    // Bit n-1 stands for signal n.
    const unsigned long long ignoredMask = std::stoull(StatusField(*sleeper, "SigIgn"), nullptr, 16);
    const unsigned long long blockedMask = std::stoull(StatusField(*sleeper, "SigBlk"), nullptr, 16);
    EXPECT_EQ(ignoredMask & (1ull << (SIGINT - 1)), 0u) << "SIGINT stayed ignored";
    EXPECT_EQ(blockedMask, 0u);
    // Neither the data file nor its lock file leaks into the started program.
    for (const auto& entry : std::filesystem::directory_iterator("/proc/" + std::to_string(*sleeper) + "/fd")) {
        std::error_code ignored;
        std::string target = std::filesystem::read_symlink(entry.path(), ignored).string();
        EXPECT_EQ(target.find(dir.path()), std::string::npos) << target;
    }
    ::kill(*sleeper, SIGTERM);
    EXPECT_EQ(WaitForExit(*sleeper), std::optional<int>(128 + SIGTERM));
    EXPECT_FALSE(WaitForExit(*sleeper));
    EXPECT_EQ(GetLastError(), ECHILD);
}

TEST(StartProgram, ReleasedProcessesLeaveNoZombie) {
    std::optional<ProcessId> process = StartProgram("true", {});
    ASSERT_TRUE(process);
    ReleaseProcess(*process);
    // A zombie still answers kill(0); a reaped process does not.
    bool gone = false;
    for (int i = 0; i < 200 && !gone; ++i) {
        gone = ::kill(*process, 0) != 0 && errno == ESRCH;
        if (!gone) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_TRUE(gone);
}

TEST_F(DesktopHelpers, OpenUrlHandsTheLinkOverAsOneArgument) {
    Install("xdg-open");
    const std::string link = "mailto:support@example.org?subject=Drug data&body=a;b $(x)";
    EXPECT_TRUE(OpenUrl(link));
    EXPECT_EQ(Recorded(), std::vector<std::string>{link});
    EXPECT_TRUE(OpenUrl("https://example.org/drugs?q=a b"));
    EXPECT_EQ(Recorded(), std::vector<std::string>{"https://example.org/drugs?q=a b"});
}

TEST_F(DesktopHelpers, OpenUrlFailures) {
    EXPECT_FALSE(OpenUrl("https://example.org/"));  // no xdg-open at all
    EXPECT_EQ(GetLastError(), ENOENT);
    Install("xdg-open");
    {
        EnvGuard status("KX_FAKE_STATUS", "4");
        EXPECT_FALSE(OpenUrl("https://example.org/"));
    }
    std::filesystem::remove(out_);
    EXPECT_FALSE(OpenUrl("--help"));
    EXPECT_EQ(GetLastError(), EINVAL);
    EXPECT_FALSE(OpenUrl(""));
    EXPECT_FALSE(FileExists(out_)) << "a refused link must not reach the helper";
}

TEST_F(DesktopHelpers, AHelperThatStaysRunningCountsAsOpened) {
    std::filesystem::create_directories(dir_ / "bin");
    WriteFile(dir_ / "bin/xdg-open", "#!/bin/sh\nexec /bin/sleep 12\n", 0755);
    auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(OpenUrl("https://example.org/"));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10)) << "OpenUrl must not wait for the helper to exit";
}

TEST_F(DesktopHelpers, ComposeMailPassesSubjectBodyAndAddress) {
    Install("xdg-email");
    const std::string body = "--User Info--\r\nCould not open \"x\"; $HOME `id`\r\n-- end";
    EXPECT_EQ(ComposeMail("support@example.org", "-- Automated Error Message", body), MailResult::Started);
    EXPECT_EQ(Recorded(), (std::vector<std::string>{"--subject", "-- Automated Error Message", "--body", body,
                                                    "support@example.org"}));
}

TEST_F(DesktopHelpers, ComposeMailReportsAMissingMailService) {
    EXPECT_EQ(ComposeMail("support@example.org", "s", "b"), MailResult::NotAvailable);
    Install("xdg-email");
    {
        EnvGuard status("KX_FAKE_STATUS", "3");  // no mail program found
        EXPECT_EQ(ComposeMail("support@example.org", "s", "b"), MailResult::NotAvailable);
    }
    {
        EnvGuard status("KX_FAKE_STATUS", "4");
        EXPECT_EQ(ComposeMail("support@example.org", "s", "b"), MailResult::Failed);
    }
    std::filesystem::remove(out_);
    EXPECT_EQ(ComposeMail("--utf8", "s", "b"), MailResult::Failed);
    EXPECT_EQ(GetLastError(), EINVAL);
    EXPECT_FALSE(FileExists(out_));
}

} // namespace
