// The times a job gives the sound and pictures it writes, checked on the files with
// ffprobe: sound from a song whose timestamps jitter, and sound encoders that start
// before zero.
#include "EncodeTestSupport.h"

#include <QProcess>

namespace {

class OutputTimesTest : public TEncoderTest {
protected:
    // A lyrics-video-like task: pictures at `rate` per second for the length of the
    // song `song`, written to `file` with the program's codecs for its extension.
    // Runs it to its end; false (with a failure) when it did not end well.
    bool PicturesAndSong(const QString& song, int seconds, int rate, const QString& file) {
        TInputOptions in = LavfiInput();
        const int task = Encoder.AddTask(TestPicture(seconds, rate), &in);
        if (task < 0 || !Encoder.AddInputFile(task, song)) {
            ADD_FAILURE() << Encoder.LastErrMsg().toStdString();
            return false;
        }
        TOutputOptions out;
        InitOutputOptions(&out);
        SetCodecsForExtension(out, file);
        out.FrameRate = QString::number(rate);
        out.AudioSampleRate = 44100;
        out.AudioChannels = 2;
        if (!Encoder.SetOutputFile(task, file, &out)) {
            ADD_FAILURE() << Encoder.LastErrMsg().toStdString();
            return false;
        }
        Terminates.Connect(Encoder);
        Encoder.Start(1);
        if (!PumpUntil([&] { return Terminates.ListEnded(); }, 120000)) {
            ADD_FAILURE() << "the job did not end";
            return false;
        }
        const TTerminateInfo& end = Terminates.Events.front();
        EXPECT_FALSE(end.Exception) << end.ExceptionMsg.toStdString();
        return !end.Exception;
    }
};

// The packet times (seconds) of the file's first stream of `type` ("v" or "a"), in
// file order; `entry` is "pts" or "dts".
std::vector<double> PacketTimes(const QString& file, const char* type, const char* entry = "pts") {
    QProcess probe;
    probe.start(QStringLiteral("ffprobe"),
                {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-select_streams"),
                 QString::fromLatin1(type) + QStringLiteral(":0"), QStringLiteral("-show_entries"),
                 QStringLiteral("packet=") + QLatin1String(entry) + QStringLiteral("_time"),
                 QStringLiteral("-of"), QStringLiteral("csv=p=0"), file});
    std::vector<double> times;
    if (!probe.waitForFinished(60000))
        return times;
    // A packet with side data ends its line with a comma; side data lines are empty.
    for (const QByteArray& line : probe.readAllStandardOutput().split('\n'))
        if (!line.trimmed().isEmpty())
            times.push_back(line.split(',').first().trimmed().toDouble());
    return times;
}

// How many sound samples per channel the file decodes to (by the ffmpeg tool).
int64_t DecodedSamples(const QString& file, int rate) {
    QProcess decode;
    decode.start(QStringLiteral("ffmpeg"),
                 {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-i"), file,
                  QStringLiteral("-map"), QStringLiteral("0:a:0"), QStringLiteral("-ac"),
                  QStringLiteral("1"), QStringLiteral("-ar"), QString::number(rate),
                  QStringLiteral("-f"), QStringLiteral("s16le"), QStringLiteral("-")});
    if (!decode.waitForFinished(120000))
        return -1;
    return decode.readAllStandardOutput().size() / 2;
}

// A song written by the ffmpeg tool as Ogg Vorbis, with clicks four times a second as
// music has them: around each click the encoder switches to short blocks, and the
// decoded frames' timestamps then jump back and forth by hundreds of samples against
// their sample counts.
QStringList MakeSongs(const TSandbox& sandbox, int seconds) {
    const QString ogg = sandbox.File(QStringLiteral("song%1.ogg").arg(seconds));
    EXPECT_TRUE(MakeFixture({QStringLiteral("-f"), QStringLiteral("lavfi"), QStringLiteral("-i"),
                             QStringLiteral("aevalsrc='if(lt(mod(t,0.25),0.01),sin(2*PI*3000*t),"
                                            "0.01*sin(2*PI*200*t))':s=44100:d=%1")
                                 .arg(seconds),
                             QStringLiteral("-ac"), QStringLiteral("2"), QStringLiteral("-c:a"),
                             QStringLiteral("libvorbis"), ogg}));
    // A song whose timestamps run one per cent slow against its samples, as a file
    // written by a drifting recorder has them.
    const QString slow = sandbox.File(QStringLiteral("slow%1.mka").arg(seconds));
    EXPECT_TRUE(MakeFixture({QStringLiteral("-f"), QStringLiteral("lavfi"), QStringLiteral("-i"),
                             TestSound(seconds), QStringLiteral("-af"),
                             QStringLiteral("asetnsamples=n=1024,asetpts=PTS*0.99"),
                             QStringLiteral("-ac"), QStringLiteral("2"), QStringLiteral("-c:a"),
                             QStringLiteral("pcm_s16le"), slow}));
    return {ogg, slow};
}

} // namespace

