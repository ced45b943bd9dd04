#pragma once

#include "media/Event.h"
#include "media/FFApi.h"
#include "media/FFErrors.h"
#include "media/FFOptionRecords.h"
#include "media/FFUtils.h"

#include <QImage>
#include <QString>
#include <QStringList>

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

// The transcoding job: one or more inputs turned into one or more outputs, configured
// with the option language of SetExtOption (the ffmpeg tool's command-line options
// without the leading "-"), run in a worker thread of its own or in the caller's.
//
//     TFFmpeg job(nullptr, 20);
//     job.SetExtOption("f", "lavfi");
//     if (!job.OpenInput("testsrc2=size=320x240:rate=25:duration=2"))
//         return Fail(job.LastErrMsg());
//     job.SetExtOption("vcodec", "mpeg4");
//     if (job.OpenOutput("/tmp/out.mp4", false) < 0)
//         return Fail(job.LastErrMsg());
//     job.OnTerminate = [](TCustomFFmpeg* j) { ... j->Finished() ... };
//     job.StartConvert(true);   // returns at once; the worker runs the conversion
//     ...
//     job.Stop(true);           // stop and wait, serving main-thread calls meanwhile
//
// Open calls, StartConvert, Stop, Pause, Resume and the setters belong to one
// controlling thread (the main thread in the program); callbacks come from the thread
// running the conversion. Errors inside a conversion are FFmpegException, caught at the
// job boundary: FatalException and FatalMessage report them.

// The error class of job setup and conversion; what() is the UTF-8 message.
class FFmpegException : public EFFError {
public:
    using EFFError::EFFError;
};

enum TPostHook : unsigned { phPreview = 1, phBitmap = 2, phHBITMAP = 4 };
using TPostHooks = unsigned; // a set of TPostHook bits

class TCustomFFmpeg;
class TVideoHookChain;
class TPreviewer;

using TJobProgressEvent = std::function<void(
    TCustomFFmpeg* Sender, int AFileIndex, int AFrameNumber, int AFPS, float AQuality,
    float ABitRate, int64_t ACurrentSize, int64_t ACurrentDuration, int64_t ATotalDuration)>;
using TJobTerminateEvent = std::function<void(TCustomFFmpeg* Sender)>;
using TJobVideoHookEvent =
    std::function<void(TCustomFFmpeg* Sender, QImage* ABitmap, int AFrameNumber, int64_t APTS,
                       bool& AUpdate, bool& AStopHook)>;
using TJobFrameHookEvent =
    std::function<void(TCustomFFmpeg* Sender, TAVPicture* APicture, int APixFmt, int AFrameNumber,
                       int AWidth, int AHeight, int64_t APTS)>;
using TJobAudioHookEvent =
    std::function<void(TCustomFFmpeg* Sender, int64_t APTS, void* ASample, int ASize,
                       int ASampleRate, int AChannels, int ASampleFormat)>;
using TJobPreviewBitmapEvent =
    std::function<void(TCustomFFmpeg* Sender, QImage* ABitmap, int AFrameNumber, int64_t APTS)>;
using TJobBeforeFindStreamInfoEvent =
    std::function<void(TCustomFFmpeg* Sender, AVFormatContext* AFormatContext)>;

// The generic options of a job: every accepted name=value in order, and which kind of
// context took it.
struct TFFOption {
    QString Name, Value;
    // Which contexts accepted it: the codec contexts per media type (with the name,
    // maybe without its "a"/"v"/"s" prefix), the format, the scaler, or private options
    // of some codec or format (applied where they exist).
    QString CodecName[AVMEDIA_TYPE_NB];
    bool Codec[AVMEDIA_TYPE_NB] = {};
    bool Format = false, Scaler = false, Private = false;
};

class TFFOptions {
public:
    TFFOptions();
    ~TFFOptions();
    TFFOptions(const TFFOptions&) = delete;
    TFFOptions& operator=(const TFFOptions&) = delete;

    std::vector<TFFOption> Items;
    // Probe contexts that validate values (one codec context per media type, format,
    // scaler).
    AVCodecContext* CodecOpts[AVMEDIA_TYPE_NB] = {};
    AVFormatContext* FormatOpts = nullptr;
    SwsContext* ScalerOpts = nullptr;

    void Clear();
    // Applies every stored option meant for `type` to a codec context (and its private
    // options). Rejections are ignored: values were checked when they were stored.
    void ApplyToCodec(AVCodecContext* ctx, AVMediaType type) const;
    void ApplyToFormat(AVFormatContext* ctx) const;
    void ApplyToScaler(SwsContext* ctx) const;
};

// The process-wide text of the last generic option failure.
QString LastOptionError();

