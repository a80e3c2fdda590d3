#include "console.h"

#include <windows.h>

#include <io.h>
#include <cstdio>
#include <fstream>
#include <iostream>

namespace {

bool attachToParentConsole() {
    return AttachConsole(ATTACH_PARENT_PROCESS) != FALSE;
}

// The wide standard streams write to the console through a stream of their own. Only for
// a standard stream that the C runtime cannot reopen because it never had a descriptor:
// a process started without standard handles has such streams (descriptor -2) under Wine's
// C runtime, whose freopen_s then leaves them as they are. (Windows' msvcrt gives them a
// descriptor, and the Universal C Runtime reopens them.)
bool writeWideStreamsToConsole() {
    static std::wofstream console;
    if (!console.is_open()) {
        console.open("CONOUT$");
    }
    if (!console.is_open()) {
        return false;
    }
    std::wcout.rdbuf(console.rdbuf());
    std::wcerr.rdbuf(console.rdbuf());
    return true;
}

bool reopenOnConsole(FILE* stream, int descriptor) {
    const bool hadDescriptor = _fileno(stream) >= 0;
    FILE* reopened = nullptr;
    if (freopen_s(&reopened, "CONOUT$", "w", stream) == 0 && reopened) {
        _dup2(_fileno(reopened), descriptor);
        return true;
    }
    return !hadDescriptor && writeWideStreamsToConsole();
}

} // namespace

bool consoleAvailable() {
    if (GetConsoleWindow()) {
        return true;
    }
    if (!attachToParentConsole()) {
        return false;
    }
    return reopenStdStreams();
}

bool acquireConsole() {
    if (GetConsoleWindow()) {
        return true;
    }
    if (attachToParentConsole() && reopenStdStreams()) {
        return true;
    }
    if (!AllocConsole()) {
        return false;
    }
    return reopenStdStreams();
}

bool reopenStdStreams() {
    if (!reopenOnConsole(stdout, 1) || !reopenOnConsole(stderr, 2)) {
        return false;
    }
    std::ios::sync_with_stdio(true);
    return true;
}

bool waitsForKey(const ConsoleSituation& situation) {
    if (!situation.interactiveSession || situation.startedHidden) {
        return false;
    }
    if (situation.consoleCreated) {
        return true;
    }
    return situation.consoleProcesses == 1 && situation.consoleHasWindow &&
           situation.outputIsConsole;
}

unsigned long consoleProcessCount() {
    DWORD processes[2];
    return GetConsoleProcessList(processes, 2);
}

bool consoleHasWindow() {
    return GetConsoleWindow() != nullptr;
}

bool startedHidden() {
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    GetStartupInfoW(&startup);
    return (startup.dwFlags & STARTF_USESHOWWINDOW) != 0 && startup.wShowWindow == SW_HIDE;
}

bool outputIsConsole() {
    DWORD mode = 0;
    return GetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), &mode) != FALSE;
}

bool interactiveSession() {
    DWORD session = 0;
    return ProcessIdToSessionId(GetCurrentProcessId(), &session) && session != 0;
}
