#pragma once
// Which menu sound a step asked for, from the menu's counts of the sounds.
#include "Menu/GameMenu.h"

#include <algorithm>
#include <iterator>

struct SoundProbe
{
    explicit SoundProbe(GameMenu& owner) : menu(owner) { mark(); }
    void mark() { std::copy(std::begin(menu.soundCounts), std::end(menu.soundCounts), seen); }
    // The one sound asked for since the last mark (-1 none, -2 more than
    // one); marks again.
    int last()
    {
        int found = -1;
        for (int i = 0; i < 5; ++i)
            if (menu.soundCounts[i] != seen[i])
                found = found == -1 && menu.soundCounts[i] == seen[i] + 1 ? i : -2;
        mark();
        return found;
    }
    GameMenu& menu;
    uint32_t seen[5] = {};
};
