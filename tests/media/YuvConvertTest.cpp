#include "EncodeTestSupport.h"

#include "media/FFUtils.h"
#include "media/YuvConvert.h"

#include <QFile>
#include <QFont>
#include <QImage>
#include <QPainter>

#include <array>
#include <cstdlib>
#include <vector>

namespace {

// A Debian wallpaper: real photographic content with smooth gradients and sharp edges.
const char* const WallpaperPath = "/usr/share/desktop-base/homeworld-theme/grub/grub-16x9.png";

// The packed formats the converter takes, with the order of their bytes in memory (X: a
// byte the conversion must ignore).
struct TPackedFormat {
    AVPixelFormat Format;
    const char* Bytes;
};
const TPackedFormat PackedFormats[] = {
    {AV_PIX_FMT_BGRA, "BGRA"}, {AV_PIX_FMT_BGR0, "BGRX"}, {AV_PIX_FMT_RGBA, "RGBA"},
    {AV_PIX_FMT_RGB0, "RGBX"}, {AV_PIX_FMT_ARGB, "ARGB"}, {AV_PIX_FMT_0RGB, "XRGB"},
    {AV_PIX_FMT_ABGR, "ABGR"}, {AV_PIX_FMT_0BGR, "XBGR"}, {AV_PIX_FMT_BGR24, "BGR"},
    {AV_PIX_FMT_RGB24, "RGB"},
};

// The part `area` of `image` packed into `format`'s bytes, `size` pixels (at least the
// area's; beyond it the area's last column and row repeat), rows `stride` bytes apart.
std::vector<uint8_t> Pack(const QImage& image, const QRect& area, const TPackedFormat& format,
                          int stride, QSize size = QSize()) {
    if (size.isEmpty())
        size = area.size();
    const int bpp = int(std::strlen(format.Bytes));
    std::vector<uint8_t> bytes(size_t(stride) * size.height(), 0xEE);
    uint32_t noise = 12345;
    for (int y = 0; y < size.height(); ++y) {
        const int row = area.y() + std::min(y, area.height() - 1);
        const QRgb* pixels = reinterpret_cast<const QRgb*>(image.constScanLine(row));
        for (int x = 0; x < size.width(); ++x) {
            const QRgb pixel = pixels[area.x() + std::min(x, area.width() - 1)];
            uint8_t* out = bytes.data() + size_t(y) * stride + size_t(x) * bpp;
            for (int i = 0; i < bpp; ++i) {
                noise = noise * 1103515245u + 12345u;
                switch (format.Bytes[i]) {
                case 'R':
                    out[i] = uint8_t(qRed(pixel));
                    break;
                case 'G':
                    out[i] = uint8_t(qGreen(pixel));
                    break;
                case 'B':
                    out[i] = uint8_t(qBlue(pixel));
                    break;
                default:
                    out[i] = uint8_t(noise >> 16);
                    break; // alpha or filler: ignored
                }
            }
        }
    }
    return bytes;
}

// A YUV420P picture of its own.
struct TYuvPicture {
    AVFrame* Frame;
    TYuvPicture(int width, int height) : Frame(FF.av_frame_alloc()) {
        Frame->width = width;
        Frame->height = height;
        Frame->format = AV_PIX_FMT_YUV420P;
        EXPECT_GE(FF.av_frame_get_buffer(Frame, 0), 0);
    }
    ~TYuvPicture() { FF.av_frame_free(&Frame); }
};

// How many samples of two pictures differ by 0, 1, 2 and more levels, per plane (Y, U, V).
using TDifferences = std::array<std::array<int, 4>, 3>;
TDifferences Differences(const AVFrame* a, const AVFrame* b) {
    TDifferences counts{};
    for (int plane = 0; plane < 3; ++plane) {
        const int w = plane ? (a->width + 1) / 2 : a->width;
        const int h = plane ? (a->height + 1) / 2 : a->height;
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                const int d = std::abs(a->data[plane][y * a->linesize[plane] + x] -
                                       b->data[plane][y * b->linesize[plane] + x]);
                ++counts[size_t(plane)][size_t(std::min(d, 3))];
            }
    }
    return counts;
}

