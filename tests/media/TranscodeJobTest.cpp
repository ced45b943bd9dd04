#include "EncodeTestSupport.h"
#include "TestSource.h"

#include "media/InterruptCB.h"
#include "media/MainThread.h"

#include <QFileInfo>

#include <sys/resource.h>

#include <chrono>
#include <csignal>
#include <thread>

namespace {

class TranscodeJobTest : public TMediaTest {
protected:
    TSandbox Sandbox;
    TLogCapture Log;

    void SetUp() override {
        TMediaTest::SetUp();
        RegisterTestSource();
    }

    // A lavfi input of the job.
    static bool OpenLavfi(TCustomFFmpeg& job, const QString& graph) {
        job.SetExtOption(QStringLiteral("f"), QStringLiteral("lavfi"));
        return job.OpenInput(graph);
    }

    // A media file made by the ffmpeg tool: 320x240 mpeg4 at 25 pictures per second
    // with an aac sine of the same length.
    QString MakeClip(const QString& name, int seconds) {
        const QString path = Sandbox.File(name);
        EXPECT_TRUE(
            MakeFixture({QStringLiteral("-f"), QStringLiteral("lavfi"), QStringLiteral("-i"),
                         TestPicture(seconds), QStringLiteral("-f"), QStringLiteral("lavfi"),
                         QStringLiteral("-i"), TestSound(seconds), QStringLiteral("-c:v"),
                         QStringLiteral("mpeg4"), QStringLiteral("-c:a"), QStringLiteral("aac"),
                         QStringLiteral("-shortest"), path}));
        return path;
    }

    static bool LogHas(const TLogCapture& log, const QString& text) {
        for (const QString& line : log.Lines())
            if (line.contains(text))
                return true;
        return false;
    }
};

// The times (seconds) of the video frames of a file, in presentation order.
std::vector<double> VideoFrameTimes(const QString& path) {
    QProcess process;
    process.start(QStringLiteral("ffprobe"),
                  {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-select_streams"),
                   QStringLiteral("v:0"), QStringLiteral("-show_entries"),
                   QStringLiteral("frame=pts_time"), QStringLiteral("-of"),
                   QStringLiteral("csv=p=0"), path});
    process.waitForFinished(60000);
    std::vector<double> times;
    for (const QByteArray& line : process.readAllStandardOutput().split('\n'))
        if (!line.trimmed().isEmpty())
            times.push_back(line.trimmed().toDouble());
    std::sort(times.begin(), times.end());
    return times;
}

} // namespace

TEST_F(TranscodeJobTest, WithoutAnOutputTheJobEndsAtOnceWithItsMessage) {
    TFFmpeg job(nullptr, 20);
    int terminates = 0;
    job.OnTerminate = [&](TCustomFFmpeg*) { ++terminates; };
    ASSERT_TRUE(OpenLavfi(job, TestPicture(1))) << job.LastErrMsg().toStdString();
    EXPECT_FALSE(job.StartConvert(true)); // no worker
    EXPECT_EQ(terminates, 1);
    EXPECT_TRUE(job.Terminated());
    EXPECT_FALSE(job.Converting());
    EXPECT_TRUE(job.FatalException());
    EXPECT_EQ(job.FatalMessage(), QStringLiteral("At least one output file must be specified"));
    EXPECT_TRUE(LogHas(Log, QStringLiteral("At least one output file must be specified")));
    EXPECT_FALSE(job.StartConvert(true)); // an ended job does nothing
    EXPECT_EQ(terminates, 1);
}

