#pragma once

#include "media/FFApi.h"

#include <cstdint>

// Packed RGB pictures to planar YUV 4:2:0 (AV_PIX_FMT_YUV420P) of the same size, in one
// SIMD pass through libyuv, which is loaded at run time ("libyuv.so.0" through the system
// search path, at the first conversion). Everything else (scaling, other formats) stays
// with swscale:
//
//     if (!ConvertToYuv420(frame, out))        // false: not a case it takes, or no libyuv
//         FF.sws_scale(sws, frame->data, frame->linesize, 0, frame->height, out->data,
//                      out->linesize);         // made with YuvScalerFlags(...)
//
// The result is BT.601 with limited range: luma of each pixel, chroma of each 2 x 2 block
// averaged (sited at the block's centre; the last column or row of an odd side alone),
// as swscale computes it with YuvScalerFlags. On photographs and screens the two agree
// within one level per sample (libyuv rounds its chroma down, so its U and V lie up to a
// level below swscale's; where saturated colours meet on single pixels, a few samples
// reach two levels).
//
// Packed formats taken: BGRA, BGR0, RGBA, RGB0, ARGB, 0RGB, ABGR, 0BGR, BGR24 and RGB24,
// any width and height from 1. When libyuv cannot be loaded, when the environment
// variable VEXMIRA_NO_LIBYUV is set to anything but "0" or empty at the first conversion,
// or after SetYuvLibraryEnabled(false), nothing is converted here and swscale does it all.
//
// Every function is thread-safe; the library is loaded once per process.

// True when a picture of `from` can be converted to `to` here: the same size, `from` a
// packed format listed above, `to` YUV420P. Says nothing about libyuv being present.
bool IsYuv420Conversion(AVPixelFormat from, int fromWidth, int fromHeight, AVPixelFormat to,
                        int toWidth, int toHeight);

// Converts `from` into `to` (whose buffers the caller allocated, size and format set) and
// returns true; false, touching nothing, when IsYuv420Conversion says no or libyuv is not
// in use.
bool ConvertToYuv420(const AVFrame* from, AVFrame* to);
// The same for bare planes: `to` is a YUV420P picture, its Y, U and V planes with their
// line sizes.
bool ConvertToYuv420(const uint8_t* from, int fromStride, AVPixelFormat format, int width,
                     int height, uint8_t* const to[3], const int toStride[3]);

// The swscale flags for converting `from` into `to`: for a conversion that
// IsYuv420Conversion takes SWS_AREA (with SWS_ACCURATE_RND for BGR24), so that swscale's
// chroma is the same block average as libyuv's whether libyuv is there or not (unscaled
// luma is the same for every filter); else `usual`. For an odd side swscale still
// differs at the last column or row: it spreads the chroma over the picture instead.
int YuvScalerFlags(AVPixelFormat from, int fromWidth, int fromHeight, AVPixelFormat to, int toWidth,
                   int toHeight, int usual);

// Whether conversions go through libyuv (loading it on the first call).
bool YuvLibraryInUse();
// Turns the libyuv path on (the default) or off for the whole process.
void SetYuvLibraryEnabled(bool enabled);
