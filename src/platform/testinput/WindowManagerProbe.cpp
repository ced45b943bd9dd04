#include "platform/testinput/WindowManagerProbe.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>

#include <memory>
#include <vector>

namespace {

Display* Dpy(void* d) {
    return static_cast<Display*>(d);
}

// A property value of Xlib, freed with XFree.
struct TXFree {
    void operator()(unsigned char* p) const {
        if (p != nullptr)
            XFree(p);
    }
};
using TPropertyData = std::unique_ptr<unsigned char, TXFree>;

// The 32-bit items of property `name` of `window` with type `type`; empty when absent.
std::vector<long> Property32(Display* d, Window window, const char* name, Atom type) {
    Atom actualType = None;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* raw = nullptr;
    const Atom atom = XInternAtom(d, name, True);
    if (atom == None || XGetWindowProperty(d, window, atom, 0, 64, False, type, &actualType,
                                           &format, &count, &after, &raw) != Success)
        return {};
    TPropertyData data(raw);
    if (actualType != type || format != 32 || data == nullptr)
        return {};
    // Xlib hands 32-bit items as longs.
    const long* items = reinterpret_cast<const long*>(data.get());
    return std::vector<long>(items, items + count);
}

// Errors of requests on windows that went away are expected, not fatal.
int IgnoreError(Display*, XErrorEvent*) {
    return 0;
}

} // namespace

TWindowManagerProbe::TWindowManagerProbe() {
    FDisplay = XOpenDisplay(nullptr);
}

TWindowManagerProbe::~TWindowManagerProbe() {
    if (FDisplay != nullptr)
        XCloseDisplay(Dpy(FDisplay));
}

QString TWindowManagerProbe::ManagerName() const {
    if (FDisplay == nullptr)
        return {};
    Display* d = Dpy(FDisplay);
    const std::vector<long> check =
        Property32(d, DefaultRootWindow(d), "_NET_SUPPORTING_WM_CHECK", XA_WINDOW);
    if (check.empty())
        return {};
    const auto old = XSetErrorHandler(IgnoreError);
    Atom actualType = None;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* raw = nullptr;
    const Atom name = XInternAtom(d, "_NET_WM_NAME", False);
    const Atom utf8 = XInternAtom(d, "UTF8_STRING", False);
    const int status = XGetWindowProperty(d, static_cast<Window>(check.front()), name, 0, 256,
                                          False, utf8, &actualType, &format, &count, &after, &raw);
    XSync(d, False);
    XSetErrorHandler(old);
    TPropertyData data(raw);
    if (status != Success || data == nullptr || format != 8)
        return {};
    return QString::fromUtf8(reinterpret_cast<const char*>(data.get()),
                             static_cast<qsizetype>(count));
}

bool TWindowManagerProbe::TrayAvailable() const {
    if (FDisplay == nullptr)
        return false;
    Display* d = Dpy(FDisplay);
    const QByteArray name = "_NET_SYSTEM_TRAY_S" + QByteArray::number(DefaultScreen(d));
    const Atom selection = XInternAtom(d, name.constData(), False);
    return XGetSelectionOwner(d, selection) != None;
}

bool TWindowManagerProbe::IsVisible(unsigned long window) const {
    if (FDisplay == nullptr)
        return false;
    Display* d = Dpy(FDisplay);
    const auto old = XSetErrorHandler(IgnoreError);
    XWindowAttributes attributes{};
    const Status ok = XGetWindowAttributes(d, static_cast<Window>(window), &attributes);
    XSetErrorHandler(old);
    return ok != 0 && attributes.map_state == IsViewable;
}

std::optional<QMargins> TWindowManagerProbe::FrameExtents(unsigned long window) const {
    if (FDisplay == nullptr)
        return std::nullopt;
    const auto old = XSetErrorHandler(IgnoreError);
    const std::vector<long> e =
        Property32(Dpy(FDisplay), static_cast<Window>(window), "_NET_FRAME_EXTENTS", XA_CARDINAL);
    XSetErrorHandler(old);
    if (e.size() < 4)
        return std::nullopt;
    // left, right, top, bottom
    return QMargins(static_cast<int>(e[0]), static_cast<int>(e[2]), static_cast<int>(e[1]),
                    static_cast<int>(e[3]));
}

QRect TWindowManagerProbe::RootGeometry(unsigned long window) const {
    if (FDisplay == nullptr)
        return {};
    Display* d = Dpy(FDisplay);
    const auto old = XSetErrorHandler(IgnoreError);
    XWindowAttributes attributes{};
    int x = 0, y = 0;
    Window child = None;
    QRect rect;
    if (XGetWindowAttributes(d, static_cast<Window>(window), &attributes) != 0 &&
        XTranslateCoordinates(d, static_cast<Window>(window), DefaultRootWindow(d), 0, 0, &x, &y,
                              &child) != 0)
        rect = QRect(x, y, attributes.width, attributes.height);
    XSetErrorHandler(old);
    return rect;
}

QRect TWindowManagerProbe::OuterGeometry(unsigned long window) const {
    const QRect inner = RootGeometry(window);
    const std::optional<QMargins> frame = FrameExtents(window);
    return frame.has_value() ? inner.marginsAdded(*frame) : inner;
}
