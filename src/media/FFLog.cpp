#include "media/FFLog.h"

#include "media/FFApi.h"
#include "media/FFErrors.h"

#include <atomic>
#include <cstdio>
#include <mutex>
#include <unordered_map>
#include <vector>

namespace {

// One global lock serialises the log callback's state: the per-thread pending text,
// the repeat suppression and the registration of the logger.
std::recursive_mutex GLogLock;
TFFLogger* GLogger = nullptr;
std::atomic<int> GAVLogLevel{AV_LOG_INFO};
QString GPreviousMessage;
int GRepeatCount = 0;

// Text of each thread that is not yet ended by a line feed.
class TLogList {
public:
    QString& Pending(TThreadID thread) { return FItems[thread]; }
    void Forget(TThreadID thread) { FItems.erase(thread); }

private:
    std::unordered_map<TThreadID, QString> FItems;
};
TLogList GLogList;

struct TDelivery {
    TLogEvent Handler;
    bool InMainThread = true;
    TLogInfo Info;
};

// Raises the logger's event for one line; a failing handler does not reach the caller
// (the log callback is called from inside FFmpeg's C code).
void Deliver(const TDelivery& delivery) {
    if (!delivery.Handler)
        return;
    const auto raise = [&delivery] {
        delivery.Handler(delivery.Info.Sender, delivery.Info.ThreadID, delivery.Info.LogLevel,
                         delivery.Info.LogMsg);
    };
    try {
        if (delivery.InMainThread)
            CallInMainThread(raise);
        else
            raise();
    } catch (...) {
    }
}

struct TAutoLoggerReaper {
    ~TAutoLoggerReaper() {
        TFFLogger* logger = nullptr;
        {
            std::lock_guard lock(GLogLock);
            if (GLogger && GLogger->AutoCreated())
                logger = GLogger;
        }
        delete logger;
    }
} GAutoLoggerReaper;

const char* ItemName(void* context, const AVClass* avClass) {
    if (avClass->item_name)
        return avClass->item_name(context);
    return avClass->class_name ? avClass->class_name : "NULL";
}

// "[<parent> @ <address>] [<name> @ <address>] " for a context, as FFmpeg prints it.
std::string ContextPrefix(void* avcl) {
    std::string prefix;
    if (!avcl)
        return prefix;
    const AVClass* avClass = *static_cast<const AVClass**>(avcl);
    if (!avClass)
        return prefix;
    char part[256];
    if (avClass->parent_log_context_offset) {
        auto** parent = *reinterpret_cast<const AVClass***>(static_cast<uint8_t*>(avcl) +
                                                            avClass->parent_log_context_offset);
        if (parent && *parent) {
            std::snprintf(part, sizeof part, "[%s @ %p] ", ItemName(parent, *parent),
                          static_cast<void*>(parent));
            prefix += part;
        }
    }
    std::snprintf(part, sizeof part, "[%s @ %p] ", ItemName(avcl, avClass), avcl);
    prefix += part;
    return prefix;
}

// Formats FFmpeg's message after the prefix in a 2048-byte buffer, or, when it does not
// fit, in a larger one (4096 bytes, grown by 2048 until it fits): nothing is cut.
QString FormatMessage(const std::string& prefix, const char* format, va_list args) {
    const auto vformat = FF.vsnprintf ? FF.vsnprintf : &std::vsnprintf;
    char buffer[2048] = {};
    size_t used = std::min(prefix.size(), sizeof buffer - 1);
    std::memcpy(buffer, prefix.data(), used);
    va_list copy;
    va_copy(copy, args);
    const int needed = vformat(buffer + used, sizeof buffer - used, format, copy);
    va_end(copy);
    if (needed < 0)
        return QString::fromUtf8(buffer);
    if (used + size_t(needed) < sizeof buffer)
        return QString::fromUtf8(buffer);
    size_t size = 4096;
    while (size <= size_t(needed))
        size += 2048;
    std::vector<char> large(size, '\0');
    va_copy(copy, args);
    vformat(large.data(), large.size(), format, copy);
    va_end(copy);
    return QString::fromUtf8(prefix.data(), qsizetype(prefix.size())) +
           QString::fromUtf8(large.data());
}

} // namespace

int CurrentAVLogLevel() {
    return GAVLogLevel.load();
}

TFFLogger::TFFLogger(QObject* owner) : TFFBaseComponent(owner) {
    TFFLogger* replaced = nullptr;
    {
        std::lock_guard lock(GLogLock);
        if (GLogger && GLogger->FAutoCreated) {
            replaced = GLogger;
            GLogger = nullptr;
        }
    }
    delete replaced;
    std::lock_guard lock(GLogLock);
    FFAssert(GLogger == nullptr, "Allow creating only one instance of TFFLogger.");
    FLogLevel = AVToLogLevel(GAVLogLevel.load());
    GLogger = this;
}

