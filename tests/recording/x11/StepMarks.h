#pragma once

// Marks that tell how well a recording's sound keeps in step: a window that shows the
// time on the screen as a bar code, short beeps played at known times, and the readers
// that find both again in the recorded file.

#include "RecordingMedia.h"

#include <QElapsedTimer>
#include <QPainter>
#include <QProcess>
#include <QRegularExpression>
#include <QTimer>
#include <QWidget>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

// A window over the screen's top left 160 × 120 pixels that shows the time since it was
// made in steps of 5 ms as 16 black or white bars (two rows of eight, 20 × 60 pixels
// each, bit 0 top left), repainted every few milliseconds.
class TScreenClock : public QWidget {
public:
    static constexpr int StepMs = 5;

    TScreenClock()
        : QWidget(nullptr, Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint |
                               Qt::X11BypassWindowManagerHint) {
        setGeometry(0, 0, 160, 120);
        FClock.start();
        FTimer.setTimerType(Qt::PreciseTimer);
        QObject::connect(&FTimer, &QTimer::timeout, this, [this] { repaint(); });
        FTimer.start(2);
        show();
    }
    // Seconds since the window was made, on the clock it shows.
    double Now() const { return double(FClock.nsecsElapsed()) / 1e9; }

    // The time a recorded 160 × 120 grey picture shows, in seconds.
    static double Read(const uint8_t* grey) {
        int code = 0;
        for (int bit = 0; bit < 16; ++bit) {
            const int x = (bit % 8) * 20 + 10, y = (bit / 8) * 60 + 30;
            if (grey[y * 160 + x] > 128)
                code |= 1 << bit;
        }
        return code * StepMs / 1000.0;
    }

protected:
    void paintEvent(QPaintEvent*) override {
        const int code = int(FClock.elapsed() / StepMs) & 0xFFFF;
        QPainter painter(this);
        for (int bit = 0; bit < 16; ++bit)
            painter.fillRect((bit % 8) * 20, (bit / 8) * 60, 20, 60,
                             code & (1 << bit) ? Qt::white : Qt::black);
    }

private:
    QElapsedTimer FClock;
    QTimer FTimer;
};

// Beeps of 60 ms once a second, the first `firstAt` seconds in: 440 Hz on the left
// channel and 1000 Hz on the right at the same moments, as 16-bit stereo at ToneRate.
inline QByteArray BeepTrack(double seconds, double firstAt) {
    const int frames = int(seconds * ToneRate);
    QByteArray data(frames * 4, '\0');
    auto* samples = reinterpret_cast<int16_t*>(data.data());
    const int length = ToneRate * 60 / 1000, ramp = ToneRate / 1000;
    for (int start = int(firstAt * ToneRate); start + length < frames; start += ToneRate)
        for (int i = 0; i < length; ++i) {
            const double t = double(i) / ToneRate;
            const double gain =
                8000.0 * std::min({1.0, double(i) / ramp, double(length - i) / ramp});
            samples[2 * (start + i)] = int16_t(std::lround(gain * std::sin(2 * M_PI * 440 * t)));
            samples[2 * (start + i) + 1] =
                int16_t(std::lround(gain * std::sin(2 * M_PI * 1000 * t)));
        }
    return data;
}

// Plays a 16-bit stereo track at ToneRate into the output `device` of the sound server
// with the `pacat` tool, and finds when on `clock` each moment of the track was played:
// pacat reports the stream's time (the moment of the track being played) about every
// 50 ms once the stream has started. Each report, read at some clock time, says the
// track began at most that long before; the least of these bounds over a few seconds
// is taken, as the reports come late but never early.
class TTrackPlayer {
public:
    TTrackPlayer(const TScreenClock& clock, const QString& track, const QString& device)
        : FClock(clock) {
        FPlayer.setStandardInputFile(track);
        QObject::connect(&FPlayer, &QProcess::readyReadStandardError, &FPlayer, [this] {
            const double now = FClock.Now();
            FReports += QString::fromLatin1(FPlayer.readAllStandardError());
            static const QRegularExpression report(QStringLiteral("Time: ([0-9.]+) sec"));
            qsizetype read = 0;
            for (auto it = report.globalMatch(FReports); it.hasNext();) {
                const QRegularExpressionMatch m = it.next();
                const double t = m.captured(1).toDouble();
                if (t > 0) // 0 until the stream has started
                    FStarts.push_back({t, now - t});
                read = m.capturedEnd(0);
            }
            FReports.remove(0, read);
        });
        FPlayer.start(QStringLiteral("pacat"),
                      {QStringLiteral("--verbose"), QStringLiteral("--playback"),
                       QStringLiteral("--device=") + device, QStringLiteral("--raw"),
                       QStringLiteral("--format=s16le"), QStringLiteral("--rate=44100"),
                       QStringLiteral("--channels=2"), QStringLiteral("--latency-msec=20")});
    }
    ~TTrackPlayer() {
        FPlayer.kill();
        FPlayer.waitForFinished();
    }
    bool Started() { return FPlayer.waitForStarted(); }
    // Whether pacat has reported the track's time yet.
    bool Timed() const { return !FStarts.empty(); }
    // The clock's time when the track's moment `t` (seconds) was played, from the
    // reports of the half second around it: the player may have fallen behind (the
    // machine was loaded) and played the track later since.
    double PlayedAt(double t) const {
        double start = 1e9, anywhere = 1e9;
        for (const auto& [at, began] : FStarts) {
            anywhere = std::min(anywhere, began);
            if (std::abs(at - t) <= 0.25)
                start = std::min(start, began);
        }
        return (start < 1e9 ? start : anywhere) + t;
    }

private:
    const TScreenClock& FClock;
    QProcess FPlayer;
    QString FReports;                               // the part of a report not read yet
    std::vector<std::pair<double, double>> FStarts; // track time, clock time less it
};

