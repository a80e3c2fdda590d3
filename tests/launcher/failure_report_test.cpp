// Failed launches of the built kyrServer.com: the whole load log and the "ERROR: " line on
// standard output, exit code 1. Run with the test's own console and a redirected output,
// the launcher has no console window and cannot attach to another console, so it writes
// the report to the redirected output and does not wait for a key.
#include "launcher_install.h"

#include <gtest/gtest.h>

#include <cstdlib>

using namespace kyrtest;

namespace {

const char* const kNoEntry = "Server main dll function not found";

std::string codeText(const char* call, DWORD code) {
    return std::string("Error calling ") + call + " with code " + std::to_string(code);
}

std::vector<std::wstring> loadLines(const fs::path& dir, bool loaded) {
    const fs::path library = dir / L"kyrServer.dll";
    return {L"    server core dll:" + library.wstring(),
            L"    LoadLibraryExW(" + library.wstring() + L"): " + (loaded ? L"1" : L"0")};
}

// The code the system gives for a library without the export "wmain".
DWORD missingExportError() {
    const HMODULE plain = LoadLibraryW(coreLibrary(L"no_export").c_str());
    EXPECT_NE(plain, nullptr);
    EXPECT_EQ(GetProcAddress(plain, "wmain"), nullptr);
    return GetLastError();
}

void expectReport(const LauncherInstall& install, const std::string& expected) {
    const RunResult r = install.run();
    ASSERT_FALSE(r.timedOut);
    EXPECT_EQ(r.exitCode, 1u);
    EXPECT_EQ(r.out, expected);
    EXPECT_EQ(r.err, "");
}

} // namespace

