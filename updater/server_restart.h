// The restart of the server program through the shell once the files are in place.
#pragma once

#include <windows.h>
#include <shellapi.h>

#include <cstdint>
#include <string>

struct ServerStart {
    std::wstring program;    // as reported: A as given joined with the executable name
    std::wstring parameters; // "/AfterUpdate" for the default executable, else empty
    // As handed to the shell, which takes no relative working folder with a relative file:
    // the full path of A, and that joined with the executable name.
    std::wstring shellProgram;
    std::wstring shellDirectory;
};

// The start of the server for A as given and A's full path (the same for an absolute A).
ServerStart serverStartOf(const std::wstring& appDir, const std::wstring& fullAppDir,
                          const std::wstring& exeName, bool defaultName);

// The text appended to a failed start's message for the shell's result (hInstApp), or null when
// the result counts as a successful start.
const wchar_t* shellExecuteFailureText(std::intptr_t result);

// How the shell is asked to start the server: verb "open", hidden, in the directory, with
// no user interface of the shell's own (no message box, no zone-check prompt) and done
// before the call returns. Points into start.
SHELLEXECUTEINFOW serverStartInfo(const ServerStart& start);

// Reports "Run " + program + " " + parameters and starts the program hidden, in A, without
// waiting for it. Throws Exception (no error code) when the shell reports a failed start.
void restartServer(const std::wstring& appDir, const std::wstring& exeName, bool defaultName);
