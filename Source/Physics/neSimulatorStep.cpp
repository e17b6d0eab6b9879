// The simulator's step and the two ways of advancing time.
#include "Physics/neSimulator.h"

#include <cmath>

namespace
{

void resetSensors(neRigidBodyBase& body)
{
    for (neSensor* s = body.sensorHead; s; s = s->next) {
        s->depth = 0.0f;
        s->detected = nullptr;
    }
}

} // namespace

void neSimulator::step()
{
    const bool timed = report != nullptr;

    // Sensor reset and body preparation, one pass over each list. A body
    // held at rest keeps its pose, and so its world box, from step to step.
    for (neList<neRigidBody>* list : {&activeRigidBodies, &activeParticles})
        for (neRigidBody* b = list->head; b; b = b->next) {
            resetSensors(*b);
            if (b->restState != neAtRest || !b->boundsFresh) {
                b->updateRegionBounds();
                b->boundsFresh = 1;
            }
        }
    for (neAnimatedBody* a = activeAnimatedBodies.head; a; a = a->next) {
        resetSensors(*a);
        if (a->moved)
            a->updateRegionBounds();
    }

    if (timed)
        timer.restart();
    region.update();
    if (timed)
        timer.stages[PerfTimer::broadPhase] += timer.elapsed();

    collidePairs();
    if (timed)
        timer.stages[PerfTimer::contactPairs] += timer.elapsed();
    collideTerrain();
    if (timed)
        timer.stages[PerfTimer::terrainContacts] += timer.elapsed();

    // The force reset: the controller sums gathered at the end of the last
    // step stay for this step's velocity update.
    for (neRigidBody* b = activeRigidBodies.head; b; b = b->next)
        b->totalForce = b->totalTorque = {};
    for (neRigidBody* p = activeParticles.head; p; p = p->next)
        p->totalForce = p->totalTorque = {};

    for (neConstraintGroup* g = constraintGroups.used.head; g; g = g->next)
        for (neConstraint* c = g->first; c; c = c->nextInGroup)
            if (c->enabled)
                c->dampRotation();

    heldAtRest = 0;
    if (timed)
        timer.restart();
    for (neRigidBody* b = activeRigidBodies.head; b; b = b->next)
        b->advanceVelocity(stepLength);
    for (neRigidBody* p = activeParticles.head; p; p = p->next)
        p->advanceVelocity(stepLength);
    if (timed)
        timer.stages[PerfTimer::velocity] += timer.elapsed();

    for (neStack* s = stacks.used.head; s; s = s->next)
        s->queued = 0;

    if (timed)
        timer.restart();
    if (constraintGroups.used.count > 0)
        solveConstraintGroups();
    markStacks();
    solverStage();
    if (timed)
        timer.stages[PerfTimer::solver] += timer.elapsed();

    for (neList<neRigidBody>* list : {&activeRigidBodies, &activeParticles}) {
        for (neRigidBody* b = list->head; b; b = b->next) {
            b->stepped = 1;
            if (b->restState == neAtRest)
                continue;
            if (!b->constraintGroup)
                b->countRest();
            if (b->restState != neAtRest)
                b->advancePosition(stepLength);
        }
    }
    if (timed)
        timer.stages[PerfTimer::integration] += timer.elapsed();

    for (neConstraintGroup* g = constraintGroups.used.head; g; g = g->next)
        for (neConstraint* c = g->first; c; c = c->nextInGroup)
            if (c->enabled)
                c->stepControllers();
    if (timed)
        timer.stages[PerfTimer::constraintPostStep] += timer.elapsed();
}

void neSimulator::clearAnimatedMoves()
{
    for (neAnimatedBody* a = activeAnimatedBodies.head; a; a = a->next)
        a->moved = 0;
}

void neSimulator::advanceThreeSteps(nePerformanceReport* r, float time)
{
    report = r;
    stepLength = time / 3.0f;
    inverseStepLength = 1.0f / stepLength;
    stepIndexMod10 = stepCount % 10;
    if (report) {
        for (float& v : report->values)
            v = 0.0f;
        for (float& s : timer.stages)
            s = 0.0f;
        timer.restart();
    }
    for (int i = 0; i < 3; ++i)
        step();
    clearAnimatedMoves();
    if (report) {
        float total = 0.0f;
        for (float s : timer.stages)
            total += s;
        if (report->mode == nePerformanceReport::lastCall) {
            report->values[0] = total;
        } else if (total < 100.0f) {
            ++report->samples;
            report->accumulated += total;
            report->values[0] = report->accumulated / float(report->samples);
        }
    }
    ++stepCount;
}

void neSimulator::advance(float time, float minimumTime, float maximumStep)
{
    report = nullptr;
    // Nothing can be consumed from a non-finite or negative time, or with
    // steps that do not move time on.
    if (!(time >= 0.0f) || !std::isfinite(time) || !(minimumTime > 0.0f) || !(maximumStep > 0.0f))
        return;
    float acc = accumulator + time;
    float h = maximumStep;
    while (acc >= minimumTime) {
        if (h <= acc) {
            while (acc >= h) {
                const float last = lastStepLength;
                if (last > 0.0f && std::isfinite(last) && absFloat(h - last) / last > 0.2f)
                    h = last < h ? last * 1.2f : last * 0.8f;
                stepLength = h;
                inverseStepLength = 1.0f / h;
                stepIndexMod10 = stepCount % 10;
                step();
                ++stepCount;
                lastStepLength = h;
                const float left = acc - h;
                if (!(left < acc)) {
                    // A backlog too large for the step to make a dent in is dropped.
                    acc = 0.0f;
                    break;
                }
                acc = left;
            }
        }
        h = acc < maximumStep ? acc : maximumStep;
    }
    accumulator = acc;
    clearAnimatedMoves();
}
