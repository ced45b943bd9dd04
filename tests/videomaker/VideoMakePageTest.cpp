#include "videomaker/VideoMakePage.h"
#include "support/Sandbox.h"
#include "support/ScriptedPrompts.h"
#include "videomaker/FrameComposer.h"
#include "videomaker/ProjectFile.h"
#include "videomaker/VideoProject.h"

#include <QAction>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QListWidget>
#include <QPainter>
#include <QProcess>
#include <QPushButton>
#include <QSignalSpy>
#include <QTreeWidget>
#include <QtEndian>
#include <gtest/gtest.h>

namespace {

class VideoMakePageTest : public ::testing::Test {
protected:
    TSandbox Box;
    TScriptedPrompts Asked;
    QAction Save{QStringLiteral("保存视频制作工程")};
    std::unique_ptr<TVideoMakePage> Page;

    void SetUp() override {
        ResetVideoMakeSettings();
        Page = std::make_unique<TVideoMakePage>();
        Page->AttachSaveAction(&Save);
        VideoProject().SetModified(false);
        Page->MnNewProjectClick();
        VideoProject().ProjectVersion = 1000;
    }
    void TearDown() override {
        VideoProject().SetModified(false);
        Page->MnNewProjectClick();
        VideoProject().AttachSaveAction(nullptr);
        Page.reset();
        ResetVideoMakeSettings();
    }

    template <typename T> T* Ctl(const char* name) const {
        T* w = Page->findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(w, nullptr) << name;
        return w;
    }
    QListWidget* Photos() const { return Ctl<QListWidget>("ListViewPictures"); }

    // A photo of `w` × `h` pixels in one colour, written as PNG.
    QString Photo(const QString& relative, int w = 40, int h = 30, QColor color = Qt::red) {
        QImage image(w, h, QImage::Format_RGB32);
        image.fill(color);
        const QString path = Box.File(relative);
        EXPECT_TRUE(image.save(path, "PNG"));
        return path;
    }
    QString Audio(const QString& relative) { return Box.Write(relative, QByteArray("ID3", 3)); }

    void ChooseAudio(const QString& path) {
        Asked.FileAnswers.push_back(TScriptedPrompts::Choose({path}));
        Ctl<QPushButton>("BrnBrowseAudio")->click();
    }
    void AddPhotos(const QStringList& files) {
        Asked.FileAnswers.push_back(TScriptedPrompts::Choose(files));
        Ctl<QPushButton>("BtnPictureAdd")->click();
    }
    void SaveAs(const QString& path) {
        Asked.FileAnswers.push_back(TScriptedPrompts::Choose({path}));
        Page->MnSaveProjectAsClick();
    }
    QStringList Captions() const {
        QStringList out;
        for (int i = 0; i < Photos()->count(); ++i)
            out << Photos()->item(i)->text();
        return out;
    }
    void Select(std::initializer_list<int> rows) {
        Photos()->clearSelection();
        for (int r : rows)
            Photos()->item(r)->setSelected(true);
    }
    QString LastMessage() const {
        return Asked.Messages.isEmpty() ? QString() : Asked.Messages.last().Text;
    }
};

} // namespace

TEST_F(VideoMakePageTest, ASavedProjectOpensFromAnotherFolderWithItsFiles) {
    const QString audio = Audio(QStringLiteral("a/歌.mp3"));
    const QString p1 = Photo(QStringLiteral("a/one.png"));
    const QString p2 = Photo(QStringLiteral("a/two.png"));
    const QString far = Photo(QStringLiteral("pics/far.png"));
    ChooseAudio(audio);
    EXPECT_TRUE(Save.isEnabled());
    AddPhotos({p1, p2, far});
    VideoProject().LyricText = QStringLiteral("[00:01.00]一\r\n");
    VideoMakeSettings().LyricsVideoWidth = 640;
    SaveAs(Box.File(QStringLiteral("a/work")));
    const QString project = Box.File(QStringLiteral("a/work.lmmc"));
    EXPECT_EQ(VideoProject().ProjectFileName, project);
    EXPECT_FALSE(Save.isEnabled());
    EXPECT_EQ(Asked.FileDialogs.last().Filter, QStringLiteral("Project|*.lmmc"));
    EXPECT_EQ(Asked.FileDialogs.last().DefaultExt, QStringLiteral("lmmc"));

    QFile f(project);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    TProjectData stored;
    ASSERT_EQ(ReadProjectBytes(f.readAll(), stored), ppPhotos);
    EXPECT_EQ(stored.AudioName, QStringLiteral("歌.mp3"));
    EXPECT_EQ(stored.PhotoNames,
              QStringList({QStringLiteral("one.png"), QStringLiteral("two.png"), far}));

    // The project and its files move together to another folder.
    QDir().mkpath(Box.File(QStringLiteral("b/x")));
    for (const char* name : {"歌.mp3", "one.png", "two.png", "work.lmmc"})
        ASSERT_TRUE(QFile::rename(Box.File(QStringLiteral("a/") + QString::fromUtf8(name)),
                                  Box.File(QStringLiteral("b/") + QString::fromUtf8(name))));
    Page->MnNewProjectClick();
    VideoMakeSettings().LyricsVideoWidth = 320;
    Page->OpenProjectFile(Box.File(QStringLiteral("b/work.lmmc")));
    EXPECT_EQ(Ctl<QLineEdit>("EditAudio")->text(), Box.File(QStringLiteral("b/歌.mp3")));
    EXPECT_EQ(VideoProject().Photos, QStringList({Box.File(QStringLiteral("b/one.png")),
                                                  Box.File(QStringLiteral("b/two.png")), far}));
    EXPECT_EQ(Captions(),
              QStringList({QStringLiteral("1"), QStringLiteral("2"), QStringLiteral("3")}));
    EXPECT_EQ(VideoMakeSettings().LyricsVideoWidth, 640);
    ASSERT_EQ(Ctl<QTreeWidget>("ListViewLyrics")->topLevelItemCount(), 1);
    EXPECT_EQ(Ctl<QTreeWidget>("ListViewLyrics")->topLevelItem(0)->text(1),
              QStringLiteral("[00:01.00]"));
    EXPECT_EQ(Ctl<QTreeWidget>("ListViewLyrics")->topLevelItem(0)->text(2), QStringLiteral("一"));
    EXPECT_EQ(FrameComposer().PhotoOrder(), VideoProject().Photos);
    EXPECT_FALSE(Save.isEnabled());
    EXPECT_TRUE(Asked.Messages.isEmpty()) << LastMessage().toStdString();
}

