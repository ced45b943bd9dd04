#pragma once

#include <QWidget>

#include <memory>

class QCheckBox;
class QComboBox;
class QPushButton;
class QRadioButton;
class TFmRect;
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

    // The area frame, created after the main window.
    void SetAreaFrame(TFmRect* frame) { FAreaFrame = frame; }
    TFmRect* AreaFrame() const { return FAreaFrame; }

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

    // The General keys of the recording page, in the file's order: CaptureLeft to
    // VideoType and SaveDir. Reading applies them to the controls and runs the mode
    // selection; writing stores SaveDir only when the last recording file exists.
    void ReadGeneralSettings(const TProfile& profile);
    void WriteGeneralSettings(const TProfile& profile);

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
    QComboBox* ComboBoxVideoSize() const;
    QComboBox* ComboBoxPause() const;
    QComboBox* ComboBoxStop() const;

private:
    void SetRectControlsEnabled(bool enabled);

    std::unique_ptr<Ui::TRecordingPage> ui;
    TFmRect* FAreaFrame = nullptr;
    QString FSaveDialogDir;
};
