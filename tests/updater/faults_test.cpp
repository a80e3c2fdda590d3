// Faults the update must survive or report clearly: locked and read-only files, directories
// where files are expected, odd staged names, awkward installation paths and command lines.
// After every reported failure nothing is lost, and a rerun once the fault is gone completes.
#include "updater_test_util.h"

#include <gtest/gtest.h>

using namespace kyrtest;

namespace {

using Install = ServerInstall;

// A file held open by this process with the given sharing.
class HeldFile {
public:
    HeldFile(const fs::path& path, DWORD share)
        : handle_(CreateFileW(path.c_str(), GENERIC_READ, share, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr)) {
        EXPECT_TRUE(handle_) << "cannot open " << path.string();
    }
    void close() { handle_.reset(); }

private:
    UniqueFileHandle handle_;
};

void setReadOnly(const fs::path& path) {
    ASSERT_TRUE(SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_READONLY)) << path.string();
}

std::string failureLine(const std::wstring& context, DWORD code) {
    return toUtf8(failureText(context, code));
}

// The system's short name of an existing file (Windows' "KYRWRA~1.EXE", Wine's own form), or
// empty when it has none other than its long name (8.3 names switched off on the volume).
std::wstring shortNameOf(const fs::path& path) {
    wchar_t buffer[MAX_PATH] = {};
    const DWORD length = GetShortPathNameW(path.c_str(), buffer, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) {
        return L"";
    }
    const std::wstring name = fs::path(buffer).filename().wstring();
    return name == path.filename().wstring() ? L"" : name;
}

// A directory link below the installation, removed again at the end of the test.
class DirectoryLink {
public:
    DirectoryLink(const fs::path& link, const fs::path& target)
        : link_(link), made_(linkDirectory(link, target)) {}
    ~DirectoryLink() {
        if (made_) {
            removeLink(link_);
        }
    }
    DirectoryLink(const DirectoryLink&) = delete;
    DirectoryLink& operator=(const DirectoryLink&) = delete;
    bool made() const { return made_; }

private:
    fs::path link_;
    bool made_;
};

} // namespace

