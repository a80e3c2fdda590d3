#include "file_system.h"

#include "support/exception.h"
#include "paths.h"
#include "support/unique_handle.h"

#include <filesystem>
#include <system_error>

namespace {

bool isSeparator(wchar_t c) {
    return c == L'\\' || c == L'/';
}

// Whether a path may be written in the "\\?\" form, which the system takes literally: it
// must be absolute and hold no "." or ".." element, which only the plain form resolves.
bool hasLiteralForm(const std::wstring& path) {
    const bool drive = path.size() >= 3 && path[1] == L':' && isSeparator(path[2]);
    const bool unc = path.size() >= 3 && isSeparator(path[0]) && isSeparator(path[1]) &&
                     !isSeparator(path[2]) && path[2] != L'?' && path[2] != L'.';
    if (!drive && !unc) {
        return false;
    }
    std::size_t begin = 0;
    while (begin <= path.size()) {
        std::size_t end = begin;
        while (end < path.size() && !isSeparator(path[end])) {
            ++end;
        }
        const std::wstring element = path.substr(begin, end - begin);
        if (element == L"." || element == L"..") {
            return false;
        }
        begin = end + 1;
    }
    return true;
}

// Attributes of the path, following a symbolic link or junction to its target.
bool readAttributes(const std::wstring& path, DWORD& attributes, DWORD& error) {
    const std::wstring name = systemPath(path);
    attributes = GetFileAttributesW(name.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        error = GetLastError();
        return false;
    }
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
        UniqueFileHandle target(
            CreateFileW(name.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                        nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
        BY_HANDLE_FILE_INFORMATION information;
        if (!target || !GetFileInformationByHandle(target.get(), &information)) {
            error = GetLastError();
            return false;
        }
        attributes = information.dwFileAttributes;
    }
    return true;
}

} // namespace

bool isNoSuchFileError(DWORD code) {
    switch (code) {
    case ERROR_FILE_NOT_FOUND: // 2
    case ERROR_PATH_NOT_FOUND: // 3
    case ERROR_BAD_NETPATH:    // 53
    case ERROR_BAD_NET_NAME:   // 67
    case ERROR_INVALID_NAME:   // 123
        return true;
    default:
        return false;
    }
}

std::wstring systemPath(const std::wstring& path) {
    // Directories are limited to MAX_PATH - 12 characters (room for an 8.3 name), files to
    // MAX_PATH - 1; the stricter limit serves both.
    if (path.size() < MAX_PATH - 12) {
        return path;
    }
    if (!hasLiteralForm(path)) {
        throw Exception(path, ERROR_FILENAME_EXCED_RANGE);
    }
    std::wstring literal;
    if (isSeparator(path[0])) {
        literal = L"\\\\?\\UNC\\" + path.substr(2);
    } else {
        literal = L"\\\\?\\" + path;
    }
    for (wchar_t& c : literal) {
        if (c == L'/') {
            c = L'\\';
        }
    }
    return literal;
}

bool pathExists(const std::wstring& path) {
    DWORD attributes = 0;
    DWORD error = 0;
    if (readAttributes(path, attributes, error)) {
        return true;
    }
    if (isNoSuchFileError(error)) {
        return false;
    }
    throw Exception(path, error);
}

void removePath(const std::wstring& path) {
    const std::wstring name = systemPath(path);
    const DWORD attributes = GetFileAttributesW(name.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        throwLastError(path);
    }
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
        // An empty directory, or a directory link: the link goes, never what it points to.
        if (!RemoveDirectoryW(name.c_str())) {
            throwLastError(path);
        }
        return;
    }
    const bool readOnly = (attributes & FILE_ATTRIBUTE_READONLY) != 0;
    if (readOnly && !SetFileAttributesW(name.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY)) {
        throwLastError(path);
    }
    if (!DeleteFileW(name.c_str())) {
        const DWORD error = GetLastError();
        if (readOnly) {
            SetFileAttributesW(name.c_str(), attributes);
        }
        throw Exception(path, error);
    }
}

void renamePath(const std::wstring& from, const std::wstring& to) {
    const std::wstring context = from + L" or " + to;
    std::wstring source;
    std::wstring destination;
    try {
        source = systemPath(from);
        destination = systemPath(to);
    } catch (const Exception&) {
        throw Exception(context, ERROR_FILENAME_EXCED_RANGE);
    }
    if (!MoveFileExW(source.c_str(), destination.c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED)) {
        throwLastError(context);
    }
}

FileId fileIdOf(const std::wstring& path) noexcept {
    FileId id;
    try {
        UniqueFileHandle file(CreateFileW(
            systemPath(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
            nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
        BY_HANDLE_FILE_INFORMATION information;
        if (file && GetFileInformationByHandle(file.get(), &information)) {
            id.volume = information.dwVolumeSerialNumber;
            id.indexHigh = information.nFileIndexHigh;
            id.indexLow = information.nFileIndexLow;
            id.known = true;
        }
    } catch (...) {
        // A path the system cannot take has no identity to compare.
    }
    return id;
}

std::vector<DirectoryEntry> listDirectory(const std::wstring& dir) {
    const auto failure = [&dir](const char* what, DWORD code) {
        return std::filesystem::filesystem_error(
            what, std::filesystem::path(dir),
            std::error_code(static_cast<int>(code), std::system_category()));
    };
    std::vector<DirectoryEntry> entries;
    WIN32_FIND_DATAW data;
    UniqueFindHandle listing(FindFirstFileW(systemPath(joinPath(dir, L"*")).c_str(), &data));
    if (!listing) {
        const DWORD error = GetLastError();
        if (error == ERROR_FILE_NOT_FOUND) {
            return entries; // nothing at all, not even "." (the root of a drive)
        }
        throw failure("directory iterator cannot open directory", error);
    }
    do {
        const std::wstring name = data.cFileName;
        if (name != L"." && name != L"..") {
            entries.push_back({name, (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0});
        }
    } while (FindNextFileW(listing.get(), &data));
    const DWORD error = GetLastError();
    if (error != ERROR_NO_MORE_FILES) {
        throw failure("directory iterator cannot advance", error);
    }
    return entries;
}
