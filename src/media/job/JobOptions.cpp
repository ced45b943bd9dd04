// The job option language: the table of options behind SetExtOption, the generic option
// mechanism over FFmpeg's option classes, codec lookup and preset files.

#include "media/job/JobState.h"

#include "media/FFLog.h"
#include "media/FrameHook.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QRegularExpression>
#include <QStringList>
#include <QTime>

#include <cmath>

namespace {

std::mutex GLastOptionErrorLock;
QString GLastOptionError;

void SetLastOptionError(const QString& text) {
    std::lock_guard lock(GLastOptionErrorLock);
    GLastOptionError = text;
}

bool ToBool(const QString& value) {
    return value != QLatin1String("0");
}

double ToFloat(const QString& value) {
    bool ok = false;
    const double result = value.trimmed().toDouble(&ok);
    if (!ok)
        throw EConvertError(QStringLiteral("'%1' is not a valid floating point value").arg(value));
    return result;
}

int64_t ToTime(const QString& name, const QString& value, bool duration = true) {
    int64_t us = 0;
    if (FF.av_parse_time(&us, Utf8(value).constData(), duration ? 1 : 0) < 0)
        throw FFmpegException(
            QStringLiteral("Invalid %1 value for %2: %3")
                .arg(duration ? QStringLiteral("duration") : QStringLiteral("date"), name, value));
    return us;
}

// strtol-like: the number at the front, the rest after it.
long LeadingNumber(const QByteArray& text, const char*& rest) {
    char* end = nullptr;
    const long value = strtol(text.constData(), &end, 0);
    rest = end;
    return value;
}

constexpr int MaxStreams = 1024;

} // namespace

QString LastOptionError() {
    std::lock_guard lock(GLastOptionErrorLock);
    return GLastOptionError;
}

// ---------------------------------------------------------------------------------------
// the generic options

TFFOptions::TFFOptions() {
    Clear();
}

void TFFOptions::Clear() {
    Items.clear();
    if (!FF.avcodec_alloc_context3)
        return; // libraries not loaded: the job must not be used
    for (TCodecContextPtr& ctx : CodecOpts)
        ctx.reset(FF.avcodec_alloc_context3(nullptr));
    FormatOpts.reset(FF.avformat_alloc_context());
    ScalerOpts.reset(FF.sws_alloc_context());
}

bool TFFOptions::Ready() const {
    for (const TCodecContextPtr& ctx : CodecOpts)
        if (!ctx)
            return false;
    return bool(FormatOpts); // the scaler's options are optional
}

int TFFOptions::Strictness(AVMediaType type) const {
    return type >= 0 && type < AVMEDIA_TYPE_NB && CodecOpts[type]
               ? CodecOpts[type]->strict_std_compliance
               : FF_COMPLIANCE_NORMAL;
}

void TFFOptions::ApplyToCodec(AVCodecContext* ctx, AVMediaType type) const {
    for (const TFFOption& option : Items) {
        if (type >= 0 && type < AVMEDIA_TYPE_NB && option.Codec[type])
            FF.av_opt_set(ctx, Utf8(option.CodecName[type]).constData(),
                          Utf8(option.Value).constData(), 0);
        else if (option.Private)
            FF.av_opt_set(ctx, Utf8(option.Name).constData(), Utf8(option.Value).constData(),
                          AV_OPT_SEARCH_CHILDREN);
    }
}

void TFFOptions::ApplyToFormat(AVFormatContext* ctx) const {
    for (const TFFOption& option : Items)
        if (option.Format || option.Private)
            FF.av_opt_set(ctx, Utf8(option.Name).constData(), Utf8(option.Value).constData(),
                          AV_OPT_SEARCH_CHILDREN);
}

void TFFOptions::ApplyToScaler(SwsContext* ctx) const {
    for (const TFFOption& option : Items)
        if (option.Scaler)
            FF.av_opt_set(ctx, Utf8(option.Name).constData(), Utf8(option.Value).constData(), 0);
}

