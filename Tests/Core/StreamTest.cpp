#include "StreamTestSupport.h"

#include "Core/File.h"
#include "Core/FileArray.h"
#include "Core/Resource.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace
{
std::vector<uint8_t> contentOf(FileArray& stream)
{
    return std::vector<uint8_t>(stream.memory(), stream.memory() + stream.size());
}

FileArray arrayOf(const std::vector<uint8_t>& bytes)
{
    FileArray stream(16);
    stream.write(bytes.data(), uint32_t(bytes.size()));
    stream.seek(0, 0);
    return FileArray(static_cast<FileInterface&>(stream));
}

std::wstring text(const String& s)
{
    return std::wstring(s.text(), size_t(s.length()));
}
}

TEST(FileArrayTest, SeekingClampsAndTheEndIsTheLastByte)
{
    FileArray stream(16);
    const char ten[] = "0123456789";
    ASSERT_EQ(stream.write(ten, 10), 10u);
    EXPECT_EQ(stream.seek(0, 2), 9u);
    EXPECT_EQ(stream.seek(3, 2), 6u);
    EXPECT_EQ(stream.seek(20, 0), 10u);
    EXPECT_EQ(stream.seek(-30, 1), 0u);
    EXPECT_EQ(stream.seek(4, 1), 4u);
    char c = 0;
    EXPECT_EQ(stream.read(&c, 1), 1u);
    EXPECT_EQ(c, '4');

    FileArray empty(16);
    EXPECT_EQ(empty.seek(0, 2), 0u);
    EXPECT_EQ(empty.read(&c, 1), 0u);
}

TEST(FileArrayTest, GrowsInWholeStepsAndFixedArraysOnlyOverwrite)
{
    FileArray stream(16);
    const uint8_t bytes[17] = {1};
    stream.write(bytes, 1);
    EXPECT_EQ(stream.capacity(), 16u);
    stream.write(bytes, 16);
    EXPECT_EQ(stream.capacity(), 32u);
    EXPECT_EQ(stream.size(), 17u);

    FileArray big(4096);
    std::vector<uint8_t> five(5000, 7);
    big.write(five.data(), 5000);
    EXPECT_EQ(big.capacity(), 8192u);

    FileArray fixed = arrayOf({1, 2, 3, 4});
    EXPECT_FALSE(fixed.growable());
    fixed.seek(2, 0);
    const uint8_t more[5] = {9, 9, 9, 9, 9};
    EXPECT_EQ(fixed.write(more, 5), 2u);
    EXPECT_EQ(contentOf(fixed), (std::vector<uint8_t>{1, 2, 9, 9}));
}

TEST(FileArrayTest, CopyTakesTheRestOfTheSourceAndCloseLeavesAnEmptyStream)
{
    FileArray source(16);
    source.write("abcdef", 6);
    source.seek(2, 0);
    FileArray rest(static_cast<FileInterface&>(source));
    EXPECT_EQ(rest.size(), 4u);
    EXPECT_EQ(std::memcmp(rest.memory(), "cdef", 4), 0);

    FileArray stack(16);
    stack.write("xyz", 3);
    EXPECT_EQ(stack.close(), 0u);
    EXPECT_EQ(stack.size(), 0u);
    EXPECT_EQ(stack.capacity(), 0u);
    EXPECT_TRUE(stack.isOpen);
    EXPECT_EQ(stack.write("q", 1), 1u);
    EXPECT_EQ(stack.size(), 1u);
}

TEST(FileTest, WritesReadsAndReportsTheFurthestPosition)
{
    TempFolder folder;
    const String path(folder.file(L"data.bin").c_str());
    FileInterface* out = openFile(path, 1, 1, 0);
    ASSERT_NE(out, nullptr);
    ASSERT_TRUE(out->isOpen);
    EXPECT_TRUE(out->deleteOnClose);
    EXPECT_EQ(out->size(), 0u);
    std::vector<uint8_t> hundred(100);
    for (int i = 0; i < 100; ++i)
        hundred[i] = uint8_t(i);
    EXPECT_EQ(out->write(hundred.data(), 100), 100u);
    EXPECT_EQ(out->seek(0, 0), 0u);
    EXPECT_EQ(out->size(), 100u);
    EXPECT_EQ(text(out->name), L"data.bin");
    EXPECT_EQ(text(out->folder), folder.path());
    out->close();

    FileInterface* in = openFile(path, 0, 1, 1);
    ASSERT_TRUE(in->isOpen);
    EXPECT_EQ(in->size(), 100u);
    EXPECT_EQ(in->seek(-10, 2), 90u);
    uint8_t tail[20] = {};
    EXPECT_EQ(in->read(tail, 20), 10u);
    EXPECT_EQ(tail[0], 90);
    EXPECT_EQ(in->write(tail, 1), 0u) << "a read-only descriptor refuses writes";
    in->close();

    FileInterface* missing = openFile(String(folder.file(L"none.bin").c_str()), 0, 1, 1);
    ASSERT_NE(missing, nullptr);
    EXPECT_FALSE(missing->isOpen);
    EXPECT_EQ(missing->read(tail, 4), 0u);
    EXPECT_EQ(missing->seek(4, 0), 0u);
    missing->close();
}

