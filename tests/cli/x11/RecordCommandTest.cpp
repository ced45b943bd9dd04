// vexmira-cli record, run as its own process on the test's X server.
#include "recording/x11/PulseSoundServer.h"
#include "recording/x11/RecordingMedia.h"
#include "support/MovBoxes.h"
#include "support/Sandbox.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QThread>
#include <gtest/gtest.h>

#include <csignal>
#include <sys/resource.h>
#include <unistd.h>

namespace {

QString Cli() {
    return qEnvironmentVariable("VX_TEST_BINARY_DIR") + QStringLiteral("/bin/vexmira-cli");
}

class RecordCommandTest : public ::testing::Test {
protected:
    TSandbox Box;
    QProcess Process;
    QString Err;

    void Run(const QStringList& arguments) {
        Process.setProgram(Cli());
        Process.setArguments(QStringList{QStringLiteral("record")} + arguments);
        Process.start();
        ASSERT_TRUE(Process.waitForStarted(5000));
    }
    // Waits until stderr holds `count` lines of the toolbar's texts.
    bool WaitForTexts(int count) {
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < 15000 && Process.state() == QProcess::Running) {
            Process.waitForReadyRead(100);
            Err += QString::fromLocal8Bit(Process.readAllStandardError());
            if (Texts().size() >= count)
                return true;
        }
        return false;
    }
    // The lines "hh:mm:ss  n.nMB" printed so far.
    QStringList Texts() const {
        static const QRegularExpression line(
            QStringLiteral("^\\d\\d:\\d\\d:\\d\\d  \\d+\\.\\dMB$"));
        return Err.split(u'\n').filter(line);
    }
    void Signal(int signal) { ASSERT_EQ(::kill(pid_t(Process.processId()), signal), 0); }
    // Waits for the end; the exit code (-1 for a crash or a hang).
    int Finish() {
        if (!Process.waitForFinished(20000))
            return -1;
        Err += QString::fromLocal8Bit(Process.readAllStandardError());
        return Process.exitStatus() == QProcess::NormalExit ? Process.exitCode() : -1;
    }
    int RunToEnd(const QStringList& arguments) {
        Run(arguments);
        return Finish();
    }
};

// SIGUSR1 pauses and resumes; --seconds counts the paused time too; the texts come once
// a second; the file holds the time recorded, with the pause missing from the pictures
// and the sound alike.
TEST_F(RecordCommandTest, SignalsPauseAndResumeAndTheTimeLimitIncludesThePause) {
    TDiskSoundDevice device(Box.File(QStringLiteral("tone.raw")), 20);
    ASSERT_TRUE(device.Written());
    const QString file = Box.File(QStringLiteral("cli.mp4"));
    Run({QStringLiteral("-o"), file, QStringLiteral("--seconds"), QStringLiteral("3"),
         QStringLiteral("--area"), QStringLiteral("10,10,160,120")});
    ASSERT_TRUE(WaitForTexts(1)) << Err.toStdString(); // one second into the recording
    QElapsedTimer clock;
    clock.start();
    Signal(SIGUSR1);
    QThread::msleep(600);
    Signal(SIGUSR1);
    const double pause = clock.nsecsElapsed() / 1e9;
    ASSERT_EQ(Finish(), 0) << Err.toStdString();
    // The recording ended 2 s after its first text, and then finalised its file.
    const double rest = clock.nsecsElapsed() / 1e9;
    EXPECT_GT(rest, 1.8);
    EXPECT_LT(rest, 2.8);
    EXPECT_EQ(QString::fromLocal8Bit(Process.readAllStandardOutput()).trimmed(), file);
    EXPECT_TRUE(Err.contains(QStringLiteral("paused\n")));
    EXPECT_TRUE(Err.contains(QStringLiteral("resumed\n")));
    const QStringList texts = Texts();
    EXPECT_GE(texts.size(), 2);
    EXPECT_LE(texts.size(), 3);
    // The first text comes a second after the start, and the time it shows is that of
    // the last report, so it reads 0 or 1 s; the times never go back.
    ASSERT_FALSE(texts.isEmpty());
    EXPECT_TRUE(texts.front() == QStringLiteral("00:00:00  0.0MB") ||
                texts.front() == QStringLiteral("00:00:01  0.0MB"))
        << texts.front().toStdString();
    EXPECT_TRUE(std::is_sorted(texts.begin(), texts.end())) << Err.toStdString();

    const double video = Probe(file, "stream=nb_read_frames", "v:0").toDouble() / 15;
    const std::vector<int16_t> samples = DecodeSound(file);
    const double sound = double(samples.size()) / ToneRate;
    EXPECT_NEAR(video, 3.0 - pause, 0.35);
    EXPECT_NEAR(video, sound, 0.2);
    // The tone skips the pause once: the tone's time minus the recording's jumps by it
    // (over three windows, as the middle one may hold both sides).
    const std::vector<TToneWindow> windows = ToneTimes(samples);
    double largest = 0;
    for (size_t i = 1; i + 1 < windows.size(); ++i)
        if (windows[i + 1].Tone >= 0 && windows[i - 1].Tone >= 0)
            largest = std::max(largest, (windows[i + 1].Tone - windows[i + 1].At) -
                                            (windows[i - 1].Tone - windows[i - 1].At));
    EXPECT_NEAR(largest, pause, 0.2);
}

