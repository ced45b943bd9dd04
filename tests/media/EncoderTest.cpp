#include "EncodeTestSupport.h"
#include <algorithm>
#include <chrono>
#include <mutex>
#include <thread>

#include <QFileInfo>
#include <QThread>

namespace {

class EncoderTest : public TEncoderTest {
protected:
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

namespace {

// A small output of a lavfi task: mpeg4 in MP4 without sound.
TOutputOptions SmallMp4() {
    TOutputOptions out;
    InitOutputOptions(&out);
    out.VideoCodec = QStringLiteral("mpeg4");
    out.DisableAudio = true;
    return out;
}

// Adds `count` tasks of a lavfi picture, each into "<prefix><i>.mp4" of the sandbox;
// false (with the failure recorded) when one is refused.
bool AddSmallTasks(TCustomEncoder& encoder, const TSandbox& sandbox, int count,
                   const QString& prefix, int seconds = 1,
                   const QString& size = QStringLiteral("160x120")) {
    for (int i = 0; i < count; ++i) {
        TInputOptions in = LavfiInput();
        const int task = encoder.AddTask(TestPicture(seconds, 25, size), &in);
        TOutputOptions out = SmallMp4();
        if (task != i ||
            !encoder.SetOutputFile(
                task, sandbox.File(prefix + QString::number(i) + QStringLiteral(".mp4")), &out)) {
            ADD_FAILURE() << "task " << i << ": " << encoder.LastErrMsg().toStdString();
            return false;
        }
    }
    return true;
}

} // namespace

TEST_F(EncoderTest, TasksRunInTurnAndTheListEndComesLast) {
    Terminates.Connect(Encoder);
    ASSERT_TRUE(AddSmallTasks(Encoder, Sandbox, 3, QStringLiteral("t")));
    Encoder.Start(1);
    EXPECT_TRUE(Encoder.Working());
    ASSERT_TRUE(RunToEnd());
    PumpEvents(100); // nothing more may come
    ASSERT_EQ(Terminates.Events.size(), 4u);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(Terminates.Events[size_t(i)].TaskIndex, i);
        EXPECT_TRUE(Terminates.Events[size_t(i)].Finished);
        EXPECT_EQ(ProbeFile(Sandbox.File(QStringLiteral("t%1.mp4").arg(i)))
                      .First(QStringLiteral("video"))
                      ->Frames,
                  25);
    }
    EXPECT_EQ(Terminates.Events[3].TaskIndex, -1);
    EXPECT_TRUE(Terminates.Events[3].Finished);
    for (bool onMain : Terminates.OnMainThread)
        EXPECT_TRUE(onMain);
    EXPECT_TRUE(Encoder.Terminated());
    EXPECT_TRUE(Encoder.Working()); // until ClearTasks

