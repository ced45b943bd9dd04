#include "EncodeTestSupport.h"

namespace {

class JobOptionsTest : public TMediaTest {
protected:
    TSandbox Sandbox;
    TLogCapture Log;

    // A job with a lavfi picture and a lavfi sound as its inputs.
    static void OpenPictureAndSound(TCustomFFmpeg& job, int seconds = 1) {
        job.SetExtOption(QStringLiteral("f"), QStringLiteral("lavfi"));
        ASSERT_TRUE(job.OpenInput(TestPicture(seconds))) << job.LastErrMsg().toStdString();
        job.SetExtOption(QStringLiteral("f"), QStringLiteral("lavfi"));
        ASSERT_TRUE(job.OpenInput(TestSound(seconds))) << job.LastErrMsg().toStdString();
    }
    // A task of the encoder with the same two inputs.
    static int AddPictureAndSound(TCustomEncoder& encoder) {
        TInputOptions in = LavfiInput();
        const int task = encoder.AddTask(TestPicture(1), &in);
        EXPECT_GE(task, 0) << encoder.LastErrMsg().toStdString();
        TInputOptions sound = LavfiInput();
        EXPECT_TRUE(encoder.AddInputFile(task, TestSound(1), &sound));
        return task;
    }
    // An output record with mpeg4 video and the format's audio codec.
    static TOutputOptions Mpeg4Output() {
        TOutputOptions out;
        InitOutputOptions(&out);
        out.VideoCodec = QStringLiteral("mpeg4");
        return out;
    }
    static QString Thrown(const std::function<void()>& call) {
        try {
            call();
        } catch (const FFmpegException& error) {
            return error.Message();
        }
        return QStringLiteral("(nothing thrown)");
    }
    int Warnings(const QString& text) const {
        int n = 0;
        const QStringList lines = Log.Lines();
        const std::vector<TLogLevel> levels = Log.Levels();
        for (int i = 0; i < lines.size(); ++i)
            n += lines[i] == text && levels[size_t(i)] == llWarning;
        return n;
    }
};

const QString LowBitRate = QStringLiteral(
    "WARNING: The bitrate parameter is set too low. It takes bits/s as argument, not kbits/s");

} // namespace

TEST_F(JobOptionsTest, DisablingVideoTakesABooleanValue) {
    const struct {
        const char* Value;
        int VideoStreams;
    } cases[] = {{"0", 1}, {"1", 0}, {"", 0}, {"yes", 0}};
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Value);
        TFFmpeg job(nullptr, 20);
        OpenPictureAndSound(job);
        job.SetExtOption(QStringLiteral("vcodec"), QStringLiteral("mpeg4"));
        job.SetExtOption(QStringLiteral("vn"), QLatin1String(c.Value));
        ASSERT_GE(job.OpenOutput(Sandbox.File(QStringLiteral("vn%1.mp4").arg(n++)), false), 1)
            << job.LastErrMsg().toStdString();
        EXPECT_EQ(OutputCodecs(job, 0, AVMEDIA_TYPE_VIDEO).size(), c.VideoStreams);
        EXPECT_EQ(OutputCodecs(job, 0, AVMEDIA_TYPE_AUDIO).size(), 1);
    }
}

TEST_F(JobOptionsTest, AnAudioBitRateInKilobitsIsAcceptedWithAWarning) {
    TFFmpeg job(nullptr, 20);
    job.SetExtOption(QStringLiteral("ab"), QStringLiteral("128"));
    EXPECT_EQ(Warnings(LowBitRate), 1);
    job.SetExtOption(QStringLiteral("ab"), QStringLiteral("128000"));
    job.SetExtOption(QStringLiteral("vb"), QStringLiteral("800000"));
    EXPECT_EQ(Warnings(LowBitRate), 1); // bits per second: no more warnings
    job.SetExtOption(QStringLiteral("b"), QStringLiteral("800"));
    EXPECT_EQ(Warnings(LowBitRate), 2);
    EXPECT_EQ(Thrown([&] { job.SetExtOption(QStringLiteral("ab"), QStringLiteral("much")); }),
              QStringLiteral("Invalid value \"much\" for option \"ab\""));
}

