// Helpers shared by the platform sources; not part of the platform interface.
#pragma once

#include <cerrno>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "kxplatform_error.h"
#include "kxplatform_lock.h"

namespace kxplatform::detail {

// Records the error and returns false, so failures read "return Fail(errno);".
inline bool Fail(int code) {
    SetLastError(code);
    return false;
}

// A path the system can be given as it is: not empty and without an embedded NUL, which would
// silently name another file.
inline bool CheckPath(const std::string& path) {
    if (path.empty()) return Fail(ENOENT);
    if (path.find('\0') != std::string::npos) return Fail(EINVAL);
    return true;
}

inline std::string WithTrailingSeparator(std::string directory) {
    if (directory.empty() || directory.back() != '/') directory += '/';
    return directory;
}

// The region locks one File holds; see kxplatform_lock.cpp.
struct HeldLock {
    LockType type;
    int64_t start;
    int64_t end;  // exclusive; kLockToEnd for "to the end"
};

struct LockStateBase {
    LockMethod method = LockMethod::None;
    int companionFd = -1;
    std::vector<HeldLock> held;
    std::mutex mutex;
};

} // namespace kxplatform::detail

namespace kxplatform {

// Owned by File; its destructor closes the companion lock file, which releases every lock taken
// through it.
struct LockState : detail::LockStateBase {
    LockState() = default;
    LockState(const LockState&) = delete;
    LockState& operator=(const LockState&) = delete;
    ~LockState();
};

} // namespace kxplatform
