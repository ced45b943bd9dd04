#include "capture/WaveCapture.h"

#include "capture/HandleTable.h"
#include "capture/SoundClock.h"
#include "capture/SoundMix.h"
#include "capture/SourceOptions.h"
#include "media/Event.h"
#include "media/FFLoad.h"
#include "media/SDLLoader.h"
#include "platform/PulseCapture.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

// A packet of the recording device's sound waiting for the monitor's sound of the same
// moments (both sources).
struct TPendingPacket {
    AVPacket* Packet = nullptr;
    int64_t RecordedUs = 0; // when its first frame was recorded (steady clock)
    int Frames = 0;         // frames recorded for it (the packet may hold a few more or fewer)
};

// The per-open state; the zero-filled record FFmpeg allocates holds a pointer to it.
struct TWaveCaptureState {
    int device = -1;
    int source = 0; // 0 the recording device, 1 the output's monitor, 2 both
    int sample_rate = 44100;
    int channels = 2;
    int bits = 16;
    AVSampleFormat sample_format = AV_SAMPLE_FMT_S16;
    AVCodecID codec_id = AV_CODEC_ID_PCM_S16LE;
    int buffer_size = 4096;
    int frame_size = 4096;
    int block_align = 4;
    int B = 0; // bytes per capture buffer

    // The device: an SDL capture device (the recording device alone) or a stream of the
    // sound server (the monitor, or both sources) filling the handed buffers in turn.
    TSDLLoader Sdl;
    bool SdlInitialised = false;
    std::atomic<SDL_AudioDeviceID> device_handle{0};
    std::unique_ptr<TPulseCapture> Pulse;
    std::atomic<bool> pulse_lost{false}; // the server's stream ended
    std::vector<uint8_t> buffers[2];
    std::recursive_mutex DeviceLock; // guards the three fields below
    std::deque<int> Handed;          // buffers the device holds, in the order given
    int Fill = 0;                    // bytes recorded into Handed.front()
    int current = 0;                 // the buffer the device fills next

    std::atomic<bool> started{false};
    std::atomic<bool> stopped{false};
    std::atomic<bool>* pause_flag = nullptr;
    std::atomic<bool>* lost_flag = nullptr; // set when the device goes away
    // Keeps the sound in step with the system clock that times the pictures; used by
    // the device's thread only.
    TSoundClock Clock{44100};

    // Both sources: the output's monitor as a second stream. Its sound waits in a queue,
    // and each packet of the first waits until the queue holds the monitor's sound of the
    // same moments, found by the times both were recorded.
    std::unique_ptr<TPulseCapture> Second;
    std::mutex SecondLock;            // guards the four fields below
    std::vector<uint8_t> SecondQueue; // its recorded sound, oldest first
    int64_t SecondFrontUs = 0;        // when the queue's first frame was recorded
    std::deque<TPendingPacket> Pending;
    TSoundMixer Mixer;
    std::atomic<bool> second_lost{false}; // its stream ended
    std::atomic<bool> second_gone{false}; // ... and that was reported

    std::mutex QueueLock;
    TEvent DataEvent;
    std::deque<AVPacket*> Queue; // oldest first
    std::atomic<AVFormatContext*> log_context{nullptr};
};

struct TWaveCaptureRecord {
    TWaveCaptureState* State;
};

TWaveCaptureState*& StateOf(AVFormatContext* s) {
    return static_cast<TWaveCaptureRecord*>(s->priv_data)->State;
}

const char* SdlError(const TSDLApi& sdl) {
    const char* text = sdl.SDL_GetError();
    return text && *text ? text : "unknown SDL error";
}

