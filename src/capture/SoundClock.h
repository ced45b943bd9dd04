#pragma once

#include <cstdint>

// Keeps the amount of recorded sound in step with the system clock.
//
// A sound device samples on its own clock, which runs a little fast or slow against the
// system's: tens of parts per million for good hardware, up to a percent for cheap
// devices or software ones. The pictures of a recording are timed by the system clock,
// so over a long recording the sound would end up ahead of or behind the picture. For
// every filled device buffer the clock says how many sample frames to hand on in its
// place; the difference is spread over the buffer (StretchFrames), at most 2 % of it,
// which nobody hears.
//
//     TSoundClock clock(44100);
//     const int frames = clock.Deliver(FF.av_gettime_relative(), 1024); // about 1024
//     StretchFrames(buffer, 1024, packet, frames, 2, 16);
//     ...
//     clock.Skip(); // a buffer was thrown away (paused): the next one starts afresh
//
// Not thread-safe; one thread delivers.
class TSoundClock {
public:
    explicit TSoundClock(int sampleRate);

    // A buffer of `frames` sample frames arrived at `nowUs` (microseconds, any steady
    // origin). Returns the number of frames to deliver for it, never negative.
    int Deliver(int64_t nowUs, int frames);

    // The time until the next delivery does not count: sound was thrown away (paused).
    void Skip();

    // Frames delivered so far.
    int64_t Delivered() const { return FDelivered; }

private:
    int FRate;
    bool FRunning = false;    // the last delivery's time is a usable reference
    bool FSettled = false;    // the reference is set; corrections may begin
    int64_t FLast = 0;        // time of the last delivery
    double FExpected = 0;     // frames the system clock says should have come so far
    int64_t FDelivered = 0;   // frames handed on so far
    double FCarry = 0;        // fraction of a frame of correction not yet applied
    int64_t FWindowStart = 0; // while settling: when settling ends
    double FWindowMax = 0;    // the largest lead in the current window
    double FPreviousMax = 0;  // the same for the window before it
};

// Resamples `inFrames` interleaved sample frames (`channels`, 8-bit unsigned or 16-bit
// signed little-endian) into `outFrames` frames by linear interpolation; the first and
// the last frame stay as they are. A stretch of more than 2 % or a cut of more than 2 %
// keeps the sound as it is and appends silence or takes the last `outFrames` frames.
void StretchFrames(const uint8_t* in, int inFrames, uint8_t* out, int outFrames, int channels,
                   int bits);
