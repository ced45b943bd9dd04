// vexmira-cli lrc [--merge] FILE: prints a lyric file as the program reads it (split,
// information tags dropped, sorted by time), in UTF-8 with LF line ends.
#include "cli/CliCommand.h"
#include "videomaker/LyricText.h"

#include <QCoreApplication>
#include <QStringList>

#include <cstdio>

namespace {

int RunLrc(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QStringList args = QCoreApplication::arguments().mid(1);
    const bool merge = args.removeAll(QStringLiteral("--merge")) > 0;
    if (args.size() != 1 || args.first().startsWith(u'-')) {
        std::fprintf(stderr, "usage: vexmira-cli lrc [--merge] FILE\n");
        return 2;
    }
    QString text, error;
    if (!LoadLyricFile(args.first(), text, &error)) {
        std::fprintf(stderr, "vexmira-cli lrc: cannot read \"%s\": %s\n",
                     args.first().toLocal8Bit().constData(), error.toLocal8Bit().constData());
        return 1;
    }
    if (merge)
        text = MergeLyricLines(text);
    text.replace(LyricLineBreak.toString(), QStringLiteral("\n"));
    const QByteArray out = text.toUtf8();
    std::fwrite(out.constData(), 1, static_cast<size_t>(out.size()), stdout);
    return std::fflush(stdout) == 0 ? 0 : 1;
}

const TCliCommandRegistration Registration(
    {"lrc", "[--merge] FILE   print a lyric file as read (UTF-8); --merge joins same-time lines",
     RunLrc});

} // namespace
