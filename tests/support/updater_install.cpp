#include "updater_install.h"

#include <gtest/gtest.h>

namespace kyrtest {

UpdaterInstall::UpdaterInstall(const fs::path& appFolder) : temp_(L"kyrupd") {
    appDir_ = temp_.path() / appFolder;
    fs::create_directories(appDir_ / L"logs");
    fs::copy_file(builtProgram(L"kyrUpdater.exe"), updater());
}

void UpdaterInstall::put(const fs::path& relative, const std::string& content) const {
    const fs::path path = appDir_ / relative;
    fs::create_directories(path.parent_path());
    writeFile(path, content);
}

bool UpdaterInstall::exists(const fs::path& relative) const {
    return GetFileAttributesW((appDir_ / relative).c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::string UpdaterInstall::content(const fs::path& relative) const {
    return readFile(appDir_ / relative);
}

void UpdaterInstall::install(const std::wstring& builtName, const fs::path& relative) const {
    const fs::path path = appDir_ / relative;
    fs::create_directories(path.parent_path());
    fs::copy_file(builtProgram(builtName), path, fs::copy_options::overwrite_existing);
}

RunResult UpdaterInstall::run(const std::vector<std::wstring>& arguments,
                              const RunOptions& options) const {
    return kyrtest::run(updater(), arguments, options);
}

std::string UpdaterInstall::serverRecord(const std::wstring& exeName, DWORD waitMs) const {
    const fs::path record = appDir_ / (exeName + L".run.txt");
    const DWORD limit = scaledMs(waitMs);
    for (DWORD waited = 0; waited < limit && !fs::exists(record); waited += 20) {
        Sleep(20);
    }
    return fs::exists(record) ? readFile(record) : std::string();
}

std::vector<fs::path> UpdaterInstall::logs() const {
    return logFiles(logsDir());
}

std::vector<std::string> UpdaterInstall::onlyLogMessages() const {
    const auto files = logs();
    EXPECT_EQ(files.size(), 1u);
    if (files.size() != 1) {
        return {};
    }
    return logMessages(readFile(files.front()));
}

} // namespace kyrtest
