// Crash consistency of the update: kyrUpdater.exe is killed right after the k-th line it
// reports, for k spread over every phase of the replacement, and the installation must still
// hold every version of every file that no reported step may remove by design. A second,
// undisturbed run must then finish the update.
#include "piped_child.h"
#include "staged_installation.h"

#include <gtest/gtest.h>

#include <tlhelp32.h>

#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <map>

using namespace kyrtest;

namespace {

// Where in its run the updater is once it has reported `count` lines, from the report of a
// complete run of the same installation (every run of it reports as many lines per phase).
class Phases {
public:
    Phases(const std::vector<std::string>& lines, bool keepOld) : total_(lines.size()) {
        // Counts are 1-based: the n-th line reported.
        std::vector<std::string> movedTo;
        for (std::size_t n = 1; n <= lines.size(); ++n) {
            const std::string& line = lines[n - 1];
            if (line == "KYR processes stopped") {
                stopped_ = n;
            } else if (line.rfind("Rename ", 0) == 0) {
                lastRename_ = n;
                movedTo.push_back(line.substr(line.find(" to ") + 4));
            } else if (line.rfind("Run ", 0) == 0) {
                run_ = n;
            }
        }
        // After the renames: first the removals of the old copies just made (none with
        // --keepOld), then the cleanup's.
        for (std::size_t n = lastRename_ + 1; n < run_; ++n) {
            const std::string& line = lines[n - 1];
            const bool oldCopy =
                !keepOld && lastCleanup_ == 0 &&
                std::find(movedTo.begin(), movedTo.end(), line.substr(7)) != movedTo.end();
            (oldCopy ? lastOldCopy_ : lastCleanup_) = n;
        }
        if (lastOldCopy_ == 0) {
            lastOldCopy_ = lastRename_;
        }
        if (lastCleanup_ == 0) {
            lastCleanup_ = lastOldCopy_;
        }
    }

    bool complete() const { return stopped_ == 5 && lastRename_ > stopped_ && run_ > lastCleanup_; }
    std::size_t total() const { return total_; }

    // The phase the run is in after it has reported `count` lines.
    const char* after(std::size_t count) const {
        if (count <= 3) {
            return "guard and scan";
        }
        if (count < stopped_) {
            return "process wait";
        }
        if (count == stopped_) {
            return "probe";
        }
        if (count < lastRename_) {
            return "renames";
        }
        if (count == lastRename_) {
            return "leftovers";
        }
        if (count <= lastOldCopy_) {
            return "old copies";
        }
        if (count <= lastCleanup_) {
            return "cleanup";
        }
        return count < total_ ? "restart" : "complete";
    }
    static std::vector<const char*> names() {
        return {"guard and scan", "process wait", "probe",   "renames", "leftovers",
                "old copies",     "cleanup",      "restart", "complete"};
    }

    // Kill points: every count near a phase boundary, and the rest spread evenly.
    std::vector<std::size_t> killPoints(std::size_t wanted) const {
        std::set<std::size_t> points;
        for (std::size_t boundary :
             {std::size_t{3}, stopped_, lastRename_, lastOldCopy_, lastCleanup_, run_}) {
            for (std::size_t k = boundary - 1; k <= boundary + 2; ++k) {
                if (k >= 3 && k <= total_) {
                    points.insert(k);
                }
            }
        }
        if (wanted < points.size()) {
            // Fewer wanted (KYR_KILL_POINTS): those points, thinned evenly.
            const std::vector<std::size_t> nearBoundaries(points.begin(), points.end());
            const std::size_t count = std::max<std::size_t>(wanted, 1);
            std::vector<std::size_t> some;
            for (std::size_t i = 0; i < count; ++i) {
                some.push_back(nearBoundaries[i * nearBoundaries.size() / count]);
            }
            return some;
        }
        const std::size_t spread = wanted > points.size() ? wanted - points.size() : 1;
        for (std::size_t i = 0; i < spread; ++i) {
            points.insert(3 + (total_ - 3) * i / spread);
        }
        return {points.begin(), points.end()};
    }

private:
    std::size_t total_;
    std::size_t stopped_ = 0, lastRename_ = 0, lastOldCopy_ = 0, lastCleanup_ = 0, run_ = 0;
};

// The processes of the stand-in server now running.
std::vector<DWORD> runningServers() {
    const std::wstring server = defaultExeName();
    std::vector<DWORD> ids;
    const UniqueFileHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32FirstW(snapshot.get(), &entry); more;
         more = Process32NextW(snapshot.get(), &entry)) {
        if (_wcsicmp(entry.szExeFile, server.c_str()) == 0) {
            ids.push_back(entry.th32ProcessID);
        }
    }
    return ids;
}

