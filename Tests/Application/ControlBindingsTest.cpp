#include "AppTestFiles.h"

#include "Application/ControlBindings.h"
#include "Application/GlobalSettings.h"
#include "Core/FileArray.h"

#include <gtest/gtest.h>

#include <memory>
#include <random>

using Set = Control::BindingSet;

namespace {

void fill(FileArray& stream, const std::vector<uint8_t>& bytes)
{
    if (!bytes.empty())
        stream.write(bytes.data(), uint32_t(bytes.size()));
    stream.seek(0, 0);
}

void expectSameSet(const Set& a, const Set& b)
{
    for (int slot = 0; slot < Set::keyCount; ++slot)
        EXPECT_EQ(a.keys[slot], b.keys[slot]) << "key slot " << slot;
    for (int axis = 0; axis < 2; ++axis) {
        EXPECT_EQ(a.axes[axis], b.axes[axis]) << "axis " << axis;
        EXPECT_EQ(a.invertAxis[axis], b.invertAxis[axis]) << "invert " << axis;
    }
}

// Every binding is unbound or names an input of its own kind.
void expectOnlyValidBindings(const Set& set, const UserInput::State& state)
{
    for (const uint8_t* key : set.keys) {
        const InputCode code = UserInput::codeOfAddress(key, state);
        EXPECT_TRUE(!key || (!code.isEmpty() && !UserInput::isAxisCode(code)));
    }
    for (const float* axis : set.axes)
        EXPECT_TRUE(!axis || UserInput::isAxisCode(UserInput::codeOfAddress(axis, state)));
}

class ControlBindings : public ::testing::Test
{
protected:
    Control withDefaults() const
    {
        Control control(*input);
        Control::setDefaultKeys(control.keyboardSet);
        Control::setDefaultJoystick(control.joystickSet);
        return control;
    }

    std::unique_ptr<UserInput> input = std::make_unique<UserInput>();
    UserInput::State& s = input->state;
};

} // namespace

TEST_F(ControlBindings, RoundTripThroughTheSettingsFileAndACutRecordRejectsIt)
{
    const std::wstring folder = AppTestFiles::freshFolder(L"ControlBindings");
    Control written = withDefaults();
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
    expectSameSet(read.keyboardSet, written.keyboardSet);
    expectSameSet(read.joystickSet, written.joystickSet);
    EXPECT_EQ(read.steeringMode, 5u);
    // Without a bindings owner tag 7 is read past and the fields after it still count.
    GlobalSettings withoutControls(folder.c_str());
    ASSERT_EQ(withoutControls.load(), GlobalSettings::LoadResult::Read);
    EXPECT_EQ(withoutControls.width, 1280u);

    std::vector<uint8_t> cut = AppTestFiles::read(folder + L"gset.dat");
    cut.resize(4 + 12 + 4 * 8 + 4 + 100); // inside the bindings record
    ASSERT_TRUE(AppTestFiles::write(folder + L"gset.dat", cut));
    const Control defaults = withDefaults();
    Control rejected = defaults;
    GlobalSettings again(folder.c_str());
    again.controls = &rejected;
    EXPECT_EQ(again.load(), GlobalSettings::LoadResult::Rejected);
    expectSameSet(rejected.keyboardSet, defaults.keyboardSet);
    EXPECT_EQ(AppTestFiles::read(folder + L"gset.dat.bad"), cut);
}

TEST_F(ControlBindings, MutatedSettingsNeverBindOutsideTheTables)
{
    Control written = withDefaults();
    written.keyboardSet.axes[1] = &s.joyAxes[3];
    GlobalSettings settings;
    settings.controls = &written;
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
        fill(mutated, bytes);
        accepted += loaded.readFrom(mutated);
        expectOnlyValidBindings(read.keyboardSet, s);
        expectOnlyValidBindings(read.joystickSet, s);
        ASSERT_FALSE(HasFailure()) << "round " << round;
    }
    EXPECT_GT(accepted, 0);
}
