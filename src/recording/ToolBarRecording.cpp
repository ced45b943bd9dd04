// The recording routines of the toolbar window: the start flow with the save dialog,
// the recording's start, pause, resume and stop through the recording controller, the
// progress texts, the end of a recording, and playing or showing the recorded file.
#include "recording/UnitToolBar.h"

#include "platform/PortalScreenCast.h"
#include "platform/Prompts.h"
#include "recording/RecordingPage.h"
#include "recording/RecordingPresets.h"
#include "recording/RecordingSession.h"
#include "recording/UnitRect.h"
#include "state/OutputFile.h"
#include "state/ProgramState.h"
#include "state/SpinEdit.h"
#include "ui_UnitToolBar.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <QToolButton>

#include <algorithm>

namespace {

// The main window, as the owner of the recorder's messages.
QWidget* MainWindowWidget() {
    TMainWindowLink* main = ProgramState().MainWindow;
    return main != nullptr ? main->Window() : nullptr;
}

} // namespace

void TFmToolBar::AttachRecordingPage(TRecordingPage* page) {
    FPage = page;
    connect(page->BtnStart(), &QPushButton::clicked, this, &TFmToolBar::BtnStartClick);
    connect(page->BtnPause(), &QPushButton::clicked, this, &TFmToolBar::SBtnPauseClick);
    connect(page->BtnResume(), &QPushButton::clicked, this, &TFmToolBar::SBtnResumeClick);
    connect(page->BtnStop(), &QPushButton::clicked, this, &TFmToolBar::SBtnStopClick);
    connect(page->BtnPlay(), &QPushButton::clicked, this, &TFmToolBar::BtnPlayClick);
    connect(page->BtnOpenFolder(), &QPushButton::clicked, this, &TFmToolBar::BtnOpenFolderClick);
    connect(ui->SBtnStart, &QToolButton::clicked, this, &TFmToolBar::SBtnStartClick);
    connect(ui->SBtnPause, &QToolButton::clicked, this, &TFmToolBar::SBtnPauseClick);
    connect(ui->SBtnResume, &QToolButton::clicked, this, &TFmToolBar::SBtnResumeClick);
    connect(ui->SBtnStop, &QToolButton::clicked, this, &TFmToolBar::SBtnStopClick);
}

// Sets the toolbar buttons and copies them to the page buttons and the tray items.
void TFmToolBar::SetRecordingControls(bool start, bool pause, bool resume, bool stop) {
    ui->SBtnStart->setEnabled(start);
    ui->SBtnPause->setEnabled(pause);
    ui->SBtnResume->setEnabled(resume);
    ui->SBtnStop->setEnabled(stop);
    MirrorControls();
}

void TFmToolBar::MirrorControls() {
    if (FPage != nullptr) {
        FPage->BtnStart()->setEnabled(ui->SBtnStart->isEnabled());
        FPage->BtnPause()->setEnabled(ui->SBtnPause->isEnabled());
        FPage->BtnResume()->setEnabled(ui->SBtnResume->isEnabled());
        FPage->BtnStop()->setEnabled(ui->SBtnStop->isEnabled());
    }
    if (TMainWindowLink* main = ProgramState().MainWindow) {
        const TTrayRecordingItems items = main->TrayRecordingItems();
        if (items.MnStart != nullptr) {
            items.MnStart->setEnabled(ui->SBtnStart->isEnabled());
            items.MnPause->setEnabled(ui->SBtnPause->isEnabled());
            items.MnResume->setEnabled(ui->SBtnResume->isEnabled());
            items.MnStop->setEnabled(ui->SBtnStop->isEnabled());
        }
    }
}

void TFmToolBar::SetPlayControls(bool enabled) {
    if (FPage != nullptr) {
        FPage->BtnPlay()->setEnabled(enabled);
        FPage->BtnOpenFolder()->setEnabled(enabled);
    }
}

