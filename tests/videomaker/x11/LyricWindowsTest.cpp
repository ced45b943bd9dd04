#include "state/ProgramState.h"
#include "support/Sandbox.h"
#include "support/ScriptedPrompts.h"
#include "videomaker/FrameComposer.h"
#include "videomaker/LyricText.h"
#include "videomaker/SongPlayer.h"
#include "videomaker/UnitAdjustTime.h"
#include "videomaker/UnitEditLyrics.h"
#include "videomaker/UnitPreviewSetting.h"
#include "videomaker/VideoMakePage.h"
#include "videomaker/VideoMakeSettings.h"
#include "videomaker/VideoProject.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollArea>
#include <QSlider>
#include <QSpinBox>
#include <QTest>
#include <QToolButton>
#include <QTreeWidget>
#include <QWindow>

#include <gtest/gtest.h>

namespace {

QString S(const char* utf8) {
    return QString::fromUtf8(utf8);
}

// A private home and settings file, the default settings in a font of the test machine,
// SDL's disk driver for the players and a project whose song is a sine tone.
class LyricWindows : public testing::Test {
protected:
    void SetUp() override {
        ProgramState().IniFileName = FBox.File(S("config/Vexmira/Vexmira20.ini"));
        qputenv("SDL_AUDIODRIVER", "disk");
        qputenv("SDL_DISKAUDIOFILE", FBox.File(S("played.raw")).toLocal8Bit());
        ResetVideoMakeSettings();
        VideoMakeSettings().VideoFont.Font.setFamily(S("DejaVu Sans"));
        VideoMakeSettings().VideoFont.Font.setPointSize(12);
        TVideoProject& p = VideoProject();
        p.Photos.clear();
        p.LyricText.clear();
        p.SetRows({});
        p.SetModified(false);
    }
    void TearDown() override {
        TVideoProject& p = VideoProject();
        p.LyricText.clear();
        p.SetRows({});
        p.AudioFile.clear();
        p.SetModified(false);
        ResetVideoMakeSettings();
        qunsetenv("SDL_DISKAUDIOFILE");
        qunsetenv("SDL_AUDIODRIVER");
    }
    QString Song(double seconds) {
        const QString path = FBox.File(QStringLiteral("song%1.wav").arg(seconds));
        QProcess ffmpeg;
        ffmpeg.start(
            S("ffmpeg"),
            {"-nostdin", "-v", "error", "-y", "-f", "lavfi", "-i",
             QStringLiteral("sine=frequency=440:sample_rate=8000:duration=%1").arg(seconds), "-c:a",
             "pcm_s16le", path});
        EXPECT_TRUE(ffmpeg.waitForFinished(30000));
        EXPECT_EQ(ffmpeg.exitCode(), 0);
        VideoProject().AudioFile = path;
        return path;
    }
    void SetLyrics(const QString& text) {
        VideoProject().LyricText = text;
        LayoutLyricRows();
    }
    // A list like the page's: one item per project row.
    void FillList(QTreeWidget& list, int selected) {
        list.setHeaderLabels({S("顺序"), S("时间"), S("歌词")});
        for (const TLyricRow& row : VideoProject().Rows)
            list.addTopLevelItem(new QTreeWidgetItem(QStringList{row.Order, row.Tag, row.Text}));
        if (selected >= 0)
            list.topLevelItem(selected)->setSelected(true);
    }

    TSandbox FBox;
    TScriptedPrompts FAsked;
};

// The control `name` of `window`.
template <class T> T* Ctl(QWidget& window, const char* name) {
    T* w = window.findChild<T*>(QLatin1StringView(name));
    EXPECT_NE(w, nullptr) << name;
    return w;
}

// The controls of the three windows, by their names.
struct TEditorControls {
    explicit TEditorControls(QWidget& w)
        : SBtnCut(Ctl<QToolButton>(w, "SBtnCut")), SBtnCopy(Ctl<QToolButton>(w, "SBtnCopy")),
          SBtnPaste(Ctl<QToolButton>(w, "SBtnPaste")),
          SBtnSeleteAll(Ctl<QToolButton>(w, "SBtnSeleteAll")),
          SBtnDelete(Ctl<QToolButton>(w, "SBtnDelete")), BtnSort(Ctl<QPushButton>(w, "BtnSort")),
          BtnMerger(Ctl<QPushButton>(w, "BtnMerger")),
          CheckBoxWordWarp(Ctl<QCheckBox>(w, "CheckBoxWordWarp")),
          Memo1(Ctl<QPlainTextEdit>(w, "Memo1")), BtnOk(Ctl<QPushButton>(w, "BtnOk")) {}
    QToolButton *SBtnCut, *SBtnCopy, *SBtnPaste, *SBtnSeleteAll, *SBtnDelete;
    QPushButton *BtnSort, *BtnMerger;
    QCheckBox* CheckBoxWordWarp;
    QPlainTextEdit* Memo1;
    QPushButton* BtnOk;
};
struct TAdjusterControls {
    explicit TAdjusterControls(QWidget& w)
        : BtnStart(Ctl<QPushButton>(w, "BtnStart")), BtnStop(Ctl<QPushButton>(w, "BtnStop")),
          BtnCapture(Ctl<QPushButton>(w, "BtnCapture")), BtnPause(Ctl<QPushButton>(w, "BtnPause")),
          BtnResume(Ctl<QPushButton>(w, "BtnResume")), BtnOk(Ctl<QPushButton>(w, "BtnOk")),
          LabelTime(Ctl<QLabel>(w, "LabelTime")),
          ListViewLyrics(Ctl<QTreeWidget>(w, "ListViewLyrics")) {}
    QPushButton *BtnStart, *BtnStop, *BtnCapture, *BtnPause, *BtnResume, *BtnOk;
    QLabel* LabelTime;
    QTreeWidget* ListViewLyrics;
};
struct TPreviewControls {
    explicit TPreviewControls(QWidget& w)
        : SBtnPlay(Ctl<QToolButton>(w, "SBtnPlay")), SBtnPause(Ctl<QToolButton>(w, "SBtnPause")),
          SBtnSize(Ctl<QToolButton>(w, "SBtnSize")), TrackBar1(Ctl<QSlider>(w, "TrackBar1")),
          LabelCurrent(Ctl<QLabel>(w, "LabelCurrent")),
          LabelPreview(Ctl<QLabel>(w, "LabelPreview")),
          ScrollBoxPreview(Ctl<QScrollArea>(w, "ScrollBoxPreview")),
          PanelPreview(Ctl<QWidget>(w, "PanelPreview")),
          ImagePreview(Ctl<TImagePreview>(w, "ImagePreview")) {}
    QToolButton *SBtnPlay, *SBtnPause, *SBtnSize;
    QSlider* TrackBar1;
    QLabel *LabelCurrent, *LabelPreview;
    QScrollArea* ScrollBoxPreview;
    QWidget* PanelPreview;
    TImagePreview* ImagePreview;
};

// The leftmost column holding a pixel other than the `background`; -1 when there is none.
int LeftmostColumnOf(const QImage& image, QRgb background) {
    for (int x = 0; x < image.width(); ++x)
        for (int y = 0; y < image.height(); ++y)
            if ((image.pixel(x, y) & 0xFFFFFF) != (background & 0xFFFFFF))
                return x;
    return -1;
}

} // namespace

