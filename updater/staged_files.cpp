#include "staged_files.h"

#include "command_line.h"
#include "file_system.h"
#include "paths.h"
#include "report.h"
#include "support/exception.h"
#include "support/unique_handle.h"

#include <windows.h>

#include <map>
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
    // Every entry the listing gave is taken; why it stopped is not asked.
    while (listing.next(entry)) {
        if (entry.directory) {
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

std::wstring fileNameOf(const std::wstring& path) {
    const std::size_t slash = path.find_last_of(L"\\/");
    return path.substr(slash == std::wstring::npos ? 0 : slash + 1);
}

// A handle that only identifies a file: no access to its data, every sharing allowed.
UniqueFileHandle openForIdentity(const std::wstring& literal) {
    return UniqueFileHandle(
        CreateFileW(literal.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
}

// Whether two open handles are one file: the same volume and index, both asked now. On
// FAT, exFAT and some network volumes the index follows the file's directory entry and so
// changes with a rename; asked of two handles at the same moment it still agrees.
bool sameFile(HANDLE a, HANDLE b) {
    BY_HANDLE_FILE_INFORMATION first;
    BY_HANDLE_FILE_INFORMATION second;
    return GetFileInformationByHandle(a, &first) && GetFileInformationByHandle(b, &second) &&
           first.dwVolumeSerialNumber == second.dwVolumeSerialNumber &&
           first.nFileIndexHigh == second.nFileIndexHigh &&
           first.nFileIndexLow == second.nFileIndexLow;
}

// The updater's own file cannot be removed while it runs: when a staged updater has just
// replaced it, its old copy is the running program. That copy stays until the next update
// moves a newer version aside to the same name, as a kept old copy would. The running
// image is held open from before the renames, so it is recognised under any later name.
class RunningImage {
public:
    RunningImage() {
        const std::wstring path = ownModulePath();
        oldCopyName_ = fileNameOf(path) + L".old";
        image_ = openForIdentity(resolvePath(path).literal);
    }
    bool is(const FilePath& oldCopy) const {
        // Only the updater's own name with ".old" can be it; only then ask the file system.
        if (!image_ || _wcsicmp(fileNameOf(oldCopy.literal).c_str(), oldCopyName_.c_str()) != 0) {
            return false;
        }
        const UniqueFileHandle candidate = openForIdentity(oldCopy.literal);
        return candidate && sameFile(image_.get(), candidate.get());
    }

private:
    std::wstring oldCopyName_;
    UniqueFileHandle image_;
};

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
        for (const std::wstring& name : names) {
            const std::wstring target = name.substr(1);
            if (target.empty()) {
                // A file named only "~" replaces nothing; it goes with the leftovers.
                continue;
            }
            pathExists(dir / target);
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

int stopGroupsOfStagedName(const std::wstring& stagedName) {
    const NameGroups& table = knownStagedFiles();
    const auto row = table.find(stagedName);
    return row == table.end() ? kAllProcesses : row->second;
}

ScanResult scanStagedFiles(const FilePath& appDir) {
    ScanResult result;
    for (const auto& [dir, groups] : scannedDirectories(appDir)) {
        std::vector<std::wstring> names;
        result.stopMask |= scanDirectory(dir, groups, names);
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
    for (const wchar_t* archDir : {L"server\\x86", L"server\\x64"}) {
        const FilePath dir = appDir / archDir;
        if (!pathExists(dir)) {
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
            if (pathExists(superseded)) {
                reportLine(L"Remove " + superseded.shown);
                removePath(superseded);
            }
        }
    }
}
