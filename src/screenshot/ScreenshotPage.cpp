#include "screenshot/ScreenshotPage.h"

#include "state/FloatingWindow.h"
#include "ui_ScreenshotPage.h"

#include <QPainter>
#include <QPixmap>
#include <QRegularExpressionValidator>

namespace {

// A neutral placeholder: a grey photo frame with a small landscape in it.
QPixmap PlaceholderPicture() {
    QPixmap pixmap(240, 180);
    pixmap.fill(QColor(236, 236, 236));
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(170, 170, 170), 3));
    p.drawRoundedRect(QRectF(12, 12, 216, 156), 8, 8);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(200, 200, 200));
    p.drawEllipse(QPointF(170, 60), 16, 16);
    p.setBrush(QColor(185, 185, 185));
    p.drawPolygon(QPolygonF({QPointF(24, 156), QPointF(90, 80), QPointF(140, 156)}));
    p.drawPolygon(QPolygonF({QPointF(110, 156), QPointF(160, 100), QPointF(216, 156)}));
    return pixmap;
}

} // namespace

TScreenshotPage::TScreenshotPage(QWidget* parent)
    : QWidget(parent), ui(std::make_unique<Ui::TScreenshotPage>()) {
    ui->setupUi(this);
    ui->EditNumber->setValidator(new QRegularExpressionValidator(
        QRegularExpression(QStringLiteral("[0-9]{0,8}")), ui->EditNumber));
    ui->EditNumber->setVisible(false);
    connect(ui->ComboBoxName, &QComboBox::activated, this, &TScreenshotPage::ComboBoxNameSelect);
    FitPlaceholder();
}

TScreenshotPage::~TScreenshotPage() = default;

void TScreenshotPage::ShowPictureDir(const QString& dir) {
    ui->EditDir->setText(dir);
}

void TScreenshotPage::ComboBoxNameSelect() {
    ui->EditNumber->setVisible(ui->ComboBoxName->currentIndex() == 1);
}

void TScreenshotPage::FitPlaceholder() {
    if (FPlaceholder.isNull())
        FPlaceholder = PlaceholderPicture();
    const QSize box = ui->ImageScreenshot->size();
    ui->ImageScreenshot->setPixmap(FPlaceholder.scaled(
        box.boundedTo(FPlaceholder.size()), Qt::KeepAspectRatio, Qt::SmoothTransformation));
}

void TScreenshotPage::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    FitPlaceholder();
}

void TScreenshotPage::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    FitPlaceholder();
}

TFmScreenRect::TFmScreenRect(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("FmScreenRect"));
    MakeFloatingToolWindow(this);
}

TFmScreenWindowSet::TFmScreenWindowSet(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("FmScreenWindowSet"));
    MakeFloatingToolWindow(this);
}
