#include "media/FFEncode.h"

#include "media/Event.h"
#include "media/FFLoad.h"
#include "media/FFLog.h"
#include "media/MainThread.h"

#include <QDateTime>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTimeZone>

#include <algorithm>
#include <chrono>
#include <deque>
#include <thread>

std::vector<std::pair<QString, QString>> ParseOptionLines(const QString& text) {
    std::vector<std::pair<QString, QString>> result;
    QString all = text.trimmed();
    all.replace(QLatin1String("<CRLF>"), QLatin1String("\n"));
    static const QRegularExpression lineEnd(QStringLiteral("\r\n|\r|\n"));
    for (const QString& line : all.split(lineEnd)) {
        if (line.isEmpty())
            continue;
        const int eq = line.indexOf(u'=');
        if (eq < 0)
            result.emplace_back(line, QString());
        else
            result.emplace_back(line.left(eq), line.mid(eq + 1));
    }
    return result;
}

namespace {

QString Seconds(int64_t us) {
    return QString::number(double(us) / 1e6, 'f', 6);
}

bool IsNewStream(const QString& name) {
    return name == QLatin1String("newvideo") || name == QLatin1String("newaudio") ||
           name == QLatin1String("newsubtitle") || name == QLatin1String("newdata");
}

bool IsQueuedKind(const QString& name) {
    return name == QLatin1String("acodec") || name == QLatin1String("vcodec") ||
           name == QLatin1String("scodec") || name == QLatin1String("dcodec") ||
           name == QLatin1String("s") || name == QLatin1String("vfilters") ||
           name == QLatin1String("vf");
}

} // namespace

TCustomEncoder::TCustomEncoder(QObject* owner) : TFFBaseComponent(owner) {}

TCustomEncoder::~TCustomEncoder() {
    Stop(true);
    WaitServingMainThreadCalls([this] { return FDeliveries.load() == 0; });
    FTasks.Clear();
}

bool TCustomEncoder::LoadAVLib(const QString& path) {
    FFLoader.SetLibraryPath(path);
    if (!FFLoader.Load(TLibraries::All())) {
        FLastErrMsg = FFLoader.LastErrMsg();
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

TPostHooks TCustomEncoder::CurrentPostHooks() const {
    return (FPreview ? phPreview : 0u) | (FPreviewBitmap ? phBitmap : 0u);
}

void TCustomEncoder::SetPreview(bool value) {
    FPreview = value;
    FTasks.SetPostHooks(CurrentPostHooks());
}

void TCustomEncoder::SetPreviewBitmap(bool value) {
    FPreviewBitmap = value;
    FTasks.SetPostHooks(CurrentPostHooks());
}

// ---------------------------------------------------------------------------------------
// tasks

void ApplyExtOptionLines(TCustomFFmpeg* job, const QString& lines, bool output) {
    for (const auto& [rawName, value] : ParseOptionLines(lines)) {
        const QString name = rawName.toLower();
        if (IsNewStream(name) || name == QLatin1String("vfilters") || name == QLatin1String("vf"))
            continue;
        if (output && IsQueuedKind(name))
            continue;
        job->SetExtOption(name, value);
    }
}

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
        ApplyExtOptionLines(job, copy.ExtOptions, false);
        if (!copy.ForceFormat.isEmpty())
            job->SetExtOption(QStringLiteral("f"), copy.ForceFormat);
        if (copy.TimeStart != NoTimeValue)
            job->SetExtOption(QStringLiteral("ss"), Seconds(copy.TimeStart));
        if (copy.ProgramID >= 0)
            job->SetExtOption(QStringLiteral("programid"), QString::number(copy.ProgramID));
    } else {
        job->InputOptions.erase(index);
    }
    job->ReadTimeout = ReadTimeout;
    if (!job->OpenInput(AFileName)) {
        FLastErrMsg = job->LastErrMsg();
        job->InputOptions.erase(index);
        return false;
    }
    return true;
}

