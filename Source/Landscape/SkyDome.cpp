// The sky's geometry: the dome mesh and its tree of patches.
#include "Landscape/AnimatedSky.h"

#include "Core/CrashTrace.h"
#include "Core/Math.h"

#include <new>

namespace {

constexpr int32_t rings = 55;
constexpr int32_t segments = 160;
constexpr int32_t domeVertices = 1 + rings * segments;
constexpr int32_t domeIndices = (segments + (rings - 1) * segments * 2) * 3;
// Patches stop halving at this depth: 64 leaves at most.
constexpr int32_t maxDepth = 6;

using DomeMesh = AnimatedSky::DomeMesh;

// A leaf's mesh: its triangles with vertices of their own (position and
// colour of the dome's), then welded so each dome vertex it uses appears once.
DomeMesh* makeLeafMesh(DomeMesh& dome, const triangle3dex* triangles, int32_t count, const BoundingBox& box)
{
    DomeMesh* mesh = new (std::nothrow) DomeMesh(String());
    if (!mesh)
        return nullptr;
    int32_t& vertexCount = *mesh->getVertexCount();
    for (int32_t t = 0; t < count && vertexCount <= 0xFFFF - 3; ++t)
        for (uint16_t source : triangles[t].vertices) {
            VertexComponents* to = mesh->getVertexData(vertexCount);
            if (!to || !mesh->addIndex(uint16_t(vertexCount)))
                break;
            const VertexComponents* from = dome.getVertexData(source);
            *to->position = *from->position;
            *to->colour = *from->colour;
            ++vertexCount;
        }
    mesh->setBounds(box);
    MeshTools::buildTriangleTree(*mesh);
    MeshTools::weldVertices(*mesh);
    delete mesh->takeTriangleTree();
    return mesh;
}

AnimatedSky::PatchNode* split(DomeMesh& dome, triangle3dex* triangles, int32_t count, int32_t depth,
                              uint16_t& nodeCount)
{
    auto* node = new (std::nothrow) AnimatedSky::PatchNode;
    if (!node)
        return nullptr;
    node->number = nodeCount++;
    MeshTools::boundTriangles(triangles, count, node->box);
    if (depth < maxDepth && count > 1) {
        triangle3dex* halves[2] = {};
        int32_t counts[2] = {};
        MeshTools::sortTriangles(triangles, count, node->box, halves[0], halves[1], counts[0], counts[1]);
        for (int side = 0; side < 2; ++side) {
            node->children[side] = split(dome, halves[side], counts[side], depth + 1, nodeCount);
            delete[] halves[side];
        }
    } else {
        node->mesh = makeLeafMesh(dome, triangles, count, node->box);
    }
    return node;
}

}

AnimatedSky::PatchNode::~PatchNode()
{
    delete mesh;
    delete children[0];
    delete children[1];
}

void makeDome(Shaper& shaper, const vec3d& centre, const vec3d& scale, float cut)
{
    CRASH_TRACE();
    const float u = 1.0f / (2.0f * scale.x);
    const float v = 1.0f / (2.0f * scale.z);
    cut = cut > 1.0f ? 1.0f : cut >= 0.0f ? cut : 0.0f;

    vec3d minimum = centre + vec3d{0.0f, scale.y, 0.0f};
    vec3d maximum = minimum;
    auto put = [&](int32_t n, const vec3d& q) {
        VertexComponents* c = shaper.getVertexData(n);
        if (!c)
            return;
        const vec3d p{centre.x + q.x * scale.x, centre.y + q.y * scale.y, centre.z + q.z * scale.z};
        *c->position = p;
        *c->normal = q;
        *c->colour = Color(0, 0, 0, 255);
        *c->uv = {(p.x - scale.x) * u, (p.z - scale.z) * v};
        MeshGeometry::widen(minimum, maximum, p);
    };

    put(0, {0.0f, 1.0f, 0.0f});
    const double ringStep = 6.545454545454546 * 0.01745329238474369 * (0.5 - 0.5 * double(cut));
    for (int32_t r = 1; r <= rings; ++r) {
        const float t = float(double(r) * ringStep);
        const float st = floatSin(t), ct = floatCos(t);
        float w = 0.0f;
        for (int32_t j = 1; j <= segments; ++j, w += 0.039269909f)
            put((r - 1) * segments + j, {floatCos(w) * st, ct, floatSin(w) * st});
    }

    if (!shaper.getIndex(domeIndices))
        return;
    uint16_t* index = shaper.getIndices();
    int32_t k = 0;
    for (int32_t n = 1; n <= segments; ++n) {
        index[k++] = 0;
        index[k++] = uint16_t(n);
        index[k++] = uint16_t(n == segments ? 1 : n + 1);
    }
    for (int32_t r = 2; r <= rings; ++r)
        for (int32_t j = 1; j <= segments; ++j) {
            const int32_t n = (r - 1) * segments + j;
            const int32_t m = j == segments ? n - (segments - 1) : n + 1;
            for (int32_t i : {m - segments, n - segments, n, n, m, m - segments})
                index[k++] = uint16_t(i);
        }

    BoundingBox& box = *shaper.getBounds();
    if (box.minimum == box.maximum) {
        MeshGeometry::setCorners(box, minimum, maximum);
        box.radiusSq = (maximum - box.center).lengthSq();
        box.radius = floatSqrt(box.radiusSq);
    } else {
        vec3d low = box.minimum, high = box.maximum;
        MeshGeometry::widen(low, high, minimum);
        MeshGeometry::widen(low, high, maximum);
        MeshGeometry::setCorners(box, low, high);
    }
    *shaper.getVertexCount() = domeVertices;
    *shaper.getIndexCount() = domeIndices;
}

AnimatedSky::PatchNode* AnimatedSky::buildPatches(DomeMesh& dome, uint16_t& nodes)
{
    CRASH_TRACE();
    nodes = 0;
    const int32_t vertexCount = dome.countedVertices();
    const int32_t triangleCount = dome.countedIndices() / 3;
    if (triangleCount <= 0)
        return nullptr;
    std::unique_ptr<triangle3dex[]> triangles(new (std::nothrow) triangle3dex[size_t(triangleCount)]);
    if (!triangles)
        return nullptr;
    const uint16_t* index = dome.getIndices();
    int32_t count = 0;
    for (int32_t t = 0; t < triangleCount; ++t, index += 3) {
        // A triangle naming a vertex the mesh does not hold is left out.
        if (index[0] >= vertexCount || index[1] >= vertexCount || index[2] >= vertexCount)
            continue;
        triangle3dex& triangle = triangles[count++];
        for (int c = 0; c < 3; ++c) {
            triangle.vertices[c] = index[c];
            triangle.corners[c] = *dome.getVertexData(index[c])->position;
        }
        const vec3d* p = triangle.corners;
        triangle.centroid = {(p[0].x + p[1].x + p[2].x) * 0.33333334f, (p[0].y + p[1].y + p[2].y) * 0.33333334f,
                             (p[0].z + p[1].z + p[2].z) * 0.33333334f};
    }
    if (count == 0)
        return nullptr;
    return split(dome, triangles.get(), count, 0, nodes);
}
