// Skeletal animation: frames captured, blended and applied, the stored
// skeleton with its animations (the builder's rider read by the game), and
// the pose solver on the rider.
#include "MeshTestSupport.h"

#include "../Core/StreamTestSupport.h"

#include "RiderSample.h"

#include <cmath>
#include <cstring>
#include <functional>

namespace {

void expectNear(const matrix3d& a, const matrix3d& b, float tolerance, const char* what)
{
    for (int i = 0; i < 16; ++i)
        ASSERT_NEAR(a.m[i], b.m[i], tolerance) << what << ", element " << i;
}

void expectNear(const vec3d& a, const vec3d& b, float tolerance, const char* what)
{
    ASSERT_NEAR((a - b).length(), 0.0f, tolerance) << what << ": (" << a.x << ", " << a.y << ", " << a.z << ")";
}

void fill(FileArray& stream, const std::vector<uint8_t>& bytes)
{
    stream.write(bytes.data(), uint32_t(bytes.size()));
    stream.seek(0, 0);
}

std::vector<uint8_t> bytesOf(BoneAnim& anim)
{
    FileArray stream(4096);
    EXPECT_TRUE(anim.write(stream));
    return std::vector<uint8_t>(stream.memory(), stream.memory() + stream.size());
}

// The rider as the game reads it from the builder's record.
struct Rider
{
    MeshWriter::Record record = RiderSample::record();
    EntityMesh mesh{String(L"Rider")};
    BoneAnim& anim = *mesh.getBoneAnim();

    Rider() { decode(mesh, bytesOf(MeshWriter::writeRecord, record), 4); }

