#include "media/FFEncodeOptions.h"

#include "media/FFLoad.h"
#include "media/FFmpeg.h"

#include <QDateTime>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStringList>

#include <algorithm>

namespace {

// The option names of the stream settings kinds, in the order of TKind.
const char* const KindNames[] = {"acodec", "vcodec", "scodec", "dcodec", "fpre", "s", "vf"};

QString Seconds(int64_t us) {
    return QString::number(double(us) / 1e6, 'f', 6);
}

bool IsNewStream(const QString& name) {
    return name == QLatin1String("newvideo") || name == QLatin1String("newaudio") ||
           name == QLatin1String("newsubtitle") || name == QLatin1String("newdata");
}

bool IsQueuedKind(const QString& name) {
    return name == QLatin1String("acodec") || name == QLatin1String("vcodec") ||
           name == QLatin1String("scodec") || name == QLatin1String("dcodec") ||
           name == QLatin1String("s") || name == QLatin1String("vfilters") ||
           name == QLatin1String("vf");
}

bool SameName(const QString& name, const char* other) {
    return name.compare(QLatin1String(other), Qt::CaseInsensitive) == 0;
}

} // namespace

std::vector<std::pair<QString, QString>> ParseOptionLines(const QString& text) {
    std::vector<std::pair<QString, QString>> result;
    QString all = text.trimmed();
    all.replace(QLatin1String("<CRLF>"), QLatin1String("\n"));
    static const QRegularExpression lineEnd(QStringLiteral("\r\n|\r|\n"));
    for (const QString& line : all.split(lineEnd)) {
        if (line.isEmpty())
            continue;
        const int eq = line.indexOf(u'=');
        if (eq < 0)
            result.emplace_back(line, QString());
        else
            result.emplace_back(line.left(eq), line.mid(eq + 1));
    }
    return result;
}

void ApplyExtOptionLines(TCustomFFmpeg* job, const QString& lines, bool output) {
    for (const auto& [rawName, value] : ParseOptionLines(lines)) {
        const QString name = rawName.toLower();
        if (IsNewStream(name) || name == QLatin1String("vfilters") || name == QLatin1String("vf"))
            continue;
        if (output && IsQueuedKind(name))
            continue;
        job->SetExtOption(name, value);
    }
}

TInputOptions InputOptionsFromText(const QString& text) {
    TInputOptions options;
    InitInputOptions(&options);
    QStringList rest;
    for (const auto& [name, value] : ParseOptionLines(text)) {
        if (SameName(name, "TimeStart")) {
            int64_t t;
            options.TimeStart = TryStrToInt64(value, t) ? t : NoTimeValue;
        } else {
            rest << name + u'=' + value;
        }
    }
    options.ExtOptions = rest.join(QLatin1String("\r\n"));
    return options;
}

TOutputOptions OutputOptionsFromText(const QString& text) {
    TOutputOptions options;
    InitOutputOptions(&options);
    const std::pair<const char*, bool TOutputOptions::*> switches[] = {
        {"AudioHook", &TOutputOptions::AudioHook},
        {"VideoInputHook", &TOutputOptions::VideoInputHook},
        {"VideoOutputHook", &TOutputOptions::VideoOutputHook},
        {"FrameInputHook", &TOutputOptions::FrameInputHook},
        {"FrameOutputHook", &TOutputOptions::FrameOutputHook},
        {"Join", &TOutputOptions::Join}};
    QStringList rest;
    for (const auto& line : ParseOptionLines(text)) {
        const auto& [name, value] = line;
        const auto isName = [&line](const auto& entry) {
            return SameName(line.first, entry.first);
        };
        const auto* flag = std::find_if(std::begin(switches), std::end(switches), isName);
        int64_t t;
        int bits;
        if (flag != std::end(switches))
            options.*(flag->second) = value != QLatin1String("0");
        else if (SameName(name, "VideoHookBitsPixel"))
            options.VideoHookBitsPixel = TryStrToInt(value, bits) ? bits : 24;
        else if (SameName(name, "TimeStart"))
            options.TimeStart = TryStrToInt64(value, t) ? t : NoTimeValue;
        else if (SameName(name, "TimeLength"))
            options.TimeLength = TryStrToInt64(value, t) ? t : NoTimeValue;
        else
            rest << name + u'=' + value;
    }
    options.ExtOptions = rest.join(QLatin1String("\r\n"));
    return options;
}