// ---- lyric editor ----

TEST_F(LyricWindows, EditorMergesSortsAndEnablesItsButtons) {
    TFmEditLyrics editor;
    editor.show();
    TEditorControls ctl(editor);
    TEditorControls* c = &ctl;
    PumpEvents(60);
    EXPECT_FALSE(c->SBtnSeleteAll->isEnabled()); // nothing to select
    EXPECT_FALSE(c->BtnSort->isEnabled());
    EXPECT_FALSE(c->SBtnCopy->isEnabled());

    editor.SetText(S("[00:05.00]A\r\n[00:05.00]B\r\n[00:07.00]C\r\n"));
    PumpEvents(60);
    EXPECT_TRUE(c->BtnMerger->isEnabled());
    EXPECT_TRUE(c->SBtnSeleteAll->isEnabled());
    c->BtnMerger->click();
    EXPECT_EQ(editor.Text(), S("[00:05.00]AB\r\n[00:07.00]C\r\n"));

    c->SBtnSeleteAll->click();
    PumpEvents(60);
    EXPECT_TRUE(c->SBtnCut->isEnabled());
    EXPECT_TRUE(c->SBtnDelete->isEnabled());
    EXPECT_FALSE(c->SBtnSeleteAll->isEnabled());
    c->SBtnCopy->click();
    EXPECT_EQ(QApplication::clipboard()->text(), S("[00:05.00]AB\n[00:07.00]C\n"));
    c->SBtnDelete->click();
    PumpEvents(60);
    EXPECT_TRUE(editor.Text().isEmpty());
    EXPECT_TRUE(c->SBtnPaste->isEnabled());
    c->SBtnPaste->click();
    EXPECT_EQ(editor.Text(), S("[00:05.00]AB\r\n[00:07.00]C\r\n"));

    // Not ticked: lines do not wrap.
    c->CheckBoxWordWarp->click();
    EXPECT_EQ(c->Memo1->lineWrapMode(), QPlainTextEdit::NoWrap);
    c->CheckBoxWordWarp->click();
    EXPECT_EQ(c->Memo1->lineWrapMode(), QPlainTextEdit::WidgetWidth);

    // OK sorts by time and drops the information tags.
    editor.SetText(S("[ti:Song]\n[00:09.00]B\n[00:03.00]A"));
    c->BtnOk->click();
    EXPECT_EQ(editor.result(), QDialog::Accepted);
    EXPECT_EQ(editor.Text(), S("[00:03.00]A\r\n[00:09.00]B\r\n"));
}

// ---- time adjuster ----

TEST(PlayTime, HundredthsAreCutNotRounded) {
    EXPECT_EQ(PlayTimeText(83456000), S("01:23.45"));
    EXPECT_EQ(PlayTimeText(3599999999), S("59:59.99"));
    EXPECT_EQ(PlayTimeText(6000000000), S("100:00.00"));
}

