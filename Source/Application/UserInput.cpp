#include "Application/UserInput.h"

#include "Core/CrashTrace.h"
#include "Core/Language.h"
#include "Core/Timer.h"

#include <cmath>
#include <cstring>

constinit UserInput gUserInput;

namespace {

// A key is down when DirectInput sets the high bit of its byte.
bool isDown(uint8_t raw)
{
    return (raw & 0x80) != 0;
}

// Held and pressed (down now, not down the frame before) flags of one button.
void trackButton(bool down, uint8_t& held, uint8_t& pressed)
{
    pressed = down && !held ? 1 : 0;
    held = down ? 1 : 0;
}

// A device-wide DWORD property record.
DIPROPDWORD dwordProperty(DWORD value)
{
    DIPROPDWORD property{};
    property.diph.dwSize = sizeof(DIPROPDWORD);
    property.diph.dwHeaderSize = sizeof(DIPROPHEADER);
    property.diph.dwHow = DIPH_DEVICE;
    property.dwData = value;
    return property;
}

// Names of the keys on a German layout, by DirectInput key code. Names with
// fromLanguage set are keys of the text tables; the others are shown as they are.
struct KeyName
{
    uint8_t code;
    bool fromLanguage;
    const wchar_t* name;
};

constexpr KeyName keyNames[] = {
    {0x01, false, L"ESC"},       {0x02, false, L"1"},         {0x03, false, L"2"},
    {0x04, false, L"3"},         {0x05, false, L"4"},         {0x06, false, L"5"},
    {0x07, false, L"6"},         {0x08, false, L"7"},         {0x09, false, L"8"},
    {0x0A, false, L"9"},         {0x0B, false, L"0"},         {0x0C, false, L"ß"},
    {0x0D, false, L"´"},         {0x0E, true, L"Back"},       {0x0F, false, L"Tabulator"},
    {0x10, false, L"Q"},         {0x11, false, L"W"},         {0x12, false, L"E"},
    {0x13, false, L"R"},         {0x14, false, L"T"},         {0x15, false, L"Z"},
    {0x16, false, L"U"},         {0x17, false, L"I"},         {0x18, false, L"O"},
    {0x19, false, L"P"},         {0x1A, false, L"Ü"},         {0x1B, false, L"+"},
    {0x1C, true, L"Enter"},      {0x1D, true, L"LeftCtrl"},   {0x1E, false, L"A"},
    {0x1F, false, L"S"},         {0x20, false, L"D"},         {0x21, false, L"F"},
    {0x22, false, L"G"},         {0x23, false, L"H"},         {0x24, false, L"J"},
    {0x25, false, L"K"},         {0x26, false, L"L"},         {0x27, false, L"Ö"},
    {0x28, false, L"Ä"},         {0x29, false, L"^"},         {0x2A, true, L"LeftShift"},
    {0x2B, false, L"#"},         {0x2C, false, L"Y"},         {0x2D, false, L"X"},
    {0x2E, false, L"C"},         {0x2F, false, L"V"},         {0x30, false, L"B"},
    {0x31, false, L"N"},         {0x32, false, L"M"},         {0x33, false, L","},
    {0x34, false, L"."},         {0x35, false, L"-"},         {0x36, true, L"RightShift"},
    {0x37, false, L"Numpad X"},  {0x38, false, L"Alt"},       {0x39, true, L"Space"},
    {0x3A, true, L"Capslock"},   {0x3B, false, L"F1"},        {0x3C, false, L"F2"},
    {0x3D, false, L"F3"},        {0x3E, false, L"F4"},        {0x3F, false, L"F5"},
    {0x40, false, L"F6"},        {0x41, false, L"F7"},        {0x42, false, L"F8"},
    {0x43, false, L"F9"},        {0x44, false, L"F10"},       {0x45, false, L"Num-Lock"},
    {0x46, true, L"Roll"},       {0x47, false, L"Numpad 7"},  {0x48, false, L"Numpad 8"},
    {0x49, false, L"Numpad 9"},  {0x4A, false, L"Numpad -"},  {0x4B, false, L"Numpad 4"},
    {0x4C, false, L"Numpad 5"},  {0x4D, false, L"Numpad 6"},  {0x4E, false, L"Numpad +"},
    {0x4F, false, L"Numpad 1"},  {0x50, false, L"Numpad 2"},  {0x51, false, L"Numpad 3"},
    {0x52, false, L"Numpad 0"},  {0x53, false, L"Numpad ,"},  {0x56, false, L"<"},
    {0x57, false, L"F11"},       {0x58, false, L"F12"},       {0x9C, true, L"NumpadEnter"},
    {0x9D, true, L"RightCtrl"},  {0xB5, false, L"Numpad ÷"},  {0xB7, true, L"Printing"},
    {0xB8, false, L"Alt Gr"},    {0xC5, false, L"Pause"},     {0xC7, false, L"Pos1"},
    {0xC8, true, L"Up"},         {0xC9, true, L"PageUp"},     {0xCB, true, L"Left"},
    {0xCD, true, L"Right"},      {0xCF, true, L"End"},        {0xD0, true, L"Down"},
    {0xD1, true, L"PageDown"},   {0xD2, true, L"Insert"},     {0xD3, true, L"Delete"},
    {0xDB, true, L"LeftWindows"}, {0xDC, true, L"RightWindows"}, {0xDD, false, L"Task"},
    {0xDE, false, L"Power"},     {0xDF, false, L"Sleep"},     {0xE3, false, L"Wake"},
};
static_assert(sizeof(keyNames) / sizeof(keyNames[0]) == 108);

constexpr const wchar_t* axisNames[UserInput::joyAxisCount] = {L"XAxis1", L"YAxis1", L"ZAxis1",
                                                               L"XAxis2", L"YAxis2", L"ZAxis2"};
constexpr const wchar_t* povNames[4] = {L"POV0Left", L"POV0Right", L"POV0Up", L"POV0Down"};
constexpr const wchar_t* mouseNames[UserInput::mouseCodeCount] = {
    L"LeftMouse", L"RightMouse", L"MiddleMouse", L"Mouse4", L"Mouse5",
    L"Mouse6",    L"Mouse7",     L"Mouse8",      L"WheelUp", L"WheelDown"};

String text(const wchar_t* key)
{
    if (!gLanguage)
        return String();
    return gLanguage->getText(nullptr, String::borrowed(key));
}

// The offset of address inside an array of count elements of type T at
// start, or -1 when it does not point at one of them.
template <class T>
int32_t indexIn(const void* address, const T* start, int32_t count)
{
    const uintptr_t at = reinterpret_cast<uintptr_t>(address);
    const uintptr_t first = reinterpret_cast<uintptr_t>(start);
    if (at < first || at >= first + sizeof(T) * size_t(count) || (at - first) % sizeof(T) != 0)
        return -1;
    return int32_t((at - first) / sizeof(T));
}

// A joystick at rest: axes centred, POV centred, no button down.
DIJOYSTATE restingJoystick()
{
    DIJOYSTATE raw{};
    raw.lX = raw.lY = raw.lZ = raw.lRx = raw.lRy = raw.lRz = 32767;
    for (DWORD& pov : raw.rgdwPOV)
        pov = 0xFFFFFFFF;
    return raw;
}

template <class T>
void releaseInterface(T*& object)
{
    if (object) {
        object->Release();
        object = nullptr;
    }
}

BOOL CALLBACK firstJoystick(const DIDEVICEINSTANCEW* instance, void* context)
{
    *static_cast<GUID*>(context) = instance->guidInstance;
    return DIENUM_STOP;
}

} // namespace

