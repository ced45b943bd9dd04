#include "app/Startup.h"
#include "app/UnitIntroduction.h"
#include "recording/RecordingPage.h"
#include "recording/UnitRect.h"
#include "recording/UnitToolBar.h"
#include "state/ProgramState.h"
#include "state/SpinEdit.h"
#include "support/Sandbox.h"
#include "support/ScriptedPrompts.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QSignalSpy>
#include <QTabWidget>
#include <QTest>
#include <gtest/gtest.h>

namespace {

class MainWindowTest : public ::testing::Test {
protected:
    TSandbox Box;
    TScriptedPrompts Prompts;
    std::unique_ptr<TApplicationWindows> Windows;
    int IntroductionsShown = 0;
    bool TickIntroduction = false;

    QString IniPath() const { return Box.ConfigHome() + QStringLiteral("/Vexmira/Vexmira20.ini"); }
    void WriteIni(const QByteArray& text) {
        QDir().mkpath(Box.ConfigHome() + QStringLiteral("/Vexmira"));
        QFile f(IniPath());
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(text);
    }
    QByteArray ReadIni() const {
        QFile f(IniPath());
        f.open(QIODevice::ReadOnly);
        return f.readAll();
    }

    // Creates the start-up windows as the program does and waits until the settings
    // are applied; the introduction window, when it opens, is closed (ticked or not).
    void Start(const QStringList& arguments = {}) {
        Windows.reset();
        ProgramState().Arguments = arguments;
        TModalHandler intro([this](QWidget* w) {
            auto* dialog = qobject_cast<TFmIntroduction*>(w);
            if (dialog == nullptr)
                return;
            ++IntroductionsShown;
            dialog->findChild<QCheckBox*>(QStringLiteral("CheckBoxIntroduction"))
                ->setChecked(TickIntroduction);
            dialog->findChild<QPushButton*>(QStringLiteral("BtnOk"))->click();
        });
        Windows = std::make_unique<TApplicationWindows>();
        Main()->show();
        ASSERT_TRUE(PumpUntil([this] { return Main()->OptionsApplied(); }, 5000));
        PumpEvents(50);
    }
    void TearDown() override { Windows.reset(); }

    TFmMain* Main() const { return Windows->FmMain.get(); }
    TRecordingPage* Page() const { return Main()->RecordingPage(); }
    QAction* Action(const char* name) const {
        return Main()->findChild<QAction*>(QString::fromLatin1(name));
    }
    QTabWidget* Tabs() const {
        return Main()->findChild<QTabWidget*>(QStringLiteral("PageControl1"));
    }
    // Picks a visible tab the way the user does, by clicking it.
    void ClickTab(int visibleIndex) {
        QTabBar* bar = Tabs()->tabBar();
        int visible = -1;
        for (int i = 0; i < bar->count(); ++i)
            if (bar->isTabVisible(i) && ++visible == visibleIndex)
                QTest::mouseClick(bar, Qt::LeftButton, {}, bar->tabRect(i).center());
        PumpEvents(20);
    }
};

// Keys in the order they appear in the file's General section.
QStringList GeneralKeys(const QByteArray& ini) {
    QStringList keys;
    bool general = false;
    for (const QByteArray& line : ini.split('\n')) {
        const QString t = QString::fromUtf8(line).trimmed();
        if (t.startsWith(u'['))
            general = t == QStringLiteral("[General]");
        else if (general && t.contains(u'='))
            keys << t.section(u'=', 0, 0);
    }
    return keys;
}

} // namespace

