#pragma once

#include <QString>

#include <SDL2/SDL.h>

// SDL 2, loaded at run time for the sound capture source, and the entry points it uses.
// The program is never linked against SDL.
//
//     if (!SdlAudio().Load())
//         return Fail(SdlAudio().LastError()); // "Load library ... error: ..."
//     const int count = SdlAudio().SDL_GetNumAudioDevices(1);
//
// "libSDL2-2.0.so.0" is taken from the media library folder (FFLoader.LibraryPath())
// when it lies there, else from the system search path. Once loaded it stays loaded
// until the process ends. Load is thread-safe; the entry points may be called from any
// thread as SDL allows, once Load has returned true.

#define VX_SDL_AUDIO_FUNCTIONS(X)                                                                  \
    X(SDL_InitSubSystem)                                                                           \
    X(SDL_QuitSubSystem)                                                                           \
    X(SDL_GetError)                                                                                \
    X(SDL_GetCurrentAudioDriver)                                                                   \
    X(SDL_GetNumAudioDevices)                                                                      \
    X(SDL_GetAudioDeviceName)                                                                      \
    X(SDL_OpenAudioDevice)                                                                         \
    X(SDL_CloseAudioDevice)                                                                        \
    X(SDL_PauseAudioDevice)                                                                        \
    X(SDL_GetAudioDeviceStatus)

#define VX_SDL_MEMBER(name) decltype(&::name) name = nullptr;
struct TSdlAudioApi {
    VX_SDL_AUDIO_FUNCTIONS(VX_SDL_MEMBER)

    bool Load();
    bool Loaded() const { return SDL_OpenAudioDevice != nullptr; }
    QString LastError() const { return FLastError; }

private:
    QString FLastError;
};
#undef VX_SDL_MEMBER

TSdlAudioApi& SdlAudio();
