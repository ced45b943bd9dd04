#pragma once

#include "media/FFBaseComponent.h"
#include "media/FFEncodeOptions.h"
#include "media/FFOptionRecords.h"

#include <QString>

#include <cstdint>
#include <functional>
#include <memory>

class QImage;
class TCustomFFmpeg;
class TFFmpeg;
struct AVFormatContext;
struct TAVPicture;

// The encoder component: a list of tasks, each one transcoding job with its inputs,
// outputs and options, run one after another (or several at once) in worker threads
// or in the caller's thread.
//
//     TFFEncoder encoder;
//     if (!encoder.AVLibLoaded() && !encoder.LoadAVLib(ProgramState().LibraryPath()))
//         return Fail(encoder.LastErrMsg());
//     encoder.ClearTasks();
//     TInputOptions in;
//     InitInputOptions(&in);
//     in.ForceFormat = "lavfi";
//     const int task = encoder.AddTask("testsrc2=size=640x360:rate=15:duration=5", &in);
//     TOutputOptions out;
//     InitOutputOptions(&out);
//     out.VideoCodec = "mpeg4";
//     out.AudioCodec = "aac";
//     out.ExtOptions = "astrict=experimental";
//     if (task < 0 || !encoder.SetOutputFile(task, "/tmp/out.mp4", &out)) {
//         if (task >= 0) encoder.RemoveTask(task);
//         return Fail(encoder.LastErrMsg());
//     }
//     encoder.SetOnProgress([](QObject*, TProgressInfo* p) { ... p->CurrentDuration ... });
//     encoder.SetOnTerminate([](QObject*, const TTerminateInfo& t) {
//         if (t.TaskIndex < 0) ...;   // the whole list has ended
//     });
//     encoder.Start(1);   // returns at once; events arrive on the main thread
//     ... encoder.Pause(); encoder.Resume(); encoder.Stop(true);
//
// Every method belongs to the main thread. Task calls raise EFFError "Cannot <call>
// while working." from Start until ClearTasks; other failures return -1 / false with
// LastErrMsg. Progress, preview and before-probe events run on the main thread when
// TriggerEventInMainThread (the worker waits for them). Terminate events come from the
// encoder's own event thread, on the main thread likewise, one at a time in the order
// the tasks ended and the end of the list (-1) last; after Start(0) they are raised in
// the calling thread before Start returns. Hooks run on the worker thread. Events of one
// kind never run at the same time, also when several tasks run at once. The destructor
// stops what runs and delivers every pending event before the encoder goes.

struct TProgressInfo {
    int TaskIndex = 0;
    int FileIndex = 0;
    int FrameNumber = 0;
    int FPS = 0;
    float Quality = 0;
    float BitRate = 0;
    int64_t CurrentSize = 0;
    int64_t CurrentDuration = 0;
    int64_t TotalDuration = 0;
};

struct TTerminateInfo {
    int TaskIndex = 0; // -1: the end of the whole list
    bool Finished = false;
    bool Exception = false;
    QString ExceptionMsg;
};

struct THookInfo {
    int TaskIndex = 0;
    QImage* Bitmap = nullptr;
    int FrameNumber = 0;
    int64_t PTS = 0;
    bool Update = true;
    bool StopHook = false;
};

struct TFrameHookInfo {
    int TaskIndex = 0;
    int FrameNumber = 0;
    TAVPicture* Picture = nullptr;
    int PixFmt = 0;
    int Width = 0, Height = 0;
    int64_t PTS = 0;
};

struct TPreviewInfo {
    int TaskIndex = 0;
    QImage* Bitmap = nullptr;
    int FrameNumber = 0;
    int64_t PTS = 0;
};

using TProgressEvent = std::function<void(QObject* Sender, TProgressInfo* AProgressInfo)>;
using TTerminateEvent = std::function<void(QObject* Sender, const TTerminateInfo& ATerminateInfo)>;
using TVideoHookEvent = std::function<void(QObject* Sender, THookInfo* AHookInfo)>;
using TFrameHookEvent = std::function<void(QObject* Sender, TFrameHookInfo* AHookInfo)>;
using TAudioHookEvent =
    std::function<void(QObject* Sender, int ATaskIndex, int64_t APTS, void* ASample, int ASize,
                       int ASampleRate, int AChannels, int ASampleFormat)>;
