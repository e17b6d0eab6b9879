#include "AppTestFiles.h"

#include "Application/GlobalSettings.h"
#include "Core/FileArray.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

using AppTestFiles::putU32;
using Bytes = std::vector<uint8_t>;

namespace {

const uint8_t defaultFour[4] = {0x20, 0x09, 0xFF, 0xFF};

void putBytes(Bytes& bytes, std::initializer_list<uint8_t> values)
{
    bytes.insert(bytes.end(), values);
}

// One game record as the race logic stores it: tags 1 to 5, then 0.
void putGameRecord(Bytes& bytes, const uint8_t record[13])
{
    const int fields[][3] = {{1, 0, 2}, {2, 2, 1}, {3, 3, 1}, {4, 4, 1}, {5, 5, 8}}; // tag, first byte, count
    for (const auto& field : fields) {
        putU32(bytes, uint32_t(field[0]));
        bytes.insert(bytes.end(), record + field[1], record + field[1] + field[2]);
    }
    putU32(bytes, 0);
}

// The stored form, built by hand from the file layout (options: tags 2 to 6;
// records: the first game records, the others free).
Bytes stored(uint32_t width, uint32_t height, std::vector<uint32_t> options, const char* name, const uint8_t four[4],
             const std::vector<std::vector<uint8_t>>& records = {})
{
    Bytes bytes = {'v', '1', '.', '0'};
    for (uint32_t word : {1u, width, height})
        putU32(bytes, word);
    for (uint32_t tag = 2; tag <= 6; ++tag) {
        putU32(bytes, tag);
        putU32(bytes, options[tag - 2]);
    }
    putU32(bytes, 8);
    putU32(bytes, uint32_t(strlen(name)));
    bytes.insert(bytes.end(), name, name + strlen(name));
    putU32(bytes, 9);
    bytes.insert(bytes.end(), four, four + 4);
    putU32(bytes, 10);
    for (size_t i = 0; i < GlobalSettings::gameRecordCount; ++i) {
        uint8_t record[13] = {};
        if (i < records.size())
            memcpy(record, records[i].data(), std::min<size_t>(records[i].size(), 13));
        putGameRecord(bytes, record);
    }
    putU32(bytes, 0);
    return bytes;
}

const Bytes defaultFile = stored(1024, 768, {0, 1, 1, 0, 2}, "", defaultFour);

Bytes storedForm(const GlobalSettings& settings)
{
    FileArray stream(256);
    settings.writeTo(stream);
    return Bytes(stream.memory(), stream.memory() + stream.size());
}

void expectDefaults(const GlobalSettings& settings)
{
    const uint32_t options[8] = {0, 1, 1, 0, 1, 2, 0, 9};
    EXPECT_EQ(settings.width, 1024u);
    EXPECT_EQ(settings.height, 768u);
    EXPECT_FLOAT_EQ(settings.aspect, 1.3333334f);
    EXPECT_EQ(memcmp(&settings.options, options, sizeof(options)), 0);
    EXPECT_EQ(settings.name.length(), 0);
    EXPECT_EQ(memcmp(settings.fourBytes, defaultFour, 4), 0);
}

// The version mark and a list of (tag, words) records.
Bytes tagged(const char mark[4], std::vector<std::vector<uint32_t>> records)
{
    Bytes bytes(mark, mark + 4);
    for (const auto& record : records)
        for (uint32_t word : record)
            putU32(bytes, word);
    return bytes;
}

} // namespace

