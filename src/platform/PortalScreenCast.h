#pragma once

#include <QRect>
#include <QString>

#include <cstdint>
#include <memory>

// Pictures of a Wayland desktop's monitor (or window) through the desktop's screen-cast
// portal (org.freedesktop.portal.ScreenCast over D-Bus) and the PipeWire stream it opens.
//
//     TPortalScreenCast cast;
//     if (!cast.Open({/*cursor=*/true, /*window=*/false}))
//         return Fail(cast.LastError());        // cast.Cancelled(): the user said no
//     const QSize size = cast.PictureSize();     // pixels of the stream's pictures
//     std::vector<uint8_t> picture(size.width() * size.height() * 4);
//     cast.CopyLatest(QRect(QPoint(), size), picture.data()); // BGRA rows, no padding
//
// The compositor sends a picture only when the screen changes; CopyLatest gives the most
// recent one as often as asked. The portal's chooser picks the monitor or window (the
// desktop may remember the choice: the restore token it hands out is kept in the file
// named by SetTokenFile and offered again next time). Buffers are shared memory (memfd or
// plain memory); every packed 24- and 32-bit layout is converted to BGRA.
// Open and the destructor run on any one thread at a time; CopyLatest and Ended may be
// called from any thread while the stream runs.

// The packed layouts a stream may deliver, named by their bytes in memory order.
enum TCastPixelLayout {
    cplBgrx, // blue, green, red, unused (or alpha)
    cplRgbx,
    cplXrgb,
    cplXbgr,
    cplBgr, // three bytes
    cplRgb,
};

// Converts `width` pixels of `layout` at `src` into BGRA at `dst` (alpha 0xFF). Thread-safe.
void ConvertRowToBgra(TCastPixelLayout layout, const uint8_t* src, uint8_t* dst, int width);

// Why the last Open failed, for the windows' own words. Thread-safe.
enum TCastFailure {
    cfNone,
    cfCancelled,  // the user dismissed the chooser
    cfNoPortal,   // no screen-cast portal on the desktop (or no session bus)
    cfNoPipeWire, // the portal could not start a stream, or PipeWire is unreachable
    cfOther,
};

// True when the desktop's portal offers `interfaceName` (for example
// "org.freedesktop.portal.GlobalShortcuts"). Main thread.
bool PortalInterfaceOffered(const QString& interfaceName);

// True when the desktop's screen-cast portal can share single windows, not only whole
// monitors (its AvailableSourceTypes). Main thread.
bool PortalOffersWindowSources();

class TPortalScreenCast {
public:
    struct TRequest {
        bool Cursor = false; // the pointer drawn into the pictures
        bool Window = false; // a window instead of a monitor, where the portal offers one
    };

    TPortalScreenCast();
    ~TPortalScreenCast(); // closes the portal session and the stream
    TPortalScreenCast(const TPortalScreenCast&) = delete;
    TPortalScreenCast& operator=(const TPortalScreenCast&) = delete;

    // True in a Wayland session: $WAYLAND_DISPLAY set or $XDG_SESSION_TYPE "wayland".
    // Thread-safe.
    static bool IsWaylandSession();

    // The INI file whose [ScreenCast] RestoreToken keeps the desktop's permission between
    // recordings; empty: none is kept. Main thread.
    static void SetTokenFile(const QString& fileName);

    // Asks the portal for a session, shows its chooser, connects to the stream and waits
    // for the first picture. Runs a local event loop while the user chooses. False with
    // LastError() (and Cancelled() when the user dismissed the chooser).
    bool Open(const TRequest& request);

    // Where the stream's picture lies on the desktop, in the desktop's own units (those
    // of the program's windows): on a scaled desktop its size differs from PictureSize.
    // The portal's position and size, or for a monitor whose portal gives its pixels the
    // size of the screen there; the picture's own size when nothing says otherwise.
    QRect DesktopRect() const { return FDesktopRect; }
    // True when the stream shows a window; false for a monitor, also when a window was
    // asked for and the portal shares whole monitors only.
    bool SharesWindow() const { return FSharesWindow; }
    // The size in pixels of the first picture the stream sent.
    QSize PictureSize() const { return FPictureSize; }

    // Copies `rect` (pixels of the current picture) of the newest picture into `dst` as
    // BGRA rows of rect.width() pixels. Parts outside the current picture (its size
    // changed) come out black. Thread-safe.
    void CopyLatest(const QRect& rect, uint8_t* dst);
    // True once the stream has ended (the user or the compositor stopped the sharing).
    // Called by the one reading thread.
    bool Ended();

    QString LastError() const { return FLastError; }
    bool Cancelled() const { return FCancelled; }

    // The reason of the latest failed Open in this process (cfNone after a successful
    // one), and how many streams so far ended while being read (the desktop stopped the
    // sharing). Thread-safe.
    static TCastFailure LatestFailure();
    static int EndedStreams();

private:
    struct TStream;
    bool Fail(const QString& text, TCastFailure reason = cfOther);
    void CloseSession();

    std::unique_ptr<TStream> FStream;
    QString FSessionPath;
    QRect FDesktopRect;
    QSize FPictureSize;
    QString FLastError;
    bool FCancelled = false;
    bool FSharesWindow = false;
    bool FEndCounted = false;
};
