#include "media/FFLoad.h"

#include "media/FFLog.h"
#include "media/InputFormats.h"
#include "platform/ElfInfo.h"

#include <QFileInfo>

#include <set>
#include <string_view>
#include <type_traits>

#include <dlfcn.h>
#include <gnu/lib-names.h>
#include <link.h>

TFFApi VxDetail::GFFApi;

// ---------------------------------------------------------------------------------------
// Binders: one per library, generated from the entry-point lists.

#define VX_BIND_FUNCTION(name) api.name = module.BindFunction<decltype(api.name)>(#name);
#define VX_BIND_VARIABLE(name)                                                                     \
    api.name = module.BindVariable<std::remove_pointer_t<decltype(api.name)>>(#name);
// The table is published only when every entry point was found.
#define VX_DEFINE_BINDER(Api, Functions, Variables)                                                \
    static void Bind##Api(const TLibraryModule& module) {                                          \
        Api api;                                                                                   \
        Functions(VX_BIND_FUNCTION) Variables(VX_BIND_VARIABLE);                                   \
        static_cast<Api&>(VxDetail::GFFApi) = api;                                                 \
    }                                                                                              \
    static void Unfix##Api() {                                                                     \
        static_cast<Api&>(VxDetail::GFFApi) = Api{};                                               \
    }

VX_DEFINE_BINDER(TAVCodecApi, VX_AVCODEC_FUNCTIONS, VX_AVCODEC_VARIABLES)
VX_DEFINE_BINDER(TAVDeviceApi, VX_AVDEVICE_FUNCTIONS, VX_AVDEVICE_VARIABLES)
VX_DEFINE_BINDER(TAVFilterApi, VX_AVFILTER_FUNCTIONS, VX_AVFILTER_VARIABLES)
VX_DEFINE_BINDER(TAVFormatApi, VX_AVFORMAT_FUNCTIONS, VX_AVFORMAT_VARIABLES)
VX_DEFINE_BINDER(TAVUtilApi, VX_AVUTIL_FUNCTIONS, VX_AVUTIL_VARIABLES)
VX_DEFINE_BINDER(TSwScaleApi, VX_SWSCALE_FUNCTIONS, VX_SWSCALE_VARIABLES)
VX_DEFINE_BINDER(TSwResampleApi, VX_SWRESAMPLE_FUNCTIONS, VX_SWRESAMPLE_VARIABLES)
VX_DEFINE_BINDER(TMyUtilApi, VX_MYUTIL_FUNCTIONS, VX_MYUTIL_VARIABLES)

#undef VX_DEFINE_BINDER
#undef VX_BIND_VARIABLE
#undef VX_BIND_FUNCTION

// libavdevice offers its input and output devices only after its register call.
static void BindTAVDeviceApiAndRegister(const TLibraryModule& module) {
    BindTAVDeviceApi(module);
    FF.avdevice_register_all();
}

static_assert(std::string_view(LIBC_SO) == "libc.so.6", "the C library's file name changed");

static const TLibraryItem GLibraries[LibraryCount] = {
    {avCodec, "avcodec", false, LIBAVCODEC_VERSION_MAJOR, &BindTAVCodecApi, &UnfixTAVCodecApi},
    {avDevice, "avdevice", false, LIBAVDEVICE_VERSION_MAJOR, &BindTAVDeviceApiAndRegister,
     &UnfixTAVDeviceApi},
    {avFilter, "avfilter", false, LIBAVFILTER_VERSION_MAJOR, &BindTAVFilterApi, &UnfixTAVFilterApi},
    {avFormat, "avformat", false, LIBAVFORMAT_VERSION_MAJOR, &BindTAVFormatApi, &UnfixTAVFormatApi},
    {avUtil, "avutil", false, LIBAVUTIL_VERSION_MAJOR, &BindTAVUtilApi, &UnfixTAVUtilApi},
    {swScale, "swscale", false, LIBSWSCALE_VERSION_MAJOR, &BindTSwScaleApi, &UnfixTSwScaleApi},
    {swResample, "swresample", false, LIBSWRESAMPLE_VERSION_MAJOR, &BindTSwResampleApi,
     &UnfixTSwResampleApi},
    {myUtil, "c", true, 6, &BindTMyUtilApi, &UnfixTMyUtilApi},
};

