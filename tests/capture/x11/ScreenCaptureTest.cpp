#include "capture/ScreenCapture.h"
#include "capture/CaptureTestSupport.h"
#include "media/FFErrors.h"
#include "media/YuvConvert.h"
#include "platform/X11ScreenGrabber.h"

#include <QCursor>
#include <QFile>
#include <QGuiApplication>
#include <QLabel>
#include <QPainter>
#include <QProcess>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>
#include <QWidget>

#include <set>
#include <thread>

namespace {

// A frameless window of one colour at a fixed place on the screen.
class TColorWindow : public QWidget {
public:
    TColorWindow(const QRect& geometry, QColor color, const QString& title = QString()) {
        setWindowFlags(Qt::FramelessWindowHint | Qt::X11BypassWindowManagerHint);
        setAutoFillBackground(true);
        QPalette p = palette();
        p.setColor(QPalette::Window, color);
        setPalette(p);
        setWindowTitle(title);
        setCursor(Qt::ArrowCursor);
        setGeometry(geometry);
        show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(this));
        QTest::qWait(150); // until the server has painted it
    }
};

struct TBgra {
    int B, G, R;
};

TBgra PixelAt(const AVPacket* pkt, int width, int x, int y) {
    const uint8_t* p = pkt->data + (size_t(y) * width + x) * 4;
    return {p[0], p[1], p[2]};
}

bool IsColor(TBgra p, QColor c) {
    return std::abs(p.R - c.red()) < 8 && std::abs(p.G - c.green()) < 8 &&
           std::abs(p.B - c.blue()) < 8;
}

class ScreenCapture : public TCaptureTest {
protected:
    void SetUp() override {
        TCaptureTest::SetUp();
        if (!HasFatalFailure())
            RegisterScreenCapture();
    }
    int OpenScreen(const QString& options, const TInputParameters* ap = nullptr) {
        return Open(ScreenCaptureName, options, ap);
    }
};

constexpr int64_t Interval15 = 66667; // µs per picture at 15/1, rounded

// The time of slot k at 15 pictures per second, µs.
int64_t SlotTime(int64_t k) {
    return (k * 1000000 + 7) / 15;
}

} // namespace

TEST_F(ScreenCapture, WholeScreenComesFifteenTimesASecondInRealTime) {
    const QColor mark(10, 200, 30);
    TColorWindow window(QRect(300, 200, 64, 48), mark);
    ASSERT_EQ(OpenScreen("offset=0,0;framesize=1920,1080;framerate=15/1"), 0);
    EXPECT_TRUE(Logged("ready for capturing 1920x1080x32 at (0,0)"));
    EXPECT_EQ(Par()->codec_type, AVMEDIA_TYPE_VIDEO);
    EXPECT_EQ(Par()->codec_id, AV_CODEC_ID_RAWVIDEO);
    EXPECT_EQ(Par()->format, AV_PIX_FMT_BGRA);
    EXPECT_EQ(Par()->width, 1920);
    EXPECT_EQ(Par()->height, 1080);
    EXPECT_EQ(Par()->bit_rate, int64_t(1920) * 1080 * 4 * 15 * 8);
    EXPECT_EQ(av_q2d(FIc->streams[0]->avg_frame_rate), 15.0);

    ASSERT_EQ(Read(), 1920 * 1080 * 4);
    EXPECT_EQ(Pkt()->pts, 0);
    EXPECT_TRUE(IsColor(PixelAt(Pkt(), 1920, 300, 200), mark));
    EXPECT_TRUE(IsColor(PixelAt(Pkt(), 1920, 363, 247), mark));
    EXPECT_FALSE(IsColor(PixelAt(Pkt(), 1920, 364, 248), mark));

    // The first grabs of a new shared image are slow; measure once they are not.
    for (int i = 0; i < 10; ++i)
        ASSERT_GT(Read(), 0);
    QElapsedTimer clock;
    clock.start();
    const int64_t first = Pkt()->pts;
    int pictures = 0, skipped = 0;
    int64_t last = first;
    while (last - first < 5000000) {
        ASSERT_GT(Read(), 0);
        EXPECT_GT(Pkt()->pts, last);
        skipped += Pkt()->pts - last > Interval15;
        last = Pkt()->pts;
        ++pictures;
    }
    const int64_t elapsed = clock.nsecsElapsed() / 1000;
    // The timeline is the wall clock: the picture stamped 5 s later came 5 s later.
    EXPECT_NEAR(double(elapsed), double(last - first), double(Interval15));
    EXPECT_NEAR(double(last - first), 5000000.0, double(Interval15));
    // 15 a second; a slot is only left out when the machine fell behind.
    EXPECT_EQ(pictures + skipped, 75) << skipped << " slots skipped";
    EXPECT_LE(skipped, 2);
}

