// The transcoding job's public face: every call goes to the private state of
// job/JobState.h, whose stages live in the files of media/job/.

#include "media/FFmpeg.h"

#include "media/FrameHook.h"
#include "media/job/JobState.h"

TCustomFFmpeg::TCustomFFmpeg(int AMaxFiles) {
    FFAssert(AMaxFiles >= 1 && AMaxFiles <= 512, "MaxFiles must be 1 to 512");
    FJob = std::make_unique<TJob>(*this, AMaxFiles);
}

TCustomFFmpeg::~TCustomFFmpeg() {
    FJob->Stop(true);
    if (FJob->FWorker.joinable())
        FJob->FWorker.join();
}

void TCustomFFmpeg::SetExtOption(const QString& AName, const QString& AValue) {
    FJob->SetExtOption(AName, AValue);
}

bool TCustomFFmpeg::OpenInput(const QString& AFileName) {
    return FJob->OpenInput(AFileName);
}

int TCustomFFmpeg::OpenOutput(const QString& AFileName, bool AJoin) {
    return FJob->OpenOutput(AFileName, AJoin);
}

void TCustomFFmpeg::PrepareJoin() {
    FJob->PrepareJoin();
}

void TCustomFFmpeg::ApplyTarget(const QString& value, const QString& defaultNorm) {
    FJob->ApplyTarget(value, defaultNorm);
}

bool TCustomFFmpeg::StartConvert(bool AUseThread) {
    return FJob->StartConvert(AUseThread);
}

void TCustomFFmpeg::Stop(bool AWaitForStop) {
    FJob->Stop(AWaitForStop);
}

void TCustomFFmpeg::Pause() {
    FJob->Pause();
}

void TCustomFFmpeg::Resume() {
    FJob->Resume();
}

bool TCustomFFmpeg::Paused() const {
    return FJob->FPaused;
}

void TCustomFFmpeg::TerminateUnstarted() {
    FJob->TerminateUnstarted();
}

void TCustomFFmpeg::SetPostHooks(TPostHooks hooks) {
    std::lock_guard lock(PostHookLock());
    if (FJob->FPostHooks != hooks) {
        FJob->FPostHooks = hooks;
        FJob->FPostHooksChanged = true;
    }
}

TPostHooks TCustomFFmpeg::PostHooks() const {
    std::lock_guard lock(PostHookLock());
    return FJob->FPostHooks;
}

int TCustomFFmpeg::nb_input_files() const {
    return int(FJob->FInputFiles.size());
}

int TCustomFFmpeg::nb_output_files() const {
    return int(FJob->FOutputFiles.size());
}

bool TCustomFFmpeg::Converting() const {
    return FJob->FConverting;
}

bool TCustomFFmpeg::Finished() const {
    return FJob->FFinished;
}

bool TCustomFFmpeg::Terminated() const {
    return FJob->FTerminated;
}

bool TCustomFFmpeg::FatalException() const {
    return FJob->FFatalException;
}

QString TCustomFFmpeg::FatalMessage() const {
    return FJob->FFatalMessage;
}

QString TCustomFFmpeg::LastErrMsg() const {
    return FJob->FLastErrMsg;
}

int64_t TCustomFFmpeg::TotalOutputDuration() const {
    return FJob->FTotalOutputDuration;
}

bool TCustomFFmpeg::JoinMode() const {
    return FJob->FJoinMode;
}

int TCustomFFmpeg::MaxFiles() const {
    return FJob->FMaxFiles;
}

AVFormatContext* TCustomFFmpeg::OutputContext(int index) const {
    return index >= 0 && index < nb_output_files() ? FJob->FOutputFiles[size_t(index)]->ctx.get()
                                                   : nullptr;
}

AVFormatContext* TCustomFFmpeg::InputContext(int index) const {
    return index >= 0 && index < nb_input_files() ? FJob->FInputFiles[size_t(index)]->ctx.get()
                                                  : nullptr;
}

double TCustomFFmpeg::FrameAspectRatio() const {
    return FJob->FFrameAspectRatio;
}

// ---------------------------------------------------------------------------------------
// list

TFFmpeg* TFFmpegList::Item(int index) const {
    if (index < 0 || index >= Count())
        throw EFFError(QStringLiteral("List index out of bounds (%1)").arg(index));
    return FItems[size_t(index)].get();
}

int TFFmpegList::Add(TFFmpeg* job) {
    FItems.emplace_back(job);
    return Count() - 1;
}

void TFFmpegList::Delete(int index) {
    Item(index);
    FItems.erase(FItems.begin() + index);
}

void TFFmpegList::Exchange(int index1, int index2) {
    Item(index1);
    Item(index2);
    std::swap(FItems[size_t(index1)], FItems[size_t(index2)]);
}

int TFFmpegList::IndexOf(const TCustomFFmpeg* job) const {
    for (int i = 0; i < Count(); ++i)
        if (FItems[size_t(i)].get() == job)
            return i;
    return -1;
}

void TFFmpegList::Clear() {
    FItems.clear();
}

void TFFmpegList::Pause() {
    for (auto& job : FItems)
        job->Pause();
}

void TFFmpegList::Resume() {
    for (auto& job : FItems)
        job->Resume();
}

void TFFmpegList::SetPostHooks(TPostHooks hooks) {
    for (auto& job : FItems)
        job->SetPostHooks(hooks);
}
