#include "Entity/MeshTools.h"

MeshTools::BinaryTiangleTree::~BinaryTiangleTree()
{
    delete triangle;
    delete children[0];
    delete children[1];
}

MeshTools::~MeshTools() = default;
