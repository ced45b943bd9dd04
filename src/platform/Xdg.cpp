#include "platform/Xdg.h"

#include <QDir>
#include <QStandardPaths>

namespace {

QString FromEnvironment(const char* name, const QString& fallback) {
    const QString value = qEnvironmentVariable(name);
    // The XDG rules ignore relative paths.
    if (!value.isEmpty() && QDir::isAbsolutePath(value))
        return QDir::cleanPath(value);
    return QDir::cleanPath(QDir::homePath() + u'/' + fallback);
}

QString UserFolder(QStandardPaths::StandardLocation location) {
    return QDir::cleanPath(QStandardPaths::writableLocation(location));
}

} // namespace

namespace Xdg {

QString ConfigHome() {
    return FromEnvironment("XDG_CONFIG_HOME", QStringLiteral(".config"));
}
QString DataHome() {
    return FromEnvironment("XDG_DATA_HOME", QStringLiteral(".local/share"));
}
QString VideosFolder() {
    return UserFolder(QStandardPaths::MoviesLocation);
}
QString PicturesFolder() {
    return UserFolder(QStandardPaths::PicturesLocation);
}
QString DesktopFolder() {
    return UserFolder(QStandardPaths::DesktopLocation);
}
QString ApplicationsFolder() {
    return DataHome() + QStringLiteral("/applications");
}

} // namespace Xdg
