#include "RecordingWindows.h"
#include "recording/UnitToolBar.h"

#include <QAction>
#include <QComboBox>
#include <QFileInfo>
#include <QLabel>
#include <QMenu>
#include <QProcess>
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
    static QString Probe(const QString& file, const char* entries) {
        QProcess probe;
        probe.start(QStringLiteral("ffprobe"),
                    {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-count_frames"),
                     QStringLiteral("-show_entries"), QString::fromLatin1(entries),
                     QStringLiteral("-of"), QStringLiteral("csv=p=0"), file});
        probe.waitForFinished(30000);
        return QString::fromUtf8(probe.readAllStandardOutput()).trimmed();
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

TEST_F(RecordingControllerTest, RefusedOutputShowsTheErrorAndLeavesThePageAsItWas) {
    Start();
    RectangleWithoutSound();
    AnswerSave(Box.File(QStringLiteral("clip.xyz-no-such-format")));
    Page()->BtnStart()->click();
    ASSERT_EQ(Prompts.Messages.size(), 1u);
    EXPECT_EQ(Prompts.Messages.front().Icon, miError);
    EXPECT_FALSE(Prompts.Messages.front().Text.isEmpty());
    EXPECT_EQ(PageStates(), (std::vector<bool>{true, false, false, false}));
    // The main window comes back through the toolbar's show-window button.
    Bar()->SBtnShowWindow()->click();
    EXPECT_TRUE(Main()->isVisible());
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

} // namespace