void UserInput::reset()
{
    directInput = nullptr;
    keyboard = mouse = joystick = nullptr;
    pulseEffect = rumbleEffect = nullptr;
    state = State();
}

void UserInput::init(HWND window)
{
    CRASH_TRACE();
    if (directInput)
        release();
    memset(state.keyHeld, 0, sizeof(state.keyHeld));
    state.lastKey = -1;
    state.keyAxisX = state.keyAxisY = 0.0f;
    state.keyboardReady = 0;
    memset(state.keyPressed, 0, sizeof(state.keyPressed));

    void* created = nullptr;
    if (FAILED(DirectInput8Create(GetModuleHandleW(nullptr), DIRECTINPUT_VERSION, IID_IDirectInput8W, &created,
                                  nullptr)) ||
        !created)
        return;
    directInput = static_cast<IDirectInput8W*>(created);
    setUpKeyboard(window);
    setUpMouse(window);
    setUpJoystick(window);
}

void UserInput::setUpKeyboard(HWND window)
{
    CRASH_TRACE();
    state.keyboardReady = 0;
    if (FAILED(directInput->CreateDevice(GUID_SysKeyboard, &keyboard, nullptr))) {
        keyboard = nullptr;
        return;
    }
    if (SUCCEEDED(keyboard->SetDataFormat(&c_dfDIKeyboard)) &&
        SUCCEEDED(keyboard->SetCooperativeLevel(window, DISCL_NONEXCLUSIVE | DISCL_FOREGROUND)) &&
        SUCCEEDED(keyboard->Acquire()))
        state.keyboardReady = 1;
}

