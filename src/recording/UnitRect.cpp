#include "recording/UnitRect.h"

#include "app/state/FloatingWindow.h"

#include <QPainter>
#include <QPolygon>
#include <QRegion>
#include <QTimer>

namespace {
const QColor kFuchsia(255, 0, 255);
const QColor kGreen(0, 160, 0);
constexpr int kBorder = 2;
constexpr int kGrip = 12;
} // namespace

TFmRect::TFmRect(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("FmRect"));
    MakeFloatingToolWindow(this);
    setCursor(Qt::SizeAllCursor);
    setGeometry(98, 48, 324, 244);

    // Other topmost windows may appear later; raise the frame above them regularly.
    FTimer1 = new QTimer(this);
    FTimer1->setInterval(100);
    connect(FTimer1, &QTimer::timeout, this, [this] {
        if (isVisible())
            raise();
    });
    FTimer1->start();

    FTimerBorderColor = new QTimer(this);
    FTimerBorderColor->setInterval(1000);
    connect(FTimerBorderColor, &QTimer::timeout, this, &TFmRect::TimerBorderColorTimer);
    SetWinRect();
}

TFmRect::~TFmRect() = default;

void TFmRect::FitAround(int left, int top, int width, int height) {
    setGeometry(left - kBorder, top - kBorder, width + 2 * kBorder, height + 2 * kBorder);
    SetWinRect();
}

void TFmRect::SetWinRect() {
    const int w = width();
    const int h = height();
    QRegion ring = QRegion(0, 0, w, h).subtracted(
        QRegion(kBorder, kBorder, qMax(0, w - 2 * kBorder), qMax(0, h - 2 * kBorder)));
    const QPolygon grip({QPoint(w - kGrip, h), QPoint(w, h - kGrip), QPoint(w, h)});
    setMask(ring.united(QRegion(grip, Qt::WindingFill)));
    update();
}

void TFmRect::ShowFrame() {
    SetWinRect();
    show();
    raise();
    FTimerBorderColor->start();
}

void TFmRect::HideFrame() {
    hide();
    FTimerBorderColor->stop();
}

QColor TFmRect::BorderColor() const { return FGreen ? kGreen : kFuchsia; }

void TFmRect::TimerBorderColorTimer() {
    FGreen = !FGreen;
    update();
}

void TFmRect::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.fillRect(rect(), BorderColor());
}

void TFmRect::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    SetWinRect();
}
