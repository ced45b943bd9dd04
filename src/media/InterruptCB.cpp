#include "media/InterruptCB.h"

#include <algorithm>

void TInterruptCB::Add(TThreadID AThreadID, void* ASender, TInterruptProc AInterrupt) {
    std::lock_guard lock(FLock);
    const TInterruptItem item{AThreadID, ASender, AInterrupt};
    if (std::find(FList.begin(), FList.end(), item) == FList.end())
        FList.push_back(item);
}

void TInterruptCB::Remove(TThreadID AThreadID, void* ASender, TInterruptProc AInterrupt) {
    std::lock_guard lock(FLock);
    const auto found =
        std::find(FList.begin(), FList.end(), TInterruptItem{AThreadID, ASender, AInterrupt});
    if (found != FList.end())
        FList.erase(found);
}

bool TInterruptCB::Interrupt(TThreadID AThreadID) {
    std::lock_guard lock(FLock);
    for (const TInterruptItem& item : FList)
        if (item.ThreadID == AThreadID)
            return item.Interrupt && item.Interrupt(item.Sender);
    return false;
}

void TInterruptCB::Clear() {
    std::lock_guard lock(FLock);
    FList.clear();
}

std::vector<TInterruptItem>& TInterruptCB::LockList() {
    FLock.lock();
    return FList;
}

void TInterruptCB::UnlockList() {
    FLock.unlock();
}

TInterruptCB& InterruptCB() {
    static TInterruptCB* registry = new TInterruptCB; // asked by FFmpeg until the very end
    return *registry;
}

int IOInterruptCallback(void*) {
    return InterruptCB().Interrupt(CurrentThreadID()) ? 1 : 0;
}