TEST_F(JobOptionsTest, AspectRatiosAsFractionOrNumber) {
    TFFmpeg job(nullptr, 20);
    job.SetExtOption(QStringLiteral("aspect"), QStringLiteral("16:9"));
    EXPECT_DOUBLE_EQ(job.FrameAspectRatio(), 16.0 / 9.0);
    job.SetExtOption(QStringLiteral("aspect"), QStringLiteral("1.5"));
    EXPECT_DOUBLE_EQ(job.FrameAspectRatio(), 1.5);
    for (const char* bad : {"4:0", "4:", "0", "wide"})
        EXPECT_EQ(Thrown([&] { job.SetExtOption(QStringLiteral("aspect"), QLatin1String(bad)); }),
                  QStringLiteral("Incorrect aspect ratio specification."))
            << bad;

    // The ratio reaches the written stream: 320x240 shown as 16:9.
    TFFmpeg run(nullptr, 20);
    run.SetExtOption(QStringLiteral("f"), QStringLiteral("lavfi"));
    ASSERT_TRUE(run.OpenInput(TestPicture(1)));
    run.SetExtOption(QStringLiteral("vcodec"), QStringLiteral("mpeg4"));
    run.SetExtOption(QStringLiteral("aspect"), QStringLiteral("16:9"));
    const QString file = Sandbox.File(QStringLiteral("aspect.mp4"));
    ASSERT_GE(run.OpenOutput(file, false), 1);
    run.StartConvert(false);
    ASSERT_TRUE(run.Finished()) << run.FatalMessage().toStdString();
    QProcess probe;
    probe.start(QStringLiteral("ffprobe"),
                {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-show_entries"),
                 QStringLiteral("stream=display_aspect_ratio"), QStringLiteral("-of"),
                 QStringLiteral("csv=p=0"), file});
    probe.waitForFinished(30000);
    EXPECT_EQ(probe.readAllStandardOutput().trimmed(), QByteArray("16:9"));
}

TEST_F(JobOptionsTest, UnknownAndRejectedOptionsFailTheOutputOnlyWhenHalting) {
    TFFEncoder encoder;
    const int task = AddPictureAndSound(encoder);
    TOutputOptions out = Mpeg4Output();
    out.ExtOptions = QStringLiteral("nosuchoption=5");
    EXPECT_FALSE(encoder.SetOutputFile(task, Sandbox.File(QStringLiteral("a.mp4")), &out));
    EXPECT_EQ(encoder.LastErrMsg(), QStringLiteral("Unrecognized option \"nosuchoption\""));
    out.ExtOptions = QStringLiteral("g=abc");
    EXPECT_FALSE(encoder.SetOutputFile(task, Sandbox.File(QStringLiteral("a.mp4")), &out));
    EXPECT_EQ(encoder.LastErrMsg(), QStringLiteral("Invalid value \"abc\" for option \"g\""));
    EXPECT_EQ(encoder.Task(task)->nb_output_files(), 0);

    encoder.HaltOnInvalidOption = false;
    out.ExtOptions = QStringLiteral("nosuchoption=5\r\ng=abc");
    EXPECT_TRUE(encoder.SetOutputFile(task, Sandbox.File(QStringLiteral("a.mp4")), &out))
        << encoder.LastErrMsg().toStdString();
    EXPECT_EQ(LastOptionError(), QStringLiteral("Invalid value \"abc\" for option \"g\""));
    // the table's own checks still raise
    out.ExtOptions = QStringLiteral("aspect=4:0");
    EXPECT_FALSE(encoder.SetOutputFile(task, Sandbox.File(QStringLiteral("b.mp4")), &out));
    EXPECT_EQ(encoder.LastErrMsg(), QStringLiteral("Incorrect aspect ratio specification."));
    encoder.ClearTasks();
}

