// Where the updater's process looks for libraries loaded at run time. The shell loads some
// of its libraries only when they are first needed (to start the server, to find the
// common application-data folder); by default the system looks for them in the
// application's folder, the current directory and PATH, any of which a user without rights
// may be able to write to. The updater, usually elevated, takes them from System32 only.
#pragma once

#include <windows.h>

// The two system functions that restrict the search; either may be missing (a Windows 7
// without update KB2533623 has no SetDefaultDllDirectories).
struct DllSearchFunctions {
    decltype(&SetDefaultDllDirectories) setDefaultDllDirectories = nullptr;
    decltype(&SetDllDirectoryW) setDllDirectory = nullptr;
};

enum class DllSearchRoute {
    System32Only,       // SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32)
    NoCurrentDirectory, // SetDllDirectoryW(L""): the current directory leaves the search
    Unchanged,          // neither function there, or both failed
};

// The functions as kernel32 offers them, looked up at run time.
DllSearchFunctions systemDllSearchFunctions();

// Restricts the search by the best route available. Reports nothing.
DllSearchRoute restrictDllSearch(const DllSearchFunctions& functions);
