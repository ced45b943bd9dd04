// The program's window in a Wayland session (this test process is a native Wayland
// client): what Wayland forbids is hidden or disabled, saying why, and the recording
// page records the moving screen through the portal.
#include "WaylandPainterLayout.h"
#include "app/Startup.h"
#include "platform/PortalScreenCast.h"
#include "platform/Profile.h"
#include "recording/RecordingPage.h"
#include "recording/RecordingSession.h"
#include "recording/UnitRect.h"
#include "recording/UnitToolBar.h"
#include "recording/x11/RecordingMedia.h"
#include "state/ProgramState.h"
#include "state/SpinEdit.h"
#include "support/Sandbox.h"
#include "support/ScriptedPrompts.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImage>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <gtest/gtest.h>

namespace {

class WaylandWindow : public ::testing::Test {
protected:
    TSandbox Box;
    TScriptedPrompts Prompts;
    std::unique_ptr<TApplicationWindows> Windows;
    QProcess Painter;

    void SetUp() override {
        ASSERT_TRUE(TPortalScreenCast::IsWaylandSession())
            << "not a Wayland session: run these tests inside tests/wayland/run-session";
        ASSERT_EQ(QGuiApplication::platformName(), QStringLiteral("wayland"));
        QDir().mkpath(Box.ConfigHome() + QStringLiteral("/Vexmira"));
        QFile f(Box.ConfigHome() + QStringLiteral("/Vexmira/Vexmira20.ini"));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("[General]\nShowIntroduction=1\n");
        f.close();
        ProgramState().Arguments.clear();
        Windows = std::make_unique<TApplicationWindows>();
        Main()->show();
        ASSERT_TRUE(PumpUntil([this] { return Main()->OptionsApplied(); }, 5000));
    }
    void TearDown() override {
        Windows.reset();
        Painter.kill();
        Painter.waitForFinished(5000);
    }
    TFmMain* Main() const { return Windows->FmMain.get(); }
    TRecordingPage* Page() const { return Main()->RecordingPage(); }
    void AnswerSave(const QString& file) {
        Prompts.FileAnswers.push_back([file](const TFileDialogOptions&) {
            TFileDialogResult r;
            r.Accepted = true;
            r.Files << file;
            return r;
        });
    }
    bool ShowPainter() {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("wayland"));
        Painter.setProcessEnvironment(env);
        Painter.start(qEnvironmentVariable("VX_TEST_BINARY_DIR") +
                      QStringLiteral("/bin/vx_wayland_painter"));
        return Painter.waitForReadyRead(10000) && Painter.readLine().trimmed() == "ready";
    }
};

} // namespace

TEST_F(WaylandWindow, TheChooserReplacesPickingAndTheHotKeysSayWhyTheyAreOff) {
    Page()->RBtnRectCapture()->click();
    EXPECT_FALSE(Page()->BtnSelectRect()->isVisibleTo(Page()));
    EXPECT_FALSE(Page()->CheckBoxHideBorder()->isVisibleTo(Page()));
    // This desktop shares whole screens only: picking a window says so and changes nothing.
    ASSERT_FALSE(PortalOffersWindowSources());
    ASSERT_TRUE(Page()->BtnSelectWindow()->isVisibleTo(Page()));
    Page()->BtnSelectWindow()->click();
    ASSERT_EQ(Prompts.Messages.size(), 1);
    EXPECT_TRUE(Prompts.Messages.front().Text.startsWith(
        QStringLiteral("此 Wayland 桌面只能共享整个屏幕，不能单独录制某个窗口。")));
    EXPECT_EQ(Prompts.Messages.front().Icon, miWarning);
    EXPECT_FALSE(ProgramState().SelectionInProgress);
    EXPECT_TRUE(Main()->isVisible());
    // Typed numbers still make the rectangle.
    EXPECT_TRUE(Page()->SpinEditLeft()->isEnabled());
    // No frame window over the other programs.
    Page()->ApplyAreaFrameRule();
    PumpEvents(100);
    EXPECT_FALSE(Windows->FmRect->isVisible());
    // Debian's desktops offer no GlobalShortcuts portal.
    for (QComboBox* box : {Page()->ComboBoxPause(), Page()->ComboBoxStop()}) {
        EXPECT_FALSE(box->isEnabled());
        EXPECT_TRUE(box->toolTip().contains(QStringLiteral("GlobalShortcuts")))
            << box->toolTip().toStdString();
    }
}

