#include "StreamTestSupport.h"

#include "Core/ResourceManager.h"

#include <gtest/gtest.h>

namespace
{
// One entry record as the archive stores it, with a tag the reader does not know (no field).
void appendEntry(std::vector<uint8_t>& bytes, const std::string& name, const std::string& data, uint32_t type)
{
    appendU32(bytes, 1);
    appendString(bytes, "Sounds\\" + name);
    appendU32(bytes, 99);
    appendU32(bytes, 2);
    appendString(bytes, name);
    appendU32(bytes, 3);
    appendString(bytes, data);
    for (uint32_t value : {4u, type, 0u})
        appendU32(bytes, value);
}

std::string dataOf(ResourceManager::Entry& entry)
{
    return std::string(reinterpret_cast<const char*>(entry.data.memory()), entry.data.size());
}
}

TEST(ResourceManagerTest, FindsTheFirstOfAnExactNameSkipsARefusedEntryAndKeepsWhatWasReadBeforeADamage)
{
    TempFolder folder;
    const String path(folder.file(L"a.res").c_str());
    std::vector<uint8_t> bytes;
    for (uint32_t value : {0u, 1u, 5u, 2u}) // header, entry count 5, entries
        appendU32(bytes, value);
    // A path longer than a stored String may be: that entry alone is left out.
    appendEntry(bytes, std::string(9000, 'p'), "long", 1);
    appendEntry(bytes, "SNDStart", "RIFF....", 1);
    appendEntry(bytes, "HUDOil", "DDS ", 2);
    appendEntry(bytes, "SNDStart", "second", 1);
    appendEntry(bytes, "Cut", "never whole", 1);
    bytes.resize(bytes.size() - 15); // inside the last entry's data block

    ASSERT_TRUE(writeBytes(folder.file(L"a.res"), bytes));
    ResourceManager manager;
    ASSERT_TRUE(manager.load(path));
    EXPECT_EQ(dataOf(manager.find(String(L"SNDStart"))), "RIFF....");
    EXPECT_EQ(text(manager.find(String(L"SNDStart")).path), L"Sounds\\SNDStart");
    EXPECT_EQ(manager.find(String(L"HUDOil")).type, 2u);
    EXPECT_EQ(manager.find(String(L"sndstart")).name.length(), 0) << "names compare exactly";
    EXPECT_EQ(manager.find(String(L"Cut")).data.size(), 0u);
    EXPECT_EQ(manager.entries.count(), 4);
    EXPECT_EQ(manager.find(String(std::wstring(9000, L'p').c_str())).data.size(), 0u);

    const int32_t loaded = manager.entries.count();
    EXPECT_FALSE(manager.load(String(folder.file(L"missing.res").c_str())));
    EXPECT_EQ(manager.entries.count(), loaded);
}

TEST(ResourceManagerTest, SoundEntriesGiveReferencesOverTheirOwnBytes)
{
    ResourceManager::Entry sound;
    sound.path = String(L"Sounds\\Gate.wav");
    sound.type = ResourceManager::typeSound;
    sound.value = 1;
    sound.data.write("RIFFdata", 8);
    Audio::FileRef* ref = ResourceManager::createSoundSource(sound);
    ASSERT_NE(ref, nullptr);
    EXPECT_EQ(ref->source, &sound.data);
    EXPECT_EQ(sound.data.tell(), 0u) << "rewound";
    EXPECT_EQ(ref->type, 1u) << "the entry's value";
    EXPECT_EQ(text(ref->name), L"Gate.wav");
    EXPECT_EQ(ref->closeSource, 0u);
    delete ref;
    EXPECT_EQ(sound.data.size(), 8u) << "the entry keeps its bytes";

    ResourceManager::Entry picture;
    picture.type = 2;
    EXPECT_EQ(ResourceManager::createSoundSource(picture), nullptr);
}
