#pragma once

#include "capture/HandleTable.h"
#include "media/FFOptionRecords.h"
#include "recording/RecordingPresets.h"

#include <QRect>
#include <QString>

#include <functional>

class TCustomEncoder;

// Setting up one screen recording on an encoder: the screen source as the task's first
// input, the sound source as its second, the file as its output with the fixed preset
// its extension chooses. Shared by the recording toolbar and by vexmira-cli, so both
// record with the same option strings and presets. Main thread.

struct TRecordingRequest {
    QRect Area; // the captured part of the screen
    bool Cursor = true;
    bool Sound = true;
    TSoundSource Source = ssMicrophone; // where the sound comes from
    QString FrameSize;                  // output size "width*height"
    QString FileName;                   // the output file; its extension chooses the preset
    bool H264 = false;                  // H.264 pictures instead of MPEG-4 in an MP4 or MOV file
};

// The output options of a recording into `fileName` at `frameSize` ("width*height"):
// 15 pictures per second, MPEG-4 video at 5 Mbit/s (WMV: wmv2 and wmav2; AVI: MP3
// sound), 44100 Hz stereo sound at 128 kbit/s ("libfaac" when the codec library has it,
// else the built-in "aac" with its experimental use allowed). With `h264`, an MP4 or MOV
// file holds H.264 pictures instead, at x264's fastest preset so a full-HD recording
// keeps up on two cores. Needs libavcodec loaded.
TOutputOptions BuildRecordingOutputOptions(const QString& fileName, const QString& frameSize,
                                           bool h264 = false);

// Loads the media libraries when needed (from the program's "LibAV" folder, else the
// system's), registers the two capture formats, clears the encoder's tasks and sets up
// the recording task. `pauseHandle` names the std::atomic<bool> the sound source reads
// as its pause flag, `lostHandle` (0: none) the one it sets when the sound device goes
// away; the recording then goes on without sound. False with the encoder's message in
// `error`; a task whose output could not be set is removed again.
bool PrepareRecording(TCustomEncoder& encoder, const TRecordingRequest& request,
                      TObjectHandle pauseHandle, QString* error, TObjectHandle lostHandle = 0);

// What the recorder tells the user when the sound device went away mid-recording.
// In a Wayland session: the words for the screen-cast portal's latest failure (cancelled,
// no portal, no PipeWire), with the engine's `detail` for any other; empty when the
// portal did not fail. Main thread.
QString ScreenSharingFailureText(const QString& detail);
// The desktop stopped the sharing during a recording; the recording ended and was saved.
QString ScreenSharingEndedText();
QString SoundDeviceLostText();

// Finishes the file of a recording that ended normally: an MP4 or MOV written in
// fragments becomes an ordinary file with one index. Serves the engine's main-thread
// calls while it works; `slow` (may be empty) is called once when the work takes more
// than a moment, so the caller can say that the file is being finished. False with the
// reason in `error` when the file could not be finished; it then stays as it was
// written, complete and playable. Main thread.
bool FinishRecordingFile(const QString& fileName, const std::function<void()>& slow,
                         QString* error);

// What the recorder shows while it finishes a file.
QString FinishingFileText();
// What the recorder tells the user when the file could not be finished.
QString FinishFailedText(const QString& reason);
