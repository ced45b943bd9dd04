// The conversion itself: stream set-up, the packet loop, decoding, video and audio
// sync, encoding and muxing.

#include "media/FFmpegInternal.h"

#include "media/FFLog.h"
#include "media/FrameHook.h"
#include "media/InterruptCB.h"
#include "media/MainThread.h"
#include "media/YuvConvert.h"

#include <cmath>

extern "C" {
#include <libavutil/intreadwrite.h>
}

namespace {

const char* TypeName(AVMediaType type) {
    const char* name = FF.av_get_media_type_string(type);
    return name ? name : "unknown";
}

QByteArray Utf8(const QString& text) {
    return text.toUtf8();
}

} // namespace

// ---------------------------------------------------------------------------------------
// set-up

void TCustomFFmpeg::MapJoinPart(int part) {
    // Every output stream takes the first stream of its type of the part's input.
    for (auto& ost : FOutputStreams) {
        ost->source_index = -1;
        ost->closed = false;
        const TInputFile& file = *FInputFiles[size_t(part)];
        for (int i = 0; i < file.nb_streams; ++i) {
            TInputStream& ist = *FInputStreams[size_t(file.ist_index + i)];
            if (ist.st->codecpar->codec_type == ost->type) {
                ost->source_index = file.ist_index + i;
                break;
            }
        }
        if (ost->source_index < 0)
            ost->closed = true;
    }
}

