#include "FunctionsRecordWriter.h"

#include <utility>

namespace FunctionsRecordWriter {

namespace {

enum Code : uint32_t {
    spinCode = 1,
    value2Code = 2,
    value3Code = 3,
    farFieldCode = 4,
    value5Code = 5,
    value6Code = 6,
    value7Code = 7,
    quadPhysicsCode = 8,
    markSubEntitiesCode = 9,
    collectCode = 10,
    inventoryCode = 11,
    gateCode = 12,
    lensFlareCode = 13,
    compassCode = 14,
    clothsCode = 15,
    fireCode = 16,
    rocketCode = 17,
    oilPuddleCode = 18,
    bushCode = 19,
    value20Code = 20,
    alwaysShownCode = 21,
};

template <class T>
bool writeField(FileInterface& target, uint32_t code, const T& value)
{
    return target.writeValue(code) && target.writeValue(value);
}

bool writeBlock(FileInterface& target, uint32_t tag, const std::vector<uint8_t>& bytes)
{
    return target.writeValue(tag) && target.writeValue(uint32_t(bytes.size())) &&
           target.write(bytes.data(), uint32_t(bytes.size())) == bytes.size();
}

bool writeText(FileInterface& target, const std::string& text)
{
    return text.size() <= FileInterface::maxStoredStringLength && target.writeValue(uint32_t(text.size())) &&
           target.write(text.data(), uint32_t(text.size())) == text.size();
}

}

bool writeCollect(FileInterface& target, const Collect& collect)
{
    return writeField(target, 1, collect.value) && target.writeValue(uint32_t(0));
}

bool writeGate(FileInterface& target, const Gate& gate)
{
    return target.writeValue(uint32_t(1)) && writeText(target, gate.markerMesh) && target.writeValue(uint32_t(0));
}

bool writeQuadPhysics(FileInterface& target, const QuadPhysics& quad)
{
    static constexpr uint32_t roleTags[17] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 19, 27, 34, 35, 36};
    static constexpr uint32_t soundTags[9] = {20, 21, 22, 23, 24, 25, 26, 30, 33};
    const auto block = [&](uint32_t tag, const std::vector<uint8_t>& bytes) {
        return bytes.empty() || (target.writeValue(tag) && target.writeValue(uint32_t(bytes.size())) &&
                                 target.write(bytes.data(), uint32_t(bytes.size())) == bytes.size());
    };
    bool ok = true;
    for (size_t i = 0; ok && i < quad.roles.size(); ++i)
        ok = target.writeValue(roleTags[i]) && writeText(target, quad.roles[i]);
    ok = ok && writeField(target, 13, quad.rearSpring) && writeField(target, 14, quad.rearDamper) &&
         writeField(target, 15, quad.frontSpring) && writeField(target, 16, quad.frontDamper) &&
         writeField(target, 17, quad.parameter6) && writeField(target, 18, quad.parameter3);
    for (size_t i = 0; ok && i < quad.sounds.size(); ++i)
        ok = block(soundTags[i], quad.sounds[i]);
    ok = ok && target.writeValue(uint32_t(28)) && writeText(target, quad.dustPath) && block(29, quad.dust);
    ok = ok && target.writeValue(uint32_t(31)) && writeText(target, quad.dirtPath) && block(32, quad.dirt);
    return ok && target.writeValue(uint32_t(0));
}

bool writeFire(FileInterface& target, const Fire& fire)
{
    bool ok = true;
    for (size_t i = 0; ok && i < fire.flames.size(); ++i) {
        const Fire::Flame& f = fire.flames[i];
        ok = writeField(target, 1, f.position) && writeField(target, 2, f.angles) && writeField(target, 3, f.scale);
        for (uint32_t k = 0; ok && k < 6; ++k)
            ok = writeField(target, 4 + k, f.look[k]);
        if (ok && !f.sound.empty())
            ok = writeField(target, 10, f.soundType) && target.writeValue(uint32_t(f.sound.size())) &&
                 target.write(f.sound.data(), uint32_t(f.sound.size())) == f.sound.size();
        ok = ok && writeField(target, 12, f.burningAtStart);
        if (ok && i + 1 < fire.flames.size())
            ok = writeField(target, 11, uint32_t(1));
        ok = ok && target.writeValue(uint32_t(0));
    }
    return ok;
}

bool writeOilPuddle(FileInterface& target, const OilPuddle&)
{
    return target.writeValue(uint32_t(0));
}

bool writeRocket(FileInterface& target, const Rocket& rocket)
{
    bool ok = true;
    for (uint32_t i = 0; ok && i < 3; ++i) {
        ok = target.writeValue(1 + 2 * i) && writeText(target, rocket.imageNames[i]);
        if (ok && !rocket.images[i].empty())
            ok = writeBlock(target, 2 + 2 * i, rocket.images[i]);
    }
    for (uint32_t i = 0; ok && i < 4; ++i)
        if (!rocket.sounds[i].empty())
            ok = writeBlock(target, 7 + i, rocket.sounds[i]);
    return ok && target.writeValue(uint32_t(0));
}

