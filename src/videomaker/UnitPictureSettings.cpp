#include "videomaker/UnitPictureSettings.h"

#include "videomaker/DialogSupport.h"

#include "ui_UnitPictureSettings.h"

TFmPicturesSettings::TFmPicturesSettings(QWidget* parent, TVideoMakeSettings& settings)
    : QDialog(parent), ui(std::make_unique<Ui::TFmPicturesSettings>()), FSettings(settings) {
    ui->setupUi(this);
    PrepareFixedDialog(this);
    LimitDigits(ui->SpinEditDuration, 4);
    ShowValues(FSettings);

    connect(ui->BtnDefault, &QPushButton::clicked, this, &TFmPicturesSettings::BtnDefaultClick);
    connect(ui->BtnOk, &QPushButton::clicked, this, &TFmPicturesSettings::BtnOkClick);
    connect(ui->BtnCancel, &QPushButton::clicked, this, &QDialog::reject);
}

TFmPicturesSettings::~TFmPicturesSettings() = default;

void TFmPicturesSettings::ShowValues(const TVideoMakeSettings& s) {
    ui->SpinEditDuration->SetValue(s.PictureDuration);
    ui->CheckBoxAccording->setChecked(s.PictureAccording);
    ui->CheckBoxRepeat->setChecked(s.PictureRepeat);
    ui->CheckBoxRandom->setChecked(s.PictureRandom);
}

void TFmPicturesSettings::BtnDefaultClick() {
    ShowValues(TVideoMakeSettings());
}

void TFmPicturesSettings::BtnOkClick() {
    FSettings.PictureDuration = ui->SpinEditDuration->Value();
    FSettings.PictureAccording = ui->CheckBoxAccording->isChecked();
    FSettings.PictureRepeat = ui->CheckBoxRepeat->isChecked();
    FSettings.PictureRandom = ui->CheckBoxRandom->isChecked();
    accept();
}
