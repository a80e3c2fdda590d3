#include "machine_log_folder.h"

#include "file_system.h"
#include "support/exception.h"

#include <windows.h>
#include <aclapi.h>
#include <sddl.h>

#include <utility>

namespace {

// A level as itself, never a link's target, with no more access than its checks need. No
// delete sharing: while the handle is open nobody can rename or remove the level, and so
// nobody can put a link in its place.
HANDLE openLevel(const std::wstring& literal) {
    return CreateFileW(literal.c_str(), FILE_READ_ATTRIBUTES | READ_CONTROL,
                       FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                       FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
}

// The text of a SID ("S-1-5-18"); false when the system cannot give it.
bool sidText(PSID sid, std::wstring& text) {
    wchar_t* raw = nullptr;
    if (!ConvertSidToStringSidW(sid, &raw)) {
        return false;
    }
    const UniqueLocalMemory<wchar_t> owned(raw);
    text = raw;
    return true;
}

// The owner of an open file or folder as a SID's text, empty when it has none. False when
// it cannot be read; GetLastError tells why.
bool ownerOf(HANDLE handle, std::wstring& owner) {
    PSID sid = nullptr;
    PSECURITY_DESCRIPTOR raw = nullptr;
    const DWORD error = GetSecurityInfo(handle, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &sid,
                                        nullptr, nullptr, nullptr, &raw);
    if (error != ERROR_SUCCESS) {
        SetLastError(error);
        return false;
    }
    const UniqueLocalMemory<void> descriptor(raw);
    owner.clear();
    return !sid || sidText(sid, owner);
}

// The final path of an open file or folder: "\\?\" and the path with every link resolved;
// empty when the system cannot tell.
std::wstring finalPathOf(HANDLE file) {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = GetFinalPathNameByHandleW(
            file, path.data(), static_cast<DWORD>(path.size()), FILE_NAME_NORMALIZED);
        if (length == 0) {
            return {};
        }
        if (length < path.size()) {
            path.resize(length);
            return path;
        }
        path.assign(length, L'\0');
    }
}

// The final path of a folder, or empty.
std::wstring finalPathOfFolder(const std::filesystem::path& folder) {
    const UniqueFileHandle handle(
        CreateFileW(literalForm(folder.wstring()).c_str(), 0,
                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                    FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    return handle ? finalPathOf(handle.get()) : std::wstring();
}

} // namespace

bool isTrustedLogFolderOwner(const std::wstring& owner, const std::wstring& account) {
    return !owner.empty() && (owner == kLocalSystemSid || owner == kAdministratorsSid ||
                              owner == kTrustedInstallerSid || owner == account);
}

std::wstring machineLogFolderSddl(const std::wstring& account, bool administrator) {
    std::wstring sddl = L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;FRFX;;;BU)";
    if (!administrator && !account.empty() && account != kLocalSystemSid) {
        sddl += L"(A;OICI;FA;;;" + account + L")";
    }
    return sddl;
}

bool runningAccount(RunningAccount& account) {
    HANDLE raw = nullptr;
    if (!OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, TRUE, &raw) &&
        (GetLastError() != ERROR_NO_TOKEN ||
         !OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &raw))) {
        return false;
    }
    const UniqueHandle token(raw);
    DWORD size = 0;
    GetTokenInformation(token.get(), TokenUser, nullptr, 0, &size);
    if (size == 0) {
        return false;
    }
    std::vector<BYTE> user(size);
    std::wstring sid;
    if (!GetTokenInformation(token.get(), TokenUser, user.data(), size, &size) ||
        !sidText(reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid, sid)) {
        return false;
    }
    // An administrator whose token UAC filtered has Administrators for denial only, and so
    // counts as none: such a run may not use what only administrators may.
    BYTE administrators[SECURITY_MAX_SID_SIZE];
    DWORD administratorsSize = sizeof administrators;
    BOOL member = FALSE;
    if (!CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, administrators,
                            &administratorsSize) ||
        !CheckTokenMembership(nullptr, administrators, &member)) {
        return false;
    }
    account.sid = std::move(sid);
    account.administrator = member != FALSE;
    return true;
}

DWORD createProtectedFolder(const std::wstring& literalPath) {
    RunningAccount account;
    if (!runningAccount(account)) {
        return GetLastError();
    }
    PSECURITY_DESCRIPTOR raw = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(
            machineLogFolderSddl(account.sid, account.administrator).c_str(), SDDL_REVISION_1, &raw,
            nullptr)) {
        return GetLastError();
    }
    const UniqueLocalMemory<void> descriptor(raw);
    SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor.get(), FALSE};
    return CreateDirectoryW(literalPath.c_str(), &attributes) ? ERROR_SUCCESS : GetLastError();
}

bool fileIsAt(HANDLE file, const std::wstring& expectedLiteral) {
    const std::wstring final = finalPathOf(file);
    return !final.empty() &&
           CompareStringOrdinal(final.c_str(), static_cast<int>(final.size()),
                                expectedLiteral.c_str(), static_cast<int>(expectedLiteral.size()),
                                TRUE) == CSTR_EQUAL;
}

MachineLogFolder::MachineLogFolder(const std::filesystem::path& base,
                                   const std::vector<std::wstring>& levels)
    : path_(base) {
    std::filesystem::path target = base;
    for (const std::wstring& level : levels) {
        target /= level;
    }
    // Where each level must turn out to be: below the base as the system resolves it (the
    // machine's folder itself may be relocated by its administrator).
    finalPath_ = finalPathOfFolder(base);
    if (finalPath_.empty()) {
        throwLastError(base.wstring());
    }
    RunningAccount account;
    for (std::size_t i = 0; i < levels.size(); ++i) {
        path_ /= levels[i];
        finalPath_ += L'\\' + levels[i];
        const std::wstring literal = literalForm(path_.wstring());
        UniqueFileHandle level(openLevel(literal));
        if (!level) {
            DWORD error = GetLastError();
            if (!isNoSuchFileError(error)) {
                throw Exception(target.wstring(), error);
            }
            if (i == 0) {
                error = createProtectedFolder(literal);
            } else {
                error = CreateDirectoryW(literal.c_str(), nullptr) ? ERROR_SUCCESS : GetLastError();
            }
            if (error != ERROR_SUCCESS && error != ERROR_ALREADY_EXISTS) {
                throw Exception(target.wstring(), error);
            }
            // What is there now is checked like any level: whoever was quicker made it.
            level.reset(openLevel(literal));
            if (!level) {
                throwLastError(target.wstring());
            }
        }
        BY_HANDLE_FILE_INFORMATION information{};
        if (!GetFileInformationByHandle(level.get(), &information)) {
            throwLastError(target.wstring());
        }
        // A link is refused also where the system opened its target instead (Wine does so
        // for a Unix symbolic link): then the level is not where its name puts it.
        if ((information.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) ||
            !fileIsAt(level.get(), finalPath_)) {
            throw Exception(path_.wstring(), kReparsePointEncountered);
        }
        if (!(information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
            throw Exception(target.wstring(), ERROR_ALREADY_EXISTS);
        }
        std::wstring owner;
        if (!ownerOf(level.get(), owner) || (account.sid.empty() && !runningAccount(account))) {
            throwLastError(target.wstring());
        }
        if (!isTrustedLogFolderOwner(owner, account.sid)) {
            throw Exception(path_.wstring(), ERROR_INVALID_OWNER);
        }
        held_.push_back(std::move(level));
    }
}

bool MachineLogFolder::holds(HANDLE file, const std::wstring& name) const {
    return fileIsAt(file, finalPath_ + L'\\' + name);
}
