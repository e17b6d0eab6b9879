// The game menu on the real device and the silent sound device: the
// loading ring read back, its capture, the intro page, the menu sounds, race
// loads and refusals, and where the refusal notice stands on each screen.
// With KORVANTA_SCREENSHOTS naming a folder the frames are kept there.
#include "MenuMapFolder.h"
#include "MenuStandIns.h"
#include "MenuTestSupport.h"

#include "../Application/AppTestFiles.h"
#include "../Render/TestDevice.h"

#include "MenuFileWriter.h"
#include "MenuSamples.h"

#include "Menu/GameMenuGraphics.h"
#include "Menu/GameMenuIntro.h"
#include "Menu/GameMenuLoadingScreen.h"
#include "Menu/GameMenuText.h"
#include "Menu/Panel.h"

#include "Application/LanguageSetup.h"
#include "Audio/Audio.h"
#include "Audio/AudioFile.h"
#include "Audio/SoundInterface.h"
#include "Landscape/Scene.h"
#include "Render/ScreenResolution.h"
#include "Way/WayModeler.h"

#include "Core/Language.h"
#include "Core/Timer.h"

#include <d3dx9.h>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

using namespace TestDevice;

namespace {

bool isRed(uint32_t pixel)
{
    return (pixel & 0xFFFFFF) == 0xFF0920;
}
bool isGrey(uint32_t pixel)
{
    return (pixel & 0xFFFFFF) == 0x646464;
}

void keep(const char* name, IDirect3DSurface9* surface)
{
    const char* folder = std::getenv("KORVANTA_SCREENSHOTS");
    if (folder && *folder)
        D3DXSaveSurfaceToFileA((std::string(folder) + "/Menu-" + name + ".png").c_str(), D3DXIFF_PNG, surface,
                               nullptr, nullptr);
}

std::wstring samplePath()
{
    wchar_t folder[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, folder);
    return std::wstring(folder) + L"KorvantaDeviceMenu.mnu";
}

class GameMenuDevice : public DeviceSuite
{
protected:
    void SetUp() override
    {
        scene.swapChain = &chain();
        menu.world = &world;
    }
    void TearDown() override
    {
        chain().progress = 0.0f;
        // The packages and the modelers go while the device lives.
        scene.release();
    }

    // The game's side of a race as start-up makes it: the road modelers, the
    // packages listed and the race's object types found among them; the
    // valley then holds a race the menu lets start.
    void withTheGamesPackages()
    {
        createWayModelerSet();
        scene.objectPackages.loadFolder(String((std::wstring(getModuleFolder().text()) + L"..\\Objects\\").c_str()));
        scene.game.loadObjectTypes(scene.objectManager, Game::packageNames, Game::startVehicleScale);
    }

    // One loading frame of the overlay, read back before it is presented.
    static Level loadingFrame(GameMenu::LoadingScreen& screen, const char* name)
    {
        chain().beginFrame();
        gDevice->BeginScene();
        screen.draw();
        gDevice->EndScene();
        Level pixels = readSurface(chain().targets[0].surface);
        keep(name, chain().targets[0].surface);
        chain().present();
        return pixels;
    }

    // A windowed back buffer of that size on the suite's device.
    static void resizeBackBuffer(intvec2d size)
    {
        D3DPRESENT_PARAMETERS parameters{};
        D3D::Device::fillPresentParameters(gDirectGraphics.record.presentSettings, window, false, parameters);
        parameters.BackBufferWidth = UINT(size.x);
        parameters.BackBufferHeight = UINT(size.y);
        D3D::Device::reset(gDirectGraphics.record, &parameters);
    }

    // One frame of the interface pass over opaque black, read back.
    static Level interfaceFrame(bool keepIt)
    {
        chain().beginFrame();
        gDevice->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF000000, 1.0f, 0);
        chain().render(true);
        Level pixels = readSurface(chain().targets[0].surface);
        if (keepIt)
            keepView(chain().targets[0].surface);
        chain().present();
        return pixels;
    }

    MenuStandIn::World world;
    Scene scene{String(L"Korvanta"), 3500.0f};
    GameMenu menu{&scene};
};

