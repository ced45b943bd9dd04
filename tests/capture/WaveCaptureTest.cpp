#include "capture/WaveCapture.h"
#include "capture/CaptureTestSupport.h"
#include "capture/HandleTable.h"

#include <QFile>
#include <QTemporaryDir>

#include <atomic>
#include <thread>

namespace {

// SDL's disk driver records from a file: 16-bit stereo frames that carry their own frame
// number (left: the low 15 bits, right: the rest), so every gap, repeat or reordering
// shows.
class WaveCapture : public TCaptureTest {
protected:
    void SetUp() override {
        TCaptureTest::SetUp();
        if (HasFatalFailure())
            return;
        RegisterWaveCapture();
        ASSERT_TRUE(FDir.isValid());
        const QString path = FDir.filePath("in.raw");
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        QByteArray data(60 * 44100 * 4, Qt::Uninitialized);
        auto* samples = reinterpret_cast<int16_t*>(data.data());
        for (int i = 0; i < 60 * 44100; ++i) {
            samples[2 * i] = int16_t(i & 0x7FFF);
            samples[2 * i + 1] = int16_t(i >> 15);
        }
        file.write(data);
        file.close();
        qputenv("SDL_AUDIODRIVER", "disk");
        qputenv("SDL_DISKAUDIOFILEIN", path.toLocal8Bit());
        qputenv("SDL_DISKAUDIOFILE", FDir.filePath("out.raw").toLocal8Bit());
    }
    int OpenWave(const QString& options) { return Open(WaveCaptureName, options); }
    // Reads until a packet comes (EAGAIN means "again"); the packet's size or the error.
    int ReadPacket() {
        int ret;
        while ((ret = Read()) == AVERROR(EAGAIN)) {
        }
        return ret < 0 ? ret : Pkt()->size;
    }
    // The number recorded in frame `i` of the current packet.
    int Frame(int i) const {
        const auto* samples = reinterpret_cast<const int16_t*>(Pkt()->data);
        return samples[2 * i] | samples[2 * i + 1] << 15;
    }
    QTemporaryDir FDir;
};

} // namespace

TEST_F(WaveCapture, RecordsStereoAt44100InOrderAndInRealTime) {
    ASSERT_EQ(OpenWave("r=44100;c=2;f=16"), 0);
    EXPECT_TRUE(Logged("waveIn device opened."));
    EXPECT_TRUE(Logged("ready for recording..."));
    EXPECT_EQ(Par()->codec_type, AVMEDIA_TYPE_AUDIO);
    EXPECT_EQ(Par()->codec_id, AV_CODEC_ID_PCM_S16LE);
    EXPECT_EQ(Par()->format, AV_SAMPLE_FMT_S16);
    EXPECT_EQ(Par()->sample_rate, 44100);
    EXPECT_EQ(Par()->ch_layout.nb_channels, 2);
    EXPECT_EQ(Par()->block_align, 4);
    EXPECT_EQ(Par()->bit_rate, 44100 * 2 * 16);
    EXPECT_EQ(Par()->frame_size, 4096);
    EXPECT_EQ(FIc->streams[0]->time_base.den, 1000000);

    ASSERT_EQ(ReadPacket(), 4096);
    QElapsedTimer clock;
    clock.start();
    int expected = Frame(1023) + 1;
    int64_t bytes = 0;
    // For its first two seconds the source only watches the device's pace, so every
    // frame comes through as recorded (later a few may be resampled to keep time).
    while (clock.elapsed() < 1500) {
        ASSERT_EQ(ReadPacket(), 4096);
        bytes += 4096;
        for (int i = 0; i < 1024; ++i)
            ASSERT_EQ(Frame(i), expected++) << "frame " << i << " after " << bytes << " bytes";
    }
    // Sound arrives at the device's pace: 44100 stereo 16-bit frames a second.
    const double rate = double(bytes) / 4 / (clock.nsecsElapsed() / 1e9);
    EXPECT_NEAR(rate, 44100.0, 44100.0 * 0.06);
}

