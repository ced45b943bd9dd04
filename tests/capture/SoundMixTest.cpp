#include "capture/SoundMix.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

namespace {

std::vector<int16_t> Sine(int n, double amplitude, double cycles) {
    std::vector<int16_t> s(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i)
        s[size_t(i)] = int16_t(std::lround(amplitude * std::sin(2 * M_PI * cycles * i / n)));
    return s;
}

void Mix(TSoundMixer& mixer, std::vector<int16_t>& into, const std::vector<int16_t>& other) {
    mixer.Mix(reinterpret_cast<uint8_t*>(into.data()),
              reinterpret_cast<const uint8_t*>(other.data()), int(into.size()), 16);
}

// Quiet sound adds up sample by sample, unchanged.
TEST(SoundMixTest, QuietSoundAddsUpExactly) {
    TSoundMixer mixer;
    std::vector<int16_t> a = Sine(2048, 9000, 5), b = Sine(2048, 7000, 13);
    const std::vector<int16_t> first = a;
    Mix(mixer, a, b);
    for (size_t i = 0; i < a.size(); ++i)
        ASSERT_EQ(a[i], first[i] + b[i]) << i;
    EXPECT_EQ(mixer.Gain(), 1.0);
}

// Two loud sounds: the sum is turned down as a whole, so no sample is cut off at the
// range's end and the shape of the sum stays; quiet sound afterwards comes back to its
// full level step by step, never above what it can take.
TEST(SoundMixTest, LoudSoundIsTurnedDownInsteadOfClipped) {
    TSoundMixer mixer;
    std::vector<int16_t> a = Sine(2048, 30000, 4), b = Sine(2048, 30000, 4);
    Mix(mixer, a, b);
    EXPECT_NEAR(mixer.Gain(), 32767.0 / 60000, 0.001);
    int top = 0;
    for (size_t i = 0; i < a.size(); ++i) {
        EXPECT_NEAR(a[i], 60000 * mixer.Gain() * std::sin(2 * M_PI * 4 * double(i) / 2048), 1.5);
        top = std::max(top, std::abs(int(a[i])));
    }
    EXPECT_GE(top, 32760);

    double last = mixer.Gain();
    for (int buffer = 0; buffer < 40; ++buffer) {
        std::vector<int16_t> c = Sine(2048, 8000, 3), d = Sine(2048, 8000, 7);
        Mix(mixer, c, d);
        EXPECT_GE(mixer.Gain(), last);
        EXPECT_LE(mixer.Gain() - last, 0.021);
        last = mixer.Gain();
    }
    EXPECT_EQ(last, 1.0);
}

// 8-bit sound is mixed around its middle value 128.
TEST(SoundMixTest, EightBitSoundMixesAroundItsMiddle) {
    TSoundMixer mixer;
    std::vector<uint8_t> a{128, 148, 108, 0}, b{128, 138, 118, 0};
    mixer.Mix(a.data(), b.data(), 4, 8);
    // The lowest sum is 256 below the middle: everything is turned down to 127/256.
    EXPECT_EQ(a, (std::vector<uint8_t>{128, 143, 113, 1}));
}

} // namespace
