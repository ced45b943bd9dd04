#pragma once

#include <QImage>
#include <QRect>
#include <QString>
#include <QStringList>

class QPainter;

// The frame composer: draws the picture of the lyrics video for one moment of the song,
// the photo of that moment scaled into the frame and one page of lyric rows with the
// current row in its own colour. It reads the live settings (VideoMakeSettings()) and the
// current project (VideoProject(): Rows, RowTimes, Photos) at every call and redraws only
// when the photo or the current row changed.
//
// Use (the preview window and the production dialog):
//   TFrameComposer& c = FrameComposer();
//   c.ResetComposer();                       // when the window opens / production starts
//   QImage canvas = MakeFrameCanvas();       // before every call
//   if (c.ComposeFrame(canvas, t)) show or send `canvas`; else keep the last one.
// After a settings change set ForceRedraw before asking for the next frame.
//
// Times are microseconds from the start of the song. Main thread only; not locked.
class TFrameComposer {
public:
    // The frame rate of lyrics videos.
    static constexpr int FrameRate = 2;

    // The next ComposeFrame draws even when nothing changed; cleared by every call.
    bool ForceRedraw = false;

    // Starts over: the first call draws; photo order rebuilt.
    void ResetComposer();
    // Rebuilds the showing order of the photos: the list order, or with PictureRandom 200
    // shuffles one after another where a shuffle never starts with the photo that ended
    // the one before (unless there is only one photo).
    void BuildPhotoOrder();
    // Forgets the photo drawn last, so the next call loads and draws its photo again.
    void ForgetLastPhoto() { FLastPhoto.clear(); }

    // The number of rows shown at once (at least 1).
    int RowsPerPage() const;
    // The index of the current row at `t` (shifted back by half a frame period), -1 when
    // none.
    int CurrentRow(qint64 t) const;
    // The photo path for `t`, or empty for no photo.
    QString ChoosePhoto(qint64 t) const;
    // Draws one page of rows (the page of `cur`) onto `canvas`.
    void DrawLyricRows(QImage& canvas, int cur) const;
    // `canvas` is of the video size and already filled with the background colour. True
    // when it drew; false when nothing changed (the caller keeps its last picture).
    bool ComposeFrame(QImage& canvas, qint64 t);
    // False when ComposeFrame(t) would not draw because neither the photo nor the current
    // row changed: the caller keeps its last picture without making a canvas. (True does
    // not promise a drawing: a photo may turn out undecodable.)
    bool MayDraw(qint64 t) const;

    const QStringList& PhotoOrder() const { return FPhotoOrder; }
    // The picture errors of the photos that could not be decoded since the last reset,
    // one for each such photo, in the order they came up. The frames pass such a photo
    // over as if it were missing.
    const QStringList& PhotoErrors() const { return FPhotoErrors; }
    const QString& LastPhoto() const { return FLastPhoto; }
    qint64 HalfFramePeriod() const { return FHalfFramePeriod; }

private:
    QStringList FPhotoOrder;
    QString FLastPhoto;
    QImage FPhoto;    // the decoded LastPhoto, at most at the size it is drawn
    QSize FPhotoSize; // the upright size of the whole LastPhoto
    QStringList FPhotoErrors;
    QStringList FUndecodable; // the photos that gave FPhotoErrors
    int FLastRow = -2;
    qint64 FHalfFramePeriod = (1000000 / FrameRate) / 2;

    void DrawPhoto(QImage& canvas) const;
    // Decodes `pic` for `canvas` into FPhoto; false (noting the error once) when it
    // cannot be decoded.
    bool LoadPhoto(const QString& pic, const QImage& canvas);
};

// The composer of the program, shared by the preview window and the production dialog
// (only one of them runs at a time).
TFrameComposer& FrameComposer();

// The rectangle of a `w` x `h` photo stretched into a `frameWidth` x `frameHeight` frame
// keeping its proportions, centred (nearest integer sizes, an exact half to the even).
QRect FitPhoto(int w, int h, int frameWidth, int frameHeight);

// A canvas of the video size filled with the background colour (24-bit RGB).
QImage MakeFrameCanvas();

// The row height of the video font (text height of "A") measured as the frames draw it.
int LyricsTextHeight();
