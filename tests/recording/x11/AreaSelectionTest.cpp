#include "RecordingWindows.h"

#include <QPushButton>
#include <QRadioButton>
#include <QScreen>

namespace {

using AreaSelectionTest = RecordingWindowsTest;

const QByteArray kRectMode = "ScreenCapture=0\n";

} // namespace

TEST_F(AreaSelectionTest, DraggingOutARectangleFillsTheSpinBoxesAndFramesIt) {
    Start(kRectMode);
    MoveTo(500, 400);
    Page()->BtnSelectRect()->click();
    PumpEvents(30);
    EXPECT_TRUE(ProgramState().SelectionInProgress);
    EXPECT_FALSE(Main()->isVisible());
    // The selection window sits under the cursor, so the press lands on it.
    EXPECT_TRUE(SetRect()->isVisible());
    EXPECT_EQ(SetRect()->geometry(), QRect(490, 390, 20, 20));

    Down();
    EXPECT_EQ(Frame()->geometry(), QRect(498, 398, 4, 4));
    EXPECT_TRUE(Frame()->isVisible());
    MoveTo(420, 310);
    MoveTo(300, 250);
    EXPECT_EQ(SetRect()->geometry(), QRect(290, 240, 20, 20));
    EXPECT_EQ(Frame()->geometry(), QRect(298, 248, 204, 154));
    // Nothing is taken before the button is let go.
    EXPECT_EQ(SpinRect(), QRect(100, 50, 320, 240));
    Up();

    EXPECT_EQ(SpinRect(), QRect(300, 250, 200, 150));
    EXPECT_EQ(Frame()->geometry(), QRect(298, 248, 204, 154));
    EXPECT_TRUE(Frame()->isVisible());
    EXPECT_FALSE(SetRect()->isVisible());
    EXPECT_TRUE(Main()->isVisible());
    EXPECT_FALSE(ProgramState().SelectionInProgress);
    EXPECT_FALSE(ProgramState().SpinSyncGuard);
}

TEST_F(AreaSelectionTest, AClickWithoutDraggingGivesTheSmallestRectangle) {
    Start(kRectMode + "HideBorder=1\n");
    MoveTo(700, 500);
    Page()->BtnSelectRect()->click();
    PumpEvents(30);
    Down();
    Up();
    EXPECT_EQ(SpinRect(), QRect(700, 500, 8, 2));
    // The hidden border stays hidden, and the frame already lies around the new size.
    EXPECT_FALSE(Frame()->isVisible());
    EXPECT_EQ(Frame()->geometry(), QRect(698, 498, 12, 6));
    EXPECT_TRUE(Main()->isVisible());
}

TEST_F(AreaSelectionTest, EdgesStopAtTheSmallestRectangle) {
    Start(kRectMode);
    ASSERT_EQ(Frame()->geometry(), QRect(98, 48, 324, 244));

    // The bottom edge follows the cursor by its distance from the press.
    MoveTo(250, 291);
    Down();
    MoveTo(250, 191);
    EXPECT_EQ(Frame()->geometry(), QRect(98, 48, 324, 144));
    // Nothing is taken before the button is let go.
    EXPECT_EQ(SpinRect(), QRect(100, 50, 320, 240));
    Up();
    EXPECT_EQ(SpinRect(), QRect(100, 50, 320, 140));
    EXPECT_TRUE(Main()->isVisible());

    // The top edge pulled down to the bottom one: a frame height of 6 is the last taken.
    MoveTo(250, 49);
    Down();
    MoveTo(250, 120);
    EXPECT_EQ(Frame()->geometry(), QRect(98, 120, 324, 72));
    MoveTo(250, 186);
    EXPECT_EQ(Frame()->geometry(), QRect(98, 186, 324, 6));
    MoveTo(250, 187);
    MoveTo(250, 300);
    EXPECT_EQ(Frame()->geometry(), QRect(98, 186, 324, 6));
    Up();
    EXPECT_EQ(SpinRect(), QRect(100, 188, 320, 2));
    EXPECT_EQ(Frame()->geometry(), QRect(98, 186, 324, 6));

    // The left edge pulled right: a frame width of 12 is the last taken.
    MoveTo(99, 187);
    Down();
    MoveTo(410, 187);
    MoveTo(411, 187);
    MoveTo(600, 187);
    EXPECT_EQ(Frame()->geometry(), QRect(410, 186, 12, 6));
    Up();
    EXPECT_EQ(SpinRect(), QRect(412, 188, 8, 2));
    EXPECT_FALSE(ProgramState().SpinSyncGuard);
}

TEST_F(AreaSelectionTest, AnEdgePulledWithAModifierHeldDoesNothing) {
    Start(kRectMode);
    Input.KeyDown("Control_L");
    MoveTo(250, 49);
    Down();
    MoveTo(250, 120);
    Up();
    Input.KeyUp("Control_L");
    PumpEvents(20);
    EXPECT_EQ(Frame()->geometry(), QRect(98, 48, 324, 244));
    EXPECT_EQ(SpinRect(), QRect(100, 50, 320, 240));
}

TEST_F(AreaSelectionTest, TheGripMovesTheFrameAndKeepsItOnTheScreen) {
    Start(kRectMode);
    // A small movement of the grip is not yet a drag.
    MoveTo(419, 289);
    Down();
    MoveTo(416, 287);
    EXPECT_EQ(Frame()->geometry(), QRect(98, 48, 324, 244));
    MoveTo(409, 289);
    EXPECT_EQ(Frame()->geometry(), QRect(88, 48, 324, 244));
    // Partly off the left edge: on release the frame's left is -2, the rectangle's 0.
    MoveTo(219, 309);
    EXPECT_EQ(Frame()->pos(), QPoint(-102, 68));
    Up();
    EXPECT_EQ(Frame()->pos(), QPoint(-2, 68));
    EXPECT_EQ(SpinRect(), QRect(0, 70, 320, 240));
    EXPECT_FALSE(ProgramState().SpinSyncGuard);
}

