#include "process.h"

#include "clock.h"
#include "text.h"

#include <psapi.h>
#include <tlhelp32.h>

#include <algorithm>
#include <chrono>
#include <stdexcept>

namespace bench {

namespace {

// The null device, for a child's standard handles.
HANDLE inheritableNul() {
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    return CreateFileW(L"NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                       &inherit, OPEN_EXISTING, 0, nullptr);
}

} // namespace

Run::Run(const std::wstring& program, const std::wstring& arguments, const std::wstring& workDir) {
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE writeEnd = nullptr;
    if (!CreatePipe(&readEnd_, &writeEnd, &inherit, 1 << 16)) {
        failWith(L"CreatePipe");
    }
    SetHandleInformation(readEnd_, HANDLE_FLAG_INHERIT, 0);
    HANDLE nul = inheritableNul();
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
    const BOOL started = CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, TRUE,
                                        0, nullptr, workDir.c_str(), &startup, &info);
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

Run::~Run() {
    if (process_) {
        TerminateProcess(process_, 99);
        finish();
    }
}

double Run::waitForLine(const char* prefix, DWORD timeoutMs) {
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

void Run::finish() {
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

double Run::lineTime(const char* prefix) const {
    for (const Line& line : lines_) {
        if (startsWith(line.text, prefix)) {
            return line.atMs;
        }
    }
    throw std::runtime_error(std::string("no line \"") + prefix + "\" in the output");
}

void Run::readLines() {
    std::string pending;
    char buffer[65536];
    DWORD got = 0;
    while (ReadFile(readEnd_, buffer, sizeof buffer, &got, nullptr) && got > 0) {
        const double at = nowMs();
        pending.append(buffer, got);
        std::lock_guard<std::mutex> lock(mutex_);
        std::size_t end = 0;
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

void Run::readPeak() {
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof counters;
    if (GetProcessMemoryInfo(process_, &counters, sizeof counters)) {
        peak_ = std::max(peak_, counters.PeakWorkingSetSize);
    }
}

double timeStart(const std::wstring& program, const std::wstring& arguments,
                 const std::wstring& workDir) {
    HANDLE nul = inheritableNul();
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

} // namespace bench