namespace {

bool HasPrivateOption(const AVClass* cls, const char* name) {
    return cls && FF.av_opt_find(&cls, name, nullptr, 0, AV_OPT_SEARCH_FAKE_OBJ);
}

bool AnyPrivateOption(const char* name) {
    void* it = nullptr;
    while (const AVCodec* codec = FF.av_codec_iterate(&it))
        if (HasPrivateOption(codec->priv_class, name))
            return true;
    it = nullptr;
    while (const AVOutputFormat* fmt = FF.av_muxer_iterate(&it))
        if (HasPrivateOption(fmt->priv_class, name))
            return true;
    it = nullptr;
    while (const AVInputFormat* fmt = FF.av_demuxer_iterate(&it))
        if (HasPrivateOption(fmt->priv_class, name))
            return true;
    return false;
}

} // namespace

bool TJob::SetGenericOption(const QString& name, const QString& value) {
    if (name.trimmed().isEmpty())
        return false;
    if (!FOptions.Ready())
        FFRaise("av_mallocz fail");
    const QByteArray n = Utf8(name), v = Utf8(value);
    TFFOption option;
    option.Name = name;
    option.Value = value;
    // A private option of some codec or format is taken as it stands: its value can only
    // be checked by the codec or format that owns it ("profile=high" means something to
    // libx264 that the generic "profile" does not know).
    bool found = AnyPrivateOption(n.constData());
    option.Private = found;
    int ret = 0;
    static const int typeFlags[AVMEDIA_TYPE_NB] = {AV_OPT_FLAG_VIDEO_PARAM, AV_OPT_FLAG_AUDIO_PARAM,
                                                   0, AV_OPT_FLAG_SUBTITLE_PARAM, 0};
    for (int type : {AVMEDIA_TYPE_VIDEO, AVMEDIA_TYPE_AUDIO, AVMEDIA_TYPE_SUBTITLE}) {
        AVCodecContext* ctx = FOptions.CodecOpts[type].get();
        if (!option.Private && FF.av_opt_find(ctx, n.constData(), nullptr, typeFlags[type], 0)) {
            found = true;
            const int r = FF.av_opt_set(ctx, n.constData(), v.constData(), 0);
            if (r < 0)
                ret = r;
            else {
                option.Codec[type] = true;
                option.CodecName[type] = name;
            }
        }
    }
    if (!found && FF.av_opt_find(FOptions.FormatOpts.get(), n.constData(), nullptr, 0, 0)) {
        found = true;
        ret = FF.av_opt_set(FOptions.FormatOpts.get(), n.constData(), v.constData(), 0);
        option.Format = ret >= 0;
    }
    if (!found && FOptions.ScalerOpts &&
        FF.av_opt_find(FOptions.ScalerOpts.get(), n.constData(), nullptr, 0, 0)) {
        found = true;
        ret = FF.av_opt_set(FOptions.ScalerOpts.get(), n.constData(), v.constData(), 0);
        option.Scaler = ret >= 0;
    }
    if (!found && n.size() > 1) {
        const int type = n[0] == 'a'   ? AVMEDIA_TYPE_AUDIO
                         : n[0] == 'v' ? AVMEDIA_TYPE_VIDEO
                         : n[0] == 's' ? AVMEDIA_TYPE_SUBTITLE
                                       : -1;
        if (type >= 0) {
            AVCodecContext* ctx = FOptions.CodecOpts[type].get();
            const char* stripped = n.constData() + 1;
            if (FF.av_opt_find(ctx, stripped, nullptr, 0, 0)) {
                found = true;
                ret = FF.av_opt_set(ctx, stripped, v.constData(), 0);
                if (ret >= 0) {
                    option.Codec[type] = true;
                    option.CodecName[type] = name.mid(1);
                }
            }
        }
    }
    if (!found) {
        const QString message = QStringLiteral("Unrecognized option \"%1\"").arg(name);
        SetLastOptionError(message);
        FF.av_log(nullptr, AV_LOG_ERROR, "%s\n", Utf8(message).constData());
        return false;
    }
    if (ret < 0) {
        SetLastOptionError(
            QStringLiteral("Invalid value \"%1\" for option \"%2\"").arg(value, name));
        return false;
    }
    FOptions.Items.push_back(option);
    if (FOptions.CodecOpts[AVMEDIA_TYPE_VIDEO]->debug || FOptions.FormatOpts->debug)
        FFLogger().SetLogLevel(llDebug);
    return true;
}