class TCustomFFmpeg {
public:
    // AMaxFiles: most inputs and most outputs (1..512; anything else is a programming
    // error, EAssertionFailed).
    explicit TCustomFFmpeg(int AMaxFiles = 20);
    virtual ~TCustomFFmpeg();
    TCustomFFmpeg(const TCustomFFmpeg&) = delete;
    TCustomFFmpeg& operator=(const TCustomFFmpeg&) = delete;

    // One option of the job option language; throws FFmpegException for a rejected
    // value (see the option table in FFmpegOpt.cpp).
    void SetExtOption(const QString& AName, const QString& AValue);

    // Opens one input with the pending options (then reset). False with LastErrMsg.
    bool OpenInput(const QString& AFileName);
    // Opens one output with the pending options (then reset): the number of outputs,
    // or -1 with LastErrMsg.
    int OpenOutput(const QString& AFileName, bool AJoin);
    // Adds one more stream of `type` to the last opened output ("newvideo" ...).
    void NewStream(AVMediaType type);
    // After the output is open with joining asked: repeats the streams per input.
    void PrepareJoin();
    // A target preset ("vcd", "pal-dvd", ...); `defaultNorm` "pal" or "ntsc" is used when
    // the norm cannot be guessed. Throws FFmpegException.
    void ApplyTarget(const QString& value, const QString& defaultNorm);

    // Starts the conversion: with a thread, the worker runs it and this returns at once
    // (true); without, it runs here and returns when it has ended (false). Null work
    // (converting or ended already, nothing to do) also returns false.
    bool StartConvert(bool AUseThread);
    // Requests the end of the conversion; with AWaitForStop waits for the worker
    // (serving main-thread calls on the main thread).
    void Stop(bool AWaitForStop);
    // Holds the conversion before it reads its next packet / lets it go on.
    void Pause();
    void Resume();
    bool Paused() const { return FPaused; }
    // Ends a job that never started: its end is reported as for a stopped job.
    void TerminateUnstarted();

    void SetPostHooks(TPostHooks hooks);
    TPostHooks PostHooks() const;

    int nb_input_files() const { return int(FInputFiles.size()); }
    int nb_output_files() const { return int(FOutputFiles.size()); }
    bool Converting() const { return FConverting; }
    bool Finished() const { return FFinished; }
    bool Terminated() const { return FTerminated; }
    bool FatalException() const { return FFatalException; }
    QString FatalMessage() const { return FFatalMessage; }
    QString LastErrMsg() const { return FLastErrMsg; }
    int64_t TotalOutputDuration() const { return FTotalOutputDuration; }
    bool JoinMode() const { return FJoinMode; }
    int MaxFiles() const { return FMaxFiles; }
    // The format context of an output / input (null for a bad index); for inspection.
    AVFormatContext* OutputContext(int index) const;
    AVFormatContext* InputContext(int index) const;
    // The aspect ratio given for the next output (0: none).
    double FrameAspectRatio() const { return FFrameAspectRatio; }

    int ReadTimeout = 10000;          // ms; I/O limit while opening files
    int64_t ReportInterval = 500000;  // µs
    int64_t PreviewInterval = 100000; // µs
    bool HaltOnInvalidOption = true;
    int VideoHookBitsPixel = 24;
    int Verbose = 1;

    TJobProgressEvent OnProgress;
    TJobTerminateEvent OnTerminate;
    TJobVideoHookEvent OnInputVideoHook, OnOutputVideoHook;
    TJobFrameHookEvent OnInputFrameHook, OnOutputFrameHook;
    TJobAudioHookEvent OnAudioHook;
    TJobPreviewBitmapEvent OnPreviewBitmap;
    TJobBeforeFindStreamInfoEvent OnBeforeFindStreamInfo;

    // Implementation types, shared by the job's source files.
    struct TInputFile;
    struct TInputStream;
    struct TOutputStream;
    struct TOutputFile;
    struct TStreamMap {
        int FileIndex, StreamIndex, SyncFileIndex, SyncStreamIndex;
    };
    struct TMetaDataMap {
        int FileIndex;
        char Type;
        int Index;
    };

protected:
    friend class TVideoHookChain;
    friend struct TOptionTable;
    friend struct TTranscoder;

