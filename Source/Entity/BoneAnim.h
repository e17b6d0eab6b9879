#pragma once
// A skeleton with named animations. An animation is a list of frames; a
// frame is a whole pose: a root position, a few header values and one
// rotation per bone in skeleton order. Every BoneAnim with bones keeps the
// animation "default", whose frame 0 is the rest pose, captured again after
// each change of the bones while it is the only animation. The skeleton and
// its animations are stored together in model streams.
//
// Frames hold 64 rotations: a skeleton with more bones animates only its
// first 64, and stored animations for one are refused.

#include "Entity/Bone.h"

#include "Core/DynArray.h"
#include "Core/Quaternion.h"
#include "Core/SCList.h"
#include "Core/String.h"

#include <cstdint>

class FileInterface;
class MeshTools;

class BoneAnim : public Bone::Root
{
public:
    static constexpr int32_t maxAnimatedBones = 64;

    // One pose.
    struct Frame
    {
        // 0 to 2: the middle of the two points (set by blend); 3 and 4: 1.0
        // by default; 5 to 7: first point; 8 to 10: second point; 11 to 13:
        // root position.
        float header[14] = {0.0f, 0.0f, 0.0f, 1.0f, 1.0f};
        quaternion rotations[maxAnimatedBones];

        vec3d rootPosition() const { return {header[11], header[12], header[13]}; }
        // this := a blended toward b by t for boneCount rotations (normalised
        // linear blend on the shorter arc), header values 5 to 13 linearly,
        // 0 to 2 the middle of the two points; 3 and 4 stay.
        void blend(const Frame& a, const Frame& b, float t, int32_t boneCount);
    };

    struct Animation
    {
        BoneAnim* owner = nullptr;
        String name;
        DynArray<Frame> frames{4, false}; // grows in blocks: frameCount counts
        int32_t frameCount = 0;
        // Stored. A current animation with flags 0 is replaced rather than
        // blended into by selectAnimation.
        uint32_t flags = 0;

        // Frame i, null past the frame count.
        Frame* frame(int32_t i) { return i >= 0 && i < frameCount ? frames.at(i) : nullptr; }
    };

    // The record a playing skeleton keeps: what is shown and what it blends
    // toward, and the working frame.
    struct Player
    {
        BoneAnim* anim = nullptr;
        Animation* current = nullptr;
        Animation* next = nullptr;
        Frame frame;
    };

    // The input of the pose solver: the end bone, its parent (middle) and the
    // middle bone's parent (upper), in this order; the end bone's wanted
    // frame in world space (rows 0 to 2 its rotation, row 1 also the chain's
    // bend direction, row 3 the point to reach); nothing happens while
    // enabled is 0.
    struct PoseChain
    {
        Bone* bones[3] = {};
        matrix3d target = matrix3d::identity();
        uint32_t enabled = 0;
    };

    BoneAnim() = default;
    ~BoneAnim() override;

    Bone* updateBone(Bone& bone) override;
    // Deletes every animation and every bone.
    void clear() override;
    Bone* addBone(const vec3d& position, float length) override;
    Bone* addBoneWithGeometry(Bone& parentBone, float length, bool asChild) override;

    // The skeleton and its animations, replacing these; the transform goes
    // on to the skeleton. mesh is skinned through the bones read and bound
    // to them. False on damage: a damaged skeleton leaves no bones, a damaged
    // animation the skeleton and the animations before it.
    bool read(FileInterface& stream, MeshTools& mesh, const matrix3d& transform = matrix3d::identity());
    // Poses the skeleton in its rest pose (frame 0 of "default") and writes
    // it, then every animation but "default". False when a write fails or
    // the skeleton does not fit its record or (with animations) a frame.
    bool write(FileInterface& stream);

    // The animation of that exact name, else null.
    Animation* findAnimation(const String& name) const;
    // Without blend, or while the player shows nothing or an animation of
    // flags 0, the named animation (null when there is none) replaces the
    // current one and nothing is blended toward; otherwise it becomes the
    // one blended toward. Nothing for a player without a skeleton.
    static Player& selectAnimation(Player& player, const String& name, bool blend);

    // The present pose: the first root bone's position and each bone's
    // angle rotation. Nothing for a skeleton without bones.
    void captureFrame(Frame& frame);
    // Poses the skeleton from frame: root bones to its root position, each
    // bone's angles from its rotation (limits do not apply), then the
    // geometry of every root bone with its children.
    void applyFrame(const Frame& frame);
    // chain.bones := the bones of skeleton indices end, middle, upper.
    PoseChain& getThreeBones(PoseChain& chain, int32_t end, int32_t middle, int32_t upper);
    // Turns the upper and middle bones (two passes) so that the chain
    // reaches for the target, then gives the end bone the target's
    // rotation; world is the model's world matrix. Works through the turn
    // matrices: no bone's angles change. A singular frame or a zero
    // direction leaves the turn it concerns undone.
    PoseChain& computePose(PoseChain& chain, const matrix3d& world);

    // "default" with the present pose as its frame 0 (made when missing,
    // else the pose goes in front of its frames).
    void ensureDefault();
    // While "default" is the only animation: its frame 0 := the present
    // pose, and boneCount := the number of bones.
    void refreshDefault();

    SCList<Animation> animations;
    int32_t boneCount = 0;

private:
    // A frame rotation applyFrame turned into Euler angles, kept with them:
    // most bones keep their rotation from one pose to the next, whichever
    // rider is posed, and are not converted again.
    struct AppliedRotation
    {
        quaternion rotation;
        vec3d angles;
        uint32_t valid = 0;
    };
    vec3d anglesOf(int32_t index, const quaternion& rotation);
    DynArray<AppliedRotation> applied_{16, false};

    // Rotations a frame of this skeleton carries.
    int32_t animatedBones() const { return boneCount < maxAnimatedBones ? boneCount : maxAnimatedBones; }
    void deleteAnimations();
    bool readAnimation(FileInterface& stream, Animation& animation);
    bool writeAnimation(FileInterface& stream, Animation& animation, int32_t bones);
};
static_assert(sizeof(BoneAnim::Frame) == 1080);
