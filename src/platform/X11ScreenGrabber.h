#pragma once

#include "platform/X11Connection.h"

#include <QRect>
#include <QString>

#include <cstdint>
#include <memory>
#include <vector>

// Grabbing rectangles of the X11 screen into caller memory, and reading the mouse
// cursor's image, for the screen capture source.
//
//     TX11ScreenGrabber grabber;
//     if (!grabber.Open() || !grabber.Prepare(640, 480))
//         return Fail(grabber.LastError());
//     std::vector<uint8_t> picture(grabber.PictureSize());
//     grabber.Grab(QPoint(100, 100), picture.data()); // rows top to bottom, no padding
//
// Pictures are read from the root window with XShmGetImage into shared segments
// prepared once and reused; without the shared-memory extension (or on a remote server)
// with XGetImage. Parts of the rectangle outside the screen come out as zero bytes.
// GrabShared lends the segment itself instead of copying out of it:
//
//     std::shared_ptr<uint8_t> picture;
//     grabber.GrabShared(QPoint(100, 100), &picture); // null: use Grab
//
// One grabber is used by one thread at a time (it may change threads between calls); a
// lent picture may be read and dropped on any thread, also after the grabber is gone.

// The layout of a pixel as the display stores it, in memory order.
enum TScreenPixelFormat {
    spfNone,     // a depth the grabber cannot deliver
    spfPal8,     // 8 bits, an index into Palette()
    spfRgb555LE, // 16 bits, little-endian, 0RRRRRGGGGGBBBBB
    spfRgb565LE, // 16 bits, little-endian, RRRRRGGGGGGBBBBB
    spfRgb555BE,
    spfRgb565BE,
    spfBgr24, // blue, green, red
    spfRgb24, // red, green, blue
    spfBgra,  // blue, green, red, unused
    spfArgb,  // unused, red, green, blue
};

int BytesPerPixel(TScreenPixelFormat format);

// The cursor's image as the X server reports it (XFixes).
struct TCursorImage {
    QPoint Position; // the pointer, in screen coordinates
    QPoint HotSpot;  // inside the image
    int Width = 0, Height = 0;
    std::vector<uint32_t> Pixels; // premultiplied ARGB, rows top to bottom
};

class TX11ScreenGrabber {
public:
    TX11ScreenGrabber();
    ~TX11ScreenGrabber();
    TX11ScreenGrabber(const TX11ScreenGrabber&) = delete;
    TX11ScreenGrabber& operator=(const TX11ScreenGrabber&) = delete;

    // Connects to the X server and reads the screen's size and pixel layout. False with
    // LastError() when there is no X server.
    bool Open();
    TX11Connection& Connection() { return FConnection; }

    QSize ScreenSize() const { return FScreenSize; }
    // Bits per pixel of the screen's pictures (8, 16, 24, 32, or what the server uses).
    int BitsPerPixel() const { return FBitsPerPixel; }
    TScreenPixelFormat PixelFormat() const { return FFormat; }
    // For spfPal8: the colormap's 256 colours as 0xAARRGGBB (alpha 0xFF).
    const std::vector<uint32_t>& Palette() const { return FPalette; }

    // Allocates the pictures of width x height (either may be 0). False with LastError()
    // when the memory cannot be had. Shared memory is tried first and silently given up.
    bool Prepare(int width, int height);
    bool UsesSharedMemory() const;
    int RowBytes() const { return FWidth * BytesPerPixel(FFormat); }
    int PictureSize() const { return RowBytes() * FHeight; }

    // Copies the prepared rectangle at `origin` (screen coordinates) into `picture`
    // (PictureSize() bytes, rows of RowBytes()). False with LastError() and the X error
    // code in ErrorCode() when the server refuses.
    bool Grab(QPoint origin, uint8_t* picture);

    // Grabs the rectangle at `origin` into a shared segment and lends that segment as
    // `picture` (PictureSize() bytes, rows of RowBytes(), followed by SharedTailBytes zero
    // bytes, writable). The segment is used again only after the last copy of `picture`
    // is dropped. True with a null `picture` when no segment can be lent (no shared
    // memory, rows the server pads, the rectangle not wholly on the screen, or every
    // segment still lent): Grab then gives the picture. False as Grab.
    bool GrabShared(QPoint origin, std::shared_ptr<uint8_t>* picture);
    static constexpr int SharedTailBytes = 64;
    // At most this many segments are lent at once.
    static constexpr int MaxSharedPictures = 3;

    // The cursor's current image and place. False when the server has no XFixes or
    // cannot tell (LastError()).
    bool ReadCursor(TCursorImage* image);

    QString LastError() const { return FLastError; }
    int ErrorCode() const { return FErrorCode; }

private:
    struct TSegment;
    struct TImage;
    bool Fail(const QString& text, int code);
    // A prepared image whose segment is not lent, made when fewer than MaxSharedPictures
    // exist; null when there is none. Grabs the rectangle at `origin` into it.
    TImage* GrabIntoFreeImage(QPoint origin, bool* failed);
    std::unique_ptr<TImage> MakeImage();
    TX11Connection FConnection;
    QSize FScreenSize;
    int FBitsPerPixel = 0;
    TScreenPixelFormat FFormat = spfNone;
    std::vector<uint32_t> FPalette;
    int FWidth = 0, FHeight = 0;
    std::vector<std::unique_ptr<TImage>> FImages; // the first made by Prepare
    bool FHasFixes = false;
    QString FLastError;
    int FErrorCode = 0;
};
