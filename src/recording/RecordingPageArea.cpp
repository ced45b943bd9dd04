// The recording page's choice of the capture rectangle with the mouse: the frame's edge
// and grip drags, the drag selection, the window pick, and the frame's showing and
// hiding when the application becomes active or inactive.
#include "recording/RecordingPage.h"

#include "platform/DesktopInput.h"
#include "platform/PortalScreenCast.h"
#include "platform/Prompts.h"
#include "recording/UnitRect.h"
#include "recording/UnitSetRect.h"
#include "state/ProgramState.h"
#include "state/SpinEdit.h"
#include "ui_RecordingPage.h"

#include <QApplication>
#include <QTimer>

namespace {

constexpr int kMinWidth = 8;
constexpr int kMinHeight = 2;

// Holds the frame sync off for its lifetime, so the guard is cleared on every way out.
class TSpinSyncGuard {
public:
    TSpinSyncGuard() { ProgramState().SpinSyncGuard = true; }
    ~TSpinSyncGuard() { ProgramState().SpinSyncGuard = false; }
    TSpinSyncGuard(const TSpinSyncGuard&) = delete;
    TSpinSyncGuard& operator=(const TSpinSyncGuard&) = delete;
};

void ShowMainWindow() {
    if (TMainWindowLink* main = ProgramState().MainWindow)
        main->ShowMainWindow();
}

void HideMainWindow() {
    if (TMainWindowLink* main = ProgramState().MainWindow)
        main->HideMainWindow();
}

} // namespace

void TRecordingPage::SetUpAreaSelection() {
    connect(ui->BtnSelectRect, &QPushButton::clicked, this, &TRecordingPage::BtnSelectRectClick);
    connect(ui->BtnSelectWindow, &QPushButton::clicked, this,
            &TRecordingPage::BtnSelectWindowClick);
    FTimerGetWindow = new QTimer(this);
    FTimerGetWindow->setObjectName(QStringLiteral("TimerGetWindow"));
    FTimerGetWindow->setInterval(1);
    FTimerGetWindow->setTimerType(Qt::PreciseTimer);
    connect(FTimerGetWindow, &QTimer::timeout, this, &TRecordingPage::TimerGetWindowTimer);
    connect(qApp, &QGuiApplication::applicationStateChanged, this,
            [this](Qt::ApplicationState state) {
                if (state == Qt::ApplicationActive)
                    ApplicationEvents1Activate();
                else if (state == Qt::ApplicationInactive)
                    ApplicationEvents1Deactivate();
            });
}

void TRecordingPage::SetAreaFrame(TFmRect* frame) {
    if (FAreaFrame != nullptr)
        disconnect(FAreaFrame, nullptr, this, nullptr);
    FAreaFrame = frame;
    if (frame == nullptr)
        return;
    connect(frame, &TFmRect::EdgeDragFinished, this, &TRecordingPage::FmRectEdgeDragFinished);
    connect(frame, &TFmRect::MoveFinished, this, &TRecordingPage::FmRectMoveFinished);
}

void TRecordingPage::SetSelectionWindow(TFmSetRect* window) {
    if (FSelectionWindow != nullptr)
        disconnect(FSelectionWindow, nullptr, this, nullptr);
    FSelectionWindow = window;
    if (window == nullptr)
        return;
    connect(window, &TFmSetRect::SelectionStarted, this,
            &TRecordingPage::FmSetRectSelectionStarted);
    connect(window, &TFmSetRect::SelectionChanged, this,
            &TRecordingPage::FmSetRectSelectionChanged);
    connect(window, &TFmSetRect::SelectionFinished, this,
            &TRecordingPage::FmSetRectSelectionFinished);
}

bool TRecordingPage::RecordingTabActive() const {
    const TMainWindowLink* main = ProgramState().MainWindow;
    return main == nullptr || main->ActiveTabIndex() == 0;
}

void TRecordingPage::PutSelectionIntoSpinEdits(const QRect& rect) {
    TSpinSyncGuard guard;
    ui->SpinEditLeft->SetValue(rect.x());
    ui->SpinEditTop->SetValue(rect.y());
    ui->SpinEditWidth->SetValue(qMax(rect.width(), kMinWidth));
    ui->SpinEditHeight->SetValue(qMax(rect.height(), kMinHeight));
}

