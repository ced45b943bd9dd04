// The screen source and vexmira-cli record on a headless Wayland desktop, through the
// screen-cast portal and PipeWire. Runs inside tests/wayland/run-session (scripts/test
// starts it); anywhere else every test fails, saying so.
#include "WaylandPainterLayout.h"
#include "capture/CaptureTestSupport.h"
#include "capture/ScreenCapture.h"
#include "platform/PortalScreenCast.h"
#include "recording/x11/RecordingMedia.h"
#include "support/Sandbox.h"

#include <QCryptographicHash>
#include <QFileInfo>
#include <QImage>
#include <QProcess>

#include <cstring>
#include <thread>

namespace {

constexpr int64_t Interval15 = 66667; // µs per picture at 15/1, rounded

QString BinaryDir() {
    return qEnvironmentVariable("VX_TEST_BINARY_DIR") + QStringLiteral("/bin/");
}

// Runs the test desktop's portal-backend command (stop, start, start-refusing).
bool PortalBackend(const QString& command) {
    return QProcess::execute(qEnvironmentVariable("VX_WAYLAND_DIR") +
                                 QStringLiteral("/portal-backend"),
                             {command}) == 0;
}

bool ScaleDesktop(const char* scale) {
    return QProcess::execute(QStringLiteral("swaymsg"),
                             {QStringLiteral("output"), QStringLiteral("HEADLESS-1"),
                              QStringLiteral("scale"), QString::fromLatin1(scale)}) == 0;
}

bool Near(QColor a, QColor b, int tolerance) {
    return std::abs(a.red() - b.red()) <= tolerance &&
           std::abs(a.green() - b.green()) <= tolerance &&
           std::abs(a.blue() - b.blue()) <= tolerance;
}

// A full-screen window of known content (see WaylandPainterLayout.h) while it lives.
class TPainter {
public:
    explicit TPainter(bool moving) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("wayland"));
        FProcess.setProcessEnvironment(env);
        FProcess.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        FProcess.start(BinaryDir() + QStringLiteral("vx_wayland_painter"),
                       moving ? QStringList() : QStringList{QStringLiteral("--still")});
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < 10000 && FProcess.state() != QProcess::NotRunning &&
               !FProcess.canReadLine())
            FProcess.waitForReadyRead(100);
        Ready = FProcess.readLine().trimmed() == "ready";
    }
    ~TPainter() {
        FProcess.kill();
        FProcess.waitForFinished(5000);
    }
    bool Ready = false;

private:
    QProcess FProcess;
};

class WaylandScreen : public TCaptureTest {
protected:
    void SetUp() override {
        ASSERT_TRUE(TPortalScreenCast::IsWaylandSession())
            << "not a Wayland session: run these tests inside tests/wayland/run-session "
               "(scripts/test does)";
        TCaptureTest::SetUp();
        if (!HasFatalFailure())
            RegisterScreenCapture();
    }
    // Opens the screen source; a failure prints what the source logged.
    int OpenScreen(const QString& options) {
        const int ret = Open(ScreenCaptureName, options);
        if (ret < 0)
            std::fprintf(stderr, "opening %s: %s\n", options.toUtf8().constData(),
                         FLog.Lines().join(u'|').right(600).toUtf8().constData());
        return ret;
    }

    QColor PixelAt(int x, int y) const {
        const uint8_t* p = Pkt()->data + (size_t(y) * Par()->width + x) * 4;
        return QColor(p[2], p[1], p[0]);
    }
    // Expects each block of the painter, moved by -origin, in the current picture.
    void ExpectBlocks(QPoint origin) const {
        for (const TPainterBlock& block : PainterBlocks) {
            const QRect r =
                block.Rect.translated(-origin) & QRect(0, 0, Par()->width, Par()->height);
            if (r.isEmpty())
                continue;
            EXPECT_TRUE(Near(PixelAt(r.left(), r.top()), block.Color, 4)) << block.Rect.x();
            EXPECT_TRUE(Near(PixelAt(r.right(), r.bottom()), block.Color, 4)) << block.Rect.x();
        }
    }

