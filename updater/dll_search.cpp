#include "dll_search.h"

#include "support/system_function.h"

DllSearchFunctions systemDllSearchFunctions() {
    DllSearchFunctions functions;
    functions.setDefaultDllDirectories = systemFunction<decltype(&SetDefaultDllDirectories)>(
        L"kernel32", "SetDefaultDllDirectories");
    functions.setDllDirectory =
        systemFunction<decltype(&SetDllDirectoryW)>(L"kernel32", "SetDllDirectoryW");
    return functions;
}

DllSearchRoute restrictDllSearch(const DllSearchFunctions& functions) {
    if (functions.setDefaultDllDirectories &&
        functions.setDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32)) {
        return DllSearchRoute::System32Only;
    }
    if (functions.setDllDirectory && functions.setDllDirectory(L"")) {
        return DllSearchRoute::NoCurrentDirectory;
    }
    return DllSearchRoute::Unchanged;
}
