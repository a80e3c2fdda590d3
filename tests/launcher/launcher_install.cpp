#include "launcher_install.h"

#include <gtest/gtest.h>

namespace kyrtest {

namespace {

std::wstring flag(bool value) {
    return value ? L"1" : L"0";
}

} // namespace

LauncherInstall::LauncherInstall(const fs::path& folder)
    : temp_(L"ks"), appDir_(folder.empty() ? temp_.path() : temp_.path() / folder) {
    fs::create_directories(appDir_);
    fs::copy_file(builtProgram(L"kyrServer.com"), launcher());
}

void LauncherInstall::putLibrary(const std::wstring& variant, const fs::path& dir,
                                 const std::wstring& fileName) const {
    fs::create_directories(dir);
    fs::copy_file(coreLibrary(variant), dir / fileName, fs::copy_options::overwrite_existing);
}

void LauncherInstall::putFile(const fs::path& path, const std::string& bytes) const {
    fs::create_directories(path.parent_path());
    writeFile(path, bytes);
}

RunResult LauncherInstall::run(const std::vector<std::wstring>& arguments,
                               const RunOptions& options) const {
    RunOptions withTimeout = options;
    withTimeout.timeoutMs = 20000;
    return kyrtest::run(launcher(), arguments, withTimeout);
}

fs::path coreLibrary(const std::wstring& variant) {
    return binDir() / L"core_libraries" / variant / L"kyrServer.dll";
}

std::vector<std::wstring> searchStartLines(const fs::path& appDir) {
    std::vector<std::wstring> lines{L"app: " + appDir.wstring()};
    const HMODULE crt = LoadLibraryExW(L"ucrtbase.dll", nullptr, LOAD_LIBRARY_SEARCH_DEFAULT_DIRS);
    const DWORD error = GetLastError();
    lines.push_back(L"LoadLibraryExW(ucrtbase.dll): " + flag(crt != nullptr));
    if (!crt) {
        lines.push_back(L"    GetLastError(): " + std::to_wstring(error));
    }
    lines.push_back(L"dllRoot: " + (appDir / L"server" / L"x86").wstring());
    return lines;
}

AddDllDirectoryFn addDllDirectoryFunction() {
    return reinterpret_cast<AddDllDirectoryFn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32"), "AddDllDirectory")));
}

RemoveDllDirectoryFn removeDllDirectoryFunction() {
    return reinterpret_cast<RemoveDllDirectoryFn>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"kernel32"), "RemoveDllDirectory")));
}

std::vector<std::wstring> searchPathLines(const fs::path& dir) {
    const HMODULE kernel32 = GetModuleHandleW(L"kernel32");
    const AddDllDirectoryFn addDllDirectory = addDllDirectoryFunction();
    const RemoveDllDirectoryFn removeDllDirectory = removeDllDirectoryFunction();
    const bool hasSetDefault = GetProcAddress(kernel32, "SetDefaultDllDirectories") != nullptr;
    std::vector<std::wstring> lines{L"    GetModuleHandleW(kernel32): 1",
                                    L"        GetProcAddress(kernel32, 'AddDllDirectory'): " +
                                        flag(addDllDirectory != nullptr)};
    bool added = false;
    if (addDllDirectory) {
        // The same call in this process, undone at once.
        const DLL_DIRECTORY_COOKIE cookie = addDllDirectory(dir.c_str());
        const DWORD error = GetLastError();
        lines.push_back(L"        AddDllDirectory(" + dir.wstring() + L"): " + flag(cookie));
        if (cookie) {
            if (removeDllDirectory) {
                removeDllDirectory(cookie);
            }
            added = true;
        } else {
            lines.push_back(L"            GetLastError(): " + std::to_wstring(error));
        }
    }
    if (!added) {
        const BOOL set = SetDllDirectoryW(dir.c_str());
        const DWORD error = GetLastError();
        SetDllDirectoryW(nullptr);
        lines.push_back(L"    SetDllDirectory(" + dir.wstring() + L"): " + std::to_wstring(set));
        if (!set) {
            lines.push_back(L"        GetLastError(): " + std::to_wstring(error));
        }
    }
    lines.push_back(L"    GetProcAddress(kernel32, 'SetDefaultDllDirectories'): " +
                    flag(hasSetDefault));
    if (hasSetDefault) {
        // Cannot fail for the default directories.
        lines.push_back(L"        SetDefaultDllDirectories: 1");
    }
    return lines;
}

std::vector<std::wstring> noLibraryLines(const fs::path& dir) {
    const fs::path library = dir / L"kyrServer.dll";
    const DWORD attributes = GetFileAttributesW(library.c_str());
    const long code = attributes == INVALID_FILE_ATTRIBUTES ? static_cast<long>(GetLastError()) : 0;
    return {L"    server core dll:" + library.wstring(),
            L"        not found: " + std::to_wstring(code)};
}

DWORD loadError(const fs::path& library) {
    const HMODULE module =
        LoadLibraryExW(library.c_str(), nullptr,
                       LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_DEFAULT_DIRS);
    const DWORD error = GetLastError();
    EXPECT_EQ(module, nullptr) << "the library loads: " << toUtf8(library.wstring());
    if (module) {
        FreeLibrary(module);
        return 0;
    }
    return error;
}

std::string launcherOutput(const std::wstring& text) {
    std::string bytes;
    for (const wchar_t c : text) {
        bytes.push_back(c <= 0xFF ? static_cast<char>(c) : '?');
    }
    return bytes;
}

std::string reportOutput(const std::vector<std::wstring>& lines, const std::string& message) {
    std::string out;
    for (const auto& line : lines) {
        out += launcherOutput(line) + "\r\n";
    }
    return out + "\r\nERROR: " + message + "\r\n";
}

std::vector<std::wstring> operator+(std::vector<std::wstring> lines,
                                    const std::vector<std::wstring>& more) {
    lines.insert(lines.end(), more.begin(), more.end());
    return lines;
}

} // namespace kyrtest
