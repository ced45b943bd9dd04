#include "recording/UnitToolBar.h"

#include "media/FFEncode.h"
#include "recording/UnitToolHint.h"
#include "state/FloatingWindow.h"
#include "state/Icons.h"
#include "state/ProgramState.h"
#include "ui_UnitToolBar.h"

#include <QApplication>
#include <QMouseEvent>
#include <QScreen>
#include <QTimer>

TFmToolBar::TFmToolBar(TFmToolHint* toolHint, QWidget* parent)
    : QWidget(parent), ui(std::make_unique<Ui::TFmToolBar>()), FToolHint(toolHint) {
    ui->setupUi(this);
    setObjectName(QStringLiteral("FmToolBar"));
    MakeFloatingToolWindow(this);
    setFixedSize(208, 30);
    QFont font(QStringLiteral("Tahoma"));
    font.setPixelSize(11);
    setFont(font);

    ui->SBtnResume->setIcon(ToolButtonIcon(QStringLiteral("resume")));
    ui->SBtnPause->setIcon(ToolButtonIcon(QStringLiteral("pause")));
    ui->SBtnStop->setIcon(ToolButtonIcon(QStringLiteral("stop")));
    ui->SBtnStart->setIcon(ToolButtonIcon(QStringLiteral("record")));
    ui->SBtnShowWindow->setIcon(ToolButtonIcon(QStringLiteral("window")));

    // The labels and the border drag the window; the buttons and labels show hints
    // in the toolbar's own tooltip window.
    for (QWidget* w : std::initializer_list<QWidget*>{ui->PanelBorder, ui->LabelTime, ui->LabelSize,
                                                      ui->SBtnStart, ui->SBtnResume, ui->SBtnPause,
                                                      ui->SBtnStop, ui->SBtnShowWindow})
        w->installEventFilter(this);

    connect(ui->SBtnShowWindow, &QToolButton::clicked, this, &TFmToolBar::SBtnShowWindowClick);

    // Other topmost windows may appear later; raise the toolbar above them regularly.
    FTimer1 = new QTimer(this);
    FTimer1->setInterval(100);
    connect(FTimer1, &QTimer::timeout, this, [this] { raise(); });
    FormCreate();
}

TFmToolBar::~TFmToolBar() {
    FormCloseQuery();
}

void TFmToolBar::FormCreate() {
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    const TProfile settings = ProgramState().Settings();
    const int left = settings.ReadInteger(GeneralSection(), QStringLiteral("ToolBarLeft"),
                                          (screen.width() - width()) / 2);
    const int top = settings.ReadInteger(GeneralSection(), QStringLiteral("ToolBarTop"), 0);
    move(left, top);
    ClampToScreen();
}

void TFmToolBar::ClampToScreen() {
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    int left = x();
    int top = y();
    if (top < 0)
        top = 0;
    if (left < 0)
        left = 0;
    if (left + width() >= screen.width())
        left = screen.width() - width();
    if (top + height() >= screen.height())
        top = screen.height() - height();
    move(left, top);
}

void TFmToolBar::SetShowWindowHint(const QString& hint) {
    ui->SBtnShowWindow->setToolTip(hint);
}
QString TFmToolBar::ShowWindowHint() const {
    return ui->SBtnShowWindow->toolTip();
}

void TFmToolBar::SBtnShowWindowClick() {
    TMainWindowLink* main = ProgramState().MainWindow;
    if (main == nullptr)
        return;
    // A minimized window (a desktop without a tray) counts as hidden.
    if (main->Window()->isVisible() && !main->Window()->isMinimized()) {
        main->HideMainWindow();
        SetShowWindowHint(QStringLiteral("显示主窗口"));
    } else {
        main->ShowMainWindow();
        SetShowWindowHint(QStringLiteral("隐藏主窗口"));
    }
}

void TFmToolBar::LabelTimeMouseDown() {
    WndIsDrag = false;
    FPressed = true;
    OldCurPos = QCursor::pos();
    OldLeft = x();
    OldTop = y();
    QApplication::setOverrideCursor(Qt::SizeAllCursor);
}

