// vexmira-cli record: a screen recording from the command line, set up exactly as the
// program's recording toolbar sets it up (same source options and presets).
#include "cli/CliCommand.h"
#include "cli/CliRun.h"
#include "media/FFEncodeOptions.h"
#include "media/FFLog.h"
#include "platform/PortalScreenCast.h"
#include "platform/X11Connection.h"
#include "recording/RecordingController.h"
#include "recording/RecordingPresets.h"
#include "recording/RecordingSession.h"
#include "state/ProgramState.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QScreen>
#include <QTimer>

#include <algorithm>
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

// Reads the arguments after "record" into `request` and `seconds` (-1: until stopped);
// false with the message in `error`.
bool ParseRecordArguments(const QStringList& args, TRecordingRequest* request, double* seconds,
                          QString* error) {
    bool haveArea = false;
    for (int i = 0; i < args.size(); ++i) {
        const QString& a = args[i];
        QString v;
        const bool haveValue = i + 1 < args.size();
        if (haveValue)
            v = args[i + 1];
        auto fail = [&](const char* text) {
            *error = QString::fromUtf8(text);
            return false;
        };
        if (a == u"-o") {
            if (!haveValue)
                return fail("-o needs a file name");
            request->FileName = args[++i];
        } else if (a == u"--seconds") {
            bool ok = false;
            ++i;
            if (!haveValue || (*seconds = v.toDouble(&ok), !ok) || *seconds <= 0)
                return fail("--seconds needs a positive number");
        } else if (a == u"--area") {
            int r[4];
            ++i;
            if (!haveValue || !ParseInts(v, u',', 4, r) || r[2] <= 0 || r[3] <= 0)
                return fail("--area needs X,Y,W,H with a positive width and height");
            request->Area = QRect(r[0], r[1], r[2], r[3]);
            haveArea = true;
        } else if (a == u"--size") {
            int r[2];
            ++i;
            if (!haveValue || !ParseInts(v, u'*', 2, r) || r[0] <= 0 || r[1] <= 0)
                return fail("--size needs W*H with a positive width and height");
            request->FrameSize = v;
        } else if (a == u"--no-cursor") {
            request->Cursor = false;
        } else if (a == u"--no-sound") {
            request->Sound = false;
        } else if (a == u"--sound") {
            ++i;
            const qsizetype source =
                haveValue ? QStringList{QStringLiteral("mic"), QStringLiteral("system"),
                                        QStringLiteral("both")}
                                .indexOf(v)
                          : -1;
            if (source < 0)
                return fail("--sound needs mic, system or both");
            request->Source = TSoundSource(source);
        } else if (a == u"--h264") {
            request->H264 = true;
        } else {
            *error = QStringLiteral("unknown argument \"%1\"").arg(a);
            return false;
        }
    }
    if (request->FileName.isEmpty()) {
        *error = QStringLiteral("the output file is missing (-o FILE)");
        return false;
    }
    request->FileName = QDir::current().absoluteFilePath(request->FileName);
    if (request->H264 && !IsH264Container(request->FileName)) {
        *error = QStringLiteral("--h264 needs an .mp4 or .mov output file");
        return false;
    }
    if (!haveArea) {
        const QRect screen = QGuiApplication::primaryScreen()->geometry();
        request->Area = QRect(0, 0, screen.width(), screen.height());
    }
    if (request->FrameSize.isEmpty())
        request->FrameSize = RecordingFrameSize(0, QString(), request->Area.size());
    return true;
}

// Prints a line on stderr at once.
void Say(const QString& line) {
    std::fprintf(stderr, "%s\n", line.toUtf8().constData());
    std::fflush(stderr);
}

// Opens the X display, or in a Wayland session lets Qt use the compositor; false with
// the reason in `error`.
bool PrepareDisplay(QString* error) {
    if (TPortalScreenCast::IsWaylandSession()) {
        // A Wayland session: the screen comes through the desktop's screen-cast portal, and
        // the screen's size from the compositor itself (XWayland when Qt has no Wayland
        // plugin).
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
            qputenv("QT_QPA_PLATFORM", "wayland;xcb");
        return true;
    }
    // Without an X server the windowing library would end the process; say why instead.
    TX11Connection display;
    if (display.Open())
        return true;
    *error = display.LastError();
    return false;
}