int TCustomEncoder::AddTask(const QString& AFileName, const TInputOptions* AOptions) {
    Refuse(FWorking, "AddTask");
    if (!AVLibLoaded()) {
        FLastErrMsg = QStringLiteral("The FFmpeg libraries are not loaded.");
        return -1;
    }
    auto job = std::make_unique<TFFmpeg>(this, CustomMaxFiles);
    job->Verbose = Verbose;
    job->SetPostHooks(CurrentPostHooks());
    TFFmpeg* raw = job.get();
    job->OnBeforeFindStreamInfo = [this](TCustomFFmpeg* sender, AVFormatContext* ctx) {
        if (!FOnBeforeFindStreamInfo.Assigned())
            return;
        std::lock_guard lock(FBeforeProbeLock);
        auto call = [&] { FOnBeforeFindStreamInfo(sender, ctx); };
        if (TriggerEventInMainThread)
            CallInMainThread(call);
        else
            call();
    };
    job->OnPreviewBitmap = [this](TCustomFFmpeg* sender, QImage* bitmap, int frame, int64_t pts) {
        if (!FOnPreviewBitmap.Assigned())
            return;
        std::lock_guard lock(FPreviewLock);
        FPreviewInfo = {GetTaskIndex(sender), bitmap, frame, pts};
        auto call = [&] { FOnPreviewBitmap(this, FPreviewInfo); };
        if (TriggerEventInMainThread)
            CallInMainThread(call);
        else
            call();
    };
    try {
        if (!OpenInput(raw, 0, AFileName, AOptions))
            return -1;
    } catch (const std::exception& error) {
        FLastErrMsg = QString::fromUtf8(error.what());
        return -1;
    }
    job->OnProgress = [this](TCustomFFmpeg* sender, int fileIndex, int frame, int fps,
                             float quality, float bitrate, int64_t size, int64_t duration,
                             int64_t total) {
        if (!FOnProgress.Assigned())
            return;
        std::lock_guard lock(FProgressLock);
        FProgressInfo = {
            GetTaskIndex(sender), fileIndex, frame, fps, quality, bitrate, size, duration, total};
        auto call = [&] { FOnProgress(this, &FProgressInfo); };
        if (TriggerEventInMainThread)
            CallInMainThread(call);
        else
            call();
    };
    job->OnTerminate = [this](TCustomFFmpeg* sender) { JobTerminate(sender); };
    return FTasks.Add(job.release());
}

// The input record of the text variants: "TimeStart" goes to its field, every other
// line is kept as a name=value line of ExtOptions.
static TInputOptions InputOptionsFromText(const QString& AExtOptions) {
    TInputOptions options;
    InitInputOptions(&options);
    QStringList rest;
    for (const auto& [name, value] : ParseOptionLines(AExtOptions)) {
        if (name.compare(QLatin1String("TimeStart"), Qt::CaseInsensitive) == 0) {
            int64_t t;
            options.TimeStart = TryStrToInt64(value, t) ? t : NoTimeValue;
        } else {
            rest << name + u'=' + value;
        }
    }
    options.ExtOptions = rest.join(QLatin1String("\r\n"));
    return options;
}

int TCustomEncoder::AddTask(const QString& AFileName, const QString& AExtOptions) {
    const TInputOptions options = InputOptionsFromText(AExtOptions);
    return AddTask(AFileName, &options);
}

bool TCustomEncoder::AddInputFile(int ATaskIndex, const QString& AFileName,
                                  const TInputOptions* AOptions) {
    Refuse(FWorking, "AddInputFile");
    TFFmpeg* job = FTasks.Item(ATaskIndex);
    if (job->nb_input_files() >= CustomMaxFiles) {
        FLastErrMsg = QStringLiteral("max input files %1 reached").arg(CustomMaxFiles);
        return false;
    }
    const int index = job->nb_input_files();
    try {
        return OpenInput(job, index, AFileName, AOptions);
    } catch (const std::exception& error) {
        FLastErrMsg = QString::fromUtf8(error.what());
        job->InputOptions.erase(index);
        return false;
    }
}

bool TCustomEncoder::AddInputFile(int ATaskIndex, const QString& AFileName,
                                  const QString& AExtOptions) {
    const TInputOptions options = InputOptionsFromText(AExtOptions);
    return AddInputFile(ATaskIndex, AFileName, &options);
}

