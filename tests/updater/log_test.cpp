// The update log that the built kyrUpdater.exe writes: where, under which name, in which
// layout, and that a run never empties another run's log.
#include "updater_test_util.h"

#include <gtest/gtest.h>

#include <shlobj.h>

#include <ctime>
#include <functional>
#include <regex>
#include <set>

using namespace kyrtest;

namespace {

std::wstring twoDigits(int n) {
    return (n < 10 ? L"0" : L"") + std::to_wstring(n);
}

// The log file path below a base folder for a local time.
fs::path logPathAt(const fs::path& base, std::time_t t) {
    const std::tm tm = *std::localtime(&t);
    return base / L"kyrUpdater" / std::to_wstring(tm.tm_year + 1900) /
           std::to_wstring(tm.tm_mon + 1) /
           (twoDigits(tm.tm_mday) + L"." + twoDigits(tm.tm_hour) + L"_" + twoDigits(tm.tm_min) +
            L"_" + twoDigits(tm.tm_sec) + L".log");
}

const std::regex kLineLayout(R"(\d\d\.\d\d\.\d{4} \d\d:\d\d:\d\d\.\d{3}\|[^\r]*)");

} // namespace

TEST(UpdateLog, LinesAreTimestampedUtf8WithLineFeedsBesideTheExecutable) {
    UpdaterInstall install;
    const std::time_t before = std::time(nullptr);
    const RunResult r = install.run({L"--check-updates"});
    const std::time_t after = std::time(nullptr);
    ASSERT_EQ(r.exitCode, 0u);

    const auto files = install.logs();
    ASSERT_EQ(files.size(), 1u);
    std::set<fs::path> expected;
    for (std::time_t t = before; t <= after; ++t) {
        expected.insert(logPathAt(install.logsDir(), t));
    }
    EXPECT_EQ(expected.count(files[0]), 1u) << toUtf8(files[0].wstring());

    const std::string content = readFile(files[0]);
    ASSERT_FALSE(content.empty());
    EXPECT_NE(content.substr(0, 3), "\xEF\xBB\xBF") << "no byte-order mark";
    EXPECT_EQ(content.back(), '\n');
    EXPECT_EQ(content.find('\r'), std::string::npos);
    for (const auto& line : logLines(content)) {
        EXPECT_TRUE(std::regex_match(line, kLineLayout)) << line;
    }
    // The day of the time stamp agrees with the file name.
    const std::wstring name = files[0].filename().wstring();
    EXPECT_EQ(content.substr(0, 2), toUtf8(name.substr(0, 2)));
}

TEST(UpdateLog, WithoutALogsFolderTheLogGoesToTheCommonApplicationData) {
    UpdaterInstall install;
    fs::remove_all(install.logsDir());
    wchar_t folder[MAX_PATH] = {};
    ASSERT_EQ(SHGetFolderPathW(nullptr, CSIDL_COMMON_APPDATA, nullptr, SHGFP_TYPE_CURRENT, folder),
              S_OK);
    const fs::path base = fs::path(folder) / L"KYR" / L"logs";
    // Wine enforces no access lists; on Windows the folder may have been made by an
    // administrator's run, and then an ordinary account may not write there. A folder made
    // and removed at once in the deepest one that exists tells.
    fs::path writable = base;
    while (!pathExists(writable) && writable.parent_path() != writable) {
        writable = writable.parent_path();
    }
    const fs::path probe = writable / (L"kyr-probe-" + std::to_wstring(GetCurrentProcessId()));
    if (!CreateDirectoryW(probe.c_str(), nullptr)) {
        const DWORD error = GetLastError();
        GTEST_SKIP() << "this account may not write in " << toUtf8(writable.wstring())
                     << " (code " << error << "); run the tests as an administrator";
    }
    RemoveDirectoryW(probe.c_str());
    const auto beforeFiles = logFiles(base);
    const std::set<fs::path> existing(beforeFiles.begin(), beforeFiles.end());

    const RunResult r = install.run({L"--check-updates"});
    ASSERT_EQ(r.exitCode, 0u);
    std::vector<fs::path> created;
    for (const auto& file : logFiles(base)) {
        if (!existing.count(file)) {
            created.push_back(file);
        }
    }
    // Other test programs may write there at the same time: find this run's log by content.
    fs::path mine;
    for (const auto& file : created) {
        if (logMessages(readFile(file)) == startLines(install.appDir(), defaultExeName())) {
            mine = file;
        }
    }
    ASSERT_FALSE(mine.empty()) << "no new log below " << toUtf8(base.wstring());
    EXPECT_FALSE(fs::exists(install.logsDir()));
    fs::remove(mine);
}

