#pragma once

#include <QByteArray>
#include <QString>

#include <cstddef>
#include <cstdint>

// What every fuzz target shares: a Qt application on the offscreen platform (fonts and
// widgets need one), a private scratch folder for inputs that the code under test reads
// from a file, and the system's FFmpeg libraries for the targets that need them.
// Each call is cheap after the first; a failure to set up aborts the run.

// Creates the application once.
void FuzzApplication();

// A file in the scratch folder (on tmpfs when there is one), removed at exit.
QString FuzzScratchFile(const QString& name);

// Writes `bytes` to `fileName`, replacing it.
void FuzzWriteFile(const QString& fileName, const QByteArray& bytes);

// Loads the system's FFmpeg libraries once and keeps FFmpeg's log quiet.
void FuzzLoadFFmpeg();

// Sets the program's and FFmpeg's log level back to quiet (an option may raise it).
void FuzzQuietLog();

// The fuzzer's bytes as a QByteArray (no copy of the data is kept).
inline QByteArray FuzzBytes(const uint8_t* data, size_t size) {
    return QByteArray(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
}

// Stops the run with `what` on standard error: a broken property of the code under test.
[[noreturn]] void FuzzFail(const char* what, const QString& detail = QString());
