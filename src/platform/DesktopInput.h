#pragma once

#include <QPoint>
#include <QRect>

// The state of the pointer and the keyboard as the X server sees it, whichever program
// has the focus, and the window under a point. Without an X server (another Qt platform)
// nothing is pressed, the cursor is where Qt last saw it and the window under a point is
// the primary screen. Main thread only.
namespace DesktopInput {

// Key codes of KeyDown and LowestKeyDown: the mouse buttons come first, then every
// keyboard key by its key code on the X server (8 to 255).
enum : int { kcLeftButton = 1, kcRightButton = 2, kcMiddleButton = 4 };

// The cursor's position in screen pixels.
QPoint CursorPos();
// Whether the left mouse button is held down now.
bool LeftButtonDown();
// Whether the mouse button or key with this code is held down now.
bool KeyDown(int code);
// The lowest code of a mouse button or key held down now; 0 when none is.
int LowestKeyDown();

// The screen rectangle of the innermost window under `pos`, with its border and with
// the window manager's frame when the window carries _NET_FRAME_EXTENTS; the primary
// screen when no window of any program lies there.
QRect WindowRectAt(QPoint pos);

// The default warning sound of the display.
void Beep();

} // namespace DesktopInput