// Every display mode the graphics screen lets the player choose from list:
// the one it starts at (the nearest to the running 320 x 240, the list's
// first), then each its right key leads to.
std::vector<intvec2d> offeredModes(GameMenu& menu, ScreenResolution& list)
{
    GameMenu::Graphics screen(menu);
    screen.modes = &list;
    screen.enter(GameMenu::settingsState);
    std::vector<intvec2d> offered;
    for (int32_t i = 0; i < list.count(); ++i, screen.onKeyRight())
        offered.push_back({screen.modeWidth, screen.modeHeight});
    screen.close();
    return offered;
}

bool overlaps(const UserInterface::Rect& a, const UserInterface::Rect& b)
{
    return std::max(a.left, b.left) < std::min(a.right, b.right) && std::max(a.top, b.top) < std::min(a.bottom, b.bottom);
}

}

TEST_F(GameMenuDevice, TheLoadingRingIsReadBackRedUpToTheProgress)
{
    menu.fonts[0] = UserInterface::UIFont::global()->createFace(String(L"Arial"), 24, 700, 0, -1, {}, 0.3f, 0);
    GameMenu::LoadingScreen screen(menu);
    ASSERT_NE(screen.text, nullptr);
    screen.text->setText(String(L"LOADING"));
    chain().progress = 0.5f;
    const Level pixels = loadingFrame(screen, "Loading");
    ASSERT_EQ(pixels.width, 320u);
    // 320 x 240: radius 40 outside, 5 inside, centred at (160, 120).
    const int cx = 160, cy = 120, mid = 22;
    EXPECT_TRUE(isRed(pixels.at(cx + 2, cy - mid))) << "12 o'clock";
    EXPECT_TRUE(isRed(pixels.at(cx + mid, cy + 2))) << "3 o'clock";
    EXPECT_TRUE(isGrey(pixels.at(cx - mid, cy - 2))) << "9 o'clock";
    EXPECT_TRUE(isGrey(pixels.at(cx - 8, cy - mid))) << "just before 12";
    EXPECT_EQ(pixels.at(cx, cy) & 0xFFFFFF, 0u) << "black inside";
    EXPECT_EQ(pixels.at(10, 10) & 0xFFFFFF, 0u) << "black outside";
    // "Loading" stands under the ring.
    int ink = 0;
    for (uint32_t y = uint32_t(cy + 40); y < pixels.height; ++y)
        for (uint32_t x = 0; x < pixels.width; ++x)
            ink += (pixels.at(x, y) & 0xFFFFFF) != 0;
    EXPECT_GT(ink, 20);

    // The capture is the same picture, in "ScreenTex".
    TextureRef captured;
    ASSERT_TRUE(screen.capture(320, 240, captured));
    ASSERT_NE(captured.texture()->name, nullptr);
    EXPECT_EQ(std::wstring(captured.texture()->name->text()), L"ScreenTex");
    const Level copy = readLevel(captured);
    ASSERT_EQ(copy.texels.size(), pixels.texels.size());
    size_t differ = 0;
    for (size_t i = 0; i < copy.texels.size(); ++i)
        differ += (copy.texels[i] & 0xFFFFFF) != (pixels.texels[i] & 0xFFFFFF);
    EXPECT_EQ(differ, 0u);
    UserInterface::UIFont::global()->releaseFace(menu.fonts[0]);
    menu.fonts[0] = nullptr;
}

