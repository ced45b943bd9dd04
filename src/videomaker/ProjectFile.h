#pragma once

#include "videomaker/VideoMakeSettings.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

// The project file (".lmmc"): little-endian integers, texts in UTF-16LE without a
// terminator, each text preceded by its length in code units. Layout:
//   0   int32   version
//   4   uint8   horizontal alignment      5  uint8  vertical alignment
//   6   uint32  current row colour        10 uint32 background colour
//   14  int32 × 8  width, height, margins top, left, right, bottom, row count, spacing
//   46  int32 × 10 reserved (0)
//   86  int32   photo duration            90..92 uint8 × 3 according, repeat, random
//   93  int32 × 10 reserved (0)
//   133 text    font text, then the audio name, the lyric text, one reserved text
//       int32   photo count, then one text per photo
// File names beside the project are stored bare, others as full paths.

// What a project file holds.
struct TProjectData {
    qint32 Version = 1000;
    TVideoMakeSettings Settings;
    QString FontText;
    QString AudioName;
    QString LyricText;
    QStringList PhotoNames;
};

// How far a read got: every part up to and including this one was read whole.
enum TProjectPart { ppNothing, ppFixed, ppFont, ppAudio, ppLyrics, ppReserved, ppPhotos };

// The bytes of a project file for `data` (the font text is FontToText of the settings'
// font; FontText is ignored).
QByteArray ProjectFileBytes(const TProjectData& data);

// Reads project bytes into `data`, part after part; the fixed part's fields are written
// into data.Settings one by one, so fields before a shortfall keep what was read. A
// stored length is checked against the bytes left before anything is taken, so no
// length can make the reader allocate more than the file holds. Returns the last part
// read whole; less than ppPhotos means the file ended before its contents did.
TProjectPart ReadProjectBytes(const QByteArray& bytes, TProjectData& data);

// The name stored for `path` in a project saved as `projectFileName`: the bare file name
// when the file lies in the project's folder, else the full path. An empty path stays empty.
QString StoredFileName(const QString& path, const QString& projectFileName);
// The full path of a stored name: a name without a folder lies in the project's folder.
QString ResolveStoredName(const QString& name, const QString& projectFileName);
