#include "videomaker/UnitConvert.h"

#include "media/EncodeTestSupport.h"
#include "support/BrowserPlayback.h"
#include "support/ScriptedPrompts.h"
#include "videomaker/FrameComposer.h"
#include "videomaker/ProjectFile.h"
#include "videomaker/VideoProject.h"

#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QPushButton>

#include <cmath>

namespace {

const QColor Yellow(255, 255, 0);

// Every production test starts from the default settings with a font of the test
// machine and an empty project, and leaves them so.
class Production : public TMediaTest {
protected:
    void SetUp() override {
        TMediaTest::SetUp();
        ResetVideoMakeSettings();
        VideoMakeSettings().VideoFont.Font.setFamily(QStringLiteral("DejaVu Sans"));
        VideoMakeSettings().VideoFont.Font.setPixelSize(20);
        Clear();
    }
    void TearDown() override {
        Clear();
        ResetVideoMakeSettings();
        TMediaTest::TearDown();
    }
    static void Clear() {
        TVideoProject& p = VideoProject();
        p.SetAudioFile(QString());
        p.LyricText.clear();
        p.Photos.clear();
        p.SetRows({});
        p.ProjectFileName.clear();
    }
    // A sine song of `seconds` made by the ffmpeg tool, in the format of `name`.
    QString Song(const QString& name, double seconds) {
        const QString path = Box.File(name);
        EXPECT_TRUE(MakeFixture(
            {QStringLiteral("-f"), QStringLiteral("lavfi"), QStringLiteral("-i"),
             QStringLiteral("sine=frequency=440:sample_rate=44100:duration=%1").arg(seconds),
             QStringLiteral("-ac"), QStringLiteral("2"), path}));
        return path;
    }
    // A 160 × 120 project in "proj/" of the song "proj/song.mp3" (made by the caller),
    // one row and a red photo; the project file's path (empty when the photo could not
    // be written).
    QString RedPhotoProject() {
        QImage photo(64, 48, QImage::Format_RGB32);
        photo.fill(Qt::red);
        if (!photo.save(Box.File(QStringLiteral("proj/red.png"))))
            return QString();
        TProjectData data;
        data.Settings.LyricsVideoWidth = 160;
        data.Settings.LyricsVideoHeight = 120;
        data.AudioName = QStringLiteral("song.mp3");
        data.LyricText = QStringLiteral("[00:00.00]hello\r\n");
        data.PhotoNames = {QStringLiteral("red.png")};
        return Box.Write(QStringLiteral("proj/p.lmmc"), ProjectFileBytes(data));
    }
    void SetLyrics(const QString& text) {
        VideoProject().LyricText = text;
        LayoutLyricRows();
    }
    // Runs the dialog's production to its end, noting every progress text shown.
    void Produce(TFmConvert& dialog) {
        Percents.clear();
        auto shown = dialog.Production().OnProgress;
        dialog.Production().OnProgress = [&, shown](const TProgressInfo& info) {
            shown(info);
            Percents << dialog.LabelProgress()->text();
        };
        dialog.BtnStartClick();
        ASSERT_FALSE(dialog.BtnStart()->isEnabled()) << Asked.Messages.value(0).Text.toStdString();
        ASSERT_TRUE(PumpUntil([&] { return dialog.BtnStart()->isEnabled(); }, 120000));
    }

    TSandbox Box;
    TScriptedPrompts Asked;
    QStringList Percents;
};

// The picture of the file at `seconds` as RGB (decoded by the ffmpeg tool).
QImage FrameAt(const QString& path, double seconds, int w, int h) {
    QProcess process;
    process.start(QStringLiteral("ffmpeg"),
                  {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-ss"),
                   QString::number(seconds), QStringLiteral("-i"), path,
                   QStringLiteral("-frames:v"), QStringLiteral("1"), QStringLiteral("-f"),
                   QStringLiteral("rawvideo"), QStringLiteral("-pix_fmt"), QStringLiteral("rgb24"),
                   QStringLiteral("-")});
    process.waitForFinished(60000);
    const QByteArray bytes = process.readAllStandardOutput();
    if (bytes.size() != w * h * 3)
        return QImage();
    return QImage(reinterpret_cast<const uchar*>(bytes.constData()), w, h, w * 3,
                  QImage::Format_RGB888)
        .copy();
}

int CountNear(const QImage& img, QColor color, int tolerance) {
    int n = 0;
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x) {
            const QColor c = img.pixelColor(x, y);
            n += std::abs(c.red() - color.red()) <= tolerance &&
                 std::abs(c.green() - color.green()) <= tolerance &&
                 std::abs(c.blue() - color.blue()) <= tolerance;
        }
    return n;
}

