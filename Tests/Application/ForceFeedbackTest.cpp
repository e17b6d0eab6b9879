// The force-feedback calls the game makes, against an effect that notes what
// it was asked (no force-feedback joystick exists under the tests).
#include "Application/ForceFeedback.h"
#include "Application/UserInput.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace {

class NotedEffect : public IDirectInputEffect
{
public:
    HRESULT WINAPI QueryInterface(REFIID, void**) override { return E_NOINTERFACE; }
    ULONG WINAPI AddRef() override { return 1; }
    ULONG WINAPI Release() override { return 1; }
    HRESULT WINAPI Initialize(HINSTANCE, DWORD, REFGUID) override { return DI_OK; }
    HRESULT WINAPI GetEffectGuid(LPGUID) override { return DI_OK; }
    HRESULT WINAPI GetParameters(LPDIEFFECT, DWORD) override { return DI_OK; }
    HRESULT WINAPI SetParameters(LPCDIEFFECT effect, DWORD flags) override
    {
        calls.push_back("gain " + std::to_string(effect->dwGain) +
                        ((flags & DIEP_DURATION) ? " for " + std::to_string(effect->dwDuration) : ""));
        return DI_OK;
    }
    HRESULT WINAPI Start(DWORD iterations, DWORD flags) override
    {
        calls.push_back(iterations == INFINITE ? "start looping" : "start " + std::to_string(iterations));
        calls.back() += flags ? " with flags" : "";
        return DI_OK;
    }
    HRESULT WINAPI Stop() override
    {
        calls.push_back("stop");
        return DI_OK;
    }
    HRESULT WINAPI GetEffectStatus(LPDWORD) override { return DI_OK; }
    HRESULT WINAPI Download() override { return DI_OK; }
    HRESULT WINAPI Unload() override { return DI_OK; }
    HRESULT WINAPI Escape(LPDIEFFESCAPE) override { return DI_OK; }

    std::vector<std::string> calls;
};

using Calls = std::vector<std::string>;

TEST(ForceFeedback, PulseOnceRumbleLoopingUntilStopped)
{
    auto input = std::make_unique<UserInput>();
    NotedEffect pulse, rumble;
    input->pulseEffect = &pulse;
    input->rumbleEffect = &rumble;

    input->startRumble();
    input->setEffectGain(0.25f);
    input->startEffect(200, 3.0f, 0);
    input->stopRumble();
    EXPECT_EQ(rumble.calls, (Calls{"start looping", "gain 2500", "stop"}));
    EXPECT_EQ(pulse.calls, (Calls{"gain 10000 for 200000", "start 1"}));

    // Without the effects nothing is asked of anything.
    input->pulseEffect = nullptr;
    input->rumbleEffect = nullptr;
    input->startRumble();
    input->stopRumble();
    input->startEffect(200, 1.0f, 0);
    EXPECT_EQ(rumble.calls.size(), 3u);
    EXPECT_EQ(pulse.calls.size(), 2u);
}

} // namespace
