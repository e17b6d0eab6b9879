// Prints the cost of simulator steps, in microseconds per step on one core,
// for named scenes of the game's sizes.
#include "Physics/neCollideShapes.h"
#include "Physics/neConvex.h"
#include "Physics/neSimulator.h"
#include "Physics/neTriangle.h"

#include <windows.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>
#include <random>
#include <vector>

namespace
{

double now()
{
    LARGE_INTEGER c, f;
    QueryPerformanceCounter(&c);
    QueryPerformanceFrequency(&f);
    return double(c.QuadPart) / double(f.QuadPart);
}

neRigidBody* addBox(neSimulator& sim, vec3d p, vec3d v)
{
    neRigidBody* b = sim.createRigidBody();
    b->addGeometry()->setBoxSize(1.0f, 0.8f, 2.0f);
    b->updateBounds();
    matrix3d t = matrix3d::identity();
    t.m[12] = p.x;
    t.m[13] = p.y;
    t.m[14] = p.z;
    b->setPose(t);
    b->velocity = v;
    b->setAngularMomentum({0.1f, 0.3f, -0.2f});
    return b;
}

// The quickest and the median of a round's figures (the machine is shared:
// the minimum is what the code costs, the median what a busy core gives).
struct Figures
{
    double minimum;
    double median;
};

Figures figures(std::vector<double> rounds)
{
    std::sort(rounds.begin(), rounds.end());
    return {rounds.front(), rounds[rounds.size() / 2]};
}

// Runs rounds of batches of three steps as the physics thread does and
// prints the cost of one step.
void measure(const char* name, neSimulator& sim, const char* what)
{
    const int batches = 50;
    std::vector<double> rounds;
    for (int round = 0; round < 301; ++round) {
        const double start = now();
        for (int i = 0; i < batches; ++i)
            sim.advanceThreeSteps(nullptr, 0.05f);
        rounds.push_back((now() - start) / (3.0 * batches) * 1e6);
    }
    const Figures f = figures(rounds);
    std::printf("%-8s %6.2f us per step (median %6.2f)   (%s)\n", name, f.minimum, f.median, what);
}

void race()
{
    const vec3d gravity{0, -9.81f, 0};
    std::unique_ptr<neSimulator> sim(neSimulator::createSimulator(neSimulatorSizes::game(128), nullptr, &gravity));
    std::mt19937 random(3);
    std::uniform_real_distribution<float> u(-200.0f, 200.0f);
    // Eight quads driving in a loose pack; no contact stage yet, so gravity is
    // balanced by an equal external force to keep them level.
    for (int i = 0; i < 8; ++i) {
        neRigidBody* b = addBox(*sim, {float(i) * 4.0f, 0, 0}, {0, 0, 15.0f + float(i)});
        b->externalForce = -gravity * b->mass;
    }
    for (int i = 0; i < 100; ++i)
        addBox(*sim, {u(random), 0, u(random)}, {})->putToRest();
    for (int i = 0; i < 16; ++i) {
        neAnimatedBody* a = sim->createAnimatedBody();
        a->addGeometry()->setBoxSize(1, 1, 1);
        a->updateBounds();
        a->switchActive();
    }
    measure("race", *sim, "8 moving boxes, 100 resting, 16 inactive animated; integration and broad phase");
}

void crowd()
{
    std::unique_ptr<neSimulator> sim(neSimulator::createSimulator(neSimulatorSizes::game(128), nullptr, nullptr));
    std::mt19937 random(4);
    std::uniform_real_distribution<float> u(-1.0f, 1.0f);
    // 128 bodies milling about in a 40 m square, turning round at its edge.
    std::vector<neRigidBody*> bodies;
    for (int i = 0; i < 128; ++i)
        bodies.push_back(addBox(*sim, {u(random) * 20, u(random) * 2, u(random) * 20}, {u(random) * 5, 0, u(random) * 5}));
    struct Fence : neRigidBodyControllerCallback
    {
        void onControllerStep(neController* c, float) override
        {
            const vec3d p = c->body->position();
            c->force = {-p.x * 2.0f, -p.y * 2.0f, -p.z * 2.0f};
        }
    } fence;
    for (neRigidBody* b : bodies)
        b->addController(&fence);
    measure("crowd", *sim, "128 moving bodies");
}

matrix3d pose(float angle, vec3d axis, vec3d at)
{
    axis = axis.normalised();
    const float s = std::sin(angle / 2), c = std::cos(angle / 2);
    const neM3 r = neRotationOf({axis.x * s, axis.y * s, axis.z * s, c});
    matrix3d t = matrix3d::identity();
    for (int i = 0; i < 3; ++i) {
        t.m[i * 4] = r.r[i].x;
        t.m[i * 4 + 1] = r.r[i].y;
        t.m[i * 4 + 2] = r.r[i].z;
    }
    t.m[12] = at.x;
    t.m[13] = at.y;
    t.m[14] = at.z;
    return t;
}

// Prints the cost of one call of a narrow-phase test over rounds of calls.
template <class Call>
void perCall(const char* name, Call call)
{
    // Short rounds: on a shared machine some of them run without a switch.
    const int calls = 2000, roundCount = 301;
    std::vector<double> rounds;
    int hits = 0;
    for (int round = 0; round < roundCount; ++round) {
        const double start = now();
        for (int i = 0; i < calls; ++i)
            hits += call(i);
        rounds.push_back((now() - start) / calls * 1e6);
    }
    const Figures f = figures(rounds);
    std::printf("%-22s %6.3f us per call (median %6.3f; %d contacts)\n", name, f.minimum, f.median, hits / roundCount);
}

// 32 triangles of gently waved ground, cells of the given size, centred on
// the origin, as the terrain query hands them over.
struct Ground
{
    std::vector<vec3d> vertices;
    std::vector<neTriangle> triangles;
    std::vector<int32_t> candidates;
    neGeometry geometry{};

