// The settings screens on the device: each screen drawn by the interface
// pass at 1024 x 768 with the menu file's faces (views kept where
// KORVANTA_SCREENSHOTS points), the game mode screen's rows clear of their
// arrows in those faces, the graphics screen's Apply resetting the
// application's device into the chosen window size and saving it, and the
// language choice kept in the registry by the next save.
#include "MenuStandIns.h"
#include "MenuTestSupport.h"

#include "../Application/AppTestFiles.h"
#include "../Render/TestDevice.h"

#include "MenuFileWriter.h"
#include "MenuSamples.h"

#include "Menu/GameMenuControl.h"
#include "Menu/GameMenuButton.h"
#include "Menu/GameMenuGameMode.h"
#include "Menu/GameMenuGraphics.h"
#include "Menu/GameMenuLanguage.h"

#include "Application/GlobalSettings.h"
#include "Application/Korvanta.h"
#include "Application/LanguageSetup.h"
#include "Landscape/Scene.h"
#include "Render/DirectGraphics.h"
#include "Render/ScreenResolution.h"
#include "Render/SwapChain.h"

#include "Core/Language.h"

#include <gtest/gtest.h>

#include <string>

using namespace TestDevice;

namespace {

std::wstring menuPath()
{
    wchar_t folder[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, folder);
    return std::wstring(folder) + L"KorvantaSettingsMenu.mnu";
}

// Sets the program's language object for a scope.
struct LanguageScope
{
    explicit LanguageScope(Language& language) : previous(gLanguage) { gLanguage = &language; }
    ~LanguageScope() { gLanguage = previous; }
    Language* previous;
};

class SettingsScreensDevice : public DeviceSuite
{
protected:
    static void SetUpTestSuite() { openDevice(1024, 768); }

    void SetUp() override
    {
        scene.swapChain = &chain();
        menu.world = &world;
        LanguageSetup::run(language, nullptr, 0x0409);
        ASSERT_TRUE(MenuFileWriter::save(MenuSamples::sample(), String(menuPath().c_str())));
        menu.load(String(menuPath().c_str()));
        menu.controls = &bindings;
        Control::setDefaultKeys(bindings.keyboardSet);
        Control::setDefaultJoystick(bindings.joystickSet);
    }
    void TearDown() override
    {
        menu.releaseSounds();
        scene.swapChain = nullptr;
    }

    // A frame with the interface pass, read back (and kept) before it is
    // presented.
    Level frame()
    {
        menu.update();
        D3D::Device::SwapChain& c = *chain().beginFrame();
        gDevice->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0, 1.0f, 0);
        c.render(true);
        Level pixels = readSurface(c.targets[0].surface);
        keepView(c.targets[0].surface);
        c.present();
        return pixels;
    }
    // Lit pixels in a rectangle.
    static int ink(const Level& pixels, uint32_t left, uint32_t top, uint32_t right, uint32_t bottom)
    {
        int lit = 0;
        for (uint32_t y = top; y < bottom && y < pixels.height; ++y)
            for (uint32_t x = left; x < right && x < pixels.width; ++x)
                lit += (pixels.at(x, y) & 0xFFFFFF) != 0;
        return lit;
    }

    Language language;
    LanguageScope languageScope{language};
    MenuStandIn::World world;
    Scene scene{String(L"Korvanta"), 3500.0f};
    GameMenu menu{&scene};
    Control bindings;
};

}

