#include "launch.h"

#include "console.h"
#include "structured_exceptions.h"

#include <windows.h>
#include <conio.h>

#include <climits>
#include <cwchar>

#include <exception>
#include <iostream>
#include <sstream>
#include <stdexcept>
#include <string>

namespace {

struct Run {
    Run(int argc, wchar_t** argv, EntryFinder findEntry)
        : argc(argc), argv(argv), findEntry(findEntry) {}

    int argc;
    wchar_t** argv;
    EntryFinder findEntry;
    std::wostringstream loadLog;
    // Outside the protected region: the code after the handlers must see whether an entry
    // was obtained.
    ServerMainFn entry = nullptr;
    // The console as the launcher was started with it, read before anything else could
    // attach to it or the report could change it: the processes on it (1: a console of its
    // own) and whether it has a window.
    unsigned long consoleProcesses = consoleProcessCount();
    bool hasConsoleWindow = consoleHasWindow();
};

std::wstring widen(const char* text) {
    std::wstring wide;
    for (; *text; ++text) {
        wide.push_back(static_cast<unsigned char>(*text));
    }
    return wide;
}

void logError(Run& run, const std::wstring& message) {
    run.loadLog << std::endl << L"ERROR: " << message << std::endl;
}

// The report as the C runtime's wide standard output can write it: a character that the
// runtime cannot convert (outside Latin-1 in the "C" locale, Cyrillic folder names for
// example) would fail the stream and lose the rest of the report, the "ERROR: " line
// included, so it is written as '?'.
std::wstring writable(const std::wstring& text) {
    std::wstring result = text;
    for (wchar_t& c : result) {
        char bytes[MB_LEN_MAX];
        std::mbstate_t state{};
        if (std::wcrtomb(bytes, c, &state) == static_cast<std::size_t>(-1)) {
            c = L'?';
        }
    }
    return result;
}

// The load log on the console; when the console is one that closes with the launcher, the
// user gets a chance to read it before it disappears.
void showFailureReport(const std::wstring& report, const Run& run) {
    bool created = false;
    if (!consoleAvailable()) {
        created = acquireConsole();
    }
    const bool waitForKey = waitsForKey({created, run.consoleProcesses, run.hasConsoleWindow,
                                         startedHidden(), outputIsConsole(), interactiveSession()});
    std::wcout << writable(report);
    if (waitForKey) {
        std::wcout << std::endl << L"Press any key to exit." << std::flush;
        _getch();
    }
    std::wcout.flush();
}

int endAfterFailure(Run& run) {
    if (!run.entry) {
        const std::wstring report = run.loadLog.str();
        if (!report.empty()) {
            showFailureReport(report, run);
        }
    }
    return 1;
}

int protectedRun(void* context) {
    Run& run = *static_cast<Run*>(context);
    try {
        run.entry = run.findEntry(run.loadLog);
        if (!run.entry) {
            throw std::runtime_error("Server main dll function not found");
        }
        // The diagnostics of a successful search are dropped before the server runs.
        run.loadLog = std::wostringstream();
        return run.entry(run.argc, run.argv);
    } catch (const std::exception& failure) {
        logError(run, widen(failure.what()));
    } catch (...) {
        logError(run, L"unhandled exception");
    }
    return endAfterFailure(run);
}

// A structured exception on the launcher's thread counts as "any other exception". Once
// the server's entry was obtained, the server's own code failed and the process may be
// corrupted: it ends at once, without the C runtime's exit, which would run atexit handlers
// and the libraries' detach code in it.
int afterStructuredException(void* context) {
    Run& run = *static_cast<Run*>(context);
    if (run.entry) {
        TerminateProcess(GetCurrentProcess(), 1);
    }
    logError(run, L"unhandled exception");
    return endAfterFailure(run);
}

// The thread's error mode for the launcher's own library loads: a library that is missing,
// broken or lacks an import fails its load instead of holding the launcher in a system dialog
// that nobody may be there to close (a launcher under a supervisor or a service), and the
// failure reaches the report. The server's entry gets the mode back as the launcher was
// started with it.
class QuietLibraryLoads {
public:
    QuietLibraryLoads()
        : set_(SetThreadErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX, &previous_) !=
               FALSE) {}
    ~QuietLibraryLoads() {
        if (set_) {
            SetThreadErrorMode(previous_, nullptr);
        }
    }
    QuietLibraryLoads(const QuietLibraryLoads&) = delete;
    QuietLibraryLoads& operator=(const QuietLibraryLoads&) = delete;

private:
    DWORD previous_ = 0;
    bool set_;
};

} // namespace

ServerMainFn findWithCoreDllLoader(std::wostream& loadLog) {
    // Without a library directory nothing else changes the DLL search of the process, and the
    // server's own later loads by bare name would take a library from the current folder,
    // where whoever may write there can plant one. Where the library directory is added, its
    // calls take the place of this one.
    SetDllDirectoryW(L"");
    const QuietLibraryLoads quiet;
    CoreDllLoader loader(loadLog);
    return loader.findServerMain();
}

int runLauncher(int argc, wchar_t** argv, EntryFinder findEntry) {
    Run run(argc, argv, findEntry);
    return callCatchingStructuredExceptions(&protectedRun, &afterStructuredException, &run);
}