TEST_F(MainWindowTest, FirstRunCreatesTheFolderShowsTheIntroductionAndTheDefaults) {
    Start();
    EXPECT_TRUE(QDir(Box.ConfigHome() + QStringLiteral("/Vexmira")).exists());
    EXPECT_EQ(IntroductionsShown, 1);
    EXPECT_EQ(Main()->windowTitle(), QStringLiteral("Vexmira2.0 - 屏幕录像"));
    EXPECT_EQ(Main()->ActiveTabIndex(), 0);
    EXPECT_EQ(Main()->size(), QSize(614, 422 + Main()->menuBar()->height()));

    EXPECT_TRUE(Page()->RBtnScreenCapture()->isChecked());
    EXPECT_FALSE(Page()->SpinEditLeft()->isEnabled());
    EXPECT_FALSE(Page()->BtnSelectRect()->isEnabled());
    EXPECT_EQ(Page()->SpinEditLeft()->value(), 100);
    EXPECT_EQ(Page()->SpinEditTop()->value(), 50);
    EXPECT_EQ(Page()->SpinEditWidth()->value(), 320);
    EXPECT_EQ(Page()->SpinEditHeight()->value(), 240);
    EXPECT_EQ(Page()->ComboBoxVideoSize()->currentText(), QStringLiteral("原始尺寸(默认)"));
    EXPECT_EQ(Page()->ComboBoxVideoType()->currentText(), QStringLiteral("MP4(默认)"));
    EXPECT_EQ(Page()->SaveDialogDir(), Box.Home() + QStringLiteral("/Videos"));
    EXPECT_EQ(Page()->ComboBoxPause()->currentText(), QStringLiteral("禁用热键"));
    EXPECT_TRUE(Page()->BtnStart()->isEnabled());
    for (QPushButton* b : {Page()->BtnPause(), Page()->BtnResume(), Page()->BtnStop(),
                           Page()->BtnPlay(), Page()->BtnOpenFolder()})
        EXPECT_FALSE(b->isEnabled()) << b->objectName().toStdString();
    EXPECT_FALSE(Windows->FmRect->isVisible());
    // Only two tabs are ever visible, and the project commands only on the second.
    int visible = 0;
    for (int i = 0; i < Tabs()->count(); ++i)
        visible += Tabs()->isTabVisible(i) ? 1 : 0;
    EXPECT_EQ(visible, 2);
    EXPECT_FALSE(Action("MnNewProject")->isVisible());
    EXPECT_FALSE(Action("MnSaveProject")->isEnabled());
    // Closing the introduction writes the settings with the flag unticked.
    EXPECT_TRUE(ReadIni().contains("ShowIntroduction=0"));
}

TEST_F(MainWindowTest, StoredValuesAreClampedCompletedOrReplaced) {
    WriteIni("[General]\nVideoSize=800*450\nVideoType=FLV\nCaptureWidth=3\nCaptureLeft=abc\n"
             "CaptureHeight=99999\nScreenCapture=0\nShowIntroduction=1\nPageIndex=5\n"
             "SaveDir=/no/such/folder\nPictureDir=/no/such/pictures\n");
    Start();
    EXPECT_EQ(IntroductionsShown, 0);
    QComboBox* sizes = Page()->ComboBoxVideoSize();
    EXPECT_EQ(sizes->itemText(sizes->count() - 1), QStringLiteral("800*450"));
    EXPECT_EQ(sizes->itemText(sizes->count() - 2), QStringLiteral("自定义"));
    EXPECT_EQ(sizes->currentText(), QStringLiteral("800*450"));
    EXPECT_EQ(Page()->OldIndex, sizes->count() - 1);
    EXPECT_EQ(Page()->ComboBoxVideoType()->currentText(), QStringLiteral("MP4(默认)"));
    EXPECT_EQ(Page()->SpinEditWidth()->value(), 8);
    EXPECT_EQ(Page()->SpinEditLeft()->value(), 100);
    EXPECT_EQ(Page()->SpinEditHeight()->value(), 10000);
    // A page index naming no visible tab leaves the first tab.
    EXPECT_EQ(Main()->ActiveTabIndex(), 0);
    EXPECT_EQ(Main()->windowTitle(), QStringLiteral("Vexmira2.0 - 屏幕录像"));
    EXPECT_EQ(Page()->SaveDialogDir(), Box.Home() + QStringLiteral("/Videos"));
    EXPECT_EQ(ProgramState().PictureDir, Box.Home() + QStringLiteral("/Pictures"));

    // Rectangle mode: the controls are enabled and the frame lies 2 pixels outside.
    EXPECT_TRUE(Page()->RBtnRectCapture()->isChecked());
    EXPECT_TRUE(Page()->SpinEditLeft()->isEnabled());
    EXPECT_TRUE(Windows->FmRect->isVisible());
    EXPECT_EQ(Windows->FmRect->geometry(), QRect(98, 48, 12, 10004));

    // The replaced picture folder is what the next write stores.
    Main()->WriteGeneralSettings();
    EXPECT_TRUE(
        ReadIni().contains("PictureDir=" + (Box.Home() + QStringLiteral("/Pictures")).toUtf8()));
}