void TFmToolBar::BtnStartClick() {
    if (FPage == nullptr)
        return;
    QWidget* mainWindow = MainWindowWidget();
    const QComboBox* types = FPage->ComboBoxVideoType();
    const TRecordingFileType type = RecordingFileType(types->currentIndex(), types->currentText());

    TFileDialogOptions dialog;
    dialog.Kind = TFileDialogOptions::fkSave;
    dialog.Filter = type.Filter;
    dialog.DefaultExt = type.DefaultExtension;
    dialog.InitialDir = FPage->SaveDialogDir();
    dialog.OverwritePrompt = true;
    dialog.FileName =
        QFileInfo(ProposedRecordingName(dialog.InitialDir, type.Extension)).fileName();
    const TFileDialogResult chosen = Prompts().FileDialog(mainWindow, dialog);
    if (!chosen.Accepted || chosen.Files.isEmpty())
        return;

    ProgramState().CaptureFileName = chosen.Files.first();
    FPage->SetSaveDialogDir(QFileInfo(ProgramState().CaptureFileName).absolutePath());

    if (FPage->CheckBoxToolBar()->isChecked()) {
        ui->SBtnStart->setEnabled(true);
        ui->SBtnResume->setEnabled(false);
        ui->SBtnPause->setEnabled(false);
        ui->SBtnStop->setEnabled(false);
        show();
    } else {
        hide();
    }
    if (TMainWindowLink* main = ProgramState().MainWindow)
        main->HideMainWindow();
    SBtnStartClick();
}

void TFmToolBar::SBtnStartClick() {
    if (FPage != nullptr)
        FPage->HideAreaFrame();
    StartCapture();
}

bool TFmToolBar::StartCapture() {
    FRecorder.OnProgress = [this](int64_t duration, int64_t size) {
        RecorderProgress(duration, size);
    };
    FRecorder.OnSoundLost = [this] {
        // The engine waits for the progress handler, so the message is shown after it
        // returns; the recording goes on meanwhile.
        QTimer::singleShot(0, this, [] { ShowMessage(nullptr, SoundDeviceLostText(), miWarning); });
    };
    FRecorder.OnFailed = [this](const QString& message) { RecorderFailed(message); };
    FRecorder.OnFinishing = [this] { ShowFinishing(true); };
    FRecorder.OnEnded = [this](bool finished, const QString& finishError) {
        RecorderEnded(finished, finishError);
    };
    TRecordingRequest request;
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    if (FPage == nullptr || FPage->IsScreenCapture()) {
        request.Area = QRect(0, 0, screen.width(), screen.height());
    } else {
        // Each box gets its own value again, so its text is a clamped whole number.
        request.Area = QRect(FPage->SpinEditLeft()->Value(), FPage->SpinEditTop()->Value(),
                             FPage->SpinEditWidth()->Value(), FPage->SpinEditHeight()->Value());
    }
    request.Cursor = FPage == nullptr || FPage->CheckBoxCursor()->isChecked();
    request.Sound = FPage == nullptr || FPage->CheckBoxWave()->isChecked();
    if (FPage != nullptr)
        request.Source = TSoundSource(std::max(0, FPage->ComboBoxSoundSource()->currentIndex()));
    const QComboBox* sizes = FPage != nullptr ? FPage->ComboBoxVideoSize() : nullptr;
    request.FrameSize = RecordingFrameSize(sizes != nullptr ? sizes->currentIndex() : 0,
                                           sizes != nullptr ? sizes->currentText() : QString(),
                                           request.Area.size());
    request.FileName = ProgramState().CaptureFileName;
    request.H264 =
        FPage != nullptr && FPage->ComboBoxVideoType()->currentText() == H264FormatText();

    QString error;
    if (!FRecorder.Start(request, &error)) {
        // Nothing runs: every control goes back to idle before the reason is shown.
        ReturnToIdle();
        const QString sharing = ScreenSharingFailureText(error);
        if (TPortalScreenCast::LatestFailure() == cfCancelled)
            ShowMessage(MainWindowWidget(), sharing, miInformation);
        else if (!sharing.isEmpty())
            ShowMessage(MainWindowWidget(), sharing, miError);
        else
            ShowMessage(MainWindowWidget(),
                        QStringLiteral("无法开始录像到文件 %1：%2").arg(request.FileName, error),
                        miError);
        return false;
    }
    FEndedSharings = TPortalScreenCast::EndedStreams();
    SetRecordingControls(false, true, false, true);
    SetPlayControls(false);
    return true;
}

