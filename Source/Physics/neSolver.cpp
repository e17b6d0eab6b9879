// The constraint and contact solver: sequential impulses over the joint rows
// and the resting contacts, the collision impulse with friction and
// restitution, and the preparation of each row's effective mass.
#include "Physics/neSimulator.h"

#include <cmath>

namespace
{

neRigidBody* rigidOf(neRigidBodyBase* b) { return b && b->isRigid() ? b->asRigid() : nullptr; }

vec3d velocityAt(neRigidBodyBase* b, const vec3d& arm)
{
    neRigidBody* r = rigidOf(b);
    return r ? r->velocity + r->angularVelocity.cross(arm) : vec3d();
}

// M v = r x v.
neM3 crossMatrix(const vec3d& r) { return neM3::fromRows({0, -r.z, r.y}, {r.z, 0, -r.x}, {-r.y, r.x, 0}); }

neM3 add(const neM3& a, const neM3& b) { return neM3::fromRows(a.r[0] + b.r[0], a.r[1] + b.r[1], a.r[2] + b.r[2]); }

// How the point at arm r of the body answers impulses along the rows of the
// frame f, in that frame: 1/m + (r x f_i) . I^-1 (r x f_j), added into k.
void addPointMass(neM3& k, const neRigidBody* b, const vec3d& r, const neM3& f)
{
    if (!b)
        return;
    const vec3d c[3] = {r.cross(f.r[0]), r.cross(f.r[1]), r.cross(f.r[2])};
    const neM3& w = b->worldInverseInertia;
    const vec3d wc[3] = {w * c[0], w * c[1], w * c[2]};
    for (int i = 0; i < 3; ++i) {
        k.r[i][i] += b->inverseMass + c[i].dot(wc[i]);
        for (int j = i + 1; j < 3; ++j) {
            const float shared = c[i].dot(wc[j]);
            k.r[i][j] += shared;
            k.r[j][i] += shared;
        }
    }
}

// How the point at arm r of the body answers an impulse: 1/m - [r] I^-1 [r].
neM3 pointMass(const neRigidBody* b, const vec3d& r)
{
    if (!b)
        return neM3::zero();
    const neM3 m = crossMatrix(r);
    const neM3 turn = m * b->worldInverseInertia * m;
    neM3 k = neM3::diagonal({b->inverseMass, b->inverseMass, b->inverseMass});
    for (int i = 0; i < 3; ++i)
        k.r[i] -= turn.r[i];
    return k;
}

// The inverse, or zero when the matrix is singular or not finite: a row that
// no body can answer gets no impulse.
neM3 inverse(const neM3& m)
{
    const vec3d& a = m.r[0];
    const vec3d& b = m.r[1];
    const vec3d& c = m.r[2];
    const vec3d bc = b.cross(c), ca = c.cross(a), ab = a.cross(b);
    const float determinant = a.dot(bc);
    if (!(absFloat(determinant) > 1e-30f) || !std::isfinite(determinant))
        return neM3::zero();
    const float inv = 1.0f / determinant;
    // The columns of the inverse are the cross products over the determinant.
    return neM3::fromRows(bc * inv, ca * inv, ab * inv).transposed();
}

float angularMass(const neRigidBody* b, const vec3d& axis)
{
    return b ? axis.dot(b->worldInverseInertia * axis) : 0.0f;
}

void pushAngular(neRigidBodyBase* body, const vec3d& change)
{
    neRigidBody* b = rigidOf(body);
    if (!b)
        return;
    b->angularChanges[b->simulator->stepIndexMod10] += b->worldInverseInertia * change;
    b->historiesClear = 0;
    b->setAngularMomentum(b->state().angularMomentum + change);
    b->solverWord = 1;
}

void pushAt(neRigidBodyBase* body, const vec3d& impulse, const vec3d& arm)
{
    if (neRigidBody* b = rigidOf(body)) {
        b->applyImpulseAtArm(impulse, arm);
        b->solverWord = 1;
    }
}

} // namespace

