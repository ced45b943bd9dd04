#include "platform/SafeFile.h"
#include "support/Sandbox.h"
#include "videomaker/ProjectFile.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QThread>
#include <gtest/gtest.h>

#include <csignal>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>

// A project save that dies half-way (killed, or crashed by the system) must leave the
// project file that was there before it, whole: the save writes a file beside it and
// only a finished file replaces it.

namespace {

QByteArray ReadAll(const QString& fileName) {
    QFile file(fileName);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

TProjectData Project(const QString& lyrics, int photos) {
    TProjectData d;
    d.AudioName = QStringLiteral("song.mp3");
    d.LyricText = lyrics;
    for (int i = 0; i < photos; ++i)
        d.PhotoNames << QStringLiteral("photo%1.jpg").arg(i);
    return d;
}

// A project of about `megabytes` MB: lyric text and photo names.
QByteArray BigProjectBytes(int megabytes) {
    QString lyrics;
    const QString line = QStringLiteral("[01:02.03]a long line of words for the new song\r\n");
    lyrics.reserve(megabytes * 1024 * 1024 / 2);
    while (lyrics.size() < megabytes * 1024 * 1024 / 2)
        lyrics += line;
    return ProjectFileBytes(Project(lyrics, 1000));
}

// Saves `bytes` to `fileName` in a child process through the program's save; `prepare`
// runs in the child first. The child's exit status is 0 for a finished save.
pid_t SaveInChild(const QString& fileName, const QByteArray& bytes,
                  const std::function<void()>& prepare) {
    const pid_t pid = fork();
    if (pid == 0) {
        // No core file for the deliberate deaths.
        const rlimit noCore{0, 0};
        setrlimit(RLIMIT_CORE, &noCore);
        prepare();
        _exit(WriteFileReplacing(fileName, bytes) ? 0 : 1);
    }
    return pid;
}

// The files of `folder` other than `keep`.
QStringList Others(const QString& folder, const QString& keep) {
    QStringList names = QDir(folder).entryList(QDir::Files | QDir::Hidden);
    names.removeAll(keep);
    return names;
}

class ProjectSaveFault : public testing::Test {
protected:
    TSandbox Box;
    QString Folder = Box.File(QStringLiteral("projects/x")).chopped(2);
    QString Target = Folder + QStringLiteral("/song.lmmc");
    QByteArray Old = ProjectFileBytes(Project(QStringLiteral("[00:01.00]old words\r\n"), 3));

    void SetUp() override { ASSERT_TRUE(WriteFileReplacing(Target, Old)); }

    // The target is still the old project, byte for byte, and reads as one.
    void ExpectOldProjectWhole() {
        EXPECT_EQ(ReadAll(Target), Old);
        TProjectData read;
        EXPECT_EQ(ReadProjectBytes(ReadAll(Target), read), ppPhotos);
        EXPECT_EQ(read.LyricText, QStringLiteral("[00:01.00]old words\r\n"));
    }
};

} // namespace

TEST_F(ProjectSaveFault, ACrashWhileWritingLeavesTheOldProjectWhole) {
    const QByteArray big = BigProjectBytes(8);
    // The system kills the child (SIGXFSZ) once it has written 1 MB of the new file.
    const pid_t child = SaveInChild(Target, big, [] {
        const rlimit oneMegabyte{1 << 20, 1 << 20};
        setrlimit(RLIMIT_FSIZE, &oneMegabyte);
    });
    ASSERT_GT(child, 0);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status)) << "exit status " << status;
    EXPECT_EQ(WTERMSIG(status), SIGXFSZ);
    ExpectOldProjectWhole();

    // What the dead save left beside it is only its unfinished file, never the target.
    for (const QString& other : Others(Folder, QStringLiteral("song.lmmc")))
        EXPECT_LE(QFileInfo(Folder + u'/' + other).size(), 1 << 20) << other.toStdString();

    // The next save replaces the project as a whole.
    ASSERT_TRUE(WriteFileReplacing(Target, big));
    EXPECT_EQ(ReadAll(Target), big);
}

TEST_F(ProjectSaveFault, AKillAtAnyMomentLeavesTheOldOrTheNewProjectWhole) {
    const QByteArray big = BigProjectBytes(48);
    int killedMidSave = 0, finished = 0;
    // The kill comes a little later at every attempt, so some of the kills fall while
    // the new file is being written, however fast this machine saves.
    for (int attempt = 0; attempt < 150 && killedMidSave < 3 && finished < 5; ++attempt) {
        const pid_t child = SaveInChild(Target, big, [] {});
        ASSERT_GT(child, 0);
        QThread::usleep(unsigned(attempt) * 1000);
        kill(child, SIGKILL);
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);

        const QByteArray now = ReadAll(Target);
        if (WIFSIGNALED(status)) {
            EXPECT_EQ(WTERMSIG(status), SIGKILL);
            // Killed before the rename: the old file; after it: the whole new one.
            EXPECT_TRUE(now == Old || now == big) << "a project of " << now.size() << " bytes";
            killedMidSave += now == Old;
        } else {
            ASSERT_EQ(WEXITSTATUS(status), 0);
            EXPECT_EQ(now, big);
            ++finished;
        }
        // Back to the old project for the next attempt; unfinished files are cleared.
        for (const QString& other : Others(Folder, QStringLiteral("song.lmmc")))
            QFile::remove(Folder + u'/' + other);
        ASSERT_TRUE(WriteFileReplacing(Target, Old));
    }
    // Some kills came before the save was done (the save writes into an unnamed file,
    // so how far it got cannot be seen from outside).
    EXPECT_GE(killedMidSave, 1) << finished << " saves finished before the kill";
    ExpectOldProjectWhole();
}
