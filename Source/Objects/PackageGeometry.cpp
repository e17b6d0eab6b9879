#include "Objects/PackageGeometry.h"

#include "Objects/PackageFields.h"

#include "Core/BoundingBox.h"
#include "Core/FileInterface.h"

#include <algorithm>
#include <cmath>

ObjPkgManager::Geometry::Geometry(EntityManager::CollisionBody* body, Mesh* owner) : mesh(owner)
{
    if (body)
        bodyGeometry = body->addGeometry(this);
}

ObjPkgManager::Geometry::~Geometry()
{
    if (bodyGeometry && bodyGeometry->first == this) {
        bodyGeometry->first = nullptr;
        bodyGeometry->second = nullptr;
    }
}

bool ObjPkgManager::Geometry::load(FileInterface& stream)
{
    using namespace PackageFields;
    return readBlock(stream, [&](uint32_t tag) {
        switch (tag) {
        case 1: return readVector(stream, position, maxCoordinate);
        case 2: return readVector(stream, size, maxFactor);
        case 3: return readVector(stream, rotation, maxAngle);
        case 4: return stream.readValue(kind);
        default: return true; // later tags carry no field
        }
    });
}

void ObjPkgManager::Geometry::update(const OrientedBox& meshWorldBox)
{
    if (!bodyGeometry || kind > sphere)
        return;
    const vec3d& c = meshWorldBox.center;
    vec3d extent;
    for (int j = 0; j < 3; ++j)
        for (int i = 0; i < 3; ++i)
            extent[j] += std::fabs(meshWorldBox.axes[i][j]) * meshWorldBox.halfExtents[i];
    BoundingBox bounds;
    bounds.center = c;
    if (kind == box) {
        bounds.minimum = c - extent;
        bounds.maximum = c + extent;
        bodyGeometry->setBox(bounds);
    } else {
        // The record's sphere takes the largest extent of what it is given,
        // this one the smallest: it is handed a cube of that side.
        const float half = std::min(extent.x, std::min(extent.y, extent.z));
        bounds.minimum = c - vec3d(half, half, half);
        bounds.maximum = c + vec3d(half, half, half);
        bodyGeometry->setSphere(bounds);
    }
    fitted_.position = bodyGeometry->position;
    fitted_.size = bodyGeometry->size;
    fitted_.diameter = bodyGeometry->diameter;
    if (!hasFitted_)
        fitted_.angles = bodyGeometry->angles;
    hasFitted_ = true;
}

void ObjPkgManager::Geometry::adjustShape(int32_t type, float (&parameters)[13])
{
    if (!hasFitted_) {
        fitted_.position = {parameters[0], parameters[1], parameters[2]};
        fitted_.angles = {parameters[3], parameters[4], parameters[5]};
        fitted_.size = {parameters[6], parameters[7], parameters[8]};
        fitted_.diameter = parameters[9];
        hasFitted_ = true;
    }
    // The package's object scale takes no part (a factor of 1): the placed
    // object's scale is applied by the body's second interface instead.
    vec3d sizes = fitted_.size;
    float diameter = fitted_.diameter;
    if (type == BodyGeometry::box)
        for (int i = 0; i < 3; ++i)
            sizes[i] = size[i] * sizes[i];
    else if (type == BodyGeometry::sphere)
        diameter = size.x * diameter;
    const vec3d p = fitted_.position + position;
    const vec3d r = fitted_.angles + rotation;
    const float values[10] = {p.x, p.y, p.z, r.x, r.y, r.z, sizes.x, sizes.y, sizes.z, diameter};
    std::copy(std::begin(values), std::end(values), parameters);
}

void ObjPkgManager::Geometry::attachTo(EntityManager::CollisionBody& body, const OrientedBox& meshWorldBox,
                                       EntityManager::CollisionBody::Geometry::Interface* second)
{
    BodyGeometry* record = body.addGeometry(this, second);
    if (!record)
        return;
    bodyGeometry = record;
    update(meshWorldBox);
}

uint32_t ObjPkgManager::Geometry::scalableAxes() const
{
    if (!bodyGeometry)
        return 0;
    return kind == box ? 7 : kind == sphere ? 1 : 0;
}

const OrientedBox& ObjPkgManager::Geometry::getWorldBox()
{
    if (bodyGeometry)
        bodyGeometry->fillShapeDesc(worldBox);
    return worldBox;
}
