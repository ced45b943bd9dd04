#pragma once

#include "media/FFEncode.h"

#include <QCoreApplication>
#include <QString>

#include <cstdio>

// The state of one command that runs an encoder until its list ends: its exit status
// and whether the end has come, with the messages on stderr.
struct TCliRun {
    const char* Command; // "record", "make-video"
    int Status = 0;
    bool Ended = false;

    // Prints "vexmira-cli <command>: <message>" and returns 1, the failure status.
    int Fail(const QString& message) const {
        std::fprintf(stderr, "vexmira-cli %s: %s\n", Command, message.toLocal8Bit().constData());
        return 1;
    }
    // The encoder's end report: a job's exception is printed and fails the command; the
    // end of the list ends the event loop.
    void Terminated(const TTerminateInfo& info) {
        if (info.Exception)
            Status = Fail(info.ExceptionMsg);
        if (info.TaskIndex < 0) {
            Ended = true;
            QCoreApplication::quit();
        }
    }
};
