#pragma once

// Owners of FFmpeg objects: std::unique_ptr with FFmpeg's own free function as deleter,
// so an object is freed exactly once on every path, also when an exception leaves the
// scope that made it.
//
//     TCodecContextPtr enc(FF.avcodec_alloc_context3(codec));
//     if (!enc)
//         FFRaise("av_mallocz fail");
//     FF.avcodec_open2(enc.get(), codec, nullptr);   // freed with avcodec_free_context
//
// A deleter does nothing when its library has been unloaded already (its memory went
// with it). Thread-safe as the objects are: one owner, one thread at a time.

#include "media/FFApi.h"

#include <memory>

struct TCodecContextFree {
    void operator()(AVCodecContext* p) const {
        if (FF.avcodec_free_context)
            FF.avcodec_free_context(&p);
    }
};
using TCodecContextPtr = std::unique_ptr<AVCodecContext, TCodecContextFree>;

// An input opened with avformat_open_input.
struct TInputContextClose {
    void operator()(AVFormatContext* p) const {
        if (FF.avformat_close_input)
            FF.avformat_close_input(&p);
    }
};
using TInputContextPtr = std::unique_ptr<AVFormatContext, TInputContextClose>;

// A format context that was never opened as an input: an output (with the file it
// opened, when it opened one) or an option probe.
struct TFormatContextFree {
    void operator()(AVFormatContext* p) const {
        if (!FF.avformat_free_context)
            return;
        if (p->pb && p->oformat && !(p->oformat->flags & AVFMT_NOFILE))
            FF.avio_closep(&p->pb);
        FF.avformat_free_context(p);
    }
};
using TFormatContextPtr = std::unique_ptr<AVFormatContext, TFormatContextFree>;

struct TFrameFree {
    void operator()(AVFrame* p) const {
        if (FF.av_frame_free)
            FF.av_frame_free(&p);
    }
};
using TFramePtr = std::unique_ptr<AVFrame, TFrameFree>;

struct TPacketFree {
    void operator()(AVPacket* p) const {
        if (FF.av_packet_free)
            FF.av_packet_free(&p);
    }
};
using TPacketPtr = std::unique_ptr<AVPacket, TPacketFree>;

struct TBSFContextFree {
    void operator()(AVBSFContext* p) const {
        if (FF.av_bsf_free)
            FF.av_bsf_free(&p);
    }
};
using TBSFContextPtr = std::unique_ptr<AVBSFContext, TBSFContextFree>;

struct TSwsContextFree {
    void operator()(SwsContext* p) const {
        if (FF.sws_freeContext)
            FF.sws_freeContext(p);
    }
};
using TSwsContextPtr = std::unique_ptr<SwsContext, TSwsContextFree>;

struct TSwrContextFree {
    void operator()(SwrContext* p) const {
        if (FF.swr_free)
            FF.swr_free(&p);
    }
};
using TSwrContextPtr = std::unique_ptr<SwrContext, TSwrContextFree>;

struct TFilterGraphFree {
    void operator()(AVFilterGraph* p) const {
        if (FF.avfilter_graph_free)
            FF.avfilter_graph_free(&p);
    }
};
using TFilterGraphPtr = std::unique_ptr<AVFilterGraph, TFilterGraphFree>;

struct TFilterInOutFree {
    void operator()(AVFilterInOut* p) const {
        if (FF.avfilter_inout_free)
            FF.avfilter_inout_free(&p);
    }
};
using TFilterInOutPtr = std::unique_ptr<AVFilterInOut, TFilterInOutFree>;

struct TAudioFifoFree {
    void operator()(AVAudioFifo* p) const {
        if (FF.av_audio_fifo_free)
            FF.av_audio_fifo_free(p);
    }
};
using TAudioFifoPtr = std::unique_ptr<AVAudioFifo, TAudioFifoFree>;

// The plane pointers of av_samples_alloc_array_and_samples, with the one buffer their
// first plane points into.
struct TSamplesFree {
    void operator()(uint8_t** p) const {
        if (!FF.av_freep)
            return;
        FF.av_freep(&p[0]);
        FF.av_freep(&p);
    }
};
using TSamplesPtr = std::unique_ptr<uint8_t*, TSamplesFree>;

// Allocates `count` samples of `channels` in `format` (all planes in one buffer); null
// when memory runs out.
inline TSamplesPtr AllocSamples(int channels, int count, AVSampleFormat format) {
    uint8_t** planes = nullptr;
    int linesize = 0;
    if (FF.av_samples_alloc_array_and_samples(&planes, &linesize, channels, count, format, 0) < 0)
        return nullptr;
    return TSamplesPtr(planes);
}

// A dictionary filled through its address (av_dict_set) and freed at the end of scope.
class TDictionary {
public:
    TDictionary() = default;
    ~TDictionary() {
        if (FF.av_dict_free)
            FF.av_dict_free(&FDict);
    }
    TDictionary(const TDictionary&) = delete;
    TDictionary& operator=(const TDictionary&) = delete;
    AVDictionary** Address() { return &FDict; }

private:
    AVDictionary* FDict = nullptr;
};

// A decoded subtitle, freed with avsubtitle_free.
struct TSubtitle {
    AVSubtitle Sub{};
    TSubtitle() = default;
    ~TSubtitle() {
        if (FF.avsubtitle_free)
            FF.avsubtitle_free(&Sub);
    }
    TSubtitle(const TSubtitle&) = delete;
    TSubtitle& operator=(const TSubtitle&) = delete;
};
