// Decoders: opening them, turning packets into frames, keeping each input stream's
// clock, and handing the frames on to conversion (or packets to stream copy).

#include "media/job/JobState.h"

#include "media/FFLog.h"

void TJob::OpenDecoders() {
    for (auto& istPtr : FInputStreams) {
        TInputStream& ist = *istPtr;
        if (!ist.decoding_needed)
            continue;
        const AVCodecParameters* par = ist.st->codecpar;
        const AVCodec* codec = ist.forced ? ist.forced : FF.avcodec_find_decoder(par->codec_id);
        if (!codec)
            FFRaise("Decoder (codec id %d) not found for input stream #%d.%d (%s)",
                    int(par->codec_id), ist.file_index, ist.st->index, TypeName(par->codec_type));
        ist.dec.reset(FF.avcodec_alloc_context3(codec));
        if (!ist.dec)
            FFRaise("av_mallocz fail");
        FF.avcodec_parameters_to_context(ist.dec.get(), par);
        ist.dec->pkt_timebase = ist.st->time_base;
        ist.dec->thread_count = FThreadCount;
        if (FF.avcodec_open2(ist.dec.get(), codec, nullptr) < 0)
            FFRaise("Error while opening decoder for input stream #%d.%d (%s)", ist.file_index,
                    ist.st->index, TypeName(par->codec_type));
        ist.frame.reset(FF.av_frame_alloc());
        if (!ist.frame)
            FFRaise("av_mallocz fail");
        ist.pts = 0; // the first frame's time is taken from its timestamp
    }
}

void TJob::ProcessPacket(TInputStream& ist, AVPacket* pkt) {
    const AVRational tb = ist.st->time_base;
    if (!ist.decoding_needed) {
        if (!pkt)
            return;
        if (pkt->dts != AV_NOPTS_VALUE)
            ist.pts = FF.av_rescale_q(pkt->dts, tb, AV_TIME_BASE_Q);
        ist.next_pts = ist.pts + FF.av_rescale_q(pkt->duration, tb, AV_TIME_BASE_Q);
        for (auto& ost : FOutputStreams)
            if (ost->stream_copy && !ost->closed && ost->source_index >= 0 &&
                FInputStreams[size_t(ost->source_index)].get() == &ist)
                DoStreamCopy(*ost, ist, pkt);
        return;
    }
    const AVMediaType type = ist.st->codecpar->codec_type;
    if (type == AVMEDIA_TYPE_SUBTITLE) {
        if (pkt)
            ProcessSubtitle(ist, pkt);
        return;
    }
    int ret = FF.avcodec_send_packet(ist.dec.get(), pkt);
    if (ret < 0 && ret != AVERROR_EOF && ret != AVERROR(EAGAIN))
        FFRaise("Error while decoding stream #%d.%d (%s)", ist.file_index, ist.st->index,
                TypeName(type));
    int frames = 0;
    while ((ret = FF.avcodec_receive_frame(ist.dec.get(), ist.frame.get())) >= 0) {
        ++frames;
        if (type == AVMEDIA_TYPE_VIDEO)
            ProcessVideo(ist, ist.frame.get());
        else if (type == AVMEDIA_TYPE_AUDIO)
            ProcessAudio(ist, ist.frame.get());
        FF.av_frame_unref(ist.frame.get());
        if (FBroken && pkt)
            break;
    }
    if (ret < 0 && ret != AVERROR(EAGAIN) && ret != AVERROR_EOF)
        FFRaise("Error while decoding stream #%d.%d (%s)", ist.file_index, ist.st->index,
                TypeName(type));
    if (type == AVMEDIA_TYPE_VIDEO && frames > 1 && pkt &&
        (FOwner.Verbose > 1 || (FOwner.Verbose == 1 && !ist.showed_multi_packet_warning))) {
        FFLogger().Log(nullptr, llError, "Multiple frames in a packet from stream %d",
                       ist.st->index);
        ist.showed_multi_packet_warning = true;
    }
}

