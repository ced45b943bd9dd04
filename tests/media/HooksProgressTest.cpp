#include "EncodeTestSupport.h"
#include "TestSource.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QImage>
#include <QThread>

#include <chrono>
#include <numeric>
#include <stdexcept>
#include <thread>

namespace {

class HooksProgressTest : public TMediaTest {
protected:
    TSandbox Sandbox;
    TLogCapture Log;
    TFFEncoder Encoder;
    TTerminateLog Terminates;

    void SetUp() override {
        TMediaTest::SetUp();
        RegisterTestSource();
        Terminates.Connect(Encoder);
    }
    void TearDown() override {
        Encoder.Stop(true);
        PumpUntil([&] { return !Encoder.Working() || Encoder.Terminated(); }, 20000);
        Encoder.ClearTasks();
        TMediaTest::TearDown();
    }

    // One task: `input` (lavfi unless a format is given) into an mpeg4 MP4 without sound.
    QString AddVideoTask(const QString& input, const QString& name, TOutputOptions out,
                         const QString& format = QStringLiteral("lavfi")) {
        TInputOptions in;
        InitInputOptions(&in);
        in.ForceFormat = format;
        const int task = Encoder.AddTask(input, &in);
        EXPECT_GE(task, 0) << Encoder.LastErrMsg().toStdString();
        out.VideoCodec = QStringLiteral("mpeg4");
        out.DisableAudio = true;
        const QString file = Sandbox.File(name);
        EXPECT_TRUE(Encoder.SetOutputFile(task, file, &out)) << Encoder.LastErrMsg().toStdString();
        return file;
    }
    static TOutputOptions Output() {
        TOutputOptions out;
        InitOutputOptions(&out);
        return out;
    }
    bool RunToEnd(int timeoutMs = 60000) {
        Encoder.Start(1);
        return PumpUntil([&] { return Terminates.ListEnded(); }, timeoutMs);
    }
    int LogCount(const QString& text) const {
        int n = 0;
        for (const QString& line : Log.Lines())
            n += line == text;
        return n;
    }
};

// All decoded frames of a file as RGB24 bytes.
QByteArray AllFramesRGB(const QString& path) {
    QProcess process;
    process.start(QStringLiteral("ffmpeg"),
                  {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-i"), path,
                   QStringLiteral("-f"), QStringLiteral("rawvideo"), QStringLiteral("-pix_fmt"),
                   QStringLiteral("rgb24"), QStringLiteral("-")});
    process.waitForFinished(60000);
    return process.readAllStandardOutput();
}

uchar Brightest(const QByteArray& bytes) {
    uchar most = 0;
    for (char c : bytes)
        most = std::max(most, uchar(c));
    return most;
}

} // namespace

TEST_F(HooksProgressTest, AThrowingOutputHookLeavesEveryFrameUnchangedAndTheJobFinishes) {
    const QString plain = AddVideoTask(TestPicture(1), QStringLiteral("plain.mp4"), Output());
    ASSERT_TRUE(RunToEnd());
    Encoder.ClearTasks();
    Terminates.Events.clear();

    std::atomic<int> calls{0};
    Encoder.SetOnVideoOutputHook([&](QObject*, THookInfo* info) {
        ++calls;
        info->Bitmap->fill(Qt::white); // thrown away with the exception
        throw std::runtime_error("hook failed");
    });
    TOutputOptions out = Output();
    out.VideoOutputHook = true;
    const QString hooked = AddVideoTask(TestPicture(1), QStringLiteral("hooked.mp4"), out);
    Log.Clear();
    ASSERT_TRUE(RunToEnd());
    ASSERT_EQ(Terminates.Events.size(), 2u);
    EXPECT_TRUE(Terminates.Events[0].Finished);
    EXPECT_FALSE(Terminates.Events[0].Exception) << Terminates.Events[0].ExceptionMsg.toStdString();
    EXPECT_EQ(calls, 25); // called again for every frame: an exception does not disconnect it
    EXPECT_EQ(LogCount(QStringLiteral("Error occurs VideoHook event: hook failed")), 25);
    const QByteArray expected = AllFramesRGB(plain);
    ASSERT_EQ(expected.size(), 320 * 240 * 3 * 25);
    EXPECT_TRUE(AllFramesRGB(hooked) == expected); // bit for bit what the plain run made
}

