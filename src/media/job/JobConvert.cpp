// Conversion between decoding and encoding: the video filter graph, scaling to the
// encoder's size and format, video sync (dropping and repeating pictures), the volume,
// resampling to the encoder's sound format, and sound sync (silence and skipped samples).

#include "media/job/JobState.h"

#include "media/FFLog.h"
#include "media/YuvConvert.h"

#include <cmath>

namespace {

// Links "[in] <filters> [out]" between the graph's buffer source and sink.
int ParseFilters(TOutputStream& ost) {
    TFilterInOutPtr outputs(FF.avfilter_inout_alloc());
    TFilterInOutPtr inputs(FF.avfilter_inout_alloc());
    if (!outputs || !inputs)
        return AVERROR(ENOMEM);
    outputs->name = FF.av_strdup("in");
    outputs->filter_ctx = ost.buffersrc;
    inputs->name = FF.av_strdup("out");
    inputs->filter_ctx = ost.buffersink;
    if (!outputs->name || !inputs->name)
        return AVERROR(ENOMEM);
    AVFilterInOut* in = inputs.release();
    AVFilterInOut* out = outputs.release();
    const int ret = FF.avfilter_graph_parse_ptr(ost.graph.get(), Utf8(ost.filters).constData(), &in,
                                                &out, nullptr);
    inputs.reset(in);
    outputs.reset(out);
    return ret;
}

// Builds the stream's filter graph for pictures like `frame`.
void BuildGraph(TOutputStream& ost, const AVFrame* frame, AVRational tb) {
    ost.graph.reset(FF.avfilter_graph_alloc());
    if (!ost.graph)
        FFRaise("Error opening filters!");
    char args[512];
    const AVRational sar =
        frame->sample_aspect_ratio.num ? frame->sample_aspect_ratio : AVRational{1, 1};
    snprintf(args, sizeof args, "video_size=%dx%d:pix_fmt=%d:time_base=%d/%d:pixel_aspect=%d/%d",
             frame->width, frame->height, frame->format, tb.num, tb.den, sar.num, sar.den);
    int ret = FF.avfilter_graph_create_filter(&ost.buffersrc, FF.avfilter_get_by_name("buffer"),
                                              "in", args, nullptr, ost.graph.get());
    if (ret >= 0)
        ret =
            FF.avfilter_graph_create_filter(&ost.buffersink, FF.avfilter_get_by_name("buffersink"),
                                            "out", nullptr, nullptr, ost.graph.get());
    if (ret >= 0) {
        const AVPixelFormat fmts[] = {ost.enc->pix_fmt, AV_PIX_FMT_NONE};
        ret = FF.av_opt_set_bin(ost.buffersink, "pix_fmts", reinterpret_cast<const uint8_t*>(fmts),
                                sizeof(fmts[0]), AV_OPT_SEARCH_CHILDREN);
    }
    if (ret >= 0)
        ret = ParseFilters(ost);
    if (ret >= 0)
        ret = FF.avfilter_graph_config(ost.graph.get(), nullptr);
    if (ret < 0)
        FFRaise("Error opening filters: %s", Utf8(AVErrorText(ret)).constData());
    ost.graph_w = frame->width;
    ost.graph_h = frame->height;
    ost.graph_fmt = frame->format;
    if (!ost.filtered)
        ost.filtered.reset(FF.av_frame_alloc());
    if (!ost.filtered)
        FFRaise("Error opening filters!");
}

} // namespace

// ---------------------------------------------------------------------------------------
// video

