#pragma once

// The private side of the transcoding job (TCustomFFmpeg in media/FFmpeg.h): its option
// state, its files and streams, and its run state, shared by the job's source files.
// Each file holds one stage of the way a packet takes:
//
//   JobState.cpp     creation and release of the state; helpers every stage shares
//   JobOptions.cpp   the option language (a table of options), generic options, presets
//   JobTargets.cpp   target presets ("vcd", "pal-dvd", ...)
//   JobInput.cpp     opening inputs, reading packets, input time stamps
//   JobMap.cpp       which input stream feeds which output stream; stream set-up
//   JobDecode.cpp    decoders: packets into frames
//   JobConvert.cpp   filters, scaling, video sync, resampling, sound sync, volume
//   JobHooks.cpp     the hook points on decoded and converted pictures and sound
//   JobEncode.cpp    encoders: frames into packets
//   JobMux.cpp       outputs: streams, headers, writing packets, stream copy, trailers
//   JobLoop.cpp      the conversion loop that drives the stages; start, stop, pause
//   JobSound.cpp     sound inputs read, decoded and encoded on threads of their own
//   JobProgress.cpp  progress reports
//
// Everything here runs on the thread that runs the conversion, except the open calls
// and setters (the controlling thread), Pause/Resume/Stop, which use the atomics and
// the pause lock, and the sound workers (JobSound.cpp), which own their input and the
// streams it feeds while they run.

#include "media/Event.h"
#include "media/FFmpeg.h"
#include "media/job/JobOptions.h"
#include "media/job/JobStreams.h"

#include <QByteArray>
#include <QString>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

class TVideoHookChain;
class TPreviewer;

// Throws FFmpegException with a printf-formatted message.
[[noreturn]] void FFRaise(const char* format, ...) __attribute__((format(printf, 1, 2)));
QString FFFormat(const char* format, ...) __attribute__((format(printf, 1, 2)));

// A text for FFmpeg's UTF-8 C strings.
inline QByteArray Utf8(const QString& text) {
    return text.toUtf8();
}

// Microseconds of a monotonic clock (av_gettime_relative).
int64_t JobNow();

// "video", "audio", "subtitle", "data" or "unknown".
const char* MediaName(AVMediaType type);
// FFmpeg's name of a media type ("unknown" for none).
const char* TypeName(AVMediaType type);

struct TJob {
    TJob(TCustomFFmpeg& owner, int maxFiles);
    ~TJob();
    TJob(const TJob&) = delete;
    TJob& operator=(const TJob&) = delete;

    // The facade: its settings and event handlers, and the sender of its events.
    TCustomFFmpeg& FOwner;

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

    // --- hooks (declared before the files: released after them) ---
    std::unique_ptr<TVideoHookChain> FHookChain;
    std::unique_ptr<TPreviewer> FPreviewer;

    // --- files and streams ---
    std::vector<std::unique_ptr<TInputFile>> FInputFiles;
    std::vector<std::unique_ptr<TInputStream>> FInputStreams;
    std::vector<std::unique_ptr<TOutputFile>> FOutputFiles;
    std::vector<std::unique_ptr<TOutputStream>> FOutputStreams; // all outputs, in order
    std::vector<std::unique_ptr<TSoundWorker>> FSoundWorkers;   // while the loop runs

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
    // A packet or the trailer could not be written (a full disk, a lost device): the job
    // ends instead of encoding on into a file that no longer grows.
    bool FOutputFailed = false;
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
    int64_t FLastPreview = 0;
    int64_t FStartRealTime = 0, FLastReport = 0;
    int FDupFrames = 0, FDropFrames = 0, FReportedDupDrop = 0;
    int64_t FVideoSize = 0, FAudioSize = 0, FExtraSize = 0;
    int FFileIndex = -1;
    // Hook state: the bitmap hooks are disconnected for the rest of the job on failure.
    bool FInputHookOff = false, FOutputHookOff = false;

    // --- options (JobOptions.cpp, JobTargets.cpp) ---
    void SetExtOption(const QString& name, const QString& value);
    void ResetInputOptions();
    void ResetOutputOptions();
    bool SetGenericOption(const QString& name, const QString& value);
    void ApplyGeneric(const QString& name, const QString& value);
    void ApplyBitRate(const QString& name, const QString& value);
    const AVCodec* FindCodec(const QString& name, AVMediaType type, bool encoder, int strict);
    void ApplyPresetFile(const QString& path);
    void ApplyTarget(const QString& value, const QString& defaultNorm);

