#pragma once

#include "WaterFileWriter.h"

#include "Core/String.h"

#include <vector>

// The sample level's water: a lake in a dip of the valley floor and a small
// pond with waves next to the valley's northern dip.
namespace WaterSamples {

// A still lake named name: an ellipse of 40 points around (x, z) with the
// radii rx and rz, its surface at level, its box depth units deep.
WaterFileWriter::Area lake(const wchar_t* name, float x, float z, float rx, float rz, float level, float depth);
std::vector<WaterFileWriter::Area> valley();
// "Data\Map\Valley.wtr" under root (the folders exist).
bool save(const String& root);

}