TEST_F(ScreenCapture, RectangleIsClippedToTheScreen) {
    const QColor mark(200, 20, 20);
    TColorWindow window(QRect(100, 100, 10, 10), mark);
    ASSERT_EQ(OpenScreen("offset=100,100;framesize=4000,4000"), 0);
    EXPECT_EQ(Par()->width, 1820);
    EXPECT_EQ(Par()->height, 980);
    ASSERT_EQ(Read(), 1820 * 980 * 4);
    EXPECT_TRUE(IsColor(PixelAt(Pkt(), 1820, 0, 0), mark));
    EXPECT_TRUE(IsColor(PixelAt(Pkt(), 1820, 9, 9), mark));
    EXPECT_FALSE(IsColor(PixelAt(Pkt(), 1820, 10, 10), mark));

    // The job's frame size is the default size; the options override it.
    const TInputParameters ap{320, 240, {0, 0}};
    ASSERT_EQ(OpenScreen("offset=1800,1000", &ap), 0);
    EXPECT_EQ(Par()->width, 120);
    EXPECT_EQ(Par()->height, 80);
    ASSERT_EQ(OpenScreen("framesize=0,0"), 0); // 0 means "not given": the whole screen
    EXPECT_EQ(Par()->width, 1920);

    FLog.Clear();
    EXPECT_EQ(OpenScreen("offset=3000,0"), AVERROR(EIO));
    EXPECT_EQ(FIc, nullptr);
    EXPECT_TRUE(Logged("Invalid properties, aborting"));
    EXPECT_EQ(OpenScreen("offset=0,1081;framesize=10,10"), AVERROR(EIO));
    // Offsets at the ends of the number range are refused without overflowing.
    EXPECT_EQ(OpenScreen("offset=2147483647,0;framesize=10,10"), AVERROR(EIO));
    EXPECT_EQ(OpenScreen("offset=0,2147483647;framesize=2147483647,10"), AVERROR(EIO));
    EXPECT_THROW(OpenScreen("offset=10"), EConvertError);
    EXPECT_THROW(OpenScreen("framesize=10;offset=0,0"), EConvertError);
}

