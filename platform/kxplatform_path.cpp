#include "kxplatform_path.h"

#include <unistd.h>

#include <cerrno>
#include <vector>

#include "kxplatform_error.h"
#include "kxplatform_internal.h"

namespace kxplatform {

namespace {

std::optional<std::string> Failed(int code) {
    SetLastError(code);
    return std::nullopt;
}

// Collapses an absolute path without asking the file system.
std::string Normalise(const std::string& absolute) {
    std::vector<std::string> parts;
    size_t pos = 0;
    while (pos <= absolute.size()) {
        size_t next = absolute.find('/', pos);
        if (next == std::string::npos) next = absolute.size();
        std::string part = absolute.substr(pos, next - pos);
        if (part == "..") {
            if (!parts.empty()) parts.pop_back();
        } else if (!part.empty() && part != ".") {
            parts.push_back(std::move(part));
        }
        pos = next + 1;
    }
    std::string result;
    for (const std::string& part : parts) result += "/" + part;
    if (result.empty() || absolute.back() == '/') result += '/';
    return result;
}

std::optional<std::string> ReadLink(const char* path) {
    std::string buffer(256, '\0');
    for (;;) {
        ssize_t length = ::readlink(path, buffer.data(), buffer.size());
        if (length < 0) return Failed(errno);
        if (static_cast<size_t>(length) < buffer.size()) {
            buffer.resize(static_cast<size_t>(length));
            return buffer;
        }
        buffer.resize(buffer.size() * 2);
    }
}

} // namespace

bool IsAbsolutePath(const std::string& path) { return !path.empty() && path[0] == kPathSeparator; }

std::optional<std::string> FullPathFrom(const std::string& base, const std::string& path) {
    if (path.empty() || path.find('\0') != std::string::npos || !IsAbsolutePath(base))
        return Failed(EINVAL);
    if (IsAbsolutePath(path)) return Normalise(path);
    return Normalise(detail::WithTrailingSeparator(base) + path);
}

std::optional<std::string> FullPath(const std::string& path) {
    if (path.empty() || path.find('\0') != std::string::npos) return Failed(EINVAL);
    if (IsAbsolutePath(path)) return Normalise(path);
    std::optional<std::string> current = CurrentDirectory();
    if (!current) return std::nullopt;
    return Normalise(*current + path);
}

std::optional<std::string> CurrentDirectory() {
    std::string buffer(256, '\0');
    for (;;) {
        if (::getcwd(buffer.data(), buffer.size()) != nullptr) {
            buffer.resize(buffer.find('\0'));
            return detail::WithTrailingSeparator(std::move(buffer));
        }
        if (errno != ERANGE) return Failed(errno);
        buffer.resize(buffer.size() * 2);
    }
}

std::optional<std::string> ExecutablePath() { return ReadLink("/proc/self/exe"); }

std::optional<std::string> ExecutableDirectory() {
    std::optional<std::string> path = ExecutablePath();
    if (!path) return std::nullopt;
    size_t slash = path->find_last_of('/');
    if (slash == std::string::npos) return Failed(ENOENT);
    return path->substr(0, slash + 1);
}

} // namespace kxplatform
