// File operations of the replacement, done through Win32 so that a failure carries the
// Windows error code (and so the system's message) of the call that failed. Paths are
// passed as reported; long absolute paths are handed to the system in their "\\?\" form.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

// The codes that mean "no such file or directory": file, path, network path or network
// name not found, and a syntactically impossible name.
bool isNoSuchFileError(DWORD code);

// The form of a path that the wide Win32 calls take: the path itself while it is short
// enough, the "\\?\" (or "\\?\UNC\") form of a long absolute path. Throws Exception
// (path, ERROR_FILENAME_EXCED_RANGE) for a long path that has no such form, so that a
// path the system cannot take is never mistaken for a missing one.
std::wstring systemPath(const std::wstring& path);

// Whether something exists under the path, following a symbolic link to its target. An
// absent path is no error; any other failure throws Exception(path, code).
bool pathExists(const std::wstring& path);

// Removes a file (also a read-only one: the attribute is cleared first and put back when
// the removal fails) or an empty directory. Throws Exception(path, code).
void removePath(const std::wstring& path);

// Renames, replacing an existing destination and copying across volumes when needed
// (MoveFileExW with MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED). Throws
// Exception(from + " or " + to, code).
void renamePath(const std::wstring& from, const std::wstring& to);

// The identity of a file: its volume and its index on the volume, which stay with the file
// when it is renamed.
struct FileId {
    DWORD volume = 0;
    DWORD indexHigh = 0;
    DWORD indexLow = 0;
    bool known = false;
    bool operator==(const FileId& other) const {
        return known && other.known && volume == other.volume && indexHigh == other.indexHigh &&
               indexLow == other.indexLow;
    }
};

// The identity of the file under the path (following links); not known when the file
// cannot be opened or queried.
FileId fileIdOf(const std::wstring& path) noexcept;

struct DirectoryEntry {
    std::wstring name;
    bool directory = false;
};

// The entries of a directory, without "." and "..". A directory that cannot be listed
// throws std::filesystem::filesystem_error with the system's code, as the standard
// library's listing would. The standard listing itself is not used: on MinGW it cannot take
// a long path and then lists the current directory instead, without an error.
std::vector<DirectoryEntry> listDirectory(const std::wstring& dir);