const TLibraryItem& LibraryItem(TLibrary library) {
    return GLibraries[library];
}

QString LibraryFileName(TLibrary library) {
    const TLibraryItem& item = LibraryItem(library);
    QString name = QStringLiteral("lib%1.so").arg(QLatin1StringView(item.Name));
    if (item.Version >= 0)
        name += QStringLiteral(".%1").arg(item.Version);
    return name;
}

// ---------------------------------------------------------------------------------------
// TLibraryModule

static QString DlError() {
    const char* text = dlerror();
    return text ? QString::fromLocal8Bit(text) : QStringLiteral("unknown error");
}

// The system's own libraries are never taken from a library folder: a second C library
// in the process would break it.
static bool IsSystemCoreLibrary(const QString& soname) {
    static const char* const prefixes[] = {"libc.so",     "libm.so",      "libpthread.so",
                                           "libdl.so",    "librt.so",     "ld-linux",
                                           "libgcc_s.so", "libstdc++.so", "libresolv.so"};
    for (const char* prefix : prefixes)
        if (soname.startsWith(QLatin1StringView(prefix)))
            return true;
    return false;
}

// Loads, depth first, the libraries that `path` needs and that lie in `folder`, so that
// the system's search does not pick other copies of them. A library the process already
// has is left alone (the system would reuse it anyway).
static void LoadNeighbours(const QString& folder, const QString& path, std::set<QString>& visited,
                           std::vector<void*>& handles) {
    for (const QString& needed : ElfNeededLibraries(path)) {
        if (!visited.insert(needed).second || IsSystemCoreLibrary(needed))
            continue;
        const QString candidate = folder + needed;
        if (!QFileInfo(candidate).isFile())
            continue;
        if (void* resident = dlopen(needed.toLocal8Bit().constData(), RTLD_LAZY | RTLD_NOLOAD)) {
            dlclose(resident);
            continue;
        }
        LoadNeighbours(folder, candidate, visited, handles);
        if (void* handle = dlopen(candidate.toLocal8Bit().constData(), RTLD_NOW | RTLD_LOCAL))
            handles.push_back(handle);
    }
}

bool TLibraryModule::Load(const QString& folder, const QString& fileName) {
    Unload();
    FFileName = fileName;
    FError.clear();
    QString dir = folder;
    if (!dir.isEmpty() && !dir.endsWith(u'/'))
        dir += u'/';
    const QString fullName = dir + fileName;
    dlerror();
    if (!dir.isEmpty() && QFileInfo(fullName).isFile()) {
        std::set<QString> visited{fileName};
        LoadNeighbours(dir, fullName, visited, FNeighbours);
        FHandle = dlopen(fullName.toLocal8Bit().constData(), RTLD_NOW | RTLD_LOCAL);
    } else {
        FHandle = dlopen(fileName.toLocal8Bit().constData(), RTLD_NOW | RTLD_LOCAL);
    }
    if (!FHandle) {
        FError = QStringLiteral("Load library %1 error: %2").arg(fullName, DlError());
        Unload();
        return false;
    }
    return true;
}

void TLibraryModule::Unload() {
    if (FHandle)
        dlclose(FHandle);
    FHandle = nullptr;
    for (auto it = FNeighbours.rbegin(); it != FNeighbours.rend(); ++it)
        dlclose(*it);
    FNeighbours.clear();
}

QString TLibraryModule::LoadedPath() const {
    link_map* map = nullptr;
    if (!FHandle || dlinfo(FHandle, RTLD_DI_LINKMAP, &map) != 0 || !map || !map->l_name)
        return {};
    return QString::fromLocal8Bit(map->l_name);
}

void* TLibraryModule::Symbol(const char* name, QString* error) const {
    if (!FHandle) {
        if (error)
            *error = QStringLiteral("%1 is not loaded").arg(FFileName);
        return nullptr;
    }
    dlerror();
    void* address = dlsym(FHandle, name);
    if (const char* text = dlerror()) {
        if (error)
            *error = QString::fromLocal8Bit(text);
        return nullptr;
    }
    if (error)
        error->clear();
    return address;
}

void* TLibraryModule::Bind(const char* name, const char* kind) const {
    QString error;
    void* address = Symbol(name, &error);
    if (!error.isEmpty())
        throw EFFError(
            QStringLiteral("Load %1 %2@%3 error: %4")
                .arg(QLatin1StringView(kind), QLatin1StringView(name), FFileName, error));
    return address;
}

