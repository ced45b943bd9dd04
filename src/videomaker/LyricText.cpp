#include "videomaker/LyricText.h"

#include <QFile>
#include <QImage>
#include <QStringDecoder>
#include <QTextLayout>

#include <limits>
#include <optional>

#include <iconv.h>

namespace {

bool AllDigits(QStringView s) {
    for (QChar c : s)
        if (c < u'0' || c > u'9')
            return false;
    return true;
}

// The decimal value of a run of digits; empty or too large for 32 bits counts as 0.
qint64 DigitsValue(QStringView s) {
    qint64 v = 0;
    for (QChar c : s) {
        v = v * 10 + (c.unicode() - u'0');
        if (v > std::numeric_limits<qint32>::max())
            return 0;
    }
    return v;
}

struct TTagTime {
    qint64 Minutes = 0, Seconds = 0, Hundredths = 0;
};

// Checks and converts a candidate time tag; the carry of fractions and seconds is done.
std::optional<TTagTime> ParseTimeTag(QStringView s) {
    if (s.size() < 2 || !s.startsWith(u'[') || !s.endsWith(u']'))
        return std::nullopt;
    const qsizetype colon = s.indexOf(u':');
    if (colon < 0)
        return std::nullopt;
    const QStringView minutes = s.mid(1, colon - 1);
    if (!AllDigits(minutes))
        return std::nullopt;
    const qsizetype close = s.size() - 1;
    // A ":" that is the final "]"'s own position cannot occur (it is "]"), so colon < close.
    const qsizetype dot = s.indexOf(u'.', colon + 1);
    QStringView seconds;
    QString fraction;
    if (dot >= 0 && dot < close) {
        seconds = s.mid(colon + 1, dot - colon - 1);
        fraction = s.mid(dot + 1, close - dot - 1).toString();
        if (!AllDigits(fraction))
            return std::nullopt;
        // The fraction reads as milliseconds: "5" and "50" both mean 500.
        if (fraction.size() == 1)
            fraction += QStringLiteral("00");
        else if (fraction.size() == 2)
            fraction += u'0';
    } else {
        seconds = s.mid(colon + 1, close - colon - 1);
    }
    if (!AllDigits(seconds))
        return std::nullopt;
    TTagTime t;
    t.Minutes = DigitsValue(minutes);
    t.Seconds = DigitsValue(seconds);
    const qint64 ms = DigitsValue(fraction);
    t.Seconds += ms / 1000;
    t.Hundredths = (ms % 1000) / 10;
    t.Minutes += t.Seconds / 60;
    t.Seconds %= 60;
    return t;
}

QString TwoDigits(qint64 v) {
    return QString::number(v).rightJustified(2, u'0');
}

bool StartsWithNoCase(const QString& s, QLatin1StringView prefix) {
    return s.startsWith(prefix, Qt::CaseInsensitive);
}

QString JoinLines(const QStringList& lines) {
    QString out;
    for (const QString& l : lines) {
        out += l;
        out += LyricLineBreak;
    }
    return out;
}

std::optional<QString> DecodeGb18030(const QByteArray& bytes) {
    QStringDecoder decoder("GB18030");
    if (decoder.isValid())
        return decoder.decode(bytes);
    // Without ICU in Qt the C library's converter does the same.
    iconv_t cd = iconv_open("UTF-16LE", "GB18030");
    if (cd == reinterpret_cast<iconv_t>(-1))
        return std::nullopt;
    QByteArray in = bytes;
    QByteArray out(in.size() * 4 + 4, Qt::Uninitialized);
    char* inPtr = in.data();
    size_t inLeft = static_cast<size_t>(in.size());
    char* outPtr = out.data();
    size_t outLeft = static_cast<size_t>(out.size());
    while (inLeft > 0) {
        if (iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft) != static_cast<size_t>(-1))
            break;
        // An invalid or cut-off sequence: keep a replacement character and go on.
        if (outLeft < 2)
            break;
        *outPtr++ = static_cast<char>(0xFD);
        *outPtr++ = static_cast<char>(0xFF);
        outLeft -= 2;
        ++inPtr;
        --inLeft;
    }
    iconv_close(cd);
    const qsizetype written = out.size() - static_cast<qsizetype>(outLeft);
    return QString::fromUtf16(reinterpret_cast<const char16_t*>(out.constData()), written / 2);
}

// What a UTF-8 reading of some bytes finds: well-formed sequences of two to four bytes,
// and faults (a byte that starts no well-formed sequence).
struct TUtf8Count {
    qsizetype MultiByte = 0;
    qsizetype Faults = 0;
};

