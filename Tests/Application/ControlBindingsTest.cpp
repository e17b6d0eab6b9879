#include "AppTestFiles.h"

#include "Application/ControlBindings.h"
#include "Application/GlobalSettings.h"
#include "Core/FileArray.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <random>

using AppTestFiles::putU32;

namespace {

using Set = Control::BindingSet;

void putCode(std::vector<uint8_t>& bytes, const InputCode& code)
{
    for (int32_t field : {code.device, code.index, code.variant, code.isAxis, code.negative})
        putU32(bytes, uint32_t(field));
}

// A memory stream holding bytes, positioned at their start.
void fill(FileArray& stream, const std::vector<uint8_t>& bytes)
{
    if (!bytes.empty())
        stream.write(bytes.data(), uint32_t(bytes.size()));
    stream.seek(0, 0);
}

std::vector<uint8_t> bytesOf(FileArray& stream)
{
    return std::vector<uint8_t>(stream.memory(), stream.memory() + stream.size());
}

// The player's record as the application makes it.
Control withDefaults(const UserInput& input)
{
    Control control(input);
    Control::setDefaultKeys(control.keyboardSet);
    Control::setDefaultJoystick(control.joystickSet);
    return control;
}

void expectSameSet(const Set& a, const Set& b)
{
    EXPECT_EQ(a.base, b.base);
    for (int slot = 0; slot < Set::keyCount; ++slot)
        EXPECT_EQ(a.keys[slot], b.keys[slot]) << "key slot " << slot;
    for (int axis = 0; axis < 2; ++axis) {
        EXPECT_EQ(a.axes[axis], b.axes[axis]) << "axis " << axis;
        EXPECT_EQ(a.invertAxis[axis], b.invertAxis[axis]) << "invert " << axis;
    }
}

// Every binding of a set is unbound or names an input of its own kind.
void expectOnlyValidBindings(const Set& set, const UserInput::State& state)
{
    for (const uint8_t* key : set.keys) {
        if (key) {
            const InputCode code = UserInput::codeOfAddress(key, state);
            EXPECT_FALSE(code.isEmpty());
            EXPECT_FALSE(UserInput::isAxisCode(code));
        }
    }
    for (const float* axis : set.axes) {
        if (axis) {
            EXPECT_TRUE(UserInput::isAxisCode(UserInput::codeOfAddress(axis, state)));
        }
    }
}

class ControlBindings : public ::testing::Test
{
protected:
    std::unique_ptr<UserInput> input = std::make_unique<UserInput>();
    UserInput::State& s = input->state;
};

} // namespace

TEST_F(ControlBindings, ANewRecordIsUnbound)
{
    Control control(*input);
    EXPECT_EQ(control.keyboardSet.base, &s);
    EXPECT_EQ(control.steeringMode, 2u);
    EXPECT_EQ(control.enabledActions, 0xFFFFFFFFu);
    memset(s.keyHeld, 1, sizeof(s.keyHeld));
    memset(s.joyHeld, 1, sizeof(s.joyHeld));
    for (uint32_t action = 1; action <= Control::LastButton; action <<= 1)
        EXPECT_EQ(control.getStrongerValue(action), 0.0f);
}