TEST_F(JobOptionsTest, AnExperimentalEncoderNeedsTheStrictnessOption) {
    TFFEncoder encoder;
    const int task = AddPictureAndSound(encoder);
    TOutputOptions out = Mpeg4Output();
    out.AudioCodec = QStringLiteral("vorbis"); // FFmpeg's own vorbis encoder is experimental
    EXPECT_FALSE(encoder.SetOutputFile(task, Sandbox.File(QStringLiteral("v.mkv")), &out));
    EXPECT_EQ(encoder.LastErrMsg(),
              QStringLiteral("new_audio_stream fail: encoder 'vorbis' is experimental and might "
                             "produce bad results.\r\nAdd '-strict experimental' if you want to "
                             "use it.\r\nOr use the non experimental encoder 'libvorbis'."));
    out.ExtOptions = QStringLiteral("astrict=experimental");
    ASSERT_TRUE(encoder.SetOutputFile(task, Sandbox.File(QStringLiteral("v.mkv")), &out))
        << encoder.LastErrMsg().toStdString();
    EXPECT_EQ(OutputCodecs(*encoder.Task(task), 0, AVMEDIA_TYPE_AUDIO),
              QStringList{QStringLiteral("vorbis")});

    // FFmpeg 5.1's aac encoder is no longer experimental: the recording presets'
    // "astrict=experimental" is harmless, and aac is accepted without it too.
    TFFmpeg job(nullptr, 20);
    OpenPictureAndSound(job);
    job.SetExtOption(QStringLiteral("acodec"), QStringLiteral("aac"));
    ASSERT_GE(job.OpenOutput(Sandbox.File(QStringLiteral("aac.mp4")), false), 1)
        << job.LastErrMsg().toStdString();
    EXPECT_EQ(OutputCodecs(job, 0, AVMEDIA_TYPE_AUDIO), QStringList{QStringLiteral("aac")});

    // unknown names and names of the wrong kind
    TFFmpeg other(nullptr, 20);
    OpenPictureAndSound(other);
    other.SetExtOption(QStringLiteral("acodec"), QStringLiteral("nosuchcodec"));
    EXPECT_LT(other.OpenOutput(Sandbox.File(QStringLiteral("x.mkv")), false), 0);
    EXPECT_EQ(other.LastErrMsg(),
              QStringLiteral("new_audio_stream fail: Unknown encoder 'nosuchcodec'"));
    other.SetExtOption(QStringLiteral("acodec"), QStringLiteral("mpeg4"));
    EXPECT_LT(other.OpenOutput(Sandbox.File(QStringLiteral("x.mkv")), false), 0);
    EXPECT_EQ(other.LastErrMsg(),
              QStringLiteral("new_audio_stream fail: Invalid encoder type 'mpeg4'"));
    encoder.ClearTasks();
}

TEST_F(JobOptionsTest, ThePalDvdTargetMakesADvdStream) {
    TFFmpeg job(nullptr, 20);
    OpenPictureAndSound(job);
    job.SetExtOption(QStringLiteral("target"), QStringLiteral("pal-dvd"));
    const QString file = Sandbox.File(QStringLiteral("dvd.mpg"));
    ASSERT_GE(job.OpenOutput(file, false), 1) << job.LastErrMsg().toStdString();
    EXPECT_EQ(QString::fromUtf8(job.OutputContext(0)->oformat->name), QStringLiteral("dvd"));
    job.StartConvert(false);
    ASSERT_TRUE(job.Finished()) << job.FatalMessage().toStdString();
    const TProbe probe = ProbeFile(file);
    ASSERT_TRUE(probe.Ok);
    const TProbedStream* video = probe.First(QStringLiteral("video"));
    const TProbedStream* audio = probe.First(QStringLiteral("audio"));
    ASSERT_TRUE(video && audio);
    EXPECT_EQ(video->CodecName, QStringLiteral("mpeg2video"));
    EXPECT_EQ(video->Width, 720);
    EXPECT_EQ(video->Height, 576);
    EXPECT_NEAR(video->FrameRate, 25.0, 0.01);
    EXPECT_EQ(audio->CodecName, QStringLiteral("ac3"));
    EXPECT_EQ(audio->SampleRate, 48000);
    EXPECT_EQ(audio->Channels, 2);
    EXPECT_EQ(audio->BitRate, 448000);

    TFFmpeg bad(nullptr, 20);
    EXPECT_EQ(
        Thrown([&] { bad.SetExtOption(QStringLiteral("target"), QStringLiteral("pal-vhs")); }),
        QStringLiteral("Unknown target type"));
}

