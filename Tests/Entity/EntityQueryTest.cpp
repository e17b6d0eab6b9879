// The octree walks of the entity queries against brute force over every
// triangle of a random scene: the nearest ray hit, the triangles handed to
// the physics for a box, and the triangle trees' box tests.
#include "EntityTestSupport.h"

#include "Entity/CollisionQuery.h"
#include "Entity/TriangleTreeQueries.h"

#include <algorithm>
#include <array>
#include <map>
#include <optional>

using namespace EntityTests;
using Entity = EntityManager::Entity;
using SubEntity = EntityManager::SubEntity;
using Tree = MeshTools::BinaryTiangleTree;

namespace {

struct dvec
{
    double x, y, z;
    dvec(const vec3d& v) : x(v.x), y(v.y), z(v.z) {}
    dvec(double x_, double y_, double z_) : x(x_), y(y_), z(z_) {}
    dvec operator-(const dvec& o) const { return {x - o.x, y - o.y, z - o.z}; }
    double dot(const dvec& o) const { return x * o.x + y * o.y + z * o.z; }
    dvec cross(const dvec& o) const { return {y * o.z - z * o.y, z * o.x - x * o.z, x * o.y - y * o.x}; }
    double operator[](int i) const { return i == 0 ? x : i == 1 ? y : z; }
};

using Corners = std::array<vec3d, 3>;

// A random scene: meshes, entities with one to three parts each, some hidden
// or on other layers, with every cull setting.
struct Scene
{
    explicit Scene(uint32_t seed) : random(seed)
    {
        const wchar_t* names[] = {L"q0", L"q1", L"q2", L"q3", L"q4", L"q5"};
        for (int m = 0; m < 6; ++m)
            meshes.push_back(randomMesh(names[m], 30 + 10 * m, random, 3.0f));
        std::uniform_real_distribution<float> unit(0.0f, 1.0f);
        for (int e = 0; e < 60; ++e) {
            auto entity = std::make_unique<Entity>(manager);
            const int parts = 1 + e % 3;
            for (int p = 0; p < parts; ++p) {
                EntityMesh& source = *meshes[size_t((e * 7 + p * 3) % 6)];
                SubEntity* sub = entity->addStoredMesh(source, false, p == 2, nullptr, nullptr);
                sub->material.cullMode = 1 + uint32_t(e + p) % 3;
                sub->layer = (e + p) % 5 == 0 ? -1 : (e + p) % 7 == 0 ? 1 : 0;
                sub->hidden = (e + p) % 11 == 0;
                sub->local = placement(unit(random), 0.0f, 1.0f, {unit(random) * 4.0f, 0.0f, 0.0f});
                sources[sub] = &source;
            }
            entity->hidden = e % 13 == 5;
            entity->world = placement(unit(random) * 6.3f, unit(random) - 0.5f, 0.5f + 1.5f * unit(random),
                                      {unit(random) * 3000.0f - 1500.0f, unit(random) * 40.0f,
                                       unit(random) * 3000.0f - 1500.0f});
            entity->onMoved();
            entities.push_back(std::move(entity));
        }
    }

    // The triangles of sub in world space, from its source's indices.
    std::vector<Corners> worldTriangles(const SubEntity& sub) const
    {
        EntityMesh& source = *sources.at(&sub);
        std::vector<Corners> out;
        for (int32_t i = 0; i + 2 < *source.getIndexCount(); i += 3) {
            Corners c;
            for (int k = 0; k < 3; ++k)
                c[size_t(k)] = sub.world->transformPoint(position(source, *source.getIndex(i + k)));
            out.push_back(c);
        }
        return out;
    }

    template <class Visit>
    void forEachSub(Visit visit)
    {
        for (auto& entity : entities)
            for (auto* node = entity->subEntities.head(); node; node = node->next)
                visit(*entity, *node->item);
    }

    vec3d somewhereNear(const Entity& entity)
    {
        std::uniform_real_distribution<float> jitter(-4.0f, 4.0f);
        return entity.worldBox.center + vec3d(jitter(random), jitter(random), jitter(random));
    }

