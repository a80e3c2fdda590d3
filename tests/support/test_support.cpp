#include "test_support.h"

#include "updater/support/unique_handle.h"

#include <aclapi.h>
#include <sddl.h>

#include <cstdio>

#include <algorithm>
#include <atomic>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace kyrtest {

namespace {

std::wstring moduleFileName() {
    std::wstring buffer(32768, L'\0');
    const DWORD n = GetModuleFileNameW(nullptr, &buffer[0], static_cast<DWORD>(buffer.size()));
    buffer.resize(n);
    return buffer;
}

} // namespace

fs::path binDir() {
    return fs::path(moduleFileName()).parent_path();
}

fs::path builtProgram(const std::wstring& fileName) {
    return binDir() / fileName;
}

TempDir::TempDir(const std::wstring& hint) {
    static std::atomic<unsigned> counter{0};
    wchar_t temp[MAX_PATH + 1] = {};
    GetTempPathW(MAX_PATH, temp);
    for (;;) {
        const std::wstring name = hint + L"-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                                  std::to_wstring(GetTickCount()) + L"-" +
                                  std::to_wstring(counter++);
        fs::path candidate = fs::path(temp) / name;
        if (CreateDirectoryW(candidate.c_str(), nullptr)) {
            path_ = candidate;
            return;
        }
        if (GetLastError() != ERROR_ALREADY_EXISTS) {
            throw std::runtime_error("cannot create a temporary folder");
        }
    }
}

TempDir::~TempDir() {
    if (GetEnvironmentVariableW(L"KYR_KEEP_TEMP", nullptr, 0) > 0) {
        return;
    }
    // Through the literal path: some tests leave folders deeper than MAX_PATH. A program that
    // a test started may still be ending, with its working directory in the folder: a
    // folder that is any process's working directory cannot be removed.
    const DWORD attempts = 10 * timeScale();
    for (DWORD attempt = 0; !removeTree(literalPath(path_)) && attempt < attempts; ++attempt) {
        Sleep(100);
    }
}

void writeFile(const fs::path& path, const std::string& bytes) {
    const UniqueFileHandle h(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                         FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!h) {
        const DWORD error = GetLastError();
        throw std::runtime_error("cannot write " + toUtf8(path.wstring()) + ", code " +
                                 std::to_string(error));
    }
    DWORD written = 0;
    if (!WriteFile(h.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) ||
        written != bytes.size()) {
        throw std::runtime_error("cannot write " + toUtf8(path.wstring()));
    }
}