TEST_F(GameMenuDevice, AnIntroPageStandsCentredAsASquareOfTheScreensHeight)
{
    ASSERT_TRUE(MenuFileWriter::save(MenuSamples::sample(), String(samplePath().c_str())));
    menu.load(String(samplePath().c_str()));
    ASSERT_NE(menu.introScreens[0], nullptr);
    MenuStandIn::Clock clock(100);
    menu.startIntro();
    GameMenu::Intro& page = *menu.introScreens[0];
    EXPECT_TRUE(page.enabled);
    IDirect3DTexture9* picture = page.texture.texture()->texture;
    ASSERT_NE(picture, nullptr) << "the page's image loaded";
    EXPECT_EQ(picture->GetLevelCount(), 1u);
    D3DSURFACE_DESC level{};
    picture->GetLevelDesc(0, &level);
    EXPECT_EQ(level.Format, D3DFMT_DXT1);
    EXPECT_EQ(std::wstring(page.texture.texture()->name->text()), L"Intro01");
    // The size follows the back buffer: 1280 x 1024 gives 1024 at x 128.
    D3DPRESENT_PARAMETERS saved = chain().presentParameters;
    chain().presentParameters.BackBufferWidth = 1280;
    chain().presentParameters.BackBufferHeight = 1024;
    page.update();
    EXPECT_EQ(page.x, 128);
    EXPECT_EQ(page.textureWidth, 1024.0f);
    EXPECT_EQ(page.textureHeight, 1024.0f);
    chain().presentParameters = saved;
    page.update();
    EXPECT_EQ(page.x, 40);
    page.colour.a = 255;
    page.opacity = 1.0f;
    page.fadeMode = UserInterface::Widget::fadeNone;
    chain().beginFrame();
    gDevice->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF0000FF, 1.0f, 0);
    gDevice->BeginScene();
    menu.render();
    gDevice->EndScene();
    const Level pixels = readSurface(chain().targets[0].surface);
    keep("Intro", chain().targets[0].surface);
    chain().present();
    // The page covers 40..279; the clear colour stays on both sides.
    EXPECT_EQ(pixels.at(20, 120) & 0xFFFFFF, 0x0000FFu);
    EXPECT_EQ(pixels.at(300, 120) & 0xFFFFFF, 0x0000FFu);
    EXPECT_NE(pixels.at(60, 120) & 0xFFFFFF, 0x0000FFu);
    EXPECT_NE(pixels.at(260, 200) & 0xFFFFFF, 0x0000FFu);
    // Past its second the page ends and the next one shows.
    MenuStandIn::clockNow += GameMenu::Intro::showMilliseconds + 1;
    menu.update();
    EXPECT_EQ(menu.menuState, 1);
    menu.releaseSounds();
}

TEST_F(GameMenuDevice, TheMenuSoundsPlayOnTheSilentDevice)
{
    Audio::init(GetDesktopWindow());
    ASSERT_TRUE(Audio::isEnabled());
    {
        ASSERT_TRUE(MenuFileWriter::save(MenuSamples::sample(), String(samplePath().c_str())));
        GameMenu sounding{&scene};
        sounding.load(String(samplePath().c_str()));
        for (int i = 0; i < 4; ++i)
            sounding.playSound(i);
        int playing = 0;
        for (auto* node = Audio::SoundInterface::list().head(); node; node = node->next)
            playing += node->item && node->item->file && node->item->state == Audio::SoundInterface::playing;
        EXPECT_EQ(playing, 4);
        int files = 0;
        for (auto* node = Audio::AudioFile::list().head(); node; node = node->next) {
            Audio::AudioFile& file = *node->item;
            for (int i = 0; i < 4; ++i)
                if (sounding.sounds[i] && file.name.sameText(sounding.sounds[i]->name)) {
                    ++files;
                    EXPECT_NE(file.master, nullptr);
                    EXPECT_EQ(file.description.dwSize, sizeof(DSBUFFERDESC));
                    EXPECT_EQ(file.description.dwFlags, DWORD(0x48180));
                }
        }
        EXPECT_EQ(files, 4);
        // The release unloads the files before it frees the names.
        sounding.releaseSounds();
        for (auto* node = Audio::AudioFile::list().head(); node; node = node->next)
            for (int i = 0; i < 4; ++i)
                EXPECT_EQ(sounding.sounds[i], nullptr);
        EXPECT_EQ(Audio::AudioFile::list().count(), 0);
    }
    Audio::release();
}

