// Scoped owners of the system's handles and memory: each gives back what it
// holds when it goes out of scope, unless it is released to a new owner
// first. They keep no state beyond the handle, so the order of calls stays
// the caller's own: the handle is made where the caller makes it and given
// back where the scope ends.
#pragma once

#include <windows.h>

#include "system/owned_buffer.h"

namespace quorvel {

// A kernel handle closed with CloseHandle: events, semaphores, threads, and
// files and devices too. Both values that mean "no handle" are known: null
// (what CreateEvent and the like return on failure) and INVALID_HANDLE_VALUE
// (what CreateFile returns); neither is ever closed.
class ScopedHandle {
public:
    ScopedHandle() = default;
    explicit ScopedHandle(HANDLE handle) : handle_(handle) {}
    ~ScopedHandle() { Reset(); }
    ScopedHandle(const ScopedHandle&) = delete;
    ScopedHandle& operator=(const ScopedHandle&) = delete;

    HANDLE Get() const { return handle_; }
    explicit operator bool() const { return handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE; }
    // Hands the handle to a new owner; this one holds nothing after it.
    HANDLE Release() {
        HANDLE handle = handle_;
        handle_ = nullptr;
        return handle;
    }
    void Reset(HANDLE handle = nullptr) {
        if (*this) CloseHandle(handle_);
        handle_ = handle;
    }

private:
    HANDLE handle_ = nullptr;
};

// A window's device context (GetDC), with an object selected into it that is
// deselected again before the context goes back (ReleaseDC).
class ScopedWindowDC {
public:
    explicit ScopedWindowDC(HWND window) : window_(window), dc_(GetDC(window)) {}
    ~ScopedWindowDC() {
        if (previous_) SelectObject(dc_, previous_);
        if (dc_) ReleaseDC(window_, dc_);
    }
    ScopedWindowDC(const ScopedWindowDC&) = delete;
    ScopedWindowDC& operator=(const ScopedWindowDC&) = delete;

    HDC Get() const { return dc_; }
    explicit operator bool() const { return dc_ != nullptr; }
    // Selects the object for the life of the scope; false when that fails.
    bool Select(HGDIOBJ object) {
        if (!dc_ || previous_) return false;
        previous_ = SelectObject(dc_, object);
        return previous_ != nullptr;
    }

private:
    HWND window_;
    HDC dc_;
    HGDIOBJ previous_ = nullptr;
};

// A critical section that lives for the life of the process: made at its
// first use and never deleted, because threads may still take it while
// static objects are destroyed at exit. Meant for objects of static storage
// duration, which start out zero.
class ProcessLock {
public:
    void Enter() { EnterCriticalSection(Section()); }
    void Leave() { LeaveCriticalSection(Section()); }

private:
    CRITICAL_SECTION* Section() {
        // Two first callers may both make one; the one that comes second
        // gives its own back and takes the first one's.
        if (!section_) {
            auto* made = new CRITICAL_SECTION;
            InitializeCriticalSection(made);
            if (InterlockedCompareExchangePointer(reinterpret_cast<PVOID volatile*>(&section_), made,
                                                  nullptr) != nullptr) {
                DeleteCriticalSection(made);
                delete made;
            }
        }
        return section_;
    }
    CRITICAL_SECTION* volatile section_ = nullptr;
};

// Holds a lock (anything with Enter and Leave) for its scope.
template <typename Lock>
class ScopedLock {
public:
    explicit ScopedLock(Lock& lock) : lock_(lock) { lock_.Enter(); }
    ~ScopedLock() { lock_.Leave(); }
    ScopedLock(const ScopedLock&) = delete;
    ScopedLock& operator=(const ScopedLock&) = delete;

private:
    Lock& lock_;
};

// A named semaphore of count 1 used as a lock shared by processes: Enter
// waits for it, Leave gives it back.
class SemaphoreLock {
public:
    explicit SemaphoreLock(HANDLE semaphore) : semaphore_(semaphore) {}
    void Enter() { WaitForSingleObject(semaphore_, INFINITE); }
    void Leave() { ReleaseSemaphore(semaphore_, 1, nullptr); }

private:
    HANDLE semaphore_;
};

}  // namespace quorvel
