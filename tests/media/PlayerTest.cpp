#include "MediaTestSupport.h"

#include "media/FFPlay.h"
#include "support/Sandbox.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QTemporaryDir>

#include <cstdlib>
#include <vector>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// Makes a song with the ffmpeg tool: a sine tone of `seconds` at `rate` with `channels`.
QString MakeSong(const QString& path, double seconds, int rate, int channels,
                 const char* codec = "pcm_s16le") {
    QProcess ffmpeg;
    ffmpeg.start(
        QStringLiteral("ffmpeg"),
        {"-nostdin", "-v", "error", "-y", "-f", "lavfi", "-i",
         QStringLiteral("sine=frequency=441:sample_rate=%1:duration=%2").arg(rate).arg(seconds),
         "-ac", QString::number(channels), "-c:a", codec, path});
    EXPECT_TRUE(ffmpeg.waitForFinished(30000));
    EXPECT_EQ(ffmpeg.exitCode(), 0) << ffmpeg.readAllStandardError().toStdString();
    return path;
}

// The song decoded by the ffmpeg tool to signed 16-bit samples with `channels`.
std::vector<int16_t> Reference(const QString& song, int channels) {
    QProcess ffmpeg;
    ffmpeg.start(QStringLiteral("ffmpeg"), {"-nostdin", "-v", "error", "-i", song, "-ac",
                                            QString::number(channels), "-f", "s16le", "-"});
    EXPECT_TRUE(ffmpeg.waitForFinished(30000));
    const QByteArray bytes = ffmpeg.readAllStandardOutput();
    std::vector<int16_t> samples(size_t(bytes.size()) / 2);
    std::memcpy(samples.data(), bytes.constData(), samples.size() * 2);
    return samples;
}

std::vector<int16_t> ReadSamples(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QByteArray bytes = file.readAll();
    std::vector<int16_t> samples(size_t(bytes.size()) / 2);
    std::memcpy(samples.data(), bytes.constData(), samples.size() * 2);
    return samples;
}

size_t FirstNonZero(const std::vector<int16_t>& s) {
    for (size_t i = 0; i < s.size(); ++i)
        if (s[i] != 0)
            return i;
    return s.size();
}
size_t LastNonZero(const std::vector<int16_t>& s) {
    for (size_t i = s.size(); i > 0; --i)
        if (s[i - 1] != 0)
            return i - 1;
    return 0;
}

// Each test plays through SDL's disk driver into its own file, with the system's FFmpeg
// and SDL.
class PlayerTest : public TMediaTest {
protected:
    void SetUp() override {
        TMediaTest::SetUp();
        ASSERT_TRUE(FDir.isValid());
        FOutput = FDir.filePath(QStringLiteral("played.raw"));
        qputenv("SDL_AUDIODRIVER", "disk");
        qputenv("SDL_DISKAUDIOFILE", FOutput.toLocal8Bit());
        FPlayer = std::make_unique<TFFPlayer>();
        FPlayer->SetDisableVideo(true);
        FPlayer->SetDisableDisplay(true);
        ASSERT_TRUE(FPlayer->LoadSDLLib(QString(), QString::fromLatin1(SDLLibraryFileName)))
            << FPlayer->LastErrMsg().toStdString();
        FPlayer->SetOnState([this](QObject*, TPlayState state) { FStates.push_back(state); });
        FPlayer->SetOnPosition([this](QObject*, int64_t pts) { FPositions.push_back(pts); });
    }
    void TearDown() override {
        FPlayer.reset();
        qunsetenv("SDL_DISKAUDIOFILE");
        qunsetenv("SDL_AUDIODRIVER");
        TMediaTest::TearDown();
    }
    int Count(TPlayState state) const {
        return int(std::count(FStates.begin(), FStates.end(), state));
    }
    QString Song(const QString& name) const { return FDir.filePath(name); }

    QTemporaryDir FDir;
    QString FOutput;
    std::unique_ptr<TFFPlayer> FPlayer;
    std::vector<TPlayState> FStates;
    std::vector<int64_t> FPositions;
};

} // namespace

