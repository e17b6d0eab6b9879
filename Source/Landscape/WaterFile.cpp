// The water file ".wtr": "v1.0", then single-byte tags. The header (tags 1
// to 3) holds the area records, each a tagged record (1 to 15) with a tagged
// physics block (1 to 13) inside. A tag a reader does not know carries no
// length: the next byte is read as the next tag.
//
// Every count is checked against the bytes left before anything is read or
// allocated for it: a count the data cannot hold ends the read, keeping what
// was read before it. Counts past what a level's water may take (the bounds
// in Water.h) end it too, and the area that asked goes with them.
#include "Landscape/Water.h"

#include "Landscape/LevelBlock.h"
#include "Landscape/Terrain.h"

#include "Render/SwapChain.h"

#include "Core/CrashTrace.h"
#include "Core/FileArray.h"
#include "Core/FileInterface.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace {

// A water file is a few kilobytes per area; anything far beyond is not one.
constexpr uint32_t maxWaterFileSize = 64u << 20;

enum HeaderTag : uint8_t { Spare = 1, AreaCount, AreaRecords };
enum AreaTag : uint8_t {
    Name = 1,
    SpareHead,
    Box,
    Level,
    ColourTag,
    DepthGain,
    ReflectionRange,
    ReflectionGain,
    SpareFloat,
    OutlineCount,
    OutlinePoints,
    IndexCountTag,
    Indices,
    PhysicsBlock,
    MacroSize
};
enum PhysicsTag : uint8_t {
    GridRectangle = 1,
    LightGain,
    LightBias,
    AlphaGain,
    HeightScale,
    NoiseShift,
    WaveRange,
    PatchRange,
    MacroFactor,
    CellsPerMacro,
    Shifts,
    PatchCount,
    PatchRecords
};

bool readFloats(FileInterface& stream, float* values, uint32_t count)
{
    return stream.read(values, count * sizeof(float)) == count * sizeof(float);
}

// count records of size bytes each fit in what is left.
bool fits(FileInterface& stream, uint64_t count, uint64_t size) { return count * size <= stream.remaining(); }

void writeTag(FileInterface& stream, uint8_t tag) { stream.writeValue(tag); }

bool finite(const float* values, int count)
{
    for (int i = 0; i < count; ++i)
        if (!std::isfinite(values[i]))
            return false;
    return true;
}

// The macros a patch of cellCount macro cells builds.
uint64_t macrosOf(uint64_t cellCount)
{
    const int32_t byDefault = gWater.defaultMacroCount;
    return cellCount ? cellCount : byDefault > 0 ? uint64_t(byDefault) : 0;
}

}

uint64_t WaterPhysics::patchBytes(uint32_t cellCount)
{
    return sizeof(Patch) + uint64_t(cellCount) * sizeof(intvec2d) + macrosOf(cellCount) * sizeof(Macro);
}

uint64_t WaterPhysics::patchBytes() const
{
    uint64_t bytes = 0;
    for (auto* node = patches.head(); node; node = node->next)
        bytes += patchBytes(uint32_t(node->item->cells.count()));
    return bytes;
}

uint64_t WaterPhysics::macroCells() const
{
    if (!valid())
        return 0;
    uint64_t macros = 0;
    for (auto* node = patches.head(); node; node = node->next)
        macros += macrosOf(uint64_t(node->item->cells.count()));
    return macros * uint64_t(n * n);
}

