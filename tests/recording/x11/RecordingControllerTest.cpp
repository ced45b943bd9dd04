#include "PulseSoundServer.h"
#include "RecordingMedia.h"
#include "RecordingWindows.h"
#include "recording/RecordingSession.h"
#include "recording/UnitToolBar.h"

#include <QAction>
#include <QComboBox>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <QToolButton>

namespace {

class RecordingControllerTest : public RecordingWindowsTest {
protected:
    TFmToolBar* Bar() const { return Windows->FmToolBar.get(); }
    // Enabled states of start, pause, resume and stop on the page.
    std::vector<bool> PageStates() const {
        return {Page()->BtnStart()->isEnabled(), Page()->BtnPause()->isEnabled(),
                Page()->BtnResume()->isEnabled(), Page()->BtnStop()->isEnabled()};
    }
    std::vector<bool> BarStates() const {
        return {Bar()->SBtnStart()->isEnabled(), Bar()->SBtnPause()->isEnabled(),
                Bar()->SBtnResume()->isEnabled(), Bar()->SBtnStop()->isEnabled()};
    }
    std::vector<bool> TrayStates() const {
        const TTrayRecordingItems items = Main()->TrayRecordingItems();
        return {items.MnStart->isEnabled(), items.MnPause->isEnabled(), items.MnResume->isEnabled(),
                items.MnStop->isEnabled()};
    }
    void ExpectMirrored(const std::vector<bool>& states) {
        EXPECT_EQ(PageStates(), states);
        EXPECT_EQ(BarStates(), states);
        EXPECT_EQ(TrayStates(), states);
    }
    // The save dialog answers with `file` and records what it was asked.
    TFileDialogOptions Asked;
    void AnswerSave(const QString& file) {
        Prompts.FileAnswers.push_back([this, file](const TFileDialogOptions& o) {
            Asked = o;
            TFileDialogResult r;
            r.Accepted = !file.isEmpty();
            if (r.Accepted)
                r.Files << file;
            return r;
        });
    }
    void RectangleWithoutSound() {
        Page()->RBtnRectCapture()->click();
        Page()->CheckBoxWave()->setChecked(false);
    }
};

TEST_F(RecordingControllerTest, CancelledSaveDialogChangesNothing) {
    Start();
    Page()->ComboBoxVideoType()->setCurrentIndex(2); // AVI
    AnswerSave(QString());
    Page()->BtnStart()->click();
    EXPECT_EQ(Asked.Filter, QStringLiteral("AVI格式(*.avi)|*.avi"));
    EXPECT_EQ(Asked.DefaultExt, QStringLiteral("avi"));
    EXPECT_TRUE(Asked.FileName.startsWith(QStringLiteral("Vexmira-")));
    EXPECT_TRUE(Asked.FileName.endsWith(QStringLiteral(".avi")));
    EXPECT_TRUE(Main()->isVisible());
    EXPECT_FALSE(Bar()->isVisible());
    EXPECT_EQ(PageStates(), (std::vector<bool>{true, false, false, false}));
}

// A rectangle recorded through the page's buttons, paused and resumed through the tray
// and stopped from the toolbar: the three sets of controls stay in step, the main window
// returns at the end and the file holds the pictures at the preset's codec and size.
TEST_F(RecordingControllerTest, RecordsPausesResumesAndStopsWithMirroredControls) {
    Start();
    RectangleWithoutSound();
    const QString file = Box.File(QStringLiteral("out/clip.mp4"));
    AnswerSave(file);
    Page()->BtnStart()->click();
    ASSERT_TRUE(Prompts.Messages.empty()) << Prompts.Messages.front().Text.toStdString();
    EXPECT_FALSE(Main()->isVisible());
    EXPECT_TRUE(Bar()->isVisible());
    ExpectMirrored({false, true, false, true});
    EXPECT_FALSE(Page()->BtnPlay()->isEnabled());
    EXPECT_EQ(Page()->SaveDialogDir(), QFileInfo(file).absolutePath());

    PumpEvents(1500);
    EXPECT_NE(Bar()->LabelTime()->text(), QString());
    Main()->TrayRecordingItems().MnPause->trigger();
    ExpectMirrored({false, false, true, true});
    PumpEvents(500);
    Bar()->SBtnResume()->click();
    ExpectMirrored({false, true, false, true});
    PumpEvents(1000);
    Bar()->SBtnStop()->click();

    ASSERT_TRUE(PumpUntil([this] { return Page()->BtnStart()->isEnabled(); }, 10000));
    ExpectMirrored({true, false, false, false});
    EXPECT_TRUE(Page()->BtnPlay()->isEnabled());
    EXPECT_TRUE(Page()->BtnOpenFolder()->isEnabled());
    EXPECT_TRUE(Main()->isVisible());
    EXPECT_FALSE(Bar()->isVisible());
    EXPECT_TRUE(Prompts.Messages.empty());

    EXPECT_EQ(Probe(file, "stream=codec_name,width,height"), QStringLiteral("mpeg4,320,240"));
    // About 2.5 s were recorded; the pause is not in the file.
    const double seconds = Probe(file, "format=duration").toDouble();
    EXPECT_GT(seconds, 1.8);
    EXPECT_LT(seconds, 3.2);
}

// Without "录像时显示工具条" the toolbar never appears: the recording runs with the
// main window hidden, the tray menu pauses, resumes and stops it, and the main window
// comes back at its end.
TEST_F(RecordingControllerTest, WithoutTheToolbarTheTrayRunsTheRecording) {
    Start();
    RectangleWithoutSound();
    Page()->CheckBoxToolBar()->setChecked(false);
    const QString file = Box.File(QStringLiteral("quiet.avi"));
    AnswerSave(file);
    Main()->TrayRecordingItems().MnStart->trigger();
    ASSERT_TRUE(Prompts.Messages.empty()) << Prompts.Messages.front().Text.toStdString();
    PumpEvents(300);
    EXPECT_FALSE(Main()->isVisible());
    EXPECT_FALSE(Bar()->isVisible());
    EXPECT_EQ(TrayStates(), (std::vector<bool>{false, true, false, true}));

    Main()->TrayRecordingItems().MnPause->trigger();
    EXPECT_EQ(TrayStates(), (std::vector<bool>{false, false, true, true}));
    PumpEvents(200);
    Main()->TrayRecordingItems().MnResume->trigger();
    PumpEvents(700);
    EXPECT_FALSE(Bar()->isVisible());
    Main()->TrayRecordingItems().MnStop->trigger();
    ASSERT_TRUE(PumpUntil([this] { return Main()->isVisible(); }, 10000));
    EXPECT_FALSE(Bar()->isVisible());
    ExpectMirrored({true, false, false, false});
    EXPECT_TRUE(Page()->BtnPlay()->isEnabled());
    EXPECT_EQ(Probe(file, "stream=codec_name"), QStringLiteral("mpeg4"));
}

// With sound from the recording device (SDL's disk driver reading a rising tone, so the
// pitch at each moment of the file tells which moment of the device's sound it holds):
// the pause is missing from the pictures and from the sound, the sound on both sides
// of it is whole, and both streams are as long as the time recorded.
// The sound device goes away during a recording (its sound server dies): the user is
// told once, the recording goes on with the time shown still running, and the file
// holds the sound from before and the pictures to the end.
TEST_F(RecordingControllerTest, ALostSoundDeviceIsToldOnceAndTheRecordingGoesOn) {
    TPulseSoundServer server;
    ASSERT_TRUE(server.Error().isEmpty()) << server.Error().toStdString();
    server.UseInThisProcess();
    Start();
    Page()->RBtnRectCapture()->click();
    ASSERT_TRUE(Page()->CheckBoxWave()->isChecked());
    const QString file = Box.File(QStringLiteral("lost.mp4"));
    AnswerSave(file);
    Page()->BtnStart()->click();
    ASSERT_TRUE(Prompts.Messages.empty()) << Prompts.Messages.front().Text.toStdString();
    PumpEvents(3000);
    server.Kill();
    ASSERT_TRUE(PumpUntil([this] { return !Prompts.Messages.empty(); }, 5000));
    EXPECT_EQ(Prompts.Messages.front().Text, SoundDeviceLostText());
    EXPECT_EQ(Prompts.Messages.front().Icon, miWarning);
    const QString shownAtLoss = Bar()->LabelTime()->text();
    PumpEvents(2500);
    EXPECT_GT(Bar()->LabelTime()->text(), shownAtLoss);
    EXPECT_TRUE(Bar()->SBtnStop()->isEnabled());
    Bar()->SBtnStop()->click();
    ASSERT_TRUE(PumpUntil([this] { return Page()->BtnStart()->isEnabled(); }, 10000));
    EXPECT_EQ(Prompts.Messages.size(), 1u);

    const double video = Probe(file, "stream=nb_read_frames", "v:0").toDouble() / 15;
    const double sound = Probe(file, "stream=duration", "a:0").toDouble();
    EXPECT_GT(sound, 0.2);
    EXPECT_GT(video - sound, 2.0);
    EXPECT_EQ(DecodingErrors(file), QString());
}

TEST_F(RecordingControllerTest, APausedRecordingWithSoundLeavesThePauseOut) {
    TDiskSoundDevice device(Box.File(QStringLiteral("tone.raw")), 30);
    ASSERT_TRUE(device.Written());
    Start();
    Page()->RBtnRectCapture()->click();
    ASSERT_TRUE(Page()->CheckBoxWave()->isChecked());
    const QString file = Box.File(QStringLiteral("sound.mp4"));
    AnswerSave(file);

    QElapsedTimer clock;
    Page()->BtnStart()->click();
    clock.start();
    ASSERT_TRUE(Prompts.Messages.empty()) << Prompts.Messages.front().Text.toStdString();
    PumpEvents(1500);
    const double pausedAt = clock.nsecsElapsed() / 1e9;
    Page()->BtnPause()->click();
    EXPECT_TRUE(Bar()->WavePaused());
    PumpEvents(1500);
    const double resumedAt = clock.nsecsElapsed() / 1e9;
    Page()->BtnResume()->click();
    EXPECT_FALSE(Bar()->WavePaused());
    PumpEvents(1500);
    const double stoppedAt = clock.nsecsElapsed() / 1e9;
    Page()->BtnStop()->click();
    ASSERT_TRUE(PumpUntil([this] { return Page()->BtnStart()->isEnabled(); }, 10000));
    ASSERT_TRUE(Prompts.Messages.empty()) << Prompts.Messages.front().Text.toStdString();

    const double recorded = pausedAt + (stoppedAt - resumedAt); // about 3 s
    const double pause = resumedAt - pausedAt;                  // about 1.5 s
    EXPECT_EQ(Probe(file, "stream=codec_type,codec_name"),
              QStringLiteral("mpeg4,video\naac,audio"));
    const double video = Probe(file, "stream=nb_read_frames", "v:0").toDouble() / 15;
    const std::vector<int16_t> samples = DecodeSound(file);
    const double sound = double(samples.size()) / ToneRate;
    // The job starts and stops each stream within a picture or two of the commands, and
    // the sound encoder adds up to two frames of its own (46 ms): a third of a second
    // covers that and is far below the pause a recording that kept it would add.
    EXPECT_NEAR(video, recorded, 0.35);
    EXPECT_NEAR(sound, recorded, 0.35);
    EXPECT_NEAR(video, sound, 0.2);

    // Windows of 0.1 s: the tone's time minus the window's time is constant before the
    // pause, jumps by the pause once, and is constant again after it.
    std::vector<TToneWindow> windows = ToneTimes(samples);
    while (!windows.empty() && windows.front().Tone < 0) // the encoder's silent start
        windows.erase(windows.begin());
    while (!windows.empty() && windows.back().Tone < 0)
        windows.pop_back();
    ASSERT_GT(windows.size(), 20u);
    // The first and last windows may hold the encoder's own lead-in and tail (a file
    // written in fragments keeps the AAC priming samples in its timeline).
    windows.erase(windows.begin());
    windows.pop_back();
    size_t jump = 1; // the window after the largest step
    for (size_t i = 2; i < windows.size(); ++i)
        if (windows[i].Tone - windows[i - 1].Tone > windows[jump].Tone - windows[jump - 1].Tone)
            jump = i;
    ASSERT_GT(jump, 5u);
    ASSERT_LT(jump, windows.size() - 5);
    const auto offset = [&](size_t i) { return windows[i].Tone - windows[i].At; };
    const double before = offset(jump - 3), after = offset(jump + 2);
    // The device reads the tone at about the real rate (SDL waits one device period
    // per buffer); a buffer either side of the pause may still be in or already out.
    EXPECT_NEAR(after - before, pause, 0.2);
    for (size_t i = 0; i < windows.size(); ++i) {
        if (i + 1 == jump || i == jump)
            continue; // a window that holds both sides of the cut
        EXPECT_NEAR(offset(i), i < jump ? before : after, 0.12)
            << "window at " << windows[i].At << " s holds the tone of " << windows[i].Tone << " s";
    }
}

// A start that fails (an unknown format, a folder that cannot exist) says what failed
// on which file and returns everything to idle: no toolbar, the main window back.
TEST_F(RecordingControllerTest, AFailedStartShowsWhyAndReturnsEverythingToIdle) {
    Start();
    RectangleWithoutSound();
    for (const QString& file :
         {Box.File(QStringLiteral("clip.xyz-no-such-format")),
          Box.Write(QStringLiteral("blocker"), "x") + QStringLiteral("/clip.mp4")}) {
        Prompts.Messages.clear();
        AnswerSave(file);
        Page()->BtnStart()->click();
        ASSERT_EQ(Prompts.Messages.size(), 1u);
        EXPECT_EQ(Prompts.Messages.front().Icon, miError);
        const QString text = Prompts.Messages.front().Text;
        const QString head = QStringLiteral("无法开始录像到文件 ") + file + QStringLiteral("：");
        EXPECT_TRUE(text.startsWith(head)) << text.toStdString();
        EXPECT_GT(text.size(), head.size()) << "the engine's reason follows";
        ExpectMirrored({true, false, false, false});
        EXPECT_FALSE(Bar()->isVisible());
        EXPECT_TRUE(Main()->isVisible());
        EXPECT_TRUE(Page()->BtnPlay()->isEnabled());
    }
}

TEST_F(RecordingControllerTest, PlayingAMissingFileWarns) {
    Start();
    ProgramState().CaptureFileName = Box.File(QStringLiteral("gone.mp4"));
    Bar()->BtnPlayClick();
    ASSERT_EQ(Prompts.Messages.size(), 1u);
    EXPECT_EQ(Prompts.Messages.front().Text, QStringLiteral("文件 ") +
                                                 ProgramState().CaptureFileName +
                                                 QStringLiteral(" 不存在。"));
    EXPECT_EQ(Prompts.Messages.front().Icon, miWarning);
}

// With no program for the file's type and no browser to fall back on, the desktop's
// opener gives up: the user is told which file could not be opened.
TEST_F(RecordingControllerTest, AFileNothingCanOpenIsNamedInAWarning) {
    Start();
    const QByteArray savedBrowser = qgetenv("BROWSER"), savedDirs = qgetenv("XDG_DATA_DIRS");
    qputenv("XDG_DATA_DIRS", Box.File(QStringLiteral("no-applications")).toLocal8Bit());
    const QString file = Box.Write(QStringLiteral("clip.vx-unknown"), "not a video");
    ProgramState().CaptureFileName = file;
    qputenv("BROWSER", "/nonexistent/browser");
    Windows->FmToolBar->BtnPlayClick();
    EXPECT_TRUE(PumpUntil([this] { return !Prompts.Messages.isEmpty(); }, 15000));
    ASSERT_EQ(Prompts.Messages.size(), 1u);
    EXPECT_EQ(Prompts.Messages.front().Text,
              QStringLiteral("没有可以打开文件 ") + file + QStringLiteral(" 的程序。"));
    EXPECT_EQ(Prompts.Messages.front().Icon, miWarning);

    // A program that takes it: no message.
    Prompts.Messages.clear();
    qputenv("BROWSER", "true");
    Windows->FmToolBar->BtnPlayClick();
    PumpEvents(3000);
    EXPECT_TRUE(Prompts.Messages.isEmpty());
    qputenv("BROWSER", savedBrowser);
    qputenv("XDG_DATA_DIRS", savedDirs);
}

} // namespace
