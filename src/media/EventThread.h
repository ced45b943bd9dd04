#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

// A thread of its own that runs posted calls one at a time, in the order they were
// posted. The thread starts with the first post; the destructor lets every call posted
// so far run, then joins it. A component that delivers events from its workers owns
// one, so its events keep their order and none outlives the component.
//
//     TEventThread FEvents;                      // a member, declared last
//     FEvents.Post([this, info] { ... });        // any thread
//     FEvents.WaitIdle();                        // main thread, before freeing state
//
// A call must not throw; one that does is dropped. Calls must not wait for the thread
// itself (WaitIdle from a posted call returns at once). Thread-safe.
class TEventThread {
public:
    TEventThread() = default;
    ~TEventThread();
    TEventThread(const TEventThread&) = delete;
    TEventThread& operator=(const TEventThread&) = delete;

    // Queues `call` behind every call posted before it.
    void Post(std::function<void()> call);
    // True when no posted call waits or runs.
    bool Idle() const;
    // Returns when Idle(), serving main-thread calls meanwhile when called on the main
    // thread (the calls may be waiting for it in CallInMainThread).
    void WaitIdle() const;

private:
    void Run();

    mutable std::mutex FLock;
    std::condition_variable FChanged;
    std::deque<std::function<void()>> FCalls; // waiting, oldest first
    bool FRunning = false;                    // a call is running now
    bool FQuit = false;
    std::thread FThread;
};
