#include "staged_installation.h"

#include <algorithm>
#include <map>
#include <unordered_map>

namespace kyrtest {

namespace {

std::wstring lower(std::wstring text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](wchar_t c) { return static_cast<wchar_t>(towlower(c)); });
    return text;
}

bool contains(const std::vector<std::string>& lines, const std::string& line) {
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

// Whether `line` was reported, after `after` when that is not empty.
bool reportedAfter(const std::vector<std::string>& lines, const std::string& line,
                   const std::string& after) {
    auto from = lines.begin();
    if (!after.empty()) {
        from = std::find(lines.begin(), lines.end(), after);
        if (from == lines.end()) {
            return false;
        }
    }
    return std::find(from, lines.end(), line) != lines.end();
}

std::string shown(const std::string& content) {
    return content.empty() ? "nothing" : "\"" + content.substr(0, content.find('\n')) + "\"";
}

} // namespace

std::vector<StagedEntry> mixedEntries(int perDirectory, int shared) {
    struct Mix {
        bool installed, staged, oldCopy;
    };
    static const Mix mixes[] = {{true, true, true},  {true, true, false},  {false, true, false},
                                {false, true, true}, {true, false, false}, {true, false, true}};
    struct Dir {
        const wchar_t* path;
        const wchar_t* stem;
        const wchar_t* extension;
    };
    static const Dir dirs[] = {{L"", L"lib", L".dll"},
                               {L"ru", L"text", L".txt"},
                               {L"server\\x64", L"mod", L".dll"},
                               {L"server\\x86", L"mod", L".dll"}};
    auto number = [](int n, int digits) {
        std::wstring text = std::to_wstring(n);
        return std::wstring(digits > static_cast<int>(text.size()) ? digits - text.size() : 0,
                            L'0') +
               text;
    };
    auto entry = [](const std::wstring& dir, const std::wstring& name, const Mix& mix) {
        return StagedEntry{dir, name, mix.installed, mix.staged, mix.oldCopy};
    };
    std::vector<StagedEntry> entries;
    for (const Dir& dir : dirs) {
        for (int i = 0; i < perDirectory; ++i) {
            entries.push_back(
                entry(dir.path, dir.stem + number(i, 3) + dir.extension, mixes[i % 6]));
        }
    }
    // A's copy of a shared name goes once the architecture directory holds the name (or, for
    // an old copy, the name + ".old").
    for (int i = 0; i < shared; ++i) {
        const std::wstring name = L"shared" + number(i, 2) + L".dll";
        entries.push_back(entry(L"", name, mixes[i % 6]));
        entries.push_back(entry(i % 2 ? L"server\\x86" : L"server\\x64", name, mixes[(i + 3) % 6]));
    }
    return entries;
}

StagedInstallation::StagedInstallation(std::vector<StagedEntry> entries, bool keepOld)
    : entries_(std::move(entries)), keepOld_(keepOld) {
    install(L"standinServer.exe", defaultExeName());
    for (std::size_t i = 0; i < entries_.size(); ++i) {
        const StagedEntry& e = entries_[i];
        if (e.installed) {
            versions_.push_back({i, Kind::Installed, "installed version of "});
        }
        if (e.staged) {
            versions_.push_back({i, Kind::Staged, "staged version of "});
        }
        if (e.oldCopy) {
            versions_.push_back({i, Kind::OldCopy, "old copy of "});
        }
        if (e.dir.rfind(L"server\\", 0) == 0) {
            if (e.installed || e.staged) {
                archNamesAtCleanup_.insert(lower(e.name));
                archNamesEver_.insert(lower(e.name));
            }
            if (e.replaced() ? keepOld_ : e.oldCopy) {
                archNamesAtCleanup_.insert(lower(e.name + L".old"));
            }
            if (e.replaced() || e.oldCopy) {
                archNamesEver_.insert(lower(e.name + L".old"));
            }
        }
    }
    for (Version& v : versions_) {
        const StagedEntry& e = entries_[v.entry];
        v.content += toUtf8(installedPath(e)) + "\n";
        const std::wstring path = v.kind == Kind::Installed ? installedPath(e)
                                  : v.kind == Kind::Staged  ? stagedPath(e)
                                                            : oldPath(e);
        put(path, v.content);
    }
}

