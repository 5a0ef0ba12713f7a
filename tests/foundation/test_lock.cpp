#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "foundation/kxcatch.h"
#include "kxio.h"
#include "kxlock.h"
#include "kxplatform_lock.h"
#include "platform/platform_fixture.h"

namespace {

// Counts the operating-system calls a lock makes.
class CountingLock : public KxIOLock {
public:
    CountingLock() : KxIOLock(READ, 0, 0) {}
    void TrueLock() override { ++locks; }
    bool TrueTryLock() override {
        ++tries;
        return grant;
    }
    void TrueUnlock() override { ++unlocks; }
    CountingLock* Clone() const override { return new CountingLock(); }
    int locks = 0, tries = 0, unlocks = 0;
    bool grant = true;
};

// A read-only data file, as installed data sets are, and a lock directory of the test's own.
class KxLockTest : public ::testing::Test {
protected:
    void SetUp() override {
        data_ = dir_ / "DrugData.txd";
        kxtest::WriteFile(data_, std::string(1000, 'd'), 0444);
        kxplatform::SetLockDirectory(dir_ / "kxlocks");
    }
    void TearDown() override {
        kxplatform::SetLockDirectory("/tmp/kxlocks");
        KxIOSystem::SetOSCapabilitiesValue(kxplatform::OSCapabilities());
    }

    std::string Held(const KxIO& f) {
        std::string s;
        for (int32_t i = 0; i < f.GetLockCount(); ++i) {
            const KxIOLock* l = f.GetLockEntry(i);
            s += KxLockTypeName(l->GetType()) + std::string(" ") + std::to_string(l->GetOffset()) +
                 "+" + std::to_string(l->GetLength()) + "x" + std::to_string(l->GetCount()) + ";";
        }
        return s;
    }

    kxtest::TempDir dir_;
    std::string data_;
};

} // namespace

TEST(KxIOLock, CountsNestedCallsAndTouchesTheSystemOnlyAtTheEdges) {
    CountingLock l;
    l.Lock();
    l.Lock();
    EXPECT_EQ(l.locks, 1);
    EXPECT_TRUE(l.TryLock());
    EXPECT_EQ(l.tries, 0);
    EXPECT_EQ(l.GetCount(), 3);
    EXPECT_FALSE(l.Unlock());
    EXPECT_FALSE(l.Unlock());
    EXPECT_EQ(l.unlocks, 0);
    EXPECT_TRUE(l.Unlock());
    EXPECT_EQ(l.unlocks, 1);
    EXPECT_TRUE(l.Unlock());  // not held: nothing
    EXPECT_EQ(l.unlocks, 1);

    l.grant = false;
    EXPECT_FALSE(l.TryLock());
    EXPECT_EQ(l.GetCount(), 0);
    l.grant = true;
    EXPECT_TRUE(l.TryLock());
    EXPECT_EQ(l.tries, 2);

    l.Reset(WRITE, 100, 10);  // held: released first
    EXPECT_EQ(l.unlocks, 2);
    EXPECT_EQ(l.GetCount(), 0);
    EXPECT_EQ(l.GetType(), WRITE);
    EXPECT_EQ(l.GetOffset(), 100);
    EXPECT_EQ(l.GetLength(), 10);
    l.Reset(READ, 0, 0);
    EXPECT_EQ(l.unlocks, 2);
}

TEST_F(KxLockTest, NestedLocksOfOneRegionShareOneEntry) {
    KxIO a(data_.c_str(), kxIOOpenReadShared), b(data_.c_str(), kxIOOpenReadShared);
    a.Lock(READ, 0, 0);
    a.Lock(READ, 0, 0);
    EXPECT_EQ(Held(a), "READ 0+0x2;");
    EXPECT_FALSE(a.UnLock(READ, 0, 0));
    EXPECT_EQ(Held(a), "READ 0+0x1;");
    EXPECT_FALSE(b.TryLock(WRITE, 0, 0)) << "the remaining count still holds the region";
    EXPECT_EQ(b.GetLockCount(), 0) << "a refused try leaves no entry";
    EXPECT_TRUE(a.UnLock(READ, 0, 0));
    EXPECT_EQ(Held(a), "");
    EXPECT_TRUE(b.TryLock(WRITE, 0, 0)) << "the last UnLock released the system's lock";
    EXPECT_TRUE(a.UnLock(WRITE, 5, 5)) << "a region not locked unlocks without ado";
}

