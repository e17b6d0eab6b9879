// The menu file: the builder's sample read back by the game's reader, the
// reader's edge cases, reloads, and damaged files.
#include "MenuStandIns.h"

#include "MenuFileWriter.h"
#include "MenuSamples.h"

#include "Menu/GameMenuIntro.h"

#include "Core/AudioFileRef.h"
#include "Core/FileArray.h"
#include "Core/MenuFile.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

using namespace MenuStandIn;

namespace {

std::wstring tempPath(const wchar_t* name)
{
    wchar_t folder[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, folder);
    return std::wstring(folder) + name;
}

void saveBytes(const std::wstring& path, const std::vector<uint8_t>& bytes)
{
    FileArray data(4096);
    if (!bytes.empty())
        data.write(bytes.data(), uint32_t(bytes.size()));
    ASSERT_TRUE(FileInterface::saveToFile(data, String(path.c_str())));
}

std::vector<uint8_t> written(const MenuFileWriter::Menu& menu)
{
    FileArray data(4096);
    EXPECT_TRUE(MenuFileWriter::write(data, menu));
    return std::vector<uint8_t>(data.memory(), data.memory() + data.size());
}

std::vector<uint8_t> streamBytes(FileArray& stream)
{
    return stream.size() ? std::vector<uint8_t>(stream.memory(), stream.memory() + stream.size())
                         : std::vector<uint8_t>();
}

// u32 words as a file.
std::vector<uint8_t> words(std::initializer_list<uint32_t> values)
{
    std::vector<uint8_t> out;
    for (uint32_t v : values)
        for (int i = 0; i < 4; ++i)
            out.push_back(uint8_t(v >> (8 * i)));
    return out;
}

int faceCount()
{
    UserInterface::UIFont* font = UserInterface::UIFont::global();
    return font ? font->faces.count() : 0;
}

class MenuFileRead : public testing::Test
{
protected:
    void SetUp() override
    {
        calls.clear();
        useStandIns(menu);
        menu.world = &world;
    }
    void loadBytes(const std::vector<uint8_t>& bytes)
    {
        saveBytes(path, bytes);
        menu.load(String(path.c_str()));
    }

    World world;
    GameMenu menu{nullptr};
    std::wstring path = tempPath(L"KorvantaMenuTest.mnu");
};

}

TEST_F(MenuFileRead, TheBuildersSampleReadsBackWhole)
{
    const MenuFileWriter::Menu sample = MenuSamples::sample();
    loadBytes(written(sample));
    for (int i = 0; i < 4; ++i) {
        ASSERT_NE(menu.sounds[i], nullptr) << i;
        EXPECT_EQ(menu.sounds[i]->type, Audio::FileRef::typeWav);
        EXPECT_EQ(menu.sounds[i]->name.length(), 10);
        EXPECT_EQ(menu.sounds[i]->source, &menu.soundStreams[i]);
        EXPECT_EQ(streamBytes(menu.soundStreams[i]), sample.sounds[i].file) << i;
    }
    EXPECT_NE(std::wstring(menu.sounds[0]->name.text()), std::wstring(menu.sounds[1]->name.text()));
    for (int i = 0; i < 3; ++i) {
        ASSERT_NE(menu.introScreens[i], nullptr);
        EXPECT_EQ(streamBytes(menu.introScreens[i]->image), sample.pages[i].image);
    }
    EXPECT_EQ(std::wstring(menu.mainBlock.quadPackage.text()), L"Quad");
    EXPECT_NE(menu.mainScreen, nullptr);
    EXPECT_NE(menu.chooseMapScreen, nullptr);
    EXPECT_NE(menu.gameModeScreen, nullptr);
    EXPECT_EQ(streamBytes(menu.tag9Block), sample.logo);
    EXPECT_EQ(std::wstring(menu.menuFile.text()), path);
    // The screens that do not depend on the file, in order, after the file's.
    EXPECT_EQ(joined(), "main:made chooseMap:made gameMode:made exit:made settings:made control:made "
                        "extendedControl:made graphics:made language:made myQuad:made chooseCountry:made");
    // The sample's images are the files the texture loader takes.
    EXPECT_EQ(sample.pages[0].image[0], 'B');
    EXPECT_EQ(sample.logo[1], 'P');
}

