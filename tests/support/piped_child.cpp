#include "piped_child.h"

#include "time_scale.h"

#include <stdexcept>

namespace kyrtest {

double clockMs() {
    static const double ticksPerMs = [] {
        LARGE_INTEGER frequency;
        QueryPerformanceFrequency(&frequency);
        return static_cast<double>(frequency.QuadPart) / 1000.0;
    }();
    LARGE_INTEGER ticks;
    QueryPerformanceCounter(&ticks);
    return static_cast<double>(ticks.QuadPart) / ticksPerMs;
}

PipedChild::PipedChild(const fs::path& program, const std::vector<std::wstring>& arguments,
                       const PipedOptions& options)
    : codePage_(options.codePage), readAhead_(options.readAhead),
      timeoutMs_(scaledMs(options.timeoutMs)) {
    SECURITY_ATTRIBUTES inheritable{sizeof inheritable, nullptr, TRUE};
    HANDLE readEnd = nullptr;
    HANDLE writeEnd = nullptr;
    if (!CreatePipe(&readEnd, &writeEnd, &inheritable, options.pipeBufferBytes)) {
        throw std::runtime_error("CreatePipe failed with code " + std::to_string(GetLastError()));
    }
    readEnd_.reset(readEnd);
    UniqueHandle writer(writeEnd);
    // Only the write end goes to the child; the read end stays ours alone.
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    const UniqueFileHandle nul =
        inheritableFile(L"NUL", GENERIC_READ | GENERIC_WRITE, OPEN_EXISTING);

    STARTUPINFOW si{};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = nul.get();
    si.hStdOutput = writer.get();
    si.hStdError = options.errorToPipe ? writer.get() : nul.get();
    std::wstring commandLine = commandLineOf(program, arguments);
    const fs::path workDir = options.workDir.empty() ? program.parent_path() : options.workDir;
    const DWORD flags =
        CREATE_UNICODE_ENVIRONMENT | (options.startSuspended ? CREATE_SUSPENDED : 0);
    if (readAhead_) {
        reader_ = std::thread([this] {
            while (readPiece()) {
            }
        });
    }
    PROCESS_INFORMATION pi{};
    startedAtMs_ = clockMs();
    const BOOL started = startProcess(program, commandLine, TRUE, flags, workDir, si, pi);
    const DWORD error = GetLastError();
    // The output ends once the child's copies of the write end are closed.
    writer.reset();
    if (!started) {
        if (reader_.joinable()) {
            reader_.join();
        }
        throw std::runtime_error("CreateProcessW failed for " + toUtf8(program.wstring()) +
                                 " with code " + std::to_string(error));
    }
    process_.reset(pi.hProcess);
    thread_.reset(pi.hThread);
    if (timeoutMs_ != INFINITE) {
        watchdog_ = std::thread([this] {
            if (WaitForSingleObject(process_.get(), timeoutMs_) == WAIT_TIMEOUT) {
                timedOut_ = true;
                TerminateProcess(process_.get(), 99);
            }
        });
    }
}

PipedChild::~PipedChild() {
    if (!wait(0)) {
        terminate();
    }
    if (watchdog_.joinable()) {
        watchdog_.join();
    }
    if (reader_.joinable()) {
        reader_.join();
    }
}

void PipedChild::resume() {
    ResumeThread(thread_.get());
}

std::string PipedChild::decoded(const std::string& bytes) const {
    return codePage_ == 0 ? bytes : toUtf8(fromCodePage(bytes, codePage_));
}

bool PipedChild::readPiece() {
    static constexpr DWORD kPieceBytes = 65536;
    std::string piece(kPieceBytes, '\0');
    DWORD got = 0;
    const bool more = ReadFile(readEnd_.get(), &piece[0], kPieceBytes, &got, nullptr) && got > 0;
    const double at = clockMs();
    const std::lock_guard<std::mutex> lock(mutex_);
    if (more) {
        pending_.append(piece, 0, got);
        for (auto end = pending_.find("\r\n"); end != std::string::npos;
             end = pending_.find("\r\n")) {
            lines_.push_back({decoded(pending_.substr(0, end)), at});
            pending_.erase(0, end + 2);
        }
    } else { // every writer has closed its end
        if (!pending_.empty()) {
            lines_.push_back({decoded(pending_), at});
            pending_.clear();
        }
        ended_ = true;
    }
    arrived_.notify_all();
    return more;
}

bool PipedChild::awaitLine(std::size_t index, std::unique_lock<std::mutex>& lock,
                           const Deadline& until) {
    const auto ready = [&] { return lines_.size() > index || ended_; };
    if (readAhead_) {
        if (until) {
            arrived_.wait_until(lock, *until, ready);
        } else {
            arrived_.wait(lock, ready);
        }
    } else {
        // Nobody else reads: the pipe is read here, on the caller's thread.
        while (!ready()) {
            lock.unlock();
            readPiece();
            lock.lock();
        }
    }
    return lines_.size() > index;
}

bool PipedChild::nextLine(std::string& line) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (!awaitLine(next_, lock, std::nullopt)) {
        return false;
    }
    line = lines_[next_++].text;
    return true;
}

std::vector<std::string> PipedChild::remainingLines() {
    std::vector<std::string> lines;
    std::string line;
    while (nextLine(line)) {
        lines.push_back(line);
    }
    return lines;
}

double PipedChild::waitForLine(const char* prefix, DWORD timeoutMs) {
    const auto until =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(scaledMs(timeoutMs));
    std::unique_lock<std::mutex> lock(mutex_);
    for (std::size_t index = 0; awaitLine(index, lock, until); ++index) {
        if (lines_[index].text.rfind(prefix, 0) == 0) {
            return lines_[index].atMs;
        }
    }
    return -1;
}

const std::vector<PipedLine>& PipedChild::lines() {
    std::unique_lock<std::mutex> lock(mutex_);
    while (awaitLine(lines_.size(), lock, std::nullopt)) {
    }
    return lines_;
}

void PipedChild::terminate(UINT exitCode) {
    TerminateProcess(process_.get(), exitCode);
    WaitForSingleObject(process_.get(), scaledMs(30000));
}

bool PipedChild::wait(DWORD timeoutMs) {
    return WaitForSingleObject(process_.get(), scaledMs(timeoutMs)) == WAIT_OBJECT_0;
}

DWORD PipedChild::exitCode() {
    WaitForSingleObject(process_.get(), INFINITE);
    DWORD code = 0;
    GetExitCodeProcess(process_.get(), &code);
    return code;
}

} // namespace kyrtest
