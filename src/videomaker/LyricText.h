#pragma once

#include <QByteArray>
#include <QFont>
#include <QString>
#include <QStringList>

// The text rules of LRC lyrics: time tags, lines with several tags, information tags,
// sorting and merging by time, reading lyric files and the exported LRC text. Pure
// functions on texts without widgets or program state; thread-safe.

// The line break the program puts between lyric lines.
inline constexpr QStringView LyricLineBreak = u"\r\n";

// The web address of the product, written into exported lyric files.
inline constexpr QStringView ProductWebAddress = u"https://www.vexmira.com";

// `tag` in the form "[mm:ss.hh]" (minutes at least two digits), or empty when `tag` is
// not a valid time tag. "[1:2.5]" gives "[01:02.50]", "[00:75.00]" gives "[01:15.00]".
QString NormalizeTimeTag(QStringView tag);

// The time of `tag` in milliseconds to the nearest lower ten; 0 when `tag` is not valid.
qint64 TimeTagMilliseconds(QStringView tag);

// The text of `line` up to and including its first "]"; empty when it has none.
QStringView LeadingTag(QStringView line);

// Appends `line` to `out` unless it is an information tag line ("[ti:", "[ar:", "[al:",
// "[by:", "[offset:" or "[:" at its start, in any letter case).
void KeepLyricLine(const QString& line, QStringList& out);

// Turns one line with any number of bracket groups into lines with at most one leading
// group each and passes them to KeepLyricLine: "[1][2]Hi" gives "[1]Hi" and "[2]Hi".
void SplitLyricLine(const QString& line, QStringList& out);

// Reorders the timed lines among the places they occupy by their time (untimed lines stay
// where they are) and returns the lines joined, each followed by CR LF.
QString SortLyricLines(QStringList lines);

// Joins each run of neighbouring lines of the same time into the run's first line.
QString MergeLyricLines(const QString& lyricText);

// Splits a text into lines at CR LF, CR or LF. A break at the very end starts no further
// line, so the empty text has no lines.
QStringList SplitTextLines(const QString& text);

// Decodes the bytes of a lyric file: a byte-order mark selects UTF-8, UTF-16LE or
// UTF-16BE; without one the bytes are read as UTF-8 or as GB18030 (the Chinese ANSI
// code page), whichever reads them with fewer faults, and a byte that does not fit is
// replaced by U+FFFD.
QString DecodeLyricBytes(const QByteArray& bytes);

// Every line of `text` split (SplitLyricLine) and then sorted (SortLyricLines).
QString NormalizeLyricText(const QString& text);

// NormalizeLyricText of the decoded file. False with `error` set when the file cannot be
// read; `lyricText` is then unchanged.
bool LoadLyricFile(const QString& fileName, QString& lyricText, QString* error = nullptr);

// Lays one line's words out into the lines of text that fit `width` pixels in `font`,
// measured as drawn on a 96-dpi image: breaks fall between words at spaces and between
// CJK characters; a word wider than the width is broken between characters. The spaces
// at a break are dropped. Empty words give no lines.
QStringList WrapLyricWords(const QString& words, const QFont& font, int width);
