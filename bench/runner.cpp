// Runs the benchmarks of kyrUpdater and kyrServer.com from the built programs beside it and
// prints a table of the medians; with --csv also writes them as CSV.
//   benchRunner.exe [--csv results.csv] [--work FOLDER] [--sizes 10,100,1000,10000]
//                   [--repetitions R] [--disk N]
// --work puts the installations into FOLDER instead of the temporary folder; --disk N then
// also measures N files in the temporary folder.
// Without --repetitions sizes up to 100 are measured 5 times, up to 1000 3 times, larger
// ones twice (a run of 10000 files takes about a minute under Wine).
// Each measurement builds a fresh installation in the temporary folder (not timed), runs
// the program in it with its standard output on a pipe, and stamps every line when it
// arrives. Times are the bench's own QueryPerformanceCounter clock.
#include <windows.h>
#include <psapi.h>
#include <tlhelp32.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace {

// ---------------------------------------------------------------------------------------
// Clock, text, files

double nowMs() {
    static const double ticksPerMs = [] {
        LARGE_INTEGER frequency;
        QueryPerformanceFrequency(&frequency);
        return static_cast<double>(frequency.QuadPart) / 1000.0;
    }();
    LARGE_INTEGER ticks;
    QueryPerformanceCounter(&ticks);
    return static_cast<double>(ticks.QuadPart) / ticksPerMs;
}

std::string narrow(const std::wstring& text) {
    const int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                      nullptr, 0, nullptr, nullptr);
    std::string bytes(n, '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), bytes.data(), n,
                        nullptr, nullptr);
    return bytes;
}

[[noreturn]] void failWith(const std::wstring& what) {
    throw std::runtime_error(narrow(what) + " (error " + std::to_string(GetLastError()) + ")");
}

bool startsWith(const std::string& text, const char* prefix) {
    return text.rfind(prefix, 0) == 0;
}

bool exists(const std::wstring& path) {
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

void makeDir(const std::wstring& path) {
    if (!CreateDirectoryW(path.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
        failWith(L"CreateDirectoryW " + path);
    }
}

void writeFile(const std::wstring& path, const char* bytes) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        failWith(L"CreateFileW " + path);
    }
    DWORD written = 0;
    const DWORD size = static_cast<DWORD>(strlen(bytes));
    const BOOL ok = WriteFile(file, bytes, size, &written, nullptr);
    CloseHandle(file);
    if (!ok || written != size) {
        failWith(L"WriteFile " + path);
    }
}

std::string readFile(const std::wstring& path) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        failWith(L"CreateFileW " + path);
    }
    std::string bytes;
    char buffer[65536];
    DWORD got = 0;
    while (ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got > 0) {
        bytes.append(buffer, got);
    }
    CloseHandle(file);
    return bytes;
}

void copyFile(const std::wstring& from, const std::wstring& to) {
    if (!CopyFileW(from.c_str(), to.c_str(), FALSE)) {
        failWith(L"CopyFileW " + from);
    }
}

void removeTree(const std::wstring& dir) {
    WIN32_FIND_DATAW entry;
    HANDLE listing = FindFirstFileW((dir + L"\\*").c_str(), &entry);
    if (listing != INVALID_HANDLE_VALUE) {
        do {
            const std::wstring name = entry.cFileName;
            if (name == L"." || name == L"..") {
                continue;
            }
            const std::wstring path = dir + L"\\" + name;
            if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                removeTree(path);
            } else {
                DeleteFileW(path.c_str());
            }
        } while (FindNextFileW(listing, &entry));
        FindClose(listing);
    }
    RemoveDirectoryW(dir.c_str());
}

// Every file below dir whose name ends with the suffix.
void findFiles(const std::wstring& dir, const std::wstring& suffix,
               std::vector<std::wstring>& found) {
    WIN32_FIND_DATAW entry;
    HANDLE listing = FindFirstFileW((dir + L"\\*").c_str(), &entry);
    if (listing == INVALID_HANDLE_VALUE) {
        return;
    }
    do {
        const std::wstring name = entry.cFileName;
        if (name == L"." || name == L"..") {
            continue;
        }
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            findFiles(dir + L"\\" + name, suffix, found);
        } else if (name.size() >= suffix.size() &&
                   name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0) {
            found.push_back(dir + L"\\" + name);
        }
    } while (FindNextFileW(listing, &entry));
    FindClose(listing);
}

