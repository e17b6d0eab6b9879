#include "Core/PixelFormat.h"

#include <cstring>

namespace
{
bool readPixel(const void* source, uint32_t format, uint8_t alpha, Color& c, uint32_t& raw)
{
    const uint8_t* p = static_cast<const uint8_t*>(source);
    uint16_t v16 = 0;
    switch (format) {
    case D3DFormatCode::R8G8B8:
        c = Color(p[2], p[1], p[0], alpha);
        raw = c.argb();
        return true;
    case D3DFormatCode::A8R8G8B8:
    case D3DFormatCode::X8R8G8B8:
        std::memcpy(&raw, p, 4);
        c = Color::fromArgb(raw);
        return true;
    default:
        break;
    }
    std::memcpy(&v16, p, 2);
    switch (format) {
    case D3DFormatCode::R5G6B5:
        // Each channel at the top of its byte: white becomes F8FCF8h.
        c = Color(uint8_t((v16 >> 8) & 0xF8u), uint8_t((v16 >> 3) & 0xFCu), uint8_t((v16 << 3) & 0xF8u), alpha);
        break;
    case D3DFormatCode::X1R5G5B5:
    case D3DFormatCode::A1R5G5B5:
        c = toColor(ColorA1R5G5B5(v16));
        if (format == D3DFormatCode::X1R5G5B5)
            c.a = alpha;
        break;
    case D3DFormatCode::A4R4G4B4:
    case D3DFormatCode::X4R4G4B4:
        c = toColor(ColorA4R4G4B4(v16));
        if (format == D3DFormatCode::X4R4G4B4)
            c.a = alpha;
        break;
    default:
        return false;
    }
    raw = c.argb();
    return true;
}
}

uint32_t convertPixel(const void* source, uint32_t sourceFormat, uint32_t destFormat, uint8_t alpha)
{
    if (!source)
        return 0;
    Color c;
    uint32_t raw = 0;
    if (!readPixel(source, sourceFormat, alpha, c, raw))
        return 0;
    // Five bits of green become the top five of six: 7FFFh gives FFDFh.
    if ((sourceFormat == D3DFormatCode::X1R5G5B5 || sourceFormat == D3DFormatCode::A1R5G5B5) &&
        destFormat == D3DFormatCode::R5G6B5) {
        uint16_t v = 0;
        std::memcpy(&v, source, 2);
        return uint32_t((v & 0x7FE0u) << 1 | (v & 0x001Fu));
    }
    switch (destFormat) {
    case D3DFormatCode::R8G8B8:
        return 0xFF000000u | (c.argb() & 0x00FFFFFFu);
    case D3DFormatCode::A8R8G8B8:
    case D3DFormatCode::X8R8G8B8:
        return raw;
    case D3DFormatCode::R5G6B5:
        return fromColor<ColorR5G6B5>(c).value;
    case D3DFormatCode::X1R5G5B5:
    case D3DFormatCode::A1R5G5B5:
        return fromColor<ColorA1R5G5B5>(c).value;
    case D3DFormatCode::A4R4G4B4:
    case D3DFormatCode::X4R4G4B4:
        return fromColor<ColorA4R4G4B4>(c).value;
    default:
        return 0;
    }
}
