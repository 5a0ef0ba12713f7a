// The process environment and the user's directories.
#pragma once

#include <optional>
#include <string>

namespace kxplatform {

// The variable's value (possibly empty); empty optional when it is not set (ENOENT).
std::optional<std::string> GetEnv(const std::string& name);

// ${XDG_CONFIG_HOME:-$HOME/.config}, ending with '/'. A relative XDG_CONFIG_HOME is ignored, as
// the XDG rules ask; without HOME the password database gives the home directory.
std::optional<std::string> UserConfigDirectory();

} // namespace kxplatform
