#include "platform/DesktopInput.h"

#include "platform/QtX11.h"

#include <QApplication>
#include <QCursor>
#include <QGuiApplication>
#include <QScreen>

#include <cstring>

using QtX11::Reply;

namespace DesktopInput {

namespace {

struct TPointer {
    QPoint Pos;
    uint16_t Mask = 0;
    bool Valid = false;
};

TPointer QueryPointer() {
    TPointer p;
    xcb_connection_t* c = QtX11::Connection();
    if (c == nullptr)
        return p;
    auto r = Reply(xcb_query_pointer_reply(c, xcb_query_pointer(c, QtX11::Root()), nullptr));
    if (!r)
        return p;
    p.Pos = QPoint(r->root_x, r->root_y);
    p.Mask = r->mask;
    p.Valid = true;
    return p;
}

QRect PrimaryScreen() {
    const QScreen* screen = QGuiApplication::primaryScreen();
    return screen != nullptr ? screen->geometry() : QRect();
}

// The four CARDINALs left, right, top, bottom of _NET_FRAME_EXTENTS; false when unset.
bool FrameExtents(xcb_connection_t* c, xcb_window_t w, uint32_t extents[4]) {
    static const char kName[] = "_NET_FRAME_EXTENTS";
    auto atom =
        Reply(xcb_intern_atom_reply(c, xcb_intern_atom(c, 1, sizeof kName - 1, kName), nullptr));
    if (!atom || atom->atom == XCB_ATOM_NONE)
        return false;
    auto prop = Reply(xcb_get_property_reply(
        c, xcb_get_property(c, 0, w, atom->atom, XCB_ATOM_CARDINAL, 0, 4), nullptr));
    if (!prop || prop->format != 32 || xcb_get_property_value_length(prop.get()) != 16)
        return false;
    std::memcpy(extents, xcb_get_property_value(prop.get()), 16);
    return true;
}

} // namespace

QPoint CursorPos() {
    const TPointer p = QueryPointer();
    return p.Valid ? p.Pos : QCursor::pos();
}

bool LeftButtonDown() {
    return KeyDown(kcLeftButton);
}

bool KeyDown(int code) {
    if (code <= 0 || code > 255)
        return false;
    if (code < 8) {
        const TPointer p = QueryPointer();
        switch (code) {
        case kcLeftButton:
            return (p.Mask & XCB_BUTTON_MASK_1) != 0;
        case kcMiddleButton:
            return (p.Mask & XCB_BUTTON_MASK_2) != 0;
        case kcRightButton:
            return (p.Mask & XCB_BUTTON_MASK_3) != 0;
        default:
            return false;
        }
    }
    xcb_connection_t* c = QtX11::Connection();
    if (c == nullptr)
        return false;
    auto keys = Reply(xcb_query_keymap_reply(c, xcb_query_keymap(c), nullptr));
    return keys && (keys->keys[code / 8] & (1u << (code % 8))) != 0;
}

int LowestKeyDown() {
    const TPointer p = QueryPointer();
    if (!p.Valid)
        return 0;
    if (p.Mask & XCB_BUTTON_MASK_1)
        return kcLeftButton;
    if (p.Mask & XCB_BUTTON_MASK_3)
        return kcRightButton;
    if (p.Mask & XCB_BUTTON_MASK_2)
        return kcMiddleButton;
    xcb_connection_t* c = QtX11::Connection();
    auto keys = Reply(xcb_query_keymap_reply(c, xcb_query_keymap(c), nullptr));
    if (!keys)
        return 0;
    for (int code = 8; code < 256; ++code)
        if (keys->keys[code / 8] & (1u << (code % 8)))
            return code;
    return 0;
}

QRect WindowRectAt(QPoint pos) {
    xcb_connection_t* c = QtX11::Connection();
    if (c == nullptr)
        return PrimaryScreen();
    const xcb_window_t root = QtX11::Root();
    // Descend from the root through the mapped children that contain the point (the
    // server skips windows whose shape leaves the point out).
    xcb_window_t w = root;
    for (int depth = 0; depth < 64; ++depth) {
        auto t = Reply(xcb_translate_coordinates_reply(
            c,
            xcb_translate_coordinates(c, root, w, static_cast<int16_t>(pos.x()),
                                      static_cast<int16_t>(pos.y())),
            nullptr));
        if (!t || t->child == XCB_WINDOW_NONE)
            break;
        w = t->child;
    }
    if (w == root)
        return PrimaryScreen();
    auto g = Reply(xcb_get_geometry_reply(c, xcb_get_geometry(c, w), nullptr));
    auto origin = Reply(
        xcb_translate_coordinates_reply(c, xcb_translate_coordinates(c, w, root, 0, 0), nullptr));
    if (!g || !origin)
        return PrimaryScreen();
    const int b = g->border_width;
    QRect r(origin->dst_x - b, origin->dst_y - b, g->width + 2 * b, g->height + 2 * b);
    uint32_t e[4];
    if (FrameExtents(c, w, e))
        r.adjust(-static_cast<int>(e[0]), -static_cast<int>(e[2]), static_cast<int>(e[1]),
                 static_cast<int>(e[3]));
    return r;
}

void Beep() {
    xcb_connection_t* c = QtX11::Connection();
    if (c == nullptr) {
        QApplication::beep();
        return;
    }
    xcb_bell(c, 0);
    xcb_flush(c);
}

} // namespace DesktopInput
