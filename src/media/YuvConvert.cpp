#include "media/YuvConvert.h"

#include "media/FFLoad.h"

#include <libyuv/convert.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <mutex>

namespace {

// One conversion of libyuv: source, its stride, then the Y, U and V planes with theirs,
// width, height. libyuv names formats by their 32-bit word, FFmpeg by their bytes.
using TToI420 = decltype(&libyuv::ARGBToI420);

struct TYuvLibrary {
    TLibraryModule Module;
    TToI420 ARGBToI420 = nullptr;  // bytes B G R A: AV_PIX_FMT_BGRA, BGR0
    TToI420 ABGRToI420 = nullptr;  // bytes R G B A: AV_PIX_FMT_RGBA, RGB0
    TToI420 BGRAToI420 = nullptr;  // bytes A R G B: AV_PIX_FMT_ARGB, 0RGB
    TToI420 RGBAToI420 = nullptr;  // bytes A B G R: AV_PIX_FMT_ABGR, 0BGR
    TToI420 RGB24ToI420 = nullptr; // bytes B G R:   AV_PIX_FMT_BGR24
    TToI420 RAWToI420 = nullptr;   // bytes R G B:   AV_PIX_FMT_RGB24
    bool Loaded = false;
};

std::atomic<bool> GEnabled{true};
std::once_flag GLoadOnce;

bool DisabledByEnvironment() {
    const char* value = std::getenv("VEXMIRA_NO_LIBYUV");
    return value && *value && std::strcmp(value, "0") != 0;
}

// The library, loaded at the first call. Never unloaded: conversions may run on any thread.
const TYuvLibrary& Library() {
    static TYuvLibrary library;
    std::call_once(GLoadOnce, [] {
        if (DisabledByEnvironment() ||
            !library.Module.Load(QString(), QStringLiteral("libyuv.so.0")))
            return;
        const auto bind = [](const char* name) {
            return reinterpret_cast<TToI420>(library.Module.Symbol(name));
        };
        library.ARGBToI420 = bind("ARGBToI420");
        library.ABGRToI420 = bind("ABGRToI420");
        library.BGRAToI420 = bind("BGRAToI420");
        library.RGBAToI420 = bind("RGBAToI420");
        library.RGB24ToI420 = bind("RGB24ToI420");
        library.RAWToI420 = bind("RAWToI420");
        library.Loaded = library.ARGBToI420 && library.ABGRToI420 && library.BGRAToI420 &&
                         library.RGBAToI420 && library.RGB24ToI420 && library.RAWToI420;
        if (!library.Loaded)
            library.Module.Unload();
    });
    return library;
}

// Which of the library's conversions takes a packed format; null for any other.
TToI420 TYuvLibrary::*MemberOf(AVPixelFormat format) {
    switch (format) {
    case AV_PIX_FMT_BGRA:
    case AV_PIX_FMT_BGR0:
        return &TYuvLibrary::ARGBToI420;
    case AV_PIX_FMT_RGBA:
    case AV_PIX_FMT_RGB0:
        return &TYuvLibrary::ABGRToI420;
    case AV_PIX_FMT_ARGB:
    case AV_PIX_FMT_0RGB:
        return &TYuvLibrary::BGRAToI420;
    case AV_PIX_FMT_ABGR:
    case AV_PIX_FMT_0BGR:
        return &TYuvLibrary::RGBAToI420;
    case AV_PIX_FMT_BGR24:
        return &TYuvLibrary::RGB24ToI420;
    case AV_PIX_FMT_RGB24:
        return &TYuvLibrary::RAWToI420;
    default:
        return nullptr;
    }
}

} // namespace

bool IsYuv420Conversion(AVPixelFormat from, int fromWidth, int fromHeight, AVPixelFormat to,
                        int toWidth, int toHeight) {
    return to == AV_PIX_FMT_YUV420P && fromWidth == toWidth && fromHeight == toHeight &&
           fromWidth > 0 && fromHeight > 0 && MemberOf(from) != nullptr;
}

bool YuvLibraryInUse() {
    return GEnabled && Library().Loaded;
}

void SetYuvLibraryEnabled(bool enabled) {
    GEnabled = enabled;
}

bool ConvertToYuv420(const uint8_t* from, int fromStride, AVPixelFormat format, int width,
                     int height, uint8_t* const to[3], const int toStride[3]) {
    if (!IsYuv420Conversion(format, width, height, AV_PIX_FMT_YUV420P, width, height) ||
        !YuvLibraryInUse())
        return false;
    const TToI420 convert = Library().*MemberOf(format);
    return convert(from, fromStride, to[0], toStride[0], to[1], toStride[1], to[2], toStride[2],
                   width, height) == 0;
}

bool ConvertToYuv420(const AVFrame* from, AVFrame* to) {
    if (!IsYuv420Conversion(AVPixelFormat(from->format), from->width, from->height,
                            AVPixelFormat(to->format), to->width, to->height))
        return false;
    return ConvertToYuv420(from->data[0], from->linesize[0], AVPixelFormat(from->format),
                           from->width, from->height, to->data, to->linesize);
}

int YuvScalerFlags(AVPixelFormat from, int fromWidth, int fromHeight, AVPixelFormat to, int toWidth,
                   int toHeight, int usual) {
    if (!IsYuv420Conversion(from, fromWidth, fromHeight, to, toWidth, toHeight))
        return usual;
    // Without SWS_ACCURATE_RND swscale converts BGR24 by a shortcut that takes each block's
    // chroma from one of its pixels.
    return from == AV_PIX_FMT_BGR24 ? SWS_AREA | SWS_ACCURATE_RND : SWS_AREA;
}
