#pragma once

#include <QDialog>

#include <memory>

class QComboBox;
namespace Ui {
class TFmVideoSize;
}

// The custom video size dialog. It starts from a reference size (the recording
// rectangle) and lets the user take a percentage of it or type a width and height,
// keeping the proportion when asked. OK selects the size in the size box, appending it
// when it is not an entry yet. Created for one showing. Main thread only.
class TFmVideoSize : public QDialog {
    Q_OBJECT
public:
    TFmVideoSize(QWidget* mainWindow, QComboBox* sizeBox, int referenceWidth, int referenceHeight);
    ~TFmVideoSize() override;

    void SpinEditPerChange();
    void SpinEditWidthChange();
    void SpinEditHeightChange();
    void BtnOkClick();

private:
    std::unique_ptr<Ui::TFmVideoSize> ui;
    QComboBox* FSizeBox;
    int FReferenceWidth;
    int FReferenceHeight;
    bool Change = false;
};
