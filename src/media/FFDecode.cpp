#include "media/FFDecode.h"

#include "media/FFErrors.h"
#include "media/FFLoad.h"
#include "media/InputFormats.h"
#include "media/MainThread.h"

#include <QFileInfo>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

namespace {

const TLibraries DecoderLibraries{avCodec, avFormat, avUtil, swScale, swResample, myUtil};

// A time base that can be rescaled: x/0 becomes x/x, 0/0 becomes 1/1.
AVRational Repaired(AVRational tb) {
    if (tb.den == 0)
        tb = tb.num == 0 ? AVRational{1, 1} : AVRational{tb.num, tb.num};
    return tb;
}

int64_t Scaled(int64_t value, AVRational tb) {
    return value == AV_NOPTS_VALUE ? -1 : FF.av_rescale_q(value, Repaired(tb), AV_TIME_BASE_Q);
}

QString Tag(const AVDictionary* tags, const char* key) {
    const AVDictionaryEntry* entry = FF.av_dict_get(tags, key, nullptr, 0);
    return entry ? QString::fromUtf8(entry->value) : QString();
}

// The leading whole number of `text` ("3/12" gives 3), or -1.
int LeadingNumber(const QString& text) {
    qsizetype n = 0;
    while (n < text.size() && text[n].isDigit() && text[n].unicode() < 128)
        ++n;
    int value = -1;
    return n > 0 && TryStrToInt(text.left(n), value) ? value : -1;
}

QString Duration(int64_t us) {
    if (us < 0)
        return QStringLiteral("N/A");
    const int64_t ms = us / 1000;
    return QStringLiteral("%1:%2:%3.%4")
        .arg(ms / 3600000, 2, 10, QChar(u'0'))
        .arg(ms / 60000 % 60, 2, 10, QChar(u'0'))
        .arg(ms / 1000 % 60, 2, 10, QChar(u'0'))
        .arg(ms % 1000, 3, 10, QChar(u'0'));
}

} // namespace

// ---------------------------------------------------------------------------------------
// TCustomDecoder

TCustomDecoder::TCustomDecoder(QObject* owner) : TFFBaseComponent(owner) {}

TCustomDecoder::~TCustomDecoder() {
    // A derived CloseFile has already run; this one closes what is left.
    TCustomDecoder::CloseFile();
}

bool TCustomDecoder::LoadAVLib(const QString& libraryPath) {
    FFLoader.SetLibraryPath(libraryPath);
    if (!FFLoader.Load(DecoderLibraries)) {
        FLastErrMsg = FFLoader.LastErrMsg();
        return false;
    }
    return true;
}

bool TCustomDecoder::AVLibLoaded() const {
    return FFLoader.Loaded(DecoderLibraries);
}

void TCustomDecoder::UnloadAVLib() {
    CloseFile();
    FFLoader.Unload(DecoderLibraries);
}

void TCustomDecoder::Fail(TLogLevel level, const QString& message) {
    FLastErrMsg = message;
    FFLogger().Log(this, level, message);
}

void TCustomDecoder::ResetInfo() {
    FFileSize = -1;
    FStreamCount = FProgramCount = -1;
    FAudioStreamCount = FVideoStreamCount = FSubtitleStreamCount = -1;
    FFirstAudioStreamIndex = FFirstVideoStreamIndex = FFirstSubtitleStreamIndex = -1;
}