TEST_F(ScreenCapture, FrameRateComesFromTheOptionsTheJobOrFifteen) {
    RegisterScreenCapture(); // a second time: still one format of the name
    EXPECT_EQ(OwnInputFormatNames().count(ScreenCaptureName), 1);
    ASSERT_EQ(OpenScreen(""), 0);
    EXPECT_TRUE(Logged("frame rate assume as 1/15."));
    EXPECT_EQ(av_q2d(FIc->streams[0]->avg_frame_rate), 15.0);
    EXPECT_EQ(Par()->width, 1920);
    EXPECT_EQ(Par()->height, 1080);

    EXPECT_THROW(OpenScreen("framerate=15"), EConvertError);
    EXPECT_EQ(FIc, nullptr);

    ASSERT_EQ(OpenScreen("FrameRate=30/1;framesize=8,8"), 0);
    EXPECT_EQ(av_q2d(FIc->streams[0]->avg_frame_rate), 30.0);
    ASSERT_GT(Read(), 0);
    ASSERT_GT(Read(), 0);
    EXPECT_EQ(Pkt()->pts, 33333);
    ASSERT_GT(Read(), 0);
    EXPECT_EQ(Pkt()->pts, 66667);
    EXPECT_EQ(Pkt()->duration, 33333);

    ASSERT_EQ(OpenScreen(" framerate=30/1;framesize=8,8"), 0); // no such key: the default
    EXPECT_EQ(av_q2d(FIc->streams[0]->avg_frame_rate), 15.0);

    const TInputParameters ap{0, 0, {1, 5}};
    ASSERT_EQ(OpenScreen("framesize=8,8", &ap), 0);
    EXPECT_EQ(av_q2d(FIc->streams[0]->avg_frame_rate), 5.0);
    ASSERT_EQ(OpenScreen("framesize=8,8;framerate=30000/1001", &ap), 0);
    EXPECT_NEAR(av_q2d(FIc->streams[0]->avg_frame_rate), 29.97, 0.001);
}

TEST_F(ScreenCapture, ATitleSelectsTheWindowAndRunsToTheEnd) {
    const QColor mark(30, 30, 220);
    TColorWindow window(QRect(500, 300, 120, 90), mark, "a;b");
    ASSERT_EQ(OpenScreen("cursor=0;title=a;b"), 0);
    EXPECT_TRUE(Logged("Found window a;b, ready for capturing 120x90x32 at (0,0)"));
    ASSERT_EQ(Read(), 120 * 90 * 4);
    for (QPoint p : {QPoint(0, 0), QPoint(119, 89), QPoint(60, 45)})
        EXPECT_TRUE(IsColor(PixelAt(Pkt(), 120, p.x(), p.y()), mark)) << p.x() << "," << p.y();

    // An offset inside the window; the window's handle selects it as well.
    ASSERT_EQ(
        OpenScreen(QStringLiteral("hwnd=%1;offset=20,10;framesize=50,50").arg(window.winId())), 0);
    ASSERT_EQ(Read(), 50 * 50 * 4);
    EXPECT_TRUE(IsColor(PixelAt(Pkt(), 50, 49, 49), mark));

    // Whatever follows "title" is caption: here no window has it, so the whole screen.
    FLog.Clear();
    ASSERT_EQ(OpenScreen("title=a;framesize=8,8"), 0);
    EXPECT_TRUE(Logged("Found window a;framesize=8,8, "));
    EXPECT_EQ(Par()->width, 1920);

    EXPECT_EQ(OpenScreen("hwnd=123456789"), AVERROR(EIO)); // no such window
    EXPECT_TRUE(Logged("Couldn't get window DC"));
}

TEST_F(ScreenCapture, AClosedWindowMakesTheGrabsFail) {
    auto window = std::make_unique<TColorWindow>(QRect(50, 50, 40, 40), QColor(Qt::white), "gone");
    ASSERT_EQ(OpenScreen("title=gone"), 0);
    ASSERT_EQ(Read(), 40 * 40 * 4);
    window.reset();
    QTest::qWait(100);
    EXPECT_LT(Read(), 0);
    EXPECT_TRUE(Logged("Failed to capture image"));
}

