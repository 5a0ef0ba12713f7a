#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <ostream>
#include <string>

#include "kxplatform_error.h"
#include "kxplatform_file.h"
#include "kxplatform_lock.h"
#include "platform/platform_fixture.h"

using namespace kxplatform;
using kxtest::ModeOf;
using kxtest::ReadFile;
using kxtest::TempDir;
using kxtest::WriteFile;

namespace {

constexpr LockType R = LockType::Read;
constexpr LockType W = LockType::Write;
constexpr TryLockResult kLocked = TryLockResult::Locked;
constexpr TryLockResult kBlocks = TryLockResult::WouldBlock;

int64_t MonotonicNs() {
    struct timespec now;
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return int64_t{now.tv_sec} * 1000000000 + now.tv_nsec;
}

// A read-only data file, as installed data sets are, and a lock directory of the fixture's own.
class RegionLocks : public ::testing::Test {
protected:
    void SetUp() override {
        data_ = dir_ / "DrugData.txd";
        WriteFile(data_, std::string(1000, 'd'), 0444);
        SetLockDirectory(dir_ / "kxlocks");
    }
    void TearDown() override { SetLockDirectory("/tmp/kxlocks"); }

    File OpenReadOnly(const std::string& path) {
        File file;
        OpenFlags flags;
        flags.access = Access::Read;
        EXPECT_TRUE(file.Open(path, flags)) << path << ": " << LastErrorText();
        return file;
    }
    File OpenReadOnly() { return OpenReadOnly(data_); }

