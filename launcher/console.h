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

// What the launcher knows of its console when a failure report is made.
struct ConsoleSituation {
    bool consoleCreated;            // the launcher had to create a console for the report
    unsigned long consoleProcesses; // processes on the console it was started with
    bool consoleHasWindow;          // that console has a window (GetConsoleWindow)
    bool startedHidden;             // its starter asked for no window to be shown (SW_HIDE)
    bool outputIsConsole;           // standard output is written to a console
    bool interactiveSession;        // not session 0 (services)
};

// Whether a failure report is followed by "Press any key to exit." and a wait for a key:
// only where the console would close with the launcher before anybody could read it (a
// console the launcher had to create, or a window of its own as a double-click in Explorer
// gives it, with the report shown there), and never where nobody can press a key: session 0
// (services), a console without a window (a supervisor's or a build runner's
// CREATE_NO_WINDOW) or a launcher started hidden, whose console window is hidden too.
bool waitsForKey(const ConsoleSituation& situation);

// The number of processes attached to this process's console (0 when it has none).
unsigned long consoleProcessCount();

// Whether this process's console has a window. Inside a pseudoconsole (Windows Terminal, an
// SSH session) the window is a stand-in that is never shown, but a terminal shows the console
// elsewhere and passes its keys on, so it counts as a window.
bool consoleHasWindow();

// Whether the process was started with the request to hide its window (STARTF_USESHOWWINDOW
// with SW_HIDE): a console window made for it is hidden as well.
bool startedHidden();

// Whether standard output is written to a console (not redirected to a file or pipe).
bool outputIsConsole();

// Whether the process runs in an interactive session, that is not in session 0.
bool interactiveSession();
