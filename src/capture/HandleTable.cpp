#include "capture/HandleTable.h"

#include "media/FFErrors.h"

#include <limits>
#include <mutex>
#include <unordered_map>

namespace {

struct TEntry {
    void* Object;
    std::type_index Type;
};

struct TTable {
    std::mutex Lock;
    std::unordered_map<TObjectHandle, TEntry> Entries;
    TObjectHandle Last = 0;
};

TTable& Table() {
    static TTable table;
    return table;
}

} // namespace

TObjectHandle VxDetail::RegisterHandle(void* object, std::type_index type) {
    FFAssert(object != nullptr, "RegisterHandle needs an object.");
    TTable& table = Table();
    std::lock_guard lock(table.Lock);
    FFAssert(table.Last < std::numeric_limits<TObjectHandle>::max(), "Handle table exhausted.");
    const TObjectHandle handle = ++table.Last;
    table.Entries.emplace(handle, TEntry{object, type});
    return handle;
}

void* VxDetail::FindHandle(TObjectHandle handle, std::type_index type) {
    TTable& table = Table();
    std::lock_guard lock(table.Lock);
    const auto it = table.Entries.find(handle);
    return it != table.Entries.end() && it->second.Type == type ? it->second.Object : nullptr;
}

void UnregisterHandle(TObjectHandle handle) {
    TTable& table = Table();
    std::lock_guard lock(table.Lock);
    table.Entries.erase(handle);
}

int RegisteredHandleCount() {
    TTable& table = Table();
    std::lock_guard lock(table.Lock);
    return int(table.Entries.size());
}