// The system's time is set back half a minute and then an hour forward during a
// recording (time synchronisation, or the user): the recording neither stalls nor
// rushes, and holds as many seconds of pictures and of sound as it was asked for.
TEST_F(RecordCommandTest, SettingTheSystemTimeDuringARecordingChangesNothing) {
    TDiskSoundDevice device(Box.File(QStringLiteral("tone.raw")), 20);
    ASSERT_TRUE(device.Written());
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("LD_PRELOAD"), QStringLiteral(VX_WALL_CLOCK_JUMPS_LIB));
    env.insert(QStringLiteral("VX_WALL_CLOCK_JUMPS"), QStringLiteral("2:-30,3.5:3600"));
    // A sanitized program would refuse a library loaded ahead of its runtime.
    env.insert(QStringLiteral("ASAN_OPTIONS"), env.value(QStringLiteral("ASAN_OPTIONS")) +
                                                   QStringLiteral(":verify_asan_link_order=0"));
    Process.setProcessEnvironment(env);
    const QString file = Box.File(QStringLiteral("set.mp4"));
    QElapsedTimer clock;
    clock.start();
    ASSERT_EQ(
        RunToEnd({QStringLiteral("-o"), file, QStringLiteral("--seconds"), QStringLiteral("5"),
                  QStringLiteral("--area"), QStringLiteral("10,10,160,120")}),
        0)
        << Err.toStdString();
    EXPECT_LT(clock.elapsed(), 12000);
    const double video = Probe(file, "stream=nb_read_frames", "v:0").toDouble() / 15;
    const double sound = double(DecodeSound(file).size()) / ToneRate;
    EXPECT_NEAR(video, 5.0, 0.2);
    EXPECT_NEAR(sound, video, 0.2);
}

// SIGTERM ends a recording without a time limit like the stop button: the file is
// finalised and plays to its end.
TEST_F(RecordCommandTest, TerminationFinalisesThePlayableFile) {
    const QString file = Box.File(QStringLiteral("term.mov"));
    Run({QStringLiteral("-o"), file, QStringLiteral("--no-sound"), QStringLiteral("--area"),
         QStringLiteral("0,0,320,240"), QStringLiteral("--size"), QStringLiteral("160*120")});
    ASSERT_TRUE(WaitForTexts(1)) << Err.toStdString();
    QThread::msleep(500);
    Signal(SIGTERM);
    ASSERT_EQ(Finish(), 0) << Err.toStdString();
    EXPECT_EQ(Probe(file, "stream=codec_name,width,height"), QStringLiteral("mpeg4,160,120"));
    const double seconds = Probe(file, "stream=nb_read_frames", "v:0").toDouble() / 15;
    EXPECT_NEAR(seconds, 1.5, 0.35);
    EXPECT_EQ(DecodingErrors(file), QString());
}