TEST_F(HooksProgressTest, ABlackFillingOutputHookBlackensTheOutputNotTheSource) {
    std::atomic<int> outputCalls{0}, blackInputs{0}, inputCalls{0};
    std::vector<int> frameNumbers; // worker only, read after the end
    Encoder.SetOnVideoOutputHook([&](QObject*, THookInfo* info) {
        ++outputCalls;
        frameNumbers.push_back(info->FrameNumber);
        EXPECT_TRUE(info->Update);
        EXPECT_FALSE(info->StopHook);
        EXPECT_EQ(info->Bitmap->size(), QSize(320, 240));
        EXPECT_NE(QThread::currentThread(), qApp->thread());
        info->Bitmap->fill(Qt::black);
    });
    // The input hook sees each decoded picture before the output hook works on its copy.
    Encoder.SetOnVideoInputHook([&](QObject*, THookInfo* info) {
        ++inputCalls;
        QImage image = info->Bitmap->convertToFormat(QImage::Format_RGB888);
        QByteArray bytes(reinterpret_cast<const char*>(image.constBits()),
                         int(image.sizeInBytes()));
        if (Brightest(bytes) < 40)
            ++blackInputs;
        info->Update = false;
    });
    TOutputOptions out = Output();
    out.VideoOutputHook = true;
    out.VideoInputHook = true;
    const QString file = AddVideoTask(TestPicture(1), QStringLiteral("black.mp4"), out);
    ASSERT_TRUE(RunToEnd());
    EXPECT_TRUE(Terminates.Events[0].Finished) << Terminates.Events[0].ExceptionMsg.toStdString();
    EXPECT_EQ(outputCalls, 25);
    EXPECT_EQ(inputCalls, 25);
    EXPECT_EQ(blackInputs, 0);
    std::vector<int> expectedNumbers(25);
    std::iota(expectedNumbers.begin(), expectedNumbers.end(), 1);
    EXPECT_EQ(frameNumbers, expectedNumbers);
    const QByteArray frames = AllFramesRGB(file);
    ASSERT_EQ(frames.size(), 320 * 240 * 3 * 25);
    EXPECT_LE(Brightest(frames), 8); // every pixel of every frame black (coding noise aside)
}

TEST_F(HooksProgressTest, AHookThatSetsStopHookIsNotCalledAgain) {
    std::atomic<int> inputCalls{0}, outputCalls{0};
    Encoder.SetOnVideoInputHook([&](QObject*, THookInfo* info) {
        ++inputCalls;
        info->StopHook = true;
    });
    // the output hook darkens frame 3 only, and leaves frame 4 as it was (Update false)
    Encoder.SetOnVideoOutputHook([&](QObject*, THookInfo* info) {
        ++outputCalls;
        if (info->FrameNumber == 3)
            info->Bitmap->fill(Qt::black);
        else if (info->FrameNumber == 4) {
            info->Bitmap->fill(Qt::black);
            info->Update = false;
        }
        if (info->FrameNumber == 5)
            info->StopHook = true;
    });
    TOutputOptions out = Output();
    out.VideoInputHook = true;
    out.VideoOutputHook = true;
    const QString file = AddVideoTask(TestPicture(1), QStringLiteral("stop.mp4"), out);
    ASSERT_TRUE(RunToEnd());
    EXPECT_TRUE(Terminates.Events[0].Finished) << Terminates.Events[0].ExceptionMsg.toStdString();
    EXPECT_EQ(inputCalls, 1);
    EXPECT_EQ(outputCalls, 5);
    const QByteArray frames = AllFramesRGB(file);
    const int size = 320 * 240 * 3;
    ASSERT_EQ(frames.size(), size * 25);
    EXPECT_GT(Brightest(frames.mid(size * 1, size)), 100); // frame 2
    EXPECT_LE(Brightest(frames.mid(size * 2, size)), 8);   // frame 3
    EXPECT_GT(Brightest(frames.mid(size * 3, size)), 100); // frame 4
    EXPECT_GT(Brightest(frames.mid(size * 5, size)), 100); // frame 6
}

TEST_F(HooksProgressTest, ReportsKeepTheirIntervalAndCarrySaneNumbers) {
    Encoder.SetProgressInterval(50);
    EXPECT_EQ(Encoder.ProgressInterval(), 100);
    Encoder.TriggerEventInMainThread = false; // times taken where the job reports
    struct TReport {
        TProgressInfo Info;
        std::chrono::steady_clock::time_point At;
    };
    std::vector<TReport> reports; // worker only, read after the end
    Encoder.SetOnProgress([&](QObject*, TProgressInfo* info) {
        reports.push_back({*info, std::chrono::steady_clock::now()});
    });
    // 60 pictures, one every 10 ms: the job runs for more than half a second.
    TOutputOptions out = Output();
    out.TimeLength = 2400000; // the expected length of the task
    const QString file = AddVideoTask(QStringLiteral("frames=60;pace=10;size=160x120"),
                                      QStringLiteral("p.mp4"), out, QStringLiteral("testframes"));
    Encoder.Start(1);
    EXPECT_EQ(Encoder.Task(0)->ReportInterval, 100000);
    ASSERT_TRUE(PumpUntil([&] { return Terminates.ListEnded(); }, 60000));
    ASSERT_GE(reports.size(), 4u);
    for (size_t i = 0; i + 1 < reports.size(); ++i) {
        SCOPED_TRACE(i);
        const TProgressInfo& p = reports[i].Info;
        EXPECT_EQ(p.TaskIndex, 0);
        EXPECT_EQ(p.FileIndex, 0);
        if (i > 0) { // no report sooner than the interval after the one before
            EXPECT_GE(reports[i].At - reports[i - 1].At, std::chrono::milliseconds(99));
        }
    }
    int64_t lastSize = 0, lastDuration = -1;
    int lastFrame = 0;
    for (const TReport& r : reports) {
        const TProgressInfo& p = r.Info;
        EXPECT_GE(p.FrameNumber, 1);
        EXPECT_GE(p.FrameNumber, lastFrame);
        EXPECT_GE(p.CurrentSize, lastSize);
        EXPECT_GE(p.CurrentDuration, lastDuration);
        EXPECT_LE(p.FrameNumber, 60);
        EXPECT_EQ(p.TotalDuration, 2400000);
        EXPECT_GE(p.FPS, 0);
        EXPECT_GE(p.Quality, 0);
        // the output time is that of the frames encoded so far
        EXPECT_NEAR(double(p.CurrentDuration), p.FrameNumber * 40000.0, 2 * 40000.0);
        lastFrame = p.FrameNumber;
        lastSize = p.CurrentSize;
        lastDuration = p.CurrentDuration;
    }
    const TProgressInfo& last = reports.back().Info;
    EXPECT_EQ(last.FileIndex, -1);
    EXPECT_EQ(last.FrameNumber, 60);
    EXPECT_EQ(last.CurrentSize, QFileInfo(file).size());
    EXPECT_NEAR(double(last.CurrentDuration), 2400000.0, 40000.0);
    EXPECT_GT(last.BitRate, 0);
    EXPECT_NEAR(last.BitRate, double(last.CurrentSize) * 8 / (last.CurrentDuration / 1000.0),
                last.BitRate * 0.05);
}

