#pragma once
// The program's one simulator and what drives it. The entity manager owns
// the physics manager; the application starts it (start), runs its thread
// (thread, whose body is run), hands over with it once per frame (update) and
// stops the thread at shutdown before anything else goes.
//
// The hand-over, through stepState:
//   physics thread: three steps of a piece of the frame x 1.4 -> 2 (done)
//                   -> yields while it stays 2 -> 0 (running) -> the next
//                   batch;
//   main thread:    update measures the frame time, copies the poses of the
//                   finished batch into the entities while the thread waits,
//                   then writes 3 (go on).
// A frame longer than longestBatch is cut into framePieces equal pieces, one
// batch each: update releases the first, and stepPiece, called once for each
// of the others, waits for the batch in flight, syncs and releases the next,
// so that the game may steer between them as often as at thirty frames a
// second. The last piece runs while the frame draws.
// A 3 written while a batch still runs is overwritten by that batch's 2, so
// the thread runs at most one batch per frame beyond the one in progress and
// update never waits; a frame that finds a batch running keeps the last poses.
// waitForStepEnd and stepOnce are the only waits of the main thread. Code
// that creates, frees or reshapes bodies calls waitForStepEnd first.
//
// Every simulator callback (terrain query, collision report, controllers)
// runs on the thread that steps: the physics thread, or the main thread in
// update while threaded is clear.

#include "Entity/EntityManager.h"

#include "Physics/neAllocator.h"
#include "Physics/neSimulator.h"

#include "Core/ArrayHeap.h"
#include "Core/SCList.h"
#include "Core/Thread.h"
#include "Core/Timer.h"

#include <atomic>
#include <cstdint>

class EntityManager::PhysicsManager : public Thread::Method
{
public:
    // The simulator's storage, counted.
    class neAllocator : public neAllocatorAbstract
    {
    public:
        void* alloc(size_t size, int32_t flags) override;
        void free(void* p) override;

        uint64_t allocatedBytes = 0; // only grows
    };

    // Values of stepState.
    static constexpr uint32_t running = 0;
    static constexpr uint32_t done = 2;
    static constexpr uint32_t released = 3;

    static constexpr int32_t spareAnimatedBodies = 16;
    // Frame times (seconds) are at least this long and change by at most
    // 12 % of the previous one per frame.
    static constexpr float shortestFrame = 0.015f;
    // The longest frame time one batch of three steps takes on.
    static constexpr float longestBatch = 1.0f / 30.0f;
    // Longer frames (fewer than five a second) are stepped as this long: the
    // world runs slower than the clock, and worldLag says by how much. The
    // frame timer's factor stops at the same length, so what moves by it
    // keeps the world's pace.
    static constexpr float longestFrame = Timer::longestFrame;

    PhysicsManager() = default;
    // Stops the thread, then release.
    ~PhysicsManager();
    PhysicsManager(const PhysicsManager&) = delete;
    PhysicsManager& operator=(const PhysicsManager&) = delete;

    // Main thread, once at start-up: the simulator for n rigid bodies with
    // gravity, its callbacks, every body-body and body-terrain contact
    // reported, the budget of n bodies and the 16 spare animated bodies
    // (inactive). threaded is set; the caller starts the thread. False when
    // the simulator could not be made; a second start keeps the first.
    bool start(int32_t n);
    // Main thread, once per frame (nothing while paused or without a
    // simulator): the frame time and its pieces, the simulator's own steps of
    // the first piece while threaded is clear, the entities' syncs when no
    // batch runs, then the thread released. The frame's pieces (1 while
    // paused).
    int32_t update();
    // Main thread, once for each piece of the frame after the first: the
    // batch in flight ends (with no thread running, the piece is stepped
    // here), the entities sync and the next piece is released.
    void stepPiece();
    // Physics thread: step batches and hand-overs until a stop is asked.
    uint32_t run(Thread& thread, uint32_t userValue) override;
    // One piece of the frame as the thread steps it: three steps over 4.2
    // times frameTime / framePieces, or that time in equal batches of three
    // no longer than longestBatch allows. Physics thread, or a test that
    // holds it.
    void stepBatch(nePerformanceReport* into);
    // Milliseconds the world has fallen behind the wall clock (negative when
    // ahead): frames longer than the steps allow, and batches the thread did
    // not get to, move the world less than the clock. Main thread.
    int32_t worldLagMs() const
    {
        // Rounded half away from zero; the race reads it many times a frame,
        // and llround is a library call.
        const double ms = worldLag * 1000.0;
        return int32_t(ms >= 0.0 ? ms + 0.5 : ms - 0.5);
    }
    // Seconds of one piece of the frame.
    float pieceTime() const { return frameTime.load() / float(framePieces.load()); }
    // Main thread: returns once no step batch runs (at once without a thread).
    void waitForStepEnd();
    // Main thread: returns after a step batch that began after the call.
    void stepOnce();
    // Main thread, after the thread stopped (it is stopped here otherwise):
    // every entity record gives its body back, then the spare bodies and the
    // simulator go.
    void release();

    // The top spare animated body, or null when none is left. Main thread,
    // between step batches.
    neAnimatedBody* takeAnimatedBody();
    // Puts an animated body back: inactive and without geometries, on the
    // spare stack, or freed when the stack is full. Main thread, between
    // step batches.
    void returnAnimatedBody(neAnimatedBody* body);

    // The simulator's callbacks.
    // The triangles of the static entities and of the ground in the box; a
    // body without an entity manager in its first owner word gets none.
    static void queryTerrainTriangles(const vec3d& boxMin, const vec3d& boxMax, neTerrainTriangles& found,
                                      neRigidBodyBase* body);
    // Each side of a contact whose body has an entity record: its noise, then
    // its collision handler; side A first.
    static void onCollision(neCollisionReport* report);

    int32_t rigidBodyCount = 256;
    int32_t spareAnimatedCount = spareAnimatedBodies;
    int64_t counterFrequency = 1;
    int64_t lastCounter = 0;
    int64_t nowCounter = 0;
    // The limited frame time in seconds, and the pieces it is stepped in;
    // the physics thread reads them.
    std::atomic<float> frameTime{1.0f / 60.0f};
    std::atomic<int32_t> framePieces{1};
    float previousFrameTime = 0.0f;
    // Seconds of wall clock minus seconds of frame time stepped, summed over
    // the frames since start; a pause counts for neither.
    double worldLag = 0.0;
    // Frame time stepped since the last update, in microseconds.
    std::atomic<uint32_t> steppedMicros{0};
    // Set by an update while paused: the next frame spans the pause.
    uint32_t pauseSeen = 0;
    neSimulator* simulator = nullptr;
    neAllocator allocator;
    // Non-zero: update does nothing.
    uint32_t paused = 0;
    // Rigid bodies that entity records may still take.
    int32_t rigidBodyBudget = 0;
    ArrayHeap<neAnimatedBody*> spareAnimated;
    int32_t spareAnimatedTop = 0;
    uint32_t updated = 0;
    // The records that have a body, in the order they took it.
    SCList<EntityManager::Physics> entities;
    // Non-zero: the physics thread steps; else update steps the simulator.
    uint32_t threaded = 0;
    Thread thread{this};
    std::atomic<uint32_t> stepState{running};
    // The cost of the thread's last batch (seconds in values[0]).
    nePerformanceReport report{};

private:
    // Every record's sync, in list order.
    void syncEntities();
    // The simulator's own steps over one piece of the frame (threaded
    // clear); the seconds stepped.
    float advancePiece();
    bool threadRuns() const { return threaded && thread.isRunning(); }
};
