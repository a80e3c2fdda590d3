// A parent for the console tests: starts a program as a detached process (no console, no
// inherited handles), writes its process id to a record file, waits for it and then stays
// until it is killed, so that its own console - when it has one - can still be read and
// the program's process object stays queryable.
//   consoleParent.exe <record file> <program> [arguments...]
//   consoleParent.exe --has-console-window   exit code 1 when this process has a console window
#include "test_support.h"

#include <windows.h>

#include <string>
#include <vector>

int wmain(int argc, wchar_t** argv) {
    if (argc == 2 && std::wstring(argv[1]) == L"--has-console-window") {
        return GetConsoleWindow() ? 1 : 0;
    }
    if (argc < 3) {
        return 2;
    }
    const std::wstring record = argv[1];
    std::vector<std::wstring> arguments(argv + 3, argv + argc);
    std::wstring commandLine = kyrtest::commandLineOf(argv[2], arguments);
    STARTUPINFOW si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    if (!CreateProcessW(argv[2], &commandLine[0], nullptr, nullptr, FALSE,
                        DETACHED_PROCESS | CREATE_UNICODE_ENVIRONMENT, nullptr, nullptr, &si,
                        &pi)) {
        return 3;
    }
    const UniqueHandle thread(pi.hThread);
    const UniqueHandle process(pi.hProcess); // held to the end: the process stays queryable
    // Written under another name first, so that a reader never sees half of it.
    const std::wstring partial = record + L".partial";
    kyrtest::writeFile(partial, std::to_string(pi.dwProcessId));
    MoveFileExW(partial.c_str(), record.c_str(), MOVEFILE_REPLACE_EXISTING);
    WaitForSingleObject(process.get(), INFINITE);
    Sleep(INFINITE);
    return 0;
}
