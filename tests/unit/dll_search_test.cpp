// The restriction of the updater's library search: which system function is used, with
// what, and what happens on a Windows that lacks the newer one. Stand-ins with the system
// functions' own signatures (and calling convention) record the calls.
#include "dll_search.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::vector<std::wstring> calls;
BOOL defaultResult = TRUE;
BOOL directoryResult = TRUE;

BOOL WINAPI recordSetDefaultDllDirectories(DWORD flags) {
    calls.push_back(L"SetDefaultDllDirectories " + std::to_wstring(flags));
    return defaultResult;
}

BOOL WINAPI recordSetDllDirectoryW(LPCWSTR directory) {
    calls.push_back(directory ? L"SetDllDirectoryW \"" + std::wstring(directory) + L"\""
                              : L"SetDllDirectoryW null");
    return directoryResult;
}

} // namespace

TEST(DllSearch, System32OnlyWhereTheSystemCanElseNoCurrentDirectory) {
    const std::wstring system32 =
        L"SetDefaultDllDirectories " + std::to_wstring(LOAD_LIBRARY_SEARCH_SYSTEM32);
    const std::wstring emptyDirectory = L"SetDllDirectoryW \"\"";
    struct Case {
        bool hasDefault;
        BOOL defaultResult;
        bool hasDirectory;
        BOOL directoryResult;
        DllSearchRoute route;
        std::vector<std::wstring> calls;
    };
    const Case cases[] = {
        {true, TRUE, true, TRUE, DllSearchRoute::System32Only, {system32}},
        // Windows 7 without KB2533623: no SetDefaultDllDirectories.
        {false, TRUE, true, TRUE, DllSearchRoute::NoCurrentDirectory, {emptyDirectory}},
        {true, FALSE, true, TRUE, DllSearchRoute::NoCurrentDirectory, {system32, emptyDirectory}},
        {true, FALSE, true, FALSE, DllSearchRoute::Unchanged, {system32, emptyDirectory}},
        {false, TRUE, false, TRUE, DllSearchRoute::Unchanged, {}},
    };
    for (const auto& c : cases) {
        calls.clear();
        defaultResult = c.defaultResult;
        directoryResult = c.directoryResult;
        DllSearchFunctions functions;
        if (c.hasDefault) {
            functions.setDefaultDllDirectories = &recordSetDefaultDllDirectories;
        }
        if (c.hasDirectory) {
            functions.setDllDirectory = &recordSetDllDirectoryW;
        }
        EXPECT_EQ(restrictDllSearch(functions), c.route);
        EXPECT_EQ(calls, c.calls);
    }
}

TEST(DllSearch, TheSystemsFunctionsAreFound) {
    // Every Windows the updater supports has SetDllDirectoryW; Wine and current Windows
    // also have SetDefaultDllDirectories.
    const DllSearchFunctions functions = systemDllSearchFunctions();
    EXPECT_EQ(functions.setDllDirectory,
              reinterpret_cast<decltype(&SetDllDirectoryW)>(reinterpret_cast<void (*)()>(
                  GetProcAddress(GetModuleHandleW(L"kernel32"), "SetDllDirectoryW"))));
    EXPECT_NE(functions.setDllDirectory, nullptr);
}
