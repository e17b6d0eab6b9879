#pragma once

#include "StaticObjectWriter.h"

#include "Core/String.h"

#include <functional>
#include <vector>

// The sample level's placed objects: camera objects 0 to 8 (0 the start
// view), trees along the valley, rocks on the slopes, a few crates, a gate
// that is always active and a marker written by a later builder (a tag this
// game does not know), and the race (valleyRace).
namespace ObjectSamples {

// The ground height (world units) at world (x, z).
using Ground = std::function<float(float x, float z)>;

// An object of package at (x, y, z), turned by rotation degrees about the
// upright axis (0 faces +z, 90 faces +x).
StaticObjectWriter::Object placed(const wchar_t* package, float x, float y, float z, float rotation = 0.0f);

// With ground, the race objects stand on it; without, at a height of 50.
std::vector<StaticObjectWriter::Object> valley(const Ground& ground = {});
// The valley's race around the closed course of the sample ways: a Start on
// its west straight facing north with the Goal beside it, 8 player slots
// (numbers 0 to 7) behind it, 6 gates of group 0 around the loop (numbers 1
// to 6) and 2 of group 1 on the shortcut (10 and 11), two of each pick-up,
// the capture flag, 7 parking slots and the podium beside the start.
std::vector<StaticObjectWriter::Object> valleyRace(const Ground& ground);
// "Data\Map\Valley.obj" under root (the folders exist).
bool save(const String& root, const Ground& ground = {});

}
