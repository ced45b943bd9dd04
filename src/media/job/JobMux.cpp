// Outputs: opening them and their streams, headers, the way every packet is written
// (bit-stream filters, interleaving, failed writes), stream copy, and the trailers.

#include "media/job/JobState.h"

#include "media/FFLog.h"
#include "media/InterruptCB.h"

namespace {

// Clears the flag when the write it guards has ended, also by an exception.
struct TMuxing {
    bool& Flag;
    ~TMuxing() { Flag = false; }
};

} // namespace

// ---------------------------------------------------------------------------------------
// opening

int TJob::OpenOutput(const QString& fileName, bool join) {
    if (FJoinMode) {
        FLastErrMsg = QStringLiteral("Cannot join more than one output file.");
        return -1;
    }
    if (int(FOutputFiles.size()) >= FMaxFiles) {
        FLastErrMsg = QStringLiteral("Too many output files.");
        return -1;
    }
    const QByteArray name = Utf8(fileName);
    AVFormatContext* raw = nullptr;
    const QByteArray forced = Utf8(FForceFormat);
    const int ret = FF.avformat_alloc_output_context2(
        &raw, nullptr, FForceFormat.isEmpty() ? nullptr : forced.constData(), name.constData());
    TFormatContextPtr oc(raw);
    if (ret < 0 || !oc) {
        FLastErrMsg = FFErrorText(fileName, ret < 0 ? ret : AVERROR(EINVAL));
        ResetOutputOptions();
        return -1;
    }
    oc->interrupt_callback = EngineInterruptCB();
    auto file = std::make_unique<TOutputFile>();
    file->ctx = std::move(oc);
    file->name = fileName;
    file->ost_index = int(FOutputStreams.size());
    file->recording_time = FRecordingTime;
    file->start_time = FStartTime;
    file->limit_filesize = FLimitFilesize;
    file->video_sync_method = FVideoSyncMethod;
    FOutputFiles.push_back(std::move(file));
    TOutputFile& of = *FOutputFiles.back();

    auto fail = [&](const QString& message) {
        FLastErrMsg = message;
        DropLastOutput();
        ResetOutputOptions();
        return -1;
    };
    bool want[AVMEDIA_TYPE_NB] = {};
    WantedStreams(of.ctx->oformat, want);
    for (AVMediaType type :
         {AVMEDIA_TYPE_VIDEO, AVMEDIA_TYPE_AUDIO, AVMEDIA_TYPE_SUBTITLE, AVMEDIA_TYPE_DATA}) {
        if (!want[type])
            continue;
        try {
            CreateStream(of, type);
        } catch (const std::exception& error) {
            return fail(QStringLiteral("new_%1_stream fail: %2")
                            .arg(QLatin1String(MediaName(type)), QString::fromUtf8(error.what())));
        }
    }
    SetOutputMetadata(of.ctx.get());
    if ((of.ctx->oformat->flags & AVFMT_NEEDNUMBER) &&
        !FF.av_filename_number_test(name.constData()))
        return fail(FFErrorText(fileName, AVERROR(EINVAL)));
    if (const int error = OpenOutputFile(of, name); error < 0)
        return fail(FFErrorText(fileName, error));
    of.ctx->max_delay = int(FMuxMaxDelay * AV_TIME_BASE + 0.5f);
    FOptions.ApplyToFormat(of.ctx.get());
    const int count = int(FOutputFiles.size());
    ResetOutputOptions();
    if (join && FInputFiles.size() > 1)
        FJoinMode = true;
    return count;
}