TEST(UpdateLog, ARunInTheSameSecondNeverEmptiesAnEarlierLog) {
    UpdaterInstall install;
    // Logs of earlier runs under every name this run could take in the next seconds.
    const std::time_t now = std::time(nullptr);
    std::vector<fs::path> earlier;
    for (std::time_t t = now - 1; t <= now + 20; ++t) {
        const fs::path path = logPathAt(install.logsDir(), t);
        fs::create_directories(path.parent_path());
        writeFile(path, "earlier run\n");
        earlier.push_back(path);
    }
    const RunResult r = install.run({L"--check-updates"});
    ASSERT_EQ(r.exitCode, 0u);
    ASSERT_LT(std::time(nullptr), now + 20) << "the run took too long for this test";
    for (const auto& path : earlier) {
        EXPECT_EQ(readFile(path), "earlier run\n") << toUtf8(path.wstring());
    }
    // This run's log took the next free name beside the one it found taken.
    std::vector<fs::path> mine;
    for (const auto& file : install.logs()) {
        if (std::find(earlier.begin(), earlier.end(), file) == earlier.end()) {
            mine.push_back(file);
        }
    }
    ASSERT_EQ(mine.size(), 1u);
    const std::wstring name = mine[0].filename().wstring();
    EXPECT_TRUE(std::regex_match(name, std::wregex(LR"(\d\d\.\d\d_\d\d_\d\d-2\.log)")))
        << toUtf8(name);
    EXPECT_EQ(logMessages(readFile(mine[0])), startLines(install.appDir(), defaultExeName()));
}

TEST(UpdateLog, TwoRunsInARowLeaveTwoCompleteLogs) {
    UpdaterInstall install;
    ASSERT_EQ(install.run({L"--check-updates"}).exitCode, 0u);
    ASSERT_EQ(install.run({L"--check-updates", L"--exeName", L"second"}).exitCode, 0u);
    const auto files = install.logs();
    ASSERT_EQ(files.size(), 2u);
    std::multiset<std::vector<std::string>> logs;
    for (const auto& file : files) {
        logs.insert(logMessages(readFile(file)));
    }
    EXPECT_EQ(logs.count(startLines(install.appDir(), defaultExeName())), 1u);
    EXPECT_EQ(logs.count(startLines(install.appDir(), L"second.exe")), 1u);
}

TEST(UpdateLog, ALongLineIsWrittenWhole) {
    UpdaterInstall install;
    // Over 4096 bytes of UTF-8: Cyrillic letters take two bytes each.
    const std::wstring name(3000, L'\x0416');
    const RunResult r = install.run({L"--check-updates", L"--exeName", name});
    ASSERT_EQ(r.exitCode, 0u);
    const auto messages = install.onlyLogMessages();
    ASSERT_EQ(messages.size(), 3u);
    EXPECT_EQ(messages[2], "Executable name: " + toUtf8(name + L".exe"));
}

namespace {

// The machine's log folder, C:\ProgramData\KYR\logs.
fs::path machineLogBase() {
    wchar_t folder[MAX_PATH] = {};
    EXPECT_EQ(
        SHGetFolderPathW(nullptr, CSIDL_COMMON_APPDATA, nullptr, SHGFP_TYPE_CURRENT, folder),
        S_OK);
    return fs::path(folder) / L"KYR" / L"logs";
}

// Something planted where a folder of the machine's log belongs, as any user could plant it
// (a directory link, a folder of their own); what was there before is put aside and brought
// back afterwards.
class Planted {
public:
    // plant makes the thing at the path and says whether it could; remove takes it away.
    Planted(const fs::path& where, const std::function<bool(const fs::path&)>& plant,
            std::function<void(const fs::path&)> remove)
        : where_(where), aside_(where.wstring() + L".aside-" + std::to_wstring(GetCurrentProcessId())),
          remove_(std::move(remove)) {
        // An account that may not change the machine's log folder (its access list is
        // enforced on Windows) plants nothing, and the test says so.
        std::error_code error;
        fs::create_directories(where.parent_path(), error);
        if (error) {
            return;
        }
        if (fs::exists(where_, error)) {
            fs::rename(where_, aside_, error);
            if (error) {
                return;
            }
            moved_ = true;
        }
        planted_ = plant(where_);
    }
    ~Planted() {
        if (planted_) {
            remove_(where_);
        }
        if (moved_) {
            std::error_code ignored;
            fs::rename(aside_, where_, ignored);
        }
    }
    Planted(const Planted&) = delete;
    Planted& operator=(const Planted&) = delete;
    bool planted() const { return planted_; }

private:
    fs::path where_;
    fs::path aside_;
    std::function<void(const fs::path&)> remove_;
    bool moved_ = false;
    bool planted_ = false;
};

// A directory link to target.
Planted plantedLink(const fs::path& where, const fs::path& target) {
    return {where, [&target](const fs::path& at) { return linkDirectory(at, target); },
            removeLink};
}

// A folder that another account made.
Planted plantedForeignFolder(const fs::path& where) {
    return {where,
            [](const fs::path& at) {
                if (!CreateDirectoryW(at.c_str(), nullptr)) {
                    return false;
                }
                if (!giveToAnotherAccount(at)) {
                    RemoveDirectoryW(at.c_str());
                    return false;
                }
                return true;
            },
            [](const fs::path& at) { removeTree(at); }};
}

// The levels below KYR\logs that a run now would use.
std::vector<fs::path> machineLogLevels() {
    const fs::path base = machineLogBase();
    const std::time_t now = std::time(nullptr);
    const std::tm local = *std::localtime(&now);
    const fs::path year = base / L"kyrUpdater" / std::to_wstring(local.tm_year + 1900);
    return {base / L"kyrUpdater", year, year / std::to_wstring(local.tm_mon + 1)};
}

} // namespace

