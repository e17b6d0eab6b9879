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
