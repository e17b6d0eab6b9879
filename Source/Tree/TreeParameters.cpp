#include "Tree/TreeParameters.h"

#include "Core/Math.h"

#include <algorithm>
#include <cmath>

// Each block reads one field per known tag and passes over unknown tags as
// single bytes (readField answers true without reading). A failed field read
// ends the block with the field unchanged.

// Boughs of level 1 and deeper sprout children along their whole length;
// levels 2 and 3 only on their outer half, and they rise less.
Tree::Bough::Param::BoneParam::Level::Level(uint32_t level)
    : childZoneStart(level >= 2 ? 0.5f : 0.2f), childZoneEnd(level >= 1 ? 1.0f : 0.3f),
      childDensity(level >= 1 ? 0.5f : 0.4f), growthBias(0.0f, level >= 2 ? 0.2f : 0.35f, 0.0f)
{
}

void Tree::Bough::Param::BoneParam::Level::read(FileInterface& stream)
{
    uint8_t tag;
    while (nextTag(stream, tag) && readField(stream, tag)) {
    }
}

bool Tree::Bough::Param::BoneParam::Level::readField(FileInterface& s, uint8_t tag)
{
    switch (tag) {
    case 1: return s.readValue(resolution);
    case 2: return s.readValue(nodeDensity);
    case 3: return s.readValue(childZoneStart);
    case 4: return s.readValue(childZoneEnd);
    case 5: return s.readValue(wobble);
    case 6: return s.readValue(childDensity);
    case 7: return s.readValue(endAtParentStart);
    case 8: return s.readValue(endAtParentEnd);
    case 9: return s.readValue(growthBias);
    case 10: return s.readValue(axis);
    case 11: return s.readValue(angleStep);
    case 12: return s.readValue(angleBase);
    case 13: return s.readValue(angleRange);
    case 14: return s.readValue(pairs);
    case 15: return s.readValue(ribbon);
    case 16: return s.readValue(cap);
    default: return true;
    }
}

bool Tree::Bough::Param::BoneParam::Level::write(FileInterface& s) const
{
    return put(s, 1, resolution) && put(s, 2, nodeDensity) && put(s, 3, childZoneStart) && put(s, 4, childZoneEnd) &&
           put(s, 5, wobble) && put(s, 6, childDensity) && put(s, 7, endAtParentStart) &&
           put(s, 8, endAtParentEnd) && put(s, 9, growthBias) && put(s, 10, axis) && put(s, 11, angleStep) &&
           put(s, 12, angleBase) && put(s, 13, angleRange) && put(s, 14, pairs) && put(s, 15, ribbon) &&
           put(s, 16, cap) && putEnd(s);
}

void Tree::Bough::Param::BoneParam::read(FileInterface& stream)
{
    uint8_t tag;
    while (nextTag(stream, tag) && readField(stream, tag)) {
    }
}

bool Tree::Bough::Param::BoneParam::readField(FileInterface& s, uint8_t tag)
{
    switch (tag) {
    case 1: return s.readValue(origin);
    case 2: return s.readValue(direction);
    case 3: return s.readValue(extent);
    case 4: return s.readValue(childCountExponent);
    case 5: return s.readValue(startRadius);
    case 6: return s.readValue(minRadius);
    case 7: return s.readValue(taperExponent);
    case 8: return s.readValue(childPull);
    case 9: return s.readValue(childWeightMin);
    case 10: return s.readValue(radiusReduction);
    case 11: return s.readValue(halfTurnYaw);
    case 12:
        // Four level blocks back to back under one tag.
        for (Level& record : levels)
            record.read(s);
        return true;
    case 13: return s.readValue(finCount);
    default: return true;
    }
}

bool Tree::Bough::Param::BoneParam::write(FileInterface& s) const
{
    if (!(put(s, 1, origin) && put(s, 2, direction) && put(s, 3, extent) && put(s, 4, childCountExponent) &&
          put(s, 5, startRadius) && put(s, 6, minRadius) && put(s, 7, taperExponent) && put(s, 8, childPull) &&
          put(s, 9, childWeightMin) && put(s, 10, radiusReduction) && put(s, 11, halfTurnYaw) &&
          s.writeValue(uint8_t(12))))
        return false;
    for (const Level& record : levels)
        if (!record.write(s))
            return false;
    return put(s, 13, finCount) && putEnd(s);
}

void Tree::Bough::Param::MeshParam::read(FileInterface& stream)
{
    uint8_t tag;
    while (nextTag(stream, tag) && readField(stream, tag)) {
    }
}

