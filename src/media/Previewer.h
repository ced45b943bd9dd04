#pragma once

#include <QImage>
#include <QString>

#include <cstdint>
#include <functional>
#include <memory>

// The window of a job's preview. The engine draws no windows itself: the program
// installs a maker of preview windows at start-up (media/widgets/PreviewWindow.h), and
// a job with the preview on shows its pictures through it. Made, used and freed on the
// main thread.
class TPreviewSurface {
public:
    virtual ~TPreviewSurface() = default;
    // Shows `bitmap` with `caption` as the window's title.
    virtual void Show(const QImage& bitmap, const QString& caption) = 0;
    // True once the user has closed the window.
    virtual bool Closed() const = 0;
};

using TPreviewSurfaceFactory = std::function<std::unique_ptr<TPreviewSurface>()>;

// Installs the maker of preview windows; an empty one removes it. Without one a preview
// shows nothing and ends at its first picture. Thread-safe.
void SetPreviewSurfaceFactory(TPreviewSurfaceFactory factory);

// The preview of one job: its pictures in a window made by the installed maker (see
// TPreviewSurface), captioned with the picture's time. Paint may be called from any
// thread and waits until the picture is shown on the main thread.
class TPreviewer {
public:
    TPreviewer();
    ~TPreviewer();
    TPreviewer(const TPreviewer&) = delete;
    TPreviewer& operator=(const TPreviewer&) = delete;

    // Shows `bitmap` with the caption of `pts` (µs; AV_NOPTS_VALUE: "N/A"). False when
    // the user has closed the window or no window can be made (nothing is painted then).
    bool Paint(const QImage& bitmap, int64_t pts);
    bool Closed() const;

private:
    std::unique_ptr<TPreviewSurface> FSurface; // lives on the main thread
    bool FClosed = false;                      // main thread
};

// "%.2d:%.2d:%.2d.%.3d" of a time in µs, "N/A" without one.
QString PreviewCaption(int64_t pts);
