#include "kxplatform_identity.h"

#include <sys/stat.h>

#include <cerrno>

#include "kxplatform_error.h"

namespace kxplatform {

bool SameFile(const std::string& first, const std::string& second) {
    if (first.empty() || second.empty()) {
        SetLastError(ENOENT);
        return false;
    }
    // An embedded NUL would make the system examine another name.
    if (first.find('\0') != std::string::npos || second.find('\0') != std::string::npos) {
        SetLastError(EINVAL);
        return false;
    }
    struct stat a, b;
    if (::stat(first.c_str(), &a) != 0 || ::stat(second.c_str(), &b) != 0) {
        SetLastError(errno);
        return false;
    }
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

} // namespace kxplatform