void TCustomEncoder::ConnectHooks(TFFmpeg* job, const TOutputOptions& o) {
    auto videoHook = [this](TEventHandler<TVideoHookEvent>* event) {
        return [this, event](TCustomFFmpeg* sender, QImage* bitmap, int frame, int64_t pts,
                             bool& update, bool& stopHook) {
            const TVideoHookEvent handler = event->Get();
            if (!handler)
                return;
            std::lock_guard lock(FVideoHookLock);
            FHookInfo = {GetTaskIndex(sender), bitmap, frame, pts, update, stopHook};
            handler(this, &FHookInfo);
            update = FHookInfo.Update;
            stopHook = FHookInfo.StopHook;
        };
    };
    auto frameHook = [this](TEventHandler<TFrameHookEvent>* event) {
        return [this, event](TCustomFFmpeg* sender, TAVPicture* picture, int pixFmt, int frame,
                             int width, int height, int64_t pts) {
            const TFrameHookEvent handler = event->Get();
            if (!handler)
                return;
            std::lock_guard lock(FFrameHookLock);
            FFrameHookInfo = {GetTaskIndex(sender), frame, picture, pixFmt, width, height, pts};
            handler(this, &FFrameHookInfo);
        };
    };
    if (o.AudioHook)
        job->OnAudioHook = [this](TCustomFFmpeg* sender, int64_t pts, void* sample, int size,
                                  int rate, int channels, int format) {
            const TAudioHookEvent handler = FOnAudioHook.Get();
            if (!handler)
                return;
            std::lock_guard lock(FAudioHookLock);
            handler(this, GetTaskIndex(sender), pts, sample, size, rate, channels, format);
        };
    if (o.VideoInputHook)
        job->OnInputVideoHook = videoHook(&FOnVideoInputHook);
    if (o.VideoOutputHook)
        job->OnOutputVideoHook = videoHook(&FOnVideoOutputHook);
    if (o.FrameInputHook)
        job->OnInputFrameHook = frameHook(&FOnFrameInputHook);
    if (o.FrameOutputHook)
        job->OnOutputFrameHook = frameHook(&FOnFrameOutputHook);
    job->VideoHookBitsPixel = o.VideoHookBitsPixel;
}

