#include "staged_files.h"

#include "command_line.h"
#include "file_system.h"
#include "paths.h"
#include "report.h"
#include "support/exception.h"
#include "support/unique_handle.h"

#include <windows.h>

#include <algorithm>
#include <map>
#include <optional>
#include <utility>

namespace {

using NameGroups = std::map<std::wstring, int, CaseInsensitiveLess>;

// The staged files the updater knows, with the process groups each needs stopped.
const NameGroups& knownStagedFiles() {
    static const NameGroups table = {
        {L"~KYR.exe", kApplicationProcesses},        {L"~kyr.web.exe", kApplicationProcesses},
        {L"~kyr.events.exe", kApplicationProcesses}, {L"~kyr.wrapper32.exe", kApplicationProcesses},
        {L"~kyrAddIn.dll", kApplicationProcesses},   {L"~kyrCore.dll", kApplicationProcesses},
        {L"~kyrLib.dll", kApplicationProcesses},     {L"~kyrMain.dll", kApplicationProcesses},
        {L"~kyrShare.dll", kApplicationProcesses},   {L"~kyrXML.dll", kApplicationProcesses},
        {L"~kyrClient.dll", kApplicationProcesses},  {L"~kyrServer.exe", kServerProcesses},
        {L"~kyrServer64.exe", kServerProcesses},     {L"~kyrServer.com", kServerProcesses},
        {L"~kyrServer64.com", kServerProcesses},     {L"~imgkit.dll", kServerProcesses},
        {L"~scriptrt.dll", kServerProcesses},        {L"~cryptoeng.dll", kServerProcesses},
        {L"~dirber.dll", kServerProcesses},          {L"~dirsvc.dll", kServerProcesses},
        {L"~dirsvc_mt.dll", kServerProcesses},       {L"~dirtext.dll", kServerProcesses},
        {L"~dirutil.dll", kServerProcesses},         {L"~urlmap.dll", kServerProcesses},
        {L"~authmech.dll", kServerProcesses},
    };
    return table;
}

// The directories searched for staged files. A directory of both groups takes each file's
// groups from the known staged files table; the others apply their own to every file.
std::vector<std::pair<FilePath, int>> scannedDirectories(const FilePath& appDir) {
    return {
        {appDir, kAllProcesses},
        {appDir / L"ru", kApplicationProcesses},
        {appDir / L"server\\x64", kAllProcesses},
        {appDir / L"server\\x86", kAllProcesses},
    };
}

// Appends the staged files of one directory to its list; returns their stop groups.
int scanDirectory(const FilePath& dir, int dirGroups, std::vector<std::wstring>& names) {
    const FilePath pattern = dir / L"~*";
    DirectoryListing listing(pattern);
    if (!listing.started()) {
        const DWORD error = listing.error();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
            return 0;
        }
        throw Exception(pattern.shown, error);
    }
    int mask = 0;
    DirectoryEntry entry;
    // Every staged file the listing gave is taken; why it stopped is not asked.
    while (listing.next(entry)) {
        if (!isStagedEntry(entry)) {
            continue;
        }
        mask |= dirGroups == kAllProcesses ? stopGroupsOfStagedName(entry.name) : dirGroups;
        names.push_back(entry.name);
    }
    if (!listing.close()) {
        throwLastError(pattern.shown);
    }
    return mask;
}

// The updater's own file cannot be removed while it runs: when a staged updater has just
// replaced it, its old copy is the running program. That copy stays until the next update
// moves a newer version aside to the same name, as a kept old copy would. The running image
// is held open from before the renames and recognised by its identity alone: the name the
// updater was started with may be a short name or a link, and says nothing.
class RunningImage {
public:
    RunningImage() : image_(openForIdentity(resolvePath(ownModulePath()))) {}
    bool is(const FilePath& oldCopy) const {
        if (!image_) {
            return false;
        }
        const UniqueFileHandle candidate = openForIdentity(oldCopy);
        return candidate && sameFile(image_.get(), candidate.get());
    }

private:
    UniqueFileHandle image_;
};

// The long names of one directory, listed once when first asked. A name that reaches an
// existing file but is none of them is another file's short name.
class LongNames {
public:
    explicit LongNames(FilePath dir) : dir_(std::move(dir)) {}
    bool has(const std::wstring& name) {
        if (!listed_) {
            entries_ = listDirectory(dir_);
            listed_ = true;
        }
        return std::any_of(entries_.begin(), entries_.end(), [&name](const DirectoryEntry& entry) {
            return _wcsicmp(entry.name.c_str(), name.c_str()) == 0;
        });
    }

private:
    FilePath dir_;
    bool listed_ = false;
    std::vector<DirectoryEntry> entries_;
};

// Whether the identity is one of those seen before; if not, it is added to them.
bool seenBefore(std::vector<FileIdentity>& seen, const FileIdentity& identity) {
    const auto same = [&identity](const FileIdentity& other) {
        return sameIdentity(other, identity);
    };
    if (std::any_of(seen.begin(), seen.end(), same)) {
        return true;
    }
    seen.push_back(identity);
    return false;
}

// The target of a staged file must be the file of that long name, if it exists: through
// another file's short name ("~KYRWRA~1.EXE") the rename would move that file aside and
// delete it. Throws Exception(target, ERROR_FILE_EXISTS).
void refuseShortNameTarget(const FilePath& dir, const std::wstring& target, LongNames& longNames) {
    const FilePath installed = dir / target;
    if (pathExists(installed) && !longNames.has(target)) {
        throw Exception(installed.shown, ERROR_FILE_EXISTS);
    }
}

// The installed names that one directory's staged files replace.
struct DirectoryTargets {
    FilePath dir;
    std::vector<std::wstring> names;
};