TEST_F(MenuFileRead, TheReadersEdgeCases)
{
    // An empty path before any load does nothing at all.
    menu.load(String(L""));
    EXPECT_EQ(menu.exitScreen, nullptr);
    EXPECT_EQ(menu.fonts[0], nullptr);

    struct Case
    {
        const char* what;
        std::vector<uint8_t> file;
        bool main;
        uint32_t sound0Type; // 99: no sound 0
    };
    std::vector<uint8_t> blockFirst = words({0, MenuFile::sound0Block, 4, 0x11223344, MenuFile::sound0Option, 1, 0});
    const Case cases[] = {
        {"header and tag 0", words({0, 0}), false, 99},
        {"tag 7 with 0 reads no block", words({0, MenuFile::mainScreen, 0, MenuFile::sound0Option, 2, 0}), false, 99},
        {"an unknown tag carries nothing",
         words({0, 99, MenuFile::sound0Option, 5, MenuFile::sound0Block, 2, 0x00004241, 0}), false, 5},
        {"a block before its option takes 0", blockFirst, false, 0},
        {"a Main block", words({0, MenuFile::mainScreen, 1, 1, 7, 4, 9, 0, 0}), true, 99},
    };
    for (const Case& c : cases) {
        GameMenu fresh{nullptr};
        useStandIns(fresh);
        saveBytes(path, c.file);
        fresh.load(String(path.c_str()));
        EXPECT_EQ(fresh.introScreens[0], nullptr) << c.what;
        EXPECT_EQ(fresh.mainScreen != nullptr, c.main) << c.what;
        for (GameMenu::Screen* screen : {fresh.exitScreen, fresh.settingsScreen, fresh.controlScreen,
                                         fresh.extendedControlScreen, fresh.graphicsScreen, fresh.languageScreen,
                                         fresh.myQuadScreen, fresh.chooseCountryScreen})
            EXPECT_NE(screen, nullptr) << c.what;
        if (c.sound0Type == 99) {
            EXPECT_EQ(fresh.sounds[0], nullptr) << c.what;
        } else {
            ASSERT_NE(fresh.sounds[0], nullptr) << c.what;
            EXPECT_EQ(fresh.sounds[0]->type, c.sound0Type) << c.what;
        }
        if (c.main) {
            EXPECT_EQ(fresh.mainBlock.values[0], 7u);
            EXPECT_EQ(fresh.mainBlock.values[3], 9u);
            EXPECT_EQ(std::wstring(fresh.mainBlock.quadPackage.text()), L"Quad") << "no tag 5 keeps the default";
        }
    }
    // A file that cannot be opened still makes the fonts and the screens
    // that do not depend on it.
    GameMenu missing{nullptr};
    useStandIns(missing);
    missing.load(String(L"Z:\\no such folder\\Menu.mnu"));
    EXPECT_NE(missing.settingsScreen, nullptr);
    EXPECT_EQ(missing.mainScreen, nullptr);
}

// A sound's option is kept wherever its tag stands: before its block,
// after it or with no block at all; a reference made before its option keeps
// the option it was made with. A cut keeps the options read before it.
TEST_F(MenuFileRead, SoundOptionsAreKeptInAnyOrder)
{
    struct Case
    {
        const char* what;
        std::vector<uint8_t> file;
        uint32_t options[4];
        uint32_t sound1Type; // 99: no sound 1
    };
    const Case cases[] = {
        {"options around blocks",
         words({0, 99, MenuFile::sound0Option, 5, MenuFile::extraBlock, 4, 0x01020304, MenuFile::sound1Block, 4,
                0x00004241, MenuFile::sound1Option, 2, 0}),
         {5, 2, 0, 0},
         0},
        {"every option without a block",
         words({0, MenuFile::sound3Option, 7, MenuFile::sound2Option, 6, MenuFile::sound1Option, 3,
                MenuFile::sound0Option, 1, 0}),
         {1, 3, 6, 7},
         99},
        {"a cut inside a later block",
         words({0, MenuFile::sound0Option, 5, MenuFile::sound1Option, 2, MenuFile::sound2Block, 400, 0x11223344}),
         {5, 2, 0, 0},
         99},
        {"a cut inside a later option", words({0, MenuFile::sound2Option, 4, MenuFile::sound3Option}), {0, 0, 4, 0},
         99},
    };
    for (const Case& c : cases) {
        GameMenu fresh{nullptr};
        useStandIns(fresh);
        saveBytes(path, c.file);
        fresh.load(String(path.c_str()));
        for (int i = 0; i < 4; ++i)
            EXPECT_EQ(fresh.soundTypes[i], c.options[i]) << c.what << ", sound " << i;
        if (c.sound1Type == 99) {
            EXPECT_EQ(fresh.sounds[1], nullptr) << c.what;
        } else {
            ASSERT_NE(fresh.sounds[1], nullptr) << c.what;
            EXPECT_EQ(fresh.sounds[1]->type, c.sound1Type) << c.what;
        }
        EXPECT_NE(fresh.settingsScreen, nullptr) << c.what;
    }
}

