// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QRect>

#include <algorithm>

namespace torvak::layout {

// The window is designed in twips; 15 twips are one logical pixel.
inline constexpr int kTwipsPerPixel = 15;

constexpr int px(int twips) { return twips / kTwipsPerPixel; }
constexpr QRect twips(int left, int top, int width, int height)
{
    return QRect(px(left), px(top), px(width), px(height));
}

inline constexpr int kClientWidth = 4005;
inline constexpr int kClientHeight = 1605;
// Outer width minus client width before the window manager has framed the
// window: the designed fixed frame, 45 twips a side.
inline constexpr float kDesignedBorder = 90.0f;

inline constexpr QRect kLabel1 = twips(1560, 0, 690, 195);
inline constexpr QRect kCombo1 = twips(1560, 240, 1215, 315);
inline constexpr QRect kLabel2 = twips(1560, 600, 1515, 195);
inline constexpr QRect kText1 = twips(1560, 840, 2295, 285);
inline constexpr QRect kCheck1 = twips(1560, 1200, 1335, 255);
inline constexpr QRect kCheck2 = twips(3120, 1200, 615, 255);
inline constexpr QRect kCommand1 = twips(105, 1080, 975, 375);
inline constexpr QRect kShape1 = twips(285, 240, 615, 495);
inline constexpr QRect kLabel3 = twips(120, 360, 855, 495);

inline constexpr int kText1Left = 1560, kText1Width = 2295;
inline constexpr int kCommand1Left = 105, kCommand1Width = 975;

// The design fits the desktop's usual font, whose lines are 14 pixels high
// (9-point Sans). A larger font scales the whole design with it; a smaller
// one leaves it as designed.
inline constexpr double kDesignedLineHeight = 14.0;
inline double fontScale(int lineHeight) { return std::max(1.0, lineHeight / kDesignedLineHeight); }
inline QRect scaled(const QRect& r, double s)
{
    return QRect(qRound(r.x() * s), qRound(r.y() * s), qRound(r.width() * s), qRound(r.height() * s));
}

} // namespace torvak::layout