void UserInput::setUpMouse(HWND window)
{
    CRASH_TRACE();
    state.mouseReady = 0;
    if (FAILED(directInput->CreateDevice(GUID_SysMouse, &mouse, nullptr))) {
        mouse = nullptr;
        return;
    }
    DIPROPDWORD bufferSize = dwordProperty(16);
    if (SUCCEEDED(mouse->SetDataFormat(&c_dfDIMouse2)) &&
        SUCCEEDED(mouse->SetCooperativeLevel(window, DISCL_NONEXCLUSIVE | DISCL_FOREGROUND)) &&
        SUCCEEDED(mouse->SetProperty(DIPROP_BUFFERSIZE, &bufferSize.diph)) && SUCCEEDED(mouse->Acquire()))
        state.mouseReady = 1;
}

void UserInput::setUpJoystick(HWND window)
{
    CRASH_TRACE();
    state.joystickReady = 0;
    // The first attached game controller; DirectInput 8 takes no generic
    // joystick GUID, so it is found by enumeration.
    GUID instance = GUID_NULL;
    if (FAILED(directInput->EnumDevices(DI8DEVCLASS_GAMECTRL, firstJoystick, &instance, DIEDFL_ATTACHEDONLY)) ||
        instance == GUID_NULL)
        return;
    if (FAILED(directInput->CreateDevice(instance, &joystick, nullptr))) {
        joystick = nullptr;
        return;
    }
    if (FAILED(joystick->SetDataFormat(&c_dfDIJoystick)))
        return;
    // Force feedback needs the exclusive level; a device that refuses it is
    // still read non-exclusively.
    if (FAILED(joystick->SetCooperativeLevel(window, DISCL_EXCLUSIVE | DISCL_FOREGROUND)) &&
        FAILED(joystick->SetCooperativeLevel(window, DISCL_NONEXCLUSIVE | DISCL_FOREGROUND)))
        return;

    createEffects();

    DIPROPRANGE range{};
    range.diph.dwSize = sizeof(DIPROPRANGE);
    range.diph.dwHeaderSize = sizeof(DIPROPHEADER);
    range.diph.dwHow = DIPH_DEVICE;
    range.lMin = 0;
    range.lMax = axisRangeMax;
    DIPROPDWORD deadZone = dwordProperty(axisDeadZone);
    DIPROPDWORD saturation = dwordProperty(axisSaturation);
    if (SUCCEEDED(joystick->SetProperty(DIPROP_RANGE, &range.diph)) &&
        SUCCEEDED(joystick->SetProperty(DIPROP_DEADZONE, &deadZone.diph)) &&
        SUCCEEDED(joystick->SetProperty(DIPROP_SATURATION, &saturation.diph)) && SUCCEEDED(joystick->Acquire()))
        state.joystickReady = 1;
}

bool UserInput::readDevice(IDirectInputDevice8W* device, void* buffer, DWORD size)
{
    if (SUCCEEDED(device->GetDeviceState(size, buffer)))
        return true;
    // Lost (the window went to the background, or the set-up stopped part-way):
    // one attempt to get it back per frame.
    return SUCCEEDED(device->Acquire()) && SUCCEEDED(device->GetDeviceState(size, buffer));
}

