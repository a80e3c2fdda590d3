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

#include <array>
#include <optional>
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

// The absolute, canonical plain form of a path, as Win32 reads it (GetFullPathNameW: the
// current directory for a relative path, "." and ".." resolved, slashes turned into
// backslashes). Throws Exception(path, code).
std::wstring fullPathOf(const std::wstring& path);

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

// What tells a file or directory from every other one: its volume and its file ID. Where the
// system has it (Windows 8 and Server 2012 on), the 128-bit ID of FileIdInfo, which ReFS needs:
// there the 64-bit index of GetFileInformationByHandle is not unique. Elsewhere (Windows 7,
// and a file system that does not answer FileIdInfo) that 64-bit index and the 32-bit serial.
struct FileIdentity {
    bool wide = false; // the 128-bit form
    unsigned long long volume = 0;
    std::array<unsigned char, 16> id{}; // the 64-bit index in the first eight bytes
};

// The two answers of the system, as identities.
FileIdentity identityOfIdInfo(unsigned long long volumeSerial,
                              const std::array<unsigned char, 16>& fileId);
FileIdentity identityOfIndex(const BY_HANDLE_FILE_INFORMATION& information);

// Whether two identities are one file. Only two of one form can be: both come from the same
// file system then. An ID of all zeros or all ones names no file (a network server that keeps
// no IDs answers zero; an ID that does not fit the 64-bit form reads as all ones), so it is
// never the same as anything.
bool sameIdentity(const FileIdentity& a, const FileIdentity& b);

// The identity of an open file or directory; none when the system tells none.
std::optional<FileIdentity> identityOf(HANDLE file);

// A handle that only identifies what the path names, following links to their target: no
// access to the data, every sharing allowed, directories too. Empty when it cannot be opened.
UniqueFileHandle openForIdentity(const FilePath& path);

// The identity of what the path names, or none when it cannot be opened or told.
std::optional<FileIdentity> identityOf(const FilePath& path);

// Whether two open handles are one file, both asked now: on FAT, exFAT and some network
// volumes the index follows the file's directory entry and so changes with a rename, yet two
// handles asked at the same moment agree.
bool sameFile(HANDLE a, HANDLE b);

// Whether two paths name one file (or directory). False when either cannot be opened or told.
bool sameFile(const FilePath& a, const FilePath& b);
