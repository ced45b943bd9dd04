#include "recording/UnitToolHint.h"

#include "app/state/FloatingWindow.h"

TFmToolHint::TFmToolHint(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("FmToolHint"));
    MakeFloatingToolWindow(this);
}

TFmToolHint::~TFmToolHint() = default;
