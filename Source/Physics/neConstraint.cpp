// Joints around the solver: their frames and measures each step, the rows
// they hand the solver (points, limits, motors), the damping of their bodies'
// relative turning and their own controllers.
#include "Physics/neConstraint.h"

#include "Physics/neConstraintGroup.h"
#include "Physics/neSimulator.h"

#include <cmath>

namespace
{

constexpr float pi = 3.1415927f;

// acos of a cosine that rounding may have carried past +-1.
float angleOf(float c) { return std::acos(c > 1.0f ? 1.0f : c < -1.0f ? -1.0f : c); }

vec3d unit(const vec3d& v)
{
    const float length = neLength(v);
    return length > 0.0f ? v / length : v;
}

neRigidBody* rigidOf(neRigidBodyBase* b) { return b && b->isRigid() ? b->asRigid() : nullptr; }

// v turned about the unit axis by angle (right-handed).
vec3d turned(const vec3d& v, const vec3d& axis, float angle)
{
    const float c = std::cos(angle), s = std::sin(angle);
    return v * c + axis.cross(v) * s + axis * (axis.dot(v) * (1.0f - c));
}

neM3 turnMatrix(const vec3d& axis, float angle)
{
    return neM3::fromRows(turned({1, 0, 0}, axis, angle), turned({0, 1, 0}, axis, angle), turned({0, 0, 1}, axis, angle));
}

// A row at the end of the simulator's row array, reset, with the joint's
// bodies; null when the array is full and cannot grow.
neCollisionResult* appendRow(neSimulator& sim, neRigidBody* a, neRigidBodyBase* b, uint32_t kind)
{
    neCollisionResult* row = sim.rows.append();
    if (!row)
        return nullptr;
    *row = neCollisionResult{};
    row->reset();
    row->bodyA = a;
    row->bodyB = b;
    row->weight = 1.0f;
    row->kind = kind;
    return row;
}

} // namespace

void neConstraint::update()
{
    worldFrameA = neCompose(frameA, bodyA->state().transform);
    worldFrameB = bodyB ? neCompose(frameB, *bodyB->getTransform()) : frameB;
    const int32_t points = pointCount < 0 ? 0 : pointCount > maxPoints ? maxPoints : pointCount;
    for (int32_t k = 0; k < points; ++k) {
        worldPointsA[k] = neFromFrame(worldFrameA, pointOffsets[k]);
        worldPointsB[k] = neFromFrame(worldFrameB, pointOffsets[k]);
    }

    const vec3d xA = neAxis(worldFrameA, 0), yA = neAxis(worldFrameA, 1);
    const vec3d xB = neAxis(worldFrameB, 0), yB = neAxis(worldFrameB, 1);
    const float c = xA.dot(xB);
    switch (type) {
    case neBallJoint:
        if (absFloat(c - 1.0f) < 1e-6f || absFloat(c + 1.0f) < 1e-6f) {
            measure[0] = c > 0.0f ? 0.0f : pi;
            axis = yA;
        } else {
            axis = unit(xA.cross(xB));
            measure[0] = angleOf(c);
        }
        break;
    case neHinge: {
        // The angle that turns A's x axis onto B's about the hinge axis.
        axis = unit(yA + yB);
        if (absFloat(c - 1.0f) < 1e-6f) {
            measure[0] = measure[1] = 0.0f;
        } else if (absFloat(c + 1.0f) < 1e-6f) {
            measure[0] = pi;
            measure[1] = -pi;
        } else if (unit(xA.cross(xB)).dot(axis) <= 0.0f) {
            measure[0] = 2.0f * pi - angleOf(c);
            measure[1] = -angleOf(c);
        } else {
            measure[0] = measure[1] = angleOf(c);
        }
        break;
    }
    case neSlide:
        axis = unit(yA + yB);
        measure[0] = (nePosition(worldFrameA) - nePosition(worldFrameB)).dot(yB);
        break;
    default:
        break;
    }
}