// --h264 records H.264 pictures into an MP4 or MOV file and refuses any other type.
TEST_F(RecordCommandTest, H264NeedsAnMp4OrMovFile) {
    const QString avi = Box.File(QStringLiteral("h.avi"));
    EXPECT_EQ(RunToEnd({QStringLiteral("-o"), avi, QStringLiteral("--h264"),
                        QStringLiteral("--no-sound")}),
              1);
    EXPECT_TRUE(Err.contains(QStringLiteral("--h264"))) << Err.toStdString();
    EXPECT_FALSE(QFileInfo::exists(avi));

    const QString mov = Box.File(QStringLiteral("h.mov"));
    ASSERT_EQ(
        RunToEnd({QStringLiteral("-o"), mov, QStringLiteral("--h264"), QStringLiteral("--no-sound"),
                  QStringLiteral("--seconds"), QStringLiteral("1.5"), QStringLiteral("--area"),
                  QStringLiteral("0,0,320,240")}),
        0)
        << Err.toStdString();
    EXPECT_EQ(Probe(mov, "stream=codec_name,width,height,pix_fmt"),
              QStringLiteral("h264,320,240,yuv420p"));
    EXPECT_EQ(DecodingErrors(mov), QString());
}

// Each failure ends the program with a non-zero code and the reason, and leaves no file.
TEST_F(RecordCommandTest, FailuresExitNonZeroWithTheEnginesMessage) {
    const QStringList quiet{QStringLiteral("--no-sound"), QStringLiteral("--seconds"),
                            QStringLiteral("1")};
    const auto expectFailure = [&](const QString& file, const QString& reason) {
        SCOPED_TRACE(file.toStdString());
        Err.clear();
        EXPECT_EQ(RunToEnd(QStringList{QStringLiteral("-o"), file} + quiet), 1);
        EXPECT_TRUE(Err.contains(reason)) << Err.toStdString();
        EXPECT_TRUE(Texts().isEmpty());
        EXPECT_FALSE(QFileInfo::exists(file));
    };
    // A folder that cannot be written: here a file stands where the folder should be
    // (a folder without write permission does not stop the superuser).
    const QString notAFolder = Box.Write(QStringLiteral("plain"), "x");
    expectFailure(notAFolder + QStringLiteral("/clip.mp4"), QStringLiteral("Not a directory"));
    if (::geteuid() != 0) {
        const QString locked = Box.File(QStringLiteral("locked/x")).section(u'/', 0, -2);
        QFile::setPermissions(locked, QFile::ReadOwner | QFile::ExeOwner);
        expectFailure(locked + QStringLiteral("/clip.mp4"), QStringLiteral("Permission denied"));
    }
    // No format has this extension.
    expectFailure(Box.File(QStringLiteral("clip.xyz")), QStringLiteral("clip.xyz"));

    // No recording device: SDL has no such driver.
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("SDL_AUDIODRIVER"), QStringLiteral("no-such-driver"));
        Process.setProcessEnvironment(env);
        Err.clear();
        EXPECT_EQ(RunToEnd({QStringLiteral("-o"), Box.File(QStringLiteral("mute.mp4")),
                            QStringLiteral("--seconds"), QStringLiteral("1")}),
                  1);
        EXPECT_TRUE(Err.contains(QStringLiteral("no-such-driver"))) << Err.toStdString();
        EXPECT_TRUE(Err.contains(QStringLiteral("pause_pointer="))) << Err.toStdString();
    }

    // No X server.
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("DISPLAY"));
    Process.setProcessEnvironment(env);
    Err.clear();
    EXPECT_EQ(RunToEnd({QStringLiteral("-o"), Box.File(QStringLiteral("nodisplay.mp4"))}), 1);
    EXPECT_TRUE(Err.contains(QStringLiteral("cannot open display"))) << Err.toStdString();
}

