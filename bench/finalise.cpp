// Finishes one fragmented MP4 or MOV recording into an ordinary file, as a stopped
// recording is finished, and prints the time it took:
//
//     bench_finalise FILE
#include "media/FFFinalise.h"
#include "media/FFLoad.h"
#include "media/FFLog.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>

#include <cstdio>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments().mid(1);
    if (args.size() != 1) {
        std::fprintf(stderr, "usage: bench_finalise FILE\n");
        return 2;
    }
    FFLoader.SetLibraryPath(QDir(QCoreApplication::applicationDirPath()).filePath("LibAV"));
    if (!FFLoader.Load(TLibraries::All())) {
        std::fprintf(stderr, "%s\n", FFLoader.LastErrMsg().toLocal8Bit().constData());
        return 1;
    }
    FFLogger().SetOnLog([](QObject*, TThreadID, TLogLevel level, const QString& line) {
        if (level <= llWarning)
            std::fprintf(stderr, "%s\n", line.trimmed().toLocal8Bit().constData());
    });
    QElapsedTimer clock;
    clock.start();
    QString error;
    if (!FinaliseFragmentedFile(args[0], &error)) {
        std::fprintf(stderr, "%s\n", error.toLocal8Bit().constData());
        return 1;
    }
    std::printf("finished in %.2f s\n", double(clock.nsecsElapsed()) / 1e9);
    return 0;
}