void TCustomFFmpeg::SetupStreams() {
    for (size_t i = 0; i < FOutputFiles.size(); ++i)
        if (FOutputFiles[i]->nb_streams == 0)
            FFRaise("Output file #%d does not contain any stream", int(i));

    // stream mapping
    if (!FStreamMaps.empty()) {
        if (FStreamMaps.size() != FOutputStreams.size())
            FFRaise("Number of stream maps must match number of output streams");
        for (size_t i = 0; i < FOutputStreams.size(); ++i) {
            TOutputStream& ost = *FOutputStreams[i];
            const TStreamMap& map = FStreamMaps[i];
            if (map.FileIndex < 0 || map.FileIndex >= nb_input_files() || map.StreamIndex < 0 ||
                map.StreamIndex >= FInputFiles[size_t(map.FileIndex)]->nb_streams)
                FFRaise("Could not find input stream #%d.%d", map.FileIndex, map.StreamIndex);
            if (map.SyncFileIndex < 0 || map.SyncFileIndex >= nb_input_files() ||
                map.SyncStreamIndex < 0 ||
                map.SyncStreamIndex >= FInputFiles[size_t(map.SyncFileIndex)]->nb_streams)
                FFRaise("Could not find sync stream #%d.%d", map.SyncFileIndex,
                        map.SyncStreamIndex);
            const int index = FInputFiles[size_t(map.FileIndex)]->ist_index + map.StreamIndex;
            const AVMediaType itype = FInputStreams[size_t(index)]->st->codecpar->codec_type;
            if (itype != ost.type)
                FFRaise("Codec type mismatch for mapping #%d.%d (%s) -> #%d.%d (%s)", map.FileIndex,
                        map.StreamIndex, TypeName(itype), ost.file_index, ost.index,
                        TypeName(ost.type));
            ost.source_index = index;
        }
    } else if (FJoinMode) {
        MapJoinPart(0);
        for (auto& ost : FOutputStreams)
            if (ost->source_index < 0)
                FFRaise("Could not find input stream matching output stream #%d.%d (%s)",
                        ost->file_index, ost->index, TypeName(ost->type));
    } else {
        for (auto& ost : FOutputStreams) {
            // the first input stream of its type not yet taken, else any of its type
            int found = -1;
            for (size_t j = 0; j < FInputStreams.size() && found < 0; ++j) {
                TInputStream& ist = *FInputStreams[j];
                if (ist.st->codecpar->codec_type == ost->type && !ist.used &&
                    ist.st->discard != AVDISCARD_ALL)
                    found = int(j);
            }
            for (size_t j = 0; j < FInputStreams.size() && found < 0; ++j) {
                TInputStream& ist = *FInputStreams[j];
                if (ist.st->codecpar->codec_type == ost->type && ist.st->discard != AVDISCARD_ALL)
                    found = int(j);
            }
            if (found < 0)
                FFRaise("Could not find input stream matching output stream #%d.%d (%s)",
                        ost->file_index, ost->index, TypeName(ost->type));
            ost->source_index = found;
            FInputStreams[size_t(found)]->used = true;
        }
    }
    // in join mode every part's streams of a mapped type are read
    for (auto& ist : FInputStreams) {
        ist->discard = true;
        ist->used = false;
    }
    for (auto& ost : FOutputStreams) {
        if (FJoinMode) {
            for (auto& ist : FInputStreams)
                if (ist->st->codecpar->codec_type == ost->type) {
                    ist->discard = false;
                    ist->used = true;
                    if (ost->encoding_needed)
                        ist->decoding_needed = true;
                }
        } else if (ost->source_index >= 0) {
            TInputStream& ist = *FInputStreams[size_t(ost->source_index)];
            ist.discard = false;
            ist.used = true;
            if (ost->encoding_needed)
                ist.decoding_needed = true;
        }
    }
    for (auto& ist : FInputStreams)
        if (ist->discard)
            ist->st->discard = AVDISCARD_ALL;

    // refusals of stream copy with processing of decoded frames
    for (auto& ost : FOutputStreams) {
        if (!ost->stream_copy)
            continue;
        if (ost->type == AVMEDIA_TYPE_VIDEO) {
            if (OnInputVideoHook || OnOutputVideoHook)
                FFRaise("-vcodec copy and VideoHook are incompatible (frames are not decoded)");
            if (OnInputFrameHook || OnOutputFrameHook)
                FFRaise("-vcodec copy and FrameHook are incompatible (frames are not decoded)");
            if (FHookChain && !FHookChain->Empty())
                FFRaise("-vcodec copy and -vhook are incompatible (frames are not decoded)");
            if (PostHooks() & (phPreview | phBitmap))
                FFRaise("-vcodec copy and PostHooks are incompatible (frames are not decoded)");
        } else if (ost->type == AVMEDIA_TYPE_AUDIO) {
            if (FAudioVolume != 256)
                FFRaise("-acodec copy and -vol are incompatible (frames are not decoded)");
            if (OnAudioHook)
                FFRaise("-acodec copy and AudioHook are incompatible (frames are not decoded)");
        } else if (ost->type != AVMEDIA_TYPE_SUBTITLE && ost->type != AVMEDIA_TYPE_DATA) {
            FFRaise("invalid codec_type of output stream");
        }
    }

    // codec parameters
    for (auto& ostPtr : FOutputStreams) {
        TOutputStream& ost = *ostPtr;
        TInputStream& ist = *FInputStreams[size_t(ost.source_index)];
        TOutputFile& of = *FOutputFiles[size_t(ost.file_index)];
        AVFormatContext* oc = of.ctx;
        const AVCodecParameters* par = ist.st->codecpar;
        if (!ost.language.isEmpty())
            FF.av_dict_set(&ost.st->metadata, "language", Utf8(ost.language).constData(), 0);
        if (ost.stream_copy) {
            if (par->extradata_size < 0 || par->extradata_size > (1 << 28))
                FFRaise("icodec.extradata_size is invalid (too large)");
            FF.avcodec_parameters_copy(ost.st->codecpar, par);
            unsigned tag = ost.codec_tag;
            if (!tag) {
                unsigned found = 0;
                if (!oc->oformat->codec_tag ||
                    FF.av_codec_get_id(oc->oformat->codec_tag, par->codec_tag) == par->codec_id ||
                    !FF.av_codec_get_tag2(oc->oformat->codec_tag, par->codec_id, &found))
                    tag = par->codec_tag;
            }
            ost.st->codecpar->codec_tag = tag;
            ost.st->time_base = ist.st->time_base;
            ost.st->avg_frame_rate = ist.st->avg_frame_rate;
            ost.st->sample_aspect_ratio = ist.st->sample_aspect_ratio;
            continue;
        }
        AVCodecContext* enc = ost.enc;
        if (ost.type == AVMEDIA_TYPE_VIDEO) {
            enc->width = ost.width > 0 ? ost.width : par->width;
            enc->height = ost.height > 0 ? ost.height : par->height;
            if (ost.aspect > 0 && enc->width > 0 && enc->height > 0)
                enc->sample_aspect_ratio = FF.av_d2q(ost.aspect * enc->height / enc->width, 255);
            else if (ost.width <= 0 && ost.height <= 0)
                enc->sample_aspect_ratio = ist.st->sample_aspect_ratio.num
                                               ? ist.st->sample_aspect_ratio
                                               : par->sample_aspect_ratio;
            AVRational rate = ost.frame_rate;
            if (rate.num <= 0 || rate.den <= 0) {
                AVFormatContext* ic = FInputFiles[size_t(ist.file_index)]->ctx;
                rate = FF.av_guess_frame_rate(ic, ist.st, nullptr);
                if (rate.num <= 0 || rate.den <= 0)
                    rate = ist.st->r_frame_rate;
                if (rate.num <= 0 || rate.den <= 0)
                    rate = av_inv_q(ist.st->time_base.num ? ist.st->time_base : AVRational{1, 25});
                if (rate.num <= 0 || rate.den <= 0 || av_q2d(rate) > 1000)
                    rate = {25, 1};
            }
            if (ost.codec->supported_framerates && !FForceFps)
                rate = ost.codec->supported_framerates[FF.av_find_nearest_q_idx(
                    rate, ost.codec->supported_framerates)];
            FF.av_reduce(&rate.num, &rate.den, rate.num, rate.den, 65535);
            enc->time_base = av_inv_q(rate);
            enc->framerate = rate;
            AVPixelFormat fmt =
                ost.pix_fmt != AV_PIX_FMT_NONE ? ost.pix_fmt : AVPixelFormat(par->format);
            const AVPixelFormat* formats = ost.codec->pix_fmts;
            // The MJPEG encoder lists the limited-range formats too, but takes them only
            // below normal strictness: offer it its full-range ones, as the tool does.
            static const AVPixelFormat fullRange[] = {AV_PIX_FMT_YUVJ420P, AV_PIX_FMT_YUVJ422P,
                                                      AV_PIX_FMT_YUVJ444P, AV_PIX_FMT_NONE};
            if (ost.codec->id == AV_CODEC_ID_MJPEG &&
                enc->strict_std_compliance > FF_COMPLIANCE_UNOFFICIAL)
                formats = fullRange;
            if (formats) {
                bool supported = false;
                for (const AVPixelFormat* p = formats; *p != AV_PIX_FMT_NONE; ++p)
                    supported = supported || *p == fmt;
                if (!supported)
                    fmt = FF.avcodec_find_best_pix_fmt_of_list(formats, AVPixelFormat(par->format),
                                                               0, nullptr);
            }
            if (fmt == AV_PIX_FMT_NONE)
                FFRaise("Video pixel format is unknown, stream cannot be encoded");
            enc->pix_fmt = fmt;
            if (ost.qscale > 0) {
                enc->flags |= AV_CODEC_FLAG_QSCALE;
                enc->global_quality = int(FF_QP2LAMBDA * ost.qscale);
            }
            if (ost.top_field_first >= 0)
                enc->field_order = ost.top_field_first ? AV_FIELD_TT : AV_FIELD_BB;
            ost.sync_method = of.video_sync_method;
            if (ost.sync_method < 0)
                ost.sync_method = (oc->oformat->flags & AVFMT_NOTIMESTAMPS)   ? 0
                                  : (oc->oformat->flags & AVFMT_VARIABLE_FPS) ? 2
                                                                              : 1;
        } else if (ost.type == AVMEDIA_TYPE_AUDIO) {
            int rate = ost.sample_rate > 0 ? ost.sample_rate : par->sample_rate;
            if (ost.codec->supported_samplerates) {
                int best = ost.codec->supported_samplerates[0];
                for (const int* r = ost.codec->supported_samplerates; *r; ++r)
                    if (std::abs(*r - rate) < std::abs(best - rate))
                        best = *r;
                rate = best;
            }
            enc->sample_rate = rate;
            const int channels = ost.channels > 0 ? ost.channels : par->ch_layout.nb_channels;
            FF.av_channel_layout_uninit(&enc->ch_layout);
            if (par->ch_layout.nb_channels == channels &&
                par->ch_layout.order == AV_CHANNEL_ORDER_NATIVE)
                FF.av_channel_layout_copy(&enc->ch_layout, &par->ch_layout);
            else
                FF.av_channel_layout_default(&enc->ch_layout, channels);
            if (ost.codec->ch_layouts) {
                bool supported = false;
                const AVChannelLayout* sameCount = nullptr;
                for (const AVChannelLayout* l = ost.codec->ch_layouts; l->nb_channels; ++l) {
                    supported = supported || !FF.av_channel_layout_compare(l, &enc->ch_layout);
                    if (!sameCount && l->nb_channels == channels)
                        sameCount = l;
                }
                if (!supported) {
                    FF.av_channel_layout_uninit(&enc->ch_layout);
                    FF.av_channel_layout_copy(&enc->ch_layout,
                                              sameCount ? sameCount : ost.codec->ch_layouts);
                }
            }
            AVSampleFormat sfmt = ost.sample_fmt;
            if (ost.codec->sample_fmts) {
                bool supported = false;
                for (const AVSampleFormat* f = ost.codec->sample_fmts; *f != AV_SAMPLE_FMT_NONE;
                     ++f)
                    supported = supported || *f == sfmt;
                if (!supported) {
                    sfmt = ost.codec->sample_fmts[0];
                    for (const AVSampleFormat* f = ost.codec->sample_fmts; *f != AV_SAMPLE_FMT_NONE;
                         ++f)
                        if (*f == AVSampleFormat(par->format))
                            sfmt = *f;
                }
            }
            if (sfmt == AV_SAMPLE_FMT_NONE)
                sfmt = AVSampleFormat(par->format);
            enc->sample_fmt = sfmt;
            enc->time_base = {1, rate};
            if (ost.audio_qscale > -99999) {
                enc->flags |= AV_CODEC_FLAG_QSCALE;
                enc->global_quality = int(FF_QP2LAMBDA * ost.audio_qscale);
            }
        } else if (ost.type == AVMEDIA_TYPE_SUBTITLE) {
            enc->time_base = AV_TIME_BASE_Q;
            if (par->extradata_size > 0) {
                enc->subtitle_header =
                    static_cast<uint8_t*>(FF.av_mallocz(size_t(par->extradata_size) + 1));
                memcpy(enc->subtitle_header, par->extradata, size_t(par->extradata_size));
                enc->subtitle_header_size = par->extradata_size;
            }
        }
        if (ost.codec_tag)
            enc->codec_tag = ost.codec_tag;
        if (oc->oformat->flags & AVFMT_GLOBALHEADER)
            enc->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    }

    // open the encoders
    for (auto& ostPtr : FOutputStreams) {
        TOutputStream& ost = *ostPtr;
        if (!ost.encoding_needed)
            continue;
        const int ret = FF.avcodec_open2(ost.enc, ost.codec, nullptr);
        if (ret < 0)
            FFRaise("Error while opening encoder for output stream #%d.%d (%s) - maybe "
                    "incorrect parameters such as bit_rate, rate, width or height. Please check "
                    "error log message to find out more detail information.",
                    ost.file_index, ost.index, TypeName(ost.type));
        ost.encoder_opened = true;
        FF.avcodec_parameters_from_context(ost.st->codecpar, ost.enc);
        ost.st->time_base = ost.enc->time_base;
        if (ost.type == AVMEDIA_TYPE_VIDEO) {
            ost.st->avg_frame_rate = ost.enc->framerate;
            ost.st->sample_aspect_ratio = ost.enc->sample_aspect_ratio;
        }
        if (ost.type == AVMEDIA_TYPE_AUDIO) {
            ost.frame_size = (ost.codec->capabilities & AV_CODEC_CAP_VARIABLE_FRAME_SIZE)
                                 ? 0
                                 : ost.enc->frame_size;
            ost.fifo = FF.av_audio_fifo_alloc(ost.enc->sample_fmt, ost.enc->ch_layout.nb_channels,
                                              std::max(ost.frame_size, 1024));
            ost.audio_frame = FF.av_frame_alloc();
            if (!ost.fifo || !ost.audio_frame)
                FFRaise("av_fifo_alloc fail");
        }
        for (AVBSFContext* bsf : ost.bsfs) {
            FF.avcodec_parameters_copy(bsf->par_in, ost.st->codecpar);
            bsf->time_base_in = ost.enc->time_base;
            FF.av_bsf_init(bsf);
        }
    }

    // open the decoders
    for (size_t i = 0; i < FInputStreams.size(); ++i) {
        TInputStream& ist = *FInputStreams[i];
        if (!ist.decoding_needed)
            continue;
        const AVCodecParameters* par = ist.st->codecpar;
        const AVCodec* codec = ist.forced ? ist.forced : FF.avcodec_find_decoder(par->codec_id);
        if (!codec)
            FFRaise("Decoder (codec id %d) not found for input stream #%d.%d (%s)",
                    int(par->codec_id), ist.file_index, ist.st->index, TypeName(par->codec_type));
        ist.dec = FF.avcodec_alloc_context3(codec);
        if (!ist.dec)
            FFRaise("av_mallocz fail");
        FF.avcodec_parameters_to_context(ist.dec, par);
        ist.dec->pkt_timebase = ist.st->time_base;
        ist.dec->thread_count = FThreadCount;
        if (FF.avcodec_open2(ist.dec, codec, nullptr) < 0)
            FFRaise("Error while opening decoder for input stream #%d.%d (%s)", ist.file_index,
                    ist.st->index, TypeName(par->codec_type));
        ist.frame = FF.av_frame_alloc();
        ist.pts = FInputFiles[size_t(ist.file_index)]->ts_offset > 0
                      ? 0
                      : 0; // the first frame's time is taken from its timestamp
    }

    // metadata: the first input's global metadata, unless maps say otherwise
    for (auto& of : FOutputFiles) {
        if (FMetaDataMaps.empty() && !FInputFiles.empty())
            FF.av_dict_copy(&of->ctx->metadata, FInputFiles[0]->ctx->metadata,
                            AV_DICT_DONT_OVERWRITE);
        for (const TMetaDataMap& map : FMetaDataMaps) {
            if (map.FileIndex < 0)
                continue;
            if (map.FileIndex >= nb_input_files())
                FFRaise("Invalid %s index %d while processing metadata maps", "input file",
                        map.FileIndex);
            FF.av_dict_copy(&of->ctx->metadata, FInputFiles[size_t(map.FileIndex)]->ctx->metadata,
                            AV_DICT_DONT_OVERWRITE);
        }
        FF.av_dict_set(&of->ctx->metadata, "encoder", nullptr, 0);
    }
    for (const auto& [in, out] : FChapterMaps) {
        if (in < 0 || in >= nb_input_files())
            FFRaise("Invalid input file index %d in chapter mapping.", in);
        if (out < 0 || out >= nb_output_files())
            FFRaise("Invalid output file index %d in chapter mapping.", out);
    }

    // headers
    for (size_t i = 0; i < FOutputFiles.size(); ++i) {
        TOutputFile& of = *FOutputFiles[i];
        if (FF.avformat_write_header(of.ctx, nullptr) < 0)
            FFRaise("Could not write header for output file #%d (incorrect codec parameters ?)",
                    int(i));
        of.header_written = true;
    }

    FFLogger().Log(nullptr, llVerbose, QStringLiteral("Stream mapping:"));
    for (auto& ost : FOutputStreams) {
        const TInputStream& ist = *FInputStreams[size_t(ost->source_index)];
        const QString how = ost->stream_copy
                                ? QStringLiteral("copy")
                                : QStringLiteral("%1 -> %2")
                                      .arg(QString::fromUtf8(ist.dec ? ist.dec->codec->name : "?"),
                                           QString::fromUtf8(ost->codec->name));
        FFLogger().Log(nullptr, llVerbose, "  Stream #%d.%d -> #%d.%d (%s)", ist.file_index,
                       ist.st->index, ost->file_index, ost->index, Utf8(how).constData());
    }
}

