#include "app/Startup.h"
#include "app/UnitMain.h"
#include "app/state/ProgramState.h"
#include "recording/RecordingPage.h"
#include "support/Sandbox.h"
#include "support/ScriptedPrompts.h"
#include "videomaker/ProjectFile.h"
#include "videomaker/VideoMakePage.h"
#include "videomaker/VideoProject.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QSignalSpy>
#include <QTabBar>
#include <QTabWidget>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

namespace {

class ProjectInMainWindowTest : public ::testing::Test {
protected:
    TSandbox Box;
    TScriptedPrompts Asked;
    std::unique_ptr<TApplicationWindows> Windows;

    void Start(const QStringList& arguments = {}) {
        // The introduction is marked as seen so that no window opens on its own.
        QDir().mkpath(Box.ConfigHome() + QStringLiteral("/Vexmira"));
        Box.Write(QStringLiteral("home/.config/Vexmira/Vexmira20.ini"),
                  "[General]\nShowIntroduction=1\n");
        ProgramState().Arguments = arguments;
        Windows = std::make_unique<TApplicationWindows>();
        Main()->show();
        ASSERT_TRUE(PumpUntil([this] { return Main()->OptionsApplied(); }, 5000));
        PumpEvents(50);
    }
    void TearDown() override {
        VideoProject().SetModified(false);
        if (Windows)
            Main()->VideoMakePage()->MnNewProjectClick();
        Windows.reset();
        VideoProject().AttachSaveAction(nullptr);
        ProgramState().Arguments.clear();
    }
    TFmMain* Main() const { return Windows->FmMain.get(); }
    QAction* Action(const char* name) const {
        return Main()->findChild<QAction*>(QString::fromLatin1(name));
    }
    QString Photo(const QString& relative) {
        QImage image(20, 20, QImage::Format_RGB32);
        image.fill(Qt::yellow);
        const QString path = Box.File(relative);
        EXPECT_TRUE(image.save(path, "PNG"));
        return path;
    }
};

} // namespace

TEST_F(ProjectInMainWindowTest, AProjectNamedOnTheCommandLineOpensOnTheVideoTab) {
    const QString audio = Box.Write(QStringLiteral("p/song.mp3"), "ID3");
    Photo(QStringLiteral("p/a.png"));
    TProjectData d;
    d.AudioName = QStringLiteral("song.mp3");
    d.PhotoNames = {QStringLiteral("a.png")};
    d.LyricText = QStringLiteral("[00:01.00]La\r\n");
    const QString project = Box.Write(QStringLiteral("p/x.lmmc"), ProjectFileBytes(d));
    Start({project});
    EXPECT_EQ(Main()->ActiveTabIndex(), 1);
    EXPECT_EQ(Main()->windowTitle(), QStringLiteral("Vexmira2.0 - 视频制作"));
    EXPECT_TRUE(Action("MnOpenProject")->isVisible());
    EXPECT_FALSE(Action("MnSaveProject")->isEnabled());
    TVideoMakePage* page = Main()->VideoMakePage();
    EXPECT_EQ(page->findChild<QLineEdit*>(QStringLiteral("EditAudio"))->text(), audio);
    EXPECT_EQ(page->findChild<QListWidget*>(QStringLiteral("ListViewPictures"))->count(), 1);
    EXPECT_EQ(VideoProject().Rows.size(), 1);
    EXPECT_EQ(VideoProject().ProjectFileName, project);
    EXPECT_TRUE(Asked.Messages.isEmpty());
}

TEST_F(ProjectInMainWindowTest, EndingWithAModifiedProjectAsksFirst) {
    Start();
    QSignalSpy ending(Main(), &TFmMain::TerminateRequested);
    EXPECT_EQ(Main()->VideoMakePage()->AddPhotos({Photo(QStringLiteral("a.png"))}), 1);
    // The recording page is showing: the project is modified all the same.
    EXPECT_EQ(Main()->ActiveTabIndex(), 0);
    EXPECT_TRUE(VideoProject().Modified());

    // Cancel keeps the program running, through the close box and through the exit item.
    Asked.MessageAnswers.push_back(mrCancel);
    Main()->close();
    PumpEvents(20);
    EXPECT_EQ(ending.count(), 0);
    ASSERT_EQ(Asked.Messages.size(), 1);
    EXPECT_EQ(Asked.Messages.last().Text,
              QStringLiteral("文件 我的视频.lmmc 已经改变。\r\n想保存文件吗？"));
    Asked.MessageAnswers.push_back(mrCancel);
    Action("MnExit")->trigger();
    PumpEvents(20);
    EXPECT_EQ(ending.count(), 0);
    EXPECT_EQ(Asked.Messages.size(), 2);

    // Yes saves the project and then the program ends.
    const QString target = Box.File(QStringLiteral("saved.lmmc"));
    Asked.MessageAnswers.push_back(mrYes);
    Asked.FileAnswers.push_back(TScriptedPrompts::Choose({target}));
    Action("MnExit")->trigger();
    PumpEvents(20);
    EXPECT_EQ(ending.count(), 1);
    EXPECT_TRUE(QFile::exists(target));
}

