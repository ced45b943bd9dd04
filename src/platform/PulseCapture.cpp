#include "platform/PulseCapture.h"

#include <pulse/pulseaudio.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

struct TPulseCaptureState {
    using TFormat = TPulseCapture::TFormat;
    pa_threaded_mainloop* Loop = nullptr;
    pa_context* Context = nullptr;
    pa_stream* Stream = nullptr;
    bool Running = false; // the loop's thread runs
    TFormat Format;
    int FrameBytes = 4;
    TPulseCapture::TReceiver Receiver;
    TPulseCapture::TLostHandler Lost;
    // Guarded by the loop's lock:
    bool Closing = false;
    bool LostCalled = false;
    std::vector<uint8_t> Silence; // stands in for sound the server left out
    // The pieces' recording times. The server's timing reports may not agree with the
    // sound it sends just after the stream starts, while the source changes its latency
    // to the one asked (by as much as a quarter second), nor whenever another stream
    // makes it change again. The sound itself comes without a gap, so a piece's time is
    // its place in the stream plus an offset that follows the reports only slowly, as
    // far as the two clocks (the source's and the system's) can drift apart; until the
    // reports have settled, the offset follows them at once.
    int64_t Frames = 0;     // frames read so far
    int64_t Offset = 0;     // a piece's recording time less its place in the stream
    int64_t LastReport = 0; // the offset the last report gave
    int AgreeingPieces = 0; // pieces in a row whose reports settled
    std::atomic<bool> Settled{false};
    std::atomic<int64_t> FirstPieceUs{0}; // when the first piece came (the server may wait)
    std::string SourceName;
    std::string Error;
};

