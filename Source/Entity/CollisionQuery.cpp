#include "Entity/CollisionQuery.h"

CollisionQuery gCollisionQuery;

void CollisionQuery::clear()
{
    candidates.setBlocks(0);
    triangles.setBlocks(0);
    vertices.setBlocks(0);
    triangleCount = 0;
    vertexCount = 0;
}
