#include "state/Icons.h"

#include "platform/Xdg.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

// The resources live in this static library; they must be registered explicitly.
static void InitIconResources() {
    Q_INIT_RESOURCE(vexmira);
}

namespace {

void EnsureResources() {
    static const bool done = (InitIconResources(), true);
    (void)done;
}

} // namespace

QIcon AppIcon() {
    EnsureResources();
    QIcon icon;
    icon.addFile(QStringLiteral(":/icons/vexmira-32.png"), QSize(32, 32));
    icon.addFile(QStringLiteral(":/icons/vexmira.png"), QSize(128, 128));
    return icon;
}

QIcon ToolButtonIcon(const QString& name) {
    EnsureResources();
    QIcon icon(QStringLiteral(":/icons/") + name + QStringLiteral(".png"));
    const QString disabled = QStringLiteral(":/icons/") + name + QStringLiteral("-disabled.png");
    if (QFile::exists(disabled))
        icon.addFile(disabled, QSize(), QIcon::Disabled);
    return icon;
}

QString AppIconFile() {
    EnsureResources();
    const QString folder = Xdg::DataHome() + QStringLiteral("/icons/hicolor/128x128/apps");
    const QString path = folder + QStringLiteral("/vexmira.png");
    if (QFileInfo::exists(path))
        return path;
    if (!QDir().mkpath(folder) || !QFile::copy(QStringLiteral(":/icons/vexmira.png"), path))
        return {};
    QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup |
                                    QFile::ReadOther);
    return path;
}
