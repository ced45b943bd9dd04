#include "media/FFPlay.h"

#include "media/FFApi.h"
#include "media/FFErrors.h"
#include "media/FFLoad.h"
#include "media/FFLog.h"
#include "media/InterruptCB.h"
#include "media/MainThread.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdlib>
#include <deque>
#include <system_error>
#include <vector>

namespace {

constexpr int64_t MaxQueueSize = 15 * 1024 * 1024;
constexpr int64_t MinAudioQueueSize = 327680;
constexpr int AudioBufferFrames = 1024;
constexpr int SilenceBytes = 1024;
constexpr int64_t PositionThreshold = 10000; // microseconds
constexpr int RefreshIntervalMs = 5;

const TLibraries PlayerLibraries{avCodec, avFilter, avFormat, avUtil, swResample, swScale, myUtil};

// Seconds on a monotonic clock.
double Now() {
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

int64_t NowMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

// SDL's configuration lives in the environment of the process.
std::mutex GSDLInitLock;

// Sets SDL_AUDIODRIVER / SDL_VIDEODRIVER to a named driver, or back to what the
// environment said before the player first named one.
class TDriverVariable {
public:
    explicit TDriverVariable(const char* name) : FName(name) {}
    void Apply(const char* driver) {
        if (driver && *driver) {
            if (!FChanged) {
                const char* old = std::getenv(FName);
                FHadOld = old != nullptr;
                FOld = old ? old : "";
                FChanged = true;
            }
            setenv(FName, driver, 1);
        } else if (FChanged) {
            if (FHadOld)
                setenv(FName, FOld.c_str(), 1);
            else
                unsetenv(FName);
            FChanged = false;
        }
    }

private:
    const char* FName;
    bool FChanged = false, FHadOld = false;
    std::string FOld;
};
TDriverVariable GAudioDriverVariable("SDL_AUDIODRIVER");
TDriverVariable GVideoDriverVariable("SDL_VIDEODRIVER");

// A packet queue entry: a packet, or a marker (flush after a seek, end of input).
struct TQueued {
    enum TMark { qmPacket, qmFlush, qmEnd };
    TMark Mark = qmPacket;
    AVPacket* Packet = nullptr;
};

class TPacketQueue {
public:
    ~TPacketQueue() { Flush(); }
    void Put(AVPacket* packet) {
        std::lock_guard lock(FLock);
        FSize += packet->size + int64_t(sizeof(AVPacket));
        FItems.push_back({TQueued::qmPacket, packet});
    }
    void PutMark(TQueued::TMark mark) {
        std::lock_guard lock(FLock);
        FItems.push_back({mark, nullptr});
    }
    bool Get(TQueued& item) {
        std::lock_guard lock(FLock);
        if (FItems.empty())
            return false;
        item = FItems.front();
        FItems.pop_front();
        if (item.Packet)
            FSize -= item.Packet->size + int64_t(sizeof(AVPacket));
        return true;
    }
    void Flush() {
        std::lock_guard lock(FLock);
        for (TQueued& item : FItems)
            if (item.Packet)
                FF.av_packet_free(&item.Packet);
        FItems.clear();
        FSize = 0;
    }
    int64_t Size() const {
        std::lock_guard lock(FLock);
        return FSize;
    }
    bool Empty() const {
        std::lock_guard lock(FLock);
        return FItems.empty();
    }

private:
    mutable std::mutex FLock;
    std::deque<TQueued> FItems;
    int64_t FSize = 0;
};

// The sound clock in seconds of stream time: the time of the sample being heard, set in
// every sound callback and running on with the wall clock in between (at `rate` seconds
// of stream time per second while the sound is played faster or slower), never past
// the end of the decoded sound; held while paused.
class TClock {
public:
    double Get() const {
        std::lock_guard lock(FLock);
        return GetLocked(Now());
    }
    void Set(double pts, double limit, double at, double rate) {
        std::lock_guard lock(FLock);
        FPts = pts;
        FLimit = limit;
        FUpdated = at;
        FRate = rate;
    }
    void SetPaused(bool paused) {
        std::lock_guard lock(FLock);
        const double now = Now();
        if (paused && !FPaused)
            FPts = GetLocked(now);
        FUpdated = now;
        FPaused = paused;
    }

private:
    double GetLocked(double now) const {
        if (std::isnan(FPts) || FPaused)
            return FPts;
        double value = FPts + (now - FUpdated) * FRate;
        if (!std::isnan(FLimit) && value > FLimit)
            value = FLimit;
        return value;
    }
    mutable std::mutex FLock;
    double FPts = NAN, FLimit = NAN, FUpdated = 0, FRate = 1;
    bool FPaused = false;
};

} // namespace

const char* AudioDriverName(TAudioDriver driver) {
    switch (driver) {
    case adPulseAudio:
        return "pulseaudio";
    case adAlsa:
        return "alsa";
    case adDisk:
        return "disk";
    case adDummy:
        return "dummy";
    default:
        return "";
    }
}

const char* VideoDriverName(TVideoDriver driver) {
    switch (driver) {
    case vdX11:
        return "x11";
    case vdDummy:
        return "dummy";
    default:
        return "";
    }
}

// ---------------------------------------------------------------------------------------
// TPlayEvent

void TPlayEvent::Push(int AKind, int64_t AValue) {
    {
        std::lock_guard lock(FLock);
        if (FCount > 0 && FRing[(FHead + FCount - 1) % Capacity].Kind == AKind) {
            FRing[(FHead + FCount - 1) % Capacity].Value = AValue;
        } else {
            if (FCount == Capacity) {
                FHead = (FHead + 1) % Capacity;
                --FCount;
            }
            FRing[(FHead + FCount) % Capacity] = {AKind, AValue};
            ++FCount;
        }
    }
    FEvent.SetEvent();
}

bool TPlayEvent::Take(TEntry& AEntry) {
    std::lock_guard lock(FLock);
    if (FCount == 0)
        return false;
    AEntry = FRing[FHead];
    FHead = (FHead + 1) % Capacity;
    if (--FCount == 0)
        FEvent.ResetEvent();
    return true;
}

int TPlayEvent::Count() const {
    std::lock_guard lock(FLock);
    return FCount;
}

void TPlayEvent::Clear() {
    std::lock_guard lock(FLock);
    FHead = FCount = 0;
    FEvent.ResetEvent();
}

// ---------------------------------------------------------------------------------------
// TPlayStream: one open input with its threads

struct TPlayStream {
    TCustomPlayer* Player;
    TSDLApi SDL;
    QString FileName;
    int ReadTimeout;
    bool DisableAudio;
    int64_t StartTime; // the player's start_time, or AV_NOPTS_VALUE

