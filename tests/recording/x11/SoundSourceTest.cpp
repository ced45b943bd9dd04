// The three sound sources of a recording, through a private PulseAudio server whose
// output plays one tone while its recording device carries another.
#include "PulseSoundServer.h"
#include "RecordingMedia.h"
#include "RecordingRun.h"
#include "StepMarks.h"
#include "media/FFEncode.h"
#include "recording/RecordingSession.h"
#include "support/Sandbox.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QProcess>

#include <atomic>
#include <cmath>
#include <cstdio>
#include <memory>
#include <optional>

namespace {

// A recording of the screen's top left 160 × 120 pixels with the sound from `source`.
TRecordingRequest SmallRecording(const QString& file, TSoundSource source) {
    TRecordingRequest request;
    request.Area = QRect(0, 0, 160, 120);
    request.FrameSize = QStringLiteral("160*120");
    request.FileName = file;
    request.Source = source;
    return request;
}

class SoundSourceTest : public ::testing::Test {
protected:
    TSandbox Box;
    std::optional<TPulseSoundServer> Server;

    // The sound server's modules.
    virtual QStringList Modules() const { return TPulseSoundServer::TwoTones(); }

    void SetUp() override {
        Server.emplace(Modules());
        ASSERT_EQ(Server->Error(), QString());
        Server->UseInThisProcess();
    }

