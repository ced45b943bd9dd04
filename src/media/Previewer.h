#pragma once

#include <QImage>

#include <cstdint>
#include <memory>

class TPreviewWindow;

// The preview window of a job: an always-on-top tool window, centred on the screen,
// whose client area is the bitmap, captioned with the picture's time; dragged with the
// left button anywhere in it. Created and painted on the main thread; Paint may be
// called from any thread and waits for the paint.
class TPreviewer {
public:
    TPreviewer();
    ~TPreviewer();
    TPreviewer(const TPreviewer&) = delete;
    TPreviewer& operator=(const TPreviewer&) = delete;

    // Shows `bitmap` with the caption of `pts` (µs; AV_NOPTS_VALUE: "N/A"). False when
    // the user has closed the window (nothing is painted then).
    bool Paint(const QImage& bitmap, int64_t pts);
    bool Closed() const;

private:
    TPreviewWindow* FWindow = nullptr; // lives on the main thread
    std::shared_ptr<bool> FClosed;
};

// "%.2d:%.2d:%.2d.%.3d" of a time in µs, "N/A" without one.
QString PreviewCaption(int64_t pts);