bool Tree::Bough::Param::MeshParam::readField(FileInterface& s, uint8_t tag)
{
    switch (tag) {
    case 1: return s.readValue(ringVertexCount);
    case 2: return s.readValue(ribbonWidthStart);
    case 3: return s.readValue(ribbonWidthEnd);
    case 4: return s.readValue(fixedRingShare);
    case 5: return s.readValue(directionThreshold);
    case 6: return s.readValue(radiusShrink);
    case 7: return s.readValue(barkRoughness);
    case 8: return s.readValue(textureOffsetU);
    case 9: return s.readValue(textureRepeat);
    case 10: return s.readValue(textureExponent);
    default: return true;
    }
}

bool Tree::Bough::Param::MeshParam::write(FileInterface& s) const
{
    return put(s, 1, ringVertexCount) && put(s, 2, ribbonWidthStart) && put(s, 3, ribbonWidthEnd) &&
           put(s, 4, fixedRingShare) && put(s, 5, directionThreshold) && put(s, 6, radiusShrink) &&
           put(s, 7, barkRoughness) && put(s, 8, textureOffsetU) && put(s, 9, textureRepeat) &&
           put(s, 10, textureExponent) && putEnd(s);
}

void Tree::Bough::Param::RootParam::read(FileInterface& stream)
{
    uint8_t tag;
    while (nextTag(stream, tag) && readField(stream, tag)) {
    }
}

bool Tree::Bough::Param::RootParam::readField(FileInterface& s, uint8_t tag)
{
    switch (tag) {
    case 1: return s.readValue(count);
    case 2: return s.readValue(ringVertexCount);
    case 3: return s.readValue(vertexBlendExponent);
    case 4: return s.readValue(fixedRingShare);
    case 5: return s.readValue(ringStepExponent);
    case 6: return s.readValue(zone);
    case 7: return s.readValue(thicknessMin);
    case 8: return s.readValue(thicknessMax);
    case 9: return s.readValue(pushBase);
    case 10: return s.readValue(pushTop);
    case 11: return s.readValue(pushExponent);
    case 12: return s.readValue(pushRandom);
    case 13: return s.readValue(angleStep);
    case 14: return s.readValue(angleRange);
    default: return true;
    }
}

bool Tree::Bough::Param::RootParam::write(FileInterface& s) const
{
    return put(s, 1, count) && put(s, 2, ringVertexCount) && put(s, 3, vertexBlendExponent) &&
           put(s, 4, fixedRingShare) && put(s, 5, ringStepExponent) && put(s, 6, zone) && put(s, 7, thicknessMin) &&
           put(s, 8, thicknessMax) && put(s, 9, pushBase) && put(s, 10, pushTop) && put(s, 11, pushExponent) &&
           put(s, 12, pushRandom) && put(s, 13, angleStep) && put(s, 14, angleRange) && putEnd(s);
}

void Tree::Bough::Param::read(FileInterface& stream)
{
    uint8_t tag;
    while (nextTag(stream, tag) && readField(stream, tag)) {
    }
}

bool Tree::Bough::Param::readField(FileInterface& s, uint8_t tag)
{
    switch (tag) {
    case 1: bone.read(s); return true;
    case 2: mesh.read(s); return true;
    case 3: root.read(s); return true;
    default: return true;
    }
}

bool Tree::Bough::Param::write(FileInterface& s) const
{
    return s.writeValue(uint8_t(1)) && bone.write(s) && s.writeValue(uint8_t(2)) && mesh.write(s) &&
           s.writeValue(uint8_t(3)) && root.write(s) && putEnd(s);
}

void Tree::Bough::ObjectParam::read(FileInterface& stream)
{
    uint8_t tag;
    while (nextTag(stream, tag) && readField(stream, tag)) {
    }
}

bool Tree::Bough::ObjectParam::readField(FileInterface& s, uint8_t tag)
{
    switch (tag) {
    case 1: return s.readValue(zoneStart);
    case 2: return s.readValue(zoneEnd);
    case 3: return s.readValue(density);
    case 4: return s.readValue(resolution);
    case 5: return s.readValue(single);
    case 6: return s.readValue(atEnd);
    case 7: return s.readValue(frameMode);
    case 8: return s.readValue(scale);
    case 9: return s.readValue(centreOffset);
    case 10: return s.readValue(referenceAxis);
    case 11: return s.readValue(angleRange);
    case 12: return s.readValue(tintRange);
    case 13: return s.readValue(scaleRange);
    case 14: return s.readValue(axisOffset);
    case 15: return s.readValue(endValue);
    case 16: return s.readValue(placementValue);
    case 17: return s.readValue(tint);
    case 18: return s.readValue(baseAngles);
    case 19: return s.readValue(angleStep);
    default: return true;
    }
}

