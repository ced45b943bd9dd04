#pragma once

// The typed tables through which the whole engine calls FFmpeg (and the C library).
// The program is never linked against libav*: the loader (FFLoad.h) fills these
// tables with dlsym when a library is loaded and clears them when it is unloaded.
//
// Call FFmpeg through the one aggregate table `FF`:
//
//     if (!FFLoader.Loaded({avCodec, avFormat, avUtil}))
//         return false;                      // tables not bound: never call them
//     AVFormatContext* ic = FF.avformat_alloc_context();
//     int ret = FF.avformat_open_input(&ic, url, nullptr, nullptr);
//     if (ret < 0)
//         FF.av_log(nullptr, AV_LOG_ERROR, "%s\n", FFErrorText(url, ret).toUtf8().constData());
//
// Each member has the exact type of the FFmpeg function of that name
// (`decltype(&::avcodec_open2)`), so calls are type-checked as if linked. A member is
// null while its library is not loaded; calling it then crashes, so every component
// checks `FFLoader.Loaded(...)` first. The per-library tables (`AVCodecApi()`, ...)
// are the same members, grouped by the library that exports them.
//
// Header-only FFmpeg helpers (`av_q2d`, `av_make_q`, `AVERROR`, `av_inv_q`, ...) can be
// used directly. A function that is exported but missing from the lists in
// FFEntryPoints.h cannot be called directly: the link fails, which is the reminder to add
// it there (one line).
//
// The tables are written only by the loader, on the main thread, while no component
// uses the library; reading them is thread-safe otherwise.

#include "media/FFEntryPoints.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavcodec/bsf.h>
#include <libavdevice/avdevice.h>
#include <libavfilter/avfilter.h>
#include <libavfilter/buffersink.h>
#include <libavfilter/buffersrc.h>
#include <libavformat/avformat.h>
#include <libavformat/avio.h>
#include <libavutil/audio_fifo.h>
#include <libavutil/avstring.h>
#include <libavutil/avutil.h>
#include <libavutil/channel_layout.h>
#include <libavutil/cpu.h>
#include <libavutil/dict.h>
#include <libavutil/display.h>
#include <libavutil/eval.h>
#include <libavutil/fifo.h>
#include <libavutil/frame.h>
#include <libavutil/imgutils.h>
#include <libavutil/log.h>
#include <libavutil/mathematics.h>
#include <libavutil/opt.h>
#include <libavutil/parseutils.h>
#include <libavutil/pixdesc.h>
#include <libavutil/samplefmt.h>
#include <libavutil/time.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

#define VX_API_MEMBER(name) decltype(&::name) name = nullptr;

struct TAVCodecApi {
    VX_AVCODEC_FUNCTIONS(VX_API_MEMBER)
    VX_AVCODEC_VARIABLES(VX_API_MEMBER)
};
struct TAVDeviceApi {
    VX_AVDEVICE_FUNCTIONS(VX_API_MEMBER)
    VX_AVDEVICE_VARIABLES(VX_API_MEMBER)
};
struct TAVFilterApi {
    VX_AVFILTER_FUNCTIONS(VX_API_MEMBER)
    VX_AVFILTER_VARIABLES(VX_API_MEMBER)
};
struct TAVFormatApi {
    VX_AVFORMAT_FUNCTIONS(VX_API_MEMBER)
    VX_AVFORMAT_VARIABLES(VX_API_MEMBER)
};
struct TAVUtilApi {
    VX_AVUTIL_FUNCTIONS(VX_API_MEMBER)
    VX_AVUTIL_VARIABLES(VX_API_MEMBER)
};
struct TSwScaleApi {
    VX_SWSCALE_FUNCTIONS(VX_API_MEMBER)
    VX_SWSCALE_VARIABLES(VX_API_MEMBER)
};
struct TSwResampleApi {
    VX_SWRESAMPLE_FUNCTIONS(VX_API_MEMBER)
    VX_SWRESAMPLE_VARIABLES(VX_API_MEMBER)
};
struct TMyUtilApi {
    VX_MYUTIL_FUNCTIONS(VX_API_MEMBER)
    VX_MYUTIL_VARIABLES(VX_API_MEMBER)
};

#undef VX_API_MEMBER

// All tables in one: `FF.<any bound name>`.
struct TFFApi : TAVCodecApi,
                TAVDeviceApi,
                TAVFilterApi,
                TAVFormatApi,
                TAVUtilApi,
                TSwScaleApi,
                TSwResampleApi,
                TMyUtilApi {};

namespace VxDetail {
extern TFFApi GFFApi; // written by the loader only
}

inline const TFFApi& FF = VxDetail::GFFApi;

inline const TAVCodecApi& AVCodecApi() {
    return VxDetail::GFFApi;
}
inline const TAVDeviceApi& AVDeviceApi() {
    return VxDetail::GFFApi;
}
inline const TAVFilterApi& AVFilterApi() {
    return VxDetail::GFFApi;
}
inline const TAVFormatApi& AVFormatApi() {
    return VxDetail::GFFApi;
}
inline const TAVUtilApi& AVUtilApi() {
    return VxDetail::GFFApi;
}
inline const TSwScaleApi& SwScaleApi() {
    return VxDetail::GFFApi;
}
inline const TSwResampleApi& SwResampleApi() {
    return VxDetail::GFFApi;
}
inline const TMyUtilApi& MyUtilApi() {
    return VxDetail::GFFApi;
}
