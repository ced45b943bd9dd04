#include "recording/UnitRect.h"

#include "platform/DesktopInput.h"
#include "platform/PortalScreenCast.h"
#include "state/FloatingWindow.h"

#include <QGuiApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QPolygon>
#include <QRegion>
#include <QScreen>
#include <QTimer>

namespace {
const QColor kFuchsia(255, 0, 255);
const QColor kGreen(0, 160, 0);
constexpr int kBorder = 2;
constexpr int kGrip = 12;
// A drag of the grip starts once the cursor is more than this far from the press.
constexpr int kDragThreshold = 5;

bool OnlyLeftButton(const QMouseEvent* e) {
    return e->buttons() == Qt::LeftButton && e->modifiers() == Qt::NoModifier;
}
} // namespace

TFmRect::TFmRect(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("FmRect"));
    MakeFloatingToolWindow(this);
    setCursor(Qt::SizeAllCursor);

    static const char* const kNames[] = {"PanelTop", "PanelBottom", "PanelLeft", "PanelRight"};
    for (int i = 0; i < 4; ++i) {
        QWidget* panel = new QWidget(this);
        panel->setObjectName(QString::fromLatin1(kNames[i]));
        panel->setCursor(i < 2 ? Qt::SizeVerCursor : Qt::SizeHorCursor);
        panel->installEventFilter(this);
        FPanels[i] = panel;
    }
    FPanelMove = new QWidget(this);
    FPanelMove->setObjectName(QStringLiteral("PanelMove"));
    FPanelMove->setCursor(Qt::SizeAllCursor);
    FPanelMove->installEventFilter(this);

    setGeometry(98, 48, 324, 244);

    // Other topmost windows may appear later; raise the frame above them regularly.
    FTimer1 = new QTimer(this);
    FTimer1->setInterval(100);
    connect(FTimer1, &QTimer::timeout, this, [this] {
        if (isVisible())
            raise();
    });
    FTimer1->start();

    FTimer2 = new QTimer(this);
    FTimer2->setInterval(1);
    FTimer2->setTimerType(Qt::PreciseTimer);
    connect(FTimer2, &QTimer::timeout, this, &TFmRect::Timer2Timer);

    FTimerBorderColor = new QTimer(this);
    FTimerBorderColor->setInterval(1000);
    connect(FTimerBorderColor, &QTimer::timeout, this, &TFmRect::TimerBorderColorTimer);
    PlacePanels();
    SetWinRect();
}

TFmRect::~TFmRect() = default;

void TFmRect::FitAround(int left, int top, int width, int height) {
    setGeometry(left - kBorder, top - kBorder, width + 2 * kBorder, height + 2 * kBorder);
    SetWinRect();
}

QRect TFmRect::Inner() const {
    const QRect g = geometry();
    return QRect(g.x() + kBorder, g.y() + kBorder, g.width() - 2 * kBorder,
                 g.height() - 2 * kBorder);
}

void TFmRect::SetWinRect() {
    const int w = width();
    const int h = height();
    QRegion ring = QRegion(0, 0, w, h)
                       .subtracted(QRegion(kBorder, kBorder, qMax(0, w - 2 * kBorder),
                                           qMax(0, h - 2 * kBorder)));
    const QPolygon grip({QPoint(w - kGrip, h), QPoint(w, h - kGrip), QPoint(w, h)});
    setMask(ring.united(QRegion(grip, Qt::WindingFill)));
    update();
}

void TFmRect::PlacePanels() {
    const int w = width();
    const int h = height();
    FPanels[0]->setGeometry(kBorder, 0, qMax(0, w - 2 * kBorder), kBorder);
    FPanels[1]->setGeometry(kBorder, h - kBorder, qMax(0, w - 2 * kBorder), kBorder);
    FPanels[2]->setGeometry(0, 0, kBorder, h);
    FPanels[3]->setGeometry(w - kBorder, 0, kBorder, h);
    FPanelMove->setGeometry(w - kGrip, h - kGrip, kGrip, kGrip);
    FPanelMove->raise();
}

