#include "media/FFFinalise.h"

#include "media/FFErrors.h"
#include "media/FFOwners.h"

#include <QFile>
#include <QFileInfo>
#include <QTemporaryFile>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

namespace {

uint32_t BigEndian32(const unsigned char* p) {
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | uint32_t(p[3]);
}

// The input, output and packet of one pass; freed in any case.
struct TPass {
    TInputContextPtr In;
    TFormatContextPtr Out;
    TPacketPtr Packet;
};

// Adds to the output a copy of every video, audio and subtitle stream of the input;
// `map` says which output stream each input stream goes to (-1: none). 0 or FFmpeg's
// error code.
int CopyStreams(TPass& pass, std::vector<int>& map) {
    map.assign(pass.In->nb_streams, -1);
    for (unsigned i = 0; i < pass.In->nb_streams; ++i) {
        const AVStream* in = pass.In->streams[i];
        const AVMediaType type = in->codecpar->codec_type;
        if (type != AVMEDIA_TYPE_VIDEO && type != AVMEDIA_TYPE_AUDIO &&
            type != AVMEDIA_TYPE_SUBTITLE)
            continue;
        AVStream* out = FF.avformat_new_stream(pass.Out.get(), nullptr);
        if (!out)
            return AVERROR(ENOMEM);
        if (const int ret = FF.avcodec_parameters_copy(out->codecpar, in->codecpar); ret < 0)
            return ret;
        out->codecpar->codec_tag = 0; // the writer picks the tag of its own format
        out->time_base = in->time_base;
        out->avg_frame_rate = in->avg_frame_rate;
        out->r_frame_rate = in->r_frame_rate;
        out->disposition = in->disposition;
        FF.av_dict_copy(&out->metadata, in->metadata, 0);
        map[i] = out->index;
    }
    FF.av_dict_copy(&pass.Out->metadata, pass.In->metadata, 0);
    return 0;
}

// Copies every packet of the mapped streams. AVERROR_EOF when all are copied; a read
// error (negative), or a write error with `writeFailed` set.
int CopyPackets(TPass& pass, const std::vector<int>& map, bool& writeFailed) {
    writeFailed = false;
    AVPacket* pkt = pass.Packet.get();
    int ret;
    while ((ret = FF.av_read_frame(pass.In.get(), pkt)) >= 0) {
        const int index = pkt->stream_index;
        if (index < 0 || size_t(index) >= map.size() || map[size_t(index)] < 0) {
            FF.av_packet_unref(pkt);
            continue;
        }
        const int outIndex = map[size_t(index)];
        FF.av_packet_rescale_ts(pkt, pass.In->streams[index]->time_base,
                                pass.Out->streams[outIndex]->time_base);
        pkt->stream_index = outIndex;
        pkt->pos = -1;
        ret = FF.av_interleaved_write_frame(pass.Out.get(), pkt); // takes the packet
        if (ret >= 0 && pass.Out->pb->error < 0)
            ret = pass.Out->pb->error;
        if (ret < 0) {
            writeFailed = true;
            return ret;
        }
    }
    return ret;
}

// Writes the file's data through to the disk, so the rename cannot outlive it.
bool SyncFile(const QString& fileName) {
    const int fd = ::open(QFile::encodeName(fileName).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool ok = ::fsync(fd) == 0;
    ::close(fd);
    return ok;
}

} // namespace

bool IsFragmentedMovFile(const QString& fileName) {
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const qint64 size = file.size();
    qint64 at = 0;
    while (at + 8 <= size) {
        unsigned char head[16];
        if (!file.seek(at) || file.read(reinterpret_cast<char*>(head), 8) != 8)
            return false;
        uint64_t boxSize = BigEndian32(head);
        if (std::memcmp(head + 4, "moof", 4) == 0)
            return true;
        if (boxSize == 1) { // a 64-bit size follows the type
            if (file.read(reinterpret_cast<char*>(head + 8), 8) != 8)
                return false;
            boxSize = uint64_t(BigEndian32(head + 8)) << 32 | BigEndian32(head + 12);
        } else if (boxSize == 0) { // the box runs to the end of the file
            return false;
        }
        if (boxSize < 8)
            return false;
        at += qint64(boxSize);
    }
    return false;
}

bool FinaliseFragmentedFile(const QString& fileName, QString* error) {
    auto fail = [&](const QString& message) {
        if (error)
            *error = message;
        return false;
    };
    auto failCode = [&](int code) { return fail(FFErrorText(fileName, code)); };
    if (!FF.avformat_open_input)
        return fail(QStringLiteral("The FFmpeg libraries are not loaded."));
    if (!IsFragmentedMovFile(fileName))
        return true;

    const QFileInfo info(fileName);
    const QByteArray name = QFile::encodeName(info.absoluteFilePath());
    TPass pass;
    AVFormatContext* in = nullptr;
    int ret = FF.avformat_open_input(&in, name.constData(), nullptr, nullptr);
    pass.In.reset(in);
    if (ret < 0)
        return failCode(ret);
    // The index of a fragmented file leaves some parameters (the picture size) to the
    // first packets.
    if ((ret = FF.avformat_find_stream_info(pass.In.get(), nullptr)) < 0)
        return failCode(ret);

    // The temporary file: same folder (so the rename stays on one file system), hidden,
    // removed again unless the pass succeeds.
    QTemporaryFile temp(info.absolutePath() + QStringLiteral("/.") + info.fileName() +
                        QStringLiteral(".XXXXXX"));
    if (!temp.open())
        return fail(QStringLiteral("%1: %2").arg(temp.fileTemplate(), temp.errorString()));
    const QString tempName = temp.fileName();
    temp.close();
    const QByteArray tempPath = QFile::encodeName(tempName);

    AVFormatContext* out = nullptr;
    ret = FF.avformat_alloc_output_context2(&out, nullptr, nullptr, name.constData());
    pass.Out.reset(out);
    if (ret < 0 || !pass.Out)
        return failCode(ret < 0 ? ret : AVERROR_MUXER_NOT_FOUND);
    std::vector<int> map;
    if ((ret = CopyStreams(pass, map)) < 0)
        return failCode(ret);
    if ((ret = FF.avio_open2(&pass.Out->pb, tempPath.constData(), AVIO_FLAG_WRITE, nullptr,
                             nullptr)) < 0)
        return fail(FFErrorText(tempName, ret));
    if ((ret = FF.avformat_write_header(pass.Out.get(), nullptr)) < 0)
        return fail(FFErrorText(tempName, ret));

    pass.Packet.reset(FF.av_packet_alloc());
    if (!pass.Packet)
        return failCode(AVERROR(ENOMEM));
    bool writeFailed = false;
    ret = CopyPackets(pass, map, writeFailed);
    if (writeFailed)
        return fail(FFErrorText(tempName, ret));
    if (ret != AVERROR_EOF)
        return failCode(ret);
    if ((ret = FF.av_write_trailer(pass.Out.get())) < 0 || (ret = pass.Out->pb->error) < 0)
        return fail(FFErrorText(tempName, ret));
    if ((ret = FF.avio_closep(&pass.Out->pb)) < 0)
        return fail(FFErrorText(tempName, ret));

    // The finished file keeps the permissions of the recording it replaces.
    QFile::setPermissions(tempName, QFile::permissions(fileName));
    if (!SyncFile(tempName))
        return fail(
            QStringLiteral("%1: %2").arg(tempName, QString::fromLocal8Bit(strerror(errno))));
    if (std::rename(tempPath.constData(), name.constData()) != 0)
        return fail(
            QStringLiteral("%1: %2").arg(fileName, QString::fromLocal8Bit(strerror(errno))));
    temp.setAutoRemove(false);
    return true;
}
