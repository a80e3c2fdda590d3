// The stop groups: the name patterns each group waits for, and the groups the known staged
// files need stopped (their names compared without regard to case, in the process locale).
#include "process_locale_suite.h"
#include "process_wait.h"
#include "staged_files.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace {

class StopGroups : public ProcessLocaleSuite {};

} // namespace

TEST_F(StopGroups, StopMaskSelectsThePatternGroupsApplicationFirst) {
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

TEST_F(StopGroups, KnownStagedFilesGiveTheirStopGroups) {
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
