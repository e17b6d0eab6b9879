// The mesh build of a segment: its pieces shaped by the modeler, clipped at
// the junctions, merged into one mesh per part and uploaded.
#include "Way/WayMesh.h"
#include "Way/WayModeler.h"
#include "Way/WayNetwork.h"
#include "Way/WayPoint.h"
#include "Way/WaySegment.h"

#include "Core/CrashTrace.h"

#include <TextureRecord.h>

#include <algorithm>
#include <utility>

namespace Way {

namespace {

Vertex vertexOf(PartMesh& mesh, int32_t i)
{
    const VertexComponents* c = mesh.getVertexData(i);
    return c ? Vertex{*c->position, *c->normal, *c->uv} : Vertex{};
}

// Empties a scratch mesh and keeps its storage for the next piece.
void empty(PartMesh& mesh)
{
    *mesh.getVertexCount() = 0;
    *mesh.getIndexCount() = 0;
}

bool sameName(const Modeler* a, const Modeler* b) { return a && b && a->name.sameText(b->name); }

vec2d mapped(const float* m, const vec2d& uv)
{
    return {uv.x * m[0] + uv.y * m[3] + m[6], uv.x * m[1] + uv.y * m[4] + m[7]};
}

}

void emitVertex(PartMesh& mesh, const Vertex& v)
{
    int32_t& count = *mesh.getVertexCount();
    VertexComponents* c = mesh.getVertexData(count);
    if (!c)
        return;
    *c->position = v.position;
    *c->normal = v.normal;
    *c->uv = v.uv;
    mesh.addIndex(uint16_t(count));
    ++count;
}

void emitPanel(PartMesh& mesh, const Vertex& a, const Vertex& b, const Vertex& c, const Vertex& d)
{
    emitVertex(mesh, a);
    emitVertex(mesh, b);
    emitVertex(mesh, c);
    emitVertex(mesh, d);
    const int32_t count = *mesh.getVertexCount();
    mesh.addIndex(uint16_t(count - 4));
    mesh.addIndex(uint16_t(count - 2));
}

void emitTriangle(PartMesh& mesh, const Vertex& a, const Vertex& b, const Vertex& c)
{
    emitVertex(mesh, a);
    emitVertex(mesh, b);
    emitVertex(mesh, c);
}

void splitMeshByPlane(PartMesh& source, const ConvexVolume::Plane& plane, PartMesh* front, PartMesh* back)
{
    enum Side { onPlane, inFront, behind };
    const int32_t vertexCount = source.countedVertices();
    const int32_t triangles = source.countedIndices() / 3;
    const uint16_t* indices = source.getIndices();
    for (int32_t t = 0; t < triangles; ++t) {
        Vertex v[3];
        Side side[3];
        float distance[3];
        bool valid = true;
        for (int k = 0; k < 3; ++k) {
            const int32_t i = indices[3 * t + k];
            valid = valid && i < vertexCount;
            v[k] = vertexOf(source, i);
            distance[k] = (plane.point - v[k].position).dot(plane.normal);
            side[k] = distance[k] > 0.001f ? inFront : distance[k] < -0.001f ? behind : onPlane;
        }
        if (!valid)
            continue;
        const bool anyFront = side[0] == inFront || side[1] == inFront || side[2] == inFront;
        const bool anyBehind = side[0] == behind || side[1] == behind || side[2] == behind;
        if (!anyFront && !anyBehind)
            continue; // in the plane: neither side has it
        if (!anyBehind) {
            if (front)
                emitTriangle(*front, v[0], v[1], v[2]);
            continue;
        }
        if (!anyFront) {
            if (back)
                emitTriangle(*back, v[0], v[1], v[2]);
            continue;
        }
        // Cut: the corners of each side, with the points where the edges
        // cross the plane in both.
        const vec3d normal = unit((v[0].position - v[1].position).cross(v[0].position - v[2].position));
        Vertex ahead[4], after[4];
        int aheadCount = 0, afterCount = 0;
        auto add = [](Vertex* polygon, int& count, const Vertex& vertex) {
            if (count < 4)
                polygon[count++] = vertex;
        };
        for (int k = 0; k < 3; ++k) {
            const Vertex& a = v[k];
            const Vertex& b = v[(k + 1) % 3];
            if (side[k] != behind)
                add(ahead, aheadCount, a);
            if (side[k] != inFront)
                add(after, afterCount, a);
            const Side sb = side[(k + 1) % 3];
            const bool crosses = (side[k] == inFront && sb == behind) || (side[k] == behind && sb == inFront);
            if (!crosses)
                continue;
            const float denominator = (b.position - a.position).dot(plane.normal);
            if (denominator == 0.0f)
                continue;
            const float s = (plane.point - a.position).dot(plane.normal) / denominator;
            if (!(s >= 0.0f && s <= 1.0f))
                continue;
            const Vertex cut{a.position + (b.position - a.position) * s, normal, a.uv * (1.0f - s) + b.uv * s};
            add(ahead, aheadCount, cut);
            add(after, afterCount, cut);
        }
        auto fan = [](PartMesh* target, const Vertex* polygon, int count) {
            if (target)
                for (int m = 1; m + 1 < count; ++m)
                    emitTriangle(*target, polygon[0], polygon[m], polygon[m + 1]);
        };
        fan(front, ahead, aheadCount);
        fan(back, after, afterCount);
    }
}

bool appendMesh(PartMesh& target, PartMesh& source)
{
    const int32_t targetCount = target.countedVertices();
    const int32_t sourceCount = source.countedVertices();
    // Past this, 16-bit indices would name the wrong vertices.
    if (int64_t(targetCount) + sourceCount > maxMeshVertices)
        return false;

    float targetMap[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
    float sourceMap[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
    TextureRef& texture = *target.getTexture();
    const TextureRef& sourceTexture = *source.getTexture();
    if (!texture.isBound()) {
        if (sourceTexture.isBound())
            Texture::duplicate(sourceTexture, texture);
    } else if (sourceTexture.isBound()) {
        Texture::insertIntoAtlas(texture, sourceTexture, targetMap, sourceMap);
        for (int32_t i = 0; i < targetCount; ++i)
            if (VertexComponents* c = target.getVertexData(i))
                *c->uv = mapped(targetMap, *c->uv);
    }

    BoundingBox& box = *target.getBounds();
    const BoundingBox& from = *source.getBounds();
    if (targetCount == 0) {
        box = from;
    } else {
        for (int axis = 0; axis < 3; ++axis) {
            if (from.minimum[axis] < box.minimum[axis])
                box.minimum[axis] = from.minimum[axis];
            if (from.maximum[axis] > box.maximum[axis])
                box.maximum[axis] = from.maximum[axis];
        }
        box.center = (box.minimum + box.maximum) * 0.5f;
    }

    for (int32_t i = 0; i < sourceCount; ++i) {
        Vertex v = vertexOf(source, i);
        v.uv = mapped(sourceMap, v.uv);
        VertexComponents* c = target.getVertexData(targetCount + i);
        if (!c)
            return false;
        *c->position = v.position;
        *c->normal = v.normal;
        *c->uv = v.uv;
    }
    const int32_t indexCount = source.countedIndices();
    const uint16_t* indices = source.getIndices();
    for (int32_t i = 0; i < indexCount; ++i)
        target.addIndex(uint16_t(indices[i] + targetCount));
    *target.getVertexCount() = targetCount + sourceCount;
    return true;
}

void Segment::buildPartMeshes(std::vector<std::unique_ptr<PartMesh>>& parts)
{
    CRASH_TRACE();
    parts.clear();
    if (!modeler)
        return;
    Modeler& m = *modeler;
    const Segment* previous = startNode->prev ? startNode->prev->item->segment : nullptr;
    const Segment* next = endPoint().segment;
    // A way gets a cap where it ends freely or where the modeler changes,
    // not where it hangs from another way or runs on in the same modeler.
    const bool startOpen = previous ? !sameName(previous->modeler, modeler) : !startPoint().parentNode;
    const bool endOpen = next ? !sameName(next->modeler, modeler) : !endPoint().parentNode;

    // The surface's normal across each cross-section, from the directions to
    // its neighbours (in the joined segments at the ends).
    const size_t count = positions.size();
    for (size_t i = 0; i < count; ++i) {
        const Pos* before = i > 0 ? &positions[i - 1] : nullptr;
        if (!before)
            before = previous && previous->positions.size() > 1 ? &previous->positions[previous->positions.size() - 2]
                                                                : &positions[0];
        const Pos* after = i + 1 < count ? &positions[i + 1] : nullptr;
        if (!after)
            after = next && next->positions.size() > 2 ? &next->positions[1] : &positions[count - 1];
        Pos& pos = positions[i];
        const vec3d toPrevious = unit(pos.centre - before->centre);
        const vec3d toNext = unit(after->centre - pos.centre);
        pos.normal = unit((toPrevious + toNext).cross(pos.side));
    }

    // Texture coordinates along the way run on from the segments before.
    float distanceOffset = 0.0f;
    for (const PointNode* node = startNode->prev; node; node = node->prev)
        if (node->item->segment)
            distanceOffset += node->item->segment->length;

    const int32_t partCount = std::max(m.meshPartCount(), 0);
    for (int32_t j = 0; j < partCount; ++j)
        parts.push_back(std::make_unique<PartMesh>(String()));
    if (partCount == 0 || count < 2)
        return;
    PartMesh scratch[3] = {PartMesh(String()), PartMesh(String()), PartMesh(String())};
    for (size_t i = 0; i + 1 < count; ++i) {
        const Pos& a = positions[i];
        const Pos& b = positions[i + 1];
        m.shapeSegment(a, b, 1);
        const bool startCap = i == 0 && startOpen;
        const bool endCap = i + 2 == count && endOpen;
        const bool clipped = b.t <= startTrim || a.t >= 1.0f - endTrim;
        for (int32_t j = 0; j < partCount; ++j) {
            PartMesh* m1 = &scratch[0];
            PartMesh* m2 = &scratch[1];
            PartMesh* m3 = &scratch[2];
            for (PartMesh* s : {m1, m2, m3})
                empty(*s);
            m.buildSegmentMesh(*this, j, *m1, a, b, distanceOffset, startCap, endCap);
            if (i == 0) {
                // Every piece gives about what the first gives: room for them
                // all at once keeps the merge linear in the steps.
                const int64_t pieces = int64_t(count - 1);
                parts[size_t(j)]->reserveVertices(
                    int32_t(std::min<int64_t>(pieces * m1->countedVertices(), maxMeshVertices)));
                parts[size_t(j)]->reserveIndices(
                    int32_t(std::min<int64_t>(pieces * m1->countedIndices(), 3 * int64_t(maxMeshVertices))));
            }
            if (clipped)
                for (const Point* p : {&startPoint(), &endPoint()})
                    for (const Point::Cut& cut : p->cuts) {
                        const uint32_t planes = std::min(cut.planeCount, 2u);
                        if (planes == 0)
                            continue;
                        if (!cut.flag || planes == 1) {
                            // Flag 0: what lies in front of every plane; a cut
                            // of one plane keeps its front either way.
                            for (uint32_t k = 0; k < (cut.flag ? 1u : planes); ++k) {
                                empty(*m2);
                                splitMeshByPlane(*m1, cut.planes[k], m2, nullptr);
                                std::swap(m1, m2);
                            }
                        } else {
                            // What lies in front of either plane.
                            empty(*m2);
                            empty(*m3);
                            splitMeshByPlane(*m1, cut.planes[0], m2, m3);
                            empty(*m1);
                            splitMeshByPlane(*m3, cut.planes[1], m1, nullptr);
                            appendMesh(*m1, *m2);
                        }
                    }
            if (!appendMesh(*parts[size_t(j)], *m1))
                ++gWayNetwork.refusedPieces;
        }
    }
}

void Segment::buildMeshes()
{
    CRASH_TRACE();
    if (!modeler)
        return;
    std::vector<std::unique_ptr<PartMesh>> parts;
    buildPartMeshes(parts);
    releaseMeshes();
    for (size_t j = 0; j < parts.size(); ++j) {
        PartMesh& part = *parts[j];
        part.calcBounds();
        MeshTools::buildTriangleTree(part);
        const BoundingBox& box = *part.getBounds();
        if (j == 0) {
            bounds = box;
        } else if (!(box.maximum == box.minimum)) {
            if (bounds.maximum == bounds.minimum) {
                bounds.minimum = box.minimum;
                bounds.maximum = box.maximum;
                bounds.center = box.center;
            } else {
                for (int axis = 0; axis < 3; ++axis) {
                    bounds.minimum[axis] = std::min(bounds.minimum[axis], box.minimum[axis]);
                    bounds.maximum[axis] = std::max(bounds.maximum[axis], box.maximum[axis]);
                }
                bounds.center = (bounds.minimum + bounds.maximum) * 0.5f;
            }
        }
        if (meshCount < uint32_t(meshEntries)) {
            Mesh& entry = meshes[meshCount++];
            uploadMesh(entry, part);
        }
    }
    if (modeler->meshPartCount() == 0 && !positions.empty()) {
        // A hollow's segment only has bounds: its edges, reaching down into
        // the ground it lowers.
        vec3d low = positions[0].left, high = low;
        for (const Pos& pos : positions)
            for (const vec3d& p : {pos.left, pos.right})
                for (int axis = 0; axis < 3; ++axis) {
                    low[axis] = std::min(low[axis], p[axis]);
                    high[axis] = std::max(high[axis], p[axis]);
                }
        low.y -= 64.0f;
        bounds.minimum = low;
        bounds.maximum = high;
        bounds.center = (low + high) * 0.5f;
    }
}

}