double MeanDifference(const QImage& a, const QImage& b) {
    double sum = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x) {
            const QColor p = a.pixelColor(x, y), q = b.pixelColor(x, y);
            sum += std::abs(p.red() - q.red()) + std::abs(p.green() - q.green()) +
                   std::abs(p.blue() - q.blue());
        }
    return sum / (3.0 * a.width() * a.height());
}

} // namespace

TEST(ProductionTexts, ProposedNamesAndPercentages) {
    TSandbox box;
    const QString project = box.Write(QStringLiteral("p/我的视频.lmmc"), "x");
    const QString song = box.File(QStringLiteral("music/song.mp3"));
    EXPECT_EQ(ProposedVideoName(project, song), box.File(QStringLiteral("p/我的视频.mp4")));
    // A project that was never saved (or was deleted) gives the song's name.
    EXPECT_EQ(ProposedVideoName(QString(), song), box.File(QStringLiteral("music/song.mp4")));
    EXPECT_EQ(ProposedVideoName(box.File(QStringLiteral("gone.lmmc")), song),
              box.File(QStringLiteral("music/song.mp4")));

    EXPECT_EQ(ProductionPercentText(0, 61200000), QStringLiteral("0%"));
    EXPECT_EQ(ProductionPercentText(30599999, 61200000), QStringLiteral("49%"));
    EXPECT_EQ(ProductionPercentText(61200000, 61200000), QStringLiteral("100%"));
    // The sound may run past the length the song's header gave.
    EXPECT_EQ(ProductionPercentText(65000000, 61200000), QStringLiteral("100%"));
    EXPECT_EQ(ProductionPercentText(5, 0), QStringLiteral("100%"));
}

TEST_F(Production, OutputOptionsFollowTheExtensionAndTheSong) {
    const TSongAudio song{192000, 48000, 1, 10000000};
    const TOutputOptions mp4 =
        BuildLyricsVideoOptions(QStringLiteral("/t/a.MP4"), QStringLiteral("640*360"), song);
    EXPECT_EQ(mp4.VideoCodec, QStringLiteral("mpeg4"));
    EXPECT_EQ(mp4.AudioCodec, QStringLiteral("aac")); // Debian's FFmpeg has no libfaac
    EXPECT_TRUE(mp4.ExtOptions.startsWith(QStringLiteral("astrict=experimental\r\n")));
    EXPECT_EQ(mp4.FrameRate, QStringLiteral("2/1"));
    EXPECT_EQ(mp4.VideoBitrate, 5000000);
    EXPECT_EQ(mp4.FrameSize, QStringLiteral("640*360"));
    EXPECT_EQ(mp4.AudioBitrate, 192000);
    EXPECT_EQ(mp4.AudioSampleRate, 48000);
    EXPECT_EQ(mp4.AudioChannels, 1);
    EXPECT_TRUE(mp4.DisableSubtitle);

    const TOutputOptions wmv =
        BuildLyricsVideoOptions(QStringLiteral("/t/a.wmv"), QStringLiteral("320*240"), song);
    EXPECT_EQ(wmv.VideoCodec, QStringLiteral("wmv2"));
    EXPECT_EQ(wmv.AudioCodec, QStringLiteral("wmav2"));
    EXPECT_FALSE(wmv.ExtOptions.contains(QStringLiteral("astrict")));
    const TOutputOptions avi =
        BuildLyricsVideoOptions(QStringLiteral("/t/a.avi"), QStringLiteral("320*240"), song);
    EXPECT_EQ(avi.VideoCodec, QStringLiteral("mpeg4"));
    EXPECT_EQ(avi.AudioCodec, QStringLiteral("libmp3lame"));
    EXPECT_FALSE(avi.ExtOptions.contains(QStringLiteral("astrict")));
    // Any other extension keeps the MP4 choice.
    EXPECT_EQ(BuildLyricsVideoOptions(QStringLiteral("/t/a.mkv"), QStringLiteral("320*240"), song)
                  .AudioCodec,
              QStringLiteral("aac"));

    // H.264 goes into MP4 and MOV only, with the index first and an even picture size.
    const TOutputOptions h264 =
        BuildLyricsVideoOptions(QStringLiteral("/t/a.mov"), QStringLiteral("641*361"), song, true);
    EXPECT_EQ(h264.VideoCodec, QStringLiteral("libx264"));
    EXPECT_EQ(h264.AudioCodec, QStringLiteral("aac"));
    EXPECT_EQ(h264.FrameSize, QStringLiteral("640*360"));
    EXPECT_TRUE(h264.ExtOptions.contains(QStringLiteral("movflags=+faststart")));
    EXPECT_TRUE(h264.ExtOptions.contains(QStringLiteral("pix_fmt=yuv420p")));
    const TOutputOptions notH264 =
        BuildLyricsVideoOptions(QStringLiteral("/t/a.avi"), QStringLiteral("641*361"), song, true);
    EXPECT_EQ(notH264.VideoCodec, QStringLiteral("mpeg4"));
    EXPECT_EQ(notH264.FrameSize, QStringLiteral("641*361"));
    EXPECT_EQ(notH264.ExtOptions, avi.ExtOptions);
}