void TJob::ApplyGeneric(const QString& name, const QString& value) {
    if (!SetGenericOption(name, value) && FOwner.HaltOnInvalidOption && !name.trimmed().isEmpty())
        throw FFmpegException(LastOptionError());
}

void TJob::ApplyBitRate(const QString& name, const QString& value) {
    ApplyGeneric(name, value);
    const int type = name.startsWith(u'a') ? AVMEDIA_TYPE_AUDIO : AVMEDIA_TYPE_VIDEO;
    if (FOptions.CodecOpts[type]->bit_rate < 1000)
        FFLogger().Log(nullptr, llWarning,
                       "WARNING: The bitrate parameter is set too low. It takes bits/s as "
                       "argument, not kbits/s");
}

// Options that hold for one file only start afresh after each input and output.
void TJob::ResetInputOptions() {
    FTopFieldFirst = -1;
    FVideoChannel = 0;
    FFrameRate = {0, 0};
    FFramePixFmt = AV_PIX_FMT_NONE;
    FFrameWidth = FFrameHeight = 0;
    FAudioSampleRate = FAudioChannels = 0;
    for (QString& name : FCodecName)
        name.clear();
    FForceFormat.clear();
    FPendingTsScale.clear();
    FInputTsOffset = 0;
    FStartTime = 0;
    FOptions.Clear();
}

void TJob::ResetOutputOptions() {
    FFrameRate = {0, 0};
    FFrameWidth = FFrameHeight = 0;
    FAudioSampleRate = FAudioChannels = 0;
    FForceKeyFrames.clear();
    FForceFormat.clear();
    FMetadata.clear();
    FStreamIds.clear();
    FOptions.Clear();
}

// ---------------------------------------------------------------------------------------
// codec lookup

const AVCodec* TJob::FindCodec(const QString& name, AVMediaType type, bool encoder, int strict) {
    if (name.isEmpty())
        return nullptr;
    const char* kind = encoder ? "encoder" : "decoder";
    const QByteArray n = Utf8(name);
    const AVCodec* codec = encoder ? FF.avcodec_find_encoder_by_name(n.constData())
                                   : FF.avcodec_find_decoder_by_name(n.constData());
    if (!codec)
        FFRaise("Unknown %s '%s'", kind, n.constData());
    if (codec->type != type)
        FFRaise("Invalid %s type '%s'", kind, n.constData());
    if ((codec->capabilities & AV_CODEC_CAP_EXPERIMENTAL) && strict > FF_COMPLIANCE_EXPERIMENTAL) {
        QString message = FFFormat("%s '%s' is experimental and might produce bad results.\r\n"
                                   "Add '-strict experimental' if you want to use it.",
                                   kind, codec->name);
        const AVCodec* other =
            encoder ? FF.avcodec_find_encoder(codec->id) : FF.avcodec_find_decoder(codec->id);
        if (other && !(other->capabilities & AV_CODEC_CAP_EXPERIMENTAL))
            message += FFFormat("\r\nOr use the non experimental %s '%s'.", kind, other->name);
        FLastErrMsg = message;
        throw FFmpegException(message);
    }
    return codec;
}

// ---------------------------------------------------------------------------------------
// preset files

