#include "state/FloatingWindow.h"

#include <QWidget>

void MakeFloatingToolWindow(QWidget* window) {
    // The window manager is bypassed: it would wrap the window in a frame of its own and
    // choose its place, while these windows sit exactly where the program puts them (at
    // a saved place, around a rectangle of the screen) and read their place back.
    window->setWindowFlags(Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint |
                           Qt::WindowDoesNotAcceptFocus | Qt::X11BypassWindowManagerHint);
    window->setAttribute(Qt::WA_ShowWithoutActivating);
    window->setFocusPolicy(Qt::NoFocus);
}