void TJob::DoVideoOut(TOutputStream& ost, TInputStream& ist, AVFrame* frame, int64_t pts) {
    const TOutputFile& of = *FOutputFiles[size_t(ost.file_index)];
    if (of.start_time && pts < of.start_time)
        return;
    if (ost.in_fmt >= 0 &&
        (ost.in_w != frame->width || ost.in_h != frame->height || ost.in_fmt != frame->format))
        FFLogger().Log(
            nullptr, llInfo,
            "Input stream #%d.%d frame changed from size:%dx%d fmt:%s to size:%dx%d fmt:%s",
            ist.file_index, ist.st->index, ost.in_w, ost.in_h,
            FF.av_get_pix_fmt_name(AVPixelFormat(ost.in_fmt)), frame->width, frame->height,
            FF.av_get_pix_fmt_name(AVPixelFormat(frame->format)));
    ost.in_w = frame->width;
    ost.in_h = frame->height;
    ost.in_fmt = frame->format;
    if (ost.filters.isEmpty())
        DoVideoSync(ost, ist, frame, pts);
    else
        FilterVideo(ost, ist, frame, pts);
}

void TJob::FilterVideo(TOutputStream& ost, TInputStream& ist, AVFrame* frame, int64_t pts) {
    if (!ost.graph || ost.graph_w != frame->width || ost.graph_h != frame->height ||
        ost.graph_fmt != frame->format)
        BuildGraph(ost, frame, AV_TIME_BASE_Q);
    TFramePtr ref(FF.av_frame_clone(frame));
    if (!ref)
        FFRaise("Error opening filters: %s", Utf8(AVErrorText(AVERROR(ENOMEM))).constData());
    ref->pts = pts;
    const int ret = FF.av_buffersrc_add_frame(ost.buffersrc, ref.get());
    if (ret < 0)
        FFRaise("Error opening filters: %s", Utf8(AVErrorText(ret)).constData());
    DrainFilter(ost, ist, pts);
}

void TJob::DrainFilter(TOutputStream& ost, TInputStream& ist, int64_t pts) {
    // A picture without a time takes `pts`.
    const AVRational sinkTb = FF.av_buffersink_get_time_base(ost.buffersink);
    AVFrame* filtered = ost.filtered.get();
    while (FF.av_buffersink_get_frame(ost.buffersink, filtered) >= 0) {
        const int64_t out = filtered->pts == AV_NOPTS_VALUE
                                ? pts
                                : FF.av_rescale_q(filtered->pts, sinkTb, AV_TIME_BASE_Q);
        DoVideoSync(ost, ist, filtered, out);
        FF.av_frame_unref(filtered);
    }
}

void TJob::FlushFilters(int fileIndex) {
    // what the filter graphs of the streams this input feeds still hold
    for (auto& ost : FOutputStreams) {
        if (!ost->graph || ost->source_index < 0 ||
            FInputStreams[size_t(ost->source_index)]->file_index != fileIndex)
            continue;
        TInputStream& ist = *FInputStreams[size_t(ost->source_index)];
        if (FF.av_buffersrc_add_frame(ost->buffersrc, nullptr) >= 0)
            DrainFilter(*ost, ist, ist.pts);
        ost->graph.reset();
    }
}

int TJob::VideoFrameCount(TOutputStream& ost, int64_t pts) {
    const TOutputFile& of = *FOutputFiles[size_t(ost.file_index)];
    const double syncIpts = double(pts - of.start_time) / AV_TIME_BASE / av_q2d(ost.enc->time_base);
    int nbFrames = 1;
    if (!ost.sync_method) {
        ost.sync_opts = llrint(syncIpts);
        return nbFrames;
    }
    const double vdelta = syncIpts - double(ost.sync_opts);
    if (vdelta < -1.1)
        nbFrames = 0;
    else if (ost.sync_method == 2) {
        if (vdelta <= -0.6)
            nbFrames = 0;
        else if (vdelta > 0.6)
            ost.sync_opts = llrint(syncIpts);
    } else if (vdelta > 1.1)
        nbFrames = int(lrint(vdelta));
    if (nbFrames == 0) {
        ++FDropFrames;
        if (FOwner.Verbose > 2)
            FFLogger().Log(nullptr, llVerbose, "*** drop!");
    } else if (nbFrames > 1) {
        FDupFrames += nbFrames - 1;
        if (FOwner.Verbose > 2)
            FFLogger().Log(nullptr, llVerbose, "*** %d dup!", nbFrames - 1);
    }
    return nbFrames;
}

