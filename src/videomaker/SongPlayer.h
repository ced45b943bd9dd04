#pragma once

#include <QString>

#include <cstdint>

class QWidget;
class TFFPlayer;

// Opening the song of the video maker in a window's own player (the preview window and
// the time adjuster): sound only, paused at the start.
//
// Loads the media libraries and SDL from the program's "LibAV" folder when they are not
// loaded (a failure is shown as a warning captioned Vexmira: the window goes on without
// a song), opens `song` paused with `screen` as the player's screen and seeks to 0 (a
// failure is shown as a warning captioned with the application title). True when the
// song is open. Main thread only.
bool OpenSongPaused(TFFPlayer& player, QWidget* screen, const QString& song, QWidget* parent);

// The playing time as "%.2d:%.2d.%.2d": total minutes, seconds and hundredths of
// `us` microseconds.
QString PlayTimeText(int64_t us);