std::vector<std::wstring> StagedInstallation::updaterArguments() const {
    return keepOld_ ? std::vector<std::wstring>{L"--keepOld"} : std::vector<std::wstring>{};
}

std::size_t StagedInstallation::stagedCount() const {
    return std::count_if(entries_.begin(), entries_.end(),
                         [](const StagedEntry& e) { return e.staged; });
}

std::wstring StagedInstallation::at(const StagedEntry& entry, const std::wstring& fileName) const {
    return entry.dir.empty() ? fileName : entry.dir + L"\\" + fileName;
}

std::string StagedInstallation::describe(const Version& version) const {
    return "the " + version.content.substr(0, version.content.size() - 1);
}

std::vector<std::wstring> StagedInstallation::places(const Version& version) const {
    const StagedEntry& e = entries_[version.entry];
    switch (version.kind) {
    case Kind::Installed:
        return {installedPath(e), oldPath(e)};
    case Kind::Staged:
        return {stagedPath(e), installedPath(e)};
    case Kind::OldCopy:
        break;
    }
    return {oldPath(e)};
}

std::vector<StagedInstallation::Removal>
StagedInstallation::removals(const Version& version) const {
    const StagedEntry& e = entries_[version.entry];
    const std::string movedAside = renameLine(appDir(), installedPath(e), oldPath(e));
    const std::string movedIn = renameLine(appDir(), stagedPath(e), installedPath(e));
    std::vector<Removal> result;
    // The replacement removes an earlier old copy before it moves the installed file to that
    // name, and, without --keepOld, the version it has just moved aside.
    if (version.kind == Kind::OldCopy && e.replaced()) {
        result.push_back({oldPath(e), ""});
    }
    if (version.kind == Kind::Installed && e.replaced() && !keepOld_) {
        result.push_back({oldPath(e), movedAside});
    }
    // The cleanup removes from A what the architecture directories hold.
    if (e.dir.empty()) {
        const bool name = archNamesAtCleanup_.count(lower(e.name)) > 0;
        const bool old = archNamesAtCleanup_.count(lower(e.name + L".old")) > 0;
        if (version.kind == Kind::Staged && name) {
            result.push_back({installedPath(e), movedIn});
        }
        if (version.kind == Kind::Installed && e.replaced() && old) {
            result.push_back({oldPath(e), movedAside});
        }
        if (version.kind == Kind::Installed && !e.replaced() && name) {
            result.push_back({installedPath(e), ""});
        }
        if (version.kind == Kind::OldCopy && !e.replaced() && old) {
            result.push_back({oldPath(e), ""});
        }
    }
    return result;
}

std::vector<std::pair<std::wstring, std::string>> StagedInstallation::updateFiles() const {
    const std::wstring exe = lower(defaultExeName());
    const std::set<std::wstring> notOfTheUpdate = {L"kyrupdater.exe", exe, exe + L".run.txt",
                                                   exe + L".run.txt.part"};
    const std::wstring base = appDir().wstring() + L"\\";
    std::vector<std::pair<std::wstring, std::string>> files;
    for (auto it = fs::recursive_directory_iterator(appDir());
         it != fs::recursive_directory_iterator(); ++it) {
        const std::wstring relative = lower(it->path().wstring().substr(base.size()));
        if (it->is_directory()) {
            if (relative == L"logs") {
                it.disable_recursion_pending();
            }
            continue;
        }
        if (notOfTheUpdate.count(relative) == 0) {
            files.emplace_back(relative, readFile(it->path()));
        }
    }
    return files;
}

