// The settings screens on a widget list without a device: the hub, the
// control assignment with its capture over a stand-in input state block, the
// inertia, the graphics rows and the language switch, and the way through
// them by keys through the state machine.
#include "MenuStandIns.h"
#include "MenuTestSupport.h"

#include "Menu/GameMenuControl.h"
#include "Menu/GameMenuExtendedControl.h"
#include "Menu/GameMenuGraphics.h"
#include "Menu/GameMenuLanguage.h"
#include "Menu/GameMenuSettings.h"

#include "Application/ControlBindings.h"
#include "Application/GlobalSettings.h"
#include "Application/LanguageSetup.h"
#include "Application/UserInput.h"
#include "Landscape/Scene.h"
#include "Render/ScreenResolution.h"

#include "Core/Language.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <functional>
#include <random>
#include <algorithm>
#include <initializer_list>
#include <string>
#include <vector>

namespace {

using BindingSet = Control::BindingSet;

// The application's side with settings of the test's own.
class SettingsApplication : public GameMenu::Interface
{
public:
    uint32_t* getSettingOptions() override { return &options.antialiasing; }
    uint32_t* getShadowQuality() override { return &options.shadowOption; }
    uint32_t* getSettingOption4() override { return &options.option3; }
    void applyDisplaySettings() override { ++applied; }

    GlobalSettings::Options options;
    int applied = 0;
};

class SettingsScreens : public testing::Test
{
protected:
    void SetUp() override
    {
        chain->presentParameters.BackBufferWidth = 1024;
        chain->presentParameters.BackBufferHeight = 768;
        chain->presentParameters.Windowed = TRUE;
        scene.swapChain = chain.get();
        for (int font : {GameMenu::buttonFont, GameMenu::secondButtonFont, GameMenu::arrowFont, GameMenu::titleFont})
            menu.fonts[font] = face.get();
        Control::setDefaultKeys(bindings.keyboardSet);
        Control::setDefaultJoystick(bindings.joystickSet);
        menu.controls = &bindings;
        LanguageSetup::run(language, nullptr, 0x0409);
        previousLanguage = gLanguage;
        gLanguage = &language;
        centreJoystick();
    }
    void TearDown() override
    {
        gLanguage = previousLanguage;
        scene.swapChain = nullptr;
    }

    // The keys held in this poll of the keyboard.
    void keys(std::initializer_list<int> down)
    {
        uint8_t raw[UserInput::keyCount] = {};
        for (int code : down)
            raw[code] = 0x80;
        input.applyKeyboard(raw, 1.0f);
    }
    // One menu frame with these keys held.
    void frame(std::initializer_list<int> down)
    {
        keys(down);
        menu.update();
    }
    // The control assignment opened from the hub, reading this fixture's input.
    GameMenu::Control& openControlScreen()
    {
        menu.createControl();
        menu.openScreen(GameMenu::controlState, GameMenu::settingsState);
        auto& screen = static_cast<GameMenu::Control&>(*menu.controlScreen);
        screen.input = &input;
        return screen;
    }
    // One poll of the joystick: buttons held and the first two axes (-1..1).
    void joystick(std::initializer_list<int> buttons, float x = 0.0f, float y = 0.0f)
    {
        DIJOYSTATE raw{};
        raw.lX = LONG(32767.0f + x * 32767.0f);
        raw.lY = LONG(32767.0f + y * 32767.0f);
        raw.lZ = raw.lRx = raw.lRy = raw.lRz = 32767;
        raw.rgdwPOV[0] = raw.rgdwPOV[1] = raw.rgdwPOV[2] = raw.rgdwPOV[3] = 0xFFFFFFFF;
        for (int button : buttons)
            raw.rgbButtons[button] = 0x80;
        input.applyJoystick(raw);
    }
    void centreJoystick()
    {
        joystick({});
        joystick({});
    }
    // Menu sounds asked for since the last call, as "0 1 2" counts.
    std::string sounds()
    {
        std::string out;
        for (int i = 0; i < 3; ++i) {
            out += (i ? " " : "") + std::to_string(menu.soundCounts[i] - counted[i]);
            counted[i] = menu.soundCounts[i];
        }
        return out;
    }
    static std::wstring textOf(UserInterface::Text* text) { return text ? text->text() : L"(none)"; }
    // A capture of the value selection, begun and past the confirm's
    // release, with the sounds counted so far set aside.
    void startCapture(GameMenu::Control& screen, int32_t selection)
    {
        screen.focus = GameMenu::Control::valueGrid;
        screen.selection = selection;
        screen.onKeyConfirm();
        frame({});
        EXPECT_EQ(screen.focus, GameMenu::Control::capturing);
        sounds();
    }

    std::unique_ptr<D3D::Device::SwapChain> chain = MenuTest::listOnlyChain();
    Scene scene{String(L"Korvanta"), 3500.0f};
    SettingsApplication app;
    GameMenu menu{&scene, &app};
    std::unique_ptr<UserInterface::UIFont::Face> face =
        MenuTest::fakeFace([](wchar_t c) { return c >= 32 ? 10 : -1; }, 20.0f, 0x25FF);
    UserInput input;
    Control bindings{input};
    Language language;
    Language* previousLanguage = nullptr;
    uint32_t counted[3] = {};
    MenuStandIn::Clock clock{1000};
};

const UserInput::State* blockOf(const BindingSet& set)
{
    return set.base;
}

// Whether address lies in the state block (or is null).
bool insideBlock(const void* address, const UserInput::State* block)
{
    const auto* p = static_cast<const uint8_t*>(address);
    const auto* begin = reinterpret_cast<const uint8_t*>(block);
    return !p || (p >= begin && p < begin + sizeof(UserInput::State));
}

}

TEST_F(SettingsScreens, TheHubMovesItsHighlightAndLeadsToItsThreeScreensOrBackToMain)
{
    GameMenu::Settings hub(menu);
    hub.enter(GameMenu::noScreen);
    EXPECT_EQ(textOf(hub.titleText), L"Settings");
    EXPECT_EQ(textOf(hub.languageButton), L"LANGUAGE");
    EXPECT_EQ(hub.titleText->colour, Color(150, 150, 150, 255));
    struct Step
    {
        void (GameMenu::Settings::*key)();
        int32_t selection;
    };
    // Every press sounds, also where the highlight cannot move.
    const Step steps[] = {{&GameMenu::Settings::onKeyUp, 34},   {&GameMenu::Settings::onKeyDown, 35},
                          {&GameMenu::Settings::onKeyDown, 36}, {&GameMenu::Settings::onKeyDown, 36},
                          {&GameMenu::Settings::onKeyUp, 35}};
    for (const Step& step : steps) {
        (hub.*step.key)();
        EXPECT_EQ(hub.selection, step.selection);
        EXPECT_EQ(sounds(), "1 0 0");
    }
    hub.update();
    EXPECT_EQ(hub.graphicsButton->colour, Color(0, 255, 0, 255)) << "the highlight starts green";
    EXPECT_EQ(hub.controlButton->colour, Color(255, 255, 255, 255));

    for (int32_t selection : {34, 35, 36}) {
        hub.selection = selection;
        hub.enter(GameMenu::noScreen);
        hub.onKeyConfirm();
        EXPECT_EQ(hub.isDone(), 1u);
        EXPECT_EQ(hub.titleText, nullptr);
        EXPECT_EQ(hub.nextScreen(), selection - 34 + GameMenu::controlState);
        EXPECT_EQ(sounds(), "0 1 0");
        hub.reset();
    }
    hub.enter(GameMenu::noScreen);
    hub.onKeyBack();
    EXPECT_EQ(hub.nextScreen(), GameMenu::mainState);
    EXPECT_EQ(sounds(), "0 0 1");
    hub.reset();
    // Built again, the highlight stays where it was.
    hub.enter(GameMenu::noScreen);
    EXPECT_EQ(hub.selection, 36);
    hub.onKeyConfirm();
    EXPECT_EQ(hub.nextScreen(), GameMenu::languageState) << "the last leave was back";
}

