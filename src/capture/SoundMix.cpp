#include "capture/SoundMix.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

constexpr double Recovery = 0.02; // per buffer

} // namespace

void TSoundMixer::Mix(uint8_t* into, const uint8_t* other, int samples, int bits) {
    if (samples <= 0)
        return;
    const int limit = bits == 8 ? 127 : 32767;
    std::vector<int> sums(size_t(samples), 0);
    int peak = 0;
    for (int i = 0; i < samples; ++i) {
        int a, b;
        if (bits == 8) {
            a = int(into[i]) - 128;
            b = int(other[i]) - 128;
        } else {
            int16_t x, y;
            std::memcpy(&x, into + 2 * i, 2);
            std::memcpy(&y, other + 2 * i, 2);
            a = x;
            b = y;
        }
        sums[size_t(i)] = a + b;
        peak = std::max(peak, std::abs(a + b));
    }
    const double needed = peak > limit ? double(limit) / peak : 1.0;
    FGain = std::min(needed, FGain + Recovery);
    for (int i = 0; i < samples; ++i) {
        const int v = std::clamp(int(std::lround(sums[size_t(i)] * FGain)), -limit - 1, limit);
        if (bits == 8) {
            into[i] = uint8_t(v + 128);
        } else {
            const auto s = int16_t(v);
            std::memcpy(into + 2 * i, &s, 2);
        }
    }
}
