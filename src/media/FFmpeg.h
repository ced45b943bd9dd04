#pragma once

#include "media/FFErrors.h"
#include "media/FFOptionRecords.h"

#include <QString>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <vector>

class QImage;
struct AVFormatContext;
struct TAVPicture; // media/FFUtils.h
struct TJob;       // the job's private state (media/job/JobState.h)

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
    // value (see the option table in job/JobOptions.cpp).
    void SetExtOption(const QString& AName, const QString& AValue);

    // Opens one input with the pending options (then reset). False with LastErrMsg.
    bool OpenInput(const QString& AFileName);
    // Opens one output with the pending options (then reset): the number of outputs,
    // or -1 with LastErrMsg.
    int OpenOutput(const QString& AFileName, bool AJoin);
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
    bool Paused() const;
    // Ends a job that never started: its end is reported as for a stopped job.
    void TerminateUnstarted();

    void SetPostHooks(TPostHooks hooks);
    TPostHooks PostHooks() const;

    int nb_input_files() const;
    int nb_output_files() const;
    bool Converting() const;
    bool Finished() const;
    bool Terminated() const;
    bool FatalException() const;
    QString FatalMessage() const;
    QString LastErrMsg() const;
    int64_t TotalOutputDuration() const;
    bool JoinMode() const;
    int MaxFiles() const;
    // The format context of an output / input (null for a bad index); for inspection.
    AVFormatContext* OutputContext(int index) const;
    AVFormatContext* InputContext(int index) const;
    // The aspect ratio given for the next output (0: none).
    double FrameAspectRatio() const;

    int ReadTimeout = 10000;          // ms; I/O limit while opening files
    int64_t ReportInterval = 500000;  // µs
    int64_t PreviewInterval = 100000; // µs
    bool HaltOnInvalidOption = true;
    int VideoHookBitsPixel = 24;
    int Verbose = 1;
    // A sound file that feeds encoders alone (the song of a lyrics video) is read,
    // decoded and encoded on a thread of its own beside the job's other inputs; off,
    // the job's one thread does everything. The output's content is the same.
    bool ParallelSound = true;

    TJobProgressEvent OnProgress;
    TJobTerminateEvent OnTerminate;
    TJobVideoHookEvent OnInputVideoHook, OnOutputVideoHook;
    TJobFrameHookEvent OnInputFrameHook, OnOutputFrameHook;
    TJobAudioHookEvent OnAudioHook;
    TJobPreviewBitmapEvent OnPreviewBitmap;
    TJobBeforeFindStreamInfoEvent OnBeforeFindStreamInfo;

private:
    std::unique_ptr<TJob> FJob;
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
