// Sound inputs on threads of their own. A sound file that feeds sound encoders alone (the
// song of a lyrics video) is read, decoded, resampled and encoded by a worker thread
// beside the inputs the conversion loop reads itself (the pictures). The worker's encoded
// packets wait in a short queue, and the loop writes them where it would have read that
// input itself (when its output lags most): one thread writes the file, interleaved as
// before, and the file holds the same pictures and the same sound either way.
//
// While a worker runs, its input, that input's streams and the output streams they feed
// are the worker's; the loop knows them only by what it has written (copy_time) and by
// the end of the worker's queue.

#include "media/job/JobState.h"

#include "media/FFLog.h"
#include "media/InterruptCB.h"
#include "media/MainThread.h"

#include <chrono>

namespace {

// Packets a worker may hold ready: a few seconds of sound, enough to bridge the time one
// picture takes without the sound running far ahead of the pictures.
constexpr size_t QueueLimit = 128;
// How often the worker, waiting for room, looks at the job's stop, which comes without a
// signal.
constexpr auto StopPoll = std::chrono::milliseconds(10);
// The loop waits only for an empty queue. Waking it for every packet costs a system call
// on each side; woken once a few packets are ready, it writes them in one go. The end of
// the worker wakes it whatever the queue holds.
constexpr size_t WakeBatch = 16;

// Wakes the loop waiting for `worker`: it waits serving the main thread's calls (see
// WriteSoundPacket).
void Notify(TSoundWorker& worker) {
    worker.changed.notify_all();
    WakeMainThreadWaiters();
}

} // namespace

bool TJob::SoundWorkerFits(int fileIndex) const {
    const TInputFile& file = *FInputFiles[size_t(fileIndex)];
    if (file.own) // the program's own sources (capture, painted pictures) stay on the loop
        return false;
    for (int i = 0; i < file.nb_streams; ++i) {
        const TInputStream& ist = *FInputStreams[size_t(file.ist_index + i)];
        if (!ist.discard &&
            (ist.st->codecpar->codec_type != AVMEDIA_TYPE_AUDIO || !ist.decoding_needed))
            return false;
    }
    bool feeds = false;
    for (const auto& ost : FOutputStreams) {
        if (ost->source_index < 0 ||
            FInputStreams[size_t(ost->source_index)]->file_index != fileIndex)
            continue;
        if (ost->type != AVMEDIA_TYPE_AUDIO || !ost->encoding_needed || ost->stream_copy ||
            ost->max_frames != INT32_MAX)
            return false;
        feeds = true;
    }
    return feeds;
}

void TJob::StartSoundWorkers() {
    // Joined parts and inputs read in step need the one loop; a sound hook expects the
    // job's one thread.
    if (!FOwner.ParallelSound || FJoinMode || FInputSync || FOwner.OnAudioHook ||
        FInputFiles.size() < 2)
        return;
    for (size_t i = 0; i < FInputFiles.size(); ++i) {
        if (!SoundWorkerFits(int(i)))
            continue;
        auto worker = std::make_unique<TSoundWorker>();
        worker->job = this;
        worker->file_index = int(i);
        FInputFiles[i]->sound = worker.get();
        for (auto& ost : FOutputStreams)
            if (ost->source_index >= 0 &&
                FInputStreams[size_t(ost->source_index)]->file_index == int(i))
                ost->sound = worker.get();
        FSoundWorkers.push_back(std::move(worker));
        FFLogger().Log(nullptr, llVerbose,
                       "Input #%d is decoded and encoded on a thread of its own", int(i));
    }
    for (auto& worker : FSoundWorkers) {
        TSoundWorker* w = worker.get();
        w->thread = std::thread([this, w] { RunSoundWorker(*w); });
    }
}

bool TJob::SoundInterruptProc(void* sender) {
    const auto* worker = static_cast<const TSoundWorker*>(sender);
    return worker->stop || worker->job->FBroken;
}

void TJob::RunSoundWorker(TSoundWorker& worker) {
    TInterruptRegistration registration(&worker, &SoundInterruptProc);
    try {
        TPacketPtr packet(FF.av_packet_alloc());
        if (!packet)
            FFRaise("av_mallocz fail");
        ReadSoundInput(worker, packet.get());
        // The end of the input, a stop or the recording time: what the decoders, the
        // resamplers and the encoders still hold follows, as at the end of the loop.
        FlushDecoders(worker.file_index);
        for (auto& ost : FOutputStreams)
            if (ost->sound == &worker)
                FlushEncoder(*ost);
    } catch (...) {
        std::lock_guard lock(worker.lock);
        worker.error = std::current_exception();
    }
    {
        std::lock_guard lock(worker.lock);
        worker.ended = true;
    }
    Notify(worker);
}

