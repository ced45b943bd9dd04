#include "recording/UnitVideoSize.h"

#include "ui_UnitVideoSize.h"

#include <QComboBox>

namespace {

// Guards a change made by the dialog itself; cleared again however the change ends.
class TChangeGuard {
public:
    explicit TChangeGuard(bool& flag) : FFlag(flag) { FFlag = true; }
    ~TChangeGuard() { FFlag = false; }
    TChangeGuard(const TChangeGuard&) = delete;
    TChangeGuard& operator=(const TChangeGuard&) = delete;

private:
    bool& FFlag;
};

// trunc(part / whole × 100) and trunc(whole × percent / 100) in exact integer arithmetic,
// so that 58 of 200 is 29 % and not 28.999…
int PercentOf(int part, int whole) {
    return whole > 0 ? static_cast<int>(qint64(part) * 100 / whole) : 0;
}
int Percentage(int whole, int percent) {
    return static_cast<int>(qint64(whole) * percent / 100);
}

} // namespace

TFmVideoSize::TFmVideoSize(QWidget* mainWindow, QComboBox* sizeBox, int referenceWidth,
                           int referenceHeight)
    : QDialog(mainWindow), ui(std::make_unique<Ui::TFmVideoSize>()), FSizeBox(sizeBox),
      FReferenceWidth(referenceWidth), FReferenceHeight(referenceHeight) {
    ui->setupUi(this);
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                   Qt::MSWindowsFixedSizeDialogHint);
    setFixedSize(size());

    Change = false;
    ui->SpinEditWidth->SetValue(FReferenceWidth);
    ui->SpinEditHeight->SetValue(FReferenceHeight);
    ui->SpinEditWidth->setMaximum(qMax(FReferenceWidth, ui->SpinEditWidth->minimum()));
    ui->SpinEditHeight->setMaximum(qMax(FReferenceHeight, ui->SpinEditHeight->minimum()));

    connect(ui->SpinEditPer, &QSpinBox::valueChanged, this, &TFmVideoSize::SpinEditPerChange);
    connect(ui->SpinEditWidth, &QSpinBox::valueChanged, this, &TFmVideoSize::SpinEditWidthChange);
    connect(ui->SpinEditHeight, &QSpinBox::valueChanged, this, &TFmVideoSize::SpinEditHeightChange);
    connect(ui->BtnOk, &QPushButton::clicked, this, &TFmVideoSize::BtnOkClick);
    connect(ui->BtnCancel, &QPushButton::clicked, this, &QDialog::reject);
}

TFmVideoSize::~TFmVideoSize() = default;

void TFmVideoSize::SpinEditPerChange() {
    if (Change)
        return;
    ui->SpinEditWidth->SetValue(Percentage(FReferenceWidth, ui->SpinEditPer->value()));
    // The width box may have moved the percentage; the height follows what it shows now.
    ui->SpinEditHeight->SetValue(Percentage(FReferenceHeight, ui->SpinEditPer->value()));
}

void TFmVideoSize::SpinEditWidthChange() {
    if (Change || !ui->CheckBoxProportion->isChecked())
        return;
    const TChangeGuard guard(Change);
    ui->SpinEditPer->SetValue(PercentOf(ui->SpinEditWidth->value(), FReferenceWidth));
    ui->SpinEditHeight->SetValue(Percentage(FReferenceHeight, ui->SpinEditPer->value()));
}

void TFmVideoSize::SpinEditHeightChange() {
    if (Change || !ui->CheckBoxProportion->isChecked())
        return;
    const TChangeGuard guard(Change);
    ui->SpinEditPer->SetValue(PercentOf(ui->SpinEditHeight->value(), FReferenceHeight));
    ui->SpinEditWidth->SetValue(Percentage(FReferenceWidth, ui->SpinEditPer->value()));
}

void TFmVideoSize::BtnOkClick() {
    const QString text = QString::number(ui->SpinEditWidth->Value()) + u'*' +
                         QString::number(ui->SpinEditHeight->Value());
    int index = FSizeBox->findText(text, Qt::MatchExactly);
    if (index < 0) {
        FSizeBox->addItem(text);
        index = FSizeBox->count() - 1;
    }
    FSizeBox->setCurrentIndex(index);
    accept();
}
