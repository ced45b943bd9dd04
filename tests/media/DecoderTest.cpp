#include "MediaTestSupport.h"

#include "media/FFDecode.h"
#include "media/FFErrors.h"
#include "media/InputFormats.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

namespace {

// Makes a media file with the ffmpeg tool; the arguments go between the inputs and the
// output name.
QString MakeMedia(const QTemporaryDir& dir, const QString& name, const QStringList& arguments) {
    const QString path = dir.filePath(name);
    QProcess ffmpeg;
    ffmpeg.start(QStringLiteral("ffmpeg"),
                 QStringList{"-v", "error", "-y", "-nostdin"} + arguments + QStringList{path});
    EXPECT_TRUE(ffmpeg.waitForFinished(60000));
    EXPECT_EQ(ffmpeg.exitCode(), 0) << ffmpeg.readAllStandardError().toStdString();
    return path;
}

// 1 s of 160x120 pictures at 10 per second (stream 0) and 22050 Hz mono sound (stream 1).
QStringList PictureBeforeSound() {
    return {"-f",   "lavfi", "-i",   "testsrc2=size=160x120:rate=10:duration=1",
            "-f",   "lavfi", "-i",   "sine=frequency=440:sample_rate=22050:duration=1",
            "-map", "0:v",   "-map", "1:a",
            "-c:v", "mpeg4", "-c:a", "pcm_s16le"};
}

class Decoder : public TMediaTest {
protected:
    void SetUp() override {
        TMediaTest::SetUp();
        ASSERT_TRUE(FDir.isValid());
    }
    QTemporaryDir FDir;
    TLogCapture FLog;
};

// An own format whose pictures carry no time stamps.
int UntimedReadHeader(AVFormatContext* s, const QString&, const TInputParameters&) {
    AVStream* st = NewSourceStream(s);
    if (!st)
        return seNoMemory;
    SetRawVideoParameters(st, 32, 16, AV_PIX_FMT_GRAY8, {5, 1});
    return 0;
}
int UntimedReadPacket(AVFormatContext*, AVPacket*) {
    return seEndOfFile;
}
const TOwnInputFormat UntimedFormat = {"vxuntimed",        "Untimed pictures", 0,
                                       &UntimedReadHeader, &UntimedReadPacket, nullptr};

} // namespace

TEST_F(Decoder, ASongGivesItsSoundSettingsAndTags) {
    const QString song = MakeMedia(
        FDir, "song.wav",
        {"-f", "lavfi", "-i", "sine=frequency=440:sample_rate=44100:duration=2", "-ac", "2", "-c:a",
         "pcm_s16le", "-metadata", "title=晴天", "-metadata", "artist=Someone"});
    TFFDecoder decoder;
    EXPECT_EQ(decoder.StreamCount(), -1);
    EXPECT_EQ(decoder.FileSize(), -1);
    ASSERT_TRUE(decoder.LoadFile(song)) << decoder.LastErrMsg().toStdString();
    EXPECT_EQ(decoder.FormatName(), QStringLiteral("wav"));
    EXPECT_EQ(decoder.FileSize(), QFileInfo(song).size());
    EXPECT_EQ(decoder.StreamCount(), 1);
    EXPECT_EQ(decoder.AudioStreamCount(), 1);
    EXPECT_EQ(decoder.VideoStreamCount(), 0);
    EXPECT_EQ(decoder.FirstVideoStreamIndex(), -1);
    const TAudioStreamInfo info = decoder.AudioStreamInfos(0);
    EXPECT_EQ(info.BitRate, 44100 * 2 * 16);
    EXPECT_EQ(info.SampleRate, 44100);
    EXPECT_EQ(info.Channels, 2);
    EXPECT_EQ(info.SampleFormat, AV_SAMPLE_FMT_S16);
    EXPECT_NEAR(double(info.DurationScaled), 2e6, 1e3);
    EXPECT_EQ(info.CodecName, QStringLiteral("pcm_s16le(PCM signed 16-bit little-endian)"));
    const TFileStreamInfo file = decoder.FileStreamInfo();
    EXPECT_EQ(file.Title, QStringLiteral("晴天"));
    EXPECT_EQ(file.Author, QStringLiteral("Someone"));
    EXPECT_NEAR(double(file.Duration), 2e6, 1e3);
    decoder.CloseFile();
    EXPECT_EQ(decoder.StreamCount(), -1);
    EXPECT_EQ(decoder.FirstAudioStreamIndex(), -1);
    EXPECT_EQ(decoder.FileSize(), -1);
    EXPECT_EQ(decoder.AudioStreamInfos(0).SampleRate, -1);
    EXPECT_EQ(decoder.LastErrMsg(), QStringLiteral("file not loaded."));
}

