// The machine-wide single-instance guard: a named mutex in the global namespace that every
// account may open, so that updaters of services and of interactive users exclude each
// other.
#pragma once

#include <windows.h>
#include <aclapi.h>

#include "support/unique_handle.h"

#include <utility>

// Machine-wide: every updater build that is to exclude the others uses this exact name.
inline constexpr const wchar_t* kGuardMutexName =
    L"Global\\KYR|M|UPDATER-7C1E52B0-4D3A-4F19-9B6E-2F0A5D83C614";

// Security attributes whose access list grants MUTEX_ALL_ACCESS to Everyone (S-1-1-0).
// Built in place; owns what it allocated. Building never throws: the outcome is in ok and
// error.
struct EveryoneSecurityAttributes {
    bool ok = false;
    DWORD error = 0;
    SECURITY_ATTRIBUTES attributes{};
    EXPLICIT_ACCESS_A access{};
    UniqueSid everyone;
    UniqueLocalMemory<ACL> acl;
    UniqueLocalMemory<void> descriptor;

    EveryoneSecurityAttributes();
    EveryoneSecurityAttributes(const EveryoneSecurityAttributes&) = delete;
    EveryoneSecurityAttributes& operator=(const EveryoneSecurityAttributes&) = delete;
};

// The guard as this run holds it, or an empty guard when another updater holds it.
class InstanceGuard {
public:
    InstanceGuard() = default;
    explicit InstanceGuard(UniqueHandle mutex) : mutex_(std::move(mutex)) {}

    // Whether this run holds the guard.
    bool held() const { return static_cast<bool>(mutex_); }

    // The end of a completed run: ReleaseMutex, then CloseHandle. A run that ends any other
    // way only closes its handle: the system releases the mutex when the process ends.
    void release();

private:
    UniqueHandle mutex_;
};

// Creates or opens the mutex and tries to own it without waiting. Returns an empty guard
// when another updater owns it. Throws Exception on any failure. An abandoned mutex counts
// as owned.
InstanceGuard takeInstanceGuard();
