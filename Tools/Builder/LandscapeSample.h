#pragma once

#include "Core/String.h"

// The sample level "Data\Map\Valley.tee" under root (the data folders exist).
bool writeLandscapeSample(const String& root);

// The sample valley's ground height (world units) at world (x, z): the
// terrain's smooth surface between its finest points.
float valleyGround(float x, float z);
