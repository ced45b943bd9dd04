#include "media/FrameHook.h"

#include "media/FFLoad.h"
#include "media/FFLog.h"
#include "media/FFmpeg.h"

#include <QFileInfo>

#include <map>
#include <memory>

std::mutex& PostHookLock() {
    static std::mutex lock;
    return lock;
}

// ---------------------------------------------------------------------------------------
// pictures and bitmaps

bool TPictureBitmap::ToBitmap(AVFrame* frame) {
    try {
        if (FConverter.BitsPixel() != BitsPixel)
            FConverter.SetBitsPixel(BitsPixel);
    } catch (const std::exception& error) {
        Error = QString::fromUtf8(error.what());
        return false;
    }
    FPicture = TAVPicture::Of(frame);
    if (!FConverter.PictureToRGB(&FPicture, AVPixelFormat(frame->format), frame->width,
                                 frame->height, true)) {
        Error = FConverter.LastErrMsg();
        return false;
    }
    return true;
}

bool TPictureBitmap::FromBitmap(AVFrame* frame) {
    if (!FConverter.RGBPictureRef()) {
        Error = QStringLiteral("The bitmap holds no picture");
        return false;
    }
    FConverter.BitmapToRGB();
    if (FConverter.RGBPictureRef() == FConverter.RGBPicture()) {
        FPicture = TAVPicture::Of(frame);
        if (!FConverter.RGBToPicture(&FPicture, AVPixelFormat(frame->format), frame->width,
                                     frame->height)) {
            Error = FConverter.LastErrMsg();
            return false;
        }
    }
    return true;
}

bool CopyPicture(TFramePtr& copy, const AVFrame* source) {
    if (!copy)
        copy.reset(FF.av_frame_alloc());
    if (!copy)
        return false;
    if (copy->width != source->width || copy->height != source->height ||
        copy->format != source->format || !copy->buf[0]) {
        FF.av_frame_unref(copy.get());
        copy->width = source->width;
        copy->height = source->height;
        copy->format = source->format;
        if (FF.av_frame_get_buffer(copy.get(), 0) < 0)
            return false;
    }
    if (FF.av_frame_make_writable(copy.get()) < 0 || FF.av_frame_copy(copy.get(), source) < 0)
        return false;
    FF.av_frame_copy_props(copy.get(), source);
    return true;
}

// ---------------------------------------------------------------------------------------
// plug-ins

namespace {

struct TPlugin {
    TLibraryModule Module;
};

std::mutex GPluginLock;
std::map<QString, std::unique_ptr<TPlugin>>& Plugins() {
    static auto* plugins = new std::map<QString, std::unique_ptr<TPlugin>>;
    return *plugins;
}

} // namespace

QStringList SplitHookArguments(const QString& value) {
    QStringList parts =
        value.contains(u'|') ? value.split(u'|') : value.split(u' ', Qt::SkipEmptyParts);
    while (parts.size() > 254)
        parts.removeLast();
    return parts;
}

void TVideoHookChain::Add(const QString& value) {
    const QStringList parts = SplitHookArguments(value);
    const auto fail = [&] {
        throw FFmpegException(QStringLiteral("Failed to add video hook function: ") + value);
    };
    if (parts.isEmpty())
        fail();
    const QString path = parts[0];
    const QByteArray pathBytes = path.toLocal8Bit();
    TPlugin* plugin = nullptr;
    {
        std::lock_guard lock(GPluginLock);
        auto& slot = Plugins()[path];
        if (!slot) {
            auto loaded = std::make_unique<TPlugin>();
            const QFileInfo info(path);
            if (!loaded->Module.Load(info.isFile() ? info.absolutePath() : QString(),
                                     info.isFile() ? info.fileName() : path)) {
                FF.av_log(nullptr, AV_LOG_ERROR, "%s\n",
                          loaded->Module.Error().toUtf8().constData());
                Plugins().erase(path);
                fail();
            }
            slot = std::move(loaded);
        }
        plugin = slot.get();
    }
    THook hook;
    hook.Process = reinterpret_cast<decltype(hook.Process)>(plugin->Module.Symbol("Process"));
    if (!hook.Process) {
        FF.av_log(nullptr, AV_LOG_ERROR, "Failed to find Process entrypoint in %s\n",
                  pathBytes.constData());
        fail();
    }
    auto configure =
        reinterpret_cast<int (*)(void**, int, char**)>(plugin->Module.Symbol("Configure"));
    hook.Release = reinterpret_cast<decltype(hook.Release)>(plugin->Module.Symbol("Release"));
    if (!configure && parts.size() > 1) {
        FF.av_log(nullptr, AV_LOG_ERROR, "Failed to find Configure entrypoint in %s\n",
                  pathBytes.constData());
        fail();
    }
    if (configure) {
        std::vector<QByteArray> args;
        for (const QString& part : parts)
            args.push_back(part.toLocal8Bit());
        std::vector<char*> argv;
        for (QByteArray& arg : args)
            argv.push_back(arg.data());
        argv.push_back(nullptr);
        if (configure(&hook.Context, int(args.size()), argv.data()) != 0) {
            FF.av_log(nullptr, AV_LOG_ERROR, "Failed to Configure %s\n", pathBytes.constData());
            fail();
        }
    }
    FHooks.push_back(hook);
}

void TVideoHookChain::Run(TAVPicture* picture, int pixFmt, int width, int height, int64_t pts) {
    for (THook& hook : FHooks)
        hook.Process(hook.Context, picture, pixFmt, width, height, pts);
}

void TVideoHookChain::ReleaseAll() {
    for (THook& hook : FHooks)
        if (hook.Release)
            hook.Release(hook.Context);
    FHooks.clear();
}
