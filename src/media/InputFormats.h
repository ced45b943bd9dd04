#pragma once

#include "media/FFApi.h"

#include <QString>
#include <QStringList>

// The program's own input formats ("screencapture", "wavecapture", "frameinput") and
// how the engine opens every input.
//
// FFmpeg 5.1 has no public call that adds a demuxer to its own list, so the engine keeps
// a registry of its own formats by name. FindInputFormat looks a name up there first and
// then among FFmpeg's demuxers; the result goes into OpenInput like any other forced
// format, and the input is then read and closed with the ordinary FFmpeg calls
// (av_read_frame, avformat_close_input). A format is described by its three operations:
//
//     struct TMySourceState { int Rate; ... };   // zero-filled for every open
//
//     static int MyReadHeader(AVFormatContext* s, const QString& options,
//                             const TInputParameters& ap) {
//         auto* state = static_cast<TMySourceState*>(s->priv_data);
//         TOptionReader reader;                      // capture/SourceOptions.h
//         reader.Strict({"r"}, state->Rate);         // throws EConvertError: open fails
//         reader.Parse(options);
//         AVStream* st = NewSourceStream(s);         // one stream, id 0, 1/1000000
//         if (!st)
//             return AVERROR(ENOMEM);
//         SetRawVideoParameters(st, 640, 480, AV_PIX_FMT_BGR24, {state->Rate, 1});
//         FF.av_log(s, AV_LOG_INFO, "ready at %d pictures per second\n", state->Rate);
//         return 0;
//     }
//     static int MyReadPacket(AVFormatContext* s, AVPacket* pkt) {
//         if (FF.av_new_packet(pkt, 640 * 480 * 3) < 0)
//             return AVERROR(ENOMEM);
//         ... fill pkt->data, pkt->pts = pkt->dts = time in microseconds ...
//         return pkt->size;                          // stream index 0
//     }
//     static int MyReadClose(AVFormatContext* s) { ...; return 0; }
//
//     static const TOwnInputFormat MyFormat = {"mysource", "My source",
//         sizeof(TMySourceState), &MyReadHeader, &MyReadPacket, &MyReadClose};
//
//     void RegisterMySource() { RegisterInputFormat(MyFormat); } // after FFLoader.Load
//
//     // the opener (the job, the decoder):
//     AVFormatContext* ic = nullptr;
//     int ret = OpenInput(&ic, "r=25", FindInputFormat("mysource"), nullptr, nullptr);
//
// Contract of the operations (all run with the libraries loaded):
// - ReadHeader runs once, inside OpenInput, on the opening thread. `options` is the
//   option string the input was opened with, cut to its first 1023 bytes; `ap` carries
//   the opener's frame size and time base (zero when not given). It creates exactly one
//   stream and returns 0, or returns a negative error code. ReadClose is not called
//   after a failed ReadHeader, so ReadHeader releases on every failure path what it
//   acquired. An exception (a strict conversion failing) fails the open; OpenInput
//   throws it again once FFmpeg has discarded the half-opened input.
// - ReadPacket runs on the reading thread (the job's worker) for every packet: it fills
//   `pkt` (av_new_packet) for stream 0 and returns its size (> 0), or a negative code.
// - ReadClose runs once when an opened input is closed, wherever it is closed; returns 0.
// - ReadPause and ReadPlay, when given, run on the reading thread between two reads
//   (av_read_pause, av_read_play): the job calls them when it pauses and resumes.
// The three may run on different threads. The state record (`s->priv_data`, PrivDataSize
// bytes) is allocated zero-filled by FFmpeg for every open and freed after ReadClose or
// a failed ReadHeader: keep it a plain record, or construct and destroy its members
// yourself. An exception escaping ReadPacket or ReadClose is logged and becomes -1.
//
// Sources log with FF.av_log(s, level, "...\n"): the context's class names the format,
// so lines reach the logger as "[mysource @ 0x...] ...".

// The opener's parameters for an input: the job's frame size and time base; zero = none.
struct TInputParameters {
    int Width = 0;
    int Height = 0;
    AVRational TimeBase{0, 0};
};