TEST_F(SettingsScreens, TheControlGridMovesWithinItsColumnsAndSwapsColumnsWithTheirSounds)
{
    GameMenu::Control screen(menu);
    screen.enter(GameMenu::settingsState);
    EXPECT_EQ(screen.returnState, GameMenu::settingsState);
    screen.enter(GameMenu::noScreen);
    EXPECT_EQ(screen.returnState, GameMenu::settingsState) << "built once";
    using C = GameMenu::Control;
    struct Step
    {
        void (C::*key)();
        int32_t selection;
        int32_t focus;
        const char* sounds;
    };
    const Step steps[] = {
        {&C::onKeyUp, 37, 0, "0 0 0"},      {&C::onKeyDown, 38, 0, "1 0 0"},   {&C::onKeyDown, 39, 0, "1 0 0"},
        {&C::onKeyDown, 39, 0, "0 0 0"},    {&C::onKeyLeft, 39, 0, "0 0 0"},   {&C::onKeyUp, 38, 0, "1 0 0"},
        {&C::onKeyUp, 37, 0, "1 0 0"},      {&C::onKeyConfirm, 40, 1, "0 1 0"}, {&C::onKeyUp, 40, 1, "0 0 0"},
        {&C::onKeyRight, 55, 1, "1 0 0"},   {&C::onKeyUp, 55, 1, "0 0 0"},     {&C::onKeyDown, 56, 1, "1 0 0"},
        {&C::onKeyLeft, 41, 1, "1 0 0"},    {&C::onKeyRight, 56, 1, "1 0 0"},  {&C::onKeyBack, 37, 0, "0 0 1"},
        {&C::onKeyConfirm, 40, 1, "0 1 0"},
    };
    for (const Step& step : steps) {
        (screen.*step.key)();
        EXPECT_EQ(screen.selection, step.selection);
        EXPECT_EQ(screen.focus, step.focus);
        EXPECT_EQ(sounds(), step.sounds);
    }
    // The column ends: 54 and 69 stay put.
    screen.selection = 53;
    screen.onKeyDown();
    EXPECT_EQ(screen.selection, 54);
    screen.onKeyDown();
    EXPECT_EQ(screen.selection, 54);
    EXPECT_EQ(sounds(), "1 0 0");
    screen.selection = 69;
    screen.onKeyDown();
    EXPECT_EQ(screen.selection, 69);
    screen.onKeyLeft();
    EXPECT_EQ(screen.selection, 54);
    EXPECT_EQ(sounds(), "1 0 0");

    screen.update();
    EXPECT_EQ(screen.keyboardValues[14]->colour, Color(0, 255, 0, 255));
    EXPECT_EQ(screen.gamepadValues[14]->colour, Color(255, 255, 255, 255));

    // Back from the button column leaves; built again, Extended leads on to
    // state 30, the earlier back forgotten.
    screen.focus = C::buttonColumn;
    screen.onKeyBack();
    EXPECT_EQ(screen.isDone(), 1u);
    EXPECT_EQ(screen.nextScreen(), GameMenu::settingsState);
    screen.reset();
    screen.enter(GameMenu::noScreen);
    screen.selection = C::extendedValue;
    screen.onKeyConfirm();
    EXPECT_EQ(screen.isDone(), 1u);
    EXPECT_EQ(screen.nextScreen(), GameMenu::extendedControlState);
}

TEST_F(SettingsScreens, WithoutBindingsEveryValueIsNotAssignedAndNothingIsTaken)
{
    menu.controls = nullptr;
    GameMenu::Control screen(menu);
    screen.enter(GameMenu::settingsState);
    for (int row = 0; row < GameMenu::Control::rowCount; ++row) {
        EXPECT_EQ(textOf(screen.keyboardValues[row]), L"Not assigned") << row;
        EXPECT_EQ(textOf(screen.gamepadValues[row]), L"Not assigned") << row;
    }
    screen.selection = 40;
    EXPECT_FALSE(screen.assign(InputCode{InputCode::Keyboard, DIK_A, 0, 0, 0}));
    screen.selection = GameMenu::Control::defaultValue;
    screen.onKeyConfirm();
    EXPECT_EQ(textOf(screen.keyboardValues[0]), L"Not assigned");
}

// Every screen's title is grey; the labels of the inertia, graphics and
// language rows too; the widgets stand where they belong from the build on.
TEST_F(SettingsScreens, TitlesAndLabelsAreGreyAndPlacedFromTheBuildOn)
{
    const Color grey(150, 150, 150, 255);
    GameMenu::Settings hub(menu);
    GameMenu::Control control(menu);
    GameMenu::ExtendedControl extended(menu);
    GameMenu::Graphics graphics(menu);
    GameMenu::Language languageScreen(menu);
    for (GameMenu::Screen* screen : std::initializer_list<GameMenu::Screen*>{&hub, &control, &extended, &graphics,
                                                                             &languageScreen})
        screen->enter(GameMenu::settingsState);
    for (UserInterface::Text* title :
         {static_cast<UserInterface::Text*>(hub.titleText), static_cast<UserInterface::Text*>(control.titleText),
          static_cast<UserInterface::Text*>(extended.titleText), static_cast<UserInterface::Text*>(graphics.titleText),
          static_cast<UserInterface::Text*>(languageScreen.titleText)}) {
        EXPECT_EQ(title->colour, grey);
        EXPECT_EQ(title->x, 350);
        EXPECT_EQ(title->y, 50);
    }
    EXPECT_EQ(extended.inertiaLabel->colour, grey);
    EXPECT_EQ(languageScreen.languageLabel->colour, grey);
    for (GameMenu::Text* label : graphics.labels)
        EXPECT_EQ(label->colour, grey);
    EXPECT_EQ(control.labels[0]->colour, Color(255, 255, 255, 255)) << "the action labels stay white";
    EXPECT_EQ(extended.inertiaLabel->y, 265);
    EXPECT_EQ(extended.inertiaButton->y, 300);
    EXPECT_EQ(extended.inertiaButton->previous->y, 300);
    EXPECT_EQ(extended.inertiaButton->next->y, 300);
    EXPECT_EQ(languageScreen.languageLabel->y, 270);
    EXPECT_EQ(languageScreen.languageButton->y, 310);
    EXPECT_EQ(languageScreen.languageButton->next->y, 310);
    EXPECT_EQ(graphics.labels[0]->y, 260);
    for (GameMenu::ButtonPrevNext* row : graphics.rows) {
        EXPECT_EQ(row->previous->x, 60);
        EXPECT_EQ(row->next->x, 400) << "300 wide";
    }
    EXPECT_EQ(extended.inertiaButton->next->x, 400);
    EXPECT_EQ(languageScreen.languageButton->next->x, 400);
    EXPECT_EQ(control.labels[1]->y, 236);
    int32_t buttonY = 300;
    for (GameMenu::Button* button : {control.changeButton, control.defaultButton, control.extendedButton}) {
        EXPECT_EQ(button->x, 60);
        EXPECT_EQ(button->y, buttonY);
        buttonY += 50;
    }

    // A screen deleted while shown takes its widgets out of the list.
    const int32_t listed = chain->userInterface->widgets.count();
    for (auto make : {GameMenu::Settings::make, GameMenu::Control::make, GameMenu::ExtendedControl::make,
                      GameMenu::Graphics::make, GameMenu::Language::make}) {
        GameMenu::Screen* screen = make(menu);
        screen->enter(GameMenu::settingsState);
        EXPECT_GT(chain->userInterface->widgets.count(), listed + 3);
        delete static_cast<UserInterface::Panel*>(screen);
        EXPECT_EQ(chain->userInterface->widgets.count(), listed);
    }
}