TEST_F(MainWindowTest, TheStoredPageIsSelectedAgain) {
    WriteIni("[General]\nShowIntroduction=1\nPageIndex=1\n");
    Start();
    EXPECT_EQ(Main()->ActiveTabIndex(), 1);
    EXPECT_EQ(Main()->windowTitle(), QStringLiteral("Vexmira2.0 - 视频制作"));
    EXPECT_TRUE(Action("MnNewProject")->isVisible());
    // The window sits in the middle of the screen.
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    EXPECT_NEAR(Main()->geometry().center().x(), screen.center().x(), 2);
}

// The H.264 entry comes back from the file; a format box without it (as in a version
// that does not offer H.264) reads the stored text as MP4.
TEST_F(MainWindowTest, TheH264EntryIsKeptAndABoxWithoutItFallsBackToMp4) {
    WriteIni("[General]\nShowIntroduction=1\nVideoType=MP4(H.264)\n");
    Start();
    QComboBox* types = Page()->ComboBoxVideoType();
    ASSERT_EQ(types->count(), 5);
    EXPECT_EQ(types->currentIndex(), 4);
    EXPECT_EQ(types->currentText(), QStringLiteral("MP4(H.264)"));
    Main()->WriteGeneralSettings();
    EXPECT_TRUE(ReadIni().contains("VideoType=MP4(H.264)"));

    types->removeItem(4);
    Main()->ReadGeneralSettings();
    EXPECT_EQ(types->currentText(), QStringLiteral("MP4(默认)"));
}

// The sound source box is usable only while sound is recorded, comes back from the
// file, and reads an unknown stored text as its first entry.
TEST_F(MainWindowTest, TheSoundSourceFollowsTheFileAndTheSoundBox) {
    WriteIni("[General]\nShowIntroduction=1\nWaveCapture=0\nSoundSource=电脑声音\n");
    Start();
    QComboBox* sources = Page()->ComboBoxSoundSource();
    EXPECT_EQ(sources->currentText(), QStringLiteral("电脑声音"));
    EXPECT_FALSE(sources->isEnabled());
    Page()->CheckBoxWave()->click();
    EXPECT_TRUE(sources->isEnabled());
    sources->setCurrentIndex(2);
    Main()->WriteGeneralSettings();
    EXPECT_TRUE(ReadIni().contains("SoundSource=麦克风和电脑声音"));

    WriteIni("[General]\nShowIntroduction=1\nSoundSource=speakers\n");
    Main()->ReadGeneralSettings();
    EXPECT_EQ(sources->currentText(), QStringLiteral("麦克风"));
    EXPECT_TRUE(sources->isEnabled());
}

TEST_F(MainWindowTest, HiddenBorderAndTabsDecideWhetherTheFrameShows) {
    WriteIni("[General]\nScreenCapture=0\nHideBorder=1\nShowIntroduction=1\n");
    Start();
    EXPECT_TRUE(Page()->RBtnRectCapture()->isChecked());
    EXPECT_FALSE(Windows->FmRect->isVisible());
    Page()->CheckBoxHideBorder()->click();
    EXPECT_TRUE(Windows->FmRect->isVisible());

    ClickTab(1);
    EXPECT_EQ(Main()->windowTitle(), QStringLiteral("Vexmira2.0 - 视频制作"));
    EXPECT_FALSE(Windows->FmRect->isVisible());
    EXPECT_TRUE(Action("MnNewProject")->isVisible());
    EXPECT_TRUE(Action("MnSaveProjectAs")->isVisible());
    ClickTab(0);
    EXPECT_TRUE(Windows->FmRect->isVisible());
    EXPECT_FALSE(Action("MnOpenProject")->isVisible());

    Page()->RBtnScreenCapture()->click();
    EXPECT_FALSE(Windows->FmRect->isVisible());
    EXPECT_FALSE(Page()->CheckBoxHideBorder()->isEnabled());
}

