// Inputs: opening them with the pending options, reading their packets, and the time
// stamps of what was read (offsets, scales, jumps).

#include "media/job/JobState.h"

#include "media/FFLog.h"
#include "media/InputFormats.h"
#include "media/InterruptCB.h"

namespace {

// The open-time watch of an input or output: registers the job's interrupt check and
// starts the read clock; the destructor stops the clock and unregisters.
class TOpenWatch {
public:
    explicit TOpenWatch(TJob& job) : FJob(job), FRegistration(&job, &TJob::OpenInterruptProc) {
        job.FOpenCancelled = false;
        job.FLastRead = JobNow();
    }
    ~TOpenWatch() { FJob.FLastRead = INT64_MAX; }
    TOpenWatch(const TOpenWatch&) = delete;
    TOpenWatch& operator=(const TOpenWatch&) = delete;

private:
    TJob& FJob;
    TInterruptRegistration FRegistration;
};

// The tool's format parameters, for demuxers that take them, and the generic options
// meant for formats.
void FormatParameters(const TJob& job, AVDictionary** dict) {
    if (job.FAudioSampleRate > 0)
        FF.av_dict_set_int(dict, "sample_rate", job.FAudioSampleRate, 0);
    if (job.FAudioChannels > 0)
        FF.av_dict_set_int(dict, "channels", job.FAudioChannels, 0);
    const AVRational rate = job.FFrameRate;
    if (rate.num > 0 && rate.den > 0)
        FF.av_dict_set(dict, "framerate",
                       Utf8(QStringLiteral("%1/%2").arg(rate.num).arg(rate.den)).constData(), 0);
    if (job.FFrameWidth > 0 && job.FFrameHeight > 0)
        FF.av_dict_set(
            dict, "video_size",
            Utf8(QStringLiteral("%1x%2").arg(job.FFrameWidth).arg(job.FFrameHeight)).constData(),
            0);
    if (job.FFramePixFmt != AV_PIX_FMT_NONE)
        FF.av_dict_set(dict, "pixel_format", FF.av_get_pix_fmt_name(job.FFramePixFmt), 0);
    if (!job.FTvStd.isEmpty())
        FF.av_dict_set(dict, "standard", Utf8(job.FTvStd).constData(), 0);
    for (const TFFOption& option : job.FOptions.Items)
        if (option.Format || option.Private)
            FF.av_dict_set(dict, Utf8(option.Name).constData(), Utf8(option.Value).constData(), 0);
}

} // namespace

bool TJob::OpenInterruptProc(void* sender) {
    auto* job = static_cast<TJob*>(sender);
    if (job->FOwner.ReadTimeout <= 0)
        return false;
    const int64_t last = job->FLastRead;
    if (last == INT64_MAX || JobNow() - last <= int64_t(job->FOwner.ReadTimeout) * 1000)
        return false;
    // FFmpeg asks again and again while it gives up; say it once per open.
    if (job->FLastRead.exchange(INT64_MAX) != INT64_MAX)
        FFLogger().Log(nullptr, llInfo,
                       last == 0 ? "connecting/reading/writing canceled"
                                 : "connecting/reading/writing timeout");
    job->FOpenCancelled = true;
    return true;
}

bool TJob::OpenInput(const QString& fileName) {
    try {
        const bool opened = OpenAndProbe(fileName);
        ResetInputOptions();
        return opened;
    } catch (const std::exception& error) {
        FLastErrMsg = QString::fromUtf8(error.what());
        ResetInputOptions();
        return false;
    }
}