bool writeSpin(FileInterface& target, const Spin& spin)
{
    bool ok = true;
    for (uint32_t i = 0; ok && i < spin.parameters.size(); ++i)
        ok = writeField(target, i + 1, spin.parameters[i]);
    return ok && target.writeValue(uint32_t(0));
}

bool writeInventory(FileInterface& target, const Inventory& inventory)
{
    return (inventory.sound.empty() || writeBlock(target, 1, inventory.sound)) && target.writeValue(uint32_t(0));
}

bool writeLensFlare(FileInterface& target, const LensFlare& lensFlare)
{
    bool ok = writeField(target, 1, uint32_t(lensFlare.flares.size())) && target.writeValue(uint32_t(2));
    for (size_t i = 0; ok && i < lensFlare.flares.size(); ++i) {
        const LensFlare::Flare& f = lensFlare.flares[i];
        ok = writeField(target, 1, f.position) && writeField(target, 2, f.angles) && writeField(target, 3, f.scale) &&
             writeField(target, 4, f.coneAngle) && writeField(target, 5, f.colour) && target.writeValue(uint32_t(0));
    }
    return ok && target.writeValue(uint32_t(0));
}

bool writeBush(FileInterface& target, const Bush& bush)
{
    bool ok = bush.sound.empty() || writeBlock(target, 1, bush.sound);
    ok = ok && target.writeValue(uint32_t(2)) && writeText(target, bush.leafPath);
    if (ok && !bush.leafImage.empty())
        ok = writeBlock(target, 3, bush.leafImage);
    ok = ok && writeField(target, 4, bush.position) && writeField(target, 5, bush.angles) &&
         writeField(target, 6, bush.scale);
    return ok && target.writeValue(uint32_t(0));
}

bool writeCloths(FileInterface& target, const Cloths& cloths)
{
    bool ok = target.writeValue(uint32_t(1)) && target.writeValue(cloths.columns) && target.writeValue(cloths.rows);
    const std::array<std::pair<uint32_t, std::array<int32_t, 2>>, 4> pins{
        {{2, cloths.pinA}, {3, cloths.pinB}, {16, cloths.pinC}, {17, cloths.pinD}}};
    for (const auto& [tag, pin] : pins)
        ok = ok && writeField(target, tag, pin);
    ok = ok && writeField(target, 4, cloths.pinLine) && writeField(target, 5, cloths.windAngle) &&
         writeField(target, 6, cloths.windStrength) && writeField(target, 7, cloths.windFromMotion) &&
         writeField(target, 8, cloths.damping) && writeField(target, 9, cloths.plane) &&
         writeField(target, 10, cloths.material);
    ok = ok && target.writeValue(uint32_t(11)) && writeText(target, cloths.textureName);
    if (ok && !cloths.image.empty())
        ok = writeBlock(target, 12, cloths.image);
    ok = ok && writeField(target, 13, cloths.position) && writeField(target, 14, cloths.angles) &&
         writeField(target, 15, cloths.scale) && writeField(target, 18, cloths.gravity);
    return ok && target.writeValue(uint32_t(0));
}

bool write(FileInterface& target, const Record& r)
{
    bool ok = writeField(target, value2Code, r.value2) && writeField(target, value3Code, r.value3) &&
              writeField(target, farFieldCode, r.farField) && writeField(target, value5Code, r.value5) &&
              writeField(target, value6Code, r.value6) && writeField(target, value7Code, r.value7) &&
              writeField(target, markSubEntitiesCode, r.markSubEntities) &&
              writeField(target, compassCode, r.compass) && writeField(target, value20Code, r.value20) &&
              writeField(target, alwaysShownCode, r.alwaysShown);
    if (ok && r.spin)
        ok = writeField(target, spinCode, uint32_t(1)) && writeSpin(target, *r.spin);
    if (ok && r.collect)
        ok = writeField(target, collectCode, uint32_t(1)) && writeCollect(target, *r.collect);
    if (ok && r.inventory)
        ok = writeField(target, inventoryCode, uint32_t(1)) && writeInventory(target, *r.inventory);
    if (ok && r.gate)
        ok = writeField(target, gateCode, uint32_t(1)) && writeGate(target, *r.gate);
    if (ok && r.lensFlare)
        ok = writeField(target, lensFlareCode, uint32_t(1)) && writeLensFlare(target, *r.lensFlare);
    if (ok && r.quadPhysics)
        ok = writeField(target, quadPhysicsCode, uint32_t(1)) && writeQuadPhysics(target, *r.quadPhysics);
    if (ok && r.cloths)
        ok = writeField(target, clothsCode, uint32_t(1)) && writeCloths(target, *r.cloths);
    if (ok && r.fire)
        ok = writeField(target, fireCode, uint32_t(1)) && writeFire(target, *r.fire);
    if (ok && r.rocket)
        ok = writeField(target, rocketCode, uint32_t(1)) && writeRocket(target, *r.rocket);
    if (ok && r.oilPuddle)
        ok = writeField(target, oilPuddleCode, uint32_t(1)) && writeOilPuddle(target, *r.oilPuddle);
    if (ok && r.bush)
        ok = writeField(target, bushCode, uint32_t(1)) && writeBush(target, *r.bush);
    return ok && target.writeValue(uint32_t(0));
}

}
