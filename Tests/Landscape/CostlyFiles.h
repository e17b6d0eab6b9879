#pragma once
// Grass and water files whose few bytes ask for much, as a damaged or
// hostile file may: the level tests load the valley with each, the
// benchmarks time their reads.
#include "LandscapeTestFiles.h"
#include "MeadowFileWriter.h"
#include "WaterSamples.h"

#include "Landscape/Water.h"

#include "Core/FileArray.h"

#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

namespace CostlyFiles {

// 300 grass layer records at their defaults (33 KB), grass layers with
// images of 8192 x 8192 texels (one, three, one layer with four), eight
// grass layers whose JPEG hides a frame of 4096 x 2688 behind FF 00 and a
// length that points to the header of a 16 x 16 one; 32 water areas of boxes
// 10,000 units across, 100,000 water areas of a single field, the valley's
// lake before its pond with 20,000 and with 100,000 patch records that list
// no macro cells, the lake before an area of a 2,800-unit box whose one
// small triangle comes 1.4 million times, and a million areas dropped for a
// level that is not a number; each named.
inline std::vector<std::pair<std::string, std::vector<uint8_t>>> of(const std::wstring& extension)
{
    std::vector<std::pair<std::string, std::vector<uint8_t>>> files;
    FileArray out(1 << 16);
    const auto add = [&](const char* what) {
        files.push_back({what, LandscapeTestFiles::bytesOf(out)});
        out.close();
    };
    if (extension == L".mdw") {
        MeadowFileWriter::write(std::vector<MeadowFileWriter::Layer>(300), out);
        add("defaults");
        MeadowFileWriter::Layer textured;
        textured.texture = LandscapeTestFiles::blankPng(8192, 8192);
        MeadowFileWriter::write({textured}, out);
        add("image");
        MeadowFileWriter::write({textured, textured, textured}, out);
        add("images");
        // Three more blocks before the one layer's own, behind its empty name.
        std::vector<uint8_t> blocks = files[1].second;
        const ptrdiff_t texture = 10 + 1 + 4;
        const std::vector<uint8_t> block(blocks.begin() + texture,
                                         blocks.begin() + texture + 9 + ptrdiff_t(textured.texture.size()));
        for (int i = 0; i < 3; ++i)
            blocks.insert(blocks.begin() + texture, block.begin(), block.end());
        files.push_back({"blocks", blocks});
        MeadowFileWriter::Layer hidden;
        hidden.texture = LandscapeTestFiles::hiddenFrameJpeg(4096, 2688);
        MeadowFileWriter::write(std::vector<MeadowFileWriter::Layer>(8, hidden), out);
        add("hidden frames");
    }
    if (extension == L".wtr") {
        WaterFileWriter::Area wide = WaterSamples::valley()[0];
        wide.setBox(-5000.0f, -5000.0f, 5000.0f, 5000.0f, 10.0f);
        WaterFileWriter::write(std::vector<WaterFileWriter::Area>(32, wide), out);
        add("wide");
        std::vector<uint8_t> levels = {'v', '1', '.', '0', 2};
        LandscapeTestFiles::putU32(levels, 100000);
        levels.push_back(3);
        for (int i = 0; i < 100000; ++i)
            levels.insert(levels.end(), {4, 0, 0, 0x40, 0x42, 0});
        levels.push_back(0);
        files.push_back({"areas", levels});
        const WaterFileWriter::Area lake = WaterSamples::valley()[0];
        for (int count : {20000, 100000}) {
            WaterFileWriter::Area pond = WaterSamples::valley()[1];
            WaterFileWriter::Patch empty = pond.waves.patches[0];
            empty.cells.clear();
            pond.waves.patches.assign(size_t(count), empty);
            WaterFileWriter::write({lake, pond}, out);
            add(count == 20000 ? "20,000 patches" : "100,000 patches");
        }
        // Every point test under its level walks the whole list: the point
        // lies in none of the copies.
        WaterFileWriter::Area repeated = lake;
        repeated.name = String(L"Repeated");
        repeated.level = 1000.0f;
        repeated.outline = {{1390.0f, 1390.0f}, {1399.0f, 1390.0f}, {1390.0f, 1399.0f}};
        repeated.indices.clear();
        for (int i = 0; i < 1400000; ++i)
            repeated.indices.insert(repeated.indices.end(), {0, 1, 2});
        repeated.setBox(-1400.0f, -1400.0f, 1400.0f, 1400.0f, 1100.0f);
        WaterFileWriter::write({lake, repeated}, out);
        add("repeated triangle");
        std::vector<uint8_t> dropped = {'v', '1', '.', '0', 2};
        LandscapeTestFiles::putU32(dropped, 1000000);
        dropped.push_back(3);
        for (int i = 0; i < 1000000; ++i)
            dropped.insert(dropped.end(), {4, 0, 0, 0xC0, 0x7F, 0}); // a quiet NaN
        dropped.push_back(0);
        files.push_back({"dropped areas", dropped});
    }
    return files;
}

// Water files at the bounds, which read whole: the lake before an area of a
// 2,800-unit box whose small triangle comes as often as the triangles'
// bound lets it (each point test under its level walks them all), and the
// lake before the pond with four patches that list no macro cells (as many
// macro cells as the bound lets near the camera); each named.
inline std::vector<std::pair<std::string, std::vector<uint8_t>>> atTheBounds()
{
    std::vector<std::pair<std::string, std::vector<uint8_t>>> files;
    FileArray out(1 << 16);
    const WaterFileWriter::Area lake = WaterSamples::valley()[0];
    WaterFileWriter::Area repeated = lake;
    repeated.name = String(L"Repeated");
    repeated.level = 1000.0f;
    repeated.outline = {{1390.0f, 1390.0f}, {1399.0f, 1390.0f}, {1390.0f, 1399.0f}};
    repeated.indices.clear();
    for (size_t i = lake.indices.size() / 3; i < Water::maxTriangles; ++i)
        repeated.indices.insert(repeated.indices.end(), {0, 1, 2});
    repeated.setBox(-1400.0f, -1400.0f, 1400.0f, 1400.0f, 1100.0f);
    WaterFileWriter::write({lake, repeated}, out);
    files.push_back({"triangles at the bound", LandscapeTestFiles::bytesOf(out)});
    out.close();
    WaterFileWriter::Area pond = WaterSamples::valley()[1];
    WaterFileWriter::Patch empty = pond.waves.patches[0];
    empty.cells.clear();
    pond.waves.patches.assign(4, empty);
    WaterFileWriter::write({lake, pond}, out);
    files.push_back({"macro cells at the bound", LandscapeTestFiles::bytesOf(out)});
    return files;
}

// What the water's areas in the given lists hold together, as the reader's
// bounds count it.
struct WaterHeld
{
    uint64_t cost = 0, macroCells = 0;
    uint32_t triangles = 0;
};
inline WaterHeld waterHeld(std::initializer_list<const Water::AreaList*> lists)
{
    WaterHeld held;
    for (const Water::AreaList* list : lists)
        for (auto* node = list->head(); node; node = node->next)
            if (node->item) {
                held.cost += node->item->cost();
                held.macroCells += node->item->physics.macroCells();
                held.triangles += uint32_t(node->item->indexCount / 3);
            }
    return held;
}

}
