// The lyrics video made the way a user makes it: the demo project opened from the command
// line, "开始制作视频" and "开始" clicked with the pointer, on whatever desktop the tests
// run on (scripts/test: a window manager and a tray).

#include "app/Startup.h"
#include "app/UnitMain.h"
#include "media/EncodeTestSupport.h"
#include "platform/testinput/XTestInput.h"
#include "state/ProgramState.h"
#include "support/Sandbox.h"
#include "support/ScriptedPrompts.h"
#include "videomaker/UnitConvert.h"
#include "videomaker/VideoMakePage.h"
#include "videomaker/VideoProject.h"

#include <QDir>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>

namespace {

class ProductionByHandTest : public ::testing::Test {
protected:
    TSandbox Box;
    TScriptedPrompts Asked;
    TXTestInput Input;
    std::unique_ptr<TApplicationWindows> Windows;

    void TearDown() override {
        Input.ButtonUp(1);
        VideoProject().SetModified(false);
        if (Windows)
            Windows->FmMain->VideoMakePage()->MnNewProjectClick();
        Windows.reset();
        VideoProject().AttachSaveAction(nullptr);
        ProgramState().Arguments.clear();
    }

    // A copy of the demo project in the sandbox, so the video lands beside the copy.
    QString DemoCopy() {
        const QDir demo(QStringLiteral(VX_DEMO_DIR));
        const QString copy = Box.File(QStringLiteral("demo/demo.lmmc"));
        for (const QString& name : demo.entryList(QDir::Files))
            EXPECT_TRUE(QFile::copy(demo.filePath(name), QFileInfo(copy).dir().filePath(name)));
        return copy;
    }
    // Presses and lets go of the left button over the middle of `button`.
    void Click(QWidget* button) {
        Input.MoveTo(button->mapToGlobal(button->rect().center()));
        PumpEvents(30);
        Input.ButtonDown(1);
        PumpEvents(30);
        Input.ButtonUp(1);
        PumpEvents(30);
    }
};

} // namespace

TEST_F(ProductionByHandTest, TheDemoBecomesAVideoThroughTheProductionDialog) {
    ASSERT_TRUE(Input.IsOpen());
    Box.Write(QStringLiteral("home/.config/Vexmira/Vexmira20.ini"),
              "[General]\nShowIntroduction=1\n");
    const QString project = DemoCopy();
    ProgramState().Arguments = {project};
    Windows = std::make_unique<TApplicationWindows>();
    TFmMain* main = Windows->FmMain.get();
    main->show();
    ASSERT_TRUE(PumpUntil([main] { return main->OptionsApplied(); }, 5000));
    ASSERT_TRUE(QTest::qWaitForWindowExposed(main));
    PumpEvents(200);
    ASSERT_EQ(main->ActiveTabIndex(), 1);

    const QString video = QFileInfo(project).path() + QStringLiteral("/demo.mp4");
    bool finished = false;
    TModalHandler production([&](QWidget* w) {
        auto* dialog = qobject_cast<TFmConvert*>(w);
        ASSERT_NE(dialog, nullptr);
        ASSERT_TRUE(QTest::qWaitForWindowExposed(dialog));
        PumpEvents(200);
        EXPECT_EQ(dialog->FileName(), video);
        Click(dialog->BtnStart());
        EXPECT_FALSE(dialog->BtnStart()->isEnabled()) << "开始 did not take the click";
        finished = PumpUntil([dialog] { return dialog->BtnStart()->isEnabled(); }, 60000);
        EXPECT_EQ(dialog->LabelProgress()->text(), QStringLiteral("100%"));
        EXPECT_EQ(dialog->LabelDuration()->text(), QStringLiteral("00:00:30"));
        Click(dialog->findChild<QPushButton*>(QStringLiteral("BtnClose")));
        EXPECT_FALSE(dialog->isVisible()) << "关闭 did not close the dialog";
        if (dialog->isVisible())
            dialog->close();
    });
    Click(main->findChild<QPushButton*>(QStringLiteral("BtnStartConvert")));
    EXPECT_EQ(production.Handled(), 1) << "开始制作视频 opened no dialog";
    EXPECT_TRUE(finished);
    EXPECT_TRUE(Asked.Messages.isEmpty()) << Asked.Messages.value(0).Text.toStdString();

    const TProbe probe = ProbeFile(video);
    ASSERT_TRUE(probe.Ok);
    const TProbedStream* picture = probe.First(QStringLiteral("video"));
    const TProbedStream* sound = probe.First(QStringLiteral("audio"));
    ASSERT_TRUE(picture && sound);
    EXPECT_EQ(picture->Width, 640);
    EXPECT_EQ(picture->Height, 360);
    EXPECT_DOUBLE_EQ(picture->FrameRate, 2.0);
    EXPECT_NEAR(sound->Duration, 30.0, 0.6);
}
