#include "state/InstallLayout.h"

#include <QDir>
#include <QFileInfo>

namespace {

// <prefix>/share for an executable in <prefix>/bin; empty for any other folder.
QString ShareFolder(const QFileInfo& exe) {
    QDir dir = exe.absoluteDir();
    if (dir.dirName() != QStringLiteral("bin") || !dir.cdUp())
        return {};
    return dir.absoluteFilePath(QStringLiteral("share"));
}

} // namespace

QString HelpFileOf(const QString& executable) {
    const QFileInfo exe(executable);
    const QString page = exe.completeBaseName() + QStringLiteral(".html");
    const QString beside = exe.absoluteDir().filePath(page);
    if (QFileInfo(beside).isFile())
        return beside;
    const QString share = ShareFolder(exe);
    if (share.isEmpty())
        return {};
    const QString installed = share + QStringLiteral("/vexmira/") + page;
    return QFileInfo(installed).isFile() ? installed : QString();
}

QString InstalledIconNameOf(const QString& executable) {
    const QString share = ShareFolder(QFileInfo(executable));
    if (share.isEmpty())
        return {};
    const QString icon = share + QStringLiteral("/icons/hicolor/scalable/apps/vexmira.svg");
    return QFileInfo(icon).isFile() ? QStringLiteral("vexmira") : QString();
}