namespace {

using TState = TPulseCaptureState;

int64_t NowUs() {
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

int64_t FramesToUs(int64_t frames, int rate) {
    return frames * 1000000 / rate;
}

// Reports that place the pieces to within this of the one before, and no more than
// SettledLatencyUs before they are read, have settled...
constexpr int64_t TimingAgreementUs = 1000;
constexpr int64_t SettledLatencyUs = 50000;
// ...once this many pieces in a row show it.
constexpr int SettledPieces = 10;
// Open waits at most this long for them after the first piece, and this long in all.
constexpr int64_t SettleWaitUs = 1000000;
constexpr int64_t OpenWaitUs = 3000000;
// How fast the offset follows the reports once settled: 1 ms a second, far more than
// two sound clocks drift apart.
constexpr double OffsetSlew = 0.001;

// When the first frame of a piece of `frames` about to be read was recorded, given the
// time the server's reports give.
int64_t PieceTime(TState& state, int64_t reported, int frames) {
    const int rate = state.Format.SampleRate;
    const int64_t place = FramesToUs(state.Frames, rate);
    const int64_t report = reported - place;
    if (state.Frames == 0)
        state.FirstPieceUs = NowUs();
    if (!state.Settled) {
        const bool agrees = state.Frames > 0 &&
                            std::abs(report - state.LastReport) <= TimingAgreementUs &&
                            NowUs() - reported <= SettledLatencyUs;
        state.AgreeingPieces = agrees ? state.AgreeingPieces + 1 : 0;
        state.Offset = report;
        if (state.AgreeingPieces >= SettledPieces)
            state.Settled = true;
    } else {
        const auto most = int64_t(OffsetSlew * double(FramesToUs(frames, rate))) + 1;
        state.Offset += std::clamp(report - state.Offset, -most, most);
    }
    state.LastReport = report;
    state.Frames += frames;
    return state.Offset + place;
}

// On the loop's thread: the stream or the connection is gone without Close.
void ReportLost(TState& state) {
    if (state.Closing || state.LostCalled)
        return;
    state.LostCalled = true;
    if (state.Lost)
        state.Lost();
}

void ContextChanged(pa_context* context, void* userdata) {
    auto& state = *static_cast<TState*>(userdata);
    const pa_context_state_t now = pa_context_get_state(context);
    if (now == PA_CONTEXT_FAILED || now == PA_CONTEXT_TERMINATED)
        ReportLost(state);
    pa_threaded_mainloop_signal(state.Loop, 0);
}

void StreamChanged(pa_stream* stream, void* userdata) {
    auto& state = *static_cast<TState*>(userdata);
    const pa_stream_state_t now = pa_stream_get_state(stream);
    if (now == PA_STREAM_FAILED || now == PA_STREAM_TERMINATED)
        ReportLost(state);
    pa_threaded_mainloop_signal(state.Loop, 0);
}

// When the first frame of the `bytes` about to be read was recorded. The stream's latency
// is the sound recorded but not yet read, this piece included, so its first frame was
// recorded that long ago. Before the server's first timing report (or after sound was
// lost) the piece is taken as just recorded.
int64_t RecordedAt(TState& state, pa_stream* stream, size_t bytes) {
    const int64_t now = NowUs();
    pa_usec_t latency = 0;
    int negative = 0;
    if (pa_stream_get_latency(stream, &latency, &negative) == 0)
        return negative ? now + int64_t(latency) : now - int64_t(latency);
    return now - FramesToUs(int64_t(bytes) / state.FrameBytes, state.Format.SampleRate);
}

void Readable(pa_stream* stream, size_t, void* userdata) {
    auto& state = *static_cast<TState*>(userdata);
    while (!state.Closing) {
        const void* data = nullptr;
        size_t bytes = 0;
        if (pa_stream_peek(stream, &data, &bytes) < 0 || bytes == 0)
            return;
        const int frames = int(bytes / size_t(state.FrameBytes));
        const int64_t recorded = PieceTime(state, RecordedAt(state, stream, bytes), frames);
        if (!data) { // a hole: sound the server left out
            state.Silence.assign(bytes, state.Format.Bits == 8 ? 0x80 : 0);
            data = state.Silence.data();
        }
        if (frames > 0 && state.Receiver)
            state.Receiver(static_cast<const uint8_t*>(data), frames, recorded);
        pa_stream_drop(stream);
    }
}

// Waits, holding the loop's lock, until `ready` or `failed` says so.
template <typename TReady, typename TFailed>
bool WaitFor(TState& state, TReady ready, TFailed failed) {
    for (;;) {
        if (ready())
            return true;
        if (failed())
            return false;
        pa_threaded_mainloop_wait(state.Loop);
    }
}

std::string ContextError(TState& state, const char* what) {
    return std::string(what) + ": " + pa_strerror(pa_context_errno(state.Context));
}

bool ConnectContext(TState& state) {
    state.Context =
        pa_context_new(pa_threaded_mainloop_get_api(state.Loop), "Vexmira screen recording");
    if (!state.Context) {
        state.Error = "cannot make a sound server connection";
        return false;
    }
    pa_context_set_state_callback(state.Context, &ContextChanged, &state);
    if (pa_context_connect(state.Context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
        state.Error = ContextError(state, "no sound server");
        return false;
    }
    if (pa_threaded_mainloop_start(state.Loop) < 0) {
        state.Error = "cannot start the sound server connection's thread";
        return false;
    }
    state.Running = true;
    pa_threaded_mainloop_lock(state.Loop);
    const bool ready = WaitFor(
        state, [&] { return pa_context_get_state(state.Context) == PA_CONTEXT_READY; },
        [&] { return !PA_CONTEXT_IS_GOOD(pa_context_get_state(state.Context)); });
    if (!ready)
        state.Error = ContextError(state, "no sound server");
    pa_threaded_mainloop_unlock(state.Loop);
    return ready;
}

// Holding the loop's lock.
bool ConnectStream(TState& state, const std::string& source) {
    pa_sample_spec spec{};
    spec.format = state.Format.Bits == 8 ? PA_SAMPLE_U8 : PA_SAMPLE_S16LE;
    spec.rate = uint32_t(state.Format.SampleRate);
    spec.channels = uint8_t(state.Format.Channels);
    state.Stream = pa_stream_new(state.Context, "Recording", &spec, nullptr);
    if (!state.Stream) {
        state.Error = ContextError(state, "cannot record");
        return false;
    }
    pa_stream_set_state_callback(state.Stream, &StreamChanged, &state);
    pa_stream_set_read_callback(state.Stream, &Readable, &state);
    pa_buffer_attr attributes{};
    attributes.maxlength = uint32_t(-1);
    attributes.tlength = attributes.prebuf = attributes.minreq = uint32_t(-1);
    attributes.fragsize = uint32_t(state.Format.PeriodFrames * state.FrameBytes);
    auto flags = pa_stream_flags_t(PA_STREAM_ADJUST_LATENCY | PA_STREAM_INTERPOLATE_TIMING |
                                   PA_STREAM_AUTO_TIMING_UPDATE);
    if (!source.empty())
        flags = pa_stream_flags_t(flags | PA_STREAM_DONT_MOVE);
    if (pa_stream_connect_record(state.Stream, source.empty() ? nullptr : source.c_str(),
                                 &attributes, flags) < 0) {
        state.Error = ContextError(state, "cannot record");
        return false;
    }
    const bool ready = WaitFor(
        state, [&] { return pa_stream_get_state(state.Stream) == PA_STREAM_READY; },
        [&] { return !PA_STREAM_IS_GOOD(pa_stream_get_state(state.Stream)); });
    if (!ready) {
        state.Error =
            ContextError(state, ("cannot record from " +
                                 (source.empty() ? std::string("the default source") : source))
                                    .c_str());
        return false;
    }
    if (const char* name = pa_stream_get_device_name(state.Stream))
        state.SourceName = name;
    return true;
}

} // namespace

TPulseCapture::TPulseCapture() : FState(std::make_unique<TPulseCaptureState>()) {}

TPulseCapture::~TPulseCapture() {
    Close();
}

bool TPulseCapture::Open(const std::string& source, const TFormat& format, TReceiver receiver,
                         TLostHandler lost) {
    TPulseCaptureState& state = *FState;
    state.Format = format;
    state.FrameBytes = format.Channels * (format.Bits == 8 ? 1 : 2);
    state.Receiver = std::move(receiver);
    state.Lost = std::move(lost);
    if (format.SampleRate <= 0 || format.Channels < 1 || format.Channels > 2 ||
        (format.Bits != 8 && format.Bits != 16) || format.PeriodFrames <= 0) {
        state.Error = "unsupported sound format";
        return false;
    }
    state.Loop = pa_threaded_mainloop_new();
    if (!state.Loop) {
        state.Error = "cannot make a sound server connection";
        return false;
    }
    if (!ConnectContext(state)) {
        Close();
        return false;
    }
    pa_threaded_mainloop_lock(state.Loop);
    const bool ok = ConnectStream(state, source);
    pa_threaded_mainloop_unlock(state.Loop);
    // Sound read while the server's timing reports still settle would be placed wrongly
    // (by as much as a quarter second when the source lowers its latency): the recording
    // begins once they agree. The pieces meanwhile go to the receiver as always.
    const int64_t opened = NowUs();
    while (ok && !state.Settled && NowUs() - opened < OpenWaitUs &&
           !(state.FirstPieceUs > 0 && NowUs() - state.FirstPieceUs >= SettleWaitUs))
        std::this_thread::sleep_for(std::chrono::microseconds(5000));
    if (!ok) {
        const std::string error = state.Error;
        Close();
        state.Error = error;
    }
    return ok;
}

void TPulseCapture::Close() {
    TPulseCaptureState& state = *FState;
    if (!state.Loop)
        return;
    if (state.Running)
        pa_threaded_mainloop_lock(state.Loop);
    state.Closing = true;
    if (state.Stream) {
        pa_stream_set_read_callback(state.Stream, nullptr, nullptr);
        pa_stream_set_state_callback(state.Stream, nullptr, nullptr);
        pa_stream_disconnect(state.Stream);
        pa_stream_unref(state.Stream);
        state.Stream = nullptr;
    }
    if (state.Context) {
        pa_context_set_state_callback(state.Context, nullptr, nullptr);
        pa_context_disconnect(state.Context);
        pa_context_unref(state.Context);
        state.Context = nullptr;
    }
    if (state.Running) {
        pa_threaded_mainloop_unlock(state.Loop);
        pa_threaded_mainloop_stop(state.Loop);
        state.Running = false;
    }
    pa_threaded_mainloop_free(state.Loop);
    state.Loop = nullptr;
}

std::string TPulseCapture::SourceName() const {
    return FState->SourceName;
}

std::string TPulseCapture::Error() const {
    return FState->Error;
}
