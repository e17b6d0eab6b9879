#include "Tree/Bough.h"

#include "Tree/TreeParameters.h"

#include "Core/DynArray.h"
#include "Core/Math.h"
#include "Core/RandomDraws.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

using BoneParam = Tree::Bough::Param::BoneParam;
using Level = BoneParam::Level;

constexpr float toRadians = 3.14159265358979323846f / 180.0f;
constexpr float toDegrees = 180.0f / 3.14159265358979323846f;
// Distances closer than this are one point of a bough.
constexpr float sameDistance = 0.001f;

// A uniform value in [0, 1] from one rand().
float uniform()
{
    return float(rand()) * (1.0f / 32767.0f);
}

// A count from a rounded value: NaN and values below 1 give 0, large ones max.
int32_t countOf(float x, int32_t max)
{
    if (!(x > 0.0f))
        return 0;
    return int32_t(std::min(x, float(max)));
}

float heldResolution(uint32_t resolution)
{
    return float(std::clamp(resolution, 1u, Tree::Bough::maxResolution));
}

bool finite(const vec3d& v)
{
    return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z);
}

bool finite(const vec2d& v)
{
    return std::isfinite(v.x) && std::isfinite(v.y);
}

// Whether every value the growth reads is finite and the trunk has a length.
bool growable(const Tree::Bough::Param& param)
{
    const BoneParam& b = param.bone;
    if (!(finite(b.origin) && finite(b.direction) && std::isfinite(b.extent) && b.extent > 0.0f &&
          std::isfinite(b.childCountExponent) && std::isfinite(b.startRadius) && std::isfinite(b.minRadius) &&
          std::isfinite(b.taperExponent) && std::isfinite(b.childPull) && std::isfinite(b.childWeightMin) &&
          std::isfinite(b.radiusReduction)))
        return false;
    for (const Level& l : b.levels)
        if (!(std::isfinite(l.nodeDensity) && std::isfinite(l.childZoneStart) && std::isfinite(l.childZoneEnd) &&
              std::isfinite(l.wobble) && std::isfinite(l.childDensity) && std::isfinite(l.endAtParentStart) &&
              std::isfinite(l.endAtParentEnd) && finite(l.growthBias) && finite(l.axis) && finite(l.angleStep) &&
              finite(l.angleBase) && finite(l.angleRange)))
            return false;
    const Tree::Bough::Param::RootParam& r = param.root;
    return std::isfinite(r.zone) && std::isfinite(r.thicknessMin) && std::isfinite(r.thicknessMax) &&
           std::isfinite(r.pushBase) && std::isfinite(r.pushTop) && std::isfinite(r.pushExponent) &&
           std::isfinite(r.pushRandom);
}

// One bough waiting to grow. The bough pointer is filled in when its parent
// is done and has made its children array.
struct GrowthEntry
{
    Tree::Bough* bough;
    vec3d origin;
    vec3d direction;
    float start;
    float radius;
    uint32_t hasChildren; // copied into the first bone
    float extent;         // the distance that bounds the bough
    uint32_t level;
    uint32_t depth;       // the trunk is 1
};

// Grows a hierarchy from a stack of entries, depth first, last child first.
class Growth
{
public:
    Growth(Tree::Bough& trunk, const Tree::Bough::Param& param) : trunk_(trunk), param_(param), bone_(param.bone) {}

    void run()
    {
        GrowthEntry first{&trunk_, bone_.origin, bone_.direction, 0.0f, bone_.startRadius, 0, bone_.extent, 0, 1};
        *stack_.at(0) = first;
        int32_t top = 0;
        while (top >= 0) {
            // The slot is reused by the first child this bough pushes.
            const GrowthEntry entry = *stack_.at(top);
            const int32_t pushed = grow(entry, top);
            top += pushed - 1;
        }
    }

private:
    // Grows one bough; its children's entries go to the stack from slot
    // `at` on. Returns how many were pushed.
    int32_t grow(const GrowthEntry& entry, int32_t at);
    float taper(float x) const;
    // Makes a child (or a mirrored pair) at the last bone, adding its
    // weighted directions to pull and its count to made.
    void makeChild(const GrowthEntry& entry, int32_t at, vec3d& pull, uint32_t& made);
    void push(int32_t slot, const GrowthEntry& entry);

