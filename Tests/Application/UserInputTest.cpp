#include "Application/LanguageSetup.h"
#include "Application/UserInput.h"
#include "Core/Language.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <tuple>
#include <vector>

namespace {

// A keyboard state as DirectInput reports it, with the given keys down.
const uint8_t* keys(std::initializer_list<int> down)
{
    static uint8_t raw[UserInput::keyCount];
    std::fill(raw, raw + UserInput::keyCount, 0);
    for (int code : down)
        raw[code] = 0x80;
    return raw;
}

} // namespace

TEST(UserInput, KeysGiveHeldAndPressedFlagsAndDriveTheArrowAxes)
{
    auto input = std::make_unique<UserInput>();
    UserInput::State& s = input->state;
    input->applyKeyboard(keys({DIK_A, DIK_RIGHT}), 1.0f);
    EXPECT_EQ(s.keyPressed[DIK_A], 1);
    EXPECT_EQ(s.keyAxisX, 1.0f);
    input->applyKeyboard(keys({DIK_A}), 1.0f);
    EXPECT_EQ(s.keyHeld[DIK_A], 1);
    EXPECT_EQ(s.keyPressed[DIK_A], 0);
    EXPECT_EQ(s.lastKey, DIK_A);
    EXPECT_FLOAT_EQ(s.keyAxisX, 0.5f);
    input->applyKeyboard(keys({}), 0.0f); // a paused clock holds the axis
    EXPECT_FLOAT_EQ(s.keyAxisX, 0.5f);
    EXPECT_EQ(s.lastKey, -1);
    input->applyKeyboard(keys({DIK_LEFT, DIK_DOWN}), 1.0f); // the other end at once
    EXPECT_EQ(s.keyAxisX, -1.0f);
    EXPECT_EQ(s.keyAxisY, -1.0f);
    input->reset();
    input->applyKeyboard(keys({DIK_LEFT, DIK_RIGHT}), 1.0f);
    EXPECT_EQ(s.keyAxisX, 0.0f);

    // A reset forgets every device and effect (it releases nothing) and the state.
    int stand[6];
    input->directInput = reinterpret_cast<IDirectInput8W*>(&stand[0]);
    input->keyboard = reinterpret_cast<IDirectInputDevice8W*>(&stand[1]);
    input->mouse = reinterpret_cast<IDirectInputDevice8W*>(&stand[2]);
    input->joystick = reinterpret_cast<IDirectInputDevice8W*>(&stand[3]);
    input->pulseEffect = reinterpret_cast<IDirectInputEffect*>(&stand[4]);
    input->rumbleEffect = reinterpret_cast<IDirectInputEffect*>(&stand[5]);
    s.keyHeld[DIK_Q] = 1;
    input->reset();
    EXPECT_EQ(input->directInput, nullptr);
    EXPECT_TRUE(!input->keyboard && !input->mouse && !input->joystick);
    EXPECT_TRUE(!input->pulseEffect && !input->rumbleEffect);
    EXPECT_EQ(s.keyHeld[DIK_Q], 0);
    EXPECT_EQ(s.lastKey, -1);
}

// A released axis halves per reference frame whatever the frame rate, and
// never changes sign, also below 17.5 frames a second (factor above 2).
TEST(UserInput, ReleasedAxisDecaysSmoothlyAtEveryFrameFactor)
{
    for (float factor : {0.5f, 1.0f, 2.5f, 4.0f}) {
        SCOPED_TRACE(factor);
        auto input = std::make_unique<UserInput>();
        input->applyKeyboard(keys({DIK_LEFT}), factor);
        float previous = -1.0f, span = 0.0f;
        while (span < 8.0f - 1e-4f) {
            input->applyKeyboard(keys({}), factor);
            span += factor;
            EXPECT_LE(input->state.keyAxisX, 0.0f);
            EXPECT_GT(input->state.keyAxisX, previous);
            previous = input->state.keyAxisX;
        }
        EXPECT_NEAR(previous, -std::pow(0.5f, span), 1e-5f);
    }
}

