#include "update_log.h"

#include "command_line.h"
#include "file_system.h"
#include "machine_log_folder.h"
#include "support/exception.h"
#include "support/system_function.h"
#include "support/unique_handle.h"

#include <windows.h>
#include <shlobj.h>

#include <iomanip>
#include <memory>
#include <new>
#include <optional>
#include <sstream>
#include <system_error>
#include <vector>

namespace {

HANDLE logHandle = INVALID_HANDLE_VALUE;
std::filesystem::path openedPath;

// The most precise clock the system offers, looked up once (Windows 8 and later); it has
// the signature of the older GetSystemTimeAsFileTime.
void currentFileTime(FILETIME* now) {
    static const auto precise = systemFunction<decltype(&GetSystemTimeAsFileTime)>(
        L"kernel32", "GetSystemTimePreciseAsFileTime");
    if (precise) {
        precise(now);
    } else {
        GetSystemTimeAsFileTime(now);
    }
}

void switchLogOff() {
    CloseHandle(logHandle);
    logHandle = INVALID_HANDLE_VALUE;
}

// The literal form of an absolute path, so that no length limit applies.
std::wstring literalOf(const std::filesystem::path& path) {
    return literalForm(path.wstring());
}

// The path's elements, each on its own ("kyrUpdater", "2026", "12").
std::vector<std::wstring> elementsOf(const std::filesystem::path& relative) {
    std::vector<std::wstring> elements;
    for (const auto& element : relative) {
        elements.push_back(element.wstring());
    }
    return elements;
}

// Makes sure that each level below the operator's folder is a folder, creating the missing
// ones; a failure names the whole folder that was to be made. Returns the folder made.
std::filesystem::path makeFolders(const std::filesystem::path& base,
                                  const std::vector<std::wstring>& levels) {
    std::filesystem::path target = base;
    for (const std::wstring& level : levels) {
        target /= level;
    }
    std::filesystem::path folder = base;
    for (const std::wstring& level : levels) {
        folder /= level;
        const std::wstring literal = literalOf(folder);
        DWORD attributes = GetFileAttributesW(literal.c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES) {
            if (!CreateDirectoryW(literal.c_str(), nullptr) &&
                GetLastError() != ERROR_ALREADY_EXISTS) {
                throwLastError(target.wstring());
            }
            attributes = GetFileAttributesW(literal.c_str());
            if (attributes == INVALID_FILE_ATTRIBUTES) {
                throwLastError(target.wstring());
            }
        }
        if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
            throw Exception(target.wstring(), ERROR_ALREADY_EXISTS);
        }
    }
    return folder;
}

std::filesystem::path logBaseDirectory(std::filesystem::path& machineTail) {
    // The Win32 test, not the C runtime's stat, which takes neither a "\\?\" path nor one
    // over MAX_PATH and would then pass over the operator's folder silently.
    std::filesystem::path candidate = std::filesystem::path(ownDirectory()) / L"logs";
    if (GetFileAttributesW(literalOf(candidate).c_str()) != INVALID_FILE_ATTRIBUTES) {
        return candidate;
    }
    const DWORD error = GetLastError();
    if (!isNoSuchFileError(error)) {
        throw std::filesystem::filesystem_error(
            "status", candidate, std::error_code(static_cast<int>(error), std::system_category()));
    }
    wchar_t folder[MAX_PATH] = {};
    if (FAILED(
            SHGetFolderPathW(nullptr, CSIDL_COMMON_APPDATA, nullptr, SHGFP_TYPE_CURRENT, folder))) {
        throwLastError(L"getAppDir()");
    }
    machineTail = std::filesystem::path(L"KYR") / L"logs";
    return folder;
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

bool localMomentOf(const FILETIME& utc, LocalMoment& local) {
    SYSTEMTIME universal;
    SYSTEMTIME wall;
    if (!FileTimeToSystemTime(&utc, &universal) ||
        !SystemTimeToTzSpecificLocalTime(nullptr, &universal, &wall)) {
        return false;
    }
    local.time = std::tm{};
    local.time.tm_year = wall.wYear - 1900;
    local.time.tm_mon = wall.wMonth - 1;
    local.time.tm_mday = wall.wDay;
    local.time.tm_hour = wall.wHour;
    local.time.tm_min = wall.wMinute;
    local.time.tm_sec = wall.wSecond;
    local.time.tm_wday = wall.wDayOfWeek;
    local.milliseconds = wall.wMilliseconds;
    return true;
}

LocalMoment currentLocalMoment() {
    FILETIME now;
    currentFileTime(&now);
    LocalMoment moment;
    localMomentOf(now, moment);
    return moment;
}

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

LogFilePath logFilePath() {
    LogFilePath path;
    path.base = logBaseDirectory(path.machineTail);
    path.tail = logFileTail(currentLocalMoment().time);
    return path;
}

void openLog(const LogFilePath& path) {
    const bool guarded = !path.machineTail.empty();
    std::vector<std::wstring> levels = elementsOf(path.machineTail);
    for (const std::wstring& level : elementsOf(path.tail.parent_path())) {
        levels.push_back(level);
    }
    // Below the machine's folder every level stays open, and so in place, until the file is.
    std::optional<MachineLogFolder> held;
    std::filesystem::path folder;
    if (guarded) {
        held.emplace(path.base, levels);
        folder = held->path();
    } else {
        folder = makeFolders(path.base, levels);
    }
    // Never empty an existing log: a run turned away by the guard may start in the same
    // second as the run that is working, and that log is still being written.
    const std::wstring stem = path.tail.stem().wstring();
    const std::wstring extension = path.tail.extension().wstring();
    std::wstring name = path.tail.filename().wstring();
    for (int sequence = 2;; ++sequence) {
        logHandle = CreateFileW(literalOf(folder / name).c_str(),
                                GENERIC_READ | GENERIC_WRITE | (guarded ? DELETE : 0),
                                FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, CREATE_NEW,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
        if (logHandle != INVALID_HANDLE_VALUE) {
            break;
        }
        const DWORD error = GetLastError();
        if ((error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) || sequence > 9999) {
            throw Exception((folder / name).wstring(), error);
        }
        name = stem;
        name += L'-';
        name += std::to_wstring(sequence);
        name += extension;
    }
    if (held && !held->holds(logHandle, name)) {
        // Somewhere else after all (a link that the checks of the levels did not see): the
        // file goes again, through its own handle.
        FILE_DISPOSITION_INFO disposition{TRUE};
        SetFileInformationByHandle(logHandle, FileDispositionInfo, &disposition,
                                   sizeof disposition);
        CloseHandle(logHandle);
        logHandle = INVALID_HANDLE_VALUE;
        throw Exception(folder.wstring(), kReparsePointEncountered);
    }
    openedPath = folder / name;
    if (SetFilePointer(logHandle, 0, nullptr, FILE_END) == INVALID_SET_FILE_POINTER &&
        GetLastError() != NO_ERROR) {
        throwLastError(openedPath.wstring());
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
    const LocalMoment now = currentLocalMoment();
    return formatTimestamp(now.time, now.milliseconds);
}
