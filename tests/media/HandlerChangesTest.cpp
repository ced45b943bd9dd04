// Event handlers changed by the program while the engine's threads deliver events: an
// event calls the handler in place when it is delivered, or none, never a handler that
// was cleared after the event was raised.
#include "EncodeTestSupport.h"
#include "media/FFPlay.h"
#include "media/MainThread.h"
#include "media/SDLLoader.h"

#include <QTemporaryDir>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>

namespace {

class HandlerChangesTest : public TEncoderTest {
protected:
    // A job of four seconds of pictures and sound into an MP4, with every hook on.
    void AddJob(const QString& file) {
        TInputOptions in = LavfiInput();
        const int task = Encoder.AddTask(TestPicture(4, 25), &in);
        ASSERT_GE(task, 0) << Encoder.LastErrMsg().toStdString();
        TInputOptions sound = LavfiInput();
        ASSERT_TRUE(Encoder.AddInputFile(task, TestSound(4), &sound));
        TOutputOptions out;
        InitOutputOptions(&out);
        SetCodecsForExtension(out, file);
        out.AudioHook = true;
        out.FrameInputHook = true;
        out.VideoOutputHook = true;
        ASSERT_TRUE(Encoder.SetOutputFile(task, file, &out)) << Encoder.LastErrMsg().toStdString();
        Encoder.SetProgressInterval(100);
        Terminates.Connect(Encoder);
    }

    // Runs the job while the main thread swaps every handler between one that counts
    // (holding state of its own, so a torn handler would show) and none; `serve`
    // serves the engine's main-thread calls between the swaps.
    void RunSwapping(bool serve) {
        auto counted = std::make_shared<std::atomic<int>>(0);
        const std::vector<int> state(256, 1); // makes each handler own heap memory
        const TProgressEvent progress = [counted, state](QObject*, TProgressInfo*) {
            *counted += state[255];
        };
        const TFrameHookEvent frame = [counted, state](QObject*, TFrameHookInfo*) {
            *counted += state[0];
        };
        const TVideoHookEvent video = [counted, state](QObject*, THookInfo*) {
            *counted += state[1];
        };
        const TAudioHookEvent audio = [counted, state](QObject*, int, int64_t, void*, int, int, int,
                                                       int) { *counted += state[2]; };
        Encoder.Start(1);
        for (int round = 0; !Terminates.ListEnded() && round < 200000; ++round) {
            Encoder.SetOnProgress(progress);
            Encoder.SetOnFrameInputHook(frame);
            Encoder.SetOnVideoOutputHook(video);
            Encoder.SetOnAudioHook(audio);
            // An event raised now finds the handlers set; the main thread then clears
            // them before it serves the event.
            std::this_thread::sleep_for(std::chrono::microseconds(500));
            Encoder.SetOnProgress(nullptr);
            Encoder.SetOnFrameInputHook(nullptr);
            Encoder.SetOnVideoOutputHook(nullptr);
            Encoder.SetOnAudioHook(nullptr);
            if (serve)
                ServeMainThreadCalls();
            else
                std::this_thread::sleep_for(std::chrono::microseconds(200));
            if (round % 50 == 0)
                PumpEvents(1);
        }
        ASSERT_TRUE(PumpUntil([&] { return Terminates.ListEnded(); }, 30000));
        EXPECT_GT(counted->load(), 0); // the handlers did run meanwhile
    }

    void ExpectWholeFile(const QString& file) {
        ASSERT_FALSE(Terminates.Events.empty());
        EXPECT_FALSE(Terminates.Events.front().Exception)
            << Terminates.Events.front().ExceptionMsg.toStdString();
        const TProbe probe = ProbeFile(file);
        ASSERT_TRUE(probe.Ok) << "the file has no index";
        ASSERT_TRUE(probe.First(QStringLiteral("video")));
        EXPECT_EQ(probe.First(QStringLiteral("video"))->Frames, 100);
    }
};

} // namespace

TEST_F(HandlerChangesTest, HandlersClearedBeforeTheMainThreadServesTheEventEndNoJob) {
    const QString file = Sandbox.File(QStringLiteral("main.mp4"));
    AddJob(file);
    RunSwapping(true);
    ExpectWholeFile(file);
}

TEST_F(HandlerChangesTest, HandlersSwappedWhileTheWorkerCallsThemDirectly) {
    const QString file = Sandbox.File(QStringLiteral("worker.mp4"));
    AddJob(file);
    Encoder.TriggerEventInMainThread = false;
    RunSwapping(false);
    ExpectWholeFile(file);
}

TEST_F(HandlerChangesTest, PlayerEventsOffTheMainThreadWhileTheirHandlersChange) {
    QTemporaryDir dir;
    const QString song = dir.filePath(QStringLiteral("song.wav"));
    ASSERT_TRUE(MakeFixture(
        {QStringLiteral("-f"), QStringLiteral("lavfi"), QStringLiteral("-i"), TestSound(1), song}));
    qputenv("SDL_AUDIODRIVER", "disk");
    qputenv("SDL_DISKAUDIOFILE", dir.filePath(QStringLiteral("played.raw")).toLocal8Bit());
    {
        TFFPlayer player;
        player.SetDisableVideo(true);
        player.SetDisableDisplay(true);
        player.SetTriggerEventInMainThread(false);
        ASSERT_TRUE(player.LoadSDLLib(QString(), QString::fromLatin1(SDLLibraryFileName)))
            << player.LastErrMsg().toStdString();
        auto positions = std::make_shared<std::atomic<int>>(0);
        auto ended = std::make_shared<std::atomic<bool>>(false);
        const std::vector<int> state(256, 1);
        const TPositionEvent position = [positions, state](QObject*, int64_t) {
            *positions += state[7];
        };
        const TPlayStateEvent states = [ended, state](QObject*, TPlayState s) {
            if (s == psEnd && state[9] == 1)
                *ended = true;
        };
        player.SetOnState(states);
        ASSERT_TRUE(player.Open(song, 0, false)) << player.LastErrMsg().toStdString();
        const auto start = std::chrono::steady_clock::now();
        while (!*ended && std::chrono::steady_clock::now() - start < std::chrono::seconds(10)) {
            player.SetOnPosition(position);
            std::this_thread::sleep_for(std::chrono::microseconds(300));
            player.SetOnPosition(nullptr);
            ServeMainThreadCalls();
        }
        EXPECT_TRUE(*ended);
        EXPECT_GT(positions->load(), 0);
        player.Stop(true);
    }
    qunsetenv("SDL_DISKAUDIOFILE");
    qunsetenv("SDL_AUDIODRIVER");
}
