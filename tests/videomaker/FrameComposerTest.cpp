#include "videomaker/FrameComposer.h"
#include "support/Sandbox.h"
#include "videomaker/LyricText.h"
#include "videomaker/VideoProject.h"

#include <QPainter>
#include <gtest/gtest.h>

#include <set>

namespace {

QString S(const char* utf8) {
    return QString::fromUtf8(utf8);
}

const QColor Navy(0, 0, 128), White(255, 255, 255), Yellow(255, 255, 0);

// Default settings with a font of the test machine, an empty project and a fresh
// composer for each test.
class Composer : public testing::Test {
protected:
    void SetUp() override {
        ResetVideoMakeSettings();
        VideoMakeSettings().VideoFont.Font.setFamily(S("DejaVu Sans"));
        Clear();
    }
    void TearDown() override {
        Clear();
        ResetVideoMakeSettings();
    }
    static void Clear() {
        TVideoProject& p = VideoProject();
        p.LyricText.clear();
        p.Photos.clear();
        p.SetRows({});
    }
    void SetLyrics(const QString& text) {
        VideoProject().LyricText = text;
        LayoutLyricRows();
    }
    // A photo of one solid colour.
    QString Photo(const char* name, QColor color, int w = 64, int h = 48) {
        QImage img(w, h, QImage::Format_RGB32);
        img.fill(color);
        const QString path = FBox.File(QLatin1StringView(name));
        EXPECT_TRUE(img.save(path, "PNG"));
        return path;
    }
    // The frame at `t` as a caller makes it: fresh canvas, then the composer. Whenever it
    // draws, MayDraw said so beforehand (the production skips the frame otherwise).
    bool Frame(qint64 t, QImage* out = nullptr) {
        QImage canvas = MakeFrameCanvas();
        const bool may = FComposer.MayDraw(t);
        const bool drew = FComposer.ComposeFrame(canvas, t);
        EXPECT_TRUE(may || !drew) << "drew at " << t << " after MayDraw said no";
        if (out)
            *out = canvas;
        return drew;
    }

    TSandbox FBox;
    TFrameComposer FComposer;
};

bool Near(QColor a, QColor b, int tolerance = 40) {
    return std::abs(a.red() - b.red()) <= tolerance &&
           std::abs(a.green() - b.green()) <= tolerance &&
           std::abs(a.blue() - b.blue()) <= tolerance;
}

// The rows of the image holding a pixel near `color`, and their columns' range.
struct TInk {
    int Top = -1, Bottom = -1, Left = -1, Right = -1;
    bool Found() const { return Top >= 0; }
};

TInk InkOf(const QImage& img, QColor color, QRect area = {}) {
    if (area.isNull())
        area = img.rect();
    TInk ink;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            if (Near(img.pixelColor(x, y), color, 10)) {
                if (ink.Top < 0)
                    ink.Top = y, ink.Left = x, ink.Right = x;
                ink.Bottom = y;
                ink.Left = std::min(ink.Left, x);
                ink.Right = std::max(ink.Right, x);
            }
    return ink;
}

} // namespace

TEST(FitPhotoRect, ProportionsAndRounding) {
    // Wider than the frame: full width, bars above and below.
    EXPECT_EQ(FitPhoto(400, 100, 320, 240), QRect(0, 80, 320, 80));
    // Taller: full height, bars at the sides.
    EXPECT_EQ(FitPhoto(100, 200, 320, 240), QRect(100, 0, 120, 240));
    EXPECT_EQ(FitPhoto(640, 480, 320, 240), QRect(0, 0, 320, 240));
    // 3/8 x 12 = 4.5 goes to the even 4; 5/8 x 12 = 7.5 to 8.
    EXPECT_EQ(FitPhoto(3, 8, 100, 12).width(), 4);
    EXPECT_EQ(FitPhoto(5, 8, 100, 12).width(), 8);
    EXPECT_EQ(FitPhoto(8, 3, 12, 100).height(), 4);
    EXPECT_EQ(FitPhoto(3, 8, 100, 12).left(), 48);
}

TEST_F(Composer, RowsPerPageFromTextHeight) {
    TVideoMakeSettings& s = VideoMakeSettings();
    s.LyricsMaxLineCount = 0;
    s.LyricsLineSpacing = 4;
    s.LyricsMarginTop = s.LyricsMarginBottom = 8; // text area 224 pixels
    // A font whose text height is 16: (224 + 4) div 20 = 11 rows.
    int pixelSize = 0;
    for (int px = 8; px < 30 && pixelSize == 0; ++px) {
        s.VideoFont.Font.setPixelSize(px);
        if (LyricsTextHeight() == 16)
            pixelSize = px;
    }
    ASSERT_NE(pixelSize, 0);
    EXPECT_EQ(FComposer.RowsPerPage(), 11);
    s.LyricsMaxLineCount = 3;
    EXPECT_EQ(FComposer.RowsPerPage(), 3);
    s.LyricsMaxLineCount = 50;
    EXPECT_EQ(FComposer.RowsPerPage(), 11);
    // No room at all still shows one row.
    s.LyricsMaxLineCount = 0;
    s.LyricsMarginTop = s.LyricsMarginBottom = 120;
    EXPECT_EQ(FComposer.RowsPerPage(), 1);
}

