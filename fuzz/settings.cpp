// The settings readers over an arbitrary settings file: the VideoMake section into the
// live video settings, and every key of the General section in the form the main window
// and the recording page read it. A value written by the program reads back as written.
#include "FuzzSupport.h"

#include "platform/Profile.h"
#include "state/ProgramState.h"
#include "videomaker/VideoMakeSettings.h"

namespace {

// Spaces and tabs around a value do not survive the INI format (as on Windows); line
// breaks never reach it.
QString IniTrimmed(QString value) {
    const auto blank = [](QChar c) { return c == u' ' || c == u'\t'; };
    while (!value.isEmpty() && blank(value.back()))
        value.chop(1);
    while (!value.isEmpty() && blank(value.front()))
        value.remove(0, 1);
    return value;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzApplication();
    static const QString fileName = FuzzScratchFile(QStringLiteral("Vexmira20.ini"));
    FuzzWriteFile(fileName, FuzzBytes(data, size));
    ProgramState().IniFileName = fileName;

    ResetVideoMakeSettings();
    ReadVideoMakeSettings();
    const TVideoMakeSettings& s = VideoMakeSettings();
    if (s.LyricsVideoWidth < MinVideoWidth || s.LyricsVideoWidth > MaxVideoWidth ||
        s.LyricsVideoHeight < MinVideoHeight || s.LyricsVideoHeight > MaxVideoHeight ||
        s.PictureDuration < MinPictureDuration || s.LyricsLineSpacing < MinLineSpacing ||
        s.LyricsMarginLeft < 0 || s.LyricsMarginLeft > s.LyricsVideoWidth / 2 ||
        s.LyricsMarginRight < 0 || s.LyricsMarginRight > s.LyricsVideoWidth / 2 ||
        s.LyricsMarginTop < 0 || s.LyricsMarginTop > s.LyricsVideoHeight / 2 ||
        s.LyricsMarginBottom < 0 || s.LyricsMarginBottom > s.LyricsVideoHeight / 2 ||
        s.LyricsMaxLineCount < 0 || s.LyricsMaxLineCount > MaxLineCountLimit)
        FuzzFail("video settings from the settings file are out of their limits");

    const TProfile profile = ProgramState().Settings();
    const QString g = GeneralSection();
    for (const char* key : {"PageIndex", "CaptureLeft", "CaptureTop", "CaptureWidth",
                            "CaptureHeight", "ToolBarLeft", "ToolBarTop"})
        profile.ReadInteger(g, QLatin1StringView(key), 0);
    for (const char* key : {"HideWhenClose", "ShowIntroduction", "ScreenCapture", "CursorCapture",
                            "WaveCapture", "HideBorder"})
        profile.ReadBool(g, QLatin1StringView(key), true);
    const QString videoSize = profile.ReadString(g, QStringLiteral("VideoSize"), QString());
    profile.ReadString(g, QStringLiteral("VideoType"), QString());
    profile.ReadString(g, QStringLiteral("SaveDir"), QString());
    const QString pictureDir = profile.ReadString(g, QStringLiteral("PictureDir"), QString());

    // Writing one key keeps the file readable and the key reads back; the other
    // section's values stay as they were.
    const QString font =
        profile.ReadString(VideoMakeSection(), QStringLiteral("VideoFont"), QStringLiteral("-"));
    QString value = videoSize + pictureDir;
    if (!profile.WriteString(g, QStringLiteral("VideoSize"), value))
        FuzzFail("the settings file could not be written");
    value.replace(u'\r', u' ').replace(u'\n', u' ');
    const QString back = profile.ReadString(g, QStringLiteral("VideoSize"), QString());
    if (back != IniTrimmed(value))
        FuzzFail("a written setting does not read back", value + u'|' + back);
    if (profile.ReadString(VideoMakeSection(), QStringLiteral("VideoFont"), QStringLiteral("-")) !=
        font)
        FuzzFail("writing a General key changed a VideoMake value", font);
    return 0;
}