void TFmToolBar::LabelTimeMouseMove(Qt::MouseButtons buttons, Qt::KeyboardModifiers modifiers) {
    // Only a plain left-button drag moves the window.
    if (!FPressed || buttons != Qt::LeftButton || modifiers != Qt::NoModifier)
        return;
    const QPoint cursor = QCursor::pos();
    if (qAbs(cursor.x() - OldCurPos.x()) > 5 || qAbs(cursor.y() - OldCurPos.y()) > 5)
        WndIsDrag = true;
    if (WndIsDrag)
        move(OldLeft + cursor.x() - OldCurPos.x(), OldTop + cursor.y() - OldCurPos.y());
}

void TFmToolBar::LabelTimeMouseUp() {
    if (!FPressed)
        return;
    FPressed = false;
    ClampToScreen();
    if (WndIsDrag) {
        const TProfile settings = ProgramState().Settings();
        settings.WriteInteger(GeneralSection(), QStringLiteral("ToolBarLeft"), x());
        settings.WriteInteger(GeneralSection(), QStringLiteral("ToolBarTop"), y());
        WndIsDrag = false;
    }
    QApplication::restoreOverrideCursor();
}

QPoint TFmToolBar::HintPlace(const QWidget* control) const {
    // Below the toolbar, at the control's left edge.
    return {x() + control->mapTo(this, QPoint(0, 0)).x(), y() + height() + 6};
}

void TFmToolBar::SBtnResumeMouseEnter(QWidget* control) {
    if (FToolHint == nullptr)
        return;
    FHintControl = control;
    const QPoint place = HintPlace(control);
    FToolHint->ShowHint(place.x(), place.y(), control->toolTip());
}

void TFmToolBar::SBtnResumeMouseLeave() {
    FHintControl = nullptr;
    if (FToolHint != nullptr)
        FToolHint->HideHint();
}

void TFmToolBar::moveEvent(QMoveEvent* event) {
    QWidget::moveEvent(event);
    // A hint that is up travels with the toolbar.
    if (FToolHint != nullptr && FHintControl != nullptr && FToolHint->isVisible())
        FToolHint->move(HintPlace(FHintControl));
}

bool TFmToolBar::eventFilter(QObject* watched, QEvent* event) {
    auto* widget = qobject_cast<QWidget*>(watched);
    // Presses on the labels and the inner panel are not taken by them and reach the
    // border panel, so the border alone handles the drag.
    const bool dragSurface = watched == ui->PanelBorder;
    const bool hinted = qobject_cast<QToolButton*>(watched) != nullptr ||
                        watched == ui->LabelTime || watched == ui->LabelSize;
    switch (event->type()) {
    case QEvent::MouseButtonPress:
        if (dragSurface) {
            LabelTimeMouseDown();
            return true;
        }
        break;
    case QEvent::MouseMove:
        if (dragSurface) {
            const auto* mouse = static_cast<QMouseEvent*>(event);
            LabelTimeMouseMove(mouse->buttons(), mouse->modifiers());
        }
        break;
    case QEvent::MouseButtonRelease:
        if (dragSurface)
            LabelTimeMouseUp();
        break;
    case QEvent::Enter:
        if (hinted && widget != nullptr)
            SBtnResumeMouseEnter(widget);
        break;
    case QEvent::Leave:
        if (hinted)
            SBtnResumeMouseLeave();
        break;
    case QEvent::EnabledChange:
        // A control that becomes disabled under its hint takes the hint away.
        if (widget != nullptr && widget == FHintControl && !widget->isEnabled())
            SBtnResumeMouseLeave();
        break;
    case QEvent::ToolTip:
        // The toolbar's own tooltip window shows the hints.
        return hinted;
    default:
        break;
    }
    return QWidget::eventFilter(watched, event);
}

void TFmToolBar::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    FTimer1->start();
}

void TFmToolBar::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    FTimer1->stop();
}

QToolButton* TFmToolBar::SBtnStart() const {
    return ui->SBtnStart;
}
QToolButton* TFmToolBar::SBtnResume() const {
    return ui->SBtnResume;
}
QToolButton* TFmToolBar::SBtnPause() const {
    return ui->SBtnPause;
}
QToolButton* TFmToolBar::SBtnStop() const {
    return ui->SBtnStop;
}
QToolButton* TFmToolBar::SBtnShowWindow() const {
    return ui->SBtnShowWindow;
}
QLabel* TFmToolBar::LabelTime() const {
    return ui->LabelTime;
}
QLabel* TFmToolBar::LabelSize() const {
    return ui->LabelSize;
}