TEST_F(SettingsScreensDevice, EachScreenDrawsItsTitleAndRowsWhereTheyBelong)
{
    ASSERT_NE(menu.settingsScreen, nullptr) << "the menu's load makes the settings screens";
    ASSERT_NE(menu.controlScreen, nullptr);
    ASSERT_NE(menu.graphicsScreen, nullptr);
    ASSERT_NE(menu.languageScreen, nullptr);
    ASSERT_NE(menu.extendedControlScreen, nullptr);
    struct Case
    {
        int32_t state;
        uint32_t rowLeft, rowTop, rowRight, rowBottom; // a row that must show
    };
    const Case cases[] = {
        {GameMenu::settingsState, 60, 300, 300, 330},     // "CONTROL"
        {GameMenu::controlState, 600, 200, 800, 230},     // steer left's key
        {GameMenu::extendedControlState, 100, 300, 200, 330}, // the inertia
        {GameMenu::graphicsState, 100, 290, 300, 320},    // the display mode
        {GameMenu::languageState, 100, 310, 300, 340},    // "English"
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.state);
        menu.openScreen(c.state, GameMenu::settingsState);
        frame();
        const Level pixels = frame();
        ASSERT_EQ(pixels.width, 1024u);
        EXPECT_GT(ink(pixels, 350, 50, 700, 100), 50) << "the title";
        EXPECT_GT(ink(pixels, c.rowLeft, c.rowTop, c.rowRight, c.rowBottom), 30) << "the row";
        EXPECT_EQ(ink(pixels, 0, 0, 40, 40), 0) << "nothing in the corner";
        GameMenu::Screen* screen = menu.screenOf(c.state);
        screen->close();
        screen->reset();
    }
    // The screens closed, nothing of them is drawn.
    menu.menuState = GameMenu::noScreen;
    const Level empty = frame();
    EXPECT_EQ(ink(empty, 0, 0, 1024, 768), 0);

    // In German the language screen's title reads "SPRACHE", which is wider
    // than "LANGUAGE" in the same face.
    menu.openScreen(GameMenu::languageState, GameMenu::settingsState);
    auto& screen = static_cast<GameMenu::Language&>(*menu.languageScreen);
    const int32_t english = screen.titleText->getSize().width;
    menu.onKeyLeft();
    EXPECT_STREQ(screen.titleText->text(), L"SPRACHE");
    EXPECT_NE(screen.titleText->getSize().width, english);
    frame();
    screen.onKeyBack();
    language.setCurrent(1);
}

// Every mode's name on the game mode screen, drawn in the game's own faces,
// ends before its next arrow: no row runs into its arrow.
TEST_F(SettingsScreensDevice, EachGameModeNameEndsBeforeItsArrow)
{
    ASSERT_NE(menu.gameModeScreen, nullptr) << "the sample menu file makes the game mode screen";
    menu.openScreen(GameMenu::gameModeState, GameMenu::chooseMapState);
    auto& screen = static_cast<GameMenu::GameMode&>(*menu.gameModeScreen);
    ASSERT_NE(screen.rows[0], nullptr);
    GameMenu::ButtonPrevNext& row = *screen.rows[0];
    for (int32_t mode = GameMenu::GameMode::offRoadRace; mode <= GameMenu::GameMode::timeTrial; ++mode) {
        screen.mode = mode;
        screen.refreshMode();
        frame();
        const Level pixels = frame();
        SCOPED_TRACE(mode);
        const uint32_t top = uint32_t(row.y), bottom = uint32_t(row.y + row.getSize().height);
        const uint32_t arrow = uint32_t(row.next->x);
        EXPECT_GT(ink(pixels, uint32_t(row.x), top, uint32_t(row.x) + 30, bottom), 20) << "the name";
        EXPECT_GT(ink(pixels, arrow, top, arrow + 30, bottom), 20) << "the arrow";
        EXPECT_EQ(ink(pixels, arrow - 8, top, arrow, bottom), 0) << "a gap before the arrow";
        EXPECT_GE(arrow, 400u) << "the arrows never come closer than their span";
    }
    screen.close();
    screen.reset();
    menu.menuState = GameMenu::noScreen;
}