TEST_F(MainWindowTest, TypedValuesBeyondTheRangeAreClampedOnLeavingTheBox) {
    WriteIni("[General]\nScreenCapture=0\nShowIntroduction=1\n");
    Start();
    Main()->activateWindow();
    TSpinEdit* width = Page()->SpinEditWidth();
    width->setFocus();
    width->selectAll();
    QTest::keyClicks(width, QStringLiteral("20000"));
    EXPECT_EQ(width->text(), QStringLiteral("20000"));
    Page()->SpinEditHeight()->setFocus();
    PumpEvents(20);
    EXPECT_EQ(width->text(), QStringLiteral("10000"));
    EXPECT_EQ(width->value(), 10000);
    EXPECT_EQ(Windows->FmRect->width(), 10004);
}

TEST_F(MainWindowTest, CloseBoxHidesToTheTrayOrEndsTheProgram) {
    WriteIni("[General]\nShowIntroduction=1\nHideWhenClose=1\n");
    Start();
    EXPECT_TRUE(Action("MnHideWhenClose")->isChecked());
    QSignalSpy ending(Main(), &TFmMain::TerminateRequested);
    Main()->close();
    PumpEvents(20);
    EXPECT_FALSE(Main()->isVisible());
    EXPECT_EQ(ending.count(), 0);
    EXPECT_EQ(Windows->FmToolBar->ShowWindowHint(), QStringLiteral("显示主窗口"));

    // The tray brings it back; then the option is switched off and the close box ends.
    QAction* show =
        Main()->PopupMenuTray()->findChild<QAction*>(QStringLiteral("MnShowMainWindow"));
    show->trigger();
    PumpEvents(20);
    EXPECT_TRUE(Main()->isVisible());
    EXPECT_EQ(Windows->FmToolBar->ShowWindowHint(), QStringLiteral("隐藏主窗口"));
    Action("MnHideWhenClose")->trigger();
    EXPECT_FALSE(Action("MnHideWhenClose")->isChecked());
    Main()->close();
    PumpEvents(20);
    EXPECT_EQ(ending.count(), 1);
    EXPECT_TRUE(ReadIni().contains("HideWhenClose=0"));
}

TEST_F(MainWindowTest, ExitWritesEveryGeneralKeyInOrder) {
    Start();
    QFile::remove(IniPath());
    Page()->CheckBoxCursor()->click();
    ClickTab(1);
    QSignalSpy ending(Main(), &TFmMain::TerminateRequested);
    Action("MnExit")->trigger();
    EXPECT_EQ(ending.count(), 1);
    // No recording was made, so SaveDir is not written.
    EXPECT_EQ(GeneralKeys(ReadIni()),
              (QStringList{"PageIndex", "HideWhenClose", "ShowIntroduction", "CaptureLeft",
                           "CaptureTop", "CaptureWidth", "CaptureHeight", "ScreenCapture",
                           "CursorCapture", "WaveCapture", "HideBorder", "VideoSize", "VideoType",
                           "PictureDir", "SoundSource"}));
    const QByteArray ini = ReadIni();
    EXPECT_TRUE(ini.contains("PageIndex=1"));
    EXPECT_TRUE(ini.contains("CursorCapture=0"));
    EXPECT_TRUE(ini.contains("VideoSize=原始尺寸(默认)"));

    // After a recording its folder becomes SaveDir.
    const QString video = Box.Write(QStringLiteral("clips/a.mp4"), "x");
    ProgramState().CaptureFileName = video;
    Main()->WriteGeneralSettings();
    EXPECT_TRUE(ReadIni().contains("SaveDir=" + QFileInfo(video).absolutePath().toUtf8()));
}

