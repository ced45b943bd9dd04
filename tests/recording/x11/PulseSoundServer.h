#pragma once

// A private PulseAudio sound server for tests that need a recording device which can go
// away: its only recording device is "mic" (the sound of a silent output, remapped into
// an ordinary source), and killing the server takes the device away from every client
// at once, as unplugging a USB microphone or a crash of the user's sound server does.

#include "RecordingMedia.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QProcessEnvironment>
#include <QStandardPaths>
#include <QString>
#include <QTemporaryDir>
#include <QThread>

class TPulseSoundServer {
public:
    TPulseSoundServer() {
        const QString program = QStandardPaths::findExecutable(QStringLiteral("pulseaudio"));
        if (program.isEmpty() || !FDir.isValid()) {
            FError = QStringLiteral("pulseaudio is not installed (scripts/setup installs it)");
            return;
        }
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("HOME"), FDir.path());
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), FDir.path());
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), FDir.path());
        FServer.setProcessEnvironment(env);
        FServer.setProcessChannelMode(QProcess::MergedChannels);
        FServer.start(program,
                      {QStringLiteral("--daemonize=no"), QStringLiteral("-n"),
                       QStringLiteral("--use-pid-file=no"), QStringLiteral("--exit-idle-time=-1"),
                       QStringLiteral("--load=module-native-protocol-unix auth-anonymous=1 "
                                      "socket=") +
                           Socket(),
                       QStringLiteral("--load=module-null-sink sink_name=out"),
                       QStringLiteral("--load=module-remap-source source_name=mic "
                                      "master=out.monitor")});
        QElapsedTimer clock;
        clock.start();
        while (!QFileInfo::exists(Socket()) && clock.elapsed() < 10000 &&
               FServer.state() != QProcess::NotRunning)
            QThread::msleep(50);
        if (!QFileInfo::exists(Socket()))
            FError = QStringLiteral("pulseaudio did not start: ") +
                     QString::fromLocal8Bit(FServer.readAll());
    }
    ~TPulseSoundServer() { Kill(); }
    TPulseSoundServer(const TPulseSoundServer&) = delete;
    TPulseSoundServer& operator=(const TPulseSoundServer&) = delete;

    // Empty when the server runs.
    QString Error() const { return FError; }

    // The environment under which a program records from "mic" through SDL.
    void AddClientEnvironment(QProcessEnvironment& env) const {
        env.insert(QStringLiteral("SDL_AUDIODRIVER"), QStringLiteral("pulseaudio"));
        env.insert(QStringLiteral("PULSE_SERVER"), QStringLiteral("unix:") + Socket());
        env.insert(QStringLiteral("PULSE_SOURCE"), QStringLiteral("mic"));
    }

    // The same for this process, until the server object is gone.
    void UseInThisProcess() {
        QProcessEnvironment env;
        AddClientEnvironment(env);
        for (const QString& name : env.keys())
            FEnvironment.Set(name.toLocal8Bit(), env.value(name).toLocal8Bit());
    }

    // Ends the server at once, without a word to its clients.
    void Kill() {
        if (FServer.state() != QProcess::NotRunning) {
            FServer.kill();
            FServer.waitForFinished(5000);
        }
    }

private:
    QString Socket() const { return FDir.filePath(QStringLiteral("native")); }

    QTemporaryDir FDir;
    QProcess FServer;
    QString FError;
    TScopedEnvironment FEnvironment;
};
