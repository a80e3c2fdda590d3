// The command line of the updater: option reading, normalisation, the default names.
#include "command_line.h"
#include "paths.h"
#include "support/process_locale.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <cwctype>

namespace {

struct Case {
    const char* name;
    std::vector<std::wstring> arguments;
    std::wstring appDir; // empty: the own directory
    std::wstring exeName;
    bool keepOld;
    bool checkUpdates;
};

const std::wstring kOwnDir = L"C:\\Own\\Dir";

} // namespace

TEST(CommandLine, ReadsAndNormalisesArguments) {
    const Case cases[] = {
        {"no arguments", {}, L"", L"", false, false},
        {"forward slashes", {L"--appDir", L"C:/Srv/App"}, L"C:\\Srv\\App\\", L"", false, false},
        {"trailing backslash kept", {L"--appDir", L"C:\\Srv\\App\\"}, L"C:\\Srv\\App\\", L"",
         false, false},
        {"options in any case",
         {L"--APPDIR", L"D:\\x", L"--KeepOld", L"--CHECK-updates", L"--EXENAME", L"srv"},
         L"D:\\x\\", L"srv.exe", true, true},
        {"appDir last is ignored", {L"--keepOld", L"--appDir"}, L"", L"", true, false},
        {"exeName last is ignored", {L"--exeName"}, L"", L"", false, false},
        {"value taken even if it looks like an option",
         {L"--appDir", L"--keepOld"}, L"--keepOld\\", L"", false, false},
        {"two bare arguments, the last wins", {L"a", L"b"}, L"", L"b.exe", false, false},
        {"bare argument after exeName wins", {L"--exeName", L"first", L"second"}, L"",
         L"second.exe", false, false},
        {"exeName after bare argument wins", {L"bare", L"--exeName", L"named"}, L"",
         L"named.exe", false, false},
        {"later appDir replaces earlier", {L"--appDir", L"C:\\a", L"--appDir", L"C:\\b"},
         L"C:\\b\\", L"", false, false},
        {"equals sign is a bare argument", {L"--appDir=C:\\x"}, L"", L"--appDir=C:\\x.exe",
         false, false},
        {"slash form is a bare argument", {L"/keepOld"}, L"", L"/keepOld.exe", false, false},
        {".exe in capitals is kept", {L"--exeName", L"KYRSERVER64.EXE"}, L"",
         L"KYRSERVER64.EXE", false, false},
        {"mixed-case .exe is kept", {L"srv.ExE"}, L"", L"srv.ExE", false, false},
        {"short name gets .exe", {L"exe"}, L"", L"exe.exe", false, false},
        {"empty exeName value means the default", {L"--exeName", L""}, L"", L"", false, false},
        {"empty appDir value is ignored", {L"--appDir", L""}, L"", L"", false, false},
        {"empty appDir keeps an earlier one", {L"--appDir", L"E:\\a", L"--appDir", L""},
         L"E:\\a\\", L"", false, false},
    };
    for (const bool wow64 : {false, true}) {
        const std::wstring defaultName = wow64 ? L"kyrServer64.exe" : L"kyrServer.exe";
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(c.name) + (wow64 ? " (WOW64)" : ""));
            const RunSettings s = normaliseSettings(parseArguments(c.arguments), kOwnDir, wow64);
            EXPECT_EQ(s.appDir, c.appDir.empty() ? kOwnDir : c.appDir);
            const std::wstring exeName = c.exeName.empty() ? defaultName : c.exeName;
            EXPECT_EQ(s.exeName, exeName);
            EXPECT_EQ(s.defaultName, exeName == defaultName);
            EXPECT_EQ(s.keepOld, c.keepOld);
            EXPECT_EQ(s.checkUpdates, c.checkUpdates);
        }
    }
}

TEST(CommandLine, DefaultNameFlagCountsLetterCase) {
    struct Flag {
        std::wstring exeName;
        bool wow64;
        bool defaultName;
    };
    const Flag flags[] = {
        {L"kyrServer64", true, true},       {L"kyrServer64.exe", true, true},
        {L"KYRSERVER64.EXE", true, false},  {L"kyrServer.exe", true, false},
        {L"kyrServer", false, true},        {L"kyrserver.exe", false, false},
        {L"kyrServer64.exe", false, false}, {L"", true, true},
    };
    for (const auto& f : flags) {
        SCOPED_TRACE(kyrtest::toUtf8(f.exeName));
        CommandLineOptions options;
        options.exeName = f.exeName;
        EXPECT_EQ(normaliseSettings(options, kOwnDir, f.wow64).defaultName, f.defaultName);
    }
}

TEST(CommandLine, OwnDirectoryIsTheFolderOfTheProgram) {
    EXPECT_EQ(ownDirectory(), kyrtest::binDir().wstring());
    EXPECT_NE(ownDirectory().back(), L'\\');
}

TEST(CommandLine, Wow64AnswerMatchesTheSystem) {
    EXPECT_EQ(runsUnderWow64(), kyrtest::underWow64());
}

TEST(ProcessLocale, FoldsCyrillicLetters) {
    setProcessLocale();
    const CaseInsensitiveLess less;
    const std::wstring upper = L"\x0424\x0410\x0419\x041B.DLL"; // ФАЙЛ.DLL
    const std::wstring lower = L"\x0444\x0430\x0439\x043B.dll"; // файл.dll
    EXPECT_FALSE(less(upper, lower));
    EXPECT_FALSE(less(lower, upper));
    EXPECT_EQ(towlower(L'\x0416'), L'\x0436'); // Ж -> ж
    EXPECT_EQ(_wcsicmp(L"~KYRCORE.DLL", L"~kyrCore.dll"), 0);
}

TEST(ProcessLocale, UnknownNameIsABadLocaleName) {
    try {
        setProcessLocale(L"Nowhere_Land.99999");
        FAIL() << "no exception";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "bad locale name");
    }
}

TEST(Paths, JoinInsertsOneBackslash) {
    EXPECT_EQ(joinPath(L"C:\\A", L"x.exe"), L"C:\\A\\x.exe");
    EXPECT_EQ(joinPath(L"C:\\A\\", L"x.exe"), L"C:\\A\\x.exe");
    EXPECT_EQ(joinPath(L"C:\\A/", L"x.exe"), L"C:\\A/x.exe");
    EXPECT_EQ(joinPath(L"C:\\A", L"D:\\B\\x.exe"), L"D:\\B\\x.exe");
    EXPECT_EQ(joinPath(L"C:\\A", L"\\\\srv\\share\\x.exe"), L"\\\\srv\\share\\x.exe");
}
