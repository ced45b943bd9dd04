#include "media/MainThread.h"

#include <QCoreApplication>
#include <QThread>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <exception>
#include <mutex>

#include <unistd.h>

namespace {

struct TQueuedCall {
    const std::function<void()>* Method;
    bool Done = false;
    std::exception_ptr Error;
};

struct TCallQueue {
    std::mutex Mutex;
    std::condition_variable Changed; // a call was queued or finished, or waiters were woken
    std::deque<TQueuedCall*> Calls;
    uint64_t Wakes = 0;
};

TCallQueue& Queue() {
    static TCallQueue* queue = new TCallQueue; // lives until the process ends
    return *queue;
}

} // namespace

TThreadID CurrentThreadID() {
    return static_cast<TThreadID>(gettid());
}

bool IsMainThread() {
    QCoreApplication* app = QCoreApplication::instance();
    return !app || QThread::currentThread() == app->thread();
}

void CallInMainThread(const std::function<void()>& method) {
    QCoreApplication* app = QCoreApplication::instance();
    if (!app || QThread::currentThread() == app->thread()) {
        method();
        return;
    }
    TCallQueue& queue = Queue();
    TQueuedCall call{&method, false, nullptr};
    {
        std::lock_guard lock(queue.Mutex);
        queue.Calls.push_back(&call);
        ++queue.Wakes;
    }
    queue.Changed.notify_all();
    // The event loop serves the queue; a main thread waiting in
    // WaitServingMainThreadCalls serves it itself and this event then finds it empty.
    QMetaObject::invokeMethod(
        app, [] { ServeMainThreadCalls(); }, Qt::QueuedConnection);
    {
        std::unique_lock lock(queue.Mutex);
        queue.Changed.wait(lock, [&] { return call.Done; });
    }
    if (call.Error)
        std::rethrow_exception(call.Error);
}

void ServeMainThreadCalls() {
    if (!IsMainThread())
        return;
    TCallQueue& queue = Queue();
    for (;;) {
        TQueuedCall* call;
        {
            std::lock_guard lock(queue.Mutex);
            if (queue.Calls.empty())
                return;
            call = queue.Calls.front();
            queue.Calls.pop_front();
        }
        try {
            (*call->Method)();
        } catch (...) {
            call->Error = std::current_exception();
        }
        {
            std::lock_guard lock(queue.Mutex);
            call->Done = true; // `call` may be gone as soon as the lock is released
        }
        queue.Changed.notify_all();
    }
}

bool WaitServingMainThreadCalls(const std::function<bool()>& done, int timeoutMs) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs);
    const bool serve = IsMainThread();
    TCallQueue& queue = Queue();
    for (;;) {
        if (serve)
            ServeMainThreadCalls();
        if (done())
            return true;
        const auto now = Clock::now();
        if (timeoutMs >= 0 && now >= deadline)
            return false;
        auto until = now + std::chrono::milliseconds(20);
        if (timeoutMs >= 0 && deadline < until)
            until = deadline;
        std::unique_lock lock(queue.Mutex);
        const uint64_t wakes = queue.Wakes;
        queue.Changed.wait_until(
            lock, until, [&] { return queue.Wakes != wakes || (serve && !queue.Calls.empty()); });
    }
}

void WakeMainThreadWaiters() {
    TCallQueue& queue = Queue();
    {
        std::lock_guard lock(queue.Mutex);
        ++queue.Wakes;
    }
    queue.Changed.notify_all();
}