    std::mt19937 random;
    EntityManager manager;
    std::vector<std::unique_ptr<EntityMesh>> meshes;
    std::vector<std::unique_ptr<Entity>> entities;
    std::map<const SubEntity*, EntityMesh*> sources;
};

// Distance along the unit direction to a one-sided triangle, in doubles.
std::optional<double> bruteRay(const Corners& c, const vec3d& origin, const vec3d& direction, bool clockwise,
                               double length)
{
    const dvec a = c[0], b = c[1], cc = c[2], o = origin, d = direction;
    const dvec n = (b - a).cross(cc - a);
    const double facing = d.dot(n);
    if (clockwise ? !(facing < 0.0) : !(facing > 0.0))
        return std::nullopt;
    const double t = n.dot(a - o) / facing;
    if (!(t > 0.0 && t < length))
        return std::nullopt;
    const dvec p(o.x + d.x * t, o.y + d.y * t, o.z + d.z * t);
    const dvec corners[3] = {a, b, cc};
    for (int k = 0; k < 3; ++k) {
        const dvec& from = corners[k];
        const dvec& to = corners[(k + 1) % 3];
        if ((to - from).cross(p - from).dot(n) < 0.0)
            return std::nullopt;
    }
    return t;
}

// Separating-axis test of a triangle against an axis-aligned box, in doubles.
bool bruteTouches(const Corners& c, const vec3d& low, const vec3d& high)
{
    const dvec centre((low.x + high.x) * 0.5, (low.y + high.y) * 0.5, (low.z + high.z) * 0.5);
    const dvec half((high.x - low.x) * 0.5, (high.y - low.y) * 0.5, (high.z - low.z) * 0.5);
    const dvec v[3] = {dvec(c[0]) - centre, dvec(c[1]) - centre, dvec(c[2]) - centre};
    const auto separates = [&](const dvec& axis) {
        double lo = 1e300, hi = -1e300;
        for (const dvec& p : v) {
            lo = std::min(lo, p.dot(axis));
            hi = std::max(hi, p.dot(axis));
        }
        const double r = half.x * std::fabs(axis.x) + half.y * std::fabs(axis.y) + half.z * std::fabs(axis.z);
        return lo > r || hi < -r;
    };
    const dvec boxAxes[3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
    const dvec edges[3] = {v[1] - v[0], v[2] - v[1], v[0] - v[2]};
    for (const dvec& a : boxAxes) {
        if (separates(a))
            return false;
        for (const dvec& e : edges)
            if (separates(a.cross(e)))
                return false;
    }
    return !separates(edges[0].cross(edges[1]));
}

TEST(EntityQueries, RayFindsTheNearestTriangleInBothWindings)
{
    Scene scene(1801);
    int hits = 0;
    std::uniform_int_distribution<size_t> pick(0, scene.entities.size() - 1);
    for (int r = 0; r < 400; ++r) {
        const Entity& aimed = *scene.entities[pick(scene.random)];
        const vec3d from = scene.somewhereNear(aimed) + vec3d(0.0f, 6.0f, 0.0f);
        const vec3d towards = scene.somewhereNear(r % 3 ? aimed : *scene.entities[pick(scene.random)]);
        const vec3d to = r % 4 == 0 ? towards : from + (towards - from).normalised() * 30.0f;
        const int32_t minLayer = r % 5 == 0 ? -1 : 0;

        EntityManager::RayQuery query(from, to, minLayer);
        for (auto* node = scene.manager.meshOctrees.head(); node; node = node->next)
            node->item->intersectRay(query);

        const double length = (dvec(to) - dvec(from)).dot(dvec(to) - dvec(from));
        std::optional<double> nearest;
        const SubEntity* nearestSub = nullptr;
        scene.forEachSub([&](const Entity& entity, const SubEntity& sub) {
            if (entity.hidden || sub.layer < minLayer)
                return;
            const bool clockwise = sub.material.cullMode == Shader::cullFront;
            for (const Corners& c : scene.worldTriangles(sub))
                if (auto t = bruteRay(c, query.origin, query.direction, clockwise, std::sqrt(length));
                    t && (!nearest || *t < *nearest)) {
                    nearest = t;
                    nearestSub = &sub;
                }
        });
        ASSERT_EQ(query.hit != nullptr, nearest.has_value()) << "ray " << r;
        if (!nearest)
            continue;
        ++hits;
        EXPECT_NEAR(query.best, *nearest, 1e-3 * std::max(1.0, *nearest)) << "ray " << r;
        EXPECT_EQ(query.hit, nearestSub) << "ray " << r;
        const vec3d expectedEnd = from + query.direction * query.best;
        EXPECT_NEAR((query.end - expectedEnd).length(), 0.0f, 1e-3f);
        EXPECT_EQ(query.uvs, query.hit->mesh().uvs.get());
        EXPECT_EQ(query.hitWorld.at(3, 0), query.hit->world->at(3, 0));
        ASSERT_NE(query.triangle, nullptr);
    }
    EXPECT_GT(hits, 120) << "the rays should mostly meet something";

    // A segment of length 0 meets nothing, even inside an entity.
    const vec3d inside = scene.entities[1]->worldBox.center;
    EntityManager::RayQuery empty(inside, inside, -1);
    for (auto* node = scene.manager.meshOctrees.head(); node; node = node->next)
        node->item->intersectRay(empty);
    EXPECT_EQ(empty.hit, nullptr);
}

TEST(EntityQueries, ContactPassEmitsEveryTouchingTriangleInWorldSpace)
{
    Scene scene(1802);
    std::uniform_int_distribution<size_t> pick(0, scene.entities.size() - 1);
    std::uniform_real_distribution<float> size(0.3f, 5.0f);
    EntityManager::MeshOctree::ContactScratch scratch;
    int touching = 0;
    for (int q = 0; q < 150; ++q) {
        CollisionQuery query;
        const vec3d centre = scene.somewhereNear(*scene.entities[pick(scene.random)]);
        const vec3d half(size(scene.random), size(scene.random), size(scene.random));
        query.boxMin = centre - half;
        query.boxMax = centre + half;
        query.minLayer = 0;
        // Earlier content stays: the pass appends behind it.
        query.vertexCount = 3;
        query.triangleCount = 1;
        for (auto* node = scene.manager.meshOctrees.head(); node; node = node->next)
            node->item->collide(query, scratch);

        std::vector<Corners> emitted;
        for (uint32_t t = 1; t < query.triangleCount; ++t) {
            const neTriangle& triangle = *query.triangles.at(int32_t(t));
            EXPECT_EQ(*query.candidates.at(int32_t(t)), int(t));
            Corners c;
            for (int k = 0; k < 3; ++k) {
                EXPECT_EQ(triangle.indices[k], int32_t(3 * t + uint32_t(k)));
                c[size_t(k)] = *query.vertices.at(triangle.indices[k]);
            }
            emitted.push_back(c);
        }
        EXPECT_EQ(query.vertexCount, 3 * query.triangleCount);

        const auto same = [](const Corners& a, const Corners& b) {
            for (size_t k = 0; k < 3; ++k)
                if ((a[k] - b[k]).lengthSq() > 1e-6f)
                    return false;
            return true;
        };
        std::vector<Corners> eligible;
        scene.forEachSub([&](const Entity& entity, const SubEntity& sub) {
            if (entity.hidden || entity.physics || sub.hidden || sub.layer < 0)
                return;
            for (const Corners& c : scene.worldTriangles(sub)) {
                eligible.push_back(c);
                if (!bruteTouches(c, query.boxMin, query.boxMax))
                    continue;
                ++touching;
                const auto count = std::count_if(emitted.begin(), emitted.end(),
                                                 [&](const Corners& e) { return same(e, c); });
                EXPECT_EQ(count, 1) << "query " << q << ": a touching triangle must come exactly once";
            }
        });
        for (const Corners& e : emitted)
            EXPECT_TRUE(std::any_of(eligible.begin(), eligible.end(), [&](const Corners& c) { return same(e, c); }))
                << "query " << q << ": only triangles of parts that collide";
        if (HasFailure())
            return;
    }
    EXPECT_GT(touching, 50);
}

TEST(EntityQueries, TreeBoxTestsMatchEveryLeaf)
{
    std::mt19937 random(1803);
    auto mesh = randomMesh(L"boxes", 120, random, 5.0f);
    const Tree* tree = MeshTools::buildTriangleTree(*mesh);
    ASSERT_NE(tree, nullptr);
    std::vector<const Tree*> leaves;
    const auto collect = [&](const auto& self, const Tree* node) -> void {
        if (!node)
            return;
        if (node->triangle)
            leaves.push_back(node);
        self(self, node->children[0]);
        self(self, node->children[1]);
    };
    collect(collect, tree);
    ASSERT_EQ(leaves.size(), 120u);

    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    int oriented = 0, aligned = 0;
    for (int q = 0; q < 300; ++q) {
        const matrix3d world = placement(unit(random) * 6.3f, unit(random), 0.5f + unit(random) * 2.0f,
                                         {unit(random) * 20.0f, 0.0f, 0.0f});
        OrientedBox box;
        box.center = vec3d(unit(random) * 40.0f - 10.0f, unit(random) * 20.0f - 10.0f, unit(random) * 20.0f - 10.0f);
        const matrix3d turn = placement(unit(random) * 6.3f, unit(random) * 3.0f, 1.0f, {});
        for (int k = 0; k < 3; ++k)
            box.axes[k] = turn.row(k);
        box.halfExtents = {unit(random) * 2.0f, unit(random) * 2.0f, unit(random) * 2.0f};

        bool bruteOriented = false;
        matrix3d inverse;
        ASSERT_TRUE(world.inverseAffine(inverse));
        BoundingBox alignedBox;
        box.alignedBounds(alignedBox.minimum, alignedBox.maximum);
        const BoundingBox local = alignedBox.carried(inverse);
        bool bruteAligned = false;
        for (const Tree* leaf : leaves) {
            OrientedBox leafBox;
            leafBox.center = leaf->box.center;
            leafBox.axes[0] = {1, 0, 0}, leafBox.axes[1] = {0, 1, 0}, leafBox.axes[2] = {0, 0, 1};
            leafBox.halfExtents = (leaf->box.maximum - leaf->box.minimum) * 0.5f;
            bruteOriented |= OrientedBox::overlaps(leafBox.carried(world), box);
            bruteAligned |= TriangleTree::overlaps(leaf->box, local.minimum, local.maximum);
        }
        EXPECT_EQ(tree->intersectsBox(world, box), bruteOriented) << q;
        EXPECT_EQ(tree->overlapsAlignedBox(world, alignedBox), bruteAligned) << q;
        oriented += bruteOriented;
        aligned += bruteAligned;
    }
    EXPECT_GT(oriented, 30);
    EXPECT_LT(oriented, 270);
    EXPECT_GE(aligned, oriented);

    // A singular placement meets nothing aligned.
    matrix3d flat = matrix3d::identity();
    flat.at(1, 1) = 0.0f;
    BoundingBox everything;
    everything.minimum = {-100, -100, -100};
    everything.maximum = {100, 100, 100};
    EXPECT_FALSE(tree->overlapsAlignedBox(flat, everything));
    EXPECT_TRUE(tree->overlapsAlignedBox(matrix3d::identity(), everything));
}

TEST(EntityQueries, RayTriangleIsOneSided)
{
    triangle3dex triangle{};
    triangle.corners[0] = {0, 0, 0};
    triangle.corners[1] = {0, 1, 0};
    triangle.corners[2] = {1, 0, 0};
    // (B - A) x (C - A) = -z: clockwise triangles face -z, the others +z.
    const struct
    {
        vec3d origin, direction;
        bool clockwise;
        float best;
        bool hit;
        float t;
    } cases[] = {
        {{0.2f, 0.2f, 5.0f}, {0, 0, -1}, false, 100.0f, true, 5.0f},
        {{0.2f, 0.2f, 5.0f}, {0, 0, -1}, true, 100.0f, false, 0.0f},
        {{0.2f, 0.2f, -5.0f}, {0, 0, 1}, true, 100.0f, true, 5.0f},
        {{0.2f, 0.2f, 5.0f}, {0, 0, -1}, false, 4.0f, false, 0.0f},
        {{0.8f, 0.8f, 5.0f}, {0, 0, -1}, false, 100.0f, false, 0.0f},
        {{0.2f, 0.2f, -5.0f}, {0, 0, -1}, true, 100.0f, false, 0.0f},
        // The edges and corners belong to the triangle: the edge through
        // the first corner (u = 0) in each winding, the other two edges and
        // a far corner.
        {{0.0f, 0.5f, 5.0f}, {0, 0, -1}, false, 100.0f, true, 5.0f},
        {{0.5f, 0.0f, -5.0f}, {0, 0, 1}, true, 100.0f, true, 5.0f},
        {{0.5f, 0.0f, 5.0f}, {0, 0, -1}, false, 100.0f, true, 5.0f},
        {{0.5f, 0.5f, 5.0f}, {0, 0, -1}, false, 100.0f, true, 5.0f},
        {{1.0f, 0.0f, 5.0f}, {0, 0, -1}, false, 100.0f, true, 5.0f},
        {{-0.001f, 0.5f, 5.0f}, {0, 0, -1}, false, 100.0f, false, 0.0f},
    };
    for (const auto& c : cases) {
        float best = c.best;
        EXPECT_EQ(TriangleTree::rayTriangle(triangle, c.origin, c.direction, c.clockwise, best), c.hit)
            << c.origin.x << " " << c.origin.y << " " << c.origin.z;
        EXPECT_FLOAT_EQ(best, c.hit ? c.t : c.best);
    }
}

}
