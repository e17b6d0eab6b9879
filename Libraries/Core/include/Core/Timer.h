#pragma once

#include <atomic>
#include <cstdint>

// The program's one frame clock. The main loop advances it once per pass on the
// main thread; every moving part reads the published values below. The physics
// thread reads the frame time and factor too, so they are atomic words.
class Timer {
public:
    // Constant initialisation: the global instance exists before any initialiser
    // runs; init() then sets the values and picks the tick source.
    constexpr Timer() = default;

    void init();

    // Picks the performance counter when the system has one, else timeGetTime,
    // takes the current reading as the start and sets the accumulator.
    void selectTickSource(float accumulatorStart);

    // Reads the tick source and advances by the time since the last reading.
    // stepClock non-zero also moves whole seconds into the time of day.
    void update(int32_t stepClock);

    // update() with a reading taken by the caller (in ticks of the selected
    // source); does nothing while paused.
    void advance(uint64_t now, int32_t stepClock);

    // Moves whole seconds of the accumulator into the time of day, either way.
    void stepClock();

    uint32_t usePerformanceCounter = 0;
    uint64_t lastCounter = 0;
    float frameTime = 0.0f;
    float previousFactor = 1.0f;
    float fpsTimeSum = 0.0f;
    float clockAccumulator = 0.0f;
    float timeScale = 1.0f;
    float secondsPerTick = 0.001f;
    int32_t frameCount = 0;
    int32_t fpsInterval = 20;
    int32_t fps = 0;
    uint8_t hour = 12;
    uint8_t minute = 0;
    uint8_t second = 0;
    uint16_t millisecond = 0;
    // Set and cleared by the scene's pause and resume (main thread only).
    uint32_t paused = 0;
    // The frame factor as the last pause found it (1.0 before any pause):
    // the menu's highlight ramps step by it, so they keep pulsing while the
    // race clock stands.
    float savedFactor = 1.0f;

    static constexpr float referenceFramesPerSecond = 35.0f;
    static constexpr float maxFactorRise = 1.08f;
    static constexpr float maxFactorFall = 0.92f;
    static constexpr float minFactor = 0.01f;
    // The longest frame the game moves on whole, in seconds: the physics
    // steps a frame of up to this length, and the factor covers the same,
    // so that what moves by the factor keeps the world's pace down to five
    // frames a second. A longer frame counts as this long.
    static constexpr float longestFrame = 0.2f;
    static constexpr float maxFactor = longestFrame * referenceFramesPerSecond;

    // The share of a gap that an easing closing rate of it per 1/35 s
    // closes over a frame of frameFactor: rate at the reference frame, the
    // same easing at any frame rate, and never past the target (rate x
    // factor would overshoot once it passes 1).
    static float easing(float rate, float frameFactor);

private:
    uint64_t readTicks() const;
};

// The global frame clock, advanced by the main loop.
extern Timer gTimer;

// Published by every unpaused Timer::update. Written on the main thread only;
// the scene's pause also zeroes the first three.
extern std::atomic<float> gFrameTime;       // seconds between the last two updates
extern std::atomic<float> gFrameFactor;     // frame time in 1/35 s frames (0.01 to 7), see Timer::advance
extern std::atomic<int32_t> gFramesPerSecond;
extern std::atomic<uint32_t> gFrameCounter; // unpaused updates since start
