#include "Entity/Bone.h"

Bone::~Bone()
{
    children.deleteAll();
}

Bone::Root::~Root()
{
    clearBones();
}

void Bone::Root::clearBones()
{
    bones.deleteAll();
}