bool TJob::ReadSoundInput(TSoundWorker& worker, AVPacket* pkt) {
    TInputFile& file = *FInputFiles[size_t(worker.file_index)];
    // Whether every stream the input feeds has reached the recording time.
    auto allPast = [&] {
        for (int i = 0; i < file.nb_streams; ++i) {
            const TInputStream& ist = *FInputStreams[size_t(file.ist_index + i)];
            if (!ist.discard && !ist.is_past_recording_time)
                return false;
        }
        return true;
    };
    while (WaitForRoom(worker)) {
        const int ret = ReadPacket(file, pkt);
        if (ret == AVERROR(EAGAIN)) {
            FF.av_usleep(10000);
            continue;
        }
        if (ret < 0)
            return true;
        TInputStream* ist = pkt->stream_index < file.nb_streams
                                ? FInputStreams[size_t(file.ist_index + pkt->stream_index)].get()
                                : nullptr;
        if (ist && !ist->discard) {
            AdjustPacketTimes(file, *ist, pkt);
            if (PastRecordingTime(*ist, pkt)) {
                ist->is_past_recording_time = true;
                if (allPast()) {
                    FF.av_packet_unref(pkt);
                    return false;
                }
            } else {
                try {
                    ProcessPacket(*ist, pkt);
                } catch (const FFmpegException& error) {
                    if (FExitOnError)
                        throw;
                    if (FOwner.Verbose >= 0)
                        FFLogger().Log(nullptr, llVerbose, error.Message());
                }
            }
        }
        FF.av_packet_unref(pkt);
    }
    return false;
}

bool TJob::WaitForRoom(TSoundWorker& worker) {
    std::unique_lock lock(worker.lock);
    while (worker.packets.size() >= QueueLimit && !worker.stop && !FBroken)
        worker.changed.wait_for(lock, StopPoll);
    return !worker.stop && !FBroken;
}

void TJob::QueueSoundPacket(TOutputStream& ost, AVPacket* pkt) {
    TPacketPtr copy(FF.av_packet_alloc());
    if (!copy)
        FFRaise("av_mallocz fail");
    FF.av_packet_move_ref(copy.get(), pkt);
    TSoundWorker& worker = *ost.sound;
    size_t queued;
    {
        std::lock_guard lock(worker.lock);
        worker.packets.push_back({&ost, std::move(copy)});
        queued = worker.packets.size();
    }
    if (queued == WakeBatch)
        Notify(worker);
}

int TJob::WriteSoundPacket(TSoundWorker& worker, bool waitWhileBroken) {
    // The loop may run on the main thread (a job started without a thread), and the
    // worker may wait for it there (a log line): the wait serves the main thread's calls.
    WaitServingMainThreadCalls([&] {
        std::lock_guard lock(worker.lock);
        return !worker.packets.empty() || worker.ended || (!waitWhileBroken && FBroken);
    });
    TSoundWorker::TQueued next;
    bool wasFull;
    {
        std::lock_guard lock(worker.lock);
        if (worker.packets.empty()) {
            if (!worker.ended)
                return 0;
            if (worker.error)
                std::rethrow_exception(std::exchange(worker.error, nullptr));
            return -1;
        }
        wasFull = worker.packets.size() >= QueueLimit;
        next = std::move(worker.packets.front());
        worker.packets.pop_front();
    }
    if (wasFull) // the worker waits only for room
        worker.changed.notify_all();
    TOutputStream& ost = *next.ost;
    AVPacket* pkt = next.pkt.get();
    const int64_t start = pkt->pts != AV_NOPTS_VALUE ? pkt->pts : pkt->dts;
    if (start != AV_NOPTS_VALUE)
        ost.copy_time = std::max(ost.copy_time, FF.av_rescale_q(start + pkt->duration,
                                                                ost.st->time_base, AV_TIME_BASE_Q));
    WritePacket(ost, pkt);
    return 1;
}

void TJob::EndSoundWorkers(bool write) {
    for (auto& worker : FSoundWorkers) {
        worker->stop = true;
        worker->changed.notify_all();
    }
    for (auto& worker : FSoundWorkers) {
        if (!worker->thread.joinable())
            continue;
        if (write)
            while (WriteSoundPacket(*worker, true) > 0) {
            }
        WaitServingMainThreadCalls([&] {
            std::lock_guard lock(worker->lock);
            return worker->ended;
        });
        worker->thread.join();
    }
}