TEST_F(GameMenuDevice, ASoloRaceLoadsTheValleyBehindTheLoadingScreenAndTheWayBackEmptiesIt)
{
    MenuStandIn::calls.clear();
    MenuStandIn::useStandIns(menu);
    GameMenu::World real(&scene);
    menu.world = &real;
    ASSERT_TRUE(MenuFileWriter::save(MenuSamples::sample(), String(samplePath().c_str())));
    menu.load(String(samplePath().c_str()));
    menu.showLogo();
    MenuStandIn::Screen& map = *MenuStandIn::as(menu.chooseMapScreen);
    map.mapName = String((std::wstring(getModuleFolder().text()) + L"..\\Data\\Map\\Valley.tee").c_str());
    map.daytime = 15; // Sunset
    withTheGamesPackages();
    int loadFrames = 0;
    float progressSeen = 0.0f;
    client->loadFrame = [&] {
        ++loadFrames;
        progressSeen = chain().progress;
        ASSERT_NE(menu.loadingScreen, nullptr);
        menu.loadingScreen->draw();
    };
    menu.openScreen(GameMenu::chooseMapState);
    menu.openScreen(GameMenu::soloRaceState);
    client->loadFrame = nullptr;
    EXPECT_EQ(menu.menuState, GameMenu::noScreen);
    EXPECT_TRUE(scene.loaded);
    EXPECT_GT(loadFrames, 2);
    EXPECT_GT(progressSeen, 0.5f);
    EXPECT_EQ(chain().progress, 0.0f) << "the load's progress is cleared";
    // The hour of the choice stands before the first frame of the race.
    EXPECT_FLOAT_EQ(scene.timeOfDay, 18.5f);
    EXPECT_EQ(scene.game.choice.daytime, 2);
    for (int32_t state = 0; state <= GameMenu::extendedControlState; ++state)
        EXPECT_EQ(menu.screenOf(state), nullptr) << state;
    EXPECT_EQ(menu.logoPanel, nullptr);
    EXPECT_EQ(menu.loadingScreen, nullptr);
    // The capture lives on in the transition alone, the preview waits.
    EXPECT_NE(menu.mapPreviewScreen, nullptr);
    ASSERT_NE(menu.disperseScreen, nullptr);
    delete menu.disperseScreen;
    menu.disperseScreen = nullptr;
    TextureRef kept;
    EXPECT_FALSE(Texture::findByName(kept, String(L"ScreenTex"))) << "the capture's reference is let go";

    menu.returnToMenu(GameMenu::chooseMapState);
    EXPECT_FALSE(scene.loaded);
    ASSERT_NE(menu.chooseMapScreen, nullptr);
    EXPECT_EQ(menu.menuState, GameMenu::chooseMapState);
    EXPECT_EQ(MenuStandIn::count("chooseMap:made"), 2);
    menu.releaseSounds();
}

TEST_F(GameMenuDevice, ARaceStartsWhenThePreviewClosesAndItsResultsLeadBackToTheMapChoice)
{
    MenuStandIn::calls.clear();
    MenuStandIn::useStandIns(menu);
    menu.makers[GameMenu::raceResultsKind] = GameMenu::defaultMakers[GameMenu::raceResultsKind];
    GameMenu::World real(&scene);
    menu.world = &real;
    ASSERT_TRUE(MenuFileWriter::save(MenuSamples::sample(), String(samplePath().c_str())));
    menu.load(String(samplePath().c_str()));
    MenuStandIn::as(menu.chooseMapScreen)->mapName =
        String((std::wstring(getModuleFolder().text()) + L"..\\Data\\Map\\Valley.tee").c_str());
    withTheGamesPackages();
    MenuStandIn::Clock clock{1000};
    menu.openScreen(GameMenu::chooseMapState);
    menu.openScreen(GameMenu::soloRaceState);
    ASSERT_TRUE(scene.loaded);
    ASSERT_NE(menu.mapPreviewScreen, nullptr);
    ASSERT_NE(menu.disperseScreen, nullptr);
    EXPECT_EQ(scene.game.phase, 0u) << "no race before the preview closes";
    // Frames with the interface pass: the transition turns away, the preview
    // closes after its 30 seconds and goes with the closing transition.
    gFrameFactor.store(4.0f);
    for (int i = 0; i < 200 && menu.mapPreviewScreen; ++i) {
        MenuStandIn::clockNow += 250;
        menu.update();
        chain().beginFrame();
        gDevice->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0, 1.0f, 0);
        chain().render(true);
        chain().present();
    }
    gFrameFactor.store(1.0f);
    EXPECT_EQ(menu.mapPreviewScreen, nullptr);
    EXPECT_GE(scene.game.phase, 1u) << "the preview's close set the race up";
    EXPECT_EQ(scene.tourA, 0u);

    // The race ends: accelerate shows the results, and once they are faded
    // in leads back to the map choice.
    scene.game.phase = 4;
    menu.onRaceFinished();
    ASSERT_NE(menu.raceResultsScreen, nullptr);
    EXPECT_EQ(menu.menuState, GameMenu::raceResultsState);
    menu.raceResultsScreen->opacity = 1.0f;
    menu.onRaceFinished();
    menu.update();
    EXPECT_EQ(menu.raceResultsScreen, nullptr);
    EXPECT_EQ(menu.menuState, GameMenu::chooseMapState);
    EXPECT_FALSE(scene.loaded);
    EXPECT_EQ(scene.game.phase, 0u);
    menu.releaseSounds();
    menu.releaseSmoothing();
}