TEST_F(LyricWindows, AdjusterStartsAfterTheLastTimedRowAboveTheSelection) {
    Song(15);
    SetLyrics(S("[00:01.00]zero\r\none\r\n[00:10.00]two\r\nthree\r\nfour\r\nfive\r\n"));
    QTreeWidget list;
    FillList(list, 4);
    TFmAdjustTime adjuster(nullptr, &list, VideoProject().AudioFile);
    adjuster.show();
    TAdjusterControls ctl(adjuster);
    TAdjusterControls* c = &ctl;
    EXPECT_EQ(adjuster.InputAudioDuration(), 15000000);
    EXPECT_FALSE(c->BtnCapture->isEnabled());

    // The window's own rewind on opening is carried out first; a seek asked for while
    // another is pending would be dropped.
    ASSERT_TRUE(PumpUntil([&] { return !adjuster.Player().Seeking(); }, 2000));
    emit adjuster.PMLyrics().aboutToShow();
    EXPECT_TRUE(adjuster.MnCurrent()->isEnabled());
    adjuster.MnCurrent()->trigger();
    EXPECT_TRUE(c->BtnCapture->isEnabled());
    EXPECT_FALSE(c->BtnStart->isEnabled());
    EXPECT_EQ(adjuster.AdjustIndex(), 3);
    ASSERT_TRUE(PumpUntil([&] { return adjuster.Player().CurrentPTS() >= 10100000; }, 5000));
    EXPECT_LT(adjuster.Player().CurrentPTS(), 11000000);
    EXPECT_TRUE(c->LabelTime->text().startsWith(S("00:10.")));
    c->BtnCapture->click();
    const QString tag = c->ListViewLyrics->topLevelItem(3)->text(1);
    EXPECT_TRUE(tag.startsWith(S("[00:10."))) << tag.toStdString();
    EXPECT_EQ(adjuster.AdjustIndex(), 4);
    EXPECT_TRUE(c->ListViewLyrics->topLevelItem(3)->isSelected());

    // Pause holds the song; stop leaves only "开始".
    c->BtnPause->click();
    EXPECT_TRUE(c->BtnResume->isEnabled());
    EXPECT_FALSE(c->BtnCapture->isEnabled());
    EXPECT_TRUE(adjuster.Player().Paused());
    c->BtnResume->click();
    EXPECT_FALSE(adjuster.Player().Paused());
    c->BtnStop->click();
    EXPECT_TRUE(c->BtnStart->isEnabled());
    EXPECT_FALSE(c->BtnStop->isEnabled());

    // OK writes the tags back; the editor then shows them.
    c->BtnOk->click();
    adjuster.StoreTags();
    EXPECT_EQ(VideoProject().Rows[3].Tag, tag);
    EXPECT_EQ(VideoProject().RowTimes[3], TimeTagMilliseconds(tag) * 1000);
    EXPECT_TRUE(VideoProject().LyricText.contains(tag + S("three\r\n")))
        << VideoProject().LyricText.toStdString();
    EXPECT_TRUE(VideoProject().Modified());
    QString shown;
    TModalHandler handler([&](QWidget* w) {
        if (auto* editor = qobject_cast<TFmEditLyrics*>(w)) {
            shown = editor->Text();
            editor->reject();
        }
    });
    EXPECT_FALSE(TFmEditLyrics::EditProjectLyrics(nullptr));
    EXPECT_EQ(shown,
              S("[00:01.00]zero\r\none\r\n[00:10.00]two\r\n") + tag + S("three\r\nfour\r\nfive"));
}

TEST_F(LyricWindows, AdjusterWithoutTimedRowsAboveStartsAtZeroAndStopsAtTheEnd) {
    Song(1);
    SetLyrics(S("one\r\ntwo\r\n[00:00.50]three\r\n"));
    QTreeWidget list;
    FillList(list, 1);
    TFmAdjustTime adjuster(nullptr, &list, VideoProject().AudioFile);
    adjuster.show();
    TAdjusterControls ctl(adjuster);
    TAdjusterControls* c = &ctl;
    adjuster.MnCurrent()->trigger();
    EXPECT_EQ(adjuster.AdjustIndex(), 0);
    c->BtnCapture->click();
    EXPECT_TRUE(c->ListViewLyrics->topLevelItem(0)->text(1).startsWith(S("[00:00.")));
    // Capturing past the last row re-stamps the last row.
    c->BtnCapture->click();
    c->BtnCapture->click();
    c->BtnCapture->click();
    EXPECT_EQ(adjuster.AdjustIndex(), 3);
    EXPECT_TRUE(c->ListViewLyrics->topLevelItem(2)->isSelected());
    // The end of the song presses "停止".
    ASSERT_TRUE(PumpUntil([&] { return c->BtnStart->isEnabled(); }, 5000));
    EXPECT_FALSE(c->BtnCapture->isEnabled());
    EXPECT_EQ(c->LabelTime->text(), S("00:01.00"));
}

TEST_F(LyricWindows, AdjusterWithASongThatDidNotOpenNeitherStartsNorStamps) {
    const QString bad = FBox.Write(S("bad.mp3"), QByteArray(3000, 'x'));
    VideoProject().AudioFile = bad;
    SetLyrics(S("[00:01.00]one\r\n[00:02.00]two\r\n"));
    QTreeWidget list;
    FillList(list, 0);
    TFmAdjustTime adjuster(nullptr, &list, bad);
    ASSERT_EQ(FAsked.Messages.size(), 1);
    EXPECT_TRUE(FAsked.Messages.first().Text.startsWith(S("无法打开音频文件 ") + bad));
    adjuster.show();
    TAdjusterControls ctl(adjuster);
    const QString clock = ctl.LabelTime->text();
    EXPECT_FALSE(ctl.BtnStart->isEnabled());
    // Neither start command starts a clock, so no time can be taken.
    adjuster.MnBeginning()->trigger();
    adjuster.MnCurrent()->trigger();
    EXPECT_FALSE(ctl.BtnCapture->isEnabled());
    EXPECT_FALSE(ctl.BtnPause->isEnabled());
    QMetaObject::invokeMethod(ctl.BtnCapture, "clicked", Q_ARG(bool, false));
    EXPECT_EQ(ctl.ListViewLyrics->topLevelItem(0)->text(1), S("[00:01.00]"));
    EXPECT_EQ(ctl.ListViewLyrics->topLevelItem(1)->text(1), S("[00:02.00]"));
    PumpEvents(100);
    EXPECT_EQ(ctl.LabelTime->text(), clock); // no clock runs
}