// ---------------------------------------------------------------------------------------
// TFFLoader

namespace {

struct TLibraryStatus {
    QString Name; // file name override; empty: the table's name
    TLibraryModule Module;
    bool Fixuped = false;
};

void UnloadLibrary(TLibrary library);

// Loader-wide state, shared by every TFFLoader object.
struct TLoaderState {
    TLibraryStatus Status[LibraryCount];
    QString LastErrMsg;
    QString LibraryPath;
    bool LogCallbackInstalled = false;

    ~TLoaderState() {
        for (int i = 0; i < LibraryCount; ++i)
            UnloadLibrary(TLibrary(i));
    }
};

TLoaderState& State() {
    static TLoaderState state;
    return state;
}

void UnloadLibrary(TLibrary library) {
    TLoaderState& state = State();
    TLibraryStatus& status = state.Status[library];
    if (status.Fixuped) {
        // FFmpeg must not call into the log bridge through a library on its way out.
        if (library == avUtil && state.LogCallbackInstalled) {
            FF.av_log_set_callback(FF.av_log_default_callback);
            state.LogCallbackInstalled = false;
        }
        // Own input formats are registrations with libavformat: they end with it.
        if (library == avFormat)
            ForgetOwnInputFormats();
        LibraryItem(library).Unfix();
        status.Fixuped = false;
    }
    status.Module.Unload();
}

} // namespace

bool TFFLoader::Load(TLibrary library) {
    TLoaderState& state = State();
    TLibraryStatus& status = state.Status[library];
    const TLibraryItem& item = LibraryItem(library);
    if (!status.Module.IsLoaded()) {
        const QString folder = item.SysLib ? QString() : state.LibraryPath;
        if (!status.Module.Load(folder, LibraryName(library))) {
            state.LastErrMsg = status.Module.Error();
            return false;
        }
    }
    if (!status.Fixuped) {
        try {
            item.Fixup(status.Module);
            status.Fixuped = true;
        } catch (const std::exception& error) {
            state.LastErrMsg = QString::fromUtf8(error.what());
        }
    }
    if (!status.Fixuped) {
        status.Module.Unload();
        return false;
    }
    if (library == avUtil && FInstallLogger) {
        FFLogger().InstallAVLogCallback();
        state.LogCallbackInstalled = true;
    }
    return true;
}

bool TFFLoader::Load(TLibraries libraries) {
    FFAssert(!libraries.Empty(), "No library given to load.");
    for (int i = 0; i < LibraryCount; ++i)
        if (libraries.Contains(TLibrary(i)) && !Load(TLibrary(i))) {
            Unload(libraries);
            return false;
        }
    return true;
}

bool TFFLoader::Loaded(TLibrary library) const {
    const TLibraryStatus& status = State().Status[library];
    return status.Module.IsLoaded() && status.Fixuped;
}

bool TFFLoader::Loaded(TLibraries libraries) const {
    FFAssert(!libraries.Empty(), "No library given to test.");
    for (int i = 0; i < LibraryCount; ++i)
        if (libraries.Contains(TLibrary(i)) && !Loaded(TLibrary(i)))
            return false;
    return true;
}

void TFFLoader::Unload(TLibrary library) {
    UnloadLibrary(library);
}

void TFFLoader::Unload(TLibraries libraries) {
    FFAssert(!libraries.Empty(), "No library given to unload.");
    for (int i = 0; i < LibraryCount; ++i)
        if (libraries.Contains(TLibrary(i)))
            UnloadLibrary(TLibrary(i));
}

QString TFFLoader::LastErrMsg() const {
    return State().LastErrMsg;
}
QString TFFLoader::LibraryPath() const {
    return State().LibraryPath;
}
void TFFLoader::SetLibraryPath(const QString& path) {
    State().LibraryPath = path;
}

void TFFLoader::SetLibraryName(TLibrary library, const QString& fileName) {
    State().Status[library].Name = fileName;
}

QString TFFLoader::LibraryName(TLibrary library) const {
    const QString& name = State().Status[library].Name;
    return name.isEmpty() ? LibraryFileName(library) : name;
}

QString TFFLoader::LoadedFileName(TLibrary library) const {
    return Loaded(library) ? State().Status[library].Module.LoadedPath() : QString();
}
