#pragma once

#include "WayFileWriter.h"

#include "Core/String.h"

#include <functional>
#include <vector>

// The sample level's ways: a closed race course with curbstones on the
// valley floor east of the lake, a paved shortcut across it (a branch of the
// course that ends linked to the course's other side), and a hollow dirt
// track along the western slopes.
namespace WaySamples {

// The ground height (world units) at world (x, z).
using Ground = std::function<float(float x, float z)>;

// The course's first point lies on its west straight; its last point lies on
// the first, closing the loop.
constexpr float westX = 200.0f;
constexpr float eastX = 650.0f;

std::vector<WayFileWriter::Way> valley(const Ground& ground);
// "Data\Map\Valley.way" under root (the folders exist).
bool save(const String& root, const Ground& ground);

}