using TPreviewBitmapEvent = std::function<void(QObject* Sender, const TPreviewInfo& APreviewInfo)>;
using TBeforeFindStreamInfoEvent =
    std::function<void(TCustomFFmpeg* Sender, AVFormatContext* AFormatContext)>;

enum TThreadPriority { tpIdle, tpLowest, tpLower, tpNormal, tpHigher, tpHighest, tpTimeCritical };

class TCustomEncoder : public TFFBaseComponent {
public:
    explicit TCustomEncoder(QObject* owner = nullptr);
    ~TCustomEncoder() override;

    // Loads all FFmpeg libraries from `path` (else the system's); false with LastErrMsg.
    bool LoadAVLib(const QString& path);
    bool AVLibLoaded() const;
    void UnloadAVLib();

    int AddTask(const QString& AFileName, const TInputOptions* AOptions = nullptr);
    int AddTask(const QString& AFileName, const QString& AExtOptions);
    bool AddInputFile(int ATaskIndex, const QString& AFileName,
                      const TInputOptions* AOptions = nullptr);
    bool AddInputFile(int ATaskIndex, const QString& AFileName, const QString& AExtOptions);
    bool SetOutputFile(int ATaskIndex, const QString& AFileName,
                       const TOutputOptions* AOptions = nullptr);
    bool SetOutputFile(int ATaskIndex, const QString& AFileName, const QString& AExtOptions);
    void ClearTasks();
    void RemoveTask(int ATaskIndex);
    void Exchange(int ATaskIndex1, int ATaskIndex2);
    int GetTaskIndex(const TCustomFFmpeg* job) const;
    // The job of a task (EFFError for a bad index); media/FFmpeg.h describes it.
    TFFmpeg* Task(int ATaskIndex) const;

    void Start(int AThreadCount);
    void Pause();
    void Resume();
    void Stop(bool AWaitForStop);

    bool Preview() const;
    void SetPreview(bool value);
    bool PreviewBitmap() const;
    void SetPreviewBitmap(bool value);
    int ProgressInterval() const;
    void SetProgressInterval(int value);
    TThreadPriority ThreadPriority = tpNormal;
    bool TriggerEventInMainThread = true;
    int CustomMaxFiles = 20;
    bool HaltOnInvalidOption = true;
    int ReadTimeout = 10000;
    int Verbose = 1;
    // For the jobs of tasks added from here on (TCustomFFmpeg::ParallelSound).
    bool ParallelSound = true;
    void* UserData = nullptr;

    QString LastErrMsg() const;
    int TasksCount() const;
    bool Working() const;
    bool Paused() const;
    bool Terminated() const;

    // Handlers may be set or cleared at any time, also while tasks run; an event uses the
    // handler set when it is delivered.
    void SetOnProgress(TProgressEvent e);
    void SetOnTerminate(TTerminateEvent e);
    void SetOnVideoInputHook(TVideoHookEvent e);
    void SetOnVideoOutputHook(TVideoHookEvent e);
    void SetOnFrameInputHook(TFrameHookEvent e);
    void SetOnFrameOutputHook(TFrameHookEvent e);
    void SetOnAudioHook(TAudioHookEvent e);
    void SetOnPreviewBitmap(TPreviewBitmapEvent e);
    void SetOnBeforeFindStreamInfo(TBeforeFindStreamInfoEvent e);

private:
    struct THandlers;
    struct TState; // FFEncode.cpp

    template <class TEvent> TEvent Handler(TEvent THandlers::*event) const;
    template <class TEvent> void SetHandler(TEvent THandlers::*event, TEvent handler);
    void Refuse(bool condition, const char* call) const;
    void ApplyPostHooks();
    void Raise(const std::function<void()>& call);
    void ConnectJob(TFFmpeg* job);
    bool OpenInput(TFFmpeg* job, int index, const QString& AFileName,
                   const TInputOptions* AOptions);
    void ConnectHooks(TFFmpeg* job, const TOutputOptions& options);
    TFFmpeg* ClaimNextTask();
    void RunTask(TFFmpeg* job);
    void JobTerminate(TCustomFFmpeg* job);
    void PostTerminate(const TTerminateInfo& info);
    void DeliverTerminate(const TTerminateInfo& info);

    std::unique_ptr<TState> F;
};

// The encoder component the program places on its windows.
class TFFEncoder : public TCustomEncoder {
public:
    using TCustomEncoder::TCustomEncoder;
};
