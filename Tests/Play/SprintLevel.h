#pragma once
// The level of the play tests: a straight race-track sprint on flat meadow,
// made by the builder's own map generator. Keys alone cannot steer round a
// course, so the race runs north along one straight road: the grid and the
// Start near its south end, gates in line, the Goal near its north end.
#include "Core/String.h"

namespace SprintLevel {

// Where the course lies (world units): the road on x = 0 from roadSouth to
// roadNorth; the Start at startZ, the player's quad a little ahead of it at
// playerZ with the opponents' grid ahead of it, facing north, the Goal at
// goalZ, far enough on that a quad held at full throttle is still racing
// when the runs pause it.
constexpr float roadSouth = -500.0f;
constexpr float roadNorth = 1000.0f;
constexpr float startZ = roadSouth + 130.0f;
constexpr float playerZ = startZ + 20.0f;
// How far the opponents' grid lies ahead of where the map generator puts it
// (behind the Start): its nearest slot 28 units ahead of the player's quad.
constexpr float gridAhead = 110.0f;
constexpr float goalZ = roadNorth - 20.0f;

// The flat ground's height (world units).
float ground();

// "Sprint.tee" and the map's other files in folder (which ends with a
// backslash and exists); false when a file could not be written.
bool save(const String& folder);

}
