#include "capture/WaveCapture.h"

#include "capture/HandleTable.h"
#include "capture/SoundClock.h"
#include "capture/SoundMix.h"
#include "capture/SourceOptions.h"
#include "media/Event.h"
#include "media/FFLoad.h"
#include "media/SDLLoader.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

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

    // Both sources: the output's monitor as a second device, its sound waiting until a
    // buffer of the first comes back and takes it in.
    std::atomic<SDL_AudioDeviceID> second_handle{0};
    std::mutex SecondLock;            // guards the three fields below
    std::vector<uint8_t> SecondQueue; // its recorded sound, oldest first
    TSoundClock SecondClock{44100};   // used by the second device's callback
    std::vector<int> SecondLevels;    // queued frames at the last takes (up to a second)
    TSoundMixer Mixer;                // used by the first device's callback only
    std::atomic<bool> second_gone{false};

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

// The second device's period in sample frames: short, so its sound is never more than
// a few milliseconds from where the first device's is.
constexpr int SecondPeriod = 256;

// SDL's callback of the second device (both sources), on SDL's audio thread: queues its
// sound, kept in step with the system's clock, for the first device's buffers. Sound
// before the first read and while paused is thrown away as the first device's is.
void SDLCALL SecondDeviceCallback(void* userdata, Uint8* stream, int len) {
    auto& w = *static_cast<TWaveCaptureState*>(userdata);
    if (w.stopped)
        return;
    std::lock_guard lock(w.SecondLock);
    if (!w.started || (w.pause_flag && w.pause_flag->load())) {
        w.SecondQueue.clear();
        w.SecondLevels.clear();
        w.SecondClock.Skip();
        return;
    }
    const int frames = len / w.block_align;
    const int deliver = w.SecondClock.Deliver(NowUs(), frames);
    const size_t old = w.SecondQueue.size();
    w.SecondQueue.resize(old + size_t(deliver) * size_t(w.block_align));
    StretchFrames(stream, frames, w.SecondQueue.data() + old, deliver, w.channels, w.bits);
    // Nobody has taken the sound for a second: the first device has stopped.
    const size_t most = size_t(w.sample_rate) * size_t(w.block_align);
    if (w.SecondQueue.size() > most)
        w.SecondQueue.erase(w.SecondQueue.begin(), w.SecondQueue.end() - std::ptrdiff_t(most));
}