int64_t NowUs() {
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

int64_t FramesToUs(const TWaveCaptureState& w, int64_t frames) {
    return frames * 1000000 / w.sample_rate;
}

int64_t UsToFrames(const TWaveCaptureState& w, int64_t us) {
    return us >= 0 ? (us * w.sample_rate + 500000) / 1000000
                   : -((-us * w.sample_rate + 500000) / 1000000);
}

// How long a packet of the first source waits for the monitor's sound of its moments
// before it goes on with what there is (the monitor is late or stalled).
constexpr int64_t MixWaitUs = 200000;
// The monitor's sound is placed within this of the first source's: closer is not
// measurable from the server's timing reports.
constexpr double MixQuietSeconds = 0.002;
// Past this the monitor's sound is moved at once (sound left out, or silence put in);
// below it the difference is worked off by stretching, as the sound clock does.
constexpr double MixJumpSeconds = 0.02;
constexpr double MixMaxStretch = 0.02;

void QueuePacket(TWaveCaptureState& w, AVPacket* packet) {
    std::lock_guard lock(w.QueueLock);
    w.Queue.push_back(packet);
    w.DataEvent.SetEvent();
}

// Adds to a pending packet the monitor's sound recorded at the same moments. The queue's
// first frame is matched to the packet's first by their recording times: sound recorded
// earlier is left out and a late start is filled with silence, a small difference is
// worked off by taking a few frames more or fewer (at most 2 %), and the monitor's
// frames are stretched to the packet's length like the first source's. Missing sound
// (the monitor is late or gone) mixes as silence. SecondLock is held.
void MixPending(TWaveCaptureState& w, const TPendingPacket& p) {
    const int outFrames = p.Packet->size / w.block_align;
    int64_t queued = int64_t(w.SecondQueue.size()) / w.block_align;
    if (queued == 0 || outFrames == 0) {
        w.SecondQueue.clear();
        return;
    }
    // Positive: the queue begins with sound recorded before the packet's.
    const int64_t behind = UsToFrames(w, p.RecordedUs - w.SecondFrontUs);
    int64_t take = p.Frames, lead = 0;
    if (std::abs(behind) > MixJumpSeconds * w.sample_rate) {
        if (behind > 0) {
            const int64_t drop = std::min(behind, queued);
            w.SecondQueue.erase(w.SecondQueue.begin(),
                                w.SecondQueue.begin() + std::ptrdiff_t(drop * w.block_align));
            w.SecondFrontUs += FramesToUs(w, drop);
            queued -= drop;
            FF.av_log(w.log_context, AV_LOG_DEBUG, "monitor sound %d frames behind, dropped\n",
                      int(drop));
        } else {
            lead = std::min<int64_t>(-behind, p.Frames);
            take = p.Frames - lead;
        }
    } else if (std::abs(behind) > MixQuietSeconds * w.sample_rate) {
        const auto most = int64_t(MixMaxStretch * p.Frames);
        take = p.Frames + std::clamp(behind, -most, most);
    }
    take = std::min(take, queued);
    std::vector<uint8_t> other(size_t(outFrames) * size_t(w.block_align), w.bits == 8 ? 128 : 0);
    const int leadOut = p.Frames > 0 ? int(lead * outFrames / p.Frames) : 0;
    if (take > 0) {
        const int expected = outFrames - leadOut;
        StretchFrames(w.SecondQueue.data(), int(take),
                      other.data() + size_t(leadOut) * size_t(w.block_align), expected, w.channels,
                      w.bits);
        w.SecondQueue.erase(w.SecondQueue.begin(),
                            w.SecondQueue.begin() + std::ptrdiff_t(take * w.block_align));
        w.SecondFrontUs += FramesToUs(w, take);
    }
    w.Mixer.Mix(p.Packet->data, other.data(), outFrames * w.channels, w.bits);
}

// Hands on, oldest first, every pending packet whose moments the monitor's queue covers,
// or that has waited long enough, or all of them once the monitor is gone or `flush`
// asks so. SecondLock is held.
void MixReady(TWaveCaptureState& w, bool flush = false) {
    const int64_t now = NowUs();
    while (!w.Pending.empty()) {
        const TPendingPacket& p = w.Pending.front();
        const int64_t end = p.RecordedUs + FramesToUs(w, p.Frames);
        const int64_t covered =
            w.SecondFrontUs + FramesToUs(w, int64_t(w.SecondQueue.size()) / w.block_align);
        if (!flush && !w.second_lost && covered < end && now - end < MixWaitUs)
            return;
        if (!w.second_lost)
            MixPending(w, p);
        QueuePacket(w, p.Packet);
        w.Pending.pop_front();
    }
}

// Sound of the monitor (both sources), on its stream's thread: queued for the first
// source's packets. Sound before the first read and while paused is thrown away as the
// first source's is.
void SecondRecorded(TWaveCaptureState& w, const uint8_t* data, int frames, int64_t recordedUs) {
    if (w.stopped)
        return;
    std::lock_guard lock(w.SecondLock);
    if (!w.started || (w.pause_flag && w.pause_flag->load())) {
        w.SecondQueue.clear();
        return;
    }
    w.SecondQueue.insert(w.SecondQueue.end(), data, data + size_t(frames) * size_t(w.block_align));
    // The newest report of the server places the whole queue.
    const int64_t queued = int64_t(w.SecondQueue.size()) / w.block_align;
    w.SecondFrontUs = recordedUs + FramesToUs(w, frames - queued);
    // Nobody has taken the sound for a second: the first source has stopped.
    const size_t most = size_t(w.sample_rate) * size_t(w.block_align);
    if (w.SecondQueue.size() > most) {
        const size_t drop = w.SecondQueue.size() - most;
        w.SecondQueue.erase(w.SecondQueue.begin(), w.SecondQueue.begin() + std::ptrdiff_t(drop));
        w.SecondFrontUs += FramesToUs(w, int64_t(drop) / w.block_align);
    }
    MixReady(w);
}

// Hands buffer[current] to the device.
bool AddBuffer(TWaveCaptureState& w) {
    std::lock_guard lock(w.DeviceLock);
    if (w.device_handle == 0 && !w.Pulse) {
        FF.av_log(w.log_context, AV_LOG_DEBUG, "WaveHandle is invalid.\n");
        return false;
    }
    w.Handed.push_back(w.current);
    w.current = 1 - w.current;
    return true;
}

// A buffer came back from the device with `n` bytes recorded, the last of them at
// `endUs`; it is buffer[current].
void DataReturned(TWaveCaptureState& w, int n, int64_t endUs) {
    AVFormatContext* s = w.log_context;
    if (n == 0) {
        AddBuffer(w);
        return;
    }
    if (!w.started) {
        FF.av_log(s, AV_LOG_DEBUG, "not started, skip wave data %d bytes\n", n);
        AddBuffer(w);
        return;
    }
    if (w.pause_flag && w.pause_flag->load()) {
        w.Clock.Skip();
        AddBuffer(w);
        return;
    }
    const int frames = n / w.block_align;
    const int deliver = w.Clock.Deliver(endUs, frames);
    if (deliver == 0) { // sound left out to catch up with the clock
        AddBuffer(w);
        return;
    }
    AVPacket* node = FF.av_packet_alloc();
    const char* error = nullptr;
    if (!node)
        error = "av_mallocz() error\n";
    else if (FF.av_new_packet(node, deliver * w.block_align) < 0) {
        FF.av_packet_free(&node);
        error = "av_new_packet() error\n";
    }
    if (error) {
        w.stopped = true;
        w.DataEvent.SetEvent();
        FF.av_log(s, AV_LOG_ERROR, "%s", error);
        return; // the buffer stays with us: the source has stopped
    }
    StretchFrames(w.buffers[w.current].data(), frames, node->data, deliver, w.channels, w.bits);
    if (w.source == 2) {
        std::lock_guard lock(w.SecondLock);
        w.Pending.push_back({node, endUs - FramesToUs(w, frames), frames});
        MixReady(w);
    } else {
        QueuePacket(w, node);
    }
    AddBuffer(w);
}

// Copies `len` bytes of recorded sound into the handed buffers in turn; the last byte
// was recorded at `endUs`. Each filled buffer goes back with the time of its own end.
void Record(TWaveCaptureState& w, const uint8_t* stream, int len, int64_t endUs) {
    std::lock_guard lock(w.DeviceLock);
    while (len > 0 && !w.stopped && !w.Handed.empty()) {
        if (w.B == 0) { // empty buffers: every return holds nothing
            w.Handed.pop_front();
            DataReturned(w, 0, endUs);
            return;
        }
        const int n = std::min(len, w.B - w.Fill);
        std::memcpy(w.buffers[w.Handed.front()].data() + w.Fill, stream, size_t(n));
        w.Fill += n;
        stream += n;
        len -= n;
        if (w.Fill == w.B) {
            w.Handed.pop_front();
            w.Fill = 0;
            DataReturned(w, w.B, endUs - FramesToUs(w, len / w.block_align));
        }
    }
}

// SDL's callback, on SDL's audio thread: its sound has just been recorded.
void SDLCALL DeviceCallback(void* userdata, Uint8* stream, int len) {
    auto& w = *static_cast<TWaveCaptureState*>(userdata);
    if (!w.stopped)
        Record(w, stream, len, NowUs());
}

void CloseDevice(TWaveCaptureState& w) {
    w.log_context = nullptr;
    w.stopped = true;
    const SDL_AudioDeviceID first = w.device_handle.exchange(0);
    if (first || w.Pulse || w.Second) {
        // Closing waits for a running callback, which may itself wait for the main thread
        // to deliver a log line: close on a helper thread and keep serving meanwhile.
        TEvent closed;
        std::thread closer([&w, first, &closed] {
            if (first)
                w.Sdl.Api().SDL_CloseAudioDevice(first);
            for (std::unique_ptr<TPulseCapture>* capture : {&w.Pulse, &w.Second})
                if (*capture)
                    (*capture)->Close();
            closed.SetEvent();
        });
        closed.WaitServing();
        closer.join();
    }
    if (w.SdlInitialised) {
        w.Sdl.Api().SDL_QuitSubSystem(SDL_INIT_AUDIO);
        w.SdlInitialised = false;
    }
    for (TPendingPacket& p : w.Pending)
        FF.av_packet_free(&p.Packet);
    w.Pending.clear();
    for (AVPacket*& packet : w.Queue)
        FF.av_packet_free(&packet);
    w.Queue.clear();
}

// Noticed on reads: the device is gone (it was unplugged or its server died). The sound
// recorded before stays queued for reading.
void CheckDeviceLost(TWaveCaptureState& w) {
    if (w.second_lost && !w.second_gone && !w.stopped) {
        FF.av_log(w.log_context, AV_LOG_WARNING,
                  "The monitor of the sound output is gone; the recording device goes on.\n");
        w.second_gone = true;
    }
    const SDL_AudioDeviceID dev = w.device_handle;
    const bool gone =
        w.pulse_lost || (dev && w.Sdl.Api().SDL_GetAudioDeviceStatus(dev) == SDL_AUDIO_STOPPED);
    if (gone && !w.stopped) {
        FF.av_log(w.log_context, AV_LOG_INFO, "waveIn device closed.\n");
        FF.av_log(w.log_context, AV_LOG_WARNING, "The sound recording device is gone.\n");
        {
            std::lock_guard lock(w.SecondLock);
            MixReady(w, true);
        }
        w.stopped = true;
        if (w.lost_flag)
            *w.lost_flag = true;
    }
}

// Takes the oldest queued packet, or none, and clears the data event.
AVPacket* TakeQueued(TWaveCaptureState& w) {
    std::lock_guard lock(w.QueueLock);
    AVPacket* packet = nullptr;
    if (!w.Queue.empty()) {
        packet = w.Queue.front();
        w.Queue.pop_front();
    }
    w.DataEvent.ResetEvent();
    return packet;
}

int ReturnPacket(AVPacket* packet, AVPacket* pkt) {
    FF.av_packet_move_ref(pkt, packet);
    FF.av_packet_free(&packet);
    pkt->stream_index = 0;
    return pkt->size;
}

// Opens the recording device through SDL (the recording device alone).
bool OpenSdlDevice(AVFormatContext* s, TWaveCaptureState& w) {
    if (!w.Sdl.Load(FFLoader.LibraryPath(), SDLLibraryFileName)) {
        FF.av_log(s, AV_LOG_ERROR, "%s\n", w.Sdl.LastErrMsg().toUtf8().constData());
        return false;
    }
    const TSDLApi& sdl = w.Sdl.Api();
    if (sdl.SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) {
        FF.av_log(s, AV_LOG_ERROR, "%s\n", SdlError(sdl));
        return false;
    }
    w.SdlInitialised = true;
    const int count = sdl.SDL_GetNumAudioDevices(1); // -1: the driver cannot list them
    if (count == 0) {
        FF.av_log(s, AV_LOG_ERROR, "No wave audio recording devices found.\n");
        return false;
    }
    const char* name = nullptr;
    if (w.device != -1) {
        name =
            w.device >= 0 && w.device < count ? sdl.SDL_GetAudioDeviceName(w.device, 1) : nullptr;
        if (!name) {
            FF.av_log(s, AV_LOG_ERROR, "Recording device %d does not exist.\n", w.device);
            return false;
        }
    }
    SDL_AudioSpec want{};
    want.freq = w.sample_rate;
    want.format = w.bits == 8 ? AUDIO_U8 : AUDIO_S16LSB;
    want.channels = Uint8(w.channels);
    // The device's own period: the power of two nearest below one buffer.
    int frames = w.B / w.block_align;
    Uint16 samples = 64;
    while (samples < 4096 && samples * 2 <= frames)
        samples *= 2;
    want.samples = samples;
    want.callback = &DeviceCallback;
    want.userdata = &w;
    const SDL_AudioDeviceID dev = sdl.SDL_OpenAudioDevice(name, 1, &want, nullptr, 0);
    if (dev == 0) {
        FF.av_log(s, AV_LOG_ERROR, "%s\n", SdlError(sdl));
        return false;
    }
    w.device_handle = dev;
    return true;
}

// Opens a stream of the sound server that delivers to `receiver`, or says why not.
bool OpenPulseStream(AVFormatContext* s, TWaveCaptureState& w, const char* source,
                     std::unique_ptr<TPulseCapture>& capture, std::atomic<bool>& lost,
                     TPulseCapture::TReceiver receiver) {
    // Pieces of 10 ms: the monitor's sound is there soon after the first source's.
    const TPulseCapture::TFormat format{w.sample_rate, w.channels, w.bits,
                                        std::max(1, w.sample_rate / 100)};
    capture = std::make_unique<TPulseCapture>();
    if (!capture->Open(source, format, std::move(receiver), [&lost] { lost = true; })) {
        FF.av_log(s, AV_LOG_ERROR, "%s\n", capture->Error().c_str());
        return false;
    }
    FF.av_log(s, AV_LOG_VERBOSE, "recording from %s\n", capture->SourceName().c_str());
    return true;
}

// The monitor of the default output, and with both sources the default recording
// device, come through the sound server: its timing reports say when each piece was
// recorded, which places the two sources' sound against each other and against the
// system's clock even when this process runs late.
bool OpenPulseDevices(AVFormatContext* s, TWaveCaptureState& w) {
    TWaveCaptureState* state = &w;
    const char* first = w.source == 1 ? TPulseCapture::DefaultMonitor : "";
    if (!OpenPulseStream(s, w, first, w.Pulse, w.pulse_lost,
                         [state](const uint8_t* data, int frames, int64_t recordedUs) {
                             if (!state->stopped)
                                 Record(*state, data, frames * state->block_align,
                                        recordedUs + FramesToUs(*state, frames));
                         }))
        return false;
    if (w.source != 2)
        return true;
    return OpenPulseStream(s, w, TPulseCapture::DefaultMonitor, w.Second, w.second_lost,
                           [state](const uint8_t* data, int frames, int64_t recordedUs) {
                               SecondRecorded(*state, data, frames, recordedUs);
                           });
}

bool OpenDevice(AVFormatContext* s, TWaveCaptureState& w) {
    try {
        w.buffers[0].assign(size_t(w.B), 0);
        w.buffers[1].assign(size_t(w.B), 0);
    } catch (const std::bad_alloc&) {
        FF.av_log(s, AV_LOG_ERROR, "Error allocating wave buffer memory.\n");
        return false;
    }
    // Both buffers are handed over before the device starts, so nothing on this thread
    // needs the device's lock while the callback runs (it may be waiting for this thread
    // to deliver a log line).
    w.Handed = {0, 1};
    w.current = 0;
    if (w.source == 0) {
        if (!OpenSdlDevice(s, w))
            return false;
        FF.av_log(s, AV_LOG_INFO, "waveIn device opened.\n");
        w.Sdl.Api().SDL_PauseAudioDevice(w.device_handle, 0);
        return true;
    }
    if (!OpenPulseDevices(s, w))
        return false;
    FF.av_log(s, AV_LOG_INFO, "waveIn device opened.\n");
    return true;
}

int Fail(AVFormatContext* s, TWaveCaptureState* w, int code) {
    CloseDevice(*w);
    delete w;
    StateOf(s) = nullptr;
    return code;
}

} // namespace

