#include "RecordingMedia.h"
#include "RecordingRun.h"
#include "media/FFEncode.h"
#include "recording/RecordingSession.h"
#include "support/BrowserPlayback.h"
#include "support/Sandbox.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>

namespace {

// Short recordings of a rectangle with sound, set up as the toolbar and vexmira-cli set
// them up, in each of the four formats.
class RecordingFormatsTest : public ::testing::Test {
protected:
    TSandbox Box;
    TDiskSoundDevice Device{Box.File(QStringLiteral("tone.raw")), 20};

    // Records about `ms` milliseconds of a 160 × 120 rectangle (or `size`) into `name`
    // and returns the file's path.
    QString Record(const QString& name, int ms, bool h264 = false, QSize size = {160, 120}) {
        const QString file = Box.File(name);
        TRecordingRequest request;
        request.Area = QRect(QPoint(40, 30), size);
        request.FrameSize = QStringLiteral("%1*%2").arg(size.width()).arg(size.height());
        request.FileName = file;
        request.H264 = h264;
        RunRecording(
            request, [ms](TFFEncoder&, std::atomic<bool>&) { PumpEvents(ms); }, 10000);
        return file;
    }
};

// Each format holds the preset's two codecs, decodes to its end without an error, and
// carries the pictures at the asked size and the device's sound.
TEST_F(RecordingFormatsTest, EachFormatDecodesWithThePresetsCodecs) {
    ASSERT_TRUE(Device.Written());
    const struct {
        const char* Name;
        const char* Streams;
    } formats[] = {
        {"clip.mp4", "mpeg4,video\naac,audio"},
        {"clip.wmv", "wmv2,video\nwmav2,audio"},
        {"clip.avi", "mpeg4,video\nmp3,audio"},
        {"clip.mov", "mpeg4,video\naac,audio"},
    };
    for (const auto& format : formats) {
        SCOPED_TRACE(format.Name);
        const QString file = Record(QString::fromLatin1(format.Name), 1200);
        EXPECT_EQ(Probe(file, "stream=codec_name,codec_type"), QString::fromLatin1(format.Streams));
        EXPECT_EQ(Probe(file, "stream=width,height", "v:0"), QStringLiteral("160,120"));

        EXPECT_EQ(DecodingErrors(file), QString());

        const int pictures = Probe(file, "stream=nb_read_frames", "v:0").toInt();
        EXPECT_GE(pictures, 12); // 15 a second for about 1.2 s
        EXPECT_LE(pictures, 22);
        // The sound is the tone, in one piece: its time runs on with the recording's.
        std::vector<double> offsets;
        for (const TToneWindow& w : ToneTimes(DecodeSound(file)))
            if (w.Tone >= 0)
                offsets.push_back(w.Tone - w.At);
        ASSERT_FALSE(offsets.empty()) << "no tone in the sound";
        std::vector<double> sorted = offsets;
        std::nth_element(sorted.begin(), sorted.begin() + sorted.size() / 2, sorted.end());
        const double median = sorted[sorted.size() / 2];
        const auto toned = std::count_if(offsets.begin(), offsets.end(), [median](double o) {
            return std::abs(o - median) < 0.12;
        });
        EXPECT_GE(toned, 9) << "of " << offsets.size() << " windows"; // of about 12
    }
}

// The H.264 entry: H.264 pictures in 4:2:0 with AAC sound, which a web browser plays
// (it shows no picture of the MPEG-4 ones). An odd-sized rectangle gives an even-sized
// picture, as 4:2:0 needs.
TEST_F(RecordingFormatsTest, H264RecordingPlaysInABrowser) {
    ASSERT_TRUE(Device.Written());
    const QString file = Record(QStringLiteral("clip-h264.mp4"), 2000, true, QSize(161, 121));
    EXPECT_EQ(Probe(file, "stream=codec_name,codec_type"), QStringLiteral("h264,video\naac,audio"));
    EXPECT_EQ(Probe(file, "stream=width,height,pix_fmt", "v:0"), QStringLiteral("160,120,yuv420p"));
    EXPECT_EQ(DecodingErrors(file), QString());
    const int pictures = Probe(file, "stream=nb_read_frames", "v:0").toInt();
    EXPECT_GE(pictures, 24); // 15 a second for about 2 s
    EXPECT_LE(pictures, 36);
    const std::vector<TToneWindow> sound = ToneTimes(DecodeSound(file));
    EXPECT_GE(
        std::count_if(sound.begin(), sound.end(), [](const TToneWindow& w) { return w.Tone >= 0; }),
        12)
        << "of " << sound.size() << " windows"; // of about 20

    const TBrowserPlayback played = PlayInBrowser(file);
    EXPECT_EQ(played.Error, QString());
    EXPECT_EQ(played.Width, 160);
    EXPECT_EQ(played.Height, 120);
    EXPECT_NEAR(played.Duration, 2.0, 0.7);
    EXPECT_GE(played.Lit, 0.0) << "the browser drew no picture";
}

} // namespace
