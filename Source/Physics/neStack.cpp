// The stacks of bodies resting on each other: their records, the marking
// and regrouping before the solver, the walk that hands a stack to the
// solver, and the solver stage that settles the stacks and puts them to rest.
#include "Physics/neStack.h"

#include "Physics/neSimulator.h"

neStackElement* neSimulator::takeElement(neRigidBody* body, uint32_t supportOnly)
{
    neStackElement* e = stackElements.take();
    if (!e) {
        log("Stacking Buffer full Error. Please contact techincal support\n");
        return nullptr;
    }
    e->walked = 0;
    e->supportOnly = supportOnly;
    e->noValidContact = 0;
    e->stack = nullptr;
    e->body = body;
    e->words[0] = e->words[1] = 0;
    e->next = e->prev = nullptr;
    body->stackElement = e;
    return e;
}

void neSimulator::releaseElement(neStackElement* e)
{
    if (e->stack)
        e->stack->remove(e);
    if (e->body && e->body->stackElement == e)
        e->body->stackElement = nullptr;
    e->body = nullptr;
    stackElements.give(e);
}

neStack* neSimulator::takeStack(neStackElement* first)
{
    neStack* s = stacks.takeListed();
    if (!s)
        return nullptr;
    s->simulator = this;
    s->elements.clear();
    s->root = 0;
    s->allAtRest = 0;
    s->queued = 0;
    if (first)
        s->append(first);
    return s;
}

void neSimulator::freeStack(neStack* s)
{
    if (s == &rootStack || !s->inUse)
        return;
    while (neStackElement* e = s->elements.head)
        s->remove(e);
    stacks.giveListed(s);
}

void neSimulator::mergeStacks(neStack* into, neStack* from)
{
    if (into == from || from == &rootStack)
        return;
    while (neStackElement* e = from->elements.head) {
        from->remove(e);
        into->append(e);
    }
    freeStack(from);
}

void neSimulator::joinWorkingGroup(neRigidBodyBase* body)
{
    if (!body->constraintGroup)
        workingGroup.appendMember(body);
}

void neSimulator::rebuildStack(neStack* s)
{
    workElements.clear();
    while (neStackElement* e = s->elements.head) {
        s->remove(e);
        e->words[0] = e->words[1] = 0;
        if (!workElements.push(e))
            rootStack.append(e); // no room to regroup it: it stays stacked on its own
    }
    for (int32_t i = 0; i < workElements.count(); ++i) {
        neStackElement* e = workElements[i];
        if (e->noValidContact)
            continue;
        for (neRestingContact& slot : e->body->contact.slots) {
            if (slot.kind == neRestingEmpty || !slot.partner || !slot.partner->isRigid())
                continue;
            neStackElement* p = slot.partner->asRigid()->stackElement;
            if (!p) {
                // The partner left the stacks while this contact stayed: it
                // carries nothing any more.
                e->body->clearRestingContact(slot);
                continue;
            }
            if (p->stack == &rootStack)
                rootStack.remove(p);
            if (e->stack && p->stack) {
                if (e->stack != p->stack)
                    mergeStacks(e->stack, p->stack);
            } else if (p->stack) {
                p->stack->append(e);
            } else if (e->stack) {
                e->stack->append(p);
            } else if (neStack* fresh = takeStack(nullptr)) {
                fresh->queued = s->queued;
                fresh->append(e);
                fresh->append(p);
            }
        }
    }
    // What rests on no rigid body leaves the stacks.
    for (int32_t i = 0; i < workElements.count(); ++i) {
        neStackElement* e = workElements[i];
        if (e->stack)
            continue;
        neRigidBody* body = e->body;
        for (neRestingContact& slot : body->contact.slots)
            body->clearRestingContact(slot);
        releaseElement(e);
    }
    workElements.clear();
}

namespace
{

void visitElement(neSimulator& sim, neStackElement* e, bool join)
{
    e->walked = 1;
    neRigidBody* body = e->body;
    for (neRestingContact& slot : body->contact.slots) {
        if (slot.kind == neRestingEmpty || !slot.partner || !slot.partner->isRigid())
            continue;
        neRigidBody* partner = slot.partner->asRigid();
        neStackElement* p = partner->stackElement;
        if (!p || p->walked)
            continue;
        if (join)
            sim.joinWorkingGroup(partner);
        if (!p->supportOnly)
            visitElement(sim, p, join);
    }
    body->collectRestingContacts(join);
}

} // namespace