TEST_F(ScreenCapture, TheCursorIsPaintedAtThePointer) {
    const QColor mark(0, 255, 0);
    TColorWindow window(QRect(400, 400, 200, 200), mark);
    QCursor::setPos(500, 500);
    QTest::qWait(150);
    TX11ScreenGrabber grabber;
    ASSERT_TRUE(grabber.Open());
    TCursorImage cursor;
    ASSERT_TRUE(grabber.ReadCursor(&cursor));
    EXPECT_EQ(cursor.Position, QPoint(500, 500));
    ASSERT_GT(cursor.Width * cursor.Height, 0);

    const auto differing = [&](const char* options, QRect* bounds) {
        EXPECT_EQ(OpenScreen(options), 0);
        EXPECT_EQ(Read(), 200 * 200 * 4);
        int count = 0;
        QRect box;
        for (int y = 0; y < 200; ++y)
            for (int x = 0; x < 200; ++x)
                if (!IsColor(PixelAt(Pkt(), 200, x, y), mark)) {
                    ++count;
                    box |= QRect(x, y, 1, 1);
                }
        if (bounds)
            *bounds = box;
        return count;
    };
    EXPECT_EQ(differing("offset=400,400;framesize=200,200", nullptr), 0); // off by default
    EXPECT_EQ(differing("offset=400,400;framesize=200,200;cursor=0", nullptr), 0);
    QRect painted;
    EXPECT_GT(differing("offset=400,400;framesize=200,200;cursor=yes", &painted), 10);
    // Inside the cursor's image, placed with its hot spot on the pointer.
    const QRect image(QPoint(100, 100) - cursor.HotSpot, QSize(cursor.Width, cursor.Height));
    EXPECT_TRUE(image.contains(painted)) << painted.x() << "," << painted.y();
    // The opaque pixels of the image are the ones that changed.
    int opaque = 0;
    for (uint32_t argb : cursor.Pixels)
        opaque += (argb >> 24) == 0xFF && (argb & 0xFFFFFF) != 0x00FF00;
    EXPECT_GE(differing("offset=400,400;framesize=200,200;cursor=1", nullptr), opaque);
}

TEST_F(ScreenCapture, TheFrameRingSurroundsThePicturesWithoutEnteringThem) {
    const QColor mark(255, 255, 0);
    TColorWindow window(QRect(190, 190, 220, 220), mark);
    TX11ScreenGrabber screen;
    ASSERT_TRUE(screen.Open());
    ASSERT_TRUE(screen.Prepare(220, 220));
    std::vector<uint8_t> around(size_t(screen.PictureSize()));
    const auto ringColor = [&](int x, int y) { // screen coordinates
        EXPECT_TRUE(screen.Grab(QPoint(190, 190), around.data()));
        const uint8_t* p = around.data() + (size_t(y - 190) * 220 + (x - 190)) * 4;
        return QColor(p[2], p[1], p[0]);
    };

    ASSERT_EQ(OpenScreen("offset=200,200;framesize=200,200;showframe=1"), 0);
    QTest::qWait(100);
    // The 2-pixel ring, red before the first read; the pixels just inside are untouched.
    for (QPoint p : {QPoint(198, 198), QPoint(199, 300), QPoint(400, 401), QPoint(300, 198)})
        EXPECT_EQ(ringColor(p.x(), p.y()), QColor(Qt::red)) << p.x() << "," << p.y();
    EXPECT_EQ(ringColor(197, 197), mark);
    EXPECT_EQ(ringColor(402, 300), mark);

    // The ring never shows in the pictures, red or blue, while it flashes.
    bool sawBlue = false;
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 1500) {
        ASSERT_EQ(Read(), 200 * 200 * 4);
        for (int i = 0; i < 200; ++i)
            for (QPoint p : {QPoint(i, 0), QPoint(0, i), QPoint(i, 199), QPoint(199, i)})
                ASSERT_TRUE(IsColor(PixelAt(Pkt(), 200, p.x(), p.y()), mark));
        sawBlue = sawBlue || ringColor(198, 250) == QColor(Qt::blue);
    }
    EXPECT_TRUE(sawBlue);
    Close();
    QTest::qWait(100);
    EXPECT_EQ(ringColor(198, 250), mark); // gone with the input

    ASSERT_EQ(OpenScreen("offset=200,200;framesize=200,200;showframe=0"), 0);
    QTest::qWait(100);
    EXPECT_EQ(ringColor(198, 250), mark);
    // "showframe" alone has an empty value: lenient, so on.
    ASSERT_EQ(OpenScreen("offset=200,200;framesize=200,200;showframe"), 0);
    QTest::qWait(100);
    EXPECT_EQ(ringColor(198, 250), QColor(Qt::red));
}

