#include "media/FFmpegInternal.h"

#include "media/FFLoad.h"
#include "media/FFLog.h"
#include "media/FrameHook.h"
#include "media/InputFormats.h"
#include "media/InterruptCB.h"
#include "media/MainThread.h"
#include "media/Previewer.h"

#include <QFileInfo>

#include <cstdarg>

namespace {

// Guards the closing of the codecs that jobs opened, across all jobs.
std::mutex GCodecListLock;

QByteArray Utf8(const QString& text) {
    return text.toUtf8();
}

const char* MediaName(AVMediaType type) {
    switch (type) {
    case AVMEDIA_TYPE_VIDEO:
        return "video";
    case AVMEDIA_TYPE_AUDIO:
        return "audio";
    case AVMEDIA_TYPE_SUBTITLE:
        return "subtitle";
    case AVMEDIA_TYPE_DATA:
        return "data";
    default:
        return "unknown";
    }
}

} // namespace

QString FFFormat(const char* format, ...) {
    va_list args;
    va_start(args, format);
    char small[1024];
    va_list copy;
    va_copy(copy, args);
    const int n = vsnprintf(small, sizeof small, format, copy);
    va_end(copy);
    QString result;
    if (n >= 0 && n < int(sizeof small)) {
        result = QString::fromUtf8(small, n);
    } else if (n >= 0) {
        QByteArray big(n + 1, '\0');
        vsnprintf(big.data(), big.size(), format, args);
        result = QString::fromUtf8(big.constData(), n);
    }
    va_end(args);
    return result;
}

void FFRaise(const char* format, ...) {
    va_list args;
    va_start(args, format);
    char buffer[4096];
    vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    throw FFmpegException(QString::fromUtf8(buffer));
}

int64_t JobNow() {
    return FF.av_gettime_relative ? FF.av_gettime_relative() : 0;
}

int64_t TCustomFFmpeg::TOutputStream::OutputTime() const {
    if (stream_copy || !enc)
        return copy_time;
    if (type == AVMEDIA_TYPE_VIDEO)
        return FF.av_rescale_q(sync_opts, enc->time_base, AV_TIME_BASE_Q);
    if (type == AVMEDIA_TYPE_AUDIO && enc->sample_rate > 0) {
        const int64_t queued = fifo ? FF.av_audio_fifo_size(fifo) : 0;
        return FF.av_rescale(sync_opts + queued, AV_TIME_BASE, enc->sample_rate);
    }
    return copy_time;
}

// ---------------------------------------------------------------------------------------
// creation

TCustomFFmpeg::TCustomFFmpeg(int AMaxFiles) : FMaxFiles(AMaxFiles) {
    FFAssert(AMaxFiles >= 1 && AMaxFiles <= 512, "MaxFiles must be 1 to 512");
    for (int& limit : FMaxFrames)
        limit = INT32_MAX;
    FHookChain = std::make_unique<TVideoHookChain>();
}

TCustomFFmpeg::~TCustomFFmpeg() {
    Stop(true);
    if (FWorker.joinable())
        FWorker.join();
    FreeAll();
    FHookChain.reset();
}

void TCustomFFmpeg::ResetInputOptions() {
    FTopFieldFirst = -1;
    FVideoChannel = 0;
    FFrameRate = {0, 0};
    FFramePixFmt = AV_PIX_FMT_NONE;
    FFrameWidth = FFrameHeight = 0;
    FAudioSampleRate = FAudioChannels = 0;
    for (QString& name : FCodecName)
        name.clear();
    FForceFormat.clear();
    FPendingTsScale.clear();
    FInputTsOffset = 0;
    FStartTime = 0;
    FOptions.Clear();
}

void TCustomFFmpeg::ResetOutputOptions() {
    FFrameRate = {0, 0};
    FFrameWidth = FFrameHeight = 0;
    FAudioSampleRate = FAudioChannels = 0;
    FForceKeyFrames.clear();
    FForceFormat.clear();
    FMetadata.clear();
    FStreamIds.clear();
    FOptions.Clear();
}

