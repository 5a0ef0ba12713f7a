#include "tvcodepage.h"

#include <cstdint>
#include <cstdio>

#include "kxexception.h"

namespace {

constexpr const char* kSource = "Utf8ToCp1252";

// Bytes 0x80 to 0x9F; the rest of the upper half equals Latin-1.
constexpr char32_t kHighControls[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, // 80..87
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F, // 88..8F
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014, // 90..97
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178, // 98..9F
};

void AppendUtf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

[[noreturn]] void ThrowInvalid(std::string_view utf8, size_t offset) {
    KxGenerateException("invalid UTF-8 (byte 0x%02X at byte %zu of the text)", kSource,
                        static_cast<unsigned char>(utf8[offset]), offset + 1);
}

// Decodes the character starting at offset and advances offset past it.
char32_t DecodeUtf8(std::string_view utf8, size_t& offset) {
    unsigned char lead = static_cast<unsigned char>(utf8[offset]);
    if (lead < 0x80) {
        ++offset;
        return lead;
    }
    int extra;
    char32_t c, minimum;
    if (lead >= 0xC2 && lead <= 0xDF) {
        extra = 1, c = lead & 0x1F, minimum = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        extra = 2, c = lead & 0x0F, minimum = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        extra = 3, c = lead & 0x07, minimum = 0x10000;
    } else {
        ThrowInvalid(utf8, offset);
    }
    for (int i = 1; i <= extra; ++i) {
        if (offset + i >= utf8.size()) ThrowInvalid(utf8, offset);
        unsigned char next = static_cast<unsigned char>(utf8[offset + i]);
        if ((next & 0xC0) != 0x80) ThrowInvalid(utf8, offset + i);
        c = (c << 6) | (next & 0x3F);
    }
    if (c < minimum || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) ThrowInvalid(utf8, offset);
    offset += extra + 1;
    return c;
}

} // namespace

char32_t UnicodeFromCp1252(unsigned char byte) {
    return byte >= 0x80 && byte <= 0x9F ? kHighControls[byte - 0x80] : byte;
}

int Cp1252FromUnicode(char32_t character) {
    if (character < 0x80 || (character >= 0xA0 && character <= 0xFF))
        return static_cast<int>(character);
    for (int i = 0; i < 32; ++i)
        if (kHighControls[i] == character) return 0x80 + i;
    return -1;
}

std::string Utf8ToCp1252(std::string_view utf8) {
    KX_TRY
        std::string out;
        out.reserve(utf8.size());
        size_t offset = 0;
        while (offset < utf8.size()) {
            size_t start = offset;
            char32_t c = DecodeUtf8(utf8, offset);
            int byte = Cp1252FromUnicode(c);
            if (byte < 0) {
                std::string shown(utf8.substr(start, offset - start));
                KxGenerateException("the character \"%s\" (U+%04X) at byte %zu of the text has no "
                                    "Windows-1252 form",
                                    kSource, shown.c_str(), static_cast<unsigned>(c), start + 1);
            }
            out += static_cast<char>(byte);
        }
        return out;
    KX_CATCH_STD("Utf8ToCp1252()", nullptr)
}

std::string Cp1252ToUtf8(std::string_view cp1252) {
    std::string out;
    out.reserve(cp1252.size() + cp1252.size() / 8);
    for (char byte : cp1252) AppendUtf8(out, UnicodeFromCp1252(static_cast<unsigned char>(byte)));
    return out;
}