void UserInput::update()
{
    CRASH_TRACE();
    // A device that cannot be read counts as released, so that keys held when
    // the window lost the focus do not stay down; the other devices are still read.
    if (keyboard) {
        uint8_t raw[keyCount];
        if (!readDevice(keyboard, raw, sizeof(raw)))
            memset(raw, 0, sizeof(raw));
        applyKeyboard(raw, gFrameFactor.load(std::memory_order_relaxed));
    }
    if (mouse) {
        DIMOUSESTATE2 raw{};
        mouse->Poll();
        if (!readDevice(mouse, &raw, sizeof(raw)))
            raw = DIMOUSESTATE2{};
        applyMouse(raw);
    }
    if (joystick) {
        DIJOYSTATE raw{};
        joystick->Poll();
        if (!readDevice(joystick, &raw, sizeof(raw)))
            raw = restingJoystick();
        applyJoystick(raw);
    }
}

void UserInput::applyKeyboard(const uint8_t raw[keyCount], float frameFactor)
{
    // A released axis decays by half per reference frame. The factor 0.5^f
    // is the same decay at any frame rate; the linear (1 - 0.5 f) would turn
    // negative beyond f = 2 and make the axis flip sign every frame.
    if (!(frameFactor > 0.0f))
        frameFactor = 0.0f;
    const float decay = std::pow(0.5f, frameFactor);
    // A held key adds 128, so one frame drives the axis to its end.
    auto key = [raw](int code) { return isDown(raw[code]) ? 128.0f : 0.0f; };
    auto clamp = [](float value) { return value > 1.0f ? 1.0f : (value < -1.0f ? -1.0f : value); };
    state.keyAxisX = clamp(state.keyAxisX * decay + key(DIK_RIGHT) - key(DIK_LEFT));
    state.keyAxisY = clamp(state.keyAxisY * decay + key(DIK_UP) - key(DIK_DOWN));

    state.lastKey = -1;
    for (int code = 0; code < keyCount; ++code) {
        trackButton(isDown(raw[code]), state.keyHeld[code], state.keyPressed[code]);
        if (state.keyHeld[code])
            state.lastKey = code;
    }
}

void UserInput::applyMouse(const DIMOUSESTATE2& raw)
{
    state.lastMouse = -1;
    for (int button = 0; button < mouseButtonCount; ++button) {
        trackButton(isDown(raw.rgbButtons[button]), state.mouseHeld[button], state.mousePressed[button]);
        if (state.mouseHeld[button])
            state.lastMouse = button;
    }
    state.mouseDeltaX = float(raw.lX);
    state.mouseDeltaY = float(raw.lY);
    state.mousePressed[wheelUp] = raw.lZ > 0 ? 1 : 0;
    state.mousePressed[wheelDown] = raw.lZ < 0 ? 1 : 0;
    if (raw.lZ > 0)
        state.lastMouse = wheelUp;
    else if (raw.lZ < 0)
        state.lastMouse = wheelDown;
}

void UserInput::applyJoystick(const DIJOYSTATE& raw)
{
    memcpy(state.joyAxesPrevious, state.joyAxes, sizeof(state.joyAxes));
    const LONG axes[joyAxisCount] = {raw.lX, raw.lY, raw.lZ, raw.lRx, raw.lRy, raw.lRz};
    for (int axis = 0; axis < joyAxisCount; ++axis)
        state.joyAxes[axis] = (float(axes[axis]) - 32767.0f) / 32767.0f;

    state.lastJoystick = -1;
    struct Direction
    {
        DWORD angle;
        int code;
    };
    constexpr Direction directions[4] = {{27000, povLeft}, {9000, povRight}, {0, povUp}, {18000, povDown}};
    for (const Direction& direction : directions) {
        const bool held = raw.rgdwPOV[0] == direction.angle;
        state.joyHeld[direction.code] = held ? 1 : 0;
        if (held)
            state.lastJoystick = direction.code;
    }
    for (int button = 0; button < joyButtonCount; ++button) {
        const bool down = isDown(raw.rgbButtons[button]);
        if (down && !state.joyHeld[button])
            state.lastJoystick = button;
        state.joyHeld[button] = down ? 1 : 0;
    }
}

void UserInput::release()
{
    CRASH_TRACE();
    for (IDirectInputDevice8W** device : {&keyboard, &mouse, &joystick}) {
        if (*device) {
            (*device)->Unacquire();
            releaseInterface(*device);
        }
    }
    releaseInterface(pulseEffect);
    releaseInterface(rumbleEffect);
    releaseInterface(directInput);
    state.keyboardReady = state.mouseReady = state.joystickReady = 0;
}