TEST_F(Composer, CurrentRowShiftedByHalfAFrame) {
    SetLyrics(S("[00:05.00]a\r\n[00:10.00]b\r\n[00:20.00]c\r\n"));
    FComposer.ResetComposer();
    EXPECT_EQ(FComposer.HalfFramePeriod(), 250000);
    EXPECT_EQ(FComposer.CurrentRow(0), -1);
    EXPECT_EQ(FComposer.CurrentRow(5000000), -1);
    EXPECT_EQ(FComposer.CurrentRow(5249999), -1);
    EXPECT_EQ(FComposer.CurrentRow(5250000), 0);
    // The frame at 10.0 s still shows the row before; the one at 10.5 s shows the row.
    EXPECT_EQ(FComposer.CurrentRow(10000000), 0);
    EXPECT_EQ(FComposer.CurrentRow(10500000), 1);
    EXPECT_EQ(FComposer.CurrentRow(99000000), 2);
    Clear();
    EXPECT_EQ(FComposer.CurrentRow(1000000), -1);
}

TEST_F(Composer, UntimedRowsNeverStopTheWalk) {
    // An untimed row has time 0: once past the row before it, it is current until the
    // next timed row.
    SetLyrics(S("[00:05.00]a\r\nuntimed\r\n[00:20.00]c\r\n"));
    FComposer.ResetComposer();
    EXPECT_EQ(FComposer.CurrentRow(1000000), -1);
    EXPECT_EQ(FComposer.CurrentRow(6000000), 1);
    EXPECT_EQ(FComposer.CurrentRow(21000000), 2);
}

TEST_F(Composer, DefaultLayoutTwoCentredRowsAtTheBottom) {
    SetLyrics(S("[00:01.00]Hello\r\n[00:10.00]World\r\n[00:20.00]Third\r\n"));
    FComposer.ResetComposer();
    QImage frame;
    ASSERT_TRUE(Frame(10500000, &frame)); // row 1 ("World") current
    const TInk yellow = InkOf(frame, Yellow), white = InkOf(frame, White);
    ASSERT_TRUE(yellow.Found());
    ASSERT_TRUE(white.Found());
    // Current row (the second) below the other one, both in the lower part of the frame,
    // the last ending at the bottom margin.
    EXPECT_GT(yellow.Top, white.Bottom);
    EXPECT_GT(white.Top, 240 / 2);
    EXPECT_LE(yellow.Bottom, 240 - 8);
    EXPECT_GE(yellow.Bottom, 240 - 8 - 12);
    // Centred: ink as far from the left edge as from the right (within a few pixels).
    for (const TInk& ink : {yellow, white})
        EXPECT_NEAR(ink.Left, 320 - 1 - ink.Right, 4);
    // Everything else is background.
    EXPECT_EQ(frame.pixelColor(5, 5), Navy);
    EXPECT_EQ(frame.format(), QImage::Format_RGB888);

    // Row 2 starts the second page: it stands alone in the first place of that page.
    ASSERT_TRUE(Frame(20500000, &frame));
    const TInk third = InkOf(frame, Yellow);
    EXPECT_NEAR(third.Top, white.Top, 3);
    EXPECT_FALSE(InkOf(frame, White).Found());
}

TEST_F(Composer, AlignmentsMoveTheRows) {
    SetLyrics(S("[00:00.00]Left\r\n"));
    TVideoMakeSettings& s = VideoMakeSettings();
    s.VerticalAlignment = vaTop;
    s.HorizontalAlignment = haLeft;
    FComposer.ResetComposer();
    QImage frame;
    ASSERT_TRUE(Frame(1000000, &frame));
    TInk ink = InkOf(frame, Yellow);
    EXPECT_LT(ink.Top, 8 + 10);
    EXPECT_GE(ink.Left, 8);
    EXPECT_LT(ink.Left, 8 + 4);

    s.HorizontalAlignment = haRight;
    s.VerticalAlignment = vaCenter;
    s.LyricsMaxLineCount = 1; // a block of one row: the row itself is centred
    FComposer.ForceRedraw = true;
    ASSERT_TRUE(Frame(1000000, &frame));
    ink = InkOf(frame, Yellow);
    EXPECT_LE(ink.Right, 320 - 8);
    EXPECT_GT(ink.Right, 320 - 8 - 4);
    EXPECT_NEAR((ink.Top + ink.Bottom) / 2, 120, 12);
}

