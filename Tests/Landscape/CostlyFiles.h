#pragma once
// Grass and water files whose few bytes ask for much, as a damaged or
// hostile file may: the level tests load the valley with each, the
// benchmarks time their reads.
#include "LandscapeTestFiles.h"
#include "MeadowFileWriter.h"
#include "WaterSamples.h"

#include "Core/FileArray.h"

#include <string>
#include <utility>
#include <vector>

namespace CostlyFiles {

// 300 grass layer records at their defaults (33 KB), grass layers with
// images of 8192 x 8192 texels (one, three, one layer with four), 32 water
// areas of boxes 10,000 units across and 100,000 water areas of a single
// field; each named.
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
    }
    return files;
}

}