TEST(GlobalSettings, FirstLoadWritesTheDefaultsAndEveryTagRoundTrips)
{
    const std::wstring folder = AppTestFiles::freshFolder(L"SettingsRoundTrip");
    GlobalSettings first(folder.c_str());
    EXPECT_EQ(first.load(), GlobalSettings::LoadResult::Missing);
    expectDefaults(first);
    EXPECT_EQ(AppTestFiles::read(folder + L"gset.dat"), defaultFile);

    GlobalSettings written(folder.c_str());
    written.width = 1280;
    written.height = 1024;
    written.options = {3, 0, 0, 1, 7, 1, 5, 4};
    written.name = L"Quad Racer";
    const uint8_t four[4] = {1, 2, 3, 4};
    memcpy(written.fourBytes, four, 4);
    const std::vector<uint8_t> record0 = {'D', 'E', 1, 2, 3, 16, 11, 7, 4, 2, 1, 0, 9};
    const std::vector<uint8_t> record1 = {'F', 'R', 2, 2, 6, 95, 0, 0, 0, 0, 0, 0, 0xFF};
    memcpy(written.gameRecords[0].bytes, record0.data(), 13);
    memcpy(written.gameRecords[1].bytes, record1.data(), 13);
    ASSERT_TRUE(written.writeFile());
    EXPECT_EQ(AppTestFiles::read(folder + L"gset.dat"),
              stored(1280, 1024, {3, 0, 0, 1, 1}, "Quad Racer", four, {record0, record1}));
    EXPECT_EQ(GetFileAttributesW((folder + L"gset.dat.tmp").c_str()), INVALID_FILE_ATTRIBUTES);

    GlobalSettings read(folder.c_str());
    EXPECT_EQ(read.load(), GlobalSettings::LoadResult::Read);
    EXPECT_EQ(read.width, 1280u);
    EXPECT_EQ(read.height, 1024u);
    EXPECT_FLOAT_EQ(read.aspect, 1.25f); // recomputed from the size, not left at 4:3
    // Options 4, 6 and 7 are not stored and keep their defaults.
    const uint32_t options[8] = {3, 0, 0, 1, 1, 1, 0, 9};
    EXPECT_EQ(memcmp(&read.options, options, sizeof(options)), 0);
    EXPECT_STREQ(read.name.text(), L"Quad Racer");
    EXPECT_EQ(memcmp(read.fourBytes, four, 4), 0);
    EXPECT_EQ(storedForm(read), storedForm(written)); // the game records came back too
}

