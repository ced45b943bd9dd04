#pragma once

#include "media/EventHandler.h"
#include "media/FFApi.h"
#include "media/FFBaseComponent.h"
#include "media/FFLog.h"
#include "media/FFUtils.h"

#include <QImage>
#include <QString>

#include <cstdint>
#include <functional>
#include <memory>

// The decoder component: opens a media file and reports what it holds (streams, codecs,
// parameters, durations, tags); TFFDecoder adds picture and sound decoding.
//
//     TFFDecoder decoder;
//     if (!decoder.AVLibLoaded() && !decoder.LoadAVLib(ProgramState().LibraryPath()))
//         return ShowError(decoder.LastErrMsg());
//     decoder.LoadFile(songPath);                       // no format name: detect
//     const TAudioStreamInfo info = decoder.AudioStreamInfos(0);
//     // info.BitRate, info.SampleRate, info.Channels, info.DurationScaled (µs);
//     // -1 where not available, also after a failed LoadFile
//     decoder.CloseFile();
//
// Failures return false or a cleared record and leave their text in LastErrMsg (and in
// the log). Only the library checks of LoadFile throw (EFFError "LibAVCodec not
// loaded." and so on). Times are in the stream's time base except the *Scaled fields,
// which are microseconds; -1 marks a value that is not available. Counts, FileSize and
// the first indices are -1 while no file is open.
//
// A decoder is used by one thread at a time (the main thread in the program).

struct TAudioStreamInfo {
    QString Language;
    QString CodecName;
    int64_t StartTime = -1, StartTimeScaled = -1, Duration = -1, DurationScaled = -1;
    int BitRate = -1, Channels = -1, SampleRate = -1;
    AVSampleFormat SampleFormat = AV_SAMPLE_FMT_NONE;
};

struct TVideoStreamInfo {
    QString Language;
    QString CodecName;
    int64_t StartTime = -1, StartTimeScaled = -1, Duration = -1, DurationScaled = -1;
    int BitRate = -1, Height = -1, Width = -1;
    float AspectRatio = -1; // of the displayed picture
    AVPixelFormat PixFmt = AV_PIX_FMT_NONE;
    AVRational FrameRate{-1, -1};
};

struct TSubtitleStreamInfo {
    QString Language;
    QString CodecName;
};

struct TFileStreamInfo {
    int64_t StartTime = -1, Duration = -1; // microseconds
    int BitRate = -1;
    int64_t TimeStamp = -1; // the "creation_time" tag in microseconds since 1970
    int Year = -1, Track = -1;
    QString Title, Author, Copyright, Comment, Album, Genre;
};

// (Sender, the opened input context) before the stream information is gathered.
using TDecoderBeforeFindStreamInfoEvent =
    std::function<void(QObject* Sender, AVFormatContext* AFormatContext)>;

class TCustomDecoder : public TFFBaseComponent {
public:
    explicit TCustomDecoder(QObject* owner = nullptr);
    ~TCustomDecoder() override;

    // Sets the loader's folder and loads avcodec, avformat, avutil, swscale, swresample
    // and the C library. False with LastErrMsg = the loader's message.
    bool LoadAVLib(const QString& libraryPath);
    bool AVLibLoaded() const;
    void UnloadAVLib();

    // Opens `fileName` (the own formats' option string for them) with the input format
    // `formatName` (empty: detect) and gathers its information. Throws EFFError when a
    // library is missing; other failures give false with LastErrMsg:
    // "Unknown input format: <name>", "<file>: <FFmpeg's text>",
    // "<file>: could not find codec parameters", or an own format's conversion error.
    bool LoadFile(const QString& fileName, const QString& formatName = QString());
    virtual void CloseFile();

    bool IsAudioStream(int index) const;
    bool IsVideoStream(int index) const;
    bool IsSubtitleStream(int index) const;

    // The information of stream `index` (-1: the first of its kind), or a cleared record
    // with the reason in LastErrMsg and the log.
    TAudioStreamInfo AudioStreamInfos(int index);
    TVideoStreamInfo VideoStreamInfos(int index);
    TSubtitleStreamInfo SubtitleStreamInfos(int index);
    TAudioStreamInfo FirstAudioStreamInfo() { return AudioStreamInfos(-1); }
    TVideoStreamInfo FirstVideoStreamInfo() { return VideoStreamInfos(-1); }
    TSubtitleStreamInfo FirstSubtitleStreamInfo() { return SubtitleStreamInfos(-1); }
    TFileStreamInfo FileStreamInfo() const;
    // A readable multi-line description of the open file; empty without one.
    QString FileInfoText();

    // The name of the decoder for the stream's codec with its long name, "name(long
    // name)"; without a decoder "mpeg2ts", the codec's own name, the printable tag
    // "ABCD / 0x44434241" or the tag in hexadecimal.
    static QString CodecName(const AVCodecParameters* par);

