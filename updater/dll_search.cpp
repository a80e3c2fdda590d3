#include "dll_search.h"

namespace {

// An optional function of a system library, or null where this Windows lacks it.
template <typename Function>
Function lookUp(const wchar_t* library, const char* name) {
    const HMODULE module = GetModuleHandleW(library);
    return module ? reinterpret_cast<Function>(
                        reinterpret_cast<void (*)()>(GetProcAddress(module, name)))
                  : nullptr;
}

} // namespace

DllSearchFunctions systemDllSearchFunctions() {
    DllSearchFunctions functions;
    functions.setDefaultDllDirectories = lookUp<decltype(&SetDefaultDllDirectories)>(
        L"kernel32", "SetDefaultDllDirectories");
    functions.setDllDirectory =
        lookUp<decltype(&SetDllDirectoryW)>(L"kernel32", "SetDllDirectoryW");
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
