#include "videomaker/VideoMakeSettings.h"
#include "state/ProgramState.h"
#include "support/Sandbox.h"

#include <QFile>
#include <gtest/gtest.h>

#include <climits>

namespace {

QString S(const char* utf8) {
    return QString::fromUtf8(utf8);
}

// A private settings file and fresh defaults for one test.
class SettingsFile {
public:
    SettingsFile() {
        ProgramState().IniFileName = FBox.File(S("config/Vexmira/Vexmira20.ini"));
        ResetVideoMakeSettings();
    }
    ~SettingsFile() { ResetVideoMakeSettings(); }
    QString Write(const QByteArray& contents) const {
        return FBox.Write(S("config/Vexmira/Vexmira20.ini"), contents);
    }
    QByteArray Read() const {
        QFile f(ProgramState().IniFileName);
        f.open(QIODevice::ReadOnly);
        return f.readAll();
    }

private:
    TSandbox FBox;
};

} // namespace

TEST(FontText, LayoutOfTheFields) {
    TLyricsFont f;
    f.Font = QFont(S("DejaVu Sans"));
    f.Font.setPointSize(12);
    f.Color = 0x00FFFFFF;
    f.Charset = 134;
    f.Quality = 5;
    EXPECT_EQ(FontToText(f), S("00000086"
                               "00FFFFFF"
                               "FFFFFFF0"
                               "00000000"
                               "00000000"
                               "00000005"
                               "0000000C"
                               "0000000B"
                               "DejaVu Sans"
                               "00000002"
                               "[]"));
}

TEST(FontText, RoundTripKeepsEveryField) {
    TLyricsFont f;
    f.Font = QFont(S("Noto Sans CJK SC"));
    f.Font.setPointSize(20);
    f.Font.setBold(true);
    f.Font.setUnderline(true);
    f.Color = 0x0012AB34;
    f.Charset = 134;
    f.Orientation = 900;
    f.Pitch = 2;
    f.Quality = 3;
    const QString text = FontToText(f);
    EXPECT_TRUE(text.endsWith(S("00000014[fsBold,fsUnderline]")));
    TLyricsFont back;
    ASSERT_TRUE(TextToFont(text, back));
    EXPECT_EQ(back.Font.family(), S("Noto Sans CJK SC"));
    EXPECT_EQ(back.Font.pointSize(), 20);
    EXPECT_TRUE(back.Font.bold());
    EXPECT_TRUE(back.Font.underline());
    EXPECT_FALSE(back.Font.italic());
    EXPECT_FALSE(back.Font.strikeOut());
    EXPECT_TRUE(back.Font.fixedPitch());
    EXPECT_EQ(back.Font.styleStrategy(), QFont::NoAntialias);
    EXPECT_EQ(back.Color, 0x0012AB34u);
    EXPECT_EQ(back.Charset, 134);
    EXPECT_EQ(back.Orientation, 900);
    EXPECT_EQ(FontToText(back), text);

    // All four styles, and lower-case hex digits are read too.
    f.Font.setItalic(true);
    f.Font.setStrikeOut(true);
    EXPECT_TRUE(FontToText(f).endsWith(S("[fsBold,fsItalic,fsUnderline,fsStrikeOut]")));
    ASSERT_TRUE(TextToFont(FontToText(f)
                               .toLower()
                               .replace(S("noto sans cjk sc"), S("Noto Sans CJK SC"))
                               .replace(S("[fsbold,fsitalic,fsunderline,fsstrikeout]"),
                                        S("[fsBold,fsItalic,fsUnderline,fsStrikeOut]")),
                           back));
    EXPECT_TRUE(back.Font.italic() && back.Font.strikeOut());
}

