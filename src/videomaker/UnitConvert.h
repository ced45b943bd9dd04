#pragma once

#include "videomaker/VideoProduction.h"

#include <QDialog>

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

// The production dialog ("开始制作视频"): the format and file of the video, start and
// stop, the progress (video time, percentage of the song, file size) and, while idle,
// playing the result or showing it in the file manager. It produces the current project
// of the 视频制作 page. Main thread only.
class TFmConvert : public QDialog {
    Q_OBJECT
public:
    explicit TFmConvert(QWidget* parent = nullptr);
    ~TFmConvert() override;

    // Opens the dialog over the current project with the proposed file name.
    static void ConvertProject(QWidget* parent);

    void SetFileName(const QString& fileName);
    QString FileName() const;

    void ComboBoxVideoTypeChange(int index);
    void BtnSaveAsClick();
    void BtnStartClick();
    void BtnStopClick();
    void BtnPlayClick();
    void BtnViewClick();

    void FFEncoderProgress(const TProgressInfo& info);
    void FFEncoderTerminate(const TTerminateInfo& info);

    // The controls, for the windows' tests.
    QComboBox* ComboBoxVideoType() const { return FComboBoxVideoType; }
    QLabel* LabelDuration() const { return FLabelDuration; }
    QLabel* LabelProgress() const { return FLabelProgress; }
    QLabel* LabelSize() const { return FLabelSize; }
    QPushButton* BtnStart() const { return FBtnStart; }
    QPushButton* BtnStop() const { return FBtnStop; }
    QPushButton* BtnPlay() const { return FBtnPlay; }
    QPushButton* BtnView() const { return FBtnView; }
    TVideoProduction& Production() { return FProduction; }

protected:
    void closeEvent(QCloseEvent* event) override;
    void reject() override;

private:
    // Detaches the reports and stops the production, waiting for its end.
    void EndProduction();
    void SetIdle(bool idle);

    TVideoProduction FProduction;
    bool FInputEnded = false;
    QComboBox* FComboBoxVideoType;
    QLineEdit* FEditFileName;
    QPushButton* FBtnSaveAs;
    QLabel* FLabelDuration;
    QLabel* FLabelProgress;
    QLabel* FLabelSize;
    QPushButton* FBtnStart;
    QPushButton* FBtnStop;
    QPushButton* FBtnClose;
    QPushButton* FBtnPlay;
    QPushButton* FBtnView;
};
