// The fonts that pages and dialogs make in code, by pixel height and weight.
#pragma once

#include <QFont>
#include <QFontDatabase>

// The windows' fonts are given with the weights of the original platform's font
// description (0 to 1000; 0 is "any", 400 normal, 700 bold). There the light
// values they use (14, 100, 110) drew the system face's regular cut, which has
// no lighter one; Qt would pick its thinnest face and the text would look
// disabled. So: any weight below 450 is Normal; above that the nearest of Qt's
// hundreds, 500 Medium, 600 DemiBold, 700 Bold, 800 ExtraBold, 900 and more Black.
constexpr QFont::Weight QtFontWeight(int windowsWeight) {
    if (windowsWeight < 450) return QFont::Normal;
    const int hundreds = (windowsWeight + 50) / 100 * 100;
    return static_cast<QFont::Weight>(hundreds > QFont::Black ? int{QFont::Black} : hundreds);
}

// `base` at `pixelHeight` pixels with the readable equivalent of `windowsWeight`.
inline QFont SizedFont(QFont base, int pixelHeight, int windowsWeight) {
    base.setPixelSize(pixelHeight);
    base.setWeight(QtFontWeight(windowsWeight));
    return base;
}

// The pages' font for their lists, command lines and logs: fixed pitch,
// 14 pixels high, weight 14, drawn for quality.
inline QFont FixedPageFont() {
    QFont font = SizedFont(QFontDatabase::systemFont(QFontDatabase::FixedFont), 14, 14);
    font.setStyleStrategy(QFont::PreferQuality);
    return font;
}