TEST_F(TranscodeJobTest, AnInputThatCannotBeOpenedFailsAndLeavesNoInterruptFunction) {
    TFFmpeg job(nullptr, 20);
    const QString missing = Sandbox.File(QStringLiteral("nowhere/missing.mp4"));
    EXPECT_FALSE(job.OpenInput(missing));
    EXPECT_TRUE(job.LastErrMsg().startsWith(missing + QStringLiteral(": ")))
        << job.LastErrMsg().toStdString();
    EXPECT_TRUE(job.LastErrMsg().contains(QStringLiteral("No such file")));
    EXPECT_EQ(job.nb_input_files(), 0);
    EXPECT_TRUE(InterruptCB().LockList().empty());
    InterruptCB().UnlockList();

    // an unknown forced format is refused before anything is opened
    job.SetExtOption(QStringLiteral("f"), QStringLiteral("nosuchformat"));
    EXPECT_FALSE(job.OpenInput(missing));
    EXPECT_EQ(job.LastErrMsg(), QStringLiteral("Unknown input format: \"nosuchformat\""));
    EXPECT_TRUE(InterruptCB().LockList().empty());
    InterruptCB().UnlockList();
}

TEST_F(TranscodeJobTest, ABlockingOpenEndsAtTheReadTimeoutOrAtAStop) {
    {
        TFFmpeg job(nullptr, 20);
        job.ReadTimeout = 600;
        job.SetExtOption(QStringLiteral("f"), QStringLiteral("testframes"));
        const auto start = std::chrono::steady_clock::now();
        EXPECT_FALSE(job.OpenInput(QStringLiteral("block=1")));
        const auto took = std::chrono::steady_clock::now() - start;
        EXPECT_GE(took, std::chrono::milliseconds(550));
        EXPECT_LT(took, std::chrono::seconds(5));
        EXPECT_TRUE(LogHas(Log, QStringLiteral("connecting/reading/writing timeout")));
        EXPECT_FALSE(LogHas(Log, QStringLiteral("connecting/reading/writing canceled")));
        EXPECT_FALSE(job.LastErrMsg().isEmpty());
        EXPECT_TRUE(InterruptCB().LockList().empty());
        InterruptCB().UnlockList();
    }
    Log.Clear();
    {
        TFFmpeg job(nullptr, 20);
        job.ReadTimeout = 10000;
        job.SetExtOption(QStringLiteral("f"), QStringLiteral("testframes"));
        std::thread stopper([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
            job.Stop(false);
        });
        const auto start = std::chrono::steady_clock::now();
        EXPECT_FALSE(job.OpenInput(QStringLiteral("block=1")));
        const auto took = std::chrono::steady_clock::now() - start;
        stopper.join();
        EXPECT_LT(took, std::chrono::seconds(3)); // long before the 10 s limit
        EXPECT_TRUE(LogHas(Log, QStringLiteral("connecting/reading/writing canceled")));
        EXPECT_FALSE(LogHas(Log, QStringLiteral("connecting/reading/writing timeout")));
    }
}