    TempDir dir_;
    std::string data_;
};

TEST_F(RegionLocks, TwoFilesInOneProcessExcludeEachOther) {
    File a = OpenReadOnly();
    File b = OpenReadOnly();
    ASSERT_EQ(TryLockRegion(a, W, 0, 10), kLocked) << LastErrorText();
    EXPECT_EQ(TryLockRegion(b, W, 5, 1), kBlocks);
    EXPECT_EQ(TryLockRegion(b, R, 9, 1), kBlocks);
    EXPECT_EQ(TryLockRegion(b, W, 10, 5), kLocked);  // adjacent, not overlapping
    EXPECT_TRUE(UnlockRegion(a, W, 0, 10));
    EXPECT_EQ(TryLockRegion(b, W, 0, 10), kLocked);
    EXPECT_EQ(TryLockRegion(a, R, 3, 1), kBlocks);
    EXPECT_EQ(GetLockMethod(a), LockMethod::Companion);
    // The data file is never written to.
    EXPECT_EQ(ReadFile(data_), std::string(1000, 'd'));
    EXPECT_EQ(ModeOf(data_), 0444u);
}

TEST_F(RegionLocks, ReadLocksCoexistAndKeepWritersOut) {
    File a = OpenReadOnly();
    File b = OpenReadOnly();
    File c = OpenReadOnly();
    EXPECT_EQ(TryLockRegion(a, R, 0, 0), kLocked);
    EXPECT_EQ(TryLockRegion(b, R, 0, 0), kLocked);
    EXPECT_TRUE(LockRegion(c, R, 500, 1));  // a waiting READ is granted at once
    EXPECT_EQ(TryLockRegion(c, W, 999, 1), kBlocks);
    EXPECT_TRUE(UnlockRegion(a, R, 0, 0));
    EXPECT_EQ(TryLockRegion(c, W, 999, 1), kBlocks);  // b still reads
    EXPECT_TRUE(UnlockRegion(b, R, 0, 0));
    EXPECT_EQ(TryLockRegion(c, W, 999, 1), kLocked);
}

TEST_F(RegionLocks, ZeroOrHugeLengthsReachToTheEnd) {
    for (int64_t length : {int64_t{0}, INT64_MAX, INT64_MAX - 5, INT64_MAX - 1000}) {
        File a = OpenReadOnly();
        File b = OpenReadOnly();
        ASSERT_EQ(TryLockRegion(a, W, 1000, length), kLocked) << length << ": " << LastErrorText();
        EXPECT_EQ(TryLockRegion(b, W, int64_t{1} << 62, 1), kBlocks) << length;
        EXPECT_EQ(TryLockRegion(b, W, INT64_MAX - 2, 1), kBlocks) << length;
        EXPECT_EQ(TryLockRegion(b, W, 0, 1000), kLocked) << length;
        EXPECT_TRUE(UnlockRegion(a, W, 1000, length));
        EXPECT_EQ(TryLockRegion(b, W, int64_t{1} << 62, 1), kLocked) << length;
    }
}

TEST_F(RegionLocks, NestedLocksOfOneFileAreReleasedOneByOne) {
    File a = OpenReadOnly();
    File b = OpenReadOnly();
    ASSERT_EQ(TryLockRegion(a, W, 100, 10), kLocked);
    ASSERT_EQ(TryLockRegion(a, W, 100, 20), kLocked);
    ASSERT_EQ(TryLockRegion(a, W, 100, 20), kLocked);  // the same region twice
    EXPECT_TRUE(UnlockRegion(a, W, 100, 10));
    EXPECT_EQ(TryLockRegion(b, W, 100, 1), kBlocks);
    EXPECT_TRUE(UnlockRegion(a, W, 100, 20));
    EXPECT_EQ(TryLockRegion(b, W, 119, 1), kBlocks);
    EXPECT_TRUE(UnlockRegion(a, W, 100, 20));
    EXPECT_EQ(TryLockRegion(b, W, 100, 20), kLocked);
}

TEST_F(RegionLocks, ReadLockDoesNotWeakenAWriteLockOfTheSameFile) {
    File a = OpenReadOnly();
    File b = OpenReadOnly();
    ASSERT_EQ(TryLockRegion(a, W, 0, 100), kLocked);
    ASSERT_EQ(TryLockRegion(a, R, 0, 0), kLocked);
    EXPECT_EQ(TryLockRegion(b, R, 50, 1), kBlocks);
    EXPECT_TRUE(UnlockRegion(a, W, 0, 100));
    EXPECT_EQ(TryLockRegion(b, R, 50, 1), kLocked);  // only a's READ is left
    EXPECT_EQ(TryLockRegion(b, W, 500, 1), kBlocks);
}

TEST_F(RegionLocks, WriteInsideOwnReadUpgradesAndFallsBackToRead) {
    File a = OpenReadOnly();
    File b = OpenReadOnly();
    ASSERT_EQ(TryLockRegion(a, R, 0, 0), kLocked);
    ASSERT_EQ(TryLockRegion(a, W, 50, 10), kLocked);
    EXPECT_EQ(TryLockRegion(b, R, 55, 1), kBlocks);
    EXPECT_EQ(TryLockRegion(b, R, 60, 1), kLocked);
    EXPECT_TRUE(UnlockRegion(a, W, 50, 10));
    EXPECT_EQ(TryLockRegion(b, R, 55, 1), kLocked);
    EXPECT_EQ(TryLockRegion(b, W, 55, 1), kBlocks);  // a still reads there
}

TEST_F(RegionLocks, AFailedRequestLeavesNothingBehind) {
    File a = OpenReadOnly();
    File b = OpenReadOnly();
    File c = OpenReadOnly();
    ASSERT_EQ(TryLockRegion(a, R, 0, 10), kLocked);
    ASSERT_EQ(TryLockRegion(b, W, 15, 5), kLocked);
    // a's request spans a segment it can upgrade, a free one and b's: all or nothing.
    EXPECT_EQ(TryLockRegion(a, W, 0, 20), kBlocks);
    EXPECT_EQ(TryLockRegion(c, R, 5, 1), kLocked);   // a's bytes are READ again
    EXPECT_EQ(TryLockRegion(c, W, 12, 1), kLocked);  // the free bytes were given back
}

TEST_F(RegionLocks, ClosingReleasesEverything) {
    File b = OpenReadOnly();
    {
        File a = OpenReadOnly();
        ASSERT_EQ(TryLockRegion(a, W, 0, 0), kLocked);
        EXPECT_EQ(TryLockRegion(b, W, 10, 1), kBlocks);
    }
    EXPECT_EQ(TryLockRegion(b, W, 10, 1), kLocked);
    File a = OpenReadOnly();
    ASSERT_EQ(TryLockRegion(a, R, 100, 0), kLocked);
    EXPECT_TRUE(a.Close());
    EXPECT_EQ(GetLockMethod(a), LockMethod::None);
    EXPECT_EQ(TryLockRegion(b, W, 100, 1), kLocked);
}

TEST_F(RegionLocks, BadRequestsAreErrors) {
    File a = OpenReadOnly();
    SetLastError(0);
    EXPECT_EQ(TryLockRegion(a, W, -1, 10), TryLockResult::Error);
    EXPECT_EQ(GetLastError(), EINVAL);
    EXPECT_FALSE(LockRegion(a, R, 0, -5));
    EXPECT_EQ(GetLastError(), EINVAL);
    EXPECT_TRUE(UnlockRegion(a, W, 0, 10));  // not locked: nothing to do
    File closed;
    EXPECT_EQ(TryLockRegion(closed, R, 0, 0), TryLockResult::Error);
    EXPECT_EQ(GetLastError(), EBADF);
    EXPECT_FALSE(UnlockRegion(closed, R, 0, 0));
}

TEST_F(RegionLocks, LockFilesAreSharedByAllUsersAndNamedByTheFilesIdentity) {
    mode_t old = ::umask(077);
    File a = OpenReadOnly();
    ASSERT_EQ(TryLockRegion(a, R, 0, 0), kLocked);
    ::umask(old);
    const std::string locks = dir_ / "kxlocks";
    EXPECT_EQ(LockDirectory(), locks + "/");
    EXPECT_EQ(ModeOf(locks), 01777u);
    struct stat st {};
    ASSERT_EQ(::stat(data_.c_str(), &st), 0);
    char name[64];
    std::snprintf(name, sizeof name, "/%llx-%llx.lock", static_cast<unsigned long long>(st.st_dev),
                  static_cast<unsigned long long>(st.st_ino));
    EXPECT_TRUE(FileExists(locks + name));
    EXPECT_EQ(ModeOf(locks + name), 0666u);

    // Another name for the same file meets the same lock.
    std::filesystem::create_symlink(data_, dir_ / "alias.txd");
    std::filesystem::create_hard_link(data_, dir_ / "hard.txd");
    File viaLink = OpenReadOnly(dir_ / "alias.txd");
    File viaHardLink = OpenReadOnly(dir_ / "hard.txd");
    EXPECT_EQ(TryLockRegion(viaLink, W, 0, 1), kBlocks);
    EXPECT_EQ(TryLockRegion(viaHardLink, W, 0, 1), kBlocks);
    // A different file does not.
    WriteFile(dir_ / "Regimens.txd", "r", 0444);
    File other = OpenReadOnly(dir_ / "Regimens.txd");
    EXPECT_EQ(TryLockRegion(other, W, 0, 1), kLocked);
}

TEST_F(RegionLocks, LockFilesThatAreNotPlainFilesAreRefused) {
    struct stat st {};
    ASSERT_EQ(::stat(data_.c_str(), &st), 0);
    char name[64];
    std::snprintf(name, sizeof name, "/%llx-%llx.lock", static_cast<unsigned long long>(st.st_dev),
                  static_cast<unsigned long long>(st.st_ino));
    std::filesystem::create_directory(dir_ / "kxlocks");
    WriteFile(dir_ / "victim", "untouched");
    std::filesystem::create_symlink(dir_ / "victim", dir_ / ("kxlocks" + std::string(name)));
    File a = OpenReadOnly();
    EXPECT_EQ(TryLockRegion(a, R, 0, 0), kLocked);  // on its own descriptor instead
    EXPECT_EQ(GetLockMethod(a), LockMethod::OwnDescriptor);
    EXPECT_EQ(ReadFile(dir_ / "victim"), "untouched");
}

TEST_F(RegionLocks, WithoutALockDirectoryTheFilesOwnDescriptorIsLocked) {
    WriteFile(dir_ / "not-a-directory", "");
    SetLockDirectory(dir_ / "not-a-directory/kxlocks");
    File reader = OpenReadOnly();
    EXPECT_EQ(TryLockRegion(reader, W, 0, 0), TryLockResult::Error);
    EXPECT_EQ(GetLastError(), ENOLCK);
    EXPECT_EQ(GetLockMethod(reader), LockMethod::OwnDescriptor);
    EXPECT_EQ(TryLockRegion(reader, R, 0, 0), kLocked);

    WriteFile(dir_ / "writable.txd", std::string(100, 'w'));
    OpenFlags rw;
    rw.access = Access::ReadWrite;
    File a, b;
    ASSERT_TRUE(a.Open(dir_ / "writable.txd", rw));
    ASSERT_TRUE(b.Open(dir_ / "writable.txd", rw));
    ASSERT_EQ(TryLockRegion(a, W, 0, 10), kLocked);
    EXPECT_EQ(TryLockRegion(b, W, 5, 10), kBlocks);
    EXPECT_TRUE(UnlockRegion(a, W, 0, 10));
    EXPECT_EQ(TryLockRegion(b, W, 5, 10), kLocked);
}

TEST(LockCapabilities, OpenFileDescriptionLocksAreAvailable) {
    EXPECT_EQ(OSCapabilities(), 7);
    EXPECT_NE(OSCapabilities() & kCapabilityExtendedLocks, 0);
    EXPECT_EQ(LockDirectory(), "/tmp/kxlocks/");
}

// The child holds WRITE on bytes 100..149 of the read-only data file until told to release it,
// interrupts the parent's wait with a signal on the way, and reports when it let go.
enum class Release { ByUnlock, ByExit };

void PrintTo(Release release, std::ostream* out) { *out << (release == Release::ByUnlock ? "ByUnlock" : "ByExit"); }

void RunChild(const std::string& data, Release release, int ready, int go, int report) {
    ::alarm(30);
    File file;
    OpenFlags flags;
    flags.access = Access::Read;
    if (!file.Open(data, flags) || !LockRegion(file, W, 100, 50)) ::_exit(2);
    char c = 'L';
    if (::write(ready, &c, 1) != 1 || ::read(go, &c, 1) != 1) ::_exit(3);
    ::usleep(100 * 1000);
    ::kill(::getppid(), SIGUSR1);  // a waiting lock must survive interruptions
    ::usleep(200 * 1000);
    int64_t released = MonotonicNs();
    if (::write(report, &released, sizeof released) != sizeof released) ::_exit(4);
    if (release == Release::ByExit) ::_exit(0);
    if (!UnlockRegion(file, W, 100, 50)) ::_exit(5);
    // Still alive: the parent now holds the region and must keep this process out.
    if (::read(go, &c, 1) != 1) ::_exit(6);
    ::_exit(TryLockRegion(file, W, 125, 1) == TryLockResult::WouldBlock ? 0 : 7);
}

void Interrupted(int) {}

class TwoProcesses : public RegionLocks, public ::testing::WithParamInterface<Release> {};

TEST_P(TwoProcesses, ExclusiveLockOnAReadOnlyFileHoldsOffAnotherProcess) {
    int ready[2], go[2], report[2];
    ASSERT_EQ(::pipe(ready), 0);
    ASSERT_EQ(::pipe(go), 0);
    ASSERT_EQ(::pipe(report), 0);
    struct sigaction handler {}, previous {};
    handler.sa_handler = Interrupted;  // no SA_RESTART
    ::sigaction(SIGUSR1, &handler, &previous);
    ::alarm(60);  // a wait that never ends fails the test instead of hanging it

    pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) RunChild(data_, GetParam(), ready[1], go[0], report[1]);