    AVFormatContext* FileHandle() const { return FFileHandle; }
    QString FileName() const { return FFileName; }
    int64_t FileSize() const { return FFileSize; }
    QString ForceFormat() const { return FForceFormat; }
    QString FormatName() const;
    QString FormatLongName() const;
    int StreamCount() const { return FStreamCount; }
    int ProgramCount() const { return FProgramCount; }
    int AudioStreamCount() const { return FAudioStreamCount; }
    int VideoStreamCount() const { return FVideoStreamCount; }
    int SubtitleStreamCount() const { return FSubtitleStreamCount; }
    int FirstAudioStreamIndex() const { return FFirstAudioStreamIndex; }
    int FirstVideoStreamIndex() const { return FFirstVideoStreamIndex; }
    int FirstSubtitleStreamIndex() const { return FFirstSubtitleStreamIndex; }
    QString LastErrMsg() const { return FLastErrMsg; }

    bool TriggerEventInMainThread() const { return FTriggerEventInMainThread; }
    void SetTriggerEventInMainThread(bool value) { FTriggerEventInMainThread = value; }
    void SetOnBeforeFindStreamInfo(TDecoderBeforeFindStreamInfoEvent handler) {
        FOnBeforeFindStreamInfo.Set(std::move(handler));
    }

protected:
    // Stores `message` in LastErrMsg and logs it at `level`.
    void Fail(TLogLevel level, const QString& message);
    const AVStream* Stream(int index) const;

    AVFormatContext* FFileHandle = nullptr;
    bool FOwnHandle = false;
    QString FLastErrMsg;
    QString FForceFormat;
    QString FFileName;
    int64_t FFileSize = -1;
    int FStreamCount = -1, FProgramCount = -1;
    int FAudioStreamCount = -1, FVideoStreamCount = -1, FSubtitleStreamCount = -1;
    int FFirstAudioStreamIndex = -1, FFirstVideoStreamIndex = -1, FFirstSubtitleStreamIndex = -1;
    bool FTriggerEventInMainThread = true;
    TEventHandler<TDecoderBeforeFindStreamInfoEvent> FOnBeforeFindStreamInfo;

private:
    void ResetInfo();
    // The stream `index` (-1: `first`) of `type`, or null after Fail with the reason.
    const AVStream* StreamOfType(int index, int first, AVMediaType type, const char* kind);
};

// The current picture of TFFDecoder: a decoded frame and where it lies.
struct TFrameInfo {
    const AVFrame* Frame = nullptr; // owned by the decoder, valid until the next decode
    int64_t PTS = -1;               // microseconds
    bool KeyFrame = false;
};

// The current sound of TFFDecoder: interleaved signed 16-bit samples.
struct TWaveInfo {
    const uint8_t* Buffer = nullptr; // owned by the decoder, valid until the next decode
    int BufferSize = 0;              // bytes
    int SampleRate = 0, Channels = 0;
    int64_t PTS = -1; // microseconds
};

class TFFDecoder : public TCustomDecoder {
public:
    explicit TFFDecoder(QObject* owner = nullptr);
    ~TFFDecoder() override;

    // Closes the codecs and the decoding state, then the file.
    void CloseFile() override;

    // Seeks the file to `position` (microseconds; the nearest key frame before it).
    bool Seek(int64_t position);
    // Decodes the next picture of the first video stream into FrameInfo. False at the
    // end (Eof() then true) or on failure (LastErrMsg).
    bool Decode();
    // Decodes pictures until a key frame.
    bool DecodeNextKeyFrame();
    // Copies the current picture into `bitmap` at BitmapBitsPixel (24 by default).
    bool CopyToBitmap(QImage& bitmap);
    // The converter's bitmap holding the current picture, or null.
    const QImage* GetBitmapPtr();
    // Decodes the next sound of the first audio stream into WaveInfo, converted to
    // DesireAudioChannels and DesireAudioSampleRate (0: as in the file).
    bool DecodeAudio();
    // Fills `buffer` with up to `size` bytes of sound (decoding as needed); the number of
    // bytes written, 0 at the end, -1 on failure.
    int ReadAudio(uint8_t* buffer, int size);

    int BitmapBitsPixel() const { return FConverter.BitsPixel(); }
    void SetBitmapBitsPixel(int value) { FConverter.SetBitsPixel(value); }
    bool Deinterlace() const { return FDeinterlace; } // kept for callers; not applied
    void SetDeinterlace(bool value) { FDeinterlace = value; }
    bool Eof() const { return FEOF; } // EOF is the C library's macro
    const TFrameInfo& FrameInfo() const { return FFrameInfo; }
    const TWaveInfo& WaveInfo() const { return FWaveInfo; }
    int64_t Position() const { return FPosition; } // microseconds of the last decode
    int DesireAudioChannels() const { return FDesireAudioChannels; }
    void SetDesireAudioChannels(int value) { FDesireAudioChannels = value; }
    int DesireAudioSampleRate() const { return FDesireAudioSampleRate; }
    void SetDesireAudioSampleRate(int value) { FDesireAudioSampleRate = value; }

private:
    struct TState;
    // The opened decoder of the first video or audio stream, or null after Fail.
    AVCodecContext* OpenCodec(bool video);
    // Reads packets until `context` yields a frame; 1 frame, 0 end, < 0 error.
    int NextFrame(int streamIndex, AVCodecContext* context, AVFrame* frame);

    std::unique_ptr<TState> FState;
    TFormatConverter FConverter;
    TFrameInfo FFrameInfo;
    TWaveInfo FWaveInfo;
    bool FDeinterlace = false;
    bool FEOF = false;
    int64_t FPosition = -1;
    int FDesireAudioChannels = 0;
    int FDesireAudioSampleRate = 0;
};
