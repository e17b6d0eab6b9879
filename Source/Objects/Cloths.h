#pragma once
// The cloth function: a flag, a banner or an awning that hangs from pinned
// grid points and moves in the wind.
//
// The template (function code 15) holds the cloth's grid, pins, wind,
// material and image; each dynamic object of the package gets one Instance
// (flag 0x200): a mass-spring grid stepped every 20 ms on the worker of the
// object package manager's thread manager and drawn by the main thread from
// the two-sided vertex array the step writes. Its block, a tagged stream:
//     1 grid size: columns, rows (i32 x 2)    2, 3, 16, 17 pins A, B, C, D
//     4 pin line flag   5 wind angle (degrees)   6 wind strength
//     7 wind from motion flag   8 damping   9 plane (6, 7 or 8)
//     10 material (17 f32)   11 texture name (a stored text)
//     12 image file as a sized block   13 position, 14 angles (vec3d)
//     15 uniform scale (f32)   18 gravity
//
// Threads: the template and every instance operation run on the main thread,
// except Instance::cycle (the step), which the worker calls. The worker is
// held while an instance attaches, detaches or rebuilds; the scene's camera
// step resumes it. What the step reads of the owner, and the bounds it
// writes, cross between the threads in atomic words; so do the template's
// wind, damping and gravity, which the page changes while the worker steps.
// The vertex array is drawn as the worker last wrote it, without a lock.

#include "Objects/BaseFunction.h"
#include "Objects/ObjectFuncInst.h"
#include "Objects/ObjectFunctions.h"

#include "Application/DialogTools.h"
#include "Entity/EntityManager.h"

#include <TextureRecord.h>

#include "Core/ArrayHeap.h"
#include "Core/ArrayStack.h"
#include "Core/Color.h"
#include "Core/FileArray.h"
#include "Core/String.h"
#include "Core/ThreadManager.h"
#include "Core/Vector.h"

#include <d3d9.h>

#include <atomic>
#include <cstdint>
#include <memory>

class DynObject;
class FileInterface;

static_assert(sizeof(D3DMATERIAL9) == 68, "the stored material is 17 f32");

class ObjPkgManager::Functions::Cloths final : public BaseFunction, public Template
{
public:
    class Instance;

    static constexpr uint32_t flag = 0x200;
    // The grid's range, the editor's too: at least one cell, and
    // 2 x columns x rows vertices within 16-bit indices.
    static constexpr int32_t minGrid = 2;
    static constexpr int32_t maxGrid = 64;
    // Starting planes: x = 0, horizontal, vertical.
    static constexpr int32_t planeX = 6;
    static constexpr int32_t planeHorizontal = 7;
    static constexpr int32_t planeVertical = 8;

    struct GridPoint
    {
        int32_t column;
        int32_t row;
        bool operator==(const GridPoint&) const = default;
    };
    // One link of the rest table, by column and row offset (0 to 4 each).
    struct Spring
    {
        float restLength;
        float stiffness;
    };
    // What applySettings hands the editor: the placement's unit axes.
    struct Settings
    {
        vec3d position;
        vec3d axes[3];
        vec3d scale;
    };

    // The defaults, the rest table and the counts; the first template
    // starts the worker (startWorker).
    explicit Cloths(Record* owner);

    // Reads the tagged block (other tags carry no field), then the scale,
    // the placement and the grid size. True when it ended at its tag 0 or
    // where the data ends; false when a field is cut. A value that is not
    // finite (or absurdly large) keeps what the field held; the grid is
    // kept within minGrid to maxGrid, a block without a grid size gives the
    // smallest.
    bool load(FileInterface& stream);
    // Stores the grid size (each kept within minGrid to maxGrid), the counts,
    // and rebuilds the edited instance.
    void setGridSize(int32_t columns, int32_t rows);
    // The placement's scale, unit axes and position into settings, while an
    // instance is edited.
    void applySettings() override;
    // The edited instance rebuilt from the template (a plane, pin or image
    // change of the editor); nothing without one.
    void rebuildEdited();
    // A new cloth on owner drawn by chain; it becomes the edited instance.
    // Null when memory ran out.
    Instance* createInstance(D3D::Device::SwapChain* chain, DynObject* owner);
    // Starts the thread of `threads` when it does not run yet and marks it
    // running. A thread that runs (held or not) is left as it is.
    void startWorker();

    bool canMove() override { return true; }
    bool canRotate() override { return true; }
    bool canScale() override { return true; }

    // The page (ClothsEditor.cpp): grid, wind and material sliders, plane,
    // pins, the four material colours and the texture with its preview.
    // Grid, plane, pin and image changes rebuild the edited instance.
    INT_PTR handleDialogMessage(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) override;
    // The material's four colours as the page's swatches (each component
    // x 255, alpha included).
    void swatchesFromMaterial();