bool TCustomDecoder::LoadFile(const QString& fileName, const QString& formatName) {
    static const struct {
        TLibrary Library;
        const char* Message;
    } checks[] = {{avCodec, "LibAVCodec not loaded."},
                  {avFormat, "LibAVFormat not loaded."},
                  {avUtil, "LibAVUtil not loaded."},
                  {swScale, "LibSwScale not loaded."}};
    for (const auto& check : checks)
        if (!FFLoader.Loaded(check.Library))
            throw EFFError(QString::fromUtf8(check.Message));

    CloseFile();
    const AVInputFormat* format = nullptr;
    if (!formatName.isEmpty() && !(format = FindInputFormat(formatName))) {
        FLastErrMsg = QStringLiteral("Unknown input format: %1").arg(formatName);
        return false;
    }

    AVFormatContext* ic = FF.avformat_alloc_context();
    if (!ic) {
        Fail(llError, FFErrorText(fileName, AVERROR(ENOMEM)));
        return false;
    }
    ic->flags |= AVFMT_FLAG_NONBLOCK;
    const TInputParameters ap;
    int ret = 0;
    try {
        ret = OpenInput(&ic, fileName, format, &ap, nullptr);
    } catch (const std::exception& error) {
        Fail(llError, QString::fromUtf8(error.what()));
        return false;
    }
    if (ret < 0) {
        Fail(llError, FFErrorText(fileName, ret));
        return false;
    }
    FFileHandle = ic;
    FOwnHandle = true;
    FFileName = fileName;

    if (FOnBeforeFindStreamInfo.Assigned()) {
        if (FTriggerEventInMainThread)
            CallInMainThread([this] { FOnBeforeFindStreamInfo(this, FFileHandle); });
        else
            FOnBeforeFindStreamInfo(this, FFileHandle);
    }

    if (FF.avformat_find_stream_info(ic, nullptr) < 0) {
        const QString message = QStringLiteral("%1: could not find codec parameters").arg(fileName);
        CloseFile();
        Fail(llError, message);
        return false;
    }

    const int64_t contextSize = ic->pb ? FF.avio_size(ic->pb) : -1;
    const QFileInfo file(fileName);
    FFileSize = contextSize > 0 ? contextSize : file.isFile() ? file.size() : contextSize;
    FStreamCount = int(ic->nb_streams);
    FProgramCount = int(ic->nb_programs);
    FAudioStreamCount = FVideoStreamCount = FSubtitleStreamCount = 0;
    for (int i = 0; i < FStreamCount; ++i) {
        switch (ic->streams[i]->codecpar->codec_type) {
        case AVMEDIA_TYPE_VIDEO:
            if (FVideoStreamCount++ == 0)
                FFirstVideoStreamIndex = i;
            break;
        case AVMEDIA_TYPE_AUDIO:
            if (FAudioStreamCount++ == 0)
                FFirstAudioStreamIndex = i;
            break;
        case AVMEDIA_TYPE_SUBTITLE:
            if (FSubtitleStreamCount++ == 0)
                FFirstSubtitleStreamIndex = i;
            break;
        default:
            break;
        }
    }
    FForceFormat = formatName;
    return true;
}

void TCustomDecoder::CloseFile() {
    FForceFormat.clear();
    if (FFileHandle) {
        if (FOwnHandle)
            FF.avformat_close_input(&FFileHandle);
        FFileHandle = nullptr;
    }
    FOwnHandle = false;
    ResetInfo();
}

QString TCustomDecoder::FormatName() const {
    return FFileHandle ? QString::fromUtf8(FFileHandle->iformat->name) : QString();
}

QString TCustomDecoder::FormatLongName() const {
    return FFileHandle && FFileHandle->iformat->long_name
               ? QString::fromUtf8(FFileHandle->iformat->long_name)
               : QString();
}

const AVStream* TCustomDecoder::Stream(int index) const {
    return FFileHandle && index >= 0 && index < int(FFileHandle->nb_streams)
               ? FFileHandle->streams[index]
               : nullptr;
}

bool TCustomDecoder::IsAudioStream(int index) const {
    const AVStream* st = Stream(index);
    return st && st->codecpar->codec_type == AVMEDIA_TYPE_AUDIO;
}

bool TCustomDecoder::IsVideoStream(int index) const {
    const AVStream* st = Stream(index);
    return st && st->codecpar->codec_type == AVMEDIA_TYPE_VIDEO;
}

bool TCustomDecoder::IsSubtitleStream(int index) const {
    const AVStream* st = Stream(index);
    return st && st->codecpar->codec_type == AVMEDIA_TYPE_SUBTITLE;
}

