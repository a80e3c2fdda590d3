#include "instance_guard.h"

#include "report.h"
#include "support/exception.h"

#include <cstdlib>

EveryoneSecurityAttributes::EveryoneSecurityAttributes() {
    SID_IDENTIFIER_AUTHORITY world = SECURITY_WORLD_SID_AUTHORITY;
    if (!AllocateAndInitializeSid(&world, 1, SECURITY_WORLD_RID, 0, 0, 0, 0, 0, 0, 0, &everyone)) {
        error = GetLastError();
        return;
    }
    access.grfAccessPermissions = MUTEX_ALL_ACCESS;
    access.grfAccessMode = SET_ACCESS;
    access.grfInheritance = NO_INHERITANCE;
    access.Trustee.pMultipleTrustee = nullptr;
    access.Trustee.MultipleTrusteeOperation = NO_MULTIPLE_TRUSTEE;
    access.Trustee.TrusteeForm = TRUSTEE_IS_SID;
    access.Trustee.TrusteeType = TRUSTEE_IS_WELL_KNOWN_GROUP;
    access.Trustee.ptstrName = static_cast<LPSTR>(everyone);
    const DWORD aclResult = SetEntriesInAclA(1, &access, nullptr, &acl);
    if (aclResult != ERROR_SUCCESS) {
        error = aclResult;
        return;
    }
    descriptor = LocalAlloc(LPTR, SECURITY_DESCRIPTOR_MIN_LENGTH);
    if (!descriptor) {
        error = GetLastError();
        return;
    }
    if (!InitializeSecurityDescriptor(descriptor, SECURITY_DESCRIPTOR_REVISION) ||
        !SetSecurityDescriptorDacl(descriptor, TRUE, acl, FALSE)) {
        error = GetLastError();
        return;
    }
    attributes.nLength = sizeof attributes;
    attributes.lpSecurityDescriptor = descriptor;
    attributes.bInheritHandle = FALSE;
    ok = true;
}

EveryoneSecurityAttributes::~EveryoneSecurityAttributes() {
    if (everyone) {
        FreeSid(everyone);
    }
    if (acl) {
        LocalFree(acl);
    }
    if (descriptor) {
        LocalFree(descriptor);
    }
}

void InstanceGuard::release() {
    if (mutex_) {
        ReleaseMutex(mutex_);
        CloseHandle(mutex_);
        mutex_ = nullptr;
    }
}

InstanceGuard takeInstanceGuard() {
    HANDLE mutex = nullptr;
    {
        EveryoneSecurityAttributes security;
        if (!security.ok) {
            throw Exception(L"Failed init SECURITY_ATTRIBUTES", security.error);
        }
        mutex = CreateMutexW(&security.attributes, FALSE, kGuardMutexName);
        if (!mutex) {
            throwLastError(kGuardMutexName);
        }
    }
    switch (WaitForSingleObject(mutex, 0)) {
    case WAIT_OBJECT_0:
    case WAIT_ABANDONED:
        return InstanceGuard(mutex);
    case WAIT_TIMEOUT:
        reportLine(L"Updater already running, exit");
        CloseHandle(mutex);
        std::exit(0);
    default: {
        const DWORD error = GetLastError();
        CloseHandle(mutex);
        throw Exception(kGuardMutexName, error);
    }
    }
}