    Tree::Bough& trunk_;
    const Tree::Bough::Param& param_;
    const BoneParam& bone_;
    DynArray<GrowthEntry> stack_{16};
    ArrayHeap<float> nodes_;
    ArrayHeap<float> childDistances_;
    uint32_t boughs_ = 1;

    // The bough being grown.
    Tree::Bough* bough_ = nullptr;
    const Level* growthLevel_ = nullptr; // wobble, bias, child angles, axis, pairs
    uint32_t counter_ = 0;               // the level of the children's record
    float start_ = 0.0f;
    float end_ = 0.0f;
    float radius_ = 0.0f;                // the running radius of the taper
    float yawSum_ = 0.0f;
    float pitchSum_ = 0.0f;
};

void Growth::push(int32_t slot, const GrowthEntry& entry)
{
    GrowthEntry* target = stack_.at(slot);
    if (target)
        *target = entry;
}

float Growth::taper(float x) const
{
    const float g = floatPow(std::max((end_ - x) / (end_ - start_), 0.0f), bone_.taperExponent);
    return g * radius_ + (1.0f - g) * bone_.minRadius;
}

int32_t Growth::grow(const GrowthEntry& entry, int32_t at)
{
    Tree::Bough& b = *entry.bough;
    bough_ = &b;
    const Level& rec = bone_.level(entry.level);
    const float start = entry.start;
    const float extent = entry.extent;
    const float t = start / extent;
    const float e = start + (extent - start) * (rec.endAtParentEnd * t + rec.endAtParentStart * (1.0f - t));
    b.end = e;
    if (!(std::isfinite(e) && e > start))
        return 0;

    const float resolution = heldResolution(rec.resolution);
    const bool isTrunk = &b == &trunk_;
    const int32_t fixed = param_.root.count != 0 && isTrunk
                              ? countOf(roundHalfDown(param_.root.zone * resolution), Tree::Bough::maxPicks)
                              : 0;
    const int32_t nodeCount = Tree::Bough::pickDistances(
        nodes_, countOf(roundHalfDown(resolution * rec.nodeDensity), Tree::Bough::maxPicks), resolution, 1.0f, e,
        start, e, 1, fixed);
    if (nodeCount == 0)
        return 0;

    // A bough that may not have children draws no child distances.
    const bool mayHaveChildren = entry.depth < Tree::Bough::maxDepth;
    int32_t childTotal = 0;
    if (mayHaveChildren)
        childTotal = Tree::Bough::pickDistances(
            childDistances_, countOf(roundHalfDown(resolution * rec.childDensity), Tree::Bough::maxPicks), resolution,
            bone_.childCountExponent, e, start + rec.childZoneStart * (e - start),
            start + rec.childZoneEnd * (e - start), 0, 0);

    counter_ = std::min(entry.level, 3u);
    growthLevel_ = &rec;
    start_ = start;
    end_ = e;
    radius_ = entry.radius;
    yawSum_ = 0.0f;
    pitchSum_ = 0.0f;

    if (!b.bones.resize(int32_t(Tree::Bough::maxBones)))
        return 0;
    *b.bones.at(0) = Tree::Bone{entry.origin, entry.direction, start, entry.radius, entry.hasChildren};
    b.boneCount = 1;
    b.childCount = 0;
    float p = start;
    int32_t next = 0;
    for (int32_t i = 0; i < nodeCount; ++i) {
        const float n = *nodes_.at(i);
        // The children made before this node pull its last bone.
        vec3d pull;
        uint32_t made = 0;
        bool full = false;
        while (next < childTotal) {
            const float c = *childDistances_.at(next);
            if (!(p - sameDistance < c && c < n - sameDistance))
                break;
            if (c > p + sameDistance) {
                if (!b.addBone(*b.bones.at(int32_t(b.boneCount) - 1), c, p, growthLevel_->wobble, taper(c),
                               growthLevel_->growthBias)) {
                    full = true;
                    break;
                }
                p = c;
            }
            makeChild(entry, at, pull, made);
            ++next;
        }
        if (full)
            break;
        if (made > 0) {
            Tree::Bone& last = *b.bones.at(int32_t(b.boneCount) - 1);
            last.direction =
                ((last.direction - pull * (bone_.childPull / float(made))) * 0.5f).normalised();
        }
        if (!b.addBone(*b.bones.at(int32_t(b.boneCount) - 1), n, p, growthLevel_->wobble, taper(n),
                       growthLevel_->growthBias))
            break;
        p = n;
        if (next == childTotal) {
            // The list ran dry: the children to come belong to the next level.
            counter_ = std::min(counter_ + 1, 3u);
            growthLevel_ = &bone_.level(counter_);
            const float steps = heldResolution(growthLevel_->resolution);
            const float whole = bone_.extent;
            next = 0;
            childTotal = 0;
            if (mayHaveChildren && boughs_ < Tree::Bough::maxBoughs)
                childTotal = Tree::Bough::pickDistances(
                    childDistances_,
                    countOf(roundHalfDown(steps * growthLevel_->childDensity), Tree::Bough::maxPicks), steps,
                    bone_.childCountExponent, whole, n + growthLevel_->childZoneStart * (whole - n),
                    n + growthLevel_->childZoneEnd * (whole - n), 0, 0);
        }
    }

    b.bones.resize(int32_t(b.boneCount));
    nodes_.deleteArray();
    childDistances_.deleteArray();
    const int32_t pushed = int32_t(b.childCount);
    if (!b.children.resize(pushed)) {
        b.childCount = 0;
        return 0;
    }
    for (int32_t j = 0; j < pushed; ++j) {
        GrowthEntry& child = *stack_.at(at + j);
        child.bough = b.children.at(j);
        child.bough->level = child.level;
    }
    return pushed;
}

