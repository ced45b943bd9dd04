#include "capture/FrameInput.h"

#include "capture/HandleTable.h"
#include "capture/SourceOptions.h"
#include "media/InputFormats.h"
#include "media/MainThread.h"

#include <QImage>
#include <QPainter>

#include <cinttypes>
#include <cstring>

namespace {

// The per-open state; FFmpeg allocates it zero-filled and frees it after the close.
struct TFrameInputState {
    TInputFrameInfo Info;
    int InputType;
    QImage* Picture;   // DC, BMP and canvas modes
    QPainter* Painter; // canvas mode
    AVPacket* Packet;  // the packet being filled
    int Den;           // the frame rate's denominator and numerator
    int Num;
    int64_t Clock; // 1,000,000 per picture
    TFrameInputAdapter* Adapter;
    // The packets' memory, used again once the job has done with a picture: a picture
    // is copied into memory that is already mapped.
    AVBufferPool* Pool;
};

// n × mul / div rounded to the nearest whole number (halves away from zero).
int64_t RoundedScale(int64_t n, int64_t mul, int64_t div) {
    const int64_t product = n * mul;
    const int64_t half = div / 2;
    return product >= 0 ? (product + half) / div : -((-product + half) / div);
}

AVPixelFormat DepthPixelFormat(int bpp) {
    switch (bpp) {
    case 8:
        return AV_PIX_FMT_PAL8;
    case 16:
        return AV_PIX_FMT_RGB555LE;
    case 24:
        return AV_PIX_FMT_BGR24;
    default:
        return AV_PIX_FMT_BGRA;
    }
}

// The QImage format whose memory layout is the depth's pixel format. 8 bits are grey
// levels: the stream carries a grey palette with every picture.
QImage::Format DepthImageFormat(int bpp) {
    switch (bpp) {
    case 8:
        return QImage::Format_Grayscale8;
    case 16:
        return QImage::Format_RGB555;
    case 24:
        return QImage::Format_BGR888;
    default:
        return QImage::Format_ARGB32; // bytes B, G, R, A on little-endian machines
    }
}

// A packet of `size` bytes (and zeroed padding) from the state's pool; false without
// memory.
bool NewPacket(TFrameInputState* state, AVPacket* pkt, int size) {
    if (state->Pool == nullptr)
        state->Pool = FF.av_buffer_pool_init(size_t(size) + AV_INPUT_BUFFER_PADDING_SIZE, nullptr);
    AVBufferRef* buffer = state->Pool ? FF.av_buffer_pool_get(state->Pool) : nullptr;
    if (buffer == nullptr)
        return false;
    pkt->buf = buffer;
    pkt->data = buffer->data;
    pkt->size = size;
    std::memset(pkt->data + size, 0, AV_INPUT_BUFFER_PADDING_SIZE);
    return true;
}

void ReleasePicture(TFrameInputState* state) {
    delete state->Painter;
    state->Painter = nullptr;
    delete state->Picture;
    state->Picture = nullptr;
}

} // namespace

// The format's operations reach the adapter's private parts through this.
struct TFrameInputAccess {
    static int ReadHeader(AVFormatContext* s, const QString& options, const TInputParameters&);
    static int ReadPacket(AVFormatContext* s, AVPacket* pkt);
    static int ReadClose(AVFormatContext* s);
    static int RaiseFrameEvent(TFrameInputState* state, AVPacket* pkt);
};

TFrameInputAdapter::TFrameInputAdapter(QObject* owner) : TFFBaseComponent(owner) {}

TFrameInputAdapter::~TFrameInputAdapter() {
    OnReadHeader = nullptr;
    OnReadClose = nullptr;
    OnReadFrameCanvas = nullptr;
    OnReadFrameBMP = nullptr;
    OnReadFrameDC = nullptr;
    OnReadFrameYUV = nullptr;
}

void TFrameInputAdapter::Trigger(const std::function<void()>& event) {
    if (TriggerEventInMainThread)
        CallInMainThread(event);
    else
        event();
}

bool ParseFrameInputOptions(const QString& text, TFrameInputOptions& o) {
    bool unknownPixelFormat = false;
    TOptionReader reader;
    reader.Strict({"adapter", "a"}, o.AdapterHandle)
        .StrictPair({"framerate", "r"}, u'/', o.Num, o.Den, u':')
        .StrictPair({"framesize", "s"}, u'*', o.Width, o.Height, u'x')
        .Strict({"bitsperpixel", "bpp"}, o.BitsPerPixel)
        .Custom({"inputtype", "t"},
                [&o](const QString& value) {
                    const QString word = value.toLower();
                    o.InputType = word == u"dc"       ? itDC
                                  : word == u"bmp"    ? itBMP
                                  : word == u"canvas" ? itCanvas
                                                      : itYUV;
                })
        .Custom({"pixelformat", "pf"}, [&](const QString& value) {
            if (unknownPixelFormat)
                return;
            const AVPixelFormat format = FF.av_get_pix_fmt(value.toLower().toUtf8().constData());
            if (format == AV_PIX_FMT_NONE)
                unknownPixelFormat = true;
            else
                o.PixelFormat = format;
        });
    // An unknown pixel format ends the parsing: nothing after it is applied.
    for (const TOptionPiece& piece : SplitOptionString(text)) {
        reader.Parse(piece.HasValue ? piece.Key + u'=' + piece.Value : piece.Key);
        if (unknownPixelFormat)
            return false;
    }
    return true;
}