TEST_F(VideoMakePageTest, EmptyAudioAndMissingFilesOnOpening) {
    QStringList names;
    for (int i = 0; i < 12; ++i)
        names << Box.File(QStringLiteral("gone/%1.png").arg(i));
    TProjectData d;
    d.PhotoNames = names;
    const QString project = Box.Write(QStringLiteral("p.lmmc"), ProjectFileBytes(d));
    Page->OpenProjectFile(project);
    EXPECT_TRUE(Ctl<QLineEdit>("EditAudio")->text().isEmpty());
    EXPECT_EQ(Photos()->count(), 0);
    ASSERT_EQ(Asked.Messages.size(), 1);
    EXPECT_EQ(Asked.Messages.first().Icon, miWarning);
    QString expected = QStringLiteral("打开工程时找不到下面文件。");
    for (int i = 0; i < 11; ++i)
        expected += QStringLiteral("\r\n") + names.at(i);
    expected += QStringLiteral("\r\n......");
    EXPECT_EQ(LastMessage(), expected);

    // A missing song is named in the warning; an empty one is not.
    Asked.Messages.clear();
    d.PhotoNames.clear();
    d.AudioName = QStringLiteral("lost.mp3");
    Page->OpenProjectFile(Box.Write(QStringLiteral("q.lmmc"), ProjectFileBytes(d)));
    EXPECT_EQ(LastMessage(), QStringLiteral("打开工程时找不到下面文件。\r\n") +
                                 Box.File(QStringLiteral("lost.mp3")));
    Asked.Messages.clear();
    Page->OpenProjectFile(Box.Write(QStringLiteral("r.lmmc"), ProjectFileBytes(TProjectData())));
    EXPECT_TRUE(Asked.Messages.isEmpty());
}

TEST_F(VideoMakePageTest, ACutOrLyingFileIsRejectedWithWhatWasReadKept) {
    const QString audio = Audio(QStringLiteral("song.mp3"));
    const QString p1 = Photo(QStringLiteral("one.png"));
    TProjectData d;
    d.Settings.LyricsVideoWidth = 800;
    d.AudioName = audio;
    d.LyricText = QStringLiteral("[00:02.00]B\r\n");
    d.PhotoNames = {p1, Photo(QStringLiteral("two.png"))};
    const QByteArray bytes = ProjectFileBytes(d);
    // The file ends in the middle of the second photo's name.
    const QString cut = Box.Write(QStringLiteral("cut.lmmc"), bytes.left(bytes.size() - 3));
    Page->OpenProjectFile(cut);
    ASSERT_EQ(Asked.Messages.size(), 1);
    EXPECT_EQ(Asked.Messages.first().Icon, miError);
    EXPECT_EQ(Ctl<QLineEdit>("EditAudio")->text(), audio);
    EXPECT_EQ(VideoMakeSettings().LyricsVideoWidth, 800);
    EXPECT_EQ(VideoProject().Rows.size(), 1);
    EXPECT_EQ(VideoProject().Photos, QStringList({p1}));
    // The damaged file is not the project's file, so saving cannot overwrite it.
    EXPECT_TRUE(VideoProject().ProjectFileName.isEmpty());

    // A lyric text claiming two thousand million characters.
    QByteArray lying = ProjectFileBytes(d);
    int at = 133;
    for (int part = 0; part < 2; ++part)
        at += 4 + 2 * qFromLittleEndian<qint32>(lying.constData() + at);
    qToLittleEndian<qint32>(0x7FFFFFF0, lying.data() + at);
    Asked.Messages.clear();
    Page->OpenProjectFile(Box.Write(QStringLiteral("lying.lmmc"), lying));
    EXPECT_EQ(Asked.Messages.size(), 1);
    EXPECT_EQ(Ctl<QLineEdit>("EditAudio")->text(), audio);
    EXPECT_TRUE(VideoProject().Rows.isEmpty());
    EXPECT_TRUE(VideoProject().Photos.isEmpty());
}