void Growth::makeChild(const GrowthEntry& entry, int32_t at, vec3d& pull, uint32_t& made)
{
    Tree::Bough& b = *bough_;
    const Level& rec = *growthLevel_;
    const uint32_t needed = rec.pairs ? 2 : 1;
    if (boughs_ + needed > Tree::Bough::maxBoughs)
        return;

    Tree::Bone& bone = *b.bones.at(int32_t(b.boneCount) - 1);
    bone.hasChildren = 1;
    const vec3d& axis = rec.axis;
    const vec3d d = bone.direction;
    // Close to the axis, or for children on one plane, a swizzled reference.
    const float angle = floatAcos(std::clamp(d.dot(axis), -1.0f, 1.0f)) * toDegrees;
    const vec3d w = angle < 4.0f || bone_.halfTurnYaw ? vec3d(d.x, d.z, d.y) : d;
    const vec3d s = axis.cross(w).normalised();
    const vec3d t = s.cross(axis).normalised();

    float yaw;
    if (bone_.halfTurnYaw) {
        yaw = (rand() & 1) ? 180.0f : 0.0f;
    } else {
        yawSum_ += rec.angleStep.y;
        yaw = (0.5f - uniform()) * rec.angleRange.y + rec.angleBase.y + yawSum_;
    }
    pitchSum_ += rec.angleStep.x;
    const float pitch = (0.5f - uniform()) * rec.angleRange.x + rec.angleBase.x + pitchSum_;
    const float yawRad = yaw * toRadians;
    const float pitchRad = pitch * toRadians;
    const vec3d direction =
        axis * -floatSin(pitchRad) + (t * floatSin(yawRad) + s * floatCos(yawRad)) * floatCos(pitchRad);

    const float weight = (1.0f - bone_.childWeightMin) * uniform() + bone_.childWeightMin;
    const float q = 0.3f / (1.0f + weight);
    const float r = bone.radius;
    const float childRadius = std::max(r * (1.0f - q), bone_.minRadius);
    bone.radius = std::max(r * floatPow(q, 0.1f * bone_.radiusReduction), bone_.minRadius);
    // Held like the bone and child radii, so the taper never goes below the minimum.
    radius_ = std::max(radius_ * floatPow(q, bone_.radiusReduction), bone_.minRadius);

    const GrowthEntry child{nullptr,      bone.position, direction,   bone.distance,
                            childRadius,  0,             end_,        std::min(counter_ + 1, 3u),
                            entry.depth + 1};
    const float pullWeight = floatPow(weight, 2.0f);
    push(at + int32_t(b.childCount), child);
    ++b.childCount;
    ++made;
    ++boughs_;
    pull += direction * pullWeight;
    if (rec.pairs) {
        GrowthEntry mirrored = child;
        mirrored.direction = direction - s * (2.0f * direction.dot(s));
        push(at + int32_t(b.childCount), mirrored);
        ++b.childCount;
        ++made;
        ++boughs_;
        pull += mirrored.direction * pullWeight;
    }
}

} // namespace

