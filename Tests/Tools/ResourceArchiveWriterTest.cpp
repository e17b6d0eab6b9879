#include "../Core/StreamTestSupport.h"

#include "PackWriter.h"
#include "ResourceArchiveWriter.h"

#include "Core/Pack.h"
#include "Core/ResourceManager.h"

#include <gtest/gtest.h>

namespace
{
struct Asset
{
    const wchar_t *path, *name;
    std::string data;
    uint32_t type, value;
};

const std::vector<Asset> assets = {
    {L"Sounds\\gate.wav", L"SNDGateOK", std::string("\0\1\2\3", 4), 1, 2},
    {L"Hud\\oil.dds", L"HUDOil", "DDS oil", 2, 0},
    {L"Hud\\eliminated.dds", L"HUDEliminated", "", 2, 5}};

std::vector<uint8_t> archiveBytes()
{
    ResourceArchiveWriter writer;
    for (const Asset& a : assets)
        EXPECT_TRUE(writer.addEntry(String(a.path), String(a.name), a.data.data(), uint32_t(a.data.size()), a.type,
                                    a.value));
    FileArray bytes(4096);
    EXPECT_TRUE(writer.write(bytes));
    return std::vector<uint8_t>(bytes.memory(), bytes.memory() + bytes.size());
}

void expectLoaded(ResourceManager& manager)
{
    ASSERT_EQ(size_t(manager.entries.count()), assets.size());
    for (const Asset& a : assets) {
        ResourceManager::Entry& entry = manager.find(String(a.name));
        EXPECT_EQ(text(entry.path), a.path);
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(entry.data.memory()), entry.data.size()), a.data);
        EXPECT_EQ(entry.type, a.type);
        EXPECT_EQ(entry.value, a.value);
    }
}
}

TEST(ResourceArchiveWriterTest, ArchivesLoadBackAloneAndThroughAPackagesInnerPath)
{
    TempFolder folder;
    const std::vector<uint8_t> archive = archiveBytes();
    ASSERT_TRUE(writeBytes(folder.file(L"Resource.res"), archive));
    ResourceManager alone;
    ASSERT_TRUE(alone.load(String(folder.file(L"Resource.res").c_str())));
    expectLoaded(alone);

    PackWriter pack;
    ASSERT_TRUE(pack.addEntry(String(L"Resource\\Resource.res"), archive.data(), uint32_t(archive.size())));
    ASSERT_TRUE(pack.save(String(folder.file(L"Data.pack").c_str())));
    Pack::releaseCache();
    ResourceManager packed;
    ASSERT_TRUE(packed.load(String(folder.file(L"Data.pack:Resource\\Resource.res").c_str())));
    expectLoaded(packed);
    Pack::releaseCache();
}

TEST(ResourceArchiveWriterTest, RefusesEntriesTheArchiveCannotHold)
{
    ResourceArchiveWriter writer;
    EXPECT_FALSE(writer.addEntry(String(L"p"), String(L""), "x", 1, 1, 0));
    EXPECT_FALSE(writer.addEntry(String(std::wstring(9000, L'p').c_str()), String(L"Name"), "x", 1, 1, 0));
    EXPECT_EQ(writer.count(), 0u);
}

TEST(ResourceArchiveWriterTest, MutatedArchivesNeverBreakTheLoader)
{
    TempFolder folder;
    const std::vector<uint8_t> valid = archiveBytes();
    const std::wstring path = folder.file(L"fuzz.res");
    std::mt19937 random(1106);
    int withEntries = 0;
    for (int round = 0; round < 2500; ++round) {
        const std::vector<uint8_t> damaged = mutate(valid, random);
        ASSERT_TRUE(writeBytes(path, damaged));
        ResourceManager manager;
        manager.load(String(path.c_str()));
        ASSERT_LE(size_t(manager.entries.count()), damaged.size() / 4 + 1);
        for (auto* node = manager.entries.head(); node; node = node->next)
            EXPECT_LE(node->item->data.size() + node->item->name.length(), damaged.size());
        withEntries += manager.entries.count() > 0;
    }
    EXPECT_GT(withEntries, 0);
}
