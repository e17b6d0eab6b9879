// The scene's main level file: "v1.0", then tags 1 to 9 and 0.
#include "Landscape/Scene.h"

#include "Landscape/LevelBlock.h"
#include "Landscape/Meadow.h"
#include "Landscape/Water.h"
#include "Landscape/Terrain.h"
#include "Way/WayNetwork.h"

#include "Render/SwapChain.h"

#include "Core/CrashTrace.h"

#include <windows.h>

#include <cwchar>
#include <string>

namespace {

enum Tag : uint32_t { Name = 1, Preview, Description, Race, TerrainBlock, TimeOfDay, Season, SkyFlag, CameraBlock };

constexpr char versionMark[4] = {'v', '1', '.', '0'};

}

void Scene::setDefaults()
{
    sceneName = String(L"");
    description = String(L"");
    preview.close();
    game.clearSceneSettings();
    timeOfDay = 12.0f;
    season = 0.5f;
    animatedSky = 0;
    terrainLayer.setDefaults();
    camera.setDefaults();
}

bool Scene::readLevel(FileInterface& stream)
{
    CRASH_TRACE();
    uint32_t version = 0;
    if (!stream.readValue(version))
        return false;
    return LevelBlock::read(stream, [&](uint32_t tag) {
        switch (tag) {
        case Name: return stream.readString(sceneName);
        case Preview: return FileInterface::copyBlockTo(stream, preview);
        case Description: return stream.readString(description);
        case Race: return game.readSceneSettings(stream, false);
        case TerrainBlock: return terrainLayer.read(stream);
        case TimeOfDay: return LevelBlock::readInRange(stream, timeOfDay, 0.0f, 24.0f);
        case Season: return LevelBlock::readInRange(stream, season, 0.0f, 1.0f);
        case SkyFlag: return stream.readValue(animatedSky);
        case CameraBlock: return camera.read(stream);
        default: return true;
        }
    });
}

void Scene::readHeaderFrom(FileInterface& stream)
{
    CRASH_TRACE();
    sceneName = String(L"");
    description = String(L"");
    preview.close();
    game.clearSceneSettings();
    headerWord = game.choice.courseType;
    uint32_t version = 0;
    if (!stream.readValue(version))
        return;
    LevelBlock::read(stream, [&](uint32_t tag) {
        switch (tag) {
        case Name: return stream.readString(sceneName);
        case Preview: return FileInterface::copyBlockTo(stream, preview);
        case Description: return stream.readString(description);
        case Race:
            game.readSceneSettings(stream, true);
            headerWord = game.choice.courseType;
            // Tag 4 ends the head whatever follows it.
            return false;
        default: return true;
        }
    });
}

String Scene::readHeader(const String& path)
{
    if (FileInterface* file = openFile(path, 0, 1, 1)) {
        if (file->isOpen)
            readHeaderFrom(*file);
        file->close();
    }
    return sceneName;
}

void Scene::writeLevel(FileInterface& stream)
{
    stream.write(versionMark, sizeof(versionMark));
    stream.writeTag(Name);
    stream.writeString(sceneName);
    stream.writeTag(Preview);
    FileInterface::writeBlockFrom(stream, preview);
    stream.writeTag(Description);
    stream.writeString(description);
    stream.writeTag(Race);
    game.writeSceneSettings(stream);
    stream.writeTag(TerrainBlock);
    terrainLayer.write(stream);
    stream.writeTag(TimeOfDay);
    stream.writeValue(timeOfDay);
    stream.writeTag(Season);
    stream.writeValue(season);
    stream.writeTag(SkyFlag);
    stream.writeValue(animatedSky);
    stream.writeTag(CameraBlock);
    camera.write(stream);
    stream.writeTag(0);
}

bool Scene::save(const String& path)
{
    CRASH_TRACE();
    if (path.length() > 0) {
        const String name = path;
        fileName = name;
    }
    if (fileName.length() <= 0)
        return false;
    bool saved = true;
    if (!keeps(fileName)) {
        FileArray bytes(4096);
        writeLevel(bytes);
        saved = FileInterface::replaceFile(bytes, fileName);
    }
    if (Terrain* terrain = terrainLayer.terrain; terrain && terrain->isLoaded() && !keeps(terrainLayer.mapFileName()))
        saved = terrain->save(terrainLayer.mapFileName()) && saved;
    if (const String water = baseName() + L".wtr"; !keeps(water))
        saved = gWater.save(water) && saved;
    if (const String way = baseName() + L".way"; !keeps(way))
        saved = saveWayFile(way) && saved;
    if (const String meadow = baseName() + L".mdw"; swapChain && swapChain->meadow && !keeps(meadow))
        saved = swapChain->meadow->save(meadow) && saved;
    return saved;
}

namespace {

// The path as the system resolves it against the current folder: a file
// named relatively, in full or with other separators gives the same text.
String fullPath(const String& path)
{
    const DWORD size = GetFullPathNameW(path.text(), 0, nullptr, nullptr);
    std::wstring full(size, L'\0');
    const DWORD length = size ? GetFullPathNameW(path.text(), size, full.data(), nullptr) : 0;
    return length > 0 && length < size ? String(full.c_str()) : path;
}

}

void Scene::keepUnlessWhole(bool whole, const String& path)
{
    if (!whole)
        keptFiles.push_back(fullPath(path));
}

bool Scene::keeps(const String& path) const
{
    const String full = fullPath(path);
    for (const String& kept : keptFiles)
        if (_wcsicmp(kept.text(), full.text()) == 0)
            return true;
    return false;
}
