#include "app/Startup.h"
#include "app/UnitMain.h"
#include "platform/SafeFile.h"
#include "recording/RecordingPage.h"
#include "state/ProgramState.h"
#include "support/Sandbox.h"
#include "support/ScriptedPrompts.h"
#include "videomaker/ProjectAutosave.h"
#include "videomaker/ProjectFile.h"
#include "videomaker/UnitAdjustTime.h"
#include "videomaker/VideoMakePage.h"
#include "videomaker/VideoProject.h"

#include <QAction>
#include <QCoreApplication>
#include <QDate>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QProcess>
#include <QPushButton>
#include <QSignalSpy>
#include <QTabBar>
#include <QTabWidget>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include <csignal>

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
    TVideoMakePage* Page() const { return Main()->VideoMakePage(); }
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

// ---- the copy kept while a project has unsaved changes ----

namespace {

QByteArray Contents(const QString& fileName) {
    QFile f(fileName);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

bool CopyExists() {
    return QFile::exists(TProjectAutosave::CopyFile());
}

} // namespace

// The program that the kill test below kills: it opens the project named by the test,
// changes it, lets the (sped-up) clock write the copy, says so and waits to be killed.
// Run on its own it has nothing to do.
TEST(AutosaveChild, ChangesTheProjectUntilKilled) {
    const QString dir = qEnvironmentVariable("VX_AUTOSAVE_CHILD");
    if (dir.isEmpty())
        GTEST_SKIP() << "started by AKilledRunsCopyIsOfferedAndRestoredByteForByte";
    TScriptedPrompts asked;
    ProgramState().Arguments = {dir + QStringLiteral("/p/x.lmmc")};
    TApplicationWindows windows;
    windows.FmMain->show();
    ASSERT_TRUE(PumpUntil([&] { return windows.FmMain->OptionsApplied(); }, 5000));
    TVideoMakePage* page = windows.FmMain->VideoMakePage();
    ASSERT_EQ(page->AddPhotos({dir + QStringLiteral("/p/b.png")}), 1);
    VideoProject().LyricText = QStringLiteral("[00:01.00]La\r\n[00:02.50]Changed\r\n");
    LayoutLyricRows();
    ASSERT_TRUE(VideoProject().Modified());
    // What saving the changed project would write.
    ASSERT_TRUE(
        WriteFileReplacing(dir + QStringLiteral("/expected.lmmc"),
                           ProjectFileBytes(CurrentProjectData(VideoProject().ProjectFileName))));
    ASSERT_FALSE(CopyExists());
    page->Autosave().SetInterval(100);
    ASSERT_TRUE(PumpUntil(CopyExists, 5000));
    WriteFileReplacing(dir + QStringLiteral("/ready"), "1");
    PumpEvents(60000);
}

TEST_F(ProjectInMainWindowTest, AKilledRunsCopyIsOfferedAndRestoredByteForByte) {
    Box.Write(QStringLiteral("p/song.mp3"), "ID3");
    Photo(QStringLiteral("p/a.png"));
    Photo(QStringLiteral("p/b.png"));
    TProjectData d;
    d.AudioName = QStringLiteral("song.mp3");
    d.PhotoNames = {QStringLiteral("a.png")};
    d.LyricText = QStringLiteral("[00:01.00]La\r\n");
    const QString project = Box.Write(QStringLiteral("p/x.lmmc"), ProjectFileBytes(d));
    Box.Write(QStringLiteral("home/.config/Vexmira/Vexmira20.ini"),
              "[General]\nShowIntroduction=1\n");

    // The program works on the project and is killed after its clock has ticked.
    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("VX_AUTOSAVE_CHILD"), Box.Path());
    child.setProcessEnvironment(env);
    child.start(QCoreApplication::applicationFilePath(),
                {QStringLiteral("--gtest_filter=AutosaveChild.*")});
    ASSERT_TRUE(child.waitForStarted());
    const bool ready =
        PumpUntil([&] { return QFile::exists(Box.File(QStringLiteral("ready"))); }, 30000);
    ::kill(pid_t(child.processId()), SIGKILL);
    ASSERT_TRUE(child.waitForFinished(10000));
    ASSERT_TRUE(ready) << child.readAll().toStdString();
    EXPECT_EQ(child.exitStatus(), QProcess::CrashExit);
    const QByteArray expected = Contents(Box.File(QStringLiteral("expected.lmmc")));
    ASSERT_FALSE(expected.isEmpty());
    EXPECT_EQ(Contents(TProjectAutosave::CopyFile()), expected);
    EXPECT_EQ(Contents(project), ProjectFileBytes(d)); // the project file itself untouched

