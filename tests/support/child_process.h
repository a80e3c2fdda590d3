// Child processes of the tests and the benchmark: command lines quoted as the C runtime reads
// them back, standard output and error captured in files, a retry where Wine fails a start.
// Every handle has an owner (updater/support/unique_handle.h), as in the programs.
#pragma once

#include "updater/support/unique_handle.h"

#include <windows.h>

#include <filesystem>
#include <string>
#include <vector>

namespace kyrtest {

namespace fs = std::filesystem;

// Quotes one argument so that CommandLineToArgvW and the C runtime read it back unchanged.
std::wstring quoteArgument(const std::wstring& argument);
// Program path and arguments as one command line.
std::wstring commandLineOf(const fs::path& program, const std::vector<std::wstring>& arguments);

// A file or device ("NUL") opened for a child to inherit as a standard handle; throws when it
// cannot be opened.
UniqueFileHandle inheritableFile(const fs::path& path, DWORD access, DWORD disposition);

// CreateProcessW, tried again a few times when Wine fails it with ERROR_INTERNAL_ERROR
// (1359), which it does now and then while many processes start and end. Any other
// failure, and the last one, is returned as it is; GetLastError tells the code.
BOOL startProcess(const fs::path& program, std::wstring& commandLine, BOOL inheritHandles,
                  DWORD creationFlags, const fs::path& workDir, STARTUPINFOW& startup,
                  PROCESS_INFORMATION& process);

struct RunOptions {
    fs::path workDir;          // empty: the program's folder
    DWORD creationFlags = 0;   // e.g. DETACHED_PROCESS, CREATE_NEW_CONSOLE
    bool captureOutput = true; // stdout and stderr into files, stdin from NUL
    DWORD timeoutMs = 60000;   // the child is killed after this
};

struct RunResult {
    DWORD exitCode = 0;
    bool timedOut = false;
    std::string out; // exact bytes of standard output
    std::string err; // exact bytes of standard error
};

// A running child process. Its output, when captured, is read once it has ended.
class Child {
public:
    Child(const fs::path& program, const std::vector<std::wstring>& arguments,
          const RunOptions& options = {});
    ~Child(); // kills a child still running
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    DWORD pid() const { return pid_; }
    HANDLE handle() const { return process_.get(); }
    // Waits up to timeoutMs; false when still running.
    bool wait(DWORD timeoutMs);
    bool running() { return !wait(0); }
    void kill(UINT exitCode = 99);
    // Waits (killing it after the run's timeout) and collects exit code and output.
    RunResult finish();

private:
    UniqueHandle process_;
    DWORD pid_ = 0;
    RunOptions options_;
    fs::path outPath_, errPath_;
};

// Runs a program to its end.
RunResult run(const fs::path& program, const std::vector<std::wstring>& arguments,
              const RunOptions& options = {});

} // namespace kyrtest