std::vector<std::string>
StagedInstallation::checkInterrupted(const std::vector<std::string>& reported) const {
    std::vector<std::string> problems;
    std::unordered_map<std::string, std::size_t> byContent;
    for (std::size_t i = 0; i < versions_.size(); ++i) {
        byContent.emplace(versions_[i].content, i);
    }
    std::vector<int> seen(versions_.size(), 0);
    for (const auto& [path, content] : updateFiles()) {
        const auto found = byContent.find(content);
        if (found == byContent.end()) {
            problems.push_back(toUtf8(path) + " holds " + shown(content) +
                               ", which is no version of any file");
            continue;
        }
        const Version& v = versions_[found->second];
        ++seen[found->second];
        const auto allowed = places(v);
        if (std::none_of(allowed.begin(), allowed.end(),
                         [&](const std::wstring& place) { return lower(place) == path; })) {
            problems.push_back(describe(v) + " is at " + toUtf8(path) + ", where it may not be");
        }
    }
    for (std::size_t i = 0; i < versions_.size(); ++i) {
        if (seen[i] > 1) {
            problems.push_back(describe(versions_[i]) + " is in " + std::to_string(seen[i]) +
                               " places");
        }
        if (seen[i] == 0) {
            const auto ways = removals(versions_[i]);
            const bool removedByDesign =
                std::any_of(ways.begin(), ways.end(), [&](const Removal& r) {
                    return reportedAfter(reported, removeLine(appDir(), r.path), r.after);
                });
            if (!removedByDesign) {
                problems.push_back(describe(versions_[i]) +
                                   " is lost, and no reported step may remove it");
            }
        }
    }
    return problems;
}

std::vector<std::string>
StagedInstallation::checkCompleted(const std::vector<std::string>& interruptedReport) const {
    struct Expected {
        std::vector<std::string> contents; // any of these
        bool mayBeAbsent = false;
    };
    std::map<std::wstring, Expected> expected;
    auto contentOf = [&](std::size_t entry, Kind kind) {
        for (const Version& v : versions_) {
            if (v.entry == entry && v.kind == kind) {
                return v.content;
            }
        }
        return std::string();
    };
    for (std::size_t i = 0; i < entries_.size(); ++i) {
        const StagedEntry& e = entries_[i];
        Expected installed, old;
        if (e.dir.empty() && archNamesEver_.count(lower(e.name))) {
            installed.mayBeAbsent = true; // superseded
        } else if (e.staged) {
            installed.contents = {contentOf(i, Kind::Staged)};
        } else if (e.installed) {
            installed.contents = {contentOf(i, Kind::Installed)};
        } else {
            installed.mayBeAbsent = true;
        }
        if (e.replaced()) {
            const std::string replacedVersion = contentOf(i, Kind::Installed);
            if (keepOld_) {
                old.contents = {replacedVersion};
            } else {
                // Only the run that moved a version aside removes it again: after a run that
                // was ended once the move was reported, that old copy may stay.
                old.mayBeAbsent = true;
                if (contains(interruptedReport,
                             renameLine(appDir(), installedPath(e), oldPath(e)))) {
                    old.contents = {replacedVersion};
                }
            }
        } else if (e.oldCopy) {
            old.contents = {contentOf(i, Kind::OldCopy)};
        } else {
            old.mayBeAbsent = true;
        }
        const std::wstring oldName = lower(e.name + L".old");
        if (e.dir.empty() && archNamesAtCleanup_.count(oldName)) {
            old = Expected{{}, true}; // superseded
        } else if (e.dir.empty() && archNamesEver_.count(oldName)) {
            old.mayBeAbsent = true;
        }
        expected[lower(installedPath(e))] = installed;
        expected[lower(oldPath(e))] = old;
        expected[lower(stagedPath(e))] = Expected{{}, true};
    }

    std::vector<std::string> problems;
    std::set<std::wstring> present;
    for (const auto& [path, content] : updateFiles()) {
        present.insert(path);
        const auto it = expected.find(path);
        if (it == expected.end()) {
            problems.push_back(toUtf8(path) + " should not exist; it holds " + shown(content));
            continue;
        }
        const auto& allowed = it->second.contents;
        if (std::find(allowed.begin(), allowed.end(), content) == allowed.end()) {
            problems.push_back(
                toUtf8(path) + " holds " + shown(content) + " instead of " +
                (allowed.empty() ? std::string("nothing (no file)") : shown(allowed.front())));
        }
    }
    for (const auto& [path, e] : expected) {
        if (!e.mayBeAbsent && !present.count(path)) {
            problems.push_back(toUtf8(path) + " is missing; it should hold " +
                               shown(e.contents.front()));
        }
    }
    return problems;
}

} // namespace kyrtest