TEST_F(PlayerTest, PlaysTheDecodedSamplesAndEndsOnce) {
    const QString song = MakeSong(Song("stereo.wav"), 1.0, 44100, 2);
    ASSERT_TRUE(FPlayer->Open(song, 0, false)) << FPlayer->LastErrMsg().toStdString();
    EXPECT_EQ(FPlayer->AudioSampleRate(), 44100);
    EXPECT_EQ(FPlayer->AudioChannels(), 2);
    EXPECT_EQ(FPlayer->Duration(), 1000000);
    ASSERT_TRUE(PumpUntil([&] { return Count(psEnd) > 0; }, 10000));
    EXPECT_EQ(FPlayer->CurrentPTS(), 1000000);
    PumpEvents(300); // the end is reported once, not on every refresh
    FPlayer->Stop(true);
    // The stop state comes through the event queue a moment after Stop returns.
    EXPECT_TRUE(PumpUntil([&] { return Count(psStop) == 1; }, 5000));
    EXPECT_EQ(Count(psPlay), 1);
    EXPECT_EQ(Count(psEnd), 1);
    ASSERT_FALSE(FStates.empty());
    EXPECT_EQ(FStates.back(), psStop);
    // Positions rise to the end.
    ASSERT_FALSE(FPositions.empty());
    EXPECT_TRUE(std::is_sorted(FPositions.begin(), FPositions.end()));
    EXPECT_EQ(FPositions.back(), 1000000);

    const std::vector<int16_t> played = ReadSamples(FOutput);
    const std::vector<int16_t> reference = Reference(song, 2);
    ASSERT_EQ(reference.size(), 44100u * 2);
    const size_t p0 = FirstNonZero(played), r0 = FirstNonZero(reference);
    ASSERT_LT(p0, played.size()) << "nothing was played";
    const size_t compared = reference.size() - r0;
    ASSERT_GE(played.size() - p0, compared);
    size_t mismatches = 0;
    for (size_t i = 0; i < compared; ++i)
        mismatches += played[p0 + i] != reference[r0 + i];
    EXPECT_EQ(mismatches, 0u);
    // Nothing but silence around the song: its length within one buffer of 1024 frames.
    const size_t span = LastNonZero(played) - p0 + 1;
    EXPECT_NEAR(double(span), double(LastNonZero(reference) - r0 + 1), 1024 * 2);
}

TEST_F(PlayerTest, ConvertsToTheStreamRateWithAtMostTwoChannels) {
    const QString six = MakeSong(Song("six.wav"), 0.5, 48000, 6, "pcm_f32le");
    ASSERT_TRUE(FPlayer->Open(six, 0, false)) << FPlayer->LastErrMsg().toStdString();
    EXPECT_EQ(FPlayer->AudioSampleRate(), 48000);
    EXPECT_EQ(FPlayer->AudioChannels(), 2);
    ASSERT_TRUE(PumpUntil([&] { return Count(psEnd) > 0; }, 10000));
    FPlayer->Stop(true);
    const std::vector<int16_t> played = ReadSamples(FOutput);
    const std::vector<int16_t> reference = Reference(six, 2);
    const size_t p0 = FirstNonZero(played), r0 = FirstNonZero(reference);
    ASSERT_LT(p0, played.size());
    const size_t span = LastNonZero(played) - p0 + 1;
    EXPECT_NEAR(double(span), double(LastNonZero(reference) - r0 + 1), 1024 * 2);
    int worst = 0;
    for (size_t i = 0; i + r0 < reference.size() && p0 + i < played.size(); ++i)
        worst = std::max(worst, std::abs(played[p0 + i] - reference[r0 + i]));
    EXPECT_LE(worst, 2); // the same down-mix, up to rounding

    const QString mono = MakeSong(Song("mono.wav"), 0.2, 22050, 1);
    ASSERT_TRUE(FPlayer->Open(mono, 0, true));
    EXPECT_EQ(FPlayer->AudioSampleRate(), 22050);
    EXPECT_EQ(FPlayer->AudioChannels(), 1);
}