TEST_F(VideoMakePageTest, OutOfLimitValuesFromAProjectAreClamped) {
    TProjectData d;
    d.Settings.PictureDuration = 0;
    d.Settings.LyricsVideoWidth = -5;
    d.Settings.LyricsVideoHeight = 0;
    d.Settings.LyricsLineSpacing = -3;
    d.Settings.LyricsMarginTop = 5000;
    Page->OpenProjectFile(Box.Write(QStringLiteral("bad.lmmc"), ProjectFileBytes(d)));
    const TVideoMakeSettings& s = VideoMakeSettings();
    EXPECT_EQ(s.PictureDuration, 1);
    EXPECT_EQ(s.LyricsVideoWidth, 80);
    EXPECT_EQ(s.LyricsVideoHeight, 45);
    EXPECT_EQ(s.LyricsLineSpacing, 1);
    EXPECT_EQ(s.LyricsMarginTop, 22);
}

TEST_F(VideoMakePageTest, AddingRemovingAndRenumbering) {
    const QString a = Photo(QStringLiteral("a.png")), b = Photo(QStringLiteral("b.png")),
                  c = Photo(QStringLiteral("c.png"));
    AddPhotos({a, b, c});
    EXPECT_EQ(Asked.FileDialogs.last().Kind, TFileDialogOptions::fkOpenMultiple);
    EXPECT_EQ(VideoProject().Photos, QStringList({a, b, c}));
    EXPECT_EQ(Captions(),
              QStringList({QStringLiteral("1"), QStringLiteral("2"), QStringLiteral("3")}));
    EXPECT_TRUE(Save.isEnabled());
    EXPECT_TRUE(Photos()->selectedItems().isEmpty());
    EXPECT_FALSE(Ctl<QPushButton>("BtnRemove")->isEnabled());

    Save.setEnabled(false);
    Select({0});
    EXPECT_TRUE(Ctl<QPushButton>("BtnRemove")->isEnabled());
    Ctl<QPushButton>("BtnRemove")->click();
    EXPECT_EQ(VideoProject().Photos, QStringList({b, c}));
    EXPECT_EQ(Captions(), QStringList({QStringLiteral("1"), QStringLiteral("2")}));
    EXPECT_EQ(Photos()->item(0)->data(Qt::UserRole).toString(), b);
    EXPECT_EQ(FrameComposer().PhotoOrder(), QStringList({b, c}));
    EXPECT_TRUE(Save.isEnabled());
    EXPECT_FALSE(Ctl<QPushButton>("BtnRemove")->isEnabled());
}

TEST_F(VideoMakePageTest, AnUndecodablePhotoStopsTheAddAndKeepsTheOnesBefore) {
    const QString a = Photo(QStringLiteral("a.png"));
    const QString bad = Box.Write(QStringLiteral("bad.png"), QByteArray("not a picture"));
    const QString c = Photo(QStringLiteral("c.png"));
    AddPhotos({a, bad, c});
    EXPECT_EQ(VideoProject().Photos, QStringList({a}));
    ASSERT_EQ(Asked.Messages.size(), 1);
    EXPECT_EQ(Asked.Messages.first().Icon, miError);
    EXPECT_TRUE(LastMessage().contains(bad));
    EXPECT_TRUE(Save.isEnabled());
}

