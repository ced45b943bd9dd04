#pragma once

#include "media/FFApi.h"

#include <QImage>
#include <QString>

#include <cstdint>

// TFormatConverter turns a decoded picture of any pixel format into a bitmap of a fixed
// depth that the program draws on with QPainter, and the bitmap back into a picture of
// the format it came in. Sizes never change: only the pixel format does (libswscale).
//
//     TFormatConverter converter;                       // 24 bits (BGR24)
//     TAVPicture picture = TAVPicture::Of(frame);       // a decoded AVFrame
//     if (!converter.PictureToRGB(&picture, AVPixelFormat(frame->format), frame->width,
//                                 frame->height, true))
//         return Log(converter.LastErrMsg());
//     QPainter(&converter.Bitmap()).drawText(10, 20, "Hello");
//     converter.BitmapToRGB();
//     if (converter.RGBPictureRef() == converter.RGBPicture())  // it was converted
//         converter.RGBToPicture(&picture, AVPixelFormat(frame->format), frame->width,
//                                frame->height);
//
// A picture already in the bitmap's format, with even sides and rows as long as the
// bitmap's (4-byte aligned), is used in place: RGBPictureRef() is then the caller's
// picture (valid while the caller keeps it), and BitmapToRGB writes the drawing straight
// into it. Otherwise it is converted into the converter's own buffer, which only grows;
// the two scaler contexts are cached and made again only when sizes or formats change.
//
// The bitmap is a top-down QImage whose rows are 4-byte aligned:
//   8 bits   Format_Indexed8 with the 3-3-2 colour table of AV_PIX_FMT_BGR8
//   15 bits  Format_RGB555   (AV_PIX_FMT_RGB555LE, 16 bits per pixel)
//   16 bits  Format_RGB16    (AV_PIX_FMT_RGB565LE)
//   24 bits  Format_BGR888   (AV_PIX_FMT_BGR24)
//   32 bits  Format_ARGB32   (AV_PIX_FMT_BGRA)
// The 8-bit bitmap cannot be drawn on with QPainter (Qt paints on no indexed image).
//
// Needs libavutil and libswscale loaded for the conversions. A converter is used by one
// thread at a time; it has no locks.

// A picture: up to four planes with their line sizes (an AVFrame's first four).
struct TAVPicture {
    uint8_t* data[4] = {};
    int linesize[4] = {};
    static TAVPicture Of(const AVFrame* frame);
};

enum TBMPPixelFormat { pf8bit, pf15bit, pf16bit, pf24bit, pf32bit };

// The description of the bitmap-side picture, in the manner of a bitmap header.
struct TDIBInfo {
    int bmType = 0;
    int bmWidth = 0;
    int bmHeight = 0;
    int bmWidthBytes = 0; // the picture's first line size
    int bmPlanes = 0;
    int bmBitsPixel = 0;
    uint8_t* bmBits = nullptr; // its first plane
};

class TFormatConverter {
public:
    TFormatConverter(); // 24 bits
    ~TFormatConverter();
    TFormatConverter(const TFormatConverter&) = delete;
    TFormatConverter& operator=(const TFormatConverter&) = delete;

    int BitsPixel() const { return FBitsPixel; }
    // 8, 15, 16, 24 or 32; other values throw EFFError "Invalid BitsPixel %d".
    void SetBitsPixel(int value);
    TBMPPixelFormat BMPPixFmt() const { return FBMPPixFmt; }
    // Values outside the five depths throw EFFError "Invalid PixelFormat %d".
    void SetBMPPixFmt(TBMPPixelFormat value);
    // The pixel format of the bitmap side.
    AVPixelFormat AVPixFmt() const { return FAVPixFmt; }

    QImage& Bitmap() { return FBitmap; }
    const TDIBInfo* DIB() const { return &FDIB; }
    const TAVPicture* RGBPicture() const { return &FRGBPicture; }
    // The current bitmap-side picture: RGBPicture(), or the caller's own picture when
    // none needed converting; null before the first PictureToRGB and after a depth change.
    const TAVPicture* RGBPictureRef() const { return FRGBPictureRef; }
    QString LastErrMsg() const { return FLastErrMsg; }

    // Makes `picture` (of `format`, width × height) the bitmap-side picture, converting
    // it when needed, and copies it into Bitmap() when `copyToBitmap`. False with
    // LastErrMsg "Cannot initialize the toRGB conversion context" (or the reason a size
    // or library is missing).
    bool PictureToRGB(TAVPicture* picture, AVPixelFormat format, int width, int height,
                      bool copyToBitmap);
    // Copies the bitmap-side picture into Bitmap() / Bitmap() into it, row by row. Both
    // need a bitmap-side picture (EAssertionFailed otherwise).
    void RGBToBitmap();
    void BitmapToRGB();
    // Converts the bitmap-side picture into `picture` (of `format`, width × height, the
    // size it was made from). False with LastErrMsg "Cannot initialize the fromRGB
    // conversion context" (or that the size differs).
    // Needs a bitmap-side picture (EAssertionFailed otherwise).
    bool RGBToPicture(TAVPicture* picture, AVPixelFormat format, int width, int height);

    // The bitmap row size for `bits` per pixel: ((width × bits + 31) div 32) × 4.
    static int BitmapRowBytes(int width, int bits) { return ((width * bits + 31) / 32) * 4; }

private:
    void ApplyDepth(TBMPPixelFormat depth);
    void SizeBitmap(int width, int height);

    int FBitsPixel = 0;
    AVPixelFormat FAVPixFmt = AV_PIX_FMT_NONE;
    TBMPPixelFormat FBMPPixFmt = pf24bit;
    QImage FBitmap;
    TDIBInfo FDIB;
    uint8_t* FRGBBuffer = nullptr;
    int FRGBBufSize = 0;
    TAVPicture FRGBPicture;
    TAVPicture* FRGBPictureRef = nullptr;
    int FRGBWidth = 0, FRGBHeight = 0;
    SwsContext* FtoRGB_convert_ctx = nullptr;
    SwsContext* FfromRGB_convert_ctx = nullptr;
    QString FLastErrMsg;
};