TEST_F(Production, TheFormatBoxChangesTheExtension) {
    TFmConvert dialog;
    dialog.SetFileName(Box.File(QStringLiteral("song.mp4")));
    dialog.ComboBoxVideoType()->setCurrentIndex(1);
    EXPECT_EQ(dialog.FileName(), Box.File(QStringLiteral("song.wmv")));
    dialog.ComboBoxVideoType()->setCurrentIndex(3);
    EXPECT_EQ(dialog.FileName(), Box.File(QStringLiteral("song.mov")));
    dialog.ComboBoxVideoType()->setCurrentIndex(4);
    EXPECT_EQ(dialog.ComboBoxVideoType()->currentText(), QStringLiteral("MP4(H.264)"));
    EXPECT_EQ(dialog.FileName(), Box.File(QStringLiteral("song.mp4")));
    dialog.ComboBoxVideoType()->setCurrentIndex(3);
    dialog.ComboBoxVideoType()->setCurrentIndex(0);
    EXPECT_EQ(dialog.FileName(), Box.File(QStringLiteral("song.mp4")));
    // Idle before any production: play and view are offered and report a missing file.
    EXPECT_TRUE(dialog.BtnPlay()->isEnabled());
    EXPECT_FALSE(dialog.BtnStop()->isEnabled());
    dialog.BtnPlayClick();
    ASSERT_EQ(Asked.Messages.size(), 1);
    EXPECT_EQ(Asked.Messages[0].Text,
              QStringLiteral("文件 ") + dialog.FileName() + QStringLiteral(" 不存在。"));
}