TEST_F(TranscodeJobTest, StreamCopyWithProcessingOfDecodedFramesIsRefused) {
    const QString clip = MakeClip(QStringLiteral("clip.mp4"), 1);
    struct TCase {
        const char* Codec;
        const char* Message;
        std::function<void(TFFmpeg&)> Arrange;
    };
    const TCase cases[] = {
        {"vcodec", "-vcodec copy and VideoHook are incompatible (frames are not decoded)",
         [](TFFmpeg& job) {
             job.OnOutputVideoHook = [](TCustomFFmpeg*, QImage*, int, int64_t, bool&, bool&) {};
         }},
        {"vcodec", "-vcodec copy and FrameHook are incompatible (frames are not decoded)",
         [](TFFmpeg& job) {
             job.OnInputFrameHook = [](TCustomFFmpeg*, TAVPicture*, int, int, int, int, int64_t) {};
         }},
        {"vcodec", "-vcodec copy and PostHooks are incompatible (frames are not decoded)",
         [](TFFmpeg& job) { job.SetPostHooks(phBitmap); }},
        {"acodec", "-acodec copy and AudioHook are incompatible (frames are not decoded)",
         [](TFFmpeg& job) {
             job.OnAudioHook = [](TCustomFFmpeg*, int64_t, void*, int, int, int, int) {};
         }},
        {"acodec", "-acodec copy and -vol are incompatible (frames are not decoded)",
         [](TFFmpeg& job) { job.SetExtOption(QStringLiteral("vol"), QStringLiteral("128")); }},
    };
    int n = 0;
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Message);
        TFFmpeg job(nullptr, 20);
        ASSERT_TRUE(job.OpenInput(clip)) << job.LastErrMsg().toStdString();
        c.Arrange(job);
        job.SetExtOption(QLatin1String(c.Codec), QStringLiteral("copy"));
        const QString out = Sandbox.File(QStringLiteral("copy%1.mp4").arg(n++));
        ASSERT_GE(job.OpenOutput(out, false), 1) << job.LastErrMsg().toStdString();
        bool ended = false;
        job.OnTerminate = [&](TCustomFFmpeg*) { ended = true; };
        EXPECT_FALSE(job.StartConvert(false));
        EXPECT_TRUE(ended);
        EXPECT_TRUE(job.FatalException());
        EXPECT_FALSE(job.Finished());
        EXPECT_EQ(job.FatalMessage(), QLatin1String(c.Message));
    }

    // without processing, the copy goes through
    TFFmpeg job(nullptr, 20);
    ASSERT_TRUE(job.OpenInput(clip));
    job.SetExtOption(QStringLiteral("vcodec"), QStringLiteral("copy"));
    job.SetExtOption(QStringLiteral("acodec"), QStringLiteral("copy"));
    const QString out = Sandbox.File(QStringLiteral("copied.mp4"));
    ASSERT_GE(job.OpenOutput(out, false), 1);
    job.StartConvert(false);
    EXPECT_TRUE(job.Finished()) << job.FatalMessage().toStdString();
    EXPECT_EQ(ProbeFile(out).First(QStringLiteral("video"))->Frames, 25);
}

TEST_F(TranscodeJobTest, AStoppedJobStillWritesItsTrailerAndALastReport) {
    TFFmpeg job(nullptr, 20);
    job.ReportInterval = 100000;
    std::atomic<int> reports{0};
    std::vector<int> fileIndexes; // worker thread only, read after the end
    job.OnProgress = [&](TCustomFFmpeg*, int fileIndex, int, int, float, float, int64_t, int64_t,
                         int64_t) {
        fileIndexes.push_back(fileIndex);
        ++reports;
    };
    ASSERT_TRUE(OpenLavfi(job, TestPicture(600, 25, QStringLiteral("640x480"))));
    job.SetExtOption(QStringLiteral("vcodec"), QStringLiteral("mpeg4"));
    const QString out = Sandbox.File(QStringLiteral("stopped.mp4"));
    ASSERT_GE(job.OpenOutput(out, false), 1);
    EXPECT_TRUE(job.StartConvert(true));
    EXPECT_TRUE(job.Converting());
    ASSERT_TRUE(PumpUntil([&] { return reports >= 2; }, 30000));
    job.Stop(true);
    EXPECT_TRUE(job.Terminated());
    EXPECT_FALSE(job.Converting());
    EXPECT_FALSE(job.Finished());
    EXPECT_FALSE(job.FatalException()) << job.FatalMessage().toStdString();
    ASSERT_FALSE(fileIndexes.empty());
    EXPECT_EQ(fileIndexes.back(), -1);
    EXPECT_EQ(std::count(fileIndexes.begin(), fileIndexes.end(), -1), 1);
    const TProbe probe = ProbeFile(out);
    ASSERT_TRUE(probe.Ok); // the trailer is there: the file decodes
    const int frames = probe.First(QStringLiteral("video"))->Frames;
    EXPECT_GT(frames, 0);
    EXPECT_LT(frames, 15000);
}

