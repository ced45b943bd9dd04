#pragma once

// A private PulseAudio sound server for tests that need a recording device which can go
// away: its only recording device is "mic" (the sound of a silent output, remapped into
// an ordinary source), and killing the server takes the device away from every client
// at once, as unplugging a USB microphone or a crash of the user's sound server does.
// Other modules than these give other devices (TPulseSoundServer::TwoTones).

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
    // The output "out" plays a steady 440 Hz tone and the recording device "mic" is a
    // separate source of a steady 1000 Hz tone: a microphone and what the computer
    // plays, told apart by their frequencies.
    static constexpr double OutputHz = 440;
    static constexpr double MicrophoneHz = 1000;
    static QStringList TwoTones() {
        // The microphone's tone is played into an output of its own, so it comes at the
        // steady pace of a real device (the server's tone source delivers in bursts).
        // The output comes first, so the server takes it as its default output.
        return {QStringLiteral("module-null-sink sink_name=out "
                               "sink_properties=device.description=Speakers"),
                QStringLiteral("module-sine sink=out frequency=440"),
                QStringLiteral("module-null-sink sink_name=micsink "
                               "sink_properties=device.description=MicrophoneFeed"),
                QStringLiteral("module-sine sink=micsink frequency=1000"),
                QStringLiteral("module-remap-source source_name=mic master=micsink.monitor")};
    }

    explicit TPulseSoundServer(const QStringList& modules = {
                                   QStringLiteral("module-null-sink sink_name=out"),
                                   QStringLiteral("module-remap-source source_name=mic "
                                                  "master=out.monitor")}) {
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
        QStringList args{QStringLiteral("--daemonize=no"), QStringLiteral("-n"),
                         QStringLiteral("--use-pid-file=no"), QStringLiteral("--exit-idle-time=-1"),
                         QStringLiteral("--load=module-native-protocol-unix auth-anonymous=1 "
                                        "socket=") +
                             Socket()};
        for (const QString& module : modules)
            args << QStringLiteral("--load=") + module;
        FServer.start(program, args);
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