    // Opening
    std::atomic<int> OpenResult{0}; // > 0 open, < 0 failed
    TEvent Opened;
    bool SDLInitialised = false;

    // Input and decoding (the decoder belongs to the sound callback once the device runs)
    AVFormatContext* Input = nullptr;
    int AudioIndex = -1;
    AVStream* AudioStream = nullptr;
    AVCodecContext* Decoder = nullptr;
    SwrContext* Resampler = nullptr;
    AVChannelLayout ResamplerInLayout{};
    int ResamplerInFormat = -1, ResamplerInRate = 0;
    AVFrame* Frame = nullptr;
    bool DecoderNeedsPacket = true;
    bool DecoderAtEnd = false;
    TPacketQueue AudioQueue;
    SDL_AudioDeviceID Device = 0;
    int OutRate = 0, OutChannels = 0, BytesPerSecond = 0;
    std::vector<uint8_t> Buffer; // converted sound not yet handed to SDL
    size_t BufferIndex = 0;
    bool BufferIsSilence = true;
    double AudioClock = NAN; // stream time at the end of the decoded sound
    TClock Clock;

    // Playing faster or slower with the pitch kept: the converted sound goes through an
    // "atempo" filter. The player asks for a speed; the callback takes it up when the
    // sound is flushed (a seek), so one speed holds from one flush to the next.
    std::atomic<double> RequestedTempo{1.0};
    std::atomic<bool> TempoChangePending{false}; // the reading thread flushes by a seek
    double Tempo = 1.0;                          // the speed in use (callback and seek only)
    AVFilterGraph* TempoGraph = nullptr;         // built on the first sound after a flush
    AVFilterContext* TempoSource = nullptr;
    AVFilterContext* TempoSink = nullptr;
    AVFrame* TempoFrame = nullptr;
    double TempoBase = NAN;      // stream time of the first sound given to the filter
    int64_t TempoInSamples = 0;  // sample frames given to the filter since the flush
    int64_t TempoOutSamples = 0; // sample frames taken from it
    bool TempoEnded = false;     // the end of the sound has been given to it

    // Control
    std::atomic<bool> Abort{false};
    std::atomic<bool> Paused{false};
    std::atomic<bool> Eof{false};
    std::atomic<bool> SoundDrained{false}; // the callback has played out everything
    std::atomic<bool> Finished{false};
    std::atomic<int64_t> LastProgressMs{0};
    std::atomic<bool> TimedOut{false};

    std::mutex SeekLock;
    bool SeekRequested = false;
    int64_t SeekPos = 0;
    int SeekFlags = 0;
    TEvent SeekEvent{true};

    TEvent StopEvent{true};
    std::mutex ControlLock;
    std::condition_variable ControlChanged;
    bool QuitRequested = false;

    std::thread Reader, Play;
    std::atomic<bool> ReaderDone{true}, PlayDone{true}, PlayRunning{false};

    bool PositionReported = false;
    int64_t LastPosition = 0;
    std::atomic<bool> EndReported{false};

    ~TPlayStream();
    void RequestQuit() {
        {
            std::lock_guard lock(ControlLock);
            QuitRequested = true;
        }
        ControlChanged.notify_all();
    }

    // Reading thread
    void ReadRun();
    bool OpenInput();
    bool OpenAudio();
    void ReadLoop();
    void DoSeek();
    void Log(TLogLevel level, const QString& text) { FFLogger().Log(Player, level, text); }
    void Error(const QString& text) {
        Player->SetLastErrMsg(text);
        Log(llError, text);
    }

    // Sound callback thread
    static void SDLCALL AudioCallback(void* opaque, Uint8* stream, int len);
    void FillAudio(Uint8* stream, int len);
    // The next sound for the device in Buffer: bytes, -1 when there is nothing to play.
    int NextSound();
    int DecodeAudio(); // bytes converted into Buffer, -1 when there is nothing to play
    int Convert();
    bool OpenTempo();
    void CloseTempo();
    bool PushTempo(bool end); // Buffer (or the end of the sound) into the filter
    int PullTempo();          // bytes into Buffer; 0 when the filter needs more, -1 at its end
    void DropDecodedSound() {
        Buffer.clear();
        BufferIndex = 0;
        BufferIsSilence = true;
    }
    // After a flush: no filtered sound is left and the speed asked for comes into use.
    void ResetTempo() {
        CloseTempo();
        Tempo = RequestedTempo;
    }

