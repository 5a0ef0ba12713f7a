// Region locks.
//
// Why a companion lock file. Region locks must belong to the file object, so that two opens of
// one file exclude each other even inside one process; open-file-description (OFD) locks do
// exactly that. But an exclusive POSIX lock needs a descriptor open for writing, and every search
// takes an exclusive lock on a data file that may be installed read-only. So no lock is taken on
// the data file itself. Each File object opens, on its first lock, a companion lock file:
//
//     <lock directory>/<device>-<inode>.lock      (hexadecimal numbers of the data file)
//
// read-write, once, and takes all its OFD locks there, at the data file's offsets. It is closed
// with the File, which releases whatever is still held. Because the name comes from the data
// file's identity, every open of the same file, by any path and in any process, meets the same
// lock file, and each open is its own open file description: the locks behave as region locks on
// the file object do.
//
// The lock directory (/tmp/kxlocks) is shared by all users: it is created with mode 01777 and
// lock files with mode 0666 (fchmod, so the umask cannot narrow it). Lock files are never
// removed: removing one while another process has it open would let a third process lock a new
// file of the same name, and both would believe they hold the region. They are empty.
// An existing lock file is opened without O_CREAT first, because the kernel's protection of
// sticky world-writable directories refuses O_CREAT on another user's file there; symbolic links
// and non-regular files are refused, so nobody can steer us to another file.
//
// Fallback. When the lock directory cannot be used, the File locks its own descriptor with OFD
// locks instead, for as long as it stays open. That works for READ on a readable file and for
// WRITE on a file open for writing; a WRITE lock on a file open for reading only then fails with
// ENOLCK. Such a process and one that uses the lock directory do not see each other's locks, so
// the fallback is only as good as the lock directory is usable for every cooperating process.
// Lock files live on the local machine: processes on other machines sharing the data over a
// network file system are not coordinated.
//
// Nesting. POSIX merges the locks one owner holds, so a plain unlock of a region would also drop
// any other lock of the same File that overlaps it, and a READ lock would downgrade bytes the
// same File holds for WRITE. Each File therefore keeps the list of its locks, and every request
// changes the system's locks only where the strongest covering lock changes.
#include "kxplatform_lock.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <mutex>
#include <vector>

#include "kxplatform_error.h"
#include "kxplatform_internal.h"

