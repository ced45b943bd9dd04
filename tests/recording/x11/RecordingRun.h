#pragma once

#include "capture/HandleTable.h"
#include "media/FFEncode.h"
#include "recording/RecordingSession.h"
#include "support/Sandbox.h"

#include <gtest/gtest.h>

#include <QString>

#include <atomic>
#include <functional>

// Runs one recording of `request` through the recorder's own set-up: starts it, lets
// `during` drive it (pump events, pause and resume with the sound's pause flag), stops
// it and waits up to `endWaitMs` for its end. Expects the set-up and the job to succeed.
inline void RunRecording(const TRecordingRequest& request,
                         const std::function<void(TFFEncoder&, std::atomic<bool>&)>& during,
                         int endWaitMs) {
    TFFEncoder encoder;
    std::atomic<bool> paused{false};
    THandleRegistration<std::atomic<bool>> pauseHandle(&paused);
    QString error;
    EXPECT_TRUE(PrepareRecording(encoder, request, pauseHandle.Handle(), &error))
        << error.toStdString();
    bool ended = false;
    QString failure;
    encoder.SetOnTerminate([&](QObject*, const TTerminateInfo& t) {
        if (t.Exception)
            failure = t.ExceptionMsg;
        ended = ended || t.TaskIndex < 0;
    });
    encoder.Start(1);
    during(encoder, paused);
    encoder.Stop(true);
    EXPECT_TRUE(PumpUntil([&] { return ended; }, endWaitMs));
    EXPECT_EQ(failure, QString());
}
