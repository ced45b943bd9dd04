#include "videomaker/UnitNumberOfRows.h"

#include "videomaker/DialogSupport.h"

#include "ui_UnitNumberOfRows.h"

TFmNumberOfRows::TFmNumberOfRows(QWidget* parent, TVideoMakeSettings& settings)
    : QDialog(parent), ui(std::make_unique<Ui::TFmNumberOfRows>()), FSettings(settings) {
    ui->setupUi(this);
    PrepareFixedDialog(this);
    LimitDigits(ui->SpinEditCount, 3);
    ShowCount(FSettings.LyricsMaxLineCount);

    connect(ui->RBtnAuto, &QRadioButton::clicked, this, &TFmNumberOfRows::RBtnAutoClick);
    connect(ui->RBtnCustom, &QRadioButton::clicked, this, &TFmNumberOfRows::RBtnCustomClick);
    connect(ui->BtnDefault, &QPushButton::clicked, this, &TFmNumberOfRows::BtnDefaultClick);
    connect(ui->BtnOk, &QPushButton::clicked, this, &TFmNumberOfRows::BtnOkClick);
    connect(ui->BtnCancel, &QPushButton::clicked, this, &QDialog::reject);
}

TFmNumberOfRows::~TFmNumberOfRows() = default;

void TFmNumberOfRows::ShowCount(int count) {
    if (count < 1) {
        ui->RBtnAuto->setChecked(true);
    } else {
        ui->RBtnCustom->setChecked(true);
        ui->SpinEditCount->SetValue(count);
    }
    ui->SpinEditCount->setEnabled(count >= 1);
}

void TFmNumberOfRows::RBtnAutoClick() {
    ui->SpinEditCount->setEnabled(false);
}
void TFmNumberOfRows::RBtnCustomClick() {
    ui->SpinEditCount->setEnabled(true);
}

void TFmNumberOfRows::BtnDefaultClick() {
    ShowCount(TVideoMakeSettings().LyricsMaxLineCount);
}

void TFmNumberOfRows::BtnOkClick() {
    FSettings.LyricsMaxLineCount = ui->RBtnAuto->isChecked() ? 0 : ui->SpinEditCount->Value();
    accept();
}