TEST_F(KxLockTest, TheOtherTypeOnAHeldRegionIsRefusedAndLeavesTheTableAlone) {
    KxIO a(data_.c_str(), kxIOOpenReadShared);
    a.Lock(READ, 0, 0);
    EXPECT_KX(CatchKx([&] { a.Lock(WRITE, 0, 0); }),
              "Could not establish a WRITE lock of length 0 at offset 0; READ lock already held! (" +
                  data_ + ")",
              "KxIO", "Lock() of KxIOInterfaceWithLocking");
    EXPECT_KX(CatchKx([&] { a.TryLock(WRITE, 0, 0); }),
              "Could not establish a WRITE lock of length 0 at offset 0; READ lock already held! (" +
                  data_ + ")",
              "KxIO", "TryLock() of KxIOInterfaceWithLocking");
    a.Lock(WRITE, 7000000000, 3);
    EXPECT_KX(CatchKx([&] { a.Lock(READ, 7000000000, 3); }),
              "Could not establish a READ lock of length 3 at offset 7000000000; WRITE lock "
              "already held! (" + data_ + ")",
              "KxIO", "Lock() of KxIOInterfaceWithLocking");
    EXPECT_EQ(Held(a), "READ 0+0x1;WRITE 7000000000+3x1;");
}

TEST_F(KxLockTest, EntriesAreOrderedByOffsetThenLength) {
    KxIO a(data_.c_str(), kxIOOpenReadShared);
    a.Lock(WRITE, 100, 20);
    a.Lock(WRITE, 100, 10);
    a.Lock(READ, 500, 1);
    a.Lock(READ, 0, 0);
    a.Lock(WRITE, 100, 10);
    EXPECT_EQ(Held(a), "READ 0+0x1;WRITE 100+10x2;WRITE 100+20x1;READ 500+1x1;");
    // Releasing the inner region leaves the outer one holding the bytes they share.
    EXPECT_FALSE(a.UnLock(READ, 100, 10));  // the type is not compared
    EXPECT_TRUE(a.UnLock(WRITE, 100, 10));
    KxIO b(data_.c_str(), kxIOOpenReadShared);
    EXPECT_FALSE(b.TryLock(READ, 105, 1));
    EXPECT_TRUE(b.TryLock(READ, 121, 1));
}

TEST_F(KxLockTest, CloseAndDestructionReleaseEveryLock) {
    KxIO b(data_.c_str(), kxIOOpenReadShared);
    {
        KxIO a(data_.c_str(), kxIOOpenReadShared);
        a.Lock(WRITE, 0, 100);
        a.Lock(WRITE, 0, 100);
        a.Lock(READ, 200, 0);
        EXPECT_FALSE(b.TryLock(WRITE, 50, 1));
        EXPECT_FALSE(b.TryLock(WRITE, 900, 1));
        a.Close();
        EXPECT_EQ(a.GetLockCount(), 0);
        EXPECT_TRUE(b.TryLock(WRITE, 50, 1));
        EXPECT_TRUE(b.TryLock(WRITE, 900, 1));
        EXPECT_TRUE(b.UnLock(WRITE, 50, 1));
        EXPECT_TRUE(b.UnLock(WRITE, 900, 1));

        a.Open(data_.c_str(), kxIOOpenReadShared);  // a fresh base lock at each open
        a.Lock(WRITE, 0, 0);
        EXPECT_FALSE(b.TryLock(READ, 0, 1));
    }
    EXPECT_TRUE(b.TryLock(READ, 0, 1));
}

