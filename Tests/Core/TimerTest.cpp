#include "Core/Timer.h"

#include <gtest/gtest.h>

namespace {

// A timer on the millisecond clock whose readings the test hands in.
Timer makeMillisecondTimer(uint64_t start)
{
    Timer timer;
    timer.usePerformanceCounter = 0;
    timer.secondsPerTick = 0.001f;
    timer.lastCounter = start;
    return timer;
}

void setTime(Timer& timer, int h, int m, int s, float accumulator)
{
    timer.hour = static_cast<uint8_t>(h);
    timer.minute = static_cast<uint8_t>(m);
    timer.second = static_cast<uint8_t>(s);
    timer.clockAccumulator = accumulator;
}

} // namespace

TEST(TimerTest, FactorRisesAtMostEightPercentAndStopsAtFour)
{
    Timer timer = makeMillisecondTimer(1000);
    uint64_t now = 1000;
    float expected = 1.0f;
    for (int frame = 0; frame < 40; ++frame) {
        now += 1000; // one-second frames: raw factor 35
        timer.advance(now, 0);
        expected = std::min(expected * 1.08f, 4.0f);
        EXPECT_NEAR(gFrameFactor.load(), expected, 1e-4f) << "frame " << frame;
        EXPECT_FLOAT_EQ(gFrameTime.load(), 1.0f); // the frame time stays the raw measurement
    }
    EXPECT_FLOAT_EQ(timer.previousFactor, 4.0f);
}

TEST(TimerTest, FactorFallsAtMostEightPercentAndStopsAtOneHundredth)
{
    Timer timer = makeMillisecondTimer(0);
    float expected = 1.0f;
    for (int frame = 0; frame < 80; ++frame) {
        timer.advance(0, 0); // readings within one millisecond: raw factor 0
        expected = std::max(expected * 0.92f, 0.01f);
        EXPECT_NEAR(gFrameFactor.load(), expected, 1e-5f) << "frame " << frame;
    }
    EXPECT_FLOAT_EQ(timer.previousFactor, 0.01f);

    // A steady frame rate is followed within the 8 % steps.
    Timer steady = makeMillisecondTimer(0);
    for (int frame = 1; frame <= 10; ++frame)
        steady.advance(static_cast<uint64_t>(frame) * 28, 0); // 28 ms * 35 = 0.98
    EXPECT_NEAR(gFrameFactor.load(), 0.98f, 1e-4f);
}

TEST(TimerTest, FramesPerSecondEveryTwentiethUpdateRoundedUp)
{
    Timer timer = makeMillisecondTimer(0);
    uint64_t now = 0;
    for (int frame = 0; frame < 19; ++frame) {
        now += 25;
        timer.advance(now, 0);
        EXPECT_EQ(timer.fps, 0);
    }
    now += 25; // 20 frames in 0.5 s
    timer.advance(now, 0);
    EXPECT_EQ(timer.fps, 40);
    EXPECT_EQ(gFramesPerSecond.load(), 40);
    EXPECT_EQ(timer.frameCount, 0);

    for (int frame = 0; frame < 19; ++frame) {
        now += 25;
        timer.advance(now, 0);
    }
    now += 35; // 0.51 s: 39.2 frames per second, shown as 40
    timer.advance(now, 0);
    EXPECT_EQ(timer.fps, 40);

    // Twenty updates within one millisecond keep the last value.
    for (int frame = 0; frame < 20; ++frame)
        timer.advance(now, 0);
    EXPECT_EQ(timer.fps, 40);
}

TEST(TimerTest, PausedTimerChangesNothingAndResumeMeasuresTheWholeSpan)
{
    Timer timer = makeMillisecondTimer(500);
    timer.advance(520, 0);
    uint32_t counter = gFrameCounter.load();
    float factor = timer.previousFactor;

    timer.paused = 1;
    timer.advance(10520, 1);
    timer.update(1);
    EXPECT_EQ(timer.lastCounter, 520u);
    EXPECT_EQ(gFrameCounter.load(), counter);
    EXPECT_FLOAT_EQ(timer.clockAccumulator, 0.02f);

    timer.paused = 0;
    timer.advance(10520, 0);
    EXPECT_EQ(gFrameCounter.load(), counter + 1);
    EXPECT_FLOAT_EQ(gFrameTime.load(), 10.0f);
    EXPECT_NEAR(gFrameFactor.load(), factor * 1.08f, 1e-5f);
}

