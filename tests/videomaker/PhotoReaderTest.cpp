#include "videomaker/PhotoReader.h"

#include "media/EncodeTestSupport.h"
#include "support/Sandbox.h"
#include "videomaker/FrameComposer.h"
#include "videomaker/PictureCompare.h"
#include "videomaker/VideoProject.h"

#include <QPainter>
#include <QProcess>
#include <gtest/gtest.h>

#include <cmath>

namespace {

const QColor Navy(0, 0, 128);

// A photo-like scene of `w` x `h`: a gradient sky, a red sun, a blue house and green
// stripes, so a picture turned, stretched or cut shows in every part of the frame.
QImage Scene(int w, int h) {
    QImage img(w, h, QImage::Format_RGB32);
    QPainter p(&img);
    QLinearGradient sky(0, 0, 0, h);
    sky.setColorAt(0, QColor(250, 230, 120));
    sky.setColorAt(1, QColor(90, 160, 230));
    p.fillRect(img.rect(), sky);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(220, 30, 30));
    p.drawEllipse(QPointF(w * 0.2, h * 0.25), w * 0.12, w * 0.12);
    p.setBrush(QColor(30, 40, 200));
    p.drawRect(QRectF(w * 0.55, h * 0.45, w * 0.3, h * 0.45));
    p.setBrush(QColor(40, 170, 60));
    for (int k = 0; k < 4; ++k)
        p.drawRect(QRectF(0, h * (0.7 + 0.07 * k), w * 0.45, h * 0.035));
    return img;
}

// Default settings, an empty project and a fresh composer for each test.
class Photos : public testing::Test {
protected:
    void SetUp() override {
        ResetVideoMakeSettings();
        VideoProject().Photos.clear();
        VideoProject().SetRows({});
    }
    void TearDown() override {
        VideoProject().Photos.clear();
        ResetVideoMakeSettings();
    }
    // `image` written as a JPEG by the ffmpeg tool at `w` x `h`, as a camera would.
    QString Jpeg(const QString& name, const QImage& image, int w, int h) {
        const QString source = FBox.File(name + QStringLiteral(".png"));
        EXPECT_TRUE(image.save(source));
        const QString path = FBox.File(name);
        EXPECT_TRUE(MakeFixture({QStringLiteral("-i"), source, QStringLiteral("-vf"),
                                 QStringLiteral("scale=%1:%2:flags=lanczos").arg(w).arg(h),
                                 QStringLiteral("-q:v"), QStringLiteral("2"), path}))
            << path.toStdString();
        return path;
    }
    // The first frame the composer draws of `photo` alone.
    QImage FrameOf(const QString& photo) {
        VideoProject().Photos = {photo};
        FComposer.ResetComposer();
        QImage canvas = MakeFrameCanvas();
        EXPECT_TRUE(FComposer.ComposeFrame(canvas, 0)) << photo.toStdString();
        return canvas;
    }
    // The photo with the EXIF orientation `value` written by exiftool.
    static bool SetOrientation(const QString& path, int value) {
        QProcess exiftool;
        exiftool.start(QStringLiteral("exiftool"),
                       {QStringLiteral("-q"), QStringLiteral("-n"),
                        QStringLiteral("-overwrite_original"),
                        QStringLiteral("-Orientation=%1").arg(value), path});
        return exiftool.waitForFinished(60000) && exiftool.exitCode() == 0;
    }

    TSandbox FBox;
    TFrameComposer FComposer;
};

} // namespace

// A 48-megapixel photo is drawn like its 3-megapixel copy, fitted with its bars, and
// is decoded no larger than the frame draws it.
TEST_F(Photos, ABigPhotoIsDrawnLikeItsSmallCopy) {
    VideoMakeSettings().LyricsVideoWidth = 640;
    VideoMakeSettings().LyricsVideoHeight = 360;
    const QImage scene = Scene(2000, 1500);
    const QString big = Jpeg(QStringLiteral("big.jpg"), scene, 8000, 6000);
    const QString small = Jpeg(QStringLiteral("small.jpg"), scene, 2000, 1500);

    const QImage fromBig = FrameOf(big);
    const QImage fromSmall = FrameOf(small);
    EXPECT_LT(MeanDifference(fromBig, fromSmall), 6.0);
    EXPECT_TRUE(FComposer.PhotoErrors().isEmpty())
        << FComposer.PhotoErrors().join(u'\n').toStdString();
    // 4:3 in 16:9: 480 x 360 in the middle, bars of the background at the sides.
    EXPECT_EQ(fromBig.pixelColor(10, 180), Navy);
    EXPECT_EQ(fromBig.pixelColor(629, 180), Navy);
    EXPECT_NE(fromBig.pixelColor(90, 180), Navy);
    EXPECT_NE(fromBig.pixelColor(549, 180), Navy);

    const TPhotoImage read = ReadPhoto(
        big, [](QSize full) { return FitPhoto(full.width(), full.height(), 640, 360).size(); });
    EXPECT_EQ(read.FullSize, QSize(8000, 6000));
    EXPECT_EQ(read.Image.size(), QSize(480, 360));
    // A photo smaller than its place is decoded at its own size and stretched.
    const TPhotoImage tiny = ReadPhoto(small, [](QSize) { return QSize(4000, 3000); });
    EXPECT_EQ(tiny.Image.size(), QSize(2000, 1500));
}

