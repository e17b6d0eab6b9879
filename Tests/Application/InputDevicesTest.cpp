// DirectInput devices for real: under Wine and Xvfb the system keyboard and
// mouse see input sent to a foreground window; no joystick exists, so its
// paths and the force-feedback effects must stay absent and harmless.
#include "Application/ForceFeedback.h"
#include "Application/UserInput.h"

#include <gtest/gtest.h>

#include <memory>

namespace {

void pump(DWORD milliseconds)
{
    for (DWORD start = GetTickCount(); GetTickCount() - start < milliseconds; Sleep(10)) {
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageW(&message);
    }
}

HWND foregroundWindow()
{
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = DefWindowProcW;
    windowClass.lpszClassName = L"KorvantaInputTest";
    RegisterClassW(&windowClass);
    HWND window = CreateWindowExW(0, L"KorvantaInputTest", L"Input test", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 100, 100,
                                  400, 300, nullptr, nullptr, nullptr, nullptr);
    SetForegroundWindow(window);
    pump(200);
    return window;
}

void sendKey(WORD key, bool down)
{
    INPUT event{INPUT_KEYBOARD, {}};
    event.ki = {key, WORD(MapVirtualKeyW(key, MAPVK_VK_TO_VSC)), DWORD(down ? 0 : KEYEVENTF_KEYUP), 0, 0};
    SendInput(1, &event, sizeof(INPUT));
}

// Polls until the condition holds, or a minute has passed: only input that
// never comes takes that long, however busy the machine.
template <class Condition>
bool pollUntil(UserInput& input, Condition condition)
{
    for (const DWORD start = GetTickCount(); GetTickCount() - start < 60000;) {
        pump(50);
        input.update();
        if (condition())
            return true;
    }
    return false;
}

} // namespace

TEST(InputDevices, KeyboardAndMouseSeeInputAndTheAbsentJoystickIsSkipped)
{
    HWND window = foregroundWindow();
    auto input = std::make_unique<UserInput>();
    // Keys left down from before start released.
    input->state.keyHeld[DIK_Q] = input->state.keyPressed[DIK_Q] = 1;
    input->state.lastKey = DIK_Q;
    input->state.keyAxisX = 0.7f;
    input->init(window);
    EXPECT_EQ(input->state.keyHeld[DIK_Q] + input->state.keyPressed[DIK_Q], 0);
    EXPECT_EQ(input->state.lastKey, -1);
    EXPECT_EQ(input->state.keyAxisX, 0.0f);
    ASSERT_NE(input->keyboard, nullptr);
    ASSERT_NE(input->mouse, nullptr);
    const UserInput::State& s = input->state;
    sendKey('A', true);
    EXPECT_TRUE(pollUntil(*input, [&] { return s.keyHeld[DIK_A] == 1; }));
    sendKey('A', false);
    EXPECT_TRUE(pollUntil(*input, [&] { return s.keyHeld[DIK_A] == 0; }));
    SetCursorPos(300, 250);
    pump(100);
    input->update();
    INPUT move{INPUT_MOUSE, {}};
    move.mi = {25, 0, 0, MOUSEEVENTF_MOVE, 0, 0};
    SendInput(1, &move, sizeof(INPUT));
    EXPECT_TRUE(pollUntil(*input, [&] { return s.mouseDeltaX > 0.0f; }));

    // Another window takes the foreground while a key is down: the key counts
    // as released instead of staying down. Back in the foreground, the
    // keyboard is acquired again.
    sendKey('S', true);
    EXPECT_TRUE(pollUntil(*input, [&] { return s.keyHeld[DIK_S] == 1; }));
    HWND other = foregroundWindow();
    EXPECT_TRUE(pollUntil(*input, [&] { return s.keyHeld[DIK_S] == 0; }));
    sendKey('S', false);
    DestroyWindow(other);
    SetForegroundWindow(window);
    pump(200);
    input->update();
    sendKey('D', true);
    EXPECT_TRUE(pollUntil(*input, [&] { return s.keyHeld[DIK_D] == 1; }));
    sendKey('D', false);

    // No game controller here: its reads and the force-feedback effects are skipped.
    EXPECT_EQ(input->joystick, nullptr);
    EXPECT_EQ(s.lastJoystick, -1);
    input->createEffects();
    input->startEffect(1000, 1.0f, 1);
    input->setEffectGain(0.5f);
    EXPECT_EQ(input->pulseEffect, nullptr);
    EXPECT_EQ(input->rumbleEffect, nullptr);
    EXPECT_EQ(ForceFeedback::createPeriodic(nullptr, 2), nullptr);
    // A magnitude above DirectInput's nominal maximum may be rejected by drivers.
    EXPECT_LE(ForceFeedback::magnitude, DWORD(DI_FFNOMINALMAX));
    input->release();
    EXPECT_EQ(input->keyboard, nullptr);
    input->update(); // nothing left to read
    DestroyWindow(window);
}
