// File operations of the replacement, done through Win32 so that a failure carries the
// Windows error code (and so the system's message) of the call that failed.
//
// Every path comes in two forms: the one the operator gave, which the reported lines and the
// failures show, and its literal "\\?\" form, which the system is handed. In the literal form
// Win32 takes each name as it stands: a staged "~foo.dll." is renamed as it is, where the
// plain form would drop the trailing dot and touch "foo.dll" instead; and no length limit
// applies.
#pragma once

#include "support/unique_handle.h"

#include <windows.h>

#include <string>
#include <vector>

struct FilePath {
    std::wstring shown;   // as reported: built from the path as the operator gave it
    std::wstring literal; // as handed to the system: "\\?\" and the full path
};

// A name (or a relative path of plain names) below a directory, in both forms.
FilePath operator/(const FilePath& dir, const std::wstring& name);

// The literal form of an absolute, canonical path: "C:\x" -> "\\?\C:\x", "\\host\share\x"
// -> "\\?\UNC\host\share\x", "\\.\x" -> "\\?\x"; a path already literal stays as it is.
// Anything else (a relative path) is returned unchanged.
std::wstring literalForm(const std::wstring& fullPath);

// The path made absolute and canonical once, as Win32 would read its plain form
// (GetFullPathNameW: the current directory for a relative path, "." and ".." resolved,
// slashes turned into backslashes), and shown as given. Throws Exception(path, code).
FilePath resolvePath(const std::wstring& path);

// The codes that mean "no such file or directory": file, path, network path or network
// name not found, and a syntactically impossible name.
bool isNoSuchFileError(DWORD code);

// Whether something exists under the path, following a symbolic link to its target. An
// absent path is no error; any other failure throws Exception(path, code).
bool pathExists(const FilePath& path);

// Removes a file (also a read-only one: the attribute is cleared first and put back when
// the removal fails) or an empty directory. Throws Exception(path, code).
void removePath(const FilePath& path);

// Renames, replacing an existing destination and copying across volumes when needed
// (MoveFileExW with MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED). Throws
// Exception(from + " or " + to, code).
void renamePath(const FilePath& from, const FilePath& to);

struct DirectoryEntry {
    std::wstring name;
    bool directory = false;
};

// One listing of the entries that match a pattern ("dir\*", "dir\~*"): FindFirstFileW, then
// FindNextFileW until it stops, the handle owned. What a failure to start, the reason the
// listing stopped and a failure to close mean is the caller's decision; the listing only
// keeps the codes.
class DirectoryListing {
public:
    explicit DirectoryListing(const FilePath& pattern);

    // Whether the listing started; when not, error() is the code FindFirstFileW left.
    bool started() const { return static_cast<bool>(handle_); }
    // The next entry, as the system returns it ("." and ".." included); false once there is
    // none, error() then telling why FindNextFileW stopped.
    bool next(DirectoryEntry& entry);
    // The code of the failure to start or of the stop.
    DWORD error() const { return error_; }
    // Ends the listing with FindClose; false when that fails, GetLastError telling why.
    bool close();

private:
    UniqueFindHandle handle_;
    WIN32_FIND_DATAW data_{};
    bool firstPending_ = false; // FindFirstFileW's entry not handed out yet
    DWORD error_ = ERROR_SUCCESS;
};

// The entries of a directory, without "." and "..". A directory that cannot be listed
// throws std::filesystem::filesystem_error with the system's code, as the standard
// library's listing would. The standard listing itself is not used: on MinGW it cannot take
// a long path and then lists the current directory instead, without an error.
std::vector<DirectoryEntry> listDirectory(const FilePath& dir);
