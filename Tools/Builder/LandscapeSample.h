#pragma once

#include "Core/String.h"

// The sample level "Data\Map\Valley.tee" under root (the data folders exist).
bool writeLandscapeSample(const String& root);
