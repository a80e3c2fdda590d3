// The wait for the installation's processes, with real processes: nothing is renamed before
// the last matching process has ended, and processes of other groups or names are not
// waited for.
#include "standin_process.h"
#include "updater_test_util.h"

#include <gtest/gtest.h>

using namespace kyrtest;

namespace {

struct Install : ServerInstall {
    ~Install() { serverRecord(defaultExeName()); } // let a started server finish first

    // The messages logged so far by the only run.
    std::vector<std::string> loggedSoFar() const {
        const auto files = logs();
        return files.size() == 1 ? logMessages(readFile(files.front()))
                                 : std::vector<std::string>{};
    }
    bool waiting() const {
        const auto messages = loggedSoFar();
        return !messages.empty() && messages.back() == "Wait for stop KYR processes...";
    }
};

RunOptions background() {
    RunOptions options;
    options.timeoutMs = 60000;
    return options;
}

} // namespace

TEST(ProcessWait, NothingIsRenamedBeforeTheLastMatchingProcessHasEnded) {
    Install install;
    install.put(L"~kyrCore.dll", "new"); // application group
    install.put(L"~dirsvc.dll", "new");  // server group
    install.put(L"kyrCore.dll", "current");
    StandinProcess application(install.root() / L"procs", L"KYR.exe");
    StandinProcess server(install.root() / L"procs", L"KYRSERVER64.EXE");

    Child updater(install.updater(), {}, background());
    ASSERT_TRUE(waitUntil([&] { return install.waiting(); })) << "the updater did not wait";

    application.end();
    Sleep(500);
    EXPECT_TRUE(updater.running()) << "the updater stopped waiting with a process left";
    EXPECT_EQ(install.content(L"kyrCore.dll"), "current");
    EXPECT_TRUE(install.exists(L"~kyrCore.dll"));
    EXPECT_TRUE(install.waiting());

    server.end();
    const RunResult r = updater.finish();
    EXPECT_EQ(r.exitCode, 0u) << r.out;
    const auto lines = reportedLines(r.out);
    const auto stopped = std::find(lines.begin(), lines.end(), "KYR processes stopped");
    const auto firstRename = std::find_if(lines.begin(), lines.end(), [](const std::string& l) {
        return l.rfind("Rename ", 0) == 0;
    });
    ASSERT_NE(stopped, lines.end()) << r.out;
    EXPECT_LT(stopped, firstRename);
    EXPECT_EQ(install.content(L"kyrCore.dll"), "new");
}

TEST(ProcessWait, OnlyTheGroupsTheStagedFilesNeedAreWaitedFor) {
    struct Case {
        const wchar_t* staged;
        std::vector<const wchar_t*> notWaitedFor;
    };
    const Case cases[] = {
        // A server file: the application processes may go on running.
        {L"~kyrServer64.com", {L"kyr.web.exe", L"KYR.exe", L"kyr.wrapper32.exe"}},
        // An application file, also in ru (whose files need only the application group).
        {L"~kyrCore.dll", {L"kyrServer.exe", L"~kyrServer64.exe"}},
        {L"ru\\~kyrServer.exe", {L"kyrServer64.exe"}},
        // Names that match no pattern are never waited for, whatever is staged.
        {L"~unknown.dll", {L"myKYR.exe", L"KYR.exe.bak", L"kyrServer.com", L"kyr.exe2"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(std::wstring(c.staged)));
        Install install;
        install.put(c.staged, "new");
        std::vector<std::unique_ptr<StandinProcess>> processes;
        for (const wchar_t* name : c.notWaitedFor) {
            processes.push_back(std::make_unique<StandinProcess>(install.root() / L"procs", name));
        }
        const RunResult r = install.run();
        EXPECT_FALSE(r.timedOut);
        EXPECT_EQ(r.exitCode, 0u) << r.out;
        EXPECT_NE(r.out.find("KYR processes stopped"), std::string::npos) << r.out;
        for (auto& process : processes) {
            EXPECT_TRUE(process->running());
        }
    }
}

TEST(ProcessWait, EveryApplicationPatternIsWaitedFor) {
    for (const wchar_t* name : {L"kyr.wrapper32.exe", L"kyr.wrapper.exe", L"kyr.EXE",
                                L"kyr.events.exe", L"KYR.WEB.EXE"}) {
        SCOPED_TRACE(testing::PrintToString(std::wstring(name)));
        Install install;
        install.put(L"ru\\~strings.txt", "new");
        StandinProcess process(install.root() / L"procs", name);
        Child updater(install.updater(), {}, background());
        ASSERT_TRUE(waitUntil([&] { return install.waiting(); }));
        Sleep(200);
        EXPECT_TRUE(updater.running());
        EXPECT_FALSE(install.exists(L"ru\\strings.txt"));
        process.end();
        EXPECT_EQ(updater.finish().exitCode, 0u);
        EXPECT_TRUE(install.exists(L"ru\\strings.txt"));
    }
}

TEST(ProcessWait, NothingStagedMeansNoWaitAndNoWaitLines) {
    Install install;
    StandinProcess process(install.root() / L"procs", L"KYR.exe");
    const RunResult r = install.run();
    EXPECT_EQ(r.exitCode, 0u);
    EXPECT_EQ(r.out, asOutput(startLines(install.appDir(), defaultExeName()) +
                              endLines(install.appDir())));
    EXPECT_TRUE(process.running());
}

TEST(ProcessWait, TheUpdaterNeverWaitsForItself) {
    // An updater whose own file name matches a server pattern would otherwise wait forever.
    Install install;
    install.install(L"kyrUpdater.exe", L"kyrServer9.exe");
    install.put(L"~dirsvc.dll", "new");
    const RunResult r = run(install.appDir() / L"kyrServer9.exe", {}, background());
    EXPECT_FALSE(r.timedOut);
    EXPECT_EQ(r.exitCode, 0u) << r.out;
    EXPECT_EQ(install.content(L"dirsvc.dll"), "new");
}
