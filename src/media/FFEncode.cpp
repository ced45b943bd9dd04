#include "media/FFEncode.h"

#include "media/Event.h"
#include "media/EventThread.h"
#include "media/FFLoad.h"
#include "media/FFLog.h"
#include "media/FFmpeg.h"
#include "media/MainThread.h"

#include <QImage>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <vector>

// Every handler of the encoder, read and written under one lock.
struct TCustomEncoder::THandlers {
    TProgressEvent Progress;
    TTerminateEvent Terminate;
    TVideoHookEvent VideoInputHook, VideoOutputHook;
    TFrameHookEvent FrameInputHook, FrameOutputHook;
    TAudioHookEvent AudioHook;
    TPreviewBitmapEvent PreviewBitmap;
    TBeforeFindStreamInfoEvent BeforeFindStreamInfo;
};

struct TCustomEncoder::TState {
    TFFmpegList Tasks; // not changed while working

    // The run of the list, under RunLock. A task is claimed (CurrentTask moves past it)
    // by whoever starts it or, in Stop, ends it unstarted, so no task is both.
    std::mutex RunLock;
    int CompleteTasks = 0;
    int CurrentTask = -1; // the next task to claim; -1 when idle
    int PendingTasks = 0; // tasks not claimed yet
    int Starting = 0;     // claimed tasks whose start has not returned yet
    bool ThreadMode = false;
    bool StopRequested = false;
    std::atomic<bool> Terminated{false}, Working{false}, Paused{false};

    mutable std::mutex HandlerLock;
    THandlers Handlers;

    // Events of one kind never overlap: reports that may go to the main thread (progress,
    // preview, before-probe) take ReportLock, the worker-thread hooks HookLock.
    std::mutex ReportLock, HookLock;

    bool Preview = false, PreviewBitmap = false;
    int ProgressInterval = 500;
    QString LastErrMsg;

    // Terminate events of thread mode, in the order of the ends. Declared last: it is
    // joined before anything it delivers from goes.
    TEventThread Events;
};

template <class TEvent> TEvent TCustomEncoder::Handler(TEvent THandlers::*event) const {
    std::lock_guard lock(F->HandlerLock);
    return F->Handlers.*event;
}

template <class TEvent> void TCustomEncoder::SetHandler(TEvent THandlers::*event, TEvent handler) {
    {
        std::lock_guard lock(F->HandlerLock);
        std::swap(F->Handlers.*event, handler);
    }
    // the old handler goes here, outside the lock: its captures may be anything
}

TCustomEncoder::TCustomEncoder(QObject* owner)
    : TFFBaseComponent(owner), F(std::make_unique<TState>()) {}

TCustomEncoder::~TCustomEncoder() {
    Stop(true);
    F->Events.WaitIdle();
    F->Tasks.Clear();
}

bool TCustomEncoder::LoadAVLib(const QString& path) {
    FFLoader.SetLibraryPath(path);
    if (!FFLoader.Load(TLibraries::All())) {
        F->LastErrMsg = FFLoader.LastErrMsg();
        return false;
    }
    return true;
}

bool TCustomEncoder::AVLibLoaded() const {
    return FFLoader.Loaded(TLibraries::All());
}

void TCustomEncoder::UnloadAVLib() {
    FFLoader.Unload(TLibraries::All());
}

void TCustomEncoder::Refuse(bool condition, const char* call) const {
    if (condition)
        throw EFFError(QStringLiteral("Cannot %1 while working.").arg(QLatin1String(call)));
}

// ---------------------------------------------------------------------------------------
// properties

TFFmpeg* TCustomEncoder::Task(int ATaskIndex) const {
    return F->Tasks.Item(ATaskIndex);
}

int TCustomEncoder::TasksCount() const {
    return F->Tasks.Count();
}

int TCustomEncoder::GetTaskIndex(const TCustomFFmpeg* job) const {
    return F->Tasks.IndexOf(job);
}

QString TCustomEncoder::LastErrMsg() const {
    return F->LastErrMsg;
}

bool TCustomEncoder::Working() const {
    return F->Working;
}

bool TCustomEncoder::Paused() const {
    return F->Paused;
}

bool TCustomEncoder::Terminated() const {
    return F->Terminated;
}

bool TCustomEncoder::Preview() const {
    return F->Preview;
}

bool TCustomEncoder::PreviewBitmap() const {
    return F->PreviewBitmap;
}

