// Unit tests of the launcher's pure parts (paths, error texts) and of the loader's search
// path and directory steps against the real system, in this process.
#include "call_error.h"
#include "console.h"
#include "core_dll_loader.h"
#include "launcher_install.h"
#include "path_status.h"
#include "paths.h"

#include <gtest/gtest.h>

#include <sstream>

using namespace kyrtest;

TEST(LauncherPaths, ParentPathKeepsTheRoot) {
    const struct {
        const wchar_t* path;
        const wchar_t* parent;
    } cases[] = {
        {L"D:\\srv\\kyrServer.com", L"D:\\srv"},
        {L"D:\\kyrServer.com", L"D:\\"},
        {L"D:\\srv\\bin\\kyrServer.com", L"D:\\srv\\bin"},
        {L"D:\\srv\\\\kyrServer.com", L"D:\\srv"},
        {L"D:/srv/kyrServer.com", L"D:/srv"},
        {L"\\\\host\\share\\kyrServer.com", L"\\\\host\\share"},
        {L"\\\\host\\share\\srv\\kyrServer.com", L"\\\\host\\share\\srv"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(parentPath(c.path), c.parent) << toUtf8(c.path);
    }
}

TEST(LauncherPaths, JoinAddsOneBackslashUnlessTheLeftPartEndsInASeparator) {
    const struct {
        const wchar_t* left;
        const wchar_t* right;
        const wchar_t* joined;
    } cases[] = {
        {L"D:\\srv", L"server", L"D:\\srv\\server"},
        {L"D:\\", L"server", L"D:\\server"},
        {L"D:\\srv\\", L"kyrServer.dll", L"D:\\srv\\kyrServer.dll"},
        {L"D:/srv/", L"kyrServer.dll", L"D:/srv/kyrServer.dll"},
        {L"D:/srv", L"x86", L"D:/srv\\x86"},
        {L"D:", L"server", L"D:\\server"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(joinPath(c.left, c.right), c.joined)
            << toUtf8(c.left) << " + " << toUtf8(c.right);
    }
}

TEST(LauncherPaths, LibraryDirectoryOfALauncherInTheRootOfADrive) {
    const auto dllRootOf = [](const std::wstring& modulePath) {
        return joinPath(joinPath(parentPath(modulePath), L"server"), L"x86");
    };
    EXPECT_EQ(dllRootOf(L"D:\\kyrServer.com"), L"D:\\server\\x86");
    EXPECT_EQ(dllRootOf(L"D:\\srv\\kyrServer.com"), L"D:\\srv\\server\\x86");
}

TEST(LauncherErrors, CallErrorTextNamesTheCallAndTheUnsignedCode) {
    EXPECT_EQ(callErrorText("LoadLibraryExW", 193), "Error calling LoadLibraryExW with code 193");
    EXPECT_EQ(callErrorText("GetProcAddress", 127), "Error calling GetProcAddress with code 127");
    EXPECT_EQ(callErrorText("GetModuleFileNameW", 0xFFFFFFFFu),
              "Error calling GetModuleFileNameW with code 4294967295");
    try {
        throwCallError("LoadLibraryExW", 126);
        FAIL() << "no exception";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "Error calling LoadLibraryExW with code 126");
    }
}

TEST(LauncherPathStatus, TypesAndErrorCodes) {
    TempDir temp(L"ks");
    writeFile(temp.path() / L"file", "x");
    fs::create_directories(temp.path() / L"dir");
    const struct {
        const wchar_t* name;
        PathStatus::Type type;
        DWORD error; // 0: ask GetFileAttributesW
    } cases[] = {
        {L"file", PathStatus::Type::regular, 0},
        {L"dir", PathStatus::Type::other, 0},
        {L"missing", PathStatus::Type::none, ERROR_FILE_NOT_FOUND},
        {L"missing\\below", PathStatus::Type::none, ERROR_PATH_NOT_FOUND},
        {L"file\\below", PathStatus::Type::none, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(toUtf8(c.name));
        const fs::path path = temp.path() / c.name;
        DWORD error = c.error;
        if (c.type == PathStatus::Type::none && error == 0) {
            ASSERT_EQ(GetFileAttributesW(path.c_str()), INVALID_FILE_ATTRIBUTES);
            error = GetLastError();
        }
        const PathStatus status = pathStatus(path.wstring());
        EXPECT_EQ(status.type, c.type);
        EXPECT_EQ(status.error, c.type == PathStatus::Type::none ? error : 0u);
    }
}

TEST(LauncherPathStatus, FollowsSymbolicLinks) {
    TempDir temp(L"ks");
    writeFile(temp.path() / L"file", "x");
    const fs::path toFile = temp.path() / L"toFile";
    const fs::path toMissing = temp.path() / L"toMissing";
    // Wine's CreateSymbolicLinkW reports success but makes no link.
    CreateSymbolicLinkW(toFile.c_str(), (temp.path() / L"file").c_str(), 0);
    const DWORD attributes = GetFileAttributesW(toFile.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        GTEST_SKIP() << "this system makes no symbolic links here (CreateSymbolicLinkW)";
    }
    ASSERT_TRUE(CreateSymbolicLinkW(toMissing.c_str(), (temp.path() / L"gone").c_str(), 0));
    EXPECT_EQ(pathStatus(toFile.wstring()).type, PathStatus::Type::regular);
    const PathStatus dangling = pathStatus(toMissing.wstring());
    EXPECT_EQ(dangling.type, PathStatus::Type::none);
    EXPECT_EQ(dangling.error, static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

TEST(LauncherLoader, ModuleDirIsTheFolderOfThisProgram) {
    EXPECT_EQ(CoreDllLoader::moduleDir(), binDir().wstring());
    std::wostringstream log;
    CoreDllLoader loader(log);
    EXPECT_EQ(loader.dllRoot(), (binDir() / L"server" / L"x86").wstring());
    EXPECT_EQ(log.str(), L""); // construction writes nothing
}

namespace {

std::wstring asLog(const std::vector<std::wstring>& lines) {
    std::wstring text;
    for (const auto& line : lines) {
        text += line + L"\n";
    }
    return text;
}

} // namespace

TEST(LauncherLoader, AddingAnExistingDirectory) {
    TempDir temp(L"ks");
    std::wostringstream log;
    CoreDllLoader loader(log);
    EXPECT_TRUE(loader.addDllSearchPath(temp.path().wstring()));
    if (addDllDirectoryFunction()) {
        EXPECT_EQ(log.str(), asLog({L"    GetModuleHandleW(kernel32): 1",
                                    L"        GetProcAddress(kernel32, 'AddDllDirectory'): 1",
                                    L"        AddDllDirectory(" + temp.path().wstring() + L"): 1",
                                    L"    GetProcAddress(kernel32, 'SetDefaultDllDirectories'): 1",
                                    L"        SetDefaultDllDirectories: 1"}));
    } else {
        // Windows 7 without update KB2533623: SetDllDirectoryW.
        EXPECT_EQ(log.str(), asLog(searchPathLines(temp.path())));
    }
}

TEST(LauncherLoader, AddDllDirectoryRefusesARelativePathAndSetDllDirectoryDecides) {
    const AddDllDirectoryFn addDllDirectory = addDllDirectoryFunction();
    if (!addDllDirectory) {
        GTEST_SKIP() << "this system has no AddDllDirectory (Windows 7 without KB2533623)";
    }
    const std::wstring dir = L"relative\\folder";
    ASSERT_EQ(addDllDirectory(dir.c_str()), nullptr);
    const DWORD refused = GetLastError();
    std::wostringstream log;
    CoreDllLoader loader(log);
    const bool added = loader.addDllSearchPath(dir);
    // What SetDllDirectoryW makes of it here, asked after the loader's call.
    const BOOL set = SetDllDirectoryW(dir.c_str());
    const DWORD setError = GetLastError();
    SetDllDirectoryW(nullptr);
    EXPECT_EQ(added, set != FALSE);
    std::vector<std::wstring> lines{L"    GetModuleHandleW(kernel32): 1",
                                    L"        GetProcAddress(kernel32, 'AddDllDirectory'): 1",
                                    L"        AddDllDirectory(" + dir + L"): 0",
                                    L"            GetLastError(): " + std::to_wstring(refused),
                                    L"    SetDllDirectory(" + dir + L"): " + std::to_wstring(set)};
    if (!set) {
        lines.push_back(L"        GetLastError(): " + std::to_wstring(setError));
    }
    lines.push_back(L"    GetProcAddress(kernel32, 'SetDefaultDllDirectories'): 1");
    lines.push_back(L"        SetDefaultDllDirectories: 1");
    EXPECT_EQ(log.str(), asLog(lines));
}

TEST(LauncherLoader, DirectoryWithoutALibraryFileYieldsNothing) {
    TempDir temp(L"ks");
    fs::create_directories(temp.path() / L"folder" / L"kyrServer.dll");
    fs::create_directories(temp.path() / L"empty");
    const struct {
        const wchar_t* dir;
        long code;
    } cases[] = {
        {L"folder", 0}, {L"empty", ERROR_FILE_NOT_FOUND}, {L"absent", ERROR_PATH_NOT_FOUND}};
    for (const auto& c : cases) {
        SCOPED_TRACE(toUtf8(c.dir));
        const std::wstring dir = (temp.path() / c.dir).wstring();
        std::wostringstream log;
        CoreDllLoader loader(log);
        EXPECT_EQ(loader.loadFromDir(dir), nullptr);
        EXPECT_EQ(log.str(), asLog({L"    server core dll:" + dir + L"\\kyrServer.dll",
                                    L"        not found: " + std::to_wstring(c.code)}));
    }
}

TEST(LauncherLoader, LoadsTheLibraryAndReturnsItsEntry) {
    // The echo library's initialisation does nothing; loading it here is harmless.
    TempDir temp(L"ks");
    fs::copy_file(coreLibrary(L"echo"), temp.path() / L"kyrServer.dll");
    const std::wstring dir = temp.path().wstring();
    std::wostringstream log;
    CoreDllLoader loader(log);
    const ServerMainFn entry = loader.loadFromDir(dir);
    ASSERT_NE(entry, nullptr);
    const HMODULE loaded = GetModuleHandleW((temp.path() / L"kyrServer.dll").c_str());
    ASSERT_NE(loaded, nullptr);
    EXPECT_EQ(reinterpret_cast<void*>(entry),
              reinterpret_cast<void*>(GetProcAddress(loaded, "wmain")));
    // ucrtbase.dll was not loaded by this loader yet, so it is tried beside the library.
    const DWORD crtError = loadError(temp.path() / L"ucrtbase.dll");
    EXPECT_EQ(log.str(), asLog({L"    server core dll:" + dir + L"\\kyrServer.dll",
                                L"    LoadLibraryExW(" + dir + L"\\ucrtbase.dll): 0",
                                L"        GetLastError(): " + std::to_wstring(crtError),
                                L"    LoadLibraryExW(" + dir + L"\\kyrServer.dll): 1",
                                L"    GetProcAddress(wmain): 1"}));
}

TEST(LauncherConsoleDecision, WaitsForAKeyOnlyWhereTheConsoleWouldVanishUnread) {
    // Only a launcher without any console creates one; the window is that of the console it
    // was started with. Windows Terminal gives a console of its own a stand-in window, and
    // "start /min" a minimised one: both are windows here.
    struct Case {
        const char* situation;
        bool created;
        unsigned long processes;
        bool window;
        bool hidden;
        bool outputIsConsole;
        bool interactive;
        bool waits;
    };
    const Case cases[] = {
        {"a console made for the report", true, 0, false, false, true, true, true},
        {"double-clicked: a window of its own", false, 1, true, false, true, true, true},
        {"a window of its own, output redirected", false, 1, true, false, false, true, false},
        {"from a command prompt", false, 2, true, false, true, true, false},
        {"attached to a parent's console", false, 3, true, false, true, true, false},
        {"no console at all", false, 0, false, false, false, true, false},
        {"a service: console made in session 0", true, 0, false, false, true, false, false},
        {"a service: a window of its own", false, 1, true, false, true, false, false},
        {"a console of its own without a window (CREATE_NO_WINDOW)", false, 1, false, false, true,
         true, false},
        {"started hidden: a hidden window of its own", false, 1, true, true, true, true, false},
        {"started hidden: a console made for the report, hidden as well", true, 0, false, true,
         true, true, false},
        {"started hidden from a command prompt", false, 2, true, true, true, true, false},
    };
    for (const auto& c : cases) {
        const ConsoleSituation situation{c.created, c.processes,       c.window,
                                         c.hidden,  c.outputIsConsole, c.interactive};
        EXPECT_EQ(waitsForKey(situation), c.waits) << c.situation;
    }
}

TEST(LauncherConsoleDecision, ThisTestRunsInAnInteractiveSession) {
    // The suite runs in a user's session (Wine gives every process session 1); session 0 is
    // for services only.
    DWORD session = 0;
    ASSERT_TRUE(ProcessIdToSessionId(GetCurrentProcessId(), &session));
    EXPECT_EQ(interactiveSession(), session != 0);
}
