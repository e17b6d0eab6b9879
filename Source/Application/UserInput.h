#pragma once

#ifndef DIRECTINPUT_VERSION
#define DIRECTINPUT_VERSION 0x0800
#endif

#include "Core/String.h"

#include <windows.h>
#include <dinput.h>

#include <cstdint>

// The device-independent name of one input. Stored as 20 bytes (five
// little-endian i32) by the control bindings.
struct InputCode
{
    enum Device : int32_t { None = 0, Keyboard = 1, Mouse = 2, Joystick = 3 };

    int32_t device = None;
    int32_t index = -1;   // key code, mouse code, joystick button/POV code or axis 0..5
    int32_t variant = 0;  // keyboard and mouse: 0 the held flag, 1 the pressed-this-frame flag
    int32_t isAxis = 0;   // joystick: 1 when index is an axis
    int32_t negative = 0; // detection only: the axis was pushed below -0.5

    bool isEmpty() const { return device == None; }
    bool operator==(const InputCode&) const = default;
};
static_assert(sizeof(InputCode) == 20, "the bindings store an input code as 20 bytes");

// The program's one input object (gUserInput): the system keyboard, the
// system mouse and the first joystick through DirectInput 8, polled once per
// frame into a fixed state block. Everything else reads input only from that
// block; the control bindings keep addresses inside it, so the global object
// is never moved or copied. Main thread only.
//
// Nothing here reports a failure: a device that cannot be made stays null and
// is skipped; one that cannot be read is re-acquired by the next update.
class UserInput
{
public:
    static constexpr int keyCount = 256;
    static constexpr int mouseCodeCount = 10; // buttons 0..7, 8 wheel up, 9 wheel down
    static constexpr int mouseButtonCount = 8;
    static constexpr int joyCodeCount = 36;   // buttons 0..31, then POV left, right, up, down
    static constexpr int joyButtonCount = 32;
    static constexpr int joyAxisCount = 6;    // X, Y, Z, Rx, Ry, Rz
    static constexpr int povLeft = 32, povRight = 33, povUp = 34, povDown = 35;
    static constexpr int wheelUp = 8, wheelDown = 9;

    // Every input value. Its first byte is the base of every binding.
    struct State
    {
        uint8_t keyHeld[keyCount] = {};
        int32_t lastKey = -1;      // highest key down in the last update
        float keyAxisX = 0.0f;     // arrow-key steering axes in -1..1
        float keyAxisY = 0.0f;
        uint32_t keyboardReady = 0;
        uint8_t keyPressed[keyCount] = {};
        uint8_t mouseHeld[mouseCodeCount] = {};
        int32_t lastMouse = -1;
        float mouseDeltaX = 0.0f;  // relative movement of the last poll, unscaled
        float mouseDeltaY = 0.0f;
        uint32_t mouseReady = 0;
        uint8_t mousePressed[mouseCodeCount] = {};
        uint8_t joyHeld[joyCodeCount] = {};
        int32_t lastJoystick = -1;
        float joyAxes[joyAxisCount] = {};
        float joyAxesPrevious[joyAxisCount] = {};
        uint32_t joystickReady = 0;
    };

    constexpr UserInput() = default;
    UserInput(const UserInput&) = delete;
    UserInput& operator=(const UserInput&) = delete;

    // All devices and effects null, the state block zero, the last codes -1.
    void reset();

    // Opens the devices for window. DirectInput needs the window to exist; a
    // foreground cooperative level means input is read only while it is the
    // active window.
    void init(HWND window);

    // Polls keyboard, mouse and joystick once (the main loop, every pass).
    void update();

    // Unacquires and releases the devices and effects, then DirectInput.
    void release();

    // The per-device steps of update, apart so that tests can drive them
    // with states of their own. frameFactor is the timer's frame factor.
    void applyKeyboard(const uint8_t raw[keyCount], float frameFactor);
    void applyMouse(const DIMOUSESTATE2& raw);
    void applyJoystick(const DIJOYSTATE& raw);

    // The address in state that code names, or null for the empty code and
    // for any code that names no input (unknown device, index outside its
    // table, bad variant).
    static const void* addressOfCode(const InputCode& code, const State& state);
    // The inverse: the empty code for null or any address outside the tables.
    static InputCode codeOfAddress(const void* address, const State& state);
    // True when code names a joystick axis (a float), false for a flag byte.
    static bool isAxisCode(const InputCode& code) { return code.device == InputCode::Joystick && code.isAxis; }

    // The input newly pressed or pushed in the last update, for the
    // control-assignment screen; the empty code when there is none.
    InputCode detectPressedInput() const;

    // The display name of the input at an address in state (the variant and
    // the axis sign are not shown); empty for unnamed inputs.
    String getInputName(const void* address) const;
    static String nameOfCode(const InputCode& code);

    // Force feedback (ForceFeedback.cpp). Without a force-feedback joystick
    // they do nothing. startEffect plays the pulse once: duration in
    // milliseconds, gain 0..1, envelope non-zero for a soft attack and fade.
    void createEffects();
    void startEffect(int32_t milliseconds, float gain, uint32_t envelope);
    // The rumble's strength, 0..1; the effect keeps running.
    void setEffectGain(float gain);
    // The rumble plays over and over until stopRumble (the player's quad
    // holds it from its start to its end; its gain follows the engine).
    void startRumble();
    void stopRumble();

    IDirectInput8W* directInput = nullptr;
    IDirectInputDevice8W* keyboard = nullptr;
    IDirectInputDevice8W* mouse = nullptr;
    IDirectInputDevice8W* joystick = nullptr;
    IDirectInputEffect* pulseEffect = nullptr;
    IDirectInputEffect* rumbleEffect = nullptr;
    State state;

    // The joystick's axis range and dead zone, in DirectInput units.
    static constexpr LONG axisRangeMax = 65536;
    static constexpr DWORD axisDeadZone = 500;
    static constexpr DWORD axisSaturation = 9000;

private:
    // Reads a device's state, re-acquiring it once when the read fails.
    static bool readDevice(IDirectInputDevice8W* device, void* buffer, DWORD size);
    void setUpKeyboard(HWND window);
    void setUpMouse(HWND window);
    void setUpJoystick(HWND window);
};

// The one input object. Constant-initialised, so it exists before any other
// global is made and its state block never moves.
extern UserInput gUserInput;
