// Progress reports: the event with the output's size and time, and the log lines.

#include "media/job/JobState.h"

#include "media/FFLog.h"

#include <cmath>

void TJob::ReportProgress(bool last) {
    FLastReport = JobNow();
    if (FOutputFiles.empty())
        return;
    AVFormatContext* oc = FOutputFiles[0]->ctx.get();
    int64_t size = oc->pb ? FF.avio_seek(oc->pb, 0, SEEK_CUR) : 0;
    if (size < 0)
        size = 0;
    int frameNumber = -1, fps = -1;
    float quality = -1;
    bool haveVideo = false;
    int64_t reportTime = INT64_MAX, duration = 0;
    int64_t runningTime = INT64_MAX, runningDuration = -1;
    const double elapsed = double(FLastReport - FStartRealTime) / 1e6;
    for (auto& ost : FOutputStreams) {
        if (FJoinMode && ost->closed && !last)
            continue;
        if (ost->type == AVMEDIA_TYPE_VIDEO && !haveVideo) {
            haveVideo = true;
            quality = ost->last_quality >= 0 ? ost->last_quality / FF_QP2LAMBDA : -1;
            frameNumber = ost->frame_number;
            fps = elapsed >= 1.0 ? int(lrint(frameNumber / elapsed)) : 0;
            if (frameNumber < 1)
                return;
        }
        const int64_t t = ost->OutputTime();
        reportTime = std::min(reportTime, t);
        duration = t;
        // A stream whose input ended early (a sound device that went away) stops
        // counting, so the time shown keeps running with the streams still fed.
        if (!last && ost->source_index >= 0) {
            const TInputStream& ist = *FInputStreams[size_t(ost->source_index)];
            if (!FInputFiles[size_t(ist.file_index)]->eof_reached) {
                runningTime = std::min(runningTime, t);
                runningDuration = t;
            }
        }
    }
    if (runningDuration >= 0) {
        reportTime = runningTime;
        duration = runningDuration;
    }
    if (reportTime == INT64_MAX)
        reportTime = 0;
    const int64_t ms = reportTime / 1000;
    const float bitrate = ms > 0 ? float(double(size) * 8 / double(ms)) : 0;
    const int dupDrop = FDupFrames + FDropFrames;
    const bool newDupDrop = dupDrop != FReportedDupDrop;
    FReportedDupDrop = dupDrop;
    if (FOwner.OnProgress)
        FOwner.OnProgress(&FOwner, last ? -1 : FFileIndex, frameNumber, fps, quality, bitrate, size,
                          duration, FTotalOutputDuration);
    if (FOwner.Verbose >= 0 && (!FOwner.OnProgress || newDupDrop)) {
        const int64_t t = std::max<int64_t>(reportTime, 0);
        QString line = FFFormat("frame=%5d fps=%3d q=%3.1f ", frameNumber, fps, double(quality));
        line += FFFormat("size=%8.0fkB time=%02d:%02d:%02d.%02d bitrate=%6.1fkbits/s",
                         double(size) / 1024, int(t / 3600000000LL), int(t / 60000000 % 60),
                         int(t / 1000000 % 60), int(t / 10000 % 100), double(bitrate));
        if (dupDrop)
            line += FFFormat(" dup=%d drop=%d", FDupFrames, FDropFrames);
        FFLogger().Log(nullptr, llVerbose, line);
    }
    if (last && FOwner.Verbose >= 0) {
        const int64_t raw = FVideoSize + FAudioSize + FExtraSize;
        FFLogger().Log(nullptr, llVerbose,
                       "video:%1.0fkB audio:%1.0fkB global headers:%1.0fkB muxing overhead "
                       "%f%%\r\n",
                       double(FVideoSize) / 1024, double(FAudioSize) / 1024,
                       double(FExtraSize) / 1024,
                       raw > 0 ? 100.0 * (double(size) - double(raw)) / double(raw) : 0.0);
    }
}