bool WaterPhysics::read(FileInterface& stream, bool* pastBound)
{
    uint32_t patchCount = 0;
    return LevelBlock::read<uint8_t>(stream, [&](uint8_t tag) {
        switch (tag) {
        case GridRectangle: {
            float values[8];
            if (!readFloats(stream, values, 8))
                return false;
            for (int i = 0; i < 4; ++i)
                spare[i] = values[i];
            gridMinimumX = values[4];
            gridMinimumZ = values[5];
            gridMaximumX = values[6];
            gridMaximumZ = values[7];
            return true;
        }
        case LightGain: return stream.readValue(lightGain);
        case LightBias: return stream.readValue(lightBias);
        case AlphaGain: return stream.readValue(alphaGain);
        case HeightScale: return stream.readValue(heightScale);
        case NoiseShift: return stream.readValue(noiseShift);
        case WaveRange: return stream.readValue(waveRange);
        case PatchRange: return stream.readValue(patchRange);
        case MacroFactor: return stream.readValue(macroFactor);
        case CellsPerMacro: return stream.readValue(n);
        case Shifts: return stream.read(shifts, sizeof(shifts)) == sizeof(shifts);
        case PatchCount: return stream.readValue(patchCount) && fits(stream, patchCount, 20);
        case PatchRecords: {
            // A record of 20 bytes can ask for 256 macros: the records count
            // by what they may build, and past the bound the block ends.
            uint64_t bytes = patchBytes();
            for (uint32_t p = 0; p < patchCount; ++p) {
                float rectangle[4];
                uint32_t cellCount = 0;
                if (!readFloats(stream, rectangle, 4) || !stream.readValue(cellCount) ||
                    !fits(stream, cellCount, sizeof(intvec2d)))
                    return false;
                bytes += patchBytes(cellCount);
                if (bytes > Water::maxBytes) {
                    if (pastBound)
                        *pastBound = true;
                    return false;
                }
                Patch* patch = new (std::nothrow) Patch;
                if (!patch || !patch->cells.resize(int32_t(cellCount))) {
                    delete patch;
                    return false;
                }
                patch->minimum = {rectangle[0], rectangle[1]};
                patch->maximum = {rectangle[2], rectangle[3]};
                if (cellCount && stream.read(patch->cells.data(), cellCount * 8) != cellCount * 8) {
                    delete patch;
                    return false;
                }
                patches.append(patch);
            }
            return true;
        }
        default: return true;
        }
    });
}

void WaterPhysics::write(FileInterface& stream)
{
    writeTag(stream, GridRectangle);
    const float values[8] = {spare[0],     spare[1],     spare[2],     spare[3],
                             gridMinimumX, gridMinimumZ, gridMaximumX, gridMaximumZ};
    stream.write(values, sizeof(values));
    writeTag(stream, LightGain);
    stream.writeValue(lightGain);
    writeTag(stream, LightBias);
    stream.writeValue(lightBias);
    writeTag(stream, AlphaGain);
    stream.writeValue(alphaGain);
    writeTag(stream, HeightScale);
    stream.writeValue(heightScale);
    writeTag(stream, NoiseShift);
    stream.writeValue(noiseShift);
    writeTag(stream, WaveRange);
    stream.writeValue(waveRange);
    writeTag(stream, PatchRange);
    stream.writeValue(patchRange);
    writeTag(stream, MacroFactor);
    stream.writeValue(macroFactor);
    writeTag(stream, CellsPerMacro);
    stream.writeValue(n);
    writeTag(stream, Shifts);
    stream.write(shifts, sizeof(shifts));
    writeTag(stream, PatchCount);
    stream.writeValue(uint32_t(patches.count()));
    writeTag(stream, PatchRecords);
    for (auto* node = patches.head(); node; node = node->next) {
        Patch& patch = *node->item;
        const float rectangle[4] = {patch.minimum.x, patch.minimum.y, patch.maximum.x, patch.maximum.y};
        stream.write(rectangle, sizeof(rectangle));
        const uint32_t cellCount = uint32_t(patch.cells.count());
        stream.writeValue(cellCount);
        stream.write(patch.cells.data(), cellCount * 8);
    }
    writeTag(stream, 0);
}