void TCustomEncoder::SetPreview(bool value) {
    F->Preview = value;
    ApplyPostHooks();
}

void TCustomEncoder::SetPreviewBitmap(bool value) {
    F->PreviewBitmap = value;
    ApplyPostHooks();
}

void TCustomEncoder::ApplyPostHooks() {
    F->Tasks.SetPostHooks((F->Preview ? phPreview : 0u) | (F->PreviewBitmap ? phBitmap : 0u));
}

int TCustomEncoder::ProgressInterval() const {
    return F->ProgressInterval;
}

void TCustomEncoder::SetProgressInterval(int value) {
    F->ProgressInterval = value <= 100 ? 100 : value;
}

void TCustomEncoder::SetOnProgress(TProgressEvent e) {
    SetHandler(&THandlers::Progress, std::move(e));
}
void TCustomEncoder::SetOnTerminate(TTerminateEvent e) {
    SetHandler(&THandlers::Terminate, std::move(e));
}
void TCustomEncoder::SetOnVideoInputHook(TVideoHookEvent e) {
    SetHandler(&THandlers::VideoInputHook, std::move(e));
}
void TCustomEncoder::SetOnVideoOutputHook(TVideoHookEvent e) {
    SetHandler(&THandlers::VideoOutputHook, std::move(e));
}
void TCustomEncoder::SetOnFrameInputHook(TFrameHookEvent e) {
    SetHandler(&THandlers::FrameInputHook, std::move(e));
}
void TCustomEncoder::SetOnFrameOutputHook(TFrameHookEvent e) {
    SetHandler(&THandlers::FrameOutputHook, std::move(e));
}
void TCustomEncoder::SetOnAudioHook(TAudioHookEvent e) {
    SetHandler(&THandlers::AudioHook, std::move(e));
}
void TCustomEncoder::SetOnPreviewBitmap(TPreviewBitmapEvent e) {
    SetHandler(&THandlers::PreviewBitmap, std::move(e));
}
void TCustomEncoder::SetOnBeforeFindStreamInfo(TBeforeFindStreamInfoEvent e) {
    SetHandler(&THandlers::BeforeFindStreamInfo, std::move(e));
}

// ---------------------------------------------------------------------------------------
// events of the jobs

// Runs a report's delivery on the main thread when asked to, else here; reports of any
// kind from several tasks take turns.
void TCustomEncoder::Raise(const std::function<void()>& call) {
    std::lock_guard lock(F->ReportLock);
    if (TriggerEventInMainThread)
        CallInMainThread(call);
    else
        call();
}

void TCustomEncoder::ConnectJob(TFFmpeg* job) {
    job->OnBeforeFindStreamInfo = [this](TCustomFFmpeg* sender, AVFormatContext* ctx) {
        if (Handler(&THandlers::BeforeFindStreamInfo))
            Raise([&] {
                if (const auto handler = Handler(&THandlers::BeforeFindStreamInfo))
                    handler(sender, ctx);
            });
    };
    job->OnPreviewBitmap = [this](TCustomFFmpeg* sender, QImage* bitmap, int frame, int64_t pts) {
        if (Handler(&THandlers::PreviewBitmap))
            Raise([&] {
                const TPreviewInfo info{GetTaskIndex(sender), bitmap, frame, pts};
                if (const auto handler = Handler(&THandlers::PreviewBitmap))
                    handler(this, info);
            });
    };
    job->OnProgress = [this](TCustomFFmpeg* sender, int fileIndex, int frame, int fps,
                             float quality, float bitrate, int64_t size, int64_t duration,
                             int64_t total) {
        if (Handler(&THandlers::Progress))
            Raise([&] {
                TProgressInfo info{GetTaskIndex(sender),
                                   fileIndex,
                                   frame,
                                   fps,
                                   quality,
                                   bitrate,
                                   size,
                                   duration,
                                   total};
                if (const auto handler = Handler(&THandlers::Progress))
                    handler(this, &info);
            });
    };
    job->OnTerminate = [this](TCustomFFmpeg* sender) { JobTerminate(sender); };
}