// The descriptor of an own input format. Names are compared byte for byte.
struct TOwnInputFormat {
    const char* Name;     // "screencapture"
    const char* LongName; // "Screen capture using GDI"
    int PrivDataSize;     // the size of the per-open state record
    int (*ReadHeader)(AVFormatContext* s, const QString& options, const TInputParameters& ap);
    int (*ReadPacket)(AVFormatContext* s, AVPacket* pkt);
    int (*ReadClose)(AVFormatContext* s);
    // Optional (null: not told): the reader pauses before its next read, and goes on
    // reading again. A live source uses them to start its clock afresh after a pause.
    int (*ReadPause)(AVFormatContext* s) = nullptr;
    int (*ReadPlay)(AVFormatContext* s) = nullptr;
};

// The error codes of the own formats' operations.
enum TSourceError : int {
    seInvalidOption = AVERROR(EINVAL), // an option missing, zero or invalid
    seDevice = AVERROR(EIO),           // a device or system object could not be had
    seNoMemory = AVERROR(ENOMEM),      // the stream or a packet could not be allocated
    seAgain = AVERROR(EAGAIN),         // no packet ready yet: read again
    seEndOfFile = AVERROR_EOF,         // the device has stopped
    seFailed = -1,                     // a grab, copy or conversion failed
};

// The longest option string a source receives, in bytes (UTF-8); longer text is cut.
constexpr int MaxOptionStringBytes = 1023;

// Adds `format` to the registry unless a format of the same name (exact bytes) is there
// already, among the own formats or FFmpeg's demuxers; registering again changes
// nothing. The descriptor must outlive the registration (use a static). Registrations
// last until libavformat is unloaded. libavformat must be loaded: calling earlier is a
// programming error (EAssertionFailed). Main thread.
void RegisterInputFormat(const TOwnInputFormat& format);

// The own format registered under `name` (exact bytes), else FFmpeg's demuxer of that
// name (av_find_input_format), else null. Null without libavformat. Thread-safe.
const AVInputFormat* FindInputFormat(const QString& name);

// Whether `format` is one of the own formats. Thread-safe.
bool IsOwnInputFormat(const AVInputFormat* format);

// The names of the registered own formats, in registration order. Thread-safe.
QStringList OwnInputFormatNames();

// Opens `url` the way every engine input is opened: allocates *ps unless the caller
// allocated it already (to set flags first), installs the engine's interrupt callback
// (InterruptCB.h), and calls avformat_open_input with `url` UTF-8 encoded, the forced
// `format` (null: detect), `ap` handed to an own format's ReadHeader (null: none) and
// `options`. Returns 0 or FFmpeg's negative code; on failure *ps is null (freed). An
// exception thrown by an own format's ReadHeader is thrown again from here after
// the input has been discarded. libavformat must be loaded. Thread-safe (the opening
// thread runs ReadHeader).
int OpenInput(AVFormatContext** ps, const QString& url, const AVInputFormat* format,
              const TInputParameters* ap, AVDictionary** options);

// The option string an own format was opened with: the context's file name, cut to
// MaxOptionStringBytes bytes (never inside a character) and decoded. Thread-safe.
QString SourceOptionString(const AVFormatContext* s);

// The stream set-up every own format shares: creates the one stream (id 0) with the time
// base 1/1000000 (microseconds), turns off parsing (AVFMT_FLAG_NOPARSE) and sets the
// probe size to 0, so gathering stream information reads no packet from a live source.
// Null when the stream cannot be created (the caller returns AVERROR(ENOMEM)).
AVStream* NewSourceStream(AVFormatContext* s);

// Raw video parameters of a source's stream: codec, size, pixel format, the frame rate
// (the stream's real and average rate; its inverse is the codec time base the decoder
// gets) and the raw data rate as bit rate (RawVideoBitRate).
void SetRawVideoParameters(AVStream* st, int width, int height, AVPixelFormat pixFmt,
                           AVRational frameRate);

// Picture bytes × pictures per second × 8, rounded to the nearest whole number.
int64_t RawVideoBitRate(int width, int height, AVPixelFormat pixFmt, AVRational frameRate);

// Called by the loader when libavformat is unloaded: every registration ends.
void ForgetOwnInputFormats();
