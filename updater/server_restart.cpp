#include "server_restart.h"

#include "file_system.h"
#include "paths.h"
#include "report.h"
#include "support/exception.h"

#include <windows.h>
#include <shellapi.h>

ServerStart serverStartOf(const std::wstring& appDir, const std::wstring& fullAppDir,
                          const std::wstring& exeName, bool defaultName) {
    return {joinPath(appDir, exeName), defaultName ? L"/AfterUpdate" : L"",
            joinPath(fullAppDir, exeName), fullAppDir};
}

const wchar_t* shellExecuteFailureText(std::intptr_t result) {
    switch (result) {
    case 0:
        return L": The operating system is out of memory or resources";
    case ERROR_FILE_NOT_FOUND:
        return L": The specified file was not found";
    case ERROR_PATH_NOT_FOUND:
        return L": The specified path was not found";
    case SE_ERR_ACCESSDENIED:
        return L": The operating system denied access to the specified file";
    case SE_ERR_OOM:
        return L": There was not enough memory to complete the operation";
    case ERROR_BAD_FORMAT:
        return L": The .exe file is invalid (non-Win32 .exe or error in .exe image)";
    case SE_ERR_SHARE:
        return L": A sharing violation occurred";
    case SE_ERR_ASSOCINCOMPLETE:
        return L": The file name association is incomplete or invalid";
    case SE_ERR_DDETIMEOUT:
        return L": The DDE transaction could not be completed because the request timed out";
    case SE_ERR_DDEFAIL:
        return L": The DDE transaction failed";
    case SE_ERR_DDEBUSY:
        return L": The DDE transaction could not be completed because other DDE transactions "
               L"were being processed";
    case SE_ERR_NOASSOC:
        return L": There is no application associated with the given file name extension. "
               L"This error will also be returned if you attempt to print a file that is not "
               L"printable";
    case SE_ERR_DLLNOTFOUND:
        return L": The specified DLL was not found";
    default:
        // Above 32 is a started program; the other small values count as one too.
        return nullptr;
    }
}

SHELLEXECUTEINFOW serverStartInfo(const ServerStart& start) {
    SHELLEXECUTEINFOW info{};
    info.cbSize = sizeof info;
    // Unattended: no message box and no security prompt for a file with a zone mark (the
    // updater would wait there for ever, holding the guard), and the start is done when
    // the call returns.
    info.fMask = SEE_MASK_FLAG_NO_UI | SEE_MASK_NOZONECHECKS | SEE_MASK_NOASYNC;
    info.lpVerb = L"open";
    info.lpFile = start.shellProgram.c_str();
    info.lpParameters = start.parameters.empty() ? nullptr : start.parameters.c_str();
    info.lpDirectory = start.shellDirectory.c_str();
    info.nShow = SW_HIDE;
    return info;
}

void restartServer(const std::wstring& appDir, const std::wstring& exeName, bool defaultName) {
    // The files were updated in the directory that GetFullPathNameW made of A; the server
    // starts in that same one.
    const ServerStart start = serverStartOf(appDir, fullPathOf(appDir), exeName, defaultName);
    reportLine(L"Run " + start.program + L" " + start.parameters);
    // The shell takes neither a program path nor a working directory beyond MAX_PATH (a
    // working directory is limited to MAX_PATH - 2 characters, and Wine's shell corrupts its
    // heap on a longer one): such a start fails here, clearly, instead of inside the shell.
    if (start.shellProgram.size() >= MAX_PATH || start.shellDirectory.size() >= MAX_PATH - 1) {
        throw Exception(start.program + L" " + start.parameters, ERROR_FILENAME_EXCED_RANGE);
    }
    SHELLEXECUTEINFOW info = serverStartInfo(start);
    // The outcome is judged by hInstApp alone, which the shell sets either way: above 32
    // for a started program, else the code of the failure.
    ShellExecuteExW(&info);
    const auto result = reinterpret_cast<std::intptr_t>(info.hInstApp);
    if (static_cast<std::uintptr_t>(result) > 32) {
        return;
    }
    if (const wchar_t* failure = shellExecuteFailureText(result)) {
        throw Exception(start.program + L" " + start.parameters + failure, 0);
    }
}