void TCustomEncoder::ConnectHooks(TFFmpeg* job, const TOutputOptions& o) {
    auto videoHook = [this](TVideoHookEvent THandlers::*event) {
        return [this, event](TCustomFFmpeg* sender, QImage* bitmap, int frame, int64_t pts,
                             bool& update, bool& stopHook) {
            const TVideoHookEvent handler = Handler(event);
            if (!handler)
                return;
            std::lock_guard lock(F->HookLock);
            THookInfo info{GetTaskIndex(sender), bitmap, frame, pts, update, stopHook};
            handler(this, &info);
            update = info.Update;
            stopHook = info.StopHook;
        };
    };
    auto frameHook = [this](TFrameHookEvent THandlers::*event) {
        return [this, event](TCustomFFmpeg* sender, TAVPicture* picture, int pixFmt, int frame,
                             int width, int height, int64_t pts) {
            const TFrameHookEvent handler = Handler(event);
            if (!handler)
                return;
            std::lock_guard lock(F->HookLock);
            TFrameHookInfo info{GetTaskIndex(sender), frame, picture, pixFmt, width, height, pts};
            handler(this, &info);
        };
    };
    if (o.AudioHook)
        job->OnAudioHook = [this](TCustomFFmpeg* sender, int64_t pts, void* sample, int size,
                                  int rate, int channels, int format) {
            const TAudioHookEvent handler = Handler(&THandlers::AudioHook);
            if (!handler)
                return;
            std::lock_guard lock(F->HookLock);
            handler(this, GetTaskIndex(sender), pts, sample, size, rate, channels, format);
        };
    if (o.VideoInputHook)
        job->OnInputVideoHook = videoHook(&THandlers::VideoInputHook);
    if (o.VideoOutputHook)
        job->OnOutputVideoHook = videoHook(&THandlers::VideoOutputHook);
    if (o.FrameInputHook)
        job->OnInputFrameHook = frameHook(&THandlers::FrameInputHook);
    if (o.FrameOutputHook)
        job->OnOutputFrameHook = frameHook(&THandlers::FrameOutputHook);
    job->VideoHookBitsPixel = o.VideoHookBitsPixel;
}

// ---------------------------------------------------------------------------------------
// tasks

bool TCustomEncoder::OpenInput(TFFmpeg* job, int index, const QString& AFileName,
                               const TInputOptions* AOptions) {
    job->HaltOnInvalidOption = HaltOnInvalidOption;
    if (AOptions) {
        TInputOptions copy = *AOptions;
        if (copy.FileName.isEmpty()) {
            copy.FileName = AFileName;
            const_cast<TInputOptions*>(AOptions)->FileName = AFileName;
        }
        job->InputOptions[index] = copy;
        ApplyInputOptions(job, copy);
    } else {
        job->InputOptions.erase(index);
    }
    job->ReadTimeout = ReadTimeout;
    if (!job->OpenInput(AFileName)) {
        F->LastErrMsg = job->LastErrMsg();
        job->InputOptions.erase(index);
        return false;
    }
    return true;
}

int TCustomEncoder::AddTask(const QString& AFileName, const TInputOptions* AOptions) {
    Refuse(F->Working, "AddTask");
    if (!AVLibLoaded()) {
        F->LastErrMsg = QStringLiteral("The FFmpeg libraries are not loaded.");
        return -1;
    }
    auto job = std::make_unique<TFFmpeg>(this, CustomMaxFiles);
    job->Verbose = Verbose;
    job->ParallelSound = ParallelSound;
    job->SetPostHooks((F->Preview ? phPreview : 0u) | (F->PreviewBitmap ? phBitmap : 0u));
    ConnectJob(job.get());
    try {
        if (!OpenInput(job.get(), 0, AFileName, AOptions))
            return -1;
    } catch (const std::exception& error) {
        F->LastErrMsg = QString::fromUtf8(error.what());
        return -1;
    }
    return F->Tasks.Add(job.release());
}

int TCustomEncoder::AddTask(const QString& AFileName, const QString& AExtOptions) {
    const TInputOptions options = InputOptionsFromText(AExtOptions);
    return AddTask(AFileName, &options);
}

bool TCustomEncoder::AddInputFile(int ATaskIndex, const QString& AFileName,
                                  const TInputOptions* AOptions) {
    Refuse(F->Working, "AddInputFile");
    TFFmpeg* job = F->Tasks.Item(ATaskIndex);
    if (job->nb_input_files() >= CustomMaxFiles) {
        F->LastErrMsg = QStringLiteral("max input files %1 reached").arg(CustomMaxFiles);
        return false;
    }
    const int index = job->nb_input_files();
    try {
        return OpenInput(job, index, AFileName, AOptions);
    } catch (const std::exception& error) {
        F->LastErrMsg = QString::fromUtf8(error.what());
        job->InputOptions.erase(index);
        return false;
    }
}