// The moments (in seconds from the first sample) where a beep of `hz` begins in mono
// samples: where the tone's level, measured over 10 ms windows a millisecond apart,
// first passes half the beep's level after at least half a second without it.
inline std::vector<double> BeepOnsets(const std::vector<int16_t>& samples, double hz) {
    std::vector<double> onsets;
    const size_t window = ToneRate / 100, hop = ToneRate / 1000;
    double quietSince = 0;
    bool loud = true; // nothing counts until the first quiet half second
    for (size_t from = 0; from + window <= samples.size(); from += hop) {
        const double at = double(from) / ToneRate;
        const bool now = ToneLevel(samples, from, window, hz) > 2000;
        if (now && !loud && at - quietSince >= 0.5)
            onsets.push_back(at);
        if (now)
            loud = true;
        else if (loud) {
            loud = false;
            quietSince = at;
        }
    }
    return onsets;
}

// Of every onset in `a`, its distance to the nearest onset in `b` when that is within
// `most` seconds.
inline std::vector<double> PairedDistances(const std::vector<double>& a,
                                           const std::vector<double>& b, double most) {
    std::vector<double> distances;
    for (const double t : a) {
        const auto nearest = std::min_element(b.begin(), b.end(), [t](double x, double y) {
            return std::abs(x - t) < std::abs(y - t);
        });
        if (nearest != b.end() && std::abs(*nearest - t) <= most)
            distances.push_back(*nearest - t);
    }
    return distances;
}

inline double Median(std::vector<double> values) {
    if (values.empty())
        return 0;
    std::nth_element(values.begin(), values.begin() + std::ptrdiff_t(values.size() / 2),
                     values.end());
    return values[values.size() / 2];
}

// Times that are only known up to whole seconds (a beep once a second), each moved by
// whole seconds to lie within half a second of their circular mean: a steady distance
// near half a second stays one value instead of splitting into two halves a second apart.
inline std::vector<double> AroundOneValue(const std::vector<double>& values) {
    double x = 0, y = 0;
    for (const double v : values) {
        x += std::cos(2 * M_PI * v);
        y += std::sin(2 * M_PI * v);
    }
    const double centre = std::atan2(y, x) / (2 * M_PI);
    std::vector<double> around;
    for (const double v : values)
        around.push_back(centre + (v - centre - std::round(v - centre)));
    return around;
}

// Distances in seconds, summed up: their median, how far the farthest lies from it, and
// how many lie near a value.
struct TStepFigures {
    explicit TStepFigures(std::vector<double> values) : Values(std::move(values)) {
        Median = ::Median(Values);
        for (const double v : Values)
            Worst = std::max(Worst, std::abs(v - Median));
    }
    size_t Within(double centre, double most) const {
        return size_t(std::count_if(Values.begin(), Values.end(),
                                    [&](double v) { return std::abs(v - centre) <= most; }));
    }
    std::string Text() const {
        char text[160];
        std::snprintf(text, sizeof text, "%zu beeps, median %+.1f ms, worst %.1f ms from it",
                      Values.size(), Median * 1000, Worst * 1000);
        return text;
    }
    std::vector<double> Values;
    double Median = 0, Worst = 0;
};

// One recorded picture: its time in the file and the screen clock it shows.
struct TClockPicture {
    double At, Shows;
};

// The screen clock at `at` seconds into the file: the pictures of the second before and
// after it say how far the clock runs ahead of the file's time (their median, as a
// picture may have been taken a little after its time).
inline double ClockAt(const std::vector<TClockPicture>& pictures, double at) {
    std::vector<double> ahead;
    for (const TClockPicture& p : pictures)
        if (std::abs(p.At - at) <= 1)
            ahead.push_back(p.Shows - p.At);
    return at + Median(ahead);
}

// The pictures of a recording split where the clock they show jumps ahead of the file's
// time by more than `gap` seconds: the stretches between the pauses of the recording.
inline std::vector<std::vector<TClockPicture>>
SplitAtPauses(const std::vector<TClockPicture>& pictures, double gap = 0.3) {
    std::vector<std::vector<TClockPicture>> stretches;
    for (size_t i = 0; i < pictures.size(); ++i) {
        const bool jump = i > 0 && (pictures[i].Shows - pictures[i].At) -
                                           (pictures[i - 1].Shows - pictures[i - 1].At) >
                                       gap;
        if (stretches.empty() || jump)
            stretches.emplace_back();
        stretches.back().push_back(pictures[i]);
    }
    return stretches;
}

// The pictures of a recording of the screen clock (the file's first picture stream,
// 160 × 120), each with its time in the file and the time it shows.
inline std::vector<TClockPicture> ReadClockPictures(const QString& file) {
    const QStringList times =
        Probe(file, "frame=pts_time", "v:0").split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    QProcess decode;
    decode.start(QStringLiteral("ffmpeg"),
                 {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-i"), file,
                  QStringLiteral("-map"), QStringLiteral("0:v:0"), QStringLiteral("-fps_mode"),
                  QStringLiteral("passthrough"), QStringLiteral("-pix_fmt"), QStringLiteral("gray"),
                  QStringLiteral("-f"), QStringLiteral("rawvideo"), QStringLiteral("-")});
    decode.waitForFinished(60000);
    const QByteArray raw = decode.readAllStandardOutput();
    std::vector<TClockPicture> pictures;
    const int size = 160 * 120;
    for (int i = 0; i < times.size() && (i + 1) * size <= raw.size(); ++i)
        pictures.push_back(
            {times[i].toDouble(), TScreenClock::Read(reinterpret_cast<const uint8_t*>(
                                      raw.constData() + std::ptrdiff_t(i) * size))});
    return pictures;
}
