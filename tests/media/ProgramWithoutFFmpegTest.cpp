#include "media/FFLoad.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

QString Binary(const char* program) {
    return qEnvironmentVariable("VX_TEST_BINARY_DIR") + QStringLiteral("/bin/") +
           QLatin1StringView(program);
}

struct TRun {
    int ExitCode = -1;
    QString Out, Err;
};

TRun RunProgram(const QString& program, const QStringList& arguments) {
    QProcess process;
    process.start(program, arguments);
    EXPECT_TRUE(process.waitForFinished(60000));
    return {process.exitCode(), QString::fromLocal8Bit(process.readAllStandardOutput()),
            QString::fromLocal8Bit(process.readAllStandardError())};
}

} // namespace

// The program is not linked against FFmpeg: it runs where the libraries cannot be loaded
// and reports the loader's text the first time media work is asked for.
TEST(ProgramWithoutFFmpeg, ReportsTheLoadErrorWhenMediaWorkIsAskedFor) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString program = dir.filePath("vexmira-cli");
    ASSERT_TRUE(QFile::copy(Binary("vexmira-cli"), program));
    ASSERT_TRUE(QDir(dir.path()).mkdir("LibAV"));
    const QString broken = dir.filePath("LibAV/" + LibraryFileName(avCodec));
    QFile file(broken);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly)); // present but not a library
    file.close();

    const QString media = dir.filePath("tone.wav");
    QProcess ffmpeg;
    ffmpeg.start("ffmpeg", {"-v", "error", "-nostdin", "-f", "lavfi", "-i", "sine=duration=1",
                            "-c:a", "pcm_s16le", media});
    ASSERT_TRUE(ffmpeg.waitForFinished(60000));

    const TRun failed = RunProgram(program, {"info", media});
    EXPECT_EQ(failed.ExitCode, 1);
    EXPECT_TRUE(failed.Err.startsWith(QStringLiteral("Load library %1 error: ").arg(broken)))
        << failed.Err.toStdString();
    EXPECT_TRUE(failed.Out.isEmpty());

    // Without the broken folder the system's libraries serve.
    const TRun served = RunProgram(Binary("vexmira-cli"), {"info", media});
    EXPECT_EQ(served.ExitCode, 0) << served.Err.toStdString();
    EXPECT_TRUE(served.Out.contains("Stream #0: Audio: pcm_s16le(")) << served.Out.toStdString();
}