void neCollisionResult::prepare(bool bImmovable)
{
    const neRigidBody* a = rigidOf(bodyA);
    const neRigidBody* b = bImmovable ? nullptr : rigidOf(bodyB);
    switch (kind) {
    case collision:
    case contact: {
        // The contact frame: two tangents, the normal last.
        const neM3 around = neSimulator::basis(normal());
        frame = neM3::fromRows(around.r[1], around.r[2], around.r[0]);
        frameTransposed = frame.transposed();
        neM3 k = neM3::zero();
        addPointMass(k, a, pointA, frame);
        addPointMass(k, b, pointB, frame);
        kInverse = inverse(k);
        normalMass = k.r[2].z;
        break;
    }
    case point:
    case pointOnLine:
    case slideLimit:
        kInverse = inverse(add(pointMass(a, pointA), pointMass(b, pointB)));
        break;
    case angularLimit:
    case twistLimit:
    case hingeMotor: {
        const float d = angularMass(a, axis) + angularMass(b, axisB);
        effectiveMass = d > 0.0f ? 1.0f / d : 0.0f;
        break;
    }
    case slideMotor: {
        const float d = (a ? a->inverseMass : 0.0f) + (b ? b->inverseMass : 0.0f);
        effectiveMass = d > 0.0f ? 1.0f / d : 0.0f;
        break;
    }
    default:
        break;
    }
}

neM3 neSimulator::basis(const vec3d& n)
{
    // A first tangent across the largest component (z before x and y, y before x).
    const float ax = absFloat(n.x), ay = absFloat(n.y), az = absFloat(n.z);
    vec3d t;
    if (az >= ax && az >= ay)
        t = {1.0f, 1.0f, -(n.x + n.y) / n.z};
    else if (ay >= ax)
        t = {1.0f, -(n.x + n.z) / n.y, 1.0f};
    else
        t = {-(n.y + n.z) / n.x, 1.0f, 1.0f};
    t = t / neLength(t);
    return neM3::fromRows(n, t, n.cross(t));
}

const float* neSimulator::material(uint32_t index) const
{
    // Materials come from content: an index past the table has the table's
    // first values rather than reading beyond it.
    return index < uint32_t(materialCount) ? materials[index] : defaultMaterial;
}

vec3d neSimulator::collisionImpulse(const neCollisionResult& r, bool restitution) const
{
    const vec3d v = r.frame * r.relativeVelocity;
    const float* ma = material(r.userDataA);
    const float* mb = material(r.userDataB);
    const float mu = ma[0] < mb[0] ? ma[0] : mb[0];
    const float e = restitution ? (ma[1] < mb[1] ? ma[1] : mb[1]) : 0.0f;
    const float jn = -v.z / r.normalMass;      // stops the normal motion alone
    const vec3d j0 = -(r.kInverse * v);        // stops all of it
    const vec3d j{j0.x, j0.y, j0.z - jn + (1.0f + e) * jn};
    if (j.x * j.x + j.y * j.y <= (mu * j.z) * (mu * j.z))
        return j; // it sticks
    // It slides: the largest tangential impulse the normal one allows.
    const float t = fastSqrt(j0.x * j0.x + j0.y * j0.y);
    const float d = t - mu * (j0.z - jn);
    if (absFloat(d) <= 1e-6f)
        return {};
    const float k = mu * (1.0f + e) * jn / d;
    return vec3d(0.0f, 0.0f, (1.0f + e) * jn) + vec3d(j0.x, j0.y, j0.z - jn) * k;
}

float neSimulator::contactTerm(neCollisionResult& r, const vec3d& frameVelocity, bool resting)
{
    vec3d v = frameVelocity;
    vec3d j{};
    float left = 0.0f;
    if (!resting) {
        // First impact, in the contact stage: with restitution.
        if (!(v.z < 0.0f))
            return 0.0f;
        j = collisionImpulse(r, true);
    } else {
        if (v.z < 0.0f) {
            // A contact that only nearly touches stops its share of the approach.
            j = collisionImpulse(r, passFlag == 0) * r.weight;
            v.z = 0.0f;
        }
        // Out of the overlap, beyond what gravity presses in within a step.
        const float depth = r.depth < 0.05f ? r.depth : 0.05f;
        float d = depth - 0.001f * gravityMagnitude;
        if (depth > 0.0f && d > 0.0f && passFlag == 1) {
            d = d * inverseStepLength * 0.5f;
            if (v.z < d) {
                const float correction = d - 0.5f * v.z;
                j += r.kInverse * vec3d(0.0f, 0.0f, correction);
                left = absFloat(correction);
            }
        }
    }
    if (!neFinite(j) || (j.x == 0.0f && j.y == 0.0f && j.z == 0.0f))
        return left;
    vec3d impulseA = r.frameTransposed * j;
    vec3d impulseB = -impulseA;
    if (breakCallback) {
        if (r.geometryA && r.geometryA->breakKind != 0 && r.bodyA)
            testGeometryBreak(r.geometryA, impulseA, r.bodyA, r.worldPointA);
        if (r.geometryB && r.geometryB->breakKind != 0 && r.bodyB)
            testGeometryBreak(r.geometryB, impulseB, r.bodyB, r.worldPointB);
    }
    pushAt(r.bodyA, impulseA, r.pointA);
    if (!lastIteration)
        pushAt(r.bodyB, impulseB, r.pointB);
    return left;
}