TEST(LauncherFailureReport, NoLibraryAnywhere) {
    struct Case {
        const char* name;
        const wchar_t* folder; // of the installation; empty: the usual one
        const char* shownAs;   // how the report shows the folder's name (null: as it is)
    };
    const Case cases[] = {
        {"plain folder", L"", nullptr},
        // Сервер: letters the C runtime's default conversion cannot write; the report stays
        // whole.
        {"folder the output cannot show", L"\u0421\u0435\u0440\u0432\u0435\u0440", "\\??????\r\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        LauncherInstall install(c.folder);
        const fs::path& app = install.appDir();
        const std::string expected = reportOutput(
            searchStartLines(app) +
                std::vector<std::wstring>{L"    dllRoot not found", L"try app: " + app.wstring()} +
                noLibraryLines(app),
            kNoEntry);
        if (c.shownAs) {
            ASSERT_NE(expected.find(c.shownAs), std::string::npos) << expected;
        }
        expectReport(install, expected);
    }
}

TEST(LauncherFailureReport, NotALibraryInTheLibraryDirectoryEndsTheSearch) {
    LauncherInstall install;
    const fs::path library = install.dllRoot() / L"kyrServer.dll";
    install.putFile(library, "this is not a library\r\n");
    // A good library in the launcher's directory is not looked at.
    install.putLibrary(L"echo", install.appDir());
    expectReport(install, reportOutput(searchStartLines(install.appDir()) +
                                           searchPathLines(install.dllRoot()) +
                                           loadLines(install.dllRoot(), false),
                                       codeText("LoadLibraryExW", loadError(library))));
}

TEST(LauncherFailureReport, MissingEntryExportCarriesTheLookupError) {
    LauncherInstall install;
    install.putLibrary(L"no_export", install.dllRoot());
    install.putLibrary(L"echo", install.appDir());
    expectReport(install,
                 reportOutput(searchStartLines(install.appDir()) +
                                  searchPathLines(install.dllRoot()) +
                                  loadLines(install.dllRoot(), true) +
                                  std::vector<std::wstring>{L"    GetProcAddress(wmain): 0"},
                              codeText("GetProcAddress", missingExportError())));
}

TEST(LauncherFailureReport, LibraryWhoseInitialisationFails) {
    LauncherInstall install;
    install.putLibrary(L"init_fails", install.dllRoot());
    expectReport(install,
                 reportOutput(searchStartLines(install.appDir()) +
                                  searchPathLines(install.dllRoot()) +
                                  loadLines(install.dllRoot(), false),
                              codeText("LoadLibraryExW", loadError(coreLibrary(L"init_fails")))));
}

TEST(LauncherFailureReport, AccessViolationInTheLibrarysInitialisation) {
    // The exception is raised on the launcher's thread before an entry is obtained. Wine's
    // loader catches it itself and fails the load with the code of the access violation
    // (ERROR_NOACCESS); a loader that let it through would give "unhandled exception".
    LauncherInstall install;
    install.putLibrary(L"init_crash", install.dllRoot());
    const auto lines = searchStartLines(install.appDir()) + searchPathLines(install.dllRoot()) +
                       loadLines(install.dllRoot(), false);
    const RunResult r = install.run();
    ASSERT_FALSE(r.timedOut);
    EXPECT_EQ(r.exitCode, 1u);
    EXPECT_EQ(r.err, "");
    const std::string caughtByLoader =
        reportOutput(lines, codeText("LoadLibraryExW", ERROR_NOACCESS));
    if (r.out != caughtByLoader) {
        std::vector<std::wstring> reached = lines;
        reached.pop_back(); // the load never returned
        EXPECT_EQ(r.out, reportOutput(reached, "unhandled exception"));
    }
}

TEST(LauncherFailureReport, DirectoryNamedLikeTheLibraryIsNotALibrary) {
    LauncherInstall install;
    fs::create_directories(install.dllRoot() / L"kyrServer.dll");
    fs::create_directories(install.appDir() / L"kyrServer.dll");
    const auto expectedLines =
        searchStartLines(install.appDir()) + searchPathLines(install.dllRoot()) +
        std::vector<std::wstring>{
            L"    server core dll:" + (install.dllRoot() / L"kyrServer.dll").wstring(),
            L"        not found: 0", L"try app: " + install.appDir().wstring(),
            L"    server core dll:" + (install.appDir() / L"kyrServer.dll").wstring(),
            L"        not found: 0"};
    expectReport(install, reportOutput(expectedLines, kNoEntry));
}

TEST(LauncherFailureReport, LibraryDirectoryThatIsARegularFileCountsAsPresent) {
    LauncherInstall install;
    install.putFile(install.dllRoot(), "a file, not a folder");
    expectReport(
        install,
        reportOutput(searchStartLines(install.appDir()) + searchPathLines(install.dllRoot()) +
                         noLibraryLines(install.dllRoot()) +
                         std::vector<std::wstring>{L"try app: " + install.appDir().wstring()} +
                         noLibraryLines(install.appDir()),
                     kNoEntry));
}

TEST(LauncherFailureReport, UcrtbaseFromTheDefaultDirectoriesHidesTheCopyBesideTheLibrary) {
    LauncherInstall install;
    install.putLibrary(L"no_export", install.dllRoot());
    install.putLibrary(L"no_export", install.dllRoot(), L"ucrtbase.dll");
    const auto start = searchStartLines(install.appDir());
    if (start[1] != L"LoadLibraryExW(ucrtbase.dll): 1") {
        GTEST_SKIP() << "this system has no ucrtbase.dll in its default directories";
    }
    expectReport(install,
                 reportOutput(start + searchPathLines(install.dllRoot()) +
                                  loadLines(install.dllRoot(), true) +
                                  std::vector<std::wstring>{L"    GetProcAddress(wmain): 0"},
                              codeText("GetProcAddress", missingExportError())));
}

TEST(LauncherFailureReport, UcrtbaseCopyBesideTheLibraryIsLoadedWhenTheDefaultOneFails) {
    // A file ucrtbase.dll that is no library, in the launcher's directory (one of the
    // default directories), makes the load by bare name fail; then the copy beside the
    // core library is loaded ahead of it. The copy is any plain DLL.
    LauncherInstall install;
    const fs::path junk = install.appDir() / L"ucrtbase.dll";
    install.putFile(junk, "not a library");
    install.putLibrary(L"no_export", install.dllRoot());
    install.putLibrary(L"no_export", install.dllRoot(), L"ucrtbase.dll");
    const RunResult r = install.run();
    ASSERT_FALSE(r.timedOut);
    EXPECT_EQ(r.exitCode, 1u);
    const auto lines = outputLines(r.out);
    ASSERT_GE(lines.size(), 2u) << r.out;
    if (lines[1] == "LoadLibraryExW(ucrtbase.dll): 1") {
        GTEST_SKIP() << "this system loads ucrtbase.dll from elsewhere than the application "
                        "directory (a known DLL), so its load by bare name cannot be made to fail";
    }
    const fs::path app = install.appDir();
    const fs::path copy = install.dllRoot() / L"ucrtbase.dll";
    const fs::path library = install.dllRoot() / L"kyrServer.dll";
    const std::vector<std::wstring> expected =
        std::vector<std::wstring>{L"app: " + app.wstring(), L"LoadLibraryExW(ucrtbase.dll): 0",
                                  L"    GetLastError(): " + std::to_wstring(loadError(junk)),
                                  L"dllRoot: " + install.dllRoot().wstring()} +
        searchPathLines(install.dllRoot()) +
        std::vector<std::wstring>{L"    server core dll:" + library.wstring(),
                                  L"    LoadLibraryExW(" + copy.wstring() + L"): 1",
                                  L"    LoadLibraryExW(" + library.wstring() + L"): 1",
                                  L"    GetProcAddress(wmain): 0"};
    EXPECT_EQ(r.out, reportOutput(expected, codeText("GetProcAddress", missingExportError())));
}

TEST(LauncherFailureReport, LauncherInTheRootOfADrive) {
    const char* drive = std::getenv("KYR_DRIVE_ROOT");
    if (!drive || !*drive) {
        GTEST_SKIP() << "no spare drive letter mapped in KYR_DRIVE_ROOT (scripts/test.sh maps Q: "
                        "to a folder, run-tests.cmd a free letter with subst)";
    }
    const fs::path root = fromUtf8(drive); // "Q:\"
    const fs::path launcher = root / L"kyrServer.com";
    fs::copy_file(builtProgram(L"kyrServer.com"), launcher, fs::copy_options::overwrite_existing);
    struct Cleanup {
        fs::path root;
        ~Cleanup() {
            std::error_code ignored;
            fs::remove(root / L"kyrServer.com", ignored);
            fs::remove_all(root / L"server", ignored);
        }
    } cleanup{root};

    // No separator is doubled: "app: Q:\" and "dllRoot: Q:\server\x86".
    const RunResult failed = run(launcher, {});
    EXPECT_EQ(failed.exitCode, 1u);
    EXPECT_EQ(failed.out,
              reportOutput(searchStartLines(root) +
                               std::vector<std::wstring>{L"    dllRoot not found",
                                                         L"try app: " + root.wstring()} +
                               noLibraryLines(root),
                           kNoEntry));

    fs::create_directories(root / L"server" / L"x86");
    fs::copy_file(coreLibrary(L"echo"), root / L"server" / L"x86" / L"kyrServer.dll");
    const RunResult started = run(launcher, {L"--exit=3"});
    EXPECT_EQ(started.exitCode, 3u) << started.out;
    EXPECT_EQ(started.out, "");
}
