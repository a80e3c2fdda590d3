// Successful launches of the built kyrServer.com: the core library's wmain gets the command
// line unchanged, its result is the exit code, and the launcher itself prints nothing.
#include "launcher_install.h"

#include <gtest/gtest.h>

using namespace kyrtest;

namespace {

// What the echo library recorded beside itself in dir; empty when it did not run there.
std::string echoRecord(const fs::path& dir) {
    const fs::path record = dir / L"echo.txt";
    return fs::exists(record) ? readFile(record) : std::string();
}

std::string expectedRecord(const fs::path& launcher, const std::vector<std::wstring>& arguments,
                           bool helperLoads) {
    std::string record =
        std::to_string(arguments.size() + 1) + "\n" + toUtf8(launcher.wstring()) + "\n";
    for (const auto& argument : arguments) {
        record += toUtf8(argument) + "\n";
    }
    return record + "coreHelper.dll: " + (helperLoads ? "1" : "0") + "\n";
}

} // namespace

TEST(LauncherLaunch, TheLibrarysEntrySeesTheArgumentsUnchangedAndItsResultIsTheExitCode) {
    LauncherInstall install;
    install.putLibrary(L"echo", install.dllRoot());
    const struct {
        std::vector<std::wstring> arguments;
        DWORD exitCode;
    } cases[] = {
        {{}, 0},
        {{L"--exit=3"}, 3},
        {{L"--exit=-2"}, static_cast<DWORD>(-2)},
        // Blanks, quotes, an empty argument, backslashes before a quote, Cyrillic (Сервер).
        {{L"two words", L"say \"hi\"", L"", L"C:\\dir\\", L"back\\\\\"slash",
          L"\x0421\x0435\x0440\x0432\x0435\x0440", L"--exit=4"},
         4},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(toUtf8(commandLineOf(L"kyrServer.com", c.arguments)));
        const RunResult r = install.run(c.arguments);
        ASSERT_FALSE(r.timedOut);
        EXPECT_EQ(r.exitCode, c.exitCode);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(echoRecord(install.dllRoot()),
                  expectedRecord(install.launcher(), c.arguments, false));
    }
}

TEST(LauncherLaunch, TheLibraryDirectoryIsPreferredToTheLaunchersDirectory) {
    LauncherInstall install;
    install.putLibrary(L"echo", install.dllRoot());
    install.putLibrary(L"echo", install.appDir());
    const RunResult r = install.run({L"--exit=5"});
    EXPECT_EQ(r.exitCode, 5u);
    EXPECT_EQ(r.out, "");
    EXPECT_NE(echoRecord(install.dllRoot()), "");
    EXPECT_EQ(echoRecord(install.appDir()), "");
}

TEST(LauncherLaunch, LibraryInTheLaunchersDirectoryStillGetsTheLibraryDirectoryOnItsSearchPath) {
    // The echo library tries to load coreHelper.dll (any plain DLL) by its bare name: that
    // works only when its folder is on the DLL search path.
    const struct {
        const wchar_t* name;
        const wchar_t* helperFolder; // below the application directory
        bool helperLoads;
    } cases[] = {{L"helper in the library directory", L"server\\x86", true},
                 {L"helper elsewhere", L"elsewhere", false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(toUtf8(c.name));
        LauncherInstall install;
        fs::create_directories(install.dllRoot());
        install.putLibrary(L"echo", install.appDir());
        install.putLibrary(L"no_export", install.appDir() / c.helperFolder, L"coreHelper.dll");
        const RunResult r = install.run({L"--exit=6"});
        ASSERT_FALSE(r.timedOut);
        EXPECT_EQ(r.exitCode, 6u);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(echoRecord(install.appDir()),
                  expectedRecord(install.launcher(), {L"--exit=6"}, c.helperLoads));
    }
}

TEST(LauncherLaunch, ExceptionsThatEscapeTheEntryEndTheLauncherSilentlyWithExitCode1) {
    // An access violation, and the structured exception an MSVC-built library's C++ throw
    // is: no report (an entry was obtained), no crash dialog, no debugger output, no wait,
    // and no exit code of the C runtime or the libraries run in the corrupted process (the
    // crashing library's detach code would write a line).
    for (const wchar_t* variant : {L"crash", L"msvc_throw"}) {
        SCOPED_TRACE(toUtf8(variant));
        LauncherInstall install;
        install.putLibrary(variant, install.dllRoot());
        const RunResult r = install.run();
        ASSERT_FALSE(r.timedOut);
        EXPECT_EQ(r.exitCode, 1u);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err, "");
    }
}