// A 61.2 s song: frames at 0, 0.5 ... 61.0 s, the frame at 61.5 s ends the input. The
// pictures are the composer's, the sound is the whole song.
TEST_F(Production, ASongMakesItsWholeVideo) {
    VideoProject().SetAudioFile(Song(QStringLiteral("song.mp3"), 61.2));
    SetLyrics(QStringLiteral("[00:00.00]first row\r\n[00:02.00]second row\r\n"
                             "[00:40.00]third row\r\n"));
    BuildRowTimes();
    TFmConvert dialog;
    const QString out = Box.File(QStringLiteral("song.mp4"));
    dialog.SetFileName(out);
    Produce(dialog);
    EXPECT_TRUE(Asked.Messages.isEmpty()) << Asked.Messages.value(0).Text.toStdString();
    EXPECT_EQ(dialog.LabelProgress()->text(), QStringLiteral("100%"));
    ASSERT_FALSE(Percents.isEmpty());
    for (const QString& p : Percents)
        EXPECT_LE(p.chopped(1).toInt(), 100) << p.toStdString();
    EXPECT_TRUE(dialog.BtnPlay()->isEnabled());
    EXPECT_TRUE(dialog.BtnView()->isEnabled());
    EXPECT_FALSE(dialog.BtnStop()->isEnabled());
    EXPECT_NEAR(dialog.Production().SongDuration() / 1e6, 61.2, 0.1);

    const TProbe probe = ProbeFile(out);
    ASSERT_TRUE(probe.Ok);
    const TProbedStream* video = probe.First(QStringLiteral("video"));
    const TProbedStream* audio = probe.First(QStringLiteral("audio"));
    ASSERT_TRUE(video && audio);
    EXPECT_EQ(video->CodecName, QStringLiteral("mpeg4"));
    EXPECT_EQ(video->Width, 320);
    EXPECT_EQ(video->Height, 240);
    EXPECT_DOUBLE_EQ(video->FrameRate, 2.0);
    EXPECT_EQ(video->Frames, 123);
    EXPECT_EQ(audio->CodecName, QStringLiteral("aac"));
    EXPECT_EQ(audio->SampleRate, 44100);
    EXPECT_EQ(audio->Channels, 2);
    EXPECT_NEAR(audio->Duration, 61.2, 0.5);

    // At 2.5 s the second row is current: the decoded picture is the composer's, with
    // the current row's colour where the composer puts it.
    TFrameComposer reference;
    reference.ResetComposer();
    QImage expected = MakeFrameCanvas();
    ASSERT_TRUE(reference.ComposeFrame(expected, 2500000));
    expected = expected.convertToFormat(QImage::Format_RGB888);
    const QImage decoded = FrameAt(out, 2.5, 320, 240);
    ASSERT_FALSE(decoded.isNull());
    EXPECT_LT(MeanDifference(decoded, expected), 6.0);
    const int yellow = CountNear(expected, Yellow, 30);
    ASSERT_GT(yellow, 50);
    EXPECT_GT(CountNear(decoded, Yellow, 60), yellow / 2);
}

TEST_F(Production, EachFormatUsesItsCodecs) {
    VideoProject().SetAudioFile(Song(QStringLiteral("s.wav"), 3));
    SetLyrics(QStringLiteral("[00:00.50]row\r\n"));
    struct TCase {
        int Type;
        const char *Video, *Audio;
    };
    for (const TCase& c : {TCase{1, "wmv2", "wmav2"}, TCase{2, "mpeg4", "mp3"},
                           TCase{3, "mpeg4", "aac"}, TCase{4, "h264", "aac"}}) {
        TFmConvert dialog;
        dialog.SetFileName(Box.File(QStringLiteral("s.mp4")));
        dialog.ComboBoxVideoType()->setCurrentIndex(c.Type);
        Produce(dialog);
        const TProbe probe = ProbeFile(dialog.FileName());
        ASSERT_TRUE(probe.Ok) << dialog.FileName().toStdString();
        ASSERT_TRUE(probe.First(QStringLiteral("video")) && probe.First(QStringLiteral("audio")));
        EXPECT_EQ(probe.First(QStringLiteral("video"))->CodecName, QLatin1StringView(c.Video));
        EXPECT_EQ(probe.First(QStringLiteral("audio"))->CodecName, QLatin1StringView(c.Audio));
        EXPECT_EQ(probe.First(QStringLiteral("video"))->Frames, 6);
    }
    EXPECT_TRUE(Asked.Messages.isEmpty()) << Asked.Messages.value(0).Text.toStdString();
}

// A song that gives no sound parameters is refused before anything starts.
TEST_F(Production, ASongWithoutUsableSoundIsRefused) {
    const QString notMedia = Box.Write(QStringLiteral("fake.mp3"), QByteArray(4000, 'x'));
    const QString silent = Box.File(QStringLiteral("picture.mp4"));
    ASSERT_TRUE(MakeFixture({QStringLiteral("-f"), QStringLiteral("lavfi"), QStringLiteral("-i"),
                             TestPicture(2), silent}));
    for (const QString& song : {notMedia, silent}) {
        VideoProject().SetAudioFile(song);
        TFmConvert dialog;
        const QString out = Box.File(QStringLiteral("out.mp4"));
        dialog.SetFileName(out);
        Asked.Messages.clear();
        dialog.BtnStartClick();
        ASSERT_EQ(Asked.Messages.size(), 1) << song.toStdString();
        EXPECT_TRUE(Asked.Messages[0].Text.startsWith(QStringLiteral("无法从歌曲 ") + song))
            << Asked.Messages[0].Text.toStdString();
        EXPECT_EQ(Asked.Messages[0].Icon, miWarning);
        EXPECT_TRUE(dialog.BtnStart()->isEnabled());
        EXPECT_FALSE(dialog.BtnStop()->isEnabled());
        EXPECT_FALSE(dialog.Production().Working());
        EXPECT_FALSE(QFile::exists(out));
    }
}

