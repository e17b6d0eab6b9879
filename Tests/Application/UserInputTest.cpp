#include "Application/LanguageSetup.h"
#include "Application/UserInput.h"
#include "Core/Language.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <vector>

namespace {

// Synthetic device states, as DirectInput would report them.
struct Keys
{
    uint8_t raw[UserInput::keyCount] = {};
    Keys& down(int code)
    {
        raw[code] = 0x80;
        return *this;
    }
};

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

// The built-in texts, English or German current, for the length of a test.
class BuiltInTexts
{
public:
    explicit BuiltInTexts(uint16_t languageId) : previous(gLanguage)
    {
        LanguageSetup::run(language, nullptr, languageId);
        gLanguage = &language;
    }
    ~BuiltInTexts() { gLanguage = previous; }

private:
    Language language;
    Language* previous;
};

constexpr uint16_t englishId = 0x0409;
constexpr uint16_t germanId = 0x0407;

std::wstring nameOf(const InputCode& code)
{
    return UserInput::nameOfCode(code).text();
}

} // namespace

TEST(UserInput, HeldAndPressedFlagsAndTheLastKey)
{
    auto input = std::make_unique<UserInput>();
    UserInput::State& s = input->state;
    input->applyKeyboard(Keys().down(DIK_A).down(DIK_Z).raw, 1.0f);
    EXPECT_EQ(s.keyPressed[DIK_A], 1);
    EXPECT_EQ(s.keyPressed[DIK_Z], 1);
    EXPECT_EQ(s.lastKey, DIK_Z); // the higher code of the two
    input->applyKeyboard(Keys().down(DIK_A).raw, 1.0f);
    EXPECT_EQ(s.keyHeld[DIK_A], 1);
    EXPECT_EQ(s.keyPressed[DIK_A], 0);
    EXPECT_EQ(s.keyHeld[DIK_Z], 0);
    EXPECT_EQ(s.lastKey, DIK_A);
    input->applyKeyboard(Keys().raw, 1.0f);
    EXPECT_EQ(s.keyHeld[DIK_A], 0);
    EXPECT_EQ(s.lastKey, -1);
    EXPECT_EQ(input->detectPressedInput(), InputCode());
}

TEST(UserInput, ArrowKeysDriveTheAxesToTheirEndsAndReleasedAxesHalvePerReferenceFrame)
{
    auto input = std::make_unique<UserInput>();
    UserInput::State& s = input->state;
    input->applyKeyboard(Keys().down(DIK_RIGHT).down(DIK_UP).raw, 1.0f);
    EXPECT_EQ(s.keyAxisX, 1.0f);
    EXPECT_EQ(s.keyAxisY, 1.0f);
    for (float expected : {0.5f, 0.25f, 0.125f}) {
        input->applyKeyboard(Keys().raw, 1.0f);
        EXPECT_FLOAT_EQ(s.keyAxisX, expected);
    }
    // From there the other key reaches the other end at once.
    input->applyKeyboard(Keys().down(DIK_LEFT).down(DIK_DOWN).raw, 1.0f);
    EXPECT_EQ(s.keyAxisX, -1.0f);
    EXPECT_EQ(s.keyAxisY, -1.0f);
    // Opposite keys together cancel.
    input->reset();
    input->applyKeyboard(Keys().down(DIK_LEFT).down(DIK_RIGHT).raw, 1.0f);
    EXPECT_EQ(s.keyAxisX, 0.0f);
    // A paused clock (factor 0) holds the axis.
    input->applyKeyboard(Keys().down(DIK_RIGHT).raw, 1.0f);
    input->applyKeyboard(Keys().raw, 0.0f);
    EXPECT_EQ(s.keyAxisX, 1.0f);
}

