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

namespace {

// The path as the system resolves it against the current folder: a file
// named relatively, in full, with other separators or with trailing dots
// gives the same text.
String fullPath(const String& path)
{
    const DWORD size = GetFullPathNameW(path.text(), 0, nullptr, nullptr);
    std::wstring full(size, L'\0');
    const DWORD length = size ? GetFullPathNameW(path.text(), size, full.data(), nullptr) : 0;
    return length > 0 && length < size ? String(full.c_str()) : path;
}

}

bool Scene::save(const String& path)
{
    CRASH_TRACE();
    // The side files take their names from the main file's as the system
    // finds it: a name written with a trailing dot would give them others.
    if (path.length() > 0)
        fileName = fullPath(path);
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
    if (const String objects = baseName() + L".obj"; swapChain && swapChain->staticEntities && !keeps(objects))
        saved = swapChain->staticEntities->save(objects) && saved;
    return saved;
}

bool Scene::KeptFile::operator==(const KeptFile& other) const
{
    return file == other.file || (folder == other.folder && _wcsicmp(name.text(), other.name.text()) == 0);
}

Scene::KeptFile Scene::identify(const String& path)
{
    const auto identityOf = [](const std::wstring& name) {
        FileIdentity id;
        const HANDLE handle = CreateFileW(name.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                          nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
        if (handle == INVALID_HANDLE_VALUE)
            return id;
        BY_HANDLE_FILE_INFORMATION info{};
        id.known = GetFileInformationByHandle(handle, &info) != 0;
        id.volume = info.dwVolumeSerialNumber;
        id.index = uint64_t(info.nFileIndexHigh) << 32 | info.nFileIndexLow;
        CloseHandle(handle);
        return id;
    };
    const std::wstring full = fullPath(path).text();
    const size_t slash = full.find_last_of(L"\\/");
    KeptFile kept;
    kept.file = identityOf(full);
    if (slash != std::wstring::npos) {
        kept.folder = identityOf(full.substr(0, slash + 1));
        kept.name = String(full.substr(slash + 1).c_str());
    }
    return kept;
}

void Scene::keepUnlessWhole(bool whole, const String& path)
{
    if (!whole)
        keptFiles.push_back(identify(path));
}

bool Scene::keeps(const String& path) const
{
    const KeptFile named = identify(path);
    for (const KeptFile& kept : keptFiles)
        if (kept == named)
            return true;
    return false;
}
