#include "Objects/PackageLight.h"

#include "Objects/PackageFields.h"

#include "Core/FileArray.h"
#include "Core/FileInterface.h"

#include <windows.h>
#include <d3d9.h>

namespace {

constexpr float maxValue = 1.0e6f;

}

ObjPkgManager::Light::Light(FileFinder* owner, const TextureRef* lightTexture) : LightProj(2.0f), package(owner)
{
    if (lightTexture)
        setTexture(lightTexture);
    update();
}

bool ObjPkgManager::Light::load(FileInterface& stream)
{
    using namespace PackageFields;
    return readBlock(stream, [&](uint32_t tag) {
        switch (tag) {
        case 1: return readVector(stream, position, maxCoordinate);
        case 2: return readVector(stream, rotation, maxAngle);
        case 3: return readFloat(stream, range, maxValue);
        case 4: return stream.readValue(colour);
        case 5: return readFloat(stream, intensity, maxValue);
        case 6: return readFloat(stream, coneAngle, maxValue);
        case 7: return stream.readValue(value7);
        case 8: {
            String name;
            if (!readText(stream, name))
                return false;
            loadTexture(name);
            return true;
        }
        case 9: return stream.readValue(value9);
        case 10: return stream.readValue(kind);
        case 11: return readFloat(stream, value11, maxValue);
        case 12: return stream.readValue(flag);
        case 13: return stream.readValue(value13);
        default: return true; // later tags carry no field
        }
    });
}

void ObjPkgManager::Light::loadTexture(const String& name)
{
    if (!package || name.length() == 0)
        return;
    FileArray* file = package->findFile(name);
    if (!file)
        return;
    constexpr uint32_t fromFile = 0xFFFFFFFFu;
    Texture::loadFromMemory(*file, nullptr, texture, name, fromFile, fromFile, 1, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED,
                            fromFile);
}

void ObjPkgManager::Light::setTexture(const TextureRef* lightTexture)
{
    texture.release();
    if (lightTexture && lightTexture->isBound())
        texture.bind(lightTexture->texture());
    value7 = 0;
}

void ObjPkgManager::Light::update()
{
    transform = matrix3d::fromAngles(rotation);
    transform.setRow(3, position);
    // Switched on or off by the values in force now, so an edit that mends
    // them brings the light back.
    disabled = 0;
    if (kind > 1) {
        disabled = 1;
        return;
    }
    // The receivers' falloff reads the reciprocal; a range the projection
    // refuses switches it off below.
    if (range > 0.0f)
        inverseRange = 1.0f / range;
    LightProj::update();
    computeCorners();
}

void ObjPkgManager::Light::computeCorners()
{
    if (volume.count < 6)
        return;
    const ConvexVolume::Plane& a = volume.planes[0];
    for (int i = 0; i < 4; ++i) {
        const ConvexVolume::Plane& b = volume.planes[2 + i];
        const ConvexVolume::Plane& c = volume.planes[2 + (i + 1) % 4];
        const vec3d bc = b.normal.cross(c.normal);
        const float determinant = a.normal.dot(bc);
        if (determinant == 0.0f) {
            corners[i] = bc;
            continue;
        }
        corners[i] = (bc * a.distance + c.normal.cross(a.normal) * b.distance + a.normal.cross(b.normal) * c.distance) /
                     determinant;
    }
}