// What swscale makes of a packed picture, with the flags the engine uses for it.
void ConvertBySwscale(const uint8_t* bytes, int stride, AVPixelFormat format, AVFrame* out) {
    SwsContext* sws = FF.sws_getContext(
        out->width, out->height, format, out->width, out->height, AV_PIX_FMT_YUV420P,
        YuvScalerFlags(format, out->width, out->height, AV_PIX_FMT_YUV420P, out->width, out->height,
                       SWS_BICUBIC),
        nullptr, nullptr, nullptr);
    ASSERT_NE(sws, nullptr);
    const uint8_t* planes[4] = {bytes};
    const int strides[4] = {stride};
    FF.sws_scale(sws, planes, strides, 0, out->height, out->data, out->linesize);
    FF.sws_freeContext(sws);
}

// A desktop as a screen grab shows it: flat panels, window frames, hairlines and text in
// many colours, the hardest case for averaged chroma.
QImage DesktopPicture(int width, int height) {
    QImage image(width, height, QImage::Format_ARGB32);
    image.fill(QColor(48, 96, 160));
    QPainter painter(&image);
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(13);
    painter.setFont(font);
    const QColor colors[] = {Qt::white,  Qt::black,   Qt::red,  Qt::green,          Qt::blue,
                             Qt::yellow, Qt::magenta, Qt::cyan, QColor(255, 128, 0)};
    int i = 0;
    for (int y = 0; y < height; y += 37)
        for (int x = 0; x < width; x += 151, ++i) {
            const QColor& back = colors[size_t(i) % std::size(colors)];
            const QColor& fore = colors[size_t(i + 4) % std::size(colors)];
            painter.fillRect(x, y, 140, 30, back);
            painter.setPen(fore);
            painter.drawLine(x, y + 31, x + 139, y + 31);
            painter.drawText(QRect(x + 3, y + 2, 134, 26), Qt::AlignLeft,
                             QStringLiteral("文件 Edit 1080p"));
        }
    return image;
}

class YuvConversion : public TMediaTest {
protected:
    void TearDown() override {
        SetYuvLibraryEnabled(true);
        TMediaTest::TearDown();
    }
};

} // namespace

TEST(YuvConversionCases, OnlyUnscaledPackedRgbToYuv420IsTaken) {
    for (const TPackedFormat& format : PackedFormats)
        EXPECT_TRUE(IsYuv420Conversion(format.Format, 33, 7, AV_PIX_FMT_YUV420P, 33, 7))
            << format.Bytes;
    // Scaling, other pixel formats on either side, and empty pictures stay with swscale.
    EXPECT_FALSE(IsYuv420Conversion(AV_PIX_FMT_BGRA, 640, 480, AV_PIX_FMT_YUV420P, 320, 240));
    EXPECT_FALSE(IsYuv420Conversion(AV_PIX_FMT_BGRA, 640, 480, AV_PIX_FMT_YUV420P, 640, 481));
    EXPECT_FALSE(IsYuv420Conversion(AV_PIX_FMT_BGRA, 640, 480, AV_PIX_FMT_YUVJ420P, 640, 480));
    EXPECT_FALSE(IsYuv420Conversion(AV_PIX_FMT_BGRA, 640, 480, AV_PIX_FMT_NV12, 640, 480));
    EXPECT_FALSE(IsYuv420Conversion(AV_PIX_FMT_BGRA, 640, 480, AV_PIX_FMT_YUV422P, 640, 480));
    for (AVPixelFormat from : {AV_PIX_FMT_RGB565LE, AV_PIX_FMT_RGB555LE, AV_PIX_FMT_PAL8,
                               AV_PIX_FMT_YUV420P, AV_PIX_FMT_RGB48LE, AV_PIX_FMT_GBRP})
        EXPECT_FALSE(IsYuv420Conversion(from, 640, 480, AV_PIX_FMT_YUV420P, 640, 480)) << from;
    EXPECT_FALSE(IsYuv420Conversion(AV_PIX_FMT_BGRA, 0, 0, AV_PIX_FMT_YUV420P, 0, 0));
    EXPECT_EQ(YuvScalerFlags(AV_PIX_FMT_BGRA, 64, 64, AV_PIX_FMT_YUV420P, 64, 64, SWS_BICUBIC),
              SWS_AREA);
    EXPECT_EQ(YuvScalerFlags(AV_PIX_FMT_BGRA, 64, 64, AV_PIX_FMT_YUV420P, 32, 32, SWS_BICUBIC),
              SWS_BICUBIC);
}

