// Where a failed launch shows its report, on a real console (the suite runs under Xvfb, so
// Wine's consoles are real): in the console the launcher was started with, in its parent's
// console, or in a console of its own, after which it waits for a key. The test reads a
// console by attaching to it (AttachConsole) and types the key with WriteConsoleInputW.
#include "launcher_install.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

using namespace kyrtest;

namespace {

const wchar_t* const kPrompt = L"Press any key to exit.";

// The load log of an installation without any core library.
std::vector<std::wstring> noLibraryReport(const LauncherInstall& install) {
    const fs::path app = install.appDir();
    return searchStartLines(app) +
           std::vector<std::wstring>{L"    dllRoot not found", L"try app: " + app.wstring()} +
           noLibraryLines(app) +
           std::vector<std::wstring>{L"", L"ERROR: Server main dll function not found"};
}

// This process, attached to another process's console in place of its own.
class ForeignConsole {
public:
    // False when the process has no console (yet).
    bool attach(DWORD pid) {
        FreeConsole();
        return AttachConsole(pid) != FALSE;
    }
    ~ForeignConsole() { FreeConsole(); }

    // The rows from the top to the cursor, blanks at their ends dropped; the console's width
    // and output code page.
    std::vector<std::wstring> rows(SHORT* width = nullptr, UINT* codePage = nullptr) {
        if (codePage) {
            *codePage = GetConsoleOutputCP();
        }
        std::vector<std::wstring> rows;
        const UniqueFileHandle screen(CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE,
                                                  FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                                  OPEN_EXISTING, 0, nullptr));
        if (!screen) {
            return rows;
        }
        const HANDLE out = screen.get();
        CONSOLE_SCREEN_BUFFER_INFO info{};
        if (GetConsoleScreenBufferInfo(out, &info)) {
            if (width) {
                *width = info.dwSize.X;
            }
            rows = kyrtest::consoleRows(out, info);
        }
        return rows;
    }