void Tree::Bough::clear()
{
    bones.deleteArray();
    roots.deleteArray();
    nodes.deleteArray();
    children.deleteArray();
    boneCount = 0;
    nodeCount = 0;
    rootCount = 0;
    rootBoneCount = 0;
    childCount = 0;
}

void Tree::Bough::genBones(const Param& param)
{
    clear();
    level = 0;
    end = 0.0f;
    if (!growable(param))
        return;
    Growth(*this, param).run();
}

void Tree::Bough::genRoots(const Param& param)
{
    roots.deleteArray();
    rootCount = 0;
    rootBoneCount = 0;
    const Param::RootParam& rp = param.root;
    if (rp.count == 0 || !growable(param))
        return;
    const uint32_t count = std::min(rp.count, maxRoots);
    const float zone = rp.zone * param.bone.extent;
    uint32_t zoneBones = 0;
    while (zoneBones < boneCount && bones.at(int32_t(zoneBones))->distance < zone)
        ++zoneBones;
    if (!roots.resize(int32_t(count)))
        return;
    rootCount = count;
    rootBoneCount = zoneBones;

    int64_t angle = 0;
    for (uint32_t i = 0; i < count; ++i) {
        Root& root = *roots.at(int32_t(i));
        const float thickness = (rp.thicknessMax - rp.thicknessMin) * uniform() + rp.thicknessMin;
        // A range of 0 leaves nothing to draw.
        const int64_t random = rp.angleRange ? int64_t(uint32_t(rand()) % rp.angleRange) : 0;
        angle += int64_t(rp.angleRange / 2) - random + int64_t(rp.angleStep);
        const float turn = float(angle) * toRadians;
        const float c = floatCos(turn);
        const float s = floatSin(turn);
        const auto turned = [c, s](const vec3d& v) { return vec3d(v.x * c + v.z * s, v.y, -v.x * s + v.z * c); };
        if (!root.resize(int32_t(zoneBones))) {
            roots.deleteArray();
            rootCount = 0;
            rootBoneCount = 0;
            return;
        }
        for (uint32_t j = 0; j < zoneBones; ++j) {
            const Bone& trunkBone = *bones.at(int32_t(j));
            // A zone of one bone has nothing to blend towards.
            const float f = zoneBones > 1 ? floatPow(float(j) / float(zoneBones - 1), rp.pushExponent) : 0.0f;
            const vec3d out = turned(vec3d(-trunkBone.direction.y, trunkBone.direction.x, 0.0f).normalised());
            const float push =
                (rp.pushTop * f + rp.pushBase * (1.0f - f)) * (1.0f - rp.pushRandom / 2.0f + uniform() * rp.pushRandom);
            Bone& bone = *root.at(int32_t(j));
            bone.position = trunkBone.position + out * push;
            bone.direction = out * (1.0f - f) - turned(trunkBone.direction) * f;
            bone.distance = 0.0f;
            bone.radius = thickness;
            bone.hasChildren = 0;
        }
    }
}