void ParseWaveCaptureOptions(const QString& text, TWaveCaptureOptions& o) {
    TOptionReader reader;
    reader.Lenient({"i"}, o.Device, -1)
        .Lenient({"source"}, o.Source, 0)
        .Lenient({"r"}, o.SampleRate, 44100)
        .Lenient({"c"}, o.Channels, 2)
        .Lenient({"f"}, o.Bits, 16)
        .Lenient({"bufsize"}, o.BufferSize, 4096)
        .Lenient({"pause_pointer"}, o.PauseHandle, 0)
        .Lenient({"lost_pointer"}, o.LostHandle, 0);
    reader.Parse(text); // lenient only: never throws
}

namespace {

// The flag a handle of the option string names; a handle of 0 names none. False, with
// the message, for a handle the table does not hold.
bool FindFlag(AVFormatContext* s, int handle, const char* what, std::atomic<bool>*& flag) {
    if (handle == 0)
        return true;
    flag = FindHandle<std::atomic<bool>>(handle);
    if (!flag)
        FF.av_log(s, AV_LOG_ERROR, "Invalid %s pointer\n", what);
    return flag != nullptr;
}

int WaveReadHeader(AVFormatContext* s, const QString& options, const TInputParameters&) {
    auto* w = new TWaveCaptureState;
    StateOf(s) = w;
    w->log_context = s;
    TWaveCaptureOptions o;
    ParseWaveCaptureOptions(options, o);
    w->device = o.Device;
    w->source = o.Source >= 0 && o.Source <= 2 ? o.Source : 0;
    w->sample_rate = o.SampleRate;
    w->channels = o.Channels;
    w->bits = o.Bits;
    w->buffer_size = o.BufferSize;

    if (w->sample_rate <= 0) {
        FF.av_log(s, AV_LOG_ERROR, "Bad sample rate %d\n", w->sample_rate);
        return Fail(s, w, AVERROR(EIO));
    }
    if (w->channels != 1 && w->channels != 2) {
        FF.av_log(s, AV_LOG_ERROR, "Bad channels number %d\n", w->channels);
        return Fail(s, w, AVERROR(EIO));
    }
    if (w->bits != 8 && w->bits != 16) {
        FF.av_log(s, AV_LOG_ERROR, "Bad sample format %d\n", w->bits);
        return Fail(s, w, AVERROR(EIO));
    }
    if (!FindFlag(s, o.PauseHandle, "pause", w->pause_flag) ||
        !FindFlag(s, o.LostHandle, "lost", w->lost_flag))
        return Fail(s, w, AVERROR(EINVAL));
    w->sample_format = w->bits == 8 ? AV_SAMPLE_FMT_U8 : AV_SAMPLE_FMT_S16;
    w->codec_id = w->bits == 8 ? AV_CODEC_ID_PCM_U8 : AV_CODEC_ID_PCM_S16LE;
    w->block_align = std::max(1, w->channels * w->bits / 8);
    w->B = std::max(0, w->buffer_size) / w->block_align * w->block_align;
    w->Clock = TSoundClock(w->sample_rate);

    if (!OpenDevice(s, *w))
        return Fail(s, w, AVERROR(EIO));

    AVStream* st = NewSourceStream(s);
    if (!st) {
        FF.av_log(s, AV_LOG_ERROR, "Cannot add stream.\n");
        return Fail(s, w, AVERROR(ENOMEM));
    }
    AVCodecParameters* par = st->codecpar;
    par->codec_type = AVMEDIA_TYPE_AUDIO;
    par->codec_id = w->codec_id;
    par->format = w->sample_format;
    FF.av_channel_layout_default(&par->ch_layout, w->channels);
    par->sample_rate = w->sample_rate;
    par->block_align = w->block_align;
    par->bit_rate = int64_t(w->sample_rate) * w->channels * w->bits;
    par->frame_size = w->frame_size;
    par->bits_per_coded_sample = w->bits;
    FF.av_log(s, AV_LOG_INFO, "ready for recording...\n");
    return 0;
}

int WaveReadPacket(AVFormatContext* s, AVPacket* pkt) {
    TWaveCaptureState& w = *StateOf(s);
    w.started = true;
    CheckDeviceLost(w);
    for (;;) {
        if (AVPacket* packet = TakeQueued(w))
            return ReturnPacket(packet, pkt);
        if (w.stopped)
            return AVERROR_EOF;
        if (s->flags & AVFMT_FLAG_NONBLOCK) {
            FF.av_log(s, AV_LOG_DEBUG, "non-block, need read again\n");
            return AVERROR(EAGAIN);
        }
        // Up to a second, looking at the device every tenth: a device that went away
        // must not hold up the pictures read in turn with it.
        bool woken = false;
        for (int i = 0; i < 10 && !woken && !w.stopped; ++i) {
            woken = w.DataEvent.WaitFor(100);
            if (!woken)
                CheckDeviceLost(w);
        }
        if (!woken && !w.stopped) {
            FF.av_log(s, AV_LOG_DEBUG, "wait timeout, need read again\n");
            return AVERROR(EAGAIN);
        }
        // A packet came, or the device went away: the loop hands over what is queued.
    }
}

int WaveReadClose(AVFormatContext* s) {
    if (TWaveCaptureState* w = StateOf(s)) {
        CloseDevice(*w);
        delete w;
        StateOf(s) = nullptr;
    }
    return 0;
}

} // namespace

const TOwnInputFormat WaveCaptureFormat = {
    WaveCaptureName,
    "Wave capture using waveIn functions",
    int(sizeof(TWaveCaptureRecord)),
    &WaveReadHeader,
    &WaveReadPacket,
    &WaveReadClose,
};

void RegisterWaveCapture() {
    RegisterInputFormat(WaveCaptureFormat);
}