TEST_F(ControlBindings, EvaluationOfAxesAndButtons)
{
    Control control = withDefaults(*input);
    // Keyboard Left against the joystick at 0.3: the keyboard is stronger.
    s.keyHeld[DIK_LEFT] = 1;
    s.joyAxes[0] = 0.3f;
    EXPECT_EQ(Control::evaluate(control.keyboardSet, Control::Steering), -1.0f);
    EXPECT_FLOAT_EQ(Control::evaluate(control.joystickSet, Control::Steering), 0.3f);
    EXPECT_EQ(control.getStrongerValue(Control::Steering), -1.0f);
    s.keyHeld[DIK_RIGHT] = 1; // both keys cancel; the joystick wins
    EXPECT_FLOAT_EQ(control.getStrongerValue(Control::Steering), 0.3f);
    s.keyHeld[DIK_LEFT] = s.keyHeld[DIK_RIGHT] = 0;

    // A tie of magnitudes gives the joystick's value.
    control.keyboardSet.axes[1] = &s.joyAxes[1];
    control.joystickSet.axes[1] = &s.joyAxes[2];
    s.joyAxes[1] = 0.5f;
    s.joyAxes[2] = -0.5f;
    EXPECT_EQ(control.getStrongerValue(Control::Throttle), -0.5f);
    s.keyHeld[DIK_UP] = 1; // accelerate pulls the keyboard's axis to its end
    EXPECT_EQ(control.getStrongerValue(Control::Throttle), 1.0f);
    s.keyHeld[DIK_UP] = 0;

    // An inverted axis; a held key still pulls it to the key's end.
    s.joyAxes[0] = 0.4f;
    control.joystickSet.invertAxis[0] = 1;
    EXPECT_FLOAT_EQ(Control::evaluate(control.joystickSet, Control::Steering), -0.4f);
    control.joystickSet.keys[3] = &s.joyHeld[0];
    s.joyHeld[0] = 1;
    EXPECT_FLOAT_EQ(Control::evaluate(control.joystickSet, Control::Steering), 0.6f);

    // Each button action reads its own slot.
    const int keys[11] = {DIK_NUMPAD0, DIK_RCONTROL, DIK_SPACE, DIK_BACK,   DIK_LEFT, DIK_RIGHT,
                          DIK_UP,      DIK_DOWN,     DIK_RETURN, DIK_ESCAPE, DIK_F1};
    for (int n = 0; n < 11; ++n) {
        const uint32_t action = 0x4u << n;
        EXPECT_EQ(Control::evaluate(control.keyboardSet, action), 0.0f) << action;
        s.keyHeld[keys[n]] = 1;
        EXPECT_EQ(Control::evaluate(control.keyboardSet, action), 1.0f) << action;
        s.keyHeld[keys[n]] = 0;
    }
    s.keyHeld[DIK_NUMPAD0] = 1;
    for (uint32_t unknown : {0u, 0x3u, 0x6u, 0x2000u, 0x80000000u})
        EXPECT_EQ(Control::evaluate(control.keyboardSet, unknown), 0.0f) << unknown;
}

TEST_F(ControlBindings, StoredFormFollowsTheTagLayout)
{
    const Control control = withDefaults(*input);
    FileArray stream(256);
    control.write(stream);
    const std::vector<uint8_t> bytes = bytesOf(stream);

    auto set = [](const std::vector<InputCode>& codes, const InputCode& steeringAxis, const InputCode& lastButton) {
        std::vector<uint8_t> b;
        for (uint32_t tag = 1; tag <= 14; ++tag) {
            putU32(b, tag);
            putCode(b, codes[tag - 1]);
        }
        putU32(b, 15);
        putCode(b, steeringAxis);
        putU32(b, 16);
        putCode(b, InputCode());
        putU32(b, 17);
        putU32(b, 0);
        putU32(b, 18);
        putU32(b, 0);
        putU32(b, 19);
        putCode(b, lastButton);
        putU32(b, 0);
        return b;
    };
    auto key = [](int code) { return InputCode{InputCode::Keyboard, code, 0, 0, 0}; };
    auto button = [](int code) { return InputCode{InputCode::Joystick, code, 0, 0, 0}; };
    std::vector<uint8_t> expected;
    putU32(expected, 1);
    const std::vector<uint8_t> keyboard =
        set({key(DIK_UP), key(DIK_DOWN), key(DIK_LEFT), key(DIK_RIGHT), key(DIK_NUMPAD0), key(DIK_RCONTROL),
             key(DIK_SPACE), key(DIK_BACK), key(DIK_LEFT), key(DIK_RIGHT), key(DIK_UP), key(DIK_DOWN), key(DIK_RETURN),
             key(DIK_ESCAPE)},
            InputCode(), key(DIK_F1));
    expected.insert(expected.end(), keyboard.begin(), keyboard.end());
    putU32(expected, 2);
    const std::vector<uint8_t> joystick =
        set({button(1), button(2), InputCode(), InputCode(), button(5), button(4), button(7), button(9), button(32),
             button(33), button(34), button(35), button(1), button(2)},
            InputCode{InputCode::Joystick, 0, 0, 1, 0}, button(3));
    expected.insert(expected.end(), joystick.begin(), joystick.end());
    putU32(expected, 3);
    putU32(expected, 2);
    putU32(expected, 0);
    EXPECT_EQ(bytes, expected);
}