const void* UserInput::addressOfCode(const InputCode& code, const State& state)
{
    const int32_t index = code.index;
    switch (code.device) {
    case InputCode::Keyboard:
        if (index < 0 || index >= keyCount || (code.variant != 0 && code.variant != 1))
            return nullptr;
        return code.variant ? &state.keyPressed[index] : &state.keyHeld[index];
    case InputCode::Mouse:
        if (index < 0 || index >= mouseCodeCount || (code.variant != 0 && code.variant != 1))
            return nullptr;
        return code.variant ? &state.mousePressed[index] : &state.mouseHeld[index];
    case InputCode::Joystick:
        if (code.isAxis == 1)
            return index >= 0 && index < joyAxisCount ? &state.joyAxes[index] : nullptr;
        if (code.isAxis == 0)
            return index >= 0 && index < joyCodeCount ? &state.joyHeld[index] : nullptr;
        return nullptr;
    default:
        return nullptr;
    }
}

InputCode UserInput::codeOfAddress(const void* address, const State& state)
{
    InputCode code;
    if (!address)
        return code;
    struct Table
    {
        int32_t index;
        int32_t device;
        int32_t variant;
        int32_t isAxis;
    };
    const Table tables[] = {
        {indexIn(address, state.keyHeld, keyCount), InputCode::Keyboard, 0, 0},
        {indexIn(address, state.keyPressed, keyCount), InputCode::Keyboard, 1, 0},
        {indexIn(address, state.mouseHeld, mouseCodeCount), InputCode::Mouse, 0, 0},
        {indexIn(address, state.mousePressed, mouseCodeCount), InputCode::Mouse, 1, 0},
        {indexIn(address, state.joyHeld, joyCodeCount), InputCode::Joystick, 0, 0},
        {indexIn(address, state.joyAxes, joyAxisCount), InputCode::Joystick, 0, 1},
    };
    for (const Table& table : tables) {
        if (table.index >= 0) {
            code.device = table.device;
            code.index = table.index;
            code.variant = table.variant;
            code.isAxis = table.isAxis;
            break;
        }
    }
    return code;
}

InputCode UserInput::detectPressedInput() const
{
    InputCode code;
    if (state.lastKey >= 0)
        code = {InputCode::Keyboard, state.lastKey, 0, 0, 0};
    if (state.lastMouse >= 0)
        code = {InputCode::Mouse, state.lastMouse, 0, 0, 0};
    if (state.lastJoystick >= 0)
        code = {InputCode::Joystick, state.lastJoystick, 0, 0, 0};
    // An axis counts when it is pushed past half way and moved since the last
    // update, so an axis resting off-centre is not taken for a new input.
    for (int axis = 0; axis < joyAxisCount; ++axis) {
        const float value = state.joyAxes[axis];
        if (std::fabs(value) > 0.5f && std::fabs(state.joyAxesPrevious[axis] - value) > 0.001f)
            code = {InputCode::Joystick, axis, 0, 1, value < -0.5f ? 1 : 0};
    }
    return code;
}

String UserInput::getInputName(const void* address) const
{
    return nameOfCode(codeOfAddress(address, state));
}

String UserInput::nameOfCode(const InputCode& code)
{
    const int32_t index = code.index;
    switch (code.device) {
    case InputCode::Joystick:
        if (code.isAxis)
            return index >= 0 && index < joyAxisCount ? text(axisNames[index]) : String();
        if (index >= 0 && index < joyButtonCount) {
            String name;
            name.format(L"%s %i", text(L"Button").text(), int(index + 1));
            return name;
        }
        if (index >= povLeft && index <= povDown)
            return text(povNames[index - povLeft]);
        return String();
    case InputCode::Mouse:
        return index >= 0 && index < mouseCodeCount ? text(mouseNames[index]) : String();
    case InputCode::Keyboard:
        for (const KeyName& key : keyNames) {
            if (key.code == index)
                return key.fromLanguage ? text(key.name) : String(key.name);
        }
        return String();
    default:
        return String();
    }
}
