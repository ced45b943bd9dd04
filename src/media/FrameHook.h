#pragma once

#include "media/FFOwners.h"
#include "media/FFUtils.h"

#include <QImage>
#include <QString>
#include <QStringList>

#include <mutex>
#include <vector>

// Frame hooks of the transcoding job: picture <-> bitmap conversion for the bitmap
// hooks, and the chain of frame-hook plug-in libraries ("vhook").
//
// A plug-in library exports
//     int  Configure(void** ctx, int argc, char* argv[]);           // optional
//     void Process(void* ctx, TAVPicture* picture, int pix_fmt, int width, int height,
//                  int64_t pts);                                    // required
//     void Release(void* ctx);                                      // optional
// Configure is required when arguments are given; a non-zero result fails.

// The lock shared by every job's post hooks and previewer.
std::mutex& PostHookLock();

// A hook's picture converter: the picture as an RGB bitmap of 8, 15, 16, 24 or 32 bits
// per pixel and back. Not thread-safe; one per hook.
class TPictureBitmap {
public:
    int BitsPixel = 24;
    // Fills Bitmap() from the picture; false with Error.
    bool ToBitmap(AVFrame* frame);
    // Writes Bitmap() back into the picture ToBitmap was given; false with Error.
    bool FromBitmap(AVFrame* frame);
    QImage& Bitmap() { return FConverter.Bitmap(); }

    QString Error;
    int FrameNumber = 0; // the frame Bitmap() holds (0: none)

private:
    TFormatConverter FConverter;
    TAVPicture FPicture; // the picture the converter may use in place
};

class TVideoHookChain {
public:
    TVideoHookChain() = default;
    ~TVideoHookChain() { ReleaseAll(); }

    // Loads the plug-in (once per path for the process) and configures it with the
    // arguments; throws FFmpegException "Failed to add video hook function: <value>".
    void Add(const QString& value);
    bool Empty() const { return FHooks.empty(); }
    void Run(TAVPicture* picture, int pixFmt, int width, int height, int64_t pts);
    // Releases every plug-in's context and empties the chain.
    void ReleaseAll();

    TPictureBitmap InputBitmap, OutputBitmap;

private:
    struct THook {
        void* Context = nullptr;
        void (*Process)(void*, TAVPicture*, int, int, int, int64_t) = nullptr;
        void (*Release)(void*) = nullptr;
    };
    std::vector<THook> FHooks;
};

// Splits a "vhook" value into the library path and its arguments: at "|" when the value
// holds one, else at spaces; at most 254 parts.
QStringList SplitHookArguments(const QString& value);

// Copies a picture into `copy` (allocated or grown as needed). False when memory runs
// out.
bool CopyPicture(TFramePtr& copy, const AVFrame* source);
