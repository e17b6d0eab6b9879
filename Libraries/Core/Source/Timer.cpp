#include "Core/Timer.h"

#include <windows.h>
#include <mmsystem.h>

#include <climits>
#include <cmath>

constinit Timer gTimer;

constinit std::atomic<float> gFrameTime{0.0f};
constinit std::atomic<float> gFrameFactor{0.0f};
constinit std::atomic<int32_t> gFramesPerSecond{0};
constinit std::atomic<uint32_t> gFrameCounter{0};

void Timer::init()
{
    frameTime = 0.0f;
    previousFactor = 1.0f;
    fpsTimeSum = 0.0f;
    timeScale = 1.0f;
    frameCount = 0;
    fpsInterval = 20;
    fps = 0;
    hour = 12;
    minute = 0;
    second = 0;
    millisecond = 0;
    paused = 0;
    savedFactor = 1.0f;
    selectTickSource(0.0f);
}

void Timer::selectTickSource(float accumulatorStart)
{
    LARGE_INTEGER frequency;
    if (QueryPerformanceFrequency(&frequency) && frequency.QuadPart > 0) {
        usePerformanceCounter = 1;
        LARGE_INTEGER counter;
        QueryPerformanceCounter(&counter);
        lastCounter = static_cast<uint64_t>(counter.QuadPart);
        secondsPerTick = static_cast<float>(1.0 / static_cast<double>(frequency.QuadPart));
    } else {
        usePerformanceCounter = 0;
        lastCounter = timeGetTime();
        secondsPerTick = 0.001f;
    }
    clockAccumulator = accumulatorStart;
}

uint64_t Timer::readTicks() const
{
    if (usePerformanceCounter) {
        LARGE_INTEGER counter;
        QueryPerformanceCounter(&counter);
        return static_cast<uint64_t>(counter.QuadPart);
    }
    return timeGetTime();
}

void Timer::update(int32_t stepClockFlag)
{
    advance(readTicks(), stepClockFlag);
}

void Timer::advance(uint64_t now, int32_t stepClockFlag)
{
    if (paused)
        return;

    // The millisecond clock wraps after 49.7 days; a 32-bit difference stays
    // right across the wrap instead of giving one negative frame.
    int64_t ticks;
    if (usePerformanceCounter)
        ticks = static_cast<int64_t>(now - lastCounter);
    else
        ticks = static_cast<uint32_t>(static_cast<uint32_t>(now) - static_cast<uint32_t>(lastCounter));

    frameCount += 1;
    frameTime = static_cast<float>(static_cast<double>(ticks)) * secondsPerTick;
    fpsTimeSum += frameTime;

    if (frameCount >= fpsInterval) {
        // Twenty updates inside one tick of the millisecond clock sum to 0;
        // the old value then stands rather than an infinite one.
        if (fpsTimeSum > 0.0f) {
            double rate = std::ceil(static_cast<double>(fpsInterval) / static_cast<double>(fpsTimeSum));
            fps = rate >= static_cast<double>(INT32_MAX) ? INT32_MAX : static_cast<int32_t>(rate);
        }
        fpsTimeSum = 0.0f;
        frameCount = 0;
    }

    gFrameTime.store(frameTime, std::memory_order_relaxed);
    gFramesPerSecond.store(fps, std::memory_order_relaxed);
    gFrameCounter.fetch_add(1, std::memory_order_relaxed);

    // The factor follows the measured frame by at most 8 % per update, so a
    // single stalled frame cannot throw moving parts across the scene.
    float factor = frameTime * referenceFramesPerSecond;
    if (previousFactor != 0.0f) {
        if (factor > previousFactor * maxFactorRise)
            factor = previousFactor * maxFactorRise;
        else if (factor < previousFactor * maxFactorFall)
            factor = previousFactor * maxFactorFall;
    }
    if (factor < minFactor)
        factor = minFactor;
    if (factor > maxFactor)
        factor = maxFactor;
    gFrameFactor.store(factor, std::memory_order_relaxed);
    previousFactor = factor;

    lastCounter = now;
    clockAccumulator += timeScale * frameTime;

    if (stepClockFlag)
        stepClock();
}

float Timer::easing(float rate, float frameFactor)
{
    if (!(frameFactor > 0.0f))
        return 0.0f;
    return 1.0f - std::pow(1.0f - rate, frameFactor);
}

void Timer::stepClock()
{
    // Signed copies so that stepping back below zero can be seen.
    int h = hour;
    int m = minute;
    int s = second;

    while (clockAccumulator >= 1.0f) {
        if (++s >= 60) {
            s = 0;
            if (++m >= 60) {
                m = 0;
                if (++h >= 24)
                    h = 0;
            }
        }
        clockAccumulator -= 1.0f;
    }

    // Stepping back borrows only below zero, so 12:00:01 goes to 12:00:00
    // and 12:00:00 to 11:59:59.
    while (clockAccumulator <= -1.0f) {
        if (--s < 0) {
            s = 59;
            if (--m < 0) {
                m = 59;
                if (--h < 0)
                    h = 23;
            }
        }
        clockAccumulator += 1.0f;
    }

    hour = static_cast<uint8_t>(h);
    minute = static_cast<uint8_t>(m);
    second = static_cast<uint8_t>(s);

    // A backward-running clock counts its fraction from the second below.
    // The value stays within 0 .. 999: an accumulator of 0 is 0 ms, and a
    // fraction that rounds up to a whole second stops at 999.
    long ms = 0;
    if (clockAccumulator > 0.0f)
        ms = std::lround(clockAccumulator * 1000.0f);
    else if (clockAccumulator < 0.0f)
        ms = 1000 - std::lround(clockAccumulator * -1000.0f);
    if (ms > 999)
        ms = 999;
    if (ms < 0)
        ms = 0;
    millisecond = static_cast<uint16_t>(ms);
}
