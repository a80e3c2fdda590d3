// The run of the built kyrUpdater.exe: start lines, exit codes and the texts of failures,
// with the process locale at its text boundaries (code page 1251 out, UTF-8 in the log).
#include "updater_test_util.h"

#include <gtest/gtest.h>

#include <cstdlib>

using namespace kyrtest;

TEST(UpdaterRun, PrefixMatchesTheExpectedArchitecture) {
    // The suite runs in several Wine prefixes; make sure each one is what it claims to be, so
    // that both default server names are really exercised where the machine allows.
    const char* expected = std::getenv("KYR_EXPECT_WOW64");
    if (!expected) {
        GTEST_SKIP() << "KYR_EXPECT_WOW64 is not set (scripts/test.sh and run-tests.cmd set it)";
    }
    EXPECT_EQ(underWow64(), std::string(expected) == "1");
}

TEST(UpdaterRun, CheckOnlyRunWithoutArgumentsNamesItsOwnDirectoryAndTheDefaultServer) {
    UpdaterInstall install;
    const RunResult r = install.run({L"--check-updates"});
    ASSERT_FALSE(r.timedOut);
    EXPECT_EQ(r.exitCode, 0u);
    const auto lines = startLines(install.appDir(), defaultExeName());
    EXPECT_EQ(r.out, asOutput(lines));
    EXPECT_EQ(install.onlyLogMessages(), lines);
}

TEST(UpdaterRun, FullRunReportsStartLinesAndUpdateComplete) {
    UpdaterInstall install;
    install.install(L"standinServer.exe", defaultExeName());
    const RunResult r = install.run();
    ASSERT_FALSE(r.timedOut);
    EXPECT_EQ(r.exitCode, 0u) << r.out;
    const auto lines = startLines(install.appDir(), defaultExeName());
    ASSERT_GE(reportedLines(r.out).size(), 4u) << r.out;
    EXPECT_EQ(r.out.substr(0, asOutput(lines).size()), asOutput(lines));
    EXPECT_EQ(reportedLines(r.out).back(), "Update complete");
    EXPECT_EQ(install.onlyLogMessages(), reportedLines(r.out));
}

TEST(UpdaterRun, OptionsShapeTheStartLines) {
    UpdaterInstall install;
    struct Case {
        std::vector<std::wstring> arguments;
        std::wstring appDir;
        std::wstring exeName;
    };
    const std::wstring app = install.appDir().wstring();
    std::wstring slashed = app;
    for (auto& c : slashed) {
        if (c == L'\\') {
            c = L'/';
        }
    }
    const Case cases[] = {
        {{L"--check-updates", L"--appDir", slashed}, app + L"\\", defaultExeName()},
        {{L"--CHECK-UPDATES", L"--exeName", L"other"}, app, L"other.exe"},
        {{L"a", L"--check-updates", L"b"}, app, L"b.exe"},
        {{L"--check-updates", L"--appDir"}, app, defaultExeName()},
        {{L"--check-updates", L"--exeName", L""}, app, defaultExeName()},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(toUtf8(commandLineOf(L"kyrUpdater.exe", c.arguments)));
        const RunResult r = install.run(c.arguments);
        EXPECT_EQ(r.exitCode, 0u);
        EXPECT_EQ(r.out, asOutput(startLines(c.appDir, c.exeName)));
    }
}

TEST(UpdaterRun, CyrillicTextLeavesInCodePage1251AndIsLoggedInUtf8) {
    UpdaterInstall install;
    // "--appDir" names a folder in Cyrillic letters: Приложение.
    const std::wstring cyrillic = L"\x041F\x0440\x0438\x043B\x043E\x0436\x0435\x043D\x0438\x0435";
    const fs::path appDir = install.root() / cyrillic;
    fs::create_directories(appDir);
    const RunResult r = install.run({L"--check-updates", L"--appDir", appDir.wstring()});
    EXPECT_EQ(r.exitCode, 0u);
    const std::wstring line = L"Application directory: " + appDir.wstring() + L"\\";
    EXPECT_NE(r.out.find(toCodePage(line, 1251) + "\r\n"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find(toUtf8(cyrillic)), std::string::npos) << "UTF-8 on standard output";
    const auto messages = install.onlyLogMessages();
    ASSERT_EQ(messages.size(), 3u);
    EXPECT_EQ(messages[1], toUtf8(line));
}

TEST(UpdaterRun, FailureBeforeTheLogIsOpenReachesStandardOutputOnly) {
    UpdaterInstall install;
    // The log folder cannot be made: "kyrUpdater" below logs is a file.
    install.put(L"logs\\kyrUpdater", "not a folder");
    const RunResult r = install.run({L"--check-updates"});
    EXPECT_EQ(r.exitCode, 1u);
    const auto lines = reportedLines(r.out);
    ASSERT_EQ(lines.size(), 1u) << r.out;
    // The text names the folder that could not be made and carries the system's message; on
    // a system without an English text for the code it ends after the folder.
    const std::string folderPrefix = toUtf8((install.logsDir() / L"kyrUpdater").wstring() + L"\\");
    EXPECT_EQ(lines[0].rfind(folderPrefix, 0), 0u) << lines[0];
    const std::string message = toUtf8(systemMessage(ERROR_ALREADY_EXISTS));
    if (message.empty()) {
        EXPECT_EQ(lines[0].find(": "), std::string::npos) << lines[0];
    } else {
        EXPECT_NE(lines[0].find(": " + message), std::string::npos) << lines[0];
    }
    EXPECT_TRUE(install.logs().empty());
}
