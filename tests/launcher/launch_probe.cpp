// The launcher's run sequence (runLauncher, as kyrServer.com runs it) with a stand-in for
// the library search, chosen by the first argument. It gives the tests the outcomes that
// no library layout produces on every system: each kind of failure before an entry is
// obtained, and a C++ exception from the entry.
//   launchProbe.exe <case>
#include "launch.h"

#include <windows.h>

#include <cwchar>
#include <new>
#include <stdexcept>
#include <string>

namespace {

std::wstring probeCase;

int __cdecl entryThatThrows(int, wchar_t**) {
    throw std::runtime_error("thrown by the entry");
}

ServerMainFn standInSearch(std::wostream& loadLog) {
    if (probeCase == L"silent-error") {
        throw std::runtime_error("Error calling GetModuleFileNameW with code 5");
    }
    if (probeCase == L"entry-throws") {
        return &entryThatThrows;
    }
    loadLog << L"probe: searched" << std::endl;
    if (probeCase == L"runtime-error") {
        throw std::runtime_error("probe failure");
    }
    if (probeCase == L"bad-alloc") {
        throw std::bad_alloc();
    }
    if (probeCase == L"not-std") {
        throw 42;
    }
    if (probeCase == L"access-violation") {
        volatile int* volatile nowhere = nullptr;
        *nowhere = 1;
    }
    if (probeCase == L"msvc-throw") {
        RaiseException(0xE06D7363, EXCEPTION_NONCONTINUABLE, 0, nullptr);
    }
    return nullptr; // "no-entry"
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    probeCase = argc > 1 ? argv[1] : L"";
    return runLauncher(argc, argv, &standInSearch);
}
