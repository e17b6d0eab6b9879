#include "StreamTestSupport.h"

#include "Core/File.h"
#include "Core/FileArray.h"
#include "Core/Resource.h"

#include <gtest/gtest.h>

namespace
{
// A fixed array over the bytes, as readers get it from a stream copy.
FileArray arrayOf(const std::vector<uint8_t>& bytes)
{
    FileArray stream(16);
    stream.write(bytes.data(), uint32_t(bytes.size()));
    stream.seek(0, 0);
    return FileArray(static_cast<FileInterface&>(stream));
}

std::string contentOf(FileInterface& stream)
{
    return std::string(reinterpret_cast<const char*>(stream.memory()), stream.size());
}
}

TEST(FileArrayTest, SeekFromTheEndCountsBackFromTheLastByteAndFixedArraysOnlyOverwrite)
{
    FileArray stream(16);
    ASSERT_EQ(stream.write("0123456789", 10), 10u);
    EXPECT_EQ(stream.seek(0, 2), 9u);
    EXPECT_EQ(stream.seek(3, 2), 6u);
    EXPECT_EQ(stream.seek(20, 0), 10u);
    EXPECT_EQ(stream.seek(-30, 1), 0u);
    EXPECT_EQ(FileArray(16).seek(0, 2), 0u) << "an empty stream stays at 0";

    FileArray fixed = arrayOf({'a', 'b', 'c', 'd'});
    fixed.seek(2, 0);
    EXPECT_EQ(fixed.write("xyzzy", 5), 2u);
    EXPECT_EQ(contentOf(fixed), "abxy");
}

TEST(FileTest, ReadOnlyDescriptorsAndMissingFiles)
{
    TempFolder folder;
    ASSERT_TRUE(writeBytes(folder.file(L"data.bin"), std::vector<uint8_t>{'0', '1', '2', '3', '4', '5'}));
    EXPECT_EQ(contentAt(folder.file(L"none.bin")), "<closed>");
    FileInterface* in = openFile(String(folder.file(L"data.bin").c_str()), 0, 1, 1);
    ASSERT_TRUE(in->isOpen);
    EXPECT_EQ(in->seek(-2, 2), 4u); // disk files follow the runtime: end + offset
    EXPECT_EQ(readAll(*in), "45");
    EXPECT_EQ(in->write("x", 1), 0u);
    in->close();
}

// A closed file reads nothing, even once its descriptor's number belongs to
// a file opened after it.
TEST(FileTest, AClosedFileReadsNothing)
{
    TempFolder folder;
    ASSERT_TRUE(writeBytes(folder.file(L"a.bin"), std::vector<uint8_t>{'a', 'a'}));
    ASSERT_TRUE(writeBytes(folder.file(L"b.bin"), std::vector<uint8_t>{'b', 'b'}));
    File a(String(folder.file(L"a.bin").c_str()), 0, 1, 1);
    ASSERT_TRUE(a.isOpen);
    a.close();
    File b(String(folder.file(L"b.bin").c_str()), 0, 1, 1);
    ASSERT_TRUE(b.isOpen);
    char c = 0;
    EXPECT_FALSE(a.isOpen);
    EXPECT_EQ(a.read(&c, 1), 0u);
    EXPECT_EQ(a.write("x", 1), 0u);
    EXPECT_EQ(readAll(b), "bb");
}

TEST(ResourceTest, ModuleResourcesAreReadOnlyAndStopAtTheLastByte)
{
    Resource resource(31001, 10);
    ASSERT_TRUE(resource.isOpen);
    EXPECT_EQ(contentOf(resource), "0123456789");
    EXPECT_EQ(resource.fileSize, 10u) << "described like a file of its bytes";
    char c = 0;
    EXPECT_EQ(resource.seek(20, 0), 9u);
    EXPECT_EQ(resource.read(&c, 5), 1u);
    EXPECT_EQ(resource.write("x", 1), FileInterface::readOnlyResult);
    EXPECT_FALSE(Resource(31999, 10).isOpen);
}

