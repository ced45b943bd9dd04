#include "recording/RecordingController.h"

#include "media/FFEncode.h"
#include "media/FFmpeg.h"

TRecordingController::TRecordingController() = default;

TRecordingController::~TRecordingController() {
    if (!FEncoder)
        return;
    FEncoder->SetOnProgress(nullptr);
    FEncoder->SetOnTerminate(nullptr);
    FEncoder->Stop(true);
}

void TRecordingController::CreateEncoder() {
    FEncoder = std::make_unique<TFFEncoder>();
    // The time recorded is that of the pictures encoded so far, whole pictures: the
    // sound's own time runs a few hundredths of a second ahead or behind it.
    FEncoder->SetOnProgress([this](QObject*, TProgressInfo* info) {
        Progress(info->FrameNumber > 0 ? int64_t(info->FrameNumber) * 1000000 / RecordingFrameRate
                                       : info->CurrentDuration,
                 info->CurrentSize);
    });
    FEncoder->SetOnTerminate([this](QObject*, const TTerminateInfo& info) {
        if (info.TaskIndex < 0)
            RecordingEnded();
        else if (info.Exception)
            TaskFailed(info.ExceptionMsg);
    });
}

bool TRecordingController::Start(const TRecordingRequest& request, QString* error) {
    if (!FEncoder)
        CreateEncoder();
    FFileName = request.FileName;
    FPauseFlag = false;
    FSoundLostFlag = false;
    FSoundLostTold = false;
    if (!PrepareRecording(*FEncoder, request, FPauseHandle.Handle(), error,
                          FSoundLostHandle.Handle()))
        return false;
    FFinishPending = true;
    FFailed = false;
    FEncoder->Start(1);
    return true;
}

void TRecordingController::Pause() {
    if (!FEncoder)
        return;
    FEncoder->Pause();
    FPauseFlag = true;
}

void TRecordingController::Resume() {
    if (!FEncoder)
        return;
    FEncoder->Resume();
    FPauseFlag = false;
}

void TRecordingController::Stop() {
    if (FEncoder)
        FEncoder->Stop(true);
}

bool TRecordingController::Running() const {
    return FEncoder && FEncoder->Working() && !FEncoder->Terminated();
}

void TRecordingController::Progress(int64_t duration, int64_t size) {
    if (OnProgress)
        OnProgress(duration, size);
    if (FSoundLostFlag && !FSoundLostTold) {
        FSoundLostTold = true;
        if (OnSoundLost)
            OnSoundLost();
    }
}

void TRecordingController::TaskFailed(const QString& message) {
    FFailed = true;
    if (OnFailed)
        OnFailed(message);
}

void TRecordingController::RecordingEnded() {
    QString error;
    const bool finished = FinishFile(&error);
    if (OnEnded)
        OnEnded(finished, error);
}

bool TRecordingController::Shutdown(QString* finishError) {
    if (!FEncoder)
        return true;
    FEncoder->SetOnProgress(nullptr);
    FEncoder->SetOnTerminate(nullptr);
    FEncoder->Stop(true);
    // The engine's end events no longer come here: a task that failed is its own.
    for (int i = 0; i < FEncoder->TasksCount(); ++i)
        if (FEncoder->Task(i)->FatalException())
            FFailed = true;
    return FinishFile(finishError);
}

bool TRecordingController::FinishFile(QString* error) {
    if (!FFinishPending)
        return true;
    FFinishPending = false;
    if (FFailed) // the file keeps the fragments written before the fault
        return true;
    return FinishRecordingFile(FFileName, OnFinishing, error);
}
