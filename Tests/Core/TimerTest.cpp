#include "Core/Timer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

namespace
{
// A timer on the millisecond clock whose readings the test hands in.
Timer millisecondTimer(uint64_t start)
{
    Timer timer;
    timer.usePerformanceCounter = 0;
    timer.secondsPerTick = 0.001f;
    timer.lastCounter = start;
    return timer;
}
}

// The factor rises to 7 and no further: a frame of a fifth of a second, the
// longest the physics steps whole.
TEST(TimerTest, FactorMovesAtMostEightPercentPerFrameBetweenItsLimits)
{
    Timer slow = millisecondTimer(0), fast = millisecondTimer(0);
    float rising = 1.0f, falling = 1.0f;
    for (uint64_t frame = 1; frame <= 80; ++frame) {
        slow.advance(frame * 1000, 0); // one-second frames: raw factor 35
        rising = std::min(rising * 1.08f, 7.0f);
        EXPECT_NEAR(gFrameFactor.load(), rising, 1e-4f) << frame;
        EXPECT_FLOAT_EQ(gFrameTime.load(), 1.0f) << "the frame time stays the raw measurement";
        fast.advance(0, 0); // readings within one millisecond: raw factor 0
        falling = std::max(falling * 0.92f, 0.01f);
        EXPECT_NEAR(gFrameFactor.load(), falling, 1e-5f) << frame;
    }
    Timer wrapped = millisecondTimer(0xFFFFFFF0u);
    wrapped.advance(0x10u, 0);
    EXPECT_NEAR(wrapped.frameTime, 0.032f, 1e-6f) << "the millisecond clock's wrap is a short frame";
}

// The rate is counted every twentieth update, rounded up; twenty updates
// within one millisecond keep the last value.
TEST(TimerTest, FramesPerSecondEveryTwentiethUpdateRoundedUp)
{
    Timer timer = millisecondTimer(0);
    uint64_t now = 0;
    const struct {
        uint64_t lastFrameMs; // the twentieth frame; the others take 25 ms
        int32_t fps;
    } rounds[] = {{25, 40},   // 20 frames in 0.5 s
                  {35, 40},   // 0.51 s: 39.2, shown as 40
                  {5, 42},    // 0.48 s: 41.67, shown as 42
                  {0, 42}};   // updates within one millisecond: kept
    for (const auto& round : rounds) {
        for (int frame = 0; frame < 19; ++frame) {
            now += round.lastFrameMs ? 25 : 0;
            timer.advance(now, 0);
        }
        EXPECT_EQ(timer.frameCount, 19);
        now += round.lastFrameMs;
        timer.advance(now, 0);
        EXPECT_EQ(timer.fps, round.fps) << round.lastFrameMs;
        EXPECT_EQ(gFramesPerSecond.load(), round.fps);
        EXPECT_EQ(timer.frameCount, 0);
    }
}

TEST(TimerTest, PausedTimerChangesNothingAndResumeMeasuresTheWholeSpan)
{
    Timer timer = millisecondTimer(500);
    timer.advance(520, 0);
    const uint32_t counter = gFrameCounter.load();
    timer.paused = 1;
    timer.advance(10520, 1);
    EXPECT_EQ(gFrameCounter.load(), counter);
    EXPECT_FLOAT_EQ(timer.clockAccumulator, 0.02f);
    timer.paused = 0;
    timer.advance(10520, 0);
    EXPECT_EQ(gFrameCounter.load(), counter + 1);
    EXPECT_FLOAT_EQ(gFrameTime.load(), 10.0f);

    Timer scaled = millisecondTimer(0);
    scaled.timeScale = 60.0f;
    scaled.advance(1000, 0);
    EXPECT_EQ(scaled.second, 0) << "the clock steps only when asked";
    scaled.advance(1500, 1);
    EXPECT_EQ(scaled.minute * 60 + scaled.second, 90);
}

// The clock across midnight both ways, through zero without skipping it, and
// a millisecond that never reaches 1000.
TEST(TimerTest, ClockStepsAcrossMidnightAndBackwardsThroughZero)
{
    struct Case
    {
        int h, m, s;
        float accumulator;
        int hour, minute, second, millisecond;
    };
    const Case cases[] = {{12, 0, 0, 2.5f, 12, 0, 2, 500},     {23, 59, 59, 1.25f, 0, 0, 0, 250},
                          {12, 0, 1, -1.0f, 12, 0, 0, 0},      {12, 0, 0, -1.0f, 11, 59, 59, 0},
                          {0, 0, 0, -2.25f, 23, 59, 58, 750},  {12, 0, 0, 0.9996f, 12, 0, 0, 999},
                          {12, 0, 0, -0.0001f, 12, 0, 0, 999}, {12, 0, 0, 0.0f, 12, 0, 0, 0}};
    for (const Case& c : cases) {
        Timer timer;
        timer.hour = uint8_t(c.h);
        timer.minute = uint8_t(c.m);
        timer.second = uint8_t(c.s);
        timer.clockAccumulator = c.accumulator;
        timer.stepClock();
        EXPECT_EQ((std::vector<int>{timer.hour, timer.minute, timer.second, timer.millisecond}),
                  (std::vector<int>{c.hour, c.minute, c.second, c.millisecond}))
            << c.h << ":" << c.m << ":" << c.s << " + " << c.accumulator;
    }
}
