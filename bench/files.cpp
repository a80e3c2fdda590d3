#include "files.h"

#include "text.h"

#include "updater/support/unique_handle.h"

#include <windows.h>

#include <algorithm>

namespace bench {

void copyFile(const std::wstring& from, const std::wstring& to) {
    if (!CopyFileW(from.c_str(), to.c_str(), FALSE)) {
        failWith(L"CopyFileW " + from);
    }
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
