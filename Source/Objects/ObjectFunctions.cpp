#include "Objects/ObjectFunctions.h"

#include "Objects/Bush.h"
#include "Objects/Cloths.h"
#include "Objects/Fire.h"
#include "Objects/Inventory.h"
#include "Objects/LensFlare.h"
#include "Objects/ObjectPackage.h"
#include "Objects/OilPuddle.h"
#include "Objects/Rocket.h"
#include "Objects/PackageFields.h"
#include "Objects/Spin.h"

#include "Vehicle/QuadPhysics.h"

#include "Core/CrashTrace.h"
#include "Core/FileInterface.h"

#include <new>

namespace {

using Functions = ObjPkgManager::Functions;

template <class T>
void discard(T*& made)
{
    delete made;
    made = nullptr;
}

// A template of kind T for record, taking the field's place, then its block.
template <class T>
bool readTemplate(Functions::Record& record, T*& field, FileInterface& stream)
{
    // A code given twice: the later template takes the field, the earlier goes.
    discard(field);
    field = new (std::nothrow) T(&record);
    // Without the template its block would be read as codes.
    return field && field->load(stream);
}

}

ObjPkgManager::Functions::Record::~Record()
{
    release();
}

void ObjPkgManager::Functions::Record::release()
{
    // The kinds the factory makes; the fields of the others stay null.
    discard(collect);
    discard(gate);
    discard(quadPhysics);
    discard(fire);
    discard(oilPuddle);
    discard(rocket);
    discard(spin);
    discard(inventory);
    discard(lensFlare);
    discard(bush);
    discard(cloths);
}

bool ObjPkgManager::Functions::createTemplates(Record& record, FileInterface& stream)
{
    CRASH_TRACE();
    record.release();
    uint32_t code = end;
    bool cut = false;
    while (stream.readTag(code, cut)) {
        bool read = true;
        switch (code) {
        case value2Code: read = stream.readValue(record.value2); break;
        case value3Code: read = stream.readValue(record.value3); break;
        case farFieldCode: read = stream.readValue(record.farField); break;
        case value5Code: read = stream.readValue(record.value5); break;
        case value6Code: read = stream.readValue(record.value6); break;
        case value7Code: read = stream.readValue(record.value7); break;
        case markSubEntitiesCode: read = stream.readValue(record.markSubEntities); break;
        case compassCode: read = stream.readValue(record.compass); break;
        case value20Code: read = stream.readValue(record.value20); break;
        case alwaysShownCode: read = stream.readValue(record.alwaysShown); break;
        case spinCode:
        case quadPhysicsCode:
        case collectCode:
        case inventoryCode:
        case gateCode:
        case lensFlareCode:
        case clothsCode:
        case fireCode:
        case rocketCode:
        case oilPuddleCode:
        case bushCode: {
            uint32_t present = 0;
            if (!stream.readValue(present))
                return false;
            if (present == 0)
                break;
            if (code == collectCode)
                read = readTemplate(record, record.collect, stream);
            else if (code == gateCode)
                read = readTemplate(record, record.gate, stream);
            else if (code == quadPhysicsCode)
                read = readTemplate(record, record.quadPhysics, stream);
            else if (code == fireCode)
                read = readTemplate(record, record.fire, stream);
            else if (code == oilPuddleCode)
                read = readTemplate(record, record.oilPuddle, stream);
            else if (code == rocketCode)
                read = readTemplate(record, record.rocket, stream);
            else if (code == spinCode)
                read = readTemplate(record, record.spin, stream);
            else if (code == inventoryCode)
                read = readTemplate(record, record.inventory, stream);
            else if (code == lensFlareCode)
                read = readTemplate(record, record.lensFlare, stream);
            else if (code == bushCode)
                read = readTemplate(record, record.bush, stream);
            else if (code == clothsCode)
                read = readTemplate(record, record.cloths, stream);
            else
                read = false; // a block of a kind not read here has no length to pass over
            break;
        }
        default: break; // codes above the last carry nothing
        }
        if (!read)
            return false;
    }
    return !cut;
}

bool ObjPkgManager::Functions::Collect::load(FileInterface& stream)
{
    return PackageFields::readBlock(stream, [&](uint32_t tag) { return tag != 1 || stream.readValue(value); });
}

bool ObjPkgManager::Functions::Gate::load(FileInterface& stream)
{
    return PackageFields::readBlock(stream, [&](uint32_t tag) {
        if (tag != 1)
            return true;
        // A name over the stored limit is passed over: no mesh then.
        String name(L"Unassigned");
        if (!PackageFields::readText(stream, name))
            return false;
        const bool unassigned = name.sameText(L"Unassigned", 10);
        mesh = unassigned || !record->package ? nullptr : record->package->findMesh(name);
        return true;
    });
}
