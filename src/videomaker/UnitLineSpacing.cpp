#include "videomaker/UnitLineSpacing.h"

#include "videomaker/DialogSupport.h"

#include "ui_UnitLineSpacing.h"

TFmLineSpacing::TFmLineSpacing(QWidget* parent, TVideoMakeSettings& settings)
    : QDialog(parent), ui(std::make_unique<Ui::TFmLineSpacing>()), FSettings(settings) {
    ui->setupUi(this);
    PrepareFixedDialog(this);
    LimitDigits(ui->SpinEditSpacing, 3);
    ui->SpinEditSpacing->SetValue(FSettings.LyricsLineSpacing);

    connect(ui->BtnDefault, &QPushButton::clicked, this, &TFmLineSpacing::BtnDefaultClick);
    connect(ui->BtnOk, &QPushButton::clicked, this, &TFmLineSpacing::BtnOkClick);
    connect(ui->BtnCancel, &QPushButton::clicked, this, &QDialog::reject);
}

TFmLineSpacing::~TFmLineSpacing() = default;

void TFmLineSpacing::BtnDefaultClick() {
    ui->SpinEditSpacing->SetValue(TVideoMakeSettings().LyricsLineSpacing);
}

void TFmLineSpacing::BtnOkClick() {
    FSettings.LyricsLineSpacing = ui->SpinEditSpacing->Value();
    accept();
}
