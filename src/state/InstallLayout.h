#pragma once

#include <QString>

// Where the program's own files are. A build runs from its output folder with the help
// page and the demo project beside the executable; an installed program runs from
// <prefix>/bin and keeps them in <prefix>/share/vexmira, its icon in the hicolor theme
// of <prefix>/share/icons. The functions take the executable's full path so that both
// layouts can be asked about; they only look at the file system. Thread-safe.

// The help page: the executable's path with its extension replaced by ".html" when that
// file exists, else the page of that name in <prefix>/share/vexmira. Empty when neither
// exists.
QString HelpFileOf(const QString& executable);

// The icon name desktop entries use when the program is installed with its icon in
// <prefix>/share/icons/hicolor; empty when it is not, and entries then name an icon file.
QString InstalledIconNameOf(const QString& executable);
