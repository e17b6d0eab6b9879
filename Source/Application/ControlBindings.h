#pragma once

#include "Application/UserInput.h"

#include <cstdint>

class FileInterface;

// The game's actions mapped to inputs: a keyboard set and a joystick set of
// addresses inside the input state block, so evaluating an action costs a few
// loads. The player's record is stored in "gset.dat" under settings tag 7;
// the showroom and every computer-driven opponent keep records of their own.
// A plain record: copies share the same global state block. Main thread only.
//
// Actions are bits: 0x1 steering and 0x2 throttle/brake are axes (a float
// plus a negative and a positive key); 0x4 up to 0x1000 are buttons.
class Control
{
public:
    enum Action : uint32_t {
        Steering = 0x1, // left negative, right positive
        Throttle = 0x2, // brake negative, accelerate positive
        LastButton = 0x1000,
    };

    // One set of bindings. Every bound address lies inside *base (the input
    // state block): a flag byte for the keys, a float for the axes; null is
    // unbound. In the stream: keys[0..13] are tags 1..14, keys[14] tag 19,
    // axes tags 15 and 16, invertAxis tags 17 and 18.
    struct BindingSet
    {
        static constexpr int keyCount = 15;
        // keys[0] accelerate (0x2 +), keys[1] brake (0x2 -), keys[2] steer
        // left (0x1 -), keys[3] steer right (0x1 +), keys[4 + n] action 0x4 << n.
        const UserInput::State* base = nullptr;
        const uint8_t* keys[keyCount] = {};
        const float* axes[2] = {};     // 0x1, 0x2
        uint32_t invertAxis[2] = {};   // non-zero: the axis is negated
    };

    // Both sets with base at input's state block and nothing bound;
    // steeringMode 2; every action enabled.
    explicit Control(const UserInput& input = gUserInput);

    // The keyboard defaults (arrow keys, Numpad 0, right Ctrl, Space,
    // Backspace, Return, Esc, F1) as held flags, relative to set.base.
    static void setDefaultKeys(BindingSet& set);
    // The joystick defaults (buttons, POV directions, the X axis for steering).
    static void setDefaultJoystick(BindingSet& set);

    // The value of one action in a set: a button 0 or 1, an axis -1..1 (a
    // held key pulls the axis to its end). 0 for an unknown action.
    static float evaluate(const BindingSet& set, uint32_t action);
    // The stronger of the keyboard and joystick values; a tie gives the joystick's.
    float getStrongerValue(uint32_t action) const;

    // Stream forms. A set is (u32 tag, payload) records ended by tag 0: a
    // 20-byte InputCode for the bindings, a u32 for the invert flags. The
    // record is sub-tag 1 keyboard set, 2 joystick set, 3 steeringMode, 0.
    // The readers keep a binding unchanged when the stored code names no
    // input or an input of the wrong kind (a flag where a float is bound or
    // the reverse); the empty code unbinds tags 1 to 4 and keeps the others.
    // They return false when the stream is cut inside a tag or a field; a
    // record that ends where a tag would begin is whole. What was read has
    // been applied either way.
    static bool readSet(FileInterface& stream, BindingSet& set);
    static void writeSet(FileInterface& stream, const BindingSet& set);
    bool read(FileInterface& stream);
    void write(FileInterface& stream) const;

    BindingSet keyboardSet;
    BindingSet joystickSet;
    uint32_t steeringMode = 2;        // stored; the quad bike's steering reads it
    uint32_t enabledActions = ~0u;    // not stored; bit 0 steering, bit 1 throttle
};
