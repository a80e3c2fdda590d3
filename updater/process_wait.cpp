#include "process_wait.h"

#include "stop_groups.h"
#include "support/exception.h"
#include "support/unique_handle.h"

#include <windows.h>
#include <tlhelp32.h>

#include <cwctype>

// The process list record as the 32-bit system fills it.
static_assert(sizeof(void*) != 4 || sizeof(PROCESSENTRY32W) == 556, "PROCESSENTRY32W layout");

bool matchProcessName(const wchar_t* patternFirst, const wchar_t* patternLast,
                      const wchar_t* nameFirst, const wchar_t* nameLast) {
    const wchar_t* p = patternFirst;
    const wchar_t* n = nameFirst;
    while (p != patternLast) {
        if (n == nameLast) {
            for (; p != patternLast; ++p) {
                if (*p != L'*') {
                    return false;
                }
            }
            return true;
        }
        if (*p == L'*') {
            ++p;
            if (p == patternLast) {
                return true;
            }
            for (; n != nameLast; ++n) {
                if (matchProcessName(p, patternLast, n, nameLast)) {
                    return true;
                }
            }
            return false;
        }
        if (*p != L'?' && towlower(*p) != towlower(*n)) {
            return false;
        }
        ++p;
        ++n;
    }
    return n == nameLast;
}

std::vector<std::wstring> stopPatterns(int stopMask) {
    std::vector<std::wstring> patterns;
    if (stopMask & kApplicationProcesses) {
        patterns.insert(patterns.end(),
                        {L"kyr.wrapper*.exe", L"KYR.exe", L"kyr.events.exe", L"kyr.web.exe"});
    }
    if (stopMask & kServerProcesses) {
        patterns.insert(patterns.end(), {L"kyrServer*.exe", L"~kyrServer*.exe"});
    }
    return patterns;
}

namespace {

bool matchesAny(const std::vector<std::wstring>& patterns, const wchar_t* name) {
    const wchar_t* nameLast = name + wcslen(name);
    for (const std::wstring& pattern : patterns) {
        if (matchProcessName(pattern.data(), pattern.data() + pattern.size(), name, nameLast)) {
            return true;
        }
    }
    return false;
}

} // namespace

void waitProcessExit(const std::vector<std::wstring>& patterns) {
    UniqueFileHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot) {
        throwLastError(L"(waitProcessExit) CreateToolhelp32Snapshot returns an error");
    }
    PROCESSENTRY32W entry;
    entry.dwSize = sizeof(entry);
    if (!Process32FirstW(snapshot.get(), &entry)) {
        throwLastError(L"(waitProcessExit) Process32First returns an error");
    }
    const DWORD self = GetCurrentProcessId();
    do {
        if (entry.th32ProcessID == self || !matchesAny(patterns, entry.szExeFile)) {
            continue;
        }
        UniqueHandle process(OpenProcess(SYNCHRONIZE, FALSE, entry.th32ProcessID));
        if (!process) {
            if (GetLastError() == ERROR_INVALID_PARAMETER) {
                continue; // ended since the list was taken
            }
            throwLastError(L"(waitProcessExit) OpenProcess returns an error");
        }
        if (WaitForSingleObject(process.get(), INFINITE) != WAIT_OBJECT_0) {
            throwLastError(L"(waitProcessExit) WaitForSingleObject returns an error");
        }
    } while (Process32NextW(snapshot.get(), &entry));
}
