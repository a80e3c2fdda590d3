// The least a staged-file update can do: the same file-system calls as kyrUpdater's scan,
// replacement and superseded-file cleanup (existence tests with GetFileAttributesW, renames
// with MoveFileExW, removals with DeleteFileW, listings with FindFirstFileW) and the same
// lines, each written to standard output and to a log file that is flushed after every
// line. Nothing else: no locale, no guard, no process wait, no server start.
//   benchBaseline.exe <application directory> [--split-log-writes]
// The log goes to <application directory>\logs\baseline.log. A log line is one write, or
// with --split-log-writes three (time stamp, text, line feed), as the updater writes it.
#include "updater/support/unique_handle.h"

#include <windows.h>

#include <cwchar>
#include <string>
#include <vector>

namespace {

HANDLE out = INVALID_HANDLE_VALUE;
HANDLE logFile = INVALID_HANDLE_VALUE;
bool splitLogWrites = false;

// A failed call ends the run with its error code.
[[noreturn]] void fail() {
    const DWORD error = GetLastError();
    ExitProcess(error ? error : 1);
}

void putTwo(char* at, unsigned value) {
    at[0] = static_cast<char>('0' + value / 10 % 10);
    at[1] = static_cast<char>('0' + value % 10);
}

// "DD.MM.YYYY hh:mm:ss.mmm|", the log's time stamp, built by hand.
void stamp(char* at) {
    FILETIME utc;
    FILETIME local;
    SYSTEMTIME t;
    GetSystemTimePreciseAsFileTime(&utc);
    FileTimeToLocalFileTime(&utc, &local);
    FileTimeToSystemTime(&local, &t);
    putTwo(at, t.wDay);
    at[2] = '.';
    putTwo(at + 3, t.wMonth);
    at[5] = '.';
    putTwo(at + 6, t.wYear / 100);
    putTwo(at + 8, t.wYear % 100);
    at[10] = ' ';
    putTwo(at + 11, t.wHour);
    at[13] = ':';
    putTwo(at + 14, t.wMinute);
    at[16] = ':';
    putTwo(at + 17, t.wSecond);
    at[19] = '.';
    at[20] = static_cast<char>('0' + t.wMilliseconds / 100);
    putTwo(at + 21, t.wMilliseconds % 100);
    at[23] = '|';
}

void writeAll(HANDLE file, const char* data, DWORD size) {
    DWORD written = 0;
    if (!WriteFile(file, data, size, &written, nullptr) || written != size) {
        fail();
    }
}

// One line: code page 1251 with CR LF to standard output, then UTF-8 with its time stamp
// to the log, flushed to disk.
void report(const std::wstring& line) {
    char bytes[8192];
    const int wide = static_cast<int>(line.size());
    int n =
        WideCharToMultiByte(1251, 0, line.data(), wide, bytes, sizeof bytes - 2, nullptr, nullptr);
    bytes[n] = '\r';
    bytes[n + 1] = '\n';
    if (out != INVALID_HANDLE_VALUE) {
        writeAll(out, bytes, static_cast<DWORD>(n + 2));
    }
    stamp(bytes);
    n = WideCharToMultiByte(CP_UTF8, 0, line.data(), wide, bytes + 24, sizeof bytes - 25, nullptr,
                            nullptr);
    bytes[24 + n] = '\n';
    if (splitLogWrites) {
        writeAll(logFile, bytes, 24);
        writeAll(logFile, bytes + 24, static_cast<DWORD>(n));
        writeAll(logFile, bytes + 24 + n, 1);
    } else {
        writeAll(logFile, bytes, static_cast<DWORD>(25 + n));
    }
    if (!FlushFileBuffers(logFile)) {
        fail();
    }
}

bool exists(const std::wstring& path) {
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

void removeFile(const std::wstring& path) {
    // The updater reads the attributes first, to clear a read-only flag.
    if (GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES || !DeleteFileW(path.c_str())) {
        fail();
    }
}

void rename(const std::wstring& from, const std::wstring& to) {
    if (!MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED)) {
        fail();
    }
}

// The names of the files (not directories) that match the pattern.
std::vector<std::wstring> listFiles(const std::wstring& pattern) {
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW entry;
    const UniqueFindHandle listing(FindFirstFileW(pattern.c_str(), &entry));
    if (!listing) {
        return names;
    }
    do {
        if (!(entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
            names.emplace_back(entry.cFileName);
        }
    } while (FindNextFileW(listing.get(), &entry));
    return names;
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 2) {
        return 2;
    }
    const std::wstring appDir = argv[1];
    splitLogWrites = argc > 2 && std::wcscmp(argv[2], L"--split-log-writes") == 0;
    out = GetStdHandle(STD_OUTPUT_HANDLE);
    logFile = CreateFileW((appDir + L"\\logs\\baseline.log").c_str(), GENERIC_READ | GENERIC_WRITE,
                          FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, CREATE_ALWAYS,
                          FILE_ATTRIBUTE_NORMAL, nullptr);
    if (logFile == INVALID_HANDLE_VALUE) {
        fail();
    }
    report(L"Start benchBaseline");
    report(L"Application directory: " + appDir);
    report(L"Executable name: kyrServer.exe");

    const std::wstring dirs[] = {appDir, appDir + L"\\ru", appDir + L"\\server\\x64",
                                 appDir + L"\\server\\x86"};
    std::vector<std::wstring> staged[4];
    for (int d = 0; d < 4; ++d) {
        staged[d] = listFiles(dirs[d] + L"\\~*");
    }
    report(L"Wait for stop KYR processes...");
    report(L"KYR processes stopped");

    std::vector<std::wstring> oldCopies;
    for (int d = 0; d < 4; ++d) {
        for (const std::wstring& name : staged[d]) {
            exists(dirs[d] + L"\\" + name.substr(1));
        }
    }
    for (int d = 0; d < 4; ++d) {
        for (const std::wstring& name : staged[d]) {
            const std::wstring target = dirs[d] + L"\\" + name.substr(1);
            const std::wstring source = dirs[d] + L"\\" + name;
            if (exists(target)) {
                const std::wstring oldCopy = target + L".old";
                if (exists(oldCopy)) {
                    report(L"Remove " + oldCopy);
                    removeFile(oldCopy);
                }
                report(L"Rename " + target + L" to " + oldCopy);
                rename(target, oldCopy);
                oldCopies.push_back(oldCopy);
            }
            report(L"Rename " + source + L" to " + target);
            rename(source, target);
        }
    }
    for (int d = 0; d < 4; ++d) {
        for (const std::wstring& name : staged[d]) {
            const std::wstring source = dirs[d] + L"\\" + name;
            if (exists(source)) {
                report(L"Remove " + source);
                removeFile(source);
            }
        }
    }
    for (const std::wstring& oldCopy : oldCopies) {
        if (exists(oldCopy)) {
            report(L"Remove " + oldCopy);
            removeFile(oldCopy);
        }
    }

    for (const wchar_t* archDir : {L"\\server\\x86", L"\\server\\x64"}) {
        const std::wstring dir = appDir + archDir;
        if (!exists(dir)) {
            continue;
        }
        for (const std::wstring& name : listFiles(dir + L"\\*")) {
            if (_wcsicmp(name.c_str(), L"kyrUpdater.exe") == 0) {
                continue;
            }
            const std::wstring superseded = appDir + L"\\" + name;
            if (exists(superseded)) {
                report(L"Remove " + superseded);
                removeFile(superseded);
            }
        }
    }
    report(L"Run " + appDir + L"\\kyrServer.exe /AfterUpdate");
    report(L"Update complete");
    return 0;
}
