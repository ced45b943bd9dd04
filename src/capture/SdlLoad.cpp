#include "capture/SdlLoad.h"

#include "media/FFErrors.h"
#include "media/FFLoad.h"

#include <mutex>

namespace {

std::mutex GSdlMutex;
TLibraryModule GSdlModule;
TSdlAudioApi GSdlAudio;

} // namespace

TSdlAudioApi& SdlAudio() {
    return GSdlAudio;
}

bool TSdlAudioApi::Load() {
    std::lock_guard lock(GSdlMutex);
    if (Loaded())
        return true;
    if (!GSdlModule.IsLoaded() &&
        !GSdlModule.Load(FFLoader.LibraryPath(), QStringLiteral("libSDL2-2.0.so.0"))) {
        FLastError = GSdlModule.Error();
        return false;
    }
    try {
        TSdlAudioApi api;
#define VX_SDL_BIND(name) api.name = GSdlModule.BindFunction<decltype(&::name)>(#name);
        VX_SDL_AUDIO_FUNCTIONS(VX_SDL_BIND)
#undef VX_SDL_BIND
        api.FLastError.clear();
        *this = api;
    } catch (const EFFError& e) {
        FLastError = e.Message();
        GSdlModule.Unload();
        return false;
    }
    return true;
}
