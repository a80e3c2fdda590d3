#include "core_dll_loader.h"

#include "call_error.h"
#include "path_status.h"
#include "paths.h"

#include <stdexcept>
#include <vector>

namespace {

// Both libraries are loaded with their own directory searched first for what they import,
// then the system's default directories.
constexpr DWORD kDirAndDefaultDirs =
    LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_DEFAULT_DIRS;

// Newer kernel32 functions, looked up by name: older systems do not have them.
using AddDllDirectoryFn = decltype(&AddDllDirectory);
using SetDefaultDllDirectoriesFn = decltype(&SetDefaultDllDirectories);

template <typename Fn>
Fn kernel32Function(HMODULE kernel32, const char* name) {
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(kernel32, name)));
}

} // namespace

CoreDllLoader::CoreDllLoader(std::wostream& loadLog)
    : appDir(moduleDir()), dllName(std::wstring(L"kyrServer") + L".dll"),
      crtDllName(L"ucrtbase.dll"), crtModule(nullptr), log(&loadLog) {}

std::wstring CoreDllLoader::moduleDir() {
    std::vector<wchar_t> buffer(32000);
    const DWORD n = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (n == 0) {
        throwCallError("GetModuleFileNameW", GetLastError());
    }
    return parentPath(std::wstring(buffer.data(), n));
}

std::wstring CoreDllLoader::dllRoot() const {
    return joinPath(joinPath(appDir, L"server"), L"x86");
}

bool CoreDllLoader::addDllSearchPath(const std::wstring& dir) {
    const HMODULE kernel32 = GetModuleHandleW(L"kernel32");
    *log << L"    GetModuleHandleW(kernel32): " << (kernel32 != nullptr) << std::endl;
    bool added = false;
    if (kernel32) {
        const auto addDllDirectory =
            kernel32Function<AddDllDirectoryFn>(kernel32, "AddDllDirectory");
        *log << L"        GetProcAddress(kernel32, 'AddDllDirectory'): "
             << (addDllDirectory != nullptr) << std::endl;
        if (addDllDirectory) {
            const DLL_DIRECTORY_COOKIE cookie = addDllDirectory(dir.c_str());
            const DWORD error = GetLastError();
            *log << L"        AddDllDirectory(" << dir << L"): " << (cookie != nullptr)
                 << std::endl;
            if (cookie) {
                added = true;
            } else {
                *log << L"            GetLastError(): " << error << std::endl;
            }
        }
    }
    if (!added) {
        const BOOL set = SetDllDirectoryW(dir.c_str());
        const DWORD error = GetLastError();
        *log << L"    SetDllDirectory(" << dir << L"): " << set << std::endl;
        added = set != FALSE;
        if (!set) {
            *log << L"        GetLastError(): " << error << std::endl;
        }
        if (!kernel32) {
            return added;
        }
    }
    const auto setDefaultDllDirectories =
        kernel32Function<SetDefaultDllDirectoriesFn>(kernel32, "SetDefaultDllDirectories");
    *log << L"    GetProcAddress(kernel32, 'SetDefaultDllDirectories'): "
         << (setDefaultDllDirectories != nullptr) << std::endl;
    if (setDefaultDllDirectories) {
        const BOOL set = setDefaultDllDirectories(LOAD_LIBRARY_SEARCH_DEFAULT_DIRS);
        const DWORD error = GetLastError();
        *log << L"        SetDefaultDllDirectories: " << set << std::endl;
        if (!set) {
            *log << L"        GetLastError(): " << error << std::endl;
        }
    }
    return added;
}

ServerMainFn CoreDllLoader::findServerMain() {
    *log << L"app: " << appDir << std::endl;

    crtModule = LoadLibraryExW(crtDllName.c_str(), nullptr, LOAD_LIBRARY_SEARCH_DEFAULT_DIRS);
    const DWORD crtError = GetLastError();
    *log << L"LoadLibraryExW(" << crtDllName << L"): " << (crtModule != nullptr) << std::endl;
    if (!crtModule) {
        *log << L"    GetLastError(): " << crtError << std::endl;
    }

    const std::wstring root = dllRoot();
    *log << L"dllRoot: " << root << std::endl;
    if (pathStatus(root).type == PathStatus::Type::none) {
        *log << L"    dllRoot not found" << std::endl;
    } else {
        if (!addDllSearchPath(root)) {
            throw std::runtime_error(
                "Error when adding the dll search path (AddDllDirectory/SetDllDirectory)");
        }
        if (const ServerMainFn entry = loadFromDir(root)) {
            return entry;
        }
    }

    *log << L"try app: " << appDir << std::endl;
    return loadFromDir(appDir);
}

ServerMainFn CoreDllLoader::loadFromDir(const std::wstring& dir) {
    const std::wstring dllPath = joinPath(dir, dllName);
    *log << L"    server core dll:" << dllPath << std::endl;

    const PathStatus status = pathStatus(dllPath);
    if (status.type != PathStatus::Type::regular) {
        *log << L"        not found: " << static_cast<long>(status.error) << std::endl;
        return nullptr;
    }

    if (!crtModule) {
        const std::wstring crtPath = joinPath(dir, crtDllName);
        crtModule = LoadLibraryExW(crtPath.c_str(), nullptr, kDirAndDefaultDirs);
        const DWORD error = GetLastError();
        *log << L"    LoadLibraryExW(" << crtPath << L"): " << (crtModule != nullptr) << std::endl;
        if (!crtModule) {
            *log << L"        GetLastError(): " << error << std::endl;
        }
    }

    const HMODULE library = LoadLibraryExW(dllPath.c_str(), nullptr, kDirAndDefaultDirs);
    const DWORD loadError = GetLastError();
    *log << L"    LoadLibraryExW(" << dllPath << L"): " << (library != nullptr) << std::endl;
    if (!library) {
        throwCallError("LoadLibraryExW", loadError);
    }

    const FARPROC entry = GetProcAddress(library, "wmain");
    const DWORD lookupError = GetLastError();
    *log << L"    GetProcAddress(wmain): " << (entry != nullptr) << std::endl;
    if (!entry) {
        throwCallError("GetProcAddress", lookupError);
    }
    return reinterpret_cast<ServerMainFn>(reinterpret_cast<void*>(entry));
}