TEST_F(JobOptionsTest, AddedStreamsTakeTheQueuedCodecsInTurn) {
    TFFEncoder encoder;
    const int task = AddPictureAndSound(encoder);
    TOutputOptions out;
    InitOutputOptions(&out);
    out.ExtOptions = QStringLiteral("acodec=mp2\r\nnewaudio=\r\nacodec=ac3\r\nnewaudio=\r\n"
                                    "vcodec=mpeg4\r\nnewvideo=\r\nvcodec=mjpeg\r\ns=160x120\r\n"
                                    "newvideo=");
    out.FrameSize = QStringLiteral("320x240");
    const QString file = Sandbox.File(QStringLiteral("streams.mkv"));
    ASSERT_TRUE(encoder.SetOutputFile(task, file, &out)) << encoder.LastErrMsg().toStdString();
    TFFmpeg& job = *encoder.Task(task);
    EXPECT_EQ(OutputCodecs(job, 0, AVMEDIA_TYPE_AUDIO),
              (QStringList{QStringLiteral("mp2"), QStringLiteral("mp2"), QStringLiteral("ac3")}));
    EXPECT_EQ(
        OutputCodecs(job, 0, AVMEDIA_TYPE_VIDEO),
        (QStringList{QStringLiteral("mpeg4"), QStringLiteral("mpeg4"), QStringLiteral("mjpeg")}));
    TTerminateLog terminates;
    terminates.Connect(encoder);
    encoder.Start(1);
    ASSERT_TRUE(PumpUntil([&] { return terminates.ListEnded(); }, 60000));
    EXPECT_TRUE(terminates.Events[0].Finished)
        << terminates.Events[0].ExceptionMsg.toStdString() << "\n"
        << Log.Lines().join(u'\n').toStdString();
    const TProbe probe = ProbeFile(file);
    ASSERT_TRUE(probe.Ok);
    ASSERT_EQ(probe.Count(QStringLiteral("video")), 3);
    ASSERT_EQ(probe.Count(QStringLiteral("audio")), 3);
    std::vector<const TProbedStream*> videos;
    for (const TProbedStream& s : probe.Streams)
        if (s.CodecType == QLatin1String("video"))
            videos.push_back(&s);
    // The record's size is the default; the one queued size goes with the first added
    // video stream (the earliest one asking), the second falls back to the default.
    EXPECT_EQ(videos[0]->Width, 320);
    EXPECT_EQ(videos[1]->Width, 160);
    EXPECT_EQ(videos[2]->Width, 320);
    EXPECT_EQ(videos[2]->CodecName, QStringLiteral("mjpeg"));
    for (const TProbedStream& s : probe.Streams)
        EXPECT_GT(s.Frames, 0) << s.CodecName.toStdString();
    encoder.ClearTasks();
}

TEST_F(JobOptionsTest, PresetFilesSelectCodecsAndSetOptions) {
    const QString preset =
        Sandbox.Write(QStringLiteral("good.ffpreset"),
                      "# a comment\n\nvcodec=mpeg4\r\nACODEC=mp2\ng=12\nab=96000\n");
    {
        TFFmpeg job(nullptr, 20);
        OpenPictureAndSound(job);
        job.SetExtOption(QStringLiteral("fpre"), preset);
        ASSERT_GE(job.OpenOutput(Sandbox.File(QStringLiteral("p.mkv")), false), 1)
            << job.LastErrMsg().toStdString();
        EXPECT_EQ(OutputCodecs(job, 0, AVMEDIA_TYPE_VIDEO), QStringList{QStringLiteral("mpeg4")});
        EXPECT_EQ(OutputCodecs(job, 0, AVMEDIA_TYPE_AUDIO), QStringList{QStringLiteral("mp2")});
    }
    TFFmpeg job(nullptr, 20);
    const QString missing = Sandbox.File(QStringLiteral("missing.ffpreset"));
    EXPECT_EQ(Thrown([&] { job.SetExtOption(QStringLiteral("vpre"), missing); }),
              QStringLiteral("Preset file \"%1\" not found").arg(missing));
    const QString syntax = Sandbox.Write(QStringLiteral("syntax.ffpreset"), "g=12\nnovalue\n");
    EXPECT_EQ(Thrown([&] { job.SetExtOption(QStringLiteral("apre"), syntax); }),
              QStringLiteral("%1: Invalid syntax: \"novalue\"").arg(syntax));
    const QString empty = Sandbox.Write(QStringLiteral("empty.ffpreset"), "g=\n");
    EXPECT_EQ(Thrown([&] { job.SetExtOption(QStringLiteral("fpre"), empty); }),
              QStringLiteral("%1: Invalid syntax: \"g=\"").arg(empty));
    const QString unknown = Sandbox.Write(QStringLiteral("unknown.ffpreset"), "nosuch=1\n");
    EXPECT_EQ(Thrown([&] { job.SetExtOption(QStringLiteral("fpre"), unknown); }),
              QStringLiteral("Unrecognized option \"nosuch\"\r\n%1: Invalid option or argument: "
                             "\"nosuch=1\", parsed as \"nosuch\" = \"1\"")
                  .arg(unknown));
    job.HaltOnInvalidOption = false;
    EXPECT_EQ(Thrown([&] { job.SetExtOption(QStringLiteral("fpre"), unknown); }),
              QStringLiteral("(nothing thrown)"));

    // the record's FilePreset goes the same way
    TFFEncoder encoder;
    const int task = AddPictureAndSound(encoder);
    TOutputOptions out;
    InitOutputOptions(&out);
    out.FilePreset = preset;
    ASSERT_TRUE(encoder.SetOutputFile(task, Sandbox.File(QStringLiteral("e.mkv")), &out))
        << encoder.LastErrMsg().toStdString();
    EXPECT_EQ(OutputCodecs(*encoder.Task(task), 0, AVMEDIA_TYPE_AUDIO),
              QStringList{QStringLiteral("mp2")});
    encoder.ClearTasks();
}

