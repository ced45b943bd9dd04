#include "platform/QtX11.h"

#include <QGuiApplication>

#include <cstdlib>

namespace QtX11 {

xcb_connection_t* Connection() {
    if (qGuiApp == nullptr)
        return nullptr;
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    return x11 != nullptr ? x11->connection() : nullptr;
}

xcb_window_t Root() {
    xcb_connection_t* c = Connection();
    if (c == nullptr)
        return 0;
    const xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(c));
    return it.rem > 0 ? it.data->root : 0;
}

std::vector<xcb_keycode_t> KeycodesOf(xcb_connection_t* c, uint32_t keysym) {
    std::vector<xcb_keycode_t> codes;
    const xcb_setup_t* setup = xcb_get_setup(c);
    const int first = setup->min_keycode;
    const int count = setup->max_keycode - setup->min_keycode + 1;
    auto map = Reply(xcb_get_keyboard_mapping_reply(
        c, xcb_get_keyboard_mapping(c, setup->min_keycode, static_cast<uint8_t>(count)), nullptr));
    if (!map || map->keysyms_per_keycode == 0)
        return codes;
    const xcb_keysym_t* syms = xcb_get_keyboard_mapping_keysyms(map.get());
    const int per = map->keysyms_per_keycode;
    const int n = xcb_get_keyboard_mapping_keysyms_length(map.get()) / per;
    for (int i = 0; i < n; ++i)
        if (syms[i * per] == keysym)
            codes.push_back(static_cast<xcb_keycode_t>(first + i));
    return codes;
}

uint16_t ModifierMaskOf(xcb_connection_t* c, uint32_t keysym) {
    const std::vector<xcb_keycode_t> codes = KeycodesOf(c, keysym);
    if (codes.empty())
        return 0;
    auto mods = Reply(xcb_get_modifier_mapping_reply(c, xcb_get_modifier_mapping(c), nullptr));
    if (!mods)
        return 0;
    const xcb_keycode_t* table = xcb_get_modifier_mapping_keycodes(mods.get());
    const int per = mods->keycodes_per_modifier;
    for (int bit = 0; bit < 8; ++bit)
        for (int k = 0; k < per; ++k)
            for (xcb_keycode_t code : codes)
                if (table[bit * per + k] == code)
                    return static_cast<uint16_t>(1u << bit);
    return 0;
}

} // namespace QtX11