TEST_F(Production, AnOutputThatCannotBeWrittenIsReported) {
    VideoProject().SetAudioFile(Song(QStringLiteral("s.wav"), 2));
    TFmConvert dialog;
    // A plain file stands where the output's folder would have to be.
    dialog.SetFileName(Box.Write(QStringLiteral("blocker"), "x") + QStringLiteral("/v.mp4"));
    dialog.BtnStartClick();
    ASSERT_EQ(Asked.Messages.size(), 1);
    EXPECT_TRUE(Asked.Messages[0].Text.startsWith(QStringLiteral("Cannot do convert, error: ")))
        << Asked.Messages[0].Text.toStdString();
    EXPECT_TRUE(dialog.BtnStart()->isEnabled());
    EXPECT_EQ(dialog.Production().Encoder().TasksCount(), 0);
}

// Closing the dialog in the middle stops the production; what was made plays.
TEST_F(Production, ClosingDuringProductionFinalisesTheFile) {
    VideoProject().SetAudioFile(Song(QStringLiteral("long.mp3"), 120));
    const QString out = Box.File(QStringLiteral("long.mp4"));
    {
        TFmConvert dialog;
        dialog.SetFileName(out);
        int reports = 0;
        auto shown = dialog.Production().OnProgress;
        dialog.Production().OnProgress = [&, shown](const TProgressInfo& info) {
            shown(info);
            ++reports;
        };
        dialog.BtnStartClick();
        ASSERT_TRUE(PumpUntil([&] { return reports >= 2; }, 60000));
        dialog.close();
        EXPECT_FALSE(dialog.Production().Working());
    }
    const TProbe probe = ProbeFile(out);
    ASSERT_TRUE(probe.Ok);
    ASSERT_TRUE(probe.First(QStringLiteral("video")));
    EXPECT_GT(probe.First(QStringLiteral("video"))->Frames, 0);
    EXPECT_LT(probe.Duration, 120.0);
}

// vexmira-cli make-video reads a project file as the program does and makes its video.
TEST_F(Production, TheCommandLineMakesAProjectsVideo) {
    const QString song = Song(QStringLiteral("proj/song.mp3"), 4);
    const QString project = RedPhotoProject();
    ASSERT_FALSE(project.isEmpty());
    const QString cli =
        qEnvironmentVariable("VX_TEST_BINARY_DIR") + QStringLiteral("/bin/vexmira-cli");

    QProcess run;
    run.setWorkingDirectory(Box.Path());
    run.start(cli, {QStringLiteral("make-video"), project, QStringLiteral("-o"),
                    QStringLiteral("v.avi")});
    ASSERT_TRUE(run.waitForFinished(120000));
    const QString err = QString::fromUtf8(run.readAllStandardError());
    EXPECT_EQ(run.exitCode(), 0) << err.toStdString();
    EXPECT_TRUE(err.contains(QStringLiteral("100%"))) << err.toStdString();
    const QString out = Box.Path() + QStringLiteral("/v.avi");
    EXPECT_EQ(QString::fromLocal8Bit(run.readAllStandardOutput()).trimmed(), out);
    const TProbe probe = ProbeFile(out);
    ASSERT_TRUE(probe.Ok);
    ASSERT_TRUE(probe.First(QStringLiteral("video")) && probe.First(QStringLiteral("audio")));
    EXPECT_EQ(probe.First(QStringLiteral("video"))->Width, 160);
    EXPECT_EQ(probe.First(QStringLiteral("audio"))->CodecName, QStringLiteral("mp3"));
    const QImage first = FrameAt(out, 0, 160, 120);
    ASSERT_FALSE(first.isNull());
    EXPECT_GT(CountNear(first, Qt::red, 40), 160 * 120 / 3); // the photo fills the frame

    // A project that does not exist, and one whose song is gone, fail with a message.
    run.start(cli, {QStringLiteral("make-video"), Box.File(QStringLiteral("none.lmmc")),
                    QStringLiteral("-o"), QStringLiteral("x.mp4")});
    ASSERT_TRUE(run.waitForFinished(60000));
    EXPECT_NE(run.exitCode(), 0);
    EXPECT_TRUE(
        QString::fromLocal8Bit(run.readAllStandardError()).contains(QStringLiteral("none.lmmc")));
    QFile::remove(song);
    run.start(cli, {QStringLiteral("make-video"), project, QStringLiteral("-o"),
                    QStringLiteral("x.mp4")});
    ASSERT_TRUE(run.waitForFinished(60000));
    EXPECT_NE(run.exitCode(), 0);
    EXPECT_TRUE(
        QString::fromLocal8Bit(run.readAllStandardError()).contains(QStringLiteral("song.mp3")));
    EXPECT_FALSE(QFile::exists(Box.Path() + QStringLiteral("/x.mp4")));
}

