#include "Entity/BoneAnim.h"

#include "Entity/MeshTools.h"

#include "Core/FileInterface.h"

#include <cstring>
#include <new>

namespace {

// The animation whose frame 0 is the rest pose.
const String& restName()
{
    static const String name = String::borrowed(L"default");
    return name;
}

// Bytes of a stored frame's header.
constexpr uint32_t headerBytes = sizeof(BoneAnim::Frame::header);
static_assert(headerBytes == 56);

}

void BoneAnim::Frame::blend(const Frame& a, const Frame& b, float t, int32_t boneCount)
{
    const int32_t n = boneCount < maxAnimatedBones ? boneCount : maxAnimatedBones;
    for (int32_t i = 0; i < n; ++i)
        rotations[i] = quaternion::nlerp(a.rotations[i], b.rotations[i], t);
    const float u = 1.0f - t;
    for (int i = 5; i < 14; ++i)
        header[i] = u * a.header[i] + t * b.header[i];
    for (int i = 0; i < 3; ++i)
        header[i] = (header[5 + i] + header[8 + i]) * 0.5f;
}

BoneAnim::~BoneAnim()
{
    deleteAnimations();
}

void BoneAnim::deleteAnimations()
{
    animations.deleteAll();
}

Bone* BoneAnim::updateBone(Bone& bone)
{
    Bone* parentBone = Root::updateBone(bone);
    refreshDefault();
    return parentBone;
}

void BoneAnim::clear()
{
    deleteAnimations();
    clearBones();
    boneCount = 0;
}

Bone* BoneAnim::addBone(const vec3d& position, float length)
{
    Bone* bone = Root::addBone(position, length);
    if (bone && !findAnimation(restName()))
        ensureDefault();
    refreshDefault();
    return bone;
}

Bone* BoneAnim::addBoneWithGeometry(Bone& parentBone, float length, bool asChild)
{
    Bone* bone = Root::addBoneWithGeometry(parentBone, length, asChild);
    if (bone && !findAnimation(restName()))
        ensureDefault();
    refreshDefault();
    return bone;
}

BoneAnim::Animation* BoneAnim::findAnimation(const String& name) const
{
    for (auto* node = animations.head(); node; node = node->next)
        if (node->item->name.sameText(name))
            return node->item;
    return nullptr;
}

BoneAnim::Player& BoneAnim::selectAnimation(Player& player, const String& name, bool blend)
{
    if (!player.anim)
        return player;
    Animation* found = player.anim->findAnimation(name);
    if (!player.current || player.current->flags == 0 || !blend) {
        player.current = found;
        player.next = nullptr;
    } else {
        player.next = found;
    }
    return player;
}

void BoneAnim::captureFrame(Frame& frame)
{
    if (!hasBones())
        return;
    const vec3d root = bones.head()->item->position();
    frame.header[11] = root.x;
    frame.header[12] = root.y;
    frame.header[13] = root.z;
    int32_t k = 0;
    forEachBone(stack_, [&](Bone& bone) {
        if (k < maxAnimatedBones)
            frame.rotations[k] = quaternion::fromMatrix(matrix3d::fromAngles(bone.angles));
        ++k;
    });
}

void BoneAnim::applyFrame(const Frame& frame)
{
    if (!hasBones())
        return;
    const vec3d root = frame.rootPosition();
    for (auto* node = bones.head(); node; node = node->next)
        node->item->setRow(3, root);
    int32_t k = 0;
    forEachBone(stack_, [&](Bone& bone) {
        if (k < maxAnimatedBones)
            bone.angles = anglesOf(k, frame.rotations[k]);
        ++k;
    });
    for (auto* node = bones.head(); node; node = node->next)
        node->item->updateGeometry();
}

vec3d BoneAnim::anglesOf(int32_t index, const quaternion& rotation)
{
    AppliedRotation* kept = applied_.at(index);
    if (!kept)
        return rotation.toEuler();
    if (!kept->valid || std::memcmp(&kept->rotation, &rotation, sizeof(quaternion)) != 0) {
        kept->rotation = rotation;
        kept->angles = rotation.toEuler();
        kept->valid = 1;
    }
    return kept->angles;
}

BoneAnim::PoseChain& BoneAnim::getThreeBones(PoseChain& chain, int32_t end, int32_t middle, int32_t upper)
{
    chain.bones[0] = getBoneByIndex(end);
    chain.bones[1] = getBoneByIndex(middle);
    chain.bones[2] = getBoneByIndex(upper);
    return chain;
}