void TJob::WantedStreams(const AVOutputFormat* ofmt, bool want[AVMEDIA_TYPE_NB]) const {
    want[AVMEDIA_TYPE_VIDEO] =
        ofmt->video_codec != AV_CODEC_ID_NONE || !FCodecName[AVMEDIA_TYPE_VIDEO].isEmpty();
    want[AVMEDIA_TYPE_AUDIO] =
        ofmt->audio_codec != AV_CODEC_ID_NONE || !FCodecName[AVMEDIA_TYPE_AUDIO].isEmpty();
    want[AVMEDIA_TYPE_SUBTITLE] =
        ofmt->subtitle_codec != AV_CODEC_ID_NONE || !FCodecName[AVMEDIA_TYPE_SUBTITLE].isEmpty();
    want[AVMEDIA_TYPE_DATA] = !FCodecName[AVMEDIA_TYPE_DATA].isEmpty();
    // only kinds the inputs have
    if (!FInputStreams.empty()) {
        bool has[AVMEDIA_TYPE_NB] = {};
        for (const auto& ist : FInputStreams) {
            const int t = ist->st->codecpar->codec_type;
            if (t >= 0 && t < AVMEDIA_TYPE_NB)
                has[t] = true;
        }
        for (int t = 0; t < AVMEDIA_TYPE_NB; ++t)
            want[t] = want[t] && has[t];
    }
    for (int t = 0; t < AVMEDIA_TYPE_NB; ++t)
        if (FDisable[t])
            want[t] = false;
}

void TJob::SetOutputMetadata(AVFormatContext* oc) {
    if (FRecordingTimestamp) {
        char buf[64];
        const time_t t = time_t(FRecordingTimestamp / 1000000);
        struct tm tm;
        gmtime_r(&t, &tm);
        strftime(buf, sizeof buf, "%Y-%m-%dT%H:%M:%S.000000Z", &tm);
        FF.av_dict_set(&oc->metadata, "creation_time", buf, 0);
    }
    for (const auto& [key, value] : FMetadata)
        FF.av_dict_set(&oc->metadata, Utf8(key).constData(), Utf8(value).constData(), 0);
}

int TJob::OpenOutputFile(TOutputFile& of, const QByteArray& name) {
    AVFormatContext* oc = of.ctx.get();
    if (oc->oformat->flags & AVFMT_NOFILE)
        return 0;
    TInterruptRegistration registration(this, &OpenInterruptProc);
    FOpenCancelled = false;
    FLastRead = JobNow();
    AVIOInterruptCB cb = EngineInterruptCB();
    const int ret = FF.avio_open2(&oc->pb, name.constData(), AVIO_FLAG_WRITE, &cb, nullptr);
    FLastRead = INT64_MAX;
    if (ret < 0)
        return ret;
    // Every packet goes to the file as it is muxed: a write that fails (a full disk)
    // shows at once, and what was recorded before a crash is in the file.
    oc->flush_packets = 1;
    return 0;
}

void TJob::DropLastOutput() {
    // the streams first: they point into the output's context
    const TOutputFile& of = *FOutputFiles.back();
    FOutputStreams.erase(FOutputStreams.begin() + of.ost_index,
                         FOutputStreams.begin() + of.ost_index + of.nb_streams);
    FOutputFiles.pop_back();
}

TOutputStream* TJob::CreateStream(TOutputFile& of, AVMediaType type) {
    AVFormatContext* oc = of.ctx.get();
    auto ost = std::make_unique<TOutputStream>();
    ost->type = type;
    for (size_t i = 0; i < FOutputFiles.size(); ++i)
        if (FOutputFiles[i].get() == &of)
            ost->file_index = int(i);
    if (FCodecName[type] == QLatin1String("copy"))
        ost->stream_copy = true;
    else
        CreateEncoder(*ost, of, oc);
    ost->st = FF.avformat_new_stream(oc, nullptr);
    if (!ost->st)
        FFRaise("Could not alloc stream");
    ost->index = ost->st->index;
    ost->st->codecpar->codec_type = type;
    if (ost->codec) // known from here on; the encoder's full parameters follow at setup
        ost->st->codecpar->codec_id = ost->codec->id;
    SetStreamSettings(*ost, type);
    AddBitstreamFilters(*ost, type);
    ost->pkt.reset(FF.av_packet_alloc());
    if (!ost->pkt)
        FFRaise("av_mallocz fail");
    TOutputStream* result = ost.get();
    // keep the output's streams together in the table
    const int insertAt = of.ost_index + of.nb_streams;
    FOutputStreams.insert(FOutputStreams.begin() + insertAt, std::move(ost));
    ++of.nb_streams;
    for (auto& other : FOutputFiles)
        if (other.get() != &of && other->ost_index >= insertAt)
            ++other->ost_index;
    return result;
}

