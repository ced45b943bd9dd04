#pragma once

#include "media/MainThread.h"

#include <mutex>
#include <vector>

extern "C" {
#include <libavformat/avio.h>
}

// The per-thread I/O interrupt registry. Every format context the engine opens carries
// EngineInterruptCB() as its AVIOInterruptCB; when FFmpeg blocks in I/O it asks that
// callback, which asks the registry on behalf of the calling thread. So a job or the
// player interrupts the FFmpeg calls of its own thread by registering an interrupt
// function for that thread:
//
//     static bool JobInterrupted(void* sender) { return static_cast<TJob*>(sender)->Aborted(); }
//     ...
//     TInterruptRegistration guard(this, &JobInterrupted); // this thread, until scope end
//     ic->interrupt_callback = EngineInterruptCB();
//     FF.avformat_open_input(&ic, url, fmt, &options);
//
// The functions are called with the registry's lock held, from the thread doing the
// I/O: keep them short, and never call the registry from inside one.

// Returns true to interrupt the I/O in progress.
using TInterruptProc = bool (*)(void* ASender);

struct TInterruptItem {
    TThreadID ThreadID;
    void* Sender;
    TInterruptProc Interrupt;
    bool operator==(const TInterruptItem&) const = default;
};

class TInterruptCB {
public:
    // Appends an entry unless one equal in all three exists. Thread-safe.
    void Add(TThreadID AThreadID, void* ASender, TInterruptProc AInterrupt);
    // Deletes the first entry equal in all three. Thread-safe.
    void Remove(TThreadID AThreadID, void* ASender, TInterruptProc AInterrupt);
    // Calls the function of the first entry of `AThreadID` with its sender and returns
    // its result; false when the thread has no entry. Thread-safe.
    bool Interrupt(TThreadID AThreadID);
    void Clear();
    // Direct access to the entries: LockList takes the lock and returns them, UnlockList
    // releases it.
    std::vector<TInterruptItem>& LockList();
    void UnlockList();

private:
    std::recursive_mutex FLock;
    std::vector<TInterruptItem> FList;
};

// The one registry of the process (it lives until the process ends).
TInterruptCB& InterruptCB();

// The dispatcher installed in every context: 1 when the calling thread's registered
// function says to interrupt, else 0.
int IOInterruptCallback(void* opaque);

// {IOInterruptCallback, nullptr}: assign it to AVFormatContext::interrupt_callback (and
// pass it to avio_open2) for every context the engine opens.
inline AVIOInterruptCB EngineInterruptCB() {
    return AVIOInterruptCB{&IOInterruptCallback, nullptr};
}

// Registers (sender, function) for the calling thread for the lifetime of the object.
class TInterruptRegistration {
public:
    TInterruptRegistration(void* sender, TInterruptProc interrupt)
        : FThreadID(CurrentThreadID()), FSender(sender), FInterrupt(interrupt) {
        InterruptCB().Add(FThreadID, FSender, FInterrupt);
    }
    ~TInterruptRegistration() { InterruptCB().Remove(FThreadID, FSender, FInterrupt); }
    TInterruptRegistration(const TInterruptRegistration&) = delete;
    TInterruptRegistration& operator=(const TInterruptRegistration&) = delete;

private:
    TThreadID FThreadID;
    void* FSender;
    TInterruptProc FInterrupt;
};
