#include "MediaTestSupport.h"

#include "media/FFErrors.h"
#include "media/FFUtils.h"

#include <QPainter>

#include <vector>

namespace {

// A packed picture in a buffer of its own.
struct TPackedPicture {
    std::vector<uint8_t> Bytes;
    TAVPicture Picture;
    TPackedPicture(int lineSize, int height, uint8_t fill = 0)
        : Bytes(size_t(lineSize) * height, fill) {
        Picture.data[0] = Bytes.data();
        Picture.linesize[0] = lineSize;
    }
    const uint8_t* Pixel(int x, int y, int bytesPerPixel) const {
        return Bytes.data() + y * Picture.linesize[0] + x * bytesPerPixel;
    }
};

// A planar picture allocated by FFmpeg.
struct TFFPicture {
    TAVPicture Picture;
    TFFPicture(AVPixelFormat format, int width, int height) {
        EXPECT_GE(FF.av_image_alloc(Picture.data, Picture.linesize, width, height, format, 1), 0);
    }
    ~TFFPicture() { FF.av_freep(&Picture.data[0]); }
};

// Fills a YUV420P picture with one colour.
void FillYuv(TAVPicture& picture, int width, int height, uint8_t y, uint8_t u, uint8_t v) {
    for (int r = 0; r < height; ++r)
        std::memset(picture.data[0] + r * picture.linesize[0], y, width);
    for (int r = 0; r < height / 2; ++r) {
        std::memset(picture.data[1] + r * picture.linesize[1], u, width / 2);
        std::memset(picture.data[2] + r * picture.linesize[2], v, width / 2);
    }
}

class FormatConverter : public TMediaTest {};

} // namespace

TEST(FormatConverterDepths, SelectTheFiveDepthsAndRejectOthers) {
    TFormatConverter converter;
    EXPECT_EQ(converter.BitsPixel(), 24);
    EXPECT_EQ(converter.AVPixFmt(), AV_PIX_FMT_BGR24);
    EXPECT_EQ(converter.Bitmap().format(), QImage::Format_BGR888);
    converter.SetBitsPixel(15);
    EXPECT_EQ(converter.BMPPixFmt(), pf15bit);
    EXPECT_EQ(converter.BitsPixel(), 16);
    EXPECT_EQ(converter.AVPixFmt(), AV_PIX_FMT_RGB555LE);
    EXPECT_EQ(converter.Bitmap().depth(), 16);
    converter.SetBitsPixel(16);
    EXPECT_EQ(converter.BMPPixFmt(), pf16bit);
    EXPECT_EQ(converter.AVPixFmt(), AV_PIX_FMT_RGB565LE);
    converter.SetBMPPixFmt(pf8bit);
    EXPECT_EQ(converter.BitsPixel(), 8);
    EXPECT_EQ(converter.Bitmap().colorCount(), 256);
    converter.SetBitsPixel(32);
    EXPECT_EQ(converter.AVPixFmt(), AV_PIX_FMT_BGRA);
    try {
        converter.SetBitsPixel(12);
        ADD_FAILURE();
    } catch (const EFFError& error) {
        EXPECT_EQ(error.Message(), QStringLiteral("Invalid BitsPixel 12"));
    }
    try {
        converter.SetBMPPixFmt(TBMPPixelFormat(7));
        ADD_FAILURE();
    } catch (const EFFError& error) {
        EXPECT_EQ(error.Message(), QStringLiteral("Invalid PixelFormat 7"));
    }
    EXPECT_EQ(converter.BitsPixel(), 32); // unchanged by the refusals
    // Without a bitmap-side picture the copies are programming errors.
    EXPECT_THROW(converter.RGBToBitmap(), EAssertionFailed);
    EXPECT_THROW(converter.BitmapToRGB(), EAssertionFailed);
}