TEST(TimerTest, MillisecondClockWrapGivesAShortFrame)
{
    Timer timer = makeMillisecondTimer(0xFFFFFFF0u);
    timer.advance(0x10u, 0);
    EXPECT_NEAR(timer.frameTime, 0.032f, 1e-6f);
}

TEST(TimerTest, AccumulatorFollowsTimeScaleAndStepsOnlyWhenAsked)
{
    Timer timer = makeMillisecondTimer(0);
    timer.timeScale = 60.0f;
    timer.advance(1000, 0);
    EXPECT_EQ(timer.second, 0);
    EXPECT_FLOAT_EQ(timer.clockAccumulator, 60.0f);
    timer.advance(1500, 1);
    EXPECT_EQ(timer.hour, 12);
    EXPECT_EQ(timer.minute, 1);
    EXPECT_EQ(timer.second, 30);
    EXPECT_EQ(timer.millisecond, 0);
}

TEST(TimerTest, ClockStepsForwardAcrossMidnight)
{
    Timer timer;
    setTime(timer, 12, 0, 0, 2.5f);
    timer.stepClock();
    EXPECT_EQ(timer.second, 2);
    EXPECT_EQ(timer.millisecond, 500);
    EXPECT_FLOAT_EQ(timer.clockAccumulator, 0.5f);

    setTime(timer, 23, 59, 59, 1.25f);
    timer.stepClock();
    EXPECT_EQ(timer.hour, 0);
    EXPECT_EQ(timer.minute, 0);
    EXPECT_EQ(timer.second, 0);
    EXPECT_EQ(timer.millisecond, 250);
}

TEST(TimerTest, ClockStepsBackwardThroughZero)
{
    Timer timer;
    setTime(timer, 12, 0, 1, -1.0f);
    timer.stepClock();
    EXPECT_EQ(timer.hour, 12);
    EXPECT_EQ(timer.minute, 0);
    EXPECT_EQ(timer.second, 0);

    timer.clockAccumulator = -1.0f;
    timer.stepClock();
    EXPECT_EQ(timer.hour, 11);
    EXPECT_EQ(timer.minute, 59);
    EXPECT_EQ(timer.second, 59);

    setTime(timer, 0, 0, 0, -2.25f);
    timer.stepClock();
    EXPECT_EQ(timer.hour, 23);
    EXPECT_EQ(timer.minute, 59);
    EXPECT_EQ(timer.second, 58);
    EXPECT_EQ(timer.millisecond, 750);
}

TEST(TimerTest, MillisecondStaysBelowOneThousand)
{
    Timer timer;
    setTime(timer, 12, 0, 0, 0.0f);
    timer.stepClock();
    EXPECT_EQ(timer.millisecond, 0);

    timer.clockAccumulator = 0.9996f;
    timer.stepClock();
    EXPECT_EQ(timer.millisecond, 999);

    timer.clockAccumulator = -0.0001f;
    timer.stepClock();
    EXPECT_EQ(timer.millisecond, 999);
}

TEST(TimerTest, InitStartsAtNoonAndMeasuresRealTime)
{
    Timer timer;
    timer.hour = 3;
    timer.fps = 7;
    timer.init();
    EXPECT_EQ(timer.hour, 12);
    EXPECT_EQ(timer.fps, 0);
    EXPECT_FLOAT_EQ(timer.clockAccumulator, 0.0f);
    EXPECT_GT(timer.secondsPerTick, 0.0f);

    timer.update(0);
    EXPECT_GE(timer.frameTime, 0.0f);
    EXPECT_LT(timer.frameTime, 5.0f);
    // The first update after start-up is limited by the starting factor 1.0.
    EXPECT_GE(timer.previousFactor, 0.92f);
    EXPECT_LE(timer.previousFactor, 1.08f);
}
