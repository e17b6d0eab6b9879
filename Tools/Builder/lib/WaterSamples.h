#pragma once

#include "WaterFileWriter.h"

#include "Core/String.h"

#include <vector>

// The sample level's water: a lake in a dip of the valley floor and a small
// pond with waves next to the valley's northern dip.
namespace WaterSamples {

std::vector<WaterFileWriter::Area> valley();
// "Data\Map\Valley.wtr" under root (the folders exist).
bool save(const String& root);

}