TEST(FontText, SizeDecidesOverHeight) {
    TLyricsFont f;
    ASSERT_TRUE(TextToFont(S("0000000100FFFFFFFFFFFFE2000000000000000000000000000000090000000"
                             "5Arial00000002[]"),
                           f));
    EXPECT_EQ(f.Font.pointSize(), 9);
    // Size 0: the height field gives the pixel size.
    ASSERT_TRUE(TextToFont(S("0000000100FFFFFFFFFFFFE2000000000000000000000000000000000000000"
                             "5Arial00000002[]"),
                           f));
    EXPECT_EQ(f.Font.pixelSize(), 30);
}

// A font given by its height in pixels (size 0) is written with its size rounded to
// points; reading that text back gives the same pixel height, at every height, so the
// font does not grow by a pixel through each save and read.
TEST(FontText, APixelHeightSurvivesItsRoundedSize) {
    // Charset 1, white, the given height and size, face "Arial", no style.
    const auto text = [](qint32 height, qint32 size) {
        return QString::asprintf("%08X%08X%08X%08X%08X%08X%08X%08X", 1, 0x00FFFFFF, height, 0, 0, 0,
                                 size, 5) +
               QStringLiteral("Arial00000002[]");
    };
    for (int pixels : {2, 22, 30, 65278}) {
        TLyricsFont f;
        ASSERT_TRUE(TextToFont(text(-pixels, 0), f));
        EXPECT_EQ(f.Font.pixelSize(), pixels);
        const QString written = FontToText(f);
        TLyricsFont back;
        ASSERT_TRUE(TextToFont(written, back));
        EXPECT_EQ(back.Font.pixelSize(), pixels) << written.toStdString();
        EXPECT_EQ(FontToText(back), written);
    }
    // A size that is not the rounded height still decides; a point size with its own
    // height reads back as that point size.
    TLyricsFont back;
    ASSERT_TRUE(TextToFont(text(-30, 9), back));
    EXPECT_EQ(back.Font.pointSize(), 9);
    ASSERT_TRUE(TextToFont(text(-17, 13), back));
    EXPECT_EQ(back.Font.pointSize(), 13);
    // The most negative height is no pixel size at all: the size gives the font.
    ASSERT_TRUE(TextToFont(text(INT_MIN, 12), back));
    EXPECT_EQ(back.Font.pointSize(), 12);
    // A point size far beyond any font is written with the largest height there is.
    ASSERT_TRUE(TextToFont(text(0, 0x60000000), back));
    const QString written = FontToText(back);
    EXPECT_EQ(written.mid(16, 8), QStringLiteral("80000001"));
    EXPECT_EQ(written.mid(48, 8), QStringLiteral("60000000"));
    TLyricsFont again;
    ASSERT_TRUE(TextToFont(written, again));
    EXPECT_EQ(FontToText(again), written);
}

TEST(FontText, FaultsGiveTheSystemMenuFont) {
    TLyricsFont good;
    good.Font = QFont(S("DejaVu Serif"));
    good.Font.setPointSize(30);
    good.Color = 0x00FFFFFF;
    const QString text = FontToText(good);
    const TLyricsFont menu = SystemMenuFont();
    const QString faults[] = {
        S("0000000G") + text.mid(8),                // not hexadecimal in the first field
        text.left(20) + u'x' + text.mid(21),        // nor in the third
        text.left(text.size() - 3),                 // cut off inside the style text
        text.left(60),                              // too short for the fields
        text.left(text.size() - 2) + S("fsHeavy]"), // unknown style (length no longer fits)
        text.left(text.size() - 10) + S("00000009[fsHeavy]"),
        QString(),
    };
    for (const QString& bad : faults) {
        TLyricsFont f = good;
        EXPECT_FALSE(TextToFont(bad, f)) << bad.toStdString();
        EXPECT_EQ(f.Font, menu.Font) << bad.toStdString();
        EXPECT_EQ(f.Color, menu.Color);
    }
}

