#include "recording/RecordingSession.h"

#include "app/state/ProgramState.h"
#include "capture/ScreenCapture.h"
#include "capture/WaveCapture.h"
#include "media/FFEncode.h"
#include "media/FFFinalise.h"
#include "media/MainThread.h"
#include "recording/RecordingPresets.h"

#include <QFileInfo>

#include <atomic>
#include <thread>

TOutputOptions BuildRecordingOutputOptions(const QString& fileName, const QString& frameSize) {
    TOutputOptions o;
    InitOutputOptions(&o);
    const QString suffix = QFileInfo(fileName).suffix().toLower();
    const QString extension = suffix.isEmpty() ? QString() : u'.' + suffix;

    o.AudioChannels = 2;
    o.AudioSampleRate = 44100;
    o.AudioBitrate = 128000;
    o.FrameRate = QStringLiteral("15/1");
    o.VideoBitrate = 5000000;

    const qsizetype star = frameSize.indexOf(u'*');
    const int width = frameSize.left(star).toInt();
    const int height = star < 0 ? 0 : frameSize.mid(star + 1).toInt();

    SetCodecsForExtension(o, fileName);
    o.FrameSize = QString::number(width) + u'*' + QString::number(height);
    // An MP4 or MOV recording is written in fragments, each complete with its own index,
    // so a recording cut short by a full disk, a lost device or a crash still plays up to
    // its last fragment (a plain MP4 keeps its only index for the very end). A normal
    // stop turns it into an ordinary file (FinishRecordingFile).
    if (extension == u".mp4" || extension == u".mov")
        o.ExtOptions += QStringLiteral("movflags=frag_keyframe+empty_moov\r\n");
    // The writer holds pictures back until sound of the same time has come. Should the
    // sound stop (its device went away), it waits at most half a second, not the
    // default ten, before it writes the pictures on their own.
    o.ExtOptions += QStringLiteral("max_interleave_delta=500000\r\n");
    o.Info.TimeStamp = 0;
    o.DisableSubtitle = true;
    return o;
}

QString SoundDeviceLostText() {
    return QStringLiteral("录音设备已断开，录制继续进行，但此后的录像没有声音。");
}

bool PrepareRecording(TCustomEncoder& encoder, const TRecordingRequest& request,
                      TObjectHandle pauseHandle, QString* error, TObjectHandle lostHandle) {
    auto fail = [&] {
        *error = encoder.LastErrMsg();
        return false;
    };
    if (!encoder.AVLibLoaded() && !encoder.LoadAVLib(ProgramState().LibraryPath()))
        return fail();
    RegisterScreenCapture();
    RegisterWaveCapture();
    encoder.ClearTasks();

    TInputOptions screen;
    InitInputOptions(&screen);
    screen.ForceFormat = QStringLiteral("screencapture");
    const int task = encoder.AddTask(ScreenSourceOptions(request.Area, request.Cursor), &screen);
    if (task < 0)
        return fail();

    if (request.Sound) {
        TInputOptions sound;
        InitInputOptions(&sound);
        sound.ForceFormat = QStringLiteral("wavecapture");
        if (!encoder.AddInputFile(task, WaveSourceOptions(pauseHandle, lostHandle), &sound))
            return fail();
    }

    const TOutputOptions output = BuildRecordingOutputOptions(request.FileName, request.FrameSize);
    if (!encoder.SetOutputFile(task, request.FileName, &output)) {
        *error = encoder.LastErrMsg();
        encoder.RemoveTask(task);
        return false;
    }
    return true;
}

QString FinishingFileText() {
    return QStringLiteral("正在完成文件…");
}

QString FinishFailedText(const QString& reason) {
    return QStringLiteral("录像文件未能完成（%1）。录像已保存，仍可播放。").arg(reason);
}

bool FinishRecordingFile(const QString& fileName, const std::function<void()>& slow,
                         QString* error) {
    const QString suffix = QFileInfo(fileName).suffix().toLower();
    if (suffix != u"mp4" && suffix != u"mov")
        return true;
    std::atomic<bool> done{false};
    bool ok = false;
    QString reason;
    std::thread worker([&] {
        ok = FinaliseFragmentedFile(fileName, &reason);
        done = true;
        WakeMainThreadWaiters();
    });
    // A short recording is finished before anyone could read a message about it.
    constexpr int MomentMs = 300;
    if (!WaitServingMainThreadCalls([&] { return done.load(); }, MomentMs) && slow)
        slow();
    WaitServingMainThreadCalls([&] { return done.load(); });
    worker.join();
    if (!ok && error)
        *error = reason;
    return ok;
}
