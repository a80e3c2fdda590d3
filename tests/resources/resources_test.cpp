// The resources of the built programs, read back the way the system reads them: the
// application manifest, the version resource and the launcher's icon.
#include "manifest_xml.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <optional>
#include <set>
#include <type_traits>

using namespace kyrtest;

namespace {

struct LibraryDeleter {
    void operator()(HMODULE module) const { FreeLibrary(module); }
};
using Library = std::unique_ptr<std::remove_pointer_t<HMODULE>, LibraryDeleter>;

// The program mapped for its resources only: nothing of it runs.
Library loadForResources(const fs::path& program) {
    return Library(LoadLibraryExW(program.c_str(), nullptr,
                                  LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE));
}

// The bytes of one resource, or nothing when the module has no such resource.
std::optional<std::string> resourceBytes(HMODULE module, LPCWSTR type, LPCWSTR name) {
    HRSRC found = FindResourceW(module, name, type);
    if (!found) {
        return std::nullopt;
    }
    const void* data = LockResource(LoadResource(module, found));
    if (!data) {
        return std::nullopt;
    }
    return std::string(static_cast<const char*>(data), SizeofResource(module, found));
}

// Collects one resource's integer name (a string name is recorded as 0).
BOOL CALLBACK addResourceId(HMODULE, LPCWSTR, LPWSTR name, LONG_PTR context) {
    auto* list = reinterpret_cast<std::vector<WORD>*>(context);
    list->push_back(IS_INTRESOURCE(name) ? static_cast<WORD>(reinterpret_cast<ULONG_PTR>(name))
                                         : 0);
    return TRUE;
}

// The integer names of every resource of a type.
std::vector<WORD> resourceIds(HMODULE module, LPCWSTR type) {
    std::vector<WORD> ids;
    EnumResourceNamesW(module, type, &addResourceId, reinterpret_cast<LONG_PTR>(&ids));
    return ids;
}

struct ProgramCase {
    const wchar_t* fileName;
    const wchar_t* internalName;
};

void PrintTo(const ProgramCase& program, std::ostream* os) {
    *os << toUtf8(program.fileName);
}

const ProgramCase programs[] = {
    {L"kyrUpdater.exe", L"kyrUpdater"},
#ifdef KYR_TEST_LAUNCHER
    {L"kyrServer.com", L"kyrServer"},
#endif
};

class ProgramResources : public ::testing::TestWithParam<ProgramCase> {
protected:
    fs::path program() const { return builtProgram(GetParam().fileName); }
};

// ---- manifest

const char asmV1[] = "urn:schemas-microsoft-com:asm.v1";

// Every element of the given local name, each with the chain of elements that leads to it.
void collect(const XmlElement& element, const std::string& name,
             std::vector<const XmlElement*>& path,
             std::vector<std::vector<const XmlElement*>>& found) {
    path.push_back(&element);
    if (element.name == name) {
        found.push_back(path);
    }
    for (const XmlElement& child : element.children) {
        collect(child, name, path, found);
    }
    path.pop_back();
}

TEST_P(ProgramResources, OneManifestAsksToRunAsInvokerWithoutUiAccess) {
    const Library module = loadForResources(program());
    ASSERT_TRUE(module) << toUtf8(program().wstring()) << ": error " << GetLastError();
    // Id 1 is the manifest that the loader applies when it creates the process.
    EXPECT_EQ(resourceIds(module.get(), RT_MANIFEST), std::vector<WORD>{1});
    const auto manifest =
        resourceBytes(module.get(), RT_MANIFEST, CREATEPROCESS_MANIFEST_RESOURCE_ID);
    ASSERT_TRUE(manifest.has_value()) << "no RT_MANIFEST 1";

    XmlElement root;
    ASSERT_NO_THROW(root = parseXml(*manifest)) << *manifest;
    EXPECT_EQ(root.ns, asmV1);
    EXPECT_EQ(root.name, "assembly");
    ASSERT_NE(root.attribute("manifestVersion"), nullptr);
    EXPECT_EQ(*root.attribute("manifestVersion"), "1.0");

    std::vector<const XmlElement*> path;
    std::vector<std::vector<const XmlElement*>> levels;
    collect(root, "requestedExecutionLevel", path, levels);
    ASSERT_EQ(levels.size(), 1u) << *manifest;
    const std::vector<const XmlElement*>& chain = levels.front();
    ASSERT_EQ(chain.size(), 5u) << "requestedExecutionLevel is not where the loader looks";
    const char* const expectedChain[] = {"assembly", "trustInfo", "security", "requestedPrivileges",
                                         "requestedExecutionLevel"};
    for (std::size_t i = 0; i < chain.size(); ++i) {
        EXPECT_EQ(chain[i]->name, expectedChain[i]);
    }
    // trustInfo and what it holds belong to the v2 or v3 assembly namespace.
    const std::string trustNs = chain[1]->ns;
    EXPECT_TRUE(trustNs == "urn:schemas-microsoft-com:asm.v3" ||
                trustNs == "urn:schemas-microsoft-com:asm.v2")
        << trustNs;
    for (std::size_t i = 2; i < chain.size(); ++i) {
        EXPECT_EQ(chain[i]->ns, trustNs) << chain[i]->name;
    }
    const XmlElement& level = *chain.back();
    ASSERT_NE(level.attribute("level"), nullptr);
    EXPECT_EQ(*level.attribute("level"), "asInvoker");
    ASSERT_NE(level.attribute("uiAccess"), nullptr);
    EXPECT_EQ(*level.attribute("uiAccess"), "false");
}

// ---- version

struct VersionInfo {
    VS_FIXEDFILEINFO fixed{};
    std::vector<std::pair<WORD, WORD>> translations; // language, code page
    std::vector<char> block;

