#include "files.h"

#include "text.h"

#include "updater/support/unique_handle.h"

#include <windows.h>

#include <algorithm>
#include <cstring>

namespace bench {

bool exists(const std::wstring& path) {
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

void makeDir(const std::wstring& path) {
    if (!CreateDirectoryW(path.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
        failWith(L"CreateDirectoryW " + path);
    }
}

void writeFile(const std::wstring& path, const char* bytes) {
    const UniqueFileHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                            FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        failWith(L"CreateFileW " + path);
    }
    DWORD written = 0;
    const DWORD size = static_cast<DWORD>(strlen(bytes));
    if (!WriteFile(file.get(), bytes, size, &written, nullptr) || written != size) {
        failWith(L"WriteFile " + path);
    }
}

std::string readFile(const std::wstring& path) {
    const UniqueFileHandle file(CreateFileW(path.c_str(), GENERIC_READ,
                                            FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        failWith(L"CreateFileW " + path);
    }
    std::string bytes;
    char buffer[65536];
    DWORD got = 0;
    while (ReadFile(file.get(), buffer, sizeof buffer, &got, nullptr) && got > 0) {
        bytes.append(buffer, got);
    }
    return bytes;
}

void copyFile(const std::wstring& from, const std::wstring& to) {
    if (!CopyFileW(from.c_str(), to.c_str(), FALSE)) {
        failWith(L"CopyFileW " + from);
    }
}

void removeTree(const std::wstring& dir) {
    WIN32_FIND_DATAW entry;
    {
        const UniqueFindHandle listing(FindFirstFileW((dir + L"\\*").c_str(), &entry));
        if (listing) {
            do {
                const std::wstring name = entry.cFileName;
                if (name == L"." || name == L"..") {
                    continue;
                }
                const std::wstring path = dir + L"\\" + name;
                if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                    removeTree(path);
                } else {
                    DeleteFileW(path.c_str());
                }
            } while (FindNextFileW(listing.get(), &entry));
        }
    } // the listing is closed before its folder goes
    RemoveDirectoryW(dir.c_str());
}

void findFiles(const std::wstring& dir, const std::wstring& suffix,
               std::vector<std::wstring>& found) {
    WIN32_FIND_DATAW entry;
    const UniqueFindHandle listing(FindFirstFileW((dir + L"\\*").c_str(), &entry));
    if (!listing) {
        return;
    }
    do {
        const std::wstring name = entry.cFileName;
        if (name == L"." || name == L"..") {
            continue;
        }
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            findFiles(dir + L"\\" + name, suffix, found);
        } else if (name.size() >= suffix.size() &&
                   name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0) {
            found.push_back(dir + L"\\" + name);
        }
    } while (FindNextFileW(listing.get(), &entry));
}

std::vector<std::wstring> fileNames(const std::wstring& dir) {
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW entry;
    const UniqueFindHandle listing(FindFirstFileW((dir + L"\\*").c_str(), &entry));
    if (listing) {
        do {
            if (!(entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
                names.emplace_back(entry.cFileName);
            }
        } while (FindNextFileW(listing.get(), &entry));
    }
    std::sort(names.begin(), names.end());
    return names;
}

} // namespace bench