// The decay must not depend on the frame rate: after the same span of
// reference frames a released axis has the same value, and it never changes
// sign, also at the slowest frame rates (factor above 2).
TEST(UserInput, ReleasedAxisDecaysSmoothlyAtEveryFrameRate)
{
    for (float factor : {0.25f, 0.5f, 1.0f, 1.5f, 2.0f, 2.5f, 3.0f, 4.0f}) {
        SCOPED_TRACE(factor);
        auto input = std::make_unique<UserInput>();
        input->applyKeyboard(Keys().down(DIK_LEFT).raw, factor);
        ASSERT_EQ(input->state.keyAxisX, -1.0f);
        float previous = -1.0f;
        float span = 0.0f;
        while (span < 8.0f - 1e-4f) {
            input->applyKeyboard(Keys().raw, factor);
            span += factor;
            const float value = input->state.keyAxisX;
            EXPECT_LE(value, 0.0f);
            EXPECT_GT(value, previous);
            previous = value;
        }
        EXPECT_NEAR(previous, -std::pow(0.5f, span), 1e-5f);
    }
}

TEST(UserInput, MouseButtonsWheelAndMovement)
{
    auto input = std::make_unique<UserInput>();
    UserInput::State& s = input->state;
    DIMOUSESTATE2 raw{};
    raw.lX = 12;
    raw.lY = -7;
    raw.rgbButtons[1] = 0x80;
    input->applyMouse(raw);
    EXPECT_EQ(s.mouseDeltaX, 12.0f);
    EXPECT_EQ(s.mouseDeltaY, -7.0f);
    EXPECT_EQ(s.mousePressed[1], 1);
    EXPECT_EQ(s.lastMouse, 1);

    // A wheel notch is a press of its own code for one poll; it is never held.
    raw = DIMOUSESTATE2{};
    raw.lZ = 120;
    input->applyMouse(raw);
    EXPECT_EQ(s.mouseHeld[1], 0);
    EXPECT_EQ(s.mouseHeld[UserInput::wheelUp], 0);
    EXPECT_EQ(input->detectPressedInput(), (InputCode{InputCode::Mouse, 8, 0, 0, 0}));
    raw.lZ = -120;
    input->applyMouse(raw);
    EXPECT_EQ(s.mousePressed[UserInput::wheelUp], 0);
    EXPECT_EQ(s.mousePressed[UserInput::wheelDown], 1);
    raw.lZ = 0;
    input->applyMouse(raw);
    EXPECT_EQ(s.mousePressed[UserInput::wheelDown], 0);
    EXPECT_EQ(s.lastMouse, -1);
}

TEST(UserInput, JoystickAxesPovAndButtons)
{
    auto input = std::make_unique<UserInput>();
    UserInput::State& s = input->state;
    input->applyJoystick(joystickAt({0.0f, -1.0f, 1.0f}));
    EXPECT_NEAR(s.joyAxes[0], 0.0f, 1e-4f);
    EXPECT_NEAR(s.joyAxes[1], -1.0f, 1e-4f);
    EXPECT_NEAR(s.joyAxes[2], 1.0f, 1e-4f);

    // A POV direction is reported in every update while held...
    for (int frame = 0; frame < 2; ++frame) {
        input->applyJoystick(joystickAt({}, 9000));
        EXPECT_EQ(s.lastJoystick, UserInput::povRight);
        EXPECT_EQ(s.joyHeld[UserInput::povRight], 1);
    }
    // ... a button only when it goes down, and it wins over the POV.
    DIJOYSTATE raw = joystickAt({}, 9000);
    raw.rgbButtons[2] = 0x80;
    input->applyJoystick(raw);
    EXPECT_EQ(s.lastJoystick, 2);
    input->applyJoystick(raw);
    EXPECT_EQ(s.lastJoystick, UserInput::povRight);
    EXPECT_EQ(s.joyHeld[2], 1);

    // A diagonal and a centred POV hold no direction.
    for (DWORD pov : {DWORD(4500), DWORD(0xFFFFFFFF)}) {
        input->applyJoystick(joystickAt({}, pov));
        EXPECT_EQ(s.lastJoystick, -1);
        EXPECT_EQ(s.joyHeld[UserInput::povUp], 0);
    }
}

