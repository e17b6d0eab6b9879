#include "AppTestFiles.h"

#include "Application/ControlBindings.h"
#include "Application/GlobalSettings.h"
#include "Core/FileArray.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <iterator>
#include <random>
#include <vector>

namespace {

UserInput::State& s = gUserInput.state;

Control withDefaults()
{
    Control control;
    Control::setDefaultKeys(control.keyboardSet);
    Control::setDefaultJoystick(control.joystickSet);
    return control;
}

bool sameSets(const Control& a, const Control& b)
{
    return memcmp(&a.keyboardSet, &b.keyboardSet, sizeof(Control::BindingSet)) == 0 &&
           memcmp(&a.joystickSet, &b.joystickSet, sizeof(Control::BindingSet)) == 0;
}

// Every binding is unbound or names an input of its own kind.
void expectOnlyValidBindings(const Control::BindingSet& set)
{
    for (const uint8_t* key : set.keys) {
        const InputCode code = UserInput::codeOfAddress(key, s);
        EXPECT_TRUE(!key || (!code.isEmpty() && !UserInput::isAxisCode(code)));
    }
    for (const float* axis : set.axes)
        EXPECT_TRUE(!axis || UserInput::isAxisCode(UserInput::codeOfAddress(axis, s)));
}

} // namespace

TEST(ControlBindings, RoundTripThroughTheSettingsFileAndACutRecordKeepsWhatWasRead)
{
    const std::wstring folder = AppTestFiles::freshFolder(L"ControlBindings");
    Control written = withDefaults();
    written.keyboardSet.keys[1] = &s.keyHeld[DIK_S];
    written.keyboardSet.keys[6] = &s.mousePressed[UserInput::wheelUp];
    written.keyboardSet.keys[14] = &s.keyPressed[DIK_F12];
    written.keyboardSet.axes[1] = &s.joyAxes[4];
    written.keyboardSet.invertAxis[1] = 1;
    written.joystickSet.keys[0] = nullptr;
    written.joystickSet.keys[2] = &s.joyHeld[UserInput::povLeft];
    written.joystickSet.invertAxis[0] = 7;
    written.steeringMode = 5;
    GlobalSettings settings(folder.c_str());
    settings.controls = &written;
    settings.width = 1280;
    ASSERT_TRUE(settings.writeFile());

    Control read = withDefaults();
    GlobalSettings loaded(folder.c_str());
    loaded.controls = &read;
    ASSERT_EQ(loaded.load(), GlobalSettings::LoadResult::Read);
    EXPECT_TRUE(sameSets(read, written));
    EXPECT_EQ(read.steeringMode, 5u);
    // Without a bindings owner tag 7 is read past and the fields after it still count.
    GlobalSettings withoutControls(folder.c_str());
    ASSERT_EQ(withoutControls.load(), GlobalSettings::LoadResult::Read);
    EXPECT_EQ(withoutControls.width, 1280u);

    std::vector<uint8_t> cut = AppTestFiles::read(folder + L"gset.dat");
    cut.resize(150); // inside the keyboard set's fourth binding
    ASSERT_TRUE(AppTestFiles::write(folder + L"gset.dat", cut));
    Control partial = withDefaults();
    GlobalSettings again(folder.c_str());
    again.controls = &partial;
    EXPECT_EQ(again.load(), GlobalSettings::LoadResult::Damaged);
    EXPECT_EQ(again.width, 1280u);
    EXPECT_EQ(partial.keyboardSet.keys[1], written.keyboardSet.keys[1]);
    EXPECT_EQ(partial.keyboardSet.keys[6], withDefaults().keyboardSet.keys[6]);
    EXPECT_EQ(partial.steeringMode, 2u);
    EXPECT_EQ(AppTestFiles::read(folder + L"gset.dat.bad"), cut);
}

// Whatever a damaged file holds, the settings stay within their bounds and
// every binding names an input of its own kind inside the state block.
TEST(ControlBindings, MutatedSettingsNeverGiveValuesOrBindingsOutsideTheirBounds)
{
    Control written = withDefaults();
    written.keyboardSet.axes[1] = &s.joyAxes[3];
    GlobalSettings settings;
    settings.controls = &written;
    settings.name = L"Name";
    FileArray stream(1024);
    settings.writeTo(stream);
    const std::vector<uint8_t> valid(stream.memory(), stream.memory() + stream.size());

    std::mt19937 random(2024);
    int accepted = 0;
    for (int round = 0; round < 3000; ++round) {
        std::vector<uint8_t> bytes = valid;
        for (int changes = 1 + int(random() % 8); changes > 0; --changes) {
            const size_t at = random() % bytes.size();
            const uint32_t kind = random() % 3;
            if (kind == 2)
                bytes.resize(at + 1);
            else
                bytes[at] = kind ? uint8_t(bytes[at] ^ (1u << (random() % 8))) : uint8_t(random());
        }
        Control read = withDefaults();
        GlobalSettings loaded;
        loaded.controls = &read;
        FileArray mutated(64);
        mutated.write(bytes.data(), uint32_t(bytes.size()));
        mutated.seek(0, 0);
        // Damaged or not, what was applied stays within its bounds.
        accepted += loaded.readFrom(mutated) ? 1 : 0;
        EXPECT_TRUE(loaded.width >= 1 && loaded.width <= GlobalSettings::maxDimension);
        EXPECT_TRUE(loaded.height >= 1 && loaded.height <= GlobalSettings::maxDimension);
        EXPECT_LE(loaded.options.antialiasing, GlobalSettings::maxAntialiasing);
        EXPECT_LE(loaded.options.fullScreen, 1u);
        EXPECT_LE(loaded.name.length(), int32_t(bytes.size()));
        expectOnlyValidBindings(read.keyboardSet);
        expectOnlyValidBindings(read.joystickSet);
        ASSERT_FALSE(HasFailure()) << "round " << round;
    }
    EXPECT_GT(accepted, 0);
}

