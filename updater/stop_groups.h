// Stop groups: which of the installation's processes must have ended before a staged file
// may be replaced. The scan says which groups its files need; the wait turns them into
// process name patterns.
#pragma once

// A two-bit set over the groups.
enum StopGroup : int {
    kApplicationProcesses = 1,
    kServerProcesses = 2,
    kAllProcesses = kApplicationProcesses | kServerProcesses,
};
