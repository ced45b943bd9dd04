#pragma once

#include "media/FFBaseComponent.h"
#include "media/MainThread.h"

#include <QString>

#include <cstdarg>
#include <functional>

// The engine's logger. FFmpeg's own output (through AVLogCallback, installed when
// libavutil is loaded) and the engine's explicit Log calls both end up in the one
// logger's OnLog event, a line at a time.
//
//     FFLogger().SetOnLog([](QObject*, TThreadID, TLogLevel level, const QString& line) {
//         qDebug() << level << line;
//     });
//     FFLogger().Log(this, llError, "could not open %s", name.toUtf8().constData());

enum TLogLevel { llQuiet, llPanic, llFatal, llError, llWarning, llInfo, llVerbose, llDebug };

// −8, 0, 8, ... 48: FFmpeg's AV_LOG_QUIET ... AV_LOG_DEBUG.
constexpr int LogLevelToAV(TLogLevel level) {
    return int(level) * 8 - 8;
}
// n / 8 + 1 (rounding toward zero), clamped to llQuiet..llDebug.
constexpr TLogLevel AVToLogLevel(int avLevel) {
    const int level = avLevel / 8 + 1;
    return level < 0 ? llQuiet : level > 7 ? llDebug : TLogLevel(level);
}

using TLogEvent = std::function<void(QObject* Sender, TThreadID AThreadID, TLogLevel ALogLevel,
                                     const QString& ALogMsg)>;

struct TLogInfo {
    QObject* Sender = nullptr;
    TThreadID ThreadID = 0;
    TLogLevel LogLevel = llInfo;
    QString LogMsg;
};

// At most one logger exists; FFLogger() returns it, creating one when there is none.
// Creating a logger yourself replaces an auto-created one; creating a second one while
// another exists fails with EAssertionFailed "Allow creating only one instance of
// TFFLogger.".
//
// Thread-safety: Log, the AVLogCallback and the getters may be called from any
// thread; the setters from the main thread. OnLog runs on the main thread when
// TriggerEventInMainThread is true (the producing thread waits until it has returned),
// else on the producing thread. Lines are delivered outside the logger's lock, so a
// handler may log itself and the main thread may log while a worker waits for it.
class TFFLogger : public TFFBaseComponent {
public:
    explicit TFFLogger(QObject* owner = nullptr);
    ~TFFLogger() override;

    // Installs AVLogCallback with av_log_set_callback and applies LogLevel to FFmpeg.
    // libavutil must be loaded (EAssertionFailed otherwise).
    void InstallAVLogCallback();

    // Delivers `ALogMsg` when OnLog is set and ALogLevel <= LogLevel, or ALogLevel is
    // llVerbose and LogLevel is not llQuiet. Sender null is allowed.
    void Log(QObject* Sender, TLogLevel ALogLevel, const QString& ALogMsg);
    // The same with printf-style formatting (%s takes UTF-8); the level test comes first.
    void Log(QObject* Sender, TLogLevel ALogLevel, const char* format, ...)
        __attribute__((format(printf, 4, 5)));

    // Sets LogLevel from "quiet", "panic", "fatal", "error", "warning", "info",
    // "verbose", "debug" (any case) or a decimal FFmpeg level (as AVToLogLevel maps
    // it). Other text throws EConvertError.
    void OptLogLevel(const QString& text);

    TLogLevel LogLevel() const;
    // A different level is stored and, when libavutil is loaded, passed to FFmpeg.
    void SetLogLevel(TLogLevel value);
    bool TriggerEventInMainThread() const;
    void SetTriggerEventInMainThread(bool value);
    TLogEvent OnLog() const;
    void SetOnLog(TLogEvent handler);
    // Whether FFLogger() created this logger (it is then freed at exit, or when the
    // program creates its own).
    bool AutoCreated() const { return FAutoCreated; }

private:
    friend TFFLogger& FFLogger();
    bool Delivers(TLogLevel level) const; // with the log lock held
    TLogLevel FLogLevel;
    bool FTriggerEventInMainThread = true;
    TLogEvent FOnLog;
    bool FAutoCreated = false;
};

// The one logger, created (and later freed at exit) when none exists. Thread-safe.
TFFLogger& FFLogger();

// FFmpeg's log callback: filters by the current FFmpeg level, prefixes the first part
// of each line with "[<name> @ <address>] " for the context (and its parent), suppresses
// repeated complete messages, joins the parts of a line per thread and delivers
// complete lines to the logger. Thread-safe.
void AVLogCallback(void* avcl, int level, const char* format, va_list args);

// The FFmpeg log level in force (initially 32, info).
int CurrentAVLogLevel();
