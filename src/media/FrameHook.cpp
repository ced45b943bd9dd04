#include "media/FrameHook.h"

#include "media/FFLoad.h"
#include "media/FFLog.h"
#include "media/FFmpegInternal.h"
#include "media/MainThread.h"
#include "media/Previewer.h"

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

bool CopyPicture(AVFrame*& copy, const AVFrame* source) {
    if (!copy)
        copy = FF.av_frame_alloc();
    if (!copy)
        return false;
    if (copy->width != source->width || copy->height != source->height ||
        copy->format != source->format || !copy->buf[0]) {
        FF.av_frame_unref(copy);
        copy->width = source->width;
        copy->height = source->height;
        copy->format = source->format;
        if (FF.av_frame_get_buffer(copy, 0) < 0)
            return false;
    }
    if (FF.av_frame_make_writable(copy) < 0 || FF.av_frame_copy(copy, source) < 0)
        return false;
    FF.av_frame_copy_props(copy, source);
    return true;
}

namespace {

// Line blending of the odd lines of every 8-bit plane.
bool Deinterlace(AVFrame* frame) {
    const AVPixFmtDescriptor* desc = FF.av_pix_fmt_desc_get(AVPixelFormat(frame->format));
    if (!desc || (desc->flags & (AV_PIX_FMT_FLAG_BITSTREAM | AV_PIX_FMT_FLAG_PAL)) ||
        desc->comp[0].depth != 8)
        return false;
    const int planes = FF.av_pix_fmt_count_planes(AVPixelFormat(frame->format));
    for (int p = 0; p < planes; ++p) {
        const int h =
            p == 0 || p == 3 ? frame->height : AV_CEIL_RSHIFT(frame->height, desc->log2_chroma_h);
        const int bytes = FF.av_image_get_linesize(AVPixelFormat(frame->format), frame->width, p);
        for (int y = 1; y + 1 < h; y += 2) {
            uint8_t* line = frame->data[p] + ptrdiff_t(y) * frame->linesize[p];
            const uint8_t* above = line - frame->linesize[p];
            const uint8_t* below = line + frame->linesize[p];
            for (int x = 0; x < bytes; ++x)
                line[x] = uint8_t((above[x] + below[x] + 1) >> 1);
        }
    }
    return true;
}

// The bitmap hook procedure; false when the hook is to be disconnected.
bool RunBitmapHook(TCustomFFmpeg* job, const TJobVideoHookEvent& hook, TPictureBitmap& bitmap,
                   AVFrame* frame, int frameNumber, int64_t pts) {
    if (!bitmap.ToBitmap(frame)) {
        FFLogger().Log(nullptr, llError, bitmap.Error);
        bitmap.FrameNumber = 0;
        return false;
    }
    bitmap.FrameNumber = frameNumber;
    bool update = true, stopHook = false;
    try {
        hook(job, &bitmap.Bitmap(), frameNumber, pts, update, stopHook);
    } catch (const std::exception& error) {
        FFLogger().Log(nullptr, llError,
                       QStringLiteral("Error occurs VideoHook event: ") +
                           QString::fromUtf8(error.what()));
        update = false;
    } catch (...) {
        FFLogger().Log(nullptr, llError, QStringLiteral("Error occurs VideoHook event: "));
        update = false;
    }
    if (update && !bitmap.FromBitmap(frame)) {
        FFLogger().Log(nullptr, llError, bitmap.Error);
        return false;
    }
    if (!update)
        bitmap.FrameNumber = 0; // the bitmap no longer shows the picture
    return !stopHook;
}

} // namespace

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

// ---------------------------------------------------------------------------------------
// the job's hook points

AVFrame* TCustomFFmpeg::InputProcessing(TInputStream& ist, AVFrame* frame) {
    const bool bitmapHook = OnInputVideoHook && !FInputHookOff;
    if (!FDoDeinterlace && !OnInputFrameHook && !bitmapHook && FHookChain->Empty())
        return frame;
    if (!CopyPicture(ist.hook_frame, frame)) {
        FFLogger().Log(nullptr, llError, "hook buf malloc error.");
        return frame;
    }
    AVFrame* copy = ist.hook_frame;
    if (FDoDeinterlace && !Deinterlace(copy)) {
        FFLogger().Log(nullptr, llError, "Deinterlacing failed.");
        FF.av_frame_copy(copy, frame);
    }
    if (OnInputFrameHook) {
        TAVPicture picture = TAVPicture::Of(copy);
        OnInputFrameHook(this, &picture, copy->format, ist.frame_number, copy->width, copy->height,
                         ist.pts);
    }
    if (bitmapHook) {
        FHookChain->InputBitmap.BitsPixel = VideoHookBitsPixel;
        if (!RunBitmapHook(this, OnInputVideoHook, FHookChain->InputBitmap, copy, ist.frame_number,
                           ist.pts))
            FInputHookOff = true;
    } else if (!OnInputVideoHook && !FHookChain->Empty()) {
        TAVPicture picture = TAVPicture::Of(copy);
        FHookChain->Run(&picture, copy->format, copy->width, copy->height, ist.pts);
    }
    return copy;
}