const AVStream* TCustomDecoder::StreamOfType(int index, int first, AVMediaType type,
                                             const char* kind) {
    if (!FFileHandle) {
        Fail(llWarning, QStringLiteral("file not loaded."));
        return nullptr;
    }
    if (index == -1) {
        if (first < 0) {
            Fail(llError, QStringLiteral("no %1 stream.").arg(QLatin1StringView(kind)));
            return nullptr;
        }
        index = first;
    }
    // Negative indices are as invalid as those past the end.
    const AVStream* st = Stream(index);
    if (!st) {
        Fail(llError, QStringLiteral("stream index #%1 is invalid.").arg(index));
        return nullptr;
    }
    if (st->codecpar->codec_type != type) {
        Fail(
            llError,
            QStringLiteral("stream #%1 is not %2 stream.").arg(index).arg(QLatin1StringView(kind)));
        return nullptr;
    }
    return st;
}

QString TCustomDecoder::CodecName(const AVCodecParameters* par) {
    if (const AVCodec* decoder = FF.avcodec_find_decoder(par->codec_id)) {
        if (decoder->long_name && *decoder->long_name)
            return QStringLiteral("%1(%2)").arg(QString::fromUtf8(decoder->name),
                                                QString::fromUtf8(decoder->long_name));
        return QString::fromUtf8(decoder->name);
    }
    if (par->codec_id == AV_CODEC_ID_MPEG2TS)
        return QStringLiteral("mpeg2ts");
    if (par->codec_id != AV_CODEC_ID_NONE)
        if (const AVCodecDescriptor* descriptor = FF.avcodec_descriptor_get(par->codec_id)) {
            const QString own = QString::fromUtf8(descriptor->name).left(32).trimmed();
            if (!own.isEmpty())
                return own;
        }
    const uint32_t tag = par->codec_tag;
    bool printable = true;
    QString letters;
    for (int i = 0; i < 4; ++i) {
        const uint8_t c = (tag >> (8 * i)) & 0xFF;
        printable = printable && c >= 32 && c <= 126;
        letters += QChar(c);
    }
    if (printable)
        return QStringLiteral("%1 / 0x%2")
            .arg(letters, QString::number(tag, 16).toUpper().rightJustified(4, u'0'));
    return QStringLiteral("0x%1").arg(tag, 4, 16, QChar(u'0'));
}

// The fields that sound and picture records share.
template <class TInfo> void FillTimedInfo(TInfo& info, const AVStream* st) {
    info.Language = Tag(st->metadata, "language");
    info.CodecName = TCustomDecoder::CodecName(st->codecpar);
    info.StartTime = st->start_time;
    info.StartTimeScaled = Scaled(st->start_time, st->time_base);
    info.Duration = st->duration;
    info.DurationScaled = Scaled(st->duration, st->time_base);
    info.BitRate = int(st->codecpar->bit_rate);
}

TAudioStreamInfo TCustomDecoder::AudioStreamInfos(int index) {
    TAudioStreamInfo info;
    const AVStream* st = StreamOfType(index, FFirstAudioStreamIndex, AVMEDIA_TYPE_AUDIO, "audio");
    if (!st)
        return info;
    const AVCodecParameters* par = st->codecpar;
    FillTimedInfo(info, st);
    info.Channels = par->ch_layout.nb_channels;
    info.SampleRate = par->sample_rate;
    info.SampleFormat = AVSampleFormat(par->format);
    return info;
}

TVideoStreamInfo TCustomDecoder::VideoStreamInfos(int index) {
    TVideoStreamInfo info;
    const AVStream* st = StreamOfType(index, FFirstVideoStreamIndex, AVMEDIA_TYPE_VIDEO, "video");
    if (!st)
        return info;
    const AVCodecParameters* par = st->codecpar;
    FillTimedInfo(info, st);
    info.Height = par->height;
    info.Width = par->width;
    if (par->height > 0) {
        const AVRational sar =
            par->sample_aspect_ratio.num > 0 ? par->sample_aspect_ratio : AVRational{1, 1};
        info.AspectRatio = float(av_q2d(sar) * par->width / par->height);
    }
    info.PixFmt = AVPixelFormat(par->format);
    info.FrameRate = st->avg_frame_rate.num > 0 ? st->avg_frame_rate : st->r_frame_rate;
    return info;
}

