// Stream set-up before the loop: which input stream feeds which output stream (by the
// "map" options, part by part when joining, else by type), which inputs are read and
// decoded, and the order in which encoders, decoders and headers are opened.

#include "media/job/JobState.h"

#include "media/FFLog.h"
#include "media/FrameHook.h"

void TJob::SetupStreams() {
    for (size_t i = 0; i < FOutputFiles.size(); ++i)
        if (FOutputFiles[i]->nb_streams == 0)
            FFRaise("Output file #%d does not contain any stream", int(i));
    MapStreams();
    MarkStreamsRead();
    RefuseCopyWithHooks();
    for (auto& ost : FOutputStreams) {
        const TInputStream& ist = *FInputStreams[size_t(ost->source_index)];
        AVFormatContext* oc = FOutputFiles[size_t(ost->file_index)]->ctx.get();
        if (!ost->language.isEmpty())
            FF.av_dict_set(&ost->st->metadata, "language", ost->language.toUtf8().constData(), 0);
        if (ost->stream_copy)
            CopyStreamParameters(*ost, ist, oc);
        else
            SetEncoderParameters(*ost);
    }
    OpenEncoders();
    OpenDecoders();
    CopyMetadata();
    WriteHeaders();
    LogStreamMapping();
}

void TJob::MapStreams() {
    if (!FStreamMaps.empty()) {
        MapByTable();
    } else if (FJoinMode) {
        MapJoinPart(0);
        for (auto& ost : FOutputStreams)
            if (ost->source_index < 0)
                FFRaise("Could not find input stream matching output stream #%d.%d (%s)",
                        ost->file_index, ost->index, TypeName(ost->type));
    } else {
        MapByType();
    }
}

void TJob::MapByTable() {
    if (FStreamMaps.size() != FOutputStreams.size())
        FFRaise("Number of stream maps must match number of output streams");
    const int inputs = int(FInputFiles.size());
    for (size_t i = 0; i < FOutputStreams.size(); ++i) {
        TOutputStream& ost = *FOutputStreams[i];
        const TStreamMap& map = FStreamMaps[i];
        if (map.FileIndex < 0 || map.FileIndex >= inputs || map.StreamIndex < 0 ||
            map.StreamIndex >= FInputFiles[size_t(map.FileIndex)]->nb_streams)
            FFRaise("Could not find input stream #%d.%d", map.FileIndex, map.StreamIndex);
        if (map.SyncFileIndex < 0 || map.SyncFileIndex >= inputs || map.SyncStreamIndex < 0 ||
            map.SyncStreamIndex >= FInputFiles[size_t(map.SyncFileIndex)]->nb_streams)
            FFRaise("Could not find sync stream #%d.%d", map.SyncFileIndex, map.SyncStreamIndex);
        const int index = FInputFiles[size_t(map.FileIndex)]->ist_index + map.StreamIndex;
        const AVMediaType itype = FInputStreams[size_t(index)]->st->codecpar->codec_type;
        if (itype != ost.type)
            FFRaise("Codec type mismatch for mapping #%d.%d (%s) -> #%d.%d (%s)", map.FileIndex,
                    map.StreamIndex, TypeName(itype), ost.file_index, ost.index,
                    TypeName(ost.type));
        ost.source_index = index;
    }
}

void TJob::MapByType() {
    for (auto& ost : FOutputStreams) {
        // the first input stream of its type not yet taken, else any of its type
        int found = -1;
        for (size_t j = 0; j < FInputStreams.size() && found < 0; ++j) {
            TInputStream& ist = *FInputStreams[j];
            if (ist.st->codecpar->codec_type == ost->type && !ist.used &&
                ist.st->discard != AVDISCARD_ALL)
                found = int(j);
        }
        for (size_t j = 0; j < FInputStreams.size() && found < 0; ++j) {
            TInputStream& ist = *FInputStreams[j];
            if (ist.st->codecpar->codec_type == ost->type && ist.st->discard != AVDISCARD_ALL)
                found = int(j);
        }
        if (found < 0)
            FFRaise("Could not find input stream matching output stream #%d.%d (%s)",
                    ost->file_index, ost->index, TypeName(ost->type));
        ost->source_index = found;
        FInputStreams[size_t(found)]->used = true;
    }
}

