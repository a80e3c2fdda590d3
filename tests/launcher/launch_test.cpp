// Successful launches of the built kyrServer.com: the core library's wmain gets the command
// line unchanged, its result is the exit code, and the launcher itself prints nothing.
#include "launcher_install.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <system_error>

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

namespace {

// The load_probe library's report, line by line: "name: value".
std::map<std::string, std::string> probeReport(const std::string& out) {
    std::map<std::string, std::string> values;
    std::size_t start = 0;
    for (std::size_t end; (end = out.find('\n', start)) != std::string::npos; start = end + 1) {
        const std::string line = out.substr(start, end - start);
        const std::size_t colon = line.find(": ");
        if (colon != std::string::npos) {
            values[line.substr(0, colon)] = line.substr(colon + 2);
        }
    }
    return values;
}

// Whether SetDllDirectoryW(L"") takes the current folder out of the DLL search here, tried in
// this process and undone. Wine searches the current folder regardless of an empty directory.
bool emptyDllDirectoryDropsTheCurrentFolder() {
    TempDir temp(L"ks");
    fs::copy_file(coreLibrary(L"no_export"), temp.path() / L"cwdProbe.dll");
    const fs::path previous = fs::current_path();
    fs::current_path(temp.path());
    SetDllDirectoryW(L"");
    const HMODULE loaded = LoadLibraryW(L"cwdProbe.dll");
    SetDllDirectoryW(nullptr);
    fs::current_path(previous);
    if (loaded) {
        FreeLibrary(loaded);
    }
    return !loaded;
}

// Runs the load_probe library beside the launcher, started in the folder "work" below the
// application directory, with a library coreHelper.dll at helper; returns the file that the
// library's load of coreHelper.dll by its bare name took, or "none".
std::string helperLoadedFrom(const LauncherInstall& install, const fs::path& helper) {
    fs::create_directories(install.appDir() / L"work");
    install.putLibrary(L"load_probe", install.appDir());
    install.putLibrary(L"no_export", helper.parent_path(), L"coreHelper.dll");
    RunOptions options;
    options.workDir = install.appDir() / L"work";
    const RunResult r = install.run({}, options);
    EXPECT_FALSE(r.timedOut);
    EXPECT_EQ(r.exitCode, 0u) << r.out;
    const auto report = probeReport(r.out);
    return report.count("coreHelper.dll") ? report.at("coreHelper.dll") : "(no report)";
}

} // namespace

TEST(LauncherLaunch, LibraryLoadsFailWithoutDialogsAndTheEntryGetsTheStartingErrorMode) {
    // While the launcher loads the library, a missing or broken library that it needs fails
    // the load at once instead of waiting in a system dialog; the server's entry runs with the
    // thread error mode the launcher started with. The launcher is started with the system's
    // default error mode, so that its thread starts with none.
    for (const bool inLibraryDirectory : {true, false}) {
        SCOPED_TRACE(inLibraryDirectory ? "library directory" : "launcher's directory");
        LauncherInstall install;
        install.putLibrary(L"load_probe",
                           inLibraryDirectory ? install.dllRoot() : install.appDir());
        RunOptions options;
        options.creationFlags = CREATE_DEFAULT_ERROR_MODE;
        const RunResult r = install.run({}, options);
        ASSERT_FALSE(r.timedOut);
        EXPECT_EQ(r.exitCode, 0u) << r.out;
        const auto report = probeReport(r.out);
        EXPECT_EQ(report.count("error mode in DllMain"), 1u) << r.out;
        EXPECT_EQ(report.count("error mode in wmain"), 1u) << r.out;
        if (report.count("error mode in DllMain")) {
            EXPECT_EQ(report.at("error mode in DllMain"),
                      std::to_string(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX));
        }
        if (report.count("error mode in wmain")) {
            EXPECT_EQ(report.at("error mode in wmain"), "0");
        }
    }
}

TEST(LauncherLaunch, WithoutALibraryDirectoryTheLibrarysLoadsSkipTheWorkingFolder) {
    // Where no library directory changes the DLL search, a library of the name the server asks
    // for, planted in the folder the launcher is started in, is not loaded.
    if (!emptyDllDirectoryDropsTheCurrentFolder()) {
        GTEST_SKIP() << "this system searches the current folder for libraries even with an "
                        "empty DLL directory (Wine does; Windows does not)";
    }
    LauncherInstall install;
    EXPECT_EQ(helperLoadedFrom(install, install.appDir() / L"work" / L"coreHelper.dll"), "none");
}

TEST(LauncherLaunch, TheLibrarysLoadsByBareNameTakeTheLaunchersFolderButNotTheWorkingFolder) {
    const struct {
        const wchar_t* name;
        const wchar_t* helperDir; // below the application directory
        bool libraryDirectory;    // server\x86 exists (the library itself is beside the launcher)
        bool loaded;
    } cases[] = {
        {L"planted in the working folder, with a library directory", L"work", true, false},
        {L"beside the launcher", L".", false, true},
        {L"beside the launcher, with a library directory", L".", true, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(toUtf8(c.name));
        LauncherInstall install;
        if (c.libraryDirectory) {
            fs::create_directories(install.dllRoot());
        }
        const fs::path helper = install.appDir() / c.helperDir / L"coreHelper.dll";
        const std::string found = helperLoadedFrom(install, helper);
        if (c.loaded) {
            std::error_code ec;
            EXPECT_TRUE(fs::equivalent(fs::u8path(found), helper, ec)) << found;
        } else {
            EXPECT_EQ(found, "none");
        }
    }
}