TEST_F(Decoder, AStreamOfAnotherKindGivesAClearedRecordAndItsReason) {
    const QString video = MakeMedia(FDir, "va.avi", PictureBeforeSound());
    TFFDecoder decoder;
    ASSERT_TRUE(decoder.LoadFile(video)) << decoder.LastErrMsg().toStdString();
    EXPECT_EQ(decoder.StreamCount(), 2);
    EXPECT_EQ(decoder.FirstVideoStreamIndex(), 0);
    EXPECT_EQ(decoder.FirstAudioStreamIndex(), 1);
    FLog.Clear();
    const TAudioStreamInfo cleared = decoder.AudioStreamInfos(0);
    EXPECT_EQ(decoder.LastErrMsg(), QStringLiteral("stream #0 is not audio stream."));
    EXPECT_TRUE(FLog.Lines().contains(decoder.LastErrMsg()));
    EXPECT_EQ(cleared.SampleRate, -1);
    EXPECT_EQ(cleared.BitRate, -1);
    EXPECT_EQ(cleared.DurationScaled, -1);
    EXPECT_TRUE(cleared.CodecName.isEmpty());
    const TAudioStreamInfo first = decoder.FirstAudioStreamInfo();
    EXPECT_EQ(first.SampleRate, 22050);
    EXPECT_EQ(first.Channels, 1);
    EXPECT_EQ(first.DurationScaled, -1); // the AVI index gives no duration for it
    decoder.AudioStreamInfos(2);
    EXPECT_EQ(decoder.LastErrMsg(), QStringLiteral("stream index #2 is invalid."));
    decoder.AudioStreamInfos(-7);
    EXPECT_EQ(decoder.LastErrMsg(), QStringLiteral("stream index #-7 is invalid."));
    decoder.FirstSubtitleStreamInfo();
    EXPECT_EQ(decoder.LastErrMsg(), QStringLiteral("no subtitle stream."));
    decoder.VideoStreamInfos(1);
    EXPECT_EQ(decoder.LastErrMsg(), QStringLiteral("stream #1 is not video stream."));

    const TVideoStreamInfo picture = decoder.VideoStreamInfos(0);
    EXPECT_EQ(picture.Width, 160);
    EXPECT_EQ(picture.Height, 120);
    EXPECT_FLOAT_EQ(picture.AspectRatio, 160.0f / 120.0f);
    EXPECT_EQ(picture.PixFmt, AV_PIX_FMT_YUV420P);
    EXPECT_EQ(av_q2d(picture.FrameRate), 10.0);
    EXPECT_TRUE(picture.CodecName.startsWith("mpeg4(")) << picture.CodecName.toStdString();
    EXPECT_EQ(picture.StartTimeScaled, 0);

    const QString text = decoder.FileInfoText();
    EXPECT_TRUE(text.contains("Format: avi (")) << text.toStdString();
    EXPECT_TRUE(text.contains("Stream #0: Video: mpeg4(")) << text.toStdString();
    EXPECT_TRUE(text.contains("160x120, yuv420p, 10 fps")) << text.toStdString();
    EXPECT_TRUE(text.contains("Stream #1: Audio: pcm_s16le(")) << text.toStdString();
    EXPECT_TRUE(text.contains("22050 Hz, 1 channels, s16")) << text.toStdString();
}

TEST_F(Decoder, OpenFailuresLeaveTheDecoderClosedWithTheirText) {
    TFFDecoder decoder;
    const QString missing = FDir.filePath("missing.mp3");
    EXPECT_FALSE(decoder.LoadFile(missing));
    EXPECT_EQ(decoder.LastErrMsg(), missing + QStringLiteral(": No such file or directory"));
    EXPECT_EQ(decoder.StreamCount(), -1);
    EXPECT_EQ(decoder.FileHandle(), nullptr);

    EXPECT_FALSE(decoder.LoadFile(QStringLiteral("offset=0,0"), QStringLiteral("screencapture")));
    EXPECT_EQ(decoder.LastErrMsg(), QStringLiteral("Unknown input format: screencapture"));

    QFile junk(FDir.filePath("junk.mp4"));
    ASSERT_TRUE(junk.open(QIODevice::WriteOnly));
    junk.write(QByteArray(4096, '\x01'));
    junk.close();
    EXPECT_FALSE(decoder.LoadFile(junk.fileName()));
    EXPECT_TRUE(decoder.LastErrMsg().startsWith(junk.fileName() + ": "))
        << decoder.LastErrMsg().toStdString();
    EXPECT_EQ(decoder.StreamCount(), -1);

    // A successful open after failures replaces the message-free state.
    const QString video = MakeMedia(FDir, "va.avi", PictureBeforeSound());
    ASSERT_TRUE(decoder.LoadFile(video));
    EXPECT_FALSE(decoder.LoadFile(missing)); // closes the open file first
    EXPECT_EQ(decoder.StreamCount(), -1);
}

