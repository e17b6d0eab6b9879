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
std::vector<MeadowFileWriter::Layer> valley();
// "Data\Map\Valley.mdw" under root (the folders exist).
bool save(const String& root);

}
