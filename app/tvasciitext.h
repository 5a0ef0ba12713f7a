// Case folding for the searches and the history: ASCII letters only, whatever the process's
// locale says (the window toolkit sets one from the environment, and a Latin-1 locale would
// fold the Windows-1252 letters as well).
#pragma once

#include <string>

#include "kxstring.h"

inline char TvAsciiUpper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c; }
inline char TvAsciiLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; }

inline KxString TvUppercased(const char* sText) {
    std::string copy(sText != nullptr ? sText : "");
    for (char& c : copy) c = TvAsciiUpper(c);
    return KxString(copy.c_str());
}

inline KxString TvLowercased(const char* sText) {
    std::string copy(sText != nullptr ? sText : "");
    for (char& c : copy) c = TvAsciiLower(c);
    return KxString(copy.c_str());
}
