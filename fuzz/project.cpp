// The project file reader: any bytes through ReadProjectBytes, then what opening a
// project does with what was read (the font text, the limits of the settings, the stored
// names). A file read whole must be written back to the same bytes' contents.
#include "FuzzSupport.h"

#include "videomaker/LyricText.h"
#include "videomaker/ProjectFile.h"
#include "videomaker/VideoMakeSettings.h"

namespace {

bool SameProject(const TProjectData& a, const TProjectData& b) {
    const TVideoMakeSettings &s = a.Settings, &t = b.Settings;
    return a.Version == b.Version && s.HorizontalAlignment == t.HorizontalAlignment &&
           s.VerticalAlignment == t.VerticalAlignment && s.CurrentFontColor == t.CurrentFontColor &&
           s.BackGroundColor == t.BackGroundColor && s.LyricsVideoWidth == t.LyricsVideoWidth &&
           s.LyricsVideoHeight == t.LyricsVideoHeight && s.LyricsMarginTop == t.LyricsMarginTop &&
           s.LyricsMarginLeft == t.LyricsMarginLeft && s.LyricsMarginRight == t.LyricsMarginRight &&
           s.LyricsMarginBottom == t.LyricsMarginBottom &&
           s.LyricsMaxLineCount == t.LyricsMaxLineCount &&
           s.LyricsLineSpacing == t.LyricsLineSpacing && s.PictureDuration == t.PictureDuration &&
           s.PictureAccording == t.PictureAccording && s.PictureRepeat == t.PictureRepeat &&
           s.PictureRandom == t.PictureRandom && a.AudioName == b.AudioName &&
           a.LyricText == b.LyricText && a.PhotoNames == b.PhotoNames;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzApplication();
    const QByteArray bytes = FuzzBytes(data, size);
    TProjectData project;
    project.Settings = DefaultVideoMakeSettings();
    const TProjectPart part = ReadProjectBytes(bytes, project);
    if (part >= ppFont)
        TextToFont(project.FontText, project.Settings.VideoFont);
    if (part == ppPhotos) {
        // The written form of what was read reads back the same.
        TProjectData again;
        const QByteArray written = ProjectFileBytes(project);
        if (ReadProjectBytes(written, again) != ppPhotos || !SameProject(project, again))
            FuzzFail("a project read whole does not read back after writing");
    }

    ClampVideoMakeSettings(project.Settings);
    const TVideoMakeSettings& s = project.Settings;
    if (s.LyricsVideoWidth < MinVideoWidth || s.LyricsVideoHeight < MinVideoHeight ||
        s.PictureDuration < MinPictureDuration || s.LyricsLineSpacing < MinLineSpacing ||
        s.LyricsMarginLeft < 0 || s.LyricsMarginRight < 0 || s.LyricsMarginTop < 0 ||
        s.LyricsMarginBottom < 0 || s.LyricsMaxLineCount < 0)
        FuzzFail("settings from a project file are out of their limits after clamping");

    static const QString projectFile = QStringLiteral("/home/user/Videos/song.lmmc");
    ResolveStoredName(project.AudioName, projectFile);
    for (const QString& name : project.PhotoNames)
        StoredFileName(ResolveStoredName(name, projectFile), projectFile);
    NormalizeTimeTag(LeadingTag(project.LyricText));
    return 0;
}
