#include "media/FFUtils.h"

#include "media/FFErrors.h"
#include "media/FFLoad.h"
#include "media/YuvConvert.h"

#include <algorithm>
#include <cstring>

TAVPicture TAVPicture::Of(const AVFrame* frame) {
    TAVPicture picture;
    for (int i = 0; i < 4; ++i) {
        picture.data[i] = frame->data[i];
        picture.linesize[i] = frame->linesize[i];
    }
    return picture;
}

namespace {

struct TDepth {
    int BitsPixel;
    AVPixelFormat PixFmt;
    QImage::Format Format;
};

// Indexed by TBMPPixelFormat. The 15- and 16-bit formats are the layouts QImage stores
// (red in the high bits), so that what QPainter draws keeps its colours.
const TDepth Depths[] = {
    {8, AV_PIX_FMT_BGR8, QImage::Format_Indexed8},
    {16, AV_PIX_FMT_RGB555LE, QImage::Format_RGB555},
    {16, AV_PIX_FMT_RGB565LE, QImage::Format_RGB16},
    {24, AV_PIX_FMT_BGR24, QImage::Format_BGR888},
    {32, AV_PIX_FMT_BGRA, QImage::Format_ARGB32},
};

// AV_PIX_FMT_BGR8: (msb) 2 bits blue, 3 green, 3 red (lsb).
QList<QRgb> Bgr8ColorTable() {
    QList<QRgb> table(256);
    for (int i = 0; i < 256; ++i) {
        const int r = i & 7, g = (i >> 3) & 7, b = i >> 6;
        table[i] = qRgb(r * 255 / 7, g * 255 / 7, b * 255 / 3);
    }
    return table;
}

bool ScalerLoaded(QString& error) {
    if (!FFLoader.Loaded(avUtil)) {
        error = QStringLiteral("LibAVUtil not loaded.");
        return false;
    }
    if (!FFLoader.Loaded(swScale)) {
        error = QStringLiteral("LibSwScale not loaded.");
        return false;
    }
    return true;
}

} // namespace

TFormatConverter::TFormatConverter() {
    ApplyDepth(pf24bit);
}

TFormatConverter::~TFormatConverter() {
    // Without the libraries nothing of theirs can be freed (nor was it made since).
    if (FF.sws_freeContext) {
        FF.sws_freeContext(FtoRGB_convert_ctx);
        FF.sws_freeContext(FfromRGB_convert_ctx);
    }
    if (FF.av_free)
        FF.av_free(FRGBBuffer);
}

void TFormatConverter::SetBitsPixel(int value) {
    // Compared by depth, not by bits: 15 and 16 both have 16 bits per pixel.
    TBMPPixelFormat depth;
    switch (value) {
    case 8:
        depth = pf8bit;
        break;
    case 15:
        depth = pf15bit;
        break;
    case 16:
        depth = pf16bit;
        break;
    case 24:
        depth = pf24bit;
        break;
    case 32:
        depth = pf32bit;
        break;
    default:
        throw EFFError(QStringLiteral("Invalid BitsPixel %1").arg(value));
    }
    if (depth != FBMPPixFmt)
        ApplyDepth(depth);
}

void TFormatConverter::SetBMPPixFmt(TBMPPixelFormat value) {
    if (value == FBMPPixFmt)
        return;
    if (value < pf8bit || value > pf32bit)
        throw EFFError(QStringLiteral("Invalid PixelFormat %1").arg(int(value)));
    ApplyDepth(value);
}

void TFormatConverter::ApplyDepth(TBMPPixelFormat depth) {
    FDIB = TDIBInfo{};
    FRGBPicture = TAVPicture{};
    FRGBPictureRef = nullptr;
    FBMPPixFmt = depth;
    FBitsPixel = Depths[depth].BitsPixel;
    FAVPixFmt = Depths[depth].PixFmt;
    const QSize size = FBitmap.isNull() ? QSize(1, 1) : FBitmap.size();
    FBitmap = QImage(size, Depths[depth].Format);
    if (depth == pf8bit)
        FBitmap.setColorTable(Bgr8ColorTable());
    FBitmap.fill(0);
}

void TFormatConverter::SizeBitmap(int width, int height) {
    if (FBitmap.width() == width && FBitmap.height() == height)
        return;
    const QList<QRgb> table = FBitmap.colorTable();
    FBitmap = QImage(width, height, FBitmap.format());
    if (!table.isEmpty())
        FBitmap.setColorTable(table);
}