// ---------------------------------------------------------------------------------------
// the loop

void TCustomFFmpeg::WaitWhilePaused() {
    std::unique_lock lock(FPauseMutex);
    if (FPausesSeen == FPausesBegun || FBroken)
        return;
    FPausesSeen = FPausesBegun;
    // The inputs are told about the pause, also one that has already ended while a read
    // was waiting: a live source starts its clock afresh when reading goes on, so the
    // pause leaves no gap in the recording, however short it was.
    lock.unlock();
    for (const auto& file : FInputFiles)
        if (file->ctx)
            FF.av_read_pause(file->ctx);
    lock.lock();
    FPauseChanged.wait(lock, [&] { return !FPaused || FBroken; });
    lock.unlock();
    for (const auto& file : FInputFiles)
        if (file->ctx)
            FF.av_read_play(file->ctx);
}

int TCustomFFmpeg::ReadPacket(TInputFile& file, AVPacket* pkt) {
    return FF.av_read_frame(file.ctx, pkt);
}

void TCustomFFmpeg::FlushInputFile(int fileIndex) {
    const TInputFile& file = *FInputFiles[size_t(fileIndex)];
    for (int i = 0; i < file.nb_streams; ++i) {
        TInputStream& ist = *FInputStreams[size_t(file.ist_index + i)];
        if (ist.decoding_needed && !ist.flushed && ist.dec) {
            ProcessPacket(ist, nullptr);
            ist.flushed = true;
        }
    }
    // what the filter graphs still hold
    for (auto& ost : FOutputStreams) {
        if (!ost->graph || ost->source_index < 0 ||
            FInputStreams[size_t(ost->source_index)]->file_index != fileIndex)
            continue;
        if (FF.av_buffersrc_add_frame(ost->buffersrc, nullptr) >= 0) {
            TInputStream& ist = *FInputStreams[size_t(ost->source_index)];
            while (FF.av_buffersink_get_frame(ost->buffersink, ost->filtered) >= 0) {
                const int64_t pts =
                    ost->filtered->pts == AV_NOPTS_VALUE
                        ? ist.pts
                        : FF.av_rescale_q(ost->filtered->pts,
                                          FF.av_buffersink_get_time_base(ost->buffersink),
                                          AV_TIME_BASE_Q);
                DoVideoSync(*ost, ist, ost->filtered, pts);
                FF.av_frame_unref(ost->filtered);
            }
        }
        FF.avfilter_graph_free(&ost->graph);
    }
}