TEST_F(WaveCapture, BadParametersFailTheOpenWithTheirMessages) {
    EXPECT_EQ(OpenWave("r=0"), AVERROR(EIO));
    EXPECT_TRUE(Logged("Bad sample rate 0"));
    EXPECT_EQ(OpenWave("c=3"), AVERROR(EIO));
    EXPECT_TRUE(Logged("Bad channels number 3"));
    EXPECT_EQ(OpenWave("f=24"), AVERROR(EIO));
    EXPECT_TRUE(Logged("Bad sample format 24"));
    EXPECT_EQ(FIc, nullptr);

    EXPECT_EQ(OpenWave("pause_pointer=987654"), AVERROR(EINVAL));
    EXPECT_TRUE(Logged("Invalid pause pointer"));
    double wrongType = 0;
    THandleRegistration<double> other(&wrongType);
    EXPECT_EQ(OpenWave("pause_pointer=" + other.Text()), AVERROR(EINVAL));

    // The disk driver has one recording device.
    EXPECT_EQ(OpenWave("i=5"), AVERROR(EIO));
    ASSERT_EQ(OpenWave("i=x"), 0); // lenient: the default device
    ASSERT_EQ(OpenWave("i=0"), 0);
    EXPECT_EQ(ReadPacket(), 4096);

    qputenv("SDL_AUDIODRIVER", "no-such-driver");
    FLog.Clear();
    EXPECT_EQ(OpenWave(""), AVERROR(EIO));
    EXPECT_FALSE(FLog.Lines().isEmpty());
}

TEST_F(WaveCapture, BuffersAreWholeSampleFrames) {
    ASSERT_EQ(OpenWave("bufsize=4095"), 0);
    for (int i = 0; i < 3; ++i)
        ASSERT_EQ(ReadPacket(), 4092);

    ASSERT_EQ(OpenWave("c=1;f=8;bufsize=1000"), 0);
    EXPECT_EQ(Par()->codec_id, AV_CODEC_ID_PCM_U8);
    EXPECT_EQ(Par()->block_align, 1);
    ASSERT_EQ(ReadPacket(), 1000);

    // Smaller than one frame: the buffers hold nothing, so no packet is ever made, and a
    // read gives up after a second.
    FFLogger().SetLogLevel(llDebug);
    ASSERT_EQ(OpenWave("bufsize=3"), 0);
    QElapsedTimer clock;
    clock.start();
    EXPECT_EQ(Read(), AVERROR(EAGAIN));
    EXPECT_GE(clock.elapsed(), 950);
    EXPECT_TRUE(Logged("wait timeout, need read again"));
    FFLogger().SetLogLevel(llInfo);
}

TEST_F(WaveCapture, NonBlockingReadsReturnAtOnce) {
    FFLogger().SetLogLevel(llDebug);
    FIc = FF.avformat_alloc_context();
    FIc->flags |= AVFMT_FLAG_NONBLOCK;
    ASSERT_EQ(OpenInput(&FIc, "", FindInputFormat(WaveCaptureName), nullptr, nullptr), 0);
    QElapsedTimer clock;
    clock.start();
    EXPECT_EQ(Read(), AVERROR(EAGAIN)); // nothing was kept from before the first read
    EXPECT_LT(clock.elapsed(), 20);
    EXPECT_TRUE(Logged("non-block, need read again"));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    // Several buffers came meanwhile; they are returned oldest first, without waiting.
    ASSERT_EQ(Read(), 4096);
    const int next = Frame(1023) + 1;
    clock.restart();
    ASSERT_EQ(Read(), 4096);
    EXPECT_LT(clock.elapsed(), 20);
    EXPECT_EQ(Frame(0), next);
    FFLogger().SetLogLevel(llInfo);
}

TEST_F(WaveCapture, WhilePausedTheSoundIsThrownAway) {
    std::atomic<bool> paused{false};
    THandleRegistration<std::atomic<bool>> handle(&paused);
    ASSERT_EQ(OpenWave("r=44100;c=2;f=16;pause_pointer=" + handle.Text()), 0);
    for (int i = 0; i < 5; ++i)
        ASSERT_EQ(ReadPacket(), 4096);
    int last = Frame(1023);
    QElapsedTimer pause;
    pause.start();
    paused = true;
    // Whatever was queued before the flag went up is still delivered.
    while (Read() != AVERROR(EAGAIN)) {
        ASSERT_EQ(Pkt()->size, 4096);
        ASSERT_EQ(Frame(0), last + 1);
        last = Frame(1023);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(Read(), AVERROR(EAGAIN)); // the device records on, but nothing is queued
    paused = false;
    const double seconds = pause.nsecsElapsed() / 1e9;
    ASSERT_EQ(ReadPacket(), 4096);
    // The sound of the pause is missing (up to the buffers that straddle its ends), and
    // no marker stands for it.
    const int skipped = Frame(0) - last - 1;
    EXPECT_GT(skipped, seconds * 44100 * 0.97 - 1024);
    EXPECT_LT(skipped, seconds * 44100 * 1.03 + 2048);
    for (int i = 1; i < 1024; ++i)
        ASSERT_EQ(Frame(i), Frame(0) + i);
}
