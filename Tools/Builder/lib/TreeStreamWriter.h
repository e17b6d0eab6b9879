#pragma once

#include "Tree/TreeParameters.h"

#include "Core/FileInterface.h"

#include <cstdint>
#include <string>
#include <vector>

// Writes tree parameter streams (".tree") in version "v1.1": the trunk
// material, the bough parameters, the stored skeletons of the three levels of
// detail, the bark image and the seed. Skeletons are grown by the game's own
// growth code, so a stream's records are what the game would grow from its
// parameters.
namespace TreeStreamWriter {

// A leaf kind of a branch: its parameters and its image file (none: empty).
struct Leaf
{
    Tree::Branch::Leaf::Param param;
    std::vector<uint8_t> image;
};

// A leafy branch: its leaf kinds, its placed leaves and its skeleton (not
// owned; none: left out).
struct Branch
{
    std::vector<Leaf> leaves;
    std::vector<Tree::Bough::ObjectInfo> placements;
    Tree::Bough* bough = nullptr;
};

// A foliage object: name, parameters, branch, the placements of the three
// levels of detail, and its picture (an image file; empty: the game renders
// the picture from the branch at load).
struct Foliage
{
    std::string name;
    Tree::Foliage::Param param;
    Branch branch;
    std::vector<Tree::Bough::ObjectInfo> placements[3];
    std::vector<uint8_t> texture;
    uint32_t automatic = 0;
};

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
    std::vector<Foliage> foliage;            // tags 7 and 8
    uint32_t seed = 0;                       // tag 9
};

// One stored bough record with its children, depth first. False when a write
// fails or the bough's arrays hold fewer bones, roots or children than its counts.
bool writeBough(FileInterface& target, Tree::Bough& bough);

// One placed object's tagged block (tags 1 to 4, then 0).
bool writeObjectInfo(FileInterface& target, const Tree::Bough::ObjectInfo& info);
// A branch block and a foliage object block, every tag in order.
bool writeBranch(FileInterface& target, const Branch& branch);
bool writeFoliage(FileInterface& target, const Foliage& foliage);

// The whole stream: "v1.1", tags 1 to 6, 7 and 8 (with foliage), 9, 10 and
// 11 in this order, then 0.
bool write(FileInterface& target, const Content& content);

// The parameters of a level of detail: level 0 is param itself; levels 1 and
// 2 grow no twigs and fewer bones on the boughs (level 2 the fewest). The
// trunk's own resolution stays, so every level's trunk picks the same node
// distances from the same seed.
Tree::Bough::Param levelParameters(const Tree::Bough::Param& param, uint32_t level);

// Grows the three skeletons (genBones, then genRoots), each after srand(seed).
void grow(const Tree::Bough::Param& param, uint32_t seed, Tree::Bough (&levels)[3]);

}
