#pragma once

#include "Physics/neSimulator.h"

#include <memory>
#include <string>
#include <vector>

// A simulator with the game's sizes (or others), gravity off unless given,
// and a log that collects every message.
struct TestSimulator
{
    static inline std::vector<std::string> messages;
    static void collect(char* text) { messages.emplace_back(text); }

    std::unique_ptr<neSimulator> sim;

    static neSimulatorSizes gameSizes() { return neSimulatorSizes::game(128); }

    explicit TestSimulator(const neSimulatorSizes& sizes = gameSizes(), vec3d gravity = {})
        : sim(neSimulator::createSimulator(sizes, nullptr, &gravity))
    {
        messages.clear();
        sim->logLevel = 1;
        sim->logCallback = collect;
    }

    neSimulator* operator->() { return sim.get(); }

    // A rigid body with one box of full size (sx, sy, sz) at pos.
    neRigidBody* box(vec3d pos, vec3d size = {1, 1, 1})
    {
        neRigidBody* b = sim->createRigidBody();
        neGeometry* g = b->addGeometry();
        g->setBoxSize(size.x, size.y, size.z);
        b->updateBounds();
        matrix3d t = matrix3d::identity();
        neSetRow(t, 3, pos);
        b->setPose(t);
        return b;
    }

    // One step of length h.
    void step(float h = 1.0f / 75.0f) { sim->advance(h, h, h); }
};

inline matrix3d translation(vec3d p)
{
    matrix3d t = matrix3d::identity();
    neSetRow(t, 3, p);
    return t;
}

// A rotation of angle a about a unit axis, as a transform at p.
inline matrix3d rotation(vec3d axis, float a, vec3d p = {})
{
    axis = axis.normalised();
    const float s = std::sin(a / 2), c = std::cos(a / 2);
    const neM3 r = neRotationOf({axis.x * s, axis.y * s, axis.z * s, c});
    matrix3d t = translation(p);
    for (int i = 0; i < 3; ++i)
        neSetRow(t, i, r.r[i]);
    return t;
}
