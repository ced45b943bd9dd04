#pragma once

class QWidget;

// Makes `window` an owner-less floating tool window that stays above other windows,
// never takes the keyboard focus or activation and has no taskbar entry. Call before
// the window is first shown. The window manager does not frame or place it. Main
// thread only.
void MakeFloatingToolWindow(QWidget* window);