bool TJob::OpenAndProbe(const QString& fileName) {
    bool own = false;
    const AVInputFormat* fmt = nullptr;
    if (!FForceFormat.isEmpty()) {
        fmt = FindInputFormat(FForceFormat);
        if (!fmt)
            FFRaise("Unknown input format: \"%s\"", Utf8(FForceFormat).constData());
        own = IsOwnInputFormat(fmt);
        FForceFormat.clear();
    }
    TInputContextPtr ic(FF.avformat_alloc_context());
    if (!ic)
        FFRaise("avformat_alloc_context failed");
    ic->interrupt_callback = EngineInterruptCB();
    const AVCodec* forced[AVMEDIA_TYPE_NB] = {};
    for (AVMediaType type : {AVMEDIA_TYPE_VIDEO, AVMEDIA_TYPE_AUDIO, AVMEDIA_TYPE_SUBTITLE})
        if (!FCodecName[type].isEmpty() && FCodecName[type] != QLatin1String("copy"))
            forced[type] = FindCodec(FCodecName[type], type, false, FOptions.Strictness(type));

    int64_t timestamp = 0;
    {
        TOpenWatch watch(*this);
        if (!OpenInputContext(fileName, fmt, ic) || !SelectProgram(ic.get()))
            return false;
        if (FOwner.OnBeforeFindStreamInfo)
            FOwner.OnBeforeFindStreamInfo(&FOwner, ic.get());
        if (!FindStreamInfo(fileName, ic.get()))
            return false;
        timestamp = SeekToStart(fileName, ic.get());
    }
    AddInputFile(fileName, std::move(ic), own, forced, timestamp);
    return true;
}

bool TJob::OpenInputContext(const QString& fileName, const AVInputFormat* fmt,
                            TInputContextPtr& ic) {
    TDictionary dict;
    FormatParameters(*this, dict.Address());
    TInputParameters ap;
    ap.Width = FFrameWidth;
    ap.Height = FFrameHeight;
    if (FFrameRate.num > 0 && FFrameRate.den > 0)
        ap.TimeBase = av_inv_q(FFrameRate);
    // Own formats open no file: their option string is the url. The context is freed on
    // failure, also when an own format's header throws.
    AVFormatContext* raw = ic.release();
    const int ret = ::OpenInput(&raw, fileName, fmt, &ap, dict.Address());
    ic.reset(raw);
    if (ret < 0) {
        FLastErrMsg = FFErrorText(fileName, ret);
        return false;
    }
    return true;
}

bool TJob::SelectProgram(AVFormatContext* ic) {
    if (FProgramId <= 0)
        return true;
    const AVProgram* program = nullptr;
    for (unsigned i = 0; i < ic->nb_programs; ++i)
        if (ic->programs[i]->id == FProgramId && !program)
            program = ic->programs[i];
    if (!program) {
        FLastErrMsg = QStringLiteral("Specified program id not found");
        return false;
    }
    for (unsigned i = 0; i < ic->nb_streams; ++i)
        ic->streams[i]->discard = AVDISCARD_ALL;
    for (unsigned i = 0; i < ic->nb_programs; ++i)
        if (ic->programs[i]->id == FProgramId)
            for (unsigned j = 0; j < ic->programs[i]->nb_stream_indexes; ++j)
                ic->streams[ic->programs[i]->stream_index[j]]->discard = AVDISCARD_DEFAULT;
    return true;
}

bool TJob::FindStreamInfo(const QString& fileName, AVFormatContext* ic) {
    FLastRead = JobNow();
    const int ret = FF.avformat_find_stream_info(ic, nullptr);
    if (ret < 0 && FOwner.Verbose >= 0) {
        FLastErrMsg = QStringLiteral("%1: could not find codec parameters").arg(fileName);
        FFLogger().Log(nullptr, llVerbose, FLastErrMsg);
        return false;
    }
    return true;
}

int64_t TJob::SeekToStart(const QString& fileName, AVFormatContext* ic) {
    int64_t timestamp = FStartTime;
    if (ic->start_time != AV_NOPTS_VALUE)
        timestamp += ic->start_time;
    if (FStartTime != 0) {
        FLastRead = JobNow();
        const int ret = FF.avformat_seek_file(ic, -1, INT64_MIN, timestamp, timestamp, 0);
        if (ret < 0 && FOwner.Verbose > 0)
            FFLogger().Log(nullptr, llVerbose, "%s: could not seek to position %0.3f",
                           Utf8(fileName).constData(), double(timestamp) / AV_TIME_BASE);
    }
    return timestamp;
}

