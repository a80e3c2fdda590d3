// The one directory listing under the scan and the cleanup: every entry the system gives, the
// code that tells why a listing did not start or stopped, and the handle closed once.
#include "file_system.h"
#include "staged_files.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>

using namespace kyrtest;

namespace {

// Everything a listing of the pattern gave, name to whether it is a directory.
std::map<std::wstring, bool> drain(DirectoryListing& listing) {
    std::map<std::wstring, bool> entries;
    DirectoryEntry entry;
    while (listing.next(entry)) {
        entries[entry.name] = entry.directory;
    }
    return entries;
}

} // namespace

TEST(DirectoryListing, GivesEveryMatchingEntryThenSaysWhyItStopped) {
    TempDir temp(L"listing");
    writeFile(temp.path() / L"~a.dll", "a");
    // The trailing dot is part of the name: written through the literal form.
    writeFile(literalPath(temp.path()) + L"\\~b.dll.", "b");
    writeFile(temp.path() / L"c.dll", "c");
    createDirectories(temp.path() / L"~folder");
    const FilePath dir = resolvePath(temp.path().wstring());

    DirectoryListing listing(dir / L"~*");
    ASSERT_TRUE(listing.started());
    const std::map<std::wstring, bool> expected = {
        {L"~a.dll", false}, {L"~b.dll.", false}, {L"~folder", true}};
    EXPECT_EQ(drain(listing), expected);
    EXPECT_EQ(listing.error(), static_cast<DWORD>(ERROR_NO_MORE_FILES));
    DirectoryEntry entry;
    EXPECT_FALSE(listing.next(entry)); // stays at its end
    EXPECT_TRUE(listing.close());
    EXPECT_FALSE(listing.next(entry)); // closed: nothing more, and no crash
}

TEST(DirectoryListing, SaysWhyItCouldNotStart) {
    TempDir temp(L"listing");
    writeFile(temp.path() / L"plain.dll", "p");
    const FilePath dir = resolvePath(temp.path().wstring());
    const struct {
        const char* what;
        FilePath pattern;
        DWORD error;
    } cases[] = {
        {"no entry matches", dir / L"~*", ERROR_FILE_NOT_FOUND},
        {"the folder is missing", dir / L"ru\\~*", ERROR_PATH_NOT_FOUND},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        DirectoryListing listing(c.pattern);
        EXPECT_FALSE(listing.started());
        EXPECT_EQ(listing.error(), c.error);
        DirectoryEntry entry;
        EXPECT_FALSE(listing.next(entry));
        EXPECT_EQ(listing.error(), c.error); // a listing that never started keeps its code
    }
}

TEST(DirectoryListing, TheDirectoryListLeavesOutItselfAndItsParent) {
    TempDir temp(L"listing");
    writeFile(temp.path() / L"kyrCore.dll", "k");
    createDirectories(temp.path() / L"sub");
    const FilePath dir = resolvePath(temp.path().wstring());

    std::map<std::wstring, bool> listed;
    for (const DirectoryEntry& entry : listDirectory(dir)) {
        listed[entry.name] = entry.directory;
    }
    const std::map<std::wstring, bool> expected = {{L"kyrCore.dll", false}, {L"sub", true}};
    EXPECT_EQ(listed, expected);

    try {
        listDirectory(dir / L"missing");
        ADD_FAILURE() << "a missing folder was listed";
    } catch (const std::filesystem::filesystem_error& e) {
        EXPECT_EQ(e.code().value(), ERROR_PATH_NOT_FOUND);
        EXPECT_EQ(e.path1().wstring(), (dir / L"missing").shown);
    }
}

TEST(DirectoryListing, OnlyAFileWhoseLongNameBeginsWithTildeIsStaged) {
    struct Case {
        const wchar_t* longName; // what the listing gives, whichever name matched "~*"
        bool directory;
        bool staged;
    };
    const Case cases[] = {
        {L"~kyrCore.dll", false, true},
        {L"~", false, true}, // replaces nothing; goes with the leftovers
        {L"~folder", true, false},
        // Matched through a short name ("~LOCK~1.X#", "~KYR~1.DLL"): no staged file.
        {L".~lock.x#", false, false},
        {L"..~kyr.dll", false, false},
        {L"a~b.dll", false, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(isStagedEntry(DirectoryEntry{c.longName, c.directory}), c.staged)
            << testing::PrintToString(std::wstring(c.longName));
    }
}
