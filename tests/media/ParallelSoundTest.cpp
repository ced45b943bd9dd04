// A sound file beside pictures is decoded and encoded on a thread of its own; these
// tests make the same jobs with one thread and with two, stop them half-way and feed
// them a song that cannot be decoded.

#include "EncodeTestSupport.h"

#include <QFile>
#include <QRandomGenerator>

namespace {

class ParallelSoundTest : public TMediaTest {
protected:
    TSandbox Sandbox;
    TLogCapture Log;

    // A stereo sine song of `seconds` made by the ffmpeg tool, its format by its suffix.
    QString Song(const QString& name, int seconds) {
        const QString path = Sandbox.File(name);
        EXPECT_TRUE(
            MakeFixture({QStringLiteral("-f"), QStringLiteral("lavfi"), QStringLiteral("-i"),
                         TestSound(seconds), QStringLiteral("-ac"), QStringLiteral("2"), path}));
        return path;
    }

    // Opens pictures of `size` for `seconds`, the song, and the output.
    static void OpenJob(TCustomFFmpeg& job, const QString& song, const QString& out, int seconds,
                        const QString& size = QStringLiteral("320x240")) {
        job.SetExtOption(QStringLiteral("f"), QStringLiteral("lavfi"));
        ASSERT_TRUE(job.OpenInput(TestPicture(seconds, 25, size)));
        ASSERT_TRUE(job.OpenInput(song)) << job.LastErrMsg().toStdString();
        job.SetExtOption(QStringLiteral("vcodec"), QStringLiteral("mpeg4"));
        ASSERT_GE(job.OpenOutput(out, false), 1) << job.LastErrMsg().toStdString();
    }

    bool RanOnItsOwnThread() const {
        for (const QString& line : Log.Lines())
            if (line.contains(QStringLiteral("on a thread of its own")))
                return true;
        return false;
    }
};

} // namespace

// The same job with one thread and with the sound on its own gives the same file
// content, in each container's own sound format (MP3 in AVI is shifted by its priming
// samples, WMA frames are variable): the same samples and the same pictures.
TEST_F(ParallelSoundTest, TheSoundOnItsOwnThreadGivesTheSameSamplesAndPictures) {
    const QString song = Song(QStringLiteral("song.mp3"), 6);
    for (const char* suffix : {"mp4", "avi", "wmv"}) {
        QByteArray sound[2], pictures[2];
        for (const bool parallel : {false, true}) {
            Log.Clear();
            TFFmpeg job(nullptr, 20);
            job.ParallelSound = parallel;
            const QString out = Sandbox.File(
                QStringLiteral("%1.%2").arg(parallel ? "two" : "one", QLatin1String(suffix)));
            OpenJob(job, song, out, 5);
            job.StartConvert(false);
            ASSERT_TRUE(job.Finished()) << suffix << job.FatalMessage().toStdString();
            EXPECT_EQ(RanOnItsOwnThread(), parallel) << suffix;
            sound[parallel] = DecodedStream(out, QStringLiteral("0:a"));
            pictures[parallel] = DecodedStream(out, QStringLiteral("0:v"));
        }
        // The whole song (6 s of 44.1 kHz stereo 16-bit samples, give or take a frame).
        EXPECT_NEAR(double(sound[0].size()) / (44100 * 4), 6.0, 0.1) << suffix;
        EXPECT_EQ(pictures[0].size(), 125 * 320 * 240 * 3 / 2) << suffix;
        EXPECT_TRUE(sound[0] == sound[1]) << suffix << ": the sound differs";
        EXPECT_TRUE(pictures[0] == pictures[1]) << suffix << ": the pictures differ";
    }
}

// Stopped half-way, the job still writes what its sound thread made and the trailer:
// the file plays, with sound not far past its pictures.
TEST_F(ParallelSoundTest, AStopHalfWayFinishesTheFileWithBothStreams) {
    const QString song = Song(QStringLiteral("long.mp3"), 120);
    const QString out = Sandbox.File(QStringLiteral("stopped.mp4"));
    TFFmpeg job(nullptr, 20);
    job.ReportInterval = 100000;
    std::atomic<int> reports{0};
    job.OnProgress = [&](TCustomFFmpeg*, int, int, int, float, float, int64_t, int64_t, int64_t) {
        ++reports;
    };
    OpenJob(job, song, out, 120, QStringLiteral("640x480"));
    ASSERT_TRUE(job.StartConvert(true));
    ASSERT_TRUE(PumpUntil([&] { return reports >= 3; }, 60000));
    job.Stop(true);
    EXPECT_TRUE(job.Terminated());
    EXPECT_FALSE(job.Finished());
    EXPECT_FALSE(job.FatalException()) << job.FatalMessage().toStdString();
    EXPECT_TRUE(RanOnItsOwnThread());

    const TProbe probe = ProbeFile(out);
    ASSERT_TRUE(probe.Ok);
    const TProbedStream* video = probe.First(QStringLiteral("video"));
    const TProbedStream* audio = probe.First(QStringLiteral("audio"));
    ASSERT_TRUE(video && audio);
    EXPECT_GT(video->Frames, 0);
    EXPECT_LT(video->Duration, 100.0);
    EXPECT_GT(audio->Duration, 0.0);
    // The sound's thread runs at most its queue ahead of the pictures.
    EXPECT_NEAR(audio->Duration, video->Duration, 4.0);
}

// A song that cannot be decoded half-way: by default the broken part is skipped and the
// job finishes; with "xerror" the decoding error ends the job with its message. Either
// way the sound thread ends with the job.
TEST_F(ParallelSoundTest, ASongThatCannotBeDecodedHalfWayIsSkippedOrEndsTheJob) {
    const QString song = Song(QStringLiteral("broken.mp3"), 6);
    QFile file(song);
    ASSERT_TRUE(file.open(QIODevice::ReadWrite));
    QByteArray bytes = file.readAll();
    QRandomGenerator noise(7);
    for (qsizetype i = bytes.size() / 2; i < bytes.size() / 2 + 3000; ++i)
        bytes[i] = char(noise.bounded(256));
    file.seek(0);
    file.write(bytes);
    file.close();

    for (const bool stopOnError : {false, true}) {
        Log.Clear();
        const QString out =
            Sandbox.File(stopOnError ? QStringLiteral("xerror.mp4") : QStringLiteral("skip.mp4"));
        TFFmpeg job(nullptr, 20);
        if (stopOnError)
            job.SetExtOption(QStringLiteral("xerror"), QString());
        OpenJob(job, song, out, 6);
        job.StartConvert(false);
        EXPECT_TRUE(job.Terminated());
        EXPECT_TRUE(RanOnItsOwnThread());
        if (stopOnError) {
            EXPECT_FALSE(job.Finished());
            EXPECT_TRUE(job.FatalException());
            EXPECT_TRUE(job.FatalMessage().contains(QStringLiteral("Error while decoding stream")))
                << job.FatalMessage().toStdString();
            continue;
        }
        EXPECT_TRUE(job.Finished()) << job.FatalMessage().toStdString();
        const TProbe probe = ProbeFile(out);
        ASSERT_TRUE(probe.Ok);
        ASSERT_TRUE(probe.First(QStringLiteral("audio")));
        EXPECT_GT(probe.First(QStringLiteral("audio"))->Duration, 5.0);
        EXPECT_EQ(probe.First(QStringLiteral("video"))->Frames, 150);
    }
}
