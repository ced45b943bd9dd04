#pragma once

#include "media/FFEncode.h"
#include "media/FFOptionRecords.h"

#include <QString>

#include <functional>
#include <memory>

class QPainter;
class TFFDecoder;
struct TInputFrameInfo;

// Making the lyrics video of the current project: the frame composer paints the
// pictures at 2 per second through the "frameinput" format, the song is the sound track,
// and the encoder writes both into MP4, WMV, AVI or MOV. Shared by the production dialog
// and by vexmira-cli make-video, so both produce the same file. Main thread only.

// What the song's first sound stream tells about its sound.
struct TSongAudio {
    int BitRate = 0; // bits per second
    int SampleRate = 0;
    int Channels = 0;
    qint64 Duration = 0; // microseconds
};

// Reads the song's sound parameters with `decoder` (loading its libraries when needed)
// from its first sound stream, which need not be the file's first stream (a cover picture
// may come before it). The song must open and have a sound stream with a known length;
// otherwise false with the reason in `error`. A bit rate, sample rate or channel count
// the file does not give is replaced by 128 kbit/s, 44100 Hz and 2 channels.
bool ReadSongAudio(TFFDecoder& decoder, const QString& songFile, TSongAudio* audio, QString* error);

// The output options of a lyrics video into `fileName` at `frameSize` ("width*height"):
// 2 pictures per second, MPEG-4 video at 5 Mbit/s (WMV: wmv2 and wmav2; AVI: MP3 sound),
// the sound at the song's bit rate, sample rate and channels ("libfaac" when the codec
// library has it, else the built-in "aac" with its experimental use allowed). With
// `h264`, an MP4 or MOV file holds H.264 pictures instead and its index comes first, so
// it plays while it is still downloading. Needs libavcodec loaded.
TOutputOptions BuildLyricsVideoOptions(const QString& fileName, const QString& frameSize,
                                       const TSongAudio& song, bool h264 = false);

// The file name the production dialog proposes: the project file with the extension
// ".mp4" when the project file exists, else the song with that extension.
QString ProposedVideoName(const QString& projectFile, const QString& audioFile);

// The percentage of `current` in `duration`, whole, at most 100, followed by "%".
QString ProductionPercentText(qint64 current, qint64 duration);

class TVideoProduction {
public:
    TVideoProduction();
    ~TVideoProduction();
    TVideoProduction(const TVideoProduction&) = delete;
    TVideoProduction& operator=(const TVideoProduction&) = delete;

    // Resets the composer, loads the libraries, reads the song and starts writing the
    // video of the current project into `fileName` on the encoder's thread, with H.264
    // pictures when `h264` and the file is an MP4 or MOV. False with the message to show
    // in `error` (nothing is started then).
    bool Start(const QString& fileName, QString* error, bool h264 = false);
    // Stops the production; the file written so far is finalised.
    void Stop(bool waitForStop);
    // Drops the three callbacks, so nothing reaches their owner any more.
    void Detach();

    // The encoder's reports, on the main thread.
    std::function<void(const TProgressInfo&)> OnProgress;
    std::function<void(const TTerminateInfo&)> OnTerminate;
    // The picture after the song's end was asked for: the video is complete.
    std::function<void()> OnInputEnded;

    qint64 SongDuration() const { return FSongDuration; }
    // True from a start until the job has ended.
    bool Working() const;
    TFFEncoder& Encoder();

private:
    // Paints the picture at the frame's time, or ends the input past the song's end.
    int FIAReadFrameCanvas(QPainter* canvas, TInputFrameInfo* frameInfo);

    struct TParts; // the encoder, the song's decoder and the frame input
    std::unique_ptr<TParts> F;
    qint64 FSongDuration = 0;
};