    BoneAnim::Frame frame(const std::string& name)
    {
        BoneAnim::Animation* animation = anim.findAnimation(String(std::wstring(name.begin(), name.end()).c_str()));
        EXPECT_NE(animation, nullptr) << name;
        return animation && animation->frame(0) ? *animation->frame(0) : BoneAnim::Frame();
    }
};

std::vector<matrix3d> placements(BoneAnim& anim)
{
    std::vector<matrix3d> all;
    for (int k = 0; k < anim.countBones(); ++k)
        all.push_back(*anim.getBoneByIndex(k));
    return all;
}

// A chain's target: the end bone's rotation turned by angles, reaching for point.
matrix3d chainTarget(const vec3d& angles, const vec3d& point)
{
    matrix3d target = matrix3d::fromAngles(angles);
    target.setRow(3, point);
    return target;
}

TEST(BoneAnim, CapturedFramesRestoreTheBones)
{
    std::mt19937 random(2);
    std::uniform_real_distribution<float> angle(-180.0f, 180.0f);
    Rider rider;
    for (int round = 0; round < 20; ++round) {
        for (int k = 0; k < RiderSample::boneCount; ++k)
            rider.anim.getBoneByIndex(k)->setAngles(vec3d(angle(random), angle(random), angle(random)));
        BoneAnim::Frame frame;
        rider.anim.captureFrame(frame);
        const std::vector<matrix3d> before = placements(rider.anim);
        for (int k = 0; k < RiderSample::boneCount; ++k)
            rider.anim.getBoneByIndex(k)->setAngles(vec3d(angle(random), angle(random), angle(random)));
        rider.anim.aimBone(*rider.anim.getBoneByIndex(0), vec3d(9, 9, 9), false);
        rider.anim.applyFrame(frame);
        const std::vector<matrix3d> after = placements(rider.anim);
        for (size_t k = 0; k < before.size(); ++k)
            expectNear(after[k], before[k], 1e-3f, "the captured pose comes back");
    }
}

TEST(BoneAnim, BlendsReachEitherEndAndMeetHalfway)
{
    Rider rider;
    const BoneAnim::Frame stand = rider.frame("Stand"), sit = rider.frame("Sit");
    struct Case
    {
        float t;
        const BoneAnim::Frame* expected;
    };
    for (const Case& c : {Case{0.0f, &stand}, Case{1.0f, &sit}}) {
        BoneAnim::Frame blended;
        blended.header[3] = 7.0f;
        blended.blend(stand, sit, c.t, rider.anim.boneCount);
        for (int k = 0; k < RiderSample::boneCount; ++k) {
            const quaternion& q = blended.rotations[k];
            const quaternion& e = c.expected->rotations[k];
            EXPECT_NEAR(std::fabs(q.dot(e)), 1.0f, 1e-5f) << "t " << c.t << ", bone " << k;
        }
        for (int i = 5; i < 14; ++i)
            EXPECT_FLOAT_EQ(blended.header[i], c.expected->header[i]) << i;
        EXPECT_EQ(blended.header[3], 7.0f) << "header values 3 and 4 stay";
        for (int i = 0; i < 3; ++i)
            EXPECT_FLOAT_EQ(blended.header[i], (blended.header[5 + i] + blended.header[8 + i]) / 2);
    }

    // Halfway, a bone turned about one axis is turned halfway.
    BoneAnim::Frame a, b, half;
    b.rotations[0] = quaternion::fromMatrix(matrix3d::fromAngles(vec3d(0, 0, 80)));
    b.rotations[1] = quaternion(-b.rotations[0].x, -b.rotations[0].y, -b.rotations[0].z, -b.rotations[0].w);
    half.blend(a, b, 0.5f, 2);
    for (int k = 0; k < 2; ++k)
        EXPECT_NEAR(half.rotations[k].toEuler().z, 40.0f, 1e-3f) << "the shorter arc, whatever the sign";
}

// Applying a frame keeps each bone's last rotation with its angles, so that
// unchanged bones are not converted again: the angles must be exactly those
// of the frame's rotation, whatever came before (the same rotation again, one
// bone changed, a sign of zero, frames of other riders in between).
TEST(BoneAnim, AppliedFramesGiveEachBoneTheAnglesOfItsRotation)
{
    Rider rider, other;
    const BoneAnim::Frame sit = rider.frame("Sit"), stand = rider.frame("Stand");
    BoneAnim::Frame oneBone = sit;
    oneBone.rotations[3] = stand.rotations[3];
    BoneAnim::Frame signedZero = stand;
    signedZero.rotations[6] = quaternion(-0.0f, 0.0f, -0.0f, 1.0f);
    BoneAnim::Frame blended;
    blended.blend(sit, stand, 0.3f, rider.anim.boneCount);
    struct Step
    {
        const char* name;
        const BoneAnim::Frame* frame;
    };
    const Step steps[] = {{"sit", &sit},          {"sit again", &sit},          {"stand", &stand},
                          {"one bone", &oneBone}, {"sit after it", &sit},       {"signed zero", &signedZero},
                          {"stand", &stand},      {"blended", &blended},        {"sit", &sit}};
    std::mt19937 random(41);
    for (const Step& step : steps) {
        // Another rider posed in between changes nothing of this one.
        other.anim.applyFrame(random() % 2 ? sit : stand);
        rider.anim.applyFrame(*step.frame);
        for (int k = 0; k < RiderSample::boneCount; ++k) {
            const vec3d expected = step.frame->rotations[k].toEuler();
            const vec3d angles = rider.anim.getBoneByIndex(k)->angles;
            EXPECT_EQ(std::memcmp(&angles, &expected, sizeof(vec3d)), 0) << step.name << ", bone " << k;
        }
        // And the placements are exactly those a fresh rider takes from the
        // frame (a zero's sign aside).
        Rider fresh;
        fresh.anim.applyFrame(*step.frame);
        for (int k = 0; k < RiderSample::boneCount; ++k)
            for (int e = 0; e < 16; ++e)
                ASSERT_EQ(rider.anim.getBoneByIndex(k)->m[e], fresh.anim.getBoneByIndex(k)->m[e])
                    << step.name << ", bone " << k << ", element " << e;
    }
}

TEST(BoneAnim, TheBuildersRiderReadsBack)
{
    Rider rider;
    ASSERT_EQ(rider.anim.countBones(), RiderSample::boneCount);
    EXPECT_EQ(rider.anim.boneCount, RiderSample::boneCount);
    matrix3d rest[RiderSample::boneCount];
    RiderSample::restPlacements(rest);
    for (int k = 0; k < RiderSample::boneCount; ++k) {
        Bone& bone = *rider.anim.getBoneByIndex(k);
        EXPECT_EQ(bone.length, RiderSample::bones[k].length) << k;
        EXPECT_EQ(bone.angles, RiderSample::bones[k].angles) << k;
        expectNear(bone, rest[k], 1e-5f, "the bone stands where the builder placed it");
        const int parent = RiderSample::bones[k].parent;
        EXPECT_EQ(bone.parent, parent < 0 ? nullptr : rider.anim.getBoneByIndex(parent)) << k;
        // The skinned rest pose puts each box around its own bone.
        const float w = RiderSample::bones[k].width + 1e-4f;
        matrix3d toBone;
        ASSERT_TRUE(bone.inverseAffine(toBone));
        for (int v = 24 * k; v < 24 * k + 24; ++v) {
            const vec3d p = toBone.transformPoint(*rider.mesh.getSkinnedVertexData(v)->position);
            ASSERT_LE(std::fabs(p.x), w) << k << ", vertex " << v;
            ASSERT_LE(std::fabs(p.z), w) << k << ", vertex " << v;
            ASSERT_LE(p.y, 1e-4f) << k << ", vertex " << v;
            ASSERT_GE(p.y, -bone.length - 1e-4f) << k << ", vertex " << v;
        }
        EXPECT_GT(bone.triangleCount, 0) << "every bone binds its own box's triangles";
    }

    int stored = 0;
    for (const MeshWriter::Skeleton::Animation& expected : rider.record.skeleton.animations) {
        const BoneAnim::Frame frame = rider.frame(expected.name);
        for (int i = 0; i < 14; ++i)
            EXPECT_EQ(frame.header[i], expected.frames[0].header[i]);
        for (int k = 0; k < RiderSample::boneCount; ++k)
            EXPECT_EQ(std::memcmp(&frame.rotations[k], &expected.frames[0].rotations[size_t(k)], 16), 0);
        ++stored;
    }
    EXPECT_EQ(stored, 4);
    for (auto* node = rider.anim.animations.head(); node; node = node->next)
        EXPECT_EQ(node->item->owner, &rider.anim);
    BoneAnim::Animation* rest0 = rider.anim.findAnimation(String(L"default"));
    ASSERT_NE(rest0, nullptr);
    const std::vector<matrix3d> before = placements(rider.anim);
    rider.anim.applyFrame(*rest0->frame(0));
    const std::vector<matrix3d> after = placements(rider.anim);
    for (size_t k = 0; k < before.size(); ++k)
        expectNear(after[k], before[k], 1e-4f, "frame 0 of \"default\" is the rest pose");

    // Written again, the animations come back byte for byte and the skeleton
    // in its rest pose.
    EntityMesh copy(String(L"copy"));
    FileArray stream(4096);
    fill(stream, bytesOf(rider.anim));
    ASSERT_TRUE(copy.getBoneAnim()->read(stream, copy));
    EXPECT_EQ(bytesOf(*copy.getBoneAnim()).size(), stream.size());
    for (int k = 0; k < RiderSample::boneCount; ++k)
        expectNear(*copy.getBoneAnim()->getBoneByIndex(k), rest[k], 1e-4f, "rest pose");
    EXPECT_EQ(copy.getBoneAnim()->animations.count(), 5);
}

TEST(BoneAnim, StoredAnimationsOfSmallSkeletons)
{
    BoneAnim none;
    EXPECT_EQ(bytesOf(none), (std::vector<uint8_t>{0, 0, 0})) << "no bones: a zero byte, then the u16 0";
    BoneAnim single;
    single.addBone(vec3d(), 1.0f);
    EXPECT_EQ(single.animations.count(), 1) << "the first bone brings \"default\"";
    const std::vector<uint8_t> bytes = bytesOf(single);
    EXPECT_EQ(bytes.size(), 1 + 12 + 43 + 2u) << "only \"default\": no animation record";
    EXPECT_EQ(bytes[bytes.size() - 2] | bytes[bytes.size() - 1], 0);

    // "default" follows the bones until a second animation exists.
    Bone* bone = single.getBoneByIndex(0);
    bone->setAngles(vec3d(0, 0, 30));
    single.updateBone(*bone);
    BoneAnim::Animation& rest = *single.findAnimation(String(L"default"));
    EXPECT_NEAR(rest.frame(0)->rotations[0].toEuler().z, 30.0f, 1e-3f);
    single.addBoneWithGeometry(*bone, 1.0f, true);
    EXPECT_EQ(single.boneCount, 2);
    BoneAnim::Animation* extra = new BoneAnim::Animation;
    extra->name = String(L"Wave");
    single.animations.append(extra);
    bone->setAngles(vec3d(0, 0, 60));
    single.updateBone(*bone);
    EXPECT_NEAR(rest.frame(0)->rotations[0].toEuler().z, 30.0f, 1e-3f) << "with two animations the rest pose stays";
}

TEST(BoneAnim, AnimationsNeedAtMostSixtyFourBones)
{
    for (int count : {64, 65}) {
        BoneAnim anim;
        Bone* bone = anim.addBone(vec3d(), 1.0f);
        for (int k = 1; k < count; ++k)
            anim.addBoneWithGeometry(*bone, 1.0f, true);
        // One stored animation of one frame, written by hand.
        FileArray stream(4096);
        ASSERT_TRUE(anim.Bone::Root::write(stream));
        stream.writeValue(uint16_t(1));
        stream.writeValue(uint32_t(1));
        stream.writeValue(uint32_t(1));
        stream.writeString(String(L"Wave"));
        const BoneAnim::Frame frame;
        stream.write(frame.header, 56);
        for (int k = 0; k < count; ++k)
            stream.write(&frame.rotations[0], 16);
        stream.seek(0, 0);
        EntityMesh mesh(String(L"m"));
        EXPECT_EQ(mesh.getBoneAnim()->read(stream, mesh), count <= 64) << count;
        EXPECT_EQ(mesh.getBoneAnim()->countBones(), count) << "the skeleton stays";
        EXPECT_EQ(mesh.getBoneAnim()->findAnimation(String(L"Wave")) != nullptr, count <= 64) << count;
    }
}

// A damaged animation is dropped; the skeleton and the animations before it
// stay.
TEST(BoneAnim, ADamagedAnimationKeepsWhatCameBefore)
{
    MeshWriter::Record record = RiderSample::record();
    MeshWriter::Skeleton& skeleton = record.skeleton;
    skeleton.animations[2].frames.push_back(skeleton.animations[2].frames[0]);
    std::vector<uint8_t> bytes = bytesOf(MeshWriter::writeRecord, record);
    // The third stored animation's frame count sits just after the first
    // two: cut the data inside its second frame.
    const size_t frame = 56 + 16 * RiderSample::boneCount;
    size_t third = bytes.size();
    for (size_t a = 4; a-- > 2;)
        third -= 4 + 4 + 4 + skeleton.animations[a].name.size() + frame * skeleton.animations[a].frames.size();
    struct Case
    {
        const char* name;
        std::function<void(std::vector<uint8_t>&)> damage;
    };
    const Case cases[] = {
        {"a frame count past the data", [&](std::vector<uint8_t>& b) { std::memset(&b[third], 0x7F, 4); }},
        {"cut inside a frame", [&](std::vector<uint8_t>& b) { b.resize(third + 12 + 4 + frame + 20); }},
    };
    for (const Case& c : cases) {
        std::vector<uint8_t> damaged = bytes;
        c.damage(damaged);
        EntityMesh mesh(String(L"m"));
        FileArray stream(4096);
        fill(stream, damaged);
        MeshTools::processMode(mesh, &stream, matrix3d::identity(), 4);
        BoneAnim& anim = *mesh.getBoneAnim();
        EXPECT_EQ(anim.countBones(), RiderSample::boneCount) << c.name;
        EXPECT_NE(anim.findAnimation(String(L"Stand")), nullptr) << c.name;
        EXPECT_NE(anim.findAnimation(String(L"Sit")), nullptr) << c.name;
        EXPECT_EQ(anim.findAnimation(String(L"LeanLeft")), nullptr) << c.name;
        EXPECT_EQ(anim.animations.count(), 3) << c.name;
        EXPECT_EQ(*mesh.getVertexCount(), int32_t(record.positions.size())) << c.name << ": the mesh stands";
    }
}

TEST(BoneAnim, SelectingReplacesOrBlendsAsTheCurrentAnimationAllows)
{
    Rider rider;
    BoneAnim::Animation* stand = rider.anim.findAnimation(String(L"Stand"));
    BoneAnim::Animation* sit = rider.anim.findAnimation(String(L"Sit"));
    BoneAnim::Animation* rest = rider.anim.findAnimation(String(L"default"));
    struct Case
    {
        const char* name;
        BoneAnim::Animation* current;
        bool blend;
        BoneAnim::Animation* expectedCurrent;
        BoneAnim::Animation* expectedNext;
    };
    const Case cases[] = {
        {"nothing shown yet", nullptr, true, sit, nullptr},
        {"no blend asked", stand, false, sit, nullptr},
        {"blending", stand, true, stand, sit},
        {"flags 0 are replaced at once", rest, true, sit, nullptr},
    };
    for (const Case& c : cases) {
        BoneAnim::Player player;
        player.anim = &rider.anim;
        player.current = c.current;
        BoneAnim::selectAnimation(player, String(L"Sit"), c.blend);
        EXPECT_EQ(player.current, c.expectedCurrent) << c.name;
        EXPECT_EQ(player.next, c.expectedNext) << c.name;
    }
    BoneAnim::Player alone;
    alone.current = stand;
    BoneAnim::selectAnimation(alone, String(L"Sit"), false);
    EXPECT_EQ(alone.current, stand) << "a player without a skeleton changes nothing";
    BoneAnim::Player player;
    player.anim = &rider.anim;
    BoneAnim::selectAnimation(player, String(L"Missing"), false);
    EXPECT_EQ(player.current, nullptr);
}

TEST(BoneAnim, ThePoseSolverReachesForTheTarget)
{
    std::mt19937 random(17);
    std::uniform_real_distribution<float> unit(-1.0f, 1.0f);
    Rider rider;
    const BoneAnim::Frame sit = rider.frame("Sit");
    for (int round = 0; round < 30; ++round) {
        rider.anim.applyFrame(sit);
        const std::vector<matrix3d> animated = placements(rider.anim);
        // A world matrix with a turn, a scale and a move.
        matrix3d world = matrix3d::fromAngles(vec3d(0, 90.0f * unit(random), 0));
        const float scale = 1.5f;
        for (int i = 0; i < 12; ++i)
            world.m[i] *= scale;
        world.setRow(3, vec3d(10, 0, -4));
        BoneAnim::PoseChain chain;
        rider.anim.getThreeBones(chain, round % 2 ? 12 : 7, round % 2 ? 11 : 6, round % 2 ? 10 : 5);
        chain.enabled = 1;
        const vec3d shoulder = world.transformPoint(chain.bones[2]->position());
        chain.target = chainTarget(vec3d(60 * unit(random), 60 * unit(random), 60 * unit(random)),
                                   shoulder + vec3d(unit(random), unit(random) - 0.5f, 0.5f + 0.3f * unit(random)) * 0.5f);
        std::vector<vec3d> angles;
        for (int k = 0; k < RiderSample::boneCount; ++k)
            angles.push_back(rider.anim.getBoneByIndex(k)->angles);
        rider.anim.computePose(chain, world);
        // The turns start from the base rotations of the chain's last solve:
        // the first solve of a chain starts from none, so only a second one
        // (as the rider's next frame would) points the middle bone exactly.
        if (round < 2)
            rider.anim.computePose(chain, world);

        Bone& end = *chain.bones[0];
        Bone& middle = *chain.bones[1];
        Bone& upper = *chain.bones[2];
        const vec3d elbow = chain.target.row(3) + chain.target.row(1) * (scale * middle.length);
        const vec3d upperBase = world.transformPoint(upper.position());
        const vec3d upperTip = world.transformPoint(upper.tip());
        expectNear((upperTip - upperBase).normalised(), (elbow - upperBase).normalised(), 2e-3f,
                   "the upper bone points at the elbow point");
        EXPECT_NEAR((upper.tip() - upper.position()).length(), upper.length, 1e-4f) << "and keeps its length";
        expectNear(middle.position(), upper.tip(), 1e-5f, "the middle bone starts at the upper bone's tip");
        const vec3d middleBase = world.transformPoint(middle.position());
        expectNear(world.transformVector(middle.tip() - middle.position()).normalised(),
                   (chain.target.row(3) - middleBase).normalised(), 2e-3f, "the middle bone points at the target");
        expectNear(end.position(), middle.tip(), 1e-5f, "the end bone sits at the middle bone's tip");
        const matrix3d endInWorld = static_cast<matrix3d&>(end) * world;
        for (int r = 0; r < 3; ++r)
            expectNear(endInWorld.row(r) / scale, chain.target.row(r), 2e-3f, "the end bone takes the target's turn");
        for (auto* node = end.children.head(); node; node = node->next)
            expectNear(node->item->position(), end.tip(), 1e-5f, "its children follow");
        for (int k = 0; k < RiderSample::boneCount; ++k)
            EXPECT_EQ(rider.anim.getBoneByIndex(k)->angles, angles[size_t(k)]) << "no angle changes";
        // Bones outside the chain stay where the frame put them.
        for (int k : {0, 3, 8})
            expectNear(placements(rider.anim)[size_t(k)], animated[size_t(k)], 0.0f, "outside the chain");
    }

    // Without a bone, or disabled, nothing happens.
    for (int missing : {0, 1, 3}) {
        rider.anim.applyFrame(sit);
        const std::vector<matrix3d> before = placements(rider.anim);
        BoneAnim::PoseChain chain;
        rider.anim.getThreeBones(chain, 7, 6, missing == 3 ? 99 : 5);
        chain.enabled = missing == 0 ? 0 : 1;
        if (missing == 1)
            chain.bones[0] = nullptr;
        chain.target = chainTarget(vec3d(), vec3d(0, 0, 3));
        rider.anim.computePose(chain, matrix3d::identity());
        const std::vector<matrix3d> after = placements(rider.anim);
        for (size_t k = 0; k < before.size(); ++k)
            expectNear(after[k], before[k], 0.0f, "untouched");
    }
}

// The rider damaged many times over (fixed seed): the mesh stays consistent
// and its skeleton, if any, is whole enough to skin, bind and pose.
TEST(BoneAnim, FuzzedRiderNeverBreaksTheReader)
{
    const std::vector<uint8_t> bytes = bytesOf(MeshWriter::writeRecord, RiderSample::record());
    std::mt19937 random(2020);
    for (int round = 0; round < 600; ++round) {
        SCOPED_TRACE(testing::Message() << "round " << round);
        EntityMesh mesh(String(L"m"));
        decode(mesh, mutate(bytes, random), 4);
        expectConsistent(mesh);
        BoneAnim& anim = *mesh.getBoneAnim();
        ASSERT_LE(anim.countBones(), Bone::maxBones);
        mesh.applyBones();
        BoneAnim::Player player;
        player.anim = &anim;
        BoneAnim::selectAnimation(player, String(L"Sit"), false);
        if (player.current && player.current->frame(0))
            anim.applyFrame(*player.current->frame(0));
        BoneAnim::PoseChain chain;
        anim.getThreeBones(chain, 12, 11, 10);
        chain.enabled = 1;
        anim.computePose(chain, matrix3d::identity());
    }
}

}