TEST_F(VideoMakePageTest, MoveButtonsFollowTheSelection) {
    const QString a = Photo(QStringLiteral("a.png"), 40, 30, Qt::red);
    const QString b = Photo(QStringLiteral("b.png"), 40, 30, Qt::green);
    const QString c = Photo(QStringLiteral("c.png"), 40, 30, Qt::blue);
    AddPhotos({a, b, c});
    Select({0, 1});
    EXPECT_TRUE(Ctl<QPushButton>("BtnRemove")->isEnabled());
    EXPECT_FALSE(Ctl<QPushButton>("BtnMoveLeft")->isEnabled());
    EXPECT_FALSE(Ctl<QPushButton>("BtnMoveRight")->isEnabled());
    Select({0});
    EXPECT_FALSE(Ctl<QPushButton>("BtnMoveLeft")->isEnabled());
    EXPECT_TRUE(Ctl<QPushButton>("BtnMoveRight")->isEnabled());
    Select({2});
    EXPECT_TRUE(Ctl<QPushButton>("BtnMoveLeft")->isEnabled());
    EXPECT_FALSE(Ctl<QPushButton>("BtnMoveRight")->isEnabled());
    Select({1});
    EXPECT_TRUE(Ctl<QPushButton>("BtnMoveLeft")->isEnabled());
    EXPECT_TRUE(Ctl<QPushButton>("BtnMoveRight")->isEnabled());
    Photos()->item(1)->setSelected(false);
    EXPECT_FALSE(Ctl<QPushButton>("BtnRemove")->isEnabled());

    // The first photo moves right: paths and thumbnails change places, captions stay.
    Select({0});
    Save.setEnabled(false);
    const QImage redThumb = Page->ThumbnailAt(0);
    Ctl<QPushButton>("BtnMoveRight")->click();
    EXPECT_EQ(VideoProject().Photos, QStringList({b, a, c}));
    EXPECT_EQ(Photos()->item(1)->data(Qt::UserRole).toString(), a);
    EXPECT_EQ(Page->ThumbnailAt(1), redThumb);
    EXPECT_EQ(Captions(),
              QStringList({QStringLiteral("1"), QStringLiteral("2"), QStringLiteral("3")}));
    EXPECT_FALSE(Photos()->item(0)->isSelected());
    EXPECT_TRUE(Photos()->item(1)->isSelected());
    EXPECT_EQ(FrameComposer().PhotoOrder(), QStringList({b, a, c}));
    EXPECT_TRUE(Save.isEnabled());
    Ctl<QPushButton>("BtnMoveRight")->click();
    Ctl<QPushButton>("BtnMoveRight")->click(); // already the last: nothing happens
    EXPECT_EQ(VideoProject().Photos, QStringList({b, c, a}));
    Ctl<QPushButton>("BtnMoveLeft")->click();
    EXPECT_EQ(VideoProject().Photos, QStringList({b, a, c}));
}

TEST_F(VideoMakePageTest, ThumbnailsKeepTheProportionsOnTheBackground) {
    VideoMakeSettings().BackGroundColor = 0x00800000; // navy
    const QImage wide = MakeThumbnail(QImage(200, 100, QImage::Format_RGB32).copy(), Qt::black);
    EXPECT_EQ(wide.size(), QSize(76, 76));
    QImage photo(200, 100, QImage::Format_RGB32);
    photo.fill(Qt::red);
    const QImage t = MakeThumbnail(photo, QColor(0, 0, 128));
    // 76 × 38 centred: rows 19 to 56 are the photo, the rest the background.
    EXPECT_EQ(t.pixelColor(38, 18), QColor(0, 0, 128));
    EXPECT_EQ(t.pixelColor(38, 19), QColor(Qt::red));
    EXPECT_EQ(t.pixelColor(0, 56), QColor(Qt::red));
    EXPECT_EQ(t.pixelColor(75, 57), QColor(0, 0, 128));
    QImage tall(30, 100, QImage::Format_RGB32);
    tall.fill(Qt::green);
    // 30 / 100 × 76 = 22.8 → 23 wide, at (76 − 23) div 2 = 26.
    const QImage u = MakeThumbnail(tall, Qt::black);
    EXPECT_EQ(u.pixelColor(25, 40), QColor(Qt::black));
    EXPECT_EQ(u.pixelColor(26, 40), QColor(Qt::green));
    EXPECT_EQ(u.pixelColor(48, 40), QColor(Qt::green));
    EXPECT_EQ(u.pixelColor(49, 40), QColor(Qt::black));
}

// A 48-megapixel phone photo stored sideways is added like any photo, its thumbnail
// upright: red above green, between bars of the background.
TEST_F(VideoMakePageTest, ABigSidewaysPhoneThumbnailIsUpright) {
    VideoMakeSettings().BackGroundColor = 0x00800000; // navy
    const QString photo = Box.File(QStringLiteral("phone.jpg"));
    // Stored 8000 × 6000, red on the left and green on the right.
    QProcess tool;
    tool.start(QStringLiteral("ffmpeg"),
               {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-f"),
                QStringLiteral("lavfi"), QStringLiteral("-i"),
                QStringLiteral("color=c=red:s=4000x6000"), QStringLiteral("-f"),
                QStringLiteral("lavfi"), QStringLiteral("-i"),
                QStringLiteral("color=c=0x00FF00:s=4000x6000"), QStringLiteral("-filter_complex"),
                QStringLiteral("hstack"), QStringLiteral("-frames:v"), QStringLiteral("1"), photo});
    ASSERT_TRUE(tool.waitForFinished(120000) && tool.exitCode() == 0);
    // Orientation 6: shown turned a quarter clockwise, so the left side comes on top.
    tool.start(QStringLiteral("exiftool"),
               {QStringLiteral("-q"), QStringLiteral("-n"), QStringLiteral("-overwrite_original"),
                QStringLiteral("-Orientation=6"), photo});
    ASSERT_TRUE(tool.waitForFinished(60000) && tool.exitCode() == 0);

    AddPhotos({photo});
    EXPECT_TRUE(Asked.Messages.isEmpty()) << LastMessage().toStdString();
    ASSERT_EQ(VideoProject().Photos, QStringList({photo}));
    const QImage thumb = Page->ThumbnailAt(0);
    ASSERT_EQ(thumb.size(), QSize(76, 76));
    auto near = [&](int x, int y, QColor c) {
        const QColor p = thumb.pixelColor(x, y);
        return std::abs(p.red() - c.red()) < 40 && std::abs(p.green() - c.green()) < 40 &&
               std::abs(p.blue() - c.blue()) < 40;
    };
    // 6000 / 8000 × 76 = 57 wide, at (76 − 57) div 2 = 9.
    EXPECT_TRUE(near(4, 38, QColor(0, 0, 128)));
    EXPECT_TRUE(near(71, 38, QColor(0, 0, 128)));
    EXPECT_TRUE(near(38, 15, Qt::red));
    EXPECT_TRUE(near(38, 60, Qt::green));
}

