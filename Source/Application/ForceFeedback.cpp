#include "Application/ForceFeedback.h"

#include "Core/CrashTrace.h"

#include <cmath>

// A quick rise and a longer fade from and to silence, so an impact is felt
// as a knock rather than a click.
const DIENVELOPE ForceFeedback::pulseEnvelope = {sizeof(DIENVELOPE), 0, 20000, 0, 60000};

namespace {

BOOL CALLBACK firstEffect(LPCDIEFFECTINFOW info, void* context)
{
    *static_cast<GUID*>(context) = info->guid;
    return DIENUM_STOP;
}

} // namespace

IDirectInputEffect* ForceFeedback::createPeriodic(IDirectInputDevice8W* device, DWORD axisCount)
{
    CRASH_TRACE();
    if (!device || axisCount < 1 || axisCount > 2)
        return nullptr;
    GUID effectGuid = GUID_NULL;
    if (FAILED(device->EnumEffects(firstEffect, &effectGuid, DIEFT_PERIODIC)) || effectGuid == GUID_NULL)
        return nullptr;

    DWORD axes[2] = {DIJOFS_X, DIJOFS_Y};
    LONG directions[2] = {0, 0};
    DIPERIODIC periodic{};
    periodic.dwMagnitude = magnitude;
    periodic.dwPeriod = effectPeriod;

    DIEFFECT effect{};
    effect.dwSize = sizeof(DIEFFECT);
    effect.dwFlags = DIEFF_CARTESIAN | DIEFF_OBJECTOFFSETS;
    effect.dwDuration = effectDuration;
    effect.dwTriggerButton = DIEB_NOTRIGGER;
    effect.cAxes = axisCount;
    effect.rgdwAxes = axes;
    effect.rglDirection = directions;
    effect.cbTypeSpecificParams = sizeof(DIPERIODIC);
    effect.lpvTypeSpecificParams = &periodic;

    IDirectInputEffect* created = nullptr;
    if (FAILED(device->CreateEffect(effectGuid, &effect, &created, nullptr)))
        return nullptr;
    return created;
}

DWORD ForceFeedback::gainUnits(float gain)
{
    if (!(gain > 0.0f))
        return 0;
    if (gain > 1.0f)
        gain = 1.0f;
    return DWORD(std::lround(gain * float(DI_FFNOMINALMAX)));
}

void ForceFeedback::start(IDirectInputEffect* effect, int32_t milliseconds, float gain, uint32_t envelope)
{
    CRASH_TRACE();
    if (!effect)
        return;
    // Microseconds in a DWORD: a negative or huge duration is cut to what fits.
    constexpr int32_t longest = int32_t(0xFFFFFFFEu / 1000u);
    if (milliseconds < 0)
        milliseconds = 0;
    if (milliseconds > longest)
        milliseconds = longest;

    DIENVELOPE shape = pulseEnvelope;
    DIEFFECT parameters{};
    parameters.dwSize = sizeof(DIEFFECT);
    parameters.dwFlags = DIEFF_CARTESIAN | DIEFF_OBJECTOFFSETS;
    parameters.dwDuration = DWORD(milliseconds) * 1000u;
    parameters.dwGain = gainUnits(gain);
    parameters.dwTriggerButton = DIEB_NOTRIGGER;
    parameters.lpEnvelope = envelope ? &shape : nullptr;
    effect->SetParameters(&parameters, DIEP_DURATION | DIEP_GAIN | DIEP_ENVELOPE);
    effect->Start(1, 0);
}

void ForceFeedback::setGain(IDirectInputEffect* effect, float gain)
{
    if (!effect)
        return;
    DIEFFECT parameters{};
    parameters.dwSize = sizeof(DIEFFECT);
    parameters.dwGain = gainUnits(gain);
    effect->SetParameters(&parameters, DIEP_GAIN);
}

void UserInput::createEffects()
{
    CRASH_TRACE();
    if (!joystick)
        return;
    DIDEVCAPS caps{};
    caps.dwSize = sizeof(DIDEVCAPS);
    if (FAILED(joystick->GetCapabilities(&caps)) || !(caps.dwFlags & DIDC_FORCEFEEDBACK))
        return;
    if (!pulseEffect)
        pulseEffect = ForceFeedback::createPeriodic(joystick, 2);
    if (!rumbleEffect)
        rumbleEffect = ForceFeedback::createPeriodic(joystick, 1);
}

void UserInput::startEffect(int32_t milliseconds, float gain, uint32_t envelope)
{
    ForceFeedback::start(pulseEffect, milliseconds, gain, envelope);
}

void UserInput::setEffectGain(float gain)
{
    ForceFeedback::setGain(rumbleEffect, gain);
}

void UserInput::startRumble()
{
    if (rumbleEffect)
        rumbleEffect->Start(INFINITE, 0);
}

void UserInput::stopRumble()
{
    if (rumbleEffect)
        rumbleEffect->Stop();
}