TSubtitleStreamInfo TCustomDecoder::SubtitleStreamInfos(int index) {
    TSubtitleStreamInfo info;
    const AVStream* st =
        StreamOfType(index, FFirstSubtitleStreamIndex, AVMEDIA_TYPE_SUBTITLE, "subtitle");
    if (!st)
        return info;
    info.Language = Tag(st->metadata, "language");
    info.CodecName = CodecName(st->codecpar);
    return info;
}

TFileStreamInfo TCustomDecoder::FileStreamInfo() const {
    TFileStreamInfo info;
    if (!FFileHandle)
        return info;
    const AVFormatContext* ic = FFileHandle;
    info.StartTime = ic->start_time == AV_NOPTS_VALUE ? -1 : ic->start_time;
    info.Duration = ic->duration == AV_NOPTS_VALUE ? -1 : ic->duration;
    info.BitRate = int(ic->bit_rate > 0 ? ic->bit_rate : -1);
    const QString created = Tag(ic->metadata, "creation_time");
    int64_t time = 0;
    if (!created.isEmpty() && FF.av_parse_time(&time, created.toUtf8().constData(), 0) == 0)
        info.TimeStamp = time;
    QString year = Tag(ic->metadata, "year");
    if (year.isEmpty())
        year = Tag(ic->metadata, "date"); // where FFmpeg puts the year of most tag formats
    info.Year = LeadingNumber(year);
    info.Track = LeadingNumber(Tag(ic->metadata, "track"));
    info.Title = Tag(ic->metadata, "title");
    info.Author = Tag(ic->metadata, "author");
    if (info.Author.isEmpty())
        info.Author = Tag(ic->metadata, "artist");
    info.Copyright = Tag(ic->metadata, "copyright");
    info.Comment = Tag(ic->metadata, "comment");
    info.Album = Tag(ic->metadata, "album");
    info.Genre = Tag(ic->metadata, "genre");
    return info;
}

QString TCustomDecoder::FileInfoText() {
    if (!FFileHandle)
        return {};
    const TFileStreamInfo file = FileStreamInfo();
    QStringList lines;
    lines << QStringLiteral("File: %1").arg(FFileName)
          << QStringLiteral("Format: %1 (%2)").arg(FormatName(), FormatLongName())
          << QStringLiteral("Size: %1 bytes").arg(FFileSize)
          << QStringLiteral("Duration: %1, start: %2, bit rate: %3")
                 .arg(Duration(file.Duration))
                 .arg(file.StartTime < 0 ? QStringLiteral("N/A")
                                         : QString::number(file.StartTime / 1e6, 'f', 6))
                 .arg(file.BitRate < 0 ? QStringLiteral("N/A")
                                       : QStringLiteral("%1 kb/s").arg(file.BitRate / 1000));
    const std::pair<const char*, QString> tags[] = {
        {"Title", file.Title}, {"Author", file.Author},   {"Album", file.Album},
        {"Genre", file.Genre}, {"Comment", file.Comment}, {"Copyright", file.Copyright}};
    for (const auto& [name, value] : tags)
        if (!value.isEmpty())
            lines << QStringLiteral("%1: %2").arg(QLatin1StringView(name), value);
    if (file.Year >= 0)
        lines << QStringLiteral("Year: %1").arg(file.Year);
    if (file.Track >= 0)
        lines << QStringLiteral("Track: %1").arg(file.Track);
    const QString saved = FLastErrMsg;
    for (int i = 0; i < FStreamCount; ++i) {
        QString line = QStringLiteral("Stream #%1: ").arg(i);
        if (IsVideoStream(i)) {
            const TVideoStreamInfo v = VideoStreamInfos(i);
            line += QStringLiteral("Video: %1, %2x%3, %4, %5 fps")
                        .arg(v.CodecName)
                        .arg(v.Width)
                        .arg(v.Height)
                        .arg(QString::fromUtf8(FF.av_get_pix_fmt_name(v.PixFmt)
                                                   ? FF.av_get_pix_fmt_name(v.PixFmt)
                                                   : "none"))
                        .arg(v.FrameRate.den > 0 ? av_q2d(v.FrameRate) : 0.0, 0, 'g', 5);
            if (v.BitRate > 0)
                line += QStringLiteral(", %1 kb/s").arg(v.BitRate / 1000);
            if (v.DurationScaled >= 0)
                line += QStringLiteral(", duration %1").arg(Duration(v.DurationScaled));
            if (!v.Language.isEmpty())
                line += QStringLiteral(" (%1)").arg(v.Language);
        } else if (IsAudioStream(i)) {
            const TAudioStreamInfo a = AudioStreamInfos(i);
            const char* format = FF.av_get_sample_fmt_name(a.SampleFormat);
            line += QStringLiteral("Audio: %1, %2 Hz, %3 channels, %4")
                        .arg(a.CodecName)
                        .arg(a.SampleRate)
                        .arg(a.Channels)
                        .arg(QString::fromUtf8(format ? format : "none"));
            if (a.BitRate > 0)
                line += QStringLiteral(", %1 kb/s").arg(a.BitRate / 1000);
            if (a.DurationScaled >= 0)
                line += QStringLiteral(", duration %1").arg(Duration(a.DurationScaled));
            if (!a.Language.isEmpty())
                line += QStringLiteral(" (%1)").arg(a.Language);
        } else if (IsSubtitleStream(i)) {
            const TSubtitleStreamInfo s = SubtitleStreamInfos(i);
            line += QStringLiteral("Subtitle: %1").arg(s.CodecName);
            if (!s.Language.isEmpty())
                line += QStringLiteral(" (%1)").arg(s.Language);
        } else {
            const char* type =
                FF.av_get_media_type_string(FFileHandle->streams[i]->codecpar->codec_type);
            line += QStringLiteral("%1: %2").arg(QString::fromUtf8(type ? type : "unknown"),
                                                 CodecName(FFileHandle->streams[i]->codecpar));
        }
        lines << line;
    }
    FLastErrMsg = saved;
    return lines.join(u'\n');
}

