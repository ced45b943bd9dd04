#include "platform/X11Connection.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <deque>
#include <map>
#include <mutex>

namespace {

// Xlib has one error handler per process. Ours records the errors of our own
// connections and passes every other connection's errors to the handler it replaced
// (Qt's, or another part of the program's), so neither side ends the process.
std::mutex GErrorMutex;
std::map<Display*, int> GErrors; // our connections and their last error code
XErrorHandler GPreviousHandler = nullptr;
bool GHandlerInstalled = false;

int RecordError(Display* display, XErrorEvent* event) {
    {
        std::lock_guard lock(GErrorMutex);
        auto it = GErrors.find(display);
        if (it != GErrors.end()) {
            it->second = event->error_code;
            return 0;
        }
    }
    return GPreviousHandler ? GPreviousHandler(display, event) : 0;
}

void Track(Display* display) {
    std::lock_guard lock(GErrorMutex);
    if (!GHandlerInstalled) {
        GPreviousHandler = XSetErrorHandler(RecordError);
        GHandlerInstalled = true;
    }
    GErrors[display] = 0;
}

void Untrack(Display* display) {
    std::lock_guard lock(GErrorMutex);
    GErrors.erase(display);
}

QByteArray TextProperty(Display* display, Window window, Atom property, Atom type) {
    Atom actualType;
    int format;
    unsigned long count, after;
    unsigned char* data = nullptr;
    QByteArray result;
    if (XGetWindowProperty(display, window, property, 0, 4096, False, type, &actualType, &format,
                           &count, &after, &data) == Success &&
        data) {
        if (actualType == type && format == 8)
            result = QByteArray(reinterpret_cast<const char*>(data), int(count));
        XFree(data);
    }
    return result;
}

bool HasTitle(Display* display, Window window, const QByteArray& title, Atom netName, Atom utf8) {
    const QByteArray name = TextProperty(display, window, netName, utf8);
    if (!name.isNull())
        return name == title;
    char* legacy = nullptr;
    bool equal = false;
    if (XFetchName(display, window, &legacy) && legacy) {
        equal = title == legacy;
        XFree(legacy);
    }
    return equal;
}

} // namespace

bool TX11Connection::Open() {
    Close();
    FDisplay = XOpenDisplay(nullptr);
    if (!FDisplay) {
        FLastError = QStringLiteral("cannot open display %1")
                         .arg(QString::fromLocal8Bit(XDisplayName(nullptr)));
        return false;
    }
    Track(FDisplay);
    return true;
}

void TX11Connection::Close() {
    if (!FDisplay)
        return;
    XCloseDisplay(FDisplay);
    Untrack(FDisplay);
    FDisplay = nullptr;
}

unsigned long TX11Connection::Root() const {
    return DefaultRootWindow(FDisplay);
}

QSize TX11Connection::ScreenSize() const {
    const int screen = DefaultScreen(FDisplay);
    return QSize(DisplayWidth(FDisplay, screen), DisplayHeight(FDisplay, screen));
}

int TX11Connection::TakeError() {
    XSync(FDisplay, False);
    return TakeReceivedError();
}

int TX11Connection::TakeReceivedError() {
    std::lock_guard lock(GErrorMutex);
    int& code = GErrors[FDisplay];
    const int result = code;
    code = 0;
    return result;
}

QString TX11Connection::ErrorText(int code) const {
    char text[256] = {};
    XGetErrorText(FDisplay, code, text, sizeof text);
    return QString::fromLocal8Bit(text);
}

unsigned long TX11Connection::FindWindowByTitle(const QByteArray& title) {
    const Atom netName = XInternAtom(FDisplay, "_NET_WM_NAME", False);
    const Atom utf8 = XInternAtom(FDisplay, "UTF8_STRING", False);
    // Breadth first, so that a top-level window wins over a child of the same name.
    std::deque<Window> pending{Root()};
    Window found = 0;
    while (!pending.empty() && !found) {
        const Window window = pending.front();
        pending.pop_front();
        Window root, parent, *children = nullptr;
        unsigned int count = 0;
        if (!XQueryTree(FDisplay, window, &root, &parent, &children, &count))
            continue;
        for (unsigned int i = 0; i < count && !found; ++i) {
            if (HasTitle(FDisplay, children[i], title, netName, utf8))
                found = children[i];
            else
                pending.push_back(children[i]);
        }
        if (children)
            XFree(children);
    }
    TakeError(); // windows that vanished during the walk
    return found;
}

bool TX11Connection::WindowRect(unsigned long window, bool client, QRect* rect) {
    if (window == 0) {
        *rect = QRect(QPoint(0, 0), ScreenSize());
        return true;
    }
    XWindowAttributes attributes;
    Window child;
    int x = 0, y = 0;
    if (!XGetWindowAttributes(FDisplay, window, &attributes) ||
        !XTranslateCoordinates(FDisplay, window, Root(), 0, 0, &x, &y, &child)) {
        TakeError();
        return false;
    }
    QRect area(x, y, attributes.width, attributes.height);
    if (!client) {
        const Atom extents = XInternAtom(FDisplay, "_NET_FRAME_EXTENTS", False);
        Atom type;
        int format;
        unsigned long count, after;
        unsigned char* data = nullptr;
        if (XGetWindowProperty(FDisplay, window, extents, 0, 4, False, XA_CARDINAL, &type, &format,
                               &count, &after, &data) == Success &&
            data) {
            if (type == XA_CARDINAL && format == 32 && count == 4) {
                const long* e = reinterpret_cast<const long*>(data); // left, right, top, bottom
                area.adjust(-int(e[0]), -int(e[2]), int(e[1]), int(e[3]));
            }
            XFree(data);
        }
    }
    if (TakeError())
        return false;
    *rect = area;
    return true;
}