TEST(Settings, DefaultsAreTheDocumentedOnes) {
    const TVideoMakeSettings s = DefaultVideoMakeSettings();
    EXPECT_EQ(s.HorizontalAlignment, 2);
    EXPECT_EQ(s.VerticalAlignment, 0);
    EXPECT_EQ(s.VideoFont.Font.family(), SystemMenuFont().Font.family());
    EXPECT_EQ(s.VideoFont.Font.pointSize(), 12);
    EXPECT_TRUE(s.VideoFont.Font.bold());
    EXPECT_EQ(s.VideoFont.Color, 0x00FFFFFFu);
    EXPECT_EQ(FontToText(s.VideoFont).mid(8, 16), S("00FFFFFFFFFFFFF0"));
    EXPECT_EQ(s.CurrentFontColor, 0x0000FFFFu);
    EXPECT_EQ(ColorFromValue(s.CurrentFontColor), QColor(255, 255, 0));
    EXPECT_EQ(ColorFromValue(s.BackGroundColor), QColor(0, 0, 128));
    EXPECT_EQ(ValueFromColor(QColor(1, 2, 3)), 0x00030201u);
}

TEST(Settings, WrittenInOrderAndReadBack) {
    SettingsFile file;
    TVideoMakeSettings& s = VideoMakeSettings();
    s.HorizontalAlignment = haRight;
    s.VerticalAlignment = vaCenter;
    s.VideoFont.Font.setItalic(true);
    s.BackGroundColor = 0x00F0E0D0; // above 2^31 as signed: stored as its signed value
    s.CurrentFontColor = 0x80000001;
    s.LyricsVideoWidth = 640;
    s.LyricsVideoHeight = 360;
    s.LyricsMarginLeft = 20;
    s.LyricsMaxLineCount = 0;
    s.LyricsLineSpacing = 9;
    s.PictureDuration = 77;
    s.PictureAccording = false;
    s.PictureRandom = true;
    const TVideoMakeSettings written = s;
    ASSERT_TRUE(WriteVideoMakeSettings());

    const QByteArray ini = file.Read();
    const char* keys[] = {"HorizontalAlignment", "VerticalAlignment",  "VideoFont",
                          "CurrentFontColor",    "BackGroundColor",    "LyricsVideoWidth",
                          "LyricsVideoHeight",   "LyricsMarginTop",    "LyricsMarginLeft",
                          "LyricsMarginRight",   "LyricsMarginBottom", "LyricsMaxLineCount",
                          "LyricsLineSpacing",   "PictureDuration",    "PictureAccording",
                          "PictureRepeat",       "PictureRandom"};
    qsizetype at = ini.indexOf("[VideoMake]");
    ASSERT_GE(at, 0);
    for (const char* key : keys) {
        const qsizetype next = ini.indexOf(QByteArray("\n") + key, at);
        ASSERT_GT(next, at) << key;
        at = next;
    }
    EXPECT_TRUE(ini.contains("CurrentFontColor = -2147483647") ||
                ini.contains("CurrentFontColor=-2147483647"));
    EXPECT_TRUE(ini.contains("PictureRandom = 1") || ini.contains("PictureRandom=1"));

    ResetVideoMakeSettings();
    ReadVideoMakeSection();
    EXPECT_EQ(s.HorizontalAlignment, haRight);
    EXPECT_EQ(s.VerticalAlignment, vaCenter);
    EXPECT_EQ(FontToText(s.VideoFont), FontToText(written.VideoFont));
    EXPECT_EQ(s.BackGroundColor, 0x00F0E0D0u);
    EXPECT_EQ(s.CurrentFontColor, 0x80000001u);
    EXPECT_EQ(s.LyricsVideoWidth, 640);
    EXPECT_EQ(s.LyricsMarginLeft, 20);
    EXPECT_EQ(s.LyricsMaxLineCount, 0);
    EXPECT_EQ(s.LyricsLineSpacing, 9);
    EXPECT_EQ(s.PictureDuration, 77);
    EXPECT_FALSE(s.PictureAccording);
    EXPECT_TRUE(s.PictureRandom);
}