TEST(StoredStringTest, CountsTheStreamDoesNotHoldAreRefused)
{
    std::vector<uint8_t> bytes;
    appendString(bytes, "abc");
    appendString(bytes, "");
    appendU32(bytes, 9000); // beyond the format: skipped, the next field stays in step
    bytes.insert(bytes.end(), 9000, 'x');
    appendString(bytes, std::string(FileInterface::maxStoredStringLength, 'y'));
    appendU32(bytes, 0xFFFFFFF0u);
    appendString(bytes, "abc");
    FileArray stream = arrayOf(bytes);
    String s;
    EXPECT_TRUE(stream.readString(s));
    EXPECT_EQ(text(s), L"abc");
    EXPECT_TRUE(stream.readString(s));
    EXPECT_EQ(s.length(), 0);
    EXPECT_FALSE(stream.readString(s));
    EXPECT_TRUE(stream.readString(s));
    EXPECT_EQ(uint32_t(s.length()), FileInterface::maxStoredStringLength);
    s = String(L"old");
    EXPECT_FALSE(stream.readString(s));
    EXPECT_EQ(s.length(), 0);
    EXPECT_EQ(stream.remaining(), 0u) << "a cut string leaves nothing to misread after it";

    // The writer refuses what the reader would refuse, and keeps the fields after it in step.
    FileArray written(64);
    EXPECT_FALSE(written.writeString(String(std::wstring(FileInterface::maxStoredStringLength + 1, L'z').c_str())));
    EXPECT_TRUE(written.writeString(String(std::wstring(FileInterface::maxStoredStringLength, L'z').c_str())));
    EXPECT_TRUE(written.writeValue(uint32_t(77)));
    written.seek(0, 0);
    EXPECT_TRUE(written.readString(s));
    EXPECT_EQ(s.length(), 0);
    EXPECT_TRUE(written.readString(s));
    EXPECT_EQ(uint32_t(s.length()), FileInterface::maxStoredStringLength);
    uint32_t after = 0;
    EXPECT_TRUE(written.readValue(after));
    EXPECT_EQ(after, 77u);

    // Fixed seed: damaged strings never crash, hang or overrun the bound.
    std::mt19937 random(4242);
    for (int round = 0; round < 2000; ++round) {
        FileArray damaged = arrayOf(mutate(bytes, random));
        for (int field = 0; field < 8; ++field) {
            damaged.readString(s);
            ASSERT_LE(uint32_t(s.length()), FileInterface::maxStoredStringLength);
        }
    }
}

TEST(SizedBlockTest, ReplacesTheWholeTargetAndRefusesSizesBeyondTheData)
{
    std::vector<uint8_t> blocks;
    appendString(blocks, "payload");
    appendString(blocks, "ab");
    FileArray outer = arrayOf(blocks);
    FileArray target(4096);
    EXPECT_TRUE(FileInterface::copyBlockTo(outer, target));
    EXPECT_EQ(contentOf(target), "payload");
    EXPECT_TRUE(FileInterface::copyBlockTo(outer, target)); // no tail of the longer block left
    EXPECT_EQ(contentOf(target), "ab");
    EXPECT_EQ(target.tell(), 0u);

    std::vector<uint8_t> huge;
    appendString(huge, "tiny");
    huge[3] = 0xFF;
    FileArray source = arrayOf(huge);
    EXPECT_FALSE(FileInterface::copyBlockTo(source, target));
    EXPECT_EQ(target.size(), 0u);
    EXPECT_EQ(target.capacity(), 0u) << "nothing allocated for the declared size";

    // A block written from a whole stream reads back as that stream.
    FileArray content = arrayOf({1, 2, 3, 4, 5});
    content.seek(3, 0);
    FileArray stored(64);
    ASSERT_TRUE(FileInterface::writeBlockFrom(stored, content));
    EXPECT_EQ(stored.size(), 9u);
    stored.seek(0, 0);
    ASSERT_TRUE(FileInterface::copyBlockTo(stored, target));
    EXPECT_EQ(contentOf(target), std::string("\x01\x02\x03\x04\x05"));
}

TEST(ReplaceFileTest, TheOldFileStaysUntilTheNewOneIsWhole)
{
    TempFolder folder;
    const std::wstring path = folder.file(L"level.tee");
    ASSERT_TRUE(writeBytes(path, {1, 2, 3}));
    FileArray bytes = arrayOf({9, 8, 7, 6});
    EXPECT_TRUE(FileInterface::replaceFile(bytes, String(path.c_str())));
    EXPECT_EQ(contentAt(path), std::string("\x09\x08\x07\x06"));
    EXPECT_FALSE(std::filesystem::exists(path + L".tmp"));
    // A disk stream is copied whole as well.
    FileInterface* disk = openFile(String(path.c_str()), 0, 1, 1);
    EXPECT_TRUE(FileInterface::replaceFile(*disk, String(folder.file(L"copy.tee").c_str())));
    disk->close();
    EXPECT_EQ(contentAt(folder.file(L"copy.tee")), std::string("\x09\x08\x07\x06"));
    // A file that cannot be written leaves the old one and no temporary.
    std::filesystem::create_directories(folder.file(L"busy.tee.tmp"));
    ASSERT_TRUE(writeBytes(folder.file(L"busy.tee"), {5}));
    EXPECT_FALSE(FileInterface::replaceFile(bytes, String(folder.file(L"busy.tee").c_str())));
    EXPECT_EQ(contentAt(folder.file(L"busy.tee")), std::string("\x05"));
    EXPECT_FALSE(FileInterface::replaceFile(bytes, String(L"")));
}
