#include "capture/WaveCapture.h"

#include "capture/HandleTable.h"
#include "capture/SoundClock.h"
#include "capture/SourceOptions.h"
#include "media/Event.h"
#include "media/FFLoad.h"
#include "media/SDLLoader.h"

#include <atomic>
#include <chrono>
#include <cstring>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

namespace {

// The per-open state; the zero-filled record FFmpeg allocates holds a pointer to it.
struct TWaveCaptureState {
    int device = -1;
    int sample_rate = 44100;
    int channels = 2;
    int bits = 16;
    AVSampleFormat sample_format = AV_SAMPLE_FMT_S16;
    AVCodecID codec_id = AV_CODEC_ID_PCM_S16LE;
    int buffer_size = 4096;
    int frame_size = 4096;
    int block_align = 4;
    int B = 0; // bytes per capture buffer

    // The device: an SDL capture device filling the handed buffers in turn.
    TSDLLoader Sdl;
    bool SdlInitialised = false;
    std::atomic<SDL_AudioDeviceID> device_handle{0};
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
    // the device callback only.
    TSoundClock Clock{44100};

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

// Hands buffer[current] to the device.
bool AddBuffer(TWaveCaptureState& w) {
    std::lock_guard lock(w.DeviceLock);
    if (w.device_handle == 0) {
        FF.av_log(w.log_context, AV_LOG_DEBUG, "WaveHandle is invalid.\n");
        return false;
    }
    w.Handed.push_back(w.current);
    w.current = 1 - w.current;
    return true;
}

// A buffer came back from the device with `n` bytes recorded; it is buffer[current].
void DataReturned(TWaveCaptureState& w, int n) {
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
    const int64_t now = std::chrono::duration_cast<std::chrono::microseconds>(
                            std::chrono::steady_clock::now().time_since_epoch())
                            .count();
    const int deliver = w.Clock.Deliver(now, frames);
    if (deliver == 0) { // sound left out to catch up with the clock
        AddBuffer(w);
        return;
    }
    const char* error = nullptr;
    {
        std::lock_guard lock(w.QueueLock);
        AVPacket* node = FF.av_packet_alloc();
        if (!node)
            error = "av_mallocz() error\n";
        else if (FF.av_new_packet(node, deliver * w.block_align) < 0) {
            FF.av_packet_free(&node);
            error = "av_new_packet() error\n";
        }
        if (!error) {
            StretchFrames(w.buffers[w.current].data(), frames, node->data, deliver, w.channels,
                          w.bits);
            w.Queue.push_back(node);
        } else {
            w.stopped = true;
        }
        w.DataEvent.SetEvent();
    }
    if (error) {
        FF.av_log(s, AV_LOG_ERROR, "%s", error);
        return; // the buffer stays with us: the source has stopped
    }
    AddBuffer(w);
}

// SDL's callback, on SDL's audio thread: records into the handed buffers in turn.
void SDLCALL DeviceCallback(void* userdata, Uint8* stream, int len) {
    auto& w = *static_cast<TWaveCaptureState*>(userdata);
    if (w.stopped)
        return;
    std::lock_guard lock(w.DeviceLock);
    while (len > 0 && !w.stopped && !w.Handed.empty()) {
        if (w.B == 0) { // empty buffers: every return holds nothing
            w.Handed.pop_front();
            DataReturned(w, 0);
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
            DataReturned(w, w.B);
        }
    }
}

void CloseDevice(TWaveCaptureState& w) {
    w.log_context = nullptr;
    w.stopped = true;
    if (const SDL_AudioDeviceID dev = w.device_handle.exchange(0)) {
        // Closing waits for a running callback, which may itself wait for the main thread
        // to deliver a log line: close on a helper thread and keep serving meanwhile.
        TEvent closed;
        std::thread closer([&w, dev, &closed] {
            w.Sdl.Api().SDL_CloseAudioDevice(dev);
            closed.SetEvent();
        });
        closed.WaitServing();
        closer.join();
    }
    if (w.SdlInitialised) {
        w.Sdl.Api().SDL_QuitSubSystem(SDL_INIT_AUDIO);
        w.SdlInitialised = false;
    }
    for (AVPacket*& packet : w.Queue)
        FF.av_packet_free(&packet);
    w.Queue.clear();
}

// Noticed on reads: SDL has given the device up (it was unplugged or its server died).
// The sound recorded before stays queued for reading.
void CheckDeviceLost(TWaveCaptureState& w) {
    const SDL_AudioDeviceID dev = w.device_handle;
    if (dev && !w.stopped && w.Sdl.Api().SDL_GetAudioDeviceStatus(dev) == SDL_AUDIO_STOPPED) {
        FF.av_log(w.log_context, AV_LOG_INFO, "waveIn device closed.\n");
        FF.av_log(w.log_context, AV_LOG_WARNING, "The sound recording device is gone.\n");
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

bool OpenDevice(AVFormatContext* s, TWaveCaptureState& w) {
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
    try {
        w.buffers[0].assign(size_t(w.B), 0);
        w.buffers[1].assign(size_t(w.B), 0);
    } catch (const std::bad_alloc&) {
        FF.av_log(s, AV_LOG_ERROR, "Error allocating wave buffer memory.\n");
        return false;
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
    FF.av_log(s, AV_LOG_INFO, "waveIn device opened.\n");
    // Both buffers are handed over before the device starts, so nothing on this thread
    // needs the device's lock while the callback runs (it may be waiting for this thread
    // to deliver a log line).
    w.current = 0;
    AddBuffer(w);
    AddBuffer(w);
    sdl.SDL_PauseAudioDevice(dev, 0);
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
