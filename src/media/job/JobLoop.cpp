// The conversion loop that drives the stages: it picks the input to read next, reads a
// packet, hands it to decoding (or stream copy), and at the end flushes every stage and
// writes the trailers. Also the run control: start, stop, pause.

#include "media/job/JobState.h"

#include "media/FFLog.h"
#include "media/InterruptCB.h"
#include "media/MainThread.h"

// ---------------------------------------------------------------------------------------
// run control

bool TJob::StartConvert(bool useThread) {
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
    if (!useThread) {
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

void TJob::Conversion() {
    FFinished = false;
    try {
        Transcode();
    } catch (const std::exception& error) {
        FFatalException = true;
        FFatalMessage = QString::fromUtf8(error.what());
        FFLogger().Log(nullptr, llQuiet, FFatalMessage);
    }
    FreeAll();
    Terminate();
}

void TJob::Terminate() {
    FConverting = false;
    FTerminated = true;
    if (FOwner.OnTerminate)
        FOwner.OnTerminate(&FOwner);
}

void TJob::TerminateUnstarted() {
    if (FConverting || FTerminated)
        return;
    FBroken = true;
    FreeAll();
    Terminate();
}

void TJob::Stop(bool waitForStop) {
    FBroken = true;
    if (FWorker.joinable() && FConverting) {
        Resume();
        if (waitForStop) {
            if (IsMainThread())
                FStopEvent.WaitServing();
            else
                FStopEvent.WaitFor();
        }
    } else if (!FConverting) {
        FLastRead = 0; // an open in progress is cancelled by its interrupt check
    }
    if (waitForStop && FWorker.joinable() && FStopEvent.IsSet() &&
        FWorker.get_id() != std::this_thread::get_id())
        FWorker.join();
}

void TJob::Pause() {
    std::lock_guard lock(FPauseMutex);
    if (FConverting && !FPaused) {
        FPaused = true;
        ++FPausesBegun;
    }
}

void TJob::Resume() {
    {
        std::lock_guard lock(FPauseMutex);
        FPaused = false;
    }
    FPauseChanged.notify_all();
}

void TJob::WaitWhilePaused() {
    std::unique_lock lock(FPauseMutex);
    if (FPausesSeen == FPausesBegun || FBroken)
        return;
    FPausesSeen = FPausesBegun;
    // The inputs are told about the pause, also one that has already ended while a read
    // was waiting: a live source starts its clock afresh when reading goes on, so the
    // pause leaves no gap in the recording, however short it was.
    // (A sound worker's input is its own; its worker waits when its queue is full.)
    lock.unlock();
    for (const auto& file : FInputFiles)
        if (file->ctx && !file->sound)
            FF.av_read_pause(file->ctx.get());
    lock.lock();
    FPauseChanged.wait(lock, [&] { return !FPaused || FBroken; });
    lock.unlock();
    for (const auto& file : FInputFiles)
        if (file->ctx && !file->sound)
            FF.av_read_play(file->ctx.get());
}

bool TJob::TranscodeInterruptProc(void* sender) {
    const auto* job = static_cast<TJob*>(sender);
    return job->FBroken && !job->FMuxing;
}

// ---------------------------------------------------------------------------------------
// the loop

int TJob::NextInputFile(bool& done) {
    done = false;
    if (FJoinMode)
        return FJoinPart;
    // The input behind the output that lags most (or, with input sync, the input that
    // lags most) goes next.
    int fileIndex = -1;
    int64_t optsMin = INT64_MAX, iptsMin = INT64_MAX;
    for (auto& ost : FOutputStreams) {
        if (ost->source_index < 0)
            continue;
        TInputStream& ist = *FInputStreams[size_t(ost->source_index)];
        TInputFile& file = *FInputFiles[size_t(ist.file_index)];
        // The streams of a sound worker's input are the worker's: the loop goes by what
        // it has written of them, and by the end of the worker's packets.
        const bool own = !file.sound;
        if ((own && ist.is_past_recording_time) || file.no_packet)
            continue;
        const int64_t opts = ost->OutputTime();
        if (!file.eof_reached) {
            if (own && ist.pts < iptsMin) {
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
        if (own && ost->frame_number >= ost->max_frames) {
            done = true;
            return -1;
        }
    }
    return fileIndex;
}

bool TJob::EndOfInput(int fileIndex) {
    TInputFile& file = *FInputFiles[size_t(fileIndex)];
    file.eof_reached = true;
    if (!FJoinMode)
        return !FShortest;
    // The next part of a joined output follows on where this one ended.
    FlushInputFile(fileIndex);
    int64_t reached = 0;
    for (auto& ost : FOutputStreams) {
        reached = std::max(reached, ost->OutputTime());
        ost->closed = true;
    }
    if (++FJoinPart >= int(FInputFiles.size()))
        return false;
    TInputFile& next = *FInputFiles[size_t(FJoinPart)];
    const int64_t start = next.ctx->start_time != AV_NOPTS_VALUE ? next.ctx->start_time : 0;
    next.ts_offset = reached - start;
    MapJoinPart(FJoinPart);
    return true;
}

bool TJob::PastRecordingTime(TInputStream& ist, const AVPacket* pkt) const {
    // recording time of the outputs this stream feeds
    int64_t limit = INT64_MAX;
    for (auto& ost : FOutputStreams)
        if (ost->source_index >= 0 && FInputStreams[size_t(ost->source_index)].get() == &ist) {
            const TOutputFile& of = *FOutputFiles[size_t(ost->file_index)];
            if (of.recording_time != INT64_MAX)
                limit = std::min(limit, of.recording_time + of.start_time);
        }
    if (limit == INT64_MAX)
        return false;
    if (pkt->pts == AV_NOPTS_VALUE && pkt->dts == AV_NOPTS_VALUE) {
        FFLogger().Log(nullptr, llDebug,
                       "no timestamp information to check whether recording time "
                       "exhausted or not.");
        return false;
    }
    return FF.av_compare_ts(pkt->pts != AV_NOPTS_VALUE ? pkt->pts : pkt->dts, ist.st->time_base,
                            limit, AV_TIME_BASE_Q) >= 0;
}

namespace {

// Whether the first output has reached its size limit.
bool FileSizeReached(const std::vector<std::unique_ptr<TOutputFile>>& outputs) {
    if (outputs.empty() || outputs[0]->limit_filesize <= 0 || !outputs[0]->ctx->pb)
        return false;
    return FF.avio_size(outputs[0]->ctx->pb) >= outputs[0]->limit_filesize;
}

} // namespace

void TJob::Transcode() {
    SetupStreams();
    FStartRealTime = JobNow();
    FLastReport = FStartRealTime;
    std::unique_ptr<TInterruptRegistration> registration;
    if (!IsMainThread())
        registration = std::make_unique<TInterruptRegistration>(this, &TranscodeInterruptProc);
    // Whatever ends the loop, no sound worker outlives it.
    struct TWorkersEnd {
        TJob& Job;
        ~TWorkersEnd() { Job.EndSoundWorkers(false); }
    } workersEnd{*this};
    StartSoundWorkers();

    TPacketPtr packet(FF.av_packet_alloc());
    if (!packet)
        FFRaise("av_mallocz fail");
    AVPacket* pkt = packet.get();
    while (!FBroken) {
        WaitWhilePaused();
        if (FBroken)
            break;
        bool done = false;
        const int fileIndex = NextInputFile(done);
        if (done)
            break;
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
        if (FileSizeReached(FOutputFiles))
            break;

        TInputFile& file = *FInputFiles[size_t(fileIndex)];
        FFileIndex = fileIndex;
        if (file.sound) {
            const int written = WriteSoundPacket(*file.sound, false);
            if (written < 0 && !EndOfInput(fileIndex))
                break;
            if (written > 0 && JobNow() - FLastReport > FOwner.ReportInterval)
                ReportProgress(false);
            continue;
        }
        const int ret = ReadPacket(file, pkt);
        if (ret == AVERROR(EAGAIN)) {
            file.no_packet = true;
            continue;
        }
        if (ret < 0) {
            if (!EndOfInput(fileIndex))
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
        AdjustPacketTimes(file, ist, pkt);
        if (PastRecordingTime(ist, pkt)) {
            ist.is_past_recording_time = true;
            FF.av_packet_unref(pkt);
            continue;
        }
        try {
            ProcessPacket(ist, pkt);
        } catch (const FFmpegException& error) {
            if (FExitOnError || FOutputFailed)
                throw;
            if (FOwner.Verbose >= 0)
                FFLogger().Log(nullptr, llVerbose, error.Message());
        }
        FF.av_packet_unref(pkt);
        if (JobNow() - FLastReport > FOwner.ReportInterval)
            ReportProgress(false);
    }

    // From here on nothing may be interrupted: the trailer must reach the file.
    registration.reset();
    FinishOutputs();
}

void TJob::FinishOutputs() {
    EndSoundWorkers(true); // they have flushed their own stages
    for (size_t i = 0; i < FInputFiles.size(); ++i)
        if (!FInputFiles[i]->sound)
            FlushInputFile(int(i));
    FlushEncoders();
    WriteTrailers();
    ReportProgress(true);
    FFinished = !FBroken;
}
