// The contact stage of a step: the broad phase's pairs and every moving body
// against the terrain through the collision pass (or the owner's own test),
// the sensors, the response that pushes bodies apart and records resting
// contacts, and the reports to the owner. Also the breaking off of
// geometries that a hard enough impulse meets.
#include "Physics/neSimulator.h"
#include "Physics/neTerrainLoop.h"

#include <utility>

namespace
{

// Below this speed across its normal a contact counts as resting.
constexpr float neRestingSlide = 0.1f;

vec3d velocityAt(neRigidBodyBase* b, const vec3d& arm)
{
    return b->isRigid() ? b->asRigid()->velocity + b->asRigid()->angularVelocity.cross(arm) : vec3d();
}

bool usable(const neCollisionResult& r)
{
    const vec3d n = r.normal();
    return neFinite(n) && (n.x != 0.0f || n.y != 0.0f || n.z != 0.0f) && std::isfinite(r.depth);
}

// A fresh record for one pair.
void startRecord(neCollisionResult& r, neRigidBodyBase* a, neRigidBodyBase* b)
{
    r = neCollisionResult{};
    r.reset();
    r.bodyA = a;
    r.bodyB = b;
    r.weight = 1.0f;
}

// A contact found: a collision row of the pair (the pass copies its own
// working record over everything else).
void finishRecord(neCollisionResult& r, neRigidBodyBase* a, neRigidBodyBase* b)
{
    r.kind = neCollisionResult::collision;
    r.bodyA = a;
    r.bodyB = b;
    r.weight = 1.0f;
    r.target = 0.0f;
    r.constraint = nullptr;
    r.relativeVelocity = {};
}

} // namespace

void neSimulator::collidePairs()
{
    neCollisionResult r;
    for (neOverlapPair* pair = region.overlapPairs().head; pair; pair = pair->next) {
        neRigidBodyBase* a = pair->bodyA;
        neRigidBodyBase* b = pair->bodyB;
        if (!a->isRigid() && !b->isRigid())
            continue;
        const uint32_t flags = pairResponse(*a, *b);
        if (flags == 0)
            continue;

        // Bodies at rest meet nothing new, unless the solver still works on them.
        bool test;
        if (a->isRigid() && b->isRigid()) {
            const neRigidBody* ra = a->asRigid();
            const neRigidBody* rb = b->asRigid();
            const bool bothRest = ra->restState == neAtRest && rb->restState == neAtRest;
            if (!a->constraintGroup || a->constraintGroup != b->constraintGroup)
                test = !(bothRest && ra->solverMark == 0 && rb->solverMark == 0);
            else
                test = a->contactWords[0] != 0 && b->contactWords[0] != 0 && !bothRest;
        } else {
            const neRigidBody* rigid = (a->isRigid() ? a : b)->asRigid();
            const neAnimatedBody* animated = static_cast<const neAnimatedBody*>(a->isRigid() ? b : a);
            test = !(rigid->restState == neAtRest && rigid->solverMark == 0 && animated->moved == 0);
        }
        if (!test)
            continue;

        startRecord(r, a, b);
        bool custom = false;
        if (!a->customCollision && !b->customCollision) {
            neCollideBodies(r, a->collisionView(), b->collisionView(), *a->getTransform(), *b->getTransform(),
                            collisionScratch);
            if (a->isRigid())
                a->collideSensors(b->collisionView(), b, *b->getTransform());
            if (b->isRigid())
                b->collideSensors(a->collisionView(), a, *a->getTransform());
        } else {
            custom = true;
            customContact(r, a, b);
        }
        if (!r.collided)
            continue;
        finishRecord(r, a, b);
        const bool skipped = a->isRigid() && b->isRigid() && a->asRigid()->restState == neSkipVelocity
                             && b->asRigid()->restState == neSkipVelocity;
        if ((flags & 1) && usable(r) && !skipped)
            respondToContact(r, a, b);
        // A contact the owner found itself is resolved, never reported.
        if ((flags & 2) && collisionCallback && !custom)
            reportPair(r, a, b);
    }
}