TEST(ResourceTest, ReadsModuleResourcesAndStopsAtTheLastByte)
{
    Resource resource(31001, 10);
    ASSERT_TRUE(resource.isOpen);
    EXPECT_EQ(resource.size(), 10u);
    EXPECT_EQ(std::memcmp(resource.memory(), "0123456789", 10), 0);
    EXPECT_EQ(resource.seek(0, 2), 9u);
    EXPECT_EQ(resource.seek(20, 0), 9u);
    char c = 0;
    EXPECT_EQ(resource.read(&c, 5), 1u);
    EXPECT_EQ(c, '9');
    EXPECT_EQ(resource.write("x", 1), FileInterface::readOnlyResult);
    EXPECT_EQ(resource.read(nullptr, 1), FileInterface::readOnlyResult);

    Resource named(L"STREAMTESTNAMED", MAKEINTRESOURCEW(10));
    ASSERT_TRUE(named.isOpen);
    EXPECT_EQ(named.size(), 5u);

    Resource missing(31999, 10);
    EXPECT_FALSE(missing.isOpen);
    EXPECT_EQ(missing.read(&c, 1), 0u);
}

TEST(StoredStringTest, IsACountAndEightBitCharacters)
{
    FileArray stream(64);
    EXPECT_TRUE(stream.writeString(String(L"abc")));
    EXPECT_TRUE(stream.writeString(String(L"")));
    EXPECT_TRUE(stream.writeString(String()));
    EXPECT_EQ(contentOf(stream), (std::vector<uint8_t>{3, 0, 0, 0, 'a', 'b', 'c', 0, 0, 0, 0, 0, 0, 0, 0}));

    stream.seek(0, 0);
    String a, b, c;
    EXPECT_TRUE(stream.readString(a));
    EXPECT_TRUE(stream.readString(b));
    EXPECT_TRUE(stream.readString(c));
    EXPECT_EQ(text(a), L"abc");
    EXPECT_EQ(b.length(), 0);
    String after;
    EXPECT_FALSE(stream.readString(after)) << "nothing left to read";
    EXPECT_EQ(after.length(), 0);
}

TEST(StoredStringTest, CountsTheStreamDoesNotHoldAreRefused)
{
    std::vector<uint8_t> bytes;
    appendU32(bytes, 0xFFFFFFF0u);
    appendText(bytes, "abc");
    FileArray huge = arrayOf(bytes);
    String text_(L"old");
    EXPECT_FALSE(huge.readString(text_));
    EXPECT_EQ(text_.length(), 0);

    bytes.clear();
    appendU32(bytes, 10);
    appendText(bytes, "short");
    FileArray cut = arrayOf(bytes);
    EXPECT_FALSE(cut.readString(text_));
    EXPECT_EQ(text_.length(), 0);

    // Longer than the format allows but present: skipped, and the next field is intact.
    bytes.clear();
    appendU32(bytes, 9000);
    bytes.insert(bytes.end(), 9000, 'x');
    appendU32(bytes, 2);
    appendText(bytes, "ok");
    FileArray longText = arrayOf(bytes);
    EXPECT_FALSE(longText.readString(text_));
    EXPECT_EQ(text_.length(), 0);
    EXPECT_TRUE(longText.readString(text_));
    EXPECT_EQ(text(text_), L"ok");

    // The longest allowed text still reads.
    bytes.clear();
    appendU32(bytes, FileInterface::maxStoredStringLength);
    bytes.insert(bytes.end(), FileInterface::maxStoredStringLength, 'y');
    FileArray longest = arrayOf(bytes);
    EXPECT_TRUE(longest.readString(text_));
    EXPECT_EQ(uint32_t(text_.length()), FileInterface::maxStoredStringLength);
}

