#pragma once

#include <QColor>
#include <QRect>
#include <QSize>

// What the test painter shows on the 1920x1080 screen: grey with four coloured blocks,
// and a white square moving along a band in the middle.
inline const QColor PainterBackground(128, 128, 128);
inline const QSize PainterScreen(1920, 1080);
struct TPainterBlock {
    QRect Rect;
    QColor Color;
};
inline const TPainterBlock PainterBlocks[] = {
    {QRect(100, 100, 200, 200), QColor(220, 30, 30)},
    {QRect(1620, 100, 200, 200), QColor(30, 200, 60)},
    {QRect(100, 780, 200, 200), QColor(40, 60, 210)},
    {QRect(1620, 780, 200, 200), QColor(230, 210, 40)},
};
inline constexpr int PainterBandTop = 480;
inline constexpr int PainterSquare = 120;
