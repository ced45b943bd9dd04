// vexmira-cli make-video: the lyrics video of a project file, made exactly as the
// production dialog makes it (same settings from the project, same frames and options).
#include "cli/CliCommand.h"
#include "cli/CliRun.h"
#include "state/OutputFile.h"
#include "state/ProgramState.h"
#include "videomaker/FrameComposer.h"
#include "videomaker/VideoProduction.h"
#include "videomaker/VideoProject.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QTimer>

#include <csignal>
#include <cstdio>

namespace {

constexpr int BarWidth = 30;
volatile std::sig_atomic_t StopRequested = 0;
void RequestStop(int) {
    StopRequested = 1;
}

void PrintProgress(int percent, qint64 duration, qint64 size) {
    const int filled = percent * BarWidth / 100;
    std::fprintf(stderr, "\r[%s%s] %3d%%  %s  %s ", QByteArray(filled, '#').constData(),
                 QByteArray(BarWidth - filled, ' ').constData(), percent,
                 ElapsedClockText(duration).toUtf8().constData(),
                 MegabyteText(size, QStringLiteral(" MB")).toUtf8().constData());
    std::fflush(stderr);
}

int RunMakeVideo(int argc, char** argv) {
    // The frames are painted with Qt's raster engine; no display is needed for that.
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    TCliRun run{"make-video"};
    ProgramState().AppDir = QCoreApplication::applicationDirPath() + u'/';

    QString project, output;
    bool h264 = false;
    const QStringList args = QCoreApplication::arguments().mid(1);
    for (int i = 0; i < args.size(); ++i) {
        if (args[i] == u"-o") {
            if (i + 1 >= args.size())
                return run.Fail(QStringLiteral("-o needs a file name"));
            output = args[++i];
        } else if (args[i] == u"--h264") {
            h264 = true;
        } else if (args[i].startsWith(u'-') || !project.isEmpty()) {
            return run.Fail(QStringLiteral("unknown argument \"%1\"").arg(args[i]));
        } else {
            project = args[i];
        }
    }
    if (project.isEmpty() || output.isEmpty())
        return run.Fail(
            QStringLiteral("usage: vexmira-cli make-video PROJECT.lmmc -o FILE [--h264]"));
    project = QDir::current().absoluteFilePath(project);
    output = QDir::current().absoluteFilePath(output);
    if (!QFileInfo(project).isFile())
        return run.Fail(QStringLiteral("工程文件 %1 不存在。").arg(project));
    if (h264 && !IsH264Container(output))
        return run.Fail(QStringLiteral("--h264 needs an .mp4 or .mov output file"));

    const TProjectReadResult read = ReadProjectIntoCurrent(project);
    if (!read.ReadError.isEmpty())
        return run.Fail(QStringLiteral("无法读取工程文件 %1：%2").arg(project, read.ReadError));
    if (!read.Whole)
        return run.Fail(
            QStringLiteral("读取工程文件 %1 时出错：文件比其内容所需的短。").arg(project));
    for (const QString& missing : read.Missing)
        std::fprintf(stderr, "vexmira-cli make-video: 找不到文件 %s\n",
                     missing.toLocal8Bit().constData());
    TVideoProject& current = VideoProject();
    if (current.AudioFile.isEmpty())
        return run.Fail(QStringLiteral("工程里没有可用的音频文件。"));
    current.Photos = read.Photos;
    FrameComposer().BuildPhotoOrder();
    BuildRowTimes();

    TVideoProduction production;
    production.OnProgress = [&](const TProgressInfo& p) {
        const QString percent = ProductionPercentText(p.CurrentDuration, production.SongDuration());
        PrintProgress(percent.chopped(1).toInt(), p.CurrentDuration, p.CurrentSize);
    };
    production.OnTerminate = [&](const TTerminateInfo& t) {
        if (t.Exception)
            std::fprintf(stderr, "\n"); // end the progress bar's line
        run.Terminated(t);
    };
    QString error;
    if (!production.Start(output, &error, h264))
        return run.Fail(error);

    // Ctrl+C and SIGTERM stop the production as the stop button does: what was made so
    // far is a finalised file, but the command reports that the video is incomplete.
    std::signal(SIGINT, RequestStop);
    std::signal(SIGTERM, RequestStop);
    QTimer watch;
    watch.setInterval(50);
    bool stopped = false;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        if (StopRequested && !stopped) {
            stopped = true;
            production.Stop(false);
        }
    });
    watch.start();
    if (!run.Ended)
        QCoreApplication::exec();
    if (run.Status == 0 && !stopped)
        PrintProgress(100, production.SongDuration(), QFileInfo(output).size());
    std::fprintf(stderr, "\n");
    if (stopped)
        return run.Fail(
            QStringLiteral("stopped before the end; %1 holds the part made so far").arg(output));
    // A photo that could not be decoded left its frames without it: the video is not
    // what the project describes.
    const QStringList photoErrors = FrameComposer().PhotoErrors();
    if (!photoErrors.isEmpty()) {
        for (const QString& error : photoErrors)
            run.Fail(error);
        return run.Fail(QStringLiteral("%1 已做成，但缺少上面无法读取的图片。").arg(output));
    }
    if (run.Status == 0)
        std::printf("%s\n", output.toLocal8Bit().constData());
    return run.Status;
}

const TCliCommandRegistration Registration({
    "make-video",
    "PROJECT.lmmc -o FILE [--h264]   the lyrics video of a project (.mp4 .wmv .avi .mov; "
    "--h264: H.264 pictures)",
    RunMakeVideo,
});

} // namespace
