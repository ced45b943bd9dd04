#include "videomaker/LyricText.h"
#include "support/Sandbox.h"
#include "videomaker/VideoProject.h"

#include <QFile>
#include <QProcess>
#include <QStringEncoder>
#include <gtest/gtest.h>

namespace {

QString S(const char* utf8) {
    return QString::fromUtf8(utf8);
}

QStringList Split(const char* line) {
    QStringList out;
    SplitLyricLine(S(line), out);
    return out;
}

QString Lines(std::initializer_list<const char*> lines) {
    QString text;
    for (const char* l : lines)
        text += S(l) + QStringLiteral("\r\n");
    return text;
}

QByteArray Utf16(const QString& text, bool bigEndian) {
    QByteArray out;
    for (QChar c : text) {
        const char hi = static_cast<char>(c.unicode() >> 8);
        const char lo = static_cast<char>(c.unicode() & 0xFF);
        out.append(bigEndian ? hi : lo).append(bigEndian ? lo : hi);
    }
    return out;
}

} // namespace

TEST(TimeTag, NormalisesAndCarries) {
    EXPECT_EQ(NormalizeTimeTag(u"[1:2.5]"), S("[01:02.50]"));
    EXPECT_EQ(NormalizeTimeTag(u"[00:75.00]"), S("[01:15.00]"));
    EXPECT_EQ(NormalizeTimeTag(u"[00:12.3456]"), S("[00:15.45]"));
    EXPECT_EQ(NormalizeTimeTag(u"[00:12.005]"), S("[00:12.00]"));
    EXPECT_EQ(NormalizeTimeTag(u"[00:12.5]"), S("[00:12.50]"));
    EXPECT_EQ(NormalizeTimeTag(u"[00:12.50]"), S("[00:12.50]"));
    EXPECT_EQ(NormalizeTimeTag(u"[123:04]"), S("[123:04.00]"));
    // Empty parts count as 0; a number too large for 32 bits too.
    EXPECT_EQ(NormalizeTimeTag(u"[:.]"), S("[00:00.00]"));
    EXPECT_EQ(NormalizeTimeTag(u"[99999999999:01.00]"), S("[00:01.00]"));
}

TEST(TimeTag, RejectsWhatIsNoTimeTag) {
    for (const char16_t* bad :
         {u"[00:00:00]", u"[ 00:12.00]", u"[ar:Someone]", u"[00:12]x", u"00:12.00]", u"[0012.00]",
          u"[00:1a.00]", u"[00:12.5x]", u"[00:12.-5]", u"[", u"]", u"[]", u"[０1:02.00]"})
        EXPECT_EQ(NormalizeTimeTag(bad), QString()) << QString::fromUtf16(bad).toStdString();
}

TEST(TimeTag, Milliseconds) {
    EXPECT_EQ(TimeTagMilliseconds(u"[00:12.5]"), 12500);
    EXPECT_EQ(TimeTagMilliseconds(u"[00:12.50]"), 12500);
    EXPECT_EQ(TimeTagMilliseconds(u"[00:12.005]"), 12000);
    EXPECT_EQ(TimeTagMilliseconds(u"[01:02.357]"), 62350);
    EXPECT_EQ(TimeTagMilliseconds(u"[ar:x]"), 0);
    // Long songs do not wrap around.
    EXPECT_EQ(TimeTagMilliseconds(u"[40000:00.00]"), 2400000000LL);
}

TEST(SplitLine, OneLeadingGroupPerLine) {
    EXPECT_EQ(Split("[00:01.00][00:05.00]Hello"),
              QStringList({S("[00:01.00]Hello"), S("[00:05.00]Hello")}));
    EXPECT_EQ(Split("[00:01.00]A[00:09.00]B"), QStringList({S("[00:01.00]A"), S("[00:09.00]B")}));
    EXPECT_EQ(Split("Hello"), QStringList({S("Hello")}));
    EXPECT_EQ(Split(""), QStringList({QString()}));
    EXPECT_EQ(Split("[00:01.00]"), QStringList({S("[00:01.00]")}));
    EXPECT_EQ(Split("Hi [x] there"), QStringList({S("Hi "), S("[x] there")}));
    EXPECT_EQ(Split("[00:01.00][00:02.00]A [b"),
              QStringList({S("[00:01.00]A [b"), S("[00:02.00]A [b")}));
}

TEST(SplitLine, InformationTagsDroppedInAnyCase) {
    QStringList out;
    for (const char* l : {"[ti:x]", "[ar:x]", "[al:x]", "[by:x]", "[offset:500]", "[:x]", "[TI:x]",
                          "[Ar:x]", "[OFFSET:-20]", "[ti:x][00:01.00]A"})
        SplitLyricLine(S(l), out);
    // The time tag after an information tag on one line survives on its own.
    EXPECT_EQ(out, QStringList({S("[00:01.00]A")}));
    // A line with no "]" is kept whatever it starts with.
    out.clear();
    KeepLyricLine(S("[ti:no end"), out);
    EXPECT_EQ(out, QStringList({S("[ti:no end")}));
}

