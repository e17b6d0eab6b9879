#include "Race/GameMapInfo.h"

#include "Landscape/Scene.h"

#include <d3dx9.h>

bool Game::MapInfo::load(Scene& scene, const String& levelPath)
{
    path = levelPath;
    // A file that cannot be opened leaves the scene's fields as they were.
    scene.sceneName = String(L"");
    scene.description = String(L"");
    scene.preview.close();
    scene.headerWord = 0;
    name = scene.readHeader(path);
    countryCode = scene.description;
    mapKind = scene.headerWord;
    scene.preview.seek(0, 0);
    if (scene.preview.size() > 0)
        Texture::loadFromMemory(scene.preview, nullptr, preview, name, D3DX_DEFAULT, D3DX_DEFAULT, 1, D3DFMT_DXT1,
                                D3DPOOL_MANAGED, D3DX_DEFAULT);
    return name.length() > 0 || countryCode.length() > 0;
}