bool TCustomEncoder::AddInputFile(int ATaskIndex, const QString& AFileName,
                                  const QString& AExtOptions) {
    const TInputOptions options = InputOptionsFromText(AExtOptions);
    return AddInputFile(ATaskIndex, AFileName, &options);
}

bool TCustomEncoder::SetOutputFile(int ATaskIndex, const QString& AFileName,
                                   const TOutputOptions* AOptions) {
    Refuse(F->Working, "SetOutputFile");
    TFFmpeg* job = F->Tasks.Item(ATaskIndex);
    if (job->nb_output_files() >= CustomMaxFiles) {
        F->LastErrMsg = QStringLiteral("max output files %1 reached").arg(CustomMaxFiles);
        return false;
    }
    job->HaltOnInvalidOption = HaltOnInvalidOption;
    const int index = job->nb_output_files();
    try {
        TOutputOptions options;
        if (AOptions) {
            options = *AOptions;
            if (options.FileName.isEmpty()) {
                options.FileName = AFileName;
                const_cast<TOutputOptions*>(AOptions)->FileName = AFileName;
            }
            job->OutputOptions[index] = options;
        } else {
            InitOutputOptions(&options);
            job->OutputOptions.erase(index);
        }
        TOutputStreamSettings streams(AOptions ? options : TOutputOptions());
        if (AOptions) {
            ApplyOutputOptions(job, options, streams);
            ConnectHooks(job, options);
        }
        job->ReadTimeout = ReadTimeout;
        const bool join = AOptions && options.Join;
        if (job->OpenOutput(AFileName, join) < 0) {
            F->LastErrMsg = job->LastErrMsg();
            job->OutputOptions.erase(index);
            return false;
        }
        streams.AddStreams(job);
        if (join)
            job->PrepareJoin();
        return true;
    } catch (const std::exception& error) {
        F->LastErrMsg = QString::fromUtf8(error.what());
        job->OutputOptions.erase(index);
        return false;
    }
}

bool TCustomEncoder::SetOutputFile(int ATaskIndex, const QString& AFileName,
                                   const QString& AExtOptions) {
    const TOutputOptions options = OutputOptionsFromText(AExtOptions);
    return SetOutputFile(ATaskIndex, AFileName, &options);
}

void TCustomEncoder::ClearTasks() {
    if (F->Working && !F->Terminated)
        throw EFFError(QStringLiteral("Cannot ClearTasks while working."));
    // every end is delivered before the jobs go
    F->Events.WaitIdle();
    F->Tasks.Clear();
    std::lock_guard lock(F->RunLock);
    F->LastErrMsg.clear();
    F->CompleteTasks = 0;
    F->CurrentTask = -1;
    F->PendingTasks = 0;
    F->Terminated = false;
    F->ThreadMode = false;
    F->StopRequested = false;
    F->Working = false;
    F->Paused = false;
}

void TCustomEncoder::RemoveTask(int ATaskIndex) {
    Refuse(F->Working, "RemoveTask");
    F->Tasks.Delete(ATaskIndex);
}

void TCustomEncoder::Exchange(int ATaskIndex1, int ATaskIndex2) {
    Refuse(F->Working, "Exchange");
    F->Tasks.Exchange(ATaskIndex1, ATaskIndex2);
}

// ---------------------------------------------------------------------------------------
// running

void TCustomEncoder::Start(int AThreadCount) {
    Refuse(F->Working, "StartTask");
    {
        std::lock_guard lock(F->RunLock);
        F->CompleteTasks = 0;
        F->CurrentTask = 0;
        F->PendingTasks = TasksCount();
        F->Terminated = false;
        F->ThreadMode = AThreadCount > 0;
        F->StopRequested = false;
        F->Working = true;
        F->Paused = false;
    }
    // In thread mode at most AThreadCount tasks run at once: each end starts the next.
    // Without threads every task runs here, one after another.
    while (TFFmpeg* job = ClaimNextTask()) {
        RunTask(job);
        if (F->ThreadMode && --AThreadCount < 1)
            break;
    }
}

