#include "platform/X11ScreenGrabber.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XShm.h>
#include <X11/extensions/Xfixes.h>

#include <sys/ipc.h>
#include <sys/shm.h>

#include <atomic>
#include <cstring>

int BytesPerPixel(TScreenPixelFormat format) {
    switch (format) {
    case spfPal8:
        return 1;
    case spfRgb555LE:
    case spfRgb565LE:
    case spfRgb555BE:
    case spfRgb565BE:
        return 2;
    case spfBgr24:
    case spfRgb24:
        return 3;
    case spfBgra:
    case spfArgb:
        return 4;
    case spfNone:
        break;
    }
    return 0;
}

// A shared-memory mapping. Freed by its last owner: the image that uses it, or a lent
// picture that outlives the image.
struct TX11ScreenGrabber::TSegment {
    char* Address = nullptr;
    std::atomic<bool> Lent{false}; // a picture of it is out; set and cleared with release

    ~TSegment() {
        if (Address)
            shmdt(Address);
    }
};

// One picture image over a shared segment attached to the server.
struct TX11ScreenGrabber::TImage {
    Display* Dpy = nullptr;
    XImage* Image = nullptr;
    XShmSegmentInfo Shm{};
    bool Attached = false;
    std::shared_ptr<TSegment> Segment = std::make_shared<TSegment>();

    ~TImage() {
        if (Attached) {
            XShmDetach(Dpy, &Shm);
            XSync(Dpy, False);
        }
        if (Image) {
            Image->data = nullptr; // the segment is not Xlib's to free
            XDestroyImage(Image);
        }
    }
};

TX11ScreenGrabber::TX11ScreenGrabber() = default;

TX11ScreenGrabber::~TX11ScreenGrabber() {
    FImages.clear();
}

bool TX11ScreenGrabber::Fail(const QString& text, int code) {
    FLastError = text;
    FErrorCode = code;
    return false;
}

namespace {

TScreenPixelFormat FormatOf(int bitsPerPixel, const Visual* visual, bool msbFirst) {
    const unsigned long r = visual->red_mask, g = visual->green_mask, b = visual->blue_mask;
    switch (bitsPerPixel) {
    case 8:
        return spfPal8;
    case 16:
        if (r == 0xF800 && g == 0x07E0 && b == 0x001F)
            return msbFirst ? spfRgb565BE : spfRgb565LE;
        if (r == 0x7C00 && g == 0x03E0 && b == 0x001F)
            return msbFirst ? spfRgb555BE : spfRgb555LE;
        return spfNone;
    case 24:
    case 32:
        if (r != 0xFF0000 || g != 0x00FF00 || b != 0x0000FF)
            return spfNone;
        if (bitsPerPixel == 24)
            return msbFirst ? spfRgb24 : spfBgr24;
        return msbFirst ? spfArgb : spfBgra;
    default:
        return spfNone;
    }
}

} // namespace

bool TX11ScreenGrabber::Open() {
    FImages.clear();
    if (!FConnection.Open())
        return Fail(FConnection.LastError(), 0);
    Display* dpy = FConnection.Dpy();
    const int screen = DefaultScreen(dpy);
    FScreenSize = FConnection.ScreenSize();
    const int depth = DefaultDepth(dpy, screen);
    FBitsPerPixel = depth;
    int count = 0;
    if (XPixmapFormatValues* formats = XListPixmapFormats(dpy, &count)) {
        for (int i = 0; i < count; ++i)
            if (formats[i].depth == depth)
                FBitsPerPixel = formats[i].bits_per_pixel;
        XFree(formats);
    }
    Visual* visual = DefaultVisual(dpy, screen);
    FFormat = FormatOf(FBitsPerPixel, visual, ImageByteOrder(dpy) == MSBFirst);
    FPalette.clear();
    if (FFormat == spfPal8) {
        XColor colors[256];
        const int cells = std::min(256, visual->map_entries);
        for (int i = 0; i < 256; ++i) {
            colors[i] = XColor{};
            colors[i].pixel = i < cells ? i : 0;
        }
        XQueryColors(dpy, DefaultColormap(dpy, screen), colors, 256);
        for (const XColor& c : colors)
            FPalette.push_back(0xFF000000u | uint32_t(c.red >> 8) << 16 |
                               uint32_t(c.green >> 8) << 8 | uint32_t(c.blue >> 8));
    }
    int event, error;
    FHasFixes = XFixesQueryExtension(dpy, &event, &error);
    if (FHasFixes) {
        int major = 2, minor = 0;
        FHasFixes = XFixesQueryVersion(dpy, &major, &minor) && major >= 1;
    }
    return true;
}

std::unique_ptr<TX11ScreenGrabber::TImage> TX11ScreenGrabber::MakeImage() {
    Display* dpy = FConnection.Dpy();
    const int screen = DefaultScreen(dpy);
    auto image = std::make_unique<TImage>();
    image->Dpy = dpy;
    image->Image = XShmCreateImage(dpy, DefaultVisual(dpy, screen), DefaultDepth(dpy, screen),
                                   ZPixmap, nullptr, &image->Shm, FWidth, FHeight);
    if (!image->Image)
        return nullptr;
    const size_t bytes = size_t(image->Image->bytes_per_line) * FHeight + SharedTailBytes;
    image->Shm.shmid = shmget(IPC_PRIVATE, bytes, IPC_CREAT | 0600);
    if (image->Shm.shmid < 0)
        return nullptr;
    char* address = static_cast<char*>(shmat(image->Shm.shmid, nullptr, 0));
    if (address != reinterpret_cast<char*>(-1))
        image->Segment->Address = address;
    image->Shm.shmaddr = image->Image->data = image->Segment->Address;
    image->Shm.readOnly = False;
    bool attached = image->Segment->Address && XShmAttach(dpy, &image->Shm);
    // A remote server cannot attach our segment: it answers with an error.
    attached = FConnection.TakeError() == 0 && attached;
    shmctl(image->Shm.shmid, IPC_RMID, nullptr); // freed once both sides let go
    if (!attached)
        return nullptr;
    image->Attached = true;
    return image;
}

