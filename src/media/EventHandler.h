#pragma once

#include <functional>
#include <mutex>
#include <utility>

// One event handler of an engine component, set on the main thread and read by the
// component's own threads. The handler is only ever read whole, under its lock, and
// the copy that was read is the one called: a handler set or cleared meanwhile takes
// effect from the next event, and an event never calls an empty handler.
//
//     TEventHandler<TProgressEvent> FOnProgress;
//     FOnProgress.Set(handler);                         // main thread
//     CallInMainThread([&] { FOnProgress(this, &info); });  // any thread
//
// Thread-safe.
template <class TFunction> class TEventHandler {
public:
    TEventHandler() = default;
    TEventHandler(const TEventHandler&) = delete;
    TEventHandler& operator=(const TEventHandler&) = delete;

    void Set(TFunction handler) {
        TFunction old;
        {
            std::lock_guard lock(FLock);
            old = std::exchange(FHandler, std::move(handler));
        }
        // `old` is destroyed here, outside the lock: its captures may be anything.
    }
    TFunction Get() const {
        std::lock_guard lock(FLock);
        return FHandler;
    }
    bool Assigned() const {
        std::lock_guard lock(FLock);
        return bool(FHandler);
    }
    // Calls the handler as it is now; nothing when none is set. True when one ran.
    template <class... TArgs> bool operator()(TArgs&&... args) const {
        const TFunction handler = Get();
        if (!handler)
            return false;
        handler(std::forward<TArgs>(args)...);
        return true;
    }

private:
    mutable std::mutex FLock;
    TFunction FHandler;
};
