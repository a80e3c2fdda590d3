// Programs the bench starts: one with its standard output on a pipe, each line stamped on
// its arrival (Run); one timed from start to end with its standard handles on NUL
// (timeStart); and whether a process of a name runs.
#pragma once

#include <windows.h>

#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace bench {

struct Line {
    std::string text;
    double atMs;
};

class Run {
public:
    // Starts program with the command line "program" arguments in workDir.
    Run(const std::wstring& program, const std::wstring& arguments, const std::wstring& workDir);
    Run(const Run&) = delete;
    Run& operator=(const Run&) = delete;
    ~Run(); // a program still running is terminated

    // Waits until a line that starts with the prefix has arrived; its time, or -1 when the
    // program ended (or the time ran out) first.
    double waitForLine(const char* prefix, DWORD timeoutMs);

    // Waits for the end. The peak working set is read every 10 ms while the program runs
    // and once more after its end, before the handle is closed: Wine does not always
    // answer for a process that has ended.
    void finish();

    DWORD exitCode() const { return exitCode_; }
    double wallMs() const { return endMs_ - startMs_; }
    SIZE_T peakWorkingSet() const { return peak_; }
    const std::vector<Line>& lines() const { return lines_; }

    // Arrival time of the first line that starts with the prefix; throws when there is none.
    double lineTime(const char* prefix) const;

private:
    void readLines();
    void readPeak();

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

// Milliseconds from CreateProcessW of "program"arguments (arguments bring their own leading
// space) to the process's end; throws unless it ends with 0.
double timeStart(const std::wstring& program, const std::wstring& arguments,
                 const std::wstring& workDir);

// Whether a process of that executable name runs.
bool processRunning(const wchar_t* exeName);

} // namespace bench
