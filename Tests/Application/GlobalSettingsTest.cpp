#include "AppTestFiles.h"

#include "Application/GlobalSettings.h"
#include "Core/FileArray.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>

using AppTestFiles::putU32;

namespace {

// The stored form of the settings, built by hand from the file layout.
std::vector<uint8_t> storedSettings(uint32_t width, uint32_t height, const uint32_t options[5], const char* name,
                                    const uint8_t four[4])
{
    std::vector<uint8_t> bytes = {'v', '1', '.', '0'};
    putU32(bytes, 1);
    putU32(bytes, width);
    putU32(bytes, height);
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

std::vector<uint8_t> defaultFile()
{
    const uint32_t options[5] = {0, 1, 1, 0, 2};
    const uint8_t four[4] = {0x20, 0x09, 0xFF, 0xFF};
    return storedSettings(1024, 768, options, "", four);
}

void expectDefaults(const GlobalSettings& settings)
{
    EXPECT_EQ(settings.width, 1024u);
    EXPECT_EQ(settings.height, 768u);
    EXPECT_FLOAT_EQ(settings.aspect, 1.3333334f);
    const uint32_t expected[8] = {0, 1, 1, 0, 1, 2, 0, 9};
    EXPECT_EQ(memcmp(&settings.options, expected, sizeof(expected)), 0);
    EXPECT_EQ(settings.name.length(), 0);
    const uint8_t four[4] = {0x20, 0x09, 0xFF, 0xFF};
    EXPECT_EQ(memcmp(settings.fourBytes, four, 4), 0);
}

class GlobalSettingsFile : public ::testing::Test
{
protected:
    void SetUp() override
    {
        const char* test = ::testing::UnitTest::GetInstance()->current_test_info()->name();
        folder = AppTestFiles::freshFolder(std::wstring(test, test + strlen(test)));
        path = folder + L"gset.dat";
    }

    std::wstring folder;
    std::wstring path;
};

} // namespace

TEST(GlobalSettings, DefaultsAndShadowFactor)
{
    GlobalSettings settings;
    expectDefaults(settings);
    EXPECT_FLOAT_EQ(settings.shadowFactor(), 1.0f);
    settings.options.shadowOption = 1;
    EXPECT_FLOAT_EQ(settings.shadowFactor(), 0.0f);
}

TEST_F(GlobalSettingsFile, FirstLoadWritesTheDefaultsFile)
{
    GlobalSettings settings(String(folder.c_str()));
    EXPECT_EQ(settings.load(), GlobalSettings::LoadResult::Missing);
    EXPECT_EQ(AppTestFiles::read(path), defaultFile());
    EXPECT_FALSE(AppTestFiles::exists(path + L".tmp"));
    expectDefaults(settings);
}

TEST_F(GlobalSettingsFile, EveryStoredTagRoundTripsAndTheAspectFollowsTheSize)
{
    GlobalSettings written(String(folder.c_str()));
    written.width = 1280;
    written.height = 1024;
    written.options = {3, 0, 0, 1, 7, 1, 5, 4};
    written.name = String(L"Quad Racer");
    const uint8_t four[4] = {1, 2, 3, 4};
    memcpy(written.fourBytes, four, 4);
    ASSERT_TRUE(written.writeFile());

    const uint32_t stored[5] = {3, 0, 0, 1, 1};
    EXPECT_EQ(AppTestFiles::read(path), storedSettings(1280, 1024, stored, "Quad Racer", four));

    GlobalSettings read(String(folder.c_str()));
    EXPECT_EQ(read.load(), GlobalSettings::LoadResult::Read);
    EXPECT_EQ(read.width, 1280u);
    EXPECT_EQ(read.height, 1024u);
    // Not stored: recomputed from the size instead of staying 4:3.
    EXPECT_FLOAT_EQ(read.aspect, 1.25f);
    EXPECT_EQ(read.options.antialiasing, 3u);
    EXPECT_EQ(read.options.fullScreen, 0u);
    EXPECT_EQ(read.options.option2, 0u);
    EXPECT_EQ(read.options.option3, 1u);
    EXPECT_EQ(read.options.shadowOption, 1u);
    // Options 4, 6 and 7 are not in the file: they keep their defaults.
    EXPECT_EQ(read.options.option4, 1u);
    EXPECT_EQ(read.options.option6, 0u);
    EXPECT_EQ(read.options.option7, 9u);
    EXPECT_STREQ(read.name.text(), L"Quad Racer");
    EXPECT_EQ(memcmp(read.fourBytes, four, 4), 0);
    EXPECT_FALSE(AppTestFiles::exists(path + L".bad"));
}

TEST_F(GlobalSettingsFile, SavingReplacesAnExistingFileWithoutLeavingTheTemporary)
{
    ASSERT_TRUE(AppTestFiles::write(path, std::vector<uint8_t>(300, 0xAB)));
    GlobalSettings settings(String(folder.c_str()));
    ASSERT_TRUE(settings.writeFile());
    EXPECT_EQ(AppTestFiles::read(path), defaultFile());
    EXPECT_FALSE(AppTestFiles::exists(path + L".tmp"));
}

TEST_F(GlobalSettingsFile, AFileEndingAtItsFirstTagChangesNothing)
{
    std::vector<uint8_t> bytes = {'v', '1', '.', '0'};
    putU32(bytes, 0);
    ASSERT_TRUE(AppTestFiles::write(path, bytes));
    GlobalSettings settings(String(folder.c_str()));
    EXPECT_EQ(settings.load(), GlobalSettings::LoadResult::Read);
    expectDefaults(settings);
    EXPECT_EQ(AppTestFiles::read(path), bytes);
}

// Each broken file gives the defaults, is kept beside as "gset.dat.bad" and is
// replaced by a file of the defaults.
TEST_F(GlobalSettingsFile, BrokenFilesAreKeptAsideAndGiveTheDefaults)
{
    const std::vector<uint8_t> valid = [] {
        const uint32_t options[5] = {1, 0, 0, 0, 1};
        const uint8_t four[4] = {9, 9, 9, 9};
        return storedSettings(800, 600, options, "abc", four);
    }();
    std::vector<std::pair<const char*, std::vector<uint8_t>>> cases;
    cases.push_back({"empty", {}});
    cases.push_back({"wrong mark", [&] { auto b = valid; b[0] = 'x'; return b; }()});
    for (size_t cut : {size_t(3), size_t(4), size_t(10), size_t(16), valid.size() - 9, valid.size() - 1})
        cases.push_back({"cut", std::vector<uint8_t>(valid.begin(), valid.begin() + long(cut))});
    cases.push_back({"oversized", [&] {
                         auto b = valid;
                         b.resize(GlobalSettings::maxFileSize + 1, 0);
                         return b;
                     }()});
    auto withField = [&](uint32_t tag, uint32_t a, uint32_t b) {
        std::vector<uint8_t> bytes = {'v', '1', '.', '0'};
        putU32(bytes, tag);
        putU32(bytes, a);
        putU32(bytes, b);
        putU32(bytes, 0);
        return bytes;
    };
    cases.push_back({"unknown tag", withField(11, 1, 2)});
    cases.push_back({"zero width", withField(1, 0, 600)});
    cases.push_back({"huge height", withField(1, 800, 0x7FFFFFFF)});
    cases.push_back({"antialiasing shift", withField(2, 40, 0)});
    cases.push_back({"full screen word", withField(3, 7, 0)});
    cases.push_back({"name longer than the file", withField(8, 0x7FFFFFF0, 0)});
    std::mt19937 random(1234);
    std::vector<uint8_t> garbage(200);
    for (auto& byte : garbage)
        byte = uint8_t(random());
    cases.push_back({"garbage", garbage});

    for (const auto& [label, bytes] : cases) {
        SCOPED_TRACE(label);
        DeleteFileW((path + L".bad").c_str());
        ASSERT_TRUE(AppTestFiles::write(path, bytes));
        GlobalSettings settings(String(folder.c_str()));
        EXPECT_EQ(settings.load(), GlobalSettings::LoadResult::Rejected);
        expectDefaults(settings);
        EXPECT_EQ(AppTestFiles::read(path + L".bad"), bytes);
        EXPECT_EQ(AppTestFiles::read(path), defaultFile());
    }
}

TEST(GlobalSettings, MutatedFilesNeverGiveValuesOutsideTheirBounds)
{
    const uint32_t options[5] = {2, 0, 1, 1, 2};
    const uint8_t four[4] = {1, 2, 3, 4};
    const std::vector<uint8_t> valid = storedSettings(1920, 1080, options, "Name", four);
    std::mt19937 random(77);
    int accepted = 0;
    for (int round = 0; round < 400; ++round) {
        std::vector<uint8_t> bytes = valid;
        const int flips = 1 + int(random() % 4);
        for (int i = 0; i < flips; ++i)
            bytes[random() % bytes.size()] = uint8_t(random());
        if (random() % 4 == 0)
            bytes.resize(random() % bytes.size());
        FileArray stream(64);
        if (!bytes.empty())
            stream.write(bytes.data(), uint32_t(bytes.size()));
        stream.seek(0, 0);
        GlobalSettings settings;
        if (settings.readFrom(stream)) {
            ++accepted;
            EXPECT_GE(settings.width, 1u);
            EXPECT_LE(settings.width, GlobalSettings::maxDimension);
            EXPECT_GE(settings.height, 1u);
            EXPECT_LE(settings.height, GlobalSettings::maxDimension);
            EXPECT_LE(settings.options.antialiasing, GlobalSettings::maxAntialiasing);
            EXPECT_LE(settings.options.fullScreen, 1u);
            EXPECT_LE(settings.name.length(), int32_t(bytes.size()));
        } else {
            expectDefaults(settings);
        }
    }
    // Flips inside values (the name, the four bytes, options) still read.
    EXPECT_GT(accepted, 0);
}
