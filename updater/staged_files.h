// Staged updates: files named "~" + name beside the files they replace, in the application
// directory and three of its subdirectories. The scan finds them and says which process
// groups must stop first; the replacement moves installed files aside to ".old" and renames
// the staged files into place; the cleanup removes from the application directory the files
// that now live in its architecture directories.
#pragma once

#include "file_system.h"
#include "stop_groups.h"

#include <string>
#include <vector>

// A scanned directory and the names of the staged files found there (with their "~"), in
// the order the listing returned them.
struct StagedDirectory {
    FilePath dir;
    std::vector<std::wstring> names;
};

// Directories in the order A, A\ru, A\server\x64, A\server\x86. Only directories that hold
// a staged file have an entry.
using StagedLists = std::vector<StagedDirectory>;

struct ScanResult {
    StagedLists staged;
    int stopMask = 0;
};

// The stop groups of a staged name from the known staged files table (letter case does
// not matter); a name that is not in the table needs both groups stopped.
int stopGroupsOfStagedName(const std::wstring& stagedName);

// Whether an entry of the "~*" listing is a staged file: a file whose long name begins with
// "~". The pattern also matches short names, and a short name drops a long name's leading
// dots: an editor's ".~lock.x#" matches as "~LOCK~1.X#", yet is no staged file.
bool isStagedEntry(const DirectoryEntry& entry);

// Lists A, A\ru, A\server\x64 and A\server\x86 for "~*" files. Changes no file.
ScanResult scanStagedFiles(const FilePath& appDir);

// Puts the staged files in place: probe of every target, renames, leftovers, and the old
// copies removed unless keepOld. Reports each step before it is attempted.
void replaceStagedFiles(const StagedLists& staged, bool keepOld);

// Removes from A every file that also lies in A\server\x86 or A\server\x64, except
// "kyrUpdater.exe".
void removeSupersededFiles(const FilePath& appDir);
