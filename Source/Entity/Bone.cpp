#include "Entity/Bone.h"

#include "Entity/MeshTools.h"

#include "Core/Math.h"

#include <algorithm>
#include <cmath>
#include <new>

#include <xmmintrin.h>

namespace {

// Rows 0 to 2 of a x (rows 0 to 2 of b), all four columns: a's 3 x 3 part
// applied to b's rows.
void multiplyRows(const matrix3d& a, const matrix3d& b, matrix3d& out)
{
    // Four columns at once, added in the same order as one at a time.
    const __m128 b0 = _mm_loadu_ps(b.m), b1 = _mm_loadu_ps(b.m + 4), b2 = _mm_loadu_ps(b.m + 8);
    for (int i = 0; i < 3; ++i) {
        __m128 row = _mm_mul_ps(_mm_set1_ps(a.at(i, 0)), b0);
        row = _mm_add_ps(row, _mm_mul_ps(_mm_set1_ps(a.at(i, 1)), b1));
        row = _mm_add_ps(row, _mm_mul_ps(_mm_set1_ps(a.at(i, 2)), b2));
        _mm_storeu_ps(out.m + i * 4, row);
    }
}

// a's 3 x 3 part times b's 3 x 3 part; the rest of the identity.
matrix3d multiply3x3(const matrix3d& a, const matrix3d& b)
{
    matrix3d r = matrix3d::identity();
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            r.at(i, j) = a.at(i, 0) * b.at(0, j) + a.at(i, 1) * b.at(1, j) + a.at(i, 2) * b.at(2, j);
    return r;
}

}

vec3d Bone::eulerAngles(const matrix3d& r)
{
    constexpr double degreesPerRadian = double(57.29578f);
    const float s = r.at(1, 2);
    if (s >= -1.0f && s <= 1.0f)
        return {float(std::asin(double(s)) * degreesPerRadian),
                float(-std::atan2(double(r.at(0, 2)), double(r.at(2, 2))) * degreesPerRadian),
                float(-std::atan2(double(r.at(1, 0)), double(r.at(1, 1))) * degreesPerRadian)};
    return {90.0f * s, float(-std::atan2(double(-r.at(2, 0)), double(r.at(0, 0))) * degreesPerRadian), 0.0f};
}

namespace {

bool insideBox(const OrientedBox& box, const vec3d& p)
{
    const vec3d d = p - box.center;
    for (int k = 0; k < 3; ++k)
        if (std::fabs(d.dot(box.axes[k])) > box.halfExtents[k])
            return false;
    return true;
}

}

Joint::Joint(const vec3d& position) : matrix3d(matrix3d::identity())
{
    m[12] = position.x;
    m[13] = position.y;
    m[14] = position.z;
}

Bone::Bone(const vec3d& position, Bone* parentBone, float boneLength)
    : Joint(position), length(boneLength), parent(parentBone)
{
    updateGeometry();
}

Bone::~Bone()
{
    children.deleteAll();
}

const matrix3d& Bone::angleTurn()
{
    if (!(turnAngles_ == angles)) {
        angleTurn_ = matrix3d::fromAngles(angles);
        turnAngles_ = angles;
    }
    return angleTurn_;
}

void Bone::updateGeometry(const matrix3d* turn, bool noRecurse)
{
    matrix3d& placement = *this;
    const matrix3d& angleTurn = this->angleTurn();
    if (!parent) {
        for (int i = 0; i < 3; ++i) {
            for (int j = 0; j < 3; ++j)
                placement.at(i, j) = angleTurn.at(i, j);
            placement.at(i, 3) = 0.0f;
        }
        placement.m[15] = 1.0f;
    } else {
        if (turn) {
            multiplyRows(angleTurn, *parent, baseRotation);
            multiplyRows(multiply3x3(*turn, angleTurn), *parent, placement);
        } else {
            multiplyRows(angleTurn, *parent, placement);
        }
        placement.setRow(3, parent->tip());
    }
    skinMatrix = bindMatrix * placement;
    for (int i = 0; i < 3; ++i)
        bounds.axes[i] = MeshGeometry::unit(row(i));
    bounds.center = position() - row(1) * (0.5f * length);
    if (parent)
        for (int i = 0; i < 4; ++i)
            for (int j = 0; j < 3; ++j)
                parent->jointMatrix.at(i, j) = (parent->skinMatrix.at(i, j) + skinMatrix.at(i, j)) * 0.5f;
    if (!noRecurse)
        for (auto* node = children.head(); node; node = node->next)
            node->item->updateGeometry();
}

void Bone::setAngles(const vec3d& v)
{
    for (int k = 0; k < 3; ++k)
        angles[k] = v[k] < rotationMin[k] ? rotationMin[k] : v[k] > rotationMax[k] ? rotationMax[k] : v[k];
    updateGeometry();
}