    // A string of the first translation, or nothing.
    std::optional<std::wstring> text(const std::wstring& name) {
        if (translations.empty()) {
            return std::nullopt;
        }
        wchar_t sub[64];
        swprintf(sub, 64, L"\\StringFileInfo\\%04x%04x\\", translations[0].first,
                 translations[0].second);
        void* value = nullptr;
        UINT length = 0;
        if (!VerQueryValueW(block.data(), (sub + name).c_str(), &value, &length) || !value) {
            return std::nullopt;
        }
        // The length counts the terminating null for a string value.
        std::wstring result(static_cast<const wchar_t*>(value), length);
        while (!result.empty() && result.back() == L'\0') {
            result.pop_back();
        }
        return result;
    }
};

std::optional<VersionInfo> versionInfo(const fs::path& program) {
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(program.c_str(), &ignored);
    if (size == 0) {
        return std::nullopt;
    }
    VersionInfo info;
    info.block.resize(size);
    if (!GetFileVersionInfoW(program.c_str(), 0, size, info.block.data())) {
        return std::nullopt;
    }
    void* value = nullptr;
    UINT length = 0;
    if (!VerQueryValueW(info.block.data(), L"\\", &value, &length) ||
        length < sizeof(VS_FIXEDFILEINFO)) {
        return std::nullopt;
    }
    std::memcpy(&info.fixed, value, sizeof info.fixed);
    if (VerQueryValueW(info.block.data(), L"\\VarFileInfo\\Translation", &value, &length)) {
        const auto* words = static_cast<const WORD*>(value);
        for (UINT i = 0; i + 1 < length / sizeof(WORD); i += 2) {
            info.translations.emplace_back(words[i], words[i + 1]);
        }
    }
    return info;
}

constexpr DWORD versionMs = MAKELONG(KYR_PROJECT_VERSION_MINOR, KYR_PROJECT_VERSION_MAJOR);
constexpr DWORD versionLs = MAKELONG(KYR_PROJECT_VERSION_TWEAK, KYR_PROJECT_VERSION_PATCH);

TEST_P(ProgramResources, VersionIsTheProjectVersion) {
    auto info = versionInfo(program());
    ASSERT_TRUE(info.has_value()) << "no version resource, error " << GetLastError();
    const VS_FIXEDFILEINFO& fixed = info->fixed;
    EXPECT_EQ(fixed.dwSignature, 0xFEEF04BDu);
    EXPECT_EQ(fixed.dwFileVersionMS, versionMs);
    EXPECT_EQ(fixed.dwFileVersionLS, versionLs);
    EXPECT_EQ(fixed.dwProductVersionMS, versionMs);
    EXPECT_EQ(fixed.dwProductVersionLS, versionLs);
    EXPECT_EQ(fixed.dwFileFlags & fixed.dwFileFlagsMask, 0u) << "debug or pre-release flags";
    EXPECT_EQ(fixed.dwFileType, static_cast<DWORD>(VFT_APP));
    EXPECT_EQ(fixed.dwFileOS, static_cast<DWORD>(VOS_NT_WINDOWS32));

    ASSERT_FALSE(info->translations.empty());
    EXPECT_EQ(info->translations[0], std::make_pair(WORD{0x0409}, WORD{1200}));

    const std::wstring version = L"" KYR_PROJECT_VERSION;
    EXPECT_EQ(info->text(L"OriginalFilename"), std::wstring(GetParam().fileName));
    EXPECT_EQ(info->text(L"InternalName"), std::wstring(GetParam().internalName));
    EXPECT_EQ(info->text(L"ProductName"), std::wstring(L"kyr-tools"));
    EXPECT_EQ(info->text(L"FileVersion"), version);
    EXPECT_EQ(info->text(L"ProductVersion"), version);
    const auto description = info->text(L"FileDescription");
    ASSERT_TRUE(description.has_value());
    EXPECT_FALSE(description->empty());
}

INSTANTIATE_TEST_SUITE_P(, ProgramResources, ::testing::ValuesIn(programs),
                         [](const ::testing::TestParamInfo<ProgramCase>& info) {
                             return std::string(info.param.internalName,
                                                info.param.internalName +
                                                    wcslen(info.param.internalName));
                         });

#ifdef KYR_TEST_LAUNCHER

TEST(ProgramVersions, BothProgramsCarryTheSameVersion) {
    const auto updater = versionInfo(builtProgram(L"kyrUpdater.exe"));
    const auto launcher = versionInfo(builtProgram(L"kyrServer.com"));
    ASSERT_TRUE(updater.has_value());
    ASSERT_TRUE(launcher.has_value());
    EXPECT_EQ(updater->fixed.dwFileVersionMS, launcher->fixed.dwFileVersionMS);
    EXPECT_EQ(updater->fixed.dwFileVersionLS, launcher->fixed.dwFileVersionLS);
    EXPECT_EQ(updater->fixed.dwProductVersionMS, launcher->fixed.dwProductVersionMS);
    EXPECT_EQ(updater->fixed.dwProductVersionLS, launcher->fixed.dwProductVersionLS);
}

// ---- the launcher's icon

#pragma pack(push, 2)
struct GroupIconDir {
    WORD reserved;
    WORD type; // 1: icons
    WORD count;
};
struct GroupIconEntry {
    BYTE width; // 0 stands for 256
    BYTE height;
    BYTE colorCount;
    BYTE reserved;
    WORD planes;
    WORD bitCount;
    DWORD bytesInRes;
    WORD id; // the RT_ICON that holds the image
};
#pragma pack(pop)
static_assert(sizeof(GroupIconDir) == 6 && sizeof(GroupIconEntry) == 14,
              "the layout of a group icon resource");

std::vector<GroupIconEntry> iconEntries(const std::string& group) {
    GroupIconDir dir{};
    if (group.size() < sizeof dir) {
        return {};
    }
    std::memcpy(&dir, group.data(), sizeof dir);
    if (dir.reserved != 0 || dir.type != 1 ||
        group.size() != sizeof dir + dir.count * sizeof(GroupIconEntry)) {
        return {};
    }
    std::vector<GroupIconEntry> entries(dir.count);
    std::memcpy(entries.data(), group.data() + sizeof dir, dir.count * sizeof(GroupIconEntry));
    return entries;
}

std::uint32_t bigEndian32(const std::string& bytes, std::size_t offset) {
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < 4; ++i) {
        value = value << 8 | static_cast<unsigned char>(bytes[offset + i]);
    }
    return value;
}

