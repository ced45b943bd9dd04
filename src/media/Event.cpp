#include "media/Event.h"

#include "media/MainThread.h"

#include <chrono>

void TEvent::SetEvent() {
    {
        std::lock_guard lock(FMutex);
        FSet = true;
    }
    FChanged.notify_all();
    WakeMainThreadWaiters();
}

void TEvent::ResetEvent() {
    std::lock_guard lock(FMutex);
    FSet = false;
}

bool TEvent::IsSet() const {
    std::lock_guard lock(FMutex);
    return FSet;
}

bool TEvent::WaitFor(int timeoutMs) const {
    std::unique_lock lock(FMutex);
    if (timeoutMs < 0) {
        FChanged.wait(lock, [&] { return FSet; });
        return true;
    }
    return FChanged.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return FSet; });
}

bool TEvent::WaitServing(int timeoutMs) const {
    return WaitServingMainThreadCalls([this] { return IsSet(); }, timeoutMs);
}
