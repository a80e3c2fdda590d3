#include "piped_child.h"

#include <stdexcept>

namespace kyrtest {

PipedChild::PipedChild(const fs::path& program, const std::vector<std::wstring>& arguments,
                       const PipedOptions& options)
    : timeoutMs_(options.timeoutMs) {
    SECURITY_ATTRIBUTES inheritable{sizeof inheritable, nullptr, TRUE};
    HANDLE writeEnd = nullptr;
    if (!CreatePipe(&readEnd_, &writeEnd, &inheritable, options.pipeBufferBytes)) {
        throw std::runtime_error("CreatePipe failed with code " + std::to_string(GetLastError()));
    }
    // Only the write end goes to the child; the read end stays ours alone.
    SetHandleInformation(readEnd_, HANDLE_FLAG_INHERIT, 0);
    HANDLE input = CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                               &inheritable, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);

    STARTUPINFOW si{};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = input;
    si.hStdOutput = writeEnd;
    si.hStdError = writeEnd;
    std::wstring commandLine = commandLineOf(program, arguments);
    PROCESS_INFORMATION pi{};
    const DWORD flags =
        CREATE_UNICODE_ENVIRONMENT | (options.startSuspended ? CREATE_SUSPENDED : 0);
    const BOOL started =
        startProcess(program, commandLine, TRUE, flags, program.parent_path(), si, pi);
    const DWORD error = GetLastError();
    CloseHandle(writeEnd);
    if (input != INVALID_HANDLE_VALUE) {
        CloseHandle(input);
    }
    if (!started) {
        CloseHandle(readEnd_);
        throw std::runtime_error("CreateProcessW failed for " + toUtf8(program.wstring()) +
                                 " with code " + std::to_string(error));
    }
    process_ = pi.hProcess;
    thread_ = pi.hThread;
    watchdog_ = CreateThread(nullptr, 0, &PipedChild::watch, this, 0, nullptr);
}

PipedChild::~PipedChild() {
    if (!wait(0)) {
        terminate();
    }
    WaitForSingleObject(watchdog_, INFINITE);
    CloseHandle(watchdog_);
    CloseHandle(thread_);
    CloseHandle(process_);
    CloseHandle(readEnd_);
}

DWORD WINAPI PipedChild::watch(void* self) {
    auto* child = static_cast<PipedChild*>(self);
    if (WaitForSingleObject(child->process_, child->timeoutMs_) == WAIT_TIMEOUT) {
        child->timedOut_ = true;
        TerminateProcess(child->process_, 99);
    }
    return 0;
}

void PipedChild::resume() {
    ResumeThread(thread_);
}

bool PipedChild::nextLine(std::string& line) {
    for (;;) {
        const auto end = pending_.find("\r\n");
        if (end != std::string::npos) {
            line = toUtf8(fromCodePage(pending_.substr(0, end), kUpdaterCodePage));
            pending_.erase(0, end + 2);
            return true;
        }
        if (ended_) {
            if (pending_.empty()) {
                return false;
            }
            line = toUtf8(fromCodePage(pending_, kUpdaterCodePage));
            pending_.clear();
            return true;
        }
        char buffer[4096];
        DWORD got = 0;
        if (!ReadFile(readEnd_, buffer, sizeof buffer, &got, nullptr) || got == 0) {
            ended_ = true; // every writer has closed its end
            continue;
        }
        pending_.append(buffer, got);
    }
}

std::vector<std::string> PipedChild::remainingLines() {
    std::vector<std::string> lines;
    std::string line;
    while (nextLine(line)) {
        lines.push_back(line);
    }
    return lines;
}

void PipedChild::terminate() {
    TerminateProcess(process_, 99);
    WaitForSingleObject(process_, 30000);
}

bool PipedChild::wait(DWORD timeoutMs) {
    return WaitForSingleObject(process_, timeoutMs) == WAIT_OBJECT_0;
}

DWORD PipedChild::exitCode() {
    WaitForSingleObject(process_, INFINITE);
    DWORD code = 0;
    GetExitCodeProcess(process_, &code);
    return code;
}

} // namespace kyrtest