void TCustomFFmpeg::Transcode() {
    SetupStreams();
    FStartRealTime = JobNow();
    FLastReport = FStartRealTime;
    std::unique_ptr<TInterruptRegistration> registration;
    if (!IsMainThread())
        registration = std::make_unique<TInterruptRegistration>(this, &TranscodeInterruptProc);

    AVPacket* pkt = FF.av_packet_alloc();
    struct TPacketFree {
        AVPacket*& p;
        ~TPacketFree() { FF.av_packet_free(&p); }
    } pktFree{pkt};

    while (!FBroken) {
        WaitWhilePaused();
        if (FBroken)
            break;
        int fileIndex = -1;
        if (FJoinMode) {
            fileIndex = FJoinPart;
        } else {
            int64_t optsMin = INT64_MAX, iptsMin = INT64_MAX;
            bool limitReached = false;
            for (auto& ost : FOutputStreams) {
                if (ost->source_index < 0)
                    continue;
                TInputStream& ist = *FInputStreams[size_t(ost->source_index)];
                TInputFile& file = *FInputFiles[size_t(ist.file_index)];
                if (ist.is_past_recording_time || file.no_packet)
                    continue;
                const int64_t opts = ost->OutputTime();
                if (!file.eof_reached) {
                    if (ist.pts < iptsMin) {
                        iptsMin = ist.pts;
                        if (FInputSync)
                            fileIndex = ist.file_index;
                    }
                    if (opts < optsMin) {
                        optsMin = opts;
                        if (!FInputSync)
                            fileIndex = ist.file_index;
                    }
                }
                if (ost->frame_number >= ost->max_frames) {
                    fileIndex = -1;
                    limitReached = true;
                    break;
                }
            }
            if (limitReached)
                break;
        }
        if (fileIndex < 0) {
            bool anyWaiting = false;
            for (auto& file : FInputFiles)
                anyWaiting = anyWaiting || file->no_packet;
            if (FJoinMode || !anyWaiting)
                break;
            for (auto& file : FInputFiles)
                file->no_packet = false;
            FF.av_usleep(10000);
            continue;
        }
        if (!FOutputFiles.empty() && FOutputFiles[0]->limit_filesize > 0 &&
            FOutputFiles[0]->ctx->pb &&
            FF.avio_size(FOutputFiles[0]->ctx->pb) >= FOutputFiles[0]->limit_filesize)
            break;

        TInputFile& file = *FInputFiles[size_t(fileIndex)];
        FFileIndex = fileIndex;
        const int ret = ReadPacket(file, pkt);
        if (ret == AVERROR(EAGAIN)) {
            file.no_packet = true;
            continue;
        }
        if (ret < 0) {
            file.eof_reached = true;
            if (FJoinMode) {
                FlushInputFile(fileIndex);
                int64_t reached = 0;
                for (auto& ost : FOutputStreams) {
                    reached = std::max(reached, ost->OutputTime());
                    ost->closed = true;
                }
                if (++FJoinPart >= nb_input_files())
                    break;
                TInputFile& next = *FInputFiles[size_t(FJoinPart)];
                const int64_t start =
                    next.ctx->start_time != AV_NOPTS_VALUE ? next.ctx->start_time : 0;
                next.ts_offset = reached - start;
                MapJoinPart(FJoinPart);
                continue;
            }
            if (FShortest)
                break;
            continue;
        }
        for (auto& other : FInputFiles)
            other->no_packet = false;

        if (pkt->stream_index >= file.nb_streams) {
            FF.av_packet_unref(pkt);
            continue;
        }
        TInputStream& ist = *FInputStreams[size_t(file.ist_index + pkt->stream_index)];
        if (ist.discard) {
            FF.av_packet_unref(pkt);
            continue;
        }
        const AVRational tb = ist.st->time_base;
        const int64_t offset = FF.av_rescale_q(file.ts_offset, AV_TIME_BASE_Q, tb);
        if (pkt->dts != AV_NOPTS_VALUE)
            pkt->dts += offset;
        if (pkt->pts != AV_NOPTS_VALUE)
            pkt->pts += offset;
        const double scale = file.ts_scale[size_t(pkt->stream_index)];
        if (scale != 1.0) {
            if (pkt->pts != AV_NOPTS_VALUE)
                pkt->pts = int64_t(double(pkt->pts) * scale);
            if (pkt->dts != AV_NOPTS_VALUE)
                pkt->dts = int64_t(double(pkt->dts) * scale);
        }
        if (pkt->dts != AV_NOPTS_VALUE && ist.next_pts != AV_NOPTS_VALUE && file.ctx->iformat &&
            (file.ctx->iformat->flags & AVFMT_TS_DISCONT) && !FCopyTs) {
            const int64_t dts = FF.av_rescale_q(pkt->dts, tb, AV_TIME_BASE_Q);
            const int64_t delta = dts - ist.next_pts;
            if (std::llabs(delta) > int64_t(FDtsDeltaThreshold * AV_TIME_BASE) ||
                dts + 1 < ist.pts) {
                file.ts_offset -= delta;
                if (Verbose > 2)
                    FFLogger().Log(nullptr, llVerbose, "timestamp discontinuity %d, new offset= %d",
                                   int(delta), int(file.ts_offset));
                const int64_t d = FF.av_rescale_q(delta, AV_TIME_BASE_Q, tb);
                pkt->dts -= d;
                if (pkt->pts != AV_NOPTS_VALUE)
                    pkt->pts -= d;
            }
        }
        // recording time of the outputs this stream feeds
        int64_t limit = INT64_MAX;
        for (auto& ost : FOutputStreams)
            if (ost->source_index >= 0 && FInputStreams[size_t(ost->source_index)].get() == &ist) {
                const TOutputFile& of = *FOutputFiles[size_t(ost->file_index)];
                if (of.recording_time != INT64_MAX)
                    limit = std::min(limit, of.recording_time + of.start_time);
            }
        if (limit != INT64_MAX) {
            if (pkt->pts == AV_NOPTS_VALUE && pkt->dts == AV_NOPTS_VALUE) {
                FFLogger().Log(nullptr, llDebug,
                               "no timestamp information to check whether recording time "
                               "exhausted or not.");
            } else if (FF.av_compare_ts(pkt->pts != AV_NOPTS_VALUE ? pkt->pts : pkt->dts, tb, limit,
                                        AV_TIME_BASE_Q) >= 0) {
                ist.is_past_recording_time = true;
                FF.av_packet_unref(pkt);
                continue;
            }
        }
        try {
            ProcessPacket(ist, pkt);
        } catch (const FFmpegException& error) {
            if (FExitOnError || FOutputFailed)
                throw;
            if (Verbose >= 0)
                FFLogger().Log(nullptr, llVerbose, error.Message());
        }
        FF.av_packet_unref(pkt);
        if (JobNow() - FLastReport > ReportInterval)
            ReportProgress(false);
    }

    // From here on nothing may be interrupted: the trailer must reach the file.
    registration.reset();
    for (size_t i = 0; i < FInputFiles.size(); ++i)
        FlushInputFile(int(i));
    FlushEncoders();
    // Every output gets its trailer; the first that fails is reported afterwards.
    const TOutputFile* failed = nullptr;
    int failure = 0;
    for (size_t i = 0; i < FOutputFiles.size(); ++i) {
        TOutputFile& of = *FOutputFiles[i];
        if (of.header_written && (!FJoinMode || i == 0)) {
            int ret = FF.av_write_trailer(of.ctx);
            // Some muxers return a positive count from their trailer, which hides an
            // error of the file's own writes; everything buffered is pushed out and the
            // file's error state decides.
            if (ret >= 0 && of.ctx->pb) {
                FF.avio_flush(of.ctx->pb);
                ret = of.ctx->pb->error;
            }
            if (ret < 0 && !failed)
                failed = &of, failure = ret;
        }
    }
    if (failed)
        RaiseWriteError(*failed, failure);
    ReportProgress(true);
    FFinished = !FBroken;
}