// Ending runs the application's own loop the way the program does: every exit command
// asks once and the run ends, also with hiding on close switched on.
TEST_F(ProjectInMainWindowTest, EveryExitCommandAsksOnceAndEndsTheRun) {
    for (int i = 0; i < 3; ++i) {
        Start();
        // The menu's exit, the tray's exit, and the menu's exit with hiding on close.
        QAction* command =
            i == 1 ? Main()->PopupMenuTray()->findChild<QAction*>(QStringLiteral("MnExit1"))
                   : Action("MnExit");
        ASSERT_NE(command, nullptr);
        Action("MnHideWhenClose")->setChecked(i == 2);
        EXPECT_EQ(Main()->VideoMakePage()->AddPhotos({Photo(QStringLiteral("a.png"))}), 1);
        Asked.Messages.clear();
        Asked.MessageAnswers = {mrNo};
        QTimer::singleShot(0, command, &QAction::trigger);
        // Should the run not end, the test ends it with another code.
        QTimer guard;
        guard.setSingleShot(true);
        QObject::connect(&guard, &QTimer::timeout, [] { QCoreApplication::exit(7); });
        guard.start(10000);
        EXPECT_EQ(QCoreApplication::exec(), 0) << i;
        ASSERT_EQ(Asked.Messages.size(), 1) << i;
        EXPECT_TRUE(Asked.Messages.first().Text.endsWith(QStringLiteral("想保存文件吗？")));
        VideoProject().SetModified(false);
        Main()->VideoMakePage()->MnNewProjectClick();
        Windows.reset();
        VideoProject().AttachSaveAction(nullptr);
    }
}

// Cancelling the save question of any exit keeps a recording that runs going.
TEST_F(ProjectInMainWindowTest, CancellingTheExitQuestionKeepsARecordingGoing) {
    Start();
    QPushButton* stop = Main()->RecordingPage()->BtnStop();
    int stops = 0;
    QObject::connect(stop, &QPushButton::clicked, [&] { ++stops; });
    stop->setEnabled(true); // as while a recording runs
    EXPECT_EQ(Main()->VideoMakePage()->AddPhotos({Photo(QStringLiteral("a.png"))}), 1);
    QSignalSpy ending(Main(), &TFmMain::TerminateRequested);
    Asked.MessageAnswers = {mrCancel, mrCancel, mrCancel};
    Action("MnExit")->trigger();
    Main()->PopupMenuTray()->findChild<QAction*>(QStringLiteral("MnExit1"))->trigger();
    Main()->close();
    PumpEvents(20);
    EXPECT_EQ(Asked.Messages.size(), 3);
    EXPECT_EQ(stops, 0);
    EXPECT_EQ(ending.count(), 0);
    EXPECT_TRUE(Main()->isVisible());
    EXPECT_TRUE(stop->isEnabled());
}

TEST_F(ProjectInMainWindowTest, TheMenuCommandsActOnThePage) {
    Start();
    // The user picks the 视频制作 tab.
    QTabBar* bar = Main()->findChild<QTabWidget*>(QStringLiteral("PageControl1"))->tabBar();
    QTest::mouseClick(bar, Qt::LeftButton, {}, bar->tabRect(1).center());
    PumpEvents(20);
    ASSERT_TRUE(Action("MnOpenProject")->isVisible());
    const QString project = Box.Write(QStringLiteral("q/y.lmmc"), ProjectFileBytes(TProjectData()));
    Asked.FileAnswers.push_back(TScriptedPrompts::Choose({project}));
    Action("MnOpenProject")->trigger();
    EXPECT_EQ(VideoProject().ProjectFileName, project);
    EXPECT_EQ(Asked.FileDialogs.last().Filter, QStringLiteral("Project|*.lmmc"));
    Main()->VideoMakePage()->AddPhotos({Photo(QStringLiteral("q/b.png"))});
    EXPECT_TRUE(Action("MnSaveProject")->isEnabled());
    Action("MnSaveProject")->trigger();
    EXPECT_FALSE(Action("MnSaveProject")->isEnabled());
    TProjectData back;
    QFile f(project);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    ASSERT_EQ(ReadProjectBytes(f.readAll(), back), ppPhotos);
    EXPECT_EQ(back.PhotoNames, QStringList({QStringLiteral("b.png")}));
    Action("MnNewProject")->trigger();
    EXPECT_TRUE(VideoProject().ProjectFileName.isEmpty());
    EXPECT_TRUE(VideoProject().Photos.isEmpty());
}