void neConstraint::dampRotation()
{
    if (!bodyA || (type != neBallJoint && type != neHinge))
        return;
    neRigidBody* b = rigidOf(bodyB);
    const vec3d wA = bodyA->angularVelocity;
    const vec3d wB = b ? b->angularVelocity : vec3d();
    vec3d w = wA - wB;
    if (type == neHinge) {
        update();
        const vec3d h = axis;
        w = h * wA.dot(h) - h * wB.dot(h);
    }
    bodyA->totalTorque -= w * damping;
    if (b)
        b->totalTorque += w * damping;
}

void neConstraint::buildRows()
{
    neSimulator& sim = *simulator;
    neRigidBody* rigidB = rigidOf(bodyB);
    const vec3d positionA = bodyA->position();
    const vec3d positionB = bodyB ? nePosition(*bodyB->getTransform()) : vec3d();

    const vec3d xA = neAxis(worldFrameA, 0), yA = neAxis(worldFrameA, 1);
    const vec3d xB = neAxis(worldFrameB, 0), yB = neAxis(worldFrameB, 1);

    if ((type == neBallJoint || type == neHinge) && limit.enabled) {
        const float value = type == neBallJoint || limit.lower > 0.0f ? measure[0] : measure[1];
        limit.active = 0;
        if (value < limit.lower) {
            limit.active = 1;
            limit.atLower = 1;
            limit.violation = value - limit.lower;
        } else if (value > limit.upper) {
            limit.active = 1;
            limit.atLower = 0;
            limit.violation = value - limit.upper;
        }
        // The measure grows as B turns about the joint's axis against A, so
        // the row's axis is turned round: A's turning minus B's along it is the
        // rate at which the measure grows.
        if (limit.active)
            if (neCollisionResult* row = appendRow(sim, bodyA, bodyB, neCollisionResult::angularLimit)) {
                row->axis = row->axisB = -axis;
                row->depth = limit.violation;
                row->prepare(false);
            }
    }

    if (type == neBallJoint && twistLimit.enabled) {
        // The twist: how far B's y axis stands turned about B's x axis from A's
        // y axis carried along by the swing.
        const vec3d yTurned = turned(yA, axis, measure[0]);
        const float c = yTurned.dot(yB);
        float twist;
        if (absFloat(c - 1.0f) < 1e-6f)
            twist = 0.0f;
        else if (absFloat(c + 1.0f) < 1e-6f)
            twist = pi;
        else
            twist = unit(yTurned.cross(yB)).dot(xB) > 0.0f ? -angleOf(c) : angleOf(c);
        const float bound = twistLimit.lower;
        twistLimit.active = 0;
        if (twist > bound) {
            twistLimit.active = 1;
            twistLimit.violation = twist - bound;
        } else if (twist < -bound) {
            twistLimit.active = 1;
            twistLimit.violation = twist + bound;
        }
        if (twistLimit.active)
            if (neCollisionResult* row = appendRow(sim, bodyA, bodyB, neCollisionResult::twistLimit)) {
                row->axis = xA;
                row->axisB = xB;
                row->depth = twistLimit.violation;
                row->rotation = turnMatrix(axis, measure[0]);
                row->prepare(false);
            }
    }

    if (type == neSlide && limit.enabled) {
        const float value = measure[0];
        float sign = 0.0f;
        limit.active = 0;
        if (value > limit.upper) {
            limit.active = 1;
            limit.atLower = 0;
            limit.violation = value - limit.upper;
            sign = 1.0f;
        } else if (value < limit.lower) {
            limit.active = 1;
            limit.atLower = 1;
            limit.violation = limit.lower - value;
            sign = -1.0f;
        }
        if (limit.active)
            if (neCollisionResult* row = appendRow(sim, bodyA, bodyB, neCollisionResult::slideLimit)) {
                row->pointA = nePosition(worldFrameA) - positionA;
                row->pointB = bodyB ? nePosition(worldFrameB) - positionB : nePosition(worldFrameB);
                row->axis = yB * sign;
                row->setNormal(row->axis);
                row->depth = limit.violation < 0.05f ? limit.violation : 0.05f;
                row->constraint = this;
                row->prepare(false);
            }
    }

    // The points, after the limits so that the last impulses of a sweep
    // hold the joint together; a slide lets A's points run along its axis.
    const int32_t points = pointCount < 0 ? 0 : pointCount > maxPoints ? maxPoints : pointCount;
    for (int32_t k = 0; k < points; ++k) {
        neCollisionResult* row = appendRow(sim, bodyA, bodyB, type == neSlide ? neCollisionResult::pointOnLine
                                                                              : neCollisionResult::point);
        if (!row)
            continue;
        row->pointA = worldPointsA[k] - positionA;
        if (rigidB)
            row->pointB = worldPointsB[k] - positionB;
        else
            row->pointB = row->pointBBody = worldPointsB[k];
        row->error = worldPointsA[k] - worldPointsB[k];
        row->depth = neLength(row->error);
        if (type == neSlide) {
            row->axis = axis;
            row->error -= axis * row->error.dot(axis);
            row->errorLength = neLength(row->error);
        }
        row->prepare(false);
    }

    if ((type == neHinge || type == neSlide) && motor.enabled) {
        // No row that drives further into an active limit.
        const bool intoLimit = limit.enabled && limit.active
                               && ((!limit.atLower && motor.targetSpeed > 0.0f)
                                   || (limit.atLower && motor.targetSpeed < 0.0f));
        if (!intoLimit)
            if (neCollisionResult* row = appendRow(sim, bodyA, bodyB, type == neHinge ? neCollisionResult::hingeMotor
                                                                                      : neCollisionResult::slideMotor)) {
                row->target = motor.targetSpeed;
                row->depth = motor.maximum;
                // A positive speed makes the measure grow: for a hinge B turns
                // about the axis against A.
                const float sign = type == neHinge ? -1.0f : 1.0f;
                row->axis = yA * sign;
                row->axisB = yB * sign;
                row->prepare(false);
            }
    }
}

