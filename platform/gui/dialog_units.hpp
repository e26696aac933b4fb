// Window layouts are given in dialog units; every window converts them to pixels
// by this one fixed scale, so pages and dialogs line up with each other whatever
// font the platform picks.
#pragma once

#include <QRect>
#include <QSize>

namespace dlu {

inline constexpr int kNumX = 7;  // pixels per 4 horizontal units
inline constexpr int kNumY = 7;  // pixels per 4 vertical units

constexpr int X(int units) {
    return units * kNumX / 4;
}
constexpr int Y(int units) {
    return units * kNumY / 4;
}

inline QRect Rect(int x, int y, int width, int height) {
    return QRect(X(x), Y(y), X(width), Y(height));
}
inline QSize Size(int width, int height) {
    return QSize(X(width), Y(height));
}

}  // namespace dlu