TEST_F(Composer, AmpersandsAndClipping) {
    TVideoMakeSettings& s = VideoMakeSettings();
    s.HorizontalAlignment = haLeft;
    s.LyricsMarginLeft = s.LyricsMarginRight = 40;
    // "&&" draws one ampersand; "&" alone is not drawn. Two texts that differ only in
    // that way draw the same picture.
    const auto draw = [&](const char* text) {
        VideoProject().SetRows({{S("1"), S("[00:00.00]"), S(text)}});
        FComposer.ResetComposer();
        QImage frame;
        EXPECT_TRUE(Frame(1000000, &frame));
        return frame;
    };
    const QImage single = draw("R&&B");
    const QImage plain = draw("R&B");
    EXPECT_NE(single, plain);
    const QImage mnemonic = draw("R&B"), noAmp = draw("RB");
    // "&B" underlines the B, so the pictures differ only below the baseline.
    EXPECT_NE(mnemonic, noAmp);
    // A row far wider than the text area is cut at the margins.
    const QImage wide = draw("WWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWW");
    const TInk ink = InkOf(wide, Yellow);
    EXPECT_GE(ink.Left, 40);
    EXPECT_LE(ink.Right, 320 - 40 - 1);
    EXPECT_GT(ink.Right, 320 - 40 - 10);
}

TEST_F(Composer, NoRedrawWhenNothingChanged) {
    SetLyrics(S("[00:01.00]a\r\n[00:02.00]b\r\n"));
    FComposer.ResetComposer();
    EXPECT_TRUE(FComposer.MayDraw(500000));
    EXPECT_TRUE(Frame(500000)); // first call always draws (row -1)
    EXPECT_FALSE(FComposer.MayDraw(500000));
    EXPECT_FALSE(Frame(500000)); // same moment
    EXPECT_FALSE(FComposer.MayDraw(1000000));
    EXPECT_FALSE(Frame(1000000)); // still row -1 because of the half-frame shift
    EXPECT_TRUE(FComposer.MayDraw(1500000));
    EXPECT_TRUE(Frame(1500000)); // row 0
    EXPECT_FALSE(Frame(1500000));
    FComposer.ForceRedraw = true;
    EXPECT_TRUE(FComposer.MayDraw(1500000));
    EXPECT_TRUE(Frame(1500000));
    EXPECT_FALSE(FComposer.ForceRedraw);
    EXPECT_FALSE(Frame(1500000));
    // Without lyrics and photos nothing is ever drawn.
    Clear();
    FComposer.ResetComposer();
    EXPECT_FALSE(Frame(0));
}

TEST_F(Composer, PhotosFollowTheClockWithoutLyrics) {
    const QColor colors[] = {QColor(255, 0, 0), QColor(0, 255, 0), QColor(0, 0, 255)};
    VideoProject().Photos = {Photo("r.png", colors[0]), Photo("g.png", colors[1]),
                             Photo("b.png", colors[2])};
    FComposer.ResetComposer();
    const auto centre = [&](qint64 seconds, bool* drew) {
        QImage frame;
        *drew = Frame(seconds * 1000000, &frame);
        return frame.pixelColor(160, 120);
    };
    bool drew = false;
    EXPECT_EQ(centre(0, &drew), colors[0]);
    EXPECT_TRUE(drew);
    centre(4, &drew);
    EXPECT_FALSE(drew);
    EXPECT_EQ(centre(5, &drew), colors[1]);
    EXPECT_EQ(centre(10, &drew), colors[2]);
    EXPECT_EQ(centre(15, &drew), colors[0]); // repeat: the first comes back
    EXPECT_EQ(centre(29, &drew), colors[2]);

    VideoMakeSettings().PictureRepeat = false;
    FComposer.ResetComposer();
    EXPECT_EQ(centre(14, &drew), colors[2]);
    EXPECT_TRUE(drew);
    centre(15, &drew);
    EXPECT_FALSE(drew); // no photo from 15 s on: the caller keeps the last picture
    EXPECT_EQ(FComposer.ChoosePhoto(15000000), QString());
    EXPECT_EQ(FComposer.ChoosePhoto(29000000), QString());
}