TUtf8Count CountUtf8(const QByteArray& bytes) {
    TUtf8Count count;
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.constData());
    const qsizetype n = bytes.size();
    auto continuation = [&](qsizetype i) { return i < n && (p[i] & 0xC0) == 0x80; };
    for (qsizetype i = 0; i < n;) {
        const unsigned char b = p[i];
        if (b < 0x80) {
            ++i;
            continue;
        }
        // The length of the sequence and the range its second byte must lie in (which
        // rules out overlong forms, surrogates and values above U+10FFFF).
        qsizetype length = 0;
        unsigned char low = 0x80, high = 0xBF;
        if (b >= 0xC2 && b <= 0xDF) {
            length = 2;
        } else if (b >= 0xE0 && b <= 0xEF) {
            length = 3;
            low = b == 0xE0 ? 0xA0 : 0x80;
            high = b == 0xED ? 0x9F : 0xBF;
        } else if (b >= 0xF0 && b <= 0xF4) {
            length = 4;
            low = b == 0xF0 ? 0x90 : 0x80;
            high = b == 0xF4 ? 0x8F : 0xBF;
        }
        bool wellFormed = length > 0 && i + 1 < n && p[i + 1] >= low && p[i + 1] <= high;
        for (qsizetype k = 2; wellFormed && k < length; ++k)
            wellFormed = continuation(i + k);
        if (wellFormed) {
            ++count.MultiByte;
            i += length;
        } else {
            ++count.Faults;
            ++i;
        }
    }
    return count;
}

// The bytes that start no well-formed GB18030 character (one, two or four bytes long).
qsizetype CountGb18030Faults(const QByteArray& bytes) {
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.constData());
    const qsizetype n = bytes.size();
    auto in = [&](qsizetype i, unsigned char low, unsigned char high) {
        return i < n && p[i] >= low && p[i] <= high;
    };
    qsizetype faults = 0;
    for (qsizetype i = 0; i < n;) {
        if (p[i] < 0x80) {
            ++i;
        } else if (in(i, 0x81, 0xFE) && (in(i + 1, 0x40, 0x7E) || in(i + 1, 0x80, 0xFE))) {
            i += 2;
        } else if (in(i, 0x81, 0xFE) && in(i + 1, 0x30, 0x39) && in(i + 2, 0x81, 0xFE) &&
                   in(i + 3, 0x30, 0x39)) {
            i += 4;
        } else {
            ++faults;
            ++i;
        }
    }
    return faults;
}

} // namespace

QString NormalizeTimeTag(QStringView tag) {
    const auto t = ParseTimeTag(tag);
    if (!t)
        return {};
    return u'[' + TwoDigits(t->Minutes) + u':' + TwoDigits(t->Seconds) + u'.' +
           TwoDigits(t->Hundredths) + u']';
}

qint64 TimeTagMilliseconds(QStringView tag) {
    const auto t = ParseTimeTag(tag);
    if (!t)
        return 0;
    return (t->Minutes * 60 + t->Seconds) * 1000 + t->Hundredths * 10;
}

QStringView LeadingTag(QStringView line) {
    const qsizetype close = line.indexOf(u']');
    return close < 0 ? QStringView() : line.left(close + 1);
}

void KeepLyricLine(const QString& line, QStringList& out) {
    if (line.contains(u']')) {
        for (const auto prefix :
             {QLatin1StringView("[ti:"), QLatin1StringView("[ar:"), QLatin1StringView("[al:"),
              QLatin1StringView("[by:"), QLatin1StringView("[offset:"), QLatin1StringView("[:")})
            if (StartsWithNoCase(line, prefix))
                return;
    }
    out << line;
}

void SplitLyricLine(const QString& line, QStringList& out) {
    QStringList pending;
    QString r = line;
    const auto passWith = [&](const QString& words) {
        if (pending.isEmpty()) {
            KeepLyricLine(words, out);
            return;
        }
        for (const QString& group : pending)
            KeepLyricLine(group + words, out);
    };
    for (;;) {
        const qsizetype o = r.indexOf(u'[');
        const qsizetype e = o < 0 ? -1 : r.indexOf(u']', o);
        if (e < 0) {
            passWith(r);
            return;
        }
        if (o == 0) {
            pending << r.left(e + 1);
            r.remove(0, e + 1);
            continue;
        }
        passWith(r.left(o));
        pending.clear();
        r.remove(0, o);
    }
}

