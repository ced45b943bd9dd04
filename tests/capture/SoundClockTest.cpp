#include "capture/SoundClock.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

namespace {

constexpr int Rate = 44100;
constexpr int Buffer = 1024;

// A simulated device: buffers of 1024 frames whose sound runs `speed` times as fast as
// the system clock, each arriving up to `jitterUs` late. Returns how far the delivered
// sound is from the system clock's time at the end, in seconds (positive: too much).
struct TRun {
    TSoundClock Clock{Rate};
    int64_t Now = 0;       // µs, the system clock
    double DeviceTime = 0; // s of sound the device has recorded
    int64_t DeviceFrames = 0;
    std::mt19937 Random{7};
    int LargestStep = 0; // the largest change to one buffer

    void Run(double seconds, double speed, int jitterUs) {
        std::uniform_int_distribution<int> late(0, std::max(0, jitterUs));
        const double end = DeviceTime + seconds * speed;
        while (DeviceTime < end) {
            DeviceFrames += Buffer;
            DeviceTime = double(DeviceFrames) / Rate;
            Now = int64_t(DeviceTime / speed * 1e6) + Base;
            Deliver(Now + late(Random));
        }
    }
    void Deliver(int64_t at) {
        const int frames = Clock.Deliver(at, Buffer);
        LargestStep = std::max(LargestStep, std::abs(frames - Buffer));
    }
    int64_t Base = 0; // system time that passed outside the device's recording
};

// Sound and system clock agree to within a few hundredths of a second over ten minutes
// for a device that keeps good time, one off by a percent either way, and one whose
// buffers arrive unevenly; the changes stay inside 2 % of a buffer.
TEST(SoundClock, KeepsTheSoundInStepWithTheSystemClock) {
    struct TCase {
        double Speed;
        int JitterUs;
    };
    for (const TCase c : {TCase{1.0, 0}, TCase{1.0, 15000}, TCase{0.99, 3000}, TCase{1.01, 3000},
                          TCase{1.0002, 20000}}) {
        SCOPED_TRACE(testing::Message() << "speed " << c.Speed << ", jitter " << c.JitterUs);
        TRun run;
        run.Run(600, c.Speed, c.JitterUs);
        const double systemSeconds = double(run.Now) / 1e6;
        const double delivered = double(run.Clock.Delivered()) / Rate;
        // A device off by a percent settles about 30 ms from the clock (the correction
        // works off a difference in a second); one off by 0.02 % within 3 ms.
        EXPECT_NEAR(delivered - systemSeconds, 0, std::fabs(c.Speed - 1) * 4 + 0.004);
        EXPECT_LE(run.LargestStep, int(Buffer * 0.02) + 1);
        if (c.Speed == 1.0 && c.JitterUs == 0) {
            EXPECT_EQ(run.LargestStep, 0) << "a device on time is left alone";
        }
    }
}

// The system stands still for a second and the device then hands over what it buffered
// meanwhile in a burst: nothing was lost, so nothing is added or left out.
TEST(SoundClock, ABurstAfterAStallIsNotALoss) {
    TRun run;
    run.Run(10, 1.0, 2000);
    const int64_t before = run.Clock.Delivered() - run.DeviceFrames;
    // One second of buffers, all arriving at the end of the stall.
    const int64_t stallEnd = run.Now + 1000000;
    for (int i = 0; i < Rate / Buffer; ++i) {
        run.DeviceFrames += Buffer;
        run.Deliver(stallEnd + i * 50);
    }
    run.DeviceTime = double(run.DeviceFrames) / Rate;
    run.Run(10, 1.0, 2000);
    EXPECT_NEAR(double(run.Clock.Delivered() - run.DeviceFrames - before) / Rate, 0, 0.005);
}

// The device lost a second of sound (it could not keep up): silence of that length goes
// in at once, so the sound after it stays in step with the picture.
TEST(SoundClock, LostSoundIsMadeUpWithSilence) {
    TRun run;
    run.Run(10, 1.0, 2000);
    run.Base += 1000000; // a second passes with no sound recorded
    run.Run(10, 1.0, 2000);
    const double systemSeconds = double(run.Now) / 1e6;
    EXPECT_NEAR(double(run.Clock.Delivered()) / Rate - systemSeconds, 0, 0.03);
    EXPECT_GT(run.LargestStep, Rate / 2); // made up in one go, not stretched over minutes
}

// A pause throws sound away; the time it takes is no sound missing. After it the clock
// starts afresh, as the pictures do.
TEST(SoundClock, APauseIsNotCounted) {
    TRun run;
    run.Run(5, 1.0, 2000);
    run.Clock.Skip();
    run.Base += 3000000;
    run.Run(5, 1.0, 2000);
    EXPECT_EQ(run.Clock.Delivered(), run.DeviceFrames);
}

// A device that hands over a burst of old sound right at the start (what it held before
// the first read) sets its reference by its least late buffer, and drops nothing.
TEST(SoundClock, AnEarlyBurstSetsTheReference) {
    TRun run;
    for (int i = 0; i < 20; ++i) { // half a second of sound in two milliseconds
        run.DeviceFrames += Buffer;
        run.Deliver(i * 100);
    }
    run.Base = 1900 - int64_t(double(run.DeviceFrames) / Rate * 1e6); // on time from its end
    run.DeviceTime = double(run.DeviceFrames) / Rate;
    run.Run(20, 1.0, 2000);
    EXPECT_EQ(run.Clock.Delivered(), run.DeviceFrames);
}

int16_t Sample(const std::vector<uint8_t>& data, int frame, int channel) {
    const size_t at = (size_t(frame) * 2 + size_t(channel)) * 2;
    return int16_t(uint16_t(data[at] | (data[at + 1] << 8)));
}

// Stretching keeps the first and last frames and a straight line straight; large
// changes append silence or keep the latest sound.
TEST(SoundClock, StretchFramesResamplesOrPads) {
    std::vector<uint8_t> in(100 * 4);
    for (int i = 0; i < 100; ++i)
        for (int c = 0; c < 2; ++c) {
            const int16_t v = int16_t(c == 0 ? i * 100 : -i * 100);
            in[(size_t(i) * 2 + size_t(c)) * 2] = uint8_t(v & 0xff);
            in[(size_t(i) * 2 + size_t(c)) * 2 + 1] = uint8_t((v >> 8) & 0xff);
        }
    std::vector<uint8_t> out(102 * 4);
    StretchFrames(in.data(), 100, out.data(), 101, 2, 16);
    EXPECT_EQ(Sample(out, 0, 0), 0);
    EXPECT_EQ(Sample(out, 100, 0), 9900);
    EXPECT_EQ(Sample(out, 100, 1), -9900);
    for (int j = 0; j < 101; ++j)
        EXPECT_NEAR(Sample(out, j, 0), j * 9900.0 / 100, 1) << j;

    std::vector<uint8_t> padded(200 * 4, 0xAA);
    StretchFrames(in.data(), 100, padded.data(), 200, 2, 16);
    EXPECT_EQ(Sample(padded, 99, 0), 9900);
    EXPECT_EQ(Sample(padded, 100, 0), 0);
    EXPECT_EQ(Sample(padded, 199, 1), 0);

    std::vector<uint8_t> cut(10 * 4);
    StretchFrames(in.data(), 100, cut.data(), 10, 2, 16);
    EXPECT_EQ(Sample(cut, 0, 0), 9000);
    EXPECT_EQ(Sample(cut, 9, 0), 9900);

    // 8-bit sound is unsigned: its silence is 128.
    const std::vector<uint8_t> mono{10, 20, 30};
    std::vector<uint8_t> mono8(6, 0);
    StretchFrames(mono.data(), 3, mono8.data(), 6, 1, 8);
    EXPECT_EQ(mono8[2], 30);
    EXPECT_EQ(mono8[3], 128);
}

} // namespace