TEST(UserInput, DetectionPrefersJoystickOverMouseOverKeyAndTakesOnlyMovingAxes)
{
    auto input = std::make_unique<UserInput>();
    input->applyKeyboard(Keys().down(DIK_F5).raw, 1.0f);
    EXPECT_EQ(input->detectPressedInput(), (InputCode{InputCode::Keyboard, DIK_F5, 0, 0, 0}));
    DIMOUSESTATE2 mouse{};
    mouse.rgbButtons[0] = 0x80;
    input->applyMouse(mouse);
    EXPECT_EQ(input->detectPressedInput(), (InputCode{InputCode::Mouse, 0, 0, 0, 0}));
    DIJOYSTATE raw = joystickAt();
    raw.rgbButtons[6] = 0x80;
    input->applyJoystick(raw);
    EXPECT_EQ(input->detectPressedInput(), (InputCode{InputCode::Joystick, 6, 0, 0, 0}));

    auto fresh = std::make_unique<UserInput>();
    fresh->applyJoystick(joystickAt({0.0f, 0.7f}));
    fresh->applyJoystick(joystickAt({0.0f, 0.7f}));
    EXPECT_EQ(fresh->detectPressedInput(), InputCode()); // resting off-centre
    fresh->applyJoystick(joystickAt({0.0f, 0.0f, 0.0f, 0.6f}));
    fresh->applyJoystick(joystickAt({0.0f, 0.0f, 0.0f, -0.8f}));
    EXPECT_EQ(fresh->detectPressedInput(), (InputCode{InputCode::Joystick, 3, 0, 1, 1}));
    fresh->applyJoystick(joystickAt({0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.9f}));
    EXPECT_EQ(fresh->detectPressedInput(), (InputCode{InputCode::Joystick, 5, 0, 1, 0}));
}

TEST(UserInput, EveryInputCodeMapsToItsOwnAddressAndBack)
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
    const auto* first = reinterpret_cast<const uint8_t*>(&s);
    for (const InputCode& code : codes) {
        const void* address = UserInput::addressOfCode(code, s);
        ASSERT_NE(address, nullptr);
        const auto* byte = static_cast<const uint8_t*>(address);
        EXPECT_TRUE(byte >= first && byte < first + sizeof(s));
        EXPECT_EQ(UserInput::codeOfAddress(address, s), code);
        seen.push_back(address);
    }
    std::sort(seen.begin(), seen.end());
    EXPECT_EQ(std::adjacent_find(seen.begin(), seen.end()), seen.end());

    EXPECT_EQ(UserInput::addressOfCode(InputCode(), s), nullptr);
    EXPECT_EQ(UserInput::codeOfAddress(nullptr, s), InputCode());
    // Codes that name nothing give no address, whatever the file said.
    for (const InputCode& bad : std::initializer_list<InputCode>{{InputCode::Keyboard, 256, 0, 0, 0},
                                                                 {InputCode::Keyboard, -1, 0, 0, 0},
                                                                 {InputCode::Keyboard, 5, 2, 0, 0},
                                                                 {InputCode::Mouse, 10, 0, 0, 0},
                                                                 {InputCode::Mouse, 3, -1, 0, 0},
                                                                 {InputCode::Joystick, 36, 0, 0, 0},
                                                                 {InputCode::Joystick, 6, 0, 1, 0},
                                                                 {InputCode::Joystick, -2, 0, 1, 0},
                                                                 {InputCode::Joystick, 1, 0, 2, 0},
                                                                 {4, 0, 0, 0, 0},
                                                                 {-1, 0, 0, 0, 0},
                                                                 {int32_t(0x80000000), int32_t(0x80000000), 0, 0, 0}})
        EXPECT_EQ(UserInput::addressOfCode(bad, s), nullptr) << bad.device << " " << bad.index;
    // Addresses between or inside the tables' elements name nothing.
    const auto* axisBytes = reinterpret_cast<const uint8_t*>(&s.joyAxes[1]);
    for (const void* address : {static_cast<const void*>(&s.lastKey), static_cast<const void*>(&s.keyAxisX),
                                static_cast<const void*>(axisBytes + 1), static_cast<const void*>(&s.joyAxesPrevious[0]),
                                static_cast<const void*>(&s + 1)})
        EXPECT_EQ(UserInput::codeOfAddress(address, s), InputCode());
}