// ---------------------------------------------------------------------------------------
// decoding

void TCustomFFmpeg::ProcessPacket(TInputStream& ist, AVPacket* pkt) {
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
    int ret = FF.avcodec_send_packet(ist.dec, pkt);
    if (ret < 0 && ret != AVERROR_EOF && ret != AVERROR(EAGAIN))
        FFRaise("Error while decoding stream #%d.%d (%s)", ist.file_index, ist.st->index,
                TypeName(type));
    int frames = 0;
    while ((ret = FF.avcodec_receive_frame(ist.dec, ist.frame)) >= 0) {
        ++frames;
        if (type == AVMEDIA_TYPE_VIDEO)
            ProcessVideo(ist, ist.frame);
        else if (type == AVMEDIA_TYPE_AUDIO)
            ProcessAudio(ist, ist.frame);
        FF.av_frame_unref(ist.frame);
        if (FBroken && pkt)
            break;
    }
    if (ret < 0 && ret != AVERROR(EAGAIN) && ret != AVERROR_EOF)
        FFRaise("Error while decoding stream #%d.%d (%s)", ist.file_index, ist.st->index,
                TypeName(type));
    if (type == AVMEDIA_TYPE_VIDEO && frames > 1 && pkt &&
        (Verbose > 1 || (Verbose == 1 && !ist.showed_multi_packet_warning))) {
        FFLogger().Log(nullptr, llError, "Multiple frames in a packet from stream %d",
                       ist.st->index);
        ist.showed_multi_packet_warning = true;
    }
}

void TCustomFFmpeg::ProcessSubtitle(TInputStream& ist, AVPacket* pkt) {
    AVSubtitle sub{};
    int got = 0;
    if (FF.avcodec_decode_subtitle2(ist.dec, &sub, &got, pkt) < 0 || !got)
        return;
    if (pkt->pts == AV_NOPTS_VALUE) {
        FF.avsubtitle_free(&sub);
        FFRaise("Subtitle packets must have a pts");
    }
    const int64_t pts = FF.av_rescale_q(pkt->pts, ist.st->time_base, AV_TIME_BASE_Q);
    ist.pts = pts;
    for (auto& ost : FOutputStreams) {
        if (!ost->encoding_needed || ost->closed || ost->source_index < 0 ||
            FInputStreams[size_t(ost->source_index)].get() != &ist)
            continue;
        const TOutputFile& of = *FOutputFiles[size_t(ost->file_index)];
        sub.pts = pts - of.start_time;
        QByteArray buffer(1024 * 1024, '\0');
        const int size = FF.avcodec_encode_subtitle(
            ost->enc, reinterpret_cast<uint8_t*>(buffer.data()), buffer.size(), &sub);
        if (size < 0) {
            FF.avsubtitle_free(&sub);
            FFRaise("Subtitle encoding failed");
        }
        AVPacket* out = ost->pkt;
        FF.av_new_packet(out, size);
        memcpy(out->data, buffer.constData(), size_t(size));
        out->pts = out->dts = FF.av_rescale_q(sub.pts, AV_TIME_BASE_Q, ost->enc->time_base);
        out->duration = FF.av_rescale_q(sub.end_display_time - sub.start_display_time, {1, 1000},
                                        ost->enc->time_base);
        ost->copy_time = sub.pts;
        WritePacket(*ost, out);
    }
    FF.avsubtitle_free(&sub);
}

void TCustomFFmpeg::TakeFrameTime(TInputStream& ist, const AVFrame* frame) {
    int64_t pts = frame->best_effort_timestamp;
    if (pts == AV_NOPTS_VALUE)
        pts = frame->pts;
    if (pts != AV_NOPTS_VALUE)
        ist.pts = FF.av_rescale_q(pts, ist.st->time_base, AV_TIME_BASE_Q);
    else if (ist.next_pts != AV_NOPTS_VALUE)
        ist.pts = ist.next_pts;
}