TEST_F(PlayerTest, VolumeAndMuteScaleWhatIsPlayed) {
    const QString song = MakeSong(Song("tone.wav"), 0.3, 44100, 1);
    const std::vector<int16_t> reference = Reference(song, 1);
    const int peak = *std::max_element(reference.begin(), reference.end());
    auto playedPeak = [&](int volume, bool mute) {
        FStates.clear();
        FPlayer->SetAudioVolume(volume);
        FPlayer->SetMute(mute);
        EXPECT_TRUE(FPlayer->Open(song, 0, false));
        EXPECT_TRUE(PumpUntil([&] { return Count(psEnd) > 0; }, 10000));
        FPlayer->Stop(true);
        const std::vector<int16_t> played = ReadSamples(FOutput);
        return played.empty() ? -1 : int(*std::max_element(played.begin(), played.end()));
    };
    EXPECT_EQ(playedPeak(128, false), peak);
    EXPECT_NEAR(playedPeak(64, false), peak / 2, 2);
    EXPECT_EQ(playedPeak(128, true), 0);
    EXPECT_EQ(playedPeak(0, false), 0);
}

TEST_F(PlayerTest, PausedOpenPlaysNothingUntilResumed) {
    const QString song = MakeSong(Song("song.wav"), 2.0, 44100, 2);
    ASSERT_TRUE(FPlayer->Open(song, 0, true));
    EXPECT_TRUE(FPlayer->Paused());
    PumpEvents(400);
    EXPECT_EQ(FPlayer->CurrentPTS(), 0);
    EXPECT_EQ(FPlayer->PlayState(), psPlay);
    EXPECT_EQ(Count(psEnd), 0);
    FPlayer->Stop(true);
    const std::vector<int16_t> silent = ReadSamples(FOutput);
    EXPECT_EQ(FirstNonZero(silent), silent.size()) << "sound was played while paused";

    ASSERT_TRUE(FPlayer->Open(song, 0, true));
    FPlayer->Resume();
    EXPECT_FALSE(FPlayer->Paused());
    ASSERT_TRUE(PumpUntil([&] { return FPlayer->CurrentPTS() > 200000; }, 5000));
    FPlayer->Pause();
    PumpEvents(100);
    const int64_t held = FPlayer->CurrentPTS();
    PumpEvents(300);
    EXPECT_EQ(FPlayer->CurrentPTS(), held); // the clock is held while paused
    FPlayer->TogglePause();
    EXPECT_FALSE(FPlayer->Paused());
    ASSERT_TRUE(PumpUntil([&] { return FPlayer->CurrentPTS() > held + 100000; }, 5000));
    EXPECT_LT(FPlayer->CurrentPTS(), held + 400000); // it continued from where it stopped
    FPlayer->Stop(false);                            // the sound stops at once; the release waits
    EXPECT_TRUE(PumpUntil([&] { return Count(psStop) == 2; }, 5000));
    EXPECT_EQ(FStates.back(), psStop);
    EXPECT_GE(Count(psPause), 1);
    FPlayer->Stop(true); // releases the stopped stream (and closes the played file)
    const std::vector<int16_t> played = ReadSamples(FOutput);
    EXPECT_LT(FirstNonZero(played), played.size());
}

TEST_F(PlayerTest, SeeksAreLimitedToTheDurationAndNotStacked) {
    const QString song = MakeSong(Song("long.wav"), 10.0, 44100, 2);
    ASSERT_TRUE(FPlayer->Open(song, 0, true));
    PumpEvents(200); // the reading thread has filled its queue and waits

    FPlayer->Seek(4000000, 0, false);
    EXPECT_TRUE(FPlayer->Seeking());
    FPlayer->Seek(1000000, 0, false); // dropped: the first one is pending
    ASSERT_TRUE(PumpUntil([&] { return !FPlayer->Seeking(); }, 5000));
    PumpEvents(50);
    EXPECT_EQ(FPlayer->CurrentPTS(), 4000000);
    ASSERT_FALSE(FPositions.empty());
    EXPECT_EQ(FPositions.back(), 4000000);

    FPlayer->Seek(-2.5, 0, true); // relative, waiting
    PumpEvents(50);
    EXPECT_EQ(FPlayer->CurrentPTS(), 1500000);

    FPlayer->Seek(int64_t(60000000), 0, true);
    PumpEvents(50);
    EXPECT_EQ(FPlayer->CurrentPTS(), 10000000);
    FPlayer->Resume();
    ASSERT_TRUE(PumpUntil([&] { return Count(psEnd) == 1; }, 5000));

    // After the end, a seek to the start plays the song again to its end.
    FPlayer->Seek(9700000, sfAny, true);
    ASSERT_TRUE(PumpUntil([&] { return Count(psEnd) == 2; }, 5000));
}

