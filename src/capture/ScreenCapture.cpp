#include "capture/ScreenCapture.h"

#include "capture/CursorPainter.h"
#include "capture/SourceOptions.h"
#include "platform/PortalScreenCast.h"
#include "platform/X11FrameWindow.h"
#include "platform/X11ScreenGrabber.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <climits>
#include <cmath>
#include <cstring>
#include <memory>
#include <thread>

namespace {

constexpr int64_t UnitsPerPicture = 1000000; // time_frame counts millionths of a picture
constexpr int64_t RebaseGap = 1000000;       // µs: a longer gap means the job was paused

// The per-open state; the zero-filled record FFmpeg allocates holds a pointer to it.
struct TScreenCaptureState {
    unsigned long window_handle = 0;
    AVRational time_base{0, 0}; // seconds per picture
    int64_t time_frame = 0;     // due time of the next picture, in millionths of a picture
    std::atomic<bool> Started{false};
    int x_off = 0, y_off = 0;
    bool cursor = false;
    int size = 0;
    int width = 0, height = 0;
    int bpp = 0;
    bool client = false;
    bool show_frame = false;
    std::unique_ptr<TX11FrameWindow> frame;

    TX11ScreenGrabber Grabber;
    TCursorImage Cursor; // reused by every read
    int64_t Slot = -1;   // the current picture's slot on the recording's timeline
    // In a Wayland session: the screen-cast stream, and the rectangle cut out of its
    // pictures (pixels of the stream's first picture).
    std::unique_ptr<TPortalScreenCast> Cast;
    QRect CastRect;
    bool Resumed = false; // the reader paused and goes on: start the clock afresh
};

struct TScreenCaptureRecord {
    TScreenCaptureState* State;
};

TScreenCaptureState*& StateOf(AVFormatContext* s) {
    return static_cast<TScreenCaptureRecord*>(s->priv_data)->State;
}

// t × num / den, rounded to the nearest whole number, without overflow.
int64_t MulDivRound(int64_t t, int64_t num, int64_t den) {
    const __int128 product = __int128(t) * num;
    const __int128 half = den / 2;
    return int64_t(product >= 0 ? (product + half) / den : (product - half) / den);
}

// The steady-clock time (µs) at which `timeFrame` is due.
int64_t DueTime(const TScreenCaptureState& g, int64_t timeFrame) {
    return MulDivRound(timeFrame, g.time_base.num, g.time_base.den);
}

// The time frame of steady-clock time `now`.
int64_t TimeFrameAt(const TScreenCaptureState& g, int64_t now) {
    return MulDivRound(now, g.time_base.den, g.time_base.num);
}

AVPixelFormat PixelFormatOf(TScreenPixelFormat format) {
    switch (format) {
    case spfPal8:
        return AV_PIX_FMT_PAL8;
    case spfRgb555LE:
        return AV_PIX_FMT_RGB555LE;
    case spfRgb565LE:
        return AV_PIX_FMT_RGB565LE;
    case spfRgb555BE:
        return AV_PIX_FMT_RGB555BE;
    case spfRgb565BE:
        return AV_PIX_FMT_RGB565BE;
    case spfBgr24:
        return AV_PIX_FMT_BGR24;
    case spfRgb24:
        return AV_PIX_FMT_RGB24;
    case spfBgra:
        return AV_PIX_FMT_BGRA;
    case spfArgb:
        return AV_PIX_FMT_ARGB;
    case spfNone:
        break;
    }
    return AV_PIX_FMT_NONE;
}

// The screen position of the grabbed rectangle's corner; false when the window is gone.
bool CaptureOrigin(TScreenCaptureState& g, QPoint* origin) {
    const TFrameTarget target{g.window_handle, g.client, QPoint(g.x_off, g.y_off), {}};
    return TX11FrameWindow::CaptureOrigin(g.Grabber.Connection(), target, origin);
}

int Fail(AVFormatContext* s, TScreenCaptureState* g, int code) {
    delete g;
    StateOf(s) = nullptr;
    return code;
}

} // namespace

