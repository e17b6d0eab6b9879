#include "Render/RenderHandshake.h"

#include <windows.h>

#include <atomic>

namespace RenderHandshake {

namespace {

// One side of the handshake: its word, its nesting count and the thread
// that holds it.
struct Side
{
    std::atomic<uint32_t> raised{0};
    std::atomic<int32_t> depth{0};
    std::atomic<DWORD> owner{0};

    bool heldBy(DWORD thread) const { return depth.load() > 0 && owner.load() == thread; }
    // Raised by a thread other than the given one.
    bool blocks(DWORD thread) const { return raised.load() != 0 && owner.load() != thread; }

    void enter(DWORD thread)
    {
        owner.store(thread);
        raised.store(1);
        depth.fetch_add(1);
    }

    void leave()
    {
        if (depth.fetch_sub(1) == 1)
            raised.store(0);
    }
};

Side render;
Side record;

constexpr DWORD pollMilliseconds = 10;

}

Render::Render()
{
    const DWORD me = GetCurrentThreadId();
    if (render.heldBy(me)) {
        render.depth.fetch_add(1);
        return;
    }
    render.enter(me);
    while (record.blocks(me))
        Sleep(pollMilliseconds);
}

Render::~Render()
{
    render.leave();
}

Record::Record()
{
    const DWORD me = GetCurrentThreadId();
    if (record.heldBy(me)) {
        record.depth.fetch_add(1);
        return;
    }
    for (;;) {
        record.owner.store(me);
        record.raised.store(1);
        if (!render.blocks(me))
            break;
        // A renderer of another thread that raised its word first may be
        // waiting for this request to go: withdraw it while waiting.
        if (record.depth.load() == 0)
            record.raised.store(0);
        Sleep(pollMilliseconds);
    }
    record.depth.fetch_add(1);
}

Record::~Record()
{
    record.leave();
}

bool renderBusy()
{
    return render.raised.load() != 0;
}

bool pauseRequested()
{
    return record.raised.load() != 0;
}

}
