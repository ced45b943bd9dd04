/* Preloaded into xdg-desktop-portal-wlr (0.7) on machines without a GPU.
 *
 * That portal backend only starts a screen cast after the compositor's screencopy frame
 * has offered a linux-dmabuf buffer. A wlroots compositor drawing with pixman offers
 * shared-memory buffers only, so every Start would fail. This library wraps the frame
 * listener the backend installs: after each shared-memory offer it passes the same
 * format and size on as a dmabuf offer too. With no dmabuf global on the display the
 * backend then negotiates shared-memory PipeWire buffers, which is all the capture uses.
 *
 *   cc -shared -fPIC -O2 -o screencopy-shm-offer.so screencopy-shm-offer.c -ldl -lwayland-client
 *   LD_PRELOAD=$PWD/screencopy-shm-offer.so /usr/libexec/xdg-desktop-portal-wlr
 */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <stdint.h>
#include <string.h>
#include <wayland-client-core.h>

/* The events of zwlr_screencopy_frame_v1 (version 3), in the protocol's order. */
struct frame_events {
    void (*buffer)(void *data, void *frame, uint32_t format, uint32_t width, uint32_t height,
                   uint32_t stride);
    void (*flags)(void *data, void *frame, uint32_t flags);
    void (*ready)(void *data, void *frame, uint32_t sec_hi, uint32_t sec_lo, uint32_t nsec);
    void (*failed)(void *data, void *frame);
    void (*damage)(void *data, void *frame, uint32_t x, uint32_t y, uint32_t w, uint32_t h);
    void (*linux_dmabuf)(void *data, void *frame, uint32_t format, uint32_t width,
                         uint32_t height);
    void (*buffer_done)(void *data, void *frame);
};

static const struct frame_events *backend_events;
static struct frame_events offered_events;

/* wl_shm names its two basic formats 0 and 1; every other one is its DRM fourcc. */
static uint32_t drm_fourcc(uint32_t shm_format) {
    if (shm_format == 0)
        return 0x34325241u; /* AR24 */
    if (shm_format == 1)
        return 0x34325258u; /* XR24 */
    return shm_format;
}

static void on_buffer(void *data, void *frame, uint32_t format, uint32_t width, uint32_t height,
                      uint32_t stride) {
    backend_events->buffer(data, frame, format, width, height, stride);
    if (backend_events->linux_dmabuf)
        backend_events->linux_dmabuf(data, frame, drm_fourcc(format), width, height);
}

int wl_proxy_add_listener(struct wl_proxy *proxy, void (**implementation)(void), void *data) {
    typedef int (*add_listener_fn)(struct wl_proxy *, void (**)(void), void *);
    static add_listener_fn next;
    if (!next)
        next = (add_listener_fn)dlsym(RTLD_NEXT, "wl_proxy_add_listener");
    const char *interface = wl_proxy_get_class(proxy);
    if (interface && strcmp(interface, "zwlr_screencopy_frame_v1") == 0) {
        const struct frame_events *events = (const struct frame_events *)(void *)implementation;
        if (events != &offered_events && events != backend_events) {
            backend_events = events;
            offered_events = *events;
            offered_events.buffer = on_buffer;
        }
        implementation = (void (**)(void))(void *)&offered_events;
    }
    return next(proxy, implementation, data);
}