// A copy of a championship map with its ways cut in half or its objects at
// 0 bytes, or beside a gate package cut in half: the solo race is refused on
// the map choice it was asked from, with a word in the player's language at
// the foot of the next frame for a while, and no file of the copy touched.
TEST_F(GameMenuDevice, AMapThatCannotBeRacedIsRefusedWithAWordAndLeftAsItWas)
{
    Language language;
    LanguageSetup::run(language, nullptr, 0x0409);
    Language* const previousLanguage = gLanguage;
    gLanguage = &language;
    MenuStandIn::useStandIns(menu);
    GameMenu::World real(&scene);
    menu.world = &real;
    ASSERT_TRUE(MenuFileWriter::save(MenuSamples::sample(), String(samplePath().c_str())));
    menu.load(String(samplePath().c_str()));
    createWayModelerSet();
    MenuStandIn::Clock clock{1000};
    const std::wstring built = std::wstring(getModuleFolder().text()) + L"..\\";
    for (const wchar_t* damaged : {L"Map\\AFOasenring.obj", L"Map\\AFOasenring.way", L"Objects\\Gate.teo"}) {
        SCOPED_TRACE(std::string(damaged, damaged + wcslen(damaged)));
        std::map<std::wstring, std::vector<uint8_t>> files;
        const std::wstring copy = AppTestFiles::freshFolder(L"RefusedMap");
        for (const wchar_t* folder : {L"Map\\", L"Objects\\"}) {
            CreateDirectoryW((copy + folder).c_str(), nullptr);
            const std::wstring from = built + (folder[0] == L'M' ? L"Data\\" : L"") + folder;
            WIN32_FIND_DATAW found;
            HANDLE search = FindFirstFileW((from + (folder[0] == L'M' ? L"AFOasenring.*" : L"*.teo")).c_str(), &found);
            for (bool more = search != INVALID_HANDLE_VALUE; more; more = FindNextFileW(search, &found))
                files[copy + folder + found.cFileName] = AppTestFiles::read(from + found.cFileName);
            FindClose(search);
        }
        // The objects at 0 bytes, the others cut in half.
        std::vector<uint8_t>& cut = files[copy + damaged];
        cut.resize(std::wstring(damaged).ends_with(L".obj") ? 0 : cut.size() / 2);
        for (const auto& [path, bytes] : files)
            ASSERT_TRUE(AppTestFiles::write(path, bytes));
        scene.objectPackages.loadFolder(String((copy + L"Objects\\").c_str()));
        scene.game.loadObjectTypes(scene.objectManager, Game::packageNames, Game::startVehicleScale);
        MenuStandIn::as(menu.chooseMapScreen)->mapName = String((copy + L"Map\\AFOasenring.tee").c_str());
        menu.openScreen(GameMenu::chooseMapState);
        menu.openScreen(GameMenu::soloRaceState);
        EXPECT_EQ(menu.menuState, GameMenu::chooseMapState);
        EXPECT_FALSE(scene.loaded);
        ASSERT_NE(menu.noticeText, nullptr);
        EXPECT_EQ(std::wstring(menu.noticeText->text()), L"MAP CANNOT BE RACED: ITS FILES ARE DAMAGED OR MISSING");
        // Orange at the foot of the frame, nowhere above it.
        menu.update();
        chain().beginFrame();
        gDevice->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0, 1.0f, 0);
        chain().render(true);
        const Level pixels = readSurface(chain().targets[0].surface);
        keepView(chain().targets[0].surface);
        chain().present();
        int orange[2] = {};
        uint32_t left = pixels.width, right = 0;
        for (uint32_t y = 0; y < pixels.height; ++y)
            for (uint32_t x = 0; x < pixels.width; ++x) {
                const uint32_t p = pixels.at(x, y);
                const bool ink = (p >> 16 & 0xFF) > 150 && (p >> 8 & 0xFF) > 60 && (p & 0xFF) < 60;
                orange[y > pixels.height * 3 / 4] += ink;
                left = ink ? std::min(left, x) : left;
                right = ink ? std::max(right, x) : right;
            }
        EXPECT_EQ(orange[0], 0);
        EXPECT_GT(orange[1], 50);
        EXPECT_NEAR(double(left + right) / 2.0, pixels.width / 2.0, 8.0) << "centred";
        for (const auto& [path, bytes] : files)
            EXPECT_EQ(AppTestFiles::read(path), bytes);
        // It stands for eight seconds, at five frames a second too: forty
        // frames; a long frame (a slow machine, or a screen built anew)
        // takes no more of its time than a fifth of a second.
        MenuStandIn::clockNow += 3000;
        menu.update();
        for (int frame = 1; frame < 40; ++frame) {
            ASSERT_NE(menu.noticeText, nullptr) << "frame " << frame;
            MenuStandIn::clockNow += 200;
            menu.update();
        }
        EXPECT_NE(menu.noticeText, nullptr);
        MenuStandIn::clockNow += 1;
        menu.update();
        EXPECT_EQ(menu.noticeText, nullptr);
    }
    scene.objectPackages.clear();
    menu.releaseSounds();
    gLanguage = previousLanguage;
}

