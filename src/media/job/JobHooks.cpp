// The job's hook points: the decoded picture before conversion (deinterlacing, frame
// hooks, bitmap hooks, plug-ins), the converted picture before encoding, the preview,
// and the decoded sound.

#include "media/job/JobState.h"

#include "media/FFLog.h"
#include "media/FrameHook.h"
#include "media/Previewer.h"

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

AVFrame* TJob::InputProcessing(TInputStream& ist, AVFrame* frame) {
    const bool bitmapHook = FOwner.OnInputVideoHook && !FInputHookOff;
    if (!FDoDeinterlace && !FOwner.OnInputFrameHook && !bitmapHook && FHookChain->Empty())
        return frame;
    if (!CopyPicture(ist.hook_frame, frame)) {
        FFLogger().Log(nullptr, llError, "hook buf malloc error.");
        return frame;
    }
    AVFrame* copy = ist.hook_frame.get();
    if (FDoDeinterlace && !Deinterlace(copy)) {
        FFLogger().Log(nullptr, llError, "Deinterlacing failed.");
        FF.av_frame_copy(copy, frame);
    }
    if (FOwner.OnInputFrameHook) {
        TAVPicture picture = TAVPicture::Of(copy);
        FOwner.OnInputFrameHook(&FOwner, &picture, copy->format, ist.frame_number, copy->width,
                                copy->height, ist.pts);
    }
    if (bitmapHook) {
        FHookChain->InputBitmap.BitsPixel = FOwner.VideoHookBitsPixel;
        if (!RunBitmapHook(&FOwner, FOwner.OnInputVideoHook, FHookChain->InputBitmap, copy,
                           ist.frame_number, ist.pts))
            FInputHookOff = true;
    } else if (!FOwner.OnInputVideoHook && !FHookChain->Empty()) {
        TAVPicture picture = TAVPicture::Of(copy);
        FHookChain->Run(&picture, copy->format, copy->width, copy->height, ist.pts);
    }
    return copy;
}

AVFrame* TJob::OutputProcessing(TOutputStream& ost, AVFrame* frame, int frameNumber, int64_t pts) {
    const bool bitmapHook = FOwner.OnOutputVideoHook && !FOutputHookOff;
    FHookChain->OutputBitmap.FrameNumber = 0;
    if (!bitmapHook && !FOwner.OnOutputFrameHook)
        return frame;
    if (!CopyPicture(ost.out_hook, frame)) {
        FFLogger().Log(nullptr, llError, "hook buf malloc error.");
        return frame;
    }
    AVFrame* copy = ost.out_hook.get();
    if (bitmapHook) {
        FHookChain->OutputBitmap.BitsPixel = FOwner.VideoHookBitsPixel;
        if (!RunBitmapHook(&FOwner, FOwner.OnOutputVideoHook, FHookChain->OutputBitmap, copy,
                           frameNumber, pts))
            FOutputHookOff = true;
    }
    if (FOwner.OnOutputFrameHook) {
        TAVPicture picture = TAVPicture::Of(copy);
        FOwner.OnOutputFrameHook(&FOwner, &picture, copy->format, frameNumber, copy->width,
                                 copy->height, pts);
        FHookChain->OutputBitmap.FrameNumber = 0; // the picture may have changed
    }
    return copy;
}

void TJob::PostHookProcessing(TOutputStream& ost, AVFrame* frame, int frameNumber, int64_t pts) {
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
    const bool bitmapWanted = (hooks & phBitmap) && FOwner.OnPreviewBitmap;
    const int64_t now = JobNow();
    if (FLastPreview && now - FLastPreview < FOwner.PreviewInterval)
        return;
    FLastPreview = now;
    // Reuse the output hook's bitmap when it shows this very frame.
    TPictureBitmap& bitmap = FHookChain->OutputBitmap;
    if (bitmap.FrameNumber != frameNumber || changed ||
        bitmap.BitsPixel != FOwner.VideoHookBitsPixel) {
        bitmap.BitsPixel = FOwner.VideoHookBitsPixel;
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
        FOwner.OnPreviewBitmap(&FOwner, &bitmap.Bitmap(), frameNumber, pts);
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

void TJob::CallAudioHook(TInputStream& ist, AVFrame* frame) {
    if (!FOwner.OnAudioHook)
        return;
    if (FF.av_frame_make_writable(frame) < 0)
        return;
    const AVSampleFormat fmt = AVSampleFormat(frame->format);
    const int channels = frame->ch_layout.nb_channels;
    const int bps = FF.av_get_bytes_per_sample(fmt);
    const int size = frame->nb_samples * channels * bps;
    const AVSampleFormat packed = FF.av_get_packed_sample_fmt(fmt);
    if (!FF.av_sample_fmt_is_planar(fmt)) {
        FOwner.OnAudioHook(&FOwner, ist.pts, frame->extended_data[0], size, frame->sample_rate,
                           channels, packed);
        return;
    }
    // Interleave for the hook, and back afterwards.
    QByteArray buffer(size, '\0');
    uint8_t* out = reinterpret_cast<uint8_t*>(buffer.data());
    for (int s = 0; s < frame->nb_samples; ++s)
        for (int c = 0; c < channels; ++c)
            memcpy(out + (size_t(s) * channels + c) * bps,
                   frame->extended_data[c] + size_t(s) * bps, size_t(bps));
    FOwner.OnAudioHook(&FOwner, ist.pts, out, size, frame->sample_rate, channels, packed);
    for (int s = 0; s < frame->nb_samples; ++s)
        for (int c = 0; c < channels; ++c)
            memcpy(frame->extended_data[c] + size_t(s) * bps,
                   out + (size_t(s) * channels + c) * bps, size_t(bps));
}
