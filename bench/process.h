// Programs the bench starts, through the tests' process support (tests/support): one with
// its standard output read ahead, each line stamped on its arrival, and its peak working
// set sampled (Run); one timed from start to end with its standard handles on NUL
// (timeStart); and whether a process of a name runs.
#pragma once

#include "piped_child.h"

#include <windows.h>

#include <string>
#include <vector>

namespace bench {

using Line = kyrtest::PipedLine;

class Run {
public:
    // Starts program with the arguments in workDir.
    Run(const std::wstring& program, const std::vector<std::wstring>& arguments,
        const std::wstring& workDir);
    Run(const Run&) = delete;
    Run& operator=(const Run&) = delete;
    // A program still running is terminated by the child's owner.

    // Waits until a line that starts with the prefix has arrived; its time, or -1 when the
    // program ended (or the time ran out) first.
    double waitForLine(const char* prefix, DWORD timeoutMs) {
        return child_.waitForLine(prefix, timeoutMs);
    }

    // Waits for the end. The peak working set is read every 10 ms while the program runs
    // and once more after its end, before the handle is closed: Wine does not always
    // answer for a process that has ended.
    void finish();

    DWORD exitCode() const { return exitCode_; }
    double wallMs() const { return endMs_ - child_.startedAtMs(); }
    SIZE_T peakWorkingSet() const { return peak_; }
    // Every line of the output; after finish().
    const std::vector<Line>& lines() const { return *lines_; }

    // Arrival time of the first line that starts with the prefix; throws when there is none.
    double lineTime(const char* prefix) const;

private:
    void readPeak();

    kyrtest::PipedChild child_;
    const std::vector<Line>* lines_ = nullptr;
    double endMs_ = 0;
    DWORD exitCode_ = 0;
    SIZE_T peak_ = 0;
};

// Milliseconds from CreateProcessW of program with the arguments to the process's end;
// throws unless it ends with 0.
double timeStart(const std::wstring& program, const std::vector<std::wstring>& arguments,
                 const std::wstring& workDir);

// Whether a process of that executable name runs.
bool processRunning(const wchar_t* exeName);

} // namespace bench
