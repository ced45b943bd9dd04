#pragma once

#include <QLocale>
#include <QString>

class QWidget;

// What the recording toolbar and the video production dialog show of the file they are
// writing, and the check both make before playing or showing it.

// Whole seconds of `microseconds` as "%.2d:%.2d:%.2d" (hours may exceed two digits).
QString ElapsedClockText(qint64 microseconds);

// `bytes` in megabytes (1048576 bytes) with one decimal and the locale's digit grouping,
// followed by `unit` ("MB", " MB").
QString MegabyteText(qint64 bytes, const QString& unit, const QLocale& locale = QLocale::system());

// The save-dialog filter of a video file type: "MP4格式(*.mp4)|*.mp4" for "mp4", and so
// on for "wmv", "avi" and "mov" (the extension in lower case, without its dot); empty
// for any other.
QString VideoFileFilter(const QString& extension);

// The entry both format boxes (recording page, production dialog) offer after their
// four: an MP4 file with H.264 pictures and AAC sound.
QString H264FormatText();
// The file extension, lower case without its dot, of an entry of a format box: "mp4"
// for entry 0 and for the H.264 entry, else the entry's text ("wmv", "avi", "mov").
QString FormatEntryExtension(int index, const QString& text);

// True when `fileName` names an existing file; otherwise shows "文件 <name> 不存在。"
// and returns false.
bool OutputFileExists(QWidget* parent, const QString& fileName);

// Opens `fileName` with the desktop's program for its type; when no program can open
// it, a warning names the file (shown later, over `parent` while it still exists).
void OpenWithDesktop(QWidget* parent, const QString& fileName);

// Shows `fileName` in the file manager; when neither a file manager nor any program for
// its folder answers, a warning names the file.
void ShowInFileManager(QWidget* parent, const QString& fileName);