    int64_t InputStartTime() const {
        return Input && Input->start_time != AV_NOPTS_VALUE ? Input->start_time : 0;
    }
    int64_t Duration() const {
        return Input && Input->duration != AV_NOPTS_VALUE ? Input->duration : -1;
    }
};

TPlayStream::~TPlayStream() {
    if (Device)
        SDL.SDL_CloseAudioDevice(Device);
    CloseTempo();
    AudioQueue.Flush();
    if (Resampler)
        FF.swr_free(&Resampler);
    FF.av_channel_layout_uninit(&ResamplerInLayout);
    if (Frame)
        FF.av_frame_free(&Frame);
    if (Decoder)
        FF.avcodec_free_context(&Decoder);
    if (Input)
        FF.avformat_close_input(&Input);
    if (SDLInitialised) {
        std::lock_guard lock(GSDLInitLock);
        SDL.SDL_QuitSubSystem(SDL_INIT_AUDIO);
    }
}

static bool PlayerInterrupted(void* sender) {
    auto* s = static_cast<TPlayStream*>(sender);
    if (s->Abort)
        return true;
    if (s->ReadTimeout > 0 && NowMs() - s->LastProgressMs > s->ReadTimeout) {
        s->TimedOut = true;
        return true;
    }
    return false;
}

void TPlayStream::ReadRun() {
    TInterruptRegistration interrupt(this, &PlayerInterrupted);
    const bool opened = OpenInput();
    OpenResult = opened ? 1 : -1;
    Opened.SetEvent();
    WakeMainThreadWaiters();
    if (opened)
        ReadLoop();
    ReaderDone = true;
    WakeMainThreadWaiters();
}

bool TPlayStream::OpenInput() {
    const QByteArray name = FileName.toUtf8();
    Input = FF.avformat_alloc_context();
    if (!Input) {
        Error(QStringLiteral("av_mallocz() failed."));
        return false;
    }
    Input->interrupt_callback = EngineInterruptCB();
    LastProgressMs = NowMs();
    int ret = FF.avformat_open_input(&Input, name.constData(), nullptr, nullptr);
    if (ret < 0) {
        if (Abort)
            Error(QStringLiteral("connecting/reading canceled"));
        else if (TimedOut)
            Error(QStringLiteral("connecting/reading timeout"));
        else
            Error(FFErrorText(FileName, ret));
        return false; // avformat_open_input freed the context
    }
    LastProgressMs = NowMs();
    if (FF.avformat_find_stream_info(Input, nullptr) < 0) {
        Error(Abort      ? QStringLiteral("connecting/reading canceled")
              : TimedOut ? QStringLiteral("connecting/reading timeout")
                         : QStringLiteral("%1: could not find codec parameters").arg(FileName));
        return false;
    }
    if (StartTime != AV_NOPTS_VALUE) {
        const int64_t target = StartTime + InputStartTime();
        LastProgressMs = NowMs();
        if (FF.avformat_seek_file(Input, -1, INT64_MIN, target, INT64_MAX, 0) < 0)
            Error(QString::asprintf("%s: could not seek to position %0.3f", name.constData(),
                                    double(StartTime) / AV_TIME_BASE));
    }
    if (DisableAudio || !OpenAudio()) {
        Error(QStringLiteral("%1: could not open codecs, no stream to play.").arg(FileName));
        return false;
    }
    AudioClock =
        double(StartTime != AV_NOPTS_VALUE ? StartTime + InputStartTime() : InputStartTime()) /
        AV_TIME_BASE;
    Tempo = RequestedTempo;
    Clock.SetPaused(Paused);
    Clock.Set(AudioClock, AudioClock, Now(), Tempo);
    SDL.SDL_PauseAudioDevice(Device, 0);
    return true;
}

bool TPlayStream::OpenAudio() {
    // The first sound stream, as the encoder and the decoder take it, wherever it stands
    // (a cover picture may come first).
    AudioIndex = -1;
    for (unsigned i = 0; i < Input->nb_streams && AudioIndex < 0; ++i)
        if (Input->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_AUDIO)
            AudioIndex = int(i);
    if (AudioIndex < 0)
        return false;
    AudioStream = Input->streams[AudioIndex];
    const AVCodecParameters* par = AudioStream->codecpar;
    const AVCodec* codec = FF.avcodec_find_decoder(par->codec_id);
    if (!codec) {
        Error(QStringLiteral("Cannot find decoder."));
        return false;
    }
    Decoder = FF.avcodec_alloc_context3(codec);
    Frame = FF.av_frame_alloc();
    if (!Decoder || !Frame || FF.avcodec_parameters_to_context(Decoder, par) < 0) {
        Error(QStringLiteral("av_mallocz() failed."));
        return false;
    }
    Decoder->pkt_timebase = AudioStream->time_base;
    Decoder->thread_count = 1;
    Decoder->workaround_bugs = 1;
    Decoder->error_concealment = 3;
    if (FF.avcodec_open2(Decoder, codec, nullptr) < 0) {
        Error(QStringLiteral("avcodec_open() failed."));
        return false;
    }
    OutRate = Decoder->sample_rate;
    OutChannels = Decoder->ch_layout.nb_channels > 2 ? 2 : Decoder->ch_layout.nb_channels;
    if (OutRate <= 0 || OutChannels <= 0) {
        Error(QStringLiteral("Invalid sample rate or channel count."));
        return false;
    }
    BytesPerSecond = OutRate * OutChannels * 2;
    SDL_AudioSpec wanted{};
    wanted.freq = OutRate;
    wanted.format = AUDIO_S16SYS;
    wanted.channels = Uint8(OutChannels);
    wanted.samples = AudioBufferFrames;
    wanted.callback = &TPlayStream::AudioCallback;
    wanted.userdata = this;
    SDL_AudioSpec obtained{};
    Device = SDL.SDL_OpenAudioDevice(nullptr, 0, &wanted, &obtained, 0);
    if (Device == 0) {
        Error(QStringLiteral("SDL_OpenAudio() failed: ") + QString::fromUtf8(SDL.SDL_GetError()));
        return false;
    }
    return true;
}

void TPlayStream::ReadLoop() {
    AVPacket* packet = FF.av_packet_alloc();
    bool lastPaused = false;
    bool endQueued = false;
    while (!Abort) {
        if (Paused != lastPaused) {
            lastPaused = Paused;
            if (lastPaused)
                FF.av_read_pause(Input);
            else
                FF.av_read_play(Input);
        }
        bool seek;
        {
            std::lock_guard lock(SeekLock);
            // A new speed comes into use by a seek to the position being heard; a seek
            // already asked for does the same.
            if (TempoChangePending.exchange(false) && !SeekRequested) {
                const double heard = Clock.Get();
                SeekRequested = true;
                SeekPos = std::isnan(heard) ? InputStartTime() : llround(heard * AV_TIME_BASE);
                SeekFlags = 0;
                SeekEvent.ResetEvent();
            }
            seek = SeekRequested;
        }
        if (seek) {
            DoSeek();
            endQueued = false;
            continue;
        }
        // Enough queued: 15 MiB in all, or enough sound (there are no picture queues).
        const int64_t queued = AudioQueue.Size();
        if (queued > MaxQueueSize || queued > MinAudioQueueSize) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            continue;
        }
        if (Eof) {
            if (!endQueued) {
                AudioQueue.PutMark(TQueued::qmEnd);
                endQueued = true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            if (AudioQueue.Empty() && SoundDrained)
                Finished = true;
            continue;
        }
        LastProgressMs = NowMs();
        const int ret = FF.av_read_frame(Input, packet);
        if (ret < 0) {
            if (Abort)
                break;
            if (TimedOut) {
                Error(QStringLiteral("connecting/reading timeout"));
                RequestQuit();
                break;
            }
            if (ret == AVERROR_EOF || (Input->pb && FF.avio_feof(Input->pb))) {
                Log(llInfo, QStringLiteral("reach end of file: %1").arg(FileName));
            } else {
                // An input that cannot be read further ends like its end: what is queued
                // plays out.
                Error(QString::asprintf("error #%d while reading file: %s", ret,
                                        FileName.toUtf8().constData()));
            }
            Eof = true;
            continue;
        }
        if (packet->stream_index == AudioIndex) {
            AudioQueue.Put(FF.av_packet_clone(packet));
        }
        FF.av_packet_unref(packet);
    }
    FF.av_packet_free(&packet);
}

void TPlayStream::DoSeek() {
    int64_t target;
    int flags;
    {
        std::lock_guard lock(SeekLock);
        target = SeekPos;
        flags = SeekFlags;
    }
    LastProgressMs = NowMs();
    const int ret = FF.avformat_seek_file(Input, -1, INT64_MIN, target, INT64_MAX, flags);
    if (ret < 0) {
        Error(QStringLiteral("%1: error while seeking").arg(FileName));
    } else {
        // The callback holds the device lock while it runs: the queue, the decoder state
        // and the clock change together.
        SDL.SDL_LockAudioDevice(Device);
        AudioQueue.Flush();
        AudioQueue.PutMark(TQueued::qmFlush);
        DropDecodedSound();
        DecoderNeedsPacket = true;
        DecoderAtEnd = false;
        ResetTempo();
        if (!(flags & AVSEEK_FLAG_BYTE)) {
            AudioClock = double(target) / AV_TIME_BASE;
            Clock.Set(AudioClock, AudioClock, Now(), Tempo);
        }
        Eof = false;
        SoundDrained = false;
        Finished = false;
        EndReported = false;
        SDL.SDL_UnlockAudioDevice(Device);
    }
    {
        std::lock_guard lock(SeekLock);
        SeekRequested = false;
    }
    SeekEvent.SetEvent();
    WakeMainThreadWaiters();
}

void SDLCALL TPlayStream::AudioCallback(void* opaque, Uint8* stream, int len) {
    static_cast<TPlayStream*>(opaque)->FillAudio(stream, len);
}

void TPlayStream::FillAudio(Uint8* stream, int len) {
    const double callbackTime = Now();
    if (Paused || Abort) {
        std::memset(stream, 0, size_t(len));
        return;
    }
    const int volume = Player->FMute ? 0 : Player->FAudioVolume.load();
    int real = 0; // bytes of decoded sound in this buffer
    while (len > 0) {
        if (BufferIndex >= Buffer.size()) {
            if (NextSound() < 0) {
                Buffer.assign(SilenceBytes, 0);
                BufferIsSilence = true;
            } else {
                BufferIsSilence = false;
            }
            BufferIndex = 0;
        }
        const int chunk = std::min(len, int(Buffer.size() - BufferIndex));
        const uint8_t* source = Buffer.data() + BufferIndex;
        if (volume <= 0 || BufferIsSilence) {
            std::memset(stream, 0, size_t(chunk));
        } else if (volume >= SDL_MIX_MAXVOLUME) {
            std::memcpy(stream, source, size_t(chunk));
        } else {
            std::memset(stream, 0, size_t(chunk));
            SDL.SDL_MixAudioFormat(stream, source, AUDIO_S16SYS, Uint32(chunk), volume);
        }
        if (!BufferIsSilence)
            real += chunk;
        stream += chunk;
        len -= chunk;
        BufferIndex += size_t(chunk);
    }
    if (!std::isnan(AudioClock)) {
        // Each byte handed out stands for Tempo bytes' worth of stream time.
        const size_t left = BufferIsSilence ? 0 : Buffer.size() - BufferIndex;
        Clock.Set(AudioClock - double(left + size_t(real)) / BytesPerSecond * Tempo, AudioClock,
                  callbackTime, Tempo);
    }
}

int TPlayStream::DecodeAudio() {
    for (;;) {
        if (!DecoderNeedsPacket) {
            const int ret = FF.avcodec_receive_frame(Decoder, Frame);
            if (ret >= 0) {
                const int bytes = Convert();
                FF.av_frame_unref(Frame);
                if (bytes > 0)
                    return bytes;
                continue;
            }
            if (ret == AVERROR_EOF) {
                // Everything decoded: the sound is played out once this buffer is.
                DecoderAtEnd = true;
                FF.avcodec_flush_buffers(Decoder);
            }
            DecoderNeedsPacket = true;
            if (ret != AVERROR(EAGAIN) && ret != AVERROR_EOF)
                return -1;
        }
        if (DecoderAtEnd)
            return -1;
        TQueued item;
        if (!AudioQueue.Get(item))
            return -1;
        if (item.Mark == TQueued::qmFlush) {
            FF.avcodec_flush_buffers(Decoder);
            if (Resampler)
                FF.swr_free(&Resampler);
            DecoderAtEnd = false;
            continue;
        }
        const int ret = FF.avcodec_send_packet(Decoder, item.Packet);
        if (item.Packet)
            FF.av_packet_free(&item.Packet);
        DecoderNeedsPacket = false;
        if (ret < 0 && ret != AVERROR(EAGAIN) && ret != AVERROR_EOF)
            return -1;
    }
}

// Converts Frame into Buffer as signed 16-bit samples at OutRate with OutChannels, and
// moves the sound clock to the frame's end.
int TPlayStream::Convert() {
    AVChannelLayout inLayout{};
    if (Frame->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC || Frame->ch_layout.nb_channels == 0)
        FF.av_channel_layout_default(&inLayout, Frame->ch_layout.nb_channels
                                                    ? Frame->ch_layout.nb_channels
                                                    : Decoder->ch_layout.nb_channels);
    else
        FF.av_channel_layout_copy(&inLayout, &Frame->ch_layout);
    if (!Resampler || Frame->format != ResamplerInFormat || Frame->sample_rate != ResamplerInRate ||
        FF.av_channel_layout_compare(&inLayout, &ResamplerInLayout) != 0) {
        if (Resampler)
            FF.swr_free(&Resampler);
        AVChannelLayout outLayout{};
        FF.av_channel_layout_default(&outLayout, OutChannels);
        if (FF.swr_alloc_set_opts2(&Resampler, &outLayout, AV_SAMPLE_FMT_S16, OutRate, &inLayout,
                                   AVSampleFormat(Frame->format), Frame->sample_rate, 0,
                                   nullptr) < 0 ||
            FF.swr_init(Resampler) < 0) {
            FF.av_channel_layout_uninit(&inLayout);
            if (Resampler)
                FF.swr_free(&Resampler);
            return -1;
        }
        FF.av_channel_layout_uninit(&ResamplerInLayout);
        FF.av_channel_layout_copy(&ResamplerInLayout, &inLayout);
        ResamplerInFormat = Frame->format;
        ResamplerInRate = Frame->sample_rate;
    }
    FF.av_channel_layout_uninit(&inLayout);
    const int outFrames = int(int64_t(Frame->nb_samples) * OutRate / Frame->sample_rate) + 256;
    Buffer.resize(size_t(outFrames) * OutChannels * 2);
    uint8_t* out[1] = {Buffer.data()};
    const int converted = FF.swr_convert(
        Resampler, out, outFrames, (const uint8_t**)(Frame->extended_data), Frame->nb_samples);
    if (converted < 0) {
        Buffer.clear();
        return -1;
    }
    Buffer.resize(size_t(converted) * OutChannels * 2);
    const int64_t pts = Frame->best_effort_timestamp;
    if (pts != AV_NOPTS_VALUE)
        AudioClock =
            pts * av_q2d(AudioStream->time_base) + double(Frame->nb_samples) / Frame->sample_rate;
    else if (!std::isnan(AudioClock))
        AudioClock += double(Frame->nb_samples) / Frame->sample_rate;
    return int(Buffer.size());
}

int TPlayStream::NextSound() {
    if (Tempo == 1.0) {
        const int bytes = DecodeAudio();
        if (bytes < 0 && DecoderAtEnd)
            SoundDrained = true;
        return bytes;
    }
    for (;;) {
        if (TempoGraph) {
            const int bytes = PullTempo();
            if (bytes > 0)
                return bytes;
            if (bytes < 0) {
                SoundDrained = TempoEnded;
                return -1;
            }
        }
        const int bytes = DecodeAudio();
        if (bytes < 0) {
            // At the end of the sound the filter gives out what it still holds.
            if (!DecoderAtEnd || !TempoGraph || TempoEnded) {
                SoundDrained = DecoderAtEnd;
                return -1;
            }
            PushTempo(true);
            continue;
        }
        if (!TempoGraph && !OpenTempo()) {
            // Without the filter the sound plays at its own speed.
            FFLogger().Log(Player, llError, QStringLiteral("atempo filter unavailable"));
            Tempo = 1.0;
            return bytes;
        }
        if (!PushTempo(false))
            return -1;
    }
}

bool TPlayStream::OpenTempo() {
    CloseTempo();
    TempoGraph = FF.avfilter_graph_alloc();
    TempoFrame = FF.av_frame_alloc();
    if (!TempoGraph || !TempoFrame)
        return false;
    const char* layout = OutChannels == 1 ? "mono" : "stereo";
    char args[160];
    snprintf(args, sizeof args, "time_base=1/%d:sample_rate=%d:sample_fmt=s16:channel_layout=%s",
             OutRate, OutRate, layout);
    char format[160];
    snprintf(format, sizeof format, "sample_fmts=s16:sample_rates=%d:channel_layouts=%s", OutRate,
             layout);
    AVFilterContext* tempo = nullptr;
    AVFilterContext* convert = nullptr;
    int ret = FF.avfilter_graph_create_filter(&TempoSource, FF.avfilter_get_by_name("abuffer"),
                                              "in", args, nullptr, TempoGraph);
    if (ret >= 0)
        ret = FF.avfilter_graph_create_filter(&TempoSink, FF.avfilter_get_by_name("abuffersink"),
                                              "out", nullptr, nullptr, TempoGraph);
    if (ret >= 0)
        ret = FF.avfilter_graph_create_filter(&convert, FF.avfilter_get_by_name("aformat"),
                                              "format", format, nullptr, TempoGraph);
    if (ret >= 0) {
        // The speed is set as a number, so no locale can change how it is read.
        const AVFilter* atempo = FF.avfilter_get_by_name("atempo");
        tempo = atempo ? FF.avfilter_graph_alloc_filter(TempoGraph, atempo, "tempo") : nullptr;
        ret = tempo ? FF.av_opt_set_double(tempo, "tempo", Tempo, AV_OPT_SEARCH_CHILDREN)
                    : AVERROR_FILTER_NOT_FOUND;
    }
    if (ret >= 0)
        ret = FF.avfilter_init_str(tempo, nullptr);
    if (ret >= 0)
        ret = FF.avfilter_link(TempoSource, 0, tempo, 0);
    if (ret >= 0)
        ret = FF.avfilter_link(tempo, 0, convert, 0);
    if (ret >= 0)
        ret = FF.avfilter_link(convert, 0, TempoSink, 0);
    if (ret >= 0)
        ret = FF.avfilter_graph_config(TempoGraph, nullptr);
    if (ret < 0) {
        CloseTempo();
        return false;
    }
    return true;
}

void TPlayStream::CloseTempo() {
    if (TempoGraph)
        FF.avfilter_graph_free(&TempoGraph);
    if (TempoFrame)
        FF.av_frame_free(&TempoFrame);
    TempoSource = TempoSink = nullptr;
    TempoBase = NAN;
    TempoInSamples = TempoOutSamples = 0;
    TempoEnded = false;
}

bool TPlayStream::PushTempo(bool end) {
    if (end) {
        TempoEnded = true;
        return FF.av_buffersrc_add_frame_flags(TempoSource, nullptr, 0) >= 0;
    }
    const int frameBytes = OutChannels * 2;
    const int samples = int(Buffer.size()) / frameBytes;
    if (TempoInSamples == 0)
        TempoBase = AudioClock - double(samples) / OutRate;
    AVFrame* frame = FF.av_frame_alloc();
    if (!frame)
        return false;
    frame->format = AV_SAMPLE_FMT_S16;
    frame->sample_rate = OutRate;
    FF.av_channel_layout_default(&frame->ch_layout, OutChannels);
    frame->nb_samples = samples;
    frame->pts = TempoInSamples;
    bool ok = FF.av_frame_get_buffer(frame, 0) >= 0;
    if (ok) {
        std::memcpy(frame->data[0], Buffer.data(), size_t(samples) * frameBytes);
        ok = FF.av_buffersrc_add_frame_flags(TempoSource, frame, 0) >= 0;
    }
    FF.av_frame_free(&frame);
    TempoInSamples += samples;
    Buffer.clear();
    return ok;
}

int TPlayStream::PullTempo() {
    for (;;) {
        const int ret = FF.av_buffersink_get_frame(TempoSink, TempoFrame);
        if (ret == AVERROR(EAGAIN))
            return 0;
        if (ret < 0)
            return -1;
        const int samples = TempoFrame->nb_samples;
        const size_t bytes = size_t(samples) * OutChannels * 2;
        Buffer.assign(TempoFrame->data[0], TempoFrame->data[0] + bytes);
        FF.av_frame_unref(TempoFrame);
        if (samples <= 0)
            continue;
        // The filter keeps its output in step with its input: output sample n stands for
        // the input at n × tempo.
        TempoOutSamples += samples;
        AudioClock = TempoBase + double(TempoOutSamples) * Tempo / OutRate;
        return int(bytes);
    }
}

// ---------------------------------------------------------------------------------------
// TCustomPlayer

TCustomPlayer::TCustomPlayer(QObject* owner)
    : TFFBaseComponent(owner), FPlayTime(AV_NOPTS_VALUE), FStartTime(AV_NOPTS_VALUE) {}

TCustomPlayer::~TCustomPlayer() {
    FOnFileOpen.Set(nullptr);
    FOnPosition.Set(nullptr);
    SetOnState(nullptr);
    Stop(true);
    ReleaseStream();
    EndEventThread();
    if (FSDLAutoLoaded)
        FSDL.Unload();
}

bool TCustomPlayer::LoadAVLib(const QString& ALibraryFolder, bool AAutoLoadSDL) {
    FFLoader.SetLibraryPath(ALibraryFolder);
    if (!FFLoader.Load(PlayerLibraries))
        return Fail(FFLoader.LastErrMsg());
    if (AAutoLoadSDL && !FSDL.Loaded()) {
        if (!FSDL.Load(ALibraryFolder, QString::fromLatin1(SDLLibraryFileName)))
            return Fail(FSDL.LastErrMsg());
        FSDLAutoLoaded = true;
    }
    return true;
}

bool TCustomPlayer::AVLibLoaded() const {
    return FFLoader.Loaded(PlayerLibraries);
}

void TCustomPlayer::UnloadAVLib() {
    Stop(true);
    FFLoader.Unload(PlayerLibraries);
    if (FSDLAutoLoaded) {
        FSDL.Unload();
        FSDLAutoLoaded = false;
    }
}

bool TCustomPlayer::LoadSDLLib(const QString& AFolder, const QString& AFile) {
    if (!FSDL.Load(AFolder, AFile))
        return Fail(FSDL.LastErrMsg());
    FSDLAutoLoaded = false;
    return true;
}

void TCustomPlayer::UnloadSDLLib() {
    Stop(true);
    FSDL.Unload();
    FSDLAutoLoaded = false;
}

bool TCustomPlayer::Fail(const QString& message) {
    SetLastErrMsg(message);
    FFLogger().Log(this, llError, message);
    return false;
}

void TCustomPlayer::SetLastErrMsg(const QString& message) {
    std::lock_guard lock(FErrLock);
    FLastErrMsg = message;
}

QString TCustomPlayer::LastErrMsg() const {
    std::lock_guard lock(FErrLock);
    return FLastErrMsg;
}

void TCustomPlayer::SetAudioVolume(int value) {
    FAudioVolume = value < 0 ? 0 : value > SDL_MIX_MAXVOLUME ? SDL_MIX_MAXVOLUME : value;
}

void TCustomPlayer::SetOnState(TPlayStateEvent handler) {
    FHasOnState = bool(handler);
    FOnState.Set(std::move(handler));
}

bool TCustomPlayer::Seeking() const {
    if (!FStream)
        return false;
    std::lock_guard lock(FStream->SeekLock);
    return FStream->SeekRequested;
}

bool TCustomPlayer::Paused() const {
    return FStream && FStream->Paused;
}

int64_t TCustomPlayer::Duration() const {
    return FStream && FStream->OpenResult > 0 ? FStream->Duration() : -1;
}

int TCustomPlayer::AudioSampleRate() const {
    return FStream && FStream->OpenResult > 0 ? FStream->OutRate : 0;
}

int TCustomPlayer::AudioChannels() const {
    return FStream && FStream->OpenResult > 0 ? FStream->OutChannels : 0;
}

void TCustomPlayer::SetPlayState(TPlayState state) {
    FPlayState = state;
    if (FHasOnState)
        FPlayEvent.Push(TPlayEvent::ekState, state);
    else if (state == psStop)
        FPlayEvent.Push(TPlayEvent::ekQuit, 0);
}

bool TCustomPlayer::Open(const QString& AFileName, uintptr_t AScreenHandle, bool APaused) {
    if (!AVLibLoaded())
        return Fail(QStringLiteral("libav not loaded."));
    if (!FSDL.Loaded())
        return Fail(QStringLiteral("sdl not loaded."));
    Stop(true);
    ReleaseStream();

    auto stream = std::make_unique<TPlayStream>();
    TPlayStream& s = *stream;
    s.Player = this;
    s.SDL = FSDL.Api();
    s.FileName = AFileName;
    s.ReadTimeout = FReadTimeout;
    s.DisableAudio = FDisableAudio;
    s.StartTime = FStartTime;
    s.RequestedTempo = FTempo;
    s.Paused = APaused;
    {
        std::lock_guard lock(GSDLInitLock);
        GAudioDriverVariable.Apply(AudioDriverName(FAudioDriver));
        GVideoDriverVariable.Apply(VideoDriverName(FVideoDriver));
        if (s.SDL.SDL_InitSubSystem(SDL_INIT_AUDIO) < 0)
            return Fail(QString::asprintf("Could not initialize SDL with ScreenHandle(%u): %s",
                                          unsigned(AScreenHandle), s.SDL.SDL_GetError()));
        s.SDLInitialised = true;
        const char* audio = s.SDL.SDL_GetCurrentAudioDriver();
        const char* video = s.SDL.SDL_GetCurrentVideoDriver();
        FFLogger().Log(this, llInfo, "using audio driver: %s", audio ? audio : "none");
        FFLogger().Log(this, llInfo, "using video driver: %s", video ? video : "none");
    }

    FStream = std::move(stream);
    s.Opened.ResetEvent();
    s.ReaderDone = false;
    try {
        s.Reader = std::thread([&s] { s.ReadRun(); });
    } catch (const std::system_error&) {
        s.ReaderDone = true;
        ReleaseStream();
        return Fail(QStringLiteral("SDL_CreateThread() failed."));
    }
    s.Opened.WaitServing();
    if (s.OpenResult <= 0) {
        const QString message = LastErrMsg();
        ReleaseStream();
        SetLastErrMsg(message);
        return false;
    }

    FFileName = AFileName;
    FScreenHandle = AScreenHandle;
    FCurrentPTS = 0;
    if (FOnFileOpen.Assigned()) {
        int screenWidth = -1, screenHeight = -1;
        const int64_t duration = s.Duration();
        Deliver([&] { FOnFileOpen(this, duration, -1, -1, screenWidth, screenHeight); });
    }

    EndEventThread();
    FPlayEvent.Clear();
    FEventThreadTerminated = false;
    FEventThreadEnded = false;
    s.PlayDone = false;
    s.StopEvent.ResetEvent();
    try {
        FEventThread = std::thread([this] { EventThreadRun(); });
        s.Play = std::thread([this] { PlayThreadRun(); });
    } catch (const std::system_error&) {
        FEventThreadEnded = !FEventThread.joinable();
        s.PlayDone = true;
        Stop(true);
        ReleaseStream();
        return Fail(QStringLiteral("SDL_CreateThread() failed."));
    }
    WaitServingMainThreadCalls([&] { return s.PlayRunning || s.PlayDone; });
    return true;
}

void TCustomPlayer::Deliver(const std::function<void()>& call) {
    if (FTriggerEventInMainThread)
        CallInMainThread(call);
    else
        call();
}

void TCustomPlayer::EventThreadRun() {
    bool running = true;
    while (running && !FEventThreadTerminated) {
        TPlayEvent::TEntry entry;
        if (!FPlayEvent.Take(entry)) {
            FPlayEvent.WaitFor(100);
            continue;
        }
        switch (entry.Kind) {
        case TPlayEvent::ekPosition:
            Deliver([&] { FOnPosition(this, entry.Value); });
            break;
        case TPlayEvent::ekState:
            Deliver([&] { FOnState(this, TPlayState(entry.Value)); });
            running = entry.Value != psStop;
            break;
        default:
            running = false;
        }
    }
    FEventThreadEnded = true;
    WakeMainThreadWaiters();
}

void TCustomPlayer::EndEventThread() {
    if (!FEventThread.joinable())
        return;
    FEventThreadTerminated = true;
    WaitServingMainThreadCalls([this] { return FEventThreadEnded.load(); });
    FEventThread.join();
}

void TCustomPlayer::PlayThreadRun() {
    TPlayStream& s = *FStream;
    SetPlayState(psPlay);
    s.PlayRunning = true;
    WakeMainThreadWaiters();
    try {
        std::unique_lock lock(s.ControlLock);
        while (!s.QuitRequested) {
            s.ControlChanged.wait_for(lock, std::chrono::milliseconds(RefreshIntervalMs),
                                      [&] { return s.QuitRequested; });
            if (s.QuitRequested)
                break;
            lock.unlock();
            // The refresh: position, end of the song, play time.
            const double clock = s.Clock.Get();
            if (!std::isnan(clock)) {
                const int64_t duration = s.Duration();
                int64_t position = llround(clock * AV_TIME_BASE) - s.InputStartTime();
                if (duration > 0 && (position > duration || s.Finished))
                    position = duration;
                FCurrentPTS = position;
                // Small changes are not reported, except the last step to the end.
                if (!s.PositionReported ||
                    std::llabs(position - s.LastPosition) > PositionThreshold ||
                    (s.Finished && position != s.LastPosition)) {
                    s.PositionReported = true;
                    s.LastPosition = position;
                    FPlayEvent.Push(TPlayEvent::ekPosition, position);
                }
                const int64_t playTime = FPlayTime;
                if (playTime != AV_NOPTS_VALUE) {
                    const int64_t start = FStartTime;
                    const int64_t from = start != AV_NOPTS_VALUE ? start : 0;
                    if (position > from + playTime) {
                        if (FRepeatType == rtStop) {
                            s.RequestQuit();
                        } else if (FRepeatType == rtLoop) {
                            if (start != AV_NOPTS_VALUE)
                                SeekTo(start, 0, false);
                            else
                                SeekTo(0, sfAny, false);
                        }
                    }
                }
            }
            if (s.Finished && !s.EndReported) {
                s.EndReported = true;
                SetPlayState(psEnd);
            }
            lock.lock();
        }
    } catch (const std::exception& e) {
        FFLogger().Log(this, llFatal,
                       QStringLiteral("PlayThread Exception: ") + QString::fromUtf8(e.what()));
    }
    // Closing the stream: the reading thread ends, the sound stops.
    s.Abort = true;
    while (!s.ReaderDone)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    if (s.Device)
        s.SDL.SDL_PauseAudioDevice(s.Device, 1);
    SetPlayState(psStop);
    s.PlayDone = true;
    s.StopEvent.SetEvent();
    WakeMainThreadWaiters();
}

void TCustomPlayer::Stop(bool AWaitForStop) {
    if (!FStream)
        return;
    TPlayStream& s = *FStream;
    if (s.OpenResult == 0) {
        s.Abort = true; // an Open in progress gives up
        return;
    }
    // The sound callback goes silent and the reading thread ends at once; the play
    // thread then closes the stream.
    s.Abort = true;
    s.RequestQuit();
    if (AWaitForStop) {
        if (s.Play.joinable())
            s.StopEvent.WaitServing();
        ReleaseStream();
    }
}

void TCustomPlayer::ReleaseStream() {
    if (!FStream)
        return;
    TPlayStream& s = *FStream;
    s.Abort = true;
    s.RequestQuit();
    WaitServingMainThreadCalls([&] { return s.ReaderDone.load() && s.PlayDone.load(); });
    if (s.Reader.joinable())
        s.Reader.join();
    if (s.Play.joinable())
        s.Play.join();
    FStream.reset();
}

void TCustomPlayer::Pause() {
    if (!FStream || FStream->OpenResult <= 0 || FStream->Paused)
        return;
    FStream->Paused = true;
    FStream->Clock.SetPaused(true);
    SetPlayState(psPause);
}

void TCustomPlayer::Resume() {
    if (!FStream || FStream->OpenResult <= 0 || !FStream->Paused)
        return;
    FStream->Paused = false;
    FStream->Clock.SetPaused(false);
    SetPlayState(psResume);
}

void TCustomPlayer::TogglePause() {
    if (!FStream || FStream->OpenResult <= 0)
        return;
    if (FStream->Paused)
        Resume();
    else
        Pause();
}

void TCustomPlayer::StepToNextFrame() {}

void TCustomPlayer::SetTempo(double ATempo) {
    const double tempo = std::clamp(ATempo, MinTempo, MaxTempo);
    if (tempo == FTempo)
        return;
    FTempo = tempo;
    if (FStream && FStream->OpenResult > 0) {
        FStream->RequestedTempo = tempo;
        FStream->TempoChangePending = true;
    }
}

void TCustomPlayer::SeekTo(int64_t APTS, TSeekFlags ASeekFlags, bool AWaitForSeekEnd) {
    TPlayStream* s = FStream.get();
    if (!s || s->OpenResult <= 0)
        return;
    int64_t target = APTS < 0 ? 0 : APTS;
    if (!(ASeekFlags & sfByte)) {
        const int64_t duration = s->Duration();
        if (duration > 0 && target > duration)
            target = duration;
        target += s->InputStartTime();
    }
    int flags = 0;
    if (ASeekFlags & sfBackward)
        flags |= AVSEEK_FLAG_BACKWARD;
    if (ASeekFlags & sfByte)
        flags |= AVSEEK_FLAG_BYTE;
    if (ASeekFlags & sfAny)
        flags |= AVSEEK_FLAG_ANY;
    if (ASeekFlags & sfFrame)
        flags |= AVSEEK_FLAG_FRAME;
    {
        std::lock_guard lock(s->SeekLock);
        if (s->SeekRequested)
            return;
        s->SeekRequested = true;
        s->SeekPos = target;
        s->SeekFlags = flags;
        s->SeekEvent.ResetEvent();
    }
    if (AWaitForSeekEnd)
        while (!s->SeekEvent.WaitServing(100) && !s->ReaderDone) {
        }
}

void TCustomPlayer::Seek(double ADelta, TSeekFlags ASeekFlags, bool AWaitForSeekEnd) {
    TPlayStream* s = FStream.get();
    if (!s || s->OpenResult <= 0)
        return;
    if (ASeekFlags & sfByte) {
        const int64_t here = s->Input->pb ? s->Input->pb->pos : 0;
        const int64_t rate = s->Input->bit_rate > 0 ? s->Input->bit_rate / 8 : 180000;
        SeekTo(here + int64_t(ADelta * rate), ASeekFlags, AWaitForSeekEnd);
    } else {
        SeekTo(FCurrentPTS + int64_t(ADelta * AV_TIME_BASE), ASeekFlags, AWaitForSeekEnd);
    }
}