TEST(SortLines, TimedLinesSortedAroundUntimedOnes) {
    EXPECT_EQ(NormalizeLyricText(S("[00:03.00][00:01.00]La")),
              Lines({"[00:01.00]La", "[00:03.00]La"}));
    // The untimed lines keep their positions; the timed ones are ordered among the rest.
    EXPECT_EQ(
        SortLyricLines({S("[00:09.00]C"), S("plain"), S("[00:01.00]A"), S(""), S("[00:05.00]B")}),
        Lines({"[00:01.00]A", "plain", "[00:05.00]B", "", "[00:09.00]C"}));
    EXPECT_EQ(SortLyricLines({S("[1:00]late"), S("[00:59.99]early")}),
              Lines({"[00:59.99]early", "[1:00]late"}));
    EXPECT_EQ(SortLyricLines({}), QString());
}

TEST(MergeLines, NeighboursOfOneTimeJoin) {
    EXPECT_EQ(MergeLyricLines(Lines({"[00:01.00]A", "[00:01.00]B", "[00:01.00]C"})),
              Lines({"[00:01.00]ABC"}));
    EXPECT_EQ(MergeLyricLines(Lines({"[00:01.00]A", "[00:01.01]B"})),
              Lines({"[00:01.00]A", "[00:01.01]B"}));
    // Same time written differently, and lines apart are not neighbours.
    EXPECT_EQ(MergeLyricLines(Lines({"[0:1.5]A", "[00:01.50]B", "x", "[00:01.50]C"})),
              Lines({"[0:1.5]AB", "x", "[00:01.50]C"}));
    EXPECT_EQ(MergeLyricLines(QString()), QString());
}

TEST(TextLines, EveryLineBreakKind) {
    EXPECT_EQ(SplitTextLines(S("a\r\nb\rc\nd")), QStringList({S("a"), S("b"), S("c"), S("d")}));
    EXPECT_EQ(SplitTextLines(S("a\r\n\r\n")), QStringList({S("a"), QString()}));
    EXPECT_TRUE(SplitTextLines(QString()).isEmpty());
}

TEST(LyricFile, EncodingsAreRecognised) {
    TSandbox box;
    const QString text = S("[ti:歌]\r\n[00:02.00]第二\r\n[00:01.00][00:03.00]你好 world\n");
    const QString expected =
        Lines({"[00:01.00]你好 world", "[00:02.00]第二", "[00:03.00]你好 world"});
    QStringEncoder gb("GB18030");
    ASSERT_TRUE(gb.isValid());
    const std::pair<const char*, QByteArray> files[] = {
        {"utf8.lrc", text.toUtf8()},
        {"utf8bom.lrc", QByteArray("\xEF\xBB\xBF") + text.toUtf8()},
        {"utf16le.lrc", QByteArray("\xFF\xFE") + Utf16(text, false)},
        {"utf16be.lrc", QByteArray("\xFE\xFF") + Utf16(text, true)},
        {"gb18030.lrc", QByteArray(gb.encode(text))},
    };
    for (const auto& [name, bytes] : files) {
        QString read = S("unchanged");
        QString error;
        ASSERT_TRUE(LoadLyricFile(box.Write(QLatin1StringView(name), bytes), read, &error)) << name;
        EXPECT_EQ(read, expected) << name;
    }
}

// Bytes of `text` in GB18030, written by the iconv tool.
QByteArray Gb18030ByIconv(const QString& text) {
    QProcess iconv;
    iconv.start(QStringLiteral("iconv"), {QStringLiteral("-f"), QStringLiteral("UTF-8"),
                                          QStringLiteral("-t"), QStringLiteral("GB18030")});
    iconv.write(text.toUtf8());
    iconv.closeWriteChannel();
    if (!iconv.waitForFinished(30000) || iconv.exitCode() != 0)
        return {};
    return iconv.readAllStandardOutput();
}

