// Encoders: choosing and configuring them for the output streams, opening them, and
// turning frames into packets (which go on to JobMux.cpp).

#include "media/job/JobState.h"

#include "media/FFLog.h"

#include <cmath>

extern "C" {
#include <libavutil/intreadwrite.h>
}

namespace {

// "start,end,q" groups separated by "/"; a negative q is a quality factor in percent.
void SetRcOverride(AVCodecContext* enc, const QString& text) {
    const QStringList groups = text.split(QLatin1Char('/'));
    enc->rc_override =
        static_cast<RcOverride*>(FF.av_malloc_array(groups.size(), sizeof(RcOverride)));
    if (!enc->rc_override)
        FFRaise("av_mallocz fail");
    for (int i = 0; i < groups.size(); ++i) {
        const QStringList parts = groups[i].split(QLatin1Char(','));
        bool ok1 = false, ok2 = false, ok3 = false;
        if (parts.size() != 3)
            FFRaise("error parsing rc_override");
        RcOverride& rc = enc->rc_override[i];
        rc.start_frame = parts[0].toInt(&ok1);
        rc.end_frame = parts[1].toInt(&ok2);
        const int q = parts[2].toInt(&ok3);
        if (!ok1 || !ok2 || !ok3)
            FFRaise("error parsing rc_override");
        rc.qscale = q > 0 ? q : 0;
        rc.quality_factor = q > 0 ? 1.0f : -q / 100.0f;
    }
    enc->rc_override_count = int(groups.size());
}

// A quantisation matrix of 64 coefficients, in memory the codec context frees.
uint16_t* CopyMatrix(const std::vector<uint16_t>& matrix) {
    auto* copy = static_cast<uint16_t*>(FF.av_malloc(64 * sizeof(uint16_t)));
    if (!copy)
        FFRaise("av_mallocz fail");
    std::copy(matrix.begin(), matrix.end(), copy);
    return copy;
}

} // namespace

// ---------------------------------------------------------------------------------------
// choosing and configuring

void TJob::CreateEncoder(TOutputStream& ost, const TOutputFile& of, AVFormatContext* oc) {
    const AVMediaType type = ost.type;
    const QString& name = FCodecName[type];
    if (type == AVMEDIA_TYPE_DATA)
        FFRaise("Data stream encoding not supported yet (only streamcopy)");
    if (!name.isEmpty()) {
        ost.codec = FindCodec(name, type, true, FOptions.Strictness(type));
    } else {
        const AVCodecID id =
            FF.av_guess_codec(oc->oformat, nullptr, Utf8(of.name).constData(), nullptr, type);
        ost.codec = id != AV_CODEC_ID_NONE ? FF.avcodec_find_encoder(id) : nullptr;
        if (!ost.codec)
            FFRaise("Encoder (codec id %d) not found for output stream #%d.%d (%s)", int(id),
                    ost.file_index, int(oc->nb_streams), MediaName(type));
    }
    ost.enc.reset(FF.avcodec_alloc_context3(ost.codec));
    if (!ost.enc)
        FFRaise("av_mallocz fail");
    FOptions.ApplyToCodec(ost.enc.get(), type);
    // The strictness may come from the options just applied ("astrict").
    if (!name.isEmpty())
        FindCodec(name, type, true, ost.enc->strict_std_compliance);
    ost.encoding_needed = true;
}

void TJob::ApplyVideoEncoderOptions(TOutputStream& ost) {
    AVCodecContext* enc = ost.enc.get();
    if (!FRcOverride.isEmpty())
        SetRcOverride(enc, FRcOverride);
    if (FIntraMatrix.size() == 64)
        enc->intra_matrix = CopyMatrix(FIntraMatrix);
    if (FInterMatrix.size() == 64)
        enc->inter_matrix = CopyMatrix(FInterMatrix);
    if (FIntraDcPrecision != 8)
        enc->intra_dc_precision = FIntraDcPrecision - 8;
    if (FBitsPerRawSample > 0)
        enc->bits_per_raw_sample = FBitsPerRawSample;
}

