#pragma once
// The functions record of a package: the object functions its dynamic
// objects get, as plain values of the package and one template (the
// package-wide parameter set) per function kind. The package stream holds it
// as a run of entries, each a u32 code and the code's payload, with no
// length of its own:
//     0          end of the record
//     2-7, 9, 14, 20, 21   a value: 4 bytes into its field
//     1, 8, 10-13, 15-19   a template: a u32 present word; when non-zero the
//                          template's own parameter block follows
//     above 21   nothing; the next u32 is the next code
// Function kinds and the flag bits their instances carry:
//     0x1 Spin (code 1)       0x2 QuadPhysics (8)   0x4 VehicleCamera
//     0x8 Collect (10)        0x10 Inventory (11)   0x20 HUD
//     0x40 Gate (12)          0x80 LensFlare (13)   0x100 Compass
//     0x200 Cloths (15)       0x400 AI              0x800 Fire (16)
//     0x1000 Rocket (17)      0x2000 OilPuddle (18) 0x4000 Bush (19)
// Main thread only.

#include "Objects/ObjPkgManager.h"
#include "Objects/Template.h"

#include <cstdint>

class DynObject;
class FileInterface;

class ObjPkgManager::Functions
{
public:
    class Record;
    class BaseFuncEditor;
    class BaseFunction;
    class Collect;
    class Gate;
    class Spin;
    class QuadPhysics;
    class Inventory;
    class LensFlare;
    class Cloths;
    class Fire;
    class Rocket;
    class OilPuddle;
    class Bush;
    class VehicleCamera;
    class Compass;
    class HUD;
    class AI;
    class Path;

    enum Code : uint32_t {
        end = 0,
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
        lastCode = 21,
    };

    // Reads one functions record from stream into record, whose templates of
    // an earlier reading are deleted first. True when the record ended at
    // its code 0 or where the data ends between entries. False, keeping
    // what was read, when the data cuts an entry short, a template cannot be
    // made or its block is cut, or a template of a kind this build does not
    // read is present: its block carries no length to pass over, so nothing
    // after it can be read.
    static bool createTemplates(Record& record, FileInterface& stream);
};

class ObjPkgManager::Functions::Record
{
public:
    explicit Record(Package* owner) : package(owner) {}
    // release.
    ~Record();
    Record(const Record&) = delete;
    Record& operator=(const Record&) = delete;

    // Deletes every template that is set and forgets it; the values stay.
    void release();

    Package* package;
    // The swap chain of the scene whose manager listed the package.
    D3D::Device::SwapChain* swapChain = nullptr;
    uint32_t value2 = 1;
    uint32_t value3 = 0;
    // Non-zero: the package is drawn in the far field.
    uint32_t farField = 0;
    uint32_t value7 = 0;
    // Non-zero: the package's dynamic objects put their sub-entities on the
    // query level that ray and contact queries of level -1 still see.
    uint32_t markSubEntities = 0;
    // Non-zero: each object of the package gets a compass.
    uint32_t compass = 0;
    // Non-zero: objects of the package are never hidden by distance.
    uint32_t alwaysShown = 0;
    uint32_t hiddenOverride = 0;
    // The share of the camera's range within which objects come alive.
    float value5 = 0.7f;
    float value6 = 0.4f;
    float value20 = 0.08f;
    Spin* spin = nullptr;
    QuadPhysics* quadPhysics = nullptr;
    Collect* collect = nullptr;
    Inventory* inventory = nullptr;
    Gate* gate = nullptr;
    LensFlare* lensFlare = nullptr;
    Cloths* cloths = nullptr;
    Fire* fire = nullptr;
    Rocket* rocket = nullptr;
    OilPuddle* oilPuddle = nullptr;
    Bush* bush = nullptr;
};

// A pick-up: value is the item an inventory takes from it (1 to 5, 5 the
// carried flag). Its block: tag 1, a u32 into value.
class ObjPkgManager::Functions::Collect final : public Template
{
public:
    class Instance;

    explicit Collect(Record* owner) : record(owner) {}

    // Reads the tagged block (later tags carry no field). True when it
    // ended at its tag 0 or where the data ends between entries; false when
    // a field is cut.
    bool load(FileInterface& stream);
    // The pick-up instance of owner (Objects/CollectGate.h); null when memory
    // ran out.
    Instance* createInstance(DynObject* owner);

    // The editing page: the value as typed into its field.
    INT_PTR handleDialogMessage(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) override;

    Record* record;
    uint32_t value = 0;
};

// A gate: mesh is the package's mesh that marks it. Its block: tag 1, the
// mesh's name as a stored text ("Unassigned" for none).
class ObjPkgManager::Functions::Gate final : public Template
{
public:
    class Instance;

    explicit Gate(Record* owner) : record(owner) {}

    // Reads the tagged block (later tags carry no field); tag 1 looks the
    // mesh up in the record's package (null for "Unassigned" or a name no
    // mesh has). True when it ended at its tag 0 or where the data ends
    // between entries; false when a field is cut.
    bool load(FileInterface& stream);
    // The gate instance of owner, drawn by swapChain (Objects/CollectGate.h);
    // null when memory ran out.
    Instance* createInstance(D3D::Device::SwapChain* swapChain, DynObject* owner);

    // The editing page: the marker mesh's name, and a request that the
    // level editor pick another (pickRequest).
    INT_PTR handleDialogMessage(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) override;
    // The mesh's name in the page, "Keine Auswahl" without one.
    void showMeshName(HWND dialog) const;

    Record* record;
    Mesh* mesh = nullptr;
    uint32_t pickRequest = 0;
};
