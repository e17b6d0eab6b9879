#pragma once
// A level of the map folder as the championship's country choice sees it:
// its path, its country code and name from the level's head, its preview
// and its kind.

#include "Race/Game.h"

#include "Core/String.h"

#include <TextureRecord.h>

#include <cstdint>

class Scene;

struct Game::MapInfo
{
    // Reads the head of the level at levelPath through scene (whose current
    // map fields it writes); a head that cannot be read leaves the name and
    // code empty and kind 0. The preview is loaded as DXT1 by the map's name;
    // none when the head carries no image the loader takes.
    bool load(Scene& scene, const String& levelPath);

    String path{L""};
    String countryCode{L""};
    String name{L""};
    TextureRef preview;
    int32_t mapKind = 0;
};