TEST_F(SettingsScreens, TheRowsStepByAFifteenthOfTheHeightLessTheirMargins)
{
    GameMenu::Control screen(menu);
    for (UINT height : {768u, 600u, 1024u}) {
        SCOPED_TRACE(height);
        chain->presentParameters.BackBufferHeight = height;
        screen.enter(GameMenu::pauseState);
        screen.update();
        const int32_t step = (int32_t(height) - 225) / 15;
        for (int row = 0; row < 15; ++row) {
            EXPECT_EQ(screen.labels[row]->y, 200 + row * step);
            EXPECT_EQ(screen.keyboardValues[row]->y, 200 + row * step);
            EXPECT_EQ(screen.gamepadValues[row]->y, 200 + row * step);
            EXPECT_EQ(screen.keyboardValues[row]->x, 600);
            EXPECT_EQ(screen.gamepadValues[row]->x, 830);
        }
        screen.close();
        screen.reset();
    }
    EXPECT_EQ(GameMenu::Control::rowStep(768), 36);
    chain->presentParameters.BackBufferHeight = 768;
    screen.enter(GameMenu::pauseState);
    screen.update();
    EXPECT_EQ(screen.labels[14]->y, 704);
    EXPECT_EQ(screen.nextScreen(), GameMenu::pauseState);
    EXPECT_EQ(textOf(screen.labels[3]), L"BACKWARD");
    EXPECT_EQ(textOf(screen.keyboardValues[0]), L"Arrow Left");
    EXPECT_EQ(textOf(screen.gamepadValues[0]), L"X axis 1") << "the steering axis stands in for no button";
    EXPECT_EQ(textOf(screen.gamepadValues[2]), L"Button 2");
    EXPECT_EQ(textOf(screen.gamepadValues[3]), L"Button 3");
}