AVFrame* TJob::ScaleToEncoder(TOutputStream& ost, AVFrame* frame) {
    const AVCodecContext* enc = ost.enc.get();
    if (frame->width == enc->width && frame->height == enc->height && frame->format == enc->pix_fmt)
        return frame;
    const AVPixelFormat from = AVPixelFormat(frame->format);
    SwsContext* sws = FF.sws_getCachedContext(
        ost.sws.release(), frame->width, frame->height, from, enc->width, enc->height, enc->pix_fmt,
        YuvScalerFlags(from, frame->width, frame->height, enc->pix_fmt, enc->width, enc->height,
                       SWS_BICUBIC),
        nullptr, nullptr, nullptr);
    ost.sws.reset(sws);
    if (!ost.sws)
        FFRaise("Cannot get resampling context");
    if (!ost.scaled) {
        ost.scaled.reset(FF.av_frame_alloc());
        if (!ost.scaled)
            FFRaise("Cannot allocate temp picture, check pix fmt");
        ost.scaled->width = enc->width;
        ost.scaled->height = enc->height;
        ost.scaled->format = enc->pix_fmt;
        if (FF.av_frame_get_buffer(ost.scaled.get(), 0) < 0)
            FFRaise("Cannot allocate temp picture, check pix fmt");
    }
    if (FF.av_frame_make_writable(ost.scaled.get()) < 0)
        FFRaise("Cannot allocate temp picture, check pix fmt");
    // One SIMD pass where the picture keeps its size; swscale for everything else.
    if (!ConvertToYuv420(frame, ost.scaled.get()))
        FF.sws_scale(ost.sws.get(), frame->data, frame->linesize, 0, frame->height,
                     ost.scaled->data, ost.scaled->linesize);
    return ost.scaled.get();
}

void TJob::DoVideoSync(TOutputStream& ost, TInputStream&, AVFrame* frame, int64_t pts) {
    const int nbFrames = std::min(VideoFrameCount(ost, pts), ost.max_frames - ost.frame_number);
    if (nbFrames <= 0)
        return;
    EncodeVideoFrames(ost, ScaleToEncoder(ost, frame), nbFrames);
}

// ---------------------------------------------------------------------------------------
// sound

void TJob::ApplyVolume(AVFrame* frame) {
    if (FAudioVolume == 256 || FF.av_frame_make_writable(frame) < 0)
        return;
    const int channels = frame->ch_layout.nb_channels;
    const bool planar = FF.av_sample_fmt_is_planar(AVSampleFormat(frame->format));
    const int planes = planar ? channels : 1;
    const int count = planar ? frame->nb_samples : frame->nb_samples * channels;
    const AVSampleFormat packed = FF.av_get_packed_sample_fmt(AVSampleFormat(frame->format));
    const int volume = FAudioVolume;
    for (int p = 0; p < planes; ++p) {
        uint8_t* data = frame->extended_data[p];
        for (int i = 0; i < count; ++i) {
            switch (packed) {
            case AV_SAMPLE_FMT_S16: {
                auto* s = reinterpret_cast<int16_t*>(data) + i;
                // (s * volume + 128) / 256, rounding toward minus infinity
                const int v = (int(*s) * volume + 128) >> 8;
                *s = int16_t(std::clamp(v, -32768, 32767));
                break;
            }
            case AV_SAMPLE_FMT_FLT: {
                auto* s = reinterpret_cast<float*>(data) + i;
                *s = *s * float(volume) / 256.0f;
                break;
            }
            case AV_SAMPLE_FMT_DBL: {
                auto* s = reinterpret_cast<double*>(data) + i;
                *s = *s * volume / 256.0;
                break;
            }
            case AV_SAMPLE_FMT_S32: {
                auto* s = reinterpret_cast<int32_t*>(data) + i;
                const int64_t v = (int64_t(*s) * volume + 128) >> 8;
                *s = int32_t(std::clamp<int64_t>(v, INT32_MIN, INT32_MAX));
                break;
            }
            default:
                break;
            }
        }
    }
}