double median(std::vector<double> values) {
    if (values.empty()) {
        return 0;
    }
    std::sort(values.begin(), values.end());
    const std::size_t middle = values.size() / 2;
    return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

std::wstring quoted(const std::wstring& argument) {
    return L"\"" + argument + L"\"";
}

// ---------------------------------------------------------------------------------------
// A program run with its standard output on a pipe, each line stamped on arrival.

struct Line {
    std::string text;
    double atMs;
};

class Run {
public:
    Run(const std::wstring& program, const std::wstring& arguments, const std::wstring& workDir) {
        SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
        HANDLE writeEnd = nullptr;
        if (!CreatePipe(&readEnd_, &writeEnd, &inherit, 1 << 16)) {
            failWith(L"CreatePipe");
        }
        SetHandleInformation(readEnd_, HANDLE_FLAG_INHERIT, 0);
        HANDLE nul =
            CreateFileW(L"NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                        &inherit, OPEN_EXISTING, 0, nullptr);
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdInput = nul;
        startup.hStdOutput = writeEnd;
        startup.hStdError = nul;
        std::wstring commandLine = quoted(program) + L" " + arguments;
        PROCESS_INFORMATION info{};
        reader_ = std::thread([this] { readLines(); });
        startMs_ = nowMs();
        const BOOL started = CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr,
                                            TRUE, 0, nullptr, workDir.c_str(), &startup, &info);
        const DWORD error = GetLastError();
        CloseHandle(writeEnd);
        CloseHandle(nul);
        if (!started) {
            reader_.join();
            CloseHandle(readEnd_);
            SetLastError(error);
            failWith(L"CreateProcessW " + program);
        }
        CloseHandle(info.hThread);
        process_ = info.hProcess;
    }

    ~Run() {
        if (process_) {
            TerminateProcess(process_, 99);
            finish();
        }
    }

    // Waits until a line that starts with the prefix has arrived; its time, or -1 when the
    // program ended (or the time ran out) first.
    double waitForLine(const char* prefix, DWORD timeoutMs) {
        std::unique_lock<std::mutex> lock(mutex_);
        double at = -1;
        arrived_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] {
            for (const Line& line : lines_) {
                if (startsWith(line.text, prefix)) {
                    at = line.atMs;
                    return true;
                }
            }
            return ended_;
        });
        return at;
    }

    // Waits for the end. The peak working set is read every 10 ms while the program runs
    // and once more after its end, before the handle is closed: Wine does not always
    // answer for a process that has ended.
    void finish() {
        while (WaitForSingleObject(process_, 10) == WAIT_TIMEOUT) {
            readPeak();
        }
        endMs_ = nowMs();
        readPeak();
        GetExitCodeProcess(process_, &exitCode_);
        CloseHandle(process_);
        process_ = nullptr;
        reader_.join();
        CloseHandle(readEnd_);
    }

    DWORD exitCode() const { return exitCode_; }
    double wallMs() const { return endMs_ - startMs_; }
    SIZE_T peakWorkingSet() const { return peak_; }
    const std::vector<Line>& lines() const { return lines_; }

    double lineTime(const char* prefix) const {
        for (const Line& line : lines_) {
            if (startsWith(line.text, prefix)) {
                return line.atMs;
            }
        }
        throw std::runtime_error(std::string("no line \"") + prefix + "\" in the output");
    }