void TJob::ApplyPresetFile(const QString& path) {
    QFile file(path);
    if (!QFileInfo(path).isFile() || !file.open(QIODevice::ReadOnly))
        throw FFmpegException(QStringLiteral("Preset file \"%1\" not found").arg(path));
    const QString text = QString::fromUtf8(file.readAll()).trimmed();
    for (QString line : text.split(QRegularExpression(QStringLiteral("\r\n|\r|\n")))) {
        line = line.trimmed();
        if (line.isEmpty() || line.startsWith(u'#'))
            continue;
        const int eq = line.indexOf(u'=');
        const QString key = eq < 0 ? QString() : line.left(eq);
        const QString value = eq < 0 ? QString() : line.mid(eq + 1);
        if (key.isEmpty() || value.isEmpty())
            throw FFmpegException(QStringLiteral("%1: Invalid syntax: \"%2\"").arg(path, line));
        const QString lower = key.toLower();
        if (lower == QLatin1String("acodec"))
            FCodecName[AVMEDIA_TYPE_AUDIO] = value;
        else if (lower == QLatin1String("vcodec"))
            FCodecName[AVMEDIA_TYPE_VIDEO] = value;
        else if (lower == QLatin1String("scodec"))
            FCodecName[AVMEDIA_TYPE_SUBTITLE] = value;
        else if (lower == QLatin1String("dcodec"))
            FCodecName[AVMEDIA_TYPE_DATA] = value;
        else if (!SetGenericOption(key, value) && FOwner.HaltOnInvalidOption)
            throw FFmpegException(
                QStringLiteral("%1\r\n%2: Invalid option or argument: \"%3\", parsed as \"%4\" = "
                               "\"%5\"")
                    .arg(LastOptionError(), path, line, key, value));
    }
}

// ---------------------------------------------------------------------------------------
// the option table

