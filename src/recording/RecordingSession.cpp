#include "recording/RecordingSession.h"

#include "capture/ScreenCapture.h"
#include "capture/WaveCapture.h"
#include "media/FFEncode.h"
#include "media/FFFinalise.h"
#include "media/MainThread.h"
#include "platform/PortalScreenCast.h"
#include "recording/RecordingPresets.h"
#include "state/ProgramState.h"

#include <QFileInfo>

#include <atomic>
#include <thread>

namespace {

// H.264 of a recording: x264's fastest preset keeps every picture of a full-HD
// recording at 15 a second on two cores; a key picture every two seconds starts a new
// fragment of the file as often.
const QString RecordingH264Preset = QStringLiteral("ultrafast");
constexpr int RecordingH264Quality = 20;
constexpr int RecordingH264KeyInterval = 30;

} // namespace

TOutputOptions BuildRecordingOutputOptions(const QString& fileName, const QString& frameSize,
                                           bool h264) {
    TOutputOptions o;
    InitOutputOptions(&o);
    const QString suffix = QFileInfo(fileName).suffix().toLower();
    const QString extension = suffix.isEmpty() ? QString() : u'.' + suffix;

    o.AudioChannels = 2;
    o.AudioSampleRate = 44100;
    o.AudioBitrate = 128000;
    o.FrameRate = QStringLiteral("%1/1").arg(RecordingFrameRate);
    o.VideoBitrate = 5000000;

    const qsizetype star = frameSize.indexOf(u'*');
    const int width = frameSize.left(star).toInt();
    const int height = star < 0 ? 0 : frameSize.mid(star + 1).toInt();

    SetCodecsForExtension(o, fileName);
    o.FrameSize = QString::number(width) + u'*' + QString::number(height);
    if (h264)
        UseH264Pictures(o, fileName, RecordingH264Preset, RecordingH264Quality,
                        RecordingH264KeyInterval);
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

QString ScreenSharingFailureText(const QString& detail) {
    if (!TPortalScreenCast::IsWaylandSession())
        return {};
    switch (TPortalScreenCast::LatestFailure()) {
    case cfNone:
        return {};
    case cfCancelled:
        return QStringLiteral("已取消屏幕共享，没有开始录像。");
    case cfNoPortal:
        return QStringLiteral(
            "此桌面没有屏幕录制门户（org.freedesktop.portal.ScreenCast），无法录像。\n"
            "请安装 xdg-desktop-portal 和桌面对应的门户"
            "（xdg-desktop-portal-gnome、xdg-desktop-portal-kde 或 "
            "xdg-desktop-portal-wlr）。");
    case cfNoPipeWire:
        return QStringLiteral("桌面无法开始屏幕共享：PipeWire 不可用。\n"
                              "请安装 pipewire 和 wireplumber，并随桌面启动它们。");
    case cfOther:
        break;
    }
    return QStringLiteral("无法开始屏幕共享：%1").arg(detail);
}

QString ScreenSharingEndedText() {
    return QStringLiteral("桌面已停止屏幕共享，录像已结束，文件已保存。");
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
    // A Wayland desktop's permission to record the screen is kept with the settings.
    TPortalScreenCast::SetTokenFile(ProgramState().IniFileName);
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
        if (!encoder.AddInputFile(task, WaveSourceOptions(pauseHandle, lostHandle, request.Source),
                                  &sound)) {
            // No half-set-up task stays behind.
            fail();
            encoder.RemoveTask(task);
            return false;
        }
    }

    const TOutputOptions output =
        BuildRecordingOutputOptions(request.FileName, request.FrameSize, request.H264);
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
