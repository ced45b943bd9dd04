#include "videomaker/UnitMargins.h"

#include "videomaker/DialogSupport.h"

#include "ui_UnitMargins.h"

#include <algorithm>

TFmMargins::TFmMargins(QWidget* parent, TVideoMakeSettings& settings)
    : QDialog(parent), ui(std::make_unique<Ui::TFmMargins>()), FSettings(settings) {
    ui->setupUi(this);
    PrepareFixedDialog(this);
    const int halfWidth = std::max(FSettings.LyricsVideoWidth / 2, 0);
    const int halfHeight = std::max(FSettings.LyricsVideoHeight / 2, 0);
    for (TSpinEdit* box :
         {ui->SpinEditLeft, ui->SpinEditRight, ui->SpinEditTop, ui->SpinEditBottom}) {
        LimitDigits(box, 4);
        box->setMinimum(0);
    }
    ui->SpinEditLeft->setMaximum(halfWidth);
    ui->SpinEditRight->setMaximum(halfWidth);
    ui->SpinEditTop->setMaximum(halfHeight);
    ui->SpinEditBottom->setMaximum(halfHeight);
    ui->SpinEditLeft->SetValue(FSettings.LyricsMarginLeft);
    ui->SpinEditRight->SetValue(FSettings.LyricsMarginRight);
    ui->SpinEditTop->SetValue(FSettings.LyricsMarginTop);
    ui->SpinEditBottom->SetValue(FSettings.LyricsMarginBottom);

    connect(ui->BtnDefault, &QPushButton::clicked, this, &TFmMargins::BtnDefaultClick);
    connect(ui->BtnOk, &QPushButton::clicked, this, &TFmMargins::BtnOkClick);
    connect(ui->BtnCancel, &QPushButton::clicked, this, &QDialog::reject);
}

TFmMargins::~TFmMargins() = default;

void TFmMargins::BtnDefaultClick() {
    const TVideoMakeSettings defaults;
    ui->SpinEditLeft->SetValue(defaults.LyricsMarginLeft);
    ui->SpinEditRight->SetValue(defaults.LyricsMarginRight);
    ui->SpinEditTop->SetValue(defaults.LyricsMarginTop);
    ui->SpinEditBottom->SetValue(defaults.LyricsMarginBottom);
}

void TFmMargins::BtnOkClick() {
    FSettings.LyricsMarginLeft = ui->SpinEditLeft->Value();
    FSettings.LyricsMarginRight = ui->SpinEditRight->Value();
    FSettings.LyricsMarginTop = ui->SpinEditTop->Value();
    FSettings.LyricsMarginBottom = ui->SpinEditBottom->Value();
    accept();
}
