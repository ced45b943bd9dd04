#include "media/EncodeTestSupport.h"

#include <QFileInfo>
#include <QProcess>

// A recording whose disk fills up: the command-line recorder, which sets the recording up
// exactly as the toolbar does, runs with a file-size limit standing in for the full disk.
namespace {

struct TRecorderRun {
    int ExitCode = -1;
    QString Errors;
};

TRecorderRun RecordWithSizeLimit(const QString& file, qint64 limit) {
    const QString cli =
        qEnvironmentVariable("VX_TEST_BINARY_DIR") + QStringLiteral("/bin/vexmira-cli");
    QProcess run;
    // The limit's signal is ignored, as a full disk raises none: the writes fail instead.
    run.start(QStringLiteral("bash"),
              {QStringLiteral("-c"),
               QStringLiteral("trap '' XFSZ; exec prlimit --fsize=%1 \"$0\" record --seconds 6 "
                              "--no-sound --area 0,0,640,480 -o \"$1\"")
                   .arg(limit),
               cli, file});
    TRecorderRun result;
    if (!run.waitForFinished(60000)) {
        run.kill();
        return result;
    }
    result.ExitCode = run.exitCode();
    result.Errors = QString::fromLocal8Bit(run.readAllStandardError());
    return result;
}

} // namespace

constexpr qint64 Limit = 30000;

TEST(RecordingFaults, AFullDiskEndsTheRecordingWithAMessageAndKeepsWhatWasRecorded) {
    TSandbox box;
    for (const char* name : {"full.mp4", "full.avi", "full.mov"}) {
        const QString file = box.File(QLatin1StringView(name));
        const TRecorderRun run = RecordWithSizeLimit(file, Limit);
        EXPECT_NE(run.ExitCode, 0) << name;
        // The message names the file and the reason.
        EXPECT_TRUE(run.Errors.contains(file + QStringLiteral(": File too large")))
            << run.Errors.toStdString();
        EXPECT_EQ(QFileInfo(file).size(), Limit) << name;
        const TProbe probe = ProbeFile(file);
        ASSERT_TRUE(probe.Ok) << name;
        ASSERT_TRUE(probe.First(QStringLiteral("video"))) << name;
        EXPECT_GT(probe.First(QStringLiteral("video"))->Frames, 2) << name;
    }
}