void TRecordingPage::ApplyHideBorderToFrame() {
    if (FAreaFrame == nullptr)
        return;
    if (ui->CheckBoxHideBorder->isChecked())
        FAreaFrame->HideFrame();
    else
        FAreaFrame->ShowFrame();
}

void TRecordingPage::EndMouseSelection() {
    ApplyHideBorderToFrame();
    ShowMainWindow();
    SpinEditLeftChange();
    ProgramState().SelectionInProgress = false;
    DesktopInput::Beep();
}

void TRecordingPage::FmRectEdgeDragFinished() {
    PutSelectionIntoSpinEdits(FAreaFrame->Inner());
    ShowMainWindow();
    SpinEditLeftChange();
    DesktopInput::Beep();
}

void TRecordingPage::FmRectMoveFinished() {
    const QRect inner = FAreaFrame->Inner();
    {
        TSpinSyncGuard guard;
        ui->SpinEditLeft->SetValue(inner.x());
        ui->SpinEditTop->SetValue(inner.y());
    }
    SpinEditLeftChange();
}

void TRecordingPage::BtnSelectRectClick() {
    if (FSelectionWindow == nullptr || FAreaFrame == nullptr)
        return;
    ProgramState().SelectionInProgress = true;
    HideMainWindow();
    FSelectionWindow->StartSelection();
}

void TRecordingPage::FmSetRectSelectionStarted(QPoint anchor) {
    FAreaFrame->FitAround(anchor.x(), anchor.y(), 0, 0);
    if (RecordingTabActive())
        FAreaFrame->ShowFrame();
}

void TRecordingPage::FmSetRectSelectionChanged(const QRect& rect) {
    FAreaFrame->FitAround(rect.x(), rect.y(), rect.width(), rect.height());
}

void TRecordingPage::FmSetRectSelectionFinished() {
    PutSelectionIntoSpinEdits(FAreaFrame->Inner());
    FSelectionWindow->EndSelection();
    EndMouseSelection();
}

void TRecordingPage::BtnSelectWindowClick() {
    if (TPortalScreenCast::IsWaylandSession()) {
        ShowMessage(window(),
                    QStringLiteral("此 Wayland 桌面只能共享整个屏幕，不能单独录制某个窗口。\n"
                                   "请使用“全屏录制”，或在“区域录制”中输入窗口所在区域的"
                                   "位置和大小。"),
                    miWarning);
        return;
    }
    if (FAreaFrame == nullptr)
        return;
    ProgramState().SelectionInProgress = true;
    LastKey = 0;
    FTimerGetWindow->start();
    if (RecordingTabActive())
        FAreaFrame->ShowFrame();
    HideMainWindow();
}

void TRecordingPage::TimerGetWindowTimer() {
    const QRect r = DesktopInput::WindowRectAt(DesktopInput::CursorPos());
    FAreaFrame->FitAround(r.x(), r.y(), r.width(), r.height());
    if (LastKey == 0) {
        LastKey = DesktopInput::LowestKeyDown();
        return;
    }
    if (DesktopInput::KeyDown(LastKey))
        return;
    PutSelectionIntoSpinEdits(r);
    FTimerGetWindow->stop();
    EndMouseSelection();
}

void TRecordingPage::ApplicationEvents1Activate() {
    TProgramState& state = ProgramState();
    if (state.SelectionInProgress || !ui->RBtnRectCapture->isChecked() ||
        ui->CheckBoxHideBorder->isChecked())
        return;
    // The screen source draws its own frame while a recording runs.
    if (ui->BtnStop->isEnabled())
        return;
    if (FAreaFrame != nullptr && RecordingTabActive())
        FAreaFrame->ShowFrame();
    // A modal window keeps the front; raising the main window over it would hide it.
    if (state.MainWindow != nullptr && QApplication::activeModalWidget() == nullptr)
        state.MainWindow->BringToForeground();
}

void TRecordingPage::ApplicationEvents1Deactivate() {
    if (!ProgramState().SelectionInProgress)
        HideAreaFrame();
}
