#include "StreamTestSupport.h"

#include "Core/Directory.h"
#include "Core/Pack.h"

#include <gtest/gtest.h>

#include <utility>

namespace
{
// Package bytes laid out by hand, before the substitution.
std::vector<uint8_t> plainPackage(const std::vector<std::pair<std::string, std::string>>& entries)
{
    std::vector<uint8_t> bytes = {'_', 'P', 'A', 'C', 'K', '_', 0};
    appendU32(bytes, uint32_t(entries.size()));
    for (const auto& [name, data] : entries) {
        appendString(bytes, name);
        appendString(bytes, data);
    }
    return bytes;
}

std::vector<uint8_t> encoded(std::vector<uint8_t> bytes)
{
    Coding::encode(bytes.data(), bytes.size());
    return bytes;
}
}

TEST(PackPathTest, SplitsAtTheFirstPackMark)
{
    const wchar_t* cases[][3] = {{L"Data\\Things.pack:box\\box.obj", L"Data\\Things.pack", L"box\\box.obj"},
                                 {L"a.pack:b.pack:c", L"a.pack", L"b.pack:c"},
                                 {L"Data\\Menu\\Menu.mnu", L"Data\\Menu\\Menu.mnu", L""}};
    for (const auto& c : cases) {
        String package, inner;
        splitPackPath(String(c[0]), package, inner);
        EXPECT_EQ(text(package), c[1]);
        EXPECT_EQ(text(inner), c[2]);
    }
}

TEST(PackTest, InnerPathsOpenEntriesThatReadAndSeekOnlyInsideThemselves)
{
    TempFolder folder;
    ASSERT_TRUE(writeBytes(folder.file(L"x.pack"),
                           encoded(plainPackage({{"a/b.txt", "inner text"}, {"b", std::string(50, 'b')}, {"e", ""}}))));
    EXPECT_EQ(contentAt(folder.file(L"x.pack:a/b.txt")), "inner text");
    EXPECT_EQ(contentAt(folder.file(L"x.pack:e")), "");
    EXPECT_EQ(contentAt(folder.file(L"x.pack:A/b.txt")), "<closed>") << "names compare exactly";
    EXPECT_EQ(contentAt(folder.file(L"none.pack:a")), "<closed>");

    Pack pack(String(folder.file(L"x.pack").c_str()));
    ASSERT_TRUE(pack.isOpen);
    Pack::File* b = pack.openEntry(String(L"b"));
    ASSERT_TRUE(b->isOpen);
    char buffer[100];
    EXPECT_EQ(b->seek(40, 0), 40u);
    EXPECT_EQ(b->read(buffer, 100), 10u);
    EXPECT_EQ(b->seek(0, 2), 49u);
    EXPECT_EQ(b->seek(-100, 1), 0u);
    EXPECT_EQ(b->seek(500, 0), 50u);
    EXPECT_EQ(b->read(buffer, 1), 0u);
    EXPECT_EQ(b->write("x", 1), FileInterface::readOnlyResult);
    delete b;
}

// Bytes as the content builder's packages hold them: a package with the
// entry "a" holding "hi", every byte through the fixed substitution.
TEST(PackTest, KnownBytesOpenAndNamesBeyondTheLimitAreRefused)
{
    TempFolder folder;
    const std::vector<uint8_t> known = {0xD2, 0xFD, 0xE4, 0xB3, 0xF6, 0xD2, 0x7C, 0xE6, 0x7C, 0x7C, 0x7C,
                                        0xE6, 0x7C, 0x7C, 0x7C, 0xE1, 0x0B, 0x7C, 0x7C, 0x7C, 0xBB, 0x24};
    ASSERT_TRUE(writeBytes(folder.file(L"k.pack"), known));
    EXPECT_EQ(contentAt(folder.file(L"k.pack:a")), "hi");
    // Every cut of it is refused, also one inside the entry count.
    for (size_t length = 0; length < known.size(); ++length) {
        const std::wstring cut = folder.file(L"cut" + std::to_wstring(length) + L".pack");
        ASSERT_TRUE(writeBytes(cut, std::vector<uint8_t>(known.begin(), known.begin() + length)));
        EXPECT_FALSE(Pack(String(cut.c_str())).isOpen) << length;
    }

    // A name the file holds but longer than any inner path may be.
    for (const auto& [length, opens] : {std::pair{Pack::maxNameLength, true}, {Pack::maxNameLength + 1, false}}) {
        const std::string name(length, 'n');
        const std::wstring file = folder.file(L"n" + std::to_wstring(length) + L".pack");
        ASSERT_TRUE(writeBytes(file, encoded(plainPackage({{name, "x"}, {"after", "y"}}))));
        EXPECT_EQ(contentAt(file + L":after"), opens ? "y" : "<closed>") << length;
    }
}

TEST(PackTest, APackageThatCannotBeWrittenStillOpens)
{
    TempFolder folder;
    const std::wstring file = folder.file(L"r.pack");
    ASSERT_TRUE(writeBytes(file, encoded(plainPackage({{"data", "read only"}}))));
    ASSERT_TRUE(SetFileAttributesW(file.c_str(), FILE_ATTRIBUTE_READONLY));
    // Another reader that refuses to share write access: only a read-only open succeeds.
    HANDLE reader = CreateFileW(file.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(reader, INVALID_HANDLE_VALUE);
    const std::string content = contentAt(file + L":data");
    CloseHandle(reader);
    SetFileAttributesW(file.c_str(), FILE_ATTRIBUTE_NORMAL);
    EXPECT_EQ(content, "read only");
}

TEST(DirectoryTest, ListsFilesAndFoldersAndCreatesMissingOnes)
{
    TempFolder folder;
    const String made(folder.file(L"made").c_str());
    EXPECT_FALSE(Directory(made, false).isOpen);
    EXPECT_TRUE(Directory(made, true).isOpen);
    writeBytes(folder.file(L"seven.bin"), std::vector<uint8_t>(7));
    writeBytes(folder.file(L"hidden.bin"), std::vector<uint8_t>(3));
    SetFileAttributesW(folder.file(L"hidden.bin").c_str(), FILE_ATTRIBUTE_HIDDEN);

    Directory listing(String(folder.path().c_str()), false);
    ASSERT_EQ(listing.files.count(), 2);
    ASSERT_EQ(listing.folders.count(), 1);
    EXPECT_EQ(text(listing.folders.head()->item->name), L"made");
    // Every entry names the folder it was found in, as given and absolute.
    const auto expectFolders = [&](const auto& entry) {
        EXPECT_EQ(text(entry.folder), folder.path()) << text(entry.name);
        EXPECT_EQ(text(entry.fullFolder), folder.path()) << text(entry.name);
    };
    expectFolders(*listing.folders.head()->item);
    for (auto* node = listing.files.head(); node; node = node->next)
        expectFolders(*node->item);
    for (auto* node = listing.files.head(); node; node = node->next) {
        const bool hidden = text(node->item->name) == L"hidden.bin";
        EXPECT_EQ(node->item->fileSize, hidden ? 3u : 7u);
        EXPECT_EQ(node->item->hidden, hidden ? 1u : 0u);
    }
}
