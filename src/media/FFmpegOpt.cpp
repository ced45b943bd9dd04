// The job option language: SetExtOption with its table, the generic option mechanism
// over FFmpeg's option classes, codec lookup, preset files, target presets.

#include "media/FFmpegInternal.h"

#include "media/FFLog.h"
#include "media/FrameHook.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTime>

#include <cmath>

namespace {

std::mutex GLastOptionErrorLock;
QString GLastOptionError;

void SetLastOptionError(const QString& text) {
    std::lock_guard lock(GLastOptionErrorLock);
    GLastOptionError = text;
}

QByteArray Utf8(const QString& text) {
    return text.toUtf8();
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

TFFOptions::~TFFOptions() {
    if (!FF.avcodec_free_context)
        return; // the libraries went first; their memory went with them
    for (AVCodecContext*& ctx : CodecOpts)
        if (ctx)
            FF.avcodec_free_context(&ctx);
    if (FormatOpts)
        FF.avformat_free_context(FormatOpts);
    if (ScalerOpts)
        FF.sws_freeContext(ScalerOpts);
}

void TFFOptions::Clear() {
    Items.clear();
    if (!FF.avcodec_alloc_context3)
        return; // libraries not loaded: the job must not be used
    for (AVCodecContext*& ctx : CodecOpts) {
        if (ctx)
            FF.avcodec_free_context(&ctx);
        ctx = FF.avcodec_alloc_context3(nullptr);
    }
    if (FormatOpts)
        FF.avformat_free_context(FormatOpts);
    FormatOpts = FF.avformat_alloc_context();
    if (ScalerOpts)
        FF.sws_freeContext(ScalerOpts);
    ScalerOpts = FF.sws_alloc_context();
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

bool TCustomFFmpeg::SetGenericOption(const QString& name, const QString& value) {
    if (name.trimmed().isEmpty())
        return false;
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
        AVCodecContext* ctx = FOptions.CodecOpts[type];
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
    if (!found && FF.av_opt_find(FOptions.FormatOpts, n.constData(), nullptr, 0, 0)) {
        found = true;
        ret = FF.av_opt_set(FOptions.FormatOpts, n.constData(), v.constData(), 0);
        option.Format = ret >= 0;
    }
    if (!found && FOptions.ScalerOpts &&
        FF.av_opt_find(FOptions.ScalerOpts, n.constData(), nullptr, 0, 0)) {
        found = true;
        ret = FF.av_opt_set(FOptions.ScalerOpts, n.constData(), v.constData(), 0);
        option.Scaler = ret >= 0;
    }
    if (!found && n.size() > 1) {
        const int type = n[0] == 'a'   ? AVMEDIA_TYPE_AUDIO
                         : n[0] == 'v' ? AVMEDIA_TYPE_VIDEO
                         : n[0] == 's' ? AVMEDIA_TYPE_SUBTITLE
                                       : -1;
        if (type >= 0) {
            AVCodecContext* ctx = FOptions.CodecOpts[type];
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

void TCustomFFmpeg::ApplyGeneric(const QString& name, const QString& value) {
    if (!SetGenericOption(name, value) && HaltOnInvalidOption && !name.trimmed().isEmpty())
        throw FFmpegException(LastOptionError());
}

void TCustomFFmpeg::ApplyBitRate(const QString& name, const QString& value) {
    ApplyGeneric(name, value);
    const int type = name.startsWith(u'a') ? AVMEDIA_TYPE_AUDIO : AVMEDIA_TYPE_VIDEO;
    if (FOptions.CodecOpts[type]->bit_rate < 1000)
        FFLogger().Log(nullptr, llWarning,
                       "WARNING: The bitrate parameter is set too low. It takes bits/s as "
                       "argument, not kbits/s");
}

// ---------------------------------------------------------------------------------------
// codec lookup

const AVCodec* TCustomFFmpeg::FindCodec(const QString& name, AVMediaType type, bool encoder,
                                        int strict) {
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
// preset files and targets

void TCustomFFmpeg::ApplyPresetFile(const QString& path, AVMediaType) {
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
        else if (!SetGenericOption(key, value) && HaltOnInvalidOption)
            throw FFmpegException(
                QStringLiteral("%1\r\n%2: Invalid option or argument: \"%3\", parsed as \"%4\" = "
                               "\"%5\"")
                    .arg(LastOptionError(), path, line, key, value));
    }
}

void TCustomFFmpeg::ApplyTarget(const QString& value, const QString& defaultNorm) {
    enum { PAL, NTSC, FILM, UNKNOWN } norm = UNKNOWN;
    QString target = value;
    if (target.startsWith(QLatin1String("pal-"))) {
        norm = PAL;
        target = target.mid(4);
    } else if (target.startsWith(QLatin1String("ntsc-"))) {
        norm = NTSC;
        target = target.mid(5);
    } else if (target.startsWith(QLatin1String("film-"))) {
        norm = FILM;
        target = target.mid(5);
    } else {
        // guess from the frame rate of the video inputs
        for (const auto& ist : FInputStreams) {
            if (ist->st->codecpar->codec_type != AVMEDIA_TYPE_VIDEO)
                continue;
            const AVRational r =
                ist->st->avg_frame_rate.num ? ist->st->avg_frame_rate : ist->st->r_frame_rate;
            if (!r.den)
                continue;
            const int fr = int(lrint(av_q2d(r) * 1000));
            if (fr == 25000) {
                norm = PAL;
                break;
            }
            if (fr == 29970 || fr == 23976) {
                norm = NTSC;
                break;
            }
        }
        if (norm == UNKNOWN) {
            norm = defaultNorm.compare(QLatin1String("pal"), Qt::CaseInsensitive) == 0 ? PAL : NTSC;
            if (Verbose > 0)
                FFLogger().Log(nullptr, llInfo, "Assuming %s for target.",
                               norm == PAL ? "PAL" : "NTSC");
        }
    }
    const bool pal = norm == PAL;
    const QString rate = pal            ? QStringLiteral("25")
                         : norm == FILM ? QStringLiteral("24000/1001")
                                        : QStringLiteral("30000/1001");
    const QString gop = pal ? QStringLiteral("15") : QStringLiteral("18");
    auto set = [&](const char* name, const QString& v) { SetExtOption(QLatin1String(name), v); };
    auto stereo = [&] {
        bool mono = FAudioChannels == 1;
        if (FAudioChannels == 0)
            for (const auto& ist : FInputStreams)
                if (ist->st->codecpar->codec_type == AVMEDIA_TYPE_AUDIO &&
                    ist->st->codecpar->ch_layout.nb_channels == 1)
                    mono = true;
        if (mono)
            FAudioChannels = 2;
    };
    if (target == QLatin1String("vcd")) {
        set("vcodec", QStringLiteral("mpeg1video"));
        set("acodec", QStringLiteral("mp2"));
        set("f", QStringLiteral("vcd"));
        set("s", pal ? QStringLiteral("352x288") : QStringLiteral("352x240"));
        set("r", rate);
        set("g", gop);
        set("b", QStringLiteral("1150000"));
        set("maxrate", QStringLiteral("1150000"));
        set("minrate", QStringLiteral("1150000"));
        set("bufsize", QStringLiteral("327680"));
        set("ab", QStringLiteral("224000"));
        FAudioSampleRate = 44100;
        FAudioChannels = 2;
        set("packetsize", QStringLiteral("2324"));
        set("muxrate", QStringLiteral("1411200"));
        FMuxPreload = 0.44f;
        if (FFrameAspectRatio == 0) {
            FFrameAspectRatio = 4.0 / 3.0;
            FFLogger().Log(nullptr, llInfo, "Assuming 4:3 for aspect ratio");
        }
    } else if (target == QLatin1String("svcd")) {
        set("vcodec", QStringLiteral("mpeg2video"));
        set("acodec", QStringLiteral("mp2"));
        set("f", QStringLiteral("svcd"));
        set("s", pal ? QStringLiteral("480x576") : QStringLiteral("480x480"));
        set("r", rate);
        set("pix_fmt", QStringLiteral("yuv420p"));
        set("g", gop);
        set("b", QStringLiteral("2040000"));
        set("maxrate", QStringLiteral("2516000"));
        set("minrate", QStringLiteral("0"));
        set("bufsize", QStringLiteral("1835008"));
        SetGenericOption(QStringLiteral("scan_offset"), QStringLiteral("1"));
        set("ab", QStringLiteral("224000"));
        FAudioSampleRate = 44100;
        stereo();
        set("packetsize", QStringLiteral("2324"));
        if (FFrameAspectRatio == 0) {
            FFrameAspectRatio = 4.0 / 3.0;
            FFLogger().Log(nullptr, llInfo, "Assuming 4:3 for aspect ratio");
        }
    } else if (target == QLatin1String("dvd")) {
        set("vcodec", QStringLiteral("mpeg2video"));
        set("acodec", QStringLiteral("ac3"));
        set("f", QStringLiteral("dvd"));
        set("s", pal ? QStringLiteral("720x576") : QStringLiteral("720x480"));
        set("r", rate);
        set("pix_fmt", QStringLiteral("yuv420p"));
        set("g", gop);
        set("b", QStringLiteral("6000000"));
        set("maxrate", QStringLiteral("9000000"));
        set("minrate", QStringLiteral("0"));
        set("bufsize", QStringLiteral("1835008"));
        set("packetsize", QStringLiteral("2048"));
        set("muxrate", QStringLiteral("10080000"));
        set("ab", QStringLiteral("448000"));
        FAudioSampleRate = 48000;
        stereo();
        if (FFrameAspectRatio == 0) {
            FFrameAspectRatio = 16.0 / 9.0;
            FFLogger().Log(nullptr, llInfo, "Assuming 16:9 for aspect ratio");
        }
    } else if (target == QLatin1String("dv") || target == QLatin1String("dv50")) {
        set("f", QStringLiteral("dv"));
        set("s", pal ? QStringLiteral("720x576") : QStringLiteral("720x480"));
        set("pix_fmt", target == QLatin1String("dv50") ? QStringLiteral("yuv422p")
                       : pal                           ? QStringLiteral("yuv420p")
                                                       : QStringLiteral("yuv411p"));
        set("r", rate);
        FAudioSampleRate = 48000;
        FAudioChannels = 2;
    } else {
        throw FFmpegException(QStringLiteral("Unknown target type"));
    }
}

// ---------------------------------------------------------------------------------------
// the option table

void TCustomFFmpeg::SetExtOption(const QString& AName, const QString& AValue) {
    const QString& name = AName;
    const QString& value = AValue;
    const QByteArray v = Utf8(value);
    auto is = [&](const char* n) { return name == QLatin1String(n); };
    auto isAny = [&](std::initializer_list<const char*> names) {
        for (const char* n : names)
            if (name == QLatin1String(n))
                return true;
        return false;
    };
    auto typeOf = [&](QChar c) {
        return c == u'a'   ? AVMEDIA_TYPE_AUDIO
               : c == u'v' ? AVMEDIA_TYPE_VIDEO
               : c == u's' ? AVMEDIA_TYPE_SUBTITLE
                           : AVMEDIA_TYPE_DATA;
    };

    if (isAny({"L", "h", "version", "formats", "codecs", "bsfs", "protocols", "filters", "i", "y",
               "benchmark"})) {
        FFLogger().Log(nullptr, llInfo, QStringLiteral("Do nothing: option - ") + name);
    } else if (is("loglevel")) {
        FFLogger().OptLogLevel(value);
    } else if (is("f")) {
        FForceFormat = value;
    } else if (is("map")) {
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
        FStreamMaps.push_back(map);
    } else if (is("map_meta_data") || is("map_metadata")) {
        if (is("map_meta_data"))
            FFLogger().Log(nullptr, llWarning,
                           "-map_meta_data is deprecated and will be removed soon. Use "
                           "-map_metadata instead.");
        // outfile[,type[index]]:infile[,type[index]]
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
        FMetaDataMaps.push_back(map);
    } else if (is("map_chapters")) {
        const int colon = value.indexOf(u':');
        FChapterMaps.emplace_back(value.mid(colon + 1).toInt(), value.left(colon).toInt());
    } else if (is("t")) {
        FRecordingTime = ToTime(name, value);
        FTotalOutputDuration = FRecordingTime;
    } else if (is("fs")) {
        FLimitFilesize = StrToInt64(value);
    } else if (is("ss")) {
        FStartTime = ToTime(name, value);
    } else if (is("itsoffset")) {
        FInputTsOffset = ToTime(name, value);
    } else if (is("itsscale")) {
        const char* p = nullptr;
        const long stream = LeadingNumber(v, p);
        if (*p)
            ++p;
        const double scale = strtod(p, nullptr);
        if (stream < 0 || stream >= MaxStreams)
            FFRaise("stream index over MAX_STREAMS(%d)", MaxStreams);
        if (FPendingTsScale.size() <= size_t(stream))
            FPendingTsScale.resize(size_t(stream) + 1, 1.0);
        FPendingTsScale[size_t(stream)] = scale;
    } else if (is("timestamp")) {
        FRecordingTimestamp = ToTime(name, value, false);
    } else if (is("metadata")) {
        const int eq = value.indexOf(u'=');
        if (eq < 0)
            throw FFmpegException(QStringLiteral("Missing ="));
        if (eq == 0)
            throw FFmpegException(QStringLiteral("wrong parameter of metadata"));
        FMetadata.emplace_back(value.left(eq), value.mid(eq + 1));
    } else if (is("dframes")) {
        FMaxFrames[AVMEDIA_TYPE_DATA] = StrToInt(value);
    } else if (is("timelimit")) {
        FFLogger().Log(nullptr, llWarning, "Warning: -timelimit not implemented on Windows");
    } else if (is("dump")) {
        FDump = ToBool(value);
    } else if (is("hex")) {
        FHex = ToBool(value);
    } else if (is("re")) {
        FRateEmu = ToBool(value);
    } else if (is("loop_input")) {
        FLoopInput = ToBool(value);
    } else if (is("loop_output")) {
        FLoopOutput = StrToInt(value);
    } else if (is("v")) {
        Verbose = StrToInt(value);
    } else if (is("target")) {
        ApplyTarget(value, QStringLiteral("ntsc"));
    } else if (is("threads")) {
        FThreadCount = StrToInt(value);
        if (Verbose >= 0)
            FFLogger().Log(nullptr, llVerbose,
                           "Warning: if the ffmpeg libraries were not compiled with thread "
                           "support, it would be using thread emulation.");
    } else if (is("vsync")) {
        FVideoSyncMethod = StrToInt(value);
    } else if (is("async")) {
        FAudioSyncMethod = StrToInt(value);
    } else if (is("adrift_threshold")) {
        FAudioDriftThreshold = float(ToFloat(value));
    } else if (is("copyts")) {
        FCopyTs = ToBool(value);
    } else if (is("copytb")) {
        FCopyTb = ToBool(value);
    } else if (is("shortest")) {
        FShortest = ToBool(value);
    } else if (is("dts_delta_threshold")) {
        FDtsDeltaThreshold = float(ToFloat(value));
    } else if (is("programid")) {
        FProgramId = StrToInt(value);
    } else if (is("xerror")) {
        FExitOnError = ToBool(value);
    } else if (is("copyinkf")) {
        FCopyInitialNonKeyframes = StrToInt(value) != 0;
    } else if (is("b") || is("vb") || is("ab")) {
        ApplyBitRate(name, value);
    } else if (is("vframes")) {
        FMaxFrames[AVMEDIA_TYPE_VIDEO] = StrToInt(value);
    } else if (is("aframes")) {
        FMaxFrames[AVMEDIA_TYPE_AUDIO] = StrToInt(value);
    } else if (is("r")) {
        AVRational rate{0, 0};
        if (FF.av_parse_video_rate(&rate, v.constData()) < 0)
            throw FFmpegException(QStringLiteral("Incorrect frame rate"));
        FFrameRate = rate;
    } else if (is("s")) {
        int w = 0, h = 0;
        if (FF.av_parse_video_size(&w, &h, v.constData()) < 0)
            throw FFmpegException(QStringLiteral("Incorrect frame size"));
        FFrameWidth = w;
        FFrameHeight = h;
    } else if (is("aspect")) {
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
        FFrameAspectRatio = ratio;
    } else if (is("pix_fmt")) {
        if (value == QLatin1String("list")) {
            for (const AVPixFmtDescriptor* d = FF.av_pix_fmt_desc_next(nullptr); d;
                 d = FF.av_pix_fmt_desc_next(d))
                FFLogger().Log(nullptr, llInfo, QString::fromUtf8(d->name));
        } else {
            const AVPixelFormat fmt = FF.av_get_pix_fmt(v.constData());
            if (fmt == AV_PIX_FMT_NONE)
                FFRaise("Unknown pixel format requested: %s", v.constData());
            FFramePixFmt = fmt;
        }
    } else if (is("bits_per_raw_sample")) {
        FBitsPerRawSample = StrToInt(value);
    } else if (isAny({"croptop", "cropbottom", "cropleft", "cropright"})) {
        throw FFmpegException(QStringLiteral("Removed, use the crop filter instead"));
    } else if (isAny({"padtop", "padbottom", "padleft", "padright", "padcolor"})) {
        throw FFmpegException(QStringLiteral("Removed, use the pad filter instead"));
    } else if (is("intra")) {
        if (ToBool(value))
            ApplyGeneric(QStringLiteral("g"), QStringLiteral("0"));
    } else if (is("vn") || is("an") || is("sn")) {
        FDisable[typeOf(name[0])] = ToBool(value);
    } else if (is("vdt")) {
        FVdt = StrToInt(value);
    } else if (is("qscale")) {
        const double q = ToFloat(value);
        if (q <= 0 || q > 255)
            throw FFmpegException(QStringLiteral("qscale must be > 0.0 and <= 255"));
        FVideoQScale = float(q);
    } else if (is("rc_override")) {
        FRcOverride = value;
    } else if (isAny({"vcodec", "acodec", "scodec", "dcodec"})) {
        FCodecName[typeOf(name[0])] = value;
    } else if (is("me_threshold")) {
        FMeThreshold = StrToInt(value);
    } else if (is("sameq")) {
        FSameQuant = ToBool(value);
    } else if (is("pass")) {
        const int pass = StrToInt(value);
        if (pass != 1 && pass != 2)
            throw FFmpegException(QStringLiteral("pass number can be only 1 or 2"));
        FDoPass = pass;
    } else if (is("passlogfile")) {
        FPassLogFile = value;
    } else if (is("deinterlace")) {
        FDoDeinterlace = ToBool(value);
    } else if (is("psnr")) {
        FDoPsnr = ToBool(value);
    } else if (is("vstats")) {
        if (ToBool(value))
            FVStatsFile = QDir::currentPath() + u'/' +
                          QStringLiteral("vstats_%1.log")
                              .arg(QTime::currentTime().toString(QStringLiteral("hhmmss")));
    } else if (is("vstats_file")) {
        FVStatsFile = value;
    } else if (is("vhook")) {
        FHookChain->Add(value);
    } else if (is("vfilters") || is("vf")) {
        FVideoFilters = value;
    } else if (is("intra_matrix") || is("inter_matrix")) {
        std::vector<uint16_t>& matrix = is("intra_matrix") ? FIntraMatrix : FInterMatrix;
        matrix.clear();
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
    } else if (is("top")) {
        FTopFieldFirst = StrToInt(value);
    } else if (is("dc")) {
        FIntraDcPrecision = StrToInt(value);
    } else if (is("vtag") || is("atag") || is("stag")) {
        bool ok = false;
        const uint32_t number = uint32_t(value.toLong(&ok, 0));
        uint32_t tag;
        if (ok)
            tag = number;
        else if (v.size() == 4)
            tag = MKTAG(v[0], v[1], v[2], v[3]);
        else
            throw FFmpegException(QStringLiteral("tag parameter must be 4 chars or int value"));
        FCodecTag[typeOf(name[0])] = tag;
    } else if (is("newvideo")) {
        NewStream(AVMEDIA_TYPE_VIDEO);
    } else if (is("newaudio")) {
        NewStream(AVMEDIA_TYPE_AUDIO);
    } else if (is("newsubtitle")) {
        NewStream(AVMEDIA_TYPE_SUBTITLE);
    } else if (is("vlang") || is("alang") || is("slang")) {
        FLanguage[typeOf(name[0])] = value;
    } else if (is("qphist")) {
        FQpHist = ToBool(value);
    } else if (is("force_fps")) {
        FForceFps = ToBool(value);
    } else if (is("streamid")) {
        const int colon = value.indexOf(u':');
        bool ok1 = false, ok2 = false;
        const int index = colon < 0 ? 0 : value.left(colon).toInt(&ok1);
        const int id = colon < 0 ? 0 : value.mid(colon + 1).toInt(&ok2);
        if (colon < 0 || !ok1 || !ok2)
            throw FFmpegException(
                QStringLiteral("Invalid value \"%1\" for option \"%2\", required syntax is "
                               "\"index:value\"")
                    .arg(value, name));
        if (index < 0 || index >= MaxStreams)
            FFRaise("stream index over MAX_STREAMS(%d)", MaxStreams);
        FStreamIds.emplace_back(index, id);
    } else if (is("force_key_frames")) {
        FForceKeyFrames = value;
    } else if (is("aq")) {
        FAudioQScale = float(ToFloat(value));
    } else if (is("ar")) {
        const int rate = StrToInt(value);
        if (rate > 0)
            FAudioSampleRate = rate;
    } else if (is("ac")) {
        const int channels = StrToInt(value);
        if (channels > 0)
            FAudioChannels = channels;
    } else if (is("vol")) {
        FAudioVolume = StrToInt(value);
    } else if (is("sample_fmt")) {
        if (value == QLatin1String("list")) {
            for (int f = 0; f < AV_SAMPLE_FMT_NB; ++f)
                FFLogger().Log(nullptr, llInfo,
                               QString::fromUtf8(FF.av_get_sample_fmt_name(AVSampleFormat(f))));
        } else {
            const AVSampleFormat fmt = FF.av_get_sample_fmt(v.constData());
            if (fmt == AV_SAMPLE_FMT_NONE)
                FFRaise("Invalid sample format \"%s\"", v.constData());
            FAudioSampleFmt = fmt;
        }
    } else if (is("vc")) {
        FVideoChannel = StrToInt(value);
    } else if (is("tvstd")) {
        FTvStd = value;
    } else if (is("isync")) {
        FInputSync = ToBool(value);
    } else if (is("muxdelay")) {
        FMuxMaxDelay = float(ToFloat(value));
    } else if (is("muxpreload")) {
        FMuxPreload = float(ToFloat(value));
    } else if (is("absf") || is("vbsf") || is("sbsf")) {
        const QString filter = value.section(u'=', 0, 0);
        if (!FF.av_bsf_get_by_name(Utf8(filter).constData()))
            FFRaise("Unknown bitstream filter %s", Utf8(filter).constData());
        QString& list = FBsf[typeOf(name[0])];
        list += (list.isEmpty() ? QString() : QStringLiteral(",")) + filter;
    } else if (isAny({"apre", "vpre", "spre", "fpre"})) {
        ApplyPresetFile(value, typeOf(name[0]));
    } else {
        ApplyGeneric(name, value);
    }
}
