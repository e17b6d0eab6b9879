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
    return ok && target.writeValue(uint32_t(0));
}

}