AVFrame* TCustomFFmpeg::OutputProcessing(TOutputStream& ost, AVFrame* frame, int frameNumber,
                                         int64_t pts) {
    const bool bitmapHook = OnOutputVideoHook && !FOutputHookOff;
    FHookChain->OutputBitmap.FrameNumber = 0;
    if (!bitmapHook && !OnOutputFrameHook)
        return frame;
    if (!CopyPicture(ost.out_hook, frame)) {
        FFLogger().Log(nullptr, llError, "hook buf malloc error.");
        return frame;
    }
    AVFrame* copy = ost.out_hook;
    if (bitmapHook) {
        FHookChain->OutputBitmap.BitsPixel = VideoHookBitsPixel;
        if (!RunBitmapHook(this, OnOutputVideoHook, FHookChain->OutputBitmap, copy, frameNumber,
                           pts))
            FOutputHookOff = true;
    }
    if (OnOutputFrameHook) {
        TAVPicture picture = TAVPicture::Of(copy);
        OnOutputFrameHook(this, &picture, copy->format, frameNumber, copy->width, copy->height,
                          pts);
        FHookChain->OutputBitmap.FrameNumber = 0; // the picture may have changed
    }
    return copy;
}

void TCustomFFmpeg::PostHookProcessing(TOutputStream& ost, AVFrame* frame, int frameNumber,
                                       int64_t pts) {
    if (ost.type != AVMEDIA_TYPE_VIDEO)
        return;
    TPostHooks hooks;
    bool changed;
    {
        std::lock_guard lock(PostHookLock());
        hooks = FPostHooks;
        changed = FPostHooksChanged;
        FPostHooksChanged = false;
    }
    if (!(hooks & (phPreview | phBitmap)))
        return;
    const bool bitmapWanted = (hooks & phBitmap) && OnPreviewBitmap;
    const int64_t now = JobNow();
    if (FLastPreview && now - FLastPreview < PreviewInterval)
        return;
    FLastPreview = now;
    // Reuse the output hook's bitmap when it shows this very frame.
    TPictureBitmap& bitmap = FHookChain->OutputBitmap;
    if (bitmap.FrameNumber != frameNumber || changed || bitmap.BitsPixel != VideoHookBitsPixel) {
        bitmap.BitsPixel = VideoHookBitsPixel;
        if (!bitmap.ToBitmap(frame)) {
            FFLogger().Log(nullptr, llError, bitmap.Error);
            std::lock_guard lock(PostHookLock());
            FPostHooks &= ~unsigned(bitmapWanted ? phBitmap : phPreview);
            return;
        }
        bitmap.FrameNumber = frameNumber;
    }
    // The handlers and the paint run outside the lock: the main thread may change the
    // post hooks meanwhile without waiting for this thread.
    if (bitmapWanted) {
        OnPreviewBitmap(this, &bitmap.Bitmap(), frameNumber, pts);
        return;
    }
    if (!FPreviewer)
        FPreviewer = std::make_unique<TPreviewer>();
    if (!FPreviewer->Paint(bitmap.Bitmap(), pts)) {
        // the user closed the window: no more previews for this job
        std::lock_guard lock(PostHookLock());
        FPostHooks &= ~unsigned(phPreview);
        FPreviewer.reset();
    }
}

