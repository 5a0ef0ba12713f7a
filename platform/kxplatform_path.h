// Path names: full paths, the current directory, the program's own location.
#pragma once

#include <optional>
#include <string>

namespace kxplatform {

inline constexpr char kPathSeparator = '/';

bool IsAbsolutePath(const std::string& path);

// The absolute form of path, made lexically against the current directory: ".", ".." and
// doubled separators collapse, ".." at the root stays at the root, and a trailing separator is
// kept. The file need not exist; symbolic links are not resolved. An empty path fails (EINVAL).
std::optional<std::string> FullPath(const std::string& path);
// The same against a given absolute base directory instead of the current one.
std::optional<std::string> FullPathFrom(const std::string& base, const std::string& path);

// The current directory, ending with '/'.
std::optional<std::string> CurrentDirectory();
// The running executable's own file (from /proc/self/exe).
std::optional<std::string> ExecutablePath();
// Its directory, ending with '/'.
std::optional<std::string> ExecutableDirectory();

} // namespace kxplatform
