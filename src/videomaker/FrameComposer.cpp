#include "videomaker/FrameComposer.h"

#include "videomaker/PhotoReader.h"
#include "videomaker/VideoProject.h"

#include <QFileInfo>
#include <QFontMetrics>
#include <QPainter>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <random>

namespace {

constexpr int ShuffleRounds = 200;
constexpr qint64 Second = 1000000;

int TextHeight(const QFont& font) {
    const QImage scratch(1, 1, QImage::Format_RGB888);
    return QFontMetrics(font, &scratch).height();
}

int RowsFor(const TVideoMakeSettings& s, int textHeight) {
    const int area = s.LyricsVideoHeight - s.LyricsMarginTop - s.LyricsMarginBottom;
    const int rowHeight = std::max(textHeight + s.LyricsLineSpacing, 1);
    int rows = std::max((area + s.LyricsLineSpacing) / rowHeight, 1);
    if (s.LyricsMaxLineCount > 0 && s.LyricsMaxLineCount < rows)
        rows = s.LyricsMaxLineCount;
    return rows;
}

int HorizontalFlag(quint8 code) {
    switch (code) {
    case haCenter:
        return Qt::AlignHCenter;
    case haRight:
        return Qt::AlignRight;
    default:
        return Qt::AlignLeft;
    }
}

} // namespace

TFrameComposer& FrameComposer() {
    static TFrameComposer composer;
    return composer;
}

QRect FitPhoto(int w, int h, int frameWidth, int frameHeight) {
    if (w <= 0 || h <= 0)
        return {};
    int drawnWidth = frameWidth, drawnHeight = frameHeight;
    // std::nearbyint rounds an exact half to the even neighbour.
    if (static_cast<double>(frameWidth) / frameHeight >= static_cast<double>(w) / h)
        drawnWidth = static_cast<int>(std::nearbyint(static_cast<double>(w) / h * frameHeight));
    else
        drawnHeight = static_cast<int>(std::nearbyint(static_cast<double>(h) / w * frameWidth));
    const int left = (frameWidth - drawnWidth) / 2;
    const int top = (frameHeight - drawnHeight) / 2;
    return QRect(left, top, drawnWidth, drawnHeight);
}

QImage MakeFrameCanvas() {
    const TVideoMakeSettings& s = VideoMakeSettings();
    QImage canvas(s.LyricsVideoWidth, s.LyricsVideoHeight, QImage::Format_RGB888);
    canvas.fill(ColorFromValue(s.BackGroundColor));
    return canvas;
}

int LyricsTextHeight() {
    return TextHeight(VideoMakeSettings().VideoFont.Font);
}

void TFrameComposer::ResetComposer() {
    FLastRow = -2;
    FLastPhoto.clear();
    FPhotoErrors.clear();
    FUndecodable.clear();
    FHalfFramePeriod = (Second / FrameRate) / 2;
    BuildPhotoOrder();
}

void TFrameComposer::BuildPhotoOrder() {
    FPhotoOrder.clear();
    const QStringList& photos = VideoProject().Photos;
    if (!VideoMakeSettings().PictureRandom) {
        FPhotoOrder = photos;
        return;
    }
    std::mt19937 random(
        static_cast<unsigned>(std::chrono::steady_clock::now().time_since_epoch().count()));
    for (int round = 0; round < ShuffleRounds; ++round) {
        QStringList scratch = photos;
        for (qsizetype k = scratch.size() - 1; k >= 0; --k) {
            std::uniform_int_distribution<qsizetype> pick(0, k);
            scratch.move(pick(random), k);
        }
        if (FPhotoOrder.size() >= 2 && !scratch.isEmpty() && FPhotoOrder.last() == scratch.first())
            scratch.move(0, scratch.size() - 1);
        FPhotoOrder += scratch;
    }
}

int TFrameComposer::RowsPerPage() const {
    const TVideoMakeSettings& s = VideoMakeSettings();
    return RowsFor(s, TextHeight(s.VideoFont.Font));
}

int TFrameComposer::CurrentRow(qint64 t) const {
    const QList<qint64>& times = VideoProject().RowTimes;
    const qint64 u = t - FHalfFramePeriod;
    for (qsizetype i = 0; i < times.size(); ++i)
        if (times.at(i) > u)
            return static_cast<int>(i) - 1;
    return static_cast<int>(times.size()) - 1;
}

QString TFrameComposer::ChoosePhoto(qint64 t) const {
    const TVideoMakeSettings& s = VideoMakeSettings();
    const TVideoProject& p = VideoProject();
    const qint64 n = p.Photos.size();
    const qint64 orderLength = FPhotoOrder.size();
    if (n == 0 || orderLength == 0)
        return {};
    const qint64 duration = std::max(s.PictureDuration, 1);
    qint64 k = 0;
    if (!p.RowTimes.isEmpty() && s.PictureAccording) {
        const qint64 last = p.RowTimes.last();
        if (t <= last + duration * Second)
            k = std::max(CurrentRow(t), 0) / RowsPerPage();
        else
            k = (p.RowTimes.size() - 1) / RowsPerPage() + ((t - last) / Second) / duration;
    } else {
        k = std::max<qint64>((t / Second) / duration, 0);
    }
    if (!s.PictureRepeat && k >= n)
        return {};
    return FPhotoOrder.at(k % orderLength);
}

