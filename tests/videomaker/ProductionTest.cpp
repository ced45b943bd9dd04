#include "videomaker/UnitConvert.h"

#include "media/EncodeTestSupport.h"
#include "media/FFDecode.h"
#include "state/OutputFile.h"
#include "support/BrowserPlayback.h"
#include "support/ScriptedPrompts.h"
#include "videomaker/FrameComposer.h"
#include "videomaker/PictureCompare.h"
#include "videomaker/ProjectFile.h"
#include "videomaker/VideoProject.h"

#include <QComboBox>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QPainter>
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
    // A song of `seconds` whose first stream is its cover picture (then a 22050 Hz mono
    // tone and a 48000 Hz stereo one marked as the default), as some taggers write it.
    QString SongWithCoverFirst(const QString& name, double seconds) {
        const QString cover = Box.File(QStringLiteral("cover.png"));
        QImage picture(200, 200, QImage::Format_RGB32);
        picture.fill(Qt::magenta);
        EXPECT_TRUE(picture.save(cover));
        const QString path = Box.File(name);
        const QString sine = QStringLiteral("sine=frequency=%1:sample_rate=%2:duration=%3");
        EXPECT_TRUE(MakeFixture({QStringLiteral("-i"),
                                 cover,
                                 QStringLiteral("-f"),
                                 QStringLiteral("lavfi"),
                                 QStringLiteral("-i"),
                                 sine.arg(440).arg(22050).arg(seconds),
                                 QStringLiteral("-f"),
                                 QStringLiteral("lavfi"),
                                 QStringLiteral("-i"),
                                 sine.arg(1000).arg(48000).arg(seconds),
                                 QStringLiteral("-map"),
                                 QStringLiteral("0:v"),
                                 QStringLiteral("-map"),
                                 QStringLiteral("1:a"),
                                 QStringLiteral("-map"),
                                 QStringLiteral("2:a"),
                                 QStringLiteral("-ac:a:1"),
                                 QStringLiteral("2"),
                                 QStringLiteral("-c:v"),
                                 QStringLiteral("mjpeg"),
                                 QStringLiteral("-disposition:v"),
                                 QStringLiteral("attached_pic"),
                                 QStringLiteral("-disposition:a:0"),
                                 QStringLiteral("0"),
                                 QStringLiteral("-disposition:a:1"),
                                 QStringLiteral("default"),
                                 path}));
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

// The song is decoded and encoded on a thread of its own beside the composed pictures;
// the video is the one a single thread makes: the same samples and the same pictures.
TEST_F(Production, TheSongOnItsOwnThreadMakesTheSameVideo) {
    VideoProject().SetAudioFile(Song(QStringLiteral("song.mp3"), 7.3));
    SetLyrics(QStringLiteral("[00:00.00]first row\r\n[00:02.00]second row\r\n"
                             "[00:05.00]third row\r\n"));
    BuildRowTimes();
    for (const char* suffix : {"mp4", "avi"}) {
        QByteArray sound[2], pictures[2];
        for (const bool parallel : {false, true}) {
            TFmConvert dialog;
            dialog.SetFileName(Box.File(QLatin1String(parallel ? "two." : "one.") + suffix));
            dialog.Production().Encoder().ParallelSound = parallel;
            TLogCapture log;
            Produce(dialog);
            ASSERT_TRUE(Asked.Messages.isEmpty()) << Asked.Messages.value(0).Text.toStdString();
            EXPECT_EQ(log.Lines().filter(QStringLiteral("on a thread of its own")).size(),
                      parallel ? 1 : 0);
            sound[parallel] = DecodedStream(dialog.FileName(), QStringLiteral("0:a"));
            pictures[parallel] = DecodedStream(dialog.FileName(), QStringLiteral("0:v"));
        }
        EXPECT_NEAR(double(sound[0].size()) / (44100 * 4), 7.3, 0.1) << suffix;
        EXPECT_EQ(pictures[0].size(), 15 * 320 * 240 * 3 / 2) << suffix;
        EXPECT_TRUE(sound[0] == sound[1]) << suffix << ": the sound differs";
        EXPECT_TRUE(pictures[0] == pictures[1]) << suffix << ": the pictures differ";
    }
}

TEST_F(Production, EachFormatUsesItsCodecs) {
    VideoProject().SetAudioFile(Song(QStringLiteral("s.wav"), 3));
    SetLyrics(QStringLiteral("[00:00.50]row\r\n"));
    struct TCase {
        int Type;
        const char *Video, *Audio;
    };
    for (const TCase& c :
         {TCase{0, "mpeg4", "aac"}, TCase{1, "wmv2", "wmav2"}, TCase{2, "mpeg4", "mp3"},
          TCase{3, "mpeg4", "aac"}, TCase{4, "h264", "aac"}}) {
        TFmConvert dialog;
        dialog.SetFileName(Box.File(QStringLiteral("s.mp4")));
        dialog.ComboBoxVideoType()->setCurrentIndex(c.Type);
        Produce(dialog);
        // The size shown at the end is the finished file's, whatever the format reported
        // while it was written.
        const qint64 size = QFileInfo(dialog.FileName()).size();
        ASSERT_GT(size, 0);
        EXPECT_EQ(dialog.LabelSize()->text(), MegabyteText(size, QStringLiteral(" MB")))
            << dialog.FileName().toStdString();
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
    const QString out = Box.Write(QStringLiteral("blocker"), "x") + QStringLiteral("/v.mp4");
    dialog.SetFileName(out);
    dialog.BtnStartClick();
    ASSERT_EQ(Asked.Messages.size(), 1);
    // What failed on which file in Chinese, then the engine's own words.
    EXPECT_TRUE(Asked.Messages[0].Text.startsWith(QStringLiteral("无法制作视频 ") + out +
                                                  QStringLiteral("：\r\nCannot do convert, "
                                                                 "error: ")))
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

// A 48-megapixel photo makes the video its 3-megapixel copy makes.
TEST_F(Production, ABigPhotoMakesTheVideoOfItsSmallCopy) {
    VideoProject().SetAudioFile(Song(QStringLiteral("s.wav"), 2));
    SetLyrics(QStringLiteral("[00:00.00]row\r\n"));
    VideoMakeSettings().LyricsVideoWidth = 480;
    VideoMakeSettings().LyricsVideoHeight = 270;
    QImage scene(2000, 1500, QImage::Format_RGB32);
    scene.fill(QColor(90, 160, 230));
    {
        QPainter p(&scene);
        p.fillRect(QRect(200, 300, 700, 600), QColor(220, 30, 30));
        p.fillRect(QRect(1100, 700, 600, 700), QColor(40, 170, 60));
    }
    const QString source = Box.File(QStringLiteral("scene.png"));
    ASSERT_TRUE(scene.save(source));
    QImage frames[2];
    const int widths[2] = {8000, 2000};
    for (int i = 0; i < 2; ++i) {
        const QString photo = Box.File(QStringLiteral("photo%1.jpg").arg(widths[i]));
        ASSERT_TRUE(MakeFixture({QStringLiteral("-i"), source, QStringLiteral("-vf"),
                                 QStringLiteral("scale=%1:-1:flags=lanczos").arg(widths[i]),
                                 QStringLiteral("-q:v"), QStringLiteral("2"), photo}));
        VideoProject().Photos = {photo};
        TFmConvert dialog;
        dialog.SetFileName(Box.File(QStringLiteral("v%1.mp4").arg(widths[i])));
        Produce(dialog);
        frames[i] = FrameAt(dialog.FileName(), 1.0, 480, 270);
        ASSERT_FALSE(frames[i].isNull());
    }
    EXPECT_TRUE(Asked.Messages.isEmpty()) << Asked.Messages.value(0).Text.toStdString();
    EXPECT_LT(MeanDifference(frames[0], frames[1]), 6.0);
    // The photo is there, fitted between bars of the background.
    EXPECT_GT(CountNear(frames[0], QColor(220, 30, 30), 40), 5000);
    EXPECT_GT(CountNear(frames[0].copy(0, 0, 50, 270), QColor(0, 0, 128), 30), 50 * 270 * 9 / 10);
}

// A song whose first stream is its cover picture gives its first sound stream.
TEST_F(Production, ASongWithItsCoverFirstGivesItsFirstSound) {
    const QString song = SongWithCoverFirst(QStringLiteral("cover-first.mka"), 3);
    TFFDecoder decoder;
    TSongAudio audio;
    QString error;
    ASSERT_TRUE(ReadSongAudio(decoder, song, &audio, &error)) << error.toStdString();
    EXPECT_EQ(audio.SampleRate, 22050);
    EXPECT_EQ(audio.Channels, 1);
    EXPECT_NEAR(audio.Duration / 1e6, 3.0, 0.1);

    VideoProject().SetAudioFile(song);
    SetLyrics(QStringLiteral("[00:00.00]row\r\n"));
    TFmConvert dialog;
    dialog.SetFileName(Box.File(QStringLiteral("cover.mp4")));
    Produce(dialog);
    EXPECT_TRUE(Asked.Messages.isEmpty()) << Asked.Messages.value(0).Text.toStdString();
    const TProbe probe = ProbeFile(dialog.FileName());
    ASSERT_TRUE(probe.Ok);
    const TProbedStream* video = probe.First(QStringLiteral("video"));
    const TProbedStream* sound = probe.First(QStringLiteral("audio"));
    ASSERT_TRUE(video && sound);
    EXPECT_EQ(video->Width, 320); // the frames, not the cover
    EXPECT_EQ(sound->SampleRate, 22050);
    EXPECT_EQ(sound->Channels, 1);
    EXPECT_NEAR(sound->Duration, 3.0, 0.3);
}

// The save dialog offers the filter of a known format and takes the current name's
// extension, whatever it is, for a name typed without one.
TEST_F(Production, SaveAsKeepsTheCurrentExtension) {
    TFmConvert dialog;
    struct TCase {
        const char *Current, *Filter, *DefaultExt, *Typed, *Result;
    };
    for (const TCase& c : {TCase{"song.AVI", "AVI格式(*.avi)|*.avi", "avi", "clip", "clip.avi"},
                           TCase{"song.mov", "MOV格式(*.mov)|*.mov", "mov", "clip.mp4", "clip.mp4"},
                           TCase{"song.mkv", "MP4|*.MP4", "mkv", "clip", "clip.mkv"},
                           TCase{"song", "MP4|*.MP4", "", "clip", "clip"}}) {
        dialog.SetFileName(Box.File(QString::fromUtf8(c.Current)));
        Asked.FileAnswers.push_back(
            TScriptedPrompts::Choose({Box.File(QString::fromUtf8(c.Typed))}));
        dialog.BtnSaveAsClick();
        ASSERT_FALSE(Asked.FileDialogs.isEmpty());
        const TFileDialogOptions& asked = Asked.FileDialogs.last();
        EXPECT_EQ(asked.Filter, QString::fromUtf8(c.Filter)) << c.Current;
        EXPECT_EQ(asked.DefaultExt, QString::fromUtf8(c.DefaultExt)) << c.Current;
        EXPECT_EQ(asked.FileName, QFileInfo(QString::fromUtf8(c.Current)).fileName());
        EXPECT_EQ(asked.InitialDir, Box.Path());
        EXPECT_TRUE(asked.OverwritePrompt);
        EXPECT_EQ(dialog.FileName(), Box.File(QString::fromUtf8(c.Result))) << c.Current;
    }
    // The format list is not changed by it.
    EXPECT_EQ(dialog.ComboBoxVideoType()->currentIndex(), 0);
}

// A photo that cannot be decoded is missing from the video: the dialog and the command
// line say which, and the command fails although the video is made.
TEST_F(Production, AnUndecodablePhotoIsReported) {
    const QString song = Song(QStringLiteral("proj/song.wav"), 2);
    QImage red(64, 48, QImage::Format_RGB32);
    red.fill(Qt::red);
    const QString good = Box.File(QStringLiteral("proj/red.png"));
    ASSERT_TRUE(red.save(good));
    const QString bad =
        Box.Write(QStringLiteral("proj/bad.jpg"), QByteArray("\xFF\xD8\xFF\xE0 no picture"));

    VideoProject().SetAudioFile(song);
    VideoProject().Photos = {bad, good};
    VideoMakeSettings().PictureAccording = false;
    VideoMakeSettings().PictureDuration = 1;
    TFmConvert dialog;
    dialog.SetFileName(Box.File(QStringLiteral("v.mp4")));
    Produce(dialog);
    ASSERT_EQ(Asked.Messages.size(), 1);
    EXPECT_EQ(Asked.Messages[0].Icon, miWarning);
    EXPECT_TRUE(Asked.Messages[0].Text.contains(QStringLiteral("无法读取图片文件 ") + bad))
        << Asked.Messages[0].Text.toStdString();
    EXPECT_TRUE(ProbeFile(dialog.FileName()).Ok);

    TProjectData data;
    data.AudioName = QStringLiteral("song.wav");
    data.Settings.PictureAccording = false;
    data.Settings.PictureDuration = 1;
    data.PhotoNames = {QStringLiteral("bad.jpg"), QStringLiteral("red.png")};
    const QString project = Box.Write(QStringLiteral("proj/p.lmmc"), ProjectFileBytes(data));
    QProcess run;
    run.start(qEnvironmentVariable("VX_TEST_BINARY_DIR") + QStringLiteral("/bin/vexmira-cli"),
              {QStringLiteral("make-video"), project, QStringLiteral("-o"),
               Box.File(QStringLiteral("c.mp4"))});
    ASSERT_TRUE(run.waitForFinished(120000));
    const QString err = QString::fromLocal8Bit(run.readAllStandardError());
    EXPECT_NE(run.exitCode(), 0) << err.toStdString();
    EXPECT_TRUE(err.contains(QStringLiteral("无法读取图片文件 ") + bad)) << err.toStdString();
    EXPECT_TRUE(ProbeFile(Box.File(QStringLiteral("c.mp4"))).Ok);
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
