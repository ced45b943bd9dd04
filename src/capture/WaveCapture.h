#pragma once

#include "media/InputFormats.h"

#include <QString>

// The input format "wavecapture": PCM sound from a recording device, in packets of one
// filled capture buffer each.
//
//     std::atomic<bool> FWavePauseFlag{false};                // owned by the caller
//     THandleRegistration<std::atomic<bool>> pause(&FWavePauseFlag); // HandleTable.h
//     RegisterWaveCapture();                                  // after FFLoader.Load
//     AVFormatContext* ic = nullptr;
//     OpenInput(&ic, "r=44100;c=2;f=16;pause_pointer=" + pause.Text(),
//               FindInputFormat("wavecapture"), nullptr, nullptr);
//
// Option string keys (any letter case; every number lenient: malformed gives the value
// in parentheses):
//   i=N             device N of SDL's recording devices; -1 the default (-1). Only for
//                   source 0.
//   source=N        0 the recording device (above) through SDL, 1 the monitor of the
//                   default output device (what the computer plays), 2 the default
//                   recording device and that monitor mixed into one track (0); other
//                   values read as 0. Sources 1 and 2 record through the sound server
//                   (PulseAudio, or PipeWire through pipewire-pulse, TPulseCapture);
//                   without one the open fails.
//   r=HZ            sample rate (44100); must be > 0
//   c=N             channels, 1 or 2 (2)
//   f=BITS          8 (unsigned) or 16 (signed little-endian) bits per sample (16)
//   bufsize=BYTES   capture buffer size, rounded down to whole sample frames (4096)
//   pause_pointer=H handle of a std::atomic<bool> registered in the handle table; while
//                   it is true, recorded sound is thrown away (0: no pause flag). An
//                   unregistered handle fails the open with AVERROR(EINVAL).
//   lost_pointer=H  handle of a std::atomic<bool> that is set when the device goes away
//                   mid-recording (0: none); an unregistered handle fails the open.
//
// The device records from the open on; until the first read its sound is thrown away.
// Sound comes in through two capture buffers in turn, each handed back to the device as
// soon as it is copied; every filled buffer becomes one queued packet. A read returns
// the oldest queued packet, waits up to a second for one (AVERROR(EAGAIN) after that,
// or at once in non-blocking mode), and returns AVERROR_EOF once the device has stopped
// and every packet recorded before is read. A device that goes away (unplugged, its
// sound server gone) stops the source with a warning; the rest of the job goes on.
// The device's clock is kept in step with the system's (SoundClock.h), so a packet
// holds a few frames more or fewer than the buffer when the device runs fast or slow.
// The sound server says when each piece of its sound was recorded; that time, not the
// time the piece arrived, is the clock's measure, so a process that runs late on a
// loaded machine neither shifts nor loses sound. With both sources the monitor is a
// second stream; its sound waits in a queue, and each packet of the recording device
// waits (up to 0.2 s) until the queue holds the monitor's sound of the same moments,
// matched by their recording times to within 2 ms, and then takes it in without
// clipping (SoundMix.h). Should the monitor go away, the packets go on with the
// recording device's sound alone.
// SDL (the one file the process uses, SDLLoader.h, from the media library folder) picks
// its driver as it does ($SDL_AUDIODRIVER); SDL and the sound server convert the
// device's own format to the one asked for. Packets carry no time stamps.

inline constexpr const char* WaveCaptureName = "wavecapture";
extern const TOwnInputFormat WaveCaptureFormat;

// Registers "wavecapture" with the engine; again changes nothing. libavformat must be
// loaded. Main thread.
// What an option string of "wavecapture" asks for; absent keys keep these values.
struct TWaveCaptureOptions {
    int Device = -1;
    int Source = 0; // 0 the recording device, 1 the output's monitor, 2 both
    int SampleRate = 44100;
    int Channels = 2;
    int Bits = 16;
    int BufferSize = 4096;
    int PauseHandle = 0; // a handle of the handle table, 0: no pause flag
    int LostHandle = 0;  // the same for the device-lost flag
};

// Applies the option string to `options`. Every key is lenient, so this never throws.
// Needs no device and no media library. Thread-safe.
void ParseWaveCaptureOptions(const QString& text, TWaveCaptureOptions& options);

void RegisterWaveCapture();