int RunRecord(int argc, char** argv) {
    TCliRun run{"record"};
    // Ctrl+C and SIGTERM end the recording as the stop button does: the file is finalised.
    // SIGUSR1 pauses a running recording and resumes a paused one.
    std::signal(SIGINT, RequestStop);
    std::signal(SIGTERM, RequestStop);
    std::signal(SIGUSR1, RequestPause);
    QString error;
    if (!PrepareDisplay(&error))
        return run.Fail(error);
    QGuiApplication app(argc, argv);
    ProgramState().AppDir = QCoreApplication::applicationDirPath() + u'/';

    TRecordingRequest request;
    double seconds = -1;
    if (!ParseRecordArguments(QCoreApplication::arguments().mid(1), &request, &seconds, &error))
        return run.Fail(error);

    // The engine's and FFmpeg's error lines say what went wrong in more words than the
    // engine's one-line message; they are shown as they come.
    FFLogger().SetOnLog([](QObject*, TThreadID, TLogLevel level, const QString& line) {
        if (level <= llError)
            std::fprintf(stderr, "%s\n", line.trimmed().toLocal8Bit().constData());
    });

    TRecordingController recorder;
    QString time = RecordingTimeText(0), size = RecordingSizeText(0);
    // --seconds counts from the recording's first picture, which comes after the screen
    // and the sound device have opened. Each report of the pictures encoded, the last of
    // them just taken, bounds when the first was taken; reports come late, never early,
    // so the least of these bounds is taken. Until the first report it counts from the
    // start.
    QElapsedTimer clock;
    qint64 firstPictureMs = 0;
    bool reported = false;
    recorder.OnProgress = [&](int64_t duration, int64_t bytes) {
        time = RecordingTimeText(duration);
        size = RecordingSizeText(bytes);
        if (duration <= 0)
            return;
        const qint64 bound = clock.elapsed() - duration / 1000 + 1000 / RecordingFrameRate;
        firstPictureMs = reported ? std::min(firstPictureMs, bound) : bound;
        reported = true;
    };
    recorder.OnSoundLost = [] {
        Say(QStringLiteral("sound device lost: the recording goes on without sound"));
    };
    recorder.OnFailed = [&](const QString& message) { run.Status = run.Fail(message); };
    recorder.OnFinishing = [] { Say(FinishingFileText()); };
    recorder.OnEnded = [&](bool finished, const QString& finishError) {
        if (!finished)
            run.Status = run.Fail(FinishFailedText(finishError));
        run.Ended = true;
        QCoreApplication::quit();
    };
    clock.start();
    if (!recorder.Start(request, &error)) {
        FFLogger().SetOnLog(nullptr);
        return run.Fail(error);
    }

    // The toolbar's two texts, once a second.
    QTimer texts;
    texts.setInterval(1000);
    QObject::connect(&texts, &QTimer::timeout, [&] { Say(time + QStringLiteral("  ") + size); });
    QTimer watch;
    watch.setInterval(20);
    int pauses = 0;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        for (; pauses < PauseRequests; ++pauses) {
            if (recorder.Paused())
                recorder.Resume();
            else
                recorder.Pause();
            Say(recorder.Paused() ? QStringLiteral("paused") : QStringLiteral("resumed"));
        }
        // The time given with --seconds runs on while the recording is paused. The stop
        // comes half a picture before the next one is due, so that the recording holds
        // the pictures of exactly that time.
        const qint64 endMs = firstPictureMs + qint64(seconds * 1000) - 500 / RecordingFrameRate;
        if (StopRequested || (seconds > 0 && clock.elapsed() >= endMs)) {
            watch.stop();
            texts.stop();
            recorder.Stop();
        }
    });
    watch.start();
    texts.start();
    if (!run.Ended)
        QCoreApplication::exec();
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
