// The bench's workspace and the installations it builds in it: an application directory
// with the scanned folders, the program to run and the stand-in server, and N staged files.
#pragma once

#include <string>

namespace bench {

// Where the built programs are and where installations go. One per bench run, passed to
// whatever builds an installation; root may change between measurements.
struct Workspace {
    std::wstring binDir; // the built programs (the bench's own folder)
    std::wstring root;   // the installations' folder; empty until chosen
    int installations = 0;

    std::wstring builtFile(const std::wstring& name) const { return binDir + L"\\" + name; }
};

// An application directory with the scanned folders, a logs folder (so the updater's log
// lands inside it), a copy of the program and the stand-in server under the default server
// name.
std::wstring newInstallation(Workspace& workspace, const std::wstring& program);

// n staged files spread over the four scanned folders; every other pair of rounds has an
// installed file and an old copy, so half of the files are replaced and half are new.
// Their names are in no stop group's process patterns' reach: nothing waits.
void stageFiles(const std::wstring& app, int n);

// Lines a run reports for n staged files: three start lines, the wait's two, four per
// replaced file (old copy removed, installed file aside, staged file in, old copy removed),
// one per new file, the server start and the end.
std::size_t expectedLines(int n);

// Whether the update left exactly the installed files: no staged file, no old copy. Throws
// when not.
void checkReplaced(const std::wstring& app, int n);

// Waits until the server the updater started has written its record and ended, so that
// the next run finds no process to wait for.
void awaitRestartedServer(const std::wstring& app);

} // namespace bench