int32_t Tree::Bough::pickDistances(ArrayHeap<float>& out, int32_t count, float resolution, float exponent,
                                   float extent, float low, float high, int32_t includeExtent, int32_t fixedCount)
{
    const int32_t withExtent = includeExtent ? 1 : 0;
    const float step = extent / resolution;
    const float first = roundHalfDown(low / step);
    const float last = roundHalfDown(high / step) - float(withExtent);
    if (!(std::isfinite(step) && step > 0.0f && std::isfinite(first) && std::isfinite(last) &&
          std::isfinite(exponent))) {
        out.deleteArray();
        return 0;
    }
    const float span = std::max(last, first) - first;
    const int32_t picked =
        countOf(roundHalfDown(floatPow(span / resolution, exponent) * float(std::max(count, 0))), maxPicks);
    const int32_t fixed = std::clamp(fixedCount, 0, maxPicks);

    // The random steps come after the fixed ones; when the fixed ones already
    // make up the count, or leave no steps to draw from, none are drawn.
    ArrayHeap<int> steps;
    int32_t draws = std::max(picked - fixed, 0);
    const float top = std::min(floatCeil(span) + 1.0f, float(INT_MAX / 2));
    if (draws > 0 && !fillRandomUnique(steps, fixed + 1, int(top), draws))
        draws = 0;

    const int32_t total = fixed + withExtent + draws;
    if (!out.resize(total)) {
        out.deleteArray();
        return 0;
    }
    const float base = first * step;
    float* values = out.data();
    int32_t n = 0;
    for (int32_t i = 1; i <= fixed; ++i)
        values[n++] = base + float(i) * step;
    if (withExtent)
        values[n++] = extent;
    for (int32_t i = 0; i < draws; ++i)
        values[n++] = base + float(*steps.at(i)) * step;
    std::sort(values, values + total);
    return total;
}

bool Tree::Bough::addBone(const Bone& previous, float distance, float previousDistance, float wobble, float radius,
                          const vec3d& bias)
{
    if (boneCount >= maxBones || boneCount >= uint32_t(bones.count()))
        return false;
    const float step = distance - previousDistance;
    const float amplitude = 1200.0f * wobble * (distance / end) * step / end;
    const float a1 = (0.5f - uniform()) * amplitude * toRadians;
    const float a2 = (0.5f - uniform()) * amplitude * toRadians;
    const float a3 = (0.5f - uniform()) * amplitude * toRadians;

    vec3d v = (previous.direction + bias).normalised() * step;
    v = vec3d(v.x * floatCos(a3) + v.z * floatSin(a3), v.y, -v.x * floatSin(a3) + v.z * floatCos(a3));
    v = vec3d(v.x, v.y * floatCos(a2) - v.z * floatSin(a2), v.y * floatSin(a2) + v.z * floatCos(a2));
    v = vec3d(v.x * floatCos(a1) - v.y * floatSin(a1), v.x * floatSin(a1) + v.y * floatCos(a1), v.z);

    Bone& added = *bones.at(int32_t(boneCount));
    added.position = previous.position + v;
    added.direction = v.normalised();
    added.distance = distance;
    added.radius = radius;
    added.hasChildren = 0;
    ++boneCount;
    return true;
}

uint32_t Tree::Bough::markOverlap(const Box& query)
{
    bool overlaps = true;
    for (int axis = 0; axis < 3; ++axis)
        overlaps = overlaps && query.minimum[axis] <= box.maximum[axis] && query.maximum[axis] >= box.minimum[axis];
    const uint32_t now = overlaps ? 1 : 0;
    uint32_t changed = now != hit ? 1 : 0;
    hit = now;
    for (uint32_t i = 0; i < childCount && i < uint32_t(children.count()) && !changed; ++i)
        changed = children.at(int32_t(i))->markOverlap(query);
    return changed;
}

