#include "FuzzSupport.h"

#include "media/FFLoad.h"
#include "media/FFLog.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <cstdio>
#include <cstdlib>
#include <memory>

namespace {

QTemporaryDir& Scratch() {
    static QTemporaryDir* dir = [] {
        const QString base = QDir(QStringLiteral("/dev/shm")).exists() ? QStringLiteral("/dev/shm")
                                                                       : QDir::tempPath();
        auto* d = new QTemporaryDir(base + QStringLiteral("/vexmira-fuzz.XXXXXX"));
        if (!d->isValid())
            FuzzFail("cannot create the scratch folder");
        // Removed at exit; the object itself lives as long as the process.
        std::atexit([] { Scratch().remove(); });
        return d;
    }();
    return *dir;
}

} // namespace

void FuzzApplication() {
    if (QCoreApplication::instance() != nullptr)
        return;
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static int argc = 1;
    static char name[] = "vexmira-fuzz";
    static char* argv[] = {name, nullptr};
    new QApplication(argc, argv);
}

QString FuzzScratchFile(const QString& name) {
    return Scratch().filePath(name);
}

void FuzzWriteFile(const QString& fileName, const QByteArray& bytes) {
    QFile file(fileName);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size())
        FuzzFail("cannot write a scratch file", fileName);
}

void FuzzLoadFFmpeg() {
    static const bool loaded = [] {
        FFLoader.SetLibraryPath(QString());
        if (!FFLoader.Load(TLibraries::All()))
            FuzzFail("cannot load FFmpeg", FFLoader.LastErrMsg());
        FuzzQuietLog();
        return true;
    }();
    (void)loaded;
}

void FuzzQuietLog() {
    if (FFLogger().LogLevel() != llQuiet)
        FFLogger().SetLogLevel(llQuiet);
}

void FuzzFail(const char* what, const QString& detail) {
    std::fprintf(stderr, "FUZZ FAILURE: %s%s%s\n", what, detail.isEmpty() ? "" : ": ",
                 detail.toUtf8().constData());
    std::abort();
}
