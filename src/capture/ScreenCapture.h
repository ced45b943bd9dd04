#pragma once

#include "media/InputFormats.h"

#include <QString>

// The input format "screencapture": pictures of the X11 screen (or of one window, or of a Wayland
// monitor), paced against the wall clock, optionally with the mouse cursor painted in, with a thin
// flashing frame shown around the grabbed rectangle while the input is open.
//
//     RegisterScreenCapture();                               // after FFLoader.Load
//     AVFormatContext* ic = nullptr;
//     OpenInput(&ic, "offset=100,100;framesize=640,480;framerate=15/1;showframe=1;cursor=1",
//               FindInputFormat("screencapture"), nullptr, nullptr);
//     // or through the engine: TInputOptions.ForceFormat = "screencapture", the option
//     // string as the file name.
//
// Option string keys (any letter case; unknown keys ignored):
//   offset=X,Y         corner of the rectangle inside the screen or window (default 0,0);
//                      strict: a malformed pair fails the open with a conversion error
//   framesize=W,H      size of the rectangle (default: the opener's frame size, else the
//                      window or screen); strict; clipped to the screen
//   framerate=N/D      N/D pictures per second (default: the opener's time base, else
//                      15/1 with "frame rate assume as 1/15." logged); strict
//   showframe=0|1      the flashing frame (default 0; a malformed value means 1)
//   cursor=0|1         paint the cursor (default 0; malformed means 1)
//   hwnd=ID            grab the X11 window ID (decimal) instead of the screen
//   client=0|1         with a window: its client area instead of the whole window
//   title=CAPTION      grab the window with this exact caption; the caption runs to the
//                      end of the option string (later ";" included)
//
// Stream: raw video, BGRA on a 24/32-bit screen (BGR24 for packed 24 bits, RGB565/555
// for 16, PAL8 with the colormap for 8), rows without padding; time base 1/1000000.
// Each packet is one picture stamped with the time of its slot on the wall clock
// counted from the first read, so the video keeps real time: pictures that come late
// skip the slots they missed (the job repeats pictures to fill them); after a gap of
// more than a second (the job was paused) the clock is re-based, and the next picture
// follows the previous one by one picture interval, with no burst of catch-up pictures.
//
// In a Wayland session ($WAYLAND_DISPLAY or $XDG_SESSION_TYPE=wayland) the pictures come
// from the desktop's screen-cast portal instead (the portal's chooser picks the monitor, a
// window with hwnd or title where the portal offers windows): the rectangle is cut out of
// the monitor's picture, the last picture is repeated while the compositor sends none, a
// change of the monitor's size keeps the first size (what no longer exists comes out
// black), showframe is ignored, and the cursor option picks the portal's cursor mode.
// When the desktop stops the sharing the reading ends (AVERROR_EOF) with a message; a
// cancelled chooser fails the open with AVERROR(ECANCELED).
//
// Error results: AVERROR(EIO) for no display, a missing window or invalid geometry
// ("Invalid properties, aborting"), -1 for an unsupported depth or a failed grab.

// The format's name and long name.
inline constexpr const char* ScreenCaptureName = "screencapture";
extern const TOwnInputFormat ScreenCaptureFormat;

// What an option string of "screencapture" asks for. The caller fills in the values in
// force when a key is absent (the opener's frame size and time base).
struct TScreenCaptureOptions {
    QString Title;
    bool HasTitle = false;
    int Hwnd = 0;
    int XOff = 0, YOff = 0;
    int Width = 0, Height = 0;
    AVRational TimeBase{0, 0}; // seconds per picture
    bool ShowFrame = false, Client = false, Cursor = false;
};

// Applies the option string to `options`; a malformed strict number throws
// EConvertError. Needs no display and no media library. Thread-safe.
void ParseScreenCaptureOptions(const QString& text, TScreenCaptureOptions& options);

// Registers "screencapture" with the engine; again changes nothing. libavformat must be
// loaded. Main thread.
void RegisterScreenCapture();
