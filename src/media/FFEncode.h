#pragma once

#include "media/EventHandler.h"
#include "media/FFBaseComponent.h"
#include "media/FFOptionRecords.h"
#include "media/FFmpeg.h"

#include <QImage>
#include <QString>

#include <atomic>
#include <functional>
#include <mutex>
#include <utility>
#include <vector>

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
// TriggerEventInMainThread (the worker waits for them); terminate events come from a
// delivery thread, on the main thread likewise, one at a time in the order the tasks
// ended and the end of the list (-1) last; hooks run on the worker thread.

// The name=value lines of an ExtOptions text: trimmed as a whole, "<CRLF>" read as a line
// break, lines split at CR LF, CR or LF, empty lines skipped; a line without "=" is a name
// with an empty value.
std::vector<std::pair<QString, QString>> ParseOptionLines(const QString& text);

// Passes the lines of an ExtOptions text to the job, names lower-cased. Stream additions
// and filter graphs are skipped (the encoder applies them itself); for an output
// (`output`) so are the codec, size and filter names that wait for the output's streams.
// Throws FFmpegException like SetExtOption.
void ApplyExtOptionLines(TCustomFFmpeg* job, const QString& lines, bool output);

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

// The codecs of the program's own videos, chosen by the extension of `fileName`: MPEG-4
// video with AAC sound ("libfaac" when the codec library has it, else the built-in
// "aac", whose experimental use is then allowed in front of ExtOptions); ".wmv" takes
// wmv2 and wmav2, ".avi" MP3 sound. Shared by recordings and lyrics videos. Needs
// libavcodec loaded.
void SetCodecsForExtension(TOutputOptions& options, const QString& fileName);

// True when `fileName` is an MP4 or MOV file, the two types that may hold H.264.
bool IsH264Container(const QString& fileName);
// Turns the MPEG-4 pictures SetCodecsForExtension chose for an MP4 or MOV `fileName`
// into H.264 (libx264) in 4:2:0, which browsers, phones and video sites all play: at
// constant quality `crf` with x264's speed `preset`, a key picture at least every
// `keyInterval` pictures, and the frame size rounded down to even numbers (4:2:0 needs
// them). The sound stays AAC. False, and `options` unchanged, for any other file type.
bool UseH264Pictures(TOutputOptions& options, const QString& fileName, const QString& preset,
                     int crf, int keyInterval);

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
    // The job of a task (EFFError for a bad index).
    TFFmpeg* Task(int ATaskIndex) const { return FTasks.Item(ATaskIndex); }

    void Start(int AThreadCount);
    void Pause();
    void Resume();
    void Stop(bool AWaitForStop);

    bool Preview() const { return FPreview; }
    void SetPreview(bool value);
    bool PreviewBitmap() const { return FPreviewBitmap; }
    void SetPreviewBitmap(bool value);
    int ProgressInterval() const { return FProgressInterval; }
    void SetProgressInterval(int value) { FProgressInterval = value <= 100 ? 100 : value; }
    TThreadPriority ThreadPriority = tpNormal;
    bool TriggerEventInMainThread = true;
    int CustomMaxFiles = 20;
    bool HaltOnInvalidOption = true;
    int ReadTimeout = 10000;
    int Verbose = 1;
    void* UserData = nullptr;

    QString LastErrMsg() const { return FLastErrMsg; }
    int TasksCount() const { return FTasks.Count(); }
    bool Working() const { return FWorking; }
    bool Paused() const { return FPaused; }
    bool Terminated() const { return FTerminated; }

    // Handlers may be set or cleared at any time, also while tasks run; an event uses the
    // handler set when it is delivered.
    void SetOnProgress(TProgressEvent e) { FOnProgress.Set(std::move(e)); }
    void SetOnTerminate(TTerminateEvent e) { FOnTerminate.Set(std::move(e)); }
    void SetOnVideoInputHook(TVideoHookEvent e) { FOnVideoInputHook.Set(std::move(e)); }
    void SetOnVideoOutputHook(TVideoHookEvent e) { FOnVideoOutputHook.Set(std::move(e)); }
    void SetOnFrameInputHook(TFrameHookEvent e) { FOnFrameInputHook.Set(std::move(e)); }
    void SetOnFrameOutputHook(TFrameHookEvent e) { FOnFrameOutputHook.Set(std::move(e)); }
    void SetOnAudioHook(TAudioHookEvent e) { FOnAudioHook.Set(std::move(e)); }
    void SetOnPreviewBitmap(TPreviewBitmapEvent e) { FOnPreviewBitmap.Set(std::move(e)); }
    void SetOnBeforeFindStreamInfo(TBeforeFindStreamInfoEvent e) {
        FOnBeforeFindStreamInfo.Set(std::move(e));
    }

private:
    void Refuse(bool condition, const char* call) const;
    TPostHooks CurrentPostHooks() const;
    bool OpenInput(TFFmpeg* job, int index, const QString& AFileName,
                   const TInputOptions* AOptions);
    void StartNextTask();
    void JobTerminate(TCustomFFmpeg* job);
    void ListTerminated();
    void Deliver(const TTerminateInfo& info);
    void ConnectHooks(TFFmpeg* job, const TOutputOptions& options);

    TFFmpegList FTasks;
    int FCompleteTasks = 0, FCurrentTask = -1, FPendingTasks = 0;
    std::atomic<bool> FTerminated{false}, FWorking{false}, FPaused{false};
    bool FThreadMode = false;
    // Terminate deliveries: the next turn number to hand out (under the terminate lock)
    // and the turn now allowed to call the handler.
    uint64_t FDeliveryNext = 0;
    std::atomic<uint64_t> FDeliveryTurn{0};
    std::atomic<int> FDeliveries{0};
    bool FPreview = false, FPreviewBitmap = false;
    int FProgressInterval = 500;
    QString FLastErrMsg;

    TEventHandler<TProgressEvent> FOnProgress;
    TEventHandler<TTerminateEvent> FOnTerminate;
    TEventHandler<TVideoHookEvent> FOnVideoInputHook, FOnVideoOutputHook;
    TEventHandler<TFrameHookEvent> FOnFrameInputHook, FOnFrameOutputHook;
    TEventHandler<TAudioHookEvent> FOnAudioHook;
    TEventHandler<TPreviewBitmapEvent> FOnPreviewBitmap;
    TEventHandler<TBeforeFindStreamInfoEvent> FOnBeforeFindStreamInfo;

    TProgressInfo FProgressInfo;
    THookInfo FHookInfo;
    TFrameHookInfo FFrameHookInfo;
    TPreviewInfo FPreviewInfo;
    std::mutex FAudioHookLock, FPreviewLock, FProgressLock, FVideoHookLock, FFrameHookLock,
        FBeforeProbeLock;
    std::recursive_mutex FTerminateLock;
};

// The encoder component the program places on its windows.
class TFFEncoder : public TCustomEncoder {
public:
    using TCustomEncoder::TCustomEncoder;
};

// Splits option text into name=value pairs: trimmed; CR LF, CR, LF and the literal
// "<CRLF>" end lines; each line is cut at its first "=". Thread-safe.
std::vector<std::pair<QString, QString>> ParseOptionLines(const QString& text);
