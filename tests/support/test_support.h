// Support for tests that run the built programs for real under Windows (or Wine):
// temporary installations, child processes with captured output, the update log.
#pragma once

#include <windows.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace kyrtest {

namespace fs = std::filesystem;

// The folder that holds the built programs and this test program.
fs::path binDir();
// A built program (or fixture) by file name, from binDir().
fs::path builtProgram(const std::wstring& fileName);

// A fresh folder under the temporary folder, removed with everything in it on
// destruction (kept when KYR_KEEP_TEMP is set, for a look after a failure).
class TempDir {
public:
    explicit TempDir(const std::wstring& hint = L"kyr");
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const fs::path& path() const { return path_; }

private:
    fs::path path_;
};

// Quotes one argument so that CommandLineToArgvW and the C runtime read it back unchanged.
std::wstring quoteArgument(const std::wstring& argument);
// Program path and arguments as one command line.
std::wstring commandLineOf(const fs::path& program, const std::vector<std::wstring>& arguments);

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
    HANDLE handle() const { return process_; }
    // Waits up to timeoutMs; false when still running.
    bool wait(DWORD timeoutMs);
    bool running() { return !wait(0); }
    void kill(UINT exitCode = 99);
    // Waits (killing it after the run's timeout) and collects exit code and output.
    RunResult finish();

private:
    HANDLE process_ = nullptr;
    DWORD pid_ = 0;
    RunOptions options_;
    fs::path outPath_, errPath_;
};

// CreateProcessW, tried again a few times when Wine fails it with ERROR_INTERNAL_ERROR
// (1359), which it does now and then while many processes start and end. Any other
// failure, and the last one, is returned as it is; GetLastError tells the code.
BOOL startProcess(const fs::path& program, std::wstring& commandLine, BOOL inheritHandles,
                  DWORD creationFlags, const fs::path& workDir, STARTUPINFOW& startup,
                  PROCESS_INFORMATION& process);

// Runs a program to its end.
RunResult run(const fs::path& program, const std::vector<std::wstring>& arguments,
              const RunOptions& options = {});

// Files and folders through Win32 calls, which take every path the system takes, the literal
// "\\?\" form of a long path included. (MinGW's std::filesystem asks the C runtime's stat,
// which on Windows rejects a path that holds "?" or is longer than MAX_PATH.)
void writeFile(const fs::path& path, const std::string& bytes);
std::string readFile(const fs::path& path);
bool pathExists(const fs::path& path);
// Creates the folder and the folders above it that are missing; throws on failure.
void createDirectories(const fs::path& path);
// The literal form of an absolute path: "\\?\C:\..." ("\\?\UNC\host\..." for a share).
std::wstring literalPath(const fs::path& path);
// Removes a file or a folder with everything in it, also below MAX_PATH's reach; links are
// removed, not followed. False when something could not be removed.
bool removeTree(const fs::path& path);

// Text conversions for expected output.
std::string toUtf8(const std::wstring& text);
std::string toCodePage(const std::wstring& text, UINT codePage);
std::wstring fromCodePage(const std::string& bytes, UINT codePage);
std::wstring fromUtf8(const std::string& text);

// The code page of kyrUpdater's standard output (its process locale is Russian_Russia.1251),
// whatever the system's code pages are. Its log is UTF-8.
constexpr UINT kUpdaterCodePage = 1251;

// The system's English message for an error code, as FormatMessageW gives it (without
// one final line feed), or empty when there is none: for a code without a message, and for
// every code on a Windows without English message files (a Russian one, for instance).
std::wstring systemMessage(DWORD code);
// The text of kyrUpdater's failure for a context and an error code: the context, ": " and
// the system's English message; the context alone where the system has no such message.
std::wstring failureText(const std::wstring& context, DWORD code);

// Every *.log file below base\kyrUpdater, sorted by path.
std::vector<fs::path> logFiles(const fs::path& logsBase);
// The lines of a log file, split on '\n' (the final empty piece dropped).
std::vector<std::string> logLines(const std::string& content);
// The message part of a log line ("timestamp|message" -> message), or the whole line.
std::string logMessage(const std::string& line);
// The messages of a whole log.
std::vector<std::string> logMessages(const std::string& content);
// Standard output split into lines on "\r\n".
std::vector<std::string> outputLines(const std::string& out);

// Whether this process runs under WOW64 (IsWow64Process).
bool underWow64();

// Makes link a directory link to target: a junction on Windows, a Unix symbolic link under
// Wine (which shows it as a reparse point). False when neither can be made here.
bool linkDirectory(const fs::path& link, const fs::path& target);
// Removes such a link, never what it points to.
void removeLink(const fs::path& link);

} // namespace kyrtest