TEST_F(JobOptionsTest, PrivateOptionsOfCodecsAndFormatsComeBeforeTheGenericOnes) {
    if (!FF.avcodec_find_encoder_by_name("libx264"))
        GTEST_SKIP() << "this FFmpeg has no libx264";
    TFFEncoder encoder;
    const int task = AddPictureAndSound(encoder);
    TOutputOptions out = Mpeg4Output();
    out.VideoCodec = QStringLiteral("libx264");
    out.DisableAudio = true;
    // "main" is no value of the generic "profile"; libx264's own option takes it (its
    // default would be High), and "preset" exists only there.
    out.ExtOptions = QStringLiteral("profile=main\r\npreset=veryfast");
    const QString file = Sandbox.File(QStringLiteral("main.mp4"));
    ASSERT_TRUE(encoder.SetOutputFile(task, file, &out)) << encoder.LastErrMsg().toStdString();
    TTerminateLog terminates;
    terminates.Connect(encoder);
    encoder.Start(1);
    ASSERT_TRUE(PumpUntil([&] { return terminates.ListEnded(); }, 60000));
    EXPECT_FALSE(terminates.Events.front().Exception)
        << terminates.Events.front().ExceptionMsg.toStdString();
    QProcess probe;
    probe.start(QStringLiteral("ffprobe"),
                {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-select_streams"),
                 QStringLiteral("v:0"), QStringLiteral("-show_entries"),
                 QStringLiteral("stream=codec_name,profile"), QStringLiteral("-of"),
                 QStringLiteral("csv=p=0"), file});
    ASSERT_TRUE(probe.waitForFinished(30000));
    EXPECT_EQ(QString::fromUtf8(probe.readAllStandardOutput()).trimmed(),
              QStringLiteral("h264,Main"));
    encoder.ClearTasks();

    // A generic option keeps its checks: a bad value is still refused.
    TFFEncoder other;
    const int second = AddPictureAndSound(other);
    out = Mpeg4Output();
    out.ExtOptions = QStringLiteral("bufsize=lots");
    EXPECT_FALSE(other.SetOutputFile(second, Sandbox.File(QStringLiteral("b.mp4")), &out));
    EXPECT_EQ(other.LastErrMsg(), QStringLiteral("Invalid value \"lots\" for option \"bufsize\""));
    other.ClearTasks();
}

TEST_F(JobOptionsTest, RateControlOverridesThatMemoryCannotHoldFailTheOutput) {
    TFFmpeg job(nullptr, 20);
    job.SetExtOption(QStringLiteral("f"), QStringLiteral("lavfi"));
    ASSERT_TRUE(job.OpenInput(TestPicture(1))) << job.LastErrMsg().toStdString();
    job.SetExtOption(QStringLiteral("vcodec"), QStringLiteral("mpeg4"));
    // 200000 groups need about 3 MB in one piece; no single allocation may exceed 1 MB.
    QStringList groups;
    for (int i = 0; i < 200000; ++i)
        groups << QStringLiteral("%1,%1,5").arg(i);
    job.SetExtOption(QStringLiteral("rc_override"), groups.join(u'/'));
    struct TAllocLimit {
        TAllocLimit() { FF.av_max_alloc(1 << 20); }
        ~TAllocLimit() { FF.av_max_alloc(INT_MAX); }
    };
    int result;
    {
        TAllocLimit limit;
        result = job.OpenOutput(Sandbox.File(QStringLiteral("override.mp4")), false);
    }
    EXPECT_EQ(result, -1);
    EXPECT_EQ(job.LastErrMsg(), QStringLiteral("new_video_stream fail: av_mallocz fail"));
    EXPECT_EQ(job.nb_output_files(), 0);

    // The same overrides fit once memory allows them.
    job.SetExtOption(QStringLiteral("vcodec"), QStringLiteral("mpeg4"));
    job.SetExtOption(QStringLiteral("rc_override"), QStringLiteral("0,10,5/11,20,-50"));
    EXPECT_EQ(job.OpenOutput(Sandbox.File(QStringLiteral("override.mp4")), false), 1)
        << job.LastErrMsg().toStdString();
}