    // Expects the monitor's pixels (1500,40) 400x300 in the next picture: the green block
    // from (120,60) to (319,259) and the grey around it.
    void ExpectTheGreenBlockCut() {
        EXPECT_EQ(Par()->width, 400);
        EXPECT_EQ(Par()->height, 300);
        ASSERT_EQ(Read(), 400 * 300 * 4);
        ExpectBlocks(QPoint(1500, 40));
        EXPECT_TRUE(Near(PixelAt(119, 59), PainterBackground, 4));
        EXPECT_TRUE(Near(PixelAt(120, 60), PainterBlocks[1].Color, 4));
        EXPECT_TRUE(Near(PixelAt(319, 259), PainterBlocks[1].Color, 4));
        EXPECT_TRUE(Near(PixelAt(320, 260), PainterBackground, 4));
    }

    // A fingerprint of the current picture, cheap enough to take 15 times a second.
    QByteArray Digest() const {
        return QCryptographicHash::hash(
            QByteArrayView(reinterpret_cast<const char*>(Pkt()->data), Pkt()->size),
            QCryptographicHash::Md4);
    }

    struct TRun {
        int Pictures = 0, Skipped = 0, Changed = 0;
        int64_t Span = 0, Elapsed = 0;
    };
    // Reads pictures for five seconds of their timeline.
    TRun ReadFiveSeconds() {
        TRun run;
        // The first reads of a new stream are slow; measure once they are not.
        for (int i = 0; i < 10; ++i)
            EXPECT_GT(Read(), 0);
        QByteArray previous = Digest();
        QElapsedTimer clock;
        clock.start();
        const int64_t first = Pkt()->pts;
        int64_t last = first;
        while (last - first < 5000000) {
            if (Read() <= 0) {
                ADD_FAILURE() << "a read failed";
                break;
            }
            EXPECT_GT(Pkt()->pts, last);
            run.Skipped += Pkt()->pts - last > Interval15;
            const QByteArray digest = Digest();
            run.Changed += digest != previous;
            previous = digest;
            last = Pkt()->pts;
            ++run.Pictures;
        }
        run.Span = last - first;
        run.Elapsed = clock.nsecsElapsed() / 1000;
        return run;
    }
    void ExpectFifteenASecond(const TRun& run) {
        EXPECT_NEAR(double(run.Span), 5000000.0, double(Interval15));
        EXPECT_NEAR(double(run.Elapsed), double(run.Span), double(Interval15));
        EXPECT_EQ(run.Pictures + run.Skipped, 75) << run.Skipped << " slots skipped";
        EXPECT_LE(run.Skipped, 2);
    }
};

} // namespace

TEST_F(WaylandScreen, TheWholeScreenComesFifteenTimesASecondAsItMoves) {
    TPainter painter(true);
    ASSERT_TRUE(painter.Ready);
    ASSERT_EQ(OpenScreen("offset=0,0;framesize=1920,1080;framerate=15/1;cursor=0"), 0);
    EXPECT_TRUE(Logged("ready for capturing 1920x1080x32 at (0,0)"));
    EXPECT_EQ(Par()->format, AV_PIX_FMT_BGRA);
    EXPECT_EQ(Par()->width, 1920);
    EXPECT_EQ(Par()->height, 1080);
    ASSERT_EQ(Read(), 1920 * 1080 * 4);
    EXPECT_EQ(Pkt()->pts, 0);
    ExpectBlocks(QPoint());
    EXPECT_TRUE(Near(PixelAt(960, 300), PainterBackground, 4));

    const TRun run = ReadFiveSeconds();
    ExpectFifteenASecond(run);
    // The square moves 30 times a second: nearly every picture differs from the last.
    EXPECT_GE(run.Changed, 60);
    ExpectBlocks(QPoint());
}

TEST_F(WaylandScreen, ARectangleIsCutOutOfTheMonitorsPicture) {
    TPainter painter(true);
    ASSERT_TRUE(painter.Ready);
    ASSERT_EQ(OpenScreen("offset=1500,40;framesize=400,300"), 0);
    ExpectTheGreenBlockCut();

    // Clipped to the monitor like the X11 screen; a rectangle off it is refused.
    ASSERT_EQ(OpenScreen("offset=1800,1000;framesize=400,400"), 0);
    EXPECT_EQ(Par()->width, 120);
    EXPECT_EQ(Par()->height, 80);
    EXPECT_EQ(OpenScreen("offset=3000,0;framesize=10,10"), AVERROR(EIO));
    EXPECT_TRUE(Logged("Invalid properties, aborting"));
    EXPECT_THROW(OpenScreen("offset=10"), EConvertError);

    // The band the square crosses: fifteen changing pictures a second.
    ASSERT_EQ(OpenScreen(QStringLiteral("offset=0,%1;framesize=1920,%2;framerate=15/1")
                             .arg(PainterBandTop - 20)
                             .arg(PainterSquare + 40)),
              0);
    const TRun run = ReadFiveSeconds();
    ExpectFifteenASecond(run);
    EXPECT_GE(run.Changed, 60);
}

