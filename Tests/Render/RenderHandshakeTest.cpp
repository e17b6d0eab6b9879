// The handshake of off-screen renders and state-block recorders: one thread
// nests freely, another thread waits for the side that holds the device.
#include "Render/RenderHandshake.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <optional>
#include <thread>

namespace {

using RenderHandshake::Record;
using RenderHandshake::Render;

TEST(RenderHandshake, OneThreadNestsBothSidesWithoutWaiting)
{
    {
        Render face;
        EXPECT_TRUE(RenderHandshake::renderBusy());
        {
            Record recorder; // a recorder called from inside a face
            EXPECT_TRUE(RenderHandshake::pauseRequested());
            Render nested; // and a render from inside that recorder
            Record again;
        }
        EXPECT_FALSE(RenderHandshake::pauseRequested());
        EXPECT_TRUE(RenderHandshake::renderBusy());
    }
    EXPECT_FALSE(RenderHandshake::renderBusy());
}

// holder runs on this thread, waiter on another: the waiter gets through
// only once the holder's scope has ended.
template <class Holder, class Waiter>
void expectWaitsFor()
{
    std::atomic<int> through{0};
    std::optional<Holder> held;
    held.emplace();
    std::thread other([&] {
        Waiter waiting;
        through.store(1);
    });
    Sleep(60);
    EXPECT_EQ(through.load(), 0);
    held.reset();
    other.join();
    EXPECT_EQ(through.load(), 1);
    EXPECT_FALSE(RenderHandshake::renderBusy());
    EXPECT_FALSE(RenderHandshake::pauseRequested());
}

TEST(RenderHandshake, AnotherThreadWaitsForTheSideThatHoldsTheDevice)
{
    expectWaitsFor<Render, Record>();
    expectWaitsFor<Record, Render>();
}

}
