#pragma once

#include "ImageFileWriter.h"
#include "MeadowFileWriter.h"

#include "Core/String.h"

#include <vector>

// The sample level's meadow: grass on the valley floor and reeds standing in
// the lake's shallow water, both drawn with one grass tuft made here.
namespace MeadowSamples {

// A 64 x 64 tuft of pale blades on a transparent ground, the blades opaque.
ImageFileWriter::Image tuft();
// Grass on ground between grassLow and grassHigh (world heights) and reeds
// in the shallow water below waterLevel (no reeds for a level below 0),
// drawn with the tuft.
std::vector<MeadowFileWriter::Layer> meadow(float grassLow, float grassHigh, float waterLevel);
std::vector<MeadowFileWriter::Layer> valley();
// "Data\Map\Valley.mdw" under root (the folders exist).
bool save(const String& root);

}
