#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

// Sound from a source of the user's sound server through libpulse (PulseAudio, or
// PipeWire through pipewire-pulse), with the time each piece was recorded.
//
//     TPulseCapture capture;
//     TPulseCapture::TFormat format{44100, 2, 16, 441}; // 10 ms pieces
//     capture.Open(TPulseCapture::DefaultMonitor, format,
//                  [](const uint8_t* data, int frames, int64_t recordedUs) { ... },
//                  [] { /* the source or the server went away */ });
//     if (!capture.Error().empty()) ...
//
// Every piece read from the server is handed to the receiver on the capture's own
// thread: interleaved frames (8-bit unsigned or 16-bit signed little-endian) and the time
// its first frame was recorded, on the steady clock (std::chrono::steady_clock, in
// microseconds). The time comes from the server's account of what it recorded and what
// the capture has read, not from when the piece arrived, so a capture thread that runs
// late (a loaded machine) delays pieces without shifting their times. Sound the server
// had to leave out comes as silence. The stream asks for pieces of the given length and
// for no more latency than that, so the server records in short periods.
// The lost handler is called once, on the capture's thread, when the stream ends without
// Close: the source was removed or the server died. A monitor stream is never moved to
// another source (the server would pick the default recording device, which is not what
// the computer plays).
struct TPulseCaptureState;

class TPulseCapture {
public:
    struct TFormat {
        int SampleRate = 44100;
        int Channels = 2;
        int Bits = 16;           // 8 or 16
        int PeriodFrames = 1024; // the length of a piece the server sends
    };
    using TReceiver = std::function<void(const uint8_t* data, int frames, int64_t recordedUs)>;
    using TLostHandler = std::function<void()>;

    // The name that opens the monitor of the server's default output.
    static constexpr const char* DefaultMonitor = "@DEFAULT_MONITOR@";

    TPulseCapture();
    ~TPulseCapture();
    TPulseCapture(const TPulseCapture&) = delete;
    TPulseCapture& operator=(const TPulseCapture&) = delete;

    // Connects to the server ($PULSE_SERVER or the session's) and starts recording from
    // `source` (empty: the default recording device, $PULSE_SOURCE when set). Returns
    // once the server's timing reports have settled (they may not agree with the sound
    // at first, while the source changes its latency): at most a second after the first
    // piece came, three in all. False, with Error() saying why, when there is no server,
    // no such source or the format is refused. Call once. Not thread-safe.
    bool Open(const std::string& source, const TFormat& format, TReceiver receiver,
              TLostHandler lost);

    // Stops recording and ends the capture's thread; no receiver or lost handler runs
    // once it returns. Again does nothing. Not thread-safe; never from the receiver.
    void Close();

    // The name of the source recorded, as the server knows it (after Open).
    std::string SourceName() const;

    // Why Open failed, in English; empty after a good Open. Not thread-safe.
    std::string Error() const;

private:
    std::unique_ptr<TPulseCaptureState> FState;
};
