#include "videomaker/VideoProduction.h"

#include "capture/FrameInput.h"
#include "capture/HandleTable.h"
#include "media/FFDecode.h"
#include "state/ProgramState.h"
#include "videomaker/FrameComposer.h"
#include "videomaker/VideoMakeSettings.h"
#include "videomaker/VideoProject.h"

#include <QFileInfo>
#include <QPainter>

#include <algorithm>
#include <cstring>

namespace {

// The fixed values of every lyrics video.
constexpr int VideoBitrate = 5000000;
constexpr int PixelDepth = 24;
constexpr int FallbackAudioBitrate = 128 * 1000;
constexpr int FallbackSampleRate = 44100;
constexpr int FallbackChannels = 2;
// H.264 of a lyrics video: at 2 pictures a second x264's default preset costs little;
// a key picture every 5 seconds keeps seeking quick.
const QString LyricsH264Preset = QStringLiteral("medium");
constexpr int LyricsH264Quality = 20;
constexpr int LyricsH264KeyInterval = 10;

QString FrameRateText() {
    return QString::number(TFrameComposer::FrameRate) + QStringLiteral("/1");
}

QString VideoSizeText(const TVideoMakeSettings& s) {
    return QString::number(s.LyricsVideoWidth) + u'*' + QString::number(s.LyricsVideoHeight);
}

// `path` with its extension (if any) replaced by ".mp4".
QString WithMp4Extension(const QString& path) {
    const QFileInfo info(path);
    return info.path() + u'/' + info.completeBaseName() + QStringLiteral(".mp4");
}

// Stretches `frame` over the whole canvas. A canvas of the frame's own size takes its
// rows as they are, converted to the canvas's byte order in one pass: the same pixels
// the painter would draw, without its conversions to and from 32 bits per pixel.
void PutOnCanvas(QPainter* canvas, QImage& frame, const TInputFrameInfo* info) {
    QPaintDevice* device = canvas->device();
    auto* target =
        device && device->devType() == QInternal::Image ? static_cast<QImage*>(device) : nullptr;
    const QImage::Format format = target ? target->format() : QImage::Format_Invalid;
    if (target && target->size() == frame.size() &&
        (format == QImage::Format_BGR888 || format == QImage::Format_RGB888 ||
         format == QImage::Format_RGB32)) {
        frame.convertTo(format);
        if (frame.format() == format) {
            const qsizetype bytes = std::min(frame.bytesPerLine(), target->bytesPerLine());
            for (int y = 0; y < frame.height(); ++y)
                std::memcpy(target->scanLine(y), frame.constScanLine(y), size_t(bytes));
            return;
        }
    }
    canvas->drawImage(QRect(0, 0, info->Width, info->Height), frame);
}

} // namespace

bool ReadSongAudio(TFFDecoder& decoder, const QString& songFile, TSongAudio* audio,
                   QString* error) {
    const QString refusal =
        QStringLiteral("无法从歌曲 %1 读出声音的信息（%2），不能制作视频。").arg(songFile);
    if (!decoder.AVLibLoaded() && !decoder.LoadAVLib(ProgramState().LibraryPath())) {
        *error = refusal.arg(decoder.LastErrMsg());
        return false;
    }
    if (!decoder.LoadFile(songFile)) {
        *error = refusal.arg(decoder.LastErrMsg());
        return false;
    }
    // The first sound stream, wherever it stands: some taggers put the cover first.
    const bool sound = decoder.FirstAudioStreamIndex() >= 0;
    const TAudioStreamInfo info = sound ? decoder.FirstAudioStreamInfo() : TAudioStreamInfo();
    // A stream without its own length takes the file's, as players show it.
    const qint64 duration =
        info.DurationScaled > 0 ? info.DurationScaled : decoder.FileStreamInfo().Duration;
    decoder.CloseFile();
    if (!sound) {
        *error = refusal.arg(QStringLiteral("它没有声音流"));
        return false;
    }
    if (duration <= 0) {
        *error = refusal.arg(QStringLiteral("它的长度未知"));
        return false;
    }
    audio->BitRate = info.BitRate > 0 ? info.BitRate : FallbackAudioBitrate;
    audio->SampleRate = info.SampleRate > 0 ? info.SampleRate : FallbackSampleRate;
    audio->Channels = info.Channels > 0 ? info.Channels : FallbackChannels;
    audio->Duration = duration;
    return true;
}

TOutputOptions BuildLyricsVideoOptions(const QString& fileName, const QString& frameSize,
                                       const TSongAudio& song, bool h264) {
    TOutputOptions o;
    InitOutputOptions(&o);
    o.AudioBitrate = song.BitRate;
    o.AudioSampleRate = song.SampleRate;
    o.AudioChannels = song.Channels;
    o.FrameRate = FrameRateText();
    o.VideoBitrate = VideoBitrate;
    SetCodecsForExtension(o, fileName);
    o.Info.TimeStamp = 0;
    o.DisableSubtitle = true;
    o.FrameSize = frameSize;
    if (h264 &&
        UseH264Pictures(o, fileName, LyricsH264Preset, LyricsH264Quality, LyricsH264KeyInterval))
        o.ExtOptions += QStringLiteral("movflags=+faststart\r\n");
    return o;
}