void ApplyInputOptions(TCustomFFmpeg* job, const TInputOptions& options) {
    ApplyExtOptionLines(job, options.ExtOptions, false);
    if (!options.ForceFormat.isEmpty())
        job->SetExtOption(QStringLiteral("f"), options.ForceFormat);
    if (options.TimeStart != NoTimeValue)
        job->SetExtOption(QStringLiteral("ss"), Seconds(options.TimeStart));
    if (options.ProgramID >= 0)
        job->SetExtOption(QStringLiteral("programid"), QString::number(options.ProgramID));
}

// ---------------------------------------------------------------------------------------
// stream settings of an output

TOutputStreamSettings::TOutputStreamSettings(const TOutputOptions& o)
    : FDefaults{o.AudioCodec, o.VideoCodec, o.SubtitleCodec, o.DataCodec,
                o.FilePreset, o.FrameSize,  o.VideoFilters} {
    for (const auto& [rawName, value] : ParseOptionLines(o.ExtOptions)) {
        QString name = rawName.toLower();
        FLines.emplace_back(name, value);
        if (!IsQueuedKind(name) || value.isEmpty())
            continue;
        if (name == QLatin1String("vfilters"))
            name = QStringLiteral("vf");
        const bool first = std::none_of(FQueue.begin(), FQueue.end(),
                                        [&](const auto& queued) { return queued.first == name; });
        FQueue.emplace_back(name, value);
        // The first line of a kind stands in for a field the record left empty.
        QString& fallback = FDefaults[KindOf(name)];
        if (first && fallback.isEmpty())
            fallback = value;
    }
}

int TOutputStreamSettings::KindOf(const QString& name) {
    for (int i = 0; i < KindCount; ++i)
        if (name == QLatin1String(KindNames[i]))
            return i;
    return -1;
}

void TOutputStreamSettings::ApplyCodecDefaults(TCustomFFmpeg* job) const {
    for (TKind kind : {kAudioCodec, kVideoCodec, kSubtitleCodec, kDataCodec, kPreset})
        if (!FDefaults[kind].isEmpty())
            job->SetExtOption(QLatin1String(KindNames[kind]), FDefaults[kind]);
}

void TOutputStreamSettings::ApplyPictureDefaults(TCustomFFmpeg* job) const {
    for (TKind kind : {kSize, kFilters})
        if (!FDefaults[kind].isEmpty())
            job->SetExtOption(QLatin1String(KindNames[kind]), FDefaults[kind]);
}

void TOutputStreamSettings::TakeQueued(TCustomFFmpeg* job, TKind kind) {
    const QLatin1String name(KindNames[kind]);
    const auto queued = std::find_if(FQueue.begin(), FQueue.end(),
                                     [&](const auto& entry) { return entry.first == name; });
    if (queued != FQueue.end()) {
        job->SetExtOption(queued->first, queued->second);
        FQueue.erase(queued);
    } else if (!FDefaults[kind].isEmpty()) {
        job->SetExtOption(name, FDefaults[kind]);
    }
}

