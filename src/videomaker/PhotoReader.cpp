#include "videomaker/PhotoReader.h"

#include <QImageIOHandler>
#include <QImageReader>

#include <algorithm>

namespace {

// The most memory one photo may take while it is decoded at full size (formats whose
// decoders cannot scale while decoding), in megabytes: about 130 megapixels.
constexpr qint64 FullDecodeLimitMb = 512;

// Raises Qt's image allocation limit for one read and puts it back afterwards.
class TAllocationLimit {
public:
    explicit TAllocationLimit(int megabytes) : FSaved(QImageReader::allocationLimit()) {
        if (FSaved > 0 && megabytes > FSaved)
            QImageReader::setAllocationLimit(megabytes);
    }
    ~TAllocationLimit() { QImageReader::setAllocationLimit(FSaved); }
    TAllocationLimit(const TAllocationLimit&) = delete;
    TAllocationLimit& operator=(const TAllocationLimit&) = delete;

private:
    int FSaved;
};

QString PictureError(const QString& path, const QString& reason) {
    return QStringLiteral("无法读取图片文件 %1：%2").arg(path, reason);
}

} // namespace

TPhotoImage ReadPhoto(const QString& path, const TDrawnSize& drawnSize) {
    TPhotoImage photo;
    QImageReader reader(path);
    reader.setAutoTransform(true);
    const QSize stored = reader.size();
    // A quarter turn swaps the sides: the scaled size is asked in the stored orientation,
    // the decoded picture is turned afterwards.
    const bool quarterTurn =
        (reader.transformation() & QImageIOHandler::TransformationRotate90) != 0;
    qint64 fullBytes = 0;
    if (stored.isValid() && !stored.isEmpty()) {
        const QSize upright = quarterTurn ? stored.transposed() : stored;
        const QSize drawn = drawnSize ? drawnSize(upright) : upright;
        if (!drawn.isEmpty() && drawn.width() <= upright.width() &&
            drawn.height() <= upright.height() && drawn != upright)
            reader.setScaledSize(quarterTurn ? drawn.transposed() : drawn);
        if (!reader.supportsOption(QImageIOHandler::ScaledSize))
            fullBytes = qint64(stored.width()) * stored.height() * 4;
    }
    const qint64 neededMb = (fullBytes >> 20) + 1;
    if (neededMb > FullDecodeLimitMb) {
        photo.Error = PictureError(
            path,
            QStringLiteral("图片太大（%1 × %2 像素）").arg(stored.width()).arg(stored.height()));
        return photo;
    }
    {
        const TAllocationLimit limit(static_cast<int>(neededMb));
        photo.Image = reader.read();
    }
    if (photo.Image.isNull()) {
        photo.Error = PictureError(path, reader.errorString());
        return photo;
    }
    // The size of the whole photo, upright, as the fitting rules need it.
    if (stored.isValid() && !stored.isEmpty())
        photo.FullSize = quarterTurn ? stored.transposed() : stored;
    else
        photo.FullSize = photo.Image.size();
    return photo;
}