TEST_F(WaylandScreen, AStillScreenStillGivesFifteenPicturesASecond) {
    TPainter painter(false);
    ASSERT_TRUE(painter.Ready);
    ASSERT_EQ(OpenScreen("offset=0,0;framesize=1920,1080;framerate=15/1"), 0);
    const TRun run = ReadFiveSeconds();
    ExpectFifteenASecond(run);
    EXPECT_EQ(run.Changed, 0);
    ExpectBlocks(QPoint());
}

TEST_F(WaylandScreen, AnAnnouncedPauseRebasesTheClock) {
    TPainter painter(true);
    ASSERT_TRUE(painter.Ready);
    ASSERT_EQ(OpenScreen("framesize=64,64;framerate=15/1"), 0);
    for (int i = 0; i < 3; ++i)
        ASSERT_GT(Read(), 0);
    int64_t last = Pkt()->pts;
    FF.av_read_pause(FIc);
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    FF.av_read_play(FIc);
    ASSERT_GT(Read(), 0);
    EXPECT_NEAR(double(Pkt()->pts - last), double(Interval15), 1.0);
    QElapsedTimer clock;
    clock.start();
    for (int i = 0; i < 6; ++i)
        ASSERT_GT(Read(), 0);
    EXPECT_GE(clock.elapsed(), 330); // paced from the resume on, no catch-up burst
    EXPECT_NEAR(double(Pkt()->pts - last), 7.0 * Interval15, 7.0);
    ExpectBlocks(QPoint());
}

// A window asked for on a desktop that shares whole monitors only: the monitor the
// user shared is recorded whole, and the log says why.
TEST_F(WaylandScreen, AWindowOnADesktopThatSharesScreensOnlyRecordsTheScreen) {
    TPainter painter(true);
    ASSERT_TRUE(painter.Ready);
    ASSERT_FALSE(PortalOffersWindowSources());
    ASSERT_EQ(OpenScreen("offset=10,10;framesize=100,100;title=vexmira-wayland-painter"), 0);
    EXPECT_TRUE(Logged("The desktop shares whole screens only, not single windows"));
    EXPECT_EQ(Par()->width, 1920);
    EXPECT_EQ(Par()->height, 1080);
    ASSERT_GT(Read(), 0);
    ExpectBlocks(QPoint());
}

// A desktop scaled by 2: the stream has the monitor's 1920x1080 pixels while the desktop
// (and the rectangle the user types) counts 960x540 units. The whole screen is recorded
// in full pixels, and a rectangle is cut where the desktop's units put it.
TEST_F(WaylandScreen, AScaledDesktopIsCutInTheStreamsOwnPixels) {
    ASSERT_TRUE(ScaleDesktop("2"));
    TPainter painter(true);
    ASSERT_TRUE(painter.Ready);
    ASSERT_EQ(OpenScreen("offset=0,0;framesize=960,540;framerate=15/1"), 0);
    EXPECT_EQ(Par()->width, 1920);
    EXPECT_EQ(Par()->height, 1080);
    ASSERT_EQ(Read(), 1920 * 1080 * 4);
    ExpectBlocks(QPoint());
    EXPECT_TRUE(Near(PixelAt(960, 300), PainterBackground, 4));

    // (750,20) 200x150 in the desktop's units: the pixels (1500,40) 400x300.
    ASSERT_EQ(OpenScreen("offset=750,20;framesize=200,150;framerate=15/1"), 0);
    ExpectTheGreenBlockCut();
    // Clipped to the desktop's 960x540 units, off it refused.
    ASSERT_EQ(OpenScreen("offset=900,500;framesize=200,200"), 0);
    EXPECT_EQ(Par()->width, 120);
    EXPECT_EQ(Par()->height, 80);
    EXPECT_EQ(OpenScreen("offset=1000,0;framesize=10,10"), AVERROR(EIO));
}