class LauncherIcon : public ::testing::Test {
protected:
    void SetUp() override {
        module_ = loadForResources(builtProgram(L"kyrServer.com"));
        ASSERT_TRUE(module_) << "error " << GetLastError();
        const std::vector<WORD> groups = resourceIds(module_.get(), RT_GROUP_ICON);
        ASSERT_EQ(groups.size(), 1u) << "one icon group expected";
        ASSERT_NE(groups[0], 0) << "the icon group has a string name";
        const auto group = resourceBytes(module_.get(), RT_GROUP_ICON, MAKEINTRESOURCEW(groups[0]));
        ASSERT_TRUE(group.has_value());
        group_ = *group;
        entries_ = iconEntries(group_);
        ASSERT_FALSE(entries_.empty()) << "malformed icon group of " << group_.size() << " bytes";
    }

    Library module_;
    std::string group_;
    std::vector<GroupIconEntry> entries_;
};

TEST_F(LauncherIcon, GroupListsSixteenThirtyTwoFortyEightAndTwoHundredFiftySixPixels) {
    std::multiset<int> sizes;
    for (const GroupIconEntry& entry : entries_) {
        const int size = entry.width == 0 ? 256 : entry.width;
        sizes.insert(size);
        EXPECT_EQ(entry.height, entry.width) << size << " px";
        EXPECT_EQ(entry.planes, 1) << size << " px";
        EXPECT_EQ(entry.bitCount, 32) << size << " px";
    }
    EXPECT_EQ(sizes, (std::multiset<int>{16, 32, 48, 256}));
}

