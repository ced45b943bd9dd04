#include "platform/Shell.h"

#include "platform/SafeFile.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QUrl>

namespace Shell {

bool OpenDocument(const QString& path) {
    return QDesktopServices::openUrl(QUrl::fromLocalFile(path));
}

bool ShowInFolder(const QString& path) {
    const QString uri = QUrl::fromLocalFile(QFileInfo(path).absoluteFilePath()).toString();
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("/org/freedesktop/FileManager1"),
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("ShowItems"));
    call << QStringList{uri} << QString();
    const QDBusMessage reply = QDBusConnection::sessionBus().call(call, QDBus::Block, 3000);
    if (reply.type() == QDBusMessage::ReplyMessage)
        return true;
    return OpenDocument(QFileInfo(path).absolutePath());
}

namespace {

// Desktop entry values escape backslashes and line breaks; Exec arguments are quoted.
QString EntryValue(QString value) {
    value.replace(u'\\', QStringLiteral("\\\\"));
    value.replace(u'\n', QStringLiteral("\\n"));
    return value;
}

QString ExecValue(const QString& executable) {
    QString quoted = executable;
    for (const QChar c : {u'\\', u'"', u'`', u'$'})
        quoted.replace(c, QStringLiteral("\\") + c);
    return EntryValue(u'"' + quoted + u'"');
}

} // namespace

QString CreateDesktopEntry(const QString& folder, const QString& executable, const QString& icon) {
    if (!QDir().mkpath(folder))
        return {};
    const QString entryPath = QDir(folder).filePath(QStringLiteral("Vexmira.desktop"));
    QString text;
    text += QStringLiteral("[Desktop Entry]\n");
    text += QStringLiteral("Type=Application\n");
    text += QStringLiteral("Name=Vexmira\n");
    text += QStringLiteral("GenericName=Screen recorder and lyrics video maker\n");
    text += QStringLiteral("GenericName[zh_CN]=屏幕录像和歌词视频制作\n");
    text += QStringLiteral(
        "Comment=Record the screen, or make a video from a song, its lyrics and photos\n");
    text += QStringLiteral("Comment[zh_CN]=录制屏幕，或者把歌曲、歌词和照片做成视频\n");
    text += QStringLiteral("Exec=") + ExecValue(executable) + QStringLiteral(" %f\n");
    text += QStringLiteral("Path=") + EntryValue(QFileInfo(executable).absolutePath()) + u'\n';
    text += QStringLiteral("Icon=") + EntryValue(icon) + u'\n';
    text += QStringLiteral("Terminal=false\n");
    text += QStringLiteral("Categories=AudioVideo;Video;Recorder;\n");
    // A menu entry of this name takes the place of the installed one, so it opens
    // project files just the same.
    text += QStringLiteral("MimeType=application/x-vexmira-project;\n");
    if (!WriteFileReplacing(entryPath, text.toUtf8()))
        return {};
    // Desktops only start entries that are marked executable.
    QFile::setPermissions(entryPath, QFile::permissions(entryPath) | QFileDevice::ExeOwner |
                                         QFileDevice::ExeUser);
    return entryPath;
}

} // namespace Shell