bool TFormatConverter::PictureToRGB(TAVPicture* picture, AVPixelFormat format, int width,
                                    int height, bool copyToBitmap) {
    if (!ScalerLoaded(FLastErrMsg))
        return false;
    if (width <= 0 || height <= 0 || FF.av_image_check_size(width, height, 0, nullptr) < 0) {
        FRGBPictureRef = nullptr;
        FLastErrMsg = QStringLiteral("Invalid picture size %1x%2").arg(width).arg(height);
        return false;
    }
    SizeBitmap(width, height);
    if (FBitmap.isNull()) {
        FRGBPictureRef = nullptr;
        FLastErrMsg = QStringLiteral("Cannot allocate a bitmap of %1x%2").arg(width).arg(height);
        return false;
    }
    if (format == FAVPixFmt && width % 2 == 0 && height % 2 == 0 &&
        picture->linesize[0] == BitmapRowBytes(width, FBitsPixel)) {
        FRGBPictureRef = picture;
    } else {
        const int size = FF.av_image_get_buffer_size(FAVPixFmt, width, height, 1);
        if (size <= 0) {
            FRGBPictureRef = nullptr;
            FLastErrMsg = AVErrorText(size);
            return false;
        }
        if (FRGBBufSize < size) {
            FF.av_free(FRGBBuffer);
            FRGBBufSize = 0;
            FRGBBuffer = static_cast<uint8_t*>(FF.av_malloc(size));
            if (!FRGBBuffer) {
                FRGBPictureRef = nullptr;
                FLastErrMsg = AVErrorText(AVERROR(ENOMEM));
                return false;
            }
            FRGBBufSize = size;
        }
        FRGBPicture = TAVPicture{};
        FF.av_image_fill_arrays(FRGBPicture.data, FRGBPicture.linesize, FRGBBuffer, FAVPixFmt,
                                width, height, 1);
        FtoRGB_convert_ctx =
            FF.sws_getCachedContext(FtoRGB_convert_ctx, width, height, format, width, height,
                                    FAVPixFmt, SWS_BICUBIC, nullptr, nullptr, nullptr);
        if (!FtoRGB_convert_ctx) {
            FRGBPictureRef = nullptr;
            FLastErrMsg = QStringLiteral("Cannot initialize the toRGB conversion context");
            return false;
        }
        FF.sws_scale(FtoRGB_convert_ctx, picture->data, picture->linesize, 0, height,
                     FRGBPicture.data, FRGBPicture.linesize);
        FRGBPictureRef = &FRGBPicture;
    }
    FRGBWidth = width;
    FRGBHeight = height;
    FDIB = TDIBInfo{
        0, width, height, FRGBPictureRef->linesize[0], 1, FBitsPixel, FRGBPictureRef->data[0]};
    if (copyToBitmap)
        RGBToBitmap();
    return true;
}

void TFormatConverter::RGBToBitmap() {
    FFAssert(FRGBPictureRef != nullptr, "RGBToBitmap needs a converted picture.");
    const int bytes = std::min<qsizetype>(FRGBPictureRef->linesize[0], FBitmap.bytesPerLine());
    for (int r = 0; r < FRGBHeight; ++r)
        std::memcpy(FBitmap.scanLine(r), FRGBPictureRef->data[0] + r * FRGBPictureRef->linesize[0],
                    bytes);
}

void TFormatConverter::BitmapToRGB() {
    FFAssert(FRGBPictureRef != nullptr, "BitmapToRGB needs a converted picture.");
    const int bytes = std::min<qsizetype>(FRGBPictureRef->linesize[0], FBitmap.bytesPerLine());
    for (int r = 0; r < FRGBHeight; ++r)
        std::memcpy(FRGBPictureRef->data[0] + r * FRGBPictureRef->linesize[0],
                    FBitmap.constScanLine(r), bytes);
}

bool TFormatConverter::RGBToPicture(TAVPicture* picture, AVPixelFormat format, int width,
                                    int height) {
    FFAssert(FRGBPictureRef != nullptr, "RGBToPicture needs a converted picture.");
    if (!ScalerLoaded(FLastErrMsg))
        return false;
    if (width != FRGBWidth || height != FRGBHeight) {
        FLastErrMsg = QStringLiteral("Picture size %1x%2 differs from the converted %3x%4")
                          .arg(width)
                          .arg(height)
                          .arg(FRGBWidth)
                          .arg(FRGBHeight);
        return false;
    }
    // Straight to YUV 4:2:0 in one pass where it can; swscale for every other format.
    if (format == AV_PIX_FMT_YUV420P &&
        ConvertToYuv420(FRGBPictureRef->data[0], FRGBPictureRef->linesize[0], FAVPixFmt, width,
                        height, picture->data, picture->linesize))
        return true;
    FfromRGB_convert_ctx = FF.sws_getCachedContext(
        FfromRGB_convert_ctx, width, height, FAVPixFmt, width, height, format,
        YuvScalerFlags(FAVPixFmt, width, height, format, width, height, SWS_BICUBIC), nullptr,
        nullptr, nullptr);
    if (!FfromRGB_convert_ctx) {
        FLastErrMsg = QStringLiteral("Cannot initialize the fromRGB conversion context");
        return false;
    }
    FF.sws_scale(FfromRGB_convert_ctx, FRGBPictureRef->data, FRGBPictureRef->linesize, 0, height,
                 picture->data, picture->linesize);
    return true;
}
