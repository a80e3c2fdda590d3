#include "file_system.h"

#include "paths.h"
#include "support/exception.h"
#include "support/system_function.h"
#include "support/unique_handle.h"

#include <filesystem>
#include <system_error>

namespace {

// Attributes of the path, following a symbolic link or junction to its target.
bool readAttributes(const std::wstring& literal, DWORD& attributes, DWORD& error) {
    attributes = GetFileAttributesW(literal.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        error = GetLastError();
        return false;
    }
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
        UniqueFileHandle target(
            CreateFileW(literal.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
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

// FILE_ID_INFO and its class of GetFileInformationByHandleEx, written out here: the system
// headers declare them only for programs that require Windows 8.
struct FileIdInformation {
    ULONGLONG volumeSerialNumber;
    std::array<unsigned char, 16> fileId;
};
constexpr auto kFileIdInfoClass = static_cast<FILE_INFO_BY_HANDLE_CLASS>(18);

} // namespace

FilePath operator/(const FilePath& dir, const std::wstring& name) {
    return {joinPath(dir.shown, name), joinPath(dir.literal, name)};
}

std::wstring literalForm(const std::wstring& fullPath) {
    const std::wstring& p = fullPath;
    if (p.size() >= 4 && isSeparator(p[0]) && isSeparator(p[1]) && (p[2] == L'?' || p[2] == L'.') &&
        isSeparator(p[3])) {
        return L"\\\\?\\" + p.substr(4);
    }
    if (p.size() >= 3 && isSeparator(p[0]) && isSeparator(p[1])) {
        return L"\\\\?\\UNC\\" + p.substr(2);
    }
    if (p.size() >= 3 && p[1] == L':' && isSeparator(p[2])) {
        return L"\\\\?\\" + p;
    }
    return p;
}

std::wstring fullPathOf(const std::wstring& path) {
    std::wstring full(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length =
            GetFullPathNameW(path.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
        if (length == 0) {
            throwLastError(path);
        }
        if (length < full.size()) {
            full.resize(length);
            break;
        }
        full.assign(length, L'\0'); // the answer was the size needed, with its terminator
    }
    return full;
}

FilePath resolvePath(const std::wstring& path) {
    return {path, literalForm(fullPathOf(path))};
}

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

bool pathExists(const FilePath& path) {
    DWORD attributes = 0;
    DWORD error = 0;
    if (readAttributes(path.literal, attributes, error)) {
        return true;
    }
    if (isNoSuchFileError(error)) {
        return false;
    }
    throw Exception(path.shown, error);
}

void removePath(const FilePath& path) {
    const wchar_t* name = path.literal.c_str();
    const DWORD attributes = GetFileAttributesW(name);
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        throwLastError(path.shown);
    }
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
        // An empty directory, or a directory link: the link goes, never what it points to.
        if (!RemoveDirectoryW(name)) {
            throwLastError(path.shown);
        }
        return;
    }
    const bool readOnly = (attributes & FILE_ATTRIBUTE_READONLY) != 0;
    if (readOnly && !SetFileAttributesW(name, attributes & ~FILE_ATTRIBUTE_READONLY)) {
        throwLastError(path.shown);
    }
    if (!DeleteFileW(name)) {
        const DWORD error = GetLastError();
        if (readOnly) {
            SetFileAttributesW(name, attributes);
        }
        throw Exception(path.shown, error);
    }
}

void renamePath(const FilePath& from, const FilePath& to) {
    if (!MoveFileExW(from.literal.c_str(), to.literal.c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED)) {
        throwLastError(from.shown + L" or " + to.shown);
    }
}

DirectoryListing::DirectoryListing(const FilePath& pattern) {
    // Filled here, in the body: a member initialiser of the handle would run before the
    // entry's own initialiser, which would then clear the first entry.
    handle_.reset(FindFirstFileW(pattern.literal.c_str(), &data_));
    if (handle_) {
        firstPending_ = true;
    } else {
        error_ = GetLastError(); // the owner keeps the thread's last error
    }
}

bool DirectoryListing::next(DirectoryEntry& entry) {
    if (!handle_) {
        return false;
    }
    if (firstPending_) {
        firstPending_ = false;
    } else if (!FindNextFileW(handle_.get(), &data_)) {
        error_ = GetLastError();
        return false;
    }
    entry.name = data_.cFileName;
    entry.directory = (data_.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    return true;
}

bool DirectoryListing::close() {
    return FindClose(handle_.release()) != FALSE;
}

std::vector<DirectoryEntry> listDirectory(const FilePath& dir) {
    const auto failure = [&dir](const char* what, DWORD code) {
        return std::filesystem::filesystem_error(
            what, std::filesystem::path(dir.shown),
            std::error_code(static_cast<int>(code), std::system_category()));
    };
    std::vector<DirectoryEntry> entries;
    DirectoryListing listing(dir / L"*");
    if (!listing.started()) {
        if (listing.error() == ERROR_FILE_NOT_FOUND) {
            return entries; // nothing at all, not even "." (the root of a drive)
        }
        throw failure("directory iterator cannot open directory", listing.error());
    }
    DirectoryEntry entry;
    while (listing.next(entry)) {
        if (entry.name != L"." && entry.name != L"..") {
            entries.push_back(entry);
        }
    }
    if (listing.error() != ERROR_NO_MORE_FILES) {
        throw failure("directory iterator cannot advance", listing.error());
    }
    return entries;
}

FileIdentity identityOfIdInfo(unsigned long long volumeSerial,
                              const std::array<unsigned char, 16>& fileId) {
    FileIdentity identity;
    identity.wide = true;
    identity.volume = volumeSerial;
    identity.id = fileId;
    return identity;
}

FileIdentity identityOfIndex(const BY_HANDLE_FILE_INFORMATION& information) {
    FileIdentity identity;
    identity.volume = information.dwVolumeSerialNumber;
    const unsigned long long index =
        (static_cast<unsigned long long>(information.nFileIndexHigh) << 32) |
        information.nFileIndexLow;
    for (std::size_t i = 0; i < 8; ++i) {
        identity.id[i] = static_cast<unsigned char>(index >> (8 * i));
    }
    return identity;
}

bool sameIdentity(const FileIdentity& a, const FileIdentity& b) {
    const auto namesAFile = [](const FileIdentity& identity) {
        const std::size_t length = identity.wide ? 16 : 8;
        bool allZero = true;
        bool allOnes = true;
        for (std::size_t i = 0; i < length; ++i) {
            allZero = allZero && identity.id[i] == 0x00;
            allOnes = allOnes && identity.id[i] == 0xFF;
        }
        return !allZero && !allOnes;
    };
    return namesAFile(a) && namesAFile(b) && a.wide == b.wide && a.volume == b.volume &&
           a.id == b.id;
}

std::optional<FileIdentity> identityOf(HANDLE file) {
    // Windows 7 has the function but not the class: the call fails there, and the index
    // answers instead.
    static const auto byHandleEx = systemFunction<decltype(&GetFileInformationByHandleEx)>(
        L"kernel32", "GetFileInformationByHandleEx");
    FileIdInformation idInfo{};
    if (byHandleEx && byHandleEx(file, kFileIdInfoClass, &idInfo, sizeof idInfo)) {
        return identityOfIdInfo(idInfo.volumeSerialNumber, idInfo.fileId);
    }
    BY_HANDLE_FILE_INFORMATION information;
    if (GetFileInformationByHandle(file, &information)) {
        return identityOfIndex(information);
    }
    return std::nullopt;
}

UniqueFileHandle openForIdentity(const FilePath& path) {
    return UniqueFileHandle(CreateFileW(path.literal.c_str(), FILE_READ_ATTRIBUTES,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                        nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS,
                                        nullptr));
}

std::optional<FileIdentity> identityOf(const FilePath& path) {
    const UniqueFileHandle file = openForIdentity(path);
    if (!file) {
        return std::nullopt;
    }
    return identityOf(file.get());
}

bool sameFile(HANDLE a, HANDLE b) {
    const std::optional<FileIdentity> first = identityOf(a);
    const std::optional<FileIdentity> second = identityOf(b);
    return first && second && sameIdentity(*first, *second);
}

bool sameFile(const FilePath& a, const FilePath& b) {
    const UniqueFileHandle first = openForIdentity(a);
    const UniqueFileHandle second = openForIdentity(b);
    return first && second && sameFile(first.get(), second.get());
}
