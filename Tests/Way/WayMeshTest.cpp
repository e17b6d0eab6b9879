// The modelers' meshes: road panels, border strips and caps against hand
// values, the plane split against brute force, the junctions of the sample
// course, and fuzzed way shapes.
#include "WayTestFiles.h"

#include "Way/WayMesh.h"

#include <map>
#include <set>
#include <random>

namespace {

using namespace WayTestFiles;
using Parts = std::vector<std::unique_ptr<::Way::PartMesh>>;

class WayMesh : public Network
{
};

struct Triangle
{
    ::Way::Vertex v[3];
    vec3d centroid() const { return (v[0].position + v[1].position + v[2].position) * (1.0f / 3.0f); }
};

std::vector<Triangle> trianglesOf(::Way::PartMesh& mesh)
{
    std::vector<Triangle> out;
    const int32_t count = mesh.countedIndices() / 3;
    for (int32_t t = 0; t < count; ++t) {
        Triangle tri;
        for (int k = 0; k < 3; ++k) {
            const VertexComponents* c = mesh.getVertexData(*mesh.getIndex(3 * t + k));
            tri.v[k] = {*c->position, *c->normal, *c->uv};
        }
        out.push_back(tri);
    }
    return out;
}

Parts partsOf(::Way::Segment& segment)
{
    Parts parts;
    segment.buildPartMeshes(parts);
    return parts;
}

// The triangles whose normals run along the way (the caps).
int capTriangles(::Way::PartMesh& mesh, const vec3d& forward)
{
    int caps = 0;
    for (const Triangle& t : trianglesOf(mesh))
        caps += std::fabs(t.v[0].normal.dot(forward)) > 0.99f;
    return caps;
}

TEST_F(WayMesh, AStraightSimpleWayOnFlatGround)
{
    // 10 wide along z, 0.2 above the ground (0 without a terrain); the
    // border strips are 2 wide.
    Route route{point(0, 0, L"SimpleWayBorderPaver1", 10.0f), point(0, 20, L"SimpleWayBorderPaver1", 10.0f)};
    ASSERT_TRUE(read(bytesOf({route})));
    ::Way::Segment& s = *gWayNetwork.segments[0];
    Parts parts = partsOf(s);
    ASSERT_EQ(parts.size(), 2u);
    const size_t pieces = s.positions.size() - 1;
    EXPECT_GE(pieces, 9u);
    const vec3d forward{0, 0, 1};
    // The road: one panel per piece between the inner border points, its
    // normal up, and a cap at each free end down to the ground.
    const std::vector<Triangle> road = trianglesOf(*parts[0]);
    ASSERT_EQ(road.size(), 2 * pieces + 4);
    for (const Triangle& t : road)
        for (const ::Way::Vertex& v : t.v) {
            EXPECT_NEAR(std::fabs(v.position.x), 3.0f, 0.001f);
            const bool cap = std::fabs(v.normal.z) > 0.99f;
            if (!cap) {
                EXPECT_NEAR(v.position.y, 0.2f, 0.0001f);
                EXPECT_NEAR(v.normal.y, 1.0f, 0.001f);
                // World coordinates, 0.35 per unit.
                EXPECT_NEAR(v.uv.x, v.position.x * 0.35f, 0.0001f);
                EXPECT_NEAR(v.uv.y, v.position.z * 0.35f, 0.0001f);
            } else if (v.position.y < 0.0f) {
                // A cap's foot: its texture runs on down from the road's edge.
                EXPECT_NEAR(v.position.y, -0.0001f, 1e-6f);
                EXPECT_NEAR(v.uv.x, (0.2f + 0.0001f) * 0.35f + v.position.x * 0.35f, 0.0001f);
                EXPECT_NEAR(v.uv.y, v.position.z * 0.35f, 0.0001f);
            } else {
                EXPECT_NEAR(v.position.y, 0.2f, 0.0001f);
            }
        }
    EXPECT_EQ(capTriangles(*parts[0], forward), 4);
    // The first cap (after the first panel) faces back, the last forward:
    // both face away from the road.
    EXPECT_LT(road[2].v[0].normal.z, -0.99f);
    EXPECT_GT(road.back().v[0].normal.z, 0.99f);
    // Front faces are clockwise seen from where they face (Direct3D's
    // default): the road seen from above.
    const Triangle& first = road[0];
    const vec3d n = (first.v[1].position - first.v[0].position).cross(first.v[2].position - first.v[0].position);
    EXPECT_GT(n.y, 0.0f);

    // The strips: from the road's height at the inner points down to the
    // ground at the edges, with their end triangles at the caps.
    const std::vector<Triangle> strips = trianglesOf(*parts[1]);
    ASSERT_EQ(strips.size(), 4 * pieces + 4);
    for (const Triangle& t : strips)
        for (const ::Way::Vertex& v : t.v) {
            const float x = std::fabs(v.position.x);
            EXPECT_TRUE(std::fabs(x - 3.0f) < 0.001f || std::fabs(x - 5.0f) < 0.001f) << x;
            if (std::fabs(x - 5.0f) < 0.001f) {
                EXPECT_NEAR(v.position.y, -0.0001f, 1e-6f);
            }
        }
    EXPECT_EQ(capTriangles(*parts[1], forward), 4);
    // Along the way from each strip's middle: u = (distance along + the
    // cross-section's distance) x 1.7, v = distance across x 0.36 + 0.5.
    for (const ::Way::Vertex& v : strips[0].v)
        if (v.position.z == 0.0f) {
            const float across = v.position.x < 0.0f ? v.position.x + 4.0f : v.position.x - 4.0f;
            EXPECT_NEAR(v.uv.x, 0.0f, 0.0001f);
            EXPECT_NEAR(v.uv.y, across * 0.36f + 0.5f, 0.0001f);
        }
    // Without a device no piece gets a range: each is left empty.
    ::Way::Segment::Mesh piece;
    EXPECT_FALSE(s.uploadMesh(piece, *parts[0]));
    EXPECT_EQ(piece.vertices, nullptr);
    EXPECT_EQ(piece.indices, nullptr);
    // The segment's bounds hold both parts.
    s.buildMeshes();
    EXPECT_NEAR(s.bounds.minimum.x, -5.0f, 0.001f);
    EXPECT_NEAR(s.bounds.maximum.x, 5.0f, 0.001f);
    EXPECT_NEAR(s.bounds.maximum.y, 0.2f, 0.0001f);
    EXPECT_EQ(s.meshCount, 2u);
}

TEST_F(WayMesh, AStraightCurbstoneWay)
{
    // 12 wide along z, 0.2 above the ground; curbs 0.3 wide and 0.08 high.
    Route route{point(0, 0, L"Curbstone1", 12.0f), point(0, 20, L"Curbstone1", 12.0f)};
    ASSERT_TRUE(read(bytesOf({route})));
    ::Way::Segment& s = *gWayNetwork.segments[0];
    Parts parts = partsOf(s);
    const size_t pieces = s.positions.size() - 1;
    // The road between the curbs' feet, at the road's height.
    const std::vector<Triangle> road = trianglesOf(*parts[0]);
    ASSERT_EQ(road.size(), 2 * pieces + 4);
    for (const Triangle& t : road)
        for (const ::Way::Vertex& v : t.v)
            EXPECT_NEAR(std::fabs(v.position.x), 5.7f, 0.001f);
    // The curbs: inner faces, tops and outer faces per piece, and two end
    // faces at each end.
    const std::vector<Triangle> curbs = trianglesOf(*parts[1]);
    ASSERT_EQ(curbs.size(), 12 * pieces + 8);
    int inner = 0, tops = 0, outer = 0, ends = 0;
    for (const Triangle& t : curbs) {
        for (const ::Way::Vertex& v : t.v) {
            const float x = std::fabs(v.position.x);
            const vec3d& n = v.normal;
            if (std::fabs(n.z) > 0.99f) {
                ++ends;
            } else if (std::fabs(n.y) > 0.99f) {
                // A top, between the curb's edges at its top.
                ++tops;
                EXPECT_NEAR(v.position.y, 0.28f, 0.0001f);
            } else if (std::fabs(x - 5.7f) < 0.001f) {
                // An inner face faces the road.
                ++inner;
                EXPECT_NEAR(n.x * v.position.x, -5.7f, 0.01f);
                EXPECT_NEAR(v.uv.y, v.position.y * 1.5f, 0.0001f);
                EXPECT_NEAR(v.uv.x, v.position.z * 0.6f, 0.05f);
            } else {
                // An outer face reaches 0.3 below the ground.
                ++outer;
                EXPECT_NEAR(x, 6.0f, 0.001f);
                EXPECT_NEAR(n.x * v.position.x, 6.0f, 0.01f);
                EXPECT_TRUE(std::fabs(v.position.y - 0.28f) < 0.0001f || std::fabs(v.position.y + 0.3f) < 0.0001f);
            }
        }
    }
    EXPECT_EQ(inner, 12 * int(pieces));
    EXPECT_EQ(tops, 12 * int(pieces));
    EXPECT_EQ(outer, 12 * int(pieces));
    EXPECT_EQ(ends, 24);
    // The end faces at the start: u from the distance, the inner records
    // a curb's width further.
    for (size_t k = 12; k < 16; ++k)
        for (const ::Way::Vertex& v : curbs[k].v) {
            EXPECT_LT(v.normal.z, -0.99f);
            const bool innerRecord = std::fabs(std::fabs(v.position.x) - 5.7f) < 0.001f;
            EXPECT_NEAR(v.uv.x, innerRecord ? 0.3f * 0.6f : 0.0f, 0.0001f);
            EXPECT_NEAR(v.uv.y, v.position.y * 1.5f, 0.0001f);
        }
}

// A modeler of pieces too large for 16-bit indices: 40,000 vertices each.
class Oversized final : public ::Way::Modeler
{
public:
    Oversized() : Modeler(String(L"Oversized"), 1, 1) {}
    int32_t meshPartCount() const override { return 1; }
    void shapeSegment(const ::Way::Pos& a, const ::Way::Pos& b, uint32_t) override { setDirections(a, b); }
    void buildSegmentMesh(const ::Way::Segment&, int32_t part, ::Way::PartMesh& mesh, const ::Way::Pos& a,
                          const ::Way::Pos&, float, bool, bool) override
    {
        if (part != 0)
            return;
        for (int i = 0; i < 10000; ++i)
            ::Way::emitPanel(mesh, {a.left, {0, 1, 0}, {}}, {a.right, {0, 1, 0}, {}},
                             {a.right + vec3d(0, 0, 1), {0, 1, 0}, {}}, {a.left + vec3d(0, 0, 1), {0, 1, 0}, {}});
    }
};

TEST_F(WayMesh, PiecesPastSixteenBitIndicesAreLeftOutAndCounted)
{
    Oversized modeler;
    gWayNetwork.registerModeler(&modeler);
    Route route{point(0, 0, L"Oversized"), point(0, 6, L"Oversized")};
    route[0].stepsPerLength = 0.55f; // three pieces: one fits, two do not
    gWayNetwork.refusedPieces = 0;
    ASSERT_TRUE(read(bytesOf({route})));
    ::Way::Segment& s = *gWayNetwork.segments[0];
    ASSERT_EQ(s.positions.size(), 4u);
    EXPECT_EQ(gWayNetwork.refusedPieces, 2u);
    Parts parts = partsOf(s);
    EXPECT_EQ(*parts[0]->getVertexCount(), 40000);
    for (int32_t i = 0; i < parts[0]->countedIndices(); ++i)
        ASSERT_LT(int32_t(*parts[0]->getIndex(i)), 40000);
    gWayNetwork.clearWays();
    std::erase(gWayNetwork.modelers, &modeler);
}

TEST_F(WayMesh, CapsAtFreeEndsAndWhereTheModelerChanges)
{
    const vec3d forward{0, 0, 1};
    const wchar_t* simple = L"SimpleWayBorderPaver1";
    const wchar_t* curb = L"Curbstone1";
    // Two segments of one modeler: caps at the way's ends only.
    ASSERT_TRUE(read(bytesOf({Route{point(0, 0, simple), point(0, 20, simple), point(0, 40, simple)}})));
    EXPECT_EQ(capTriangles(*partsOf(*gWayNetwork.segments[0])[0], forward), 2);
    EXPECT_EQ(capTriangles(*partsOf(*gWayNetwork.segments[1])[0], forward), 2);
    // A change of modeler caps both sides of the change.
    ASSERT_TRUE(read(bytesOf({Route{point(0, 0, simple), point(0, 20, curb), point(0, 40, curb)}})));
    EXPECT_EQ(capTriangles(*partsOf(*gWayNetwork.segments[0])[0], forward), 4);
    EXPECT_EQ(capTriangles(*partsOf(*gWayNetwork.segments[1])[0], forward), 4);
    // A branch hangs from the way: no cap where it starts, one at its free end.
    Route main{point(-40, 0, curb), point(0, 0, curb), point(40, 0, curb)};
    main[1].branches.push_back(Route{point(0, 0, simple), point(0, 40, simple)});
    ASSERT_TRUE(read(bytesOf({main})));
    EXPECT_EQ(capTriangles(*partsOf(*gWayNetwork.segments[2])[0], forward), 2);
    // The hollow has no parts at all.
    ASSERT_TRUE(read(bytesOf({Route{point(0, 0, L"TerrainHollow1"), point(0, 40, L"TerrainHollow1")}})));
    EXPECT_TRUE(partsOf(*gWayNetwork.segments[0]).empty());
    EXPECT_EQ(gWayNetwork.segments[0]->meshCount, 0u);
}

TEST_F(WayMesh, TextureCoordinatesRunOnAcrossSegments)
{
    // The border strips are laid along the way (1.7 per unit along it): at
    // the joint the second segment's strips start where the first's end.
    ASSERT_TRUE(read(bytesOf({Route{point(0, 0), point(0, 30), point(0, 60)}})));
    ::Way::Segment& a = *gWayNetwork.segments[0];
    ::Way::Segment& b = *gWayNetwork.segments[1];
    std::map<std::pair<int, int>, float> endOfFirst;
    const vec3d joint = b.positions.front().centre;
    for (const Triangle& t : trianglesOf(*partsOf(a)[1]))
        for (const ::Way::Vertex& v : t.v)
            if ((v.position - joint).length() < 6.0f && std::fabs(v.normal.z) < 0.99f)
                endOfFirst[{int(std::round(v.position.x * 100)), int(std::round(v.position.z * 100))}] = v.uv.x;
    int matched = 0;
    for (const Triangle& t : trianglesOf(*partsOf(b)[1]))
        for (const ::Way::Vertex& v : t.v) {
            const auto found = endOfFirst.find({int(std::round(v.position.x * 100)), int(std::round(v.position.z * 100))});
            if (found == endOfFirst.end())
                continue;
            EXPECT_NEAR(v.uv.x, found->second, 0.01f);
            ++matched;
        }
    EXPECT_GE(matched, 4);
    float last = 0.0f;
    for (const auto& entry : endOfFirst)
        last = std::max(last, entry.second);
    EXPECT_NEAR(last, a.length * 1.7f, 0.1f);
}

float area(const Triangle& t) { return 0.5f * (t.v[1].position - t.v[0].position).cross(t.v[2].position - t.v[0].position).length(); }

TEST_F(WayMesh, SplitByPlaneKeepsTheAreaOnEachSide)
{
    std::mt19937 random(1234);
    std::uniform_real_distribution<float> coordinate(-10.0f, 10.0f);
    auto randomVector = [&] { return vec3d{coordinate(random), coordinate(random), coordinate(random)}; };
    for (int round = 0; round < 300; ++round) {
        ::Way::PartMesh source{String()}, front{String()}, back{String()};
        ConvexVolume::Plane plane;
        plane.normal = randomVector().normalised();
        plane.point = randomVector() * 0.3f;
        plane.distance = plane.normal.dot(plane.point);
        float total = 0.0f, inPlane = 0.0f;
        for (int t = 0; t < 8; ++t) {
            ::Way::Vertex v[3];
            for (::Way::Vertex& x : v)
                x = {randomVector(), {0, 1, 0}, {coordinate(random), coordinate(random)}};
            if (t == 7) {
                // One triangle lying in the plane: it goes nowhere.
                const vec3d u = plane.normal.cross(vec3d{0.3f, 0.5f, 0.7f}).normalised();
                const vec3d w = plane.normal.cross(u);
                v[0].position = plane.point;
                v[1].position = plane.point + u * 3.0f;
                v[2].position = plane.point + w * 2.0f;
                inPlane = area({{v[0], v[1], v[2]}});
            }
            ::Way::emitTriangle(source, v[0], v[1], v[2]);
            total += area({{v[0], v[1], v[2]}});
        }
        ::Way::splitMeshByPlane(source, plane, &front, &back);
        float kept = 0.0f;
        const std::pair<::Way::PartMesh*, float> sides[] = {{&front, 1.0f}, {&back, -1.0f}};
        for (auto [mesh, sign] : sides)
            for (const Triangle& t : trianglesOf(*mesh)) {
                kept += area(t);
                for (const ::Way::Vertex& v : t.v) {
                    const float d = (plane.point - v.position).dot(plane.normal) * sign;
                    ASSERT_GE(d, -0.001f) << round;
                    ASSERT_TRUE(std::isfinite(v.uv.x) && std::isfinite(v.normal.y));
                }
            }
        EXPECT_NEAR(kept, total - inPlane, 0.002f * total) << round;
        // Without outputs nothing is written anywhere.
        ::Way::splitMeshByPlane(source, plane, nullptr, nullptr);
    }
    // A cut edge carries its texture coordinate along the edge.
    ::Way::PartMesh source{String()}, front{String()};
    ::Way::emitTriangle(source, {{-1, 0, 0}, {}, {0, 0}}, {{1, 0, 0}, {}, {1, 0}}, {{1, 0, 2}, {}, {1, 1}});
    ConvexVolume::Plane cut;
    cut.normal = {1, 0, 0};
    cut.point = {0, 0, 0};
    ::Way::splitMeshByPlane(source, cut, &front, nullptr);
    bool found = false;
    for (const Triangle& t : trianglesOf(front))
        for (const ::Way::Vertex& v : t.v)
            if (v.position == vec3d(0, 0, 0)) {
                found = true;
                EXPECT_FLOAT_EQ(v.uv.x, 0.5f);
            }
    EXPECT_TRUE(found);
}

TEST_F(WayMesh, AppendRefusesWhatSixteenBitIndicesCannotName)
{
    ::Way::PartMesh target{String()}, source{String()};
    for (int i = 0; i < 3; ++i)
        ::Way::emitTriangle(source, {{float(i), 0, 0}, {}, {}}, {{0, 1, float(i)}, {}, {}}, {{0, 0, 1}, {}, {}});
    source.calcBounds();
    ASSERT_TRUE(::Way::appendMesh(target, source));
    ASSERT_TRUE(::Way::appendMesh(target, source));
    EXPECT_EQ(*target.getVertexCount(), 18);
    EXPECT_EQ(*target.getIndex(17), 17);
    EXPECT_EQ(target.getBounds()->maximum.x, 2.0f);
    // Room for 5 more, and 9 to come: refused, and nothing changes.
    target.getVertexData(::Way::maxMeshVertices - 6);
    *target.getVertexCount() = ::Way::maxMeshVertices - 5;
    EXPECT_FALSE(::Way::appendMesh(target, source));
    EXPECT_EQ(*target.getVertexCount(), ::Way::maxMeshVertices - 5);
    EXPECT_EQ(*target.getIndexCount(), 18);
}

// Whether p lies inside triangle t (x/z), at least margin from its edges.
int covers(const Triangle& t, float x, float z, float margin)
{
    float sides[3];
    for (int k = 0; k < 3; ++k) {
        const vec3d& a = t.v[k].position;
        const vec3d& b = t.v[(k + 1) % 3].position;
        const float dx = b.x - a.x, dz = b.z - a.z;
        const float length = std::sqrt(dx * dx + dz * dz);
        if (length == 0.0f)
            return 0;
        sides[k] = (dx * (z - a.z) - dz * (x - a.x)) / length;
    }
    const bool positive = sides[0] > margin && sides[1] > margin && sides[2] > margin;
    const bool negative = sides[0] < -margin && sides[1] < -margin && sides[2] < -margin;
    if (positive || negative)
        return 1;
    const bool onEdge = std::fabs(sides[0]) <= margin || std::fabs(sides[1]) <= margin || std::fabs(sides[2]) <= margin;
    const bool within = (sides[0] >= -margin && sides[1] >= -margin && sides[2] >= -margin) ||
                        (sides[0] <= margin && sides[1] <= margin && sides[2] <= margin);
    return onEdge && within ? -1 : 0;
}

// Checks the junctions of the network read: the points with a branch or a
// link, the parent's segments on both sides, the joining way's segment.
void checkJunctions(size_t expected, float parentHalfWidth)
{
    struct Junction
    {
        ::Way::Segment* joining;
        vec3d at;
    };
    std::vector<Junction> junctions;
    std::vector<::Way::Segment*> parents;
    gWayNetwork.walk([&](::Way::PointNode* node) {
        ::Way::Point& p = *node->item;
        if (p.branches.count() > 0)
            junctions.push_back({p.branches.head()->item->head()->item->segment, p.position});
        if (p.links.count() > 0)
            junctions.push_back({p.links.head()->item->node->prev->item->segment, p.position});
        if (p.branches.count() > 0 || p.links.count() > 0)
            for (::Way::Segment* s : {p.segment, node->prev->item->segment})
                if (std::find(parents.begin(), parents.end(), s) == parents.end())
                    parents.push_back(s);
        return true;
    });
    ASSERT_EQ(junctions.size(), expected);
    // Every cut plane stands upright through its corner on the ground.
    gWayNetwork.walk([](::Way::PointNode* node) {
        for (const ::Way::Point::Cut& cut : node->item->cuts)
            for (uint32_t k = 0; k < cut.planeCount; ++k) {
                const ConvexVolume::Plane& plane = cut.planes[k];
                EXPECT_EQ(plane.normal.y, 0.0f);
                EXPECT_EQ(plane.point.y, 0.0f);
                EXPECT_NEAR(plane.normal.length(), 1.0f, 0.001f);
                EXPECT_NEAR(plane.distance, plane.normal.dot(plane.point), 0.001f);
            }
        return true;
    });

    std::vector<Triangle> parentRoad, parentAll, joiningAll;
    for (::Way::Segment* s : parents) {
        Parts parts = partsOf(*s);
        for (const Triangle& t : trianglesOf(*parts[0]))
            parentRoad.push_back(t), parentAll.push_back(t);
        for (const Triangle& t : trianglesOf(*parts[1]))
            parentAll.push_back(t);
    }
    for (const Junction& j : junctions) {
        Parts parts = partsOf(*j.joining);
        for (auto& part : parts)
            for (const Triangle& t : trianglesOf(*part))
                joiningAll.push_back(t);
    }

    // No triangle of the parent's road surface lies on the joining way's
    // surface: where projectPoint puts its centroid on the joining segment,
    // no triangle of the joining way's mesh lies under it.
    int onJoining = 0;
    for (const Triangle& t : parentRoad) {
        const vec3d c = t.centroid();
        for (const Junction& j : junctions) {
            uint32_t inside = 0;
            float along = 0.0f;
            j.joining->projectPoint(c.x, c.z, inside, along, nullptr);
            if (!inside)
                continue;
            ++onJoining;
            for (const Triangle& u : joiningAll)
                EXPECT_NE(covers(u, c.x, c.z, 0.01f), 1) << c.x << ", " << c.z;
        }
    }
    EXPECT_GT(onJoining, 0);

    // Around each junction every point of either way's outline is covered
    // by exactly one of the two meshes (points near a triangle's edge left
    // out): no surface on another, no hole between them.
    int sampled = 0;
    for (const Junction& j : junctions)
        for (float dx = -14.0f; dx <= 14.0f; dx += 0.37f)
            for (float dz = -14.0f; dz <= 14.0f; dz += 0.37f) {
                const float x = j.at.x + dx, z = j.at.z + dz;
                bool onOutline = false;
                for (const ::Way::Segment* s : parents) {
                    uint32_t inside = 0;
                    float along = 0.0f;
                    s->projectPoint(x, z, inside, along, nullptr);
                    onOutline = onOutline || inside;
                }
                uint32_t inJoining = 0;
                float along = 0.0f;
                j.joining->projectPoint(x, z, inJoining, along, nullptr);
                // The joining way's edges run on through the parent (its
                // lead): only what lies beyond the parent is its own road.
                const vec3d middle = j.joining->positions[j.joining->positions.size() / 2].centre;
                const vec3d away = vec3d(middle.x - j.at.x, 0.0f, middle.z - j.at.z).normalised();
                const bool beyond =
                    inJoining && (x - j.at.x) * away.x + (z - j.at.z) * away.z > parentHalfWidth + 0.5f;
                if (!onOutline && !beyond)
                    continue;
                int count = 0;
                bool ambiguous = false;
                for (const std::vector<Triangle>* mesh : {&parentAll, &joiningAll})
                    for (const Triangle& t : *mesh) {
                        const int c = covers(t, x, z, 0.02f);
                        ambiguous = ambiguous || c < 0;
                        count += c > 0;
                    }
                if (ambiguous)
                    continue;
                ++sampled;
                EXPECT_EQ(count, 1) << x << ", " << z;
            }
    EXPECT_GT(sampled, 1000);
}

TEST_F(WayMesh, JunctionsJoinWithoutOverlapOrGap)
{
    // The sample course's shortcut: a branch and a link, both square.
    ASSERT_TRUE(read(bytesOf(flatSample())));
    checkJunctions(2, 6.0f);
    // Ways leaving and joining a straight road at angles from shallow to
    // steep, to either side.
    for (float degrees : {35.0f, 60.0f, 120.0f, 150.0f, -50.0f, -130.0f}) {
        SCOPED_TRACE(degrees);
        const float a = degrees * 3.1415927f / 180.0f;
        Route main{point(-100, 0, L"Curbstone1", 12.0f), point(0, 0, L"Curbstone1", 12.0f),
                   point(100, 0, L"Curbstone1", 12.0f), point(200, 0, L"Curbstone1", 12.0f)};
        main[0].id = 0;
        main[2].id = 2;
        Route branch{point(0, 0), point(60.0f * std::cos(a), 60.0f * std::sin(a))};
        main[1].branches.push_back(branch);
        Route side{point(100.0f - 60.0f * std::cos(a), -60.0f * std::sin(a)), point(100, 0)};
        side[1].id = 9;
        main[2].links.push_back(9);
        ASSERT_TRUE(read(bytesOf({main, side})));
        checkJunctions(2, 6.0f);
    }
}

TEST_F(WayMesh, PiecesOutsideTheTrimsAreKeptWhole)
{
    // The sample, and long segments with a branch and a link at (0, 0).
    Route main{point(-100, 0, L"Curbstone1"), point(0, 0, L"Curbstone1"), point(100, 0, L"Curbstone1")};
    Route branch{point(0, 0), point(30, 100)};
    Route side{point(-60, -120), point(0, 0)};
    main[1].branches.push_back(branch);
    main[1].id = 1;
    side[1].id = 9;
    main[1].links.push_back(9);
    int checked = 0;
    for (const std::vector<Route>& network : {flatSample(), std::vector<Route>{main, side}}) {
    ASSERT_TRUE(read(bytesOf(network)));
    for (::Way::Segment* s : gWayNetwork.segments) {
        if (s->startPoint().cuts.empty() && s->endPoint().cuts.empty())
            continue;
        // A trim is a part of the curve (within the joining way), from its end.
        EXPECT_TRUE(s->startTrim >= 0.0f && s->startTrim <= 1.0f && s->endTrim >= 0.0f && s->endTrim <= 1.0f);
        Parts cut = partsOf(*s);
        // The same segment without its points' cuts.
        std::vector<::Way::Point::Cut> startCuts, endCuts;
        std::swap(startCuts, s->startPoint().cuts);
        std::swap(endCuts, s->endPoint().cuts);
        Parts whole = partsOf(*s);
        std::swap(startCuts, s->startPoint().cuts);
        std::swap(endCuts, s->endPoint().cuts);
        // The clipped pieces lie between a junction's point and the last
        // cross-section within its trim.
        auto reachOf = [&](const ::Way::Point& p, bool start) {
            float reach = 0.0f;
            for (const ::Way::Pos& pos : s->positions)
                if (start ? pos.t <= s->startTrim : pos.t >= 1.0f - s->endTrim)
                    for (const vec3d& e : {pos.left, pos.right})
                        reach = std::max(reach, (e - p.position).length());
            return reach;
        };
        const float reaches[2] = {reachOf(s->startPoint(), true), reachOf(s->endPoint(), false)};
        auto key = [](const Triangle& t) {
            std::vector<int> k;
            for (const ::Way::Vertex& v : t.v)
                for (float c : {v.position.x, v.position.y, v.position.z, v.uv.x, v.uv.y})
                    k.push_back(int(std::round(c * 1000.0f)));
            return k;
        };
        auto farFromJunctions = [&](const Triangle& t) {
            for (const ::Way::Vertex& v : t.v)
                for (int end = 0; end < 2; ++end) {
                    const ::Way::Point& p = end == 0 ? s->startPoint() : s->endPoint();
                    if (!p.cuts.empty() && (v.position - p.position).length() < reaches[end] + 1.0f)
                        return false;
                }
            return true;
        };
        for (size_t j = 0; j < cut.size(); ++j) {
            std::multiset<std::vector<int>> kept, full;
            for (const Triangle& t : trianglesOf(*cut[j]))
                if (farFromJunctions(t))
                    kept.insert(key(t));
            for (const Triangle& t : trianglesOf(*whole[j]))
                if (farFromJunctions(t))
                    full.insert(key(t));
            EXPECT_EQ(kept, full);
            checked += int(full.size());
        }
    }
    }
    EXPECT_GT(checked, 300);
}

TEST_F(WayMesh, FuzzedShapesGiveFiniteVerticesAndSoundIndices)
{
    std::mt19937 random(777);
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    const wchar_t* modelers[] = {L"SimpleWayBorderPaver1", L"Curbstone1", L"TerrainHollow1"};
    int vertices = 0;
    for (int round = 0; round < 150; ++round) {
        std::vector<Route> routes;
        int32_t id = 0;
        const int ways = 1 + int(random() % 3);
        for (int w = 0; w < ways; ++w) {
            Route route;
            const int points = 1 + int(random() % 6);
            float x = (unit(random) - 0.5f) * 100.0f, z = (unit(random) - 0.5f) * 100.0f;
            for (int i = 0; i < points; ++i) {
                Point p = point(x, z, modelers[random() % 3], random() % 5 == 0 ? 0.0f : 30.0f * unit(random));
                p.stepsPerLength = 0.05f + 2.0f * unit(random);
                p.thinTolerance = unit(random);
                p.heightOffset = unit(random);
                p.id = id++;
                route.push_back(p);
                // Coinciding points now and then; else a step in any direction.
                if (random() % 6) {
                    x += (unit(random) - 0.5f) * 80.0f;
                    z += (unit(random) - 0.5f) * 80.0f;
                }
            }
            // A branch from a random point: from the point itself, or lying
            // along the way.
            if (random() % 2) {
                Point& from = route[random() % route.size()];
                Route branch{point(from.position[0], from.position[2], modelers[random() % 3], 4.0f + 10.0f * unit(random))};
                branch.push_back(point(from.position[0] + (unit(random) - 0.5f) * 60.0f,
                                       from.position[2] + (unit(random) - 0.5f) * 60.0f, modelers[random() % 3]));
                for (Point& b : branch)
                    b.id = id++;
                from.branches.push_back(branch);
            }
            routes.push_back(route);
        }
        // Links from points of one way to the last point of another.
        for (size_t w = 0; w + 1 < routes.size(); ++w)
            if (random() % 2)
                routes[w][random() % routes[w].size()].links.push_back(routes[w + 1].back().id);
        ASSERT_TRUE(read(bytesOf(routes))) << round;
        for (::Way::Segment* s : gWayNetwork.segments) {
            Parts parts = partsOf(*s);
            for (auto& part : parts) {
                const int32_t count = part->countedVertices();
                vertices += count;
                for (int32_t i = 0; i < count; ++i) {
                    const VertexComponents* c = part->getVertexData(i);
                    for (float f : {c->position->x, c->position->y, c->position->z, c->normal->x, c->normal->y,
                                    c->normal->z, c->uv->x, c->uv->y})
                        ASSERT_TRUE(std::isfinite(f)) << round;
                }
                for (int32_t i = 0; i < part->countedIndices(); ++i)
                    ASSERT_LT(int32_t(*part->getIndex(i)), count) << round;
            }
            for (const vec3d& v : {s->bounds.minimum, s->bounds.maximum, s->bounds.center})
                ASSERT_TRUE(std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z)) << round;
        }
    }
    EXPECT_GT(vertices, 10000);
}

