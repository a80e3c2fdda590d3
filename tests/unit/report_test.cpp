// What standard output gets of a reported line in the updater's process locale (code page
// 1251): every character the code page holds as it is, every other one as '?', one for
// each UTF-16 unit, so that the line keeps its length and its end.
#include "report.h"
#include "support/process_locale.h"

#include <gtest/gtest.h>

TEST(ReportedLines, CharactersTheConsoleCannotTakeBecomeQuestionMarks) {
    setProcessLocale();
    struct Case {
        std::wstring line;
        std::wstring shown;
    };
    const Case cases[] = {
        {L"Rename C:\\Srv\\~kyrCore.dll to C:\\Srv\\kyrCore.dll",
         L"Rename C:\\Srv\\~kyrCore.dll to C:\\Srv\\kyrCore.dll"},
        {L"Remove C:\\\x0421\x0435\x0440\x0432\x0435\x0440\\a.dll",
         L"Remove C:\\\x0421\x0435\x0440\x0432\x0435\x0440\\a.dll"}, // Cyrillic stays
        {L"Rename C:\\A\\~\x65E5\x672C.dll to C:\\A\\\x65E5\x672C.dll",
         L"Rename C:\\A\\~??.dll to C:\\A\\??.dll"},
        {L"Remove C:\\A\\\xD83D\xDE00.txt", L"Remove C:\\A\\??.txt"}, // a surrogate pair
        {L"\x4E2D", L"?"},
        {L"", L""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(consoleText(c.line), c.shown);
    }
}
