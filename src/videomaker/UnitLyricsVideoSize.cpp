#include "videomaker/UnitLyricsVideoSize.h"

#include "videomaker/DialogSupport.h"

#include "ui_UnitLyricsVideoSize.h"

TFmLyricsVideoSize::TFmLyricsVideoSize(QWidget* parent, TVideoMakeSettings& settings)
    : QDialog(parent), ui(std::make_unique<Ui::TFmLyricsVideoSize>()), FSettings(settings) {
    ui->setupUi(this);
    PrepareFixedDialog(this);
    LimitDigits(ui->SpinEditWidth, 4);
    LimitDigits(ui->SpinEditHeight, 4);
    ShowSize(FSettings.LyricsVideoWidth, FSettings.LyricsVideoHeight);

    connect(ui->RBtnStandard, &QRadioButton::clicked, this, &TFmLyricsVideoSize::RBtnStandardClick);
    connect(ui->RBtnCustom, &QRadioButton::clicked, this, &TFmLyricsVideoSize::RBtnCustomClick);
    connect(ui->BtnDefault, &QPushButton::clicked, this, &TFmLyricsVideoSize::BtnDefaultClick);
    connect(ui->BtnOk, &QPushButton::clicked, this, &TFmLyricsVideoSize::BtnOkClick);
    connect(ui->BtnCancel, &QPushButton::clicked, this, &QDialog::reject);
}

TFmLyricsVideoSize::~TFmLyricsVideoSize() = default;

void TFmLyricsVideoSize::ShowSize(int width, int height) {
    const QString text = QString::asprintf("%d*%d", width, height);
    const int index = ui->ComboBoxSize->findText(text, Qt::MatchExactly);
    if (index >= 0) {
        ui->ComboBoxSize->setCurrentIndex(index);
        ui->RBtnStandard->setChecked(true);
    } else {
        ui->SpinEditWidth->SetValue(width);
        ui->SpinEditHeight->SetValue(height);
        ui->RBtnCustom->setChecked(true);
    }
    EnableChoice();
}

void TFmLyricsVideoSize::EnableChoice() {
    const bool standard = ui->RBtnStandard->isChecked();
    ui->ComboBoxSize->setEnabled(standard);
    for (QWidget* w :
         {static_cast<QWidget*>(ui->SpinEditWidth), static_cast<QWidget*>(ui->SpinEditHeight),
          static_cast<QWidget*>(ui->LabelWidth), static_cast<QWidget*>(ui->LabelHeight)})
        w->setEnabled(!standard);
}

void TFmLyricsVideoSize::RBtnStandardClick() {
    EnableChoice();
}
void TFmLyricsVideoSize::RBtnCustomClick() {
    EnableChoice();
}

void TFmLyricsVideoSize::BtnDefaultClick() {
    const TVideoMakeSettings defaults;
    ShowSize(defaults.LyricsVideoWidth, defaults.LyricsVideoHeight);
}

QSize TFmLyricsVideoSize::ChosenSize() {
    if (ui->RBtnCustom->isChecked())
        return {ui->SpinEditWidth->Value(), ui->SpinEditHeight->Value()};
    const QStringList parts = ui->ComboBoxSize->currentText().split(u'*');
    return {parts.value(0).toInt(), parts.value(1).toInt()};
}

void TFmLyricsVideoSize::BtnOkClick() {
    const QSize size = ChosenSize();
    FSettings.LyricsVideoWidth = size.width();
    FSettings.LyricsVideoHeight = size.height();
    // Margins that were allowed for a larger size are brought within the new one.
    ClampVideoMakeSettings(FSettings);
    accept();
}
