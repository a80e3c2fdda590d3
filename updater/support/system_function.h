// Optional functions of system libraries, looked up at run time where an older Windows may
// lack them (IsWow64Process, GetSystemTimePreciseAsFileTime, SetDefaultDllDirectories).
#pragma once

#include <windows.h>

// The function of an already loaded system library, or null. Function is the pointer type,
// written as decltype(&TheFunction) so that it carries the system's calling convention.
template <typename Function>
Function systemFunction(const wchar_t* library, const char* name) {
    const HMODULE module = GetModuleHandleW(library);
    if (!module) {
        return nullptr;
    }
    // Through a plain function pointer: the usual way to convert what GetProcAddress gives.
    return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
}
