#pragma once

#include <QColor>
#include <QFont>
#include <QString>

// The lyrics-video settings: one program-wide record that decides how a lyrics video
// looks, its text form for fonts, and the VideoMake section of the settings file.
// Main thread only.

// Colours are 32-bit values laid out 00BBGGRR (red in the low byte).
using TColorValue = quint32;
QColor ColorFromValue(TColorValue value);
TColorValue ValueFromColor(const QColor& color);

// Horizontal alignment codes of the lyric rows.
inline constexpr quint8 haLeft = 8, haCenter = 2, haRight = 12;
// Vertical alignment codes of the block of rows; any other value acts as bottom.
inline constexpr quint8 vaTop = 15, vaCenter = 16, vaBottom = 0;

// The video font: a Qt font plus what the font text carries beyond it. Pitch and quality
// are also applied to the Qt font where it has an equivalent (fixed pitch, antialiasing);
// the character set and the orientation are kept only to be written back.
struct TLyricsFont {
    QFont Font;
    TColorValue Color = 0;  // colour of the rows that are not current
    qint32 Charset = 1;     // 1: the default character set
    qint32 Orientation = 0; // tenths of a degree
    qint32 Pitch = 0;       // 0 default, 1 variable, 2 fixed
    qint32 Quality = 0;     // 0 default ... 6 ClearType natural
};

struct TVideoMakeSettings {
    quint8 HorizontalAlignment = haCenter;
    quint8 VerticalAlignment = vaBottom;
    TLyricsFont VideoFont;
    TColorValue CurrentFontColor = 0x0000FFFF;
    TColorValue BackGroundColor = 0x00800000;
    qint32 LyricsVideoWidth = 320;
    qint32 LyricsVideoHeight = 240;
    qint32 LyricsMarginTop = 8;
    qint32 LyricsMarginLeft = 8;
    qint32 LyricsMarginRight = 8;
    qint32 LyricsMarginBottom = 8;
    qint32 LyricsMaxLineCount = 2; // 0: as many rows as fit
    qint32 LyricsLineSpacing = 4;
    qint32 PictureDuration = 5; // seconds
    bool PictureAccording = true;
    bool PictureRepeat = true;
    bool PictureRandom = false;
    // Milliseconds subtracted from every time the time adjuster stamps, for a user who
    // always taps late (negative: early). Not part of the project file.
    qint32 ReactionOffset = 0;
};

// The live settings of the program.
TVideoMakeSettings& VideoMakeSettings();

// The limits of the settings dialogs.
inline constexpr int MinVideoWidth = 80, MaxVideoWidth = 1920;
inline constexpr int MinVideoHeight = 45, MaxVideoHeight = 1080;
inline constexpr int MaxLineCountLimit = 200;
inline constexpr int MinLineSpacing = 1, MaxLineSpacing = 200;
inline constexpr int MinPictureDuration = 1, MaxPictureDuration = 9999;
inline constexpr int MinReactionOffset = -1000, MaxReactionOffset = 1000;

// Brings every number into the limits the dialogs allow (sizes, margins up to half the
// size, row count 0..200, spacing, photo duration, reaction offset), so values from a settings or
// project file can never reach the frame composer's divisions as zero or below. Alignment codes
// stay as they are.
void ClampVideoMakeSettings(TVideoMakeSettings& settings);

// The system menu font (the platform's menu font as Qt reports it), in the colour of
// window text.
TLyricsFont SystemMenuFont();

// The default settings; the video font is the system menu font at 12 points, bold, white.
TVideoMakeSettings DefaultVideoMakeSettings();

// The font text of the settings and project files: eight fields of 8 upper-case hex
// digits (character set, colour, height in pixels, negative for point sizes, orientation,
// pitch, quality, size in points, face-name length), the face name, the style-text length
// in 8 hex digits and the style text ("[fsBold,fsItalic,fsUnderline,fsStrikeOut]", only
// the set styles). Heights convert at 96 pixels per inch.
QString FontToText(const TLyricsFont& font);
// Parses a font text into `font`. On any fault (a field that is not hexadecimal, an
// unknown style, a text too short) `font` becomes SystemMenuFont() and false is returned.
bool TextToFont(const QString& text, TLyricsFont& font);

// The name of the settings file's section of the video maker.
QString VideoMakeSection();

// Sets the live settings to the defaults.
void ResetVideoMakeSettings();
// Reads the VideoMake section over the live settings; a missing key keeps the current
// value, a font text that cannot be parsed gives the system menu font. Out-of-limit
// numbers are clamped (ClampVideoMakeSettings).
void ReadVideoMakeSettings();
// Writes every live setting to the VideoMake section, key by key in the file's order.
// False when the settings file could not be written.
bool WriteVideoMakeSettings();
// Writes only the reaction offset (the time adjuster's OK). False when the settings file
// could not be written.
bool WriteReactionOffset();

// The main window's start-up steps: defaults, then the section of the settings file.
void SetVideoMakeDefaults();
void ReadVideoMakeSection();
