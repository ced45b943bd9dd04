#pragma once

#include <cstdint>

// Adds one sound to another of the same format without clipping.
//
// Two sources recorded together (a microphone and what the computer plays) go into one
// track. Added sample by sample, loud passages of both would pass the sample range and
// clip. The mixer turns the sum down just enough where that would happen, at once, and
// back up slowly (a fiftieth a buffer) once the sum is quiet again, so nothing clips and
// quiet sound keeps its full level.
//
//     TSoundMixer mixer;
//     mixer.Mix(packet, otherSound, frames * channels, 16);
//
// Not thread-safe; one thread mixes.
class TSoundMixer {
public:
    // Adds `samples` samples of `other` to `into` (8-bit unsigned or 16-bit signed
    // little-endian, interleaved channels alike).
    void Mix(uint8_t* into, const uint8_t* other, int samples, int bits);

    // The level the last buffer was turned to (1: unchanged).
    double Gain() const { return FGain; }

private:
    double FGain = 1;
};
