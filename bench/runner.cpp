// Runs the benchmarks of kyrUpdater and kyrServer.com from the built programs beside it and
// prints a table of the medians; with --csv also writes them as CSV (options.h).
// --work puts the installations into FOLDER instead of the temporary folder; --disk N then
// also measures N files in the temporary folder.
// Without --repetitions sizes up to 100 are measured 5 times, up to 1000 3 times, larger
// ones twice (a run of 10000 files takes about a minute under Wine).
// Each measurement builds a fresh installation in the temporary folder (not timed), runs
// the program in it with its standard output on a pipe, and stamps every line when it
// arrives. Times are the bench's own QueryPerformanceCounter clock.
// The programs measured are those built with the bench: its own build (i686 or x86-64).
#include "files.h"
#include "installation.h"
#include "launcher_measures.h"
#include "options.h"
#include "report.h"
#include "updater_measures.h"

#include <windows.h>

#include <cstdio>
#include <exception>
#include <string>

namespace bench {
namespace {

std::wstring workRootIn(const std::wstring& folder) {
    std::wstring parent = folder;
    if (!parent.empty() && parent.back() == L'\\') {
        parent.pop_back();
    }
    return parent + L"\\kyrBench-" + std::to_wstring(GetCurrentProcessId());
}

// A fresh, empty installations' folder for the workspace.
void useRoot(Workspace& workspace, const std::wstring& root) {
    workspace.root = root;
    kyrtest::removeTree(workspace.root);
    kyrtest::createDirectories(workspace.root);
}

void run(const Options& options, Workspace& workspace) {
    wchar_t exe[MAX_PATH * 4];
    GetModuleFileNameW(nullptr, exe, MAX_PATH * 4);
    workspace.binDir = exe;
    workspace.binDir.erase(workspace.binDir.find_last_of(L'\\'));
    wchar_t temp[MAX_PATH + 1];
    GetTempPathW(MAX_PATH + 1, temp);
    const std::wstring primaryRoot = workRootIn(options.workDir.empty() ? temp : options.workDir);
    const std::wstring diskRoot = workRootIn(temp);
    useRoot(workspace, primaryRoot);

    Csv csv;
    reportPrograms(csv, primaryRoot);

    std::printf("Updater, per staged file (median; file work = guard + scan + replacement +\n"
                "cleanup, from the output lines' arrival; run = process start to end)\n");
    reportPerFileHeader();
    std::fflush(stdout);
    PerFile at100{};
    PerFile at10000{};
    std::string runsUsed;
    for (int n : options.sizes) {
        const int runs = repetitionsFor(options, n);
        runsUsed += (runsUsed.empty() ? "" : ", ") + std::to_string(runs) + " at N = " +
                    std::to_string(n);
        const PerFile result = measurePerFile(workspace, n, runs);
        reportPerFile(csv, n, result);
        if (n == 100) {
            at100 = result;
        }
        if (n == 10000) {
            at10000 = result;
        }
    }
    if (at100.updaterMs > 0 && at10000.updaterMs > 0) {
        reportScaling(csv, at100, at10000);
    }
    std::printf("Runs per size (each median is of these): %s\n\n", runsUsed.c_str());

    if (options.diskSize > 0 && diskRoot != primaryRoot) {
        // The same on the disk that holds the Wine prefix, where each log line's flush
        // reaches the device.
        useRoot(workspace, diskRoot);
        reportDiskHeader(diskRoot);
        const int n = options.diskSize;
        reportDisk(csv, n, measurePerFile(workspace, n, repetitionsFor(options, n), true));
        kyrtest::removeTree(workspace.root);
        workspace.root = primaryRoot;
        std::printf("\n");
    }

    std::vector<double> benchClock, logClock;
    const int waitRuns = waitRunsFor(options);
    for (int rep = 0; rep < waitRuns; ++rep) {
        const WaitLatency latency = measureWaitOnce(workspace, rep);
        benchClock.push_back(latency.benchClockMs);
        if (latency.haveLogMs) {
            logClock.push_back(latency.logMs);
        }
    }
    reportWait(csv, benchClock, logClock);

    reportLaunch(csv, options.launches, measureLaunch(workspace, options.launches));
    kyrtest::removeTree(workspace.root);

    if (options.csvPath) {
        writeCsv(csv, options.csvPath);
    }
}

} // namespace
} // namespace bench

int wmain(int argc, wchar_t** argv) {
    bench::Options options;
    if (!bench::parseOptions(argc, argv, options)) {
        return 2;
    }
    bench::Workspace workspace;
    try {
        bench::run(options, workspace);
        return 0;
    } catch (const std::exception& failure) {
        std::fflush(stdout);
        std::fprintf(stderr, "benchRunner: %s\n", failure.what());
        if (!workspace.root.empty()) {
            kyrtest::removeTree(workspace.root);
        }
        return 1;
    }
}
