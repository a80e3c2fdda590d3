#include "command_line.h"

#include "support/exception.h"
#include "support/system_function.h"
#include "support/unique_handle.h"

#include <windows.h>
#include <shellapi.h>

#include <algorithm>
#include <cwchar>
#include <filesystem>

namespace {

bool isOption(const std::wstring& argument, const wchar_t* name) {
    return _wcsicmp(argument.c_str(), name) == 0;
}

std::wstring appDirValue(std::wstring value) {
    std::replace(value.begin(), value.end(), L'/', L'\\');
    if (value.back() != L'\\') {
        value += L'\\';
    }
    return value;
}

} // namespace

std::wstring defaultExeName(bool wow64) {
    return wow64 ? L"kyrServer64.exe" : L"kyrServer.exe";
}

CommandLineOptions parseArguments(const std::vector<std::wstring>& arguments) {
    CommandLineOptions options;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::wstring& argument = arguments[i];
        const bool hasValue = i + 1 < arguments.size();
        if (isOption(argument, L"--appDir")) {
            if (hasValue) {
                // An empty value is ignored like a missing one: appending a backslash to it
                // would name the root of the current drive.
                if (!arguments[i + 1].empty()) {
                    options.appDir = appDirValue(arguments[i + 1]);
                }
                ++i;
            }
        } else if (isOption(argument, L"--exeName")) {
            if (hasValue) {
                options.exeName = arguments[i + 1];
                ++i;
            }
        } else if (isOption(argument, L"--keepOld")) {
            options.keepOld = true;
        } else if (isOption(argument, L"--check-updates")) {
            options.checkUpdates = true;
        } else {
            options.exeName = argument;
        }
    }
    return options;
}

std::wstring withExeExtension(const std::wstring& name) {
    const std::size_t n = name.size();
    if (n >= 4 && _wcsicmp(name.c_str() + (n - 4), L".exe") == 0) {
        return name;
    }
    return name + L".exe";
}

RunSettings normaliseSettings(const CommandLineOptions& options, const std::wstring& ownDir,
                              bool wow64) {
    RunSettings settings;
    settings.appDir = options.appDir.empty() ? ownDir : options.appDir;
    const std::wstring defaultName = defaultExeName(wow64);
    settings.exeName = options.exeName.empty() ? defaultName : withExeExtension(options.exeName);
    settings.defaultName = settings.exeName == defaultName;
    settings.keepOld = options.keepOld;
    settings.checkUpdates = options.checkUpdates;
    return settings;
}

std::vector<std::wstring> processArguments() {
    int count = 0;
    const UniqueLocalMemory<wchar_t*> argv(CommandLineToArgvW(GetCommandLineW(), &count));
    if (!argv) {
        throwLastError(L"CommandLineToArgvW");
    }
    return std::vector<std::wstring>(argv.get() + std::min(count, 1), argv.get() + count);
}

std::wstring ownModulePath() {
    // A path longer than the classic 260 characters is truncated silently by a short
    // buffer, and its parent would be a wrong directory: grow the buffer until it fits.
    std::wstring buffer(261, L'\0');
    for (;;) {
        const DWORD size = static_cast<DWORD>(buffer.size());
        const DWORD length = GetModuleFileNameW(nullptr, &buffer[0], size);
        if (length == 0) {
            throwLastError(L"getAppDir()");
        }
        if (length < size) {
            buffer.resize(length);
            return buffer;
        }
        if (size >= 32768) {
            throw Exception(L"getAppDir()", ERROR_INSUFFICIENT_BUFFER);
        }
        buffer.assign(std::min<DWORD>(size * 4, 32768), L'\0');
    }
}

std::wstring ownDirectory() {
    return std::filesystem::path(ownModulePath()).parent_path().wstring();
}

bool runsUnderWow64() {
    const auto isWow64Process =
        systemFunction<decltype(&IsWow64Process)>(L"kernel32", "IsWow64Process");
    if (!isWow64Process) {
        return false;
    }
    BOOL wow64 = FALSE;
    if (!isWow64Process(GetCurrentProcess(), &wow64)) {
        throwLastError(L"Error in IsWow64Process");
    }
    return wow64 != FALSE;
}

RunSettings readRunSettings() {
    const CommandLineOptions options = parseArguments(processArguments());
    // The own directory is read only when it is needed, as the default.
    const std::wstring ownDir = options.appDir.empty() ? ownDirectory() : std::wstring();
    return normaliseSettings(options, ownDir, runsUnderWow64());
}
