#pragma once

#include <cstdint>
#include <functional>

// Running work on the Qt main thread from the engine's worker threads.
//
// Engine events that reach the program "in the main thread" (log lines, progress, end
// of a job, frame requests of the frame input, player events) go through
// CallInMainThread: from another thread the call is queued to the main thread and the
// caller blocks until it has run there; on the main thread it runs at once.
//
// The main thread serves queued calls from its event loop. A main-thread caller that
// waits for a worker (stopping a job, stopping the player) must wait with
// WaitServingMainThreadCalls (or TEvent::WaitServing), which runs the queued calls while
// it waits; waiting any other way dead-locks as soon as the worker delivers an event.
//
//     // worker thread
//     CallInMainThread([&] { if (FOnProgress) FOnProgress(this, info); });
//
//     // main thread, stopping a job
//     FTerminate = true;
//     WaitServingMainThreadCalls([&] { return FJobEnded.load(); }, 10000);

// The kernel's id of the calling thread (gettid). Thread-safe.
using TThreadID = uint32_t;
TThreadID CurrentThreadID();

// Whether the caller runs on the main thread: the thread of the QCoreApplication, or
// any thread while no application object exists. Thread-safe.
bool IsMainThread();

// Runs `method` on the main thread and returns when it has run. An exception thrown by
// `method` is re-thrown in the caller. Without an application object the call runs
// directly. A call queued after the main event loop has ended waits until the main
// thread serves calls again. Thread-safe.
void CallInMainThread(const std::function<void()>& method);

// Main thread: runs every call queued so far by other threads, in their order.
// From another thread it does nothing.
void ServeMainThreadCalls();

// Waits until `done()` returns true, serving queued calls meanwhile when called on the
// main thread. `done` is checked after every served call, after every
// WakeMainThreadWaiters and at least every 20 ms. timeoutMs < 0 waits without limit.
// Returns the last result of `done()`. Thread-safe.
bool WaitServingMainThreadCalls(const std::function<bool()>& done, int timeoutMs = -1);

// Makes waiting WaitServingMainThreadCalls callers check their condition now (TEvent
// calls it when it is set). Thread-safe.
void WakeMainThreadWaiters();