// ---------------------------------------------------------------------------------------
// TFFDecoder

struct TFFDecoder::TState {
    AVCodecContext* Video = nullptr;
    AVCodecContext* Audio = nullptr;
    bool VideoDraining = false, AudioDraining = false;
    AVFrame* Frame = nullptr;   // the current picture
    AVFrame* Decoded = nullptr; // where the next picture is decoded
    AVFrame* AudioFrame = nullptr;
    AVPacket* Packet = nullptr;
    SwrContext* Resampler = nullptr;
    std::vector<uint8_t> Wave;
    size_t WaveRead = 0; // bytes of Wave that ReadAudio has handed out
};

TFFDecoder::TFFDecoder(QObject* owner) : TCustomDecoder(owner) {}

TFFDecoder::~TFFDecoder() {
    TFFDecoder::CloseFile();
}

void TFFDecoder::CloseFile() {
    if (FState) {
        FF.avcodec_free_context(&FState->Video);
        FF.avcodec_free_context(&FState->Audio);
        FF.av_frame_free(&FState->Frame);
        FF.av_frame_free(&FState->Decoded);
        FF.av_frame_free(&FState->AudioFrame);
        FF.av_packet_free(&FState->Packet);
        FF.swr_free(&FState->Resampler);
        FState.reset();
    }
    FFrameInfo = TFrameInfo{};
    FWaveInfo = TWaveInfo{};
    FEOF = false;
    FPosition = -1;
    TCustomDecoder::CloseFile();
}