void BoneAnim::ensureDefault()
{
    Animation* animation = findAnimation(restName());
    if (!animation) {
        animation = new (std::nothrow) Animation;
        if (!animation)
            return;
        animation->owner = this;
        animation->name = restName();
        if (!animations.append(animation)) {
            delete animation;
            return;
        }
    }
    if (!animation->frames.at(animation->frameCount))
        return;
    for (int32_t i = animation->frameCount; i > 0; --i)
        *animation->frames.at(i) = *animation->frames.at(i - 1);
    ++animation->frameCount;
    Frame& pose = *animation->frames.at(0);
    pose = Frame();
    captureFrame(pose);
}

void BoneAnim::refreshDefault()
{
    Animation* animation = findAnimation(restName());
    if (!animation || animations.count() >= 2)
        return;
    if (animation->frameCount == 0) {
        if (!animation->frames.at(0))
            return;
        animation->frameCount = 1;
    }
    captureFrame(*animation->frames.at(0));
    boneCount = countBones();
}

bool BoneAnim::read(FileInterface& stream, MeshTools& mesh, const matrix3d& transform)
{
    if (!Root::read(stream, transform))
        return false;
    uint16_t stored = 0;
    const bool counted = stream.readValue(stored);
    ensureDefault();
    if (hasBones())
        boneCount = countBones();
    mesh.applyBones();
    for (auto* node = bones.head(); node; node = node->next)
        node->item->bindMesh(mesh);
    if (!counted)
        return false;
    // Frames hold 64 rotations: animations of a larger skeleton are refused.
    if (stored > 0 && boneCount > maxAnimatedBones)
        return false;
    for (uint32_t a = 0; a < stored; ++a) {
        Animation* animation = new (std::nothrow) Animation;
        if (!animation)
            return false;
        animation->owner = this;
        if (!readAnimation(stream, *animation) || !animations.append(animation)) {
            delete animation;
            return false;
        }
    }
    return true;
}

bool BoneAnim::readAnimation(FileInterface& stream, Animation& animation)
{
    uint32_t frameCount = 0;
    if (!stream.readValue(frameCount) || !stream.readValue(animation.flags) || !stream.readString(animation.name))
        return false;
    const uint32_t rotationBytes = uint32_t(boneCount) * sizeof(quaternion);
    if (uint64_t(frameCount) * (headerBytes + rotationBytes) > stream.remaining() ||
        (frameCount > 0 && !animation.frames.reserve(frameCount)))
        return false;
    for (uint32_t f = 0; f < frameCount; ++f) {
        Frame& frame = *animation.frames.at(int32_t(f));
        if (stream.read(frame.header, headerBytes) != headerBytes ||
            stream.read(frame.rotations, rotationBytes) != rotationBytes)
            return false;
    }
    animation.frameCount = int32_t(frameCount);
    return true;
}

bool BoneAnim::write(FileInterface& stream)
{
    Animation* rest = findAnimation(restName());
    if (rest && rest->frameCount > 0)
        applyFrame(*rest->frames.at(0));
    const int32_t bones = countBones();
    int32_t stored = 0;
    for (auto* node = animations.head(); node; node = node->next)
        if (node->item != rest)
            ++stored;
    if (!Root::write(stream) || stored > 65535 || (stored > 0 && bones > maxAnimatedBones) ||
        !stream.writeValue(uint16_t(stored)))
        return false;
    for (auto* node = animations.head(); node; node = node->next)
        if (node->item != rest && !writeAnimation(stream, *node->item, bones))
            return false;
    return true;
}

bool BoneAnim::writeAnimation(FileInterface& stream, Animation& animation, int32_t bones)
{
    if (!stream.writeValue(uint32_t(animation.frameCount)) || !stream.writeValue(animation.flags) ||
        !stream.writeString(animation.name))
        return false;
    const uint32_t rotationBytes = uint32_t(bones) * sizeof(quaternion);
    for (int32_t f = 0; f < animation.frameCount; ++f) {
        const Frame& frame = *animation.frames.at(f);
        if (stream.write(frame.header, headerBytes) != headerBytes ||
            stream.write(frame.rotations, rotationBytes) != rotationBytes)
            return false;
    }
    return true;
}
