#include "../Core/StreamTestSupport.h"

#include "PackWriter.h"

#include "Core/Pack.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace
{
std::string readAll(FileInterface& stream)
{
    std::string result;
    char chunk[512];
    uint32_t got;
    while ((got = stream.read(chunk, sizeof(chunk))) > 0 && got != FileInterface::readOnlyResult)
        result.append(chunk, got);
    return result;
}

std::string allByteValues()
{
    std::string bytes;
    for (int round = 0; round < 4; ++round)
        for (int b = 0; b < 256; ++b)
            bytes.push_back(char(b));
    return bytes;
}

class PackWriterTest : public ::testing::Test
{
protected:
    void SetUp() override { Pack::releaseCache(); }
    void TearDown() override { Pack::releaseCache(); }

    String entryPath(const std::wstring& pack, const wchar_t* inner) { return String((pack + L":" + inner).c_str()); }

    TempFolder folder;
};
}

TEST_F(PackWriterTest, EveryEntryReadsBackThroughTheGamesReader)
{
    const std::string binary = allByteValues();
    PackWriter writer;
    ASSERT_TRUE(writer.addEntry(String(L"box\\box.obj"), binary.data(), uint32_t(binary.size())));
    ASSERT_TRUE(writer.addEntry(String(L"empty"), nullptr, 0));
    FileArray source(16);
    source.write("from a stream", 13);
    ASSERT_TRUE(writer.addEntry(String(L"a/b.txt"), source));
    EXPECT_EQ(writer.count(), 3u);

    const std::wstring pack = folder.file(L"Things.pack");
    ASSERT_TRUE(writer.save(String(pack.c_str())));

    FileInterface* box = openFile(entryPath(pack, L"box\\box.obj"), 0, 1, 1);
    ASSERT_TRUE(box->isOpen);
    EXPECT_EQ(readAll(*box), binary);
    box->close();
    FileInterface* text = openFile(entryPath(pack, L"a/b.txt"), 0, 1, 1);
    ASSERT_TRUE(text->isOpen);
    EXPECT_EQ(readAll(*text), "from a stream");
    text->close();
    FileInterface* empty = openFile(entryPath(pack, L"empty"), 0, 1, 1);
    EXPECT_TRUE(empty->isOpen);
    EXPECT_EQ(empty->size(), 0u);
    empty->close();

    // Decoded, the file is the documented layout byte for byte.
    std::vector<uint8_t> stored = readBytes(pack);
    Coding::decode(stored.data(), stored.size());
    std::vector<uint8_t> expected;
    appendText(expected, "_PACK_");
    expected.push_back(0);
    appendU32(expected, 3);
    appendU32(expected, 11);
    appendText(expected, "box\\box.obj");
    appendU32(expected, uint32_t(binary.size()));
    expected.insert(expected.end(), binary.begin(), binary.end());
    appendU32(expected, 5);
    appendText(expected, "empty");
    appendU32(expected, 0);
    appendU32(expected, 7);
    appendText(expected, "a/b.txt");
    appendU32(expected, 13);
    appendText(expected, "from a stream");
    EXPECT_EQ(stored, expected);
}

TEST_F(PackWriterTest, AnEmptyPackageRoundTrips)
{
    PackWriter writer;
    const std::wstring pack = folder.file(L"empty.pack");
    ASSERT_TRUE(writer.save(String(pack.c_str())));
    Pack opened{String(pack.c_str())};
    EXPECT_TRUE(opened.isOpen);
    EXPECT_EQ(opened.directory()->entries.count(), 0);
}

TEST_F(PackWriterTest, RefusesNamesTheReaderCouldNotFind)
{
    PackWriter writer;
    EXPECT_TRUE(writer.addEntry(String(L"name"), "x", 1));
    EXPECT_FALSE(writer.addEntry(String(L"name"), "y", 1)) << "a second entry of one name could never be opened";
    EXPECT_FALSE(writer.addEntry(String(L""), "y", 1));
    EXPECT_FALSE(writer.addEntry(String(L"bad\u0378name"), "y", 1)) << "not representable in 8 bits";
    EXPECT_FALSE(writer.addEntry(String(L"null"), nullptr, 4));
    EXPECT_EQ(writer.count(), 1u);
    EXPECT_FALSE(writer.save(String(folder.file(L"no\\such\\folder.pack").c_str())));
}

// Damaged packages must fail cleanly: every entry that opens reads at most its
// size, and nothing crashes, hangs or allocates what the file does not hold.
TEST_F(PackWriterTest, MutatedPackagesNeverBreakTheReader)
{
    PackWriter writer;
    const std::string binary = allByteValues();
    writer.addEntry(String(L"first.bin"), binary.data(), uint32_t(binary.size()));
    writer.addEntry(String(L"second\\text.txt"), "some text", 9);
    writer.addEntry(String(L"third"), "", 0);
    FileArray bytes(4096);
    ASSERT_TRUE(writer.write(bytes));
    const std::vector<uint8_t> valid(bytes.memory(), bytes.memory() + bytes.size());
    std::vector<uint8_t> plain = valid;
    Coding::decode(plain.data(), plain.size());

    const std::wstring pack = folder.file(L"fuzz.pack");
    const wchar_t* names[] = {L"first.bin", L"second\\text.txt", L"third"};
    std::mt19937 random(6121);
    int opened = 0;
    for (int round = 0; round < 2500; ++round) {
        std::vector<uint8_t> damaged;
        if (round % 2) {
            damaged = mutate(plain, random);
            Coding::encode(damaged.data(), damaged.size());
        } else {
            damaged = mutate(valid, random);
        }
        ASSERT_TRUE(writeBytes(pack, damaged));
        Pack::releaseCache();
        {
            Pack whole{String(pack.c_str())};
            if (whole.isOpen) {
                for (auto* node = whole.directory()->entries.head(); node; node = node->next) {
                    ASSERT_LE(uint64_t(node->item->offset) + node->item->size, damaged.size());
                    Pack::File* entry = whole.openEntry(node->item->name);
                    ASSERT_NE(entry, nullptr);
                    EXPECT_LE(readAll(*entry).size(), node->item->size);
                    entry->seek(0, 2);
                    delete entry;
                }
            }
        }
        for (const wchar_t* name : names) {
            FileInterface* entry = openFile(entryPath(pack, name), 0, 1, 1);
            ASSERT_NE(entry, nullptr);
            if (entry->isOpen) {
                ++opened;
                EXPECT_LE(readAll(*entry).size(), entry->size());
            }
            entry->close();
        }
    }
    EXPECT_GT(opened, 0);
}
