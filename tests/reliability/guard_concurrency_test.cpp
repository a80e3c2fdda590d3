// The single-instance guard under concurrency: many updaters started at once on one
// installation, and an updater killed while it holds the guard.
#include "piped_child.h"
#include "standin_process.h"
#include "updater_test_util.h"

#include <gtest/gtest.h>

#include <memory>

using namespace kyrtest;

namespace {

// An installation with one staged file, whose update waits for a running KYR.exe.
struct WaitingInstall : UpdaterInstall {
    WaitingInstall() {
        install(L"standinServer.exe", defaultExeName());
        put(L"~kyrCore.dll", "new");
        put(L"kyrCore.dll", "current");
    }
    ~WaitingInstall() { serverRecord(defaultExeName()); } // let the started server finish

    // The lines of the run that does the update, after the start lines.
    std::vector<std::string> updateLines() const {
        return waitLines() +
               std::vector<std::string>{renameLine(appDir(), L"kyrCore.dll", L"kyrCore.dll.old"),
                                        renameLine(appDir(), L"~kyrCore.dll", L"kyrCore.dll"),
                                        removeLine(appDir(), L"kyrCore.dll.old")} +
               endLines(appDir());
    }
};

bool hasRenameLine(const std::vector<std::string>& lines) {
    return std::any_of(lines.begin(), lines.end(),
                       [](const std::string& line) { return line.rfind("Rename ", 0) == 0; });
}

} // namespace

TEST(GuardConcurrency, OfTenUpdatersStartedAtOnceOneUpdatesAndNineAreTurnedAway) {
    WaitingInstall install;
    const fs::path& app = install.appDir();
    auto application = std::make_unique<StandinProcess>(install.root() / L"procs", L"KYR.exe");

    // All ten are the one kyrUpdater.exe of the installation, started within the same
    // second: their logs share one folder and one time stamp, and each must still get a file
    // of its own.
    constexpr int count = 10;
    std::vector<std::unique_ptr<PipedChild>> updaters;
    PipedOptions options;
    options.startSuspended = true;
    for (int i = 0; i < count; ++i) {
        updaters.push_back(
            std::make_unique<PipedChild>(install.updater(), std::vector<std::wstring>{}, options));
    }
    for (auto& updater : updaters) {
        updater->resume();
    }

    // All but the one that waits for KYR.exe end; that one must still be waiting.
    auto ended = [&] {
        return std::count_if(updaters.begin(), updaters.end(),
                             [](const auto& updater) { return updater->wait(0); });
    };
    EXPECT_TRUE(waitUntil([&] { return ended() == count - 1; }, 60000)) << ended();
    Sleep(300);
    EXPECT_EQ(ended(), count - 1);
    EXPECT_EQ(install.content(L"kyrCore.dll"), "current");
    application->end();

    const auto start = startLines(app, defaultExeName());
    const auto turnedAway = start + std::vector<std::string>{"Updater already running, exit"};
    const auto updating = start + install.updateLines();
    int updated = 0, away = 0;
    std::vector<std::vector<std::string>> outputs;
    for (int i = 0; i < count; ++i) {
        const auto lines = updaters[i]->remainingLines();
        EXPECT_EQ(updaters[i]->exitCode(), 0u) << "updater " << i << ":\n" << asOutput(lines);
        if (lines == updating) {
            ++updated;
        } else if (lines == turnedAway) {
            ++away;
        } else {
            ADD_FAILURE() << "updater " << i << " reported:\n" << asOutput(lines);
        }
        outputs.push_back(lines);
    }
    // Ten logs, none empty or mixed: each holds exactly the lines of one run.
    std::vector<std::vector<std::string>> logged;
    int logsWithRenames = 0;
    for (const fs::path& log : install.logs()) {
        logged.push_back(logMessages(readFile(log)));
        EXPECT_FALSE(logged.back().empty()) << log.string();
        logsWithRenames += hasRenameLine(logged.back()) ? 1 : 0;
    }
    std::sort(outputs.begin(), outputs.end());
    std::sort(logged.begin(), logged.end());
    EXPECT_EQ(logged, outputs);
    EXPECT_EQ(updated, 1);
    EXPECT_EQ(away, count - 1);
    EXPECT_EQ(logsWithRenames, 1);
    EXPECT_EQ(install.content(L"kyrCore.dll"), "new");
    EXPECT_FALSE(install.exists(L"~kyrCore.dll"));
}

TEST(GuardConcurrency, AnUpdaterKilledWhileItHoldsTheGuardDoesNotBlockTheNext) {
    // Without another handle the killed updater's mutex goes with it; with one held here it
    // stays, abandoned, and the next updater meets it so.
    for (const bool heldHere : {false, true}) {
        SCOPED_TRACE(heldHere ? "mutex kept open by the test" : "no other handle");
        WaitingInstall install;
        auto application = std::make_unique<StandinProcess>(install.root() / L"procs", L"KYR.exe");
        PipedChild first(install.updater(), {});
        std::vector<std::string> reported;
        std::string line;
        while (first.nextLine(line)) {
            reported.push_back(line);
            if (line == "Wait for stop KYR processes...") {
                break;
            }
        }
        ASSERT_EQ(reported, startLines(install.appDir(), defaultExeName()) +
                                std::vector<std::string>{waitLines().front()});
        const UniqueHandle mutex(heldHere ? OpenMutexW(SYNCHRONIZE, FALSE, kGuardMutexName)
                                          : nullptr);
        ASSERT_TRUE(!heldHere || mutex) << GetLastError();
        first.terminate();
        application->end();

        const RunResult next = install.run();
        EXPECT_FALSE(next.timedOut);
        EXPECT_EQ(next.exitCode, 0u) << next.out;
        EXPECT_EQ(next.out,
                  asOutput(startLines(install.appDir(), defaultExeName()) + install.updateLines()));
        EXPECT_EQ(install.content(L"kyrCore.dll"), "new");
        if (mutex) {
            // The next updater released the mutex at its end.
            EXPECT_EQ(WaitForSingleObject(mutex.get(), 0), WAIT_OBJECT_0);
            ReleaseMutex(mutex.get());
        }
    }
}
