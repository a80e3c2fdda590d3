// Measurements of the updater: the time per staged file against the baseline program, and
// the time from the last awaited process's end to the first rename.
#pragma once

#include "installation.h"

#include <windows.h>

namespace bench {

struct PerFile {
    double updaterMs;  // per file
    double baselineMs; // per file
    double splitMs;    // per file, the baseline writing each log line in three parts
    double updaterWallMs;
    double baselineWallMs;
    SIZE_T updaterPeak;
};

// The medians of repetitions runs of each program, each in a fresh installation of n staged
// files. With splitBaseline the baseline also runs with its log lines written in three parts
// (else splitMs is -1).
PerFile measurePerFile(Workspace& workspace, int n, int repetitions, bool splitBaseline = false);

struct WaitLatency {
    double benchClockMs; // process end seen by the bench to the first rename line
    double logMs;        // process exit time to the first rename's log time stamp
    bool haveLogMs;      // whether the system gave the exit time and the log the stamp
};

// One update that must wait for KYR.exe: the stand-in process is told to end once the
// updater waits for it. rep makes the stop event's name unique.
WaitLatency measureWaitOnce(Workspace& workspace, int rep);

} // namespace bench