    // The manager whose worker steps the instances (the package manager's),
    // or null without one: the instances then step only when called.
    ThreadManager* threads = nullptr;
    Instance* edited = nullptr;
    int32_t columns = 18;
    int32_t rows = 16;
    GridPoint pinA{0, 0};
    GridPoint pinB{0, 15};
    GridPoint pinC{-1, -1};
    GridPoint pinD{-1, -1};
    uint32_t pinLine = 1;
    int32_t triangleCount = 0;
    int32_t vertexCount = 0;
    Spring rest[25];
    float windAngle = 0.0f;
    float windStrength = 0.6f;
    float damping = 0.3f;
    float specularPower = 15.0f;
    float gravity = 9.81f;
    uint32_t windFromMotion = 0;
    int32_t plane = planeVertical;
    // The editor's material buttons: diffuse, ambient, emissive, specular.
    Color swatches[4];
    D3DMATERIAL9 material;
    String textureName;
    FileArray image{4096};
    Settings settings;

    // The page's controls, bound at each opening: columns and rows, then
    // wind strength, wind angle, damping, specular power and gravity.
    DialogTools::IntSlider gridSliders[2];
    DialogTools::Slider sliders[5];
    // What the float sliders show; a moved one stores its value into the
    // template's field.
    float sliderValues[5] = {};
    // The colour chooser's custom colours: the four material colours first.
    ArrayStack<Color, 16> customColours;
    DialogTools::Bitmap preview;
    // Set while the page fills its edit fields, whose change notifications
    // then change nothing.
    uint32_t filling = 0;

private:
    void updateCounts();
};

class ObjPkgManager::Functions::Cloths::Instance final : public ObjectFuncInstInterface,
                                                         public ThreadManager::Interface
{
public:
    using Vertex = EntityManager::MeshVertex;
    static constexpr uint32_t vertexFormat = D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_TEX1;
    // Neighbours within this many columns and rows are linked.
    static constexpr int32_t linkRadius = 2;
    // Farther from the camera than this the cloth rests.
    static constexpr float stepDistance = 1000.0f;

    struct Link
    {
        float k;
        uint32_t stamp;
    };
    // One grid point. Links are indexed 12 + 5 column offset + row offset.
    struct Particle
    {
        vec3d position;
        vec3d velocity;
        vec3d dampedVelocity;
        vec3d normal;
        uint32_t pinned;
        Link links[25];
    };

    // Copies the material, builds the cloth, steps it once and joins the
    // template's worker.
    Instance(Cloths* cloths, D3D::Device::SwapChain* chain, EntityManager::Entity* owner);
    // Leaves the worker, frees the grid and the texture; the template edits
    // no instance afterwards when it edited this one.
    ~Instance() override;

    // The grid from the template: a rebuild (first false) holds the worker
    // first and leaves it held. False, with no grid, when memory ran out.
    bool build(bool first);
    // Frees the grid, leaving the worker first when detach is set.
    void release(bool detach);
    // Pins the grid points on the line from pin A to pin B (nothing when an
    // end lies outside the grid).
    void pinLine();
    // One time step. Unless first, nothing while the owner was last seen
    // outside the view or farther than stepDistance from the camera.
    void step(bool first);
    void cycle() override { step(false); }

    // The main thread's part of each frame: the owner's pose and visibility
    // for the worker, then the cloth's box into the owner's boxes.
    void updateBounds();
    void update() override { updateBounds(); }
    // The alpha of every colour of the material.
    void setAlpha(float alpha) override;
    void renderShadowCaster(const matrix3d& transform) override { afterRender(transform); }
    void afterRender(const matrix3d& transform) override { render(transform); }
    // The cloth with the template's placement on transform.
    void render(const matrix3d& transform);

    Particle& working(int32_t column, int32_t row) { return workingRecords[size_t(column) * rows + row]; }
    const Particle& readRecord(const Particle* buffer, int32_t column, int32_t row) const
    {
        return buffer[size_t(column) * rows + row];
    }
    // The box the last step gave, in the placement's frame.
    void bounds(vec3d& minimum, vec3d& maximum) const;

    Cloths* clothTemplate;
    D3D::Device::SwapChain* chain;
    EntityManager::Entity* owner;
    // Column-major grids: the authoritative records and the two buffers the
    // steps read and write in turn.
    std::unique_ptr<Particle[]> workingRecords;
    std::unique_ptr<Particle[]> bufferA;
    std::unique_ptr<Particle[]> bufferB;
    // Front face row-major (row x columns + column), then the back face.
    std::unique_ptr<Vertex[]> vertices;
    ArrayHeap<uint16_t> indices;
    int32_t indexCount = 0;
    TextureRef texture;
    D3DMATERIAL9 material;
    float phase = 0.0f;
    int32_t columns = 0;
    int32_t rows = 0;
    // Set by the race on the carried flag while the worker reads it.
    std::atomic<uint32_t> windFromMotion{0};
    vec3d previousOwnerPosition;
    uint8_t stamp = 0;

    // The owner as the main thread last saw it, for the worker: whether it
    // is stepped, its position, the inverse of its rotation (valid when the
    // rotation is not singular).
    std::atomic<uint32_t> inView{1};
    std::atomic<float> ownerPosition[3];
    std::atomic<float> ownerInverse[9];
    std::atomic<uint32_t> ownerInvertible{0};

    // The step's box (minimum, maximum), read by the main thread.
    std::atomic<float> boundsMinimum[3];
    std::atomic<float> boundsMaximum[3];

private:
    void observeOwner();
    vec3d windVector(float windK, float angle);
};
