#include "media/FFFinalise.h"

#include "media/FFApi.h"
#include "media/FFErrors.h"

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

// The input, output and temporary file of one pass; freed in any case.
struct TPass {
    AVFormatContext* In = nullptr;
    AVFormatContext* Out = nullptr;
    AVPacket* Packet = nullptr;
    ~TPass() {
        if (Out) {
            if (Out->pb)
                FF.avio_closep(&Out->pb);
            FF.avformat_free_context(Out);
        }
        if (In)
            FF.avformat_close_input(&In);
        if (Packet)
            FF.av_packet_free(&Packet);
    }
};

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
    int ret = FF.avformat_open_input(&pass.In, name.constData(), nullptr, nullptr);
    if (ret < 0)
        return failCode(ret);
    // The index of a fragmented file leaves some parameters (the picture size) to the
    // first packets.
    if ((ret = FF.avformat_find_stream_info(pass.In, nullptr)) < 0)
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

    ret = FF.avformat_alloc_output_context2(&pass.Out, nullptr, nullptr, name.constData());
    if (ret < 0 || !pass.Out)
        return failCode(ret < 0 ? ret : AVERROR_MUXER_NOT_FOUND);
    std::vector<int> map(pass.In->nb_streams, -1);
    for (unsigned i = 0; i < pass.In->nb_streams; ++i) {
        const AVStream* in = pass.In->streams[i];
        const AVMediaType type = in->codecpar->codec_type;
        if (type != AVMEDIA_TYPE_VIDEO && type != AVMEDIA_TYPE_AUDIO &&
            type != AVMEDIA_TYPE_SUBTITLE)
            continue;
        AVStream* out = FF.avformat_new_stream(pass.Out, nullptr);
        if (!out)
            return failCode(AVERROR(ENOMEM));
        if ((ret = FF.avcodec_parameters_copy(out->codecpar, in->codecpar)) < 0)
            return failCode(ret);
        out->codecpar->codec_tag = 0; // the writer picks the tag of its own format
        out->time_base = in->time_base;
        out->avg_frame_rate = in->avg_frame_rate;
        out->r_frame_rate = in->r_frame_rate;
        out->disposition = in->disposition;
        FF.av_dict_copy(&out->metadata, in->metadata, 0);
        map[i] = out->index;
    }
    FF.av_dict_copy(&pass.Out->metadata, pass.In->metadata, 0);

    if ((ret = FF.avio_open2(&pass.Out->pb, tempPath.constData(), AVIO_FLAG_WRITE, nullptr,
                             nullptr)) < 0)
        return fail(FFErrorText(tempName, ret));
    if ((ret = FF.avformat_write_header(pass.Out, nullptr)) < 0)
        return fail(FFErrorText(tempName, ret));

    pass.Packet = FF.av_packet_alloc();
    if (!pass.Packet)
        return failCode(AVERROR(ENOMEM));
    while ((ret = FF.av_read_frame(pass.In, pass.Packet)) >= 0) {
        const int index = pass.Packet->stream_index;
        if (index < 0 || size_t(index) >= map.size() || map[size_t(index)] < 0) {
            FF.av_packet_unref(pass.Packet);
            continue;
        }
        const int outIndex = map[size_t(index)];
        FF.av_packet_rescale_ts(pass.Packet, pass.In->streams[index]->time_base,
                                pass.Out->streams[outIndex]->time_base);
        pass.Packet->stream_index = outIndex;
        pass.Packet->pos = -1;
        ret = FF.av_interleaved_write_frame(pass.Out, pass.Packet); // takes the packet
        if (ret >= 0 && pass.Out->pb->error < 0)
            ret = pass.Out->pb->error;
        if (ret < 0)
            return fail(FFErrorText(tempName, ret));
    }
    if (ret != AVERROR_EOF)
        return failCode(ret);
    if ((ret = FF.av_write_trailer(pass.Out)) < 0 || (ret = pass.Out->pb->error) < 0)
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