void TJob::SetEncoderParameters(TOutputStream& ost) {
    const TInputStream& ist = *FInputStreams[size_t(ost.source_index)];
    AVFormatContext* oc = FOutputFiles[size_t(ost.file_index)]->ctx.get();
    const AVCodecParameters* par = ist.st->codecpar;
    AVCodecContext* enc = ost.enc.get();
    if (ost.type == AVMEDIA_TYPE_VIDEO) {
        SetVideoParameters(ost, ist, oc);
    } else if (ost.type == AVMEDIA_TYPE_AUDIO) {
        SetAudioParameters(ost, par);
    } else if (ost.type == AVMEDIA_TYPE_SUBTITLE) {
        enc->time_base = AV_TIME_BASE_Q;
        if (par->extradata_size > 0) {
            enc->subtitle_header =
                static_cast<uint8_t*>(FF.av_mallocz(size_t(par->extradata_size) + 1));
            if (!enc->subtitle_header)
                FFRaise("av_mallocz fail");
            memcpy(enc->subtitle_header, par->extradata, size_t(par->extradata_size));
            enc->subtitle_header_size = par->extradata_size;
        }
    }
    if (ost.codec_tag)
        enc->codec_tag = ost.codec_tag;
    if (oc->oformat->flags & AVFMT_GLOBALHEADER)
        enc->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
}

namespace {

// The frame rate of the input stream, or a sane guess.
AVRational InputFrameRate(AVFormatContext* ic, AVStream* st) {
    AVRational rate = FF.av_guess_frame_rate(ic, st, nullptr);
    if (rate.num <= 0 || rate.den <= 0)
        rate = st->r_frame_rate;
    if (rate.num <= 0 || rate.den <= 0)
        rate = av_inv_q(st->time_base.num ? st->time_base : AVRational{1, 25});
    if (rate.num <= 0 || rate.den <= 0 || av_q2d(rate) > 1000)
        rate = {25, 1};
    return rate;
}

// The pixel format the encoder takes: the one asked for (else the input's) when it is
// supported, else the best match for the input's.
AVPixelFormat EncoderPixelFormat(const TOutputStream& ost, const AVCodecParameters* par) {
    AVPixelFormat fmt = ost.pix_fmt != AV_PIX_FMT_NONE ? ost.pix_fmt : AVPixelFormat(par->format);
    const AVPixelFormat* formats = ost.codec->pix_fmts;
    // The MJPEG encoder lists the limited-range formats too, but takes them only
    // below normal strictness: offer it its full-range ones, as the tool does.
    static const AVPixelFormat fullRange[] = {AV_PIX_FMT_YUVJ420P, AV_PIX_FMT_YUVJ422P,
                                              AV_PIX_FMT_YUVJ444P, AV_PIX_FMT_NONE};
    if (ost.codec->id == AV_CODEC_ID_MJPEG &&
        ost.enc->strict_std_compliance > FF_COMPLIANCE_UNOFFICIAL)
        formats = fullRange;
    if (formats) {
        bool supported = false;
        for (const AVPixelFormat* p = formats; *p != AV_PIX_FMT_NONE; ++p)
            supported = supported || *p == fmt;
        if (!supported)
            fmt = FF.avcodec_find_best_pix_fmt_of_list(formats, AVPixelFormat(par->format), 0,
                                                       nullptr);
    }
    return fmt;
}

} // namespace

