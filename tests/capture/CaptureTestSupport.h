#pragma once

#include "media/InputFormats.h"
#include "media/MediaTestSupport.h"

#include <QElapsedTimer>
#include <QString>

// Opens one of the own input formats through the engine's OpenInput and reads it with
// FFmpeg's own calls, as the transcoding job does.
class TCaptureTest : public TMediaTest {
protected:
    void SetUp() override {
        TMediaTest::SetUp();
        if (HasFatalFailure())
            return;
        // Lines from the sources' own threads are delivered where they are produced.
        FFLogger().SetTriggerEventInMainThread(false);
    }
    void TearDown() override {
        Close();
        FFLogger().SetTriggerEventInMainThread(true);
        TMediaTest::TearDown();
    }
    int Open(const char* format, const QString& options, const TInputParameters* ap = nullptr) {
        Close();
        return OpenInput(&FIc, options, FindInputFormat(QString::fromLatin1(format)), ap, nullptr);
    }
    void Close() {
        if (FIc)
            FF.avformat_close_input(&FIc);
        if (FPkt)
            FF.av_packet_free(&FPkt);
    }
    // Reads the next packet into Pkt(): its size, or the error of av_read_frame.
    int Read() {
        if (!FPkt)
            FPkt = FF.av_packet_alloc();
        FF.av_packet_unref(FPkt);
        const int ret = FF.av_read_frame(FIc, FPkt);
        return ret < 0 ? ret : FPkt->size;
    }
    AVPacket* Pkt() const { return FPkt; }
    const AVCodecParameters* Par() const { return FIc->streams[0]->codecpar; }
    bool Logged(const QString& text) const {
        for (const QString& line : FLog.Lines())
            if (line.contains(text))
                return true;
        return false;
    }

    AVFormatContext* FIc = nullptr;
    AVPacket* FPkt = nullptr;
    TLogCapture FLog;
};