// Axes against keys and the stronger of the two sets (a tie gives the
// joystick's value); every button action reads its own slot.
TEST(ControlBindings, EvaluationOfAxesButtonsAndTheStrongerSet)
{
    Control control = withDefaults();
    const auto clear = [] {
        std::fill(std::begin(s.keyHeld), std::end(s.keyHeld), uint8_t(0));
        std::fill(std::begin(s.joyHeld), std::end(s.joyHeld), uint8_t(0));
        std::fill(std::begin(s.joyAxes), std::end(s.joyAxes), 0.0f);
    };
    control.keyboardSet.axes[1] = &s.joyAxes[1];
    control.joystickSet.axes[1] = &s.joyAxes[2];
    const struct {
        const char* what;
        std::vector<int> keys;
        float axis0, axis1, axis2;
        uint32_t action;
        float keyboard, joystick, stronger;
    } cases[] = {
        {"left key against the stick", {DIK_LEFT}, 0.3f, 0, 0, Control::Steering, -1.0f, 0.3f, -1.0f},
        {"both keys cancel", {DIK_LEFT, DIK_RIGHT}, 0.3f, 0, 0, Control::Steering, 0.0f, 0.3f, 0.3f},
        {"right key", {DIK_RIGHT}, -0.2f, 0, 0, Control::Steering, 1.0f, -0.2f, 1.0f},
        {"a tie gives the joystick's", {}, 0, 0.5f, -0.5f, Control::Throttle, 0.5f, -0.5f, -0.5f},
        {"accelerate pulls to the end", {DIK_UP}, 0, 0.5f, -0.5f, Control::Throttle, 1.0f, -0.5f, 1.0f},
        {"brake", {DIK_DOWN}, 0, 0, 0.2f, Control::Throttle, -1.0f, 0.2f, -1.0f},
        {"weaker keyboard", {}, 0, 0.1f, -0.6f, Control::Throttle, 0.1f, -0.6f, -0.6f},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        clear();
        for (int key : c.keys)
            s.keyHeld[key] = 1;
        s.joyAxes[0] = c.axis0;
        s.joyAxes[1] = c.axis1;
        s.joyAxes[2] = c.axis2;
        EXPECT_FLOAT_EQ(Control::evaluate(control.keyboardSet, c.action), c.keyboard);
        EXPECT_FLOAT_EQ(Control::evaluate(control.joystickSet, c.action), c.joystick);
        EXPECT_FLOAT_EQ(control.getStrongerValue(c.action), c.stronger);
    }

    // An inverted axis; a held key still pulls it towards the key's end.
    clear();
    s.joyAxes[0] = 0.4f;
    control.joystickSet.invertAxis[0] = 1;
    EXPECT_FLOAT_EQ(Control::evaluate(control.joystickSet, Control::Steering), -0.4f);
    control.joystickSet.keys[3] = &s.joyHeld[0];
    s.joyHeld[0] = 1;
    EXPECT_FLOAT_EQ(Control::evaluate(control.joystickSet, Control::Steering), 0.6f);

    const int keys[11] = {DIK_NUMPAD0, DIK_RCONTROL, DIK_SPACE, DIK_BACK,   DIK_LEFT, DIK_RIGHT,
                          DIK_UP,      DIK_DOWN,     DIK_RETURN, DIK_ESCAPE, DIK_F1};
    for (int n = 0; n < 11; ++n) {
        clear();
        const uint32_t action = 0x4u << n;
        EXPECT_EQ(Control::evaluate(control.keyboardSet, action), 0.0f) << action;
        s.keyHeld[keys[n]] = 1;
        EXPECT_EQ(Control::evaluate(control.keyboardSet, action), 1.0f) << action;
    }
    s.keyHeld[DIK_NUMPAD0] = 1;
    for (uint32_t unknown : {0u, 0x3u, 0x6u, 0x2000u, 0x80000000u})
        EXPECT_EQ(Control::evaluate(control.keyboardSet, unknown), 0.0f) << unknown;
    clear();
}
