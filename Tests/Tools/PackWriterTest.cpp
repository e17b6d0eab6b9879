#include "../Core/StreamTestSupport.h"

#include "PackWriter.h"

#include "Core/Pack.h"

#include <gtest/gtest.h>

namespace
{
const std::string binary = [] {
    std::string bytes;
    for (int b = 0; b < 1024; ++b)
        bytes.push_back(char(b));
    return bytes;
}();

PackWriter sampleWriter()
{
    PackWriter writer;
    EXPECT_TRUE(writer.addEntry(String(L"box\\box.obj"), binary.data(), uint32_t(binary.size())));
    EXPECT_TRUE(writer.addEntry(String(L"empty"), nullptr, 0));
    FileArray source(16);
    source.write("from a stream", 13);
    EXPECT_TRUE(writer.addEntry(String(L"a/b.txt"), source));
    return writer;
}
}

TEST(PackWriterTest, EveryEntryReadsBackThroughTheGamesReader)
{
    TempFolder folder;
    ASSERT_TRUE(sampleWriter().save(String(folder.file(L"Things.pack").c_str())));
    EXPECT_EQ(contentAt(folder.file(L"Things.pack:box\\box.obj")), binary);
    EXPECT_EQ(contentAt(folder.file(L"Things.pack:a/b.txt")), "from a stream");
    EXPECT_EQ(contentAt(folder.file(L"Things.pack:empty")), "");

    ASSERT_TRUE(PackWriter().save(String(folder.file(L"empty.pack").c_str())));
    Pack empty{String(folder.file(L"empty.pack").c_str())};
    EXPECT_TRUE(empty.isOpen);
    EXPECT_EQ(empty.directory()->entries.count(), 0);
}

TEST(PackWriterTest, RefusesNamesTheReaderCouldNotFind)
{
    PackWriter writer;
    EXPECT_TRUE(writer.addEntry(String(L"name"), "x", 1));
    EXPECT_FALSE(writer.addEntry(String(L"name"), "y", 1)) << "a second entry of one name could never be opened";
    EXPECT_FALSE(writer.addEntry(String(L""), "y", 1));
    EXPECT_FALSE(writer.addEntry(String(L"bad\u0378name"), "y", 1)) << "not representable in 8 bits";
    EXPECT_FALSE(writer.addEntry(String(std::wstring(Pack::maxNameLength + 1, L'n').c_str()), "y", 1));
    EXPECT_TRUE(writer.addEntry(String(std::wstring(Pack::maxNameLength, L'n').c_str()), "y", 1));
    EXPECT_EQ(writer.count(), 2u);
}

// A damaged package is refused, or every entry lies inside the file and reads
// at most its size; nothing crashes, hangs or allocates what the file lacks.
TEST(PackWriterTest, MutatedPackagesNeverBreakTheReader)
{
    TempFolder folder;
    FileArray bytes(4096);
    ASSERT_TRUE(sampleWriter().write(bytes));
    const std::vector<uint8_t> valid(bytes.memory(), bytes.memory() + bytes.size());
    std::vector<uint8_t> plain = valid;
    Coding::decode(plain.data(), plain.size());

    const std::wstring pack = folder.file(L"fuzz.pack");
    std::mt19937 random(6121);
    int opened = 0;
    for (int round = 0; round < 2500; ++round) {
        // Odd rounds damage the decoded bytes, so that counts and sizes get hit directly.
        std::vector<uint8_t> damaged = mutate(round % 2 ? plain : valid, random);
        if (round % 2)
            Coding::encode(damaged.data(), damaged.size());
        ASSERT_TRUE(writeBytes(pack, damaged));
        Pack::releaseCache();
        Pack whole{String(pack.c_str())};
        opened += whole.isOpen;
        ASSERT_EQ(Pack::findCached(String(pack.c_str())) != nullptr, whole.isOpen) << "a refused package is not cached";
        for (auto* node = whole.isOpen ? whole.directory()->entries.head() : nullptr; node; node = node->next) {
            ASSERT_LE(uint64_t(node->item->offset) + node->item->size, damaged.size());
            Pack::File* stream = whole.openEntry(node->item->name);
            EXPECT_LE(readAll(*stream).size(), node->item->size);
            delete stream;
        }
        contentAt(pack + L":a/b.txt");
    }
    EXPECT_GT(opened, 0);
    Pack::releaseCache();
}
