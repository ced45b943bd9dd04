#pragma once

#include <QByteArray>
#include <QString>

// Writes `data` to `fileName` through a temporary file in the same folder that is
// flushed to disk and then renamed over the target. Either the whole new file is in
// place afterwards or the old one is untouched. Returns false with `error` (when given)
// holding the system's message. Thread-safe (no shared state).
bool WriteFileReplacing(const QString& fileName, const QByteArray& data, QString* error = nullptr);
