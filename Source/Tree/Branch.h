#pragma once

#include "Tree/Tree.h"

// A leafy branch: a small bough hierarchy with leaf cards, shown on the tree
// as cards carrying a picture of the whole branch.
class Tree::Branch
{
public:
    class Param; // TreeParameters.h
    class Leaf;
};

// One kind of leaf card of a branch.
class Tree::Branch::Leaf
{
public:
    class Param; // TreeParameters.h
};
