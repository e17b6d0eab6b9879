#pragma once

#include "Tree/Tree.h"

// One foliage object of a tree: a leafy branch repeated over the tree's boughs.
class Tree::Foliage
{
public:
    class Param; // TreeParameters.h
};
