#include "TreeStreamWriter.h"

#include "TextureBlockWriter.h"

#include <algorithm>
#include <cstdlib>

namespace TreeStreamWriter {

namespace {

bool writeBones(FileInterface& target, Tree::Bone* bones, uint32_t count)
{
    for (uint32_t i = 0; i < count; ++i) {
        const Tree::Bone& b = bones[i];
        const float fields[8] = {b.position.x,  b.position.y,  b.position.z, b.direction.x,
                                 b.direction.y, b.direction.z, b.distance,   b.radius};
        for (float f : fields)
            if (!target.writeValue(f))
                return false;
        if (!target.writeValue(b.hasChildren))
            return false;
    }
    return true;
}

bool writeTag(FileInterface& target, uint8_t tag)
{
    return target.writeValue(tag);
}

}

bool writeBough(FileInterface& target, Tree::Bough& bough)
{
    if (uint32_t(bough.bones.count()) < bough.boneCount || uint32_t(bough.roots.count()) < bough.rootCount ||
        uint32_t(bough.children.count()) < bough.childCount)
        return false;
    const uint32_t head[5] = {bough.boneCount, bough.rootCount, bough.rootBoneCount, bough.childCount, bough.level};
    for (uint32_t value : head)
        if (!target.writeValue(value))
            return false;
    if (!target.writeValue(bough.end) || !writeBones(target, bough.bones.data(), bough.boneCount))
        return false;
    for (uint32_t i = 0; i < bough.rootCount; ++i) {
        Tree::Bough::Root& root = *bough.roots.at(int32_t(i));
        if (uint32_t(root.count()) < bough.rootBoneCount || !writeBones(target, root.data(), bough.rootBoneCount))
            return false;
    }
    for (uint32_t i = 0; i < bough.childCount; ++i)
        if (!writeBough(target, *bough.children.at(int32_t(i))))
            return false;
    return true;
}

bool writeObjectInfo(FileInterface& target, const Tree::Bough::ObjectInfo& info)
{
    if (!writeTag(target, 1))
        return false;
    for (float value : info.transform.m)
        if (!target.writeValue(value))
            return false;
    return writeTag(target, 2) && target.writeValue(info.flip) && writeTag(target, 3) &&
           target.writeValue(info.tint.b) && target.writeValue(info.tint.g) && target.writeValue(info.tint.r) &&
           target.writeValue(info.tint.a) && writeTag(target, 4) && target.writeValue(info.kind) && writeTag(target, 0);
}

bool writeBranch(FileInterface& target, const Branch& branch)
{
    if (!(writeTag(target, 1) && target.writeValue(uint32_t(branch.leaves.size())) && writeTag(target, 2)))
        return false;
    for (const Leaf& leaf : branch.leaves) {
        if (!(writeTag(target, 1) && leaf.param.write(target)))
            return false;
        if (!leaf.image.empty() &&
            !(writeTag(target, 2) &&
              TextureBlockWriter::writeTextureBlock(target, 0, leaf.image.data(), uint32_t(leaf.image.size()))))
            return false;
        if (!writeTag(target, 0))
            return false;
    }
    if (!(writeTag(target, 3) && target.writeValue(uint32_t(branch.placements.size())) && writeTag(target, 4)))
        return false;
    for (const Tree::Bough::ObjectInfo& info : branch.placements)
        if (!writeObjectInfo(target, info))
            return false;
    if (branch.bough && !(writeTag(target, 5) && writeBough(target, *branch.bough)))
        return false;
    return writeTag(target, 0);
}

bool writeFoliage(FileInterface& target, const Foliage& foliage)
{
    if (!(writeTag(target, 1) && target.writeValue(uint32_t(foliage.name.size())) &&
          target.write(foliage.name.data(), uint32_t(foliage.name.size())) == foliage.name.size()))
        return false;
    if (!(writeTag(target, 2) && foliage.param.write(target) && writeTag(target, 3) &&
          writeBranch(target, foliage.branch)))
        return false;
    static const uint8_t countTags[3] = {4, 8, 10};
    for (uint32_t level = 0; level < 3; ++level) {
        if (!(writeTag(target, countTags[level]) && target.writeValue(uint32_t(foliage.placements[level].size())) &&
              writeTag(target, uint8_t(countTags[level] + 1))))
            return false;
        for (const Tree::Bough::ObjectInfo& info : foliage.placements[level])
            if (!writeObjectInfo(target, info))
                return false;
        if (level == 0) {
            if (!foliage.texture.empty() &&
                !(writeTag(target, 6) && TextureBlockWriter::writeTextureBlock(target, 0, foliage.texture.data(),
                                                                              uint32_t(foliage.texture.size()))))
                return false;
            if (!(writeTag(target, 7) && target.writeValue(foliage.automatic)))
                return false;
        }
    }
    return writeTag(target, 0);
}

bool write(FileInterface& target, const Content& content)
{
    static const uint8_t version[4] = {'v', '1', '.', '1'};
    if (target.write(version, 4) != 4)
        return false;
    if (!(writeTag(target, 1) && target.writeValue(content.ambient) && writeTag(target, 2) &&
          target.writeValue(content.diffuse) && writeTag(target, 3) && target.writeValue(content.tag3Value) &&
          writeTag(target, 4) && content.param.write(target)))
        return false;
    if (content.levels[0] && !(writeTag(target, 5) && writeBough(target, *content.levels[0])))
        return false;
    // The loader value before the image is passed over by the game.
    if (!content.bark.empty() &&
        !(writeTag(target, 6) &&
          TextureBlockWriter::writeTextureBlock(target, 0, content.bark.data(), uint32_t(content.bark.size()))))
        return false;
    if (!content.foliage.empty()) {
        if (!(writeTag(target, 7) && target.writeValue(uint32_t(content.foliage.size())) && writeTag(target, 8)))
            return false;
        for (const Foliage& foliage : content.foliage)
            if (!writeFoliage(target, foliage))
                return false;
    }
    if (!(writeTag(target, 9) && target.writeValue(content.seed)))
        return false;
    if (content.levels[1] && !(writeTag(target, 10) && writeBough(target, *content.levels[1])))
        return false;
    if (content.levels[2] && !(writeTag(target, 11) && writeBough(target, *content.levels[2])))
        return false;
    return writeTag(target, 0);
}

Tree::Bough::Param levelParameters(const Tree::Bough::Param& param, uint32_t level)
{
    Tree::Bough::Param result = param;
    if (level == 0)
        return result;
    // Twigs sprout from the lists of level 2 and 3 boughs.
    Tree::Bough::Param::BoneParam::Level* levels = result.bone.levels;
    levels[2].childDensity = 0.0f;
    levels[3].childDensity = 0.0f;
    const uint32_t divisor = level == 1 ? 2 : 4;
    for (uint32_t i = level == 1 ? 2 : 1; i < 4; ++i)
        levels[i].resolution = std::max(levels[i].resolution / divisor, 2u);
    return result;
}

void grow(const Tree::Bough::Param& param, uint32_t seed, Tree::Bough (&levels)[3])
{
    for (uint32_t level = 0; level < 3; ++level) {
        const Tree::Bough::Param p = levelParameters(param, level);
        srand(seed);
        levels[level].genBones(p);
        levels[level].genRoots(p);
    }
}

}
