#pragma once
// The level of the play tests: a straight race-track sprint on flat meadow,
// made by the builder's own map generator. Keys alone cannot steer round a
// course, so the race runs north along one straight road: the grid and the
// Start near its south end, gates in line, the Goal near its north end.
#include "Core/String.h"

namespace SprintLevel {

// Where the course lies (world units): the road on x = 0 from roadSouth to
// roadNorth; the Start at startZ with the opponents' grid behind it facing
// north, the player's quad ahead of it at (playerX, playerZ), the Goal at
// goalZ, far enough on that a quad held at full throttle is still racing
// when the runs pause it.
constexpr float roadSouth = -500.0f;
constexpr float roadNorth = 1000.0f;
constexpr float startZ = roadSouth + 130.0f;
// Left of the opponents' lanes (the road is 30 wide): they pass a quad that
// stands there.
constexpr float playerX = -10.0f;
constexpr float playerZ = startZ + 60.0f;
// How far the opponents' grid lies behind where the map generator puts it
// (its last slot still on the road).
constexpr float gridBack = 60.0f;
constexpr float goalZ = roadNorth - 20.0f;
// The gates' scale: their posts (each a tenth of the frame's width, which
// is 4 units unscaled) stand clear of the road's edges. As the map generator sizes
// them they stood on its margins, and the quad, driven off its line by
// slow uneven frames, caught the left one and stood against it.
constexpr float gateScale = 9.5f;

// The flat ground's height (world units).
float ground();

// "Sprint.tee" and the map's other files in folder (which ends with a
// backslash and exists); false when a file could not be written.
bool save(const String& folder);

}
