#include "recording/RecordingPresets.h"

#include <QDir>
#include <QFileInfo>

TRecordingFileType RecordingFileType(int index, const QString& text) {
    if (index <= 0)
        return {QStringLiteral(".mp4"), QStringLiteral("mp4"),
                QStringLiteral("MP4格式(*.mp4)|*.mp4")};
    const QString lower = text.toLower();
    TRecordingFileType type{u'.' + lower, lower, QString()};
    if (lower == u"wmv")
        type.Filter = QStringLiteral("WMV格式(*.wmv)|*.wmv");
    else if (lower == u"avi")
        type.Filter = QStringLiteral("AVI格式(*.avi)|*.avi");
    else if (lower == u"mov")
        type.Filter = QStringLiteral("MOV格式(*.mov)|*.mov");
    return type;
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
    return QStringLiteral("offset=%1,%2;framesize=%3,%4;framerate=15/1;showframe=1;cursor=%5")
        .arg(area.x())
        .arg(area.y())
        .arg(area.width())
        .arg(area.height())
        .arg(cursor ? 1 : 0);
}

QString WaveSourceOptions(int pauseHandle) {
    return QStringLiteral("r=%1;c=%2;f=16;pause_pointer=%3")
        .arg(QStringLiteral("44100"))
        .arg(2)
        .arg(pauseHandle);
}

QString RecordingTimeText(qint64 microseconds) {
    const qint64 s = microseconds / 1000000;
    return QString::asprintf("%.2lld:%.2lld:%.2lld", s / 3600, (s % 3600) / 60, s % 60);
}

QString RecordingSizeText(qint64 bytes, const QLocale& locale) {
    QLocale grouped = locale;
    grouped.setNumberOptions(grouped.numberOptions() & ~QLocale::OmitGroupSeparator);
    return grouped.toString(double(bytes) / 1048576.0, 'f', 1) + QStringLiteral("MB");
}

QString RecordingFrameSize(int sizeIndex, const QString& sizeText, const QSize& areaSize) {
    if (sizeIndex != 0)
        return sizeText;
    return QString::number(areaSize.width()) + u'*' + QString::number(areaSize.height());
}