QString SortLyricLines(QStringList lines) {
    for (qsizetype i = 0; i + 1 < lines.size(); ++i) {
        QString ti = NormalizeTimeTag(LeadingTag(lines.at(i)));
        if (ti.isEmpty())
            continue;
        for (qsizetype j = i + 1; j < lines.size(); ++j) {
            const QString tj = NormalizeTimeTag(LeadingTag(lines.at(j)));
            if (!tj.isEmpty() && TimeTagMilliseconds(tj) < TimeTagMilliseconds(ti)) {
                lines.swapItemsAt(i, j);
                ti = tj;
            }
        }
    }
    return JoinLines(lines);
}

QString MergeLyricLines(const QString& lyricText) {
    QStringList lines = SplitTextLines(lyricText);
    for (qsizetype j = lines.size() - 1; j >= 1; --j) {
        const QString tj = NormalizeTimeTag(LeadingTag(lines.at(j)));
        const QString tp = NormalizeTimeTag(LeadingTag(lines.at(j - 1)));
        if (tj.isEmpty() || tp.isEmpty() || TimeTagMilliseconds(tj) != TimeTagMilliseconds(tp))
            continue;
        const QString& line = lines.at(j);
        lines[j - 1] += line.mid(line.indexOf(u']') + 1);
        lines.removeAt(j);
    }
    return JoinLines(lines);
}

QStringList SplitTextLines(const QString& text) {
    QStringList lines;
    qsizetype start = 0;
    const qsizetype n = text.size();
    for (qsizetype i = 0; i < n; ++i) {
        const QChar c = text.at(i);
        if (c != u'\r' && c != u'\n')
            continue;
        lines << text.mid(start, i - start);
        if (c == u'\r' && i + 1 < n && text.at(i + 1) == u'\n')
            ++i;
        start = i + 1;
    }
    if (start < n)
        lines << text.mid(start);
    return lines;
}

QString DecodeLyricBytes(const QByteArray& bytes) {
    if (bytes.startsWith("\xEF\xBB\xBF"))
        return QString::fromUtf8(bytes.mid(3));
    if (bytes.startsWith("\xFF\xFE")) {
        QStringDecoder d(QStringDecoder::Utf16LE);
        return d.decode(bytes.mid(2));
    }
    if (bytes.startsWith("\xFE\xFF")) {
        QStringDecoder d(QStringDecoder::Utf16BE);
        return d.decode(bytes.mid(2));
    }
    // Without a mark the bytes are UTF-8 or GB18030, whichever reads them with fewer
    // faults. Chinese GB18030 text is nearly never well-formed UTF-8, while UTF-8 text
    // reads as GB18030 without a fault but wrongly: each well-formed UTF-8 sequence of
    // several bytes counts as a fault of the GB18030 reading. A stray byte in UTF-8 text
    // thus stays one replacement character.
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = utf8.decode(bytes);
    if (!utf8.hasError())
        return text;
    const TUtf8Count asUtf8 = CountUtf8(bytes);
    if (asUtf8.Faults < asUtf8.MultiByte + CountGb18030Faults(bytes))
        return text;
    if (auto gb = DecodeGb18030(bytes))
        return *gb;
    return text;
}

QString NormalizeLyricText(const QString& text) {
    QStringList lines;
    for (const QString& line : SplitTextLines(text))
        SplitLyricLine(line, lines);
    return SortLyricLines(lines);
}

bool LoadLyricFile(const QString& fileName, QString& lyricText, QString* error) {
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly)) {
        if (error)
            *error = file.errorString();
        return false;
    }
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        if (error)
            *error = file.errorString();
        return false;
    }
    lyricText = NormalizeLyricText(DecodeLyricBytes(bytes));
    return true;
}

QStringList WrapLyricWords(const QString& words, const QFont& font, int width) {
    QStringList rows;
    if (words.isEmpty())
        return rows;
    // Measure on an image, as the frames are drawn, not with the screen's resolution.
    // The line breaking rules of Unicode allow a break at spaces and between CJK
    // characters; a word that fits no line is broken between characters.
    QImage device(1, 1, QImage::Format_RGB888);
    QTextLayout layout(words, font, &device);
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout.setTextOption(option);
    layout.beginLayout();
    for (;;) {
        QTextLine line = layout.createLine();
        if (!line.isValid())
            break;
        line.setLineWidth(std::max(width, 1));
    }
    layout.endLayout();
    for (int i = 0; i < layout.lineCount(); ++i) {
        const QTextLine line = layout.lineAt(i);
        QString text = words.mid(line.textStart(), line.textLength());
        // The spaces where a line was broken stay out of both rows.
        if (i + 1 < layout.lineCount()) {
            while (text.endsWith(u' '))
                text.chop(1);
        }
        if (i > 0) {
            qsizetype lead = 0;
            while (lead < text.size() && text.at(lead) == u' ')
                ++lead;
            text.remove(0, lead);
        }
        rows << text;
    }
    return rows;
}
