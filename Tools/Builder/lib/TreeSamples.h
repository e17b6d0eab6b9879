#pragma once

#include "ImageFileWriter.h"

#include "Core/String.h"

#include <cstdint>
#include <vector>

// The sample trees: a tree with roots, three levels of detail and its bark,
// and a stream of only the version and the end tag.
namespace TreeSamples {

// The seed that the sample's skeletons grow from; also its stored seed.
constexpr uint32_t sampleSeed = 20240611;
constexpr uint32_t sampleRoots = 5;

// 64 x 128 texels of furrowed brown bark, the furrows running along v.
ImageFileWriter::Image bark();
std::vector<uint8_t> sampleTree();
std::vector<uint8_t> emptyTree();
// "Sample.tree" and "Empty.tree" in folder (which ends in a backslash and exists).
bool save(const String& folder);

}
