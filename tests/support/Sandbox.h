#pragma once

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>

#include <functional>
#include <map>
#include <memory>

// A private home for one test: HOME, XDG_CONFIG_HOME and XDG_DATA_HOME point into a
// temporary folder for the sandbox's lifetime, and are restored afterwards.
class TSandbox {
public:
    TSandbox();
    ~TSandbox();
    TSandbox(const TSandbox&) = delete;
    TSandbox& operator=(const TSandbox&) = delete;

    QString Path() const { return FDir.path(); }
    QString Home() const { return FDir.path() + QStringLiteral("/home"); }
    QString ConfigHome() const { return Home() + QStringLiteral("/.config"); }
    // A file path inside the sandbox (its folder is created).
    QString File(const QString& relative) const;
    // Writes `data` to a file inside the sandbox and returns its path.
    QString Write(const QString& relative, const QByteArray& data) const;

    // Damaged files made from the file `good` (its suffix kept): `good` cut to its first
    // `keep` bytes, `good` with every byte after the first `keep` scrambled, a text that
    // is no media, and an empty file.
    QStringList DamagedCopies(const QString& good, qsizetype keep) const;

private:
    QTemporaryDir FDir;
    std::map<QByteArray, QByteArray> FSaved;
    void Set(const char* name, const QString& value);
};

// Processes Qt events for `ms` milliseconds, or until `done` returns true.
void PumpEvents(int ms);
bool PumpUntil(const std::function<bool()>& done, int timeoutMs);

class QWidget;

// Answers the real modal windows the program opens (its own dialogs, not prompts):
// while it lives, every new modal widget is passed to `handler` once, from the event
// loop, so the handler can fill and close it.
class TModalHandler {
public:
    explicit TModalHandler(std::function<void(QWidget*)> handler);
    ~TModalHandler();
    int Handled() const { return FHandled; }

private:
    struct TImpl;
    std::unique_ptr<TImpl> FImpl;
    int FHandled = 0;
};