void TJob::SetupResampler(TOutputStream& ost, const AVFrame* frame) {
    if (ost.swr && ost.swr_rate == frame->sample_rate && ost.swr_fmt == frame->format &&
        !FF.av_channel_layout_compare(&ost.swr_layout, &frame->ch_layout))
        return;
    AVCodecContext* enc = ost.enc.get();
    ost.swr.reset();
    AVChannelLayout inLayout{};
    if (frame->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC)
        FF.av_channel_layout_default(&inLayout, frame->ch_layout.nb_channels);
    else
        FF.av_channel_layout_copy(&inLayout, &frame->ch_layout);
    SwrContext* swr = nullptr;
    int ret =
        FF.swr_alloc_set_opts2(&swr, &enc->ch_layout, enc->sample_fmt, enc->sample_rate, &inLayout,
                               AVSampleFormat(frame->format), frame->sample_rate, 0, nullptr);
    ost.swr.reset(swr);
    FF.av_channel_layout_uninit(&inLayout);
    if (ret >= 0)
        ret = FF.swr_init(ost.swr.get());
    if (ret < 0)
        FFRaise("Can not resample %d channels @ %d Hz to %d channels @ %d Hz",
                frame->ch_layout.nb_channels, frame->sample_rate, enc->ch_layout.nb_channels,
                enc->sample_rate);
    ost.swr_rate = frame->sample_rate;
    ost.swr_fmt = frame->format;
    FF.av_channel_layout_uninit(&ost.swr_layout);
    FF.av_channel_layout_copy(&ost.swr_layout, &frame->ch_layout);
}

void TJob::DoAudioOut(TOutputStream& ost, TInputStream& ist, AVFrame* frame) {
    const TOutputFile& of = *FOutputFiles[size_t(ost.file_index)];
    if (of.start_time && ist.pts < of.start_time)
        return;
    const AVCodecContext* enc = ost.enc.get();
    SetupResampler(ost, frame);
    const int outMax = FF.swr_get_out_samples(ost.swr.get(), frame->nb_samples);
    TSamplesPtr converted =
        AllocSamples(enc->ch_layout.nb_channels, std::max(outMax, 1), enc->sample_fmt);
    if (!converted)
        FFRaise("Out of memory in do_audio_out");
    const int count =
        FF.swr_convert(ost.swr.get(), converted.get(), outMax,
                       const_cast<const uint8_t**>(frame->extended_data), frame->nb_samples);
    if (count < 0)
        FFRaise("av_audio_convert() failed");
    const int skip = SyncAudio(ost, ist, count);
    if (count > skip) {
        const int bps = FF.av_get_bytes_per_sample(enc->sample_fmt);
        const bool planar = FF.av_sample_fmt_is_planar(enc->sample_fmt);
        void* planes[AV_NUM_DATA_POINTERS] = {};
        const int nbPlanes = planar ? enc->ch_layout.nb_channels : 1;
        for (int p = 0; p < nbPlanes && p < 64; ++p)
            planes[p] =
                converted.get()[p] + size_t(skip) * bps * (planar ? 1 : enc->ch_layout.nb_channels);
        if (nbPlanes > AV_NUM_DATA_POINTERS)
            FFRaise("Buffer sizes too large in do_audio_out");
        if (FF.av_audio_fifo_write(ost.fifo.get(), planes, count - skip) < count - skip)
            FFRaise("av_fifo_realloc2() failed");
    }
    DrainAudioFifo(ost, false);
}