// The refusal notice on the screen the menu goes back to, at every display
// mode the graphics screen offers over the adapter's modes (under Wine and
// Xvfb only 1024 x 768) and common ones, each on a back buffer of its size.
// Its drawn pixels (the frame with it against the same frame without it)
// meet no widget shown as drawn in that frame, and stand at the foot where
// the screen leaves room there; also over a backdrop, above a picture across
// the foot (not once it is hidden). A frame without a free band still shows
// it at the foot.
TEST_F(GameMenuDevice, TheRefusalNoticeStandsClearOfTheWidgetsOfTheScreenAtEveryOfferedMode)
{
    Language language;
    LanguageSetup::run(language, nullptr, 0x0409);
    Language* const previousLanguage = gLanguage;
    gLanguage = &language;
    MenuMaps::Folder maps{L"KorvantaRefusalNotice"};
    ASSERT_TRUE(maps.level(L"de.tee", L"DE Red", L"DE", 1));
    MenuMaps::Application application(maps);
    menu.callbacks = &application;
    menu.makers[GameMenu::chooseMapKind] = MenuStandIn::makeScreen<GameMenu::chooseMapKind>;
    ASSERT_TRUE(MenuFileWriter::save(MenuSamples::sample(), String(samplePath().c_str())));
    menu.load(String(samplePath().c_str()));
    world.loads = false; // every map's files are missing
    MenuStandIn::Clock clock{1000};
    std::vector<intvec2d> listed{{800, 600},   {1024, 768},  {1280, 720},  {1280, 1024}, {1366, 768},
                                 {1600, 900},  {1920, 1080}, {1920, 1200}, {2560, 1440}};
    for (int32_t i = 0; i < gDirectGraphics.modes.count(); ++i)
        listed.push_back(gDirectGraphics.modes.modeAt(i));
    ScreenResolution list;
    list.setModes(listed.data(), int32_t(listed.size()));

    UserInterface::Panel extra(&chain(), -1, 1.0f, 0.0f);
    extra.colour = Color(20, 30, 90, 255);
    enum Extra { nothing, backdrop, footPicture, hiddenFootPicture, noFreeBand };
    const auto expectClear = [&](Extra kind, bool keepIt) {
        SCOPED_TRACE(testing::Message() << "extra " << int(kind));
        const int32_t width = int32_t(chain().presentParameters.BackBufferWidth);
        const int32_t height = int32_t(chain().presentParameters.BackBufferHeight);
        extra.x = kind == noFreeBand ? 1 : 0;
        extra.y = kind == backdrop ? 0 : kind == noFreeBand ? 1 : height - 60;
        extra.textureWidth = float(width - extra.x);
        extra.textureHeight = float(height - extra.y);
        extra.enabled = kind != nothing;
        if (kind == hiddenFootPicture) {
            interfaceFrame(false);
            extra.enabled = 0;
        }
        // The screen lays itself out; then nothing fades or pulses between
        // the two frames.
        menu.update();
        gFrameFactor.store(0.0f);
        const Level shown = interfaceFrame(keepIt);
        menu.noticeText->disable();
        const Level without = interfaceFrame(false);
        menu.noticeText->enable();
        gFrameFactor.store(1.0f);
        UserInterface::Rect box{width, height, 0, 0};
        for (size_t i = 0; i < shown.texels.size(); ++i)
            if ((shown.texels[i] ^ without.texels[i]) & 0xFFFFFF) {
                const int32_t x = int32_t(i % shown.width), y = int32_t(i / shown.width);
                box = {std::min(box.left, x), std::min(box.top, y), std::max(box.right, x + 1),
                       std::max(box.bottom, y + 1)};
            }
        ASSERT_LT(box.left, box.right) << "the notice is seen";
        const auto noticeInk = [](const Level& frame) {
            return std::count_if(frame.texels.begin(), frame.texels.end(),
                                 [](uint32_t p) { return (p & 0xFFFFFF) == 0xFFA028; });
        };
        EXPECT_GT(noticeInk(shown), 0);
        EXPECT_EQ(noticeInk(without), 0) << "one notice";
        EXPECT_NEAR((box.left + box.right) / 2.0, width / 2.0, 8.0) << "centred";
        EXPECT_TRUE(box.top > 0 && box.bottom < height) << "whole, off the frame's edges";
        if (kind == noFreeBand) {
            EXPECT_GE(box.bottom, height - 48) << "at the foot";
            return;
        }
        int32_t lowest = 0;
        for (UserInterface::Widget* widget : MenuTest::listed(*chain().userInterface)) {
            if (widget == menu.noticeText || !widget->enabled || (widget == &extra && kind == backdrop))
                continue;
            const UserInterface::Rect r = widget->getRect();
            EXPECT_FALSE(overlaps(box, r)) << "notice " << box.left << "," << box.top << "-" << box.right << ","
                                           << box.bottom << " meets " << r.left << "," << r.top << "-" << r.right
                                           << "," << r.bottom;
            if (r.right > r.left)
                lowest = std::max(lowest, r.bottom);
        }
        // The screens keep their foot free for a line.
        if (height - lowest >= 48) {
            EXPECT_GE(box.top, lowest) << "under the screen, at the foot";
        }
    };

    for (const intvec2d mode : offeredModes(menu, list)) {
        SCOPED_TRACE(testing::Message() << mode.x << " x " << mode.y);
        resizeBackBuffer(mode);
        ASSERT_EQ(chain().presentParameters.BackBufferWidth, UINT(mode.x));
        const bool keepIt = mode.x == 1024 && mode.y == 768;
        // A solo race started on the game mode screen (refused, it goes back
        // to the map choice), and a championship on the country choice.
        menu.releaseScreens();
        menu.load(String(L""));
        MenuStandIn::as(menu.chooseMapScreen)->mapName = String(L"Missing.tee");
        menu.openScreen(GameMenu::gameModeState);
        for (int i = 0; i < 5; ++i)
            menu.onKeyDown();
        menu.onKeyConfirm();
        menu.update();
        ASSERT_EQ(menu.menuState, GameMenu::chooseMapState);
        ASSERT_NE(menu.noticeText, nullptr);
        for (Extra kind : {nothing, backdrop, footPicture, hiddenFootPicture, noFreeBand})
            expectClear(kind, keepIt);
        // (Twice: the second notice takes the first one's place.)
        menu.releaseScreens();
        menu.load(String(L""));
        menu.createChooseCountry();
        menu.openScreen(GameMenu::chooseCountryState);
        for (int i = 0; i < 6; ++i) {
            menu.onKeyConfirm();
            menu.update();
        }
        ASSERT_EQ(menu.menuState, GameMenu::chooseCountryState);
        ASSERT_NE(menu.noticeText, nullptr);
        expectClear(nothing, keepIt);
    }
    menu.releaseSounds();
    resizeBackBuffer({320, 240});
    gLanguage = previousLanguage;
}
