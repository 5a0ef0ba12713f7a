#include "kxplatform_error.h"

#include <cerrno>
#include <cstring>

namespace kxplatform {

namespace {
thread_local int t_lastError = 0;
}

void SetLastError(int code) { t_lastError = code; }

int GetLastError() { return t_lastError; }

std::string ErrorText(int code) {
    char buffer[512];
    buffer[0] = '\0';
    // GNU strerror_r may return a static string instead of filling the buffer.
    const char* text = strerror_r(code, buffer, sizeof buffer);
    if (text == nullptr || *text == '\0') return "Unknown error " + std::to_string(code);
    return text;
}

} // namespace kxplatform