TFFmpeg* TCustomEncoder::ClaimNextTask() {
    std::lock_guard lock(F->RunLock);
    if (F->PendingTasks <= 0 || F->CurrentTask >= TasksCount())
        return nullptr;
    --F->PendingTasks;
    ++F->Starting;
    TFFmpeg* job = F->Tasks.Item(F->CurrentTask++);
    job->ReportInterval = int64_t(F->ProgressInterval) * 1000;
    return job;
}

// Starts a claimed task. Its end may be reported before this returns (a task that cannot
// start, or every task without threads). A Stop that came meanwhile stops it.
void TCustomEncoder::RunTask(TFFmpeg* job) {
    job->StartConvert(F->ThreadMode);
    std::lock_guard lock(F->RunLock);
    if (F->StopRequested)
        job->Stop(false);
    --F->Starting;
    WakeMainThreadWaiters();
}

void TCustomEncoder::DeliverTerminate(const TTerminateInfo& info) {
    try {
        if (const auto handler = Handler(&THandlers::Terminate))
            handler(this, info);
    } catch (const std::exception& error) {
        FFLogger().Log(this, llError, QString::fromUtf8(error.what()));
    }
}

// Queues a terminate event behind the ones before it (RunLock held, so the queue keeps
// the order of the ends). The handler is read when the event is delivered.
void TCustomEncoder::PostTerminate(const TTerminateInfo& info) {
    const bool inMain = TriggerEventInMainThread;
    F->Events.Post([this, info, inMain] {
        if (inMain)
            CallInMainThread([&] { DeliverTerminate(info); });
        else
            DeliverTerminate(info);
    });
}

// The end of a task, on the thread that ended it. In thread mode the event goes to the
// event thread and the next task starts here; without threads the events are raised
// here, in the thread that called Start.
void TCustomEncoder::JobTerminate(TCustomFFmpeg* job) {
    const TTerminateInfo info{GetTaskIndex(job), job->Finished(), job->FatalException(),
                              job->FatalMessage()};
    const TTerminateInfo listEnd{-1, true, false, QString()};
    const bool report = bool(Handler(&THandlers::Terminate));
    std::vector<TTerminateInfo> direct;
    TFFmpeg* next = nullptr;
    bool listEnded = false;
    {
        std::lock_guard lock(F->RunLock);
        const bool queued = F->ThreadMode || !F->Working;
        ++F->CompleteTasks;
        listEnded = F->PendingTasks < 1 && F->CompleteTasks >= TasksCount();
        for (const TTerminateInfo* event : {&info, listEnded ? &listEnd : nullptr}) {
            if (event == nullptr || !report)
                continue;
            if (queued)
                PostTerminate(*event);
            else
                direct.push_back(*event);
        }
        if (listEnded && direct.empty())
            F->Terminated = true;
    }
    for (const TTerminateInfo& event : direct)
        DeliverTerminate(event);
    if (listEnded)
        F->Terminated = true;
    else if (F->ThreadMode && (next = ClaimNextTask()) != nullptr)
        RunTask(next);
}

void TCustomEncoder::Pause() {
    if (F->Working && !F->Paused) {
        F->Tasks.Pause();
        F->Paused = true;
    }
}

void TCustomEncoder::Resume() {
    if (F->Working && F->Paused) {
        F->Tasks.Resume();
        F->Paused = false;
    }
}

void TCustomEncoder::Stop(bool AWaitForStop) {
    int unstarted = 0;
    {
        std::lock_guard lock(F->RunLock);
        F->PendingTasks = 0;
        if (!F->Working)
            return;
        F->StopRequested = true;
        if (TasksCount() == 0)
            F->Terminated = true; // nothing will report: the list has ended
        // every task not claimed yet is ended here, unstarted
        unstarted = std::max(F->CurrentTask, 0);
        F->CurrentTask = TasksCount();
    }
    // A task another thread has just claimed is stopped by RunTask; wait for that start.
    if (AWaitForStop && F->ThreadMode)
        WaitServingMainThreadCalls([this] {
            std::lock_guard lock(F->RunLock);
            return F->Starting == 0;
        });
    for (int i = 0; i < TasksCount(); ++i) {
        TFFmpeg* job = F->Tasks.Item(i);
        if (i >= unstarted)
            job->TerminateUnstarted(); // reports its end as for a stopped task
        else if (job->Converting())
            job->Stop(AWaitForStop);
    }
}
