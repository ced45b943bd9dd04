#pragma once

#include <QColor>
#include <QImage>

#include <cstdlib>

// Comparing pictures that went through scaling or a lossy codec.

// The mean difference of two pictures of one size, in levels per colour channel (255
// when their sizes differ).
inline double MeanDifference(const QImage& a, const QImage& b) {
    if (a.size() != b.size() || a.isNull())
        return 255;
    double sum = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x) {
            const QColor p = a.pixelColor(x, y), q = b.pixelColor(x, y);
            sum += std::abs(p.red() - q.red()) + std::abs(p.green() - q.green()) +
                   std::abs(p.blue() - q.blue());
        }
    return sum / (3.0 * a.width() * a.height());
}

// The number of pixels within `tolerance` levels of `color` in every channel.
inline int CountNear(const QImage& img, QColor color, int tolerance) {
    int n = 0;
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x) {
            const QColor c = img.pixelColor(x, y);
            n += std::abs(c.red() - color.red()) <= tolerance &&
                 std::abs(c.green() - color.green()) <= tolerance &&
                 std::abs(c.blue() - color.blue()) <= tolerance;
        }
    return n;
}