void TJob::SetStreamSettings(TOutputStream& ost, AVMediaType type) {
    ost.codec_tag = FCodecTag[type];
    ost.language = FLanguage[type];
    ost.max_frames = FMaxFrames[type];
    for (const auto& [index, value] : FStreamIds)
        if (index == ost.index)
            ost.st->id = value;
    if (type == AVMEDIA_TYPE_VIDEO) {
        ost.width = FFrameWidth;
        ost.height = FFrameHeight;
        ost.pix_fmt = FFramePixFmt;
        ost.frame_rate = FFrameRate;
        ost.aspect = FFrameAspectRatio;
        ost.qscale = FVideoQScale;
        ost.filters = FVideoFilters;
        ost.top_field_first = FTopFieldFirst;
        if (!FForceKeyFrames.isEmpty())
            for (const QString& t : FForceKeyFrames.split(QLatin1Char(','))) {
                int64_t us = 0;
                if (FF.av_parse_time(&us, Utf8(t).constData(), 1) >= 0)
                    ost.forced_kf_pts.push_back(us);
            }
        if (ost.enc)
            ApplyVideoEncoderOptions(ost);
    } else if (type == AVMEDIA_TYPE_AUDIO) {
        ost.sample_rate = FAudioSampleRate;
        ost.channels = FAudioChannels;
        ost.audio_qscale = FAudioQScale;
        ost.sample_fmt = FAudioSampleFmt;
    }
    if (ost.enc && FThreadCount != 1)
        ost.enc->thread_count = FThreadCount;
}

void TJob::AddBitstreamFilters(TOutputStream& ost, AVMediaType type) {
    for (const QString& bsfName : FBsf[type].split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        const AVBitStreamFilter* filter = FF.av_bsf_get_by_name(Utf8(bsfName).constData());
        AVBSFContext* bsf = nullptr;
        if (filter && FF.av_bsf_alloc(filter, &bsf) >= 0)
            ost.bsfs.emplace_back(bsf);
    }
}

void TJob::NewStream(AVMediaType type) {
    if (FOutputFiles.empty())
        FFRaise("No output file to add a %s stream to", MediaName(type));
    TOutputFile& of = *FOutputFiles.back();
    try {
        CreateStream(of, type);
    } catch (const std::exception& error) {
        FFRaise("new_%s_stream fail: %s", MediaName(type), error.what());
    }
    FCodecName[type].clear();
    FOptions.Clear();
}

void TJob::PrepareJoin() {
    if (!FJoinMode)
        return;
    int64_t total = 0;
    for (const auto& file : FInputFiles)
        if (file->duration != AV_NOPTS_VALUE)
            total += file->duration;
    FTotalOutputDuration = total > 0 ? total : -1;
    FJoinPart = 0;
}

// ---------------------------------------------------------------------------------------
// set-up

void TJob::CopyStreamParameters(TOutputStream& ost, const TInputStream& ist, AVFormatContext* oc) {
    const AVCodecParameters* par = ist.st->codecpar;
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
}

void TJob::CopyMetadata() {
    // the first input's global metadata, unless maps say otherwise
    for (auto& of : FOutputFiles) {
        if (FMetaDataMaps.empty() && !FInputFiles.empty())
            FF.av_dict_copy(&of->ctx->metadata, FInputFiles[0]->ctx->metadata,
                            AV_DICT_DONT_OVERWRITE);
        for (const TMetaDataMap& map : FMetaDataMaps) {
            if (map.FileIndex < 0)
                continue;
            if (map.FileIndex >= int(FInputFiles.size()))
                FFRaise("Invalid %s index %d while processing metadata maps", "input file",
                        map.FileIndex);
            FF.av_dict_copy(&of->ctx->metadata, FInputFiles[size_t(map.FileIndex)]->ctx->metadata,
                            AV_DICT_DONT_OVERWRITE);
        }
        FF.av_dict_set(&of->ctx->metadata, "encoder", nullptr, 0);
    }
    for (const auto& [in, out] : FChapterMaps) {
        if (in < 0 || in >= int(FInputFiles.size()))
            FFRaise("Invalid input file index %d in chapter mapping.", in);
        if (out < 0 || out >= int(FOutputFiles.size()))
            FFRaise("Invalid output file index %d in chapter mapping.", out);
    }
}

