// File identity: when two names are one file or folder. The decision as a table of the
// system's answers (ReFS's 128-bit IDs, the 64-bit index of older systems, IDs that name no
// file), then against the real file system: hard links, folder links, different files.
#include "file_system.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <array>

using namespace kyrtest;

namespace {

using Id = std::array<unsigned char, 16>;

// A 128-bit ID from its two 64-bit halves (low first, as the system stores it).
Id idOf(unsigned long long low, unsigned long long high) {
    Id id{};
    for (std::size_t i = 0; i < 8; ++i) {
        id[i] = static_cast<unsigned char>(low >> (8 * i));
        id[8 + i] = static_cast<unsigned char>(high >> (8 * i));
    }
    return id;
}

FileIdentity indexIdentity(DWORD volume, DWORD high, DWORD low) {
    BY_HANDLE_FILE_INFORMATION information{};
    information.dwVolumeSerialNumber = volume;
    information.nFileIndexHigh = high;
    information.nFileIndexLow = low;
    return identityOfIndex(information);
}

} // namespace

TEST(FileIdentity, OneFileOnlyWhenVolumeAndWholeIdAgree) {
    struct Case {
        const char* name;
        FileIdentity a;
        FileIdentity b;
        bool same;
    };
    const Case cases[] = {
        {"same 128-bit ID", identityOfIdInfo(7, idOf(0x1234, 0x99)),
         identityOfIdInfo(7, idOf(0x1234, 0x99)), true},
        // ReFS: two files whose IDs share the low 64 bits are still two files.
        {"IDs differ in the high half only", identityOfIdInfo(7, idOf(0x1234, 0x99)),
         identityOfIdInfo(7, idOf(0x1234, 0x98)), false},
        {"same ID, other volume", identityOfIdInfo(7, idOf(0x1234, 0)),
         identityOfIdInfo(8, idOf(0x1234, 0)), false},
        {"same 64-bit index", indexIdentity(7, 1, 0x1234), indexIdentity(7, 1, 0x1234), true},
        {"64-bit index differs in its high word", indexIdentity(7, 1, 0x1234),
         indexIdentity(7, 2, 0x1234), false},
        // The two forms come from two file systems: never one file.
        {"128-bit and 64-bit form", identityOfIdInfo(7, idOf(0x0000000100001234ull, 0)),
         indexIdentity(7, 1, 0x1234), false},
        // A server that keeps no IDs answers zero for every file.
        {"zero 128-bit IDs", identityOfIdInfo(7, idOf(0, 0)), identityOfIdInfo(7, idOf(0, 0)),
         false},
        {"zero 64-bit indexes", indexIdentity(7, 0, 0), indexIdentity(7, 0, 0), false},
        // An ID that does not fit the 64-bit form reads as all ones.
        {"all-ones 64-bit indexes", indexIdentity(7, 0xFFFFFFFF, 0xFFFFFFFF),
         indexIdentity(7, 0xFFFFFFFF, 0xFFFFFFFF), false},
        {"all-ones 128-bit IDs", identityOfIdInfo(7, idOf(~0ull, ~0ull)),
         identityOfIdInfo(7, idOf(~0ull, ~0ull)), false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(sameIdentity(c.a, c.b), c.same) << c.name;
        EXPECT_EQ(sameIdentity(c.b, c.a), c.same) << c.name << " (swapped)";
    }
}

TEST(FileIdentity, NamesOfOneFileAgreeAndOtherFilesDiffer) {
    TempDir temp(L"identity");
    const fs::path& t = temp.path();
    writeFile(t / L"a.dll", "a");
    writeFile(t / L"b.dll", "a");
    createDirectories(t / L"dir");
    ASSERT_TRUE(CreateHardLinkW((t / L"hard.dll").c_str(), (t / L"a.dll").c_str(), nullptr));
    const FilePath dir = resolvePath(t.wstring());

    EXPECT_TRUE(sameFile(dir / L"a.dll", dir / L"a.dll"));
    EXPECT_TRUE(sameFile(dir / L"a.dll", dir / L"hard.dll"));
    EXPECT_FALSE(sameFile(dir / L"a.dll", dir / L"b.dll"));
    EXPECT_FALSE(sameFile(dir / L"dir", dir));
    EXPECT_FALSE(sameFile(dir / L"a.dll", dir / L"absent.dll"));
    EXPECT_FALSE(identityOf(dir / L"absent.dll").has_value());

    if (!linkDirectory(t / L"link", t / L"dir")) {
        GTEST_SKIP() << "no directory link can be made here";
    }
    EXPECT_TRUE(sameFile(dir / L"link", dir / L"dir"));
    EXPECT_FALSE(sameFile(dir / L"link", dir));
    removeLink(t / L"link");
}

TEST(FileIdentity, TakesThe128BitIdWhereTheSystemGivesIt) {
    TempDir temp(L"identity");
    writeFile(temp.path() / L"a.dll", "a");
    const FilePath file = resolvePath((temp.path() / L"a.dll").wstring());
    const UniqueFileHandle handle = openForIdentity(file);
    ASSERT_TRUE(handle);
    const auto identity = identityOf(handle.get());
    ASSERT_TRUE(identity.has_value());
    // Asked directly: FileIdInfo (class 18) answers on Windows 8 and later; Windows 7 has
    // the function but not the class.
    struct {
        ULONGLONG volume;
        unsigned char id[16];
    } idInfo{};
    const auto byHandleEx =
        reinterpret_cast<decltype(&GetFileInformationByHandleEx)>(reinterpret_cast<void (*)()>(
            GetProcAddress(GetModuleHandleW(L"kernel32"), "GetFileInformationByHandleEx")));
    const bool wideAnswered =
        byHandleEx && byHandleEx(handle.get(), static_cast<FILE_INFO_BY_HANDLE_CLASS>(18), &idInfo,
                                 sizeof idInfo);
    EXPECT_EQ(identity->wide, wideAnswered);
    if (wideAnswered) {
        EXPECT_EQ(identity->volume, idInfo.volume);
    }
}