AVCodecContext* TFFDecoder::OpenCodec(bool video) {
    if (!FFileHandle) {
        Fail(llWarning, QStringLiteral("file not loaded."));
        return nullptr;
    }
    if (!FState) {
        FState = std::make_unique<TState>();
        FState->Frame = FF.av_frame_alloc();
        FState->Decoded = FF.av_frame_alloc();
        FState->AudioFrame = FF.av_frame_alloc();
        FState->Packet = FF.av_packet_alloc();
    }
    if (!FState->Frame || !FState->Decoded || !FState->AudioFrame || !FState->Packet) {
        Fail(llError, FFErrorText(FFileName, AVERROR(ENOMEM)));
        return nullptr;
    }
    AVCodecContext*& context = video ? FState->Video : FState->Audio;
    if (context)
        return context;
    const int streamIndex = video ? FFirstVideoStreamIndex : FFirstAudioStreamIndex;
    if (streamIndex < 0) {
        Fail(llError,
             video ? QStringLiteral("no video stream.") : QStringLiteral("no audio stream."));
        return nullptr;
    }
    const AVStream* st = FFileHandle->streams[streamIndex];
    const AVCodec* codec = FF.avcodec_find_decoder(st->codecpar->codec_id);
    if (!codec) {
        Fail(llError, QStringLiteral("stream #%1: no decoder for %2.")
                          .arg(streamIndex)
                          .arg(QString::fromUtf8(FF.avcodec_get_name(st->codecpar->codec_id))));
        return nullptr;
    }
    context = FF.avcodec_alloc_context3(codec);
    int ret = context ? FF.avcodec_parameters_to_context(context, st->codecpar) : AVERROR(ENOMEM);
    if (ret >= 0) {
        context->pkt_timebase = st->time_base;
        ret = FF.avcodec_open2(context, codec, nullptr);
    }
    if (ret < 0) {
        FF.avcodec_free_context(&context);
        Fail(llError, FFErrorText(FFileName, ret));
        return nullptr;
    }
    return context;
}

int TFFDecoder::NextFrame(int streamIndex, AVCodecContext* context, AVFrame* frame) {
    bool& draining = context == FState->Video ? FState->VideoDraining : FState->AudioDraining;
    for (;;) {
        int ret = FF.avcodec_receive_frame(context, frame);
        if (ret >= 0)
            return 1;
        if (ret == AVERROR_EOF)
            return 0;
        if (ret != AVERROR(EAGAIN))
            return ret;
        if (draining)
            return 0;
        ret = FF.av_read_frame(FFileHandle, FState->Packet);
        if (ret == AVERROR(EAGAIN)) { // the input was opened non-blocking
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
            continue;
        }
        if (ret < 0) {
            if (ret != AVERROR_EOF)
                return ret;
            draining = true;
            FF.avcodec_send_packet(context, nullptr);
            continue;
        }
        if (FState->Packet->stream_index == streamIndex) {
            ret = FF.avcodec_send_packet(context, FState->Packet);
            if (ret < 0 && ret != AVERROR(EAGAIN) && ret != AVERROR_INVALIDDATA) {
                FF.av_packet_unref(FState->Packet);
                return ret;
            }
        }
        FF.av_packet_unref(FState->Packet);
    }
}

bool TFFDecoder::Seek(int64_t position) {
    if (!FFileHandle) {
        Fail(llWarning, QStringLiteral("file not loaded."));
        return false;
    }
    const int ret = FF.av_seek_frame(FFileHandle, -1, position, AVSEEK_FLAG_BACKWARD);
    if (ret < 0) {
        Fail(llError, FFErrorText(FFileName, ret));
        return false;
    }
    if (FState) {
        for (AVCodecContext* context : {FState->Video, FState->Audio})
            if (context)
                FF.avcodec_flush_buffers(context);
        FState->VideoDraining = FState->AudioDraining = false;
        FState->Wave.clear();
        FState->WaveRead = 0;
    }
    FEOF = false;
    return true;
}

bool TFFDecoder::Decode() {
    AVCodecContext* context = OpenCodec(true);
    if (!context)
        return false;
    // The current picture stays valid when there is no next one.
    const int ret = NextFrame(FFirstVideoStreamIndex, context, FState->Decoded);
    if (ret > 0) {
        FF.av_frame_unref(FState->Frame);
        FF.av_frame_move_ref(FState->Frame, FState->Decoded);
    }
    if (ret <= 0) {
        FEOF = ret == 0;
        if (ret < 0)
            Fail(llError, FFErrorText(FFileName, ret));
        return false;
    }
    const AVFrame* frame = FState->Frame;
    FFrameInfo.Frame = frame;
    FFrameInfo.KeyFrame = frame->key_frame != 0;
    FFrameInfo.PTS = Scaled(frame->best_effort_timestamp,
                            FFileHandle->streams[FFirstVideoStreamIndex]->time_base);
    FPosition = FFrameInfo.PTS;
    return true;
}

