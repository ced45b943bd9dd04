#pragma once

#include "media/FFOptionRecords.h"

#include <QString>

#include <utility>
#include <vector>

class TCustomFFmpeg;

// The option records and ExtOptions texts of the encoder's tasks, turned into the job's
// option language (TCustomFFmpeg::SetExtOption), and the codecs of the program's own
// videos. Thread-safe unless a function says that it needs the FFmpeg libraries.

// The name=value lines of an ExtOptions text: trimmed as a whole, "<CRLF>" read as a line
// break, lines split at CR LF, CR or LF, empty lines skipped; each line is cut at its first
// "="; a line without "=" is a name with an empty value.
std::vector<std::pair<QString, QString>> ParseOptionLines(const QString& text);

// Passes the lines of an ExtOptions text to the job, names lower-cased. Stream additions
// and filter graphs are skipped (the encoder applies them itself); for an output
// (`output`) so are the codec, size and filter names that wait for the output's streams.
// Throws FFmpegException like SetExtOption.
void ApplyExtOptionLines(TCustomFFmpeg* job, const QString& lines, bool output);

// The input record of the AddTask and AddInputFile text variants: "TimeStart" goes to
// its field, every other line is kept as a name=value line of ExtOptions.
TInputOptions InputOptionsFromText(const QString& text);
// The output record of the SetOutputFile text variant: the hook switches, "Join",
// "VideoHookBitsPixel", "TimeStart" and "TimeLength" go to their fields, every other
// line is kept in ExtOptions.
TOutputOptions OutputOptionsFromText(const QString& text);

// Applies an input record to the job's pending input options: ExtOptions, the forced
// format, the start position and the program. Throws FFmpegException.
void ApplyInputOptions(TCustomFFmpeg* job, const TInputOptions& options);

// The settings of an output's streams that wait for their stream: the "acodec",
// "vcodec", "scodec", "dcodec", "s" and "vfilters"/"vf" lines of ExtOptions in text
// order, and the default of each kind (the record's field, else the kind's first line).
//
//     TOutputStreamSettings streams(options);
//     ApplyOutputOptions(job, options, streams);   // before the output is opened
//     job->OpenOutput(...);
//     streams.AddStreams(job);                      // the "newaudio" ... lines
class TOutputStreamSettings {
public:
    explicit TOutputStreamSettings(const TOutputOptions& options);

    // The default codecs and preset file, before the other options of the output.
    void ApplyCodecDefaults(TCustomFFmpeg* job) const;
    // The default frame size and video filters, after the record's fields.
    void ApplyPictureDefaults(TCustomFFmpeg* job) const;
    // After the output is open: each "newaudio", "newvideo", "newsubtitle" or "newdata"
    // line in text order adds one stream, after the next queued settings of its kind (or
    // the kind's default when none is left). Throws FFmpegException.
    void AddStreams(TCustomFFmpeg* job);

private:
    enum TKind { kAudioCodec, kVideoCodec, kSubtitleCodec, kDataCodec, kPreset, kSize, kFilters };
    static constexpr int KindCount = 7;
    static int KindOf(const QString& name);
    void TakeQueued(TCustomFFmpeg* job, TKind kind);

    std::vector<std::pair<QString, QString>> FLines; // every ExtOptions line, names lower-cased
    std::vector<std::pair<QString, QString>> FQueue; // the waiting settings, oldest first
    QString FDefaults[KindCount];
};

// Applies an output record to the job's pending output options, in this order: the
// target preset, the default codecs, the other ExtOptions lines, the record's fields in
// the order of the record, the default frame size and filters. Throws FFmpegException.
void ApplyOutputOptions(TCustomFFmpeg* job, const TOutputOptions& options,
                        const TOutputStreamSettings& streams);

// The codecs of the program's own videos, chosen by the extension of `fileName`: MPEG-4
// video with AAC sound ("libfaac" when the codec library has it, else the built-in
// "aac", whose experimental use is then allowed in front of ExtOptions); ".wmv" takes
// wmv2 and wmav2, ".avi" MP3 sound. Shared by recordings and lyrics videos. Needs
// libavcodec loaded.
void SetCodecsForExtension(TOutputOptions& options, const QString& fileName);

// True when `fileName` is an MP4 or MOV file, the two types that may hold H.264.
bool IsH264Container(const QString& fileName);
// Turns the MPEG-4 pictures SetCodecsForExtension chose for an MP4 or MOV `fileName`
// into H.264 (libx264) in 4:2:0, which browsers, phones and video sites all play: at
// constant quality `crf` with x264's speed `preset`, a key picture at least every
// `keyInterval` pictures, and the frame size rounded down to even numbers (4:2:0 needs
// them). The sound stays AAC. False, and `options` unchanged, for any other file type.
bool UseH264Pictures(TOutputOptions& options, const QString& fileName, const QString& preset,
                     int crf, int keyInterval);