// The real message boxes of the song windows stand over the window that opens them,
// not in the corner of the screen where the window not yet shown would put them.
TEST_F(LyricWindows, SongWarningsStandOverTheWindowThatOpensThem) {
    const QString bad = FBox.Write(S("bad.mp3"), QByteArray(3000, 'x'));
    VideoProject().AudioFile = bad;
    SetLyrics(S("[00:01.00]one\r\n"));
    QWidget owner;
    owner.setWindowTitle(S("owner"));
    owner.setGeometry(1100, 560, 640, 400);
    owner.show();
    ASSERT_TRUE(
        PumpUntil([&] { return owner.isVisible() && owner.windowHandle()->isExposed(); }, 5000));
    PumpEvents(100);
    SetPrompts(nullptr);
    QList<QRect> boxes;
    QStringList texts;
    TModalHandler answer([&](QWidget* w) {
        PumpEvents(50);
        boxes << w->frameGeometry();
        if (auto* box = qobject_cast<QMessageBox*>(w)) {
            texts << box->text();
            box->button(QMessageBox::Ok)->click();
        } else {
            w->close();
        }
    });
    QTreeWidget list;
    FillList(list, 0);
    { TFmAdjustTime adjuster(&owner, &list, bad); }
    { TFmPreviewSetting preview(&owner, bad); }
    SetPrompts(&FAsked);
    ASSERT_EQ(boxes.size(), 2);
    for (const QRect& box : boxes) {
        const QPoint off = box.center() - owner.frameGeometry().center();
        EXPECT_LE(off.manhattanLength(), 60) << box.x() << "," << box.y();
    }
    for (const QString& text : texts)
        EXPECT_TRUE(text.startsWith(S("无法打开音频文件 ") + bad)) << text.toStdString();
}

// ---- preview ----

TEST_F(LyricWindows, PreviewFontChangeWhilePlayingRelaysOutAndGoesOn) {
    Song(10);
    SetLyrics(S("[00:00.00]one two three four five six seven\r\n[00:05.00]eight\r\n"));
    const int rowsBefore = VideoProject().Rows.size();
    TFmPreviewSetting preview(nullptr, VideoProject().AudioFile);
    preview.show();
    TPreviewControls ctl(preview);
    TPreviewControls* c = &ctl;
    EXPECT_EQ(preview.SongDuration(), 10000000);
    EXPECT_EQ(c->TrackBar1->maximum(), 10);
    EXPECT_EQ(c->LabelCurrent->text(), S("00:00:00/00:00:10"));
    ASSERT_TRUE(PumpUntil([&] { return c->SBtnPlay->isEnabled(); }, 5000));
    c->SBtnPlay->click();
    EXPECT_TRUE(c->SBtnPause->isEnabled());
    ASSERT_TRUE(PumpUntil([&] { return preview.Player().CurrentPTS() > 300000; }, 5000));
    EXPECT_FALSE(TPreviewControls(preview).ImagePreview->Image().isNull());

    FAsked.FontAnswers.push_back([](QFont& font) {
        font.setPointSize(36);
        return true;
    });
    preview.MenuItem(S("MnFont"))->trigger();
    EXPECT_EQ(VideoMakeSettings().VideoFont.Font.pointSize(), 36);
    EXPECT_GT(VideoProject().Rows.size(), rowsBefore); // the long line wraps in the big font
    EXPECT_TRUE(c->SBtnPause->isEnabled());
    EXPECT_FALSE(preview.Player().Paused());
    const int64_t at = preview.Player().CurrentPTS();
    ASSERT_TRUE(PumpUntil([&] { return preview.Player().CurrentPTS() > at + 200000; }, 5000));

    // Cancelling restores the font and the rows.
    preview.reject();
    EXPECT_EQ(VideoMakeSettings().VideoFont.Font.pointSize(), 12);
    EXPECT_EQ(VideoProject().Rows.size(), rowsBefore);
}

