#include "capture/SoundClock.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

// Past this much a difference is made up at once (silence, or sound left out) instead of
// over minutes of stretching: the device lost sound, or delivered a burst of old sound.
constexpr double JumpSeconds = 0.3;
// Differences below this are left alone: no device keeps closer time than its buffers.
constexpr double QuietSeconds = 0.003;
// A difference is worked off over about this long, within the stretch limit.
constexpr double WorkOffSeconds = 1.0;
constexpr double MaxStretch = 0.02;
// A buffer can only arrive late, never early, so the least late arrivals of the last
// one to two of these periods tell where the device stands.
constexpr int64_t WindowUs = 1000000;
// How long after a start the arrivals are only watched: a device often hands over what
// it had buffered in a burst at first, and the least late arrival of this time becomes
// the reference.
constexpr int64_t SettleUs = 2000000;

} // namespace

TSoundClock::TSoundClock(int sampleRate) : FRate(std::max(1, sampleRate)) {}

void TSoundClock::Skip() {
    FRunning = false;
}

int TSoundClock::Deliver(int64_t nowUs, int frames) {
    frames = std::max(0, frames);
    if (!FRunning) {
        // The first buffer (or the first after a pause) sets the reference: its sound was
        // recorded just before it arrived, like that of every later buffer.
        FRunning = true;
        FSettled = false;
        FLast = nowUs;
        FWindowStart = nowUs + SettleUs;
        FExpected = double(FDelivered + frames);
        FWindowMax = FPreviousMax = 0;
        FCarry = 0;
        FDelivered += frames;
        return frames;
    }
    FExpected += double(nowUs - FLast) * FRate / 1e6;
    FLast = nowUs;
    double ahead = double(FDelivered + frames) - FExpected;
    if (!FSettled) {
        FWindowMax = std::max(FWindowMax, ahead);
        if (nowUs < FWindowStart) {
            FDelivered += frames;
            return frames;
        }
        FSettled = true;
        FExpected += FWindowMax;
        ahead -= FWindowMax;
        FWindowMax = ahead;
        FWindowStart = nowUs;
    } else if (nowUs - FWindowStart >= WindowUs) {
        FPreviousMax = FWindowMax;
        FWindowMax = ahead;
        FWindowStart = nowUs;
    } else {
        FWindowMax = std::max(FWindowMax, ahead);
    }
    // How far the sound is ahead of the clock (negative: behind), in frames.
    const double lead = std::max(FWindowMax, FPreviousMax);

    int correction = 0;
    if (std::fabs(lead) > JumpSeconds * FRate) {
        // At most ten seconds of silence in one packet; the rest follows with the next.
        correction = int(std::clamp(-lead, double(-frames), 10.0 * FRate));
        FCarry = 0;
    } else if (std::fabs(lead) > QuietSeconds * FRate) {
        const double limit = MaxStretch * frames;
        FCarry += std::clamp(-lead * frames / (WorkOffSeconds * FRate), -limit, limit);
        correction = int(FCarry);
        FCarry -= correction;
    }
    // Every later arrival sees the corrected count, and so must what was measured so far.
    FWindowMax += correction;
    FPreviousMax += correction;
    FDelivered += frames + correction;
    return frames + correction;
}

void StretchFrames(const uint8_t* in, int inFrames, uint8_t* out, int outFrames, int channels,
                   int bits) {
    const int bytes = bits == 8 ? 1 : 2;
    const size_t frameBytes = size_t(channels) * bytes;
    const int silence = bits == 8 ? 0x80 : 0; // unsigned 8-bit sound is silent at 128
    if (outFrames <= 0)
        return;
    if (inFrames <= 0) {
        std::memset(out, silence, size_t(outFrames) * frameBytes);
        return;
    }
    if (outFrames == inFrames) {
        std::memcpy(out, in, size_t(inFrames) * frameBytes);
        return;
    }
    if (outFrames > inFrames * (1 + MaxStretch) + 1) {
        std::memcpy(out, in, size_t(inFrames) * frameBytes);
        std::memset(out + size_t(inFrames) * frameBytes, silence,
                    size_t(outFrames - inFrames) * frameBytes);
        return;
    }
    if (outFrames < inFrames * (1 - MaxStretch) - 1) {
        std::memcpy(out, in + size_t(inFrames - outFrames) * frameBytes,
                    size_t(outFrames) * frameBytes);
        return;
    }
    auto sample = [&](int frame, int channel) -> int {
        const uint8_t* p = in + size_t(frame) * frameBytes + size_t(channel) * bytes;
        return bits == 8 ? int(p[0]) : int(int16_t(uint16_t(p[0] | (p[1] << 8))));
    };
    const double step = outFrames > 1 ? double(inFrames - 1) / (outFrames - 1) : 0;
    for (int j = 0; j < outFrames; ++j) {
        const double position = j * step;
        const int i = std::min(int(position), inFrames - 1);
        const int next = std::min(i + 1, inFrames - 1);
        const double t = position - i;
        for (int c = 0; c < channels; ++c) {
            const int v = int(std::lround(sample(i, c) * (1 - t) + sample(next, c) * t));
            uint8_t* q = out + size_t(j) * frameBytes + size_t(c) * bytes;
            if (bits == 8) {
                q[0] = uint8_t(v);
            } else {
                q[0] = uint8_t(v & 0xff);
                q[1] = uint8_t((v >> 8) & 0xff);
            }
        }
    }
}