    // --- input (JobInput.cpp) ---
    bool OpenInput(const QString& fileName);
    // Opens, probes and adds one input; false with FLastErrMsg, or throws.
    bool OpenAndProbe(const QString& fileName);
    bool OpenInputContext(const QString& fileName, const AVInputFormat* fmt, TInputContextPtr& ic);
    bool SelectProgram(AVFormatContext* ic);
    bool FindStreamInfo(const QString& fileName, AVFormatContext* ic);
    // Seeks to the start time asked for; the time sought, in µs.
    int64_t SeekToStart(const QString& fileName, AVFormatContext* ic);
    void AddInputFile(const QString& fileName, TInputContextPtr ic, bool own,
                      const AVCodec* const forced[], int64_t timestamp);
    int ReadPacket(TInputFile& file, AVPacket* pkt);
    // Moves a packet's times by its input's offset and scale, and follows a jump in the
    // times of an input that may have them.
    void AdjustPacketTimes(TInputFile& file, TInputStream& ist, AVPacket* pkt);
    static bool OpenInterruptProc(void* sender);

    // --- stream set-up (JobMap.cpp) ---
    void SetupStreams();
    void MapStreams();
    void MapByTable();
    void MapByType();
    void MapJoinPart(int part);
    void MarkStreamsRead();
    void RefuseCopyWithHooks();
    void LogStreamMapping();

    // --- decoding (JobDecode.cpp) ---
    void OpenDecoders();
    void ProcessPacket(TInputStream& ist, AVPacket* pkt);
    void ProcessSubtitle(TInputStream& ist, AVPacket* pkt);
    // The input stream's clock from a decoded frame: its best time stamp, else the
    // time the stream expected next.
    static void TakeFrameTime(TInputStream& ist, const AVFrame* frame);
    void ProcessVideo(TInputStream& ist, AVFrame* frame);
    void ProcessAudio(TInputStream& ist, AVFrame* frame);
    void FlushInputFile(int fileIndex);
    // What the input's decoders still hold, decoded and passed on.
    void FlushDecoders(int fileIndex);

    // --- conversion (JobConvert.cpp) ---
    void DoVideoOut(TOutputStream& ost, TInputStream& ist, AVFrame* frame, int64_t pts);
    void FilterVideo(TOutputStream& ost, TInputStream& ist, AVFrame* frame, int64_t pts);
    void DrainFilter(TOutputStream& ost, TInputStream& ist, int64_t pts);
    void FlushFilters(int fileIndex);
    void DoVideoSync(TOutputStream& ost, TInputStream& ist, AVFrame* frame, int64_t pts);
    // How many times the picture at `pts` goes out under the stream's video sync.
    int VideoFrameCount(TOutputStream& ost, int64_t pts);
    AVFrame* ScaleToEncoder(TOutputStream& ost, AVFrame* frame);
    void ApplyVolume(AVFrame* frame);
    void DoAudioOut(TOutputStream& ost, TInputStream& ist, AVFrame* frame);
    void SetupResampler(TOutputStream& ost, const AVFrame* frame);
    // Places `count` converted samples against the input's time: returns how many to
    // skip, after queueing any silence that goes before them.
    int SyncAudio(TOutputStream& ost, TInputStream& ist, int count);
    // Appends `samples` of silence to the stream's sound queue.
    void QueueSilence(TOutputStream& ost, int64_t samples);
    // Moves the samples the resampler still holds into the sound queue.
    void FlushResampler(TOutputStream& ost);

    // --- hooks (JobHooks.cpp) ---
    AVFrame* InputProcessing(TInputStream& ist, AVFrame* frame);
    AVFrame* OutputProcessing(TOutputStream& ost, AVFrame* frame, int frameNumber, int64_t pts);
    void PostHookProcessing(TOutputStream& ost, AVFrame* frame, int frameNumber, int64_t pts);
    void CallAudioHook(TInputStream& ist, AVFrame* frame);

