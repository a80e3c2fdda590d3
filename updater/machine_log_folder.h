// The machine's log folder below the common application data (C:\ProgramData\KYR\logs):
// every user may create folders in ProgramData, so each level from KYR down is taken only
// when it is a folder, no link, and owned by the system or by the account that runs the
// updater; and it is held open from that check until the log file is open, so that nobody
// can swap it for a link in between.
#pragma once

#include "support/unique_handle.h"

#include <windows.h>

#include <filesystem>
#include <string>
#include <vector>

// ERROR_REPARSE_POINT_ENCOUNTERED, which not every SDK's headers name: the failure of a
// log folder that turns out to be a link.
inline constexpr DWORD kReparsePointEncountered = 4395;

// --- Decisions (pure) ---

// Well-known accounts, as string SIDs.
inline constexpr const wchar_t* kLocalSystemSid = L"S-1-5-18";
inline constexpr const wchar_t* kAdministratorsSid = L"S-1-5-32-544";
inline constexpr const wchar_t* kTrustedInstallerSid =
    L"S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464";

// Whether a level of the machine's log folder owned by `owner` may hold the log of a run
// under `account` (both string SIDs; an empty owner is a folder without one): SYSTEM,
// Administrators, TrustedInstaller and the account itself. A folder that another account
// made stays under that account's control, whatever its access list says now.
bool isTrustedLogFolderOwner(const std::wstring& owner, const std::wstring& account);

// The access list of a KYR folder that a run under `account` creates (SDDL): SYSTEM and
// Administrators full control, Users read and execute, each inherited by everything below,
// nothing inherited from ProgramData. An account that is neither SYSTEM nor an
// administrator (a service account, a plain user, an administrator not elevated) gets full
// control as well, or it could not make the folders below.
std::wstring machineLogFolderSddl(const std::wstring& account, bool administrator);

// --- The account this code runs under ---

struct RunningAccount {
    std::wstring sid;           // the token's user
    bool administrator = false; // Administrators enabled in the token (elevated)
};

// The account of the thread's effective token (its impersonation token, else the
// process's). False when the token cannot be read; GetLastError tells why.
bool runningAccount(RunningAccount& account);

// Creates a folder with machineLogFolderSddl for the running account. Returns the system
// error code (0 on success).
DWORD createProtectedFolder(const std::wstring& literalPath);

// Whether the open file's final path (links resolved) is the expected literal path, letter
// case aside. False also when the system cannot tell.
bool fileIsAt(HANDLE file, const std::wstring& expectedLiteral);

// --- The walk ---

// The folder base\levels[0]\...\levels[n-1], each level opened in turn (without delete
// sharing, the link itself rather than its target) and checked on that handle: no reparse
// point, found where the base and the names put it, a folder, a trusted owner. A missing
// level is created (the first with the protected access list) and then opened the same way.
// Every level stays open, and so cannot be renamed or removed, while this object lives.
class MachineLogFolder {
public:
    // Throws Exception: a level that is a link (ERROR_REPARSE_POINT_ENCOUNTERED) or is owned
    // by another account (ERROR_INVALID_OWNER) names that level; a level that is no folder
    // (ERROR_ALREADY_EXISTS), cannot be made, opened or checked names the whole folder.
    MachineLogFolder(const std::filesystem::path& base, const std::vector<std::wstring>& levels);

    // The folder, as the levels name it.
    const std::filesystem::path& path() const { return path_; }

    // Whether a file opened by name in the folder is the one meant: its final path is the
    // base's, as the system resolves it, and the levels.
    bool holds(HANDLE file, const std::wstring& name) const;

private:
    std::filesystem::path path_;
    std::wstring finalPath_;
    std::vector<UniqueFileHandle> held_;
};
