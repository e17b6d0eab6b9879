// The pose solver: a chain of three bones (upper, middle, end) reaches for a
// target frame in world space. Each turn builds the frame the bone should
// have in world space and hands the bone the turn that takes its base
// rotation there, so the angles the animation set stay untouched.
#include "Entity/BoneAnim.h"

#include "Entity/MeshTools.h"

#include "Core/Math.h"

namespace {

void normaliseRows(matrix3d& m)
{
    for (int r = 0; r < 3; ++r)
        m.setRow(r, MeshGeometry::unit(m.row(r)));
}

// The bone's frame in world space: its base rotation placed at its position,
// times world.
matrix3d worldFrame(const Bone& bone, const matrix3d& world)
{
    matrix3d frame = bone.baseRotation;
    for (int r = 0; r < 3; ++r)
        frame.at(r, 3) = 0.0f;
    frame.setRow(3, bone.position());
    frame.m[15] = 1.0f;
    return frame * world;
}

// Turns bone so that its tip points from its base toward goal (world
// space); its children are not updated.
void turnToward(Bone& bone, const vec3d& goal, const matrix3d& world)
{
    const matrix3d frame = worldFrame(bone, world);
    matrix3d inverse;
    if (!frame.inverseAffine(inverse))
        return;
    const vec3d direction = MeshGeometry::unit(goal - world.transformPoint(bone.position()));
    if (direction.x == 0.0f && direction.y == 0.0f && direction.z == 0.0f)
        return;
    matrix3d wanted = matrix3d::identity();
    const vec3d side = MeshGeometry::unit(frame.row(2).cross(direction));
    wanted.setRow(0, side);
    wanted.setRow(1, -direction);
    wanted.setRow(2, MeshGeometry::unit(side.cross(-direction)));
    matrix3d turn = wanted * inverse;
    normaliseRows(turn);
    bone.updateGeometry(&turn, true);
}

}

BoneAnim::PoseChain& BoneAnim::computePose(PoseChain& chain, const matrix3d& world)
{
    Bone* end = chain.bones[0];
    Bone* middle = chain.bones[1];
    Bone* upper = chain.bones[2];
    if (!end || !middle || !upper || !chain.enabled)
        return chain;
    const float scale = fastSqrt(world.row(0).lengthSq());
    const vec3d reach = chain.target.row(3);
    const vec3d elbow = reach + chain.target.row(1) * (scale * middle->length);
    for (int pass = 0; pass < 2; ++pass) {
        turnToward(*upper, elbow, world);
        turnToward(*middle, reach, world);
    }
    const matrix3d identity = matrix3d::identity();
    end->updateGeometry(&identity, true);
    matrix3d inverse;
    if (!worldFrame(*end, world).inverseAffine(inverse))
        return chain;
    matrix3d turn = chain.target * inverse;
    normaliseRows(turn);
    end->updateGeometry(&turn, false);
    return chain;
}
