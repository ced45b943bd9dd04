#include "media/InputFormats.h"

#include "media/FFErrors.h"
#include "media/FFLoad.h"
#include "media/FFLog.h"
#include "media/InterruptCB.h"

#include <cmath>
#include <cstring>
#include <exception>
#include <list>
#include <mutex>

namespace {

// The FFmpeg demuxer record made for one own format. The AVInputFormat comes first, so
// the context's iformat pointer leads back to the descriptor.
struct TOwnFormatRecord {
    AVInputFormat Format;
    const TOwnInputFormat* Descriptor;
    bool Registered;
};
static_assert(std::is_standard_layout_v<TOwnFormatRecord>);

struct TRegistry {
    std::mutex Lock;
    // Records are never freed: a context opened with one keeps pointing at it.
    std::list<TOwnFormatRecord> Records;
};

TRegistry& Registry() {
    // Never destroyed: the loader unloads libavformat, and forgets the formats, while
    // the process's static objects are being destroyed.
    static TRegistry& registry = *new TRegistry;
    return registry;
}

// What OpenInput hands to ReadHeader on the opening thread.
struct TOpening {
    const TInputParameters* Parameters = nullptr;
    std::exception_ptr Error;
};
thread_local TOpening* GOpening = nullptr;

const TOwnInputFormat& DescriptorOf(const AVFormatContext* s) {
    return *reinterpret_cast<const TOwnFormatRecord*>(s->iformat)->Descriptor;
}

int ReadHeaderTrampoline(AVFormatContext* s) {
    static const TInputParameters none;
    const TInputParameters& ap = GOpening && GOpening->Parameters ? *GOpening->Parameters : none;
    try {
        return DescriptorOf(s).ReadHeader(s, SourceOptionString(s), ap);
    } catch (...) {
        if (GOpening)
            GOpening->Error = std::current_exception();
        else
            FFLogger().Log(nullptr, llError,
                           QStringLiteral("%1: opened outside OpenInput")
                               .arg(QLatin1StringView(s->iformat->name)));
        return AVERROR(EINVAL);
    }
}

int Failed(AVFormatContext* s, const char* what, const std::exception& error) {
    FF.av_log(s, AV_LOG_ERROR, "%s: %s\n", what, error.what());
    return -1;
}

// Runs one operation of a source; an exception escaping it is logged and becomes -1.
template <typename F> int Guarded(AVFormatContext* s, const char* what, F&& operation) {
    try {
        return operation();
    } catch (const std::exception& error) {
        return Failed(s, what, error);
    } catch (...) {
        return -1;
    }
}

int ReadPacketTrampoline(AVFormatContext* s, AVPacket* pkt) {
    return Guarded(s, "read_packet", [&] { return DescriptorOf(s).ReadPacket(s, pkt); });
}

int ReadCloseTrampoline(AVFormatContext* s) {
    return Guarded(s, "read_close",
                   [&] { return DescriptorOf(s).ReadClose ? DescriptorOf(s).ReadClose(s) : 0; });
}

int ReadPauseTrampoline(AVFormatContext* s) {
    return Guarded(s, "read_pause", [&] {
        return DescriptorOf(s).ReadPause ? DescriptorOf(s).ReadPause(s) : AVERROR(ENOSYS);
    });
}

int ReadPlayTrampoline(AVFormatContext* s) {
    return Guarded(s, "read_play", [&] {
        return DescriptorOf(s).ReadPlay ? DescriptorOf(s).ReadPlay(s) : AVERROR(ENOSYS);
    });
}

bool FFmpegHasDemuxer(const char* name) {
    void* opaque = nullptr;
    while (const AVInputFormat* format = FF.av_demuxer_iterate(&opaque))
        if (std::strcmp(format->name, name) == 0)
            return true;
    return false;
}

} // namespace

void RegisterInputFormat(const TOwnInputFormat& format) {
    FFAssert(FFLoader.Loaded(avFormat), "RegisterInputFormat needs libavformat loaded.");
    TRegistry& registry = Registry();
    std::lock_guard lock(registry.Lock);
    TOwnFormatRecord* existing = nullptr;
    for (TOwnFormatRecord& record : registry.Records)
        if (std::strcmp(record.Format.name, format.Name) == 0) {
            if (record.Registered)
                return;
            existing = &record;
        }
    if (FFmpegHasDemuxer(format.Name))
        return;
    if (!existing)
        existing = &registry.Records.emplace_back();
    AVInputFormat& demuxer = existing->Format;
    demuxer = AVInputFormat{};
    demuxer.name = format.Name;
    demuxer.long_name = format.LongName;
    demuxer.flags = AVFMT_NOFILE;
    demuxer.priv_data_size = format.PrivDataSize;
    demuxer.read_header = &ReadHeaderTrampoline;
    demuxer.read_packet = &ReadPacketTrampoline;
    demuxer.read_close = &ReadCloseTrampoline;
    demuxer.read_pause = &ReadPauseTrampoline;
    demuxer.read_play = &ReadPlayTrampoline;
    existing->Descriptor = &format;
    existing->Registered = true;
}

