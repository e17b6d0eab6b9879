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
// 32 x 64 texels of a green leaf, transparent around it.
ImageFileWriter::Image leaf();
// 64 x 64 texels of a leafy branch seen from the front, painted without a
// device: the stored picture of the leafy sample.
ImageFileWriter::Image foliagePicture();
// The sample tree with one foliage object: a small leafy branch (one leaf
// kind) placed over the tree's three levels. With pictureStored the object
// carries its picture (curved cards); without, the game renders the picture
// of the branch when it loads the tree (star cards). Another seed grows
// another tree of the same kind.
std::vector<uint8_t> leafyTree(bool pictureStored, uint32_t seed = sampleSeed);
std::vector<uint8_t> emptyTree();
// "Sample.tree", "Leafy.tree" (picture stored), "LeafyRendered.tree" and
// "Empty.tree" in folder (which ends in a backslash and exists).
bool save(const String& folder);

}
