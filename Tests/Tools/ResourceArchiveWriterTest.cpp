#include "../Core/StreamTestSupport.h"

#include "PackWriter.h"
#include "ResourceArchiveWriter.h"

#include "Core/Pack.h"
#include "Core/ResourceManager.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace
{
std::wstring text(const String& s)
{
    return std::wstring(s.text(), size_t(s.length()));
}

std::string dataOf(ResourceManager::Entry& entry)
{
    return std::string(reinterpret_cast<const char*>(entry.data.memory()), entry.data.size());
}

struct Asset
{
    const wchar_t* path;
    const wchar_t* name;
    std::string data;
    uint32_t type;
    uint32_t value;
};

std::vector<Asset> gameAssets()
{
    return {
        {L"Sounds\\start.ogg", L"SNDStart", "OggS start", 1, 0},
        {L"Sounds\\ding.wav", L"SNDDing", "RIFF ding", 1, 1},
        {L"Sounds\\gate.wav", L"SNDGateOK", std::string("\0\1\2\3", 4), 1, 2},
        {L"Hud\\oil.dds", L"HUDOil", "DDS oil", 2, 0},
        {L"Hud\\eliminated.dds", L"HUDEliminated", "", 2, 5},
    };
}

ResourceArchiveWriter writerOf(const std::vector<Asset>& assets)
{
    ResourceArchiveWriter writer;
    for (const Asset& asset : assets)
        EXPECT_TRUE(writer.addEntry(String(asset.path), String(asset.name), asset.data.data(),
                                    uint32_t(asset.data.size()), asset.type, asset.value));
    return writer;
}

void expectLoaded(ResourceManager& manager, const std::vector<Asset>& assets)
{
    ASSERT_EQ(size_t(manager.entries.count()), assets.size());
    for (const Asset& asset : assets) {
        ResourceManager::Entry& entry = manager.find(String(asset.name));
        EXPECT_EQ(text(entry.name), asset.name);
        EXPECT_EQ(text(entry.path), asset.path);
        EXPECT_EQ(dataOf(entry), asset.data);
        EXPECT_EQ(entry.type, asset.type);
        EXPECT_EQ(entry.value, asset.value);
    }
}
}

TEST(ResourceArchiveWriterTest, EveryEntryLoadsBackIntoTheResourceManager)
{
    TempFolder folder;
    const std::vector<Asset> assets = gameAssets();
    const ResourceArchiveWriter writer = writerOf(assets);
    const std::wstring path = folder.file(L"Resource.res");
    ASSERT_TRUE(writer.save(String(path.c_str())));

    ResourceManager manager;
    ASSERT_TRUE(manager.load(String(path.c_str())));
    expectLoaded(manager, assets);

    // The records in the documented order: header, count, entries, end.
    const std::vector<uint8_t> stored = readBytes(path);
    std::vector<uint8_t> head;
    appendU32(head, 0);
    appendU32(head, 1);
    appendU32(head, uint32_t(assets.size()));
    appendU32(head, 2);
    appendU32(head, 1);
    appendU32(head, 16);
    appendText(head, "Sounds\\start.ogg");
    ASSERT_GT(stored.size(), head.size());
    EXPECT_EQ(std::vector<uint8_t>(stored.begin(), stored.begin() + head.size()), head);
    EXPECT_EQ(std::vector<uint8_t>(stored.end() - 8, stored.end()), (std::vector<uint8_t>(8, 0)))
        << "the last record's tag 0, then the archive's";
}

TEST(ResourceArchiveWriterTest, AnArchiveInsideAPackageLoadsThroughItsInnerPath)
{
    TempFolder folder;
    const std::vector<Asset> assets = gameAssets();
    FileArray archive(4096);
    ASSERT_TRUE(writerOf(assets).write(archive));
    PackWriter pack;
    ASSERT_TRUE(pack.addEntry(String(L"Resource\\Resource.res"), archive));
    const std::wstring packPath = folder.file(L"Data.pack");
    ASSERT_TRUE(pack.save(String(packPath.c_str())));

    Pack::releaseCache();
    ResourceManager manager;
    ASSERT_TRUE(manager.load(String((packPath + L":Resource\\Resource.res").c_str())));
    expectLoaded(manager, assets);
    Pack::releaseCache();
}

TEST(ResourceArchiveWriterTest, RefusesEntriesTheArchiveCannotHold)
{
    ResourceArchiveWriter writer;
    EXPECT_FALSE(writer.addEntry(String(L"p"), String(L""), "x", 1, 1, 0));
    EXPECT_FALSE(writer.addEntry(String(std::wstring(9000, L'p').c_str()), String(L"Name"), "x", 1, 1, 0));
    EXPECT_FALSE(writer.addEntry(String(L"p"), String(L"Name"), nullptr, 3, 1, 0));
    EXPECT_EQ(writer.count(), 0u);
}

TEST(ResourceArchiveWriterTest, MutatedArchivesNeverBreakTheLoader)
{
    TempFolder folder;
    FileArray bytes(4096);
    ASSERT_TRUE(writerOf(gameAssets()).write(bytes));
    const std::vector<uint8_t> valid(bytes.memory(), bytes.memory() + bytes.size());
    const std::wstring path = folder.file(L"fuzz.res");
    std::mt19937 random(1106);
    int withEntries = 0;
    for (int round = 0; round < 2500; ++round) {
        const std::vector<uint8_t> damaged = mutate(valid, random);
        ASSERT_TRUE(writeBytes(path, damaged));
        ResourceManager manager;
        manager.load(String(path.c_str()));
        ASSERT_LE(size_t(manager.entries.count()), damaged.size() / 4 + 1);
        for (auto* node = manager.entries.head(); node; node = node->next) {
            EXPECT_LE(node->item->data.size(), damaged.size());
            EXPECT_LE(size_t(node->item->name.length()), damaged.size());
        }
        if (manager.entries.count() > 0)
            ++withEntries;
        EXPECT_EQ(manager.find(String(L"NoSuchName")).data.size(), 0u);
    }
    EXPECT_GT(withEntries, 0);
}
