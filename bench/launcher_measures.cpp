#include "launcher_measures.h"

#include "clock.h"
#include "files.h"
#include "process.h"

#include <vector>

namespace bench {

Launch measureLaunch(const Workspace& workspace, int repetitions) {
    const std::wstring dir = workspace.root + L"\\launch";
    kyrtest::createDirectories(dir);
    kyrtest::createDirectories(dir + L"\\server");
    kyrtest::createDirectories(dir + L"\\server\\x86");
    copyFile(workspace.builtFile(L"kyrServer.com"), dir + L"\\kyrServer.com");
    copyFile(workspace.builtFile(L"bench\\kyrServer.dll"), dir + L"\\server\\x86\\kyrServer.dll");
    copyFile(workspace.builtFile(L"benchBare.exe"), dir + L"\\benchBare.exe");
    copyFile(workspace.builtFile(L"benchLoadProbe.exe"), dir + L"\\benchLoadProbe.exe");
    const std::wstring launcher = dir + L"\\kyrServer.com";
    const std::wstring bare = dir + L"\\benchBare.exe";
    const std::wstring probe = dir + L"\\benchLoadProbe.exe";
    std::vector<double> launcherTimes, bareTimes, crtTimes, coreTimes;
    for (int rep = -3; rep < repetitions; ++rep) { // three rounds to warm up
        const double l = timeStart(launcher, {}, dir);
        const double b = timeStart(bare, {}, dir);
        const double c = timeStart(probe, {L"ucrt"}, dir);
        const double k = timeStart(probe, {L"ucrt", L"core"}, dir);
        if (rep >= 0) {
            launcherTimes.push_back(l);
            bareTimes.push_back(b);
            crtTimes.push_back(c);
            coreTimes.push_back(k);
        }
    }
    kyrtest::removeTree(dir);
    return {median(launcherTimes), median(bareTimes), median(crtTimes), median(coreTimes)};
}

} // namespace bench
