#include "platform/GlobalHotKeys.h"

#include "platform/QtX11.h"

#include <QCoreApplication>

#include <X11/keysym.h>

using QtX11::Reply;

TGlobalHotKeys& TGlobalHotKeys::Instance() {
    // Owned by the application object, so it goes before the X connection does.
    static TGlobalHotKeys* instance = nullptr;
    if (instance == nullptr) {
        instance = new TGlobalHotKeys();
        instance->setParent(QCoreApplication::instance());
        QObject::connect(instance, &QObject::destroyed, [] { instance = nullptr; });
    }
    return *instance;
}

TGlobalHotKeys::TGlobalHotKeys() {
    if (QCoreApplication::instance() != nullptr)
        QCoreApplication::instance()->installNativeEventFilter(this);
}

TGlobalHotKeys::~TGlobalHotKeys() {
    if (QCoreApplication::instance() != nullptr)
        QCoreApplication::instance()->removeNativeEventFilter(this);
    for (const auto& [id, grab] : FGrabs)
        Ungrab(grab);
}

void TGlobalHotKeys::ReadMasks() {
    if (FMasksRead)
        return;
    xcb_connection_t* c = QtX11::Connection();
    if (c == nullptr)
        return;
    FAltMask = QtX11::ModifierMaskOf(c, XK_Alt_L);
    if (FAltMask == 0)
        FAltMask = QtX11::ModifierMaskOf(c, XK_Alt_R);
    if (FAltMask == 0)
        FAltMask = XCB_MOD_MASK_1;
    FNumLockMask = QtX11::ModifierMaskOf(c, XK_Num_Lock);
    FMasksRead = true;
}

bool TGlobalHotKeys::MaskOf(unsigned modifiers, uint16_t& mask) const {
    switch (modifiers) {
    case 0:
        mask = 0;
        return true;
    case hmAlt:
        mask = FAltMask;
        return true;
    case hmControl:
        mask = XCB_MOD_MASK_CONTROL;
        return true;
    case hmShift:
        mask = XCB_MOD_MASK_SHIFT;
        return true;
    default:
        return false;
    }
}

std::vector<uint16_t> TGlobalHotKeys::LockVariants(uint16_t mask) const {
    std::vector<uint16_t> v{mask, static_cast<uint16_t>(mask | XCB_MOD_MASK_LOCK)};
    if (FNumLockMask != 0) {
        v.push_back(static_cast<uint16_t>(mask | FNumLockMask));
        v.push_back(static_cast<uint16_t>(mask | FNumLockMask | XCB_MOD_MASK_LOCK));
    }
    return v;
}

void TGlobalHotKeys::Ungrab(const TGrab& grab) {
    xcb_connection_t* c = QtX11::Connection();
    if (c == nullptr)
        return;
    for (uint16_t m : LockVariants(grab.Mask))
        xcb_ungrab_key(c, grab.Keycode, QtX11::Root(), m);
    xcb_flush(c);
}

bool TGlobalHotKeys::Register(int id, unsigned modifiers, unsigned virtualKey) {
    Unregister(id);
    xcb_connection_t* c = QtX11::Connection();
    if (c == nullptr || virtualKey < vkF1 || virtualKey > vkF12)
        return false;
    ReadMasks();
    TGrab grab;
    grab.Modifiers = modifiers;
    grab.VirtualKey = virtualKey;
    if (!MaskOf(modifiers, grab.Mask))
        return false;
    const std::vector<xcb_keycode_t> codes = QtX11::KeycodesOf(c, XK_F1 + (virtualKey - vkF1));
    if (codes.empty())
        return false;
    grab.Keycode = codes.front();

    // All lock variants are sent at once and checked afterwards; if any is refused the
    // combination is held by someone else, and the variants that were granted go again.
    const xcb_window_t root = QtX11::Root();
    std::vector<xcb_void_cookie_t> cookies;
    for (uint16_t m : LockVariants(grab.Mask))
        cookies.push_back(xcb_grab_key_checked(c, 0, root, m, grab.Keycode, XCB_GRAB_MODE_ASYNC,
                                               XCB_GRAB_MODE_ASYNC));
    bool accepted = true;
    for (xcb_void_cookie_t cookie : cookies)
        if (auto error = Reply(xcb_request_check(c, cookie)))
            accepted = false;
    if (!accepted) {
        Ungrab(grab);
        return false;
    }
    FGrabs[id] = grab;
    return true;
}

void TGlobalHotKeys::Unregister(int id) {
    const auto it = FGrabs.find(id);
    if (it == FGrabs.end())
        return;
    const TGrab grab = it->second;
    FGrabs.erase(it);
    // Another id may hold the same combination; it keeps it.
    for (const auto& [otherId, other] : FGrabs)
        if (other.Keycode == grab.Keycode && other.Mask == grab.Mask)
            return;
    Ungrab(grab);
}

bool TGlobalHotKeys::nativeEventFilter(const QByteArray& eventType, void* message, qintptr*) {
    if (FGrabs.empty() || eventType != "xcb_generic_event_t")
        return false;
    const auto* event = static_cast<const xcb_generic_event_t*>(message);
    const uint8_t type = event->response_type & 0x7f;
    if (type != XCB_KEY_PRESS && type != XCB_KEY_RELEASE)
        return false;
    const auto* key = reinterpret_cast<const xcb_key_press_event_t*>(event);
    // The grabs do not report to the focused window, so their events name the root.
    if (key->event != QtX11::Root())
        return false;
    const uint16_t relevant = XCB_MOD_MASK_SHIFT | XCB_MOD_MASK_CONTROL | FAltMask;
    for (const auto& [id, grab] : FGrabs) {
        if (grab.Keycode != key->detail || grab.Mask != (key->state & relevant))
            continue;
        // Handled after the event, as a posted message would be: a handler may open a
        // modal window, which must not run inside the X event dispatch.
        if (type == XCB_KEY_PRESS)
            QMetaObject::invokeMethod(
                this,
                [this, id = id, m = grab.Modifiers, vk = grab.VirtualKey] {
                    emit HotKeyPressed(id, m, vk);
                },
                Qt::QueuedConnection);
        return true;
    }
    return false;
}
