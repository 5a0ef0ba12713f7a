#include "tvqt.h"

#include <QApplication>
#include <QPalette>

#include <string>

#include "tvcodepage.h"

QString TvToQt(const char* sText) {
    QString text;
    if (sText == nullptr) return text;
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(sText); *p != 0; ++p) {
        char32_t c = UnicodeFromCp1252(*p);
        text += QChar(static_cast<char16_t>(c));
    }
    return text;
}

KxString TvFromQt(const QString& text) {
    std::string bytes;
    bytes.reserve(static_cast<size_t>(text.size()));
    for (char32_t c : text.toUcs4()) {
        int byte = c == 0 ? -1 : Cp1252FromUnicode(c);
        bytes += byte < 0 ? '?' : static_cast<char>(byte);
    }
    return KxString(bytes.c_str());
}

QColor TvColor(int32_t lColorRef) {
    uint32_t ref = static_cast<uint32_t>(lColorRef);
    if ((ref & 0x80000000u) != 0) {
        QPalette palette = QApplication::palette();
        switch (static_cast<int32_t>(ref & 0xFFu)) {
        case kTvSysColorMenu: return palette.color(QPalette::Active, QPalette::Window);
        case kTvSysColorWindow: return palette.color(QPalette::Active, QPalette::Base);
        case kTvSysColorWindowText: return palette.color(QPalette::Active, QPalette::Text);
        case kTvSysColorHighlight: return palette.color(QPalette::Active, QPalette::Highlight);
        case kTvSysColorHighlightText:
            return palette.color(QPalette::Active, QPalette::HighlightedText);
        case kTvSysColorButtonFace: return palette.color(QPalette::Active, QPalette::Button);
        case kTvSysColorButtonText: return palette.color(QPalette::Active, QPalette::ButtonText);
        default: return palette.color(QPalette::Active, QPalette::Window);
        }
    }
    return QColor(static_cast<int>(ref & 0xFFu), static_cast<int>((ref >> 8) & 0xFFu),
                  static_cast<int>((ref >> 16) & 0xFFu));
}

int32_t TvColorRef(const QColor& color) {
    QColor rgb = color.toRgb();
    return static_cast<int32_t>(static_cast<uint32_t>(rgb.red()) |
                                (static_cast<uint32_t>(rgb.green()) << 8) |
                                (static_cast<uint32_t>(rgb.blue()) << 16));
}

namespace {

void InstallFontSubstitutes() {
    static bool installed = false;
    if (installed) return;
    installed = true;
    QFont::insertSubstitution("Arial", "Liberation Sans");
    QFont::insertSubstitution("MS Sans Serif", "Liberation Sans");
    QFont::insertSubstitution("Courier New", "Liberation Mono");
    QFont::insertSubstitution("Times New Roman", "Liberation Serif");
}

} // namespace

QFont TvFont(const char* sFamily, int iPixelHeight, bool bold) {
    InstallFontSubstitutes();
    QFont font(QString::fromLatin1(sFamily != nullptr ? sFamily : "Arial"));
    font.setPixelSize(iPixelHeight > 0 ? iPixelHeight : 12);
    font.setBold(bold);
    QString family = font.family();
    if (family.startsWith("Courier")) font.setStyleHint(QFont::TypeWriter);
    else if (family.startsWith("Times")) font.setStyleHint(QFont::Serif);
    else font.setStyleHint(QFont::SansSerif);
    return font;
}
