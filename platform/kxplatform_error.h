// The operating system's last-error code, kept per thread as the system services report it.
#pragma once

#include <cstddef>
#include <string>

namespace kxplatform {

// Every platform call that fails records its error code here, so callers can build their
// message first and ask for the system's text afterwards without the code being overwritten.
void SetLastError(int code);
int GetLastError();

// The system's description of an error code; never empty.
std::string ErrorText(int code);
inline std::string LastErrorText() { return ErrorText(GetLastError()); }

} // namespace kxplatform