// Captures of one input into one value, from the default bindings.
TEST_F(SettingsScreens, ACaptureTakesOnlyInputsItsColumnFitsAndClearsTheSameInputFromTheGroup)
{
    const UserInput::State& s = input.state;
    BindingSet& kb = bindings.keyboardSet;
    BindingSet& pad = bindings.joystickSet;
    const InputCode space{InputCode::Keyboard, DIK_SPACE, 0, 0, 0};
    const InputCode f1{InputCode::Keyboard, DIK_F1, 0, 0, 0};
    const InputCode mouse0{InputCode::Mouse, 0, 0, 0, 0};
    const InputCode wheel{InputCode::Mouse, UserInput::wheelDown, 0, 0, 0};
    const auto button = [](int b) { return InputCode{InputCode::Joystick, b, 0, 0, 0}; };
    const auto axis = [](int a, bool negative) { return InputCode{InputCode::Joystick, a, 0, 1, negative ? 1 : 0}; };
    struct Case
    {
        const char* what;
        int32_t selection;
        InputCode code;
        bool accepted;
        std::function<void()> check;
    };
    const Case cases[] = {
        {"a joystick button for a keyboard value", 40, button(5), false,
         [&] { EXPECT_EQ(pad.keys[4], &s.joyHeld[5]) << "the refused button stays with the gamepad's rocket"; }},
        {"an axis for a race button", 59, axis(1, false), false, [&] { EXPECT_EQ(pad.axes[0], &s.joyAxes[0]); }},
        {"a key for a gamepad value", 62, space, false, [&] { EXPECT_EQ(kb.keys[6], &s.keyHeld[DIK_SPACE]); }},
        {"a code that names no input", 44, InputCode{InputCode::Keyboard, 300, 0, 0, 0}, false,
         [&] { EXPECT_EQ(kb.keys[4], &s.keyHeld[DIK_NUMPAD0]); }},
        {"another race action's key", 44, space, true,
         [&] {
             EXPECT_EQ(kb.keys[4], &s.keyHeld[DIK_SPACE]);
             EXPECT_EQ(kb.keys[6], nullptr) << "nitro loses Space";
         }},
        {"the camera's key", 44, f1, true,
         [&] {
             EXPECT_EQ(kb.keys[4], &s.keyHeld[DIK_F1]);
             EXPECT_EQ(kb.keys[14], &s.keyHeld[DIK_F1]) << "never taken from the camera";
         }},
        {"the camera takes a race key", 48, space, true,
         [&] {
             EXPECT_EQ(kb.keys[14], &s.keyHeld[DIK_SPACE]);
             EXPECT_EQ(kb.keys[6], nullptr);
         }},
        {"a menu key another group holds", 49, InputCode{InputCode::Keyboard, DIK_UP, 0, 0, 0}, true,
         [&] {
             EXPECT_EQ(kb.keys[8], &s.keyHeld[DIK_UP]);
             EXPECT_EQ(kb.keys[10], nullptr) << "menu up loses it";
             EXPECT_EQ(kb.keys[0], &s.keyHeld[DIK_UP]) << "accelerate keeps it";
         }},
        {"menu left's key for menu right", 50, InputCode{InputCode::Keyboard, DIK_LEFT, 0, 0, 0}, true,
         [&] {
             EXPECT_EQ(kb.keys[9], &s.keyHeld[DIK_LEFT]);
             EXPECT_EQ(kb.keys[8], nullptr) << "menu left loses it";
             EXPECT_EQ(kb.keys[2], &s.keyHeld[DIK_LEFT]) << "steer left keeps it";
         }},
        {"menu confirm's key for menu back", 54, InputCode{InputCode::Keyboard, DIK_RETURN, 0, 0, 0}, true,
         [&] {
             EXPECT_EQ(kb.keys[13], &s.keyHeld[DIK_RETURN]);
             EXPECT_EQ(kb.keys[12], nullptr);
         }},
        {"a race key the menu holds", 40, InputCode{InputCode::Keyboard, DIK_RETURN, 0, 0, 0}, true,
         [&] {
             EXPECT_EQ(kb.keys[2], &s.keyHeld[DIK_RETURN]);
             EXPECT_EQ(kb.keys[12], &s.keyHeld[DIK_RETURN]);
         }},
        {"steer right's key for steer left", 40, InputCode{InputCode::Keyboard, DIK_RIGHT, 0, 0, 0}, true,
         [&] {
             EXPECT_EQ(kb.keys[2], &s.keyHeld[DIK_RIGHT]);
             EXPECT_EQ(kb.keys[3], nullptr);
         }},
        {"a mouse button", 42, mouse0, true, [&] { EXPECT_EQ(kb.keys[0], &s.mouseHeld[0]); }},
        {"a wheel notch takes the pressed flag", 45, wheel, true,
         [&] { EXPECT_EQ(kb.keys[5], &s.mousePressed[UserInput::wheelDown]); }},
        {"an axis pushed left for steer left", 55, axis(0, true), true,
         [&] {
             EXPECT_EQ(pad.axes[0], &s.joyAxes[0]);
             EXPECT_EQ(pad.invertAxis[0], 0u);
             EXPECT_EQ(pad.keys[2], nullptr);
             EXPECT_EQ(pad.keys[3], nullptr);
         }},
        {"an axis pushed right for steer left", 55, axis(3, false), true,
         [&] {
             EXPECT_EQ(pad.axes[0], &s.joyAxes[3]);
             EXPECT_EQ(pad.invertAxis[0], 1u);
         }},
        {"an axis pushed left for steer right", 56, axis(3, true), true,
         [&] { EXPECT_EQ(pad.invertAxis[0], 1u); }},
        {"an axis pushed back for accelerate", 57, axis(1, true), true,
         [&] {
             EXPECT_EQ(pad.axes[1], &s.joyAxes[1]);
             EXPECT_EQ(pad.invertAxis[1], 1u);
             EXPECT_EQ(pad.keys[0], nullptr);
             EXPECT_EQ(pad.keys[1], nullptr);
         }},
        {"an axis pushed forward for accelerate", 57, axis(1, false), true,
         [&] { EXPECT_EQ(pad.invertAxis[1], 0u); }},
        {"an axis pushed forward for brake", 58, axis(2, false), true,
         [&] {
             EXPECT_EQ(pad.axes[1], &s.joyAxes[2]);
             EXPECT_EQ(pad.invertAxis[1], 1u);
         }},
        {"an axis pushed back for brake", 58, axis(2, true), true, [&] { EXPECT_EQ(pad.invertAxis[1], 0u); }},
        {"a button for steer left", 55, button(6), true,
         [&] {
             EXPECT_EQ(pad.keys[2], &s.joyHeld[6]);
             EXPECT_EQ(pad.axes[0], nullptr);
         }},
        {"a button for accelerate", 57, button(8), true,
         [&] {
             EXPECT_EQ(pad.keys[0], &s.joyHeld[8]);
             EXPECT_EQ(pad.axes[1], nullptr) << "the throttle axis goes";
             EXPECT_EQ(pad.axes[0], &s.joyAxes[0]) << "the steering axis stays";
         }},
        {"the steering axis for the throttle", 57, axis(0, false), true,
         [&] {
             EXPECT_EQ(pad.axes[1], &s.joyAxes[0]);
             EXPECT_EQ(pad.axes[0], nullptr) << "steering loses its axis";
         }},
        {"a direction for the camera", 63, button(UserInput::povUp), true,
         [&] {
             EXPECT_EQ(pad.keys[14], &s.joyHeld[UserInput::povUp]);
             EXPECT_EQ(pad.keys[10], &s.joyHeld[UserInput::povUp]) << "menu up keeps it";
         }},
        {"a gamepad button the keyboard set holds", 62, button(0), true,
         [&] {
             EXPECT_EQ(pad.keys[7], &s.joyHeld[0]);
             EXPECT_EQ(kb.keys[7], nullptr) << "both sets give it up";
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Control::setDefaultKeys(kb);
        Control::setDefaultJoystick(pad);
        pad.axes[1] = std::string(c.what) == "a button for accelerate" ? &s.joyAxes[4] : nullptr;
        pad.invertAxis[0] = pad.invertAxis[1] = 0;
        if (std::string(c.what) == "a gamepad button the keyboard set holds")
            kb.keys[7] = &s.joyHeld[0];
        GameMenu::Control screen(menu);
        screen.selection = c.selection;
        const BindingSet keyboardBefore = kb, padBefore = pad;
        EXPECT_EQ(screen.assign(c.code), c.accepted);
        if (!c.accepted) {
            EXPECT_EQ(std::memcmp(&kb, &keyboardBefore, sizeof kb), 0) << "nothing changed";
            EXPECT_EQ(std::memcmp(&pad, &padBefore, sizeof pad), 0) << "nothing changed";
        }
        c.check();
    }
    // The camera's gamepad button (button 3) is never cleared.
    Control::setDefaultJoystick(pad);
    GameMenu::Control screen(menu);
    screen.selection = 59;
    EXPECT_TRUE(screen.assign(button(3)));
    EXPECT_EQ(pad.keys[14], &s.joyHeld[3]);
}

TEST_F(SettingsScreens, TheCaptureWaitsForConfirmsReleaseAndTakesThePressedInput)
{
    auto& screen = openControlScreen();
    frame({DIK_RETURN});
    frame({});
    EXPECT_EQ(screen.focus, GameMenu::Control::valueGrid);
    EXPECT_EQ(screen.selection, 40);
    // Confirm on steer left: the value asks for a key, and the capture starts
    // only once Return is up.
    frame({DIK_RETURN});
    EXPECT_EQ(screen.focus, GameMenu::Control::waitingForRelease);
    EXPECT_EQ(textOf(screen.keyboardValues[0]), L"PRESS KEY");
    frame({DIK_RETURN, DIK_A});
    EXPECT_EQ(screen.focus, GameMenu::Control::waitingForRelease);
    EXPECT_EQ(bindings.keyboardSet.keys[2], &input.state.keyHeld[DIK_LEFT]);
    // Joystick buttons do not fit a keyboard value: it keeps waiting.
    frame({});
    EXPECT_EQ(screen.focus, GameMenu::Control::capturing);
    joystick({7});
    menu.update();
    EXPECT_EQ(screen.focus, GameMenu::Control::capturing);
    EXPECT_EQ(textOf(screen.keyboardValues[0]), L"PRESS KEY");
    centreJoystick();
    frame({DIK_A});
    EXPECT_EQ(screen.focus, GameMenu::Control::valueGrid);
    EXPECT_EQ(bindings.keyboardSet.keys[2], &input.state.keyHeld[DIK_A]);
    EXPECT_EQ(textOf(screen.keyboardValues[0]), L"A");
    EXPECT_EQ(textOf(screen.keyboardValues[1]), L"Arrow Right");
}

TEST_F(SettingsScreens, BackEndsACaptureAndARefusedInputClearsNothing)
{
    GameMenu::Control screen(menu);
    screen.input = &input;
    screen.enter(GameMenu::settingsState);
    // Without a joystick a gamepad value would wait for ever: back ends the
    // wait in both capture states and puts the value's text back.
    for (int32_t waitFocus : {GameMenu::Control::waitingForRelease, GameMenu::Control::capturing}) {
        screen.focus = GameMenu::Control::valueGrid;
        screen.selection = 59;
        screen.onKeyConfirm();
        screen.focus = waitFocus;
        EXPECT_EQ(textOf(screen.gamepadValues[4]), L"PRESS KEY");
        sounds();
        screen.onKeyBack();
        EXPECT_EQ(screen.focus, GameMenu::Control::valueGrid);
        EXPECT_EQ(screen.selection, 59);
        EXPECT_EQ(textOf(screen.gamepadValues[4]), L"Button 6");
        EXPECT_EQ(sounds(), "0 0 1");
        EXPECT_EQ(screen.isDone(), 0u);
    }
    // A key pressed for a gamepad value is refused and Space stays nitro's.
    screen.selection = 59;
    screen.focus = GameMenu::Control::capturing;
    keys({DIK_SPACE});
    screen.update();
    EXPECT_EQ(screen.focus, GameMenu::Control::capturing);
    EXPECT_EQ(bindings.keyboardSet.keys[6], &input.state.keyHeld[DIK_SPACE]);
    // So is the bound steering axis deflected while the rocket's button waits.
    keys({});
    joystick({}, 0.9f);
    screen.update();
    EXPECT_EQ(screen.focus, GameMenu::Control::capturing);
    EXPECT_EQ(bindings.joystickSet.axes[0], &input.state.joyAxes[0]);
    screen.onKeyConfirm();
    EXPECT_EQ(screen.focus, GameMenu::Control::capturing) << "confirm only sounds";
    EXPECT_EQ(sounds(), "0 1 0");
}

// The key behind the menu's back is bound like any other: a capture takes
// it first. Back ends a capture only with an input its value cannot take.
TEST_F(SettingsScreens, TheBackKeyIsTakenByACaptureThatFitsIt)
{
    auto& screen = openControlScreen();
    struct Case
    {
        const char* what;
        int32_t selection;
        bool joystickBack; // the gamepad's back button (else Escape) is pressed
        bool taken;
    };
    const Case cases[] = {
        {"the keyboard pause takes Escape", 47, false, true},
        {"the keyboard menu back takes Escape again", 54, false, true},
        {"the gamepad camera takes the gamepad's back", 63, true, true},
        {"a gamepad value cannot take Escape: back ends the capture", 59, false, false},
        {"a keyboard value cannot take the gamepad's back", 40, true, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const int32_t row = (c.selection - 40) % 15;
        const int32_t slot = GameMenu::Control::rowSlots[row];
        const BindingSet& set = c.selection < 55 ? bindings.keyboardSet : bindings.joystickSet;
        const void* before = set.keys[slot - 1];
        startCapture(screen, c.selection);
        if (c.joystickBack) {
            joystick({2}); // the default gamepad back
            menu.update();
        } else {
            frame({DIK_ESCAPE});
        }
        EXPECT_EQ(screen.focus, GameMenu::Control::valueGrid);
        EXPECT_EQ(screen.isDone(), 0u) << "the press does not leave the screen";
        const void* expected = c.joystickBack ? static_cast<const void*>(&input.state.joyHeld[2])
                                              : static_cast<const void*>(&input.state.keyHeld[DIK_ESCAPE]);
        if (c.taken) {
            EXPECT_EQ(set.keys[slot - 1], expected);
            EXPECT_EQ(sounds(), "0 0 0");
        } else {
            EXPECT_EQ(set.keys[slot - 1], before);
            EXPECT_EQ(sounds(), "0 0 1");
        }
        frame({});
        centreJoystick();
        frame({});
    }
    // Pause is now Escape, and Backspace pauses no more.
    EXPECT_EQ(bindings.keyboardSet.keys[7], &input.state.keyHeld[DIK_ESCAPE]);
    EXPECT_EQ(textOf(screen.keyboardValues[7]), textOf(screen.keyboardValues[14]));
}

TEST_F(SettingsScreens, CapturingTheMenuKeysDoesNotActWithTheSamePress)
{
    auto& screen = openControlScreen();
    struct Case
    {
        int32_t selection;
        int key;
    };
    // Menu confirm to K, menu back to B, menu down to J: the captured press
    // is held on and starts no capture, leave or move.
    for (const Case c : {Case{53, DIK_K}, Case{54, DIK_B}, Case{52, DIK_J}}) {
        SCOPED_TRACE(c.selection);
        startCapture(screen, c.selection);
        // Held for less than the first repeat.
        for (int held = 0; held < 20; ++held) {
            frame({c.key});
            MenuStandIn::clockNow += 20;
        }
        EXPECT_EQ(screen.focus, GameMenu::Control::valueGrid);
        EXPECT_EQ(screen.selection, c.selection) << "no move";
        EXPECT_EQ(screen.isDone(), 0u);
        EXPECT_EQ(sounds(), "0 0 0");
        frame({});
    }
    EXPECT_EQ(bindings.keyboardSet.keys[12], &input.state.keyHeld[DIK_K]);
    EXPECT_EQ(bindings.keyboardSet.keys[13], &input.state.keyHeld[DIK_B]);
    EXPECT_EQ(bindings.keyboardSet.keys[11], &input.state.keyHeld[DIK_J]);
    // A fresh press of K confirms.
    frame({DIK_K});
    EXPECT_EQ(screen.focus, GameMenu::Control::waitingForRelease);
}

TEST_F(SettingsScreens, DefaultRestoresTheDefaultBindingsAndKeepsWhatTheyDoNotName)
{
    GameMenu::Control screen(menu);
    screen.enter(GameMenu::settingsState);
    const UserInput::State& s = input.state;
    for (auto& key : bindings.keyboardSet.keys)
        key = &s.keyHeld[DIK_Q];
    for (auto& key : bindings.joystickSet.keys)
        key = &s.joyHeld[20];
    bindings.joystickSet.axes[0] = nullptr;
    bindings.joystickSet.axes[1] = &s.joyAxes[4];
    bindings.joystickSet.invertAxis[1] = 1;
    screen.refreshBindings();
    EXPECT_EQ(textOf(screen.keyboardValues[8]), L"Q");
    screen.selection = GameMenu::Control::defaultValue;
    screen.onKeyConfirm();
    Control expected{input};
    Control::setDefaultKeys(expected.keyboardSet);
    Control::setDefaultJoystick(expected.joystickSet);
    for (int slot = 0; slot < BindingSet::keyCount; ++slot)
        EXPECT_EQ(bindings.keyboardSet.keys[slot], expected.keyboardSet.keys[slot]) << slot;
    for (int slot : {0, 1, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14})
        EXPECT_EQ(bindings.joystickSet.keys[slot], expected.joystickSet.keys[slot]) << slot;
    EXPECT_EQ(bindings.joystickSet.keys[2], &s.joyHeld[20]) << "steering buttons are not named by the defaults";
    EXPECT_EQ(bindings.joystickSet.axes[0], &s.joyAxes[0]);
    EXPECT_EQ(bindings.joystickSet.axes[1], &s.joyAxes[4]);
    EXPECT_EQ(bindings.joystickSet.invertAxis[1], 1u);
    EXPECT_EQ(textOf(screen.keyboardValues[8]), L"F1");
    EXPECT_EQ(screen.isDone(), 0u);
}

// Random codes into random values: every slot keeps null or an address in
// the state block, and the invert flags stay 0 or 1.
TEST_F(SettingsScreens, RandomInputCodesOnlyEverBindAddressesInsideTheStateBlock)
{
    GameMenu::Control screen(menu);
    srand(57);
    int accepted = 0;
    for (int i = 0; i < 20000; ++i) {
        screen.selection = 40 + rand() % 30;
        InputCode code;
        code.device = rand() % 5 - 1;
        code.index = rand() % 3 == 0 ? rand() - 16384 : rand() % 300 - 10;
        code.variant = rand() % 4 - 1;
        code.isAxis = rand() % 4 - 1;
        code.negative = rand() % 3 - 1;
        accepted += screen.assign(code);
        for (const BindingSet* set : {&bindings.keyboardSet, &bindings.joystickSet}) {
            for (const uint8_t* key : set->keys)
                ASSERT_TRUE(insideBlock(key, blockOf(*set))) << i;
            for (const float* axis : set->axes)
                ASSERT_TRUE(insideBlock(axis, blockOf(*set))) << i;
            for (uint32_t flag : set->invertAxis)
                ASSERT_LE(flag, 1u) << i;
        }
    }
    EXPECT_GT(accepted, 300);
}

// A seeded run of random key and button presses over the control screen,
// through the state machine (the screen opened again whenever a press left
// it): every slot keeps null or an address in the state block, outside a
// capture every value shows its input's name or "Not assigned", and an input
// just taken is bound to no other action of its group in either set.
TEST_F(SettingsScreens, RandomPressesOverTheControlScreenKeepEveryBindingValid)
{
    const int keyPool[] = {DIK_UP,    DIK_DOWN, DIK_LEFT,  DIK_RIGHT, DIK_RETURN,  DIK_RETURN, DIK_RETURN,
                           DIK_ESCAPE, DIK_BACK, DIK_SPACE, DIK_A,     DIK_NUMPAD0, DIK_F1};
    const int32_t groups[2][10] = {{1, 2, 3, 4, 5, 6, 7, 8, 16, 17}, {9, 10, 11, 12, 13, 14, 0, 0, 0, 0}};
    const auto slotOf = [](const BindingSet& set, int32_t slot) -> const void* {
        return slot <= BindingSet::keyCount ? static_cast<const void*>(set.keys[slot - 1])
                                            : static_cast<const void*>(set.axes[slot - 16]);
    };
    std::mt19937 random(77);
    GameMenu::Control* screen = &openControlScreen();
    int captures = 0;
    int reopened = 0;
    for (int step = 0; step < 3000; ++step) {
        SCOPED_TRACE(step);
        if (menu.menuState != GameMenu::controlState) {
            screen = &openControlScreen();
            ++reopened;
        }
        const bool wasCapturing = screen->focus == GameMenu::Control::capturing;
        const int32_t selected = screen->selection;
        const int backSounds = menu.soundCounts[2];
        const uint32_t roll = random() % 10;
        if (roll < 6) {
            frame({keyPool[random() % std::size(keyPool)]});
        } else if (roll < 8) {
            joystick({int(random() % 12)}, 0.0f, 0.0f);
            frame({});
        } else {
            centreJoystick();
            frame({});
        }
        // A release between presses, so that each is a fresh one.
        centreJoystick();
        frame({});
        MenuStandIn::clockNow += 40;

        for (const BindingSet* set : {&bindings.keyboardSet, &bindings.joystickSet}) {
            for (const uint8_t* key : set->keys)
                ASSERT_TRUE(insideBlock(key, blockOf(*set)));
            for (const float* axis : set->axes)
                ASSERT_TRUE(insideBlock(axis, blockOf(*set)));
            for (uint32_t flag : set->invertAxis)
                ASSERT_LE(flag, 1u);
        }
        if (menu.menuState != GameMenu::controlState || !screen->titleText)
            continue;
        if (!screen->isCapturing()) {
            for (int32_t row = 0; row < 15; ++row) {
                const int32_t slot = GameMenu::Control::rowSlots[row];
                const void* key = bindings.keyboardSet.keys[slot - 1];
                std::wstring name = key ? std::wstring(input.getInputName(key).text()) : L"";
                if (name.empty())
                    name = L"Not assigned";
                ASSERT_EQ(textOf(screen->keyboardValues[row]), name) << "row " << row;
                ASSERT_FALSE(textOf(screen->gamepadValues[row]).empty()) << "row " << row;
            }
        }
        // A capture ended without the back sound took its input.
        if (wasCapturing && screen->focus == GameMenu::Control::valueGrid && menu.soundCounts[2] == backSounds) {
            ++captures;
            const bool keyboard = selected < 55;
            const int32_t row = (selected - 40) % 15;
            const BindingSet& own = keyboard ? bindings.keyboardSet : bindings.joystickSet;
            const int32_t slot = GameMenu::Control::rowSlots[row];
            const void* taken = slotOf(own, slot);
            if (!taken || slot == 15)
                continue;
            for (const int32_t* group : groups) {
                if (std::find(group, group + 10, slot) == group + 10)
                    continue;
                for (const BindingSet* set : {&bindings.keyboardSet, &bindings.joystickSet})
                    for (int i = 0; i < 10 && group[i]; ++i)
                        if (group[i] != slot || set != &own)
                            ASSERT_NE(slotOf(*set, group[i]), taken) << "slot " << group[i] << " kept it";
            }
        }
    }
    EXPECT_GT(captures, 30);
    EXPECT_GT(reopened, 3);
}

TEST_F(SettingsScreens, TheInertiaStepsWithinOneToSixAndShowsAStoredValueAsItIs)
{
    struct Case
    {
        uint32_t stored;
        int direction;
        const wchar_t* shown;
        uint32_t after;
        const wchar_t* text;
        int sound;
    };
    const Case cases[] = {
        {2, -1, L"2", 1, L"1", 1},        {1, -1, L"1", 1, L"1", 0},   {6, 1, L"6", 6, L"6", 0},
        {5, 1, L"5", 6, L"6", 1},         {9, -1, L"9", 6, L"6", 0},   {0, 1, L"0", 1, L"1", 1},
        {0xFFFFFFFF, -1, L"-1", 1, L"1", 0}, {0x7FFFFFFF, 1, L"2147483647", 6, L"6", 0},
        {0x80000000, -1, L"-2147483648", 1, L"1", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.stored);
        bindings.steeringMode = c.stored;
        GameMenu::ExtendedControl screen(menu);
        screen.enter(GameMenu::noScreen);
        EXPECT_EQ(textOf(screen.inertiaLabel), L"INERTIA");
        EXPECT_EQ(textOf(screen.inertiaButton), c.shown);
        sounds();
        if (c.direction < 0)
            screen.onKeyLeft();
        else
            screen.onKeyRight();
        EXPECT_EQ(bindings.steeringMode, c.after);
        EXPECT_EQ(textOf(screen.inertiaButton), c.text);
        EXPECT_EQ(sounds(), c.sound ? "1 0 0" : "0 0 0");
        screen.onKeyConfirm();
        screen.onKeyUp();
        EXPECT_EQ(screen.isDone(), 0u);
        screen.onKeyBack();
        EXPECT_EQ(screen.isDone(), 1u);
        EXPECT_EQ(screen.nextScreen(), GameMenu::controlState);
        EXPECT_EQ(sounds(), "0 0 1");
    }
}

TEST_F(SettingsScreens, TheDisplayModeStepsOverTheListAndNeverBelow1024Wide)
{
    ScreenResolution list;
    const intvec2d modes[] = {{1280, 1024}, {800, 600}, {1024, 768}, {800, 600}};
    list.setModes(modes, 4);
    struct Case
    {
        UINT width, height;
        const wchar_t* shown;
        int direction;
        const wchar_t* after;
    };
    const Case cases[] = {
        {1024, 768, L"1024x768", -1, L"1024x768"},  {1024, 768, L"1024x768", 1, L"1280x1024"},
        {1280, 1024, L"1280x1024", 1, L"1280x1024"}, {1280, 1024, L"1280x1024", -1, L"1024x768"},
        {800, 600, L"800x600", 1, L"1024x768"},      {1100, 800, L"1024x768", 1, L"1280x1024"},
        {640, 480, L"800x600", -1, L"800x600"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.shown);
        chain->presentParameters.BackBufferWidth = c.width;
        chain->presentParameters.BackBufferHeight = c.height;
        GameMenu::Graphics screen(menu);
        screen.modes = &list;
        screen.enter(GameMenu::settingsState);
        EXPECT_EQ(textOf(screen.rows[0]), c.shown);
        sounds();
        if (c.direction < 0)
            screen.onKeyLeft();
        else
            screen.onKeyRight();
        EXPECT_EQ(textOf(screen.rows[0]), c.after);
        EXPECT_EQ(sounds(), std::wstring(c.shown) == c.after ? "0 0 0" : "1 0 0");
    }
    // Without a list the mode shows the back buffer and stays.
    ScreenResolution empty;
    GameMenu::Graphics screen(menu);
    screen.modes = &empty;
    screen.enter(GameMenu::settingsState);
    screen.onKeyRight();
    EXPECT_EQ(textOf(screen.rows[0]), L"640x480");
    EXPECT_EQ(sounds(), "0 0 0");
}

TEST_F(SettingsScreens, TheAntialiasingTableHasFiveEntriesFromWhatTheDeviceReports)
{
    using E = GameMenu::Graphics::Entry;
    constexpr uint32_t nm = D3DMULTISAMPLE_NONMASKABLE;
    struct Case
    {
        const char* what;
        AntialiasingModes found;
        E entries[5];
    };
    const Case cases[] = {
        {"nothing", {}, {{0, 0}, {0, 0}, {0, 0}, {0, 0}, {0, 0}}},
        {"2 to 8 samples", {0, 0, 2, 8}, {{0, 0}, {2, 0}, {4, 0}, {8, 0}, {0, 0}}},
        {"2 to 16 samples and non-maskable", {1, 4, 2, 16}, {{0, 0}, {2, 0}, {4, 0}, {8, 0}, {16, 0}}},
        // The non-maskable type at its highest valid quality, never at the
        // number of levels, which the device refuses.
        {"non-maskable with 4 levels", {1, 4, 0, 0}, {{0, 0}, {0, 0}, {nm, 3}, {0, 0}, {0, 0}}},
        {"non-maskable with 2 levels and 4 samples", {1, 2, 2, 4}, {{0, 0}, {2, 0}, {4, 0}, {0, 0}, {0, 0}}},
        {"non-maskable with 3 levels", {1, 3, 0, 0}, {{0, 0}, {0, 0}, {0, 0}, {0, 0}, {0, 0}}},
        {"16 levels", {1, 16, 0, 0}, {{0, 0}, {0, 0}, {0, 0}, {0, 0}, {nm, 15}}},
    };
    GameMenu::Graphics screen(menu);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        screen.fillAntialiasing(c.found);
        ASSERT_EQ(screen.aaCount, 5);
        for (int i = 0; i < 5; ++i) {
            EXPECT_EQ(screen.aaModes[i].type, c.entries[i].type) << i;
            EXPECT_EQ(screen.aaModes[i].quality, c.entries[i].quality) << i;
        }
    }
}

TEST_F(SettingsScreens, TheGraphicsRowsChangeTheirValuesWithinTheirBounds)
{
    GameMenu::Graphics screen(menu);
    screen.enter(GameMenu::pauseState);
    EXPECT_EQ(screen.nextScreen(), GameMenu::pauseState);
    using G = GameMenu::Graphics;
    struct Step
    {
        int32_t row;
        void (G::*key)();
        uint32_t antialiasing, shadow;
        const wchar_t* text;
        int sound;
    };
    // Antialiasing 0 to 3 only; shadows 0 to 2; full screen and bloom toggle.
    const Step steps[] = {
        {72, &G::onKeyLeft, 0, 2, L"OFF", 0},  {72, &G::onKeyRight, 1, 2, L"2x", 1},
        {72, &G::onKeyRight, 2, 2, L"4x", 1},  {72, &G::onKeyRight, 3, 2, L"8x", 1},
        {72, &G::onKeyRight, 3, 2, L"8x", 0},  {72, &G::onKeyLeft, 2, 2, L"4x", 1},
        {73, &G::onKeyRight, 2, 2, L"SOFT", 0}, {73, &G::onKeyLeft, 2, 1, L"HARD", 1},
        {73, &G::onKeyLeft, 2, 0, L"OFF", 1},  {73, &G::onKeyLeft, 2, 0, L"OFF", 0},
        {71, &G::onKeyLeft, 2, 0, L"ON", 1},   {71, &G::onKeyRight, 2, 0, L"OFF", 1},
        {74, &G::onKeyRight, 2, 0, L"ON", 1},
    };
    for (const Step& step : steps) {
        screen.selection = step.row;
        sounds();
        (screen.*step.key)();
        EXPECT_EQ(app.options.antialiasing, step.antialiasing);
        EXPECT_EQ(app.options.shadowOption, step.shadow);
        EXPECT_EQ(textOf(screen.rows[step.row - 70]), step.text);
        EXPECT_EQ(sounds(), step.sound ? "1 0 0" : "0 0 0");
    }
    EXPECT_EQ(app.options.option3, 0u) << "bloom waits for Apply";
    // A stored shadow value beyond soft comes into range with the press.
    app.options.shadowOption = 7;
    screen.selection = 73;
    screen.onKeyLeft();
    EXPECT_EQ(app.options.shadowOption, 1u);
    EXPECT_EQ(sounds(), "1 0 0");
    // Confirm does nothing but on Apply, which needs the application.
    for (int32_t row : {70, 71, 72, 73, 74, 79}) {
        screen.selection = row;
        screen.onKeyConfirm();
    }
    EXPECT_EQ(app.applied, 0);
    EXPECT_EQ(sounds(), "0 0 0");
    // Up and down walk the rows and Apply, wrapping.
    screen.selection = 70;
    screen.onKeyUp();
    EXPECT_EQ(screen.selection, 79);
    screen.onKeyDown();
    EXPECT_EQ(screen.selection, 70);
    for (int32_t expected : {71, 72, 73, 74, 79}) {
        screen.onKeyDown();
        EXPECT_EQ(screen.selection, expected);
    }
    EXPECT_EQ(sounds(), "7 0 0");
    screen.onKeyBack();
    EXPECT_EQ(screen.isDone(), 1u);
    EXPECT_EQ(sounds(), "0 0 1");
}

TEST_F(SettingsScreens, ApplyKeepsItsMarginsAtEveryBackBufferSize)
{
    GameMenu::Graphics screen(menu);
    screen.enter(GameMenu::settingsState);
    for (UINT width : {1024u, 800u, 1600u}) {
        chain->presentParameters.BackBufferWidth = width;
        chain->presentParameters.BackBufferHeight = width * 3 / 4;
        screen.update();
        const UserInterface::Size size = screen.applyButton->getSize();
        EXPECT_EQ(screen.applyButton->x + size.width, int32_t(width) - 100);
        EXPECT_EQ(screen.applyButton->y + size.height, int32_t(width * 3 / 4) - 50);
    }
    EXPECT_EQ(screen.rows[4]->y, 650);
    EXPECT_EQ(screen.rows[4]->previous->y, 650);
    EXPECT_EQ(screen.labels[4]->y, 620);
}

TEST_F(SettingsScreens, TheLanguageSwitchesAtOnceAndStopsAtTheEndsOfTheList)
{
    ASSERT_EQ(language.count(), 2);
    ASSERT_EQ(language.currentIndex(), 1) << "English is the second built-in language";
    GameMenu::Language screen(menu);
    screen.enter(GameMenu::settingsState);
    EXPECT_EQ(textOf(screen.titleText), L"LANGUAGE");
    EXPECT_EQ(textOf(screen.languageButton), L"English");
    sounds();
    screen.onKeyRight();
    EXPECT_EQ(language.currentIndex(), 1);
    EXPECT_EQ(sounds(), "0 0 0");
    screen.onKeyLeft();
    EXPECT_EQ(language.currentIndex(), 0);
    EXPECT_EQ(textOf(screen.titleText), L"SPRACHE");
    EXPECT_EQ(textOf(screen.languageLabel), L"SPRACHE");
    EXPECT_EQ(textOf(screen.languageButton), L"Deutsch");
    EXPECT_EQ(sounds(), "1 0 0");
    screen.onKeyLeft();
    EXPECT_EQ(language.currentIndex(), 0);
    EXPECT_EQ(sounds(), "0 0 0");
    screen.onKeyUp();
    screen.onKeyDown();
    EXPECT_EQ(sounds(), "0 0 0");
    // Confirm and back both leave with the back sound, to the state given.
    int32_t returnState = GameMenu::settingsState;
    for (void (GameMenu::Language::*key)() : {&GameMenu::Language::onKeyConfirm, &GameMenu::Language::onKeyBack}) {
        (screen.*key)();
        EXPECT_EQ(screen.isDone(), 1u);
        EXPECT_EQ(screen.nextScreen(), returnState);
        returnState = GameMenu::mainState;
        EXPECT_EQ(sounds(), "0 0 1");
        screen.reset();
        screen.enter(GameMenu::mainState);
        EXPECT_EQ(textOf(screen.languageButton), L"Deutsch");
    }
    EXPECT_EQ(screen.nextScreen(), GameMenu::mainState);
    // A pack whose name has no text shows its name.
    Language::Pack pack;
    pack.name = String(L"Klingon \u00e4 %s %n");
    language.addPack(pack);
    screen.onKeyRight();
    screen.onKeyRight();
    EXPECT_EQ(language.currentIndex(), 2);
    EXPECT_EQ(textOf(screen.languageButton), L"Klingon \u00e4 %s %n");
    EXPECT_EQ(textOf(screen.titleText), L"LANGUAGE") << "the pack without texts falls back to English";
}

// The road from the settings hub through the control screen to the
// extended control screen and back to Main, by keys.
TEST_F(SettingsScreens, KeysLeadFromTheHubToTheControlsToTheInertiaAndBackToMain)
{
    menu.controls = &bindings;
    menu.createSettings();
    menu.createControl();
    menu.createGraphics();
    menu.createLanguage();
    menu.showExtendedControl(true);
    menu.openScreen(GameMenu::settingsState);
    std::vector<int32_t> road{menu.menuState};
    const auto press = [&](int key) {
        keys({key});
        menu.update();
        keys({});
        menu.update();
        if (road.back() != menu.menuState)
            road.push_back(menu.menuState);
    };
    for (int key : {DIK_RETURN, DIK_DOWN, DIK_DOWN, DIK_RETURN, DIK_RIGHT, DIK_ESCAPE, DIK_ESCAPE, DIK_ESCAPE})
        press(key);
    EXPECT_EQ(road, (std::vector<int32_t>{14, 18, 30, 18, 14, 4}));
    EXPECT_EQ(bindings.steeringMode, 3u) << "right on the inertia";
    // The hub's highlight and the control screen's selection lived on.
    EXPECT_EQ(static_cast<GameMenu::Settings*>(menu.settingsScreen)->selection, 34);
    EXPECT_EQ(static_cast<GameMenu::Control*>(menu.controlScreen)->selection, 39);
    // Graphics and language lead back to the hub.
    menu.openScreen(GameMenu::settingsState);
    press(DIK_DOWN);
    press(DIK_RETURN);
    EXPECT_EQ(menu.menuState, GameMenu::graphicsState);
    press(DIK_ESCAPE);
    EXPECT_EQ(menu.menuState, GameMenu::settingsState);
    press(DIK_DOWN);
    press(DIK_RETURN);
    EXPECT_EQ(menu.menuState, GameMenu::languageState);
    press(DIK_RETURN);
    EXPECT_EQ(menu.menuState, GameMenu::settingsState);
}

// Opened from the pause screen, the control and graphics screens go back to
// it, through the extended control screen too; on a first start the
// language screen leads on to Main.
TEST_F(SettingsScreens, OverThePauseScreenTheControlAndGraphicsScreensReturnToIt)
{
    MenuStandIn::calls.clear();
    menu.makers[GameMenu::pauseKind] = MenuStandIn::makeScreen<GameMenu::pauseKind>;
    menu.createControl();
    menu.createGraphics();
    menu.createLanguage();
    menu.showPause(true);
    const auto press = [&](int key) {
        keys({key});
        menu.update();
        keys({});
        menu.update();
    };
    menu.openScreen(GameMenu::controlState, GameMenu::pauseState);
    std::vector<int32_t> road{menu.menuState};
    for (int key : {DIK_DOWN, DIK_DOWN, DIK_RETURN, DIK_ESCAPE, DIK_ESCAPE}) {
        press(key);
        if (road.back() != menu.menuState)
            road.push_back(menu.menuState);
    }
    EXPECT_EQ(road, (std::vector<int32_t>{18, 30, 18, 12}));
    EXPECT_EQ(menu.extendedControlScreen, nullptr) << "shown only while it is open over the pause";
    EXPECT_EQ(MenuStandIn::count("pause:down"), 0) << "the control screen keeps its keys";

    menu.openScreen(GameMenu::graphicsState, GameMenu::pauseState);
    press(DIK_ESCAPE);
    EXPECT_EQ(menu.menuState, GameMenu::pauseState);
    menu.showPause(false);

    menu.openScreen(GameMenu::languageState, GameMenu::mainState);
    press(DIK_RETURN);
    EXPECT_EQ(menu.menuState, GameMenu::mainState);
}