void TJob::WriteHeaders() {
    for (size_t i = 0; i < FOutputFiles.size(); ++i) {
        TOutputFile& of = *FOutputFiles[i];
        if (FF.avformat_write_header(of.ctx.get(), nullptr) < 0)
            FFRaise("Could not write header for output file #%d (incorrect codec parameters ?)",
                    int(i));
        of.header_written = true;
    }
}

// ---------------------------------------------------------------------------------------
// writing

void TJob::DoStreamCopy(TOutputStream& ost, TInputStream& ist, AVPacket* pkt) {
    const TOutputFile& of = *FOutputFiles[size_t(ost.file_index)];
    if (ost.frame_number == 0 && !(pkt->flags & AV_PKT_FLAG_KEY) && !FCopyInitialNonKeyframes &&
        ost.type == AVMEDIA_TYPE_VIDEO)
        return;
    if (of.start_time && ist.pts < of.start_time)
        return;
    AVPacket* out = ost.pkt.get();
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

void TJob::ShiftNegativeStart(TOutputStream& ost, AVPacket* pkt) {
    // A sound encoder with a priming delay (MP3) starts before zero. A writer that cannot
    // store negative times would shift every stream to make up for it, and in an AVI,
    // whose pictures are timed by their count, every picture after the first would come
    // one picture-time late. The sound's own times move instead: such a file times its
    // sound by the sample count anyway.
    if (!ost.ts_shift_known) {
        ost.ts_shift_known = true;
        const AVFormatContext* ctx = FOutputFiles[size_t(ost.file_index)]->ctx.get();
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

void TJob::WritePacket(TOutputStream& ost, AVPacket* pkt) {
    TOutputFile& of = *FOutputFiles[size_t(ost.file_index)];
    const int size = pkt->size;
    if (ost.type == AVMEDIA_TYPE_VIDEO)
        FVideoSize += size;
    else if (ost.type == AVMEDIA_TYPE_AUDIO)
        FAudioSize += size;
    ost.bytes += size;
    if (pkt->dts != AV_NOPTS_VALUE)
        ost.last_mux_dts = pkt->dts;
    TMuxing muxing{FMuxing = true};
    if (!ost.bsfs.empty()) {
        for (TBSFContextPtr& bsf : ost.bsfs) {
            if (FF.av_bsf_send_packet(bsf.get(), pkt) < 0)
                break;
            while (FF.av_bsf_receive_packet(bsf.get(), pkt) >= 0) {
                pkt->stream_index = ost.index;
                Mux(of, pkt);
            }
        }
        return;
    }
    Mux(of, pkt);
}

void TJob::Mux(const TOutputFile& of, AVPacket* pkt) {
    AVFormatContext* oc = of.ctx.get();
    int ret = FF.av_interleaved_write_frame(oc, pkt);
    // The muxer hands its bytes to a buffered writer that keeps a failed write to
    // itself: look there too, or a full disk would go unnoticed until the trailer.
    if (ret >= 0 && oc->pb && oc->pb->error < 0)
        ret = oc->pb->error;
    if (ret < 0)
        RaiseWriteError(of, ret);
}

void TJob::RaiseWriteError(const TOutputFile& of, int error) {
    FOutputFailed = true;
    FFRaise("%s", Utf8(FFErrorText(of.name, error)).constData());
}

void TJob::WriteTrailers() {
    // Every output gets its trailer; the first that fails is reported afterwards.
    const TOutputFile* failed = nullptr;
    int failure = 0;
    for (size_t i = 0; i < FOutputFiles.size(); ++i) {
        TOutputFile& of = *FOutputFiles[i];
        if (!of.header_written || (FJoinMode && i != 0))
            continue;
        AVFormatContext* oc = of.ctx.get();
        int ret = FF.av_write_trailer(oc);
        // Some muxers return a positive count from their trailer, which hides an
        // error of the file's own writes; everything buffered is pushed out and the
        // file's error state decides.
        if (ret >= 0 && oc->pb) {
            FF.avio_flush(oc->pb);
            ret = oc->pb->error;
        }
        if (ret < 0 && !failed)
            failed = &of, failure = ret;
    }
    if (failed)
        RaiseWriteError(*failed, failure);
}