// Files read whole stay as they are; damaged ones apply what could be read,
// are kept aside as "gset.dat.bad" and replaced by the values read.
TEST(GlobalSettings, DamagedFilesApplyWhatWasReadAndAreKeptAside)
{
    const std::wstring folder = AppTestFiles::freshFolder(L"SettingsDamaged");
    const std::wstring path = folder + L"gset.dat";
    const Bytes valid = stored(800, 600, {1, 0, 0, 0, 1}, "abc", defaultFour, {{7, 8, 1, 1, 3, 20}});
    Bytes oversized = valid, garbage(200), withoutEnd = valid, noRecords = stored(800, 600, {1, 0, 0, 0, 1}, "", defaultFour);
    oversized.resize(GlobalSettings::maxFileSize + 1);
    for (size_t i = 0; i < garbage.size(); ++i)
        garbage[i] = uint8_t(i * 37 + 11);
    withoutEnd.resize(withoutEnd.size() - 4);
    noRecords.resize(noRecords.size() - 32 * 37 - 8); // ends after tag 9's bytes
    // Cut inside the bytes of tag 5 of the third game record (37 bytes each,
    // tag 5's bytes from byte 25 of a record).
    Bytes cutRecord = stored(800, 600, {1, 0, 0, 0, 1}, "", defaultFour, {{1, 1}, {2, 2}, {3, 3, 9, 0, 0, 5, 6}});
    cutRecord.resize(cutRecord.size() - 4 - 32 * 37 + 2 * 37 + 25 + 3);
    Bytes cutTag = tagged("v1.0", {{1, 640, 480}});
    putBytes(cutTag, {3, 0});

    struct Case {
        const char* what;
        Bytes file;
        bool damaged;
        uint32_t width, height, antialiasing, fullScreen; // expected after the load
        uint8_t record2Byte2;                             // byte 2 of game record 2
    } cases[] = {
        {"valid", valid, false, 800, 600, 1, 0, 0},
        {"other version mark", tagged("v9.9", {{1, 640, 480}, {3, 0}}), false, 640, 480, 0, 0, 0},
        {"no closing 0", withoutEnd, false, 800, 600, 1, 0, 0},
        {"ends after tag 9", noRecords, false, 800, 600, 1, 0, 0},
        {"first tag 0", tagged("v1.0", {{0}, {1, 640, 480}}), false, 1024, 768, 0, 1, 0},
        {"unknown tag, then a record", tagged("v1.0", {{11}, {1, 640, 480}, {0}}), true, 640, 480, 0, 1, 0},
        {"cut inside a record", tagged("v1.0", {{1, 640, 480}, {3, 0}, {2}}), true, 640, 480, 0, 0, 0},
        {"cut inside the size", Bytes(valid.begin(), valid.begin() + 14), true, 1024, 768, 0, 1, 0},
        {"cut inside a tag", cutTag, true, 640, 480, 0, 1, 0},
        {"cut in the game records", cutRecord, true, 800, 600, 1, 0, 9},
        {"zero width, read on", tagged("v1.0", {{1, 0, 600}, {3, 0}}), true, 1024, 768, 0, 0, 0},
        {"huge height", tagged("v1.0", {{1, 800, 0x7FFFFFFF}}), true, 1024, 768, 0, 1, 0},
        {"antialiasing shift", tagged("v1.0", {{2, 40}, {3, 0}}), true, 1024, 768, 0, 0, 0},
        {"full-screen flag", tagged("v1.0", {{3, 7}, {2, 2}}), true, 1024, 768, 2, 1, 0},
        {"name past the end", tagged("v1.0", {{1, 640, 480}, {8, 0x7FFFFFF0}}), true, 640, 480, 0, 1, 0},
        {"short mark", Bytes{'v', '1'}, true, 1024, 768, 0, 1, 0},
        {"empty", Bytes{}, true, 1024, 768, 0, 1, 0},
        {"oversized", oversized, true, 800, 600, 1, 0, 0},
        {"garbage", garbage, true, 0, 0, 0, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        DeleteFileW((path + L".bad").c_str());
        ASSERT_TRUE(AppTestFiles::write(path, c.file));
        GlobalSettings settings(folder.c_str());
        EXPECT_EQ(settings.load(),
                  c.damaged ? GlobalSettings::LoadResult::Damaged : GlobalSettings::LoadResult::Read);
        if (c.width != 0) { // garbage applies whatever it happens to hold
            EXPECT_EQ(settings.width, c.width);
            EXPECT_EQ(settings.height, c.height);
            EXPECT_FLOAT_EQ(settings.aspect, float(c.width) / float(c.height));
            EXPECT_EQ(settings.options.antialiasing, c.antialiasing);
            EXPECT_EQ(settings.options.fullScreen, c.fullScreen);
            EXPECT_EQ(settings.gameRecords[2].bytes[2], c.record2Byte2);
            EXPECT_EQ(settings.gameRecords[2].bytes[5], 0); // cut inside its field: not applied
        }
        EXPECT_EQ(AppTestFiles::read(path + L".bad"), c.damaged ? c.file : Bytes());
        EXPECT_EQ(AppTestFiles::read(path), c.damaged ? storedForm(settings) : c.file);
    }
}

// A damaged file is kept under the first free name; when it cannot be moved
// aside at all it stays untouched and nothing is written over it.
TEST(GlobalSettings, DamagedFilesAreNeverLostWhenTheUsualNameIsTaken)
{
    const std::wstring folder = AppTestFiles::freshFolder(L"SettingsAside");
    const std::wstring path = folder + L"gset.dat";
    const Bytes garbage(150, 0xA7);
    RemoveDirectoryW((path + L".bad").c_str());
    for (const wchar_t* name : {L".bad", L".bad.1", L".bad.2"}) {
        SetFileAttributesW((path + name).c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileW((path + name).c_str());
    }
    ASSERT_TRUE(CreateDirectoryW((path + L".bad").c_str(), nullptr));
    ASSERT_TRUE(AppTestFiles::write(path + L".bad.1", {1, 2, 3}));
    ASSERT_TRUE(SetFileAttributesW((path + L".bad.1").c_str(), FILE_ATTRIBUTE_READONLY));
    ASSERT_TRUE(AppTestFiles::write(path, garbage));
    GlobalSettings settings(folder.c_str());
    EXPECT_EQ(settings.load(), GlobalSettings::LoadResult::Damaged);
    EXPECT_EQ(AppTestFiles::read(path + L".bad.1"), Bytes({1, 2, 3}));
    EXPECT_EQ(AppTestFiles::read(path + L".bad.2"), garbage);
    EXPECT_EQ(AppTestFiles::read(path), storedForm(settings));

    // Held open without leave to delete or rename: it cannot be moved aside.
    ASSERT_TRUE(AppTestFiles::write(path, garbage));
    HANDLE held = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    GlobalSettings blocked(folder.c_str());
    EXPECT_EQ(blocked.load(), GlobalSettings::LoadResult::Damaged);
    CloseHandle(held);
    blocked.width = 640;
    blocked.save();
    EXPECT_FALSE(blocked.writeFile());
    EXPECT_EQ(AppTestFiles::read(path), garbage);
    EXPECT_EQ(GetFileAttributesW((path + L".bad.3").c_str()), INVALID_FILE_ATTRIBUTES);

    RemoveDirectoryW((path + L".bad").c_str());
    SetFileAttributesW((path + L".bad.1").c_str(), FILE_ATTRIBUTE_NORMAL);
}
