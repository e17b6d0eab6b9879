// Prints the cost of simulator steps, in microseconds per step on one core,
// for named scenes of the game's sizes.
#include "Physics/neSimulator.h"

#include <windows.h>

#include <cstdio>
#include <memory>
#include <random>

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

// Runs rounds of batches of three steps as the physics thread does and
// prints the cost of one step in the quickest round (the machine is shared).
void measure(const char* name, neSimulator& sim, const char* what)
{
    const int batches = 2000;
    double best = 1e9;
    for (int round = 0; round < 10; ++round) {
        const double start = now();
        for (int i = 0; i < batches; ++i)
            sim.advanceThreeSteps(nullptr, 0.05f);
        const double perStep = (now() - start) / (3.0 * batches) * 1e6;
        if (perStep < best)
            best = perStep;
    }
    std::printf("%-8s %6.2f us per step   (%s)\n", name, best, what);
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

} // namespace

int main()
{
    SetThreadAffinityMask(GetCurrentThread(), 1);
    race();
    crowd();
    return 0;
}
