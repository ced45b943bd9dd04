#pragma once

#include <QString>

// The user's folders on an XDG desktop. Each returns an absolute path without a
// trailing separator; the folder need not exist. Thread-safe.
namespace Xdg {

QString ConfigHome();         // $XDG_CONFIG_HOME, default ~/.config
QString DataHome();           // $XDG_DATA_HOME, default ~/.local/share
QString VideosFolder();       // the user's video folder
QString PicturesFolder();     // the user's pictures folder
QString DesktopFolder();      // the user's desktop
QString ApplicationsFolder(); // $XDG_DATA_HOME/applications, where menu entries live

} // namespace Xdg
