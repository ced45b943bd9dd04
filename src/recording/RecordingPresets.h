#pragma once

#include <QDateTime>
#include <QLocale>
#include <QRect>
#include <QString>
#include <QStringList>

#include <functional>

// The fixed choices behind a screen recording: the file type chosen in the format box,
// the source option strings, the proposed file name and the texts the toolbar shows.
// Shared by the recording toolbar and by vexmira-cli. Pure functions, any thread.

// What the save dialog offers for one entry of the format box.
struct TRecordingFileType {
    QString Extension;        // ".mp4"
    QString DefaultExtension; // "mp4"
    QString Filter;           // "MP4格式(*.mp4)|*.mp4"
};
// Entry 0 ("MP4(默认)") and "MP4(H.264)" are MP4; any other entry is named by its text
// ("WMV", "AVI", "MOV").
TRecordingFileType RecordingFileType(int index, const QString& text);

// "<folder>/Vexmira-yyyymmdd-hhnnss<extension>" at the time `now` gives, asked again
// until no file of that name exists, so two starts within one second get two names.
QString ProposedRecordingName(const QString& folder, const QString& extension,
                              const std::function<QDateTime()>& now = &QDateTime::currentDateTime);

// Recordings take this many pictures a second.
constexpr int RecordingFrameRate = 15;

// The option string of the screen source: the captured area and whether to paint the
// cursor, at RecordingFrameRate pictures per second with the flashing frame around the
// area.
QString ScreenSourceOptions(const QRect& area, bool cursor);
// Where the sound of a recording comes from, in the order of the entries of the box
// "声音来源：": the default recording device, the monitor of the default output device
// (what the computer plays), or both mixed into one track.
enum TSoundSource { ssMicrophone, ssSystem, ssBoth };
// The texts of that box's entries: "麦克风", "电脑声音", "麦克风和电脑声音".
QStringList SoundSourceTexts();

// The option string of the sound source: 44100 Hz, 2 channels, 16 bits, and the handle
// of the pause flag it reads while capturing; with a `lostHandle`, also the handle of the
// flag it sets when the sound device goes away; for another source than the recording
// device, which one.
QString WaveSourceOptions(int pauseHandle, int lostHandle = 0, TSoundSource source = ssMicrophone);

// The recording's elapsed time as "hh:mm:ss" from microseconds (hours grow beyond 99).
QString RecordingTimeText(qint64 microseconds);
// The file size as megabytes with one decimal and the locale's separators: "1.5MB".
QString RecordingSizeText(qint64 bytes, const QLocale& locale = QLocale::system());

// The "width*height" text of the output frame size: the size box's entry when it is not
// entry 0 ("原始尺寸(默认)"), else the captured area's size.
QString RecordingFrameSize(int sizeIndex, const QString& sizeText, const QSize& areaSize);
