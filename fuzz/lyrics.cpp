// The lyric readers: the bytes of a lyric file through LoadLyricFile, the decoded text
// through NormalizeLyricText and MergeLyricLines, and the first lines through the row
// layout. A normalised text must normalise to itself, and a merged text must survive
// another merge unchanged.
#include "FuzzSupport.h"

#include "videomaker/LyricText.h"

#include <QFont>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzApplication();
    static const QString fileName = FuzzScratchFile(QStringLiteral("lyrics.lrc"));
    FuzzWriteFile(fileName, FuzzBytes(data, size));

    QString lyricText;
    if (!LoadLyricFile(fileName, lyricText))
        FuzzFail("LoadLyricFile could not read its file");

    if (NormalizeLyricText(lyricText) != lyricText)
        FuzzFail("a normalised lyric text changes when normalised again", lyricText);

    const QString merged = MergeLyricLines(lyricText);
    if (MergeLyricLines(merged) != merged)
        FuzzFail("a merged lyric text changes when merged again", merged);

    // The raw text too, as the lyric editor hands it over without a file.
    const QString raw = QString::fromUtf8(FuzzBytes(data, size));
    MergeLyricLines(NormalizeLyricText(raw));
    MergeLyricLines(raw);

    // The layout of the rows: a few lines, as the page does with the video font.
    static const QFont font(QStringLiteral("DejaVu Sans"), 12, QFont::Bold);
    const QStringList lines = SplitTextLines(lyricText);
    for (qsizetype i = 0; i < lines.size() && i < 4; ++i) {
        const QStringView line = QStringView(lines[i]).left(200);
        const QString tag = NormalizeTimeTag(LeadingTag(line));
        TimeTagMilliseconds(tag);
        const QStringView words = tag.isEmpty() ? line : line.mid(LeadingTag(line).size());
        WrapLyricWords(words.toString(), font, 304);
    }
    return 0;
}
