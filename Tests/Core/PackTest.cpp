#include "StreamTestSupport.h"

#include "Core/Directory.h"
#include "Core/FileArray.h"
#include "Core/Pack.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace
{
std::wstring text(const String& s)
{
    return std::wstring(s.text(), size_t(s.length()));
}

// Package bytes in plain form, laid out by hand as the format says.
std::vector<uint8_t> plainPackage(const std::vector<std::pair<std::string, std::string>>& entries)
{
    std::vector<uint8_t> bytes;
    appendText(bytes, "_PACK_");
    bytes.push_back(0);
    appendU32(bytes, uint32_t(entries.size()));
    for (const auto& [name, data] : entries) {
        appendU32(bytes, uint32_t(name.size()));
        appendText(bytes, name.c_str());
        appendU32(bytes, uint32_t(data.size()));
        bytes.insert(bytes.end(), data.begin(), data.end());
    }
    return bytes;
}

std::vector<uint8_t> encoded(std::vector<uint8_t> bytes)
{
    Coding::encode(bytes.data(), bytes.size());
    return bytes;
}

std::string readAll(FileInterface& stream)
{
    std::string result;
    char chunk[64];
    uint32_t got;
    while ((got = stream.read(chunk, sizeof(chunk))) > 0 && got != FileInterface::readOnlyResult)
        result.append(chunk, got);
    return result;
}

// Each test starts with an empty package cache so that paths of earlier tests
// cannot answer for new files.
class PackTest : public ::testing::Test
{
protected:
    void SetUp() override { Pack::releaseCache(); }
    void TearDown() override { Pack::releaseCache(); }

    String packPath(const wchar_t* name) { return String(folder.file(name).c_str()); }
    String path(const wchar_t* packName, const wchar_t* inner)
    {
        return String((folder.file(packName) + L":" + inner).c_str());
    }

    TempFolder folder;
};
}

TEST(PackPathTest, SplitsAtTheFirstPackMark)
{
    String package, inner;
    splitPackPath(String(L"Data\\Things.pack:box\\box.obj"), package, inner);
    EXPECT_EQ(text(package), L"Data\\Things.pack");
    EXPECT_EQ(text(inner), L"box\\box.obj");

    splitPackPath(String(L"a.pack:b.pack:c"), package, inner);
    EXPECT_EQ(text(package), L"a.pack");
    EXPECT_EQ(text(inner), L"b.pack:c");

    splitPackPath(String(L"Data\\Menu\\Menu.mnu"), package, inner);
    EXPECT_EQ(text(package), L"Data\\Menu\\Menu.mnu");
    EXPECT_EQ(inner.length(), 0);
}

TEST_F(PackTest, OpensEntriesByExactInnerPath)
{
    ASSERT_TRUE(writeBytes(folder.file(L"x.pack"),
                           encoded(plainPackage({{"first.txt", "one"}, {"a/b.txt", "inner text"}, {"empty", ""}}))));
    FileInterface* entry = openFile(path(L"x.pack", L"a/b.txt"), 0, 1, 1);
    ASSERT_NE(entry, nullptr);
    ASSERT_TRUE(entry->isOpen);
    EXPECT_TRUE(entry->deleteOnClose);
    EXPECT_EQ(entry->size(), 10u);
    EXPECT_EQ(readAll(*entry), "inner text");
    EXPECT_EQ(entry->write("x", 1), FileInterface::readOnlyResult);
    entry->close();

    FileInterface* wrongCase = openFile(path(L"x.pack", L"A/b.txt"), 0, 1, 1);
    ASSERT_NE(wrongCase, nullptr);
    EXPECT_FALSE(wrongCase->isOpen);
    char c;
    EXPECT_EQ(wrongCase->read(&c, 1), 0u);
    wrongCase->close();

    FileInterface* empty = openFile(path(L"x.pack", L"empty"), 0, 1, 1);
    EXPECT_TRUE(empty->isOpen);
    EXPECT_EQ(empty->size(), 0u);
    EXPECT_EQ(readAll(*empty), "");
    empty->close();
}

