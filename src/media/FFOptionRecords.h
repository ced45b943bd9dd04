#pragma once

#include <QString>

#include <cstdint>

// The option records through which callers describe an encoder task's inputs and
// outputs. Reset a record with InitInputOptions / InitOutputOptions before filling it.

enum TOptionTargetType { ttIgnore, ttVCD, ttSVCD, ttDVD };
enum TOptionNormType { ntAuto, ntPAL, ntNTSC };
// The norm assumed when a target's norm cannot be guessed: ntPAL or ntNTSC.
using TOptionNormDefault = TOptionNormType;

// The FFmpeg no-timestamp value: a time that is not set.
constexpr int64_t NoTimeValue = INT64_MIN;

struct TInputOptions {
    QString FileName;
    QString ForceFormat;
    int64_t TimeStart = NoTimeValue; // µs
    int ProgramID = -1;
    QString ExtOptions; // name=value lines
    int Tag = 0;
    void* Data = nullptr;
};

struct TStreamInfo {
    // Days since 1899-12-30 in local time: 0 = now, > 0 the creation time, < 0 none.
    double TimeStamp = -1.0;
    int Year = -1, Track = -1;
    QString Title, Author, Copyright, Comment, Album, Genre;
};

struct TOutputOptions {
    QString FileName;
    QString FileExt;
    QString ForceFormat;
    int PacketSize = -1;
    int MuxRate = -1;
    float MuxDelay = -1.0f;
    float MuxPreload = -1.0f;
    QString AudioCodec;
    bool DisableAudio = false;
    int AudioVolume = -1;
    int AudioChannels = -1;
    int AudioSampleRate = -1;
    int AudioBitrate = -1;
    int AudioBitRateTolerance = -1;
    QString AudioLanguage;
    int AudioSyncMethod = 0;
    QString AudioTag;
    QString VideoCodec;
    bool DisableVideo = false;
    QString FrameRate;
    QString FrameSize;
    QString FrameAspectRatio;
    int GroupPictureSize = -1;
    int VideoBitrate = -1;
    int VideoMaxRate = -1;
    int VideoMinRate = -1;
    int VideoBitRateTolerance = -1;
    int VideoBufSize = -1;
    int VideoSyncMethod = -1;
    QString VideoTag;
    QString VideoFilters;
    QString VideoLanguage;
    QString SubtitleCodec;
    bool DisableSubtitle = false;
    QString SubtitleLanguage;
    QString DataCodec;
    QString FilePreset;
    bool InputSync = false;
    bool CopyTimestamp = false;
    int64_t TimeStart = NoTimeValue;
    int64_t TimeLength = NoTimeValue;
    TStreamInfo Info;
    TOptionTargetType TargetType = ttIgnore;
    TOptionNormType NormType = ntAuto;
    TOptionNormDefault NormDefault = ntPAL;
    bool AudioHook = false;
    bool VideoInputHook = false;
    bool VideoOutputHook = false;
    int VideoHookBitsPixel = 24;
    bool FrameInputHook = false;
    bool FrameOutputHook = false;
    bool Join = false;
    QString ExtOptions;
    int Tag = 0;
    void* Data = nullptr;
};

inline void InitInputOptions(TInputOptions* options) {
    *options = TInputOptions();
}
inline void InitOutputOptions(TOutputOptions* options) {
    *options = TOutputOptions();
}
