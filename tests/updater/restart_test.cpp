// The restart of the server program through the shell once the files are in place.
#include "updater_test_util.h"

#include <gtest/gtest.h>

using namespace kyrtest;

TEST(Restart, DefaultServerGetsAfterUpdateAndTheApplicationDirectory) {
    UpdaterInstall install;
    install.install(L"standinServer.exe", defaultExeName());
    // A working directory elsewhere shows that the server's comes from the updater.
    TempDir elsewhere;
    RunOptions options;
    options.workDir = elsewhere.path();

    const RunResult r = install.run({}, options);

    EXPECT_EQ(r.exitCode, 0u) << r.out;
    const fs::path program = install.appDir() / defaultExeName();
    EXPECT_EQ(install.serverRecord(defaultExeName()),
              serverRecordOf(install.appDir(), {program.wstring(), L"/AfterUpdate"}));
    EXPECT_EQ(reportedLines(r.out).end()[-2],
              runLine(install.appDir(), defaultExeName(), "/AfterUpdate"));
}

TEST(Restart, OtherServerNamesStartWithoutParameters) {
    struct Case {
        std::vector<std::wstring> arguments;
        std::wstring started; // the program the updater starts
    };
    // Under WOW64 the default is kyrServer64.exe, so kyrServer.exe is "another" name; without
    // WOW64 the name's letter case makes it another one.
    const std::wstring otherCase = underWow64() ? L"kyrServer.exe" : L"KYRSERVER.EXE";
    for (const Case& c :
         {Case{{L"--exeName", L"myServer"}, L"myServer.exe"},
          Case{{L"myServer.EXE"}, L"myServer.EXE"}, Case{{L"--exeName", otherCase}, otherCase}}) {
        UpdaterInstall install;
        install.install(L"standinServer.exe", c.started);
        const RunResult r = install.run(c.arguments);
        EXPECT_EQ(r.exitCode, 0u) << r.out;
        const fs::path program = install.appDir() / c.started;
        EXPECT_EQ(install.serverRecord(c.started),
                  serverRecordOf(install.appDir(), {program.wstring()}));
        // The line keeps the blank before the (empty) parameters.
        EXPECT_EQ(r.out, asOutput(startLines(install.appDir(), c.started) +
                                  std::vector<std::string>{runLine(install.appDir(), c.started, ""),
                                                           "Update complete"}));
    }
}

TEST(Restart, MissingServerProgramFailsTheRunWithTheShellsText) {
    UpdaterInstall install;
    install.put(L"~kyrCore.dll", "new");

    const RunResult r = install.run();

    EXPECT_EQ(r.exitCode, 1u) << r.out;
    const std::string failure = toUtf8((install.appDir() / defaultExeName()).wstring()) +
                                " /AfterUpdate: The specified file was not found";
    const auto lines = reportedLines(r.out);
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines.end()[-2], runLine(install.appDir(), defaultExeName(), "/AfterUpdate"));
    EXPECT_EQ(lines.back(), failure);
    EXPECT_EQ(install.onlyLogMessages(), lines);
    // The files replaced before the failed start stay replaced.
    EXPECT_EQ(install.content(L"kyrCore.dll"), "new");

    // Without parameters the text is the path, a blank and the shell's text.
    const RunResult other = install.run({L"--exeName", L"absent"});
    EXPECT_EQ(other.exitCode, 1u);
    EXPECT_EQ(reportedLines(other.out).back(),
              toUtf8((install.appDir() / L"absent.exe").wstring()) +
                  " : The specified file was not found");
}

TEST(Restart, RelativeApplicationDirectoryReachesTheShellAsAFullPath) {
    UpdaterInstall install;
    install.install(L"standinServer.exe", defaultExeName());
    // Relative to the updater's working directory, the folder above A.
    RunOptions options;
    options.workDir = install.root();
    const fs::path given = fs::path(install.appDir().filename().wstring() + L"\\");

    const RunResult r = install.run({L"--appDir", given.wstring()}, options);

    // The program and its working folder are full paths; the lines keep A as given.
    EXPECT_EQ(r.exitCode, 0u) << r.out;
    const fs::path program = install.appDir() / defaultExeName();
    EXPECT_EQ(install.serverRecord(defaultExeName()),
              serverRecordOf(install.appDir(), {program.wstring(), L"/AfterUpdate"}));
    EXPECT_EQ(r.out,
              asOutput(startLines(given, defaultExeName()) +
                       std::vector<std::string>{runLine(given, defaultExeName(), "/AfterUpdate"),
                                                "Update complete"}));

    // So does a failure's text.
    const RunResult failed = install.run({L"--appDir", given.wstring(), L"absent"}, options);
    EXPECT_EQ(failed.exitCode, 1u) << failed.out;
    EXPECT_EQ(reportedLines(failed.out).back(),
              toUtf8((given / L"absent.exe").wstring()) + " : The specified file was not found");
}
