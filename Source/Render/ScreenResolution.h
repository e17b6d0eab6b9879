#pragma once

#include "Core/ArrayHeap.h"
#include "Core/Vector.h"

#include <d3d9.h>

#include <cstdint>

// The display resolutions the adapter offers in D3DFMT_X8R8G8B8: each
// {width, height} pair once, ascending by width, then by height. Refresh
// rates and formats are not kept. Filled once at start-up by DirectGraphics;
// read by the full-screen present parameters and the graphics menu.
class ScreenResolution
{
public:
    // Fills the list from adapter 0 of direct3d (empty without one).
    void enumerate(IDirect3D9* direct3d);
    // Fills the list from count reported modes: duplicates dropped, sorted.
    void setModes(const intvec2d* modes, int32_t count);

    // Index of the exactly equal pair, or -1.
    int32_t indexOf(const intvec2d& size);
    // The pair with the smallest summed width and height difference (the
    // first of equally near ones); the first pair when none is nearer than
    // 1024. An empty list gives size itself.
    intvec2d findNearest(const intvec2d& size);
    // The pair at index; {0, 0} outside the list.
    intvec2d modeAt(int32_t index);
    int32_t count() { return modes_.count(); }
    void clear() { modes_.deleteArray(); }

private:
    ArrayHeap<intvec2d> modes_;
};
