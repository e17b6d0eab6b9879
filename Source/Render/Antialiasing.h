#pragma once

#include <cstdint>

// The multisampling the device offers for the present back-buffer and depth
// formats, and the choice the application makes from its setting.
struct AntialiasingModes
{
    uint32_t nonMaskable = 0;              // 1: D3DMULTISAMPLE_NONMASKABLE is supported
    uint32_t nonMaskableQualityLevels = 0; // quality values 0 .. levels - 1 are valid
    uint32_t lowestType = 0;               // 2 when any sample count is supported, else 0
    uint32_t highestType = 0;              // the largest supported sample count
};

namespace Antialiasing {

// Tests the formats that chooseBackBufferFormat and chooseDepthFormat give
// for the device record's present settings (windowed = !fullScreen). All
// zero without a Direct3D object.
void detectModes(AntialiasingModes& out, bool fullScreen);

struct Choice
{
    uint32_t type = 0; // D3DMULTISAMPLE_TYPE
    uint32_t quality = 0;
};

// The application's choice for its setting (0 none, else 1 << setting
// samples): that sample count when it lies in the supported range, else the
// non-maskable type with quality n when n is a valid quality value, else
// none.
Choice choose(uint32_t setting, const AntialiasingModes& modes);

}