void neSimulator::walkStack(neStack* s)
{
    for (neStackElement* e = s->elements.head; e; e = e->next)
        e->walked = 0;
    for (neStackElement* e = s->elements.head; e; e = e->next) {
        if (e->walked)
            continue;
        joinWorkingGroup(e->body);
        if (!e->supportOnly)
            visitElement(*this, e, true);
    }
}

void neSimulator::markStacks()
{
    for (neStack* s = stacks.used.head; s; s = s->next) {
        s->allAtRest = 1;
        for (neStackElement* e = s->elements.head; e; e = e->next)
            if (e->body->restState != neAtRest || e->body->solverMark != 0)
                s->allAtRest = 0;
    }
    for (neList<neRigidBody>* list : {&activeRigidBodies, &activeParticles}) {
        for (neRigidBody* b = list->head; b; b = b->next) {
            neStackElement* e = b->stackElement;
            if (!e || e->supportOnly)
                continue;
            const int good = b->validateRestingContacts();
            b->solverMark = 0;
            if (good == 0 && e->stack == &rootStack)
                releaseElement(e);
            if (good < 2 && b->restState == neAtRest && !b->constraintGroup)
                b->clearRest();
        }
    }
    // A fifth of the unsettled stacks is regrouped in each step.
    listedStacks.clear();
    for (neStack* s = stacks.used.head; s; s = s->next)
        if (!s->allAtRest)
            listedStacks.push(s);
    const int32_t turn = int32_t(stepCount % 5);
    for (int32_t i = 0; i < listedStacks.count(); ++i) {
        neStack* s = listedStacks[i];
        // (A stack merged away by an earlier rebuild of this step is gone.)
        if (i % 5 != turn || !s->inUse)
            continue;
        rebuildStack(s);
        freeStack(s);
    }
    for (neStack* s = stacks.used.head; s;) {
        neStack* next = s->next;
        if (s->elements.count == 0)
            freeStack(s);
        s = next;
    }
}

void neSimulator::restingContactPass()
{
    // Bodies alone on the ground or on animated bodies, one at a time.
    for (neStackElement* e = rootStack.elements.head; e;) {
        neStackElement* next = e->next;
        neRigidBody* b = e->body;
        if (b->restState != neAtRest && b->stepped && b->active) {
            b->collectRestingContacts(false);
            if (contacts.count() > 0) {
                for (int32_t i = 0; i < contacts.count(); ++i)
                    applyContact(contacts[i], 2);
                contacts.clear();
                if (b->checkStillAtRest() && b->checkContactDrift() && b->supportTest() > 0) {
                    b->restState = neAtRest;
                    b->stopMotion();
                }
            }
        }
        e = next;
    }
    // A stack of fewer than two bodies is none.
    for (neStack* s = stacks.used.head; s;) {
        neStack* next = s->next;
        if (s->elements.count < 2) {
            while (neStackElement* e = s->elements.head) {
                s->remove(e);
                if (e->supportOnly)
                    releaseElement(e);
                else
                    rootStack.append(e);
            }
            freeStack(s);
        }
        s = next;
    }
}

void neSimulator::solverStage()
{
    contacts.clear();
    passFlag = 1;
    restingContactPass();
    gatheredGroups.clear();
    for (neStack* s = stacks.used.head; s; s = s->next) {
        if (s->allAtRest || s->queued)
            continue;
        queuedStacks.clear();
        workingGroup.clearMembers();
        contacts.clear();
        walkStack(s);
        iterate(2);
        bool still = true;
        for (neRigidBodyBase* m = workingGroup.members.head; m && still; m = m->groupNext)
            if (m->isRigid() && !m->asRigid()->checkStillAtRest())
                still = false;
        if (still)
            for (neRigidBodyBase* m = workingGroup.members.head; m; m = m->groupNext)
                if (m->isRigid() && m->asRigid()->checkContactDrift()) {
                    m->asRigid()->restState = neAtRest;
                    m->asRigid()->stopMotion();
                }
    }
    workingGroup.clearMembers();
    contacts.clear();
}
