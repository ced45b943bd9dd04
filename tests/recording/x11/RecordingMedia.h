#pragma once

// Sound in and media checks for the recording tests: SDL's disk driver records a
// rising tone from a file the test writes, and recorded files are examined with the
// ffprobe and ffmpeg tools.

#include <QByteArray>
#include <QFile>
#include <QProcess>
#include <QString>
#include <QStringList>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

// The tone's frequency rises steadily with its time t in the file: Hz = ToneStartHz +
// ToneRiseHz × t, so the frequency heard at a moment of a recording tells which part
// of the file the device was reading then.
inline constexpr double ToneStartHz = 300;
inline constexpr double ToneRiseHz = 200; // per second
inline constexpr int ToneRate = 44100;

// Sets environment variables of this process and gives each back its earlier value (or
// its absence) when it goes.
class TScopedEnvironment {
public:
    TScopedEnvironment() = default;
    TScopedEnvironment(const TScopedEnvironment&) = delete;
    TScopedEnvironment& operator=(const TScopedEnvironment&) = delete;
    ~TScopedEnvironment() {
        for (auto it = FSaved.rbegin(); it != FSaved.rend(); ++it) {
            if (it->Had)
                qputenv(it->Name.constData(), it->Value);
            else
                qunsetenv(it->Name.constData());
        }
    }
    void Set(const QByteArray& name, const QByteArray& value) {
        FSaved.push_back(
            {name, qgetenv(name.constData()), qEnvironmentVariableIsSet(name.constData())});
        qputenv(name.constData(), value);
    }

private:
    struct TSaved {
        QByteArray Name, Value;
        bool Had;
    };
    std::vector<TSaved> FSaved;
};

// While it lives, SDL's recording device is the disk driver reading `seconds` of the
// tone (16-bit stereo at 44100 Hz, the format the sound source asks for) from a file
// at `path`; SDL paces the reading at about the real rate. Sound output goes to a file
// beside it.
class TDiskSoundDevice {
public:
    TDiskSoundDevice(const QString& path, double seconds) {
        QFile file(path);
        FWritten = file.open(QIODevice::WriteOnly);
        const int frames = int(seconds * ToneRate);
        QByteArray data(frames * 4, Qt::Uninitialized);
        auto* samples = reinterpret_cast<int16_t*>(data.data());
        for (int i = 0; i < frames; ++i) {
            const double t = double(i) / ToneRate;
            const double phase = 2 * M_PI * (ToneStartHz * t + ToneRiseHz / 2 * t * t);
            samples[2 * i] = samples[2 * i + 1] = int16_t(std::lround(12000 * std::sin(phase)));
        }
        FWritten = FWritten && file.write(data) == data.size();
        file.close();
        FEnvironment.Set("SDL_AUDIODRIVER", "disk");
        FEnvironment.Set("SDL_DISKAUDIOFILEIN", path.toLocal8Bit());
        FEnvironment.Set("SDL_DISKAUDIOFILE", (path + QStringLiteral(".played")).toLocal8Bit());
    }
    TDiskSoundDevice(const TDiskSoundDevice&) = delete;
    TDiskSoundDevice& operator=(const TDiskSoundDevice&) = delete;
    bool Written() const { return FWritten; }

private:
    bool FWritten = false;
    TScopedEnvironment FEnvironment;
};

// ffprobe's answer for `entries` (for example "stream=codec_name"), one csv line per
// stream; `stream` selects streams ("v:0", "a:0") when not empty. Frames are counted.
inline QString Probe(const QString& file, const char* entries, const char* stream = "") {
    QStringList args{QStringLiteral("-v"), QStringLiteral("error"),
                     QStringLiteral("-count_frames")};
    if (*stream)
        args << QStringLiteral("-select_streams") << QString::fromLatin1(stream);
    args << QStringLiteral("-show_entries") << QString::fromLatin1(entries) << QStringLiteral("-of")
         << QStringLiteral("csv=p=0") << file;
    QProcess probe;
    probe.start(QStringLiteral("ffprobe"), args);
    probe.waitForFinished(30000);
    return QString::fromUtf8(probe.readAllStandardOutput()).trimmed();
}

