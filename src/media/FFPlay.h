#pragma once

#include "media/Event.h"
#include "media/EventHandler.h"
#include "media/FFBaseComponent.h"
#include "media/SDLLoader.h"

#include <QString>

#include <atomic>
#include <concepts>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

// The player: plays the sound of a media file through SDL and reports its position and
// state to the program.
//
//     player.SetDisableVideo(true);
//     player.SetDisableDisplay(true);
//     player.SetOnPosition([this](QObject*, int64_t pts) { ShowPosition(pts); });
//     player.SetOnState([this](QObject*, TPlayState state) { ... });
//     if (!player.AVLibLoaded() && !player.LoadAVLib(libraryFolder, true))
//         return Warn(player.LastErrMsg());
//     if (!player.Open(song, 0, true) ) // paused at the start
//         return Warn(player.LastErrMsg());
//     player.Seek(0);
//     player.Resume();
//     ...
//     player.Stop(false);
//
// A reading thread fills the packet queue; the sound is decoded, converted to signed
// 16-bit samples at the stream's rate with at most 2 channels and handed out in SDL's
// callback in buffers of 1024 sample frames; the sound is the clock. A play thread
// computes the position every 5 ms; position and state events go through a 10-entry
// coalescing queue to an event thread that delivers them (on the main thread when
// TriggerEventInMainThread is set, waiting until the handler has run).
//
// Pictures are never decoded or shown: the player plays sound only, whatever
// DisableVideo and DisableDisplay say (the program sets both). An input without a
// playable sound stream is refused.
//
// All methods are called from the main thread. Waiting methods (Stop with waiting, Seek
// with waiting, Open) serve queued main-thread calls while they wait.

enum TPlayState { psPlay, psPause, psResume, psStep, psStop, psEnd };

enum TSeekFlag : unsigned { sfBackward = 1, sfByte = 2, sfAny = 4, sfFrame = 8 };
using TSeekFlags = unsigned; // a set of TSeekFlag

// SDL's sound driver: none named (what the environment says), or one by name.
enum TAudioDriver { adDefault, adPulseAudio, adAlsa, adDisk, adDummy };
enum TVideoDriver { vdDefault, vdX11, vdDummy };
enum TRepeatType { rtNone, rtStop, rtLoop };
enum Tav_sync_type { AV_SYNC_AUDIO_MASTER, AV_SYNC_VIDEO_MASTER, AV_SYNC_EXTERNAL_CLOCK };

// SDL's name of a driver; empty for the defaults.
const char* AudioDriverName(TAudioDriver driver);
const char* VideoDriverName(TVideoDriver driver);

using TFileOpenEvent = std::function<void(QObject* Sender, int64_t ADuration, int AFrameWidth,
                                          int AFrameHeight, int& AScreenWidth, int& AScreenHeight)>;
using TPositionEvent = std::function<void(QObject* Sender, int64_t APTS)>;
using TPlayStateEvent = std::function<void(QObject* Sender, TPlayState APlayState)>;

// The player's event queue: a ring of 10 entries. A push whose kind equals the newest
// queued entry's kind overwrites that entry (only the latest position, and the latest of
// consecutive states, survive); otherwise it is appended, dropping the oldest entry when
// the ring is full. Every push signals the event; taking the last entry resets it. Never
// blocks. Thread-safe.
class TPlayEvent {
public:
    enum TKind { ekPosition = 1, ekState = 2, ekQuit = 3 };
    struct TEntry {
        int Kind = 0;
        int64_t Value = 0;
    };
    static constexpr int Capacity = 10;

    void Push(int AKind, int64_t AValue);
    // The oldest entry; false when the queue is empty.
    bool Take(TEntry& AEntry);
    // Waits until an entry is queued or timeoutMs passes; true when one is queued.
    bool WaitFor(int timeoutMs) const { return FEvent.WaitFor(timeoutMs); }
    int Count() const;
    void Clear();

private:
    mutable std::mutex FLock;
    TEvent FEvent;
    TEntry FRing[Capacity];
    int FHead = 0; // the oldest entry
    int FCount = 0;
};

