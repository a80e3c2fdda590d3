// The process name patterns of the wait: anchored wildcards, letter case folded in the
// process locale.
#include "process_locale_suite.h"
#include "process_wait.h"

#include <gtest/gtest.h>

#include <string>

namespace {

bool matches(const std::wstring& pattern, const std::wstring& name) {
    return matchProcessName(pattern.data(), pattern.data() + pattern.size(), name.data(),
                            name.data() + name.size());
}

class ProcessNamePatterns : public ProcessLocaleSuite {};

} // namespace

TEST_F(ProcessNamePatterns, ProcessNamesMatchAnchoredWildcardsWithoutRegardToCase) {
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

TEST_F(ProcessNamePatterns, NameRangesNeedNoTerminator) {
    const std::wstring text = L"KYR.exeTAIL";
    const std::wstring pattern = L"kyr.exe*";
    EXPECT_TRUE(matchProcessName(pattern.data(), pattern.data() + 7, text.data(), text.data() + 7));
    EXPECT_FALSE(
        matchProcessName(pattern.data(), pattern.data() + 7, text.data(), text.data() + 8));
}