// What the ffmpeg tool reports when it decodes the whole file: empty when every stream
// decodes to its end without an error.
inline QString DecodingErrors(const QString& file) {
    QProcess decode;
    decode.start(QStringLiteral("ffmpeg"),
                 {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-i"), file,
                  QStringLiteral("-f"), QStringLiteral("null"), QStringLiteral("-")});
    if (!decode.waitForFinished(30000))
        return QStringLiteral("the decoder did not finish");
    const QString errors = QString::fromLocal8Bit(decode.readAllStandardError());
    return decode.exitCode() != 0 ? QStringLiteral("exit code %1: ").arg(decode.exitCode()) + errors
                                  : errors;
}

// The file's first sound stream decoded by the ffmpeg tool into 16-bit samples at 44100
// Hz, mono or `channels` channels interleaved, from the stream's first sample.
inline std::vector<int16_t> DecodeSound(const QString& file, int channels = 1) {
    QProcess decode;
    decode.start(QStringLiteral("ffmpeg"),
                 {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-i"), file,
                  QStringLiteral("-map"), QStringLiteral("0:a:0"), QStringLiteral("-ac"),
                  QString::number(channels), QStringLiteral("-ar"), QString::number(ToneRate),
                  QStringLiteral("-f"), QStringLiteral("s16le"), QStringLiteral("-")});
    decode.waitForFinished(30000);
    const QByteArray raw = decode.readAllStandardOutput();
    std::vector<int16_t> samples(size_t(raw.size()) / 2);
    std::memcpy(samples.data(), raw.constData(), samples.size() * 2);
    return samples;
}

// The amplitude of the `hz` component of the `n` samples from `from` (Goertzel's
// algorithm): about the tone's peak sample value when it is there, near 0 when not.
inline double ToneLevel(const std::vector<int16_t>& samples, size_t from, size_t n, double hz) {
    const double coefficient = 2 * std::cos(2 * M_PI * hz / ToneRate);
    double s1 = 0, s2 = 0;
    for (size_t i = from; i < from + n && i < samples.size(); ++i) {
        const double s0 = samples[i] + coefficient * s1 - s2;
        s2 = s1;
        s1 = s0;
    }
    const double power = s1 * s1 + s2 * s2 - coefficient * s1 * s2;
    return 2 * std::sqrt(std::max(0.0, power)) / double(n);
}

// One stretch of a recording's sound: where it lies in the recording and which time of
// the tone file it holds (negative when it holds no tone).
struct TToneWindow {
    double At;   // seconds into the recording (the window's middle)
    double Tone; // seconds into the tone file
};

// Cuts the samples into windows of `seconds` and reads the tone's time in each from the
// frequency its zero crossings give.
inline std::vector<TToneWindow> ToneTimes(const std::vector<int16_t>& samples,
                                          double seconds = 0.1) {
    std::vector<TToneWindow> windows;
    const size_t n = size_t(seconds * ToneRate);
    for (size_t start = 0; start + n <= samples.size(); start += n) {
        double energy = 0;
        int crossings = 0;
        for (size_t i = start; i < start + n; ++i) {
            energy += double(samples[i]) * samples[i];
            if (i > start && (samples[i - 1] < 0) != (samples[i] < 0))
                ++crossings;
        }
        const bool loud = std::sqrt(energy / double(n)) > 2000; // the tone's RMS is 8500
        const double hz = crossings / 2.0 / seconds;
        windows.push_back(
            {(double(start) + n / 2.0) / ToneRate, loud ? (hz - ToneStartHz) / ToneRiseHz : -1});
    }
    return windows;
}
