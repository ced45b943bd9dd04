#pragma once

#include <QString>

#include <functional>

// Desktop services: opening files with their associated program, showing a file in
// the file manager and writing menu or desktop entries. Main thread only.
namespace Shell {

// Opens `path` with the program the desktop associates with its type (through
// xdg-open). Returns at once; `failed` runs later, on the main thread, when no program
// could be found to open it.
void OpenDocument(const QString& path, const std::function<void()>& failed = {});

// Shows the file selected in the file manager (org.freedesktop.FileManager1); when no
// file manager answers, opens the folder that holds it, and `failed` runs when nothing
// can open that either.
void ShowInFolder(const QString& path, const std::function<void()>& failed = {});

// Writes "<folder>/Vexmira.desktop" starting `executable` in its own folder (with a
// project file when one is given) and showing `icon`, an icon file's path or an icon
// theme's name; an entry of that name is replaced. Returns the entry's path, or an
// empty string when it could not be written.
QString CreateDesktopEntry(const QString& folder, const QString& executable, const QString& icon);

} // namespace Shell
