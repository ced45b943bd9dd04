#include "videomaker/VideoProject.h"

#include "platform/SafeFile.h"
#include "videomaker/LyricText.h"
#include "videomaker/ProjectFile.h"

#include <QAction>
#include <QFile>
#include <QFileInfo>

QList<TLyricRow> LayoutLyricRows(const QString& lyricText, const TVideoMakeSettings& settings) {
    QList<TLyricRow> rows;
    const int width =
        settings.LyricsVideoWidth - settings.LyricsMarginLeft - settings.LyricsMarginRight;
    const auto add = [&rows](const QString& tag, const QString& text) {
        rows.append({QString::number(rows.size() + 1), tag, text});
    };
    for (const QString& line : SplitTextLines(lyricText)) {
        const QStringView head = LeadingTag(line);
        const QString tag = NormalizeTimeTag(head);
        const QString words = tag.isEmpty() ? line : line.mid(head.size());
        const QStringList wrapped = WrapLyricWords(words, settings.VideoFont.Font, width);
        if (wrapped.isEmpty())
            add(tag, QString());
        for (const QString& w : wrapped)
            add(tag, w);
    }
    return rows;
}

QList<qint64> RowTimesOf(const QList<TLyricRow>& rows) {
    QList<qint64> times;
    times.reserve(rows.size());
    for (const TLyricRow& r : rows)
        times << TimeTagMilliseconds(r.Tag) * 1000;
    return times;
}

QString ExportLyricsText(const QList<TLyricRow>& rows) {
    const QString web = ProductWebAddress.toString();
    QStringList lines;
    lines << QStringLiteral("[by:Vexmira ") + web + u']'
          << QStringLiteral("[00:00:00]本歌词由“Vexmira”制作")
          << QStringLiteral("[00:00:00]") + web;
    for (const TLyricRow& r : rows)
        lines << r.Tag + r.Text;
    QString text;
    for (const QString& l : lines) {
        text += l;
        text += LyricLineBreak;
    }
    return text;
}

bool WriteLyricsFile(const QString& fileName, const QList<TLyricRow>& rows, QString* error) {
    const QString text = ExportLyricsText(rows);
    QByteArray bytes("\xFF\xFE", 2);
    for (QChar c : text) {
        bytes.append(static_cast<char>(c.unicode() & 0xFF));
        bytes.append(static_cast<char>(c.unicode() >> 8));
    }
    return WriteFileReplacing(fileName, bytes, error);
}

// The flag is kept here and shown by the action: a hidden action reads as disabled, so
// its enabled state cannot be asked while another page is showing.
bool TVideoProject::Modified() const {
    return FModified;
}

void TVideoProject::SetModified(bool modified) {
    FModified = modified;
    if (FSaveAction)
        FSaveAction->setEnabled(modified);
    emit ModifiedChanged(modified);
}

void TVideoProject::AttachSaveAction(QAction* action) {
    FSaveAction = action;
    if (action)
        action->setEnabled(FModified);
}

void TVideoProject::SetRows(QList<TLyricRow> rows) {
    Rows = std::move(rows);
    RowTimes = RowTimesOf(Rows);
    emit RowsChanged();
}

void TVideoProject::SetAudioFile(const QString& fileName) {
    AudioFile = fileName;
    emit AudioFileChanged();
}

TVideoProject& VideoProject() {
    static TVideoProject project;
    return project;
}

void LayoutLyricRows() {
    TVideoProject& p = VideoProject();
    p.SetRows(LayoutLyricRows(p.LyricText, VideoMakeSettings()));
}

void BuildRowTimes() {
    TVideoProject& p = VideoProject();
    p.RowTimes = RowTimesOf(p.Rows);
}

TProjectData CurrentProjectData(const QString& fileName) {
    const TVideoProject& project = VideoProject();
    const auto stored = [&fileName](const QString& path) {
        return fileName.isEmpty() ? path : StoredFileName(path, fileName);
    };
    TProjectData data;
    data.Version = project.ProjectVersion;
    data.Settings = VideoMakeSettings();
    data.AudioName = stored(project.AudioFile);
    data.LyricText = project.LyricText;
    for (const QString& photo : project.Photos)
        data.PhotoNames << stored(photo);
    return data;
}

QString ProjectPromptName() {
    const TVideoProject& project = VideoProject();
    if (!project.ProjectFileName.isEmpty())
        return project.ProjectFileName;
    if (!project.AudioFile.isEmpty()) {
        const QFileInfo audio(project.AudioFile);
        return audio.path() + u'/' + audio.completeBaseName() + QStringLiteral(".lmmc");
    }
    return QStringLiteral("我的视频.lmmc");
}

TProjectReadResult ReadProjectIntoCurrent(const QString& fileName, const QString& namesRelativeTo) {
    const QString base = namesRelativeTo.isEmpty() ? fileName : namesRelativeTo;
    TProjectReadResult result;
    if (!QFileInfo(fileName).isFile())
        return result;
    QFile file(fileName);
    QByteArray bytes;
    if (file.open(QIODevice::ReadOnly))
        bytes = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        result.ReadError = file.errorString();
        return result;
    }

    TVideoProject& project = VideoProject();
    TVideoMakeSettings& settings = VideoMakeSettings();
    TProjectData data;
    data.Version = project.ProjectVersion;
    data.Settings = settings;
    const TProjectPart read = ReadProjectBytes(bytes, data);
    result.Whole = read >= ppPhotos;
    project.ProjectVersion = data.Version;
    settings = data.Settings;
    if (read >= ppFont)
        TextToFont(data.FontText, settings.VideoFont);
    // Values the dialogs could never produce are brought into their limits before they
    // reach the layout and the composer.
    ClampVideoMakeSettings(settings);

    if (read >= ppAudio && !data.AudioName.isEmpty()) {
        const QString audio = ResolveStoredName(data.AudioName, base);
        if (QFileInfo(audio).isFile())
            project.SetAudioFile(audio);
        else
            result.Missing << audio;
    }
    if (read >= ppLyrics)
        project.LyricText = data.LyricText;
    LayoutLyricRows();

    for (const QString& name : data.PhotoNames) {
        const QString photo = ResolveStoredName(name, base);
        if (QFileInfo(photo).isFile())
            result.Photos << photo;
        else
            result.Missing << photo;
    }
    return result;
}