// Apply on the application's device: a window of 640 x 480 goes to the
// nearest listed mode, 800 x 600, the device runs it, and "gset.dat" holds
// it with what the device runs of the antialiasing and the bloom choice.
TEST(SettingsApply, ApplyResetsTheDeviceToTheChosenWindowSizeAndSavesWhatItRuns)
{
    WNDCLASSW wc{};
    wc.lpfnWndProc = DefWindowProcW;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"SettingsApplyTest";
    RegisterClassW(&wc);
    HWND window = CreateWindowExW(0, wc.lpszClassName, L"Apply test", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 100, 100,
                                  nullptr, nullptr, wc.hInstance, nullptr);
    ASSERT_NE(window, nullptr);
    RECT frame{0, 0, 640, 480};
    AdjustWindowRect(&frame, DWORD(GetWindowLongW(window, GWL_STYLE)), FALSE);
    SetWindowPos(window, nullptr, 0, 0, frame.right - frame.left, frame.bottom - frame.top, SWP_NOZORDER | SWP_NOMOVE);

    Language language;
    LanguageScope languageScope(language);
    LanguageSetup::run(language, nullptr, 0x0409);
    const std::wstring folder = AppTestFiles::freshFolder(L"SettingsApply");
    GlobalSettings settings(folder.c_str());
    GlobalSettings* const previous = gSettings;
    gSettings = &settings;
    {
        Korvanta app;
        std::unique_ptr<UserInterface::UIFont::Face> face = MenuTest::fakeFace([](wchar_t c) { return c >= 32 ? 10 : -1; });
        for (auto*& font : app.gameMenu.fonts)
            font = face.get();
        app.window = window;
        ASSERT_TRUE(gDirectGraphics.init());
        ASSERT_EQ(app.createDevice(), 1u);
        app.scene.swapChain = app.swapChain;
        ScreenResolution list;
        const intvec2d modes[] = {{800, 600}, {1024, 768}, {1280, 1024}};
        list.setModes(modes, 3);

        GameMenu::Graphics screen(app.gameMenu);
        screen.modes = &list;
        screen.enter(GameMenu::settingsState);
        EXPECT_EQ(screen.modeWidth, 800);
        EXPECT_EQ(screen.modeHeight, 600);
        // A level the device does not have: Apply runs without multisampling
        // and the settings say so.
        settings.options.antialiasing = 2;
        screen.aaModes[2] = {};
        screen.selection = GameMenu::Graphics::bloomValue;
        screen.onKeyRight();
        screen.selection = GameMenu::Graphics::applyValue;
        const float x = app.swapChain->position.x;
        const DWORD start = GetTickCount();
        screen.onKeyConfirm();
        std::printf("Apply's device reset: %lu ms\n", static_cast<unsigned long>(GetTickCount() - start));
        EXPECT_NE(app.swapChain->position.x, x) << "the device was reset";

        D3DPRESENT_PARAMETERS running{};
        ASSERT_TRUE(SUCCEEDED(app.swapChain->swapChain->GetPresentParameters(&running)));
        EXPECT_EQ(running.BackBufferWidth, 800u);
        EXPECT_EQ(running.BackBufferHeight, 600u);
        EXPECT_TRUE(running.Windowed);
        EXPECT_EQ(running.MultiSampleType, D3DMULTISAMPLE_NONE);
        RECT client{};
        GetClientRect(window, &client);
        EXPECT_EQ(client.right - client.left, 800);
        EXPECT_EQ(client.bottom - client.top, 600);
        EXPECT_EQ(app.fullScreen, 0u);
        EXPECT_EQ(settings.options.antialiasing, 0u) << "what the device runs";
        EXPECT_STREQ(screen.rows[2]->text(), L"OFF");

        GlobalSettings stored(folder.c_str());
        EXPECT_EQ(stored.load(), GlobalSettings::LoadResult::Read);
        EXPECT_EQ(stored.width, 800u);
        EXPECT_EQ(stored.height, 600u);
        EXPECT_EQ(stored.options.fullScreen, 0u);
        EXPECT_EQ(stored.options.antialiasing, 0u);
        EXPECT_EQ(stored.options.option3, 1u) << "bloom";
        screen.close();

        app.releaseDevice();
        app.window = nullptr;
    }
    gSettings = previous;
    DestroyWindow(window);
    UnregisterClassW(wc.lpszClassName, wc.hInstance);
}

// The language screen changes the language object only; the next save of
// the settings puts the choice into the registry, where the next start
// finds it.
TEST(SettingsLanguage, TheNextSaveKeepsTheChosenLanguageForTheNextStart)
{
    const std::wstring folder = AppTestFiles::freshFolder(L"SettingsLanguage");
    GlobalSettings settings(folder.c_str());
    Korvanta app;
    std::unique_ptr<UserInterface::UIFont::Face> face = MenuTest::fakeFace([](wchar_t c) { return c >= 32 ? 10 : -1; });
    for (auto*& font : app.gameMenu.fonts)
        font = face.get();
    ASSERT_NE(app.registryKey, nullptr);
    Korvanta* const previousApp = gApp;
    gApp = &app;
    for (const wchar_t* chosen : {L"German", L"English"}) {
        SCOPED_TRACE(testing::Message() << chosen);
        Language language;
        LanguageScope scope(language);
        LanguageSetup::run(language, app.registryKey, 0x0409);
        GameMenu::Language screen(app.gameMenu);
        screen.enter(GameMenu::settingsState);
        screen.onKeyLeft();
        screen.onKeyRight();
        if (std::wstring(chosen) == L"German")
            screen.onKeyLeft();
        screen.onKeyConfirm();
        settings.save();

        Language next;
        LanguageSetup::run(next, app.registryKey, 0x0409);
        EXPECT_STREQ(next.getName(next.currentIndex()).text(), chosen);
    }
    gApp = previousApp;
}