std::string readFile(const fs::path& path) {
    // Shared read: the updater may still hold its log open.
    const UniqueFileHandle h(CreateFileW(path.c_str(), GENERIC_READ,
                                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                         nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!h) {
        throw std::runtime_error("cannot read " + toUtf8(path.wstring()));
    }
    std::string bytes;
    char buffer[65536];
    DWORD got = 0;
    while (ReadFile(h.get(), buffer, sizeof buffer, &got, nullptr) && got > 0) {
        bytes.append(buffer, got);
    }
    return bytes;
}

bool pathExists(const fs::path& path) {
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

void createDirectories(const fs::path& path) {
    const std::wstring text = path.wstring();
    if (pathExists(text)) {
        return;
    }
    const std::size_t separator = text.find_last_of(L"\\/");
    if (separator != std::wstring::npos && separator > 0) {
        const std::wstring parent = text.substr(0, separator);
        // Never down to a root ("C:", "\\?\C:"), which exists anyway.
        if (parent.back() != L':' && parent != L"\\\\?") {
            createDirectories(parent);
        }
    }
    if (!CreateDirectoryW(text.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
        throw std::runtime_error("cannot create the folder " + toUtf8(text) + ", code " +
                                 std::to_string(GetLastError()));
    }
}

std::wstring literalPath(const fs::path& path) {
    std::wstring text = path.wstring();
    for (wchar_t& c : text) {
        if (c == L'/') {
            c = L'\\';
        }
    }
    if (text.rfind(L"\\\\?\\", 0) == 0) {
        return text;
    }
    if (text.rfind(L"\\\\", 0) == 0) {
        return L"\\\\?\\UNC\\" + text.substr(2);
    }
    return L"\\\\?\\" + text;
}

bool removeTree(const fs::path& path) {
    const std::wstring text = path.wstring();
    const DWORD attributes = GetFileAttributesW(text.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        return GetLastError() == ERROR_FILE_NOT_FOUND || GetLastError() == ERROR_PATH_NOT_FOUND;
    }
    // Read-only files and folders left by a test would stop the removal.
    if (attributes & FILE_ATTRIBUTE_READONLY) {
        SetFileAttributesW(text.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
    }
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        return DeleteFileW(text.c_str()) != FALSE;
    }
    bool removed = true;
    if (!(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        WIN32_FIND_DATAW entry;
        const UniqueFindHandle find(FindFirstFileW((text + L"\\*").c_str(), &entry));
        if (find) {
            do {
                const std::wstring name = entry.cFileName;
                if (name != L"." && name != L"..") {
                    removed = removeTree(text + L"\\" + name) && removed;
                }
            } while (FindNextFileW(find.get(), &entry));
        }
    }
    return RemoveDirectoryW(text.c_str()) != FALSE && removed;
}

std::string toCodePage(const std::wstring& text, UINT codePage) {
    if (text.empty()) {
        return {};
    }
    const int n = WideCharToMultiByte(codePage, 0, text.data(), static_cast<int>(text.size()),
                                      nullptr, 0, nullptr, nullptr);
    std::string bytes(static_cast<std::size_t>(n), '\0');
    WideCharToMultiByte(codePage, 0, text.data(), static_cast<int>(text.size()), &bytes[0], n,
                        nullptr, nullptr);
    return bytes;
}

std::string toUtf8(const std::wstring& text) {
    return toCodePage(text, CP_UTF8);
}

std::wstring fromCodePage(const std::string& bytes, UINT codePage) {
    if (bytes.empty()) {
        return {};
    }
    const int n = MultiByteToWideChar(codePage, 0, bytes.data(), static_cast<int>(bytes.size()),
                                      nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(n), L'\0');
    MultiByteToWideChar(codePage, 0, bytes.data(), static_cast<int>(bytes.size()), &wide[0], n);
    return wide;
}

std::wstring fromUtf8(const std::string& text) {
    return fromCodePage(text, CP_UTF8);
}

std::wstring systemMessage(DWORD code) {
    wchar_t* buffer = nullptr;
    const DWORD n = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_FROM_SYSTEM,
        nullptr, code, 0x0409, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    const UniqueLocalMemory<wchar_t> owned(buffer);
    std::wstring message;
    if (n > 0 && owned) {
        message.assign(owned.get(), n);
        if (message.back() == L'\n' || message.back() == L'\r') {
            message.pop_back();
        }
    }
    return message;
}

std::wstring failureText(const std::wstring& context, DWORD code) {
    const std::wstring message = systemMessage(code);
    return message.empty() ? context : context + L": " + message;
}

std::vector<fs::path> logFiles(const fs::path& logsBase) {
    std::vector<fs::path> files;
    std::error_code ec;
    const fs::path root = logsBase / L"kyrUpdater";
    for (auto it = fs::recursive_directory_iterator(root, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        if (it->is_regular_file() && it->path().extension() == L".log") {
            files.push_back(it->path());
        }
    }
    std::sort(files.begin(), files.end());
    return files;
}

std::vector<std::string> logLines(const std::string& content) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < content.size()) {
        const std::size_t end = content.find('\n', start);
        if (end == std::string::npos) {
            lines.push_back(content.substr(start));
            break;
        }
        lines.push_back(content.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

std::string logMessage(const std::string& line) {
    const std::size_t bar = line.find('|');
    return bar == std::string::npos ? line : line.substr(bar + 1);
}

std::vector<std::string> logMessages(const std::string& content) {
    std::vector<std::string> messages;
    for (const auto& line : logLines(content)) {
        messages.push_back(logMessage(line));
    }
    return messages;
}

std::vector<std::string> outputLines(const std::string& out) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < out.size()) {
        const std::size_t end = out.find("\r\n", start);
        if (end == std::string::npos) {
            lines.push_back(out.substr(start));
            break;
        }
        lines.push_back(out.substr(start, end - start));
        start = end + 2;
    }
    return lines;
}

bool underWow64() {
    BOOL wow64 = FALSE;
    IsWow64Process(GetCurrentProcess(), &wow64);
    return wow64 != FALSE;
}

namespace {

// The Unix path of a Windows path under Wine; empty elsewhere. The last element is taken as
// it is named, never resolved.
std::wstring unixPathOf(const fs::path& path) {
    using UnixNameFn = char*(__cdecl*)(const wchar_t*);
    const auto unixName = reinterpret_cast<UnixNameFn>(reinterpret_cast<void (*)()>(
        GetProcAddress(GetModuleHandleW(L"kernel32"), "wine_get_unix_file_name")));
    if (!unixName) {
        return {};
    }
    char* folder = unixName(path.parent_path().c_str());
    if (!folder) {
        return {};
    }
    std::wstring unix = fromUtf8(folder) + L"/" + path.filename().wstring();
    HeapFree(GetProcessHeap(), 0, folder);
    return unix;
}

bool isLink(const fs::path& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

} // namespace

bool linkDirectory(const fs::path& link, const fs::path& target) {
    RunOptions quiet;
    quiet.timeoutMs = 30000;
    // Windows: a junction, which needs no administrator rights.
    wchar_t system[MAX_PATH] = {};
    if (GetSystemDirectoryW(system, MAX_PATH) > 0 &&
        run(fs::path(system) / L"cmd.exe",
            {L"/c", L"mklink", L"/J", link.wstring(), target.wstring()}, quiet)
                .exitCode == 0 &&
        isLink(link)) {
        return true;
    }
    // Wine makes no junction, but shows a Unix symbolic link as a reparse point.
    const std::wstring unixLink = unixPathOf(link);
    const std::wstring unixTarget = unixPathOf(target);
    if (unixLink.empty() || unixTarget.empty()) {
        return false;
    }
    // Wine does not wait for a Unix program it starts: the link shows up a little later.
    run(L"Z:\\bin\\ln", {L"-s", unixTarget, unixLink}, quiet);
    const DWORD attempts = 100 * timeScale();
    for (DWORD waited = 0; waited < attempts && !isLink(link); ++waited) {
        Sleep(50);
    }
    return isLink(link);
}

void removeLink(const fs::path& link) {
    // Under Wine, RemoveDirectoryW on a Unix symbolic link removes an empty target instead:
    // such a link goes through Unix.
    const std::wstring unixLink = unixPathOf(link);
    if (unixLink.empty()) {
        RemoveDirectoryW(link.c_str());
        return;
    }
    RunOptions quiet;
    quiet.timeoutMs = 30000;
    run(L"Z:\\bin\\rm", {L"-f", L"--", unixLink}, quiet);
    const DWORD attempts = 100 * timeScale();
    for (DWORD waited = 0;
         waited < attempts && GetFileAttributesW(link.c_str()) != INVALID_FILE_ATTRIBUTES;
         ++waited) {
        Sleep(50);
    }
}

namespace {

std::wstring sidText(PSID sid) {
    wchar_t* text = nullptr;
    if (!sid || !ConvertSidToStringSidW(sid, &text)) {
        return {};
    }
    const UniqueLocalMemory<wchar_t> owned(text);
    return text;
}

// Whether the path now belongs to an account that is none of this process's user, SYSTEM
// and Administrators.
bool ownedByAnotherAccount(const fs::path& path) {
    const std::wstring owner = ownerOf(path);
    return !owner.empty() && owner != processUser() && owner != L"S-1-5-18" &&
           owner != L"S-1-5-32-544";
}

// Turns a privilege of this process's token on or off; the previous state comes back.
bool setPrivilege(const wchar_t* name, bool enable, bool* wasEnabled) {
    HANDLE raw = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &raw)) {
        return false;
    }
    const UniqueHandle token(raw);
    TOKEN_PRIVILEGES privileges{};
    privileges.PrivilegeCount = 1;
    if (!LookupPrivilegeValueW(nullptr, name, &privileges.Privileges[0].Luid)) {
        return false;
    }
    privileges.Privileges[0].Attributes = enable ? SE_PRIVILEGE_ENABLED : 0;
    TOKEN_PRIVILEGES previous{};
    DWORD size = sizeof previous;
    if (!AdjustTokenPrivileges(token.get(), FALSE, &privileges, sizeof previous, &previous,
                               &size) ||
        GetLastError() == ERROR_NOT_ALL_ASSIGNED) {
        return false;
    }
    if (wasEnabled) {
        *wasEnabled = previous.PrivilegeCount == 0 ||
                      (previous.Privileges[0].Attributes & SE_PRIVILEGE_ENABLED) != 0;
    }
    return true;
}

} // namespace

std::wstring ownerOf(const fs::path& path) {
    PSID owner = nullptr;
    PSECURITY_DESCRIPTOR raw = nullptr;
    if (GetNamedSecurityInfoW(path.c_str(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner,
                              nullptr, nullptr, nullptr, &raw) != ERROR_SUCCESS) {
        return {};
    }
    const UniqueLocalMemory<void> descriptor(raw);
    return sidText(owner);
}

std::wstring processUser() {
    HANDLE raw = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &raw)) {
        return {};
    }
    const UniqueHandle token(raw);
    alignas(TOKEN_USER) BYTE buffer[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
    DWORD size = 0;
    if (!GetTokenInformation(token.get(), TokenUser, buffer, sizeof buffer, &size)) {
        return {};
    }
    return sidText(reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid);
}

bool giveToAnotherAccount(const fs::path& path) {
    BYTE localService[SECURITY_MAX_SID_SIZE];
    DWORD size = sizeof localService;
    bool wasEnabled = false;
    if (CreateWellKnownSid(WinLocalServiceSid, nullptr, localService, &size) &&
        setPrivilege(SE_RESTORE_NAME, true, &wasEnabled)) {
        SetNamedSecurityInfoW(const_cast<wchar_t*>(path.c_str()), SE_FILE_OBJECT,
                              OWNER_SECURITY_INFORMATION, localService, nullptr, nullptr,
                              nullptr);
        // The programs that the tests start inherit this process's privileges.
        if (!wasEnabled) {
            setPrivilege(SE_RESTORE_NAME, false, nullptr);
        }
    }
    if (ownedByAnotherAccount(path)) {
        return true;
    }
    // Wine takes the call above but keeps no owner: it shows the Unix owner of the file.
    const std::wstring unixName = unixPathOf(path);
    if (unixName.empty()) {
        return false;
    }
    RunOptions quiet;
    quiet.timeoutMs = 30000;
    run(L"Z:\\bin\\chown", {L"nobody", L"--", unixName}, quiet);
    for (int waited = 0; waited < 100 && !ownedByAnotherAccount(path); ++waited) {
        Sleep(50);
    }
    return ownedByAnotherAccount(path);
}

std::vector<std::wstring> consoleRows(HANDLE screen, const CONSOLE_SCREEN_BUFFER_INFO& info) {
    std::vector<std::wstring> rows;
    std::wstring row(static_cast<std::size_t>(info.dwSize.X), L' ');
    for (SHORT y = 0; y <= info.dwCursorPosition.Y; ++y) {
        DWORD read = 0;
        ReadConsoleOutputCharacterW(screen, &row[0], info.dwSize.X, COORD{0, y}, &read);
        std::wstring text = row.substr(0, read);
        text.erase(text.find_last_not_of(L' ') + 1);
        rows.push_back(text);
    }
    return rows;
}

} // namespace kyrtest