TEST_F(Composer, PhotosFollowTheLyricPages) {
    const QString first = Photo("1.png", QColor(200, 0, 0)),
                  second = Photo("2.png", QColor(0, 200, 0));
    VideoProject().Photos = {first, second};
    SetLyrics(S("[00:01.00]r0\r\n[00:02.00]r1\r\n[00:03.00]r2\r\n[00:04.00]r3\r\n"));
    FComposer.ResetComposer();
    ASSERT_EQ(FComposer.RowsPerPage(), 2);
    EXPECT_EQ(FComposer.ChoosePhoto(0), first);       // before any row
    EXPECT_EQ(FComposer.ChoosePhoto(1500000), first); // row 0
    EXPECT_EQ(FComposer.ChoosePhoto(2500000), first); // row 1
    EXPECT_EQ(FComposer.ChoosePhoto(3500000), second);
    EXPECT_EQ(FComposer.ChoosePhoto(4500000), second);
    // Up to duration (5 s) after the last row the last page's photo stays; then the
    // photos change every 5 s counting from the last row.
    EXPECT_EQ(FComposer.ChoosePhoto(9000000), second);
    EXPECT_EQ(FComposer.ChoosePhoto(9000001), first);
    EXPECT_EQ(FComposer.ChoosePhoto(14000000), second);

    // A photo and the rows on it: the page's photo behind the current row.
    QImage frame;
    ASSERT_TRUE(Frame(3500000, &frame));
    EXPECT_EQ(frame.pixelColor(160, 40), QColor(0, 200, 0));
    EXPECT_TRUE(InkOf(frame, Yellow).Found());
    EXPECT_TRUE(InkOf(frame, White).Found());

    VideoMakeSettings().PictureAccording = false;
    EXPECT_EQ(FComposer.ChoosePhoto(4500000), first);
    EXPECT_EQ(FComposer.ChoosePhoto(5000000), second);
}

TEST_F(Composer, WidePhotoHasBarsAboveAndBelow) {
    VideoProject().Photos = {Photo("wide.png", QColor(0, 200, 0), 400, 100)};
    FComposer.ResetComposer();
    QImage frame;
    ASSERT_TRUE(Frame(0, &frame));
    EXPECT_EQ(frame.pixelColor(0, 120), QColor(0, 200, 0));
    EXPECT_EQ(frame.pixelColor(319, 120), QColor(0, 200, 0));
    EXPECT_EQ(frame.pixelColor(160, 70), Navy);
    EXPECT_EQ(frame.pixelColor(160, 170), Navy);
    EXPECT_EQ(frame.pixelColor(160, 85), QColor(0, 200, 0));
}

TEST_F(Composer, LyricsChangeRedrawsTheKeptPhoto) {
    VideoProject().Photos = {Photo("p.png", QColor(10, 200, 10))};
    SetLyrics(S("[00:01.00]a\r\n[00:02.00]b\r\n"));
    FComposer.ResetComposer();
    QImage frame;
    ASSERT_TRUE(Frame(0, &frame));
    // Only the row changes: the photo is drawn again behind the new rows.
    ASSERT_TRUE(Frame(1500000, &frame));
    EXPECT_EQ(frame.pixelColor(160, 40), QColor(10, 200, 10));
    EXPECT_TRUE(InkOf(frame, Yellow).Found());
    // A photo that disappears from the disk is passed over; the rows are still drawn.
    FComposer.ForgetLastPhoto();
    QFile::remove(VideoProject().Photos.first());
    ASSERT_TRUE(Frame(2500000, &frame));
    EXPECT_EQ(frame.pixelColor(160, 40), Navy);
}

TEST_F(Composer, ShuffledOrderHasNoRepeatAtTheSeams) {
    VideoProject().Photos = {S("/a"), S("/b"), S("/c")};
    VideoMakeSettings().PictureRandom = true;
    FComposer.ResetComposer();
    const QStringList& order = FComposer.PhotoOrder();
    ASSERT_EQ(order.size(), 600);
    std::set<QString> firsts;
    for (int round = 0; round < 200; ++round) {
        const QStringList shuffle = order.mid(round * 3, 3);
        QStringList sorted = shuffle;
        sorted.sort();
        EXPECT_EQ(sorted, QStringList({S("/a"), S("/b"), S("/c")}));
        if (round > 0) {
            EXPECT_NE(order.at(round * 3 - 1), order.at(round * 3)) << round;
        }
        firsts.insert(shuffle.first());
    }
    EXPECT_EQ(firsts.size(), 3u); // every photo starts some shuffle
    VideoProject().Photos = {S("/only")};
    FComposer.BuildPhotoOrder();
    EXPECT_EQ(FComposer.PhotoOrder(), QStringList(200, S("/only")));
    VideoMakeSettings().PictureRandom = false;
    VideoProject().Photos = {S("/a"), S("/b")};
    FComposer.BuildPhotoOrder();
    EXPECT_EQ(FComposer.PhotoOrder(), QStringList({S("/a"), S("/b")}));
}