TEST(Settings, MissingKeysKeepValuesAndBadValuesAreClamped) {
    SettingsFile file;
    VideoMakeSettings().LyricsMarginTop = 17; // no key: stays
    file.Write("[VideoMake]\nVideoFont=ZZZ\nLyricsVideoWidth=0\nLyricsVideoHeight=99999\n"
               "LyricsMarginLeft=-5\nLyricsMarginRight=5000\nLyricsMaxLineCount=-3\n"
               "LyricsLineSpacing=0\nPictureDuration=0\nVerticalAlignment=7\n");
    ReadVideoMakeSettings();
    const TVideoMakeSettings& s = VideoMakeSettings();
    EXPECT_EQ(s.VideoFont.Font, SystemMenuFont().Font);
    EXPECT_EQ(s.LyricsMarginTop, 17);
    EXPECT_EQ(s.LyricsVideoWidth, MinVideoWidth);
    EXPECT_EQ(s.LyricsVideoHeight, MaxVideoHeight);
    EXPECT_EQ(s.LyricsMarginLeft, 0);
    EXPECT_EQ(s.LyricsMarginRight, MinVideoWidth / 2);
    EXPECT_EQ(s.LyricsMaxLineCount, 0);
    EXPECT_EQ(s.LyricsLineSpacing, 1);
    EXPECT_EQ(s.PictureDuration, 1);
    EXPECT_EQ(s.VerticalAlignment, 7); // codes are kept; 7 draws as bottom

    // No section at all leaves the defaults.
    ResetVideoMakeSettings();
    file.Write("[General]\nPageIndex=1\n");
    ReadVideoMakeSettings();
    EXPECT_EQ(FontToText(VideoMakeSettings().VideoFont),
              FontToText(DefaultVideoMakeSettings().VideoFont));
    EXPECT_EQ(VideoMakeSettings().LyricsVideoWidth, 320);
}

TEST(Settings, TheReactionOffsetComesAfterTheOtherKeysAndStaysWithinASecond) {
    SettingsFile file;
    VideoMakeSettings().ReactionOffset = -120;
    ASSERT_TRUE(WriteVideoMakeSettings());
    const QByteArray ini = file.Read();
    const qsizetype offset = ini.indexOf("\nReactionOffset");
    ASSERT_GT(offset, ini.indexOf("\nPictureRandom")) << ini.toStdString();
    VideoMakeSettings().ReactionOffset = 0;
    ReadVideoMakeSettings();
    EXPECT_EQ(VideoMakeSettings().ReactionOffset, -120);

    // A value no dialog gives is brought within a second either way; no key keeps it.
    file.Write("[VideoMake]\nReactionOffset=5000\n");
    ReadVideoMakeSettings();
    EXPECT_EQ(VideoMakeSettings().ReactionOffset, MaxReactionOffset);
    file.Write("[VideoMake]\nReactionOffset=-5000\n");
    ReadVideoMakeSettings();
    EXPECT_EQ(VideoMakeSettings().ReactionOffset, MinReactionOffset);
    file.Write("[VideoMake]\nPictureRandom=1\n");
    ReadVideoMakeSettings();
    EXPECT_EQ(VideoMakeSettings().ReactionOffset, MinReactionOffset);

    // Only the offset is written when the time adjuster remembers it.
    file.Write("[VideoMake]\nLyricsVideoWidth=640\n");
    VideoMakeSettings().LyricsVideoWidth = 800;
    VideoMakeSettings().ReactionOffset = 90;
    ASSERT_TRUE(WriteReactionOffset());
    const QByteArray after = file.Read();
    EXPECT_TRUE(after.contains("LyricsVideoWidth=640") || after.contains("LyricsVideoWidth = 640"));
    EXPECT_TRUE(after.contains("ReactionOffset=90") || after.contains("ReactionOffset = 90"));
}
