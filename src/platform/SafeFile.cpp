#include "platform/SafeFile.h"

#include <QSaveFile>

bool WriteFileReplacing(const QString& fileName, const QByteArray& data, QString* error) {
    // QSaveFile writes beside the target, fsyncs and renames on commit().
    QSaveFile file(fileName);
    file.setDirectWriteFallback(false);
    if (!file.open(QIODevice::WriteOnly) || file.write(data) != data.size() || !file.commit()) {
        if (error != nullptr)
            *error = file.errorString();
        return false;
    }
    return true;
}