// The sound device goes away mid-recording (its sound server dies): the recording goes
// on without sound and says so, the time shown keeps running, and the file holds the
// sound recorded before and the pictures of the whole time.
TEST_F(RecordCommandTest, ALostSoundDeviceLeavesTheRestOfTheRecordingSilent) {
    TPulseSoundServer server;
    ASSERT_TRUE(server.Error().isEmpty()) << server.Error().toStdString();
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    server.AddClientEnvironment(env);
    Process.setProcessEnvironment(env);
    const QString file = Box.File(QStringLiteral("lost.mp4"));
    Run({QStringLiteral("-o"), file, QStringLiteral("--area"), QStringLiteral("0,0,320,240"),
         QStringLiteral("--seconds"), QStringLiteral("7")});
    ASSERT_TRUE(WaitForTexts(4)) << Err.toStdString();
    server.Kill();
    const QString shownAtLoss = Texts().last().left(8);
    ASSERT_EQ(Finish(), 0) << Err.toStdString();
    EXPECT_TRUE(Err.contains(QStringLiteral("sound device lost"))) << Err.toStdString();
    EXPECT_GT(Texts().last().left(8), shownAtLoss) << Err.toStdString();

    EXPECT_EQ(Probe(file, "stream=codec_type"), QStringLiteral("video\naudio"));
    const double video = Probe(file, "stream=nb_read_frames", "v:0").toDouble() / 15;
    const double sound = Probe(file, "stream=duration", "a:0").toDouble();
    EXPECT_GT(sound, 0.2);         // what was recorded before the loss is kept
    EXPECT_GT(video - sound, 2.0); // the pictures went on for the rest of the time
    EXPECT_EQ(DecodingErrors(file), QString());
}

// --sound picks where the sound comes from; with both sources the loss of the sound
// server is told and the recording goes on as with the recording device alone.
TEST_F(RecordCommandTest, SoundFromBothSourcesAndTheirLoss) {
    Err.clear();
    EXPECT_EQ(RunToEnd({QStringLiteral("-o"), Box.File(QStringLiteral("x.mp4")),
                        QStringLiteral("--sound"), QStringLiteral("speakers")}),
              1);
    EXPECT_TRUE(Err.contains(QStringLiteral("--sound needs mic, system or both")))
        << Err.toStdString();

    TPulseSoundServer server(TPulseSoundServer::TwoTones());
    ASSERT_TRUE(server.Error().isEmpty()) << server.Error().toStdString();
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    server.AddClientEnvironment(env);
    Process.setProcessEnvironment(env);
    const QString file = Box.File(QStringLiteral("both.mp4"));
    Err.clear();
    Run({QStringLiteral("-o"), file, QStringLiteral("--area"), QStringLiteral("0,0,320,240"),
         QStringLiteral("--seconds"), QStringLiteral("6"), QStringLiteral("--sound"),
         QStringLiteral("both")});
    ASSERT_TRUE(WaitForTexts(4)) << Err.toStdString();
    server.Kill();
    ASSERT_EQ(Finish(), 0) << Err.toStdString();
    EXPECT_TRUE(Err.contains(QStringLiteral("sound device lost"))) << Err.toStdString();
    const std::vector<int16_t> sound = DecodeSound(file);
    ASSERT_GT(sound.size(), size_t(ToneRate * 2));
    EXPECT_GT(ToneLevel(sound, ToneRate / 2, ToneRate, TPulseSoundServer::MicrophoneHz), 4000);
    EXPECT_GT(ToneLevel(sound, ToneRate / 2, ToneRate, TPulseSoundServer::OutputHz), 4000);
    const double video = Probe(file, "stream=nb_read_frames", "v:0").toDouble() / 15;
    EXPECT_GT(video - double(sound.size()) / ToneRate, 1.5);
}

