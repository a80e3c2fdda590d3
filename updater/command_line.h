// The updater's command line: options read from the arguments, and the run settings
// derived from them, the updater's own directory and the WOW64 answer.
#pragma once

#include <string>
#include <vector>

// What the arguments say, before normalisation.
struct CommandLineOptions {
    std::wstring appDir;  // "--appDir": slashes turned into backslashes, one appended
    std::wstring exeName; // "--exeName" or a bare argument; the last one given wins
    bool keepOld = false;
    bool checkUpdates = false;
};

// The settings of one run, read-only once built.
struct RunSettings {
    std::wstring appDir;
    std::wstring exeName;     // effective executable name, always ending in ".exe"
    bool defaultName = false; // exeName equals the default name exactly (case counts)
    bool keepOld = false;
    bool checkUpdates = false;
};

// The default server executable: "kyrServer64.exe" for a 32-bit updater on 64-bit
// Windows, otherwise "kyrServer.exe".
std::wstring defaultExeName(bool wow64);

// Reads the arguments that follow the program path, left to right.
CommandLineOptions parseArguments(const std::vector<std::wstring>& arguments);

// Appends ".exe" unless the name already ends in it (in any letter case).
std::wstring withExeExtension(const std::wstring& name);

// Fills in the defaults: ownDir when no application directory was given, the default
// executable name when none was given.
RunSettings normaliseSettings(const CommandLineOptions& options, const std::wstring& ownDir,
                              bool wow64);

// --- Calls into the system ---

// The process's arguments after the program path (GetCommandLineW, CommandLineToArgvW).
std::vector<std::wstring> processArguments();

// The full path of the updater's own executable. Throws Exception "getAppDir()" when it
// cannot be read.
std::wstring ownModulePath();

// The directory of the updater's own executable, without a trailing backslash (the root
// of a drive keeps its backslash). Throws Exception "getAppDir()" when it cannot be read.
std::wstring ownDirectory();

// Whether this 32-bit process runs on 64-bit Windows. IsWow64Process is looked up at run
// time; without it the answer is no. Throws Exception "Error in IsWow64Process".
bool runsUnderWow64();

// Everything above, in the order of the run.
RunSettings readRunSettings();