    // Records about `ms` milliseconds with the sound from `source`, pausing for
    // `pauseMs` in the middle when not 0; the file's path.
    QString Record(const QString& name, TSoundSource source, int ms, int pauseMs = 0) {
        const QString file = Box.File(name);
        RunRecording(
            SmallRecording(file, source),
            [ms, pauseMs](TFFEncoder& encoder, std::atomic<bool>& paused) {
                if (pauseMs == 0) {
                    PumpEvents(ms);
                    return;
                }
                PumpEvents(ms / 2);
                encoder.Pause();
                paused = true;
                PumpEvents(pauseMs);
                encoder.Resume();
                paused = false;
                PumpEvents(ms - ms / 2);
            },
            15000);
        return file;
    }
};

// Each choice records the right tone or tones: the microphone's alone, the output's
// alone, or both in one track, and a pause in the middle leaves the sound as long as the
// pictures. Tones are told apart by their levels at the two frequencies over the second
// second of the sound (the first may begin with sound the recording device held before
// the recording).
TEST_F(SoundSourceTest, EachSourceRecordsItsTones) {
    const struct {
        TSoundSource Source;
        bool Microphone, Output;
    } cases[] = {{ssMicrophone, true, false}, {ssSystem, false, true}, {ssBoth, true, true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(int(c.Source));
        const QString file =
            Record(QStringLiteral("s%1.mp4").arg(int(c.Source)), c.Source, 5000, 1000);
        EXPECT_EQ(Probe(file, "stream=codec_type"), QStringLiteral("video\naudio"));
        const std::vector<int16_t> sound = DecodeSound(file);
        ASSERT_GE(sound.size(), size_t(ToneRate * 2));
        EXPECT_NEAR(double(sound.size()) / ToneRate,
                    Probe(file, "stream=nb_read_frames", "v:0").toDouble() / 15, 0.3);
        const double microphone =
            ToneLevel(sound, ToneRate, ToneRate, TPulseSoundServer::MicrophoneHz);
        const double output = ToneLevel(sound, ToneRate, ToneRate, TPulseSoundServer::OutputHz);
        // Each tone on its own is at half the sample range.
        if (c.Microphone)
            EXPECT_GT(microphone, 4000);
        else
            EXPECT_LT(microphone, 300);
        if (c.Output)
            EXPECT_GT(output, 4000);
        else
            EXPECT_LT(output, 300);
    }
}

// "麦克风和电脑声音" whose output goes away mid-recording (its module is unloaded, as
// when a USB headset is unplugged; its tone first, so that it is not moved to another
// output): the recording goes on with the microphone alone, to the end, and the monitor
// is not moved to another device (the microphone's would then sound twice as loud).
TEST_F(SoundSourceTest, BothSourcesGoOnWithTheMicrophoneWhenTheOutputGoes) {
    const QString file = Box.File(QStringLiteral("gone.mp4"));
    RunRecording(
        SmallRecording(file, ssBoth),
        [](TFFEncoder&, std::atomic<bool>&) {
            PumpEvents(3000);
            QProcess list;
            list.start(QStringLiteral("pactl"), {QStringLiteral("list"), QStringLiteral("short"),
                                                 QStringLiteral("modules")});
            ASSERT_TRUE(list.waitForFinished(5000)) << "pactl (pulseaudio-utils) is missing";
            QString tone, output;
            for (const QString& line : QString::fromUtf8(list.readAll()).split(QLatin1Char('\n'))) {
                if (line.contains(QLatin1String("module-sine\tsink=out ")))
                    tone = line.section(QLatin1Char('\t'), 0, 0);
                if (line.contains(QLatin1String("module-null-sink\tsink_name=out ")))
                    output = line.section(QLatin1Char('\t'), 0, 0);
            }
            ASSERT_FALSE(tone.isEmpty() || output.isEmpty());
            for (const QString& module : {tone, output})
                EXPECT_EQ(QProcess::execute(QStringLiteral("pactl"),
                                            {QStringLiteral("unload-module"), module}),
                          0);
            PumpEvents(3000);
        },
        15000);
    const std::vector<int16_t> sound = DecodeSound(file);
    const double pictures = Probe(file, "stream=nb_read_frames", "v:0").toDouble() / 15;
    EXPECT_GT(pictures, 5);
    EXPECT_NEAR(double(sound.size()) / ToneRate, pictures, 0.3);
    ASSERT_GE(sound.size(), size_t(ToneRate * 5));
    using Server = TPulseSoundServer;
    EXPECT_GT(ToneLevel(sound, ToneRate, ToneRate, Server::OutputHz), 4000);
    const double microphone = ToneLevel(sound, ToneRate, ToneRate, Server::MicrophoneHz);
    EXPECT_GT(microphone, 4000);
    EXPECT_LT(ToneLevel(sound, 4 * ToneRate, ToneRate, Server::OutputHz), 300);
    const double microphoneAlone = ToneLevel(sound, 4 * ToneRate, ToneRate, Server::MicrophoneHz);
    EXPECT_GT(microphoneAlone, 4000);
    EXPECT_LT(microphoneAlone, microphone * 1.4);
}

// The output's right channel is also the microphone: beeps played on both channels at
// once reach the recording through both sources, 440 Hz through the output's monitor
// only and 1000 Hz through the microphone as well.
class SoundSourcesInStepTest : public SoundSourceTest {
protected:
    QStringList Modules() const override {
        return {QStringLiteral("module-null-sink sink_name=out "
                               "sink_properties=device.description=Speakers"),
                QStringLiteral("module-remap-source source_name=mic master=out.monitor "
                               "channels=1 master_channel_map=front-right channel_map=mono "
                               "remix=no")};
    }

    // Plays `seconds` of beeps (BeepTrack) into the output, timed on `clock`, once the
    // clock has shown for a moment; returns when the player has been playing for a second.
    std::unique_ptr<TTrackPlayer> PlayBeeps(const TScreenClock& clock, int seconds) {
        PumpEvents(300);
        const QString track = Box.File(QStringLiteral("beeps.raw"));
        QFile file(track);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        EXPECT_EQ(file.write(BeepTrack(seconds, 0.5)), qint64(seconds) * ToneRate * 4);
        file.close();
        auto player = std::make_unique<TTrackPlayer>(clock, track, QStringLiteral("out"));
        EXPECT_TRUE(player->Started()) << "pacat (pulseaudio-utils) is missing";
        PumpEvents(1000);
        return player;
    }
};

// Both sources over a long recording, with a clock on the screen and beeps played once
// a second into the output, whose right channel is also the microphone: the monitor and
// the microphone hear each beep at the same moment. On the track's left channel the
// output's beeps sound at 440 Hz and the microphone's at 1000 Hz.
// Every beep of one source must come within 20 ms of the other's, and every beep must
// keep its distance to the clock the pictures show, within 20 ms of the usual one:
// neither the sources nor the sound and the pictures drift apart or jump. The usual
// distance itself is bounded more loosely (0.1 s): it holds the latencies of the
// player's own timing reports and of the clock's painting, which this measure cannot
// tell apart from the recording's. Onsets are found to about 2 ms (1 ms steps of 10 ms
// windows) and the clock shows 5 ms steps, so the limits are 22 ms between the sources
// and 25 ms to the clock. A loaded machine may starve the sound server or the screen
// grabs for a moment, so one beep in twenty may miss, or stray from the clock.
TEST_F(SoundSourcesInStepTest, BothSourcesStayInStepWithEachOtherAndThePictures) {
    TScreenClock clock;
    const std::unique_ptr<TTrackPlayer> beeps = PlayBeeps(clock, 80);
    ASSERT_FALSE(HasFailure());
    const TTrackPlayer& player = *beeps;
    const QString file = Record(QStringLiteral("long.mp4"), ssBoth, 60000);
    ASSERT_TRUE(player.Timed()) << "pacat reported no time";

    const std::vector<int16_t> sound = DecodeSound(file, 2);
    const double soundStart = Probe(file, "stream=start_time", "a:0").toDouble();
    const double seconds = double(sound.size()) / 2 / ToneRate;
    const double pictures = Probe(file, "stream=nb_read_frames", "v:0").toDouble() / 15;
    EXPECT_GT(seconds, 55);
    EXPECT_NEAR(pictures, seconds, 0.3);
    std::vector<int16_t> left(sound.size() / 2);
    for (size_t i = 0; i < left.size(); ++i)
        left[i] = sound[2 * i];
    const std::vector<double> output = BeepOnsets(left, 440);
    const std::vector<double> microphone = BeepOnsets(left, 1000);
    const size_t due = size_t(seconds) - 2;
    const size_t most = due * 19 / 20;
    EXPECT_GE(output.size(), most);
    EXPECT_GE(microphone.size(), most);

    const TStepFigures apart(PairedDistances(output, microphone, 0.25));
    std::printf("microphone after output: %s\n", apart.Text().c_str());
    EXPECT_EQ(apart.Within(0, 0.022), apart.Values.size());

    // Each beep against the screen clock: the clock at the beep's place in the file less
    // the moment the nearest beep was played by the player's reports, taken on a circle
    // of one second.
    const std::vector<TClockPicture> shown = ReadClockPictures(file);
    ASSERT_FALSE(shown.empty());
    // How far the clock the pictures show runs ahead of their place in the file, every
    // five seconds: when a beep strays, this tells whether the pictures moved.
    std::printf("pictures ahead of the file:");
    for (double at = 2.5; at < seconds; at += 5)
        std::printf(" %.1f", (ClockAt(shown, at) - at) * 1000);
    std::printf(" ms\n");
    for (const auto& [name, onsets] : {std::pair{"output", &output}, {"microphone", &microphone}}) {
        std::vector<double> late;
        for (const double onset : *onsets) {
            const double clockThen = ClockAt(shown, onset + soundStart);
            const double beep = std::round(clockThen - player.PlayedAt(0.5) - 0.5) + 0.5;
            late.push_back(clockThen - player.PlayedAt(beep));
        }
        const TStepFigures toClock(AroundOneValue(late));
        std::printf("%s beeps after the clock: %s\n", name, toClock.Text().c_str());
        EXPECT_GE(toClock.Within(toClock.Median, 0.025), most) << name;
        EXPECT_LT(std::abs(toClock.Median), 0.1) << name;
        for (size_t i = 0; i < late.size(); ++i)
            if (std::abs(toClock.Values[i] - toClock.Median) > 0.025)
                std::printf("%s beep at %.3f s: %+.1f ms from the usual distance\n", name,
                            (*onsets)[i], (toClock.Values[i] - toClock.Median) * 1000);
    }
}

// Pauses of different lengths, with the clock on the screen and a beep a second played
// into the output: after each pause the beeps keep the distance to the clock the
// pictures show that they had before the first pause. A pause that cut the sound and the
// pictures by different lengths would move every later beep against the pictures, and
// several pauses would add up. The limit, 40 ms, is below one picture's time (67 ms)
// and above what the measure itself varies by with two or three beeps a stretch (onsets
// to about 2 ms, the clock in 5 ms steps, pictures a few ms after their time).
TEST_F(SoundSourcesInStepTest, PausesKeepTheSoundInStepWithThePictures) {
    TScreenClock clock;
    const std::unique_ptr<TTrackPlayer> beeps = PlayBeeps(clock, 40);
    ASSERT_FALSE(HasFailure());
    const TTrackPlayer& player = *beeps;
    const QString file = Box.File(QStringLiteral("paused.mp4"));
    const int stretchMs = 5000, pausesMs[] = {1300, 870, 1730};
    RunRecording(
        SmallRecording(file, ssSystem),
        [&](TFFEncoder& encoder, std::atomic<bool>& paused) {
            for (const int pauseMs : pausesMs) {
                PumpEvents(stretchMs);
                encoder.Pause();
                paused = true;
                PumpEvents(pauseMs);
                encoder.Resume();
                paused = false;
            }
            PumpEvents(stretchMs);
        },
        15000);
    ASSERT_TRUE(player.Timed()) << "pacat reported no time";

    const std::vector<int16_t> sound = DecodeSound(file);
    const double soundStart = Probe(file, "stream=start_time", "a:0").toDouble();
    const std::vector<std::vector<TClockPicture>> stretches =
        SplitAtPauses(ReadClockPictures(file));
    ASSERT_EQ(stretches.size(), std::size(pausesMs) + 1);
    // Each beep well inside a stretch, against the clock of its own stretch.
    std::vector<std::vector<double>> late(stretches.size());
    for (const double onset : BeepOnsets(sound, 440)) {
        const double at = onset + soundStart;
        for (size_t i = 0; i < stretches.size(); ++i) {
            if (at < stretches[i].front().At + 0.5 || at > stretches[i].back().At - 0.5)
                continue;
            const double clockThen = ClockAt(stretches[i], at);
            const double beep = std::round(clockThen - player.PlayedAt(0.5) - 0.5) + 0.5;
            late[i].push_back(clockThen - player.PlayedAt(beep));
        }
    }
    ASSERT_GE(late[0].size(), 2u);
    const double before = Median(AroundOneValue(late[0]));
    for (size_t i = 1; i < late.size(); ++i) {
        ASSERT_GE(late[i].size(), 2u) << "stretch " << i;
        const double after = Median(AroundOneValue(late[i]));
        std::printf("after pause %zu the beeps come %+.1f ms later against the clock\n", i,
                    (after - before) * 1000);
        EXPECT_NEAR(after, before, 0.04) << "after pause " << i;
    }
}

// "电脑声音" without a monitor (SDL's disk driver lists none) refuses the recording
// with the reason.
TEST(SoundSourceWithoutMonitor, TheRecordingIsRefused) {
    TSandbox box;
    TDiskSoundDevice device(box.File(QStringLiteral("tone.raw")), 5);
    TFFEncoder encoder;
    std::atomic<bool> paused{false};
    THandleRegistration<std::atomic<bool>> pauseHandle(&paused);
    const TRecordingRequest request =
        SmallRecording(box.File(QStringLiteral("none.mp4")), ssSystem);
    QString error;
    EXPECT_FALSE(PrepareRecording(encoder, request, pauseHandle.Handle(), &error));
    EXPECT_FALSE(error.isEmpty());
    EXPECT_EQ(encoder.TasksCount(), 0);
}

} // namespace
