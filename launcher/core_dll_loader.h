// CoreDllLoader finds the server core library "kyrServer.dll" - in the library directory
// server\x86 below the launcher's own directory, else in the launcher's directory - loads
// it after the Universal C Runtime library and looks up its entry "wmain". Every step goes
// into the load log. Nothing it loads is ever unloaded, and the directories it adds to the
// DLL search path stay there for the life of the process; destroying the loader frees only
// its strings.
#pragma once

#include <windows.h>

#include <ostream>
#include <string>

// The core library's entry: wmain with the C calling convention.
using ServerMainFn = int(__cdecl*)(int argc, wchar_t** argv);

class CoreDllLoader {
public:
    // Takes the launcher's own directory (moduleDir, which can throw) and keeps a pointer
    // to the load log; writes nothing yet.
    explicit CoreDllLoader(std::wostream& loadLog);

    // The directory of the launcher's own executable file.
    static std::wstring moduleDir();

    // The library directory: appDir\server\x86.
    std::wstring dllRoot() const;

    // Adds dir to the DLL search path with AddDllDirectory where kernel32 has it, else
    // sets it with SetDllDirectoryW, and makes the default directories the search order
    // of later loads where the system offers that. True when the directory was added or
    // set. Throws nothing of its own.
    bool addDllSearchPath(const std::wstring& dir);

    // The entry of the first core library found: library directory first, then appDir.
    // Empty when neither holds one; throws std::runtime_error when a library that is there
    // cannot be loaded or has no entry, or the library directory cannot be added.
    ServerMainFn findServerMain();

    // The entry of the core library in dir; empty when dir holds no such file.
    ServerMainFn loadFromDir(const std::wstring& dir);

private:
    std::wstring appDir;
    std::wstring dllName;
    std::wstring crtDllName;
    HMODULE crtModule;
    std::wostream* log;
};