    char c;
    ASSERT_EQ(::read(ready[0], &c, 1), 1);
    File file = OpenReadOnly();
    int64_t before = MonotonicNs();
    EXPECT_EQ(TryLockRegion(file, W, 120, 10), kBlocks);
    EXPECT_EQ(TryLockRegion(file, R, 149, 1), kBlocks);
    EXPECT_EQ(TryLockRegion(file, W, 0, 0), kBlocks);
    EXPECT_LT(MonotonicNs() - before, int64_t{500} * 1000000) << "try-lock must not wait";
    EXPECT_EQ(TryLockRegion(file, W, 150, 10), kLocked);
    EXPECT_EQ(TryLockRegion(file, W, 0, 100), kLocked);
    EXPECT_TRUE(UnlockRegion(file, W, 150, 10));
    EXPECT_TRUE(UnlockRegion(file, W, 0, 100));

    c = 'G';
    ASSERT_EQ(::write(go[1], &c, 1), 1);
    int64_t asked = MonotonicNs();
    ASSERT_TRUE(LockRegion(file, W, 120, 10)) << LastErrorText();
    int64_t acquired = MonotonicNs();
    int64_t released = 0;
    ASSERT_EQ(::read(report[0], &released, sizeof released), static_cast<ssize_t>(sizeof released));
    EXPECT_GE(acquired, released) << "the waiting lock returned before the other process let go";
    EXPECT_GE(acquired - asked, int64_t{250} * 1000000);

    if (GetParam() == Release::ByUnlock) {
        int status = 0;
        EXPECT_EQ(::waitpid(child, &status, WNOHANG), 0) << "the release came from the exit";
        c = 'D';
        ASSERT_EQ(::write(go[1], &c, 1), 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ::alarm(0);
    ::sigaction(SIGUSR1, &previous, nullptr);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    for (int fd : {ready[0], ready[1], go[0], go[1], report[0], report[1]}) ::close(fd);
}

INSTANTIATE_TEST_SUITE_P(Release, TwoProcesses, ::testing::Values(Release::ByUnlock, Release::ByExit),
                         [](const ::testing::TestParamInfo<Release>& p) {
                             return std::string(p.param == Release::ByUnlock ? "ByUnlock" : "ByExit");
                         });

} // namespace
