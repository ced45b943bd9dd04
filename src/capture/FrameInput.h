#pragma once

#include "media/FFApi.h"
#include "media/FFBaseComponent.h"

#include <QString>

#include <functional>
#include <mutex>

class QImage;
class QPainter;
class QPaintDevice;

// The "frameinput" input format: the program paints the pictures of a video itself.
// For every picture the job reads, the format raises a frame event on a
// TFrameInputAdapter; the handler paints the picture for the time it is given and
// returns 0 or more, or a negative value when there are no more pictures (which ends
// the input). The adapter is named in the option string by its handle:
//
//     TFrameInputAdapter adapter;
//     THandleRegistration<TFrameInputAdapter> handle(&adapter);   // capture/HandleTable.h
//     adapter.OnReadFrameCanvas = [&](QObject*, QPainter* canvas, TInputFrameInfo* info) {
//         if (info->TimeStamp >= songLength)
//             return -1;
//         canvas->fillRect(0, 0, info->Width, info->Height, Qt::black);
//         ...
//         return 0;
//     };
//     RegisterFrameInput();                                        // after loading FFmpeg
//     TInputOptions io; InitInputOptions(&io); io.ForceFormat = "frameinput";
//     encoder.AddTask(QStringLiteral("a=%1;r=2/1;s=320*240;bpp=24;t=Canvas")
//                         .arg(handle.Handle()), &io);
//
// Options ("key=value;..."): "adapter"/"a" the adapter's handle; "framerate"/"r" n/d or
// n:d pictures per second; "framesize"/"s" w*h or wxh; "bitsperpixel"/"bpp" 8, 16, 24
// or 32; "inputtype"/"t" "canvas", "dc", "bmp" (any case; any other word: YUV mode);
// "pixelformat"/"pf" a pixel format name for YUV mode.
//
// The four input types:
// - canvas: a QPainter over the adapter's picture (a QImage of the depth's format:
//   8 bits grey levels with a grey palette in the stream, 16 bits RGB555, 24 bits BGR24,
//   32 bits BGRA). The packet holds the rows top row first, BytesPerLine bytes each.
// - DC: the same picture handed over as a paint device (the handler makes its painter).
// - BMP: the same picture's pixel memory, top row first, BytesPerLine bytes per row.
// - YUV: the packet's own memory, to be filled in the layout FFmpeg gives the pixel
//   format (av_image_get_buffer_size with alignment 1).
// The picture is created once per open and kept between pictures, so a handler that
// paints part of it leaves the rest of the previous picture in place.
//
// The events run on the main thread while TriggerEventInMainThread is true (the reading
// thread waits for them); otherwise on the reading thread, with the canvas locked.

// The description of the requested picture.
struct TInputFrameInfo {
    int64_t TimeStamp;     // microseconds; a handler may move it forward
    int64_t LastTimeStamp; // the previous picture's time; AV_NOPTS_VALUE before the first
    int32_t FrameNumber;   // 1 for the first picture
    int32_t Width;
    int32_t Height;
    int32_t BitsPerPixel;  // 8, 16, 24 or 32 (0 in YUV mode unless given)
    int32_t BytesPerLine;  // ((Width × BitsPerPixel + 31) div 32) × 4
    int32_t BytesPerFrame; // bytes of one packet
    AVPixelFormat PixelFormat;
};

class TFrameInputAdapter : public TFFBaseComponent {
public:
    using TNotifyEvent = std::function<void(QObject* sender)>;
    using TReadFrameCanvasEvent =
        std::function<int(QObject* sender, QPainter* canvas, TInputFrameInfo* frameInfo)>;
    using TReadFrameDataEvent =
        std::function<int(QObject* sender, void* data, TInputFrameInfo* frameInfo)>;
    using TReadFrameDCEvent =
        std::function<int(QObject* sender, QPaintDevice* dc, TInputFrameInfo* frameInfo)>;

    explicit TFrameInputAdapter(QObject* owner = nullptr);
    ~TFrameInputAdapter() override;

    bool TriggerEventInMainThread = true;
    TNotifyEvent OnReadHeader;
    TNotifyEvent OnReadClose;
    TReadFrameCanvasEvent OnReadFrameCanvas;
    TReadFrameDataEvent OnReadFrameBMP;
    TReadFrameDCEvent OnReadFrameDC;
    TReadFrameDataEvent OnReadFrameYUV;

    // The picture description of the input opened last; null before the first open.
    const TInputFrameInfo* FrameInfo() const { return FFrameInfo; }
    void* UserData = nullptr;

private:
    friend struct TFrameInputAccess;
    // Runs `event` on the main thread or on this one, as TriggerEventInMainThread says.
    void Trigger(const std::function<void()>& event);

    TInputFrameInfo* FFrameInfo = nullptr;
    int FResult = 0;
    std::mutex FCanvasLock;
};

// Registers the "frameinput" format (registering again changes nothing). libavformat
// must be loaded.
// What an option string of "frameinput" asks for; absent keys keep these values.
enum TFrameInputType { itYUV = 0, itDC = 1, itBMP = 2, itCanvas = 3 };
struct TFrameInputOptions {
    int AdapterHandle = 0;
    int Num = 0, Den = 0; // pictures per second: Num / Den
    int Width = 0, Height = 0;
    int BitsPerPixel = 0;
    TFrameInputType InputType = itYUV;
    AVPixelFormat PixelFormat = AVPixelFormat(0);
};

// Applies the option string to `options`; false when a pixel format name is unknown,
// which ends the parsing (nothing after it is applied). A malformed number throws
// EConvertError. Pixel format names are looked up in libavutil, which must be loaded.
bool ParseFrameInputOptions(const QString& text, TFrameInputOptions& options);

void RegisterFrameInput();
