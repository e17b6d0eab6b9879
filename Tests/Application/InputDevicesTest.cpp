// DirectInput devices for real: under Wine and Xvfb the system keyboard and
// mouse exist and see input sent to a foreground window; no joystick does, so
// its paths and the force-feedback effects must stay absent and harmless.
#include "Application/ForceFeedback.h"
#include "Application/UserInput.h"
#include "Core/Timer.h"

#include <gtest/gtest.h>

#include <memory>

namespace {

class TestWindow
{
public:
    TestWindow()
    {
        WNDCLASSW windowClass{};
        windowClass.lpfnWndProc = DefWindowProcW;
        windowClass.hInstance = GetModuleHandleW(nullptr);
        windowClass.lpszClassName = L"KorvantaInputTest";
        RegisterClassW(&windowClass);
        window = CreateWindowExW(0, L"KorvantaInputTest", L"Input test", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 100, 100,
                                 400, 300, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
        if (window) {
            ShowWindow(window, SW_SHOW);
            SetForegroundWindow(window);
            SetActiveWindow(window);
            SetFocus(window);
            pump(200);
        }
    }
    ~TestWindow()
    {
        if (window)
            DestroyWindow(window);
        UnregisterClassW(L"KorvantaInputTest", GetModuleHandleW(nullptr));
    }

    // Handles the window's messages for about milliseconds.
    static void pump(DWORD milliseconds)
    {
        const DWORD start = GetTickCount();
        do {
            MSG message;
            while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
                TranslateMessage(&message);
                DispatchMessageW(&message);
            }
            Sleep(10);
        } while (GetTickCount() - start < milliseconds);
    }

    HWND window = nullptr;
};

// Arrow keys are extended keys: without the flag their scan code is the
// numeric keypad's.
void sendKey(WORD virtualKey, bool down, bool extended = false)
{
    INPUT event{};
    event.type = INPUT_KEYBOARD;
    event.ki.wVk = virtualKey;
    event.ki.wScan = WORD(MapVirtualKeyW(virtualKey, MAPVK_VK_TO_VSC));
    event.ki.dwFlags = (down ? 0 : KEYEVENTF_KEYUP) | (extended ? KEYEVENTF_EXTENDEDKEY : 0);
    SendInput(1, &event, sizeof(INPUT));
}

void sendMouseMove(LONG dx, LONG dy)
{
    INPUT event{};
    event.type = INPUT_MOUSE;
    event.mi.dx = dx;
    event.mi.dy = dy;
    event.mi.dwFlags = MOUSEEVENTF_MOVE;
    SendInput(1, &event, sizeof(INPUT));
}

// Polls until condition holds or about two seconds have passed.
template <class Condition>
bool pollUntil(UserInput& input, Condition condition)
{
    for (int attempt = 0; attempt < 40; ++attempt) {
        TestWindow::pump(50);
        input.update();
        if (condition())
            return true;
    }
    return false;
}

// Records what the force-feedback code asks of an effect.
class RecordingEffect : public IDirectInputEffect
{
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** object) override
    {
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE Initialize(HINSTANCE, DWORD, REFGUID) override { return DI_OK; }
    HRESULT STDMETHODCALLTYPE GetEffectGuid(LPGUID) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetParameters(LPDIEFFECT, DWORD) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetParameters(LPCDIEFFECT effect, DWORD flags) override
    {
        ++setCount;
        size = effect->dwSize;
        duration = effect->dwDuration;
        gain = effect->dwGain;
        hadEnvelope = effect->lpEnvelope != nullptr;
        if (hadEnvelope)
            envelope = *effect->lpEnvelope;
        setFlags = flags;
        return DI_OK;
    }
    HRESULT STDMETHODCALLTYPE Start(DWORD iterations, DWORD flags) override
    {
        ++startCount;
        startIterations = iterations;
        startFlags = flags;
        return DI_OK;
    }
    HRESULT STDMETHODCALLTYPE Stop() override { return DI_OK; }
    HRESULT STDMETHODCALLTYPE GetEffectStatus(LPDWORD) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Download() override { return DI_OK; }
    HRESULT STDMETHODCALLTYPE Unload() override { return DI_OK; }
    HRESULT STDMETHODCALLTYPE Escape(LPDIEFFESCAPE) override { return E_NOTIMPL; }

    int setCount = 0;
    int startCount = 0;
    DWORD size = 0, duration = 0, gain = 0, setFlags = 0, startIterations = 0, startFlags = 0;
    bool hadEnvelope = false;
    DIENVELOPE envelope{};
};

} // namespace