namespace {

using TOptionHandler = void (*)(TJob& job, const QString& name, const QString& value);

struct TOptionEntry {
    const char* Names; // the name and its aliases, separated by spaces
    TOptionHandler Handler;
};

// The media type an option's first letter names ("a", "v", "s"; anything else: data).
AVMediaType TypeOf(const QString& name) {
    const QChar c = name.isEmpty() ? QChar() : name[0];
    return c == u'a'   ? AVMEDIA_TYPE_AUDIO
           : c == u'v' ? AVMEDIA_TYPE_VIDEO
           : c == u's' ? AVMEDIA_TYPE_SUBTITLE
                       : AVMEDIA_TYPE_DATA;
}

template <bool TJob::*Field> void SetFlag(TJob& job, const QString&, const QString& value) {
    job.*Field = ToBool(value);
}

template <int TJob::*Field> void SetInt(TJob& job, const QString&, const QString& value) {
    job.*Field = StrToInt(value);
}

template <float TJob::*Field> void SetFloat(TJob& job, const QString&, const QString& value) {
    job.*Field = float(ToFloat(value));
}

template <QString TJob::*Field> void SetText(TJob& job, const QString&, const QString& value) {
    job.*Field = value;
}

template <int64_t TJob::*Field>
void SetDuration(TJob& job, const QString& name, const QString& value) {
    job.*Field = ToTime(name, value);
}

void DoNothing(TJob&, const QString& name, const QString&) {
    FFLogger().Log(nullptr, llInfo, QStringLiteral("Do nothing: option - ") + name);
}

// "file.stream[:syncfile.syncstream]"; any separator works, as with strtol.
void MapStream(TJob& job, const QString&, const QString& value) {
    const QByteArray v = Utf8(value);
    const char* p = nullptr;
    TStreamMap map{};
    map.FileIndex = int(LeadingNumber(v, p));
    if (*p)
        ++p;
    map.StreamIndex = int(strtol(p, const_cast<char**>(&p), 0));
    if (*p) {
        ++p;
        map.SyncFileIndex = int(strtol(p, const_cast<char**>(&p), 0));
        if (*p)
            ++p;
        map.SyncStreamIndex = int(strtol(p, const_cast<char**>(&p), 0));
    } else {
        map.SyncFileIndex = map.FileIndex;
        map.SyncStreamIndex = map.StreamIndex;
    }
    job.FStreamMaps.push_back(map);
}

// outfile[,type[index]]:infile[,type[index]]
void MapMetadata(TJob& job, const QString& name, const QString& value) {
    if (name == QLatin1String("map_meta_data"))
        FFLogger().Log(nullptr, llWarning,
                       "-map_meta_data is deprecated and will be removed soon. Use "
                       "-map_metadata instead.");
    const int colon = value.indexOf(u':');
    const QString in = colon < 0 ? value : value.mid(colon + 1);
    for (const QString& spec : {colon < 0 ? QString() : value.left(colon), in}) {
        const int comma = spec.indexOf(u',');
        if (comma >= 0 && comma + 1 < spec.size()) {
            const QChar type = spec[comma + 1];
            if (!QStringLiteral("gscp").contains(type))
                throw FFmpegException(
                    QStringLiteral("Invalid metadata type %1.").arg(spec.mid(comma + 1)));
        }
    }
    TMetaDataMap map{};
    const int comma = in.indexOf(u',');
    map.FileIndex = (comma < 0 ? in : in.left(comma)).toInt();
    map.Type = comma >= 0 && comma + 1 < in.size() ? in[comma + 1].toLatin1() : 'g';
    map.Index = comma >= 0 ? in.mid(comma + 2).toInt() : 0;
    job.FMetaDataMaps.push_back(map);
}

void MapChapters(TJob& job, const QString&, const QString& value) {
    const int colon = value.indexOf(u':');
    job.FChapterMaps.emplace_back(value.mid(colon + 1).toInt(), value.left(colon).toInt());
}

void SetRecordingTime(TJob& job, const QString& name, const QString& value) {
    job.FRecordingTime = ToTime(name, value);
    job.FTotalOutputDuration = job.FRecordingTime;
}

void SetTsScale(TJob& job, const QString&, const QString& value) {
    const QByteArray v = Utf8(value);
    const char* p = nullptr;
    const long stream = LeadingNumber(v, p);
    if (*p)
        ++p;
    const double scale = strtod(p, nullptr);
    if (stream < 0 || stream >= MaxStreams)
        FFRaise("stream index over MAX_STREAMS(%d)", MaxStreams);
    if (job.FPendingTsScale.size() <= size_t(stream))
        job.FPendingTsScale.resize(size_t(stream) + 1, 1.0);
    job.FPendingTsScale[size_t(stream)] = scale;
}

void SetMetadata(TJob& job, const QString&, const QString& value) {
    const int eq = value.indexOf(u'=');
    if (eq < 0)
        throw FFmpegException(QStringLiteral("Missing ="));
    if (eq == 0)
        throw FFmpegException(QStringLiteral("wrong parameter of metadata"));
    job.FMetadata.emplace_back(value.left(eq), value.mid(eq + 1));
}

void SetMaxFrames(TJob& job, const QString& name, const QString& value) {
    job.FMaxFrames[TypeOf(name)] = StrToInt(value);
}

void SetThreads(TJob& job, const QString&, const QString& value) {
    job.FThreadCount = StrToInt(value);
    if (job.FOwner.Verbose >= 0)
        FFLogger().Log(nullptr, llVerbose,
                       "Warning: if the ffmpeg libraries were not compiled with thread "
                       "support, it would be using thread emulation.");
}

void SetFrameRate(TJob& job, const QString&, const QString& value) {
    AVRational rate{0, 0};
    if (FF.av_parse_video_rate(&rate, Utf8(value).constData()) < 0)
        throw FFmpegException(QStringLiteral("Incorrect frame rate"));
    job.FFrameRate = rate;
}

void SetFrameSize(TJob& job, const QString&, const QString& value) {
    int w = 0, h = 0;
    if (FF.av_parse_video_size(&w, &h, Utf8(value).constData()) < 0)
        throw FFmpegException(QStringLiteral("Incorrect frame size"));
    job.FFrameWidth = w;
    job.FFrameHeight = h;
}

void SetAspect(TJob& job, const QString&, const QString& value) {
    double ratio = 0;
    const int colon = value.indexOf(u':');
    if (colon >= 0) {
        const int x = value.left(colon).toInt();
        const int y = value.mid(colon + 1).toInt();
        ratio = y ? double(x) / y : 0;
    } else {
        ratio = value.trimmed().toDouble();
    }
    if (ratio == 0 || !std::isfinite(ratio))
        throw FFmpegException(QStringLiteral("Incorrect aspect ratio specification."));
    job.FFrameAspectRatio = ratio;
}

void SetPixelFormat(TJob& job, const QString&, const QString& value) {
    if (value == QLatin1String("list")) {
        for (const AVPixFmtDescriptor* d = FF.av_pix_fmt_desc_next(nullptr); d;
             d = FF.av_pix_fmt_desc_next(d))
            FFLogger().Log(nullptr, llInfo, QString::fromUtf8(d->name));
        return;
    }
    const QByteArray v = Utf8(value);
    const AVPixelFormat fmt = FF.av_get_pix_fmt(v.constData());
    if (fmt == AV_PIX_FMT_NONE)
        FFRaise("Unknown pixel format requested: %s", v.constData());
    job.FFramePixFmt = fmt;
}

void SetQScale(TJob& job, const QString&, const QString& value) {
    const double q = ToFloat(value);
    if (q <= 0 || q > 255)
        throw FFmpegException(QStringLiteral("qscale must be > 0.0 and <= 255"));
    job.FVideoQScale = float(q);
}

void SetPass(TJob& job, const QString&, const QString& value) {
    const int pass = StrToInt(value);
    if (pass != 1 && pass != 2)
        throw FFmpegException(QStringLiteral("pass number can be only 1 or 2"));
    job.FDoPass = pass;
}

void SetVStats(TJob& job, const QString&, const QString& value) {
    if (ToBool(value))
        job.FVStatsFile = QDir::currentPath() + u'/' +
                          QStringLiteral("vstats_%1.log")
                              .arg(QTime::currentTime().toString(QStringLiteral("hhmmss")));
}

// 64 coefficients separated by commas.
void SetMatrix(TJob& job, const QString& name, const QString& value) {
    std::vector<uint16_t>& matrix =
        name == QLatin1String("intra_matrix") ? job.FIntraMatrix : job.FInterMatrix;
    matrix.clear();
    const QByteArray v = Utf8(value);
    const QStringList coeffs = value.split(u',');
    for (int i = 0; i < 64; ++i) {
        bool ok = i < coeffs.size();
        const int c = ok ? coeffs[i].trimmed().toInt(&ok) : 0;
        if (!ok)
            FFRaise("Syntax error in matrix \"%s\" at coeff %d", v.constData(), i);
        matrix.push_back(uint16_t(c));
    }
    if (coeffs.size() != 64)
        FFRaise("Syntax error in matrix \"%s\" at coeff %d", v.constData(), 64);
}

// A number, or four characters.
void SetCodecTag(TJob& job, const QString& name, const QString& value) {
    const QByteArray v = Utf8(value);
    bool ok = false;
    const uint32_t number = uint32_t(value.toLong(&ok, 0));
    uint32_t tag;
    if (ok)
        tag = number;
    else if (v.size() == 4)
        tag = MKTAG(v[0], v[1], v[2], v[3]);
    else
        throw FFmpegException(QStringLiteral("tag parameter must be 4 chars or int value"));
    job.FCodecTag[TypeOf(name)] = tag;
}

void AddStream(TJob& job, const QString& name, const QString&) {
    job.NewStream(name == QLatin1String("newvideo")   ? AVMEDIA_TYPE_VIDEO
                  : name == QLatin1String("newaudio") ? AVMEDIA_TYPE_AUDIO
                                                      : AVMEDIA_TYPE_SUBTITLE);
}

// "index:value"
void SetStreamId(TJob& job, const QString& name, const QString& value) {
    const int colon = value.indexOf(u':');
    bool ok1 = false, ok2 = false;
    const int index = colon < 0 ? 0 : value.left(colon).toInt(&ok1);
    const int id = colon < 0 ? 0 : value.mid(colon + 1).toInt(&ok2);
    if (colon < 0 || !ok1 || !ok2)
        throw FFmpegException(QStringLiteral("Invalid value \"%1\" for option \"%2\", required "
                                             "syntax is \"index:value\"")
                                  .arg(value, name));
    if (index < 0 || index >= MaxStreams)
        FFRaise("stream index over MAX_STREAMS(%d)", MaxStreams);
    job.FStreamIds.emplace_back(index, id);
}

void SetSampleFormat(TJob& job, const QString&, const QString& value) {
    if (value == QLatin1String("list")) {
        for (int f = 0; f < AV_SAMPLE_FMT_NB; ++f)
            FFLogger().Log(nullptr, llInfo,
                           QString::fromUtf8(FF.av_get_sample_fmt_name(AVSampleFormat(f))));
        return;
    }
    const QByteArray v = Utf8(value);
    const AVSampleFormat fmt = FF.av_get_sample_fmt(v.constData());
    if (fmt == AV_SAMPLE_FMT_NONE)
        FFRaise("Invalid sample format \"%s\"", v.constData());
    job.FAudioSampleFmt = fmt;
}

void AddBitstreamFilter(TJob& job, const QString& name, const QString& value) {
    const QString filter = value.section(u'=', 0, 0);
    if (!FF.av_bsf_get_by_name(Utf8(filter).constData()))
        FFRaise("Unknown bitstream filter %s", Utf8(filter).constData());
    QString& list = job.FBsf[TypeOf(name)];
    list += (list.isEmpty() ? QString() : QStringLiteral(",")) + filter;
}

void Removed(const char* filter) {
    throw FFmpegException(
        QStringLiteral("Removed, use the %1 filter instead").arg(QLatin1String(filter)));
}

// The options of the language. A name not listed here is a generic option of FFmpeg's
// codec, format or scaler classes.
const TOptionEntry OptionTable[] = {
    {"L h version formats codecs bsfs protocols filters i y benchmark", DoNothing},
    {"loglevel", [](TJob&, const QString&, const QString& v) { FFLogger().OptLogLevel(v); }},
    {"f", SetText<&TJob::FForceFormat>},
    {"map", MapStream},
    {"map_meta_data map_metadata", MapMetadata},
    {"map_chapters", MapChapters},
    {"t", SetRecordingTime},
    {"fs", [](TJob& j, const QString&, const QString& v) { j.FLimitFilesize = StrToInt64(v); }},
    {"ss", SetDuration<&TJob::FStartTime>},
    {"itsoffset", SetDuration<&TJob::FInputTsOffset>},
    {"itsscale", SetTsScale},
    {"timestamp", [](TJob& j, const QString& n,
                     const QString& v) { j.FRecordingTimestamp = ToTime(n, v, false); }},
    {"metadata", SetMetadata},
    {"dframes vframes aframes", SetMaxFrames},
    {"timelimit",
     [](TJob&, const QString&, const QString&) {
         FFLogger().Log(nullptr, llWarning, "Warning: -timelimit not implemented on Windows");
     }},
    {"dump", SetFlag<&TJob::FDump>},
    {"hex", SetFlag<&TJob::FHex>},
    {"re", SetFlag<&TJob::FRateEmu>},
    {"loop_input", SetFlag<&TJob::FLoopInput>},
    {"loop_output", SetInt<&TJob::FLoopOutput>},
    {"v", [](TJob& j, const QString&, const QString& v) { j.FOwner.Verbose = StrToInt(v); }},
    {"target",
     [](TJob& j, const QString&, const QString& v) { j.ApplyTarget(v, QStringLiteral("ntsc")); }},
    {"threads", SetThreads},
    {"vsync", SetInt<&TJob::FVideoSyncMethod>},
    {"async", SetInt<&TJob::FAudioSyncMethod>},
    {"adrift_threshold", SetFloat<&TJob::FAudioDriftThreshold>},
    {"copyts", SetFlag<&TJob::FCopyTs>},
    {"copytb", SetFlag<&TJob::FCopyTb>},
    {"shortest", SetFlag<&TJob::FShortest>},
    {"dts_delta_threshold", SetFloat<&TJob::FDtsDeltaThreshold>},
    {"programid", SetInt<&TJob::FProgramId>},
    {"xerror", SetFlag<&TJob::FExitOnError>},
    {"copyinkf", [](TJob& j, const QString&,
                    const QString& v) { j.FCopyInitialNonKeyframes = StrToInt(v) != 0; }},
    {"b vb ab", [](TJob& j, const QString& n, const QString& v) { j.ApplyBitRate(n, v); }},
    {"r", SetFrameRate},
    {"s", SetFrameSize},
    {"aspect", SetAspect},
    {"pix_fmt", SetPixelFormat},
    {"bits_per_raw_sample", SetInt<&TJob::FBitsPerRawSample>},
    {"croptop cropbottom cropleft cropright",
     [](TJob&, const QString&, const QString&) { Removed("crop"); }},
    {"padtop padbottom padleft padright padcolor",
     [](TJob&, const QString&, const QString&) { Removed("pad"); }},
    {"intra",
     [](TJob& j, const QString&, const QString& v) {
         if (ToBool(v))
             j.ApplyGeneric(QStringLiteral("g"), QStringLiteral("0"));
     }},
    {"vn an sn",
     [](TJob& j, const QString& n, const QString& v) { j.FDisable[TypeOf(n)] = ToBool(v); }},
    {"vdt", SetInt<&TJob::FVdt>},
    {"qscale", SetQScale},
    {"rc_override", SetText<&TJob::FRcOverride>},
    {"vcodec acodec scodec dcodec",
     [](TJob& j, const QString& n, const QString& v) { j.FCodecName[TypeOf(n)] = v; }},
    {"me_threshold", SetInt<&TJob::FMeThreshold>},
    {"sameq", SetFlag<&TJob::FSameQuant>},
    {"pass", SetPass},
    {"passlogfile", SetText<&TJob::FPassLogFile>},
    {"deinterlace", SetFlag<&TJob::FDoDeinterlace>},
    {"psnr", SetFlag<&TJob::FDoPsnr>},
    {"vstats", SetVStats},
    {"vstats_file", SetText<&TJob::FVStatsFile>},
    {"vhook", [](TJob& j, const QString&, const QString& v) { j.FHookChain->Add(v); }},
    {"vfilters vf", SetText<&TJob::FVideoFilters>},
    {"intra_matrix inter_matrix", SetMatrix},
    {"top", SetInt<&TJob::FTopFieldFirst>},
    {"dc", SetInt<&TJob::FIntraDcPrecision>},
    {"vtag atag stag", SetCodecTag},
    {"newvideo newaudio newsubtitle", AddStream},
    {"vlang alang slang",
     [](TJob& j, const QString& n, const QString& v) { j.FLanguage[TypeOf(n)] = v; }},
    {"qphist", SetFlag<&TJob::FQpHist>},
    {"force_fps", SetFlag<&TJob::FForceFps>},
    {"streamid", SetStreamId},
    {"force_key_frames", SetText<&TJob::FForceKeyFrames>},
    {"aq", SetFloat<&TJob::FAudioQScale>},
    {"ar",
     [](TJob& j, const QString&, const QString& v) {
         if (const int rate = StrToInt(v); rate > 0)
             j.FAudioSampleRate = rate;
     }},
    {"ac",
     [](TJob& j, const QString&, const QString& v) {
         if (const int channels = StrToInt(v); channels > 0)
             j.FAudioChannels = channels;
     }},
    {"vol", SetInt<&TJob::FAudioVolume>},
    {"sample_fmt", SetSampleFormat},
    {"vc", SetInt<&TJob::FVideoChannel>},
    {"tvstd", SetText<&TJob::FTvStd>},
    {"isync", SetFlag<&TJob::FInputSync>},
    {"muxdelay", SetFloat<&TJob::FMuxMaxDelay>},
    {"muxpreload", SetFloat<&TJob::FMuxPreload>},
    {"absf vbsf sbsf", AddBitstreamFilter},
    {"apre vpre spre fpre",
     [](TJob& j, const QString&, const QString& v) { j.ApplyPresetFile(v); }},
};

// The handler of every name and alias of the table.
const QHash<QString, TOptionHandler>& OptionHandlers() {
    static const QHash<QString, TOptionHandler> handlers = [] {
        QHash<QString, TOptionHandler> byName;
        for (const TOptionEntry& entry : OptionTable)
            for (const QString& name :
                 QString::fromLatin1(entry.Names).split(u' ', Qt::SkipEmptyParts))
                byName.insert(name, entry.Handler);
        return byName;
    }();
    return handlers;
}

} // namespace

void TJob::SetExtOption(const QString& name, const QString& value) {
    if (const TOptionHandler handler = OptionHandlers().value(name))
        handler(*this, name, value);
    else
        ApplyGeneric(name, value);
}
