#include "path_status.h"

#include <memory>

namespace {

PathStatus fromAttributes(DWORD attributes) {
    PathStatus status;
    status.type = (attributes & FILE_ATTRIBUTE_DIRECTORY) ? PathStatus::Type::other
                                                          : PathStatus::Type::regular;
    return status;
}

// Closes a file handle when it goes, keeping the thread's last error.
struct FileCloser {
    void operator()(HANDLE file) const {
        const DWORD lastError = GetLastError();
        CloseHandle(file);
        SetLastError(lastError);
    }
};

PathStatus failed() {
    PathStatus status;
    status.error = GetLastError();
    return status;
}

} // namespace

PathStatus pathStatus(const std::wstring& path) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) {
        return failed();
    }
    if (!(data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        return fromAttributes(data.dwFileAttributes);
    }
    // A link: opening it (without any access right) reaches its target.
    const HANDLE opened =
        CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (opened == INVALID_HANDLE_VALUE) {
        return failed();
    }
    const std::unique_ptr<void, FileCloser> target(opened);
    BY_HANDLE_FILE_INFORMATION info{};
    return GetFileInformationByHandle(target.get(), &info) ? fromAttributes(info.dwFileAttributes)
                                                           : failed();
}
