#pragma once

#include <QDateTime>
#include <QObject>
#include <QString>
#include <QTimer>

#include <memory>
#include <optional>

class QLockFile;

// Keeps a copy of the current project while it has unsaved changes, so that a crash or
// a kill loses at most the last minute of work, and finds the copy an earlier run left.
//
// The copy lives in the user's data folder ($XDG_DATA_HOME/Vexmira/autosave): the file
// "project.lmmc" holds exactly what a save of the project to its own file would write
// (file names stored relative to that file), and "project.json" names that file, the
// name the project goes by and the time of the copy. Both are written through a
// temporary file and a rename, like every save. One run at a time owns the folder (a
// lock file that a dead run's successor takes over); a second run keeps no copies.
// Main thread only.
class TProjectAutosave : public QObject {
    Q_OBJECT
public:
    static constexpr int DefaultInterval = 60000; // milliseconds

    explicit TProjectAutosave(QObject* parent = nullptr);
    ~TProjectAutosave() override;

    // Takes the folder for this run and starts the clock. False when another running
    // program holds it: this run then neither writes nor offers nor removes a copy.
    bool Start(int intervalMs = DefaultInterval);
    bool Active() const { return FLock != nullptr; }
    int Interval() const { return FTimer.interval(); }
    void SetInterval(int ms) { FTimer.setInterval(ms); }

    // The clock's tick (and the end of a stamping session): writes the copy when the
    // project has unsaved changes. True when a copy was written; a failure is kept in
    // LastError and tried again at the next tick.
    bool SaveNow();
    // Removes the copy (the project was saved, or its changes deliberately dropped).
    void Discard();

    // The copy an earlier run left, if there is one.
    struct TRecovery {
        QString CopyFile;        // the copy itself
        QString ProjectFileName; // the project's own file; empty for a project never saved
        QString ShownName;       // the name the project went by
        QDateTime Time;          // when the copy was written
    };
    std::optional<TRecovery> Recovery() const;

    QString LastError() const { return FLastError; }
    // The folder and the files of the copy.
    static QString Folder();
    static QString CopyFile();
    static QString InfoFile();

private:
    QTimer FTimer;
    std::unique_ptr<QLockFile> FLock;
    QString FLastError;
};
