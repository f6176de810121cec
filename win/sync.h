// Locks: an owned critical section with its scope guard, and an owned
// (optionally named) mutex with its own scope guard.
#pragma once

#include <windows.h>

#include <cstdint>

namespace win {

// A critical section that exists from construction to destruction. Recursive,
// as Win32 critical sections are.
class CriticalSection {
public:
    CriticalSection() noexcept { InitializeCriticalSection(&cs_); }
    ~CriticalSection() { DeleteCriticalSection(&cs_); }
    CriticalSection(const CriticalSection&) = delete;
    CriticalSection& operator=(const CriticalSection&) = delete;

    void Enter() noexcept { EnterCriticalSection(&cs_); }
    void Leave() noexcept { LeaveCriticalSection(&cs_); }
    CRITICAL_SECTION* Raw() noexcept { return &cs_; }

private:
    CRITICAL_SECTION cs_;
};

// Holds a critical section for its scope.
class Lock {
public:
    explicit Lock(CriticalSection& cs) noexcept : cs_(cs.Raw()) { EnterCriticalSection(cs_); }
    explicit Lock(CRITICAL_SECTION* cs) noexcept : cs_(cs) { EnterCriticalSection(cs_); }
    ~Lock() { LeaveCriticalSection(cs_); }
    Lock(const Lock&) = delete;
    Lock& operator=(const Lock&) = delete;

private:
    CRITICAL_SECTION* cs_;
};

// An owned mutex handle (CreateMutexW); closed at destruction.
class Mutex {
public:
    Mutex() noexcept = default;
    ~Mutex() { Close(); }
    Mutex(const Mutex&) = delete;
    Mutex& operator=(const Mutex&) = delete;

    // Creates or opens the mutex (name may be null). Returns 0 or GetLastError();
    // AlreadyExisted() tells whether a named one was there before.
    uint32_t Create(const wchar_t* name, bool initialOwner = false) noexcept;
    void Close() noexcept;

    // WaitForSingleObject: WAIT_OBJECT_0, WAIT_ABANDONED (owned now, too),
    // WAIT_TIMEOUT or WAIT_FAILED.
    DWORD Wait(DWORD timeoutMs = INFINITE) noexcept;
    bool ReleaseOwnership() noexcept { return h_ && ReleaseMutex(h_) != FALSE; }

    HANDLE Get() const noexcept { return h_; }
    bool Valid() const noexcept { return h_ != nullptr; }
    bool AlreadyExisted() const noexcept { return existed_; }

private:
    HANDLE h_ = nullptr;
    bool existed_ = false;
};

// Owns a mutex for its scope when the wait succeeds (abandoned counts as owned).
class MutexLock {
public:
    explicit MutexLock(Mutex& m, DWORD timeoutMs = INFINITE) noexcept;
    ~MutexLock();
    MutexLock(const MutexLock&) = delete;
    MutexLock& operator=(const MutexLock&) = delete;

    bool Owned() const noexcept { return owned_; }

private:
    Mutex& m_;
    bool owned_;
};

} // namespace win