TEST_F(HooksProgressTest, NoReportComesBeforeTheFirstVideoFrame) {
    Encoder.SetProgressInterval(100);
    Encoder.TriggerEventInMainThread = false;
    std::vector<TProgressInfo> reports;
    Encoder.SetOnProgress([&](QObject*, TProgressInfo* info) { reports.push_back(*info); });
    std::atomic<int> audioBeforeVideo{0};
    std::atomic<bool> videoSeen{false};
    Encoder.SetOnAudioHook([&](QObject*, int, int64_t, void*, int, int, int, int) {
        if (!videoSeen)
            ++audioBeforeVideo;
    });
    Encoder.SetOnFrameInputHook([&](QObject*, TFrameHookInfo*) { videoSeen = true; });
    // The pictures come only after half a second; the sound from the start.
    TInputOptions in;
    InitInputOptions(&in);
    in.ForceFormat = QStringLiteral("testframes");
    const int task = Encoder.AddTask(QStringLiteral("frames=25;late=500;pace=5"), &in);
    ASSERT_GE(task, 0) << Encoder.LastErrMsg().toStdString();
    TInputOptions sound = LavfiInput();
    ASSERT_TRUE(Encoder.AddInputFile(task, TestSound(1), &sound));
    TOutputOptions out = Output();
    out.VideoCodec = QStringLiteral("mpeg4");
    out.AudioCodec = QStringLiteral("aac");
    out.AudioHook = true;
    out.FrameInputHook = true;
    ASSERT_TRUE(Encoder.SetOutputFile(task, Sandbox.File(QStringLiteral("late.mp4")), &out))
        << Encoder.LastErrMsg().toStdString();
    ASSERT_TRUE(RunToEnd());
    EXPECT_TRUE(Terminates.Events[0].Finished) << Terminates.Events[0].ExceptionMsg.toStdString();
    EXPECT_GT(audioBeforeVideo, 10); // sound was being encoded while no picture had come
    ASSERT_FALSE(reports.empty());
    for (const TProgressInfo& p : reports)
        EXPECT_GE(p.FrameNumber, 1);
    EXPECT_EQ(reports.back().FileIndex, -1);
}

TEST_F(HooksProgressTest, NothingIsReadWhilePaused) {
    TestSourceReads = 0;
    AddVideoTask(QStringLiteral("frames=100000;pace=5;size=64x48"), QStringLiteral("pause.mp4"),
                 Output(), QStringLiteral("testframes"));
    Encoder.Start(1);
    ASSERT_TRUE(PumpUntil([&] { return TestSourceReads > 10; }, 20000));
    Encoder.Pause();
    EXPECT_TRUE(Encoder.Paused());
    PumpEvents(100); // a read under way when the pause came may end
    const int atPause = TestSourceReads;
    PumpEvents(500);
    EXPECT_EQ(TestSourceReads, atPause);
    EXPECT_TRUE(Encoder.Task(0)->Converting());
    Encoder.Resume();
    EXPECT_FALSE(Encoder.Paused());
    EXPECT_TRUE(PumpUntil([&] { return TestSourceReads > atPause + 10; }, 20000));
    // a stop while paused ends the task at once
    Encoder.Pause();
    Encoder.Stop(true);
    ASSERT_TRUE(PumpUntil([&] { return Terminates.ListEnded(); }, 20000));
    EXPECT_FALSE(Terminates.Events[0].Finished);
    EXPECT_GT(
        ProbeFile(Sandbox.File(QStringLiteral("pause.mp4"))).First(QStringLiteral("video"))->Frames,
        10);
}
