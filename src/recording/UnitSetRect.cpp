#include "recording/UnitSetRect.h"

#include "app/state/FloatingWindow.h"

TFmSetRect::TFmSetRect(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("FmSetRect"));
    MakeFloatingToolWindow(this);
    setGeometry(0, 0, 20, 20);
    setWindowOpacity(1.0 / 255.0);
    setCursor(Qt::CrossCursor);
}

TFmSetRect::~TFmSetRect() = default;