private:
    void readLines() {
        std::string pending;
        char buffer[65536];
        DWORD got = 0;
        while (ReadFile(readEnd_, buffer, sizeof buffer, &got, nullptr) && got > 0) {
            const double at = nowMs();
            pending.append(buffer, got);
            std::lock_guard<std::mutex> lock(mutex_);
            std::size_t end;
            while ((end = pending.find('\n')) != std::string::npos) {
                std::size_t size = end;
                if (size > 0 && pending[size - 1] == '\r') {
                    --size;
                }
                lines_.push_back({pending.substr(0, size), at});
                pending.erase(0, end + 1);
            }
            arrived_.notify_all();
        }
        std::lock_guard<std::mutex> lock(mutex_);
        ended_ = true;
        arrived_.notify_all();
    }

    void readPeak() {
        PROCESS_MEMORY_COUNTERS counters{};
        counters.cb = sizeof counters;
        if (GetProcessMemoryInfo(process_, &counters, sizeof counters)) {
            peak_ = std::max(peak_, counters.PeakWorkingSetSize);
        }
    }

    HANDLE readEnd_ = nullptr;
    HANDLE process_ = nullptr;
    std::thread reader_;
    std::mutex mutex_;
    std::condition_variable arrived_;
    std::vector<Line> lines_;
    bool ended_ = false;
    double startMs_ = 0;
    double endMs_ = 0;
    DWORD exitCode_ = 0;
    SIZE_T peak_ = 0;
};

// Whether a process of that executable name runs.
bool processRunning(const wchar_t* exeName) {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) {
        return false;
    }
    PROCESSENTRY32W entry;
    entry.dwSize = sizeof entry;
    bool found = false;
    for (BOOL more = Process32FirstW(snapshot, &entry); more && !found;
         more = Process32NextW(snapshot, &entry)) {
        found = _wcsicmp(entry.szExeFile, exeName) == 0;
    }
    CloseHandle(snapshot);
    return found;
}

// ---------------------------------------------------------------------------------------
// Installations

std::wstring binDir;
std::wstring workRoot;
int installationCount = 0;

std::wstring builtFile(const std::wstring& name) {
    return binDir + L"\\" + name;
}

// An application directory with the scanned folders, a logs folder (so the updater's log
// lands inside it) and the stand-in server under the default server name.
std::wstring newInstallation(const std::wstring& program) {
    const std::wstring app = workRoot + L"\\i" + std::to_wstring(++installationCount);
    makeDir(app);
    for (const wchar_t* dir :
         {L"\\ru", L"\\server", L"\\server\\x64", L"\\server\\x86", L"\\logs"}) {
        makeDir(app + dir);
    }
    const std::wstring name = program.substr(program.find_last_of(L'\\') + 1);
    copyFile(program, app + L"\\" + name);
    copyFile(builtFile(L"standinServer.exe"), app + L"\\kyrServer.exe");
    return app;
}

// n staged files spread over the four scanned folders; every other pair of rounds has an
// installed file and an old copy, so half of the files are replaced and half are new.
// Their names are in no stop group's process patterns' reach: nothing waits.
void stageFiles(const std::wstring& app, int n) {
    const std::wstring dirs[] = {app, app + L"\\ru", app + L"\\server\\x64",
                                 app + L"\\server\\x86"};
    wchar_t name[32];
    for (int i = 0; i < n; ++i) {
        const std::wstring& dir = dirs[i % 4];
        swprintf(name, 32, L"bench%05d.dat", i);
        writeFile(dir + L"\\~" + name, "staged version\n");
        if ((i / 4) % 2 == 0) {
            writeFile(dir + L"\\" + name, "installed version\n");
            writeFile(dir + L"\\" + name + L".old", "older version\n");
        }
    }
}

int replacedCount(int n) {
    int replaced = 0;
    for (int i = 0; i < n; ++i) {
        replaced += (i / 4) % 2 == 0;
    }
    return replaced;
}

// Lines a run reports for n staged files: three start lines, the wait's two, four per
// replaced file (old copy removed, installed file aside, staged file in, old copy removed),
// one per new file, the server start and the end.
std::size_t expectedLines(int n) {
    const int replaced = replacedCount(n);
    return 3 + 2 + 4 * replaced + (n - replaced) + 2;
}

