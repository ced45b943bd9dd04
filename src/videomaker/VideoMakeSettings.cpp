#include "videomaker/VideoMakeSettings.h"

#include "state/ProgramState.h"

#include <QApplication>
#include <QPalette>

#include <algorithm>
#include <climits>
#include <cmath>

namespace {

constexpr int FontPixelsPerInch = 96;

const QLatin1StringView StyleNames[] = {QLatin1StringView("fsBold"), QLatin1StringView("fsItalic"),
                                        QLatin1StringView("fsUnderline"),
                                        QLatin1StringView("fsStrikeOut")};

QString Hex8(qint32 v) {
    return QString::number(static_cast<quint32>(v), 16).toUpper().rightJustified(8, u'0');
}

bool ParseHex8(QStringView text, qsizetype pos, qint32& value) {
    if (pos + 8 > text.size())
        return false;
    quint32 v = 0;
    for (QChar c : text.mid(pos, 8)) {
        const char16_t u = c.unicode();
        int d = -1;
        if (u >= u'0' && u <= u'9')
            d = u - u'0';
        else if (u >= u'A' && u <= u'F')
            d = u - u'A' + 10;
        else if (u >= u'a' && u <= u'f')
            d = u - u'a' + 10;
        if (d < 0)
            return false;
        v = v * 16 + static_cast<quint32>(d);
    }
    value = static_cast<qint32>(v);
    return true;
}

int PointsFromPixels(int pixels) {
    return static_cast<int>(std::lround(pixels * 72.0 / FontPixelsPerInch));
}

// Saturated at the largest int: a point size from a file may be far beyond any real
// font, and its height must still be a number whose negative exists.
int PixelsFromPoints(double points) {
    return static_cast<int>(
        std::clamp<double>(std::round(points * FontPixelsPerInch / 72.0), -INT_MAX, INT_MAX));
}

void ApplyPitchAndQuality(TLyricsFont& f) {
    f.Font.setFixedPitch(f.Pitch == 2);
    switch (f.Quality) {
    case 3:
        f.Font.setStyleStrategy(QFont::NoAntialias);
        break;
    case 4:
    case 5:
    case 6:
        f.Font.setStyleStrategy(QFont::PreferAntialias);
        break;
    default:
        f.Font.setStyleStrategy(QFont::PreferDefault);
        break;
    }
}

bool ApplyStyleText(QStringView text, QFont& font) {
    if (text.size() < 2 || !text.startsWith(u'[') || !text.endsWith(u']'))
        return false;
    bool styles[4] = {false, false, false, false};
    const QString inner = text.mid(1, text.size() - 2).toString();
    for (const QString& part : inner.split(u',', Qt::SkipEmptyParts)) {
        const QString name = part.trimmed();
        bool known = false;
        for (int i = 0; i < 4; ++i)
            if (name.compare(StyleNames[i], Qt::CaseInsensitive) == 0)
                styles[i] = known = true;
        if (!known)
            return false;
    }
    font.setBold(styles[0]);
    font.setItalic(styles[1]);
    font.setUnderline(styles[2]);
    font.setStrikeOut(styles[3]);
    return true;
}

template <typename T> void Clamp(T& v, T lo, T hi) {
    v = std::clamp(v, lo, std::max(lo, hi));
}

} // namespace

QColor ColorFromValue(TColorValue value) {
    return QColor(static_cast<int>(value & 0xFF), static_cast<int>((value >> 8) & 0xFF),
                  static_cast<int>((value >> 16) & 0xFF));
}

TColorValue ValueFromColor(const QColor& color) {
    return static_cast<TColorValue>(color.red()) | (static_cast<TColorValue>(color.green()) << 8) |
           (static_cast<TColorValue>(color.blue()) << 16);
}

TVideoMakeSettings& VideoMakeSettings() {
    static TVideoMakeSettings settings = DefaultVideoMakeSettings();
    return settings;
}

