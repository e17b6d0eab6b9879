#include "StreamTestSupport.h"

#include "Core/Pack.h"
#include "Core/ResourceManager.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace
{
std::wstring text(const String& s)
{
    return std::wstring(s.text(), size_t(s.length()));
}

void appendString(std::vector<uint8_t>& bytes, const char* s)
{
    appendU32(bytes, uint32_t(std::string(s).size()));
    appendText(bytes, s);
}

// One entry record as the archive stores it, ended by tag 0.
void appendEntry(std::vector<uint8_t>& bytes, const char* path, const char* name, const std::string& data,
                 uint32_t type, uint32_t value)
{
    appendU32(bytes, 1);
    appendString(bytes, path);
    appendU32(bytes, 2);
    appendString(bytes, name);
    appendU32(bytes, 3);
    appendU32(bytes, uint32_t(data.size()));
    bytes.insert(bytes.end(), data.begin(), data.end());
    appendU32(bytes, 4);
    appendU32(bytes, type);
    appendU32(bytes, 5);
    appendU32(bytes, value);
    appendU32(bytes, 0);
}

std::vector<uint8_t> archiveHead(uint32_t entryCount)
{
    std::vector<uint8_t> bytes;
    appendU32(bytes, 0); // header
    appendU32(bytes, 1);
    appendU32(bytes, entryCount);
    appendU32(bytes, 2);
    return bytes;
}

std::string dataOf(ResourceManager::Entry& entry)
{
    return std::string(reinterpret_cast<const char*>(entry.data.memory()), entry.data.size());
}

class ResourceManagerTest : public ::testing::Test
{
protected:
    String write(const wchar_t* name, const std::vector<uint8_t>& bytes)
    {
        writeBytes(folder.file(name), bytes);
        return String(folder.file(name).c_str());
    }

    TempFolder folder;
    ResourceManager manager;
};
}

TEST_F(ResourceManagerTest, LoadsEntriesAndFindsThemByExactName)
{
    std::vector<uint8_t> bytes = archiveHead(3);
    appendEntry(bytes, "Sounds\\start.wav", "SNDStart", "RIFF....", 1, 7);
    appendEntry(bytes, "Hud\\oil.dds", "HUDOil", "DDS ", 2, 0);
    appendEntry(bytes, "Sounds\\other.wav", "SNDStart", "second", 1, 8);
    appendU32(bytes, 0);
    EXPECT_TRUE(manager.load(write(L"Resource.res", bytes)));
    ASSERT_EQ(manager.entries.count(), 3);

    ResourceManager::Entry& start = manager.find(String(L"SNDStart"));
    EXPECT_EQ(text(start.path), L"Sounds\\start.wav");
    EXPECT_EQ(dataOf(start), "RIFF....") << "the first of two equal names wins";
    EXPECT_EQ(start.type, 1u);
    EXPECT_EQ(start.value, 7u);
    EXPECT_EQ(start.data.tell(), 0u);

    EXPECT_EQ(manager.find(String(L"HUDOil")).type, 2u);
    ResourceManager::Entry& lower = manager.find(String(L"sndstart"));
    EXPECT_EQ(lower.data.size(), 0u);
    EXPECT_EQ(lower.type, 0u);
    EXPECT_EQ(lower.name.length(), 0);
}

TEST_F(ResourceManagerTest, EntriesBeforeTheCountAndSparseRecords)
{
    std::vector<uint8_t> early;
    appendU32(early, 0);
    appendU32(early, 2); // entries before any count: none are read
    appendEntry(early, "p", "Early", "x", 1, 1);
    EXPECT_TRUE(manager.load(write(L"early.res", early)));
    EXPECT_EQ(manager.entries.count(), 0);

    std::vector<uint8_t> sparse = archiveHead(1);
    appendU32(sparse, 99); // unknown tag, no field
    appendU32(sparse, 2);
    appendString(sparse, "OnlyName");
    appendU32(sparse, 0);
    EXPECT_TRUE(manager.load(write(L"sparse.res", sparse)));
    ASSERT_EQ(manager.entries.count(), 1);
    ResourceManager::Entry& entry = manager.find(String(L"OnlyName"));
    EXPECT_EQ(entry.path.length(), 0);
    EXPECT_EQ(entry.data.size(), 0u);
    EXPECT_EQ(entry.type, 0u);
}