    // --- encoding (JobEncode.cpp) ---
    void CreateEncoder(TOutputStream& ost, const TOutputFile& of, AVFormatContext* oc);
    void ApplyVideoEncoderOptions(TOutputStream& ost);
    void SetEncoderParameters(TOutputStream& ost);
    void SetVideoParameters(TOutputStream& ost, const TInputStream& ist, AVFormatContext* oc);
    void SetAudioParameters(TOutputStream& ost, const AVCodecParameters* par);
    void OpenEncoders();
    void OpenEncoder(TOutputStream& ost);
    void EncodeVideoFrames(TOutputStream& ost, AVFrame* picture, int count);
    void EncodeSubtitle(TOutputStream& ost, AVSubtitle& sub, int64_t pts);
    void DrainAudioFifo(TOutputStream& ost, bool flush);
    void EncodeFrame(TOutputStream& ost, AVFrame* frame);
    void FlushEncoders();
    void FlushEncoder(TOutputStream& ost);

    // --- output (JobMux.cpp) ---
    int OpenOutput(const QString& fileName, bool join);
    void WantedStreams(const AVOutputFormat* ofmt, bool want[AVMEDIA_TYPE_NB]) const;
    void SetOutputMetadata(AVFormatContext* oc);
    // Opens the output's file; 0 or FFmpeg's error code.
    int OpenOutputFile(TOutputFile& of, const QByteArray& name);
    void DropLastOutput();
    TOutputStream* CreateStream(TOutputFile& of, AVMediaType type);
    void SetStreamSettings(TOutputStream& ost, AVMediaType type);
    void AddBitstreamFilters(TOutputStream& ost, AVMediaType type);
    void NewStream(AVMediaType type);
    void PrepareJoin();
    void CopyStreamParameters(TOutputStream& ost, const TInputStream& ist, AVFormatContext* oc);
    void CopyMetadata();
    void WriteHeaders();
    void DoStreamCopy(TOutputStream& ost, TInputStream& ist, AVPacket* pkt);
    // Takes a sound stream's negative start out of its own times where the writer cannot
    // store negative times.
    void ShiftNegativeStart(TOutputStream& ost, AVPacket* pkt);
    void WritePacket(TOutputStream& ost, AVPacket* pkt);
    // Writes one packet to the output; a failed write raises RaiseWriteError.
    void Mux(const TOutputFile& of, AVPacket* pkt);
    // Marks the output as failed and raises FFmpeg's text for `error` with the file name.
    [[noreturn]] void RaiseWriteError(const TOutputFile& of, int error);
    void WriteTrailers();

    // --- the loop (JobLoop.cpp) ---
    bool StartConvert(bool useThread);
    void Conversion();
    void Transcode();
    // After the loop: the packets still to come, the flush of every stage, the trailers
    // and the last report.
    void FinishOutputs();
    // The input to read next, -1 when none is ready; `done` when reading is over.
    int NextInputFile(bool& done);
    // The end of an input; false when the loop ends with it.
    bool EndOfInput(int fileIndex);
    // Whether the packet lies past the recording time of the outputs its stream feeds.
    bool PastRecordingTime(TInputStream& ist, const AVPacket* pkt) const;
    void Terminate();
    void TerminateUnstarted();
    void Stop(bool waitForStop);
    void Pause();
    void Resume();
    void WaitWhilePaused();
    void FreeAll();
    static bool TranscodeInterruptProc(void* sender);

    // --- sound workers (JobSound.cpp) ---
    // Whether the input may go to a sound worker: a file of sound streams alone that
    // feed encoders of sound alone.
    bool SoundWorkerFits(int fileIndex) const;
    // Starts a worker for every input that fits, when the job has another input.
    void StartSoundWorkers();
    void RunSoundWorker(TSoundWorker& worker);
    // The worker's reading: false when it ended early (a stop, the recording time).
    bool ReadSoundInput(TSoundWorker& worker, AVPacket* pkt);
    // Waits while the worker's queue is full; false when reading is to end.
    bool WaitForRoom(TSoundWorker& worker);
    // Hands an encoded packet of a worker's stream to the loop (worker thread).
    void QueueSoundPacket(TOutputStream& ost, AVPacket* pkt);
    // Writes the worker's next packet: 1 written, 0 none yet (the job is stopping),
    // -1 the input has ended. Raises what ended the worker early.
    int WriteSoundPacket(TSoundWorker& worker, bool waitWhileBroken);
    // Ends reading in every worker, writes the packets they still make, and joins them;
    // with `write` false (an error ends the job) the packets are dropped.
    void EndSoundWorkers(bool write);
    static bool SoundInterruptProc(void* sender);

    // --- progress (JobProgress.cpp) ---
    void ReportProgress(bool last);
};
