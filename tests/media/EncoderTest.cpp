#include "EncodeTestSupport.h"

#include <QFileInfo>
#include <QThread>

namespace {

class EncoderTest : public TMediaTest {
protected:
    TSandbox Sandbox;
    TFFEncoder Encoder;
    TTerminateLog Terminates;

    void TearDown() override {
        Encoder.Stop(true);
        PumpUntil([&] { return !Encoder.Working() || Encoder.Terminated(); }, 20000);
        Encoder.ClearTasks();
        TMediaTest::TearDown();
    }

    // A task of a lavfi picture and a lavfi sound.
    int AddPictureAndSound(int seconds, int rate = 25) {
        TInputOptions in = LavfiInput();
        const int task = Encoder.AddTask(TestPicture(seconds, rate), &in);
        EXPECT_GE(task, 0) << Encoder.LastErrMsg().toStdString();
        TInputOptions sound = LavfiInput();
        EXPECT_TRUE(Encoder.AddInputFile(task, TestSound(seconds), &sound))
            << Encoder.LastErrMsg().toStdString();
        return task;
    }
    bool RunToEnd(int timeoutMs = 60000) {
        return PumpUntil([&] { return Terminates.ListEnded(); }, timeoutMs);
    }
};

} // namespace

TEST_F(EncoderTest, RecordingPresetsMakeFilesThatDecodeWithTheirStreams) {
    struct TCase {
        const char* Ext;
        const char* VideoCodec;
        const char* AudioCodec;
        const char* Extra;
        const char* ProbedVideo;
        const char* ProbedAudio;
    };
    const TCase cases[] = {
        {"mp4", "mpeg4", "aac", "astrict=experimental", "mpeg4", "aac"},
        {"wmv", "wmv2", "wmav2", "", "wmv2", "wmav2"},
        {"avi", "mpeg4", "libmp3lame", "", "mpeg4", "mp3"},
        {"mov", "mpeg4", "aac", "astrict=experimental", "mpeg4", "aac"},
    };
    Terminates.Connect(Encoder);
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Ext);
        Encoder.ClearTasks();
        Terminates.Events.clear();
        const int task = AddPictureAndSound(2, 15);
        TOutputOptions out;
        InitOutputOptions(&out);
        out.VideoCodec = QString::fromLatin1(c.VideoCodec);
        out.AudioCodec = QString::fromLatin1(c.AudioCodec);
        out.FrameSize = QStringLiteral("640x360");
        out.FrameRate = QStringLiteral("15");
        out.VideoBitrate = 800000;
        out.AudioBitrate = 128000;
        out.AudioSampleRate = 44100;
        out.AudioChannels = 2;
        out.ExtOptions = QString::fromLatin1(c.Extra);
        const QString file = Sandbox.File(QStringLiteral("out.") + QLatin1String(c.Ext));
        ASSERT_TRUE(Encoder.SetOutputFile(task, file, &out)) << Encoder.LastErrMsg().toStdString();
        Encoder.Start(1);
        ASSERT_TRUE(RunToEnd());
        ASSERT_EQ(Terminates.Events.size(), 2u);
        EXPECT_TRUE(Terminates.Events[0].Finished);
        EXPECT_FALSE(Terminates.Events[0].Exception)
            << Terminates.Events[0].ExceptionMsg.toStdString();

        const TProbe probe = ProbeFile(file);
        ASSERT_TRUE(probe.Ok);
        const TProbedStream* video = probe.First(QStringLiteral("video"));
        const TProbedStream* audio = probe.First(QStringLiteral("audio"));
        ASSERT_TRUE(video && audio);
        EXPECT_EQ(video->CodecName, QLatin1String(c.ProbedVideo));
        EXPECT_EQ(audio->CodecName, QLatin1String(c.ProbedAudio));
        EXPECT_EQ(video->Width, 640);
        EXPECT_EQ(video->Height, 360);
        EXPECT_NEAR(video->FrameRate, 15.0, 0.01);
        EXPECT_EQ(video->Frames, 30); // 2 s at 15 frames/s
        EXPECT_EQ(audio->SampleRate, 44100);
        EXPECT_EQ(audio->Channels, 2);
        EXPECT_NEAR(probe.Duration, 2.0, 1.0 / 15 + 0.05);
    }
}