void TJob::MapJoinPart(int part) {
    // Every output stream takes the first stream of its type of the part's input.
    for (auto& ost : FOutputStreams) {
        ost->source_index = -1;
        ost->closed = false;
        const TInputFile& file = *FInputFiles[size_t(part)];
        for (int i = 0; i < file.nb_streams; ++i) {
            TInputStream& ist = *FInputStreams[size_t(file.ist_index + i)];
            if (ist.st->codecpar->codec_type == ost->type) {
                ost->source_index = file.ist_index + i;
                break;
            }
        }
        if (ost->source_index < 0)
            ost->closed = true;
    }
}

void TJob::MarkStreamsRead() {
    // in join mode every part's streams of a mapped type are read
    for (auto& ist : FInputStreams) {
        ist->discard = true;
        ist->used = false;
    }
    for (auto& ost : FOutputStreams) {
        if (FJoinMode) {
            for (auto& ist : FInputStreams)
                if (ist->st->codecpar->codec_type == ost->type) {
                    ist->discard = false;
                    ist->used = true;
                    if (ost->encoding_needed)
                        ist->decoding_needed = true;
                }
        } else if (ost->source_index >= 0) {
            TInputStream& ist = *FInputStreams[size_t(ost->source_index)];
            ist.discard = false;
            ist.used = true;
            if (ost->encoding_needed)
                ist.decoding_needed = true;
        }
    }
    for (auto& ist : FInputStreams)
        if (ist->discard)
            ist->st->discard = AVDISCARD_ALL;
}

void TJob::RefuseCopyWithHooks() {
    // refusals of stream copy with processing of decoded frames
    for (auto& ost : FOutputStreams) {
        if (!ost->stream_copy)
            continue;
        if (ost->type == AVMEDIA_TYPE_VIDEO) {
            if (FOwner.OnInputVideoHook || FOwner.OnOutputVideoHook)
                FFRaise("-vcodec copy and VideoHook are incompatible (frames are not decoded)");
            if (FOwner.OnInputFrameHook || FOwner.OnOutputFrameHook)
                FFRaise("-vcodec copy and FrameHook are incompatible (frames are not decoded)");
            if (FHookChain && !FHookChain->Empty())
                FFRaise("-vcodec copy and -vhook are incompatible (frames are not decoded)");
            if (FOwner.PostHooks() & (phPreview | phBitmap))
                FFRaise("-vcodec copy and PostHooks are incompatible (frames are not decoded)");
        } else if (ost->type == AVMEDIA_TYPE_AUDIO) {
            if (FAudioVolume != 256)
                FFRaise("-acodec copy and -vol are incompatible (frames are not decoded)");
            if (FOwner.OnAudioHook)
                FFRaise("-acodec copy and AudioHook are incompatible (frames are not decoded)");
        } else if (ost->type != AVMEDIA_TYPE_SUBTITLE && ost->type != AVMEDIA_TYPE_DATA) {
            FFRaise("invalid codec_type of output stream");
        }
    }
}

void TJob::LogStreamMapping() {
    FFLogger().Log(nullptr, llVerbose, QStringLiteral("Stream mapping:"));
    for (auto& ost : FOutputStreams) {
        const TInputStream& ist = *FInputStreams[size_t(ost->source_index)];
        const QString how = ost->stream_copy
                                ? QStringLiteral("copy")
                                : QStringLiteral("%1 -> %2")
                                      .arg(QString::fromUtf8(ist.dec ? ist.dec->codec->name : "?"),
                                           QString::fromUtf8(ost->codec->name));
        FFLogger().Log(nullptr, llVerbose, "  Stream #%d.%d -> #%d.%d (%s)", ist.file_index,
                       ist.st->index, ost->file_index, ost->index, how.toUtf8().constData());
    }
}
