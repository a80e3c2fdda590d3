#include "path_status.h"

namespace {

PathStatus fromAttributes(DWORD attributes) {
    PathStatus status;
    status.type = (attributes & FILE_ATTRIBUTE_DIRECTORY) ? PathStatus::Type::other
                                                          : PathStatus::Type::regular;
    return status;
}

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
    const HANDLE target =
        CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (target == INVALID_HANDLE_VALUE) {
        return failed();
    }
    BY_HANDLE_FILE_INFORMATION info{};
    const BOOL known = GetFileInformationByHandle(target, &info);
    const PathStatus status = known ? fromAttributes(info.dwFileAttributes) : failed();
    CloseHandle(target);
    return status;
}
