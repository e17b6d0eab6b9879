#include "WaterSamples.h"

#include <cmath>

namespace {

// An ellipse of count points, counter-clockwise (x to the right, z up), as
// a fan of triangles from its first point.
void ellipse(WaterFileWriter::Area& area, float x, float z, float rx, float rz, int count)
{
    for (int i = 0; i < count; ++i) {
        const float a = 6.2831853f * float(i) / float(count);
        area.outline.push_back({x + rx * std::cos(a), z + rz * std::sin(a)});
    }
    for (int i = 1; i + 1 < count; ++i)
        area.indices.insert(area.indices.end(), {0, uint16_t(i), uint16_t(i + 1)});
}

}

namespace WaterSamples {

WaterFileWriter::Area lake(const wchar_t* name, float x, float z, float rx, float rz, float level, float depth)
{
    WaterFileWriter::Area area;
    area.name = String(name);
    area.level = level;
    area.colour[0] = 70; // blue, green, red, the deepest alpha
    area.colour[1] = 60;
    area.colour[2] = 20;
    area.colour[3] = 230;
    area.depthGain = 70.0f;
    area.reflectionRange = 500.0f * 500.0f; // the hills show in it from across the valley
    area.macroSize = 16.0f;
    ellipse(area, x, z, rx, rz, 40);
    area.boxAroundOutline(depth);
    return area;
}

}

namespace {

// The pond: 62 units across in the northern dip, waves within 250 units,
// one patch of 8 x 8 macros of 8 x 8 cells. The grid (and the box, from which
// the macros count their cells) reaches a macro beyond the patch towards +x
// and on both z sides, so every macro of the patch lies inside it.
WaterFileWriter::Area pond()
{
    WaterFileWriter::Area area;
    area.name = String(L"Pond");
    area.level = 36.5f;
    area.colour[0] = 80;
    area.colour[1] = 70;
    area.colour[2] = 30;
    area.colour[3] = 220;
    area.depthGain = 80.0f;
    area.macroSize = 8.0f;
    ellipse(area, -200.0f, 800.0f, 31.0f, 31.0f, 24);
    area.setBox(-232.0f, 760.0f, -160.0f, 840.0f, 12.0f);
    WaterFileWriter::Waves& w = area.waves;
    w.grid[0] = -232.0f;
    w.grid[1] = 760.0f;
    w.grid[2] = -160.0f;
    w.grid[3] = 840.0f;
    // Slopes light the ripples strongly, so that they show against the sky.
    w.lightGain = 0.01f;
    w.lightBias = 10.0f;
    w.alphaGain = 0.6f;
    w.waveRange = 250.0f * 250.0f;
    w.patchRange = 200.0f * 200.0f;
    w.macroFactor = 1.0f / (120.0f * 120.0f);
    w.cellsPerMacro = 8;
    WaterFileWriter::Patch patch;
    patch.minimum[0] = -232.0f;
    patch.minimum[1] = 768.0f;
    patch.maximum[0] = -168.0f;
    patch.maximum[1] = 832.0f;
    for (int32_t row = 0; row < 8; ++row)
        for (int32_t column = 0; column < 8; ++column)
            patch.cells.insert(patch.cells.end(), {column, row});
    w.patches.push_back(patch);
    return area;
}

}

namespace WaterSamples {

// The valley's lake: the floor dips to 36 around (-190, -410); water stands at 47.
std::vector<WaterFileWriter::Area> valley()
{
    return {lake(L"Lake", -190.0f, -410.0f, 230.0f, 210.0f, 47.0f, 16.0f), pond()};
}

bool save(const String& root) { return WaterFileWriter::save(valley(), root + L"Data\\Map\\Valley.wtr"); }

}