TEST(UpdateLog, ALinkPlantedInTheMachineLogFolderIsRefused) {
    const std::vector<fs::path> all = machineLogLevels();
    for (const fs::path& level : {all[0], all[1]}) {
        SCOPED_TRACE(toUtf8(level.wstring()));
        UpdaterInstall install;
        fs::remove_all(install.logsDir());
        install.put(L"~kyrCore.dll", "new");
        const fs::path elsewhere = install.root() / L"elsewhere";
        fs::create_directories(elsewhere);
        const Planted link = plantedLink(level, elsewhere);
        if (!link.planted()) {
            GTEST_SKIP() << "no directory link can be planted in " << toUtf8(level.wstring())
                         << " here (no junctions or links, or this account may not change it)";
        }

        const RunResult r = install.run();

        // As a log folder that cannot be made: exit 1, one line naming the link, nothing
        // written through it, nothing of the installation touched.
        EXPECT_EQ(r.exitCode, 1u);
        EXPECT_EQ(r.out, asOutput({toUtf8(failureText(level.wstring(), 4395))}));
        EXPECT_TRUE(fs::is_empty(elsewhere));
        EXPECT_EQ(install.content(L"~kyrCore.dll"), "new");
    }
}

TEST(UpdateLog, AFolderOfAnotherAccountInTheMachineLogFolderIsRefused) {
    for (const fs::path& level : machineLogLevels()) {
        SCOPED_TRACE(toUtf8(level.wstring()));
        UpdaterInstall install;
        fs::remove_all(install.logsDir());
        install.put(L"~kyrCore.dll", "new");
        const Planted folder = plantedForeignFolder(level);
        if (!folder.planted()) {
            GTEST_SKIP() << "no folder of another account can be planted in "
                         << toUtf8(level.wstring())
                         << " here (that needs an elevated administrator on Windows, root under "
                            "Wine)";
        }

        const RunResult r = install.run();

        // As a log folder that cannot be made: exit 1, one line naming that folder, no log
        // in it, nothing of the installation touched.
        EXPECT_EQ(r.exitCode, 1u);
        EXPECT_EQ(r.out, asOutput({toUtf8(failureText(level.wstring(), ERROR_INVALID_OWNER))}));
        EXPECT_TRUE(fs::is_empty(level));
        EXPECT_EQ(install.content(L"~kyrCore.dll"), "new");
    }
}

TEST(UpdateLog, TheOperatorsLogsFolderMayBeALink) {
    UpdaterInstall install;
    fs::remove_all(install.logsDir());
    const fs::path elsewhere = install.root() / L"elsewhere";
    fs::create_directories(elsewhere);
    if (!linkDirectory(install.logsDir(), elsewhere)) {
        GTEST_SKIP() << "no directory link can be made here";
    }
    const RunResult r = install.run({L"--check-updates"});
    EXPECT_EQ(r.exitCode, 0u) << r.out;
    const auto files = logFiles(elsewhere);
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(logMessages(readFile(files[0])), startLines(install.appDir(), defaultExeName()));
    removeLink(install.logsDir());
}