int TFrameInputAccess::ReadHeader(AVFormatContext* s, const QString& options,
                                  const TInputParameters&) {
    auto* state = static_cast<TFrameInputState*>(s->priv_data);
    TInputFrameInfo& info = state->Info;
    TFrameInputOptions o;
    const bool known = ParseFrameInputOptions(options, o);
    state->Num = o.Num;
    state->Den = o.Den;
    state->InputType = o.InputType;
    info.Width = o.Width;
    info.Height = o.Height;
    info.BitsPerPixel = o.BitsPerPixel;
    info.PixelFormat = o.PixelFormat;
    if (!known) {
        FF.av_log(s, AV_LOG_ERROR, "Unknown pixel format requested\n");
        return AVERROR(EINVAL);
    }
    const int adapterHandle = o.AdapterHandle;

    state->Adapter = FindHandle<TFrameInputAdapter>(adapterHandle);
    if (state->Adapter == nullptr) {
        FF.av_log(s, AV_LOG_ERROR, "Invalid FrameInputAdapter\n");
        return AVERROR(EINVAL);
    }
    if (state->Num == 0 || state->Den == 0) {
        FF.av_log(s, AV_LOG_ERROR, "Invalid frame rate\n");
        return AVERROR(EINVAL);
    }
    if (info.Width <= 0 || info.Height <= 0) {
        FF.av_log(s, AV_LOG_ERROR, "Invalid frame size\n");
        return AVERROR(EINVAL);
    }
    const int bpp = info.BitsPerPixel;
    if (state->InputType != itYUV) {
        if (bpp != 8 && bpp != 16 && bpp != 24 && bpp != 32) {
            FF.av_log(s, AV_LOG_ERROR, "Invalid BitsPerPixel\n");
            return AVERROR(EINVAL);
        }
        info.PixelFormat = DepthPixelFormat(bpp);
    }
    info.BytesPerLine = int((int64_t(info.Width) * bpp + 31) / 32 * 4);

    if (state->InputType == itYUV) {
        const int size = FF.av_image_get_buffer_size(info.PixelFormat, info.Width, info.Height, 1);
        if (size < 0) {
            FF.av_log(s, AV_LOG_ERROR, "avpicture_get_size() failed\n");
            return AVERROR(EIO);
        }
        info.BytesPerFrame = size;
    } else {
        const int64_t frameBytes = int64_t(info.BytesPerLine) * info.Height;
        auto* picture = frameBytes <= INT32_MAX
                            ? new QImage(info.Width, info.Height, DepthImageFormat(bpp))
                            : nullptr;
        if (picture == nullptr || picture->isNull() ||
            picture->bytesPerLine() != info.BytesPerLine) {
            delete picture;
            FF.av_log(s, AV_LOG_ERROR, "CreateDIBSection error #%li\n", long(ENOMEM));
            return AVERROR(EIO);
        }
        // A new bitmap starts black, as the pixel memory of a fresh bitmap section does.
        picture->fill(0);
        state->Picture = picture;
        if (state->InputType == itCanvas)
            state->Painter = new QPainter(picture);
        info.BytesPerFrame = int(frameBytes);
    }

    AVStream* st = NewSourceStream(s);
    if (st == nullptr) {
        ReleasePicture(state);
        return AVERROR(ENOMEM);
    }
    SetRawVideoParameters(st, info.Width, info.Height, info.PixelFormat, {state->Num, state->Den});
    // The packets carry the rows with their alignment bytes.
    st->codecpar->bit_rate = RoundedScale(int64_t(info.BytesPerFrame) * 8, state->Num, state->Den);
    st->codecpar->bits_per_coded_sample = bpp;

    info.LastTimeStamp = AV_NOPTS_VALUE;
    info.FrameNumber = 1;
    state->Clock = 0;

    TFrameInputAdapter* adapter = state->Adapter;
    adapter->FFrameInfo = &state->Info;
    if (adapter->OnReadHeader)
        adapter->Trigger([adapter] {
            if (adapter->OnReadHeader)
                adapter->OnReadHeader(adapter);
        });
    return 0;
}

