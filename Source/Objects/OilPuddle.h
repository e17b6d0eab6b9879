#pragma once
// The oil slick a vehicle drops: a ribbon of points laid along the dropper's
// path for 500 ms, each point's outline widening over about 100 frames and
// draped over the ground, drawn as a dark, reflective, see-through mesh.
// Wheels that stand on it lose their grip (the race asks hitTest for every
// wheel); a hit starts the sinking, after which the race removes the puddle.
//
// The template (function code 18) holds the index list of the ribbon's 16
// segments and the material; its block has no fields. Each dynamic object of
// the package gets one Instance (flag 0x2000), which places its owner itself.
// Main thread only.

#include "Objects/ObjectFuncInst.h"
#include "Objects/ObjectFunctions.h"

#include "Entity/EntityManager.h"

#include "Core/BoundingBox.h"
#include "Core/Vector.h"

#include <d3d9.h>

#include <cstdint>
#include <memory>

class DynObject;
class FileInterface;
class Scene;

class ObjPkgManager::Functions::OilPuddle final : public Template
{
public:
    class Instance;

    static constexpr uint32_t flag = 0x2000;
    static constexpr int32_t segments = 16;
    static constexpr int32_t trianglesPerSegment = 12;
    static constexpr int32_t indexCount = segments * trianglesPerSegment * 3;
    static constexpr int32_t verticesPerPoint = 7;

    // The index list and, with a device, its buffer.
    explicit OilPuddle(Record* owner);
    ~OilPuddle() override;

    // Passes over the tagged block (no tag carries a field). True when it
    // ended at its tag 0 or where the data ends.
    bool load(FileInterface& stream);

    // A new instance for owner (null when memory ran out).
    ObjectFuncInstInterface* createInstance(Scene* scene, D3D::Device::SwapChain* chain, DynObject* owner);

    // The editing page has nothing to set: OK and Cancel close it.
    INT_PTR handleDialogMessage(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) override;

    Record* record;
    uint16_t indices[indexCount] = {};
    IDirect3DIndexBuffer9* indexBuffer = nullptr;
    D3DMATERIAL9 material{};
};

class ObjPkgManager::Functions::OilPuddle::Instance final : public ObjectFuncInstInterface
{
public:
    static constexpr int32_t maxVertices = 256;
    // A segment joins two points: 17 points fill the 16 segments.
    static constexpr int32_t maxPoints = segments + 1;
    // Growing points spill while the count is below this.
    static constexpr int32_t growingLimit = 16;
    static constexpr uint32_t spillMilliseconds = 500;
    // Squared distance the dropper moves before the next point.
    static constexpr float spillDistanceSq = 80.0f;

    static constexpr int32_t lying = 0;
    static constexpr int32_t sinking = 1;
    static constexpr int32_t sunk = 2;

    // One point of the ribbon, relative to the owner: the centre, the left
    // and right outlines at a third, two thirds and the whole width, the
    // horizontal side direction and the ground normal.
    struct Point
    {
        vec3d centre;
        vec3d left[3];
        vec3d right[3];
        vec3d side;
        vec3d normal;
        float leftWidth = 0.0f;
        float rightWidth = 0.0f;
        float growth = 0.0f;
        uint32_t frozen = 0;
    };
    static_assert(sizeof(Point) == 124, "a puddle point is 31 floats");

    struct Vertex
    {
        vec3d position;
        vec3d normal;

        static constexpr DWORD format = D3DFVF_XYZ | D3DFVF_NORMAL;
    };
    static_assert(sizeof(Vertex) == 24, "puddle vertices are 24 bytes on the device");

    // The owner lies along the world axes at its position; an owner without
    // meshes enters the entity list here so that its passes reach it.
    Instance(OilPuddle& owningTemplate, Scene* scene, D3D::Device::SwapChain* chain, DynObject* owner);
    ~Instance() override;

    // Appends one point at the source's position (its side from the source's
    // first axis, random widths of 10 to 15, on the ground). A frozen point
    // lies 0.5 below the ground and never widens. False without a source or
    // owner, or when the segments are full.
    bool spill(bool frozen);

    // Whether a wheel at the world point stands on the oil: only inside the
    // box, for the dropper only once the puddle is final, and where the
    // ground there does not rise above the oil.
    bool hitTest(const vec3d& point, const EntityManager::Entity* tester) const;

    // With a source: spilling, growth, draping and the box until the puddle
    // is final; the sinking; the owner's placement and box.
    void update() override;
    bool replacesEntityUpdate() override { return true; }
    // Draws the ribbon (from two points on).
    void beforeRender(const matrix3d& transform) override;

    // True once the shape stopped changing.
    bool isFinal() const { return final != 0; }

    OilPuddle* owningTemplate;
    Scene* scene;
    D3D::Device::SwapChain* chain;
    DynObject* owner;
    // The dropping vehicle's entity; the puddle does nothing until it is set.
    EntityManager::Entity* source = nullptr;
    int32_t state = lying;
    Point points[maxPoints];
    int32_t pointCount = 0;
    uint32_t spillDeadline = 0;
    vec3d basePosition;
    float sinkProgress = 0.0f;
    uint32_t spillEnded = 0;
    std::unique_ptr<Vertex[]> vertices;
    IDirect3DVertexBuffer9* vertexBuffer = nullptr;
    int32_t vertexCount = 0;
    uint32_t final = 0;
    BoundingBox localBox{{}, 1.0f, 1.0f, {}, {}};
    BoundingBox worldBox{{}, 1.0f, 1.0f, {}, {}};

private:
    void grow(Point& point) const;
    void updateLocalBox();
    void buildVertices();
    void placeOwner();
};