TEST(UserInput, EveryCodeMapsToItsOwnAddressAndBadCodesToNone)
{
    auto input = std::make_unique<UserInput>();
    const UserInput::State& s = input->state;
    std::vector<InputCode> codes;
    for (int variant = 0; variant < 2; ++variant) {
        for (int index = 0; index < UserInput::keyCount; ++index)
            codes.push_back({InputCode::Keyboard, index, variant, 0, 0});
        for (int index = 0; index < UserInput::mouseCodeCount; ++index)
            codes.push_back({InputCode::Mouse, index, variant, 0, 0});
    }
    for (int index = 0; index < UserInput::joyCodeCount; ++index)
        codes.push_back({InputCode::Joystick, index, 0, 0, 0});
    for (int index = 0; index < UserInput::joyAxisCount; ++index)
        codes.push_back({InputCode::Joystick, index, 0, 1, 0});
    std::vector<const void*> seen;
    for (const InputCode& code : codes) {
        const void* address = UserInput::addressOfCode(code, s);
        ASSERT_TRUE(address >= static_cast<const void*>(&s) && address < static_cast<const void*>(&s + 1));
        EXPECT_EQ(UserInput::codeOfAddress(address, s), code);
        seen.push_back(address);
    }
    std::sort(seen.begin(), seen.end());
    EXPECT_EQ(std::adjacent_find(seen.begin(), seen.end()), seen.end());

    using I = InputCode;
    const InputCode bad[] = {{},  {I::Keyboard, 256, 0, 0, 0}, {I::Keyboard, -1, 0, 0, 0}, {I::Keyboard, 5, 2, 0, 0},
                             {I::Mouse, 10, 0, 0, 0},   {I::Joystick, 36, 0, 0, 0}, {I::Joystick, 6, 0, 1, 0},
                             {I::Joystick, 1, 0, 2, 0}, {4, 0, 0, 0, 0}, {INT32_MIN, INT32_MIN, 0, 0, 0}};
    for (const InputCode& code : bad)
        EXPECT_EQ(UserInput::addressOfCode(code, s), nullptr) << code.device << " " << code.index;
    // Addresses that are no table element, or inside one, name nothing.
    const auto* axisByte = reinterpret_cast<const uint8_t*>(&s.joyAxes[1]) + 1;
    for (const void* address : {static_cast<const void*>(&s.lastKey), static_cast<const void*>(axisByte),
                                static_cast<const void*>(&s + 1), static_cast<const void*>(nullptr)})
        EXPECT_EQ(UserInput::codeOfAddress(address, s), InputCode());
}