void TJob::SetVideoParameters(TOutputStream& ost, const TInputStream& ist, AVFormatContext* oc) {
    AVCodecContext* enc = ost.enc.get();
    const AVCodecParameters* par = ist.st->codecpar;
    enc->width = ost.width > 0 ? ost.width : par->width;
    enc->height = ost.height > 0 ? ost.height : par->height;
    if (ost.aspect > 0 && enc->width > 0 && enc->height > 0)
        enc->sample_aspect_ratio = FF.av_d2q(ost.aspect * enc->height / enc->width, 255);
    else if (ost.width <= 0 && ost.height <= 0)
        enc->sample_aspect_ratio = ist.st->sample_aspect_ratio.num ? ist.st->sample_aspect_ratio
                                                                   : par->sample_aspect_ratio;
    AVRational rate = ost.frame_rate;
    if (rate.num <= 0 || rate.den <= 0)
        rate = InputFrameRate(FInputFiles[size_t(ist.file_index)]->ctx.get(), ist.st);
    if (ost.codec->supported_framerates && !FForceFps)
        rate = ost.codec->supported_framerates[FF.av_find_nearest_q_idx(
            rate, ost.codec->supported_framerates)];
    FF.av_reduce(&rate.num, &rate.den, rate.num, rate.den, 65535);
    enc->time_base = av_inv_q(rate);
    enc->framerate = rate;
    const AVPixelFormat fmt = EncoderPixelFormat(ost, par);
    if (fmt == AV_PIX_FMT_NONE)
        FFRaise("Video pixel format is unknown, stream cannot be encoded");
    enc->pix_fmt = fmt;
    if (ost.qscale > 0) {
        enc->flags |= AV_CODEC_FLAG_QSCALE;
        enc->global_quality = int(FF_QP2LAMBDA * ost.qscale);
    }
    if (ost.top_field_first >= 0)
        enc->field_order = ost.top_field_first ? AV_FIELD_TT : AV_FIELD_BB;
    ost.sync_method = FOutputFiles[size_t(ost.file_index)]->video_sync_method;
    if (ost.sync_method < 0)
        ost.sync_method = (oc->oformat->flags & AVFMT_NOTIMESTAMPS)   ? 0
                          : (oc->oformat->flags & AVFMT_VARIABLE_FPS) ? 2
                                                                      : 1;
}

namespace {

// The channel layout the encoder takes for `channels`: the input's when it has that
// count, else the default one; replaced by one the codec lists when it does not list it.
void EncoderChannelLayout(const TOutputStream& ost, const AVCodecParameters* par, int channels) {
    AVCodecContext* enc = ost.enc.get();
    FF.av_channel_layout_uninit(&enc->ch_layout);
    if (par->ch_layout.nb_channels == channels && par->ch_layout.order == AV_CHANNEL_ORDER_NATIVE)
        FF.av_channel_layout_copy(&enc->ch_layout, &par->ch_layout);
    else
        FF.av_channel_layout_default(&enc->ch_layout, channels);
    if (!ost.codec->ch_layouts)
        return;
    bool supported = false;
    const AVChannelLayout* sameCount = nullptr;
    for (const AVChannelLayout* l = ost.codec->ch_layouts; l->nb_channels; ++l) {
        supported = supported || !FF.av_channel_layout_compare(l, &enc->ch_layout);
        if (!sameCount && l->nb_channels == channels)
            sameCount = l;
    }
    if (!supported) {
        FF.av_channel_layout_uninit(&enc->ch_layout);
        FF.av_channel_layout_copy(&enc->ch_layout, sameCount ? sameCount : ost.codec->ch_layouts);
    }
}

AVSampleFormat EncoderSampleFormat(const TOutputStream& ost, const AVCodecParameters* par) {
    AVSampleFormat sfmt = ost.sample_fmt;
    if (ost.codec->sample_fmts) {
        bool supported = false;
        for (const AVSampleFormat* f = ost.codec->sample_fmts; *f != AV_SAMPLE_FMT_NONE; ++f)
            supported = supported || *f == sfmt;
        if (!supported) {
            sfmt = ost.codec->sample_fmts[0];
            for (const AVSampleFormat* f = ost.codec->sample_fmts; *f != AV_SAMPLE_FMT_NONE; ++f)
                if (*f == AVSampleFormat(par->format))
                    sfmt = *f;
        }
    }
    return sfmt == AV_SAMPLE_FMT_NONE ? AVSampleFormat(par->format) : sfmt;
}

} // namespace

void TJob::SetAudioParameters(TOutputStream& ost, const AVCodecParameters* par) {
    AVCodecContext* enc = ost.enc.get();
    int rate = ost.sample_rate > 0 ? ost.sample_rate : par->sample_rate;
    if (ost.codec->supported_samplerates) {
        int best = ost.codec->supported_samplerates[0];
        for (const int* r = ost.codec->supported_samplerates; *r; ++r)
            if (std::abs(*r - rate) < std::abs(best - rate))
                best = *r;
        rate = best;
    }
    enc->sample_rate = rate;
    EncoderChannelLayout(ost, par, ost.channels > 0 ? ost.channels : par->ch_layout.nb_channels);
    enc->sample_fmt = EncoderSampleFormat(ost, par);
    enc->time_base = {1, rate};
    if (ost.audio_qscale > -99999) {
        enc->flags |= AV_CODEC_FLAG_QSCALE;
        enc->global_quality = int(FF_QP2LAMBDA * ost.audio_qscale);
    }
}

