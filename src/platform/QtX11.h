#pragma once

// The X server connection of the program's own windows (Qt's), for the platform layer's
// pointer, keyboard and hotkey pieces. Only files under src/platform include this header.
// Main thread only.

#include <xcb/xcb.h>

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <vector>

namespace QtX11 {

// Qt's connection; nullptr when the windows are not on an X server (another Qt platform).
xcb_connection_t* Connection();
// The root window of the first screen; 0 without a connection.
xcb_window_t Root();

// A reply of xcb, freed with free().
template <typename T> using TReply = std::unique_ptr<T, decltype(&std::free)>;
template <typename T> TReply<T> Reply(T* reply) {
    return TReply<T>(reply, &std::free);
}

// The key codes whose unshifted keysym is `keysym`, lowest first.
std::vector<xcb_keycode_t> KeycodesOf(xcb_connection_t* c, uint32_t keysym);
// The modifier bit (XCB_MOD_MASK_1 ... XCB_MOD_MASK_5) that a key with `keysym` sets;
// 0 when no such key is a modifier.
uint16_t ModifierMaskOf(xcb_connection_t* c, uint32_t keysym);

} // namespace QtX11