void TJob::AddInputFile(const QString& fileName, TInputContextPtr ic, bool own,
                        const AVCodec* const forced[], int64_t timestamp) {
    const int fileIndex = int(FInputFiles.size());
    std::vector<std::unique_ptr<TInputStream>> streams;
    for (unsigned i = 0; i < ic->nb_streams; ++i) {
        AVStream* st = ic->streams[i];
        auto ist = std::make_unique<TInputStream>();
        ist->file_index = fileIndex;
        ist->st = st;
        ist->discard = true;
        const AVMediaType type = st->codecpar->codec_type;
        switch (type) {
        case AVMEDIA_TYPE_VIDEO:
        case AVMEDIA_TYPE_AUDIO:
        case AVMEDIA_TYPE_SUBTITLE:
            ist->forced = forced[type];
            if (FDisable[type])
                st->discard = AVDISCARD_ALL;
            break;
        case AVMEDIA_TYPE_DATA:
        case AVMEDIA_TYPE_ATTACHMENT:
        case AVMEDIA_TYPE_UNKNOWN:
            break;
        default:
            FFRaise("invalid codec_type");
        }
        streams.push_back(std::move(ist));
    }
    auto file = std::make_unique<TInputFile>();
    file->own = own;
    file->name = fileName;
    file->ist_index = int(FInputStreams.size());
    file->nb_streams = int(ic->nb_streams);
    file->ts_scale = FPendingTsScale;
    file->ts_scale.resize(ic->nb_streams, 1.0);
    if (ic->duration != AV_NOPTS_VALUE && ic->duration > 0) {
        file->duration = ic->duration;
        FTotalOutputDuration = std::max(FTotalOutputDuration, ic->duration);
    }
    file->ts_offset = FCopyTs ? FInputTsOffset : FInputTsOffset - (FStartTime ? timestamp : 0);
    if (FStartTime == 0 && !FCopyTs && ic->start_time != AV_NOPTS_VALUE)
        file->ts_offset = FInputTsOffset - ic->start_time;
    if (FOwner.Verbose >= 0)
        FF.av_dump_format(ic.get(), fileIndex, Utf8(fileName).constData(), 0);
    file->ctx = std::move(ic);
    for (auto& ist : streams)
        FInputStreams.push_back(std::move(ist));
    FInputFiles.push_back(std::move(file));
}

// ---------------------------------------------------------------------------------------
// reading

int TJob::ReadPacket(TInputFile& file, AVPacket* pkt) {
    return FF.av_read_frame(file.ctx.get(), pkt);
}

void TJob::AdjustPacketTimes(TInputFile& file, TInputStream& ist, AVPacket* pkt) {
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
    if (pkt->dts == AV_NOPTS_VALUE || ist.next_pts == AV_NOPTS_VALUE || !file.ctx->iformat ||
        !(file.ctx->iformat->flags & AVFMT_TS_DISCONT) || FCopyTs)
        return;
    const int64_t dts = FF.av_rescale_q(pkt->dts, tb, AV_TIME_BASE_Q);
    const int64_t delta = dts - ist.next_pts;
    if (std::llabs(delta) > int64_t(FDtsDeltaThreshold * AV_TIME_BASE) || dts + 1 < ist.pts) {
        file.ts_offset -= delta;
        if (FOwner.Verbose > 2)
            FFLogger().Log(nullptr, llVerbose, "timestamp discontinuity %d, new offset= %d",
                           int(delta), int(file.ts_offset));
        const int64_t d = FF.av_rescale_q(delta, AV_TIME_BASE_Q, tb);
        pkt->dts -= d;
        if (pkt->pts != AV_NOPTS_VALUE)
            pkt->pts -= d;
    }
}