// Whether the process runs a program from below the folder (its image path, letter case
// aside). False when the path cannot be read.
bool runsFrom(HANDLE process, const fs::path& folder) {
    std::wstring image(32768, L'\0');
    DWORD size = static_cast<DWORD>(image.size());
    if (!QueryFullProcessImageNameW(process, 0, image.data(), &size)) {
        return false;
    }
    image.resize(size);
    const std::wstring prefix = folder.wstring() + L"\\";
    return image.size() > prefix.size() &&
           _wcsnicmp(image.c_str(), prefix.c_str(), prefix.size()) == 0;
}

// Waits until no stand-in server started by a run is left, so that its folder can go and the
// next run has none to wait for. The stand-in ends as soon as it has written its record; one
// of this installation still there after 10 s (times KYR_TIME_SCALE) never got going (Wine
// now and then leaves a process hanging in its start when the updater that was starting it
// is killed) and is ended here, else every later run would wait for it. A server of the same
// name elsewhere on the machine is never touched. Returns how many had to be ended.
int waitForServersToEnd(const fs::path& appDir) {
    const DWORD attempts = 500 * timeScale();
    for (DWORD attempt = 0; attempt < attempts; ++attempt) {
        if (runningServers().empty()) {
            return 0;
        }
        Sleep(20);
    }
    int ended = 0;
    for (DWORD id : runningServers()) {
        const UniqueHandle process(OpenProcess(
            PROCESS_TERMINATE | SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, id));
        if (process && runsFrom(process.get(), appDir) && TerminateProcess(process.get(), 99)) {
            WaitForSingleObject(process.get(), scaledMs(10000));
            ++ended;
        }
    }
    return ended;
}

// Whether the file step that a reported line announces has happened: the source of a
// rename or the file to be removed is gone. Other lines announce no file step.
enum class Step { None, Done, NotDone };
Step stepOf(const std::string& line) {
    std::string path;
    if (line.rfind("Rename ", 0) == 0) {
        path = line.substr(7, line.find(" to ") - 7);
    } else if (line.rfind("Remove ", 0) == 0) {
        path = line.substr(7);
    } else {
        return Step::None;
    }
    return GetFileAttributesW(fromUtf8(path).c_str()) == INVALID_FILE_ATTRIBUTES ? Step::Done
                                                                                 : Step::NotDone;
}

// Old copies holding a replaced version after a complete run (without --keepOld only an
// interrupted run before it can have left them).
int replacedVersionsKept(const fs::path& appDir) {
    int count = 0;
    for (const auto& entry : fs::recursive_directory_iterator(appDir)) {
        if (entry.is_regular_file() && entry.path().extension() == L".old" &&
            readFile(entry.path()).rfind("installed version of ", 0) == 0) {
            ++count;
        }
    }
    return count;
}

struct Outcome {
    std::size_t killedAfter = 0;
    std::size_t reported = 0; // lines the run had reported when it was gone
    Step lastStep = Step::None;
    int oldCopiesKept = 0; // by the next run
    std::vector<std::string> problems;
};

// KYR_KILL_POINTS, when set, caps the kill points a test wants (below the number of points
// next to a phase boundary, those are thinned evenly): for a machine where each run takes
// many seconds, as under a full-system emulator. The run that sets it says so.
std::size_t killPointsWanted(std::size_t points) {
    wchar_t text[16] = {};
    const DWORD length = GetEnvironmentVariableW(L"KYR_KILL_POINTS", text, 16);
    if (length == 0 || length >= 16) {
        return points;
    }
    return std::min<std::size_t>(points, std::wcstoul(text, nullptr, 10));
}

