// A temporary installation of kyrServer.com with stand-in core libraries, and the texts
// the launcher is expected to print for it. Expected values that depend on the system
// (load results, error codes) are asked of the system at run time.
#pragma once

#include "test_support.h"

#include <string>
#include <vector>

namespace kyrtest {

class LauncherInstall {
public:
    // kyrServer.com in a new temporary folder, or in a folder below it.
    explicit LauncherInstall(const fs::path& folder = {});

    const fs::path& appDir() const { return appDir_; } // holds kyrServer.com
    fs::path launcher() const { return appDir() / L"kyrServer.com"; }
    fs::path dllRoot() const { return appDir() / L"server" / L"x86"; }

    // Copies the stand-in core library <variant> into dir (created) as kyrServer.dll, or
    // under another file name.
    void putLibrary(const std::wstring& variant, const fs::path& dir,
                    const std::wstring& fileName = L"kyrServer.dll") const;
    // A file with the given bytes, its folder created.
    void putFile(const fs::path& path, const std::string& bytes) const;

    RunResult run(const std::vector<std::wstring>& arguments = {},
                  const RunOptions& options = {}) const;

private:
    TempDir temp_;
    fs::path appDir_;
};

// A built stand-in core library: bin\core_libraries\<variant>\kyrServer.dll.
fs::path coreLibrary(const std::wstring& variant);

// The load log's lines up to "dllRoot: ": the launcher's folder, the result of loading
// ucrtbase.dll from the default directories (as this process gets it), the library
// directory.
std::vector<std::wstring> searchStartLines(const fs::path& appDir);
// The lines of adding dir to the DLL search path, with the results the system gives.
std::vector<std::wstring> searchPathLines(const fs::path& dir);
// The lines of a folder that holds no regular file kyrServer.dll.
std::vector<std::wstring> noLibraryLines(const fs::path& dir);

// What LoadLibraryExW reports for a file that cannot be loaded (the error code).
DWORD loadError(const fs::path& library);

// Text as the launcher writes it to its standard output: the C runtime in its "C" locale
// writes a character from U+0000 to U+00FF as the byte of that value and cannot convert any
// other, which the launcher writes as '?' (a Cyrillic folder name in %TEMP%, for instance).
std::string launcherOutput(const std::wstring& text);

// The failure report as it reaches a redirected standard output: the load log lines, an
// empty line and "ERROR: " + message, each line ending in CR LF.
std::string reportOutput(const std::vector<std::wstring>& lines, const std::string& message);

// The system's AddDllDirectory and RemoveDllDirectory, looked up: Windows 7 has them only
// with update KB2533623, and a program that imports them does not start without it. Null
// where the system has none.
using AddDllDirectoryFn = DLL_DIRECTORY_COOKIE(WINAPI*)(PCWSTR);
using RemoveDllDirectoryFn = BOOL(WINAPI*)(DLL_DIRECTORY_COOKIE);
AddDllDirectoryFn addDllDirectoryFunction();
RemoveDllDirectoryFn removeDllDirectoryFunction();

std::vector<std::wstring> operator+(std::vector<std::wstring> lines,
                                    const std::vector<std::wstring>& more);

} // namespace kyrtest
