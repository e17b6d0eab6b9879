#include "AppTestFiles.h"

#include "Application/GlobalSettings.h"
#include "Core/FileArray.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>

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
    EXPECT_FALSE(AppTestFiles::exists(folder + L"gset.dat.tmp"));

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
    std::mt19937 random(1234);
    for (auto& byte : garbage)
        byte = uint8_t(random());
    std::vector<std::vector<uint8_t>> cases = {{},
                                               oversized,
                                               garbage,
                                               field(11, 1, 2),          // unknown tag
                                               field(1, 0, 600),         // zero width
                                               field(1, 800, 0x7FFFFFFF),
                                               field(2, 40, 0),          // antialiasing shift
                                               field(3, 7, 0),           // full screen flag
                                               field(8, 0x7FFFFFF0, 0)}; // name longer than the file
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

TEST(GlobalSettings, MutatedFilesNeverGiveValuesOutsideTheirBounds)
{
    const std::vector<uint8_t> valid = stored(1920, 1080, {2, 0, 1, 1, 2}, "Name", defaultFour);
    std::mt19937 random(77);
    int accepted = 0;
    for (int round = 0; round < 2000; ++round) {
        std::vector<uint8_t> bytes = valid;
        for (int flips = 1 + int(random() % 4); flips > 0; --flips)
            bytes[random() % bytes.size()] = uint8_t(random());
        if (random() % 4 == 0)
            bytes.resize(random() % bytes.size());
        FileArray stream(64);
        if (!bytes.empty())
            stream.write(bytes.data(), uint32_t(bytes.size()));
        stream.seek(0, 0);
        GlobalSettings settings;
        if (!settings.readFrom(stream)) {
            expectDefaults(settings);
            continue;
        }
        ++accepted;
        EXPECT_TRUE(settings.width >= 1 && settings.width <= GlobalSettings::maxDimension);
        EXPECT_TRUE(settings.height >= 1 && settings.height <= GlobalSettings::maxDimension);
        EXPECT_LE(settings.options.antialiasing, GlobalSettings::maxAntialiasing);
        EXPECT_LE(settings.options.fullScreen, 1u);
        EXPECT_LE(settings.name.length(), int32_t(bytes.size()));
        ASSERT_FALSE(HasFailure()) << "round " << round;
    }
    EXPECT_GT(accepted, 0);
}