void killAtEveryPhase(bool keepOld, std::size_t wantedPoints) {
    const auto entries = mixedEntries(60, 12);
    const ULONGLONG started = GetTickCount64();
    int hungServers = 0; // stand-in servers that never got going, ended by the test
    PipedOptions options;
    options.pipeBufferBytes = 1; // the updater waits for the reader at every line

    // A complete run gives the lines of every phase.
    std::vector<std::string> report;
    std::size_t staged = 0, files = 0;
    {
        StagedInstallation install(entries, keepOld);
        staged = install.stagedCount();
        files = install.fileCount();
        PipedChild updater(install.updater(), install.updaterArguments(), options);
        report = updater.remainingLines();
        ASSERT_EQ(updater.exitCode(), 0u) << (report.empty() ? "" : report.back());
        hungServers += waitForServersToEnd(install.appDir());
        const auto problems = install.checkCompleted({});
        ASSERT_TRUE(problems.empty()) << problems.size() << " problems after a complete run, "
                                      << "the first: " << problems.front();
    }
    const Phases phases(report, keepOld);
    ASSERT_TRUE(phases.complete()) << asOutput(report);

    std::vector<Outcome> outcomes;
    std::size_t furthestAhead = 0;
    for (std::size_t k : phases.killPoints(killPointsWanted(wantedPoints))) {
        Outcome outcome;
        outcome.killedAfter = k;
        StagedInstallation install(entries, keepOld);
        std::vector<std::string> reported;
        {
            PipedChild updater(install.updater(), install.updaterArguments(), options);
            std::string line;
            while (reported.size() < k && updater.nextLine(line)) {
                reported.push_back(line);
            }
            // Killed at once, the run is mostly caught between the report of a step and the
            // step; after a pause, at its next report (the one-byte pipe holds it there), with
            // the step done. Every other kill point pauses.
            if (outcomes.size() % 2 == 1) {
                Sleep(50);
            }
            updater.terminate();
            const auto rest = updater.remainingLines();
            reported.insert(reported.end(), rest.begin(), rest.end());
        }
        hungServers += waitForServersToEnd(install.appDir());
        outcome.reported = reported.size();
        furthestAhead = std::max(furthestAhead, reported.size() - std::min(reported.size(), k));
        outcome.lastStep = reported.empty() ? Step::None : stepOf(reported.back());
        outcome.problems = install.checkInterrupted(reported);

        const RunResult second = install.run(install.updaterArguments());
        hungServers += waitForServersToEnd(install.appDir());
        const auto lines = reportedLines(second.out);
        if (second.exitCode != 0 || lines.empty() || lines.back() != "Update complete") {
            outcome.problems.push_back("the next run ended with " +
                                       std::to_string(second.exitCode) + ": " + second.out);
        }
        outcome.oldCopiesKept = replacedVersionsKept(install.appDir());
        for (const auto& problem : install.checkCompleted(reported)) {
            outcome.problems.push_back("after the next run: " + problem);
        }
        outcomes.push_back(std::move(outcome));
    }

    std::map<std::string, int> killed, failed;
    int stepsDone = 0, stepsPending = 0, leavingOldCopies = 0;
    for (const Outcome& o : outcomes) {
        leavingOldCopies += o.oldCopiesKept > 0 ? 1 : 0;
        stepsDone += o.lastStep == Step::Done ? 1 : 0;
        stepsPending += o.lastStep == Step::NotDone ? 1 : 0;
        const std::string phase = phases.after(o.reported);
        ++killed[phase];
        if (!o.problems.empty()) {
            ++failed[phase];
            std::string text;
            for (std::size_t i = 0; i < o.problems.size() && i < 8; ++i) {
                text += "\n  " + o.problems[i];
            }
            ADD_FAILURE() << "killed after line " << o.killedAfter << " of " << phases.total()
                          << ", when it had reported " << o.reported << " (" << phase
                          << "): " << o.problems.size() << " problems:" << text;
        }
    }
    std::printf("%s: %zu staged files, %zu file versions, %zu lines in a complete run; "
                "%zu kill points in %.1f s, the updater at most %zu lines ahead of the kill\n",
                keepOld ? "--keepOld" : "without --keepOld", staged, files, phases.total(),
                outcomes.size(), (GetTickCount64() - started) / 1000.0, furthestAhead);
    std::printf("  the file step of the last reported line: done %d times, not yet done %d times\n",
                stepsDone, stepsPending);
    if (!keepOld) {
        std::printf("  after %d of the kills the next run kept old copies that the killed run had "
                    "made\n",
                    leavingOldCopies);
    }
    if (hungServers > 0) {
        std::printf("  %d stand-in servers hung in their start and were ended\n", hungServers);
    }
    for (const char* phase : Phases::names()) {
        if (killed.count(phase)) {
            std::printf("  ended in %-15s %3d times, %d with problems\n", phase, killed[phase],
                        failed[phase]);
        }
    }
    std::fflush(stdout);
}

} // namespace

