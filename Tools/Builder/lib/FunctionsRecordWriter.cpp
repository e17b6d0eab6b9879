#include "FunctionsRecordWriter.h"

namespace FunctionsRecordWriter {

namespace {

enum Code : uint32_t {
    value2Code = 2,
    value3Code = 3,
    farFieldCode = 4,
    value5Code = 5,
    value6Code = 6,
    value7Code = 7,
    quadPhysicsCode = 8,
    markSubEntitiesCode = 9,
    collectCode = 10,
    gateCode = 12,
    compassCode = 14,
    value20Code = 20,
    alwaysShownCode = 21,
};

template <class T>
bool writeField(FileInterface& target, uint32_t code, const T& value)
{
    return target.writeValue(code) && target.writeValue(value);
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

bool write(FileInterface& target, const Record& r)
{
    bool ok = writeField(target, value2Code, r.value2) && writeField(target, value3Code, r.value3) &&
              writeField(target, farFieldCode, r.farField) && writeField(target, value5Code, r.value5) &&
              writeField(target, value6Code, r.value6) && writeField(target, value7Code, r.value7) &&
              writeField(target, markSubEntitiesCode, r.markSubEntities) &&
              writeField(target, compassCode, r.compass) && writeField(target, value20Code, r.value20) &&
              writeField(target, alwaysShownCode, r.alwaysShown);
    if (ok && r.collect)
        ok = writeField(target, collectCode, uint32_t(1)) && writeCollect(target, *r.collect);
    if (ok && r.gate)
        ok = writeField(target, gateCode, uint32_t(1)) && writeGate(target, *r.gate);
    if (ok && r.quadPhysics)
        ok = writeField(target, quadPhysicsCode, uint32_t(1)) && writeQuadPhysics(target, *r.quadPhysics);
    return ok && target.writeValue(uint32_t(0));
}

}