void TCustomFFmpeg::ProcessVideo(TInputStream& ist, AVFrame* frame) {
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

namespace {

// Builds "[in] <filters> [out]" between a buffer source and a sink.
void BuildGraph(TCustomFFmpeg::TOutputStream& ost, const AVFrame* frame, AVRational tb) {
    FF.avfilter_graph_free(&ost.graph);
    ost.graph = FF.avfilter_graph_alloc();
    if (!ost.graph)
        FFRaise("Error opening filters!");
    char args[512];
    const AVRational sar =
        frame->sample_aspect_ratio.num ? frame->sample_aspect_ratio : AVRational{1, 1};
    snprintf(args, sizeof args, "video_size=%dx%d:pix_fmt=%d:time_base=%d/%d:pixel_aspect=%d/%d",
             frame->width, frame->height, frame->format, tb.num, tb.den, sar.num, sar.den);
    int ret = FF.avfilter_graph_create_filter(&ost.buffersrc, FF.avfilter_get_by_name("buffer"),
                                              "in", args, nullptr, ost.graph);
    if (ret >= 0)
        ret =
            FF.avfilter_graph_create_filter(&ost.buffersink, FF.avfilter_get_by_name("buffersink"),
                                            "out", nullptr, nullptr, ost.graph);
    if (ret >= 0) {
        const AVPixelFormat fmts[] = {ost.enc->pix_fmt, AV_PIX_FMT_NONE};
        ret = FF.av_opt_set_bin(ost.buffersink, "pix_fmts", reinterpret_cast<const uint8_t*>(fmts),
                                sizeof(fmts[0]), AV_OPT_SEARCH_CHILDREN);
    }
    if (ret >= 0) {
        AVFilterInOut* outputs = FF.avfilter_inout_alloc();
        AVFilterInOut* inputs = FF.avfilter_inout_alloc();
        outputs->name = FF.av_strdup("in");
        outputs->filter_ctx = ost.buffersrc;
        inputs->name = FF.av_strdup("out");
        inputs->filter_ctx = ost.buffersink;
        const QByteArray text = Utf8(ost.filters);
        ret = FF.avfilter_graph_parse_ptr(ost.graph, text.constData(), &inputs, &outputs, nullptr);
        FF.avfilter_inout_free(&inputs);
        FF.avfilter_inout_free(&outputs);
    }
    if (ret >= 0)
        ret = FF.avfilter_graph_config(ost.graph, nullptr);
    if (ret < 0)
        FFRaise("Error opening filters: %s", Utf8(AVErrorText(ret)).constData());
    ost.graph_w = frame->width;
    ost.graph_h = frame->height;
    ost.graph_fmt = frame->format;
    if (!ost.filtered)
        ost.filtered = FF.av_frame_alloc();
}

} // namespace

void TCustomFFmpeg::DoVideoOut(TOutputStream& ost, TInputStream& ist, AVFrame* frame, int64_t pts) {
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
    if (ost.filters.isEmpty()) {
        DoVideoSync(ost, ist, frame, pts);
        return;
    }
    if (!ost.graph || ost.graph_w != frame->width || ost.graph_h != frame->height ||
        ost.graph_fmt != frame->format)
        BuildGraph(ost, frame, AV_TIME_BASE_Q);
    AVFrame* ref = FF.av_frame_clone(frame);
    ref->pts = pts;
    const int ret = FF.av_buffersrc_add_frame(ost.buffersrc, ref);
    FF.av_frame_free(&ref);
    if (ret < 0)
        FFRaise("Error opening filters: %s", Utf8(AVErrorText(ret)).constData());
    const AVRational sinkTb = FF.av_buffersink_get_time_base(ost.buffersink);
    while (FF.av_buffersink_get_frame(ost.buffersink, ost.filtered) >= 0) {
        const int64_t out = ost.filtered->pts == AV_NOPTS_VALUE
                                ? pts
                                : FF.av_rescale_q(ost.filtered->pts, sinkTb, AV_TIME_BASE_Q);
        DoVideoSync(ost, ist, ost.filtered, out);
        FF.av_frame_unref(ost.filtered);
    }
}

void TCustomFFmpeg::DoVideoSync(TOutputStream& ost, TInputStream& ist, AVFrame* frame,
                                int64_t pts) {
    const TOutputFile& of = *FOutputFiles[size_t(ost.file_index)];
    AVCodecContext* enc = ost.enc;
    const double syncIpts = double(pts - of.start_time) / AV_TIME_BASE / av_q2d(enc->time_base);
    int nbFrames = 1;
    if (ost.sync_method) {
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
            if (Verbose > 2)
                FFLogger().Log(nullptr, llVerbose, "*** drop!");
        } else if (nbFrames > 1) {
            FDupFrames += nbFrames - 1;
            if (Verbose > 2)
                FFLogger().Log(nullptr, llVerbose, "*** %d dup!", nbFrames - 1);
        }
    } else {
        ost.sync_opts = llrint(syncIpts);
    }
    nbFrames = std::min(nbFrames, ost.max_frames - ost.frame_number);
    if (nbFrames <= 0)
        return;

    // scale to the encoder's size and format
    AVFrame* picture = frame;
    if (frame->width != enc->width || frame->height != enc->height ||
        frame->format != enc->pix_fmt) {
        ost.sws = FF.sws_getCachedContext(
            ost.sws, frame->width, frame->height, AVPixelFormat(frame->format), enc->width,
            enc->height, enc->pix_fmt,
            YuvScalerFlags(AVPixelFormat(frame->format), frame->width, frame->height, enc->pix_fmt,
                           enc->width, enc->height, SWS_BICUBIC),
            nullptr, nullptr, nullptr);
        if (!ost.sws)
            FFRaise("Cannot get resampling context");
        if (!ost.scaled) {
            ost.scaled = FF.av_frame_alloc();
            ost.scaled->width = enc->width;
            ost.scaled->height = enc->height;
            ost.scaled->format = enc->pix_fmt;
            if (FF.av_frame_get_buffer(ost.scaled, 0) < 0)
                FFRaise("Cannot allocate temp picture, check pix fmt");
        }
        if (FF.av_frame_make_writable(ost.scaled) < 0)
            FFRaise("Cannot allocate temp picture, check pix fmt");
        if (!ConvertToYuv420(frame, ost.scaled))
            FF.sws_scale(ost.sws, frame->data, frame->linesize, 0, frame->height, ost.scaled->data,
                         ost.scaled->linesize);
        picture = ost.scaled;
    }
    for (int i = 0; i < nbFrames && !FBroken; ++i) {
        const int frameNumber = ost.frame_number + 1;
        const int64_t outPts =
            FF.av_rescale_q(ost.sync_opts, enc->time_base, AV_TIME_BASE_Q) + of.start_time;
        AVFrame* out = OutputProcessing(ost, picture, frameNumber, outPts);
        PostHookProcessing(ost, out, frameNumber, outPts);
        AVFrame* encFrame = FF.av_frame_clone(out);
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
        try {
            EncodeFrame(ost, encFrame);
        } catch (...) {
            FF.av_frame_free(&encFrame);
            throw;
        }
        FF.av_frame_free(&encFrame);
        ++ost.sync_opts;
        ++ost.frame_number;
    }
}