TEST_F(LauncherIcon, EveryImageIsPresentAndOfItsListedSize) {
    for (const GroupIconEntry& entry : entries_) {
        const int size = entry.width == 0 ? 256 : entry.width;
        SCOPED_TRACE(std::to_string(size) + " px, RT_ICON " + std::to_string(entry.id));
        const auto image = resourceBytes(module_.get(), RT_ICON, MAKEINTRESOURCEW(entry.id));
        ASSERT_TRUE(image.has_value()) << "image missing";
        EXPECT_EQ(image->size(), entry.bytesInRes);
        ASSERT_GE(image->size(), sizeof(BITMAPINFOHEADER));
        if (image->compare(0, 8, "\x89PNG\r\n\x1a\n") == 0) {
            // IHDR follows the signature: length, type, width, height.
            EXPECT_EQ(image->substr(12, 4), "IHDR");
            EXPECT_EQ(bigEndian32(*image, 16), static_cast<std::uint32_t>(size));
            EXPECT_EQ(bigEndian32(*image, 20), static_cast<std::uint32_t>(size));
            EXPECT_EQ(size, 256) << "only the largest image is stored as PNG";
        } else {
            BITMAPINFOHEADER header{};
            std::memcpy(&header, image->data(), sizeof header);
            EXPECT_EQ(header.biSize, sizeof header);
            EXPECT_EQ(header.biWidth, size);
            EXPECT_EQ(header.biHeight, 2 * size) << "colour image and mask";
            EXPECT_EQ(header.biBitCount, 32);
        }
        // The system itself makes an icon of it.
        const HICON icon = CreateIconFromResourceEx(
            reinterpret_cast<PBYTE>(const_cast<char*>(image->data())),
            static_cast<DWORD>(image->size()), TRUE, 0x00030000, 0, 0, LR_DEFAULTCOLOR);
        ASSERT_NE(icon, nullptr) << "CreateIconFromResourceEx: error " << GetLastError();
        ICONINFO iconInfo{};
        ASSERT_TRUE(GetIconInfo(icon, &iconInfo));
        BITMAP bitmap{};
        GetObjectW(iconInfo.hbmColor ? iconInfo.hbmColor : iconInfo.hbmMask, sizeof bitmap,
                   &bitmap);
        EXPECT_EQ(bitmap.bmWidth, size);
        if (iconInfo.hbmColor) {
            DeleteObject(iconInfo.hbmColor);
        }
        DeleteObject(iconInfo.hbmMask);
        DestroyIcon(icon);
    }
}

TEST_F(LauncherIcon, SystemPicksTheImageOfEachSizeFromTheGroup) {
    for (const GroupIconEntry& entry : entries_) {
        const int size = entry.width == 0 ? 256 : entry.width;
        const int id =
            LookupIconIdFromDirectoryEx(reinterpret_cast<PBYTE>(const_cast<char*>(group_.data())),
                                        TRUE, size, size, LR_DEFAULTCOLOR);
        EXPECT_EQ(id, entry.id) << size << " px";
    }
}

#endif // KYR_TEST_LAUNCHER

// ---- the manifest reader itself

TEST(ManifestXml, ResolvesPrefixesAndDefaultNamespaces) {
    const XmlElement root =
        parseXml("\xEF\xBB\xBF<?xml version='1.0'?>\n<!-- c -->"
                 "<m:assembly xmlns:m='urn:one' xmlns='urn:two' a=\"x&amp;&#65;\">"
                 "text<inner><m:leaf b='1'/></inner><![CDATA[<no/>]]>"
                 "<other xmlns='urn:three'/></m:assembly>\n");
    EXPECT_EQ(root.ns, "urn:one");
    EXPECT_EQ(root.name, "assembly");
    ASSERT_NE(root.attribute("a"), nullptr);
    EXPECT_EQ(*root.attribute("a"), "x&A");
    ASSERT_EQ(root.children.size(), 2u);
    EXPECT_EQ(root.children[0].ns, "urn:two");
    EXPECT_EQ(root.children[0].name, "inner");
    ASSERT_EQ(root.children[0].children.size(), 1u);
    EXPECT_EQ(root.children[0].children[0].ns, "urn:one");
    EXPECT_EQ(root.children[0].children[0].name, "leaf");
    EXPECT_EQ(root.children[1].ns, "urn:three");
}

TEST(ManifestXml, RejectsMalformedText) {
    const char* const cases[] = {
        "",
        "text",
        "<a>",
        "<a></b>",
        "<a/><b/>",
        "<a x='1' x='2'/>",
        "<a x=1/>",
        "<a x='1'y='2'/>",
        "<p:a/>",
        "<a x='&bogus;'/>",
        "<a x='<'/>",
        "<!DOCTYPE a><a/>",
        "<a><!-- unterminated </a>",
    };
    for (const char* text : cases) {
        EXPECT_THROW(parseXml(text), XmlError) << '"' << text << '"';
    }
}

} // namespace
