#include "update_log.h"

#include "command_line.h"
#include "support/exception.h"

#include <windows.h>
#include <shlobj.h>

#include <iomanip>
#include <memory>
#include <new>
#include <sstream>

namespace {

HANDLE logHandle = INVALID_HANDLE_VALUE;
std::filesystem::path openedPath;

// The most precise clock the system offers, looked up once (Windows 8 and later).
void currentFileTime(FILETIME* now) {
    using PreciseFn = void(WINAPI*)(LPFILETIME);
    static const PreciseFn precise = reinterpret_cast<PreciseFn>(reinterpret_cast<void (*)()>(
        GetProcAddress(GetModuleHandleW(L"kernel32"), "GetSystemTimePreciseAsFileTime")));
    if (precise) {
        precise(now);
    } else {
        GetSystemTimeAsFileTime(now);
    }
}

// 100-nanosecond units since 1 January 1970, UTC.
unsigned long long unixTime100ns() {
    FILETIME now;
    currentFileTime(&now);
    const unsigned long long since1601 =
        (static_cast<unsigned long long>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
    const unsigned long long epochOffset = 116444736000000000ULL;
    return since1601 - epochOffset;
}

std::tm localTime(std::time_t seconds) {
    std::tm result{};
    if (const std::tm* converted = std::localtime(&seconds)) {
        result = *converted;
    }
    return result;
}

void switchLogOff() {
    CloseHandle(logHandle);
    logHandle = INVALID_HANDLE_VALUE;
}

// Creates the folder and every missing parent, reporting Windows error codes.
DWORD createDirectories(const std::wstring& dir) {
    if (CreateDirectoryW(dir.c_str(), nullptr)) {
        return ERROR_SUCCESS;
    }
    DWORD error = GetLastError();
    if (error == ERROR_ALREADY_EXISTS) {
        const DWORD attributes = GetFileAttributesW(dir.c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
            return ERROR_SUCCESS;
        }
        return ERROR_ALREADY_EXISTS;
    }
    if (error != ERROR_PATH_NOT_FOUND) {
        return error;
    }
    const std::filesystem::path parent = std::filesystem::path(dir).parent_path();
    if (parent.empty() || parent.wstring() == dir) {
        return error;
    }
    error = createDirectories(parent.wstring());
    if (error != ERROR_SUCCESS) {
        return error;
    }
    if (CreateDirectoryW(dir.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS) {
        return ERROR_SUCCESS;
    }
    return GetLastError();
}

std::filesystem::path logBaseDirectory() {
    const std::filesystem::path candidate = std::filesystem::path(ownDirectory()) / L"logs";
    if (std::filesystem::exists(candidate)) {
        return candidate;
    }
    wchar_t folder[MAX_PATH] = {};
    if (FAILED(
            SHGetFolderPathW(nullptr, CSIDL_COMMON_APPDATA, nullptr, SHGFP_TYPE_CURRENT, folder))) {
        throwLastError(L"getAppDir()");
    }
    return std::filesystem::path(folder) / L"KYR" / L"logs";
}

bool writeAll(const char* data, std::size_t size) {
    while (size > 0) {
        DWORD written = 0;
        if (!WriteFile(logHandle, data, static_cast<DWORD>(size), &written, nullptr)) {
            return false;
        }
        data += written;
        size -= written;
    }
    return true;
}

} // namespace

std::wstring logFileName(const std::tm& time, int sequence) {
    std::wostringstream name;
    name << std::setfill(L'0') << std::setw(2) << time.tm_mday << L'.' << std::setw(2)
         << time.tm_hour << L'_' << std::setw(2) << time.tm_min << L'_' << std::setw(2)
         << time.tm_sec;
    if (sequence > 1) {
        name << L'-' << sequence;
    }
    name << L".log";
    return name.str();
}

std::filesystem::path logFileTail(const std::tm& time, int sequence) {
    return std::filesystem::path(L"kyrUpdater") / std::to_wstring(time.tm_year + 1900) /
           std::to_wstring(time.tm_mon + 1) / logFileName(time, sequence);
}

std::string formatTimestamp(const std::tm& time, int milliseconds) {
    std::ostringstream stamp;
    stamp << std::setfill('0') << std::setw(2) << time.tm_mday << '.' << std::setw(2)
          << time.tm_mon + 1 << '.' << std::to_string(time.tm_year + 1900) << ' ' << std::setw(2)
          << time.tm_hour << ':' << std::setw(2) << time.tm_min << ':' << std::setw(2)
          << time.tm_sec << '.' << std::setw(3) << milliseconds;
    return stamp.str();
}

std::filesystem::path logFilePath() {
    const std::filesystem::path base = logBaseDirectory();
    const std::tm now = localTime(std::time(nullptr));
    return base / logFileTail(now);
}

void openLog(const std::filesystem::path& path) {
    const std::filesystem::path folder = path.parent_path();
    const DWORD folderError = createDirectories(folder.wstring());
    if (folderError != ERROR_SUCCESS) {
        throw Exception(folder.wstring(), folderError);
    }
    // Never empty an existing log: a run turned away by the guard may start in the same
    // second as the run that is working, and that log is still being written.
    const std::wstring stem = path.stem().wstring();
    const std::wstring extension = path.extension().wstring();
    std::filesystem::path candidate = path;
    for (int sequence = 2;; ++sequence) {
        logHandle = CreateFileW(candidate.c_str(), GENERIC_READ | GENERIC_WRITE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, CREATE_NEW,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
        if (logHandle != INVALID_HANDLE_VALUE) {
            break;
        }
        const DWORD error = GetLastError();
        if ((error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) || sequence > 9999) {
            throw Exception(candidate.wstring(), error);
        }
        candidate = folder / (stem + L'-' + std::to_wstring(sequence) + extension);
    }
    openedPath = candidate;
    if (SetFilePointer(logHandle, 0, nullptr, FILE_END) == INVALID_SET_FILE_POINTER &&
        GetLastError() != NO_ERROR) {
        throwLastError(candidate.wstring());
    }
}

const std::filesystem::path& openedLogPath() {
    return openedPath;
}

void writeLog(const std::wstring& message) noexcept {
    if (logHandle == INVALID_HANDLE_VALUE || message.empty()) {
        return;
    }
    const int wideLength = static_cast<int>(message.size());
    const int length =
        WideCharToMultiByte(CP_UTF8, 0, message.data(), wideLength, nullptr, 0, nullptr, nullptr);
    if (length <= 0) {
        switchLogOff();
        return;
    }
    char fixed[4096];
    std::unique_ptr<char[]> heap;
    char* bytes = fixed;
    if (length > static_cast<int>(sizeof fixed)) {
        heap.reset(new (std::nothrow) char[length]);
        if (!heap) {
            switchLogOff();
            return;
        }
        bytes = heap.get();
    }
    if (WideCharToMultiByte(CP_UTF8, 0, message.data(), wideLength, bytes, length, nullptr,
                            nullptr) <= 0) {
        switchLogOff();
        return;
    }
    std::string prefix;
    try {
        prefix = logTimestamp() + '|';
    } catch (...) {
        switchLogOff();
        return;
    }
    const char lineFeed = '\n';
    if (!writeAll(prefix.data(), prefix.size()) || !writeAll(bytes, length) ||
        !writeAll(&lineFeed, 1) || !FlushFileBuffers(logHandle)) {
        switchLogOff();
    }
}

std::string logTimestamp() {
    const unsigned long long units = unixTime100ns();
    const unsigned long long seconds = units / 10000000ULL;
    const int milliseconds = static_cast<int>((units - seconds * 10000000ULL) / 10000ULL);
    return formatTimestamp(localTime(static_cast<std::time_t>(seconds)), milliseconds);
}
