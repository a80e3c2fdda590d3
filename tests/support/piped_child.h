// A child process whose standard output comes through a pipe, line by line, each line stamped
// with the moment it arrived. Two ways to read it:
//   - when asked (nextLine): the child cannot get further ahead than the pipe's buffer, so a
//     test can act at an exact point of what the child reports, for instance end it there;
//   - ahead, by a thread of its own (readAhead): every line is taken and stamped as it
//     arrives, whatever the caller does meanwhile, for measuring.
// Lines come in the child's code page (kyrUpdater.exe's by default) and are handed out in
// UTF-8.
#pragma once

#include "test_support.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace kyrtest {

// The clock of the lines' arrival: QueryPerformanceCounter, in milliseconds.
double clockMs();

struct PipedLine {
    std::string text; // without its CR LF
    double atMs;      // arrival, on clockMs()
};

struct PipedOptions {
    fs::path workDir; // empty: the program's folder
    // Size asked for the pipe's buffer. A small buffer holds the writer back until the reader
    // has taken the previous line, so the child gets little ahead of the reader.
    DWORD pipeBufferBytes = 0;
    bool startSuspended = false; // resume() lets it run
    DWORD timeoutMs = 60000;     // the child is ended after this (timedOut() then says so);
                                 // INFINITE: never
    bool errorToPipe = true;     // standard error into the same pipe; else to NUL
    UINT codePage = kUpdaterCodePage; // of the child's output; 0: lines keep their bytes
    bool readAhead = false;           // a thread takes every line as it arrives
};

class PipedChild {
public:
    PipedChild(const fs::path& program, const std::vector<std::wstring>& arguments,
               const PipedOptions& options = {});
    ~PipedChild(); // ends a child still running
    PipedChild(const PipedChild&) = delete;
    PipedChild& operator=(const PipedChild&) = delete;

    void resume();
    // The next line of standard output; false once the output has ended. A last piece
    // without CR LF counts as a line.
    bool nextLine(std::string& line);
    // Every line not read yet, up to the end of the output.
    std::vector<std::string> remainingLines();
    // The arrival time of the first line (read or not) that starts with the prefix, once it
    // has come; -1 when the output ended first or, reading ahead, timeoutMs passed. Reading
    // when asked, only the end of the output (or the watchdog) ends the wait.
    double waitForLine(const char* prefix, DWORD timeoutMs);
    // Every line of the output, once it has ended (waits for that).
    const std::vector<PipedLine>& lines();

    // Ends the child at once (TerminateProcess) and waits until it has gone.
    void terminate(UINT exitCode = 99);
    bool wait(DWORD timeoutMs);
    DWORD exitCode(); // waits for the end
    bool timedOut() const { return timedOut_; }
    HANDLE handle() const { return process_.get(); }
    // The moment just before the child was created, on clockMs().
    double startedAtMs() const { return startedAtMs_; }

private:
    using Deadline = std::optional<std::chrono::steady_clock::time_point>;
    // Whether line number index has come (false: the output ended before it), waiting at
    // most until the deadline. Holds the lock when it returns.
    bool awaitLine(std::size_t index, std::unique_lock<std::mutex>& lock, const Deadline& until);
    // Reads what the pipe holds and makes lines of it; false once the output has ended.
    bool readPiece();
    std::string decoded(const std::string& bytes) const;

    UniqueHandle readEnd_;
    UniqueHandle process_;
    UniqueHandle thread_;
    const UINT codePage_;
    const bool readAhead_;
    const DWORD timeoutMs_;
    double startedAtMs_ = 0;
    std::atomic<bool> timedOut_{false};

    std::mutex mutex_;
    std::condition_variable arrived_;
    std::string pending_; // bytes after the last CR LF
    std::vector<PipedLine> lines_;
    std::size_t next_ = 0; // of nextLine
    bool ended_ = false;

    std::thread reader_;   // reading ahead
    std::thread watchdog_; // ends the child after timeoutMs
};

} // namespace kyrtest