    explicit Ground(float cell)
    {
        for (int z = 0; z <= 4; ++z)
            for (int x = 0; x <= 4; ++x)
                vertices.push_back({(float(x) - 2.0f) * cell, 0.05f * std::sin(float(x * 3 + z)), (float(z) - 2.0f) * cell});
        for (int z = 0; z < 4; ++z)
            for (int x = 0; x < 4; ++x) {
                const int32_t i = z * 5 + x;
                candidates.push_back(int32_t(triangles.size()));
                triangles.push_back({{i, i + 5, i + 1}, 1, 0, nullptr});
                candidates.push_back(int32_t(triangles.size()));
                triangles.push_back({{i + 1, i + 5, i + 6}, 1, 0, nullptr});
            }
        geometry.reset();
        geometry.type = neShapeTerrain;
        geometry.shape.terrain = {candidates.data(), int32_t(candidates.size()), triangles.data(),
                                  int32_t(triangles.size()), vertices.data(), int32_t(vertices.size())};
    }
};

void narrowPhase()
{
    // The triangles of a query around a 1.2 x 0.8 x 2 m box: cells of 0.75 m.
    const Ground ground(0.75f);
    neGeometry box{}, other{}, ball{};
    box.reset();
    box.setBoxSize(1.2f, 0.8f, 2.0f);
    other.reset();
    other.setBoxSize(1.0f, 1.0f, 1.0f);
    ball.reset();
    ball.setSphere(0.4f);
    // Resting tilted on the ground with one corner in it, and sunk into it all over.
    const matrix3d resting = pose(0.12f, {1, 0, 0.3f}, {0.1f, 0.47f, -0.2f});
    const matrix3d sunk = pose(0.12f, {1, 0, 0.3f}, {0.1f, 0.3f, -0.2f});
    const matrix3d otherPose = pose(0.9f, {3, 1, 2}, {0.6f, 1.0f, 0.3f});
    const matrix3d ballPose = pose(0.0f, {0, 1, 0}, {0.2f, 0.38f, 0.1f});
    neCollisionResult r{};
    perCall("box / 32 triangles", [&](int) { neCollideBoxTerrain(r, box, resting, ground.geometry); return int(r.collided); });
    perCall("  (sunk all over)", [&](int) { neCollideBoxTerrain(r, box, sunk, ground.geometry); return int(r.collided); });
    perCall("box / box", [&](int) { neCollideBoxes(r, box, other, resting, otherPose); return int(r.collided); });
    perCall("sphere / 32 triangles", [&](int) { neCollideSphereTerrain(r, ball, ballPose, ground.geometry); return int(r.collided); });

    perCall("convex search, 2 boxes", [&](int) { neCollideConvex(r, box, resting, other, otherPose); return int(r.collided); });
}

} // namespace

int main()
{
    SetThreadAffinityMask(GetCurrentThread(), 1);
    race();
    crowd();
    narrowPhase();
    return 0;
}