void TFmRect::ShowFrame() {
    // A Wayland client cannot place a window over the others: no frame there.
    if (TPortalScreenCast::IsWaylandSession())
        return;
    SetWinRect();
    show();
    raise();
    FTimerBorderColor->start();
}

void TFmRect::HideFrame() {
    hide();
    FTimerBorderColor->stop();
}

QColor TFmRect::BorderColor() const {
    return FGreen ? kGreen : kFuchsia;
}

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
    PlacePanels();
    SetWinRect();
}

bool TFmRect::eventFilter(QObject* watched, QEvent* event) {
    const QEvent::Type type = event->type();
    if (type != QEvent::MouseButtonPress && type != QEvent::MouseMove &&
        type != QEvent::MouseButtonRelease)
        return QWidget::eventFilter(watched, event);
    const auto* e = static_cast<QMouseEvent*>(event);
    if (watched == FPanelMove) {
        if (type == QEvent::MouseButtonPress && OnlyLeftButton(e))
            PanelMoveMouseDown(e->globalPosition().toPoint());
        else if (type == QEvent::MouseMove && OnlyLeftButton(e))
            PanelMoveMouseMove(e->globalPosition().toPoint());
        else if (type == QEvent::MouseButtonRelease)
            PanelMoveMouseUp();
        return true;
    }
    for (int i = 0; i < 4; ++i)
        if (watched == FPanels[i]) {
            if (type == QEvent::MouseButtonPress && OnlyLeftButton(e))
                PanelMouseDown(i + 1);
            return true;
        }
    return QWidget::eventFilter(watched, event);
}

void TFmRect::PanelMouseDown(int tag) {
    OldCurPos = DesktopInput::CursorPos();
    OldTop = y();
    OldLeft = x();
    OldWidth = width();
    OldHeight = height();
    FDragTag = tag;
    FTimer2->start();
}

void TFmRect::Timer2Timer() {
    const QPoint pos = DesktopInput::CursorPos();
    QRect g = geometry();
    switch (FDragTag) {
    case 1: { // top: the bottom edge stays
        const int h = OldTop + OldHeight - pos.y();
        if (h > 5)
            g = QRect(g.x(), pos.y(), g.width(), h);
        break;
    }
    case 2: { // bottom
        const int h = pos.y() + OldHeight - OldCurPos.y();
        if (h > 5)
            g.setHeight(h);
        break;
    }
    case 3: { // left: the right edge stays
        const int w = OldLeft + OldWidth - pos.x();
        if (w > 11)
            g = QRect(pos.x(), g.y(), w, g.height());
        break;
    }
    case 4: { // right
        const int w = pos.x() + OldWidth - OldCurPos.x();
        if (w > 11)
            g.setWidth(w);
        break;
    }
    default:
        break;
    }
    if (g != geometry()) {
        setGeometry(g);
        SetWinRect();
    }
    if (!DesktopInput::LeftButtonDown()) {
        FTimer2->stop();
        FDragTag = 0;
        emit EdgeDragFinished();
    }
}

void TFmRect::PanelMoveMouseDown(QPoint globalPos) {
    OldCurPos = globalPos;
    OldTop = y();
    OldLeft = x();
}

void TFmRect::PanelMoveMouseMove(QPoint globalPos) {
    const QPoint d = globalPos - OldCurPos;
    if (qAbs(d.x()) > kDragThreshold || qAbs(d.y()) > kDragThreshold)
        WndIsDrag = true;
    if (WndIsDrag)
        move(OldLeft + d.x(), OldTop + d.y());
}

void TFmRect::PanelMoveMouseUp() {
    const QScreen* screen = QGuiApplication::primaryScreen();
    const QSize s = screen != nullptr ? screen->geometry().size() : QSize(width(), height());
    int top = y();
    int left = x();
    if (top < -kBorder)
        top = -kBorder;
    if (top + height() >= s.height() + kBorder)
        top = s.height() - height() + kBorder;
    if (left < -kBorder)
        left = -kBorder;
    if (left + width() >= s.width() + kBorder)
        left = s.width() - width() + kBorder;
    move(left, top);
    emit MoveFinished();
}
