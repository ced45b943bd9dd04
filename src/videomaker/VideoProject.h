#pragma once

#include "videomaker/ProjectFile.h"
#include "videomaker/VideoMakeSettings.h"

#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>

class QAction;

// The lyrics of a project laid out for the video: one row per line of video text.
struct TLyricRow {
    QString Order; // 1-based position, as decimal text
    QString Tag;   // normalised time tag of the lyric line, or empty
    QString Text;  // the row's words
    bool operator==(const TLyricRow&) const = default;
};

// Lays `lyricText` out into rows for `settings` (video size minus margins, video font):
// each line gives one row per wrapped line of its words, all with the line's tag; a line
// without words gives one empty row. The empty text gives no rows.
QList<TLyricRow> LayoutLyricRows(const QString& lyricText, const TVideoMakeSettings& settings);
// The time of each row in microseconds; 0 for a row without a tag.
QList<qint64> RowTimesOf(const QList<TLyricRow>& rows);
// The LRC text of the rows: three fixed lines naming the product, then every row's tag
// followed by its text, each line ending in CR LF.
QString ExportLyricsText(const QList<TLyricRow>& rows);
// Writes ExportLyricsText as UTF-16LE with a byte-order mark, through a temporary file.
bool WriteLyricsFile(const QString& fileName, const QList<TLyricRow>& rows, QString* error);

// The current project of the 视频制作 page: the song, the lyrics in both forms and the
// photos. The windows of the video maker read it and change it through the functions
// below; the page shows it and follows the change signals. Main thread only.
class TVideoProject : public QObject {
    Q_OBJECT
public:
    QString AudioFile;      // full path of the song; empty when none is chosen
    QString LyricText;      // the lyrics, lines separated by CR LF
    QList<TLyricRow> Rows;  // the rows shown in ListViewLyrics
    QList<qint64> RowTimes; // one time per row, microseconds
    QStringList Photos;     // full paths in list order
    QString ProjectFileName;
    // The version written into project files: 1000, or what a project opened earlier in
    // this run held.
    qint32 ProjectVersion = 1000;

    // The modified flag. An attached save action is enabled exactly while it is set.
    bool Modified() const;
    void SetModified(bool modified);
    void AttachSaveAction(QAction* action);

    // Replaces the rows, rebuilds RowTimes and tells the page.
    void SetRows(QList<TLyricRow> rows);
    void SetAudioFile(const QString& fileName);

signals:
    void RowsChanged();
    void AudioFileChanged();
    void ModifiedChanged(bool modified);

private:
    bool FModified = false;
    QPointer<QAction> FSaveAction;
};

TVideoProject& VideoProject();

// Rebuilds the rows and RowTimes of the current project from its LyricText with the live
// settings.
void LayoutLyricRows();
// Rebuilds RowTimes from the current rows (after their tags were changed).
void BuildRowTimes();

// What reading a project file into the current project found.
struct TProjectReadResult {
    QString ReadError;   // the file exists but could not be read; nothing was changed
    bool Whole = true;   // false: the file ended before its contents did
    QStringList Photos;  // the photos that exist, full paths in list order
    QStringList Missing; // the song and the photos named by the file that do not exist
};

// What a save of the current project to `fileName` writes: the live settings, the song,
// the lyric text and the photos, file names stored as for a project file of that name
// (full paths when `fileName` is empty).
TProjectData CurrentProjectData(const QString& fileName);

// The name the project goes by in prompts: its file, else its song's path with the
// extension ".lmmc", else "我的视频.lmmc".
QString ProjectPromptName();

// Reads `fileName` into the live settings and the current project: the settings of the
// file (clamped into the dialogs' limits), its song when that exists, its lyrics and
// their rows. The photos are only listed in the result; the caller adds them to the
// project. A file that does not exist changes nothing. Used by the 视频制作 page and by
// the command-line video maker, so both see a project alike. Bare file names are found
// beside `namesRelativeTo` when it is given (a copy of a project kept elsewhere), else
// beside `fileName`.
TProjectReadResult ReadProjectIntoCurrent(const QString& fileName,
                                          const QString& namesRelativeTo = QString());
