#pragma once

#include "media/FFApi.h"
#include "media/FFErrors.h"

#include <QString>

#include <initializer_list>
#include <vector>

// Loading the FFmpeg libraries (and the C library) at run time and binding their entry
// points into the tables of FFApi.h.
//
//     FFLoader.SetLibraryPath(ProgramState().LibraryPath()); // "<program folder>/LibAV"
//     if (!FFLoader.Load({avCodec, avFormat, avUtil, swScale, swResample, myUtil}))
//         return Fail(FFLoader.LastErrMsg()); // "Load library ... error: ..." and so on
//     ... FF.avformat_open_input(...) ...
//
// A library is loaded as "lib<name>.so.<major>" (the majors of the FFmpeg headers this
// program was built with) from LibraryPath when the file is there, else by that bare
// name through the system search path. When loaded from the folder, the libraries it
// needs that lie beside it are loaded from there first, so one folder holds one
// consistent set. The C library always comes from the system.
//
// Load, Unload and the setters run on the main thread; Loaded and the getters may be
// called from any thread while no Load or Unload runs.

// In this order: sets are always processed in it.
enum TLibrary { avCodec, avDevice, avFilter, avFormat, avUtil, swScale, swResample, myUtil };
constexpr int LibraryCount = 8;

// A set of libraries.
class TLibraries {
public:
    constexpr TLibraries() = default;
    constexpr TLibraries(TLibrary library) : FBits(1u << library) {}
    constexpr TLibraries(std::initializer_list<TLibrary> libraries) {
        for (TLibrary library : libraries)
            FBits |= 1u << library;
    }
    static constexpr TLibraries All() { return TLibraries((1u << LibraryCount) - 1, 0); }

    constexpr bool Contains(TLibrary library) const { return FBits & (1u << library); }
    constexpr bool Empty() const { return FBits == 0; }
    constexpr TLibraries operator|(TLibraries other) const {
        return TLibraries(FBits | other.FBits, 0);
    }
    constexpr bool operator==(const TLibraries&) const = default;

private:
    constexpr TLibraries(unsigned bits, int) : FBits(bits) {}
    unsigned FBits = 0;
};

class TLibraryModule;

// One row of the static library table.
struct TLibraryItem {
    TLibrary Lib;
    const char* Name; // "avcodec", ... "c"
    bool SysLib;      // always from the system search path, never from LibraryPath
    int Version;      // the major; a negative value appends none
    // Binds every entry point of the library into its table and makes its register call;
    // throws EFFError "Load function %s@%s error: %s" for the first missing one.
    void (*Fixup)(const TLibraryModule& module);
    void (*Unfix)(); // clears the library's table
};

const TLibraryItem& LibraryItem(TLibrary library);
// "lib<Name>.so.<Version>", or "lib<Name>.so" without a version.
QString LibraryFileName(TLibrary library);

// One library loaded with dlopen, together with the neighbours it needed from the same
// folder. Used by the loader and by the engine's other run-time libraries (SDL).
// Not thread-safe; the bound pointers stay valid until Unload.
class TLibraryModule {
public:
    TLibraryModule() = default;
    ~TLibraryModule() { Unload(); }
    TLibraryModule(const TLibraryModule&) = delete;
    TLibraryModule& operator=(const TLibraryModule&) = delete;

    // Loads `fileName` from `folder` (with or without a trailing '/') when the file is
    // there, first loading the libraries it needs that lie beside it; otherwise loads the
    // bare `fileName` through the system search path. False with Error() =
    // "Load library <folder/fileName> error: <dlerror text>". An empty folder means the
    // system search path.
    bool Load(const QString& folder, const QString& fileName);
    void Unload();

    bool IsLoaded() const { return FHandle != nullptr; }
    void* Handle() const { return FHandle; }
    QString FileName() const { return FFileName; }
    QString Error() const { return FError; }
    // The full path of the file the system loaded; empty when not loaded.
    QString LoadedPath() const;

    // The address of `name`, or null with `error` set to the dlerror text.
    void* Symbol(const char* name, QString* error = nullptr) const;

    // A function of the library; throws EFFError
    // "Load function <name>@<fileName> error: <dlerror text>" when it is missing.
    template <class F> F BindFunction(const char* name) const {
        return reinterpret_cast<F>(Bind(name, "function"));
    }
    // An exported variable; throws EFFError "Load variable <name>@<fileName> error: ...".
    template <class V> V* BindVariable(const char* name) const {
        return static_cast<V*>(Bind(name, "variable"));
    }

private:
    void* Bind(const char* name, const char* kind) const;
    void* FHandle = nullptr;
    std::vector<void*> FNeighbours; // dependencies loaded from the same folder
    QString FFileName, FError;
};

class TFFLoader {
public:
    constexpr TFFLoader() = default;

    // Loads and binds one library, or each library of a set in enumeration order. Loading
    // an already loaded library succeeds at once (and installs the log callback again).
    // A failing library leaves nothing of itself loaded; in the set form the whole set is
    // unloaded. False with LastErrMsg set. An empty set throws EAssertionFailed.
    bool Load(TLibrary library);
    bool Load(TLibraries libraries);
    // True when every library given is loaded and bound.
    bool Loaded(TLibrary library) const;
    bool Loaded(TLibraries libraries) const;
    void Unload(TLibrary library);
    void Unload(TLibraries libraries);

    // Shared by every TFFLoader object.
    QString LastErrMsg() const;
    QString LibraryPath() const;
    void SetLibraryPath(const QString& path);
    // Loads `fileName` instead of LibraryFileName(library) from now on; empty returns to
    // the table's name. Takes effect at the next load.
    void SetLibraryName(TLibrary library, const QString& fileName);
    QString LibraryName(TLibrary library) const;
    // The file the system loaded for `library`; empty when it is not loaded.
    QString LoadedFileName(TLibrary library) const;

    // Whether loading libavutil installs the logger's FFmpeg log callback (default true).
    bool InstallLogger() const { return FInstallLogger; }
    void SetInstallLogger(bool value) { FInstallLogger = value; }

private:
    bool FInstallLogger = true;
};

// The loader the engine uses. Everything it loads is unloaded when the process ends.
inline TFFLoader FFLoader;
