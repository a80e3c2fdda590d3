// Measurement of the launcher's start: kyrServer.com with a core library whose wmain returns
// at once, against a program that does nothing and two probes between them.
#pragma once

#include "installation.h"

namespace bench {

struct Launch {
    double launcherMs;
    double bareMs;
    double crtMs;  // the bare program loading ucrtbase.dll as the launcher does
    double coreMs; // ... and then the core library, calling its wmain
};

// Start to end of each program, started the same way in turns (after three rounds to warm
// up); the medians of repetitions rounds. Works in a folder "launch" of the workspace.
Launch measureLaunch(const Workspace& workspace, int repetitions);

} // namespace bench