bool neSimulator::customContact(neCollisionResult& r, neRigidBodyBase* a, neRigidBodyBase* b)
{
    neCustomCollision found{};
    int filled = 0;
    if (a->isRigid() && b->isRigid()) {
        if (customCollisionCallback)
            filled = customCollisionCallback(a->asRigid(), b->asRigid(), &found);
    } else {
        neRigidBody* rigid = (a->isRigid() ? a : b)->asRigid();
        neAnimatedBody* animated = static_cast<neAnimatedBody*>(a->isRigid() ? b : a);
        if (customAnimatedCollisionCallback)
            filled = customAnimatedCollisionCallback(rigid, animated, &found);
        if (filled && animated == a) {
            // The rigid body came first: seen from the pair's order.
            found.normal = -found.normal;
            std::swap(found.pointFirst, found.pointSecond);
            std::swap(found.userDataFirst, found.userDataSecond);
        }
    }
    if (!filled)
        return false;
    const matrix3d& ta = *a->getTransform();
    const matrix3d& tb = *b->getTransform();
    r.setNormal(found.normal);
    r.userDataA = found.userDataFirst;
    r.userDataB = found.userDataSecond;
    r.worldPointA = found.pointFirst;
    r.worldPointB = found.pointSecond;
    r.pointA = found.pointFirst - nePosition(ta);
    r.pointB = found.pointSecond - nePosition(tb);
    r.pointABody = neDirectionToFrame(ta, r.pointA);
    r.pointBBody = neDirectionToFrame(tb, r.pointB);
    r.depth = found.depth;
    r.collided = 1;
    // No geometry of either body is named, so no break test reads one.
    r.geometryA = r.geometryB = nullptr;
    const float length = neLength(found.normal);
    if (length > 0.0f) {
        const neM3 around = basis(found.normal / length);
        r.frame.r[0] = around.r[1];
        r.frame.r[1] = around.r[2];
    }
    return true;
}

void neSimulator::reportPair(const neCollisionResult& r, neRigidBodyBase* a, neRigidBodyBase* b)
{
    neCollisionReport& report = pairReport;
    report.bodyA = a;
    report.bodyB = b;
    report.typeA = a->isRigid() ? neCollisionReport::rigid : neCollisionReport::animated;
    report.typeB = b->isRigid() ? neCollisionReport::rigid : neCollisionReport::animated;
    report.geometryA = r.geometryA;
    report.geometryB = r.geometryB;
    report.userDataA = r.userDataA;
    report.userDataB = r.userDataB;
    report.localPointA = r.pointABody;
    report.localPointB = r.pointBBody;
    report.worldPointA = r.worldPointA;
    report.worldPointB = r.worldPointB;
    report.relativeVelocity = r.relativeVelocity;
    report.normal = r.normal();
    collisionCallback(&report);
}

bool neSimulator::queryTerrain(neRigidBody* body)
{
    neTerrainTriangles& found = terrainGeometry.shape.terrain;
    found = {};
    if (terrainTriangleQueryCallback) {
        if (report) {
            const uint64_t start = timer.now();
            terrainTriangleQueryCallback(body->minBound, body->maxBound, found, body);
            timer.stages[PerfTimer::terrainQuery] += timer.seconds(start, timer.now());
        } else {
            terrainTriangleQueryCallback(body->minBound, body->maxBound, found, body);
        }
    } else if (terrainNodeCount > 0) {
        // The static mesh's triangles in the nodes the box reaches into.
        terrainNodeList.clear();
        terrainTriangleList.clear();
        const vec3d& lo = body->minBound;
        const vec3d& hi = body->maxBound;
        for (int32_t i = 0; i < terrainNodeCount; ++i) {
            const TerrainNode& node = terrainNodes[i];
            if (node.lo.x > hi.x || node.hi.x < lo.x || node.lo.y > hi.y || node.hi.y < lo.y || node.lo.z > hi.z
                || node.hi.z < lo.z)
                continue;
            if (!terrainNodeList.push(&node))
                break;
        }
        for (int32_t i = 0; i < terrainNodeList.count(); ++i) {
            const TerrainNode& node = *terrainNodeList[i];
            for (int32_t k = 0; k < node.count; ++k)
                if (!terrainTriangleList.push(terrainNodeOrder[node.first + k]))
                    break;
        }
        if (terrainTriangleList.count() > 0)
            found = {&terrainTriangleList[0], terrainTriangleList.count(), terrainMesh.triangles,
                     terrainMesh.triangleCount, terrainMesh.vertices, terrainMesh.vertexCount, 0};
    }
    return found.candidateCount > 0 && found.candidates && found.triangles && found.vertices;
}