TEST_F(AreaSelectionTest, AWindowPickTakesTheWindowUnderTheCursor) {
    TForeignClient other;
    ASSERT_TRUE(other.IsOpen());
    const unsigned long window = other.CreateWindow(QRect(60, 620, 400, 300));
    ASSERT_NE(window, 0u);
    const QRect target = Managed(window);
    Start(kRectMode);
    MoveTo(200, 700);
    Page()->BtnSelectWindow()->click();
    PumpEvents(40);
    EXPECT_FALSE(Main()->isVisible());
    EXPECT_TRUE(ProgramState().SelectionInProgress);
    // The frame follows the window under the cursor while the pick waits for a key.
    EXPECT_TRUE(Frame()->isVisible());
    EXPECT_EQ(Frame()->geometry(), target.adjusted(-2, -2, 2, 2));
    MoveTo(150, 100);
    EXPECT_NE(Frame()->geometry(), target.adjusted(-2, -2, 2, 2));
    MoveTo(300, 800);

    Input.KeyDown("Shift_L");
    PumpEvents(40);
    EXPECT_NE(Page()->LastKey, 0);
    EXPECT_FALSE(Main()->isVisible());
    Input.KeyUp("Shift_L");
    PumpEvents(40);
    EXPECT_EQ(SpinRect(), target);
    EXPECT_EQ(Frame()->geometry(), target.adjusted(-2, -2, 2, 2));
    EXPECT_TRUE(Frame()->isVisible());
    EXPECT_TRUE(Main()->isVisible());
    EXPECT_FALSE(ProgramState().SelectionInProgress);
}

TEST_F(AreaSelectionTest, AMouseButtonEndsAWindowPickOverTheDesktop) {
    Start(kRectMode + "HideBorder=1\n");
    MoveTo(5, 1070);
    Page()->BtnSelectWindow()->click();
    PumpEvents(30);
    Down();
    EXPECT_EQ(Page()->LastKey, 1);
    Up();
    // No window lies there: the whole screen, and the hidden border stays hidden.
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    EXPECT_EQ(SpinRect(), screen);
    EXPECT_FALSE(Frame()->isVisible());
}

TEST_F(AreaSelectionTest, SwitchingProgramsHidesAndShowsTheFrame) {
    TForeignClient other;
    ASSERT_TRUE(other.IsOpen());
    const unsigned long window = other.CreateWindow(QRect(1500, 700, 200, 200));
    const QRect target = Managed(window);
    Start(kRectMode);
    ASSERT_TRUE(Frame()->isVisible());

    other.Focus(window);
    ASSERT_TRUE(WaitForState(Qt::ApplicationInactive));
    EXPECT_FALSE(Frame()->isVisible());
    other.Focus(Main()->winId());
    ASSERT_TRUE(WaitForState(Qt::ApplicationActive));
    EXPECT_TRUE(Frame()->isVisible());

    // While a recording runs the screen source draws its own frame.
    Page()->BtnStop()->setEnabled(true);
    other.Focus(window);
    ASSERT_TRUE(WaitForState(Qt::ApplicationInactive));
    other.Focus(Main()->winId());
    ASSERT_TRUE(WaitForState(Qt::ApplicationActive));
    EXPECT_FALSE(Frame()->isVisible());
    Page()->BtnStop()->setEnabled(false);
    Page()->ApplyAreaFrameRule();
    ASSERT_TRUE(Frame()->isVisible());

    // The same after a window pick.
    MoveTo(1600, 800);
    Page()->BtnSelectWindow()->click();
    PumpEvents(30);
    Input.KeyDown("Shift_L");
    PumpEvents(30);
    Input.KeyUp("Shift_L");
    PumpEvents(30);
    ASSERT_EQ(SpinRect(), target);
    ASSERT_TRUE(WaitForState(Qt::ApplicationActive));
    other.Focus(window);
    ASSERT_TRUE(WaitForState(Qt::ApplicationInactive));
    EXPECT_FALSE(Frame()->isVisible());
    other.Focus(Main()->winId());
    ASSERT_TRUE(WaitForState(Qt::ApplicationActive));
    EXPECT_TRUE(Frame()->isVisible());
}

TEST_F(AreaSelectionTest, FullScreenModeNeverShowsTheFrame) {
    TForeignClient other;
    ASSERT_TRUE(other.IsOpen());
    const unsigned long window = other.CreateWindow(QRect(1500, 700, 200, 200));
    Start();
    ASSERT_TRUE(Page()->RBtnScreenCapture()->isChecked());
    EXPECT_FALSE(Page()->BtnSelectWindow()->isEnabled());
    EXPECT_FALSE(Page()->BtnSelectRect()->isEnabled());
    EXPECT_FALSE(Frame()->isVisible());
    other.Focus(window);
    ASSERT_TRUE(WaitForState(Qt::ApplicationInactive));
    other.Focus(Main()->winId());
    ASSERT_TRUE(WaitForState(Qt::ApplicationActive));
    EXPECT_FALSE(Frame()->isVisible());

    // Picking the rectangle mode shows it; going back hides it again.
    Page()->RBtnRectCapture()->click();
    EXPECT_TRUE(Frame()->isVisible());
    Page()->RBtnScreenCapture()->click();
    EXPECT_FALSE(Frame()->isVisible());
    EXPECT_FALSE(Page()->CheckBoxHideBorder()->isChecked());
}