// A desktop scaled by 1.5 (1280x720 units): a rectangle in units lands on the pixels
// 1.5 times as far.
TEST_F(WaylandScreen, AFractionallyScaledDesktopIsCutInTheStreamsOwnPixels) {
    ASSERT_TRUE(ScaleDesktop("1.5"));
    TPainter painter(true);
    ASSERT_TRUE(painter.Ready);
    ASSERT_EQ(OpenScreen("framerate=15/1"), 0);
    EXPECT_EQ(Par()->width, 1920);
    EXPECT_EQ(Par()->height, 1080);
    // (1000,28) 268x200 in units: the pixels (1500,42) 402x300.
    ASSERT_EQ(OpenScreen("offset=1000,28;framesize=268,200;framerate=15/1"), 0);
    EXPECT_EQ(Par()->width, 402);
    EXPECT_EQ(Par()->height, 300);
    ASSERT_GT(Read(), 0);
    // The compositor resamples the painter's picture: edges blur by a pixel or two.
    EXPECT_TRUE(Near(PixelAt(110, 50), PainterBackground, 6));
    EXPECT_TRUE(Near(PixelAt(124, 62), PainterBlocks[1].Color, 6));
    EXPECT_TRUE(Near(PixelAt(315, 253), PainterBlocks[1].Color, 6));
    EXPECT_TRUE(Near(PixelAt(330, 265), PainterBackground, 6));
}

// The monitor shrinks during the recording: the pictures keep the first size and keep
// coming, what lies beyond the smaller monitor black.
TEST_F(WaylandScreen, AMonitorSizeChangeKeepsTheFirstSize) {
    TPainter painter(true);
    ASSERT_TRUE(painter.Ready);
    ASSERT_EQ(OpenScreen("framerate=15/1"), 0);
    ASSERT_EQ(Read(), 1920 * 1080 * 4);
    ASSERT_EQ(QProcess::execute(QStringLiteral("swaymsg"),
                                {QStringLiteral("output"), QStringLiteral("HEADLESS-1"),
                                 QStringLiteral("resolution"), QStringLiteral("1280x720")}),
              0);
    bool shrunk = false;
    for (int i = 0; i < 45 && !shrunk; ++i) {
        ASSERT_EQ(Read(), 1920 * 1080 * 4);
        shrunk =
            PixelAt(1800, 100) == QColor(Qt::black) && PixelAt(1000, 1000) == QColor(Qt::black);
    }
    EXPECT_TRUE(shrunk) << "the smaller pictures never came";
    EXPECT_TRUE(Near(PixelAt(150, 150), PainterBlocks[0].Color, 4));
    for (int i = 0; i < 15; ++i)
        ASSERT_EQ(Read(), 1920 * 1080 * 4);
    EXPECT_EQ(Par()->width, 1920);
}

// The desktop stops the sharing (here: its portal backend goes away, which leaves this
// desktop unusable for further casts): the reading ends as at the end of a file, with a
// message, instead of repeating the last picture forever.
TEST_F(WaylandScreen, TheDesktopEndingTheSharingEndsTheReading) {
    TPainter painter(true);
    ASSERT_TRUE(painter.Ready);
    ASSERT_EQ(OpenScreen("framesize=320,240"), 0);
    for (int i = 0; i < 5; ++i)
        ASSERT_GT(Read(), 0);
    ASSERT_TRUE(PortalBackend(QStringLiteral("stop")));
    int ret = 0;
    for (int i = 0; i < 60 && ret >= 0; ++i)
        ret = Read();
    EXPECT_EQ(ret, AVERROR_EOF);
    EXPECT_TRUE(Logged("The screen sharing was ended by the desktop"));
}

class WaylandRecordCommand : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(TPortalScreenCast::IsWaylandSession())
            << "not a Wayland session: run these tests inside tests/wayland/run-session";
    }
    TSandbox Box;

    // Starts vexmira-cli record into `file` for `seconds`, without sound, as a desktop
    // program would start it (the tests' own platform is offscreen).
    static void StartRecording(QProcess& cli, const QString& file, int seconds,
                               QProcessEnvironment env = QProcessEnvironment::systemEnvironment(),
                               const QStringList& more = {}) {
        env.remove(QStringLiteral("QT_QPA_PLATFORM"));
        cli.setProcessEnvironment(env);
        cli.start(BinaryDir() + QStringLiteral("vexmira-cli"),
                  QStringList{QStringLiteral("record"), QStringLiteral("-o"), file,
                              QStringLiteral("--seconds"), QString::number(seconds),
                              QStringLiteral("--no-sound")} +
                      more);
    }
    // The picture two seconds into `file`.
    QImage PictureOf(const QString& file) const {
        const QString png = file + QStringLiteral(".png");
        QProcess::execute(QStringLiteral("ffmpeg"),
                          {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-ss"),
                           QStringLiteral("2"), QStringLiteral("-i"), file,
                           QStringLiteral("-frames:v"), QStringLiteral("1"), png});
        return QImage(png);
    }
};

