#pragma once

// The job's file and stream records. Each record owns the FFmpeg objects of its stage
// (FFOwners.h); the plain pointers here (streams, filter ends) point into objects that
// another owner frees.

#include "media/FFOwners.h"

#include <QString>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <exception>
#include <mutex>
#include <thread>
#include <vector>

struct TJob;
struct TOutputStream;

// A sound input that a thread of its own reads, decodes, resamples and encodes
// (JobSound.cpp). The packets its encoders make wait in `packets` until the conversion
// loop writes them; everything else of that input and of the streams it feeds belongs
// to the worker while it runs.
struct TSoundWorker {
    struct TQueued {
        TOutputStream* ost = nullptr;
        TPacketPtr pkt;
    };
    TJob* job = nullptr;
    int file_index = 0;
    std::thread thread;
    std::atomic<bool> stop{false}; // the loop wants no more reading
    std::mutex lock;               // guards what follows
    std::condition_variable changed;
    std::deque<TQueued> packets;
    bool ended = false;       // every packet of the input is in `packets`
    std::exception_ptr error; // what ended the worker early, for the loop to raise
};

// An opened input (JobInput.cpp).
struct TInputFile {
    TInputContextPtr ctx;
    bool own = false; // one of the program's own input formats
    QString name;
    bool eof_reached = false;
    bool no_packet = false; // asked again later (EAGAIN)
    int ist_index = 0;      // first stream in the input stream table
    int nb_streams = 0;
    int64_t ts_offset = 0; // µs
    std::vector<double> ts_scale;
    int64_t duration = AV_NOPTS_VALUE; // µs
    TSoundWorker* sound = nullptr;     // the worker that reads this input, if any
};

// A stream of an input and its decoder (JobDecode.cpp).
struct TInputStream {
    int file_index = 0;
    AVStream* st = nullptr; // owned by the input's context
    bool discard = true;
    bool decoding_needed = false;
    TCodecContextPtr dec;
    const AVCodec* forced = nullptr; // decoder chosen by name at open
    int64_t sample_index = 0;
    int frame_number = 0; // decoded video frames
    int64_t start = 0;
    int64_t next_pts = AV_NOPTS_VALUE; // µs
    int64_t pts = 0;                   // µs
    bool is_start = true;
    bool showed_multi_packet_warning = false;
    bool is_past_recording_time = false;
    bool flushed = false;
    bool used = false;
    TFramePtr frame;
    // hook copies of the decoded picture
    TFramePtr hook_frame;
    // audio frame changes
    int last_rate = 0, last_channels = 0, last_format = -1;
};

// A stream of an output: its conversion (JobConvert.cpp), its encoder (JobEncode.cpp)
// and its bit-stream filters (JobMux.cpp).
struct TOutputStream {
    TOutputStream() = default;
    ~TOutputStream();
    TOutputStream(const TOutputStream&) = delete;
    TOutputStream& operator=(const TOutputStream&) = delete;

    int file_index = 0;
    int index = 0;          // stream index in its output
    int source_index = -1;  // input stream feeding it in the current part
    int part = 0;           // join part this record serves
    AVStream* st = nullptr; // owned by the output's context
    AVMediaType type = AVMEDIA_TYPE_UNKNOWN;
    bool encoding_needed = false;
    bool stream_copy = false;
    bool closed = false; // join: no more frames for this part
    int frame_number = 0;
    int64_t sync_opts = 0; // next frame (video, in frame intervals) or sample (audio)
    const AVCodec* codec = nullptr;
    TCodecContextPtr enc;
    bool encoder_opened = false;
    int64_t last_mux_dts = AV_NOPTS_VALUE; // in st->time_base
    int64_t copy_time = 0;                 // µs reached by stream copy
    std::vector<TBSFContextPtr> bsfs;

    // wanted settings from the option state when the stream was created
    int width = 0, height = 0;
    AVPixelFormat pix_fmt = AV_PIX_FMT_NONE;
    AVRational frame_rate{0, 0};
    double aspect = 0;
    float qscale = 0;
    int sample_rate = 0, channels = 0;
    AVSampleFormat sample_fmt = AV_SAMPLE_FMT_NONE;
    float audio_qscale = -99999;
    uint32_t codec_tag = 0;
    QString language;
    QString filters;
    int top_field_first = -1;
    std::vector<int64_t> forced_kf_pts; // in µs
    size_t forced_kf_index = 0;
    int max_frames = INT32_MAX;
    int sync_method = -1; // video sync in force for this output

    // video path
    TSwsContextPtr sws;
    TFramePtr scaled;
    TFilterGraphPtr graph;
    AVFilterContext* buffersrc = nullptr;  // owned by graph
    AVFilterContext* buffersink = nullptr; // owned by graph
    int graph_w = 0, graph_h = 0, graph_fmt = -1;
    TFramePtr filtered;
    int in_w = 0, in_h = 0, in_fmt = -1; // last picture seen, to report changes

    // audio path
    TSwrContextPtr swr;
    int swr_rate = 0, swr_fmt = -1;
    AVChannelLayout swr_layout{};
    TAudioFifoPtr fifo;
    TFramePtr audio_frame;
    int frame_size = 0;
    bool audio_started = false; // sync_opts holds the time of the first sound sample

    // Added to this stream's packet times alone, for a writer that cannot store negative
    // times (set from the first packet; see ShiftNegativeStart).
    int64_t ts_shift = 0;
    bool ts_shift_known = false;

    // The worker that encodes this stream, if any: its packets reach the output through
    // the worker's queue, and copy_time holds the end of the last one written.
    TSoundWorker* sound = nullptr;

    TFramePtr out_hook; // the output hooks' copy of the picture
    TPacketPtr pkt;
    int64_t bytes = 0;
    float last_quality = -1;

    // output time reached, µs
    int64_t OutputTime() const;
};

// An output file (JobMux.cpp).
struct TOutputFile {
    TFormatContextPtr ctx; // closes the file it opened
    QString name;
    int ost_index = 0; // first of its streams in the output stream table
    int nb_streams = 0;
    int64_t recording_time = INT64_MAX;
    int64_t start_time = 0;
    int64_t limit_filesize = 0;
    int video_sync_method = -1;
    bool header_written = false;
};

struct TStreamMap {
    int FileIndex, StreamIndex, SyncFileIndex, SyncStreamIndex;
};

struct TMetaDataMap {
    int FileIndex;
    char Type;
    int Index;
};