void TOutputStreamSettings::AddStreams(TCustomFFmpeg* job) {
    for (const auto& [name, value] : FLines) {
        if (name == QLatin1String("newaudio")) {
            TakeQueued(job, kAudioCodec);
        } else if (name == QLatin1String("newvideo")) {
            TakeQueued(job, kVideoCodec);
            TakeQueued(job, kSize);
            TakeQueued(job, kFilters);
        } else if (name == QLatin1String("newsubtitle")) {
            TakeQueued(job, kSubtitleCodec);
        } else if (name == QLatin1String("newdata")) {
            TakeQueued(job, kDataCodec);
            continue; // data streams are added by copy only; nothing more to add
        } else {
            continue;
        }
        job->SetExtOption(name, value);
    }
}

// ---------------------------------------------------------------------------------------
// output records

namespace {

void ApplyTargetPreset(TCustomFFmpeg* job, const TOutputOptions& o) {
    if (o.TargetType == ttIgnore)
        return;
    const QString target = o.TargetType == ttVCD    ? QStringLiteral("vcd")
                           : o.TargetType == ttSVCD ? QStringLiteral("svcd")
                                                    : QStringLiteral("dvd");
    const QString norm = o.NormType == ntPAL    ? QStringLiteral("pal-")
                         : o.NormType == ntNTSC ? QStringLiteral("ntsc-")
                                                : QString();
    job->ApplyTarget(norm + target,
                     o.NormDefault == ntNTSC ? QStringLiteral("ntsc") : QStringLiteral("pal"));
}

// Sets one option of the output; numbers only when they are above 0.
struct TOptionSetter {
    TCustomFFmpeg* Job;
    void operator()(const char* name, const QString& value) const {
        Job->SetExtOption(QLatin1String(name), value);
    }
    template <class TNumber> void Positive(const char* name, TNumber value) const {
        if (value > 0)
            (*this)(name, QString::number(value));
    }
    void Text(const char* name, const QString& value) const {
        if (!value.isEmpty())
            (*this)(name, value);
    }
    void Flag(const char* name, bool on) const {
        if (on)
            (*this)(name, QStringLiteral("1"));
    }
};

void ApplyMuxAndAudioFields(const TOptionSetter& set, const TOutputOptions& o) {
    set.Positive("packetsize", o.PacketSize);
    set.Positive("muxrate", o.MuxRate);
    set.Positive("muxdelay", o.MuxDelay);
    set.Positive("muxpreload", o.MuxPreload);
    set.Flag("an", o.DisableAudio);
    if (o.AudioVolume >= 0)
        set("vol", QString::number(o.AudioVolume));
    set.Positive("ac", o.AudioChannels);
    set.Positive("ar", o.AudioSampleRate);
    if (o.TargetType == ttIgnore)
        set.Positive("ab", o.AudioBitrate);
    set.Positive("abt", o.AudioBitRateTolerance);
    set.Text("alang", o.AudioLanguage);
    set("async", QString::number(o.AudioSyncMethod));
    set.Text("atag", o.AudioTag);
}

void ApplyVideoAndTimeFields(const TOptionSetter& set, const TOutputOptions& o) {
    set.Flag("vn", o.DisableVideo);
    set.Text("r", o.FrameRate);
    set.Text("aspect", o.FrameAspectRatio);
    set.Positive("g", o.GroupPictureSize);
    if (o.TargetType == ttIgnore)
        set.Positive("vb", o.VideoBitrate);
    set.Positive("maxrate", o.VideoMaxRate);
    set.Positive("minrate", o.VideoMinRate);
    set.Positive("bt", o.VideoBitRateTolerance);
    set.Positive("bufsize", o.VideoBufSize);
    set("vsync", QString::number(o.VideoSyncMethod));
    set.Text("vtag", o.VideoTag);
    set.Text("vlang", o.VideoLanguage);
    set.Flag("sn", o.DisableSubtitle);
    set.Text("slang", o.SubtitleLanguage);
    set("isync", o.InputSync ? QStringLiteral("1") : QStringLiteral("0"));
    set.Flag("copyts", o.CopyTimestamp);
    if (o.TimeStart != NoTimeValue)
        set("ss", Seconds(o.TimeStart));
    if (o.TimeLength != NoTimeValue)
        set("t", Seconds(o.TimeLength));
}

void ApplyStreamInfo(const TOptionSetter& set, const TStreamInfo& info) {
    if (info.TimeStamp == 0) {
        set("timestamp", QStringLiteral("now"));
    } else if (info.TimeStamp > 0) {
        // days since 1899-12-30, local time
        const QDateTime base(QDate(1899, 12, 30), QTime(0, 0));
        const QDateTime local = base.addMSecs(qint64(info.TimeStamp * 86400000.0));
        set("timestamp", local.toUTC().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")) + u'Z');
    }
    if (info.Year > 0)
        set("metadata", QStringLiteral("year=%1").arg(info.Year));
    if (info.Track > 0)
        set("metadata", QStringLiteral("track=%1").arg(info.Track));
    const std::pair<const char*, QString> texts[] = {
        {"title", info.Title},     {"author", info.Author}, {"copyright", info.Copyright},
        {"comment", info.Comment}, {"album", info.Album},   {"genre", info.Genre}};
    for (const auto& [key, text] : texts)
        if (!text.isEmpty())
            set("metadata", QLatin1String(key) + u'=' + text);
}

} // namespace

void ApplyOutputOptions(TCustomFFmpeg* job, const TOutputOptions& options,
                        const TOutputStreamSettings& streams) {
    ApplyTargetPreset(job, options);
    streams.ApplyCodecDefaults(job);
    ApplyExtOptionLines(job, options.ExtOptions, true);
    const TOptionSetter set{job};
    ApplyMuxAndAudioFields(set, options);
    ApplyVideoAndTimeFields(set, options);
    ApplyStreamInfo(set, options.Info);
    streams.ApplyPictureDefaults(job);
}

// ---------------------------------------------------------------------------------------
// the program's own videos

void SetCodecsForExtension(TOutputOptions& o, const QString& fileName) {
    o.VideoCodec = QStringLiteral("mpeg4");
    o.AudioCodec = FF.avcodec_find_encoder_by_name != nullptr &&
                           FF.avcodec_find_encoder_by_name("libfaac") != nullptr
                       ? QStringLiteral("libfaac")
                       : QStringLiteral("aac");
    const QString suffix = QFileInfo(fileName).suffix().toLower();
    if (suffix == u"wmv") {
        o.VideoCodec = QStringLiteral("wmv2");
        o.AudioCodec = QStringLiteral("wmav2");
    } else if (suffix == u"avi") {
        o.AudioCodec = QStringLiteral("libmp3lame");
    }
    if (o.AudioCodec == u"aac")
        o.ExtOptions = QStringLiteral("astrict=experimental\r\n") + o.ExtOptions;
}

bool IsH264Container(const QString& fileName) {
    const QString suffix = QFileInfo(fileName).suffix().toLower();
    return suffix == u"mp4" || suffix == u"mov";
}

bool UseH264Pictures(TOutputOptions& o, const QString& fileName, const QString& preset, int crf,
                     int keyInterval) {
    if (!IsH264Container(fileName))
        return false;
    o.VideoCodec = QStringLiteral("libx264");
    // The quality steers the encoder, not a bit rate (a set bit rate would override it).
    o.VideoBitrate = 0;
    o.GroupPictureSize = keyInterval;
    // "preset" and "crf" are options of the x264 encoder itself; the job passes them on
    // to the codec that knows them.
    o.ExtOptions +=
        QStringLiteral("pix_fmt=yuv420p\r\npreset=%1\r\ncrf=%2\r\n").arg(preset).arg(crf);
    const qsizetype star = o.FrameSize.indexOf(u'*');
    if (star > 0) {
        const auto even = [](int v) { return std::max(2, v & ~1); };
        o.FrameSize = QString::number(even(o.FrameSize.left(star).toInt())) + u'*' +
                      QString::number(even(o.FrameSize.mid(star + 1).toInt()));
    }
    return true;
}
