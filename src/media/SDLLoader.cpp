#include "media/SDLLoader.h"

#include "media/FFErrors.h"
#include "media/FFLoad.h"

#include <memory>
#include <mutex>

namespace {

// The one SDL library of the process and the loaders holding it.
struct TSharedSDL {
    std::mutex Lock;
    QString Path;
    std::unique_ptr<TLibraryModule> Module;
    TSDLApi Api;
    int Holders = 0;
};

TSharedSDL& Shared() {
    static TSharedSDL* shared = new TSharedSDL; // lives until the process ends
    return *shared;
}

} // namespace

QString SDLLibraryPath(const QString& folder, const QString& fileName) {
    QString path = folder;
    if (!path.isEmpty() && !path.endsWith(u'/'))
        path += u'/';
    return path + fileName;
}

bool TSDLLoader::Load(const QString& folder, const QString& fileName) {
    const QString path = SDLLibraryPath(folder, fileName);
    TSharedSDL& shared = Shared();
    std::lock_guard lock(shared.Lock);
    if (FLoaded && FLibFile == path)
        return true;
    if (FLoaded)
        ReleaseLocked(); // this loader moves to another file
    if (shared.Holders > 0 && shared.Path != path) {
        FLastErrMsg = QStringLiteral("%1 alreay loaded in another instance.").arg(path);
        return false;
    }
    if (shared.Holders == 0) {
        auto module = std::make_unique<TLibraryModule>();
        if (!module->Load(folder, fileName)) {
            FLastErrMsg = module->Error();
            return false;
        }
        TSDLApi api;
        try {
#define VX_SDL_BIND(name) api.name = module->BindFunction<decltype(&::name)>(#name);
            VX_SDL_FUNCTIONS(VX_SDL_BIND)
#undef VX_SDL_BIND
        } catch (const EFFError& e) {
            FLastErrMsg = e.Message();
            return false;
        }
        shared.Module = std::move(module);
        shared.Api = api;
        shared.Path = path;
    }
    ++shared.Holders;
    FApi = shared.Api;
    FLibFile = path;
    FLoaded = true;
    FLastErrMsg.clear();
    return true;
}

void TSDLLoader::Unload() {
    TSharedSDL& shared = Shared();
    std::lock_guard lock(shared.Lock);
    if (FLoaded)
        ReleaseLocked();
}

void TSDLLoader::ReleaseLocked() {
    TSharedSDL& shared = Shared();
    FLoaded = false;
    FApi = TSDLApi{};
    FLibFile.clear();
    if (--shared.Holders == 0) {
        shared.Api = TSDLApi{};
        shared.Module.reset();
        shared.Path.clear();
    }
}