namespace kxplatform {

using detail::Fail;
using detail::HeldLock;

LockState::~LockState() {
    if (companionFd >= 0) ::close(companionFd);
}

// File's private members, for the lock functions only.
struct LockAccess {
    static int Descriptor(const File& file) { return file.fd_; }
    static LockState* State(const File& file) { return file.locks_.get(); }
    static LockState& EnsureState(File& file) {
        // Two threads may take the first locks of one File at once.
        static std::mutex creation;
        std::lock_guard<std::mutex> guard(creation);
        if (!file.locks_) file.locks_ = std::make_unique<LockState>();
        return *file.locks_;
    }
};

namespace {

constexpr int64_t kLockToEnd = INT64_MAX;

std::mutex g_directoryMutex;
std::string g_lockDirectory = "/tmp/kxlocks/";

enum Level { kNone = 0, kShared = 1, kExclusive = 2 };

int FailedDescriptor(int code) {
    SetLastError(code);
    return -1;
}

TryLockResult Failed(int code, TryLockResult result) {
    SetLastError(code);
    return result;
}

Level LevelOf(LockType type) { return type == LockType::Write ? kExclusive : kShared; }

// [start, end) of a request; a zero length or one past the largest offset reaches to the end.
bool ToSpan(int64_t offset, int64_t length, int64_t& start, int64_t& end) {
    if (offset < 0 || length < 0) return Fail(EINVAL);
    start = offset;
    end = (length == 0 || offset > kLockToEnd - length) ? kLockToEnd : offset + length;
    return true;
}

// The strongest lock covering [start, end), which no held boundary splits.
Level LevelIn(const std::vector<HeldLock>& held, int64_t start) {
    Level level = kNone;
    for (const HeldLock& h : held)
        if (h.start <= start && start < h.end) level = std::max(level, LevelOf(h.type));
    return level;
}

struct Segment {
    int64_t start;
    int64_t end;
    Level from;
    Level to;
};

// Where the level of [start, end) differs between two lock lists, as maximal segments.
std::vector<Segment> Changes(const std::vector<HeldLock>& before, const std::vector<HeldLock>& after,
                             int64_t start, int64_t end) {
    std::vector<int64_t> cuts{start, end};
    for (const auto* list : {&before, &after})
        for (const HeldLock& h : *list)
            for (int64_t cut : {h.start, h.end})
                if (cut > start && cut < end) cuts.push_back(cut);
    std::sort(cuts.begin(), cuts.end());
    cuts.erase(std::unique(cuts.begin(), cuts.end()), cuts.end());

    std::vector<Segment> changes;
    for (size_t i = 0; i + 1 < cuts.size(); ++i) {
        Level from = LevelIn(before, cuts[i]);
        Level to = LevelIn(after, cuts[i]);
        if (from == to) continue;
        if (!changes.empty() && changes.back().end == cuts[i] && changes.back().from == from &&
            changes.back().to == to) {
            changes.back().end = cuts[i + 1];
        } else {
            changes.push_back({cuts[i], cuts[i + 1], from, to});
        }
    }
    return changes;
}

// One system call: sets [start, end) of the descriptor's open file description to the level.
int SetLevel(int fd, Level level, int64_t start, int64_t end, bool wait) {
    struct flock request{};
    request.l_type = level == kExclusive ? F_WRLCK : level == kShared ? F_RDLCK : F_UNLCK;
    request.l_whence = SEEK_SET;
    request.l_start = static_cast<off_t>(start);
    request.l_len = end == kLockToEnd ? 0 : static_cast<off_t>(end - start);
    request.l_pid = 0;  // required for OFD locks
    for (;;) {
        if (::fcntl(fd, wait ? F_OFD_SETLKW : F_OFD_SETLK, &request) == 0) return 0;
        if (errno != EINTR) return errno;
    }
}

bool EnsureDirectory(const std::string& directory) {
    std::string path = directory;
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    if (::mkdir(path.c_str(), 01777) == 0) {
        // mkdir applies the umask, and every user must be able to add lock files.
        if (::chmod(path.c_str(), 01777) != 0) return Fail(errno);
    } else if (errno != EEXIST) {
        return Fail(errno);
    }
    return true;
}

// Opens the companion lock file of the data file open on dataFd; -1 on failure.
int OpenCompanion(int dataFd) {
    struct stat data;
    if (::fstat(dataFd, &data) != 0) return FailedDescriptor(errno);
    std::string directory = LockDirectory();
    if (!detail::CheckPath(directory) || !EnsureDirectory(directory)) return -1;
    int dirFd = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (dirFd < 0) return FailedDescriptor(errno);

    char name[64];
    std::snprintf(name, sizeof name, "%llx-%llx.lock", static_cast<unsigned long long>(data.st_dev),
                  static_cast<unsigned long long>(data.st_ino));
    // O_NONBLOCK: a FIFO planted under the name must not hang the open.
    const int common = O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY;
    int fd = -1;
    int code = 0;
    for (int attempt = 0; attempt < 8 && fd < 0; ++attempt) {
        fd = ::openat(dirFd, name, common);
        if (fd >= 0) break;
        if (errno != ENOENT) {
            code = errno;
            break;
        }
        fd = ::openat(dirFd, name, common | O_CREAT | O_EXCL, 0666);
        if (fd >= 0) {
            if (::fchmod(fd, 0666) != 0) {
                // Only other users are affected: they will fall back to their own descriptor.
            }
            break;
        }
        if (errno != EEXIST) {
            code = errno;
            break;
        }
        code = EEXIST;  // another process created it just now; open that one
    }
    ::close(dirFd);
    if (fd < 0) return FailedDescriptor(code);

    struct stat lock;
    if (::fstat(fd, &lock) != 0 || !S_ISREG(lock.st_mode)) {
        ::close(fd);
        return FailedDescriptor(EINVAL);
    }
    return fd;
}

// Decided once per open File: the companion lock file, else the File's own descriptor.
void ChooseMethod(LockState& state, int dataFd) {
    if (state.method != LockMethod::None) return;
    int fd = OpenCompanion(dataFd);
    if (fd >= 0) {
        state.companionFd = fd;
        state.method = LockMethod::Companion;
    } else {
        state.method = LockMethod::OwnDescriptor;
    }
}

TryLockResult Acquire(File& file, LockType type, int64_t offset, int64_t length, bool wait) {
    const int dataFd = LockAccess::Descriptor(file);
    if (dataFd < 0) return Failed(EBADF, TryLockResult::Error);
    int64_t start, end;
    if (!ToSpan(offset, length, start, end)) return TryLockResult::Error;

    LockState& state = LockAccess::EnsureState(file);
    std::lock_guard<std::mutex> guard(state.mutex);
    ChooseMethod(state, dataFd);
    int fd = state.companionFd;
    if (state.method == LockMethod::OwnDescriptor) {
        if ((type == LockType::Write && !file.CanWrite()) || (type == LockType::Read && !file.CanRead()))
            return Failed(ENOLCK, TryLockResult::Error);
        fd = dataFd;
    }

    std::vector<HeldLock> after = state.held;
    after.push_back({type, start, end});
    std::vector<Segment> changes = Changes(state.held, after, start, end);
    for (size_t i = 0; i < changes.size(); ++i) {
        int code = SetLevel(fd, changes[i].to, changes[i].start, changes[i].end, wait);
        if (code == 0) continue;
        // Undo the segments already taken; downgrades and unlocks are granted at once.
        for (size_t j = 0; j < i; ++j) SetLevel(fd, changes[j].from, changes[j].start, changes[j].end, false);
        if (!wait && (code == EAGAIN || code == EACCES)) return Failed(code, TryLockResult::WouldBlock);
        return Failed(code, TryLockResult::Error);
    }
    state.held = std::move(after);
    return TryLockResult::Locked;
}

} // namespace

bool LockRegion(File& file, LockType type, int64_t offset, int64_t length) {
    return Acquire(file, type, offset, length, true) == TryLockResult::Locked;
}

TryLockResult TryLockRegion(File& file, LockType type, int64_t offset, int64_t length) {
    return Acquire(file, type, offset, length, false);
}

bool UnlockRegion(File& file, LockType type, int64_t offset, int64_t length) {
    const int dataFd = LockAccess::Descriptor(file);
    if (dataFd < 0) return Fail(EBADF);
    int64_t start, end;
    if (!ToSpan(offset, length, start, end)) return false;
    LockState* state = LockAccess::State(file);
    if (state == nullptr) return true;
    std::lock_guard<std::mutex> guard(state->mutex);

    auto same = [&](const HeldLock& h, bool typeToo) {
        return h.start == start && h.end == end && (!typeToo || h.type == type);
    };
    auto it = std::find_if(state->held.begin(), state->held.end(), [&](const HeldLock& h) { return same(h, true); });
    if (it == state->held.end())
        it = std::find_if(state->held.begin(), state->held.end(), [&](const HeldLock& h) { return same(h, false); });
    if (it == state->held.end()) return true;

    std::vector<HeldLock> after = state->held;
    after.erase(after.begin() + (it - state->held.begin()));
    const int fd = state->method == LockMethod::Companion ? state->companionFd : dataFd;
    int failure = 0;
    for (const Segment& change : Changes(state->held, after, start, end)) {
        int code = SetLevel(fd, change.to, change.start, change.end, false);
        if (code != 0 && failure == 0) failure = code;
    }
    // The lock is forgotten even on failure: at worst bytes stay locked until the File closes.
    state->held = std::move(after);
    if (failure != 0) return Fail(failure);
    return true;
}

LockMethod GetLockMethod(const File& file) {
    LockState* state = LockAccess::State(file);
    return state == nullptr ? LockMethod::None : state->method;
}

std::string LockDirectory() {
    std::lock_guard<std::mutex> guard(g_directoryMutex);
    return g_lockDirectory;
}

void SetLockDirectory(const std::string& directory) {
    std::lock_guard<std::mutex> guard(g_directoryMutex);
    g_lockDirectory = detail::WithTrailingSeparator(directory);
}

int OSCapabilities() {
    static const int capabilities = [] {
        // Probing needs any open file; OFD_GETLK asks nothing of the access mode.
        int fd = ::open("/proc/self/exe", O_RDONLY | O_CLOEXEC);
        if (fd < 0) fd = ::open("/", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fd < 0) return 1;
        struct flock probe{};
        probe.l_type = F_RDLCK;
        probe.l_whence = SEEK_SET;
        bool ofd = ::fcntl(fd, F_OFD_GETLK, &probe) == 0;
        ::close(fd);
        return ofd ? 7 : 1;
    }();
    return capabilities;
}

} // namespace kxplatform