TEST_F(TranscodeJobTest, JoinedInputsFollowOneAnotherInOneOutput) {
    const QString first = MakeClip(QStringLiteral("first.mp4"), 1);
    const QString second = MakeClip(QStringLiteral("second.mp4"), 2);
    TFFEncoder encoder;
    TTerminateLog terminates;
    terminates.Connect(encoder);
    TInputOptions in;
    InitInputOptions(&in);
    const int task = encoder.AddTask(first, &in);
    ASSERT_EQ(task, 0) << encoder.LastErrMsg().toStdString();
    ASSERT_TRUE(encoder.AddInputFile(task, second, nullptr));
    TOutputOptions out;
    InitOutputOptions(&out);
    out.VideoCodec = QStringLiteral("mpeg4");
    out.AudioCodec = QStringLiteral("aac");
    out.Join = true;
    const QString file = Sandbox.File(QStringLiteral("joined.mp4"));
    ASSERT_TRUE(encoder.SetOutputFile(task, file, &out)) << encoder.LastErrMsg().toStdString();
    TFFmpeg* job = encoder.Task(task);
    EXPECT_TRUE(job->JoinMode());
    int64_t d1 = 0, d2 = 0;
    ASSERT_TRUE(job->InputContext(0) && job->InputContext(1));
    d1 = job->InputContext(0)->duration;
    d2 = job->InputContext(1)->duration;
    EXPECT_EQ(job->TotalOutputDuration(), d1 + d2);
    EXPECT_NEAR(double(job->TotalOutputDuration()) / 1e6, 3.0, 0.1);
    int64_t reportedTotal = 0;
    encoder.SetOnProgress([&](QObject*, TProgressInfo* p) { reportedTotal = p->TotalDuration; });
    encoder.Start(1);
    ASSERT_TRUE(PumpUntil([&] { return terminates.ListEnded(); }, 60000));
    ASSERT_EQ(terminates.Events.size(), 2u);
    EXPECT_TRUE(terminates.Events[0].Finished) << terminates.Events[0].ExceptionMsg.toStdString();
    EXPECT_EQ(reportedTotal, d1 + d2);

    const TProbe probe = ProbeFile(file);
    ASSERT_TRUE(probe.Ok);
    EXPECT_EQ(probe.Count(QStringLiteral("video")), 1);
    EXPECT_EQ(probe.Count(QStringLiteral("audio")), 1);
    EXPECT_EQ(probe.First(QStringLiteral("video"))->Frames, 75);
    // The second part continues where the first ended: one picture every 40 ms from
    // 0 to 2.96 s, no gap and no overlap at the seam.
    const std::vector<double> times = VideoFrameTimes(file);
    ASSERT_EQ(times.size(), 75u);
    for (size_t i = 1; i < times.size(); ++i)
        EXPECT_NEAR(times[i] - times[i - 1], 0.04, 0.005) << "at frame " << i;
    EXPECT_NEAR(times.back() - times.front(), 2.96, 0.01);
    EXPECT_NEAR(probe.First(QStringLiteral("audio"))->Duration, 3.0, 0.1);
    encoder.ClearTasks();
}

// A file that stops growing (a full disk) ends the job with the writer's message instead
// of encoding on; what was written before plays.
TEST_F(TranscodeJobTest, AWriteFailureEndsTheJobWithItsMessage) {
    const QString out = Sandbox.File(QStringLiteral("full.avi"));
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    {
        TFFmpeg job(nullptr, 21);
        ASSERT_TRUE(OpenLavfi(job, TestPicture(60, 25, QStringLiteral("640x480"))));
        job.SetExtOption(QStringLiteral("vcodec"), QStringLiteral("mpeg4"));
        job.SetExtOption(QStringLiteral("b"), QStringLiteral("5000000"));
        ASSERT_GE(job.OpenOutput(out, false), 1);
        rlimit small = saved;
        small.rlim_cur = 400000;
        ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
        job.StartConvert(false);
        setrlimit(RLIMIT_FSIZE, &saved);
        EXPECT_TRUE(job.Terminated());
        EXPECT_FALSE(job.Finished());
        EXPECT_TRUE(job.FatalException());
        EXPECT_TRUE(job.FatalMessage().startsWith(out)) << job.FatalMessage().toStdString();
    }
    std::signal(SIGXFSZ, oldHandler);
    EXPECT_EQ(QFileInfo(out).size(), 400000);
    const TProbe probe = ProbeFile(out);
    ASSERT_TRUE(probe.Ok);
    ASSERT_TRUE(probe.First(QStringLiteral("video")));
    EXPECT_GT(probe.First(QStringLiteral("video"))->Frames, 5);
}
