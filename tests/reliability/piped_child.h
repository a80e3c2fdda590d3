// A child process whose standard output is read live through a pipe, line by line, so that a
// test can act at an exact point of what the child reports (for instance end it there). The
// child is kyrUpdater.exe: its lines come in its code page and are handed out in UTF-8.
#pragma once

#include "test_support.h"

#include <atomic>
#include <string>
#include <vector>

namespace kyrtest {

struct PipedOptions {
    // Size asked for the pipe's buffer. A small buffer holds the writer back until the reader
    // has taken the previous line, so the child gets little ahead of the reader.
    DWORD pipeBufferBytes = 0;
    bool startSuspended = false; // resume() lets it run
    DWORD timeoutMs = 60000;     // the child is ended after this (timedOut() then says so)
};

class PipedChild {
public:
    PipedChild(const fs::path& program, const std::vector<std::wstring>& arguments,
               const PipedOptions& options = {});
    ~PipedChild(); // ends a child still running
    PipedChild(const PipedChild&) = delete;
    PipedChild& operator=(const PipedChild&) = delete;

    void resume();
    // The next line of standard output without its CR LF, in UTF-8; false once the output
    // has ended. A last piece without CR LF counts as a line.
    bool nextLine(std::string& line);
    // Every line not read yet, up to the end of the output.
    std::vector<std::string> remainingLines();
    // Ends the child at once (TerminateProcess) and waits until it has gone.
    void terminate();
    bool wait(DWORD timeoutMs);
    DWORD exitCode(); // waits for the end
    bool timedOut() const { return timedOut_; }
    HANDLE handle() const { return process_; }

private:
    static DWORD WINAPI watch(void* self);

    HANDLE process_ = nullptr;
    HANDLE thread_ = nullptr;
    HANDLE readEnd_ = nullptr;
    HANDLE watchdog_ = nullptr;
    DWORD timeoutMs_ = 0;
    std::atomic<bool> timedOut_{false};
    std::string pending_;
    bool ended_ = false;
};

} // namespace kyrtest