bool Tree::Bough::read(FileInterface& stream)
{
    clear();
    std::vector<uint8_t> scratch;
    uint32_t boughs = 0;
    if (readRecord(stream, 1, 0, boughs, scratch))
        return true;
    clear();
    level = 0;
    end = 0.0f;
    return false;
}

namespace {

// Bones stored field by field, 36 bytes each.
bool readBones(FileInterface& stream, Tree::Bone* bones, uint32_t count, std::vector<uint8_t>& scratch)
{
    const uint32_t bytes = count * Tree::Bone::storedSize;
    scratch.resize(bytes);
    if (bytes && stream.read(scratch.data(), bytes) != bytes)
        return false;
    const uint8_t* at = scratch.data();
    for (uint32_t i = 0; i < count; ++i, at += Tree::Bone::storedSize) {
        Tree::Bone& bone = bones[i];
        std::memcpy(&bone.position.x, at + 0, 4);
        std::memcpy(&bone.position.y, at + 4, 4);
        std::memcpy(&bone.position.z, at + 8, 4);
        std::memcpy(&bone.direction.x, at + 12, 4);
        std::memcpy(&bone.direction.y, at + 16, 4);
        std::memcpy(&bone.direction.z, at + 20, 4);
        std::memcpy(&bone.distance, at + 24, 4);
        std::memcpy(&bone.radius, at + 28, 4);
        std::memcpy(&bone.hasChildren, at + 32, 4);
    }
    return true;
}

} // namespace

bool Tree::Bough::readRecord(FileInterface& stream, uint32_t depth, uint64_t reserved, uint32_t& boughs,
                             std::vector<uint8_t>& scratch)
{
    if (depth > maxDepth || ++boughs > maxBoughs)
        return false;
    uint32_t head[5];
    float storedEnd = 0.0f;
    for (uint32_t& value : head)
        if (!stream.readValue(value))
            return false;
    if (!stream.readValue(storedEnd))
        return false;
    const uint32_t bones = head[0], rootTotal = head[1], bonesPerRoot = head[2], childTotal = head[3];
    // Every count must fit the bytes left beside what the records after this
    // one take (a child record takes at least its 24-byte head); roots
    // without bones take none, so their number is held. A root follows the
    // trunk bones of the root zone, so it is no longer than the trunk.
    constexpr uint64_t headSize = 24;
    const uint64_t needed = uint64_t(bones) * Bone::storedSize +
                            uint64_t(rootTotal) * bonesPerRoot * Bone::storedSize + uint64_t(childTotal) * headSize;
    if (rootTotal > maxRoots || (rootTotal && bonesPerRoot > bones) || childTotal > maxBoughs - boughs ||
        needed + reserved > stream.remaining())
        return false;

    level = std::min(head[4], 3u);
    end = storedEnd;
    if (!this->bones.resize(int32_t(bones)) || !readBones(stream, this->bones.data(), bones, scratch))
        return false;
    boneCount = bones;
    if (!roots.resize(int32_t(rootTotal)))
        return false;
    rootCount = rootTotal;
    for (uint32_t i = 0; i < rootTotal; ++i) {
        Root& root = *roots.at(int32_t(i));
        if (!root.resize(int32_t(bonesPerRoot)) || !readBones(stream, root.data(), bonesPerRoot, scratch))
            return false;
    }
    rootBoneCount = rootTotal ? bonesPerRoot : 0;
    for (uint32_t i = 0; i < childTotal; ++i) {
        // Room doubles up to the count, ending at it exactly.
        if (i == uint32_t(children.count()) &&
            !children.resize(int32_t(std::min(childTotal, std::max(4u, 2 * i)))))
            return false;
        childCount = i + 1;
        if (!children.at(int32_t(i))->readRecord(stream, depth + 1, reserved + (childTotal - 1 - i) * headSize,
                                                 boughs, scratch))
            return false;
    }
    return true;
}