void neSimulator::collideBodyWithTerrain(neRigidBody* body)
{
    const uint32_t flags = terrainResponseOf(*body);
    if (flags == 0 && !body->sensorHead)
        return; // nothing would come of it
    if (!queryTerrain(body))
        return;
    const matrix3d identity = matrix3d::identity();
    const neCollisionView terrain{&terrainGeometry, &terrainGeometry, 1};
    neCollisionResult r;
    startRecord(r, body, &terrainBody);
    neCollideBodies(r, body->collisionView(), terrain, body->state().transform, identity, collisionScratch);
    body->collideSensors(terrain, nullptr, identity);
    if (!r.collided)
        return;
    finishRecord(r, body, &terrainBody);
    if ((flags & 1) && body->restState != neSkipVelocity && usable(r))
        respondToContact(r, body, &terrainBody);
    if ((flags & 2) && collisionCallback) {
        neCollisionReport& report = terrainReport;
        report.bodyA = body;
        report.bodyB = nullptr;
        report.typeA = neCollisionReport::rigid;
        report.typeB = neCollisionReport::terrain;
        report.geometryA = r.geometryA;
        report.geometryB = nullptr;
        report.userDataA = r.userDataA;
        report.userDataB = r.userDataB;
        report.localPointA = r.pointABody;
        report.localPointB = r.pointBBody;
        report.worldPointA = r.worldPointA;
        report.worldPointB = r.worldPointB;
        report.relativeVelocity = r.relativeVelocity;
        report.normal = r.normal();
        collisionCallback(&report);
    }
}

void neSimulator::collideTerrain()
{
    for (neList<neRigidBody>* list : {&activeRigidBodies, &activeParticles})
        for (neRigidBody* b = list->head; b; b = b->next) {
            if (b->restState == neAtRest && b->solverMark == 0)
                continue;
            if (b->geometryCount == 0 && !b->sensorHead)
                continue;
            collideBodyWithTerrain(b);
        }
}

void neSimulator::respondToContact(neCollisionResult& r, neRigidBodyBase* a, neRigidBodyBase* b)
{
    neRigidBodyBase* rigidSide = a->isRigid() ? a : b->isRigid() ? b : nullptr;
    if (rigidSide) {
        neRigidBodyBase* other = rigidSide == a ? b : a;
        if (neRigidBodyBase::sharesConstraint(*rigidSide, *other) && (a->contactWords[1] == 0 || b->contactWords[1] == 0))
            return;
    }
    if (a->isRigid() && b->isRigid() && b->isParticle()) {
        // A particle takes the impulse and is moved out of the overlap, away from A.
        r.prepare(false);
        applyContact(r, 1);
        neRigidBody* particle = b->asRigid();
        neSetRow(particle->state().transform, 3, particle->position() - r.normal() * r.depth);
        particle->boundsFresh = 0;
        return;
    }

    r.relativeVelocity = velocityAt(a, r.pointA) - velocityAt(b, r.pointB);
    // The body above (against the gravity) rests on the other one.
    const bool upperIsA = !(gravityDirection.dot(r.normal()) >= 0.0f);
    neRigidBodyBase* upper = upperIsA ? a : b;
    neRigidBodyBase* lower = upperIsA ? b : a;
    if (upper->isRigid()) {
        r.prepare(false);
        applyContact(r, 1);
        const vec3d up = upperIsA ? r.normal() : -r.normal(); // from the lower body to the upper one
        // A contact that slides stays at the middle of tied corners, where
        // its friction turns nothing; one that has all but stopped stands at
        // a corner, from which the body finds its support and its rest.
        const vec3d n = r.normal();
        const vec3d across = r.relativeVelocity - n * r.relativeVelocity.dot(n);
        const vec3d shift = across.lengthSq() < neRestingSlide * neRestingSlide ? r.restShift : vec3d();
        const vec3d restA = neDirectionToFrame(*a->getTransform(), r.pointA + shift);
        const vec3d restB = neDirectionToFrame(*b->getTransform(), r.pointB + shift);
        neRestingContact resting{};
        neRigidBody::setRestingContact(resting, lower, upperIsA ? restA : restB,
                                       upperIsA ? restB : restA, upperIsA ? r.userDataA : r.userDataB,
                                       upperIsA ? r.userDataB : r.userDataA,
                                       neDirectionToFrame(*lower->getTransform(), up), r.depth);
        upper->asRigid()->addToStack(resting);
    } else if (lower->isRigid()) {
        // Nothing above can move: the lower body is pushed out of the overlap.
        const float massA = a->isRigid() ? a->asRigid()->mass : 0.0f;
        const float massB = b->isRigid() ? b->asRigid()->mass : 0.0f;
        for (neRigidBodyBase* side : {a, b}) {
            if (!side->isRigid())
                continue;
            const float otherMass = side == a ? massB : massA;
            const float share = otherMass > 0.0f ? otherMass / (massA + massB) : 1.0f;
            neRigidBody* body = side->asRigid();
            const vec3d along = r.normal() * (r.depth * share * (side == a ? 1.0f : -1.0f));
            neSetRow(body->state().transform, 3, body->position() + along);
            body->boundsFresh = 0;
            body->separated = 1;
        }
        r.prepare(false);
        applyContact(r, 1);
    }
}