TEST_F(Decoder, OwnFormatsOpenByNameAndUntimedStreamsHaveNoStartTime) {
    RegisterInputFormat(UntimedFormat);
    TFFDecoder decoder;
    bool before = false;
    decoder.SetOnBeforeFindStreamInfo([&](QObject* sender, AVFormatContext* ic) {
        before = sender == &decoder && ic == decoder.FileHandle() && ic->nb_streams == 1;
    });
    ASSERT_TRUE(decoder.LoadFile(QStringLiteral("anything"), QStringLiteral("vxuntimed")))
        << decoder.LastErrMsg().toStdString();
    EXPECT_TRUE(before);
    EXPECT_EQ(decoder.ForceFormat(), QStringLiteral("vxuntimed"));
    EXPECT_EQ(decoder.FormatLongName(), QStringLiteral("Untimed pictures"));
    const TVideoStreamInfo info = decoder.VideoStreamInfos(0);
    EXPECT_EQ(info.StartTime, AV_NOPTS_VALUE);
    EXPECT_EQ(info.StartTimeScaled, -1);
    EXPECT_EQ(info.Width, 32);
    EXPECT_EQ(info.CodecName, QStringLiteral("rawvideo(raw video)"));
    decoder.CloseFile();
    EXPECT_TRUE(decoder.ForceFormat().isEmpty());
}

TEST_F(Decoder, DecodesPicturesAndSoundThinly) {
    const QString video = MakeMedia(FDir, "va.avi", PictureBeforeSound());
    TFFDecoder decoder;
    ASSERT_TRUE(decoder.LoadFile(video));
    int pictures = 0;
    while (decoder.Decode()) {
        EXPECT_EQ(decoder.FrameInfo().PTS, pictures * 100000);
        ++pictures;
    }
    EXPECT_TRUE(decoder.Eof());
    EXPECT_EQ(pictures, 10);
    const QImage* bitmap = decoder.GetBitmapPtr();
    ASSERT_NE(bitmap, nullptr) << decoder.LastErrMsg().toStdString();
    EXPECT_EQ(bitmap->size(), QSize(160, 120));

    ASSERT_TRUE(decoder.Seek(0));
    ASSERT_TRUE(decoder.DecodeNextKeyFrame());
    EXPECT_EQ(decoder.FrameInfo().PTS, 0);

    ASSERT_TRUE(decoder.Seek(0));
    decoder.SetDesireAudioChannels(2);
    decoder.SetDesireAudioSampleRate(8000);
    std::vector<uint8_t> sound(64000);
    int total = 0, n = 0;
    while ((n = decoder.ReadAudio(sound.data() + total, 4000)) > 0)
        total += n;
    EXPECT_EQ(n, 0);
    EXPECT_EQ(decoder.WaveInfo().SampleRate, 8000);
    EXPECT_EQ(decoder.WaveInfo().Channels, 2);
    EXPECT_NEAR(total, 8000 * 2 * 2, 8000 * 2 * 2 / 20); // one second, give or take 5 %
}

TEST(DecoderCodecName, NamesCodecsWithoutADecoder) {
    FFLoader.SetLibraryPath(QString());
    ASSERT_TRUE(FFLoader.Load(TLibraries::All()));
    AVCodecParameters* par = FF.avcodec_parameters_alloc();
    par->codec_id = AV_CODEC_ID_MPEG2TS;
    EXPECT_EQ(TCustomDecoder::CodecName(par), QStringLiteral("mpeg2ts"));
    par->codec_id = AV_CODEC_ID_NONE;
    par->codec_tag = MKTAG('a', 'B', 'c', '1');
    EXPECT_EQ(TCustomDecoder::CodecName(par), QStringLiteral("aBc1 / 0x31634261"));
    par->codec_tag = MKTAG('a', 'B', 'c', '\x07');
    EXPECT_EQ(TCustomDecoder::CodecName(par), QStringLiteral("0x7634261"));
    par->codec_tag = 1;
    EXPECT_EQ(TCustomDecoder::CodecName(par), QStringLiteral("0x0001"));
    par->codec_id = AV_CODEC_ID_FIRST_UNKNOWN; // a descriptor exists, no decoder
    EXPECT_EQ(TCustomDecoder::CodecName(par),
              QString::fromUtf8(FF.avcodec_get_name(par->codec_id)));
    FF.avcodec_parameters_free(&par);
    FFLoader.Unload(TLibraries::All());
}

TEST(DecoderLibraries, LoadsItsLibrariesOrSaysWhyNot) {
    QTemporaryDir dir;
    QFile broken(dir.filePath(LibraryFileName(avCodec)));
    ASSERT_TRUE(broken.open(QIODevice::WriteOnly)); // an empty file: not a library
    broken.close();
    TFFDecoder decoder;
    EXPECT_FALSE(decoder.LoadAVLib(dir.path()));
    EXPECT_TRUE(decoder.LastErrMsg().startsWith(
        QStringLiteral("Load library %1 error: ").arg(broken.fileName())))
        << decoder.LastErrMsg().toStdString();
    EXPECT_FALSE(decoder.AVLibLoaded());
    try {
        decoder.LoadFile(QStringLiteral("song.mp3"));
        ADD_FAILURE();
    } catch (const EFFError& error) {
        EXPECT_EQ(error.Message(), QStringLiteral("LibAVCodec not loaded."));
    }
    EXPECT_TRUE(decoder.LoadAVLib(QString()));
    EXPECT_TRUE(decoder.AVLibLoaded());
    EXPECT_FALSE(FFLoader.Loaded(avFilter)); // only what the decoder needs
    decoder.UnloadAVLib();
    EXPECT_FALSE(decoder.AVLibLoaded());
}
