// The opponent's path around static objects: the objects near the path are
// gathered once per build, the curve is tested with boxes as large as the
// quad (wider the faster it goes), a blocked segment gets a bypass point
// beside the obstacle, and bypasses the curve turns out not to need go again.
#include "Race/AIPath.h"

#include "Objects/DynObject.h"
#include "Objects/ObjectPackage.h"
#include "Objects/PackageMesh.h"

#include "Entity/StaticEntity.h"
#include "Entity/StaticEntityManager.h"
#include "Landscape/Terrain.h"

#include <algorithm>
#include <cmath>

namespace {

using Path = ObjPkgManager::Functions::Path;

// How far the side search looks: this many steps of the quad's half width.
constexpr int sideSteps = 20;
// The path's box reaches this far beyond its first and last point.
constexpr float pathMargin = 100.0f;

void putOnGround(vec3d& p)
{
    p.y = gTerrain.getHeight(p.x, p.z, 3) + Path::lift;
}

// Objects the path never avoids: vehicles (they move) and pick-ups (they
// are driven through).
bool passedOver(const ObjPkgManager::Package& package)
{
    return package.functions.quadPhysics != nullptr || package.functions.collect != nullptr;
}

}

OrientedBox Path::boxBetween(const vec3d& a, const vec3d& b, const vec3d& extents)
{
    OrientedBox box{};
    box.center = (a + b) * 0.5f;
    vec3d forward = (a - b).normalised();
    if (forward.lengthSq() == 0.0f)
        forward = vec3d(0.0f, 0.0f, 1.0f);
    vec3d side = vec3d(forward.z, 0.0f, -forward.x).normalised();
    if (side.lengthSq() == 0.0f)
        side = vec3d(1.0f, 0.0f, 0.0f);
    box.axes[0] = side;
    box.axes[1] = side.cross(forward).normalised();
    box.axes[2] = forward;
    box.halfExtents = vec3d(extents.x, extents.y, (a - b).length() * 0.5f + extents.z);
    return box;
}

StaticEntityManager* Path::statics() const
{
    if (staticsOverride)
        return staticsOverride;
    const ::Object* placed = object ? object->object : nullptr;
    if (placed && placed->placedIn)
        return placed->placedIn;
    return object && object->package ? object->package->manager() : nullptr;
}

void Path::collectObstacles()
{
    obstacleCount = 0;
    if (count < 2)
        return;
    StaticEntityManager* manager = statics();
    if (!manager)
        return;
    const OrientedBox pathBox =
        boxBetween(points[0].position, points[count - 1].position, vec3d(pathMargin, pathMargin, pathMargin));
    SCList<StaticEntity> nearby;
    manager->collectTouchingBox(pathBox, nearby);
    for (auto* node = nearby.head(); node; node = node->next) {
        const StaticEntity& entity = *node->item;
        const auto* package = dynamic_cast<const ObjPkgManager::Package*>(entity.getObject());
        if (!package || passedOver(*package) || entity.state == StaticEntity::instanceFlagged)
            continue;
        if (entity.getPosition() == targetPoint)
            continue;
        Object* obstacle = obstacles.at(obstacleCount);
        if (!obstacle)
            break;
        obstacle->count = 0;
        matrix3d placement = matrix3d::identity();
        entity.getTransform(placement, false);
        for (auto* meshNode = package->meshes.head(); meshNode; meshNode = meshNode->next) {
            ObjPkgManager::Mesh& mesh = *meshNode->item;
            const MeshTools::BinaryTiangleTree* tree = mesh.getTriangleTree();
            if (!tree)
                continue;
            // Parts beyond the record's room are left out.
            if (obstacle->count >= maxParts)
                break;
            Object::Part& part = obstacle->parts[obstacle->count];
            part.world = mesh.world * placement;
            part.box = mesh.localBox.carried(part.world);
            // The box's own radius, for a quick miss before the axis tests.
            part.box.radiusSq = part.box.halfExtents.lengthSq();
            part.box.radius = std::sqrt(part.box.radiusSq);
            part.tree = tree;
            if (OrientedBox::overlaps(part.box, pathBox))
                ++obstacle->count;
        }
        if (obstacle->count > 0)
            ++obstacleCount;
    }
}