TEST_F(ScreenCapture, LatePicturesTakeTheirSlotAndAPauseRebasesTheClock) {
    ASSERT_EQ(OpenScreen("framesize=16,16;framerate=15/1"), 0);
    for (int i = 0; i < 3; ++i)
        ASSERT_GT(Read(), 0);
    EXPECT_EQ(Pkt()->pts, SlotTime(2));

    // Fell behind by 300 ms: the picture is stamped with the slot the clock is in, so the
    // timeline keeps real time (the job repeats pictures for the missed slots).
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    ASSERT_GT(Read(), 0);
    const int64_t late = Pkt()->pts;
    EXPECT_GE(late, SlotTime(6));
    EXPECT_LE(late, SlotTime(8));
    QElapsedTimer clock;
    clock.start();
    ASSERT_GT(Read(), 0);
    EXPECT_NEAR(double(Pkt()->pts - late), double(Interval15), 1.0);
    EXPECT_GE(clock.elapsed(), 30); // paced again, no burst of catch-up pictures

    // Paused for two seconds: the next picture follows the last one, nothing is skipped
    // and nothing bursts afterwards.
    const int64_t beforePause = Pkt()->pts;
    std::this_thread::sleep_for(std::chrono::seconds(2));
    ASSERT_GT(Read(), 0);
    EXPECT_NEAR(double(Pkt()->pts - beforePause), double(Interval15), 1.0);
    clock.restart();
    for (int i = 0; i < 5; ++i)
        ASSERT_GT(Read(), 0);
    EXPECT_NEAR(double(clock.elapsed()), 5 * 66.7, 40.0);
    EXPECT_NEAR(double(Pkt()->pts - beforePause), 6.0 * Interval15, 3.0);
}

// A pause the reader announces (av_read_pause, av_read_play, as the job does) starts the
// clock afresh however short it is: the next picture follows the last one delivered.
// Unannounced, the same 400 ms would count as falling behind and leave a gap.
TEST_F(ScreenCapture, AnAnnouncedPauseRebasesTheClockHoweverShort) {
    ASSERT_EQ(OpenScreen("framesize=16,16;framerate=15/1"), 0);
    for (int i = 0; i < 3; ++i)
        ASSERT_GT(Read(), 0);
    int64_t last = Pkt()->pts;
    FF.av_read_pause(FIc);
    std::this_thread::sleep_for(std::chrono::milliseconds(400));
    FF.av_read_play(FIc);
    ASSERT_GT(Read(), 0);
    EXPECT_NEAR(double(Pkt()->pts - last), double(Interval15), 1.0);
    QElapsedTimer clock;
    clock.start();
    for (int i = 0; i < 3; ++i)
        ASSERT_GT(Read(), 0);
    EXPECT_GE(clock.elapsed(), 150); // paced from the resume on, no catch-up burst

    last = Pkt()->pts;
    std::this_thread::sleep_for(std::chrono::milliseconds(400));
    ASSERT_GT(Read(), 0);
    EXPECT_GE(Pkt()->pts - last, 5 * Interval15);
}

// Pixel layouts by depth, on X servers of their own.
// Whether `address` lies in a shared-memory segment of this process (System V segments
// show in the process's memory map as "/SYSV<key>").
bool InSharedSegment(const void* address) {
    QFile maps(QStringLiteral("/proc/self/maps"));
    if (!maps.open(QIODevice::ReadOnly))
        return false;
    const auto at = quintptr(address);
    for (const QByteArray& line : maps.readAll().split('\n')) {
        const QList<QByteArray> fields = line.simplified().split(' ');
        if (fields.size() < 6 || !fields[5].startsWith("/SYSV"))
            continue;
        const QList<QByteArray> range = fields[0].split('-');
        if (at >= range[0].toULongLong(nullptr, 16) && at < range[1].toULongLong(nullptr, 16))
            return true;
    }
    return false;
}