bool WaterArea::read(FileInterface& stream, bool* fieldsRead)
{
    CRASH_TRACE();
    bool anyField = false;
    const bool whole = LevelBlock::read<uint8_t>(stream, [&](uint8_t tag) {
        anyField = true;
        switch (tag) {
        case Name:
            stream.readString(name);
            return true;
        case SpareHead: return readFloats(stream, spareHead, 2);
        case Box: return readFloats(stream, &box.center.x, 11);
        case Level: return stream.readValue(level);
        case ColourTag: return stream.readValue(colour);
        case DepthGain: return stream.readValue(depthGain);
        case ReflectionRange: return stream.readValue(reflectionRange);
        case ReflectionGain: return stream.readValue(reflectionGain);
        case SpareFloat: return stream.readValue(spare);
        case OutlineCount: {
            uint32_t count = 0;
            if (!stream.readValue(count) || !fits(stream, count, sizeof(vec2d)))
                return false;
            // Each point is a vertex of the flat surface too.
            if (uint64_t(count) * (sizeof(vec2d) + sizeof(SurfaceVertex)) > Water::maxBytes) {
                pastBound = true;
                return false;
            }
            outlineCount = int32_t(count);
            return true;
        }
        case OutlinePoints:
            if (!fits(stream, uint32_t(outlineCount), sizeof(vec2d)) ||
                !outline.reserve(uint32_t(outlineCount))) {
                outlineCount = 0;
                return false;
            }
            if (stream.read(outline.data(), uint32_t(outlineCount) * 8) != uint32_t(outlineCount) * 8)
                return false;
            return true;
        case IndexCountTag: {
            uint32_t count = 0;
            if (!stream.readValue(count) || !fits(stream, count, sizeof(uint16_t)))
                return false;
            // The point test walks every triangle.
            if (count / 3 > Water::maxTriangles) {
                pastBound = true;
                return false;
            }
            indexCount = int32_t(count);
            return true;
        }
        case Indices:
            if (indexCount == 0)
                return true;
            if (!fits(stream, uint32_t(indexCount), 2) || !triangles.reserve(uint32_t(indexCount))) {
                indexCount = 0;
                return false;
            }
            return stream.read(triangles.data(), uint32_t(indexCount) * 2) == uint32_t(indexCount) * 2;
        case PhysicsBlock: return physics.read(stream, &pastBound);
        case MacroSize: return stream.readValue(macroSize);
        default: return true;
        }
    });
    // Counts that came without their data, or points a triangle cannot have.
    if (outlineCount > outline.count())
        outlineCount = 0;
    if (indexCount > triangles.count())
        indexCount = 0;
    for (int32_t i = 0; i < indexCount; ++i)
        if (*triangles.at(i) >= outlineCount) {
            indexCount = 0;
            break;
        }
    if (fieldsRead)
        *fieldsRead = anyField;
    if (anyField && macroSize == 0.0f && terrain)
        macroSize = float(terrain->size) * terrain->horizontalScale;
    return whole;
}

bool WaterArea::usable() const
{
    const float gains[4] = {level, depthGain, reflectionRange, reflectionGain};
    return finite(&box.center.x, 11) && finite(gains, 4);
}

void WaterArea::write(FileInterface& stream)
{
    writeTag(stream, Name);
    stream.writeString(name);
    writeTag(stream, SpareHead);
    stream.write(spareHead, sizeof(spareHead));
    writeTag(stream, Box);
    stream.write(&box.center.x, 11 * sizeof(float));
    writeTag(stream, Level);
    stream.writeValue(level);
    writeTag(stream, ColourTag);
    stream.writeValue(colour);
    writeTag(stream, DepthGain);
    stream.writeValue(depthGain);
    writeTag(stream, ReflectionRange);
    stream.writeValue(reflectionRange);
    writeTag(stream, ReflectionGain);
    stream.writeValue(reflectionGain);
    writeTag(stream, SpareFloat);
    stream.writeValue(spare);
    writeTag(stream, OutlineCount);
    stream.writeValue(uint32_t(outlineCount));
    writeTag(stream, OutlinePoints);
    stream.write(outline.data(), uint32_t(outlineCount) * 8);
    writeTag(stream, IndexCountTag);
    stream.writeValue(uint32_t(indexCount));
    writeTag(stream, Indices);
    if (indexCount)
        stream.write(triangles.data(), uint32_t(indexCount) * 2);
    writeTag(stream, PhysicsBlock);
    physics.write(stream);
    writeTag(stream, MacroSize);
    stream.writeValue(macroSize);
    writeTag(stream, 0);
}