TEST_F(FormatConverter, AMatchingPictureIsUsedInPlace) {
    TFormatConverter converter;
    TPackedPicture source(1920, 480);
    source.Bytes[0] = 10, source.Bytes[1] = 20, source.Bytes[2] = 30; // top-left B, G, R
    ASSERT_TRUE(converter.PictureToRGB(&source.Picture, AV_PIX_FMT_BGR24, 640, 480, true))
        << converter.LastErrMsg().toStdString();
    EXPECT_EQ(converter.RGBPictureRef(), &source.Picture);
    EXPECT_EQ(converter.DIB()->bmBits, source.Bytes.data());
    EXPECT_EQ(converter.DIB()->bmWidthBytes, 1920);
    EXPECT_EQ(converter.DIB()->bmBitsPixel, 24);
    EXPECT_EQ(converter.Bitmap().size(), QSize(640, 480));
    EXPECT_EQ(converter.Bitmap().pixel(0, 0), qRgb(30, 20, 10));

    // Drawing reaches the caller's picture with BitmapToRGB alone.
    QPainter(&converter.Bitmap()).fillRect(600, 400, 40, 80, QColor(255, 0, 0));
    converter.BitmapToRGB();
    const uint8_t* drawn = source.Pixel(639, 479, 3);
    EXPECT_EQ(drawn[0], 0);
    EXPECT_EQ(drawn[2], 255);
}

TEST_F(FormatConverter, OddSidesOrOtherRowsAreConvertedThroughTheOwnBuffer) {
    TFormatConverter converter;
    TPackedPicture odd(641 * 3, 480, 0x40);
    ASSERT_TRUE(converter.PictureToRGB(&odd.Picture, AV_PIX_FMT_BGR24, 641, 480, true));
    EXPECT_EQ(converter.RGBPictureRef(), converter.RGBPicture());
    EXPECT_NE(converter.DIB()->bmBits, odd.Bytes.data());
    EXPECT_EQ(converter.Bitmap().pixel(640, 479), qRgb(0x40, 0x40, 0x40));

    // Even sides but padded rows: converted too.
    TPackedPicture padded(1984, 480);
    ASSERT_TRUE(converter.PictureToRGB(&padded.Picture, AV_PIX_FMT_BGR24, 640, 480, false));
    EXPECT_EQ(converter.RGBPictureRef(), converter.RGBPicture());
    EXPECT_EQ(converter.DIB()->bmWidthBytes, 1920);

    // The buffer is reused for a smaller picture and grows for a larger one.
    uint8_t* buffer = converter.RGBPicture()->data[0];
    ASSERT_TRUE(converter.PictureToRGB(&odd.Picture, AV_PIX_FMT_BGR24, 321, 240, false));
    EXPECT_EQ(converter.RGBPicture()->data[0], buffer);
    TPackedPicture large(1281 * 3, 720);
    ASSERT_TRUE(converter.PictureToRGB(&large.Picture, AV_PIX_FMT_BGR24, 1281, 720, false));
    EXPECT_EQ(converter.RGBPicture()->linesize[0], 1281 * 3);

    // A depth change forgets the bitmap-side picture.
    converter.SetBitsPixel(32);
    EXPECT_EQ(converter.RGBPictureRef(), nullptr);
}

