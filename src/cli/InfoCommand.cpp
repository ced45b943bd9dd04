#include "cli/InfoCommand.h"
#include "cli/CliCommand.h"
#include <QCoreApplication>

#include "media/FFDecode.h"
#include "media/FFErrors.h"

#include <QCoreApplication>
#include <QDir>

#include <cstdio>

int InfoCommand(const QStringList& arguments) {
    if (arguments.size() != 1) {
        std::fprintf(stderr, "usage: vexmira-cli info <media file>\n");
        return 2;
    }
    TFFDecoder decoder;
    // The libraries are looked for in "LibAV" beside the program, then on the system.
    const QString folder = QDir(QCoreApplication::applicationDirPath()).filePath("LibAV");
    if (!decoder.AVLibLoaded() && !decoder.LoadAVLib(folder)) {
        std::fprintf(stderr, "%s\n", decoder.LastErrMsg().toLocal8Bit().constData());
        return 1;
    }
    if (!decoder.LoadFile(arguments.first())) {
        std::fprintf(stderr, "%s\n", decoder.LastErrMsg().toLocal8Bit().constData());
        return 1;
    }
    std::printf("%s\n", decoder.FileInfoText().toLocal8Bit().constData());
    return 0;
}

namespace {
int RunInfo(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    return InfoCommand(QCoreApplication::arguments().mid(1));
}
const TCliCommandRegistration InfoRegistration({"info", "<media file>", RunInfo});
} // namespace