TEST_F(ControlBindings, RecordRoundTripsThroughTheSettingsFile)
{
    const std::wstring folder = AppTestFiles::freshFolder(L"ControlBindingsRoundTrip");
    Control written = withDefaults(*input);
    written.keyboardSet.keys[6] = &s.mousePressed[UserInput::wheelUp];
    written.keyboardSet.keys[14] = &s.keyPressed[DIK_F12];
    written.keyboardSet.axes[1] = &s.joyAxes[4];
    written.keyboardSet.invertAxis[1] = 1;
    written.joystickSet.keys[0] = nullptr;
    written.joystickSet.keys[2] = &s.joyHeld[UserInput::povLeft];
    written.joystickSet.axes[0] = &s.joyAxes[5];
    written.joystickSet.invertAxis[0] = 7;
    written.steeringMode = 5;
    written.enabledActions = 0x1;

    GlobalSettings settings{String(folder.c_str())};
    settings.controls = &written;
    settings.width = 1280;
    ASSERT_TRUE(settings.writeFile());

    Control read = withDefaults(*input);
    GlobalSettings loaded{String(folder.c_str())};
    loaded.controls = &read;
    ASSERT_EQ(loaded.load(), GlobalSettings::LoadResult::Read);
    EXPECT_EQ(loaded.width, 1280u);
    expectSameSet(read.keyboardSet, written.keyboardSet);
    expectSameSet(read.joystickSet, written.joystickSet);
    EXPECT_EQ(read.steeringMode, 5u);
    EXPECT_EQ(read.enabledActions, 0xFFFFFFFFu); // not stored

    // Settings without a bindings owner read past tag 7 and keep the fields after it.
    GlobalSettings withoutControls{String(folder.c_str())};
    ASSERT_EQ(withoutControls.load(), GlobalSettings::LoadResult::Read);
    EXPECT_EQ(withoutControls.width, 1280u);
    EXPECT_EQ(withoutControls.fourBytes[0], 0x20);
}

TEST_F(ControlBindings, EmptyCodesUnbindOnlyTheAxisKeys)
{
    std::vector<uint8_t> bytes;
    putU32(bytes, 1);
    putU32(bytes, 5);
    putCode(bytes, InputCode());
    putU32(bytes, 1);
    putCode(bytes, InputCode());
    putU32(bytes, 15);
    putCode(bytes, InputCode());
    putU32(bytes, 0);
    putU32(bytes, 0);
    FileArray stream(64);
    fill(stream, bytes);
    Control control = withDefaults(*input);
    control.keyboardSet.axes[0] = &s.joyAxes[2];
    ASSERT_TRUE(control.read(stream));
    EXPECT_EQ(control.keyboardSet.keys[4], &s.keyHeld[DIK_NUMPAD0]); // tag 5 keeps its default
    EXPECT_EQ(control.keyboardSet.keys[0], nullptr);                 // tag 1 is unbound
    EXPECT_EQ(control.keyboardSet.axes[0], &s.joyAxes[2]);
}

// Stored codes that name no input, or an input of the other kind, never
// become bindings: the defaults stay.
TEST_F(ControlBindings, CodesThatNameNothingAreIgnored)
{
    const InputCode bad[] = {{InputCode::Keyboard, 256, 0, 0, 0}, {InputCode::Mouse, 0x7FFFFFFF, 1, 0, 0},
                             {InputCode::Joystick, 6, 0, 1, 0},   {-3, 1, 0, 0, 0}};
    const InputCode anAxis{InputCode::Joystick, 1, 0, 1, 0};
    const InputCode aKey{InputCode::Keyboard, DIK_A, 0, 0, 0};

    std::vector<uint8_t> bytes;
    for (uint32_t subTag : {1u, 2u}) {
        putU32(bytes, subTag);
        for (const InputCode& code : bad) {
            for (uint32_t tag : {1u, 2u, 3u, 4u, 5u, 14u, 15u, 16u, 19u}) {
                putU32(bytes, tag);
                putCode(bytes, code);
            }
        }
        for (uint32_t tag : {1u, 3u, 7u, 19u}) {
            putU32(bytes, tag);
            putCode(bytes, anAxis); // a float where a flag byte is read
        }
        putU32(bytes, 15);
        putCode(bytes, aKey); // a flag byte where a float is read
        putU32(bytes, 0);
    }
    putU32(bytes, 0);

    FileArray stream(64);
    fill(stream, bytes);
    const Control defaults = withDefaults(*input);
    Control control = defaults;
    ASSERT_TRUE(control.read(stream));
    expectSameSet(control.keyboardSet, defaults.keyboardSet);
    expectSameSet(control.joystickSet, defaults.joystickSet);
}

