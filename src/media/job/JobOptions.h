#pragma once

// The generic options of a job: every accepted name=value in order, checked against
// FFmpeg's option classes, and applied to the codec, format and scaler contexts made
// later (JobOptions.cpp).

#include "media/FFOwners.h"

#include <QString>

#include <vector>

struct TFFOption {
    QString Name, Value;
    // Which contexts accepted it: the codec contexts per media type (with the name,
    // maybe without its "a"/"v"/"s" prefix), the format, the scaler, or private options
    // of some codec or format (applied where they exist).
    QString CodecName[AVMEDIA_TYPE_NB];
    bool Codec[AVMEDIA_TYPE_NB] = {};
    bool Format = false, Scaler = false, Private = false;
};

class TFFOptions {
public:
    TFFOptions();
    TFFOptions(const TFFOptions&) = delete;
    TFFOptions& operator=(const TFFOptions&) = delete;

    std::vector<TFFOption> Items;
    // Probe contexts that validate values (one codec context per media type, format,
    // scaler). Null only when the libraries are not loaded (the job must not be used).
    TCodecContextPtr CodecOpts[AVMEDIA_TYPE_NB];
    TFormatContextPtr FormatOpts;
    TSwsContextPtr ScalerOpts;

    // Forgets every option and makes the probe contexts afresh.
    void Clear();
    // Whether every probe context could be made (false when memory ran out).
    bool Ready() const;
    // Applies every stored option meant for `type` to a codec context (and its private
    // options). Rejections are ignored: values were checked when they were stored.
    void ApplyToCodec(AVCodecContext* ctx, AVMediaType type) const;
    void ApplyToFormat(AVFormatContext* ctx) const;
    void ApplyToScaler(SwsContext* ctx) const;
    // The strictness the codec options of `type` ask for (FF_COMPLIANCE_NORMAL without).
    int Strictness(AVMediaType type) const;
};