TEST_F(PackTest, ReadsAndSeeksStayInsideTheEntry)
{
    ASSERT_TRUE(writeBytes(folder.file(L"s.pack"),
                           encoded(plainPackage({{"a", "AAAA"}, {"b", std::string(50, 'b')}, {"c", "CCCC"}}))));
    Pack pack(packPath(L"s.pack"));
    ASSERT_TRUE(pack.isOpen);
    Pack::File* entry = pack.openEntry(String(L"b"));
    ASSERT_TRUE(entry->isOpen);
    EXPECT_EQ(entry->seek(40, 0), 40u);
    char buffer[100];
    EXPECT_EQ(entry->read(buffer, 100), 10u) << "10 bytes before the end of the entry";
    EXPECT_EQ(entry->seek(0, 2), 49u);
    EXPECT_EQ(entry->seek(5, 2), 44u);
    EXPECT_EQ(entry->seek(-100, 1), 0u);
    EXPECT_EQ(entry->tell(), 0u);
    EXPECT_EQ(entry->seek(500, 0), 50u);
    EXPECT_EQ(entry->read(buffer, 1), 0u);
    EXPECT_EQ(entry->read(nullptr, 1), FileInterface::readOnlyResult);
    entry->close();
    delete entry;

    Pack::File* last = pack.openEntry(String(L"c"));
    EXPECT_EQ(readAll(*last), "CCCC");
    delete last;
}

TEST_F(PackTest, AnEmptyPackageOpensWithNoEntries)
{
    ASSERT_TRUE(writeBytes(folder.file(L"e.pack"), encoded(plainPackage({}))));
    Pack pack(packPath(L"e.pack"));
    EXPECT_TRUE(pack.isOpen);
    EXPECT_EQ(pack.directory()->entries.count(), 0);
    FileInterface* entry = openFile(path(L"e.pack", L"anything"), 0, 1, 1);
    EXPECT_FALSE(entry->isOpen);
    entry->close();
}

TEST_F(PackTest, TheDirectoryIsParsedOncePerRun)
{
    ASSERT_TRUE(writeBytes(folder.file(L"c.pack"), encoded(plainPackage({{"one", "1"}, {"two", "22"}}))));
    FileInterface* first = openFile(path(L"c.pack", L"one"), 0, 1, 1);
    ASSERT_TRUE(first->isOpen);
    first->close();
    // Spoil the stored mark: a second open must not read it again.
    std::vector<uint8_t> bytes = readBytes(folder.file(L"c.pack"));
    bytes[0] ^= 0xFF;
    ASSERT_TRUE(writeBytes(folder.file(L"c.pack"), bytes));
    FileInterface* second = openFile(path(L"c.pack", L"two"), 0, 1, 1);
    ASSERT_TRUE(second->isOpen);
    EXPECT_EQ(readAll(*second), "22");
    second->close();

    Pack::releaseCache();
    FileInterface* afterRelease = openFile(path(L"c.pack", L"two"), 0, 1, 1);
    EXPECT_FALSE(afterRelease->isOpen) << "a fresh parse sees the spoiled mark";
    afterRelease->close();
}