TEST_F(VideoMakePageTest, SavePromptPaths) {
    const QString audio = Audio(QStringLiteral("dir/song.mp3"));
    ChooseAudio(audio);
    const QString prompt = QStringLiteral("文件 ") + Box.File(QStringLiteral("dir/song.lmmc")) +
                           QStringLiteral(" 已经改变。\r\n想保存文件吗？");

    // Cancel abandons the new project.
    Asked.MessageAnswers.push_back(mrCancel);
    Page->MnNewProjectClick();
    ASSERT_EQ(Asked.Messages.size(), 1);
    EXPECT_EQ(Asked.Messages.last().Text, prompt);
    EXPECT_EQ(Asked.Messages.last().Icon, miWarning);
    EXPECT_EQ(Asked.Messages.last().Buttons, mbYesNoCancel);
    EXPECT_EQ(Ctl<QLineEdit>("EditAudio")->text(), audio);

    // Yes, then the save dialog is cancelled: the command is abandoned too.
    Asked.MessageAnswers.push_back(mrYes);
    Page->MnOpenProjectClick();
    EXPECT_EQ(Asked.FileDialogs.last().Kind, TFileDialogOptions::fkSave);
    EXPECT_EQ(Asked.FileDialogs.last().FileName, QStringLiteral("song.lmmc"));
    EXPECT_EQ(Asked.FileDialogs.last().InitialDir, Box.File(QStringLiteral("dir")));
    EXPECT_EQ(Asked.FileDialogs.size(), 2); // no open dialog followed
    EXPECT_TRUE(Save.isEnabled());

    // Yes and a saved file: the command goes on.
    Asked.MessageAnswers.push_back(mrYes);
    Asked.FileAnswers.push_back(
        TScriptedPrompts::Choose({Box.File(QStringLiteral("dir/kept.lmmc"))}));
    Page->MnNewProjectClick();
    EXPECT_TRUE(QFile::exists(Box.File(QStringLiteral("dir/kept.lmmc"))));
    EXPECT_TRUE(Ctl<QLineEdit>("EditAudio")->text().isEmpty());
    EXPECT_FALSE(Save.isEnabled());
    EXPECT_TRUE(VideoProject().ProjectFileName.isEmpty());

    // No continues without saving; without song or file the name is the default one.
    Photo(QStringLiteral("x.png"));
    AddPhotos({Box.File(QStringLiteral("x.png"))});
    Asked.MessageAnswers.push_back(mrNo);
    Page->MnNewProjectClick();
    EXPECT_EQ(Asked.Messages.last().Text,
              QStringLiteral("文件 我的视频.lmmc 已经改变。\r\n想保存文件吗？"));
    EXPECT_EQ(Photos()->count(), 0);

    // Nothing modified: no question at all.
    const int asked = Asked.Messages.size();
    EXPECT_TRUE(Page->ConfirmDiscardProject());
    EXPECT_EQ(Asked.Messages.size(), asked);
}

TEST_F(VideoMakePageTest, SaveWritesToTheProjectFileAndRecordsANewSong) {
    const QString first = Audio(QStringLiteral("first.mp3"));
    const QString second = Audio(QStringLiteral("sub/second.mp3"));
    ChooseAudio(first);
    SaveAs(Box.File(QStringLiteral("p.lmmc")));
    ChooseAudio(second);
    EXPECT_TRUE(Save.isEnabled());
    const int dialogs = Asked.FileDialogs.size();
    Page->MnSaveProjectClick(); // has a file name: no dialog
    EXPECT_EQ(Asked.FileDialogs.size(), dialogs);
    EXPECT_FALSE(Save.isEnabled());
    QFile f(Box.File(QStringLiteral("p.lmmc")));
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    TProjectData d;
    ReadProjectBytes(f.readAll(), d);
    EXPECT_EQ(d.AudioName, second);
    // No temporary file is left beside the project.
    EXPECT_EQ(QDir(Box.Path()).entryList({QStringLiteral("*.lmmc*")}, QDir::Files),
              QStringList({QStringLiteral("p.lmmc")}));
    // Save as proposes the project's own name in its folder.
    Page->MnSaveProjectAsClick();
    EXPECT_EQ(Asked.FileDialogs.last().FileName, QStringLiteral("p.lmmc"));
    EXPECT_EQ(Asked.FileDialogs.last().InitialDir, Box.Path());
}

