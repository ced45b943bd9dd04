// The composer's side of the lyrics-video benchmark:
//   bench_lyricframes project [--size WxH] OUT.lmmc SONG LRC PHOTO...
//       writes a project of a 320x240 video (or W x H)
//   bench_lyricframes frames PROJECT DIR SECONDS          writes every picture of the
//       project's video (2 per second for SECONDS) as DIR/frame00001.bmp ...
// so the ffmpeg tool can encode the same pictures the program makes.
#include "videomaker/FrameComposer.h"
#include "videomaker/LyricText.h"
#include "videomaker/ProjectFile.h"
#include "videomaker/VideoProject.h"

#include <QFile>
#include <QGuiApplication>
#include <QImage>

#include <cstdio>

namespace {

int WriteProject(QStringList args) {
    TProjectData data;
    data.Settings.LyricsVideoWidth = 320;
    data.Settings.LyricsVideoHeight = 240;
    if (args.value(0) == u"--size") {
        const QStringList size = args.value(1).split(u'x');
        if (size.size() != 2 || size[0].toInt() <= 0 || size[1].toInt() <= 0)
            return 2;
        data.Settings.LyricsVideoWidth = size[0].toInt();
        data.Settings.LyricsVideoHeight = size[1].toInt();
        args = args.mid(2);
    }
    if (args.size() < 3)
        return 2;
    data.AudioName = args[1];
    QString error;
    if (!LoadLyricFile(args[2], data.LyricText, &error)) {
        std::fprintf(stderr, "%s\n", error.toLocal8Bit().constData());
        return 1;
    }
    data.PhotoNames = args.mid(3);
    QFile out(args[0]);
    return out.open(QIODevice::WriteOnly) && out.write(ProjectFileBytes(data)) > 0 ? 0 : 1;
}

int WriteFrames(const QStringList& args) {
    if (args.size() != 3)
        return 2;
    const TProjectReadResult read = ReadProjectIntoCurrent(args[0]);
    if (!read.ReadError.isEmpty() || !read.Whole)
        return 1;
    VideoProject().Photos = read.Photos;
    BuildRowTimes();
    TFrameComposer& composer = FrameComposer();
    composer.ResetComposer();
    const qint64 end = qint64(args[2].toDouble() * 1000000);
    const qint64 step = 1000000 / TFrameComposer::FrameRate;
    QImage last;
    int number = 0;
    for (qint64 t = 0; t < end; t += step) {
        QImage frame = MakeFrameCanvas();
        if (composer.ComposeFrame(frame, t))
            last = frame;
        const QString name =
            QStringLiteral("%1/frame%2.bmp").arg(args[1]).arg(++number, 5, 10, QChar(u'0'));
        if (!last.save(name, "BMP"))
            return 1;
    }
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const QStringList args = QGuiApplication::arguments().mid(1);
    if (args.value(0) == u"project")
        return WriteProject(args.mid(1));
    if (args.value(0) == u"frames")
        return WriteFrames(args.mid(1));
    std::fprintf(stderr, "usage: bench_lyricframes project [--size WxH] OUT SONG LRC PHOTO... | "
                         "frames PROJECT DIR SECONDS\n");
    return 2;
}
