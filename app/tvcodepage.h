// Text inside the program is 8-bit Windows-1252; the source tables, the terminal and the window
// toolkit speak Unicode. These convert at that boundary, one byte for one character, so that
// character offsets agree on both sides.
#pragma once

#include <string>
#include <string_view>

// The character a Windows-1252 byte stands for. The five bytes the code page leaves undefined
// (0x81, 0x8D, 0x8F, 0x90, 0x9D) stand for the control characters of the same number, so that
// every byte converts and comes back unchanged.
char32_t UnicodeFromCp1252(unsigned char byte);
// The byte for a character, or -1 when Windows-1252 has none.
int Cp1252FromUnicode(char32_t character);

// Strict UTF-8 (no overlong forms, no surrogates, nothing above U+10FFFF) to Windows-1252.
// Fails with a KxException that says what was found and at which byte of the text.
std::string Utf8ToCp1252(std::string_view utf8);
// Never fails: every byte has a character.
std::string Cp1252ToUtf8(std::string_view cp1252);
