#include "ScenarioSupport.h"

#include <gtest/gtest.h>

namespace
{

// A resting contact of body on partner at the body's point p (body frame),
// recorded as the contact stage records one.
void rest(neRigidBody* body, neRigidBodyBase* partner, vec3d p)
{
    neRestingContact c{};
    const vec3d world = neFromFrame(body->state().transform, p);
    neRigidBody::setRestingContact(c, partner, p, neToFrame(*partner->getTransform(), world), 0, 0,
                                   neDirectionToFrame(*partner->getTransform(), {0, 1, 0}), 0.01f);
    body->addToStack(c);
}

TEST(Stack, JoiningStacksAsBodiesComeToRestOnEachOther)
{
    TestSimulator t = TestGround::make();
    neRigidBody* bottom = t.box({0, 0.5f, 0});
    neRigidBody* middle = t.box({0, 1.5f, 0});
    neRigidBody* top = t.box({0, 2.5f, 0});
    // On the ground alone: the root stack.
    rest(bottom, &t->terrainBody, {0, -0.5f, 0});
    ASSERT_NE(bottom->stackElement, nullptr);
    EXPECT_EQ(bottom->stackElement->stack, &t->rootStack);
    // Something on it: both leave the root stack for a stack of their own,
    // and the body below wakes.
    bottom->putToRest();
    rest(middle, bottom, {0, -0.5f, 0});
    neStack* stack = middle->stackElement->stack;
    ASSERT_NE(stack, &t->rootStack);
    EXPECT_EQ(bottom->stackElement->stack, stack);
    EXPECT_EQ(t->rootStack.elements.count, 0);
    EXPECT_EQ(bottom->restState, neMoving);
    // On a body in no stack: that body is stacked only to carry it.
    neRigidBody* lone = t.box({5, 0.5f, 0});
    neRigidBody* rider = t.box({5, 1.5f, 0});
    rest(rider, lone, {0, -0.5f, 0});
    ASSERT_NE(lone->stackElement, nullptr);
    EXPECT_EQ(lone->stackElement->supportOnly, 1u);
    EXPECT_EQ(lone->stackElement->stack, rider->stackElement->stack);
    // Two stacks meet: one takes the other's bodies.
    rest(top, middle, {0, -0.5f, 0});
    EXPECT_EQ(top->stackElement->stack, stack);
    rest(lone, top, {0, -0.5f, 0}); // (the carried body now rests on the stack)
    EXPECT_EQ(lone->stackElement->supportOnly, 0u);
    neStack* merged = lone->stackElement->stack; // the resting body's stack took the other
    for (neRigidBody* b : {bottom, middle, top, rider})
        EXPECT_EQ(b->stackElement->stack, merged);
    EXPECT_EQ(merged->elements.count, 5);
    EXPECT_EQ(t->stacks.usedCount(), 1);

    // Freeing a body takes its element along and the contacts on it.
    t->freeBody(middle);
    EXPECT_EQ(merged->elements.count, 4);
    EXPECT_EQ(top->contact.slots[2].kind, uint32_t(neRestingEmpty));
    EXPECT_EQ(t->stackElements.usedCount(), 4);
}

TEST(Stack, RebuildRegroupsByContactsAndPassesOverPartnersWithoutElements)
{
    TestSimulator t = TestGround::make();
    neRigidBody* a = t.box({0, 0.5f, 0});
    neRigidBody* b = t.box({0, 1.5f, 0});
    neRigidBody* c = t.box({3, 0.5f, 0});
    neRigidBody* d = t.box({3, 1.5f, 0});
    rest(b, a, {0, -0.5f, 0});
    rest(d, c, {0, -0.5f, 0});
    neStack* first = b->stackElement->stack;
    t->mergeStacks(first, d->stackElement->stack);
    ASSERT_EQ(first->elements.count, 4);
    // A partner whose element went (its slot stayed): the contact is dropped
    // instead of followed.
    neRigidBody* gone = t.box({6, 0.5f, 0});
    neRigidBody* onGone = t.box({6, 1.5f, 0});
    rest(onGone, gone, {0, -0.5f, 0});
    t->mergeStacks(first, onGone->stackElement->stack);
    gone->stackElement->stack->remove(gone->stackElement);
    t->stackElements.give(gone->stackElement);
    gone->stackElement = nullptr;

    // A body in the stack that rests on one alone on the ground.
    neRigidBody* grounded = t.box({9, 0.5f, 0});
    neRigidBody* onGrounded = t.box({9, 1.5f, 0});
    rest(grounded, &t->terrainBody, {0, -0.5f, 0});
    rest(onGrounded, grounded, {0, -0.5f, 0});
    t->mergeStacks(first, onGrounded->stackElement->stack);
    first->remove(grounded->stackElement);
    t->rootStack.append(grounded->stackElement);

    t->rebuildStack(first);
    t->freeStack(first);
    // The grounded body left the root stack for the new stack of the body on it.
    EXPECT_EQ(grounded->stackElement->stack, onGrounded->stackElement->stack);
    EXPECT_NE(grounded->stackElement->stack, &t->rootStack);
    EXPECT_EQ(t->rootStack.elements.count, 0);
    // Two stacks again, and the body on the elementless partner out of them.
    ASSERT_NE(a->stackElement, nullptr);
    ASSERT_NE(c->stackElement, nullptr);
    EXPECT_EQ(a->stackElement->stack, b->stackElement->stack);
    EXPECT_EQ(c->stackElement->stack, d->stackElement->stack);
    EXPECT_NE(a->stackElement->stack, c->stackElement->stack);
    EXPECT_EQ(onGone->stackElement, nullptr);
    for (const neRestingContact& slot : onGone->contact.slots)
        EXPECT_EQ(slot.kind, uint32_t(neRestingEmpty));
    EXPECT_EQ(t->stacks.usedCount(), 3);

    // A stack in which nobody rests on a rigid body comes apart entirely.
    neRigidBody* x = t.box({9, 0.5f, 0});
    neRigidBody* y = t.box({12, 0.5f, 0});
    rest(x, &t->terrainBody, {0, -0.5f, 0});
    rest(y, &t->terrainBody, {0, -0.5f, 0});
    neStack* loose = t->takeStack(nullptr);
    for (neRigidBody* body : {x, y}) {
        t->rootStack.remove(body->stackElement);
        loose->append(body->stackElement);
    }
    t->rebuildStack(loose);
    for (neRigidBody* body : {x, y}) {
        EXPECT_EQ(body->stackElement, nullptr);
        EXPECT_EQ(body->contact.slots[2].kind, uint32_t(neRestingEmpty));
    }
    EXPECT_EQ(t->stackElements.usedCount(), 6);
}

TEST(Stack, SupportOfTheRestingContacts)
{
    TestSimulator t = TestGround::make();
    neRigidBody* b = t.box({0, 0.5f, 0});
    b->totalForce = {0, -9.81f, 0};
    struct Case
    {
        const char* name;
        std::vector<vec3d> points; // body frame
        int support;
    };
    const Case cases[] = {
        {"three around the centre", {{0.5f, -0.5f, 0.5f}, {-0.5f, -0.5f, 0.5f}, {0, -0.5f, -0.5f}}, 3},
        {"three on the diagonal's side (within a tenth)", {{0.5f, -0.5f, 0.5f}, {-0.5f, -0.5f, -0.5f}, {0.5f, -0.5f, -0.5f}}, 3},
        {"three beside the centre", {{0.5f, -0.5f, 0.5f}, {0.2f, -0.5f, -0.5f}, {0.5f, -0.5f, -0.5f}}, 0},
        {"two in line with it", {{0.5f, -0.5f, 0.5f}, {-0.5f, -0.5f, -0.5f}}, 2},
        {"two beside it", {{0.5f, -0.5f, 0.5f}, {0.5f, -0.5f, -0.5f}}, 0},
        {"one under it", {{0.0f, -0.5f, 0.0f}}, 1},
        {"one beside it", {{0.2f, -0.5f, 0.0f}}, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        for (neRestingContact& slot : b->contact.slots)
            b->clearRestingContact(slot);
        for (size_t k = 0; k < c.points.size(); ++k) {
            neRestingContact& slot = b->contact.slots[k];
            slot.kind = neRestingUnchecked;
            slot.worldPoint = neFromFrame(b->state().transform, c.points[k]);
            b->contact.usedSlots[k] = int32_t(k);
        }
        b->contact.usedCount = int32_t(c.points.size());
        EXPECT_EQ(b->supportTest(), c.support);
    }
    // No force to carry: fully supported. A partner that moves carries nothing.
    b->totalForce = {};
    EXPECT_EQ(b->supportTest(), 3);
    b->totalForce = {0, -1, 0};
    neRigidBody* partner = t.box({0, -0.5f, 0});
    b->contact.slots[0].kind = neRestingOnRigid;
    b->contact.slots[0].partner = partner;
    b->contact.slots[0].worldPoint = b->position() - vec3d(0, 0.5f, 0);
    EXPECT_EQ(b->supportTest(), 0);
    partner->putToRest();
    EXPECT_EQ(b->supportTest(), 1);
}

TEST(Stack, CollectedContactsWeighTheirGap)
{
    TestSimulator t = TestGround::make();
    neRigidBody* b = t.box({0, 0.5f, 0});
    // On the ground 0.02 deep, 0.005 above it and 0.02 above it.
    const vec3d points[3] = {{0.4f, -0.5f, 0.4f}, {-0.4f, -0.5f, 0.4f}, {0, -0.5f, -0.4f}};
    const float separations[3] = {-0.02f, 0.005f, 0.02f};
    for (int k = 0; k < 3; ++k) {
        neRestingContact c{};
        const vec3d world = neFromFrame(b->state().transform, points[k]);
        neRigidBody::setRestingContact(c, &t->terrainBody, points[k], world - vec3d(0, separations[k], 0), 0, 0,
                                       {0, 1, 0}, 0.01f);
        b->recordRestingContact(c); // into slots 2, 1, 0
    }
    t->contacts.clear();
    EXPECT_EQ(b->collectRestingContacts(true), 2);
    ASSERT_EQ(t->contacts.count(), 2);
    EXPECT_NEAR(t->contacts[0].weight, 0.125f, 1e-5f); // (0.005 short of 0.01) / 0.01, cubed
    EXPECT_NEAR(t->contacts[0].depth, -0.005f, 1e-6f);
    EXPECT_EQ(t->contacts[1].weight, 1.0f);
    EXPECT_NEAR(t->contacts[1].depth, 0.02f, 1e-6f);
    EXPECT_EQ(b->contact.usedCount, 2);
    EXPECT_EQ(b->contact.usedSlots[0], 1);
    EXPECT_EQ(b->contact.usedSlots[1], 2);
    EXPECT_EQ(b->stepped, 0u);

    // Validation keeps the two that hold and forgets which were in use.
    EXPECT_EQ(b->validateRestingContacts(), 2);
    EXPECT_EQ(b->contact.usedCount, 0);
    EXPECT_EQ(b->contact.slots[0].kind, uint32_t(neRestingEmpty));
    // One contact left, in the overlap: one record, nothing counted in use.
    b->clearRestingContact(b->contact.slots[1]);
    t->contacts.clear();
    EXPECT_EQ(b->collectRestingContacts(true), 1);
    EXPECT_EQ(t->contacts.count(), 1);
    EXPECT_EQ(b->contact.usedCount, 0);
}

TEST(Stack, DriftOfTheContactsInUse)
{
    TestSimulator t = TestGround::make();
    neRigidBody* b = t.box({0, 0.5f, 0});
    const auto restOn = [&](vec3d point) { rest(b, &t->terrainBody, point); };
    EXPECT_EQ(b->checkContactDrift(), 0); // no element
    restOn({0.4f, -0.5f, 0.4f});
    restOn({-0.4f, -0.5f, -0.4f});
    b->contact.usedCount = 2;
    b->contact.usedSlots[0] = 2;
    b->contact.usedSlots[1] = 1;
    EXPECT_EQ(b->checkContactDrift(), 1);
    b->stackElement->supportOnly = 1;
    EXPECT_EQ(b->checkContactDrift(), 0);
    b->stackElement->supportOnly = 0;
    // Moved off one point by more than the square root of 0.002: it goes.
    b->setPose(translation({0.05f, 0.5f, 0}));
    EXPECT_EQ(b->checkContactDrift(), 0);
    EXPECT_EQ(b->contact.usedCount, 0);
    EXPECT_EQ(b->contact.slots[2].kind, uint32_t(neRestingEmpty));
    // A slot in use that was emptied since.
    b->setPose(translation({0, 0.5f, 0}));
    b->contact.usedCount = 2;
    EXPECT_EQ(b->checkContactDrift(), 0);
    EXPECT_EQ(b->contact.usedCount, 0);
}

TEST(Stack, StillAtRestAfterSixtySteps)
{
    TestSimulator t;
    neRigidBody* b = t.box({});
    t->stepLength = 1.0f / 75.0f;
    b->savePose();
    b->stepsSinceSaved = 59;
    EXPECT_EQ(b->checkStillAtRest(), 0);
    b->stepsSinceSaved = 60;
    EXPECT_EQ(b->checkStillAtRest(), 1);
    // 60 steps are 0.8 s: moved more than the tolerance of 0.2 per such span.
    b->setPose(translation({0.17f, 0, 0}));
    b->stepsSinceSaved = 60;
    b->saved.position = {};
    EXPECT_EQ(b->checkStillAtRest(), 0);
    EXPECT_EQ(b->saved.position, vec3d(0.17f, 0, 0)); // saved again
    EXPECT_EQ(b->stepsSinceSaved, 0);
    b->stepsSinceSaved = 60;
    b->angularVelocity = {0, 9, 0}; // 9 / 0.8 is above 10.5
    EXPECT_EQ(b->checkStillAtRest(), 0);
}

TEST(Stack, BreakingOffAPiece)
{
    TestSimulator t;
    static int calls;
    static uint32_t code;
    calls = 0;
    t->breakCallback = [](neRigidBodyBase*, uint32_t c, neGeometry*, neRigidBody*) {
        ++calls;
        code = c;
    };
    neRigidBody* body = t.box({});
    neGeometry* piece = body->addGeometry();
    piece->transform = translation({2, 0, 0});
    piece->breakKind = 1;
    piece->breakNormal = {0, 1, 0};
    piece->breakThreshold = 2.0f;
    piece->breakShare = 0.5f;
    piece->breakMass = 4.0f;
    body->updateBounds();

    // Below the threshold: nothing.
    vec3d impulse{1.5f, 5, 0};
    EXPECT_EQ(t->testGeometryBreak(piece, impulse, body, {2, 0, 0}), 0);
    EXPECT_EQ(impulse, vec3d(1.5f, 5, 0));
    // Exactly at it: the piece comes off with its share of the in-plane impulse.
    impulse = {2, 5, 0};
    EXPECT_EQ(t->testGeometryBreak(piece, impulse, body, {2, 0, 0}), 1);
    EXPECT_EQ(impulse, vec3d(1, 5, 0));
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(code, 1u);
    EXPECT_EQ(body->geometryCount, 1);
    EXPECT_EQ(piece->breakKind, 0u);
    neRigidBody* created = nullptr;
    for (int32_t i = 0; i < t->rigidBodies.size(); ++i)
        if (t->rigidBodies[i].inUse && &t->rigidBodies[i] != body)
            created = &t->rigidBodies[i];
    ASSERT_NE(created, nullptr);
    EXPECT_EQ(created->geometryHead, piece);
    EXPECT_EQ(created->mass, 4.0f);
    EXPECT_EQ(created->position(), vec3d(2, 0, 0));
    EXPECT_NEAR(created->velocity.x, 0.25f, 1e-6f); // 0.5 of the limited in-plane 2, on 4 kg

    // The last geometry does not split, but the impulse is still limited;
    // a zero threshold and no in-plane impulse divide by nothing.
    neGeometry* last = body->geometryHead;
    last->breakKind = 4;
    last->breakThreshold = 1.0f;
    last->breakShare = 0.5f;
    impulse = {0, 0, 3};
    EXPECT_EQ(t->testGeometryBreak(last, impulse, body, {}), 0);
    EXPECT_NEAR(impulse.z, 0.5f, 1e-5f);
    last->breakThreshold = 0.0f;
    last->breakNormal = {0, 1, 0};
    impulse = {0, 7, 0};
    EXPECT_EQ(t->testGeometryBreak(last, impulse, body, {}), 0);
    EXPECT_EQ(impulse, vec3d(0, 7, 0));
    EXPECT_EQ(calls, 1);

    // A piece of no mass would take impulses without limit: it weighs 1.
    neGeometry* weightless = body->addGeometry();
    weightless->breakMass = 0.0f;
    body->updateBounds();
    neRigidBody* split = t->splitGeometry(body, weightless);
    ASSERT_NE(split, nullptr);
    EXPECT_EQ(split->mass, 1.0f);
    EXPECT_EQ(split->inverseMass, 1.0f);
    EXPECT_EQ(t->splitGeometry(body, weightless), nullptr); // not the body's any more
}

} // namespace
