// The machine's log folder below the common application data: whose folders it takes, the
// access list of the KYR it creates, and the walk that checks and holds every level.
#include "file_system.h"
#include "machine_log_folder.h"
#include "support/exception.h"
#include "support/unique_handle.h"
#include "test_support.h"

#include <windows.h>
#include <aclapi.h>
#include <sddl.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using kyrtest::TempDir;
using kyrtest::toUtf8;

// Accounts of a machine, as the system writes their SIDs.
constexpr const wchar_t* kUser = L"S-1-5-21-1004336348-1177238915-682003330-1001";
constexpr const wchar_t* kOtherUser = L"S-1-5-21-1004336348-1177238915-682003330-1002";
constexpr const wchar_t* kManagedServiceAccount = L"S-1-5-21-1004336348-1177238915-682003330-1105";
constexpr const wchar_t* kNetworkService = L"S-1-5-20";
constexpr const wchar_t* kLocalService = L"S-1-5-19";
// NT SERVICE\kyrServer: a virtual account's SID follows from the service's name.
constexpr const wchar_t* kVirtualAccount =
    L"S-1-5-80-3880718306-3832830129-1677859214-2598158968-1052248003";

const std::vector<std::wstring> kLevels{L"KYR", L"logs", L"kyrUpdater", L"2026", L"12"};

// A security descriptor from its SDDL text.
UniqueLocalMemory<void> descriptorOf(const std::wstring& sddl) {
    PSECURITY_DESCRIPTOR raw = nullptr;
    EXPECT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1,
                                                                     &raw, nullptr))
        << toUtf8(sddl);
    return UniqueLocalMemory<void>(raw);
}

// SYSTEM and Administrators full control, Users read and execute, and the account (when
// given) full control, each for the folder and everything below it; nothing inherited.
void expectMachineLogFolderAccess(PSECURITY_DESCRIPTOR descriptor, const std::wstring& account) {
    ASSERT_NE(descriptor, nullptr);
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    ASSERT_TRUE(GetSecurityDescriptorControl(descriptor, &control, &revision));
    EXPECT_TRUE(control & SE_DACL_PROTECTED);
    BOOL present = FALSE;
    BOOL defaulted = FALSE;
    PACL dacl = nullptr;
    ASSERT_TRUE(GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted));
    ASSERT_TRUE(present);
    ASSERT_NE(dacl, nullptr);
    struct Expected {
        std::wstring sid;
        ACCESS_MASK mask;
    };
    std::vector<Expected> expected{
        {L"S-1-5-18", FILE_ALL_ACCESS},
        {L"S-1-5-32-544", FILE_ALL_ACCESS},
        {L"S-1-5-32-545", FILE_GENERIC_READ | FILE_GENERIC_EXECUTE},
    };
    if (!account.empty()) {
        expected.push_back({account, FILE_ALL_ACCESS});
    }
    ASSERT_EQ(dacl->AceCount, expected.size());
    for (WORD i = 0; i < dacl->AceCount; ++i) {
        SCOPED_TRACE(i);
        ACCESS_ALLOWED_ACE* ace = nullptr;
        ASSERT_TRUE(GetAce(dacl, i, reinterpret_cast<void**>(&ace)));
        EXPECT_EQ(ace->Header.AceType, ACCESS_ALLOWED_ACE_TYPE);
        EXPECT_EQ(ace->Header.AceFlags & (OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE),
                  OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE);
        EXPECT_FALSE(ace->Header.AceFlags & INHERITED_ACE);
        EXPECT_EQ(ace->Mask, expected[i].mask);
        wchar_t* sid = nullptr;
        ASSERT_TRUE(ConvertSidToStringSidW(&ace->SidStart, &sid));
        const UniqueLocalMemory<wchar_t> owned(sid);
        EXPECT_EQ(std::wstring(sid), expected[i].sid);
    }
}

bool underWine() {
    return GetProcAddress(GetModuleHandleW(L"ntdll"), "wine_get_version") != nullptr;
}

