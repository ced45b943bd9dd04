#include "capture/CursorPainter.h"

#include <algorithm>
#include <climits>

namespace {

struct TRgb {
    int R, G, B;
};

TRgb ReadPixel(const uint8_t* p, TScreenPixelFormat format, const std::vector<uint32_t>& palette) {
    switch (format) {
    case spfPal8: {
        const uint32_t c = p[0] < palette.size() ? palette[p[0]] : 0;
        return {int(c >> 16 & 0xFF), int(c >> 8 & 0xFF), int(c & 0xFF)};
    }
    case spfRgb555LE:
    case spfRgb555BE: {
        const int v = format == spfRgb555LE ? p[0] | p[1] << 8 : p[1] | p[0] << 8;
        return {(v >> 10 & 31) * 255 / 31, (v >> 5 & 31) * 255 / 31, (v & 31) * 255 / 31};
    }
    case spfRgb565LE:
    case spfRgb565BE: {
        const int v = format == spfRgb565LE ? p[0] | p[1] << 8 : p[1] | p[0] << 8;
        return {(v >> 11 & 31) * 255 / 31, (v >> 5 & 63) * 255 / 63, (v & 31) * 255 / 31};
    }
    case spfBgr24:
    case spfBgra:
        return {p[2], p[1], p[0]};
    case spfRgb24:
        return {p[0], p[1], p[2]};
    case spfArgb:
        return {p[1], p[2], p[3]};
    case spfNone:
        break;
    }
    return {0, 0, 0};
}

uint8_t NearestIndex(TRgb c, const std::vector<uint32_t>& palette) {
    int best = 0, bestDistance = INT_MAX;
    for (int i = 0; i < int(palette.size()); ++i) {
        const int dr = int(palette[i] >> 16 & 0xFF) - c.R;
        const int dg = int(palette[i] >> 8 & 0xFF) - c.G;
        const int db = int(palette[i] & 0xFF) - c.B;
        const int distance = dr * dr + dg * dg + db * db;
        if (distance < bestDistance) {
            best = i;
            bestDistance = distance;
        }
    }
    return uint8_t(best);
}

void WritePixel(uint8_t* p, TScreenPixelFormat format, const std::vector<uint32_t>& palette,
                TRgb c) {
    switch (format) {
    case spfPal8:
        p[0] = NearestIndex(c, palette);
        return;
    case spfRgb555LE:
    case spfRgb555BE:
    case spfRgb565LE:
    case spfRgb565BE: {
        const bool is565 = format == spfRgb565LE || format == spfRgb565BE;
        const int v = is565 ? (c.R >> 3) << 11 | (c.G >> 2) << 5 | c.B >> 3
                            : (c.R >> 3) << 10 | (c.G >> 3) << 5 | c.B >> 3;
        const bool little = format == spfRgb555LE || format == spfRgb565LE;
        p[little ? 0 : 1] = uint8_t(v);
        p[little ? 1 : 0] = uint8_t(v >> 8);
        return;
    }
    case spfBgr24:
    case spfBgra:
        p[0] = uint8_t(c.B);
        p[1] = uint8_t(c.G);
        p[2] = uint8_t(c.R);
        return;
    case spfRgb24:
        p[0] = uint8_t(c.R);
        p[1] = uint8_t(c.G);
        p[2] = uint8_t(c.B);
        return;
    case spfArgb:
        p[1] = uint8_t(c.R);
        p[2] = uint8_t(c.G);
        p[3] = uint8_t(c.B);
        return;
    case spfNone:
        return;
    }
}

} // namespace

void PaintCursor(uint8_t* picture, int width, int height, TScreenPixelFormat format,
                 const std::vector<uint32_t>& palette, const TCursorImage& cursor, QPoint at) {
    const int bpp = BytesPerPixel(format);
    if (bpp == 0 || cursor.Pixels.size() < size_t(cursor.Width) * cursor.Height)
        return;
    const int x0 = std::max(0, at.x()), x1 = std::min(width, at.x() + cursor.Width);
    const int y0 = std::max(0, at.y()), y1 = std::min(height, at.y() + cursor.Height);
    for (int y = y0; y < y1; ++y) {
        const uint32_t* src = cursor.Pixels.data() + size_t(y - at.y()) * cursor.Width;
        uint8_t* row = picture + size_t(y) * width * bpp;
        for (int x = x0; x < x1; ++x) {
            const uint32_t s = src[x - at.x()];
            const int alpha = int(s >> 24);
            if (alpha == 0)
                continue;
            uint8_t* p = row + size_t(x) * bpp;
            const TRgb under = ReadPixel(p, format, palette);
            // premultiplied: result = source + under × (1 − alpha)
            const auto blend = [alpha](int source, int below) {
                return std::min(255, source + (below * (255 - alpha) + 127) / 255);
            };
            WritePixel(p, format, palette,
                       {blend(int(s >> 16 & 0xFF), under.R), blend(int(s >> 8 & 0xFF), under.G),
                        blend(int(s & 0xFF), under.B)});
        }
    }
}