bool TCustomFFmpeg::OpenInterruptProc(void* sender) {
    auto* job = static_cast<TCustomFFmpeg*>(sender);
    if (job->ReadTimeout <= 0)
        return false;
    const int64_t last = job->FLastRead;
    if (last == INT64_MAX || JobNow() - last <= int64_t(job->ReadTimeout) * 1000)
        return false;
    // FFmpeg asks again and again while it gives up; say it once per open.
    if (job->FLastRead.exchange(INT64_MAX) != INT64_MAX)
        FFLogger().Log(nullptr, llInfo,
                       last == 0 ? "connecting/reading/writing canceled"
                                 : "connecting/reading/writing timeout");
    job->FOpenCancelled = true;
    return true;
}

bool TCustomFFmpeg::TranscodeInterruptProc(void* sender) {
    const auto* job = static_cast<TCustomFFmpeg*>(sender);
    return job->FBroken && !job->FMuxing;
}

bool TCustomFFmpeg::OpenInterrupted() {
    return FOpenCancelled;
}

// ---------------------------------------------------------------------------------------
// inputs

namespace {

// Closes an input context.
void CloseInputContext(AVFormatContext*& ic, bool opened) {
    if (!ic)
        return;
    if (opened)
        FF.avformat_close_input(&ic);
    else {
        FF.avformat_free_context(ic);
        ic = nullptr;
    }
}

} // namespace

