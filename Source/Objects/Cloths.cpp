#include "Objects/Cloths.h"

#include "Objects/DynObject.h"
#include "Objects/ObjectPackage.h"
#include "Objects/PackageFields.h"

#include "Core/CrashTrace.h"
#include "Core/FileInterface.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <new>

namespace {

using Cloths = ObjPkgManager::Functions::Cloths;

int32_t gridWithin(int32_t value)
{
    return std::clamp(value, Cloths::minGrid, Cloths::maxGrid);
}

bool readPoint(FileInterface& stream, Cloths::GridPoint& point)
{
    int32_t values[2] = {};
    if (!stream.readValue(values[0]) || !stream.readValue(values[1]))
        return false;
    point = {values[0], values[1]};
    return true;
}

ThreadManager* managerOf(ObjPkgManager::Functions::Record* record)
{
    if (!record || !record->package || !record->package->owner)
        return nullptr;
    return &record->package->owner->threads;
}

}

ObjPkgManager::Functions::Cloths::Cloths(Record* owner) : BaseFunction(owner), threads(managerOf(owner))
{
    for (int32_t dc = 0; dc < 5; ++dc)
        for (int32_t dr = 0; dr < 5; ++dr) {
            Spring& spring = rest[dc * 5 + dr];
            spring.restLength = std::sqrt(float(dc * dc + dr * dr));
            spring.stiffness = spring.restLength > 0.0f ? 0.093f / spring.restLength : 0.0f;
        }
    for (Color& swatch : swatches)
        swatch = Color(127, 127, 127, 255);
    material = {};
    material.Diffuse = {1.0f, 1.0f, 1.0f, 1.0f};
    material.Ambient = {0.6f, 0.6f, 0.6f, 1.0f};
    material.Specular = {1.0f, 1.0f, 1.0f, 1.0f};
    material.Emissive = {0.0f, 0.0f, 0.0f, 0.0f};
    material.Power = specularPower;
    updateCounts();
    startWorker();
}

void ObjPkgManager::Functions::Cloths::startWorker()
{
    // A running worker may be held by an attach of this frame: writing 1 over
    // its 3 would leave it waiting for a resume that never comes, and the
    // next hold waiting for it for ever. The camera step resumes it.
    if (!threads || threads->thread.isRunning())
        return;
    threads->state.store(ThreadManager::stateRunning, std::memory_order_release);
    threads->thread.start();
}

void ObjPkgManager::Functions::Cloths::updateCounts()
{
    triangleCount = 4 * (rows - 1) * (columns - 1);
    vertexCount = 2 * columns * rows;
}

bool ObjPkgManager::Functions::Cloths::load(FileInterface& stream)
{
    CRASH_TRACE();
    // Without a grid size the smallest grid: a 0 x 0 grid has no cell.
    int32_t readColumns = minGrid, readRows = minGrid;
    float readScale = scale.x;
    const bool whole = PackageFields::readBlock(stream, [&](uint32_t tag) {
        switch (tag) {
        case 1: {
            int32_t size[2] = {};
            if (!stream.readValue(size[0]) || !stream.readValue(size[1]))
                return false;
            readColumns = size[0];
            readRows = size[1];
            return true;
        }
        case 2: return readPoint(stream, pinA);
        case 3: return readPoint(stream, pinB);
        case 4: return stream.readValue(pinLine);
        case 5: return PackageFields::readFloat(stream, windAngle, PackageFields::maxAngle);
        case 6: return PackageFields::readFloat(stream, windStrength, PackageFields::maxFactor);
        case 7: return stream.readValue(windFromMotion);
        case 8: return PackageFields::readFloat(stream, damping, PackageFields::maxFactor);
        case 9: return stream.readValue(plane);
        case 10: {
            // The material as a whole, or not at all.
            std::array<float, 17> values{};
            if (!stream.readValue(values))
                return false;
            if (std::all_of(values.begin(), values.end(),
                            [](float v) { return PackageFields::within(v, PackageFields::maxFactor); }))
                std::memcpy(&material, values.data(), sizeof(material));
            return true;
        }
        case 11: return PackageFields::readText(stream, textureName);
        case 12: return FileInterface::copyBlockTo(stream, image);
        case 13: return PackageFields::readVector(stream, position, PackageFields::maxCoordinate);
        case 14: return PackageFields::readVector(stream, angles, PackageFields::maxAngle);
        case 15: return PackageFields::readFloat(stream, readScale, PackageFields::maxFactor);
        case 16: return readPoint(stream, pinC);
        case 17: return readPoint(stream, pinD);
        case 18: return PackageFields::readFloat(stream, gravity, PackageFields::maxFactor);
        default: return true;
        }
    });
    specularPower = material.Power;
    scale = {readScale, readScale, readScale};
    updateTransform();
    setGridSize(readColumns, readRows);
    return whole;
}

void ObjPkgManager::Functions::Cloths::setGridSize(int32_t newColumns, int32_t newRows)
{
    columns = gridWithin(newColumns);
    rows = gridWithin(newRows);
    updateCounts();
    rebuildEdited();
}

void ObjPkgManager::Functions::Cloths::rebuildEdited()
{
    if (edited)
        edited->build(false);
}

void ObjPkgManager::Functions::Cloths::applySettings()
{
    if (!edited)
        return;
    settings.scale = scale;
    for (int r = 0; r < 3; ++r) {
        const vec3d axis = placement.row(r);
        settings.axes[r] = axis.lengthSq() > 0.0f ? axis.normalised() : vec3d();
    }
    settings.position = placement.row(3);
}

ObjPkgManager::Functions::Cloths::Instance* ObjPkgManager::Functions::Cloths::createInstance(
    D3D::Device::SwapChain* chain, DynObject* owner)
{
    CRASH_TRACE();
    auto* made = new (std::nothrow) Instance(this, chain, owner);
    if (made && !made->vertices) {
        delete made;
        return nullptr;
    }
    // The editor rebuilds the cloth it placed last.
    edited = made;
    return made;
}