TEST(UserInput, InputNamesKeepTheirExactCharactersInBothLanguages)
{
    Language* previous = gLanguage;
    Language language;
    gLanguage = &language;
    LanguageSetup::run(language, nullptr, 0x0409);
    const std::pair<int, const wchar_t*> keyNames[] = {
        {0x0C, L"\u00DF"},     {0x0D, L"\u00B4"},       {0x1A, L"\u00DC"},    {0x27, L"\u00D6"},
        {0x28, L"\u00C4"},     {0xB5, L"Numpad \u00F7"}, {0x15, L"Z"} /* German layout */,
        {0x64, L""},           {0x47, L"Numpad 7"},     {0x4B, L"Numpad 4"}, {0x53, L"Numpad ,"},
        {0x3B, L"F1"},         {0x58, L"F12"},          {0xB8, L"Alt Gr"},   {0xC7, L"Pos1"},
        {0x2A, L"Left Shift"}, {0xCB, L"Arrow Left"}};
    for (const auto& [code, name] : keyNames)
        EXPECT_STREQ(UserInput::nameOfCode({InputCode::Keyboard, code, 1, 0, 0}).text(), name) << code;
    // The rows of letters and digits name themselves, in the German layout.
    const std::pair<int, const wchar_t*> rows[] = {
        {0x02, L"1234567890"}, {0x10, L"QWERTZUIOP"}, {0x1E, L"ASDFGHJKL"}, {0x2C, L"YXCVBNM"}};
    for (const auto& [first, letters] : rows)
        for (int i = 0; letters[i]; ++i)
            EXPECT_EQ(std::wstring(UserInput::nameOfCode({InputCode::Keyboard, first + i, 0, 0, 0}).text()),
                      std::wstring(1, letters[i]))
                << first + i;
    auto input = std::make_unique<UserInput>();
    const UserInput::State& s = input->state;
    EXPECT_STREQ(input->getInputName(&s.joyHeld[UserInput::povDown]).text(), L"POV down");
    EXPECT_STREQ(input->getInputName(&s.joyAxes[3]).text(), L"X axis 2");
    EXPECT_STREQ(input->getInputName(&s.mousePressed[UserInput::wheelUp]).text(), L"Wheel up");
    EXPECT_STREQ(input->getInputName(&s.lastMouse).text(), L"");
    language.setCurrent(language.find(L"German"));
    EXPECT_STREQ(input->getInputName(&s.joyHeld[31]).text(), L"Taste 32");
    EXPECT_STREQ(input->getInputName(&s.keyHeld[DIK_LEFT]).text(), L"Pfeil links");
    gLanguage = previous;
}

namespace {

DIJOYSTATE joystickAt(std::initializer_list<float> axes = {}, DWORD pov = 0xFFFFFFFF)
{
    DIJOYSTATE raw{};
    LONG* fields[6] = {&raw.lX, &raw.lY, &raw.lZ, &raw.lRx, &raw.lRy, &raw.lRz};
    for (LONG* field : fields)
        *field = 32767;
    int axis = 0;
    for (float value : axes)
        *fields[axis++] = LONG(std::lround(32767.0f + value * 32767.0f));
    raw.rgdwPOV[0] = pov;
    raw.rgdwPOV[1] = raw.rgdwPOV[2] = raw.rgdwPOV[3] = 0xFFFFFFFF;
    return raw;
}

} // namespace

// Mouse movement and buttons; a wheel notch presses its own code for one
// poll, by its direction, and is never held.
TEST(UserInput, MouseButtonsWheelAndMovement)
{
    auto input = std::make_unique<UserInput>();
    UserInput::State& s = input->state;
    DIMOUSESTATE2 raw{};
    raw.lX = 12;
    raw.lY = -7;
    raw.rgbButtons[1] = 0x80;
    input->applyMouse(raw);
    EXPECT_EQ(std::tuple(s.mouseDeltaX, s.mouseDeltaY), std::tuple(12.0f, -7.0f));
    EXPECT_EQ(std::tuple(s.mousePressed[1], s.mouseHeld[1], s.lastMouse), std::tuple(1, 1, 1));
    const struct {
        LONG wheel;
        uint8_t up, down;
        int32_t last;
    } polls[] = {{120, 1, 0, UserInput::wheelUp}, {-120, 0, 1, UserInput::wheelDown}, {0, 0, 0, -1}};
    for (const auto& poll : polls) {
        raw = DIMOUSESTATE2{};
        raw.lZ = poll.wheel;
        input->applyMouse(raw);
        EXPECT_EQ(s.mousePressed[UserInput::wheelUp], poll.up) << poll.wheel;
        EXPECT_EQ(s.mousePressed[UserInput::wheelDown], poll.down) << poll.wheel;
        EXPECT_EQ(s.mouseHeld[UserInput::wheelUp] + s.mouseHeld[UserInput::wheelDown], 0) << poll.wheel;
        EXPECT_EQ(s.lastMouse, poll.last) << poll.wheel;
        EXPECT_EQ(s.mouseHeld[1], 0);
    }
}