// A file without a byte-order mark is UTF-8 or GB18030, whichever reads it with fewer
// faults: a stray byte spoils only itself, in either encoding.
TEST(LyricFile, AStrayByteSpoilsOnlyItself) {
    const QString text = S("[00:01.00]月亮代表我的心\r\n[00:05.50]你问我爱你有多深\r\n"
                           "[00:10.00]我爱你有几分 (live)\r\n[00:15.00]我的情也真\r\n");
    const QString replacement(QChar::ReplacementCharacter);
    const QByteArray utf8 = text.toUtf8();

    // One byte that is no UTF-8 at all, inside the second line.
    QByteArray bytes = utf8;
    const qsizetype at = utf8.indexOf(QByteArray("\xE4\xBD\xA0")); // 你
    bytes.insert(at, '\xFF');
    QString expected = text;
    expected.insert(text.indexOf(S("你")), replacement);
    EXPECT_EQ(DecodeLyricBytes(bytes), expected);

    // A Latin-1 letter in an otherwise UTF-8 file, and a file cut inside its last
    // character: every other line reads as written.
    bytes = utf8;
    bytes.replace(QByteArray("live"), QByteArray("caf\xE9"));
    const QString latin = DecodeLyricBytes(bytes);
    EXPECT_TRUE(latin.contains(S("[00:10.00]我爱你有几分 (caf") + replacement + u')'))
        << latin.toStdString();
    EXPECT_TRUE(latin.startsWith(text.left(text.indexOf(S("[00:10.00]")))));
    const QByteArray cut = utf8.left(utf8.size() - 3); // "真" loses its last byte ("\r\n" gone)
    const QString cutText = DecodeLyricBytes(cut);
    EXPECT_TRUE(cutText.startsWith(text.left(text.indexOf(S("真"))))) << cutText.toStdString();
    EXPECT_TRUE(cutText.endsWith(replacement)) << cutText.toStdString();

    // GB18030 files stay GB18030, also with a stray byte of their own and when short.
    const QByteArray gb = Gb18030ByIconv(text);
    ASSERT_FALSE(gb.isEmpty());
    EXPECT_EQ(DecodeLyricBytes(gb), text);
    QByteArray gbStray = gb;
    gbStray.insert(gb.indexOf("[00:05.50]"), '\x80');
    expected = text;
    expected.insert(text.indexOf(S("[00:05.50]")), replacement);
    EXPECT_EQ(DecodeLyricBytes(gbStray), expected);
    for (const char* shortText : {"中国", "[00:01.00]中国\r\n", "你好", "歌"})
        EXPECT_EQ(DecodeLyricBytes(Gb18030ByIconv(S(shortText))), S(shortText)) << shortText;

    // Plain ASCII, and files with a byte-order mark, are read as before.
    EXPECT_EQ(DecodeLyricBytes(QByteArray("[00:01.00]hello\r\n")), S("[00:01.00]hello\r\n"));
    EXPECT_EQ(DecodeLyricBytes(QByteArray("\xEF\xBB\xBF") + utf8), text);
    QStringEncoder utf16le(QStringEncoder::Utf16LE, QStringEncoder::Flag::WriteBom);
    QStringEncoder utf16be(QStringEncoder::Utf16BE, QStringEncoder::Flag::WriteBom);
    EXPECT_EQ(DecodeLyricBytes(utf16le.encode(text)), text);
    EXPECT_EQ(DecodeLyricBytes(utf16be.encode(text)), text);
}

TEST(LyricFile, UnreadableFileLeavesTheTextAlone) {
    TSandbox box;
    QString text = S("[00:01.00]kept\r\n");
    QString error;
    EXPECT_FALSE(LoadLyricFile(box.File(QStringLiteral("missing.lrc")), text, &error));
    EXPECT_EQ(text, S("[00:01.00]kept\r\n"));
    EXPECT_FALSE(error.isEmpty());
}

TEST(Layout, LongLineWrapsIntoRowsWithOneTag) {
    TVideoMakeSettings s = DefaultVideoMakeSettings();
    s.VideoFont.Font = QFont(QStringLiteral("DejaVu Sans"));
    s.VideoFont.Font.setPixelSize(16);
    const QString words = S("one two three four five six seven eight nine ten eleven twelve");
    const QList<TLyricRow> rows =
        LayoutLyricRows(S("[0:5]") + words + S("\r\n\r\n[00:07.00]\r\nplain"), s);
    ASSERT_GT(rows.size(), 4);
    QStringList wrapped;
    qsizetype i = 0;
    for (; i < rows.size() && rows.at(i).Tag == S("[00:05.00]"); ++i) {
        EXPECT_EQ(rows.at(i).Order, QString::number(i + 1));
        EXPECT_FALSE(rows.at(i).Text.startsWith(u' ') || rows.at(i).Text.endsWith(u' '));
        wrapped << rows.at(i).Text;
    }
    ASSERT_GE(wrapped.size(), 2);
    // The words come back in their order, broken only at spaces.
    EXPECT_EQ(wrapped.join(u' '), words);
    ASSERT_EQ(rows.size(), i + 3);
    EXPECT_EQ(rows.at(i), (TLyricRow{QString::number(i + 1), QString(), QString()}));
    EXPECT_EQ(rows.at(i + 1), (TLyricRow{QString::number(i + 2), S("[00:07.00]"), QString()}));
    EXPECT_EQ(rows.at(i + 2), (TLyricRow{QString::number(i + 3), QString(), S("plain")}));
    EXPECT_EQ(RowTimesOf(rows).at(0), 5000000);
    EXPECT_EQ(RowTimesOf(rows).at(i + 1), 7000000);
    EXPECT_EQ(RowTimesOf(rows).at(i + 2), 0);

    // A wider video keeps the same line in fewer rows.
    s.LyricsVideoWidth = 1920;
    EXPECT_EQ(LayoutLyricRows(S("[0:5]") + words, s).size(), 1);
}

