// The run sequence of the updater, from the process locale to "Update complete".
#pragma once

// One pass: locale, command line, log, start lines, guard, scan, wait, replacement,
// cleanup, restart. Returns the exit code; a failure that reaches the top ends the process
// with exit code 1.
int runUpdater();
