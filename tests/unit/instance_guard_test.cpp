// The access list of the updater's mutex, read back from a real mutex built with it.
#include "instance_guard.h"
#include "support/unique_handle.h"

#include <gtest/gtest.h>

#include <aclapi.h>

#include <string>

TEST(InstanceGuard, EveryoneMayUseTheMutex) {
    EveryoneSecurityAttributes security;
    ASSERT_TRUE(security.ok) << security.error;
    EXPECT_EQ(security.error, 0u);
    EXPECT_EQ(security.attributes.nLength, sizeof(SECURITY_ATTRIBUTES));
    EXPECT_FALSE(security.attributes.bInheritHandle);

    const std::wstring name = L"Local\\kyr-test-guard-" + std::to_wstring(GetCurrentProcessId());
    const UniqueHandle mutex(CreateMutexW(&security.attributes, FALSE, name.c_str()));
    ASSERT_TRUE(mutex);

    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    ASSERT_EQ(GetSecurityInfo(mutex.get(), SE_KERNEL_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                              nullptr, &dacl, nullptr, &descriptor),
              static_cast<DWORD>(ERROR_SUCCESS));
    const UniqueLocalMemory<void> ownedDescriptor(descriptor);
    ASSERT_NE(dacl, nullptr);
    ASSERT_EQ(dacl->AceCount, 1);
    void* ace = nullptr;
    ASSERT_TRUE(GetAce(dacl, 0, &ace));
    const auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(ace);
    EXPECT_EQ(allowed->Header.AceType, ACCESS_ALLOWED_ACE_TYPE);
    EXPECT_EQ(allowed->Mask, static_cast<DWORD>(MUTEX_ALL_ACCESS));
    SID_IDENTIFIER_AUTHORITY world = SECURITY_WORLD_SID_AUTHORITY;
    PSID everyone = nullptr;
    ASSERT_TRUE(
        AllocateAndInitializeSid(&world, 1, SECURITY_WORLD_RID, 0, 0, 0, 0, 0, 0, 0, &everyone));
    const UniqueSid ownedEveryone(everyone);
    EXPECT_TRUE(EqualSid(const_cast<DWORD*>(&allowed->SidStart), everyone));
}
