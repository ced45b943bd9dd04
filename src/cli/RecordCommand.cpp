// vexmira-cli record: a screen recording from the command line, set up exactly as the
// program's recording toolbar sets it up (same source options and presets).
#include "app/state/ProgramState.h"
#include "cli/CliCommand.h"
#include "cli/CliRun.h"
#include "media/FFEncode.h"
#include "media/FFLog.h"
#include "platform/PortalScreenCast.h"
#include "platform/X11Connection.h"
#include "recording/RecordingPresets.h"
#include "recording/RecordingSession.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QScreen>
#include <QTimer>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstring>

namespace {

std::atomic<bool> StopRequested{false};
std::atomic<int> PauseRequests{0}; // SIGUSR1s received; each one pauses or resumes
void RequestStop(int) {
    StopRequested = true;
}
void RequestPause(int) {
    ++PauseRequests;
}

bool ParseInts(const QString& text, QChar separator, int count, int* out) {
    const QStringList parts = text.split(separator);
    if (parts.size() != count)
        return false;
    for (int i = 0; i < count; ++i) {
        bool ok = false;
        out[i] = parts[i].toInt(&ok);
        if (!ok)
            return false;
    }
    return true;
}

int RunRecord(int argc, char** argv) {
    TCliRun run{"record"};
    // Ctrl+C and SIGTERM end the recording as the stop button does: the file is finalised.
    // SIGUSR1 pauses a running recording and resumes a paused one.
    std::signal(SIGINT, RequestStop);
    std::signal(SIGTERM, RequestStop);
    std::signal(SIGUSR1, RequestPause);
    if (TPortalScreenCast::IsWaylandSession()) {
        // A Wayland session: the screen comes through the desktop's screen-cast portal, and
        // the screen's size from the compositor itself (XWayland when Qt has no Wayland
        // plugin).
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
            qputenv("QT_QPA_PLATFORM", "wayland;xcb");
    } else {
        // Without an X server the windowing library would end the process; say why instead.
        TX11Connection display;
        if (!display.Open())
            return run.Fail(display.LastError());
    }
    QGuiApplication app(argc, argv);
    ProgramState().AppDir = QCoreApplication::applicationDirPath() + u'/';

    TRecordingRequest request;
    double seconds = -1;
    bool haveArea = false;
    const QStringList args = QCoreApplication::arguments().mid(1);
    for (int i = 0; i < args.size(); ++i) {
        const QString& a = args[i];
        auto value = [&](QString* v) {
            if (i + 1 >= args.size())
                return false;
            *v = args[++i];
            return true;
        };
        QString v;
        if (a == u"-o") {
            if (!value(&request.FileName))
                return run.Fail(QStringLiteral("-o needs a file name"));
        } else if (a == u"--seconds") {
            bool ok = false;
            if (!value(&v) || (seconds = v.toDouble(&ok), !ok) || seconds <= 0)
                return run.Fail(QStringLiteral("--seconds needs a positive number"));
        } else if (a == u"--area") {
            int r[4];
            if (!value(&v) || !ParseInts(v, u',', 4, r) || r[2] <= 0 || r[3] <= 0)
                return run.Fail(
                    QStringLiteral("--area needs X,Y,W,H with a positive width and height"));
            request.Area = QRect(r[0], r[1], r[2], r[3]);
            haveArea = true;
        } else if (a == u"--size") {
            int r[2];
            if (!value(&v) || !ParseInts(v, u'*', 2, r) || r[0] <= 0 || r[1] <= 0)
                return run.Fail(
                    QStringLiteral("--size needs W*H with a positive width and height"));
            request.FrameSize = v;
        } else if (a == u"--no-cursor") {
            request.Cursor = false;
        } else if (a == u"--no-sound") {
            request.Sound = false;
        } else if (a == u"--sound") {
            const qsizetype source =
                value(&v) ? QStringList{QStringLiteral("mic"), QStringLiteral("system"),
                                        QStringLiteral("both")}
                                .indexOf(v)
                          : -1;
            if (source < 0)
                return run.Fail(QStringLiteral("--sound needs mic, system or both"));
            request.Source = TSoundSource(source);
        } else if (a == u"--h264") {
            request.H264 = true;
        } else {
            return run.Fail(QStringLiteral("unknown argument \"%1\"").arg(a));
        }
    }
    if (request.FileName.isEmpty())
        return run.Fail(QStringLiteral("the output file is missing (-o FILE)"));
    request.FileName = QDir::current().absoluteFilePath(request.FileName);
    if (request.H264 && !IsH264Container(request.FileName))
        return run.Fail(QStringLiteral("--h264 needs an .mp4 or .mov output file"));
    if (!haveArea) {
        const QRect screen = QGuiApplication::primaryScreen()->geometry();
        request.Area = QRect(0, 0, screen.width(), screen.height());
    }
    if (request.FrameSize.isEmpty())
        request.FrameSize = RecordingFrameSize(0, QString(), request.Area.size());

    // The engine's and FFmpeg's error lines say what went wrong in more words than the
    // engine's one-line message; they are shown as they come.
    FFLogger().SetOnLog([](QObject*, TThreadID, TLogLevel level, const QString& line) {
        if (level <= llError)
            std::fprintf(stderr, "%s\n", line.trimmed().toLocal8Bit().constData());
    });

    TFFEncoder encoder;
    std::atomic<bool> pauseFlag{false}, soundLost{false};
    THandleRegistration<std::atomic<bool>> pauseHandle(&pauseFlag), lostHandle(&soundLost);
    QString error;
    if (!PrepareRecording(encoder, request, pauseHandle.Handle(), &error, lostHandle.Handle()))
        return run.Fail(error);

    QString time = RecordingTimeText(0), size = RecordingSizeText(0);
    encoder.SetOnProgress([&](QObject*, TProgressInfo* p) {
        time = RecordingTimeText(p->CurrentDuration);
        size = RecordingSizeText(p->CurrentSize);
    });
    encoder.SetOnTerminate([&](QObject*, const TTerminateInfo& t) { run.Terminated(t); });

    // The toolbar's two texts, once a second.
    QTimer texts;
    texts.setInterval(1000);
    QObject::connect(&texts, &QTimer::timeout, [&] {
        std::fprintf(stderr, "%s  %s\n", time.toUtf8().constData(), size.toUtf8().constData());
        std::fflush(stderr);
    });
    QElapsedTimer clock;
    QTimer watch;
    watch.setInterval(20);
    int pauses = 0;
    bool stopping = false, lostTold = false;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        if (stopping)
            return;
        if (soundLost && !lostTold) {
            lostTold = true;
            std::fprintf(stderr, "sound device lost: the recording goes on without sound\n");
        }
        for (; pauses < PauseRequests; ++pauses) {
            if (encoder.Paused()) {
                encoder.Resume();
                pauseFlag = false;
                std::fprintf(stderr, "resumed\n");
            } else {
                encoder.Pause();
                pauseFlag = true;
                std::fprintf(stderr, "paused\n");
            }
        }
        // The time given with --seconds runs on while the recording is paused.
        if (StopRequested || (seconds > 0 && clock.elapsed() >= qint64(seconds * 1000))) {
            stopping = true;
            watch.stop();
            texts.stop();
            encoder.Stop(true);
        }
    });
    clock.start();
    encoder.Start(1);
    watch.start();
    texts.start();
    if (!run.Ended)
        QCoreApplication::exec();
    if (run.Status == 0) {
        // A recording that ended without a fault gets its ordinary file.
        QString finishError;
        if (!FinishRecordingFile(
                request.FileName,
                [] {
                    std::fprintf(stderr, "%s\n", FinishingFileText().toUtf8().constData());
                    std::fflush(stderr);
                },
                &finishError))
            run.Status = run.Fail(FinishFailedText(finishError));
    }
    FFLogger().SetOnLog(nullptr);
    if (run.Status == 0)
        std::printf("%s\n", request.FileName.toLocal8Bit().constData());
    return run.Status;
}

const TCliCommandRegistration Registration({
    "record",
    "-o FILE [--seconds N] [--area X,Y,W,H] [--size W*H] [--no-cursor] [--no-sound] [--sound "
    "mic|system|both] [--h264]",
    RunRecord,
});

} // namespace
