#pragma once

#include "media/FFLoad.h"
#include "media/InputFormats.h"

#include <QString>

#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>

// An own input format for the job tests, "testframes": grey RGB24 pictures at 25 per
// second, time stamped in microseconds. Its option string, "key=value;...":
//   frames=N   pictures before the end (default 50)
//   size=WxH   picture size (default 64x48)
//   pace=MS    sleeps MS milliseconds before every picture
//   late=MS    answers "try again" until MS milliseconds after the open
//   block=1    the open waits until the job's interrupt callback says stop
// Every read is counted in TestSourceReads.
inline std::atomic<int> TestSourceReads{0};

struct TTestSourceState {
    int Frames, Width, Height, PaceMs, LateMs, Sent;
    int64_t OpenedAt; // µs, steady clock
};

inline int64_t TestSourceNow() {
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

inline int TestSourceReadHeader(AVFormatContext* s, const QString& options,
                                const TInputParameters&) {
    auto* state = static_cast<TTestSourceState*>(s->priv_data);
    state->Frames = 50;
    state->Width = 64;
    state->Height = 48;
    bool block = false;
    for (const QString& pair : options.split(u';', Qt::SkipEmptyParts)) {
        const QString key = pair.section(u'=', 0, 0), value = pair.section(u'=', 1);
        if (key == QLatin1String("frames"))
            state->Frames = value.toInt();
        else if (key == QLatin1String("size")) {
            state->Width = value.section(u'x', 0, 0).toInt();
            state->Height = value.section(u'x', 1).toInt();
        } else if (key == QLatin1String("pace"))
            state->PaceMs = value.toInt();
        else if (key == QLatin1String("late"))
            state->LateMs = value.toInt();
        else if (key == QLatin1String("block"))
            block = value == QLatin1String("1");
    }
    if (block) {
        const AVIOInterruptCB cb = s->interrupt_callback;
        for (int i = 0; i < 3000; ++i) { // 30 s at most
            if (cb.callback && cb.callback(cb.opaque))
                return AVERROR_EXIT;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return AVERROR(ETIMEDOUT);
    }
    AVStream* st = NewSourceStream(s);
    if (!st)
        return AVERROR(ENOMEM);
    SetRawVideoParameters(st, state->Width, state->Height, AV_PIX_FMT_RGB24, {25, 1});
    state->OpenedAt = TestSourceNow();
    return 0;
}

inline int TestSourceReadPacket(AVFormatContext* s, AVPacket* pkt) {
    auto* state = static_cast<TTestSourceState*>(s->priv_data);
    ++TestSourceReads;
    if (state->LateMs > 0 && TestSourceNow() - state->OpenedAt < int64_t(state->LateMs) * 1000)
        return AVERROR(EAGAIN);
    if (state->Sent >= state->Frames)
        return AVERROR_EOF;
    if (state->PaceMs > 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(state->PaceMs));
    const int size = state->Width * state->Height * 3;
    if (FF.av_new_packet(pkt, size) < 0)
        return AVERROR(ENOMEM);
    memset(pkt->data, 60 + (state->Sent * 7) % 160, size_t(size));
    pkt->stream_index = 0;
    pkt->pts = pkt->dts = int64_t(state->Sent) * 40000;
    pkt->duration = 40000;
    pkt->flags |= AV_PKT_FLAG_KEY;
    ++state->Sent;
    return size;
}

inline int TestSourceReadClose(AVFormatContext*) {
    return 0;
}

inline const TOwnInputFormat TestSourceFormat = {
    "testframes",          "Pictures for the job tests", int(sizeof(TTestSourceState)),
    &TestSourceReadHeader, &TestSourceReadPacket,        &TestSourceReadClose};

// Registers "testframes" (after the libraries are loaded; registrations end with them).
inline void RegisterTestSource() {
    RegisterInputFormat(TestSourceFormat);
}