void neRigidBodyBase::collideSensors(const neCollisionView& other, neRigidBodyBase* otherBody,
                                     const matrix3d& otherTransform)
{
    if (!sensorHead || !other.geometries)
        return;
    const matrix3d& own = *getTransform();
    for (neSensor* sensor = sensorHead; sensor; sensor = sensor->next) {
        const vec3d start = neFromFrame(own, sensor->start);
        const vec3d along = neDirectionFromFrame(own, sensor->vector);
        int32_t left = other.count;
        for (const neGeometry* g = other.geometries; g && left > 0; g = g->next, --left) {
            bool hit = false;
            float depth = 0.0f;
            vec3d normal, point;
            uint32_t userData = 0;
            if (g->type == neShapeBox) {
                // Slab clipping in the box's frame: the segment's entry point.
                const matrix3d world = neCompose(g->transform, otherTransform);
                const vec3d p = neToFrame(world, start), d = neDirectionToFrame(world, along), h = g->halfExtents();
                float enter = -1e30f, leave = 1e30f;
                int face = -1;
                bool missed = false;
                for (int k = 0; k < 3 && !missed; ++k) {
                    if (absFloat(d[k]) < 1e-6f) {
                        missed = p[k] < -h[k] || p[k] > h[k];
                        continue;
                    }
                    float t0 = (-h[k] - p[k]) / d[k], t1 = (h[k] - p[k]) / d[k];
                    if (t0 > t1)
                        std::swap(t0, t1);
                    if (t0 > enter) {
                        enter = t0;
                        face = k;
                    }
                    if (t1 < leave)
                        leave = t1;
                }
                if (!missed && face >= 0 && enter <= leave && enter >= 0.0f && enter <= 1.0f) {
                    hit = true;
                    depth = (1.0f - enter) * sensor->length;
                    const vec3d axis = neAxis(world, face);
                    normal = d[face] > 0.0f ? -axis : axis;
                    point = start + along * enter;
                    userData = g->userData;
                }
            } else if (g->type == neShapeTerrain) {
                // The last triangle the segment crosses, in candidate order.
                const neTerrainTriangles& t = g->shape.terrain;
                for (int32_t k = 0; k < t.candidateCount && t.candidates && t.triangles && t.vertices; ++k) {
                    const int32_t index = t.candidates[k];
                    if (index < 0 || index >= t.triangleCount)
                        continue;
                    const neTriangle& triangle = t.triangles[index];
                    bool valid = true;
                    for (int32_t i : triangle.indices)
                        valid = valid && i >= 0 && i < t.vertexCount;
                    if (!valid)
                        continue;
                    neTriangleWork work;
                    work.build(t.vertices[triangle.indices[0]], t.vertices[triangle.indices[1]],
                               t.vertices[triangle.indices[2]]);
                    const float across = work.normal.dot(along);
                    if (across == 0.0f)
                        continue;
                    const float at = (work.d - work.normal.dot(start)) / across;
                    if (!(at >= 0.0f && at <= 1.0f))
                        continue;
                    const vec3d crossing = start + along * at;
                    if (!work.contains(crossing))
                        continue;
                    hit = true;
                    depth = (1.0f - at) * sensor->length;
                    normal = work.normal.dot(start - crossing) >= 0.0f ? work.normal : -work.normal;
                    point = crossing;
                    userData = triangle.userData;
                }
            }
            if (hit && depth > sensor->depth) {
                sensor->depth = depth;
                sensor->normal = normal;
                sensor->point = point;
                sensor->userData = userData;
                sensor->detected = otherBody;
            }
        }
    }
}