bool TFFDecoder::DecodeNextKeyFrame() {
    while (Decode())
        if (FFrameInfo.KeyFrame)
            return true;
    return false;
}

bool TFFDecoder::CopyToBitmap(QImage& bitmap) {
    if (!GetBitmapPtr())
        return false;
    bitmap = FConverter.Bitmap().copy();
    return true;
}

const QImage* TFFDecoder::GetBitmapPtr() {
    if (!FFrameInfo.Frame) {
        Fail(llError, QStringLiteral("no picture decoded."));
        return nullptr;
    }
    const AVFrame* frame = FFrameInfo.Frame;
    TAVPicture picture = TAVPicture::Of(frame);
    if (!FConverter.PictureToRGB(&picture, AVPixelFormat(frame->format), frame->width,
                                 frame->height, true)) {
        Fail(llError, FConverter.LastErrMsg());
        return nullptr;
    }
    return &FConverter.Bitmap();
}

bool TFFDecoder::DecodeAudio() {
    AVCodecContext* context = OpenCodec(false);
    if (!context)
        return false;
    AVFrame* frame = FState->AudioFrame;
    const int ret = NextFrame(FFirstAudioStreamIndex, context, frame);
    if (ret <= 0) {
        FEOF = ret == 0;
        if (ret < 0)
            Fail(llError, FFErrorText(FFileName, ret));
        return false;
    }
    const int channels =
        FDesireAudioChannels > 0 ? FDesireAudioChannels : frame->ch_layout.nb_channels;
    const int rate = FDesireAudioSampleRate > 0 ? FDesireAudioSampleRate : frame->sample_rate;
    if (!FState->Resampler) {
        AVChannelLayout layout;
        FF.av_channel_layout_default(&layout, channels);
        int error = FF.swr_alloc_set_opts2(&FState->Resampler, &layout, AV_SAMPLE_FMT_S16, rate,
                                           &frame->ch_layout, AVSampleFormat(frame->format),
                                           frame->sample_rate, 0, nullptr);
        FF.av_channel_layout_uninit(&layout);
        if (error >= 0)
            error = FF.swr_init(FState->Resampler);
        if (error < 0) {
            FF.swr_free(&FState->Resampler);
            Fail(llError, FFErrorText(FFileName, error));
            return false;
        }
    }
    const int capacity = FF.swr_get_out_samples(FState->Resampler, frame->nb_samples);
    std::vector<uint8_t>& wave = FState->Wave;
    wave.resize(size_t(std::max(capacity, 0)) * channels * 2);
    uint8_t* out = wave.data();
    const int samples =
        FF.swr_convert(FState->Resampler, &out, capacity,
                       const_cast<const uint8_t**>(frame->extended_data), frame->nb_samples);
    if (samples < 0) {
        Fail(llError, FFErrorText(FFileName, samples));
        return false;
    }
    wave.resize(size_t(samples) * channels * 2);
    FState->WaveRead = 0;
    FWaveInfo.Buffer = wave.data();
    FWaveInfo.BufferSize = int(wave.size());
    FWaveInfo.SampleRate = rate;
    FWaveInfo.Channels = channels;
    FWaveInfo.PTS = Scaled(frame->best_effort_timestamp,
                           FFileHandle->streams[FFirstAudioStreamIndex]->time_base);
    FPosition = FWaveInfo.PTS;
    return true;
}

int TFFDecoder::ReadAudio(uint8_t* buffer, int size) {
    int written = 0;
    while (written < size) {
        if (!FState || FState->WaveRead >= FState->Wave.size()) {
            if (!DecodeAudio())
                return FEOF ? written : (written > 0 ? written : -1);
            continue;
        }
        const size_t n = std::min(size_t(size - written), FState->Wave.size() - FState->WaveRead);
        std::memcpy(buffer + written, FState->Wave.data() + FState->WaveRead, n);
        FState->WaveRead += n;
        written += int(n);
    }
    return written;
}