bool Water::load(D3D::Device::SwapChain* swapChain, const String& path)
{
    CRASH_TRACE();
    done = 0.0f;
    FileInterface* file = path.length() > 0 ? openFile(path, 0, 1, 1) : nullptr;
    FileArray bytes;
    const bool opened = file && file->isOpen && file->size() <= maxWaterFileSize && bytes.loadFrom(*file);
    if (file)
        file->close();
    if (opened)
        return read(swapChain, bytes);
    // A level without water has its water loaded all the same: the loading
    // bar still reaches its end.
    if (swapChain)
        swapChain->advanceLoadProcess(*this, 1.0f);
    return false;
}

bool Water::read(D3D::Device::SwapChain* swapChain, FileInterface& stream)
{
    CRASH_TRACE();
    stream.seek(4, 0);
    deleteAreas(dormant);
    scanCursor = nullptr;
    int32_t count = 0;
    uint32_t records = 0, triangles = 0;
    uint64_t bytes = 0, macroCells = 0;
    const bool readToEnd = LevelBlock::readWhole<uint8_t>(stream, [&](uint8_t tag) {
        switch (tag) {
        case Spare: {
            const uint32_t skip = stream.remaining() < 4 ? stream.remaining() : 4;
            stream.seek(int32_t(skip), 1);
            return true;
        }
        case AreaCount: return stream.readValue(count);
        case AreaRecords:
            // The count is only a promise: the records end with the data,
            // and a record that holds no field at all (the header's own tag
            // 0 read where a record was promised) is no area.
            for (int32_t i = 0; i < count; ++i) {
                Area* area = new (std::nothrow) Area(&gTerrain);
                if (!area)
                    return false;
                bool fieldsRead = false;
                const bool whole = area->read(stream, &fieldsRead);
                if (!fieldsRead) {
                    delete area;
                    if (!whole)
                        return false;
                    // The tag 0 just read was the header's own end.
                    stream.seek(-1, 1);
                    return true;
                }
                // Past what a level's water may cost the file ends, keeping
                // the areas before. Every record counts, also one dropped
                // for a field that is not a number.
                if (++records > maxAreas || area->pastBound) {
                    delete area;
                    return false;
                }
                if (area->usable()) {
                    bytes += area->cost();
                    triangles += uint32_t(area->indexCount / 3);
                    macroCells += area->physics.macroCells();
                    if (bytes > maxBytes || triangles > maxTriangles || macroCells > maxMacroCells ||
                        !dormant.append(area)) {
                        delete area;
                        return false;
                    }
                    area->fileOrder = uint32_t(i);
                    area->buildAlphaTexture();
                } else
                    delete area;
                if (swapChain)
                    swapChain->advanceLoadProcess(*this, float(i) / float(count));
                if (!whole)
                    return false;
            }
            return true;
        default: return true;
        }
    });
    if (swapChain)
        swapChain->advanceLoadProcess(*this, 1.0f);
    return readToEnd;
}

void Water::write(FileInterface& stream) const
{
    stream.write(versionMark, sizeof(versionMark));
    writeTag(stream, Spare);
    stream.writeValue(0.0f);
    // The areas in the order of the file they came from, whichever the
    // camera has woken: a level saved unchanged gives back its file.
    std::vector<Area*> saved;
    for (const AreaList* list : {&dormant, &live})
        for (auto* node = list->head(); node; node = node->next)
            if (node->item && node->item->saveFlag)
                saved.push_back(node->item);
    std::stable_sort(saved.begin(), saved.end(),
                     [](const Area* a, const Area* b) { return a->fileOrder < b->fileOrder; });
    writeTag(stream, AreaCount);
    stream.writeValue(uint32_t(saved.size()));
    writeTag(stream, AreaRecords);
    for (Area* area : saved)
        area->write(stream);
    writeTag(stream, 0);
}

bool Water::save(const String& path) const
{
    CRASH_TRACE();
    FileArray bytes(256);
    write(bytes);
    return FileInterface::replaceFile(bytes, path);
}