TEST_F(KxLockTest, AClosedFileHasNoBaseLock) {
    KxIO a;
    EXPECT_KX(CatchKx([&] { a.Lock(READ, 0, 0); }), "Base lock not setup ()", "KxIO",
              "Lock() of KxIOInterfaceWithLocking");
    EXPECT_KX(CatchKx([&] { a.TryLock(READ, 0, 0); }), "Base lock not setup ()", "KxIO",
              "TryLock() of KxIOInterfaceWithLocking");
    EXPECT_KX(CatchKx([&] { a.UnLock(READ, 0, 0); }), "Base lock not setup ()", "KxIO",
              "UnLock() of KxIOInterfaceWithLocking");
}

TEST_F(KxLockTest, WithoutExtendedLocksEveryLockIsExclusive) {
    KxIO a(data_.c_str(), kxIOOpenReadShared), b(data_.c_str(), kxIOOpenReadShared);
    a.Lock(READ, 0, 10);
    EXPECT_TRUE(b.TryLock(READ, 0, 10));
    EXPECT_TRUE(b.UnLock(READ, 0, 10));
    a.UnLock(READ, 0, 10);

    KxIOSystem::SetOSCapabilitiesValue(1);
    a.Lock(READ, 0, 10);
    EXPECT_FALSE(b.TryLock(READ, 0, 10));
    // Regions are cut to their low 32 bits: 2^32 + 5 is byte 5.
    EXPECT_FALSE(b.TryLock(READ, (int64_t{1} << 32) + 5, 1));
    EXPECT_TRUE(b.TryLock(READ, 10, 1));
    EXPECT_TRUE(b.UnLock(READ, 10, 1));
    EXPECT_TRUE(a.UnLock(READ, 0, 10));
    EXPECT_TRUE(b.TryLock(READ, 0, 10));
}

TEST_F(KxLockTest, OSCapabilitiesComeFromThePlatform) {
    KxIOSystem::SetOSCapabilitiesValue(0);
    KxIOSystem::SetOSCapabilities();
    EXPECT_EQ(KxIOSystem::GetOSCapabilities(), kxplatform::OSCapabilities());
    EXPECT_EQ(KxIOSystem::GetOSCapabilities(), 7) << "open-file-description locks are expected";
}

TEST_F(KxLockTest, OneFileObjectsTableIsSafeAcrossThreads) {
    KxIO a(data_.c_str(), kxIOOpenReadShared);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&a, t] {
            for (int i = 0; i < 300; ++i) {
                a.Lock(READ, 10 * t, 5);
                a.Lock(READ, 0, 0);
                a.UnLock(READ, 0, 0);
                a.UnLock(READ, 10 * t, 5);
            }
        });
    for (std::thread& t : threads) t.join();
    EXPECT_EQ(a.GetLockCount(), 0);
    KxIO b(data_.c_str(), kxIOOpenReadShared);
    EXPECT_TRUE(b.TryLock(WRITE, 0, 0));
}

// ---- two processes ----

