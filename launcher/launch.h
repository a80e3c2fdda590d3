// The launcher's run: obtain the entry of the server core library, hand the command line
// to it and end with its result; when no entry could be obtained, show the load log and
// the reason on a console and end with 1.
#pragma once

#include "core_dll_loader.h"

#include <ostream>

// Finds the entry, writing what it learns into the load log; empty when there is none.
// May throw. The launcher's finder is the CoreDllLoader's search (findWithCoreDllLoader).
using EntryFinder = ServerMainFn (*)(std::wostream& loadLog);

// A CoreDllLoader on the load log and its findServerMain; the loader is gone on return.
ServerMainFn findWithCoreDllLoader(std::wostream& loadLog);

// The run sequence of the launcher's wmain: the exit code is the entry's result, or 1
// when the search failed or anything escaped the entry.
int runLauncher(int argc, wchar_t** argv, EntryFinder findEntry);