// The whole command on the Wayland desktop: 75 ± 5 pictures of the moving screen in five
// seconds, with the screen's colours where the painter put them.
TEST_F(WaylandRecordCommand, FiveSecondsOfTheMovingScreen) {
    TPainter painter(true);
    ASSERT_TRUE(painter.Ready);
    const QString file = Box.File(QStringLiteral("wayland.mp4"));
    QProcess cli;
    StartRecording(cli, file, 5);
    ASSERT_TRUE(cli.waitForFinished(30000));
    EXPECT_EQ(cli.exitCode(), 0) << cli.readAllStandardError().constData();
    EXPECT_EQ(Probe(file, "stream=width,height", "v:0"), QStringLiteral("1920,1080"));
    const int pictures = Probe(file, "stream=nb_read_frames", "v:0").toInt();
    EXPECT_NEAR(pictures, 75, 5);
    EXPECT_TRUE(DecodingErrors(file).isEmpty());

    const QString png = Box.File(QStringLiteral("picture.png"));
    ASSERT_EQ(QProcess::execute(QStringLiteral("ffmpeg"),
                                {QStringLiteral("-v"), QStringLiteral("error"),
                                 QStringLiteral("-ss"), QStringLiteral("2"), QStringLiteral("-i"),
                                 file, QStringLiteral("-frames:v"), QStringLiteral("1"), png}),
              0);
    const QImage picture(png);
    ASSERT_EQ(picture.size(), QSize(1920, 1080));
    for (const TPainterBlock& block : PainterBlocks)
        EXPECT_TRUE(Near(picture.pixelColor(block.Rect.center()), block.Color, 24))
            << block.Rect.x() << " "
            << picture.pixelColor(block.Rect.center()).name().toStdString();
}

// A desktop without the screen-cast portal: the command says what to install and makes
// no file.
TEST_F(WaylandRecordCommand, NoPortalNamesWhatToInstall) {
    const QString file = Box.File(QStringLiteral("none.mp4"));
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    // A bus of its own that starts no services, so no portal runs on it.
    const QString config = Box.Write(
        QStringLiteral("bus.conf"),
        "<busconfig><type>session</type><listen>unix:tmpdir=/tmp</listen><auth>EXTERNAL</auth>"
        "<policy context=\"default\"><allow send_destination=\"*\" eavesdrop=\"true\"/>"
        "<allow eavesdrop=\"true\"/><allow own=\"*\"/></policy></busconfig>");
    QProcess bus;
    bus.start(QStringLiteral("dbus-daemon"),
              {QStringLiteral("--config-file=") + config, QStringLiteral("--nofork"),
               QStringLiteral("--print-address")});
    ASSERT_TRUE(bus.waitForReadyRead(5000));
    env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"),
               QString::fromUtf8(bus.readLine().trimmed()));
    QProcess cli;
    StartRecording(cli, file, 2, env);
    ASSERT_TRUE(cli.waitForFinished(30000));
    bus.kill();
    bus.waitForFinished();
    EXPECT_NE(cli.exitCode(), 0);
    const QString err = QString::fromLocal8Bit(cli.readAllStandardError());
    EXPECT_TRUE(err.contains(QStringLiteral("install xdg-desktop-portal"))) << err.toStdString();
    EXPECT_FALSE(QFileInfo::exists(file));
}