int TFrameInputAccess::RaiseFrameEvent(TFrameInputState* state, AVPacket* pkt) {
    TFrameInputAdapter* adapter = state->Adapter;
    TInputFrameInfo* info = &state->Info;
    int result = -1;
    switch (state->InputType) {
    case itCanvas:
        adapter->Trigger([&] {
            if (!adapter->OnReadFrameCanvas)
                return;
            if (adapter->TriggerEventInMainThread) {
                result = adapter->OnReadFrameCanvas(adapter, state->Painter, info);
            } else {
                const std::lock_guard lock(adapter->FCanvasLock);
                result = adapter->OnReadFrameCanvas(adapter, state->Painter, info);
            }
        });
        break;
    case itDC:
        adapter->Trigger([&] {
            if (adapter->OnReadFrameDC)
                result = adapter->OnReadFrameDC(adapter, state->Picture, info);
        });
        break;
    case itBMP:
        adapter->Trigger([&] {
            if (adapter->OnReadFrameBMP)
                result = adapter->OnReadFrameBMP(adapter, state->Picture->bits(), info);
        });
        break;
    default:
        adapter->Trigger([&] {
            if (adapter->OnReadFrameYUV)
                result = adapter->OnReadFrameYUV(adapter, pkt->data, info);
        });
        break;
    }
    adapter->FResult = result;
    return result;
}

int TFrameInputAccess::ReadPacket(AVFormatContext* s, AVPacket* pkt) {
    auto* state = static_cast<TFrameInputState*>(s->priv_data);
    TInputFrameInfo& info = state->Info;
    if (!NewPacket(state, pkt, info.BytesPerFrame))
        return AVERROR(ENOMEM);
    state->Packet = pkt;

    const int64_t requested = RoundedScale(state->Clock, state->Den, state->Num);
    info.TimeStamp = requested;
    pkt->pts = pkt->dts = requested;

    const int result = RaiseFrameEvent(state, pkt);
    state->Packet = nullptr;
    if (result < 0) {
        switch (state->InputType) {
        case itCanvas:
            FF.av_log(s, AV_LOG_INFO, "reading frame (Canvas) return %d\n", result);
            break;
        case itDC:
            FF.av_log(s, AV_LOG_INFO, "reading frame (DC) return %d\n", result);
            break;
        case itBMP:
            FF.av_log(s, AV_LOG_ERROR, "reading frame (BMP) return %d\n", result);
            break;
        default:
            FF.av_log(s, AV_LOG_INFO, "reading frame (YUV) return\n");
            break;
        }
        FF.av_packet_unref(pkt);
        return result;
    }

    switch (state->InputType) {
    case itCanvas:
    case itDC:
    case itBMP: {
        // The painter draws straight into the picture's memory, so the rows are read as
        // they stand, without ending the painter.
        const QImage* picture = state->Picture;
        const uchar* bits = picture->constBits();
        std::memcpy(pkt->data, bits, size_t(info.BytesPerFrame));
        pkt->flags |= AV_PKT_FLAG_KEY;
        if (info.PixelFormat == AV_PIX_FMT_PAL8) {
            uint8_t* palette = FF.av_packet_new_side_data(pkt, AV_PKT_DATA_PALETTE, AVPALETTE_SIZE);
            if (palette == nullptr) {
                FF.av_packet_unref(pkt);
                return AVERROR(ENOMEM);
            }
            for (uint32_t i = 0; i < 256; ++i) {
                const uint32_t grey = 0xFF000000u | (i << 16) | (i << 8) | i;
                std::memcpy(palette + 4 * i, &grey, 4);
            }
        }
        break;
    }
    case itYUV:
        break;
    default:
        FF.av_packet_unref(pkt);
        return -1;
    }

    if (info.TimeStamp != requested) {
        if (info.TimeStamp > info.LastTimeStamp) {
            pkt->pts = pkt->dts = info.TimeStamp;
            state->Clock = RoundedScale(info.TimeStamp, state->Num, state->Den);
        } else {
            FF.av_log(s, AV_LOG_WARNING, "invalid pts %" PRId64 "\n", info.TimeStamp);
        }
    }
    state->Clock += 1000000;
    info.FrameNumber += 1;
    info.LastTimeStamp = pkt->pts;
    return info.BytesPerFrame;
}

int TFrameInputAccess::ReadClose(AVFormatContext* s) {
    auto* state = static_cast<TFrameInputState*>(s->priv_data);
    ReleasePicture(state);
    FF.av_buffer_pool_uninit(&state->Pool); // freed when the last packet is
    TFrameInputAdapter* adapter = state->Adapter;
    if (adapter != nullptr && adapter->OnReadClose)
        adapter->Trigger([adapter] {
            if (adapter->OnReadClose)
                adapter->OnReadClose(adapter);
        });
    return 0;
}

void RegisterFrameInput() {
    static const TOwnInputFormat format = {"frameinput",
                                           "Frame input",
                                           int(sizeof(TFrameInputState)),
                                           &TFrameInputAccess::ReadHeader,
                                           &TFrameInputAccess::ReadPacket,
                                           &TFrameInputAccess::ReadClose};
    RegisterInputFormat(format);
}
