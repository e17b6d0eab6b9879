#include "CollisionTestSupport.h"

#include <gtest/gtest.h>

#include <functional>
#include <random>

namespace
{

// Random shapes at random poses near contact, for every pair of the table.
struct Shapes
{
    std::mt19937 random{2024};
    std::uniform_real_distribution<float> unit{-1.0f, 1.0f};
    std::uniform_real_distribution<float> size{0.2f, 1.5f};
    ConvexBlock block = ConvexBlock::box({0.4f, 0.7f, 0.5f});
    QueryTriangles terrain;
    std::vector<vec3d> triangleVertices;
    neGeometry triangle{};

    vec3d shift; // the whole scene away from the origin

    float u() { return unit(random); }
    vec3d vector() { return {u(), u(), u()}; }
    matrix3d pose(vec3d at) { return rotation(vector() + vec3d(0, 0, 0.01f), u() * 3.1f, at + shift); }

    neGeometry make(uint32_t type)
    {
        switch (type) {
        case neShapeBox: return makeBox({size(random) * 0.5f, size(random) * 0.5f, size(random) * 0.5f});
        case neShapeSphere: return makeSphere(size(random) * 0.5f);
        case neShapeCylinder: return makeCylinder(size(random) * 0.4f, size(random) * 0.5f);
        case neShapeConvex: return block.geometry;
        case neShapeTriangle: {
            triangleVertices = {vector() * 2.0f, vector() * 2.0f, vector() * 2.0f};
            triangle.reset();
            triangle.type = neShapeTriangle;
            triangle.shape.triangle = {{0, 1, 2}, 3, triangleVertices.data()};
            return triangle;
        }
        default: {
            terrain = QueryTriangles();
            terrain.add(shift + vector() * 2.0f, shift + vector() * 2.0f, shift + vector() * 2.0f, 5);
            return terrain.finish();
        }
        }
    }
};

struct PairType
{
    uint32_t a, b;
};

const PairType tablePairs[] = {
    {neShapeBox, neShapeTriangle},    {neShapeBox, neShapeBox},         {neShapeBox, neShapeSphere},
    {neShapeBox, neShapeCylinder},    {neShapeBox, neShapeTerrain},     {neShapeBox, neShapeConvex},
    {neShapeSphere, neShapeBox},      {neShapeSphere, neShapeSphere},   {neShapeSphere, neShapeCylinder},
    {neShapeSphere, neShapeTerrain},  {neShapeCylinder, neShapeBox},    {neShapeCylinder, neShapeSphere},
    {neShapeCylinder, neShapeCylinder}, {neShapeCylinder, neShapeTerrain}, {neShapeConvex, neShapeBox},
    {neShapeConvex, neShapeTerrain},  {neShapeConvex, neShapeConvex},
};

bool sidesAreShapes(uint32_t t) { return t != neShapeTerrain && t != neShapeTriangle; }

// The smallest size of a shape, below which a contact counts as shallow.
float smallest(const neGeometry& g)
{
    if (g.type == neShapeBox)
        return std::min({g.shape.box.x, g.shape.box.y, g.shape.box.z});
    if (g.type == neShapeSphere || g.type == neShapeCylinder)
        return g.shape.round.radius;
    return 0.4f;
}

TEST(Convention, EveryPairOfTheTable)
{
    Shapes s;
    for (const PairType& p : tablePairs) {
        SCOPED_TRACE(testing::Message() << "pair " << p.a << " / " << p.b);
        s.shift = s.vector() * 60.0f;
        int contacts = 0, checkedMoves = 0;
        for (int round = 0; round < 400; ++round) {
            const neGeometry a = s.make(p.a);
            const neGeometry b = s.make(p.b);
            const matrix3d wb = sidesAreShapes(p.b) ? s.pose(s.vector() * 0.2f) : matrix3d::identity();
            const matrix3d wa = s.pose(nePosition(wb) - (p.b == neShapeTerrain ? vec3d() : s.shift) + s.vector() * 1.4f);
            const neCollisionResult r = collide(a, wa, b, wb);
            if (!r.collided)
                continue;
            ++contacts;
            const vec3d n = r.normal();
            ASSERT_TRUE(neFinite(n) && std::isfinite(r.depth)) << round;
            ASSERT_NEAR(n.length(), 1.0f, 1e-3f) << round;
            ASSERT_GE(r.depth, 0.0f) << round;
            // Point B lies the depth along the normal from point A.
            EXPECT_LT((r.pointB - (r.pointA + n * r.depth)).length(), 1e-3f * (1.0f + r.depth))
                << round << ": point A " << r.pointA.x << " " << r.pointA.y << " " << r.pointA.z;

            // Moving A by the depth along the normal leaves at most a touching contact.
            if (r.depth < 0.3f * std::min(smallest(a), smallest(b))) {
                matrix3d moved = wa;
                neSetRow(moved, 3, nePosition(wa) + n * r.depth);
                const neCollisionResult after = collide(a, moved, b, wb);
                EXPECT_TRUE(!after.collided || after.depth < 2e-3f)
                    << round << ": depth " << r.depth << " leaves " << after.depth;
                ++checkedMoves;
            }

            // Seen from the other side: the normal negated, the points exchanged
            // (or, for a test of two shapes of one kind, an equally deep feature).
            if (!sidesAreShapes(p.b))
                continue;
            const neCollisionResult back = collide(b, wb, a, wa);
            ASSERT_EQ(back.collided, 1u) << round;
            const bool mirrored = (back.normal() + n).length() < 1e-3f && (back.pointA - r.pointB).length() < 1e-3f
                                  && (back.pointB - r.pointA).length() < 1e-3f;
            if (p.a != p.b)
                EXPECT_TRUE(mirrored) << round;
            else
                EXPECT_TRUE(mirrored || absFloat(back.depth - r.depth) < 1e-3f) << round;
        }
        EXPECT_GT(contacts, 40);
        EXPECT_GT(checkedMoves, 5);
    }
}

// Content brings degenerate shapes: every pair at random and degenerate
// poses gives only finite unit normals and finite depths.
TEST(Convention, DegenerateShapesGiveFiniteContacts)
{
    Shapes s;
    std::uniform_int_distribution<int> pick(0, 5);
    for (const PairType& p : tablePairs) {
        for (int round = 0; round < 300; ++round) {
            neGeometry a = s.make(p.a), b = s.make(p.b);
            matrix3d wb = sidesAreShapes(p.b) ? s.pose({}) : matrix3d::identity();
            matrix3d wa = s.pose(s.vector() * 0.5f);
            switch (pick(s.random)) {
            case 0: // zero sizes
                if (a.type == neShapeBox)
                    a.setBoxSize(0, 0, 0);
                if (b.type == neShapeSphere || b.type == neShapeCylinder)
                    b.setCylinder(0.0f, 0.0f), b.type = p.b;
                break;
            case 1: // coinciding centres
                neSetRow(wa, 3, nePosition(wb));
                break;
            case 2: // identical poses
                wa = wb;
                break;
            case 3: // a triangle without area
                if (!s.triangleVertices.empty())
                    s.triangleVertices[2] = s.triangleVertices[1];
                if (!s.terrain.vertices.empty())
                    s.terrain.vertices[2] = s.terrain.vertices[0];
                break;
            default:
                break;
            }
            const neCollisionResult r = collide(a, wa, b, wb);
            if (!r.collided)
                continue;
            ASSERT_TRUE(neFinite(r.normal()) && std::isfinite(r.depth)) << p.a << "/" << p.b << " round " << round;
            ASSERT_NEAR(r.normal().length(), 1.0f, 1e-3f) << p.a << "/" << p.b << " round " << round;
        }
    }
}

} // namespace