void TCustomFFmpeg::ProcessAudio(TInputStream& ist, AVFrame* frame) {
    TakeFrameTime(ist, frame);
    if (frame->sample_rate > 0)
        ist.next_pts = ist.pts + FF.av_rescale(frame->nb_samples, AV_TIME_BASE, frame->sample_rate);
    CallAudioHook(ist, frame);
    if (FAudioVolume != 256 && FF.av_frame_make_writable(frame) >= 0) {
        const int channels = frame->ch_layout.nb_channels;
        const bool planar = FF.av_sample_fmt_is_planar(AVSampleFormat(frame->format));
        const int planes = planar ? channels : 1;
        const int count = planar ? frame->nb_samples : frame->nb_samples * channels;
        const AVSampleFormat packed = FF.av_get_packed_sample_fmt(AVSampleFormat(frame->format));
        for (int p = 0; p < planes; ++p) {
            uint8_t* data = frame->extended_data[p];
            for (int i = 0; i < count; ++i) {
                switch (packed) {
                case AV_SAMPLE_FMT_S16: {
                    auto* s = reinterpret_cast<int16_t*>(data) + i;
                    // (s * volume + 128) / 256, rounding toward minus infinity
                    const int v = (int(*s) * FAudioVolume + 128) >> 8;
                    *s = int16_t(std::clamp(v, -32768, 32767));
                    break;
                }
                case AV_SAMPLE_FMT_FLT: {
                    auto* s = reinterpret_cast<float*>(data) + i;
                    *s = *s * float(FAudioVolume) / 256.0f;
                    break;
                }
                case AV_SAMPLE_FMT_DBL: {
                    auto* s = reinterpret_cast<double*>(data) + i;
                    *s = *s * FAudioVolume / 256.0;
                    break;
                }
                case AV_SAMPLE_FMT_S32: {
                    auto* s = reinterpret_cast<int32_t*>(data) + i;
                    const int64_t v = (int64_t(*s) * FAudioVolume + 128) >> 8;
                    *s = int32_t(std::clamp<int64_t>(v, INT32_MIN, INT32_MAX));
                    break;
                }
                default:
                    break;
                }
            }
        }
    }
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

void TCustomFFmpeg::DoAudioOut(TOutputStream& ost, TInputStream& ist, AVFrame* frame) {
    const TOutputFile& of = *FOutputFiles[size_t(ost.file_index)];
    if (of.start_time && ist.pts < of.start_time)
        return;
    AVCodecContext* enc = ost.enc;
    if (!ost.swr || ost.swr_rate != frame->sample_rate || ost.swr_fmt != frame->format ||
        FF.av_channel_layout_compare(&ost.swr_layout, &frame->ch_layout)) {
        FF.swr_free(&ost.swr);
        AVChannelLayout inLayout{};
        if (frame->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC)
            FF.av_channel_layout_default(&inLayout, frame->ch_layout.nb_channels);
        else
            FF.av_channel_layout_copy(&inLayout, &frame->ch_layout);
        int ret = FF.swr_alloc_set_opts2(&ost.swr, &enc->ch_layout, enc->sample_fmt,
                                         enc->sample_rate, &inLayout, AVSampleFormat(frame->format),
                                         frame->sample_rate, 0, nullptr);
        FF.av_channel_layout_uninit(&inLayout);
        if (ret >= 0)
            ret = FF.swr_init(ost.swr);
        if (ret < 0)
            FFRaise("Can not resample %d channels @ %d Hz to %d channels @ %d Hz",
                    frame->ch_layout.nb_channels, frame->sample_rate, enc->ch_layout.nb_channels,
                    enc->sample_rate);
        ost.swr_rate = frame->sample_rate;
        ost.swr_fmt = frame->format;
        FF.av_channel_layout_uninit(&ost.swr_layout);
        FF.av_channel_layout_copy(&ost.swr_layout, &frame->ch_layout);
    }
    const int outMax = FF.swr_get_out_samples(ost.swr, frame->nb_samples);
    uint8_t** converted = nullptr;
    int linesize = 0;
    if (FF.av_samples_alloc_array_and_samples(&converted, &linesize, enc->ch_layout.nb_channels,
                                              std::max(outMax, 1), enc->sample_fmt, 0) < 0)
        FFRaise("Out of memory in do_audio_out");
    struct TFreeSamples {
        uint8_t**& p;
        ~TFreeSamples() {
            if (p)
                FF.av_freep(&p[0]);
            FF.av_freep(&p);
        }
    } freeSamples{converted};
    int count =
        FF.swr_convert(ost.swr, converted, outMax,
                       const_cast<const uint8_t**>(frame->extended_data), frame->nb_samples);
    if (count < 0)
        FFRaise("av_audio_convert() failed");

    const int rate = enc->sample_rate;
    const int64_t queued = FF.av_audio_fifo_size(ost.fifo);
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
    if (FAudioSyncMethod) {
        if (std::fabs(delta) > 50) {
            if (ist.is_start || std::fabs(delta) > FAudioDriftThreshold * rate) {
                if (delta < 0) {
                    skip = int(std::min<double>(-delta, count));
                    if (Verbose > 2)
                        FFLogger().Log(nullptr, llVerbose, "discarding %d audio samples",
                                       int(-delta));
                } else {
                    if (Verbose > 2)
                        FFLogger().Log(nullptr, llVerbose, "adding %d audio samples of silence",
                                       int(delta));
                    QueueSilence(ost, int64_t(delta));
                }
            } else if (FAudioSyncMethod > 1) {
                const int comp =
                    int(std::clamp<double>(delta, -FAudioSyncMethod, FAudioSyncMethod));
                if (Verbose > 2)
                    FFLogger().Log(nullptr, llVerbose,
                                   "compensating audio timestamp drift:%f compensation:%d in:%d",
                                   delta, comp, rate);
                FF.swr_set_compensation(ost.swr, comp, rate);
            }
        }
    } else if (delta > FAudioDriftThreshold * rate) {
        // Without sync the samples are timed by their count alone, so the times only go
        // forward and the whole input is kept however its timestamps jitter; a real gap
        // in the input (beyond the drift threshold) becomes silence, so what follows it
        // keeps its place.
        QueueSilence(ost, int64_t(delta));
    }
    if (count > skip) {
        const int bps = FF.av_get_bytes_per_sample(enc->sample_fmt);
        const bool planar = FF.av_sample_fmt_is_planar(enc->sample_fmt);
        void* planes[AV_NUM_DATA_POINTERS] = {};
        const int nbPlanes = planar ? enc->ch_layout.nb_channels : 1;
        for (int p = 0; p < nbPlanes && p < 64; ++p)
            planes[p] =
                converted[p] + size_t(skip) * bps * (planar ? 1 : enc->ch_layout.nb_channels);
        if (nbPlanes > AV_NUM_DATA_POINTERS)
            FFRaise("Buffer sizes too large in do_audio_out");
        if (FF.av_audio_fifo_write(ost.fifo, planes, count - skip) < count - skip)
            FFRaise("av_fifo_realloc2() failed");
    }
    DrainAudioFifo(ost, false);
}

void TCustomFFmpeg::QueueSilence(TOutputStream& ost, int64_t samples) {
    AVCodecContext* enc = ost.enc;
    const int chunk = std::max(enc->sample_rate, 1024); // a second at a time: memory stays small
    uint8_t** zeros = nullptr;
    int linesize = 0;
    if (samples <= 0 ||
        FF.av_samples_alloc_array_and_samples(&zeros, &linesize, enc->ch_layout.nb_channels, chunk,
                                              enc->sample_fmt, 0) < 0)
        return;
    FF.av_samples_set_silence(zeros, 0, chunk, enc->ch_layout.nb_channels, enc->sample_fmt);
    for (int64_t left = samples; left > 0;) {
        const int n = int(std::min<int64_t>(left, chunk));
        if (FF.av_audio_fifo_write(ost.fifo, reinterpret_cast<void**>(zeros), n) < n)
            break;
        left -= n;
        if (left > 0)
            DrainAudioFifo(ost, false);
    }
    FF.av_freep(&zeros[0]);
    FF.av_freep(&zeros);
}

void TCustomFFmpeg::DrainAudioFifo(TOutputStream& ost, bool flush) {
    AVCodecContext* enc = ost.enc;
    while (true) {
        const int available = FF.av_audio_fifo_size(ost.fifo);
        int take = ost.frame_size > 0 ? ost.frame_size : available;
        if (available <= 0 || (available < take && !flush))
            return;
        AVFrame* frame = ost.audio_frame;
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
        if (FF.av_audio_fifo_read(ost.fifo, reinterpret_cast<void**>(frame->extended_data), got) <
            got)
            FFRaise("Internal error, buffer size too small");
        frame->pts = ost.sync_opts;
        ost.sync_opts += frame->nb_samples;
        EncodeFrame(ost, frame);
        ++ost.frame_number;
    }
}

void TCustomFFmpeg::DoStreamCopy(TOutputStream& ost, TInputStream& ist, AVPacket* pkt) {
    const TOutputFile& of = *FOutputFiles[size_t(ost.file_index)];
    if (ost.frame_number == 0 && !(pkt->flags & AV_PKT_FLAG_KEY) && !FCopyInitialNonKeyframes &&
        ost.type == AVMEDIA_TYPE_VIDEO)
        return;
    if (of.start_time && ist.pts < of.start_time)
        return;
    AVPacket* out = ost.pkt;
    FF.av_packet_unref(out);
    FF.av_packet_ref(out, pkt);
    const int64_t shift = FF.av_rescale_q(of.start_time, AV_TIME_BASE_Q, ist.st->time_base);
    if (out->pts != AV_NOPTS_VALUE)
        out->pts -= shift;
    if (out->dts != AV_NOPTS_VALUE)
        out->dts -= shift;
    FF.av_packet_rescale_ts(out, ist.st->time_base, ost.st->time_base);
    ost.copy_time = ist.pts - of.start_time;
    ++ost.frame_number;
    out->stream_index = ost.index;
    WritePacket(ost, out);
}

void TCustomFFmpeg::EncodeFrame(TOutputStream& ost, AVFrame* frame) {
    const bool video = ost.type == AVMEDIA_TYPE_VIDEO;
    int ret = FF.avcodec_send_frame(ost.enc, frame);
    if (ret < 0 && ret != AVERROR_EOF)
        FFRaise(video ? "Video encoding failed" : "Audio encoding failed");
    while ((ret = FF.avcodec_receive_packet(ost.enc, ost.pkt)) >= 0) {
        if (video) {
            size_t size = 0;
            const uint8_t* stats =
                FF.av_packet_get_side_data(ost.pkt, AV_PKT_DATA_QUALITY_STATS, &size);
            ost.last_quality = stats && size >= 4 ? float(AV_RL32(stats)) : -1;
        }
        FF.av_packet_rescale_ts(ost.pkt, ost.enc->time_base, ost.st->time_base);
        if (!video)
            ShiftNegativeStart(ost, ost.pkt);
        ost.pkt->stream_index = ost.index;
        WritePacket(ost, ost.pkt);
    }
    if (ret != AVERROR(EAGAIN) && ret != AVERROR_EOF)
        FFRaise(video ? "Video encoding failed" : "Audio encoding failed");
}

void TCustomFFmpeg::ShiftNegativeStart(TOutputStream& ost, AVPacket* pkt) {
    // A sound encoder with a priming delay (MP3) starts before zero. A writer that cannot
    // store negative times would shift every stream to make up for it, and in an AVI,
    // whose pictures are timed by their count, every picture after the first would come
    // one picture-time late. The sound's own times move instead: such a file times its
    // sound by the sample count anyway.
    if (!ost.ts_shift_known) {
        ost.ts_shift_known = true;
        const AVFormatContext* ctx = FOutputFiles[size_t(ost.file_index)]->ctx;
        const int64_t first = pkt->dts != AV_NOPTS_VALUE ? pkt->dts : pkt->pts;
        if (!(ctx->oformat->flags & AVFMT_TS_NEGATIVE) && first != AV_NOPTS_VALUE && first < 0)
            ost.ts_shift = -first;
    }
    if (ost.ts_shift) {
        if (pkt->pts != AV_NOPTS_VALUE)
            pkt->pts += ost.ts_shift;
        if (pkt->dts != AV_NOPTS_VALUE)
            pkt->dts += ost.ts_shift;
    }
}

void TCustomFFmpeg::WritePacket(TOutputStream& ost, AVPacket* pkt) {
    TOutputFile& of = *FOutputFiles[size_t(ost.file_index)];
    const int size = pkt->size;
    if (ost.type == AVMEDIA_TYPE_VIDEO)
        FVideoSize += size;
    else if (ost.type == AVMEDIA_TYPE_AUDIO)
        FAudioSize += size;
    ost.bytes += size;
    if (pkt->dts != AV_NOPTS_VALUE)
        ost.last_mux_dts = pkt->dts;
    struct TMuxing {
        bool& Flag;
        ~TMuxing() { Flag = false; }
    } muxing{FMuxing = true};
    if (!ost.bsfs.empty()) {
        for (AVBSFContext* bsf : ost.bsfs) {
            if (FF.av_bsf_send_packet(bsf, pkt) < 0)
                break;
            while (FF.av_bsf_receive_packet(bsf, pkt) >= 0) {
                pkt->stream_index = ost.index;
                Mux(of, pkt);
            }
        }
        return;
    }
    Mux(of, pkt);
}

void TCustomFFmpeg::Mux(const TOutputFile& of, AVPacket* pkt) {
    int ret = FF.av_interleaved_write_frame(of.ctx, pkt);
    // The muxer hands its bytes to a buffered writer that keeps a failed write to
    // itself: look there too, or a full disk would go unnoticed until the trailer.
    if (ret >= 0 && of.ctx->pb && of.ctx->pb->error < 0)
        ret = of.ctx->pb->error;
    if (ret < 0)
        RaiseWriteError(of, ret);
}

void TCustomFFmpeg::RaiseWriteError(const TOutputFile& of, int error) {
    FOutputFailed = true;
    FFRaise("%s", Utf8(FFErrorText(of.name, error)).constData());
}

void TCustomFFmpeg::FlushResampler(TOutputStream& ost) {
    // The resampler holds back the last few samples of the input until it is flushed.
    if (!ost.swr || !ost.fifo)
        return;
    AVCodecContext* enc = ost.enc;
    const int outMax = FF.swr_get_out_samples(ost.swr, 0);
    uint8_t** rest = nullptr;
    int linesize = 0;
    if (outMax <= 0 ||
        FF.av_samples_alloc_array_and_samples(&rest, &linesize, enc->ch_layout.nb_channels, outMax,
                                              enc->sample_fmt, 0) < 0)
        return;
    const int count = FF.swr_convert(ost.swr, rest, outMax, nullptr, 0);
    if (count > 0)
        FF.av_audio_fifo_write(ost.fifo, reinterpret_cast<void**>(rest), count);
    FF.av_freep(&rest[0]);
    FF.av_freep(&rest);
}

void TCustomFFmpeg::FlushEncoders() {
    for (auto& ostPtr : FOutputStreams) {
        TOutputStream& ost = *ostPtr;
        if (!ost.encoder_opened)
            continue;
        if (ost.type == AVMEDIA_TYPE_AUDIO) {
            FlushResampler(ost);
            DrainAudioFifo(ost, true);
        }
        if (ost.type == AVMEDIA_TYPE_VIDEO || ost.type == AVMEDIA_TYPE_AUDIO) {
            if (ost.type == AVMEDIA_TYPE_AUDIO && ost.frame_number == 0)
                continue;
            EncodeFrame(ost, nullptr);
        }
    }
}