    // The next start offers the copy, naming the project and the time of the copy.
    Asked.MessageAnswers.push_back(mrYes);
    Start();
    ASSERT_EQ(Asked.Messages.size(), 1);
    const TScriptedPrompts::TAskedMessage& offer = Asked.Messages.first();
    EXPECT_EQ(offer.Buttons, mbRestoreDiscard);
    EXPECT_TRUE(offer.Text.contains(project)) << offer.Text.toStdString();
    EXPECT_TRUE(offer.Text.contains(QDate::currentDate().toString(QStringLiteral("yyyy-MM-dd"))));
    EXPECT_EQ(Main()->ActiveTabIndex(), 1);

    // Restored, it is the changed project of its own file, still to be saved.
    EXPECT_EQ(VideoProject().ProjectFileName, project);
    EXPECT_TRUE(VideoProject().Modified());
    EXPECT_EQ(VideoProject().Photos.size(), 2);
    EXPECT_EQ(VideoProject().Rows.size(), 2);
    Action("MnSaveProject")->trigger();
    EXPECT_EQ(Contents(project), expected);
    EXPECT_FALSE(CopyExists()); // saved: nothing left to recover
}

TEST_F(ProjectInMainWindowTest, DiscardingTheOfferedCopyDeletesItAndClosingTheQuestionKeepsIt) {
    // A copy left by a run that is gone.
    {
        TProjectAutosave gone;
        ASSERT_TRUE(gone.Start());
        VideoProject().LyricText = QStringLiteral("[00:01.00]Lost\r\n");
        VideoProject().SetModified(true);
        ASSERT_TRUE(gone.SaveNow());
        VideoProject().LyricText.clear();
        VideoProject().SetModified(false);
    }
    ASSERT_TRUE(CopyExists());

    // Closing the question decides nothing: the copy is offered again next time.
    Start();
    ASSERT_EQ(Asked.Messages.size(), 1);
    EXPECT_TRUE(Asked.Messages.first().Text.contains(QStringLiteral("我的视频.lmmc")));
    EXPECT_TRUE(CopyExists());
    EXPECT_TRUE(VideoProject().LyricText.isEmpty());
    Windows.reset();

    Asked.MessageAnswers.push_back(mrNo);
    Start();
    EXPECT_EQ(Asked.Messages.size(), 2);
    EXPECT_FALSE(CopyExists());
    EXPECT_FALSE(QFile::exists(TProjectAutosave::InfoFile()));
    EXPECT_TRUE(VideoProject().LyricText.isEmpty());
    EXPECT_FALSE(VideoProject().Modified());
}

TEST_F(ProjectInMainWindowTest, TheCopyIsKeptOnlyWhileThereAreUnsavedChanges) {
    Start();
    TProjectAutosave& autosave = Page()->Autosave();
    EXPECT_TRUE(autosave.Active());
    EXPECT_EQ(autosave.Interval(), 60000);
    autosave.SetInterval(50);
    PumpEvents(200);
    EXPECT_FALSE(CopyExists()); // nothing unsaved

    ASSERT_EQ(Page()->AddPhotos({Photo(QStringLiteral("a.png"))}), 1);
    ASSERT_TRUE(PumpUntil(CopyExists, 3000));
    EXPECT_EQ(Contents(TProjectAutosave::CopyFile()),
              ProjectFileBytes(CurrentProjectData(QString())));

    // Another program running at the same time neither keeps nor offers nor removes one.
    {
        TProjectAutosave second;
        EXPECT_FALSE(second.Start());
        EXPECT_FALSE(second.Recovery());
        EXPECT_FALSE(second.SaveNow());
        second.Discard();
        EXPECT_TRUE(CopyExists());
    }

    // A save removes it, and the clock writes none while nothing is unsaved.
    Asked.FileAnswers.push_back(TScriptedPrompts::Choose({Box.File(QStringLiteral("s/a.lmmc"))}));
    Action("MnSaveProjectAs")->trigger();
    EXPECT_FALSE(CopyExists());
    PumpEvents(200);
    EXPECT_FALSE(CopyExists());

    // The end of a stamping session with OK writes one at once, whatever the clock.
    autosave.SetInterval(TProjectAutosave::DefaultInterval);
    VideoProject().SetAudioFile(Box.Write(QStringLiteral("s/song.wav"), "not a song"));
    VideoProject().LyricText = QStringLiteral("one\r\n");
    LayoutLyricRows();
    TModalHandler accept([](QWidget* w) {
        if (auto* adjuster = qobject_cast<TFmAdjustTime*>(w))
            adjuster->accept();
    });
    emit Page()->AdjustTimeRequested();
    EXPECT_EQ(accept.Handled(), 1);
    EXPECT_TRUE(VideoProject().Modified());
    EXPECT_TRUE(CopyExists());

    // "否" at the end drops the changes and the copy with them.
    Asked.MessageAnswers.push_back(mrNo);
    Action("MnExit")->trigger();
    EXPECT_FALSE(CopyExists());
}
