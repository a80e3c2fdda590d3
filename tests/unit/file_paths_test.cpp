// The two forms of a path (as shown and as handed to the system) and the error codes that
// mean "no such file".
#include "file_system.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <string>

TEST(FilePaths, PathsAreHandedToTheSystemInTheirLiteralForm) {
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

TEST(FilePaths, TheApplicationDirectoryIsResolvedOnceAndShownAsGiven) {
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

TEST(FilePaths, NoSuchFileCodes) {
    for (DWORD code : {2u, 3u, 53u, 67u, 123u}) {
        EXPECT_TRUE(isNoSuchFileError(code)) << code;
    }
    for (DWORD code : {0u, 5u, 32u, 206u, 161u}) {
        EXPECT_FALSE(isNoSuchFileError(code)) << code;
    }
}
