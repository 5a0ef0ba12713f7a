#include "kxplatform_env.h"

#include <pwd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <vector>

#include "kxplatform_error.h"
#include "kxplatform_internal.h"

namespace kxplatform {

namespace {

std::optional<std::string> Failed(int code) {
    SetLastError(code);
    return std::nullopt;
}

std::optional<std::string> HomeDirectory() {
    std::optional<std::string> home = GetEnv("HOME");
    if (home && !home->empty()) return home;
    long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(size > 0 ? static_cast<size_t>(size) : 16384);
    struct passwd entry;
    struct passwd* found = nullptr;
    int rc = ::getpwuid_r(::geteuid(), &entry, buffer.data(), buffer.size(), &found);
    if (found == nullptr || entry.pw_dir == nullptr || *entry.pw_dir == '\0')
        return Failed(rc != 0 ? rc : ENOENT);
    return std::string(entry.pw_dir);
}

} // namespace

std::optional<std::string> GetEnv(const std::string& name) {
    if (name.empty() || name.find('=') != std::string::npos || name.find('\0') != std::string::npos)
        return Failed(EINVAL);
    const char* value = ::getenv(name.c_str());
    if (value == nullptr) return Failed(ENOENT);
    return std::string(value);
}

std::optional<std::string> UserConfigDirectory() {
    std::optional<std::string> config = GetEnv("XDG_CONFIG_HOME");
    if (config && !config->empty() && (*config)[0] == '/') return detail::WithTrailingSeparator(*config);
    std::optional<std::string> home = HomeDirectory();
    if (!home) return std::nullopt;
    return detail::WithTrailingSeparator(*home) + ".config/";
}

} // namespace kxplatform