void ClampVideoMakeSettings(TVideoMakeSettings& s) {
    Clamp(s.LyricsVideoWidth, MinVideoWidth, MaxVideoWidth);
    Clamp(s.LyricsVideoHeight, MinVideoHeight, MaxVideoHeight);
    Clamp(s.LyricsMarginLeft, 0, s.LyricsVideoWidth / 2);
    Clamp(s.LyricsMarginRight, 0, s.LyricsVideoWidth / 2);
    Clamp(s.LyricsMarginTop, 0, s.LyricsVideoHeight / 2);
    Clamp(s.LyricsMarginBottom, 0, s.LyricsVideoHeight / 2);
    Clamp(s.LyricsMaxLineCount, 0, MaxLineCountLimit);
    Clamp(s.LyricsLineSpacing, MinLineSpacing, MaxLineSpacing);
    Clamp(s.PictureDuration, MinPictureDuration, MaxPictureDuration);
    Clamp(s.ReactionOffset, MinReactionOffset, MaxReactionOffset);
}

TLyricsFont SystemMenuFont() {
    TLyricsFont f;
    f.Font = QApplication::font("QMenu");
    f.Color = ValueFromColor(QApplication::palette().color(QPalette::WindowText));
    return f;
}

TVideoMakeSettings DefaultVideoMakeSettings() {
    TVideoMakeSettings s;
    s.VideoFont = SystemMenuFont();
    s.VideoFont.Font.setPointSize(12);
    s.VideoFont.Font.setBold(true);
    s.VideoFont.Color = 0x00FFFFFF;
    return s;
}

QString FontToText(const TLyricsFont& f) {
    int size = 0, height = 0;
    if (f.Font.pixelSize() > 0) {
        height = -f.Font.pixelSize();
        size = PointsFromPixels(f.Font.pixelSize());
    } else {
        size = static_cast<int>(std::lround(f.Font.pointSizeF()));
        height = -PixelsFromPoints(size);
    }
    QString style;
    for (int i = 0; i < 4; ++i) {
        const bool set = i == 0   ? f.Font.bold()
                         : i == 1 ? f.Font.italic()
                         : i == 2 ? f.Font.underline()
                                  : f.Font.strikeOut();
        if (!set)
            continue;
        if (!style.isEmpty())
            style += u',';
        style += StyleNames[i];
    }
    style = u'[' + style + u']';
    const QString name = f.Font.family();
    return Hex8(f.Charset) + Hex8(static_cast<qint32>(f.Color)) + Hex8(height) +
           Hex8(f.Orientation) + Hex8(f.Pitch) + Hex8(f.Quality) + Hex8(size) +
           Hex8(static_cast<qint32>(name.size())) + name + Hex8(static_cast<qint32>(style.size())) +
           style;
}

bool TextToFont(const QString& text, TLyricsFont& font) {
    TLyricsFont f = font;
    qint32 fields[8];
    bool ok = true;
    for (int i = 0; i < 8 && ok; ++i)
        ok = ParseHex8(text, i * 8, fields[i]);
    const qint32 nameLength = ok ? fields[7] : -1;
    ok = ok && nameLength >= 0 && 64 + static_cast<qsizetype>(nameLength) <= text.size();
    qint32 styleLength = -1;
    ok = ok && ParseHex8(text, 64 + nameLength, styleLength) && styleLength >= 0 &&
         64 + static_cast<qsizetype>(nameLength) + 8 + styleLength <= text.size();
    if (ok) {
        f.Charset = fields[0];
        f.Color = static_cast<TColorValue>(fields[1]);
        if (fields[2] != 0 && fields[2] != INT_MIN)
            f.Font.setPixelSize(std::abs(fields[2]));
        f.Orientation = fields[3];
        f.Pitch = fields[4];
        f.Quality = fields[5];
        ApplyPitchAndQuality(f);
        // The size comes after the height and decides the final height, except where
        // it is only the height in points, rounded, and its own height is another one:
        // then the height is the exact size, and a font sized in pixels keeps its size
        // through a save and a read.
        const qint64 pixels = std::abs(qint64(fields[2]));
        const bool sizeIsTheHeight = fields[2] != 0 && pixels <= INT_MAX &&
                                     PointsFromPixels(int(pixels)) == fields[6] &&
                                     PixelsFromPoints(fields[6]) != pixels;
        if (fields[6] > 0 && !sizeIsTheHeight)
            f.Font.setPointSize(fields[6]);
        f.Font.setFamily(text.mid(64, nameLength));
        ok = ApplyStyleText(QStringView(text).mid(64 + nameLength + 8, styleLength), f.Font);
    }
    font = ok ? f : SystemMenuFont();
    return ok;
}

QString VideoMakeSection() {
    return QStringLiteral("VideoMake");
}