TEST(UserInput, KeyNamesKeepTheirExactCharacters)
{
    BuiltInTexts texts(englishId);
    int named = 0;
    for (int code = 0; code < UserInput::keyCount; ++code) {
        if (UserInput::nameOfCode({InputCode::Keyboard, code, 0, 0, 0}).length() > 0)
            ++named;
    }
    EXPECT_EQ(named, 108);
    EXPECT_EQ(nameOf({InputCode::Keyboard, 0x0C, 0, 0, 0}), L"\u00DF");
    EXPECT_EQ(nameOf({InputCode::Keyboard, 0x0D, 0, 0, 0}), L"\u00B4");
    EXPECT_EQ(nameOf({InputCode::Keyboard, 0x1A, 0, 0, 0}), L"\u00DC");
    EXPECT_EQ(nameOf({InputCode::Keyboard, 0x27, 0, 0, 0}), L"\u00D6");
    EXPECT_EQ(nameOf({InputCode::Keyboard, 0x28, 0, 0, 0}), L"\u00C4");
    EXPECT_EQ(nameOf({InputCode::Keyboard, 0xB5, 0, 0, 0}), L"Numpad \u00F7");
    EXPECT_EQ(nameOf({InputCode::Keyboard, 0x15, 1, 0, 0}), L"Z"); // German layout; the variant is not shown
    EXPECT_EQ(nameOf({InputCode::Keyboard, 0x01, 0, 0, 0}), L"ESC");
    EXPECT_EQ(nameOf({InputCode::Keyboard, 0x44, 0, 0, 0}), L"F10");
    EXPECT_EQ(nameOf({InputCode::Keyboard, 0xE3, 0, 0, 0}), L"Wake");
    EXPECT_EQ(nameOf({InputCode::Keyboard, 0x64, 0, 0, 0}), L"");
    EXPECT_EQ(nameOf({InputCode::Keyboard, 0xCB, 0, 0, 0}), L"Arrow Left");
    EXPECT_EQ(nameOf({InputCode::Keyboard, 0x39, 0, 0, 0}), L"Space");
    EXPECT_EQ(nameOf(InputCode()), L"");
}

TEST(UserInput, InputNamesComeFromTheCurrentLanguage)
{
    auto input = std::make_unique<UserInput>();
    const UserInput::State& s = input->state;
    {
        BuiltInTexts texts(englishId);
        EXPECT_STREQ(input->getInputName(&s.joyHeld[2]).text(), L"Button 3");
        EXPECT_STREQ(input->getInputName(&s.joyHeld[UserInput::povDown]).text(), L"POV down");
        EXPECT_STREQ(input->getInputName(&s.joyAxes[3]).text(), L"X axis 2");
        EXPECT_STREQ(input->getInputName(&s.mousePressed[UserInput::wheelUp]).text(), L"Wheel up");
        EXPECT_STREQ(input->getInputName(&s.mouseHeld[0]).text(), L"Left mouse button");
        EXPECT_STREQ(input->getInputName(&s.keyPressed[DIK_RETURN]).text(), L"Enter");
        EXPECT_STREQ(input->getInputName(&s.lastMouse).text(), L"");
        EXPECT_STREQ(input->getInputName(nullptr).text(), L"");
    }
    {
        BuiltInTexts texts(germanId);
        EXPECT_STREQ(input->getInputName(&s.joyHeld[31]).text(), L"Taste 32");
        EXPECT_STREQ(input->getInputName(&s.keyHeld[DIK_LEFT]).text(), L"Pfeil links");
        EXPECT_STREQ(input->getInputName(&s.keyHeld[0x27]).text(), L"\u00D6");
    }
}