// While it lives, this thread runs as this process's user with Administrators for denial
// only: as an administrator's program runs without elevation, and as a plain user's does.
class Unelevated {
public:
    Unelevated() {
        HANDLE raw = nullptr;
        if (!OpenProcessToken(GetCurrentProcess(), TOKEN_DUPLICATE | TOKEN_QUERY, &raw)) {
            return;
        }
        const UniqueHandle process(raw);
        BYTE administrators[SECURITY_MAX_SID_SIZE];
        DWORD size = sizeof administrators;
        if (!CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, administrators, &size)) {
            return;
        }
        SID_AND_ATTRIBUTES denyOnly{administrators, 0};
        if (!CreateRestrictedToken(process.get(), 0, 1, &denyOnly, 0, nullptr, 0, nullptr, &raw)) {
            return;
        }
        const UniqueHandle restricted(raw);
        if (!DuplicateTokenEx(restricted.get(),
                              TOKEN_QUERY | TOKEN_IMPERSONATE | TOKEN_ADJUST_DEFAULT, nullptr,
                              SecurityImpersonation, TokenImpersonation, &raw)) {
            return;
        }
        token_.reset(raw);
        // New objects belong to the user: Administrators, an elevated token's default owner,
        // can own nothing for a token that has it for denial only.
        alignas(TOKEN_USER) BYTE user[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
        if (GetTokenInformation(token_.get(), TokenUser, user, sizeof user, &size)) {
            TOKEN_OWNER owner{reinterpret_cast<TOKEN_USER*>(user)->User.Sid};
            SetTokenInformation(token_.get(), TokenOwner, &owner, sizeof owner);
        }
        active_ = SetThreadToken(nullptr, token_.get()) != FALSE;
    }
    ~Unelevated() {
        if (active_) {
            RevertToSelf();
        }
    }
    Unelevated(const Unelevated&) = delete;
    Unelevated& operator=(const Unelevated&) = delete;
    bool active() const { return active_; }

private:
    UniqueHandle token_;
    bool active_ = false;
};

// The failure of a walk, or empty when it went through.
std::wstring walkFailure(const fs::path& base, const std::vector<std::wstring>& levels) {
    try {
        const MachineLogFolder folder(base, levels);
        return {};
    } catch (const Exception& e) {
        return e.text();
    }
}

} // namespace

TEST(MachineLogFolderOwner, TheSystemsAccountsAndTheRunningOneOnly) {
    struct Case {
        const wchar_t* owner;
        // The decision for a run under a plain user, NETWORK SERVICE, a virtual account and
        // SYSTEM.
        bool user, networkService, virtualAccount, system;
    };
    const Case cases[] = {
        {kLocalSystemSid, true, true, true, true},
        {kAdministratorsSid, true, true, true, true},
        {kTrustedInstallerSid, true, true, true, true},
        {kUser, true, false, false, false},
        {kNetworkService, false, true, false, false},
        {kVirtualAccount, false, false, true, false},
        {kOtherUser, false, false, false, false},
        {kManagedServiceAccount, false, false, false, false},
        {kLocalService, false, false, false, false},
        {L"S-1-5-32-545", false, false, false, false}, // Users
        {L"S-1-1-0", false, false, false, false},      // Everyone
        {L"S-1-5-11", false, false, false, false},     // Authenticated Users
        {L"S-1-3-0", false, false, false, false},      // CREATOR OWNER
        // ANONYMOUS LOGON: Wine's owner of a file of another Unix user.
        {L"S-1-5-7", false, false, false, false},
        {L"S-1-5-32-5440", false, false, false, false}, // Administrators' look-alike
        {L"S-1-5-18-1", false, false, false, false},
        {L"", false, false, false, false}, // no owner recorded
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(toUtf8(c.owner));
        EXPECT_EQ(isTrustedLogFolderOwner(c.owner, kUser), c.user);
        EXPECT_EQ(isTrustedLogFolderOwner(c.owner, kNetworkService), c.networkService);
        EXPECT_EQ(isTrustedLogFolderOwner(c.owner, kVirtualAccount), c.virtualAccount);
        EXPECT_EQ(isTrustedLogFolderOwner(c.owner, kLocalSystemSid), c.system);
    }
}