void neConstraint::stepControllers()
{
    neRigidBody* b = rigidOf(bodyB);
    for (neController* c = controllers.head; c; c = c->next) {
        if (c->countdown == 0) {
            if (c->constraintCallback)
                c->constraintCallback->onControllerStep(c, simulator->stepLength);
            c->countdown = c->period;
        } else {
            --c->countdown;
        }
        bodyA->controllerForce += c->force;
        bodyA->controllerTorque += c->torque;
        if (b) {
            b->controllerForce += c->forceB;
            b->controllerTorque += c->torqueB;
        }
    }
}

void neConstraintGroup::buildRows(float& tolerance, int32_t& iterations)
{
    tolerance = -1.0f;
    iterations = -1;
    for (neConstraint* c = first; c; c = c->nextInGroup) {
        if (!c->enabled || !c->bodyA)
            continue;
        c->update();
        c->buildRows();
        if (c->tolerance > 0.0f && (tolerance < 0.0f || c->tolerance < tolerance))
            tolerance = c->tolerance;
        if (c->iterations > iterations)
            iterations = c->iterations;
        c->bodyA->queueStack();
        if (neRigidBody* b = rigidOf(c->bodyB))
            b->queueStack();
    }
    built = 1;
}

void neConstraintGroup::applyCorrections()
{
    for (neRigidBodyBase* m = members.head; m; m = m->groupNext) {
        if (!m->isRigid())
            continue;
        neRigidBody* b = m->asRigid();
        b->solverWord = 0;
        if (b->linearCorrectionCount > 0)
            b->applyLinearCorrection();
        if (b->angularCorrectionCount > 0)
            b->applyAngularCorrection();
    }
}

void neConstraintGroup::clearMembers()
{
    while (neRigidBodyBase* m = members.head) {
        members.remove(m);
        m->constraintGroup = nullptr;
    }
    first = nullptr;
    spare = 0;
    built = 0;
    state = stateFresh;
}
