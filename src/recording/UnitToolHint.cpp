#include "recording/UnitToolHint.h"

#include "state/FloatingWindow.h"

#include <QFontMetrics>
#include <QLabel>
#include <QTimer>
#include <QToolTip>

TFmToolHint::TFmToolHint(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("FmToolHint"));
    MakeFloatingToolWindow(this);

    // A black frame with a 1-pixel margin in the tooltip colour around the text.
    QPalette frame = palette();
    frame.setColor(QPalette::Window, Qt::black);
    setPalette(frame);
    setAutoFillBackground(true);

    FLabel = new QLabel(this);
    FLabel->setObjectName(QStringLiteral("LabelHint"));
    QFont font(QStringLiteral("Tahoma"));
    font.setPixelSize(11);
    FLabel->setFont(font);
    QPalette tip = FLabel->palette();
    tip.setColor(QPalette::Window, QToolTip::palette().color(QPalette::ToolTipBase));
    tip.setColor(QPalette::WindowText, QToolTip::palette().color(QPalette::ToolTipText));
    FLabel->setPalette(tip);
    FLabel->setAutoFillBackground(true);
    FLabel->setAlignment(Qt::AlignCenter);

    FTimer1 = new QTimer(this);
    FTimer1->setInterval(100);
    connect(FTimer1, &QTimer::timeout, this, [this] { raise(); });
    FTimerHide = new QTimer(this);
    FTimerHide->setInterval(5000);
    FTimerHide->setSingleShot(true);
    connect(FTimerHide, &QTimer::timeout, this, &TFmToolHint::HideHint);
}

TFmToolHint::~TFmToolHint() = default;

QString TFmToolHint::Text() const {
    return FLabel->text();
}

void TFmToolHint::ShowHint(int x, int y, const QString& text) {
    FLabel->setText(text);
    const QFontMetrics metrics(FLabel->font());
    const QSize textSize = metrics.size(0, text);
    // Client: the text plus a 1-pixel frame and a 1-pixel margin on every side.
    setGeometry(x, y, textSize.width() + 4, textSize.height() + 4);
    FLabel->setGeometry(1, 1, textSize.width() + 2, textSize.height() + 2);
    show();
    raise();
    FTimer1->start();
    FTimerHide->start();
}

void TFmToolHint::HideHint() {
    FLabel->clear();
    hide();
    FTimer1->stop();
    FTimerHide->stop();
}
