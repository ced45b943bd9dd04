#include "videomaker/ProjectAutosave.h"

#include "platform/SafeFile.h"
#include "platform/Xdg.h"
#include "videomaker/ProjectFile.h"
#include "videomaker/VideoProject.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLockFile>

namespace {

const QString ProjectKey = QStringLiteral("project");
const QString ShownKey = QStringLiteral("shown");
const QString TimeKey = QStringLiteral("time");

} // namespace

TProjectAutosave::TProjectAutosave(QObject* parent) : QObject(parent) {
    FTimer.setInterval(DefaultInterval);
    connect(&FTimer, &QTimer::timeout, this, [this] { SaveNow(); });
}

TProjectAutosave::~TProjectAutosave() = default;

QString TProjectAutosave::Folder() {
    return Xdg::DataHome() + QStringLiteral("/Vexmira/autosave");
}

QString TProjectAutosave::CopyFile() {
    return Folder() + QStringLiteral("/project.lmmc");
}

QString TProjectAutosave::InfoFile() {
    return Folder() + QStringLiteral("/project.json");
}

bool TProjectAutosave::Start(int intervalMs) {
    FTimer.setInterval(intervalMs);
    if (!FLock) {
        QDir().mkpath(Folder());
        auto lock = std::make_unique<QLockFile>(Folder() + QStringLiteral("/run.lock"));
        // Only a lock whose run has died is taken over, however old it is.
        lock->setStaleLockTime(0);
        if (!lock->tryLock(0))
            return false;
        FLock = std::move(lock);
    }
    FTimer.start();
    return true;
}

bool TProjectAutosave::SaveNow() {
    const TVideoProject& project = VideoProject();
    if (!Active() || !project.Modified())
        return false;
    QDir().mkpath(Folder());
    const QString own = project.ProjectFileName;
    QJsonObject info;
    info[ProjectKey] = own;
    info[ShownKey] = ProjectPromptName();
    info[TimeKey] = QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs);
    // The copy first: a copy without its description is still offered, a description
    // without a copy is not.
    if (!WriteFileReplacing(CopyFile(), ProjectFileBytes(CurrentProjectData(own)), &FLastError) ||
        !WriteFileReplacing(InfoFile(), QJsonDocument(info).toJson(), &FLastError)) {
        qWarning("autosave: %s", qPrintable(FLastError));
        return false;
    }
    FLastError.clear();
    return true;
}

void TProjectAutosave::Discard() {
    if (!Active())
        return;
    QFile::remove(CopyFile());
    QFile::remove(InfoFile());
}

std::optional<TProjectAutosave::TRecovery> TProjectAutosave::Recovery() const {
    const QFileInfo copy(CopyFile());
    if (!Active() || !copy.isFile())
        return std::nullopt;
    TRecovery r;
    r.CopyFile = copy.absoluteFilePath();
    r.Time = copy.lastModified();
    r.ShownName = QStringLiteral("我的视频.lmmc");
    QFile file(InfoFile());
    if (file.open(QIODevice::ReadOnly)) {
        const QJsonObject info = QJsonDocument::fromJson(file.read(1 << 20)).object();
        r.ProjectFileName = info.value(ProjectKey).toString();
        r.ShownName = info.value(ShownKey).toString(r.ShownName);
        const QDateTime time =
            QDateTime::fromString(info.value(TimeKey).toString(), Qt::ISODateWithMs);
        if (time.isValid())
            r.Time = time;
    }
    return r;
}
