#include "Render/ScreenResolution.h"

#include "Core/CrashTrace.h"

#include <algorithm>
#include <cstdlib>

void ScreenResolution::enumerate(IDirect3D9* direct3d)
{
    CRASH_TRACE();
    clear();
    if (!direct3d)
        return;
    const UINT n = direct3d->GetAdapterModeCount(D3DADAPTER_DEFAULT, D3DFMT_X8R8G8B8);
    if (n == 0 || n > 65536)
        return;
    ArrayHeap<intvec2d> reported{int32_t(n)};
    if (reported.count() != int32_t(n))
        return;
    int32_t found = 0;
    for (UINT i = 0; i < n; ++i) {
        D3DDISPLAYMODE mode{};
        if (FAILED(direct3d->EnumAdapterModes(D3DADAPTER_DEFAULT, D3DFMT_X8R8G8B8, i, &mode)))
            continue;
        *reported.at(found++) = {int32_t(mode.Width), int32_t(mode.Height)};
    }
    setModes(reported.data(), found);
}

void ScreenResolution::setModes(const intvec2d* modes, int32_t count)
{
    clear();
    if (!modes || count <= 0 || !modes_.resize(count))
        return;
    int32_t distinct = 0;
    for (int32_t i = 0; i < count; ++i) {
        bool seen = false;
        for (int32_t j = 0; j < distinct && !seen; ++j)
            seen = *modes_.at(j) == modes[i];
        if (!seen)
            *modes_.at(distinct++) = modes[i];
    }
    modes_.resize(distinct);
    std::sort(modes_.data(), modes_.data() + distinct, [](const intvec2d& a, const intvec2d& b) {
        return a.x != b.x ? a.x < b.x : a.y < b.y;
    });
}

int32_t ScreenResolution::indexOf(const intvec2d& size)
{
    for (int32_t i = 0; i < modes_.count(); ++i)
        if (*modes_.at(i) == size)
            return i;
    return -1;
}

intvec2d ScreenResolution::findNearest(const intvec2d& size)
{
    if (modes_.count() == 0)
        return size;
    int64_t best = 1024;
    intvec2d nearest = *modes_.at(0);
    for (int32_t i = 0; i < modes_.count(); ++i) {
        const intvec2d mode = *modes_.at(i);
        const int64_t distance = std::llabs(int64_t(mode.x) - size.x) + std::llabs(int64_t(mode.y) - size.y);
        if (distance < best) {
            best = distance;
            nearest = mode;
        }
    }
    return nearest;
}

intvec2d ScreenResolution::modeAt(int32_t index)
{
    if (index < 0 || index >= modes_.count())
        return {};
    return *modes_.at(index);
}
