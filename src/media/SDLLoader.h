#pragma once

#include <QString>

#include <SDL2/SDL.h>

// SDL 2, loaded at run time for the player's sound output. The program is never linked
// against SDL: a loader binds the entry points below into its table.
//
//     TSDLLoader sdl;
//     if (!sdl.Load(ProgramState().LibraryPath(), SDLLibraryFileName))
//         return Fail(sdl.LastErrMsg());
//     sdl.Api().SDL_InitSubSystem(SDL_INIT_AUDIO);
//
// SDL keeps its configuration in the process (environment, drivers), so one process
// uses one SDL library file: every loader of the process shares it. A loader asking for
// a different path while another loader holds SDL is refused with
// "<path> alreay loaded in another instance.". The library is unloaded when the last
// loader holding it unloads.
//
// Load and Unload may be called from any thread (a process-wide lock serialises them).
// The entry points may be called from any thread as SDL allows, while Loaded() is true.

#define VX_SDL_FUNCTIONS(X)                                                                        \
    X(SDL_Init)                                                                                    \
    X(SDL_InitSubSystem)                                                                           \
    X(SDL_QuitSubSystem)                                                                           \
    X(SDL_Quit)                                                                                    \
    X(SDL_WasInit)                                                                                 \
    X(SDL_GetError)                                                                                \
    X(SDL_SetHint)                                                                                 \
    X(SDL_free)                                                                                    \
    X(SDL_GetVersion)                                                                              \
    X(SDL_GetCurrentAudioDriver)                                                                   \
    X(SDL_GetCurrentVideoDriver)                                                                   \
    X(SDL_GetNumAudioDevices)                                                                      \
    X(SDL_GetAudioDeviceName)                                                                      \
    X(SDL_GetDefaultAudioInfo)                                                                     \
    X(SDL_OpenAudioDevice)                                                                         \
    X(SDL_PauseAudioDevice)                                                                        \
    X(SDL_GetAudioDeviceStatus)                                                                    \
    X(SDL_LockAudioDevice)                                                                         \
    X(SDL_UnlockAudioDevice)                                                                       \
    X(SDL_CloseAudioDevice)                                                                        \
    X(SDL_MixAudioFormat)

#define VX_SDL_MEMBER(name) decltype(&::name) name = nullptr;
struct TSDLApi {
    VX_SDL_FUNCTIONS(VX_SDL_MEMBER)
};
#undef VX_SDL_MEMBER

// The file name of SDL 2 on this platform.
inline constexpr const char* SDLLibraryFileName = "libSDL2-2.0.so.0";

class TSDLLoader {
public:
    TSDLLoader() = default;
    ~TSDLLoader() { Unload(); }
    TSDLLoader(const TSDLLoader&) = delete;
    TSDLLoader& operator=(const TSDLLoader&) = delete;

    // Loads `fileName` from `folder` (the system search path when the folder is empty or
    // the file is not there) and binds every entry point. The path compared with other
    // loaders is the folder with a trailing '/' followed by the file name. Failures, with
    // LastErrMsg set and the table cleared:
    //   "<path> alreay loaded in another instance."    another loader holds another path
    //   "Load library <path> error: <system text>"
    //   "Load function <name>@<file> error: <system text>"
    // Loading the path this loader already holds succeeds at once.
    bool Load(const QString& folder, const QString& fileName);
    void Unload();

    bool Loaded() const { return FLoaded; }
    // The path given to the successful Load (see above); empty when not loaded.
    QString LibFile() const { return FLibFile; }
    QString LastErrMsg() const { return FLastErrMsg; }
    // The bound entry points; all null while not loaded.
    const TSDLApi& Api() const { return FApi; }

private:
    void ReleaseLocked(); // with the process-wide lock held
    QString FLibFile;
    bool FLoaded = false;
    TSDLApi FApi;
    QString FLastErrMsg;
};

// The path a loader compares for (folder, fileName): the folder with a trailing '/'
// (none when the folder is empty) followed by the file name.
QString SDLLibraryPath(const QString& folder, const QString& fileName);