void TJob::ProcessSubtitle(TInputStream& ist, AVPacket* pkt) {
    TSubtitle decoded;
    int got = 0;
    if (FF.avcodec_decode_subtitle2(ist.dec.get(), &decoded.Sub, &got, pkt) < 0 || !got)
        return;
    if (pkt->pts == AV_NOPTS_VALUE)
        FFRaise("Subtitle packets must have a pts");
    const int64_t pts = FF.av_rescale_q(pkt->pts, ist.st->time_base, AV_TIME_BASE_Q);
    ist.pts = pts;
    for (auto& ost : FOutputStreams)
        if (ost->encoding_needed && !ost->closed && ost->source_index >= 0 &&
            FInputStreams[size_t(ost->source_index)].get() == &ist)
            EncodeSubtitle(*ost, decoded.Sub, pts);
}

void TJob::TakeFrameTime(TInputStream& ist, const AVFrame* frame) {
    int64_t pts = frame->best_effort_timestamp;
    if (pts == AV_NOPTS_VALUE)
        pts = frame->pts;
    if (pts != AV_NOPTS_VALUE)
        ist.pts = FF.av_rescale_q(pts, ist.st->time_base, AV_TIME_BASE_Q);
    else if (ist.next_pts != AV_NOPTS_VALUE)
        ist.pts = ist.next_pts;
}

void TJob::ProcessVideo(TInputStream& ist, AVFrame* frame) {
    const AVRational tb = ist.st->time_base;
    TakeFrameTime(ist, frame);
    AVRational rate = ist.st->avg_frame_rate;
    if (rate.num <= 0 || rate.den <= 0)
        rate = ist.st->r_frame_rate;
    int64_t duration = frame->pkt_duration > 0
                           ? FF.av_rescale_q(frame->pkt_duration, tb, AV_TIME_BASE_Q)
                           : (rate.num > 0 ? FF.av_rescale(AV_TIME_BASE, rate.den, rate.num) : 0);
    ist.next_pts = ist.pts + duration;
    ++ist.frame_number;
    AVFrame* picture = InputProcessing(ist, frame);
    for (auto& ost : FOutputStreams)
        if (ost->encoding_needed && !ost->closed && ost->source_index >= 0 &&
            FInputStreams[size_t(ost->source_index)].get() == &ist)
            DoVideoOut(*ost, ist, picture, ist.pts);
}

void TJob::ProcessAudio(TInputStream& ist, AVFrame* frame) {
    TakeFrameTime(ist, frame);
    if (frame->sample_rate > 0)
        ist.next_pts = ist.pts + FF.av_rescale(frame->nb_samples, AV_TIME_BASE, frame->sample_rate);
    CallAudioHook(ist, frame);
    ApplyVolume(frame);
    if (ist.last_format >= 0 &&
        (ist.last_rate != frame->sample_rate || ist.last_format != frame->format ||
         ist.last_channels != frame->ch_layout.nb_channels))
        FFLogger().Log(nullptr, llInfo,
                       "Input stream #%d.%d frame changed from rate:%d fmt:%s ch:%d to rate:%d "
                       "fmt:%s ch:%d",
                       ist.file_index, ist.st->index, ist.last_rate,
                       FF.av_get_sample_fmt_name(AVSampleFormat(ist.last_format)),
                       ist.last_channels, frame->sample_rate,
                       FF.av_get_sample_fmt_name(AVSampleFormat(frame->format)),
                       frame->ch_layout.nb_channels);
    ist.last_rate = frame->sample_rate;
    ist.last_format = frame->format;
    ist.last_channels = frame->ch_layout.nb_channels;
    for (auto& ost : FOutputStreams)
        if (ost->encoding_needed && !ost->closed && ost->source_index >= 0 &&
            FInputStreams[size_t(ost->source_index)].get() == &ist)
            DoAudioOut(*ost, ist, frame);
    ist.is_start = false;
}

void TJob::FlushInputFile(int fileIndex) {
    FlushDecoders(fileIndex);
    FlushFilters(fileIndex);
}

void TJob::FlushDecoders(int fileIndex) {
    const TInputFile& file = *FInputFiles[size_t(fileIndex)];
    for (int i = 0; i < file.nb_streams; ++i) {
        TInputStream& ist = *FInputStreams[size_t(file.ist_index + i)];
        if (ist.decoding_needed && !ist.flushed && ist.dec) {
            ProcessPacket(ist, nullptr);
            ist.flushed = true;
        }
    }
}
