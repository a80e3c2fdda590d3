// Expected texts shared by the black-box tests of kyrUpdater.
#pragma once

#include "updater_install.h"

#include <gtest/gtest.h>

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

// Text as the updater writes it to standard output: each UTF-16 unit in its code page, '?'
// for one that the code page lacks.
inline std::string inUpdaterCodePage(const std::wstring& text) {
    std::string bytes;
    for (const wchar_t c : text) {
        char byte = 0;
        BOOL usedDefault = FALSE;
        const int n =
            WideCharToMultiByte(kUpdaterCodePage, 0, &c, 1, &byte, 1, "?", &usedDefault);
        bytes.push_back(n == 1 && !usedDefault ? byte : '?');
    }
    return bytes;
}

// Lines (UTF-8, as in the log) as the updater writes them to standard output: in its code
// page, each ending in CR LF.
inline std::string asOutput(const std::vector<std::string>& lines) {
    std::string out;
    for (const auto& line : lines) {
        out += inUpdaterCodePage(fromUtf8(line)) + "\r\n";
    }
    return out;
}

// The lines of the updater's standard output, in UTF-8 to compare with expected lines and
// with the log's.
inline std::vector<std::string> reportedLines(const std::string& out) {
    return outputLines(toUtf8(fromCodePage(out, kUpdaterCodePage)));
}

inline std::vector<std::string> operator+(std::vector<std::string> lines,
                                          const std::vector<std::string>& more) {
    lines.insert(lines.end(), more.begin(), more.end());
    return lines;
}

// "Rename <from> to <to>" and "Remove <path>" lines, with paths below the application
// directory.
inline std::string renameLine(const fs::path& appDir, const std::wstring& from,
                              const std::wstring& to) {
    return "Rename " + toUtf8((appDir / from).wstring()) + " to " + toUtf8((appDir / to).wstring());
}
inline std::string removeLine(const fs::path& appDir, const std::wstring& path) {
    return "Remove " + toUtf8((appDir / path).wstring());
}
inline std::string runLine(const fs::path& appDir, const std::wstring& exeName,
                           const std::string& parameters) {
    return "Run " + toUtf8((appDir / exeName).wstring()) + " " + parameters;
}

// The lines of a complete run without staged files, for the default server.
inline std::vector<std::string> waitLines() {
    return {"Wait for stop KYR processes...", "KYR processes stopped"};
}
inline std::vector<std::string> endLines(const fs::path& appDir) {
    return {runLine(appDir, defaultExeName(), "/AfterUpdate"), "Update complete"};
}

// What the stand-in server records when it is started in dir with the arguments.
inline std::string serverRecordOf(const fs::path& dir, const std::vector<std::wstring>& argv) {
    std::string record = "working directory: " + toUtf8(dir.wstring()) + "\n";
    for (const auto& argument : argv) {
        record += "argument: " + toUtf8(argument) + "\n";
    }
    return record;
}

// An installation with the stand-in server under the default name.
struct ServerInstall : UpdaterInstall {
    explicit ServerInstall(const fs::path& appFolder = L"app") : UpdaterInstall(appFolder) {
        install(L"standinServer.exe", defaultExeName());
    }
    // Runs the updater; after a completed run also waits for the server it started, so that
    // the server has ended before the installation is removed.
    RunResult update(const std::vector<std::wstring>& arguments = {}) const {
        RunResult r = run(arguments);
        EXPECT_FALSE(r.timedOut);
        if (r.exitCode == 0) {
            serverRecord(defaultExeName());
        }
        return r;
    }
    // The start lines of a run with the default server.
    std::vector<std::string> begin() const { return startLines(appDir(), defaultExeName()); }
};

inline const wchar_t* const kGuardMutexName =
    L"Global\\KYR|M|UPDATER-7C1E52B0-4D3A-4F19-9B6E-2F0A5D83C614";

} // namespace kyrtest