void ResetVideoMakeSettings() {
    VideoMakeSettings() = DefaultVideoMakeSettings();
}

void ReadVideoMakeSettings() {
    TVideoMakeSettings& s = VideoMakeSettings();
    const TProfile ini = ProgramState().Settings();
    const QString sec = VideoMakeSection();
    const auto readInt = [&](const char* key, auto& field) {
        using T = std::remove_reference_t<decltype(field)>;
        field =
            static_cast<T>(ini.ReadInteger(sec, QLatin1StringView(key), static_cast<int>(field)));
    };
    const auto readBool = [&](const char* key, bool& field) {
        field = ini.ReadBool(sec, QLatin1StringView(key), field);
    };
    readInt("HorizontalAlignment", s.HorizontalAlignment);
    readInt("VerticalAlignment", s.VerticalAlignment);
    TextToFont(ini.ReadString(sec, QStringLiteral("VideoFont"), FontToText(s.VideoFont)),
               s.VideoFont);
    readInt("CurrentFontColor", s.CurrentFontColor);
    readInt("BackGroundColor", s.BackGroundColor);
    readInt("LyricsVideoWidth", s.LyricsVideoWidth);
    readInt("LyricsVideoHeight", s.LyricsVideoHeight);
    readInt("LyricsMarginTop", s.LyricsMarginTop);
    readInt("LyricsMarginLeft", s.LyricsMarginLeft);
    readInt("LyricsMarginRight", s.LyricsMarginRight);
    readInt("LyricsMarginBottom", s.LyricsMarginBottom);
    readInt("LyricsMaxLineCount", s.LyricsMaxLineCount);
    readInt("LyricsLineSpacing", s.LyricsLineSpacing);
    readInt("PictureDuration", s.PictureDuration);
    readBool("PictureAccording", s.PictureAccording);
    readBool("PictureRepeat", s.PictureRepeat);
    readBool("PictureRandom", s.PictureRandom);
    readInt("ReactionOffset", s.ReactionOffset);
    ClampVideoMakeSettings(s);
}

bool WriteVideoMakeSettings() {
    const TVideoMakeSettings& s = VideoMakeSettings();
    const TProfile ini = ProgramState().Settings();
    const QString sec = VideoMakeSection();
    bool ok = true;
    const auto writeInt = [&](const char* key, qint64 value) {
        ok = ini.WriteInteger(sec, QLatin1StringView(key), static_cast<int>(value)) && ok;
    };
    const auto writeBool = [&](const char* key, bool value) {
        ok = ini.WriteBool(sec, QLatin1StringView(key), value) && ok;
    };
    writeInt("HorizontalAlignment", s.HorizontalAlignment);
    writeInt("VerticalAlignment", s.VerticalAlignment);
    ok = ini.WriteString(sec, QStringLiteral("VideoFont"), FontToText(s.VideoFont)) && ok;
    writeInt("CurrentFontColor", static_cast<qint32>(s.CurrentFontColor));
    writeInt("BackGroundColor", static_cast<qint32>(s.BackGroundColor));
    writeInt("LyricsVideoWidth", s.LyricsVideoWidth);
    writeInt("LyricsVideoHeight", s.LyricsVideoHeight);
    writeInt("LyricsMarginTop", s.LyricsMarginTop);
    writeInt("LyricsMarginLeft", s.LyricsMarginLeft);
    writeInt("LyricsMarginRight", s.LyricsMarginRight);
    writeInt("LyricsMarginBottom", s.LyricsMarginBottom);
    writeInt("LyricsMaxLineCount", s.LyricsMaxLineCount);
    writeInt("LyricsLineSpacing", s.LyricsLineSpacing);
    writeInt("PictureDuration", s.PictureDuration);
    writeBool("PictureAccording", s.PictureAccording);
    writeBool("PictureRepeat", s.PictureRepeat);
    writeBool("PictureRandom", s.PictureRandom);
    writeInt("ReactionOffset", s.ReactionOffset);
    return ok;
}

bool WriteReactionOffset() {
    return ProgramState().Settings().WriteInteger(
        VideoMakeSection(), QStringLiteral("ReactionOffset"), VideoMakeSettings().ReactionOffset);
}

void SetVideoMakeDefaults() {
    ResetVideoMakeSettings();
}

void ReadVideoMakeSection() {
    ReadVideoMakeSettings();
}