void ForgetOwnInputFormats() {
    TRegistry& registry = Registry();
    std::lock_guard lock(registry.Lock);
    for (TOwnFormatRecord& record : registry.Records)
        record.Registered = false;
}

const AVInputFormat* FindInputFormat(const QString& name) {
    if (!FF.av_find_input_format)
        return nullptr;
    const QByteArray bytes = name.toUtf8();
    {
        TRegistry& registry = Registry();
        std::lock_guard lock(registry.Lock);
        for (const TOwnFormatRecord& record : registry.Records)
            if (record.Registered && bytes == record.Format.name)
                return &record.Format;
    }
    return FF.av_find_input_format(bytes.constData());
}

bool IsOwnInputFormat(const AVInputFormat* format) {
    if (!format)
        return false;
    TRegistry& registry = Registry();
    std::lock_guard lock(registry.Lock);
    for (const TOwnFormatRecord& record : registry.Records)
        if (&record.Format == format)
            return true;
    return false;
}

QStringList OwnInputFormatNames() {
    TRegistry& registry = Registry();
    std::lock_guard lock(registry.Lock);
    QStringList names;
    for (const TOwnFormatRecord& record : registry.Records)
        if (record.Registered)
            names << QString::fromUtf8(record.Format.name);
    return names;
}

int OpenInput(AVFormatContext** ps, const QString& url, const AVInputFormat* format,
              const TInputParameters* ap, AVDictionary** options) {
    FFAssert(FFLoader.Loaded(avFormat), "OpenInput needs libavformat loaded.");
    if (!*ps && !(*ps = FF.avformat_alloc_context()))
        return AVERROR(ENOMEM);
    (*ps)->interrupt_callback = EngineInterruptCB();
    TOpening opening;
    opening.Parameters = ap;
    TOpening* outer = GOpening;
    GOpening = &opening;
    const int ret = FF.avformat_open_input(ps, url.toUtf8().constData(), format, options);
    GOpening = outer;
    if (opening.Error) {
        if (ret >= 0) // the format reported success after all: do not keep it half-done
            FF.avformat_close_input(ps);
        std::rethrow_exception(opening.Error);
    }
    return ret;
}

QString SourceOptionString(const AVFormatContext* s) {
    if (!s || !s->url)
        return {};
    int length = int(std::strlen(s->url));
    if (length > MaxOptionStringBytes) {
        length = MaxOptionStringBytes;
        // Never end inside a character: step back over continuation bytes.
        int start = length;
        while (start > 0 && (uchar(s->url[start]) & 0xC0) == 0x80)
            --start;
        length = start;
    }
    return QString::fromUtf8(s->url, length);
}

AVStream* NewSourceStream(AVFormatContext* s) {
    AVStream* st = FF.avformat_new_stream(s, nullptr);
    if (!st)
        return nullptr;
    st->id = 0;
    st->time_base = AVRational{1, 1000000};
    s->flags |= AVFMT_FLAG_NOPARSE;
    s->probesize = 0;
    return st;
}

int64_t RawVideoBitRate(int width, int height, AVPixelFormat pixFmt, AVRational frameRate) {
    if (frameRate.den == 0)
        return 0;
    const int bytes = FF.av_image_get_buffer_size(pixFmt, width, height, 1);
    if (bytes <= 0)
        return 0;
    return std::llround(double(bytes) * frameRate.num / frameRate.den * 8.0);
}

void SetRawVideoParameters(AVStream* st, int width, int height, AVPixelFormat pixFmt,
                           AVRational frameRate) {
    AVCodecParameters* par = st->codecpar;
    par->codec_type = AVMEDIA_TYPE_VIDEO;
    par->codec_id = AV_CODEC_ID_RAWVIDEO;
    par->width = width;
    par->height = height;
    par->format = pixFmt;
    par->bit_rate = RawVideoBitRate(width, height, pixFmt, frameRate);
    st->avg_frame_rate = frameRate;
    st->r_frame_rate = frameRate;
}
