// The run of the built kyrUpdater.exe: start lines, exit codes, failure texts, the locale
// at its text boundaries, and the update log.
#include "updater_install.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <regex>

using namespace kyrtest;

namespace {

std::wstring defaultExe() { return underWow64() ? L"kyrServer64.exe" : L"kyrServer.exe"; }

std::vector<std::string> startLines(const std::wstring& appDir, const std::wstring& exeName) {
    return {"Start kyrUpdater", "Application directory: " + toUtf8(appDir),
            "Executable name: " + toUtf8(exeName)};
}

} // namespace

TEST(UpdaterRun, PrefixMatchesTheExpectedArchitecture) {
    // The suite runs in a 64-bit and a 32-bit prefix; make sure each is what it claims.
    const char* expected = std::getenv("KYR_EXPECT_WOW64");
    if (!expected) {
        GTEST_SKIP() << "KYR_EXPECT_WOW64 not set";
    }
    EXPECT_EQ(underWow64(), std::string(expected) == "1");
}

TEST(UpdaterRun, WithoutArgumentsUsesItsOwnDirectoryAndTheDefaultName) {
    UpdaterInstall install;
    const RunResult r = install.run();
    ASSERT_FALSE(r.timedOut);
    EXPECT_EQ(r.exitCode, 0u) << r.out;
    std::vector<std::string> expected = startLines(install.appDir().wstring(), defaultExe());
    EXPECT_EQ(install.onlyLogMessages(), expected + "Update complete" ...);
}