    void typeKey(wchar_t key) {
        const UniqueFileHandle in(CreateFileW(L"CONIN$", GENERIC_READ | GENERIC_WRITE,
                                              FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                              OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(in);
        INPUT_RECORD events[2]{};
        for (int i = 0; i < 2; ++i) {
            events[i].EventType = KEY_EVENT;
            events[i].Event.KeyEvent.bKeyDown = i == 0;
            events[i].Event.KeyEvent.wRepeatCount = 1;
            events[i].Event.KeyEvent.wVirtualKeyCode = static_cast<WORD>(towupper(key));
            events[i].Event.KeyEvent.uChar.UnicodeChar = key;
        }
        DWORD written = 0;
        EXPECT_TRUE(WriteConsoleInputW(in.get(), events, 2, &written));
        EXPECT_EQ(written, 2u);
    }
};

// The rows that text lines take on a screen of the given width (long lines wrap).
std::vector<std::wstring> screenRows(const std::vector<std::wstring>& lines, SHORT width) {
    std::vector<std::wstring> rows;
    for (const auto& line : lines) {
        std::size_t start = 0;
        do {
            std::wstring row = line.substr(start, static_cast<std::size_t>(width));
            row.erase(row.find_last_not_of(L' ') + 1);
            rows.push_back(row);
            start += static_cast<std::size_t>(width);
        } while (start < line.size());
    }
    return rows;
}

// Lines as a console shows them: the bytes the launcher writes, read in the console's output
// code page (the OEM code page as a rule).
std::vector<std::wstring> onScreen(const std::vector<std::wstring>& lines, UINT codePage) {
    std::vector<std::wstring> shown;
    for (const auto& line : lines) {
        shown.push_back(fromCodePage(launcherOutput(line), codePage));
    }
    return shown;
}

std::vector<std::wstring> withoutTrailingEmptyRows(std::vector<std::wstring> rows) {
    while (!rows.empty() && rows.back().empty()) {
        rows.pop_back();
    }
    return rows;
}

std::string joined(const std::vector<std::wstring>& rows) {
    std::string text;
    for (const auto& row : rows) {
        text += toUtf8(row) + "\n";
    }
    return text;
}

// Polls until the condition holds or about timeoutMs (times KYR_TIME_SCALE) passed.
template <typename Condition> bool eventually(Condition condition, DWORD timeoutMs = 15000) {
    const DWORD limit = scaledMs(timeoutMs);
    for (DWORD waited = 0;; waited += 100) {
        if (condition()) {
            return true;
        }
        if (waited >= limit) {
            return false;
        }
        Sleep(100);
    }
}

// Attaches to the console of the process and reads it until its last row is the prompt, or
// about 15 seconds passed; rows and width are the screen as last read. The launcher counts
// the processes on its console as it starts and takes a console that another process shares
// for one that stays open: a probe already attached then would keep the prompt away, which
// no user's look at a window does. So the first look waits out the launcher's start (seconds
// under an emulated CPU), and the probe stays attached from then on.
bool awaitPrompt(ForeignConsole& console, DWORD pid, std::vector<std::wstring>& rows,
                 SHORT& width, UINT& codePage) {
    Sleep(scaledMs(2000));
    bool attached = false;
    return eventually([&] {
        if (!attached && !(attached = console.attach(pid))) {
            return false;
        }
        rows = console.rows(&width, &codePage);
        return !rows.empty() && rows.back() == kPrompt;
    });
}

// Whether a program started with a new console gets a console window (not so under Wine
// without a display).
bool newConsolesHaveWindows() {
    RunOptions options;
    options.creationFlags = CREATE_NEW_CONSOLE;
    options.timeoutMs = 15000;
    return run(builtProgram(L"consoleParent.exe"), {L"--has-console-window"}, options)
               .exitCode == 1;
}

// The launcher started by consoleParent.exe, which records its process id.
class LauncherUnderParent {
public:
    // hidden: the launcher is started with the request to hide its window.
    LauncherUnderParent(const LauncherInstall& install, DWORD parentFlags, bool hidden = false)
        : record_(install.appDir() / L"launcher.pid"),
          parent_(builtProgram(L"consoleParent.exe"), arguments(install, record_, hidden),
                  options(parentFlags)) {}
    ~LauncherUnderParent() {
        if (launcher_ && WaitForSingleObject(launcher_.get(), 0) == WAIT_TIMEOUT) {
            TerminateProcess(launcher_.get(), 99);
        }
    }

    // Waits for the record and opens the launcher's process; false when it never came.
    bool open() {
        if (!eventually([&] { return fs::exists(record_); })) {
            return false;
        }
        pid_ = static_cast<DWORD>(std::stoul(readFile(record_)));
        // PROCESS_TERMINATE too: a launcher still waiting at the test's end is ended.
        launcher_.reset(OpenProcess(
            SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION | PROCESS_TERMINATE, FALSE, pid_));
        return static_cast<bool>(launcher_);
    }
    DWORD pid() const { return pid_; }
    DWORD parentPid() const { return parent_.pid(); }
    bool ended(DWORD timeoutMs) const {
        return WaitForSingleObject(launcher_.get(), scaledMs(timeoutMs)) == WAIT_OBJECT_0;
    }
    DWORD exitCode() const {
        DWORD code = 0;
        GetExitCodeProcess(launcher_.get(), &code);
        return code;
    }

private:
    static std::vector<std::wstring> arguments(const LauncherInstall& install,
                                               const fs::path& record, bool hidden) {
        std::vector<std::wstring> arguments{record.wstring(), install.launcher().wstring()};
        if (hidden) {
            arguments.insert(arguments.begin(), L"--hidden");
        }
        return arguments;
    }
    static RunOptions options(DWORD flags) {
        RunOptions options;
        options.creationFlags = flags;
        options.captureOutput = false;
        return options;
    }

    fs::path record_;
    Child parent_;
    UniqueHandle launcher_;
    DWORD pid_ = 0;
};

} // namespace

TEST(LauncherConsole, StartedWithAConsoleWindowItPrintsThereAndExitsAtOnce) {
    if (!newConsolesHaveWindows()) {
        GTEST_SKIP() << "a new console has no window here (Wine without a display)";
    }
    RunOptions options;
    options.creationFlags = CREATE_NEW_CONSOLE;
    options.timeoutMs = 15000;
    // Its standard output is redirected: the report goes there, no prompt follows.
    LauncherInstall install;
    const RunResult r = install.run({}, options);
    ASSERT_FALSE(r.timedOut) << "the launcher waited";
    EXPECT_EQ(r.exitCode, 1u);
    std::vector<std::wstring> log = noLibraryReport(install);
    log.erase(log.end() - 2, log.end());
    EXPECT_EQ(r.out, reportOutput(log, "Server main dll function not found"));
}

TEST(LauncherConsole, DetachedFromAParentWithAConsoleItPrintsInTheParentsConsole) {
    LauncherInstall install;
    LauncherUnderParent started(install, CREATE_NEW_CONSOLE);
    ASSERT_TRUE(started.open());
    ASSERT_TRUE(started.ended(15000)) << "the launcher is waiting";
    EXPECT_EQ(started.exitCode(), 1u);

    ForeignConsole console;
    ASSERT_TRUE(console.attach(started.parentPid())) << GetLastError();
    SHORT width = 80;
    UINT codePage = 0;
    const auto rows = withoutTrailingEmptyRows(console.rows(&width, &codePage));
    EXPECT_EQ(joined(rows),
              joined(screenRows(onScreen(noLibraryReport(install), codePage), width)));
}

TEST(LauncherConsole, DetachedFromAParentWithoutAConsoleItMakesOneAndWaitsForAKey) {
    LauncherInstall install;
    LauncherUnderParent started(install, DETACHED_PROCESS);
    ASSERT_TRUE(started.open());

    ForeignConsole console;
    SHORT width = 80;
    UINT codePage = 0;
    std::vector<std::wstring> rows;
    const bool prompted = awaitPrompt(console, started.pid(), rows, width, codePage);
    if (!prompted && started.ended(0)) {
        FAIL() << "the launcher ended with " << started.exitCode() << " without a prompt; screen:\n"
               << joined(rows);
    }
    ASSERT_TRUE(prompted) << "screen:\n" << joined(rows);
    EXPECT_EQ(joined(rows), joined(screenRows(onScreen(noLibraryReport(install) +
                                                           std::vector<std::wstring>{L"", kPrompt},
                                                       codePage),
                                              width)));

    EXPECT_FALSE(started.ended(1000)) << "the launcher did not wait for a key";
    console.typeKey(L'x');
    ASSERT_TRUE(started.ended(15000)) << "the key did not end the wait";
    EXPECT_EQ(started.exitCode(), 1u);
}

TEST(LauncherConsole, StartedHiddenWithoutAConsoleItMakesOneButDoesNotWait) {
    // The console it makes for the report is hidden as its starter asked: nobody could read
    // the report there or press a key.
    if (!newConsolesHaveWindows()) {
        GTEST_SKIP() << "a new console has no window here (Wine without a display): no key "
                        "wait holds the launcher";
    }
    LauncherInstall install;
    LauncherUnderParent started(install, DETACHED_PROCESS, true);
    ASSERT_TRUE(started.open());
    ASSERT_TRUE(started.ended(15000)) << "the launcher is waiting";
    EXPECT_EQ(started.exitCode(), 1u);
}

TEST(LauncherConsole, InAConsoleWindowOfItsOwnItWaitsForAKey) {
    // As a double-click in Explorer starts it: a new console window with nobody else in it,
    // and standard output on that console.
    if (!newConsolesHaveWindows()) {
        GTEST_SKIP() << "a new console has no window here (Wine without a display)";
    }
    LauncherInstall install;
    RunOptions options;
    options.creationFlags = CREATE_NEW_CONSOLE;
    options.captureOutput = false;
    Child launcher(install.launcher(), {}, options);

    ForeignConsole console;
    SHORT width = 80;
    UINT codePage = 0;
    std::vector<std::wstring> rows;
    const bool prompted = awaitPrompt(console, launcher.pid(), rows, width, codePage);
    ASSERT_TRUE(prompted) << "screen:\n" << joined(rows);
    EXPECT_EQ(joined(rows), joined(screenRows(onScreen(noLibraryReport(install) +
                                                           std::vector<std::wstring>{L"", kPrompt},
                                                       codePage),
                                              width)));
    EXPECT_FALSE(launcher.wait(1000)) << "the launcher did not wait for a key";
    console.typeKey(L'x');
    ASSERT_TRUE(launcher.wait(15000)) << "the key did not end the wait";
    DWORD code = 0;
    GetExitCodeProcess(launcher.handle(), &code);
    EXPECT_EQ(code, 1u);
}

TEST(LauncherConsole, InAConsoleOfItsOwnThatNobodySeesItReportsAndEndsWithoutWaiting) {
    // A supervisor, .NET's CreateNoWindow or a build runner start it with a console without a
    // window; a starter that asks for no window gives it a hidden one. The launcher is the only
    // process there, as after a double-click, but nobody can press a key. Its standard output
    // is consoleParent's console, where the report outlives the launcher's own console. A
    // window of its own that is shown is the double-click: there it still waits.
    if (!GetProcAddress(GetModuleHandleW(L"kernel32"), "CreateFile2")) {
        GTEST_SKIP() << "before Windows 8 a console handle is valid in its own console only: "
                        "the launcher could not write to the parent's";
    }
    const bool windows = newConsolesHaveWindows();
    const struct {
        const wchar_t* kind; // consoleParent's --own-console
        bool needsWindows;
        bool waits;
    } cases[] = {
        {L"no-window", false, false},
        {L"hidden-window", true, false},
        {L"window", true, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(toUtf8(c.kind));
        if (c.needsWindows && !windows) {
            std::printf("note: %s skipped: a new console has no window here (Wine without a "
                        "display)\n",
                        toUtf8(c.kind).c_str());
            continue;
        }
        LauncherInstall install;
        RunOptions options;
        options.creationFlags = CREATE_NO_WINDOW;
        options.timeoutMs = 30000;
        // How long consoleParent gives the launcher to end: on a slow machine the report
        // alone takes seconds.
        const std::wstring endWithinMs = std::to_wstring(kyrtest::scaledMs(5000));
        const RunResult r =
            run(builtProgram(L"consoleParent.exe"),
                {L"--own-console", c.kind, endWithinMs, install.launcher().wstring()}, options);
        ASSERT_FALSE(r.timedOut);
        ASSERT_EQ(r.exitCode, 0u) << r.out;

        std::vector<std::wstring> lines;
        std::size_t start = 0;
        for (std::size_t end; (end = r.out.find('\n', start)) != std::string::npos;
             start = end + 1) {
            lines.push_back(fromCodePage(r.out.substr(start, end - start), CP_UTF8));
        }
        ASSERT_GE(lines.size(), 2u) << r.out;
        EXPECT_EQ(toUtf8(lines[0]), c.waits ? "running" : "ended 1");
        SHORT width = 0;
        UINT codePage = 0;
        ASSERT_EQ(std::swscanf(lines[1].c_str(), L"width %hd code page %u", &width, &codePage), 2)
            << r.out;
        std::vector<std::wstring> expected = noLibraryReport(install);
        if (c.waits) {
            expected.insert(expected.end(), {L"", kPrompt});
        }
        const std::vector<std::wstring> rows(lines.begin() + 2, lines.end());
        EXPECT_EQ(joined(withoutTrailingEmptyRows(rows)),
                  joined(screenRows(onScreen(expected, codePage), width)));
    }
}
