#pragma once

#include "Tree/TreeParameters.h"

#include "Core/FileInterface.h"

#include <cstdint>
#include <vector>

// Writes tree parameter streams (".tree") in version "v1.1": the trunk
// material, the bough parameters, the stored skeletons of the three levels of
// detail, the bark image and the seed. Skeletons are grown by the game's own
// growth code, so a stream's records are what the game would grow from its
// parameters.
namespace TreeStreamWriter {

struct Content
{
    float ambient = 0.6f;                    // tag 1
    float diffuse = 1.0f;                    // tag 2
    uint32_t tag3Value = 2;                  // tag 3
    Tree::Bough::Param param;                // tag 4
    // The skeletons of levels of detail 0, 1, 2 (tags 5, 10, 11); a null one
    // is left out. Not owned.
    Tree::Bough* levels[3] = {};
    std::vector<uint8_t> bark;               // tag 6: an image file; empty for none
    uint32_t seed = 0;                       // tag 9
};

// One stored bough record with its children, depth first. False when a write
// fails or the bough's arrays hold fewer bones, roots or children than its counts.
bool writeBough(FileInterface& target, Tree::Bough& bough);

// The whole stream: "v1.1", tags 1 to 6, 9, 10 and 11 in this order, then 0.
bool write(FileInterface& target, const Content& content);

// The parameters of a level of detail: level 0 is param itself; levels 1 and
// 2 grow no twigs and fewer bones on the boughs (level 2 the fewest). The
// trunk's own resolution stays, so every level's trunk picks the same node
// distances from the same seed.
Tree::Bough::Param levelParameters(const Tree::Bough::Param& param, uint32_t level);

// Grows the three skeletons (genBones, then genRoots), each after srand(seed).
void grow(const Tree::Bough::Param& param, uint32_t seed, Tree::Bough (&levels)[3]);

}
