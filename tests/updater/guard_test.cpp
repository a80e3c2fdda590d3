// The machine-wide single-instance guard of the built kyrUpdater.exe, against real mutexes.
#include "updater_test_util.h"

#include <gtest/gtest.h>

#include <aclapi.h>

using namespace kyrtest;

namespace {

// Owns the updater's mutex from a thread of its own, so that the updater meets it owned by
// another process.
class MutexOwner {
public:
    explicit MutexOwner(bool abandon) {
        ready_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        stop_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        abandon_ = abandon;
        thread_ = CreateThread(nullptr, 0, &MutexOwner::main, this, 0, nullptr);
        WaitForSingleObject(ready_, 10000);
    }
    ~MutexOwner() {
        SetEvent(stop_);
        WaitForSingleObject(thread_, 10000);
        CloseHandle(thread_);
        if (mutex_) {
            CloseHandle(mutex_);
        }
        CloseHandle(ready_);
        CloseHandle(stop_);
    }
    bool owned() const { return owned_; }

private:
    static DWORD WINAPI main(void* self) {
        auto* owner = static_cast<MutexOwner*>(self);
        owner->mutex_ = CreateMutexW(nullptr, FALSE, kGuardMutexName);
        owner->owned_ = owner->mutex_ && WaitForSingleObject(owner->mutex_, 5000) == WAIT_OBJECT_0;
        if (owner->abandon_) {
            // The thread ends without releasing: the mutex is abandoned.
            SetEvent(owner->ready_);
            return 0;
        }
        SetEvent(owner->ready_);
        WaitForSingleObject(owner->stop_, INFINITE);
        ReleaseMutex(owner->mutex_);
        return 0;
    }

    HANDLE ready_ = nullptr, stop_ = nullptr, thread_ = nullptr, mutex_ = nullptr;
    bool abandon_ = false;
    bool owned_ = false;
};

} // namespace

TEST(Guard, SecondUpdaterIsTurnedAwayWithExitCodeZero) {
    UpdaterInstall install;
    install.put(L"~kyrCore.dll");
    MutexOwner owner(false);
    ASSERT_TRUE(owner.owned());
    const RunResult r = install.run();
    EXPECT_EQ(r.exitCode, 0u);
    const auto lines = startLines(install.appDir(), defaultExeName()) +
                       std::vector<std::string>{"Updater already running, exit"};
    EXPECT_EQ(r.out, asOutput(lines));
    EXPECT_EQ(install.onlyLogMessages(), lines);
    // Nothing of the installation was touched.
    EXPECT_TRUE(install.exists(L"~kyrCore.dll"));
    EXPECT_FALSE(install.exists(L"kyrCore.dll"));
}

TEST(Guard, AbandonedMutexCountsAsFree) {
    UpdaterInstall install;
    MutexOwner owner(true);
    ASSERT_TRUE(owner.owned());
    const RunResult r = install.run({L"--check-updates"});
    EXPECT_EQ(r.exitCode, 0u);
    EXPECT_EQ(r.out, asOutput(startLines(install.appDir(), defaultExeName())));
}

TEST(Guard, MutexIsFreeOnceACheckOnlyRunHasEnded) {
    UpdaterInstall install;
    ASSERT_EQ(install.run({L"--check-updates"}).exitCode, 0u);
    HANDLE mutex = CreateMutexW(nullptr, FALSE, kGuardMutexName);
    ASSERT_NE(mutex, nullptr);
    const DWORD wait = WaitForSingleObject(mutex, 0);
    EXPECT_TRUE(wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED) << wait;
    ReleaseMutex(mutex);
    CloseHandle(mutex);
}

TEST(Guard, MutexWithANarrowerAccessListFailsClearly) {
    // A mutex of the same name whose empty access list lets nobody open it.
    SECURITY_DESCRIPTOR descriptor;
    ASSERT_TRUE(InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION));
    ACL emptyAcl;
    ASSERT_TRUE(InitializeAcl(&emptyAcl, sizeof emptyAcl, ACL_REVISION));
    ASSERT_TRUE(SetSecurityDescriptorDacl(&descriptor, TRUE, &emptyAcl, FALSE));
    SECURITY_ATTRIBUTES attributes{sizeof attributes, &descriptor, FALSE};
    HANDLE mutex = CreateMutexW(&attributes, FALSE, kGuardMutexName);
    ASSERT_NE(mutex, nullptr);
    ASSERT_NE(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
    HANDLE probe = OpenMutexW(SYNCHRONIZE, FALSE, kGuardMutexName);
    const bool enforced = probe == nullptr && GetLastError() == ERROR_ACCESS_DENIED;
    if (probe) {
        CloseHandle(probe);
    }
    if (!enforced) {
        CloseHandle(mutex);
        GTEST_SKIP() << "this system does not enforce the access list of a mutex";
    }
    UpdaterInstall install;
    const RunResult r = install.run({L"--check-updates"});
    CloseHandle(mutex);
    EXPECT_EQ(r.exitCode, 1u);
    const std::string failure = toUtf8(failureText(kGuardMutexName, ERROR_ACCESS_DENIED));
    EXPECT_EQ(r.out, asOutput(startLines(install.appDir(), defaultExeName()) +
                              std::vector<std::string>{failure}));
}
