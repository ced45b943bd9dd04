#include "platform/testinput/XTestInput.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include <iterator>

namespace {

Display* Dpy(void* d) {
    return static_cast<Display*>(d);
}

// Errors of the requests in between are recorded instead of ending the process.
int GErrorCode = 0;
int RecordError(Display*, XErrorEvent* e) {
    GErrorCode = e->error_code;
    return 0;
}

} // namespace

TXTestInput::TXTestInput() {
    Display* d = XOpenDisplay(nullptr);
    int event = 0, error = 0, major = 0, minor = 0;
    if (d != nullptr && !XTestQueryExtension(d, &event, &error, &major, &minor)) {
        XCloseDisplay(d);
        d = nullptr;
    }
    FDisplay = d;
}

TXTestInput::~TXTestInput() {
    if (FDisplay != nullptr)
        XCloseDisplay(Dpy(FDisplay));
}

void TXTestInput::MoveTo(QPoint pos) {
    if (FDisplay == nullptr)
        return;
    XTestFakeMotionEvent(Dpy(FDisplay), -1, pos.x(), pos.y(), CurrentTime);
    XSync(Dpy(FDisplay), False);
}

void TXTestInput::ButtonDown(int button) {
    if (FDisplay == nullptr)
        return;
    XTestFakeButtonEvent(Dpy(FDisplay), static_cast<unsigned>(button), True, CurrentTime);
    XSync(Dpy(FDisplay), False);
}

void TXTestInput::ButtonUp(int button) {
    if (FDisplay == nullptr)
        return;
    XTestFakeButtonEvent(Dpy(FDisplay), static_cast<unsigned>(button), False, CurrentTime);
    XSync(Dpy(FDisplay), False);
}

void TXTestInput::Key(const char* keysym, bool down) {
    if (FDisplay == nullptr)
        return;
    const KeySym sym = XStringToKeysym(keysym);
    const KeyCode code = sym != NoSymbol ? XKeysymToKeycode(Dpy(FDisplay), sym) : 0;
    if (code == 0)
        return;
    XTestFakeKeyEvent(Dpy(FDisplay), code, down ? True : False, CurrentTime);
    XSync(Dpy(FDisplay), False);
}

void TXTestInput::KeyDown(const char* keysym) {
    Key(keysym, true);
}
void TXTestInput::KeyUp(const char* keysym) {
    Key(keysym, false);
}

void TXTestInput::Chord(std::initializer_list<const char*> keysyms) {
    for (const char* k : keysyms)
        KeyDown(k);
    for (auto it = std::rbegin(keysyms); it != std::rend(keysyms); ++it)
        KeyUp(*it);
}

TForeignClient::TForeignClient() {
    FDisplay = XOpenDisplay(nullptr);
}

TForeignClient::~TForeignClient() {
    Close();
}

void TForeignClient::Close() {
    if (FDisplay != nullptr)
        XCloseDisplay(Dpy(FDisplay));
    FDisplay = nullptr;
}

bool TForeignClient::GrabKey(const char* keysym, const QString& modifier) {
    if (FDisplay == nullptr)
        return false;
    Display* d = Dpy(FDisplay);
    unsigned mask = 0;
    if (modifier == QStringLiteral("Ctrl"))
        mask = ControlMask;
    else if (modifier == QStringLiteral("Shift"))
        mask = ShiftMask;
    else if (modifier == QStringLiteral("Alt"))
        mask = Mod1Mask;
    const KeyCode code = XKeysymToKeycode(d, XStringToKeysym(keysym));
    if (code == 0)
        return false;
    XSync(d, False);
    GErrorCode = 0;
    XErrorHandler old = XSetErrorHandler(RecordError);
    XGrabKey(d, code, mask, DefaultRootWindow(d), False, GrabModeAsync, GrabModeAsync);
    XSync(d, False);
    XSetErrorHandler(old);
    return GErrorCode == 0;
}

unsigned long TForeignClient::CreateWindow(QRect rect) {
    if (FDisplay == nullptr)
        return 0;
    Display* d = Dpy(FDisplay);
    XSetWindowAttributes a{};
    a.background_pixel = WhitePixel(d, DefaultScreen(d));
    a.override_redirect = False;
    const Window w =
        XCreateWindow(d, DefaultRootWindow(d), rect.x(), rect.y(),
                      static_cast<unsigned>(rect.width()), static_cast<unsigned>(rect.height()), 0,
                      CopyFromParent, InputOutput, CopyFromParent, CWBackPixel, &a);
    XSizeHints hints{};
    hints.flags = USPosition | USSize;
    hints.x = rect.x();
    hints.y = rect.y();
    hints.width = rect.width();
    hints.height = rect.height();
    XSetWMNormalHints(d, w, &hints);
    XStoreName(d, w, "foreign window");
    XMapRaised(d, w);
    XSync(d, False);
    return w;
}

void TForeignClient::Focus(unsigned long window) {
    if (FDisplay == nullptr)
        return;
    Display* d = Dpy(FDisplay);
    GErrorCode = 0;
    XErrorHandler old = XSetErrorHandler(RecordError);
    XSetInputFocus(d, window, RevertToPointerRoot, CurrentTime);
    XSync(d, False);
    XSetErrorHandler(old);
}
