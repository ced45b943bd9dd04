#pragma once

#include <QStringList>

// "vexmira-cli info <file>": prints what the decoder finds in a media file, or the
// reason it cannot (the library load error when FFmpeg is missing). Needs a
// QCoreApplication. Returns the exit code.
int InfoCommand(const QStringList& arguments);
