#include "recording/UnitSetRect.h"

#include "platform/DesktopInput.h"
#include "state/FloatingWindow.h"

#include <QTimer>

namespace {
constexpr int kHalfSize = 10;
}

TFmSetRect::TFmSetRect(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("FmSetRect"));
    MakeFloatingToolWindow(this);
    setGeometry(0, 0, 2 * kHalfSize, 2 * kHalfSize);
    setWindowOpacity(1.0 / 255.0);
    setCursor(Qt::CrossCursor);

    FTimer1 = new QTimer(this);
    FTimer1->setInterval(1);
    FTimer1->setTimerType(Qt::PreciseTimer);
    connect(FTimer1, &QTimer::timeout, this, &TFmSetRect::Timer1Timer);
}

TFmSetRect::~TFmSetRect() = default;

void TFmSetRect::StartSelection() {
    FAnchor = QPoint(-1, -1);
    move(DesktopInput::CursorPos() - QPoint(kHalfSize, kHalfSize));
    show();
    raise();
    FTimer1->start();
}

void TFmSetRect::EndSelection() {
    FTimer1->stop();
    hide();
}

void TFmSetRect::Timer1Timer() {
    raise();
    const QPoint pos = DesktopInput::CursorPos();
    move(pos - QPoint(kHalfSize, kHalfSize));
    const bool down = DesktopInput::LeftButtonDown();
    const bool anchored = FAnchor.x() != -1;
    if (down && !anchored) {
        FAnchor = pos;
        emit SelectionStarted(FAnchor);
    } else if (down) {
        emit SelectionChanged(
            QRect(QPoint(qMin(FAnchor.x(), pos.x()), qMin(FAnchor.y(), pos.y())),
                  QSize(qAbs(pos.x() - FAnchor.x()), qAbs(pos.y() - FAnchor.y()))));
    } else if (anchored) {
        FAnchor = QPoint(-1, -1);
        EndSelection();
        emit SelectionFinished();
    }
}