// ---------------------------------------------------------------------------------------
// opening

void TJob::OpenEncoders() {
    for (auto& ost : FOutputStreams)
        if (ost->encoding_needed)
            OpenEncoder(*ost);
}

void TJob::OpenEncoder(TOutputStream& ost) {
    if (FF.avcodec_open2(ost.enc.get(), ost.codec, nullptr) < 0)
        FFRaise("Error while opening encoder for output stream #%d.%d (%s) - maybe "
                "incorrect parameters such as bit_rate, rate, width or height. Please check "
                "error log message to find out more detail information.",
                ost.file_index, ost.index, TypeName(ost.type));
    ost.encoder_opened = true;
    FF.avcodec_parameters_from_context(ost.st->codecpar, ost.enc.get());
    ost.st->time_base = ost.enc->time_base;
    if (ost.type == AVMEDIA_TYPE_VIDEO) {
        ost.st->avg_frame_rate = ost.enc->framerate;
        ost.st->sample_aspect_ratio = ost.enc->sample_aspect_ratio;
    }
    if (ost.type == AVMEDIA_TYPE_AUDIO) {
        ost.frame_size =
            (ost.codec->capabilities & AV_CODEC_CAP_VARIABLE_FRAME_SIZE) ? 0 : ost.enc->frame_size;
        ost.fifo.reset(FF.av_audio_fifo_alloc(ost.enc->sample_fmt, ost.enc->ch_layout.nb_channels,
                                              std::max(ost.frame_size, 1024)));
        ost.audio_frame.reset(FF.av_frame_alloc());
        if (!ost.fifo || !ost.audio_frame)
            FFRaise("av_fifo_alloc fail");
    }
    for (TBSFContextPtr& bsf : ost.bsfs) {
        FF.avcodec_parameters_copy(bsf->par_in, ost.st->codecpar);
        bsf->time_base_in = ost.enc->time_base;
        FF.av_bsf_init(bsf.get());
    }
}

// ---------------------------------------------------------------------------------------
// encoding

void TJob::EncodeVideoFrames(TOutputStream& ost, AVFrame* picture, int count) {
    const TOutputFile& of = *FOutputFiles[size_t(ost.file_index)];
    AVCodecContext* enc = ost.enc.get();
    for (int i = 0; i < count && !FBroken; ++i) {
        const int frameNumber = ost.frame_number + 1;
        const int64_t outPts =
            FF.av_rescale_q(ost.sync_opts, enc->time_base, AV_TIME_BASE_Q) + of.start_time;
        AVFrame* out = OutputProcessing(ost, picture, frameNumber, outPts);
        PostHookProcessing(ost, out, frameNumber, outPts);
        TFramePtr encFrame(FF.av_frame_clone(out));
        if (!encFrame)
            FFRaise("Video encoding failed");
        encFrame->pts = ost.sync_opts;
        encFrame->pict_type = AV_PICTURE_TYPE_NONE;
        encFrame->sample_aspect_ratio = enc->sample_aspect_ratio;
        if (ost.forced_kf_index < ost.forced_kf_pts.size() &&
            outPts - of.start_time >= ost.forced_kf_pts[ost.forced_kf_index]) {
            encFrame->pict_type = AV_PICTURE_TYPE_I;
            ++ost.forced_kf_index;
        }
        EncodeFrame(ost, encFrame.get());
        ++ost.sync_opts;
        ++ost.frame_number;
    }
}