TEST(CrashConsistency, NoVersionIsLostWhereverTheRunIsKilled) {
    killAtEveryPhase(false, 44);
}

TEST(CrashConsistency, NoVersionIsLostWhereverARunWithKeepOldIsKilled) {
    killAtEveryPhase(true, 18);
}

// The checks above, against steps made by hand: they accept what the updater may do and
// catch what it may not.
TEST(CrashConsistency, TheChecksTellLegitimateRemovalsFromLostVersions) {
    const std::vector<StagedEntry> entries = {{L"ru", L"a.txt", true, true, true},
                                              {L"", L"b.dll", true, false, false}};
    struct Step {
        const wchar_t* remove; // or empty
        const wchar_t* from;   // rename from .. to, or empty
        const wchar_t* to;
    };
    struct Case {
        const char* what;
        bool keepOld;
        bool reportRemovals;
        std::vector<Step> steps;
        bool problems;
    };
    const std::vector<Step> replaceA = {{L"ru\\a.txt.old", nullptr, nullptr},
                                        {nullptr, L"ru\\a.txt", L"ru\\a.txt.old"},
                                        {nullptr, L"ru\\~a.txt", L"ru\\a.txt"},
                                        {L"ru\\a.txt.old", nullptr, nullptr}};
    const Case cases[] = {
        {"nothing done", false, true, {}, false},
        {"a whole replacement", false, true, replaceA, false},
        {"a whole replacement, but --keepOld", true, true, replaceA, true},
        {"an old copy removed without its report", false, false, {replaceA[0]}, true},
        {"a file that is not superseded removed",
         false,
         true,
         {{L"b.dll", nullptr, nullptr}},
         true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        StagedInstallation install(entries, c.keepOld);
        const fs::path& a = install.appDir();
        std::vector<std::string> reported;
        for (const Step& step : c.steps) {
            if (step.remove) {
                if (c.reportRemovals) {
                    reported.push_back(removeLine(a, step.remove));
                }
                ASSERT_TRUE(fs::remove(a / step.remove));
            } else {
                reported.push_back(renameLine(a, step.from, step.to));
                fs::rename(a / step.from, a / step.to);
            }
        }
        EXPECT_EQ(!install.checkInterrupted(reported).empty(), c.problems);
    }

    // A stray file and a version in two places.
    StagedInstallation install(entries, false);
    EXPECT_TRUE(install.checkInterrupted({}).empty());
    install.put(L"server\\x86\\c.dll", "something else");
    EXPECT_EQ(install.checkInterrupted({}).size(), 1u);
    fs::remove(install.appDir() / L"server\\x86\\c.dll");
    fs::copy_file(install.appDir() / L"b.dll", install.appDir() / L"ru\\b.dll");
    EXPECT_EQ(install.checkInterrupted({}).size(), 2u); // in two places, one of them wrong
    fs::remove(install.appDir() / L"ru\\b.dll");

    // After a complete run: the new version in place, and no old copy left unless the run
    // before it had moved that version aside.
    for (const Step& step : replaceA) {
        if (step.remove) {
            fs::remove(install.appDir() / step.remove);
        } else {
            fs::rename(install.appDir() / step.from, install.appDir() / step.to);
        }
    }
    EXPECT_TRUE(install.checkCompleted({}).empty());
    install.put(L"ru\\a.txt.old", "installed version of ru\\a.txt\n");
    EXPECT_EQ(install.checkCompleted({}).size(), 1u);
    EXPECT_TRUE(
        install.checkCompleted({renameLine(install.appDir(), L"ru\\a.txt", L"ru\\a.txt.old")})
            .empty());
}

// A hung stand-in is ended only when it runs from the installation under test.
TEST(CrashConsistency, OnlyProgramsFromTheInstallationCountAsItsOwn) {
    const HANDLE self = GetCurrentProcess();
    EXPECT_TRUE(runsFrom(self, binDir()));
    EXPECT_TRUE(runsFrom(self, binDir().parent_path()));
    TempDir elsewhere(L"kyrsrv");
    EXPECT_FALSE(runsFrom(self, elsewhere.path()));
    // A folder whose name only begins like the program's own folder.
    EXPECT_FALSE(runsFrom(self, binDir().wstring().substr(0, binDir().wstring().size() - 1)));
}