bool TCustomEncoder::SetOutputFile(int ATaskIndex, const QString& AFileName,
                                   const TOutputOptions* AOptions) {
    Refuse(FWorking, "SetOutputFile");
    TFFmpeg* job = FTasks.Item(ATaskIndex);
    if (job->nb_output_files() >= CustomMaxFiles) {
        FLastErrMsg = QStringLiteral("max output files %1 reached").arg(CustomMaxFiles);
        return false;
    }
    job->HaltOnInvalidOption = HaltOnInvalidOption;
    const int index = job->nb_output_files();
    try {
        std::vector<std::pair<QString, QString>> lines;
        std::deque<std::pair<QString, QString>> queue;
        QString defaults[7]; // acodec vcodec scodec dcodec fpre s vf
        const char* defaultNames[7] = {"acodec", "vcodec", "scodec", "dcodec", "fpre", "s", "vf"};
        auto defaultIndex = [&](const QString& kind) {
            for (int i = 0; i < 7; ++i)
                if (kind == QLatin1String(defaultNames[i]))
                    return i;
            return -1;
        };
        bool join = false;
        if (AOptions) {
            TOutputOptions o = *AOptions;
            if (o.FileName.isEmpty()) {
                o.FileName = AFileName;
                const_cast<TOutputOptions*>(AOptions)->FileName = AFileName;
            }
            job->OutputOptions[index] = o;
            defaults[0] = o.AudioCodec;
            defaults[1] = o.VideoCodec;
            defaults[2] = o.SubtitleCodec;
            defaults[3] = o.DataCodec;
            defaults[4] = o.FilePreset;
            defaults[5] = o.FrameSize;
            defaults[6] = o.VideoFilters;
            const QString given[7] = {o.AudioCodec, o.VideoCodec, o.SubtitleCodec, o.DataCodec,
                                      o.FilePreset, o.FrameSize,  o.VideoFilters};
            for (const auto& [rawName, value] : ParseOptionLines(o.ExtOptions)) {
                QString name = rawName.toLower();
                lines.emplace_back(name, value);
                if (IsQueuedKind(name) && !value.isEmpty()) {
                    if (name == QLatin1String("vfilters"))
                        name = QStringLiteral("vf");
                    queue.emplace_back(name, value);
                    const int d = defaultIndex(name);
                    bool first = true;
                    for (size_t i = 0; i + 1 < queue.size(); ++i)
                        if (queue[i].first == name)
                            first = false;
                    if (first && given[d].isEmpty())
                        defaults[d] = value;
                }
            }
            if (o.TargetType != ttIgnore) {
                const QString target = o.TargetType == ttVCD    ? QStringLiteral("vcd")
                                       : o.TargetType == ttSVCD ? QStringLiteral("svcd")
                                                                : QStringLiteral("dvd");
                const QString norm = o.NormType == ntPAL    ? QStringLiteral("pal-")
                                     : o.NormType == ntNTSC ? QStringLiteral("ntsc-")
                                                            : QString();
                job->ApplyTarget(norm + target, o.NormDefault == ntNTSC ? QStringLiteral("ntsc")
                                                                        : QStringLiteral("pal"));
            }
            for (int i = 0; i < 5; ++i)
                if (!defaults[i].isEmpty())
                    job->SetExtOption(QLatin1String(defaultNames[i]), defaults[i]);
            ApplyExtOptionLines(job, o.ExtOptions, true);

            auto set = [&](const char* name, const QString& value) {
                job->SetExtOption(QLatin1String(name), value);
            };
            auto num = [](auto v) { return QString::number(v); };
            if (o.PacketSize > 0)
                set("packetsize", num(o.PacketSize));
            if (o.MuxRate > 0)
                set("muxrate", num(o.MuxRate));
            if (o.MuxDelay > 0)
                set("muxdelay", num(o.MuxDelay));
            if (o.MuxPreload > 0)
                set("muxpreload", num(o.MuxPreload));
            if (o.DisableAudio)
                set("an", QStringLiteral("1"));
            if (o.AudioVolume >= 0)
                set("vol", num(o.AudioVolume));
            if (o.AudioChannels > 0)
                set("ac", num(o.AudioChannels));
            if (o.AudioSampleRate > 0)
                set("ar", num(o.AudioSampleRate));
            if (o.AudioBitrate > 0 && o.TargetType == ttIgnore)
                set("ab", num(o.AudioBitrate));
            if (o.AudioBitRateTolerance > 0)
                set("abt", num(o.AudioBitRateTolerance));
            if (!o.AudioLanguage.isEmpty())
                set("alang", o.AudioLanguage);
            set("async", num(o.AudioSyncMethod));
            if (!o.AudioTag.isEmpty())
                set("atag", o.AudioTag);
            if (o.DisableVideo)
                set("vn", QStringLiteral("1"));
            if (!o.FrameRate.isEmpty())
                set("r", o.FrameRate);
            if (!o.FrameAspectRatio.isEmpty())
                set("aspect", o.FrameAspectRatio);
            if (o.GroupPictureSize > 0)
                set("g", num(o.GroupPictureSize));
            if (o.VideoBitrate > 0 && o.TargetType == ttIgnore)
                set("vb", num(o.VideoBitrate));
            if (o.VideoMaxRate > 0)
                set("maxrate", num(o.VideoMaxRate));
            if (o.VideoMinRate > 0)
                set("minrate", num(o.VideoMinRate));
            if (o.VideoBitRateTolerance > 0)
                set("bt", num(o.VideoBitRateTolerance));
            if (o.VideoBufSize > 0)
                set("bufsize", num(o.VideoBufSize));
            set("vsync", num(o.VideoSyncMethod));
            if (!o.VideoTag.isEmpty())
                set("vtag", o.VideoTag);
            if (!o.VideoLanguage.isEmpty())
                set("vlang", o.VideoLanguage);
            if (o.DisableSubtitle)
                set("sn", QStringLiteral("1"));
            if (!o.SubtitleLanguage.isEmpty())
                set("slang", o.SubtitleLanguage);
            set("isync", o.InputSync ? QStringLiteral("1") : QStringLiteral("0"));
            if (o.CopyTimestamp)
                set("copyts", QStringLiteral("1"));
            if (o.TimeStart != NoTimeValue)
                set("ss", Seconds(o.TimeStart));
            if (o.TimeLength != NoTimeValue)
                set("t", Seconds(o.TimeLength));
            const TStreamInfo& info = o.Info;
            if (info.TimeStamp == 0) {
                set("timestamp", QStringLiteral("now"));
            } else if (info.TimeStamp > 0) {
                // days since 1899-12-30, local time
                const QDateTime base(QDate(1899, 12, 30), QTime(0, 0));
                const QDateTime local = base.addMSecs(qint64(info.TimeStamp * 86400000.0));
                set("timestamp",
                    local.toUTC().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")) + u'Z');
            }
            if (info.Year > 0)
                set("metadata", QStringLiteral("year=%1").arg(info.Year));
            if (info.Track > 0)
                set("metadata", QStringLiteral("track=%1").arg(info.Track));
            const std::pair<const char*, QString> texts[] = {
                {"title", info.Title},     {"author", info.Author}, {"copyright", info.Copyright},
                {"comment", info.Comment}, {"album", info.Album},   {"genre", info.Genre}};
            for (const auto& [key, text] : texts)
                if (!text.isEmpty())
                    set("metadata", QLatin1String(key) + u'=' + text);
            if (!defaults[5].isEmpty())
                set("s", defaults[5]);
            if (!defaults[6].isEmpty())
                set("vf", defaults[6]);
            ConnectHooks(job, o);
            join = o.Join;
        } else {
            job->OutputOptions.erase(index);
        }
        job->ReadTimeout = ReadTimeout;
        if (job->OpenOutput(AFileName, join) < 0) {
            FLastErrMsg = job->LastErrMsg();
            job->OutputOptions.erase(index);
            return false;
        }
        if (AOptions) {
            auto takeQueued = [&](const char* kind) {
                for (auto it = queue.begin(); it != queue.end(); ++it)
                    if (it->first == QLatin1String(kind)) {
                        job->SetExtOption(it->first, it->second);
                        queue.erase(it);
                        return;
                    }
                const int d = defaultIndex(QLatin1String(kind));
                if (!defaults[d].isEmpty())
                    job->SetExtOption(QLatin1String(kind), defaults[d]);
            };
            for (const auto& [name, value] : lines) {
                if (name == QLatin1String("newaudio")) {
                    takeQueued("acodec");
                } else if (name == QLatin1String("newvideo")) {
                    takeQueued("vcodec");
                    takeQueued("s");
                    takeQueued("vf");
                } else if (name == QLatin1String("newsubtitle")) {
                    takeQueued("scodec");
                } else if (name == QLatin1String("newdata")) {
                    takeQueued("dcodec");
                    continue; // data streams are added by copy only; nothing more to add
                } else {
                    continue;
                }
                job->SetExtOption(name, value);
            }
            if (join)
                job->PrepareJoin();
        }
        return true;
    } catch (const std::exception& error) {
        FLastErrMsg = QString::fromUtf8(error.what());
        job->OutputOptions.erase(index);
        return false;
    }
}

bool TCustomEncoder::SetOutputFile(int ATaskIndex, const QString& AFileName,
                                   const QString& AExtOptions) {
    TOutputOptions options;
    InitOutputOptions(&options);
    QStringList rest;
    for (const auto& line : ParseOptionLines(AExtOptions)) {
        // Named references, not structured bindings: the lambda below captures them.
        const QString& name = line.first;
        const QString& value = line.second;
        auto is = [&](const char* n) {
            return name.compare(QLatin1String(n), Qt::CaseInsensitive) == 0;
        };
        const bool on = value != QLatin1String("0");
        int64_t t;
        if (is("AudioHook"))
            options.AudioHook = on;
        else if (is("VideoInputHook"))
            options.VideoInputHook = on;
        else if (is("VideoOutputHook"))
            options.VideoOutputHook = on;
        else if (is("FrameInputHook"))
            options.FrameInputHook = on;
        else if (is("FrameOutputHook"))
            options.FrameOutputHook = on;
        else if (is("Join"))
            options.Join = on;
        else if (is("VideoHookBitsPixel")) {
            int bits;
            options.VideoHookBitsPixel = TryStrToInt(value, bits) ? bits : 24;
        } else if (is("TimeStart"))
            options.TimeStart = TryStrToInt64(value, t) ? t : NoTimeValue;
        else if (is("TimeLength"))
            options.TimeLength = TryStrToInt64(value, t) ? t : NoTimeValue;
        else
            rest << name + u'=' + value;
    }
    options.ExtOptions = rest.join(QLatin1String("\r\n"));
    return SetOutputFile(ATaskIndex, AFileName, &options);
}

void TCustomEncoder::ClearTasks() {
    if (FWorking && !FTerminated)
        throw EFFError(QStringLiteral("Cannot ClearTasks while working."));
    // every delivery has run before the jobs go
    WaitServingMainThreadCalls([this] { return FDeliveries.load() == 0; });
    FTasks.Clear();
    FLastErrMsg.clear();
    FCompleteTasks = 0;
    FCurrentTask = -1;
    FPendingTasks = 0;
    FTerminated = false;
    FThreadMode = false;
    FWorking = false;
    FPaused = false;
}

void TCustomEncoder::RemoveTask(int ATaskIndex) {
    Refuse(FWorking, "RemoveTask");
    FTasks.Delete(ATaskIndex);
}

void TCustomEncoder::Exchange(int ATaskIndex1, int ATaskIndex2) {
    Refuse(FWorking, "Exchange");
    FTasks.Exchange(ATaskIndex1, ATaskIndex2);
}

int TCustomEncoder::GetTaskIndex(const TCustomFFmpeg* job) const {
    return FTasks.IndexOf(job);
}

// ---------------------------------------------------------------------------------------
// running

void TCustomEncoder::Start(int AThreadCount) {
    Refuse(FWorking, "StartTask");
    {
        std::lock_guard lock(FTerminateLock);
        FCompleteTasks = 0;
        FCurrentTask = 0;
        FPendingTasks = TasksCount();
        FTerminated = false;
        FThreadMode = AThreadCount > 0;
        FWorking = true;
        FPaused = false;
    }
    while (true) {
        {
            std::lock_guard lock(FTerminateLock);
            if (FPendingTasks <= 0)
                break;
        }
        StartNextTask();
        if (FThreadMode) {
            if (AThreadCount <= 1)
                break;
            --AThreadCount;
        }
    }
}

void TCustomEncoder::StartNextTask() {
    TFFmpeg* job;
    {
        std::lock_guard lock(FTerminateLock);
        if (FPendingTasks <= 0 || FCurrentTask >= TasksCount())
            return;
        --FPendingTasks;
        job = FTasks.Item(FCurrentTask);
        ++FCurrentTask;
        job->ReportInterval = int64_t(FProgressInterval) * 1000;
    }
    job->StartConvert(FThreadMode);
}

void TCustomEncoder::Deliver(const TTerminateInfo& info) {
    // A delivery thread per event. The events reach the handler in the order the tasks
    // ended, the end of the list last: each thread takes a turn number here (callers hold
    // the terminate lock, so numbers follow the order of the ends) and waits until every
    // earlier delivery has run.
    ++FDeliveries;
    const uint64_t turn = FDeliveryNext++;
    const bool inMain = TriggerEventInMainThread;
    // The handler is read when the event is delivered, not now: the program may set
    // another one (or none) before this delivery's turn comes.
    std::thread([this, info, turn, inMain] {
        while (FDeliveryTurn.load() != turn)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        try {
            if (inMain)
                CallInMainThread([&] { FOnTerminate(this, info); });
            else
                FOnTerminate(this, info);
        } catch (const std::exception& error) {
            FFLogger().Log(this, llError, QString::fromUtf8(error.what()));
        }
        ++FDeliveryTurn;
        --FDeliveries;
        WakeMainThreadWaiters();
    }).detach();
}

void TCustomEncoder::JobTerminate(TCustomFFmpeg* job) {
    std::lock_guard lock(FTerminateLock);
    if (FOnTerminate.Assigned()) {
        const TTerminateInfo info{GetTaskIndex(job), job->Finished(), job->FatalException(),
                                  job->FatalMessage()};
        if (FThreadMode || !FWorking) {
            Deliver(info);
        } else {
            FOnTerminate(this, info);
        }
    }
    ++FCompleteTasks;
    if (FPendingTasks < 1) {
        if (FCompleteTasks >= TasksCount())
            ListTerminated();
    } else if (FThreadMode) {
        StartNextTask();
    }
}

void TCustomEncoder::ListTerminated() {
    if (FOnTerminate.Assigned()) {
        const TTerminateInfo info{-1, true, false, QString()};
        if (FThreadMode || !FWorking)
            Deliver(info);
        else
            FOnTerminate(this, info);
    }
    FTerminated = true;
}

void TCustomEncoder::Pause() {
    if (FWorking && !FPaused) {
        FTasks.Pause();
        FPaused = true;
    }
}

void TCustomEncoder::Resume() {
    if (FWorking && FPaused) {
        FTasks.Resume();
        FPaused = false;
    }
}

void TCustomEncoder::Stop(bool AWaitForStop) {
    {
        std::lock_guard lock(FTerminateLock);
        FPendingTasks = 0;
    }
    if (!FWorking)
        return;
    if (TasksCount() == 0)
        FTerminated = true; // nothing will report: the list has ended
    for (int i = 0; i < TasksCount(); ++i) {
        TFFmpeg* job = FTasks.Item(i);
        if (job->Converting()) {
            job->Stop(AWaitForStop);
        } else if (!job->Terminated()) {
            // ended at once, without converting, by a short-lived thread
            auto done = std::make_shared<TEvent>(false);
            std::thread([job, done] {
                job->TerminateUnstarted();
                done->SetEvent();
            }).detach();
            if (AWaitForStop)
                done->WaitServing();
        }
    }
}

void SetCodecsForExtension(TOutputOptions& o, const QString& fileName) {
    o.VideoCodec = QStringLiteral("mpeg4");
    o.AudioCodec = FF.avcodec_find_encoder_by_name != nullptr &&
                           FF.avcodec_find_encoder_by_name("libfaac") != nullptr
                       ? QStringLiteral("libfaac")
                       : QStringLiteral("aac");
    const QString suffix = QFileInfo(fileName).suffix().toLower();
    if (suffix == u"wmv") {
        o.VideoCodec = QStringLiteral("wmv2");
        o.AudioCodec = QStringLiteral("wmav2");
    } else if (suffix == u"avi") {
        o.AudioCodec = QStringLiteral("libmp3lame");
    }
    if (o.AudioCodec == u"aac")
        o.ExtOptions = QStringLiteral("astrict=experimental\r\n") + o.ExtOptions;
}

bool IsH264Container(const QString& fileName) {
    const QString suffix = QFileInfo(fileName).suffix().toLower();
    return suffix == u"mp4" || suffix == u"mov";
}

bool UseH264Pictures(TOutputOptions& o, const QString& fileName, const QString& preset, int crf,
                     int keyInterval) {
    if (!IsH264Container(fileName))
        return false;
    o.VideoCodec = QStringLiteral("libx264");
    // The quality steers the encoder, not a bit rate (a set bit rate would override it).
    o.VideoBitrate = 0;
    o.GroupPictureSize = keyInterval;
    // "preset" and "crf" are options of the x264 encoder itself; the job passes them on
    // to the codec that knows them.
    o.ExtOptions +=
        QStringLiteral("pix_fmt=yuv420p\r\npreset=%1\r\ncrf=%2\r\n").arg(preset).arg(crf);
    const qsizetype star = o.FrameSize.indexOf(u'*');
    if (star > 0) {
        const auto even = [](int v) { return std::max(2, v & ~1); };
        o.FrameSize = QString::number(even(o.FrameSize.left(star).toInt())) + u'*' +
                      QString::number(even(o.FrameSize.mid(star + 1).toInt()));
    }
    return true;
}