TEST_F(ScreenCapture, PacketsAreTheGrabbedSegmentsItselfUntilEveryOneIsHeld) {
    const QColor mark(0, 128, 255);
    TColorWindow window(QRect(100, 100, 320, 240), mark);
    ASSERT_EQ(OpenScreen("offset=100,100;framesize=320,240"), 0);
    const auto packetIsMark = [&](const AVPacket* pkt) {
        return IsColor(PixelAt(pkt, 320, 0, 0), mark) && IsColor(PixelAt(pkt, 320, 319, 239), mark);
    };
    // The job holds a packet until its picture is converted; a few may be held at once.
    std::vector<AVPacket*> held;
    std::set<const uint8_t*> segments;
    for (int i = 0; i < TX11ScreenGrabber::MaxSharedPictures; ++i) {
        ASSERT_EQ(Read(), 320 * 240 * 4);
        EXPECT_TRUE(InSharedSegment(Pkt()->data));
        EXPECT_TRUE(packetIsMark(Pkt()));
        segments.insert(Pkt()->data);
        held.push_back(FF.av_packet_clone(Pkt()));
    }
    EXPECT_EQ(segments.size(), size_t(TX11ScreenGrabber::MaxSharedPictures));
    // Every segment lent: the picture is copied into a packet of its own, still right.
    ASSERT_EQ(Read(), 320 * 240 * 4);
    EXPECT_FALSE(InSharedSegment(Pkt()->data));
    EXPECT_TRUE(packetIsMark(Pkt()));
    // A dropped packet gives its segment back.
    FF.av_packet_free(&held.back());
    held.pop_back();
    FF.av_packet_unref(Pkt());
    ASSERT_EQ(Read(), 320 * 240 * 4);
    EXPECT_TRUE(segments.count(Pkt()->data));
    // A packet outlives the closed input: its segment stays mapped until it is dropped.
    Close();
    EXPECT_TRUE(InSharedSegment(held.front()->data));
    EXPECT_TRUE(packetIsMark(held.front()));
    for (AVPacket*& pkt : held)
        FF.av_packet_free(&pkt);
}

TEST_F(ScreenCapture, AGrabbedScreenConvertsToYuvAsSwscaleDoes) {
    ASSERT_TRUE(YuvLibraryInUse()) << "libyuv.so.0 could not be loaded";
    // The screen shows a wallpaper with a window of text over it.
    QLabel wallpaper;
    wallpaper.setWindowFlags(Qt::FramelessWindowHint | Qt::X11BypassWindowManagerHint);
    wallpaper.setPixmap(
        QPixmap(QStringLiteral("/usr/share/desktop-base/homeworld-theme/grub/grub-16x9.png")));
    wallpaper.setGeometry(0, 0, 1920, 1080);
    wallpaper.show();
    QLabel text(
        QStringLiteral("屏幕录像 Screen recording 0123456789 <b>粗体</b> "
                       "<span style='color:red'>红</span> <span style='color:#00c000'>绿</span>"));
    text.setWindowFlags(Qt::FramelessWindowHint | Qt::X11BypassWindowManagerHint);
    text.setGeometry(200, 200, 700, 40);
    text.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&text));
    QTest::qWait(200);
    for (const char* options : {"", "offset=151,143;framesize=1000,556"}) {
        SCOPED_TRACE(options);
        ASSERT_EQ(OpenScreen(QString::fromLatin1(options)), 0);
        ASSERT_GT(Read(), 0);
        const int w = Par()->width, h = Par()->height;
        AVFrame* planes[2];
        for (AVFrame*& frame : planes) {
            frame = FF.av_frame_alloc();
            frame->width = w;
            frame->height = h;
            frame->format = AV_PIX_FMT_YUV420P;
            ASSERT_GE(FF.av_frame_get_buffer(frame, 0), 0);
        }
        const auto format = AVPixelFormat(Par()->format);
        ASSERT_TRUE(ConvertToYuv420(Pkt()->data, w * 4, format, w, h, planes[0]->data,
                                    planes[0]->linesize));
        SwsContext* sws =
            FF.sws_getContext(w, h, format, w, h, AV_PIX_FMT_YUV420P,
                              YuvScalerFlags(format, w, h, AV_PIX_FMT_YUV420P, w, h, SWS_BICUBIC),
                              nullptr, nullptr, nullptr);
        const uint8_t* source[4] = {Pkt()->data};
        const int stride[4] = {w * 4};
        FF.sws_scale(sws, source, stride, 0, h, planes[1]->data, planes[1]->linesize);
        FF.sws_freeContext(sws);
        int largest = 0;
        for (int p = 0; p < 3; ++p)
            for (int y = 0; y < (p ? (h + 1) / 2 : h); ++y)
                for (int x = 0; x < (p ? (w + 1) / 2 : w); ++x)
                    largest = std::max(
                        largest, std::abs(planes[0]->data[p][y * planes[0]->linesize[p] + x] -
                                          planes[1]->data[p][y * planes[1]->linesize[p] + x]));
        EXPECT_LE(largest, 1);
        for (AVFrame*& frame : planes)
            FF.av_frame_free(&frame);
    }
}