bool TCustomFFmpeg::OpenInput(const QString& AFileName) {
    AVFormatContext* ic = nullptr;
    bool own = false;
    bool opened = false;
    std::unique_ptr<TInterruptRegistration> registration;
    try {
        const AVInputFormat* fmt = nullptr;
        if (!FForceFormat.isEmpty()) {
            const QByteArray name = Utf8(FForceFormat);
            fmt = FindInputFormat(FForceFormat);
            if (!fmt)
                FFRaise("Unknown input format: \"%s\"", name.constData());
            own = IsOwnInputFormat(fmt);
            FForceFormat.clear();
        }
        ic = FF.avformat_alloc_context();
        if (!ic)
            FFRaise("avformat_alloc_context failed");
        ic->interrupt_callback = EngineInterruptCB();

        // the tool's format parameters, for demuxers that take them
        AVDictionary* dict = nullptr;
        if (FAudioSampleRate > 0)
            FF.av_dict_set_int(&dict, "sample_rate", FAudioSampleRate, 0);
        if (FAudioChannels > 0)
            FF.av_dict_set_int(&dict, "channels", FAudioChannels, 0);
        if (FFrameRate.num > 0 && FFrameRate.den > 0)
            FF.av_dict_set(
                &dict, "framerate",
                Utf8(QStringLiteral("%1/%2").arg(FFrameRate.num).arg(FFrameRate.den)).constData(),
                0);
        if (FFrameWidth > 0 && FFrameHeight > 0)
            FF.av_dict_set(
                &dict, "video_size",
                Utf8(QStringLiteral("%1x%2").arg(FFrameWidth).arg(FFrameHeight)).constData(), 0);
        if (FFramePixFmt != AV_PIX_FMT_NONE)
            FF.av_dict_set(&dict, "pixel_format", FF.av_get_pix_fmt_name(FFramePixFmt), 0);
        if (!FTvStd.isEmpty())
            FF.av_dict_set(&dict, "standard", Utf8(FTvStd).constData(), 0);
        for (const TFFOption& option : FOptions.Items)
            if (option.Format || option.Private)
                FF.av_dict_set(&dict, Utf8(option.Name).constData(), Utf8(option.Value).constData(),
                               0);

        // forced decoders
        const AVCodec* forced[AVMEDIA_TYPE_NB] = {};
        for (AVMediaType type : {AVMEDIA_TYPE_VIDEO, AVMEDIA_TYPE_AUDIO, AVMEDIA_TYPE_SUBTITLE})
            if (!FCodecName[type].isEmpty() && FCodecName[type] != QLatin1String("copy"))
                forced[type] = FindCodec(FCodecName[type], type, false,
                                         FOptions.CodecOpts[type]->strict_std_compliance);

        registration = std::make_unique<TInterruptRegistration>(this, &OpenInterruptProc);
        FOpenCancelled = false;
        FLastRead = JobNow();
        const QByteArray url = Utf8(AFileName);
        int ret;
        TInputParameters ap;
        ap.Width = FFrameWidth;
        ap.Height = FFrameHeight;
        if (FFrameRate.num > 0 && FFrameRate.den > 0)
            ap.TimeBase = av_inv_q(FFrameRate);
        // Own formats open no file: their option string is the url.
        ret = ::OpenInput(&ic, AFileName, fmt, &ap, &dict); // frees ic on failure
        FF.av_dict_free(&dict);
        if (ret < 0) {
            FLastRead = INT64_MAX;
            registration.reset();
            FLastErrMsg = FFErrorText(AFileName, ret);
            ResetInputOptions();
            return false;
        }
        opened = true;

        if (FProgramId > 0) {
            bool found = false;
            for (unsigned i = 0; i < ic->nb_programs; ++i)
                if (ic->programs[i]->id == FProgramId)
                    found = true;
            if (!found) {
                FLastRead = INT64_MAX;
                registration.reset();
                CloseInputContext(ic, opened);
                FLastErrMsg = QStringLiteral("Specified program id not found");
                ResetInputOptions();
                return false;
            }
            for (unsigned i = 0; i < ic->nb_streams; ++i)
                ic->streams[i]->discard = AVDISCARD_ALL;
            for (unsigned i = 0; i < ic->nb_programs; ++i)
                if (ic->programs[i]->id == FProgramId)
                    for (unsigned j = 0; j < ic->programs[i]->nb_stream_indexes; ++j)
                        ic->streams[ic->programs[i]->stream_index[j]]->discard = AVDISCARD_DEFAULT;
        }

        if (OnBeforeFindStreamInfo)
            OnBeforeFindStreamInfo(this, ic);

        FLastRead = JobNow();
        {
            ret = FF.avformat_find_stream_info(ic, nullptr);
            if (ret < 0 && Verbose >= 0) {
                FLastRead = INT64_MAX;
                registration.reset();
                FLastErrMsg = QStringLiteral("%1: could not find codec parameters").arg(AFileName);
                FFLogger().Log(nullptr, llVerbose, FLastErrMsg);
                CloseInputContext(ic, opened);
                ResetInputOptions();
                return false;
            }
        }

        int64_t timestamp = FStartTime;
        if (ic->start_time != AV_NOPTS_VALUE)
            timestamp += ic->start_time;
        if (FStartTime != 0) {
            FLastRead = JobNow();
            ret = FF.avformat_seek_file(ic, -1, INT64_MIN, timestamp, timestamp, 0);
            if (ret < 0 && Verbose > 0)
                FFLogger().Log(nullptr, llVerbose, "%s: could not seek to position %0.3f",
                               url.constData(), double(timestamp) / AV_TIME_BASE);
        }
        FLastRead = INT64_MAX;
        registration.reset();

        auto file = std::make_unique<TInputFile>();
        file->ctx = ic;
        file->own = own;
        file->name = AFileName;
        file->ist_index = int(FInputStreams.size());
        file->nb_streams = int(ic->nb_streams);
        file->ts_scale = FPendingTsScale;
        file->ts_scale.resize(ic->nb_streams, 1.0);
        const int fileIndex = int(FInputFiles.size());
        for (unsigned i = 0; i < ic->nb_streams; ++i) {
            AVStream* st = ic->streams[i];
            auto ist = std::make_unique<TInputStream>();
            ist->file_index = fileIndex;
            ist->st = st;
            ist->discard = true;
            const AVMediaType type = st->codecpar->codec_type;
            switch (type) {
            case AVMEDIA_TYPE_VIDEO: {
                ist->forced = forced[type];
                if (FDisable[type])
                    st->discard = AVDISCARD_ALL;
                break;
            }
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
            FInputStreams.push_back(std::move(ist));
        }
        if (ic->duration != AV_NOPTS_VALUE && ic->duration > 0) {
            file->duration = ic->duration;
            FTotalOutputDuration = std::max(FTotalOutputDuration, ic->duration);
        }
        file->ts_offset = FCopyTs ? FInputTsOffset : FInputTsOffset - (FStartTime ? timestamp : 0);
        if (FStartTime == 0 && !FCopyTs && ic->start_time != AV_NOPTS_VALUE)
            file->ts_offset = FInputTsOffset - ic->start_time;
        if (Verbose >= 0)
            FF.av_dump_format(ic, fileIndex, url.constData(), 0);
        FInputFiles.push_back(std::move(file));
        ResetInputOptions();
        return true;
    } catch (const std::exception& error) {
        FLastRead = INT64_MAX;
        registration.reset();
        CloseInputContext(ic, opened);
        FLastErrMsg = QString::fromUtf8(error.what());
        ResetInputOptions();
        return false;
    }
}

// ---------------------------------------------------------------------------------------
// outputs

TCustomFFmpeg::TOutputStream* TCustomFFmpeg::CreateStream(TOutputFile& of, AVMediaType type) {
    AVFormatContext* oc = of.ctx;
    auto ost = std::make_unique<TOutputStream>();
    ost->type = type;
    for (size_t i = 0; i < FOutputFiles.size(); ++i)
        if (FOutputFiles[i].get() == &of)
            ost->file_index = int(i);
    const QString& name = FCodecName[type];
    if (name == QLatin1String("copy")) {
        ost->stream_copy = true;
    } else {
        if (type == AVMEDIA_TYPE_DATA)
            FFRaise("Data stream encoding not supported yet (only streamcopy)");
        int strict = FOptions.CodecOpts[type]->strict_std_compliance;
        if (!name.isEmpty()) {
            ost->codec = FindCodec(name, type, true, strict);
        } else {
            AVCodecID id =
                FF.av_guess_codec(oc->oformat, nullptr, Utf8(of.name).constData(), nullptr, type);
            ost->codec = id != AV_CODEC_ID_NONE ? FF.avcodec_find_encoder(id) : nullptr;
            if (!ost->codec)
                FFRaise("Encoder (codec id %d) not found for output stream #%d.%d (%s)", int(id),
                        ost->file_index, int(oc->nb_streams), MediaName(type));
        }
        ost->enc = FF.avcodec_alloc_context3(ost->codec);
        if (!ost->enc)
            FFRaise("av_mallocz fail");
        FOptions.ApplyToCodec(ost->enc, type);
        // The strictness may come from the options just applied ("astrict").
        if (!name.isEmpty())
            FindCodec(name, type, true, ost->enc->strict_std_compliance);
        ost->encoding_needed = true;
    }
    ost->st = FF.avformat_new_stream(oc, nullptr);
    if (!ost->st) {
        if (ost->enc)
            FF.avcodec_free_context(&ost->enc);
        FFRaise("Could not alloc stream");
    }
    ost->index = ost->st->index;
    ost->st->codecpar->codec_type = type;
    if (ost->codec) // known from here on; the encoder's full parameters follow at setup
        ost->st->codecpar->codec_id = ost->codec->id;
    ost->codec_tag = FCodecTag[type];
    ost->language = FLanguage[type];
    ost->max_frames = FMaxFrames[type];
    for (const auto& [index, value] : FStreamIds)
        if (index == ost->index)
            ost->st->id = value;
    if (type == AVMEDIA_TYPE_VIDEO) {
        ost->width = FFrameWidth;
        ost->height = FFrameHeight;
        ost->pix_fmt = FFramePixFmt;
        ost->frame_rate = FFrameRate;
        ost->aspect = FFrameAspectRatio;
        ost->qscale = FVideoQScale;
        ost->filters = FVideoFilters;
        ost->top_field_first = FTopFieldFirst;
        if (!FRcOverride.isEmpty() && ost->enc) {
            // "start,end,q" groups separated by "/"
            const QStringList groups = FRcOverride.split(QLatin1Char('/'));
            ost->enc->rc_override =
                static_cast<RcOverride*>(FF.av_malloc_array(groups.size(), sizeof(RcOverride)));
            for (int i = 0; i < groups.size(); ++i) {
                const QStringList parts = groups[i].split(QLatin1Char(','));
                bool ok1 = false, ok2 = false, ok3 = false;
                if (parts.size() != 3)
                    FFRaise("error parsing rc_override");
                RcOverride& rc = ost->enc->rc_override[i];
                rc.start_frame = parts[0].toInt(&ok1);
                rc.end_frame = parts[1].toInt(&ok2);
                const int q = parts[2].toInt(&ok3);
                if (!ok1 || !ok2 || !ok3)
                    FFRaise("error parsing rc_override");
                rc.qscale = q > 0 ? q : 0;
                rc.quality_factor = q > 0 ? 1.0f : -q / 100.0f;
            }
            ost->enc->rc_override_count = int(groups.size());
        }
        if (!FForceKeyFrames.isEmpty())
            for (const QString& t : FForceKeyFrames.split(QLatin1Char(','))) {
                int64_t us = 0;
                if (FF.av_parse_time(&us, Utf8(t).constData(), 1) >= 0)
                    ost->forced_kf_pts.push_back(us);
            }
        if (ost->enc) {
            if (FIntraMatrix.size() == 64) {
                ost->enc->intra_matrix = static_cast<uint16_t*>(FF.av_malloc(64 * 2));
                std::copy(FIntraMatrix.begin(), FIntraMatrix.end(), ost->enc->intra_matrix);
            }
            if (FInterMatrix.size() == 64) {
                ost->enc->inter_matrix = static_cast<uint16_t*>(FF.av_malloc(64 * 2));
                std::copy(FInterMatrix.begin(), FInterMatrix.end(), ost->enc->inter_matrix);
            }
            if (FIntraDcPrecision != 8)
                ost->enc->intra_dc_precision = FIntraDcPrecision - 8;
            if (FBitsPerRawSample > 0)
                ost->enc->bits_per_raw_sample = FBitsPerRawSample;
        }
    } else if (type == AVMEDIA_TYPE_AUDIO) {
        ost->sample_rate = FAudioSampleRate;
        ost->channels = FAudioChannels;
        ost->audio_qscale = FAudioQScale;
        ost->sample_fmt = FAudioSampleFmt;
    }
    if (ost->enc && FThreadCount != 1)
        ost->enc->thread_count = FThreadCount;
    if (!FBsf[type].isEmpty()) {
        for (const QString& bsfName : FBsf[type].split(QLatin1Char(','), Qt::SkipEmptyParts)) {
            const AVBitStreamFilter* filter = FF.av_bsf_get_by_name(Utf8(bsfName).constData());
            AVBSFContext* bsf = nullptr;
            if (filter && FF.av_bsf_alloc(filter, &bsf) >= 0)
                ost->bsfs.push_back(bsf);
        }
    }
    ost->pkt = FF.av_packet_alloc();
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

int TCustomFFmpeg::OpenOutput(const QString& AFileName, bool AJoin) {
    if (FJoinMode) {
        FLastErrMsg = QStringLiteral("Cannot join more than one output file.");
        return -1;
    }
    if (int(FOutputFiles.size()) >= FMaxFiles) {
        FLastErrMsg = QStringLiteral("Too many output files.");
        return -1;
    }
    const QByteArray name = Utf8(AFileName);
    AVFormatContext* oc = nullptr;
    const QByteArray forced = Utf8(FForceFormat);
    int ret = FF.avformat_alloc_output_context2(
        &oc, nullptr, FForceFormat.isEmpty() ? nullptr : forced.constData(), name.constData());
    if (ret < 0 || !oc) {
        FLastErrMsg = FFErrorText(AFileName, ret < 0 ? ret : AVERROR(EINVAL));
        ResetOutputOptions();
        return -1;
    }
    oc->interrupt_callback = EngineInterruptCB();
    auto file = std::make_unique<TOutputFile>();
    file->ctx = oc;
    file->name = AFileName;
    file->ost_index = int(FOutputStreams.size());
    file->recording_time = FRecordingTime;
    file->start_time = FStartTime;
    file->limit_filesize = FLimitFilesize;
    file->video_sync_method = FVideoSyncMethod;
    FOutputFiles.push_back(std::move(file));
    TOutputFile& of = *FOutputFiles.back();

    auto fail = [&](const QString& message) {
        FLastErrMsg = message;
        // drop the streams and the file again
        FOutputStreams.erase(FOutputStreams.begin() + of.ost_index,
                             FOutputStreams.begin() + of.ost_index + of.nb_streams);
        if (of.io_open)
            FF.avio_closep(&oc->pb);
        FF.avformat_free_context(oc);
        FOutputFiles.pop_back();
        ResetOutputOptions();
        return -1;
    };

    // stream kinds
    const AVOutputFormat* ofmt = oc->oformat;
    bool want[AVMEDIA_TYPE_NB] = {};
    want[AVMEDIA_TYPE_VIDEO] =
        ofmt->video_codec != AV_CODEC_ID_NONE || !FCodecName[AVMEDIA_TYPE_VIDEO].isEmpty();
    want[AVMEDIA_TYPE_AUDIO] =
        ofmt->audio_codec != AV_CODEC_ID_NONE || !FCodecName[AVMEDIA_TYPE_AUDIO].isEmpty();
    want[AVMEDIA_TYPE_SUBTITLE] =
        ofmt->subtitle_codec != AV_CODEC_ID_NONE || !FCodecName[AVMEDIA_TYPE_SUBTITLE].isEmpty();
    want[AVMEDIA_TYPE_DATA] = !FCodecName[AVMEDIA_TYPE_DATA].isEmpty();
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

    if (ofmt->flags & AVFMT_NEEDNUMBER) {
        if (!FF.av_filename_number_test(name.constData()))
            return fail(FFErrorText(AFileName, AVERROR(EINVAL)));
    }
    if (!(ofmt->flags & AVFMT_NOFILE)) {
        TInterruptRegistration registration(this, &OpenInterruptProc);
        FOpenCancelled = false;
        FLastRead = JobNow();
        AVIOInterruptCB cb = EngineInterruptCB();
        ret = FF.avio_open2(&oc->pb, name.constData(), AVIO_FLAG_WRITE, &cb, nullptr);
        FLastRead = INT64_MAX;
        if (ret < 0)
            return fail(FFErrorText(AFileName, ret));
        of.io_open = true;
        // Every packet goes to the file as it is muxed: a write that fails (a full disk)
        // shows at once, and what was recorded before a crash is in the file.
        oc->flush_packets = 1;
    }
    oc->max_delay = int(FMuxMaxDelay * AV_TIME_BASE + 0.5f);
    FOptions.ApplyToFormat(oc);
    const int count = int(FOutputFiles.size());
    ResetOutputOptions();
    if (AJoin && FInputFiles.size() > 1)
        FJoinMode = true;
    return count;
}

void TCustomFFmpeg::NewStream(AVMediaType type) {
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

void TCustomFFmpeg::PrepareJoin() {
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
// running

bool TCustomFFmpeg::StartConvert(bool AUseThread) {
    if (FConverting || FTerminated)
        return false;
    try {
        if (FOutputFiles.empty())
            FFRaise("At least one output file must be specified");
        if (FInputFiles.empty())
            FFRaise("At least one input file must be specified");
    } catch (const FFmpegException& error) {
        FreeAll();
        FFLogger().Log(nullptr, llQuiet, error.Message());
        FFatalException = true;
        FFatalMessage = error.Message();
        Terminate();
        return false;
    }
    FConverting = true;
    FBroken = false;
    FFinished = false;
    FTerminated = false;
    if (!AUseThread) {
        Conversion();
        return false;
    }
    if (FWorker.joinable())
        FWorker.join();
    FStopEvent.ResetEvent();
    FWorker = std::thread([this] {
        Conversion();
        FStopEvent.SetEvent();
    });
    return true;
}

void TCustomFFmpeg::Conversion() {
    FFinished = false;
    try {
        Transcode();
    } catch (const std::exception& error) {
        FFatalException = true;
        FFatalMessage = QString::fromUtf8(error.what());
        FFLogger().Log(nullptr, llQuiet, FFatalMessage);
    }
    try {
        std::lock_guard lock(GCodecListLock);
        FreeAll();
    } catch (const std::exception& error) {
        FFatalException = true;
        FFatalMessage = QString::fromUtf8(error.what());
        FFLogger().Log(nullptr, llQuiet, FFatalMessage);
    }
    Terminate();
}

void TCustomFFmpeg::Terminate() {
    FConverting = false;
    FTerminated = true;
    if (OnTerminate)
        OnTerminate(this);
}

void TCustomFFmpeg::TerminateUnstarted() {
    if (FConverting || FTerminated)
        return;
    FBroken = true;
    FreeAll();
    Terminate();
}

void TCustomFFmpeg::Stop(bool AWaitForStop) {
    FBroken = true;
    if (FWorker.joinable() && FConverting) {
        Resume();
        if (AWaitForStop) {
            if (IsMainThread())
                FStopEvent.WaitServing();
            else
                FStopEvent.WaitFor();
        }
    } else if (!FConverting) {
        FLastRead = 0; // an open in progress is cancelled by its interrupt check
    }
    if (AWaitForStop && FWorker.joinable() && FStopEvent.IsSet() &&
        FWorker.get_id() != std::this_thread::get_id())
        FWorker.join();
}

void TCustomFFmpeg::Pause() {
    std::lock_guard lock(FPauseMutex);
    if (FConverting && !FPaused) {
        FPaused = true;
        ++FPausesBegun;
    }
}

void TCustomFFmpeg::Resume() {
    {
        std::lock_guard lock(FPauseMutex);
        FPaused = false;
    }
    FPauseChanged.notify_all();
}

void TCustomFFmpeg::SetPostHooks(TPostHooks hooks) {
    std::lock_guard lock(PostHookLock());
    if (FPostHooks != hooks) {
        FPostHooks = hooks;
        FPostHooksChanged = true;
    }
}

TPostHooks TCustomFFmpeg::PostHooks() const {
    std::lock_guard lock(PostHookLock());
    return FPostHooks;
}

void TCustomFFmpeg::FreeAll() {
    for (auto& ost : FOutputStreams) {
        if (ost->enc)
            FF.avcodec_free_context(&ost->enc);
        for (AVBSFContext*& bsf : ost->bsfs)
            FF.av_bsf_free(&bsf);
        if (ost->sws)
            FF.sws_freeContext(ost->sws);
        FF.av_frame_free(&ost->scaled);
        FF.av_frame_free(&ost->filtered);
        FF.avfilter_graph_free(&ost->graph);
        FF.swr_free(&ost->swr);
        FF.av_channel_layout_uninit(&ost->swr_layout);
        if (ost->fifo)
            FF.av_audio_fifo_free(ost->fifo);
        FF.av_frame_free(&ost->audio_frame);
        FF.av_frame_free(&ost->out_hook);
        FF.av_packet_free(&ost->pkt);
    }
    FOutputStreams.clear();
    for (auto& of : FOutputFiles) {
        if (of->io_open)
            FF.avio_closep(&of->ctx->pb);
        FF.avformat_free_context(of->ctx);
    }
    FOutputFiles.clear();
    for (auto& ist : FInputStreams) {
        if (ist->dec)
            FF.avcodec_free_context(&ist->dec);
        FF.av_frame_free(&ist->frame);
        FF.av_frame_free(&ist->hook_frame);
    }
    FInputStreams.clear();
    for (auto& file : FInputFiles)
        CloseInputContext(file->ctx, true);
    FInputFiles.clear();
    if (FHookChain)
        FHookChain->ReleaseAll();
    FPreviewer.reset();
}

AVFormatContext* TCustomFFmpeg::OutputContext(int index) const {
    return index >= 0 && index < nb_output_files() ? FOutputFiles[size_t(index)]->ctx : nullptr;
}

AVFormatContext* TCustomFFmpeg::InputContext(int index) const {
    return index >= 0 && index < nb_input_files() ? FInputFiles[size_t(index)]->ctx : nullptr;
}

// ---------------------------------------------------------------------------------------
// list

TFFmpeg* TFFmpegList::Item(int index) const {
    if (index < 0 || index >= Count())
        throw EFFError(QStringLiteral("List index out of bounds (%1)").arg(index));
    return FItems[size_t(index)].get();
}

int TFFmpegList::Add(TFFmpeg* job) {
    FItems.emplace_back(job);
    return Count() - 1;
}

void TFFmpegList::Delete(int index) {
    Item(index);
    FItems.erase(FItems.begin() + index);
}

void TFFmpegList::Exchange(int index1, int index2) {
    Item(index1);
    Item(index2);
    std::swap(FItems[size_t(index1)], FItems[size_t(index2)]);
}

int TFFmpegList::IndexOf(const TCustomFFmpeg* job) const {
    for (int i = 0; i < Count(); ++i)
        if (FItems[size_t(i)].get() == job)
            return i;
    return -1;
}

void TFFmpegList::Clear() {
    FItems.clear();
}

void TFFmpegList::Pause() {
    for (auto& job : FItems)
        job->Pause();
}

void TFFmpegList::Resume() {
    for (auto& job : FItems)
        job->Resume();
}

void TFFmpegList::SetPostHooks(TPostHooks hooks) {
    for (auto& job : FItems)
        job->SetPostHooks(hooks);
}
