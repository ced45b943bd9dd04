#pragma once

#include <QString>

#include <cstdint>
#include <typeindex>
#include <typeinfo>

// The process-wide table that lets an option string name an object of the program
// without carrying its address. The owner registers the object and passes the handle in
// decimal; the source looks the handle up and gets the object back only when the handle
// is registered for an object of that very type. A handle that was never given out,
// was unregistered or names an object of another type finds nothing, so an option
// string can never make the program read or write an arbitrary address.
//
//     std::atomic<bool> FWavePauseFlag;                 // in the recording toolbar
//     THandleRegistration<std::atomic<bool>> FPauseHandle{&FWavePauseFlag};
//     QString options = QStringLiteral("r=44100;c=2;f=16;pause_pointer=%1")
//                           .arg(FPauseHandle.Handle());
//
//     // in the sound source's read_header
//     auto* flag = FindHandle<std::atomic<bool>>(state->pause_handle);
//     if (state->pause_handle != 0 && !flag)
//         return AVERROR(EINVAL);                        // "Invalid pause pointer\n"
//
// Handles are positive, given out in increasing order and never reused while the
// process runs; 0 stands for no object. The owner keeps the object alive while an input
// opened with its handle is open, and unregisters it before freeing it. Thread-safe.

using TObjectHandle = int32_t;

namespace VxDetail {
TObjectHandle RegisterHandle(void* object, std::type_index type);
void* FindHandle(TObjectHandle handle, std::type_index type);
} // namespace VxDetail

// Registers `object` (not null) and returns its new handle.
template <class T> TObjectHandle RegisterHandle(T* object) {
    return VxDetail::RegisterHandle(object, std::type_index(typeid(T)));
}

// The object registered as `handle` with type T; null for 0, an unknown handle or one
// registered with another type.
template <class T> T* FindHandle(TObjectHandle handle) {
    return static_cast<T*>(VxDetail::FindHandle(handle, std::type_index(typeid(T))));
}

// Removes `handle` from the table; unknown handles are ignored.
void UnregisterHandle(TObjectHandle handle);

// The number of registered handles.
int RegisteredHandleCount();

// Registers an object for the lifetime of this value.
template <class T> class THandleRegistration {
public:
    explicit THandleRegistration(T* object) : FHandle(RegisterHandle(object)) {}
    ~THandleRegistration() { UnregisterHandle(FHandle); }
    THandleRegistration(const THandleRegistration&) = delete;
    THandleRegistration& operator=(const THandleRegistration&) = delete;

    TObjectHandle Handle() const { return FHandle; }
    // The handle in decimal, as option strings carry it.
    QString Text() const { return QString::number(FHandle); }

private:
    TObjectHandle FHandle;
};
