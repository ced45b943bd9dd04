#include "videomaker/ProjectFile.h"

#include <QtEndian>
#include <gtest/gtest.h>

namespace {

qint32 I32At(const QByteArray& b, int offset) {
    return qFromLittleEndian<qint32>(b.constData() + offset);
}

QString TextAt(const QByteArray& b, int offset, int* next = nullptr) {
    const qint32 n = I32At(b, offset);
    QString s;
    for (int i = 0; i < n; ++i)
        s += QChar(qFromLittleEndian<quint16>(b.constData() + offset + 4 + 2 * i));
    if (next)
        *next = offset + 4 + 2 * n;
    return s;
}

TProjectData Sample() {
    TProjectData d;
    d.Version = 1234;
    TVideoMakeSettings& s = d.Settings;
    s.HorizontalAlignment = haRight;
    s.VerticalAlignment = vaCenter;
    s.VideoFont.Font = QFont(QStringLiteral("DejaVu Sans"), 14);
    s.CurrentFontColor = 0x00112233;
    s.BackGroundColor = 0x00445566;
    s.LyricsVideoWidth = 640;
    s.LyricsVideoHeight = 360;
    s.LyricsMarginTop = 1;
    s.LyricsMarginLeft = 2;
    s.LyricsMarginRight = 3;
    s.LyricsMarginBottom = 4;
    s.LyricsMaxLineCount = 0;
    s.LyricsLineSpacing = 6;
    s.PictureDuration = 7;
    s.PictureAccording = false;
    s.PictureRepeat = true;
    s.PictureRandom = true;
    d.AudioName = QStringLiteral("歌.mp3");
    d.LyricText = QStringLiteral("[00:01.00]一\r\n[00:02.00]二\r\n");
    d.PhotoNames = {QStringLiteral("a.png"), QStringLiteral("/elsewhere/b.jpg")};
    return d;
}

} // namespace

TEST(ProjectFile, FieldsStandAtTheirOffsets) {
    const TProjectData d = Sample();
    const QByteArray b = ProjectFileBytes(d);
    EXPECT_EQ(I32At(b, 0), 1234);
    EXPECT_EQ(quint8(b.at(4)), 12);
    EXPECT_EQ(quint8(b.at(5)), 16);
    EXPECT_EQ(I32At(b, 6), 0x00112233);
    EXPECT_EQ(I32At(b, 10), 0x00445566);
    const qint32 ints[] = {640, 360, 1, 2, 3, 4, 0, 6};
    for (int i = 0; i < 8; ++i)
        EXPECT_EQ(I32At(b, 14 + 4 * i), ints[i]) << i;
    for (int i = 0; i < 10; ++i) {
        EXPECT_EQ(I32At(b, 46 + 4 * i), 0);
        EXPECT_EQ(I32At(b, 93 + 4 * i), 0);
    }
    EXPECT_EQ(I32At(b, 86), 7);
    EXPECT_EQ(b.mid(90, 3), QByteArray("\x00\x01\x01", 3));
    int next = 0;
    EXPECT_EQ(TextAt(b, 133, &next), FontToText(d.Settings.VideoFont));
    EXPECT_EQ(TextAt(b, next, &next), QStringLiteral("歌.mp3"));
    EXPECT_EQ(TextAt(b, next, &next), d.LyricText);
    EXPECT_EQ(I32At(b, next), 0); // the reserved text
    next += 4;
    EXPECT_EQ(I32At(b, next), 2);
    next += 4;
    EXPECT_EQ(TextAt(b, next, &next), QStringLiteral("a.png"));
    EXPECT_EQ(TextAt(b, next, &next), QStringLiteral("/elsewhere/b.jpg"));
    EXPECT_EQ(next, b.size());
}

TEST(ProjectFile, ReadsBackWhatWasWritten) {
    const TProjectData d = Sample();
    TProjectData r;
    ASSERT_EQ(ReadProjectBytes(ProjectFileBytes(d), r), ppPhotos);
    EXPECT_EQ(r.Version, 1234);
    EXPECT_EQ(r.Settings.HorizontalAlignment, haRight);
    EXPECT_EQ(r.Settings.VerticalAlignment, vaCenter);
    EXPECT_EQ(r.Settings.CurrentFontColor, 0x00112233u);
    EXPECT_EQ(r.Settings.LyricsMarginRight, 3);
    EXPECT_EQ(r.Settings.LyricsMaxLineCount, 0);
    EXPECT_EQ(r.Settings.PictureDuration, 7);
    EXPECT_FALSE(r.Settings.PictureAccording);
    EXPECT_TRUE(r.Settings.PictureRandom);
    EXPECT_EQ(r.FontText, FontToText(d.Settings.VideoFont));
    EXPECT_EQ(r.AudioName, d.AudioName);
    EXPECT_EQ(r.LyricText, d.LyricText);
    EXPECT_EQ(r.PhotoNames, d.PhotoNames);
}