// The page's start and stop buttons: five seconds of the moving screen, 75 ± 5 pictures
// with the painter's colours, and no message.
TEST_F(WaylandWindow, ThePageRecordsTheMovingScreen) {
    ASSERT_TRUE(ShowPainter());
    Page()->CheckBoxWave()->setChecked(false);
    Page()->CheckBoxToolBar()->setChecked(false);
    const QString file = Box.File(QStringLiteral("page.mp4"));
    AnswerSave(file);
    Page()->BtnStart()->click();
    ASSERT_TRUE(Prompts.Messages.empty()) << Prompts.Messages.front().Text.toStdString();
    ASSERT_TRUE(Page()->BtnStop()->isEnabled());
    PumpEvents(5000);
    Page()->BtnStop()->click();
    ASSERT_TRUE(PumpUntil([this] { return Page()->BtnStart()->isEnabled(); }, 10000));
    EXPECT_TRUE(Prompts.Messages.empty());
    // The desktop's permission is kept with the settings for the next recording.
    EXPECT_FALSE(TProfile(ProgramState().IniFileName)
                     .ReadString(QStringLiteral("ScreenCast"), QStringLiteral("RestoreToken"), {})
                     .isEmpty());

    EXPECT_EQ(Probe(file, "stream=width,height", "v:0"), QStringLiteral("1920,1080"));
    EXPECT_NEAR(Probe(file, "stream=nb_read_frames", "v:0").toInt(), 75, 5);
    const QString png = Box.File(QStringLiteral("page.png"));
    ASSERT_EQ(QProcess::execute(QStringLiteral("ffmpeg"),
                                {QStringLiteral("-v"), QStringLiteral("error"),
                                 QStringLiteral("-ss"), QStringLiteral("3"), QStringLiteral("-i"),
                                 file, QStringLiteral("-frames:v"), QStringLiteral("1"), png}),
              0);
    const QImage picture(png);
    ASSERT_FALSE(picture.isNull());
    const QColor red = picture.pixelColor(PainterBlocks[0].Rect.center());
    EXPECT_GT(red.red(), 180);
    EXPECT_LT(red.green(), 70);
}

// The user cancels the portal's chooser: the page says so in its own words, as
// information, and nothing is recorded.
TEST_F(WaylandWindow, ACancelledChooserIsToldAndRecordsNothing) {
    const QString backend =
        qEnvironmentVariable("VX_WAYLAND_DIR") + QStringLiteral("/portal-backend");
    ASSERT_EQ(QProcess::execute(backend, {QStringLiteral("stop")}), 0);
    ASSERT_EQ(QProcess::execute(backend, {QStringLiteral("start-refusing")}), 0);
    Page()->CheckBoxWave()->setChecked(false);
    const QString file = Box.File(QStringLiteral("cancelled.mp4"));
    AnswerSave(file);
    Page()->BtnStart()->click();
    ASSERT_EQ(Prompts.Messages.size(), 1);
    EXPECT_EQ(Prompts.Messages.front().Text, QStringLiteral("已取消屏幕共享，没有开始录像。"));
    EXPECT_EQ(Prompts.Messages.front().Icon, miInformation);
    EXPECT_TRUE(Page()->BtnStart()->isEnabled());
    EXPECT_FALSE(Page()->BtnStop()->isEnabled());
    EXPECT_FALSE(QFileInfo::exists(file));
}

// The desktop stops the sharing during a recording: the recording ends by itself, its
// file plays, and the page says what happened.
TEST_F(WaylandWindow, TheDesktopEndingTheSharingEndsTheRecordingWithAMessage) {
    ASSERT_TRUE(ShowPainter());
    Page()->CheckBoxWave()->setChecked(false);
    Page()->CheckBoxToolBar()->setChecked(false);
    const QString file = Box.File(QStringLiteral("ended.mp4"));
    AnswerSave(file);
    Page()->BtnStart()->click();
    ASSERT_TRUE(Prompts.Messages.empty()) << Prompts.Messages.front().Text.toStdString();
    PumpEvents(2000);
    ASSERT_EQ(QProcess::execute(qEnvironmentVariable("VX_WAYLAND_DIR") +
                                    QStringLiteral("/portal-backend"),
                                {QStringLiteral("stop")}),
              0);
    ASSERT_TRUE(PumpUntil([this] { return Page()->BtnStart()->isEnabled(); }, 10000));
    ASSERT_EQ(Prompts.Messages.size(), 1);
    EXPECT_EQ(Prompts.Messages.front().Text, ScreenSharingEndedText());
    EXPECT_EQ(Prompts.Messages.front().Icon, miInformation);
    EXPECT_TRUE(DecodingErrors(file).isEmpty());
    EXPECT_GT(Probe(file, "format=duration").toDouble(), 1.5);
}
