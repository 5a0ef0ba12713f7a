#include <gtest/gtest.h>

#include <string>

#include "foundation/kxcatch.h"
#include "tvcodepage.h"

namespace {

TEST(CodePage, EveryByteComesBackThroughUtf8) {
    for (int byte = 0; byte < 256; ++byte) {
        std::string one(1, static_cast<char>(byte));
        EXPECT_EQ(Utf8ToCp1252(Cp1252ToUtf8(one)), one) << "byte " << byte;
    }
}

TEST(CodePage, CharactersOutsideLatin1MapToTheirBytes) {
    struct Case {
        const char* utf8;
        unsigned char byte;
    } cases[] = {
        {"A", 'A'},          {"\xE2\x82\xAC", 0x80}, // euro sign
        {"\xE2\x84\xA2", 0x99},                      // trade mark sign
        {"\xC5\xB8", 0x9F},                          // Y with diaeresis
        {"\xC3\xA9", 0xE9},                          // e with acute
        {"\xC2\xA0", 0xA0},                          // no-break space
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Utf8ToCp1252(c.utf8), std::string(1, static_cast<char>(c.byte))) << c.utf8;
        EXPECT_EQ(Cp1252ToUtf8(std::string(1, static_cast<char>(c.byte))), c.utf8);
    }
}

TEST(CodePage, CharacterWithoutAWindows1252FormIsNamedWithItsPosition) {
    // Greek beta after two ASCII letters.
    KxCaught caught = CatchKx([] { Utf8ToCp1252("ab\xCE\xB2"); });
    ASSERT_TRUE(caught.thrown);
    EXPECT_EQ(caught.message,
              "the character \"\xCE\xB2\" (U+03B2) at byte 3 of the text has no Windows-1252 form");
    // U+0080 is a control character, not the euro sign that byte 0x80 stands for.
    EXPECT_TRUE(CatchKx([] { Utf8ToCp1252("\xC2\x80"); }).thrown);
}

TEST(CodePage, MalformedUtf8IsRefused) {
    const char* cases[] = {
        "\xFF",             // never a UTF-8 byte
        "x\x80",            // continuation without a lead
        "\xC0\xAF",         // overlong slash
        "\xE0\x80\xAF",     // overlong slash, three bytes
        "\xED\xA0\x80",     // surrogate
        "\xF4\x90\x80\x80", // above U+10FFFF
        "\xE2\x82",         // cut short
        "\xC3(",            // lead byte before a non-continuation
    };
    for (const char* text : cases) {
        KxCaught caught = CatchKx([text] { Utf8ToCp1252(text); });
        EXPECT_TRUE(caught.thrown) << text;
        EXPECT_NE(caught.message.find("invalid UTF-8"), std::string::npos) << caught.message;
    }
}

} // namespace