TEST(ProjectFile, ACutFileKeepsTheWholePartsBeforeTheCut) {
    const TProjectData d = Sample();
    const QByteArray b = ProjectFileBytes(d);
    int fontEnd = 0, audioEnd = 0, lyricsEnd = 0;
    TextAt(b, 133, &fontEnd);
    TextAt(b, fontEnd, &audioEnd);
    TextAt(b, audioEnd, &lyricsEnd);
    const struct {
        int Size;
        TProjectPart Part;
    } cuts[] = {{0, ppNothing},
                {20, ppNothing},
                {133, ppFixed},
                {fontEnd - 1, ppFixed},
                {fontEnd, ppFont},
                {audioEnd + 6, ppAudio},
                {lyricsEnd, ppLyrics},
                {lyricsEnd + 4, ppReserved},
                {int(b.size()) - 1, ppReserved}};
    for (const auto& cut : cuts) {
        TProjectData r;
        EXPECT_EQ(ReadProjectBytes(b.left(cut.Size), r), cut.Part) << cut.Size;
        if (cut.Part >= ppFixed) {
            EXPECT_EQ(r.Settings.LyricsVideoWidth, 640);
        }
        if (cut.Part >= ppAudio) {
            EXPECT_EQ(r.AudioName, d.AudioName);
        }
    }
    // A cut inside the fixed part keeps the fields before it.
    TProjectData r;
    EXPECT_EQ(ReadProjectBytes(b.left(29), r), ppNothing);
    EXPECT_EQ(r.Settings.LyricsVideoWidth, 640);
    EXPECT_EQ(r.Settings.LyricsMarginTop, 1);
    EXPECT_EQ(r.Settings.LyricsMarginLeft, 8); // not reached: its default stays
}

TEST(ProjectFile, LyingLengthsAreRefusedBeforeAnythingIsTaken) {
    const QByteArray b = ProjectFileBytes(Sample());
    int fontEnd = 0;
    TextAt(b, 133, &fontEnd);
    const auto withI32 = [&b](int offset, qint32 v) {
        QByteArray c = b;
        qToLittleEndian(v, c.data() + offset);
        return c;
    };
    TProjectData r;
    EXPECT_EQ(ReadProjectBytes(withI32(fontEnd, 0x7FFFFFFF), r), ppFont);
    EXPECT_EQ(ReadProjectBytes(withI32(fontEnd, -1), r), ppFont);
    EXPECT_EQ(ReadProjectBytes(withI32(133, 0x40000000), r), ppFixed);
    // A photo count far beyond what the rest of the file could hold.
    const int countAt = b.size() - 4 - (4 + 2 * 5) - (4 + 2 * 16);
    ASSERT_EQ(I32At(b, countAt), 2);
    EXPECT_EQ(ReadProjectBytes(withI32(countAt, 100000000), r), ppReserved);
    EXPECT_EQ(ReadProjectBytes(withI32(countAt, -5), r), ppReserved);
    // One photo claimed more than there is: the names before it are kept.
    r = TProjectData();
    EXPECT_EQ(ReadProjectBytes(withI32(countAt, 3), r), ppReserved);
    EXPECT_EQ(r.PhotoNames,
              QStringList({QStringLiteral("a.png"), QStringLiteral("/elsewhere/b.jpg")}));
}

TEST(ProjectFile, NamesBesideTheProjectAreStoredBare) {
    const QString project = QStringLiteral("/music/Work/song.lmmc");
    EXPECT_EQ(StoredFileName(QStringLiteral("/music/Work/a.png"), project),
              QStringLiteral("a.png"));
    EXPECT_EQ(StoredFileName(QStringLiteral("/music/Work/sub/a.png"), project),
              QStringLiteral("/music/Work/sub/a.png"));
    EXPECT_EQ(StoredFileName(QStringLiteral("/music/a.png"), project),
              QStringLiteral("/music/a.png"));
    // Letter case makes a different folder here; a bare name would find the wrong file.
    EXPECT_EQ(StoredFileName(QStringLiteral("/music/work/a.png"), project),
              QStringLiteral("/music/work/a.png"));
    EXPECT_EQ(StoredFileName(QString(), project), QString());
    EXPECT_EQ(ResolveStoredName(QStringLiteral("a.png"), QStringLiteral("/other/p.lmmc")),
              QStringLiteral("/other/a.png"));
    EXPECT_EQ(ResolveStoredName(QStringLiteral("/x/a.png"), QStringLiteral("/other/p.lmmc")),
              QStringLiteral("/x/a.png"));
    EXPECT_EQ(ResolveStoredName(QString(), QStringLiteral("/other/p.lmmc")), QString());
}
