// A process-local lock (a critical section) and its scope guard.
#pragma once

#include <windows.h>

namespace emu {

class Lock {
public:
    Lock() { InitializeCriticalSection(&section_); }
    ~Lock() { DeleteCriticalSection(&section_); }
    Lock(const Lock&) = delete;
    Lock& operator=(const Lock&) = delete;
    void Enter() { EnterCriticalSection(&section_); }
    void Leave() { LeaveCriticalSection(&section_); }

private:
    CRITICAL_SECTION section_;
};

class ScopedLock {
public:
    explicit ScopedLock(Lock& lock) : lock_(lock) { lock_.Enter(); }
    ~ScopedLock() { lock_.Leave(); }
    ScopedLock(const ScopedLock&) = delete;
    ScopedLock& operator=(const ScopedLock&) = delete;

private:
    Lock& lock_;
};

}  // namespace emu