void TJob::EncodeSubtitle(TOutputStream& ost, AVSubtitle& sub, int64_t pts) {
    const TOutputFile& of = *FOutputFiles[size_t(ost.file_index)];
    sub.pts = pts - of.start_time;
    QByteArray buffer(1024 * 1024, '\0');
    const int size = FF.avcodec_encode_subtitle(
        ost.enc.get(), reinterpret_cast<uint8_t*>(buffer.data()), buffer.size(), &sub);
    if (size < 0)
        FFRaise("Subtitle encoding failed");
    AVPacket* out = ost.pkt.get();
    if (FF.av_new_packet(out, size) < 0)
        FFRaise("Subtitle encoding failed");
    memcpy(out->data, buffer.constData(), size_t(size));
    out->pts = out->dts = FF.av_rescale_q(sub.pts, AV_TIME_BASE_Q, ost.enc->time_base);
    out->duration = FF.av_rescale_q(sub.end_display_time - sub.start_display_time, {1, 1000},
                                    ost.enc->time_base);
    ost.copy_time = sub.pts;
    WritePacket(ost, out);
}

void TJob::DrainAudioFifo(TOutputStream& ost, bool flush) {
    AVCodecContext* enc = ost.enc.get();
    while (true) {
        const int available = FF.av_audio_fifo_size(ost.fifo.get());
        int take = ost.frame_size > 0 ? ost.frame_size : available;
        if (available <= 0 || (available < take && !flush))
            return;
        AVFrame* frame = ost.audio_frame.get();
        FF.av_frame_unref(frame);
        const bool small = ost.codec->capabilities & AV_CODEC_CAP_SMALL_LAST_FRAME;
        const int got = std::min(available, take);
        frame->nb_samples = (got < take && !small) ? take : got;
        frame->format = enc->sample_fmt;
        frame->sample_rate = enc->sample_rate;
        FF.av_channel_layout_copy(&frame->ch_layout, &enc->ch_layout);
        if (FF.av_frame_get_buffer(frame, 0) < 0)
            FFRaise("Out of memory in do_audio_out");
        if (frame->nb_samples > got)
            FF.av_samples_set_silence(frame->extended_data, got, frame->nb_samples - got,
                                      enc->ch_layout.nb_channels, enc->sample_fmt);
        if (FF.av_audio_fifo_read(ost.fifo.get(), reinterpret_cast<void**>(frame->extended_data),
                                  got) < got)
            FFRaise("Internal error, buffer size too small");
        frame->pts = ost.sync_opts;
        ost.sync_opts += frame->nb_samples;
        EncodeFrame(ost, frame);
        ++ost.frame_number;
    }
}

void TJob::EncodeFrame(TOutputStream& ost, AVFrame* frame) {
    const bool video = ost.type == AVMEDIA_TYPE_VIDEO;
    AVPacket* pkt = ost.pkt.get();
    int ret = FF.avcodec_send_frame(ost.enc.get(), frame);
    if (ret < 0 && ret != AVERROR_EOF)
        FFRaise(video ? "Video encoding failed" : "Audio encoding failed");
    while ((ret = FF.avcodec_receive_packet(ost.enc.get(), pkt)) >= 0) {
        if (video) {
            size_t size = 0;
            const uint8_t* stats =
                FF.av_packet_get_side_data(pkt, AV_PKT_DATA_QUALITY_STATS, &size);
            ost.last_quality = stats && size >= 4 ? float(AV_RL32(stats)) : -1;
        }
        FF.av_packet_rescale_ts(pkt, ost.enc->time_base, ost.st->time_base);
        if (!video)
            ShiftNegativeStart(ost, pkt);
        pkt->stream_index = ost.index;
        if (ost.sound)
            QueueSoundPacket(ost, pkt); // the loop writes it
        else
            WritePacket(ost, pkt);
    }
    if (ret != AVERROR(EAGAIN) && ret != AVERROR_EOF)
        FFRaise(video ? "Video encoding failed" : "Audio encoding failed");
}

void TJob::FlushEncoders() {
    // A sound worker has flushed its streams itself.
    for (auto& ost : FOutputStreams)
        if (!ost->sound)
            FlushEncoder(*ost);
}

void TJob::FlushEncoder(TOutputStream& ost) {
    if (!ost.encoder_opened)
        return;
    if (ost.type == AVMEDIA_TYPE_AUDIO) {
        FlushResampler(ost);
        DrainAudioFifo(ost, true);
        if (ost.frame_number > 0)
            EncodeFrame(ost, nullptr);
    } else if (ost.type == AVMEDIA_TYPE_VIDEO) {
        EncodeFrame(ost, nullptr);
    }
}
