// Pure parts of the update's stages: process name matching, the pattern groups, the known
// staged files, the shell's failure texts and start request, and the form of paths handed to the
// system.
#include "file_system.h"
#include "process_wait.h"
#include "server_restart.h"
#include "staged_files.h"
#include "support/exception.h"
#include "support/process_locale.h"
#include "test_support.h"

#include <gtest/gtest.h>

namespace {

bool matches(const std::wstring& pattern, const std::wstring& name) {
    return matchProcessName(pattern.data(), pattern.data() + pattern.size(), name.data(),
                            name.data() + name.size());
}

class Stages : public ::testing::Test {
protected:
    // Case folding follows the updater's process locale.
    static void SetUpTestSuite() { setProcessLocale(); }
};

} // namespace

TEST_F(Stages, ProcessNamesMatchAnchoredWildcardsWithoutRegardToCase) {
    struct Case {
        const wchar_t* pattern;
        const wchar_t* name;
        bool match;
    };
    const Case cases[] = {
        {L"kyrServer*.exe", L"kyrServer.exe", true}, // '*' takes nothing
        {L"kyrServer*.exe", L"kyrServer64.exe", true},
        {L"kyrServer*.exe", L"KYRSERVER64.EXE", true},
        {L"kyrServer*.exe", L"kyrServer.com", false}, // the launcher is never waited for
        {L"~kyrServer*.exe", L"~kyrServer64.exe", true},
        {L"kyrServer*.exe", L"~kyrServer64.exe", false},
        {L"KYR.exe", L"kyr.EXE", true},
        {L"KYR.exe", L"myKYR.exe", false},   // anchored at the start
        {L"KYR.exe", L"KYR.exe.bak", false}, // and at the end
        {L"KYR.exe", L"KYR.ex", false},
        {L"kyr.wrapper*.exe", L"kyr.wrapper32.exe", true},
        {L"kyr.wrapper*.exe", L"kyr.wrapper.exe", true},
        {L"kyr.wrapper*.exe", L"kyr.wrapperexe", false},
        {L"a?c", L"abc", true},
        {L"a?c", L"ac", false},
        {L"a?c", L"abbc", false},
        {L"*", L"", true},
        {L"**", L"", true},
        {L"*a", L"", false},
        {L"", L"", true},
        {L"", L"a", false},
        {L"*.exe", L".exe", true},
        {L"*x*y*", L"axbxcy", true},
        {L"*x*y*", L"ayx", false},
        {L"a*b*c", L"abcbc", true},
        {L"?", L"\u0416", true},
        {L"\u0436\u0443\u043a.exe", L"\u0416\u0423\u041a.EXE", true}, // Cyrillic folds too
        {L"\u0436.exe", L"\u0417.exe", false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(matches(c.pattern, c.name), c.match)
            << "pattern " << testing::PrintToString(std::wstring(c.pattern)) << " name "
            << testing::PrintToString(std::wstring(c.name));
    }
}

TEST_F(Stages, NameRangesNeedNoTerminator) {
    const std::wstring text = L"KYR.exeTAIL";
    const std::wstring pattern = L"kyr.exe*";
    EXPECT_TRUE(matchProcessName(pattern.data(), pattern.data() + 7, text.data(), text.data() + 7));
    EXPECT_FALSE(
        matchProcessName(pattern.data(), pattern.data() + 7, text.data(), text.data() + 8));
}

TEST_F(Stages, StopMaskSelectsThePatternGroupsApplicationFirst) {
    using Patterns = std::vector<std::wstring>;
    const Patterns application = {L"kyr.wrapper*.exe", L"KYR.exe", L"kyr.events.exe",
                                  L"kyr.web.exe"};
    const Patterns server = {L"kyrServer*.exe", L"~kyrServer*.exe"};
    Patterns both = application;
    both.insert(both.end(), server.begin(), server.end());
    EXPECT_EQ(stopPatterns(0), Patterns{});
    EXPECT_EQ(stopPatterns(1), application);
    EXPECT_EQ(stopPatterns(2), server);
    EXPECT_EQ(stopPatterns(3), both);
}

TEST_F(Stages, KnownStagedFilesGiveTheirStopGroups) {
    const std::pair<const wchar_t*, int> cases[] = {
        {L"~KYR.exe", 1},
        {L"~kyr.web.exe", 1},
        {L"~kyr.events.exe", 1},
        {L"~kyr.wrapper32.exe", 1},
        {L"~kyrAddIn.dll", 1},
        {L"~kyrCore.dll", 1},
        {L"~kyrLib.dll", 1},
        {L"~kyrMain.dll", 1},
        {L"~kyrShare.dll", 1},
        {L"~kyrXML.dll", 1},
        {L"~kyrClient.dll", 1},
        {L"~kyrServer.exe", 2},
        {L"~kyrServer64.exe", 2},
        {L"~kyrServer.com", 2},
        {L"~kyrServer64.com", 2},
        {L"~imgkit.dll", 2},
        {L"~scriptrt.dll", 2},
        {L"~cryptoeng.dll", 2},
        {L"~dirber.dll", 2},
        {L"~dirsvc.dll", 2},
        {L"~dirsvc_mt.dll", 2},
        {L"~dirtext.dll", 2},
        {L"~dirutil.dll", 2},
        {L"~urlmap.dll", 2},
        {L"~authmech.dll", 2},
        // letter case does not matter
        {L"~KYRCORE.DLL", 1},
        {L"~KyrServer64.EXE", 2},
        // anything else needs both groups stopped
        {L"~kyrUpdater.exe", 3},
        {L"~kyrCore.dll.bak", 3},
        {L"~", 3},
        {L"kyrCore.dll", 3},
    };
    for (const auto& [name, groups] : cases) {
        EXPECT_EQ(stopGroupsOfStagedName(name), groups)
            << testing::PrintToString(std::wstring(name));
    }
}

TEST_F(Stages, ShellResultsOutsideTheFailureTableCountAsStarted) {
    const std::pair<std::intptr_t, const wchar_t*> failures[] = {
        {0, L": The operating system is out of memory or resources"},
        {2, L": The specified file was not found"},
        {3, L": The specified path was not found"},
        {5, L": The operating system denied access to the specified file"},
        {8, L": There was not enough memory to complete the operation"},
        {11, L": The .exe file is invalid (non-Win32 .exe or error in .exe image)"},
        {26, L": A sharing violation occurred"},
        {27, L": The file name association is incomplete or invalid"},
        {28, L": The DDE transaction could not be completed because the request timed out"},
        {29, L": The DDE transaction failed"},
        {30, L": The DDE transaction could not be completed because other DDE transactions "
             L"were being processed"},
        {31, L": There is no application associated with the given file name extension. This "
             L"error will also be returned if you attempt to print a file that is not printable"},
        {32, L": The specified DLL was not found"},
    };
    for (const auto& [result, text] : failures) {
        const wchar_t* got = shellExecuteFailureText(result);
        ASSERT_NE(got, nullptr) << result;
        EXPECT_STREQ(got, text) << result;
    }
    for (std::intptr_t result : {1, 4, 6, 7, 9, 10, 12, 20, 25, 33, 42}) {
        EXPECT_EQ(shellExecuteFailureText(result), nullptr) << result;
    }
}

TEST_F(Stages, ServerStartAddsAfterUpdateOnlyForTheDefaultName) {
    const ServerStart byDefault = serverStartOf(L"C:\\Srv", L"kyrServer.exe", true);
    EXPECT_EQ(byDefault.program, L"C:\\Srv\\kyrServer.exe");
    EXPECT_EQ(byDefault.parameters, L"/AfterUpdate");
    const ServerStart other = serverStartOf(L"C:\\Srv\\", L"other.exe", false);
    EXPECT_EQ(other.program, L"C:\\Srv\\other.exe");
    EXPECT_EQ(other.parameters, L"");
    EXPECT_EQ(serverStartOf(L"C:\\Srv", L"D:\\Else\\x.exe", false).program, L"D:\\Else\\x.exe");
}

TEST_F(Stages, TheShellStartsTheServerWithoutAnyDialog) {
    const ServerStart start = serverStartOf(L"C:\\Srv", L"kyrServer.exe", true);
    const std::wstring directory = L"C:\\Srv";
    const SHELLEXECUTEINFOW info = serverStartInfo(start, directory);
    EXPECT_EQ(info.cbSize, sizeof(SHELLEXECUTEINFOW));
    // No message box, no zone-check prompt, done when the call returns; nothing else.
    EXPECT_EQ(info.fMask, static_cast<ULONG>(SEE_MASK_FLAG_NO_UI | SEE_MASK_NOZONECHECKS |
                                             SEE_MASK_NOASYNC));
    EXPECT_EQ(info.hwnd, nullptr);
    EXPECT_STREQ(info.lpVerb, L"open");
    EXPECT_STREQ(info.lpFile, L"C:\\Srv\\kyrServer.exe");
    EXPECT_STREQ(info.lpParameters, L"/AfterUpdate");
    EXPECT_STREQ(info.lpDirectory, L"C:\\Srv");
    EXPECT_EQ(info.nShow, SW_HIDE);
    const ServerStart other = serverStartOf(L"C:\\Srv", L"other.exe", false);
    EXPECT_EQ(serverStartInfo(other, directory).lpParameters, nullptr);
}

TEST_F(Stages, PathsAreHandedToTheSystemInTheirLiteralForm) {
    struct Case {
        std::wstring full;
        std::wstring literal;
    };
    const std::wstring deep = L"C:\\Srv\\" + std::wstring(300, L'd');
    const Case cases[] = {
        {L"C:\\Srv\\kyrCore.dll", L"\\\\?\\C:\\Srv\\kyrCore.dll"},
        {L"C:\\Srv\\foo.dll. ", L"\\\\?\\C:\\Srv\\foo.dll. "}, // trailing dot and blank kept
        {L"C:\\", L"\\\\?\\C:\\"},
        {deep, L"\\\\?\\" + deep},
        {L"\\\\host\\share\\x", L"\\\\?\\UNC\\host\\share\\x"},
        {L"\\\\?\\C:\\x", L"\\\\?\\C:\\x"},
        {L"\\\\?\\UNC\\host\\share", L"\\\\?\\UNC\\host\\share"},
        {L"\\\\.\\C:\\x", L"\\\\?\\C:\\x"},
        {L"relative\\x", L"relative\\x"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(literalForm(c.full), c.literal) << kyrtest::toUtf8(c.full);
    }
}

TEST_F(Stages, TheApplicationDirectoryIsResolvedOnceAndShownAsGiven) {
    wchar_t current[MAX_PATH] = {};
    ASSERT_GT(GetCurrentDirectoryW(MAX_PATH, current), 0u);
    std::wstring cwd = current;
    if (cwd.back() == L'\\') {
        cwd.pop_back();
    }
    const std::wstring longRelative = std::wstring(150, L'r') + L"\\" + std::wstring(150, L's');
    struct Case {
        std::wstring given;
        std::wstring literal;
    };
    const Case cases[] = {
        {L"C:\\Srv\\", L"\\\\?\\C:\\Srv\\"},
        {L"C:\\Srv\\..\\Other\\.\\App", L"\\\\?\\C:\\Other\\App"},
        {L"C:/Srv/App", L"\\\\?\\C:\\Srv\\App"},
        {L"sub\\app\\", L"\\\\?\\" + cwd + L"\\sub\\app\\"},
        {longRelative, L"\\\\?\\" + cwd + L"\\" + longRelative},
    };
    for (const auto& c : cases) {
        const FilePath path = resolvePath(c.given);
        EXPECT_EQ(path.shown, c.given);
        EXPECT_EQ(path.literal, c.literal) << kyrtest::toUtf8(c.given);
    }
    // Names found by the scan are joined as they stand, also with a trailing dot.
    const FilePath file = resolvePath(L"C:\\Srv") / L"~foo.dll.";
    EXPECT_EQ(file.shown, L"C:\\Srv\\~foo.dll.");
    EXPECT_EQ(file.literal, L"\\\\?\\C:\\Srv\\~foo.dll.");
}

TEST_F(Stages, NoSuchFileCodes) {
    for (DWORD code : {2u, 3u, 53u, 67u, 123u}) {
        EXPECT_TRUE(isNoSuchFileError(code)) << code;
    }
    for (DWORD code : {0u, 5u, 32u, 206u, 161u}) {
        EXPECT_FALSE(isNoSuchFileError(code)) << code;
    }
}
