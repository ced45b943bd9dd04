#pragma once

#include "MediaTestSupport.h"

#include "media/FFEncode.h"
#include "media/FFmpeg.h"
#include "support/Sandbox.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>

// What ffprobe finds in a produced file.
struct TProbedStream {
    QString CodecType, CodecName;
    int Width = 0, Height = 0, SampleRate = 0, Channels = 0;
    double FrameRate = 0; // r_frame_rate
    double Duration = 0;  // seconds
    int Frames = 0;       // decoded frames (video) or packets (audio)
    int64_t BitRate = 0;  // bit/s, as the stream states it
};

struct TProbe {
    bool Ok = false;
    QString FormatName;
    double Duration = 0;
    std::vector<TProbedStream> Streams;
    const TProbedStream* First(const QString& type) const {
        for (const TProbedStream& s : Streams)
            if (s.CodecType == type)
                return &s;
        return nullptr;
    }
    int Count(const QString& type) const {
        int n = 0;
        for (const TProbedStream& s : Streams)
            n += s.CodecType == type;
        return n;
    }
};

// Decodes the whole file with ffprobe (counting the frames of every stream).
inline TProbe ProbeFile(const QString& path) {
    QProcess process;
    process.start(QStringLiteral("ffprobe"),
                  {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-count_frames"),
                   QStringLiteral("-show_streams"), QStringLiteral("-show_format"),
                   QStringLiteral("-of"), QStringLiteral("json"), path});
    TProbe probe;
    if (!process.waitForFinished(60000) || process.exitCode() != 0)
        return probe;
    const QJsonObject root = QJsonDocument::fromJson(process.readAllStandardOutput()).object();
    probe.Ok = true;
    probe.FormatName = root[QStringLiteral("format")][QStringLiteral("format_name")].toString();
    probe.Duration =
        root[QStringLiteral("format")][QStringLiteral("duration")].toString().toDouble();
    for (const QJsonValue& value : root[QStringLiteral("streams")].toArray()) {
        const QJsonObject s = value.toObject();
        TProbedStream stream;
        stream.CodecType = s[QStringLiteral("codec_type")].toString();
        stream.CodecName = s[QStringLiteral("codec_name")].toString();
        stream.Width = s[QStringLiteral("width")].toInt();
        stream.Height = s[QStringLiteral("height")].toInt();
        stream.SampleRate = s[QStringLiteral("sample_rate")].toString().toInt();
        stream.Channels = s[QStringLiteral("channels")].toInt();
        const QStringList rate = s[QStringLiteral("r_frame_rate")].toString().split(u'/');
        if (rate.size() == 2 && rate[1].toDouble() != 0)
            stream.FrameRate = rate[0].toDouble() / rate[1].toDouble();
        stream.Duration = s[QStringLiteral("duration")].toString().toDouble();
        stream.Frames = s[QStringLiteral("nb_read_frames")].toString().toInt();
        stream.BitRate = s[QStringLiteral("bit_rate")].toString().toLongLong();
        probe.Streams.push_back(stream);
    }
    return probe;
}

// The decoded stream `map` ("0:a", "0:v") of a file as raw bytes, decoded by the ffmpeg
// tool: sound as 16-bit samples, pictures in their own pixel format.
inline QByteArray DecodedStream(const QString& path, const QString& map) {
    QProcess process;
    process.start(QStringLiteral("ffmpeg"),
                  {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-i"), path,
                   QStringLiteral("-map"), map, QStringLiteral("-f"),
                   map.endsWith(u'a') ? QStringLiteral("s16le") : QStringLiteral("rawvideo"),
                   QStringLiteral("-")});
    process.waitForFinished(60000);
    return process.readAllStandardOutput();
}

// lavfi sources made at test time.
inline QString TestPicture(int seconds, int rate = 25,
                           const QString& size = QStringLiteral("320x240")) {
    return QStringLiteral("testsrc2=size=%1:rate=%2:duration=%3").arg(size).arg(rate).arg(seconds);
}
inline QString TestSound(int seconds, int rate = 44100) {
    return QStringLiteral("sine=frequency=440:sample_rate=%1:duration=%2").arg(rate).arg(seconds);
}

inline TInputOptions LavfiInput() {
    TInputOptions options;
    InitInputOptions(&options);
    options.ForceFormat = QStringLiteral("lavfi");
    return options;
}

// Collects an encoder's terminate events, in order (main thread).
struct TTerminateLog {
    std::vector<TTerminateInfo> Events;
    std::vector<bool> OnMainThread;
    void Connect(TCustomEncoder& encoder) {
        encoder.SetOnTerminate([this](QObject*, const TTerminateInfo& info) {
            Events.push_back(info);
            OnMainThread.push_back(IsMainThread());
        });
    }
    bool ListEnded() const { return !Events.empty() && Events.back().TaskIndex == -1; }
};

// The codec names of an output's streams of one type, in order.
inline QStringList OutputCodecs(TCustomFFmpeg& job, int output, AVMediaType type) {
    QStringList names;
    AVFormatContext* oc = job.OutputContext(output);
    for (unsigned i = 0; oc && i < oc->nb_streams; ++i)
        if (oc->streams[i]->codecpar->codec_type == type)
            names << QString::fromUtf8(FF.avcodec_get_name(oc->streams[i]->codecpar->codec_id));
    return names;
}

// The first video frame of a file as RGB24 bytes (decoded by the ffmpeg tool).
inline QByteArray FirstFrameRGB(const QString& path) {
    QProcess process;
    process.start(QStringLiteral("ffmpeg"),
                  {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-i"), path,
                   QStringLiteral("-frames:v"), QStringLiteral("1"), QStringLiteral("-f"),
                   QStringLiteral("rawvideo"), QStringLiteral("-pix_fmt"), QStringLiteral("rgb24"),
                   QStringLiteral("-")});
    process.waitForFinished(60000);
    return process.readAllStandardOutput();
}

// Makes a media file with the ffmpeg tool (a fixture made at test time).
inline bool MakeFixture(const QStringList& args) {
    QProcess process;
    process.start(QStringLiteral("ffmpeg"),
                  QStringList{QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-y")} +
                      args);
    return process.waitForFinished(120000) && process.exitCode() == 0;
}

// A test with an encoder whose terminate events are collected; whatever still runs is
// stopped at the end.
class TEncoderTest : public TMediaTest {
protected:
    TSandbox Sandbox;
    TFFEncoder Encoder;
    TTerminateLog Terminates;

    void TearDown() override {
        Encoder.Stop(true);
        PumpUntil([&] { return !Encoder.Working() || Encoder.Terminated(); }, 20000);
        Encoder.ClearTasks();
        TMediaTest::TearDown();
    }
};