TEST_F(MenuFileRead, AReloadKeepsTheFacesAndScreensAndAddsNoReference)
{
    const MenuFileWriter::Menu sample = MenuSamples::sample();
    loadBytes(written(sample));
    UserInterface::UIFont::Face* faces[GameMenu::fontCount];
    std::copy(std::begin(menu.fonts), std::end(menu.fonts), faces);
    const int facesBefore = faceCount();
    GameMenu::Screen* main = menu.mainScreen;
    GameMenu::Intro* page = menu.introScreens[1];
    calls.clear();
    menu.load(String(L""));
    EXPECT_EQ(faceCount(), facesBefore);
    EXPECT_TRUE(std::equal(std::begin(faces), std::end(faces), menu.fonts));
    EXPECT_EQ(menu.mainScreen, main);
    EXPECT_EQ(menu.introScreens[1], page);
    EXPECT_EQ(joined(), "") << "no screen made again";
    // The five faces of the menu, in order.
    const struct
    {
        const wchar_t* name;
        int32_t points;
    } expected[GameMenu::fontCount] = {
        {L"Trebuchet MS", 24}, {L"Trebuchet MS", 19}, {L"Arial", 24}, {L"Trebuchet MS", 18}, {L"Trebuchet MS", 40}};
    for (int i = 0; i < GameMenu::fontCount; ++i) {
        ASSERT_NE(menu.fonts[i], nullptr);
        EXPECT_EQ(std::wstring(menu.fonts[i]->name.text()), expected[i].name) << i;
        EXPECT_EQ(menu.fonts[i]->pointSize, expected[i].points) << i;
    }
    // The references are new, over the refilled streams.
    for (int i = 0; i < 4; ++i) {
        ASSERT_NE(menu.sounds[i], nullptr);
        EXPECT_EQ(streamBytes(menu.soundStreams[i]), sample.sounds[i].file);
    }
}

TEST_F(MenuFileRead, CutAndMutatedFilesKeepWhatWasRead)
{
    const std::vector<uint8_t> whole = written(MenuSamples::sample());
    // The offset just past intro page 0's block: a cut after it keeps the page.
    const MenuFileWriter::Menu sample = MenuSamples::sample();
    for (size_t cut = 0; cut < whole.size(); cut += (cut < 64 || whole.size() - cut < 64) ? 1 : 997) {
        GameMenu fresh{nullptr};
        useStandIns(fresh);
        saveBytes(path, std::vector<uint8_t>(whole.begin(), whole.begin() + long(cut)));
        fresh.load(String(path.c_str()));
        for (int i = 0; i < 4; ++i)
            if (fresh.sounds[i]) {
                EXPECT_EQ(streamBytes(fresh.soundStreams[i]), sample.sounds[i].file) << cut;
            }
        for (int i = 0; i < 3; ++i) {
            if (fresh.introScreens[i] && fresh.introScreens[i]->image.size()) {
                EXPECT_EQ(streamBytes(fresh.introScreens[i]->image), sample.pages[i].image) << cut;
            }
        }
        EXPECT_NE(fresh.settingsScreen, nullptr);
    }
    // Mutations over the head of the file (the tags and sizes) and anywhere.
    std::mt19937 random(54);
    for (int round = 0; round < 300; ++round) {
        std::vector<uint8_t> bytes = whole;
        const int flips = 1 + int(random() % 8);
        for (int f = 0; f < flips; ++f) {
            const size_t at = round % 2 ? random() % 256 : random() % bytes.size();
            bytes[at] = uint8_t(random());
        }
        GameMenu fresh{nullptr};
        useStandIns(fresh);
        saveBytes(path, bytes);
        fresh.load(String(path.c_str()));
        uint64_t held = fresh.tag3Block.size() + fresh.tag9Block.size();
        for (FileArray& s : fresh.soundStreams)
            held += s.size();
        for (GameMenu::Intro* page : fresh.introScreens)
            if (page)
                held += page->image.size() + page->extra.size();
        EXPECT_LE(held, bytes.size()) << round;
    }
}

TEST(MenuFileWriter, PagesWithoutImagesAndEmptySoundsAreWrittenAsTheReaderExpects)
{
    MenuFileWriter::Menu menu;
    menu.pages[1].present = true;
    menu.pages[1].value = 42;
    menu.pages[1].extra = {1, 2, 3};
    menu.sounds[2].type = 2;
    menu.sounds[2].file = {9, 8, 7};
    menu.main = true;
    menu.quadPackage = "Racer";
    menu.gameMode = true;
    FileArray data(4096);
    ASSERT_TRUE(MenuFileWriter::write(data, menu));
    const std::wstring path = tempPath(L"KorvantaMenuWriter.mnu");
    ASSERT_TRUE(FileInterface::saveToFile(data, String(path.c_str())));
    GameMenu read{nullptr};
    useStandIns(read);
    read.load(String(path.c_str()));
    ASSERT_NE(read.introScreens[1], nullptr);
    EXPECT_EQ(read.introScreens[0], nullptr);
    EXPECT_EQ(read.introScreens[1]->value, 42u);
    EXPECT_EQ(read.introScreens[1]->image.size(), 0u);
    EXPECT_EQ(streamBytes(read.introScreens[1]->extra), std::vector<uint8_t>({1, 2, 3}));
    ASSERT_NE(read.sounds[2], nullptr);
    EXPECT_EQ(read.sounds[2]->type, 2u);
    EXPECT_EQ(read.sounds[0], nullptr);
    EXPECT_EQ(std::wstring(read.mainBlock.quadPackage.text()), L"Racer");
    EXPECT_NE(read.gameModeScreen, nullptr);
    EXPECT_EQ(read.chooseMapScreen, nullptr);
}
