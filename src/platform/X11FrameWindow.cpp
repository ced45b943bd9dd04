#include "platform/X11FrameWindow.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/shape.h>

#include <chrono>

namespace {

// Selects the next flash colour for every frame of the process: 1 blue, 0 red.
std::atomic<unsigned char> GFlashToggle{1};

unsigned long AllocPixel(Display* dpy, unsigned short red, unsigned short blue) {
    const int screen = DefaultScreen(dpy);
    XColor color{};
    color.red = red;
    color.blue = blue;
    color.flags = DoRed | DoGreen | DoBlue;
    if (XAllocColor(dpy, DefaultColormap(dpy, screen), &color))
        return color.pixel;
    return red ? WhitePixel(dpy, screen) : BlackPixel(dpy, screen);
}

} // namespace

bool TX11FrameWindow::CaptureOrigin(TX11Connection& connection, const TFrameTarget& target,
                                    QPoint* origin) {
    QRect area;
    if (!connection.WindowRect(target.Window, target.Client, &area))
        return false;
    *origin = (target.Window ? area.topLeft() : QPoint(0, 0)) + target.Offset;
    return true;
}

bool TX11FrameWindow::Show(const TFrameTarget& target, const std::atomic<bool>* started) {
    Hide();
    if (!FConnection.Open()) {
        FLastError = FConnection.LastError();
        return false;
    }
    FTarget = target;
    FStarted = started;
    Display* dpy = FConnection.Dpy();
    QPoint origin;
    if (!CaptureOrigin(FConnection, target, &origin))
        origin = target.Offset;
    FPosition = origin - QPoint(Border, Border);
    const int outerW = target.Size.width() + 2 * Border;
    const int outerH = target.Size.height() + 2 * Border;
    FPixels[fcRed] = AllocPixel(dpy, 0xFFFF, 0);
    FPixels[fcBlue] = AllocPixel(dpy, 0, 0xFFFF);

    XSetWindowAttributes attributes{};
    attributes.override_redirect = True; // no decoration, no task-bar entry, never focused
    attributes.background_pixel = FPixels[fcRed];
    attributes.border_pixel = 0;
    const Window window =
        XCreateWindow(dpy, FConnection.Root(), FPosition.x(), FPosition.y(), unsigned(outerW),
                      unsigned(outerH), 0, CopyFromParent, InputOutput, CopyFromParent,
                      CWOverrideRedirect | CWBackPixel | CWBorderPixel, &attributes);
    XStoreName(dpy, window, "Vexmira capture frame");

    // Only the ring is drawn; the grabbed rectangle inside stays clear.
    const auto w = static_cast<unsigned short>(outerW);
    const auto h = static_cast<unsigned short>(target.Size.height());
    XRectangle ring[4] = {
        {0, 0, w, Border},
        {0, short(outerH - Border), w, Border},
        {0, Border, Border, h},
        {short(outerW - Border), Border, Border, h},
    };
    XShapeCombineRectangles(dpy, window, ShapeBounding, 0, 0, ring, 4, ShapeSet, Unsorted);
    XShapeCombineRectangles(dpy, window, ShapeInput, 0, 0, nullptr, 0, ShapeSet, Unsorted);
    XMapRaised(dpy, window);
    if (const int code = FConnection.TakeError()) {
        FLastError = FConnection.ErrorText(code);
        XDestroyWindow(dpy, window);
        FConnection.Close();
        return false;
    }
    FWindow = window;
    FColor = fcRed;
    FTerminated = false;
    FThread = std::thread([this] { Run(); });
    return true;
}

void TX11FrameWindow::Hide() {
    if (FThread.joinable()) {
        FTerminated = true;
        FThread.join();
    }
    if (FWindow) {
        XDestroyWindow(FConnection.Dpy(), FWindow);
        XSync(FConnection.Dpy(), False);
        FWindow = 0;
    }
    FConnection.Close();
}

void TX11FrameWindow::Run() {
    int counter = 0;
    while (!FTerminated) {
        if (++counter == 50) {
            Flash();
            counter = 0;
        }
        AdjustPosition();
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

void TX11FrameWindow::SetColor(TFrameColor color) {
    Display* dpy = FConnection.Dpy();
    XSetWindowBackground(dpy, FWindow, FPixels[color]);
    XClearWindow(dpy, FWindow);
    FColor = color;
}

void TX11FrameWindow::Flash() {
    if (FStarted && FStarted->load()) {
        SetColor(GFlashToggle.load() ? fcBlue : fcRed);
        GFlashToggle = GFlashToggle.load() ? 0 : 1;
    }
    XRaiseWindow(FConnection.Dpy(), FWindow);
    XFlush(FConnection.Dpy());
}

void TX11FrameWindow::AdjustPosition() {
    if (FLock.exchange(true))
        return;
    Display* dpy = FConnection.Dpy();
    QPoint origin;
    if (CaptureOrigin(FConnection, FTarget, &origin)) {
        const QPoint position = origin - QPoint(Border, Border);
        if (position != FPosition) {
            XMoveWindow(dpy, FWindow, position.x(), position.y());
            FPosition = position;
        }
    }
    XRaiseWindow(dpy, FWindow);
    XFlush(dpy);
    FLock = false;
}