TEST_F(ResourceManagerTest, MissingArchiveKeepsWhatWasLoadedAndAnEmptyPathReloads)
{
    std::vector<uint8_t> bytes = archiveHead(1);
    appendEntry(bytes, "a", "Kept", "data", 1, 0);
    const String path = write(L"kept.res", bytes);
    EXPECT_TRUE(manager.load(path));
    EXPECT_FALSE(manager.load(String(folder.file(L"missing.res").c_str())));
    EXPECT_EQ(manager.entries.count(), 1);

    ResourceManager fresh;
    EXPECT_FALSE(fresh.load(String(folder.file(L"missing.res").c_str())));
    EXPECT_EQ(fresh.find(String(L"Kept")).data.size(), 0u);

    EXPECT_TRUE(manager.load(path));
    EXPECT_TRUE(manager.load(String()));
    EXPECT_EQ(text(manager.path()), text(path));
    EXPECT_EQ(manager.entries.count(), 1);
}

TEST_F(ResourceManagerTest, ShortAndOversizedArchivesEndCleanly)
{
    std::vector<uint8_t> bytes = archiveHead(2);
    appendEntry(bytes, "a", "First", "first data", 1, 0);
    appendEntry(bytes, "b", "Second", "second data", 1, 0);
    // Cut inside the second entry's data block: the first entry stays.
    std::vector<uint8_t> cut(bytes.begin(), bytes.end() - 25);
    EXPECT_TRUE(manager.load(write(L"cut.res", cut)));
    EXPECT_EQ(dataOf(manager.find(String(L"First"))), "first data");
    EXPECT_EQ(manager.find(String(L"Second")).data.size(), 0u);

    // A huge entry count over a few bytes makes no more entries than records fit.
    std::vector<uint8_t> huge = archiveHead(0xFFFFFFFFu);
    appendU32(huge, 0);
    appendU32(huge, 0);
    EXPECT_TRUE(manager.load(write(L"huge.res", huge)));
    EXPECT_LE(manager.entries.count(), 2);

    // A data block declaring gigabytes is refused without allocating them.
    std::vector<uint8_t> block = archiveHead(1);
    appendU32(block, 2);
    appendString(block, "Big");
    appendU32(block, 3);
    appendU32(block, 0xFFFFFF00u);
    appendText(block, "tiny");
    EXPECT_TRUE(manager.load(write(L"block.res", block)));
    EXPECT_EQ(manager.find(String(L"Big")).data.size(), 0u);
    EXPECT_EQ(manager.find(String(L"Big")).data.capacity(), 0u);
}

TEST_F(ResourceManagerTest, LoadsFromInsideAPackage)
{
    std::vector<uint8_t> archive = archiveHead(1);
    appendEntry(archive, "x", "Packed", "packed bytes", 1, 3);
    std::vector<uint8_t> package;
    appendText(package, "_PACK_");
    package.push_back(0);
    appendU32(package, 1);
    appendString(package, "Resource\\Resource.res");
    appendU32(package, uint32_t(archive.size()));
    package.insert(package.end(), archive.begin(), archive.end());
    Coding::encode(package.data(), package.size());
    writeBytes(folder.file(L"Data.pack"), package);

    Pack::releaseCache();
    EXPECT_TRUE(manager.load(String((folder.file(L"Data.pack") + L":Resource\\Resource.res").c_str())));
    EXPECT_EQ(dataOf(manager.find(String(L"Packed"))), "packed bytes");
    Pack::releaseCache();
}
