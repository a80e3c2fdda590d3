// The run sequence of the updater, from the process locale to "Update complete".
#pragma once

// One pass: locale, command line, log, start lines, guard, scan, wait, replacement,
// cleanup, restart. Returns the exit code: 0 for a completed run, a check-only run that
// found nothing and a run turned away by another updater's guard; 1 for a check-only run
// that found staged files and for a failure that reached the top.
int runUpdater();