// Formats whose decoder cannot scale while decoding are read whole when they fit in a
// bounded amount of memory, and refused with the picture error beyond it.
TEST_F(Photos, BigPicturesOfOtherFormatsAreReadWithinABound) {
    const QString gif = FBox.File(QStringLiteral("big.gif"));
    ASSERT_TRUE(MakeFixture({QStringLiteral("-f"), QStringLiteral("lavfi"), QStringLiteral("-i"),
                             QStringLiteral("color=c=0x00C800:s=6000x6000"),
                             QStringLiteral("-frames:v"), QStringLiteral("1"),
                             QStringLiteral("-pix_fmt"), QStringLiteral("rgb8"), gif}));
    const QImage frame = FrameOf(gif);
    // GIF's palette holds the green within a few levels.
    const QColor centre = frame.pixelColor(160, 120);
    EXPECT_TRUE(centre.red() < 10 && std::abs(centre.green() - 200) < 10 && centre.blue() < 10)
        << "36 megapixels take 144 MB: " << centre.name().toStdString();
    EXPECT_EQ(frame.pixelColor(10, 120), Navy);

    // A picture that claims 20000 x 20000 pixels (1.6 GB decoded) is not allocated.
    QByteArray huge("GIF89a");
    auto u16 = [&](int v) { huge.append(char(v & 0xFF)).append(char(v >> 8)); };
    u16(20000);
    u16(20000);
    huge.append("\x80\x00\x00", 3).append("\x00\x00\x00\xff\xff\xff", 6); // two colours
    huge.append(','); // the picture: at 0,0 of the full size
    u16(0);
    u16(0);
    u16(20000);
    u16(20000);
    huge.append("\x00\x02\x02\x4c\x01\x00\x3b", 7);
    const QString claim = FBox.Write(QStringLiteral("huge.gif"), huge);
    const TPhotoImage read = ReadPhoto(claim, [](QSize) { return QSize(320, 240); });
    EXPECT_TRUE(read.Image.isNull());
    EXPECT_TRUE(read.Error.startsWith(QStringLiteral("无法读取图片文件 ") + claim))
        << read.Error.toStdString();
    EXPECT_TRUE(read.Error.contains(QStringLiteral("20000"))) << read.Error.toStdString();
}

// A phone photo stored sideways or upside down with its EXIF orientation is drawn like
// its upright copy, big or small.
TEST_F(Photos, TheExifOrientationTurnsThePhotoUpright) {
    const QImage upright = Scene(900, 1200); // portrait
    const QString reference = Jpeg(QStringLiteral("upright.jpg"), upright, 900, 1200);
    const QImage expected = FrameOf(reference);
    struct TCase {
        int Orientation;
        int StoredTurn; // degrees clockwise the stored picture is turned from upright
        int Scale;
    };
    for (const TCase c : {TCase{6, -90, 1}, TCase{3, 180, 1}, TCase{8, 90, 1}, TCase{6, -90, 6}}) {
        const QImage stored = upright.transformed(QTransform().rotate(c.StoredTurn));
        const QString name = QStringLiteral("turned%1x%2.jpg").arg(c.Orientation).arg(c.Scale);
        const QString path =
            Jpeg(name, stored, stored.width() * c.Scale, stored.height() * c.Scale);
        ASSERT_TRUE(SetOrientation(path, c.Orientation)) << "exiftool";
        const TPhotoImage read = ReadPhoto(path, [](QSize full) { return full / 4; });
        EXPECT_EQ(read.FullSize, QSize(900, 1200) * c.Scale) << name.toStdString();
        EXPECT_EQ(read.Image.size(), QSize(225, 300) * c.Scale) << name.toStdString();
        EXPECT_LT(MeanDifference(FrameOf(path), expected), 6.0) << name.toStdString();
    }
}

// A photo that cannot be decoded is passed over in the frames and named once among the
// composer's photo errors, until the next start.
TEST_F(Photos, AnUndecodablePhotoIsNamedOnce) {
    const QString good = FBox.File(QStringLiteral("good.png"));
    QImage red(64, 48, QImage::Format_RGB32);
    red.fill(Qt::red);
    ASSERT_TRUE(red.save(good));
    const QStringList damaged = FBox.DamagedCopies(good, 40);
    ASSERT_FALSE(damaged.isEmpty());
    VideoMakeSettings().PictureAccording = false;
    VideoMakeSettings().PictureDuration = 1;
    VideoProject().Photos = QStringList{good} + damaged;
    FComposer.ResetComposer();
    for (qint64 t = 0; t < 2 * 1000000 * (damaged.size() + 1); t += 500000) {
        QImage canvas = MakeFrameCanvas();
        FComposer.ComposeFrame(canvas, t);
    }
    ASSERT_EQ(FComposer.PhotoErrors().size(), damaged.size());
    for (qsizetype i = 0; i < damaged.size(); ++i)
        EXPECT_TRUE(FComposer.PhotoErrors().at(i).startsWith(QStringLiteral("无法读取图片文件 ") +
                                                             damaged.at(i)))
            << FComposer.PhotoErrors().at(i).toStdString();
    FComposer.ResetComposer();
    EXPECT_TRUE(FComposer.PhotoErrors().isEmpty());
}
