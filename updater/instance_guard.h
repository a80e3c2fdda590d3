// The machine-wide single-instance guard: a named mutex in the global namespace that every
// account may open, so that updaters of services and of interactive users exclude each
// other.
#pragma once

#include <windows.h>
#include <aclapi.h>

// Machine-wide: every updater build that is to exclude the others uses this exact name.
inline constexpr const wchar_t* kGuardMutexName =
    L"Global\\KYR|M|UPDATER-7C1E52B0-4D3A-4F19-9B6E-2F0A5D83C614";

// Security attributes whose access list grants MUTEX_ALL_ACCESS to Everyone (S-1-1-0).
// Built in place; frees what it allocated when destroyed. Building never throws: the
// outcome is in ok and error.
struct EveryoneSecurityAttributes {
    bool ok = false;
    DWORD error = 0;
    SECURITY_ATTRIBUTES attributes{};
    EXPLICIT_ACCESS_A access{};
    PSID everyone = nullptr;
    PACL acl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;

    EveryoneSecurityAttributes();
    ~EveryoneSecurityAttributes();
    EveryoneSecurityAttributes(const EveryoneSecurityAttributes&) = delete;
    EveryoneSecurityAttributes& operator=(const EveryoneSecurityAttributes&) = delete;
};

// The guard as this run holds it.
class InstanceGuard {
public:
    explicit InstanceGuard(HANDLE mutex) : mutex_(mutex) {}
    InstanceGuard(const InstanceGuard&) = delete;
    InstanceGuard& operator=(const InstanceGuard&) = delete;
    InstanceGuard(InstanceGuard&& other) noexcept : mutex_(other.mutex_) { other.mutex_ = nullptr; }
    // Deliberately no release here: a run that ends any other way than complete leaves the
    // mutex to the system, which releases it when the process ends.
    ~InstanceGuard() = default;

    // The end of a completed run: ReleaseMutex, then CloseHandle.
    void release();

private:
    HANDLE mutex_;
};

// Creates or opens the mutex and tries to own it without waiting. When another updater
// owns it, reports "Updater already running, exit", closes the handle and ends the process
// with exit code 0. Throws Exception on any failure. An abandoned mutex counts as owned.
InstanceGuard takeInstanceGuard();