TEST(Layout, ChineseBreaksBetweenCharacters) {
    TVideoMakeSettings s = DefaultVideoMakeSettings();
    s.VideoFont.Font = QFont(QStringLiteral("Noto Sans CJK SC"));
    s.VideoFont.Font.setPixelSize(20);
    const QString words = S("我们一起唱这首歌直到天亮也不停下来好吗朋友们一起来");
    const QList<TLyricRow> rows = LayoutLyricRows(S("[00:01.00]") + words, s);
    ASSERT_GE(rows.size(), 2);
    QString joined;
    for (const TLyricRow& r : rows) {
        EXPECT_EQ(r.Tag, S("[00:01.00]"));
        joined += r.Text;
    }
    EXPECT_EQ(joined, words);
    EXPECT_TRUE(LayoutLyricRows(QString(), s).isEmpty());
}

TEST(Export, FixedLinesThenRowsInUtf16) {
    TSandbox box;
    const QString file = box.File(QStringLiteral("out.lrc"));
    QString error;
    ASSERT_TRUE(WriteLyricsFile(file, {}, &error)) << error.toStdString();
    QFile f(file);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QByteArray bytes = f.readAll();
    ASSERT_TRUE(bytes.startsWith("\xFF\xFE"));
    const QString web = ProductWebAddress.toString();
    const QString fixed = S("[by:Vexmira ") + web + S("]\r\n[00:00:00]本歌词由“Vexmira”制作\r\n") +
                          S("[00:00:00]") + web + S("\r\n");
    EXPECT_EQ(bytes.mid(2), Utf16(fixed, false));

    const QList<TLyricRow> rows = {{S("1"), S("[00:01.00]"), S("甲")},
                                   {S("2"), QString(), S("untimed")}};
    EXPECT_EQ(ExportLyricsText(rows), fixed + Lines({"[00:01.00]甲", "untimed"}));
    // Read back, the "[by:" line is dropped and the other two fixed lines stay untimed.
    ASSERT_TRUE(WriteLyricsFile(file, rows, &error));
    QString back;
    ASSERT_TRUE(LoadLyricFile(file, back));
    EXPECT_EQ(back, Lines({"[00:00:00]本歌词由“Vexmira”制作", "[00:00:00]https://www.vexmira.com",
                           "[00:01.00]甲", "untimed"}));
}

TEST(CliLrc, PrintsTheReadLyricsAndFailsClearly) {
    TSandbox box;
    const QString cli = qEnvironmentVariable("VX_TEST_BINARY_DIR") + S("/bin/vexmira-cli");
    const QString file =
        box.Write(QStringLiteral("a.lrc"),
                  QByteArray("\xFF\xFE") + Utf16(S("[ar:x]\r\n[00:02.00]二\r\n[00:01.00]一"
                                                   "\r\n[00:01.00]也\r\n"),
                                                 false));
    QProcess p;
    p.start(cli, {S("lrc"), file});
    ASSERT_TRUE(p.waitForFinished(30000));
    EXPECT_EQ(p.exitCode(), 0);
    EXPECT_EQ(QString::fromUtf8(p.readAllStandardOutput()),
              S("[00:01.00]一\n[00:01.00]也\n[00:02.00]二\n"));

    p.start(cli, {S("lrc"), S("--merge"), file});
    ASSERT_TRUE(p.waitForFinished(30000));
    EXPECT_EQ(p.exitCode(), 0);
    EXPECT_EQ(QString::fromUtf8(p.readAllStandardOutput()), S("[00:01.00]一也\n[00:02.00]二\n"));

    p.start(cli, {S("lrc"), box.File(S("none.lrc"))});
    ASSERT_TRUE(p.waitForFinished(30000));
    EXPECT_NE(p.exitCode(), 0);
    EXPECT_TRUE(p.readAllStandardOutput().isEmpty());
    EXPECT_TRUE(QString::fromUtf8(p.readAllStandardError()).contains(S("none.lrc")));
}
