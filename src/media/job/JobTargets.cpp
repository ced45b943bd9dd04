// Target presets of the option language ("vcd", "pal-dvd", ...): the codecs, sizes,
// rates and mux settings a disc format asks for, through the same options a user gives.

#include "media/job/JobState.h"

#include "media/FFLog.h"

#include <cmath>

namespace {

enum TNorm { PAL, NTSC, FILM, UNKNOWN };

// One target being applied: its norm's rate and group of pictures.
struct TTarget {
    TJob& Job;
    bool Pal;
    QString Rate, Gop;
    void Set(const char* name, const QString& value) const {
        Job.SetExtOption(QLatin1String(name), value);
    }
};

// The norm of the video inputs, from their frame rate.
TNorm GuessNorm(const TJob& job) {
    for (const auto& ist : job.FInputStreams) {
        if (ist->st->codecpar->codec_type != AVMEDIA_TYPE_VIDEO)
            continue;
        const AVRational r =
            ist->st->avg_frame_rate.num ? ist->st->avg_frame_rate : ist->st->r_frame_rate;
        if (!r.den)
            continue;
        const int fr = int(lrint(av_q2d(r) * 1000));
        if (fr == 25000)
            return PAL;
        if (fr == 29970 || fr == 23976)
            return NTSC;
    }
    return UNKNOWN;
}

// Mono sound becomes stereo: the disc formats take two channels.
void Stereo(TJob& job) {
    bool mono = job.FAudioChannels == 1;
    if (job.FAudioChannels == 0)
        for (const auto& ist : job.FInputStreams)
            if (ist->st->codecpar->codec_type == AVMEDIA_TYPE_AUDIO &&
                ist->st->codecpar->ch_layout.nb_channels == 1)
                mono = true;
    if (mono)
        job.FAudioChannels = 2;
}

void Vcd(const TTarget& t) {
    TJob& job = t.Job;
    t.Set("vcodec", QStringLiteral("mpeg1video"));
    t.Set("acodec", QStringLiteral("mp2"));
    t.Set("f", QStringLiteral("vcd"));
    t.Set("s", t.Pal ? QStringLiteral("352x288") : QStringLiteral("352x240"));
    t.Set("r", t.Rate);
    t.Set("g", t.Gop);
    t.Set("b", QStringLiteral("1150000"));
    t.Set("maxrate", QStringLiteral("1150000"));
    t.Set("minrate", QStringLiteral("1150000"));
    t.Set("bufsize", QStringLiteral("327680"));
    t.Set("ab", QStringLiteral("224000"));
    job.FAudioSampleRate = 44100;
    job.FAudioChannels = 2;
    t.Set("packetsize", QStringLiteral("2324"));
    t.Set("muxrate", QStringLiteral("1411200"));
    job.FMuxPreload = 0.44f;
    if (job.FFrameAspectRatio == 0) {
        job.FFrameAspectRatio = 4.0 / 3.0;
        FFLogger().Log(nullptr, llInfo, "Assuming 4:3 for aspect ratio");
    }
}

void Svcd(const TTarget& t) {
    TJob& job = t.Job;
    t.Set("vcodec", QStringLiteral("mpeg2video"));
    t.Set("acodec", QStringLiteral("mp2"));
    t.Set("f", QStringLiteral("svcd"));
    t.Set("s", t.Pal ? QStringLiteral("480x576") : QStringLiteral("480x480"));
    t.Set("r", t.Rate);
    t.Set("pix_fmt", QStringLiteral("yuv420p"));
    t.Set("g", t.Gop);
    t.Set("b", QStringLiteral("2040000"));
    t.Set("maxrate", QStringLiteral("2516000"));
    t.Set("minrate", QStringLiteral("0"));
    t.Set("bufsize", QStringLiteral("1835008"));
    job.SetGenericOption(QStringLiteral("scan_offset"), QStringLiteral("1"));
    t.Set("ab", QStringLiteral("224000"));
    job.FAudioSampleRate = 44100;
    Stereo(job);
    t.Set("packetsize", QStringLiteral("2324"));
    if (job.FFrameAspectRatio == 0) {
        job.FFrameAspectRatio = 4.0 / 3.0;
        FFLogger().Log(nullptr, llInfo, "Assuming 4:3 for aspect ratio");
    }
}

void Dvd(const TTarget& t) {
    TJob& job = t.Job;
    t.Set("vcodec", QStringLiteral("mpeg2video"));
    t.Set("acodec", QStringLiteral("ac3"));
    t.Set("f", QStringLiteral("dvd"));
    t.Set("s", t.Pal ? QStringLiteral("720x576") : QStringLiteral("720x480"));
    t.Set("r", t.Rate);
    t.Set("pix_fmt", QStringLiteral("yuv420p"));
    t.Set("g", t.Gop);
    t.Set("b", QStringLiteral("6000000"));
    t.Set("maxrate", QStringLiteral("9000000"));
    t.Set("minrate", QStringLiteral("0"));
    t.Set("bufsize", QStringLiteral("1835008"));
    t.Set("packetsize", QStringLiteral("2048"));
    t.Set("muxrate", QStringLiteral("10080000"));
    t.Set("ab", QStringLiteral("448000"));
    job.FAudioSampleRate = 48000;
    Stereo(job);
    if (job.FFrameAspectRatio == 0) {
        job.FFrameAspectRatio = 16.0 / 9.0;
        FFLogger().Log(nullptr, llInfo, "Assuming 16:9 for aspect ratio");
    }
}

void Dv(const TTarget& t, bool dv50) {
    TJob& job = t.Job;
    t.Set("f", QStringLiteral("dv"));
    t.Set("s", t.Pal ? QStringLiteral("720x576") : QStringLiteral("720x480"));
    t.Set("pix_fmt", dv50    ? QStringLiteral("yuv422p")
                     : t.Pal ? QStringLiteral("yuv420p")
                             : QStringLiteral("yuv411p"));
    t.Set("r", t.Rate);
    job.FAudioSampleRate = 48000;
    job.FAudioChannels = 2;
}

} // namespace

void TJob::ApplyTarget(const QString& value, const QString& defaultNorm) {
    TNorm norm = UNKNOWN;
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
        norm = GuessNorm(*this);
        if (norm == UNKNOWN) {
            norm = defaultNorm.compare(QLatin1String("pal"), Qt::CaseInsensitive) == 0 ? PAL : NTSC;
            if (FOwner.Verbose > 0)
                FFLogger().Log(nullptr, llInfo, "Assuming %s for target.",
                               norm == PAL ? "PAL" : "NTSC");
        }
    }
    const bool pal = norm == PAL;
    const TTarget t{*this, pal,
                    pal            ? QStringLiteral("25")
                    : norm == FILM ? QStringLiteral("24000/1001")
                                   : QStringLiteral("30000/1001"),
                    pal ? QStringLiteral("15") : QStringLiteral("18")};
    if (target == QLatin1String("vcd"))
        Vcd(t);
    else if (target == QLatin1String("svcd"))
        Svcd(t);
    else if (target == QLatin1String("dvd"))
        Dvd(t);
    else if (target == QLatin1String("dv") || target == QLatin1String("dv50"))
        Dv(t, target == QLatin1String("dv50"));
    else
        throw FFmpegException(QStringLiteral("Unknown target type"));
}
