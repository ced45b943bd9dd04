#pragma once

#include <QImage>
#include <QSize>
#include <QString>

#include <functional>

// Reading a photo the way it is shown: turned upright by its EXIF orientation and
// decoded at the size it is drawn, so a photo of tens of megapixels costs no more
// memory than its picture on the screen.

// A decoded photo.
struct TPhotoImage {
    QImage Image;   // upright; at most the drawn size when the photo is larger
    QSize FullSize; // the upright size of the whole photo in pixels
    QString Error;  // the picture error when it could not be decoded (Image is null then)
};

// Maps the upright size of a photo to the size it is drawn at.
using TDrawnSize = std::function<QSize(QSize fullSize)>;

// Decodes the photo `path` upright. A photo larger than `drawnSize` of its size is
// decoded straight at that size (smoothly scaled); a smaller one at its own size. On
// failure Error reads "无法读取图片文件 <path>：<reason>". Main thread only (it adjusts
// Qt's process-wide image allocation limit for formats without scaled decoding).
TPhotoImage ReadPhoto(const QString& path, const TDrawnSize& drawnSize);
