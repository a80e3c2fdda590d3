// kyrUpdater: puts the staged updates of an installation in place and starts the server
// program again. A GUI-subsystem program that opens no window; it reports on standard
// output and in its per-run log.
#include "dll_search.h"
#include "run.h"

#include <windows.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    // Before anything can load a library at run time.
    restrictDllSearch(systemDllSearchFunctions());
    return runUpdater();
}
