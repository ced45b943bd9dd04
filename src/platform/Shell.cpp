#include "platform/Shell.h"

#include "platform/SafeFile.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QUrl>

namespace Shell {

void OpenDocument(const QString& path, const std::function<void()>& failed) {
    // The desktop's opener tells whether anything could open the file: it ends with
    // code 2 when the file is gone and 3 when no program or browser takes it. Otherwise
    // it may wait for the program it started, so it is never waited for here.
    auto* opener = new QProcess(QCoreApplication::instance());
    opener->setProgram(QStringLiteral("xdg-open"));
    opener->setArguments({QFileInfo(path).absoluteFilePath()});
    opener->setStandardOutputFile(QProcess::nullDevice());
    opener->setStandardErrorFile(QProcess::nullDevice());
    QObject::connect(opener, &QProcess::finished, opener,
                     [opener, failed](int code, QProcess::ExitStatus status) {
                         opener->deleteLater();
                         if (status == QProcess::NormalExit && (code == 2 || code == 3) && failed)
                             failed();
                     });
    QObject::connect(opener, &QProcess::errorOccurred, opener,
                     [opener, failed](QProcess::ProcessError error) {
                         if (error != QProcess::FailedToStart)
                             return;
                         opener->deleteLater();
                         if (failed)
                             failed();
                     });
    opener->start();
}

void ShowInFolder(const QString& path, const std::function<void()>& failed) {
    const QString uri = QUrl::fromLocalFile(QFileInfo(path).absoluteFilePath()).toString();
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.FileManager1"),
        QStringLiteral("/org/freedesktop/FileManager1"),
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("ShowItems"));
    call << QStringList{uri} << QString();
    const QDBusMessage reply = QDBusConnection::sessionBus().call(call, QDBus::Block, 3000);
    if (reply.type() == QDBusMessage::ReplyMessage)
        return;
    OpenDocument(QFileInfo(path).absolutePath(), failed);
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
