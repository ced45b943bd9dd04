// Finishing an MP4 or MOV written in fragments into an ordinary file with one index.
#include "EncodeTestSupport.h"
#include "media/FFFinalise.h"
#include "support/MovBoxes.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <csignal>
#include <sys/resource.h>

namespace {

QByteArray Digest(const QString& path) {
    QFile file(path);
    file.open(QIODevice::ReadOnly);
    return QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha256);
}

class FinaliseTest : public TMediaTest {
protected:
    TSandbox Sandbox;

    // Three seconds of pictures (15 a second) and sound, written in fragments.
    QString MakeFragmented(const QString& name) {
        const QString file = Sandbox.File(name);
        EXPECT_TRUE(MakeFixture(
            {QStringLiteral("-f"), QStringLiteral("lavfi"), QStringLiteral("-i"),
             TestPicture(3, 15), QStringLiteral("-f"), QStringLiteral("lavfi"),
             QStringLiteral("-i"), TestSound(3), QStringLiteral("-c:v"), QStringLiteral("mpeg4"),
             QStringLiteral("-c:a"), QStringLiteral("aac"), QStringLiteral("-movflags"),
             QStringLiteral("frag_keyframe+empty_moov"), file}));
        return file;
    }
};

} // namespace

TEST_F(FinaliseTest, AFragmentedFileBecomesAnOrdinaryOneWithTheSameStreams) {
    for (const char* name : {"clip.mp4", "clip.mov"}) {
        SCOPED_TRACE(name);
        const QString file = MakeFragmented(QLatin1String(name));
        ASSERT_TRUE(TopLevelBoxes(file).contains(QStringLiteral("moof")));
        ASSERT_TRUE(IsFragmentedMovFile(file));
        const TProbe before = ProbeFile(file);
        QFile::setPermissions(file, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup);
        const QFile::Permissions permissions = QFile::permissions(file);

        QString error;
        ASSERT_TRUE(FinaliseFragmentedFile(file, &error)) << error.toStdString();
        const QStringList boxes = TopLevelBoxes(file);
        EXPECT_FALSE(boxes.contains(QStringLiteral("moof"))) << boxes.join(u' ').toStdString();
        EXPECT_EQ(boxes.count(QStringLiteral("moov")), 1);
        EXPECT_FALSE(IsFragmentedMovFile(file));
        EXPECT_EQ(QFile::permissions(file), permissions);

        const TProbe after = ProbeFile(file);
        ASSERT_TRUE(after.Ok);
        ASSERT_EQ(after.Streams.size(), 2u);
        for (size_t i = 0; i < 2; ++i) {
            EXPECT_EQ(after.Streams[i].CodecName, before.Streams[i].CodecName);
            EXPECT_EQ(after.Streams[i].Frames, before.Streams[i].Frames);
        }
        EXPECT_EQ(after.First(QStringLiteral("video"))->Frames, 45);
        EXPECT_NEAR(after.Duration, before.Duration, 0.05);
        EXPECT_EQ(FirstFrameRGB(file), FirstFrameRGB(file)); // decodes
        // Nothing is left beside it.
        EXPECT_EQ(QDir(Sandbox.Path()).entryList(QDir::Files | QDir::Hidden).size(),
                  qsizetype(std::string(name) == "clip.mp4" ? 1 : 2));
    }
}

TEST_F(FinaliseTest, OrdinaryAndForeignFilesAreLeftAlone) {
    const QString plain = Sandbox.File(QStringLiteral("plain.mp4"));
    ASSERT_TRUE(
        MakeFixture({QStringLiteral("-f"), QStringLiteral("lavfi"), QStringLiteral("-i"),
                     TestPicture(1, 15), QStringLiteral("-c:v"), QStringLiteral("mpeg4"), plain}));
    const QByteArray digest = Digest(plain);
    EXPECT_FALSE(IsFragmentedMovFile(plain));
    EXPECT_TRUE(FinaliseFragmentedFile(plain));
    EXPECT_EQ(Digest(plain), digest);

    const QString text = Sandbox.File(QStringLiteral("notes.mp4"));
    QFile notes(text);
    ASSERT_TRUE(notes.open(QIODevice::WriteOnly));
    notes.write("moof moof moof, not a movie at all\n");
    notes.close();
    EXPECT_FALSE(IsFragmentedMovFile(text));
    EXPECT_FALSE(IsFragmentedMovFile(Sandbox.File(QStringLiteral("missing.mp4"))));
}

TEST_F(FinaliseTest, AFailedPassKeepsTheFragmentedFileAsItWas) {
    const QString file = MakeFragmented(QStringLiteral("full.mp4"));
    const QByteArray digest = Digest(file);
    // A disk that fills up during the pass: writes beyond half the file fail.
    struct rlimit old {};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
    const auto previous = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = old;
    small.rlim_cur = rlim_t(QFileInfo(file).size() / 2);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    QString error;
    const bool finished = FinaliseFragmentedFile(file, &error);
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, previous);

    EXPECT_FALSE(finished);
    EXPECT_TRUE(error.contains(QStringLiteral("File too large"))) << error.toStdString();
    EXPECT_EQ(Digest(file), digest);
    EXPECT_EQ(QDir(Sandbox.Path()).entryList(QDir::Files | QDir::Hidden),
              QStringList{QStringLiteral("full.mp4")});
}