TEST_F(VideoMakePageTest, AFailedSaveKeepsTheProjectModified) {
    ChooseAudio(Audio(QStringLiteral("s.mp3")));
    // A plain file stands where the folder of the target would have to be.
    SaveAs(Box.Write(QStringLiteral("blocker"), "x") + QStringLiteral("/p.lmmc"));
    EXPECT_TRUE(Save.isEnabled());
    EXPECT_TRUE(VideoProject().ProjectFileName.isEmpty());
    ASSERT_FALSE(Asked.Messages.isEmpty());
    EXPECT_EQ(Asked.Messages.last().Icon, miError);
}

TEST_F(VideoMakePageTest, ChecksBeforeTheOtherWindows) {
    QSignalSpy preview(Page.get(), &TVideoMakePage::PreviewRequested);
    QSignalSpy convert(Page.get(), &TVideoMakePage::ConvertRequested);
    QSignalSpy adjust(Page.get(), &TVideoMakePage::AdjustTimeRequested);
    Ctl<QPushButton>("BtnPreviewSetting")->click();
    EXPECT_EQ(LastMessage(), QStringLiteral("没有音频文件，请输入音频文件。"));
    EXPECT_EQ(Asked.Messages.last().Icon, miWarning);
    EXPECT_EQ(Page->focusWidget(), Ctl<QLineEdit>("EditAudio"));

    const QString audio = Audio(QStringLiteral("s.mp3"));
    ChooseAudio(audio);
    QFile::remove(audio);
    Ctl<QPushButton>("BtnStartConvert")->click();
    EXPECT_EQ(LastMessage(), QStringLiteral("音频文件不存在，请重新输入音频文件。"));
    EXPECT_EQ(convert.count(), 0);

    Audio(QStringLiteral("s.mp3"));
    Ctl<QPushButton>("BtnAdjustTime")->click();
    EXPECT_EQ(LastMessage(), QStringLiteral("没有歌词文件，请打开或编辑歌词文件。"));
    EXPECT_EQ(Page->focusWidget(), Ctl<QTreeWidget>("ListViewLyrics"));
    EXPECT_EQ(adjust.count(), 0);

    // Neither the preview nor the production needs lyrics or photos. The windows the
    // checks let through are closed as soon as they open.
    TModalHandler closer([](QWidget* w) {
        if (auto* dialog = qobject_cast<QDialog*>(w))
            dialog->reject();
        else
            w->close();
    });
    const int messages = Asked.Messages.size();
    Ctl<QPushButton>("BtnPreviewSetting")->click();
    Ctl<QPushButton>("BtnStartConvert")->click();
    EXPECT_EQ(preview.count(), 1);
    EXPECT_EQ(convert.count(), 1);
    VideoProject().LyricText = QStringLiteral("[00:03.00]x\r\n");
    LayoutLyricRows();
    VideoProject().RowTimes.clear();
    Ctl<QPushButton>("BtnStartConvert")->click();
    EXPECT_EQ(VideoProject().RowTimes, QList<qint64>({3000000})); // rebuilt first
    Ctl<QPushButton>("BtnAdjustTime")->click();
    EXPECT_EQ(adjust.count(), 1);
    // The windows themselves may report that this stand-in song cannot be played; none
    // of the page's checks spoke again.
    for (qsizetype i = messages; i < Asked.Messages.size(); ++i)
        EXPECT_FALSE(Asked.Messages[i].Text.contains(QStringLiteral("请"))) << i;
}

// Each open dialog starts where the user last picked a file of its kind; a cancelled
// dialog leaves the folder as it was.
TEST_F(VideoMakePageTest, EachKindOfFileIsLookedForWhereTheLastOneWasPicked) {
    const QString song = Audio(QStringLiteral("music/s.mp3"));
    const QString photo = Photo(QStringLiteral("photos/a.png"));
    const QString lyrics = Box.Write(QStringLiteral("words/a.lrc"), "[00:01.00]a\r\n");
    const auto openLyrics = [&](const QString& file) {
        if (file.isEmpty())
            Asked.FileAnswers.push_back(
                [](const TFileDialogOptions&) { return TFileDialogResult(); });
        else
            Asked.FileAnswers.push_back(TScriptedPrompts::Choose({file}));
        Ctl<QPushButton>("BrnOpenLyrics")->click();
    };
    ChooseAudio(song);
    AddPhotos({photo});
    openLyrics(lyrics);
    ASSERT_EQ(Asked.FileDialogs.size(), 3);
    for (const TFileDialogOptions& first : Asked.FileDialogs)
        EXPECT_TRUE(first.InitialDir.isEmpty()) << first.Filter.toStdString();

    openLyrics(QString());
    ChooseAudio(Audio(QStringLiteral("music/other/t.mp3")));
    AddPhotos({Photo(QStringLiteral("photos/b.png"))});
    ChooseAudio(song);
    ASSERT_EQ(Asked.FileDialogs.size(), 7);
    EXPECT_EQ(Asked.FileDialogs.at(3).InitialDir, Box.File(QStringLiteral("words")));
    EXPECT_EQ(Asked.FileDialogs.at(4).InitialDir, Box.File(QStringLiteral("music")));
    EXPECT_EQ(Asked.FileDialogs.at(5).InitialDir, Box.File(QStringLiteral("photos")));
    EXPECT_EQ(Asked.FileDialogs.at(6).InitialDir, Box.File(QStringLiteral("music/other")));
    openLyrics(QString());
    EXPECT_EQ(Asked.FileDialogs.last().InitialDir, Box.File(QStringLiteral("words")));
}