bool TX11ScreenGrabber::Prepare(int width, int height) {
    FImages.clear();
    FWidth = std::max(0, width);
    FHeight = std::max(0, height);
    if (FWidth == 0 || FHeight == 0 || !XShmQueryExtension(FConnection.Dpy()))
        return true;
    if (auto image = MakeImage())
        FImages.push_back(std::move(image));
    return true;
}

bool TX11ScreenGrabber::UsesSharedMemory() const {
    return !FImages.empty();
}

TX11ScreenGrabber::TImage* TX11ScreenGrabber::GrabIntoFreeImage(QPoint origin, bool* failed) {
    *failed = false;
    if (FImages.empty() ||
        !QRect(QPoint(0, 0), FScreenSize).contains(QRect(origin, QSize(FWidth, FHeight))))
        return nullptr;
    TImage* image = nullptr;
    for (const auto& candidate : FImages)
        if (!candidate->Segment->Lent.load(std::memory_order_acquire)) {
            image = candidate.get();
            break;
        }
    if (!image && int(FImages.size()) < MaxSharedPictures) {
        if (auto made = MakeImage())
            image = FImages.emplace_back(std::move(made)).get();
    }
    if (!image)
        return nullptr;
    Display* dpy = FConnection.Dpy();
    const bool ok =
        XShmGetImage(dpy, FConnection.Root(), image->Image, origin.x(), origin.y(), AllPlanes);
    const int code = FConnection.TakeReceivedError();
    if (!ok || code) {
        *failed = true;
        Fail(FConnection.ErrorText(code), code ? code : BadImplementation);
        return nullptr;
    }
    return image;
}

bool TX11ScreenGrabber::GrabShared(QPoint origin, std::shared_ptr<uint8_t>* picture) {
    picture->reset();
    if (FWidth == 0 || FHeight == 0 || FImages.empty() ||
        FImages.front()->Image->bytes_per_line != RowBytes())
        return true;
    bool failed = false;
    TImage* image = GrabIntoFreeImage(origin, &failed);
    if (!image)
        return !failed;
    std::shared_ptr<TSegment> segment = image->Segment;
    segment->Lent.store(true, std::memory_order_release);
    *picture =
        std::shared_ptr<uint8_t>(reinterpret_cast<uint8_t*>(segment->Address), [segment](uint8_t*) {
            segment->Lent.store(false, std::memory_order_release);
        });
    return true;
}

bool TX11ScreenGrabber::Grab(QPoint origin, uint8_t* picture) {
    if (FWidth == 0 || FHeight == 0)
        return true;
    const int bpp = BytesPerPixel(FFormat);
    const int rowBytes = RowBytes();
    bool failed = false;
    if (const TImage* shared = GrabIntoFreeImage(origin, &failed)) {
        const XImage* image = shared->Image;
        for (int y = 0; y < FHeight; ++y)
            std::memcpy(picture + size_t(y) * rowBytes,
                        image->data + size_t(y) * image->bytes_per_line, rowBytes);
        return true;
    }
    if (failed)
        return false;
    Display* dpy = FConnection.Dpy();
    const QRect wanted(origin, QSize(FWidth, FHeight));
    const QRect part = wanted & QRect(QPoint(0, 0), FScreenSize);
    if (part != wanted)
        std::memset(picture, 0, size_t(rowBytes) * FHeight);
    if (part.isEmpty())
        return true;
    XImage* image = XGetImage(dpy, FConnection.Root(), part.x(), part.y(), part.width(),
                              part.height(), AllPlanes, ZPixmap);
    const int code = FConnection.TakeReceivedError();
    if (!image || code) {
        if (image)
            XDestroyImage(image);
        return Fail(FConnection.ErrorText(code), code ? code : BadImplementation);
    }
    const QPoint at = part.topLeft() - origin;
    for (int y = 0; y < part.height(); ++y)
        std::memcpy(picture + size_t(at.y() + y) * rowBytes + size_t(at.x()) * bpp,
                    image->data + size_t(y) * image->bytes_per_line, size_t(part.width()) * bpp);
    XDestroyImage(image);
    return true;
}

bool TX11ScreenGrabber::ReadCursor(TCursorImage* image) {
    if (!FHasFixes)
        return Fail(QStringLiteral("the X server has no XFixes extension"), BadImplementation);
    XFixesCursorImage* cursor = XFixesGetCursorImage(FConnection.Dpy());
    const int code = FConnection.TakeReceivedError();
    if (!cursor || code) {
        if (cursor)
            XFree(cursor);
        return Fail(FConnection.ErrorText(code), code ? code : BadImplementation);
    }
    image->Position = QPoint(cursor->x, cursor->y);
    image->HotSpot = QPoint(cursor->xhot, cursor->yhot);
    image->Width = cursor->width;
    image->Height = cursor->height;
    const size_t count = size_t(cursor->width) * cursor->height;
    image->Pixels.resize(count);
    for (size_t i = 0; i < count; ++i)
        image->Pixels[i] = uint32_t(cursor->pixels[i]); // one ARGB value per unsigned long
    XFree(cursor);
    return true;
}
