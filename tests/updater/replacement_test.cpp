// The whole update on disk: staged files found in the four directories, installed files
// moved aside and replaced, old copies removed or kept, superseded files removed, every step
// reported before it happens.
#include "updater_test_util.h"

#include <gtest/gtest.h>

#include <algorithm>

using namespace kyrtest;

namespace {

using Install = ServerInstall;

// The name a file really has on disk (its letter case).
std::wstring nameOnDisk(const fs::path& path) {
    WIN32_FIND_DATAW data;
    const UniqueFindHandle find(FindFirstFileW(path.c_str(), &data));
    if (!find) {
        return L"";
    }
    return data.cFileName;
}

} // namespace

TEST(Replacement, WithNothingStagedTheServerIsStillStarted) {
    Install install;
    const RunResult r = install.update();
    EXPECT_EQ(r.exitCode, 0u) << r.out;
    const auto lines = install.begin() + endLines(install.appDir());
    EXPECT_EQ(r.out, asOutput(lines));
    EXPECT_EQ(install.onlyLogMessages(), lines);
}

TEST(Replacement, InstalledFileGoesAsideAndTheOldCopyIsRemovedUnlessKept) {
    struct Case {
        const char* name;
        std::vector<std::wstring> arguments;
        const char* oldCopy; // what kyrCore.dll.old holds after the run ("" = absent)
    };
    const Case cases[] = {
        // The earlier old copy goes before the rename, the replaced version's after it.
        {"old copy removed twice", {}, ""},
        // The replaced version stays as the old copy.
        {"--keepOld", {L"--keepOld"}, "current"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Install install;
        install.put(L"~kyrCore.dll", "new");
        install.put(L"kyrCore.dll", "current");
        install.put(L"kyrCore.dll.old", "older");
        const fs::path& a = install.appDir();

        const RunResult r = install.update(c.arguments);

        EXPECT_EQ(r.exitCode, 0u) << r.out;
        std::vector<std::string> steps{
            removeLine(a, L"kyrCore.dll.old"),
            renameLine(a, L"kyrCore.dll", L"kyrCore.dll.old"),
            renameLine(a, L"~kyrCore.dll", L"kyrCore.dll"),
        };
        if (!*c.oldCopy) {
            steps.push_back(removeLine(a, L"kyrCore.dll.old"));
        }
        const auto lines = install.begin() + waitLines() + steps + endLines(a);
        EXPECT_EQ(r.out, asOutput(lines));
        EXPECT_EQ(install.onlyLogMessages(), lines);
        EXPECT_EQ(install.content(L"kyrCore.dll"), "new");
        if (*c.oldCopy) {
            EXPECT_EQ(install.content(L"kyrCore.dll.old"), c.oldCopy);
        } else {
            EXPECT_FALSE(install.exists(L"kyrCore.dll.old"));
        }
        EXPECT_FALSE(install.exists(L"~kyrCore.dll"));
    }
}

TEST(Replacement, StagedFileWithoutInstalledCounterpartBecomesANewFile) {
    Install install;
    install.put(L"ru\\~strings.txt", "new");
    const fs::path& a = install.appDir();

    const RunResult r = install.update();

    EXPECT_EQ(r.exitCode, 0u) << r.out;
    EXPECT_EQ(r.out, asOutput(install.begin() + waitLines() +
                              std::vector<std::string>{
                                  renameLine(a, L"ru\\~strings.txt", L"ru\\strings.txt")} +
                              endLines(a)));
    EXPECT_EQ(install.content(L"ru\\strings.txt"), "new");
    EXPECT_FALSE(install.exists(L"ru\\strings.txt.old"));
}

TEST(Replacement, DirectoriesInOrderAndAllRenamesBeforeAnyOldCopyIsRemoved) {
    Install install;
    // Put in the reverse of the processing order, so that creation order cannot explain it.
    for (const wchar_t* dir : {L"server\\x86\\", L"server\\x64\\", L"ru\\", L""}) {
        install.put(std::wstring(dir) + L"~kyrLib.dll", "new");
        install.put(std::wstring(dir) + L"kyrLib.dll", "current");
    }
    const fs::path& a = install.appDir();

    const RunResult r = install.update();

    EXPECT_EQ(r.exitCode, 0u) << r.out;
    std::vector<std::string> renames, removals;
    for (const wchar_t* dir : {L"", L"ru\\", L"server\\x64\\", L"server\\x86\\"}) {
        const std::wstring d = dir;
        renames.push_back(renameLine(a, d + L"kyrLib.dll", d + L"kyrLib.dll.old"));
        renames.push_back(renameLine(a, d + L"~kyrLib.dll", d + L"kyrLib.dll"));
        removals.push_back(removeLine(a, d + L"kyrLib.dll.old"));
    }
    // The architecture directories now hold kyrLib.dll, so A's copy is superseded.
    removals.push_back(removeLine(a, L"kyrLib.dll"));
    EXPECT_EQ(r.out, asOutput(install.begin() + waitLines() + renames + removals + endLines(a)));
    for (const wchar_t* dir : {L"ru\\", L"server\\x64\\", L"server\\x86\\"}) {
        EXPECT_EQ(install.content(std::wstring(dir) + L"kyrLib.dll"), "new") << dir;
    }
    EXPECT_FALSE(install.exists(L"kyrLib.dll"));
}

TEST(Replacement, InstalledFileTakesTheStagedFilesLetterCase) {
    Install install;
    install.put(L"~KYRCORE.DLL", "new");
    install.put(L"kyrCore.dll", "current");

    const RunResult r = install.update();

    EXPECT_EQ(r.exitCode, 0u) << r.out;
    EXPECT_EQ(nameOnDisk(install.appDir() / L"kyrCore.dll"), L"KYRCORE.DLL");
    EXPECT_EQ(install.content(L"KYRCORE.DLL"), "new");
    EXPECT_FALSE(install.exists(L"kyrCore.dll.old"));
}

TEST(Replacement, StagedDirectoryIsNoStagedFile) {
    Install install;
    install.put(L"~folder\\inside.txt", "x");
    const RunResult r = install.update();
    EXPECT_EQ(r.exitCode, 0u) << r.out;
    EXPECT_EQ(r.out, asOutput(install.begin() + endLines(install.appDir())));
    EXPECT_TRUE(install.exists(L"~folder\\inside.txt"));
    EXPECT_FALSE(install.exists(L"folder"));
}

TEST(Replacement, SupersededFilesLeaveTheApplicationDirectoryButTheUpdaterStays) {
    Install install;
    install.put(L"server\\x86\\kyrCore.dll", "x86");
    install.put(L"server\\x86\\KYRUPDATER.EXE", "x86 updater");
    install.put(L"server\\x64\\kyrShare.dll", "x64");
    install.put(L"server\\x64\\only-here.dll", "x64");
    install.put(L"kyrCore.dll", "app");
    install.put(L"kyrShare.dll", "app");
    install.put(L"kyrMain.dll", "app");
    const fs::path& a = install.appDir();

    const RunResult r = install.update();

    EXPECT_EQ(r.exitCode, 0u) << r.out;
    EXPECT_EQ(r.out, asOutput(install.begin() +
                              std::vector<std::string>{removeLine(a, L"kyrCore.dll"),
                                                       removeLine(a, L"kyrShare.dll")} +
                              endLines(a)));
    EXPECT_TRUE(install.exists(L"kyrUpdater.exe"));
    EXPECT_TRUE(install.exists(L"kyrMain.dll"));
    EXPECT_EQ(install.content(L"server\\x86\\kyrCore.dll"), "x86");
    EXPECT_EQ(install.content(L"server\\x64\\kyrShare.dll"), "x64");
}

TEST(Replacement, CheckOnlyRunAnswersByItsExitCodeAndChangesNothing) {
    struct Case {
        const wchar_t* staged;
        DWORD exitCode;
    };
    for (const Case& c : {Case{L"~kyrCore.dll", 1}, Case{L"ru\\~anything.txt", 1},
                          Case{L"server\\x86\\~kyrServer.exe", 1}, Case{L"~dir\\x", 0}}) {
        Install install;
        install.put(c.staged, "new");
        install.put(L"kyrCore.dll", "current");
        const RunResult r = install.run({L"--check-updates"});
        EXPECT_EQ(r.exitCode, c.exitCode) << testing::PrintToString(std::wstring(c.staged));
        EXPECT_EQ(r.out, asOutput(install.begin()));
        EXPECT_EQ(install.onlyLogMessages(), install.begin());
        EXPECT_EQ(install.content(c.staged), "new");
        EXPECT_EQ(install.content(L"kyrCore.dll"), "current");
        // The updater has ended; a server it had started would have written by now.
        EXPECT_EQ(install.serverRecord(defaultExeName(), 500), "") << "the server was started";
    }
}

TEST(Replacement, AStagedUpdaterReplacesTheRunningOneAndKeepsItUntilTheNextUpdate) {
    Install install;
    install.install(L"kyrUpdater.exe", L"~kyrUpdater.exe");
    const fs::path& a = install.appDir();

    const RunResult r = install.update();

    // The running program cannot be removed: its old copy stays, and the run completes.
    EXPECT_EQ(r.exitCode, 0u) << r.out;
    EXPECT_EQ(r.out, asOutput(install.begin() + waitLines() +
                              std::vector<std::string>{
                                  renameLine(a, L"kyrUpdater.exe", L"kyrUpdater.exe.old"),
                                  renameLine(a, L"~kyrUpdater.exe", L"kyrUpdater.exe"),
                              } +
                              endLines(a)));
    EXPECT_TRUE(install.exists(L"kyrUpdater.exe"));
    EXPECT_TRUE(install.exists(L"kyrUpdater.exe.old"));
    EXPECT_FALSE(install.exists(L"~kyrUpdater.exe"));

    // The next update, run by the new updater, moves the next version aside to that name.
    install.install(L"kyrUpdater.exe", L"~kyrUpdater.exe");
    const RunResult next = install.update();
    EXPECT_EQ(next.exitCode, 0u) << next.out;
    const auto lines = reportedLines(next.out);
    EXPECT_NE(std::find(lines.begin(), lines.end(), removeLine(a, L"kyrUpdater.exe.old")),
              lines.end())
        << next.out;
}

TEST(Replacement, AStagedUpdaterStartedThroughItsShortNameKeepsItsRunningImage) {
    Install install;
    install.install(L"kyrUpdater.exe", L"~kyrUpdater.exe");
    const fs::path& a = install.appDir();
    wchar_t buffer[MAX_PATH] = {};
    const DWORD length = GetShortPathNameW(install.updater().c_str(), buffer, MAX_PATH);
    ASSERT_GT(length, 0u);
    ASSERT_LT(length, static_cast<DWORD>(MAX_PATH));
    const fs::path shortPath = buffer;
    if (shortPath.filename() == install.updater().filename()) {
        GTEST_SKIP() << "the volume gives kyrUpdater.exe no short name";
    }

    // The updater is told nothing of its long name: it recognises its image by identity.
    // (Windows keeps the short name as the program's module name; Wine's CreateProcessW
    // gives the long one, so there the old name test held too.)
    const RunResult r = run(shortPath, {L"--appDir", a.wstring()});

    EXPECT_EQ(r.exitCode, 0u) << r.out;
    install.serverRecord(defaultExeName());
    const auto lines = reportedLines(r.out);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back(), "Update complete");
    EXPECT_EQ(std::count(lines.begin(), lines.end(), removeLine(a, L"kyrUpdater.exe.old")), 0)
        << r.out;
    EXPECT_TRUE(install.exists(L"kyrUpdater.exe"));
    EXPECT_TRUE(install.exists(L"kyrUpdater.exe.old"));
    EXPECT_FALSE(install.exists(L"~kyrUpdater.exe"));
}
