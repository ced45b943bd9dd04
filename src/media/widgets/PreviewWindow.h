#pragma once

#include "media/Previewer.h"

// The preview window of a job: an always-on-top tool window, centred on the screen,
// whose client area is the picture, captioned with the picture's time; dragged with the
// left button anywhere in it. Closing it ends the job's preview.

// Makes the engine's previews show in such windows (see SetPreviewSurfaceFactory). Call
// once the QApplication exists. Main thread.
void InstallPreviewWindows();
