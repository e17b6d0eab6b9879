#include "AppTestFiles.h"

#include "Application/GlobalSettings.h"

#include <gtest/gtest.h>

#include <cstring>

using AppTestFiles::putU32;

namespace {

const uint8_t defaultFour[4] = {0x20, 0x09, 0xFF, 0xFF};

// The stored form, built by hand from the file layout (options: tags 2 to 6).
std::vector<uint8_t> stored(uint32_t width, uint32_t height, std::vector<uint32_t> options, const char* name,
                            const uint8_t four[4])
{
    std::vector<uint8_t> bytes = {'v', '1', '.', '0'};
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
    putU32(bytes, 0);
    return bytes;
}

const std::vector<uint8_t> defaultFile = stored(1024, 768, {0, 1, 1, 0, 2}, "", defaultFour);

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
    ASSERT_TRUE(written.writeFile());
    EXPECT_EQ(AppTestFiles::read(folder + L"gset.dat"), stored(1280, 1024, {3, 0, 0, 1, 1}, "Quad Racer", four));
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
}

// A broken file gives the defaults, is kept as "gset.dat.bad" and replaced by the defaults.
TEST(GlobalSettings, BrokenFilesAreKeptAsideAndGiveTheDefaults)
{
    const std::wstring folder = AppTestFiles::freshFolder(L"SettingsBroken");
    const std::wstring path = folder + L"gset.dat";
    const std::vector<uint8_t> valid = stored(800, 600, {1, 0, 0, 0, 1}, "abc", defaultFour);
    auto field = [](uint32_t tag, uint32_t a, uint32_t b) {
        std::vector<uint8_t> bytes = {'v', '1', '.', '0'};
        for (uint32_t word : {tag, a, b, 0u})
            putU32(bytes, word);
        return bytes;
    };
    std::vector<uint8_t> oversized = valid, garbage(200);
    oversized.resize(GlobalSettings::maxFileSize + 1);
    for (size_t i = 0; i < garbage.size(); ++i)
        garbage[i] = uint8_t(i * 37 + 11);
    // Unknown tag, zero width, huge height, antialiasing shift, full-screen flag, name past the end.
    std::vector<std::vector<uint8_t>> cases = {{}, oversized, garbage, field(11, 1, 2), field(1, 0, 600),
                                               field(1, 800, 0x7FFFFFFF), field(2, 40, 0), field(3, 7, 0),
                                               field(8, 0x7FFFFFF0, 0)};
    for (size_t cut : {size_t(3), size_t(10), valid.size() - 9, valid.size() - 1})
        cases.emplace_back(valid.begin(), valid.begin() + long(cut));

    for (size_t i = 0; i < cases.size(); ++i) {
        SCOPED_TRACE(i);
        DeleteFileW((path + L".bad").c_str());
        ASSERT_TRUE(AppTestFiles::write(path, cases[i]));
        GlobalSettings settings(folder.c_str());
        EXPECT_EQ(settings.load(), GlobalSettings::LoadResult::Rejected);
        expectDefaults(settings);
        EXPECT_EQ(AppTestFiles::read(path + L".bad"), cases[i]);
        EXPECT_EQ(AppTestFiles::read(path), defaultFile);
    }
}