void TFmToolBar::SBtnPauseClick() {
    if (FRecorder.Encoder() == nullptr)
        return;
    SetRecordingControls(false, false, true, true);
    FRecorder.Pause();
}

void TFmToolBar::SBtnResumeClick() {
    if (FRecorder.Encoder() == nullptr)
        return;
    SetRecordingControls(false, true, false, true);
    FRecorder.Resume();
}

void TFmToolBar::SBtnStopClick() {
    // Only the stop controls change; the final terminate event sets the rest.
    ui->SBtnStop->setEnabled(false);
    if (FPage != nullptr)
        FPage->BtnStop()->setEnabled(false);
    if (TMainWindowLink* main = ProgramState().MainWindow) {
        const TTrayRecordingItems items = main->TrayRecordingItems();
        if (items.MnStop != nullptr)
            items.MnStop->setEnabled(false);
    }
    // Waits until the recording has stopped, serving the engine's events meanwhile.
    FRecorder.Stop();
}

void TFmToolBar::RecorderProgress(int64_t duration, int64_t size) {
    ui->LabelTime->setText(RecordingTimeText(duration));
    ui->LabelSize->setText(RecordingSizeText(size));
}

void TFmToolBar::ReturnToIdle() {
    SetRecordingControls(true, false, false, false);
    SetPlayControls(true);
    TMainWindowLink* main = ProgramState().MainWindow;
    if (FPage != nullptr && !FPage->IsScreenCapture() &&
        !FPage->CheckBoxHideBorder()->isChecked() && main != nullptr &&
        main->ActiveTabIndex() == 0 && FPage->AreaFrame() != nullptr)
        FPage->AreaFrame()->ShowFrame();
    hide();
    if (main != nullptr)
        main->ShowMainWindow();
}

void TFmToolBar::RecorderFailed(const QString& message) {
    ShowMessage(MainWindowWidget(),
                QStringLiteral("录像文件 %1 出错：%2").arg(ProgramState().CaptureFileName, message),
                miWarning);
}

void TFmToolBar::RecorderEnded(bool finished, const QString& finishError) {
    ShowFinishing(false);
    if (!finished)
        ShowMessage(nullptr, FinishFailedText(finishError), miWarning);
    ReturnToIdle();
    if (TPortalScreenCast::EndedStreams() != FEndedSharings)
        ShowMessage(MainWindowWidget(), ScreenSharingEndedText(), miInformation);
}

void TFmToolBar::BtnPlayClick() {
    if (OutputFileExists(nullptr, ProgramState().CaptureFileName))
        OpenWithDesktop(MainWindowWidget(), ProgramState().CaptureFileName);
}

void TFmToolBar::BtnOpenFolderClick() {
    if (OutputFileExists(nullptr, ProgramState().CaptureFileName))
        ShowInFileManager(MainWindowWidget(), ProgramState().CaptureFileName);
}

void TFmToolBar::FormCloseQuery() {
    QString error;
    const bool finished = FRecorder.Shutdown(&error);
    ShowFinishing(false);
    if (!finished)
        ShowMessage(nullptr, FinishFailedText(error), miWarning);
}

void TFmToolBar::ShowFinishing(bool finishing) {
    // The text takes the room of the time and size, which are of no use meanwhile.
    if (finishing && !FTimeRect.isValid()) {
        FTimeRect = ui->LabelTime->geometry();
        FTimeText = ui->LabelTime->text();
        ui->LabelTime->setGeometry(FTimeRect.united(ui->LabelSize->geometry()));
        ui->LabelTime->setText(FinishingFileText());
    } else if (!finishing && FTimeRect.isValid()) {
        ui->LabelTime->setGeometry(FTimeRect);
        ui->LabelTime->setText(FTimeText);
        FTimeRect = QRect();
    }
    ui->Label4->setVisible(!finishing);
    ui->LabelSize->setVisible(!finishing);
    // The main thread is busy until the file is finished: paint now.
    if (isVisible())
        repaint();
}
