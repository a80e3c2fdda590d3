// The handle owner: what each kind of handle counts as empty, that an owner closes what it
// holds exactly once, and that the thread's last error survives construction, reset and
// move, so that an error code read after cleanup is still the failing call's.
#include "support/unique_handle.h"

#include "test_support.h"

#include <gtest/gtest.h>

namespace {

constexpr DWORD kMagicError = 0x2A2A;

// Whether the handle is still open in this process.
bool isOpen(HANDLE handle) {
    DWORD flags = 0;
    return GetHandleInformation(handle, &flags) != FALSE;
}

} // namespace

TEST(UniqueHandle, EachKindOfHandleHasItsOwnEmptyValue) {
    EXPECT_FALSE(UniqueHandle());
    EXPECT_EQ(UniqueHandle().get(), nullptr);
    EXPECT_FALSE(UniqueFileHandle());
    EXPECT_EQ(UniqueFileHandle().get(), INVALID_HANDLE_VALUE);
    EXPECT_FALSE(UniqueFindHandle());
    EXPECT_EQ(UniqueFindHandle().get(), INVALID_HANDLE_VALUE);
    // What the creating calls return on failure is empty for the owner of their kind.
    EXPECT_FALSE(UniqueFileHandle(CreateFileW(L"C:\\kyr-no-such-folder\\x", GENERIC_READ, 0,
                                              nullptr, OPEN_EXISTING, 0, nullptr)));
    WIN32_FIND_DATAW data;
    EXPECT_FALSE(UniqueFindHandle(FindFirstFileW(L"C:\\kyr-no-such-folder\\*", &data)));
    EXPECT_FALSE(UniqueHandle(OpenMutexW(SYNCHRONIZE, FALSE, L"Local\\kyr-no-such-mutex")));
}

TEST(UniqueHandle, RealHandlesAreClosedOnceAndTheLastErrorSurvives) {
    kyrtest::TempDir temp;
    const std::wstring file = (temp.path() / L"f").wstring();
    kyrtest::writeFile(file, "x");

    HANDLE mutex = CreateMutexW(nullptr, FALSE, nullptr);
    ASSERT_NE(mutex, nullptr);
    {
        SetLastError(kMagicError);
        UniqueHandle owner(mutex);
        EXPECT_EQ(GetLastError(), kMagicError) << "construction";
        UniqueHandle moved(std::move(owner));
        EXPECT_EQ(GetLastError(), kMagicError) << "move";
        EXPECT_FALSE(owner);
        EXPECT_EQ(moved.get(), mutex);
        EXPECT_TRUE(isOpen(mutex));
        SetLastError(kMagicError);
        moved.reset();
        EXPECT_EQ(GetLastError(), kMagicError) << "reset";
        EXPECT_FALSE(isOpen(mutex));
    }

    HANDLE opened = CreateFileW(file.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(opened, INVALID_HANDLE_VALUE);
    {
        UniqueFileHandle owner(opened);
        UniqueFileHandle other;
        SetLastError(kMagicError);
        other = std::move(owner);
        EXPECT_EQ(GetLastError(), kMagicError) << "move assignment";
        EXPECT_TRUE(isOpen(opened));
        SetLastError(kMagicError);
    }
    EXPECT_EQ(GetLastError(), kMagicError) << "destruction";
    EXPECT_FALSE(isOpen(opened));

    WIN32_FIND_DATAW data;
    UniqueFindHandle listing(FindFirstFileW((temp.path() / L"*").c_str(), &data));
    ASSERT_TRUE(listing);
    SetLastError(kMagicError);
    const HANDLE released = listing.release();
    EXPECT_FALSE(listing);
    EXPECT_EQ(GetLastError(), kMagicError) << "release";
    // Released: the owner no longer closes it, the caller does.
    EXPECT_TRUE(FindClose(released));
}

TEST(UniqueHandle, SystemMemoryOwnersFreeWithTheirFunctions) {
    HLOCAL memory = LocalAlloc(LPTR, 16);
    ASSERT_NE(memory, nullptr);
    {
        const UniqueLocalMemory<void> owner(memory);
        EXPECT_NE(LocalSize(owner.get()), 0u);
    }
    SID_IDENTIFIER_AUTHORITY world = SECURITY_WORLD_SID_AUTHORITY;
    PSID sid = nullptr;
    ASSERT_TRUE(AllocateAndInitializeSid(&world, 1, SECURITY_WORLD_RID, 0, 0, 0, 0, 0, 0, 0, &sid));
    const UniqueSid owner(sid);
    EXPECT_TRUE(IsValidSid(owner.get()));
}