int TJob::SyncAudio(TOutputStream& ost, TInputStream& ist, int count) {
    const TOutputFile& of = *FOutputFiles[size_t(ost.file_index)];
    const int rate = ost.enc->sample_rate;
    const int64_t queued = FF.av_audio_fifo_size(ost.fifo.get());
    const double syncIpts = double(ist.pts - of.start_time) / AV_TIME_BASE;
    // Where the input says this sound belongs against where the samples so far end.
    double delta = syncIpts * rate - double(ost.sync_opts) - double(queued);
    int skip = 0;
    if (!ost.audio_started) {
        // The first sound takes its time from the input; later sound follows on.
        if (!FAudioSyncMethod) {
            ost.sync_opts = llrint(syncIpts * rate) - queued;
            delta = 0;
        }
        ost.audio_started = true;
    }
    if (!FAudioSyncMethod) {
        // Without sync the samples are timed by their count alone, so the times only go
        // forward and the whole input is kept however its timestamps jitter; a real gap
        // in the input (beyond the drift threshold) becomes silence, so what follows it
        // keeps its place.
        if (delta > FAudioDriftThreshold * rate)
            QueueSilence(ost, int64_t(delta));
        return 0;
    }
    if (std::fabs(delta) <= 50)
        return 0;
    if (ist.is_start || std::fabs(delta) > FAudioDriftThreshold * rate) {
        if (delta < 0) {
            skip = int(std::min<double>(-delta, count));
            if (FOwner.Verbose > 2)
                FFLogger().Log(nullptr, llVerbose, "discarding %d audio samples", int(-delta));
        } else {
            if (FOwner.Verbose > 2)
                FFLogger().Log(nullptr, llVerbose, "adding %d audio samples of silence",
                               int(delta));
            QueueSilence(ost, int64_t(delta));
        }
    } else if (FAudioSyncMethod > 1) {
        const int comp = int(std::clamp<double>(delta, -FAudioSyncMethod, FAudioSyncMethod));
        if (FOwner.Verbose > 2)
            FFLogger().Log(nullptr, llVerbose,
                           "compensating audio timestamp drift:%f compensation:%d in:%d", delta,
                           comp, rate);
        FF.swr_set_compensation(ost.swr.get(), comp, rate);
    }
    return skip;
}

void TJob::QueueSilence(TOutputStream& ost, int64_t samples) {
    const AVCodecContext* enc = ost.enc.get();
    const int chunk = std::max(enc->sample_rate, 1024); // a second at a time: memory stays small
    if (samples <= 0)
        return;
    TSamplesPtr zeros = AllocSamples(enc->ch_layout.nb_channels, chunk, enc->sample_fmt);
    if (!zeros)
        return;
    FF.av_samples_set_silence(zeros.get(), 0, chunk, enc->ch_layout.nb_channels, enc->sample_fmt);
    for (int64_t left = samples; left > 0;) {
        const int n = int(std::min<int64_t>(left, chunk));
        if (FF.av_audio_fifo_write(ost.fifo.get(), reinterpret_cast<void**>(zeros.get()), n) < n)
            break;
        left -= n;
        if (left > 0)
            DrainAudioFifo(ost, false);
    }
}

void TJob::FlushResampler(TOutputStream& ost) {
    // The resampler holds back the last few samples of the input until it is flushed.
    if (!ost.swr || !ost.fifo)
        return;
    const AVCodecContext* enc = ost.enc.get();
    const int outMax = FF.swr_get_out_samples(ost.swr.get(), 0);
    if (outMax <= 0)
        return;
    TSamplesPtr rest = AllocSamples(enc->ch_layout.nb_channels, outMax, enc->sample_fmt);
    if (!rest)
        return;
    const int count = FF.swr_convert(ost.swr.get(), rest.get(), outMax, nullptr, 0);
    if (count > 0)
        FF.av_audio_fifo_write(ost.fifo.get(), reinterpret_cast<void**>(rest.get()), count);
}