void TFrameComposer::DrawLyricRows(QImage& canvas, int cur) const {
    const TVideoMakeSettings& s = VideoMakeSettings();
    const QList<TLyricRow>& rows = VideoProject().Rows;
    const int left = s.LyricsMarginLeft, top = s.LyricsMarginTop;
    const int right = canvas.width() - s.LyricsMarginRight;
    const int bottom = canvas.height() - s.LyricsMarginBottom;
    const int area = bottom - top;

    QPainter painter(&canvas);
    painter.setFont(s.VideoFont.Font);
    const int rowHeight = painter.fontMetrics().height() + s.LyricsLineSpacing;
    const int perPage = RowsFor(s, painter.fontMetrics().height());
    int y0 = 0;
    switch (s.VerticalAlignment) {
    case vaTop:
        y0 = top;
        break;
    case vaCenter:
        y0 = (area - perPage * rowHeight + s.LyricsLineSpacing) / 2 + top;
        break;
    default:
        y0 = area - perPage * rowHeight + s.LyricsLineSpacing + top;
        break;
    }
    const int page = cur < 0 ? 0 : cur / perPage;
    const int flags = HorizontalFlag(s.HorizontalAlignment) | Qt::AlignTop | Qt::TextSingleLine |
                      Qt::TextShowMnemonic;
    for (int k = 0; k < perPage; ++k) {
        const qsizetype index = static_cast<qsizetype>(page) * perPage + k;
        if (index >= rows.size())
            break;
        const QRect rect(QPoint(left, y0 + k * rowHeight),
                         QPoint(right - 1, y0 + (k + 1) * rowHeight - 1));
        painter.setPen(ColorFromValue(index == cur ? s.CurrentFontColor : s.VideoFont.Color));
        painter.setClipRect(rect);
        painter.drawText(rect, flags, rows.at(index).Text);
    }
}

void TFrameComposer::DrawPhoto(QImage& canvas) const {
    QPainter painter(&canvas);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    // The rectangle comes from the whole photo's size; the decoded picture may be smaller.
    painter.drawImage(
        FitPhoto(FPhotoSize.width(), FPhotoSize.height(), canvas.width(), canvas.height()), FPhoto);
}

bool TFrameComposer::LoadPhoto(const QString& pic, const QImage& canvas) {
    // A photo known to be undecodable is tried again only when a redraw is forced.
    if (!ForceRedraw && FUndecodable.contains(pic))
        return false;
    const QSize frame = canvas.size();
    TPhotoImage photo = ReadPhoto(pic, [frame](QSize full) {
        return FitPhoto(full.width(), full.height(), frame.width(), frame.height()).size();
    });
    if (photo.Image.isNull()) {
        if (!FUndecodable.contains(pic)) {
            FUndecodable << pic;
            FPhotoErrors << photo.Error;
        }
        return false;
    }
    FPhoto = std::move(photo.Image);
    FPhotoSize = photo.FullSize;
    return true;
}

bool TFrameComposer::MayDraw(qint64 t) const {
    const TVideoProject& p = VideoProject();
    if (ForceRedraw)
        return true;
    if (!p.Photos.isEmpty() && ChoosePhoto(t) != FLastPhoto)
        return true;
    return !p.Rows.isEmpty() && CurrentRow(t) != FLastRow;
}

bool TFrameComposer::ComposeFrame(QImage& canvas, qint64 t) {
    const TVideoProject& p = VideoProject();
    bool drawn = false;
    if (!p.Photos.isEmpty()) {
        const QString pic = ChoosePhoto(t);
        if (pic != FLastPhoto || ForceRedraw) {
            if (pic.isEmpty()) {
                FLastPhoto.clear();
            } else if (QFileInfo::exists(pic)) {
                // A photo that cannot be decoded is passed over like a missing one; its
                // error is kept for the caller to report.
                if (LoadPhoto(pic, canvas)) {
                    FLastPhoto = pic;
                    DrawPhoto(canvas);
                    if (!p.Rows.isEmpty())
                        DrawLyricRows(canvas, CurrentRow(t));
                    drawn = true;
                }
            }
        }
    }
    if (!drawn && !p.Rows.isEmpty()) {
        const int cur = CurrentRow(t);
        if (cur != FLastRow || ForceRedraw) {
            if (!FPhoto.isNull() && !FLastPhoto.isEmpty())
                DrawPhoto(canvas);
            DrawLyricRows(canvas, cur);
            FLastRow = cur;
            drawn = true;
        }
    }
    ForceRedraw = false;
    return drawn;
}