namespace {

enum class Release { ByUnLock, ByClose, ByExit };

int64_t Now() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// The child: holds WRITE on the whole file through a KxIO opened for reading only, tells the
// parent, waits for "go", keeps holding a while, notes the time and lets go.
[[noreturn]] void RunHolder(const std::string& path, Release how, int ready, int go, int report) {
    int code = 0;
    try {
        KxIO file(path.c_str(), kxIOOpenReadShared);
        file.Lock(WRITE, 0, 0);
        char c = 'R';
        if (::write(ready, &c, 1) != 1) ::_exit(3);
        if (::read(go, &c, 1) != 1) ::_exit(4);
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        int64_t released = Now();
        if (::write(report, &released, sizeof released) != sizeof released) ::_exit(5);
        if (how == Release::ByExit) ::_exit(0);
        if (how == Release::ByUnLock) file.UnLock(WRITE, 0, 0);
        if (how == Release::ByClose) file.Close();
        // Stay alive, so that only the release itself can let the parent in.
        if (::read(go, &c, 1) != 1) code = 6;
    } catch (...) {
        code = 2;
    }
    ::_exit(code);
}

class KxLockTwoProcesses : public KxLockTest, public ::testing::WithParamInterface<Release> {};

// The parent's side of the pipes and the child; whatever way the test ends, the child is gone
// afterwards and no descriptor is left behind.
class Holder {
public:
    Holder() {
        for (int* p : {ready_, go_, report_})
            if (::pipe(p) != 0) p[0] = p[1] = -1;
    }
    ~Holder() {
        for (int* p : {ready_, go_, report_}) Close(p[0]), Close(p[1]);
        if (child_ > 0) {
            ::kill(child_, SIGKILL);
            ::waitpid(child_, nullptr, 0);
        }
        ::alarm(0);
    }
    bool Start(const std::string& path, Release how) {
        for (int* p : {ready_, go_, report_})
            if (p[0] < 0) return false;
        child_ = ::fork();
        if (child_ < 0) return false;
        if (child_ == 0) {
            // Only the parent keeps these ends, so that its end, however it comes, ends the child.
            ::close(ready_[0]);
            ::close(go_[1]);
            ::close(report_[0]);
            RunHolder(path, how, ready_[1], go_[0], report_[1]);
        }
        Close(ready_[1]);
        Close(go_[0]);
        Close(report_[1]);
        ::alarm(60);  // a wait that never ends fails the run instead of hanging it
        return true;
    }
    bool AwaitReady() {
        char c;
        return ::read(ready_[0], &c, 1) == 1;
    }
    bool Go() {
        char c = 'G';
        return ::write(go_[1], &c, 1) == 1;
    }
    int64_t ReleasedAt() {
        int64_t at = 0;
        return ::read(report_[0], &at, sizeof at) == static_cast<ssize_t>(sizeof at) ? at : -1;
    }
    bool StillRunning() { return ::waitpid(child_, nullptr, WNOHANG) == 0; }
    // The child's exit status, or -1.
    int Wait() {
        int status = 0;
        pid_t got = ::waitpid(child_, &status, 0);
        child_ = -1;
        return got > 0 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

private:
    static void Close(int& fd) {
        if (fd >= 0) ::close(fd);
        fd = -1;
    }
    int ready_[2], go_[2], report_[2];
    pid_t child_ = -1;
};

} // namespace

TEST_P(KxLockTwoProcesses, WriteOnAReadOnlyFileHoldsOffTheOtherProcess) {
    Holder holder;
    ASSERT_TRUE(holder.Start(data_, GetParam()));
    ASSERT_TRUE(holder.AwaitReady());
    KxIO file(data_.c_str(), kxIOOpenReadShared);
    int64_t before = Now();
    EXPECT_FALSE(file.TryLock(WRITE, 0, 0));
    EXPECT_FALSE(file.TryLock(READ, 500, 1));
    EXPECT_LT(Now() - before, int64_t{200} * 1000000) << "TryLock must answer at once";
    EXPECT_EQ(file.GetLockCount(), 0);

    ASSERT_TRUE(holder.Go());
    int64_t asked = Now();
    ASSERT_FALSE(CatchKx([&] { file.Lock(WRITE, 0, 0); }).thrown);
    int64_t acquired = Now();
    int64_t released = holder.ReleasedAt();
    ASSERT_GT(released, 0);
    EXPECT_GE(acquired, released) << "Lock returned while the other process still held the file";
    EXPECT_GE(acquired - asked, int64_t{250} * 1000000);
    EXPECT_EQ(Held(file), "WRITE 0+0x1;");

    if (GetParam() != Release::ByExit) {
        EXPECT_TRUE(holder.StillRunning()) << "the release came from the exit";
        ASSERT_TRUE(holder.Go());
    }
    EXPECT_EQ(holder.Wait(), 0);
}

INSTANTIATE_TEST_SUITE_P(Release, KxLockTwoProcesses,
                         ::testing::Values(Release::ByUnLock, Release::ByClose, Release::ByExit),
                         [](const ::testing::TestParamInfo<Release>& p) {
                             switch (p.param) {
                                 case Release::ByUnLock: return "ByUnLock";
                                 case Release::ByClose: return "ByClose";
                                 case Release::ByExit: return "ByExit";
                             }
                             return "";
                         });
