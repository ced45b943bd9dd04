#pragma once

#include <condition_variable>
#include <mutex>

// A manual-reset event: once set it stays set, releasing every waiter, until it is
// reset. Thread-safe.
class TEvent {
public:
    explicit TEvent(bool initiallySet = false) : FSet(initiallySet) {}
    TEvent(const TEvent&) = delete;
    TEvent& operator=(const TEvent&) = delete;

    void SetEvent();
    void ResetEvent();
    bool IsSet() const;

    // Blocks until the event is set or timeoutMs passes (< 0: no limit). True when set.
    bool WaitFor(int timeoutMs = -1) const;
    // The same, serving queued main-thread calls meanwhile when called on the main
    // thread (see MainThread.h). Use this on the main thread whenever the setter may
    // deliver events through CallInMainThread before it sets the event.
    bool WaitServing(int timeoutMs = -1) const;

private:
    mutable std::mutex FMutex;
    mutable std::condition_variable FChanged;
    bool FSet;
};
