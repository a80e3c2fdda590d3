#include "process.h"

#include "clock.h"
#include "text.h"

#include <psapi.h>
#include <tlhelp32.h>

#include <algorithm>
#include <stdexcept>

namespace bench {

namespace {

kyrtest::PipedOptions readAhead(const std::wstring& workDir) {
    kyrtest::PipedOptions options;
    options.workDir = workDir;
    options.pipeBufferBytes = 1 << 16;
    options.timeoutMs = INFINITE;
    options.errorToPipe = false;
    options.codePage = 0; // the lines are only matched against ASCII prefixes
    options.readAhead = true;
    return options;
}

} // namespace

Run::Run(const std::wstring& program, const std::vector<std::wstring>& arguments,
         const std::wstring& workDir)
    : child_(program, arguments, readAhead(workDir)) {}

void Run::finish() {
    while (!child_.wait(10)) {
        readPeak();
    }
    endMs_ = nowMs();
    readPeak();
    exitCode_ = child_.exitCode();
    lines_ = &child_.lines();
}

double Run::lineTime(const char* prefix) const {
    for (const Line& line : lines()) {
        if (startsWith(line.text, prefix)) {
            return line.atMs;
        }
    }
    throw std::runtime_error(std::string("no line \"") + prefix + "\" in the output");
}

void Run::readPeak() {
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof counters;
    if (GetProcessMemoryInfo(child_.handle(), &counters, sizeof counters)) {
        peak_ = std::max(peak_, counters.PeakWorkingSetSize);
    }
}

double timeStart(const std::wstring& program, const std::vector<std::wstring>& arguments,
                 const std::wstring& workDir) {
    const UniqueFileHandle nul =
        kyrtest::inheritableFile(L"NUL", GENERIC_READ | GENERIC_WRITE, OPEN_EXISTING);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = startup.hStdOutput = startup.hStdError = nul.get();
    std::wstring commandLine = kyrtest::commandLineOf(program, arguments);
    PROCESS_INFORMATION info{};
    const double start = nowMs();
    if (!kyrtest::startProcess(program, commandLine, TRUE, 0, workDir, startup, info)) {
        failWith(L"CreateProcessW " + program);
    }
    const UniqueHandle process(info.hProcess);
    const UniqueHandle thread(info.hThread);
    WaitForSingleObject(process.get(), INFINITE);
    const double took = nowMs() - start;
    DWORD exitCode = 1;
    GetExitCodeProcess(process.get(), &exitCode);
    if (exitCode != 0) {
        throw std::runtime_error(narrow(program) + " ended with " + std::to_string(exitCode));
    }
    return took;
}

bool processRunning(const wchar_t* exeName) {
    const UniqueFileHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot) {
        return false;
    }
    PROCESSENTRY32W entry;
    entry.dwSize = sizeof entry;
    bool found = false;
    for (BOOL more = Process32FirstW(snapshot.get(), &entry); more && !found;
         more = Process32NextW(snapshot.get(), &entry)) {
        found = _wcsicmp(entry.szExeFile, exeName) == 0;
    }
    return found;
}

} // namespace bench
