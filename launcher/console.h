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

// Whether a failure report is followed by "Press any key to exit." and a wait for a key:
// only where the console would close with the launcher before anybody could read it (a
// console the launcher had to create, or a window of its own as a double-click in Explorer
// gives it, with the report shown there), and never in a session where nobody can press a
// key (session 0: services).
bool waitsForKey(bool consoleCreated, unsigned long consoleProcesses, bool outputIsConsole,
                 bool interactiveSession);

// The number of processes attached to this process's console (0 when it has none).
unsigned long consoleProcessCount();

// Whether standard output is written to a console (not redirected to a file or pipe).
bool outputIsConsole();

// Whether the process runs in an interactive session, that is not in session 0.
bool interactiveSession();