bool Path::boxBlocked(const OrientedBox& box) const
{
    const float boxRadius = box.halfExtents.length();
    const Object* all = obstacles.data();
    for (int32_t i = 0; i < obstacleCount; ++i) {
        const Object& obstacle = all[i];
        for (int32_t k = 0; k < obstacle.count; ++k) {
            const Object::Part& part = obstacle.parts[k];
            // The parts' spheres, then their boxes: most parts lie far from
            // the test box.
            const float reach = part.box.radius + boxRadius;
            if ((part.box.center - box.center).lengthSq() > reach * reach)
                continue;
            if (!OrientedBox::overlaps(part.box, box))
                continue;
            if (part.tree && part.tree->intersectsBox(part.world, box))
                return true;
        }
    }
    return false;
}

void Path::testExtents(vec3d& extents, float& step) const
{
    extents = vec3d(1.0f, 1.0f, 1.0f);
    float speed = 0.0f;
    if (object) {
        const OrientedBox& own = object->worldBox;
        for (int k = 0; k < 3; ++k)
            extents[k] = own.halfExtents[k] * own.axes[k].length();
        speed = object->getSpeed();
    }
    const float s = std::clamp(0.8f * speed, 0.0f, 1.0f);
    step = extents.x;
    extents.x *= (1.0f - s) + 2.5f * s;
}

bool Path::testSegment(const Curve& curve, vec3d* first, vec3d* second) const
{
    if (obstacleCount == 0)
        return false;
    vec3d extents;
    float step = 0.0f;
    testExtents(extents, step);
    const float along = std::max(2.0f * extents.z, 1e-3f);
    const int32_t n = std::clamp(int32_t((curve.p0 - curve.p3).length() / along), 1, 255);
    vec3d previous = curve.at(0.0f);
    putOnGround(previous);
    bool blocked = false;
    OrientedBox box{};
    for (int32_t j = 1; j <= n && !blocked; ++j) {
        vec3d sample = curve.at(float(j) / float(n));
        putOnGround(sample);
        box = boxBetween(previous, sample, extents);
        blocked = boxBlocked(box);
        previous = sample;
    }
    if (!blocked)
        return false;
    if (!first && !second)
        return true;

    // Free ground on both sides of the blocked place, the nearer first.
    const vec3d side(box.axes[0].x, 0.0f, box.axes[0].z);
    OrientedBox left = box, right = box;
    bool leftFree = false, rightFree = false;
    int found = 0;
    vec3d sides[2];
    for (int i = 0; i < sideSteps && found < 2; ++i) {
        if (!leftFree) {
            left.center = left.center - side * step;
            putOnGround(left.center);
            if (!boxBlocked(left)) {
                leftFree = true;
                sides[found++] = left.center;
            }
        }
        if (!rightFree) {
            right.center = right.center + side * step;
            putOnGround(right.center);
            if (!boxBlocked(right)) {
                rightFree = true;
                sides[found++] = right.center;
            }
        }
    }
    if (found < 2)
        return false;
    if (first)
        *first = sides[0];
    if (second)
        *second = sides[1];
    return true;
}

int32_t Path::firstBlockedSegment(int32_t from, vec3d* first, vec3d* second) const
{
    for (int32_t i = std::max(0, std::min(from, count - 1)); i < count - 1; ++i)
        if (testSegment(segmentControlPoints(i), first, second))
            return i;
    return -1;
}

void Path::avoidObstacles()
{
    collectObstacles();
    if (obstacleCount == 0)
        return;
    int32_t from = 0;
    for (int pass = 0; pass < maxBypasses; ++pass) {
        vec3d first, second;
        const int32_t i = firstBlockedSegment(from, &first, &second);
        if (i < 0 || !insertPoint(i + 1, first))
            break;
        if (testSegment(segmentControlPoints(i), nullptr, nullptr))
            points[i + 1].position = second;
        from = i;
    }
}

void Path::smooth()
{
    for (int32_t k = count - 3; k >= 1; --k) {
        if (points[k].type != Intermediate || points[k + 1].type != Intermediate)
            continue;
        const vec3d& next = k + 2 < count ? points[k + 2].position : points[k + 1].position;
        const Curve skipped =
            curveBetween(k >= 2 ? &points[k - 2].position : nullptr, points[k - 1].position, points[k + 1].position, next);
        if (!testSegment(skipped, nullptr, nullptr))
            removePoint(k);
    }
}
