#pragma once

#include <QString>
#include <QStringList>

// Reading the dynamic section of an ELF shared object or program without loading it.

// The DT_NEEDED entries of `path` (the sonames it depends on), in their order; empty
// when the file cannot be read or is not an ELF object of this machine's byte order.
// Thread-safe.
QStringList ElfNeededLibraries(const QString& path);