// The desktop stops the sharing two seconds into a ten-second recording: the command ends
// then, saying so, with a finished file of those two seconds.
TEST_F(WaylandRecordCommand, TheDesktopEndingTheSharingLeavesAPlayableFile) {
    TPainter painter(true);
    ASSERT_TRUE(painter.Ready);
    const QString file = Box.File(QStringLiteral("ended.mp4"));
    QProcess cli;
    StartRecording(cli, file, 10);
    ASSERT_TRUE(cli.waitForStarted(5000));
    // Three lines of the running texts: the recording runs.
    QByteArray err;
    QElapsedTimer clock;
    clock.start();
    while (err.count("MB\n") < 3 && clock.elapsed() < 15000 && cli.state() == QProcess::Running) {
        cli.waitForReadyRead(100);
        err += cli.readAllStandardError();
    }
    ASSERT_TRUE(PortalBackend(QStringLiteral("stop")));
    ASSERT_TRUE(cli.waitForFinished(8000)) << "the recording went on";
    err += cli.readAllStandardError();
    EXPECT_LT(clock.elapsed(), 8000);
    EXPECT_EQ(cli.exitCode(), 0) << err.constData();
    EXPECT_TRUE(err.contains("The screen sharing was ended by the desktop")) << err.constData();
    EXPECT_TRUE(DecodingErrors(file).isEmpty());
    const double seconds = Probe(file, "format=duration").toDouble();
    EXPECT_GT(seconds, 1.5);
    EXPECT_LT(seconds, 5.0);
}

// The user cancels the portal's chooser: the command says so and makes no file.
TEST_F(WaylandRecordCommand, ACancelledChooserMakesNoFile) {
    ASSERT_TRUE(PortalBackend(QStringLiteral("stop")));
    ASSERT_TRUE(PortalBackend(QStringLiteral("start-refusing")));
    const QString file = Box.File(QStringLiteral("cancelled.mp4"));
    QProcess cli;
    StartRecording(cli, file, 2);
    ASSERT_TRUE(cli.waitForFinished(30000));
    EXPECT_NE(cli.exitCode(), 0);
    const QByteArray err = cli.readAllStandardError();
    EXPECT_TRUE(err.contains("The screen sharing was cancelled")) << err.constData();
    EXPECT_FALSE(QFileInfo::exists(file));
}

// The command on a desktop scaled by 2, for the whole screen and for a rectangle typed in
// the desktop's units: the painter's blocks where the desktop shows them.
TEST_F(WaylandRecordCommand, AScaledDesktopIsRecordedWhereItShowsThings) {
    ASSERT_TRUE(ScaleDesktop("2"));
    TPainter painter(true);
    ASSERT_TRUE(painter.Ready);
    const QString full = Box.File(QStringLiteral("full.mp4"));
    QProcess cli;
    StartRecording(cli, full, 3);
    ASSERT_TRUE(cli.waitForFinished(30000));
    ASSERT_EQ(cli.exitCode(), 0) << cli.readAllStandardError().constData();
    const QImage whole = PictureOf(full);
    ASSERT_FALSE(whole.isNull());
    // Wherever the video's size lies, the blocks are where the monitor shows them.
    const double sx = whole.width() / 1920.0, sy = whole.height() / 1080.0;
    for (const TPainterBlock& block : PainterBlocks) {
        const QPoint c(int(block.Rect.center().x() * sx), int(block.Rect.center().y() * sy));
        EXPECT_TRUE(Near(whole.pixelColor(c), block.Color, 24)) << block.Rect.x();
    }

    // (750,20) 200x150 in units are the pixels (1500,40) 400x300, whose green block fills
    // (120,60) to (319,259).
    const QString rect = Box.File(QStringLiteral("rect.mp4"));
    StartRecording(cli, rect, 3, QProcessEnvironment::systemEnvironment(),
                   {QStringLiteral("--area"), QStringLiteral("750,20,200,150")});
    ASSERT_TRUE(cli.waitForFinished(30000));
    ASSERT_EQ(cli.exitCode(), 0) << cli.readAllStandardError().constData();
    const QImage part = PictureOf(rect);
    ASSERT_FALSE(part.isNull());
    const auto at = [&part](int x, int y) {
        return part.pixelColor(int(x * part.width() / 400.0), int(y * part.height() / 300.0));
    };
    EXPECT_TRUE(Near(at(220, 160), PainterBlocks[1].Color, 24));
    EXPECT_TRUE(Near(at(130, 70), PainterBlocks[1].Color, 24));
    EXPECT_TRUE(Near(at(310, 250), PainterBlocks[1].Color, 24));
    EXPECT_TRUE(Near(at(100, 40), PainterBackground, 24));
    EXPECT_TRUE(Near(at(340, 280), PainterBackground, 24));
}
