// The wait for the installation's processes: one process list, every process whose file
// name matches a pattern of the groups to stop, each waited for without a time limit. The
// updater never stops or signals a process itself.
#pragma once

#include <string>
#include <vector>

// Anchored wildcard match of a bare file name: '*' matches any run (also none), '?' one
// character, every other character itself without regard to case (towlower, in the
// process locale). Half-open ranges of UTF-16 units; no terminator needed.
bool matchProcessName(const wchar_t* patternFirst, const wchar_t* patternLast,
                      const wchar_t* nameFirst, const wchar_t* nameLast);

// The name patterns of the groups in the stop mask (a set of StopGroup bits): the
// application processes first ("kyr.wrapper*.exe", "KYR.exe", "kyr.events.exe",
// "kyr.web.exe"), then the server processes ("kyrServer*.exe", "~kyrServer*.exe").
std::vector<std::wstring> stopPatterns(int stopMask);

// Returns once every process that was running at the call, is not this process and
// matches a pattern has ended. Throws Exception on a failed system call.
void waitProcessExit(const std::vector<std::wstring>& patterns);
