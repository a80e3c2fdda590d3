// The restart of the server through the shell: the program and parameters it is given, how
// the shell is asked, and which of the shell's results count as a failed start.
#include "server_restart.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <utility>

TEST(ServerRestart, ShellResultsOutsideTheFailureTableCountAsStarted) {
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

TEST(ServerRestart, ServerStartAddsAfterUpdateOnlyForTheDefaultName) {
    const ServerStart byDefault = serverStartOf(L"C:\\Srv", L"C:\\Srv", L"kyrServer.exe", true);
    EXPECT_EQ(byDefault.program, L"C:\\Srv\\kyrServer.exe");
    EXPECT_EQ(byDefault.parameters, L"/AfterUpdate");
    const ServerStart other = serverStartOf(L"C:\\Srv\\", L"C:\\Srv\\", L"other.exe", false);
    EXPECT_EQ(other.program, L"C:\\Srv\\other.exe");
    EXPECT_EQ(other.parameters, L"");
    EXPECT_EQ(serverStartOf(L"C:\\Srv", L"C:\\Srv", L"D:\\Else\\x.exe", false).program,
              L"D:\\Else\\x.exe");
}

TEST(ServerRestart, TheShellGetsFullPathsWhileTheReportKeepsTheDirectoryAsGiven) {
    struct Case {
        const wchar_t* appDir;     // as given
        const wchar_t* fullAppDir; // as GetFullPathNameW made it
        const wchar_t* exeName;
        const wchar_t* program; // reported
        const wchar_t* shellProgram;
    };
    const Case cases[] = {
        {L"app\\", L"C:\\Work\\app\\", L"kyrServer.exe", L"app\\kyrServer.exe",
         L"C:\\Work\\app\\kyrServer.exe"},
        {L"..\\srv\\", L"C:\\srv\\", L"my.exe", L"..\\srv\\my.exe", L"C:\\srv\\my.exe"},
        {L".\\", L"C:\\Work\\", L"D:\\Else\\x.exe", L"D:\\Else\\x.exe", L"D:\\Else\\x.exe"},
        {L"C:\\Srv", L"C:\\Srv", L"kyrServer.exe", L"C:\\Srv\\kyrServer.exe",
         L"C:\\Srv\\kyrServer.exe"},
    };
    for (const Case& c : cases) {
        const ServerStart start = serverStartOf(c.appDir, c.fullAppDir, c.exeName, true);
        EXPECT_EQ(start.program, c.program) << c.appDir;
        EXPECT_EQ(start.shellProgram, c.shellProgram) << c.appDir;
        EXPECT_EQ(start.shellDirectory, c.fullAppDir) << c.appDir;
        const SHELLEXECUTEINFOW info = serverStartInfo(start);
        EXPECT_STREQ(info.lpFile, c.shellProgram) << c.appDir;
        EXPECT_STREQ(info.lpDirectory, c.fullAppDir) << c.appDir;
    }
}

TEST(ServerRestart, TheShellStartsTheServerWithoutAnyDialog) {
    const ServerStart start = serverStartOf(L"C:\\Srv", L"C:\\Srv", L"kyrServer.exe", true);
    const SHELLEXECUTEINFOW info = serverStartInfo(start);
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
    const ServerStart other = serverStartOf(L"C:\\Srv", L"C:\\Srv", L"other.exe", false);
    EXPECT_EQ(serverStartInfo(other).lpParameters, nullptr);
}
