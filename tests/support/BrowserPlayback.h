#pragma once

#include <QString>

// What a real web browser makes of a video file: headless Chromium loads it into a
// <video> element of a local page, seeks to a moment and draws that picture onto a
// canvas.
struct TBrowserPlayback {
    QString Error; // empty when the browser played the picture
    int Width = 0; // the video element's videoWidth (0: no picture)
    int Height = 0;
    double Duration = 0; // seconds, as the browser reads it from the file
    double Lit = -1;     // the share of the drawn picture's pixels that are not dark
};

// Plays `file` in Chromium ("chromium" on the PATH) and reports what the page saw after
// seeking to `seconds`. Takes some seconds; gives up after two minutes.
TBrowserPlayback PlayInBrowser(const QString& file, double seconds = 0.5);
