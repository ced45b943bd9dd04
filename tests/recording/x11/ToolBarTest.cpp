#include "platform/Profile.h"
#include "recording/UnitToolBar.h"
#include "recording/UnitToolHint.h"
#include "state/ProgramState.h"
#include "support/Sandbox.h"

#include <QCursor>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QLabel>
#include <QMouseEvent>
#include <QScreen>
#include <QTest>
#include <QToolButton>
#include <gtest/gtest.h>

namespace {

class ToolBarTest : public ::testing::Test {
protected:
    TSandbox Box;
    TFmToolHint Hint;
    std::unique_ptr<TFmToolBar> Bar;
    QRect Screen = QGuiApplication::primaryScreen()->geometry();

    void SetUp() override {
        ProgramState().IniFileName = Box.File(QStringLiteral("Vexmira20.ini"));
    }
    void TearDown() override { ProgramState().IniFileName.clear(); }

    void Create() {
        Bar = std::make_unique<TFmToolBar>(&Hint);
        Bar->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(Bar.get()));
    }
    void WriteSaved(int left, int top) {
        const TProfile settings = ProgramState().Settings();
        settings.WriteInteger(QStringLiteral("General"), QStringLiteral("ToolBarLeft"), left);
        settings.WriteInteger(QStringLiteral("General"), QStringLiteral("ToolBarTop"), top);
    }
    int Saved(const char* key) const {
        return ProgramState().Settings().ReadInteger(QStringLiteral("General"),
                                                     QString::fromLatin1(key), -12345);
    }
    QWidget* Border() const { return Bar->findChild<QWidget*>(QStringLiteral("PanelBorder")); }

    // A drag on the border by (dx, dy) with the given buttons and keys held during the move.
    void Drag(int dx, int dy, Qt::KeyboardModifiers keys = Qt::NoModifier) {
        QWidget* border = Border();
        const QPoint local(3, 3);
        const QPoint start = border->mapToGlobal(local);
        QCursor::setPos(start);
        Send(border, QEvent::MouseButtonPress, local, Qt::LeftButton, Qt::NoModifier);
        QCursor::setPos(start + QPoint(dx, dy));
        Send(border, QEvent::MouseMove, local + QPoint(dx, dy), Qt::LeftButton, keys);
        Send(border, QEvent::MouseButtonRelease, local + QPoint(dx, dy), Qt::NoButton,
             Qt::NoModifier);
    }
    static void Send(QWidget* w, QEvent::Type type, QPoint local, Qt::MouseButtons buttons,
                     Qt::KeyboardModifiers keys) {
        QMouseEvent event(type, QPointF(local), QPointF(w->mapToGlobal(local)),
                          type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton, buttons, keys);
        QCoreApplication::sendEvent(w, &event);
    }
};

