// The texture atlas: pieces go into the first free rectangle that holds
// them, or the atlas grows to a larger power-of-two size that keeps its old
// contents in the top-left corner.
#include "Render/TextureDevice.h"

#include "Render/D3DDevice.h"

#include "Core/CrashTrace.h"
#include "Core/Math.h"

#include <algorithm>
#include <cmath>
#include <cstring>

using namespace TextureDevice;

namespace {

void fillMatrix(float* m, float sx, float sy, float ox, float oy)
{
    if (!m)
        return;
    const float values[9] = {sx, 0.0f, 0.0f, 0.0f, sy, 0.0f, ox, oy, 1.0f};
    std::memcpy(m, values, sizeof(values));
}

// Copies the piece's level 0 to (x, y) of a locked atlas level.
bool copyPiece(const LevelLock& to, uint32_t atlasFormat, IDirect3DTexture9* piece, const D3DSURFACE_DESC& p,
               uint32_t x, uint32_t y)
{
    LevelLock from(piece, 0);
    if (!from.ok())
        return false;
    return copyTexels(to.row(y) + size_t(x) * bytesPerTexel(atlasFormat), to.pitch, atlasFormat, from.bits,
                      from.pitch, p.Format, p.Width, p.Height);
}

}

void Texture::insertIntoAtlas(const TextureRef& atlas, const TextureRef& piece, float* oldMatrix, float* pieceMatrix)
{
    CRASH_TRACE();
    Texture* record = atlas.texture();
    Texture* part = piece.texture();
    if (!atlas.isBound() || !record->texture || !piece.isBound() || !part->texture || !deviceReady())
        return;
    D3DSURFACE_DESC a{}, p{};
    if (FAILED(record->texture->GetLevelDesc(0, &a)) || FAILED(part->texture->GetLevelDesc(0, &p)))
        return;
    // Texels are copied (and converted) one by one: both formats must be
    // ones whose texels can be walked.
    if (!bytesPerTexel(a.Format) || !bytesPerTexel(p.Format))
        return;
    const int32_t pw = int32_t(p.Width);
    const int32_t ph = int32_t(p.Height);

    for (auto* node = record->freeRects.rects().head(); node; node = node->next) {
        const RectList::Rect free = *node->item;
        if (free.right - free.left < pw || free.bottom - free.top < ph)
            continue;
        {
            LevelLock to(record->texture, 0);
            if (!to.ok() || !copyPiece(to, a.Format, part->texture, p, uint32_t(free.left), uint32_t(free.top)))
                return;
        }
        record->freeRects.subtract({free.left, free.top, free.left + pw, free.top + ph});
        fillMatrix(pieceMatrix, float(pw) / float(a.Width), float(ph) / float(a.Height),
                   float(free.left) / float(a.Width), float(free.top) / float(a.Height));
        generateMipLevels(atlas);
        return;
    }

    if (a.Usage != p.Usage || a.Format != p.Format || a.Pool != p.Pool)
        return;
    const uint32_t size = bytesPerTexel(a.Format);
    const uint32_t levels = std::max(record->texture->GetLevelCount(), part->texture->GetLevelCount());
    const uint32_t besideWidth = nextPowerOfTwo(a.Width + p.Width);
    const uint32_t besideHeight = nextPowerOfTwo(std::max(a.Height, p.Height));
    const uint32_t belowWidth = nextPowerOfTwo(std::max(a.Width, p.Width));
    const uint32_t belowHeight = nextPowerOfTwo(a.Height + p.Height);
    auto cost = [](uint32_t w, uint32_t h) {
        return float(w) * float(h) + std::fabs(float(w) - float(h));
    };
    const bool beside = !(cost(besideWidth, besideHeight) > cost(belowWidth, belowHeight));
    const uint32_t width = beside ? besideWidth : belowWidth;
    const uint32_t height = beside ? besideHeight : belowHeight;
    const uint32_t x = beside ? a.Width : 0;
    const uint32_t y = beside ? 0 : a.Height;
    if (!width || !height)
        return;

    // The grown texture is made before anything changes, so that a failed
    // creation leaves the atlas as it was.
    IDirect3DTexture9* grown = nullptr;
    CrashTrace::setLastValues(intptr_t(width), intptr_t(height));
    if (FAILED(gDevice->CreateTexture(width, height, levels, a.Usage, a.Format, a.Pool, &grown, nullptr)) || !grown)
        return;
    bool copied = false;
    {
        LevelLock to(grown, 0);
        LevelLock old(record->texture, 0, D3DLOCK_READONLY);
        if (to.ok() && old.ok()) {
            copyRows(to, old, size_t(a.Width) * size, a.Height);
            copied = copyPiece(to, a.Format, part->texture, p, x, y);
        }
    }
    if (!copied) {
        grown->Release();
        return;
    }
    record->texture->Release();
    record->texture = grown;

    RectList added;
    added.add({0, 0, int32_t(width), int32_t(height)});
    added.subtract({0, 0, int32_t(a.Width), int32_t(a.Height)});
    added.subtract({int32_t(x), int32_t(y), int32_t(x) + pw, int32_t(y) + ph});
    for (auto* node = added.rects().head(); node; node = node->next)
        record->freeRects.add(*node->item);

    fillMatrix(oldMatrix, float(a.Width) / float(width), float(a.Height) / float(height), 0.0f, 0.0f);
    fillMatrix(pieceMatrix, float(pw) / float(width), float(ph) / float(height), float(x) / float(width),
               float(y) / float(height));
    generateMipLevels(atlas);
}