void TCustomFFmpeg::CallAudioHook(TInputStream& ist, AVFrame* frame) {
    if (!OnAudioHook)
        return;
    if (FF.av_frame_make_writable(frame) < 0)
        return;
    const AVSampleFormat fmt = AVSampleFormat(frame->format);
    const int channels = frame->ch_layout.nb_channels;
    const int bps = FF.av_get_bytes_per_sample(fmt);
    const int size = frame->nb_samples * channels * bps;
    const AVSampleFormat packed = FF.av_get_packed_sample_fmt(fmt);
    if (!FF.av_sample_fmt_is_planar(fmt)) {
        OnAudioHook(this, ist.pts, frame->extended_data[0], size, frame->sample_rate, channels,
                    packed);
        return;
    }
    // Interleave for the hook, and back afterwards.
    QByteArray buffer(size, '\0');
    uint8_t* out = reinterpret_cast<uint8_t*>(buffer.data());
    for (int s = 0; s < frame->nb_samples; ++s)
        for (int c = 0; c < channels; ++c)
            memcpy(out + (size_t(s) * channels + c) * bps,
                   frame->extended_data[c] + size_t(s) * bps, size_t(bps));
    OnAudioHook(this, ist.pts, out, size, frame->sample_rate, channels, packed);
    for (int s = 0; s < frame->nb_samples; ++s)
        for (int c = 0; c < channels; ++c)
            memcpy(frame->extended_data[c] + size_t(s) * bps,
                   out + (size_t(s) * channels + c) * bps, size_t(bps));
}

// ---------------------------------------------------------------------------------------
// progress

void TCustomFFmpeg::ReportProgress(bool last) {
    FLastReport = JobNow();
    if (FOutputFiles.empty())
        return;
    AVFormatContext* oc = FOutputFiles[0]->ctx;
    int64_t size = oc->pb ? FF.avio_seek(oc->pb, 0, SEEK_CUR) : 0;
    if (size < 0)
        size = 0;
    int frameNumber = -1, fps = -1;
    float quality = -1;
    bool haveVideo = false;
    int64_t reportTime = INT64_MAX, duration = 0;
    int64_t runningTime = INT64_MAX, runningDuration = -1;
    const double elapsed = double(FLastReport - FStartRealTime) / 1e6;
    for (auto& ost : FOutputStreams) {
        if (FJoinMode && ost->closed && !last)
            continue;
        if (ost->type == AVMEDIA_TYPE_VIDEO && !haveVideo) {
            haveVideo = true;
            quality = ost->last_quality >= 0 ? ost->last_quality / FF_QP2LAMBDA : -1;
            frameNumber = ost->frame_number;
            fps = elapsed >= 1.0 ? int(lrint(frameNumber / elapsed)) : 0;
            if (frameNumber < 1)
                return;
        }
        const int64_t t = ost->OutputTime();
        reportTime = std::min(reportTime, t);
        duration = t;
        // A stream whose input ended early (a sound device that went away) stops
        // counting, so the time shown keeps running with the streams still fed.
        if (!last && ost->source_index >= 0) {
            const TInputStream& ist = *FInputStreams[size_t(ost->source_index)];
            if (!FInputFiles[size_t(ist.file_index)]->eof_reached) {
                runningTime = std::min(runningTime, t);
                runningDuration = t;
            }
        }
    }
    if (runningDuration >= 0) {
        reportTime = runningTime;
        duration = runningDuration;
    }
    if (reportTime == INT64_MAX)
        reportTime = 0;
    const int64_t ms = reportTime / 1000;
    const float bitrate = ms > 0 ? float(double(size) * 8 / double(ms)) : 0;
    const int dupDrop = FDupFrames + FDropFrames;
    const bool newDupDrop = dupDrop != FReportedDupDrop;
    FReportedDupDrop = dupDrop;
    if (OnProgress)
        OnProgress(this, last ? -1 : FFileIndex, frameNumber, fps, quality, bitrate, size, duration,
                   FTotalOutputDuration);
    if (Verbose >= 0 && (!OnProgress || newDupDrop)) {
        const int64_t t = std::max<int64_t>(reportTime, 0);
        QString line = FFFormat("frame=%5d fps=%3d q=%3.1f ", frameNumber, fps, double(quality));
        line += FFFormat("size=%8.0fkB time=%02d:%02d:%02d.%02d bitrate=%6.1fkbits/s",
                         double(size) / 1024, int(t / 3600000000LL), int(t / 60000000 % 60),
                         int(t / 1000000 % 60), int(t / 10000 % 100), double(bitrate));
        if (dupDrop)
            line += FFFormat(" dup=%d drop=%d", FDupFrames, FDropFrames);
        FFLogger().Log(nullptr, llVerbose, line);
    }
    if (last && Verbose >= 0) {
        const int64_t raw = FVideoSize + FAudioSize + FExtraSize;
        FFLogger().Log(nullptr, llVerbose,
                       "video:%1.0fkB audio:%1.0fkB global headers:%1.0fkB muxing overhead "
                       "%f%%\r\n",
                       double(FVideoSize) / 1024, double(FAudioSize) / 1024,
                       double(FExtraSize) / 1024,
                       raw > 0 ? 100.0 * (double(size) - double(raw)) / double(raw) : 0.0);
    }
}