TEST_F(MainWindowTest, TheIntroductionFlagDecidesTheNextStart) {
    TickIntroduction = true;
    Start();
    EXPECT_EQ(IntroductionsShown, 1);
    EXPECT_TRUE(ReadIni().contains("ShowIntroduction=1"));
    Start();
    EXPECT_EQ(IntroductionsShown, 1);

    // From the menu, unticked: it comes back at the following start.
    TickIntroduction = false;
    {
        TModalHandler intro([](QWidget* w) {
            auto* box = w->findChild<QCheckBox*>(QStringLiteral("CheckBoxIntroduction"));
            EXPECT_TRUE(box->isChecked());
            box->setChecked(false);
            qobject_cast<QDialog*>(w)->accept();
        });
        Action("MnIntroduction")->trigger();
    }
    EXPECT_TRUE(ReadIni().contains("ShowIntroduction=0"));
    Start();
    EXPECT_EQ(IntroductionsShown, 2);
}

TEST_F(MainWindowTest, DesktopAndMenuEntries) {
    WriteIni("[General]\nShowIntroduction=1\n");
    Start();
    Action("MnDesktopLink")->trigger();
    Action("MnDesktopLink")->trigger();
    const QDir desktop(Box.Home() + QStringLiteral("/Desktop"));
    EXPECT_EQ(desktop.entryList(QDir::Files), QStringList{QStringLiteral("Vexmira.desktop")});
    QFile entry(desktop.filePath(QStringLiteral("Vexmira.desktop")));
    ASSERT_TRUE(entry.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(entry.readAll());
    EXPECT_TRUE(text.contains(QStringLiteral("Exec=\"") + QCoreApplication::applicationFilePath() +
                              QStringLiteral("\" %f")));
    EXPECT_TRUE(text.contains(QStringLiteral("Path=") + QCoreApplication::applicationDirPath()));
    const QString icon = text.section(QStringLiteral("Icon="), 1).section(u'\n', 0, 0);
    EXPECT_TRUE(QFileInfo(icon).isFile()) << icon.toStdString();

    Action("MnStartMenuLink")->trigger();
    const QString menuEntry =
        Box.Home() + QStringLiteral("/.local/share/applications/Vexmira.desktop");
    EXPECT_TRUE(QFileInfo::exists(menuEntry));
    EXPECT_EQ(Main()->windowTitle(), menuEntry);
    ClickTab(1);
    EXPECT_EQ(Main()->windowTitle(), QStringLiteral("Vexmira2.0 - 视频制作"));
}

TEST_F(MainWindowTest, TrayMenuMirrorsTheRecordingButtonsAndShowsHotkeyNames) {
    WriteIni("[General]\nShowIntroduction=1\n");
    Start();
    Page()->BtnStart()->setEnabled(false);
    Page()->BtnPause()->setEnabled(true);
    Page()->BtnStop()->setEnabled(true);
    ProgramState().PauseHotKeyName = QStringLiteral("F5");
    ProgramState().StopHotKeyName = QStringLiteral("禁用热键");
    Main()->PopupMenuTrayPopup();
    const TTrayRecordingItems items = Main()->TrayRecordingItems();
    EXPECT_FALSE(items.MnStart->isEnabled());
    EXPECT_TRUE(items.MnPause->isEnabled());
    EXPECT_FALSE(items.MnResume->isEnabled());
    EXPECT_TRUE(items.MnStop->isEnabled());
    EXPECT_EQ(items.MnPause->text(), QStringLiteral("暂停录像\tF5"));
    EXPECT_EQ(items.MnStop->text(), QStringLiteral("停止录像"));
    // The hidden entries never show.
    EXPECT_FALSE(Main()->PopupMenuTray()->findChild<QAction*>(QStringLiteral("N7"))->isVisible());
}

TEST_F(MainWindowTest, ChangingTabsDuringARecordingIssuesTheStopCommand) {
    WriteIni("[General]\nShowIntroduction=1\n");
    Start();
    int stops = 0;
    QObject::connect(Page()->BtnStop(), &QPushButton::clicked, [&] {
        ++stops;
        Page()->BtnStop()->setEnabled(false);
    });
    ClickTab(1);
    EXPECT_EQ(stops, 0);
    ClickTab(0);
    Page()->BtnStop()->setEnabled(true);
    ClickTab(1);
    EXPECT_EQ(stops, 1);
    // Exit stops a recording first, too.
    Page()->BtnStop()->setEnabled(true);
    Action("MnExit")->trigger();
    EXPECT_EQ(stops, 2);
}