TEST_F(FormatConverter, Yuv420pRowsKeepTheirOwnSizeInTheBitmap) {
    TFormatConverter converter;
    TFFPicture yuv(AV_PIX_FMT_YUV420P, 642, 480);
    FillYuv(yuv.Picture, 642, 480, 81, 90, 240); // red in BT.601
    ASSERT_TRUE(converter.PictureToRGB(&yuv.Picture, AV_PIX_FMT_YUV420P, 642, 480, false));
    EXPECT_EQ(converter.Bitmap().bytesPerLine(), 1928);
    EXPECT_EQ(converter.RGBPicture()->linesize[0], 1926);
    EXPECT_EQ(converter.DIB()->bmWidthBytes, 1926);
    for (int r = 0; r < 480; ++r)
        std::memset(converter.Bitmap().scanLine(r), 0xEE, 1928);
    converter.RGBToBitmap();
    for (int r : {0, 239, 479}) {
        const uint8_t* row = converter.Bitmap().constScanLine(r);
        EXPECT_EQ(std::memcmp(row, converter.RGBPicture()->data[0] + r * 1926, 1926), 0) << r;
        EXPECT_EQ(row[1926], 0xEE);
        EXPECT_EQ(row[1927], 0xEE);
    }
    const QColor red = converter.Bitmap().pixelColor(321, 240);
    EXPECT_GT(red.red(), 230);
    EXPECT_LT(red.blue(), 25);

    // Drawn in blue and converted back: the picture's chroma turns blue.
    QPainter(&converter.Bitmap()).fillRect(0, 0, 642, 480, QColor(0, 0, 255));
    converter.BitmapToRGB();
    ASSERT_TRUE(converter.RGBToPicture(&yuv.Picture, AV_PIX_FMT_YUV420P, 642, 480));
    EXPECT_GT(yuv.Picture.data[1][yuv.Picture.linesize[1] * 100 + 100], 230); // U
    EXPECT_LT(yuv.Picture.data[2][yuv.Picture.linesize[2] * 100 + 100], 130); // V
    EXPECT_FALSE(converter.RGBToPicture(&yuv.Picture, AV_PIX_FMT_YUV420P, 640, 480));
}

TEST_F(FormatConverter, SixteenBitBitmapsKeepTheColoursDrawnOnThem) {
    for (int bits : {15, 16}) {
        TFormatConverter converter;
        converter.SetBitsPixel(bits);
        TPackedPicture black(1920, 480);
        ASSERT_TRUE(converter.PictureToRGB(&black.Picture, AV_PIX_FMT_BGR24, 640, 480, true));
        QPainter(&converter.Bitmap()).fillRect(0, 0, 10, 10, QColor(255, 0, 0));
        converter.BitmapToRGB();
        ASSERT_TRUE(converter.RGBToPicture(&black.Picture, AV_PIX_FMT_BGR24, 640, 480));
        const uint8_t* pixel = black.Pixel(5, 5, 3);
        EXPECT_LT(pixel[0], 20) << bits;  // blue
        EXPECT_GT(pixel[2], 230) << bits; // red
        EXPECT_LT(black.Pixel(100, 100, 3)[2], 20) << bits;
    }
}

TEST_F(FormatConverter, ThirtyTwoBitPicturesWithMatchingRowsAreUsedInPlace) {
    TFormatConverter converter;
    converter.SetBitsPixel(32);
    TPackedPicture bgra(2560, 480, 0x7F);
    ASSERT_TRUE(converter.PictureToRGB(&bgra.Picture, AV_PIX_FMT_BGRA, 640, 480, true));
    EXPECT_EQ(converter.RGBPictureRef(), &bgra.Picture);
    EXPECT_EQ(converter.Bitmap().pixel(3, 3), qRgba(0x7F, 0x7F, 0x7F, 0x7F));
    TPackedPicture bgr(1920, 480);
    ASSERT_TRUE(converter.PictureToRGB(&bgr.Picture, AV_PIX_FMT_BGR24, 640, 480, true));
    EXPECT_EQ(converter.RGBPictureRef(), converter.RGBPicture());
}

TEST(FormatConverterLibraries, RefusesToConvertWithoutTheScaler) {
    TFormatConverter converter;
    TPackedPicture picture(1920, 480);
    FFLoader.Unload(TLibraries::All());
    EXPECT_FALSE(converter.PictureToRGB(&picture.Picture, AV_PIX_FMT_BGR24, 640, 480, true));
    EXPECT_EQ(converter.LastErrMsg(), QStringLiteral("LibAVUtil not loaded."));
    EXPECT_EQ(converter.RGBPictureRef(), nullptr);
}
