#pragma once

#include <QString>

// Per-key access to an INI settings file. Every read loads the file and every write
// loads it, changes the one key and saves it at once, so nothing is cached between
// calls and another writer's keys survive. The file is UTF-8; a save goes to a
// temporary file in the same folder that is then renamed over the target, so a crash
// never leaves a half-written settings file.
//
// Value forms: strings verbatim; integers as decimal text on writing, and decimal or
// hexadecimal ("0x" or "$" prefix) on reading; Booleans as 1 or 0, read as integers
// where any non-zero value is true. An absent key or unreadable text gives the default.
//
// Not thread-safe: the program reads and writes its settings on the main thread only.
class TProfile {
public:
    explicit TProfile(QString fileName) : FFileName(std::move(fileName)) {}

    const QString& FileName() const { return FFileName; }

    QString ReadString(const QString& section, const QString& key, const QString& def) const;
    int ReadInteger(const QString& section, const QString& key, int def) const;
    bool ReadBool(const QString& section, const QString& key, bool def) const;

    // Each returns false when the file could not be written (the old file stays).
    bool WriteString(const QString& section, const QString& key, const QString& value) const;
    bool WriteInteger(const QString& section, const QString& key, int value) const;
    bool WriteBool(const QString& section, const QString& key, bool value) const;

    // Parses an integer the way ReadInteger does; false when the text is not one.
    static bool ParseInteger(const QString& text, int& value);

private:
    QString FFileName;
};
