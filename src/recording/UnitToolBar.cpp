#include "recording/UnitToolBar.h"

#include "app/state/FloatingWindow.h"

TFmToolBar::TFmToolBar(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("FmToolBar"));
    MakeFloatingToolWindow(this);
    setFixedSize(208, 30);
}

TFmToolBar::~TFmToolBar() = default;

void TFmToolBar::SetShowWindowHint(const QString& hint) { FShowWindowHint = hint; }