TEST_F(ToolBarTest, StartsCentredAtTheTopAndNeverTakesFocus) {
    Create();
    EXPECT_EQ(Bar->pos(), QPoint((Screen.width() - Bar->width()) / 2, 0));
    EXPECT_TRUE(Bar->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    EXPECT_TRUE(Bar->windowFlags().testFlag(Qt::WindowDoesNotAcceptFocus));
    EXPECT_EQ(Bar->LabelTime()->text(), QStringLiteral("00:00:00"));
    EXPECT_EQ(Bar->LabelSize()->text(), QStringLiteral("0.0MB"));
    EXPECT_FALSE(Bar->SBtnStart()->isVisible());
    EXPECT_FALSE(Bar->SBtnPause()->isEnabled());
    EXPECT_FALSE(Bar->SBtnResume()->isEnabled());
    EXPECT_FALSE(Bar->SBtnStop()->isEnabled());
}

TEST_F(ToolBarTest, SavedPlaceOutsideTheScreenIsPulledBackIn) {
    WriteSaved(5000, -50);
    Create();
    EXPECT_EQ(Bar->pos(), QPoint(Screen.width() - Bar->width(), 0));

    WriteSaved(-30, 5000);
    Create();
    EXPECT_EQ(Bar->pos(), QPoint(0, Screen.height() - Bar->height()));

    WriteSaved(400, 300);
    Create();
    EXPECT_EQ(Bar->pos(), QPoint(400, 300));
}

TEST_F(ToolBarTest, DragMovesOnlyBeyondFivePixelsAndSavesThePlace) {
    WriteSaved(400, 300);
    Create();

    Drag(4, -5);
    EXPECT_EQ(Bar->pos(), QPoint(400, 300));
    EXPECT_EQ(Saved("ToolBarLeft"), 400);

    Drag(40, 25);
    EXPECT_EQ(Bar->pos(), QPoint(440, 325));
    EXPECT_EQ(Saved("ToolBarLeft"), 440);
    EXPECT_EQ(Saved("ToolBarTop"), 325);

    // Only a plain left-button drag moves the window.
    Drag(60, 60, Qt::ControlModifier);
    EXPECT_EQ(Bar->pos(), QPoint(440, 325));
}

TEST_F(ToolBarTest, DragPastTheEdgeEndsInsideTheScreen) {
    WriteSaved(100, 100);
    Create();
    Drag(-300, -300);
    EXPECT_EQ(Bar->pos(), QPoint(0, 0));
    EXPECT_EQ(Saved("ToolBarLeft"), 0);
    EXPECT_EQ(Saved("ToolBarTop"), 0);
}

TEST_F(ToolBarTest, HintBelowTheButtonHidesAfterFiveSeconds) {
    WriteSaved(400, 300);
    Create();
    QToolButton* stop = Bar->SBtnStop();
    QEnterEvent enter(QPointF(2, 2), QPointF(2, 2), QPointF(stop->mapToGlobal(QPoint(2, 2))));
    QCoreApplication::sendEvent(stop, &enter);
    ASSERT_TRUE(Hint.isVisible());
    EXPECT_EQ(Hint.Text(), stop->toolTip());
    EXPECT_FALSE(Hint.Text().isEmpty());
    EXPECT_EQ(Hint.x(), stop->mapToGlobal(QPoint(0, 0)).x());
    EXPECT_EQ(Hint.y(), Bar->y() + Bar->height() + 6);

    QElapsedTimer clock;
    clock.start();
    ASSERT_TRUE(PumpUntil([&] { return !Hint.isVisible(); }, 8000));
    EXPECT_GE(clock.elapsed(), 4500);

    // Leaving a button hides the hint at once.
    QCoreApplication::sendEvent(stop, &enter);
    ASSERT_TRUE(Hint.isVisible());
    QEvent leave(QEvent::Leave);
    QCoreApplication::sendEvent(stop, &leave);
    EXPECT_FALSE(Hint.isVisible());
}

TEST_F(ToolBarTest, HintFollowsADraggedToolBarAndGoesWithItsDisabledButton) {
    WriteSaved(400, 300);
    Create();
    QToolButton* pause = Bar->SBtnPause();
    pause->setEnabled(true);
    QEnterEvent enter(QPointF(2, 2), QPointF(2, 2), QPointF(pause->mapToGlobal(QPoint(2, 2))));
    QCoreApplication::sendEvent(pause, &enter);
    ASSERT_TRUE(Hint.isVisible());
    const QPoint before = Hint.pos();
    Drag(40, 25);
    ASSERT_EQ(Bar->pos(), QPoint(440, 325));
    EXPECT_TRUE(Hint.isVisible());
    EXPECT_EQ(Hint.pos(), before + QPoint(40, 25));
    EXPECT_EQ(Hint.y(), Bar->y() + Bar->height() + 6);

    // The recording state disables the button under the hint: the hint goes.
    pause->setEnabled(false);
    EXPECT_FALSE(Hint.isVisible());
    // A hint that is down stays down when the toolbar moves.
    Drag(-40, -25);
    EXPECT_FALSE(Hint.isVisible());
}

} // namespace
