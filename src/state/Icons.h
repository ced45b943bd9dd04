#pragma once

#include <QIcon>
#include <QString>

// The program's pictures: the window and tray icon and the toolbar button images.
// Main thread only (they need the GUI application).

QIcon AppIcon();

// A toolbar button image: "resume", "pause", "stop", "record" (each with a disabled
// look) or "window".
QIcon ToolButtonIcon(const QString& name);

// The program icon as a file for desktop entries, written to the user's icon folder
// when it is not there yet. Empty when it could not be written.
QString AppIconFile();