TEST(Faults, LockedFilesStopTheRunWithTheSystemsTextAndARerunCompletes) {
    struct Case {
        const char* name;
        const wchar_t* locked;
        // The lines after the wait lines, up to the failure, as functions of A.
        std::vector<std::string> (*lines)(const fs::path& a);
        const char* installed; // what kyrCore.dll holds after the failed run ("" = absent)
    };
    const Case cases[] = {
        {"installed file", L"kyrCore.dll",
         [](const fs::path& a) {
             const std::wstring t = (a / L"kyrCore.dll").wstring();
             const std::wstring o = (a / L"kyrCore.dll.old").wstring();
             return std::vector<std::string>{renameLine(a, L"kyrCore.dll", L"kyrCore.dll.old"),
                                             failureLine(t + L" or " + o, ERROR_SHARING_VIOLATION)};
         },
         "current"},
        {"staged file", L"~kyrCore.dll",
         [](const fs::path& a) {
             const std::wstring s = (a / L"~kyrCore.dll").wstring();
             const std::wstring t = (a / L"kyrCore.dll").wstring();
             return std::vector<std::string>{renameLine(a, L"kyrCore.dll", L"kyrCore.dll.old"),
                                             renameLine(a, L"~kyrCore.dll", L"kyrCore.dll"),
                                             failureLine(s + L" or " + t, ERROR_SHARING_VIOLATION)};
         },
         ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Install install;
        install.put(L"~kyrCore.dll", "new");
        install.put(L"kyrCore.dll", "current");
        const fs::path& a = install.appDir();
        HeldFile lock(a / c.locked, 0);

        const RunResult failed = install.update();

        EXPECT_EQ(failed.exitCode, 1u) << failed.out;
        const auto expected = install.begin() + waitLines() + c.lines(a);
        EXPECT_EQ(failed.out, asOutput(expected));
        EXPECT_EQ(install.onlyLogMessages(), expected);
        // Nothing is lost: each version is installed, staged or in the old copy.
        lock.close();
        EXPECT_EQ(install.content(L"~kyrCore.dll"), "new");
        if (*c.installed) {
            EXPECT_EQ(install.content(L"kyrCore.dll"), c.installed);
        } else {
            EXPECT_EQ(install.content(L"kyrCore.dll.old"), "current");
        }

        const RunResult rerun = install.update();
        EXPECT_EQ(rerun.exitCode, 0u) << rerun.out;
        EXPECT_EQ(install.content(L"kyrCore.dll"), "new");
        EXPECT_FALSE(install.exists(L"~kyrCore.dll"));
        // A rerun removes only the old copies it makes: the failed run's stays.
        if (!*c.installed) {
            EXPECT_EQ(install.content(L"kyrCore.dll.old"), "current");
        }
    }
}

TEST(Faults, LockedOldCopyStopsTheRunBeforeAnyRename) {
    Install install;
    install.put(L"~kyrCore.dll", "new");
    install.put(L"kyrCore.dll", "current");
    install.put(L"kyrCore.dll.old", "older");
    const fs::path& a = install.appDir();
    HeldFile lock(a / L"kyrCore.dll.old", FILE_SHARE_READ);

    const RunResult failed = install.update();

    EXPECT_EQ(failed.exitCode, 1u);
    const std::wstring oldCopy = (a / L"kyrCore.dll.old").wstring();
    // The text is the system's for the failed removal; ask the system for the code it gives.
    const auto lines = reportedLines(failed.out);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(std::vector<std::string>(lines.begin(), lines.end() - 1),
              install.begin() + waitLines() +
                  std::vector<std::string>{removeLine(a, L"kyrCore.dll.old")});
    EXPECT_TRUE(lines.back() == failureLine(oldCopy, ERROR_SHARING_VIOLATION) ||
                lines.back() == failureLine(oldCopy, ERROR_ACCESS_DENIED))
        << lines.back();
    EXPECT_EQ(install.content(L"kyrCore.dll"), "current");
    EXPECT_EQ(install.content(L"~kyrCore.dll"), "new");

    lock.close();
    EXPECT_EQ(install.update().exitCode, 0u);
    EXPECT_EQ(install.content(L"kyrCore.dll"), "new");
}

TEST(Faults, ReadOnlyFilesAreReplacedAndRemoved) {
    using Files = std::vector<std::pair<const wchar_t*, const char*>>;
    struct Case {
        const char* name;
        Files before; // the installation's files and what they hold
        const wchar_t* readOnly;
        Files after; // what they hold after the run ("" = absent)
    };
    const Files replacement = {
        {L"~kyrCore.dll", "new"}, {L"kyrCore.dll", "current"}, {L"kyrCore.dll.old", "older"}};
    const Files replaced = {
        {L"kyrCore.dll", "new"}, {L"kyrCore.dll.old", ""}, {L"~kyrCore.dll", ""}};
    const Case cases[] = {
        {"installed file", replacement, L"kyrCore.dll", replaced},
        {"old copy", replacement, L"kyrCore.dll.old", replaced},
        {"staged file", replacement, L"~kyrCore.dll", replaced},
        {"superseded file",
         {{L"server\\x86\\kyrShare.dll", "x86"}, {L"kyrShare.dll", "app"}},
         L"kyrShare.dll",
         {{L"kyrShare.dll", ""}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Install install;
        for (const auto& [name, content] : c.before) {
            install.put(name, content);
        }
        setReadOnly(install.appDir() / c.readOnly);

        const RunResult r = install.update();

        EXPECT_EQ(r.exitCode, 0u) << r.out;
        for (const auto& [name, content] : c.after) {
            if (*content) {
                EXPECT_EQ(install.content(name), content) << toUtf8(name);
            } else {
                EXPECT_FALSE(install.exists(name)) << toUtf8(name);
            }
        }
    }
}

TEST(Faults, StagedFileWhoseTargetIsADirectoryLosesNothing) {
    Install install;
    install.put(L"~kyrCore.dll", "new");
    install.put(L"kyrCore.dll\\inside.txt", "inside");
    const fs::path& a = install.appDir();

    const RunResult r = install.update();

    // The directory is moved aside like an installed file; a directory that is not empty
    // cannot be removed, so the run stops there with the system's text.
    const std::wstring oldCopy = (a / L"kyrCore.dll.old").wstring();
    EXPECT_EQ(r.exitCode, 1u) << r.out;
    EXPECT_EQ(r.out,
              asOutput(install.begin() + waitLines() +
                       std::vector<std::string>{renameLine(a, L"kyrCore.dll", L"kyrCore.dll.old"),
                                                renameLine(a, L"~kyrCore.dll", L"kyrCore.dll"),
                                                removeLine(a, L"kyrCore.dll.old"),
                                                failureLine(oldCopy, ERROR_DIR_NOT_EMPTY)}));
    EXPECT_EQ(install.content(L"kyrCore.dll"), "new");
    EXPECT_EQ(install.content(L"kyrCore.dll.old\\inside.txt"), "inside");

    // Nothing is staged any more: a rerun completes and leaves the directory's copy alone.
    EXPECT_EQ(install.update().exitCode, 0u);
    EXPECT_EQ(install.content(L"kyrCore.dll.old\\inside.txt"), "inside");
}

TEST(Faults, AFileNamedOnlyTildeReplacesNothingAndGoesAsALeftover) {
    Install install;
    install.put(L"~", "stray");
    install.put(L"ru\\~", "stray");
    const fs::path& a = install.appDir();

    const RunResult r = install.update();

    EXPECT_EQ(r.exitCode, 0u) << r.out;
    EXPECT_EQ(r.out,
              asOutput(install.begin() + waitLines() +
                       std::vector<std::string>{removeLine(a, L"~"), removeLine(a, L"ru\\~")} +
                       endLines(a)));
    EXPECT_TRUE(install.exists(L"ru"));
    EXPECT_FALSE(install.exists(L"~"));
}

TEST(Faults, InstallationPathsWithSpacesAndCyrillicLetters) {
    // Папка сервера: Cyrillic letters that code page 1251 has.
    Install install(L"Program Files\\\u041f\u0430\u043f\u043a\u0430 "
                    L"\u0441\u0435\u0440\u0432\u0435\u0440\u0430");
    install.put(L"~kyrCore.dll", "new");
    install.put(L"kyrCore.dll", "current");
    const fs::path& a = install.appDir();

    const RunResult r = install.update();

    EXPECT_EQ(r.exitCode, 0u) << r.out;
    const auto expected = install.begin() + waitLines() +
                          std::vector<std::string>{
                              renameLine(a, L"kyrCore.dll", L"kyrCore.dll.old"),
                              renameLine(a, L"~kyrCore.dll", L"kyrCore.dll"),
                              removeLine(a, L"kyrCore.dll.old"),
                          } +
                          endLines(a);
    EXPECT_EQ(install.onlyLogMessages(), expected); // UTF-8 in the log
    EXPECT_EQ(r.out, asOutput(expected));           // code page 1251 on standard output
    EXPECT_EQ(install.content(L"kyrCore.dll"), "new");
    EXPECT_EQ(install.serverRecord(defaultExeName()),
              serverRecordOf(a, {(a / defaultExeName()).wstring(), L"/AfterUpdate"}));
}

TEST(Faults, ApplicationDirectoryLongerThanMaxPath) {
    Install install;
    // The updater stays in a short folder; the installation it updates lies deep below it.
    fs::path deep = install.root();
    for (int i = 0; i < 6; ++i) {
        deep /= std::wstring(50, static_cast<wchar_t>(L'a' + i));
    }
    ASSERT_GT(deep.wstring().size(), 300u);
    // Set up and checked through Win32 calls, which take the literal form of a long path.
    const fs::path literal = literalPath(deep);
    createDirectories(literal / L"server" / L"x86");
    writeFile(literal / L"~kyrCore.dll", "new");
    writeFile(literal / L"kyrCore.dll", "current");
    writeFile(literal / L"server" / L"x86" / L"~kyrLib.dll", "lib");
    writeFile(literal / L"kyrLib.dll", "superseded");
    // The server program is named by an absolute path, so the shell gets a short one.
    const std::wstring server = (install.appDir() / defaultExeName()).wstring();

    const RunResult r = install.run({L"--appDir", deep.wstring(), L"--exeName", server});

    // Every reported line keeps the plain path.
    const auto lines = reportedLines(r.out);
    const auto has = [&](const std::string& line) {
        return std::find(lines.begin(), lines.end(), line) != lines.end();
    };
    EXPECT_TRUE(has(renameLine(deep, L"~kyrCore.dll", L"kyrCore.dll"))) << r.out;
    EXPECT_TRUE(has(renameLine(deep, L"server\\x86\\~kyrLib.dll", L"server\\x86\\kyrLib.dll")))
        << r.out;
    EXPECT_TRUE(has(removeLine(deep, L"kyrLib.dll"))) << r.out;
    EXPECT_EQ(readFile(literal / L"kyrCore.dll"), "new");
    EXPECT_EQ(readFile(literal / L"server" / L"x86" / L"kyrLib.dll"), "lib");
    EXPECT_FALSE(pathExists(literal / L"kyrLib.dll"));
    // The files are in place; the shell cannot take a working directory this long, so the
    // start fails with a clear text instead of inside the shell.
    EXPECT_EQ(r.exitCode, 1u) << r.out;
    EXPECT_EQ(lines.back(), failureLine(server + L" ", ERROR_FILENAME_EXCED_RANGE));
}

TEST(Faults, LongRelativeApplicationDirectoryIsResolvedNotTakenAsEmpty) {
    Install install;
    const std::wstring relative =
        std::wstring(120, L'r') + L"\\" + std::wstring(120, L's') + L"\\" + std::wstring(120, L't');
    const fs::path literal = literalPath(install.appDir() / relative);
    createDirectories(literal);
    writeFile(literal / L"~kyrCore.dll", "new");
    // Relative to the updater's working directory, its own folder.
    const RunResult r = install.run({L"--check-updates", L"--appDir", relative});
    EXPECT_EQ(r.exitCode, 1u) << r.out; // staged files found
    EXPECT_EQ(r.out, asOutput(startLines(relative + L"\\", defaultExeName())));
}

TEST(Faults, StagedNameWithATrailingDotReplacesExactlyThatName) {
    // NTFS holds names that end in a dot or a blank; the plain form of such a path names
    // the file without them. Nothing may touch "foo.dll" here.
    Install install;
    const fs::path a = install.appDir();
    const std::wstring literalDir = L"\\\\?\\" + a.wstring() + L"\\";
    writeFile(literalDir + L"~foo.dll.", "new");
    writeFile(literalDir + L"foo.dll.", "current");
    writeFile(literalDir + L"foo.dll", "untouched");
    writeFile(literalDir + L"~bar.dll ", "new bar");

    const RunResult r = install.update();

    EXPECT_EQ(r.exitCode, 0u) << r.out;
    const auto lines = reportedLines(r.out);
    const auto has = [&](const std::string& line) {
        return std::find(lines.begin(), lines.end(), line) != lines.end();
    };
    EXPECT_TRUE(has(renameLine(a, L"foo.dll.", L"foo.dll..old"))) << r.out;
    EXPECT_TRUE(has(renameLine(a, L"~foo.dll.", L"foo.dll."))) << r.out;
    EXPECT_TRUE(has(removeLine(a, L"foo.dll..old"))) << r.out;
    EXPECT_TRUE(has(renameLine(a, L"~bar.dll ", L"bar.dll "))) << r.out;
    EXPECT_EQ(readFile(literalDir + L"foo.dll."), "new");
    EXPECT_EQ(readFile(literalDir + L"foo.dll"), "untouched");
    EXPECT_EQ(readFile(literalDir + L"bar.dll "), "new bar");
    EXPECT_FALSE(pathExists(literalDir + L"~foo.dll."));
    EXPECT_FALSE(pathExists(literalDir + L"foo.dll..old"));
    EXPECT_FALSE(pathExists(literalDir + L"foo.dll.old"));
    // A second run finds nothing left to do.
    EXPECT_EQ(install.run({L"--check-updates"}).exitCode, 0u);
}

TEST(Faults, NamesTheConsoleCannotShowKeepOneLinePerReport) {
    Install install;
    install.put(L"~\x65E5\x672C.dll", "new");
    install.put(L"\x65E5\x672C.dll", "current");
    const fs::path& a = install.appDir();

    const RunResult r = install.update();

    EXPECT_EQ(r.exitCode, 0u) << r.out;
    const auto lines = install.begin() + waitLines() +
                       std::vector<std::string>{
                           renameLine(a, L"\x65E5\x672C.dll", L"\x65E5\x672C.dll.old"),
                           renameLine(a, L"~\x65E5\x672C.dll", L"\x65E5\x672C.dll"),
                           removeLine(a, L"\x65E5\x672C.dll.old"),
                       } +
                       endLines(a);
    // The log keeps the full text; standard output shows the characters that code page
    // 1251 lacks as '?', and every report on a line of its own.
    EXPECT_EQ(install.onlyLogMessages(), lines);
    EXPECT_EQ(reportedLines(r.out).size(), lines.size()) << r.out;
    EXPECT_EQ(r.out, asOutput(lines));
    EXPECT_NE(r.out.find("\\~??.dll to "), std::string::npos) << r.out;
    EXPECT_EQ(install.content(L"\x65E5\x672C.dll"), "new");
}

TEST(Faults, OddCommandLinesReachTheStartLinesIntact) {
    struct Case {
        std::vector<std::wstring> arguments;
        std::wstring appDir; // empty: the installation's
        std::wstring exeName;
    };
    const std::wstring longName(3000, L'n');
    const Case cases[] = {
        {{L"--check-updates", L""}, L"", defaultExeName()},
        {{L"--check-updates", L"say \"hi\""}, L"", L"say \"hi\".exe"},
        {{L"--check-updates", L"\u0421\u0435\u0440\u0432\u0435\u0440"},
         L"",
         L"\u0421\u0435\u0440\u0432\u0435\u0440.exe"},
        {{L"--check-updates", L"--exeName=x"}, L"", L"--exeName=x.exe"},
        {{L"--check-updates", L"/exeName", L"x"}, L"", L"x.exe"},
        {{L"--check-updates", longName}, L"", longName + L".exe"},
        {{L"--CHECK-UPDATES", L"--appDir", L"C:/no/such/dir/", L"a", L"b"},
         L"C:\\no\\such\\dir\\",
         L"b.exe"},
        {{L"--check-updates", L"--exeName", L"--keepOld"}, L"", L"--keepOld.exe"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(toUtf8(c.arguments.back().substr(0, 40)));
        UpdaterInstall install;
        const RunResult r = install.run(c.arguments);
        EXPECT_FALSE(r.timedOut);
        EXPECT_EQ(r.exitCode, 0u);
        const fs::path appDir = c.appDir.empty() ? install.appDir() : fs::path(c.appDir);
        EXPECT_EQ(install.onlyLogMessages(),
                  (std::vector<std::string>{"Start kyrUpdater",
                                            "Application directory: " + toUtf8(appDir.wstring()),
                                            "Executable name: " + toUtf8(c.exeName)}));
    }
}

TEST(Faults, LogFolderThatCannotBeCreatedStopsTheRunBeforeAnythingIsTouched) {
    Install install;
    install.put(L"logs\\kyrUpdater", "a file where the log folder belongs");
    install.put(L"~kyrCore.dll", "new");
    install.put(L"kyrCore.dll", "current");

    const RunResult r = install.run();

    EXPECT_EQ(r.exitCode, 1u);
    const auto lines = reportedLines(r.out);
    ASSERT_EQ(lines.size(), 1u) << r.out;
    // The failure names the folder it could not make.
    EXPECT_EQ(lines[0].rfind(toUtf8((install.logsDir() / L"kyrUpdater").wstring()), 0), 0u)
        << lines[0];
    EXPECT_EQ(install.content(L"~kyrCore.dll"), "new");
    EXPECT_EQ(install.content(L"kyrCore.dll"), "current");
    EXPECT_EQ(install.serverRecord(defaultExeName(), 500), "");
}

TEST(Faults, LogOnAFullVolumeSwitchesOffAndTheUpdateCompletes) {
    const char* volume = std::getenv("KYR_SMALL_VOLUME");
    if (!volume || !*volume) {
        GTEST_SKIP() << "no small volume to fill in KYR_SMALL_VOLUME (scripts/test.sh mounts one "
                        "when run as root; on Windows an administrator makes a small virtual disk)";
    }
    // Filled to the last byte below: never a volume of any size that matters.
    ULARGE_INTEGER total{};
    ASSERT_TRUE(GetDiskFreeSpaceExW(fromUtf8(volume).c_str(), nullptr, &total, nullptr));
    if (total.QuadPart > 64ull * 1024 * 1024) {
        GTEST_SKIP() << volume << " is not a small volume (" << total.QuadPart << " bytes)";
    }
    const fs::path dir =
        fs::path(fromUtf8(volume)) / (L"run-" + std::to_wstring(GetCurrentProcessId()));
    fs::remove_all(dir);
    const fs::path app = dir / L"app";
    fs::create_directories(app / L"logs");
    fs::copy_file(builtProgram(L"kyrUpdater.exe"), app / L"kyrUpdater.exe");
    writeFile(app / L"~kyrCore.dll", "new");
    writeFile(app / L"kyrCore.dll", "current");
    // The server program stays off the small volume.
    TempDir serverDir;
    const fs::path server = serverDir.path() / L"server.exe";
    fs::copy_file(builtProgram(L"standinServer.exe"), server);

    // Fill the volume to the last byte.
    const fs::path filler = dir / L"filler";
    UniqueFileHandle file(CreateFileW(filler.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(file);
    const std::string chunk(64 * 1024, 'f');
    DWORD fullError = 0;
    for (DWORD size : {64u * 1024u, 1u}) {
        DWORD written = 0;
        while (WriteFile(file.get(), chunk.data(), size, &written, nullptr) && written == size) {
        }
        fullError = GetLastError();
    }
    file.reset();
    struct Cleanup {
        fs::path dir;
        ~Cleanup() {
            std::error_code ignored;
            fs::remove_all(dir, ignored);
        }
    } cleanup{dir};
    ASSERT_EQ(fullError, static_cast<DWORD>(ERROR_DISK_FULL)) << "the volume did not fill up";

    const RunResult r = run(app / L"kyrUpdater.exe", {L"--exeName", server.wstring()});

    EXPECT_EQ(r.exitCode, 0u) << r.out;
    const auto lines = reportedLines(r.out);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back(), "Update complete");
    EXPECT_EQ(readFile(app / L"kyrCore.dll"), "new");
    EXPECT_FALSE(fs::exists(app / L"~kyrCore.dll"));
    // The log was created but could take no line; it switched off instead of failing the run.
    const auto logs = logFiles(app / L"logs");
    ASSERT_EQ(logs.size(), 1u);
    EXPECT_LT(logMessages(readFile(logs[0])).size(), lines.size());
    const DWORD attempts = 250 * timeScale();
    for (DWORD i = 0; i < attempts && !fs::exists(serverDir.path() / L"server.exe.run.txt"); ++i) {
        Sleep(20);
    }
}

TEST(Faults, ScannedDirectoryThatIsAFileIsNoEmptyDirectory) {
    Install install;
    install.put(L"ru", "a file where a directory belongs");
    install.put(L"~kyrCore.dll", "new");
    install.put(L"kyrCore.dll", "current");
    const std::wstring pattern = (install.appDir() / L"ru" / L"~*").wstring();
    // What the system answers for the listing decides: "nothing there" (2 or 3) lets the
    // update go on; any other answer stops it with the pattern and the system's text.
    WIN32_FIND_DATAW data;
    const HANDLE find = FindFirstFileW(pattern.c_str(), &data);
    const DWORD error = GetLastError();
    ASSERT_EQ(find, INVALID_HANDLE_VALUE);

    const RunResult r = install.update();

    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
        EXPECT_EQ(r.exitCode, 0u) << r.out;
        EXPECT_EQ(install.content(L"kyrCore.dll"), "new");
    } else {
        EXPECT_EQ(r.exitCode, 1u) << r.out;
        EXPECT_EQ(r.out, asOutput(install.begin() +
                                  std::vector<std::string>{failureLine(pattern, error)}));
        EXPECT_EQ(install.content(L"kyrCore.dll"), "current");
        EXPECT_EQ(install.content(L"~kyrCore.dll"), "new");
    }
}

TEST(Faults, ArchitectureFolderLinkedToTheOtherOneIsUpdatedOnce) {
    // A 32-bit-only site with server\x64 a link to server\x86.
    Install install;
    install.put(L"server\\x86\\~kyrLib.dll", "new");
    install.put(L"server\\x86\\kyrLib.dll", "current");
    const fs::path& a = install.appDir();
    const DirectoryLink link(a / L"server" / L"x64", a / L"server" / L"x86");
    if (!link.made()) {
        GTEST_SKIP() << "no directory link can be made here";
    }

    const RunResult r = install.update();

    // Found under its first name, server\x64, and replaced there once.
    EXPECT_EQ(r.exitCode, 0u) << r.out;
    const std::wstring d = L"server\\x64\\";
    EXPECT_EQ(r.out, asOutput(install.begin() + waitLines() +
                              std::vector<std::string>{
                                  renameLine(a, d + L"kyrLib.dll", d + L"kyrLib.dll.old"),
                                  renameLine(a, d + L"~kyrLib.dll", d + L"kyrLib.dll"),
                                  removeLine(a, d + L"kyrLib.dll.old"),
                              } +
                              endLines(a)));
    EXPECT_EQ(install.content(L"server\\x86\\kyrLib.dll"), "new");
    EXPECT_FALSE(install.exists(L"server\\x86\\kyrLib.dll.old"));
    EXPECT_FALSE(install.exists(L"server\\x86\\~kyrLib.dll"));

    const RunResult rerun = install.update();
    EXPECT_EQ(rerun.exitCode, 0u) << rerun.out;
    EXPECT_EQ(rerun.out, asOutput(install.begin() + endLines(a)));
    EXPECT_EQ(install.content(L"server\\x86\\kyrLib.dll"), "new");
}

TEST(Faults, ArchitectureFolderThatIsTheApplicationDirectoryRemovesNothing) {
    Install install;
    install.put(L"~kyrCore.dll", "new");
    install.put(L"kyrCore.dll", "current");
    install.put(L"kyrMain.dll", "app");
    const fs::path& a = install.appDir();
    createDirectories(a / L"server");
    const DirectoryLink link(a / L"server" / L"x86", a);
    if (!link.made()) {
        GTEST_SKIP() << "no directory link can be made here";
    }

    const RunResult r = install.update();

    // The staged file is replaced once, under A; no file of A is its own successor.
    EXPECT_EQ(r.exitCode, 0u) << r.out;
    EXPECT_EQ(r.out, asOutput(install.begin() + waitLines() +
                              std::vector<std::string>{
                                  renameLine(a, L"kyrCore.dll", L"kyrCore.dll.old"),
                                  renameLine(a, L"~kyrCore.dll", L"kyrCore.dll"),
                                  removeLine(a, L"kyrCore.dll.old"),
                              } +
                              endLines(a)));
    EXPECT_EQ(install.content(L"kyrCore.dll"), "new");
    EXPECT_EQ(install.content(L"kyrMain.dll"), "app");
    EXPECT_TRUE(install.exists(defaultExeName()));
    EXPECT_TRUE(install.exists(L"kyrUpdater.exe"));
}

TEST(Faults, AFileWhoseShortNameBeginsWithTildeIsNoStagedFile) {
    // An editor's lock file: its short name drops the leading dot and begins with "~", which
    // the listing's pattern also matches.
    Install install;
    install.put(L".~lock.x#", "lock");
    install.put(L"ru\\.~lock.y#", "lock");
    const fs::path& a = install.appDir();
    WIN32_FIND_DATAW data;
    const UniqueFindHandle match(FindFirstFileW((a / L"~*").c_str(), &data));
    if (!match) {
        GTEST_SKIP() << "the pattern does not match .~lock.x#: no short name beginning with \"~\" "
                        "here (Windows makes none where 8.3 names are off, Wine's own short "
                        "names never begin with it); the choice is a table in the unit tests";
    }
    EXPECT_EQ(install.run({L"--check-updates"}).exitCode, 0u) << "the lock file counted as staged";

    install.put(L"~kyrCore.dll", "new");
    install.put(L"kyrCore.dll", "current");
    const RunResult r = install.update();

    EXPECT_EQ(r.exitCode, 0u) << r.out;
    EXPECT_EQ(r.out, asOutput(install.begin() + waitLines() +
                              std::vector<std::string>{
                                  renameLine(a, L"kyrCore.dll", L"kyrCore.dll.old"),
                                  renameLine(a, L"~kyrCore.dll", L"kyrCore.dll"),
                                  removeLine(a, L"kyrCore.dll.old"),
                              } +
                              endLines(a)));
    EXPECT_EQ(install.content(L".~lock.x#"), "lock");
    EXPECT_EQ(install.content(L"ru\\.~lock.y#"), "lock");
}

TEST(Faults, StagedNameThatIsAnotherFilesShortNameRefusesTheRunBeforeAnyChange) {
    Install install;
    install.put(L"kyr.wrapper32.exe", "installed");
    install.put(L"~kyrLib.dll", "new lib");
    const fs::path& a = install.appDir();
    const std::wstring shortName = shortNameOf(a / L"kyr.wrapper32.exe");
    if (shortName.empty()) {
        GTEST_SKIP() << "the volume gives kyr.wrapper32.exe no short name";
    }
    install.put(L"~" + shortName, "staged");

    const RunResult r = install.update();

    // The name reaches kyr.wrapper32.exe: replacing through it would move that file aside
    // and delete it. The run stops at the scan, before it waits for the installation's
    // processes (a refusal after the wait would leave the server stopped) and before any
    // file changes.
    EXPECT_EQ(r.exitCode, 1u) << r.out;
    const auto lines =
        install.begin() +
        std::vector<std::string>{failureLine((a / shortName).wstring(), ERROR_FILE_EXISTS)};
    EXPECT_EQ(r.out, asOutput(lines));
    EXPECT_EQ(install.onlyLogMessages(), lines);
    EXPECT_EQ(install.content(L"kyr.wrapper32.exe"), "installed");
    EXPECT_EQ(install.content(L"~" + shortName), "staged");
    EXPECT_EQ(install.content(L"~kyrLib.dll"), "new lib");
    EXPECT_FALSE(install.exists(L"kyr.wrapper32.exe.old"));

    // Once that file is gone, the rest goes in.
    ASSERT_TRUE(DeleteFileW((a / (L"~" + shortName)).c_str()));
    EXPECT_EQ(install.update().exitCode, 0u);
    EXPECT_EQ(install.content(L"kyrLib.dll"), "new lib");
    EXPECT_EQ(install.content(L"kyr.wrapper32.exe"), "installed");
}

TEST(Faults, CleanupLeavesAFileOfTheApplicationDirectoryNamedByItsShortName) {
    Install install;
    install.put(L"kyr.wrapper32.exe", "app");
    const fs::path& a = install.appDir();
    const std::wstring shortName = shortNameOf(a / L"kyr.wrapper32.exe");
    if (shortName.empty()) {
        GTEST_SKIP() << "the volume gives kyr.wrapper32.exe no short name";
    }
    // A file of the architecture folder whose long name is that short name.
    install.put(L"server\\x86\\" + shortName, "x86");

    const RunResult r = install.update();

    EXPECT_EQ(r.exitCode, 0u) << r.out;
    EXPECT_EQ(r.out, asOutput(install.begin() + endLines(a)));
    EXPECT_EQ(install.content(L"kyr.wrapper32.exe"), "app");
    EXPECT_EQ(install.content(L"server\\x86\\" + shortName), "x86");
}
