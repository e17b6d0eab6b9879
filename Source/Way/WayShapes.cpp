// The two road modelers: the shape of a piece between two cross-sections and
// the mesh parts they make of it (road surface, border strips, curbstones,
// and the caps where a way ends).
#include "Way/WayMesh.h"
#include "Way/WayModeler.h"
#include "Way/WaySegment.h"

#include <utility>

namespace Way {

namespace {

constexpr vec3d up{0.0f, 1.0f, 0.0f};

// The records that lie on the ground: its height plus offset, or 0.
void onGround(Vertex* records, std::initializer_list<int> which, uint32_t followTerrain, float offset)
{
    for (int k : which) {
        vec3d& p = records[k].position;
        p.y = followTerrain ? groundHeight(p.x, p.z) + offset : 0.0f;
    }
}

void setNormal(Vertex* records, std::initializer_list<int> which, const vec3d& normal)
{
    for (int k : which)
        records[k].normal = normal;
}

vec3d middle(const Vertex& a, const Vertex& b) { return (a.position + b.position) * 0.5f; }

}

void Modeler::buildRoadSurface(Vertex* r, const RoadSurface& at, PartMesh& mesh, const Pos& a, const Pos& b,
                               float offsetA, float offsetB, bool along, const vec2d& scale, bool startCap,
                               bool endCap) const
{
    setNormal(r, {at.a0, at.a1}, a.normal);
    setNormal(r, {at.b0, at.b1}, b.normal);
    for (int k : {at.a0, at.a1})
        r[k].uv = texCoords(r[k].position, along, scale, a.centre, offsetA);
    for (int k : {at.b0, at.b1})
        r[k].uv = texCoords(r[k].position, along, scale, b.centre, offsetB);
    if (at.startsAtA1)
        emitPanel(mesh, r[at.a1], r[at.a0], r[at.b0], r[at.b1]);
    else
        emitPanel(mesh, r[at.a0], r[at.b0], r[at.b1], r[at.a1]);
    auto cap = [&](Vertex& lower, const Vertex& upper, const Pos& pos, float offset) {
        const float drop = upper.position.y - lower.position.y;
        lower.uv = along ? planarTexCoords(lower.position, pos.centre, forward, side, scale, offset + drop, 0.5f)
                         : vec2d{drop * scale.x + upper.uv.x, upper.uv.y};
    };
    if (startCap) {
        cap(r[at.capA0], r[at.a0], a, offsetA);
        cap(r[at.capA1], r[at.a1], a, offsetA);
        setNormal(r, {at.a0, at.a1, at.capA0, at.capA1}, -forward);
        emitPanel(mesh, r[at.a0], r[at.a1], r[at.capA1], r[at.capA0]);
    }
    if (endCap) {
        cap(r[at.capB0], r[at.b0], b, offsetB);
        cap(r[at.capB1], r[at.b1], b, offsetB);
        setNormal(r, {at.b0, at.b1, at.capB0, at.capB1}, forward);
        emitPanel(mesh, r[at.b1], r[at.b0], r[at.capB0], r[at.capB1]);
    }
}

SimpleWay::SimpleWay(String modelerName) : Modeler(std::move(modelerName), 1, 1) {}

void SimpleWay::shapeSegment(const Pos& a, const Pos& b, uint32_t followTerrain)
{
    const vec3d wA = unit(a.right - a.left) * borderWidth;
    const vec3d wB = unit(b.right - b.left) * borderWidth;
    setDirections(a, b);
    Vertex* r = section;
    r[0].position = a.left;
    r[1].position = a.left + wA;
    r[2].position = a.right - wA;
    r[3].position = a.right;
    r[4].position = b.left;
    r[5].position = b.left + wB;
    r[6].position = b.right - wB;
    r[7].position = b.right;
    r[8] = r[1];
    r[9] = r[2];
    r[10] = r[5];
    r[11] = r[6];
    // The inner points keep the road's height; the strips slope from them
    // down to the ground at the edges, and 8-11 stand under the inner points.
    onGround(r, {0, 3, 4, 7, 8, 9, 10, 11}, followTerrain, terrainOffset);
}

void SimpleWay::buildSegmentMesh(const Segment&, int32_t part, PartMesh& mesh, const Pos& a, const Pos& b,
                                 float distanceOffset, bool startCap, bool endCap)
{
    Vertex* r = section;
    const float offsetA = a.distance + distanceOffset, offsetB = b.distance + distanceOffset;
    if (part == 0) {
        buildRoadSurface(r, {1, 2, 5, 6, 8, 9, 10, 11, true}, mesh, a, b, offsetA, offsetB, roadTexAlongWay != 0,
                         roadTexScale, startCap, endCap);
    } else if (part == 1) {
        const bool along = borderTexAlongWay != 0;
        setNormal(r, {0, 1, 2, 3}, a.normal);
        setNormal(r, {4, 5, 6, 7}, b.normal);
        // Along the way each strip's coordinates start from its own middle.
        for (int k = 0; k < 8; k += 2) {
            const vec3d origin = middle(r[k], r[k + 1]);
            const float offset = k < 4 ? offsetA : offsetB;
            r[k].uv = texCoords(r[k].position, along, borderTexScale, origin, offset);
            r[k + 1].uv = texCoords(r[k + 1].position, along, borderTexScale, origin, offset);
        }
        emitPanel(mesh, r[1], r[0], r[4], r[5]);
        emitPanel(mesh, r[3], r[2], r[6], r[7]);
        auto cap = [&](Vertex& lower, const Vertex& upper) {
            lower.uv = {upper.uv.x, (upper.position.y - lower.position.y) * borderTexScale.y + upper.uv.y};
        };
        if (startCap) {
            cap(r[8], r[1]);
            cap(r[9], r[2]);
            setNormal(r, {0, 1, 2, 3, 8, 9}, -forward);
            emitTriangle(mesh, r[0], r[1], r[8]);
            emitTriangle(mesh, r[2], r[3], r[9]);
        }
        if (endCap) {
            cap(r[10], r[5]);
            cap(r[11], r[6]);
            setNormal(r, {4, 5, 6, 7, 10, 11}, forward);
            emitTriangle(mesh, r[5], r[4], r[10]);
            emitTriangle(mesh, r[7], r[6], r[11]);
        }
    }
}

CurbstoneWay::CurbstoneWay(String modelerName) : Modeler(std::move(modelerName), 1, 1) {}

void CurbstoneWay::shapeSegment(const Pos& a, const Pos& b, uint32_t followTerrain)
{
    const float h = curbHeight;
    setDirections(a, b);
    const vec3d wA = unit(a.right - a.left) * curbWidth;
    const vec3d wB = unit(b.right - b.left) * curbWidth;
    Vertex* r = section;
    r[0].position = a.left + up * h;
    r[1].position = a.right + up * h;
    r[2].position = b.left + up * h;
    r[3].position = b.right + up * h;
    for (int k = 0; k < 4; ++k)
        r[4 + k] = r[k];
    r[8].position = r[0].position + wA;
    r[9].position = r[1].position - wA;
    r[10].position = r[2].position + wB;
    r[11].position = r[3].position - wB;
    for (int k = 0; k < 4; ++k) {
        r[12 + k].position = r[8 + k].position - up * h;
        r[16 + k] = r[8 + k];
    }
    // The outer faces and the caps reach a fixed 0.3 below the ground.
    onGround(r, {4, 5, 6, 7, 16, 17, 18, 19}, followTerrain, -0.3f);
}

void CurbstoneWay::buildSegmentMesh(const Segment&, int32_t part, PartMesh& mesh, const Pos& a, const Pos& b,
                                    float distanceOffset, bool startCap, bool endCap)
{
    Vertex* r = section;
    const float offsetA = a.distance + distanceOffset, offsetB = b.distance + distanceOffset;
    if (part == 0) {
        buildRoadSurface(r, {12, 13, 14, 15, 16, 17, 18, 19, false}, mesh, a, b, offsetA, offsetB,
                         roadTexAlongWay != 0, roadTexScale, startCap, endCap);
    } else if (part == 1) {
        const vec2d& s = curbTexScale;
        // The faces of the curbstones: u along the way, v up them.
        auto face = [&](std::initializer_list<int> which, float offset, float extra = 0.0f) {
            for (int k : which)
                r[k].uv = {(offset + extra) * s.x, r[k].position.y * s.y};
        };
        setNormal(r, {8, 12}, a.side);
        setNormal(r, {10, 14}, b.side);
        setNormal(r, {9, 13}, -a.side);
        setNormal(r, {11, 15}, -b.side);
        face({8, 9, 12, 13}, offsetA);
        face({10, 11, 14, 15}, offsetB);
        emitPanel(mesh, r[12], r[8], r[10], r[14]);
        emitPanel(mesh, r[9], r[13], r[15], r[11]);

        const bool along = curbTexAlongWay != 0;
        setNormal(r, {0, 1, 8, 9}, a.normal);
        setNormal(r, {2, 3, 10, 11}, b.normal);
        const struct
        {
            int outer, inner;
            float offset;
        } tops[] = {{0, 8, offsetA}, {2, 10, offsetB}, {1, 9, offsetA}, {3, 11, offsetB}};
        for (const auto& top : tops) {
            const vec3d origin = middle(r[top.outer], r[top.inner]);
            r[top.outer].uv = texCoords(r[top.outer].position, along, s, origin, top.offset);
            r[top.inner].uv = texCoords(r[top.inner].position, along, s, origin, top.offset);
        }
        emitPanel(mesh, r[0], r[2], r[10], r[8]);
        emitPanel(mesh, r[9], r[11], r[3], r[1]);

        setNormal(r, {0, 4}, -a.side);
        setNormal(r, {2, 6}, -b.side);
        setNormal(r, {1, 5}, a.side);
        setNormal(r, {3, 7}, b.side);
        face({0, 1, 4, 5}, offsetA);
        face({2, 3, 6, 7}, offsetB);
        emitPanel(mesh, r[0], r[4], r[6], r[2]);
        emitPanel(mesh, r[5], r[1], r[3], r[7]);

        if (startCap) {
            // The outer records keep the outer faces' coordinates.
            face({8, 9, 16, 17}, offsetA, curbWidth);
            setNormal(r, {0, 1, 4, 5, 8, 9, 16, 17}, -forward);
            emitPanel(mesh, r[4], r[0], r[8], r[16]);
            emitPanel(mesh, r[5], r[17], r[9], r[1]);
        }
        if (endCap) {
            // On the right curbstone's end face the width goes to its outer
            // records, as the stone's texture is laid out.
            face({11, 19}, offsetB);
            face({10, 18, 3, 7}, offsetB, curbWidth);
            setNormal(r, {2, 3, 6, 7, 10, 11, 18, 19}, forward);
            emitPanel(mesh, r[2], r[6], r[18], r[10]);
            emitPanel(mesh, r[11], r[19], r[7], r[3]);
        }
    }
}

}
