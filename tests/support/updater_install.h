// A temporary installation with its own copy of kyrUpdater.exe and a "logs" folder beside
// it, so that every run's log lands inside the installation.
#pragma once

#include "test_support.h"

namespace kyrtest {

class UpdaterInstall {
public:
    // The application directory is root\appFolder (a relative path, possibly nested).
    explicit UpdaterInstall(const fs::path& appFolder = L"app");

    const fs::path& root() const { return temp_.path(); } // the temporary folder
    const fs::path& appDir() const { return appDir_; }    // root\appFolder, holds kyrUpdater.exe
    fs::path updater() const { return appDir_ / L"kyrUpdater.exe"; }
    fs::path logsDir() const { return appDir_ / L"logs"; }

    // A file below the application directory, created with its folders.
    void put(const fs::path& relative, const std::string& content = "x") const;
    bool exists(const fs::path& relative) const;
    std::string content(const fs::path& relative) const;
    // Copies a built program or fixture into the installation under a name.
    void install(const std::wstring& builtName, const fs::path& relative) const;

    // What the stand-in server installed under exeName recorded when the updater started it
    // (working directory and arguments), waited for up to waitMs; empty if it never ran.
    std::string serverRecord(const std::wstring& exeName, DWORD waitMs = 10000) const;

    RunResult run(const std::vector<std::wstring>& arguments = {},
                  const RunOptions& options = {}) const;
    // The log files written so far, sorted.
    std::vector<fs::path> logs() const;
    // The messages of the only log file; fails the test unless there is exactly one.
    std::vector<std::string> onlyLogMessages() const;

private:
    TempDir temp_;
    fs::path appDir_;
};

} // namespace kyrtest