TEST_F(PackTest, APackageThatCannotBeWrittenStillOpens)
{
    const std::wstring file = folder.file(L"r.pack");
    ASSERT_TRUE(writeBytes(file, encoded(plainPackage({{"data", "read only"}}))));
    ASSERT_TRUE(SetFileAttributesW(file.c_str(), FILE_ATTRIBUTE_READONLY));
    // Another reader that refuses to share write access: only a read-only open succeeds.
    HANDLE reader = CreateFileW(file.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(reader, INVALID_HANDLE_VALUE);
    FileInterface* entry = openFile(path(L"r.pack", L"data"), 0, 1, 1);
    const bool opened = entry->isOpen;
    const std::string content = readAll(*entry);
    entry->close();
    CloseHandle(reader);
    EXPECT_TRUE(opened);
    EXPECT_EQ(content, "read only");
}

TEST_F(PackTest, DamagedPackagesAreRefused)
{
    const std::vector<uint8_t> valid = plainPackage({{"name", "data bytes"}});
    auto refused = [&](const std::vector<uint8_t>& plain, const wchar_t* file) {
        writeBytes(folder.file(file), encoded(plain));
        Pack pack(packPath(file));
        FileInterface* entry = openFile(path(file, L"name"), 0, 1, 1);
        const bool closed = !pack.isOpen && entry && !entry->isOpen;
        if (entry)
            entry->close();
        return closed;
    };

    // Stored without the substitution, the mark reads wrong.
    {
        writeBytes(folder.file(L"plain.pack"), valid);
        Pack pack(packPath(L"plain.pack"));
        EXPECT_FALSE(pack.isOpen);
    }
    std::vector<uint8_t> mark = valid;
    mark[6] = 'X';
    EXPECT_TRUE(refused(mark, L"mark.pack"));

    std::vector<uint8_t> count = valid;
    count[7] = 0xFF, count[8] = 0xFF, count[9] = 0xFF, count[10] = 0xFF;
    EXPECT_TRUE(refused(count, L"count.pack"));

    std::vector<uint8_t> nameLength = valid;
    nameLength[11] = 0xF0, nameLength[14] = 0x7F;
    EXPECT_TRUE(refused(nameLength, L"name.pack"));

    std::vector<uint8_t> dataSize = valid;
    dataSize[19] = 0x00, dataSize[20] = 0x00, dataSize[21] = 0x01; // 65536 declared, 10 present
    EXPECT_TRUE(refused(dataSize, L"size.pack"));

    std::vector<uint8_t> truncated(valid.begin(), valid.end() - 1);
    EXPECT_TRUE(refused(truncated, L"cut.pack"));

    EXPECT_TRUE(refused(std::vector<uint8_t>(valid.begin(), valid.begin() + 5), L"short.pack"));
    EXPECT_TRUE(refused({}, L"zero.pack"));

    // Nothing refused stays in the cache.
    EXPECT_EQ(Pack::findCached(packPath(L"cut.pack")), nullptr);
}

TEST_F(PackTest, MissingPackagesAndPathsWithoutAPackage)
{
    FileInterface* missing = openFile(path(L"none.pack", L"a"), 0, 1, 1);
    ASSERT_NE(missing, nullptr);
    EXPECT_FALSE(missing->isOpen);
    missing->close();

    Pack notAPackage(String(folder.file(L"file.bin").c_str()));
    EXPECT_FALSE(notAPackage.isOpen);
}

TEST(DirectoryTest, PatternsUseForwardSlashesAndOneWildcard)
{
    EXPECT_EQ(text(Directory::makePattern(String(L"Objects\\"))), L"Objects/*");
    EXPECT_EQ(text(Directory::makePattern(String(L"Data\\Maps"))), L"Data/Maps/*");
    EXPECT_EQ(text(Directory::makePattern(String(L"Data\\\\Maps\\"))), L"Data/Maps/*");
}

TEST(DirectoryTest, ListsFilesAndFoldersAndCreatesMissingOnes)
{
    TempFolder folder;
    Directory empty(String(folder.path().c_str()), false);
    EXPECT_TRUE(empty.isOpen);
    EXPECT_EQ(empty.files.count(), 0);
    EXPECT_EQ(empty.folders.count(), 0);

    const std::wstring made = folder.file(L"made");
    Directory notThere(String(made.c_str()), false);
    EXPECT_FALSE(notThere.isOpen);
    EXPECT_EQ(GetFileAttributesW(made.c_str()), INVALID_FILE_ATTRIBUTES);
    Directory created(String(made.c_str()), true);
    EXPECT_TRUE(created.isOpen);
    EXPECT_NE(GetFileAttributesW(made.c_str()), INVALID_FILE_ATTRIBUTES);

    writeBytes(folder.file(L"seven.bin"), std::vector<uint8_t>(7));
    writeBytes(folder.file(L"hidden.bin"), std::vector<uint8_t>(3));
    SetFileAttributesW(folder.file(L"hidden.bin").c_str(), FILE_ATTRIBUTE_HIDDEN);
    Directory full(String(folder.path().c_str()), false);
    ASSERT_EQ(full.files.count(), 2);
    ASSERT_EQ(full.folders.count(), 1);
    EXPECT_EQ(text(full.folders.head()->item->name), L"made");
    for (auto* node = full.files.head(); node; node = node->next) {
        const FileInfo& info = *node->item;
        EXPECT_EQ(text(info.folder), folder.path());
        if (text(info.name) == L"seven.bin") {
            EXPECT_EQ(info.fileSize, 7u);
            EXPECT_EQ(info.hidden, 0u);
        } else {
            EXPECT_EQ(text(info.name), L"hidden.bin");
            EXPECT_EQ(info.hidden, 1u);
        }
    }
}