TFFLogger::~TFFLogger() {
    std::lock_guard lock(GLogLock);
    if (GLogger == this)
        GLogger = nullptr;
}

TFFLogger& FFLogger() {
    std::lock_guard lock(GLogLock);
    if (!GLogger) {
        // The lock is held until the flag is set, so no other thread sees the new
        // logger as one created by the program.
        (new TFFLogger(nullptr))->FAutoCreated = true;
    }
    return *GLogger;
}

void TFFLogger::InstallAVLogCallback() {
    FFAssert(FF.av_log_set_callback && FF.av_log_set_level,
             "InstallAVLogCallback needs libavutil loaded.");
    FF.av_log_set_callback(&AVLogCallback);
    std::lock_guard lock(GLogLock);
    GAVLogLevel = LogLevelToAV(FLogLevel);
    FF.av_log_set_level(GAVLogLevel);
}

TLogLevel TFFLogger::LogLevel() const {
    std::lock_guard lock(GLogLock);
    return FLogLevel;
}

void TFFLogger::SetLogLevel(TLogLevel value) {
    std::lock_guard lock(GLogLock);
    if (value == FLogLevel)
        return;
    FLogLevel = value;
    if (FF.av_log_set_level) {
        GAVLogLevel = LogLevelToAV(value);
        FF.av_log_set_level(GAVLogLevel);
    }
}

bool TFFLogger::TriggerEventInMainThread() const {
    std::lock_guard lock(GLogLock);
    return FTriggerEventInMainThread;
}

void TFFLogger::SetTriggerEventInMainThread(bool value) {
    std::lock_guard lock(GLogLock);
    FTriggerEventInMainThread = value;
}

TLogEvent TFFLogger::OnLog() const {
    std::lock_guard lock(GLogLock);
    return FOnLog;
}

void TFFLogger::SetOnLog(TLogEvent handler) {
    std::lock_guard lock(GLogLock);
    FOnLog = std::move(handler);
}

void TFFLogger::OptLogLevel(const QString& text) {
    static const char* const names[] = {"quiet",   "panic", "fatal",   "error",
                                        "warning", "info",  "verbose", "debug"};
    for (int i = 0; i < 8; ++i)
        if (text.compare(QLatin1StringView(names[i]), Qt::CaseInsensitive) == 0) {
            SetLogLevel(TLogLevel(i));
            return;
        }
    SetLogLevel(AVToLogLevel(StrToInt(text)));
}

bool TFFLogger::Delivers(TLogLevel level) const {
    return FOnLog && (level <= FLogLevel || (level == llVerbose && FLogLevel != llQuiet));
}

void TFFLogger::Log(QObject* Sender, TLogLevel ALogLevel, const QString& ALogMsg) {
    TDelivery delivery;
    {
        std::lock_guard lock(GLogLock);
        if (!Delivers(ALogLevel))
            return;
        delivery = {
            FOnLog, FTriggerEventInMainThread, {Sender, CurrentThreadID(), ALogLevel, ALogMsg}};
    }
    Deliver(delivery);
}

void TFFLogger::Log(QObject* Sender, TLogLevel ALogLevel, const char* format, ...) {
    {
        std::lock_guard lock(GLogLock);
        if (!Delivers(ALogLevel))
            return;
    }
    va_list args;
    va_start(args, format);
    const QString text = QString::vasprintf(format, args);
    va_end(args);
    Log(Sender, ALogLevel, text);
}

void AVLogCallback(void* avcl, int level, const char* format, va_list args) {
    if (level > GAVLogLevel.load())
        return;
    const TThreadID thread = CurrentThreadID();
    std::vector<QString> lines;
    TDelivery delivery;
    {
        std::lock_guard lock(GLogLock);
        QString& pending = GLogList.Pending(thread);
        const std::string prefix = pending.isEmpty() ? ContextPrefix(avcl) : std::string();
        const QString text = FormatMessage(prefix, format, args);

        if (text.endsWith(u'\n') && text == GPreviousMessage) {
            ++GRepeatCount;
            if (pending.isEmpty())
                GLogList.Forget(thread);
            return;
        }
        if (GRepeatCount > 1)
            lines.push_back(QStringLiteral("    Last message repeated %1 times").arg(GRepeatCount));
        GRepeatCount = 0;
        GPreviousMessage = text;

        pending += text;
        qsizetype end;
        while ((end = pending.indexOf(u'\n')) >= 0) {
            lines.push_back(pending.left(end));
            pending.remove(0, end + 1);
        }
        if (pending.isEmpty())
            GLogList.Forget(thread);

        if (!GLogger || !GLogger->OnLog())
            return;
        delivery.Handler = GLogger->OnLog();
        delivery.InMainThread = GLogger->TriggerEventInMainThread();
        delivery.Info = {GLogger, thread, AVToLogLevel(level), QString()};
    }
    for (const QString& line : lines) {
        delivery.Info.LogMsg = line;
        Deliver(delivery);
    }
}
