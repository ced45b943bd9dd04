#include "recording/RecordingPresets.h"

#include "state/OutputFile.h"

#include <QDir>
#include <QFileInfo>

TRecordingFileType RecordingFileType(int index, const QString& text) {
    const QString lower = FormatEntryExtension(index, text);
    return {u'.' + lower, lower, VideoFileFilter(lower)};
}

QString ProposedRecordingName(const QString& folder, const QString& extension,
                              const std::function<QDateTime()>& now) {
    const QString base = QDir::cleanPath(folder) + u'/';
    for (;;) {
        const QString name = base + QStringLiteral("Vexmira-") +
                             now().toString(QStringLiteral("yyyyMMdd-HHmmss")) + extension;
        if (!QFileInfo::exists(name))
            return name;
    }
}

QString ScreenSourceOptions(const QRect& area, bool cursor) {
    return QStringLiteral("offset=%1,%2;framesize=%3,%4;framerate=%5/1;showframe=1;cursor=%6")
        .arg(area.x())
        .arg(area.y())
        .arg(area.width())
        .arg(area.height())
        .arg(RecordingFrameRate)
        .arg(cursor ? 1 : 0);
}

QStringList SoundSourceTexts() {
    return {QStringLiteral("麦克风"), QStringLiteral("电脑声音"),
            QStringLiteral("麦克风和电脑声音")};
}

QString WaveSourceOptions(int pauseHandle, int lostHandle, TSoundSource source) {
    QString options = QStringLiteral("r=%1;c=%2;f=16;pause_pointer=%3")
                          .arg(QStringLiteral("44100"))
                          .arg(2)
                          .arg(pauseHandle);
    if (lostHandle != 0)
        options += QStringLiteral(";lost_pointer=%1").arg(lostHandle);
    if (source != ssMicrophone)
        options += QStringLiteral(";source=%1").arg(int(source));
    return options;
}

QString RecordingTimeText(qint64 microseconds) {
    return ElapsedClockText(microseconds);
}

QString RecordingSizeText(qint64 bytes, const QLocale& locale) {
    return MegabyteText(bytes, QStringLiteral("MB"), locale);
}

QString RecordingFrameSize(int sizeIndex, const QString& sizeText, const QSize& areaSize) {
    if (sizeIndex != 0)
        return sizeText;
    return QString::number(areaSize.width()) + u'*' + QString::number(areaSize.height());
}