TEST_F(VideoMakePageTest, LyricsOpenAndExport) {
    // A UTF-16LE lyrics file with two tags on one line.
    const QString text = QStringLiteral("[ti:歌]\r\n[00:03.00][00:01.00]啦\r\n");
    QByteArray bytes("\xFF\xFE", 2);
    for (QChar c : text)
        bytes.append(char(c.unicode() & 0xFF)).append(char(c.unicode() >> 8));
    const QString lrc = Box.Write(QStringLiteral("歌.lrc"), bytes);
    Asked.FileAnswers.push_back(TScriptedPrompts::Choose({lrc}));
    Ctl<QPushButton>("BrnOpenLyrics")->click();
    EXPECT_TRUE(Asked.FileDialogs.last().FileMustExist);
    ASSERT_EQ(Ctl<QTreeWidget>("ListViewLyrics")->topLevelItemCount(), 2);
    EXPECT_EQ(Ctl<QTreeWidget>("ListViewLyrics")->topLevelItem(0)->text(0), QStringLiteral("1"));
    EXPECT_EQ(Ctl<QTreeWidget>("ListViewLyrics")->topLevelItem(0)->text(1),
              QStringLiteral("[00:01.00]"));
    EXPECT_EQ(Ctl<QTreeWidget>("ListViewLyrics")->topLevelItem(1)->text(1),
              QStringLiteral("[00:03.00]"));
    EXPECT_TRUE(Save.isEnabled());

    // A file that cannot be read leaves the lyrics as they were.
    Asked.FileAnswers.push_back(TScriptedPrompts::Choose({Box.File(QStringLiteral("none.lrc"))}));
    Ctl<QPushButton>("BrnOpenLyrics")->click();
    EXPECT_EQ(Asked.Messages.last().Icon, miError);
    EXPECT_EQ(Ctl<QTreeWidget>("ListViewLyrics")->topLevelItemCount(), 2);

    // Export proposes the song's name with ".lrc" beside the song; it changes nothing.
    ChooseAudio(Audio(QStringLiteral("music/歌.mp3")));
    Save.setEnabled(false);
    Asked.FileAnswers.push_back(TScriptedPrompts::Choose({Box.File(QStringLiteral("out"))}));
    Ctl<QPushButton>("BtnExportLyrics")->click();
    const TFileDialogOptions& o = Asked.FileDialogs.last();
    EXPECT_EQ(o.FileName, QStringLiteral("歌.lrc"));
    EXPECT_EQ(o.InitialDir, Box.File(QStringLiteral("music")));
    EXPECT_TRUE(o.OverwritePrompt);
    QFile f(Box.File(QStringLiteral("out.lrc")));
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QByteArray written = f.readAll();
    EXPECT_TRUE(written.startsWith("\xFF\xFE"));
    const QString back = QString::fromUtf16(
        reinterpret_cast<const char16_t*>(written.constData() + 2), (written.size() - 2) / 2);
    EXPECT_TRUE(back.endsWith(QStringLiteral("[00:01.00]啦\r\n[00:03.00]啦\r\n")));
    EXPECT_FALSE(Save.isEnabled());
}

TEST_F(VideoMakePageTest, NewProjectLeavesNoOldLyricsBehind) {
    VideoProject().LyricText = QStringLiteral("[00:01.00]旧\r\n");
    LayoutLyricRows();
    ChooseAudio(Audio(QStringLiteral("old.mp3")));
    Asked.MessageAnswers.push_back(mrNo);
    Page->MnNewProjectClick();
    EXPECT_TRUE(VideoProject().LyricText.isEmpty());
    EXPECT_EQ(Ctl<QTreeWidget>("ListViewLyrics")->topLevelItemCount(), 0);
    // A new song, then the preview's layout: still nothing of the old project.
    ChooseAudio(Audio(QStringLiteral("new.mp3")));
    LayoutLyricRows();
    EXPECT_TRUE(VideoProject().Rows.isEmpty());
    EXPECT_EQ(Ctl<QLineEdit>("EditAudio")->text(), Box.File(QStringLiteral("new.mp3")));
}