struct TPlayStream; // the state of one open input (FFPlay.cpp)

class TCustomPlayer : public TFFBaseComponent {
public:
    explicit TCustomPlayer(QObject* owner = nullptr);
    ~TCustomPlayer() override; // stops (waiting) and releases everything

    // Sets the loader's folder and loads avcodec, avformat, avutil, swscale, swresample
    // and the C library; with AAutoLoadSDL also SDL ("libSDL2-2.0.so.0") from the same
    // folder. False with LastErrMsg = the loader's message.
    bool LoadAVLib(const QString& ALibraryFolder, bool AAutoLoadSDL);
    bool AVLibLoaded() const;
    // Unloads them, and SDL when LoadAVLib loaded it.
    void UnloadAVLib();
    bool SDLLibLoaded() const { return FSDL.Loaded(); }
    bool LoadSDLLib(const QString& AFolder, const QString& AFile = SDLLibraryFileName);
    void UnloadSDLLib();

    // Opens AFileName and starts playing it, or stays paused at the start when APaused.
    // AScreenHandle names the window for pictures (unused: pictures are not shown).
    // Failures leave LastErrMsg: "libav not loaded.", "sdl not loaded.",
    // "Could not initialize SDL with ScreenHandle(%u): %s", "SDL_CreateThread() failed.",
    // the reading thread's messages ("%s: could not find codec parameters", "%s: could
    // not open codecs, no stream to play.", "connecting/reading timeout", ...).
    bool Open(const QString& AFileName, uintptr_t AScreenHandle, bool APaused);
    // Stops playing and closes the input; without waiting the release happens at the
    // next Open, Stop with waiting, or destruction (the sound stops at once either way).
    // Without an open input it cancels an Open in progress.
    void Stop(bool AWaitForStop);
    void Pause();
    void Resume();
    void TogglePause();
    // Advances one picture while paused; without pictures it does nothing.
    void StepToNextFrame();
    // Jumps to APTS microseconds from the start of the file (with sfByte: a byte
    // position), limited to 0 .. the duration. Dropped while another seek is pending.
    // With AWaitForSeekEnd returns when the reading thread has carried it out.
    template <std::integral T>
    void Seek(T APTS, TSeekFlags ASeekFlags = 0, bool AWaitForSeekEnd = false) {
        SeekTo(int64_t(APTS), ASeekFlags, AWaitForSeekEnd);
    }
    // Jumps ADelta seconds from the current position.
    void Seek(double ADelta, TSeekFlags ASeekFlags = 0, bool AWaitForSeekEnd = false);
    // Drops queued pictures (there are none: pictures are not decoded).
    void FlushQueue() {}

    // Plays the sound at ATempo times its speed (limited to MinTempo..MaxTempo) with its
    // pitch kept, through FFmpeg's "atempo" filter. The position, the seeks and the
    // duration stay in the file's own time; only the wall-clock pace changes. With an
    // open input the new speed starts within moments, from the position being heard
    // (the reading thread seeks there); it also holds for later opens.
    void SetTempo(double ATempo);
    double Tempo() const { return FTempo; }
    static constexpr double MinTempo = 0.5, MaxTempo = 2.0;

    bool DisableAudio() const { return FDisableAudio; }
    void SetDisableAudio(bool value) { FDisableAudio = value; }
    bool DisableVideo() const { return FDisableVideo; }
    void SetDisableVideo(bool value) { FDisableVideo = value; }
    bool DisableDisplay() const { return FDisableDisplay; }
    void SetDisableDisplay(bool value) { FDisableDisplay = value; }
    int AudioVolume() const { return FAudioVolume; }
    void SetAudioVolume(int value); // 0..128
    bool Mute() const { return FMute; }
    void SetMute(bool value) { FMute = value; }
    TAudioDriver AudioDriver() const { return FAudioDriver; }
    void SetAudioDriver(TAudioDriver value) { FAudioDriver = value; }
    TVideoDriver VideoDriver() const { return FVideoDriver; }
    void SetVideoDriver(TVideoDriver value) { FVideoDriver = value; }
    bool TriggerEventInMainThread() const { return FTriggerEventInMainThread; }
    void SetTriggerEventInMainThread(bool value) { FTriggerEventInMainThread = value; }
    int ReadTimeout() const { return FReadTimeout; }
    void SetReadTimeout(int ms) { FReadTimeout = ms; }
    TRepeatType RepeatType() const { return FRepeatType; }
    void SetRepeatType(TRepeatType value) { FRepeatType = value; }
    int64_t PlayTime() const { return FPlayTime; }
    void SetPlayTime(int64_t us) { FPlayTime = us; }
    int64_t start_time() const { return FStartTime; }
    void set_start_time(int64_t us) { FStartTime = us; }
    Tav_sync_type av_sync_type() const { return FSyncType; }
    void set_av_sync_type(Tav_sync_type value) { FSyncType = value; }