int neSimulator::testGeometryBreak(neGeometry* g, vec3d& impulse, neRigidBodyBase* body, const vec3d& worldPoint)
{
    // The impulse across the break plane is what breaks; it is limited to
    // the threshold, and the piece takes its share of it.
    const vec3d w = neDirectionFromFrame(*body->getTransform(), neDirectionFromFrame(g->transform, g->breakNormal));
    const vec3d normalPart = w * w.dot(impulse);
    vec3d inPlane = impulse - normalPart;
    const float m = neLength(inPlane);
    if (m < g->breakThreshold)
        return 0;
    if (m > 0.0f)
        inPlane = inPlane * (g->breakThreshold / m);
    impulse = normalPart + inPlane * (1.0f - g->breakShare);
    const uint32_t code = body->isRigid() ? 1u : 2u;
    neRigidBody* piece = nullptr;
    if (g->breakKind == 1 || g->breakKind == 4) {
        piece = splitGeometry(body, g);
        if (piece)
            piece->applyImpulseAtArm(inPlane * g->breakShare, worldPoint - piece->position());
    }
    if (code == 2)
        impulse = {};
    if (!piece)
        return 0;
    breakCallback(body, code, g, piece);
    return 1;
}

neRigidBody* neSimulator::splitGeometry(neRigidBodyBase* body, neGeometry* g)
{
    const neGeometry* found = body->geometryHead;
    while (found && found != g)
        found = found->next;
    if (!found || body->geometryCount <= 1)
        return nullptr;
    neRigidBody* piece = createRigidBody();
    if (!piece)
        return nullptr;
    piece->mass = g->breakMass > 0.0f ? g->breakMass : 1.0f;
    piece->inverseMass = 1.0f / piece->mass;
    piece->setInertiaTensor(g->inertia);
    piece->setPose(neCompose(g->transform, *body->getTransform()));
    piece->updateDerived();
    g->breakKind = 0; // a geometry breaks once

    if (g->prev)
        g->prev->next = g->next;
    else
        body->geometryHead = g->next;
    if (g->next)
        g->next->prev = g->prev;
    if (--body->geometryCount == 1)
        body->updateBounds();

    g->transform = matrix3d::identity();
    g->next = g->prev = nullptr;
    piece->geometryHead = g;
    piece->geometryCount = 1;
    piece->updateBounds();
    region.addBody(piece, body);
    return piece;
}

void neSimulator::releaseTerrainMesh()
{
    if (terrainNodes)
        alloc->free(terrainNodes);
    if (terrainNodeOrder)
        alloc->free(terrainNodeOrder);
    terrainNodes = nullptr;
    terrainNodeOrder = nullptr;
    terrainNodeCount = 0;
    terrainMesh = {};
}

bool neSimulator::setTerrainMesh(const neTerrainMesh& mesh)
{
    releaseTerrainMesh();
    if (mesh.triangleCount <= 0 || !mesh.triangles || !mesh.vertices || mesh.vertexCount <= 0)
        return true;
    // Nodes of up to 16 triangles in the mesh's order, each with its box.
    constexpr int32_t perNode = 16;
    const int32_t nodeCount = (mesh.triangleCount + perNode - 1) / perNode;
    terrainNodes = static_cast<TerrainNode*>(alloc->alloc(sizeof(TerrainNode) * size_t(nodeCount), 0));
    terrainNodeOrder = static_cast<int32_t*>(alloc->alloc(sizeof(int32_t) * size_t(mesh.triangleCount), 0));
    if (!terrainNodes || !terrainNodeOrder) {
        releaseTerrainMesh();
        return false;
    }
    terrainMesh = mesh;
    int32_t listed = 0;
    for (int32_t n = 0; n < nodeCount; ++n) {
        TerrainNode& node = terrainNodes[terrainNodeCount];
        node.lo = {1e30f, 1e30f, 1e30f};
        node.hi = {-1e30f, -1e30f, -1e30f};
        node.first = listed;
        node.count = 0;
        for (int32_t t = n * perNode; t < (n + 1) * perNode && t < mesh.triangleCount; ++t) {
            bool valid = true;
            for (int32_t i : mesh.triangles[t].indices)
                valid = valid && i >= 0 && i < mesh.vertexCount;
            if (!valid)
                continue; // a triangle past the vertices is no triangle
            for (int32_t i : mesh.triangles[t].indices)
                for (int k = 0; k < 3; ++k) {
                    node.lo[k] = node.lo[k] < mesh.vertices[i][k] ? node.lo[k] : mesh.vertices[i][k];
                    node.hi[k] = node.hi[k] > mesh.vertices[i][k] ? node.hi[k] : mesh.vertices[i][k];
                }
            terrainNodeOrder[listed++] = t;
            ++node.count;
        }
        if (node.count > 0)
            ++terrainNodeCount;
    }
    return true;
}
