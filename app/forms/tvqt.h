// The boundary between the program's 8-bit Windows-1252 text and the window toolkit: one byte
// for one character both ways, so that a character offset in a box is a byte offset in the
// text behind it. Also the program's colour references and font names in the toolkit's terms.
#pragma once

#include <QColor>
#include <QFont>
#include <QString>

#include <cstdint>

#include "kxstring.h"

QString TvToQt(const char* sText);
// A character that Windows-1252 cannot hold becomes '?', and so does a NUL character, which
// would otherwise cut the text short.
KxString TvFromQt(const QString& text);

// The system colours that a colour reference may name with 0x80000000 + index.
inline constexpr int32_t kTvSysColorFlag = static_cast<int32_t>(0x80000000u);
inline constexpr int32_t kTvSysColorMenu = 4;
inline constexpr int32_t kTvSysColorWindow = 5;
inline constexpr int32_t kTvSysColorWindowText = 8;
inline constexpr int32_t kTvSysColorHighlight = 13;
inline constexpr int32_t kTvSysColorHighlightText = 14;
inline constexpr int32_t kTvSysColorButtonFace = 15;
inline constexpr int32_t kTvSysColorButtonText = 18;

// 0x00BBGGRR, or a system colour resolved from the desktop palette.
QColor TvColor(int32_t lColorRef);
// The colour reference of an opaque colour.
int32_t TvColorRef(const QColor& color);

// A font by the family names the windows were laid out with (Arial, MS Sans Serif, Courier
// New, Times New Roman), which the metric-compatible faces installed here stand in for;
// iPixelHeight is the character height without the internal leading.
QFont TvFont(const char* sFamily, int iPixelHeight, bool bold = false);