TEST_F(ControlBindings, UnknownTagsCarryNoPayloadAndACutRecordIsReported)
{
    std::vector<uint8_t> bytes;
    putU32(bytes, 9); // unknown sub-tag
    putU32(bytes, 1);
    putU32(bytes, 25); // unknown set tag
    putU32(bytes, 6);
    putCode(bytes, {InputCode::Mouse, 2, 1, 0, 0});
    putU32(bytes, 0);
    putU32(bytes, 3);
    putU32(bytes, 4);
    putU32(bytes, 0);
    {
        FileArray stream(64);
        fill(stream, bytes);
        Control control = withDefaults(*input);
        ASSERT_TRUE(control.read(stream));
        EXPECT_EQ(control.keyboardSet.keys[5], &s.mousePressed[2]);
        EXPECT_EQ(control.steeringMode, 4u);
        EXPECT_EQ(stream.tell(), stream.size());
    }
    for (size_t cut = 0; cut < bytes.size(); cut += 3) {
        FileArray stream(64);
        fill(stream, std::vector<uint8_t>(bytes.begin(), bytes.begin() + long(cut)));
        Control control = withDefaults(*input);
        EXPECT_FALSE(control.read(stream)) << cut;
        expectOnlyValidBindings(control.keyboardSet, s);
    }
}

TEST_F(ControlBindings, ABrokenBindingsRecordRejectsTheFileAndKeepsTheDefaults)
{
    const std::wstring folder = AppTestFiles::freshFolder(L"ControlBindingsBroken");
    Control written = withDefaults(*input);
    written.keyboardSet.keys[0] = &s.keyHeld[DIK_W];
    GlobalSettings settings{String(folder.c_str())};
    settings.controls = &written;
    FileArray stream(1024);
    settings.writeTo(stream);
    std::vector<uint8_t> bytes = bytesOf(stream);
    // Cut inside the bindings record.
    bytes.resize(4 + 12 + 4 * 8 + 4 + 100);
    ASSERT_TRUE(AppTestFiles::write(folder + L"gset.dat", bytes));

    const Control defaults = withDefaults(*input);
    Control read = defaults;
    GlobalSettings loaded{String(folder.c_str())};
    loaded.controls = &read;
    EXPECT_EQ(loaded.load(), GlobalSettings::LoadResult::Rejected);
    expectSameSet(read.keyboardSet, defaults.keyboardSet);
    EXPECT_EQ(AppTestFiles::read(folder + L"gset.dat.bad"), bytes);
}

// Whatever a damaged file holds, every binding read from it is unbound or
// names an input of its own kind inside the state block.
TEST_F(ControlBindings, MutatedSettingsNeverBindOutsideTheTables)
{
    Control written = withDefaults(*input);
    written.keyboardSet.axes[1] = &s.joyAxes[3];
    GlobalSettings settings;
    settings.controls = &written;
    FileArray stream(1024);
    settings.writeTo(stream);
    const std::vector<uint8_t> valid = bytesOf(stream);

    std::mt19937 random(2024);
    int accepted = 0;
    for (int round = 0; round < 3000; ++round) {
        std::vector<uint8_t> bytes = valid;
        const int changes = 1 + int(random() % 8);
        for (int i = 0; i < changes; ++i) {
            const size_t at = random() % bytes.size();
            switch (random() % 3) {
            case 0:
                bytes[at] = uint8_t(random());
                break;
            case 1:
                bytes[at] ^= uint8_t(1u << (random() % 8));
                break;
            default:
                bytes.resize(at + 1);
                break;
            }
        }
        Control read = withDefaults(*input);
        GlobalSettings loaded;
        loaded.controls = &read;
        FileArray mutated(64);
        fill(mutated, bytes);
        if (loaded.readFrom(mutated))
            ++accepted;
        expectOnlyValidBindings(read.keyboardSet, s);
        expectOnlyValidBindings(read.joystickSet, s);
        ASSERT_FALSE(HasFailure()) << "round " << round;
    }
    EXPECT_GT(accepted, 0);
}