class ScreenDepth : public ScreenCapture {
protected:
    // Starts Xvfb with `depth` and points $DISPLAY at it; false when it cannot start.
    bool StartServer(int depth) {
        FServer.setProgram("Xvfb");
        FServer.setArguments({"-displayfd", "1", "-screen", "0",
                              QStringLiteral("64x32x%1").arg(depth), "-wr", "-nolisten", "tcp"});
        FServer.start();
        if (!FServer.waitForStarted(5000) || !FServer.waitForReadyRead(10000))
            return false;
        const QByteArray number = FServer.readAllStandardOutput().trimmed();
        FOldDisplay = qgetenv("DISPLAY");
        qputenv("DISPLAY", ":" + number);
        return true;
    }
    void TearDown() override {
        Close();
        if (!FOldDisplay.isNull())
            qputenv("DISPLAY", FOldDisplay);
        FServer.terminate();
        FServer.waitForFinished(5000);
        ScreenCapture::TearDown();
    }
    QProcess FServer;
    QByteArray FOldDisplay;
};

TEST_F(ScreenDepth, SixteenBitsAreRgb565) {
    ASSERT_TRUE(StartServer(16));
    ASSERT_EQ(OpenScreen("showframe=1;cursor=1"), 0);
    EXPECT_EQ(Par()->format, AV_PIX_FMT_RGB565LE);
    EXPECT_TRUE(Logged("ready for capturing 64x32x16 at (0,0)"));
    ASSERT_EQ(Read(), 64 * 32 * 2);
    EXPECT_EQ(Pkt()->data[0], 0xFF); // the white root
    EXPECT_EQ(Pkt()->data[1], 0xFF);
}

TEST_F(ScreenDepth, EightBitsArePalettedWithTheColormap) {
    ASSERT_TRUE(StartServer(8));
    ASSERT_EQ(OpenScreen("showframe=1"), 0);
    EXPECT_EQ(Par()->format, AV_PIX_FMT_PAL8);
    ASSERT_EQ(Read(), 64 * 32);
    size_t size = 0;
    const uint8_t* palette = FF.av_packet_get_side_data(Pkt(), AV_PKT_DATA_PALETTE, &size);
    ASSERT_NE(palette, nullptr);
    ASSERT_EQ(size, size_t(AVPALETTE_SIZE));
    uint32_t color;
    std::memcpy(&color, palette + 4 * Pkt()->data[0], 4);
    EXPECT_EQ(color & 0xFFFFFF, 0xFFFFFFu); // the white root
}
