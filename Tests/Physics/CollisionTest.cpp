#include "CollisionTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace
{

void expectVec(const vec3d& actual, const vec3d& expected, float tolerance = 1e-5f)
{
    EXPECT_NEAR(actual.x, expected.x, tolerance);
    EXPECT_NEAR(actual.y, expected.y, tolerance);
    EXPECT_NEAR(actual.z, expected.z, tolerance);
}

struct Golden
{
    const char* name;
    neGeometry a;
    matrix3d wa;
    neGeometry b;
    matrix3d wb;
    bool collided;
    vec3d normal = {};
    float depth = 0.0f;
    vec3d pointA = {};
    vec3d pointB = {};
    // From the points to the single corner a resting contact takes, where
    // corners lie equally deep.
    vec3d restShift = {};
};

TEST(Collision, WorkedValues)
{
    const matrix3d origin = matrix3d::identity();
    const float edge = 1.0f - fastSqrt(0.5f);
    const Golden cases[] = {
        // Square on each other: the middle of the touching face, the
        // first corner for resting.
        {"boxes", makeBox({0.5f, 0.5f, 0.5f}), translation({0.9f, 0, 0}), makeBox({0.5f, 0.5f, 0.5f}), origin, true,
         {1, 0, 0}, 0.1f, {0.4f, 0, 0}, {0.5f, 0, 0}, {0, 0.5f, 0.5f}},
        {"boxes along y", makeBox({0.5f, 0.5f, 0.5f}), translation({0, 0.9f, 0}), makeBox({0.5f, 0.5f, 0.5f}), origin,
         true, {0, 1, 0}, 0.1f, {0, 0.4f, 0}, {0, 0.5f, 0}, {0.5f, 0, 0.5f}},
        {"boxes edge on", makeBox({0.5f, 0.5f, 0.5f}), translation({0.9f, 0.3f, 0}), makeBox({0.5f, 0.5f, 0.5f}), origin,
         true, {1, 0, 0}, 0.1f, {0.4f, 0.3f, 0}, {0.5f, 0.3f, 0}, {0, 0.5f, 0.5f}},
        {"box, sphere on a face", makeBox({1, 1, 1}), origin, makeSphere(0.5f), translation({1.2f, 0, 0}), true,
         {-1, 0, 0}, 0.3f, {1, 0, 0}, {0.7f, 0, 0}},
        {"box, sphere touching", makeBox({1, 1, 1}), origin, makeSphere(0.5f), translation({1.5f, 0, 0}), false},
        {"box, sphere centre on a face plane", makeBox({1, 1, 1}), origin, makeSphere(0.5f), translation({1, 0.2f, 0}),
         true, {-1, 0, 0}, 0.5f, {1, 0.2f, 0}, {0.5f, 0.2f, 0}},
        {"box, sphere centre on the far z plane", makeBox({1, 1, 1}), origin, makeSphere(0.5f),
         translation({0.3f, 0, -1}), true, {0, 0, 1}, 0.5f, {0.3f, 0, -1}, {0.3f, 0, -0.5f}},
        {"box, sphere on an edge", makeBox({1, 1, 1}), origin, makeSphere(1.0f), translation({1.5f, 1.5f, 0}), true,
         vec3d(-0.5f, -0.5f, 0) / fastSqrt(0.5f), edge, {1, 1, 0}, vec3d(1.5f, 1.5f, 0) + vec3d(-0.5f, -0.5f, 0) / fastSqrt(0.5f)},
        {"box, sphere touching an edge", makeBox({1, 1, 1}), origin, makeSphere(0.625f), translation({1.375f, 1.5f, 0}),
         true, vec3d(-0.6f, -0.8f, 0), 0.0f, {1, 1, 0}, {1, 1, 0}},
        {"box, sphere inside near x", makeBox({1, 2, 2}), origin, makeSphere(0.25f), translation({-0.8f, 0.1f, 0}), true,
         {1, 0, 0}, 0.2f + 0.25f, {-1, 0.1f, 0}, {-0.55f, 0.1f, 0}},
        {"sphere, box", makeSphere(0.5f), translation({1.2f, 0, 0}), makeBox({1, 1, 1}), origin, true, {1, 0, 0}, 0.3f,
         {0.7f, 0, 0}, {1, 0, 0}},
        {"spheres", makeSphere(1), translation({1.5f, 0, 0}), makeSphere(1), origin, true, {1, 0, 0}, 0.5f,
         {0.5f, 0, 0}, {1, 0, 0}},
        {"spheres touching", makeSphere(1), translation({2, 0, 0}), makeSphere(1), origin, false},
        {"spheres coinciding", makeSphere(1), origin, makeSphere(1), origin, false},
        {"cylinder side, sphere", makeCylinder(0.5f, 1), origin, makeSphere(0.5f), translation({0.8f, 0.3f, 0}), true,
         {-1, 0, 0}, 0.2f, {0.5f, 0.3f, 0}, {0.3f, 0.3f, 0}},
        {"cylinder cap, sphere", makeCylinder(0.5f, 1), origin, makeSphere(0.5f), translation({0, 1.8f, 0}), true,
         {0, -1, 0}, 0.2f, {0, 1.5f, 0}, {0, 1.3f, 0}},
        {"cylinder, sphere on the axis", makeCylinder(0.5f, 1), origin, makeSphere(0.5f), translation({0, 0.2f, 0}), true,
         {1, 0, 0}, 1.0f, {-0.5f, 0.2f, 0}, {0.5f, 0.2f, 0}},
        {"sphere, cylinder", makeSphere(0.5f), translation({0.8f, 0.3f, 0}), makeCylinder(0.5f, 1), origin, true,
         {1, 0, 0}, 0.2f, {0.3f, 0.3f, 0}, {0.5f, 0.3f, 0}},
        {"cylinders side by side", makeCylinder(0.5f, 1), translation({0.9f, 0, 0}), makeCylinder(0.5f, 1), origin, true,
         {1, 0, 0}, 0.1f, {0.4f, 1, 0}, {0.5f, 1, 0}},
        {"cylinders crossed", makeCylinder(0.5f, 1), rotation({1, 0, 0}, 1.5707964f, {0, 0.7f, 0}), makeCylinder(0.5f, 1),
         rotation({0, 0, 1}, 1.5707964f), true, {0, 1, 0}, 0.3f, {0, 0.2f, 0}, {0, 0.5f, 0}},
        {"cylinders end to end", makeCylinder(0.5f, 2), translation({0, 3.8f, 0}), makeCylinder(0.5f, 1), origin, true,
         {0, 1, 0}, 0.2f, {0, 1.3f, 0}, {0, 1.5f, 0}},
        {"box, cylinder lying on top", makeBox({1, 1, 1}), origin, makeCylinder(0.25f, 2),
         rotation({0, 0, 1}, 1.5707964f, {0.2f, 1.15f, 0}), true, {0, -1, 0}, 0.1f, {1, 1, 0}, {1, 0.9f, 0}},
    };
    for (const Golden& c : cases) {
        SCOPED_TRACE(c.name);
        const neCollisionResult r = collide(c.a, c.wa, c.b, c.wb);
        ASSERT_EQ(r.collided, uint32_t(c.collided));
        if (!c.collided)
            continue;
        expectVec(r.normal(), c.normal, 1e-4f);
        EXPECT_NEAR(r.depth, c.depth, 1e-4f);
        expectVec(r.pointA, c.pointA, 1e-4f);
        expectVec(r.pointB, c.pointB, 1e-4f);
        expectVec(r.pointA + r.normal() * r.depth, r.pointB, 1e-4f);
        expectVec(r.restShift, c.restShift, 1e-4f);
    }
}

TEST(Collision, SegmentClosestPoints)
{
    // Crossing segments: the points inside both; a parallel or empty one has none.
    vec3d onP, onQ;
    ASSERT_TRUE(neSegmentClosestPoints({-1, 0, 0}, {1, 0, 0}, {0, 1, -1}, {0, 1, 1}, onP, onQ));
    expectVec(onP, {0, 0, 0});
    expectVec(onQ, {0, 1, 0});
    EXPECT_FALSE(neSegmentClosestPoints({-1, 0, 0}, {1, 0, 0}, {2, 1, -1}, {2, 1, 1}, onP, onQ)); // beyond P's end
    EXPECT_FALSE(neSegmentClosestPoints({-1, 0, 0}, {1, 0, 0}, {0, 1, 1}, {0, 1, 0}, onP, onQ));  // t = 1 is outside
    EXPECT_FALSE(neSegmentClosestPoints({-1, 0, 0}, {1, 0, 0}, {-1, 1, 0}, {1, 1, 0}, onP, onQ)); // parallel
    EXPECT_FALSE(neSegmentClosestPoints({1, 0, 0}, {1, 0, 0}, {0, 1, -1}, {0, 1, 1}, onP, onQ));  // no length
    neSegmentPair pair;
    ASSERT_TRUE(neSegmentClosestPoints({-1, 0, 0}, {1, 0, 0}, {2, 1, -1}, {2, 1, 1}, pair));
    EXPECT_FALSE(pair.inside);
    EXPECT_NEAR(pair.s, 1.5f, 1e-6f);
    EXPECT_NEAR(pair.distance, 1.0f, 1e-4f);
    EXPECT_FALSE(neSegmentClosestPoints({-1, 0, 0}, {1, 0, 0}, {0, 1, 1}, {0, 1, 1}, pair));
}

TEST(Collision, ZeroDistanceContactsHaveANormal)
{
    const matrix3d origin = matrix3d::identity();
    struct Case
    {
        const char* name;
        neGeometry a;
        matrix3d wa;
        neGeometry b;
        matrix3d wb;
        vec3d normal;
        float depth;
    };
    const Case cases[] = {
        // The sphere's centre on the box's edge: out through the face of least penetration.
        {"sphere centre on an edge", makeBox({1, 1, 1}), origin, makeSphere(0.5f), translation({1, 1, 0.5f}), {0, -1, 0}, 0.5f},
        {"sphere centre on a corner", makeBox({1, 1, 1}), origin, makeSphere(0.5f), translation({1, 1, 1}), {0, 0, -1}, 0.5f},
        {"cylinder axis touching a face", makeBox({1, 1, 1}), origin, makeCylinder(0.3f, 1),
         rotation({0, 0, 1}, 1.5707964f, {0, 1, 0}), {0, -1, 0}, 0.3f},
        // (out through the face where the axis enters the box)
        {"cylinder axis through the box", makeBox({1, 1, 1}), origin, makeCylinder(0.3f, 3), translation({0.9f, 0, 0}),
         {0, 1, 0}, 0.3f},
        {"cylinder ends coinciding", makeCylinder(0.5f, 1), translation({0, 2, 0}), makeCylinder(0.5f, 1), origin,
         {0, 1, 0}, 1.0f},
        {"cylinder axes meeting", makeCylinder(0.5f, 1), rotation({1, 0, 0}, 1.5707964f, {0, 0.0f, 0}),
         makeCylinder(0.5f, 1), rotation({0, 0, 1}, 1.5707964f), {0, 1, 0}, 1.0f},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const neCollisionResult r = collide(c.a, c.wa, c.b, c.wb);
        ASSERT_EQ(r.collided, 1u);
        expectVec(r.normal(), c.normal);
        EXPECT_NEAR(r.depth, c.depth, 1e-5f);
    }
}

TEST(Collision, SphereOnTriangles)
{
    QueryTriangles t;
    t.add({-2, 0, -2}, {0, 0, 2}, {2, 0, -2}, 7);
    const neGeometry ball = makeSphere(0.5f);
    const neCollisionResult above = collide(ball, translation({0, 0.3f, 0}), t.finish(), matrix3d::identity());
    ASSERT_EQ(above.collided, 1u);
    EXPECT_NEAR(above.depth, 0.2f, 1e-6f);
    expectVec(above.normal(), {0, 1, 0});
    expectVec(above.pointA, {0, -0.2f, 0});
    expectVec(above.pointB, {0, 0, 0});
    EXPECT_EQ(above.userDataB, 7u);

    // Beside the triangle, nearest to a vertex at distance 0.4.
    const vec3d away = vec3d(2, 0, -2) + vec3d(1, 0, -1).normalised() * 0.4f;
    const neCollisionResult corner = collide(ball, translation(away), t.finish(), matrix3d::identity());
    ASSERT_EQ(corner.collided, 1u);
    EXPECT_NEAR(corner.depth, 0.1f, 1e-5f);
    expectVec(corner.normal(), vec3d(1, 0, -1).normalised());

    // Two triangles: the deeper wins; of equal depths the first.
    QueryTriangles two;
    two.add({-2, 0, -2}, {0, 0, 2}, {2, 0, -2}, 1);
    two.add({-2, 0.1f, -2}, {0, 0.1f, 2}, {2, 0.1f, -2}, 2);
    two.add({-2, 0.1f, -2}, {0, 0.1f, 2}, {2, 0.1f, -2}, 3);
    const neCollisionResult deeper = collide(ball, translation({0, 0.3f, 0}), two.finish(), matrix3d::identity());
    EXPECT_EQ(deeper.userDataB, 2u);
    EXPECT_NEAR(deeper.depth, 0.3f, 1e-6f);

    // A height-field triangle is not a sphere's; an empty list touches nothing.
    QueryTriangles height;
    height.add({-2, 0, -2}, {0, 0, 2}, {2, 0, -2}, 1, neTriangleHeightField);
    EXPECT_EQ(collide(ball, translation({0, 0.3f, 0}), height.finish(), matrix3d::identity()).collided, 0u);
    EXPECT_EQ(collide(makeCylinder(0.5f, 1), translation({0, 0.3f, 0}), height.finish(), matrix3d::identity()).collided, 0u);
    QueryTriangles empty;
    EXPECT_EQ(collide(ball, translation({0, 0.3f, 0}), empty.finish(), matrix3d::identity()).collided, 0u);
}

TEST(Collision, CylinderOnTriangles)
{
    // Standing on the middle of a triangle (away from the origin): its lower cap's rim.
    QueryTriangles flat;
    flat.add({1, 0, 1}, {5, 0, 10}, {10, 0, 1}, 2);
    const neCollisionResult standing =
        collide(makeCylinder(0.3f, 0.5f), translation({5, 0.7f, 4}), flat.finish(), matrix3d::identity());
    ASSERT_EQ(standing.collided, 1u);
    expectVec(standing.normal(), {0, 1, 0});
    EXPECT_NEAR(standing.depth, 0.1f, 1e-5f);
    expectVec(standing.pointA, {5, -0.1f, 4});
    expectVec(standing.pointB, {5, 0, 4});


    // Lying above the triangle's edge, most of it beside the triangle: the edge gives the contact.
    QueryTriangles t;
    t.add({0, 0, -2}, {0, 0, 2}, {3, 0, 0}, 6);
    const neCollisionResult r =
        collide(makeCylinder(0.3f, 1), rotation({0, 0, 1}, -1.5707964f, {0, 0.2f, 0}), t.finish(), matrix3d::identity());
    ASSERT_EQ(r.collided, 1u);
    expectVec(r.normal(), {0, 1, 0});
    EXPECT_NEAR(r.depth, 0.1f, 1e-5f);
    expectVec(r.pointA, {0, -0.1f, 0});
    expectVec(r.pointB, {0, 0, 0});
    EXPECT_EQ(r.userDataB, 6u);
}

TEST(Collision, BoxOnTriangles)
{
    // Flat on a big triangle, 0.05 deep.
    QueryTriangles t;
    t.add({-5, 0, -5}, {0, 0, 5}, {5, 0, -5}, 4);
    const neGeometry box = makeBox({0.5f, 0.5f, 0.5f});
    const neCollisionResult flat = collide(box, translation({0, 0.45f, 0}), t.finish(), matrix3d::identity());
    ASSERT_EQ(flat.collided, 1u);
    EXPECT_NEAR(flat.depth, 0.05f, 1e-5f);
    expectVec(flat.normal(), {0, 1, 0});
    EXPECT_NEAR(flat.pointA.y, -0.05f, 1e-5f);
    EXPECT_EQ(flat.userDataB, 4u);
    // Its four bottom corners lie equally deep: the contact stands at the
    // middle of the face, a resting contact at the first corner.
    expectVec(flat.pointA, {0, -0.05f, 0});
    expectVec(flat.restShift, {-0.5f, 0, -0.5f});
    // Rolled a little, the lower edge's corners 0.055 deep and the others
    // 0.045: the contact moves a tenth of the way towards the lower edge,
    // a resting contact to its first corner.
    const matrix3d rolled = rotation({0, 0, 1}, 0.01f, {0, 0.45f, 0});
    const neCollisionResult edge = collide(box, rolled, t.finish(), matrix3d::identity());
    ASSERT_EQ(edge.collided, 1u);
    EXPECT_NEAR(edge.pointA.z, 0.0f, 1e-6f);
    EXPECT_NEAR(edge.pointA.x, -0.045f, 1e-3f);
    EXPECT_NEAR(edge.pointA.x + edge.restShift.x, -0.495f, 1e-3f);
    EXPECT_NEAR(edge.pointA.z + edge.restShift.z, -0.5f, 1e-3f);

    // Flat under the box on several equal triangles: the first of the list wins.
    for (const bool reversed : {false, true}) {
        QueryTriangles flatGround;
        for (uint32_t m = 1; m <= 3; ++m)
            flatGround.add({-5, 0, -5}, {0, 0, 5}, {5, 0, -5}, m);
        if (reversed)
            std::reverse(flatGround.candidates.begin(), flatGround.candidates.end());
        const neCollisionResult tie = collide(box, translation({0.1f, 0.45f, 0}), flatGround.finish(), matrix3d::identity());
        ASSERT_EQ(tie.collided, 1u);
        EXPECT_EQ(tie.userDataB, reversed ? 3u : 1u);
    }

    // A triangle's tip poking into the box's bottom face: the box's own axis
    // gives the contact, the tip on the triangle's side and its point on the face.
    QueryTriangles tip;
    tip.add({0, -0.9f, 0}, {-3, -5, -1}, {3, -5, -1}, 2);
    const neCollisionResult poked = collide(makeBox({1, 1, 1}), matrix3d::identity(), tip.finish(), matrix3d::identity());
    ASSERT_EQ(poked.collided, 1u);
    expectVec(poked.normal(), {0, 1, 0});
    EXPECT_NEAR(poked.depth, 0.1f, 1e-5f);
    expectVec(poked.pointB, {0, -0.9f, 0});
    expectVec(poked.pointA, {0, -1, 0});
    // Two tips as deep, mirrored about the box's middle, in either order:
    // one contact at their middle.
    for (const bool reversed : {false, true}) {
        QueryTriangles tips;
        tips.add({-0.3f, -0.9f, 0}, {-3, -5, -1}, {2, -5, -1}, 2);
        tips.add({0.3f, -0.9f, 0}, {-2, -5, -1}, {3, -5, -1}, 3);
        if (reversed)
            std::reverse(tips.candidates.begin(), tips.candidates.end());
        const neCollisionResult both = collide(makeBox({1, 1, 1}), matrix3d::identity(), tips.finish(), matrix3d::identity());
        ASSERT_EQ(both.collided, 1u);
        expectVec(both.normal(), {0, 1, 0});
        expectVec(both.pointB, {0, -0.9f, 0});
        EXPECT_EQ(both.userDataB, reversed ? 3u : 2u) << "the earlier triangle names it";
    }

    // A height-field triangle pushes the corners up vertically with the
    // triangle's normal (turned up) as the contact normal.
    QueryTriangles h;
    h.add({-5, 0, -5}, {5, 1, -5}, {0, 0.5f, 5}, 9, neTriangleHeightField);
    const neCollisionResult height = collide(box, translation({0, 0.6f, 0}), h.finish(), matrix3d::identity());
    ASSERT_EQ(height.collided, 1u);
    EXPECT_GT(height.normal().y, 0.0f);
    EXPECT_EQ(height.pointA.x, height.pointB.x);
    EXPECT_EQ(height.pointA.z, height.pointB.z);
    EXPECT_NEAR(height.pointB.y - height.pointA.y, height.depth, 1e-6f);
    EXPECT_EQ(height.userDataB, 9u);
    // A box that has sunk wholly below the ground is pushed up all the same.
    const neCollisionResult sunk = collide(box, translation({0, -2, 0}), h.finish(), matrix3d::identity());
    ASSERT_EQ(sunk.collided, 1u);
    EXPECT_GT(sunk.depth, 2.0f);

    // Only corners above the triangle, seen from above, are pushed up: the
    // deepest of them, never a deeper one beside it.
    QueryTriangles narrow;
    narrow.add({2, 0, 0}, {0, 1, -2}, {0, 1, 2}, 1, neTriangleHeightField); // y = 1 - x / 2 over x >= 0
    const neCollisionResult part = collide(box, translation({0, 0.3f, 0}), narrow.finish(), matrix3d::identity());
    ASSERT_EQ(part.collided, 1u);
    expectVec(part.pointA, {0.5f, -0.2f, 0.5f}); // the corners at x = -0.5 would be deeper, but lie beside it
    EXPECT_NEAR(part.depth, 0.95f, 1e-5f);

    // A vertical height-field triangle has no height: skipped, also after a
    // triangle that did give a contact.
    QueryTriangles wall;
    wall.add({-5, -5, 0}, {5, -5, 0}, {0, 5, 0}, 1, neTriangleHeightField);
    EXPECT_EQ(collide(box, matrix3d::identity(), wall.finish(), matrix3d::identity()).collided, 0u);
    QueryTriangles groundAndWall;
    groundAndWall.add({-5, 0, -5}, {5, 0, -5}, {0, 0, 5}, 6, neTriangleHeightField);
    groundAndWall.add({-5, -5, 0}, {5, -5, 0}, {0, 5, 0}, 7, neTriangleHeightField);
    const neCollisionResult kept = collide(box, translation({0, 0.4f, 0}), groundAndWall.finish(), matrix3d::identity());
    ASSERT_EQ(kept.collided, 1u);
    EXPECT_EQ(kept.userDataB, 6u);
    EXPECT_NEAR(kept.depth, 0.1f, 1e-5f);
}

TEST(Collision, DamagedTerrainDataIsSkipped)
{
    QueryTriangles t;
    t.add({-5, 0, -5}, {0, 0, 5}, {5, 0, -5}, 1);
    t.add({-5, 0.2f, -5}, {0, 0.2f, 5}, {5, 0.2f, -5}, 2);
    t.triangles[1].indices[2] = 99; // past the vertices
    t.candidates.push_back(17);     // past the triangles
    t.candidates.push_back(-1);
    t.add({1, 0.3f, 1}, {1, 0.3f, 1}, {1, 0.3f, 1}, 3); // no area
    const neGeometry& g = t.finish();
    for (const neGeometry& shape : {makeSphere(0.5f), makeBox({0.5f, 0.5f, 0.5f}), makeCylinder(0.4f, 0.2f)}) {
        const neCollisionResult r = collide(shape, translation({0, 0.3f, 0}), g, matrix3d::identity());
        ASSERT_EQ(r.collided, 1u);
        EXPECT_EQ(r.userDataB, 1u);
        // A query that handed over no triangles meets nothing.
        neGeometry bare = g;
        bare.shape.terrain.triangles = nullptr;
        EXPECT_EQ(collide(shape, translation({0, 0.3f, 0}), bare, matrix3d::identity()).collided, 0u);
    }
}

TEST(Collision, ConvexWalkOnTwoBoxes)
{
    const neGeometry a = makeBox({0.5f, 0.5f, 0.5f}), b = makeBox({0.5f, 0.5f, 0.5f});
    neCollisionResult r{};
    neCollideConvex(r, a, matrix3d::identity(), b, translation({0, 0.9f, 0}));
    ASSERT_EQ(r.collided, 1u);
    EXPECT_NEAR(r.depth, 0.1f, 1e-5f);
    expectVec(r.normal(), {0, -1, 0});
    expectVec(r.pointB, {0.5f, 0.4f, 0.5f});
    expectVec(r.pointA, {0.5f, 0.5f, 0.5f});

    neCollideConvex(r, a, matrix3d::identity(), b, translation({0, 1.1f, 0}));
    EXPECT_EQ(r.collided, 0u);
    // Coinciding centres keep the scores finite.
    neCollideConvex(r, a, matrix3d::identity(), b, matrix3d::identity());
    EXPECT_EQ(r.collided, 1u);
    EXPECT_TRUE(std::isfinite(r.depth));

    // A block that describes the same box answers as the box does.
    ConvexBlock block = ConvexBlock::box({0.5f, 0.5f, 0.5f});
    const neCollisionResult viaBlock = collide(block.geometry, translation({0, 0.9f, 0}), a, matrix3d::identity());
    ASSERT_EQ(viaBlock.collided, 1u);
    EXPECT_NEAR(viaBlock.depth, 0.1f, 1e-5f);
    expectVec(viaBlock.normal(), {0, 1, 0});

    // A damaged block collides with nothing.
    block.block.edges = nullptr;
    EXPECT_EQ(collide(block.geometry, translation({0, 0.9f, 0}), a, matrix3d::identity()).collided, 0u);
}

} // namespace
