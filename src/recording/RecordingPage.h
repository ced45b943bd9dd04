#pragma once

#include <QWidget>

#include <memory>

class QCheckBox;
class QComboBox;
class QPushButton;
class QRadioButton;
class QTimer;
class TFmRect;
class TFmSetRect;
class TProfile;
class TSpinEdit;
namespace Ui {
class TRecordingPage;
}

// The 屏幕录像 page of the main window: the capture mode and rectangle, the output
// format and size, the hotkey boxes, the cursor, sound and toolbar options and the
// recording buttons. Main thread only.
class TRecordingPage : public QWidget {
    Q_OBJECT
public:
    explicit TRecordingPage(QWidget* parent = nullptr);
    ~TRecordingPage() override;

    // The area frame and the drag-selection window, created after the main window.
    void SetAreaFrame(TFmRect* frame);
    TFmRect* AreaFrame() const { return FAreaFrame; }
    void SetSelectionWindow(TFmSetRect* window);

    // Capture mode.
    void RBtnScreenCaptureClick();
    void RBtnRectCaptureClick();
    bool IsScreenCapture() const;
    // Moves and sizes the frame to the spin boxes, unless the spin-sync guard is set.
    void SpinEditLeftChange();
    void CheckBoxHideBorderClick();
    // Shows the frame when the rectangle mode is on and the border is not hidden;
    // otherwise hides it. Used when the 屏幕录像 tab becomes active.
    void ApplyAreaFrameRule();
    void HideAreaFrame();

    // Mouse selection of the rectangle: "指定区域" drags it out, "指定窗口" takes the
    // window under the cursor once a key or button has been pressed and released. Both
    // end with the rectangle in the spin boxes, the main window back and a beep.
    void BtnSelectRectClick();
    void BtnSelectWindowClick();
    void TimerGetWindowTimer();
    // The key or button awaited by the window pick; 0 while none has been pressed.
    int LastKey = 0;

    // The application as a whole became active or inactive.
    void ApplicationEvents1Activate();
    void ApplicationEvents1Deactivate();

    // The hotkey lists: "禁用热键" and every combination no other program holds; both
    // boxes and both hotkey names start at "禁用热键". Called once at start-up.
    void FillHotKeyBoxes();
    void ComboBoxPauseSelect();
    void ComboBoxStopSelect();
    // A registered hotkey was pressed: on the 屏幕录像 tab the start/pause/resume key
    // clicks the first enabled of BtnStart, BtnPause, BtnResume, and the stop key BtnStop.
    void MyHotKey(unsigned modifiers, unsigned virtualKey);

    // The General keys of the recording page, in the file's order: CaptureLeft to
    // VideoType and SaveDir. Reading applies them to the controls and runs the mode
    // selection; writing stores SaveDir only when the last recording file exists.
    void ReadGeneralSettings(const TProfile& profile);
    void WriteGeneralSettings(const TProfile& profile);
    // The key SoundSource (the text of the "声音来源：" box), which the settings file
    // holds after the General section's older keys.
    void WriteSoundSourceSetting(const TProfile& profile);

    // Start folder of the recording save dialog.
    QString SaveDialogDir() const { return FSaveDialogDir; }
    void SetSaveDialogDir(const QString& dir) { FSaveDialogDir = dir; }

    // The size-box entry to fall back to when the custom-size dialog is cancelled.
    int OldIndex = -1;
    // A size or format was picked: "自定义" opens the custom-size dialog, any other entry
    // becomes the one to fall back to.
    void ComboBoxVideoSizeSelect();

    // Controls other windows of the program work with.
    QPushButton* BtnStart() const;
    QPushButton* BtnPause() const;
    QPushButton* BtnResume() const;
    QPushButton* BtnStop() const;
    QPushButton* BtnPlay() const;
    QPushButton* BtnOpenFolder() const;
    QPushButton* BtnSelectWindow() const;
    QPushButton* BtnSelectRect() const;
    QRadioButton* RBtnScreenCapture() const;
    QRadioButton* RBtnRectCapture() const;
    TSpinEdit* SpinEditLeft() const;
    TSpinEdit* SpinEditTop() const;
    TSpinEdit* SpinEditWidth() const;
    TSpinEdit* SpinEditHeight() const;
    QCheckBox* CheckBoxHideBorder() const;
    QCheckBox* CheckBoxCursor() const;
    QCheckBox* CheckBoxWave() const;
    QCheckBox* CheckBoxToolBar() const;
    QComboBox* ComboBoxVideoType() const;
    QComboBox* ComboBoxSoundSource() const;
    QComboBox* ComboBoxVideoSize() const;
    QComboBox* ComboBoxPause() const;
    QComboBox* ComboBoxStop() const;

private:
    void SetRectControlsEnabled(bool enabled);
    void SetUpAreaSelection();
    void SetUpHotKeys();
    void AdaptToWayland();
    void ReleaseHotKeys();
    bool RecordingTabActive() const;
    // Puts a rectangle chosen with the mouse into the spin boxes, with the frame sync
    // held off; a width below 8 or a height below 2 is raised to it.
    void PutSelectionIntoSpinEdits(const QRect& rect);
    // The frame shows exactly when the hide-border box is not ticked.
    void ApplyHideBorderToFrame();
    // The end of a drag selection or window pick: the frame by the hide-border box, the
    // main window back, the frame synced, the beep.
    void EndMouseSelection();
    void FmRectEdgeDragFinished();
    void FmRectMoveFinished();
    void FmSetRectSelectionStarted(QPoint anchor);
    void FmSetRectSelectionChanged(const QRect& rect);
    void FmSetRectSelectionFinished();
    void ComboBoxHotKeySelect(QComboBox* box, QComboBox* other, QString& name,
                              const QString& otherCommand);

    std::unique_ptr<Ui::TRecordingPage> ui;
    TFmRect* FAreaFrame = nullptr;
    TFmSetRect* FSelectionWindow = nullptr;
    QTimer* FTimerGetWindow = nullptr;
    QString FSaveDialogDir;
};