void Bone::bindMesh(MeshTools& mesh)
{
    triangles.resize(0);
    triangleCount = 0;
    const int32_t meshVertices = *mesh.getVertexCount();
    const int32_t meshTriangles = std::max(*mesh.getIndexCount(), 0) / 3;
    const uint16_t* indices = mesh.getIndices();
    if (vertices.count() > 0 && indices) {
        bounds.halfExtents = {0.0f, 0.5f * length, 0.0f};
        forEachVertex(meshVertices, [&](uint16_t index, const matrix3d&) {
            bounds.extendToPoint(*mesh.getVertexData(index)->position);
        });
        // Two walks over the mesh: one counts, the other fills a table of
        // exactly that size.
        const auto walk = [&](auto take) {
            int32_t taken = 0;
            for (int32_t t = 0; t < meshTriangles; ++t) {
                const uint16_t* corner = indices + 3 * t;
                if (corner[0] >= meshVertices || corner[1] >= meshVertices || corner[2] >= meshVertices)
                    continue;
                const vec3d p0 = *mesh.getVertexData(corner[0])->position;
                const vec3d p1 = *mesh.getVertexData(corner[1])->position;
                const vec3d p2 = *mesh.getVertexData(corner[2])->position;
                if (insideBox(bounds, p0) || insideBox(bounds, p1) || insideBox(bounds, p2))
                    take(taken++, corner, p0, p1, p2);
            }
            return taken;
        };
        const int32_t count = walk([](int32_t, const uint16_t*, const vec3d&, const vec3d&, const vec3d&) {});
        if (count > 0 && triangles.resize(count)) {
            walk([&](int32_t k, const uint16_t* corner, const vec3d& p0, const vec3d& p1, const vec3d& p2) {
                triangle3dex& triangle = *triangles.at(k);
                triangle.corners[0] = p0;
                triangle.corners[1] = p1;
                triangle.corners[2] = p2;
                triangle.centroid = (p0 + p1 + p2) / 3.0f;
                triangle.normal = MeshGeometry::faceNormal(p0, p1, p2);
                for (int c = 0; c < 3; ++c)
                    triangle.vertices[c] = corner[c];
            });
            triangleCount = count;
        }
    }
    for (auto* node = children.head(); node; node = node->next)
        node->item->bindMesh(mesh);
}

Bone::Root::~Root()
{
    clearBones();
}

void Bone::Root::clearBones()
{
    bones.deleteAll();
}

Bone* Bone::Root::updateBone(Bone& bone)
{
    const SCList<Bone>& list = bone.parent ? bone.parent->children : bones;
    for (auto* node = list.head(); node; node = node->next)
        if (node->item == &bone) {
            bone.updateGeometry();
            break;
        }
    return bone.parent;
}

void Bone::Root::aimBone(Bone& bone, const vec3d& target, bool turnSelf)
{
    if (!bone.parent && !turnSelf) {
        bone.setRow(3, target);
        bone.updateGeometry();
        for (auto* node = bones.head(); node; node = node->next) {
            node->item->setRow(3, target);
            node->item->updateGeometry();
        }
        return;
    }
    Bone& turned = bone.parent && !turnSelf ? *bone.parent : bone;
    vec3d d = target - turned.position();
    if (d.x == 0.0f && d.y == 0.0f && d.z == 0.0f)
        return; // no direction to point in: the pose stays
    d = d / floatSqrt(d.lengthSq());
    matrix3d frame = matrix3d::identity();
    frame.setRow(1, -d);
    frame.setRow(0, MeshGeometry::unit(turned.row(2).cross(d)));
    frame.setRow(2, MeshGeometry::unit(turned.row(0).cross(-d)));
    matrix3d relative = frame;
    if (turned.parent) {
        matrix3d parentTurn = *turned.parent;
        parentTurn.setRow(3, {});
        matrix3d inverse;
        if (!parentTurn.inverseAffine(inverse))
            return;
        relative = multiply3x3(frame, inverse);
    }
    turned.setAngles(eulerAngles(relative));
}

Bone* Bone::Root::addBone(const vec3d& position, float length)
{
    if (hasBones())
        return nullptr;
    Bone* bone = new (std::nothrow) Bone(position, nullptr, length);
    if (bone && !bones.append(bone)) {
        delete bone;
        return nullptr;
    }
    return bone;
}

Bone* Bone::Root::addBoneWithGeometry(Bone& parentBone, float length, bool asChild)
{
    Bone* under = asChild ? &parentBone : parentBone.parent;
    const vec3d position = under || !bones.head() ? vec3d() : bones.head()->item->position();
    Bone* bone = new (std::nothrow) Bone(position, under, length);
    if (bone && !(under ? under->children : bones).append(bone)) {
        delete bone;
        return nullptr;
    }
    return bone;
}

Bone* Bone::Root::getBoneByIndex(int32_t index)
{
    Bone* found = nullptr;
    int32_t k = 0;
    forEachBone(stack_, [&](Bone& bone) {
        if (k++ == index)
            found = &bone;
    });
    return found;
}

int32_t Bone::Root::countBones()
{
    int32_t count = 0;
    forEachBone(stack_, [&](Bone&) { ++count; });
    return count;
}
