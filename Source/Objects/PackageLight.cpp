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
    uint32_t tag = 0;
    bool cut = false;
    while (stream.readTag(tag, cut)) {
        bool read = true;
        switch (tag) {
        case 1: read = readVector(stream, position, maxCoordinate); break;
        case 2: read = readVector(stream, rotation, maxAngle); break;
        case 3: read = readFloat(stream, range, maxValue); break;
        case 4: read = stream.readValue(colour); break;
        case 5: read = readFloat(stream, intensity, maxValue); break;
        case 6: read = readFloat(stream, coneAngle, maxValue); break;
        case 7: read = stream.readValue(value7); break;
        case 8: {
            String name;
            if ((read = readText(stream, name)))
                loadTexture(name);
            break;
        }
        case 9: read = stream.readValue(value9); break;
        case 10: read = stream.readValue(kind); break;
        case 11: read = readFloat(stream, value11, maxValue); break;
        case 12: read = stream.readValue(flag); break;
        case 13: read = stream.readValue(value13); break;
        default: break; // later tags carry no field
        }
        if (!read)
            return false;
    }
    return !cut;
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