TEST_F(WayMesh, ModelersShapeWithoutTheGroundAndWithoutDirection)
{
    WayModelerSet& set = *gWayModelerSet;
    ::Way::Pos a, b;
    a.left = {-4, 1, 0};
    a.right = {4, 1, 0};
    a.centre = {0, 1, 0};
    b = a;
    // Equal centres: no direction rather than a division by nothing.
    set.simple.setDirections(a, b);
    EXPECT_EQ(set.simple.forward, vec3d());
    EXPECT_EQ(set.simple.side, vec3d());
    b.left.z = b.right.z = b.centre.z = 10.0f;
    // Without the ground the records on it stand at 0, the others keep the
    // cross-sections' heights.
    set.simple.shapeSegment(a, b, 0);
    for (int k : {0, 3, 4, 7, 8, 9, 10, 11})
        EXPECT_EQ(set.simple.section[k].position.y, 0.0f) << k;
    for (int k : {1, 2, 5, 6})
        EXPECT_EQ(set.simple.section[k].position.y, 1.0f) << k;
    EXPECT_NEAR(set.simple.section[1].position.x, -2.0f, 0.001f);
    set.curbstone.shapeSegment(a, b, 0);
    for (int k : {4, 5, 6, 7, 16, 17, 18, 19})
        EXPECT_EQ(set.curbstone.section[k].position.y, 0.0f) << k;
    EXPECT_NEAR(set.curbstone.section[0].position.y, 1.08f, 0.0001f);
    EXPECT_NEAR(set.curbstone.section[12].position.y, 1.0f, 0.0001f);
    EXPECT_NEAR(set.curbstone.section[8].position.x, -3.7f, 0.001f);
    // At its origin a planar coordinate is its offsets.
    const vec2d uv = ::Way::Modeler::planarTexCoords({3, 4, 5}, {3, 4, 5}, {0, 0, 1}, {1, 0, 0}, {2.0f, 3.0f}, 1.5f, 0.5f);
    EXPECT_EQ(uv.x, 3.0f);
    EXPECT_EQ(uv.y, 0.5f);
    // The hollow touches nothing.
    ASSERT_TRUE(read(bytesOf({Route{point(0, 0, L"TerrainHollow1"), point(0, 40, L"TerrainHollow1")}})));
    ::Way::PartMesh mesh{String()};
    set.hollow.shapeSegment(a, b, 1);
    set.hollow.buildSegmentMesh(*gWayNetwork.segments[0], 0, mesh, a, b, 0.0f, true, true);
    EXPECT_EQ(*mesh.getVertexCount(), 0);
    EXPECT_EQ(set.hollow.forward, vec3d());
    EXPECT_EQ(gWayNetwork.modelers.size(), 3u);
    EXPECT_EQ(gWayNetwork.findModeler(String(L"Curbstone1")), &set.curbstone);
    EXPECT_EQ(gWayNetwork.findModeler(String(L"Nothing")), &set.simple);
}

}