    // After the end every task call is refused until ClearTasks.
    TInputOptions in = LavfiInput();
    try {
        Encoder.AddTask(TestPicture(1), &in);
        ADD_FAILURE() << "AddTask was accepted after the list ended";
    } catch (const EFFError& error) {
        EXPECT_EQ(error.Message(), QStringLiteral("Cannot AddTask while working."));
    }
    EXPECT_THROW(Encoder.RemoveTask(0), EFFError);
    EXPECT_THROW(Encoder.Start(1), EFFError);
    Encoder.ClearTasks();
    EXPECT_FALSE(Encoder.Working());
    EXPECT_EQ(Encoder.TasksCount(), 0);
    EXPECT_GE(Encoder.AddTask(TestPicture(1), &in), 0);
}

TEST_F(EncoderTest, TerminateEventsOffTheMainThreadKeepTheOrderOfTheEnds) {
    Encoder.TriggerEventInMainThread = false;
    std::mutex lock;
    std::vector<int> order;
    std::atomic<int> delivered{0};
    std::atomic<bool> onMain{false};
    Encoder.SetOnTerminate([&](QObject*, const TTerminateInfo& info) {
        onMain = onMain || IsMainThread();
        // a slow handler for the first task: the later ends must wait for it
        if (info.TaskIndex == 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
        std::lock_guard guard(lock);
        order.push_back(info.TaskIndex);
        ++delivered;
    });
    ASSERT_TRUE(AddSmallTasks(Encoder, Sandbox, 3, QStringLiteral("o")));
    Encoder.Start(1);
    ASSERT_TRUE(PumpUntil([&] { return delivered == 4; }, 60000));
    EXPECT_EQ(order, (std::vector<int>{0, 1, 2, -1}));
    EXPECT_FALSE(onMain);
}

TEST_F(EncoderTest, SynchronousStartRaisesEveryEventBeforeItReturns) {
    Terminates.Connect(Encoder);
    std::vector<int> progressTasks;
    Encoder.SetOnProgress(
        [&](QObject*, TProgressInfo* info) { progressTasks.push_back(info->TaskIndex); });
    ASSERT_TRUE(AddSmallTasks(Encoder, Sandbox, 2, QStringLiteral("s")));
    Encoder.Start(0);
    ASSERT_EQ(Terminates.Events.size(), 3u);
    EXPECT_EQ(Terminates.Events[0].TaskIndex, 0);
    EXPECT_EQ(Terminates.Events[1].TaskIndex, 1);
    EXPECT_EQ(Terminates.Events[2].TaskIndex, -1);
    for (bool onMain : Terminates.OnMainThread)
        EXPECT_TRUE(onMain);
    EXPECT_TRUE(Encoder.Terminated());
    // the last report of each task
    EXPECT_NE(std::find(progressTasks.begin(), progressTasks.end(), 0), progressTasks.end());
    EXPECT_NE(std::find(progressTasks.begin(), progressTasks.end(), 1), progressTasks.end());
}

// A handler that stops the list from inside a run without threads: the tasks not yet
// started end unstarted, each reported once and in turn, and Start returns.
TEST_F(EncoderTest, StopFromATerminateHandlerOfASynchronousRunEndsTheRestUnstarted) {
    std::vector<TTerminateInfo> events;
    Encoder.SetOnTerminate([&](QObject*, const TTerminateInfo& info) {
        events.push_back(info);
        if (info.TaskIndex == 0)
            Encoder.Stop(true);
    });
    ASSERT_TRUE(AddSmallTasks(Encoder, Sandbox, 3, QStringLiteral("h")));
    Encoder.Start(0);
    ASSERT_EQ(events.size(), 4u);
    EXPECT_EQ(events[0].TaskIndex, 0);
    EXPECT_TRUE(events[0].Finished);
    for (int i = 1; i < 3; ++i) {
        EXPECT_EQ(events[size_t(i)].TaskIndex, i);
        EXPECT_FALSE(events[size_t(i)].Finished);
    }
    EXPECT_EQ(events[3].TaskIndex, -1);
    EXPECT_TRUE(Encoder.Terminated());
    EXPECT_FALSE(QFileInfo::exists(Sandbox.File(QStringLiteral("h1.mp4"))) &&
                 QFileInfo(Sandbox.File(QStringLiteral("h1.mp4"))).size() > 0);
}

TEST_F(EncoderTest, StartWithoutTasksRaisesNothingAndStaysWorking) {
    Terminates.Connect(Encoder);
    Encoder.Start(1);
    PumpEvents(100);
    EXPECT_TRUE(Terminates.Events.empty());
    EXPECT_TRUE(Encoder.Working());
    EXPECT_THROW(Encoder.ClearTasks(), EFFError); // not ended yet
    Encoder.Stop(true);
}

TEST_F(EncoderTest, StopDuringTheFirstOfThreeEndsAllAndKeepsTheFirstFilePlayable) {
    Terminates.Connect(Encoder);
    std::atomic<int> reports{0};
    std::vector<int> lastFileIndex;
    Encoder.SetOnProgress([&](QObject*, TProgressInfo* info) {
        ++reports;
        lastFileIndex.push_back(info->FileIndex);
    });
    Encoder.SetProgressInterval(100);
    ASSERT_TRUE(
        AddSmallTasks(Encoder, Sandbox, 3, QStringLiteral("x"), 120, QStringLiteral("640x480")));
    Encoder.Start(1);
    ASSERT_TRUE(PumpUntil([&] { return reports >= 2; }, 30000));
    Encoder.Stop(true);
    ASSERT_TRUE(RunToEnd(20000));
    PumpEvents(100);
    ASSERT_EQ(Terminates.Events.size(), 4u);
    // Every task reports its end once, in the order they ended: the running one first,
    // then the two that never started, then the end of the list.
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(Terminates.Events[size_t(i)].TaskIndex, i);
        EXPECT_FALSE(Terminates.Events[size_t(i)].Finished);
        EXPECT_FALSE(Terminates.Events[size_t(i)].Exception);
    }
    EXPECT_EQ(Terminates.Events[3].TaskIndex, -1);
    EXPECT_EQ(lastFileIndex.back(), -1); // the stopped task's last report
    // the trailer was written: the file decodes, with part of its 3000 frames
    const TProbe probe = ProbeFile(Sandbox.File(QStringLiteral("x0.mp4")));
    ASSERT_TRUE(probe.Ok);
    const int frames = probe.First(QStringLiteral("video"))->Frames;
    EXPECT_GT(frames, 0);
    EXPECT_LT(frames, 3000);
    EXPECT_FALSE(
        QFileInfo::exists(Sandbox.File(QStringLiteral("x1.mp4"))) &&
        ProbeFile(Sandbox.File(QStringLiteral("x1.mp4"))).First(QStringLiteral("video")) &&
        ProbeFile(Sandbox.File(QStringLiteral("x1.mp4"))).First(QStringLiteral("video"))->Frames >
            0);
}

TEST_F(EncoderTest, RefusalsAndLimitsOfTaskCalls) {
    Encoder.SetProgressInterval(50);
    EXPECT_EQ(Encoder.ProgressInterval(), 100);
    Encoder.SetProgressInterval(1000);
    EXPECT_EQ(Encoder.ProgressInterval(), 1000);

    TInputOptions in;
    InitInputOptions(&in);
    EXPECT_EQ(Encoder.AddTask(Sandbox.File(QStringLiteral("missing.mp4")), &in), -1);
    EXPECT_EQ(Encoder.TasksCount(), 0);
    EXPECT_TRUE(Encoder.LastErrMsg().contains(QStringLiteral("missing.mp4")));
    EXPECT_EQ(in.FileName, Sandbox.File(QStringLiteral("missing.mp4"))); // filled in

    Encoder.CustomMaxFiles = 2;
    TInputOptions lavfi = LavfiInput();
    const int task = Encoder.AddTask(TestPicture(1), &lavfi);
    ASSERT_GE(task, 0);
    TInputOptions second = LavfiInput();
    EXPECT_TRUE(Encoder.AddInputFile(task, TestSound(1), &second));
    TInputOptions third = LavfiInput();
    EXPECT_FALSE(Encoder.AddInputFile(task, TestSound(1), &third));
    EXPECT_EQ(Encoder.LastErrMsg(), QStringLiteral("max input files 2 reached"));
    EXPECT_THROW(Encoder.RemoveTask(5), EFFError);
}