    // The current position in microseconds from the start of the file, limited to the
    // duration; -1 before the first open.
    int64_t CurrentPTS() const { return FCurrentPTS; }
    bool Paused() const;
    // Whether a seek is waiting to be carried out by the reading thread.
    bool Seeking() const;
    TPlayState PlayState() const { return FPlayState; }
    QString LastErrMsg() const;
    QString FileName() const { return FFileName; }
    // The open input's duration in microseconds; -1 when unknown or nothing is open.
    int64_t Duration() const;
    // The output's sample rate and channel count; 0 when nothing is open.
    int AudioSampleRate() const;
    int AudioChannels() const;

    // Handlers may be set or cleared at any time; an event uses the handler set when it
    // is delivered.
    TFileOpenEvent OnFileOpen() const { return FOnFileOpen.Get(); }
    void SetOnFileOpen(TFileOpenEvent handler) { FOnFileOpen.Set(std::move(handler)); }
    TPositionEvent OnPosition() const { return FOnPosition.Get(); }
    void SetOnPosition(TPositionEvent handler) { FOnPosition.Set(std::move(handler)); }
    TPlayStateEvent OnState() const { return FOnState.Get(); }
    void SetOnState(TPlayStateEvent handler);

private:
    friend struct TPlayStream;
    void SeekTo(int64_t APTS, TSeekFlags ASeekFlags, bool AWaitForSeekEnd);
    bool Fail(const QString& message); // logs, stores, false
    void SetLastErrMsg(const QString& message);
    void SetPlayState(TPlayState state); // any thread
    void ReleaseStream();
    void EndEventThread();
    void EventThreadRun();
    void PlayThreadRun();
    void Deliver(const std::function<void()>& call);

    TSDLLoader FSDL;
    bool FSDLAutoLoaded = false;

    bool FDisableAudio = false, FDisableVideo = false, FDisableDisplay = false;
    std::atomic<int> FAudioVolume{128};
    std::atomic<bool> FMute{false};
    TAudioDriver FAudioDriver = adDefault;
    TVideoDriver FVideoDriver = vdDefault;
    bool FTriggerEventInMainThread = true;
    int FReadTimeout = 10000;
    std::atomic<TRepeatType> FRepeatType{rtStop};
    std::atomic<int64_t> FPlayTime;
    std::atomic<int64_t> FStartTime;
    Tav_sync_type FSyncType = AV_SYNC_AUDIO_MASTER;
    double FTempo = 1.0;

    std::atomic<int64_t> FCurrentPTS{-1};
    std::atomic<TPlayState> FPlayState{psStop};
    mutable std::mutex FErrLock;
    QString FLastErrMsg;
    QString FFileName;
    uintptr_t FScreenHandle = 0;

    TEventHandler<TFileOpenEvent> FOnFileOpen;
    TEventHandler<TPositionEvent> FOnPosition;
    TEventHandler<TPlayStateEvent> FOnState;
    std::atomic<bool> FHasOnState{false};

    std::unique_ptr<TPlayStream> FStream; // the open input, or one being opened
    TPlayEvent FPlayEvent;
    std::thread FEventThread;
    std::atomic<bool> FEventThreadEnded{true};
    std::atomic<bool> FEventThreadTerminated{false};
};

// The published player.
class TFFPlayer : public TCustomPlayer {
public:
    using TCustomPlayer::TCustomPlayer;
};
