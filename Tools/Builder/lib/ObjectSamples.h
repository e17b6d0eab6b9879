#pragma once

#include "StaticObjectWriter.h"

#include "Core/String.h"

#include <vector>

// The sample level's placed objects: camera objects 0 to 8 (0 the start
// view), trees along the valley, rocks on the slopes, a few crates, a gate
// that is always active and a marker written by a later builder (a tag this
// game does not know).
namespace ObjectSamples {

std::vector<StaticObjectWriter::Object> valley();
// "Data\Map\Valley.obj" under root (the folders exist).
bool save(const String& root);

}