namespace {

// Zero crossings per second of `samples` (mono) at `rate`, from its first to its last
// non-zero sample.
double Frequency(const std::vector<int16_t>& samples, int rate) {
    const size_t first = FirstNonZero(samples), last = LastNonZero(samples);
    int crossings = 0;
    for (size_t i = first + 1; i <= last; ++i)
        crossings += (samples[i - 1] < 0) != (samples[i] < 0);
    return last > first ? crossings / 2.0 / (double(last - first) / rate) : 0;
}

} // namespace

TEST_F(PlayerTest, HalfSpeedKeepsThePitchAndTheSongsOwnTime) {
    const QString song = MakeSong(Song("slow.wav"), 2.0, 44100, 1);
    FPlayer->SetTempo(0.5);
    std::vector<std::pair<double, int64_t>> paced; // (seconds of wall clock, position)
    QElapsedTimer wall;
    FPlayer->SetOnPosition([&](QObject*, int64_t pts) {
        paced.push_back({wall.nsecsElapsed() / 1e9, pts});
    });
    wall.start();
    ASSERT_TRUE(FPlayer->Open(song, 0, false)) << FPlayer->LastErrMsg().toStdString();
    ASSERT_TRUE(PumpUntil([&] { return Count(psEnd) > 0; }, 15000));
    const double played = wall.nsecsElapsed() / 1e9;
    // The song's own time: it ends at its duration, after about twice as long.
    EXPECT_EQ(FPlayer->CurrentPTS(), 2000000);
    EXPECT_GT(played, 3.4);
    FPlayer->Stop(true);
    // Between 0.5 s and 3 s of wall clock the position rose half as fast.
    ASSERT_FALSE(paced.empty());
    const auto at = [&](double seconds) {
        for (const auto& [t, pts] : paced)
            if (t >= seconds)
                return std::pair{t, pts};
        return paced.back();
    };
    const auto [t1, p1] = at(0.5);
    const auto [t2, p2] = at(3.0);
    ASSERT_GT(t2, t1);
    EXPECT_NEAR(double(p2 - p1) / 1e6 / (t2 - t1), 0.5, 0.15);

    // Twice as many samples were played, at the song's pitch: not a tone an octave down.
    const std::vector<int16_t> out = ReadSamples(FOutput);
    const double span = double(LastNonZero(out) - FirstNonZero(out)) / 44100;
    EXPECT_NEAR(span, 4.0, 0.2);
    EXPECT_NEAR(Frequency(out, 44100), 441.0, 441.0 * 0.03);

    // Back at the normal speed, playing starts from where it is heard.
    FPlayer->SetTempo(1.0);
    FStates.clear();
    wall.restart();
    ASSERT_TRUE(FPlayer->Open(song, 0, false));
    ASSERT_TRUE(PumpUntil([&] { return Count(psEnd) > 0; }, 15000));
    EXPECT_LT(wall.nsecsElapsed() / 1e9, 3.0);
}

TEST_F(PlayerTest, ASpeedChangeWhilePlayingGoesOnFromThePositionHeard) {
    const QString song = MakeSong(Song("long.wav"), 10.0, 44100, 2);
    ASSERT_TRUE(FPlayer->Open(song, 0, false));
    ASSERT_TRUE(PumpUntil([&] { return FPlayer->CurrentPTS() >= 1000000; }, 5000));
    FPlayer->SetTempo(0.75);
    EXPECT_EQ(FPlayer->Tempo(), 0.75);
    PumpEvents(50);
    const int64_t from = FPlayer->CurrentPTS();
    EXPECT_GE(from, 1000000); // no jump back to the start
    EXPECT_LT(from, 1400000);
    QElapsedTimer wall;
    wall.start();
    PumpEvents(1500);
    const double rate = double(FPlayer->CurrentPTS() - from) / 1e6 / (wall.nsecsElapsed() / 1e9);
    EXPECT_NEAR(rate, 0.75, 0.15);
    // Limited to the speeds the filter is used for.
    FPlayer->SetTempo(0.1);
    EXPECT_EQ(FPlayer->Tempo(), TFFPlayer::MinTempo);
}