// The rows that are not current take the colour chosen in the settings menu; it is
// kept in the video font's text in the settings file when the window is confirmed.
TEST_F(LyricWindows, PreviewSetsTheColourOfTheOtherRows) {
    Song(3);
    SetLyrics(S("[00:00.00]MMMM\r\n[00:02.50]WWWW\r\n"));
    TFmPreviewSetting preview(nullptr, VideoProject().AudioFile);
    preview.show();
    ASSERT_TRUE(
        PumpUntil([&] { return !TPreviewControls(preview).ImagePreview->Image().isNull(); }, 5000));
    QAction* font = preview.MenuItem(S("MnFont"));
    QAction* colour = preview.MenuItem(S("MnFontColor"));
    ASSERT_NE(colour, nullptr);
    EXPECT_EQ(colour->text(), S("歌词颜色..."));
    auto* menu = qobject_cast<QWidget*>(font->associatedObjects().value(0));
    ASSERT_NE(menu, nullptr);
    const QList<QAction*> items = menu->actions();
    EXPECT_EQ(items.indexOf(colour), items.indexOf(font) + 1);

    const auto redPixels = [&] {
        const QImage image = TPreviewControls(preview).ImagePreview->Image();
        int n = 0;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                n += (image.pixel(x, y) & 0xFFFFFF) == 0xFF0000;
        return n;
    };
    EXPECT_EQ(redPixels(), 0);
    FAsked.ColorAnswers.push_back([](QColor& c) {
        c = QColor(255, 0, 0);
        return true;
    });
    colour->trigger();
    ASSERT_EQ(FAsked.ColorDialogs.size(), 1);
    EXPECT_EQ(FAsked.ColorDialogs.first().Initial, QColor(255, 255, 255));
    EXPECT_EQ(VideoMakeSettings().VideoFont.Color, 0x000000FFu);
    EXPECT_GT(redPixels(), 20); // the second row, not current at the start, is red

    TPreviewControls(preview).ImagePreview->window()->findChild<QPushButton*>(S("BtnOk"))->click();
    QFile ini(ProgramState().IniFileName);
    ASSERT_TRUE(ini.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(ini.readAll());
    const qsizetype at = text.indexOf(S("VideoFont="));
    ASSERT_GE(at, 0) << text.toStdString();
    EXPECT_EQ(text.mid(at + 10 + 8, 8), S("000000FF")) << text.toStdString();
}

TEST_F(LyricWindows, PreviewLeftAlignmentRedrawsAtOnce) {
    Song(3);
    SetLyrics(S("[00:00.00]hi\r\n"));
    TFmPreviewSetting preview(nullptr, VideoProject().AudioFile);
    preview.show();
    ASSERT_TRUE(
        PumpUntil([&] { return !TPreviewControls(preview).ImagePreview->Image().isNull(); }, 5000));
    EXPECT_TRUE(preview.MenuItem(S("MnCenter"))->isChecked());
    EXPECT_TRUE(preview.MenuItem(S("MnBottom"))->isChecked());
    const QRgb background = ColorFromValue(VideoMakeSettings().BackGroundColor).rgb();
    const int centred =
        LeftmostColumnOf(TPreviewControls(preview).ImagePreview->Image(), background);
    ASSERT_GT(centred, 100);

    preview.MenuItem(S("MnLeft"))->trigger(); // paused: no position report follows
    EXPECT_EQ(VideoMakeSettings().HorizontalAlignment, haLeft);
    EXPECT_TRUE(preview.MenuItem(S("MnLeft"))->isChecked());
    EXPECT_FALSE(preview.MenuItem(S("MnCenter"))->isChecked());
    const int left = LeftmostColumnOf(TPreviewControls(preview).ImagePreview->Image(), background);
    EXPECT_GE(left, VideoMakeSettings().LyricsMarginLeft);
    EXPECT_LT(left, VideoMakeSettings().LyricsMarginLeft + 6);

    // "默认设置" does not move the ticks.
    preview.MenuItem(S("MnDefault"))->trigger();
    EXPECT_EQ(VideoMakeSettings().HorizontalAlignment, haCenter);
    EXPECT_TRUE(preview.MenuItem(S("MnLeft"))->isChecked());
    preview.accept();
    EXPECT_TRUE(VideoProject().Modified());
}

TEST_F(LyricWindows, PreviewCancelAfterAVideoSizeRestoresTheSizeAndTheWrapping) {
    Song(2);
    SetLyrics(S("[00:00.00]a rather long line of lyrics that wraps at this size\r\n"));
    const QList<TLyricRow> small = VideoProject().Rows;
    TFmPreviewSetting preview(nullptr, VideoProject().AudioFile);
    preview.show();
    TModalHandler handler([](QWidget* w) {
        w->findChild<QRadioButton*>(S("RBtnCustom"))->click();
        w->findChild<QSpinBox*>(S("SpinEditWidth"))->setValue(640);
        w->findChild<QSpinBox*>(S("SpinEditHeight"))->setValue(480);
        w->findChild<QPushButton*>(S("BtnOk"))->click();
    });
    preview.MenuItem(S("MnVideoSzie"))->trigger();
    ASSERT_EQ(handler.Handled(), 1);
    EXPECT_EQ(VideoMakeSettings().LyricsVideoWidth, 640);
    EXPECT_EQ(VideoMakeSettings().LyricsVideoHeight, 480);
    EXPECT_LT(VideoProject().Rows.size(), small.size());
    EXPECT_TRUE(TPreviewControls(preview).LabelPreview->text().startsWith(S("640*480(")));

    preview.reject();
    EXPECT_EQ(VideoMakeSettings().LyricsVideoWidth, 320);
    EXPECT_EQ(VideoMakeSettings().LyricsVideoHeight, 240);
    EXPECT_EQ(VideoProject().Rows, small);
    EXPECT_FALSE(VideoProject().Modified());
}

TEST_F(LyricWindows, PreviewSizeButtonAndScale) {
    TFmPreviewSetting preview(nullptr, QString()); // no song: a warning, the window opens
    ASSERT_EQ(FAsked.Messages.size(), 1);
    preview.show();
    TPreviewControls ctl(preview);
    TPreviewControls* c = &ctl;
    c->ScrollBoxPreview->setFixedSize(400, 300);
    PumpEvents(50);
    EXPECT_FALSE(c->SBtnSize->isEnabled());
    EXPECT_EQ(c->LabelPreview->text(), S("320*240(100%)"));

    c->ScrollBoxPreview->setFixedSize(200, 150);
    PumpEvents(50);
    EXPECT_TRUE(c->SBtnSize->isEnabled());
    EXPECT_EQ(c->LabelPreview->text(), S("320*240(62%)")); // 62.5 to the even
    EXPECT_EQ(c->SBtnSize->toolTip(), S("真实视频大小"));
    c->SBtnSize->click();
    EXPECT_EQ(preview.SizeMode(), 1);
    EXPECT_EQ(c->LabelPreview->text(), S("320*240(100%)"));
    EXPECT_EQ(c->SBtnSize->toolTip(), S("视频适应窗口"));
    EXPECT_EQ(c->PanelPreview->size(), QSize(320, 240));
    c->SBtnSize->click();
    EXPECT_EQ(c->LabelPreview->text(), S("320*240(62%)"));
}

TEST_F(LyricWindows, PreviewReturnsToTheStartAtTheEndOfTheSong) {
    Song(1.5);
    SetLyrics(S("[00:00.00]one\r\n[00:01.00]two\r\n"));
    TFmPreviewSetting preview(nullptr, VideoProject().AudioFile);
    preview.show();
    TPreviewControls ctl(preview);
    TPreviewControls* c = &ctl;
    ASSERT_TRUE(PumpUntil([&] { return c->SBtnPlay->isEnabled(); }, 5000));
    c->SBtnPlay->click();
    ASSERT_TRUE(PumpUntil([&] { return c->TrackBar1->value() == 1; }, 5000));
    ASSERT_TRUE(PumpUntil([&] { return c->SBtnPlay->isEnabled(); }, 5000));
    EXPECT_FALSE(c->SBtnPause->isEnabled());
    ASSERT_TRUE(PumpUntil([&] { return c->TrackBar1->value() == 0; }, 5000));
    EXPECT_EQ(preview.Player().CurrentPTS(), 0);
    EXPECT_TRUE(preview.Player().Paused());

    // Moving the track bar seeks the song.
    c->TrackBar1->setValue(1);
    ASSERT_TRUE(PumpUntil([&] { return preview.Player().CurrentPTS() == 1000000; }, 5000));
}

TEST_F(LyricWindows, PreviewWithADamagedSongWarnsAndGoesOnWithoutIt) {
    const QString good = Song(2);
    SetLyrics(S("[00:00.00]one\r\n[00:01.00]two\r\n"));
    const QStringList damaged = FBox.DamagedCopies(good, 20);
    for (const QString& bad : damaged) {
        VideoProject().AudioFile = bad;
        FAsked.Messages.clear();
        TFmPreviewSetting preview(nullptr, bad);
        ASSERT_EQ(FAsked.Messages.size(), 1) << bad.toStdString();
        EXPECT_EQ(FAsked.Messages.first().Icon, miWarning);
        // What failed on which file, then the player's reason.
        const QString text = FAsked.Messages.first().Text;
        EXPECT_TRUE(text.startsWith(S("无法打开音频文件 ") + bad + S("："))) << text.toStdString();
        EXPECT_GT(text.size(), (S("无法打开音频文件 ") + bad + S("：")).size());
        // The window opens without a song: nothing to play, and it closes normally.
        preview.show();
        TPreviewControls ctl(preview);
        PumpEvents(100);
        EXPECT_FALSE(ctl.SBtnPlay->isEnabled()) << bad.toStdString();
        EXPECT_EQ(preview.SongDuration(), 0);
        preview.reject();
    }
    // The good song still plays in a new window.
    VideoProject().AudioFile = good;
    FAsked.Messages.clear();
    TFmPreviewSetting preview(nullptr, good);
    EXPECT_TRUE(FAsked.Messages.isEmpty());
    preview.show();
    TPreviewControls ctl(preview);
    ASSERT_TRUE(PumpUntil([&] { return ctl.SBtnPlay->isEnabled(); }, 5000));
    EXPECT_EQ(preview.SongDuration(), 2000000);
}

// ---- opened from the page ----

TEST_F(LyricWindows, ThePageOpensTheEditorAndKeepsItsText) {
    SetLyrics(S("[00:02.00]B\r\n[00:01.00]A\r\n"));
    TVideoMakePage page;
    TModalHandler handler([](QWidget* w) {
        auto* editor = qobject_cast<TFmEditLyrics*>(w);
        ASSERT_NE(editor, nullptr);
        editor->SetText(editor->Text() + S("\r\n[00:03.00]C\r\n[ar:Someone]"));
        w->findChild<QPushButton*>(S("BtnOk"))->click();
    });
    page.findChild<QPushButton*>(S("BtnEditLyircs"))->click();
    ASSERT_EQ(handler.Handled(), 1);
    EXPECT_EQ(VideoProject().LyricText, S("[00:01.00]A\r\n[00:02.00]B\r\n[00:03.00]C\r\n"));
    ASSERT_EQ(VideoProject().Rows.size(), 3);
    EXPECT_EQ(page.findChild<QTreeWidget*>(S("ListViewLyrics"))->topLevelItemCount(), 3);
    EXPECT_TRUE(VideoProject().Modified());
}

// ---- mending mistakes while timing ----

namespace {

// The time adjuster's own controls for mending mistakes, and the wait until a seek the
// window asked for has been carried out.
struct TTimingControls : TAdjusterControls {
    explicit TTimingControls(QWidget& w)
        : TAdjusterControls(w), BtnUndo(Ctl<QPushButton>(w, "BtnUndo")),
          BtnReplay(Ctl<QPushButton>(w, "BtnReplay")),
          ComboBoxSpeed(Ctl<QComboBox>(w, "ComboBoxSpeed")),
          SpinEditOffset(Ctl<QSpinBox>(w, "SpinEditOffset")) {}
    QPushButton *BtnUndo, *BtnReplay;
    QComboBox* ComboBoxSpeed;
    QSpinBox* SpinEditOffset;
};

QString Tag(const TTimingControls& c, int row) {
    return c.ListViewLyrics->topLevelItem(row)->text(1);
}

// The position right after a seek, once the player has taken it up.
int64_t PositionAfterSeek(TFmAdjustTime& adjuster) {
    EXPECT_TRUE(PumpUntil([&] { return !adjuster.Player().Seeking(); }, 2000));
    PumpEvents(30);
    return adjuster.Player().CurrentPTS();
}

} // namespace

TEST_F(LyricWindows, UndoGivesBackTheTagAndReplaysFromBeforeTheRowAbove) {
    Song(15);
    SetLyrics(S("zero\r\none\r\n[00:07.00]two\r\nthree\r\n"));
    QTreeWidget list;
    FillList(list, -1);
    TFmAdjustTime adjuster(nullptr, &list, VideoProject().AudioFile);
    adjuster.show();
    TTimingControls c(adjuster);
    EXPECT_FALSE(c.BtnUndo->isEnabled()); // nothing to take back yet
    ASSERT_TRUE(PumpUntil([&] { return !adjuster.Player().Seeking(); }, 2000));

    adjuster.MnBeginning()->trigger();
    for (int64_t at : {300000, 2600000, 2900000}) {
        ASSERT_TRUE(PumpUntil([&] { return adjuster.Player().CurrentPTS() >= at; }, 6000));
        c.BtnCapture->click();
    }
    ASSERT_EQ(adjuster.AdjustIndex(), 3);
    ASSERT_TRUE(Tag(c, 1).startsWith(S("[00:02."))) << Tag(c, 1).toStdString();
    EXPECT_NE(Tag(c, 2), S("[00:07.00]"));
    EXPECT_TRUE(c.BtnUndo->isEnabled());

    // The third stamp is taken back; the song plays again from 2 s before the second.
    c.BtnUndo->click();
    EXPECT_EQ(Tag(c, 2), S("[00:07.00]"));
    EXPECT_EQ(adjuster.AdjustIndex(), 2);
    EXPECT_TRUE(c.ListViewLyrics->topLevelItem(2)->isSelected());
    const int64_t second = TimeTagMilliseconds(Tag(c, 1)) * 1000;
    const int64_t replayed = PositionAfterSeek(adjuster);
    EXPECT_GE(replayed, second - 2000000);
    EXPECT_LT(replayed, second - 2000000 + 400000);
    EXPECT_FALSE(adjuster.Player().Paused());
    EXPECT_TRUE(c.BtnCapture->isEnabled());

    // Backspace walks further back: the second row loses its stamp, the song starts over
    // (the first row's time is less than 2 s).
    c.BtnPause->click();
    adjuster.activateWindow(); // the key goes to the window that has the focus
    ASSERT_TRUE(QTest::qWaitForWindowActive(&adjuster));
    QTest::keyClick(&adjuster, Qt::Key_Backspace);
    ASSERT_TRUE(PumpUntil([&] { return adjuster.AdjustIndex() == 1; }, 2000));
    EXPECT_TRUE(Tag(c, 1).isEmpty());
    EXPECT_LT(PositionAfterSeek(adjuster), 400000);
    EXPECT_FALSE(adjuster.Player().Paused()); // it plays on after a pause
    EXPECT_EQ(adjuster.UndoCount(), 1);

    // Stamping goes on from the row given back; OK still decides what is kept.
    ASSERT_TRUE(PumpUntil([&] { return adjuster.Player().CurrentPTS() >= 500000; }, 3000));
    c.BtnCapture->click();
    EXPECT_EQ(adjuster.AdjustIndex(), 2);
    c.BtnOk->click();
    adjuster.StoreTags();
    EXPECT_EQ(VideoProject().Rows[1].Tag, Tag(c, 1));
    EXPECT_EQ(VideoProject().Rows[2].Tag, S("[00:07.00]"));
}

TEST_F(LyricWindows, CancelDropsStampsEvenAfterUndo) {
    Song(3);
    SetLyrics(S("[00:01.00]one\r\ntwo\r\n"));
    QTreeWidget list;
    FillList(list, -1);
    const QList<TLyricRow> before = VideoProject().Rows;
    TModalHandler handler([](QWidget* w) {
        auto* adjuster = qobject_cast<TFmAdjustTime*>(w);
        if (!adjuster)
            return;
        adjuster->MnBeginning()->trigger();
        adjuster->BtnCaptureClick();
        adjuster->BtnCaptureClick();
        adjuster->BtnUndoClick();
        adjuster->reject();
    });
    EXPECT_FALSE(TFmAdjustTime::AdjustProjectTimes(nullptr, &list));
    EXPECT_EQ(handler.Handled(), 1);
    EXPECT_EQ(VideoProject().Rows, before);
    EXPECT_FALSE(VideoProject().Modified());
}

TEST_F(LyricWindows, ReplayFromADoubleClickedRowOrTheSelectedOne) {
    Song(15);
    SetLyrics(S("[00:01.00]a\r\n[00:02.00]b\r\n[00:04.00]c\r\nd\r\n[00:06.00]e\r\n"
                "[00:08.00]f\r\n[00:09.00]g\r\n"));
    QTreeWidget list;
    FillList(list, -1);
    TFmAdjustTime adjuster(nullptr, &list, VideoProject().AudioFile);
    adjuster.resize(700, 500);
    adjuster.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&adjuster));
    TTimingControls c(adjuster);
    ASSERT_TRUE(PumpUntil([&] { return !adjuster.Player().Seeking(); }, 2000));

    // Row 5, tagged 8 s: playing starts at 6 s and the next stamp goes to row 5.
    QTreeWidget* rows = c.ListViewLyrics;
    const QRect cell = rows->visualItemRect(rows->topLevelItem(5));
    // A double click is a press and release followed by a second press that the system
    // reports as a double click.
    QTest::mouseClick(rows->viewport(), Qt::LeftButton, {}, cell.center());
    QTest::mouseDClick(rows->viewport(), Qt::LeftButton, {}, cell.center());
    EXPECT_EQ(adjuster.AdjustIndex(), 5);
    EXPECT_TRUE(rows->topLevelItem(5)->isSelected());
    const int64_t at = PositionAfterSeek(adjuster);
    EXPECT_GE(at, 6000000);
    EXPECT_LT(at, 6400000);
    EXPECT_TRUE(c.BtnCapture->isEnabled());
    c.BtnCapture->click();
    EXPECT_TRUE(Tag(c, 5).startsWith(S("[00:06."))) << Tag(c, 5).toStdString();
    EXPECT_EQ(adjuster.AdjustIndex(), 6);

    // The button replays the selected row; an untimed row goes by the tag above it.
    rows->clearSelection();
    rows->topLevelItem(3)->setSelected(true);
    c.BtnReplay->click();
    EXPECT_EQ(adjuster.AdjustIndex(), 3);
    const int64_t fromAbove = PositionAfterSeek(adjuster);
    EXPECT_GE(fromAbove, 2000000);
    EXPECT_LT(fromAbove, 2400000);
    // The first row replays from the start.
    adjuster.ReplayFromRow(0);
    EXPECT_LT(PositionAfterSeek(adjuster), 400000);
    EXPECT_EQ(adjuster.AdjustIndex(), 0);
}