TEST(SizedBlockTest, RoundTripsAndReplacesTheWholeTarget)
{
    FileArray inner(16);
    inner.write("payload", 7);
    FileArray outer(16);
    EXPECT_TRUE(FileInterface::writeBlockFrom(outer, inner));
    FileArray small(16);
    small.write("ab", 2);
    EXPECT_TRUE(FileInterface::writeBlockFrom(outer, small));
    EXPECT_EQ(outer.size(), 4u + 7u + 4u + 2u);

    outer.seek(0, 0);
    FileArray target(4096);
    EXPECT_TRUE(FileInterface::copyBlockTo(outer, target));
    EXPECT_EQ(target.tell(), 0u);
    EXPECT_EQ(contentOf(target), (std::vector<uint8_t>{'p', 'a', 'y', 'l', 'o', 'a', 'd'}));
    // The second, shorter block must not leave the tail of the first behind.
    EXPECT_TRUE(FileInterface::copyBlockTo(outer, target));
    EXPECT_EQ(contentOf(target), (std::vector<uint8_t>{'a', 'b'}));
    EXPECT_EQ(target.tell(), 0u);
}

TEST(SizedBlockTest, ADeclaredSizeBeyondTheDataIsRefusedWithoutAllocating)
{
    std::vector<uint8_t> bytes;
    appendU32(bytes, 0xFFFFFFF0u);
    appendText(bytes, "tiny");
    FileArray source = arrayOf(bytes);
    FileArray target(4096);
    target.write("stale", 5);
    EXPECT_FALSE(FileInterface::copyBlockTo(source, target));
    EXPECT_EQ(target.size(), 0u);
    EXPECT_EQ(target.capacity(), 0u);

    FileArray closedSource(16);
    closedSource.isOpen = false;
    EXPECT_FALSE(FileInterface::copyBlockTo(closedSource, target));
}

TEST(TaggedStreamTest, ReaderSkipsUnknownTagsAndStopsAtZeroOrTheEnd)
{
    FileArray stream(64);
    stream.writeTag(1);
    stream.writeValue(uint32_t(41));
    stream.writeTag(77); // unknown: carries no field
    stream.writeTag(2);
    stream.writeString(String(L"name"));
    stream.writeTag(0);
    stream.writeTag(1);
    stream.writeValue(uint32_t(99));

    auto readRecord = [](FileInterface& s, uint32_t& value, String& name) {
        int tags = 0;
        uint32_t tag;
        while (s.readTag(tag)) {
            ++tags;
            if (tag == 1)
                s.readValue(value);
            else if (tag == 2)
                s.readString(name);
        }
        return tags;
    };
    stream.seek(0, 0);
    uint32_t value = 0;
    String name;
    EXPECT_EQ(readRecord(stream, value, name), 3);
    EXPECT_EQ(value, 41u);
    EXPECT_EQ(text(name), L"name");
    // The next record ends with the data, without a tag 0.
    EXPECT_EQ(readRecord(stream, value, name), 1);
    EXPECT_EQ(value, 99u);
}

TEST(SaveToFileTest, WritesTheWholeStreamAndRewindsIt)
{
    TempFolder folder;
    FileArray stream(16);
    stream.write("saved bytes", 11);
    EXPECT_TRUE(FileInterface::saveToFile(stream, String(folder.file(L"out.bin").c_str())));
    EXPECT_EQ(stream.tell(), 0u);
    const std::vector<uint8_t> expected = {'s', 'a', 'v', 'e', 'd', ' ', 'b', 'y', 't', 'e', 's'};
    EXPECT_EQ(readBytes(folder.file(L"out.bin")), expected);
    EXPECT_FALSE(FileInterface::saveToFile(stream, String(folder.file(L"no\\such\\folder.bin").c_str())));
}

TEST(FoldersTest, ModuleAndCurrentFolders)
{
    const String module = getModuleFolder();
    ASSERT_GT(module.length(), 0);
    EXPECT_EQ(module.text()[module.length() - 1], L'\\');
    const String current = getCurrentFolder();
    ASSERT_GT(current.length(), 0);
    wchar_t expected[MAX_PATH] = {};
    GetCurrentDirectoryW(MAX_PATH, expected);
    EXPECT_EQ(text(current), expected);
}