// Probe: every target must be readable or absent before any file changes.
std::vector<DirectoryTargets> probeTargets(const StagedLists& staged) {
    std::vector<DirectoryTargets> targets;
    for (const auto& [dir, names] : staged) {
        DirectoryTargets dirTargets{dir, {}};
        LongNames longNames(dir);
        for (const std::wstring& name : names) {
            const std::wstring target = name.substr(1);
            if (target.empty()) {
                // A file named only "~" replaces nothing; it goes with the leftovers.
                continue;
            }
            // Asked again after the wait: the folder may have changed meanwhile.
            refuseShortNameTarget(dir, target, longNames);
            dirTargets.names.push_back(target);
        }
        targets.push_back(std::move(dirTargets));
    }
    return targets;
}

// Renames: the installed file aside to its old copy, the staged file into its place.
// Returns the old copies made.
std::vector<FilePath> renameIntoPlace(const std::vector<DirectoryTargets>& targets) {
    std::vector<FilePath> oldCopies;
    for (const auto& [dir, names] : targets) {
        for (const std::wstring& target : names) {
            const FilePath installed = dir / target;
            const FilePath stagedPath = dir / (L"~" + target);
            if (pathExists(installed)) {
                const FilePath oldCopy = dir / (target + L".old");
                if (pathExists(oldCopy)) {
                    reportLine(L"Remove " + oldCopy.shown);
                    removePath(oldCopy);
                }
                reportLine(L"Rename " + installed.shown + L" to " + oldCopy.shown);
                renamePath(installed, oldCopy);
                oldCopies.push_back(oldCopy);
            }
            reportLine(L"Rename " + stagedPath.shown + L" to " + installed.shown);
            renamePath(stagedPath, installed);
        }
    }
    return oldCopies;
}

// Leftovers: staged files still there after the renames.
void removeLeftovers(const StagedLists& staged) {
    for (const auto& [dir, names] : staged) {
        for (const std::wstring& name : names) {
            const FilePath stagedPath = dir / name;
            if (pathExists(stagedPath)) {
                reportLine(L"Remove " + stagedPath.shown);
                removePath(stagedPath);
            }
        }
    }
}

// Old copies: removed, except the running updater's own.
void removeOldCopies(const std::vector<FilePath>& oldCopies, const RunningImage& self) {
    for (const FilePath& oldCopy : oldCopies) {
        if (pathExists(oldCopy) && !self.is(oldCopy)) {
            reportLine(L"Remove " + oldCopy.shown);
            removePath(oldCopy);
        }
    }
}

} // namespace

bool isStagedEntry(const DirectoryEntry& entry) {
    return !entry.directory && !entry.name.empty() && entry.name[0] == L'~';
}

int stopGroupsOfStagedName(const std::wstring& stagedName) {
    const NameGroups& table = knownStagedFiles();
    const auto row = table.find(stagedName);
    return row == table.end() ? kAllProcesses : row->second;
}

ScanResult scanStagedFiles(const FilePath& appDir) {
    ScanResult result;
    // A link, mount point or share can make two of the folders one (server\x64 a link to
    // server\x86): it is scanned once, under its first name and with that name's groups, or
    // the second pass would replace the files just put in place.
    std::vector<FileIdentity> scanned;
    for (const auto& [dir, groups] : scannedDirectories(appDir)) {
        if (const std::optional<FileIdentity> identity = identityOf(dir);
            identity && seenBefore(scanned, *identity)) {
            continue;
        }
        std::vector<std::wstring> names;
        result.stopMask |= scanDirectory(dir, groups, names);
        // Refused before the wait, while the installation still runs: after it, the
        // refusal would leave the server stopped.
        LongNames longNames(dir);
        for (const std::wstring& name : names) {
            if (name.size() > 1) {
                refuseShortNameTarget(dir, name.substr(1), longNames);
            }
        }
        if (!names.empty()) {
            result.staged.push_back({dir, std::move(names)});
        }
    }
    return result;
}

void replaceStagedFiles(const StagedLists& staged, bool keepOld) {
    const std::vector<DirectoryTargets> targets = probeTargets(staged);
    // Taken before the renames: afterwards the updater's own path may name its successor.
    const RunningImage self;
    const std::vector<FilePath> oldCopies = renameIntoPlace(targets);
    removeLeftovers(staged);
    if (!keepOld) {
        removeOldCopies(oldCopies, self);
    }
}

void removeSupersededFiles(const FilePath& appDir) {
    // An architecture folder that is A itself (a link to it) would make every file of A its
    // own successor; one that is the folder visited before has nothing more to say.
    std::vector<FileIdentity> visited;
    if (const std::optional<FileIdentity> identity = identityOf(appDir)) {
        visited.push_back(*identity);
    }
    LongNames appNames(appDir);
    for (const wchar_t* archDir : {L"server\\x86", L"server\\x64"}) {
        const FilePath dir = appDir / archDir;
        if (!pathExists(dir)) {
            continue;
        }
        if (const std::optional<FileIdentity> identity = identityOf(dir);
            identity && seenBefore(visited, *identity)) {
            continue;
        }
        for (const DirectoryEntry& entry : listDirectory(dir)) {
            if (entry.directory) {
                continue;
            }
            const std::wstring& name = entry.name;
            if (_wcsicmp(name.c_str(), L"kyrUpdater.exe") == 0) {
                continue;
            }
            const FilePath superseded = appDir / name;
            // Not superseded: a file of A reached only through its short name (the name is
            // another file's long name there), and the very file the architecture folder
            // holds (a link or a second name of it).
            if (pathExists(superseded) && appNames.has(name) && !sameFile(dir / name, superseded)) {
                reportLine(L"Remove " + superseded.shown);
                removePath(superseded);
            }
        }
    }
}