TEST(InputDevices, KeyboardAndMouseSeeInputSentToTheForegroundWindow)
{
    TestWindow test;
    ASSERT_NE(test.window, nullptr);
    auto input = std::make_unique<UserInput>();
    input->init(test.window);
    ASSERT_NE(input->directInput, nullptr);
    ASSERT_NE(input->keyboard, nullptr);
    ASSERT_NE(input->mouse, nullptr);
    const UserInput::State& s = input->state;

    sendKey('A', true);
    EXPECT_TRUE(pollUntil(*input, [&] { return s.keyHeld[DIK_A] == 1; }));
    EXPECT_EQ(input->detectPressedInput(), (InputCode{InputCode::Keyboard, DIK_A, 0, 0, 0}));
    sendKey('A', false);
    EXPECT_TRUE(pollUntil(*input, [&] { return s.keyHeld[DIK_A] == 0; }));

    // The released axis decays with the frame clock, which no main loop drives here.
    const float factor = gFrameFactor.exchange(1.0f);
    sendKey(VK_RIGHT, true, true);
    EXPECT_TRUE(pollUntil(*input, [&] { return s.keyAxisX == 1.0f; }));
    sendKey(VK_RIGHT, false, true);
    EXPECT_TRUE(pollUntil(*input, [&] { return s.keyAxisX < 0.5f && s.keyAxisX >= 0.0f; }));
    gFrameFactor.store(factor);

    SetCursorPos(300, 250);
    TestWindow::pump(100);
    input->update();
    sendMouseMove(25, 10);
    EXPECT_TRUE(pollUntil(*input, [&] { return s.mouseDeltaX > 0.0f; }));

    // Another window takes the foreground while a key is down: the keyboard
    // cannot be read and the key counts as released instead of staying down.
    sendKey('S', true);
    EXPECT_TRUE(pollUntil(*input, [&] { return s.keyHeld[DIK_S] == 1; }));
    {
        TestWindow other;
        ASSERT_NE(other.window, nullptr);
        EXPECT_TRUE(pollUntil(*input, [&] { return s.keyHeld[DIK_S] == 0; }));
        sendKey('S', false);
        TestWindow::pump(100);
    }
    // Back in the foreground, the next update acquires the keyboard again;
    // keys that go down from then on are seen.
    SetForegroundWindow(test.window);
    TestWindow::pump(200);
    input->update();
    EXPECT_EQ(input->state.keyHeld[DIK_S], 0);
    sendKey('D', true);
    EXPECT_TRUE(pollUntil(*input, [&] { return s.keyHeld[DIK_D] == 1; }));
    sendKey('D', false);
    EXPECT_TRUE(pollUntil(*input, [&] { return s.keyHeld[DIK_D] == 0; }));

    input->release();
    EXPECT_EQ(input->directInput, nullptr);
    EXPECT_EQ(input->keyboard, nullptr);
    EXPECT_EQ(input->mouse, nullptr);
    input->update(); // nothing left to read
}

TEST(InputDevices, WithoutAJoystickItsPathsAndTheEffectsStayAbsent)
{
    TestWindow test;
    ASSERT_NE(test.window, nullptr);
    auto input = std::make_unique<UserInput>();
    input->init(test.window);
    ASSERT_NE(input->directInput, nullptr);
    // Enumeration finds no game controller here.
    EXPECT_EQ(input->joystick, nullptr);
    EXPECT_EQ(input->state.joystickReady, 0u);
    EXPECT_EQ(input->pulseEffect, nullptr);
    EXPECT_EQ(input->rumbleEffect, nullptr);
    input->createEffects();
    input->startEffect(1000, 1.0f, 1);
    input->setEffectGain(0.5f);
    EXPECT_EQ(input->pulseEffect, nullptr);
    EXPECT_EQ(input->rumbleEffect, nullptr);
    EXPECT_EQ(ForceFeedback::createPeriodic(nullptr, 2), nullptr);
    for (int frame = 0; frame < 3; ++frame)
        input->update();
    EXPECT_EQ(input->state.lastJoystick, -1);
    input->release();
}

TEST(InputDevices, EffectParametersStayWithinDirectInputsRanges)
{
    auto input = std::make_unique<UserInput>();
    RecordingEffect pulse;
    RecordingEffect rumble;
    input->pulseEffect = &pulse;
    input->rumbleEffect = &rumble;

    input->startEffect(250, 0.5f, 0);
    EXPECT_EQ(pulse.size, DWORD(sizeof(DIEFFECT)));
    EXPECT_EQ(pulse.duration, 250000u);
    EXPECT_EQ(pulse.gain, 5000u);
    EXPECT_FALSE(pulse.hadEnvelope); // removes any envelope
    EXPECT_EQ(pulse.setFlags, DWORD(DIEP_DURATION | DIEP_GAIN | DIEP_ENVELOPE));
    EXPECT_EQ(pulse.startCount, 1);
    EXPECT_EQ(pulse.startIterations, 1u);
    EXPECT_EQ(pulse.startFlags, 0u);

    input->startEffect(1000, 1.7f, 1);
    EXPECT_EQ(pulse.gain, 10000u);
    EXPECT_EQ(pulse.duration, 1000000u);
    ASSERT_TRUE(pulse.hadEnvelope);
    EXPECT_EQ(pulse.envelope.dwSize, DWORD(sizeof(DIENVELOPE)));
    EXPECT_LE(pulse.envelope.dwAttackLevel, DWORD(DI_FFNOMINALMAX));
    EXPECT_LE(pulse.envelope.dwFadeLevel, DWORD(DI_FFNOMINALMAX));
    input->startEffect(-5, -0.2f, 0);
    EXPECT_EQ(pulse.gain, 0u);
    EXPECT_EQ(pulse.duration, 0u);
    input->startEffect(0x7FFFFFFF, 0.25f, 0);
    EXPECT_GT(pulse.duration, 4000000000u); // cut to what a DWORD holds, not wrapped
    EXPECT_EQ(pulse.gain, 2500u);

    input->setEffectGain(0.333f);
    EXPECT_EQ(rumble.gain, 3330u);
    EXPECT_EQ(rumble.setFlags, DWORD(DIEP_GAIN));
    EXPECT_EQ(rumble.startCount, 0); // the rumble keeps running; only its gain changes
    input->setEffectGain(3.0f);
    EXPECT_EQ(rumble.gain, 10000u);

    EXPECT_LE(ForceFeedback::magnitude, DWORD(DI_FFNOMINALMAX));
    input->pulseEffect = nullptr;
    input->rumbleEffect = nullptr;
}
