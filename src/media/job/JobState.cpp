// The job's private state: creation, release, and the helpers every stage shares.

#include "media/job/JobState.h"

#include "media/FrameHook.h"
#include "media/Previewer.h"

#include <cstdarg>

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

const char* TypeName(AVMediaType type) {
    const char* name = FF.av_get_media_type_string(type);
    return name ? name : "unknown";
}

TOutputStream::~TOutputStream() {
    if (FF.av_channel_layout_uninit)
        FF.av_channel_layout_uninit(&swr_layout);
}

int64_t TOutputStream::OutputTime() const {
    if (stream_copy || !enc || sound)
        return copy_time;
    if (type == AVMEDIA_TYPE_VIDEO)
        return FF.av_rescale_q(sync_opts, enc->time_base, AV_TIME_BASE_Q);
    if (type == AVMEDIA_TYPE_AUDIO && enc->sample_rate > 0) {
        const int64_t queued = fifo ? FF.av_audio_fifo_size(fifo.get()) : 0;
        return FF.av_rescale(sync_opts + queued, AV_TIME_BASE, enc->sample_rate);
    }
    return copy_time;
}

TJob::TJob(TCustomFFmpeg& owner, int maxFiles) : FOwner(owner), FMaxFiles(maxFiles) {
    for (int& limit : FMaxFrames)
        limit = INT32_MAX;
    FHookChain = std::make_unique<TVideoHookChain>();
}

TJob::~TJob() = default;

void TJob::FreeAll() {
    // Every record owns its FFmpeg objects: dropping the records frees them, outputs
    // before the inputs they read from. The sound workers have ended with the loop.
    FSoundWorkers.clear();
    FOutputStreams.clear();
    FOutputFiles.clear();
    FInputStreams.clear();
    FInputFiles.clear();
    FHookChain->ReleaseAll();
    FPreviewer.reset();
}
