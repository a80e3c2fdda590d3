// The console of a failed launch. The launcher touches the console only to report a
// failure: a library entry that runs starts with exactly the console and standard streams
// that the process was started with.
#pragma once

// True when the process has a console window, or could attach to its parent's console
// and connect the standard streams to it.
bool consoleAvailable();

// Like consoleAvailable, but when neither holds creates a new console for the process and
// connects the standard streams to it. True when a console is there to write to.
bool acquireConsole();

// Connects the C runtime's standard output and standard error, and the standard library
// streams above them, to the process's console.
bool reopenStdStreams();
