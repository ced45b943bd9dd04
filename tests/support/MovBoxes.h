#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QStringList>

#include <cstdint>

// The four-letter types of the top-level boxes of an MP4 or MOV file, in order, read
// independently of the program ("moof" marks a file written in fragments).
inline QStringList TopLevelBoxes(const QString& path) {
    QFile file(path);
    QStringList types;
    if (!file.open(QIODevice::ReadOnly))
        return types;
    const QByteArray data = file.readAll();
    qint64 at = 0;
    while (at + 8 <= data.size()) {
        auto byte = [&](qint64 i) { return uint64_t(uint8_t(data[i])); };
        uint64_t size = byte(at) << 24 | byte(at + 1) << 16 | byte(at + 2) << 8 | byte(at + 3);
        types << QString::fromLatin1(data.mid(at + 4, 4));
        if (size == 1 && at + 16 <= data.size()) { // a 64-bit size follows the type
            size = 0;
            for (int i = 0; i < 8; ++i)
                size = size << 8 | byte(at + 8 + i);
        }
        if (size < 8)
            break;
        at += qint64(size);
    }
    return types;
}
