#include "updater_measures.h"

#include "clock.h"
#include "files.h"
#include "process.h"
#include "text.h"

#include <algorithm>
#include <cstdlib>
#include <stdexcept>
#include <vector>

namespace bench {
namespace {

// Time of the file work of one run: from the last start line to the wait's first line
// (guard and scan), and from the wait's last line to the server start line (replacement and
// superseded-file cleanup). The process wait, the log opening and the server start are
// fixed costs of a run, not of a file.
double fileWorkMs(const Run& run) {
    return (run.lineTime("Wait for stop") - run.lineTime("Executable name")) +
           (run.lineTime("Run ") - run.lineTime("KYR processes stopped"));
}

// One run in a fresh installation of n staged files: program before app-dir after.
double measureOnce(Workspace& workspace, const std::wstring& program,
                   const std::vector<std::wstring>& before, const std::vector<std::wstring>& after,
                   int n, bool updater, double& wallMs, SIZE_T& peak) {
    const std::wstring app = newInstallation(workspace, program);
    stageFiles(app, n);
    const std::wstring exe = app + program.substr(program.find_last_of(L'\\'));
    std::vector<std::wstring> arguments = before;
    arguments.push_back(app);
    arguments.insert(arguments.end(), after.begin(), after.end());
    Run run(exe, arguments, app);
    run.finish();
    if (run.exitCode() != 0 || run.lines().size() != expectedLines(n)) {
        throw std::runtime_error(narrow(program) + " ended with " + std::to_string(run.exitCode()) +
                                 " after " + std::to_string(run.lines().size()) +
                                 " lines, expected " + std::to_string(expectedLines(n)));
    }
    checkReplaced(app, n);
    if (updater) {
        awaitRestartedServer(app);
    }
    kyrtest::removeTree(app);
    wallMs = run.wallMs();
    peak = run.peakWorkingSet();
    return fileWorkMs(run);
}

// Milliseconds since local midnight of a log time stamp "DD.MM.YYYY hh:mm:ss.mmm|...".
double logStampMs(const std::string& line) {
    const int hour = std::atoi(line.substr(11, 2).c_str());
    const int minute = std::atoi(line.substr(14, 2).c_str());
    const int second = std::atoi(line.substr(17, 2).c_str());
    const int milli = std::atoi(line.substr(20, 3).c_str());
    return ((hour * 60.0 + minute) * 60.0 + second) * 1000.0 + milli;
}

double localMsOfDay(const FILETIME& utc) {
    FILETIME local;
    SYSTEMTIME t;
    FileTimeToLocalFileTime(&utc, &local);
    FileTimeToSystemTime(&local, &t);
    return ((t.wHour * 60.0 + t.wMinute) * 60.0 + t.wSecond) * 1000.0 + t.wMilliseconds;
}

} // namespace

PerFile measurePerFile(Workspace& workspace, int n, int repetitions, bool splitBaseline) {
    std::vector<double> updater, baseline, split, updaterWall, baselineWall;
    SIZE_T peak = 0;
    const std::wstring updaterExe = workspace.builtFile(L"kyrUpdater.exe");
    const std::wstring baselineExe = workspace.builtFile(L"benchBaseline.exe");
    for (int rep = 0; rep < repetitions; ++rep) {
        double wall = 0;
        SIZE_T runPeak = 0;
        updater.push_back(
            measureOnce(workspace, updaterExe, {L"--appDir"}, {}, n, true, wall, runPeak) / n);
        updaterWall.push_back(wall);
        peak = std::max(peak, runPeak);
        baseline.push_back(measureOnce(workspace, baselineExe, {}, {}, n, false, wall, runPeak) /
                           n);
        baselineWall.push_back(wall);
        if (splitBaseline) {
            split.push_back(measureOnce(workspace, baselineExe, {}, {L"--split-log-writes"}, n,
                                        false, wall, runPeak) /
                            n);
        }
    }
    return {median(updater),     median(baseline),     splitBaseline ? median(split) : -1,
            median(updaterWall), median(baselineWall), peak};
}

WaitLatency measureWaitOnce(Workspace& workspace, int rep) {
    const std::wstring app = newInstallation(workspace, workspace.builtFile(L"kyrUpdater.exe"));
    kyrtest::writeFile(app + L"\\~kyrCore.dll", "staged version\n");
    kyrtest::writeFile(app + L"\\kyrCore.dll", "installed version\n");
    copyFile(workspace.builtFile(L"standinProcess.exe"), app + L"\\KYR.exe");

    const std::wstring eventName =
        L"kyrBenchStop-" + std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(rep);
    const UniqueHandle stop(CreateEventW(nullptr, TRUE, FALSE, eventName.c_str()));
    if (!stop) {
        failWith(L"the stand-in KYR.exe");
    }
    kyrtest::RunOptions inConsole;
    inConsole.workDir = app;
    inConsole.captureOutput = false;
    kyrtest::Child kyr(app + L"\\KYR.exe", {eventName}, inConsole);

    Run run(app + L"\\kyrUpdater.exe", {L"--appDir", app}, app);
    if (run.waitForLine("Wait for stop", 30000) < 0) {
        throw std::runtime_error("the updater did not start waiting");
    }
    // Time to take its process list and start waiting on KYR.exe.
    Sleep(300);
    if (!kyr.running()) {
        throw std::runtime_error("the stand-in KYR.exe ended too early");
    }
    SetEvent(stop.get());
    kyr.wait(INFINITE);
    const double endedAt = nowMs();
    FILETIME created, exited, kernel, user;
    const bool haveExitTime = GetProcessTimes(kyr.handle(), &created, &exited, &kernel, &user) &&
                              (exited.dwLowDateTime || exited.dwHighDateTime);
    run.finish();
    if (run.exitCode() != 0) {
        throw std::runtime_error("the waiting updater failed");
    }
    WaitLatency latency{run.lineTime("Rename ") - endedAt, 0, false};
    if (haveExitTime) {
        std::vector<std::wstring> logs;
        findFiles(app + L"\\logs", L".log", logs);
        if (logs.size() == 1) {
            const std::string log = kyrtest::readFile(logs[0]);
            const std::size_t at = log.find("|Rename ");
            if (at != std::string::npos && at >= 23) {
                latency.logMs = logStampMs(log.substr(at - 23, 24)) - localMsOfDay(exited);
                latency.haveLogMs = true;
            }
        }
    }
    awaitRestartedServer(app);
    kyrtest::removeTree(app);
    return latency;
}

} // namespace bench