void ParseScreenCaptureOptions(const QString& text, TScreenCaptureOptions& o) {
    int showFrame = o.ShowFrame, client = o.Client, cursor = o.Cursor;
    TOptionReader reader;
    reader.RunToEnd({"title"}, o.Title, &o.HasTitle)
        .Lenient({"hwnd"}, o.Hwnd, 0)
        .StrictPair({"offset"}, u',', o.XOff, o.YOff)
        .StrictPair({"framesize"}, u',', o.Width, o.Height)
        .Custom({"framerate"},
                [&o](const QString& value) {
                    const auto [n, d] = StrictIntPair(value, u'/');
                    o.TimeBase = AVRational{d, n};
                })
        .Lenient({"showframe"}, showFrame, 1)
        .Lenient({"client"}, client, 1)
        .Lenient({"cursor"}, cursor, 1);
    reader.Parse(text);
    o.ShowFrame = showFrame != 0;
    o.Client = client != 0;
    o.Cursor = cursor != 0;
}

namespace {

// Fills in the stream's parameters once the picture size is known.
int FinishHeader(AVFormatContext* s, TScreenCaptureState* g, AVPixelFormat pixFmt) {
    AVStream* st = NewSourceStream(s);
    if (!st)
        return Fail(s, g, AVERROR(ENOMEM));
    if (g->time_base.num <= 0 || g->time_base.den <= 0) {
        g->time_base = AVRational{1, 15};
        FF.av_log(s, AV_LOG_INFO, "frame rate assume as %d/%d.\n", 1, 15);
    }
    if (g->show_frame && !g->Cast) {
        g->frame = std::make_unique<TX11FrameWindow>();
        const TFrameTarget target{g->window_handle, g->client, QPoint(g->x_off, g->y_off),
                                  QSize(g->width, g->height)};
        if (!g->frame->Show(target, &g->Started)) {
            FF.av_log(s, AV_LOG_WARNING, "Cannot show the capture frame: %s\n",
                      g->frame->LastError().toUtf8().constData());
            g->frame.reset();
        }
    }
    SetRawVideoParameters(st, g->width, g->height, pixFmt,
                          AVRational{g->time_base.den, g->time_base.num});
    g->time_frame = TimeFrameAt(*g, FF.av_gettime_relative());
    return 0;
}

// A Wayland session: the pictures come from the desktop's screen-cast portal. The
// rectangle is given in desktop coordinates (of the chosen window, for a window) and cut
// out of the stream's pictures, scaled by the ratio of the pictures' pixels to the
// desktop's units. No frame window: a Wayland client cannot place one on the screen.
int CastReadHeader(AVFormatContext* s, TScreenCaptureState* g, const TScreenCaptureOptions& o) {
    g->Cast = std::make_unique<TPortalScreenCast>();
    const bool window = o.HasTitle || o.Hwnd != 0;
    if (!g->Cast->Open({g->cursor, window})) {
        FF.av_log(s, AV_LOG_ERROR, "%s\n", g->Cast->LastError().toUtf8().constData());
        return Fail(s, g, g->Cast->Cancelled() ? AVERROR(ECANCELED) : AVERROR(EIO));
    }
    const QRect desktop = g->Cast->DesktopRect();
    const QSize picture = g->Cast->PictureSize();
    // A desktop that shares whole monitors only gives the monitor for a window: all of
    // it, since offsets into the window mean nothing there.
    const bool shared = !window || g->Cast->SharesWindow();
    if (!shared)
        FF.av_log(s, AV_LOG_WARNING,
                  "The desktop shares whole screens only, not single windows: recording the "
                  "screen\n");
    const int x = !shared ? 0 : window ? g->x_off : g->x_off - desktop.x();
    const int y = !shared ? 0 : window ? g->y_off : g->y_off - desktop.y();
    const int64_t w = shared && o.Width > 0 ? o.Width : desktop.width();
    const int64_t h = shared && o.Height > 0 ? o.Height : desktop.height();
    const int64_t right = std::min<int64_t>(int64_t(x) + w, desktop.width());
    const int64_t bottom = std::min<int64_t>(int64_t(y) + h, desktop.height());
    if (x < 0 || y < 0 || right - x < 0 || bottom - y < 0) {
        FF.av_log(s, AV_LOG_ERROR, "Invalid properties, aborting\n");
        return Fail(s, g, AVERROR(EIO));
    }
    const double sx = desktop.width() > 0 ? double(picture.width()) / desktop.width() : 1.0;
    const double sy = desktop.height() > 0 ? double(picture.height()) / desktop.height() : 1.0;
    const QPoint topLeft(int(std::lround(x * sx)), int(std::lround(y * sy)));
    const QPoint bottomRight(int(std::lround(right * sx)), int(std::lround(bottom * sy)));
    g->CastRect =
        QRect(topLeft, QSize(bottomRight.x() - topLeft.x(), bottomRight.y() - topLeft.y()));
    g->width = g->CastRect.width();
    g->height = g->CastRect.height();
    g->bpp = 32;
    g->size = g->width * g->height * 4;
    if (const int ret = FinishHeader(s, g, AV_PIX_FMT_BGRA); ret < 0)
        return ret;
    FF.av_log(s, AV_LOG_INFO, "ready for capturing %ix%ix%i at (%i,%i)\n", g->width, g->height,
              g->bpp, g->x_off, g->y_off);
    return 0;
}

int ScreenReadHeader(AVFormatContext* s, const QString& options, const TInputParameters& ap) {
    auto* g = new TScreenCaptureState;
    StateOf(s) = g;
    TScreenCaptureOptions o;
    o.Width = ap.Width;
    o.Height = ap.Height;
    o.TimeBase = ap.TimeBase;
    try {
        ParseScreenCaptureOptions(options, o);
    } catch (...) {
        Fail(s, g, 0);
        throw;
    }
    const QString& title = o.Title;
    const bool hasTitle = o.HasTitle;
    int width = o.Width, height = o.Height;
    g->time_base = o.TimeBase;
    g->x_off = o.XOff;
    g->y_off = o.YOff;
    g->window_handle = (unsigned long)(unsigned(o.Hwnd));
    g->show_frame = o.ShowFrame;
    g->client = o.Client;
    g->cursor = o.Cursor;

    if (TPortalScreenCast::IsWaylandSession())
        return CastReadHeader(s, g, o);
    if (!g->Grabber.Open()) {
        FF.av_log(s, AV_LOG_ERROR, "Couldn't get window DC (error %li)\n", 0L);
        return Fail(s, g, AVERROR(EIO));
    }
    TX11Connection& x = g->Grabber.Connection();
    if (hasTitle)
        g->window_handle = x.FindWindowByTitle(title.toUtf8());
    QRect area;
    if (!x.WindowRect(g->window_handle, g->client, &area)) {
        FF.av_log(s, AV_LOG_ERROR, "Couldn't get window DC (error %li)\n", long(3 /*BadWindow*/));
        return Fail(s, g, AVERROR(EIO));
    }
    const QSize screen = g->Grabber.ScreenSize();
    g->width = width > 0 ? width : area.width();
    g->height = height > 0 ? height : area.height();
    // Clipped against the screen's size, also for a window. In 64 bits, so that no
    // offset of an option string overflows; what lies off the screen is refused below.
    const auto clip = [](int offset, int size, int screenSize) {
        if (int64_t(offset) + size <= screenSize)
            return size;
        return int(std::clamp<int64_t>(int64_t(screenSize) - offset, -1, INT_MAX));
    };
    g->width = clip(g->x_off, g->width, screen.width());
    g->height = clip(g->y_off, g->height, screen.height());
    g->bpp = g->Grabber.BitsPerPixel();
    if (g->width < 0 || g->height < 0 || g->bpp % 8 != 0) {
        FF.av_log(s, AV_LOG_ERROR, "Invalid properties, aborting\n");
        return Fail(s, g, AVERROR(EIO));
    }
    if (!g->Grabber.Prepare(g->width, g->height)) {
        FF.av_log(s, AV_LOG_ERROR, "Screen DC CreateCompatibleBitmap (error %li)\n",
                  long(g->Grabber.ErrorCode()));
        return Fail(s, g, AVERROR(EIO));
    }
    FF.av_log(s, AV_LOG_DEBUG,
              "Using Bitmap type %li, size %lix%lix%i, %i planes of width %li bytes\n",
              long(g->Grabber.UsesSharedMemory()), long(g->width), long(g->height), g->bpp, 1,
              long(g->Grabber.RowBytes()));
    const AVPixelFormat pixFmt = PixelFormatOf(g->Grabber.PixelFormat());
    if (pixFmt == AV_PIX_FMT_NONE) {
        FF.av_log(s, AV_LOG_ERROR, "image depth %i not supported ... aborting\n", g->bpp);
        return Fail(s, g, -1);
    }
    g->size = g->Grabber.PictureSize();
    if (const int ret = FinishHeader(s, g, pixFmt); ret < 0)
        return ret;

    if (hasTitle)
        FF.av_log(s, AV_LOG_INFO, "Found window %s, ", title.toUtf8().constData());
    FF.av_log(s, AV_LOG_INFO, "ready for capturing %ix%ix%i at (%i,%i)\n", g->width, g->height,
              g->bpp, g->x_off, g->y_off);
    return 0;
}

// Waits for the next picture's slot and returns its time on the recording's timeline.
// The slots follow the steady clock, as the sound does: the wall clock may be set or
// slewed during a recording (time synchronisation, the user), which would move the
// pictures against the sound, or stop them for as long as the clock was set back.
int64_t WaitForSlot(TScreenCaptureState& g) {
    int64_t now = FF.av_gettime_relative();
    if (!g.Started) {
        g.time_frame = TimeFrameAt(g, now);
        g.Started = true;
    }
    g.time_frame += UnitsPerPicture;
    ++g.Slot;
    int64_t delay = DueTime(g, g.time_frame) - now;
    while (delay > 0) {
        std::this_thread::sleep_for(std::chrono::microseconds(delay));
        now = FF.av_gettime_relative();
        delay = DueTime(g, g.time_frame) - now;
    }
    const int64_t interval = MulDivRound(1000000, g.time_base.num, g.time_base.den);
    if (g.Resumed || -delay > RebaseGap) {
        // The job was paused (it said so, or nothing was read for longer than a second):
        // start the clock again now, and let this picture follow the last one delivered,
        // so the pause leaves neither a gap nor a burst.
        g.Resumed = false;
        g.time_frame = TimeFrameAt(g, now);
    } else if (interval > 0 && -delay > interval) {
        // Grabbing or encoding fell behind: take the slot the clock is in now.
        const int64_t missed = -delay / interval;
        g.time_frame += missed * UnitsPerPicture;
        g.Slot += missed;
    }
    return MulDivRound(g.Slot, int64_t(g.time_base.num) * 1000000, g.time_base.den);
}

int FinishPacket(const TScreenCaptureState& g, AVPacket* pkt, int64_t pts) {
    pkt->stream_index = 0;
    pkt->pts = pkt->dts = pts;
    pkt->duration = MulDivRound(1000000, g.time_base.num, g.time_base.den);
    pkt->flags |= AV_PKT_FLAG_KEY;
    return g.size;
}

// The packet's buffer: a reference to the grabber's shared segment.
void ReleaseSegment(void* opaque, uint8_t*) {
    delete static_cast<std::shared_ptr<uint8_t>*>(opaque);
}

// Grabs the picture at `origin` into `pkt`. The packet takes the grabbed picture by
// reference, so that the job's conversion reads it straight from the segment the X server
// wrote; only when no segment can be lent is the picture copied into a packet of its own.
bool GrabInto(TScreenCaptureState& g, QPoint origin, AVPacket* pkt) {
    static_assert(TX11ScreenGrabber::SharedTailBytes >= AV_INPUT_BUFFER_PADDING_SIZE);
    std::shared_ptr<uint8_t> shared;
    if (!g.Grabber.GrabShared(origin, &shared))
        return false;
    if (shared) {
        auto* owner = new std::shared_ptr<uint8_t>(std::move(shared));
        pkt->buf = FF.av_buffer_create(owner->get(), size_t(g.size), &ReleaseSegment, owner, 0);
        if (!pkt->buf) {
            delete owner;
            return false;
        }
        pkt->data = pkt->buf->data;
        pkt->size = g.size;
        return true;
    }
    if (FF.av_new_packet(pkt, g.size) < 0)
        return false;
    return g.Grabber.Grab(origin, pkt->data);
}

int ScreenReadPacket(AVFormatContext* s, AVPacket* pkt) {
    TScreenCaptureState& g = *StateOf(s);
    const int64_t pts = WaitForSlot(g);
    if (g.Cast) {
        // The desktop stopped the sharing: the recording ends here as at a stop.
        if (g.Cast->Ended()) {
            FF.av_log(s, AV_LOG_ERROR, "The screen sharing was ended by the desktop\n");
            return AVERROR_EOF;
        }
        if (FF.av_new_packet(pkt, g.size) < 0)
            return AVERROR(EIO);
        g.Cast->CopyLatest(g.CastRect, pkt->data);
        return FinishPacket(g, pkt, pts);
    }
    QPoint origin;
    if (!CaptureOrigin(g, &origin) || !GrabInto(g, origin, pkt)) {
        FF.av_log(s, AV_LOG_ERROR, "Failed to capture image (error %li)\n",
                  long(g.Grabber.ErrorCode() ? g.Grabber.ErrorCode() : 3 /*BadWindow*/));
        FF.av_packet_unref(pkt);
        return -1;
    }
    if (g.cursor) {
        if (!g.Grabber.ReadCursor(&g.Cursor)) {
            FF.av_log(s, AV_LOG_ERROR, "Couldn't get cursor info: error %li\n",
                      long(g.Grabber.ErrorCode()));
            g.cursor = false;
        } else {
            PaintCursor(pkt->data, g.width, g.height, g.Grabber.PixelFormat(), g.Grabber.Palette(),
                        g.Cursor, g.Cursor.Position - g.Cursor.HotSpot - origin);
        }
    }
    if (g.Grabber.PixelFormat() == spfPal8) {
        // The decoder takes the colours from the packet.
        if (uint8_t* palette = FF.av_packet_new_side_data(pkt, AV_PKT_DATA_PALETTE, AVPALETTE_SIZE))
            std::memcpy(palette, g.Grabber.Palette().data(), AVPALETTE_SIZE);
    }
    return FinishPacket(g, pkt, pts);
}

// The job goes on reading after a pause (on its reading thread, between two reads).
int ScreenReadPlay(AVFormatContext* s) {
    StateOf(s)->Resumed = true;
    return 0;
}

int ScreenReadClose(AVFormatContext* s) {
    delete StateOf(s); // hides the frame window and ends its thread
    StateOf(s) = nullptr;
    return 0;
}

} // namespace

const TOwnInputFormat ScreenCaptureFormat = {
    ScreenCaptureName,
    "Screen capture using GDI",
    int(sizeof(TScreenCaptureRecord)),
    &ScreenReadHeader,
    &ScreenReadPacket,
    &ScreenReadClose,
    nullptr,
    &ScreenReadPlay,
};

void RegisterScreenCapture() {
    RegisterInputFormat(ScreenCaptureFormat);
}