TEST_F(PlayerTest, PlayTimeStopsOrLoops) {
    const QString song = MakeSong(Song("song.wav"), 3.0, 44100, 1);
    FPlayer->SetPlayTime(300000);
    FPlayer->SetRepeatType(rtStop);
    ASSERT_TRUE(FPlayer->Open(song, 0, false));
    ASSERT_TRUE(PumpUntil([&] { return Count(psStop) == 1; }, 5000));
    EXPECT_GE(FPlayer->CurrentPTS(), 300000);
    EXPECT_LT(FPlayer->CurrentPTS(), 600000);

    FPositions.clear();
    FPlayer->SetRepeatType(rtLoop);
    FPlayer->set_start_time(1000000);
    ASSERT_TRUE(FPlayer->Open(song, 0, false));
    PumpEvents(1200);
    FPlayer->Stop(true);
    // Every position lies between the start and a little beyond start + play time, and
    // the song went back to the start at least twice.
    int rewinds = 0;
    for (size_t i = 0; i < FPositions.size(); ++i) {
        EXPECT_GE(FPositions[i], 1000000);
        EXPECT_LT(FPositions[i], 1400000);
        rewinds += i > 0 && FPositions[i] < FPositions[i - 1];
    }
    EXPECT_GE(rewinds, 2);
}

// A song whose first stream is its cover picture plays its first sound stream, also
// when a later one is marked as the default.
TEST_F(PlayerTest, PlaysTheFirstSoundStreamAfterACover) {
    const QString cover = Song("cover.png");
    QImage picture(100, 100, QImage::Format_RGB32);
    picture.fill(Qt::magenta);
    ASSERT_TRUE(picture.save(cover));
    const QString song = Song("cover-first.mka");
    QProcess ffmpeg;
    ffmpeg.start(QStringLiteral("ffmpeg"), {"-nostdin",
                                            "-v",
                                            "error",
                                            "-y",
                                            "-i",
                                            cover,
                                            "-f",
                                            "lavfi",
                                            "-i",
                                            "sine=frequency=441:sample_rate=22050:duration=0.5",
                                            "-f",
                                            "lavfi",
                                            "-i",
                                            "sine=frequency=1000:sample_rate=48000:duration=0.5",
                                            "-map",
                                            "0:v",
                                            "-map",
                                            "1:a",
                                            "-map",
                                            "2:a",
                                            "-ac:a:1",
                                            "2",
                                            "-c:v",
                                            "mjpeg",
                                            "-c:a",
                                            "pcm_s16le",
                                            "-disposition:v",
                                            "attached_pic",
                                            "-disposition:a:0",
                                            "0",
                                            "-disposition:a:1",
                                            "default",
                                            song});
    ASSERT_TRUE(ffmpeg.waitForFinished(30000));
    ASSERT_EQ(ffmpeg.exitCode(), 0) << ffmpeg.readAllStandardError().toStdString();

    ASSERT_TRUE(FPlayer->Open(song, 0, false)) << FPlayer->LastErrMsg().toStdString();
    EXPECT_EQ(FPlayer->AudioSampleRate(), 22050);
    EXPECT_EQ(FPlayer->AudioChannels(), 1);
    ASSERT_TRUE(PumpUntil([&] { return Count(psEnd) > 0; }, 10000));
    FPlayer->Stop(true);
    const std::vector<int16_t> played = ReadSamples(FOutput);
    const size_t p0 = FirstNonZero(played);
    ASSERT_LT(p0, played.size()) << "nothing was played";
    // Half a second of the 22050 Hz mono tone, within one buffer.
    EXPECT_NEAR(double(LastNonZero(played) - p0 + 1), 22050 / 2.0, 1024);
}