// The disk fills during a recording (here: a limit on the size of the files the process
// may write, with the signal that would end it ignored): the program ends with a
// non-zero code and the reason, and what was written before plays.
TEST_F(RecordCommandTest, AFullDiskEndsTheRecordingWithAMessage) {
    const QString file = Box.File(QStringLiteral("full.avi"));
    Process.setChildProcessModifier([] {
        const rlimit limit{8000, 8000};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        std::signal(SIGXFSZ, SIG_IGN);
    });
    QElapsedTimer clock;
    clock.start();
    EXPECT_EQ(RunToEnd({QStringLiteral("-o"), file, QStringLiteral("--no-sound"),
                        QStringLiteral("--area"), QStringLiteral("0,0,320,240"),
                        QStringLiteral("--seconds"), QStringLiteral("20")}),
              1)
        << Err.toStdString();
    EXPECT_LT(clock.elapsed(), 15000); // it ended on the failure, not at the time limit
    EXPECT_TRUE(Err.contains(QStringLiteral("File too large"))) << Err.toStdString();
    EXPECT_TRUE(Process.readAllStandardOutput().isEmpty());
    EXPECT_GE(Probe(file, "stream=nb_read_frames", "v:0").toInt(), 5);
}

} // namespace

// A normally stopped MP4 or MOV recording is an ordinary file with one index; nothing
// is left beside it. --seconds counts from the first picture, not from the start, which
// waits for the screen and the sound device to open.
TEST_F(RecordCommandTest, AStoppedRecordingIsAnOrdinaryFileWithOneIndex) {
    TDiskSoundDevice device(Box.File(QStringLiteral("tone.raw")), 20);
    ASSERT_TRUE(device.Written());
    for (const char* name : {"plain.mp4", "plain.mov"}) {
        SCOPED_TRACE(name);
        const QString file = Box.File(QLatin1String(name));
        ASSERT_EQ(
            RunToEnd({QStringLiteral("-o"), file, QStringLiteral("--seconds"), QStringLiteral("2"),
                      QStringLiteral("--area"), QStringLiteral("0,0,320,240")}),
            0)
            << Err.toStdString();
        const QStringList boxes = TopLevelBoxes(file);
        EXPECT_FALSE(boxes.contains(QStringLiteral("moof"))) << boxes.join(u' ').toStdString();
        EXPECT_EQ(boxes.count(QStringLiteral("moov")), 1);
        // Two seconds from the first picture: 30 pictures, one more when the stop came late.
        const int pictures = Probe(file, "stream=nb_read_frames", "v:0").toInt();
        EXPECT_GE(pictures, 30);
        EXPECT_LE(pictures, 31);
        EXPECT_EQ(DecodingErrors(file), QString());
        EXPECT_EQ(
            QFileInfo(file).dir().entryList(QDir::Files | QDir::Hidden).filter(QLatin1String(name)),
            QStringList{QLatin1String(name)});
    }
}

// A recording killed outright still plays up to its last fragment.
TEST_F(RecordCommandTest, AKilledRecordingPlaysUpToItsLastFragment) {
    TDiskSoundDevice device(Box.File(QStringLiteral("tone.raw")), 20);
    ASSERT_TRUE(device.Written());
    const QString file = Box.File(QStringLiteral("killed.mp4"));
    Run({QStringLiteral("-o"), file, QStringLiteral("--area"), QStringLiteral("0,0,640,480")});
    ASSERT_TRUE(WaitForTexts(1)) << Err.toStdString();
    QThread::msleep(5000);
    Signal(SIGKILL);
    EXPECT_EQ(Finish(), -1);
    EXPECT_TRUE(TopLevelBoxes(file).contains(QStringLiteral("moof")));
    EXPECT_GE(Probe(file, "stream=nb_read_frames", "v:0").toInt(), 30);
}
