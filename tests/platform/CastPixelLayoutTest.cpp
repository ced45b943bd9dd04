#include "platform/PortalScreenCast.h"

#include <gtest/gtest.h>

#include <vector>

// Every packed layout a screen-cast stream may deliver comes out as the same BGRA
// pixels: two pixels, (R 10, G 20, B 30) and (R 200, G 150, B 100), in each layout.
TEST(CastPixelLayout, EveryPackedLayoutBecomesTheSameBgra) {
    struct TCase {
        TCastPixelLayout Layout;
        std::vector<uint8_t> Bytes;
    };
    const TCase cases[] = {
        {cplBgrx, {30, 20, 10, 0, 100, 150, 200, 7}}, {cplRgbx, {10, 20, 30, 0, 200, 150, 100, 7}},
        {cplXrgb, {0, 10, 20, 30, 7, 200, 150, 100}}, {cplXbgr, {0, 30, 20, 10, 7, 100, 150, 200}},
        {cplBgr, {30, 20, 10, 100, 150, 200}},        {cplRgb, {10, 20, 30, 200, 150, 100}},
    };
    const std::vector<uint8_t> expected = {30, 20, 10, 255, 100, 150, 200, 255};
    for (const TCase& c : cases) {
        std::vector<uint8_t> out(8 + 4, 0xAB); // a guard pixel after the two
        ConvertRowToBgra(c.Layout, c.Bytes.data(), out.data(), 2);
        EXPECT_EQ(std::vector<uint8_t>(out.begin(), out.begin() + 8), expected) << c.Layout;
        EXPECT_EQ(out[8], 0xAB) << "wrote past the row, layout " << c.Layout;
    }
}

// The session type decides, not the mere presence of an X display.
TEST(CastPixelLayout, AWaylandSessionIsToldByItsVariables) {
    const QByteArray display = qgetenv("WAYLAND_DISPLAY"), type = qgetenv("XDG_SESSION_TYPE");
    qunsetenv("WAYLAND_DISPLAY");
    qputenv("XDG_SESSION_TYPE", "x11");
    EXPECT_FALSE(TPortalScreenCast::IsWaylandSession());
    qputenv("XDG_SESSION_TYPE", "Wayland");
    EXPECT_TRUE(TPortalScreenCast::IsWaylandSession());
    qputenv("XDG_SESSION_TYPE", "tty");
    qputenv("WAYLAND_DISPLAY", "wayland-0");
    EXPECT_TRUE(TPortalScreenCast::IsWaylandSession());
    qputenv("WAYLAND_DISPLAY", display);
    qputenv("XDG_SESSION_TYPE", type);
}
