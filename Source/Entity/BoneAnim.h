#pragma once
// A mesh's skeleton: the root bone list (frames and animations belong to the
// skeletal animation built on it).

#include "Entity/Bone.h"

class BoneAnim : public Bone::Root
{
public:
    BoneAnim() = default;
};
