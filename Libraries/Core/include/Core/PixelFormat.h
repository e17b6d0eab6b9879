#pragma once

#include "Core/Color.h"

#include <cstdint>

// Engine pixel-format codes of surface element types. Codes 4 (8-bit palette
// index) and 10 are not element types; ImageData uses 4 for palette images.
template <class T>
struct enumFormat
{
    static constexpr int32_t value = 0;
};
template <> struct enumFormat<uint8_t> { static constexpr int32_t value = 1; };
template <> struct enumFormat<uint16_t> { static constexpr int32_t value = 2; };
template <> struct enumFormat<float> { static constexpr int32_t value = 3; };
template <> struct enumFormat<ColorA1R5G5B5> { static constexpr int32_t value = 5; };
template <> struct enumFormat<ColorA4R4G4B4> { static constexpr int32_t value = 6; };
template <> struct enumFormat<ColorR5G6B5> { static constexpr int32_t value = 7; };
template <> struct enumFormat<Color24> { static constexpr int32_t value = 8; };
template <> struct enumFormat<Color> { static constexpr int32_t value = 9; };
template <> struct enumFormat<ColorValue24> { static constexpr int32_t value = 11; };

// The Direct3D format codes that convertPixel understands (values of D3DFORMAT;
// the core library does not include d3d9.h).
namespace D3DFormatCode
{
constexpr uint32_t R8G8B8 = 20;
constexpr uint32_t A8R8G8B8 = 21;
constexpr uint32_t X8R8G8B8 = 22;
constexpr uint32_t R5G6B5 = 23;
constexpr uint32_t X1R5G5B5 = 24;
constexpr uint32_t A1R5G5B5 = 25;
constexpr uint32_t A4R4G4B4 = 26;
constexpr uint32_t X4R4G4B4 = 30;
}

// Converts one pixel between two of the Direct3D formats above. `source` points
// at the source pixel (3 bytes for R8G8B8, 4 for the 32-bit formats, 2 for the
// 16-bit ones). Sources without alpha (R8G8B8, R5G6B5, X1R5G5B5, X4R4G4B4)
// take `alpha`; X8R8G8B8 is read as it stands, its top byte included.
// Destinations without alpha keep the source's alpha bits where they have room
// (X8R8G8B8 keeps the source value whole) and R8G8B8 results carry FFh in the
// top byte. R5G6B5 channels widen to the top of their bytes (FFFFh to
// FFF8FCF8h); the other 16-bit channels widen to the full byte (4 bits of 15 to
// FFh). Narrower channels keep their top bits. 16-bit results are in the low
// 16 bits. An unknown format on either side gives 0.
uint32_t convertPixel(const void* source, uint32_t sourceFormat, uint32_t destFormat, uint8_t alpha);