// make-video --h264: H.264 pictures with AAC sound, the index ahead of the media data so
// the file plays while it downloads, and a web browser shows its pictures.
TEST_F(Production, TheCommandLineMakesAnH264VideoABrowserPlays) {
    Song(QStringLiteral("proj/song.mp3"), 4);
    const QString project = RedPhotoProject();
    ASSERT_FALSE(project.isEmpty());
    const QString cli =
        qEnvironmentVariable("VX_TEST_BINARY_DIR") + QStringLiteral("/bin/vexmira-cli");

    QProcess run;
    run.setWorkingDirectory(Box.Path());
    // H.264 needs an MP4 or MOV file.
    run.start(cli, {QStringLiteral("make-video"), project, QStringLiteral("-o"),
                    QStringLiteral("v.wmv"), QStringLiteral("--h264")});
    ASSERT_TRUE(run.waitForFinished(60000));
    EXPECT_NE(run.exitCode(), 0);
    EXPECT_TRUE(QString::fromUtf8(run.readAllStandardError()).contains(QStringLiteral("--h264")));
    EXPECT_FALSE(QFile::exists(Box.File(QStringLiteral("v.wmv"))));

    run.start(cli, {QStringLiteral("make-video"), project, QStringLiteral("-o"),
                    QStringLiteral("v.mp4"), QStringLiteral("--h264")});
    ASSERT_TRUE(run.waitForFinished(120000));
    EXPECT_EQ(run.exitCode(), 0) << run.readAllStandardError().toStdString();
    const QString out = Box.File(QStringLiteral("v.mp4"));
    const TProbe probe = ProbeFile(out);
    ASSERT_TRUE(probe.Ok);
    ASSERT_TRUE(probe.First(QStringLiteral("video")) && probe.First(QStringLiteral("audio")));
    EXPECT_EQ(probe.First(QStringLiteral("video"))->CodecName, QStringLiteral("h264"));
    // 2 a second while the song lasts (an MP3 runs a little past its 4 s).
    EXPECT_GE(probe.First(QStringLiteral("video"))->Frames, 8);
    EXPECT_LE(probe.First(QStringLiteral("video"))->Frames, 9);
    EXPECT_EQ(probe.First(QStringLiteral("audio"))->CodecName, QStringLiteral("aac"));
    QFile file(out);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray bytes = file.readAll();
    ASSERT_GT(bytes.indexOf("mdat"), 0);
    EXPECT_LT(bytes.indexOf("moov"), bytes.indexOf("mdat")) << "the index is not first";

    const TBrowserPlayback played = PlayInBrowser(out, 1.0);
    EXPECT_EQ(played.Error, QString());
    EXPECT_EQ(played.Width, 160);
    EXPECT_EQ(played.Height, 120);
    EXPECT_NEAR(played.Duration, 4.25, 0.3);
    EXPECT_GT(played.Lit, 0.5) << "the red photo is not in the picture the browser drew";
}
