#include "WaterFileWriter.h"

#include "Core/FileArray.h"

#include <algorithm>
#include <cmath>

namespace {

void tag(FileInterface& out, uint8_t t) { out.writeValue(t); }

void floats(FileInterface& out, const float* values, uint32_t count) { out.write(values, count * sizeof(float)); }

void writeWaves(FileInterface& out, const WaterFileWriter::Waves& w)
{
    tag(out, 1);
    floats(out, w.spare, 4);
    floats(out, w.grid, 4);
    tag(out, 2);
    out.writeValue(w.lightGain);
    tag(out, 3);
    out.writeValue(w.lightBias);
    tag(out, 4);
    out.writeValue(w.alphaGain);
    tag(out, 5);
    out.writeValue(w.heightScale);
    tag(out, 6);
    out.writeValue(w.noiseShift);
    tag(out, 7);
    out.writeValue(w.waveRange);
    tag(out, 8);
    out.writeValue(w.patchRange);
    tag(out, 9);
    out.writeValue(w.macroFactor);
    tag(out, 10);
    out.writeValue(w.cellsPerMacro);
    tag(out, 11);
    out.write(w.shifts, sizeof(w.shifts));
    tag(out, 12);
    out.writeValue(uint32_t(w.patches.size()));
    tag(out, 13);
    for (const WaterFileWriter::Patch& p : w.patches) {
        floats(out, p.minimum, 2);
        floats(out, p.maximum, 2);
        out.writeValue(uint32_t(p.cells.size() / 2));
        out.write(p.cells.data(), uint32_t(p.cells.size() / 2 * 2 * sizeof(int32_t)));
    }
    tag(out, 0);
}

void writeArea(FileInterface& out, const WaterFileWriter::Area& a)
{
    tag(out, 1);
    out.writeString(a.name);
    tag(out, 2);
    floats(out, a.spare, 2);
    tag(out, 3);
    floats(out, a.box, 11);
    tag(out, 4);
    out.writeValue(a.level);
    tag(out, 5);
    out.write(a.colour, 4);
    tag(out, 6);
    out.writeValue(a.depthGain);
    tag(out, 7);
    out.writeValue(a.reflectionRange);
    tag(out, 8);
    out.writeValue(a.reflectionGain);
    tag(out, 9);
    out.writeValue(a.spareFloat);
    tag(out, 10);
    out.writeValue(uint32_t(a.outline.size()));
    tag(out, 11);
    for (const WaterFileWriter::Point& p : a.outline) {
        out.writeValue(p.x);
        out.writeValue(p.z);
    }
    tag(out, 12);
    out.writeValue(uint32_t(a.indices.size()));
    tag(out, 13);
    out.write(a.indices.data(), uint32_t(a.indices.size() * sizeof(uint16_t)));
    tag(out, 14);
    writeWaves(out, a.waves);
    tag(out, 15);
    out.writeValue(a.macroSize);
    tag(out, 0);
}

}

void WaterFileWriter::Area::setBox(float minimumX, float minimumZ, float maximumX, float maximumZ, float depth)
{
    const float low[3] = {minimumX, level - depth, minimumZ}, high[3] = {maximumX, level, maximumZ};
    float radiusSq = 0.0f;
    for (int i = 0; i < 3; ++i) {
        box[i] = (low[i] + high[i]) * 0.5f;
        box[5 + i] = low[i];
        box[8 + i] = high[i];
        radiusSq += (high[i] - box[i]) * (high[i] - box[i]);
    }
    box[3] = std::sqrt(radiusSq);
    box[4] = radiusSq;
}

void WaterFileWriter::Area::boxAroundOutline(float depth)
{
    if (outline.empty())
        return;
    float low[2] = {outline[0].x, outline[0].z}, high[2] = {outline[0].x, outline[0].z};
    for (const Point& p : outline) {
        low[0] = std::min(low[0], p.x);
        high[0] = std::max(high[0], p.x);
        low[1] = std::min(low[1], p.z);
        high[1] = std::max(high[1], p.z);
    }
    setBox(low[0], low[1], high[0], high[1], depth);
}

bool WaterFileWriter::write(const std::vector<Area>& areas, FileInterface& out)
{
    static const char version[4] = {'v', '1', '.', '0'};
    out.write(version, 4);
    tag(out, 1);
    out.writeValue(0.0f);
    tag(out, 2);
    out.writeValue(uint32_t(areas.size()));
    tag(out, 3);
    for (const Area& area : areas)
        writeArea(out, area);
    tag(out, 0);
    return true;
}

bool WaterFileWriter::save(const std::vector<Area>& areas, const String& path)
{
    FileArray bytes(256);
    return write(areas, bytes) && FileInterface::saveToFile(bytes, path);
}