TEST_F(PlayerTest, OpenFailuresLeaveTheirMessage) {
    EXPECT_FALSE(FPlayer->Open(Song("missing.wav"), 0, true));
    EXPECT_TRUE(FPlayer->LastErrMsg().startsWith(Song("missing.wav") + QStringLiteral(": ")))
        << FPlayer->LastErrMsg().toStdString();

    FPlayer->SetDisableAudio(true);
    const QString song = MakeSong(Song("song.wav"), 0.2, 44100, 1);
    EXPECT_FALSE(FPlayer->Open(song, 0, true));
    EXPECT_EQ(FPlayer->LastErrMsg(),
              song + QStringLiteral(": could not open codecs, no stream to play."));
    FPlayer->SetDisableAudio(false);

    // A server that accepts the connection but never sends anything.
    const int server = socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_GE(server, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(bind(server, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(listen(server, 4), 0);
    socklen_t length = sizeof address;
    getsockname(server, reinterpret_cast<sockaddr*>(&address), &length);
    FPlayer->SetReadTimeout(300);
    EXPECT_FALSE(
        FPlayer->Open(QStringLiteral("tcp://127.0.0.1:%1").arg(ntohs(address.sin_port)), 0, true));
    EXPECT_EQ(FPlayer->LastErrMsg(), QStringLiteral("connecting/reading timeout"));
    close(server);

    TFFPlayer unloaded;
    EXPECT_FALSE(unloaded.Open(song, 0, true));
    EXPECT_EQ(unloaded.LastErrMsg(), QStringLiteral("sdl not loaded."));
}

TEST_F(PlayerTest, OneSDLFilePerProcess) {
    QTemporaryDir a, b;
    const QString system =
        QStringLiteral(VX_FFMPEG_LIBDIR "/") + QString::fromLatin1(SDLLibraryFileName);
    ASSERT_TRUE(QFile::link(system, a.filePath(SDLLibraryFileName)));
    ASSERT_TRUE(QFile::link(system, b.filePath(SDLLibraryFileName)));
    FPlayer.reset(); // lets go of the system SDL

    TFFPlayer first, second;
    ASSERT_TRUE(first.LoadSDLLib(a.path(), SDLLibraryFileName)) << first.LastErrMsg().toStdString();
    EXPECT_TRUE(
        second.LoadSDLLib(a.path() + QStringLiteral("/"), SDLLibraryFileName)); // the same file
    second.UnloadSDLLib();
    EXPECT_FALSE(second.LoadSDLLib(b.path(), SDLLibraryFileName));
    EXPECT_EQ(second.LastErrMsg(),
              b.path() + QStringLiteral("/libSDL2-2.0.so.0 alreay loaded in another instance."));
    EXPECT_FALSE(second.LoadAVLib(b.path(), true));
    EXPECT_EQ(second.LastErrMsg(),
              b.path() + QStringLiteral("/libSDL2-2.0.so.0 alreay loaded in another instance."));
    first.UnloadSDLLib();
    EXPECT_TRUE(second.LoadSDLLib(b.path(), SDLLibraryFileName))
        << second.LastErrMsg().toStdString();
}

TEST(PlayEventQueue, KeepsTheLatestOfAKindAndDropsTheOldest) {
    TPlayEvent queue;
    TPlayEvent::TEntry entry;
    EXPECT_FALSE(queue.Take(entry));
    EXPECT_FALSE(queue.WaitFor(0));

    // Consecutive entries of one kind collapse into the latest.
    queue.Push(TPlayEvent::ekState, psPause);
    queue.Push(TPlayEvent::ekState, psResume);
    queue.Push(TPlayEvent::ekPosition, 10);
    queue.Push(TPlayEvent::ekPosition, 20);
    queue.Push(TPlayEvent::ekState, psEnd);
    EXPECT_TRUE(queue.WaitFor(0));
    std::vector<std::pair<int, int64_t>> taken;
    while (queue.Take(entry))
        taken.push_back({entry.Kind, entry.Value});
    EXPECT_EQ(taken, (std::vector<std::pair<int, int64_t>>{{TPlayEvent::ekState, psResume},
                                                           {TPlayEvent::ekPosition, 20},
                                                           {TPlayEvent::ekState, psEnd}}));
    EXPECT_FALSE(queue.WaitFor(0)); // taking the last entry resets the event

    // Alternating kinds fill the ring; the oldest are dropped.
    for (int i = 0; i < 14; ++i)
        queue.Push(i % 2 ? TPlayEvent::ekState : TPlayEvent::ekPosition, i);
    EXPECT_EQ(queue.Count(), TPlayEvent::Capacity);
    ASSERT_TRUE(queue.Take(entry));
    EXPECT_EQ(entry.Value, 4);
    EXPECT_EQ(entry.Kind, TPlayEvent::ekPosition);
}
