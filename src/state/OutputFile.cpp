#include "state/OutputFile.h"

#include "platform/Prompts.h"
#include "platform/Shell.h"

#include <QFileInfo>
#include <QPointer>
#include <QWidget>

QString ElapsedClockText(qint64 microseconds) {
    const qint64 s = microseconds / 1000000;
    return QString::asprintf("%.2lld:%.2lld:%.2lld", s / 3600, (s % 3600) / 60, s % 60);
}

QString MegabyteText(qint64 bytes, const QString& unit, const QLocale& locale) {
    QLocale grouped = locale;
    grouped.setNumberOptions(grouped.numberOptions() & ~QLocale::OmitGroupSeparator);
    return grouped.toString(double(bytes) / 1048576.0, 'f', 1) + unit;
}

QString VideoFileFilter(const QString& extension) {
    for (const char* known : {"mp4", "wmv", "avi", "mov"})
        if (extension == QLatin1StringView(known))
            return extension.toUpper() + QStringLiteral("格式(*.") + extension +
                   QStringLiteral(")|*.") + extension;
    return QString();
}

QString H264FormatText() {
    return QStringLiteral("MP4(H.264)");
}

QString FormatEntryExtension(int index, const QString& text) {
    if (index <= 0 || text == H264FormatText())
        return QStringLiteral("mp4");
    return text.toLower();
}

bool OutputFileExists(QWidget* parent, const QString& fileName) {
    if (!fileName.isEmpty() && QFileInfo(fileName).isFile())
        return true;
    ShowMessage(parent, QStringLiteral("文件 ") + fileName + QStringLiteral(" 不存在。"),
                miWarning);
    return false;
}

namespace {

// A warning shown when the desktop reports a failure, over `parent` if it still exists.
std::function<void()> LaterWarning(QWidget* parent, const QString& text) {
    return
        [owner = QPointer<QWidget>(parent), text] { ShowMessage(owner.data(), text, miWarning); };
}

} // namespace

void OpenWithDesktop(QWidget* parent, const QString& fileName) {
    Shell::OpenDocument(
        fileName,
        LaterWarning(parent, QStringLiteral("没有可以打开文件 %1 的程序。").arg(fileName)));
}

void ShowInFileManager(QWidget* parent, const QString& fileName) {
    Shell::ShowInFolder(
        fileName,
        LaterWarning(parent, QStringLiteral("无法在文件管理器中显示文件 %1。").arg(fileName)));
}