TEST_F(OutputTimesTest, SongsMakeAvisWhoseSoundTimesOnlyGoForward) {
    for (const QString& song : MakeSongs(Sandbox, 20)) {
        SCOPED_TRACE(song.toStdString());
        const QString file = song + QStringLiteral(".avi");
        Encoder.ClearTasks();
        Terminates.Events.clear();
        ASSERT_TRUE(PicturesAndSong(song, 20, 2, file));

        const std::vector<double> dts = PacketTimes(file, "a", "dts");
        ASSERT_GT(dts.size(), 100u);
        for (size_t i = 1; i < dts.size(); ++i)
            ASSERT_GT(dts[i], dts[i - 1]) << "packet " << i;
        const TProbe probe = ProbeFile(file);
        ASSERT_TRUE(probe.Ok);
        ASSERT_TRUE(probe.First(QStringLiteral("video")));
        EXPECT_EQ(probe.First(QStringLiteral("video"))->Frames, 40);
        // The whole song is there (MP3 adds its own lead-in and pads its last frame).
        EXPECT_NEAR(double(DecodedSamples(file, 44100)) / 44100, 20.0, 0.1);
    }
}

TEST_F(OutputTimesTest, SongsKeepTheirWholeLengthInAnMp4) {
    // One minute: sound lost to a song's jitter grows with its length.
    for (const QString& song : MakeSongs(Sandbox, 60)) {
        SCOPED_TRACE(song.toStdString());
        const QString file = song + QStringLiteral(".mp4");
        Encoder.ClearTasks();
        Terminates.Events.clear();
        ASSERT_TRUE(PicturesAndSong(song, 60, 2, file));

        const std::vector<double> pts = PacketTimes(file, "a");
        ASSERT_GT(pts.size(), 1000u);
        for (size_t i = 1; i < pts.size(); ++i)
            ASSERT_GT(pts[i], pts[i - 1]) << "packet " << i;
        // Every sample of the song, the last frame padded to at most one AAC frame.
        const int64_t samples = DecodedSamples(file, 44100);
        EXPECT_GE(samples, 60 * 44100 - 64);
        EXPECT_LE(samples, 60 * 44100 + 1024);
        // Packet times follow the samples: the last packet starts within a frame of the
        // end.
        EXPECT_NEAR(pts.back(), 60.0 - 1024.0 / 44100, 1024.0 / 44100 + 0.001);
    }
}

TEST_F(OutputTimesTest, AviPicturesKeepTheTimesOfTheMp4sWhateverTheSoundEncoder) {
    const QString song = Sandbox.File(QStringLiteral("song.wav"));
    ASSERT_TRUE(MakeFixture(
        {QStringLiteral("-f"), QStringLiteral("lavfi"), QStringLiteral("-i"), TestSound(5), song}));
    const QString avi = Sandbox.File(QStringLiteral("pictures.avi"));
    const QString mp4 = Sandbox.File(QStringLiteral("pictures.mp4"));
    ASSERT_TRUE(PicturesAndSong(song, 5, 2, avi));
    Encoder.ClearTasks();
    Terminates.Events.clear();
    ASSERT_TRUE(PicturesAndSong(song, 5, 2, mp4));

    const std::vector<double> aviTimes = PacketTimes(avi, "v");
    const std::vector<double> mp4Times = PacketTimes(mp4, "v");
    const std::vector<double> wanted{0, 0.5, 1, 1.5, 2, 2.5, 3, 3.5, 4, 4.5};
    EXPECT_EQ(aviTimes, wanted);
    EXPECT_EQ(mp4Times, wanted);
    // The MP3 sound of the AVI starts at zero with the pictures.
    const std::vector<double> sound = PacketTimes(avi, "a");
    ASSERT_FALSE(sound.empty());
    EXPECT_EQ(sound.front(), 0.0);
}