    // --- option state (reset per file where the tool does) ---
    QString FForceFormat;
    int FFrameWidth = 0, FFrameHeight = 0;
    double FFrameAspectRatio = 0;
    AVPixelFormat FFramePixFmt = AV_PIX_FMT_NONE;
    AVRational FFrameRate{0, 0};
    int FMaxFrames[AVMEDIA_TYPE_NB];
    float FVideoQScale = 0;
    QString FCodecName[AVMEDIA_TYPE_NB]; // pending forced codec per type ("copy" = copy)
    bool FDisable[AVMEDIA_TYPE_NB] = {};
    uint32_t FCodecTag[AVMEDIA_TYPE_NB] = {};
    QString FLanguage[AVMEDIA_TYPE_NB];
    bool FSameQuant = false, FDoDeinterlace = false;
    int FTopFieldFirst = -1, FIntraDcPrecision = 8;
    bool FLoopInput = false;
    int FLoopOutput = -1;
    int FAudioSampleRate = 0, FAudioChannels = 0;
    AVSampleFormat FAudioSampleFmt = AV_SAMPLE_FMT_NONE;
    float FAudioQScale = -99999;
    int FAudioVolume = 256, FAudioSyncMethod = 0, FVideoSyncMethod = -1;
    float FAudioDriftThreshold = 0.1f, FMuxPreload = 0.5f, FMuxMaxDelay = 0.7f;
    int64_t FRecordingTime = INT64_MAX, FStartTime = 0, FInputTsOffset = 0;
    int64_t FRecordingTimestamp = 0;
    bool FCopyTs = false, FCopyTb = false, FShortest = false, FInputSync = false;
    float FDtsDeltaThreshold = 10;
    int64_t FLimitFilesize = 0;
    int FProgramId = 0, FThreadCount = 1;
    bool FExitOnError = false;
    // A packet or the trailer could not be written (a full disk, a lost device): the job
    // ends instead of encoding on into a file that no longer grows.
    bool FOutputFailed = false;
    int FDoPass = 0;
    QString FPassLogFile, FVideoFilters, FForceKeyFrames, FRcOverride, FTvStd, FVStatsFile;
    bool FDoPsnr = false, FQpHist = false, FForceFps = false, FInputIsSync = false;
    bool FDump = false, FHex = false, FRateEmu = false, FCopyInitialNonKeyframes = false;
    int FVdt = 0, FMeThreshold = 0, FDcPrec = 0, FBitsPerRawSample = 0, FVideoChannel = 0;
    int FTopArg = 0;
    std::vector<uint16_t> FIntraMatrix, FInterMatrix;
    std::vector<std::pair<int, int>> FStreamIds;        // index, value for the next output
    std::vector<std::pair<QString, QString>> FMetadata; // for the next output
    std::vector<double> FPendingTsScale;                // per stream of the next input
    QString FBsf[AVMEDIA_TYPE_NB];                      // bit-stream filters for the next output
    std::vector<TStreamMap> FStreamMaps;
    std::vector<TMetaDataMap> FMetaDataMaps;
    std::vector<std::pair<int, int>> FChapterMaps;
    TFFOptions FOptions;

    // --- files and streams ---
    std::vector<std::unique_ptr<TInputFile>> FInputFiles;
    std::vector<std::unique_ptr<TInputStream>> FInputStreams;
    std::vector<std::unique_ptr<TOutputFile>> FOutputFiles;
    std::vector<std::unique_ptr<TOutputStream>> FOutputStreams; // all outputs, in order

    // --- job state ---
    int FMaxFiles;
    std::atomic<bool> FConverting{false}, FBroken{false}, FFinished{false}, FTerminated{false},
        FPaused{false};
    bool FFatalException = false;
    QString FFatalMessage, FLastErrMsg;
    std::atomic<int64_t> FLastRead{INT64_MAX};
    int64_t FTotalOutputDuration = -1;
    bool FJoinMode = false;
    int FJoinPart = 0;
    std::thread FWorker;
    TEvent FStopEvent{true};
    std::mutex FPauseMutex;
    std::condition_variable FPauseChanged;
    // Pauses begun, and pauses the reading loop has acted on (guarded by FPauseMutex):
    // a pause that begins and ends while the loop waits inside a read is still seen.
    unsigned FPausesBegun = 0, FPausesSeen = 0;
    // True while the worker writes a packet: a stop never cuts an output's write short
    // (the file would lose that packet and, with it, everything after it).
    bool FMuxing = false;
    std::atomic<bool> FOpenCancelled{false};
    TPostHooks FPostHooks = 0; // guarded by PostHookLock()
    bool FPostHooksChanged = false;
    std::unique_ptr<TVideoHookChain> FHookChain;
    std::unique_ptr<TPreviewer> FPreviewer;
    int64_t FLastPreview = 0;
    int64_t FStartRealTime = 0, FLastReport = 0;
    int FDupFrames = 0, FDropFrames = 0, FReportedDupDrop = 0;
    int64_t FVideoSize = 0, FAudioSize = 0, FExtraSize = 0;
    int FFileIndex = -1;
    // Hook state: the bitmap hooks are disconnected for the rest of the job on failure.
    bool FInputHookOff = false, FOutputHookOff = false;

