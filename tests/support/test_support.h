// Support for tests that run the built programs for real under Windows (or Wine):
// temporary installations, child processes with captured output, the update log. Nothing
// here needs GoogleTest: the benchmark uses it too.
#pragma once

#include "child_process.h"
#include "time_scale.h"

#include <windows.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace kyrtest {

// The folder that holds the built programs and this test program.
fs::path binDir();
// A built program (or fixture) by file name, from binDir().
fs::path builtProgram(const std::wstring& fileName);

// A fresh folder under the temporary folder, removed with everything in it on
// destruction (kept when KYR_KEEP_TEMP is set, for a look after a failure).
class TempDir {
public:
    explicit TempDir(const std::wstring& hint = L"kyr");
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const fs::path& path() const { return path_; }

private:
    fs::path path_;
};

// Files and folders through Win32 calls, which take every path the system takes, the literal
// "\\?\" form of a long path included. (MinGW's std::filesystem asks the C runtime's stat,
// which on Windows rejects a path that holds "?" or is longer than MAX_PATH.)
void writeFile(const fs::path& path, const std::string& bytes);
std::string readFile(const fs::path& path);
bool pathExists(const fs::path& path);
// Creates the folder and the folders above it that are missing; throws on failure.
void createDirectories(const fs::path& path);
// The literal form of an absolute path: "\\?\C:\..." ("\\?\UNC\host\..." for a share).
std::wstring literalPath(const fs::path& path);
// Removes a file or a folder with everything in it, also below MAX_PATH's reach; links are
// removed, not followed. False when something could not be removed.
bool removeTree(const fs::path& path);

// Text conversions for expected output.
std::string toUtf8(const std::wstring& text);
std::string toCodePage(const std::wstring& text, UINT codePage);
std::wstring fromCodePage(const std::string& bytes, UINT codePage);
std::wstring fromUtf8(const std::string& text);

// The code page of kyrUpdater's standard output (its process locale is Russian_Russia.1251),
// whatever the system's code pages are. Its log is UTF-8.
constexpr UINT kUpdaterCodePage = 1251;

// The system's English message for an error code, as FormatMessageW gives it (without
// one final line feed), or empty when there is none: for a code without a message, and for
// every code on a Windows without English message files (a Russian one, for instance).
std::wstring systemMessage(DWORD code);
// The text of kyrUpdater's failure for a context and an error code: the context, ": " and
// the system's English message; the context alone where the system has no such message.
std::wstring failureText(const std::wstring& context, DWORD code);

// Every *.log file below base\kyrUpdater, sorted by path.
std::vector<fs::path> logFiles(const fs::path& logsBase);
// The lines of a log file, split on '\n' (the final empty piece dropped).
std::vector<std::string> logLines(const std::string& content);
// The message part of a log line ("timestamp|message" -> message), or the whole line.
std::string logMessage(const std::string& line);
// The messages of a whole log.
std::vector<std::string> logMessages(const std::string& content);
// Standard output split into lines on "\r\n".
std::vector<std::string> outputLines(const std::string& out);

// The rows of a console screen buffer from the top to the cursor, blanks at their ends dropped.
std::vector<std::wstring> consoleRows(HANDLE screen, const CONSOLE_SCREEN_BUFFER_INFO& info);

// Whether this process runs under WOW64 (IsWow64Process).
bool underWow64();

// Makes link a directory link to target: a junction on Windows, a Unix symbolic link under
// Wine (which shows it as a reparse point). False when neither can be made here.
bool linkDirectory(const fs::path& link, const fs::path& target);
// Removes such a link, never what it points to.
void removeLink(const fs::path& link);

// The owner of a file or folder as a SID's text ("S-1-5-19"); empty when it has none or
// cannot be read.
std::wstring ownerOf(const fs::path& path);
// The user of this process's token, as a SID's text.
std::wstring processUser();
// Gives a file or folder to another account than this process's and the system's, as if
// another user had made it: on Windows to LOCAL SERVICE (which needs the restore privilege
// of an elevated administrator); under Wine, which shows the Unix owner (this user, else
// ANONYMOUS LOGON), to the Unix user "nobody" (which needs root). False when neither works.
bool giveToAnotherAccount(const fs::path& path);

} // namespace kyrtest
