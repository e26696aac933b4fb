// The pages' font for their lists, command lines and logs.
#pragma once

#include <QFont>
#include <QFontDatabase>

// Fixed pitch, 14 pixels high, as light as the platform has it, drawn for quality.
inline QFont FixedPageFont() {
    QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    font.setPixelSize(14);
    font.setWeight(QFont::Thin);
    font.setStyleStrategy(QFont::PreferQuality);
    return font;
}
