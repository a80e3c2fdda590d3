// Expected texts shared by the black-box tests of kyrUpdater.
#pragma once

#include "updater_install.h"

namespace kyrtest {

// The server program the updater starts by default: "kyrServer64.exe" for a 32-bit updater
// on 64-bit Windows, else "kyrServer.exe" (this process and the updater share their bitness).
inline std::wstring defaultExeName() {
    return underWow64() ? L"kyrServer64.exe" : L"kyrServer.exe";
}

// The three lines every run starts with.
inline std::vector<std::string> startLines(const fs::path& appDir, const std::wstring& exeName) {
    return {"Start kyrUpdater", "Application directory: " + toUtf8(appDir.wstring()),
            "Executable name: " + toUtf8(exeName)};
}

// Lines as the updater writes them to standard output: each ends in CR LF.
inline std::string asOutput(const std::vector<std::string>& lines) {
    std::string out;
    for (const auto& line : lines) {
        out += line + "\r\n";
    }
    return out;
}

inline std::vector<std::string> operator+(std::vector<std::string> lines,
                                          const std::vector<std::string>& more) {
    lines.insert(lines.end(), more.begin(), more.end());
    return lines;
}

inline const wchar_t* const kGuardMutexName =
    L"Global\\KYR|M|UPDATER-7C1E52B0-4D3A-4F19-9B6E-2F0A5D83C614";

} // namespace kyrtest
