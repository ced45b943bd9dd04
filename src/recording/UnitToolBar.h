#pragma once

#include "recording/RecordingController.h"

#include <QPoint>
#include <QPointer>
#include <QRect>
#include <QString>
#include <QWidget>

#include <cstdint>
#include <memory>

class QLabel;
class QTimer;
class QToolButton;
class TFFEncoder;
class TFmToolHint;
class TRecordingPage;
namespace Ui {
class TFmToolBar;
}

// The floating recording toolbar: resume, pause and stop buttons, the elapsed time and
// file size of the recording and a button that shows or hides the main window. It
// stays on top, never takes the keyboard focus, can be dragged by its labels and
// border, and keeps its place in the settings file.
//
// It also drives the recordings: it owns the recording controller, and the recording
// page's buttons and the tray items forward to its routines, whose enabled states it
// keeps in step on all three (the toolbar's buttons are copied to the page and the
// tray). Main thread.
class TFmToolBar : public QWidget {
    Q_OBJECT
public:
    explicit TFmToolBar(TFmToolHint* toolHint, QWidget* parent = nullptr);
    ~TFmToolBar() override;

    // The hint of the show-window button ("显示主窗口" or "隐藏主窗口").
    void SetShowWindowHint(const QString& hint);
    QString ShowWindowHint() const;

    void SBtnShowWindowClick();

    // Connects the recording page's buttons to the recording routines.
    void AttachRecordingPage(TRecordingPage* page);
    // The start flow: the save dialog with a proposed name, then the recording.
    void BtnStartClick();
    void SBtnStartClick();
    // Sets up the encoder task and starts it; false (after an error box) when refused.
    bool StartCapture();
    void SBtnPauseClick();
    void SBtnResumeClick();
    // Stops the recording and waits until its file is finalised.
    void SBtnStopClick();
    void BtnPlayClick();
    void BtnOpenFolderClick();
    // Detaches the recording's events and stops a running recording, waiting for it.
    void FormCloseQuery();
    TFFEncoder* Encoder() const { return FRecorder.Encoder(); }
    bool WavePaused() const { return FRecorder.Paused(); }

    // Keeps the window inside the primary screen.
    void ClampToScreen();

    QToolButton* SBtnStart() const;
    QToolButton* SBtnResume() const;
    QToolButton* SBtnPause() const;
    QToolButton* SBtnStop() const;
    QToolButton* SBtnShowWindow() const;
    QLabel* LabelTime() const;
    QLabel* LabelSize() const;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void FormCreate();
    void LabelTimeMouseDown();
    void LabelTimeMouseMove(Qt::MouseButtons buttons, Qt::KeyboardModifiers modifiers);
    void LabelTimeMouseUp();
    void SBtnResumeMouseEnter(QWidget* control);
    void SBtnResumeMouseLeave();
    QPoint HintPlace(const QWidget* control) const;

    void RecorderProgress(int64_t duration, int64_t size);
    void RecorderFailed(const QString& message);
    void RecorderEnded(bool finished, const QString& finishError);
    void SetRecordingControls(bool start, bool pause, bool resume, bool stop);
    void MirrorControls();
    void SetPlayControls(bool enabled);
    // Every recording control idle, the toolbar hidden and the main window shown again.
    void ReturnToIdle();
    // While the recording's file is finished, the toolbar says so.
    void ShowFinishing(bool finishing);

    std::unique_ptr<Ui::TFmToolBar> ui;
    TRecordingPage* FPage = nullptr;
    TRecordingController FRecorder;
    int FEndedSharings = 0; // screen-cast streams ended before this recording started
    // While the file is finished: the time label's own place and text.
    QRect FTimeRect;
    QString FTimeText;
    TFmToolHint* FToolHint = nullptr;
    QPointer<QWidget> FHintControl; // the control whose hint is up
    QTimer* FTimer1 = nullptr;
    bool WndIsDrag = false;
    bool FPressed = false;
    QPoint OldCurPos;
    int OldLeft = 0;
    int OldTop = 0;
};
