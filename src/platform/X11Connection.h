#pragma once

#include <QByteArray>
#include <QRect>
#include <QString>

// A private Xlib connection to the X server named by $DISPLAY, with X errors recorded
// instead of ending the process, plus the window queries the screen grabber and its
// frame window share.
//
//     TX11Connection x;
//     if (!x.Open())
//         return Fail(x.LastError());     // "cannot open display :0"
//     unsigned long w = x.FindWindowByTitle("Terminal");
//     QRect r;
//     if (w && x.WindowRect(w, /*client=*/false, &r)) ...
//
// Window ids are X11 window ids (XID); 0 means "no window" (the root window is used
// instead). One connection is used by one thread at a time; different connections may
// be used from different threads at once.

struct _XDisplay;

class TX11Connection {
public:
    TX11Connection() = default;
    ~TX11Connection() { Close(); }
    TX11Connection(const TX11Connection&) = delete;
    TX11Connection& operator=(const TX11Connection&) = delete;

    // Connects to $DISPLAY. False with LastError() set when there is no X server.
    bool Open();
    void Close();
    bool IsOpen() const { return FDisplay != nullptr; }
    _XDisplay* Dpy() const { return FDisplay; }
    unsigned long Root() const;
    QSize ScreenSize() const;

    // The X error code of the last failed request since the previous call (0: none),
    // after waiting for the server to answer everything sent so far. Clears it.
    int TakeError();
    // The same without the round trip: errors the library has already received.
    int TakeReceivedError();
    // The server's text for an X error code.
    QString ErrorText(int code) const;
    QString LastError() const { return FLastError; }

    // The first window, top-level windows first, whose _NET_WM_NAME (else WM_NAME) is
    // exactly `title`; 0 when none.
    unsigned long FindWindowByTitle(const QByteArray& title);
    // The window's area on the screen: its client area, or with `client` false the whole
    // window including the frame the window manager announces in _NET_FRAME_EXTENTS.
    // 0 gives the whole screen. False when the window does not exist (any more).
    bool WindowRect(unsigned long window, bool client, QRect* rect);

private:
    _XDisplay* FDisplay = nullptr;
    QString FLastError;
};