TEST_F(LyricWindows, HalfSpeedStampsInSongTimeLessTheReactionOffset) {
    Song(15);
    SetLyrics(S("[00:11.00]a\r\nb\r\nc\r\nd\r\n"));
    VideoMakeSettings().ReactionOffset = 40;
    QTreeWidget list;
    FillList(list, -1);
    TFmAdjustTime adjuster(nullptr, &list, VideoProject().AudioFile);
    adjuster.show();
    TTimingControls c(adjuster);
    EXPECT_EQ(c.SpinEditOffset->value(), 40); // the remembered offset
    EXPECT_EQ(c.SpinEditOffset->minimum(), -1000);
    EXPECT_EQ(c.SpinEditOffset->maximum(), 1000);
    c.SpinEditOffset->setValue(0);
    ASSERT_TRUE(PumpUntil([&] { return !adjuster.Player().Seeking(); }, 2000));

    c.ComboBoxSpeed->setCurrentIndex(c.ComboBoxSpeed->findData(0.5));
    EXPECT_EQ(adjuster.Player().Tempo(), 0.5);
    adjuster.ReplayFromRow(0); // from 9 s
    ASSERT_TRUE(PumpUntil([&] { return adjuster.Player().CurrentPTS() >= 9100000; }, 3000));
    QElapsedTimer wall;
    wall.start();
    const int64_t from = adjuster.Player().CurrentPTS();
    PumpEvents(2000);
    const int64_t to = adjuster.Player().CurrentPTS();
    EXPECT_NEAR(double(to - from) / 1e6 / (wall.nsecsElapsed() / 1e9), 0.5, 0.15);
    EXPECT_TRUE(c.LabelTime->text().startsWith(S("00:1"))) << c.LabelTime->text().toStdString();

    // At song time 10.00 s (held there) the stamp reads 10.00 s, whatever the speed.
    c.BtnPause->click();
    adjuster.Player().Seek(10000000, 0, true);
    ASSERT_TRUE(PumpUntil([&] { return adjuster.Player().CurrentPTS() == 10000000; }, 2000));
    adjuster.BtnCaptureClick();
    EXPECT_EQ(Tag(c, 0), S("[00:10.00]"));

    // The reaction offset comes off every stamp, but never before the start.
    c.SpinEditOffset->setValue(150);
    adjuster.BtnCaptureClick();
    EXPECT_EQ(Tag(c, 1), S("[00:09.85]"));
    c.SpinEditOffset->setValue(-1000);
    adjuster.BtnCaptureClick();
    EXPECT_EQ(Tag(c, 2), S("[00:11.00]"));
    adjuster.Player().Seek(100000, 0, true);
    ASSERT_TRUE(PumpUntil([&] { return adjuster.Player().CurrentPTS() == 100000; }, 2000));
    c.SpinEditOffset->setValue(150);
    adjuster.BtnCaptureClick();
    EXPECT_EQ(Tag(c, 3), S("[00:00.00]"));

    // OK remembers the offset in the settings file.
    adjuster.StoreReactionOffset();
    EXPECT_EQ(VideoMakeSettings().ReactionOffset, 150);
    VideoMakeSettings().ReactionOffset = 0;
    ReadVideoMakeSettings();
    EXPECT_EQ(VideoMakeSettings().ReactionOffset, 150);
}