TEST(MachineLogFolderAccess, TheRunningAccountGetsFullControlUnlessSystemOrAdministrator) {
    struct Case {
        const wchar_t* account;
        bool administrator;
        bool ownEntry;
    };
    const Case cases[] = {
        {kUser, false, true}, // a plain user, or an administrator not elevated
        {kUser, true, false},
        {kLocalSystemSid, true, false},
        {kLocalSystemSid, false, false},
        {kNetworkService, false, true},
        {kLocalService, false, true},
        {kVirtualAccount, false, true},
        {kManagedServiceAccount, false, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(toUtf8(c.account) + (c.administrator ? " administrator" : ""));
        const auto descriptor = descriptorOf(machineLogFolderSddl(c.account, c.administrator));
        expectMachineLogFolderAccess(descriptor.get(), c.ownEntry ? c.account : L"");
    }
}

TEST(MachineLogFolderAccess, AnUnelevatedRunOfThisAccountGetsItsOwnEntry) {
    RunningAccount asStarted;
    ASSERT_TRUE(runningAccount(asStarted)) << GetLastError();
    EXPECT_EQ(asStarted.sid, kyrtest::processUser());
    const Unelevated unelevated;
    ASSERT_TRUE(unelevated.active()) << "cannot run as this user without Administrators";
    RunningAccount account;
    ASSERT_TRUE(runningAccount(account)) << GetLastError();
    EXPECT_EQ(account.sid, asStarted.sid);
    EXPECT_FALSE(account.administrator);
    const auto descriptor = descriptorOf(machineLogFolderSddl(account.sid, account.administrator));
    expectMachineLogFolderAccess(descriptor.get(), account.sid);
}

TEST(MachineLogFolderAccess, ItsCreatorMayMakeTheLevelsBelowAndAFileThere) {
    if (underWine()) {
        GTEST_SKIP() << "Wine enforces no access lists: there every account may write in any "
                        "folder it made";
    }
    TempDir temp;
    // As an account that is no administrator, for which only its own entry opens the folder.
    const Unelevated unelevated;
    ASSERT_TRUE(unelevated.active()) << "cannot run as this user without Administrators";
    try {
        const MachineLogFolder folder(temp.path(), kLevels);
        const std::wstring name = L"01.00_00_00.log";
        const UniqueFileHandle file(
            CreateFileW(literalForm((folder.path() / name).wstring()).c_str(),
                        GENERIC_READ | GENERIC_WRITE | DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                        nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
        ASSERT_TRUE(file) << "code " << GetLastError();
        EXPECT_TRUE(folder.holds(file.get(), name));
    } catch (const Exception& e) {
        FAIL() << toUtf8(e.text());
    }
}

TEST(MachineLogFolderAccess, ACreatedFolderHasTheListOfItsAccount) {
    RunningAccount account;
    ASSERT_TRUE(runningAccount(account)) << GetLastError();
    TempDir temp;
    const std::wstring folder = (temp.path() / L"KYR").wstring();
    ASSERT_EQ(createProtectedFolder(literalForm(folder)), 0u);
    // An existing folder is no new folder.
    EXPECT_EQ(createProtectedFolder(literalForm(folder)), static_cast<DWORD>(ERROR_ALREADY_EXISTS));

    PSECURITY_DESCRIPTOR descriptor = nullptr;
    ASSERT_EQ(GetNamedSecurityInfoW(folder.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION,
                                    nullptr, nullptr, nullptr, nullptr, &descriptor),
              static_cast<DWORD>(ERROR_SUCCESS));
    const UniqueLocalMemory<void> ownedDescriptor(descriptor);
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    GetSecurityDescriptorControl(descriptor, &control, &revision);
    if (!(control & SE_DACL_PROTECTED) && underWine()) {
        GTEST_SKIP() << "Wine keeps no access list of a folder; Windows does";
    }
    // The list asked for (its entries are the table's above), entry by entry.
    wchar_t* asked = nullptr;
    wchar_t* given = nullptr;
    const auto requested = descriptorOf(machineLogFolderSddl(account.sid, account.administrator));
    ASSERT_TRUE(ConvertSecurityDescriptorToStringSecurityDescriptorW(
        requested.get(), SDDL_REVISION_1, DACL_SECURITY_INFORMATION, &asked, nullptr));
    const UniqueLocalMemory<wchar_t> ownedAsked(asked);
    ASSERT_TRUE(ConvertSecurityDescriptorToStringSecurityDescriptorW(
        descriptor, SDDL_REVISION_1, DACL_SECURITY_INFORMATION, &given, nullptr));
    const UniqueLocalMemory<wchar_t> ownedGiven(given);
    EXPECT_EQ(toUtf8(given), toUtf8(asked));
}

TEST(MachineLogFolderWalk, MakesTheMissingLevels) {
    TempDir temp;
    kyrtest::createDirectories(temp.path() / L"KYR" / L"logs");
    try {
        const MachineLogFolder folder(temp.path(), kLevels);
        EXPECT_EQ(folder.path(), temp.path() / L"KYR" / L"logs" / L"kyrUpdater" / L"2026" / L"12");
        EXPECT_TRUE(kyrtest::pathExists(folder.path()));
    } catch (const Exception& e) {
        FAIL() << toUtf8(e.text());
    }
}

TEST(MachineLogFolderWalk, EveryLevelIsHeldUntilTheWalkEnds) {
    // Whether this system keeps a folder that is open without delete sharing in its place.
    {
        TempDir probe;
        const fs::path folder = probe.path() / L"held";
        ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
        const UniqueFileHandle held(CreateFileW(
            folder.c_str(), FILE_READ_ATTRIBUTES | READ_CONTROL, FILE_SHARE_READ | FILE_SHARE_WRITE,
            nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
        ASSERT_TRUE(held);
        if (MoveFileExW(folder.c_str(), (folder.wstring() + L"-moved").c_str(), 0)) {
            GTEST_SKIP()
                << "this system lets a folder that is held open without delete sharing "
                   "be renamed (Wine 8 checks the sharing of files only); Windows does not";
        }
    }
    TempDir temp;
    std::vector<fs::path> levels;
    fs::path level = temp.path();
    for (const std::wstring& name : kLevels) {
        level /= name;
        levels.push_back(level);
    }
    {
        const MachineLogFolder folder(temp.path(), kLevels);
        for (const fs::path& held : levels) {
            SCOPED_TRACE(toUtf8(held.wstring()));
            // Nobody can swap a level for a link: it can be neither renamed nor removed.
            EXPECT_FALSE(MoveFileExW(held.c_str(), (held.wstring() + L"-swapped").c_str(), 0));
            EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
        }
        EXPECT_FALSE(RemoveDirectoryW(levels.back().c_str()));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    }
    // Let go with the walk.
    EXPECT_TRUE(RemoveDirectoryW(levels.back().c_str())) << GetLastError();
}

TEST(MachineLogFolderWalk, ALinkAnotherAccountsFolderOrAFileAtALevelIsRefused) {
    enum class Kind { link, foreign, file };
    struct Case {
        Kind kind;
        std::size_t level; // index into kLevels
    };
    const Case cases[] = {
        {Kind::link, 0},    {Kind::link, 2},    {Kind::link, 4}, {Kind::foreign, 0},
        {Kind::foreign, 2}, {Kind::foreign, 4}, {Kind::file, 0}, {Kind::file, 4},
    };
    std::string notPlanted;
    for (const Case& c : cases) {
        TempDir temp;
        fs::path planted = temp.path();
        for (std::size_t i = 0; i <= c.level; ++i) {
            planted /= kLevels[i];
        }
        SCOPED_TRACE(toUtf8(planted.wstring()));
        kyrtest::createDirectories(planted.parent_path());
        const fs::path elsewhere = temp.path() / L"elsewhere";
        kyrtest::createDirectories(elsewhere);
        fs::path named = planted;
        DWORD code = 0;
        switch (c.kind) {
        case Kind::link:
            if (!kyrtest::linkDirectory(planted, elsewhere)) {
                notPlanted += "no directory link can be made here; ";
                continue;
            }
            code = kReparsePointEncountered;
            break;
        case Kind::foreign:
            ASSERT_TRUE(CreateDirectoryW(planted.c_str(), nullptr));
            if (!kyrtest::giveToAnotherAccount(planted)) {
                notPlanted += "no folder can be given to another account here (on Windows that "
                              "needs an elevated administrator, under Wine root); ";
                continue;
            }
            code = ERROR_INVALID_OWNER;
            break;
        case Kind::file:
            kyrtest::writeFile(planted, "not a folder");
            // As a folder that cannot be made: the whole folder named.
            named = temp.path();
            for (const std::wstring& name : kLevels) {
                named /= name;
            }
            code = ERROR_ALREADY_EXISTS;
            break;
        }
        EXPECT_EQ(toUtf8(walkFailure(temp.path(), kLevels)),
                  toUtf8(kyrtest::failureText(named.wstring(), code)));
        EXPECT_TRUE(fs::is_empty(elsewhere)) << "a folder was made through the link";
        if (c.kind == Kind::link) {
            kyrtest::removeLink(planted);
        }
    }
    if (!notPlanted.empty()) {
        GTEST_SKIP() << "not every case could be planted: " << notPlanted;
    }
}

TEST(MachineLogFolder, AFileOpenedThroughALinkIsNotWhereItWasMeantToBe) {
    kyrtest::TempDir temp;
    const auto folder = temp.path() / L"real";
    ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
    const auto link = temp.path() / L"link";
    if (!kyrtest::linkDirectory(link, folder)) {
        GTEST_SKIP() << "no directory link can be made here";
    }
    const auto open = [](const std::filesystem::path& path) {
        return CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    };
    {
        const UniqueFileHandle throughLink(open(link / L"a.log"));
        ASSERT_TRUE(throughLink);
        EXPECT_FALSE(fileIsAt(throughLink.get(), literalForm((link / L"a.log").wstring())));
        // The path the system resolved the link to is where the file is; letter case aside.
        const std::wstring real = literalForm((folder / L"A.LOG").wstring());
        EXPECT_TRUE(fileIsAt(throughLink.get(), real));
    }
    kyrtest::removeLink(link);
    EXPECT_TRUE(std::filesystem::exists(folder / L"a.log"));
}
