#include "Application/ControlBindings.h"

#include "Core/FileInterface.h"

#include <cmath>

namespace {

enum SetTag : uint32_t {
    SetEnd = 0,
    FirstKeyTag = 1,   // tags 1..14: keys[0..13]
    LastKeyTag = 14,
    SteeringAxisTag = 15,
    ThrottleAxisTag = 16,
    InvertSteeringTag = 17,
    InvertThrottleTag = 18,
    LastButtonTag = 19, // keys[14]
};

enum RecordTag : uint32_t {
    RecordEnd = 0,
    KeyboardSetTag = 1,
    JoystickSetTag = 2,
    SteeringModeTag = 3,
};

// keys[] positions of the two axis actions' keys.
constexpr int accelerateKey = 0, brakeKey = 1, steerLeftKey = 2, steerRightKey = 3;
constexpr int firstButtonKey = 4;

float flagValue(const uint8_t* flag)
{
    return flag ? float(*flag) : 0.0f;
}

// min(a, -negative key) + max(a, positive key): with no key held the axis
// value, a held key pulls it to that end, both keys cancel.
float axisValue(const float* axis, uint32_t invert, const uint8_t* negativeKey, const uint8_t* positiveKey)
{
    float a = axis ? *axis : 0.0f;
    if (invert)
        a = -a;
    const float n = -flagValue(negativeKey);
    const float p = flagValue(positiveKey);
    return std::fmin(a, n) + std::fmax(a, p);
}

InputCode readCode(FileInterface& stream, bool& ok)
{
    InputCode code;
    ok = stream.readValue(code);
    return code;
}

} // namespace

Control::Control(const UserInput& input)
{
    keyboardSet.base = &input.state;
    joystickSet.base = &input.state;
}

void Control::setDefaultKeys(BindingSet& set)
{
    if (!set.base)
        return;
    const int codes[BindingSet::keyCount] = {DIK_UP,     DIK_DOWN,  DIK_LEFT,  DIK_RIGHT, DIK_NUMPAD0,
                                             DIK_RCONTROL, DIK_SPACE, DIK_BACK, DIK_LEFT,  DIK_RIGHT,
                                             DIK_UP,     DIK_DOWN,  DIK_RETURN, DIK_ESCAPE, DIK_F1};
    for (int slot = 0; slot < BindingSet::keyCount; ++slot)
        set.keys[slot] = &set.base->keyHeld[codes[slot]];
}

void Control::setDefaultJoystick(BindingSet& set)
{
    if (!set.base)
        return;
    // Buttons count from 0; -1 leaves the slot as it was.
    const int codes[BindingSet::keyCount] = {1,
                                             2,
                                             -1,
                                             -1,
                                             5,
                                             4,
                                             7,
                                             9,
                                             UserInput::povLeft,
                                             UserInput::povRight,
                                             UserInput::povUp,
                                             UserInput::povDown,
                                             1,
                                             2,
                                             3};
    for (int slot = 0; slot < BindingSet::keyCount; ++slot) {
        if (codes[slot] >= 0)
            set.keys[slot] = &set.base->joyHeld[codes[slot]];
    }
    set.axes[0] = &set.base->joyAxes[0];
}

float Control::evaluate(const BindingSet& set, uint32_t action)
{
    switch (action) {
    case Steering:
        return axisValue(set.axes[0], set.invertAxis[0], set.keys[steerLeftKey], set.keys[steerRightKey]);
    case Throttle:
        return axisValue(set.axes[1], set.invertAxis[1], set.keys[brakeKey], set.keys[accelerateKey]);
    default:
        break;
    }
    for (int slot = firstButtonKey; slot < BindingSet::keyCount; ++slot) {
        if (action == (0x4u << (slot - firstButtonKey)))
            return flagValue(set.keys[slot]);
    }
    return 0.0f;
}

float Control::getStrongerValue(uint32_t action) const
{
    const float k = evaluate(keyboardSet, action);
    const float j = evaluate(joystickSet, action);
    return std::fabs(k) > std::fabs(j) ? k : j;
}

void Control::writeSet(FileInterface& stream, const BindingSet& set)
{
    auto writeCode = [&](uint32_t tag, const void* address) {
        stream.writeTag(tag);
        stream.writeValue(set.base ? UserInput::codeOfAddress(address, *set.base) : InputCode());
    };
    for (uint32_t tag = FirstKeyTag; tag <= LastKeyTag; ++tag)
        writeCode(tag, set.keys[tag - FirstKeyTag]);
    writeCode(SteeringAxisTag, set.axes[0]);
    writeCode(ThrottleAxisTag, set.axes[1]);
    stream.writeTag(InvertSteeringTag);
    stream.writeValue(set.invertAxis[0]);
    stream.writeTag(InvertThrottleTag);
    stream.writeValue(set.invertAxis[1]);
    writeCode(LastButtonTag, set.keys[BindingSet::keyCount - 1]);
    stream.writeTag(SetEnd);
}

bool Control::readSet(FileInterface& stream, BindingSet& set)
{
    if (!set.base)
        return false;
    const UserInput::State& state = *set.base;
    uint32_t tag = 0;
    bool cut = false;
    while (stream.readTag(tag, cut)) {
        bool ok = true;
        if ((tag >= FirstKeyTag && tag <= LastKeyTag) || tag == LastButtonTag) {
            const InputCode code = readCode(stream, ok);
            const int slot = tag == LastButtonTag ? BindingSet::keyCount - 1 : int(tag - FirstKeyTag);
            const void* address = UserInput::addressOfCode(code, state);
            // The axes' keys may be unbound by the empty code; a code that
            // names no flag byte (an unknown input, or an axis) is ignored.
            if (address && !UserInput::isAxisCode(code))
                set.keys[slot] = static_cast<const uint8_t*>(address);
            else if (code.isEmpty() && slot <= steerRightKey)
                set.keys[slot] = nullptr;
        } else if (tag == SteeringAxisTag || tag == ThrottleAxisTag) {
            const InputCode code = readCode(stream, ok);
            const void* address = UserInput::addressOfCode(code, state);
            if (address && UserInput::isAxisCode(code))
                set.axes[tag - SteeringAxisTag] = static_cast<const float*>(address);
        } else if (tag == InvertSteeringTag || tag == InvertThrottleTag) {
            uint32_t flag = 0;
            ok = stream.readValue(flag);
            if (ok)
                set.invertAxis[tag - InvertSteeringTag] = flag;
        }
        // Any other tag carries no payload.
        if (!ok)
            return false;
    }
    return !cut;
}

void Control::write(FileInterface& stream) const
{
    stream.writeTag(KeyboardSetTag);
    writeSet(stream, keyboardSet);
    stream.writeTag(JoystickSetTag);
    writeSet(stream, joystickSet);
    stream.writeTag(SteeringModeTag);
    stream.writeValue(steeringMode);
    stream.writeTag(RecordEnd);
}

bool Control::read(FileInterface& stream)
{
    uint32_t tag = 0;
    bool cut = false;
    while (stream.readTag(tag, cut)) {
        bool ok = true;
        switch (tag) {
        case KeyboardSetTag:
            ok = readSet(stream, keyboardSet);
            break;
        case JoystickSetTag:
            ok = readSet(stream, joystickSet);
            break;
        case SteeringModeTag:
            ok = stream.readValue(steeringMode);
            break;
        default:
            // No payload for a sub-tag this reader does not know.
            break;
        }
        if (!ok)
            return false;
    }
    return !cut;
}
