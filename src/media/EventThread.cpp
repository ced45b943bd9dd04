#include "media/EventThread.h"

#include "media/MainThread.h"

TEventThread::~TEventThread() {
    {
        std::lock_guard lock(FLock);
        FQuit = true;
    }
    FChanged.notify_all();
    if (FThread.joinable())
        FThread.join();
}

void TEventThread::Post(std::function<void()> call) {
    {
        std::lock_guard lock(FLock);
        FCalls.push_back(std::move(call));
        if (!FThread.joinable())
            FThread = std::thread([this] { Run(); });
    }
    FChanged.notify_all();
}

bool TEventThread::Idle() const {
    std::lock_guard lock(FLock);
    return FCalls.empty() && !FRunning;
}

void TEventThread::WaitIdle() const {
    {
        std::lock_guard lock(FLock);
        if (FThread.get_id() == std::this_thread::get_id())
            return;
    }
    WaitServingMainThreadCalls([this] { return Idle(); });
}

void TEventThread::Run() {
    std::unique_lock lock(FLock);
    while (true) {
        FChanged.wait(lock, [this] { return FQuit || !FCalls.empty(); });
        if (FCalls.empty())
            return; // quitting, and everything posted has run
        std::function<void()> call = std::move(FCalls.front());
        FCalls.pop_front();
        FRunning = true;
        lock.unlock();
        try {
            call();
        } catch (...) {
            // dropped: the poster's calls catch what they can report
        }
        call = nullptr; // its captures go before the thread counts as idle
        lock.lock();
        FRunning = false;
        lock.unlock();
        WakeMainThreadWaiters();
        lock.lock();
    }
}
