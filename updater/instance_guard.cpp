#include "instance_guard.h"

#include "support/exception.h"

EveryoneSecurityAttributes::EveryoneSecurityAttributes() {
    SID_IDENTIFIER_AUTHORITY world = SECURITY_WORLD_SID_AUTHORITY;
    PSID sid = nullptr;
    if (!AllocateAndInitializeSid(&world, 1, SECURITY_WORLD_RID, 0, 0, 0, 0, 0, 0, 0, &sid)) {
        error = GetLastError();
        return;
    }
    everyone.reset(sid);
    access.grfAccessPermissions = MUTEX_ALL_ACCESS;
    access.grfAccessMode = SET_ACCESS;
    access.grfInheritance = NO_INHERITANCE;
    access.Trustee.pMultipleTrustee = nullptr;
    access.Trustee.MultipleTrusteeOperation = NO_MULTIPLE_TRUSTEE;
    access.Trustee.TrusteeForm = TRUSTEE_IS_SID;
    access.Trustee.TrusteeType = TRUSTEE_IS_WELL_KNOWN_GROUP;
    access.Trustee.ptstrName = static_cast<LPSTR>(everyone.get());
    PACL list = nullptr;
    const DWORD aclResult = SetEntriesInAclA(1, &access, nullptr, &list);
    if (aclResult != ERROR_SUCCESS) {
        error = aclResult;
        return;
    }
    acl.reset(list);
    descriptor.reset(LocalAlloc(LPTR, SECURITY_DESCRIPTOR_MIN_LENGTH));
    if (!descriptor) {
        error = GetLastError();
        return;
    }
    if (!InitializeSecurityDescriptor(descriptor.get(), SECURITY_DESCRIPTOR_REVISION) ||
        !SetSecurityDescriptorDacl(descriptor.get(), TRUE, acl.get(), FALSE)) {
        error = GetLastError();
        return;
    }
    attributes.nLength = sizeof attributes;
    attributes.lpSecurityDescriptor = descriptor.get();
    attributes.bInheritHandle = FALSE;
    ok = true;
}

void InstanceGuard::release() {
    if (mutex_) {
        ReleaseMutex(mutex_.get());
        mutex_.reset();
    }
}

InstanceGuard takeInstanceGuard() {
    UniqueHandle mutex;
    {
        EveryoneSecurityAttributes security;
        if (!security.ok) {
            throw Exception(L"Failed init SECURITY_ATTRIBUTES", security.error);
        }
        mutex.reset(CreateMutexW(&security.attributes, FALSE, kGuardMutexName));
        if (!mutex) {
            throwLastError(kGuardMutexName);
        }
    }
    switch (WaitForSingleObject(mutex.get(), 0)) {
    case WAIT_OBJECT_0:
    case WAIT_ABANDONED:
        return InstanceGuard(std::move(mutex));
    case WAIT_TIMEOUT:
        return InstanceGuard();
    default:
        throwLastError(kGuardMutexName);
    }
}
