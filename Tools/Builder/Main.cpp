// The content builder: makes Korvanta's default game data from code.
//   KorvantaBuilder <install folder>
// writes the data folder that the game reads from its working folder, in
// place of the files an earlier run left in it;
//   KorvantaBuilder --builtin-images <folder>
// writes the textures, the icon, the default sounds and the editing pages'
// dialog templates that Resources/Korvanta.rc compiles into the program (the
// build runs it into its Generated folder).
#include "BuiltinTextures.h"
#include "DialogTemplateWriter.h"
#include "HudSamples.h"
#include "LandscapeSample.h"
#include "MapGenerator.h"
#include "MeadowSamples.h"
#include "MenuSamples.h"
#include "MeshSamples.h"
#include "ObjectPackageSamples.h"
#include "QuadSample.h"
#include "ObjectSamples.h"
#include "ResourceArchiveWriter.h"
#include "RiderSample.h"
#include "WaterSamples.h"
#include "WaySamples.h"
#include "WayTextures.h"
#include "SoundSamples.h"
#include "TreeSamples.h"

#include "Core/FileArray.h"

#include <windows.h>

#include <cstdio>

namespace {

bool makeFolder(const String& path)
{
    return CreateDirectoryW(path.text(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS;
}

// The game's data folders under root, parents first.
const wchar_t* const dataFolders[] = {L"Data",       L"Data\\Resource", L"Data\\Menu", L"Data\\Map",
                                      L"Data\\Mesh", L"Data\\Sound",    L"Data\\Tree", L"Objects"};

bool makeDataFolders(const String& root)
{
    for (const wchar_t* folder : dataFolders)
        if (!makeFolder(root + folder))
            return false;
    return true;
}

// Deletes the files (not the folders) in the data folders under root, so
// that the data set is exactly what this run writes: a map or a package an
// earlier builder wrote and this one no longer does would otherwise stay in
// the map choice and the loaded packages.
bool clearDataFolders(const String& root)
{
    for (const wchar_t* folder : dataFolders) {
        const String path = (root + folder).addBackslash();
        WIN32_FIND_DATAW found;
        HANDLE search = FindFirstFileW((path + L"*").text(), &found);
        if (search == INVALID_HANDLE_VALUE) {
            if (GetLastError() == ERROR_FILE_NOT_FOUND)
                continue;
            return false;
        }
        bool cleared = true;
        do {
            if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && !DeleteFileW((path + found.cFileName).text()))
                cleared = false;
        } while (FindNextFileW(search, &found));
        FindClose(search);
        if (!cleared)
            return false;
    }
    return true;
}

// The named resources the game looks up at start.
bool writeResourceArchive(const String& root)
{
    ResourceArchiveWriter archive;
    return SoundSamples::addArchiveSounds(archive) && WayTextures::addArchiveTextures(archive) &&
           HudSamples::addArchiveImages(archive) &&
           archive.save(root + L"Data\\Resource\\Resource.res");
}

bool writeFiles(const String& folder, const std::vector<BuiltinTextures::File>& files)
{
    for (const BuiltinTextures::File& file : files) {
        FileArray bytes(4096);
        if (bytes.write(file.bytes.data(), uint32_t(file.bytes.size())) != file.bytes.size() ||
            !FileInterface::saveToFile(bytes, folder + file.name))
            return false;
    }
    return true;
}

}

int wmain(int argc, wchar_t** argv)
{
    if (argc == 3 && lstrcmpW(argv[1], L"--builtin-images") == 0) {
        const String folder = String(argv[2]).addBackslash();
        return makeFolder(folder) && writeFiles(folder, BuiltinTextures::files()) &&
                       writeFiles(folder, SoundSamples::builtinFiles()) &&
                       writeFiles(folder, {DialogTemplateWriter::file()})
                   ? 0
                   : 1;
    }
    if (argc != 2) {
        fwprintf(stderr, L"usage: KorvantaBuilder <install folder>\n");
        return 2;
    }
    const String root = String(argv[1]).addBackslash();
    if (!makeDataFolders(root)) {
        fwprintf(stderr, L"KorvantaBuilder: cannot create the folders under %ls\n", root.text());
        return 1;
    }
    if (!clearDataFolders(root)) {
        fwprintf(stderr, L"KorvantaBuilder: cannot clear the data folders under %ls\n", root.text());
        return 1;
    }
    if (!writeResourceArchive(root)) {
        fwprintf(stderr, L"KorvantaBuilder: cannot write the resource archive\n");
        return 1;
    }
    if (!writeLandscapeSample(root)) {
        fwprintf(stderr, L"KorvantaBuilder: cannot write the sample level\n");
        return 1;
    }
    if (!WaterSamples::save(root)) {
        fwprintf(stderr, L"KorvantaBuilder: cannot write the sample water\n");
        return 1;
    }
    if (!ObjectPackageSamples::save(root) || !ObjectPackageSamples::saveTree(root)) {
        fwprintf(stderr, L"KorvantaBuilder: cannot write the sample object packages\n");
        return 1;
    }
    if (!QuadSample::save(root)) {
        fwprintf(stderr, L"KorvantaBuilder: cannot write the sample quad\n");
        return 1;
    }
    if (!HudSamples::save(root)) {
        fwprintf(stderr, L"KorvantaBuilder: cannot write the compass package\n");
        return 1;
    }
    if (!ObjectSamples::save(root, valleyGround)) {
        fwprintf(stderr, L"KorvantaBuilder: cannot write the sample objects\n");
        return 1;
    }
    if (!MeadowSamples::save(root)) {
        fwprintf(stderr, L"KorvantaBuilder: cannot write the sample meadow\n");
        return 1;
    }
    if (!WaySamples::save(root, valleyGround)) {
        fwprintf(stderr, L"KorvantaBuilder: cannot write the sample ways\n");
        return 1;
    }
    if (!MeshSamples::save(root + L"Data\\Mesh\\") || !RiderSample::save(root + L"Data\\Mesh\\")) {
        fwprintf(stderr, L"KorvantaBuilder: cannot write the sample meshes\n");
        return 1;
    }
    if (!TreeSamples::save(root + L"Data\\Tree\\")) {
        fwprintf(stderr, L"KorvantaBuilder: cannot write the sample trees\n");
        return 1;
    }
    if (!MapGenerator::saveChampionship(root)) {
        fwprintf(stderr, L"KorvantaBuilder: cannot write the championship's maps\n");
        return 1;
    }
    if (!MenuSamples::save(root)) {
        fwprintf(stderr, L"KorvantaBuilder: cannot write the menu\n");
        return 1;
    }
    if (!writeFiles(root + L"Data\\Sound\\", SoundSamples::sampleFiles())) {
        fwprintf(stderr, L"KorvantaBuilder: cannot write the sample sounds\n");
        return 1;
    }
    return 0;
}
