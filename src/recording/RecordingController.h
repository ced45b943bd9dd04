#pragma once

#include "capture/HandleTable.h"
#include "recording/RecordingSession.h"

#include <QString>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>

class TFFEncoder;

// One screen recording at a time: sets up the encoder task of a request, starts,
// pauses, resumes and stops it, keeps the pause flag the sound source reads, and at the
// end of a recording that had no fault finishes its file (an MP4 or MOV written in
// fragments becomes an ordinary file). The recording toolbar and `vexmira-cli record`
// both drive it.
//
//     TRecordingController recorder;
//     recorder.OnProgress = [&](int64_t us, int64_t bytes) { ... };
//     recorder.OnEnded = [&](bool finished, const QString& why) { ... };
//     QString error;
//     if (!recorder.Start(request, &error)) return Fail(error);
//     ... recorder.Pause(); recorder.Resume(); recorder.Stop();
//
// The events come on the main thread while the event loop runs (or while Stop waits).
// Main thread.
class TRecordingController {
public:
    TRecordingController();
    // Stops a running recording and waits for it, its events no longer delivered.
    ~TRecordingController();
    TRecordingController(const TRecordingController&) = delete;
    TRecordingController& operator=(const TRecordingController&) = delete;

    // The time of the pictures recorded so far (µs) and the bytes written, about twice a
    // second.
    std::function<void(int64_t duration, int64_t size)> OnProgress;
    // The sound device went away; the recording goes on without sound. Once a recording.
    std::function<void()> OnSoundLost;
    // The recording failed with `message`; the end still follows.
    std::function<void(const QString& message)> OnFailed;
    // Finishing the file takes more than a moment; OnEnded follows when it is done.
    std::function<void()> OnFinishing;
    // The recording has ended. `finished` is false when its file could not be finished,
    // with the reason in `finishError`; the file then stays as it was written, playable.
    std::function<void(bool finished, const QString& finishError)> OnEnded;

    // Sets the recording up (loading the media libraries when needed) and starts it.
    // False with the reason in `error`; nothing runs then.
    bool Start(const TRecordingRequest& request, QString* error);
    void Pause();
    void Resume();
    // Ends the recording and waits until its task has stopped, serving the engine's
    // events meanwhile; OnEnded follows from the event loop.
    void Stop();
    // The program ends: no event is delivered any more, a running recording is stopped
    // and waited for, and its file finished. False with the reason in `finishError` when
    // the file could not be finished.
    bool Shutdown(QString* finishError);

    bool Running() const;
    bool Paused() const { return FPauseFlag; }
    // The file of the latest recording.
    QString FileName() const { return FFileName; }
    // The encoder of the recordings (created with the first one); null before.
    TFFEncoder* Encoder() const { return FEncoder.get(); }

private:
    void CreateEncoder();
    void Progress(int64_t duration, int64_t size);
    void TaskFailed(const QString& message);
    void RecordingEnded();
    // Once per recording that ended without a fault: finishes its file.
    bool FinishFile(QString* error);

    std::unique_ptr<TFFEncoder> FEncoder;
    QString FFileName;
    // Read by the sound source while it captures: true while the recording is paused.
    std::atomic<bool> FPauseFlag{false};
    THandleRegistration<std::atomic<bool>> FPauseHandle{&FPauseFlag};
    // Set by the sound source when the sound device goes away.
    std::atomic<bool> FSoundLostFlag{false};
    THandleRegistration<std::atomic<bool>> FSoundLostHandle{&FSoundLostFlag};
    bool FSoundLostTold = false;
    // The file still waits to be finished; the recording ended with a fault.
    bool FFinishPending = false;
    bool FFailed = false;
};