TEST_F(YuvConversion, EqualsSwscaleWithinOneLevelOnRealPicturesInEveryFormatAndSize) {
    ASSERT_TRUE(YuvLibraryInUse()) << "libyuv.so.0 could not be loaded";
    const QImage wallpaper =
        QImage(QString::fromLatin1(WallpaperPath)).convertToFormat(QImage::Format_ARGB32);
    ASSERT_EQ(wallpaper.size(), QSize(1920, 1080)) << WallpaperPath;
    const QImage desktop = DesktopPicture(1280, 720);
    // Whole pictures, odd sides, and the smallest ones, cut where the content is busy
    // (not two rows of different colours: swscale does not average those).
    const QRect areas[] = {QRect(0, 0, 1280, 720), QRect(301, 157, 641, 361),
                           QRect(640, 360, 17, 9), QRect(100, 100, 1, 1),
                           QRect(10, 30, 2, 1),    QRect(10, 29, 1, 3),
                           QRect(5, 5, 3, 3),      QRect(900, 0, 380, 1)};
    for (const QImage* picture : {&wallpaper, &desktop})
        for (const TPackedFormat& format : PackedFormats)
            for (const QRect& area : areas) {
                SCOPED_TRACE(testing::Message()
                             << (picture == &desktop ? "desktop " : "wallpaper ") << format.Bytes
                             << " " << area.width() << "x" << area.height());
                const int bpp = int(std::strlen(format.Bytes));
                const int stride = area.width() * bpp + 5; // rows need not be aligned
                const std::vector<uint8_t> bytes = Pack(*picture, area, format, stride);
                TYuvPicture fast(area.width(), area.height());
                ASSERT_TRUE(ConvertToYuv420(bytes.data(), stride, format.Format, area.width(),
                                            area.height(), fast.Frame->data, fast.Frame->linesize));
                // An odd side's last chroma sample is of the last column or row alone: what
                // swscale makes of the picture with that column or row repeated.
                const QSize even((area.width() + 1) & ~1, (area.height() + 1) & ~1);
                const int evenStride = even.width() * bpp;
                const std::vector<uint8_t> evenBytes =
                    Pack(*picture, area, format, evenStride, even);
                TYuvPicture usual(even.width(), even.height());
                ConvertBySwscale(evenBytes.data(), evenStride, format.Format, usual.Frame);
                usual.Frame->width = area.width();
                usual.Frame->height = area.height();
                const TDifferences counts = Differences(fast.Frame, usual.Frame);
                for (int plane = 0; plane < 3; ++plane) {
                    const auto& c = counts[size_t(plane)];
                    if (picture == &wallpaper || plane == 0) {
                        EXPECT_EQ(c[2] + c[3], 0) << "plane " << plane;
                    } else {
                        // Coloured hairlines and text: libyuv averages a block in two
                        // rounded steps and rounds down, which may reach a second level
                        // on a few samples where saturated colours meet, never a third.
                        EXPECT_EQ(c[3], 0) << "plane " << plane;
                        EXPECT_LE(c[2] * 1000, c[0] + c[1]) << "plane " << plane;
                    }
                }
            }
}