// Adds the second device's queued sound to `frames` frames of the first's at `data`.
// The queue holds what the second device recorded since the last take: about as much
// as the first device's buffer, plus up to one period of its own. When it has held more
// at every take of the last second, the second device's sound lags by the surplus,
// which is dropped. Missing sound (the device is late or gone) mixes as silence.
void MixSecond(TWaveCaptureState& w, uint8_t* data, int frames) {
    std::lock_guard lock(w.SecondLock);
    const int queued = int(w.SecondQueue.size() / size_t(w.block_align));
    w.SecondLevels.push_back(queued - frames);
    const size_t window = size_t(std::max(1, w.sample_rate / std::max(1, frames)));
    if (w.SecondLevels.size() >= window) {
        const int lag =
            *std::min_element(w.SecondLevels.begin(), w.SecondLevels.end()) - SecondPeriod;
        if (lag > 0) {
            w.SecondQueue.erase(w.SecondQueue.begin(),
                                w.SecondQueue.begin() + std::ptrdiff_t(lag) * w.block_align);
            FF.av_log(w.log_context, AV_LOG_DEBUG, "monitor sound %d frames behind, dropped\n",
                      lag);
        }
        w.SecondLevels.clear();
    }
    const size_t bytes = size_t(frames) * size_t(w.block_align);
    const size_t take = std::min(bytes, w.SecondQueue.size());
    std::vector<uint8_t> other(bytes, w.bits == 8 ? 128 : 0);
    if (take > 0)
        std::memcpy(other.data(), w.SecondQueue.data(), take);
    w.SecondQueue.erase(w.SecondQueue.begin(), w.SecondQueue.begin() + std::ptrdiff_t(take));
    w.Mixer.Mix(data, other.data(), frames * w.channels, w.bits);
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
    const int deliver = w.Clock.Deliver(NowUs(), frames);
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
            if (w.source == 2)
                MixSecond(w, node->data, deliver);
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
    const SDL_AudioDeviceID first = w.device_handle.exchange(0);
    const SDL_AudioDeviceID second = w.second_handle.exchange(0);
    if (first || second) {
        // Closing waits for a running callback, which may itself wait for the main thread
        // to deliver a log line: close on a helper thread and keep serving meanwhile.
        TEvent closed;
        std::thread closer([&w, first, second, &closed] {
            for (const SDL_AudioDeviceID dev : {first, second})
                if (dev)
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
    const SDL_AudioDeviceID second = w.second_handle;
    if (second && !w.second_gone && !w.stopped &&
        w.Sdl.Api().SDL_GetAudioDeviceStatus(second) == SDL_AUDIO_STOPPED) {
        FF.av_log(w.log_context, AV_LOG_WARNING,
                  "The monitor of the sound output is gone; the recording device goes on.\n");
        w.second_gone = true;
    }
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

// The names of SDL's recording devices.
std::vector<std::string> RecordingDevices(const TSDLApi& sdl) {
    std::vector<std::string> names;
    const int count = sdl.SDL_GetNumAudioDevices(1);
    for (int i = 0; i < count; ++i)
        if (const char* name = sdl.SDL_GetAudioDeviceName(i, 1))
            names.emplace_back(name);
    return names;
}

// Starts SDL's sound with monitors of output devices listed among the recording devices
// or not.
bool InitSound(AVFormatContext* s, TWaveCaptureState& w, bool monitors) {
    const TSDLApi& sdl = w.Sdl.Api();
    sdl.SDL_SetHint(SDL_HINT_AUDIO_INCLUDE_MONITORS, monitors ? "1" : "0");
    if (sdl.SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) {
        FF.av_log(s, AV_LOG_ERROR, "%s\n", SdlError(sdl));
        return false;
    }
    w.SdlInitialised = true;
    return true;
}

// Finds the monitor of the default output device among SDL's recording devices: the
// devices that are listed only with monitors are monitors, and of several the one whose
// name holds the default output's ("Monitor of <output>" in the sound server's
// language) is its monitor. Leaves SDL's sound started with monitors listed.
bool FindOutputMonitor(AVFormatContext* s, TWaveCaptureState& w, std::string& monitor) {
    const TSDLApi& sdl = w.Sdl.Api();
    if (!InitSound(s, w, false))
        return false;
    const std::vector<std::string> plain = RecordingDevices(sdl);
    std::string output;
    char* name = nullptr;
    SDL_AudioSpec spec{};
    if (sdl.SDL_GetDefaultAudioInfo(&name, &spec, 0) == 0 && name) {
        output = name;
        sdl.SDL_free(name);
    }
    sdl.SDL_QuitSubSystem(SDL_INIT_AUDIO);
    w.SdlInitialised = false;
    if (!InitSound(s, w, true))
        return false;
    std::vector<std::string> monitors;
    for (const std::string& device : RecordingDevices(sdl))
        if (std::find(plain.begin(), plain.end(), device) == plain.end())
            monitors.push_back(device);
    for (const std::string& m : monitors)
        if (!output.empty() && m.find(output) != std::string::npos) {
            monitor = m;
            return true;
        }
    if (monitors.size() == 1) {
        monitor = monitors.front();
        return true;
    }
    FF.av_log(s, AV_LOG_ERROR, "No monitor of the sound output device found.\n");
    return false;
}

bool OpenDevice(AVFormatContext* s, TWaveCaptureState& w) {
    if (!w.Sdl.Load(FFLoader.LibraryPath(), SDLLibraryFileName)) {
        FF.av_log(s, AV_LOG_ERROR, "%s\n", w.Sdl.LastErrMsg().toUtf8().constData());
        return false;
    }
    const TSDLApi& sdl = w.Sdl.Api();
    std::string monitor;
    if (w.source != 0 ? !FindOutputMonitor(s, w, monitor) : !InitSound(s, w, false))
        return false;
    const int count = sdl.SDL_GetNumAudioDevices(1); // -1: the driver cannot list them
    if (count == 0) {
        FF.av_log(s, AV_LOG_ERROR, "No wave audio recording devices found.\n");
        return false;
    }
    const char* name = w.source == 1 ? monitor.c_str() : nullptr;
    if (w.source != 1 && w.device != -1) {
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
    if (w.source == 2) {
        SDL_AudioSpec second = want;
        second.samples = SecondPeriod;
        second.callback = &SecondDeviceCallback;
        const SDL_AudioDeviceID other =
            sdl.SDL_OpenAudioDevice(monitor.c_str(), 1, &second, nullptr, 0);
        if (other == 0) {
            FF.av_log(s, AV_LOG_ERROR, "%s\n", SdlError(sdl));
            return false;
        }
        w.second_handle = other;
        w.SecondClock = TSoundClock(w.sample_rate);
    }
    // Both buffers are handed over before the device starts, so nothing on this thread
    // needs the device's lock while the callback runs (it may be waiting for this thread
    // to deliver a log line).
    w.current = 0;
    AddBuffer(w);
    AddBuffer(w);
    sdl.SDL_PauseAudioDevice(dev, 0);
    if (w.second_handle)
        sdl.SDL_PauseAudioDevice(w.second_handle, 0);
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