void neSimulator::applyContact(neCollisionResult& r, int mode)
{
    r.relativeVelocity = velocityAt(r.bodyA, r.pointA) - velocityAt(r.bodyB, r.pointB);
    contactTerm(r, r.frame * r.relativeVelocity, mode == 2);
}

float neSimulator::solveRecord(neCollisionResult& r)
{
    neRigidBody* a = rigidOf(r.bodyA);
    neRigidBody* b = rigidOf(r.bodyB);
    switch (r.kind) {
    case neCollisionResult::contact:
        r.relativeVelocity = velocityAt(r.bodyA, r.pointA) - velocityAt(r.bodyB, r.pointB);
        return contactTerm(r, r.frame * r.relativeVelocity, true);
    case neCollisionResult::point:
    case neCollisionResult::pointOnLine: {
        vec3d v = velocityAt(a, r.pointA) - velocityAt(b, r.pointB);
        const bool onLine = r.kind == neCollisionResult::pointOnLine;
        if (onLine)
            v -= r.axis * v.dot(r.axis);
        const float length = onLine ? r.errorLength : neLength(r.error);
        vec3d impulse;
        if (length < 1e-6f) {
            impulse = -(r.kInverse * v);
        } else {
            vec3d c = r.error * 0.5f;
            const float half = length * 0.5f;
            if (half > 0.05f)
                c = c * (0.05f / half);
            impulse = -(r.kInverse * (v * 0.5f + c * inverseStepLength));
        }
        if (onLine)
            impulse -= r.axis * impulse.dot(r.axis);
        if (!neFinite(impulse))
            return 0.0f;
        pushAt(a, impulse, r.pointA);
        pushAt(b, -impulse, r.pointB);
        return length;
    }
    case neCollisionResult::slideLimit: {
        const float speed = -(velocityAt(a, r.pointA) - velocityAt(b, r.pointB)).dot(r.axis);
        const float target = r.depth * inverseStepLength * 0.5f;
        if (target <= speed)
            return 0.0f;
        const float magnitude = target - 0.5f * speed;
        const vec3d impulse = -(r.kInverse * (r.axis * magnitude));
        if (!neFinite(impulse))
            return 0.0f;
        pushAt(a, impulse, r.pointA);
        pushAt(b, -impulse, r.pointB);
        return magnitude;
    }
    case neCollisionResult::angularLimit:
    case neCollisionResult::twistLimit: {
        const float speed = (a ? a->angularVelocity.dot(r.axis) : 0.0f) - (b ? b->angularVelocity.dot(r.axisB) : 0.0f);
        float half = r.depth * 0.5f;
        if (r.kind == neCollisionResult::twistLimit)
            half = half > 0.1f ? 0.1f : half < -0.1f ? -0.1f : half;
        // Only while the joint keeps going further past its limit.
        if (half == 0.0f || !((half > 0.0f && speed > 0.0f) || (half < 0.0f && speed < 0.0f)))
            return absFloat(half);
        const float magnitude = -half * inverseStepLength - 0.5f * speed;
        const float change = r.effectiveMass * magnitude;
        if (!std::isfinite(change))
            return 0.0f;
        pushAngular(a, r.axis * change);
        pushAngular(b, r.axisB * -change);
        return absFloat(half);
    }
    case neCollisionResult::hingeMotor: {
        const float speed = (a ? a->angularVelocity.dot(r.axis) : 0.0f) - (b ? b->angularVelocity.dot(r.axisB) : 0.0f);
        const float difference = r.target - speed;
        float change = r.effectiveMass * difference;
        const float most = r.depth * stepLength;
        if (absFloat(change) > most)
            change = change > 0.0f ? most : -most;
        if (!std::isfinite(change))
            return 0.0f;
        pushAngular(a, r.axis * change);
        pushAngular(b, r.axisB * -change);
        return absFloat(difference);
    }
    case neCollisionResult::slideMotor: {
        const float speed = (a ? a->velocity.dot(r.axis) : 0.0f) - (b ? b->velocity.dot(r.axisB) : 0.0f);
        const float difference = r.target - speed;
        float impulse = difference * r.effectiveMass;
        const float most = r.depth * stepLength;
        if (absFloat(impulse) > most)
            impulse = impulse > 0.0f ? most : -most;
        if (!std::isfinite(impulse))
            return 0.0f;
        pushAt(a, r.axis * impulse, {});
        pushAt(b, r.axisB * -impulse, {});
        return absFloat(difference);
    }
    default:
        return 0.0f;
    }
}

