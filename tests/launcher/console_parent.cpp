// A parent for the console tests: starts a program as a detached process (no console, no
// inherited handles), writes its process id to a record file, waits for it and then stays
// until it is killed, so that its own console - when it has one - can still be read and
// the program's process object stays queryable.
//   consoleParent.exe [--hidden] <record file> <program> [arguments...]
//       (--hidden: the program is started with the request to hide its window, SW_HIDE)
//   consoleParent.exe --has-console-window   exit code 1 when this process has a console window
//   consoleParent.exe --own-console <kind> <timeout ms> <program> [arguments...]
//       starts the program with a console of its own - kind "no-window" (CREATE_NO_WINDOW),
//       "window" (CREATE_NEW_CONSOLE) or "hidden-window" (the same, started hidden) - and its
//       standard output and error on this process's console, so that what it writes there
//       outlives its console; then prints "ended <exit code>" or, when it is still running
//       after the timeout (it is then ended), "running"; a line "width <columns> code page
//       <output code page>" of this console; and its rows from the top to the cursor, blanks
//       at their ends dropped, in UTF-8.
#include "test_support.h"

#include <windows.h>

#include <cwchar>
#include <string>
#include <vector>

namespace {

int runWithOwnConsole(const std::wstring& kind, DWORD timeoutMs, const wchar_t* program,
                      const std::vector<std::wstring>& arguments) {
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    const UniqueFileHandle screen(CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE,
                                              FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                                              OPEN_EXISTING, 0, nullptr));
    const UniqueFileHandle input(CreateFileW(L"NUL", GENERIC_READ,
                                             FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                                             OPEN_EXISTING, 0, nullptr));
    if (!screen || !input) {
        return 4;
    }
    STARTUPINFOW si{};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = input.get();
    si.hStdOutput = screen.get();
    si.hStdError = screen.get();
    DWORD flags = CREATE_NEW_CONSOLE;
    if (kind == L"no-window") {
        flags = CREATE_NO_WINDOW;
    } else if (kind == L"hidden-window") {
        si.dwFlags |= STARTF_USESHOWWINDOW;
        si.wShowWindow = SW_HIDE;
    } else if (kind != L"window") {
        return 2;
    }
    std::wstring commandLine = kyrtest::commandLineOf(program, arguments);
    PROCESS_INFORMATION pi{};
    if (!CreateProcessW(program, &commandLine[0], nullptr, nullptr, TRUE,
                        flags | CREATE_UNICODE_ENVIRONMENT, nullptr, nullptr, &si, &pi)) {
        return 3;
    }
    const UniqueHandle thread(pi.hThread);
    const UniqueHandle process(pi.hProcess);
    std::string outcome = "running\n";
    if (WaitForSingleObject(process.get(), timeoutMs) == WAIT_OBJECT_0) {
        DWORD code = 0;
        GetExitCodeProcess(process.get(), &code);
        outcome = "ended " + std::to_string(code) + "\n";
    } else {
        TerminateProcess(process.get(), 99);
        WaitForSingleObject(process.get(), 10000);
    }
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (!GetConsoleScreenBufferInfo(screen.get(), &info)) {
        return 5;
    }
    std::string text = outcome + "width " + std::to_string(info.dwSize.X) + " code page " +
                       std::to_string(GetConsoleOutputCP()) + "\n";
    for (const auto& row : kyrtest::consoleRows(screen.get(), info)) {
        text += kyrtest::toUtf8(row) + "\n";
    }
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), text.data(), static_cast<DWORD>(text.size()),
              &written, nullptr);
    return 0;
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc == 2 && std::wstring(argv[1]) == L"--has-console-window") {
        return GetConsoleWindow() ? 1 : 0;
    }
    if (argc >= 5 && std::wstring(argv[1]) == L"--own-console") {
        return runWithOwnConsole(argv[2], static_cast<DWORD>(std::wcstoul(argv[3], nullptr, 10)),
                                 argv[4], std::vector<std::wstring>(argv + 5, argv + argc));
    }
    const bool hidden = argc >= 2 && std::wstring(argv[1]) == L"--hidden";
    if (hidden) {
        --argc;
        ++argv;
    }
    if (argc < 3) {
        return 2;
    }
    const std::wstring record = argv[1];
    std::vector<std::wstring> arguments(argv + 3, argv + argc);
    std::wstring commandLine = kyrtest::commandLineOf(argv[2], arguments);
    STARTUPINFOW si{};
    si.cb = sizeof si;
    if (hidden) {
        si.dwFlags = STARTF_USESHOWWINDOW;
        si.wShowWindow = SW_HIDE;
    }
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