bool Tree::Bough::ObjectParam::write(FileInterface& s) const
{
    return put(s, 1, zoneStart) && put(s, 2, zoneEnd) && put(s, 3, density) && put(s, 4, resolution) &&
           put(s, 5, single) && put(s, 6, atEnd) && put(s, 7, frameMode) && put(s, 8, scale) &&
           put(s, 9, centreOffset) && put(s, 10, referenceAxis) && put(s, 11, angleRange) &&
           put(s, 12, tintRange) && put(s, 13, scaleRange) && put(s, 14, axisOffset) && put(s, 15, endValue) &&
           put(s, 16, placementValue) && put(s, 17, tint) && put(s, 18, baseAngles) && put(s, 19, angleStep) &&
           putEnd(s);
}

int32_t Tree::Bough::ObjectParam::getCount() const
{
    const float steps = float(resolution < 1 ? 1 : resolution > Bough::maxResolution ? Bough::maxResolution : resolution);
    const float count = roundHalfDown(steps * density);
    // Also false for NaN.
    if (!(count > 0.0f))
        return 0;
    return int32_t(std::min(count, float(maxCount)));
}

void Tree::Branch::Param::Shape::read(FileInterface& s)
{
    uint8_t tag;
    while (nextTag(s, tag))
        if (tag <= values.size() && !s.readValue(values[tag - 1]))
            return;
}

bool Tree::Branch::Param::Shape::write(FileInterface& s) const
{
    for (uint8_t i = 0; i < values.size(); ++i)
        if (!put(s, uint8_t(i + 1), values[i]))
            return false;
    return putEnd(s);
}

Tree::Branch::Param::Param()
{
    leaves.kindCount = 0;
}

void Tree::Branch::Param::read(FileInterface& stream)
{
    uint8_t tag;
    while (nextTag(stream, tag) && readField(stream, tag)) {
    }
}

bool Tree::Branch::Param::readField(FileInterface& s, uint8_t tag)
{
    switch (tag) {
    case 1: Bough::Param::read(s); return true;
    case 2: return s.readValue(cardKind);
    case 3: return s.readValue(pictureSize);
    case 4: return s.readValue(textureLoaderValue);
    case 5: return s.readValue(fadeColor);
    case 6: leaves.read(s); return true;
    case 7: return s.readValue(lightAngles);
    case 8: return s.readValue(ambient);
    case 9: return s.readValue(diffuse);
    case 10: shape.read(s); return true;
    case 11: return s.readValue(shapeRange);
    case 12: return s.readValue(cardGrid);
    default: return true;
    }
}

bool Tree::Branch::Param::write(FileInterface& s) const
{
    return s.writeValue(uint8_t(1)) && Bough::Param::write(s) && put(s, 2, cardKind) && put(s, 3, pictureSize) &&
           put(s, 4, textureLoaderValue) && put(s, 5, fadeColor) && s.writeValue(uint8_t(6)) && leaves.write(s) &&
           put(s, 7, lightAngles) && put(s, 8, ambient) && put(s, 9, diffuse) && s.writeValue(uint8_t(10)) &&
           shape.write(s) && put(s, 11, shapeRange) && put(s, 12, cardGrid) && putEnd(s);
}

Tree::Foliage::Param::Param()
{
    scale = {3.0f, 3.0f, 3.0f};
}

void Tree::Foliage::Param::read(FileInterface& stream)
{
    ObjectParam::read(stream);
    uint8_t tag;
    while (nextTag(stream, tag) && readField(stream, tag)) {
    }
}

bool Tree::Foliage::Param::readField(FileInterface& s, uint8_t tag)
{
    switch (tag) {
    case 1: branch.read(s); return true;
    case 2: return s.readValue(ambient);
    case 3: return s.readValue(diffuse);
    case 4: return s.readValue(textureStored);
    case 5: return s.readValue(color);
    default: return true;
    }
}

bool Tree::Foliage::Param::write(FileInterface& s) const
{
    return ObjectParam::write(s) && s.writeValue(uint8_t(1)) && branch.write(s) && put(s, 2, ambient) &&
           put(s, 3, diffuse) && put(s, 4, textureStored) && put(s, 5, color) && putEnd(s);
}

void Tree::Branch::Leaf::Param::read(FileInterface& stream)
{
    uint8_t tag;
    while (nextTag(stream, tag) && readField(stream, tag)) {
    }
}

bool Tree::Branch::Leaf::Param::readField(FileInterface& s, uint8_t tag)
{
    switch (tag) {
    case 1: return s.readValue(color);
    case 2: return s.readValue(segments);
    case 3: return s.readValue(bends);
    case 4: return s.readValue(bendRange);
    default: return true;
    }
}

bool Tree::Branch::Leaf::Param::write(FileInterface& s) const
{
    return put(s, 1, color) && put(s, 2, segments) && put(s, 3, bends) && put(s, 4, bendRange) && putEnd(s);
}
