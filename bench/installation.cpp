#include "installation.h"

#include "clock.h"
#include "files.h"
#include "process.h"
#include "text.h"

#include <windows.h>

#include <algorithm>
#include <cwchar>
#include <stdexcept>
#include <vector>

namespace bench {

std::wstring newInstallation(Workspace& workspace, const std::wstring& program) {
    std::wstring app = workspace.root + L"\\i" + std::to_wstring(++workspace.installations);
    kyrtest::createDirectories(app);
    for (const wchar_t* dir :
         {L"\\ru", L"\\server", L"\\server\\x64", L"\\server\\x86", L"\\logs"}) {
        kyrtest::createDirectories(app + dir);
    }
    const std::wstring name = program.substr(program.find_last_of(L'\\') + 1);
    copyFile(program, app + L"\\" + name);
    copyFile(workspace.builtFile(L"standinServer.exe"), app + L"\\kyrServer.exe");
    return app;
}

void stageFiles(const std::wstring& app, int n) {
    const std::wstring dirs[] = {app, app + L"\\ru", app + L"\\server\\x64",
                                 app + L"\\server\\x86"};
    wchar_t name[32];
    for (int i = 0; i < n; ++i) {
        const std::wstring& dir = dirs[i % 4];
        swprintf(name, 32, L"bench%05d.dat", i);
        kyrtest::writeFile(dir + L"\\~" + name, "staged version\n");
        if ((i / 4) % 2 == 0) {
            kyrtest::writeFile(dir + L"\\" + name, "installed version\n");
            kyrtest::writeFile(dir + L"\\" + name + L".old", "older version\n");
        }
    }
}

namespace {

int replacedCount(int n) {
    int replaced = 0;
    for (int i = 0; i < n; ++i) {
        replaced += (i / 4) % 2 == 0;
    }
    return replaced;
}

} // namespace

std::size_t expectedLines(int n) {
    const int replaced = replacedCount(n);
    return 3 + 2 + 4 * replaced + (n - replaced) + 2;
}

void checkReplaced(const std::wstring& app, int n) {
    const std::wstring dirs[] = {app, app + L"\\ru", app + L"\\server\\x64",
                                 app + L"\\server\\x86"};
    for (int d = 0; d < 4; ++d) {
        std::vector<std::wstring> expected;
        wchar_t name[32];
        for (int i = d; i < n; i += 4) {
            swprintf(name, 32, L"bench%05d.dat", i);
            expected.emplace_back(name);
        }
        std::vector<std::wstring> found;
        for (const std::wstring& file : fileNames(dirs[d])) {
            if (file.find(L".dat") != std::wstring::npos) { // staged, installed, old copies
                found.push_back(file);
            }
        }
        std::sort(expected.begin(), expected.end());
        if (found != expected ||
            (!found.empty() &&
             kyrtest::readFile(dirs[d] + L"\\" + found.back()) != "staged version\n")) {
            throw std::runtime_error("the update left " + narrow(dirs[d]) + " in a wrong state");
        }
    }
}

void awaitRestartedServer(const std::wstring& app) {
    const double deadline = nowMs() + 20000;
    while (!kyrtest::pathExists(app + L"\\kyrServer.exe.run.txt") && nowMs() < deadline) {
        Sleep(5);
    }
    while (processRunning(L"kyrServer.exe") && nowMs() < deadline) {
        Sleep(5);
    }
    if (nowMs() >= deadline) {
        throw std::runtime_error("the restarted stand-in server did not run and end");
    }
}

} // namespace bench
