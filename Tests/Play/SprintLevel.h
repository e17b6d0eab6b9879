#pragma once
// The level of the play tests: a straight race-track sprint on flat meadow,
// made by the builder's writers. Keys alone cannot steer round a course, so
// the race runs north along one straight road: the Start, the grid behind
// it, gates in line and the Goal.
#include "Core/String.h"

namespace SprintLevel {

// Where the course lies (world units): the road on x = 0 from roadSouth to
// roadNorth, the grid's front at startZ facing north (the Start behind
// the grid), the Goal at goalZ, far enough on that a quad held at full
// throttle is still racing when the runs pause it.
constexpr float roadSouth = -500.0f;
constexpr float roadNorth = 700.0f;
constexpr float startZ = -300.0f;
constexpr float gateZ[3] = {-150.0f, 0.0f, 150.0f};
constexpr float goalZ = 650.0f;

// The flat ground's height (world units).
float ground();

// "Sprint.tee", ".map", ".obj" and ".way" in folder (which ends with a
// backslash and exists); false when a file could not be written.
bool save(const String& folder);

}
