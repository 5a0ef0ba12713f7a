#include <QFontInfo>

#include "formsfixture.h"

namespace tvformstest {
namespace {

class QtBoundary : public FormsTest {};

TEST_F(QtBoundary, TextKeepsOneCharacterPerByte) {
    std::string all;
    for (int byte = 1; byte < 256; ++byte) all += static_cast<char>(byte);
    QString text = TvToQt(all.c_str());
    EXPECT_EQ(text.size(), 255);
    EXPECT_EQ(text[0x80 - 1], QChar(0x20AC));
    EXPECT_EQ(text[0xE9 - 1], QChar(0xE9));
    EXPECT_EQ(std::string(TvFromQt(text)), all);

    // What the code page cannot hold, and NUL, become '?' instead of cutting the text.
    EXPECT_STREQ(TvFromQt(QString::fromUtf8("a\u2192b")), "a?b");
    EXPECT_STREQ(TvFromQt(QString("a") + QChar(0) + "b"), "a?b");
    EXPECT_STREQ(TvFromQt(QString::fromUtf8("\U0001F600x")), "?x");
    EXPECT_EQ(TvToQt(nullptr), QString());
}

TEST_F(QtBoundary, ColourReferences) {
    EXPECT_EQ(TvColor(0x00FFDB97), QColor(0x97, 0xDB, 0xFF));
    EXPECT_EQ(TvColor(0x000000FF), QColor(0xFF, 0, 0));
    EXPECT_EQ(TvColorRef(QColor(0x11, 0x22, 0x33)), 0x00332211);
    EXPECT_EQ(TvColorRef(TvColor(0x00123456)), 0x00123456);
    QPalette palette = QApplication::palette();
    EXPECT_EQ(TvColor(kTvSysColorFlag | kTvSysColorWindow), palette.color(QPalette::Base));
    EXPECT_EQ(TvColor(kTvSysColorFlag | kTvSysColorWindowText), palette.color(QPalette::Text));
    EXPECT_EQ(TvColor(kTvSysColorFlag | kTvSysColorMenu), palette.color(QPalette::Window));
}

TEST_F(QtBoundary, WindowsFontNamesFindTheInstalledFaces) {
    struct Case {
        const char* family;
        const char* face;
    };
    for (const Case& c : {Case{"Arial", "Liberation Sans"}, Case{"MS Sans Serif", "Liberation Sans"},
                          Case{"Courier New", "Liberation Mono"}}) {
        QFont font = TvFont(c.family, 17, true);
        EXPECT_EQ(font.pixelSize(), 17);
        EXPECT_TRUE(font.bold());
        EXPECT_EQ(QFontInfo(font).family(), c.face) << c.family;
    }
}

} // namespace
} // namespace tvformstest
