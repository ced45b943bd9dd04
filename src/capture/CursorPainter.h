#pragma once

#include "platform/X11ScreenGrabber.h"

#include <QPoint>

#include <cstdint>
#include <vector>

// Paints the cursor's image into a grabbed picture, blending its premultiplied ARGB
// pixels over the picture's own, in the picture's pixel format. The image's top-left
// corner goes to `at` (picture coordinates); what falls outside the picture is left out.
// For spfPal8 each painted pixel takes the palette entry nearest to the blended colour.
// `picture` has rows of width × BytesPerPixel(format) bytes. Thread-safe.
void PaintCursor(uint8_t* picture, int width, int height, TScreenPixelFormat format,
                 const std::vector<uint32_t>& palette, const TCursorImage& cursor, QPoint at);
