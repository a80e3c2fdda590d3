// An installation with many staged files whose every version has a content of its own, and
// the rules of what an update, complete or ended half-way, may have done with each version.
#pragma once

#include "updater_test_util.h"

#include <set>
#include <string>
#include <vector>

namespace kyrtest {

// One file name of one scanned directory and the versions of it the installation starts with.
struct StagedEntry {
    std::wstring dir;       // below the application directory: L"" (A itself), L"ru", ...
    std::wstring name;      // the installed name
    bool installed = false; // dir\name
    bool staged = false;    // dir\~name
    bool oldCopy = false;   // dir\name.old
    bool replaced() const { return installed && staged; }
};

// Entries in A, A\ru, A\server\x64 and A\server\x86, perDirectory in each, cycling through
// every mix of installed file, staged file and old copy; and `shared` names that A has as
// well as one of the architecture directories, so that A's copies are superseded.
std::vector<StagedEntry> mixedEntries(int perDirectory, int shared);

class StagedInstallation : public UpdaterInstall {
public:
    StagedInstallation(std::vector<StagedEntry> entries, bool keepOld);

    std::vector<std::wstring> updaterArguments() const;
    std::size_t stagedCount() const;
    std::size_t fileCount() const { return versions_.size(); }

    // What is wrong with the installation after a run that was ended after it had reported
    // `reported`: a version lost although no reported step may remove it by design, a file
    // where no version of it may be, a version in two places.
    std::vector<std::string> checkInterrupted(const std::vector<std::string>& reported) const;
    // What is wrong after a complete run that followed a run which reported
    // `interruptedReport` (empty: the complete run was the first).
    std::vector<std::string>
    checkCompleted(const std::vector<std::string>& interruptedReport) const;

private:
    enum class Kind { Installed, Staged, OldCopy };
    struct Version {
        std::size_t entry;
        Kind kind;
        std::string content;
    };
    // A reported "Remove" of path, after the report of `after` when that is not empty.
    struct Removal {
        std::wstring path;
        std::string after;
    };

    std::wstring at(const StagedEntry& entry, const std::wstring& fileName) const;
    std::wstring installedPath(const StagedEntry& e) const { return at(e, e.name); }
    std::wstring stagedPath(const StagedEntry& e) const { return at(e, L"~" + e.name); }
    std::wstring oldPath(const StagedEntry& e) const { return at(e, e.name + L".old"); }
    std::string describe(const Version& version) const;
    std::vector<std::wstring> places(const Version& version) const;
    std::vector<Removal> removals(const Version& version) const;
    // The update's files on disk (all but the updater, the server and its record, the logs),
    // by lower-case path relative to the application directory.
    std::vector<std::pair<std::wstring, std::string>> updateFiles() const;

    std::vector<StagedEntry> entries_;
    std::vector<Version> versions_;
    bool keepOld_;
    // Lower-case names in the architecture directories when the cleanup of the run runs.
    std::set<std::wstring> archNamesAtCleanup_;
    // ... and every name they may hold at any time.
    std::set<std::wstring> archNamesEver_;
};

} // namespace kyrtest