// Axes from the raw range; each POV angle holds its own direction while held
// (diagonals and the centre none); a button counts as new only when it goes
// down, and then wins over the POV.
TEST(UserInput, JoystickAxesPovDirectionsAndButtons)
{
    auto input = std::make_unique<UserInput>();
    UserInput::State& s = input->state;
    input->applyJoystick(joystickAt({0.0f, -1.0f, 1.0f}));
    EXPECT_NEAR(s.joyAxes[0], 0.0f, 1e-4f);
    EXPECT_NEAR(s.joyAxes[1], -1.0f, 1e-4f);
    EXPECT_NEAR(s.joyAxes[2], 1.0f, 1e-4f);

    const int directions[] = {UserInput::povLeft, UserInput::povRight, UserInput::povUp, UserInput::povDown};
    const std::pair<DWORD, int> angles[] = {{0, UserInput::povUp},       {9000, UserInput::povRight},
                                            {18000, UserInput::povDown}, {27000, UserInput::povLeft},
                                            {4500, -1},                  {0xFFFFFFFF, -1}};
    for (const auto& [angle, direction] : angles)
        for (int poll = 0; poll < 2; ++poll) {
            input->applyJoystick(joystickAt({}, angle));
            EXPECT_EQ(s.lastJoystick, direction) << angle;
            for (int code : directions)
                EXPECT_EQ(s.joyHeld[code], code == direction ? 1 : 0) << angle << " " << code;
        }
    DIJOYSTATE raw = joystickAt({}, 9000);
    raw.rgbButtons[2] = 0x80;
    input->applyJoystick(raw);
    EXPECT_EQ(s.lastJoystick, 2);
    input->applyJoystick(raw);
    EXPECT_EQ(s.lastJoystick, UserInput::povRight);
    EXPECT_EQ(s.joyHeld[2], 1);
}

// Detection for the bindings menu: a joystick input over a mouse button over
// a key; a joystick axis only when it moved past the middle since the last
// poll, with its direction.
TEST(UserInput, DetectionPrefersJoystickOverMouseOverKeyAndTakesOnlyMovingAxes)
{
    auto input = std::make_unique<UserInput>();
    input->applyKeyboard(keys({DIK_F5}), 1.0f);
    EXPECT_EQ(input->detectPressedInput(), (InputCode{InputCode::Keyboard, DIK_F5, 0, 0, 0}));
    DIMOUSESTATE2 mouse{};
    mouse.rgbButtons[0] = 0x80;
    input->applyMouse(mouse);
    EXPECT_EQ(input->detectPressedInput(), (InputCode{InputCode::Mouse, 0, 0, 0, 0}));
    mouse = DIMOUSESTATE2{};
    mouse.lZ = 120;
    input->applyMouse(mouse);
    EXPECT_EQ(input->detectPressedInput(), (InputCode{InputCode::Mouse, UserInput::wheelUp, 0, 0, 0}));
    DIJOYSTATE raw = joystickAt();
    raw.rgbButtons[6] = 0x80;
    input->applyJoystick(raw);
    EXPECT_EQ(input->detectPressedInput(), (InputCode{InputCode::Joystick, 6, 0, 0, 0}));

    const struct {
        std::initializer_list<float> before, after;
        InputCode expected;
    } axes[] = {
        {{0.0f, 0.7f}, {0.0f, 0.7f}, InputCode()}, // resting off-centre
        {{0.0f, 0.0f, 0.0f, 0.6f}, {0.0f, 0.0f, 0.0f, -0.8f}, {InputCode::Joystick, 3, 0, 1, 1}},
        {{0.0f}, {0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.9f}, {InputCode::Joystick, 5, 0, 1, 0}},
        {{0.0f}, {0.0f, 0.0f, 0.4f}, InputCode()}, // not past the middle
    };
    for (const auto& axis : axes) {
        auto fresh = std::make_unique<UserInput>();
        fresh->applyJoystick(joystickAt(axis.before));
        fresh->applyJoystick(joystickAt(axis.after));
        const InputCode found = fresh->detectPressedInput();
        EXPECT_EQ(found, axis.expected) << found.index << " " << found.negative;
    }
}