// Waits until the server the updater started has written its record and ended, so that
// the next run finds no process to wait for.
void awaitRestartedServer(const std::wstring& app) {
    const double deadline = nowMs() + 20000;
    while (!exists(app + L"\\kyrServer.exe.run.txt") && nowMs() < deadline) {
        Sleep(5);
    }
    while (processRunning(L"kyrServer.exe") && nowMs() < deadline) {
        Sleep(5);
    }
    if (nowMs() >= deadline) {
        throw std::runtime_error("the restarted stand-in server did not run and end");
    }
}

// Names of the files in a folder, from one listing (a test of each absent name would cost a
// scan of the folder under Wine).
std::vector<std::wstring> fileNames(const std::wstring& dir) {
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW entry;
    HANDLE listing = FindFirstFileW((dir + L"\\*").c_str(), &entry);
    if (listing != INVALID_HANDLE_VALUE) {
        do {
            if (!(entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
                names.emplace_back(entry.cFileName);
            }
        } while (FindNextFileW(listing, &entry));
        FindClose(listing);
    }
    std::sort(names.begin(), names.end());
    return names;
}

// Whether the update left exactly the installed files: no staged file, no old copy.
void checkReplaced(const std::wstring& app, int n) {
    const std::wstring dirs[] = {app, app + L"\\ru", app + L"\\server\\x64",
                                 app + L"\\server\\x86"};
    for (int d = 0; d < 4; ++d) {
        std::vector<std::wstring> expected;
        wchar_t name[32];
        for (int i = d; i < n; i += 4) {
            swprintf(name, 32, L"bench%05d.dat", i);
            expected.emplace_back(name);
        }
        std::vector<std::wstring> found;
        for (const std::wstring& file : fileNames(dirs[d])) {
            if (file.find(L".dat") != std::wstring::npos) { // staged, installed, old copies
                found.push_back(file);
            }
        }
        std::sort(expected.begin(), expected.end());
        if (found != expected ||
            (!found.empty() && readFile(dirs[d] + L"\\" + found.back()) != "staged version\n")) {
            throw std::runtime_error("the update left " + narrow(dirs[d]) + " in a wrong state");
        }
    }
}

// ---------------------------------------------------------------------------------------
// Measurements

struct PerFile {
    double updaterMs;  // per file
    double baselineMs; // per file
    double splitMs;    // per file, the baseline writing each log line in three parts
    double updaterWallMs;
    double baselineWallMs;
    SIZE_T updaterPeak;
};

// Time of the file work of one run: from the last start line to the wait's first line
// (guard and scan), and from the wait's last line to the server start line (replacement and
// superseded-file cleanup). The process wait, the log opening and the server start are
// fixed costs of a run, not of a file.
double fileWorkMs(const Run& run) {
    return (run.lineTime("Wait for stop") - run.lineTime("Executable name")) +
           (run.lineTime("Run ") - run.lineTime("KYR processes stopped"));
}

// One run in a fresh installation of n staged files: program before app-dir after.
double measureOnce(const std::wstring& program, const std::wstring& before,
                   const std::wstring& after, int n, bool updater, double& wallMs, SIZE_T& peak) {
    const std::wstring app = newInstallation(program);
    stageFiles(app, n);
    const std::wstring exe = app + program.substr(program.find_last_of(L'\\'));
    Run run(exe, before + quoted(app) + after, app);
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
    removeTree(app);
    wallMs = run.wallMs();
    peak = run.peakWorkingSet();
    return fileWorkMs(run);
}

// With splitBaseline the baseline also runs with its log lines written in three parts.
PerFile measurePerFile(int n, int repetitions, bool splitBaseline = false) {
    std::vector<double> updater, baseline, split, updaterWall, baselineWall;
    SIZE_T peak = 0;
    const std::wstring updaterExe = builtFile(L"kyrUpdater.exe");
    const std::wstring baselineExe = builtFile(L"benchBaseline.exe");
    for (int rep = 0; rep < repetitions; ++rep) {
        double wall = 0;
        SIZE_T runPeak = 0;
        updater.push_back(measureOnce(updaterExe, L"--appDir ", L"", n, true, wall, runPeak) / n);
        updaterWall.push_back(wall);
        peak = std::max(peak, runPeak);
        baseline.push_back(measureOnce(baselineExe, L"", L"", n, false, wall, runPeak) / n);
        baselineWall.push_back(wall);
        if (splitBaseline) {
            split.push_back(
                measureOnce(baselineExe, L"", L" --split-log-writes", n, false, wall, runPeak) / n);
        }
    }
    return {median(updater),     median(baseline),     splitBaseline ? median(split) : -1,
            median(updaterWall), median(baselineWall), peak};
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

struct WaitLatency {
    double benchClockMs; // process end seen by the bench to the first rename line
    double logMs;        // process exit time to the first rename's log time stamp
    bool haveLogMs;      // whether the system gave the exit time and the log the stamp
};

// One update that must wait for KYR.exe: the stand-in process is told to end once the
// updater waits for it.
WaitLatency measureWaitOnce(int rep) {
    const std::wstring app = newInstallation(builtFile(L"kyrUpdater.exe"));
    writeFile(app + L"\\~kyrCore.dll", "staged version\n");
    writeFile(app + L"\\kyrCore.dll", "installed version\n");
    copyFile(builtFile(L"standinProcess.exe"), app + L"\\KYR.exe");

    const std::wstring eventName =
        L"kyrBenchStop-" + std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(rep);
    HANDLE stop = CreateEventW(nullptr, TRUE, FALSE, eventName.c_str());
    std::wstring commandLine = quoted(app + L"\\KYR.exe") + L" " + eventName;
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION kyr{};
    if (!stop || !CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                                 app.c_str(), &startup, &kyr)) {
        failWith(L"the stand-in KYR.exe");
    }
    CloseHandle(kyr.hThread);

    Run run(app + L"\\kyrUpdater.exe", L"--appDir " + quoted(app), app);
    if (run.waitForLine("Wait for stop", 30000) < 0) {
        throw std::runtime_error("the updater did not start waiting");
    }
    // Time to take its process list and start waiting on KYR.exe.
    Sleep(300);
    if (WaitForSingleObject(kyr.hProcess, 0) != WAIT_TIMEOUT) {
        throw std::runtime_error("the stand-in KYR.exe ended too early");
    }
    SetEvent(stop);
    WaitForSingleObject(kyr.hProcess, INFINITE);
    const double endedAt = nowMs();
    FILETIME created, exited, kernel, user;
    const bool haveExitTime = GetProcessTimes(kyr.hProcess, &created, &exited, &kernel, &user) &&
                              (exited.dwLowDateTime || exited.dwHighDateTime);
    CloseHandle(kyr.hProcess);
    CloseHandle(stop);
    run.finish();
    if (run.exitCode() != 0) {
        throw std::runtime_error("the waiting updater failed");
    }
    WaitLatency latency{run.lineTime("Rename ") - endedAt, 0, false};
    if (haveExitTime) {
        std::vector<std::wstring> logs;
        findFiles(app + L"\\logs", L".log", logs);
        if (logs.size() == 1) {
            const std::string log = readFile(logs[0]);
            const std::size_t at = log.find("|Rename ");
            if (at != std::string::npos && at >= 23) {
                latency.logMs = logStampMs(log.substr(at - 23, 24)) - localMsOfDay(exited);
                latency.haveLogMs = true;
            }
        }
    }
    awaitRestartedServer(app);
    removeTree(app);
    return latency;
}

struct Launch {
    double launcherMs;
    double bareMs;
    double crtMs;  // the bare program loading ucrtbase.dll as the launcher does
    double coreMs; // ... and then the core library, calling its wmain
};

double timeStart(const std::wstring& program, const std::wstring& arguments,
                 const std::wstring& workDir) {
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE nul =
        CreateFileW(L"NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    &inherit, OPEN_EXISTING, 0, nullptr);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = startup.hStdOutput = startup.hStdError = nul;
    std::wstring commandLine = quoted(program) + arguments;
    PROCESS_INFORMATION info{};
    const double start = nowMs();
    if (!CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr,
                        workDir.c_str(), &startup, &info)) {
        failWith(L"CreateProcessW " + program);
    }
    WaitForSingleObject(info.hProcess, INFINITE);
    const double took = nowMs() - start;
    DWORD exitCode = 1;
    GetExitCodeProcess(info.hProcess, &exitCode);
    CloseHandle(info.hProcess);
    CloseHandle(info.hThread);
    CloseHandle(nul);
    if (exitCode != 0) {
        throw std::runtime_error(narrow(program) + " ended with " + std::to_string(exitCode));
    }
    return took;
}

// Start to end of kyrServer.com with a core library whose wmain returns at once, against a
// program that does nothing, started the same way, in turns; and two steps between them
// that show where the difference lies.
Launch measureLaunch(int repetitions) {
    const std::wstring dir = workRoot + L"\\launch";
    makeDir(dir);
    makeDir(dir + L"\\server");
    makeDir(dir + L"\\server\\x86");
    copyFile(builtFile(L"kyrServer.com"), dir + L"\\kyrServer.com");
    copyFile(builtFile(L"bench\\kyrServer.dll"), dir + L"\\server\\x86\\kyrServer.dll");
    copyFile(builtFile(L"benchBare.exe"), dir + L"\\benchBare.exe");
    copyFile(builtFile(L"benchLoadProbe.exe"), dir + L"\\benchLoadProbe.exe");
    const std::wstring launcher = dir + L"\\kyrServer.com";
    const std::wstring bare = dir + L"\\benchBare.exe";
    const std::wstring probe = dir + L"\\benchLoadProbe.exe";
    std::vector<double> launcherTimes, bareTimes, crtTimes, coreTimes;
    for (int rep = -3; rep < repetitions; ++rep) { // three rounds to warm up
        const double l = timeStart(launcher, L"", dir);
        const double b = timeStart(bare, L"", dir);
        const double c = timeStart(probe, L" ucrt", dir);
        const double k = timeStart(probe, L" ucrt core", dir);
        if (rep >= 0) {
            launcherTimes.push_back(l);
            bareTimes.push_back(b);
            crtTimes.push_back(c);
            coreTimes.push_back(k);
        }
    }
    removeTree(dir);
    return {median(launcherTimes), median(bareTimes), median(crtTimes), median(coreTimes)};
}

// ---------------------------------------------------------------------------------------
// Report

struct Csv {
    std::string text = "metric,case,value,reference,ratio,unit\n";
    // A negative number stands for "none" and leaves its field empty.
    void row(const char* metric, const std::string& what, double value, double reference,
             double ratio, const char* unit) {
        std::string line = std::string(metric) + "," + what;
        for (double x : {value, reference, ratio}) {
            char number[32] = "";
            if (x >= 0) {
                snprintf(number, sizeof number, "%.6g", x);
            }
            line += std::string(",") + number;
        }
        text += line + "," + unit + "\n";
    }
};

struct Options {
    const wchar_t* csvPath = nullptr;
    std::wstring workDir; // empty: the temporary folder
    std::vector<int> sizes = {10, 100, 1000, 10000};
    int repetitions = 0; // 0: by size
    int diskSize = 0;    // > 0: also this size in the temporary folder
};

double mib(SIZE_T bytes) {
    return static_cast<double>(bytes) / (1024.0 * 1024.0);
}

std::wstring workRootIn(const std::wstring& folder) {
    std::wstring parent = folder;
    if (!parent.empty() && parent.back() == L'\\') {
        parent.pop_back();
    }
    return parent + L"\\kyrBench-" + std::to_wstring(GetCurrentProcessId());
}

void printPerFileHeader() {
    std::printf("%8s %16s %16s %8s %16s %16s %10s\n", "N", "updater ms/file", "baseline ms/file",
                "ratio", "updater run ms", "baseline run ms", "peak MiB");
}

void printPerFile(int n, const PerFile& result) {
    std::printf("%8d %16.4f %16.4f %8.2f %16.1f %16.1f %10.2f\n", n, result.updaterMs,
                result.baselineMs, result.updaterMs / result.baselineMs, result.updaterWallMs,
                result.baselineWallMs, mib(result.updaterPeak));
    std::fflush(stdout);
}

int repetitionsFor(const Options& options, int n) {
    return options.repetitions > 0 ? options.repetitions : n > 1000 ? 2 : n > 100 ? 3 : 5;
}

void run(const Options& options) {
    wchar_t exe[MAX_PATH * 4];
    GetModuleFileNameW(nullptr, exe, MAX_PATH * 4);
    binDir = exe;
    binDir.erase(binDir.find_last_of(L'\\'));
    wchar_t temp[MAX_PATH + 1];
    GetTempPathW(MAX_PATH + 1, temp);
    const std::wstring primaryRoot = workRootIn(options.workDir.empty() ? temp : options.workDir);
    const std::wstring diskRoot = workRootIn(temp);
    workRoot = primaryRoot;
    removeTree(workRoot);
    makeDir(workRoot);

    std::printf("Programs: the x86-64 build of the sources, run under Wine's 64-bit loader\n"
                "(this machine's CPU cannot execute the shipped 32-bit programs).\n"
                "Installations in %s\n\n",
                narrow(primaryRoot).c_str());
    std::fflush(stdout);
    Csv csv;

    std::printf("Updater, per staged file (median; file work = guard + scan + replacement +\n"
                "cleanup, from the output lines' arrival; run = process start to end)\n");
    printPerFileHeader();
    std::fflush(stdout);
    double perFileAt100 = 0;
    double perFileAt10000 = 0;
    for (int n : options.sizes) {
        const PerFile result = measurePerFile(n, repetitionsFor(options, n));
        printPerFile(n, result);
        const std::string size = std::to_string(n);
        csv.row("per_file", size, result.updaterMs, result.baselineMs,
                result.updaterMs / result.baselineMs, "ms/file");
        csv.row("whole_run", size, result.updaterWallMs, result.baselineWallMs,
                result.updaterWallMs / result.baselineWallMs, "ms");
        if (n == 10 || n == 10000) {
            csv.row("peak_working_set", size, mib(result.updaterPeak), -1, -1, "MiB");
        }
        if (n == 100) {
            perFileAt100 = result.updaterMs;
        }
        if (n == 10000) {
            perFileAt10000 = result.updaterMs;
        }
    }
    if (perFileAt100 > 0 && perFileAt10000 > 0) {
        const double scaling = perFileAt10000 / perFileAt100;
        std::printf("Scaling ratio (updater ms/file at 10000 over at 100): %.2f\n", scaling);
        csv.row("scaling", "10000/100", scaling, -1, -1, "ratio");
    }
    std::printf("\n");

    if (options.diskSize > 0 && diskRoot != primaryRoot) {
        // The same on the disk that holds the Wine prefix, where each log line's flush
        // reaches the device.
        workRoot = diskRoot;
        removeTree(workRoot);
        makeDir(workRoot);
        std::printf("The same in the temporary folder on disk (%s)\n", narrow(diskRoot).c_str());
        printPerFileHeader();
        const int n = options.diskSize;
        const PerFile result = measurePerFile(n, repetitionsFor(options, n), true);
        printPerFile(n, result);
        std::printf("%8s %16s %16.4f %8.2f  (baseline writing each log line in three parts)\n", "",
                    "", result.splitMs, result.updaterMs / result.splitMs);
        csv.row("per_file_disk", std::to_string(n), result.updaterMs, result.baselineMs,
                result.updaterMs / result.baselineMs, "ms/file");
        csv.row("per_file_disk_split_log_writes", std::to_string(n), result.updaterMs,
                result.splitMs, result.updaterMs / result.splitMs, "ms/file");
        removeTree(workRoot);
        workRoot = primaryRoot;
        std::printf("\n");
    }

    std::vector<double> benchClock, logClock;
    for (int rep = 0; rep < 5; ++rep) {
        const WaitLatency latency = measureWaitOnce(rep);
        benchClock.push_back(latency.benchClockMs);
        if (latency.haveLogMs) {
            logClock.push_back(latency.logMs);
        }
    }
    const double waitMs = median(benchClock);
    std::printf("Wait: last matching process (KYR.exe) ended -> first rename (median of 5)\n");
    std::printf("  bench clock (process end seen -> Rename line read): %8.2f ms\n", waitMs);
    csv.row("wait_latency", "bench_clock", waitMs, -1, -1, "ms");
    if (!logClock.empty()) {
        const double logMs = median(logClock);
        std::printf("  log stamps (process exit time -> Rename stamp):    %8.0f ms (1 ms steps)\n",
                    logMs);
        csv.row("wait_latency", "log_stamps", logMs, -1, -1, "ms");
    } else {
        std::printf("  log stamps: the system gave no exit time of the process\n");
    }
    std::printf("\n");
    std::fflush(stdout);

    const int launches = 40;
    const Launch launch = measureLaunch(launches);
    std::printf("Launcher: start to end (median of %d, in turns)\n", launches);
    std::printf("  bare program (does nothing)                  %8.2f ms\n", launch.bareMs);
    std::printf("  bare program + LoadLibraryExW(ucrtbase.dll)  %8.2f ms\n", launch.crtMs);
    std::printf("  ... + kyrServer.dll loaded, wmain called     %8.2f ms\n", launch.coreMs);
    std::printf("  kyrServer.com + kyrServer.dll (wmain returns) %7.2f ms\n", launch.launcherMs);
    std::printf("  kyrServer.com over bare: ratio %.3f, difference %.2f ms; of the difference\n"
                "  ucrtbase.dll %.2f ms, core library %.2f ms, the launcher's own %.2f ms\n",
                launch.launcherMs / launch.bareMs, launch.launcherMs - launch.bareMs,
                launch.crtMs - launch.bareMs, launch.coreMs - launch.crtMs,
                launch.launcherMs - launch.coreMs);
    csv.row("launcher", "start_to_end", launch.launcherMs, launch.bareMs,
            launch.launcherMs / launch.bareMs, "ms");
    csv.row("launcher", "difference", launch.launcherMs - launch.bareMs, -1, -1, "ms");
    csv.row("launcher", "bare_plus_ucrtbase", launch.crtMs, launch.bareMs,
            launch.crtMs / launch.bareMs, "ms");
    csv.row("launcher", "bare_plus_ucrtbase_core", launch.coreMs, launch.bareMs,
            launch.coreMs / launch.bareMs, "ms");
    std::fflush(stdout);
    removeTree(workRoot);

    if (options.csvPath) {
        HANDLE file = CreateFileW(options.csvPath, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
        DWORD written = 0;
        if (file == INVALID_HANDLE_VALUE ||
            !WriteFile(file, csv.text.data(), static_cast<DWORD>(csv.text.size()), &written,
                       nullptr)) {
            failWith(L"writing the results");
        }
        CloseHandle(file);
    }
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    Options options;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::wstring option = argv[i];
        if (option == L"--csv") {
            options.csvPath = argv[i + 1];
        } else if (option == L"--work") {
            options.workDir = argv[i + 1];
        } else if (option == L"--sizes") {
            options.sizes.clear();
            for (const wchar_t* at = argv[i + 1]; *at;) {
                wchar_t* end = nullptr;
                options.sizes.push_back(static_cast<int>(std::wcstol(at, &end, 10)));
                at = *end == L',' ? end + 1 : end;
            }
        } else if (option == L"--disk") {
            options.diskSize = _wtoi(argv[i + 1]);
        } else if (option == L"--repetitions") {
            options.repetitions = _wtoi(argv[i + 1]);
        } else {
            std::fprintf(stderr, "benchRunner: unknown option %ls\n", argv[i]);
            return 2;
        }
    }
    try {
        run(options);
        return 0;
    } catch (const std::exception& failure) {
        std::fflush(stdout);
        std::fprintf(stderr, "benchRunner: %s\n", failure.what());
        if (!workRoot.empty()) {
            removeTree(workRoot);
        }
        return 1;
    }
}
