// vexmira-cli record: a screen recording from the command line, set up exactly as the
// program's recording toolbar sets it up (same source options and presets).
#include "app/state/ProgramState.h"
#include "cli/CliCommand.h"
#include "media/FFEncode.h"
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
void RequestStop(int) {
    StopRequested = true;
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

int Fail(const QString& message) {
    std::fprintf(stderr, "vexmira-cli record: %s\n", message.toLocal8Bit().constData());
    return 1;
}

int RunRecord(int argc, char** argv) {
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
                return Fail(QStringLiteral("-o needs a file name"));
        } else if (a == u"--seconds") {
            bool ok = false;
            if (!value(&v) || (seconds = v.toDouble(&ok), !ok) || seconds <= 0)
                return Fail(QStringLiteral("--seconds needs a positive number"));
        } else if (a == u"--area") {
            int r[4];
            if (!value(&v) || !ParseInts(v, u',', 4, r) || r[2] <= 0 || r[3] <= 0)
                return Fail(
                    QStringLiteral("--area needs X,Y,W,H with a positive width and height"));
            request.Area = QRect(r[0], r[1], r[2], r[3]);
            haveArea = true;
        } else if (a == u"--size") {
            int r[2];
            if (!value(&v) || !ParseInts(v, u'*', 2, r) || r[0] <= 0 || r[1] <= 0)
                return Fail(QStringLiteral("--size needs W*H with a positive width and height"));
            request.FrameSize = v;
        } else if (a == u"--no-cursor") {
            request.Cursor = false;
        } else if (a == u"--no-sound") {
            request.Sound = false;
        } else {
            return Fail(QStringLiteral("unknown argument \"%1\"").arg(a));
        }
    }
    if (request.FileName.isEmpty())
        return Fail(QStringLiteral("the output file is missing (-o FILE)"));
    request.FileName = QDir::current().absoluteFilePath(request.FileName);
    if (!haveArea) {
        const QRect screen = QGuiApplication::primaryScreen()->geometry();
        request.Area = QRect(0, 0, screen.width(), screen.height());
    }
    if (request.FrameSize.isEmpty())
        request.FrameSize = RecordingFrameSize(0, QString(), request.Area.size());

    TFFEncoder encoder;
    std::atomic<bool> pauseFlag{false};
    THandleRegistration<std::atomic<bool>> pauseHandle(&pauseFlag);
    QString error;
    if (!PrepareRecording(encoder, request, pauseHandle.Handle(), &error))
        return Fail(error);

    int status = 0;
    bool ended = false;
    encoder.SetOnProgress([](QObject*, TProgressInfo* p) {
        std::fprintf(stderr, "\r%s  %s ",
                     RecordingTimeText(p->CurrentDuration).toUtf8().constData(),
                     RecordingSizeText(p->CurrentSize).toUtf8().constData());
        std::fflush(stderr);
    });
    encoder.SetOnTerminate([&](QObject*, const TTerminateInfo& t) {
        if (t.Exception) {
            std::fprintf(stderr, "\n");
            Fail(t.ExceptionMsg);
            status = 1;
        }
        if (t.TaskIndex < 0) {
            ended = true;
            QCoreApplication::quit();
        }
    });

    // Ctrl+C and SIGTERM end the recording as the stop button does: the file is finalised.
    std::signal(SIGINT, RequestStop);
    std::signal(SIGTERM, RequestStop);
    QElapsedTimer clock;
    QTimer watch;
    watch.setInterval(20);
    QObject::connect(&watch, &QTimer::timeout, [&] {
        if (StopRequested || (seconds > 0 && clock.elapsed() >= qint64(seconds * 1000))) {
            watch.stop();
            encoder.Stop(true);
        }
    });
    clock.start();
    encoder.Start(1);
    watch.start();
    if (!ended)
        QCoreApplication::exec();
    std::fprintf(stderr, "\n");
    if (status == 0)
        std::printf("%s\n", request.FileName.toLocal8Bit().constData());
    return status;
}

const TCliCommandRegistration Registration({
    "record",
    "-o FILE [--seconds N] [--area X,Y,W,H] [--size W*H] [--no-cursor] [--no-sound]",
    RunRecord,
});

} // namespace