TEST_F(YuvConversion, TurnedOffNothingIsConvertedAndTheJobsOutputStaysTheSame) {
    // The wallpaper as raw BGRA pictures, the screen source's format.
    TSandbox sandbox;
    const QImage wallpaper = QImage(QString::fromLatin1(WallpaperPath))
                                 .convertToFormat(QImage::Format_ARGB32)
                                 .copy(0, 0, 1280, 720);
    ASSERT_FALSE(wallpaper.isNull()) << WallpaperPath;
    const QString input = sandbox.File(QStringLiteral("wallpaper.bgra"));
    {
        const std::vector<uint8_t> bytes =
            Pack(wallpaper, wallpaper.rect(), PackedFormats[0], wallpaper.width() * 4);
        QFile file(input);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        for (int i = 0; i < 3; ++i)
            file.write(reinterpret_cast<const char*>(bytes.data()), qint64(bytes.size()));
    }
    // Converted by the job into raw YUV420P, so that nothing but the conversion counts.
    const auto convert = [&](const QString& name) {
        TFFmpeg job(nullptr, 20);
        job.SetExtOption(QStringLiteral("f"), QStringLiteral("rawvideo"));
        job.SetExtOption(QStringLiteral("pix_fmt"), QStringLiteral("bgra"));
        job.SetExtOption(QStringLiteral("s"), QStringLiteral("1280x720"));
        EXPECT_TRUE(job.OpenInput(input));
        job.SetExtOption(QStringLiteral("f"), QStringLiteral("rawvideo"));
        job.SetExtOption(QStringLiteral("vcodec"), QStringLiteral("rawvideo"));
        job.SetExtOption(QStringLiteral("pix_fmt"), QStringLiteral("yuv420p"));
        const QString out = sandbox.File(name);
        EXPECT_GE(job.OpenOutput(out, false), 1);
        job.StartConvert(false);
        EXPECT_FALSE(job.FatalException()) << job.FatalMessage().toStdString();
        QFile file(out);
        EXPECT_TRUE(file.open(QIODevice::ReadOnly));
        return file.readAll();
    };
    ASSERT_TRUE(YuvLibraryInUse());
    const QByteArray fast = convert(QStringLiteral("fast.yuv"));
    SetYuvLibraryEnabled(false);
    EXPECT_FALSE(YuvLibraryInUse());
    std::vector<uint8_t> bytes(16 * 16 * 4, 0x80);
    TYuvPicture unused(16, 16);
    EXPECT_FALSE(ConvertToYuv420(bytes.data(), 64, AV_PIX_FMT_BGRA, 16, 16, unused.Frame->data,
                                 unused.Frame->linesize));
    const QByteArray usual = convert(QStringLiteral("usual.yuv"));

    const qsizetype pictureSize = 1280 * 720 * 3 / 2;
    ASSERT_EQ(fast.size(), 3 * pictureSize);
    ASSERT_EQ(usual.size(), fast.size());
    EXPECT_NE(fast, usual); // the two ways really differ in their rounding...
    int largest = 0;
    for (qsizetype i = 0; i < fast.size(); ++i)
        largest = std::max(largest, std::abs(int(uint8_t(fast[i])) - int(uint8_t(usual[i]))));
    EXPECT_LE(largest, 1); // ...by one level at most
}

TEST_F(YuvConversion, TheEnvironmentCanTurnTheLibraryOff) {
    GTEST_FLAG_SET(death_test_style, "threadsafe"); // a fresh process: the library loads once
    EXPECT_EXIT(
        {
            setenv("VEXMIRA_NO_LIBYUV", "1", 1);
            std::exit(YuvLibraryInUse() ? 1 : 0);
        },
        testing::ExitedWithCode(0), "");
    EXPECT_EXIT(
        {
            setenv("VEXMIRA_NO_LIBYUV", "0", 1);
            std::exit(YuvLibraryInUse() ? 0 : 1);
        },
        testing::ExitedWithCode(0), "");
}

TEST_F(YuvConversion, TheFormatConverterWritesYuv420TheSameWithOrWithoutTheLibrary) {
    // A YUV420P picture of the wallpaper, drawn on as a bitmap hook does, written back.
    const QImage wallpaper =
        QImage(QString::fromLatin1(WallpaperPath)).convertToFormat(QImage::Format_ARGB32);
    ASSERT_FALSE(wallpaper.isNull()) << WallpaperPath;
    const QRect area(0, 0, 1280, 720);
    const std::vector<uint8_t> bytes = Pack(wallpaper, area, PackedFormats[0], 1280 * 4);
    TYuvPicture source(1280, 720);
    ConvertBySwscale(bytes.data(), 1280 * 4, AV_PIX_FMT_BGRA, source.Frame);
    const auto drawnAndWritten = [&](AVFrame* out) {
        TFormatConverter converter;
        TAVPicture picture = TAVPicture::Of(source.Frame);
        ASSERT_TRUE(converter.PictureToRGB(&picture, AV_PIX_FMT_YUV420P, 1280, 720, true));
        QPainter painter(&converter.Bitmap());
        painter.setPen(Qt::red);
        painter.drawText(100, 100, QStringLiteral("歌词 lyrics"));
        painter.end();
        converter.BitmapToRGB();
        TAVPicture written = TAVPicture::Of(out);
        ASSERT_TRUE(converter.RGBToPicture(&written, AV_PIX_FMT_YUV420P, 1280, 720));
    };
    TYuvPicture fast(1280, 720), usual(1280, 720);
    drawnAndWritten(fast.Frame);
    SetYuvLibraryEnabled(false);
    drawnAndWritten(usual.Frame);
    const TDifferences counts = Differences(fast.Frame, usual.Frame);
    for (const auto& plane : counts)
        EXPECT_EQ(plane[2] + plane[3], 0);
    EXPECT_GT(counts[1][1], 0); // the library did write the first
}
