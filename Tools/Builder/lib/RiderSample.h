#pragma once
// The sample rider: a 13-bone skeleton with a box around every bone, stored
// as a marked mesh record with the animations "Stand", "Sit", "LeanLeft"
// and "LeanRight" (one frame each). Skeleton order: 0 pelvis, 1 and 2 the
// legs, 3 spine, 4 to 7 the right clavicle, upper arm, forearm and hand,
// 8 head, 9 to 12 the left clavicle, upper arm, forearm and hand (x runs to
// the rider's right); the pose chains of the quad's rider run over 5 to 7
// and 10 to 12.

#include "MeshWriter.h"

#include "Core/String.h"

namespace RiderSample {

constexpr int boneCount = 13;

struct BoneDescription
{
    int parent; // skeleton index, -1 for the root
    vec3d angles;
    float length;
    float width; // half the side of the bone's box
};
extern const BoneDescription bones[boneCount];
// The root's position (model space, y up).
extern const vec3d rootPosition;

// Each bone's model-space placement in the rest pose (rows 0 to 2 the
// rotation, row 3 the base), the bone's angles under its parent's; the
// mesh's boxes are laid out from these.
void restPlacements(matrix3d placements[boneCount]);
// Each bone's model-space placement in the first frame of the named
// animation; false when there is none of that name.
bool posePlacements(const char* name, matrix3d placements[boneCount]);

// Format 274 with the marker and the skeleton: 24 vertices (4 per face) per
// bone, each moved by its own bone.
MeshWriter::Record record();

// Writes "Rider.mesh" into folder (which ends in a backslash).
bool save(const String& folder);

}
