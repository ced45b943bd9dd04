#include "RecordingMedia.h"
#include "media/FFEncode.h"
#include "recording/RecordingSession.h"
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

    // Records about `ms` milliseconds into `name` and returns the file's path.
    QString Record(const QString& name, int ms) {
        const QString file = Box.File(name);
        TFFEncoder encoder;
        std::atomic<bool> paused{false};
        THandleRegistration<std::atomic<bool>> pauseHandle(&paused);
        TRecordingRequest request;
        request.Area = QRect(40, 30, 160, 120);
        request.FrameSize = QStringLiteral("160*120");
        request.FileName = file;
        QString error;
        EXPECT_TRUE(PrepareRecording(encoder, request, pauseHandle.Handle(), &error))
            << error.toStdString();
        bool ended = false;
        QString failure;
        encoder.SetOnTerminate([&](QObject*, const TTerminateInfo& t) {
            if (t.Exception)
                failure = t.ExceptionMsg;
            ended = ended || t.TaskIndex < 0;
        });
        encoder.Start(1);
        PumpEvents(ms);
        encoder.Stop(true);
        EXPECT_TRUE(PumpUntil([&] { return ended; }, 10000));
        EXPECT_EQ(failure, QString());
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
        const auto toned = std::count_if(offsets.begin(), offsets.end(),
                                         [median](double o) { return std::abs(o - median) < 0.12; });
        EXPECT_GE(toned, 9) << "of " << offsets.size() << " windows"; // of about 12
    }
}

} // namespace