void neSimulator::iterate(int32_t iterations)
{
    passFlag = 0;
    if (rows.count() == 0 && contacts.count() == 0)
        return;
    const int32_t n = iterations < 0 ? 4 : iterations;
    lastIteration = 0;
    for (int pass = 0; pass < 2; ++pass) {
        if (pass == 1)
            passFlag = 1;
        for (int32_t i = 0; i < n; ++i) {
            if (pass == 1 && i == n - 1)
                lastIteration = 1;
            for (int32_t k = 0; k < rows.count(); ++k)
                solveRecord(rows[k]);
            for (int32_t k = contacts.count() - 1; k >= 0; --k)
                solveRecord(contacts[k]);
            for (int32_t g = 0; g < gatheredGroups.count(); ++g)
                gatheredGroups[g]->applyCorrections();
            workingGroup.applyCorrections();
            // The last sweep pushes body A alone, as if B could not move.
            if (pass == 1 && i == n - 2)
                for (int32_t k = 0; k < contacts.count(); ++k)
                    if (contacts[k].kind == neCollisionResult::contact)
                        contacts[k].prepare(true);
        }
    }
    lastIteration = 0;
    rows.clear();
    contacts.clear();
}

void neSimulator::solveConstraintGroups()
{
    for (neConstraintGroup* g = constraintGroups.used.head; g; g = g->next)
        g->built = 0;
    for (neConstraintGroup* g = constraintGroups.used.head; g; g = g->next) {
        if (g->built)
            continue;
        gatheredGroups.clear();
        queuedStacks.clear();
        rows.clear();
        contacts.clear();
        workingGroup.clearMembers();
        gatheredGroups.push(g);
        int moving = 0;
        for (neRigidBodyBase* m = g->members.head; m; m = m->groupNext)
            if (m->isRigid()) {
                m->asRigid()->solverWord = 0;
                if (m->asRigid()->restState != neAtRest)
                    ++moving;
            }
        if (moving == 0)
            continue;
        float tolerance;
        int32_t iterations;
        g->buildRows(tolerance, iterations);
        // The stacks the joint's bodies stand in, and the joints of the bodies in them.
        for (int32_t i = 0; i < queuedStacks.count(); ++i) {
            neStack* s = queuedStacks[i];
            for (neStackElement* e = s->elements.head; e; e = e->next) {
                neConstraintGroup* other = e->body->constraintGroup;
                if (other && other != &workingGroup && !other->built) {
                    float t;
                    int32_t more;
                    other->buildRows(t, more);
                    if (more > iterations)
                        iterations = more;
                    gatheredGroups.push(other);
                }
            }
            walkStack(s);
        }
        iterate(iterations);
        restAfterGroupSolve();
    }
    gatheredGroups.clear();
    workingGroup.clearMembers();
}

void neSimulator::restAfterGroupSolve()
{
    bool still = true;
    const auto check = [&](neConstraintGroup* g) {
        for (neRigidBodyBase* m = g->members.head; m && still; m = m->groupNext)
            if (m->isRigid() && !m->asRigid()->checkStillAtRest())
                still = false;
    };
    for (int32_t i = 0; i < gatheredGroups.count(); ++i)
        check(gatheredGroups[i]);
    check(&workingGroup);
    const auto settle = [&](neConstraintGroup* g) {
        for (neRigidBodyBase* m = g->members.head; m; m = m->groupNext) {
            if (!m->isRigid())
                continue;
            neRigidBody* b = m->asRigid();
            if (still) {
                b->restState = neAtRest;
                b->stopMotion();
            } else {
                b->restState = neMoving;
            }
        }
    };
    for (int32_t i = 0; i < gatheredGroups.count(); ++i)
        settle(gatheredGroups[i]);
    settle(&workingGroup);
}