    // implementation pieces
    void ResetInputOptions();
    void ResetOutputOptions();
    bool SetGenericOption(const QString& name, const QString& value);
    void ApplyGeneric(const QString& name, const QString& value);
    void ApplyBitRate(const QString& name, const QString& value);
    const AVCodec* FindCodec(const QString& name, AVMediaType type, bool encoder, int strict);
    void ApplyPresetFile(const QString& path, AVMediaType kind);
    void AddVideoHook(const QString& value);
    TOutputStream* CreateStream(TOutputFile& of, AVMediaType type);
    void ConfigureStream(TOutputStream& ost, AVFormatContext* oc);
    void Conversion();
    void Transcode();
    void Terminate();
    void FreeAll();
    void ReportProgress(bool last);
    void WaitWhilePaused();
    int ReadPacket(TInputFile& file, AVPacket* pkt);
    void ProcessPacket(TInputStream& ist, AVPacket* pkt);
    // The input stream's clock from a decoded frame: its best time stamp, else the
    // time the stream expected next.
    static void TakeFrameTime(TInputStream& ist, const AVFrame* frame);
    void ProcessVideo(TInputStream& ist, AVFrame* frame);
    void ProcessAudio(TInputStream& ist, AVFrame* frame);
    void ProcessSubtitle(TInputStream& ist, AVPacket* pkt);
    void DoVideoOut(TOutputStream& ost, TInputStream& ist, AVFrame* frame, int64_t pts);
    void DoVideoSync(TOutputStream& ost, TInputStream& ist, AVFrame* frame, int64_t pts);
    void DoAudioOut(TOutputStream& ost, TInputStream& ist, AVFrame* frame);
    void DrainAudioFifo(TOutputStream& ost, bool flush);
    // Appends `samples` of silence to the stream's sound queue.
    void QueueSilence(TOutputStream& ost, int64_t samples);
    // Moves the samples the resampler still holds into the sound queue.
    void FlushResampler(TOutputStream& ost);
    // Takes a sound stream's negative start out of its own times where the writer cannot
    // store negative times.
    void ShiftNegativeStart(TOutputStream& ost, AVPacket* pkt);
    void DoStreamCopy(TOutputStream& ost, TInputStream& ist, AVPacket* pkt);
    void EncodeFrame(TOutputStream& ost, AVFrame* frame);
    void WritePacket(TOutputStream& ost, AVPacket* pkt);
    // Marks the output as failed and raises FFmpeg's text for `error` with the file name.
    [[noreturn]] void RaiseWriteError(const TOutputFile& of, int error);
    // Writes one packet to the output; a failed write raises RaiseWriteError.
    void Mux(const TOutputFile& of, AVPacket* pkt);
    void SetupStreams();
    void MapJoinPart(int part);
    void FlushInputFile(int fileIndex);
    void FlushEncoders();
    // hooks (FrameHook.cpp)
    AVFrame* InputProcessing(TInputStream& ist, AVFrame* frame);
    AVFrame* OutputProcessing(TOutputStream& ost, AVFrame* frame, int frameNumber, int64_t pts);
    void PostHookProcessing(TOutputStream& ost, AVFrame* frame, int frameNumber, int64_t pts);
    void CallAudioHook(TInputStream& ist, AVFrame* frame);
    bool OpenInterrupted();
    static bool OpenInterruptProc(void* sender);
    static bool TranscodeInterruptProc(void* sender);
};

// The job the encoder creates, one per task.
class TFFmpeg : public TCustomFFmpeg {
public:
    TFFmpeg(void* AParent, int AMaxFiles) : TCustomFFmpeg(AMaxFiles), Parent(AParent) {}
    void* Parent; // the encoder that owns the job
    // The records the encoder applied, per input and per output index.
    std::map<int, TInputOptions> InputOptions;
    std::map<int, TOutputOptions> OutputOptions;
};

// An ordered list of jobs that owns them.
class TFFmpegList {
public:
    ~TFFmpegList() { Clear(); }
    int Count() const { return int(FItems.size()); }
    // Throws EFFError "List index out of bounds (%d)" for a bad index.
    TFFmpeg* Item(int index) const;
    int Add(TFFmpeg* job);
    void Delete(int index);
    void Exchange(int index1, int index2);
    int IndexOf(const TCustomFFmpeg* job) const;
    void Clear();
    void Pause();
    void Resume();
    void SetPostHooks(TPostHooks hooks);

private:
    std::vector<std::unique_ptr<TFFmpeg>> FItems;
};

// Microseconds of a monotonic clock (av_gettime_relative).
int64_t JobNow();
