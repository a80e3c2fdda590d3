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
        ready_.reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
        stop_.reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
        abandon_ = abandon;
        thread_.reset(CreateThread(nullptr, 0, &MutexOwner::main, this, 0, nullptr));
        WaitForSingleObject(ready_.get(), scaledMs(10000));
    }
    ~MutexOwner() {
        SetEvent(stop_.get());
        WaitForSingleObject(thread_.get(), scaledMs(10000));
    }
    MutexOwner(const MutexOwner&) = delete;
    MutexOwner& operator=(const MutexOwner&) = delete;
    bool owned() const { return owned_; }

private:
    static DWORD WINAPI main(void* self) {
        auto* owner = static_cast<MutexOwner*>(self);
        owner->mutex_.reset(CreateMutexW(nullptr, FALSE, kGuardMutexName));
        owner->owned_ = owner->mutex_ &&
                        WaitForSingleObject(owner->mutex_.get(), scaledMs(5000)) == WAIT_OBJECT_0;
        if (owner->abandon_) {
            // The thread ends without releasing: the mutex is abandoned.
            SetEvent(owner->ready_.get());
            return 0;
        }
        SetEvent(owner->ready_.get());
        WaitForSingleObject(owner->stop_.get(), INFINITE);
        ReleaseMutex(owner->mutex_.get());
        return 0;
    }

    // Closed once the destructor has seen the thread end.
    UniqueHandle ready_, stop_, mutex_, thread_;
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
    const UniqueHandle mutex(CreateMutexW(nullptr, FALSE, kGuardMutexName));
    ASSERT_TRUE(mutex);
    const DWORD wait = WaitForSingleObject(mutex.get(), 0);
    EXPECT_TRUE(wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED) << wait;
    ReleaseMutex(mutex.get());
}

TEST(Guard, MutexWithANarrowerAccessListFailsClearly) {
    // A mutex of the same name whose empty access list lets nobody open it.
    SECURITY_DESCRIPTOR descriptor;
    ASSERT_TRUE(InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION));
    ACL emptyAcl;
    ASSERT_TRUE(InitializeAcl(&emptyAcl, sizeof emptyAcl, ACL_REVISION));
    ASSERT_TRUE(SetSecurityDescriptorDacl(&descriptor, TRUE, &emptyAcl, FALSE));
    SECURITY_ATTRIBUTES attributes{sizeof attributes, &descriptor, FALSE};
    UniqueHandle mutex(CreateMutexW(&attributes, FALSE, kGuardMutexName));
    ASSERT_TRUE(mutex);
    ASSERT_NE(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
    const UniqueHandle probe(OpenMutexW(SYNCHRONIZE, FALSE, kGuardMutexName));
    const bool enforced = !probe && GetLastError() == ERROR_ACCESS_DENIED;
    if (!enforced) {
        GTEST_SKIP() << "this system does not enforce the access list of a mutex";
    }
    UpdaterInstall install;
    const RunResult r = install.run({L"--check-updates"});
    mutex.reset();
    EXPECT_EQ(r.exitCode, 1u);
    const std::string failure = toUtf8(failureText(kGuardMutexName, ERROR_ACCESS_DENIED));
    EXPECT_EQ(r.out, asOutput(startLines(install.appDir(), defaultExeName()) +
                              std::vector<std::string>{failure}));
}