QString ProposedVideoName(const QString& projectFile, const QString& audioFile) {
    if (!projectFile.isEmpty() && QFileInfo(projectFile).isFile())
        return WithMp4Extension(projectFile);
    return WithMp4Extension(audioFile);
}

QString ProductionPercentText(qint64 current, qint64 duration) {
    qint64 percent = 100;
    if (duration > 0)
        percent = std::clamp<qint64>(qint64(double(current) / double(duration) * 100), 0, 100);
    return QString::number(percent) + u'%';
}

// The engine parts of a production, freed in this order's reverse.
struct TVideoProduction::TParts {
    TFFEncoder FFEncoder1;
    TFFDecoder FFDecoder1;
    TFrameInputAdapter FIA;
    THandleRegistration<TFrameInputAdapter> FIAHandle{&FIA};
};

TVideoProduction::TVideoProduction() : F(std::make_unique<TParts>()) {
    F->FIA.OnReadFrameCanvas = [this](QObject*, QPainter* canvas, TInputFrameInfo* info) {
        return FIAReadFrameCanvas(canvas, info);
    };
    F->FFEncoder1.SetOnProgress([this](QObject*, TProgressInfo* info) {
        if (OnProgress)
            OnProgress(*info);
    });
    F->FFEncoder1.SetOnTerminate([this](QObject*, const TTerminateInfo& info) {
        if (OnTerminate)
            OnTerminate(info);
    });
}

TVideoProduction::~TVideoProduction() {
    Detach();
    F->FFEncoder1.Stop(true);
}

bool TVideoProduction::Working() const {
    return F->FFEncoder1.Working() && !F->FFEncoder1.Terminated();
}

TFFEncoder& TVideoProduction::Encoder() {
    return F->FFEncoder1;
}

void TVideoProduction::Detach() {
    OnProgress = nullptr;
    OnTerminate = nullptr;
    OnInputEnded = nullptr;
}

void TVideoProduction::Stop(bool waitForStop) {
    F->FFEncoder1.Stop(waitForStop);
}

bool TVideoProduction::Start(const QString& fileName, QString* error, bool h264) {
    const TVideoMakeSettings& settings = VideoMakeSettings();
    const QString audioFile = VideoProject().AudioFile;

    FrameComposer().ResetComposer();
    // Each refusal says in Chinese what failed on which file, then the engine's words.
    const QString making = QStringLiteral("无法制作视频 %1：\r\n").arg(fileName);
    if (!F->FFEncoder1.AVLibLoaded() && !F->FFEncoder1.LoadAVLib(ProgramState().LibraryPath())) {
        *error = QStringLiteral("无法载入媒体库，不能制作视频 %1：\r\n").arg(fileName) +
                 F->FFEncoder1.LastErrMsg();
        return false;
    }
    // The song bounds the frames and gives the sound's parameters; without a usable
    // length no frame could be timed, so nothing is started.
    TSongAudio song;
    if (!ReadSongAudio(F->FFDecoder1, audioFile, &song, error))
        return false;

    RegisterFrameInput();
    F->FFEncoder1.ClearTasks();
    const QString size = VideoSizeText(settings);
    const QString source = QStringLiteral("a=%1;r=%2;s=%3;bpp=%4;t=%5")
                               .arg(F->FIAHandle.Text(), FrameRateText(), size)
                               .arg(PixelDepth)
                               .arg(QStringLiteral("Canvas"));
    TInputOptions input;
    InitInputOptions(&input);
    input.ForceFormat = QStringLiteral("frameinput");
    const int task = F->FFEncoder1.AddTask(source, &input);
    if (task < 0) {
        *error = making + QStringLiteral("File open error: ") + F->FFEncoder1.LastErrMsg();
        return false;
    }
    if (QFileInfo(audioFile).isFile() && !F->FFEncoder1.AddInputFile(task, audioFile)) {
        *error = QStringLiteral("无法打开音频文件 %1，不能制作视频：\r\n").arg(audioFile) +
                 QStringLiteral("File open error: ") + F->FFEncoder1.LastErrMsg();
        return false;
    }
    const TOutputOptions output = BuildLyricsVideoOptions(fileName, size, song, h264);
    if (!F->FFEncoder1.SetOutputFile(task, fileName, &output)) {
        *error = making + QStringLiteral("Cannot do convert, error: ") + F->FFEncoder1.LastErrMsg();
        F->FFEncoder1.RemoveTask(task);
        return false;
    }
    FSongDuration = song.Duration;
    F->FFEncoder1.SetPreview(false);
    F->FFEncoder1.Start(1);
    return true;
}

int TVideoProduction::FIAReadFrameCanvas(QPainter* canvas, TInputFrameInfo* frameInfo) {
    if (frameInfo->TimeStamp < FSongDuration) {
        // Most pictures show what the one before showed (a row lasts seconds): the
        // canvas keeps it, and no new picture is made for them.
        if (!FrameComposer().MayDraw(frameInfo->TimeStamp))
            return 0;
        QImage frame = MakeFrameCanvas();
        // A frame where nothing changed keeps the previous picture on the canvas.
        if (FrameComposer().ComposeFrame(frame, frameInfo->TimeStamp))
            PutOnCanvas(canvas, frame, frameInfo);
        return 0;
    }
    if (OnInputEnded)
        OnInputEnded();
    F->FFEncoder1.Stop(false);
    return -1;
}
