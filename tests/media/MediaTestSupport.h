#pragma once

#include "media/FFLoad.h"
#include "media/FFLog.h"

#include <QString>
#include <QStringList>

#include <gtest/gtest.h>

#include <mutex>

// Loads the system's FFmpeg libraries for one test and unloads them afterwards.
class TMediaTest : public testing::Test {
protected:
    void SetUp() override {
        FFLoader.SetLibraryPath(QString());
        ASSERT_TRUE(FFLoader.Load(TLibraries::All())) << FFLoader.LastErrMsg().toStdString();
    }
    void TearDown() override { FFLoader.Unload(TLibraries::All()); }
};

// Collects the lines the logger delivers (from any thread).
class TLogCapture {
public:
    TLogCapture() {
        FFLogger().SetOnLog([this](QObject*, TThreadID, TLogLevel level, const QString& line) {
            std::lock_guard lock(FMutex);
            FLines << line;
            FLevels.push_back(level);
        });
    }
    ~TLogCapture() { FFLogger().SetOnLog(nullptr); }
    QStringList Lines() const {
        std::lock_guard lock(FMutex);
        return FLines;
    }
    std::vector<TLogLevel> Levels() const {
        std::lock_guard lock(FMutex);
        return FLevels;
    }
    void Clear() {
        std::lock_guard lock(FMutex);
        FLines.clear();
        FLevels.clear();
    }

private:
    mutable std::mutex FMutex;
    QStringList FLines;
    std::vector<TLogLevel> FLevels;
};

// The lines of /proc/self/maps that name a file containing `text`.
QStringList MappedFilesContaining(const QString& text);