TEST_F(VideoMakePageTest, TheVersionOfAnOpenedProjectIsWrittenBack) {
    TProjectData d;
    d.Version = 1007;
    Page->OpenProjectFile(Box.Write(QStringLiteral("v.lmmc"), ProjectFileBytes(d)));
    ChooseAudio(Audio(QStringLiteral("s.mp3")));
    Page->MnSaveProjectClick();
    QFile f(Box.File(QStringLiteral("v.lmmc")));
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(qFromLittleEndian<qint32>(f.readAll().constData()), 1007);
}

// Photos that are corrupt, cut short or no picture at all, added one by one and listed
// in a project: each gives the picture error and the page goes on working.
TEST_F(VideoMakePageTest, DamagedPhotosGiveThePictureErrorAndThePageGoesOn) {
    const QString good = Photo(QStringLiteral("good.png"), 64, 48);
    const QStringList damaged = Box.DamagedCopies(good, 40);
    for (const QString& bad : damaged) {
        Asked.Messages.clear();
        EXPECT_EQ(Page->AddPhotos({bad}), 0) << bad.toStdString();
        ASSERT_EQ(Asked.Messages.size(), 1) << bad.toStdString();
        EXPECT_EQ(Asked.Messages.first().Icon, miError);
        EXPECT_TRUE(LastMessage().contains(bad)) << LastMessage().toStdString();
        EXPECT_TRUE(VideoProject().Photos.isEmpty());
    }
    // A sound file chosen as a photo is no picture either.
    Asked.Messages.clear();
    EXPECT_EQ(Page->AddPhotos({Audio(QStringLiteral("song.mp3"))}), 0);
    EXPECT_EQ(Asked.Messages.size(), 1);
    // The page goes on: a good photo is added as before.
    Asked.Messages.clear();
    EXPECT_EQ(Page->AddPhotos({good}), 1);
    EXPECT_TRUE(Asked.Messages.isEmpty());
    EXPECT_EQ(VideoProject().Photos, QStringList({good}));

    // A project listing them opens with all of them, names the damaged ones in one
    // picture error, and its frames draw the good photo.
    TProjectData d;
    d.LyricText = QStringLiteral("[00:00.00]A\r\n");
    d.PhotoNames = damaged;
    d.PhotoNames.insert(1, good);
    Asked.Messages.clear();
    Page->OpenProjectFile(Box.Write(QStringLiteral("damaged.lmmc"), ProjectFileBytes(d)));
    ASSERT_EQ(Asked.Messages.size(), 1);
    EXPECT_EQ(Asked.Messages.first().Icon, miError);
    for (const QString& bad : damaged)
        EXPECT_TRUE(LastMessage().contains(bad)) << bad.toStdString();
    EXPECT_FALSE(LastMessage().contains(good));
    EXPECT_EQ(Photos()->count(), damaged.size() + 1);
    EXPECT_EQ(VideoProject().ProjectFileName, Box.File(QStringLiteral("damaged.lmmc")));
    // The photos follow the clock here; within two rounds of them the good one shows.
    VideoMakeSettings().PictureAccording = false;
    VideoMakeSettings().PictureRandom = false;
    FrameComposer().BuildPhotoOrder();
    FrameComposer().ResetComposer();
    bool shown = false;
    for (qint64 t = 0; t <= 60'000'000 && !shown; t += 500'000) {
        QImage canvas = MakeFrameCanvas();
        if (!FrameComposer().ComposeFrame(canvas, t))
            continue;
        const QColor centre = canvas.pixelColor(canvas.width() / 2, canvas.height() / 2);
        shown = centre.red() > 200 && centre.green() < 60 && centre.blue() < 60;
    }
    EXPECT_TRUE(shown);
}

// A file that is no project at all (a photo, a song, text) opened as a project: the
// read error, and the page still opens a real project afterwards.
TEST_F(VideoMakePageTest, AFileThatIsNoProjectGivesTheReadErrorAndThePageGoesOn) {
    for (const QString& wrong :
         {Photo(QStringLiteral("photo.png")), Audio(QStringLiteral("song.mp3")),
          Box.Write(QStringLiteral("lyrics.lrc"), QByteArray("[00:01.00]words\r\n"))}) {
        Asked.Messages.clear();
        Page->OpenProjectFile(wrong);
        ASSERT_EQ(Asked.Messages.size(), 1) << wrong.toStdString();
        EXPECT_EQ(Asked.Messages.first().Icon, miError);
        EXPECT_TRUE(VideoProject().ProjectFileName.isEmpty());
    }
    TProjectData d;
    d.LyricText = QStringLiteral("[00:01.00]A\r\n");
    Asked.Messages.clear();
    Page->OpenProjectFile(Box.Write(QStringLiteral("real.lmmc"), ProjectFileBytes(d)));
    EXPECT_TRUE(Asked.Messages.isEmpty());
    EXPECT_EQ(VideoProject().Rows.size(), 1);
}
